// PC-98 hard disks built without dcptools: an IPL sector and a partition
// table laid by hand in the IDE geometry (8 heads, 17 sectors a track of
// 512 bytes), partitions formatted by mkfs.fat --offset and filled by
// mtools at their byte offset, as raw disks and in HDI and NHD headers.
#include <gtest/gtest.h>

#include <sstream>

#include "testutil.h"
#include "volume/bytes.h"

enum { HEADS = 8, SPT = 17, BPS = 512, CYLSECTORS = HEADS * SPT };

static toolrun tool(const std::string &bin, const std::string &args)
{
    return runtool(bin + " " + args);
}

struct part {
    int mid, sid, startcyl, endcyl;
    std::string name;
};

// A raw disk of cylinders, its table holding parts, each FAT one formatted
// in 1024-byte logical sectors (FAT12 or FAT16, as its sid says) with a
// file in a directory.
struct hddisk {
    std::string dir = tempdir(), raw = dir + "/disk.img";
    std::vector<part> parts;
    hddisk(int cylinders, const std::vector<part> &p) : parts(p)
    {
        bytes d((size_t)cylinders * CYLSECTORS * BPS);
        const unsigned char ipl[8] = {0xEB, 0x0A, 0x90, 0x90, 'I', 'P', 'L', '1'};
        std::copy(ipl, ipl + 8, d.begin());
        d[510] = 0x55, d[511] = 0xAA;
        for (size_t i = 0; i < parts.size(); i++) {
            unsigned char *e = &d[BPS + 32 * i];
            e[0] = (unsigned char)parts[i].mid, e[1] = (unsigned char)parts[i].sid;
            setu16l(e + 6, parts[i].startcyl);
            setu16l(e + 10, parts[i].startcyl);
            setu16l(e + 14, parts[i].endcyl);
            std::string n = parts[i].name + std::string(16, ' ');
            std::copy(n.begin(), n.begin() + 16, e + 16);
        }
        writefile(raw, d);
        for (const part &q : parts) {
            int fs = q.sid & 0x7F;
            if (q.endcyl >= cylinders || q.endcyl < q.startcyl || (fs != 0x01 && fs != 0x21))
                continue;
            long kib = (long)(q.endcyl - q.startcyl + 1) * CYLSECTORS * BPS / 1024;
            EXPECT_EQ(sh("mkfs.fat --offset " + std::to_string(q.startcyl * CYLSECTORS / 2) +
                         " -S 1024 -s 1 -h " + std::to_string(q.startcyl * CYLSECTORS) +
                         ((q.sid & 0x7F) == 0x01 ? " -F 12 " : " -F 16 ") + quote(raw) + " " +
                         std::to_string(kib) + " >/dev/null 2>&1"),
                      0);
            mt(q, "mmd", "::GAME");
            writefile(dir + "/f", bytes(5000, (unsigned char)q.startcyl));
            mt(q, "mcopy", quote(dir + "/f") + " ::GAME/DATA.BIN");
        }
    }
    static long offset(const part &q) { return (long)q.startcyl * CYLSECTORS * BPS; }
    void mt(const part &q, const std::string &cmd, const std::string &args) const
    {
        ASSERT_EQ(sh("MTOOLS_SKIP_CHECK=1 " + cmd + " -i " +
                     quote(raw + "@@" + std::to_string(offset(q))) + " " + args + " >/dev/null"),
                  0);
    }
    // The disk behind an HDI's 4096-byte header, an NHD's 512-byte one or
    // a Virtual98 one of 220 (hdd).
    std::string wrapped(const std::string &kind) const
    {
        bytes d = readfile(raw), h(kind == "hdi" ? 4096 : kind == "hdd" ? 220 : 512, 0);
        int cyls = (int)(d.size() / (CYLSECTORS * BPS));
        if (kind == "hdd") {
            std::string sig = "VHD1.00";
            std::copy(sig.begin(), sig.end(), h.begin());
            setu16l(&h[0x8C], (int32_t)(d.size() >> 20)), setu16l(&h[0x8E], BPS);
            h[0x90] = SPT, h[0x91] = HEADS, setu16l(&h[0x92], cyls);
            setu32l(&h[0x94], cyls * CYLSECTORS);
        } else if (kind == "hdi") {
            setu32l(&h[8], 4096);
            setu32l(&h[12], (int32_t)d.size());
            setu32l(&h[16], BPS), setu32l(&h[20], SPT), setu32l(&h[24], HEADS);
            setu32l(&h[28], cyls);
        } else {
            std::string sig = "T98HDDIMAGE.R0";
            std::copy(sig.begin(), sig.end(), h.begin());
            setu32l(&h[0x110], 512), setu32l(&h[0x114], cyls);
            setu16l(&h[0x118], HEADS), setu16l(&h[0x11A], SPT), setu16l(&h[0x11C], BPS);
        }
        h.insert(h.end(), d.begin(), d.end());
        std::string path = dir + "/disk." + kind;
        writefile(path, h);
        return path;
    }
};


