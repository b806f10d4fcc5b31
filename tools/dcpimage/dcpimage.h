// dcpimage's commands, shared by its two files: the DCP ones (create,
// info, wrap, unwrap) and those of every container (convert, protect,
// unprotect, info of a D88, FDI, NFD or raw image).
#ifndef TOOLS_DCPIMAGE_DCPIMAGE_H
#define TOOLS_DCPIMAGE_DCPIMAGE_H

#include <cstdio>

#include "tools/options.h"
#include "volume/volume.h"

enum { LOOKSMAX = 160 }; // what a file looks like, said in a line

struct imagejob {
    int force;
    int clear;          // -c: the label removed
    int utf8;           // -u: the label is UTF-8
    const char *label;  // -L, or null
    const char *command, *in, *out;
    imagechoice from;   // -F (-1: from the content or the name), -d, -p, -g
    int32_t outformat;  // -O, or -1: from OUT's name
    const char *sizes;  // -P: a new hard disk's partitions, or null
    int32_t fill;       // --fill, or -1
    int compact;        // --compact: a DCP output leaves out the tracks IN lacks whole
    int32_t sectorsize; // -S, or -1
};

// dcpimage.cpp
FILE *opentemp(const imagejob *job);
int finishtemp(const imagejob *job, int ok);
int mayoverwrite(const imagejob *job);
void droptemp(void);

int makelabel(const char *text, int utf8, unsigned char *label);

int64_t parsesize(const char *text);

// harddisk.cpp
int harddisktype(const char *type, int32_t heads, int32_t spt, sectormap *d);
int createdisk(const imagejob *job, const sectormap *d, const unsigned char *label,
               uint32_t serial);
int convertdisk(const imagejob *job, FILE *in, const sectormap *from);
int convertpartition(const imagejob *job, FILE *in, int32_t container);
int wrappartition(const imagejob *job);

// label.cpp
int label(const imagejob *job);

// containers.cpp
int32_t formatofname(const char *path);
void putlayoutmismatch(const char *path, const floppytype *layout, const floppytype *volume);
int convert(const imagejob *job);
int convertvolume(const imagejob *job, int32_t informat, int32_t outformat,
                  const floppytype *type);
int protect(const imagejob *job, int on);
int infocontainer(const imagejob *job, int32_t container);
int writenew(const imagejob *job, int32_t format, FILE *in, const sectormap *from,
             const floppytype *type);

#endif
