// Attributes and the volume label.
#ifndef VOLUME_ATTRIBUTES_H
#define VOLUME_ATTRIBUTES_H

#include "volume/diskprops.h"
#include "volume/putfile.h"

// attributes.cpp: attributes and the volume label
void setattributes(diskprops *dp, putplan *p, int32_t slot, int32_t set, int32_t clear);
int32_t findlabel(const diskprops *dp);
int setlabel(diskprops *dp, putplan *p, const unsigned char *label);
int writebootlabel(FILE *image, diskprops *dp, const unsigned char *label);

#endif
