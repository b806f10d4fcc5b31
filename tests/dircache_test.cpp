#include <gtest/gtest.h>

#include <climits>

#include "fakevolume.h"
#include "volumerun.h"

TEST(ensuredirspace, growsbydoublingandneverwrongly)
{
    auto dp = std::make_unique<diskprops>();
    initdiskprops(dp.get());
    dp->dirbufused = 16384 - 512;
    ASSERT_EQ(ensuredirspace(dp.get(), 1024, 0), 1);
    EXPECT_EQ(dp->dirbufsize, 32768);
    dp->dirbufused = 0;
    ASSERT_EQ(ensuredirspace(dp.get(), 70000, 0), 1);
    EXPECT_EQ(dp->dirbufsize, 131072);
    dp->dircount = 32;
    ASSERT_EQ(ensuredirspace(dp.get(), 0, 1), 1);
    EXPECT_EQ(dp->dirtablesize, 64);
    dp->dircount = 0;

    // A need past what a signed 32-bit size holds fails and keeps the arrays.
    dp->dirbufused = INT32_MAX - 10;
    EXPECT_EQ(ensuredirspace(dp.get(), 100, 0), 0);
    EXPECT_EQ(dp->dirbufsize, 131072);
    dp->dirbufused = 0;
    freediskprops(dp.get());

    // From nothing: 1024 doubled up to the need, 16 rows.
    dp->dirbuf = nullptr;
    dp->dirtable = nullptr;
    dp->dirbufsize = dp->dirbufused = dp->dirtablesize = dp->dircount = 0;
    ASSERT_EQ(ensuredirspace(dp.get(), 7168, 1), 1);
    EXPECT_EQ(dp->dirbufsize, 8192);
    EXPECT_EQ(dp->dirtablesize, 16);
    freediskprops(dp.get());
}

// A floppy with directory D at the given chain, holding one file X.
static fakevolume dirvolume(const std::vector<int> &chain)
{
    fakevolume v;
    v.build();
    v.entry(-1, 0, "D          ", 0x10, chain[0]);
    v.chain(chain);
    v.entry(chain.back(), 0, "X       BIN", 0x20, 40);
    v.chain({40});
    return v;
}

TEST(directorycache, chainreadswithseeksonlyatgaps)
{
    fakevolume v = dirvolume({5, 6, 7, 12});
    auto r = openvol(v.img);
    r->m.calls.clear();
    int32_t row = getdirectoryentry(r->f, &r->dp, 5);
    ASSERT_EQ(row, 1);
    const cacheddir &d = r->dp.dirtable[1];
    EXPECT_EQ(d.cluster, 5);
    EXPECT_EQ(d.start, 7168);
    EXPECT_EQ(d.end, 7168 + 4 * 512);
    EXPECT_EQ(r->dp.dirbufused, d.end);
    // Clusters 5 to 7 in one read, 12 in another.
    std::vector<iocall> want = {{'s', v.clusteroffset(5), 0}, {'r', v.clusteroffset(5), 1536},
                                {'s', v.clusteroffset(12), 0}, {'r', v.clusteroffset(12), 512}};
    ASSERT_EQ(r->m.calls.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(r->m.calls[i].op, want[i].op) << i;
        EXPECT_EQ(r->m.calls[i].offset, want[i].offset) << i;
        EXPECT_EQ(r->m.calls[i].length, want[i].length) << i;
    }
    // Cached: asking again reads nothing and gives the same row.
    r->m.calls.clear();
    EXPECT_EQ(getdirectoryentry(r->f, &r->dp, 5), 1);
    EXPECT_TRUE(r->m.calls.empty());
    EXPECT_EQ(r->sector("D\\X.BIN"), 33 + 38);
}

TEST(directorycache, thelastrowgoesonlywhenitsbytesendthebuffer)
{
    fakevolume v = dirvolume({5});
    auto r = openvol(v.img);
    ASSERT_EQ(getdirectoryentry(r->f, &r->dp, 5), 1);
    ASSERT_EQ(growdirectoryrow(&r->dp, 0), 1); // the root's bytes now follow row 1's
    int32_t grown = r->dp.dirbufused;
    droplastrow(&r->dp);
    EXPECT_EQ(r->dp.dircount, 2);
    EXPECT_EQ(r->dp.dirbufused, grown);
    // Unmoved, the last row goes, its bytes free; a request loads it again;
    // the root never goes.
    auto q = openvol(v.img);
    ASSERT_EQ(getdirectoryentry(q->f, &q->dp, 5), 1);
    droplastrow(&q->dp);
    EXPECT_EQ(q->dp.dircount, 1);
    EXPECT_EQ(q->dp.dirbufused, 7168);
    EXPECT_EQ(getdirectoryentry(q->f, &q->dp, 5), 1);
    droplastrow(&q->dp);
    droplastrow(&q->dp);
    EXPECT_EQ(q->dp.dircount, 1);
}

