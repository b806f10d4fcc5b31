// sectget IMAGE PATH FILE | sectget -l LIST IMAGE | sectget -a DIR IMAGE
// [PATH...]: gets files out of the FAT12 volume of an image, each exactly
// its size from its chain, with its entry's date and time. A damaged file
// is not got; an existing host file is not overwritten without -f, and that
// refusal comes before anything is written. -a prints the list of what it
// got, in sectput's list format, in the order of the files' first sectors.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "listfile/listfile.h"
#include "host/hostfiles.h"
#include "tools/hostnames.h"
#include "tools/imageedit.h"
#include "tools/mapformat.h"
#include "tools/options.h"
#include "tools/imagepaths.h"
#include "tools/sjisnames.h"
#include "volume/volume.h"

static const char usage[] =
    "Usage: sectget [-f] [-u] [-F FORMAT] [-d N] IMAGE PATH FILE\n"
    "       sectget [-f] [-u] [-F FORMAT] [-d N] -l LIST IMAGE\n"
    "       sectget [-f] [-u] [-F FORMAT] [-d N] -a DIR IMAGE [PATH...]\n"
    "Gets files out of the FAT volume of IMAGE (a floppy or hard-disk image):\n"
    "PATH into the host FILE (- for standard output), every PATH FILE line of\n"
    "a LIST, or with -a every file and directory (or those under the PATHs)\n"
    "into DIR, printing a list of them for sectput -l in the order of their\n"
    "first sectors. Each file gets its entry's date and time. A damaged file\n"
    "is named and not got; the others are.\n"
    "  -a, --all DIR        into DIR, made when missing; image names escaped\n"
    "                       where a system could not take them (see the manual)\n"
    "  -l, --list LIST      every PATH FILE line of LIST\n"
    "  -f, --force          overwrite existing host files\n"
    "  -u, --utf8           image paths are UTF-8, the image's Shift-JIS\n"
    "  -F, --format FORMAT  the image's container: dcp, d88, fdi, nfd, raw,\n"
    "                       hdi, nhd, thd, vhd98 or rawhdd (else found from\n"
    "                       its content, a THD from its name)\n"
    "  -d, --disk N         the Nth disk of a D88 file that holds several\n"
    "  -p, --partition N    the Nth entry of a hard disk's partition table;\n"
    "                       without it, its only FAT partition\n"
    "  -g, --geometry H/S   a raw hard disk's heads and sectors a track\n"
    "                       (else found from its first partition)\n"
    "Exit status: 0 on success, 1 on failure or damage.\n";

enum { COPYBUFSIZE = 65536 };

struct getjob {
    commonopts common;
    int force;
    const char *list; // -l
    const char *dir;  // -a
    const char *image;
    char **args;      // PATH FILE, or the PATHs of -a
    int32_t argcount;
};

static unsigned char workbuf[WORKBUFSIZE];
static unsigned char copybuf[COPYBUFSIZE];
static unsigned char imagebuf[COPYBUFSIZE]; // the image stream's own buffer
static diskprops dp;
static sectormap map;
static dirwalk walk;
static chainwalk chain;
static unsigned char owners[CLUSTERSLOTS];
static int64_t imagebytes;
static int utf8names;

// The image path of text in the image's bytes (Shift-JIS under -u) into
// *path and *len; 0 after saying it has none.
static int imagepath(const char *text, const unsigned char **path, int32_t *len)
{
    static unsigned char sjis[SJISNAMEMAX];

    *path = sjis;
    *len = imagepathof((const unsigned char *)text, (int32_t)strlen(text), utf8names, sjis,
                       (int32_t)sizeof sjis);
    return *len >= 0;
}

// The host time of the entry's modification date and time, read in the
// local time zone as DOS wrote it.
static int64_t entrytime(int32_t slot)
{
    fatclock c;
    struct tm tm;

    unpackfattime(dp.dirbuf + slot, &c);
    memset(&tm, 0, sizeof tm);
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    tm.tm_isdst = -1;
    return (int64_t)mktime(&tm);
}

