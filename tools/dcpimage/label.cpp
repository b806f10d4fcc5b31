// dcpimage label: the volume label printed, or set in the root directory's
// label entry and in the boot sector's parameter block (as create -L sets
// it), or cleared; through a copy renamed onto the image, as every change.
#include <cstring>

#include "tools/dcpimage/dcpimage.h"
#include "tools/imageedit.h"
#include "tools/mapformat.h"
#include "tools/sjisnames.h"

static diskprops dp;
static sectormap map;
static putplan plan;
static unsigned char workbuf[WORKBUFSIZE];

// Prints the label entry's text, trailing spaces left out; nothing when
// the volume has none.
static void printlabel(const imagejob *job)
{
    int32_t at = findlabel(&dp), n = 11;

    if (at < 0)
        return;
    while (n > 0 && dp.dirbuf[at + n - 1] == ' ')
        n--;
    putimagepath(stdout, dp.dirbuf + at, n, job->utf8, ITEMSHOWN);
    putchar('\n');
}

int label(const imagejob *job)
{
    static imageedit e;
    static const unsigned char noname[11] = {'N', 'O', ' ', 'N', 'A', 'M', 'E', ' ', ' ', ' ', ' '};
    unsigned char text[11];
    commonopts o = {job->from, job->utf8, !job->out && !job->clear};
    FILE *image;
    int ok = 1;

    if (job->out && !makelabel(job->out, job->utf8, text))
        return 0;
    initdiskprops(&dp);
    initputplan(&plan, 0);
    image = openedit(&e, job->in, &o, &dp, &map, workbuf);
    if (!image) {
        freediskprops(&dp);
        return 0;
    }
    if (o.dryrun) {
        printlabel(job);
    } else if (setlabel(&dp, &plan, job->clear ? nullptr : text) != PUTOK) {
        fprintf(stderr, "The root directory of %s is full: no slot for the label\n", job->in);
        ok = 0;
    } else if (!writebootlabel(image, &dp, job->clear ? noname : text)) {
        fprintf(stderr, "Could not write %s; %s\n", job->in, leftstate(&e.r));
        ok = 0;
    }
    ok = finishedit(&e, &dp, &plan, workbuf, ok);
    freediskprops(&dp);
    return ok;
}
