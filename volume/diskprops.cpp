// The volume record's life: creation with an empty directory cache, opening
// (boot-sector fields, FAT, geometry, root directory) and release.
#include <cstdlib>

#include "diskprops.h"

enum { BOOTREAD = 128 }; // the parameter block and more

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

// Decodes the FAT12 groups; every slot past them ends a chain, so a walk
// that strays there stops instead of reading undefined content.
static void decodefat(diskprops *dp, const unsigned char *fatbytes, int32_t groups)
{
    const unsigned char *p = fatbytes;
    int32_t g, e = 0;

    for (g = 0; g < groups; g++, p += 3, e += 2) {
        int32_t v = getu24l(p);
        dp->fat[e] = v & 0xFFF;
        dp->fat[e + 1] = (v >> 12) & 0xFFF;
    }
    for (; e < FATENTRIES; e++)
        dp->fat[e] = 0xFFF;
}

static void computegeometry(diskprops *dp)
{
    dp->rootdirsectors = (dp->rootentries * 32 + dp->bytespersector - 1) / dp->bytespersector;
    dp->fatstart = dp->reservedsectors;
    dp->rootdirstart = dp->fatstart + dp->fatcount * dp->sectorsperfat;
    dp->datastart = dp->rootdirstart + dp->rootdirsectors;
    dp->clusterbytes = dp->sectorspercluster * dp->bytespersector;
}

// Bytes of the first FAT copy that are read: as many as the work buffer
// holds (a longer copy is never decoded past 3072 groups anyway).
static int32_t fatbytesread(const diskprops *dp)
{
    int64_t want = (int64_t)dp->sectorsperfat * dp->bytespersector;

    return want > WORKBUFSIZE ? WORKBUFSIZE : (int32_t)want;
}

// FAT entries decoded from the FAT's bytes; the slots past them end chains.
int32_t fatentriesread(const diskprops *dp)
{
    int32_t groups = fatbytesread(dp) / 3;

    return 2 * (groups > FATGROUPS ? FATGROUPS : groups);
}

// Reads the first FAT copy and decodes it; 1 on success.
static int readfat(FILE *image, diskprops *dp, unsigned char *workbuf)
{
    int64_t fatat = (int64_t)dp->reservedsectors * dp->bytespersector;

    if (!readimage(image, dp, fatat, workbuf, fatbytesread(dp)))
        return 0;
    decodefat(dp, workbuf, fatentriesread(dp) / 2);
    return 1;
}

// Reads the boot sector's parameter block into workbuf; 1 on success.
// Through a map that is not one run of bytes the sectors are the
// container's, so the block is read as one of them.
static int readboot(FILE *image, diskprops *dp, unsigned char *workbuf)
{
    const sectormap *m = dp->map;

    if (m && !m->linear) {
        if (!m->type)
            return 0;
        dp->bytespersector = m->type->bytes;
    }
    return readimage(image, dp, 0, workbuf, BOOTREAD);
}

// VOLUMEOPEN when the volume is open, else the stage that failed. Prints
// nothing, so that each program can say it where its messages go.
int loadvolume(FILE *image, diskprops *dp, unsigned char *workbuf)
{
    dp->lacking = -1;
    if (!readboot(image, dp, workbuf))
        return VOLUMEBOOTFAILED;
    readbootfields(dp, workbuf);
    // Every sector offset divides by the sector size: 0 is unreadable; a
    // map holds sectors of its container's one size.
    if (dp->bytespersector == 0 ||
        (mappedimage(dp) && dp->bytespersector != dp->map->type->bytes))
        return VOLUMEBOOTFAILED;
    if (!readfat(image, dp, workbuf))
        return VOLUMEFATFAILED;
    computegeometry(dp);
    if (initrootdir(image, dp) == -1)
        return VOLUMEROOTFAILED;
    return VOLUMEOPEN;
}

// Maps the image's container (container -1: found from the content; disk,
// from 0, of a file that holds several) and opens the volume through the
// map: VOLUMEOPEN, the stage that failed, or VOLUMEMAPPED + why the
// container could not be mapped.
int loadimage(FILE *image, diskprops *dp, sectormap *map, int32_t container, int32_t disk,
              unsigned char *workbuf)
{
    int r = openimage(image, dp, map, container, disk);

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
    fprintf(out, "%s\n", volumemessage(stage));
    if (stage < VOLUMEMAPPED && dp->lacking >= 0)
        fprintf(out, "Sector %d is not in %s\n", dp->lacking, image);
}

// 1 when the volume of the image, in whatever container, is open; 0 after
// printing why not on standard output.
int openimagevolume(FILE *image, diskprops *dp, sectormap *map, unsigned char *workbuf,
                    const char *name)
{
    int stage = loadimage(image, dp, map, -1, 0, workbuf);

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
        "The image looks like another container gone wrong"};

    if (stage >= VOLUMEMAPPED && stage - VOLUMEMAPPED <= MAPLOOKSLIKE)
        return mapping[stage - VOLUMEMAPPED];
    if (stage == VOLUMEBOOTFAILED)
        return "Could not read disk properties";
    if (stage == VOLUMEFATFAILED)
        return "Could not read FAT table";
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
