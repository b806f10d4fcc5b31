// Image paths between UTF-8 (what people type and read) and Shift-JIS (code
// page 932, what the image stores), for the programs' -u option.
#ifndef TOOLS_SJISNAMES_H
#define TOOLS_SJISNAMES_H

#include <cstdint>
#include <cstdio>

enum { SJISNAMEMAX = 65536 }; // the longest path converted, in bytes

// The Shift-JIS form of len bytes of UTF-8 into out (size bytes, at least
// len: no path grows): its length, or -1 when a character has none.
int32_t utf8tosjis(const unsigned char *in, int32_t len, unsigned char *out, int32_t size);
// The UTF-8 form of len bytes of Shift-JIS into out (size bytes): its
// length, or -1 when a byte is no character (or out is full).
int32_t sjistoutf8(const unsigned char *in, int32_t len, unsigned char *out, int32_t size);
// Writes len bytes of Shift-JIS as UTF-8; a byte that is no character as \xHH.
int32_t sjisshown(const unsigned char *s, int32_t len, unsigned char *out);
void putsjis(FILE *out, const unsigned char *s, int32_t len);

#endif
