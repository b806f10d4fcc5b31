// The options every program of ours that opens an image takes the same way:
// -u (image paths are UTF-8), -F FORMAT and -d N (the container said
// outright, and which disk of a file that holds several), -n (plan and
// print, write nothing), --help and --version. Header-only.
#ifndef TOOLS_OPTIONS_H
#define TOOLS_OPTIONS_H

#include <cstdio>
#include <cstring>
#include <getopt.h>

#include "tools/toolinfo.h"
#include "volume/image/sectormap.h"

// The short options, for getopt's string, and the long ones: each program
// adds its own, and "n" with DRYRUNOPTION only when it has a dry run.
#define COMMONOPTIONS "uF:d:p:g:"
#define COMMONLONGOPTIONS                                                       \
    {"utf8", no_argument, nullptr, 'u'}, {"format", required_argument, nullptr, 'F'}, \
    {"disk", required_argument, nullptr, 'd'}, {"partition", required_argument, nullptr, 'p'}, \
    {"geometry", required_argument, nullptr, 'g'}, \
    {"help", no_argument, nullptr, OPTHELP}, \
    {"version", no_argument, nullptr, OPTVERSION}
#define DRYRUNOPTION {"dry-run", no_argument, nullptr, 'n'}

struct imagechoice {
    int32_t container; // -1: from the content
    int32_t disk;      // from 0
    int32_t partition; // a hard disk's, from 0; PARTITIONTHEONLY: its only FAT one
    int32_t heads, spt; // -g: a raw hard disk's geometry; 0: found from the disk
};

struct commonopts {
    imagechoice from;
    int utf8;   // -u
    int dryrun; // -n
};

enum { OPTTAKEN = 1, OPTBAD = 0, OPTOTHER = -1, OPTDONE = 2 };
// --help and --version have no short form: every letter is free for a
// program's own options (sectattr's -h clears the hidden attribute).
enum { OPTHELP = 1000, OPTVERSION };

// Takes -g HEADS/SECTORS into ic: OPTTAKEN, or OPTBAD after saying why not.
inline int geometryoption(const char *arg, imagechoice *ic)
{
    int32_t n[2] = {0, 0}, k = 0;
    const char *p = arg;

    for (; k < 2; k++, p++) {
        const char *start = p;
        while (*p >= '0' && *p <= '9' && n[k] <= 255)
            n[k] = n[k] * 10 + (*p++ - '0');
        if (p == start || *p != (k == 0 ? '/' : '\0'))
            break;
    }
    if (k < 2 || n[0] < 1 || n[0] > 255 || n[1] < 1 || n[1] > 255) {
        fprintf(stderr, "Bad geometry %s: HEADS/SECTORS, each 1 to 255 (8/17 for an IDE "
                        "disk)\n", arg);
        return OPTBAD;
    }
    ic->heads = n[0];
    ic->spt = n[1];
    return OPTTAKEN;
}

// The container to open path as: -F's, else the one its name says (a THD
// has nothing else), else -1 for its content to say; -g's geometry goes
// into the map that will be built.
inline int32_t choosecontainer(const imagechoice *ic, const char *path, sectormap *map)
{
    map->askheads = ic->heads;
    map->askspt = ic->spt;
    return ic->container >= 0 ? ic->container : containerofname(path);
}

// Takes -F, -d, -p or -g with its argument into ic: OPTTAKEN, OPTBAD after saying on
// standard error why the value is not good, OPTOTHER when c is neither.
inline int imageoption(int c, const char *arg, imagechoice *ic)
{
    int32_t n = 0;
    size_t i;

    if (c == 'F') {
        ic->container = containernamed(arg);
        if (ic->container >= 0)
            return OPTTAKEN;
        fprintf(stderr, "Unknown format %s: dcp, d88, fdi, nfd, raw, hdi, nhd, thd, vhd98 or rawhdd\n", arg);
        return OPTBAD;
    }
    if (c == 'g')
        return geometryoption(arg, ic);
    if (c != 'd' && c != 'p')
        return OPTOTHER;
    for (i = 0; arg[i] >= '0' && arg[i] <= '9' && n < 100000; i++)
        n = n * 10 + (arg[i] - '0');
    if (i == 0 || arg[i] || n < 1 || n > 9999) {
        if (c == 'p')
            fprintf(stderr, "Bad partition number %s: 1 for the first entry of the disk's "
                            "table, 2 for the second...\n", arg);
        else
            fprintf(stderr, "Bad disk number %s: 1 for the first disk of the file, 2 for the "
                            "second...\n", arg);
        return OPTBAD;
    }
    *(c == 'p' ? &ic->partition : &ic->disk) = n - 1;
    return OPTTAKEN;
}

// Says on standard error that the command line does not go together, in
// the line given (none: just the usage), then the usage text: OPTBAD.
inline int badcommandline(const char *conflict, const char *usage)
{
    if (conflict)
        fprintf(stderr, "%s\n", conflict);
    fputs(usage, stderr);
    return OPTBAD;
}

// Takes option c (as getopt gave it, with arg) into o: OPTTAKEN; OPTBAD for
// a bad value (said) or an unknown option (getopt said it); OPTDONE after
// printing the usage text (--help) or the version line of the program
// named name; OPTOTHER when c is the program's own.
inline int commonoption(int c, const char *arg, commonopts *o, const char *name,
                        const char *usage)
{
    if (c == 'u' || c == 'n') {
        *(c == 'u' ? &o->utf8 : &o->dryrun) = 1;
        return OPTTAKEN;
    }
    if (c == OPTHELP || c == OPTVERSION) {
        if (c == OPTHELP)
            fputs(usage, stdout);
        else
            printversion(name);
        return OPTDONE;
    }
    // getopt named the option unknown, or its argument missing.
    if (c == '?' || c == ':')
        return badcommandline(nullptr, usage);
    return imageoption(c, arg, &o->from);
}

// Options as every program starts them: the container from the content,
// the first disk, nothing else set.
inline void initcommonopts(commonopts *o)
{
    o->from.container = -1;
    o->from.disk = 0;
    o->from.partition = PARTITIONTHEONLY;
    o->from.heads = o->from.spt = 0;
    o->utf8 = 0;
    o->dryrun = 0;
}

#endif
