// Clusters that more than one chain holds.
#ifndef VOLUME_OWNERS_H
#define VOLUME_OWNERS_H

#include "volume/diskprops.h"
#include "volume/chainruns.h"
#include "volume/dirwalk.h"

// owners.cpp: clusters that more than one chain holds
void countowners(FILE *image, diskprops *dp, dirwalk *w, chainwalk *cw, unsigned char *owners);
int32_t crossedcluster(const diskprops *dp, chainwalk *cw, int32_t first,
                       const unsigned char *owners);

#endif
