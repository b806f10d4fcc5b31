// The picture of the disk: which entry holds each sector (every chain
// walked once, in the listing's order, each cluster given to the first
// entry whose chain reaches it, as the listing gives it), drawn as the
// floppy's cylinders, heads and sectors, and its legend.
#include "diskmap.h"

#include <cstring>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tools/mapformat.h"
#include "tools/sjisnames.h"

static const char symbols[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
static const char systemsymbols[HOLDKINDS] = {'@', '%', '#', '=', '.', '!', '~', '?', '-', '+', 0};
static const char *const systemnames[HOLDKINDS] = {
    "boot sector", "reserved sectors", "FAT copies", "root directory", "free",
    "a cluster marked bad", "lost: a cluster the FAT gives to no file", "not in the image",
    "past the last whole cluster", "the other files and directories", ""};

// Colours of the terminal: each entry's own, one that stands out for an
// entry in more than one run, and the system areas'.
static const char *const palette[] = {"32", "34", "36", "33", "35", "92",
                                      "94", "96", "93", "95", "37", "90"};
enum { PALETTE = sizeof palette / sizeof palette[0] };
static const char *const systemcolors[HOLDKINDS] = {"2", "2", "2", "2", "", "1;31",
                                                    "1;33", "7;35", "2", "37", ""};
static const char *const splitcolor = "1;97;41";

// 1 when standard output is a terminal that shows colours (on Windows, once
// its console is told to take the escape sequences).
int terminalcolors(void)
{
#ifdef _WIN32
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;

    return _isatty(_fileno(stdout)) && GetConsoleMode(h, &mode) &&
           SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
    return isatty(fileno(stdout));
#endif
}

// The symbol of entry number entry: a to z, A to Z, 0 to 9, then on again.
char entrysymbol(int32_t entry)
{
    return entry < 0 ? ' ' : symbols[entry % (int32_t)(sizeof symbols - 1)];
}

// Gives the clusters of the chain from first to entry (-1: to the entries
// not lettered), each with its place in the chain; cw walks it, as the
// listing walks it.
static void ownchain(const mapview *v, diskpicture *p, chainwalk *cw, int32_t slot,
                     int32_t entry)
{
    int32_t a, b, k = 0, runs = 0, first = entrycluster(v->dp, slot);

    startchain(cw, first);
    while (nextrun(v->dp, cw, &a, &b)) {
        runs++;
        for (int32_t c = a; c <= b; c++) {
            p->owner[c] = entry < 0 ? -1 : entry + 1;
            p->place[c] = k++;
            p->slot[c] = slot;
        }
    }
    rewalkchain(cw, first);
    while (runs > 1 && nextrun(v->dp, cw, &a, &b))
        for (int32_t c = a; c <= b; c++)
            p->split[c] = 1;
}

enum { SCALEDROW = 64, SCALEDROWS = 60, MOSTROWS = 100, MOSTWIDTH = 80 };

// The geometry the rows follow: the container's type, else the parameter
// block's sectors a track and heads, else 16 sectors a row; a cell a
// sector. A volume whose tracks would not fit a screen (a hard disk's) is
// drawn in rows of 64 cells, each standing for as many sectors as it takes
// to fit about 60 rows.
static void geometry(const mapview *v, diskpicture *p)
{
    int64_t total = v->dp->totalsectors > 0 ? v->dp->totalsectors : 0, track;

    p->spt = 16;
    p->heads = 1;
    p->per = 1;
    if (v->dp->map && v->dp->map->type) {
        p->spt = v->dp->map->type->sectors;
        p->heads = v->dp->map->type->heads;
    } else if (v->dp->sectorspertrack >= 1 && v->dp->sectorspertrack <= 255 &&
               v->dp->heads >= 1 && v->dp->heads <= 2) {
        p->spt = v->dp->sectorspertrack;
        p->heads = v->dp->heads;
    }
    track = (int64_t)p->spt * p->heads;
    if ((!v->dp->map || !v->dp->map->type) &&
        ((total + track - 1) / track > MOSTROWS || track + p->heads + 3 > MOSTWIDTH)) {
        p->spt = SCALEDROW;
        p->heads = 1;
        int64_t cells = (int64_t)SCALEDROW * SCALEDROWS;
        p->per = (int32_t)((total + cells - 1) / cells);
        if (p->per < 1)
            p->per = 1; // a volume of no sectors
    }
    p->cells = (int32_t)((total + p->per - 1) / p->per);
}

// The directory entry slot of the kth PATH, or -1 (none, or no Shift-JIS form).
static int32_t pathslot(const mapview *v, int32_t k)
{
    if (v->imagepathlens[k] < 0)
        return -1;
    return findslot(v->image, v->dp, v->imagepaths[k], v->imagepathlens[k]);
}

// Finds who holds every cluster; 1 when every PATH given was found.
int drawdisk(const mapview *v, diskpicture *p)
{
    static chainwalk own;
    int32_t slot, entry = 0;
    int kind, ok = 1;

    // Only clusters below the end-of-chain values have owners.
    memset(p->owner, 0, (size_t)v->dp->endofchain * sizeof p->owner[0]);
    memset(p->split, 0, (size_t)v->dp->endofchain);
    memset(p->used, 0, sizeof p->used);
    geometry(v, p);
    startwalk(v->dp, v->walk);
    claimchains(v->chain);
    while ((slot = nextentry(v->image, v->dp, v->walk, &kind)) >= 0) {
        if (kind == WALKDIR)
            p->rowslot[v->walk->pending] = slot;
        ownchain(v, p, v->chain, slot, v->pathcount > 0 ? -1 : entry);
        entry++;
    }
    p->entries = entry;
    for (int32_t k = 0; k < v->pathcount; k++) {
        slot = pathslot(v, k);
        if (slot < 0) {
            // A PATH with no Shift-JIS form was reported when it was read.
            if (v->imagepathlens[k] >= 0)
                fprintf(stderr, "Could not find %s in the image\n", v->paths[k]);
            ok = 0;
            continue;
        }
        initchainwalk(&own);
        ownchain(v, p, &own, slot, k);
    }
    return ok;
}

// What sector holds: one of HOLDS*, with *entry the lettered entry's number
// for HOLDSENTRY and *cluster the data cluster (else -1).
int32_t sectorholds(const mapview *v, const diskpicture *p, int32_t sector, int32_t *entry,
                    int32_t *cluster)
{
    const diskprops *dp = v->dp;
    int32_t detail, owner;
    int area = sectorarea(dp, sector, &detail);

    *entry = -1;
    *cluster = area == SECTORDATA ? detail : -1;
    if (sectornotheld(dp, (int64_t)sector * dp->bytespersector,
                      dp->bytespersector, v->imagebytes) >= 0)
        return HOLDSLACKING;
    if (area != SECTORDATA) {
        static const int32_t kinds[] = {HOLDSBOOT,   HOLDSRESERVED, HOLDSFAT,   HOLDSROOT,
                                        HOLDSUNUSED, HOLDSUNUSED,   HOLDSUNUSED};
        return kinds[area];
    }
    owner = p->owner[detail];
    if (owner > 0) {
        *entry = owner - 1;
        return HOLDSENTRY;
    }
    if (owner < 0)
        return HOLDSOTHER;
    return clusterstate(dp, detail) == CLUSTERFREE  ? HOLDSFREE
           : clusterstate(dp, detail) == CLUSTERBAD ? HOLDSBAD
                                                    : HOLDSLOST;
}

// What a cell shows: one of HOLDS*, as sectorholds gives it for *sector,
// the sector of the cell that it shows. A cell of several sectors shows
// its first that a lettered entry holds, else its first that is not free,
// else its first.
int32_t cellholds(const mapview *v, const diskpicture *p, int32_t cell, int32_t *entry,
                  int32_t *cluster, int32_t *sector)
{
    int32_t first = cell * p->per, end = first + p->per, kept = -1;

    *sector = first;
    if (p->per == 1)
        return sectorholds(v, p, first, entry, cluster);
    if (end > v->dp->totalsectors)
        end = v->dp->totalsectors;
    for (int32_t s = first; s < end; s++) {
        int32_t kind = sectorholds(v, p, s, entry, cluster);
        if (kind == HOLDSENTRY) {
            *sector = s;
            return kind;
        }
        if (kept < 0 && kind != HOLDSFREE)
            kept = s;
    }
    *sector = kept >= 0 ? kept : first;
    return sectorholds(v, p, *sector, entry, cluster);
}

// Writes one row's word: a symbol a cell, coloured when color is set.
static void putword(const mapview *v, diskpicture *p, int32_t first, int color)
{
    const char *now = "";

    for (int32_t s = first; s < first + p->spt && s < p->cells; s++) {
        int32_t entry, c, sector, kind = cellholds(v, p, s, &entry, &c, &sector);
        const char *want = systemcolors[kind];
        p->used[kind] = 1;
        if (kind == HOLDSENTRY && c >= 2 && entry >= 0)
            want = p->split[c] ? splitcolor : palette[entry % PALETTE];
        if (color && strcmp(want, now) != 0) {
            fputs("\x1b[0m", stdout);
            if (*want)
                printf("\x1b[%sm", want);
            now = want;
        }
        putchar(kind == HOLDSENTRY ? entrysymbol(entry) : systemsymbols[kind]);
    }
    if (color && *now)
        fputs("\x1b[0m", stdout);
}

// Writes a legend line's FIRST SECTORS RUNS, each followed by a space: the
// numbers and runs as the listing gives them (the chain just claimed by the
// walk, or walked alone for a PATH given).
void putlegendfields(FILE *out, const mapview *v, int32_t slot, chainwalk *cw)
{
    chainsummary s;
    const diskprops *dp = v->dp;
    int32_t first = entrycluster(dp, slot), n;

    summarizechain(dp, cw, slot, v->imagebytes, &s);
    if (first == 0)
        fprintf(out, "%5s ", "-");
    else
        putnumber(out, clustersector(dp, first), 5), putc(' ', out);
    putnumber(out,
              entryisdir(dp, slot)
                  ? (int64_t)s.clusters * dp->sectorspercluster
                  : ((int64_t)entrysize(dp, slot) + dp->bytespersector - 1) / dp->bytespersector,
              5);
    putc(' ', out);
    n = putextents(out, dp, cw, first, &s, "");
    for (; n < 11; n++)
        putc(' ', out);
    putc(' ', out);
}

// Starts the walk over the legend's lettered entries.
void startlegend(const mapview *v, legendwalk *l)
{
    l->k = 0;
    l->entry = 0;
    if (v->pathcount == 0) {
        startwalk(v->dp, v->walk);
        claimchains(v->chain);
    }
}

// The next lettered entry, in order: 1 with *slot, *entry its number, *cw
// the walk that gives its numbers as the listing does, and *k the PATH
// that named it (-1 in the tree's order); 0 when there are no more. A PATH
// that names nothing has no line.
int nextlegend(const mapview *v, legendwalk *l, int32_t *slot, int32_t *entry, chainwalk **cw,
               int32_t *k)
{
    int kind;

    if (v->pathcount == 0) {
        *slot = nextentry(v->image, v->dp, v->walk, &kind);
        *entry = l->entry++;
        *cw = v->chain;
        *k = -1;
        return *slot >= 0;
    }
    for (; l->k < v->pathcount; l->k++) {
        *slot = pathslot(v, l->k);
        if (*slot < 0)
            continue;
        initchainwalk(&l->own);
        *entry = *k = l->k++;
        *cw = &l->own;
        return 1;
    }
    return 0;
}

// Writes a legend line: SYMBOL FIRST SECTORS RUNS PATH.
static void putlegendline(const mapview *v, int32_t entry, int32_t slot, chainwalk *cw,
                          const char *given)
{
    printf("%c ", entrysymbol(entry));
    putlegendfields(stdout, v, slot, cw);
    if (given)
        fputs(given, stdout);
    else
        putwalkpath(stdout, v->dp, v->walk, slot, v->utf8);
    putchar('\n');
}

// The legend: a line per lettered entry, in order, then one per system
// symbol the picture shows.
static void putlegend(const mapview *v, diskpicture *p)
{
    static legendwalk l;
    int32_t slot, entry, k;
    chainwalk *cw;

    startlegend(v, &l);
    while (nextlegend(v, &l, &slot, &entry, &cw, &k))
        putlegendline(v, entry, slot, cw, k >= 0 ? v->paths[k] : nullptr);
    for (int32_t k = 0; k < HOLDSENTRY; k++)
        if (p->used[k])
            printf("%c %s\n", systemsymbols[k], systemnames[k]);
}

// Marks what the picture shows (p->used), and counts the legend's lines:
// one per lettered entry, one per system area shown.
int32_t countlegend(const mapview *v, diskpicture *p)
{
    int32_t lines = v->pathcount > 0 ? v->pathcount : p->entries, entry, cluster, sector;

    for (int32_t s = 0; s < p->cells; s++)
        p->used[cellholds(v, p, s, &entry, &cluster, &sector)] = 1;
    for (int32_t k = 0; k < HOLDSENTRY; k++)
        lines += p->used[k];
    return lines;
}

// sectmap --map: a heading, a line per cylinder (its number, then a word
// per head, a symbol per sector), then the legend.
void putterminalmap(const mapview *v, diskpicture *p, const char *image, int color)
{
    const diskprops *dp = v->dp;
    int32_t track = p->spt * p->heads;
    int32_t cylinders = (p->cells + track - 1) / track;
    const floppytype *t = dp->map ? dp->map->type : nullptr;

    if (p->per > 1)
        printf("%s: the volume, %d sectors of %d bytes, a symbol for every %d sectors, %d a "
               "line\n", image, dp->totalsectors, dp->bytespersector, p->per, p->spt * p->per);
    else
        printf("%s: %s, %d cylinders, %d heads, %d sectors a track of %d bytes\n", image,
               t ? t->name : "the volume", cylinders, p->heads, p->spt, dp->bytespersector);
    for (int32_t c = 0; c < cylinders; c++) {
        if (p->per > 1)
            printf("%8d", c * p->spt * p->per); // the line's first sector
        else
            printf("%2d", c);
        for (int32_t h = 0; h < p->heads && (c * p->heads + h) * p->spt < p->cells; h++) {
            putchar(' ');
            putword(v, p, (c * p->heads + h) * p->spt, color);
        }
        putchar('\n');
    }
    putlegend(v, p);
}
