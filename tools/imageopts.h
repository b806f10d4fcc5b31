// -F FORMAT and -d N, the same way in every program of ours that opens an
// image: the container said outright instead of found from the content,
// and which disk of a file that holds several. Header-only.
#ifndef TOOLS_IMAGEOPTS_H
#define TOOLS_IMAGEOPTS_H

#include <cstdio>
#include <cstring>

#include "volume/image/sectormap.h"

#define IMAGEOPTIONS "F:d:"
#define IMAGELONGOPTIONS {"format", required_argument, nullptr, 'F'}, \
                         {"disk", required_argument, nullptr, 'd'}

struct imagechoice {
    int32_t container; // -1: from the content
    int32_t disk;      // from 0
};

// Takes option c with its argument: 1 when it is -F or -d with a good
// value, 0 after saying on standard error why the value is not, -1 when c
// is neither.
inline int imageoption(int c, const char *arg, imagechoice *ic)
{
    int32_t n = 0;
    size_t i;

    if (c == 'F') {
        ic->container = containernamed(arg);
        if (ic->container >= 0)
            return 1;
        fprintf(stderr, "Unknown format %s: dcp, d88, fdi, nfd or raw\n", arg);
        return 0;
    }
    if (c != 'd')
        return -1;
    for (i = 0; arg[i] >= '0' && arg[i] <= '9' && n < 100000; i++)
        n = n * 10 + (arg[i] - '0');
    if (i == 0 || arg[i] || n < 1 || n > 9999) {
        fprintf(stderr, "Bad disk number %s: 1 for the first disk of the file, 2 for the "
                        "second...\n", arg);
        return 0;
    }
    ic->disk = n - 1;
    return 1;
}

#endif
