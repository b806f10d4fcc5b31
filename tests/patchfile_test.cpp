#include <gtest/gtest.h>

#include <climits>

#include "fakevolume.h"
#include "volumerun.h"

static bytes pattern(size_t n, int seed)
{
    bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (unsigned char)(i * 13 + seed);
    return b;
}

// A floppy with F.BIN on clusters 5, 6, 9 and some other entries.
static fakevolume patchvolume()
{
    fakevolume v;
    v.build();
    v.entry(-1, 0, "F       BIN", 0x20, 5, 1400);
    v.chain({5, 6, 9});
    v.entry(-1, 1, "EMPTY   BIN", 0x20, 0, 0);
    v.entry(-1, 2, "DIR        ", 0x10, 20);
    v.chain({20});
    v.entry(20, 0, "INNER   BIN", 0x20, 21, 100);
    v.chain({21});
    return v;
}

TEST(patchfile, windowacrossafragmentedchain)
{
    fakevolume v = patchvolume();
    auto r = openvol(v.img, "rb+");
    bytes data = pattern(600, 1);
    r->m.calls.clear();
    ASSERT_EQ(r->patch("F.BIN", 500, data), 1);
    // The first seek is to the end: the image's size bounds every write.
    std::vector<iocall> calls = {{'s', 0, 0},
                                {'s', v.clusteroffset(5) + 500, 0},
                                {'w', v.clusteroffset(5) + 500, 12},
                                {'w', v.clusteroffset(6), 512},
                                {'s', v.clusteroffset(9), 0},
                                {'w', v.clusteroffset(9), 76}};
    ASSERT_EQ(r->m.calls.size(), calls.size());
    for (size_t i = 0; i < calls.size(); i++) {
        EXPECT_EQ(r->m.calls[i].op, calls[i].op) << i;
        EXPECT_EQ(r->m.calls[i].offset, calls[i].offset) << i;
        EXPECT_EQ(r->m.calls[i].length, calls[i].length) << i;
    }
    bytes want = v.img;
    std::copy(data.begin(), data.begin() + 12, want.begin() + v.clusteroffset(5) + 500);
    std::copy(data.begin() + 12, data.begin() + 524, want.begin() + v.clusteroffset(6));
    std::copy(data.begin() + 524, data.end(), want.begin() + v.clusteroffset(9));
    EXPECT_EQ(r->m.data, want);
}

TEST(patchfile, windowsbeyondthechain)
{
    fakevolume v = patchvolume();
    auto r = openvol(v.img, "rb+");
    // Past the recorded size but in the last cluster: written in full.
    ASSERT_EQ(r->patch("F.BIN", 1500, pattern(36, 2)), 1);
    EXPECT_TRUE(std::equal(r->m.data.begin() + v.clusteroffset(9) + 476,
                           r->m.data.begin() + v.clusteroffset(9) + 512, pattern(36, 2).begin()));
    // Running past the last cluster: written as far as the chain goes.
    r->m.calls.clear();
    ASSERT_EQ(r->patch("F.BIN", 1500, pattern(100, 3)), 1);
    EXPECT_EQ(countcalls(&r->m, 'w'), 1);
    EXPECT_EQ(r->m.calls.back().length, 36);
    // Wholly past the chain, or empty: nothing written, and success.
    r->m.calls.clear();
    ASSERT_EQ(r->patch("F.BIN", 1536, pattern(10, 4)), 1);
    ASSERT_EQ(r->patch("F.BIN", INT32_MAX, pattern(10, 4)), 1);
    ASSERT_EQ(r->patch("F.BIN", INT32_MAX - 3, pattern(4096, 4)), 1);
    ASSERT_EQ(r->patch("F.BIN", 0, bytes()), 1);
    ASSERT_EQ(r->patch("F.BIN", 700, bytes()), 1);
    EXPECT_EQ(countcalls(&r->m, 'w'), 0);
    // The directory entry's size was never changed.
    EXPECT_EQ(r->m.data[v.rootoffset() + 28], 1400 & 0xFF);
}

