// Image offsets: every product is taken in 64 bits so that no boot-sector
// field, however large, can overflow it.
#include <climits>

#include "diskprops.h"

// Seeks from the start; 1 on success, 0 when the offset is negative, beyond
// what this platform's fseek can take, or the seek fails.
int seekimage(FILE *image, int64_t offset)
{
    if (offset < 0 || offset > (int64_t)LONG_MAX)
        return 0;
    return fseek(image, (long)offset, SEEK_SET) == 0;
}

// The image file's size in bytes, or -1 when it cannot be told; the
// position is left at the end.
int64_t imagesize(FILE *image)
{
    if (fseek(image, 0, SEEK_END) != 0)
        return -1;
    return (int64_t)ftell(image); // -1 on failure, as promised
}

// File offset of the first byte of a cluster (cluster 2 is the data area's first).
int64_t clusteroffset(const diskprops *dp, int32_t cluster)
{
    return dp->imageoffset + (int64_t)dp->datastart * dp->bytespersector +
           (int64_t)(cluster - 2) * dp->clusterbytes;
}

// The highest data cluster that the FAT has an entry for and whose bytes
// all lie inside the volume as its sector count declares it; below 2 when
// there is none. The data clusters are exactly 2 to this one.
int32_t lastcluster(const diskprops *dp)
{
    int64_t bytes = ((int64_t)dp->totalsectors - dp->datastart) * dp->bytespersector;
    int64_t last, entries = fatentriesread(dp);

    if (dp->clusterbytes <= 0)
        return 1;
    // Rounds towards 0: a data area shorter than a cluster, or none, gives 1 or less.
    last = bytes / dp->clusterbytes + 1;
    if (last > entries - 1)
        last = entries - 1;
    return last > FATENDOFCHAIN - 1 ? FATENDOFCHAIN - 1 : (int32_t)last;
}

// 1 when the cluster is a data cluster that the FAT has an entry for and
// whose bytes all lie inside the volume as its sector count declares it.
int clusterinvolume(const diskprops *dp, int32_t cluster)
{
    return cluster >= 2 && cluster <= lastcluster(dp);
}
