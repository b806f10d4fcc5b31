// sectmap [-c] image [path...] | sectmap -s sector image: the sector map of
// a DCP image. Lists what every file and directory occupies, checks that
// files lie in one run of sectors, and tells what a sector holds. The
// listing is data on standard output; every complaint goes to standard error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

#include "listfile/listfile.h"
#include "tools/mapformat.h"
#include "tools/sectmap/diskmap.h"
#include "tools/imageedit.h"
#include "tools/imagepaths.h"
#include "tools/sjisnames.h"
#include "tools/options.h"
#include "tools/toolinfo.h"
#include "volume/volume.h"

static const char usage[] =
    "Usage: sectmap [-c] [-l] [-u] [-F FORMAT] [-d N] IMAGE [PATH...]\n"
    "       sectmap [-u] [-F FORMAT] [-d N] [-p N] -s SECTOR [-D] IMAGE\n"
    "       sectmap --map [--color=WHEN] [-u] [-F FORMAT] [-d N] IMAGE [PATH...]\n"
    "       sectmap --svg FILE [-f] [-u] [-F FORMAT] [-d N] IMAGE [PATH...]\n"
    "Lists every file and directory of the FAT volume in IMAGE (a floppy or\n"
    "hard-disk image), or the PATHs given, one line each: SECTOR SECTORS BYTES\n"
    "EXTENTS PATH.\n"
    "SECTOR is the first logical sector (as sectdefs gives it), SECTORS what a\n"
    "loader reads, EXTENTS the runs of sectors the chain occupies.\n"
    "  -c, --contiguous     fail unless every file listed lies in one run\n"
    "  -l, --long           ATTRIBUTES DATE TIME before PATH (attributes DASHR:\n"
    "                       directory, archive, system, hidden, read-only)\n"
    "  -s, --sector SECTOR  tell what the logical sector SECTOR holds\n"
    "  -D, --disk-sector    SECTOR is a hard disk's sector: tell the partition,\n"
    "                       the volume sector and what it holds\n"
    "      --map            a picture: a line per cylinder, a symbol per sector\n"
    "                       (a letter per file, . free; the legend says the rest)\n"
    "      --color[=WHEN]   colour the picture: auto (on a terminal, without\n"
    "                       NO_COLOR), always or never\n"
    "      --svg FILE       the picture as an SVG file (- for standard output)\n"
    "  -f, --force          overwrite FILE of --svg\n"
    "  -u, --utf8           PATHs given and printed are UTF-8, the image's Shift-JIS\n"
    "  -F, --format FORMAT  the image's container: dcp, d88, fdi, nfd, raw,\n"
    "                       hdi, nhd, thd, vhd98 or rawhdd (else found from\n"
    "                       its content, a THD from its name)\n"
    "  -d, --disk N         the Nth disk of a D88 file that holds several\n"
    "  -p, --partition N    the Nth entry of a hard disk's partition table;\n"
    "                       without it, its only FAT partition\n"
    "  -g, --geometry H/S   a raw hard disk's heads and sectors a track\n"
    "                       (else found from its first partition)\n"
    "Exit status: 0 on success, 1 on failure or damage.\n";

struct mapjob {
    commonopts common;
    int contiguous;
    int longform;    // -l: attributes, date and time too
    int picture;     // --map
    int color;       // --color: COLORAUTO, COLORALWAYS or COLORNEVER
    int colorgiven;
    const char *svg; // --svg FILE, or null
    int force;       // -f
    int sectorgiven;
    int32_t sector;  // -1 for the listing
    int disksector;  // -D: SECTOR is a hard disk's sector
    const char *image;
    char **paths;
    int32_t pathcount;
};

static unsigned char workbuf[WORKBUFSIZE];
static diskprops dp;
static sectormap map;
static int64_t imagebytes; // the image file's size
static int utf8names;      // -u: image paths are UTF-8 on the command line and in print
static dirwalk walk;
static chainwalk chain;

