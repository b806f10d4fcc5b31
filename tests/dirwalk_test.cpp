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
        for (int i = 0; i < FATENDOFCHAIN; i++)
            w.seen[i] = 1;
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
    startchain(&w, 0);
    int32_t a, b;
    EXPECT_EQ(nextrun(&r->dp, &w, &a, &b), 0);
    EXPECT_EQ(w.damage, CHAINSOUND);
    EXPECT_EQ(w.clusters, 0);
}
