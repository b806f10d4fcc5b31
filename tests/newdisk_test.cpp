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
        {"sasi10", "s10.nhd", 256, 1, {"FAT16"}, {}},
        {"sasi15", "s15.img", 256, 1, {"FAT16"}, {}}, // 6 heads: half-KB cylinders
        {"-O vhd98 sasi30", "s30.hdd", 256, 1, {"FAT16"}, {}},
        {"sasi40", "s40.hdi", 256, 1, {"FAT16"}, {}},
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
            // NEC's hidden sectors: the partition's start in 512-byte units.
            run("MTOOLS_SKIP_CHECK=1 minfo -i " + at + " ::", &out);
            EXPECT_NE(out.find("hidden sectors: " +
                               std::to_string((parts[i].first - headerof(img)) / 512) + "\n"),
                      std::string::npos) << out;
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
                EXPECT_NE(c.err.find("THD images cannot hold a disk of 135 cylinders, 8 heads "
                                     "and 17 sectors a track of 512 bytes"), std::string::npos)
                    << c.err;
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

TEST(newdisk, apartitionsvolumegoesoutandbackandfilesendingearlygrow)
{
    // convert -p writes a partition's volume out; mtools changes it; wrap
    // -p puts it back, every other byte kept. A THD and a Virtual98 disk
    // cut after their partition's system area read as zeros past their end
    // and grow when a put lands there, as their full forms do.
    std::string dir = tempdir(), disk = dir + "/d.hdi", vol = dir + "/v.img";
    writefile(dir + "/f", bytes(40000, 0x33));
    ASSERT_EQ(dcp("create -P 1M,2M ide:4M " + quote(disk)).status, 0);
    bytes before = readfile(disk);
    auto parts = partitionsof(disk, 512);
    ASSERT_EQ(parts.size(), 2u);
    ASSERT_EQ(dcp("convert -p 2 " + quote(disk) + " " + quote(vol)).status, 0);
    EXPECT_EQ(readfile(vol), bytes(before.begin() + parts[1].first,
                                   before.begin() + parts[1].first + parts[1].second));
    ASSERT_EQ(sh("MTOOLS_SKIP_CHECK=1 mcopy -i " + quote(vol) + " " + quote(dir + "/f") +
                 " ::F.BIN"), 0);
    ASSERT_EQ(dcp("wrap -p 2 " + quote(vol) + " " + quote(disk)).status, 0);
    bytes after = readfile(disk), v = readfile(vol);
    std::copy(v.begin(), v.end(), before.begin() + parts[1].first);
    EXPECT_EQ(after, before);
    toolrun big = dcp("wrap -p 1 " + quote(vol) + " " + quote(disk));
    EXPECT_EQ(big.err, vol + ": its volume is larger than partition 1 of the disk\n");

    for (std::string name : {"s.thd", "s.hdd"}) {
        std::string img = dir + "/" + name, full = dir + "/full.hdi";
        SCOPED_TRACE(name);
        ASSERT_EQ(dcp("create -O " + std::string(name == "s.thd" ? "thd" : "vhd98") +
                      " sasi20 " + quote(img)).status, 0);
        long start = partitionsof(img, 256)[0].first, cut = start + 137 * 1024;
        ASSERT_EQ(sh("truncate -s " + std::to_string(cut) + " " + quote(img)), 0);
        ASSERT_EQ(dcp("convert -f " + quote(img) + " " + quote(full)).status, 0);
        for (const std::string &f : {img, full})
            ASSERT_EQ(runtool(SECTPUT_BIN + (" " + quote(f) + " F.BIN " + quote(dir + "/f")))
                          .status, 0);
        bytes grown = readfile(img), whole = readfile(full);
        EXPECT_EQ(grown.size(), (size_t)cut + 40960);
        EXPECT_TRUE(std::equal(grown.begin() + (long)headerof(img), grown.end(),
                               whole.begin() + 4096));
        toolrun g = runtool(SECTGET_BIN + (" " + quote(img) + " F.BIN -"));
        EXPECT_EQ(g.out, std::string(40000, 0x33));
        // A file cut in its second 64 KB read: what the file lacks is zeros.
        writefile(dir + "/big", bytes(100000, 0x33));
        ASSERT_EQ(runtool(SECTPUT_BIN + (" " + quote(img) + " BIG.BIN " + quote(dir + "/big")))
                      .status, 0);
        ASSERT_EQ(sh("truncate -s -20352 " + quote(img)), 0); // its last 20000 bytes
        g = runtool(SECTGET_BIN + (" " + quote(img) + " BIG.BIN -"));
        EXPECT_EQ(g.out, std::string(80000, 0x33) + std::string(20000, 0));
    }
}

