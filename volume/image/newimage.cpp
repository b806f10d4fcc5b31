// What every container's writer shares: the sectors of the new image, read
// from the source through its map, and which of them it lacks.
#include <cstring>

#include "sectormap.h"

// File offset of the new image's sector in the source, or NOTINIMAGE when
// the source lacks it (its map says so, or its file ends before it).
static int64_t sourceoffset(newimage *n, int32_t sector)
{
    int64_t off = sectoroffset(n->from, sector, n->type->bytes);

    return off != NOTINIMAGE && off + n->type->bytes <= n->from->filesize ? off : NOTINIMAGE;
}

// The sector's bytes into buf: 1 when the source holds it (or fill stands
// in for it), 0 when it is absent, -1 when the read fails.
int readnewsector(newimage *n, int32_t sector, unsigned char *buf)
{
    int64_t off = sourceoffset(n, sector);

    if (off == NOTINIMAGE && n->fill < 0)
        return 0;
    if (off == NOTINIMAGE) {
        memset(buf, n->fill, (size_t)n->type->bytes);
        return 1;
    }
    if (off < n->cacheat || off + n->type->bytes > n->cacheat + n->cachelen) {
        int64_t want = n->from->filesize - off < CACHEBYTES ? n->from->filesize - off
                                                            : (int64_t)CACHEBYTES;
        if (!readat(n->in, off, n->cache, (int32_t)want)) {
            n->cacheat = -1;
            return -1;
        }
        n->cacheat = off;
        n->cachelen = (int32_t)want;
    }
    memcpy(buf, n->cache + (off - n->cacheat), (size_t)n->type->bytes);
    return 1;
}

// The source's 16-byte D88 sector header of the new image's sector into h:
// 1 when the source is a D88 that holds it (its header stands just before
// its data), else 0.
int sourced88header(newimage *n, int32_t sector, unsigned char *h)
{
    int64_t off = sourceoffset(n, sector);

    return n->from->container == CONTAINERD88 && off != NOTINIMAGE && off >= 16 &&
           readat(n->in, off - 16, h, 16);
}

// 1 when the new image holds the sector: always with a fill byte, else
// when the source does.
int newsectorpresent(newimage *n, int32_t sector)
{
    return n->fill >= 0 || sourceoffset(n, sector) != NOTINIMAGE;
}

// Sectors of the track the new image holds.
int32_t trackpresent(newimage *n, int32_t track)
{
    int32_t count = 0;

    for (int32_t r = 0; r < n->type->sectors; r++)
        count += newsectorpresent(n, track * n->type->sectors + r);
    return count;
}

// The first sector the new image lacks, or -1 when it holds them all.
int32_t firstabsent(newimage *n)
{
    int32_t total = n->type->cylinders * n->type->heads * n->type->sectors;

    for (int32_t s = 0; n->fill < 0 && s < total; s++)
        if (sourceoffset(n, s) == NOTINIMAGE)
            return s;
    return -1;
}

// Writes the sectors of the tracks from first to last, exclusive, one after
// another, each present one whole; buf is scratch of a sector. WRITEOK, or
// WRITEFAILED.
int writetracks(FILE *out, newimage *n, int32_t first, int32_t last, unsigned char *buf)
{
    for (int32_t s = first * n->type->sectors; s < last * n->type->sectors; s++) {
        int r = readnewsector(n, s, buf);
        if (r < 0 || (r > 0 && (int32_t)fwrite(buf, 1, (size_t)n->type->bytes, out) !=
                                   n->type->bytes))
            return WRITEFAILED;
    }
    return WRITEOK;
}
