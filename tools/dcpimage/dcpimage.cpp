// dcpimage create|info|wrap|unwrap: makes a blank formatted DCP image of a
// known type (or another container's, or a hard disk, through the other
// files), tells what an image's header, volume and size say and whether
// they agree, wraps a raw FAT12 volume into a DCP image and unwraps one.
// Outputs are written beside their place and renamed onto it, so that a run
// stopped at any moment leaves the old file or the new one; every complaint
// goes to standard error.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <getopt.h>

#include "host/journal.h"
#include "tools/dcpimage/dcpimage.h"
#include "tools/imageedit.h"
#include "tools/options.h"
#include "tools/sjisnames.h"
#include "tools/toolinfo.h"

static const char usage[] =
    "Usage: dcpimage create [-f] [-L LABEL] [-u] [-O FORMAT] [-S BYTES] [-P SIZES]\n"
    "                       [-g H/S] TYPE IMAGE\n"
    "       dcpimage info [-u] [-F FORMAT] [-g H/S] IMAGE\n"
    "       dcpimage convert [-f] [-F FORMAT] [-O FORMAT] [-d N] [-p N] [-g H/S]\n"
    "                        [--fill BYTE] [--compact] IN OUT\n"
    "       dcpimage protect IMAGE | dcpimage unprotect IMAGE\n"
    "       dcpimage wrap [-f] [-p N [-F FORMAT] [-g H/S]] VOLUME IMAGE\n"
    "       dcpimage unwrap IMAGE VOLUME\n"
    "       dcpimage label [-c] [-u] [-F FORMAT] [-d N] [-p N] [-g H/S] IMAGE [TEXT]\n"
    "create makes a blank, formatted image of TYPE: 2hd (1.2 MB, 1024-byte\n"
    "sectors), 2hc (1.2 MB, 15 sectors a track), 2hq (1.44 MB) or 2dd (720 KB),\n"
    "a raw FAT16 volume of SIZE bytes (fat16:SIZE, K, M or G after it), or a\n"
    "hard disk: sasi5, sasi10, sasi15, sasi20, sasi30 or sasi40 (256-byte\n"
    "sectors, 33 a track), ideN (N MB: N x 15 cylinders of 8 heads, 17 sectors\n"
    "of 512 bytes) or ide:SIZE, with an IPL, a partition table and each\n"
    "partition formatted as NEC's MS-DOS does.\n"
    "info tells what the container, the volume and the file say (of a hard\n"
    "disk: its geometry, its IPL, every partition and its volume), exit 1 if\n"
    "anything cannot be read right. convert writes the volume of IN in another\n"
    "container, or a hard disk in another hard-disk container; with -p N, the\n"
    "volume of a hard disk's partition N as a raw volume. protect and\n"
    "unprotect set and clear a D88 or NFD image's write protection. wrap puts\n"
    "a raw FAT12 volume behind a DCP header made from its geometry, or with -p\n"
    "N writes a raw volume over partition N of the hard disk IMAGE; unwrap\n"
    "writes the volume out of a DCP image. label prints the volume label, or\n"
    "sets it to TEXT (-c clears it). FORMAT is dcp, d88, fdi, nfd, raw, hdi,\n"
    "nhd, thd, vhd98 or rawhdd; an output's format is -O's, else its name's\n"
    "(.hdi, .nhd, .thd; a hard disk named .img or .hdd is raw).\n"
    "  -f, --force        overwrite an existing output (create, wrap, convert)\n"
    "  -L, --label LABEL  the volume label (create: of a hard disk's first\n"
    "                     partition, which its table's entry is named after)\n"
    "  -u, --utf8         the label (create, label) and a D88 disk's name (info) in\n"
    "                     UTF-8, the image's Shift-JIS\n"
    "  -c, --clear        remove the volume label (label)\n"
    "  -O, --output-format FORMAT  the output's container (create, convert)\n"
    "  -S, --sector-size BYTES  the sectors of a fat16:SIZE volume: 128 to 4096,\n"
    "                     1024 unless given (create)\n"
    "  -P, --partitions SIZES  a new hard disk's partitions, from cylinder 1:\n"
    "                     sizes with commas between, each rounded up to whole\n"
    "                     cylinders; else one over the whole disk (create)\n"
    "  -g, --geometry H/S  a hard disk's heads and sectors a track: of a raw\n"
    "                     one read, or of one made in the cylinders TYPE fills\n"
    "  -F, --format FORMAT  the input's container, else found from its content\n"
    "                     (a THD from its name)\n"
    "  -d, --disk N       the Nth disk of a D88 file that holds several (convert,\n"
    "                     label)\n"
    "  -p, --partition N  the Nth entry of a hard disk's partition table\n"
    "                     (convert, wrap, label)\n"
    "  --fill BYTE        the byte of every sector IN lacks that OUT cannot leave\n"
    "                     out: any in a raw or FDI image, one of a track IN holds\n"
    "                     in part in a DCP image (convert)\n"
    "  --compact          a DCP OUT leaves out the tracks IN lacks whole; without\n"
    "                     it, they are zeros flagged not stored (convert)\n"
    "Exit status: 0 on success, 1 on failure.\n";

