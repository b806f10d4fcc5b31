// sectmv [-f] IMAGE FROM TO: renames or moves a file or directory inside
// the FAT12 volume of an image. The data never moves: the first sector,
// the whole chain, the size, the dates and the attributes stay; a moved
// directory's ".." names its new parent. Complaints go to standard error.
#include <cstdio>
#include <cstring>

#include "tools/imageedit.h"
#include "tools/options.h"
#include "tools/imagepaths.h"
#include "tools/sjisnames.h"
#include "volume/volume.h"

static const char usage[] =
    "Usage: sectmv [-f] [-u] [-F FORMAT] [-d N] IMAGE FROM TO\n"
    "Renames or moves FROM, a file or a directory, to TO inside the FAT\n"
    "volume of IMAGE (a floppy or hard-disk image); TO an existing directory (or\n"
    "TO ending in a backslash) means into it, keeping the name. The data never\n"
    "moves: its first sector and every sector of it stay.\n"
    "  -f, --force          replace a file TO (a directory is never replaced)\n"
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

struct mvjob {
    commonopts common;
    int force;
    const char *image, *from, *to;
};

static unsigned char workbuf[WORKBUFSIZE];
static diskprops dp;
static sectormap map;
static putplan plan;
static dirwalk walk;
static chainwalk chain;
static unsigned char owners[CLUSTERSLOTS];

// The path in the image's bytes (Shift-JIS under -u) into buf; its length,
// or -1 after saying it has none.
static int32_t imagepath(const mvjob *job, const char *text, unsigned char *buf)
{
    return imagepathof((const unsigned char *)text, (int32_t)strlen(text), job->common.utf8, buf,
                       SJISNAMEMAX - 1);
}

// Writes the path of the entry that stands where FROM would go: TO, or
// when TO is a directory (empty, the root's backslash, ending in one, or
// naming a directory) TO and the name FROM has.
static void putdestination(FILE *image, const mvjob *job, const unsigned char *to, int32_t tolen)
{
    const char *dir = strcmp(job->to, "\\") == 0 ? "" : job->to, *name;
    size_t n = strlen(dir), f = strlen(job->from);
    int32_t slot = n > 0 ? findslot(image, &dp, to, tolen) : -1;
    int intodir = n == 0 || dir[n - 1] == '\\' || (slot >= 0 && entryisdir(&dp, slot));

    if (!intodir) {
        fputs(dir, stderr);
        return;
    }
    while (f > 0 && job->from[f - 1] == '\\')
        f--;
    for (name = job->from + f; name > job->from && name[-1] != '\\'; name--)
        ;
    fprintf(stderr, "%s%s%.*s", dir, n == 0 || dir[n - 1] == '\\' ? "" : "\\",
            (int)(job->from + f - name), name);
}

// Says why the move was refused.
static void refusal(FILE *image, const mvjob *job, const unsigned char *to, int32_t tolen, int why)
{
    static const char *const reasons[] = {
        "", ": not found in the image", ": the root directory cannot be moved",
        " exists; -f replaces a file, and a directory is never replaced", nullptr,
        ": no such directory", ": a directory cannot move into itself or below it",
        ": the root directory is full", ": no room to grow the directory",
        ": out of memory", ": the file there is damaged, or shares clusters; not replaced",
        ": a directory on the way cannot be read"};
    const char *path = why == MOVENOTFOUND || why == MOVEROOT ? job->from : job->to;

    if (why == MOVEBADNAME) {
        fprintf(stderr, "%s: ", job->to);
        if (job->common.utf8)
            putsjis(stderr, to + plan.badstart, plan.badend - plan.badstart);
        else
            fwrite(to + plan.badstart, 1, (size_t)(plan.badend - plan.badstart), stderr);
        fputs(" is not an 8.3 name\n", stderr);
        return;
    }
    if (why == MOVEEXISTS)
        putdestination(image, job, to, tolen);
    else
        fputs(path, stderr);
    fprintf(stderr, "%s\n", reasons[why]);
}

// Opens the image, plans the move, and writes it; 1 on success.
static int runjob(const mvjob *job)
{
    static unsigned char from[SJISNAMEMAX], to[SJISNAMEMAX];
    static imageedit e;
    int32_t fromlen = imagepath(job, job->from, from), tolen = imagepath(job, job->to, to);
    FILE *image;
    int why;

    if (fromlen < 0 || tolen < 0)
        return 0;
    image = openedit(&e, job->image, &job->common, &dp, &map, workbuf);
    if (!image)
        return 0;
    countowners(image, &dp, &walk, &chain, owners);
    why = moveentry(image, &dp, &plan, &chain, owners, from, fromlen, to, tolen, job->force);
    if (why != MOVEOK)
        refusal(image, job, to, tolen, why);
    return finishedit(&e, &dp, &plan, workbuf, why == MOVEOK);
}

// Reads the options into job: 1 to run it, 0 when done (help, version) or
// wrong (*ok then 0).
static int parseargs(int argc, char **argv, mvjob *job, int *ok)
{
    static const option longs[] = {{"force", no_argument, nullptr, 'f'}, COMMONLONGOPTIONS,
                                   {nullptr, 0, nullptr, 0}};
    int c;

    while ((c = getopt_long(argc, argv, "f" COMMONOPTIONS, longs, nullptr)) != -1) {
        int r = commonoption(c, optarg, &job->common, "sectmv", usage);
        if (r == OPTOTHER)
            job->force = 1;
        else if (r != OPTTAKEN) {
            *ok = r == OPTDONE;
            return 0;
        }
    }
    if (argc - optind != 3) {
        fputs(usage, stderr);
        *ok = 0;
        return 0;
    }
    job->image = argv[optind];
    job->from = argv[optind + 1];
    job->to = argv[optind + 2];
    return 1;
}

int main(int argc, char **argv)
{
    mvjob job = {};
    int ok = 1;

    initcommonopts(&job.common);
    datastreams();
    if (parseargs(argc, argv, &job, &ok)) {
        initdiskprops(&dp);
        initputplan(&plan, 0);
        initchainwalk(&chain);
        ok = runjob(&job);
        freediskprops(&dp);
    }
    return datastatus(ok);
}
