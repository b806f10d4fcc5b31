// FDI images (the Anex86 emulator's): a header that gives its own size and
// the geometry, then the raw volume.
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum { FDIHEADERMIN = 32 };

// The most a floppy's geometry field can say: a sector of 128 << 7 bytes,
// and a byte's worth of sectors, heads or cylinders. Each factor is checked
// against it before the product, which then cannot overflow.
static const int64_t fdimost[4] = {16384, 255, 255, 255};

// 1 when the header's sizes and geometry add up to the file: raw images
// renamed to .fdi circulate, and they must not be taken for one.
int recognisefdi(FILE *, const unsigned char *head, int32_t n, int64_t size)
{
    int64_t header, volume, product = 1;

    if (n < FDIHEADERMIN || geti32l(head) != 0)
        return 0;
    header = (uint32_t)geti32l(head + 8);
    volume = (uint32_t)geti32l(head + 12);
    for (int i = 0; i < 4; i++) {
        int64_t factor = (uint32_t)geti32l(head + 16 + 4 * (size_t)i);
        if (factor < 1 || factor > fdimost[i])
            return 0;
        product *= factor;
    }
    return header >= FDIHEADERMIN && header + volume == size && volume == product;
}

// Volume byte b is file byte header + b.
int mapfdi(FILE *f, sectormap *m, int32_t)
{
    unsigned char head[FDIHEADERMIN];

    if (!readat(f, 0, head, FDIHEADERMIN))
        return MAPUNREAD;
    m->type = floppytypeof(geti32l(head + 16), geti32l(head + 20), geti32l(head + 24));
    m->linear = 1;
    m->base = (uint32_t)geti32l(head + 8);
    m->missing = 0;
    return MAPOK;
}

enum { FDINEWHEADER = 4096 };

// A 4096-byte header, as the emulator's own tools write it, then the
// volume; it cannot say a sector is absent.
int writefdi(FILE *out, newimage *n, unsigned char *buf)
{
    const floppytype *t = n->type;
    int64_t volume = (int64_t)t->cylinders * t->heads * t->sectors * t->bytes;

    if (firstabsent(n) >= 0)
        return WRITENEEDSFILL;
    memset(buf, 0, FDINEWHEADER);
    setu32l(buf + 4, t->fditype);
    setu32l(buf + 8, FDINEWHEADER);
    setu32l(buf + 12, (int32_t)volume);
    setu32l(buf + 16, t->bytes);
    setu32l(buf + 20, t->sectors);
    setu32l(buf + 24, t->heads);
    setu32l(buf + 28, t->cylinders);
    if (fwrite(buf, 1, FDINEWHEADER, out) != FDINEWHEADER)
        return WRITEFAILED;
    return writetracks(out, n, 0, t->cylinders * t->heads, buf);
}
