// Image paths from what a user typed.
#include "imagepaths.h"

#include <cstdio>
#include <cstring>

#include "tools/sjisnames.h"
#include "volume/volume.h"

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

// Opens the list at path ("-": standard input) into r, reading buf (size
// bytes): 1, or 0 after saying why not.
int openpathlist(listreader *r, const char *path, unsigned char *buf, uint32_t size)
{
    int r1 = openlist(r, path, buf, size);

    if (r1 == LISTNOTOPENED)
        fprintf(stderr, "Could not open list file %s\n", path);
    else if (r1 == LISTISDIR)
        fprintf(stderr, "%s is a directory, not a list\n", path);
    else if (r1 == LISTUNREAD)
        fprintf(stderr, "Could not read list file %s\n", path);
    return r1 == LISTOPENED;
}

// The next line of the list read by r (named path) that holds something,
// split into at most most items: 1 with items[0..*count); 0 at the end of
// the list, or with *ok 0 after saying what is wrong with the line or the
// list. Every program that reads a list refuses the same lines.
int nextlistitems(listreader *r, const char *path, itemspan *items, int32_t most,
                  int32_t *count, int *ok)
{
    static const char *const problems[] = {
        "", "the line is longer than the list reader's buffer", "the line holds a NUL byte",
        ("a quoted item is not closed, is not followed by a space, or holds a %HH that is not "
         "a byte")};
    int32_t start, end;
    int why;

    if (!readlistline(r, &start, &end)) {
        if (ferror(r->file)) {
            fprintf(stderr, "Could not read list file %s\n", path);
            *ok = 0;
        }
        return 0;
    }
    why = splitlistline(r, start, end, items, most, count);
    if (why == LISTLINEOK)
        return 1;
    fprintf(stderr, "%s line %d: %s\n", path, r->number, problems[why]);
    *ok = 0;
    return 0;
}
