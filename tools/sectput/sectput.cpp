// sectput [-n] [-k] IMAGE PATH FILE | sectput [-n] [-k] -l LIST IMAGE: puts
// host files into the FAT12 volume of a DCP image, each in one run of
// sectors, a file that is replaced keeping its first sector whenever it
// still fits. Every put is planned in memory first and the image written
// only when all of them can be done. A line per file put, in sectmap's
// listing format, goes to standard output; every complaint to standard error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <getopt.h>
#include <sys/stat.h>

#include "listfile/listfile.h"
#include "tools/imageedit.h"
#include "tools/imagepaths.h"
#include "tools/mapformat.h"
#include "tools/sjisnames.h"
#include "tools/options.h"
#include "tools/toolinfo.h"
#include "volume/volume.h"

static const char usage[] =
    "Usage: sectput [-n] [-k] [-u] [-F FORMAT] [-d N] IMAGE PATH FILE\n"
    "       sectput [-n] [-k] [-u] [-F FORMAT] [-d N] -l LIST IMAGE\n"
    "       sectput [-n] [-u] [-F FORMAT] [-d N] IMAGE DIR\\ [HOSTDIR]\n"
    "Puts the host FILE into the FAT volume of IMAGE (a floppy or hard-disk\n"
    "image) as PATH, in one run of sectors; a file that is replaced keeps its\n"
    "first sector when it still fits. A PATH ending in a backslash makes a\n"
    "directory (with HOSTDIR's time). A LIST (- for standard input) holds one\n"
    "PATH FILE pair, or a directory's PATH, a line; \"PATH\" \"FILE\" with %HH\n"
    "for any byte, when a space or a quote must stand in one.\n"
    "Everything is planned first: a put that cannot be done leaves the image\n"
    "as it was. Prints a line per file put: SECTOR SECTORS BYTES EXTENTS PATH.\n"
    "  -l, --list LIST  put every line of LIST, in order\n"
    "  -n, --dry-run    plan and print, write nothing\n"
    "  -k, --keep       refuse to move a file that holds sectors now\n"
    "  -u, --utf8       PATHs are UTF-8, the image's Shift-JIS (code page 932)\n"
    "  -F, --format FORMAT  the image's container: dcp, d88, fdi, nfd, raw,\n"
    "                   hdi, nhd, thd, vhd98 or rawhdd (else found from\n"
    "                   its content, a THD from its name)\n"
    "  -d, --disk N     the Nth disk of a D88 file that holds several\n"
    "  -p, --partition N  the Nth entry of a hard disk's partition table;\n"
    "                   without it, its only FAT partition\n"
    "  -g, --geometry H/S  a raw hard disk's heads and sectors a track\n"
    "                   (else found from its first partition)\n"
    "Exit status: 0 on success, 1 on failure.\n";

enum { COPYBUFSIZE = 65536 };

struct putjob {
    commonopts common;
    int keep;
    const char *list; // -l, or null for the one put of the command line
    const char *image;
    const char *path;
    const char *file;
};

// The puts of a job, from the command line or a list, read the same way by
// the planning pass and the writing pass.
struct putsource {
    const putjob *job;
    listreader *list; // null for the put of the command line
    int more;
};

// One put: the image path as given, the same in the image's bytes (they
// differ under -u), and the host file.
struct putline {
    const unsigned char *given;
    int32_t givenlen;
    const unsigned char *path;
    int32_t pathlen;
    const char *file;
};

static unsigned char workbuf[WORKBUFSIZE];
static unsigned char copybuf[COPYBUFSIZE];
static unsigned char imagebuf[COPYBUFSIZE]; // the image stream's own buffer
static char hostname[WORKBUFSIZE + 1];
static diskprops dp;
static sectormap map;
static putplan plan;
static chainwalk chain;
static dirwalk walk;
static unsigned char owners[CLUSTERSLOTS];
static int64_t epoch = -1; // SOURCE_DATE_EPOCH, or -1 when unset
static int utf8names;      // -u: image paths are UTF-8 on the command line, in lists, in print
static listreader list;    // -l's, opened once and read in both passes
static replacement repl;   // the copy of the image that takes the writes

// Starts reading the puts from the first (the list from its first line);
// 1 on success, 0 after saying why not.
static int startputs(putsource *src, const putjob *job)
{
    src->job = job;
    src->list = job->list ? &list : nullptr;
    src->more = 1;
    if (!job->list || rewindlist(&list))
        return 1;
    fprintf(stderr, "Could not read list file %s\n", job->list);
    return 0;
}

