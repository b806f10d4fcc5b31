// dcpimage's commands for hard disks: create of a SASI or IDE disk with its
// IPL, its partition table and its partitions formatted; convert among the
// hard-disk containers; one partition's volume written out as a raw volume
// (convert -p) and written back (wrap -p).
#include <cstring>

#include "tools/dcpimage/dcpimage.h"
#include "host/journal.h"
#include "tools/imageedit.h"

enum {
    IDEBYTES = 512, IDEHEADS = 8, IDESPT = 17, IDEMOST = 4369, // 65535 cylinders of N x 15
    LOGICAL = 1024, COPYBYTES = 65536
};

// A partition of a new disk: its cylinders, its volume's shape, its name.
struct newpartition {
    int32_t first, last;
    volumeshape shape;
    unsigned char name[16];
};

static sectormap part;
static newpartition parts[PARTITIONSMAX];
static unsigned char copybuf[COPYBYTES];
static unsigned char header[DISKHEADERMOST];
static replacement changed;

// The geometry a TYPE names into d: a SASI disk, ideN (N x 15 cylinders,
// as emulators make an N MB disk) or ide:SIZE (the cylinders SIZE fills);
// with heads and spt other than 0, of those, in the cylinders the type's
// size fills. 1, or 0 when it names no hard disk.
int harddisktype(const char *type, int32_t heads, int32_t spt, sectormap *d)
{
    const disktype *t = disktypenamed(type);
    int64_t cylinders = 0;

    startmap(d, CONTAINERRAWHDD, nullptr);
    d->hard = 1;
    d->diskbytes = t ? t->bytes : IDEBYTES;
    d->diskspt = t ? t->spt : IDESPT;
    d->diskheads = t ? t->heads : IDEHEADS;
    if (t) {
        cylinders = t->cylinders;
    } else if (strncmp(type, "ide:", 4) == 0) {
        int64_t size = parsesize(type + 4);
        cylinders = size < 0 ? 0 : size / ((int64_t)IDEBYTES * IDEHEADS * IDESPT);
    } else if (strncmp(type, "ide", 3) == 0 && type[3] >= '1' && type[3] <= '9') {
        const char *p = type + 3;
        while (*p >= '0' && *p <= '9' && cylinders <= IDEMOST)
            cylinders = cylinders * 10 + (*p++ - '0');
        cylinders = *p || cylinders > IDEMOST ? 0 : cylinders * 15;
    }
    if (heads > 0 && spt > 0) {
        cylinders = cylinders * d->diskheads * d->diskspt / ((int64_t)heads * spt);
        d->diskheads = heads;
        d->diskspt = spt;
    }
    d->diskcylinders = cylinders > 65535 ? 0 : (int32_t)cylinders;
    return d->diskcylinders >= 2;
}

// 1 when the disk d is larger than any floppy, as every reader that knows
// disks by their content takes a hard disk to be; else 0 after saying so.
static int largerthanfloppy(const imagejob *job, const sectormap *d)
{
    int64_t sectors = diskbytesof(d) / d->diskbytes;

    if (sectors > FLOPPYSECTORSMOST)
        return 1;
    fprintf(stderr, "%s is %lld sectors: a hard disk has more than %d, or it is read as a "
                    "floppy\n", job->in, (long long)sectors, FLOPPYSECTORSMOST);
    return 0;
}

// The bytes of a cylinder of d.
static int64_t cylinderbytes(const sectormap *d)
{
    return (int64_t)d->diskbytes * d->diskspt * d->diskheads;
}

