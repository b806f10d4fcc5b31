// Everything the programs use of the volume library, one header per concern.
#ifndef VOLUME_VOLUME_H
#define VOLUME_VOLUME_H

#include "volume/diskprops.h"
#include "volume/attributes.h"
#include "volume/chainruns.h"
#include "volume/dcpheader.h"
#include "volume/dircache.h"
#include "volume/dirwalk.h"
#include "volume/dirwrite.h"
#include "volume/fatwrite.h"
#include "volume/format.h"
#include "volume/freeruns.h"
#include "volume/longnames.h"
#include "volume/owners.h"
#include "volume/patchfile.h"
#include "volume/pathlookup.h"
#include "volume/putfile.h"
#include "volume/readchain.h"
#include "volume/removefile.h"
#include "volume/renamefile.h"
#include "volume/runwrite.h"
#include "volume/sectorowner.h"

#endif
