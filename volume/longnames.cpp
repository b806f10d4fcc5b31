// VFAT long names: the run of slots (attribute 0x0F) that Windows, Linux
// and mtools lay just before an entry, the last part of the name first,
// each carrying the checksum of the entry's 8.3 name. A long name belongs
// to its entry only while that checksum matches: an entry removed or
// renamed takes its long-name slots with it, or they would be left behind
// as orphans, or name another file.
#include "longnames.h"

enum { LONGNAMEATTR = 0x0F, LASTPART = 0x40, PARTCHARS = 13, MOSTPARTS = 20 };

// The checksum a long name keeps of the 8.3 name in its entry's 11 bytes.
static int namechecksum(const unsigned char *name)
{
    int sum = 0;

    for (int i = 0; i < 11; i++)
        sum = (((sum & 1) << 7) | ((sum & 0xFE) >> 1)) + name[i];
    return sum & 0xFF;
}

// How many long-name slots stand just before the entry at dirbuf offset
// slot, in the same directory, and are its own: numbered 1, 2... back from
// it, the farthest marked last, every one carrying its checksum. 0 when
// there is no such whole run.
int32_t longnameparts(const diskprops *dp, int32_t slot)
{
    int32_t row = rowofslot(dp, slot), n = 0, at;
    int sum = namechecksum(dp->dirbuf + slot);

    if (row < 0)
        return 0;
    for (at = slot - 32; at >= dp->dirtable[row].start && n < MOSTPARTS; at -= 32) {
        const unsigned char *s = dp->dirbuf + at;
        if (s[11] != LONGNAMEATTR || s[0] == DELETEDMARK || s[13] != sum ||
            (s[0] & 0x3F) != n + 1)
            return 0;
        n++;
        if (s[0] & LASTPART)
            return n;
    }
    return 0;
}

// Marks the long-name slots of the entry at slot deleted, in the plan p;
// 1 on success (also when it has none).
int droplongname(diskprops *dp, putplan *p, int32_t slot)
{
    int32_t n = longnameparts(dp, slot), row = rowofslot(dp, slot);

    for (int32_t k = 1; k <= n; k++) {
        int32_t at = slot - 32 * k;
        dp->dirbuf[at] = DELETEDMARK;
        if (!markslot(dp, p, row, at))
            return 0;
    }
    return 1;
}

// Appends the UTF-8 form of the code point c to out at *o.
static void pututf8(unsigned char *out, int32_t *o, uint32_t c)
{
    if (c < 0x80) {
        out[(*o)++] = (unsigned char)c;
    } else if (c < 0x800) {
        out[(*o)++] = (unsigned char)(0xC0 | c >> 6);
        out[(*o)++] = (unsigned char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out[(*o)++] = (unsigned char)(0xE0 | c >> 12);
        out[(*o)++] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        out[(*o)++] = (unsigned char)(0x80 | (c & 0x3F));
    } else {
        out[(*o)++] = (unsigned char)(0xF0 | c >> 18);
        out[(*o)++] = (unsigned char)(0x80 | (c >> 12 & 0x3F));
        out[(*o)++] = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        out[(*o)++] = (unsigned char)(0x80 | (c & 0x3F));
    }
}

// The UTF-16 unit k (from 0) of a long-name slot.
static uint32_t partunit(const unsigned char *s, int k)
{
    static const unsigned char at[PARTCHARS] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

    return (uint32_t)getu16l(s + at[k]);
}

// The long name of the entry at slot in UTF-8 into out (LONGNAMEMAX
// bytes; a unit that is no character is U+FFFD): its length, or -1 when
// the entry has none.
int32_t longnametext(const diskprops *dp, int32_t slot, unsigned char *out)
{
    int32_t n = longnameparts(dp, slot), o = 0;
    uint32_t high = 0;

    if (n == 0)
        return -1;
    for (int32_t k = 1; k <= n; k++) {
        const unsigned char *s = dp->dirbuf + (slot - 32 * k);
        for (int i = 0; i < PARTCHARS; i++) {
            uint32_t u = partunit(s, i);
            if (u == 0)
                return o;
            if (u >= 0xD800 && u < 0xDC00) {
                if (high)
                    pututf8(out, &o, 0xFFFD);
                high = u;
                continue;
            }
            if (u >= 0xDC00 && u < 0xE000)
                u = high ? 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00) : 0xFFFD;
            else if (high)
                pututf8(out, &o, 0xFFFD);
            high = 0;
            pututf8(out, &o, u);
        }
    }
    if (high)
        pututf8(out, &o, 0xFFFD);
    return o;
}