TEST(directorycache, reservedandbadmarksendachain)
{
    for (int mark = 0xFF0; mark <= 0xFF7; mark++) {
        fakevolume v = dirvolume({9});
        v.setfat(9, mark);
        auto r = openvol(v.img);
        int32_t row = getdirectoryentry(r->f, &r->dp, 9);
        ASSERT_EQ(row, 1) << mark;
        EXPECT_EQ(r->dp.dirtable[1].end - r->dp.dirtable[1].start, 512) << mark;
    }
}

TEST(directorycache, failedloadleavesthecacheasitwas)
{
    fakevolume v = dirvolume({5, 6, 7, 12});
    bytes cut(v.img.begin(), v.img.begin() + v.clusteroffset(7) + 100);
    auto r = openvol(cut);
    ASSERT_EQ(r->ok, 1);
    EXPECT_EQ(getdirectoryentry(r->f, &r->dp, 5), -1);
    EXPECT_EQ(r->dp.dircount, 1);
    EXPECT_EQ(r->dp.dirbufused, 7168);
    // A failed seek does the same.
    auto s = openvol(v.img);
    s->m.failseek = s->m.seeks + 2; // the seek before cluster 12
    EXPECT_EQ(getdirectoryentry(s->f, &s->dp, 5), -1);
    EXPECT_EQ(s->dp.dircount, 1);
    EXPECT_EQ(getdirectoryentry(s->f, &s->dp, 5), 1); // tried again, now it works
}

TEST(directorycache, damagedchainsfailwithoutreading)
{
    struct { std::vector<std::pair<int, int>> links; int first; } cases[] = {
        {{{5, 6}, {6, 7}, {7, 5}}, 5}, // a loop back to the start
        {{{5, 6}, {6, 6}}, 5},         // a cluster pointing at itself
        {{{5, 0}}, 5},                 // through cluster 0, into the FAT
        {{{5, 1}}, 5},                 // through cluster 1
        {{}, 0},                       // a first cluster of 0 (the ".." of the root)
        {{}, 4085},                    // a first cluster among the end marks
        {{}, 65535},                   // a first cluster past the FAT
    };
    for (auto &c : cases) {
        fakevolume v;
        v.build();
        for (auto &l : c.links)
            v.setfat(l.first, l.second);
        auto r = openvol(v.img);
        r->m.calls.clear();
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(getdirectoryentry(r->f, &r->dp, c.first), -1) << c.first;
        EXPECT_TRUE(r->m.calls.empty()) << c.first;
        EXPECT_EQ(r->dp.dircount, 1);
    }
}

TEST(directorycache, longestpossiblechainloads)
{
    // A chain through every cluster that a 1.44 MB FAT can hold loads whole.
    fakevolume v;
    v.build();
    std::vector<int> all;
    for (int c = 2; c < 2849; c++)
        all.push_back(c);
    v.chain(all);
    auto r = openvol(v.img);
    EXPECT_EQ(getdirectoryentry(r->f, &r->dp, 2), 1);
    EXPECT_EQ(r->dp.dirtable[1].end - r->dp.dirtable[1].start, 2847 * 512);
}

TEST(directorycache, growthkeepsearlierrows)
{
    // 40 one-cluster directories in the root, each holding one file: the
    // table grows past 32 rows and the buffer past 16384 bytes.
    fakevolume v;
    v.build();
    for (int i = 0; i < 40; i++) {
        char name[16];
        snprintf(name, sizeof name, "DIR%02d      ", i);
        v.entry(-1, i, std::string(name, 11), 0x10, 100 + i);
        v.chain({100 + i});
        v.entry(100 + i, 0, "FILE    BIN", 0x20, 500 + i);
    }
    auto r = openvol(v.img);
    int seen32 = 0;
    for (int i = 0; i < 40; i++) {
        char path[32];
        snprintf(path, sizeof path, "DIR%02d\\FILE.BIN", i);
        ASSERT_EQ(r->cluster(path), 500 + i) << path;
        if (r->dp.dircount == 33)
            seen32 = r->dp.dirtablesize;
    }
    EXPECT_EQ(seen32, 64);
    EXPECT_EQ(r->dp.dirbufsize, 32768);
    // Every earlier row still finds its file after the moves, with no reads.
    r->m.calls.clear();
    for (int i = 0; i < 40; i++) {
        char path[32];
        snprintf(path, sizeof path, "DIR%02d\\FILE.BIN", i);
        EXPECT_EQ(r->cluster(path), 500 + i);
        EXPECT_EQ(r->dp.dirtable[i + 1].cluster, 100 + i);
    }
    EXPECT_TRUE(r->m.calls.empty());
}

