// Fuzz target: a damaged or hostile image in any container (DCP, raw, D88,
// FDI, NFD, found from its content as the programs find it, or said as -F
// and -d say it). The input is two bytes (the list's length in the low 13
// bits; in the top 3, 0 for the container found from the content, 1 to 5
// for one said outright, 6 and 7 for the second disk), that many bytes of
// list text, and the image. The
// container is mapped and the volume opened through it, the
// list's paths looked up, the whole tree walked with every chain as runs,
// a few sectors told, and the table written with patchfile into the target
// that the first line names; nothing outside the data area of the volume
// may change. Then every line is planned as a put (its number a size) and,
// when all can be done and the image holds them, written as sectput writes
// them; nothing outside the volume's FAT, root and data may change. Nothing
// may crash, hang or stray out of bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "listfile/listfile.h"
#include "volume/volume.h"

static diskprops dp;
static sectormap map;
static unsigned char workbuf[WORKBUFSIZE];
static unsigned char listbuf[256];
static dirwalk walk;
static chainwalk chain;
static putplan plan;
static unsigned char owners[CLUSTERSLOTS];

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // openvolume reports on standard output; the fuzzer needs none of it.
    if (!freopen("/dev/null", "w", stdout))
        abort();
    return 0;
}

// Looks up every line's path; the first line with two items gives the
// patch target and offset. 1 when a target was found.
static int lookups(FILE *image, const uint8_t *list, size_t len, unsigned char *target,
                   int32_t *targetlen, int32_t *offset)
{
    FILE *f = fmemopen((void *)list, len, "rb");
    int32_t bufused, linestart = 0, lineend = 0, n, lines = 0;
    unsigned char lastcr = 0;
    itemspan items[2];
    int more = 1, found = 0;

    if (!f)
        return 0;
    bufused = (int32_t)fread(listbuf, 1, sizeof listbuf, f);
    while (more && lines++ < 16) {
        more = nextline(f, listbuf, sizeof listbuf, &bufused, &linestart, &lineend, &lastcr);
        n = getlineitems(listbuf, linestart, contentend(listbuf, linestart, lineend), items, 2);
        if (n != 2)
            continue;
        getfilesector(image, &dp, listbuf + items[1].start, items[1].end - items[1].start);
        if (!found) {
            *targetlen = items[1].end - items[1].start;
            memcpy(target, listbuf + items[1].start, (size_t)*targetlen);
            *offset = parsenum(listbuf + items[0].start, items[0].end - items[0].start);
            found = *offset >= 0;
        }
    }
    fclose(f);
    return found;
}

// Walks the tree as sectmap lists it, every chain to its end, its damage or
// a cluster an earlier chain took; a sound chain never holds more clusters
// than there are.
static void walktree(FILE *image)
{
    int32_t at, a, b;
    int kind;

    startwalk(&dp, &walk);
    claimchains(&chain);
    while ((at = nextentry(image, &dp, &walk, &kind)) >= 0) {
        startchain(&chain, entrycluster(&dp, at));
        while (nextrun(&dp, &chain, &a, &b))
            if (a > b || chain.clusters > dp.endofchain - 2)
                abort();
    }
}

// Tells what a few sectors hold, spread over the volume and past it.
static void tellsectors(FILE *image, uint32_t seed)
{
    int32_t detail, index;

    for (int i = 0; i < 4; i++) {
        int32_t sector = (int32_t)((seed >> (8 * i)) & 0xFF) * (i + 1) * 7;
        if (sectorarea(&dp, sector, &detail) == SECTORDATA &&
            findowner(image, &dp, &walk, &chain, detail, &index) < 0)
            clusterstate(&dp, detail);
    }
}

// Aborts when a byte changed that is not a data byte of a volume sector
// from first up to end, exclusive: through the map, or straight through.
// Only the blocks that differ are looked at byte by byte, so that the work
// is a compare of the input's size, and the map's sectors, no more.
static void checkchanged(const uint8_t *before, const unsigned char *after, size_t n,
                         int32_t first, int32_t end)
{
    static unsigned char allowed[1 << 22];
    int64_t lo = (int64_t)first * dp.bytespersector;
    int64_t hi = (int64_t)end * dp.bytespersector;
    int mapped = mappedimage(&dp);

    if (memcmp(before, after, n) == 0)
        return;
    if (mapped && n > sizeof allowed)
        abort(); // the length limit keeps inputs far below this
    if (mapped) {
        memset(allowed, 0, n);
        for (int32_t s = first; s < end; s++) {
            int64_t off = sectoroffset(dp.map, s, dp.bytespersector);
            if (off >= 0 && off < (int64_t)n)
                memset(allowed + off, 1,
                       (size_t)(off + dp.bytespersector <= (int64_t)n ? dp.bytespersector
                                                                       : (int64_t)n - off));
        }
    }
    for (size_t i = 0; i < n; i += 64) {
        size_t k = n - i < 64 ? n - i : 64;
        if (memcmp(before + i, after + i, k) == 0)
            continue;
        for (size_t j = i; j < i + k; j++) {
            int ok = mapped ? allowed[j] : (int64_t)j >= lo && (int64_t)j < hi;
            if (before[j] != after[j] && !ok)
                abort();
        }
    }
}

