// The depth-first walk over the directory tree, and an entry's fields.
#ifndef VOLUME_DIRWALK_H
#define VOLUME_DIRWALK_H

#include "volume/diskprops.h"

// A depth-first walk over the directory tree. A frame per directory being
// walked: its cache row, the dirbuf offset of its next slot, and the dirbuf
// offset of the entry that named it (-1 for the root). WALKCROSSED: a
// directory whose chain runs into clusters that another directory's holds.
enum { WALKFILE = 0, WALKDIR, WALKAGAIN, WALKUNREAD, WALKCROSSED };
struct walkframe {
    int32_t row;
    int32_t next;
    int32_t slot;
};
struct dirwalk {
    int32_t depth;       // frames[0..depth] in use; frames[0] is the root
    int32_t pending;     // row to enter on the next step, or -1
    int32_t pendingslot;
    // Set by a walk that only reads and keeps no slot past the entry it is
    // at: the cache row of a directory the walk leaves is let go when it is
    // the last one, so that the cache holds only the directories on the
    // walk's path, however many the volume has.
    int release;
    unsigned char entered[CLUSTERSLOTS]; // directories entered, by first cluster
    unsigned char marks[CLUSTERSLOTS];   // what the walk found each cluster to be
    walkframe frames[CLUSTERSLOTS];
};

// dirwalk.cpp
int32_t entrycluster(const diskprops *dp, int32_t slot);
uint32_t entrysize(const diskprops *dp, int32_t slot);
int entryisdir(const diskprops *dp, int32_t slot);
int32_t entryattr(const diskprops *dp, int32_t slot);
const unsigned char *entryname(const diskprops *dp, int32_t slot);
void startwalk(const diskprops *dp, dirwalk *w);
void startwalkat(const diskprops *dp, dirwalk *w, int32_t row);
int32_t nextentry(FILE *image, diskprops *dp, dirwalk *w, int *kind);

#endif
