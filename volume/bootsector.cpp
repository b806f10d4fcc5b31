// Reading the boot sector's parameter block.
#include "bootsector.h"

#include <climits>

#include "volume/bytes.h"
#include "volume/image/sectormap.h"

// The block at boot (BOOTBLOCKBYTES at least) into *b.
void readbootfields(const unsigned char *boot, bootfields *b)
{
    b->bytespersector = getu16l(boot + BOOTBYTESPERSECTOR);
    b->sectorspercluster = boot[BOOTSECTORSPERCLUSTER];
    b->reservedsectors = getu16l(boot + BOOTRESERVED);
    b->fatcount = boot[BOOTFATS];
    b->rootentries = getu16l(boot + BOOTROOTENTRIES);
    b->totalsectors = getu16l(boot + BOOTSECTORS);
    // Every volume over 32 MB counts its sectors in 32 bits; one past what
    // a sector number holds fits no file these tools can read anyway.
    if (b->totalsectors == 0) {
        uint32_t big = (uint32_t)geti32l(boot + BOOTSECTORS32);
        b->totalsectors = big > INT32_MAX ? INT32_MAX : (int32_t)big;
    }
    b->mediadescriptor = boot[BOOTMEDIA];
    b->sectorsperfat = getu16l(boot + BOOTSECTORSPERFAT);
    b->sectorspertrack = getu16l(boot + BOOTSECTORSPERTRACK);
    b->heads = getu16l(boot + BOOTHEADS);
}

// The standard type a parameter block names: by its track geometry, else
// by its volume's size (mkfs.fat writes its own sectors a track), of its
// sector size either way; or null. *exact, when asked, is 1 when both its
// geometry and its sector count are the type's (what lays out a DCP
// image's tracks without doubt).
const floppytype *floppytypeofblock(const unsigned char *boot, int *exact)
{
    bootfields b;
    const floppytype *t;

    readbootfields(boot, &b);
    t = floppytypeof(b.bytespersector, b.sectorspertrack, b.heads);
    if (exact)
        *exact = t && b.totalsectors == floppysectors(t);
    if (!t)
        t = floppytypeofsize((int64_t)b.totalsectors * b.bytespersector);
    return t && t->bytes == b.bytespersector ? t : nullptr;
}
