// Writing a block of bytes into an existing file of the volume, in place,
// through its cluster chain: no allocation, no change of size or FAT.
#include "diskprops.h"

// Number of clusters from the start of the file that the window
// [offset, offset + len) reaches into.
static int64_t clustersneeded(const diskprops *dp, int32_t offset, int32_t len)
{
    int64_t end = (int64_t)offset + len;

    if (len <= 0)
        return 0;
    return (end + dp->clusterbytes - 1) / dp->clusterbytes;
}

// 1 when every cluster that the window needs, as far as the chain goes, is a
// data cluster inside the volume and the chain does not loop there. Checked
// before the first write so that a damaged chain writes nothing at all.
static int chainwritable(const diskprops *dp, int32_t first, int64_t needed)
{
    int32_t most = needed > FATENTRIES ? FATENTRIES : (int32_t)needed;
    int32_t count = chainlength(dp, first, most < 1 ? 1 : most);
    int32_t i, c = first;

    if (count < 0)
        return 0;
    for (i = 0; i < count; i++, c = dp->fat[c])
        if (!clusterinvolume(dp, c))
            return 0;
    return 1;
}

// Writes the part of the window that falls in one cluster; 1 on success.
static int writecluster(FILE *image, int64_t target, int64_t *lastend,
                        const unsigned char *data, int64_t n)
{
    size_t done;

    if (target != *lastend && !seekimage(image, target))
        return 0;
    done = fwrite(data, 1, (size_t)n, image);
    *lastend = target + (int64_t)done;
    return (int64_t)done == n;
}

// Writes len bytes of data at offset into the file at path. 1 on success;
// 0 when the path names nothing, names a directory or an empty file, the
// chain within the window is damaged, or a seek or write fails.
int patchfile(FILE *image, diskprops *dp, const unsigned char *path, int32_t pathlen,
              int32_t offset, const unsigned char *data, int32_t len)
{
    int64_t windowend = (int64_t)offset + len, pos = 0, lastend = -1;
    int32_t attr = 0, cluster = findentry(image, dp, path, pathlen, &attr);
    int ok = 1;

    if (cluster < 0 || (attr & ATTRDIR) || dp->clusterbytes <= 0)
        return 0;
    if (!chainwritable(dp, cluster, clustersneeded(dp, offset, len)))
        return 0;
    while (ok && cluster < FATENDOFCHAIN && pos < windowend) {
        if (offset < pos + dp->clusterbytes) {
            int64_t lo = pos > offset ? pos : offset;
            int64_t hi = windowend < pos + dp->clusterbytes ? windowend : pos + dp->clusterbytes;
            if (hi > lo)
                ok = writecluster(image, clusteroffset(dp, cluster) + (lo - pos), &lastend,
                                  data + (lo - offset), hi - lo);
        }
        pos += dp->clusterbytes;
        cluster = dp->fat[cluster];
    }
    return ok;
}
