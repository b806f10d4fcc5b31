// Raw images (HDM and the other raw extensions): the volume alone, track
// after track, recognised by its size being one of the standard volumes';
// and raw volumes of any size, recognised by their boot sector.
#include <cstdio>

#include "volume/bootsector.h"
#include "volume/bytes.h"

#include "sectormap.h"

static int powerof2(int32_t v, int32_t lo, int32_t hi)
{
    return v >= lo && v <= hi && (v & (v - 1)) == 0;
}

// The bytes of the volume whose boot sector head (got bytes) starts with:
// a jump and a parameter block that a FAT volume could have, and no
// standard floppy's (those are known by their size, as they always were);
// else -1. A DCP image starts with its media byte, never with a jump.
static int64_t bootsectorvolume(const unsigned char *head, int32_t got)
{
    bootfields b;

    if (got < BOOTBLOCKBYTES || (head[BOOTJUMP] != 0xEB && head[BOOTJUMP] != 0xE9))
        return -1;
    readbootfields(head, &b);
    if (!powerof2(b.bytespersector, 128, 4096) || !powerof2(b.sectorspercluster, 1, 128) ||
        b.reservedsectors < 1 || b.fatcount < 1 || b.fatcount > 2 ||
        (b.mediadescriptor != 0xF0 && b.mediadescriptor < 0xF8) || b.totalsectors <= 0 ||
        floppytypeofblock(head, nullptr))
        return -1;
    return (int64_t)b.totalsectors * b.bytespersector;
}

int recogniseraw(FILE *, const unsigned char *head, int32_t n, int64_t size)
{
    int64_t volume = bootsectorvolume(head, n);

    return floppytypeofsize(size) != nullptr || (volume > 0 && volume <= size);
}

// When the file starts with a boot sector whose volume is a standard one
// but is not that volume's size (a track short or long, say): 1 with text
// (n bytes) saying so; else 0.
int rawlookslike(const unsigned char *head, int32_t got, int64_t size, char *text, int32_t n)
{
    const floppytype *t;
    int64_t want, track;

    if ((want = bootsectorvolume(head, got)) > size) {
        snprintf(text, (size_t)n, "looks like a raw FAT volume of %lld bytes, %lld bytes short of "
                 "them; -F raw reads it", (long long)want, (long long)(want - size));
        return 1;
    }
    if (got < BOOTBLOCKBYTES || (head[BOOTJUMP] != 0xEB && head[BOOTJUMP] != 0xE9))
        return 0;
    t = floppytypeofblock(head, nullptr);
    if (!t)
        return 0;
    want = (int64_t)floppysectors(t) * t->bytes;
    track = (int64_t)t->sectors * t->bytes;
    if (size == want)
        return 0;
    if ((size - want) % track == 0)
        snprintf(text, (size_t)n, "looks like a raw image of a %s volume, %lld track%s %s; -F raw "
                 "reads it", t->name, (long long)((size > want ? size - want : want - size) / track),
                 (size > want ? size - want : want - size) == track ? "" : "s",
                 size > want ? "long" : "short");
    else
        snprintf(text, (size_t)n, "looks like a raw image of a %s volume, %lld bytes %s its %lld; "
                 "-F raw reads it", t->name, (long long)(size > want ? size - want : want - size),
                 size > want ? "past" : "short of", (long long)want);
    return 1;
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
