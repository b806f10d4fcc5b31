// HDI hard-disk images (the Anex86 emulator's): a header that gives its own
// size, the disk's and its geometry, then the disk; no signature.
#include "volume/bytes.h"

#include "sectormap.h"

enum { HDIHEADERMIN = 32, FLOPPYMOST = 2880 };

// 1 when the header's sizes and geometry add up and the file holds them: a
// disk of 256- or 512-byte sectors, more than a floppy's 2880 (an FDI
// shares the layout). Each factor is bounded before the product.
int recognisehdi(FILE *, const unsigned char *head, int32_t n, int64_t size)
{
    int64_t header, disk, bytes, spt, heads, cyls;

    if (n < HDIHEADERMIN || geti32l(head) != 0)
        return 0;
    header = (uint32_t)geti32l(head + 8);
    disk = (uint32_t)geti32l(head + 12);
    bytes = (uint32_t)geti32l(head + 16);
    spt = (uint32_t)geti32l(head + 20);
    heads = (uint32_t)geti32l(head + 24);
    cyls = (uint32_t)geti32l(head + 28);
    if ((bytes != 256 && bytes != 512) || spt < 1 || spt > 255 || heads < 1 || heads > 255 ||
        cyls < 1 || cyls > 65535)
        return 0;
    return header >= HDIHEADERMIN && disk == bytes * spt * heads * cyls &&
           spt * heads * cyls > FLOPPYMOST && header + disk <= size;
}

// Disk byte b is file byte header + b; the partition is chosen after.
int maphdi(FILE *f, sectormap *m, int32_t)
{
    unsigned char head[HDIHEADERMIN];

    if (!readat(f, 0, head, HDIHEADERMIN))
        return MAPUNREAD;
    m->hard = 1;
    m->diskbase = (uint32_t)geti32l(head + 8);
    m->diskbytes = geti32l(head + 16);
    m->diskspt = geti32l(head + 20);
    m->diskheads = geti32l(head + 24);
    m->diskcylinders = geti32l(head + 28);
    return MAPOK;
}
