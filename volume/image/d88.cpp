// D88 images: per disk, a header with a table of track offsets, then each
// track's sectors, each a 16-byte header (C, H, R, N, count, status, data
// length) and its data, in any order. Several disks may follow each other.
#include <cstdio>
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum {
    D88HEADER = 0x2B0, D88OLDHEADER = 0x2A0, D88TRACKS = 164, D88OLDTRACKS = 160,
    D88PROTECT = 0x1A, D88MEDIA = 0x1B, D88SIZE = 0x1C, D88TABLE = 0x20,
    SECTORHEADER = 16, CHUNK = 16384
};

// What the walk over one disk's tracks keeps.
struct d88walk {
    int64_t disk, end;     // the disk's first byte and the byte past its last
    int64_t budget;        // sector headers left to read: a file of loops
                           // and overlaps is still read in linear time
    unsigned char chunk[CHUNK];
    int64_t chunkat;       // file offset of chunk[0], or -1
    int32_t chunklen;
};

static d88walk walk;

// The smallest non-zero offset among the first tracks entries of the table.
static int64_t leastoffset(const unsigned char *h, int32_t tracks)
{
    int64_t least = 0;

    for (int32_t t = 0; t < tracks; t++) {
        int64_t off = (uint32_t)geti32l(h + D88TABLE + 4 * (size_t)t);
        if (off != 0 && (least == 0 || off < least))
            least = off;
    }
    return least;
}

// The smallest non-zero track offset of the header: its own size. An older
// header of 160 entries ends where its first track starts, so the 16 bytes
// a newer one's last four entries take are that track's first sector
// header, never read as offsets.
static int64_t headersize(const unsigned char *h)
{
    int64_t old = leastoffset(h, D88OLDTRACKS);

    return old == D88OLDHEADER ? old : leastoffset(h, D88TRACKS);
}

// 1 when the header could open a disk: a known media byte and a table
// that starts where a header of either size ends.
static int plausible(const unsigned char *h)
{
    int32_t media = h[D88MEDIA];
    int64_t size = headersize(h);

    return (media == 0x00 || media == 0x10 || media == 0x20 || media == 0x30 ||
            media == 0x40) &&
           (size == D88HEADER || size == D88OLDHEADER);
}

// How the chain of disk sizes runs through a file of size bytes.
struct d88chain {
    int32_t disks;  // whole disks, one after another from byte 0
    int64_t end;    // the byte past the last of them
    int64_t cut;    // the size the next disk's header gives, when it runs past the file; else -1
};

// Walks the chain of disk sizes as far as plausible headers go; *at gets
// the offset of disk `want`.
static void walkdisks(FILE *f, int64_t size, int32_t want, int64_t *at, d88chain *c)
{
    unsigned char h[D88HEADER];

    c->disks = 0;
    c->end = 0;
    c->cut = -1;
    while (c->end < size) {
        int64_t disk, left = size - c->end;
        if (left < D88OLDHEADER ||
            !readat(f, c->end, h, left >= D88HEADER ? D88HEADER : D88OLDHEADER) || !plausible(h))
            return;
        disk = (uint32_t)geti32l(h + D88SIZE);
        if (disk < D88OLDHEADER)
            return;
        if (disk > left) {
            c->cut = disk;
            return;
        }
        if (c->disks == want)
            *at = c->end;
        c->end += disk;
        c->disks++;
    }
}

// The number of disks when their chain adds up to the file's size exactly
// (or, when trailing bytes are allowed, when it holds one at least), else
// 0; *at gets the offset of disk `want`.
static int32_t countdisks(FILE *f, int64_t size, int32_t want, int64_t *at, int trailing)
{
    d88chain c;

    walkdisks(f, size, want, at, &c);
    return (c.end == size || (trailing && c.cut < 0)) ? c.disks : 0;
}

// When the file starts as a D88 image does but its disks do not add up to
// its size: 1 with text (n bytes) saying what it looks like; else 0.
int d88lookslike(FILE *f, int64_t size, char *text, int32_t n)
{
    d88chain c;
    int64_t at = 0;

    walkdisks(f, size, -1, &at, &c);
    if (c.cut >= 0 && c.disks == 0)
        snprintf(text, (size_t)n, "looks like a D88 image cut short: its header says %lld "
                 "bytes, the file holds %lld", (long long)c.cut, (long long)size);
    else if (c.cut >= 0)
        snprintf(text, (size_t)n, "looks like a D88 image of %d disks whose last is cut short: "
                 "its header says %lld bytes, %lld remain", c.disks + 1, (long long)c.cut,
                 (long long)(size - c.end));
    else if (c.disks > 0 && c.end < size)
        snprintf(text, (size_t)n, "looks like a D88 image of %d disk%s with %lld bytes after "
                 "the last; -F d88 reads its disks", c.disks, c.disks > 1 ? "s" : "",
                 (long long)(size - c.end));
    else
        return 0;
    return 1;
}

