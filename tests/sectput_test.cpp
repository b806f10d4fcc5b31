// sectput end to end: puts into real volumes read back by mtools, fsck.fat
// and sectmap; the allocation rule on free space that mtools fragmented;
// every refusal leaving the image as it was; dry runs, dates, names, and
// failures made to happen.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "fakevolume.h"
#include "testutil.h"

typedef toolrun putresult;

static putresult runput(const std::string &bin, const std::string &args)
{
    return runtool(bin + " " + args);
}

static putresult sectput(const std::string &args)
{
    return runput(SECTPUT_BIN, args);
}

struct putdisk {
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    explicit putdisk(const std::string &kind) { makerealimage(dcp, kind); }
    // A host file of n pattern bytes; its path.
    std::string host(const std::string &name, size_t n, int seed = 1) const
    {
        bytes b(n);
        for (size_t i = 0; i < n; i++)
            b[i] = (unsigned char)(i * 7 + seed + i / 251);
        writefile(dir + "/" + name, b);
        return dir + "/" + name;
    }
    putresult put(const std::string &path, const std::string &file,
                  const std::string &opts = "") const
    {
        return sectput(opts + " " + quote(dcp) + " " + quote(path) + " " + quote(file));
    }
    putresult putlist(const std::string &text, const std::string &opts = "") const
    {
        writetext(dir + "/list", text);
        return sectput(opts + " -l " + quote(dir + "/list") + " " + quote(dcp));
    }
    std::string mtype(const std::string &path) const
    {
        std::string out;
        run("MTOOLS_SKIP_CHECK=1 mtype -i " + quote(dcp + "@@162") + " " + quote("::" + path),
            &out);
        return out;
    }
    bool clean() const
    {
        return sh("tail -c +163 " + quote(dcp) + " > " + quote(dir + "/vol") + " && fsck.fat -n " +
                  quote(dir + "/vol") + " >/dev/null 2>&1") == 0;
    }
    // sectmap's listing of the paths (volume form), and its status under -c.
    putresult sectmap(const std::string &paths) const
    {
        return runput(SECTMAP_BIN, "-c " + quote(dcp) + " " + paths);
    }
};

static std::string slashed(std::string p)
{
    for (char &c : p)
        c = c == '\\' ? '/' : c;
    return p;
}

TEST(sectput, realvolumesreadbackbymtoolsfsckandsectmap)
{
    for (std::string kind : {"1.2M", "1.44M", "1.44M/2"}) {
        putdisk d(kind);
        struct {
            std::string path;
            size_t size;
        } files[] = {{"KERNEL.SYS", 20000}, {"boot\\loader.bin", 3000},
                     {"SYSTEM\\FONTS\\KANJI.FNT", 40000}, {"EMPTY.TXT", 0}};
        // 40 entries and the dot entries overfill MANY's first cluster in every
        // geometry; it grows after other directories were made behind it.
        std::string list, many[2];
        for (int i = 0; i < 40; i++)
            many[i / 20] += "MANY\\F" + std::to_string(i) + ".BIN " +
                            d.host("f" + std::to_string(i), 100 + 13 * i, i) + "\n";
        list = many[0];
        for (const auto &f : files)
            list += f.path + " " + d.host(slashed(f.path).substr(slashed(f.path).rfind('/') + 1),
                                          f.size) + "\n";
        list += many[1];
        putresult r = d.putlist(list);
        ASSERT_EQ(r.status, 0) << kind << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(d.clean()) << kind;
        std::string mdir;
        run("MTOOLS_SKIP_CHECK=1 mdir -/ -i " + quote(d.dcp + "@@162") + " ::", &mdir);
        for (const auto &f : files) {
            std::string p = slashed(f.path), name = p.substr(p.rfind('/') + 1);
            EXPECT_EQ(d.mtype(p), texts(readfile(d.dir + "/" + name))) << kind << p;
            EXPECT_NE(mdir.find(std::to_string(f.size)), std::string::npos) << p;
        }
        EXPECT_EQ(d.mtype("MANY/F39.BIN"), texts(readfile(d.dir + "/f39")));
        // sectput's report is sectmap's listing of the same paths, in order.
        std::string paths;
        for (int i = 0; i < 20; i++)
            paths += " MANY\\\\F" + std::to_string(i) + ".BIN";
        for (const auto &f : files)
            paths += " " + quote(f.path);
        for (int i = 20; i < 40; i++)
            paths += " MANY\\\\F" + std::to_string(i) + ".BIN";
        putresult m = d.sectmap(paths);
        EXPECT_EQ(m.status, 0) << m.err;
        EXPECT_EQ(r.out, m.out) << kind;
        // MANY grew past its first cluster.
        putresult grown = d.sectmap("MANY\\\\");
        EXPECT_NE(grown.out.find("MANY\\"), std::string::npos);
        EXPECT_EQ(grown.out.find("     1        - "), std::string::npos) << grown.out;
    }
}

