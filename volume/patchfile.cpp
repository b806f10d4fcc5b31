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

// Goes through the window cluster by cluster along the chain from cluster.
// With image null it only finds *reach, the file offset just past the last
// byte the window writes; otherwise it writes. 1 unless a seek or write fails.
static int walkwindow(FILE *image, const diskprops *dp, int32_t cluster, int32_t offset,
                      const unsigned char *data, int32_t len, int64_t *reach)
{
    int64_t windowend = (int64_t)offset + len, pos = 0, lastend = -1;
    int ok = 1;

    while (ok && cluster < FATENDOFCHAIN && pos < windowend) {
        int64_t lo = pos > offset ? pos : offset;
        int64_t hi = windowend < pos + dp->clusterbytes ? windowend : pos + dp->clusterbytes;
        int64_t target = clusteroffset(dp, cluster) + (lo - pos);
        if (hi > lo && !image && target + (hi - lo) > *reach)
            *reach = target + (hi - lo);
        if (hi > lo && image)
            ok = writecluster(image, target, &lastend, data + (lo - offset), hi - lo);
        pos += dp->clusterbytes;
        cluster = dp->fat[cluster];
    }
    return ok;
}

// Writes len bytes of data at offset into the file at path. 1 on success;
// 0 when the path names nothing, names a directory or an empty file, the
// chain within the window is damaged, a byte would land past the end of the
// image file (a cut-short copy, which must not grow), or a seek or write fails.
int patchfile(FILE *image, diskprops *dp, const unsigned char *path, int32_t pathlen,
              int32_t offset, const unsigned char *data, int32_t len)
{
    int32_t attr = 0, cluster = findentry(image, dp, path, pathlen, &attr);
    int64_t reach = 0, size;

    if (cluster < 0 || (attr & ATTRDIR) || dp->clusterbytes <= 0)
        return 0;
    if (!chainwritable(dp, cluster, clustersneeded(dp, offset, len)))
        return 0;
    walkwindow(nullptr, dp, cluster, offset, data, len, &reach);
    size = imagesize(image);
    if (size < 0 || reach > size)
        return 0;
    return walkwindow(image, dp, cluster, offset, data, len, &reach);
}