// Names the entry on standard error: the path as given, or from the walk.
static void putname(const char *given, int32_t slot)
{
    if (given)
        fputs(given, stderr);
    else
        putwalkpath(stderr, &dp, &walk, slot, utf8names);
}

// 1 when the file at slot can be got whole: its chain sound, as long as its
// size, held by no other entry and on sectors the image holds; else 0
// after saying on standard error what stops it.
static int soundfile(const char *given, int32_t slot)
{
    chainsummary s;
    int32_t first = entrycluster(&dp, slot), crossed;

    summarizechain(&dp, &chain, slot, imagebytes, &s);
    crossed = s.damage == CHAINSOUND ? crossedcluster(&dp, &chain, first, owners) : -1;
    if (s.damage == CHAINSOUND && !s.pastimage && crossed < 0)
        return 1;
    putname(given, slot);
    fputs(": damaged, not got: ", stderr);
    if (s.damage != CHAINSOUND)
        putdamage(stderr, &s);
    else if (crossed >= 0)
        fprintf(stderr, "cluster %d is in another entry's chain too", crossed);
    else
        fputs(mappedimage(&dp) ? "a sector of it is not in the image"
                               : "it lies past the end of the image file",
              stderr);
    fputc('\n', stderr);
    return 0;
}

// Copies the file at slot into out; 1 on success, else 0 after saying why.
static int copyout(FILE *image, const getjob *job, int32_t slot, FILE *out, const char *file)
{
    int r = readchain(image, &dp, &chain, entrycluster(&dp, slot), entrysize(&dp, slot), out,
                      copybuf, COPYBUFSIZE);

    if (r == READCHAINIMAGE && dp.lacking >= 0)
        fprintf(stderr, "Sector %d is not in %s\n", dp.lacking, job->image);
    else if (r == READCHAINIMAGE)
        fprintf(stderr, "Could not read %s\n", job->image);
    else if (r == READCHAINOUT)
        fprintf(stderr, "Could not write %s\n", file);
    return r == READCHAINOK;
}

// Gets the file at slot into the host file (a new one renamed onto it);
// or to standard output for "-". 1 on success.
static int getone(FILE *image, const getjob *job, int32_t slot, const char *file)
{
    static replacement r;
    FILE *out;
    int ok;

    if (strcmp(file, "-") == 0)
        return copyout(image, job, slot, stdout, "standard output");
    out = startoutput(&r, file);
    if (!out)
        return 0;
    ok = copyout(image, job, slot, out, file) && settimes(out, entrytime(slot));
    if (!finishreplacement(&r, ok) && ok) {
        fprintf(stderr, "Could not write %s\n", file);
        ok = 0;
    }
    return ok;
}

// The PATH FILE pairs of the command line or the list, read the same way
// by the pass that checks and the pass that gets.
struct pairsource {
    const getjob *job;
    listreader *list; // null for the pair of the command line
    int32_t next;
    char file[WORKBUFSIZE + 1];
};

static listreader list; // -l's, opened once and read in both passes

// Starts reading the pairs from the first; 1 on success, 0 after saying
// why not.
static int startpairs(pairsource *src, const getjob *job)
{
    src->job = job;
    src->next = 0;
    src->list = job->list ? &list : nullptr;
    if (!job->list || rewindlist(&list))
        return 1;
    fprintf(stderr, "Could not read list file %s\n", job->list);
    return 0;
}

