// The volume record's life: creation with an empty directory cache, opening
// (boot-sector fields, FAT, geometry, root directory) and release.
#include <cstdlib>

#include "diskprops.h"
#include "dircache.h"

// The volume's first 1024 bytes are read (a DCP image's first 1186), of
// which the first 128, the parameter block and more, must be there.
enum { BOOTREAD = 1024, BOOTMINIMUM = 128 };

// Gives the record an empty cache. A failed allocation leaves capacity 0,
// from which the cache grows on first use.
void initdiskprops(diskprops *dp)
{
    dp->dirbuf = (unsigned char *)malloc(16384);
    dp->dirtable = dp->dirbuf ? (cacheddir *)malloc(32 * sizeof(cacheddir)) : nullptr;
    dp->dircount = 0;
    dp->dirbufused = 0;
    dp->dirbufsize = dp->dirbuf ? 16384 : 0;
    dp->dirtablesize = dp->dirtable ? 32 : 0;
    dp->map = nullptr;
    dp->lacking = -1;
    dp->writer = nullptr;
}

void freediskprops(diskprops *dp)
{
    free(dp->dirbuf);
    free(dp->dirtable);
    dp->dirbuf = nullptr;
    dp->dirtable = nullptr;
}

static void readbootfields(diskprops *dp, const unsigned char *boot)
{
    bootfields b;

    readbootfields(boot, &b);
    dp->bytespersector = b.bytespersector;
    dp->sectorspercluster = b.sectorspercluster;
    dp->reservedsectors = b.reservedsectors;
    dp->fatcount = b.fatcount;
    dp->rootentries = b.rootentries;
    dp->totalsectors = b.totalsectors;
    dp->mediadescriptor = b.mediadescriptor;
    dp->sectorsperfat = b.sectorsperfat;
    dp->sectorspertrack = b.sectorspertrack;
    dp->heads = b.heads;
}

// Decodes n FAT12 groups from fatbytes into the entries from e on.
static void decodefat12(diskprops *dp, const unsigned char *fatbytes, int32_t e, int32_t n)
{
    const unsigned char *p = fatbytes;

    for (int32_t g = 0; g < n; g++, p += 3, e += 2) {
        int32_t v = getu24l(p);
        dp->fat[e] = v & 0xFFF;
        dp->fat[e + 1] = (v >> 12) & 0xFFF;
    }
}

// Decodes n FAT16 entries from fatbytes into the entries from e on.
static void decodefat16(diskprops *dp, const unsigned char *fatbytes, int32_t e, int32_t n)
{
    for (int32_t i = 0; i < n; i++)
        dp->fat[e + i] = getu16l(fatbytes + (size_t)2 * i);
}

// 1 for a logical sector size a FAT volume may have.
static int sectorsizevalid(int32_t bytes)
{
    return bytes >= 128 && bytes <= 4096 && (bytes & (bytes - 1)) == 0;
}

static void computegeometry(diskprops *dp)
{
    dp->rootdirsectors = (dp->rootentries * 32 + dp->bytespersector - 1) / dp->bytespersector;
    dp->fatstart = dp->reservedsectors;
    dp->rootdirstart = dp->fatstart + dp->fatcount * dp->sectorsperfat;
    dp->datastart = dp->rootdirstart + dp->rootdirsectors;
    dp->clusterbytes = dp->sectorspercluster * dp->bytespersector;
}

// The data clusters the volume's sector count makes room for, 0 or more.
static int64_t clustercount(const diskprops *dp)
{
    int64_t data = (int64_t)dp->totalsectors - dp->datastart;

    return dp->sectorspercluster > 0 && data > 0 ? data / dp->sectorspercluster : 0;
}

