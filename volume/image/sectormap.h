// Floppy image containers (DCP, raw, D88, FDI, NFD): which one a file is,
// found from its content, and where each of the volume's sectors lies in
// it. The map is built once, when the image is opened, in one pass over the
// container's headers; the FAT volume above reads and writes through it and
// knows nothing of containers.
#ifndef VOLUME_IMAGE_SECTORMAP_H
#define VOLUME_IMAGE_SECTORMAP_H

#include <cstdint>
#include <cstdio>

enum {
    CONTAINERDCP = 0, CONTAINERRAW, CONTAINERD88, CONTAINERFDI, CONTAINERNFD, CONTAINERHDI,
    CONTAINERNHD, CONTAINERRAWHDD, CONTAINERTHD, CONTAINERVHD98, CONTAINERS
};

// What building a map reports. MAPNOPARTITION to MAPBADPARTITION: a hard
// disk's table gives no FAT partition, several where one must be named (the
// map's said[] lists them), none of the number asked, or the one asked for
// lies outside the disk or over another.
enum {
    MAPOK = 0, MAPUNREAD, MAPNODISK, MAPBADHEADER, MAPUNKNOWNTYPE, MAPLOOKSLIKE, MAPNOPARTITION,
    MAPMANYPARTITIONS, MAPNOSUCHPARTITION, MAPBADPARTITION
};

// Which partition of a hard disk: its number from 0, or one of these.
enum { PARTITIONTHEONLY = -1, PARTITIONFIRSTACTIVE = -2 };
enum { PARTITIONSMAX = 16 };

// A PC-98 partition table's entry: where it lies in disk sectors, and what
// it says of itself.
struct partentry {
    int32_t mid, sid;
    int64_t first, count;   // disk sectors
    int32_t startcyl, endcyl;
    int32_t problem;        // 0, or MAPBADPARTITION
    char why[96];           // what is wrong with it
    unsigned char name[17]; // NUL-terminated
};

enum {
    FLOPPYSECTORSMOST = 2880, // a disk of no more sectors is a floppy
    MAPMAXSECTORS = 4096, // more than any standard floppy's sectors
    HEADBYTES = 1024      // what recognising a container looks at
};
constexpr int64_t NOTINIMAGE = -1; // a sector's offset when the container lacks it

// A standard PC-98 floppy: its geometry, what each container calls it, and
// the parameter block of its standard FAT12 format.
struct floppytype {
    const char *name; // as dcpimage create takes it
    int32_t cylinders, heads, sectors, bytes;
    int32_t dcpmedia, fditype, d88media;
    int32_t clustersectors, reserved, fats, rootentries, descriptor, fatsectors;
};

// A standard hard disk: its geometry, as dcpimage create takes its name.
struct disktype {
    const char *name;
    int32_t bytes, spt, heads, cylinders;
};

struct sectormap {
    int32_t container;
    const floppytype *type;  // the geometry mapped; null for a linear map
    int32_t linear;          // 1: volume byte b lies at file byte base + b
    int64_t base;
    int64_t filesize;
    int32_t disks;           // D88: disks in the file; 1 elsewhere
    int32_t disk;            // the disk mapped, from 0
    int64_t protectat;       // file offset of the write-protect byte, or -1
    int32_t protect;         // 1 when the container says write-protected
    int32_t missing;         // volume sectors the container lacks
    int32_t errors;          // sectors the dump recorded as read with errors
    int32_t count;           // volume sectors in offset[]
    char lookslike[160];     // MAPLOOKSLIKE: what the file looks like, what to try
    // A hard disk: its disk sectors' geometry, where sector 0 lies in the
    // file, the table's entries and the one mapped (its volume at base,
    // limit bytes long).
    int32_t hard;
    int32_t diskbytes, diskspt, diskheads, diskcylinders;
    int64_t diskbase;
    int32_t partitions;
    partentry part[PARTITIONSMAX];
    int32_t chosen;
    int64_t limit;           // volume bytes the map holds, or -1 for no bound
    int32_t zerotail;        // 1: past the file's end the disk reads as zeros
    // A raw hard disk's heads and sectors a track as the command line gives
    // them (0: found from the disk); set before mapping, which keeps them.
    int32_t askheads, askspt;
    char said[PARTITIONSMAX * 48 + 96]; // MAPMANYPARTITIONS, MAPBADPARTITION: the line
    unsigned char name[17];  // D88: the disk's name, NUL-terminated; else empty
    int64_t offset[MAPMAXSECTORS]; // by volume sector: its data's file offset, or NOTINIMAGE
};

