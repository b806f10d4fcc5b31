// Image paths as people type and read them: UTF-8 on the command line and
// the terminal, Shift-JIS (code page 932, with its NEC and IBM extensions)
// in the image. The platform converts: iconv's CP932 on Linux, code page
// 932 through the wide-character API on Windows; no table is written here.
#include "sjisnames.h"

#include "volume/volume.h"

#include <cstring>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#ifdef _WIN32
// Converts len bytes of code page from to code page to through UTF-16; the
// length written, or -1 when a character has no form in to (or out is full).
static int32_t convert(UINT from, UINT to, const unsigned char *in, int32_t len,
                       unsigned char *out, int32_t size)
{
    WCHAR wide[SJISNAMEMAX];
    BOOL lost = FALSE;
    int n, m;

    if (len == 0)
        return 0;
    n = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, (LPCCH)in, len, wide, SJISNAMEMAX);
    if (n <= 0)
        return -1;
    m = WideCharToMultiByte(to, to == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, n, (LPSTR)out,
                            size, nullptr, to == CP_UTF8 ? nullptr : &lost);
    return m <= 0 || lost ? -1 : m;
}

int32_t utf8tosjis(const unsigned char *in, int32_t len, unsigned char *out, int32_t size)
{
    return convert(CP_UTF8, 932, in, len, out, size);
}

int32_t sjistoutf8(const unsigned char *in, int32_t len, unsigned char *out, int32_t size)
{
    return convert(932, CP_UTF8, in, len, out, size);
}
#else
// Converts len bytes with the descriptor cd: the length written, or -1 when
// a character has no form in the target (or out is full).
static int32_t convert(iconv_t cd, const unsigned char *in, int32_t len, unsigned char *out,
                       int32_t size)
{
    char *from = (char *)in, *to = (char *)out;
    size_t left = (size_t)len, room = (size_t)size;

    // A descriptor that could not be opened fails here too (EBADF).
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &from, &left, &to, &room) == (size_t)-1)
        return -1;
    return size - (int32_t)room;
}

int32_t utf8tosjis(const unsigned char *in, int32_t len, unsigned char *out, int32_t size)
{
    static iconv_t cd = iconv_open("CP932", "UTF-8");

    return convert(cd, in, len, out, size);
}

int32_t sjistoutf8(const unsigned char *in, int32_t len, unsigned char *out, int32_t size)
{
    static iconv_t cd = iconv_open("UTF-8", "CP932");

    return convert(cd, in, len, out, size);
}
#endif

// Shift-JIS bytes as UTF-8 into out (at least 4 * len bytes), a character
// at a time, so that a byte that is no character comes out as \xHH and the
// rest still reads: the length.
int32_t sjisshown(const unsigned char *s, int32_t len, unsigned char *out)
{
    static const char hex[] = "0123456789ABCDEF";
    int32_t i = 0, o = 0;

    while (i < len) {
        int32_t n = sjisleadbyte(s[i]) && i + 1 < len ? 2 : 1;
        int32_t m = sjistoutf8(s + i, n, out + o, 8);
        if (m < 0) {
            out[o++] = '\\';
            out[o++] = 'x';
            out[o++] = (unsigned char)hex[s[i] >> 4];
            out[o++] = (unsigned char)hex[s[i] & 15];
            i++;
            continue;
        }
        o += m;
        i += n;
    }
    return o;
}

// Writes Shift-JIS bytes as UTF-8, as sjisshown gives them.
void putsjis(FILE *out, const unsigned char *s, int32_t len)
{
    static unsigned char utf8[4 * SJISNAMEMAX + 8];

    fwrite(utf8, 1, (size_t)sjisshown(s, len < SJISNAMEMAX ? len : SJISNAMEMAX, utf8), out);
}
