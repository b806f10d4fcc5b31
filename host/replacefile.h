// Host files written safely: a file replaced in one step by a temporary
// file beside it (target is the file a path's symbolic links end at), what
// a path is (a regular file, a device, a FIFO, a directory), and the name a
// temporary file takes. Nothing in volume/ includes this.
#ifndef HOST_REPLACEFILE_H
#define HOST_REPLACEFILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// A target that is not a regular file is never replaced: a block device
// (a real disk) is changed in place under a journal (or, as a whole new
// output, written straight), and as an output so is a character device or
// a FIFO written; anything else is refused (REPLACENOTFILE).
enum {
    REPLACETEMP = 0, REPLACEREAD, REPLACELONG, REPLACENOTFILE, REPLACEJOURNAL,
    REPLACEPATHMAX = 4096,
    TEMPSUFFIX = 32, REPLACEBUFSIZE = 65536
};
enum { FILEMISSING = 0, FILEREGULAR, FILEBLOCK, FILECHAR, FILEFIFO, FILEDIR, FILEOTHER };
int filekind(const char *path);
const char *filekindname(int kind);
struct journal;
struct replacement {
    char target[REPLACEPATHMAX];
    int inplace; // the target itself takes the writes
    journal *journaled; // ... through this journal: a large image changed in place
    int underjournal;   // it was: what a failure leaves is old, now or at the next opening
    char temp[REPLACEPATHMAX + TEMPSUFFIX];
    FILE *file;
    char streambuf[REPLACEBUFSIZE]; // the temporary file's: a volume goes out in few writes
    int32_t streamsize;             // how much of it the stream uses; 0: all
};
FILE *startreplacement(replacement *r, const char *path, int copy, unsigned char *buf,
                       int32_t bufsize, int *why);
int finishreplacement(replacement *r, int ok);
void dropreplacement(replacement *r);

// tempname.cpp: NAME.PID-N.tmp, the name of a temporary file beside NAME.
void tempname(char *out, size_t size, const char *name, unsigned long pid, unsigned *serial);

#endif
