// sectmap --svg: the picture as an SVG file. Tracks are rows (cylinder 0
// head 0, head 1, cylinder 1...), sectors are cells, each file in its own
// colour (one that stands out for a file in more than one run), the legend
// beside the grid. Every cell carries data-sector (its logical sector) and a
// <title> that says what it holds, which a browser shows on hovering.
#include "diskmap.h"

#include <cstring>

#include "tools/mapformat.h"
#include "tools/sjisnames.h"

enum { CELLW = 12, CELLH = 6, LEFT = 40, TOP = 30, LINEH = 11, GAP = 24 };
#define CELLWTEXT "12"
#define CELLHTEXT "6"

static const char *const fills[] = {"#4e79a7", "#59a14f", "#76b7b2", "#edc948", "#b07aa1",
                                    "#9c755f", "#f28e2b", "#86bcb6", "#8cd17d", "#b6992d",
                                    "#499894", "#d4a6c8"};
enum { FILLS = sizeof fills / sizeof fills[0] };
static const char *const systemfills[HOLDKINDS] = {
    "#202020", "#404040", "#606060", "#909090", "#eeeeee", "#000000",
    "#ffd700", "#ff00ff", "#d8d8d8", "#c0c0c0", ""};
static const char *const systemnames[HOLDKINDS] = {
    "boot sector", "reserved", "FAT", "root directory", "free", "bad cluster",
    "lost (the FAT gives it to no file)", "not in the image", "past the last whole cluster",
    "another file or directory", ""};
static const char *const splitfill = "#e15759";

enum { XMLPATHMAX = (CLUSTERSLOTS + 2) * 13 * 6 }; // a byte: at most "&quot;"

// len bytes of Shift-JIS as UTF-8 text for XML into out: a byte that is no
// character as \xHH, and & < > " escaped. Its length.
static int32_t xmltext(const unsigned char *s, int32_t len, char *out)
{
    int32_t o = 0;

    for (int32_t i = 0; i < len;) {
        int32_t n = sjisleadbyte(s[i]) && i + 1 < len ? 2 : 1, m;
        if (s[i] < 0x80 && s[i] >= 0x20) {
            const char *e = s[i] == '&' ? "&amp;" : s[i] == '<' ? "&lt;" : s[i] == '>' ? "&gt;"
                            : s[i] == '"' ? "&quot;" : nullptr;
            if (e)
                o += (int32_t)strlen(strncpy(out + o, e, 7));
            else
                out[o++] = (char)s[i];
            i++;
            continue;
        }
        m = s[i] >= 0x80 ? sjistoutf8(s + i, n, (unsigned char *)out + o, 8) : -1;
        if (m > 0) {
            o += m;
            i += n;
        } else {
            o += snprintf(out + o, 5, "\\x%02X", s[i]);
            i++;
        }
    }
    return o;
}

// Writes len bytes of Shift-JIS as XML text.
static void putxml(FILE *out, const unsigned char *s, int32_t len)
{
    static char text[XMLPATHMAX];

    fwrite(text, 1, (size_t)xmltext(s, len > XMLPATHMAX / 6 ? XMLPATHMAX / 6 : len, text), out);
}

// The row of the cache that holds slot: the last one asked, when it holds it
// (a file's neighbours share its directory), else found.
static int32_t slotrow(const diskprops *dp, int32_t slot)
{
    static int32_t last = -1;

    if (last < 0 || last >= dp->dircount || slot < dp->dirtable[last].start ||
        slot >= dp->dirtable[last].end)
        last = rowofslot(dp, slot);
    return last;
}

// One cell's text, built whole and written in one go: some 3000 of them.
struct celltext {
    char text[XMLPATHMAX + 256];
    int32_t n;
};

static void add(celltext *c, const char *s, int32_t len)
{
    memcpy(c->text + c->n, s, (size_t)len);
    c->n += len;
}

static void adds(celltext *c, const char *s)
{
    add(c, s, (int32_t)strlen(s));
}

static void addnum(celltext *c, int64_t v)
{
    char digits[24];
    int32_t k = 0;

    do
        digits[sizeof digits - 1 - k++] = (char)('0' + v % 10);
    while ((v /= 10) > 0);
    add(c, digits + sizeof digits - k, k);
}