TEST(newdisk, disksectorsaretoldbypartition)
{
    std::string dir = tempdir(), disk = dir + "/d.nhd";
    writefile(dir + "/f", bytes(5000, 1));
    ASSERT_EQ(dcp("create -P 1M,1M ide:3M " + quote(disk)).status, 0);
    ASSERT_EQ(runtool(SECTPUT_BIN + (" -p 2 " + quote(disk) + " F.BIN " + quote(dir + "/f")))
                  .status, 0);
    // Partition 2 starts at cylinder 17, disk sector 2312; its 1024-byte
    // sectors are two disk sectors each; its data area starts at volume
    // sector 1 + 2 x 2 + 96.
    struct { long sector; std::string said; } rows[] = {
        {0, "0: IPL\n"},
        {1, "1: partition table\n"},
        {135, "135: in no partition\n"},
        {2312, "2312: partition 2, volume sector 0: boot sector\n"},
        {2313 + 2 * 101, "2515: partition 2, volume sector 101: F.BIN byte 512\n"},
        {2312 + 2 * 106, "2524: partition 2, volume sector 106: free\n"},
        {6120, "6120: past the end of the disk\n"},
    };
    for (const auto &r : rows) {
        toolrun t = runtool(SECTMAP_BIN + (" -D -s " + std::to_string(r.sector) + " " +
                                           quote(disk)));
        EXPECT_EQ(t.out, r.said) << t.err;
    }
}

