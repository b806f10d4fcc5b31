// The list reader keeps no state of its own: the caller owns the buffer and
// the four reader variables, and passes them to every call.
#include <cstring>

#include "listfile.h"

static int isbreak(unsigned char c)
{
    return c == '\r' || c == '\n';
}

enum : uint64_t { ONES = 0x0101010101010101ull, HIGHS = 0x8080808080808080ull };

// Nonzero when some byte of v is zero (exact as a truth value).
static uint64_t haszerobyte(uint64_t v)
{
    return (v - ONES) & ~v & HIGHS;
}

// Offset of the first byte in [p, n) that equals a or b, or n. Eight bytes
// are looked at a time, so that long lines read at close to the speed of
// copying them. The lowest flagged byte of a word is exact (borrows only
// run upwards), which gives the position directly on little-endian machines.
static int32_t findeither(const unsigned char *buf, int32_t p, int32_t n, unsigned char a,
                          unsigned char b)
{
    uint64_t wa = ONES * a, wb = ONES * b, v, hit;

    while (n - p >= 8) {
        memcpy(&v, buf + p, 8);
        hit = haszerobyte(v ^ wa) | haszerobyte(v ^ wb);
        if (hit) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            return p + (int32_t)(__builtin_ctzll(hit) >> 3);
#else
            break;
#endif
        }
        p += 8;
    }
    while (p < n && buf[p] != a && buf[p] != b)
        p++;
    return p;
}

// Moves the unfinished line [*s, *p) to the buffer's start and fills the
// rest from the list; the new count of buffered bytes.
static int32_t refill(FILE *list, unsigned char *buf, int32_t z, int32_t *s, int32_t *p,
                      int32_t n)
{
    memmove(buf, buf + *s, (size_t)(*p - *s));
    *p -= *s;
    n -= *s;
    *s = 0;
    return n + (int32_t)fread(buf + n, 1, (size_t)(z - n), list);
}

// Hands out the next line as [*linestart, *lineend), its terminator (one CR
// or LF) included. 0 when this is the last line, 1 when more may follow.
// A line longer than the buffer comes back in pieces of exactly size bytes.
int nextline(FILE *list, unsigned char *buf, uint32_t size, int32_t *bufused,
             int32_t *linestart, int32_t *lineend, unsigned char *lastcr)
{
    int32_t z = (int32_t)size, n = *bufused, p = *lineend, s;
    int ended = 0, cr = 0;

    if (*lastcr) {
        if (p < n) {
            p += buf[p] == '\n';
        } else {
            n = *bufused = (int32_t)fread(buf, 1, size, list);
            p = n > 0 && buf[0] == '\n';
        }
    }
    s = p;
    for (;;) {
        int32_t from;
        if (p == n) {
            if (n == z && s > 0)
                n = *bufused = refill(list, buf, z, &s, &p, n);
            if (p == n && n < z)
                ended = 1;
        }
        from = p;
        p = findeither(buf, p, n, '\r', '\n');
        if (p < n) {
            cr = buf[p] == '\r';
            p++;
            break;
        }
        if (from == n)
            break;
    }
    *linestart = s;
    *lineend = p;
    *lastcr = (unsigned char)cr;
    return !ended;
}

// End of a returned line's content: its terminator, if any, trimmed.
int32_t contentend(const unsigned char *buf, int32_t linestart, int32_t lineend)
{
    if (lineend > linestart && isbreak(buf[lineend - 1]))
        return lineend - 1;
    return lineend;
}

// Splits [start, end) into at most count items: count - 1 space-separated
// words, then the rest of the line with its outer spaces removed.
int32_t getlineitems(const unsigned char *text, int32_t start, int32_t end, itemspan *items,
                     int32_t count)
{
    int32_t n = 0, p = start;

    while (p < end && n + 1 < count) {
        int32_t word;
        while (p < end && text[p] == ' ')
            p++;
        word = p;
        p = findeither(text, p, end, ' ', ' ');
        if (p > word) {
            items[n].start = word;
            items[n].end = p;
            n++;
        }
    }
    while (p < end && text[p] == ' ')
        p++;
    while (end > p && text[end - 1] == ' ')
        end--;
    if (p < end) {
        items[n].start = p;
        items[n].end = end;
        n++;
    }
    return n;
}

// The decimal number in exactly length bytes: digits only, at most
// 2147483647 (a longer run would wrap into a small, wrong number); -1 when
// the text is not such a number, 0 when it is empty.
int32_t parsenum(const unsigned char *text, int32_t length)
{
    int64_t v = 0;
    int32_t i;

    for (i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        v = v * 10 + (text[i] - '0');
        if (v > INT32_MAX)
            v = (int64_t)INT32_MAX + 1; // stays too large without overflowing
    }
    return v > INT32_MAX ? -1 : (int32_t)v;
}