// Adds the image path of the entry at slot, as XML text. The cells of a
// file, and the files of a directory, follow each other: the directory's
// path is made once and kept for the next entry of that directory.
static void addpath(celltext *c, const mapview *v, const diskpicture *p, int32_t slot)
{
    static int32_t slots[CLUSTERSLOTS + 2], lastrow = -2, prefixlen;
    static unsigned char path[(CLUSTERSLOTS + 2) * 13];
    static char prefix[XMLPATHMAX], name[13 * 6];
    int32_t row = slotrow(v->dp, slot), n;

    if (row != lastrow) {
        // The directory's own entry, and its ancestors', from the root's child.
        n = row > 0 ? slotancestry(v->dp, p->rowslot, p->rowslot[row], slots, CLUSTERSLOTS + 1)
                    : 0;
        prefixlen = xmltext(path, slotspath(v->dp, slots, n, path), prefix);
        lastrow = row;
    }
    add(c, prefix, prefixlen);
    add(c, name, xmltext(path, slotspath(v->dp, &slot, 1, path), name));
}

// Adds what sector holds: the path and byte range of a file's or
// directory's sector, else the area.
static void addholding(celltext *c, const mapview *v, const diskpicture *p, int32_t sector,
                       int32_t kind, int32_t cluster)
{
    const diskprops *dp = v->dp;
    int64_t at;

    if (kind != HOLDSENTRY && kind != HOLDSOTHER) {
        adds(c, systemnames[kind]);
        return;
    }
    at = (int64_t)p->place[cluster] * dp->clusterbytes +
         (int64_t)(sector - clustersector(dp, cluster)) * dp->bytespersector;
    addpath(c, v, p, p->slot[cluster]);
    adds(c, ", bytes ");
    addnum(c, at);
    adds(c, " to ");
    addnum(c, at + dp->bytespersector - 1);
}

// Adds the sector's number and what it holds, for its title.
static void addtitle(celltext *c, const mapview *v, const diskpicture *p, int32_t sector,
                     int32_t kind, int32_t cluster)
{
    addnum(c, sector);
    adds(c, ": ");
    addholding(c, v, p, sector, kind, cluster);
}

// A cell's title: its sector's, or for a cell of several sectors, their
// range and what the one it shows holds.
static void addcelltitle(celltext *c, const mapview *v, const diskpicture *p, int32_t cell,
                         int32_t sector, int32_t kind, int32_t cluster)
{
    int32_t first = cell * p->per, last = first + p->per - 1;

    if (p->per == 1) {
        addtitle(c, v, p, sector, kind, cluster);
        return;
    }
    if (last >= v->dp->totalsectors)
        last = v->dp->totalsectors - 1;
    addnum(c, first);
    adds(c, " to ");
    addnum(c, last);
    adds(c, ": sector ");
    addtitle(c, v, p, sector, kind, cluster);
}

// The cells: a rect a cell, in the rows of its track (or of 64 cells),
// under the cells' numbers in a row.
static void putcells(FILE *out, const mapview *v, diskpicture *p)
{
    static celltext c;

    for (int32_t r = 0; r < p->spt; r++)
        fprintf(out, "<text x=\"%d\" y=\"%d\" class=\"c\">%d</text>\n",
                LEFT + r * CELLW + CELLW - 2, TOP - 2, r + 1);
    for (int32_t s = 0; s < p->cells; s++) {
        int32_t track = s / p->spt, entry, cluster, sector;
        int32_t kind = cellholds(v, p, s, &entry, &cluster, &sector);
        const char *fill = kind != HOLDSENTRY ? systemfills[kind]
                           : p->split[cluster] ? splitfill
                                               : fills[entry % FILLS];
        if (s % p->spt == 0 && track % p->heads == 0)
            fprintf(out, "<text x=\"%d\" y=\"%d\" class=\"c\">%d</text>\n", LEFT - 4,
                    TOP + track * CELLH + CELLH - 1,
                    p->per > 1 ? track * p->spt * p->per : track / p->heads);
        c.n = 0;
        adds(&c, "<rect x=\"");
        addnum(&c, LEFT + (s % p->spt) * CELLW);
        adds(&c, "\" y=\"");
        addnum(&c, TOP + track * CELLH);
        adds(&c, "\" width=\"" CELLWTEXT "\" height=\"" CELLHTEXT "\" fill=\"");
        adds(&c, fill);
        adds(&c, "\" data-sector=\"");
        addnum(&c, sector);
        adds(&c, "\"><title>");
        addcelltitle(&c, v, p, s, sector, kind, cluster);
        adds(&c, "</title></rect>\n");
        fwrite(c.text, 1, (size_t)c.n, out);
    }
}

