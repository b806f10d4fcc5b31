// What a sector holds: the area of the volume it lies in, and for a data
// sector, the entry whose chain reaches its cluster or the FAT's word on it.
#include "sectorowner.h"

// Data cluster of a sector of the data area, or -1 where no whole cluster
// that the FAT names lies (past the last whole one, past the entries the
// FAT holds, or at an end-of-chain value).
static int32_t datacluster(const diskprops *dp, int32_t sector)
{
    int32_t cluster;

    if (dp->sectorspercluster <= 0)
        return -1;
    cluster = (sector - dp->datastart) / dp->sectorspercluster + 2;
    return clusterinvolume(dp, cluster) ? cluster : -1;
}

// The area of the volume that holds sector (0 or more): one of SECTOR*;
// *detail gets the FAT copy (from 1) or the data cluster where they apply.
int sectorarea(const diskprops *dp, int32_t sector, int32_t *detail)
{
    *detail = -1;
    if (sector >= dp->totalsectors)
        return SECTORPASTEND;
    if (sector == 0)
        return SECTORBOOT;
    if (sector < dp->fatstart)
        return SECTORRESERVED;
    if (sector < dp->rootdirstart) {
        *detail = (sector - dp->fatstart) / dp->sectorsperfat + 1;
        return SECTORFAT;
    }
    if (sector < dp->datastart)
        return SECTORROOT;
    *detail = datacluster(dp, sector);
    return *detail < 0 ? SECTORUNUSED : SECTORDATA;
}

// What the FAT says of a data cluster that no entry's chain reaches.
int clusterstate(const diskprops *dp, int32_t cluster)
{
    if (dp->fat[cluster] == 0)
        return CLUSTERFREE;
    return dp->fat[cluster] == dp->badmark ? CLUSTERBAD : CLUSTERLOST;
}

// 1 when the sound part of the chain from first reaches cluster, with
// *index its place in the chain (0 for the first cluster).
static int chainholds(const diskprops *dp, chainwalk *cw, int32_t first, int32_t cluster,
                      int32_t *index)
{
    int32_t a, b;

    startchain(cw, first);
    while (nextrun(dp, cw, &a, &b))
        if (cluster >= a && cluster <= b) {
            *index = cw->clusters - (b - cluster) - 1;
            return 1;
        }
    return 0;
}

// The dirbuf offset of the first entry, in walk order, whose chain holds
// cluster, with w left at that entry and *index the cluster's place in its
// chain; -1 when no entry's chain reaches it.
int32_t findowner(FILE *image, diskprops *dp, dirwalk *w, chainwalk *cw, int32_t cluster,
                  int32_t *index)
{
    int32_t at;
    int kind;

    startwalk(dp, w);
    // A chain that runs into an earlier one's cluster goes on the way that
    // one went, which did not hold cluster: stopping there changes no
    // answer, and keeps the search within the clusters.
    claimchains(cw);
    while ((at = nextentry(image, dp, w, &kind)) >= 0)
        if (chainholds(dp, cw, entrycluster(dp, at), cluster, index))
            return at;
    return -1;
}
