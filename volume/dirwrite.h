// Entries made and changed in the cache, then written back; FAT times.
#ifndef VOLUME_DIRWRITE_H
#define VOLUME_DIRWRITE_H

#include "volume/diskprops.h"

// dirwrite.cpp: entries made and changed in the cache, then written back
struct fattime {
    int32_t time;
    int32_t date;
};
// A FAT date and time taken apart, as stored (a damaged entry's month may be 0).
struct fatclock {
    int32_t year, month, day, hour, minute, second;
};
void packfattime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                 int32_t second, fattime *t);
void unpackfattime(const unsigned char *slot, fatclock *c);
void fillentry(unsigned char *slot, const unsigned char *name, int32_t attr, int32_t cluster,
               uint32_t size, const fattime *t);
void updateentry(unsigned char *slot, int32_t cluster, uint32_t size, const fattime *t);
int32_t findfreeslot(const diskprops *dp, int32_t row);
enum { LOSTCLUSTER = -2 };
int32_t slotcluster(const diskprops *dp, int32_t row, int32_t at);
int32_t rowofslot(const diskprops *dp, int32_t at);
int writedirectories(FILE *image, diskprops *dp, const unsigned char *dirty, int rootdirty);

#endif