TEST(harddisk, everyprogramchangesapartitionandnothingelse)
{
    // In each container: the listing against mshowfat, info, then a put, a
    // move, an attribute, a label and a removal, each seen by mtools and
    // passed by fsck.fat, every byte outside the partition kept (an IBM
    // MBR's table beside the PC-98 one, at 0x1BE, too).
    part dos = {0xA0, 0xA1, 1, 79, "MS-DOS 6.20"};
    hddisk d(80, {dos});
    bytes b = readfile(d.raw);
    for (int i = 0; i < 64; i++)
        b[0x1BE + (size_t)i] = (unsigned char)(0x11 * i + 3);
    writefile(d.raw, b);
    writefile(d.dir + "/new", bytes(3000, 0x4E));
    struct change {
        std::string bin, args, check, want; // IMG: the image
    } changes[] = {
        {SECTPUT_BIN, "IMG 'GAME\\NEW.BIN' " + quote(d.dir + "/new"), "mtype ::GAME/NEW.BIN",
         std::string(3000, 'N')},
        {SECTMV_BIN, "IMG 'GAME\\DATA.BIN' 'GAME\\MOVED.BIN'", "mdir -b ::GAME",
         "::/GAME/MOVED.BIN\n"},
        {SECTATTR_BIN, "+r IMG 'GAME\\MOVED.BIN'", "mattrib ::GAME/MOVED.BIN", "R"},
        {DCPIMAGE_BIN, "label IMG HARDDISK", "mlabel -s ::", "HARDDISK"},
        {SECTRM_BIN, "IMG 'GAME\\MOVED.BIN'", "mdir -b ::GAME", ""},
    };
    std::string images[] = {d.raw, d.wrapped("hdi"), d.wrapped("nhd"), d.wrapped("hdd")};
    long headers[] = {0, 4096, 512, 220};
    for (int k = 0; k < 4; k++) {
        const std::string &img = images[k];
        long start = headers[k] + hddisk::offset(dos), end = start + 79L * CYLSECTORS * BPS;
        std::string at = img + "@@" + std::to_string(start);
        SCOPED_TRACE(img);
        toolrun m = tool(SECTMAP_BIN, quote(img));
        EXPECT_EQ(m.status, 0) << m.err;
        EXPECT_NE(m.out.find(std::to_string(mshowfatsectorat(img, start, "GAME/DATA.BIN")) +
                             "     5     5000 "), std::string::npos) << m.out;
        toolrun info = tool(DCPIMAGE_BIN, "info " + quote(img));
        EXPECT_NE(info.out.find("disk: 80 cylinders, 8 heads, 17 sectors a track of 512 bytes\n"
                                "ipl: IPL1, 55 AA\npartition 1: mid 0xA0, sid 0xA1 (active, FAT16), name MS-DOS "
                                "6.20, cylinders 1 to 79, disk sectors 136 to 10879\nvolume: "
                                "FAT16, "), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("\nposition: volume sector s is disk sector 136 + 2 s\nlabel: "
                                "none\nagrees: yes\n"), std::string::npos) << info.out;
        for (const change &c : changes) {
            bytes before = readfile(img);
            std::string args = c.args, out;
            args.replace(args.find("IMG"), 3, quote(img));
            toolrun r = tool(c.bin, args);
            EXPECT_EQ(r.status, 0) << c.bin << r.err;
            bytes after = readfile(img);
            ASSERT_EQ(after.size(), before.size());
            EXPECT_TRUE(std::equal(after.begin(), after.begin() + start, before.begin()));
            EXPECT_TRUE(std::equal(after.begin() + end, after.end(), before.begin() + end));
            run("MTOOLS_SKIP_CHECK=1 " + c.check.substr(0, c.check.find(' ')) + " -i " +
                    quote(at) + c.check.substr(c.check.find(' ')) + " 2>&1",
                &out);
            if (c.want.empty())
                EXPECT_EQ(out.find("MOVED"), std::string::npos) << out;
            else
                EXPECT_NE(out.find(c.want), std::string::npos) << c.bin << ": " << out;
            writefile(d.dir + "/part.img", bytes(after.begin() + start, after.begin() + end));
            EXPECT_EQ(sh("fsck.fat -n " + quote(d.dir + "/part.img") + " >/dev/null 2>&1"), 0);
        }
        bytes last = readfile(img);
        EXPECT_TRUE(std::equal(b.begin() + 0x1BE, b.begin() + 0x1FE,
                               last.begin() + headers[k] + 0x1BE));
    }
}

