// A blank, formatted FAT volume of a shape (a DCP type's, or a FAT16
// volume's of a size): the boot sector with the shape's parameter block,
// FAT copies that mark only their two reserved entries, an empty root (or
// one holding the volume label), zeros after.
#include <cstring>

#include "format.h"
#include "dirwrite.h"

// The shape of the standard FAT12 format of a floppy type.
void floppyshape(const dcptype *t, volumeshape *s)
{
    s->bytes = t->bytes;
    s->clustersectors = t->clustersectors;
    s->reserved = t->reserved;
    s->fats = t->fats;
    s->rootentries = t->rootentries;
    s->descriptor = t->descriptor;
    s->fatsectors = t->fatsectors;
    s->sectorspertrack = t->sectors;
    s->heads = t->heads;
    s->sectors = floppysectors(t);
    s->fatbits = 12;
    s->hidden = 0;
}

// The data clusters of the shape as it stands.
static int64_t shapeclusters(const volumeshape *s)
{
    int64_t system = s->reserved + (int64_t)s->fats * s->fatsectors +
                     ((int64_t)s->rootentries * 32 + s->bytes - 1) / s->bytes;

    return s->sectors > system ? (s->sectors - system) / s->clustersectors : 0;
}

// The FAT's sectors and the data clusters of the shape: the FAT raised
// until it holds an entry for every cluster and the two reserved ones.
static int64_t sizefat(volumeshape *s)
{
    int64_t clusters;

    s->fatsectors = 1;
    while ((clusters = shapeclusters(s)) + 2 > (int64_t)s->fatsectors * s->bytes * 8 / s->fatbits)
        s->fatsectors++;
    return clusters;
}

// The shape NEC's MS-DOS gives a volume of sectors of bytes: one reserved
// sector, two FATs, 3072 root entries, media 0xF8, 17 sectors a track and
// 8 heads, no hidden sectors. FAT16: clusters of 2 KB, or as many times
// larger as it takes to number them in 16 bits (of fewer sectors where
// smaller ones are needed to make it FAT16 at all). FAT12: clusters of
// 1 KB, as many times larger as it takes to number them in 12 bits. 1 when
// the volume can be of that FAT, else 0.
int necshape(int32_t sectors, int32_t bytes, int32_t fatbits, volumeshape *s)
{
    int32_t want = fatbits == 16 ? 2048 : 1024;
    int64_t most = fatbits == 16 ? FAT16CLUSTERS : FAT12CLUSTERS;
    int64_t least = fatbits == 16 ? FAT12CLUSTERS : 1;

    s->bytes = bytes;
    s->reserved = 1;
    s->fats = 2;
    s->rootentries = 3072;
    s->descriptor = 0xF8;
    s->sectorspertrack = 17;
    s->heads = 8;
    s->hidden = 0;
    s->sectors = sectors;
    s->fatbits = fatbits;
    s->clustersectors = bytes >= want ? 1 : want / bytes;
    for (;;) {
        int64_t clusters = sizefat(s);
        if (clusters >= most && s->clustersectors < 128)
            s->clustersectors *= 2;
        else if (clusters < least && s->clustersectors > 1)
            s->clustersectors /= 2;
        else
            return clusters >= least && clusters < most &&
                   (int64_t)s->clustersectors * bytes <= 65536;
    }
}

// A FAT16 volume in NEC's shape; 1 when there is one.
int fat16shape(int32_t sectors, int32_t bytes, volumeshape *s)
{
    return necshape(sectors, bytes, 16, s);
}

