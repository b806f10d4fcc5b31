// Free clusters for a put: runs of consecutive data clusters that the FAT
// marks free, or that the chain just walked in held (the file being
// replaced) holds now, on sectors that the container holds.
#include "freeruns.h"

// 1 when every sector of the data cluster is in the image: a container
// that lacks one (a D88 track short of a sector, a compact DCP) cannot
// take a put there, so such a cluster is no free space.
int clusterinimage(const diskprops *dp, int32_t cluster)
{
    return !mappedimage(dp) ||
           sectornotheld(dp, clusteroffset(dp, cluster), dp->clusterbytes, dp->map->filesize) < 0;
}

// 1 when the data cluster is free for the file whose chain held has just
// walked.
static int freefor(const diskprops *dp, const chainwalk *held, int32_t cluster)
{
    return (dp->fat[cluster] == 0 || held->seen[cluster] == held->stamp) &&
           clusterinimage(dp, cluster);
}

// 1 when the count clusters from the data cluster first on are all data
// clusters inside the volume and free for the file.
int runisfree(const diskprops *dp, const chainwalk *held, int32_t first, int32_t count)
{
    int32_t i;

    if ((int64_t)first + count - 1 > lastcluster(dp))
        return 0;
    for (i = 0; i < count; i++)
        if (!freefor(dp, held, first + i))
            return 0;
    return 1;
}

// The first cluster of the lowest run of count clusters free for the file,
// or -1 when there is none; *longest gets the longest free run there is
// when none is long enough.
int32_t findfreerun(const diskprops *dp, const chainwalk *held, int32_t count,
                    int32_t *longest)
{
    int32_t c, run = 0, last = lastcluster(dp);

    *longest = 0;
    for (c = 2; c <= last; c++) {
        run = freefor(dp, held, c) ? run + 1 : 0;
        if (run == count)
            return c - count + 1;
        if (run > *longest)
            *longest = run;
    }
    return -1;
}
