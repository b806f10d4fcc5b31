// Cluster chains walked in memory, a run of consecutive clusters at a time.
#ifndef VOLUME_CHAINRUNS_H
#define VOLUME_CHAINRUNS_H

#include "volume/diskprops.h"

// A walk over a cluster chain, one run of consecutive clusters at a time.
// seen[] marks the clusters taken, by stamp, so that a loop is caught; once
// claimchains has been called, a cluster that an earlier chain took since
// then (stamp claimfrom or later, but not selfstamp, the stamp of an earlier
// walk over this same chain) stops the walk as CHAINSHARED.
// CHAINBADMARK: the chain holds a cluster that the FAT marks bad (its entry
// ends the chain), which no put may free.
enum {
    CHAINSOUND = 0, CHAINLOOP, CHAINOUTSIDE, CHAINPASTEND, CHAINSHARED, CHAINBADMARK,
    CHAINDONE = -1
};
struct chainwalk {
    int32_t next;       // cluster the next run starts at; CHAINDONE when done
    int32_t clusters;   // sound clusters taken so far
    int32_t damage;     // CHAINSOUND, or why the walk stopped early
    int32_t badcluster; // the cluster that stopped it, or -1
    int32_t stamp;
    int32_t claimfrom;  // 0 while chains may share clusters
    int32_t selfstamp;
    int32_t reach;      // seen[] below it may be marked: what clearing it clears
    int32_t seen[CLUSTERSLOTS];
};

// chainruns.cpp
void initchainwalk(chainwalk *w);
void startchain(chainwalk *w, int32_t first);
void rewalkchain(chainwalk *w, int32_t first);
void claimchains(chainwalk *w);
int nextrun(const diskprops *dp, chainwalk *w, int32_t *first, int32_t *last);
int32_t clustersector(const diskprops *dp, int32_t cluster);

#endif