// The walk's marker for a directory it does not enter; a damaged chain's
// own marker already says why it could not be read.
static const char *walkmark(int kind, const chainsummary *s)
{
    if (kind == WALKAGAIN)
        return "!again";
    if (kind == WALKCROSSED)
        return "!crossed";
    return kind == WALKUNREAD && s->damage == CHAINSOUND ? "!unread" : "";
}

// Names the entry on standard error: the path as given, or from the walk.
static void putname(const char *given, int32_t slot)
{
    if (given)
        fputs(given, stderr);
    else
        putwalkpath(stderr, &dp, &walk, slot, utf8names);
}

// Reports, after its line, what is wrong with the entry; 1 when nothing is.
static int complain(const char *given, int32_t slot, const chainsummary *s, int kind,
                    int contiguous)
{
    int ok = 1;

    if (s->damage != CHAINSOUND) {
        fputs("Damaged cluster chain in ", stderr);
        putname(given, slot);
        fputs(": ", stderr);
        putdamage(stderr, s);
        fputc('\n', stderr);
        ok = 0;
    } else if (kind == WALKUNREAD) {
        fputs("Could not read directory ", stderr);
        putname(given, slot);
        fputc('\n', stderr);
        ok = 0;
    }
    if (kind == WALKAGAIN || kind == WALKCROSSED) {
        fputs("Directory ", stderr);
        putname(given, slot);
        fputs(kind == WALKAGAIN ? " was listed before; not entered again\n"
                                : " runs into another directory's clusters; not entered\n",
              stderr);
        ok = 0;
    }
    if (s->pastimage) {
        putname(given, slot);
        fputs(mappedimage(&dp) ? " lies on a sector the image lacks\n"
                               : " lies past the end of the image file\n",
              stderr);
        ok = 0;
    }
    if (contiguous && !entryisdir(&dp, slot) && s->runs > 1) {
        putname(given, slot);
        fprintf(stderr, " is not contiguous: %d extents\n", s->runs);
        ok = 0;
    }
    return ok;
}

// Writes the line of the entry at slot, with its attributes and time in
// the long form; 1 when it has nothing to report.
static int listentry(const char *given, int32_t slot, int kind, const mapjob *job)
{
    chainsummary s;

    summarizechain(&dp, &chain, slot, imagebytes, &s);
    // A directory not entered because another holds its clusters runs into
    // an entry listed before: its walk mark alone says so.
    if (kind == WALKAGAIN || kind == WALKCROSSED)
        s.damage = CHAINSOUND;
    putmapfields(stdout, &dp, &chain, slot, &s, walkmark(kind, &s));
    if (job->longform)
        putlongfields(stdout, &dp, slot);
    if (given)
        fputs(given, stdout);
    else
        putwalkpath(stdout, &dp, &walk, slot, utf8names);
    if (job->longform)
        putlongname(stdout, &dp, slot);
    putc('\n', stdout);
    return complain(given, slot, &s, kind, job->contiguous);
}

// Every entry, depth first; 1 when none had anything to report.
static int listtree(FILE *image, const mapjob *job)
{
    int32_t slot;
    int kind, ok = 1;

    startwalk(&dp, &walk);
    walk.release = 1; // a line is written whole before the walk goes on
    // No two entries of a sound volume share a cluster; on a damaged one,
    // stopping where they do keeps the listing's work within the clusters.
    claimchains(&chain);
    while ((slot = nextentry(image, &dp, &walk, &kind)) >= 0)
        ok = listentry(nullptr, slot, kind, job) && ok;
    return ok;
}

// One line per path given, in order; 1 when all were found and sound.
static int listpaths(FILE *image, const mapjob *job)
{
    int32_t i, slot;
    int ok = 1;

    for (i = 0; i < job->pathcount; i++) {
        static unsigned char sjis[SJISNAMEMAX];
        const char *p = job->paths[i];
        const unsigned char *path = sjis;
        int32_t len = imagepathof((const unsigned char *)p, (int32_t)strlen(p), utf8names, sjis,
                                  (int32_t)sizeof sjis);
        if (len < 0) {
            ok = 0;
            continue;
        }
        slot = findslot(image, &dp, path, len);
        if (slot < 0) {
            fprintf(stderr, "Could not find %s in the image\n", p);
            ok = 0;
            continue;
        }
        ok = listentry(p, slot, WALKFILE, job) && ok;
    }
    return ok;
}

