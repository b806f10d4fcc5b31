// Linked into test-only builds of the tools (with --wrap for fopen, fclose,
// fwrite, fseek, malloc and realloc), for the failures that no real file
// produces on cue:
//   DCPFAULT_CLOSE=PATH    the stream opened on PATH has its fclose report a
//                          failure, as a flush that cannot reach the disk
//                          would, after really closing;
//   DCPFAULT_WRITE=N:PATH  the Nth fwrite on the stream opened on PATH fails
//                          and writes nothing;
//   DCPFAULT_SEEK=N:PATH   the Nth fseek on the stream opened on PATH fails;
//   DCPFAULT_SWAP=PATH:OTHER  the second fopen of PATH opens OTHER instead,
//                          as if the file had changed between two reads
//                          (DCPFAULT_SWAPAT=N: the Nth fopen instead);
//   DCPFAULT_ALLOC=N       the Nth malloc or realloc of the tool fails;
//   DCPFAULT_SYNC=N:PATH   the Nth fsync or fdatasync of a descriptor open on
//                          PATH fails, syncing nothing;
//   DCPFAULT_RENAME=PATH   a rename onto PATH fails, renaming nothing;
//   DCPFAULT_NOWRITE=PATH  PATH cannot be opened for writing (as a file on
//                          a read-only disk), only for reading;
//   DCPFAULT_CUT=N:WHAT:IMAGE  the power fails at the Nth write to IMAGE or
//                          to its journal, sync, rename or removal (or at
//                          the exit, one past the last): the process ends
//                          there (status 99), and the cut takes away what
//                          a disk may lose of what was not synced. WHAT is
//                          the worst case: "journal" loses the journal's
//                          bytes since its last sync and a rename into its
//                          name whose directory was not synced since, and
//                          keeps every byte written to the image, those
//                          still in its buffer too; "image" loses every
//                          other 4 KB block of the image changed since its
//                          last sync.
// A PATH of "tmpfile" names the streams tmpfile() makes (a list copied
// from a pipe). A PATH that ends in '*' names every path that starts with the rest (a
// temporary file's name is the tool's own); streams made by fdopen count
// too, by the path their descriptor is open on.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
FILE *__real_fopen(const char *path, const char *mode);
FILE *__real_fdopen(int fd, const char *mode);
FILE *__real_tmpfile(void);
int __real_fclose(FILE *f);
size_t __real_fwrite(const void *p, size_t size, size_t n, FILE *f);
int __real_fseek(FILE *f, long offset, int whence);
void *__real_malloc(size_t n);
int __real_fsync(int fd);
int __real_fdatasync(int fd);
int __real_rename(const char *from, const char *to);
int __real_remove(const char *path);
void *__real_realloc(void *p, size_t n);

static FILE *doomed, *failing, *seeking;
static int writesleft, seeksleft, swapopens, allocs, syncs;

// 1 when path is the one a fault names, or starts as one ending in '*' does.
static int pathmatches(const char *want, const char *path)
{
    size_t n = strlen(want);

    if (n > 0 && want[n - 1] == '*')
        return strncmp(path, want, n - 1) == 0;
    return strcmp(path, want) == 0;
}

// The count and the stream's path of a fault given as N:PATH, or 0.
static int faultfor(const char *name, const char *path)
{
    const char *v = getenv(name);
    const char *colon = v ? strchr(v, ':') : nullptr;

    return colon && pathmatches(colon + 1, path) ? atoi(v) : 0;
}

static FILE *openorswap(const char *path, const char *mode)
{
    const char *swap = getenv("DCPFAULT_SWAP"), *readonly = getenv("DCPFAULT_NOWRITE");
    const char *colon = swap ? strchr(swap, ':') : nullptr;

    if (readonly && pathmatches(readonly, path) && strpbrk(mode, "wa+")) {
        errno = EROFS;
        return nullptr;
    }

    if (colon && strncmp(path, swap, (size_t)(colon - swap)) == 0 &&
        path[colon - swap] == 0 &&
        ++swapopens == (getenv("DCPFAULT_SWAPAT") ? atoi(getenv("DCPFAULT_SWAPAT")) : 2))
        return __real_fopen(colon + 1, mode);
    return __real_fopen(path, mode);
}

