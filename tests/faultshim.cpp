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
//   DCPFAULT_RENAME=PATH   a rename onto PATH fails, renaming nothing.
// A PATH of "tmpfile" names the streams tmpfile() makes (a list copied
// from a pipe). A PATH that ends in '*' names every path that starts with the rest (a
// temporary file's name is the tool's own); streams made by fdopen count
// too, by the path their descriptor is open on.
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    const char *swap = getenv("DCPFAULT_SWAP");
    const char *colon = swap ? strchr(swap, ':') : nullptr;

    if (colon && strncmp(path, swap, (size_t)(colon - swap)) == 0 &&
        path[colon - swap] == 0 &&
        ++swapopens == (getenv("DCPFAULT_SWAPAT") ? atoi(getenv("DCPFAULT_SWAPAT")) : 2))
        return __real_fopen(colon + 1, mode);
    return __real_fopen(path, mode);
}

// Arms the faults that name path for the stream f.
static FILE *armfaults(FILE *f, const char *path)
{
    const char *target = getenv("DCPFAULT_CLOSE");

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

// The path the descriptor is open on into path (4096 bytes).
static void pathoffd(int fd, char *path)
{
    char link[64];
    ssize_t n;

    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    n = readlink(link, path, 4095);
    path[n < 0 ? 0 : n] = '\0';
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
    return syncfails(fd) ? -1 : __real_fsync(fd);
}

int __wrap_fdatasync(int fd)
{
    return syncfails(fd) ? -1 : __real_fdatasync(fd);
}

int __wrap_rename(const char *from, const char *to)
{
    const char *target = getenv("DCPFAULT_RENAME");

    return target && pathmatches(target, to) ? -1 : __real_rename(from, to);
}

// A temporary file has no name: the faults name it "tmpfile".
FILE *__wrap_tmpfile(void)
{
    return armfaults(__real_tmpfile(), "tmpfile");
}

size_t __wrap_fwrite(const void *p, size_t size, size_t n, FILE *f)
{
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
