// Every I/O call of opening, directory loads and patchfile, failed in turn:
// each failure is reported as such and nothing is written after it.
#include <gtest/gtest.h>

#include "fakevolume.h"
#include "volumerun.h"

// A floppy with a fragmented two-level directory and a fragmented file.
static fakevolume faultvolume()
{
    fakevolume v;
    v.build();
    v.entry(-1, 0, "OUTER      ", 0x10, 5);
    v.chain({5, 6, 9});
    v.entry(9, 0, "INNER      ", 0x10, 12);
    v.chain({12, 20});
    v.entry(20, 3, "FILE    BIN", 0x20, 30, 1500);
    v.chain({30, 31, 40});
    return v;
}

static const char *stepmessage(char op, int n)
{
    // The successful opening reads the boot sector, the FAT and the root,
    // seeking before each.
    (void)op;
    return n == 1 ? "Could not read disk properties\n"
           : n == 2 ? "Could not read FAT table\n"
                    : "Could not read root directory of disk\n";
}

TEST(faults, everyopeningcall)
{
    fakevolume v = faultvolume();
    auto good = openvol(v.img);
    ASSERT_EQ(good->ok, 1);
    ASSERT_EQ(good->m.reads, 3);
    ASSERT_EQ(good->m.seeks, 3);
    for (char op : {'r', 's'}) {
        for (int n = 1; n <= 3; n++) {
            memfile m;
            m.data = v.img;
            (op == 'r' ? m.failread : m.failseek) = n;
            FILE *f = openmem(&m, "rb");
            auto dp = std::make_unique<diskprops>();
            unsigned char work[WORKBUFSIZE];
            initdiskprops(dp.get());
            testing::internal::CaptureStdout();
            EXPECT_EQ(openvolume(f, dp.get(), work), 0) << op << n;
            EXPECT_EQ(testing::internal::GetCapturedStdout(), stepmessage(op, n)) << op << n;
            // Nothing after the failing call.
            EXPECT_EQ((int)m.calls.size(), op == 'r' ? 2 * n : 2 * n - 1) << op << n;
            fclose(f);
            freediskprops(dp.get());
        }
    }
}

TEST(faults, everydirectoryloadcall)
{
    fakevolume v = faultvolume();
    const std::string path = "OUTER\\INNER\\FILE.BIN";
    auto good = openvol(v.img);
    int reads0 = good->m.reads, seeks0 = good->m.seeks;
    ASSERT_EQ(good->cluster(path), 30);
    int reads = good->m.reads - reads0, seeks = good->m.seeks - seeks0;
    EXPECT_EQ(reads, 4);  // one per run of clusters of both directories
    EXPECT_EQ(seeks, 4);  // before 5, 9, 12 and 20
    for (char op : {'r', 's'}) {
        for (int n = 1; n <= (op == 'r' ? reads : seeks); n++) {
            auto r = openvol(v.img);
            (op == 'r' ? r->m.failread : r->m.failseek) = (op == 'r' ? r->m.reads : r->m.seeks) + n;
            int32_t rows = r->dp.dircount, used = r->dp.dirbufused;
            EXPECT_EQ(r->cluster(path), -1) << op << n;
            // The failed load left no row; one loaded before it stays.
            EXPECT_LE(r->dp.dircount, rows + 1);
            EXPECT_GE(r->dp.dirbufused, used);
            EXPECT_EQ(r->cluster(path), 30) << "a later lookup loads it again " << op << n;
        }
    }
}

TEST(faults, everypatchcall)
{
    fakevolume v = faultvolume();
    const std::string path = "OUTER\\INNER\\FILE.BIN";
    bytes data(1400, 0x5A);
    auto good = openvol(v.img, "rb+");
    good->cluster(path); // load the directories first: only patch calls remain
    good->m.calls.clear();
    int writes0 = good->m.writes, seeks0 = good->m.seeks;
    ASSERT_EQ(good->patch(path, 100, data), 1);
    int writes = good->m.writes - writes0, seeks = good->m.seeks - seeks0;
    EXPECT_EQ(writes, 3); // 412 + 512 + 476 bytes
    EXPECT_EQ(seeks, 3);  // to the end for the size, before 30 and before 40
    for (char op : {'w', 's'}) {
        for (int n = 1; n <= (op == 'w' ? writes : seeks); n++) {
            auto r = openvol(v.img, "rb+");
            r->cluster(path);
            r->m.calls.clear();
            (op == 'w' ? r->m.failwrite : r->m.failseek) = (op == 'w' ? r->m.writes : r->m.seeks) + n;
            EXPECT_EQ(r->patch(path, 100, data), 0) << op << n;
            // The failing call is the last one made.
            ASSERT_FALSE(r->m.calls.empty());
            EXPECT_EQ(r->m.calls.back().op, op) << op << n;
        }
    }
}
