// Image offsets: every product is taken in 64 bits so that no boot-sector
// field, however large, can overflow it.
#include <climits>
#include <cstring>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "diskprops.h"

// Seeks from the start; 1 on success, 0 when the offset is negative, beyond
// what this platform can seek to, or the seek fails.
int seekimage(FILE *image, int64_t offset)
{
    return seekfile(image, offset);
}

// The image file's size in bytes, or -1 when it cannot be told; the
// position is left at the end.
int64_t imagesize(FILE *image)
{
    return filesizeof(image);
}

// Volume byte of the first byte of a cluster (cluster 2 is the data area's first).
int64_t clusteroffset(const diskprops *dp, int32_t cluster)
{
    return (int64_t)dp->datastart * dp->bytespersector +
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
    return last > dp->endofchain - 1 ? dp->endofchain - 1 : (int32_t)last;
}

// 1 when the cluster is a data cluster that the FAT has an entry for and
// whose bytes all lie inside the volume as its sector count declares it.
int clusterinvolume(const diskprops *dp, int32_t cluster)
{
    return cluster >= 2 && cluster <= lastcluster(dp);
}

// Where volume byte 0 lies in the file when the volume lies there in one
// run of bytes (a DCP image read straight through, with no map given; a
// raw volume); -1 when it is reached sector by sector through the map.
static int64_t linearbase(const diskprops *dp)
{
    if (!dp->map)
        return DCPHEADERSIZE;
    return dp->map->linear ? dp->map->base : -1;
}

// 1 when the disk reads as zeros past the file's end (a THD or Virtual98
// file ends where its last write did), so that a short read is no failure.
static int zerotail(const diskprops *dp)
{
    return dp->map && dp->map->zerotail;
}

// 1 when the len volume bytes at at lie inside what the map holds: a
// partition's volume never reaches past the partition.
static int inlimit(const diskprops *dp, int64_t at, int64_t len)
{
    return !dp->map || dp->map->limit < 0 || at + len <= dp->map->limit;
}

// The file offset of volume byte at, in a volume that lies in one run of
// bytes; for one reached through a map, at itself.
int64_t filebyteof(const diskprops *dp, int64_t at)
{
    int64_t base = linearbase(dp);

    return base < 0 ? at : base + at;
}

// 1 when the container can lack a sector anywhere (a D88, an NFD, a compact
// DCP) or the volume's sectors end where its partition does, 0 when only
// the file's end can cut the volume short.
int mappedimage(const diskprops *dp)
{
    return linearbase(dp) < 0 || (dp->map && dp->map->limit >= 0);
}

// The file descriptor under the stream, for positioned reads and writes; -1
// where there is none (a memory stream, or a platform without them), and
// stdio does the work. openimage left no buffered write behind, and a
// mapped volume is moved only through here, so stdio's buffer never holds
// what these calls would miss.
static int positionedio(FILE *image)
{
#ifndef _WIN32
    return fileno(image);
#else
    (void)image;
    return -1;
#endif
}

// 1 unless the change's journal, told that n file bytes at off are about to
// be read, fails to send it the writes it holds there.
static int beforeread(const diskprops *dp, int64_t off, int64_t n)
{
    return !dp->writer || dp->writer->beforeread(dp->writer->ctx, off, (int32_t)n);
}

// Writes n bytes at file offset off into the change's journal; 1 on success.
static int journalled(const diskprops *dp, int64_t off, const unsigned char *buf, int32_t n)
{
    return dp->writer->write(dp->writer->ctx, off, buf, n);
}

// One piece at file offset off, through the descriptor; 1 when all of it moved.
static int movepiece(int fd, int64_t off, unsigned char *buf, int32_t n, int write)
{
#ifndef _WIN32
    ssize_t done = write ? pwrite(fd, buf, (size_t)n, (off_t)off) : pread(fd, buf, (size_t)n,
                                                                          (off_t)off);
    return done == n;
#else
    (void)fd, (void)off, (void)buf, (void)n, (void)write;
    return 0;
#endif
}

// One piece at the stream's position; 1 when all of it moved.
static int streampiece(FILE *image, unsigned char *buf, int32_t n, int write)
{
    if (write)
        return (int32_t)fwrite(buf, 1, (size_t)n, image) == n;
    return (int32_t)fread(buf, 1, (size_t)n, image) == n;
}

