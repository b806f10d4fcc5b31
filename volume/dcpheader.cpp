// The DCP types: the one a parameter block lays out, what a track of one
// holds and how many tracks its volume fills. (The header itself is the
// container's: volume/image/dcp.cpp.)
#include "dcpheader.h"

// The type whose geometry the boot sector's parameter block gives: bytes
// a sector, sectors, sectors a track and heads (what lays out the tracks);
// or null.
const dcptype *dcptypeofboot(const unsigned char *boot)
{
    bootfields b;
    const dcptype *t;

    readbootfields(boot, &b);
    t = floppytypeof(b.bytespersector, b.sectorspertrack, b.heads);
    return t && b.totalsectors == floppysectors(t) ? t : nullptr;
}

// Bytes in one track of the type.
int32_t tracksize(const dcptype *t)
{
    return t->sectors * t->bytes;
}

// Tracks that the type's volume fills.
int32_t volumetracks(const dcptype *t)
{
    return t->cylinders * t->heads;
}
