// The VFAT long-name slots an entry has.
#ifndef VOLUME_LONGNAMES_H
#define VOLUME_LONGNAMES_H

#include "volume/diskprops.h"
#include "volume/putfile.h"

// longnames.cpp: the VFAT long-name slots an entry has
enum { LONGNAMEMAX = 20 * 13 * 4 + 8, LOWERCASEFLAGS = 0x18 };
int32_t longnameparts(const diskprops *dp, int32_t slot);
int droplongname(diskprops *dp, putplan *p, int32_t slot);
int32_t longnametext(const diskprops *dp, int32_t slot, unsigned char *out);

#endif
