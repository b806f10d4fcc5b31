// The DCP header: a media type byte, a flag per track (cylinder * 2 + head)
// that says whether the image stores it, and byte 161; and the floppy type
// a parameter block gives.
#include <cstring>

#include "diskprops.h"

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

// The header of a whole image of the type: every track of it stored.
void makedcpheader(const dcptype *t, unsigned char *header)
{
    memset(header, 0, DCPHEADERSIZE);
    header[0] = (unsigned char)t->dcpmedia;
    memset(header + 1, 1, (size_t)t->cylinders * (size_t)t->heads);
}
