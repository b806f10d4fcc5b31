// Path lookup: backslash-separated 8.3 names to entries and sectors.
#ifndef VOLUME_PATHLOOKUP_H
#define VOLUME_PATHLOOKUP_H

#include "volume/diskprops.h"

// pathlookup.cpp
int32_t getfilesector(FILE *image, diskprops *dp, const unsigned char *path, int32_t len);
int32_t getfilecluster(FILE *image, diskprops *dp, const unsigned char *path, int32_t len);
int32_t findentry(FILE *image, diskprops *dp, const unsigned char *path, int32_t len,
                  int32_t *attr);
int32_t getentryindex(const unsigned char *dir, int32_t from, int32_t end,
                      const unsigned char *name, int32_t required, int32_t forbidden);
int nameequals(const unsigned char *entry, const unsigned char *name);
void nameto83(const unsigned char *path, int32_t start, int32_t end, unsigned char *dest);
void nametext(const unsigned char *src, unsigned char *dest, int32_t count);
int32_t nextslash(const unsigned char *p, int32_t from, int32_t end);
int32_t findbyte(const unsigned char *p, int32_t from, int32_t end, int32_t wanted);

int32_t findslot(FILE *image, diskprops *dp, const unsigned char *path, int32_t len);
int32_t dotcomponent(const unsigned char *path, int32_t len);
int32_t searchrow(const diskprops *dp, int32_t row, const unsigned char *name,
                  int32_t required);
int sjisleadbyte(int c);
int validname83(const unsigned char *path, int32_t start, int32_t end);
void makename83(const unsigned char *path, int32_t start, int32_t end, unsigned char *dest);

#endif
