// NFD images (the T98-Next emulator's), revisions 0 and 1: a signature, a
// comment, the header's size, write protection, then a map of every track's
// sectors; the data follows the header, track after track, in map order.
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum {
    NFDSIGNATURE = 16, NFDHEADERSIZE = 0x110, NFDPROTECT = 0x114, NFDTRACKS0 = 163,
    NFDSLOTS = 26, NFDMAP = 0x120, NFDTRACKS1 = 164, SLOT = 16, R0HEADER = 0x10A10,
    MAXSECTORS1 = 255
};

static const char signature0[] = "T98FDDIMAGE.R0";
static const char signature1[] = "T98FDDIMAGE.R1";

int recognisenfd(FILE *, const unsigned char *head, int32_t n, int64_t)
{
    return n >= NFDSIGNATURE && (memcmp(head, signature0, sizeof signature0) == 0 ||
                                 memcmp(head, signature1, sizeof signature1) == 0);
}

// Bytes of a slot's data: 128 << N, or -1 for an N no sector has.
static int32_t slotbytes(const unsigned char *slot)
{
    return slot[3] <= 7 ? 128 << slot[3] : -1;
}

// Takes a slot whose data lies at pos: the volume's sector when its R and
// size are the volume's and its data lies inside the file.
static void takeslot(sectormap *m, const unsigned char *slot, int64_t pos, int32_t *seen,
                     int64_t *where)
{
    const floppytype *t = m->type;
    int32_t r = slot[2];

    if (r < 1 || r > t->sectors)
        return;
    if (slotbytes(slot) != t->bytes || pos + t->bytes > m->filesize) {
        seen[r] += 2;
        return;
    }
    seen[r]++;
    where[r] = pos;
}

// Records the R numbers of track k seen exactly once.
static void endtrack(sectormap *m, int32_t k, const int32_t *seen, const int64_t *where)
{
    const floppytype *t = m->type;

    for (int32_t r = 1; r <= t->sectors; r++)
        if (seen[r] == 1) {
            m->offset[k * t->sectors + r - 1] = where[r];
            m->missing--;
        }
}

// The type the first used slot's disk type and its track's sector count
// name, from a slot table of count slots; null when none does.
static const floppytype *slottype(const unsigned char *slots, int32_t count, int32_t at)
{
    int32_t used = 0;

    for (int32_t i = 0; i < count; i++)
        used += slots[(size_t)i * SLOT] != 0xFF;
    if (used == 0 || slots[at * SLOT + 3] > 7)
        return nullptr;
    return floppytypeof(128 << slots[at * SLOT + 3], used, 2);
}

// Revision 0: a fixed table of 163 tracks of 26 slots.
static int mapr0(FILE *f, sectormap *m, int64_t header)
{
    static unsigned char table[NFDTRACKS0 * NFDSLOTS * SLOT];
    int64_t pos = header;
    int32_t seen[256];
    int64_t where[256] = {0};

    if (!readat(f, NFDMAP, table, sizeof table))
        return MAPUNREAD;
    for (int32_t k = 0; k < NFDTRACKS0 && !m->type; k++)
        for (int32_t i = 0; i < NFDSLOTS && !m->type; i++)
            if (table[((size_t)k * NFDSLOTS + i) * SLOT] != 0xFF)
                m->type = slottype(table + (size_t)k * NFDSLOTS * SLOT, NFDSLOTS, i);
    if (!m->type)
        return MAPUNKNOWNTYPE;
    startmap(m, CONTAINERNFD, m->type);
    for (int32_t k = 0; k < NFDTRACKS0; k++) {
        memset(seen, 0, sizeof seen);
        for (int32_t i = 0; i < NFDSLOTS; i++) {
            const unsigned char *slot = table + ((size_t)k * NFDSLOTS + i) * SLOT;
            if (slot[0] == 0xFF || slotbytes(slot) < 0)
                continue;
            if (k < m->count / m->type->sectors)
                takeslot(m, slot, pos, seen, where);
            pos += slotbytes(slot);
        }
        if (k < m->count / m->type->sectors)
            endtrack(m, k, seen, where);
    }
    return MAPOK;
}

