// sectdefs image list output: writes "%define SYMBOL SECTOR" for every line
// of the sector fetch list whose path is found in the DCP image.
#include <cstdio>

#include "host/journal.h"
#include "listfile/listfile.h"
#include "outbuf.h"
#include "tools/toolinfo.h"
#include "volume/volume.h"

static const char usage[] =
    "Usage: sectdefs IMAGE LIST OUTPUT\n"
    "Writes \"%define SYMBOL SECTOR\" to OUTPUT for every line \"SYMBOL PATH\" of\n"
    "LIST whose PATH (backslash-separated 8.3 names, from the root) is found\n"
    "in the FAT volume of IMAGE (a floppy or hard-disk image). SECTOR is the\n"
    "first logical sector, counted from the volume's boot sector. Other lines\n"
    "are skipped.\n"
    "Exit status: 0 on success, 1 on failure.\n";

static unsigned char workbuf[WORKBUFSIZE];
static unsigned char outbuf[OUTBUFSIZE];
static diskprops dp;
static sectormap map; // where the volume's sectors lie in the image's container
static const char *imagename;

// Appends the line's %define when it pairs a symbol with a path that is
// found; 0 when the lookup needed a sector that the image's container lacks.
static int defineline(FILE *image, FILE *out, int32_t start, int32_t end, int32_t *fill)
{
    itemspan items[2];
    char num[NUMTEXTSIZE];
    int32_t sector, count;

    if (getlineitems(workbuf, start, end, items, 2) != 2)
        return 1;
    sector = getfilesector(image, &dp, workbuf + items[1].start, items[1].end - items[1].start);
    if (sector == -1)
        return dp.lacking < 0;
    bufferwritez(out, outbuf, OUTBUFSIZE, "%define ", fill);
    bufferwrite(out, outbuf, OUTBUFSIZE, workbuf + items[0].start,
                items[0].end - items[0].start, fill);
    bufferwritez(out, outbuf, OUTBUFSIZE, " ", fill);
    count = printnum(num, sector);
    bufferwrite(out, outbuf, OUTBUFSIZE, (const unsigned char *)num, count, fill);
    bufferwritez(out, outbuf, OUTBUFSIZE, "\n", fill);
    return 1;
}

// Reads the whole list and writes its lines; 1 on success. A list that could
// not be read to its end gives 0 and no final write, so that a short include
// file is never reported as complete.
static int definelist(FILE *image, FILE *list, FILE *out, const char *listname)
{
    int32_t bufused, linestart = 0, lineend = 0, fill = 0;
    unsigned char lastcr = 0;
    int more = 1;

    bufused = (int32_t)fread(workbuf, 1, WORKBUFSIZE, list);
    while (more) {
        more = nextline(list, workbuf, WORKBUFSIZE, &bufused, &linestart, &lineend, &lastcr);
        if (!defineline(image, out, linestart, contentend(workbuf, linestart, lineend), &fill)) {
            printf("Sector %d is not in %s\n", dp.lacking, imagename);
            return 0;
        }
    }
    if (ferror(list)) {
        printf("Could not read sector fetch list file %s\n", listname);
        return 0;
    }
    if (fill > 0)
        fwrite(outbuf, 1, (size_t)fill, out);
    return 1;
}

// Opens the image and the list, then the volume, and writes the defines.
static int run(char **argv, FILE *out)
{
    FILE *image, *list;
    int ok = 0;

    // A change to the image that was cut short is rolled back first.
    if (!journalopening(argv[1]))
        return 0;
    if (!(image = fopen(argv[1], "rb"))) {
        printf("Could not open DCP file %s for reading\n", argv[1]);
        return 0;
    }
    if (!(list = fopen(argv[2], "rb")))
        printf("Could not open sector fetch list file %s for reading\n", argv[2]);
    else if ((imagename = argv[1]) && openimagevolume(image, &dp, &map, workbuf, argv[1]))
        ok = definelist(image, list, out, argv[2]);
    if (list)
        fclose(list);
    fclose(image);
    return ok;
}

// 1 when every byte reached the output file; a full disk must not leave a
// short include file behind a zero exit status.
static int closeoutput(FILE *out, const char *name, int ok)
{
    int failed;

    fflush(out);
    failed = ferror(out) != 0; // set by any write that failed, the flush's too
    failed = fclose(out) != 0 || failed;
    if (ok && failed) {
        printf("Could not write output file %s\n", name);
        return 0;
    }
    return ok;
}

int main(int argc, char **argv)
{
    FILE *out;
    int ok, info;

    if ((info = infoargument(argc, argv, "sectdefs", usage)) != 0) {
        ok = info > 0;
    } else if (argc != 4) {
        fputs("Expects three arguments.", stdout);
        ok = 0;
    } else if (!(out = fopen(argv[3], "wb"))) {
        printf("Could not open output file %s for writing\n", argv[3]);
        ok = 0;
    } else {
        initdiskprops(&dp);
        ok = run(argv, out);
        freediskprops(&dp);
        ok = closeoutput(out, argv[3], ok);
    }
    fflush(stdout);
    return ok ? 0 : 1;
}
