// Opening an image to change it, and writing the change out.
#include "imageedit.h"

enum { EDITBUFSIZE = 65536, EDITSTREAMSIZE = 4096 };

static unsigned char copybuf[EDITBUFSIZE];
static unsigned char imagebuf[EDITBUFSIZE]; // a dry run's stream buffer

// Opens the image at path to change its volume: as it is for a dry run (-n),
// else a copy beside it that takes every write; maps its container, opens
// the volume into dp and checks that the image may be written. The stream,
// or null after saying on standard error why not.
FILE *openedit(imageedit *e, const char *path, const commonopts *o, diskprops *dp,
               sectormap *map, unsigned char *workbuf)
{
    int why = REPLACEREAD, stage;

    e->path = path;
    e->dryrun = o->dryrun;
    // A change reads directories a cluster at a time and writes a few: a
    // small buffer keeps each read from filling 64 KiB of the copy.
    e->r.streamsize = EDITSTREAMSIZE;
    e->image = e->dryrun ? fopen(path, "rb")
                         : startreplacement(&e->r, path, 1, copybuf, EDITBUFSIZE, &why);
    if (!e->image) {
        if (why == REPLACEREAD)
            fprintf(stderr, "Could not open DCP file %s for %s\n", path,
                    e->dryrun ? "reading" : "writing");
        else
            fprintf(stderr, why == REPLACELONG ? "The name %s is too long\n"
                                               : "Could not write a temporary file beside %s\n",
                    path);
        return nullptr;
    }
    if (e->dryrun)
        setvbuf(e->image, (char *)imagebuf, _IOFBF, EDITSTREAMSIZE);
    stage = loadimage(e->image, dp, map, o->from.container, o->from.disk, workbuf);
    if (stage != VOLUMEOPEN) {
        putvolumeproblem(stderr, dp, stage, path);
        finishedit(e, dp, nullptr, workbuf, 0);
        return nullptr;
    }
    if (!e->dryrun && !imagewritable(stderr, dp, path)) {
        finishedit(e, dp, nullptr, workbuf, 0);
        return nullptr;
    }
    return e->image;
}

// Writes the directories and the FAT that the plan p changed, unless the
// run is a dry run or ok is 0, and puts the copy in the image's place (or
// drops it). 1 when the change is in place (or, dry, when ok).
int finishedit(imageedit *e, diskprops *dp, const putplan *p, unsigned char *workbuf, int ok)
{
    if (e->dryrun) {
        fclose(e->image);
        return ok;
    }
    if (ok && !(writedirectories(e->image, dp, p->dirty, p->rootdirty) &&
                (!p->fatdirty || writefats(e->image, dp, workbuf)))) {
        fprintf(stderr, "Could not write %s; it is left as it was\n", e->path);
        ok = 0;
    }
    if (!finishreplacement(&e->r, ok) && ok) {
        fprintf(stderr, "Could not write %s; it is left as it was\n", e->path);
        ok = 0;
    }
    return ok;
}