// Revision 1, one track: its map at mapat (a summary, its sectors, its
// retry records), its data at *pos, which moves past the track's data.
static void mapr1track(FILE *f, sectormap *m, int32_t k, int64_t mapat, int64_t *pos)
{
    static unsigned char slots[(MAXSECTORS1 + 1) * SLOT];
    static unsigned char extra[65536 * SLOT];
    unsigned char summary[SLOT];
    int32_t seen[256], sectors, extras;
    int64_t where[256] = {0};

    if (!readat(f, mapat, summary, SLOT))
        return;
    sectors = getu16l(summary);
    extras = getu16l(summary + 2);
    if (sectors > MAXSECTORS1 || !readat(f, mapat + SLOT, slots, sectors * SLOT))
        return;
    if (!m->type && sectors > 0)
        m->type = slottype(slots, sectors, 0);
    if (m->type && m->count == 0)
        startmap(m, CONTAINERNFD, m->type);
    memset(seen, 0, sizeof seen);
    for (int32_t i = 0; i < sectors; i++) {
        if (slotbytes(slots + (size_t)i * SLOT) < 0)
            return;
        if (m->type && k < m->count / m->type->sectors)
            takeslot(m, slots + (size_t)i * SLOT, *pos, seen, where);
        *pos += slotbytes(slots + (size_t)i * SLOT);
    }
    if (m->type && k < m->count / m->type->sectors)
        endtrack(m, k, seen, where);
    // The retry data of copy protection follows the track's sectors.
    if (!readat(f, mapat + SLOT * (1 + (int64_t)sectors), extra, extras * SLOT))
        return;
    // Each record adds at most 256 x (2^32 - 1) bytes; stopping once past the
    // file keeps the sum far from overflowing, and no later track maps then.
    for (int32_t i = 0; i < extras && *pos <= m->filesize; i++)
        *pos += ((int64_t)extra[(size_t)i * SLOT + 9] + 1) *
                (uint32_t)geti32l(extra + (size_t)i * SLOT + 10);
}

// Revision 1: a table of 164 track-map offsets.
static int mapr1(FILE *f, sectormap *m, int64_t header)
{
    unsigned char table[NFDTRACKS1 * 4];
    int64_t pos = header;

    if (!readat(f, NFDMAP, table, sizeof table))
        return MAPUNREAD;
    for (int32_t k = 0; k < NFDTRACKS1 && pos <= m->filesize; k++) {
        int64_t at = (uint32_t)geti32l(table + 4 * (size_t)k);
        if (at != 0 && at < m->filesize)
            mapr1track(f, m, k, at, &pos);
    }
    return m->type ? MAPOK : MAPUNKNOWNTYPE;
}

int mapnfd(FILE *f, sectormap *m, int32_t)
{
    unsigned char h[NFDMAP];
    int64_t header;

    if (!readat(f, 0, h, NFDMAP))
        return MAPUNREAD;
    header = (uint32_t)geti32l(h + NFDHEADERSIZE);
    m->protectat = NFDPROTECT;
    m->protect = h[NFDPROTECT] != 0;
    if (header < NFDMAP || header > m->filesize)
        return MAPBADHEADER;
    if (memcmp(h, signature0, sizeof signature0) == 0)
        return header < R0HEADER ? MAPBADHEADER : mapr0(f, m, header);
    return mapr1(f, m, header);
}

// A new NFD of revision 0: the signature, an empty comment, the header's
// size, protection, two heads, a slot a sector the new image holds (in R
// order; the others marked unused), then the data track after track.
int writenfd(FILE *out, newimage *n, unsigned char *buf)
{
    static unsigned char h[R0HEADER];
    const floppytype *t = n->type;
    int32_t k, r, tracks = t->cylinders * t->heads;

    memset(h, 0, sizeof h);
    memcpy(h, signature0, sizeof signature0);
    setu32l(h + NFDHEADERSIZE, R0HEADER);
    h[NFDPROTECT] = n->protect ? 1 : 0;
    h[NFDPROTECT + 1] = (unsigned char)t->heads;
    for (k = 0; k < NFDTRACKS0; k++) {
        unsigned char *slot = h + NFDMAP + (size_t)k * NFDSLOTS * SLOT;
        for (r = 1; r <= t->sectors && k < tracks; r++) {
            if (!newsectorpresent(n, k * t->sectors + r - 1))
                continue;
            slot[0] = (unsigned char)(k / t->heads);
            slot[1] = (unsigned char)(k % t->heads);
            slot[2] = (unsigned char)r;
            slot[3] = (unsigned char)(t->bytes == 1024 ? 3 : t->bytes == 512 ? 2 : 1);
            slot[4] = 1; // MFM
            slot[10] = (unsigned char)t->fditype;
            slot += SLOT;
        }
        for (; slot < h + NFDMAP + (size_t)(k + 1) * NFDSLOTS * SLOT; slot += SLOT)
            slot[0] = 0xFF;
    }
    if (fwrite(h, 1, sizeof h, out) != sizeof h)
        return WRITEFAILED;
    return writetracks(out, n, 0, tracks, buf);
}
