// Walking the whole directory tree depth first, every directory read once
// through the cache, with an explicit stack instead of recursion.
#include <cstring>

#include "dirwalk.h"
#include "dircache.h"

// What a walk knows of a cluster: not looked at yet, on the chain being
// checked now, read as a directory's contents, on a damaged chain, or on a
// chain that runs into another directory's clusters.
enum { MARKNONE = 0, MARKCHECKING, MARKREAD, MARKDAMAGED, MARKCROSSED };

// 1 when the slot holds an entry: not free, not deleted, not a label or
// long-name slot, and outside the root not "." or "..". The root has no
// dot entries, so one named so there is a file or directory of its own.
static int islisted(const unsigned char *slot, int inroot)
{
    if (slot[0] == FREESLOT || slot[0] == DELETEDMARK || (slot[11] & ATTRLABEL))
        return 0;
    return inroot ||
           (memcmp(slot, ".          ", 11) != 0 && memcmp(slot, "..         ", 11) != 0);
}

// The first cluster of the entry at dirbuf offset slot.
int32_t entrycluster(const diskprops *dp, int32_t slot)
{
    return getu16l(dp->dirbuf + slot + 26);
}

// Its size in bytes, as the entry stores it.
uint32_t entrysize(const diskprops *dp, int32_t slot)
{
    return (uint32_t)geti32l(dp->dirbuf + slot + 28);
}

// The entry's attribute byte.
int32_t entryattr(const diskprops *dp, int32_t slot)
{
    return dp->dirbuf[slot + ENTRYATTR];
}

// The entry's 11 name bytes, as the image stores them.
const unsigned char *entryname(const diskprops *dp, int32_t slot)
{
    return dp->dirbuf + slot;
}

// 1 when the entry names a directory.
int entryisdir(const diskprops *dp, int32_t slot)
{
    return (entryattr(dp, slot) & ATTRDIR) != 0;
}

// Starts at the directory of cache row row (its contents, not itself):
// the paths the walk gives are relative to it. Its own chain, known sound,
// counts as entered, so that no entry below leads back into it.
void startwalkat(const diskprops *dp, dirwalk *w, int32_t row)
{
    int32_t c = dp->dirtable[row].cluster;

    // Only clusters below the end-of-chain values are ever marked.
    memset(w->entered, 0, (size_t)dp->endofchain);
    memset(w->marks, 0, (size_t)dp->endofchain);
    w->depth = 0;
    w->pending = -1;
    w->release = 0;
    w->frames[0].row = row;
    w->frames[0].next = dp->dirtable[row].start;
    w->frames[0].slot = -1;
    if (c >= 2 && c < dp->endofchain)
        w->entered[c] = 1;
    while (c >= 2 && c < dp->endofchain && w->marks[c] == MARKNONE) {
        w->marks[c] = MARKREAD;
        c = dp->fat[c];
    }
}

// Starts at the root directory, which the opening loaded as cache row 0.
void startwalk(const diskprops *dp, dirwalk *w)
{
    startwalkat(dp, w, 0);
}

// Descends into the directory announced by the previous call.
static void enterpending(const diskprops *dp, dirwalk *w)
{
    walkframe *f;

    if (w->pending < 0)
        return;
    // Each frame past the root holds a directory first entered here, and
    // entered[] lets every cluster in at most once: the stack cannot overflow.
    f = &w->frames[++w->depth];
    f->row = w->pending;
    f->next = dp->dirtable[w->pending].start;
    f->slot = w->pendingslot;
    w->pending = -1;
}

// Gives every cluster marked MARKCHECKING from first on its final mark.
static void settlemarks(const diskprops *dp, dirwalk *w, int32_t first, unsigned char mark)
{
    int32_t c = first;

    while (c >= 2 && c < dp->endofchain && w->marks[c] == MARKCHECKING) {
        w->marks[c] = mark;
        c = dp->fat[c];
    }
}

// Follows a directory's chain only as far as clusters this walk has not
// looked at, so that all the checks of one walk together look at each
// cluster once: WALKDIR when the chain is sound and new (its clusters left
// MARKCHECKING for the caller to settle), WALKCROSSED when it runs into
// clusters that another directory holds, WALKUNREAD when it is damaged.
static int checkdirchain(const diskprops *dp, dirwalk *w, int32_t first)
{
    // By the mark met: a cluster of this chain again is a loop.
    static const int verdicts[] = {WALKDIR, WALKUNREAD, WALKCROSSED, WALKUNREAD, WALKCROSSED};
    int32_t c = first;

    for (;;) {
        if (!clusterinvolume(dp, c)) {
            settlemarks(dp, w, first, MARKDAMAGED);
            return WALKUNREAD;
        }
        if (w->marks[c] != MARKNONE) {
            int verdict = verdicts[w->marks[c]];
            settlemarks(dp, w, first, verdict == WALKCROSSED ? MARKCROSSED : MARKDAMAGED);
            return verdict;
        }
        w->marks[c] = MARKCHECKING;
        c = dp->fat[c];
        if (c >= dp->endofchain)
            return WALKDIR;
    }
}

// How a subdirectory's entry is walked: entered next, already entered
// once, running into another directory, or not readable (its chain
// damaged, or a read failed).
static int classifydir(FILE *image, diskprops *dp, dirwalk *w, int32_t at)
{
    int32_t cluster = entrycluster(dp, at), row;
    int verdict;

    if (cluster < dp->endofchain && w->entered[cluster])
        return WALKAGAIN;
    verdict = checkdirchain(dp, w, cluster);
    if (verdict != WALKDIR)
        return verdict;
    row = getdirectoryentry(image, dp, cluster);
    // A failed read is not tried again by another entry.
    settlemarks(dp, w, cluster, row < 0 ? MARKDAMAGED : MARKREAD);
    if (row < 0)
        return WALKUNREAD;
    // Only a sound chain in 2..4079 gets here, so cluster indexes entered[].
    w->entered[cluster] = 1;
    w->pending = row;
    w->pendingslot = at;
    return WALKDIR;
}

// The next entry in depth-first order, a directory before its contents: its
// dirbuf offset, with *kind telling what it is; -1 when the tree is done.
int32_t nextentry(FILE *image, diskprops *dp, dirwalk *w, int *kind)
{
    enterpending(dp, w);
    for (;;) {
        walkframe *f = &w->frames[w->depth];
        const cacheddir *r = &dp->dirtable[f->row];
        int32_t at;

        if ((int64_t)f->next + 32 > r->end) {
            if (w->depth == 0)
                return -1;
            if (w->release && f->row == dp->dircount - 1)
                droplastrow(dp);
            w->depth--;
            continue;
        }
        at = f->next;
        f->next += 32;
        if (!islisted(dp->dirbuf + at, r->cluster == -1))
            continue;
        *kind = entryisdir(dp, at) ? classifydir(image, dp, w, at) : WALKFILE;
        return at;
    }
}