// Writes what a data cluster holds at byte into of the sector: the path
// and the file's byte there, or what state the cluster is in.
static void telldata(FILE *image, int32_t sector, int32_t into, int32_t cluster)
{
    static const char *const states[] = {"free", "bad cluster", "lost"};
    int32_t index, slot = findowner(image, &dp, &walk, &chain, cluster, &index);
    int64_t offset;

    if (slot < 0) {
        puts(states[clusterstate(&dp, cluster)]);
        return;
    }
    offset = (int64_t)index * dp.clusterbytes +
             (int64_t)(sector - clustersector(&dp, cluster)) * dp.bytespersector + into;
    putwalkpath(stdout, &dp, &walk, slot, utf8names);
    fputs(" byte ", stdout);
    putnumber(stdout, offset, 0);
    putc('\n', stdout);
}

// The reverse lookup: one line, "SECTOR: WHAT" (WHAT of its byte into);
// 1 unless the sector lies inside the volume but past the end of the image
// file.
static int tellsector(FILE *image, int32_t sector, int32_t into)
{
    // By area; the FAT and data areas say more than a fixed text.
    static const char *const areas[] = {"boot sector", "reserved", nullptr, "root directory",
                                        nullptr, "unused", "past the end of the volume"};
    int32_t detail;
    int area = sectorarea(&dp, sector, &detail);

    if (area != SECTORPASTEND &&
        sectornotheld(&dp, (int64_t)sector * dp.bytespersector,
                      dp.bytespersector, imagebytes) >= 0) {
        puts(mappedimage(&dp) ? "not in the image" : "past the end of the image file");
        return 0;
    }
    if (area == SECTORDATA)
        telldata(image, sector, into, detail);
    else if (area == SECTORFAT)
        printf("FAT %d\n", detail);
    else
        puts(areas[area]);
    return 1;
}

enum { COLORAUTO = 0, COLORALWAYS, COLORNEVER, OPTMAP = 2000, OPTSVG, OPTCOLOR };

// 1 when the terminal picture is coloured: always, or by default only on a
// terminal that can show it and when NO_COLOR is not set.
static int colored(const mapjob *job)
{
    if (job->color != COLORAUTO)
        return job->color == COLORALWAYS;
    return !getenv("NO_COLOR") && terminalcolors();
}

// The picture of the disk, on the terminal or as an SVG file written
// through a temporary file; 1 on success.
static int picture(FILE *image, const mapjob *job)
{
    static diskpicture pic;
    static replacement r;
    static unsigned char sjis[256][SJISNAMEMAX / 256];
    static const unsigned char *imagepaths[256];
    static int32_t lens[256];
    mapview v = {image, &dp, &walk, &chain, imagebytes, utf8names, job->paths,
                 job->pathcount, imagepaths, lens};
    FILE *out;
    int ok;

    if (job->pathcount > 256) {
        fputs("At most 256 PATHs may be given\n", stderr);
        return 0;
    }
    for (int32_t k = 0; k < job->pathcount; k++) {
        imagepaths[k] = sjis[k];
        lens[k] = imagepathof((const unsigned char *)job->paths[k], (int32_t)strlen(job->paths[k]),
                              utf8names, sjis[k], (int32_t)sizeof sjis[k]);
    }
    ok = drawdisk(&v, &pic);
    if (!job->svg) {
        putterminalmap(&v, &pic, job->image, colored(job));
        return ok;
    }
    // "-" is standard output, as for sectget.
    if (strcmp(job->svg, "-") == 0)
        return putsvgmap(&v, &pic, job->image, stdout) && ok;
    if (!outputallowed(job->svg, job->force) || !(out = startoutput(&r, job->svg)))
        return 0;
    if (!finishreplacement(&r, putsvgmap(&v, &pic, job->image, out))) {
        fprintf(stderr, "Could not write %s\n", job->svg);
        return 0;
    }
    return ok;
}

