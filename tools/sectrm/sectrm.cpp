// sectrm [-n] [-r] IMAGE PATH... | sectrm [-n] [-r] -l LIST IMAGE: removes
// files and directories from the FAT12 volume of an image. Each entry is
// marked deleted and its clusters set free in every FAT copy; nothing else
// changes. All removals are planned first: one that cannot be done leaves
// the image as it was. A line per entry removed, in sectmap's listing
// format, goes to standard output; every complaint to standard error.
#include <cstdio>
#include <cstring>

#include "listfile/listfile.h"
#include "tools/imageedit.h"
#include "tools/mapformat.h"
#include "tools/options.h"
#include "tools/imagepaths.h"
#include "tools/sjisnames.h"
#include "volume/volume.h"

static const char usage[] =
    "Usage: sectrm [-n] [-r] [-u] [-F FORMAT] [-d N] IMAGE PATH...\n"
    "       sectrm [-n] [-r] [-u] [-F FORMAT] [-d N] -l LIST IMAGE\n"
    "Removes each PATH (or each line of LIST) from the FAT volume of IMAGE\n"
    "(a floppy or hard-disk image): its entry marked deleted, its clusters set\n"
    "free in every FAT copy, nothing else changed. A file whose chain is\n"
    "damaged, or crosses another's, is refused. All or nothing: a removal that\n"
    "cannot be done leaves the image as it was. Prints a line per entry\n"
    "removed: SECTOR SECTORS BYTES EXTENTS PATH.\n"
    "  -r, --recursive      a directory goes with all it holds\n"
    "  -l, --list LIST      the image paths, one a line\n"
    "  -n, --dry-run        plan and print, write nothing\n"
    "  -u, --utf8           image paths are UTF-8, the image's Shift-JIS\n"
    "  -F, --format FORMAT  the image's container: dcp, d88, fdi, nfd, raw,\n"
    "                       hdi, nhd, thd, vhd98 or rawhdd (else found from\n"
    "                       its content, a THD from its name)\n"
    "  -d, --disk N         the Nth disk of a D88 file that holds several\n"
    "  -p, --partition N    the Nth entry of a hard disk's partition table;\n"
    "                       without it, its only FAT partition\n"
    "  -g, --geometry H/S   a raw hard disk's heads and sectors a track\n"
    "                       (else found from its first partition)\n"
    "Exit status: 0 on success, 1 on failure.\n";

struct rmjob {
    commonopts common;
    int recursive;
    const char *list;
    const char *image;
    char **paths;
    int32_t pathcount;
};

// The paths of the command line or of the list, read the same way by the
// planning pass and the printing pass.
struct pathsource {
    const rmjob *job;
    listreader *list; // null for the paths of the command line
    int32_t next;
};

static unsigned char workbuf[WORKBUFSIZE];
static diskprops dp, view;
static sectormap map, viewmap;
static putplan plan;
static dirwalk walk;
static chainwalk chain;
static unsigned char owners[CLUSTERSLOTS];
static listreader list; // -l's, opened once and read in both passes

// Starts reading the paths from the first; 1 on success, 0 after saying
// why not.
static int startpaths(pathsource *src, const rmjob *job)
{
    src->job = job;
    src->next = 0;
    src->list = job->list ? &list : nullptr;
    if (!job->list || rewindlist(&list))
        return 1;
    fprintf(stderr, "Could not read list file %s\n", job->list);
    return 0;
}

// The next path, NUL-terminated, into *text: 1, or 0 when there are no more
// (*ok 0 when the list could not be read, said).
static int nextpath(pathsource *src, const char **text, int *ok)
{
    static char line[WORKBUFSIZE + 1];
    itemspan item;
    int32_t n;

    if (!src->list) {
        if (src->next >= src->job->pathcount)
            return 0;
        *text = src->job->paths[src->next++];
        return 1;
    }
    // A plain line is one path, spaces and all.
    if (!nextlistitems(src->list, src->job->list, &item, 1, &n, ok))
        return 0;
    memcpy(line, workbuf + item.start, (size_t)(item.end - item.start));
    line[item.end - item.start] = '\0';
    *text = line;
    return 1;
}

// The path in the image's bytes (Shift-JIS under -u) into *path and *len;
// 0 after saying it has none.
static int imagepath(const rmjob *job, const char *text, const unsigned char **path,
                     int32_t *len)
{
    static unsigned char sjis[SJISNAMEMAX];

    *path = sjis;
    *len = imagepathof((const unsigned char *)text, (int32_t)strlen(text), job->common.utf8,
                       sjis, (int32_t)sizeof sjis);
    return *len >= 0;
}

// Says why the removal of text was refused.
static void refusal(const rmjob *job, const char *text, int why, const removal *r)
{
    if (r->below && why != REMOVENOTFOUND && why != REMOVEROOT && why != REMOVEISDIR)
        putbelowpath(stderr, text, &dp, &walk, r->slot, job->common.utf8);
    else
        putshownname(stderr, (const unsigned char *)text, (int32_t)strlen(text));
    if (why == REMOVENOTFOUND && r->slot >= 0) {
        fputs(": removed already, by the same PATH or a directory above it given before\n",
              stderr);
    } else if (why == REMOVENOTFOUND) {
        fputs(": not found in the image\n", stderr);
    } else if (why == REMOVEROOT) {
        fputs(": the root directory cannot be removed\n", stderr);
    } else if (why == REMOVEISDIR) {
        fputs(" is a directory; -r removes it with all it holds\n", stderr);
    } else {
        if (why == REMOVECROSSED)
            fprintf(stderr, ": cluster %d is in another entry's chain too; removing it would "
                            "free that entry's data\n", r->cluster);
        else if (why == REMOVEDAMAGED)
            fputs(": damaged cluster chain; removing it could free another entry's data\n",
                  stderr);
        else
            fputs(": a directory that cannot be read, or that leads back into the tree\n",
                  stderr);
    }
}