// Sets the FAT's width and marks from the cluster count; 0 for a FAT32 volume.
static int setfattype(diskprops *dp)
{
    int64_t clusters = clustercount(dp);

    if (clusters >= FAT16CLUSTERS)
        return 0;
    dp->fatbits = clusters < FAT12CLUSTERS ? 12 : 16;
    dp->endofchain = dp->fatbits == 12 ? 0xFF0 : 0xFFF0;
    dp->badmark = dp->fatbits == 12 ? 0xFF7 : 0xFFF7;
    dp->endmark = dp->fatbits == 12 ? 0xFFF : 0xFFFF;
    return 1;
}

// Bytes of the first FAT copy that are read: for FAT12, as many as the
// work buffer holds (a longer copy is never decoded past 3072 groups
// anyway); for FAT16, the whole copy up to an entry for every cluster slot.
static int64_t fatbytesread(const diskprops *dp)
{
    int64_t want = (int64_t)dp->sectorsperfat * dp->bytespersector;
    int64_t most = dp->fatbits == 12 ? (int64_t)WORKBUFSIZE : 2 * (int64_t)CLUSTERSLOTS;

    return want > most ? most : want;
}

// FAT entries decoded from the FAT's bytes, as the opening counts them.
static int32_t countfatentries(const diskprops *dp)
{
    int64_t bytes = fatbytesread(dp);
    int64_t groups = bytes / 3;

    if (dp->fatbits == 16)
        return (int32_t)(bytes / 2);
    return (int32_t)(2 * (groups > (int64_t)FAT12GROUPS ? (int64_t)FAT12GROUPS : groups));
}

// FAT entries decoded from the FAT's bytes; the slots past them end chains.
// Counted once, at the opening: every cluster check asks.
int32_t fatentriesread(const diskprops *dp)
{
    return dp->fatentries;
}

// Reads the first FAT copy and decodes it; every slot past its entries
// ends a chain, so that a walk that strays there stops instead of reading
// undefined content. A FAT12 copy is one read of what the work buffer
// holds; a FAT16 one, up to 128 KB, is read through it a piece at a time.
// 1 on success.
static int readfat(FILE *image, diskprops *dp, unsigned char *workbuf)
{
    int64_t fatat = (int64_t)dp->reservedsectors * dp->bytespersector;
    int32_t entries = fatentriesread(dp), e = 0;

    if (dp->fatbits == 12) {
        if (!readimage(image, dp, fatat, workbuf, (int32_t)fatbytesread(dp)))
            return 0;
        decodefat12(dp, workbuf, 0, entries / 2);
        e = entries;
    }
    while (e < entries) {
        int32_t n = entries - e < WORKBUFSIZE / 2 ? entries - e : WORKBUFSIZE / 2;
        if (!readimage(image, dp, fatat + (int64_t)e * 2, workbuf, n * 2))
            return 0;
        decodefat16(dp, workbuf, e, n);
        e += n;
    }
    // As far as an entry's value can reach: a FAT12 walk never indexes
    // past 4095, so a floppy's opening touches no more than it did.
    for (; e <= dp->endmark; e++)
        dp->fat[e] = dp->endmark;
    return 1;
}

// Reads the boot sector's parameter block into workbuf; 1 on success.
// Through a map that is not one run of bytes the sectors are the
// container's, so the block is read as one of them.
static int readboot(FILE *image, diskprops *dp, unsigned char *workbuf)
{
    const sectormap *m = dp->map;
    int32_t len = BOOTREAD;

    if (m && !m->linear) {
        if (!m->type)
            return 0;
        dp->bytespersector = len = m->type->bytes; // the boot sector alone
    }
    return readimageupto(image, dp, 0, workbuf, len) >= BOOTMINIMUM;
}