// Names the put in a message: the list's line, if it comes from one.
static void putwhere(const putsource *src)
{
    if (src->list)
        fprintf(stderr, "%s line %d: ", src->job->list, src->list->number);
}

// 1 when the image path names a directory: it ends in a backslash.
static int dirpath(const unsigned char *path, int32_t len)
{
    return len > 0 && path[len - 1] == '\\';
}

// Takes the list line's items into the put; 1 when they are a PATH FILE
// pair or a directory's PATH alone, else 0 after saying why not.
static int splitline(putsource *src, const itemspan *items, int32_t n, putline *line)
{
    int32_t len = n == 2 ? items[1].end - items[1].start : 0;

    line->given = workbuf + items[0].start;
    line->givenlen = items[0].end - items[0].start;
    line->file = nullptr;
    if (n == 1 && dirpath(line->given, line->givenlen))
        return 1;
    if (n != 2) {
        putwhere(src);
        fputs("expected an image path, spaces, then a host file name\n", stderr);
        return 0;
    }
    memcpy(hostname, workbuf + items[1].start, (size_t)len);
    hostname[len] = 0;
    line->file = hostname;
    return 1;
}

// Gives the put its path in the image's bytes: the path as given, or under
// -u its Shift-JIS form. 1 on success, else 0 after saying why not.
static int imagepath(const putsource *src, putline *line)
{
    static unsigned char sjis[SJISNAMEMAX];

    line->path = line->given;
    line->pathlen = line->givenlen;
    if (!utf8names)
        return 1;
    line->path = sjis;
    line->pathlen = utf8tosjis(line->given, line->givenlen, sjis, (int32_t)sizeof sjis);
    if (line->pathlen >= 0)
        return 1;
    putwhere(src);
    putshownname(stderr, line->given, line->givenlen);
    fputs(" has no Shift-JIS form (code page 932)\n", stderr);
    return 0;
}

// The next put: 1 with *line filled, 0 when there are no more, or when the
// list is wrong or cannot be read (*ok is then 0, and it was reported).
static int nextput(putsource *src, putline *line, int *ok)
{
    itemspan items[2];
    int32_t n;
    int r;

    if (!src->list) {
        line->given = (const unsigned char *)src->job->path;
        line->givenlen = (int32_t)strlen(src->job->path);
        line->file = src->job->file;
        r = src->more;
        src->more = 0;
        *ok = !r || imagepath(src, line);
        return r && *ok;
    }
    if (nextlistitems(src->list, src->job->list, items, 2, &n, ok)) {
        *ok = splitline(src, items, n, line) && imagepath(src, line);
        return *ok;
    }
    return 0;
}

// The FAT time of the put of file: SOURCE_DATE_EPOCH in UTC when it is
// set, else the file's modification time in local time.
static void puttime(const struct stat *st, fattime *t)
{
    time_t when = epoch >= 0 ? (time_t)epoch : st->st_mtime;
    struct tm *tm = epoch >= 0 ? gmtime(&when) : localtime(&when);

    if (!tm) { // beyond what this platform's calendar takes: as late as FAT goes
        packfattime(9999, 1, 1, 0, 0, 0, t);
        return;
    }
    packfattime(tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min,
                tm->tm_sec, t);
}

