// Image paths as the programs take them from a command line or a list:
// under -u from UTF-8 into the image's Shift-JIS, and refused when a
// component is made of dots (it names a "." or ".." slot, never an entry).
#ifndef TOOLS_IMAGEPATHS_H
#define TOOLS_IMAGEPATHS_H

#include <cstdint>

#include "listfile/listfile.h"

// The image's bytes of the path text (len bytes) into buf (size bytes):
// their length, or -1 after saying on standard error why there are none.
int32_t imagepathof(const unsigned char *text, int32_t len, int utf8, unsigned char *buf,
                    int32_t size);

int openpathlist(listreader *r, const char *path, unsigned char *buf, uint32_t size);
int nextlistitems(listreader *r, const char *path, itemspan *items, int32_t most,
                  int32_t *count, int *ok);

#endif
