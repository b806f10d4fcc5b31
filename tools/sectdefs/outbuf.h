// Buffered output for the include file, and signed decimal text.
#ifndef SECTDEFS_OUTBUF_H
#define SECTDEFS_OUTBUF_H

#include <cstdint>
#include <cstdio>

enum { OUTBUFSIZE = 16384, NUMTEXTSIZE = 12 };

void bufferwrite(FILE *out, unsigned char *buf, int32_t size, const unsigned char *text,
                 int32_t length, int32_t *fill);
void bufferwritez(FILE *out, unsigned char *buf, int32_t size, const char *text, int32_t *fill);
int32_t printnum(char *text, int32_t value);

#endif