enum { BOOTBYTES = 1024, COPYBUFSIZE = 65536 };


// What an image's first bytes say: the header, the boot sector, the size.
struct dcpview {
    dcpheaderfacts header;
    unsigned char boot[BOOTBYTES];
    int64_t filesize;
    const dcptype *type;   // by the media byte, or null
    const dcptype *volume; // by the parameter block's geometry, or null
    const dcptype *layout; // what lays out the tracks: type, else volume, or null
    int32_t missing;       // tracks inside the volume marked not stored
};

static unsigned char copybuf[COPYBUFSIZE];
static replacement output;
static sectormap newdisk;

// Opens the output's temporary file beside it: null after saying why not.
FILE *opentemp(const imagejob *job)
{
    return startoutput(&output, job->out);
}

// Closes the temporary file and renames it onto the output when ok, which
// replaces an old output in one step; removes it otherwise. 1 when the
// output is in place.
int finishtemp(const imagejob *job, int ok)
{
    ok = finishreplacement(&output, ok);
    if (!ok)
        fprintf(stderr, "Could not write %s\n", job->out);
    return ok;
}

// Removes the temporary file; the output stays as it was.
void droptemp(void)
{
    dropreplacement(&output);
}

// 1 when the output may be written: it does not exist, or -f was given.
int mayoverwrite(const imagejob *job)
{
    return outputallowed(job->out, job->force);
}

// The label of -L as the 11 bytes FAT stores (a to z upper-cased, spaces
// after; Shift-JIS characters as they are, from UTF-8 under -u): 1 when it
// is one, else 0 after saying why not.
int makelabel(const char *text, int utf8, unsigned char *label)
{
    static unsigned char sjis[SJISNAMEMAX];
    int32_t n = (int32_t)strlen(text), i;

    memset(label, ' ', 11);
    if (utf8 && (n = utf8tosjis((const unsigned char *)text, n, sjis, (int32_t)sizeof sjis)) < 0) {
        fprintf(stderr, "Label %s has no Shift-JIS form (code page 932)\n", text);
        return 0;
    }
    if (!utf8) {
        n = n > 12 ? 12 : n; // past 11 it is refused anyway
        memcpy(sjis, text, (size_t)n);
    }
    for (i = 0; i < n; i++) {
        if (sjisleadbyte(sjis[i]) && i + 1 < n)
            i++; // a trail byte may be anything
        else if (sjis[i] < 0x20 || sjis[i] == 0x7F || sjisleadbyte(sjis[i]) ||
                 strchr("\"*+,./:;<=>?[\\]|", sjis[i]))
            break;
    }
    if (n == 0 || n > 11 || i < n) {
        fprintf(stderr, "Bad label %s: 1 to 11 bytes, no control byte, no lead byte without its "
                        "trail byte and none of \"*+,./:;<=>?[\\]|\n", text);
        return 0;
    }
    // FAT reads a label that starts with a space as blank or broken, and one
    // whose first byte is 0xE5 as deleted (stored as 0x05, fsck.fat calls it
    // invalid): neither can be held.
    if (sjis[0] == ' ' || sjis[0] == DELETEDMARK) {
        fprintf(stderr, "Bad label %s: FAT cannot hold a label that starts with %s\n", text,
                sjis[0] == ' ' ? "a space" : "byte 0xE5");
        return 0;
    }
    nametext(sjis, label, n);
    return 1;
}

