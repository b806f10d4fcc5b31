// The rollback journal: the order of writes and syncs that lets a change
// made in place be undone after a kill or a power cut, and the undoing.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "host/journal.h"
#include "host/replacefile.h"
#include "volume/bytes.h"
#include "volume/image/sectormap.h"

enum { JOURNALMAXRECORDS = 65536 };

static const unsigned char magic[8] = {'D', 'C', 'P', 'J', 'R', 'N', 'L', 1};

// The CRC-32 tables: eight, for eight bytes a step.
static uint32_t crctable[8][256];

// The register after eight bytes at p, from register r.
static uint32_t crceight(uint32_t r, const unsigned char *p)
{
    uint32_t lo = r ^ ((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                       (uint32_t)p[3] << 24);
    return crctable[7][lo & 0xFF] ^ crctable[6][(lo >> 8) & 0xFF] ^
           crctable[5][(lo >> 16) & 0xFF] ^ crctable[4][lo >> 24] ^ crctable[3][p[4]] ^
           crctable[2][p[5]] ^ crctable[1][p[6]] ^ crctable[0][p[7]];
}

// The register r times the 32 x 32 bit matrix m (m[i]: the image of bit i).
static uint32_t crctimes(const uint32_t *m, uint32_t r)
{
    uint32_t out = 0;

    for (int i = 0; r; i++, r >>= 1)
        if (r & 1)
            out ^= m[i];
    return out;
}

// Fills the tables, and zeros[] with what 4 KB of zero bytes do to the
// register: zero bytes only shift it, a linear map, here one zero byte's
// squared twelve times.
static void crcsetup(uint32_t *zeros)
{
    uint32_t square[32];

    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crctable[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; i++)
        for (int t = 1; t < 8; t++)
            crctable[t][i] = crctable[0][crctable[t - 1][i] & 0xFF] ^ (crctable[t - 1][i] >> 8);
    for (int i = 0; i < 32; i++)
        zeros[i] = crctable[0][((uint32_t)1 << i) & 0xFF] ^ (((uint32_t)1 << i) >> 8);
    for (int k = 0; k < 12; k++) {
        for (int i = 0; i < 32; i++)
            square[i] = crctimes(zeros, zeros[i]);
        memcpy(zeros, square, sizeof square);
    }
}

// The CRC-32 (of zlib and PNG) of n bytes at p, continuing crc (0 to start).
// Eight bytes a step; a 4 KB block of zeros (most of a fresh disk's FAT
// and cylinder 0, which every change's fingerprint reads) in one step.
uint32_t journalcrc(uint32_t crc, const unsigned char *p, int64_t n)
{
    static uint32_t zeros[32];
    static const unsigned char none[JOURNALBLOCK] = {0};

    if (!crctable[0][1])
        crcsetup(zeros);
    crc = ~crc;
    for (; n >= JOURNALBLOCK; n -= JOURNALBLOCK, p += JOURNALBLOCK)
        if (memcmp(p, none, JOURNALBLOCK) == 0)
            crc = crctimes(zeros, crc);
        else
            for (int k = 0; k < JOURNALBLOCK; k += 8)
                crc = crceight(crc, p + k);
    for (; n >= 8; n -= 8, p += 8)
        crc = crceight(crc, p);
    while (n-- > 0)
        crc = crctable[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// The directory that holds block devices' journals: $XDG_STATE_HOME (or
// ~/.local/state), then dcptools, into out; 0 when neither is set.
static int statedirectory(char *out, size_t size)
{
    const char *state = getenv("XDG_STATE_HOME"), *home = getenv("HOME");

    if (state && state[0] == '/')
        return snprintf(out, size, "%s/dcptools", state) < (int)size;
    if (home && home[0] == '/')
        return snprintf(out, size, "%s/.local/state/dcptools", home) < (int)size;
    return 0;
}

// Where the journal of the image at image lies: IMAGE-journal beside a
// file. A block device (a real disk) has none beside it that outlives the
// power (/dev is in memory): its journal is a file of the host's, in the
// state directory, named after the device's own path (/dev/sdb:
// dev_sdb-journal). Beside it still when no state directory is set.
void journalpath(char *out, const char *image)
{
#ifndef _WIN32
    char real[PATH_MAX], dir[JOURNALPATHMAX - 80];
    struct stat st;

    if (stat(image, &st) == 0 && S_ISBLK(st.st_mode) && realpath(image, real) &&
        strlen(real) < 64 && statedirectory(dir, sizeof dir)) {
        for (char *c = real; *c; c++)
            *c = *c == '/' ? '_' : *c;
        snprintf(out, JOURNALPATHMAX, "%s/%.63s-journal", dir, real + 1);
        return;
    }
#endif
    snprintf(out, JOURNALPATHMAX, "%s-journal", image);
}

// Flushes f and asks the system to put what it holds on the disk (its
// data, and its size; not its times, which no rollback needs); 1 on success.
static int syncfile(FILE *f)
{
    if (fflush(f) != 0)
        return 0;
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;
#elif defined(__linux__)
    return fdatasync(fileno(f)) == 0;
#else
    return fsync(fileno(f)) == 0;
#endif
}

// Puts the directory that holds path on the disk, so that a name made or
// removed there survives a power cut (Windows does so of itself); 1 on success.
static int syncdirectory(const char *path)
{
#ifdef _WIN32
    (void)path;
    return 1;
#else
    char dir[JOURNALPATHMAX];
    const char *slash = strrchr(path, '/');
    int fd, ok;

    snprintf(dir, sizeof dir, "%.*s", slash ? (int)(slash - path) + 1 : 1, slash ? path : ".");
    if ((fd = open(dir, O_RDONLY)) < 0)
        return 0;
    ok = fsync(fd) == 0;
    close(fd);
    return ok;
#endif
}

// Closes a descriptor that no stream took.
static void closedescriptor(int fd)
{
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

// Cuts the image back to size bytes; 1 on success.
static int cutimage(FILE *image, int64_t size)
{
    if (fflush(image) != 0)
        return 0;
#ifdef _WIN32
    return _chsize_s(_fileno(image), size) == 0;
#else
    return ftruncate(fileno(image), (off_t)size) == 0;
#endif
}

// Reads the n bytes at at of f into buf, each run of them that lies in a
// hole as zeros without reading it: a created disk's free sectors are
// holes, and reading one makes the system fill pages (and read ahead more
// of them) only to find zeros. *allhole is set when every byte did, and
// buf is then left as it was. 1 on success.
static int readold(FILE *f, int64_t at, unsigned char *buf, int32_t n, int *allhole)
{
    int64_t pos = at, end = at + n;
    int ok = 1;

    *allhole = 0;
#if defined(SEEK_DATA) && !defined(_WIN32)
    int fd = fileno(f);
    off_t here = lseek(fd, 0, SEEK_CUR);

    if (here < 0)
        return 0;
    while (ok && pos < end) {
        off_t data = lseek(fd, (off_t)pos, SEEK_DATA), hole;
        // ENXIO: no data from pos on. Another failure: the system cannot
        // tell, and the rest is read.
        if (data < 0 && errno != ENXIO)
            break;
        int64_t from = data < 0 || data > end ? end : (int64_t)data;
        *allhole = from == end && pos == at;
        if (!*allhole)
            memset(buf + (pos - at), 0, (size_t)(from - pos));
        if ((pos = from) == end)
            break;
        hole = lseek(fd, (off_t)from, SEEK_HOLE);
        pos = hole < 0 || hole > end ? end : (int64_t)hole;
        ok = readat(f, from, buf + (from - at), (int32_t)(pos - from));
    }
    // The stream's position is put back where it was.
    if (lseek(fd, here, SEEK_SET) != here)
        return 0;
#endif
    return ok && (pos == end || readat(f, pos, buf + (pos - at), (int32_t)(end - pos)));
}

// Where the k-th fingerprint block of an image of size bytes starts: the
// first is the image's first 256 KB (a hard disk's header, table and first
// boot sectors, which tell two disks of one geometry apart), the others
// 4 KB each, spread over the rest.
static int64_t sampleat(int32_t k, int64_t size)
{
    return size / JOURNALSAMPLES * k / JOURNALBLOCK * JOURNALBLOCK;
}

// Where the k-th block's bytes lie among the samples.
static size_t sampleroom(int32_t k)
{
    return k == 0 ? 0 : JOURNALHEAD + (size_t)(k - 1) * JOURNALBLOCK;
}

// The bytes of the k-th fingerprint block.
static int32_t samplelen(int32_t k, int64_t size)
{
    int64_t left = size - sampleat(k, size), most = k == 0 ? JOURNALHEAD : JOURNALBLOCK;

    return left < most ? (int32_t)(left < 0 ? 0 : left) : (int32_t)most;
}

// The samples' bytes of the image as it is into s (JOURNALSAMPLES blocks);
// 1 unless a read fails.
static int readsamples(FILE *image, int64_t size, unsigned char *s)
{
    int allhole;

    for (int32_t k = 0; k < JOURNALSAMPLES; k++) {
        if (samplelen(k, size) > 0 &&
            !readold(image, sampleat(k, size), s + sampleroom(k), samplelen(k, size), &allhole))
            return 0;
        if (samplelen(k, size) > 0 && allhole)
            memset(s + sampleroom(k), 0, (size_t)samplelen(k, size));
    }
    return 1;
}

// The fingerprint of the samples in s of an image of size bytes.
static uint32_t fingerprint(const unsigned char *s, int64_t size)
{
    uint32_t crc = 0;

    for (int32_t k = 0; k < JOURNALSAMPLES; k++)
        crc = journalcrc(crc, s + sampleroom(k), samplelen(k, size));
    return crc;
}

// The fingerprint of the image as it is now, of size bytes, into *print:
// the samples read and summed a piece at a time through one small buffer
// (a change's start need not hold them all). 1 unless a read fails.
static int printofimage(FILE *image, int64_t size, uint32_t *print)
{
    static unsigned char piece[JOURNALBLOCK * 16];
    uint32_t crc = 0;
    int allhole;

    for (int32_t k = 0; k < JOURNALSAMPLES; k++)
        for (int32_t off = 0, n; off < samplelen(k, size); off += n) {
            n = samplelen(k, size) - off < (int32_t)sizeof piece ? samplelen(k, size) - off
                                                                 : (int32_t)sizeof piece;
            if (!readold(image, sampleat(k, size) + off, piece, n, &allhole))
                return 0;
            if (allhole)
                memset(piece, 0, (size_t)n);
            crc = journalcrc(crc, piece, n);
        }
    *print = crc;
    return 1;
}

// Makes the directories down to the one that holds path, where they are
// missing (the state directory of a block device's journal, the first
// time), each made one synced in its parent. 1 when it is there.
static int makeparents(const char *path)
{
#ifndef _WIN32
    char dir[JOURNALPATHMAX];

    snprintf(dir, sizeof dir, "%s", path);
    for (char *c = strchr(dir + 1, '/'); c; c = strchr(c + 1, '/')) {
        *c = '\0';
        if (mkdir(dir, 0700) == 0 && !syncdirectory(dir))
            return 0;
        *c = '/';
    }
#else
    (void)path;
#endif
    return 1;
}

// Creates the journal under a temporary name beside its place, exclusively
// (never a file or a link already there): its descriptor, or -1.
static int maketemp(journal *j)
{
    static unsigned serial;

    // A journal kept away from its image (a block device's) may be the
    // first in its directory.
    if (strncmp(j->path, j->imagepath, strlen(j->imagepath)) != 0 && !makeparents(j->path))
        return -1;

    for (int i = 0; i < 1000; i++) {
        int fd;
        tempname(j->temp, sizeof j->temp, j->path, (unsigned long)getpid(), &serial);
#ifdef _WIN32
        fd = _open(j->temp, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        fd = open(j->temp, O_WRONLY | O_CREAT | O_EXCL, 0644);
#endif
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Gives the journal, its header and first records synced, its name: from
// now on an opening of the image finds it. 1 on success.
static int namejournal(journal *j)
{
#ifdef _WIN32
    // Windows renames no file that is open: closed, renamed, opened again
    // to take the later batches' records.
    int ok = fclose(j->file) == 0;
    j->file = nullptr;
    if (!ok || MoveFileExA(j->temp, j->path, 0) == 0)
        return 0;
    j->named = 1;
    return (j->file = fopen(j->path, "ab")) != nullptr;
#else
    if (rename(j->temp, j->path) != 0)
        return 0;
#endif
    j->named = 1;
    return syncdirectory(j->path);
}

// Starts the journal of a change to image (at imagepath, opened for
// update): the journal made beside it, which must not exist yet, its
// header written. 1, or 0 with nothing made.
int journalstart(journal *j, FILE *image, const char *imagepath)
{
    unsigned char h[JOURNALHEADER];
    uint32_t print;
    int fd;

    j->image = image;
    j->ranges = j->used = 0;
    j->records = 0;
    j->named = 0;
    j->file = nullptr;
    journalpath(j->path, imagepath);
    snprintf(j->imagepath, sizeof j->imagepath, "%s", imagepath);
    if ((j->oldsize = filesizeof(image)) < 0 || !printofimage(image, j->oldsize, &print))
        return 0;
    // A journal of a change cut short stays until an opening rolls it back.
    if ((j->file = fopen(j->path, "rb")) != nullptr) {
        fclose(j->file);
        j->file = nullptr;
        return 0;
    }
    fd = maketemp(j);
    if (fd < 0 || !(j->file = fdopen(fd, "wb"))) {
        if (fd >= 0) {
            closedescriptor(fd);
            remove(j->temp);
        }
        return 0;
    }
    memset(h, 0, sizeof h);
    memcpy(h, magic, sizeof magic);
    setu32l(h + 8, (int32_t)(uint32_t)j->oldsize);
    setu32l(h + 12, (int32_t)(uint32_t)(j->oldsize >> 32));
    setu32l(h + 16, (int32_t)print);
    setu32l(h + JOURNALHEADER - 4, (int32_t)journalcrc(0, h, JOURNALHEADER - 4));
    if (fwrite(h, 1, sizeof h, j->file) != sizeof h) {
        fclose(j->file);
        remove(j->temp);
        return 0;
    }
    return 1;
}

// 1 when the n bytes at p are all zero.
static int allzero(const unsigned char *p, int32_t n)
{
    for (int32_t i = 0; i < n; i++)
        if (p[i])
            return 0;
    return 1;
}

// Writes the record of range r: its place, its old bytes (those inside the
// old file; none when they are all zero, as a disk's unused sectors are,
// and the count's top bit says so), their CRC. 1 on success.
static int writerecord(journal *j, const journalrange *r)
{
    unsigned char h[JOURNALRECORD - 4], crc[4];
    int64_t inside = j->oldsize - r->at;
    int32_t held = inside <= 0 ? 0 : inside < r->len ? (int32_t)inside : r->len, kept = 0;
    int allhole = 1;

    if (held > 0 && !readold(j->image, r->at, j->old, held, &allhole))
        return 0;
    if (!allhole)
        kept = allzero(j->old, held) ? 0 : held;
    setu32l(h, (int32_t)(uint32_t)r->at);
    setu32l(h + 4, (int32_t)(uint32_t)(r->at >> 32));
    setu32l(h + 8, r->len);
    setu32l(h + 12, (int32_t)((uint32_t)held | (kept ? 0 : JOURNALZEROS)));
    setu32l(crc, (int32_t)journalcrc(journalcrc(0, h, sizeof h), j->old, kept));
    return fwrite(h, 1, sizeof h, j->file) == sizeof h &&
           (int32_t)fwrite(j->old, 1, (size_t)kept, j->file) == kept &&
           fwrite(crc, 1, sizeof crc, j->file) == sizeof crc;
}

// Sends the batch to the image: first every range's record into the
// journal, synced (and, with the first records, the journal's name), then
// the ranges' new bytes. 1 on success.
static int flushbatch(journal *j)
{
    int ok = 1;

    if (j->ranges == 0)
        return 1;
    // A rollback reads this many records at most: a change of more fails
    // (and is rolled back) rather than leave some beyond its reach.
    if (j->records + j->ranges > JOURNALMAXRECORDS)
        return 0;
    for (int32_t i = 0; ok && i < j->ranges; i++)
        ok = writerecord(j, &j->range[i]);
    ok = ok && syncfile(j->file) && (j->named || namejournal(j));
    if (ok)
        j->records += j->ranges;
    for (int32_t i = 0; ok && i < j->ranges; i++) {
        const journalrange *r = &j->range[i];
        ok = seekfile(j->image, r->at) &&
             (int32_t)fwrite(j->batch + r->from, 1, (size_t)r->len, j->image) == r->len;
    }
    j->ranges = j->used = 0;
    return ok && fflush(j->image) == 0;
}

// 1 when a write at at continues the batch's last range, in the image and
// in the batch.
static int continues(const journal *j, int64_t at)
{
    const journalrange *last = j->ranges ? &j->range[j->ranges - 1] : nullptr;

    return last && last->at + last->len == at && last->from + last->len == j->used;
}

// Takes len bytes for image offset at into the batch, sending the batch
// whenever it is full; 1 on success.
int journalwrite(journal *j, int64_t at, const unsigned char *buf, int32_t len)
{
    while (len > 0) {
        int32_t n = len < JOURNALBATCH - j->used ? len : JOURNALBATCH - j->used;
        if (n == 0 || (j->ranges == JOURNALRANGES && !continues(j, at))) {
            if (!flushbatch(j))
                return 0;
            continue;
        }
        if (continues(j, at))
            j->range[j->ranges - 1].len += n;
        else
            j->range[j->ranges++] = {at, n, j->used};
        memcpy(j->batch + j->used, buf, (size_t)n);
        j->used += n;
        at += n, buf += n, len -= n;
    }
    return 1;
}

// Before the image is read at at for len bytes: sends the batch when it
// writes any of them, so that the read sees them; 1 on success.
int journalbeforeread(journal *j, int64_t at, int32_t len)
{
    for (int32_t i = 0; i < j->ranges; i++)
        if (j->range[i].at < at + len && at < j->range[i].at + j->range[i].len)
            return flushbatch(j);
    return 1;
}

// Ends the change: the last batch sent, the image synced, the journal
// removed (and its name's removal synced). 1 when the change is whole in
// the image; else the journal stays, for the next opening to roll back.
int journalcommit(journal *j)
{
    int ok = j->file && flushbatch(j) && syncfile(j->image);

    if (j->file && fclose(j->file) != 0)
        ok = 0;
    // A change that wrote nothing never named its journal. The removal is
    // not synced: should a power cut undo it, the next opening rolls the
    // whole change back, which leaves the old image, as a cut before the
    // end would.
    if (j->records == 0)
        return remove(j->named ? j->path : j->temp) == 0 && ok;
    return ok && remove(j->path) == 0;
}

// What one record says, read from the journal f at its position.
struct recordfacts {
    int64_t at, pos; // the image offset; where its old bytes lie in the journal
    int32_t len, held;
    int32_t kept;    // the old bytes the journal holds: held, or 0 when they were zeros
};

// Reads the record at f's position, checks its CRC and leaves f after it:
// 1 when it is whole.
static int readrecord(FILE *f, int64_t pos, recordfacts *r, unsigned char *buf)
{
    unsigned char h[JOURNALRECORD - 4], crc[4];

    if (fread(h, 1, sizeof h, f) != sizeof h)
        return 0;
    r->at = (int64_t)(uint32_t)geti32l(h) | (int64_t)(uint32_t)geti32l(h + 4) << 32;
    r->len = geti32l(h + 8);
    r->held = (int32_t)((uint32_t)geti32l(h + 12) & ~JOURNALZEROS);
    r->kept = (uint32_t)geti32l(h + 12) & JOURNALZEROS ? 0 : r->held;
    r->pos = pos + (int64_t)sizeof h;
    if (r->len <= 0 || r->len > JOURNALBATCH || r->held > r->len ||
        (int32_t)fread(buf, 1, (size_t)r->kept, f) != r->kept || fread(crc, 1, 4, f) != 4)
        return 0;
    return (uint32_t)geti32l(crc) == journalcrc(journalcrc(0, h, sizeof h), buf, r->kept);
}

// A journal read: its old size and fingerprint, and where its whole
// records lie.
struct journalfacts {
    int64_t oldsize;
    uint32_t print;
    int32_t records;
    recordfacts record[JOURNALMAXRECORDS];
};

static journalfacts facts;
static unsigned char recordbuf[JOURNALBATCH];

// Reads the journal f into facts: JOURNALROLLBACK when its header and at
// least one record are whole, else JOURNALINCOMPLETE.
static int readjournal(FILE *f)
{
    unsigned char h[JOURNALHEADER];
    int64_t pos = JOURNALHEADER;

    facts.records = 0;
    if (fread(h, 1, sizeof h, f) != sizeof h || memcmp(h, magic, sizeof magic) != 0 ||
        (uint32_t)geti32l(h + JOURNALHEADER - 4) != journalcrc(0, h, JOURNALHEADER - 4))
        return JOURNALINCOMPLETE;
    facts.oldsize = (int64_t)(uint32_t)geti32l(h + 8) | (int64_t)(uint32_t)geti32l(h + 12) << 32;
    facts.print = (uint32_t)geti32l(h + 16);
    while (facts.records < JOURNALMAXRECORDS &&
           readrecord(f, pos, &facts.record[facts.records], recordbuf)) {
        const recordfacts *r = &facts.record[facts.records++];
        pos = r->pos + r->kept + 4;
    }
    return facts.records > 0 ? JOURNALROLLBACK : JOURNALINCOMPLETE;
}

// Reads the old bytes of record r of the journal f into recordbuf (zeros
// when it keeps none); 1 on success.
static int oldbytes(FILE *f, const recordfacts *r)
{
    if (r->kept == 0) {
        memset(recordbuf, 0, (size_t)r->held);
        return 1;
    }
    return seekfile(f, r->pos) && (int32_t)fread(recordbuf, 1, (size_t)r->kept, f) == r->kept;
}

// 1 when the image's old bytes as the journal f gives them back (its
// records' old bytes over the image's, the first record of a byte
// winning) give the journal's fingerprint.
static int oldimagematches(FILE *f, FILE *image)
{
    static unsigned char samples[JOURNALSAMPLEBYTES];
    static unsigned char set[JOURNALSAMPLEBYTES];
    int64_t size = filesizeof(image);

    if (size < facts.oldsize || !readsamples(image, facts.oldsize, samples))
        return 0;
    memset(set, 0, sizeof set);
    for (int32_t i = 0; i < facts.records; i++) {
        const recordfacts *r = &facts.record[i];
        if (!oldbytes(f, r))
            return 0;
        for (int32_t k = 0; k < JOURNALSAMPLES; k++) {
            int64_t s = sampleat(k, facts.oldsize), n = samplelen(k, facts.oldsize);
            for (int64_t b = s > r->at ? s : r->at; b < s + n && b < r->at + r->held; b++) {
                size_t at = sampleroom(k) + (size_t)(b - s);
                if (!set[at])
                    samples[at] = recordbuf[b - r->at], set[at] = 1;
            }
        }
    }
    return fingerprint(samples, facts.oldsize) == facts.print;
}

// What lies beside the image at imagepath (open for reading as image):
// JOURNALNONE, or what journalcheck's enum says, with why (whysize bytes)
// saying it in words for a message.
int journalcheck(const char *imagepath, FILE *image, char *why, int32_t whysize)
{
    char path[JOURNALPATHMAX];
    FILE *f;
    int r;

    journalpath(path, imagepath);
    if (!(f = fopen(path, "rb"))) {
        why[0] = '\0';
        return JOURNALNONE;
    }
    r = readjournal(f);
    if (r == JOURNALROLLBACK && !oldimagematches(f, image))
        r = JOURNALFOREIGN;
    fclose(f);
    snprintf(why, (size_t)whysize, "%s",
             r == JOURNALROLLBACK ? "holds the old bytes of a change that was cut short"
             : r == JOURNALINCOMPLETE ? "was cut short before the change wrote anything, so the "
                                        "image is as it was; it is left alone"
                                      : "belongs to another image, or to this one changed since; "
                                        "it is left alone");
    return r;
}

// Rolls the image (at imagepath, open for update as image) back by its
// journal when journalcheck would find it whole and the image's: the
// records' old bytes put back, the last first; the file cut to its old
// size, synced; the journal removed. 1 on success; else the journal stays.
int journalrollback(const char *imagepath, FILE *image)
{
    char path[JOURNALPATHMAX];
    FILE *f;
    int ok;

    journalpath(path, imagepath);
    if (!(f = fopen(path, "rb")))
        return 0;
    ok = readjournal(f) == JOURNALROLLBACK && oldimagematches(f, image);
    for (int32_t i = facts.records - 1; ok && i >= 0; i--) {
        const recordfacts *r = &facts.record[i];
        ok = oldbytes(f, r) && seekfile(image, r->at) &&
             (int32_t)fwrite(recordbuf, 1, (size_t)r->held, image) == r->held;
    }
    fclose(f);
    ok = ok && (filesizeof(image) == facts.oldsize || cutimage(image, facts.oldsize)) &&
         syncfile(image);
    return ok && remove(path) == 0 && syncdirectory(path);
}

// Before the image at path is opened: a journal beside it that is whole and
// its own is rolled back, with a line on standard error saying so; one that
// is not is named and left alone. 1 when the image may be read now (as it
// was before the change cut short, or untouched), 0 after saying why not.
int journalopening(const char *path)
{
    char why[200], jpath[JOURNALPATHMAX];
    FILE *image;
    int r;

    // Most openings find none, and open nothing but the journal's name.
    journalpath(jpath, path);
    if (!(image = fopen(jpath, "rb")))
        return 1;
    fclose(image);
    image = fopen(path, "rb");
    r = image ? journalcheck(path, image, why, (int32_t)sizeof why) : JOURNALNONE;

    if (image)
        fclose(image);
    if (r == JOURNALNONE)
        return 1;
    if (r != JOURNALROLLBACK) {
        fprintf(stderr, "%s %s\n", jpath, why);
        return 1;
    }
    image = fopen(path, "rb+");
    if (image && journalrollback(path, image)) {
        fclose(image);
        fprintf(stderr, "%s: a change to it was cut short; its old bytes are back from "
                        "%s\n", path, jpath);
        return 1;
    }
    if (image)
        fclose(image);
    fprintf(stderr, "%s: a change to it was cut short, and %s holds its old bytes, but "
                    "they could not be written back; nothing done\n", path, jpath);
    return 0;
}

// Gives up the change: what reached the image rolled back from the
// journal, the journal removed. 1 when the image is as it was.
int journalabandon(journal *j)
{
    int ok = !j->file || fclose(j->file) == 0;

    j->ranges = j->used = 0;
    // Nothing reached the image: the journal, named or not, goes.
    if (j->records == 0)
        return remove(j->named ? j->path : j->temp) == 0 && ok;
    return journalrollback(j->imagepath, j->image) && ok;
}