// Finds the size and time of a host file into *bytes, *size and *t; 1 on
// success, else 0 after saying why not. A regular file's size is what it
// declares: it is read only when it is copied (a file that changed by then
// is caught there, and the image is left as it was). Anything else (a file
// of /proc, which declares 0, or a device) is read to its end, up to
// limit + 1 bytes.
static int readhost(const putsource *src, const char *file, int64_t limit, int64_t *bytes,
                    uint32_t *size, fattime *t)
{
    struct stat st;
    FILE *f = nullptr;
    int64_t total = 0, want = limit + 1;
    size_t n = 1;
    int declared;

    // Only a directory's PATH stands without a host file.
    if (!file) {
        putwhere(src);
        fputs("a file's PATH needs a host file after it\n", stderr);
        return 0;
    }
    if (stat(file, &st) != 0) {
        putwhere(src);
        fprintf(stderr, "Could not open %s\n", file);
        return 0;
    }
    if ((st.st_mode & S_IFMT) == S_IFDIR) {
        putwhere(src);
        fprintf(stderr, "%s is a directory\n", file);
        return 0;
    }
    declared = (st.st_mode & S_IFMT) == S_IFREG && st.st_size > 0;
    if (!declared && !(f = fopen(file, "rb"))) {
        putwhere(src);
        fprintf(stderr, "Could not open %s\n", file);
        return 0;
    }
    if (f)
        setvbuf(f, nullptr, _IONBF, 0);
    while (f && n > 0 && total < want) {
        int64_t chunk = want - total < COPYBUFSIZE ? want - total : (int64_t)COPYBUFSIZE;
        n = fread(copybuf, 1, (size_t)chunk, f);
        total += (int64_t)n;
    }
    if (f && ferror(f)) {
        putwhere(src);
        fprintf(stderr, "Could not read %s\n", file);
        fclose(f);
        return 0;
    }
    if (f)
        fclose(f);
    else
        total = st.st_size < want ? (int64_t)st.st_size : want;
    *bytes = f ? total : (int64_t)st.st_size;
    // limit + 1 is less than 4 GiB: a volume's sector count and size are 16-bit.
    *size = (uint32_t)total;
    puttime(&st, t);
    return 1;
}

// The time a directory put gives its entry: that of the host directory
// file when there is one (a list that sectget -a wrote names it), else
// SOURCE_DATE_EPOCH or now. 1 on success, else 0 after saying why not.
static int readhostdir(const putsource *src, const char *file, fattime *t)
{
    struct stat st;

    if (!file) {
        st.st_mtime = time(nullptr);
        puttime(&st, t);
        return 1;
    }
    if (stat(file, &st) != 0 || (st.st_mode & S_IFMT) != S_IFDIR) {
        putwhere(src);
        fprintf(stderr, stat(file, &st) != 0 ? "Could not open %s\n" : "%s is not a directory\n",
                file);
        return 0;
    }
    puttime(&st, t);
    return 1;
}

// Writes bytes [from, to) of the put's path.
static void putpart(const putline *line, int32_t from, int32_t to)
{
    putimagepath(stderr, line->path + from, to - from, utf8names, ITEMSHOWN);
}

// Says why a put was refused: the path, then the reason.
static void refusal(const putsource *src, const putline *line, int why, int64_t bytes)
{
    putwhere(src);
    putpart(line, 0, line->pathlen);
    switch (why) {
    case PUTBADPATH:
        fputs(": an image path is not empty and does not start with a backslash; only a "
              "directory's ends in one\n",
              stderr);
        break;
    case PUTBADNAME:
        fputs(": ", stderr);
        putpart(line, plan.badstart, plan.badend);
        fputs(" is not an 8.3 name\n", stderr);
        break;
    case PUTISDIR:
        fputs(" names a directory\n", stderr);
        break;
    case PUTTHROUGHFILE:
    case PUTDAMAGED:
    case PUTUNREADABLE:
        fputs(why == PUTTHROUGHFILE ? ": not a directory: "
              : why == PUTDAMAGED   ? ": damaged cluster chain in "
                                    : ": could not read directory ",
              stderr);
        putpart(line, 0, plan.badend);
        fputc('\n', stderr);
        break;
    case PUTTOOBIG:
        fprintf(stderr, ": %s has %lld bytes, more than the volume holds (%lld)\n", line->file,
                (long long)bytes, (long long)plan.longest * dp.clusterbytes);
        break;
    case PUTNOROOM:
        fprintf(stderr, ": no room; it needs %d clusters in one run, and the longest free run "
                        "is %d\n", plan.needed, plan.longest);
        break;
    case PUTROOTFULL:
        fputs(": the root directory is full\n", stderr);
        break;
    case PUTMOVE:
        fprintf(stderr, " would move from sector %d to sector %d; nothing written (--keep)\n",
                clustersector(&dp, plan.before), clustersector(&dp, plan.first));
        break;
    case PUTBADMARK:
        fputs(": the cluster chain of ", stderr);
        putpart(line, 0, plan.badend);
        fprintf(stderr, " runs into cluster %d, which the FAT marks bad\n", plan.held.badcluster);
        break;
    case PUTCROSSED:
        fputs(": the cluster chain of ", stderr);
        putpart(line, 0, plan.badend);
        fprintf(stderr, " shares cluster %d with another entry's; writing it would change "
                        "that entry\n", plan.held.badcluster);
        break;
    case PUTNORESERVED:
        fputs(": the boot sector gives no reserved sector, so the FAT would overwrite it\n",
              stderr);
        break;
    case PUTNOSYSTEMAREA:
        fprintf(stderr, ": the FAT copies and the root directory run past the volume's %d "
                        "sectors\n", dp.totalsectors);
        break;
    default:
        fputs(": out of memory\n", stderr);
    }
}

