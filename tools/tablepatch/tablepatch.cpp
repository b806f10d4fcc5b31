// tablepatch image fixup-list [bias]: collects a table of 4-byte records
// (value, first sector less bias) from the fixup list and writes it into the
// file that the list's first line names, at the offset it gives.
#include <cstdio>
#include <cstring>

#include "host/journal.h"
#include "listfile/listfile.h"
#include "tools/toolinfo.h"
#include "volume/volume.h"

enum { TABLEBUFSIZE = 16384, RECORDSIZE = 4, TARGETPATHMAX = 255 };

// What the list has given so far.
struct fixup {
    unsigned char target[TARGETPATHMAX + 1];
    int32_t targetlen;
    int32_t offset;
    int32_t bias;
    int32_t tablelen;
    int32_t line;
};

static const char usage[] =
    "Usage: tablepatch IMAGE FIXUPS [BIAS]\n"
    "Line 1 of FIXUPS is \"OFFSET PATH\": the file inside IMAGE (a floppy or\n"
    "hard-disk image) that receives the table, and the byte offset in it. Every\n"
    "further line adds one 4-byte record: \"VALUE PATH\" gives VALUE and the\n"
    "first sector of PATH less BIAS (both 16-bit, little-endian); \"VALUE\"\n"
    "alone gives VALUE and 0; an empty line gives 0 and 0. The table is\n"
    "written after the last line.\n"
    "Exit status: 0 on success, 1 on failure.\n";

static unsigned char workbuf[WORKBUFSIZE];
static unsigned char tablebuf[TABLEBUFSIZE];
static diskprops dp;
static sectormap map; // where the volume's sectors lie in the image's container
static const char *imagename;

// The optional bias: digits after an optional minus; anything else counts as 0.
static int32_t parsebias(const char *arg)
{
    int negative = arg[0] == '-';
    const char *digits = arg + negative;
    int32_t v = parsenum((const unsigned char *)digits, (int32_t)strlen(digits));

    if (v == -1)
        v = 0;
    return negative ? -v : v;
}

// Line 1: the offset and the target path, copied out because the buffer moves on.
static int targetline(fixup *fx, const itemspan *items, int32_t count)
{
    int32_t len;

    if (count < 2)
        return 1;
    len = items[1].end - items[1].start;
    fx->targetlen = len > TARGETPATHMAX ? TARGETPATHMAX : len;
    memcpy(fx->target, workbuf + items[1].start, (size_t)fx->targetlen);
    fx->offset = parsenum(workbuf + items[0].start, items[0].end - items[0].start);
    if (fx->offset < 0) {
        puts("Bad file offset");
        return 0;
    }
    return 1;
}

// Any later line: one record. A path that is not found is reported and
// gets sector 0; only a table that would overflow its buffer ends the run.
static int entryline(FILE *image, fixup *fx, const itemspan *items, int32_t count)
{
    int32_t value = 0, sector = 0, found;

    if (fx->tablelen + RECORDSIZE > TABLEBUFSIZE) {
        printf("Too many entries in fixup list: line %d does not fit in the table of %d "
               "records\n", fx->line, TABLEBUFSIZE / RECORDSIZE);
        return 0;
    }
    if (count >= 1 && (value = parsenum(workbuf + items[0].start,
                                        items[0].end - items[0].start)) == -1)
        value = 0;
    if (count == 2) {
        found = getfilesector(image, &dp, workbuf + items[1].start,
                              items[1].end - items[1].start);
        // A directory on the way that the image's container lacks is no
        // missing file: the table would be wrong.
        if (found == -1 && dp.lacking >= 0) {
            printf("Sector %d is not in %s\n", dp.lacking, imagename);
            return 0;
        }
        if (found == -1) {
            printf("Couldn't get sector for file on line %d\n", fx->line);
            fflush(stdout);
        } else if ((int64_t)found - fx->bias > 0xFFFF) {
            // A hard disk's volume has sectors past what the record holds:
            // cut to 16 bits, the table would send the loader elsewhere.
            fwrite(workbuf + items[1].start, 1, (size_t)(items[1].end - items[1].start), stdout);
            printf(": sector %d", found);
            if (fx->bias != 0)
                printf(" less bias %d is %lld, which", fx->bias, (long long)found - fx->bias);
            puts(" does not fit in a 16-bit record; nothing written");
            return 0;
        } else {
            sector = (int32_t)((uint32_t)found - (uint32_t)fx->bias);
        }
    }
    setu16l(tablebuf + fx->tablelen, value);
    setu16l(tablebuf + fx->tablelen + 2, sector);
    fx->tablelen += RECORDSIZE;
    return 1;
}

// Reads the list to its last line, building the table; 1 on success.
static int readfixups(FILE *image, FILE *list, fixup *fx, const char *listname)
{
    int32_t bufused, linestart = 0, lineend = 0, count;
    unsigned char lastcr = 0;
    itemspan items[2];
    int more = 1, ok = 1;

    bufused = (int32_t)fread(workbuf, 1, WORKBUFSIZE, list);
    while (ok && more) {
        fx->line++;
        more = nextline(list, workbuf, WORKBUFSIZE, &bufused, &linestart, &lineend, &lastcr);
        count = getlineitems(workbuf, linestart, contentend(workbuf, linestart, lineend),
                             items, 2);
        ok = fx->line == 1 ? targetline(fx, items, count) : entryline(image, fx, items, count);
    }
    // A read error looks like the list's end; a partial table must not be written.
    if (ok && ferror(list)) {
        printf("Could not read fixup list file %s\n", listname);
        ok = 0;
    }
    return ok;
}

// Opens the list and the volume, builds the table and writes it; 1 on success.
static int patchimage(FILE *image, char **argv, fixup *fx)
{
    FILE *list = fopen(argv[2], "rb");
    int ok;

    if (!list) {
        printf("Could not open fixup list file %s for reading\n", argv[2]);
        return 0;
    }
    imagename = argv[1];
    ok = openimagevolume(image, &dp, &map, workbuf, argv[1]) &&
         imagewritable(stdout, &dp, argv[1]) && readfixups(image, list, fx, argv[2]);
    if (ok && !patchfile(image, &dp, fx->target, fx->targetlen, fx->offset, tablebuf,
                         fx->tablelen)) {
        puts("Could not patch file");
        if (dp.lacking >= 0)
            printf("Sector %d is not in %s\n", dp.lacking, argv[1]);
        ok = 0;
    }
    fclose(list);
    return ok;
}

// Opens the image, patches it and closes it; the close is checked because
// it flushes the table's last bytes into the image.
static int run(char **argv, fixup *fx)
{
    // A change to the image that was cut short is rolled back first.
    FILE *image = journalopening(argv[1]) ? fopen(argv[1], "rb+") : nullptr;
    int ok;

    if (!image) {
        printf("Could not open DCP file %s for reading\n", argv[1]);
        return 0;
    }
    ok = patchimage(image, argv, fx);
    if (fclose(image) != 0 && ok) {
        printf("Could not write DCP file %s\n", argv[1]);
        ok = 0;
    }
    return ok;
}

int main(int argc, char **argv)
{
    static fixup fx;
    int ok = 0, info;

    if ((info = infoargument(argc, argv, "tablepatch", usage)) != 0) {
        ok = info > 0;
    } else if (argc < 3) {
        fputs("Expects two or three arguments.", stdout);
    } else {
        fx.bias = argc > 3 ? parsebias(argv[3]) : 0;
        initdiskprops(&dp);
        ok = run(argv, &fx);
        freediskprops(&dp);
    }
    fflush(stdout);
    return ok ? 0 : 1;
}