// What a new image is made of: the sectors of a map over in (NOTINIMAGE
// ones absent, or filled with fill when it is 0 to 255), in the geometry
// of type, with the D88 name and the write protection given.
struct newimage {
    FILE *in;
    const sectormap *from;
    const floppytype *type;
    int32_t fill;              // -1: absent sectors stay absent
    int32_t protect;
    const unsigned char *name; // 17 bytes, NUL-terminated
    // The source's bytes read ahead, so that a whole image is read in a few
    // large reads: CACHEBYTES of them from file offset cacheat.
    unsigned char *cache;
    int64_t cacheat;
    int32_t cachelen;
    int32_t compact;           // a DCP leaves out the tracks the source lacks whole
};

// What writing a new image reports.
enum { WRITEOK = 0, WRITEFAILED, WRITENEEDSFILL, WRITENOTYPE };

// One row of the container table: how to recognise a container from its
// first bytes and its size, how to map its sectors, how to write a new
// one (buf is scratch of a track's bytes and headers), how to describe
// what its header says beyond the map (null: nothing more; 0 back when it
// breaks a reader), and the byte its write-protect flag is set to (0: it
// has none).
struct containerkind {
    const char *name;  // as -F takes it
    const char *title; // as messages say it
    int (*recognise)(FILE *f, const unsigned char *head, int32_t n, int64_t size);
    int (*map)(FILE *f, sectormap *m, int32_t disk);
    int (*write)(FILE *out, newimage *n, unsigned char *buf);
    int (*describe)(FILE *f, FILE *out);
    int32_t protecton;
    // A hard disk's: its header for a disk of d's geometry into h (at most
    // DISKHEADERMOST bytes); the header's size, or -1 when it cannot hold
    // that geometry. Null for a floppy container.
    int (*header)(unsigned char *h, const sectormap *d);
};
enum { DISKHEADERMOST = 4096 };

// What a DCP header says.
enum { DCPTRACKFLAGS = 160 };
struct dcpheaderfacts {
    int32_t media;
    const floppytype *type; // the one the media byte names, or null
    int32_t stored;         // tracks flagged 1
    int32_t badflag;        // the first track whose flag is neither 0 nor 1, or -1
    int32_t byte161;
    unsigned char flags[DCPTRACKFLAGS];
};

enum { TRACKBUFSIZE = 65536, CACHEBYTES = 65536 };

// containers.cpp
const containerkind *containerof(int32_t container);
int32_t containernamed(const char *name);
const floppytype *floppytypeof(int32_t bytes, int32_t sectors, int32_t heads);
const floppytype *floppytypenamed(const char *name);
const floppytype *floppytypeofsize(int64_t size);
const floppytype *floppytypeofmedia(int32_t media);
const disktype *disktypenamed(const char *name);
const disktype *disktypeofsize(int64_t size);
int32_t floppysectors(const floppytype *t);
int32_t findcontainer(FILE *f, int64_t size);
int lookslike(FILE *f, int64_t size, char *text, int32_t n);
int mapimage(FILE *f, sectormap *m, int32_t container, int32_t disk);
int mapimagepart(FILE *f, sectormap *m, int32_t container, int32_t disk, int32_t part);
int64_t sectoroffset(const sectormap *m, int32_t sector, int32_t bytes);
void startmap(sectormap *m, int32_t container, const floppytype *t);
int readat(FILE *f, int64_t at, unsigned char *buf, int32_t n);
int readdisk(FILE *f, const sectormap *m, int64_t at, unsigned char *buf, int32_t n);
int32_t containerofname(const char *path);
int seekfile(FILE *f, int64_t at);
int64_t filesizeof(FILE *f);