// The serial number of a new volume: from SOURCE_DATE_EPOCH, else the time.
static uint32_t serialof(int64_t epoch)
{
    return (uint32_t)(epoch >= 0 ? epoch : (int64_t)time(nullptr));
}

// dcpimage create of another container than DCP: the blank volume made
// in a scratch file, then written in the container as convert writes it.
static int createother(const imagejob *job, const dcptype *t, int32_t format,
                       const unsigned char *label, int64_t epoch)
{
    static sectormap blank;
    volumeshape shape;
    FILE *scratch = tmpfile();
    int ok;

    floppyshape(t, &shape);
    ok = scratch && writeblankvolume(scratch, &shape, label, job->label != nullptr,
                                     serialof(epoch), copybuf) &&
             fflush(scratch) == 0 && mapimage(scratch, &blank, CONTAINERRAW, 0) == MAPOK &&
             blank.type;

    if (!ok)
        fprintf(stderr, "Could not make the blank volume for %s\n", job->out);
    else
        ok = writenew(job, format, scratch, &blank, blank.type);
    if (scratch)
        fclose(scratch);
    return ok;
}

// The bytes a size names: digits, then K, M or G for binary kilo-, mega-
// or gigabytes; -1 when it is none, or past what a volume can have.
int64_t parsesize(const char *text)
{
    int64_t v = 0;
    const char *p = text;

    for (; *p >= '0' && *p <= '9' && v < ((int64_t)1 << 40); p++)
        v = v * 10 + (*p - '0');
    if (p == text)
        return -1;
    if (*p && p[1] == '\0' && strchr("KMG", *p))
        v <<= *p == 'K' ? 10 : *p == 'M' ? 20 : 30;
    else if (*p)
        return -1;
    return v < ((int64_t)1 << 40) ? v : -1;
}

// dcpimage create fat16:SIZE: a raw FAT16 volume of SIZE bytes in
// sectors of -S's size (1024, as NEC's MS-DOS formats them, by default).
static int createfat16(const imagejob *job, const char *size, int32_t format,
                       const unsigned char *label, int64_t epoch)
{
    int32_t bytes = job->sectorsize > 0 ? job->sectorsize : 1024;
    int64_t n = parsesize(size);
    volumeshape shape;
    FILE *f;

    if (format != CONTAINERRAW) {
        fprintf(stderr, "A FAT16 volume is written raw (-O raw): %s holds floppies only\n",
                containerof(format)->title);
        return 0;
    }
    if (n < 0 || n % bytes != 0 || n / bytes > INT32_MAX) {
        fprintf(stderr, "Bad size %s: a number of bytes (K, M or G after it for binary kilo-, "
                        "mega- or gigabytes) that %d-byte sectors fill\n", size, bytes);
        return 0;
    }
    if (!fat16shape((int32_t)(n / bytes), bytes, &shape)) {
        fprintf(stderr, "No FAT16 volume is %s bytes of %d-byte sectors: it has 4085 to 65524 "
                        "clusters of at most 64 KB\n", size, bytes);
        return 0;
    }
    if (!mayoverwrite(job) || !(f = opentemp(job)))
        return 0;
    return finishtemp(job, writeblankvolume(f, &shape, label, job->label != nullptr,
                                            serialof(epoch), copybuf));
}