// Moves len bytes between buf and the volume from volume byte at, a piece
// a sector at a time through the map; 1 on success, else 0, with
// dp->lacking set when a sector is not in the image.
static int movesectors(FILE *image, diskprops *dp, int64_t at, unsigned char *buf, int32_t len,
                       int write)
{
    int32_t bps = dp->bytespersector, done = 0;
    // A sector at a time is one positioned call where the file has a
    // descriptor: a seek through stdio would flush, or refill its buffer.
    int fd = positionedio(image);

    while (done < len) {
        int64_t sector = (at + done) / bps, into = (at + done) % bps;
        int32_t piece = (int32_t)(bps - into < len - done ? bps - into : len - done);
        int64_t off = sector > INT32_MAX ? NOTINIMAGE : sectoroffset(dp->map, (int32_t)sector, bps);
        if (off == NOTINIMAGE) {
            dp->lacking = (int32_t)(sector > INT32_MAX ? INT32_MAX : sector);
            return 0;
        }
        if (write && dp->writer) {
            if (!journalled(dp, off + into, buf + done, piece))
                return 0;
        } else if (!(write || beforeread(dp, off + into, piece)) ||
                   (fd >= 0 ? !movepiece(fd, off + into, buf + done, piece, write)
                            : !seekimage(image, off + into) ||
                                  !streampiece(image, buf + done, piece, write))) {
            return 0;
        }
        done += piece;
    }
    return 1;
}

// Reads len bytes from volume byte at; 1 when all came back. Sectors that
// lie one after another in the file are one read.
int readimage(FILE *image, diskprops *dp, int64_t at, unsigned char *buf, int32_t len)
{
    int64_t base = linearbase(dp);

    if (base < 0)
        return movesectors(image, dp, at, buf, len, 0);
    if (zerotail(dp))
        return inlimit(dp, at, len) && readimageupto(image, dp, at, buf, len) == len;
    return at >= 0 && inlimit(dp, at, len) && beforeread(dp, base + at, len) &&
           seekimage(image, base + at) && (int32_t)fread(buf, 1, (size_t)len, image) == len;
}

// Reads up to len bytes from volume byte at, as readimage does: how many
// came back (in a volume reached through its map, len or 0).
int32_t readimageupto(FILE *image, diskprops *dp, int64_t at, unsigned char *buf, int32_t len)
{
    int64_t base = linearbase(dp);
    int32_t got;

    if (base < 0)
        return movesectors(image, dp, at, buf, len, 0) ? len : 0;
    if (dp->map && dp->map->limit >= 0 && at + len > dp->map->limit)
        len = at < dp->map->limit ? (int32_t)(dp->map->limit - at) : 0;
    if (at < 0 || !beforeread(dp, base + at, len) || !seekimage(image, base + at))
        return 0;
    got = (int32_t)fread(buf, 1, (size_t)len, image);
    if (!zerotail(dp) || ferror(image))
        return got;
    memset(buf + got, 0, (size_t)(len - got));
    return len;
}

// Writes len bytes at volume byte at, as readimage reads them; 1 when all went out.
int writeimage(FILE *image, diskprops *dp, int64_t at, const unsigned char *buf, int32_t len)
{
    int64_t base = linearbase(dp);

    if (base < 0)
        return movesectors(image, dp, at, (unsigned char *)buf, len, 1);
    if (dp->writer)
        return at >= 0 && inlimit(dp, at, len) && journalled(dp, base + at, buf, len);
    return at >= 0 && inlimit(dp, at, len) && seekimage(image, base + at) &&
           (int32_t)fwrite(buf, 1, (size_t)len, image) == len;
}

// Writes len bytes at volume byte at as writeimage does; under a journal,
// only the sectors whose bytes change, so that what the journal keeps and
// a sync puts on the disk is the change's size, not that of the FAT or the
// root it lies in. What is there is read 64 KB at a time (a piece that
// cannot be read is written whole). 1 on success.
int writeimagechanged(FILE *image, diskprops *dp, int64_t at, const unsigned char *buf,
                      int32_t len)
{
    static unsigned char now[65536];
    int32_t bps = dp->bytespersector, done = 0;

    if (!dp->writer || bps > (int32_t)sizeof now)
        return writeimage(image, dp, at, buf, len);
    while (done < len) {
        int32_t chunk = len - done < (int32_t)sizeof now ? len - done : (int32_t)sizeof now;
        int got = readimage(image, dp, at + done, now, chunk);
        for (int32_t k = 0, n; k < chunk; k += n) {
            n = (int32_t)(bps - (at + done + k) % bps);
            n = n < chunk - k ? n : chunk - k;
            if ((!got || memcmp(now + k, buf + done + k, (size_t)n) != 0) &&
                !writeimage(image, dp, at + done + k, buf + done + k, n))
                return 0;
        }
        done += chunk;
    }
    return 1;
}

