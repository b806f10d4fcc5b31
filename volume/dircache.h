// The directory cache: every directory read once into dirbuf, a row each.
#ifndef VOLUME_DIRCACHE_H
#define VOLUME_DIRCACHE_H

#include "volume/diskprops.h"

// dircache.cpp
int ensuredirspace(diskprops *dp, int32_t bytes, int32_t rows);
int32_t initrootdir(FILE *image, diskprops *dp);
int32_t adddirectoryentry(FILE *image, diskprops *dp, int32_t cluster);
int32_t getdirectoryentry(FILE *image, diskprops *dp, int32_t cluster);
int32_t chainlength(const diskprops *dp, int32_t cluster, int32_t most);
int32_t addblankdirectory(diskprops *dp, int32_t cluster);
int growdirectoryrow(diskprops *dp, int32_t row);
void droplastrow(diskprops *dp);

#endif
