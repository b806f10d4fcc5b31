// Planning a put: a file of a given size placed at a path, in one run of
// clusters, with the directories on the way. Only the decoded FAT and the
// directory cache change here; the plan marks what must then be written,
// so that a run of puts is checked whole before its first write.
#include <cstring>

#include "putfile.h"
#include "owners.h"
#include "freeruns.h"
#include "dircache.h"
#include "fatwrite.h"
#include "pathlookup.h"

// A plan with nothing planned yet; keep refuses to move a file's clusters.
// p is one in static storage (all zeros) or one initialised before: only
// the clusters it may have marked are cleared.
void initputplan(putplan *p, int keep)
{
    int32_t reach = p->reach > 0 && p->reach <= CLUSTERSLOTS ? p->reach : 0;

    memset(p->planned, 0, (size_t)reach * sizeof p->planned[0]);
    memset(p->original, 0, (size_t)reach * sizeof p->original[0]);
    memset(p->dirty, 0, (size_t)reach);
    initchainwalk(&p->held);
    p->keep = keep;
    p->put = p->rootdirty = p->fatdirty = 0;
    p->owners = nullptr;
    p->slot = p->first = p->before = p->badstart = p->badend = p->needed = p->longest = 0;
    p->imageat = -1;
    p->reach = 0;
}

// PUTOK when the chain from first is sound; its clusters are then held, as
// the chain of the file being replaced. Else PUTBADMARK when it holds a
// cluster marked bad (freeing it would hand that cluster to the next file),
// PUTCROSSED when another entry's chain holds one of its clusters too
// (freeing or writing it would change that entry; p->held.badcluster names
// the cluster), PUTDAMAGED for any other damage.
static int holdchain(const diskprops *dp, putplan *p, int32_t first)
{
    int32_t a, b, c;

    startchain(&p->held, first);
    while (nextrun(dp, &p->held, &a, &b))
        ;
    if (p->held.damage != CHAINSOUND)
        return p->held.damage == CHAINBADMARK ? PUTBADMARK : PUTDAMAGED;
    if (p->owners && first != 0 && (c = crossedcluster(dp, &p->held, first, p->owners)) >= 0) {
        p->held.badcluster = c;
        return PUTCROSSED;
    }
    return PUTOK;
}

// The first cluster of the lowest run of count free clusters, for a new
// file or a directory (p->needed then says count); -1 when there is none.
static int32_t lowestrun(const diskprops *dp, putplan *p, int32_t count)
{
    p->needed = count;
    holdchain(dp, p, 0);
    return findfreerun(dp, &p->held, count, &p->longest);
}

// Finds a free slot in a cached directory, growing a full subdirectory by
// its lowest free cluster: PUTOK with *at its dirbuf offset, or why not.
int takeslot(diskprops *dp, putplan *p, int32_t row, int32_t *at)
{
    int32_t c, last, steps;

    *at = findfreeslot(dp, row);
    if (*at >= 0)
        return PUTOK;
    if (dp->dirtable[row].cluster < 0)
        return PUTROOTFULL;
    // The directory's chain was sound when it was entered; a put that freed
    // clusters under a cross-linked one may have cut it since.
    last = dp->dirtable[row].cluster;
    for (steps = 0; steps < CLUSTERSLOTS && clusterinvolume(dp, last) &&
                    dp->fat[last] < dp->endofchain;
         steps++)
        last = dp->fat[last];
    if (!clusterinvolume(dp, last) || dp->fat[last] < dp->endofchain)
        return PUTDAMAGED;
    c = lowestrun(dp, p, 1);
    if (c < 0)
        return PUTNOROOM;
    if (!growdirectoryrow(dp, row))
        return PUTNOMEMORY;
    setrun(dp, c, 1);
    dp->fat[last] = c;
    planreach(p, c);
    p->dirty[c] = 1;
    p->fatdirty = 1;
    *at = dp->dirtable[row].end - dp->clusterbytes;
    return PUTOK;
}

// Creates the directory name in the cached directory *row, in the lowest
// free cluster, with its "." and ".." entries; *row becomes the new one's.
static int makedirectory(diskprops *dp, putplan *p, int32_t *row, const unsigned char *name,
                         const fattime *t)
{
    int32_t at, c, newrow, parent = dp->dirtable[*row].cluster;
    int r = takeslot(dp, p, *row, &at);

    if (r != PUTOK)
        return r;
    c = lowestrun(dp, p, 1);
    if (c < 0)
        return PUTNOROOM;
    newrow = addblankdirectory(dp, c);
    if (newrow < 0)
        return PUTNOMEMORY;
    setrun(dp, c, 1);
    fillentry(dp->dirbuf + at, name, ATTRDIR, c, 0, t);
    if (!markslot(dp, p, *row, at))
        return PUTDAMAGED;
    at = dp->dirtable[newrow].start;
    fillentry(dp->dirbuf + at, (const unsigned char *)".          ", ATTRDIR, c, 0, t);
    fillentry(dp->dirbuf + at + 32, (const unsigned char *)"..         ", ATTRDIR,
              parent < 0 ? 0 : parent, 0, t);
    planreach(p, c);
    p->dirty[c] = 1;
    *row = newrow;
    return PUTOK;
}

