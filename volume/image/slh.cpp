// SLH hard-disk images: a 512-byte header that starts "HDIM". Rare; named
// so that it is not read as something else, not opened.
#include <cstring>

#include "sectormap.h"

// 1 with text naming it when the file starts so.
int slhlookslike(const unsigned char *head, int32_t got, char *text, int32_t n)
{
    if (got < 4 || memcmp(head, "HDIM", 4) != 0)
        return 0;
    snprintf(text, (size_t)n, "is an SLH hard-disk image: not supported");
    return 1;
}
