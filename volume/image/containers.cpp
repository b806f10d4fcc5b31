// The table of containers, the standard geometries, and the questions every
// container answers the same way: which one a file is, and where a volume
// sector lies in it.
#include <climits>
#include <cstring>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "sectormap.h"

// Recognised in this order: the first whose recognise says yes is the
// container; DCP, last, takes anything.
static const containerkind kinds[CONTAINERS] = {
    {"dcp", "DCP", recognisedcp, mapdcp, writedcp, describedcp, 0, nullptr},
    {"raw", "raw", recogniseraw, mapraw, writeraw, nullptr, 0, nullptr},
    // D88 says 0x10 for protected, NFD 1; both read any value but 0 so.
    {"d88", "D88", recognised88, mapd88, writed88, nullptr, 0x10, nullptr},
    {"fdi", "FDI", recognisefdi, mapfdi, writefdi, nullptr, 0, nullptr},
    {"nfd", "NFD", recognisenfd, mapnfd, writenfd, nullptr, 1, nullptr},
    // Hard disks: read and written in place; made and converted by their headers.
    {"hdi", "HDI", recognisehdi, maphdi, nullptr, nullptr, 0, hdiheader},
    {"nhd", "NHD", recognisenhd, mapnhd, nullptr, nullptr, 0, nhdheader},
    {"rawhdd", "raw hard-disk", recogniserawhdd, maprawhdd, nullptr, nullptr, 0, rawhddheader},
    {"thd", "THD", recognisethd, mapthd, nullptr, nullptr, 0, thdheader},
    {"vhd98", "Virtual98", recognisevhd98, mapvhd98, nullptr, nullptr, 0, vhd98header},
};
// An HDI before an FDI, which shares its layout but holds a floppy.
// A THD has no signature: it is known by its name, or told.
static const int32_t order[CONTAINERS] = {
    CONTAINERNFD, CONTAINERNHD,    CONTAINERVHD98, CONTAINERD88, CONTAINERHDI,
    CONTAINERFDI, CONTAINERRAWHDD, CONTAINERTHD,   CONTAINERRAW, CONTAINERDCP};

// The one table of the floppy types: every program's geometry, container
// names and blank format come from it.
static const floppytype types[] = {
    // name, cylinders, heads, sectors a track, bytes a sector; DCP media,
    // FDI and NFD disk type, D88 media; sectors a cluster, reserved, FATs,
    // root entries, media descriptor, sectors a FAT
    {"2hd", 77, 2, 8, 1024, 0x01, 0x90, 0x20, 1, 1, 2, 192, 0xFE, 2},
    {"2hc", 80, 2, 15, 512, 0x02, 0x90, 0x20, 1, 1, 2, 224, 0xF9, 7},
    {"2hq", 80, 2, 18, 512, 0x03, 0x30, 0x20, 1, 1, 2, 224, 0xF0, 9},
    {"2dd", 80, 2, 9, 512, 0x05, 0x10, 0x10, 2, 1, 2, 112, 0xF9, 3},
};
enum { TYPES = sizeof types / sizeof types[0] };

// The SASI disks: 256-byte sectors, 33 a track.
static const disktype sasi[] = {
    {"sasi5", 256, 33, 4, 153},  {"sasi10", 256, 33, 4, 310}, {"sasi15", 256, 33, 6, 310},
    {"sasi20", 256, 33, 8, 310}, {"sasi30", 256, 33, 6, 615}, {"sasi40", 256, 33, 8, 615},
};

// The SASI disk of that name, or null.
const disktype *disktypenamed(const char *name)
{
    for (const auto &d : sasi)
        if (strcmp(d.name, name) == 0)
            return &d;
    return nullptr;
}

// The SASI disk of exactly size bytes, or null.
const disktype *disktypeofsize(int64_t size)
{
    for (const auto &d : sasi)
        if ((int64_t)d.bytes * d.spt * d.heads * d.cylinders == size)
            return &d;
    return nullptr;
}

// The container's row, or null.
const containerkind *containerof(int32_t container)
{
    return container >= 0 && container < CONTAINERS ? &kinds[container] : nullptr;
}

// The container of that name (as -F takes it), or -1.
int32_t containernamed(const char *name)
{
    for (int32_t i = 0; i < CONTAINERS; i++)
        if (strcmp(kinds[i].name, name) == 0)
            return i;
    return -1;
}

// The sectors of the type's volume.
int32_t floppysectors(const floppytype *t)
{
    return t->cylinders * t->heads * t->sectors;
}

// The standard geometry of a track of sectors of bytes, or null.
const floppytype *floppytypeof(int32_t bytes, int32_t sectors, int32_t heads)
{
    for (int i = 0; i < TYPES; i++)
        if (types[i].bytes == bytes && types[i].sectors == sectors && types[i].heads == heads)
            return &types[i];
    return nullptr;
}