TEST(harddisk, aparteddiskisreadinpartedsgeometry)
{
    // GNU parted lays a PC-98 table out in 4 heads and 32 sectors a track;
    // the partition's boot sector says where it starts, and so the disk's
    // geometry.
    std::string dir = tempdir(), img = dir + "/parted.img";
    ASSERT_EQ(sh("truncate -s 20M " + quote(img) + " && parted -s " + quote(img) +
                 " mklabel pc98 mkpart primary fat16 1MiB 100% >/dev/null 2>&1 && mkfs.fat "
                 "--offset 2048 -S 512 -s 4 -h 2048 -F 16 " + quote(img) + " 19456 >/dev/null "
                 "2>&1"), 0);
    writefile(dir + "/f", bytes(7000, 0x37));
    ASSERT_EQ(sh("MTOOLS_SKIP_CHECK=1 mcopy -i " + quote(img + "@@1048576") + " " +
                 quote(dir + "/f") + " ::F.BIN"), 0);
    toolrun info = tool(DCPIMAGE_BIN, "info " + quote(img));
    EXPECT_NE(info.out.find("disk: 320 cylinders, 4 heads, 32 sectors a track of 512 bytes\n"
                            "ipl: IPL1, 55 AA\npartition 1: mid 0x20, sid 0x91 (active, FAT16), name primary, "
                            "cylinders 16 to 319, disk sectors 2048 to 40959\n"),
              std::string::npos) << info.out;
    EXPECT_EQ(tool(SECTGET_BIN, quote(img) + " F.BIN -").out, std::string(7000, 0x37));
    std::istringstream listing(tool(SECTMAP_BIN, quote(img)).out);
    int first = -1;
    listing >> first;
    EXPECT_EQ(first, mshowfatsectorat(img, 1048576, "F.BIN"));
}

