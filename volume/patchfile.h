// Writing into a file in place, through its cluster chain.
#ifndef VOLUME_PATCHFILE_H
#define VOLUME_PATCHFILE_H

#include "volume/diskprops.h"

// patchfile.cpp
int patchfile(FILE *image, diskprops *dp, const unsigned char *path, int32_t pathlen,
              int32_t offset, const unsigned char *data, int32_t len);

#endif