// The cylinders of the partitions -P gives (sizes, whole cylinders each,
// rounded up) or of one over cylinders 1 to the last, into parts: how
// many, or -1 after saying why they do not fit.
static int32_t layoutpartitions(const char *sizes, const sectormap *d)
{
    int32_t n = 0, at = 1, most = d->diskbytes == 256 ? 8 : PARTITIONSMAX;
    char text[32];

    if (!sizes) {
        parts[0].first = 1;
        parts[0].last = d->diskcylinders - 1;
        return 1;
    }
    for (const char *p = sizes; *p; n++) {
        size_t len = strcspn(p, ",");
        int64_t size = len < sizeof text ? (memcpy(text, p, len), text[len] = '\0', parsesize(text))
                                         : -1;
        int64_t cylinders = size > 0 ? (size + cylinderbytes(d) - 1) / cylinderbytes(d) : 0;
        if (size <= 0 || n == most) {
            fprintf(stderr, "Bad partition sizes %s: 1 to %d sizes, commas between, each a "
                            "number of bytes (K, M or G after it)\n", sizes, most);
            return -1;
        }
        if (at + cylinders > d->diskcylinders) {
            fprintf(stderr, "The partitions of %s take more than the %d cylinders the disk has "
                            "after its first (%lld bytes each)\n", sizes, d->diskcylinders - 1,
                    (long long)cylinderbytes(d));
            return -1;
        }
        parts[n].first = at;
        parts[n].last = at + (int32_t)cylinders - 1;
        at += (int32_t)cylinders;
        p += len + (p[len] == ',');
    }
    return n;
}

// The volume of partition p of d in NEC's shape (FAT16 where it can be,
// else FAT12) and its name: label's (11 bytes) when named is set, else
// MS-DOS 6.20's. 1, or 0 after saying it holds no FAT volume.
static int shapepartition(newpartition *p, int32_t i, const sectormap *d,
                          const unsigned char *label, int named)
{
    int64_t sectors = ((int64_t)p->last - p->first + 1) * cylinderbytes(d) / LOGICAL;

    if (sectors > INT32_MAX || (!necshape((int32_t)sectors, LOGICAL, 16, &p->shape) &&
                                !necshape((int32_t)sectors, LOGICAL, 12, &p->shape))) {
        fprintf(stderr, "Partition %d (%lld sectors of %d bytes) can hold no FAT12 or FAT16 "
                        "volume\n", i + 1, (long long)sectors, LOGICAL);
        return 0;
    }
    p->shape.sectorspertrack = d->diskspt;
    p->shape.heads = d->diskheads;
    // In 512-byte units whatever the disk's sectors, as NEC's MS-DOS writes it.
    p->shape.hidden = (uint32_t)((int64_t)p->first * cylinderbytes(d) / 512);
    memset(p->name, ' ', sizeof p->name);
    memcpy(p->name, named ? label : (const unsigned char *)"MS-DOS 6.20", 11);
    return 1;
}

// The system byte of a partition's sid: FAT12, FAT16 under 32 MB, or more.
static int32_t fatsystem(const volumeshape *s)
{
    if (s->fatbits == 12)
        return 0x01;
    return (int64_t)s->sectors * s->bytes < ((int64_t)32 << 20) ? 0x11 : 0x21;
}

// Writes n bytes at file offset at; 1 on success. What lies between is
// left unwritten: a hole of zeros, which costs no time to write.
static int putat(FILE *f, int64_t at, const unsigned char *b, int32_t n)
{
    return seekfile(f, at) && (int32_t)fwrite(b, 1, (size_t)n, f) == n;
}

// Writes the new disk d of n partitions after its header (hbytes long):
// the IPL sector, the table, each partition's boot sector, FATs and root,
// and the disk's last byte so that the file is the disk's size. 1 on
// success.
static int writedisk(FILE *f, const sectormap *d, int32_t hbytes, int32_t n, uint32_t serial,
                     const unsigned char *label, int labelled)
{
    static const unsigned char noname[11] = {'N', 'O', ' ', 'N', 'A', 'M', 'E', ' ', ' ', ' ', ' '};
    unsigned char sector[512];
    int ok = putat(f, 0, header, hbytes);

    makeiplsector(sector, d->diskbytes);
    ok = ok && putat(f, hbytes, sector, d->diskbytes);
    memset(sector, 0, sizeof sector);
    for (int32_t i = 0; i < n; i++)
        makeentry(sector + (size_t)i * 32, d, parts[i].first, parts[i].last,
                  fatsystem(&parts[i].shape), parts[i].name);
    ok = ok && putat(f, hbytes + (int64_t)d->diskbytes, sector, d->diskbytes);
    for (int32_t i = 0; ok && i < n; i++) {
        const volumeshape *s = &parts[i].shape;
        blanklabel l = {i == 0 ? label : noname, i == 0 && labelled, serial + (uint32_t)i};
        ok = seekfile(f, hbytes + parts[i].first * cylinderbytes(d)) &&
             writeblankhead(f, s, blanksystemsectors(s), &l, copybuf);
    }
    sector[0] = 0;
    return ok && putat(f, hbytes + diskbytesof(d) - 1, sector, 1);
}

