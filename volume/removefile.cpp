// Planning a removal: an entry marked deleted and its clusters set free in
// the decoded FAT, a directory with all it holds. Nothing else changes: no
// other entry, no directory compacted. A chain that is damaged, or that
// another entry holds too, is refused, since freeing it could free another
// file's data; a cluster marked bad is never freed, as no sound chain
// holds one.
#include "removefile.h"
#include "owners.h"
#include "fatwrite.h"
#include "pathlookup.h"
#include "dircache.h"
#include "longnames.h"

// REMOVEOK when the chain from first is sound and no other chain holds any
// of its clusters; else why not, with r->damage and r->cluster set.
static int checkchain(const diskprops *dp, chainwalk *cw, int32_t first,
                      const unsigned char *owners, removal *r)
{
    int32_t a, b;

    startchain(cw, first);
    while (nextrun(dp, cw, &a, &b))
        ;
    r->damage = cw->damage;
    r->cluster = cw->badcluster;
    if (cw->damage != CHAINSOUND)
        return REMOVEDAMAGED;
    r->cluster = crossedcluster(dp, cw, first, owners);
    return r->cluster >= 0 ? REMOVECROSSED : REMOVEOK;
}

// Checks, or with apply set frees, every chain below the directory of
// cache row row; REMOVEOK, or why not with r->slot naming the entry (and
// r->kind what the walk found of a directory it could not enter).
static int subtree(FILE *image, diskprops *dp, dirwalk *w, chainwalk *cw,
                   const unsigned char *owners, int32_t row, int apply, removal *r)
{
    int32_t slot;
    int kind, why;

    startwalkat(dp, w, row);
    r->below = 1;
    while ((slot = nextentry(image, dp, w, &kind)) >= 0) {
        r->slot = slot;
        r->kind = kind;
        if (kind == WALKAGAIN || kind == WALKCROSSED || kind == WALKUNREAD)
            return REMOVEUNREAD;
        why = checkchain(dp, cw, entrycluster(dp, slot), owners, r);
        if (why != REMOVEOK)
            return why;
        if (apply)
            freechain(dp, entrycluster(dp, slot));
    }
    return REMOVEOK;
}

// Plans the removal of the entry at path: marked deleted, its chain (and
// with recursive, a directory's, and all below it) freed. REMOVEOK, or why
// not, with r telling more; nothing is changed then.
int removeentry(FILE *image, diskprops *dp, putplan *p, dirwalk *w, chainwalk *cw,
                const unsigned char *owners, const unsigned char *path, int32_t len,
                int recursive, removal *r)
{
    int32_t slot, row = -1, why;

    r->slot = -1;
    r->kind = WALKFILE;
    r->below = 0;
    if (len == 0 || (len == 1 && path[0] == '\\'))
        return REMOVEROOT;
    slot = findslot(image, dp, path, len);
    if (slot < 0)
        return REMOVENOTFOUND;
    r->slot = slot;
    why = checkchain(dp, cw, entrycluster(dp, slot), owners, r);
    if (why != REMOVEOK)
        return why;
    if (entryisdir(dp, slot) && !recursive)
        return REMOVEISDIR;
    if (entryisdir(dp, slot) && entrycluster(dp, slot) != 0) {
        row = getdirectoryentry(image, dp, entrycluster(dp, slot));
        if (row < 0)
            return REMOVEUNREAD;
        why = subtree(image, dp, w, cw, owners, row, 0, r);
        if (why != REMOVEOK)
            return why;
        subtree(image, dp, w, cw, owners, row, 1, r);
        r->below = 0;
        // The directory's row stays cached, but no lookup reaches it now.
        dp->dirtable[row].cluster = RETIREDROW;
    }
    freechain(dp, entrycluster(dp, slot));
    if (!droplongname(dp, p, slot))
        return REMOVEDAMAGED;
    dp->dirbuf[slot] = DELETEDMARK;
    p->fatdirty = 1;
    return markslot(dp, p, rowofslot(dp, slot), slot) ? REMOVEOK : REMOVEDAMAGED;
}