// The next pair: 1 with *path (NUL-terminated in the buffer) and *file set,
// 0 when there are no more or the list is wrong (*ok then 0, said).
static int nextpair(pairsource *src, char **path, const char **file, int *ok)
{
    itemspan items[2];
    int32_t n;

    if (!src->list) {
        *path = src->job->args[0];
        *file = src->job->args[1];
        return src->next++ == 0;
    }
    if (!nextlistitems(src->list, src->job->list, items, 2, &n, ok))
        return 0;
    if (n != 2) {
        fprintf(stderr, "%s line %d: expected an image path, spaces, then a host file name\n",
                src->job->list, src->list->number);
        *ok = 0;
        return 0;
    }
    memcpy(src->file, workbuf + items[1].start, (size_t)(items[1].end - items[1].start));
    src->file[items[1].end - items[1].start] = '\0';
    workbuf[items[0].end] = '\0'; // a space or a quote stood there
    *path = (char *)workbuf + items[0].start;
    *file = src->file;
    return 1;
}

// The slot of the file a pair names; -1 after saying why there is none.
static int32_t pairslot(FILE *image, const char *path)
{
    const unsigned char *p;
    int32_t len, slot;

    if (!imagepath(path, &p, &len))
        return -1;
    slot = findslot(image, &dp, p, len);
    if (slot < 0)
        fprintf(stderr, "Could not find %s in the image\n", path);
    else if (entryisdir(&dp, slot))
        fprintf(stderr, "%s names a directory; -a DIR gets a directory\n", path);
    return slot >= 0 && entryisdir(&dp, slot) ? -1 : slot;
}

// 1 when the host file may be written: it is "-", does not exist, or -f.
static int mayreplace(const getjob *job, const char *file)
{
    return strcmp(file, "-") == 0 || outputallowed(file, job->force);
}

// sectget IMAGE PATH FILE and sectget -l: the pairs checked (every host
// file that would be overwritten refused before anything is written),
// then got; a pair whose path is missing or damaged is named and skipped.
// 1 when the image path names a directory: it ends in a backslash.
static int dirline(const char *path)
{
    return path[0] && path[strlen(path) - 1] == '\\';
}

// 1 when a folder may stand at file: one is there, or nothing is; else 0
// after saying what stands there.
static int mayholdfolder(const char *file)
{
    int kind = filekind(file);

    if (kind == FILEMISSING || kind == FILEDIR)
        return 1;
    fprintf(stderr, "%s is not a directory, where one goes\n", file);
    return 0;
}

// The directory a pair names, got: its folder made when missing and given
// the entry's time (its line comes after its files'). 1 on success.
static int getfolder(FILE *image, const char *path, const char *file)
{
    const unsigned char *p;
    int32_t len, slot;

    if (!imagepath(path, &p, &len))
        return 0;
    slot = findslot(image, &dp, p, len);
    if (slot < 0) {
        fprintf(stderr, "Could not find %s in the image\n", path);
        return 0;
    }
    if (!makefolder(file, entrytime(slot))) {
        fprintf(stderr, "Could not make %s\n", file);
        return 0;
    }
    return 1;
}

static int getpairs(FILE *image, const getjob *job)
{
    pairsource src;
    char *path;
    const char *file;
    int ok = startpairs(&src, job), allowed = 1;

    while (ok && nextpair(&src, &path, &file, &ok))
        allowed = (dirline(path) ? mayholdfolder(file) : mayreplace(job, file)) && allowed;
    if (!ok || !allowed || !startpairs(&src, job))
        return 0;
    while (nextpair(&src, &path, &file, &ok)) {
        int32_t slot;
        if (dirline(path)) {
            ok = getfolder(image, path, file) && ok;
            continue;
        }
        slot = pairslot(image, path);
        ok = slot >= 0 && soundfile(path, slot) && getone(image, job, slot, file) && ok;
    }
    return ok;
}

// What -a gets: with no PATH every entry; else the entries a PATH names and
// all below the directories it names, with the directories on their way.
struct selection {
    int32_t count;
    int32_t slots[256];                 // the entries the PATHs name
    unsigned char onpath[CLUSTERSLOTS]; // directories on the way to one
};

