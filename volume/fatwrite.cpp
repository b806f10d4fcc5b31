// Changing the FAT: chains are set and freed in the decoded array, and the
// whole array is encoded back into every FAT copy at once.
#include "fatwrite.h"

// Makes the count clusters from first one chain, in order, ended by an
// end-of-chain mark.
void setrun(diskprops *dp, int32_t first, int32_t count)
{
    int32_t i;

    for (i = 0; i < count; i++)
        dp->fat[first + i] = i + 1 < count ? first + i + 1 : dp->endmark;
}

// Frees every cluster of the sound chain from first.
void freechain(diskprops *dp, int32_t first)
{
    int32_t c = first;

    while (c >= 2 && c < dp->endofchain) {
        int32_t next = dp->fat[c];
        dp->fat[c] = 0;
        c = next;
    }
}

// Encodes the FAT12 entries the opening decoded into buf (the work buffer
// they came from holds them) and writes them into every FAT copy: whole
// groups only, so that a copy's odd last bytes are never touched.
static int writefat12(FILE *image, diskprops *dp, unsigned char *buf)
{
    int32_t entries = fatentriesread(dp), n = entries / 2 * 3, e, copy;
    unsigned char *p = buf;

    for (e = 0; e < entries; e += 2, p += 3) {
        int32_t v = dp->fat[e] | dp->fat[e + 1] << 12;
        p[0] = (unsigned char)(v & 0xFF);
        p[1] = (unsigned char)((v >> 8) & 0xFF);
        p[2] = (unsigned char)((v >> 16) & 0xFF);
    }
    for (copy = 0; copy < dp->fatcount; copy++) {
        int64_t at = (int64_t)dp->fatstart + (int64_t)copy * dp->sectorsperfat;
        if (!writeimagechanged(image, dp, at * dp->bytespersector, buf, n))
            return 0;
    }
    return 1;
}

// Writes the FAT16 entries the opening decoded into every FAT copy, a work
// buffer of them at a time, each piece encoded once for all the copies.
static int writefat16(FILE *image, diskprops *dp, unsigned char *buf)
{
    int32_t entries = fatentriesread(dp), e, i, n, copy;

    for (e = 0; e < entries; e += n) {
        n = entries - e < WORKBUFSIZE / 2 ? entries - e : WORKBUFSIZE / 2;
        for (i = 0; i < n; i++)
            setu16l(buf + (size_t)2 * i, dp->fat[e + i]);
        for (copy = 0; copy < dp->fatcount; copy++) {
            int64_t at = ((int64_t)dp->fatstart + (int64_t)copy * dp->sectorsperfat) *
                         dp->bytespersector;
            if (!writeimagechanged(image, dp, at + (int64_t)e * 2, buf, n * 2))
                return 0;
        }
    }
    return 1;
}

// Writes the decoded FAT into every copy; 1 on success.
int writefats(FILE *image, diskprops *dp, unsigned char *buf)
{
    return dp->fatbits == 16 ? writefat16(image, dp, buf) : writefat12(image, dp, buf);
}
