// Fuzz target: list text read with nextline through buffers of several
// sizes. Checks that a terminator stands only as a line's last byte, that no
// piece is longer than the buffer, that the pieces give the input back less
// the LF of each CR LF pair, and runs getlineitems and parsenum on each
// whole line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "listfile/listfile.h"

static unsigned char buf[LISTBUFSIZE];
static unsigned char expect[1 << 20];

static void check(bool ok)
{
    if (!ok)
        abort();
}

// The input less the LF of each CR LF pair: what the lines must add up to.
static size_t withoutpairlf(const uint8_t *data, size_t size)
{
    size_t n = 0;
    for (size_t i = 0; i < size; i++)
        if (!(data[i] == '\n' && i > 0 && data[i - 1] == '\r'))
            expect[n++] = data[i];
    return n;
}

static void checkitems(const unsigned char *line, int32_t start, int32_t end)
{
    itemspan items[3];
    for (int32_t count = 1; count <= 3; count++) {
        int32_t n = getlineitems(line, start, end, items, count);
        check(n >= 0 && n <= count);
        for (int32_t i = 0; i < n; i++) {
            check(items[i].start >= start && items[i].end <= end);
            check(items[i].start < items[i].end);
            check(line[items[i].start] != ' ' && line[items[i].end - 1] != ' ');
            int32_t v = parsenum(line + items[i].start, items[i].end - items[i].start);
            check(v >= -1);
        }
    }
}

// Reads the input through a buffer of z bytes; items are split only where
// whole lines are read (a piece of a longer line has none to check).
static void readall(const uint8_t *data, size_t size, uint32_t z, size_t want)
{
    static const uint8_t empty[1] = {0};
    // An empty list never reaches a read: the first fill counts 0 bytes.
    FILE *f = fmemopen((void *)(size ? data : empty), size ? size : 1, "rb");
    int32_t bufused, linestart = 0, lineend = 0;
    unsigned char lastcr = 0;
    size_t got = 0, calls = 0;
    int more = 1;

    check(f != nullptr);
    bufused = size ? (int32_t)fread(buf, 1, z, f) : 0;
    while (more) {
        more = nextline(f, buf, z, &bufused, &linestart, &lineend, &lastcr);
        int32_t len = lineend - linestart;
        check(len >= 0 && (uint32_t)len <= z && lineend <= bufused);
        for (int32_t i = linestart; i + 1 < lineend; i++)
            check(buf[i] != '\r' && buf[i] != '\n');
        check(lastcr == (len > 0 && buf[lineend - 1] == '\r'));
        check(got + (size_t)len <= want && memcmp(expect + got, buf + linestart, (size_t)len) == 0);
        got += (size_t)len;
        if (z == LISTBUFSIZE)
            checkitems(buf, linestart, contentend(buf, linestart, lineend));
        check(++calls <= 2 * size + 4);
    }
    check(got == want);
    fclose(f);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > sizeof expect)
        return 0;
    size_t want = withoutpairlf(data, size);
    for (uint32_t z : {1u, 3u, 64u, (uint32_t)LISTBUFSIZE})
        readall(data, size, z, want);
    return 0;
}
