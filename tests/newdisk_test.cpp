// Hard disks dcptools makes: each TYPE in each container, read by GNU
// parted, mtools and fsck.fat; convert among the containers byte for byte;
// one partition's volume out and back; THD and Virtual98 files that end
// early; disk sectors told by partition; what is refused.
#include <gtest/gtest.h>

#include <regex>

#include "testutil.h"

static toolrun dcp(const std::string &args)
{
    return runtool(DCPIMAGE_BIN + (" " + args));
}

// Where a container's disk starts in its file.
static long headerof(const std::string &path)
{
    std::string ext = path.substr(path.rfind('.') + 1);
    return ext == "hdi" ? 4096 : ext == "nhd" ? 512 : ext == "thd" ? 256 : ext == "hdd" ? 220 : 0;
}

// The byte offset in the file of each partition info lists, and its size.
static std::vector<std::pair<long, long>> partitionsof(const std::string &path, long bps)
{
    std::string out = dcp("info " + quote(path)).out;
    std::regex entry("disk sectors ([0-9]+) to ([0-9]+)\n");
    std::vector<std::pair<long, long>> parts;
    for (std::sregex_iterator i(out.begin(), out.end(), entry), e; i != e; ++i) {
        long first = std::stol((*i)[1]), last = std::stol((*i)[2]);
        parts.push_back({headerof(path) + first * bps, (last - first + 1) * bps});
    }
    return parts;
}

TEST(newdisk, everytypeineverycontainerisreadbyothertools)
{
    std::string dir = tempdir();
    writefile(dir + "/f", bytes(3000, 0x5A));
    struct row {
        std::string args, name;
        long bps;
        int partitions;
        std::vector<std::string> fats, others; // the FAT of each; containers it converts to
    } rows[] = {
        {"sasi5", "s5.hdi", 256, 1, {"FAT16"}, {"nhd", "img", "hdd"}},
        {"-P 1M,2M sasi20", "s20.thd", 256, 2, {"FAT12", "FAT12"}, {"hdi", "nhd", "hdd"}},
        {"-L GAMES ide4", "i4.nhd", 512, 1, {"FAT12"}, {"hdi", "img"}},
        {"ide9", "i9.hdi", 512, 1, {"FAT16"}, {"thd"}}, // a THD holds no 8/17 disk
        {"-O vhd98 ide:2M", "i2.hdd", 512, 1, {"FAT12"}, {"nhd"}},
        // GNU parted's own geometry, so that it must find what is written.
        {"-g 4/32 -P 1M,5M,1M ide:8M", "p.img", 512, 3, {"FAT12", "FAT16", "FAT12"}, {"hdi"}},
    };
    for (const row &r : rows) {
        std::string img = dir + "/" + r.name;
        SCOPED_TRACE(r.args);
        ASSERT_EQ(dcp("create " + r.args + " " + quote(img)).status, 0);
        toolrun info = dcp("info " + quote(img));
        EXPECT_EQ(info.status, 0) << info.out;
        EXPECT_NE(info.out.find("ipl: IPL1, 55 AA\n"), std::string::npos) << info.out;
        for (const std::string &fat : r.fats)
            EXPECT_NE(info.out.find("volume: " + fat + ", "), std::string::npos) << info.out;
        auto parts = partitionsof(img, r.bps);
        ASSERT_EQ((int)parts.size(), r.partitions) << info.out;
        for (size_t i = 0; i < parts.size(); i++) {
            std::string at = quote(img + "@@" + std::to_string(parts[i].first)), out;
            ASSERT_EQ(sh("MTOOLS_SKIP_CHECK=1 mcopy -i " + at + " " + quote(dir + "/f") +
                         " ::F.BIN"), 0);
            EXPECT_EQ(run("MTOOLS_SKIP_CHECK=1 mlabel -s -i " + at + " ::", &out), 0);
            EXPECT_NE(out.find(i == 0 && r.args.find("-L") == 0 ? "GAMES" : "has no label"),
                      std::string::npos) << out;
            bytes b = readfile(img);
            writefile(dir + "/v", bytes(b.begin() + parts[i].first,
                                        b.begin() + parts[i].first + parts[i].second));
            run("fsck.fat -n " + quote(dir + "/v") + " 2>&1", &out);
            EXPECT_TRUE(std::regex_search(out, std::regex(": [12] files, [0-9]+/"))) << out;
            toolrun m = runtool(SECTMAP_BIN + (" -p " + std::to_string(i + 1) + " " + quote(img)));
            EXPECT_NE(m.out.find(" 3000 "), std::string::npos) << m.out << m.err;
        }
        for (const std::string &ext : r.others) {
            std::string there = dir + "/c." + ext, back = dir + "/back." + r.name;
            toolrun c = dcp("convert -f " + quote(img) + " " + quote(there));
            if (ext == "thd") { // refused, and nothing left behind
                EXPECT_NE(c.err.find("a THD image cannot hold a disk of 8 heads and 17 sectors "
                                     "a track of 512 bytes"), std::string::npos) << c.err;
                EXPECT_NE(sh("test -e " + quote(there)), 0);
                continue;
            }
            ASSERT_EQ(c.status, 0) << ext << c.err;
            ASSERT_EQ(dcp("convert -f " + std::string(headerof(img) == 220 ? "-O vhd98 " : "") +
                          quote(there) + " " + quote(back)).status, 0) << ext;
            EXPECT_EQ(readfile(back), readfile(img)) << ext;
        }
    }
    std::string out;
    run("parted -s " + quote(dir + "/p.img") + " unit s print 2>&1", &out);
    EXPECT_NE(out.find("Partition Table: pc98"), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(" 1 +128s +2175s .*\n 2 +2176s +12415s .*\n"
                                                  " 3 +12416s +14463s "))) << out;
}