TEST(patchfile, refusedtargetswritenothing)
{
    fakevolume v = patchvolume();
    v.entry(-1, 3, "HIGH    BIN", 0x20, 4085, 10);
    v.entry(-1, 4, "LOOP    BIN", 0x20, 30, 2000);
    v.chain({30, 31});
    v.setfat(31, 30);
    v.entry(-1, 5, "ONE     BIN", 0x20, 40, 2000);
    v.chain({40, 41});
    v.setfat(41, 1);
    v.entry(-1, 6, "OUTSIDE BIN", 0x20, 2848, 2000);
    v.chain({2848, 2849});
    v.entry(-1, 7, "HUGE    BIN", 0x20, 65535, 10);
    const char *refused[] = {"NOPE.BIN", "EMPTY.BIN", "DIR", "DIR\\", "HIGH.BIN", "HUGE.BIN",
                             "LOOP.BIN", "ONE.BIN", "OUTSIDE.BIN", "DIR\\NOPE.BIN"};
    for (const char *path : refused) {
        auto r = openvol(v.img, "rb+");
        r->m.calls.clear();
        EXPECT_EQ(r->patch(path, 0, pattern(2000, 5)), 0) << path;
        EXPECT_EQ(countcalls(&r->m, 'w'), 0) << path;
        EXPECT_EQ(r->m.data, v.img) << path;
    }
    // Only the part of the chain that the window needs is checked.
    auto r = openvol(v.img, "rb+");
    EXPECT_EQ(r->patch("ONE.BIN", 0, pattern(512, 6)), 1);
    EXPECT_EQ(r->patch("OUTSIDE.BIN", 0, pattern(512, 6)), 1);
    EXPECT_EQ(r->patch("LOOP.BIN", 100, pattern(500, 6)), 1);
    EXPECT_EQ(r->patch("DIR\\INNER.BIN", 0, pattern(100, 6)), 1);
    // A chain into a cluster that its FAT has no entry for stops there.
    fakevolume big;
    big.total = 3000;
    big.spf = 4;
    big.build();
    big.entry(-1, 0, "PAST    BIN", 0x20, 1363, 1024);
    big.setfat(1363, 1364); // past the 1364 entries of its 4-sector FAT
    auto p = openvol(big.img, "rb+");
    EXPECT_EQ(p->patch("PAST.BIN", 0, pattern(1024, 6)), 0);
    EXPECT_EQ(p->m.data, big.img);
    EXPECT_EQ(p->patch("PAST.BIN", 0, pattern(512, 6)), 1);
    // No sectors per cluster: no cluster to write into at all.
    fakevolume none = v;
    none.img[162 + 13] = 0;
    auto z = openvol(none.img, "rb+");
    EXPECT_EQ(z->patch("ONE.BIN", 0, pattern(10, 6)), 0);
    EXPECT_EQ(z->m.data, none.img);
}

TEST(patchfile, failedseekorwritestops)
{
    fakevolume v = patchvolume();
    auto r = openvol(v.img, "rb+");
    r->m.failwrite = 2; // the write into cluster 6
    EXPECT_EQ(r->patch("F.BIN", 500, pattern(600, 7)), 0);
    EXPECT_EQ(countcalls(&r->m, 'w'), 1); // nothing after the failure
    auto s = openvol(v.img, "rb+");
    s->m.failseek = s->m.seeks + 3; // the seek before cluster 9
    EXPECT_EQ(s->patch("F.BIN", 500, pattern(600, 7)), 0);
    EXPECT_EQ(countcalls(&s->m, 'w'), 2);
    for (int n : {1, 2}) { // the size, then the first write's place
        auto t = openvol(v.img, "rb+");
        t->m.failseek = t->m.seeks + n;
        EXPECT_EQ(t->patch("F.BIN", 0, pattern(10, 7)), 0) << n;
        EXPECT_EQ(countcalls(&t->m, 'w'), 0) << n;
    }
}

TEST(patchfile, neverwritespasttheimagesend)
{
    // A cut-short copy of the image: every byte must land inside the file
    // as it is, or nothing is written and the file does not grow.
    fakevolume v = patchvolume();
    long reach = v.clusteroffset(9) + 76; // the window's last byte, plus one
    for (long cut : {reach - 1, reach, (long)v.clusteroffset(6) + 100, (long)v.img.size()}) {
        bytes img(v.img.begin(), v.img.begin() + cut);
        auto r = openvol(img, "rb+");
        ASSERT_EQ(r->ok, 1);
        int fits = cut >= reach;
        EXPECT_EQ(r->patch("F.BIN", 500, pattern(600, 3)), fits) << cut;
        EXPECT_EQ(r->m.data.size(), (size_t)cut);
        if (!fits) {
            EXPECT_EQ(r->m.data, img) << cut;
        }
    }
    // A chain that runs backwards (9, then 5): its highest byte is in its
    // first cluster, which a cut just before cluster 9 leaves out.
    fakevolume back = patchvolume();
    back.entry(-1, 3, "BACK    BIN", 0x20, 9, 1024);
    back.chain({9, 5});
    bytes img(back.img.begin(), back.img.begin() + back.clusteroffset(9) + 100);
    auto r = openvol(img, "rb+");
    EXPECT_EQ(r->patch("BACK.BIN", 0, pattern(1024, 5)), 0);
    EXPECT_EQ(r->m.data, img);
}