TEST(harddisk, thepartitionisnamedorchosen)
{
    // A FAT12 and a FAT16 partition, the second active; a BSD one between.
    part a = {0x20, 0x01, 1, 30, "DOS A"}, bsd = {0x14, 0xC4, 31, 35, "BSD"},
         b = {0xA0, 0xA1, 36, 99, "DOS B"};
    hddisk d(100, {a, bsd, b});
    writetext(d.dir + "/list", "D GAME\\DATA.BIN\n");
    toolrun r = tool(SECTMAP_BIN, quote(d.raw));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, d.raw + ": The disk holds several FAT partitions; -p N names one: 1 \"DOS "
                             "A\" (2040 KB, FAT12) 3 \"DOS B\" (4352 KB, FAT16)\n");
    for (int p : {1, 3}) {
        toolrun l = tool(SECTMAP_BIN, "-p " + std::to_string(p) + " " + quote(d.raw));
        EXPECT_EQ(l.status, 0) << l.err;
        const part &q = p == 1 ? a : b;
        EXPECT_NE(l.out.find(std::to_string(mshowfatsectorat(d.raw, hddisk::offset(q),
                                                           "GAME/DATA.BIN")) + " "),
                  std::string::npos) << l.out;
        toolrun got = tool(SECTGET_BIN, "-p " + std::to_string(p) + " " + quote(d.raw) +
                                            " 'GAME\\DATA.BIN' -");
        EXPECT_EQ(got.out, std::string(5000, (char)q.startcyl));
    }
    EXPECT_EQ(tool(SECTMAP_BIN, "-p 2 " + quote(d.raw)).status, 1); // BSD: no FAT volume
    // info describes every entry, and the volume of each FAT partition.
    toolrun info = tool(DCPIMAGE_BIN, "info " + quote(d.raw));
    EXPECT_EQ(info.status, 0) << info.out;
    for (const char *line : {"partition 1: mid 0x20, sid 0x01 (sleeping, FAT12), name DOS A",
                             "partition 2: mid 0x14, sid 0xC4 (active, not FAT), name BSD",
                             "partition 3: mid 0xA0, sid 0xA1 (active, FAT16), name DOS B",
                             "volume: FAT12, ", "volume: FAT16, "})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;
    EXPECT_EQ(tool(SECTMAP_BIN, "-p 4 " + quote(d.raw)).err,
              "The disk's partition table holds no partition of that number\n");
    // sectdefs, whose command line is fixed, takes the first active one.
    toolrun s = tool(SECTDEFS_BIN, quote(d.raw) + " " + quote(d.dir + "/list") + " " +
                                       quote(d.dir + "/out.inc"));
    EXPECT_EQ(s.status, 0) << s.out;
    EXPECT_EQ(texts(readfile(d.dir + "/out.inc")),
              "%define D " + std::to_string(mshowfatsectorat(d.raw, hddisk::offset(b),
                                                           "GAME/DATA.BIN")) + "\n");
}

TEST(harddisk, tableentriesthatliearenamednotfollowed)
{
    struct row {
        const char *what;
        std::vector<part> parts;
        std::string said;
    } rows[] = {
        {"past the disk", {{0xA0, 0x81, 1, 90, "LONG"}},
         "Partition 1 its cylinders 1 to 90 lie outside the disk's 40"},
        {"overlapping", {{0x20, 0x01, 1, 20, "ONE"}, {0xA0, 0x81, 15, 39, "TWO"}},
         "Partition 2 it overlaps partition 1"},
        {"ends before it starts", {{0xA0, 0x81, 20, 10, "BACK"}},
         "Partition 1 it ends before it starts, or starts in cylinder 0"},
    };
    for (const row &w : rows) {
        hddisk d(40, w.parts);
        toolrun r = tool(SECTMAP_BIN, "-p " + std::to_string(w.parts.size()) + " " +
                                          quote(d.raw));
        EXPECT_EQ(r.status, 1) << w.what;
        EXPECT_EQ(r.err, d.raw + ": " + w.said + "\n") << w.what;
    }
    // A volume that says it is larger than its partition is read only as
    // far as the partition goes.
    part small = {0xA0, 0x81, 1, 9, "SMALL"};
    hddisk d(40, {small});
    bytes b = readfile(d.raw);
    setu16l(&b[(size_t)hddisk::offset(small) + 19], 60000); // sectors: far past cylinder 9
    writefile(d.raw, b);
    toolrun info = tool(DCPIMAGE_BIN, "info " + quote(d.raw));
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("problem: the volume is larger than its partition"),
              std::string::npos) << info.out;
    EXPECT_EQ(tool(SECTMAP_BIN, "-s 59000 " + quote(d.raw)).out, "59000: not in the image\n");
}

