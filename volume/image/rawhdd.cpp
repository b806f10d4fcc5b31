// Raw hard disks: the disk alone, of 512-byte sectors, known by its IPL
// sector ("IPL1" at byte 4, 55 AA at its end) and a partition table with an
// entry in it; the IDE view of its geometry, 8 heads and 17 sectors a track.
#include <cstring>

#include "sectormap.h"

enum { RAWSECTOR = 512, RAWHEADS = 8, RAWSPT = 17, TABLEAT = 512, ENTRY = 32 };

int recogniserawhdd(FILE *, const unsigned char *head, int32_t n, int64_t size)
{
    int used = 0;

    if (n < TABLEAT + 16 * ENTRY || size % RAWSECTOR != 0 || memcmp(head + 4, "IPL1", 4) != 0 ||
        head[510] != 0x55 || head[511] != 0xAA)
        return 0;
    for (int32_t e = 0; e < 16 && !used; e++)
        for (int32_t i = 0; i < ENTRY; i++)
            used |= head[TABLEAT + e * ENTRY + i] != 0;
    return used;
}

// Disk byte b is file byte b; the partition is chosen after.
int maprawhdd(FILE *, sectormap *m, int32_t)
{
    m->hard = 1;
    m->diskbase = 0;
    m->diskbytes = RAWSECTOR;
    m->diskheads = RAWHEADS;
    m->diskspt = RAWSPT;
    m->diskcylinders = (int32_t)(m->filesize / ((int64_t)RAWSECTOR * RAWHEADS * RAWSPT));
    return MAPOK;
}