// Plans a put per line (size from its first item) and writes them all, as
// sectput does, when every one can be done inside the image's imagelen bytes.
static void putlines(FILE *image, const uint8_t *list, size_t len, size_t imagelen)
{
    FILE *f = fmemopen((void *)list, len, "rb");
    int32_t bufused, linestart = 0, lineend = 0, n, lines = 0, c;
    unsigned char lastcr = 0;
    itemspan items[2];
    fattime t = {0, 0x21};
    int more = 1, ok = 1;

    if (!f)
        return;
    initputplan(&plan, (int)(len & 1));
    // As sectput: no chain that crosses another is freed or written through.
    countowners(image, &dp, &walk, &chain, owners);
    plan.owners = owners;
    bufused = (int32_t)fread(listbuf, 1, sizeof listbuf, f);
    while (ok && more && lines++ < 16) {
        more = nextline(f, listbuf, sizeof listbuf, &bufused, &linestart, &lineend, &lastcr);
        n = getlineitems(listbuf, linestart, contentend(listbuf, linestart, lineend), items, 2);
        if (n == 2) {
            int32_t size = parsenum(listbuf + items[0].start, items[0].end - items[0].start);
            ok = putfile(image, &dp, &plan, listbuf + items[1].start,
                         items[1].end - items[1].start, size < 0 ? 0 : (uint32_t)size,
                         &t) == PUTOK;
        }
    }
    fclose(f);
    // As sectput: a list that puts nothing writes nothing.
    if (!ok || plan.put == 0 || (mappedimage(&dp) ? !planinimage(&dp, &plan, (int64_t)imagelen)
                                 : putreach(&dp, &plan) > (int64_t)imagelen))
        return;
    for (c = 2; c < CLUSTERSLOTS; c++)
        if (plan.planned[c] && mappedimage(&dp)) {
            static unsigned char fill[1024];
            memset(fill, 0x5A, sizeof fill);
            for (int32_t k = 0; k < dp.sectorspercluster; k++)
                writeimage(image, &dp, clusteroffset(&dp, c) + (int64_t)k * dp.bytespersector,
                           fill, dp.bytespersector);
        } else if (plan.planned[c] && seekimage(image, clusteroffset(&dp, c))) {
            for (int32_t i = 0; i < dp.clusterbytes; i++)
                fputc(0x5A, image);
        }
    writedirectories(image, &dp, plan.dirty, plan.rootdirty);
    writefats(image, &dp, workbuf);
    fflush(image);
}


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static unsigned char table[4096];
    unsigned char target[256];
    int32_t targetlen = 0, offset = 0;
    size_t listlen, imagelen;
    unsigned char *image;
    int opened, mode;
    FILE *f;

    if (size < 2)
        return 0;
    listlen = (size_t)(data[0] | (data[1] & 0x1F) << 8);
    mode = data[1] >> 5;
    listlen = listlen > size - 2 ? size - 2 : listlen;
    imagelen = size - 2 - listlen;
    image = (unsigned char *)calloc(imagelen + 1, 1);
    memcpy(image, data + 2 + listlen, imagelen);
    f = fmemopen(image, imagelen ? imagelen : 1, "r+");
    if (!f) {
        free(image);
        return 0;
    }
    initdiskprops(&dp);
    initchainwalk(&chain);
    // Modes 1 to 5 say a floppy container outright (the seeds' numbering),
    // 6 the second disk, 7 a hard disk's second partition.
    opened = loadimage(f, &dp, &map, mode >= 1 && mode <= 5 ? mode - 1 : -1, mode == 6 ? 1 : 0,
                       mode == 7 ? 1 : PARTITIONTHEONLY, workbuf) == VOLUMEOPEN;
    if (opened) {
        walktree(f);
        tellsectors(f, (uint32_t)size * 2654435761u);
    }
    if (opened && lookups(f, data + 2, listlen, target, &targetlen, &offset)) {
        for (size_t i = 0; i < sizeof table; i++)
            table[i] = (unsigned char)(i * 7 + 1);
        patchfile(f, &dp, target, targetlen, offset, table, (int32_t)(listlen % sizeof table));
        fflush(f);
        // Nothing outside the volume's data area.
        checkchanged(data + 2 + listlen, image, imagelen, dp.datastart, dp.totalsectors);
    }
    if (opened) {
        putlines(f, data + 2, listlen, imagelen);
        // Nothing but the volume's sectors past the boot sector: no header,
        // no sector header, no other disk.
        checkchanged(data + 2 + listlen, image, imagelen,
                     dp.reservedsectors > 1 ? dp.reservedsectors : 1, dp.totalsectors);
    }
    fclose(f);
    freediskprops(&dp);
    free(image);
    return 0;
}