// The partition of the hard disk in image that holds disk sector n (-D),
// from 0, and in *into the byte of its volume where n starts; else -1
// after printing what the sector is (the IPL, the table, in no partition,
// past the disk), or -2 after saying why the disk cannot be read.
static int32_t diskpartition(FILE *image, const mapjob *job, int64_t n, int64_t *into)
{
    int32_t container = choosecontainer(&job->common.from, job->image, &map);
    int r = mapimage(image, &map, container >= 0 ? container : findcontainer(image, imagesize(image)),
                     0);

    if (r == MAPOK && !map.hard) {
        fprintf(stderr, "%s is no hard disk: -D is for a hard disk's sectors\n", job->image);
        return -2;
    }
    if (r != MAPOK || readpartitions(image, &map) != MAPOK) {
        fprintf(stderr, "%s\n", volumemessage(VOLUMEMAPPED + (r != MAPOK ? r : MAPUNREAD)));
        return -2;
    }
    for (int32_t i = 0; i < map.partitions; i++)
        if (!map.part[i].problem && n >= map.part[i].first &&
            n < map.part[i].first + map.part[i].count) {
            *into = (n - map.part[i].first) * map.diskbytes;
            return i;
        }
    printf("%lld: %s\n", (long long)n,
           n == 0 ? "IPL" : n == 1 ? "partition table"
           : n < diskbytesof(&map) / map.diskbytes ? "in no partition" : "past the end of the disk");
    return -1;
}

// -s SECTOR -D: what the disk sector holds, by the partition it lies in.
static int telldisksector(FILE *image, const mapjob *job)
{
    int64_t into = 0;
    int32_t p = diskpartition(image, job, job->sector, &into);
    int stage;

    if (p < 0)
        return p == -1;
    stage = loadimage(image, &dp, &map, map.container, 0, p, workbuf);
    imagebytes = imagesize(image);
    if (stage != VOLUMEOPEN) {
        printf("%d: partition %d, which cannot be read\n", job->sector, p + 1);
        putvolumeproblem(stderr, &dp, stage, job->image);
        return 0;
    }
    printf("%d: partition %d, volume sector %lld: ", job->sector, p + 1,
           (long long)(into / dp.bytespersector));
    return into / dp.bytespersector > INT32_MAX
               ? puts("past the end of the volume") < 0
               : tellsector(image, (int32_t)(into / dp.bytespersector),
                            (int32_t)(into % dp.bytespersector));
}

// Opens the image and the volume and does the job; 1 on success.
static int runjob(const mapjob *job)
{
    FILE *image = openimagefile(job->image);
    int ok = 1, stage;

    if (!image)
        return 0;
    if (job->disksector) {
        ok = telldisksector(image, job);
        fclose(image);
        return ok;
    }
    stage = loadimage(image, &dp, &map, choosecontainer(&job->common.from, job->image, &map),
                      job->common.from.disk, job->common.from.partition, workbuf);
    imagebytes = imagesize(image);
    if (stage == VOLUMEOPEN && !layoutagrees(&dp))
        putlayoutproblem(stderr, &dp, job->image, "read as its tracks are laid out");
    if (stage != VOLUMEOPEN) {
        putvolumeproblem(stderr, &dp, stage, job->image);
        ok = 0;
    } else if (job->sector >= 0) {
        printf("%d: ", job->sector);
        ok = tellsector(image, job->sector, 0);
    } else if (job->picture || job->svg) {
        ok = picture(image, job);
    } else {
        ok = job->pathcount > 0 ? listpaths(image, job) : listtree(image, job);
    }
    fclose(image);
    return ok;
}

// The sector of -s: digits only, at most 2147483647; -1 otherwise.
static int32_t parsesector(const char *text)
{
    int32_t len = (int32_t)strlen(text);

    return len == 0 ? -1 : parsenum((const unsigned char *)text, len);
}