int recognised88(FILE *f, const unsigned char *head, int32_t n, int64_t size)
{
    int64_t at = 0;

    if (n < D88OLDHEADER || !plausible(head))
        return 0;
    return countdisks(f, size, 0, &at, 0) > 0;
}

// The 16-byte sector header at file offset pos, read through the chunk;
// null when it lies past the disk.
static const unsigned char *sectorheader(FILE *f, int64_t pos)
{
    if (pos + SECTORHEADER > walk.end)
        return nullptr;
    if (walk.chunkat < 0 || pos < walk.chunkat ||
        pos + SECTORHEADER > walk.chunkat + walk.chunklen) {
        int64_t want = walk.end - pos < (int64_t)CHUNK ? walk.end - pos : (int64_t)CHUNK;
        if (!readat(f, pos, walk.chunk, (int32_t)want)) {
            walk.chunkat = -1;
            return nullptr;
        }
        walk.chunkat = pos;
        walk.chunklen = (int32_t)want;
    }
    return walk.chunk + (pos - walk.chunkat);
}

// Maps the sectors of track k that lie at pos: each R of the volume that
// the track holds exactly once, with exactly the volume's sector size and
// the track's own cylinder and head (a table entry that points at another
// track's bytes maps none of them).
static void maptrack(FILE *f, sectormap *m, int32_t k, int64_t pos)
{
    const floppytype *t = m->type;
    int32_t seen[256], count = -1, i;
    int64_t where[256] = {0};

    memset(seen, 0, sizeof seen);
    for (i = 0; count < 0 || i < count; i++) {
        const unsigned char *h = walk.budget-- > 0 ? sectorheader(f, pos) : nullptr;
        int32_t r, length;
        if (!h)
            break;
        if (count < 0)
            count = getu16l(h + 4);
        r = h[2];
        length = getu16l(h + 14);
        if (pos + SECTORHEADER + length > walk.end)
            break;
        if (r >= 1 && r <= t->sectors && length == t->bytes && h[3] <= 7 &&
            128 << h[3] == t->bytes && h[0] == k / t->heads && h[1] == k % t->heads) {
            seen[r]++;
            where[r] = pos + SECTORHEADER;
            m->errors += h[8] != 0;
        } else if (r >= 1 && r <= t->sectors) {
            seen[r] += 2; // a sector of this number that is not the volume's
        }
        pos += SECTORHEADER + length;
    }
    for (int32_t r = 1; r <= t->sectors; r++)
        if (seen[r] == 1) {
            m->offset[k * t->sectors + r - 1] = where[r];
            m->missing--;
        }
}

// The geometry the disk's tracks hold: 2DD media is 2dd; other media take
// the type that most tracks name by their first sector (its size and the
// track's sector count), so that extra or missing sectors on one track (copy
// protection, a damaged dump) do not change it. Null when none names one.
static const floppytype *disktype(FILE *f, const unsigned char *h, int32_t tracks)
{
    static const char *const names[] = {"2hd", "2hc", "2hq", "2dd"};
    int32_t votes[4] = {0, 0, 0, 0}, best = -1;

    if (h[D88MEDIA] == 0x10)
        return floppytypenamed("2dd");
    for (int32_t k = 0; k < tracks; k++) {
        int64_t off = (uint32_t)geti32l(h + D88TABLE + 4 * (size_t)k);
        const unsigned char *s = off ? sectorheader(f, walk.disk + off) : nullptr;
        const floppytype *t = s && s[3] <= 7 ? floppytypeof(128 << s[3], getu16l(s + 4), 2)
                                             : nullptr;
        for (int32_t i = 0; t && i < 4; i++)
            votes[i] += t == floppytypenamed(names[i]);
    }
    for (int32_t i = 0; i < 4; i++)
        if (votes[i] > 0 && (best < 0 || votes[i] > votes[best]))
            best = i;
    return best < 0 ? nullptr : floppytypenamed(names[best]);
}

