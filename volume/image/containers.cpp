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
    {"dcp", "DCP", recognisedcp, mapdcp, writedcp, describedcp, 0},
    {"raw", "raw", recogniseraw, mapraw, writeraw, nullptr, 0},
    // D88 says 0x10 for protected, NFD 1; both read any value but 0 so.
    {"d88", "D88", recognised88, mapd88, writed88, nullptr, 0x10},
    {"fdi", "FDI", recognisefdi, mapfdi, writefdi, nullptr, 0},
    {"nfd", "NFD", recognisenfd, mapnfd, writenfd, nullptr, 1},
    // Hard disks: read and written in place, not yet made or converted.
    {"hdi", "HDI", recognisehdi, maphdi, nullptr, nullptr, 0},
    {"nhd", "NHD", recognisenhd, mapnhd, nullptr, nullptr, 0},
    {"rawhdd", "raw hard-disk", recogniserawhdd, maprawhdd, nullptr, nullptr, 0},
};
// An HDI before an FDI, which shares its layout but holds a floppy.
static const int32_t order[CONTAINERS] = {CONTAINERNFD,    CONTAINERNHD, CONTAINERD88,
                                          CONTAINERHDI,    CONTAINERFDI, CONTAINERRAWHDD,
                                          CONTAINERRAW,    CONTAINERDCP};

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

    return d88lookslike(f, size, text, n) || rawlookslike(head, got, size, text, n);
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