// Plans every put; 1 when all of them can be done.
static int planputs(FILE *image, const putjob *job)
{
    putsource src;
    putline line;
    uint32_t size = 0;
    int64_t bytes = 0;
    fattime t;
    int ok = startputs(&src, job), why;
    int64_t limit = (int64_t)dp.totalsectors * dp.bytespersector;

    while (ok && nextput(&src, &line, &ok)) {
        if (dirpath(line.path, line.pathlen) ? !readhostdir(&src, line.file, &t)
                                             : !readhost(&src, line.file, limit, &bytes, &size, &t)) {
            ok = 0;
            break;
        }
        why = putfile(image, &dp, &plan, line.path, line.pathlen, size, &t);
        if (why != PUTOK) {
            refusal(&src, &line, why, bytes);
            ok = 0;
        }
    }
    return ok;
}

// Copies the host file, of exactly size bytes, into the run from first,
// zeros after it to the end of its last cluster; 1 on success.
static int copyhost(FILE *image, const char *file, int32_t first, uint32_t size)
{
    FILE *f = fopen(file, "rb");
    int ok;

    if (!f)
        return 0;
    setvbuf(f, nullptr, _IONBF, 0); // reads straight into copybuf
    ok = writerun(image, &dp, &plan, f, first, size, copybuf, COPYBUFSIZE);
    fclose(f);
    return ok;
}

// Writes the put's line: where the file lies now, in sectmap's format; and,
// on standard error, that it moved when it did (ran says whether this put
// gave the file its run).
static void reportput(const putjob *job, const putline *line, int32_t slot, int ran)
{
    chainsummary s;
    int32_t first = entrycluster(&dp, slot);

    summarizechain(&dp, &chain, slot, INT64_MAX, &s);
    putmapfields(stdout, &dp, &chain, slot, &s, "");
    putshownname(stdout, line->given, line->givenlen);
    putc('\n', stdout);
    if (ran && plan.original[first] != 0 && plan.original[first] != first) {
        putpart(line, 0, line->pathlen);
        fprintf(stderr, " %s from sector %d to sector %d\n", job->common.dryrun ? "would move" : "moved",
                clustersector(&dp, plan.original[first]), clustersector(&dp, first));
    }
}

// Writes every put's data and its line, then the directories and the FAT;
// 1 on success. The list is read again; should it no longer be what was
// planned, only free clusters have been written when that shows.
static int writeputs(FILE *image, const putjob *job)
{
    putsource src;
    putline line;
    int ok = startputs(&src, job), put = 0;

    while (ok && nextput(&src, &line, &ok)) {
        int32_t slot = findslot(image, &dp, line.path, line.pathlen), first;
        int ran;
        put++;
        // Planning found or made every path; one not found now was not in
        // the list that was planned.
        if (slot < 0) {
            putwhere(&src);
            putpart(&line, 0, line.pathlen);
            fputs(" was not planned: the list changed while it was being put\n", stderr);
            ok = 0;
            break;
        }
        // Of a path put more than once, the last put gave the file its run.
        first = entrycluster(&dp, slot);
        ran = first != 0 && plan.planned[first] == put;
        if (!job->common.dryrun && ran && !copyhost(image, line.file, first, entrysize(&dp, slot))) {
            fprintf(stderr, "Could not copy %s into %s; %s\n", line.file, job->image,
                    leftstate(&repl));
            ok = 0;
            break;
        }
        reportput(job, &line, slot, ran);
    }
    // A list with no put changes nothing, not even the FAT copies.
    if (ok && !job->common.dryrun && put > 0 &&
        !(writedirectories(image, &dp, plan.dirty, plan.rootdirty) &&
          writefats(image, &dp, workbuf))) {
        fprintf(stderr, "Could not write %s; %s\n", job->image, leftstate(&repl));
        return 0;
    }
    return ok;
}

