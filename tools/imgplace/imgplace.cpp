// imgplace input output offset: copies all of input into the existing file
// output, starting at the decimal byte offset; nothing else of output changes.
#include <climits>
#include <cstdint>
#include <cstdio>

#include "tools/toolinfo.h"

enum { COPYBUFSIZE = 4096, STREAMBUFSIZE = 1 << 20 };

static const char usage[] =
    "Usage: imgplace INPUT OUTPUT OFFSET\n"
    "Copies all of INPUT into the existing file OUTPUT, starting at the\n"
    "decimal byte OFFSET (0 to 2147483647). OUTPUT is never created or\n"
    "truncated; it grows when the copy runs past its end.\n"
    "Exit status: 0 on success, 1 on failure.\n";

// The decimal number in a NUL-terminated text: digits only, at most
// 2147483647 (a longer run would wrap into a small, wrong offset); -1 when
// the text is not such a number, 0 when it is empty.
static int32_t parsenum(const char *text)
{
    int64_t v = 0;

    for (; *text; text++) {
        if (*text < '0' || *text > '9')
            return -1;
        v = v * 10 + (*text - '0');
        if (v > INT32_MAX)
            v = (int64_t)INT32_MAX + 1; // stays too large without overflowing
    }
    return v > INT32_MAX ? -1 : (int32_t)v;
}

// Copies in to out through one fixed buffer; a read shorter than the buffer
// ends the copy. 1 on success, 0 after printing what failed.
static int copyfile(FILE *in, FILE *out)
{
    static unsigned char buf[COPYBUFSIZE];
    size_t n;

    do {
        n = fread(buf, 1, COPYBUFSIZE, in);
        if (n > 0 && fwrite(buf, 1, n, out) != n) {
            puts("Can't write output file");
            return 0;
        }
    } while (n == COPYBUFSIZE);
    if (ferror(in)) {
        puts("Can't read input file");
        return 0;
    }
    return 1;
}

// Positions, copies and closes the output; 1 when every byte is in place.
static int place(FILE *in, FILE *out, int32_t offset)
{
    int ok = fseek(out, (long)offset, SEEK_SET) == 0, closed;

    if (!ok)
        puts("Can't position output file");
    ok = ok && copyfile(in, out);
    // The close always happens; only a run that went well so far reports it.
    closed = fclose(out) == 0;
    if (ok && !closed) {
        puts("Can't write output file");
        ok = 0;
    }
    return ok;
}

// The copy goes through the 4096-byte buffer; beneath it the streams move a
// megabyte per system call, from static buffers, so that the copy runs at
// the speed of the disk rather than of 4096-byte calls.
static void bigbuffers(FILE *in, FILE *out)
{
    static char inbuf[STREAMBUFSIZE], outbuf[STREAMBUFSIZE];

    setvbuf(in, inbuf, _IOFBF, sizeof inbuf);
    setvbuf(out, outbuf, _IOFBF, sizeof outbuf);
}

int main(int argc, char **argv)
{
    FILE *in, *out;
    int32_t offset;
    int ok = 0, info;

    if ((info = infoargument(argc, argv, "imgplace", usage)) != 0)
        ok = info > 0;
    else if (argc != 4)
        puts("Expects three arguments");
    else if ((offset = parsenum(argv[3])) < 0)
        puts("Bad offset");
    else if (!(in = fopen(argv[1], "rb")))
        puts("Can't open input file");
    else if (!(out = fopen(argv[2], "rb+"))) {
        puts("Can't open output file");
        fclose(in);
    } else {
        bigbuffers(in, out);
        ok = place(in, out, offset);
        fclose(in);
    }
    fflush(stdout);
    return ok ? 0 : 1;
}
