// Virtual98 HDD images: a 220-byte header with a signature, a comment and
// the geometry, then the disk. The file may end before the disk does.
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum {
    VHDHEADER = 0xDC, VHDSIZEMB = 0x8C, VHDBYTES = 0x8E, VHDSPT = 0x90, VHDHEADS = 0x91, VHDCYLINDERS = 0x92,
    VHDTOTAL = 0x94
};
static const char vhdsignature[8] = "VHD1.00";

// The header's geometry; 1 when it is a disk's and its sector count agrees.
static int vhdgeometry(const unsigned char *head, int64_t *g)
{
    g[0] = getu16l(head + VHDBYTES);
    g[1] = head[VHDSPT];
    g[2] = head[VHDHEADS];
    g[3] = getu16l(head + VHDCYLINDERS);
    return plausibledisk(g[0], g[1], g[2], g[3]) &&
           (uint32_t)geti32l(head + VHDTOTAL) == g[1] * g[2] * g[3];
}

// 1 for the signature, with a geometry that adds up.
int recognisevhd98(FILE *, const unsigned char *head, int32_t n, int64_t)
{
    int64_t g[4];

    return n >= VHDHEADER && memcmp(head, vhdsignature, 8) == 0 && vhdgeometry(head, g);
}

// 1 with text saying so when the signature is there and the geometry is not.
int vhd98lookslike(const unsigned char *head, int32_t got, char *text, int32_t n)
{
    int64_t g[4];

    if (got < VHDHEADER || memcmp(head, vhdsignature, 8) != 0 || vhdgeometry(head, g))
        return 0;
    snprintf(text, (size_t)n, "looks like a Virtual98 image, but its header's geometry (%lld "
                              "cylinders, %lld heads, %lld sectors a track of %lld bytes, %lu "
                              "sectors in all) is no disk's",
             (long long)g[3], (long long)g[2], (long long)g[1], (long long)g[0],
             (unsigned long)(uint32_t)geti32l(head + VHDTOTAL));
    return 1;
}

// Disk byte b is file byte 220 + b, zeros past the file's end.
int mapvhd98(FILE *f, sectormap *m, int32_t)
{
    unsigned char head[VHDHEADER];
    int64_t g[4];

    if (!readat(f, 0, head, VHDHEADER))
        return MAPUNREAD;
    if (!vhdgeometry(head, g))
        return MAPBADHEADER;
    m->zerotail = 1;
    return mapdisk(m, VHDHEADER, g);
}

// The header of a Virtual98 HDD of the disk's geometry into h: its size,
// 220; or -1 when its fields cannot say it (its size in MB is a u16, its
// sectors a track and heads bytes).
int vhd98header(unsigned char *h, const sectormap *d)
{
    if ((diskbytesof(d) >> 20) > 0xFFFF || d->diskspt > 255 || d->diskheads > 255)
        return -1;
    memset(h, 0, VHDHEADER);
    memcpy(h, vhdsignature, sizeof vhdsignature);
    setu16l(h + VHDSIZEMB, (int32_t)(diskbytesof(d) >> 20));
    setu16l(h + VHDBYTES, d->diskbytes);
    h[VHDSPT] = (unsigned char)d->diskspt;
    h[VHDHEADS] = (unsigned char)d->diskheads;
    setu16l(h + VHDCYLINDERS, d->diskcylinders);
    setu32l(h + VHDTOTAL, (int32_t)(uint32_t)((int64_t)d->diskspt * d->diskheads *
                                              d->diskcylinders));
    return VHDHEADER;
}