// dcpimage create: the header, then the blank volume; or the blank volume
// in another container.
static int create(const imagejob *job)
{
    const dcptype *t = floppytypenamed(job->in);
    int32_t format = job->outformat >= 0 ? job->outformat : formatofname(job->out);
    int fat16 = strncmp(job->in, "fat16:", 6) == 0;
    unsigned char label[11], header[DCPHEADERSIZE];
    int64_t epoch = -1;
    volumeshape shape;
    FILE *f;
    int ok;

    if (!t && !fat16 && !harddisktype(job->in, job->from.heads, job->from.spt, &newdisk)) {
        if (strncmp(job->in, "ide", 3) == 0)
            fprintf(stderr, "Bad IDE disk %s: ideN for N from 1 to 4369 (MB), or ide:SIZE, in "
                            "2 to 65535 cylinders of its heads and sectors\n", job->in);
        else
            fprintf(stderr, "Unknown type %s: 2hd, 2hc, 2hq, 2dd, fat16:SIZE, sasi5, sasi10, "
                            "sasi15, sasi20, sasi30, sasi40, ideN (N MB) or ide:SIZE\n", job->in);
        return 0;
    }
    if ((job->sizes || job->from.heads) && (t || fat16)) {
        fprintf(stderr, "-P and -g lay out a hard disk: %s is none\n", job->in);
        return 0;
    }
    if (job->sectorsize > 0 && !fat16) {
        fprintf(stderr, "A floppy type has its own sector size: -S is for fat16:SIZE\n");
        return 0;
    }
    if (format < 0)
        format = fat16 ? CONTAINERRAW : CONTAINERDCP;
    if (t && containerof(format)->header) {
        fprintf(stderr, "%s: %s images hold hard disks, not floppies; -O dcp, d88, fdi, nfd or raw "
                        "holds a floppy\n", job->out, containerof(format)->title);
        return 0;
    }
    if (!makelabel(job->label ? job->label : "NO NAME", job->utf8, label) || !sourcedate(&epoch))
        return 0;
    if (fat16)
        return createfat16(job, job->in + 6, format, label, epoch);
    if (!t)
        return createdisk(job, &newdisk, label, serialof(epoch));
    if (format != CONTAINERDCP)
        return createother(job, t, format, label, epoch);
    if (!mayoverwrite(job) || !(f = opentemp(job)))
        return 0;
    makedcpheader(t, header);
    floppyshape(t, &shape);
    ok = fwrite(header, 1, DCPHEADERSIZE, f) == DCPHEADERSIZE &&
         writeblankvolume(f, &shape, label, job->label != nullptr, serialof(epoch), copybuf);
    return finishtemp(job, ok);
}

// Reads the header (what the container says of it), the boot sector and
// the size of the image at path into v; 1 on success, else 0 after saying
// why not.
static int viewimage(const char *path, int header, dcpview *v)
{
    FILE *f = openinput(path);
    int32_t at = header ? DCPHEADERSIZE : 0;
    int exact;

    memset(v, 0, sizeof *v);
    if (!f || (header && !readdcpheader(f, &v->header)) || !seekimage(f, at) ||
        fread(v->boot, 1, 512, f) != 512) {
        if (f) {
            fprintf(stderr, "%s is too short for a boot sector\n", path);
            fclose(f);
        }
        return 0;
    }
    (void)fread(v->boot + 512, 1, BOOTBYTES - 512, f); // a volume's first sector may be short
    v->filesize = imagesize(f) - at;
    fclose(f);
    v->type = header ? v->header.type : nullptr;
    v->volume = floppytypeofblock(v->boot, &exact);
    if (!exact)
        v->volume = nullptr; // a DCP image's tracks are laid out by a type without doubt
    v->layout = v->type ? v->type : v->volume;
    // The tracks inside the volume that the map leaves out.
    v->missing = header ? dcpmissing(&v->header, v->layout) : 0;
    return 1;
}

