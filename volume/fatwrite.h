// Chains set and freed in the decoded FAT, written to every copy.
#ifndef VOLUME_FATWRITE_H
#define VOLUME_FATWRITE_H

#include "volume/diskprops.h"

// fatwrite.cpp: chains set and freed in the decoded FAT, written to every copy
void setrun(diskprops *dp, int32_t first, int32_t count);
void freechain(diskprops *dp, int32_t first);
int writefats(FILE *image, diskprops *dp, unsigned char *buf);

#endif
