// Path lookup: backslash paths of 8.3 names, possibly holding Shift-JIS
// double-byte characters, resolved from the root through the directory cache.
#include <cstring>

#include "pathlookup.h"
#include "dirwalk.h"
#include "dircache.h"
#include "chainruns.h"

enum { BACKSLASH = 0x5C };

enum : uint64_t { ONES = 0x0101010101010101ull, HIGHS = 0x8080808080808080ull };

// The high bit of every zero byte of v, and possibly of bytes above one
// (borrows run upwards): nonzero exactly when v holds a zero byte, and its
// lowest set bit marks the first.
static uint64_t zerobytes(uint64_t v)
{
    return (v - ONES) & ~v & HIGHS;
}

// 1 when c leads a Shift-JIS double-byte character: the next byte is its
// trail byte, never a separator and never upper-cased.
int sjisleadbyte(int c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Offset of the first wanted byte in [from, end) that is not a trail byte, or -1.
int32_t findbyte(const unsigned char *p, int32_t from, int32_t end, int32_t wanted)
{
    uint64_t ww = ONES * (unsigned char)wanted, v;
    int trail = 0;
    int32_t i = from;

    // Words of plain ASCII without the wanted byte are passed whole: no byte
    // below 0x80 is a lead byte, so the trail flag stays clear across them.
    while (end - i >= 8) {
        memcpy(&v, p + i, 8);
        if ((v & HIGHS) || zerobytes(v ^ ww))
            break;
        i += 8;
    }
    for (; i < end; i++) {
        if (trail) {
            trail = 0;
            continue;
        }
        if (p[i] == wanted)
            return i;
        trail = sjisleadbyte(p[i]);
    }
    return -1;
}

int32_t nextslash(const unsigned char *p, int32_t from, int32_t end)
{
    return findbyte(p, from, end, BACKSLASH);
}

// Copies count bytes, a to z upper-cased except where they are trail bytes.
void nametext(const unsigned char *src, unsigned char *dest, int32_t count)
{
    int trail = 0;
    int32_t i;

    for (i = 0; i < count; i++) {
        unsigned char c = src[i];
        if (trail) {
            dest[i] = c;
            trail = 0;
            continue;
        }
        dest[i] = (c >= 'a' && c <= 'z') ? (unsigned char)(c - 0x20) : c;
        trail = sjisleadbyte(c);
    }
}

static int32_t smaller(int32_t a, int32_t b)
{
    return a < b ? a : b;
}

// The 11-byte space-padded 8.3 form of path[start, end).
void nameto83(const unsigned char *path, int32_t start, int32_t end, unsigned char *dest)
{
    int32_t d;

    memset(dest, ' ', 11);
    if (end <= start)
        return;
    for (d = end - 1; d > start; d--)
        if (path[d] == '.')
            break;
    if (d > start) {
        nametext(path + start, dest, smaller(d - start, 8));
        nametext(path + d + 1, dest + 8, smaller(end - d - 1, 3));
    } else if (path[start] != '.') {
        nametext(path + start, dest, smaller(end - start, 11));
    }
}

// 1 when the byte at i of path[start, end) is a space inside a field:
// neither first nor last of the base or the extension, where it would be
// taken for the padding.
static int innerspace(const unsigned char *path, int32_t start, int32_t end, int32_t i)
{
    return i > start && i + 1 < end && path[i - 1] != '.' && path[i + 1] != '.';
}

// 1 when path[start, end) may be created as an 8.3 name: a base of 1 to 8
// bytes, then at most one dot and an extension of up to 3; no control
// byte, 0x7F or "*+,/:;<=>?[\]| outside a Shift-JIS character (whose trail
// byte may be anything), a space only inside the base or the extension,
// and no lead byte without its trail byte.
int validname83(const unsigned char *path, int32_t start, int32_t end)
{
    int32_t i, dot = -1;

    for (i = start; i < end; i++) {
        unsigned char c = path[i];
        if (sjisleadbyte(c)) {
            if (++i == end)
                return 0;
        } else if (c == '.') {
            if (dot >= 0)
                return 0;
            dot = i;
        } else if (c == ' ' ? !innerspace(path, start, end, i)
                            : c < 0x20 || c == 0x7F || strchr("\"*+,/:;<=>?[\\]|", c)) {
            return 0;
        }
    }
    if (dot < 0)
        dot = end;
    return dot - start >= 1 && dot - start <= 8 && end - dot - 1 <= 3;
}

// The 11 bytes that a new entry for path[start, end) stores: the 8.3 form,
// with a first byte 0xE5 (a Shift-JIS lead byte) kept as 0x05, since 0xE5
// there marks a deleted slot.
void makename83(const unsigned char *path, int32_t start, int32_t end, unsigned char *dest)
{
    nameto83(path, start, end, dest);
    if (dest[0] == DELETEDMARK)
        dest[0] = KANJIE5;
}

// The comparison rule of nameequals, turned round: the walk over a field
// stops at the entry's first space or first difference, and matches when
// both hold a space there. So an entry matches exactly when it equals the
// wanted name on every byte up to and including the wanted name's first
// space in each field (on the whole field when it has none). That makes
// each slot one masked compare against a key built once per search.
struct namekey {
    uint64_t namemask, name, extmask, ext;
};

// Bytes as a value, first byte lowest, whatever the machine's byte order.
static uint64_t loadname(const unsigned char *p)
{
    return (uint64_t)p[0] | (uint64_t)p[1] << 8 | (uint64_t)p[2] << 16 |
           (uint64_t)p[3] << 24 | (uint64_t)p[4] << 32 | (uint64_t)p[5] << 40 |
           (uint64_t)p[6] << 48 | (uint64_t)p[7] << 56;
}

static uint64_t loadext(const unsigned char *p)
{
    return (uint64_t)p[0] | (uint64_t)p[1] << 8 | (uint64_t)p[2] << 16;
}

// Mask of the bytes up to and including the first that equals its byte in
// spaces; all bytes when none does.
static uint64_t fieldmask(uint64_t w, uint64_t spaces)
{
    uint64_t z = zerobytes(w ^ spaces);

    return z ? ((z & (0 - z)) << 1) - 1 : ~(uint64_t)0;
}

static void makekey(const unsigned char *w, namekey *k)
{
    uint64_t name = loadname(w), ext = loadext(w + 8);

    k->namemask = fieldmask(name, ONES * ' ');
    k->name = name & k->namemask;
    k->extmask = fieldmask(ext, 0x202020); // its zero top bytes equal any entry's
    k->ext = ext & k->extmask;
}

static int keymatches(const unsigned char *entry, const namekey *k)
{
    return (loadname(entry) & k->namemask) == k->name &&
           (loadext(entry + 8) & k->extmask) == k->ext;
}

int nameequals(const unsigned char *entry, const unsigned char *name)
{
    namekey k;

    makekey(name, &k);
    return keymatches(entry, &k);
}

// Index, counted from from, of the first 32-byte slot that has every required
// attribute bit, no forbidden one, and the wanted name; -1 if none has.
// Deleted slots never match: their clusters may belong to another file now.
int32_t getentryindex(const unsigned char *dir, int32_t from, int32_t end,
                      const unsigned char *name, int32_t required, int32_t forbidden)
{
    unsigned char wanted[11];
    namekey key;
    int32_t pos, index = 0;

    memcpy(wanted, name, 11);
    if (wanted[0] == DELETEDMARK)
        wanted[0] = KANJIE5;
    makekey(wanted, &key);
    for (pos = from; (int64_t)pos + 32 <= end; pos += 32, index++) {
        const unsigned char *slot = dir + pos;
        // The key's first byte is never DELETEDMARK, so no deleted slot matches.
        if (!keymatches(slot, &key))
            continue;
        if ((slot[11] & required) == required && (slot[11] & forbidden) == 0)
            return index;
    }
    return -1;
}

// Searches one cache row for a name (labels and long-name slots aside):
// the dirbuf offset of the entry, or -1.
int32_t searchrow(const diskprops *dp, int32_t row, const unsigned char *name,
                         int32_t required)
{
    const cacheddir *r = &dp->dirtable[row];
    int32_t index = getentryindex(dp->dirbuf, r->start, r->end, name, required, ATTRLABEL);

    return index < 0 ? -1 : r->start + 32 * index;
}

// The dirbuf offset of the entry that the path names, or -1; *dironly is
// set when the path ends in a backslash (its directory then loaded too).
static int32_t walkpath(FILE *image, diskprops *dp, const unsigned char *path, int32_t len,
                        int *dironly)
{
    unsigned char name[11];
    int32_t row = 0, from = 0, k, at;

    *dironly = 0;
    while ((k = nextslash(path, from, len)) >= 0) {
        nameto83(path, from, k, name);
        at = searchrow(dp, row, name, ATTRDIR);
        if (at < 0)
            return -1;
        row = getdirectoryentry(image, dp, entrycluster(dp, at));
        if (row < 0)
            return -1;
        from = k + 1;
        if (from == len) {
            *dironly = 1;
            return at;
        }
    }
    nameto83(path, from, len, name);
    return searchrow(dp, row, name, 0);
}

// Offset of the first component of path[0, len) made only of dots (".",
// "..", "..."): one names a directory's own "." or ".." slot, or nothing,
// never an entry to act on. -1 when there is none.
int32_t dotcomponent(const unsigned char *path, int32_t len)
{
    int32_t from = 0, k, i;

    while (from < len) {
        k = nextslash(path, from, len);
        if (k < 0)
            k = len;
        for (i = from; i < k && path[i] == '.'; i++)
            ;
        if (k > from && i == k)
            return from;
        from = k + 1;
    }
    return -1;
}

// The dirbuf offset of the directory entry that the path names, or -1.
// A path through a dot component names none: acting on a "." or ".." slot
// would give a directory's clusters a second name or free its parent's.
int32_t findslot(FILE *image, diskprops *dp, const unsigned char *path, int32_t len)
{
    int dironly;

    if (dotcomponent(path, len) >= 0)
        return -1;
    return walkpath(image, dp, path, len, &dironly);
}

// First cluster of what the path names, or -1; *attr gets the entry's
// attribute byte (ATTRDIR for a path that ends in a backslash).
int32_t findentry(FILE *image, diskprops *dp, const unsigned char *path, int32_t len,
                  int32_t *attr)
{
    int dironly;
    int32_t at = walkpath(image, dp, path, len, &dironly);

    if (at < 0)
        return -1;
    *attr = dironly ? (int32_t)ATTRDIR : entryattr(dp, at);
    return entrycluster(dp, at);
}

int32_t getfilecluster(FILE *image, diskprops *dp, const unsigned char *path, int32_t len)
{
    int32_t attr;

    return findentry(image, dp, path, len, &attr);
}

// First sector, counted from the boot sector, of what the path names; or -1.
int32_t getfilesector(FILE *image, diskprops *dp, const unsigned char *path, int32_t len)
{
    int32_t cluster = getfilecluster(image, dp, path, len);

    if (cluster == -1)
        return -1;
    return clustersector(dp, cluster);
}