// The path the descriptor is open on into path (4096 bytes).
static void pathoffd(int fd, char *path)
{
    char link[64];
    ssize_t n;

    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    n = readlink(link, path, 4095);
    path[n < 0 ? 0 : n] = '\0';
}

// The power cut's state: the image, the streams on it and on its journal,
// what the cut would take away.
static struct {
    int at, count, started, renamepending;
    char what[16], image[4096], snapshot[4200], renamedfrom[4096], renamedto[4096];
    char journal[4200]; // the journal's path as it is now
    FILE *imagestream, *journalstream;
    off_t journalsynced;
} cut;

// 1 when path is the image's journal, under its name or a temporary one.
static int isjournal(const char *path)
{
    size_t n = strlen(cut.image);

    return cut.image[0] && strncmp(path, cut.image, n) == 0 &&
           strncmp(path + n, "-journal", 8) == 0;
}

// Copies the file from into to (made anew); what the disk holds as synced.
static void copyfile(const char *from, const char *to)
{
    static char buf[65536];
    int in = open(from, O_RDONLY), out = open(to, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ssize_t n;

    while (in >= 0 && out >= 0 && (n = read(in, buf, sizeof buf)) > 0)
        if (write(out, buf, (size_t)n) != n)
            break;
    if (in >= 0)
        close(in);
    if (out >= 0)
        close(out);
}

// Reads DCPFAULT_CUT once; the image as it was at the start is its first
// synced state.
static void cutsetup(void)
{
    const char *v = getenv("DCPFAULT_CUT");
    const char *a = v ? strchr(v, ':') : nullptr, *b = a ? strchr(a + 1, ':') : nullptr;

    if (cut.started || !b)
        return;
    cut.started = 1;
    cut.at = atoi(v);
    snprintf(cut.what, sizeof cut.what, "%.*s", (int)(b - a - 1), a + 1);
    snprintf(cut.image, sizeof cut.image, "%s", b + 1);
    snprintf(cut.snapshot, sizeof cut.snapshot, "%s.cutsnap", cut.image);
    copyfile(cut.image, cut.snapshot);
}

// The image loses every other 4 KB block that differs from its last synced
// state.
static void loseimageblocks(void)
{
    static unsigned char now[4096], then[4096];
    int img = open(cut.image, O_RDWR), snap = open(cut.snapshot, O_RDONLY), odd = 0;
    ssize_t n;

    for (off_t at = 0; img >= 0 && snap >= 0 && (n = pread(snap, then, sizeof then, at)) > 0;
         at += n)
        if (pread(img, now, (size_t)n, at) == n && memcmp(now, then, (size_t)n) != 0 &&
            (odd ^= 1) && pwrite(img, then, (size_t)n, at) != n)
            break;
    if (img >= 0)
        close(img);
    if (snap >= 0)
        close(snap);
}

// The power fails: what was not synced is lost as cut.what says, and the
// process ends.
static void powercut(void)
{
    if (strcmp(cut.what, "journal") == 0) {
        if (cut.imagestream)
            fflush(cut.imagestream); // the worst case: all of it had reached the disk
        if (cut.renamepending && __real_rename(cut.renamedto, cut.renamedfrom) == 0)
            snprintf(cut.journal, sizeof cut.journal, "%s", cut.renamedfrom);
        if (cut.journal[0])
            (void)truncate(cut.journal, cut.journalsynced);
    } else {
        loseimageblocks();
    }
    unlink(cut.snapshot);
    _exit(99);
}

// Counts one call that the power may fail at; 1 when the cut is armed.
static int cutpoint(void)
{
    cutsetup();
    if (cut.image[0] && ++cut.count == cut.at)
        powercut();
    return cut.image[0];
}

// A sync of fd: what it holds now is what a cut keeps.
static void cutsynced(int fd)
{
    char path[4096];
    struct stat st;

    if (!cut.image[0] || fstat(fd, &st) != 0)
        return;
    pathoffd(fd, path);
    if (S_ISDIR(st.st_mode))
        cut.renamepending = 0;
    else if (strcmp(path, cut.image) == 0)
        copyfile(cut.image, cut.snapshot);
    else if (isjournal(path))
        cut.journalsynced = st.st_size;
}

// The power also fails after the last call: at the exit.
__attribute__((destructor)) static void cutatexit(void)
{
    if (cut.image[0] && cut.count + 1 == cut.at)
        powercut();
    if (cut.image[0])
        unlink(cut.snapshot);
}

// Arms the faults that name path for the stream f.
static FILE *armfaults(FILE *f, const char *path)
{
    const char *target = getenv("DCPFAULT_CLOSE");

    cutsetup();
    if (f && cut.image[0] && strcmp(path, cut.image) == 0)
        cut.imagestream = f;
    if (f && isjournal(path)) {
        cut.journalstream = f;
        snprintf(cut.journal, sizeof cut.journal, "%s", path);
        cut.journalsynced = 0;
    }

    if (f && target && pathmatches(target, path))
        doomed = f;
    if (f && faultfor("DCPFAULT_WRITE", path)) {
        failing = f;
        writesleft = faultfor("DCPFAULT_WRITE", path);
    }
    if (f && faultfor("DCPFAULT_SEEK", path)) {
        seeking = f;
        seeksleft = faultfor("DCPFAULT_SEEK", path);
    }
    return f;
}

FILE *__wrap_fopen(const char *path, const char *mode)
{
    return armfaults(openorswap(path, mode), path);
}


FILE *__wrap_fdopen(int fd, const char *mode)
{
    char path[4096];

    pathoffd(fd, path);
    return armfaults(__real_fdopen(fd, mode), path);
}

// 1 when this sync of fd is the one DCPFAULT_SYNC fails.
static int syncfails(int fd)
{
    char path[4096];
    int n;

    pathoffd(fd, path);
    n = faultfor("DCPFAULT_SYNC", path);
    return n && ++syncs == n;
}

int __wrap_fsync(int fd)
{
    cutpoint();
    if (syncfails(fd) || __real_fsync(fd) != 0)
        return -1;
    cutsynced(fd);
    return 0;
}

int __wrap_fdatasync(int fd)
{
    cutpoint();
    if (syncfails(fd) || __real_fdatasync(fd) != 0)
        return -1;
    cutsynced(fd);
    return 0;
}

int __wrap_rename(const char *from, const char *to)
{
    const char *target = getenv("DCPFAULT_RENAME");

    cutpoint();
    if ((target && pathmatches(target, to)) || __real_rename(from, to) != 0)
        return -1;
    if (isjournal(to)) {
        snprintf(cut.renamedfrom, sizeof cut.renamedfrom, "%s", from);
        snprintf(cut.renamedto, sizeof cut.renamedto, "%s", to);
        snprintf(cut.journal, sizeof cut.journal, "%s", to);
        cut.renamepending = 1;
    }
    return 0;
}

int __wrap_remove(const char *path)
{
    cutpoint();
    return __real_remove(path);
}

// A temporary file has no name: the faults name it "tmpfile".
FILE *__wrap_tmpfile(void)
{
    return armfaults(__real_tmpfile(), "tmpfile");
}

size_t __wrap_fwrite(const void *p, size_t size, size_t n, FILE *f)
{
    if (f && (f == cut.imagestream || f == cut.journalstream))
        cutpoint();
    if (f == failing && --writesleft == 0)
        return 0;
    return __real_fwrite(p, size, n, f);
}

int __wrap_fseek(FILE *f, long offset, int whence)
{
    if (f == seeking && --seeksleft == 0)
        return -1;
    return __real_fseek(f, offset, whence);
}

static int allocfails(void)
{
    const char *n = getenv("DCPFAULT_ALLOC");

    return n && ++allocs == atoi(n);
}

void *__wrap_malloc(size_t n)
{
    return allocfails() ? nullptr : __real_malloc(n);
}

void *__wrap_realloc(void *p, size_t n)
{
    return allocfails() ? nullptr : __real_realloc(p, n);
}

int __wrap_fclose(FILE *f)
{
    if (f == cut.imagestream)
        cut.imagestream = nullptr;
    if (f == cut.journalstream)
        cut.journalstream = nullptr;
    int r = __real_fclose(f);
    if (f == failing)
        failing = nullptr;
    if (f == seeking)
        seeking = nullptr;
    if (f == doomed) {
        doomed = nullptr;
        return EOF;
    }
    return r;
}
}
