// Which clusters more than one entry claims: every chain of the tree walked
// once, so that an operation that frees or reads a chain can tell whether
// another file holds the same clusters (freeing it would free that file's
// data; reading it would read that file's).
#include <cstring>

#include "owners.h"

// Counts into owners[] (CLUSTERSLOTS bytes) how many chains of the tree
// hold each cluster: 0, 1, or 2 for two or more. Every entry's chain is
// walked to its end or its damage, the directories as the walk enters them.
void countowners(FILE *image, diskprops *dp, dirwalk *w, chainwalk *cw, unsigned char *owners)
{
    int32_t slot, a, b;
    int kind;

    memset(owners, 0, CLUSTERSLOTS);
    startwalk(dp, w);
    while ((slot = nextentry(image, dp, w, &kind)) >= 0) {
        startchain(cw, entrycluster(dp, slot));
        while (nextrun(dp, cw, &a, &b))
            for (int32_t c = a; c <= b; c++)
                owners[c] += owners[c] < 2;
    }
}

// The first cluster of the sound part of the chain from first that another
// chain holds too, by owners[]; -1 when there is none.
int32_t crossedcluster(const diskprops *dp, chainwalk *cw, int32_t first,
                       const unsigned char *owners)
{
    int32_t a, b;

    startchain(cw, first);
    while (nextrun(dp, cw, &a, &b))
        for (int32_t c = a; c <= b; c++)
            if (owners[c] > 1)
                return c;
    return -1;
}
