// dcpimage's commands for every container: convert, protect and
// unprotect, and info of an image that is not a DCP one.
#include <cstring>

#include "tools/dcpimage/dcpimage.h"
#include "host/journal.h"
#include "tools/imageedit.h"
#include "tools/mapformat.h"

static sectormap from;
static diskprops dp;
static unsigned char trackbuf[TRACKBUFSIZE];
static unsigned char readahead[CACHEBYTES];
static unsigned char workbuf[WORKBUFSIZE];
static replacement protected_;

// The format a file name's extension says, or -1.
int32_t formatofname(const char *path)
{
    static const struct {
        const char *ext;
        int32_t format;
    } exts[] = {{"dcp", CONTAINERDCP}, {"dcu", CONTAINERDCP}, {"d88", CONTAINERD88},
                {"d98", CONTAINERD88}, {"88d", CONTAINERD88}, {"d77", CONTAINERD88},
                {"d68", CONTAINERD88}, {"fdi", CONTAINERFDI}, {"raw", CONTAINERRAW},
                {"nfd", CONTAINERNFD}, {"hdm", CONTAINERRAW}, {"img", CONTAINERRAW},
                {"ima", CONTAINERRAW}, {"xdf", CONTAINERRAW}, {"hd4", CONTAINERRAW},
                {"hd5", CONTAINERRAW}, {"dd9", CONTAINERRAW}, {"tfd", CONTAINERRAW},
                {"hdi", CONTAINERHDI}, {"nhd", CONTAINERNHD}, {"thd", CONTAINERTHD},
                {"hdd", CONTAINERRAW}, {"hdn", CONTAINERRAW}};
    const char *dot = strrchr(path, '.');
    char ext[4];

    if (!dot || strlen(dot + 1) != 3 || strchr(dot, '/'))
        return -1;
    for (int i = 0; i < 3; i++)
        ext[i] = (char)(dot[1 + i] >= 'A' && dot[1 + i] <= 'Z' ? dot[1 + i] + 32 : dot[1 + i]);
    ext[3] = '\0';
    for (const auto &e : exts)
        if (strcmp(e.ext, ext) == 0)
            return e.format;
    return -1;
}

// The standard type of the boot sector's parameter block at volume byte 0
// of a linear map: by its track geometry, else by the volume's size (mkfs.fat
// writes other sectors a track); or null.
static const floppytype *bootgeometry(FILE *f, const sectormap *m)
{
    unsigned char boot[BOOTBLOCKBYTES];

    if (!readat(f, m->base, boot, sizeof boot))
        return nullptr;
    return floppytypeofblock(boot, nullptr);
}

// Says that a compact DCP image's header lays out its tracks as layout (or
// no known type) while its volume is volume: nothing is written from it.
void putlayoutmismatch(const char *path, const floppytype *layout, const floppytype *volume)
{
    fprintf(stderr, "%s: its header lays its tracks out as %s, but its volume is %s; a compact "
                    "image read so would be read wrong: nothing written\n",
            path, layout ? layout->name : "no known type", volume->name);
}

// A DCP image read straight through holds its volume from byte 162 on,
// whatever its media byte says: the type its volume's parameter block
// gives is the one to write (a media byte of 0x05 on a 2hd volume would cut
// it to 720 KB). A compact one is laid out by its media byte, so the two
// must agree. MAPOK, or MAPUNKNOWNTYPE after saying how they disagree.
static int dcpvolumetype(FILE *f, const char *path)
{
    sectormap at162 = from;
    const floppytype *volume;

    at162.linear = 1;
    at162.base = DCPHEADERSIZE;
    volume = bootgeometry(f, &at162);
    if (!volume || volume == from.type)
        return MAPOK;
    if (from.linear) {
        from.type = volume;
        return MAPOK;
    }
    putlayoutmismatch(path, from.type, volume);
    return MAPUNKNOWNTYPE;
}