// Plans every removal on dp; 1 when all of them can be done.
static int planremovals(FILE *image, const rmjob *job)
{
    pathsource src;
    const char *text;
    int ok = startpaths(&src, job);

    while (ok && nextpath(&src, &text, &ok)) {
        const unsigned char *path;
        int32_t len;
        removal r;
        int why;
        if (!imagepath(job, text, &path, &len)) {
            ok = 0;
            break;
        }
        why = removeentry(image, &dp, &plan, &walk, &chain, owners, path, len, job->recursive,
                          &r);
        // Not there now, but in the image as it was: an earlier PATH took it.
        if (why == REMOVENOTFOUND)
            r.slot = findslot(image, &view, path, len);
        if (why != REMOVEOK) {
            refusal(job, text, why, &r);
            ok = 0;
        }
    }
    return ok;
}

// Writes the listing line of the entry at slot of the view: named by text
// as given, or below a directory given by text and the walk's path under it.
static void putline(const rmjob *job, const char *text, int32_t slot, int below)
{
    chainsummary s;

    summarizechain(&view, &chain, slot, INT64_MAX, &s);
    putmapfields(stdout, &view, &chain, slot, &s, "");
    if (below)
        putbelowpath(stdout, text, &view, &walk, slot, job->common.utf8);
    else
        putshownname(stdout, (const unsigned char *)text, (int32_t)strlen(text));
    putc('\n', stdout);
}

// Prints what the removals free, from a view of the volume as it still is
// in the image: each path's line, and below a directory every entry's.
static void printremovals(FILE *image, const rmjob *job)
{
    pathsource src;
    const char *text;
    int ok = startpaths(&src, job), kind;

    while (ok && nextpath(&src, &text, &ok)) {
        const unsigned char *path;
        int32_t len, slot, row, at;
        if (!imagepath(job, text, &path, &len) || (slot = findslot(image, &view, path, len)) < 0)
            continue;
        putline(job, text, slot, 0);
        if (!entryisdir(&view, slot) || entrycluster(&view, slot) == 0 ||
            (row = getdirectoryentry(image, &view, entrycluster(&view, slot))) < 0)
            continue;
        startwalkat(&view, &walk, row);
        while ((at = nextentry(image, &view, &walk, &kind)) >= 0)
            putline(job, text, at, 1);
    }
}

// Opens the image, plans every removal, prints them, then writes them.
static int runjob(const rmjob *job)
{
    static imageedit e;
    FILE *image;
    int ok;

    // The list first: one that cannot be read leaves the image unread.
    if (job->list && !openpathlist(&list, job->list, workbuf, WORKBUFSIZE))
        return 0;
    image = openedit(&e, job->image, &job->common, &dp, &map, workbuf);
    if (!image) {
        closelist(&list);
        return 0;
    }
    countowners(image, &dp, &walk, &chain, owners);
    // The image is as it was until the plan is written: a view of it names
    // what goes, with the extents it had, and what an earlier PATH took.
    ok = loadimage(image, &view, &viewmap, choosecontainer(&job->common.from, job->image,
                                                           &viewmap),
                   job->common.from.disk, job->common.from.partition, workbuf) == VOLUMEOPEN;
    if (!ok)
        fputs("Could not read the image again\n", stderr);
    ok = ok && planremovals(image, job);
    if (ok)
        printremovals(image, job);
    closelist(&list);
    return finishedit(&e, &dp, &plan, workbuf, ok);
}

// Reads the options into job: 1 to run it, 0 when done (help, version) or
// wrong (*ok then 0).
static int parseargs(int argc, char **argv, rmjob *job, int *ok)
{
    static const option longs[] = {{"recursive", no_argument, nullptr, 'r'},
                                   {"list", required_argument, nullptr, 'l'},
                                   DRYRUNOPTION,
                                   COMMONLONGOPTIONS,
                                   {nullptr, 0, nullptr, 0}};
    int c;

    while ((c = getopt_long(argc, argv, "rl:n" COMMONOPTIONS, longs, nullptr)) != -1) {
        int r = commonoption(c, optarg, &job->common, "sectrm", usage);
        if (r == OPTOTHER && c == 'r')
            job->recursive = 1;
        else if (r == OPTOTHER)
            job->list = optarg;
        else if (r != OPTTAKEN) {
            *ok = r == OPTDONE;
            return 0;
        }
    }
    if (argc - optind < 1 || (job->list ? argc - optind != 1 : argc - optind < 2)) {
        fputs(usage, stderr);
        *ok = 0;
        return 0;
    }
    job->image = argv[optind];
    job->paths = argv + optind + 1;
    job->pathcount = argc - optind - 1;
    return 1;
}

int main(int argc, char **argv)
{
    rmjob job = {};
    int ok = 1;

    initcommonopts(&job.common);
    datastreams();
    if (parseargs(argc, argv, &job, &ok)) {
        initdiskprops(&dp);
        initdiskprops(&view);
        initputplan(&plan, 0);
        initchainwalk(&chain);
        ok = runjob(&job);
        freediskprops(&dp);
        freediskprops(&view);
    }
    return datastatus(ok);
}
