// Volume access: a FAT12 volume inside a DCP image (162-byte header, then
// the volume's sectors). Opening, the directory cache, path lookup and
// writing through a cluster chain.
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

// A walk over a cluster chain, one run of consecutive clusters at a time.
// seen[] marks the clusters taken, by stamp, so that a loop is caught; once
// claimchains has been called, a cluster that an earlier chain took since
// then (stamp claimfrom or later, but not selfstamp, the stamp of an earlier
// walk over this same chain) stops the walk as CHAINSHARED.
// CHAINBADMARK: the chain holds a cluster that the FAT marks bad (its entry
// ends the chain), which no put may free.
enum {
    CHAINSOUND = 0, CHAINLOOP, CHAINOUTSIDE, CHAINPASTEND, CHAINSHARED, CHAINBADMARK,
    CHAINDONE = -1
};
struct chainwalk {
    int32_t next;       // cluster the next run starts at; CHAINDONE when done
    int32_t clusters;   // sound clusters taken so far
    int32_t damage;     // CHAINSOUND, or why the walk stopped early
    int32_t badcluster; // the cluster that stopped it, or -1
    int32_t stamp;
    int32_t claimfrom;  // 0 while chains may share clusters
    int32_t selfstamp;
    int32_t seen[CLUSTERSLOTS];
};

// A depth-first walk over the directory tree. A frame per directory being
// walked: its cache row, the dirbuf offset of its next slot, and the dirbuf
// offset of the entry that named it (-1 for the root). WALKCROSSED: a
// directory whose chain runs into clusters that another directory's holds.
enum { WALKFILE = 0, WALKDIR, WALKAGAIN, WALKUNREAD, WALKCROSSED };
struct walkframe {
    int32_t row;
    int32_t next;
    int32_t slot;
};
struct dirwalk {
    int32_t depth;       // frames[0..depth] in use; frames[0] is the root
    int32_t pending;     // row to enter on the next step, or -1
    int32_t pendingslot;
    unsigned char entered[CLUSTERSLOTS]; // directories entered, by first cluster
    unsigned char marks[CLUSTERSLOTS];   // what the walk found each cluster to be
    walkframe frames[CLUSTERSLOTS];
};

// Where a sector lies, and what a data cluster that no chain reaches is.
enum {
    SECTORBOOT = 0, SECTORRESERVED, SECTORFAT, SECTORROOT, SECTORDATA, SECTORUNUSED,
    SECTORPASTEND
};
enum { CLUSTERFREE = 0, CLUSTERBAD, CLUSTERLOST };

struct diskprops {
    int32_t fat[CLUSTERSLOTS];
    int32_t fatbits;    // 12 or 16, by the cluster count
    int32_t endofchain; // this entry and all above end a chain: 0xFF0 or 0xFFF0
    int32_t badmark;    // the disk cannot hold this cluster, never freed: 0xFF7 or 0xFFF7
    int32_t endmark;    // what a put ends its chain with: 0xFFF or 0xFFFF
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
};


// imageio.cpp: positioning by 64-bit offsets within what stdio can reach,
// and moving bytes at volume offsets through the sector map
int seekimage(FILE *image, int64_t offset);
int64_t imagesize(FILE *image);
int mappedimage(const diskprops *dp);
int64_t filebyteof(const diskprops *dp, int64_t at);
int readimage(FILE *image, diskprops *dp, int64_t at, unsigned char *buf, int32_t len);
int writeimage(FILE *image, diskprops *dp, int64_t at, const unsigned char *buf, int32_t len);
int writeimagenext(FILE *image, diskprops *dp, int64_t at, const unsigned char *buf, int32_t n,
                   int64_t *streamat);
int32_t sectornotheld(const diskprops *dp, int64_t at, int64_t len, int64_t filesize);
int openimage(FILE *image, diskprops *dp, sectormap *map, int32_t container, int32_t disk);
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
              unsigned char *workbuf);
void putvolumeproblem(FILE *out, const diskprops *dp, int stage, const char *image);
int openimagevolume(FILE *image, diskprops *dp, sectormap *map, unsigned char *workbuf,
                    const char *name);
int32_t fatentriesread(const diskprops *dp);
void freediskprops(diskprops *dp);

// dircache.cpp
int ensuredirspace(diskprops *dp, int32_t bytes, int32_t rows);
int32_t initrootdir(FILE *image, diskprops *dp);
int32_t adddirectoryentry(FILE *image, diskprops *dp, int32_t cluster);
int32_t getdirectoryentry(FILE *image, diskprops *dp, int32_t cluster);
int32_t chainlength(const diskprops *dp, int32_t cluster, int32_t most);
int32_t addblankdirectory(diskprops *dp, int32_t cluster);
int growdirectoryrow(diskprops *dp, int32_t row);

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

