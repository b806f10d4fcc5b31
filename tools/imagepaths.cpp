// Image paths from what a user typed.
#include "imagepaths.h"

#include <cstdio>
#include <cstring>

#include "tools/sjisnames.h"
#include "volume/diskprops.h"

// What the user typed, as typed.
static void putgiven(FILE *out, const unsigned char *text, int32_t len)
{
    fwrite(text, 1, (size_t)len, out);
}

int32_t imagepathof(const unsigned char *text, int32_t len, int utf8, unsigned char *buf,
                    int32_t size)
{
    int32_t n = len, dots;

    if (!utf8 && len > size) {
        fputs("The path ", stderr);
        putgiven(stderr, text, len);
        fputs(" is too long\n", stderr);
        return -1;
    }
    if (utf8)
        n = utf8tosjis(text, len, buf, size);
    else
        memcpy(buf, text, (size_t)len);
    if (n < 0) {
        putgiven(stderr, text, len);
        fputs(" has no Shift-JIS form (code page 932)\n", stderr);
        return -1;
    }
    dots = dotcomponent(buf, n);
    if (dots >= 0) {
        putgiven(stderr, text, len);
        fputs(": a component made of dots names no entry (name the directory itself)\n",
              stderr);
        return -1;
    }
    return n;
}
