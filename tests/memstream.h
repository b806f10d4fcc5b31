// An in-memory stdio stream that logs every fread, fwrite and fseek made on
// it (the test binary links with --wrap for these), and can fail the Nth
// of each.
#ifndef TESTS_MEMSTREAM_H
#define TESTS_MEMSTREAM_H

#include <cstdio>
#include <vector>

struct iocall {
    char op; // 'r', 'w' or 's'
    long offset;
    long length; // bytes moved; for a seek, 0
};

struct memfile {
    std::vector<unsigned char> data;
    long pos = 0;
    std::vector<iocall> calls;
    int failread = 0, failwrite = 0, failseek = 0; // 1-based call number; 0 never
    int reads = 0, writes = 0, seeks = 0;
    bool failing = false;
};

// The Nth malloc or realloc from now, made by the project's code, fails
// (0: none does). The test binary links with --wrap for both.
extern int failalloc;

FILE *openmem(memfile *m, const char *mode);
// Calls of one kind that moved bytes (seeks: all of them).
int countcalls(const memfile *m, char op);

#endif