static selection chosen;
static int32_t rowslot[CLUSTERSLOTS + 2]; // by cache row: the entry that names it
static int32_t gotstart[CLUSTERSLOTS];    // by first cluster: 1 + the slot of the file got, or 0
static unsigned char *gotmark;            // by slot / 32: got (an empty file too)
static unsigned char *existed;            // by slot / 32: the host file was there before

// Marks what the PATHs of -a name; 1 when each names an entry.
static int choose(FILE *image, const getjob *job)
{
    int ok = 1;

    chosen.count = 0;
    for (int32_t i = 0; i < job->argcount && i < 256; i++) {
        const unsigned char *p;
        int32_t len, slot, k, from = 0;
        if (!imagepath(job->args[i], &p, &len)) {
            ok = 0;
            continue;
        }
        slot = findslot(image, &dp, p, len);
        if (slot < 0) {
            fprintf(stderr, "Could not find %s in the image\n", job->args[i]);
            ok = 0;
            continue;
        }
        chosen.slots[chosen.count++] = slot;
        // Each directory on the way is found again by its prefix.
        while ((k = nextslash(p, from, len)) >= 0 && k + 1 < len) {
            int32_t at = findslot(image, &dp, p, k);
            if (at >= 0 && entrycluster(&dp, at) < dp.endofchain)
                chosen.onpath[entrycluster(&dp, at)] = 1;
            from = k + 1;
        }
    }
    if (job->argcount > 256) {
        fputs("At most 256 PATHs may be given\n", stderr);
        ok = 0;
    }
    return ok;
}

// 1 when the entry at slot, whose directory the walk has at depth, is got:
// every entry when no PATH was given.
static int selected(const getjob *job, const unsigned char *inchosen, int32_t slot)
{
    if (job->argcount == 0 || inchosen[walk.depth])
        return 1;
    for (int32_t i = 0; i < chosen.count; i++)
        if (chosen.slots[i] == slot)
            return 1;
    return 0;
}

// Says why a step in the host tree failed, naming the host path.
static void hostproblem(hosttree *t, int32_t depth, const char *name, int r)
{
    const char *path = hostpath(t, depth, name);

    if (r == HOSTEXISTS)
        fprintf(stderr, "%s exists; -f overwrites it\n", path);
    else if (r == HOSTISDIR)
        fprintf(stderr, "%s is a directory, where a file goes\n", path);
    else if (r == HOSTSPECIAL)
        fprintf(stderr, "%s is a device or FIFO, where a file goes; nothing is written over one\n",
                path);
    else if (r == HOSTLINK)
        fprintf(stderr, "%s is a symbolic link; nothing is written through one\n", path);
    else if (r == HOSTNOTDIR)
        fprintf(stderr, "%s is not a directory, where one goes\n", path);
    else if (r == HOSTTOODEEP)
        fprintf(stderr, "%s lies deeper than %d directories; not got\n", path, HOSTDEPTH);
    else if (r == HOSTCLASH)
        fprintf(stderr, "%s: another file of the image took this name first; not got\n", path);
    else
        fprintf(stderr, "Could not write %s\n", path);
}

// Looks at what stands where the file at slot goes (check pass): 1 when
// it may be written, else 0 after saying why not.
static int checkfile(hosttree *t, const getjob *job, int32_t depth, const char *name,
                     int32_t slot)
{
    int r = hostlook(t, depth, name);

    if (r == HOSTEXISTS)
        existed[slot / 32] = 1;
    if (r == HOSTABSENT || (r == HOSTEXISTS && job->force))
        return 1;
    hostproblem(t, depth, name, r);
    return 0;
}