int32_t findslot(FILE *image, diskprops *dp, const unsigned char *path, int32_t len);
int32_t dotcomponent(const unsigned char *path, int32_t len);
int32_t searchrow(const diskprops *dp, int32_t row, const unsigned char *name,
                  int32_t required);
int sjisleadbyte(int c);
int validname83(const unsigned char *path, int32_t start, int32_t end);
void makename83(const unsigned char *path, int32_t start, int32_t end, unsigned char *dest);

// chainruns.cpp
void initchainwalk(chainwalk *w);
void startchain(chainwalk *w, int32_t first);
void rewalkchain(chainwalk *w, int32_t first);
void claimchains(chainwalk *w);
int nextrun(const diskprops *dp, chainwalk *w, int32_t *first, int32_t *last);
int32_t clustersector(const diskprops *dp, int32_t cluster);

// dirwalk.cpp
int32_t entrycluster(const diskprops *dp, int32_t slot);
uint32_t entrysize(const diskprops *dp, int32_t slot);
int entryisdir(const diskprops *dp, int32_t slot);
int32_t entryattr(const diskprops *dp, int32_t slot);
const unsigned char *entryname(const diskprops *dp, int32_t slot);
void startwalk(const diskprops *dp, dirwalk *w);
void startwalkat(const diskprops *dp, dirwalk *w, int32_t row);
int32_t nextentry(FILE *image, diskprops *dp, dirwalk *w, int *kind);

// sectorowner.cpp
int sectorarea(const diskprops *dp, int32_t sector, int32_t *detail);
int clusterstate(const diskprops *dp, int32_t cluster);
int32_t findowner(FILE *image, diskprops *dp, dirwalk *w, chainwalk *cw, int32_t cluster,
                  int32_t *index);

// owners.cpp: clusters that more than one chain holds
void countowners(FILE *image, diskprops *dp, dirwalk *w, chainwalk *cw, unsigned char *owners);
int32_t crossedcluster(const diskprops *dp, chainwalk *cw, int32_t first,
                       const unsigned char *owners);

// readchain.cpp: a file's bytes out of the volume
enum { READCHAINOK = 0, READCHAINIMAGE, READCHAINOUT };
int readchain(FILE *image, diskprops *dp, chainwalk *cw, int32_t first, uint32_t size,
              FILE *out, unsigned char *buf, int32_t bufsize);

// fatwrite.cpp: chains set and freed in the decoded FAT, written to every copy
void setrun(diskprops *dp, int32_t first, int32_t count);
void freechain(diskprops *dp, int32_t first);
int writefats(FILE *image, diskprops *dp, unsigned char *buf);

// freeruns.cpp
int clusterinimage(const diskprops *dp, int32_t cluster);
int runisfree(const diskprops *dp, const chainwalk *held, int32_t first, int32_t count);
int32_t findfreerun(const diskprops *dp, const chainwalk *held, int32_t count,
                    int32_t *longest);

// dirwrite.cpp: entries made and changed in the cache, then written back
struct fattime {
    int32_t time;
    int32_t date;
};
// A FAT date and time taken apart, as stored (a damaged entry's month may be 0).
struct fatclock {
    int32_t year, month, day, hour, minute, second;
};
void packfattime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                 int32_t second, fattime *t);
void unpackfattime(const unsigned char *slot, fatclock *c);
void fillentry(unsigned char *slot, const unsigned char *name, int32_t attr, int32_t cluster,
               uint32_t size, const fattime *t);
void updateentry(unsigned char *slot, int32_t cluster, uint32_t size, const fattime *t);
int32_t findfreeslot(const diskprops *dp, int32_t row);
enum { LOSTCLUSTER = -2 };
int32_t slotcluster(const diskprops *dp, int32_t row, int32_t at);
int32_t rowofslot(const diskprops *dp, int32_t at);
int writedirectories(FILE *image, diskprops *dp, const unsigned char *dirty, int rootdirty);

