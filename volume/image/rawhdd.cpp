// Raw hard disks: the disk alone, of 512-byte sectors, known by its IPL
// sector ("IPL1" at byte 4, 55 AA at its end) and a partition table with an
// entry in it.
#include <cstring>

#include "volume/bootsector.h"
#include "volume/bytes.h"

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
            used |= head[TABLEAT + (size_t)e * ENTRY + (size_t)i] != 0;
    return used;
}

// 1 when, in heads and spt a cylinder, the first entry of the table
// (sector) starts at a sector whose boot sector's hidden-sector field (in
// 512-byte sectors) says it starts there.
static int agrees(FILE *f, const unsigned char *sector, int32_t heads, int32_t spt)
{
    unsigned char boot[BOOTBLOCKBYTES];
    int64_t first = ((int64_t)getu16l(sector + 10) * heads + sector[9]) * spt + sector[8];

    return readat(f, first * RAWSECTOR, boot, BOOTBLOCKBYTES) &&
           (boot[BOOTJUMP] == 0xEB || boot[BOOTJUMP] == 0xE9) &&
           (uint32_t)geti32l(boot + BOOTHIDDEN) == (uint64_t)first;
}

// Disk byte b is file byte b; the partition is chosen after. The geometry
// is the IDE view, 8 heads and 17 sectors a track, unless only another in
// use (GNU parted's 4/32, 16/63, RaSCSI's 8/25) puts the first partition
// where its boot sector says it lies.
int maprawhdd(FILE *f, sectormap *m, int32_t)
{
    static const int32_t geometries[][2] = {{RAWHEADS, RAWSPT}, {4, 32}, {16, 63}, {8, 25}};
    unsigned char sector[RAWSECTOR];
    int32_t g = 0;

    if (readat(f, TABLEAT, sector, RAWSECTOR) && !agrees(f, sector, RAWHEADS, RAWSPT))
        for (g = 1; g < 4 && !agrees(f, sector, geometries[g][0], geometries[g][1]); g++)
            ;
    if (g == 4)
        g = 0;
    m->hard = 1;
    m->diskbase = 0;
    m->diskbytes = RAWSECTOR;
    m->diskheads = geometries[g][0];
    m->diskspt = geometries[g][1];
    m->diskcylinders = (int32_t)(m->filesize / ((int64_t)RAWSECTOR * m->diskheads * m->diskspt));
    return MAPOK;
}
