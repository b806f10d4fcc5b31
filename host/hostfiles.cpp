// The host tree under DIR. On POSIX systems every step is taken relative
// to the descriptor of the directory above it, with O_NOFOLLOW, so that a
// link planted inside DIR (even one planted while the program runs) is
// never followed; on Windows each directory's attributes are looked at
// before it is used, and a reparse point (a link or a junction) is refused.
#include "hostfiles.h"
#include "replacefile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <sys/utime.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif

// The path of name inside the directory of depth, for messages and lists.
const char *hostpath(hosttree *t, int32_t depth, const char *name)
{
    static char full[HOSTPATHMAX + HOSTTEMPMAX];

    snprintf(full, sizeof full, "%.*s/%s", (int)t->end[depth], t->path, name);
    return full;
}

// Sets the depth below depth to name, its path extended; 0 when the path
// would be too long or too deep.
static int setpath(hosttree *t, int32_t depth, const char *name)
{
    size_t n = strlen(name);

    if (depth + 1 > HOSTDEPTH)
        return 0;
    if ((size_t)t->end[depth] + 1 + n >= sizeof t->path)
        return 0;
    t->path[t->end[depth]] = '/';
    memcpy(t->path + t->end[depth] + 1, name, n);
    t->end[depth + 1] = t->end[depth] + 1 + (int32_t)n;
    t->path[t->end[depth + 1]] = '\0';
    return 1;
}

#ifndef _WIN32
// Closes the directories deeper than depth.
static void closebelow(hosttree *t, int32_t depth)
{
    for (; t->depth > depth; t->depth--)
        if (t->fd[t->depth] >= 0)
            close(t->fd[t->depth]);
}

// Opens DIR as depth 0, made first when make is set and it is missing:
// HOSTOK, HOSTABSENT (not there, and not made), HOSTNOTDIR or HOSTFAILED.
int hostopen(hosttree *t, const char *dir, int make)
{
    size_t n = strlen(dir);

    t->depth = 0;
    t->fd[0] = -1;
    if (n >= sizeof t->path)
        return HOSTFAILED;
    memcpy(t->path, dir, n + 1);
    t->end[0] = (int32_t)n;
    if (make && mkdir(dir, 0777) != 0 && errno != EEXIST)
        return HOSTFAILED;
    t->fd[0] = open(dir, O_RDONLY | O_DIRECTORY);
    if (t->fd[0] >= 0)
        return HOSTOK;
    return errno == ENOENT ? HOSTABSENT : errno == ENOTDIR ? HOSTNOTDIR : HOSTFAILED;
}

// What stands under name in the directory of depth: HOSTABSENT, HOSTISDIR,
// HOSTSPECIAL (a device, FIFO or socket), HOSTEXISTS (a file or a link);
// never followed.
int hostlook(hosttree *t, int32_t depth, const char *name)
{
    struct stat st;

    if (t->fd[depth] < 0 || fstatat(t->fd[depth], name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return HOSTABSENT;
    if (S_ISDIR(st.st_mode))
        return HOSTISDIR;
    return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? HOSTEXISTS : HOSTSPECIAL;
}

// Steps from the directory of depth into its directory name, which becomes
// depth + 1; made when make is set and it is missing. HOSTOK, HOSTABSENT
// (missing and not made: everything below is absent too), HOSTLINK,
// HOSTNOTDIR, HOSTTOODEEP or HOSTFAILED.
int hostenter(hosttree *t, int32_t depth, const char *name, int make)
{
    struct stat st;
    int fd, parent = t->fd[depth];

    closebelow(t, depth);
    if (!setpath(t, depth, name))
        return HOSTTOODEEP;
    t->depth = depth + 1;
    t->fd[depth + 1] = -1;
    if (parent < 0 && !make)
        return HOSTABSENT;
    if (parent < 0)
        return HOSTFAILED;
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return HOSTFAILED;
        if (!make)
            return HOSTABSENT;
        if (mkdirat(parent, name, 0777) != 0 && errno != EEXIST)
            return HOSTFAILED;
    } else if (S_ISLNK(st.st_mode)) {
        return HOSTLINK;
    } else if (!S_ISDIR(st.st_mode)) {
        return HOSTNOTDIR;
    }
    fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0)
        return errno == ELOOP ? HOSTLINK : errno == ENOTDIR ? HOSTNOTDIR : HOSTFAILED;
    t->fd[depth + 1] = fd;
    return HOSTOK;
}

