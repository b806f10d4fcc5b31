// A cluster chain as runs of consecutive clusters, walked in memory over the
// decoded FAT, stopping where the chain stops being sound.
#include <cstring>

#include "chainruns.h"

// A walk with no chain yet and no cluster marked. w is one in static
// storage (all zeros) or one initialised before: only the marks it may
// have made are cleared, so that a floppy's walk touches no more memory
// than its clusters need.
void initchainwalk(chainwalk *w)
{
    int32_t reach = w->reach > 0 && w->reach <= CLUSTERSLOTS ? w->reach : 0;

    memset(w->seen, 0, (size_t)reach * sizeof w->seen[0]);
    w->next = CHAINDONE;
    w->clusters = w->damage = w->stamp = w->claimfrom = w->selfstamp = w->reach = 0;
    w->badcluster = 0;
}

// Starts the walk at first; cluster 0 is the chain of an empty file.
void startchain(chainwalk *w, int32_t first)
{
    // A new stamp forgets the clusters seen by the previous chain without
    // clearing the marks; they are cleared only when the stamp wraps.
    if (w->stamp == INT32_MAX) {
        memset(w->seen, 0, (size_t)w->reach * sizeof w->seen[0]);
        w->stamp = 0;
        w->claimfrom = w->claimfrom > 0 ? 1 : 0; // the claims are forgotten too
    }
    w->stamp++;
    w->selfstamp = 0;
    // Any other first cluster is taken, or found damaged, by the first run.
    w->next = first == 0 ? CHAINDONE : first;
    w->clusters = 0;
    w->damage = CHAINSOUND;
    w->badcluster = -1;
}

// Walks the chain from first again, as startchain does, where the walk just
// made was over the same chain: its clusters are not taken as shared.
void rewalkchain(chainwalk *w, int32_t first)
{
    int32_t previous = w->stamp;

    startchain(w, first);
    w->selfstamp = previous;
}

// From now on, a chain that runs into a cluster an earlier chain took is
// damaged (CHAINSHARED), so that walking any number of chains over a
// damaged FAT takes each cluster once.
void claimchains(chainwalk *w)
{
    w->claimfrom = w->stamp + 1;
}

// 1 when cluster may be taken into the chain; else records why not.
static int takecluster(const diskprops *dp, chainwalk *w, int32_t cluster)
{
    if (cluster < 2 || cluster >= dp->endofchain)
        w->damage = CHAINOUTSIDE;
    else if (w->seen[cluster] == w->stamp)
        w->damage = CHAINLOOP;
    else if (w->claimfrom > 0 && w->seen[cluster] >= w->claimfrom &&
             w->seen[cluster] != w->selfstamp)
        w->damage = CHAINSHARED;
    else if (!clusterinvolume(dp, cluster))
        w->damage = CHAINPASTEND;
    if (w->damage != CHAINSOUND) {
        w->badcluster = cluster;
        w->next = CHAINDONE;
        return 0;
    }
    w->seen[cluster] = w->stamp;
    if (cluster >= w->reach)
        w->reach = cluster + 1;
    w->clusters++;
    return 1;
}

// The next run of the chain: 1 with its first and last cluster, 0 when the
// chain has ended or a damaged cluster stops it (w->damage tells which).
int nextrun(const diskprops *dp, chainwalk *w, int32_t *first, int32_t *last)
{
    int32_t c = w->next;

    if (c == CHAINDONE || !takecluster(dp, w, c))
        return 0;
    *first = c;
    for (;;) {
        int32_t n = dp->fat[c];
        if (n == dp->badmark) {
            w->damage = CHAINBADMARK;
            w->badcluster = c;
        }
        if (n >= dp->endofchain) {
            w->next = CHAINDONE;
            break;
        }
        if (n != c + 1) {
            w->next = n; // checked when the next run starts
            break;
        }
        if (!takecluster(dp, w, n))
            break;
        c = n;
    }
    *last = c;
    return 1;
}

// First sector, counted from the boot sector, of a data cluster.
int32_t clustersector(const diskprops *dp, int32_t cluster)
{
    return (cluster - 2) * dp->sectorspercluster + dp->datastart;
}