// Gets the file at slot into the host directory of depth (get pass); 1 on
// success, else 0 after saying why not.
static int getfile(FILE *image, hosttree *t, const getjob *job, int32_t depth, const char *name,
                   int32_t slot)
{
    char temp[HOSTTEMPMAX];
    FILE *f;
    int r;

    if (!soundfile(nullptr, slot))
        return 0;
    f = hostcreate(t, depth, name, temp);
    if (!f) {
        hostproblem(t, depth, name, HOSTFAILED);
        return 0;
    }
    if (!copyout(image, job, slot, f, hostpath(t, depth, name))) {
        hostdrop(t, depth, f, temp);
        return 0;
    }
    r = hostplace(t, depth, f, temp, name, existed[slot / 32], entrytime(slot));
    if (r != HOSTOK) {
        hostproblem(t, depth, name, r);
        return 0;
    }
    gotmark[slot / 32] = 1;
    if (entrycluster(&dp, slot) >= 2 && entrycluster(&dp, slot) < dp.endofchain)
        gotstart[entrycluster(&dp, slot)] = slot + 1;
    return 1;
}

// Says why a directory of the image is not got: its chain damaged, or
// another entry holding its clusters, or a read that failed.
static void damageddir(int32_t slot, int kind)
{
    chainsummary s;

    summarizechain(&dp, &chain, slot, imagebytes, &s);
    putname(nullptr, slot);
    fputs(": damaged, not got: ", stderr);
    if (kind == WALKAGAIN)
        fputs("another entry names the same directory\n", stderr);
    else if (kind == WALKCROSSED)
        fputs("it runs into another directory's clusters\n", stderr);
    else if (s.damage != CHAINSOUND) {
        putdamage(stderr, &s);
        fputc('\n', stderr);
    } else {
        fputs("it could not be read\n", stderr);
    }
}

// The passes of -a over the tree.
enum { CHECKPASS = 0, GETPASS = 1, TIMEPASS = 2 };

// Gives the host directory of the entry at slot, entered at depth, the
// entry's time (after its contents, whose writing changed it), and marks
// it got, for the list.
static int dirgot(hosttree *t, int32_t depth, int32_t slot)
{
    gotmark[slot / 32] = 1;
    if (hostdirtime(t, depth, entrytime(slot)))
        return 1;
    fprintf(stderr, "Could not set the time of %.*s\n", (int)t->end[depth], t->path);
    return 0;
}

// One pass of -a over the tree: CHECKPASS looks at what stands where each
// file and directory goes (1 when nothing stops the get); GETPASS makes
// the directories and gets the files (1 when all were got); TIMEPASS gives
// each directory made its entry's time.
static int walkall(FILE *image, const getjob *job, hosttree *t, int get)
{
    // By the walk's depth: under a chosen directory; its host directory there.
    static unsigned char inchosen[CLUSTERSLOTS + 2], hostok[CLUSTERSLOTS + 2];
    char name[HOSTNAMEMAX];
    int32_t slot;
    int kind, ok = 1;

    startwalk(&dp, &walk);
    inchosen[0] = 0;
    hostok[0] = 1;
    while ((slot = nextentry(image, &dp, &walk, &kind)) >= 0) {
        int32_t d = walk.depth, c = entrycluster(&dp, slot);
        int sel = selected(job, inchosen, slot), r;
        if (kind == WALKDIR) {
            rowslot[walk.pending] = slot;
            inchosen[d + 1] = (unsigned char)sel;
            hostok[d + 1] = 0;
        }
        if (!hostok[d] || (entryisdir(&dp, slot) && !sel && !(c < dp.endofchain && chosen.onpath[c])))
            continue;
        hostname(entryname(&dp, slot), name);
        if (!entryisdir(&dp, slot)) {
            if (sel && get != TIMEPASS)
                ok = (get ? getfile(image, t, job, d, name, slot)
                          : checkfile(t, job, d, name, slot)) && ok;
            continue;
        }
        if (kind != WALKDIR) {
            if (get == GETPASS)
                damageddir(slot, kind);
            ok = ok && get != GETPASS;
            continue;
        }
        if (get == TIMEPASS) {
            hostok[d + 1] = hostenter(t, d, name, 0) == HOSTOK;
            ok = (!hostok[d + 1] || dirgot(t, d + 1, slot)) && ok;
            continue;
        }
        r = hostenter(t, d, name, get);
        hostok[d + 1] = r == HOSTOK || (!get && r == HOSTABSENT);
        if (!hostok[d + 1] && (get || r == HOSTLINK || r == HOSTNOTDIR || r == HOSTFAILED)) {
            hostproblem(t, d, name, r);
            ok = 0;
        }
    }
    return ok;
}