// A new file beside name in the directory of depth, of a name no other has
// (into temp, HOSTTEMPMAX bytes), opened for writing; null on failure.
FILE *hostcreate(hosttree *t, int32_t depth, const char *name, char *temp)
{
    static unsigned serial;

    for (int i = 0; i < 1000; i++) {
        tempname(temp, HOSTTEMPMAX, name, (unsigned long)getpid(), &serial);
        int fd = openat(t->fd[depth], temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            FILE *f = fdopen(fd, "wb");
            if (!f) {
                close(fd);
                unlinkat(t->fd[depth], temp, 0);
            }
            return f;
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

// Renames temp onto name in the directory fd: replacing what is there when
// replace is set, else only where nothing is (HOSTCLASH when something is).
static int renamehost(int fd, const char *temp, const char *name, int replace)
{
    if (replace)
        return renameat(fd, temp, fd, name) == 0 ? HOSTOK : HOSTFAILED;
#ifdef RENAME_NOREPLACE
    if (renameat2(fd, temp, fd, name, RENAME_NOREPLACE) == 0)
        return HOSTOK;
    if (errno == EEXIST)
        return HOSTCLASH;
    if (errno != EINVAL && errno != ENOSYS)
        return HOSTFAILED;
#endif
    // A file system without that rename: a second link, then the first gone.
    if (linkat(fd, temp, fd, name, 0) != 0)
        return errno == EEXIST ? HOSTCLASH : HOSTFAILED;
    unlinkat(fd, temp, 0);
    return HOSTOK;
}

// Gives the file f its modification (and access) time when, closes it, and
// renames temp onto name in the directory of depth (see renamehost); the
// temporary file is removed whatever fails.
int hostplace(hosttree *t, int32_t depth, FILE *f, const char *temp, const char *name,
              int replace, int64_t when)
{
    int ok = fflush(f) == 0 && !ferror(f) && settimes(f, when);
    int r = HOSTFAILED;

    ok = fclose(f) == 0 && ok;
    if (ok)
        r = renamehost(t->fd[depth], temp, name, replace);
    if (r != HOSTOK)
        unlinkat(t->fd[depth], temp, 0);
    return r;
}

// Gives up the file f: closed, and its temporary name temp removed.
void hostdrop(hosttree *t, int32_t depth, FILE *f, const char *temp)
{
    fclose(f);
    unlinkat(t->fd[depth], temp, 0);
}

// Closes every directory of the tree.
void hostclose(hosttree *t)
{
    closebelow(t, -1);
}

// Sets the modification and access time of the open file f; 1 on success.
// Makes the folder at path when it is missing (one that is there is kept)
// and gives it the time when; 1 on success.
int makefolder(const char *path, int64_t when)
{
    struct timespec ts[2];
    struct stat st;

    ts[0].tv_sec = ts[1].tv_sec = (time_t)when;
    ts[0].tv_nsec = ts[1].tv_nsec = 0;
    if (mkdir(path, 0777) != 0 && errno != EEXIST)
        return 0;
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && utimensat(AT_FDCWD, path, ts, 0) == 0;
}

// Sets the modification and access times of the directory of depth
// (entered) to when; 1 on success.
int hostdirtime(hosttree *t, int32_t depth, int64_t when)
{
    struct timespec ts[2];

    ts[0].tv_sec = ts[1].tv_sec = (time_t)when;
    ts[0].tv_nsec = ts[1].tv_nsec = 0;
    return t->fd[depth] >= 0 && futimens(t->fd[depth], ts) == 0;
}

int settimes(FILE *f, int64_t when)
{
    struct timespec ts[2];

    ts[0].tv_sec = ts[1].tv_sec = (time_t)when;
    ts[0].tv_nsec = ts[1].tv_nsec = 0;
    return fflush(f) == 0 && futimens(fileno(f), ts) == 0;
}
#else
// Windows: the same steps by path, each directory's attributes looked at
// before it is used.

static void closebelow(hosttree *t, int32_t depth)
{
    t->depth = depth;
}

int hostopen(hosttree *t, const char *dir, int make)
{
    size_t n = strlen(dir);
    DWORD a;

    t->depth = 0;
    t->fd[0] = 0;
    if (n >= sizeof t->path)
        return HOSTFAILED;
    memcpy(t->path, dir, n + 1);
    t->end[0] = (int32_t)n;
    if (make && !CreateDirectoryA(dir, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return HOSTFAILED;
    a = GetFileAttributesA(dir);
    if (a == INVALID_FILE_ATTRIBUTES) {
        t->fd[0] = -1;
        return HOSTABSENT;
    }
    return a & FILE_ATTRIBUTE_DIRECTORY ? HOSTOK : HOSTNOTDIR;
}

int hostlook(hosttree *t, int32_t depth, const char *name)
{
    DWORD a;

    if (t->fd[depth] < 0)
        return HOSTABSENT;
    a = GetFileAttributesA(hostpath(t, depth, name));
    if (a == INVALID_FILE_ATTRIBUTES)
        return HOSTABSENT;
    return (a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT) ? HOSTISDIR
                                                                                : HOSTEXISTS;
}

int hostenter(hosttree *t, int32_t depth, const char *name, int make)
{
    int parent = t->fd[depth];
    DWORD a;

    closebelow(t, depth);
    if (!setpath(t, depth, name))
        return HOSTTOODEEP;
    t->depth = depth + 1;
    t->fd[depth + 1] = -1;
    if (parent < 0)
        return make ? HOSTFAILED : HOSTABSENT;
    a = GetFileAttributesA(t->path);
    if (a == INVALID_FILE_ATTRIBUTES) {
        if (!make)
            return HOSTABSENT;
        if (!CreateDirectoryA(t->path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return HOSTFAILED;
        a = GetFileAttributesA(t->path);
    }
    if (a == INVALID_FILE_ATTRIBUTES)
        return HOSTFAILED;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT)
        return HOSTLINK;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY))
        return HOSTNOTDIR;
    t->fd[depth + 1] = 0;
    return HOSTOK;
}

FILE *hostcreate(hosttree *t, int32_t depth, const char *name, char *temp)
{
    static unsigned serial;

    for (int i = 0; i < 1000; i++) {
        char full[HOSTPATHMAX + HOSTTEMPMAX];
        tempname(temp, HOSTTEMPMAX, name, (unsigned long)GetCurrentProcessId(), &serial);
        snprintf(full, sizeof full, "%s", hostpath(t, depth, temp));
        int fd = _open(full, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            FILE *f = _fdopen(fd, "wb");
            if (!f) {
                _close(fd);
                remove(full);
            }
            return f;
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

int hostplace(hosttree *t, int32_t depth, FILE *f, const char *temp, const char *name,
              int replace, int64_t when)
{
    char from[HOSTPATHMAX + HOSTTEMPMAX], to[HOSTPATHMAX + HOSTTEMPMAX];
    int ok = fflush(f) == 0 && !ferror(f) && settimes(f, when);
    int r = HOSTFAILED;

    ok = fclose(f) == 0 && ok;
    snprintf(from, sizeof from, "%s", hostpath(t, depth, temp));
    snprintf(to, sizeof to, "%s", hostpath(t, depth, name));
    if (ok && MoveFileExA(from, to, replace ? MOVEFILE_REPLACE_EXISTING : 0))
        r = HOSTOK;
    else if (ok && (GetLastError() == ERROR_ALREADY_EXISTS ||
                    GetLastError() == ERROR_FILE_EXISTS))
        r = HOSTCLASH;
    if (r != HOSTOK)
        remove(from);
    return r;
}

void hostdrop(hosttree *t, int32_t depth, FILE *f, const char *temp)
{
    char full[HOSTPATHMAX + HOSTTEMPMAX];

    fclose(f);
    snprintf(full, sizeof full, "%s", hostpath(t, depth, temp));
    remove(full);
}

void hostclose(hosttree *t)
{
    t->depth = 0;
}

// Sets the times of the directory at path (a reparse point's own) to when.
static int setfoldertime(const char *path, int64_t when)
{
    // 100-nanosecond steps since 1601, the epoch of Windows' file times.
    uint64_t ticks = ((uint64_t)when + 11644473600ull) * 10000000ull;
    FILETIME ft = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    HANDLE h = CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    BOOL ok;

    if (h == INVALID_HANDLE_VALUE)
        return 0;
    ok = SetFileTime(h, nullptr, &ft, &ft);
    CloseHandle(h);
    return ok != 0;
}

int makefolder(const char *path, int64_t when)
{
    DWORD a;

    if (!CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return 0;
    a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) &&
           !(a & FILE_ATTRIBUTE_REPARSE_POINT) && setfoldertime(path, when);
}

int hostdirtime(hosttree *t, int32_t depth, int64_t when)
{
    if (t->fd[depth] < 0)
        return 0;
    t->path[t->end[depth]] = '\0';
    return setfoldertime(t->path, when);
}

int settimes(FILE *f, int64_t when)
{
    struct _utimbuf times;

    times.actime = times.modtime = (time_t)when;
    return fflush(f) == 0 && _futime(_fileno(f), &times) == 0;
}
#endif
