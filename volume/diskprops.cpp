// The volume record's life: creation with an empty directory cache, opening
// (boot-sector fields, FAT, geometry, root directory) and release.
#include <cstdlib>

#include "diskprops.h"

enum {
    BOOTREAD = DCPHEADERSIZE + 1024,
    BOOTMINIMUM = DCPHEADERSIZE + 128
};

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
    dp->bytespersector = getu16l(boot + 11);
    dp->sectorspercluster = boot[13];
    dp->reservedsectors = getu16l(boot + 14);
    dp->fatcount = boot[16];
    dp->rootentries = getu16l(boot + 17);
    dp->totalsectors = getu16l(boot + 19);
    dp->mediadescriptor = boot[21];
    dp->sectorsperfat = getu16l(boot + 22);
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
static int readfat(FILE *image, diskprops *dp, unsigned char *workbuf, int32_t n)
{
    int64_t fatoffset = (int64_t)dp->reservedsectors * dp->bytespersector + dp->imageoffset;
    int32_t want = fatbytesread(dp);

    if (fatoffset != n && !seekimage(image, fatoffset))
        return 0;
    if ((int32_t)fread(workbuf, 1, (size_t)want, image) < want)
        return 0;
    decodefat(dp, workbuf, fatentriesread(dp) / 2);
    return 1;
}

// VOLUMEOPEN when the volume is open, else the stage that failed. Prints
// nothing, so that each program can say it where its messages go.
int loadvolume(FILE *image, diskprops *dp, unsigned char *workbuf)
{
    int32_t n;

    dp->imageoffset = DCPHEADERSIZE;
    n = (int32_t)fread(workbuf, 1, BOOTREAD, image);
    if (n >= BOOTMINIMUM)
        readbootfields(dp, workbuf + dp->imageoffset);
    // Every sector offset divides by the sector size: 0 is unreadable.
    if (n < BOOTMINIMUM || dp->bytespersector == 0)
        return VOLUMEBOOTFAILED;
    if (!readfat(image, dp, workbuf, n))
        return VOLUMEFATFAILED;
    computegeometry(dp);
    if (initrootdir(image, dp) == -1)
        return VOLUMEROOTFAILED;
    return VOLUMEOPEN;
}

// The message for a stage that loadvolume reports as failed.
const char *volumemessage(int stage)
{
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
