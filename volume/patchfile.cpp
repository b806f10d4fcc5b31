// Writing a block of bytes into an existing file of the volume, in place,
// through its cluster chain: no allocation, no change of size or FAT.
#include "patchfile.h"
#include "dircache.h"
#include "pathlookup.h"

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
    int32_t most = needed > CLUSTERSLOTS ? CLUSTERSLOTS : (int32_t)needed;
    int32_t count = chainlength(dp, first, most < 1 ? 1 : most);
    int32_t i, c = first;

    if (count < 0)
        return 0;
    for (i = 0; i < count; i++, c = dp->fat[c])
        if (!clusterinvolume(dp, c))
            return 0;
    return 1;
}

// Goes through the window cluster by cluster along the chain from cluster.
// With image null it only checks that every byte it would write lies in the
// image file of filesize bytes; otherwise it writes. 1 unless a byte lies
// outside, or a seek or write fails.
static int walkwindow(FILE *image, diskprops *dp, int32_t cluster, int32_t offset,
                      const unsigned char *data, int32_t len, int64_t filesize)
{
    int64_t windowend = (int64_t)offset + len, pos = 0, lastend = -1;
    int32_t missing = -1;
    int ok = 1;

    while (ok && cluster < dp->endofchain && pos < windowend) {
        int64_t lo = pos > offset ? pos : offset;
        int64_t hi = windowend < pos + dp->clusterbytes ? windowend : pos + dp->clusterbytes;
        int64_t target = clusteroffset(dp, cluster) + (lo - pos);
        if (hi > lo && image)
            ok = writeimagenext(image, dp, target, data + (lo - offset), (int32_t)(hi - lo),
                                &lastend);
        else if (hi > lo)
            ok = (missing = sectornotheld(dp, target, hi - lo, filesize)) < 0;
        // Through a map, the sector a container lacks is worth naming.
        if (!ok && mappedimage(dp) && missing >= 0)
            dp->lacking = missing;
        pos += dp->clusterbytes;
        cluster = dp->fat[cluster];
    }
    return ok;
}

// Writes len bytes of data at offset into the file at path. 1 on success;
// 0 when the path names nothing, names a directory or an empty file, the
// chain within the window is damaged, a byte would land past the end of the
// image file (a cut-short copy, which must not grow) or on a sector the
// container does not hold, or a seek or write fails. Nothing is written
// unless all of it can be.
int patchfile(FILE *image, diskprops *dp, const unsigned char *path, int32_t pathlen,
              int32_t offset, const unsigned char *data, int32_t len)
{
    int32_t attr = 0, cluster = findentry(image, dp, path, pathlen, &attr);
    int64_t size;

    if (cluster < 0 || (attr & ATTRDIR) || dp->clusterbytes <= 0)
        return 0;
    if (!chainwritable(dp, cluster, clustersneeded(dp, offset, len)))
        return 0;
    size = imagesize(image);
    if (size < 0 || !walkwindow(nullptr, dp, cluster, offset, data, len, size))
        return 0;
    return walkwindow(image, dp, cluster, offset, data, len, size);
}
