// The include file goes out through one fixed buffer: a write per overflow
// and one at the end, not five small writes per line. Write errors stay on
// the stream, where the caller checks them once.
#include <cstring>

#include "outbuf.h"

// Appends length bytes of text; when they do not fit, the buffer is written
// full and the rest follows in pieces of at most size bytes, leaving it empty.
void bufferwrite(FILE *out, unsigned char *buf, int32_t size, const unsigned char *text,
                 int32_t length, int32_t *fill)
{
    int32_t pos = *fill;

    if (pos + length <= size) {
        memcpy(buf + pos, text, (size_t)length);
        *fill = pos + length;
        return;
    }
    while (length > 0) {
        int32_t n = size - pos < length ? size - pos : length;
        memcpy(buf + pos, text, (size_t)n);
        fwrite(buf, 1, (size_t)pos + (size_t)n, out);
        pos = 0;
        text += n;
        length -= n;
    }
    *fill = 0;
}

void bufferwritez(FILE *out, unsigned char *buf, int32_t size, const char *text, int32_t *fill)
{
    bufferwrite(out, buf, size, (const unsigned char *)text, (int32_t)strlen(text), fill);
}

// Writes value in decimal, NUL-terminated, into text (12 bytes at least);
// returns the count of characters before the NUL.
int32_t printnum(char *text, int32_t value)
{
    uint32_t v = value < 0 ? 0u - (uint32_t)value : (uint32_t)value;
    int32_t count = 0, j;

    do {
        text[count++] = (char)('0' + v % 10);
        v /= 10;
    } while (v > 0);
    if (value < 0)
        text[count++] = '-';
    text[count] = '\0';
    for (j = 0; j < count / 2; j++) {
        char c = text[j];
        text[j] = text[count - 1 - j];
        text[count - 1 - j] = c;
    }
    return count;
}