// Writes the image path of the entry at slot, for XML.
static void putentrypath(FILE *out, const mapview *v, const diskpicture *p, int32_t slot)
{
    static celltext c;

    c.n = 0;
    addpath(&c, v, p, slot);
    fwrite(c.text, 1, (size_t)c.n, out);
}

// A legend line's swatch and the start of its text.
static void putswatch(FILE *out, int32_t x, int32_t y, const char *fill, char symbol)
{
    static celltext c;

    c.n = 0;
    adds(&c, "<rect x=\"");
    addnum(&c, x);
    adds(&c, "\" y=\"");
    addnum(&c, y - 7);
    adds(&c, "\" width=\"8\" height=\"8\" fill=\"");
    adds(&c, fill);
    adds(&c, "\" class=\"s\"/><text x=\"");
    addnum(&c, x + 12);
    adds(&c, "\" y=\"");
    addnum(&c, y);
    adds(&c, "\">");
    add(&c, &symbol, 1);
    adds(&c, " ");
    fwrite(c.text, 1, (size_t)c.n, out);
}

// The fill of an entry's swatch: its own, or the one that stands out.
static const char *entryfill(const mapview *v, const diskpicture *p, int32_t entry, int32_t slot)
{
    int32_t c = entrycluster(v->dp, slot);

    return c >= 2 && c < v->dp->endofchain && p->split[c] ? splitfill : fills[entry % FILLS];
}

// The legend beside the grid, as the terminal's: a line per lettered entry,
// then one per system area shown, from y on.
static void putsvglegend(FILE *out, const mapview *v, diskpicture *p, int32_t x, int32_t y)
{
    static legendwalk l;
    int32_t slot, entry, k;
    chainwalk *cw;

    startlegend(v, &l);
    for (; nextlegend(v, &l, &slot, &entry, &cw, &k); y += LINEH) {
        putswatch(out, x, y, entryfill(v, p, entry, slot), entrysymbol(entry));
        putlegendfields(out, v, slot, cw);
        if (k >= 0)
            putxml(out, v->imagepaths[k], v->imagepathlens[k]);
        else
            putentrypath(out, v, p, slot);
        fputs("</text>\n", out);
    }
    for (int32_t k = 0; k < HOLDSENTRY; k++)
        if (p->used[k]) {
            putswatch(out, x, y, systemfills[k], ' ');
            fprintf(out, "%s</text>\n", systemnames[k]);
            y += LINEH;
        }
}

// Writes the SVG of the picture to out, sized to hold the grid and the
// legend, whichever is taller; 1 when every write went out.
int putsvgmap(const mapview *v, diskpicture *p, const char *image, FILE *out)
{
    int32_t tracks = (p->cells + p->spt - 1) / p->spt;
    int32_t legendx = LEFT + p->spt * CELLW + GAP, width = legendx + 460;
    int32_t lines = countlegend(v, p), height = TOP + tracks * CELLH;
    const floppytype *t = v->dp->map ? v->dp->map->type : nullptr;

    if (TOP + lines * LINEH > height)
        height = TOP + lines * LINEH;
    fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" xml:space=\"preserve\" "
                 "width=\"%d\" "
                 "height=\"%d\" viewBox=\"0 0 %d %d\">\n"
                 "<style>text{font-family:monospace;font-size:8px}"
                 "text.c{font-size:6px;text-anchor:end}rect{stroke:#fff;stroke-width:0.4}"
                 "rect.s{stroke:#000;stroke-width:0.3}</style>\n"
                 "<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"#fff\" stroke=\"none\"/>\n"
                 "<text x=\"%d\" y=\"14\" style=\"font-size:11px\">",
            width, height + 10, width, height + 10, width, height + 10, LEFT);
    for (const char *c = image; *c; c++) // a host name, as it is
        if (strchr("&<>\"", *c) || (unsigned char)*c < 0x20)
            fprintf(out, "&#%d;", (unsigned char)*c < 0x20 ? 0xFFFD : *c);
        else
            putc(*c, out);
    if (p->per > 1)
        fprintf(out, ": the volume, %d sectors, %d rows of %d cells, a cell for every %d "
                     "sectors</text>\n", v->dp->totalsectors, tracks, p->spt, p->per);
    else
        fprintf(out, ": %s, %d tracks of %d sectors</text>\n", t ? t->name : "the volume",
                tracks, p->spt);
    putcells(out, v, p);
    putsvglegend(out, v, p, legendx, TOP + 8);
    fputs("</svg>\n", out);
    return fflush(out) == 0 && !ferror(out);
}