// Maps disk of the open file as container (-1: from its content) into
// from, its type found from the volume when the container does not say
// it: MAPOK, or why not.
static int mapsource(FILE *f, const char *path, int32_t container, int32_t disk)
{
    char looks[160];
    int r;

    if (container < 0) {
        container = findcontainer(f, imagesize(f));
        if (container == CONTAINERDCP && lookslike(f, imagesize(f), looks, (int32_t)sizeof looks)) {
            fprintf(stderr, "%s %s\n", path, looks);
            return MAPLOOKSLIKE;
        }
    }
    r = mapimage(f, &from, container, disk);
    if (r == MAPOK && container == CONTAINERDCP && (r = dcpvolumetype(f, path)) != MAPOK)
        return r;
    if (r == MAPOK && !from.type && from.linear)
        from.type = bootgeometry(f, &from);
    if (r == MAPOK && !from.type)
        r = MAPUNKNOWNTYPE;
    if (r != MAPOK)
        fprintf(stderr, "%s: %s\n", path, volumemessage(VOLUMEMAPPED + r));
    return r;
}

// 1 when the new image cannot do without the sector: it lacks it, on a
// track it holds in part when wholetracks is set (a DCP image can say that a
// whole track is not there, not that a sector is not).
static int cannotlack(newimage *n, int32_t s, int wholetracks)
{
    return !newsectorpresent(n, s) && (!wholetracks || trackpresent(n, s / n->type->sectors) > 0);
}

// Writes the sectors that the new image of n cannot lack, as ranges.
static void putabsent(FILE *out, newimage *n, int wholetracks)
{
    int32_t total = n->type->cylinders * n->type->heads * n->type->sectors, s = 0, count = 0;

    while (s < total) {
        int32_t end = s;
        if (!cannotlack(n, s, wholetracks)) {
            s++;
            continue;
        }
        while (end + 1 < total && cannotlack(n, end + 1, wholetracks))
            end++;
        fprintf(out, count++ ? ",%d" : "%d", s);
        if (end > s)
            fprintf(out, "-%d", end);
        s = end + 1;
    }
    if (count == 0)
        fputs("none", out);
}

// Writes the new image of format from the map over in to job->out, through
// a temporary file; 1 when it is in place.
int writenew(const imagejob *job, int32_t format, FILE *in, const sectormap *map,
             const floppytype *type)
{
    static const unsigned char noname[17] = {0};
    newimage n = {in,           map,  type, job->fill, map->protect,
                  map->container == CONTAINERD88 ? map->name : noname, readahead, -1, 0,
                  job->compact};
    FILE *f;
    int r;

    if (!containerof(format)->write) {
        fprintf(stderr, "%s: dcpimage does not make %s images\n", job->out,
                containerof(format)->title);
        return 0;
    }
    if (!mayoverwrite(job) || !(f = opentemp(job)))
        return 0;
    r = containerof(format)->write(f, &n, trackbuf);
    if (r != WRITENEEDSFILL)
        return finishtemp(job, r == WRITEOK);
    fprintf(stderr, "%s lacks sectors ", job->in);
    putabsent(stderr, &n, format == CONTAINERDCP);
    fprintf(stderr, format == CONTAINERDCP ? " of tracks it holds in part; a DCP image leaves out "
                                             "whole tracks only: --fill BYTE fills them\n"
                                           : "; a %s image cannot leave them out: --fill BYTE "
                                             "fills them\n",
            containerof(format)->title);
    droptemp();
    return 0;
}

// dcpimage convert of a hard disk: the disk in another hard-disk
// container, or with -p one partition's volume as a raw volume.
static int convertharddisk(const imagejob *job, FILE *in, int32_t container, int32_t format)
{
    if (job->from.partition >= 0)
        return convertpartition(job, in, container);
    if (format >= 0 && !containerof(format)->header && format != CONTAINERRAW) {
        fprintf(stderr, "%s is a hard disk, and %s images hold floppies: convert does not change "
                        "one into the other (-p N writes a partition's volume out raw)\n",
                job->in, containerof(format)->title);
        return 0;
    }
    return convertdisk(job, in, &from);
}