// Goes into the subdirectory path[from, to) of the cached directory *row,
// creating it when it does not exist; *row becomes its row.
static int enterdirectory(FILE *image, diskprops *dp, putplan *p, int32_t *row,
                          const unsigned char *path, int32_t from, int32_t to, const fattime *t)
{
    unsigned char name[11];
    int32_t at, r;

    makename83(path, from, to, name); // the lookup takes 0x05 for 0xE5 too
    at = searchrow(dp, *row, name, 0);
    if (at < 0)
        return makedirectory(dp, p, row, name, t);
    if (!entryisdir(dp, at))
        return PUTTHROUGHFILE;
    r = holdchain(dp, p, entrycluster(dp, at));
    if (r != PUTOK)
        return r;
    r = getdirectoryentry(image, dp, entrycluster(dp, at));
    if (r < 0)
        return PUTUNREADABLE;
    *row = r;
    return PUTOK;
}

// Gives the file the count clusters from first, which now hold this put's
// data; origin is the first cluster the file had before the whole run.
static void takerun(diskprops *dp, putplan *p, int32_t first, int32_t count, int32_t origin)
{
    int32_t i;

    if (count == 0)
        return;
    setrun(dp, first, count);
    planreach(p, first + count - 1);
    for (i = 0; i < count; i++)
        p->planned[first + i] = p->put;
    p->original[first] = origin;
}

// The first cluster of the run the file gets: its own first cluster when
// the count clusters from there are free for it, else the lowest free run;
// -1 when there is none (p->longest then tells the longest).
static int32_t placerun(const diskprops *dp, putplan *p, int32_t old, int32_t count)
{
    if (old != 0 && runisfree(dp, &p->held, old, count))
        return old;
    return findfreerun(dp, &p->held, count, &p->longest);
}

// Replaces the contents of the file whose entry is at dirbuf offset at.
static int replacefile(diskprops *dp, putplan *p, int32_t row, int32_t at, int32_t count,
                       uint32_t size, const fattime *t)
{
    int32_t old = entrycluster(dp, at), first = 0, origin, c;
    int r = holdchain(dp, p, old);

    if (r != PUTOK)
        return r;
    // A file put earlier in this run carries the first cluster it had before.
    origin = old != 0 && p->planned[old] ? p->original[old] : old;
    if (count > 0 && (first = placerun(dp, p, old, count)) < 0)
        return PUTNOROOM;
    p->first = first;
    p->before = origin;
    if (p->keep && origin != 0 && count > 0 && first != origin)
        return PUTMOVE;
    for (c = old; c >= 2 && c < dp->endofchain; c = dp->fat[c])
        p->planned[c] = 0;
    freechain(dp, old);
    takerun(dp, p, first, count, origin);
    updateentry(dp->dirbuf + at, first, size, t);
    if (!markslot(dp, p, row, at))
        return PUTDAMAGED;
    p->slot = at;
    return PUTOK;
}

// Creates the file name in the cached directory row.
static int newfile(diskprops *dp, putplan *p, int32_t row, const unsigned char *name,
                   int32_t count, uint32_t size, const fattime *t)
{
    int32_t at, first = 0;
    int r = takeslot(dp, p, row, &at);

    if (r != PUTOK)
        return r;
    if (count > 0 && (first = lowestrun(dp, p, count)) < 0)
        return PUTNOROOM;
    p->first = first;
    takerun(dp, p, first, count, 0);
    fillentry(dp->dirbuf + at, name, ATTRARCHIVE, first, size, t);
    if (!markslot(dp, p, row, at))
        return PUTDAMAGED;
    p->slot = at;
    return PUTOK;
}

// Checks every component of the path before anything changes: PUTOK,
// PUTBADPATH (empty, or starting or ending with a backslash) or PUTBADNAME
// with p->badstart and p->badend around the component.
static int checkpath(const unsigned char *path, int32_t len, putplan *p)
{
    int32_t from = 0, k;

    do {
        k = nextslash(path, from, len);
        p->badstart = from;
        p->badend = k < 0 ? len : k;
        if (p->badend == from && (from == 0 || k < 0))
            return PUTBADPATH;
        if (!validname83(path, from, p->badend))
            return PUTBADNAME;
        from = k + 1;
    } while (k >= 0);
    return PUTOK;
}

