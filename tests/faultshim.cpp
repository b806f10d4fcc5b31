// Linked into test-only builds of the tools (with --wrap=fopen,fclose,fwrite),
// for the failures that no real file produces on cue:
//   DCPFAULT_CLOSE=PATH    the stream opened on PATH has its fclose report a
//                          failure, as a flush that cannot reach the disk
//                          would, after really closing;
//   DCPFAULT_WRITE=N:PATH  the Nth fwrite on the stream opened on PATH fails
//                          and writes nothing;
//   DCPFAULT_SWAP=PATH:OTHER  the second fopen of PATH opens OTHER instead,
//                          as if the file had changed between two reads.
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
FILE *__real_fopen(const char *path, const char *mode);
int __real_fclose(FILE *f);
size_t __real_fwrite(const void *p, size_t size, size_t n, FILE *f);

static FILE *doomed, *failing;
static int writesleft, swapopens;

static FILE *openorswap(const char *path, const char *mode)
{
    const char *swap = getenv("DCPFAULT_SWAP");
    const char *colon = swap ? strchr(swap, ':') : nullptr;

    if (colon && strncmp(path, swap, (size_t)(colon - swap)) == 0 &&
        path[colon - swap] == 0 && ++swapopens == 2)
        return __real_fopen(colon + 1, mode);
    return __real_fopen(path, mode);
}

FILE *__wrap_fopen(const char *path, const char *mode)
{
    FILE *f = openorswap(path, mode);
    const char *target = getenv("DCPFAULT_CLOSE");
    const char *write = getenv("DCPFAULT_WRITE");
    const char *colon = write ? strchr(write, ':') : nullptr;

    if (f && target && strcmp(path, target) == 0)
        doomed = f;
    if (f && colon && strcmp(path, colon + 1) == 0) {
        failing = f;
        writesleft = atoi(write);
    }
    return f;
}

size_t __wrap_fwrite(const void *p, size_t size, size_t n, FILE *f)
{
    if (f == failing && --writesleft == 0)
        return 0;
    return __real_fwrite(p, size, n, f);
}

int __wrap_fclose(FILE *f)
{
    int r = __real_fclose(f);
    if (f == failing)
        failing = nullptr;
    if (f == doomed) {
        doomed = nullptr;
        return EOF;
    }
    return r;
}
}
