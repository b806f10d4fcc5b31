// Planning a rename or a move: the entry's 32 bytes go to their new slot
// under the new name, and the old slot is marked deleted. The data never
// moves: the first cluster, the whole chain, the size, the dates and the
// attributes stay as they were; a moved directory's ".." names its new
// parent.
#include <cstring>

#include "renamefile.h"
#include "owners.h"
#include "pathlookup.h"
#include "dircache.h"
#include "longnames.h"
#include "fatwrite.h"

// Where an entry goes: the cache row of the directory, and the slot it
// takes (-1: a free one), under the 11-byte name.
struct destination {
    int32_t row;
    int32_t slot;
    unsigned char name[11];
};

// MOVEOK when the chain from first may be freed (sound, and held by no
// other entry); else MOVEDAMAGED.
static int freeable(const diskprops *dp, chainwalk *cw, int32_t first,
                    const unsigned char *owners)
{
    int32_t a, b;

    startchain(cw, first);
    while (nextrun(dp, cw, &a, &b))
        ;
    if (cw->damage != CHAINSOUND || crossedcluster(dp, cw, first, owners) >= 0)
        return MOVEDAMAGED;
    return MOVEOK;
}

// Checks each component of to[0, len) and finds the directory it leads
// to, all but the last component; *row gets that directory's row. MOVEOK,
// or why not (p->badstart and p->badend around the component).
static int walkparent(FILE *image, diskprops *dp, putplan *p, const unsigned char *to,
                      int32_t len, int32_t moved, int32_t *row, int32_t *last)
{
    unsigned char name[11];
    int32_t from = 0, k, at;

    *row = 0;
    while ((k = nextslash(to, from, len)) >= 0) {
        p->badstart = from;
        p->badend = k;
        if (!validname83(to, from, k))
            return MOVEBADNAME;
        nameto83(to, from, k, name);
        at = searchrow(dp, *row, name, ATTRDIR);
        if (at < 0)
            return MOVENOPARENT;
        if (entrycluster(dp, at) == moved)
            return MOVEINTOITSELF;
        *row = getdirectoryentry(image, dp, entrycluster(dp, at));
        if (*row < 0)
            return MOVEUNREAD;
        from = k + 1;
    }
    p->badstart = from;
    p->badend = len;
    *last = from;
    return from < len && !validname83(to, from, len) ? MOVEBADNAME : MOVEOK;
}

// Decides where the entry at slot goes for the path to (a trailing
// backslash: an existing directory, into which it goes): into *d. MOVEOK,
// MOVESAME when it is where it would go, or why not.
static int finddestination(FILE *image, diskprops *dp, putplan *p, chainwalk *cw,
                           const unsigned char *owners, int32_t slot, const unsigned char *to,
                           int32_t len, int force, destination *d)
{
    const unsigned char *entry = dp->dirbuf + slot;
    int32_t moved = entryisdir(dp, slot) ? entrycluster(dp, slot) : -1, last, at;
    int dironly = len > 0 && to[len - 1] == '\\';
    int r = walkparent(image, dp, p, to, len - dironly, moved, &d->row, &last);

    if (r != MOVEOK)
        return r;
    memcpy(d->name, entry, 11);
    if (last < len - dironly) {
        makename83(to, last, len - dironly, d->name);
        at = searchrow(dp, d->row, d->name, 0);
        if (at >= 0 && at == slot && dironly)
            return MOVEINTOITSELF;
        if (at >= 0 && at != slot && entryisdir(dp, at)) {
            // An existing directory: into it, keeping the name.
            if (entrycluster(dp, at) == moved)
                return MOVEINTOITSELF;
            d->row = getdirectoryentry(image, dp, entrycluster(dp, at));
            if (d->row < 0)
                return MOVEUNREAD;
            memcpy(d->name, entry, 11);
        } else if (dironly) {
            return MOVENOPARENT;
        }
    }
    d->slot = searchrow(dp, d->row, d->name, 0);
    if (d->slot == slot)
        return MOVESAME;
    if (d->slot < 0)
        return MOVEOK;
    // A name taken: only a file, by a file, with force.
    if (entryisdir(dp, d->slot) || moved >= 0 || !force)
        return MOVEEXISTS;
    return freeable(dp, cw, entrycluster(dp, d->slot), owners);
}