// Bytes the volume declares: sectors times bytes a sector.
static int64_t volumebytes(const dcpview *v)
{
    bootfields b;

    readbootfields(v->boot, &b);
    return (int64_t)b.totalsectors * b.bytespersector;
}

// 1 when the file leaves out exactly the tracks the map marks not stored.
static int leavesoutmissing(const dcpview *v)
{
    return v->missing > 0 &&
           v->filesize == volumebytes(v) - (int64_t)v->missing * tracksize(v->layout);
}

// 1 when the file holds its whole volume; else 0 after saying so.
static int holdsvolume(const char *path, const dcpview *v)
{
    if (v->filesize >= volumebytes(v))
        return 1;
    fprintf(stderr, "%s is shorter than its volume: %lld bytes of %lld\n", path,
            (long long)v->filesize, (long long)volumebytes(v));
    return 0;
}

// dcpimage wrap: convert's own writing of a raw volume as a DCP image, of
// the type its parameter block gives (which must be one).
static int wrap(const imagejob *job)
{
    dcpview v;
    imagejob j = *job;
    bootfields b;

    if (job->from.partition >= 0)
        return wrappartition(job);
    if (!viewimage(job->in, 0, &v))
        return 0;
    readbootfields(v.boot, &b);
    if (!v.volume) {
        fprintf(stderr, "%s matches no DCP type: %d sectors of %d bytes, %d a track, %d heads\n",
                job->in, b.totalsectors, b.bytespersector, b.sectorspertrack, b.heads);
        return 0;
    }
    if (!holdsvolume(job->in, &v))
        return 0;
    j.fill = -1;
    return convertvolume(&j, CONTAINERRAW, CONTAINERDCP, v.volume);
}

// The container of the image at path, -F's or from its content; -1 after
// saying why it cannot be told.
// looks gets (LOOKSMAX bytes) what a file that no container's rules take
// looks like, when it looks like one gone wrong, else ""; *size the file's.
static int32_t containerat(const imagejob *job, char *looks, int64_t *size)
{
    FILE *f = openinput(job->in);
    int32_t c;

    if (!f) {
        return -1;
    }
    *size = imagesize(f);
    c = job->from.container >= 0 ? job->from.container : containerofname(job->in);
    looks[0] = '\0';
    if (c < 0 && (c = findcontainer(f, *size)) == CONTAINERDCP)
        lookslike(f, *size, looks, LOOKSMAX);
    fclose(f);
    return c;
}

// dcpimage unwrap: convert's own writing of a DCP image's volume as a raw
// one, over an old one; a track a compact image leaves out is zeros. An
// image in any other container is converted to raw as convert -O raw does.
static int unwrap(const imagejob *job)
{
    dcpview v;
    imagejob j = *job;
    char looks[LOOKSMAX];
    int64_t size;
    int32_t container = containerat(job, looks, &size);

    j.force = 1;
    j.outformat = CONTAINERRAW;
    if (container < 0)
        return 0;
    if (container != CONTAINERDCP || looks[0])
        return convert(&j);
    if (!viewimage(job->in, 1, &v))
        return 0;
    // Read straight through, the volume is what its parameter block says,
    // whatever the media byte names.
    if (!leavesoutmissing(&v) && v.volume)
        v.layout = v.volume;
    if (!v.layout) {
        fprintf(stderr, "%s: neither its media byte 0x%02X nor its volume names a 2hd, 2hc, 2hq "
                        "or 2dd type\n", job->in, v.header.media);
        return 0;
    }
    if (leavesoutmissing(&v) && v.volume && v.volume != v.layout) {
        putlayoutmismatch(job->in, v.layout, v.volume);
        return 0;
    }
    if (!leavesoutmissing(&v) && !holdsvolume(job->in, &v))
        return 0;
    if (volumebytes(&v) > (int64_t)floppysectors(v.layout) * v.layout->bytes) {
        fprintf(stderr, "%s: its volume declares %lld bytes, more than a %s volume holds\n",
                job->in, (long long)volumebytes(&v), v.layout->name);
        return 0;
    }
    j.fill = 0;
    return convertvolume(&j, CONTAINERDCP, CONTAINERRAW, v.layout);
}

