// Files written into a host folder, DIR, that an image's tree fills: never
// outside it, never through a symbolic link (or, on Windows, a junction)
// found inside it, each file built beside its place and renamed onto it,
// so that nothing is ever left half-written under a file's name.
#ifndef TOOLS_HOSTFILES_H
#define TOOLS_HOSTFILES_H

#include <cstdint>
#include <cstdio>

enum { HOSTDEPTH = 64, HOSTPATHMAX = 4096, HOSTTEMPMAX = 96 };

// What a look at, or a step into, the host tree found.
enum {
    HOSTOK = 0,  // there (a directory entered), or done
    HOSTABSENT,  // not there
    HOSTEXISTS,  // a file (or a link) is there
    HOSTSPECIAL, // a device, FIFO or socket is there: never replaced
    HOSTISDIR,   // a directory is there
    HOSTLINK,    // a symbolic link or junction stands where a directory should
    HOSTNOTDIR,  // something that is no directory stands where one should
    HOSTTOODEEP, // deeper than HOSTDEPTH
    HOSTCLASH,   // another file of this run took the name first
    HOSTFAILED   // the system refused (errno, or GetLastError, tells)
};

// DIR and the directories entered below it, one a depth: depth 0 is DIR.
struct hosttree {
    char path[HOSTPATHMAX]; // DIR, then each name down to the deepest, '/' between
    int32_t end[HOSTDEPTH + 2];
    int fd[HOSTDEPTH + 2];  // each depth's directory, or -1 when it is not there
    int32_t depth;          // the deepest depth in use
};

int hostopen(hosttree *t, const char *dir, int make);
int hostenter(hosttree *t, int32_t depth, const char *name, int make);
int hostlook(hosttree *t, int32_t depth, const char *name);
const char *hostpath(hosttree *t, int32_t depth, const char *name);
FILE *hostcreate(hosttree *t, int32_t depth, const char *name, char *temp);
int hostplace(hosttree *t, int32_t depth, FILE *f, const char *temp, const char *name,
              int replace, int64_t when);
void hostdrop(hosttree *t, int32_t depth, FILE *f, const char *temp);
void hostclose(hosttree *t);
int settimes(FILE *f, int64_t when);
int hostdirtime(hosttree *t, int32_t depth, int64_t when);
int makefolder(const char *path, int64_t when);

#endif