// Maps disk `disk` of the file.
int mapd88(FILE *f, sectormap *m, int32_t disk)
{
    unsigned char h[D88HEADER];
    int64_t at = 0;
    int32_t tracks, k;
    const floppytype *t;

    // Said outright (-F d88), bytes after the last disk are left alone.
    m->disks = countdisks(f, m->filesize, disk, &at, 1);
    if (m->disks == 0)
        return MAPBADHEADER;
    if (disk < 0 || disk >= m->disks)
        return MAPNODISK;
    if (!readat(f, at, h, D88OLDHEADER))
        return MAPUNREAD;
    tracks = headersize(h) == D88OLDHEADER ? D88OLDTRACKS : D88TRACKS;
    if (tracks == D88TRACKS && !readat(f, at, h, D88HEADER))
        return MAPUNREAD;
    walk.disk = at;
    walk.end = at + (uint32_t)geti32l(h + D88SIZE);
    walk.budget = (walk.end - at) / SECTORHEADER;
    walk.chunkat = -1;
    m->protectat = at + D88PROTECT;
    m->protect = h[D88PROTECT] != 0;
    t = disktype(f, h, tracks);
    if (!t)
        return MAPUNKNOWNTYPE;
    startmap(m, CONTAINERD88, t);
    memcpy(m->name, h, 16);
    m->name[16] = '\0';
    for (k = 0; k < t->cylinders * t->heads && k < tracks; k++) {
        int64_t off = (uint32_t)geti32l(h + D88TABLE + 4 * (size_t)k);
        if (off >= headersize(h) && at + off < walk.end)
            maptrack(f, m, k, at + off);
    }
    return MAPOK;
}

// Writes one track: the sectors the new image holds, in R order, each with
// its header; buf is scratch of a sector. A sector from a D88 keeps its
// density, deleted-data mark and status (a dump's "read with errors").
// WRITEOK or WRITEFAILED.
static int writed88track(FILE *out, newimage *n, int32_t k, int32_t present,
                         unsigned char *buf)
{
    const floppytype *t = n->type;

    for (int32_t r = 1; r <= t->sectors; r++) {
        unsigned char h[SECTORHEADER];
        int got = readnewsector(n, k * t->sectors + r - 1, buf);
        if (got < 0)
            return WRITEFAILED;
        if (got == 0)
            continue;
        if (!sourced88header(n, k * t->sectors + r - 1, h))
            memset(h, 0, sizeof h);
        memset(h + 9, 0, 5);
        h[0] = (unsigned char)(k / t->heads);
        h[1] = (unsigned char)(k % t->heads);
        h[2] = (unsigned char)r;
        h[3] = (unsigned char)(t->bytes == 1024 ? 3 : t->bytes == 512 ? 2 : 1);
        setu16l(h + 4, present);
        setu16l(h + 14, t->bytes);
        if (fwrite(h, 1, SECTORHEADER, out) != SECTORHEADER ||
            (int32_t)fwrite(buf, 1, (size_t)t->bytes, out) != t->bytes)
            return WRITEFAILED;
    }
    return WRITEOK;
}

// A new single-disk D88: a 0x2B0-byte header (name, protection, media, size,
// 164 track offsets, 0 for a track with no sector), then each track's
// sectors in R order. Absent sectors are left out.
int writed88(FILE *out, newimage *n, unsigned char *buf)
{
    const floppytype *t = n->type;
    unsigned char h[D88HEADER];
    int64_t at = D88HEADER;
    int32_t k, tracks = t->cylinders * t->heads;

    memset(h, 0, sizeof h);
    memcpy(h, n->name, 16);
    h[D88PROTECT] = n->protect ? 0x10 : 0x00;
    h[D88MEDIA] = (unsigned char)t->d88media;
    for (k = 0; k < tracks && k < D88TRACKS; k++) {
        int32_t present = trackpresent(n, k);
        setu32l(h + D88TABLE + 4 * (size_t)k, present ? (int32_t)at : 0);
        at += (int64_t)present * (SECTORHEADER + t->bytes);
    }
    setu32l(h + D88SIZE, (int32_t)at);
    if (fwrite(h, 1, sizeof h, out) != sizeof h)
        return WRITEFAILED;
    for (k = 0; k < tracks && k < D88TRACKS; k++)
        if (writed88track(out, n, k, trackpresent(n, k), buf) != WRITEOK)
            return WRITEFAILED;
    return WRITEOK;
}
