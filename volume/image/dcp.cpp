// DCP and DCU images: a 162-byte header (a media byte, a flag a track that
// says whether the file stores it, byte 161), then the stored tracks.
#include <cstring>

#include "volume/bytes.h"

#include "sectormap.h"

enum { DCPHEADER = 162, DCPFLAGS = DCPTRACKFLAGS };

// Anything that is no other container is a DCP image, as it always was.
int recognisedcp(FILE *, const unsigned char *, int32_t, int64_t)
{
    return 1;
}

// Maps the tracks flagged stored, one after another after the header.
static void mapcompact(sectormap *m, const unsigned char *flags)
{
    const floppytype *t = m->type;
    int64_t at = DCPHEADER, track = (int64_t)t->sectors * t->bytes;

    for (int32_t k = 0; k < t->cylinders * t->heads; k++) {
        if (!flags[k])
            continue;
        for (int32_t r = 0; r < t->sectors; r++)
            m->offset[k * t->sectors + r] = at + (int64_t)r * t->bytes;
        m->missing -= t->sectors;
        at += track;
    }
}

// Maps the DCP image as one of type t (null: the type its media byte names).
// A file that holds exactly its flagged tracks, and not every track, is
// read through its flags; any other is read straight through from byte 162,
// exactly as these tools always read DCP images.
int mapdcpas(FILE *f, sectormap *m, const floppytype *t)
{
    unsigned char header[DCPHEADER];
    int32_t stored = 0, k;
    int got = readat(f, 0, header, DCPHEADER);

    if (got && !t)
        t = floppytypeofmedia(header[0]);
    for (k = 0; got && t && k < t->cylinders * t->heads; k++)
        stored += header[1 + k] != 0;
    if (got && t && stored < t->cylinders * t->heads &&
        m->filesize == DCPHEADER + (int64_t)stored * t->sectors * t->bytes) {
        startmap(m, CONTAINERDCP, t);
        mapcompact(m, header + 1);
        return MAPOK;
    }
    m->type = t;
    m->linear = 1;
    m->base = DCPHEADER;
    m->missing = 0;
    return MAPOK;
}

int mapdcp(FILE *f, sectormap *m, int32_t)
{
    return mapdcpas(f, m, nullptr);
}

// The header of a whole image of the type, every track of it flagged
// stored: the one DCP header every writer starts from.
void makedcpheader(const floppytype *t, unsigned char *header)
{
    memset(header, 0, DCPHEADER);
    header[0] = (unsigned char)t->dcpmedia;
    memset(header + 1, 1, (size_t)t->cylinders * (size_t)t->heads);
}

// The header, then every track, each flagged stored when the source holds
// it whole; a track the source lacks whole is zeros flagged not stored, so
// that a reader that reads straight through (MAME, emulators) finds every
// later track where it is. A compact image (n->compact) leaves such tracks
// out instead. A track the source holds in part cannot be said.
int writedcp(FILE *out, newimage *n, unsigned char *buf)
{
    const floppytype *t = n->type;
    int32_t tracks = t->cylinders * t->heads, k;

    makedcpheader(t, buf);
    for (k = 0; k < tracks; k++) {
        int32_t present = trackpresent(n, k);
        if (present != 0 && present != t->sectors)
            return WRITENEEDSFILL;
        buf[1 + k] = present != 0;
    }
    if (fwrite(buf, 1, DCPHEADER, out) != DCPHEADER)
        return WRITEFAILED;
    for (k = 0; k < tracks; k++) {
        if (!trackpresent(n, k) && n->compact)
            continue;
        if (!trackpresent(n, k)) {
            memset(buf, 0, (size_t)t->bytes);
            for (int32_t r = 0; r < t->sectors; r++)
                if ((int32_t)fwrite(buf, 1, (size_t)t->bytes, out) != t->bytes)
                    return WRITEFAILED;
        } else if (writetracks(out, n, k, k + 1, buf) != WRITEOK) {
            return WRITEFAILED;
        }
    }
    return WRITEOK;
}

// Reads what the image's DCP header says into h; 1 when all 162 bytes came.
int readdcpheader(FILE *f, dcpheaderfacts *h)
{
    unsigned char header[DCPHEADER];

    memset(h, 0, sizeof *h);
    h->badflag = -1;
    if (!readat(f, 0, header, DCPHEADER))
        return 0;
    h->media = header[0];
    h->type = floppytypeofmedia(h->media);
    memcpy(h->flags, header + 1, DCPFLAGS);
    h->byte161 = header[DCPFLAGS + 1];
    for (int32_t t = 0; t < DCPFLAGS; t++) {
        h->stored += h->flags[t] == 1;
        if (h->flags[t] > 1 && h->badflag < 0)
            h->badflag = t;
    }
    return 1;
}

// The tracks inside the volume of layout that the header flags not stored.
int32_t dcpmissing(const dcpheaderfacts *h, const floppytype *layout)
{
    int32_t missing = 0;

    for (int32_t t = 0; layout && t < layout->cylinders * layout->heads; t++)
        missing += h->flags[t] == 0;
    return missing;
}

// Writes the tracks whose flag is 0 among the 160, as ranges.
static void putunstored(const dcpheaderfacts *h, FILE *out)
{
    int32_t t = 0, n = 0;

    while (t < DCPFLAGS) {
        int32_t end = t;
        if (h->flags[t] != 0) {
            t++;
            continue;
        }
        while (end + 1 < DCPFLAGS && h->flags[end + 1] == 0)
            end++;
        fprintf(out, n++ ? ",%d" : " %d", t);
        if (end > t)
            fprintf(out, "-%d", end);
        t = end + 1;
    }
    fputs(n ? "\n" : " none\n", out);
}

// Describes the header of the DCP image f on out: its media type, its map
// of stored tracks and byte 161; 0 when they break a reader.
int describedcp(FILE *f, FILE *out)
{
    dcpheaderfacts h;
    const floppytype *t;

    if (!readdcpheader(f, &h))
        return 0;
    t = h.type;
    if (t)
        fprintf(out, "media: 0x%02X %s (%d cylinders, %d heads, %d sectors a track of %d bytes)\n",
                h.media, t->name, t->cylinders, t->heads, t->sectors, t->bytes);
    else
        fprintf(out, "media: 0x%02X unknown\n", h.media);
    fprintf(out, "tracks stored: %d of %d; not stored:", h.stored, DCPFLAGS);
    putunstored(&h, out);
    fprintf(out, "byte 161: %d%s\n", h.byte161,
            h.byte161 ? " (readers differ on it; these tools do not read it)" : "");
    if (h.badflag >= 0)
        fprintf(out, "problem: the flag of track %d is %d, not 0 or 1\n", h.badflag,
                h.flags[h.badflag]);
    if (!t)
        fprintf(out, "problem: media byte 0x%02X is no known type\n", h.media);
    return h.badflag < 0 && t;
}
