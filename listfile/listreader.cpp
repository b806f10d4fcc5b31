// A list read line by line through a caller's buffer: the reader variables
// that nextline takes kept together, for the programs that read a list of
// paths (sectput, sectget, sectrm) and count its lines for their messages.
// A list is opened once: one that cannot be read again (a pipe, standard
// input, a device) is copied into a temporary file as it is read, so that
// a second pass reads the same lines.
#include "listfile.h"

#include <cstring>
#include <sys/stat.h>

enum { SPOOLCHUNK = 4096 };

// Copies everything left of from into a new temporary file: it, rewound,
// or null when the copy could not be made or from could not be read.
static FILE *spool(FILE *from)
{
    unsigned char chunk[SPOOLCHUNK];
    FILE *to = tmpfile();
    size_t n;
    int ok = to != nullptr;

    while (ok && (n = fread(chunk, 1, sizeof chunk, from)) > 0)
        ok = fwrite(chunk, 1, n, to) == n;
    ok = ok && !ferror(from) && fflush(to) == 0 && fseek(to, 0, SEEK_SET) == 0;
    if (!ok && to)
        fclose(to);
    return ok ? to : nullptr;
}

// Fills the buffer from the start of the list.
static void fillfromstart(listreader *r)
{
    r->number = r->linestart = r->lineend = 0;
    r->lastcr = 0;
    r->more = 1;
    r->bufused = (int32_t)fread(r->buf, 1, r->size, r->file);
}

// Opens the list at path ("-": standard input) and fills buf (size bytes)
// from it: LISTOPENED, LISTNOTOPENED, LISTISDIR, or LISTUNREAD when a list
// that must be copied to be read twice could not be.
int openlist(listreader *r, const char *path, unsigned char *buf, uint32_t size)
{
    struct stat st;
    FILE *f = strcmp(path, "-") == 0 ? stdin : fopen(path, "rb");

    r->buf = buf;
    r->size = size;
    r->file = nullptr;
    if (!f)
        return LISTNOTOPENED;
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        fclose(f);
        return LISTISDIR;
    }
    r->file = f;
    if (f == stdin || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        r->file = spool(f);
        if (f != stdin)
            fclose(f);
        if (!r->file)
            return LISTUNREAD;
    }
    fillfromstart(r);
    return LISTOPENED;
}

// Reads the list again from its first line: 1, or 0 when it cannot be.
int rewindlist(listreader *r)
{
    if (!r->file || fseek(r->file, 0, SEEK_SET) != 0)
        return 0;
    clearerr(r->file);
    fillfromstart(r);
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

// Closes the list, if it was opened (standard input stays open).
void closelist(listreader *r)
{
    if (r->file && r->file != stdin)
        fclose(r->file);
    r->file = nullptr;
}

// The value of a hexadecimal digit, or -1.
static int hexdigit(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Decodes the quoted item that starts at buf[*p] (its opening quote), in
// place, into *item; *p passes its closing quote. 1, or 0 when it is not
// closed, a %HH is not two hexadecimal digits, or it holds a NUL.
static int quoteditem(unsigned char *buf, int32_t *p, int32_t end, itemspan *item)
{
    int32_t in = *p + 1, out = in;

    item->start = in;
    while (in < end && buf[in] != '"') {
        int hi, lo;
        if (buf[in] != '%') {
            buf[out++] = buf[in++];
            continue;
        }
        hi = in + 2 < end ? hexdigit(buf[in + 1]) : -1;
        lo = in + 2 < end ? hexdigit(buf[in + 2]) : -1;
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0))
            return 0;
        buf[out++] = (unsigned char)(hi * 16 + lo);
        in += 3;
    }
    item->end = out;
    *p = in + 1;
    return in < end;
}

// Splits the line [start, end) of r's buffer into at most most items (1
// or 2: a path, and a host file): *count of them into items. A line that
// starts with a double quote holds quoted items, each decoded in place (%HH
// for any byte, so that a space, a quote or a line break can be carried);
// any other line is split at spaces, the last item the rest of the line.
// LISTLINEOK, or why the line is not one (LISTLINELONG, LISTLINENUL,
// LISTLINEQUOTES).
int splitlistline(listreader *r, int32_t start, int32_t end, itemspan *items, int32_t most,
                  int32_t *count)
{
    unsigned char *buf = r->buf;
    int32_t p = start;

    *count = 0;
    if (listlinefull(r))
        return LISTLINELONG;
    if (memchr(buf + start, 0, (size_t)(end - start)))
        return LISTLINENUL;
    if (buf[start] != '"') {
        *count = getlineitems(buf, start, end, items, most);
        return LISTLINEOK;
    }
    while (p < end && *count < most) {
        if (buf[p] != '"' || !quoteditem(buf, &p, end, &items[*count]))
            return LISTLINEQUOTES;
        (*count)++;
        if (p < end && buf[p] != ' ' && buf[p] != '\t')
            return LISTLINEQUOTES;
        while (p < end && (buf[p] == ' ' || buf[p] == '\t'))
            p++;
    }
    return p < end ? LISTLINEQUOTES : LISTLINEOK;
}