// Writes the list line of a file got: its image path, a space, the host
// file it was got into; both quoted when either cannot stand plain, so
// that sectput -l reads back what the line names.
static void putgotline(const getjob *job, int32_t slot)
{
    static unsigned char path[(HOSTDEPTH + 2) * 13], text[4 * sizeof path + 8];
    static char file[HOSTPATHMAX + (HOSTDEPTH + 2) * HOSTNAMEMAX];
    int32_t slots[HOSTDEPTH + 2], n = slotancestry(&dp, rowslot, slot, slots, HOSTDEPTH + 2);
    int32_t len = slotspath(&dp, slots, n, path), flen;
    const unsigned char *shown = path;
    int quoted;

    flen = snprintf(file, sizeof file, "%s", job->dir);
    for (int32_t i = 0; i < n && flen < (int32_t)sizeof file - HOSTNAMEMAX - 1; i++) {
        file[flen++] = '/';
        flen += hostname(entryname(&dp, slots[i]), file + flen);
    }
    if (utf8names) {
        len = sjisshown(path, len, text);
        shown = text;
    }
    quoted = !listitemplain(shown, len, ITEMPATH) ||
             !listitemplain((const unsigned char *)file, flen, ITEMFILE);
    putlistitem(stdout, shown, len, quoted);
    putchar(' ');
    putlistitem(stdout, (const unsigned char *)file, flen, quoted);
    putchar('\n');
}

// The list of -a: the files got, by first sector, then the empty ones in
// the tree's order, then a line for every directory made (an empty one
// too), each after those below it, so that a folder made from the list is
// given its time after all it holds.
static void putgotlist(FILE *image, const getjob *job)
{
    static int32_t open[CLUSTERSLOTS + 2], opendepth[CLUSTERSLOTS + 2];
    int32_t slot, n = 0;
    int kind;

    for (int32_t c = 2; c < dp.endofchain; c++)
        if (gotstart[c])
            putgotline(job, gotstart[c] - 1);
    startwalk(&dp, &walk);
    while ((slot = nextentry(image, &dp, &walk, &kind)) >= 0) {
        int32_t c = entrycluster(&dp, slot);
        if (gotmark[slot / 32] && !entryisdir(&dp, slot) && !(c >= 2 && c < dp.endofchain))
            putgotline(job, slot);
    }
    // A directory is done when the walk comes back to its own depth.
    startwalk(&dp, &walk);
    while ((slot = nextentry(image, &dp, &walk, &kind)) >= 0) {
        while (n > 0 && opendepth[n - 1] >= walk.depth)
            putgotline(job, open[--n]);
        if (gotmark[slot / 32] && entryisdir(&dp, slot) && n < CLUSTERSLOTS + 2) {
            open[n] = slot;
            opendepth[n++] = walk.depth;
        }
    }
    while (n > 0)
        putgotline(job, open[--n]);
}