// dcpimage convert: the volume's sectors, unchanged, in another container;
// a hard disk's bytes, unchanged, in another hard-disk container.
int convert(const imagejob *job)
{
    int32_t format = job->outformat >= 0 ? job->outformat : formatofname(job->out), container;
    int32_t asked = job->from.container >= 0 ? job->from.container : containerofname(job->in);
    FILE *in = openinput(job->in);
    int ok;

    if (!in)
        return 0;
    container = asked >= 0 ? asked : findcontainer(in, imagesize(in));
    from.askheads = job->from.heads;
    from.askspt = job->from.spt;
    if (containerof(container)->header && mapimage(in, &from, container, 0) == MAPOK) {
        ok = convertharddisk(job, in, container, format);
        fclose(in);
        return ok;
    }
    if (format < 0 || job->from.partition >= 0 || containerof(format)->header) {
        fprintf(stderr, format < 0 ? "The name %s says no format; -O dcp, d88, fdi, nfd or raw "
                                     "says it\n"
                : job->from.partition >= 0 ? "%s is no hard disk: -p is for a hard disk's "
                                             "partitions\n"
                                           : "%s is a floppy, and hard-disk images hold hard "
                                             "disks: convert does not change one into the "
                                             "other\n",
                format < 0 ? job->out : job->in);
        fclose(in);
        return 0;
    }
    ok = mapsource(in, job->in, asked, job->from.disk) == MAPOK &&
         writenew(job, format, in, &from, from.type);
    fclose(in);
    return ok;
}

// The volume of job->in read as informat, of type (whatever the container
// says), written as outformat to job->out: wrap and unwrap, once they have
// looked at the input. It must still hold every sector but those a compact
// map leaves out (it may have changed since). 1 on success.
int convertvolume(const imagejob *job, int32_t informat, int32_t outformat,
                  const floppytype *type)
{
    FILE *in = openinput(job->in);
    int ok;

    if (!in) {
        return 0;
    }
    ok = mapimage(in, &from, informat, 0) == MAPOK;
    // A DCP header's tracks laid out as the type given, when it names none.
    if (ok && informat == CONTAINERDCP)
        ok = mapdcpas(in, &from, type) == MAPOK;
    from.type = type;
    if (ok && from.linear) {
        newimage whole = {in, &from, type, -1, 0, nullptr, readahead, -1, 0, 0};
        ok = firstabsent(&whole) < 0;
    }
    if (!ok)
        fprintf(stderr, "Could not read %s\n", job->in);
    ok = ok && writenew(job, outformat, in, &from, type);
    fclose(in);
    return ok;
}

// The write-protect flag of every disk of the image at path (D88: each of
// its disks), into at[], at most most of them: how many, or -1 after saying
// why there is none.
static int32_t protectflags(const char *path, int32_t container, int64_t *at, int32_t most)
{
    FILE *f = openinput(path);
    int32_t n = 0;

    if (!f) {
        return -1;
    }
    if (container < 0)
        container = containerofname(path);
    if (container < 0)
        container = findcontainer(f, imagesize(f));
    if (containerof(container)->header) {
        fprintf(stderr, "%s is a hard disk (%s): no hard-disk header has a write-protect flag\n",
                path, containerof(container)->title);
        fclose(f);
        return -1;
    }
    do {
        if (mapsource(f, path, container, n) != MAPOK)
            n = -1;
        else if (from.protectat < 0 || !containerof(container)->protecton)
            fprintf(stderr, "%s is a %s image, which has no write-protect flag\n", path,
                    containerof(container)->title);
        else
            at[n++] = from.protectat;
    } while (n > 0 && n < from.disks && n < most && from.protectat >= 0);
    fclose(f);
    return n > 0 && from.protectat >= 0 ? n : -1;
}

// dcpimage protect and unprotect: the flag set or cleared in every disk,
// through a copy renamed onto the image.
int protect(const imagejob *job, int on)
{
    static int64_t at[64];
    int32_t n = protectflags(job->in, job->from.container, at, 64), why, i;
    FILE *f;
    int ok;

    if (n < 0)
        return 0;
    f = startreplacement(&protected_, job->in, 1, trackbuf, TRACKBUFSIZE, &why);
    if (!f) {
        fprintf(stderr, "Could not write a temporary file beside %s\n", job->in);
        return 0;
    }
    ok = 1;
    for (i = 0; ok && i < n; i++) {
        unsigned char flag = (unsigned char)(on ? containerof(from.container)->protecton : 0);
        ok = protected_.journaled ? journalwrite(protected_.journaled, at[i], &flag, 1)
                                  : seekimage(f, at[i]) && fputc(flag, f) != EOF;
    }
    ok = finishreplacement(&protected_, ok);
    if (!ok)
        fprintf(stderr, "Could not write %s; %s\n", job->in, leftstate(&protected_));
    return ok;
}

