// A file's bytes out of the volume.
#ifndef VOLUME_READCHAIN_H
#define VOLUME_READCHAIN_H

#include "volume/diskprops.h"
#include "volume/chainruns.h"

// readchain.cpp: a file's bytes out of the volume
enum { READCHAINOK = 0, READCHAINIMAGE, READCHAINOUT };
int readchain(FILE *image, diskprops *dp, chainwalk *cw, int32_t first, uint32_t size,
              FILE *out, unsigned char *buf, int32_t bufsize);

#endif
