// Fuzz target: the host name an image's 8.3 name becomes (sectget -a). Any
// 11 bytes give a name that stays in its folder on every system: no
// separator, no "." or "..", no control byte, none of : * ? " < > |, no
// trailing dot or space, no device name Windows keeps, valid UTF-8, short
// enough; and the same bytes give the same name.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tools/hostnames.h"

static void check(bool ok)
{
    if (!ok)
        abort();
}

// 1 when s is well-formed UTF-8 (no overlong form, no surrogate).
static bool utf8(const unsigned char *s, size_t n)
{
    for (size_t i = 0; i < n;) {
        unsigned c = s[i];
        size_t k = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (k == 0 || i + k > n || (k == 2 && c < 0xC2))
            return false;
        for (size_t j = 1; j < k; j++)
            if ((s[i + j] & 0xC0) != 0x80)
                return false;
        if (k == 3 && ((c == 0xE0 && s[i + 1] < 0xA0) || (c == 0xED && s[i + 1] >= 0xA0)))
            return false;
        i += k;
    }
    return true;
}

static bool reserved(const char *name)
{
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL"};
    char up[8] = {0};
    size_t n = strcspn(name, ".");

    for (size_t i = 0; i < n && i < 7; i++)
        up[i] = (char)(name[i] >= 'a' && name[i] <= 'z' ? name[i] - 32 : name[i]);
    for (const char *d : devices)
        if (n == 3 && strcmp(up, d) == 0)
            return true;
    return n == 4 && (memcmp(up, "COM", 3) == 0 || memcmp(up, "LPT", 3) == 0) && up[3] >= '1' &&
           up[3] <= '9';
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    unsigned char slot[32];
    char name[HOSTNAMEMAX], again[HOSTNAMEMAX];
    int32_t n;

    memset(slot, ' ', sizeof slot);
    memcpy(slot, data, size < 11 ? size : 11);
    n = hostname(slot, name);
    check(n > 0 && n < HOSTNAMEMAX && (size_t)n == strlen(name));
    check(strcmp(name, ".") != 0 && strcmp(name, "..") != 0);
    for (int32_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)name[i];
        check(c >= 0x20 && c != 0x7F && !strchr("/\\:*?\"<>|", c));
    }
    check(name[n - 1] != '.' && name[n - 1] != ' ');
    check(!reserved(name));
    check(utf8((const unsigned char *)name, (size_t)n));
    check(hostname(slot, again) == n && memcmp(name, again, (size_t)n) == 0);
    return 0;
}
