// Opening an image to change it, and writing the change out.
#include "imageedit.h"
#include "host/journal.h"

enum { EDITBUFSIZE = 65536, EDITSTREAMSIZE = 4096 };

static unsigned char copybuf[EDITBUFSIZE];
static unsigned char imagebuf[EDITBUFSIZE]; // a dry run's stream buffer

// 1 when path may be an image: a regular file, a block device (a real
// disk), or nothing yet; else 0 after saying on standard error what it is.
// A character device or a FIFO would be read without end, or read once.
int imagefileok(const char *path)
{
    int kind = filekind(path);

    if (kind == FILEMISSING || kind == FILEREGULAR || kind == FILEBLOCK)
        return 1;
    fprintf(stderr, "%s is %s, not an image\n", path, filekindname(kind));
    return 0;
}

// What a failed change left of the image it was writing, for the end of
// its message: a copy leaves the image as it was, and so does a journal
// (a large image, a block device); what else is written in place may hold
// a part of the change.
const char *leftstate(const replacement *r)
{
    if (r->underjournal)
        return "it is left as it was (or its journal puts it back when it is next opened)";
    return r->inplace ? "it is written in place and may hold part of the change"
                      : "it is left as it was";
}

// Opens the image at path for reading: the stream, or null after saying
// why not (failed: the message when it cannot be opened, of the path).
static FILE *openreading(const char *path, const char *failed)
{
    FILE *f;

    if (!imagefileok(path) || !journalopening(path))
        return nullptr;
    f = fopen(path, "rb");
    if (!f)
        fprintf(stderr, failed, path);
    return f;
}

// Opens the image at path for reading, or says why not.
FILE *openimagefile(const char *path)
{
    return openreading(path, "Could not open image %s for reading\n");
}

// The same, as dcpimage names its inputs.
FILE *openinput(const char *path)
{
    return openreading(path, "Could not open %s\n");
}

// The writes of a change made in place go through its journal.
static int journalwrites(void *ctx, int64_t at, const unsigned char *buf, int32_t len)
{
    return journalwrite((journal *)ctx, at, buf, len);
}

static int journalreads(void *ctx, int64_t at, int32_t len)
{
    return journalbeforeread((journal *)ctx, at, len);
}

// Sends the writes of the volume dp to the change r's journal, when it has
// one (a large image changed in place).
void writethrough(diskprops *dp, replacement *r)
{
    static imagewriter writer = {journalwrites, journalreads, nullptr};

    writer.ctx = r->journaled;
    dp->writer = r->journaled ? &writer : nullptr;
}

// Starts a change of the image at path: a large image (more than 4 MiB)
// and a block device in place under a journal, a smaller one in a copy
// beside it, buf of bufsize bytes being scratch for the
// copy. A journal a change cut short left beside it is rolled back first.
// The stream that takes the writes, or null after saying why not.
FILE *startimagechange(replacement *r, const char *path, unsigned char *buf, int32_t bufsize)
{
    int why = REPLACEREAD;
    FILE *f;

    if (!imagefileok(path) || !journalopening(path))
        return nullptr;
    f = startreplacement(r, path, 1, buf, bufsize, &why);
    if (f)
        return f;
    if (why == REPLACEREAD)
        fprintf(stderr, "Could not open image %s for writing\n", path);
    else if (why == REPLACEJOURNAL) {
        char jpath[JOURNALPATHMAX];
        journalpath(jpath, path);
        fprintf(stderr, "Could not start the journal %s that a change to %s writes "
                        "first; nothing written\n", jpath, path);
    } else
        fprintf(stderr, why == REPLACELONG ? "The name %s is too long\n"
                                           : "Could not write a temporary file beside %s\n",
                path);
    return nullptr;
}

// 1 when the output path may be written: nothing is there, or force is
// set and it is no directory; else 0 after saying why not.
int outputallowed(const char *path, int force)
{
    int kind = filekind(path);

    if (kind == FILEDIR)
        fprintf(stderr, "%s is a directory, where a file goes\n", path);
    else if (kind != FILEMISSING && !force)
        fprintf(stderr, "%s exists; -f overwrites it\n", path);
    return kind == FILEMISSING || (kind != FILEDIR && force);
}

// Starts writing the output path: a new file beside it to be renamed onto
// it, or a device or FIFO itself. The stream, or null after saying why not.
FILE *startoutput(replacement *r, const char *path)
{
    int why;
    FILE *f = startreplacement(r, path, 0, nullptr, 0, &why);

    if (f)
        return f;
    if (why == REPLACENOTFILE)
        fprintf(stderr, "%s is %s; nothing is written over one\n", path,
                filekindname(filekind(path)));
    else if (why == REPLACELONG)
        fprintf(stderr, "The name %s is too long\n", path);
    else if (why == REPLACEREAD)
        fprintf(stderr, "Could not write %s\n", path);
    else
        fprintf(stderr, "Could not write a temporary file beside %s\n", path);
    return nullptr;
}

// Opens the image at path to change its volume: as it is for a dry run (-n),
// else a copy beside it that takes every write; maps its container, opens
// the volume into dp and checks that the image may be written. The stream,
// or null after saying on standard error why not.
FILE *openedit(imageedit *e, const char *path, const commonopts *o, diskprops *dp,
               sectormap *map, unsigned char *workbuf)
{
    int stage;

    e->path = path;
    e->dryrun = o->dryrun;
    // A change reads directories a cluster at a time and writes a few: a
    // small buffer keeps each read from filling 64 KiB of the copy.
    e->r.streamsize = EDITSTREAMSIZE;
    e->image = e->dryrun ? openimagefile(path)
                         : startimagechange(&e->r, path, copybuf, EDITBUFSIZE);
    if (!e->image)
        return nullptr;
    if (e->dryrun)
        setvbuf(e->image, (char *)imagebuf, _IOFBF, EDITSTREAMSIZE);
    stage = loadimage(e->image, dp, map, choosecontainer(&o->from, path, map), o->from.disk,
                      o->from.partition, workbuf);
    if (!e->dryrun)
        writethrough(dp, &e->r);
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
        fprintf(stderr, "Could not write %s; %s\n", e->path, leftstate(&e->r));
        ok = 0;
    }
    if (!finishreplacement(&e->r, ok) && ok) {
        fprintf(stderr, "Could not write %s; %s\n", e->path, leftstate(&e->r));
        ok = 0;
    }
    return ok;
}