// Prints the volume's geometry and the file's size against it; 0 when they
// disagree with the header in a way that breaks a reader or these tools.
static int infovolume(const dcpview *v)
{
    int64_t want = DCPHEADERSIZE + volumebytes(v);
    int ok = 1;
    bootfields b;

    readbootfields(v->boot, &b);
    printf("volume: %d sectors of %d bytes, %d a track, %d heads, %d a cluster, %d FATs of %d "
           "sectors, %d root entries, media descriptor 0x%02X (%s)\n",
           b.totalsectors, b.bytespersector, b.sectorspertrack, b.heads, b.sectorspercluster,
           b.fatcount, b.sectorsperfat, b.rootentries, b.mediadescriptor,
           v->volume ? v->volume->name : "no known type");
    printf("size: %lld bytes; the header and the volume call for %lld\n",
           (long long)v->filesize + DCPHEADERSIZE, (long long)want);
    if (v->type && v->volume != v->type) {
        printf("problem: the volume's geometry is not that of %s\n", v->type->name);
        ok = 0;
    }
    if (leavesoutmissing(v)) {
        printf("note: a compact image: the file leaves out the %d tracks marked not stored, "
               "and these tools read it through its flags\n", v->missing);
    } else if (v->filesize + DCPHEADERSIZE < want) {
        printf("problem: the file is %lld bytes short of its volume\n",
               (long long)(want - v->filesize - DCPHEADERSIZE));
        ok = 0;
    } else if (v->missing > 0) {
        printf("note: %d tracks inside the volume are marked not stored, but the file holds "
               "every track\n", v->missing);
    }
    return ok;
}

// 1 when the image is a compact one (it holds exactly the tracks its
// header flags stored, by its media byte's type) that leaves out track 0:
// the bytes after the header are another track's, not a boot sector.
static int bootnotstored(const dcpview *v)
{
    int32_t stored = 0;

    if (!v->type || v->header.flags[0] != 0)
        return 0;
    for (int32_t t = 0; t < volumetracks(v->type); t++)
        stored += v->header.flags[t] != 0;
    return v->filesize == (int64_t)stored * tracksize(v->type);
}

// What info says of a compact image without its boot sector: 0.
static int infonoboot(const dcpview *v)
{
    printf("volume: not in the image: track 0, which holds the boot sector, is not stored\n");
    printf("size: %lld bytes: the header and exactly the tracks it flags stored\n",
           (long long)v->filesize + DCPHEADERSIZE);
    printf("problem: the boot sector is not in the image, so no program can read its volume\n");
    return 0;
}

// Prints what the container's header says beyond its map, as its row of
// the container table describes it; 0 when that breaks a reader.
static int describeheader(const char *path, int32_t container)
{
    const containerkind *k = containerof(container);
    FILE *f;
    int ok;

    if (!k->describe)
        return 1;
    f = openinput(path);
    if (!f)
        return 0;
    fflush(stdout);
    ok = k->describe(f, stdout);
    fclose(f);
    return ok;
}

// Says in a "journal:" line what journal lies beside the image, if any:
// the opening that follows rolls a whole one back.
static void putjournal(const char *path)
{
    char why[200], jpath[JOURNALPATHMAX];
    FILE *f = fopen(path, "rb");
    int r = f ? journalcheck(path, f, why, (int32_t)sizeof why) : JOURNALNONE;

    if (f)
        fclose(f);
    journalpath(jpath, path);
    if (r != JOURNALNONE)
        printf("journal: %s %s%s\n", jpath, why,
               r == JOURNALROLLBACK ? ", and is rolled back now" : "");
}