// Plans the directory path[0, len) (its backslash left out): made, with
// those on its way, when missing; its entry given the time t, which a
// directory keeps however its contents change. PUTOK, or why not.
static int putdirectory(FILE *image, diskprops *dp, putplan *p, const unsigned char *path,
                        int32_t len, const fattime *t)
{
    unsigned char name[11];
    int32_t row = 0, parent = 0, from = 0, k, at;
    int r;

    do {
        k = nextslash(path, from, len);
        p->badstart = from;
        p->badend = k < 0 ? len : k;
        parent = row;
        r = enterdirectory(image, dp, p, &row, path, from, p->badend, t);
        if (r != PUTOK)
            return r;
        from = k + 1;
    } while (k >= 0);
    makename83(path, p->badstart, len, name);
    at = searchrow(dp, parent, name, ATTRDIR);
    if (at < 0)
        return PUTDAMAGED;
    p->first = entrycluster(dp, at);
    updateentry(dp->dirbuf + at, p->first, 0, t);
    p->slot = at;
    return markslot(dp, p, parent, at) ? PUTOK : PUTDAMAGED;
}

// Plans the put of a file of size bytes at path, or of a directory when
// path ends in a backslash: PUTOK, or why it is refused (p->badstart and
// p->badend then name the component concerned). After a refusal the plan
// and the cache are not to be written.
int putfile(FILE *image, diskprops *dp, putplan *p, const unsigned char *path, int32_t len,
            uint32_t size, const fattime *t)
{
    int32_t row = 0, from = 0, k, at, count = 0;
    unsigned char name[11];
    int dir = len > 1 && path[len - 1] == '\\', r;

    p->put++;
    p->first = p->before = 0;
    // With no reserved sector the FAT, or the root, lies over the boot sector;
    // a FAT or root that runs past the volume's end would be written there.
    if (dp->reservedsectors < 1)
        return PUTNORESERVED;
    if (dp->datastart > dp->totalsectors)
        return PUTNOSYSTEMAREA;
    r = checkpath(path, len - dir, p);
    if (r != PUTOK)
        return r;
    if (dir)
        return putdirectory(image, dp, p, path, len - 1, t);
    p->longest = lastcluster(dp) > 1 ? lastcluster(dp) - 1 : 0; // the volume's clusters
    if (size > 0 && (int64_t)size > (int64_t)p->longest * dp->clusterbytes)
        return PUTTOOBIG;
    if (size > 0)
        count = (int32_t)(((int64_t)size + dp->clusterbytes - 1) / dp->clusterbytes);
    while ((k = nextslash(path, from, len)) >= 0) {
        p->badstart = from;
        p->badend = k;
        r = enterdirectory(image, dp, p, &row, path, from, k, t);
        if (r != PUTOK)
            return r;
        from = k + 1;
    }
    p->badstart = from;
    p->badend = len;
    p->needed = count;
    makename83(path, from, len, name);
    at = searchrow(dp, row, name, 0);
    if (at >= 0 && entryisdir(dp, at))
        return PUTISDIR;
    if (at >= 0)
        return replacefile(dp, p, row, at, count, size, t);
    return newfile(dp, p, row, name, count, size, t);
}

// The file offset just past the last byte that writing the plan reaches:
// the last cluster marked, or else the end of the root, which lies after
// the FAT copies (every put changes an entry).
int64_t putreach(const diskprops *dp, const putplan *p)
{
    int32_t c;

    for (c = p->reach - 1; c >= 2; c--) // none past reach is marked
        if (p->dirty[c] || p->planned[c])
            return filebyteof(dp, clusteroffset(dp, c) + dp->clusterbytes);
    return filebyteof(dp, (int64_t)(dp->rootdirstart + dp->rootdirsectors) * dp->bytespersector);
}

// 1 when every sector that writing the plan touches lies in the image file
// of filesize bytes: the clusters marked, the root and every FAT copy; else
// 0 with dp->lacking naming the first that does not.
int planinimage(diskprops *dp, const putplan *p, int64_t filesize)
{
    int64_t bps = dp->bytespersector;
    int32_t c;

    dp->lacking = sectornotheld(dp, dp->fatstart * bps,
                                (int64_t)(dp->rootdirstart + dp->rootdirsectors - dp->fatstart) *
                                    bps,
                                filesize);
    for (c = 2; dp->lacking < 0 && c < p->reach; c++)
        if (p->dirty[c] || p->planned[c])
            dp->lacking = sectornotheld(dp, clusteroffset(dp, c), dp->clusterbytes, filesize);
    return dp->lacking < 0;
}
