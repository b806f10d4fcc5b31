// NHD hard-disk images (the T98-Next emulator's): a 512-byte header with a
// signature, a comment and the geometry, then the disk.
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum {
    NHDHEADER = 0x200, NHDSIZE = 0x110, NHDCYLINDERS = 0x114, NHDHEADS = 0x118, NHDSPT = 0x11A,
    NHDBYTES = 0x11C
};
static const char nhdsignature[16] = "T98HDDIMAGE.R0";

// 1 for the signature, with a geometry that fits the file.
int recognisenhd(FILE *, const unsigned char *head, int32_t n, int64_t size)
{
    int64_t header, bytes, spt, heads, cyls;

    if (n < NHDHEADER || memcmp(head, nhdsignature, 15) != 0)
        return 0;
    header = (uint32_t)geti32l(head + NHDSIZE);
    cyls = (uint32_t)geti32l(head + NHDCYLINDERS);
    heads = getu16l(head + NHDHEADS);
    spt = getu16l(head + NHDSPT);
    bytes = getu16l(head + NHDBYTES);
    return (bytes == 256 || bytes == 512) && spt >= 1 && spt <= 255 && heads >= 1 &&
           heads <= 255 && cyls >= 1 && cyls <= 65535 && header >= NHDHEADER &&
           header + bytes * spt * heads * cyls <= size;
}

// Disk byte b is file byte header + b; the partition is chosen after.
int mapnhd(FILE *f, sectormap *m, int32_t)
{
    unsigned char head[NHDHEADER];

    if (!readat(f, 0, head, NHDHEADER))
        return MAPUNREAD;
    m->hard = 1;
    m->diskbase = (uint32_t)geti32l(head + NHDSIZE);
    m->diskcylinders = geti32l(head + NHDCYLINDERS);
    m->diskheads = getu16l(head + NHDHEADS);
    m->diskspt = getu16l(head + NHDSPT);
    m->diskbytes = getu16l(head + NHDBYTES);
    return MAPOK;
}