// Prints what the volume of the disk just mapped says against its
// container; 0 when the programs cannot read it right.
static int infodisk(FILE *f, const char *prefix, int utf8)
{
    const floppytype *t = from.type;
    int stage, ok = 1;

    printf("%stype: %s (%d cylinders, %d heads, %d sectors a track of %d bytes)\n", prefix,
           t->name, t->cylinders, t->heads, t->sectors, t->bytes);
    if (from.container == CONTAINERD88) {
        printf("%sname: ", prefix);
        putimagepath(stdout, from.name, (int32_t)strlen((const char *)from.name), utf8, ITEMSHOWN);
        putchar('\n');
    }
    printf("%swrite-protected: %s\n", prefix,
           from.protectat < 0 ? "no (the container has no flag)" : from.protect ? "yes" : "no");
    newimage n = {f, &from, t, -1, 0, nullptr, readahead, -1, 0, 0};
    printf("%slacks sectors: ", prefix);
    putabsent(stdout, &n, 0);
    printf("\n%sread with errors: %d sectors\n", prefix, from.errors);
    initdiskprops(&dp);
    dp.map = &from;
    stage = loadvolume(f, &dp, workbuf);
    if (stage != VOLUMEOPEN) {
        printf("%sproblem: %s", prefix, volumemessage(stage));
        if (dp.lacking >= 0)
            printf(": sector %d is not in the image", dp.lacking);
        putchar('\n');
        ok = 0;
    } else if (dp.bytespersector != t->bytes ||
               dp.totalsectors != t->cylinders * t->heads * t->sectors) {
        printf("%sproblem: the volume's geometry (%d sectors of %d bytes) is not that of %s\n",
               prefix, dp.totalsectors, dp.bytespersector, t->name);
        ok = 0;
    }
    freediskprops(&dp);
    return ok;
}

// Prints the volume's label: its root's label entry, else "none".
static void putvolumelabel(FILE *out, const diskprops *d)
{
    int32_t at = findlabel(d), n = 11;

    fputs("label: ", out);
    while (at >= 0 && n > 0 && d->dirbuf[at + n - 1] == ' ')
        n--;
    if (at >= 0)
        putimagepath(out, d->dirbuf + at, n, 0, ITEMSHOWN);
    fputs(at >= 0 ? "\n" : "none\n", out);
}

// Prints what a volume that no floppy type lays out says (a raw volume of
// any size): its FAT, its parameter block and the file's size against it;
// 0 when the programs cannot read it.
static int infolinear(FILE *f)
{
    int stage;
    int ok;

    initdiskprops(&dp);
    dp.map = &from;
    stage = loadvolume(f, &dp, workbuf);
    ok = stage == VOLUMEOPEN;
    if (ok) {
        int64_t want = (int64_t)dp.totalsectors * dp.bytespersector;
        int64_t holds = from.limit >= 0 ? from.limit : from.filesize;
        printf("volume: FAT%d, %d sectors of %d bytes, %d a cluster, %d FATs of %d sectors, %d "
               "root entries, media descriptor 0x%02X\n", dp.fatbits, dp.totalsectors,
               dp.bytespersector, dp.sectorspercluster, dp.fatcount, dp.sectorsperfat,
               dp.rootentries, dp.mediadescriptor);
        printf("size: %lld bytes; the volume calls for %lld\n", (long long)holds,
               (long long)want);
        // Where a loader finds a volume sector on the disk.
        if (from.hard && dp.bytespersector % from.diskbytes == 0)
            printf("position: volume sector s is disk sector %lld + %d s\n",
                   (long long)from.part[from.chosen].first, dp.bytespersector / from.diskbytes);
        if (from.hard)
            putvolumelabel(stdout, &dp);
        if (from.hard && want > holds) {
            printf("problem: the volume is larger than its partition\n");
            ok = 0;
        }
    } else {
        printf("problem: %s\n", volumemessage(stage));
    }
    freediskprops(&dp);
    return ok;
}