// Sets the ".." entry of the directory that starts at cluster to name the
// directory of cache row parent (0 for the root).
static int reparent(FILE *image, diskprops *dp, putplan *p, int32_t cluster, int32_t parent)
{
    int32_t row = getdirectoryentry(image, dp, cluster), at;
    int32_t up = dp->dirtable[parent].cluster < 0 ? 0 : dp->dirtable[parent].cluster;

    if (row < 0)
        return MOVEUNREAD;
    at = dp->dirtable[row].start + 32;
    if (at + 32 <= dp->dirtable[row].end && memcmp(dp->dirbuf + at, "..         ", 11) == 0) {
        setu16l(dp->dirbuf + at + 26, up);
        planreach(p, cluster);
        p->dirty[cluster] = 1;
    }
    return MOVEOK;
}

// Plans the move of the entry at from to to: renamed in place when only
// its name changes, else its bytes copied into a slot of the directory to
// names (or over the file there, with force) and the old slot deleted.
// MOVEOK (nothing to do is MOVEOK too), or why not; nothing changes then.
int moveentry(FILE *image, diskprops *dp, putplan *p, chainwalk *cw, const unsigned char *owners,
              const unsigned char *from, int32_t fromlen, const unsigned char *to,
              int32_t tolen, int force)
{
    unsigned char entry[32];
    destination d;
    int32_t slot, fromrow, cluster;
    int r;

    if (fromlen == 0 || (fromlen == 1 && from[0] == '\\'))
        return MOVEROOT;
    slot = findslot(image, dp, from, fromlen);
    if (slot < 0)
        return MOVENOTFOUND;
    cluster = entrycluster(dp, slot);
    // A directory is read before anything changes: its ".." is set below.
    if (entryisdir(dp, slot) && cluster != 0 && getdirectoryentry(image, dp, cluster) < 0)
        return MOVEUNREAD;
    r = finddestination(image, dp, p, cw, owners, slot, to, tolen, force, &d);
    if (r != MOVEOK)
        return r == MOVESAME ? MOVEOK : r;
    fromrow = rowofslot(dp, slot);
    // The long-name slots stay behind in any move (a new name would orphan
    // them); a new 8.3 name is as given, without the flags that showed the
    // old one in lower case.
    if (!droplongname(dp, p, slot))
        return MOVEDAMAGED;
    memcpy(entry, dp->dirbuf + slot, 32);
    if (memcmp(entry, d.name, 11) != 0)
        entry[12] &= (unsigned char)~LOWERCASEFLAGS;
    memcpy(entry, d.name, 11);
    if (d.row == fromrow && d.slot < 0) {
        memcpy(dp->dirbuf + slot, entry, 32);
        return markslot(dp, p, fromrow, slot) ? MOVEOK : MOVEDAMAGED;
    }
    if (d.slot >= 0) {
        freechain(dp, entrycluster(dp, d.slot));
        if (!droplongname(dp, p, d.slot))
            return MOVEDAMAGED;
        p->fatdirty = 1;
    } else if ((r = takeslot(dp, p, d.row, &d.slot)) != PUTOK) {
        return r == PUTROOTFULL ? MOVEROOTFULL : r == PUTNOROOM ? MOVENOROOM : MOVENOMEMORY;
    }
    memcpy(dp->dirbuf + d.slot, entry, 32);
    // The old slot's row is found again: growing the new directory may
    // have moved that one's bytes, never this one's.
    dp->dirbuf[slot] = DELETEDMARK;
    if (!markslot(dp, p, d.row, d.slot) || !markslot(dp, p, rowofslot(dp, slot), slot))
        return MOVEDAMAGED;
    if (entryisdir(dp, d.slot) && cluster >= 2 && cluster < dp->endofchain)
        return reparent(image, dp, p, cluster, d.row);
    return MOVEOK;
}
