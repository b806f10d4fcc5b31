// The tree walk and the chain walk of the volume library, on their own.
#include <gtest/gtest.h>

#include <climits>

#include "fakevolume.h"
#include "volumerun.h"

TEST(dirwalk, everydirectoryreadonceandwalkedagainfromthecache)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    auto r = openvol(readfile(dcp));
    ASSERT_EQ(r->ok, 1) << r->printed;
    static dirwalk w;
    int counts[2] = {0, 0}, kind, reads = 0;
    for (int pass = 0; pass < 2; pass++) {
        r->m.calls.clear();
        startwalk(&r->dp, &w);
        while (nextentry(r->f, &r->dp, &w, &kind) >= 0) {
            EXPECT_TRUE(kind == WALKFILE || kind == WALKDIR);
            counts[pass]++;
        }
        if (pass == 0)
            reads = countcalls(&r->m, 'r');
        else
            EXPECT_EQ(countcalls(&r->m, 'r'), 0);
    }
    EXPECT_EQ(counts[0], 51);
    EXPECT_EQ(counts[1], 51);
    EXPECT_EQ(r->dp.dircount, 6); // the root and five subdirectories
    EXPECT_GE(reads, 5);
}

TEST(dirwalk, areleasingwalkholdsonlythedirectoriesonitspath)
{
    // The same entries in the same order, with no more rows than the path
    // is deep (SYSTEM\DRIVERS\SOUND: four with the root) instead of six.
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    std::vector<std::string> seen[2];
    int32_t rows[2] = {0, 0};
    for (int release = 0; release < 2; release++) {
        auto r = openvol(readfile(dcp));
        static dirwalk w;
        int kind;
        int32_t slot;
        startwalk(&r->dp, &w);
        w.release = release;
        while ((slot = nextentry(r->f, &r->dp, &w, &kind)) >= 0) {
            seen[release].push_back(std::string((const char *)entryname(&r->dp, slot), 11) +
                                    std::to_string(kind));
            rows[release] = std::max(rows[release], r->dp.dircount);
        }
        EXPECT_EQ(r->dp.dircount, release ? 1 : 6);
    }
    EXPECT_EQ(seen[1], seen[0]);
    EXPECT_EQ(rows[0], 6);
    EXPECT_EQ(rows[1], 4);
}

TEST(chainwalk, runsendsandthestampwrap)
{
    fakevolume v;
    v.build();
    v.chain({5, 6, 7, 9, 10, 3});
    v.setfat(3, 0xFF0); // a reserved value ends a chain like 0xFFF
    auto r = openvol(v.img);
    ASSERT_EQ(r->ok, 1);
    static chainwalk w;
    initchainwalk(&w);
    for (int32_t stamp : {0, INT32_MAX}) {
        w.stamp = stamp; // at the wrap the marks are cleared, not misread
        for (int i = 0; i < CLUSTERSLOTS; i++)
            w.seen[i] = 1;
        w.reach = CLUSTERSLOTS; // as if a walk had marked them all
        startchain(&w, 5);
        std::string runs;
        int32_t a, b;
        while (nextrun(&r->dp, &w, &a, &b))
            runs += std::to_string(a) + "-" + std::to_string(b) + " ";
        EXPECT_EQ(w.damage, stamp ? CHAINSOUND : CHAINLOOP) << stamp;
        if (stamp) {
            EXPECT_EQ(runs, "5-7 9-10 3-3 ");
            EXPECT_EQ(w.clusters, 6);
        }
    }
    // Claims are forgotten at the wrap too: nothing looks taken before.
    claimchains(&w);
    w.stamp = INT32_MAX;
    startchain(&w, 5);
    int32_t a, b;
    while (nextrun(&r->dp, &w, &a, &b))
        ;
    EXPECT_EQ(w.damage, CHAINSOUND);
    EXPECT_EQ(w.claimfrom, 1);
    startchain(&w, 0);
    EXPECT_EQ(nextrun(&r->dp, &w, &a, &b), 0);
    EXPECT_EQ(w.damage, CHAINSOUND);
    EXPECT_EQ(w.clusters, 0);
}

TEST(dirwalk, crossedanddamageddirectorieskeepthewalksmall)
{
    // BIG's chain runs over 500 clusters, and every slot of them is a
    // directory that starts at another cluster: inside BIG's own chain, or
    // inside a 500-cluster chain that loops at its end. Each cluster must be
    // read as directory contents at most once, and no slot entered.
    for (int looped : {0, 1}) {
        fakevolume v;
        v.build();
        std::vector<int> big, bad;
        for (int i = 0; i < 500; i++) {
            big.push_back(2 + i);
            bad.push_back(600 + i);
        }
        v.chain(big);
        v.chain(bad);
        v.setfat(1099, 600);
        v.entry(-1, 0, "BIG        ", 0x10, 2);
        for (int k = 0; k < 500 * 16; k++) {
            int target = (looped ? bad : big)[(k * 7919) % 500];
            std::string name = "D" + std::to_string(1000000 + k) + "   ";
            v.entry(2 + k / 16, k % 16, name, 0x10, target);
        }
        auto r = openvol(v.img);
        ASSERT_EQ(r->ok, 1);
        static dirwalk w;
        int kinds[5] = {0, 0, 0, 0, 0}, kind;
        r->m.calls.clear();
        startwalk(&r->dp, &w);
        while (nextentry(r->f, &r->dp, &w, &kind) >= 0)
            kinds[kind]++;
        long bytesread = 0;
        for (const iocall &c : r->m.calls)
            bytesread += c.op == 'r' ? c.length : 0;
        EXPECT_EQ(bytesread, 500 * 512) << looped; // BIG's clusters, once
        EXPECT_EQ(kinds[WALKDIR], 1);
        int again = looped ? 0 : 16; // the slots that name BIG's own first cluster
        EXPECT_EQ(kinds[WALKAGAIN], again) << looped;
        EXPECT_EQ(kinds[looped ? WALKUNREAD : WALKCROSSED], 8000 - again) << looped;
        EXPECT_EQ(w.depth, 0);
    }
}