// The extents field of the one line a put prints.
static std::string extents(const putresult &r)
{
    std::istringstream in(r.out);
    std::string sector, count, size, runs;
    in >> sector >> count >> size >> runs;
    return runs;
}

TEST(sectput, theallocationruleonspacethatmtoolsfragmented)
{
    putdisk d("1.2M"); // one 1024-byte sector a cluster; data from sector 11
    mtools("mcopy", d.dcp, quote(d.host("A.BIN", 3000)) + " ::A.BIN");
    mtools("mcopy", d.dcp, quote(d.host("B.BIN", 5000)) + " ::B.BIN");
    mtools("mcopy", d.dcp, quote(d.host("C.BIN", 4000)) + " ::C.BIN");
    struct step {
        std::string before, path;
        size_t size;
        std::string runs, moved;
    } steps[] = {
        {"", "B.BIN", 5000, "14-18", ""},             // the same size keeps its sectors
        {"", "B.BIN", 3000, "14-16", ""},             // shrinks in place
        {"", "B.BIN", 5000, "14-18", ""},             // grows into the free ones after it
        {"", "B.BIN", 9000, "23-31", "B.BIN moved from sector 14 to sector 23\n"},
        {"mdel A.BIN", "D.BIN", 9000, "32-40", ""},   // 11-18 is one sector short
        {"", "C.BIN", 4000, "19-22", ""},             // keeps its run over a free one below
        {"", "E.BIN", 2000, "11-12", ""},             // a new file takes the lowest run
        {"", "B.BIN", 0, "-", ""},                    // becoming empty is no move
        {"", "B.BIN", 2000, "13-14", ""},             // an empty file takes the lowest run
        {"mcopy F.BIN", "F.BIN", 30000, "41-70", "F.BIN moved from sector 15 to sector 41\n"}};
    for (const step &s : steps) {
        if (s.before == "mdel A.BIN")
            mtools("mdel", d.dcp, "::A.BIN");
        if (s.before == "mcopy F.BIN") { // fills 13-22 and the gap after D first: fragmented
            mtools("mcopy", d.dcp, quote(d.host("F.BIN", 30000, 9)) + " ::F.BIN");
            EXPECT_EQ(d.sectmap("F.BIN").status, 1);
        }
        // --keep lets every put through that keeps a file's first sector.
        putresult r = d.put(s.path, d.host("new" + s.path, s.size, (int)s.size % 7),
                            s.moved.empty() ? "-k" : "");
        EXPECT_EQ(r.status, 0) << s.path << s.size << r.err;
        EXPECT_EQ(extents(r), s.runs) << s.path << s.size;
        EXPECT_EQ(r.err, s.moved);
        EXPECT_EQ(d.mtype(s.path), texts(readfile(d.dir + "/new" + s.path)));
        EXPECT_TRUE(d.clean()) << s.path << s.size;
    }
    EXPECT_EQ(d.sectmap("B.BIN C.BIN D.BIN E.BIN F.BIN").status, 0);
    // A replaced file keeps its attributes, read-only among them.
    mtools("mattrib", d.dcp, "+r ::C.BIN");
    ASSERT_EQ(d.put("C.BIN", d.host("c2", 100)).status, 0);
    std::string attrs;
    run("MTOOLS_SKIP_CHECK=1 mattrib -i " + quote(d.dcp + "@@162") + " ::C.BIN", &attrs);
    std::string flags = attrs.substr(0, attrs.find("::"));
    EXPECT_NE(flags.find('R'), std::string::npos) << attrs; // read-only kept
    EXPECT_NE(flags.find('A'), std::string::npos) << attrs;
}

// A copy of the image whose FAT is damaged at cluster c (value v), for the
// refusals of damaged chains. 1.2M geometry: FATs at sectors 1 and 3.
static void setfat(bytes *img, int c, int v)
{
    for (int copy = 0; copy < 2; copy++)
        setfat12(img->data() + 162 + (1 + 2 * copy) * 1024, c, v);
}

