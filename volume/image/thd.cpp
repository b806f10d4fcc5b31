// THD hard-disk images (the T98 emulator's): a 256-byte header of which
// only the first u16, the cylinder count, means anything; 8 heads, 33
// sectors a track of 256 bytes. No signature: a THD is known by its name.
// The file may end before the disk does.
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum { THDHEADER = 256, THDHEADS = 8, THDSPT = 33, THDBYTES = 256 };

// Never from the content alone.
int recognisethd(FILE *, const unsigned char *, int32_t, int64_t)
{
    return 0;
}

// Disk byte b is file byte 256 + b, zeros past the file's end.
int mapthd(FILE *f, sectormap *m, int32_t)
{
    unsigned char head[2];

    if (!readat(f, 0, head, 2) || m->filesize < THDHEADER)
        return MAPUNREAD;
    if (getu16l(head) == 0)
        return MAPBADHEADER;
    const int64_t g[4] = {THDBYTES, THDSPT, THDHEADS, getu16l(head)};
    m->zerotail = 1;
    return mapdisk(m, THDHEADER, g);
}

// The header of a THD of the disk into h: its size, 256, or -1 when the
// disk is not of the one geometry a THD holds.
int thdheader(unsigned char *h, const sectormap *d)
{
    if (d->diskbytes != THDBYTES || d->diskspt != THDSPT || d->diskheads != THDHEADS)
        return -1;
    memset(h, 0, THDHEADER);
    setu16l(h, d->diskcylinders);
    return THDHEADER;
}