// VOLUMEOPEN when the volume is open, else the stage that failed. Prints
// nothing, so that each program can say it where its messages go.
int loadvolume(FILE *image, diskprops *dp, unsigned char *workbuf)
{
    dp->lacking = -1;
    if (!readboot(image, dp, workbuf))
        return VOLUMEBOOTFAILED;
    readbootfields(dp, workbuf);
    // Every sector offset divides by the sector size: a FAT sector is a power
    // of two from 128 to 4096 bytes; a map holds sectors of its container's one size.
    if (!sectorsizevalid(dp->bytespersector) ||
        (dp->map && !dp->map->linear && dp->bytespersector != dp->map->type->bytes))
        return VOLUMEBOOTFAILED;
    computegeometry(dp);
    if (!setfattype(dp))
        return VOLUMEFAT32;
    dp->fatentries = countfatentries(dp);
    if (!readfat(image, dp, workbuf))
        return VOLUMEFATFAILED;
    if (initrootdir(image, dp) == -1)
        return VOLUMEROOTFAILED;
    return VOLUMEOPEN;
}

// Maps the image's container (container -1: found from the content; disk,
// from 0, of a file that holds several) and opens the volume through the
// map: VOLUMEOPEN, the stage that failed, or VOLUMEMAPPED + why the
// container could not be mapped.
int loadimage(FILE *image, diskprops *dp, sectormap *map, int32_t container, int32_t disk,
              int32_t part, unsigned char *workbuf)
{
    int r = openimage(image, dp, map, container, disk, part);

    if (r != MAPOK)
        return VOLUMEMAPPED + r;
    return loadvolume(image, dp, workbuf);
}

// Writes why the volume of image could not be opened: the stage's message,
// and the volume sector the container lacks when that was the cause.
void putvolumeproblem(FILE *out, const diskprops *dp, int stage, const char *image)
{
    if (stage == VOLUMEMAPPED + MAPLOOKSLIKE && dp->map) {
        fprintf(out, "%s %s\n", image, dp->map->lookslike);
        return;
    }
    if ((stage == VOLUMEMAPPED + MAPMANYPARTITIONS || stage == VOLUMEMAPPED + MAPBADPARTITION) &&
        dp->map) {
        fprintf(out, "%s: %s\n", image, dp->map->said);
        return;
    }
    fprintf(out, "%s\n", volumemessage(stage));
    if (stage < VOLUMEMAPPED && dp->lacking >= 0)
        fprintf(out, "Sector %d is not in %s\n", dp->lacking, image);
}

// 1 when the volume of the image, in whatever container, is open; 0 after
// printing why not on standard output.
int openimagevolume(FILE *image, diskprops *dp, sectormap *map, unsigned char *workbuf,
                    const char *name)
{
    // sectdefs and tablepatch, whose command lines are fixed, take a hard
    // disk's first active FAT partition.
    int stage = loadimage(image, dp, map, containerofname(name), 0, PARTITIONFIRSTACTIVE,
                          workbuf);

    if (stage != VOLUMEOPEN)
        putvolumeproblem(stdout, dp, stage, name);
    return stage == VOLUMEOPEN;
}

// The message for a stage that loadvolume or loadimage reports as failed.
const char *volumemessage(int stage)
{
    static const char *const mapping[] = {
        "Could not read disk properties", "Could not read disk properties",
        "The image holds no disk of that number", "The image's container header does not add up",
        "The image holds no 2hd, 2hc, 2hq or 2dd volume",
        "The image looks like another container gone wrong",
        "The disk's partition table holds no FAT partition",
        "The disk holds several FAT partitions; -p N names one",
        "The disk's partition table holds no partition of that number",
        "The partition lies outside the disk or over another"};

    if (stage >= VOLUMEMAPPED && stage - VOLUMEMAPPED <= MAPBADPARTITION)
        return mapping[stage - VOLUMEMAPPED];
    if (stage == VOLUMEBOOTFAILED)
        return "Could not read disk properties";
    if (stage == VOLUMEFATFAILED)
        return "Could not read FAT table";
    if (stage == VOLUMEFAT32)
        return "The volume is FAT32, which these tools do not read";
    return "Could not read root directory of disk";
}

// 1 when the volume is open; 0 after printing why not.
int openvolume(FILE *image, diskprops *dp, unsigned char *workbuf)
{
    int stage = loadvolume(image, dp, workbuf);

    if (stage != VOLUMEOPEN)
        puts(volumemessage(stage));
    return stage == VOLUMEOPEN;
}
