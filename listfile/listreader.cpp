// A list read line by line through a caller's buffer: the reader variables
// that nextline takes kept together, for the programs that read a list of
// paths (sectput, sectget, sectrm) and count its lines for their messages.
#include "listfile.h"

// Opens the list at path and fills buf (size bytes) from it: 1, or 0 when
// it cannot be opened.
int openlist(listreader *r, const char *path, unsigned char *buf, uint32_t size)
{
    r->buf = buf;
    r->size = size;
    r->number = r->linestart = r->lineend = 0;
    r->lastcr = 0;
    r->more = 1;
    r->file = fopen(path, "rb");
    if (!r->file)
        return 0;
    r->bufused = (int32_t)fread(buf, 1, size, r->file);
    return 1;
}

// The next line that holds more than spaces and tabs: 1 with [*start,
// *end) its content, its terminator and trailing spaces and tabs left out
// (r->number its number, from 1); 0 at the list's end, or when a read
// failed (ferror tells).
int readlistline(listreader *r, int32_t *start, int32_t *end)
{
    while (r->more) {
        r->more = nextline(r->file, r->buf, r->size, &r->bufused, &r->linestart, &r->lineend,
                           &r->lastcr);
        r->number++;
        *start = r->linestart;
        *end = contentend(r->buf, r->linestart, r->lineend);
        while (*end > *start && (r->buf[*end - 1] == ' ' || r->buf[*end - 1] == '\t'))
            (*end)--;
        while (*start < *end && r->buf[*start] == ' ')
            (*start)++;
        if (*end > *start)
            return 1;
    }
    return 0;
}

// 1 when the line just read filled the whole buffer: a line longer than it
// was cut, and is not what the list says.
int listlinefull(const listreader *r)
{
    return contentend(r->buf, r->linestart, r->lineend) - r->linestart == (int32_t)r->size;
}

// Closes the list, if it was opened.
void closelist(listreader *r)
{
    if (r->file)
        fclose(r->file);
    r->file = nullptr;
}
