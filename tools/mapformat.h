// The text of the sector map (sectmap's listing, sectput's report): names
// and paths as the list files write them, numbers, and extents as runs of
// sectors.
#ifndef TOOLS_MAPFORMAT_H
#define TOOLS_MAPFORMAT_H

#include <cstdint>
#include <cstdio>

#include "listfile/listfile.h"
#include "volume/volume.h"

// What one entry's chain is, from a first walk over it.
struct chainsummary {
    int32_t runs;
    int32_t clusters;   // sound clusters
    int32_t damage;     // CHAINSOUND, a CHAIN* reason, or MAPSHORT
    int32_t badcluster; // the cluster that stopped the walk, or -1
    int64_t needed;     // clusters the size needs (files)
    int pastimage;      // a sound cluster lies past the end of the image file
};
enum { MAPSHORT = 100 };

int32_t putnumber(FILE *out, int64_t value, int32_t width);
int32_t slotancestry(const diskprops *dp, const int32_t *rowslot, int32_t slot, int32_t *slots,
                     int32_t most);
int32_t slotspath(const diskprops *dp, const int32_t *slots, int32_t n, unsigned char *path);
void putimagepath(FILE *out, const unsigned char *path, int32_t len, int utf8, int role);
void putslotspath(FILE *out, const diskprops *dp, const int32_t *slots, int32_t n, int utf8,
                  int role);
void putwalkpath(FILE *out, const diskprops *dp, const dirwalk *w, int32_t slot, int utf8);
void putbelowpath(FILE *out, const char *given, const diskprops *dp, const dirwalk *w,
                  int32_t slot, int utf8);
void summarizechain(const diskprops *dp, chainwalk *cw, int32_t slot, int64_t imagebytes,
                    chainsummary *s);
int32_t putextents(FILE *out, const diskprops *dp, chainwalk *cw, int32_t first,
                   const chainsummary *s, const char *walkmark);
void putdamage(FILE *out, const chainsummary *s);
void putlongfields(FILE *out, const diskprops *dp, int32_t slot);
void putlongname(FILE *out, const diskprops *dp, int32_t slot);
void putmapfields(FILE *out, const diskprops *dp, chainwalk *cw, int32_t slot,
                  const chainsummary *s, const char *walkmark);

#endif
