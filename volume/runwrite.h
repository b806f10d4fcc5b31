// A put's data into its run.
#ifndef VOLUME_RUNWRITE_H
#define VOLUME_RUNWRITE_H

#include "volume/diskprops.h"
#include "volume/putfile.h"

// runwrite.cpp: a put's data into its run
int writerun(FILE *image, diskprops *dp, putplan *p, FILE *host, int32_t first, uint32_t size,
             unsigned char *buf, int32_t bufsize);

#endif
