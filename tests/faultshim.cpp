// Linked into test-only builds of the tools (with --wrap=fopen,fclose): the
// stream opened on the path in DCPFAULT_CLOSE has its fclose report a
// failure, as a flush that cannot reach the disk would, after really closing.
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
FILE *__real_fopen(const char *path, const char *mode);
int __real_fclose(FILE *f);

static FILE *doomed;

FILE *__wrap_fopen(const char *path, const char *mode)
{
    FILE *f = __real_fopen(path, mode);
    const char *target = getenv("DCPFAULT_CLOSE");
    if (f && target && strcmp(path, target) == 0)
        doomed = f;
    return f;
}

int __wrap_fclose(FILE *f)
{
    int r = __real_fclose(f);
    if (f == doomed) {
        doomed = nullptr;
        return EOF;
    }
    return r;
}
}
