// Creating and changing directory entries in the cache, and writing the
// directory clusters that changed back into the image.
#include <cstring>

#include "dirwrite.h"
#include "putfile.h"

enum {
    NTIME = 14, NDATE = 16, ADATE = 18, MTIME = 22, MDATE = 24, CLUSTERFIELD = 26,
    SIZEFIELD = 28
};

// The FAT date and time of a moment, clamped to what FAT can store: before
// 1980 is 1980-01-01 00:00:00, after 2107 is 2107-12-31 23:59:58.
void packfattime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                 int32_t second, fattime *t)
{
    if (year < 1980) {
        year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    } else if (year > 2107) {
        year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 59;
    }
    second = second > 59 ? 59 : second; // a leap second
    t->date = (year - 1980) << 9 | month << 5 | day;
    t->time = hour << 11 | minute << 5 | second / 2;
}

// The modification date and time of the entry in slot, taken apart.
void unpackfattime(const unsigned char *slot, fatclock *c)
{
    int32_t date = getu16l(slot + MDATE), time = getu16l(slot + MTIME);

    c->year = 1980 + (date >> 9);
    c->month = (date >> 5) & 15;
    c->day = date & 31;
    c->hour = time >> 11;
    c->minute = (time >> 5) & 63;
    c->second = (time & 31) * 2;
}

// Fills a whole 32-byte slot: a new entry, created, changed and last read
// at t.
void fillentry(unsigned char *slot, const unsigned char *name, int32_t attr, int32_t cluster,
               uint32_t size, const fattime *t)
{
    memset(slot, 0, 32);
    memcpy(slot, name, 11);
    slot[11] = (unsigned char)attr;
    setu16l(slot + NTIME, t->time);
    setu16l(slot + NDATE, t->date);
    setu16l(slot + ADATE, t->date);
    setu16l(slot + MTIME, t->time);
    setu16l(slot + MDATE, t->date);
    setu16l(slot + CLUSTERFIELD, cluster);
    setu32l(slot + SIZEFIELD, (int32_t)size);
}

// Gives an existing entry new contents: first cluster, size, and the time
// of the change; name, attributes and creation stay.
void updateentry(unsigned char *slot, int32_t cluster, uint32_t size, const fattime *t)
{
    setu16l(slot + MTIME, t->time);
    setu16l(slot + MDATE, t->date);
    setu16l(slot + CLUSTERFIELD, cluster);
    setu32l(slot + SIZEFIELD, (int32_t)size);
}

// The dirbuf offset of the first slot of a cached directory that is free
// (never used, or deleted), or -1 when it is full.
int32_t findfreeslot(const diskprops *dp, int32_t row)
{
    const cacheddir *r = &dp->dirtable[row];
    int32_t at;

    for (at = r->start; at + 32 <= r->end; at += 32)
        if (dp->dirbuf[at] == FREESLOT || dp->dirbuf[at] == DELETEDMARK)
            return at;
    return -1;
}

// The cache row whose bytes hold the slot at dirbuf offset at, or -1.
int32_t rowofslot(const diskprops *dp, int32_t at)
{
    for (int32_t row = 0; row < dp->dircount; row++)
        if (at >= dp->dirtable[row].start && at < dp->dirtable[row].end)
            return row;
    return -1;
}

// The cluster that holds the slot at dirbuf offset at of a cached
// directory; -1 for the root, which has none; LOSTCLUSTER when the
// directory's chain, as the FAT has it now, no longer reaches that slot (a
// put freed clusters under a cross-linked directory).
int32_t slotcluster(const diskprops *dp, int32_t row, int32_t at)
{
    const cacheddir *r = &dp->dirtable[row];
    int32_t c = r->cluster, k;

    if (c == -1)
        return -1;
    for (k = (at - r->start) / dp->clusterbytes; k > 0 && c >= 2 && c < dp->endofchain; k--)
        c = dp->fat[c];
    return c >= 2 && c < dp->endofchain ? c : LOSTCLUSTER;
}

// Marks the cluster that holds a changed slot of the cached directory row
// (or the root) to be written: 1, or 0 when that cluster is no longer the
// directory's (the change must then be refused: it could not be written).
int markslot(const diskprops *dp, putplan *p, int32_t row, int32_t at)
{
    int32_t c = slotcluster(dp, row, at);

    if (c == LOSTCLUSTER)
        return 0;
    if (c < 0)
        p->rootdirty = 1;
    else
        planreach(p, c), p->dirty[c] = 1;
    return 1;
}

// Writes len bytes of dirbuf from offset from at image offset to; 1 on success.
static int writebytes(FILE *image, diskprops *dp, int32_t from, int64_t to, int32_t len)
{
    return writeimagechanged(image, dp, to, dp->dirbuf + from, len);
}

// Writes back the root directory when rootdirty, and every cluster of a
// cached subdirectory that dirty[] marks; 1 on success.
int writedirectories(FILE *image, diskprops *dp, const unsigned char *dirty, int rootdirty)
{
    int32_t row;
    const cacheddir *root = &dp->dirtable[0];

    if (rootdirty &&
        !writebytes(image, dp, root->start,
                    (int64_t)dp->rootdirstart * dp->bytespersector,
                    root->end - root->start))
        return 0;
    for (row = 1; row < dp->dircount; row++) {
        const cacheddir *r = &dp->dirtable[row];
        int32_t pos = r->start, c = r->cluster;
        // A chain that a put freed under a cross-linked directory stops the walk.
        for (; pos < r->end && c >= 2 && c < dp->endofchain; pos += dp->clusterbytes) {
            if (dirty[c] && !writebytes(image, dp, pos, clusteroffset(dp, c), dp->clusterbytes))
                return 0;
            c = dp->fat[c];
        }
    }
    return 1;
}