// Takes one of sectmap's own options into job: OPTTAKEN, or OPTBAD after
// saying why not.
static int takeoption(int c, const char *arg, mapjob *job)
{
    if (c == 'c' || c == 'l' || c == 'f' || c == OPTMAP) {
        *(c == 'c' ? &job->contiguous : c == 'l' ? &job->longform : c == 'f' ? &job->force
                                                                             : &job->picture) = 1;
        return OPTTAKEN;
    }
    if (c == OPTSVG) {
        job->svg = arg;
        return OPTTAKEN;
    }
    if (c == OPTCOLOR) {
        static const char *const whens[] = {"auto", "always", "never"};
        for (int k = 0; k < 3; k++)
            if (strcmp(arg ? arg : "always", whens[k]) == 0) {
                job->color = k;
                job->colorgiven = 1;
                return OPTTAKEN;
            }
        fprintf(stderr, "Bad --color=%s: auto, always or never\n", arg);
        return OPTBAD;
    }
    if (c == 'D') {
        job->disksector = 1;
        return OPTTAKEN;
    }
    // Only -s is left: getopt said anything else is unknown.
    job->sectorgiven = 1;
    if ((job->sector = parsesector(arg)) < 0) {
        fputs("Bad sector number\n", stderr);
        return OPTBAD;
    }
    return OPTTAKEN;
}

// The line that says which options given do not go together, or null.
static const char *conflict(const mapjob *job)
{
    int drawing = job->picture || job->svg;

    if (job->picture && job->svg)
        return "--map and --svg do not go together: one picture at a time";
    if (job->sectorgiven && job->pathcount > 0)
        return "-s tells what one sector holds: it takes no PATH";
    if ((job->sectorgiven || drawing) && (job->contiguous || job->longform))
        return job->contiguous ? "-c checks the listing: it does not go with -s, --map or --svg"
                               : "-l is the listing's long form: it does not go with -s, --map "
                                 "or --svg";
    if (job->disksector && !job->sectorgiven)
        return "-D says that the sector of -s is a disk sector: it goes with -s";
    if (drawing && job->sectorgiven)
        return "-s does not go with --map or --svg";
    if (job->force && !job->svg)
        return "-f overwrites the file of --svg: it goes with --svg alone";
    if (job->colorgiven && !drawing)
        return "--color colours the picture: it goes with --map or --svg";
    return nullptr;
}

// Reads the options into job: 1 to run it, 0 when done (help, version) or
// wrong (*ok then 0).
static int parseargs(int argc, char **argv, mapjob *job, int *ok)
{
    static const option longs[] = {{"contiguous", no_argument, nullptr, 'c'},
                                   {"sector", required_argument, nullptr, 's'},
                                   {"long", no_argument, nullptr, 'l'},
                                   {"map", no_argument, nullptr, OPTMAP},
                                   {"svg", required_argument, nullptr, OPTSVG},
                                   {"color", optional_argument, nullptr, OPTCOLOR},
                                   {"force", no_argument, nullptr, 'f'},
                                   {"disk-sector", no_argument, nullptr, 'D'},
                                   COMMONLONGOPTIONS,
                                   {nullptr, 0, nullptr, 0}};
    int c;

    while ((c = getopt_long(argc, argv, "cs:lfD" COMMONOPTIONS, longs, nullptr)) != -1) {
        int r = commonoption(c, optarg, &job->common, "sectmap", usage);
        if (r == OPTOTHER)
            r = takeoption(c, optarg, job);
        if (r != OPTTAKEN) {
            *ok = r == OPTDONE;
            return 0;
        }
    }
    job->image = optind < argc ? argv[optind] : nullptr;
    job->paths = argv + optind + 1;
    job->pathcount = optind < argc ? argc - optind - 1 : 0;
    if (!job->image || conflict(job)) {
        *ok = badcommandline(job->image ? conflict(job) : nullptr, usage);
        return 0;
    }
    utf8names = job->common.utf8;
    return 1;
}

int main(int argc, char **argv)
{
    mapjob job = {};
    int ok = 1;

    initcommonopts(&job.common);
    job.sector = -1;
    datastreams();
    if (parseargs(argc, argv, &job, &ok)) {
        initdiskprops(&dp);
        initchainwalk(&chain);
        ok = runjob(&job);
        freediskprops(&dp);
    }
    return datastatus(ok);
}
