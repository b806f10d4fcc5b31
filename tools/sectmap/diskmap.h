// sectmap --map and --svg: a picture of where every file lies, the volume's
// sectors as the floppy's tracks and sectors.
#ifndef TOOLS_SECTMAP_DISKMAP_H
#define TOOLS_SECTMAP_DISKMAP_H

#include <cstdio>

#include "volume/volume.h"

// What a sector holds, as the picture shows it.
enum {
    HOLDSBOOT = 0, HOLDSRESERVED, HOLDSFAT, HOLDSROOT, HOLDSFREE, HOLDSBAD, HOLDSLOST,
    HOLDSLACKING, HOLDSUNUSED, HOLDSOTHER, HOLDSENTRY, HOLDKINDS
};

// The owners of the volume's clusters: each lettered entry (every entry in
// the listing's order, or the PATHs given in their order) by its number,
// and where in its chain each cluster lies.
struct diskpicture {
    int32_t spt, heads;                   // the geometry the rows follow: cells a row
    int32_t per;                          // sectors a cell stands for: 1 on a floppy
    int32_t cells;
    int32_t owner[CLUSTERSLOTS];         // 1 + the entry's number; -1 another's; 0 none
    int32_t place[CLUSTERSLOTS];         // the cluster's index in its owner's chain
    int32_t slot[CLUSTERSLOTS];          // its owner's entry (a dirbuf offset)
    int32_t rowslot[CLUSTERSLOTS + 2];   // by cache row: the entry that names it
    unsigned char split[CLUSTERSLOTS];   // its owner lies in more than one run
    unsigned char used[HOLDKINDS];        // what the picture shows
    int32_t entries;                      // entries in the tree (lettered, with no PATH)
};

// The pieces of sectmap that the picture uses.
struct mapview {
    FILE *image;
    diskprops *dp;
    dirwalk *walk;
    chainwalk *chain;
    int64_t imagebytes;
    int utf8;
    char **paths; // the PATHs given, as given
    int32_t pathcount;
    const unsigned char *const *imagepaths; // the same in the image's bytes
    const int32_t *imagepathlens;
};

// The legend's lettered entries, walked in order.
struct legendwalk {
    int32_t k, entry;
    chainwalk own;
};
void startlegend(const mapview *v, legendwalk *l);
int nextlegend(const mapview *v, legendwalk *l, int32_t *slot, int32_t *entry, chainwalk **cw,
               int32_t *k);
int terminalcolors(void);
int drawdisk(const mapview *v, diskpicture *p);
int32_t sectorholds(const mapview *v, const diskpicture *p, int32_t sector, int32_t *entry,
                    int32_t *cluster);
int32_t cellholds(const mapview *v, const diskpicture *p, int32_t cell, int32_t *entry,
                  int32_t *cluster, int32_t *sector);
char entrysymbol(int32_t entry);
void putlegendfields(FILE *out, const mapview *v, int32_t slot, chainwalk *cw);
int32_t countlegend(const mapview *v, diskpicture *p);
void putterminalmap(const mapview *v, diskpicture *p, const char *image, int color);
int putsvgmap(const mapview *v, diskpicture *p, const char *image, FILE *out);

#endif