// 1 when every byte the plan writes lies inside the image file as it is (a
// cut-short copy must not be grown), on sectors its container holds.
static int imageholdsplan(FILE *image, const putjob *job)
{
    int64_t size = imagesize(image), reach = putreach(&dp, &plan);

    if (planinimage(&dp, &plan, size))
        return 1; // a size that cannot be told is -1
    if (mappedimage(&dp))
        fprintf(stderr, "Sector %d, which the puts write, is not in %s; nothing written\n",
                dp.lacking, job->image);
    else
        fprintf(stderr, "%s is cut short: it ends at byte %lld, before byte %lld that the puts "
                        "write; nothing written\n", job->image, (long long)size, (long long)reach);
    return 0;
}

// Opens the image: as it is for a dry run, else a copy of it beside it that
// takes every write and replaces it only once all went well, so that a run
// stopped at any moment leaves the old image or the new one. Null after
// saying why not.
static FILE *openimage(const putjob *job, replacement *r)
{
    return job->common.dryrun ? openimagefile(job->image)
                              : startimagechange(r, job->image, copybuf, COPYBUFSIZE);
}

// Opens the image, the list and the volume, plans, then writes; 1 on success.
static int runjob(const putjob *job)
{
    FILE *image;
    int ok = 1, stage;

    // The list first: one that cannot be read leaves the image unread.
    if (job->list && !openpathlist(&list, job->list, workbuf, WORKBUFSIZE))
        return 0;
    image = openimage(job, &repl);
    if (!image) {
        closelist(&list);
        return 0;
    }
    // Files put one after another go out in few large writes (the
    // replacement's stream has a buffer as large already).
    if (job->common.dryrun)
        setvbuf(image, (char *)imagebuf, _IOFBF, sizeof imagebuf);
    stage = loadimage(image, &dp, &map, choosecontainer(&job->common.from, job->image, &map),
                      job->common.from.disk, job->common.from.partition, workbuf);
    if (!job->common.dryrun)
        writethrough(&dp, &repl);
    if (stage != VOLUMEOPEN) {
        putvolumeproblem(stderr, &dp, stage, job->image);
        ok = 0;
    }
    ok = ok && (job->common.dryrun || imagewritable(stderr, &dp, job->image));
    // Chains that cross another entry's are never freed nor written through.
    if (ok) {
        countowners(image, &dp, &walk, &chain, owners);
        plan.owners = owners;
    }
    ok = ok && planputs(image, job) && imageholdsplan(image, job) && writeputs(image, job);
    closelist(&list);
    if (job->common.dryrun) {
        fclose(image);
    } else if (!finishreplacement(&repl, ok) && ok) {
        fprintf(stderr, "Could not write %s; %s\n", job->image, leftstate(&repl));
        ok = 0;
    }
    return ok;
}

// Reads the options into job: 1 to run it, 0 when done (help, version) or
// wrong (*ok then 0).
static int parseargs(int argc, char **argv, putjob *job, int *ok)
{
    static const option longs[] = {{"list", required_argument, nullptr, 'l'},
                                   {"keep", no_argument, nullptr, 'k'},
                                   DRYRUNOPTION,
                                   COMMONLONGOPTIONS,
                                   {nullptr, 0, nullptr, 0}};
    int c;

    while ((c = getopt_long(argc, argv, "l:kn" COMMONOPTIONS, longs, nullptr)) != -1) {
        int r = commonoption(c, optarg, &job->common, "sectput", usage);
        if (r == OPTOTHER && c == 'l')
            job->list = optarg;
        else if (r == OPTOTHER)
            job->keep = 1; // -k: getopt said anything else is unknown
        else if (r != OPTTAKEN) {
            *ok = r == OPTDONE;
            return 0;
        }
    }
    // A directory's PATH may stand alone.
    if (argc - optind != (job->list ? 1 : 3) &&
        !(!job->list && argc - optind == 2 && dirpath((const unsigned char *)argv[optind + 1],
                                                        (int32_t)strlen(argv[optind + 1])))) {
        fputs(usage, stderr);
        *ok = 0;
        return 0;
    }
    job->image = argv[optind];
    job->path = job->list ? nullptr : argv[optind + 1];
    job->file = job->list || argc - optind == 2 ? nullptr : argv[optind + 2];
    utf8names = job->common.utf8;
    return 1;
}

int main(int argc, char **argv)
{
    putjob job = {};
    int ok = 1;

    initcommonopts(&job.common);
    datastreams();
    if (parseargs(argc, argv, &job, &ok) && (ok = sourcedate(&epoch))) {
        initdiskprops(&dp);
        initputplan(&plan, job.keep);
        initchainwalk(&chain);
        ok = runjob(&job);
        freediskprops(&dp);
    }
    return datastatus(ok);
}
