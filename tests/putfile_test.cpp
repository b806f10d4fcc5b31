// The put planner on hand-laid volumes: what no real tool makes happen on
// cue (the cache failing to grow, a directory cross-linked with a file).
#include <gtest/gtest.h>

#include "fakevolume.h"
#include "memstream.h"
#include "volumerun.h"

static int put(volumerun *r, putplan *p, const std::string &path, uint32_t size)
{
    fattime t = {0, 0x21};
    return putfile(r->f, &r->dp, p, (const unsigned char *)path.data(), (int32_t)path.size(),
                   size, &t);
}

TEST(putfile, thecachefailingtogrowrefusestheput)
{
    fakevolume v;
    v.build();
    v.entry(-1, 0, "FULL       ", 0x10, 2);
    v.chain({2});
    for (int i = 0; i < 16; i++) // its one cluster holds 16 entries: all in use
        v.entry(2, i, "F" + std::to_string(10 + i) + "     BIN", 0x20, 0, 0);
    static putplan p;
    // 1: the full directory's growth; 2: a new directory's row.
    for (const char *path : {"FULL\\NEW.BIN", "NEWDIR\\X.BIN"}) {
        auto r = openvol(v.img, "rb+");
        initputplan(&p, 0);
        r->cluster("FULL\\F10.BIN"); // FULL in the cache, which is then made full
        r->dp.dirbufsize = r->dp.dirbufused;
        r->dp.dirtablesize = r->dp.dircount;
        failalloc = 1;
        EXPECT_EQ(put(r.get(), &p, path, 10), PUTNOMEMORY) << path;
        failalloc = 0;
        EXPECT_EQ(put(r.get(), &p, path, 10), PUTOK) << path;
        EXPECT_EQ(p.first, 4) << path; // the directory took 3, the lowest free
    }
}

TEST(putfile, adirectorycrosslinkedwithareplacedfileiswrittenasfarasitschaingoes)
{
    // DIR's chain 5, 6 shares cluster 6 with OLD.BIN (6, 7): replacing
    // OLD.BIN frees 6, and writing DIR back must stop where its chain does.
    fakevolume v;
    v.build();
    v.entry(-1, 0, "DIR        ", 0x10, 5);
    v.chain({5, 6, 7});
    v.entry(-1, 1, "OLD     BIN", 0x20, 6, 1024);
    auto r = openvol(v.img, "rb+");
    static putplan p;
    initputplan(&p, 0);
    ASSERT_EQ(put(r.get(), &p, "DIR\\NEW.BIN", 10), PUTOK);
    ASSERT_EQ(put(r.get(), &p, "OLD.BIN", 0), PUTOK);
    p.dirty[7] = 1;
    EXPECT_EQ(writedirectories(r->f, &r->dp, p.dirty, p.rootdirty), 1);
    EXPECT_EQ(countcalls(&r->m, 'w'), 2); // the root and cluster 5, nothing past the break
}
