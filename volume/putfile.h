// A put planned in memory: the plan, what it marks, whether it fits the image.
#ifndef VOLUME_PUTFILE_H
#define VOLUME_PUTFILE_H

#include "volume/diskprops.h"
#include "volume/chainruns.h"
#include "volume/dirwrite.h"

// putfile.cpp: a put planned in memory. putfile changes the decoded FAT and
// the cached directories as the put would and marks what must be written.
enum {
    PUTOK = 0, PUTBADPATH, PUTBADNAME, PUTISDIR, PUTTHROUGHFILE, PUTDAMAGED, PUTUNREADABLE,
    PUTTOOBIG, PUTNOROOM, PUTROOTFULL, PUTMOVE, PUTNOMEMORY, PUTNORESERVED, PUTBADMARK,
    PUTNOSYSTEMAREA, PUTCROSSED
};
struct putplan {
    int keep;                            // refuse to move a file that had clusters
    int32_t put;                         // the put being planned, counted from 1
    int32_t planned[CLUSTERSLOTS];      // the put whose data a cluster is to hold, or 0
    int32_t original[CLUSTERSLOTS];     // by a put's first cluster: the first cluster its
                                         // file had before the run, or 0
    unsigned char dirty[CLUSTERSLOTS];  // directory clusters changed
    int rootdirty;
    int fatdirty;                        // the FAT changed (sectput writes it always)
    chainwalk held;                      // the chain of the file being replaced
    const unsigned char *owners;         // chains per cluster (countowners), or null: a
                                         // chain another entry holds too is then not seen
    // What the last putfile did or found.
    int32_t slot;     // dirbuf offset of the file's entry
    int32_t first;    // its first cluster now; 0 when empty
    int32_t before;   // the first cluster it had before the run; 0 for none
    int32_t badstart; // the component of the path a refusal concerns
    int32_t badend;
    int32_t needed;   // clusters needed, and the longest free run (or the
    int32_t longest;  // volume's clusters, for PUTTOOBIG)
    int64_t imageat;  // where the last data write ended, or -1
    int32_t reach;    // planned[], original[] and dirty[] below it may be marked
};

// Widens what initputplan clears to cluster c, before c is marked.
inline void planreach(putplan *p, int32_t c)
{
    if (c >= p->reach)
        p->reach = c + 1;
}
void initputplan(putplan *p, int keep);
int putfile(FILE *image, diskprops *dp, putplan *p, const unsigned char *path, int32_t len,
            uint32_t size, const fattime *t);
int takeslot(diskprops *dp, putplan *p, int32_t row, int32_t *at);
int markslot(const diskprops *dp, putplan *p, int32_t row, int32_t at);
int64_t putreach(const diskprops *dp, const putplan *p);
int planinimage(diskprops *dp, const putplan *p, int64_t filesize);

#endif