// The standard type whose volume is exactly size bytes, or null.
const floppytype *floppytypeofsize(int64_t size)
{
    for (int i = 0; i < TYPES; i++)
        if ((int64_t)types[i].cylinders * types[i].heads * types[i].sectors * types[i].bytes ==
            size)
            return &types[i];
    return nullptr;
}

// The type a DCP header's media byte names, or null.
const floppytype *floppytypeofmedia(int32_t media)
{
    for (int i = 0; i < TYPES; i++)
        if (types[i].dcpmedia == media)
            return &types[i];
    return nullptr;
}

// The standard geometry of that name, or null.
const floppytype *floppytypenamed(const char *name)
{
    for (int i = 0; i < TYPES; i++)
        if (strcmp(types[i].name, name) == 0)
            return &types[i];
    return nullptr;
}

// Seeks f to file offset at; 1 on success. In 64 bits everywhere: Windows'
// fseek takes a 32-bit long, and a FAT16 volume can pass 2 GB.
int seekfile(FILE *f, int64_t at)
{
    if (at < 0)
        return 0;
#ifdef _WIN32
    return _fseeki64(f, at, SEEK_SET) == 0;
#else
    if (at > (int64_t)LONG_MAX)
        return 0;
    return fseek(f, (long)at, SEEK_SET) == 0;
#endif
}

// The size of f in bytes, or -1 when it cannot be told; the position is
// left at the end.
int64_t filesizeof(FILE *f)
{
#ifdef _WIN32
    if (_fseeki64(f, 0, SEEK_END) != 0)
        return -1;
    return (int64_t)_ftelli64(f);
#else
    if (fseek(f, 0, SEEK_END) != 0)
        return -1;
    return (int64_t)ftell(f); // -1 on failure, as promised
#endif
}

// Reads n bytes at file offset at; 1 when all came back. Where the file has
// a descriptor, one positioned read (stdio would split a large one and
// seek); containers are read before anything is written to them.
int readat(FILE *f, int64_t at, unsigned char *buf, int32_t n)
{
    if (at < 0)
        return 0;
#ifndef _WIN32
    int fd = fileno(f);
    if (fd >= 0)
        return pread(fd, buf, (size_t)n, (off_t)at) == (ssize_t)n;
#endif
    return seekfile(f, at) && (int32_t)fread(buf, 1, (size_t)n, f) == n;
}

// 1 when a hard-disk header's geometry is a disk's: sectors of 256 or 512
// bytes, 1 to 255 a track and heads, 1 to 65535 cylinders. Each bounded
// before any product of them is taken.
int plausibledisk(int64_t bytes, int64_t spt, int64_t heads, int64_t cylinders)
{
    return (bytes == 256 || bytes == 512) && spt >= 1 && spt <= 255 && heads >= 1 &&
           heads <= 255 && cylinders >= 1 && cylinders <= 65535;
}

// When the first bytes name a hard-disk container whose header does not
// add up, or one these tools do not read: 1 with text saying so.
int harddisklookslike(const unsigned char *head, int32_t got, int64_t size, char *text,
                      int32_t n)
{
    return slhlookslike(head, got, text, n) || vhd98lookslike(head, got, text, n) ||
           nhdlookslike(head, got, size, text, n) || hdilookslike(head, got, size, text, n);
}

// Says in text that the header of the container titled gives a disk of the
// geometry g (bytes, sectors a track, heads, cylinders) that is no disk's,
// or that ends past the file's end; 1.
int disklookslike(const char *title, const int64_t *g, int64_t header, int64_t size, char *text,
                  int32_t n)
{
    if (!plausibledisk(g[0], g[1], g[2], g[3]))
        snprintf(text, (size_t)n, "looks like an %s image, but its header's geometry (%lld "
                                  "cylinders, %lld heads, %lld sectors a track of %lld bytes) "
                                  "is no disk's", title, (long long)g[3], (long long)g[2],
                 (long long)g[1], (long long)g[0]);
    else
        snprintf(text, (size_t)n, "looks like an %s image whose disk of %lld bytes ends %lld "
                                  "bytes past the file's end", title,
                 (long long)g[0] * g[1] * g[2] * g[3],
                 (long long)header + g[0] * g[1] * g[2] * g[3] - size);
    return 1;
}

// Maps the file as a hard disk whose sector 0 lies at file byte base, of
// the geometry g (bytes, sectors a track, heads, cylinders, each bounded
// already); the partition is chosen after. MAPOK.
int mapdisk(sectormap *m, int64_t base, const int64_t *g)
{
    m->hard = 1;
    m->diskbase = base;
    m->diskbytes = (int32_t)g[0];
    m->diskspt = (int32_t)g[1];
    m->diskheads = (int32_t)g[2];
    m->diskcylinders = (int32_t)g[3];
    return MAPOK;
}

