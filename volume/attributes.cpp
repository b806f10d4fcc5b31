// Attributes and the volume label, planned as a put is: the entries change
// in the cache and the plan marks what to write.
#include <cstring>

#include "attributes.h"
#include "dirwalk.h"

enum { LONGNAME = 0x0F };

// Sets the bits of set and clears those of clear in the attributes of the
// entry at slot (read-only, hidden, system and archive only: a file stays
// a file and a directory a directory); marks its cluster when it changed.
void setattributes(diskprops *dp, putplan *p, int32_t slot, int32_t set, int32_t clear)
{
    const int32_t settable = ATTRREADONLY | ATTRHIDDEN | ATTRSYSTEM | ATTRARCHIVE;
    int32_t before = entryattr(dp, slot);
    int32_t after = (before & ~(clear & settable)) | (set & settable);

    if (after == before)
        return;
    dp->dirbuf[slot + ENTRYATTR] = (unsigned char)after;
    // No chain changes here: the slot's cluster is always found.
    (void)markslot(dp, p, rowofslot(dp, slot), slot);
}

// The dirbuf offset of the root's volume label entry, or -1.
int32_t findlabel(const diskprops *dp)
{
    const cacheddir *root = &dp->dirtable[0];

    for (int32_t at = root->start; at + 32 <= root->end; at += 32) {
        const unsigned char *s = dp->dirbuf + at;
        if (s[0] == FREESLOT)
            break;
        if (s[0] != DELETEDMARK && (s[11] & ATTRLABEL) && (s[11] & LONGNAME) != LONGNAME)
            return at;
    }
    return -1;
}

// Plans the volume label: the 11 bytes of label in the root's label entry
// (made in a free root slot when there is none), or with label null, the
// entry deleted. PUTOK, or PUTROOTFULL.
int setlabel(diskprops *dp, putplan *p, const unsigned char *label)
{
    static const fattime midnight = {0, 0x21}; // as a new volume's label: no time of its own
    int32_t at = findlabel(dp);

    if (!label && at >= 0)
        dp->dirbuf[at] = DELETEDMARK;
    if (!label) {
        if (at >= 0)
            (void)markslot(dp, p, 0, at);
        return PUTOK;
    }
    if (at >= 0 && memcmp(dp->dirbuf + at, label, 11) == 0)
        return PUTOK;
    if (at < 0 && (at = findfreeslot(dp, 0)) < 0)
        return PUTROOTFULL;
    fillentry(dp->dirbuf + at, label, ATTRLABEL, 0, 0, &midnight);
    (void)markslot(dp, p, 0, at);
    return PUTOK;
}

// Writes label (11 bytes) into the boot sector's parameter block, where a
// block with the extended signature holds one; 1 on success (nothing to
// write counts).
int writebootlabel(FILE *image, diskprops *dp, const unsigned char *label)
{
    unsigned char boot[BOOTLABEL + 11];

    if (!readimage(image, dp, 0, boot, sizeof boot))
        return 0;
    if (boot[BOOTEXTENDED] != BOOTEXTENDEDMARK || memcmp(boot + BOOTLABEL, label, 11) == 0)
        return 1;
    return writeimage(image, dp, BOOTLABEL, label, 11);
}
