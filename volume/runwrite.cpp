// Writing a put's data: a host file's bytes into the run of clusters that
// the plan gave it, then zeros to the end of its last cluster.
#include <cstring>

#include "runwrite.h"

// Writes n bytes of buf at *to, moving *to past them; 1 on success.
static int writepiece(FILE *image, diskprops *dp, putplan *p, int64_t *to,
                      const unsigned char *buf, int32_t n)
{
    int ok = writeimagenext(image, dp, *to, buf, n, &p->imageat);

    *to += n;
    return ok;
}

// Copies the host file, open at its start and of exactly size bytes, into
// the run from first, then zeros to the end of its last cluster; buf, of
// bufsize bytes, is scratch. 1 on success; 0 when a read or write fails or
// the host file does not end where its size says (it changed since the plan).
int writerun(FILE *image, diskprops *dp, putplan *p, FILE *host, int32_t first, uint32_t size,
             unsigned char *buf, int32_t bufsize)
{
    int64_t left = size, to = clusteroffset(dp, first);
    int64_t slack = (dp->clusterbytes - (int64_t)size % dp->clusterbytes) % dp->clusterbytes;
    int ok = 1;

    while (ok && left > 0) {
        int32_t want = left < bufsize ? (int32_t)left : bufsize, out = want;
        ok = (int32_t)fread(buf, 1, (size_t)want, host) == want;
        left -= want;
        // The last piece takes the zeros after it along when they fit: one
        // write for the file's last sector.
        if (ok && left == 0 && slack > 0 && slack <= bufsize - want) {
            memset(buf + want, 0, (size_t)slack);
            out += (int32_t)slack;
            slack = 0;
        }
        ok = ok && writepiece(image, dp, p, &to, buf, out);
    }
    ok = ok && fgetc(host) == EOF;
    if (ok && slack > 0)
        memset(buf, 0, (size_t)(slack < bufsize ? slack : bufsize));
    while (ok && slack > 0) {
        int32_t want = slack < bufsize ? (int32_t)slack : bufsize;
        ok = writepiece(image, dp, p, &to, buf, want);
        slack -= want;
    }
    if (!ok)
        p->imageat = -1;
    return ok;
}