// The bytes of the disk mapped in d, by its geometry.
int64_t diskbytesof(const sectormap *d)
{
    return (int64_t)d->diskbytes * d->diskspt * d->diskheads * d->diskcylinders;
}

// Reads n bytes of the disk mapped in m at file offset at, as readat does;
// where the disk reads as zeros past the file's end, what the file lacks
// is zeros. 1 when all came back.
int readdisk(FILE *f, const sectormap *m, int64_t at, unsigned char *buf, int32_t n)
{
    int64_t have = m->filesize - at;

    if (!m->zerotail || at < 0 || have >= n)
        return readat(f, at, buf, n);
    memset(buf, 0, (size_t)n);
    return have <= 0 || readat(f, at, buf, (int32_t)have);
}

// The container a file's name says when its content cannot (a THD has no
// signature), or -1.
int32_t containerofname(const char *path)
{
    size_t n = strlen(path);
    const char *ext = n >= 4 ? path + n - 4 : "";

    if (ext[0] == '.' && (ext[1] | 0x20) == 't' && (ext[2] | 0x20) == 'h' && (ext[3] | 0x20) == 'd')
        return CONTAINERTHD;
    return -1;
}

// The container the file's content says it is, by the first rule that
// holds; DCP when none does.
int32_t findcontainer(FILE *f, int64_t size)
{
    unsigned char head[HEADBYTES];
    int32_t n;

    memset(head, 0, sizeof head);
    n = fseek(f, 0, SEEK_SET) == 0 ? (int32_t)fread(head, 1, sizeof head, f) : 0;
    for (int32_t i = 0; i < CONTAINERS; i++)
        if (kinds[order[i]].recognise(f, head, n, size))
            return order[i];
    return CONTAINERDCP;
}

// When a file that no container's rules take (so a DCP image by default)
// looks like one gone wrong (a D88 cut short or with bytes after its last
// disk, a raw image of an odd size): 1 with text (n bytes) saying what it
// looks like and what to try; such a file is named so, not read as a DCP.
// A DCP image starts with its media byte, never with a boot sector's jump.
int lookslike(FILE *f, int64_t size, char *text, int32_t n)
{
    unsigned char head[HEADBYTES];
    int32_t got = fseek(f, 0, SEEK_SET) == 0 ? (int32_t)fread(head, 1, sizeof head, f) : 0;

    return d88lookslike(f, size, text, n) || harddisklookslike(head, got, size, text, n) ||
           rawlookslike(head, got, size, text, n);
}

// A map of container with every sector of t lacking, to be filled in.
void startmap(sectormap *m, int32_t container, const floppytype *t)
{
    m->container = container;
    m->type = t;
    m->linear = 0;
    m->base = 0;
    m->count = t ? t->cylinders * t->heads * t->sectors : 0;
    m->lookslike[0] = '\0';
    m->said[0] = '\0';
    m->hard = 0;
    m->diskbase = 0;
    m->diskbytes = m->diskspt = m->diskheads = m->diskcylinders = 0;
    m->partitions = 0;
    m->chosen = -1;
    m->limit = -1;
    m->zerotail = 0;
    m->missing = m->count;
    m->errors = 0;
    m->name[0] = '\0';
    for (int32_t s = 0; s < m->count; s++)
        m->offset[s] = NOTINIMAGE;
}

// Maps disk (from 0) of the file as the container, and of a hard disk its
// partition part (from 0, or PARTITIONTHEONLY or PARTITIONFIRSTACTIVE);
// MAPOK, or why not.
int mapimagepart(FILE *f, sectormap *m, int32_t container, int32_t disk, int32_t part)
{
    int r = mapimage(f, m, container, disk);

    return r == MAPOK && m->hard ? choosepartition(f, m, part) : r;
}

// Maps disk (from 0) of the file as the container; MAPOK, or why not. Of a
// hard disk only the disk is mapped.
int mapimage(FILE *f, sectormap *m, int32_t container, int32_t disk)
{
    const containerkind *k = containerof(container);

    m->disks = 1;
    m->disk = disk;
    m->protect = 0;
    m->protectat = -1;
    startmap(m, container, nullptr);
    if (!k)
        return MAPBADHEADER;
    if ((m->filesize = filesizeof(f)) < 0)
        return MAPUNREAD;
    if (disk != 0 && container != CONTAINERD88)
        return MAPNODISK;
    return k->map(f, m, disk);
}

// The file offset of volume sector (of bytes bytes each), or NOTINIMAGE
// when the container does not hold it: a sector it lacks, one past its
// geometry, or one of another size than its sectors.
int64_t sectoroffset(const sectormap *m, int32_t sector, int32_t bytes)
{
    if (sector < 0)
        return NOTINIMAGE;
    if (m->linear)
        return m->base + (int64_t)sector * bytes;
    if (!m->type || bytes != m->type->bytes || sector >= m->count)
        return NOTINIMAGE;
    return m->offset[sector];
}