TEST(harddisk, asasidisklaidbyhandisreadinitsowngeometry)
{
    // 256-byte disk sectors, 4 heads, 33 a track (a SASI 5 MB disk), the
    // table's 8 entries in sector 1; one partition formatted by mkfs.fat in
    // 512-, 1024- and 2048-byte logical sectors (the last from cylinder 2,
    // where a 2048-byte sector starts), raw and behind an HDI header.
    const int cyl = 4 * 33 * 256;
    struct { int bytes, startcyl; const char *fat; } rows[] = {
        {512, 1, "16"}, {1024, 1, "16"}, {2048, 2, "12"}};
    std::string dir = tempdir(), raw = dir + "/sasi.img", hdi = dir + "/sasi.hdi";
    writefile(dir + "/f", bytes(4000, 0x61));
    for (const auto &r : rows) {
        bytes d((size_t)153 * cyl);
        memcpy(&d[4], "IPL1", 4);
        d[254] = 0x55, d[255] = 0xAA;
        d[256] = 0xA0, d[257] = 0x91, d[256 + 10] = (unsigned char)r.startcyl, d[256 + 14] = 150;
        writefile(raw, d);
        long start = (long)r.startcyl * cyl, kib = (151L - r.startcyl) * cyl / 1024;
        ASSERT_EQ(sh("mkfs.fat --offset " + std::to_string(start / r.bytes) + " -S " +
                     std::to_string(r.bytes) + " -s 1 -h " + std::to_string(start / 512) +
                     " -F " + r.fat + " " + quote(raw) + " " + std::to_string(kib) +
                     " >/dev/null 2>&1 && MTOOLS_SKIP_CHECK=1 mcopy -i " +
                     quote(raw + "@@" + std::to_string(start)) + " " + quote(dir + "/f") +
                     " ::OLD.BIN"), 0);
        bytes h(4096, 0), disk = readfile(raw);
        setu32l(&h[8], 4096), setu32l(&h[12], (int32_t)disk.size());
        setu32l(&h[16], 256), setu32l(&h[20], 33), setu32l(&h[24], 4), setu32l(&h[28], 153);
        h.insert(h.end(), disk.begin(), disk.end());
        writefile(hdi, h);
        for (const auto &[img, at] : {std::pair<std::string, long>{raw, start},
                                      {hdi, 4096 + start}}) {
            SCOPED_TRACE(img + " " + std::to_string(r.bytes));
            toolrun m = tool(SECTMAP_BIN, quote(img));
            EXPECT_EQ(m.out.substr(0, m.out.find(' ', m.out.find_first_not_of(' '))),
                      std::string(m.out.find_first_not_of(' '), ' ') +
                          std::to_string(mshowfatsectorat(img, at, "OLD.BIN"))) << m.out << m.err;
            ASSERT_EQ(tool(SECTPUT_BIN, quote(img) + " NEW.BIN " + quote(dir + "/f")).status, 0);
            std::string out;
            run("MTOOLS_SKIP_CHECK=1 mtype -i " + quote(img + "@@" + std::to_string(at)) +
                    " ::NEW.BIN", &out);
            EXPECT_EQ(out, std::string(4000, 0x61));
            bytes b = readfile(img);
            writefile(dir + "/v", bytes(b.begin() + at, b.begin() + at + kib * 1024));
            run("fsck.fat -n " + quote(dir + "/v") + " 2>&1", &out);
            EXPECT_NE(out.find(" 2 files, "), std::string::npos) << out;
        }
    }
}