TEST(directorycache, failedallocations)
{
    fakevolume v = dirvolume({5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22});
    memfile m;
    m.data = v.img;
    FILE *f = openmem(&m, "rb");
    auto dp = std::make_unique<diskprops>();
    unsigned char work[WORKBUFSIZE];

    // No buffer at the start: no table is tried either, and the opening
    // grows the cache from nothing (7168 bytes of root need 8192; 16 rows).
    failalloc = 1;
    initdiskprops(dp.get());
    failalloc = 0;
    EXPECT_EQ(dp->dirbuf, nullptr);
    EXPECT_EQ(dp->dirtable, nullptr);
    EXPECT_EQ(dp->dirbufsize, 0);
    EXPECT_EQ(dp->dirtablesize, 0);
    ASSERT_EQ(openvolume(f, dp.get(), work), 1);
    EXPECT_EQ(dp->dirbufsize, 8192);
    EXPECT_EQ(dp->dirtablesize, 16);

    // A growth that fails ends the load: nothing appended, nothing shrunk,
    // and the next request loads it.
    failalloc = 1;
    EXPECT_EQ(getdirectoryentry(f, dp.get(), 5), -1);
    failalloc = 0;
    EXPECT_EQ(dp->dircount, 1);
    EXPECT_EQ(dp->dirbufused, 7168);
    EXPECT_EQ(dp->dirbufsize, 8192);
    EXPECT_EQ(getdirectoryentry(f, dp.get(), 5), 1);
    EXPECT_EQ(dp->dirbufsize, 16384);
    freediskprops(dp.get());

    // Only the table fails at the start: the buffer is kept.
    failalloc = 2;
    initdiskprops(dp.get());
    failalloc = 0;
    EXPECT_EQ(dp->dirbufsize, 16384);
    EXPECT_EQ(dp->dirtablesize, 0);
    freediskprops(dp.get());

    // No cache at the start and the root's growth fails: the opening stops.
    fseek(f, 0, SEEK_SET);
    failalloc = 1;
    initdiskprops(dp.get());
    failalloc = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(openvolume(f, dp.get(), work), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not read root directory of disk\n");
    failalloc = 0;
    freediskprops(dp.get());

    // Rows past what a signed 32-bit count holds are refused, and so is a
    // table whose growth fails; the buffer is kept as it was.
    initdiskprops(dp.get());
    EXPECT_EQ(ensuredirspace(dp.get(), 0, INT32_MAX), 0);
    EXPECT_EQ(dp->dirtablesize, 32);
    failalloc = 1;
    EXPECT_EQ(ensuredirspace(dp.get(), 0, 33), 0);
    failalloc = 0;
    EXPECT_EQ(dp->dirtablesize, 32);
    EXPECT_EQ(ensuredirspace(dp.get(), 0, 33), 1);
    EXPECT_EQ(dp->dirtablesize, 64);
    freediskprops(dp.get());
    fclose(f);
}

TEST(directorycache, rowpastthirtyonebitsisrefused)
{
    // A cache already near 2^31 bytes cannot take another cluster: the load
    // fails before growing or reading anything.
    fakevolume v = dirvolume({5});
    auto r = openvol(v.img);
    int32_t used = r->dp.dirbufused;
    r->dp.dirbufused = INT32_MAX - 100;
    r->m.calls.clear();
    EXPECT_EQ(getdirectoryentry(r->f, &r->dp, 5), -1);
    EXPECT_TRUE(r->m.calls.empty());
    EXPECT_EQ(r->dp.dirbufsize, 16384);
    r->dp.dirbufused = used;
    EXPECT_EQ(getdirectoryentry(r->f, &r->dp, 5), 1);
}
