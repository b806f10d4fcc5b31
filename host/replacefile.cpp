// Replacing a file in one step: the new content is built in a temporary
// file beside the one it replaces and renamed onto it, so that a program
// stopped at any moment leaves either the old file or the new one, never a
// mix and never nothing. (A power cut is another matter: nothing is synced.)
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include "journal.h"
#include "replacefile.h"

#ifndef O_BINARY
#define O_BINARY 0
#endif

enum { LINKHOPS = 40, TEMPTRIES = 1000 };

// Follows symbolic links from path to the file they end at, into
// r->target: a link stays a link, its target gets replaced. 1 on success.
static int findtarget(replacement *r, const char *path)
{
    size_t n = strlen(path);

    if (n >= sizeof r->target)
        return 0;
    memcpy(r->target, path, n + 1);
#ifndef _WIN32
    for (int hop = 0; hop < LINKHOPS; hop++) {
        char link[sizeof r->target];
        struct stat st;
        ssize_t k;
        if (lstat(r->target, &st) != 0 || !S_ISLNK(st.st_mode))
            return 1;
        k = readlink(r->target, link, sizeof link - 1);
        if (k < 0)
            return 0;
        link[k] = '\0';
        if (link[0] != '/') {
            // A relative link is relative to the directory that holds it.
            char *slash = strrchr(r->target, '/');
            size_t dir = slash ? (size_t)(slash - r->target) + 1 : 0;
            if (dir + (size_t)k >= sizeof r->target)
                return 0;
            memmove(r->target + dir, link, (size_t)k + 1);
        } else {
            memcpy(r->target, link, (size_t)k + 1);
        }
    }
    return 0;
#else
    return 1;
#endif
}