// sectget -a: every file and directory chosen, checked (nothing is written
// when a host file would be overwritten without -f, or a link stands where
// a directory goes), then got, then listed.
static int getall(FILE *image, const getjob *job)
{
    static hosttree t;
    int32_t slots = dp.dirbufused / 32 + 1;
    int ok, r;

    if (!choose(image, job))
        return 0;
    gotmark = (unsigned char *)calloc((size_t)slots, 1);
    existed = (unsigned char *)calloc((size_t)slots, 1);
    if (!gotmark || !existed) {
        fputs("Out of memory\n", stderr);
        return 0;
    }
    r = hostopen(&t, job->dir, 0);
    ok = r == HOSTOK || r == HOSTABSENT;
    if (!ok)
        fprintf(stderr, r == HOSTNOTDIR ? "%s is not a directory\n" : "Could not open %s\n",
                job->dir);
    ok = ok && walkall(image, job, &t, 0);
    hostclose(&t);
    if (ok && hostopen(&t, job->dir, 1) != HOSTOK) {
        fprintf(stderr, "Could not make %s\n", job->dir);
        ok = 0;
    } else if (ok) {
        ok = walkall(image, job, &t, GETPASS);
        hostclose(&t);
        ok = hostopen(&t, job->dir, 0) == HOSTOK && walkall(image, job, &t, TIMEPASS) && ok;
        hostclose(&t);
        putgotlist(image, job);
    }
    free(gotmark);
    free(existed);
    return ok;
}

// Opens the image and its volume, and finds which chains cross; then gets
// what the job asks. 1 on success.
static int runjob(const getjob *job)
{
    FILE *image;
    int ok, stage;

    // The list first: one that cannot be read leaves the image unread.
    if (job->list && !openpathlist(&list, job->list, workbuf, WORKBUFSIZE))
        return 0;
    image = openimagefile(job->image);
    if (!image) {
        closelist(&list);
        return 0;
    }
    setvbuf(image, (char *)imagebuf, _IOFBF, sizeof imagebuf);
    stage = loadimage(image, &dp, &map, choosecontainer(&job->common.from, job->image, &map),
                      job->common.from.disk, job->common.from.partition, workbuf);
    imagebytes = imagesize(image);
    ok = stage == VOLUMEOPEN;
    if (!ok)
        putvolumeproblem(stderr, &dp, stage, job->image);
    if (ok && !layoutagrees(&dp))
        putlayoutproblem(stderr, &dp, job->image, "read as its tracks are laid out");
    if (ok) {
        // The whole tree walked once: every directory is in the cache after it.
        countowners(image, &dp, &walk, &chain, owners);
        ok = job->dir ? getall(image, job) : getpairs(image, job);
    }
    fclose(image);
    closelist(&list);
    return ok;
}

// Reads the options into job: 1 to run it, 0 when done (help, version) or
// wrong (*ok then 0).
static int parseargs(int argc, char **argv, getjob *job, int *ok)
{
    static const option longs[] = {{"all", required_argument, nullptr, 'a'},
                                   {"list", required_argument, nullptr, 'l'},
                                   {"force", no_argument, nullptr, 'f'},
                                   COMMONLONGOPTIONS,
                                   {nullptr, 0, nullptr, 0}};
    int c, operands;

    while ((c = getopt_long(argc, argv, "a:l:f" COMMONOPTIONS, longs, nullptr)) != -1) {
        int r = commonoption(c, optarg, &job->common, "sectget", usage);
        if (r == OPTOTHER && c == 'f')
            job->force = 1;
        else if (r == OPTOTHER)
            *(c == 'a' ? &job->dir : &job->list) = optarg;
        else if (r != OPTTAKEN) {
            *ok = r == OPTDONE;
            return 0;
        }
    }
    operands = argc - optind;
    if ((job->dir && job->list) || operands < 1 || (job->list && operands != 1) ||
        (!job->dir && !job->list && operands != 3)) {
        fputs(usage, stderr);
        *ok = 0;
        return 0;
    }
    job->image = argv[optind];
    job->args = argv + optind + 1;
    job->argcount = operands - 1;
    utf8names = job->common.utf8;
    return 1;
}

int main(int argc, char **argv)
{
    getjob job = {};
    int ok = 1;

    initcommonopts(&job.common);
    datastreams();
    if (parseargs(argc, argv, &job, &ok)) {
        initdiskprops(&dp);
        initchainwalk(&chain);
        ok = runjob(&job);
        freediskprops(&dp);
    }
    return datastatus(ok);
}
