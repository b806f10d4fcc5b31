// sectattr [+r|-r] [+h|-h] [+s|-s] [+a|-a] IMAGE PATH...: with no change,
// prints the attributes of each PATH as mattrib does; with changes, sets
// them on every PATH, all or nothing. Complaints go to standard error.
#include <cstdio>
#include <cstring>

#include "tools/imageedit.h"
#include "tools/options.h"
#include "tools/imagepaths.h"
#include "tools/sjisnames.h"
#include "volume/volume.h"

static const char usage[] =
    "Usage: sectattr [+r|-r] [+h|-h] [+s|-s] [+a|-a] [-u] [-F FORMAT] [-d N] IMAGE PATH...\n"
    "With no change, prints the attributes of each PATH of the FAT volume in\n"
    "IMAGE (a floppy or hard-disk image) as mattrib does: A (archive), S (system),\n"
    "H (hidden), R (read-only), then the path. With changes, +x sets and -x\n"
    "clears x on every PATH: r read-only, h hidden, s system, a archive. All or\n"
    "nothing: a PATH that is not found leaves the image as it was.\n"
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

struct attrjob {
    commonopts common;
    int32_t set, clear; // attribute bits
    const char *image;
    char **paths;
    int32_t pathcount;
};

static unsigned char workbuf[WORKBUFSIZE];
static diskprops dp;
static sectormap map;
static putplan plan;

// The attribute bit of letter r, h, s or a; 0 for any other.
static int32_t attrbit(int c)
{
    return c == 'r' ? ATTRREADONLY : c == 'h' ? ATTRHIDDEN : c == 's' ? ATTRSYSTEM
           : c == 'a' ? ATTRARCHIVE : 0;
}

// The slot of the entry text names; -1 after saying why there is none.
static int32_t pathslot(FILE *image, const attrjob *job, const char *text)
{
    static unsigned char sjis[SJISNAMEMAX];
    int32_t len = imagepathof((const unsigned char *)text, (int32_t)strlen(text),
                              job->common.utf8, sjis, (int32_t)sizeof sjis),
            slot;

    if (len < 0)
        return -1;
    slot = len == 0 ? -1 : findslot(image, &dp, sjis, len);
    if (slot < 0)
        fprintf(stderr, "%s: not found in the image\n", text);
    return slot;
}

// Prints the attributes of the entry at slot, named text, as mattrib does.
static void putattributes(int32_t slot, const char *text)
{
    int32_t a = entryattr(&dp, slot);

    printf("  %c  %c%c%c     %s\n", a & ATTRARCHIVE ? 'A' : ' ', a & ATTRSYSTEM ? 'S' : ' ',
           a & ATTRHIDDEN ? 'H' : ' ', a & ATTRREADONLY ? 'R' : ' ', text);
}

// Opens the image; prints each path's attributes, or plans the changes on
// every path and writes them when all were found. 1 on success.
static int runjob(const attrjob *job)
{
    static imageedit e;
    commonopts o = job->common;
    int changes = job->set != 0 || job->clear != 0, ok = 1;
    FILE *image;

    o.dryrun = !changes; // only read
    image = openedit(&e, job->image, &o, &dp, &map, workbuf);
    if (!image)
        return 0;
    for (int32_t i = 0; i < job->pathcount; i++) {
        int32_t slot = pathslot(image, job, job->paths[i]);
        if (slot < 0)
            ok = 0;
        else if (changes)
            setattributes(&dp, &plan, slot, job->set, job->clear);
        else
            putattributes(slot, job->paths[i]);
    }
    return finishedit(&e, &dp, &plan, workbuf, ok);
}

// Takes "+x" and "-x" words (x any of r, h, s, a) into job: 1 when arg is
// one, else 0.
static int takechange(const char *arg, attrjob *job)
{
    int32_t bits = 0;

    if ((arg[0] != '+' && arg[0] != '-') || !arg[1])
        return 0;
    for (const char *c = arg + 1; *c; c++) {
        if (!attrbit(*c))
            return 0;
        bits |= attrbit(*c);
    }
    *(arg[0] == '+' ? &job->set : &job->clear) |= bits;
    return 1;
}

// Takes the change words that stand before IMAGE out of argv, into job;
// the new count of words (options and their values stay, for getopt), or
// -1 after saying why a word that looks like a change is none.
static int takechanges(int argc, char **argv, attrjob *job)
{
    int n = 1, i = 1;

    for (; i < argc && strcmp(argv[i], "--") != 0; i++) {
        const char *w = argv[i];
        if (takechange(w, job))
            continue;
        if (w[0] == '+') {
            fprintf(stderr, "%s is not an attribute change: +r, -r, +h, -h, +s, -s, +a or -a\n",
                    w);
            return -1;
        }
        if (w[0] != '-' || !w[1])
            break; // IMAGE: paths follow
        argv[n++] = argv[i];
        if ((strcmp(w, "-F") == 0 || strcmp(w, "-d") == 0 || strcmp(w, "--format") == 0 ||
             strcmp(w, "--disk") == 0) && i + 1 < argc)
            argv[n++] = argv[++i];
    }
    while (i < argc)
        argv[n++] = argv[i++];
    return n;
}

// Reads the changes and options into job: 1 to run it, 0 when done (help,
// version) or wrong (*ok then 0).
static int parseargs(int argc, char **argv, attrjob *job, int *ok)
{
    static const option longs[] = {COMMONLONGOPTIONS, {nullptr, 0, nullptr, 0}};
    int c;

    argc = takechanges(argc, argv, job);
    if (argc < 0) {
        *ok = badcommandline(nullptr, usage);
        return 0;
    }
    if (job->set & job->clear) {
        *ok = badcommandline("An attribute cannot be set and cleared at once", usage);
        return 0;
    }
    while ((c = getopt_long(argc, argv, "+" COMMONOPTIONS, longs, nullptr)) != -1) {
        int r = commonoption(c, optarg, &job->common, "sectattr", usage);
        if (r != OPTTAKEN) {
            *ok = r == OPTDONE;
            return 0;
        }
    }
    if (argc - optind < 2) {
        *ok = badcommandline(nullptr, usage);
        return 0;
    }
    job->image = argv[optind];
    job->paths = argv + optind + 1;
    job->pathcount = argc - optind - 1;
    return 1;
}

int main(int argc, char **argv)
{
    attrjob job = {};
    int ok = 1;

    initcommonopts(&job.common);
    datastreams();
    if (parseargs(argc, argv, &job, &ok)) {
        initdiskprops(&dp);
        initputplan(&plan, 0);
        ok = runjob(&job);
        freediskprops(&dp);
    }
    return datastatus(ok);
}