// putfile.cpp: a put planned in memory. putfile changes the decoded FAT and
// the cached directories as the put would and marks what must be written.
enum {
    PUTOK = 0, PUTBADPATH, PUTBADNAME, PUTISDIR, PUTTHROUGHFILE, PUTDAMAGED, PUTUNREADABLE,
    PUTTOOBIG, PUTNOROOM, PUTROOTFULL, PUTMOVE, PUTNOMEMORY, PUTNORESERVED, PUTBADMARK,
    PUTNOSYSTEMAREA, PUTCROSSED
};
struct putplan {
    int keep;                            // refuse to move a file that had clusters
    int32_t put;                         // the put being planned, counted from 1
    int32_t planned[CLUSTERSLOTS];      // the put whose data a cluster is to hold, or 0
    int32_t original[CLUSTERSLOTS];     // by a put's first cluster: the first cluster its
                                         // file had before the run, or 0
    unsigned char dirty[CLUSTERSLOTS];  // directory clusters changed
    int rootdirty;
    int fatdirty;                        // the FAT changed (sectput writes it always)
    chainwalk held;                      // the chain of the file being replaced
    const unsigned char *owners;         // chains per cluster (countowners), or null: a
                                         // chain another entry holds too is then not seen
    // What the last putfile did or found.
    int32_t slot;     // dirbuf offset of the file's entry
    int32_t first;    // its first cluster now; 0 when empty
    int32_t before;   // the first cluster it had before the run; 0 for none
    int32_t badstart; // the component of the path a refusal concerns
    int32_t badend;
    int32_t needed;   // clusters needed, and the longest free run (or the
    int32_t longest;  // volume's clusters, for PUTTOOBIG)
    int64_t imageat;  // where the last data write ended, or -1
};
void initputplan(putplan *p, int keep);
int putfile(FILE *image, diskprops *dp, putplan *p, const unsigned char *path, int32_t len,
            uint32_t size, const fattime *t);
int takeslot(diskprops *dp, putplan *p, int32_t row, int32_t *at);
int markslot(const diskprops *dp, putplan *p, int32_t row, int32_t at);
int64_t putreach(const diskprops *dp, const putplan *p);
int planinimage(diskprops *dp, const putplan *p, int64_t filesize);

// removefile.cpp: a removal planned as a put is; the entry that stops one,
// with what stops it (a walk's kind, a chain's damage, the cluster).
enum {
    REMOVEOK = 0, REMOVENOTFOUND, REMOVEROOT, REMOVEISDIR, REMOVEDAMAGED, REMOVECROSSED,
    REMOVEUNREAD
};
struct removal {
    int32_t slot;
    int below; // the entry lies below the directory removed (the walk's path names it)
    int kind;
    int32_t damage;
    int32_t cluster;
};
int removeentry(FILE *image, diskprops *dp, putplan *p, dirwalk *w, chainwalk *cw,
                const unsigned char *owners, const unsigned char *path, int32_t len,
                int recursive, removal *r);

// renamefile.cpp: a rename or move planned as a put is; the data never moves.
enum {
    MOVEOK = 0, MOVENOTFOUND, MOVEROOT, MOVEEXISTS, MOVEBADNAME, MOVENOPARENT, MOVEINTOITSELF,
    MOVEROOTFULL, MOVENOROOM, MOVENOMEMORY, MOVEDAMAGED, MOVEUNREAD, MOVESAME
};
int moveentry(FILE *image, diskprops *dp, putplan *p, chainwalk *cw, const unsigned char *owners,
              const unsigned char *from, int32_t fromlen, const unsigned char *to,
              int32_t tolen, int force);

// longnames.cpp: the VFAT long-name slots an entry has
enum { LONGNAMEMAX = 20 * 13 * 4 + 8, LOWERCASEFLAGS = 0x18 };
int32_t longnameparts(const diskprops *dp, int32_t slot);
int droplongname(diskprops *dp, putplan *p, int32_t slot);
int32_t longnametext(const diskprops *dp, int32_t slot, unsigned char *out);

// attributes.cpp: attributes and the volume label
void setattributes(diskprops *dp, putplan *p, int32_t slot, int32_t set, int32_t clear);
int32_t findlabel(const diskprops *dp);
int setlabel(diskprops *dp, putplan *p, const unsigned char *label);
int writebootlabel(FILE *image, diskprops *dp, const unsigned char *label);

// runwrite.cpp: a put's data into its run
int writerun(FILE *image, diskprops *dp, putplan *p, FILE *host, int32_t first, uint32_t size,
             unsigned char *buf, int32_t bufsize);

// dcpheader.cpp: the known DCP types and their headers
enum { TRACKFLAGS = 160, BYTE161 = 161 };
typedef floppytype dcptype; // the table of floppy types is volume/image's
const dcptype *dcptypeofboot(const unsigned char *boot);
int32_t tracksize(const dcptype *t);
int32_t volumetracks(const dcptype *t);

// format.cpp: a blank volume of a shape: a floppy type's, or a FAT16 one
struct volumeshape {
    int32_t bytes, clustersectors, reserved, fats, rootentries, descriptor, fatsectors;
    int32_t sectorspertrack, heads, sectors, fatbits;
};
void floppyshape(const dcptype *t, volumeshape *s);
int fat16shape(int32_t sectors, int32_t bytes, volumeshape *s);
int writeblankvolume(FILE *out, const volumeshape *s, const unsigned char *label, int labelentry,
                     uint32_t serial, unsigned char *buf);

// patchfile.cpp
int patchfile(FILE *image, diskprops *dp, const unsigned char *path, int32_t pathlen,
              int32_t offset, const unsigned char *data, int32_t len);

#endif
