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
    // DIR's chain 5, 6, 7 shares 6 and 7 with OLD.BIN: replacing OLD.BIN
    // frees them (size 0), or ends the chain at 6 (size 10); writing DIR
    // back must stop where its chain now does.
    fakevolume v;
    v.build();
    v.entry(-1, 0, "DIR        ", 0x10, 5);
    v.chain({5, 6, 7});
    v.entry(-1, 1, "OLD     BIN", 0x20, 6, 1024);
    for (uint32_t size : {0u, 10u}) {
        auto r = openvol(v.img, "rb+");
        static putplan p;
        initputplan(&p, 0);
        ASSERT_EQ(put(r.get(), &p, "DIR\\NEW.BIN", 10), PUTOK);
        ASSERT_EQ(put(r.get(), &p, "OLD.BIN", size), PUTOK);
        planreach(&p, 7);
        p.dirty[7] = 1;
        EXPECT_EQ(writedirectories(r->f, &r->dp, p.dirty, p.rootdirty), 1);
        EXPECT_EQ(countcalls(&r->m, 'w'), 2) << size; // the root and cluster 5, nothing more
    }
}

TEST(putfile, fattimesclampedtowhatfatstores)
{
    struct {
        int y, mo, d, h, mi, s, date, time;
    } cases[] = {{2023, 11, 14, 22, 13, 20, 43 << 9 | 11 << 5 | 14, 22 << 11 | 13 << 5 | 10},
                 {1979, 12, 31, 23, 59, 59, 0x21, 0},
                 {2108, 1, 1, 0, 0, 0, 0xFF9F, 0xBF7D},
                 {2016, 12, 31, 23, 59, 60, 36 << 9 | 12 << 5 | 31, 0xBF7D}}; // a leap second
    for (const auto &c : cases) {
        fattime t;
        packfattime(c.y, c.mo, c.d, c.h, c.mi, c.s, &t);
        EXPECT_EQ(t.date, c.date) << c.y;
        EXPECT_EQ(t.time, c.time) << c.y;
    }
}

TEST(putfile, everyseekandwriteofwritingbackfailsinturn)
{
    fakevolume v;
    v.build();
    static putplan p;
    for (char op : {'s', 'w'}) {
        // Seeks and writes: the root, DIR's cluster, then two FAT copies.
        for (int n = 1; n <= 4; n++) {
            auto r = openvol(v.img, "rb+");
            initputplan(&p, 0);
            ASSERT_EQ(put(r.get(), &p, "DIR\\NEW.BIN", 10), PUTOK);
            (op == 's' ? r->m.failseek : r->m.failwrite) =
                (op == 's' ? r->m.seeks : r->m.writes) + n;
            int ok = writedirectories(r->f, &r->dp, p.dirty, p.rootdirty) &&
                     writefats(r->f, &r->dp, r->work);
            EXPECT_EQ(ok, 0) << op << n;
            EXPECT_EQ(r->m.calls.back().op, op) << op << n; // nothing after the failure
        }
    }
}

TEST(putfile, anewdirectoryinafreedclusterisnotshadowedbyastalerow)
{
    // DIR (cached) starts at 5, which OLD.BIN shares: emptying OLD.BIN frees
    // 5, NEW takes it, and a lookup through NEW must find NEW's contents.
    fakevolume v;
    v.build();
    v.entry(-1, 0, "DIR        ", 0x10, 5);
    v.chain({5});
    v.entry(-1, 1, "OLD     BIN", 0x20, 5, 100);
    for (int c = 2; c < 5; c++)
        v.setfat(c, 0xFF7); // bad: 5 is the lowest free cluster once freed
    auto r = openvol(v.img, "rb+");
    static putplan p;
    initputplan(&p, 0);
    ASSERT_EQ(r->cluster("DIR\\ANY"), -1); // DIR in the cache
    ASSERT_EQ(put(r.get(), &p, "OLD.BIN", 0), PUTOK);
    ASSERT_EQ(put(r.get(), &p, "NEW\\X.BIN", 0), PUTOK);
    EXPECT_EQ(r->cluster("NEW\\"), 5);
    int32_t slot = findslot(r->f, &r->dp, (const unsigned char *)"NEW\\X.BIN", 9);
    EXPECT_EQ(slot, p.slot);
}

