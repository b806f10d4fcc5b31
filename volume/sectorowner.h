// What a sector holds: its area, and the entry whose chain reaches it.
#ifndef VOLUME_SECTOROWNER_H
#define VOLUME_SECTOROWNER_H

#include "volume/diskprops.h"
#include "volume/chainruns.h"
#include "volume/dirwalk.h"

// Where a sector lies, and what a data cluster that no chain reaches is.
enum {
    SECTORBOOT = 0, SECTORRESERVED, SECTORFAT, SECTORROOT, SECTORDATA, SECTORUNUSED,
    SECTORPASTEND
};
enum { CLUSTERFREE = 0, CLUSTERBAD, CLUSTERLOST };

// sectorowner.cpp
int sectorarea(const diskprops *dp, int32_t sector, int32_t *detail);
int clusterstate(const diskprops *dp, int32_t cluster);
int32_t findowner(FILE *image, diskprops *dp, dirwalk *w, chainwalk *cw, int32_t cluster,
                  int32_t *index);

#endif