// newimage.cpp: what every writer shares
int readnewsector(newimage *n, int32_t sector, unsigned char *buf);
int newsectorpresent(newimage *n, int32_t sector);
int32_t trackpresent(newimage *n, int32_t track);
int sourced88header(newimage *n, int32_t sector, unsigned char *h);
void makedcpheader(const floppytype *t, unsigned char *header);
int32_t firstabsent(newimage *n);
int writetracks(FILE *out, newimage *n, int32_t first, int32_t last, unsigned char *buf);

// One file per container.
int recognisedcp(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int mapdcp(FILE *f, sectormap *m, int32_t disk);
int mapdcpas(FILE *f, sectormap *m, const floppytype *t);
int writedcp(FILE *out, newimage *n, unsigned char *buf);
int readdcpheader(FILE *f, dcpheaderfacts *h);
int32_t dcpmissing(const dcpheaderfacts *h, const floppytype *layout);
int describedcp(FILE *f, FILE *out);
int recogniseraw(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int mapraw(FILE *f, sectormap *m, int32_t disk);
int writeraw(FILE *out, newimage *n, unsigned char *buf);
int recognised88(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int d88lookslike(FILE *f, int64_t size, char *text, int32_t n);
int rawlookslike(const unsigned char *head, int32_t got, int64_t size, char *text, int32_t n);
int mapd88(FILE *f, sectormap *m, int32_t disk);
int writed88(FILE *out, newimage *n, unsigned char *buf);
int recognisefdi(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int mapfdi(FILE *f, sectormap *m, int32_t disk);
int writefdi(FILE *out, newimage *n, unsigned char *buf);
int recognisehdi(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int maphdi(FILE *f, sectormap *m, int32_t disk);
int recognisenhd(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int mapnhd(FILE *f, sectormap *m, int32_t disk);
int recogniserawhdd(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int maprawhdd(FILE *f, sectormap *m, int32_t disk);
int hdiheader(unsigned char *h, const sectormap *d);
int nhdheader(unsigned char *h, const sectormap *d);
int thdheader(unsigned char *h, const sectormap *d);
int vhd98header(unsigned char *h, const sectormap *d);
int rawhddheader(unsigned char *h, const sectormap *d);
int64_t diskbytesof(const sectormap *d);
int mapdisk(sectormap *m, int64_t base, const int64_t *g);
int recognisethd(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int mapthd(FILE *f, sectormap *m, int32_t disk);
int recognisevhd98(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int mapvhd98(FILE *f, sectormap *m, int32_t disk);
int hdilookslike(const unsigned char *head, int32_t got, int64_t size, char *text, int32_t n);
int nhdlookslike(const unsigned char *head, int32_t got, int64_t size, char *text, int32_t n);
int vhd98lookslike(const unsigned char *head, int32_t got, char *text, int32_t n);
int slhlookslike(const unsigned char *head, int32_t got, char *text, int32_t n);
int plausibledisk(int64_t bytes, int64_t spt, int64_t heads, int64_t cylinders);
int disklookslike(const char *title, const int64_t *g, int64_t header, int64_t size, char *text,
                  int32_t n);
int harddisklookslike(const unsigned char *head, int32_t got, int64_t size, char *text,
                      int32_t n);
// pc98table.cpp: the partition table, and a partition as the volume's map
int readpartitions(FILE *f, sectormap *m);
int choosepartition(FILE *f, sectormap *m, int32_t part);
void makeiplsector(unsigned char *s, int32_t bytes);
void makeentry(unsigned char *e, const sectormap *d, int32_t first, int32_t last, int32_t sid,
               const unsigned char *name);
int recognisenfd(FILE *f, const unsigned char *head, int32_t n, int64_t size);
int mapnfd(FILE *f, sectormap *m, int32_t disk);
int writenfd(FILE *out, newimage *n, unsigned char *buf);

#endif
