// A blank volume of a shape.
#ifndef VOLUME_FORMAT_H
#define VOLUME_FORMAT_H

#include "volume/diskprops.h"
#include "volume/dcpheader.h"

// format.cpp: a blank volume of a shape: a floppy type's, or a FAT16 one
struct volumeshape {
    int32_t bytes, clustersectors, reserved, fats, rootentries, descriptor, fatsectors;
    int32_t sectorspertrack, heads, sectors, fatbits;
    uint32_t hidden; // the boot sector's hidden sectors: where a partition starts
};
// What a blank volume is named: 11 bytes, also in the root when entry is set.
struct blanklabel {
    const unsigned char *label;
    int entry;
    uint32_t serial;
};
void floppyshape(const dcptype *t, volumeshape *s);
int fat16shape(int32_t sectors, int32_t bytes, volumeshape *s);
int necshape(int32_t sectors, int32_t bytes, int32_t fatbits, volumeshape *s);
int32_t blanksystemsectors(const volumeshape *s);
int writeblankhead(FILE *out, const volumeshape *s, int32_t n, const blanklabel *l,
                   unsigned char *buf);
int writeblankvolume(FILE *out, const volumeshape *s, const unsigned char *label, int labelentry,
                     uint32_t serial, unsigned char *buf);

#endif
