// HDI hard-disk images (the Anex86 emulator's): a header that gives its own
// size, the disk's and its geometry, then the disk; no signature.
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum { HDIHEADERMIN = 32, HDIHEADERMOST = 1 << 20, HDIHEADERSIZE = 4096 };

// The header's size, and its disk's geometry into g (bytes, sectors a
// track, heads, cylinders); 1 when the header is shaped as an HDI's: a
// first u32 of 0, a sane header size, and a disk size that is the
// geometry's of a disk larger than a floppy (an FDI shares the layout).
static int hdishape(const unsigned char *head, int32_t n, int64_t *header, int64_t *g)
{
    int64_t disk;

    if (n < HDIHEADERMIN || geti32l(head) != 0)
        return 0;
    *header = (uint32_t)geti32l(head + 8);
    disk = (uint32_t)geti32l(head + 12);
    for (int i = 0; i < 4; i++)
        g[i] = (uint32_t)geti32l(head + 16 + (size_t)4 * i);
    return *header >= HDIHEADERMIN && *header <= HDIHEADERMOST &&
           plausibledisk(g[0], g[1], g[2], g[3]) && disk == g[0] * g[1] * g[2] * g[3] &&
           g[1] * g[2] * g[3] > FLOPPYSECTORSMOST;
}

// 1 when the header is an HDI's and the file holds the header and the disk.
int recognisehdi(FILE *, const unsigned char *head, int32_t n, int64_t size)
{
    int64_t header, g[4];

    return hdishape(head, n, &header, g) && header + g[0] * g[1] * g[2] * g[3] <= size;
}

// 1 with text saying so when the header is an HDI's whose disk ends past
// the file's end.
int hdilookslike(const unsigned char *head, int32_t got, int64_t size, char *text, int32_t n)
{
    int64_t header, g[4];

    return hdishape(head, got, &header, g) && disklookslike("HDI", g, header, size, text, n);
}

// Disk byte b is file byte header + b; the partition is chosen after.
int maphdi(FILE *f, sectormap *m, int32_t)
{
    unsigned char head[HDIHEADERMIN];
    int64_t header, g[4];

    if (!readat(f, 0, head, HDIHEADERMIN))
        return MAPUNREAD;
    if (!hdishape(head, HDIHEADERMIN, &header, g))
        return MAPBADHEADER;
    return mapdisk(m, header, g);
}

// The header of an HDI of the disk's geometry into h (HDIHEADERSIZE bytes):
// its size, or -1 when the disk is past 4 GB, which its u32 cannot say.
int hdiheader(unsigned char *h, const sectormap *d)
{
    int64_t disk = diskbytesof(d);

    if (disk > (int64_t)UINT32_MAX)
        return -1;
    memset(h, 0, HDIHEADERSIZE);
    setu32l(h + 8, HDIHEADERSIZE);
    setu32l(h + 12, (int32_t)(uint32_t)disk);
    setu32l(h + 16, d->diskbytes);
    setu32l(h + 20, d->diskspt);
    setu32l(h + 24, d->diskheads);
    setu32l(h + 28, d->diskcylinders);
    return HDIHEADERSIZE;
}
