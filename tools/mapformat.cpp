// The sector map's text. The extents go straight into the stdio stream, so
// no extent list is too long; a path is assembled in a buffer that holds
// the deepest the walk can go, so that it can be converted for -u.
#include <cstring>

#include "mapformat.h"
#include "listfile/listfile.h"
#include "sjisnames.h"

enum { NAMEFIELD = 8, EXTFIELD = 3 };
enum { SECTORWIDTH = 5, COUNTWIDTH = 5, BYTESWIDTH = 8, EXTENTSWIDTH = 11 };

static const char PASTIMAGEMARK[] = "!pastimage";
static const char NOTINIMAGEMARK[] = "!notinimage";

// Writes value in decimal, right-aligned in width; the count of bytes written.
int32_t putnumber(FILE *out, int64_t value, int32_t width)
{
    char text[24];
    int32_t n = 0, count;
    uint64_t v = value < 0 ? 0 - (uint64_t)value : (uint64_t)value;

    do {
        text[sizeof text - 1 - n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v > 0);
    if (value < 0)
        text[sizeof text - 1 - n++] = '-';
    for (count = n; count < width; count++)
        putc(' ', out);
    fwrite(text + sizeof text - n, 1, (size_t)n, out);
    return count;
}

// Length of a space-padded field without its padding.
static int32_t trimmed(const unsigned char *field, int32_t size)
{
    while (size > 0 && field[size - 1] == ' ')
        size--;
    return size;
}

// The slot's 8.3 name as NAME.EXT (NAME when the extension is blank) into
// buf (12 bytes), bytes as stored but for the 0x05 that stands for a first
// byte 0xE5; its length.
static int32_t slotname(const unsigned char *slot, unsigned char *buf)
{
    int32_t name = trimmed(slot, NAMEFIELD), ext = trimmed(slot + NAMEFIELD, EXTFIELD);

    memcpy(buf, slot, (size_t)name);
    if (name > 0 && slot[0] == KANJIE5)
        buf[0] = DELETEDMARK;
    if (ext == 0)
        return name;
    buf[name] = '.';
    memcpy(buf + name + 1, slot + NAMEFIELD, (size_t)ext);
    return name + 1 + ext;
}

// The path whose entries are at slots[0], slots[1]... slots[n - 1] (the
// entry itself last) into path (13 bytes an entry), backslashes between,
// one after a directory, as the image stores the names: its length.
int32_t slotspath(const diskprops *dp, const int32_t *slots, int32_t n, unsigned char *path)
{
    int32_t i, len = 0;

    for (i = 0; i < n; i++) {
        len += slotname(entryname(dp, slots[i]), path + len);
        if (i + 1 < n || entryisdir(dp, slots[i]))
            path[len++] = '\\';
    }
    return len;
}

// The entries of the image path of the entry at slot into slots (at most
// most of them), the root's child first, found by rowslot (by cache row:
// the entry that names it, as a walk found it): their count.
int32_t slotancestry(const diskprops *dp, const int32_t *rowslot, int32_t slot, int32_t *slots,
                     int32_t most)
{
    int32_t n = 0, row;

    slots[n++] = slot;
    while (n < most && (row = rowofslot(dp, slots[n - 1])) > 0)
        slots[n++] = rowslot[row];
    for (int32_t i = 0; i < n / 2; i++) {
        int32_t s = slots[i];
        slots[i] = slots[n - 1 - i];
        slots[n - 1 - i] = s;
    }
    return n;
}

// Writes len bytes of an image path, as UTF-8 when utf8 is set, else as
// the image stores them; quoted as the list files quote (listquote.cpp)
// when the role (ITEMSHOWN for a person, ITEMPATH for a list's first item)
// cannot carry them plain, so that no byte of a name drives a terminal or
// splits a line.
void putimagepath(FILE *out, const unsigned char *path, int32_t len, int utf8, int role)
{
    static unsigned char text[4 * SJISNAMEMAX + 8];

    if (utf8) {
        len = sjisshown(path, len < SJISNAMEMAX ? len : SJISNAMEMAX, text);
        path = text;
    }
    putlistitem(out, path, len, !listitemplain(path, len, role));
}

// Writes that path as putimagepath writes one for role.
void putslotspath(FILE *out, const diskprops *dp, const int32_t *slots, int32_t n, int utf8,
                  int role)
{
    // A name and its backslash for every frame a walk can hold.
    static unsigned char path[(CLUSTERSLOTS + 2) * 13];
    int32_t len = slotspath(dp, slots, n <= CLUSTERSLOTS + 1 ? n : CLUSTERSLOTS + 1, path);

    putimagepath(out, path, len, utf8, role);
}

// The slots of the walk's path to the entry at slot into slots: their count.
static int32_t walkslots(const dirwalk *w, int32_t slot, int32_t *slots)
{
    for (int32_t i = 1; i <= w->depth; i++)
        slots[i - 1] = w->frames[i].slot;
    slots[w->depth] = slot;
    return w->depth + 1;
}

// Writes the path of the entry at slot, reached by the walk: its ancestors'
// names and its own, as putslotspath writes them for a person.
void putwalkpath(FILE *out, const diskprops *dp, const dirwalk *w, int32_t slot, int utf8)
{
    static int32_t slots[CLUSTERSLOTS + 1];

    putslotspath(out, dp, slots, walkslots(w, slot, slots), utf8, ITEMSHOWN);
}

// Writes given (a path the user gave, of a directory), a backslash unless
// it ends in one, and the path below it of the entry at slot reached by
// the walk from there: as one path, quoted as a whole where it must be.
void putbelowpath(FILE *out, const char *given, const diskprops *dp, const dirwalk *w,
                  int32_t slot, int utf8)
{
    enum { BELOWMAX = (CLUSTERSLOTS + 2) * 13 };
    static unsigned char below[BELOWMAX], path[SJISNAMEMAX + 4 * BELOWMAX + 8];
    static int32_t slots[CLUSTERSLOTS + 1];
    int32_t n = (int32_t)strlen(given) < SJISNAMEMAX ? (int32_t)strlen(given) : SJISNAMEMAX - 1;
    int32_t len = slotspath(dp, slots, walkslots(w, slot, slots), below);

    memcpy(path, given, (size_t)n);
    if (n == 0 || path[n - 1] != '\\')
        path[n++] = '\\';
    // The part from the image is converted; what the user typed is as typed.
    if (utf8)
        len = sjisshown(below, len, path + n);
    else
        memcpy(path + n, below, (size_t)len);
    len += n;
    putlistitem(out, path, len, !listitemplain(path, len, ITEMSHOWN));
}

// Clusters that size bytes fill.
static int64_t clustersfor(const diskprops *dp, uint32_t size)
{
    return dp->clusterbytes > 0 ? ((int64_t)size + dp->clusterbytes - 1) / dp->clusterbytes : 0;
}

// Walks the chain of the entry at slot once, counting runs and clusters and
// finding its damage: a directory needs a cluster (0 is an empty file's
// mark, not a directory's), a file as many as its size fills, and every
// cluster must lie inside the image file's imagebytes.
void summarizechain(const diskprops *dp, chainwalk *cw, int32_t slot, int64_t imagebytes,
                    chainsummary *s)
{
    int32_t first = entrycluster(dp, slot), a, b;
    int isdir = entryisdir(dp, slot);

    s->runs = 0;
    s->pastimage = 0;
    startchain(cw, first);
    while (nextrun(dp, cw, &a, &b)) {
        s->runs++;
        if (sectornotheld(dp, clusteroffset(dp, a), (int64_t)(b - a + 1) * dp->clusterbytes,
                          imagebytes) >= 0)
            s->pastimage = 1;
    }
    s->clusters = cw->clusters;
    s->damage = cw->damage;
    s->badcluster = cw->badcluster;
    s->needed = isdir ? 0 : clustersfor(dp, entrysize(dp, slot));
    if (isdir && first == 0) {
        s->damage = CHAINOUTSIDE;
        s->badcluster = 0;
    } else if (s->damage == CHAINSOUND && s->clusters < s->needed) {
        s->damage = MAPSHORT;
    }
}

// The marker that ends a damaged chain's extents.
static const char *damagemark(int32_t damage)
{
    switch (damage) {
    case CHAINLOOP:
        return "!loop";
    case CHAINOUTSIDE:
        return "!outside";
    case CHAINPASTEND:
        return "!pastend";
    case CHAINSHARED:
        return "!shared";
    case CHAINBADMARK:
        return "!badcluster";
    case MAPSHORT:
        return "!short";
    default:
        return "";
    }
}

// Writes one sector run, A-B or A alone; the count of bytes written.
static int32_t putrun(FILE *out, const diskprops *dp, int32_t a, int32_t b)
{
    int32_t first = clustersector(dp, a), last = clustersector(dp, b) + dp->sectorspercluster - 1;
    int32_t n = putnumber(out, first, 0);

    if (last == first)
        return n;
    putc('-', out);
    return n + 1 + putnumber(out, last, 0);
}

// Writes the runs of sectors of the chain that summarizechain just walked,
// joined by commas, then its damage marker and walkmark ("-" for no cluster
// at all); the count of bytes written.
int32_t putextents(FILE *out, const diskprops *dp, chainwalk *cw, int32_t first,
                   const chainsummary *s, const char *walkmark)
{
    int32_t a, b, n = 0;
    const char *mark = damagemark(s->damage);

    rewalkchain(cw, first);
    while (nextrun(dp, cw, &a, &b)) {
        if (n > 0) {
            putc(',', out);
            n++;
        }
        n += putrun(out, dp, a, b);
    }
    // "-" for a chain with no cluster and nothing to say of it.
    if (n == 0 && !mark[0] && !walkmark[0]) {
        putc('-', out);
        return 1;
    }
    fputs(mark, out);
    // A cut-short file, or sectors its container lacks.
    const char *held = !s->pastimage ? "" : mappedimage(dp) ? NOTINIMAGEMARK : PASTIMAGEMARK;
    fputs(held, out);
    fputs(walkmark, out);
    return n + (int32_t)strlen(mark) + (int32_t)strlen(held) +
           (int32_t)strlen(walkmark);
}

// Writes why the chain is damaged, for a message.
void putdamage(FILE *out, const chainsummary *s)
{
    if (s->damage == CHAINLOOP)
        fprintf(out, "it comes back to cluster %d", s->badcluster);
    else if (s->damage == CHAINOUTSIDE)
        fprintf(out, "cluster %d is outside 2 to 4079", s->badcluster);
    else if (s->damage == CHAINPASTEND)
        fprintf(out, "cluster %d lies past the end of the volume or of its FAT", s->badcluster);
    else if (s->damage == CHAINSHARED)
        fprintf(out, "cluster %d is in the chain of an entry listed before", s->badcluster);
    else if (s->damage == CHAINBADMARK)
        fprintf(out, "cluster %d is marked bad in the FAT", s->badcluster);
    else {
        fprintf(out, "%d clusters where its size needs ", s->clusters);
        putnumber(out, s->needed, 0);
    }
}

// Writes the first three fields: SECTOR, SECTORS and BYTES.
static void putcounts(FILE *out, const diskprops *dp, int32_t slot, const chainsummary *s)
{
    int32_t first = entrycluster(dp, slot);
    int64_t size = entrysize(dp, slot);

    if (first == 0)
        fprintf(out, "%*s", SECTORWIDTH, "-");
    else
        putnumber(out, clustersector(dp, first), SECTORWIDTH);
    putc(' ', out);
    if (entryisdir(dp, slot)) {
        putnumber(out, (int64_t)s->clusters * dp->sectorspercluster, COUNTWIDTH);
        fprintf(out, " %*s ", BYTESWIDTH, "-");
        return;
    }
    putnumber(out, (size + dp->bytespersector - 1) / dp->bytespersector, COUNTWIDTH);
    putc(' ', out);
    putnumber(out, size, BYTESWIDTH);
    putc(' ', out);
}

// Writes the four fields before the path of the entry at slot, whose chain
// summarizechain has just walked into s: SECTOR SECTORS BYTES EXTENTS, each
// followed by a space.
void putmapfields(FILE *out, const diskprops *dp, chainwalk *cw, int32_t slot,
                  const chainsummary *s, const char *walkmark)
{
    int32_t n;

    putcounts(out, dp, slot, s);
    n = putextents(out, dp, cw, entrycluster(dp, slot), s, walkmark);
    for (; n < EXTENTSWIDTH; n++)
        putc(' ', out);
    putc(' ', out);
}

// Writes the entry's attributes, a letter each that is set in DASHR order
// (directory, archive, system, hidden, read-only) and '-' for each that is
// not, then its modification date and time: the long form's three fields,
// each followed by a space.
void putlongfields(FILE *out, const diskprops *dp, int32_t slot)
{
    static const struct {
        int bit;
        char letter;
    } attrs[] = {{ATTRDIR, 'D'}, {ATTRARCHIVE, 'A'}, {ATTRSYSTEM, 'S'}, {ATTRHIDDEN, 'H'},
                 {ATTRREADONLY, 'R'}};
    int32_t attr = entryattr(dp, slot);
    fatclock c;

    for (const auto &a : attrs)
        putc(attr & a.bit ? a.letter : '-', out);
    unpackfattime(dp->dirbuf + slot, &c);
    fprintf(out, " %04d-%02d-%02d %02d:%02d:%02d ", c.year, c.month, c.day, c.hour, c.minute,
            c.second);
}

// Writes the entry's VFAT long name, when it has one: two spaces, then the
// name in UTF-8 between double quotes, quoted as a list item is.
void putlongname(FILE *out, const diskprops *dp, int32_t slot)
{
    static unsigned char name[LONGNAMEMAX];
    int32_t n = longnametext(dp, slot, name);

    if (n < 0)
        return;
    fputs("  ", out);
    putlistitem(out, name, n, 1);
}
