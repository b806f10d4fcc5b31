// Lookups on volumes made by mkfs.fat and filled by mtools, checked against
// the first clusters that mshowfat reports.
#include <gtest/gtest.h>

#include "volumerun.h"

static void checkeverypath(const std::string &kind)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    makerealimage(dcp, kind);
    std::vector<std::string> paths = filltree(dcp, dir);
    auto r = openvol(readfile(dcp));
    ASSERT_EQ(r->ok, 1) << r->printed;
    int checked = 0;
    for (const std::string &p : paths) {
        std::string slashed = p;
        for (char &c : slashed)
            c = c == '\\' ? '/' : c;
        int cluster = mshowfatcluster(dcp, slashed);
        int32_t want = (cluster - 2) * r->dp.sectorspercluster + r->dp.datastart;
        EXPECT_EQ(r->sector(p), want) << p;
        checked++;
    }
    EXPECT_EQ(checked, 51);
    EXPECT_EQ(r->sector("MISSING.BIN"), -1);
    EXPECT_EQ(r->sector("SYSTEM\\DRIVERS\\MISSING.DRV"), -1);
    EXPECT_EQ(r->sector("kernel.sys"), r->sector("KERNEL.SYS"));
}

TEST(realvolume, dcpdisk1232k) { checkeverypath("1.2M"); }

TEST(realvolume, floppy1440k) { checkeverypath("1.44M"); }

TEST(realvolume, treeisfragmented)
{
    // The tree the lookups run over must really hold fragmented chains and
    // multi-cluster directories, or the tests above prove less than they say.
    std::string dir = tempdir(), dcp = dir + "/disk.dcp", out;
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    run("MTOOLS_SKIP_CHECK=1 mshowfat -i " + quote(dcp + "@@162") +
            " ::SYSTEM/DRIVERS/SOUND/FM.DRV ::DATA",
        &out);
    size_t fm = out.find("FM.DRV <"), data = out.find("DATA <");
    ASSERT_NE(fm, std::string::npos) << out;
    ASSERT_NE(data, std::string::npos) << out;
    // mshowfat lists each run of consecutive clusters in its own <...>.
    std::string fmline = out.substr(fm, out.find('\n', fm) - fm);
    std::string dataline = out.substr(data, out.find('\n', data) - data);
    EXPECT_NE(fmline.find("> <"), std::string::npos) << fmline;
    EXPECT_NE(dataline.find("> <"), std::string::npos) << dataline;
}
