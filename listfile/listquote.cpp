// Items of a list written so that the list reader gives them back: plain
// where they can be, else between double quotes with %HH for every byte
// that a plain item or a terminal cannot carry. The same quoting shows a
// name from an image on a terminal, so that no byte of it drives one.
#include "listfile.h"

// 1 when s (len bytes) can be written as it is in the role given:
// ITEMPATH, a list's first item (no space, which would split it);
// ITEMFILE, its last (the rest of the line: no space at either end);
// ITEMSHOWN, a name on a terminal. None holds a byte below 0x20, 0x7F or,
// where it may start an item, a double quote.
int listitemplain(const unsigned char *s, int32_t len, int role)
{
    if (len == 0)
        return role == ITEMSHOWN;
    if (role == ITEMFILE && (s[0] == ' ' || s[len - 1] == ' ' || s[len - 1] == '\t'))
        return 0;
    for (int32_t i = 0; i < len; i++) {
        if (s[i] < 0x20 || s[i] == 0x7F || (s[i] == '"' && role != ITEMFILE) ||
            (s[i] == ' ' && role == ITEMPATH))
            return 0;
    }
    return 1;
}

// Writes s (len bytes): as it is, or when quoted between double quotes,
// a control byte, 0x7F, a double quote and a percent sign as %HH.
void putlistitem(FILE *out, const unsigned char *s, int32_t len, int quoted)
{
    static const char hex[] = "0123456789ABCDEF";

    if (!quoted) {
        fwrite(s, 1, (size_t)len, out);
        return;
    }
    putc('"', out);
    for (int32_t i = 0; i < len; i++) {
        if (s[i] >= 0x20 && s[i] != 0x7F && s[i] != '"' && s[i] != '%') {
            putc(s[i], out);
            continue;
        }
        putc('%', out);
        putc(hex[s[i] >> 4], out);
        putc(hex[s[i] & 15], out);
    }
    putc('"', out);
}

// Writes a name from an image for a person to read: as it is, or quoted
// when it holds a byte that would drive a terminal.
void putshownname(FILE *out, const unsigned char *s, int32_t len)
{
    putlistitem(out, s, len, !listitemplain(s, len, ITEMSHOWN));
}
