// Volume access: a FAT12 volume inside a DCP image (162-byte header, then
// the volume's sectors). Opening, the directory cache, path lookup and
// writing through a cluster chain.
#ifndef VOLUME_DISKPROPS_H
#define VOLUME_DISKPROPS_H

#include <cstdint>
#include <cstdio>

enum {
    DCPHEADERSIZE = 162,
    WORKBUFSIZE = 16384,
    FATENTRIES = 6144,
    FATGROUPS = 3072,
    FATENDOFCHAIN = 4080, // 0xFF0: this entry and all above end a chain
    ATTRLABEL = 0x08,
    ATTRDIR = 0x10
};

// One row of the directory cache: offsets, not addresses, because dirbuf
// moves when it grows.
struct cacheddir {
    int32_t cluster; // first cluster; -1 for the root
    int32_t start;
    int32_t end;
};

struct diskprops {
    int32_t imageoffset;
    int32_t fat[FATENTRIES];
    unsigned char *dirbuf;
    int32_t dircount;
    cacheddir *dirtable;
    int32_t dirbufsize;
    int32_t dirbufused;
    int32_t dirtablesize;
    int32_t bytespersector;
    int32_t sectorspercluster;
    int32_t reservedsectors;
    int32_t fatcount;
    int32_t rootentries;
    int32_t totalsectors;
    int32_t mediadescriptor;
    int32_t sectorsperfat;
    int32_t rootdirsectors;
    int32_t fatstart;
    int32_t rootdirstart;
    int32_t datastart;
    int32_t clusterbytes;
};

// bytes.cpp: little-endian helpers
int32_t getu16l(const unsigned char *p);
int32_t getu24l(const unsigned char *p);
int32_t geti32l(const unsigned char *p);
void setu16l(unsigned char *p, int32_t v);
void setu32l(unsigned char *p, int32_t v);

// imageio.cpp: positioning by 64-bit offsets within what stdio can reach
int seekimage(FILE *image, int64_t offset);
int64_t clusteroffset(const diskprops *dp, int32_t cluster);
int clusterinvolume(const diskprops *dp, int32_t cluster);

// diskprops.cpp: the record's life
void initdiskprops(diskprops *dp);
int openvolume(FILE *image, diskprops *dp, unsigned char *workbuf);
void freediskprops(diskprops *dp);

// dircache.cpp
int ensuredirspace(diskprops *dp, int32_t bytes, int32_t rows);
int32_t initrootdir(FILE *image, diskprops *dp);
int32_t adddirectoryentry(FILE *image, diskprops *dp, int32_t cluster);
int32_t getdirectoryentry(FILE *image, diskprops *dp, int32_t cluster);
int32_t chainlength(const diskprops *dp, int32_t cluster, int32_t most);

// pathlookup.cpp
int32_t getfilesector(FILE *image, diskprops *dp, const unsigned char *path, int32_t len);
int32_t getfilecluster(FILE *image, diskprops *dp, const unsigned char *path, int32_t len);
int32_t findentry(FILE *image, diskprops *dp, const unsigned char *path, int32_t len,
                  int32_t *attr);
int32_t getentryindex(const unsigned char *dir, int32_t from, int32_t end,
                      const unsigned char *name, int32_t required, int32_t forbidden);
int nameequals(const unsigned char *entry, const unsigned char *name);
void nameto83(const unsigned char *path, int32_t start, int32_t end, unsigned char *dest);
void nametext(const unsigned char *src, unsigned char *dest, int32_t count);
int32_t nextslash(const unsigned char *p, int32_t from, int32_t end);
int32_t findbyte(const unsigned char *p, int32_t from, int32_t end, int32_t wanted);

// patchfile.cpp
int patchfile(FILE *image, diskprops *dp, const unsigned char *path, int32_t pathlen,
              int32_t offset, const unsigned char *data, int32_t len);

#endif