// Writes n bytes at at, as writeimage does, where *streamat is where the
// last such write left the stream (-1: not known). In a file that holds the
// volume in order, a write that continues there needs no seek (which would
// flush), so pieces put one after another go out in large writes.
// *streamat follows the write; 1 on success.
int writeimagenext(FILE *image, diskprops *dp, int64_t at, const unsigned char *buf, int32_t n,
                   int64_t *streamat)
{
    int64_t base = linearbase(dp);
    int ok;

    if (base < 0 || dp->writer)
        ok = writeimage(image, dp, at, buf, n);
    else
        ok = at >= 0 && inlimit(dp, at, n) && (at == *streamat || seekimage(image, base + at)) &&
             (int32_t)fwrite(buf, 1, (size_t)n, image) == n;
    *streamat = ok && base >= 0 && !dp->writer ? at + n : -1;
    return ok;
}

// -1 when the len volume bytes at at all lie in the image file of filesize
// bytes: inside it, and for a map, on sectors the container holds; else the
// first volume sector that does not.
int32_t sectornotheld(const diskprops *dp, int64_t at, int64_t len, int64_t filesize)
{
    int64_t bps = dp->bytespersector, base = linearbase(dp), s;

    if (base >= 0) {
        // What the file holds of the volume; all of it, where the file may end early.
        int64_t end = zerotail(dp) ? INT64_MAX : filesize - base;
        if (dp->map && dp->map->limit >= 0 && dp->map->limit < end)
            end = dp->map->limit;
        s = (at > end ? at : end) / bps;
        return at + len <= end ? -1 : s > INT32_MAX ? INT32_MAX : (int32_t)s;
    }
    for (s = at / bps; s * bps < at + len; s++) {
        int64_t off = s > INT32_MAX ? NOTINIMAGE : sectoroffset(dp->map, (int32_t)s, (int32_t)bps);
        if (off == NOTINIMAGE || off + bps > filesize)
            return s > INT32_MAX ? INT32_MAX : (int32_t)s;
    }
    return -1;
}

// Finds the container (container -1: from the content) and maps disk of it
// into map, which the volume then reads through; MAPOK, or why not. The
// file is left at its start, as the opening expects it.
int openimage(FILE *image, diskprops *dp, sectormap *map, int32_t container, int32_t disk,
              int32_t part)
{
    int64_t size = imagesize(image);
    int r, found = container < 0;

    if (container < 0)
        container = size < 0 ? CONTAINERDCP : findcontainer(image, size);
    r = mapimagepart(image, map, container, disk, part);
    // Read as a DCP image it could only fail further on, as a FAT unread.
    if (found && container == CONTAINERDCP &&
        lookslike(image, size, map->lookslike, (int32_t)sizeof map->lookslike))
        r = MAPLOOKSLIKE;
    dp->map = map;
    // Back at the start, with nothing buffered: the map's sectors are then
    // read and written past stdio.
    if (fflush(image) != 0 || fseek(image, 0, SEEK_SET) != 0)
        return MAPUNREAD;
    return r;
}

// 1 when the container's tracks are laid out as the volume's parameter
// block says: its sectors of the container's size, and either as many of
// them as the layout holds (mkfs.fat writes its own sectors a track) or
// the layout's sectors a track and heads; or the container is read
// straight through and lays out none.
int layoutagrees(const diskprops *dp)
{
    const floppytype *t = dp->map ? dp->map->type : nullptr;

    return !t || dp->map->linear ||
           (t->bytes == dp->bytespersector &&
            (dp->totalsectors == floppysectors(t) ||
             (t->sectors == dp->sectorspertrack && t->heads == dp->heads)));
}

// Says on out how the container's layout and the volume's geometry
// disagree, and what was done about it (outcome).
void putlayoutproblem(FILE *out, const diskprops *dp, const char *image, const char *outcome)
{
    const floppytype *t = dp->map->type;

    fprintf(out, "%s: its %s tracks are laid out as %s (%d sectors of %d bytes, %d a track), "
                 "but its volume's parameter block says %d sectors of %d bytes, %d a track, %d "
                 "heads; %s\n",
            image, containerof(dp->map->container)->title, t->name, floppysectors(t), t->bytes,
            t->sectors, dp->totalsectors, dp->bytespersector, dp->sectorspertrack, dp->heads,
            outcome);
}

// 1 when the image may be written; else 0 after saying on out that its
// container is write-protected, and how to lift that, or that its layout
// and its volume disagree (a write would land in other sectors).
int imagewritable(FILE *out, const diskprops *dp, const char *image)
{
    if (!layoutagrees(dp)) {
        putlayoutproblem(out, dp, image, "nothing written");
        return 0;
    }
    if (!dp->map || !dp->map->protect)
        return 1;
    fprintf(out, "%s is write-protected (the flag in its %s header); dcpimage unprotect %s "
                 "lifts it\n", image, containerof(dp->map->container)->title, image);
    return 0;
}
