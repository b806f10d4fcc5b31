// Free runs of clusters for a put.
#ifndef VOLUME_FREERUNS_H
#define VOLUME_FREERUNS_H

#include "volume/diskprops.h"
#include "volume/chainruns.h"

// freeruns.cpp
int clusterinimage(const diskprops *dp, int32_t cluster);
int runisfree(const diskprops *dp, const chainwalk *held, int32_t first, int32_t count);
int32_t findfreerun(const diskprops *dp, const chainwalk *held, int32_t count,
                    int32_t *longest);

#endif
