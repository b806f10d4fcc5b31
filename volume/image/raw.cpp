// Raw images (HDM and the other raw extensions): the volume alone, track
// after track, recognised by its size being one of the standard volumes'.
#include "volume/bytes.h"

#include "sectormap.h"

int recogniseraw(FILE *, const unsigned char *, int32_t, int64_t size)
{
    return floppytypeofsize(size) != nullptr;
}

// Volume byte b is file byte b.
int mapraw(FILE *, sectormap *m, int32_t)
{
    m->type = floppytypeofsize(m->filesize);
    m->linear = 1;
    m->base = 0;
    m->missing = 0;
    return MAPOK;
}

// The volume alone; it cannot say a sector is absent.
int writeraw(FILE *out, newimage *n, unsigned char *buf)
{
    if (firstabsent(n) >= 0)
        return WRITENEEDSFILL;
    return writetracks(out, n, 0, n->type->cylinders * n->type->heads, buf);
}