// dcpimage info: key: value lines, the last saying whether all agree.
static int info(const imagejob *job)
{
    dcpview v;
    char looks[LOOKSMAX];
    int64_t size;
    int32_t container;
    int ok;

    putjournal(job->in);
    fflush(stdout);
    container = containerat(job, looks, &size);

    if (container < 0)
        return 0;
    if (looks[0]) {
        printf("image: %s\ncontainer: none by its content\nproblem: it %s\nagrees: no\n", job->in,
               looks);
        return 0;
    }
    if (container != CONTAINERDCP)
        return infocontainer(job, container);
    if (!viewimage(job->in, 1, &v))
        return 0;
    printf("image: %s\ncontainer: DCP\n", job->in);
    ok = describeheader(job->in, CONTAINERDCP);
    ok = (bootnotstored(&v) ? infonoboot(&v) : infovolume(&v)) && ok;
    printf("agrees: %s\n", ok ? "yes" : "no");
    return ok;
}

// The byte of --fill: decimal 0 to 255, or 0x00 to 0xFF; -1 otherwise.
static int32_t parsefill(const char *text)
{
    int hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *p = text + (hex ? 2 : 0);
    int32_t v = 0;

    if (!*p || strlen(p) > 3)
        return -1;
    for (; *p; p++) {
        int d = *p >= '0' && *p <= '9' ? *p - '0'
                : hex && *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
                : hex && *p >= 'A' && *p <= 'F' ? *p - 'A' + 10 : -1;
        if (d < 0)
            return -1;
        v = v * (hex ? 16 : 10) + d;
    }
    return v <= 255 ? v : -1;
}

// The sector size -S gives: a power of two from 128 to 4096, or -1.
static int32_t parsesectorsize(const char *text)
{
    for (int32_t b = 128; b <= 4096; b *= 2) {
        char digits[16];
        snprintf(digits, sizeof digits, "%d", b);
        if (strcmp(text, digits) == 0)
            return b;
    }
    return -1;
}

// Takes one option of the command k into job; 0 when its value is wrong
// (said), -1 when the command has no such option.
static int takeoption(int k, int c, imagejob *job)
{
    // Which commands take which option, by index in commands[] below.
    static const char *const takes[] = {"fLuOSPg", "Fug", "fFpg", "",        "fFOdxCpg",
                                        "F",      "F",    "cuFdpg"};

    if (c == '?' || c == ':' || !strchr(takes[k], c))
        return -1;
    if (c == 'f' || c == 'u' || c == 'c' || c == 'C')
        *(c == 'f' ? &job->force : c == 'u' ? &job->utf8 : c == 'c' ? &job->clear
                                                               : &job->compact) = 1;
    else if (c == 'L')
        job->label = optarg;
    else if (c == 'O' && (job->outformat = containernamed(optarg)) < 0)
        fprintf(stderr, "Unknown format %s: dcp, d88, fdi, nfd, raw, hdi, nhd, thd, vhd98 or rawhdd\n", optarg);
    else if (c == 'S' && (job->sectorsize = parsesectorsize(optarg)) < 0)
        fprintf(stderr, "Bad sector size %s: 128, 256, 512, 1024, 2048 or 4096\n", optarg);
    else if (c == 'x' && (job->fill = parsefill(optarg)) < 0)
        fprintf(stderr, "Bad fill byte %s: 0 to 255, or 0x00 to 0xFF\n", optarg);
    else if (c == 'P')
        job->sizes = optarg;
    else if ((c == 'F' || c == 'd' || c == 'p' || c == 'g') &&
             imageoption(c, optarg, &job->from) != OPTTAKEN)
        return 0;
    return !(c == 'O' && job->outformat < 0) && !(c == 'x' && job->fill < 0) &&
           !(c == 'S' && job->sectorsize < 0);
}

