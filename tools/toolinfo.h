// --help and --version, the same way in every tool. Header-only, so that a
// tool that links nothing else stays that way.
#ifndef TOOLS_TOOLINFO_H
#define TOOLS_TOOLINFO_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#ifndef DCP_VERSION
#define DCP_VERSION "unknown"
#endif

// The version line, the same on every platform: the program's own name,
// never the path it was called by.
inline void printversion(const char *name)
{
    printf("%s (dcptools) %s\n", name, DCP_VERSION);
}

// Set once standard output's failure has been said, so that it is said once.
inline int stdoutfailed = 0;

// Says on standard error, once, that standard output could not be written.
inline void stdoutproblem(void)
{
    if (!stdoutfailed)
        fputs("Could not write standard output\n", stderr);
    stdoutfailed = 1;
}

// When "--help" or "--version" is the only argument, prints the usage text
// or the version on standard output and returns 1, or -1 after saying on
// standard error that standard output could not be written; otherwise 0.
inline int infoargument(int argc, char **argv, const char *name, const char *usage)
{
    if (argc != 2)
        return 0;
    if (strcmp(argv[1], "--help") == 0)
        fputs(usage, stdout);
    else if (strcmp(argv[1], "--version") == 0)
        printversion(name);
    else
        return 0;
    if (fflush(stdout) == 0 && !ferror(stdout))
        return 1;
    stdoutproblem();
    return -1;
}

// Sets up the streams of a tool whose standard output is data for scripts:
// the same bytes on every platform (binary on Windows), and a message
// written in pieces goes out a line per write, which keeps a damaged
// image's thousands of messages cheap.
inline void datastreams(void)
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    setvbuf(stderr, nullptr, _IOLBF, BUFSIZ);
}

// The exit status of a tool whose standard output is data for scripts: a
// short one must not end in status 0, so a failed flush is a failure too.
inline int datastatus(int ok)
{
    fflush(stdout);
    if (ferror(stdout)) {
        stdoutproblem();
        ok = 0;
    }
    return ok ? 0 : 1;
}

// SOURCE_DATE_EPOCH, the reproducible-builds time, into *epoch (left as it
// is when unset): 1 when it is unset or decimal digits, else 0 after saying so.
inline int sourcedate(int64_t *epoch)
{
    const char *text = getenv("SOURCE_DATE_EPOCH");
    int64_t v = 0;

    if (!text)
        return 1;
    if (!*text || strspn(text, "0123456789") != strlen(text)) {
        fputs("SOURCE_DATE_EPOCH is not a decimal number\n", stderr);
        return 0;
    }
    // Far past anything FAT stores, the value saturates.
    for (; *text && v < 100000000000000000; text++)
        v = v * 10 + (*text - '0');
    *epoch = v;
    return 1;
}

#endif
