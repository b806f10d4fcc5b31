// Image names as host names. The rule is the same on every system, so that
// one image gives the same tree on Linux and on Windows:
// - a Shift-JIS character (two bytes, or one half-width katakana) is
//   written in UTF-8, case kept, ASCII letters and digits as they are;
// - a byte that is no character, a control byte, DEL, a space at either
//   end, a dot inside the name or the extension, and any of / \ : * ? " < >
//   | % is written %XX (its value in hex), % included so that the escape
//   can never be confused with a name;
// - a name that Windows reserves for a device (CON, PRN, AUX, NUL, COM1 to
//   COM9, LPT1 to LPT9, with any extension) has its first byte escaped;
// - the dot between name and extension stays, so that "." and ".." can
//   never come out; an entry with no name at all is %20.
#include <cstdio>
#include <cstring>

#include "hostnames.h"
#include "volume/volume.h"
#include "sjisnames.h"

static const char forbidden[] = "/\\:*?\"<>|%.";

// Appends byte c as %XX.
static int32_t escaped(int c, char *out, int32_t n)
{
    snprintf(out + n, 4, "%%%02X", c & 0xFF);
    return n + 3;
}

// Appends len bytes of one field of the name (the name or the extension),
// converted and escaped.
static int32_t putfield(const unsigned char *b, int32_t len, char *out, int32_t n)
{
    int32_t i = 0;

    while (i < len) {
        int c = b[i];
        int32_t k = sjisleadbyte(c) && i + 1 < len ? 2 : 1, m;
        if (k == 1 && c >= 0x20 && c < 0x7F) {
            int edge = c == ' ' && (i == 0 || i == len - 1);
            if (strchr(forbidden, c) || edge)
                n = escaped(c, out, n);
            else
                out[n++] = (char)c;
            i++;
            continue;
        }
        // A character outside ASCII: its UTF-8, or each byte escaped.
        m = c >= 0x80 ? sjistoutf8(b + i, k, (unsigned char *)out + n, HOSTNAMEMAX - 4 - n) : -1;
        if (m > 0) {
            n += m;
            i += k;
        } else {
            n = escaped(c, out, n);
            i++;
        }
    }
    return n;
}

// 1 when the name part (up to the first dot, any case) is a device name
// that Windows reserves.
static int reserved(const char *name)
{
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL"};
    char up[5];
    size_t n = strcspn(name, ".");

    if (n < 3 || n > 4)
        return 0;
    for (size_t i = 0; i < n; i++)
        up[i] = (char)(name[i] >= 'a' && name[i] <= 'z' ? name[i] - 32 : name[i]);
    up[n] = '\0';
    if (n == 4)
        return (memcmp(up, "COM", 3) == 0 || memcmp(up, "LPT", 3) == 0) && up[3] >= '1' &&
               up[3] <= '9';
    for (const char *d : devices)
        if (strcmp(up, d) == 0)
            return 1;
    return 0;
}

// Length of a space-padded field without its padding.
static int32_t fieldlength(const unsigned char *field, int32_t size)
{
    while (size > 0 && field[size - 1] == ' ')
        size--;
    return size;
}

// The host name of the entry in slot (32 bytes as the image stores it)
// into out (HOSTNAMEMAX bytes), NUL-terminated: its length.
int32_t hostname(const unsigned char *slot, char *out)
{
    unsigned char name[8];
    int32_t namelen = fieldlength(slot, 8), extlen = fieldlength(slot + 8, 3), n;

    memcpy(name, slot, 8);
    if (name[0] == KANJIE5) // how FAT stores a first byte 0xE5
        name[0] = DELETEDMARK;
    n = putfield(name, namelen, out, 0);
    if (extlen > 0) {
        out[n++] = '.';
        n = putfield(slot + 8, extlen, out, n);
    }
    out[n] = '\0';
    if (n == 0)
        return escaped(' ', out, 0);
    if (reserved(out)) {
        // The rest, its NUL with it, moves two bytes on to make room for the
        // escape, which ends in a NUL of its own over the rest's first byte.
        char first = out[0], keep;
        memmove(out + 3, out + 1, (size_t)n);
        keep = out[3];
        escaped(first, out, 0);
        out[3] = keep;
        n += 2;
    }
    return n;
}