TEST(putfile, dataclustersofeverygeometry)
{
    // The data clusters are 2 to lastcluster: bounded by the sector count,
    // the FAT's entries and the FAT's own end-of-chain values.
    // refused: what a put of one byte gets when nothing fits.
    struct geo {
        int spc, total, spf, last, refused;
    } cases[] = {{1, 2880, 9, 2848, 0},           // 1.44 MB: 2880 - 33 sectors of data
                 {2, 34, 9, 1, PUTTOOBIG},        // less than a cluster of data
                 {1, 20, 9, -12, PUTNOSYSTEMAREA}, // the root runs past the end
                 {0, 2880, 9, 1, PUTTOOBIG},      // no cluster size
                 {1, 2880, 1, 339, 0},            // a FAT of 512 bytes: 340 entries
                 {1, 4123, 12, 4079, 0},          // 4084 clusters: FAT12 numbers end at 0xFEF
                 {1, 8000, 24, 6143, 0}};         // FAT16 by its count: its FAT's 6144 entries
    for (const geo &g : cases) {
        fakevolume v;
        v.spc = g.spc;
        v.total = g.total;
        v.spf = g.spf;
        v.build();
        auto r = openvol(v.img);
        EXPECT_EQ(lastcluster(&r->dp), g.last) << g.total << " " << g.spf;
        static putplan p;
        initputplan(&p, 0);
        if (g.refused) { // nothing fits, not even a byte
            EXPECT_EQ(put(r.get(), &p, "X.BIN", 1), g.refused);
            EXPECT_EQ(p.longest, 0);
        }
    }
}

TEST(putfile, afileinthelastclusterscannotgrowpasttheend)
{
    fakevolume v;
    v.build();
    v.entry(-1, 0, "END     BIN", 0x20, 2848, 512);
    v.chain({2848});
    auto r = openvol(v.img, "rb+");
    static putplan p;
    initputplan(&p, 0);
    EXPECT_EQ(put(r.get(), &p, "END.BIN", 1024), PUTOK);
    EXPECT_EQ(p.first, 2); // the lowest run, not 2848 and past the volume
}

TEST(putfile, achainthatcrossesanotheriseitherrefusedorneverwrittenbeyondit)
{
    // DIR's chain 5, 6, 7 shares 6 and 7 with OLD.BIN; DIR's first two
    // clusters are full, so its next free slot lies in 7.
    fakevolume v;
    v.build();
    v.entry(-1, 0, "DIR        ", 0x10, 5);
    v.chain({5, 6, 7});
    for (int i = 0; i < 32; i++)
        v.entry(5 + i / 16, i % 16, "F" + std::to_string(10 + i) + "     BIN", 0x20, 0, 0);
    v.entry(-1, 1, "OLD     BIN", 0x20, 6, 1024);
    static putplan p;
    static dirwalk w;
    static chainwalk cw;
    static unsigned char owners[CLUSTERSLOTS];
    // Seen (as sectput sees it): refused before anything changes.
    auto r = openvol(v.img, "rb+");
    initputplan(&p, 0);
    countowners(r->f, &r->dp, &w, &cw, owners);
    p.owners = owners;
    EXPECT_EQ(put(r.get(), &p, "OLD.BIN", 10), PUTCROSSED);
    EXPECT_EQ(p.held.badcluster, 6);
    EXPECT_EQ(put(r.get(), &p, "DIR\\NEW.BIN", 10), PUTCROSSED);
    // Unseen: with DIR read, OLD.BIN keeps 6 and frees 7, which cuts DIR's
    // chain there; a new entry in DIR's cut-off cluster is refused, never
    // marked past the FAT.
    r = openvol(v.img, "rb+");
    initputplan(&p, 0);
    ASSERT_EQ(put(r.get(), &p, "DIR\\A.BIN", 10), PUTOK);
    ASSERT_EQ(put(r.get(), &p, "OLD.BIN", 10), PUTOK);
    EXPECT_EQ(put(r.get(), &p, "DIR\\B.BIN", 10), PUTDAMAGED);
}