// Prints what the IPL sector of the hard disk mapped in from carries: the
// "IPL1" of an initialised disk and the 55 AA of a partitioned one.
static void putipl(FILE *f)
{
    unsigned char s[512];
    int32_t n = from.diskbytes;

    if (!readdisk(f, &from, from.diskbase, s, n)) {
        printf("ipl: not in the image\n");
        return;
    }
    printf("ipl: %s, %s\n", memcmp(s + 4, "IPL1", 4) == 0 ? "IPL1" : "no IPL1",
           s[n - 2] == 0x55 && s[n - 1] == 0xAA ? "55 AA" : "no 55 AA");
}

// dcpimage info of an image that is not a DCP one: the container, then for
// each disk its type, protection, the sectors it lacks or holds with
// errors, and what disagrees.
// Prints a hard disk's geometry, every entry of its partition table and
// the volume of each FAT partition; 0 when any entry or volume is wrong.
static int infoharddisk(FILE *f, const imagejob *job, int32_t container)
{
    static partentry parts[PARTITIONSMAX];
    int ok = readpartitions(f, &from) == MAPOK;
    int32_t n = from.partitions;

    if (!ok) {
        printf("problem: %s\n", volumemessage(VOLUMEMAPPED + MAPUNREAD));
        return 0;
    }
    printf("disk: %d cylinders, %d heads, %d sectors a track of %d bytes\n", from.diskcylinders,
           from.diskheads, from.diskspt, from.diskbytes);
    putipl(f);
    // Kept apart: mapping a partition below maps the disk again.
    memcpy(parts, from.part, sizeof parts);
    for (int32_t i = 0; i < n; i++) {
        const partentry *p = &parts[i];
        int32_t fs = p->sid & 0x7F;
        printf("partition %d: mid 0x%02X, sid 0x%02X (%s, %s), name ", i + 1, p->mid, p->sid,
               p->sid & 0x80 ? "active" : "sleeping",
               fs == 0x01 ? "FAT12" : fs == 0x11 || fs == 0x21 ? "FAT16" : "not FAT");
        putimagepath(stdout, p->name, (int32_t)strlen((const char *)p->name), job->utf8, ITEMSHOWN);
        printf(", cylinders %d to %d, disk sectors %lld to %lld\n", p->startcyl, p->endcyl,
               (long long)p->first, (long long)(p->first + p->count - 1));
        if (p->problem) {
            printf("problem: partition %d: %s\n", i + 1, p->why);
            ok = 0;
        } else if (fs == 0x01 || fs == 0x11 || fs == 0x21) {
            ok = (mapimagepart(f, &from, container, 0, i) == MAPOK && infolinear(f)) && ok;
        }
    }
    if (n == 0) {
        printf("problem: %s\n", volumemessage(VOLUMEMAPPED + MAPNOPARTITION));
        ok = 0;
    }
    return ok;
}

int infocontainer(const imagejob *job, int32_t container)
{
    FILE *f = openinput(job->in);
    int32_t disk = 0;
    int ok = 1;
    char prefix[32];

    if (!f) {
        return 0;
    }
    printf("image: %s\ncontainer: %s\n", job->in, containerof(container)->title);
    // A hard disk: the disk is mapped, its partitions are read below.
    from.askheads = job->from.heads;
    from.askspt = job->from.spt;
    if (mapimage(f, &from, container, 0) == MAPOK && from.hard) {
        ok = infoharddisk(f, job, container);
        fclose(f);
        printf("agrees: %s\n", ok ? "yes" : "no");
        return ok;
    }
    do {
        int r = mapimagepart(f, &from, container, disk, PARTITIONTHEONLY);
        if (r == MAPOK && !from.type && from.linear && !from.hard)
            from.type = bootgeometry(f, &from);
        prefix[0] = '\0';
        if (from.disks > 1)
            snprintf(prefix, sizeof prefix, "disk %d: ", disk + 1);
        if (disk == 0 && from.disks > 1)
            printf("disks: %d\n", from.disks);
        if (r == MAPOK && !from.type && from.linear) {
            ok = infolinear(f) && ok;
        } else if (r != MAPOK || !from.type) {
            printf("%sproblem: %s\n", prefix,
                   volumemessage(VOLUMEMAPPED + (r != MAPOK ? r : MAPUNKNOWNTYPE)));
            ok = 0;
        } else {
            ok = infodisk(f, prefix, job->utf8) && ok;
        }
    } while (++disk < from.disks);
    fclose(f);
    printf("agrees: %s\n", ok ? "yes" : "no");
    return ok;
}
