// The directory cache: the raw bytes of every directory read so far, one
// after another in dirbuf, and a row per directory in dirtable.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "dircache.h"

// Capacity that doubles from cap (or from first when cap is 0) until it holds
// need; -1 when that passes what a signed 32-bit size can hold.
static int64_t grownsize(int64_t cap, int64_t first, int64_t need)
{
    int64_t n = cap > 0 ? cap : first;

    while (n < need)
        n *= 2;
    return n > INT32_MAX ? -1 : n;
}

// Makes room for bytes more bytes and rows more rows. 1 on success; on
// failure the arrays that could not grow keep their old capacity.
int ensuredirspace(diskprops *dp, int32_t bytes, int32_t rows)
{
    int ok = 1;
    int64_t need = (int64_t)dp->dirbufused + bytes;

    if (need > dp->dirbufsize) {
        int64_t n = grownsize(dp->dirbufsize, 1024, need);
        void *p = n < 0 ? nullptr : realloc(dp->dirbuf, (size_t)n);
        if (p) {
            dp->dirbuf = (unsigned char *)p;
            dp->dirbufsize = (int32_t)n;
        } else {
            ok = 0;
        }
    }
    need = (int64_t)dp->dircount + rows;
    if (need > dp->dirtablesize) {
        int64_t n = grownsize(dp->dirtablesize, 16, need);
        void *p = n < 0 ? nullptr : realloc(dp->dirtable, (size_t)n * sizeof(cacheddir));
        if (p) {
            dp->dirtable = (cacheddir *)p;
            dp->dirtablesize = (int32_t)n;
        } else {
            ok = 0;
        }
    }
    return ok;
}

static int32_t appendrow(diskprops *dp, int32_t cluster, int32_t end)
{
    cacheddir *row = &dp->dirtable[dp->dircount];

    row->cluster = cluster;
    row->start = dp->dirbufused;
    row->end = end;
    dp->dirbufused = end;
    return dp->dircount++;
}

// Loads the root directory, whole sectors of it, as a new row: its index, or -1.
int32_t initrootdir(FILE *image, diskprops *dp)
{
    int32_t len = dp->rootdirsectors * dp->bytespersector;

    if (!ensuredirspace(dp, len, 1))
        return -1;
    if (!readimage(image, dp, (int64_t)dp->rootdirstart * dp->bytespersector,
                   dp->dirbuf + dp->dirbufused, len))
        return -1;
    return appendrow(dp, -1, dp->dirbufused + len);
}

// Counts the clusters of the chain from cluster, at most most of them: the
// count, or -1 when a cluster within that reach lies outside the data
// clusters' numbers or comes round a second time (a damaged FAT's loop).
int32_t chainlength(const diskprops *dp, int32_t cluster, int32_t most)
{
    unsigned char seen[CLUSTERSLOTS];
    int32_t count = 0;

    memset(seen, 0, (size_t)dp->endofchain); // no cluster at or past it is marked
    while (count < most) {
        if (cluster < 2 || cluster >= dp->endofchain || seen[cluster])
            return -1;
        seen[cluster] = 1;
        count++;
        cluster = dp->fat[cluster];
        if (cluster >= dp->endofchain)
            break;
    }
    return count;
}

// Loads the subdirectory whose chain starts at cluster as a new row: its
// index, or -1 when the chain is damaged or a seek, read or growth fails.
int32_t adddirectoryentry(FILE *image, diskprops *dp, int32_t cluster)
{
    int32_t first = cluster, start = dp->dirbufused, pos = start;

    // The chain is walked in memory first, so a looping one costs no reads.
    if (chainlength(dp, cluster, CLUSTERSLOTS) < 0)
        return -1;
    // A run of consecutive clusters is one read.
    for (;;) {
        int32_t n = 1;
        int64_t bytes;
        while (dp->fat[cluster + n - 1] == cluster + n)
            n++;
        bytes = (int64_t)n * dp->clusterbytes;
        if (pos + bytes > INT32_MAX || !ensuredirspace(dp, (int32_t)(pos - start + bytes), 1))
            return -1;
        if (!readimage(image, dp, clusteroffset(dp, cluster), dp->dirbuf + pos, (int32_t)bytes))
            return -1;
        pos += (int32_t)bytes;
        cluster = dp->fat[cluster + n - 1];
        if (cluster >= dp->endofchain)
            break;
    }
    return appendrow(dp, first, pos);
}

// The row of the directory that starts at cluster, loaded on first request; -1
// when that load fails (it is tried again on the next request).
int32_t getdirectoryentry(FILE *image, diskprops *dp, int32_t cluster)
{
    int32_t i;

    for (i = 0; i < dp->dircount; i++)
        if (dp->dirtable[i].cluster == cluster)
            return i;
    return adddirectoryentry(image, dp, cluster);
}

// A new row for a directory being created at cluster: one cluster of zeros
// that the caller fills. Its index, or -1 when the cache cannot grow.
int32_t addblankdirectory(diskprops *dp, int32_t cluster)
{
    int32_t i;

    if (!ensuredirspace(dp, dp->clusterbytes, 1))
        return -1;
    // A row of a damaged directory whose first cluster a put freed must not
    // answer for the new one.
    for (i = 0; i < dp->dircount; i++)
        if (dp->dirtable[i].cluster == cluster)
            dp->dirtable[i].cluster = RETIREDROW;
    memset(dp->dirbuf + dp->dirbufused, 0, (size_t)dp->clusterbytes);
    return appendrow(dp, cluster, dp->dirbufused + dp->clusterbytes);
}

// Gives a cached directory one more cluster of zeros at its end, moving its
// bytes behind the last row first when another row follows them. 1 on
// success, 0 when the cache cannot grow (the row is then as it was).
int growdirectoryrow(diskprops *dp, int32_t row)
{
    cacheddir *r;
    int32_t len = dp->dirtable[row].end - dp->dirtable[row].start;

    // ensuredirspace refuses any size past what 32 bits can hold.
    if (!ensuredirspace(dp, len + dp->clusterbytes, 0))
        return 0;
    r = &dp->dirtable[row];
    if (r->end != dp->dirbufused) {
        memcpy(dp->dirbuf + dp->dirbufused, dp->dirbuf + r->start, (size_t)len);
        r->start = dp->dirbufused;
        r->end = r->start + len;
    }
    memset(dp->dirbuf + r->end, 0, (size_t)dp->clusterbytes);
    r->end += dp->clusterbytes;
    dp->dirbufused = r->end;
    return 1;
}

// Lets the last row go (never the root's), when its bytes end the buffer:
// they are free for the next directory loaded, and a later request for it
// loads it again.
void droplastrow(diskprops *dp)
{
    // A row that grew was moved past the others: then the last row's bytes
    // are not the last bytes, and nothing is let go.
    if (dp->dircount <= 1 || dp->dirtable[dp->dircount - 1].end != dp->dirbufused)
        return;
    dp->dircount--;
    dp->dirbufused = dp->dirtable[dp->dircount].start;
}