TEST(sectput, everyrefusalleavestheimageasitwas)
{
    putdisk d("1.2M");
    std::string k = d.host("k", 20000), small = d.host("s", 10), big = d.host("big", 1300000);
    ASSERT_EQ(d.putlist("KERNEL.SYS " + k + "\nBOOT\\LOADER.BIN " + small + "\nTAIL.BIN " + small +
                        "\nBAD\\X.BIN " + small + "\nLOOP.BIN " + d.host("l", 3000) + "\n")
                  .status,
              0);
    bytes good = readfile(d.dcp);
    // LOOP.BIN's chain (sectors 36-38: clusters 27-29) comes back on itself;
    // BAD's chain (sector 34: cluster 25) runs past the volume; TAIL.BIN's
    // one cluster (24) is marked bad, which a put must not set free.
    bytes damaged = good;
    setfat(&damaged, 29, 27);
    setfat(&damaged, 25, 3000);
    setfat(&damaged, 24, 0xFF7);
    struct refusal {
        std::string args, err;
    } cases[] = {
        {"'BAD*.BIN' " + small, "BAD*.BIN: BAD*.BIN is not an 8.3 name\n"},
        {"'BOOT\\NINECHARS.BIN' " + small, "BOOT\\NINECHARS.BIN: NINECHARS.BIN is not an 8.3 name\n"},
        {"A.LONG " + small, "A.LONG: A.LONG is not an 8.3 name\n"},
        {"A.B.C " + small, "A.B.C: A.B.C is not an 8.3 name\n"},
        {"'BOOT\\..' " + small, "BOOT\\..: .. is not an 8.3 name\n"},
        {"'A .B' " + small, "A .B: A .B is not an 8.3 name\n"},
        {"' A.B' " + small, " A.B:  A.B is not an 8.3 name\n"},
        {quote("A\x01") + " " + small, "\"A%01\": \"A%01\" is not an 8.3 name\n"},
        {quote("A\x81") + " " + small, "A\x81: A\x81 is not an 8.3 name\n"},
        {"'BOOT\\\\X' " + small, "BOOT\\\\X:  is not an 8.3 name\n"},
        {"'\\X' " + small, "\\X: an image path is not empty and does not start with a "
                           "backslash; only a directory's ends in one\n"},
        {"'X\\\\'", "X\\\\: an image path is not empty and does not start with a "
                           "backslash; only a directory's ends in one\n"},
        {"'X\\' " + small, small + " is not a directory\n"},
        {"'' " + small, ": an image path is not empty and does not start with a "
                        "backslash; only a directory's ends in one\n"},
        {"BOOT " + small, "BOOT names a directory\n"},
        {"'KERNEL.SYS\\X.BIN' " + small, "KERNEL.SYS\\X.BIN: not a directory: KERNEL.SYS\n"},
        {"X.BIN " + d.dir + "/none", "Could not open " + d.dir + "/none\n"},
        {"X.BIN " + d.dir, d.dir + " is a directory\n"},
        {"X.BIN /proc/self/mem", "Could not read /proc/self/mem\n"},
        {"X.BIN " + big, "X.BIN: " + big + " has 1300000 bytes, more than the volume holds "
                                            "(1250304)\n"},
        {"X.BIN /dev/zero", "X.BIN: /dev/zero has 1261569 bytes, more than the volume holds "
                            "(1250304)\n"}, // read up to one byte past the volume's size
        {"X.BIN " + d.host("most", 1222000), "X.BIN: no room; it needs 1194 clusters in one run, "
                                              "and the longest free run is 1193\n"},
        {"-k KERNEL.SYS " + d.host("k2", 21000), "KERNEL.SYS would move from sector 11 to sector 39;"
                                                  " nothing written (--keep)\n"},
        {"-n -k KERNEL.SYS " + d.host("k2", 21000), "KERNEL.SYS would move from sector 11 to sector"
                                                     " 39; nothing written (--keep)\n"},
        {"-l " + d.dir + "/none", "Could not open list file " + d.dir + "/none\n"},
        {"-l " + d.dir, d.dir + " is a directory, not a list\n"},
        {"LOOP.BIN " + small, "LOOP.BIN: damaged cluster chain in LOOP.BIN\n"},
        {"'BAD\\Y.BIN' " + small, "BAD\\Y.BIN: damaged cluster chain in BAD\n"},
        {"TAIL.BIN " + k, "TAIL.BIN: the cluster chain of TAIL.BIN runs into cluster 24, which the "
                          "FAT marks bad\n"},
    };
    for (const refusal &c : cases) {
        bool hurt = c.err.find("damaged") != std::string::npos ||
                    c.err.find("marks bad") != std::string::npos;
        writefile(d.dcp, hurt ? damaged : good);
        putresult r = sectput(c.args.substr(0, 3) == "-l " ? c.args + " " + quote(d.dcp)
                              : c.args[0] == '-' ? c.args.substr(0, 3) + quote(d.dcp) + " " +
                                                       c.args.substr(3)
                                                 : quote(d.dcp) + " " + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_TRUE(readfile(d.dcp) == (hurt ? damaged : good)) << c.args;
    }
    // sectmap marks the file on the bad cluster as it marks other damage.
    writefile(d.dcp, damaged);
    putresult m = d.sectmap("TAIL.BIN");
    EXPECT_EQ(m.status, 1);
    EXPECT_EQ(m.out, "   33     1       10 33!badcluster TAIL.BIN\n");
    EXPECT_EQ(m.err, "Damaged cluster chain in TAIL.BIN: cluster 24 is marked bad in the FAT\n");
}

TEST(sectput, refusedlistsandimagesstayasthey)
{
    putdisk d("1.2M");
    std::string s = d.host("s", 10);
    bytes before = readfile(d.dcp);
    struct listcase {
        std::string text, env, err;
    } cases[] = {
        // Line 3 is refused: lines 1 and 2 are not written either.
        {"A.BIN " + s + "\n\n  B.BIN   " + s + " \t\nC*.BIN " + s + "\n", "",
         "LIST line 4: C*.BIN: C*.BIN is not an 8.3 name\n"},
        {"A.BIN " + s + "\nLONELY\n", "", "LIST line 2: expected an image path, spaces, then a "
                                          "host file name\n"},
        {"A.BIN " + s + std::string("\0x", 2) + "\n", "", "LIST line 1: the line holds a NUL "
                                                          "byte\n"},
        {"A.BIN " + std::string(17000, 'x') + "\n", "", "LIST line 1: the line is longer than "
                                                        "the list reader's buffer\n"},
        {"A.BIN " + s + "\n", "SOURCE_DATE_EPOCH=12a ", "SOURCE_DATE_EPOCH is not a decimal "
                                                        "number\n"},
        {"A.BIN " + s + "\n", "SOURCE_DATE_EPOCH= ", "SOURCE_DATE_EPOCH is not a decimal "
                                                     "number\n"}};
    for (const listcase &c : cases) {
        writetext(d.dir + "/LIST", c.text);
        // A relative list path, run from the list's folder.
        putresult r = runput("cd " + quote(d.dir) + " && " + c.env + SECTPUT_BIN,
                             "-l LIST " + quote(d.dcp));
        EXPECT_EQ(r.status, 1) << c.text.substr(0, 40);
        EXPECT_EQ(r.err, c.err);
        EXPECT_TRUE(readfile(d.dcp) == before);
    }
    // Cut where the data area starts: a new directory for an empty file is
    // all that would lie past it.
    bytes atdata(before.begin(), before.begin() + 162 + 11 * 1024);
    writefile(d.dcp, atdata);
    EXPECT_EQ(d.put("NEWD\\E.TXT", d.host("e", 0)).err,
              d.dcp + " is cut short: it ends at byte 11426, before byte 12450 that the puts "
                      "write; nothing written\n");
    EXPECT_TRUE(readfile(d.dcp) == atdata);
    writefile(d.dcp, before);
    // A full root directory (the 1.2M root has 192 slots), and a cut-short image.
    std::string many;
    for (int i = 0; i < 192; i++)
        many += "F" + std::to_string(i) + " " + s + "\n";
    ASSERT_EQ(d.putlist(many).status, 0);
    bytes full = readfile(d.dcp);
    for (std::string path : {"ONEMORE", "NEWDIR\\X.BIN"}) {
        putresult r = d.put(path, s);
        EXPECT_EQ(r.err, path + ": the root directory is full\n");
        EXPECT_TRUE(readfile(d.dcp) == full);
    }
    bytes cut(full.begin(), full.begin() + 162 + 300 * 1024);
    writefile(d.dcp, cut);
    putresult r = d.put("F5", d.host("big", 400000));
    EXPECT_EQ(r.err, d.dcp + " is cut short: it ends at byte 307362, before byte 608418 that "
                             "the puts write; nothing written\n");
    EXPECT_TRUE(readfile(d.dcp) == cut);
}

TEST(sectput, dryrunprintsthesameandwritesnothing)
{
    putdisk d("1.44M");
    std::string list = "SUB\\A.BIN " + d.host("a", 9000) + "\nB.BIN " + d.host("b", 100) +
                       "\nC.BIN " + d.host("c", 100) + "\n";
    bytes before = readfile(d.dcp);
    putresult dry = d.putlist(list, "-n");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_TRUE(readfile(d.dcp) == before);
    putresult real = d.putlist(list);
    EXPECT_EQ(real.status, 0);
    EXPECT_EQ(dry.out, real.out);
    EXPECT_EQ(real.out.substr(0, 30), "   34    18     9000 34-51    ");
    // A move is announced the same way, in the conditional.
    dry = d.put("B.BIN", d.host("b2", 5000), "--dry-run");
    EXPECT_EQ(dry.err, "B.BIN would move from sector 52 to sector 54\n");
    EXPECT_EQ(d.put("B.BIN", d.host("b2", 5000)).err, "B.BIN moved from sector 52 to sector 54\n");
}

// The modification date and time of the entry at a root slot.
static std::pair<int, int> rootstamp(const bytes &img, int slot)
{
    const unsigned char *e = img.data() + 162 + 5 * 1024 + 32 * slot; // 1.2M: root at sector 5
    return {e[24] | e[25] << 8, e[22] | e[23] << 8};
}

TEST(sectput, sourcedateepochmakesbuildsrepeatable)
{
    putdisk a("1.2M"), b("1.2M");
    writefile(b.dcp, readfile(a.dcp)); // copies of one image (mkfs.fat's serial is random)
    std::string list = "DIR\\X.BIN " + a.host("x", 5000) + "\nY.BIN " + a.host("y", 10) + "\n";
    writetext(a.dir + "/list", list);
    for (const putdisk *d : {&a, &b})
        ASSERT_EQ(sh("SOURCE_DATE_EPOCH=1700000000 " + std::string(SECTPUT_BIN) + " -l " +
                     quote(a.dir + "/list") + " " + quote(d->dcp) + " >/dev/null"),
                  0);
    EXPECT_TRUE(readfile(a.dcp) == readfile(b.dcp));
    std::string mdir;
    run("MTOOLS_SKIP_CHECK=1 mdir -i " + quote(a.dcp + "@@162") + " ::DIR", &mdir);
    EXPECT_NE(mdir.find("X        BIN      5000 2023-11-14  22:13"), std::string::npos) << mdir;
    EXPECT_NE(mdir.find(".            <DIR>     2023-11-14  22:13"), std::string::npos) << mdir;
    // Clamped to what FAT holds; a calendar that gives up means the latest.
    for (auto c : std::vector<std::pair<std::string, std::pair<int, int>>>{
             {"0", {0x21, 0}},
             {"4354819199", {0xFF9F, 0xBF7D}},
             {"99999999999999999999", {0xFF9F, 0xBF7D}}}) {
        ASSERT_EQ(sh("SOURCE_DATE_EPOCH=" + c.first + " " + SECTPUT_BIN + " " + quote(a.dcp) +
                     " Y.BIN " + quote(a.dir + "/y") + " >/dev/null"),
                  0);
        EXPECT_EQ(rootstamp(readfile(a.dcp), 1), c.second) << c.first;
    }
    // Without it: the host file's time, in local time.
    ASSERT_EQ(sh("touch -d '2001-02-03 04:05:06' " + quote(a.dir + "/y") + " && TZ=UTC " +
                 SECTPUT_BIN + " " + quote(a.dcp) + " Y.BIN " + quote(a.dir + "/y") + ">/dev/null"),
              0);
    EXPECT_EQ(rootstamp(readfile(a.dcp), 1), std::make_pair(21 << 9 | 2 << 5 | 3, 4 << 11 | 5 << 5 | 3));
}

TEST(sectput, shiftjisandupcasednamesasthelookupbuildsthem)
{
    putdisk d("1.2M");
    std::string f = d.host("f", 100);
    // ソ (83 5C) and 表 (95 5C) end in a backslash byte; 0xE5 leads a kanji;
    // B1 is a half-width katakana; lower case a to z is upper-cased.
    std::string dirname = "\x83\x5C\x95\x5C", file = "\xE5\x40x.b\xB1";
    putresult r = d.putlist(dirname + "\\" + file + " " + f + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string tail = dirname + "\\" + file + "\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    bytes img = readfile(d.dcp);
    const unsigned char *root = img.data() + 162 + 5 * 1024, *sub = img.data() + 162 + 11 * 1024;
    EXPECT_EQ(std::string((const char *)root, 11), dirname + "       ");
    EXPECT_EQ(std::string((const char *)sub + 64, 11), "\x05\x40X     B\xB1 ");
    // sectmap finds it by the same bytes, and lists it back as it was given.
    putresult m = d.sectmap(quote(dirname + "\\" + file));
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.out, r.out);
    putresult all = runput(SECTMAP_BIN, quote(d.dcp));
    EXPECT_NE(all.out.find(dirname + "\\\xE5\x40X.B\xB1\n"), std::string::npos) << all.out;
}

TEST(sectput, failuresduringthewritesarereported)
{
    putdisk d("1.2M");
    std::string a = d.host("a", 3000), list = d.dir + "/list";
    writetext(list, "SUB\\A.BIN " + a + "\n");
    bytes before = readfile(d.dcp);
    std::string fault = SECTPUT_FAULT_BIN, args = "-l " + quote(list) + " " + quote(d.dcp);
    std::string tmp = quote(d.dcp + ".*");
    // The image copied beside it (by the kernel), then the data with the
    // zeros after it (one write), the root, SUB's cluster, two FAT copies:
    // the image is left as it was, and no temporary file with it.
    for (int n = 1; n <= 5; n++) {
        writefile(d.dcp, before);
        putresult r = runput("DCPFAULT_WRITE=" + std::to_string(n) + ":" + tmp + " " + fault, args);
        EXPECT_EQ(r.status, 1) << n;
        EXPECT_EQ(r.err, n == 1 ? "Could not copy " + a + " into " + d.dcp +
                                         "; it is left as it was\n"
                                   : "Could not write " + d.dcp + "; it is left as it was\n")
            << n;
        EXPECT_TRUE(readfile(d.dcp) == before) << n;
        EXPECT_EQ(sh("ls " + quote(d.dir) + " | grep -q tmp"), 1) << n;
    }
    // The host file changed between the plan (which only looks at a
    // regular file's size) and the copy: gone, grown, shrunk. The image is
    // left as it was.
    for (std::string other : {"none", "big", "tiny"}) {
        writefile(d.dcp, before);
        d.host("big", 3001);
        d.host("tiny", 2999);
        putresult r = runput("DCPFAULT_SWAPAT=1 DCPFAULT_SWAP=" +
                                 quote(a + ":" + d.dir + "/" + other) + " " + fault,
                             args);
        EXPECT_EQ(r.status, 1) << other;
        EXPECT_NE(r.err.find("Could not copy"), std::string::npos) << other;
        EXPECT_TRUE(readfile(d.dcp) == before) << other;
    }
    // Every seek on the image, and every allocation, fails in turn until
    // none is left to fail: each failure is reported, and is a failure.
    // Twenty new directories outgrow the cache's first 16 KiB.
    std::string dirs;
    for (int i = 0; i < 20; i++)
        dirs += "D" + std::to_string(i) + "\\A.BIN " + a + "\n";
    writetext(d.dir + "/dirs", dirs);
    for (std::string var : {"DCPFAULT_SEEK=N:" + tmp, std::string("DCPFAULT_ALLOC=N")}) {
        std::string seen;
        putresult r;
        for (int n = 1; n <= 30; n++) {
            writefile(d.dcp, before);
            std::string env = var;
            env.replace(env.find('N'), 1, std::to_string(n));
            r = runput(env + " " + fault, var[9] == 'S' ? args
                                                         : "-l " + quote(d.dir + "/dirs") + " " +
                                                               quote(d.dcp));
            EXPECT_EQ(r.status, r.err.empty() ? 0 : 1) << var << n;
            seen += r.err;
        }
        EXPECT_EQ(r.status, 0) << var; // it ran out of calls to fail
        for (std::string m : {var[9] == 'S' ? "Could not read" : "out of memory",
                              var[9] == 'S' ? "Could not copy" : "out of memory"})
            EXPECT_NE(seen.find(m), std::string::npos) << var << m;
    }
    // The list is opened once: one renamed away or replaced after it was
    // opened changes nothing, and the puts planned are the puts written.
    writefile(d.dcp, before);
    putresult plain = runput(fault, args);
    bytes planned = readfile(d.dcp);
    for (std::string other : {"none", "changed", "other"}) {
        writefile(d.dcp, before);
        writetext(d.dir + "/changed", "ONLYONEITEM\n");
        writetext(d.dir + "/other", "OTHER.BIN " + a + "\n");
        putresult r = runput("DCPFAULT_SWAP=" + quote(list + ":" + d.dir + "/" + other) + " " +
                                 fault, args);
        EXPECT_EQ(r.status, 0) << other << r.err;
        EXPECT_EQ(r.out, plain.out) << other;
        EXPECT_TRUE(readfile(d.dcp) == planned) << other;
    }
    // A close that fails, after success and after a failure reported already.
    writefile(d.dcp, before);
    putresult r = runput("DCPFAULT_CLOSE=" + tmp + " " + fault, args);
    EXPECT_EQ(r.err, "Could not write " + d.dcp + "; it is left as it was\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(readfile(d.dcp) == before);
    r = runput("DCPFAULT_CLOSE=" + tmp + " " + fault, quote(d.dcp) + " 'A*' " + quote(a));
    EXPECT_EQ(r.err, "A*: A* is not an 8.3 name\n");
    EXPECT_EQ(sh(std::string(SECTPUT_BIN) + " " + args + " >/dev/full 2>/dev/null"), 1);
}

TEST(sectput, commandlineandopening)
{
    putdisk d("1.2M");
    struct cmd {
        std::string args;
        int status;
        std::string out, err;
    } cases[] = {
        {"--version", 0, "sectput (dcptools) " DCP_VERSION "\n", ""},
        {"-x", 1, "", "invalid"},
        {quote(d.dcp), 1, "", "usage"},
        {"-l L " + quote(d.dcp) + " X", 1, "", "usage"},
        {quote(d.dir + "/none.dcp") + " A B", 1, "", "Could not open image " + d.dir +
                                                         "/none.dcp for writing\n"},
        {"-n " + quote(d.dir + "/none.dcp") + " A B", 1, "", "Could not open image " + d.dir +
                                                                 "/none.dcp for reading\n"},
        {"/dev/null A B", 1, "", "/dev/null is a character device, not an image\n"},
        {quote(d.dir + "/noreserved.dcp") + " A " + quote(d.dcp), 1, "",
         "A: the boot sector gives no reserved sector, so the FAT would overwrite it\n"},
        {quote(d.dir + "/short.dcp") + " A " + quote(d.dcp), 1, "",
         "A: the FAT copies and the root directory run past the volume's 5 sectors\n"},
        // An empty list puts nothing and writes nothing, not even FAT copies
        // that differ, nor over a boot sector that would be the FAT.
        {"-l /dev/null " + quote(d.dir + "/noreserved.dcp"), 0, "", ""}};
    bytes noreserved = readfile(d.dcp), small = noreserved;
    noreserved[162 + 14] = 0;
    noreserved[162 + 1024 * 3 + 5] ^= 1; // the second FAT copy, as the first sees it now
    writefile(d.dir + "/noreserved.dcp", noreserved);
    small[162 + 19] = 5, small[162 + 20] = 0;
    writefile(d.dir + "/short.dcp", small);
    for (const cmd &c : cases) {
        putresult r = sectput(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
        if (c.err == "usage")
            EXPECT_EQ(r.err.substr(0, 15), "Usage: sectput ") << c.args;
        else if (c.err == "invalid")
            EXPECT_NE(r.err.find("invalid option -- 'x'"), std::string::npos);
        else
            EXPECT_EQ(r.err, c.err) << c.args;
    }
    EXPECT_TRUE(readfile(d.dir + "/noreserved.dcp") == noreserved);
    EXPECT_EQ(sectput("--help").out.substr(0, 15), "Usage: sectput ");
}

TEST(sectput, afulldisk)
{
    putdisk d("1.2M");
    std::string s = d.host("s", 10), list = "PAD.BIN " + d.host("pad", 300 * 1024) + "\n";
    for (int i = 0; i < 30; i++) // with . and .., SUB's one cluster is full
        list += "SUB\\F" + std::to_string(i) + " " + s + "\n";
    list += "LATE\\X.BIN " + s + "\n";
    // The same path twice: the last put's file wins, and it kept its sector.
    list += "TWICE.BIN " + s + "\nTWICE.BIN " + d.host("t", 20) + "\n";
    putresult r = d.putlist(list);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(d.mtype("TWICE.BIN"), texts(readfile(d.dir + "/t")));
    // Sectors 11-310 PAD, 311 SUB, 312-341 its files, 342 LATE, 343 its file,
    // 344 TWICE.BIN: all the rest, 345-1231, goes to one file.
    ASSERT_EQ(d.put("REST.BIN", d.host("rest", 887 * 1024)).status, 0);
    bytes full = readfile(d.dcp);
    struct refusal {
        std::string path;
        size_t size;
        std::string err;
    } cases[] = {
        {"SUB\\NEW.BIN", 0, "SUB\\NEW.BIN: no room; it needs 1 clusters in one run, and the "
                            "longest free run is 0\n"},
        {"NEWDIR\\X.BIN", 0, "NEWDIR\\X.BIN: no room; it needs 1 clusters in one run, and the "
                             "longest free run is 0\n"},
        {"SUB\\F0", 2000, "SUB\\F0: no room; it needs 2 clusters in one run, and the longest "
                         "free run is 1\n"}};
    for (const refusal &c : cases) {
        putresult refused = d.put(c.path, d.host("c", c.size));
        EXPECT_EQ(refused.err, c.err);
        EXPECT_TRUE(readfile(d.dcp) == full) << c.path;
    }
    // Cut short before LATE's cluster: its chain is sound, its read fails.
    bytes cut(full.begin(), full.begin() + 162 + 342 * 1024);
    writefile(d.dcp, cut);
    EXPECT_EQ(d.put("LATE\\Y.BIN", s).err, "LATE\\Y.BIN: could not read directory LATE\n");
    EXPECT_TRUE(readfile(d.dcp) == cut);
}

TEST(sectput, clusterslargerthanthecopybuffer)
{
    // 255 sectors of 512 bytes a cluster: a file's slack may pass 64 KiB.
    std::string dir = tempdir(), dcp = dir + "/big.dcp";
    fakevolume v;
    v.spc = 255;
    v.build();
    v.save(dcp);
    bytes data(10, 0x42);
    writefile(dir + "/f", data);
    putresult r = sectput(quote(dcp) + " F.BIN " + quote(dir + "/f"));
    EXPECT_EQ(r.status, 0) << r.err;
    bytes img = readfile(dcp);
    long at = v.clusteroffset(2);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), img.begin() + at));
    EXPECT_EQ(std::count(img.begin() + at + 10, img.begin() + at + 255 * 512, 0), 255 * 512 - 10);
}

