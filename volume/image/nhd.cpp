// NHD hard-disk images (the T98-Next emulator's): a 512-byte header with a
// signature, a comment and the geometry, then the disk.
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum {
    NHDHEADER = 0x200, NHDSIZE = 0x110, NHDCYLINDERS = 0x114, NHDHEADS = 0x118, NHDSPT = 0x11A,
    NHDBYTES = 0x11C
};
static const char nhdsignature[16] = "T98HDDIMAGE.R0";

// The header's size and geometry into g (bytes, sectors a track, heads,
// cylinders); 1 for the signature.
static int nhdfields(const unsigned char *head, int32_t n, int64_t *header, int64_t *g)
{
    if (n < NHDHEADER || memcmp(head, nhdsignature, 15) != 0)
        return 0;
    *header = (uint32_t)geti32l(head + NHDSIZE);
    g[0] = getu16l(head + NHDBYTES);
    g[1] = getu16l(head + NHDSPT);
    g[2] = getu16l(head + NHDHEADS);
    g[3] = (uint32_t)geti32l(head + NHDCYLINDERS);
    return 1;
}

// 1 when the file holds a header no smaller than 512 bytes and a disk.
static int nhdfits(int64_t header, const int64_t *g, int64_t size)
{
    return plausibledisk(g[0], g[1], g[2], g[3]) && header >= NHDHEADER && header <= size &&
           header + g[0] * g[1] * g[2] * g[3] <= size;
}

// 1 for the signature, with a geometry that fits the file.
int recognisenhd(FILE *, const unsigned char *head, int32_t n, int64_t size)
{
    int64_t header, g[4];

    return nhdfields(head, n, &header, g) && nhdfits(header, g, size);
}

// 1 with text saying so when the signature is there and the rest does not fit.
int nhdlookslike(const unsigned char *head, int32_t got, int64_t size, char *text, int32_t n)
{
    int64_t header, g[4];

    if (!nhdfields(head, got, &header, g) || nhdfits(header, g, size))
        return 0;
    if (header < NHDHEADER || header > size) {
        snprintf(text, (size_t)n, "looks like an NHD image, but its header's size %lld is "
                                  "below 512 or past the file's end", (long long)header);
        return 1;
    }
    return disklookslike("NHD", g, header, size, text, n);
}

// Disk byte b is file byte header + b; the partition is chosen after.
int mapnhd(FILE *f, sectormap *m, int32_t)
{
    unsigned char head[NHDHEADER];
    int64_t header, g[4];

    if (!readat(f, 0, head, NHDHEADER))
        return MAPUNREAD;
    if (!nhdfields(head, NHDHEADER, &header, g) || !plausibledisk(g[0], g[1], g[2], g[3]) ||
        header < NHDHEADER)
        return MAPBADHEADER;
    return mapdisk(m, header, g);
}

// The header of an NHD of the disk's geometry into h: its size, 512.
int nhdheader(unsigned char *h, const sectormap *d)
{
    memset(h, 0, NHDHEADER);
    memcpy(h, nhdsignature, sizeof nhdsignature);
    setu32l(h + NHDSIZE, NHDHEADER);
    setu32l(h + NHDCYLINDERS, d->diskcylinders);
    setu16l(h + NHDHEADS, d->diskheads);
    setu16l(h + NHDSPT, d->diskspt);
    setu16l(h + NHDBYTES, d->diskbytes);
    return NHDHEADER;
}
