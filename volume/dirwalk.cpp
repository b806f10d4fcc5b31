// Walking the whole directory tree depth first, every directory read once
// through the cache, with an explicit stack instead of recursion.
#include <cstring>

#include "diskprops.h"

// 1 when the slot holds what a path lookup can find: not free, not deleted,
// not a label or long-name slot, not "." or "..".
static int islisted(const unsigned char *slot)
{
    if (slot[0] == FREESLOT || slot[0] == DELETEDMARK || (slot[11] & ATTRLABEL))
        return 0;
    return memcmp(slot, ".          ", 11) != 0 && memcmp(slot, "..         ", 11) != 0;
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

// 1 when the entry names a directory.
int entryisdir(const diskprops *dp, int32_t slot)
{
    return (dp->dirbuf[slot + 11] & ATTRDIR) != 0;
}

// Starts at the root directory, which the opening loaded as cache row 0.
void startwalk(const diskprops *dp, dirwalk *w)
{
    memset(w->entered, 0, sizeof w->entered);
    w->depth = 0;
    w->pending = -1;
    w->frames[0].row = 0;
    w->frames[0].next = dp->dirtable[0].start;
    w->frames[0].slot = -1;
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

// How a subdirectory's entry is walked: entered next, already entered
// once, or not readable (its chain damaged, or a read failed).
static int classifydir(FILE *image, diskprops *dp, dirwalk *w, int32_t at)
{
    int32_t cluster = entrycluster(dp, at), row;

    if (cluster < FATENDOFCHAIN && w->entered[cluster])
        return WALKAGAIN;
    row = getdirectoryentry(image, dp, cluster);
    if (row < 0)
        return WALKUNREAD;
    // Only a sound chain in 2..4079 loads, so cluster indexes entered[].
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
            w->depth--;
            continue;
        }
        at = f->next;
        f->next += 32;
        if (!islisted(dp->dirbuf + at))
            continue;
        *kind = entryisdir(dp, at) ? classifydir(image, dp, w, at) : WALKFILE;
        return at;
    }
}