// The boot sector (s->bytes long): a jump past the parameter block, the
// OEM name, the block, drive 0, the extended signature with serial and
// label (11 bytes, space-padded), the file system type, and 55 AA.
static void makebootsector(const volumeshape *s, const unsigned char *label, uint32_t serial,
                           unsigned char *boot)
{
    static const unsigned char start[11] = {0xEB, 0x3C, 0x90, 'D', 'C', 'P', 'T', 'O', 'O', 'L', 'S'};
    static const unsigned char fat12[8] = {'F', 'A', 'T', '1', '2', ' ', ' ', ' '};
    static const unsigned char fat16[8] = {'F', 'A', 'T', '1', '6', ' ', ' ', ' '};

    memset(boot, 0, (size_t)s->bytes);
    memcpy(boot, start, sizeof start);
    setu16l(boot + BOOTBYTESPERSECTOR, s->bytes);
    boot[BOOTSECTORSPERCLUSTER] = (unsigned char)s->clustersectors;
    setu16l(boot + BOOTRESERVED, s->reserved);
    boot[BOOTFATS] = (unsigned char)s->fats;
    setu16l(boot + BOOTROOTENTRIES, s->rootentries);
    if (s->sectors <= 0xFFFF)
        setu16l(boot + BOOTSECTORS, s->sectors);
    else
        setu32l(boot + BOOTSECTORS32, s->sectors);
    boot[BOOTMEDIA] = (unsigned char)s->descriptor;
    setu16l(boot + BOOTSECTORSPERFAT, s->fatsectors);
    setu16l(boot + BOOTSECTORSPERTRACK, s->sectorspertrack);
    setu16l(boot + BOOTHEADS, s->heads);
    setu32l(boot + BOOTHIDDEN, (int32_t)s->hidden);
    boot[BOOTEXTENDED] = BOOTEXTENDEDMARK;
    setu32l(boot + BOOTSERIAL, (int32_t)serial);
    memcpy(boot + BOOTLABEL, label, 11);
    memcpy(boot + BOOTFSTYPE, s->fatbits == 16 ? fat16 : fat12, sizeof fat12);
    boot[BOOTSIGNATURE] = 0x55;
    boot[BOOTSIGNATURE + 1] = 0xAA;
}

// Sector n of the blank volume into buf: the boot sector, the first sector
// of a FAT copy (its two reserved entries), the root's first sector holding
// the label entry when labelentry is set, or zeros.
static void blanksector(const volumeshape *s, int32_t n, const unsigned char *label,
                        int labelentry, uint32_t serial, unsigned char *buf)
{
    static const fattime midnight = {0, 0x21}; // 1980-01-01: the label has no time of its own
    // Unsigned, so that a reserved sector (negative here) is no FAT sector.
    uint32_t fatsector = (uint32_t)(n - s->reserved);

    memset(buf, 0, (size_t)s->bytes);
    if (n == 0) {
        makebootsector(s, label, serial, buf);
    } else if (fatsector < (uint32_t)(s->fats * s->fatsectors) &&
               fatsector % (uint32_t)s->fatsectors == 0) {
        buf[0] = (unsigned char)s->descriptor;
        memset(buf + 1, 0xFF, s->fatbits == 16 ? 3 : 2);
    } else if (labelentry && n == s->reserved + s->fats * s->fatsectors) {
        fillentry(buf, label, ATTRLABEL, 0, 0, &midnight);
    }
}

// The sectors of the shape before which every sector of a blank volume
// that is not zeros lies: the boot sector, the FATs and the root.
int32_t blanksystemsectors(const volumeshape *s)
{
    return s->reserved + s->fats * s->fatsectors + (s->rootentries * 32 + s->bytes - 1) / s->bytes;
}

// Writes the first n sectors of the blank volume of the shape to out, at
// its position, one at a time: the label (11 bytes) in the boot sector, and
// as the root's first entry too when labelentry is set. buf is scratch of
// a sector. 1 on success.
int writeblankhead(FILE *out, const volumeshape *s, int32_t n, const blanklabel *l,
                   unsigned char *buf)
{
    int ok = 1;

    for (int32_t i = 0; ok && i < n && i < s->sectors; i++) {
        blanksector(s, i, l->label, l->entry, l->serial, buf);
        ok = (int32_t)fwrite(buf, 1, (size_t)s->bytes, out) == s->bytes;
    }
    return ok;
}

// Writes the whole blank volume of the shape to out, at its position, as
// writeblankhead writes its sectors.
int writeblankvolume(FILE *out, const volumeshape *s, const unsigned char *label, int labelentry,
                     uint32_t serial, unsigned char *buf)
{
    blanklabel l = {label, labelentry, serial};

    return writeblankhead(out, s, s->sectors, &l, buf);
}
