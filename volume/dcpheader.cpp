// The DCP header: a media type byte, a flag per track (cylinder * 2 + head)
// that says whether the image stores it, and byte 161. The known types, each
// with the parameter block of its standard FAT12 format.
#include <cstring>

#include "diskprops.h"

static const dcptype types[] = {
    // name, media byte, cylinders, heads, sectors a track, bytes a sector;
    // then sectors a cluster, reserved, FATs, root entries, total sectors,
    // media descriptor, sectors a FAT
    {"2hd", 0x01, 77, 2, 8, 1024, 1, 1, 2, 192, 1232, 0xFE, 2},
    {"2hc", 0x02, 80, 2, 15, 512, 1, 1, 2, 224, 2400, 0xF9, 7},
    {"2hq", 0x03, 80, 2, 18, 512, 1, 1, 2, 224, 2880, 0xF0, 9},
    {"2dd", 0x05, 80, 2, 9, 512, 2, 1, 2, 112, 1440, 0xF9, 3},
};
enum { TYPECOUNT = sizeof types / sizeof types[0] };

// The type that create takes by this name, or null.
const dcptype *dcptypenamed(const char *name)
{
    int i;

    for (i = 0; i < TYPECOUNT; i++)
        if (strcmp(types[i].name, name) == 0)
            return &types[i];
    return nullptr;
}

// The type whose header starts with this media byte, or null.
const dcptype *dcptypeofmedia(int32_t media)
{
    int i;

    for (i = 0; i < TYPECOUNT; i++)
        if (types[i].media == media)
            return &types[i];
    return nullptr;
}

// The type whose geometry the boot sector's parameter block gives: bytes
// a sector, sectors, sectors a track and heads (what lays out the tracks);
// or null.
const dcptype *dcptypeofboot(const unsigned char *boot)
{
    int i;

    for (i = 0; i < TYPECOUNT; i++) {
        const dcptype *t = &types[i];
        if (getu16l(boot + 11) == t->bytes && getu16l(boot + 19) == t->total &&
            getu16l(boot + 24) == t->sectors && getu16l(boot + 26) == t->heads)
            return t;
    }
    return nullptr;
}

// Bytes in one track of the type.
int32_t tracksize(const dcptype *t)
{
    return t->sectors * t->bytes;
}

// Tracks that the type's volume fills.
int32_t volumetracks(const dcptype *t)
{
    return (t->total * t->bytes + tracksize(t) - 1) / tracksize(t);
}

// The header of a whole image of the type: every track of it stored.
void makedcpheader(const dcptype *t, unsigned char *header)
{
    memset(header, 0, DCPHEADERSIZE);
    header[0] = (unsigned char)t->media;
    memset(header + 1, 1, (size_t)t->cylinders * (size_t)t->heads);
}