// Creates a temporary file of a name no other file has, beside the
// target, exclusively (never a file or a link already there); its file
// descriptor, or -1.
static int createtemp(replacement *r)
{
    static unsigned serial;

    for (int i = 0; i < TEMPTRIES; i++) {
        int fd;
        tempname(r->temp, sizeof r->temp, r->target, (unsigned long)getpid(), &serial);
        fd = open(r->temp, O_RDWR | O_CREAT | O_EXCL | O_BINARY, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// What path is, its links followed: FILEMISSING when nothing is there (or
// it cannot be looked at), else its kind.
int filekind(const char *path)
{
    struct stat st;

    if (stat(path, &st) != 0)
        return FILEMISSING;
    if (S_ISREG(st.st_mode))
        return FILEREGULAR;
    if (S_ISDIR(st.st_mode))
        return FILEDIR;
#ifndef _WIN32
    if (S_ISBLK(st.st_mode))
        return FILEBLOCK;
    if (S_ISFIFO(st.st_mode))
        return FILEFIFO;
#endif
    return S_ISCHR(st.st_mode) ? FILECHAR : FILEOTHER;
}

// The words for a kind of file that is not a regular one, for messages.
const char *filekindname(int kind)
{
    switch (kind) {
    case FILEBLOCK:
        return "a block device";
    case FILECHAR:
        return "a character device";
    case FILEFIFO:
        return "a FIFO";
    case FILEDIR:
        return "a directory";
    default:
        return "not a regular file";
    }
}

// Opens the target itself to take the writes: a block device as a whole
// new output, or as an output a character device or a FIFO, which no
// rename may replace (a change to a block device is journaled). Null
// with *why set when it is none of these or cannot be opened.
static FILE *openinplace(replacement *r, int copy, int kind, int *why)
{
    r->inplace = 1;
    *why = REPLACENOTFILE;
    if (kind != FILEBLOCK && (copy || (kind != FILECHAR && kind != FILEFIFO)))
        return nullptr;
    *why = REPLACEREAD;
    r->file = fopen(r->target, copy ? "rb+" : "wb");
    return r->file;
}

// One change at a time: its journal, when it has one.
static journal thejournal;

// Opens a large image or a block device itself to take a change's writes,
// under a journal. Null with *why set when it cannot be opened for writing, or
// the journal cannot be made (one is there already: REPLACEJOURNAL).
static FILE *openjournaled(replacement *r, int *why)
{
    *why = REPLACEREAD;
    if (!(r->file = fopen(r->target, "rb+")))
        return nullptr;
    setvbuf(r->file, r->streambuf, _IOFBF,
            r->streamsize > 0 && r->streamsize < REPLACEBUFSIZE ? (size_t)r->streamsize
                                                                 : sizeof r->streambuf);
    if (!journalstart(&thejournal, r->file, r->target)) {
        *why = REPLACEJOURNAL;
        fclose(r->file);
        r->file = nullptr;
        return nullptr;
    }
    r->inplace = 1;
    r->journaled = &thejournal;
    r->underjournal = 1;
    return r->file;
}

// Gives the temporary file the target's permission bits, or a new file's
// (what the umask leaves of 0666) when there is no target yet.
static void keepmode(int fd, const struct stat *old, int existed)
{
#ifndef _WIN32
    mode_t mask = umask(0);
    umask(mask);
    (void)fchmod(fd, existed ? old->st_mode & 07777 : 0666 & ~mask);
#else
    (void)fd;
    (void)old;
    (void)existed;
#endif
}

// Copies the target's bytes into the temporary file; 1 on success. On
// Linux the kernel copies them, in one call for an image.
static int copytarget(FILE *from, FILE *to, unsigned char *buf, int32_t bufsize)
{
    size_t n;
    int ok = 1;

#ifdef __linux__
    ssize_t k;
    while ((k = copy_file_range(fileno(from), nullptr, fileno(to), nullptr, (size_t)1 << 30, 0)) >
           0)
        ;
    if (k == 0)
        return fseek(to, 0, SEEK_SET) == 0;
    // Not here (an old kernel, two file systems): stdio copies what is left.
    if (fseek(from, lseek(fileno(from), 0, SEEK_CUR), SEEK_SET) != 0 ||
        fseek(to, lseek(fileno(to), 0, SEEK_CUR), SEEK_SET) != 0)
        return 0;
#endif
    while (ok && (n = fread(buf, 1, (size_t)bufsize, from)) > 0)
        ok = fwrite(buf, 1, n, to) == n;
    ok = ok && !ferror(from);
    fclose(from);
    return ok && fflush(to) == 0 && fseek(to, 0, SEEK_SET) == 0;
}

// Starts replacing the file at path: the temporary file, opened for reading
// and writing, holding a copy of the file when copy is set (buf, of bufsize
// bytes, is scratch for it), else empty. Null when it could not be made;
// *why then tells whether the file itself could not be opened for writing
// (REPLACEREAD), the temporary file not made or filled (REPLACETEMP), or the
// path, its links followed, is too long (REPLACELONG).
FILE *startreplacement(replacement *r, const char *path, int copy, unsigned char *buf,
                       int32_t bufsize, int *why)
{
    struct stat st;
    FILE *old = nullptr;
    int existed, fd;

    r->file = nullptr;
    r->temp[0] = '\0';
    r->inplace = 0;
    r->journaled = nullptr;
    r->underjournal = 0;
    *why = REPLACELONG;
    if (!findtarget(r, path) || strlen(r->target) + TEMPSUFFIX >= sizeof r->temp)
        return nullptr;
    *why = REPLACETEMP;
    existed = stat(r->target, &st) == 0;
    // A block device (a real disk) is changed in place as a large image is:
    // no copy can be renamed onto it.
    if (existed && copy && filekind(r->target) == FILEBLOCK)
        return openjournaled(r, why);
    if (existed && filekind(r->target) != FILEREGULAR)
        return openinplace(r, copy, filekind(r->target), why);
    if (copy && existed && (int64_t)st.st_size > JOURNALFROM)
        return openjournaled(r, why);
    // Opened for writing too: a file the user may not write is not replaced.
    if (copy && !(old = fopen(r->target, "rb+"))) {
        *why = REPLACEREAD;
        return nullptr;
    }
    fd = createtemp(r);
    if (fd < 0) {
        if (old)
            fclose(old);
        return nullptr;
    }
    keepmode(fd, &st, existed);
    r->file = fdopen(fd, "r+b");
    if (r->file)
        setvbuf(r->file, r->streambuf, _IOFBF,
                r->streamsize > 0 && r->streamsize < REPLACEBUFSIZE ? (size_t)r->streamsize
                                                                     : sizeof r->streambuf);
    if (!r->file) {
        close(fd);
        remove(r->temp);
        if (old)
            fclose(old);
        return nullptr;
    }
    if (copy && !copytarget(old, r->file, buf, bufsize)) {
        dropreplacement(r);
        return nullptr;
    }
    return r->file;
}

// Renames the temporary file onto the target in one step, replacing it.
static int renameonto(const replacement *r)
{
#ifdef _WIN32
    return MoveFileExA(r->temp, r->target, MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return rename(r->temp, r->target) == 0;
#endif
}

// Closes the temporary file and, when ok, renames it onto the target; the
// temporary file is removed whatever fails. 1 when the new file is in place.
int finishreplacement(replacement *r, int ok)
{
    if (!r->file)
        return 0;
    if (r->journaled) {
        // The change whole in the image, or what of it reached the image undone.
        ok = ok ? journalcommit(r->journaled) : (journalabandon(r->journaled), 0);
        r->journaled = nullptr;
    }
    ok = fclose(r->file) == 0 && ok;
    r->file = nullptr;
    if (r->inplace)
        return ok;
    ok = ok && renameonto(r);
    if (!ok)
        remove(r->temp);
    return ok;
}

// Gives up the replacement: the target stays as it was.
void dropreplacement(replacement *r)
{
    finishreplacement(r, 0);
}
