// The volume record: a FAT12 or FAT16 volume in an image's container, read
// and written through its sector map; its constants, opening it, and
// moving its bytes. Each other concern of the volume has its own header
// (volume/volume.h includes them all).
#ifndef VOLUME_DISKPROPS_H
#define VOLUME_DISKPROPS_H

#include <cstdint>
#include <cstdio>

#include "volume/bootsector.h"
#include "volume/bytes.h"
#include "volume/image/sectormap.h"

enum {
    DCPHEADERSIZE = 162,
    WORKBUFSIZE = 16384,
    CLUSTERSLOTS = 65536, // every cluster number an entry can hold: each per-cluster array
    FAT12GROUPS = 3072,   // the 3-byte groups of a FAT12 FAT decoded, at most
    FAT12CLUSTERS = 4085, // a volume of fewer clusters is FAT12, as every FAT
    FAT16CLUSTERS = 65525, // implementation decides; of fewer, FAT16; else FAT32
    ATTRREADONLY = 0x01,
    ATTRHIDDEN = 0x02,
    ATTRSYSTEM = 0x04,
    ATTRLABEL = 0x08,
    ATTRDIR = 0x10,
    ATTRARCHIVE = 0x20,
    FREESLOT = 0x00,   // a slot's first byte: never used
    DELETEDMARK = 0xE5, // a slot's first byte: deleted
    KANJIE5 = 0x05,    // how FAT stores a name whose first byte really is 0xE5
    ENTRYATTR = 11     // a slot's attribute byte
};

// What loadvolume reports: the volume is open, or the stage that failed.
// loadimage adds VOLUMEMAPPED + a map result when the container cannot be mapped.
enum {
    VOLUMEOPEN = 0, VOLUMEBOOTFAILED, VOLUMEFATFAILED, VOLUMEROOTFAILED, VOLUMEFAT32,
    VOLUMEMAPPED
};

// One row of the directory cache: offsets, not addresses, because dirbuf
// moves when it grows.
enum { RETIREDROW = -2 }; // a row no lookup finds any more
struct cacheddir {
    int32_t cluster; // first cluster; -1 for the root, RETIREDROW for none
    int32_t start;
    int32_t end;
};

struct imagewriter {
    int (*write)(void *ctx, int64_t at, const unsigned char *buf, int32_t len);
    int (*beforeread)(void *ctx, int64_t at, int32_t len);
    void *ctx;
};

struct diskprops {
    int32_t fat[CLUSTERSLOTS];
    int32_t fatbits;    // 12 or 16, by the cluster count
    int32_t endofchain; // this entry and all above end a chain: 0xFF0 or 0xFFF0
    int32_t badmark;    // the disk cannot hold this cluster, never freed: 0xFF7 or 0xFFF7
    int32_t endmark;    // what a put ends its chain with: 0xFFF or 0xFFFF
    int32_t fatentries; // entries decoded from the first FAT copy
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
    int32_t sectorspertrack; // the geometry the parameter block gives, which a
    int32_t heads;           // container that lays out tracks must share
    int32_t rootdirsectors;
    int32_t fatstart;
    int32_t rootdirstart;
    int32_t datastart;
    int32_t clusterbytes;
    // Where the volume's sectors lie in the file: null for a DCP image read
    // straight through from byte 162. Every offset the volume code passes
    // is a volume byte (0: the boot sector's first); only the map turns it
    // into a file offset.
    const sectormap *map;
    int32_t lacking; // the last volume sector a read or write found not in the image, or -1
    // Where a change's writes go instead of the file, or null: a rollback
    // journal that saves the old bytes first (it takes file offsets, and is
    // told of every read so that a read sees what was written).
    const imagewriter *writer;
};

// imageio.cpp: positioning by 64-bit offsets within what stdio can reach,
// and moving bytes at volume offsets through the sector map
int seekimage(FILE *image, int64_t offset);
int64_t imagesize(FILE *image);
int mappedimage(const diskprops *dp);
int64_t filebyteof(const diskprops *dp, int64_t at);
int readimage(FILE *image, diskprops *dp, int64_t at, unsigned char *buf, int32_t len);
int32_t readimageupto(FILE *image, diskprops *dp, int64_t at, unsigned char *buf, int32_t len);
int writeimage(FILE *image, diskprops *dp, int64_t at, const unsigned char *buf, int32_t len);
int writeimagechanged(FILE *image, diskprops *dp, int64_t at, const unsigned char *buf,
                      int32_t len);
int writeimagenext(FILE *image, diskprops *dp, int64_t at, const unsigned char *buf, int32_t n,
                   int64_t *streamat);
int32_t sectornotheld(const diskprops *dp, int64_t at, int64_t len, int64_t filesize);
int openimage(FILE *image, diskprops *dp, sectormap *map, int32_t container, int32_t disk,
              int32_t part);
int imagewritable(FILE *out, const diskprops *dp, const char *image);
int layoutagrees(const diskprops *dp);
void putlayoutproblem(FILE *out, const diskprops *dp, const char *image, const char *outcome);

int64_t clusteroffset(const diskprops *dp, int32_t cluster);
int32_t lastcluster(const diskprops *dp);
int clusterinvolume(const diskprops *dp, int32_t cluster);

// diskprops.cpp: the record's life
void initdiskprops(diskprops *dp);
int openvolume(FILE *image, diskprops *dp, unsigned char *workbuf);
int loadvolume(FILE *image, diskprops *dp, unsigned char *workbuf);
const char *volumemessage(int stage);
int loadimage(FILE *image, diskprops *dp, sectormap *map, int32_t container, int32_t disk,
              int32_t part, unsigned char *workbuf);
void putvolumeproblem(FILE *out, const diskprops *dp, int stage, const char *image);
int openimagevolume(FILE *image, diskprops *dp, sectormap *map, unsigned char *workbuf,
                    const char *name);
int32_t fatentriesread(const diskprops *dp);
void freediskprops(diskprops *dp);

#endif
