// List files: lines through a caller's fixed buffer, items split at spaces,
// strict decimal numbers.
#ifndef LISTFILE_LISTFILE_H
#define LISTFILE_LISTFILE_H

#include <cstdint>
#include <cstdio>

enum { LISTBUFSIZE = 16384 };

// One item of a line: absolute offsets into the line's buffer.
struct itemspan {
    int32_t start;
    int32_t end;
};

int nextline(FILE *list, unsigned char *buf, uint32_t size, int32_t *bufused,
             int32_t *linestart, int32_t *lineend, unsigned char *lastcr);
int32_t contentend(const unsigned char *buf, int32_t linestart, int32_t lineend);
int32_t getlineitems(const unsigned char *text, int32_t start, int32_t end, itemspan *items,
                     int32_t count);
int32_t parsenum(const unsigned char *text, int32_t length);

// listreader.cpp: the reader's variables kept together, lines counted; a
// list opened once and read in as many passes as wanted; its lines split
// into a path and a host file, quoted where they hold what a plain line
// cannot (listquote.cpp writes them so).
enum { LISTOPENED = 1, LISTNOTOPENED = 0, LISTISDIR = -1, LISTUNREAD = -2 };
enum { LISTLINEOK = 0, LISTLINELONG, LISTLINENUL, LISTLINEQUOTES };
struct listreader {
    FILE *file;
    unsigned char *buf;
    uint32_t size;
    int32_t bufused, linestart, lineend, number;
    unsigned char lastcr;
    int more;
};
int openlist(listreader *r, const char *path, unsigned char *buf, uint32_t size);
int rewindlist(listreader *r);
int readlistline(listreader *r, int32_t *start, int32_t *end);
int listlinefull(const listreader *r);
int splitlistline(listreader *r, int32_t start, int32_t end, itemspan *items, int32_t most,
                  int32_t *count);
void closelist(listreader *r);

// listquote.cpp
enum { ITEMPATH = 0, ITEMFILE, ITEMSHOWN };
int listitemplain(const unsigned char *s, int32_t len, int role);
void putlistitem(FILE *out, const unsigned char *s, int32_t len, int quoted);
void putshownname(FILE *out, const unsigned char *s, int32_t len);

#endif
