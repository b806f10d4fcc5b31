// The DCP types and what their headers hold.
#ifndef VOLUME_DCPHEADER_H
#define VOLUME_DCPHEADER_H

#include "volume/diskprops.h"

// dcpheader.cpp: the known DCP types and their headers
typedef floppytype dcptype; // the table of floppy types is volume/image's
int32_t tracksize(const dcptype *t);
int32_t volumetracks(const dcptype *t);

#endif