// The container a new or converted hard disk goes in: -O's, else its
// name's; raw (by -O raw or a name such as .img or .hdd) is a raw disk.
// -1 after saying that it is a floppy container.
static int32_t diskformat(const imagejob *job)
{
    int32_t format = job->outformat >= 0 ? job->outformat : formatofname(job->out);

    if (format < 0 || format == CONTAINERRAW)
        return CONTAINERRAWHDD;
    if (!containerof(format)->header) {
        fprintf(stderr, "%s: %s images hold floppies, not hard disks; -O hdi, nhd, thd, vhd98 or "
                        "rawhdd holds a hard disk\n", job->out, containerof(format)->title);
        return -1;
    }
    return format;
}

// The header of format for the disk d into header: its size, or -1 after
// saying that format cannot hold d's geometry.
static int32_t diskheader(const imagejob *job, int32_t format, const sectormap *d)
{
    int32_t n = containerof(format)->header(header, d);

    if (n < 0)
        fprintf(stderr, "%s: %s images cannot hold a disk of %d cylinders, %d heads and %d "
                        "sectors a track of %d bytes%s\n", job->out, containerof(format)->title,
                d->diskcylinders, d->diskheads, d->diskspt, d->diskbytes,
                format == CONTAINERTHD ? " (only 8 heads and 33 sectors of 256 bytes)" : "");
    return n;
}

// dcpimage create of a hard disk of the geometry in d: 1 when it is in place.
int createdisk(const imagejob *job, const sectormap *d, const unsigned char *label,
               uint32_t serial)
{
    int32_t format = diskformat(job), hbytes, n;
    FILE *f;

    if (format < 0 || !largerthanfloppy(job, d) || (hbytes = diskheader(job, format, d)) < 0 ||
        (n = layoutpartitions(job->sizes, d)) < 0)
        return 0;
    for (int32_t i = 0; i < n; i++)
        if (!shapepartition(&parts[i], i, d, label, i == 0 && job->label))
            return 0;
    if (!mayoverwrite(job) || !(f = opentemp(job)))
        return 0;
    return finishtemp(job, writedisk(f, d, hbytes, n, serial, label, job->label != nullptr));
}

// Copies len bytes of the disk mapped in from, from disk byte at, to out at
// its position; past the end of a file that may end early, zeros. 1 on success.
static int copydisk(FILE *in, const sectormap *from, int64_t at, int64_t len, FILE *out)
{
    int ok = 1;

    while (ok && len > 0) {
        int32_t n = len < COPYBYTES ? (int32_t)len : COPYBYTES;
        ok = readdisk(in, from, from->diskbase + at, copybuf, n) &&
             (int32_t)fwrite(copybuf, 1, (size_t)n, out) == n;
        at += n;
        len -= n;
    }
    return ok;
}

// dcpimage convert of the hard disk mapped in from: the disk's bytes
// unchanged behind another container's header. 1 when it is in place.
int convertdisk(const imagejob *job, FILE *in, const sectormap *from)
{
    int32_t format = diskformat(job), hbytes;
    FILE *f;

    if (format < 0 || (hbytes = diskheader(job, format, from)) < 0)
        return 0;
    if (!mayoverwrite(job) || !(f = opentemp(job)))
        return 0;
    return finishtemp(job, (int32_t)fwrite(header, 1, (size_t)hbytes, f) == hbytes &&
                               copydisk(in, from, 0, diskbytesof(from), f));
}

// The bytes of the volume whose boot sector is boot: its sectors times
// their size, or -1 when it names no sectors of a size these tools read.
static int64_t volumesize(const unsigned char *boot)
{
    bootfields b;

    readbootfields(boot, &b);
    if (b.bytespersector < 128 || b.bytespersector > 4096 ||
        (b.bytespersector & (b.bytespersector - 1)) || b.totalsectors <= 0)
        return -1;
    return (int64_t)b.totalsectors * b.bytespersector;
}

