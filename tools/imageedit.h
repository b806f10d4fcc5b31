// A change to an image's volume, as the programs that change one make it:
// planned in memory first; then, unless it is a dry run, written into a
// copy of the image beside it that replaces it in one step, so that a run
// stopped at any moment leaves the old image or the new one.
#ifndef TOOLS_IMAGEEDIT_H
#define TOOLS_IMAGEEDIT_H

#include <cstdio>

#include "host/replacefile.h"
#include "tools/options.h"
#include "volume/volume.h"

struct imageedit {
    replacement r;
    FILE *image;
    const char *path;
    int dryrun;
};

int imagefileok(const char *path);
const char *leftstate(const replacement *r);
FILE *openimagefile(const char *path);
FILE *openinput(const char *path);
FILE *startimagechange(replacement *r, const char *path, unsigned char *buf, int32_t bufsize);
void writethrough(diskprops *dp, replacement *r);
int outputallowed(const char *path, int force);
FILE *startoutput(replacement *r, const char *path);
FILE *openedit(imageedit *e, const char *path, const commonopts *o, diskprops *dp,
               sectormap *map, unsigned char *workbuf);
int finishedit(imageedit *e, diskprops *dp, const putplan *p, unsigned char *workbuf, int ok);

#endif