// The option c as a user gives it: "-L (--label)", or "--fill".
static const char *optionname(int c, const option *longs)
{
    static char text[40];

    for (; longs->name; longs++)
        if (longs->val == c)
            break;
    if (c == 'x' || c == 'C')
        snprintf(text, sizeof text, "--%s", longs->name);
    else
        snprintf(text, sizeof text, "-%c (--%s)", c, longs->name ? longs->name : "");
    return text;
}

// Reads the command and its options into job: 1 to run it, 0 when done
// (help, version) or wrong (*ok then 0).
static int parseargs(int argc, char **argv, imagejob *job, int *ok)
{
    static const option longs[] = {{"force", no_argument, nullptr, 'f'},
                                   {"label", required_argument, nullptr, 'L'},
                                   {"utf8", no_argument, nullptr, 'u'},
                                   {"output-format", required_argument, nullptr, 'O'},
                                   {"fill", required_argument, nullptr, 'x'},
                                   {"compact", no_argument, nullptr, 'C'},
                                   {"clear", no_argument, nullptr, 'c'},
                                   {"format", required_argument, nullptr, 'F'},
                                   {"disk", required_argument, nullptr, 'd'},
                                   {"sector-size", required_argument, nullptr, 'S'},
                                   {"partition", required_argument, nullptr, 'p'},
                                   {"geometry", required_argument, nullptr, 'g'},
                                   {"partitions", required_argument, nullptr, 'P'},
                                   {nullptr, 0, nullptr, 0}};
    static const char *const commands[] = {"create",  "info",      "wrap", "unwrap",
                                           "convert", "protect", "unprotect", "label"};
    static const int operands[] = {2, 1, 2, 2, 2, 1, 1, 1};
    int c, k = argc > 1 ? 8 : 0, n;

    if (infoargument(argc, argv, "dcpimage", usage))
        return 0;
    while (--k >= 0 && strcmp(argv[1], commands[k]) != 0)
        ;
    optind = 2;
    while (k >= 0 && (c = getopt_long(argc, argv, "fL:uO:F:d:cS:p:g:P:", longs, nullptr)) != -1) {
        int r = takeoption(k, c, job);
        // getopt has named an unknown option; one another command takes is named here.
        if (r < 0 && c != '?' && c != ':')
            fprintf(stderr, "dcpimage %s takes no %s\n", commands[k], optionname(c, longs));
        if (r <= 0)
            k = -1;
    }
    n = argc - optind;
    // label takes its TEXT, unless it clears.
    if (k < 0 || (n != operands[k] && !(k == 7 && n == 2 && !job->clear))) {
        *ok = badcommandline(nullptr, usage);
        return 0;
    }
    job->command = commands[k];
    job->in = argv[optind];
    job->out = n == 2 ? argv[optind + 1] : nullptr;
    return 1;
}

int main(int argc, char **argv)
{
    imagejob job = {0, 0, 0, nullptr, nullptr, nullptr, nullptr, {-1, 0, PARTITIONTHEONLY, 0, 0},
                    -1, nullptr, -1, 0, -1};
    int ok = 1;

    datastreams();
    if (parseargs(argc, argv, &job, &ok)) {
        if (strcmp(job.command, "create") == 0)
            ok = create(&job);
        else if (strcmp(job.command, "info") == 0)
            ok = info(&job);
        else if (strcmp(job.command, "wrap") == 0)
            ok = wrap(&job);
        else if (strcmp(job.command, "unwrap") == 0)
            ok = unwrap(&job);
        else if (strcmp(job.command, "convert") == 0)
            ok = convert(&job);
        else if (strcmp(job.command, "label") == 0)
            ok = label(&job);
        else
            ok = protect(&job, strcmp(job.command, "protect") == 0);
    }
    return datastatus(ok);
}