// The volume's bytes of the partition mapped in m (its boot sector's
// size, which must lie inside it), or -1 after saying why not.
static int64_t partitionvolume(FILE *f, const sectormap *m, const char *path)
{
    unsigned char boot[BOOTBLOCKBYTES];
    int64_t size = readdisk(f, m, m->base, boot, sizeof boot) ? volumesize(boot) : -1;

    if (size < 0)
        fprintf(stderr, "%s: partition %d holds no FAT volume\n", path, m->chosen + 1);
    else if (size > m->limit)
        fprintf(stderr, "%s: the volume of partition %d (%lld bytes) is larger than the "
                        "partition (%lld bytes)\n", path, m->chosen + 1, (long long)size,
                (long long)m->limit);
    return size > m->limit ? -1 : size;
}

// dcpimage convert -p N of the hard disk in: that partition's volume
// written out as a raw volume. 1 when it is in place.
int convertpartition(const imagejob *job, FILE *in, int32_t container)
{
    int r = mapimagepart(in, &part, container, 0, job->from.partition);
    int64_t size;
    FILE *f;

    if (job->outformat >= 0 && job->outformat != CONTAINERRAW) {
        fprintf(stderr, "A partition's volume is written raw (-O raw)\n");
        return 0;
    }
    if (r != MAPOK) {
        fprintf(stderr, "%s: %s\n", job->in, r == MAPBADPARTITION ? part.said
                                                                  : volumemessage(VOLUMEMAPPED + r));
        return 0;
    }
    if ((size = partitionvolume(in, &part, job->in)) < 0 || !mayoverwrite(job) ||
        !(f = opentemp(job)))
        return 0;
    return finishtemp(job, copydisk(in, &part, part.base - part.diskbase, size, f));
}

// Maps partition job->from.partition of the hard disk at path into part:
// 1, or 0 after saying why not.
static int mapdiskpartition(const imagejob *job, const char *path)
{
    FILE *f = openinput(path);
    int32_t container = job->from.container >= 0 ? job->from.container : containerofname(path);
    int r = MAPUNREAD;

    if (!f)
        return 0;
    part.askheads = job->from.heads;
    part.askspt = job->from.spt;
    r = mapimagepart(f, &part, container >= 0 ? container : findcontainer(f, imagesize(f)), 0,
                     job->from.partition);
    fclose(f);
    if (r == MAPOK && !part.hard) {
        fprintf(stderr, "%s is no hard disk: -p is for a hard disk's partitions\n", path);
        return 0;
    }
    if (r != MAPOK)
        fprintf(stderr, "%s: %s\n", path, r == MAPBADPARTITION ? part.said
                                                             : volumemessage(VOLUMEMAPPED + r));
    return r == MAPOK;
}

// dcpimage wrap -p N VOLUME DISK: the raw volume written over partition N
// of the disk, through a copy renamed onto it; nothing else on the disk is
// touched. The volume must fit the partition and the file hold it.
int wrappartition(const imagejob *job)
{
    unsigned char boot[BOOTBLOCKBYTES];
    FILE *vol, *f;
    int64_t size;
    int ok;

    if (!mapdiskpartition(job, job->out) || !(vol = openinput(job->in)))
        return 0;
    size = readat(vol, 0, boot, sizeof boot) ? volumesize(boot) : -1;
    if (size < 0 || size > part.limit || imagesize(vol) < size) {
        fprintf(stderr, size < 0 ? "%s holds no FAT volume\n"
                : size > part.limit ? "%s: its volume is larger than partition %d of the disk\n"
                                    : "%s is shorter than the volume it holds\n",
                job->in, part.chosen + 1);
        fclose(vol);
        return 0;
    }
    f = startimagechange(&changed, job->out, copybuf, COPYBYTES);
    ok = f && seekfile(f, part.base);
    for (int64_t at = 0; ok && at < size; at += COPYBYTES) {
        int32_t n = size - at < COPYBYTES ? (int32_t)(size - at) : COPYBYTES;
        ok = readat(vol, at, copybuf, n) &&
             (changed.journaled ? journalwrite(changed.journaled, part.base + at, copybuf, n)
                                : (int32_t)fwrite(copybuf, 1, (size_t)n, f) == n);
    }
    fclose(vol);
    if (!f)
        return 0;
    ok = finishreplacement(&changed, ok);
    if (!ok)
        fprintf(stderr, "Could not write %s; %s\n", job->out, leftstate(&changed));
    return ok;
}