TEST(sectput, utf8namesroundtripthroughshiftjis)
{
    // -u: what is typed is UTF-8, what the image stores is code page 932.
    // The entries' times are fixed (the clock could write an 0xE5 byte).
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    putdisk d("1.2M");
    std::string f = d.host("f", 10);
    struct name {
        std::string typed, stored, shown; // shown: sectmap -u's listing
    } names[] = {
        {"データ.bin", "\x83\x66\x81\x5B\x83\x5E.BIN", "データ.BIN"}, // kana; a to z upper-cased
        {"ソ\\表.TXT", "\x83\x5C\\\x95\x5C.TXT", "ソ\\表.TXT"},      // 5C trail bytes
        {"ｶﾅ", "\xB6\xC5", "ｶﾅ"},                                    // half-width katakana
        {"①.BIN", "\x87\x40.BIN", "①.BIN"},                        // NEC row 13
        {"蕁.BIN", "\xE5\x40.BIN", "蕁.BIN"}};                       // E5 lead: stored as 05
    for (const name &n : names) {
        putresult r = sectput("-u " + quote(d.dcp) + " " + quote(n.typed) + " " + quote(f));
        ASSERT_EQ(r.status, 0) << n.typed << r.err;
        EXPECT_EQ(r.out.substr(r.out.size() - n.typed.size() - 1), n.typed + "\n");
        // Found again by the UTF-8 it was typed as, and by its stored bytes.
        putresult u = runput(SECTMAP_BIN, "-u " + quote(d.dcp) + " " + quote(n.typed));
        EXPECT_EQ(u.status, 0) << n.typed;
        EXPECT_EQ(u.out.substr(u.out.size() - n.typed.size() - 1), n.typed + "\n");
        EXPECT_EQ(d.sectmap(quote(n.stored)).status, 0) << n.typed;
    }
    putresult all = runput(SECTMAP_BIN, "-u " + quote(d.dcp)), raw = d.sectmap("");
    for (const name &n : names) {
        EXPECT_NE(all.out.find(" " + n.shown + "\n"), std::string::npos) << n.shown << all.out;
        EXPECT_NE(raw.out.find(" " + n.stored + "\n"), std::string::npos) << n.typed;
    }
    bytes img = readfile(d.dcp);
    // (Past the boot sector, whose serial number mkfs.fat draws at random.)
    EXPECT_EQ(std::count(img.begin() + 162 + 1024, img.end(), 0xE5), 0) << "0xE5 is stored as 0x05";
    // The answer of -s, and a byte that is no character: printed as \xHH.
    ASSERT_EQ(d.put("\x80X.BIN", f).status, 0);
    putresult s = runput(SECTMAP_BIN, "-u -s 11 " + quote(d.dcp));
    EXPECT_EQ(s.out, "11: データ.BIN byte 0\n");
    // A name whose last byte leads a character that never comes (edited in).
    ASSERT_EQ(d.put("ABCD", f).status, 0);
    bytes edited = readfile(d.dcp);
    std::string text(edited.begin(), edited.end());
    edited[text.find("ABCD       ") + 3] = 0x81;
    writefile(d.dcp, edited);
    all = runput(SECTMAP_BIN, "-u " + quote(d.dcp));
    EXPECT_NE(all.out.find(" \\x80X.BIN\n"), std::string::npos) << all.out;
    EXPECT_NE(all.out.find(" ABC\\x81\n"), std::string::npos) << all.out;
    // What has no Shift-JIS form is refused, and nothing is written.
    bytes before = readfile(d.dcp);
    for (std::string typed : {"caf\xC3\xA9.TXT", "\xFF.TXT"}) {
        putresult r = sectput("-u " + quote(d.dcp) + " " + quote(typed) + " " + quote(f));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, typed + " has no Shift-JIS form (code page 932)\n");
        writetext(d.dir + "/l", "OK.TXT " + f + "\n" + typed + " " + f + "\n");
        r = sectput("-u -l " + quote(d.dir + "/l") + " " + quote(d.dcp));
        EXPECT_EQ(r.err, d.dir + "/l line 2: " + typed + " has no Shift-JIS form (code page 932)\n");
        putresult m = runput(SECTMAP_BIN, "-u " + quote(d.dcp) + " " + quote(typed));
        EXPECT_EQ(m.err, typed + " has no Shift-JIS form (code page 932)\n");
        EXPECT_EQ(m.status, 1);
    }
    EXPECT_TRUE(readfile(d.dcp) == before);
    // A refusal names the component in UTF-8 too.
    putresult bad = sectput("-u " + quote(d.dcp) + " " + quote("データ.bin\\X") + " " + quote(f));
    EXPECT_EQ(bad.err, "データ.bin\\X: not a directory: データ.bin\n");
    unsetenv("SOURCE_DATE_EPOCH");
}
