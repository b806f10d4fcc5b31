// The DCP types: what a track of one holds and how many tracks its volume
// fills. (The header itself is the
// container's: volume/image/dcp.cpp.)
#include "dcpheader.h"

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