TEST(newdisk, whatcannotbedoneisrefusedinaline)
{
    std::string dir = tempdir(), q = quote(dir);
    ASSERT_EQ(dcp("create sasi5 " + quote(dir + "/d.hdi")).status, 0);
    ASSERT_EQ(dcp("create 2hd " + quote(dir + "/f.dcp")).status, 0);
    writefile(dir + "/x.slh", bytes({'H', 'D', 'I', 'M', 0, 0, 0, 0}));
    bytes nhd = readfile(dir + "/d.hdi");
    nhd.erase(nhd.begin(), nhd.begin() + 4096 - 512);
    std::fill(nhd.begin(), nhd.begin() + 512, 0);
    std::string sig = "T98HDDIMAGE.R0";
    std::copy(sig.begin(), sig.end(), nhd.begin());
    nhd[0x111] = 2, nhd[0x114] = 154, nhd[0x118] = 4, nhd[0x11A] = 33, nhd[0x11D] = 1;
    writefile(dir + "/cut.nhd", nhd);
    writefile(dir + "/short.nhd", bytes(nhd.begin(), nhd.begin() + 700)); // its table cut off
    writefile(dir + "/zero.thd", bytes(4096, 0));
    // A Virtual98 header whose sector count is one more than its geometry's.
    ASSERT_EQ(dcp("convert -O vhd98 " + quote(dir + "/d.hdi") + " " + quote(dir + "/bad.hdd"))
                  .status, 0);
    bytes vhd = readfile(dir + "/bad.hdd");
    vhd[0x94]++;
    writefile(dir + "/bad.hdd", vhd);
    struct { std::string bin, args, err; } rows[] = {
        {DCPIMAGE_BIN, "create sasi10 " + q + "/x.thd",
         dir + "/x.thd: THD images cannot hold a disk of 310 cylinders, 4 heads and 33 sectors "
               "a track of 256 bytes (only 8 heads and 33 sectors of 256 bytes)\n"},
        {DCPIMAGE_BIN, "create -P 3M,3M sasi5 " + q + "/x.hdi",
         "The partitions of 3M,3M take more than the 152 cylinders the disk has after its first "
         "(33792 bytes each)\n"},
        {DCPIMAGE_BIN, "create -P 1M,,1M sasi5 " + q + "/x.hdi",
         "Bad partition sizes 1M,,1M: 1 to 8 sizes, commas between, each a number of bytes (K, "
         "M or G after it)\n"},
        {DCPIMAGE_BIN, "create 2hd " + q + "/x.nhd",
         dir + "/x.nhd: NHD images hold hard disks, not floppies; -O dcp, d88, fdi, nfd or raw "
               "holds a floppy\n"},
        {DCPIMAGE_BIN, "create -O d88 ide4 " + q + "/x",
         dir + "/x: D88 images hold floppies, not hard disks; -O hdi, nhd, thd, vhd98 or "
               "rawhdd holds a hard disk\n"},
        {DCPIMAGE_BIN, "convert " + q + "/d.hdi " + q + "/x.dcp",
         dir + "/d.hdi is a hard disk, and DCP images hold floppies: convert does not change "
               "one into the other (-p N writes a partition's volume out raw)\n"},
        {DCPIMAGE_BIN, "convert " + q + "/f.dcp " + q + "/x.hdi",
         dir + "/f.dcp is a floppy, and hard-disk images hold hard disks: convert does not "
               "change one into the other\n"},
        {DCPIMAGE_BIN, "convert -p 1 " + q + "/f.dcp " + q + "/x.img",
         dir + "/f.dcp is no hard disk: -p is for a hard disk's partitions\n"},
        {DCPIMAGE_BIN, "protect " + q + "/d.hdi",
         dir + "/d.hdi is a hard disk (HDI): no hard-disk header has a write-protect flag\n"},
        {DCPIMAGE_BIN, "create ide:1M " + q + "/x.hdi",
         "ide:1M is 2040 sectors: a hard disk has more than 2880, or it is read as a floppy\n"},
        {DCPIMAGE_BIN, "create ide4370 " + q + "/x.hdi",
         "Bad IDE disk ide4370: ideN for N from 1 to 4369 (MB), or ide:SIZE, in 2 to 65535 "
         "cylinders of its heads and sectors\n"},
        {DCPIMAGE_BIN, "create -P 1M 2hd " + q + "/x.dcp", "-P and -g lay out a hard disk: 2hd "
                                                           "is none\n"},
        {DCPIMAGE_BIN, "convert -p 1 -O nfd " + q + "/d.hdi " + q + "/x.nfd",
         "A partition's volume is written raw (-O raw)\n"},
        {DCPIMAGE_BIN, "convert -p 3 " + q + "/d.hdi " + q + "/x.img",
         dir + "/d.hdi: The disk's partition table holds no partition of that number\n"},
        {DCPIMAGE_BIN, "wrap -p 1 " + q + "/f.dcp " + q + "/d.hdi",
         dir + "/f.dcp holds no FAT volume\n"},
        {DCPIMAGE_BIN, "wrap -p 1 " + q + "/d.hdi " + q + "/f.dcp",
         dir + "/f.dcp is no hard disk: -p is for a hard disk's partitions\n"},
        {SECTMAP_BIN, q + "/x.slh", dir + "/x.slh is an SLH hard-disk image: not supported\n"},
        {SECTMAP_BIN, q + "/cut.nhd",
         dir + "/cut.nhd looks like an NHD image whose disk of 5203968 bytes ends 33792 bytes "
               "past the file's end\n"},
        {SECTMAP_BIN, q + "/zero.thd", "The image's container header does not add up\n"},
        {SECTMAP_BIN, q + "/bad.hdd",
         dir + "/bad.hdd looks like a Virtual98 image, but its header's geometry (153 cylinders, "
               "4 heads, 33 sectors a track of 256 bytes, 20197 sectors in all) is no disk's\n"},
        {SECTMAP_BIN, "-D -s 0 " + q + "/f.dcp",
         dir + "/f.dcp is no hard disk: -D is for a hard disk's sectors\n"},
        {SECTMAP_BIN, "-F nhd -D -s 0 " + q + "/short.nhd", "Could not read disk properties\n"},
        {SECTMAP_BIN, "-g 4/0 " + q + "/d.hdi",
         "Bad geometry 4/0: HEADS/SECTORS, each 1 to 255 (8/17 for an IDE disk)\n"},
    };
    for (const auto &r : rows) {
        toolrun t = runtool(r.bin + " " + r.args);
        EXPECT_EQ(t.status, 1) << r.args;
        EXPECT_EQ(t.err, r.err) << r.args;
    }
}

TEST(newdisk, arawdisksgeometryisfoundortold)
{
    // RaSCSI's 8/25 is found from where the first partition's boot sector
    // says it lies; one no emulator uses is told with -g.
    std::string dir = tempdir();
    struct { std::string geometry; int found; } rows[] = {{"8/25", 0}, {"2/20", 1}, {"8/17", 0}};
    for (const auto &r : rows) {
        std::string img = quote(dir + "/d" + std::to_string(r.found) + ".img");
        ASSERT_EQ(dcp("create -f -g " + r.geometry + " ide:2M " + img).status, 0);
        EXPECT_EQ(runtool(SECTMAP_BIN + (" " + img)).status, r.found) << r.geometry;
        toolrun t = runtool(SECTMAP_BIN + (" -g " + r.geometry + " -s 0 " + img));
        EXPECT_EQ(t.out, "0: boot sector\n") << r.geometry << t.err;
    }
}
