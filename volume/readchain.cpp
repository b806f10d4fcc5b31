// Reading a file out of the volume: its bytes, exactly its size, from its
// chain's runs, each run in as few reads as the buffer allows.
#include "readchain.h"

// Copies the first size bytes of the chain from first to out, through buf
// (bufsize bytes); the chain is known sound and long enough. READCHAINOK,
// READCHAINIMAGE when a read of the image fails (dp->lacking names a sector
// the container lacks), READCHAINOUT when a write to out fails.
int readchain(FILE *image, diskprops *dp, chainwalk *cw, int32_t first, uint32_t size,
              FILE *out, unsigned char *buf, int32_t bufsize)
{
    int64_t left = size;
    int32_t a, b;

    startchain(cw, first);
    while (left > 0 && nextrun(dp, cw, &a, &b)) {
        int64_t at = clusteroffset(dp, a);
        int64_t run = (int64_t)(b - a + 1) * dp->clusterbytes;
        for (int64_t done = 0; done < run && left > 0;) {
            int32_t n = (int32_t)(left < bufsize ? left : bufsize);
            if (run - done < n)
                n = (int32_t)(run - done);
            if (!readimage(image, dp, at + done, buf, n))
                return READCHAINIMAGE;
            if ((int32_t)fwrite(buf, 1, (size_t)n, out) != n)
                return READCHAINOUT;
            done += n;
            left -= n;
        }
    }
    return left > 0 ? READCHAINIMAGE : READCHAINOK;
}
