// A removal planned as a put is.
#ifndef VOLUME_REMOVEFILE_H
#define VOLUME_REMOVEFILE_H

#include "volume/diskprops.h"
#include "volume/putfile.h"
#include "volume/dirwalk.h"

// removefile.cpp: a removal planned as a put is; the entry that stops one,
// with what stops it (a walk's kind, a chain's damage, the cluster).
enum {
    REMOVEOK = 0, REMOVENOTFOUND, REMOVEROOT, REMOVEISDIR, REMOVEDAMAGED, REMOVECROSSED,
    REMOVEUNREAD
};
struct removal {
    int32_t slot;
    int below; // the entry lies below the directory removed (the walk's path names it)
    int kind;
    int32_t damage;
    int32_t cluster;
};
int removeentry(FILE *image, diskprops *dp, putplan *p, dirwalk *w, chainwalk *cw,
                const unsigned char *owners, const unsigned char *path, int32_t len,
                int recursive, removal *r);

#endif
