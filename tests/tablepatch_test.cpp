// tablepatch end to end on real volumes: the table read back with mtools,
// nothing else of the image changed, and every message.
#include <gtest/gtest.h>
#include <unistd.h>

#include "fakevolume.h"
#include "testutil.h"

static int tablepatch(const std::string &args, std::string *out)
{
    return run(std::string(TABLEPATCH_BIN) + " " + args, out);
}

struct patchdisk {
    std::string dir = tempdir(), dcp = dir + "/disk.dcp", list = dir + "/fixups.txt";
    std::vector<std::string> paths;
    bytes before;
    patchdisk()
    {
        makerealimage(dcp, "1.2M");
        paths = filltree(dcp, dir);
        bytes table((size_t)20000, 0xEE);
        writefile(dir + "/t", table);
        mtools("mcopy", dcp, quote(dir + "/t") + " ::BOOT/TABLE.BIN");
        before = readfile(dcp);
    }
    int patch(const std::string &listtext, const std::string &extra, std::string *out)
    {
        writetext(list, listtext);
        return tablepatch(quote(dcp) + " " + quote(list) + extra, out);
    }
    bytes content(const std::string &path) const
    {
        std::string out;
        run("MTOOLS_SKIP_CHECK=1 mcopy -i " + quote(dcp + "@@162") + " " + quote("::" + path) +
                " -",
            &out);
        return bytes(out.begin(), out.end());
    }
    int sector(const std::string &path) const { return mshowfatsector(dcp, path); }
    size_t changedbytes() const
    {
        bytes after = readfile(dcp);
        size_t n = after.size() == before.size() ? 0 : 1000000;
        for (size_t i = 0; i < std::min(after.size(), before.size()); i++)
            n += after[i] != before[i];
        return n;
    }
    bool clean() const
    {
        return sh("tail -c +163 " + quote(dcp) + " > " + quote(dir + "/vol") +
                  " && fsck.fat -n " + quote(dir + "/vol") + " >/dev/null 2>&1") == 0;
    }
};

static void putrecord(bytes *b, int value, int sector)
{
    b->push_back((unsigned char)(value & 0xFF));
    b->push_back((unsigned char)((value >> 8) & 0xFF));
    b->push_back((unsigned char)(sector & 0xFF));
    b->push_back((unsigned char)((sector >> 8) & 0xFF));
}

TEST(tablepatch, tablelandsinthetargetandnowhereelse)
{
    patchdisk d;
    std::string list = "16 BOOT\\TABLE.BIN\n", out;
    bytes table;
    for (size_t i = 0; i < d.paths.size(); i++) {
        list += std::to_string(i + 1) + " " + d.paths[i] + (i % 2 ? "\r\n" : "\n");
        putrecord(&table, (int)i + 1, d.sector(d.paths[i]) + 33);
    }
    list += "9\n\n  \n";                     // one item, empty, blanks
    putrecord(&table, 9, 0);
    putrecord(&table, 0, 0);
    putrecord(&table, 0, 0);
    putrecord(&table, 0, 0); // the empty last line after the final break
    ASSERT_EQ(d.patch(list, " -33", &out), 0) << out;
    EXPECT_EQ(out, "");
    bytes want = d.before.size() ? bytes(20000, 0xEE) : bytes();
    std::copy(table.begin(), table.end(), want.begin() + 16);
    EXPECT_EQ(d.content("BOOT/TABLE.BIN"), want);
    EXPECT_LE(d.changedbytes(), table.size());
    bytes after = readfile(d.dcp);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 162, d.before.begin()));
    EXPECT_TRUE(d.clean());
}

TEST(tablepatch, fragmentedtargetandthechainsend)
{
    patchdisk d;
    std::string out;
    std::string target = "SYSTEM/DRIVERS/SOUND/FM.DRV"; // 9000 bytes across a hole
    bytes orig = d.content(target);
    std::string list = "1000 SYSTEM\\DRIVERS\\SOUND\\FM.DRV\n";
    bytes table;
    int kernel = d.sector("KERNEL.SYS");
    for (int i = 0; i < 1500; i++) {
        list += std::to_string(i) + " KERNEL.SYS\n";
        putrecord(&table, i, kernel);
    }
    putrecord(&table, 0, 0);
    ASSERT_EQ(d.patch(list, "", &out), 0) << out;
    bytes want = orig;
    std::copy(table.begin(), table.end(), want.begin() + 1000);
    EXPECT_EQ(d.content(target), want);
    EXPECT_TRUE(d.clean());

    // Past the last cluster (9216 bytes): written as far as the chain goes, status 0.
    list = "9000 SYSTEM\\DRIVERS\\SOUND\\FM.DRV\n";
    for (int i = 0; i < 100; i++)
        list += "7 KERNEL.SYS\n";
    ASSERT_EQ(d.patch(list, "", &out), 0) << out;
    EXPECT_EQ(d.content(target).size(), 9000u); // the size is not changed
    EXPECT_TRUE(d.clean());
}

TEST(tablepatch, biasesandvalues)
{
    patchdisk d;
    int k = d.sector("KERNEL.SYS");
    struct { const char *extra; int bias; } cases[] = {
        {" -33", -33}, {" 33", 33}, {" x", 0}, {" -x", 0}, {" +5", 0}, {" -", 0},
        {" ''", 0},    {" 2147483648", 0}, {" 33 extra", 33},
    };
    for (auto &c : cases) {
        std::string out;
        ASSERT_EQ(d.patch("0 BOOT\\TABLE.BIN\n1 KERNEL.SYS", c.extra, &out), 0) << c.extra;
        bytes t = d.content("BOOT/TABLE.BIN");
        EXPECT_EQ(t[2] | t[3] << 8, (k - c.bias) & 0xFFFF) << c.extra;
    }
    std::string out;
    ASSERT_EQ(d.patch("0 BOOT\\TABLE.BIN\n70000 KERNEL.SYS\nabc KERNEL.SYS\n12\n"
                      "5 NO\\SUCH.BIN\n6 BOOT\\LOADER.BIN",
                      " " + std::to_string(k + 33), &out),
              0);
    EXPECT_EQ(out, "Couldn't get sector for file on line 5\n");
    bytes t = d.content("BOOT/TABLE.BIN");
    bytes want;
    putrecord(&want, 4464, 0xFFDF);
    putrecord(&want, 0, 0xFFDF);
    putrecord(&want, 12, 0);
    putrecord(&want, 5, 0);
    putrecord(&want, 6, d.sector("BOOT\\LOADER.BIN") - k - 33);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), t.begin()));
    EXPECT_EQ(t[want.size()], 0xEE);
}

TEST(tablepatch, tablesizelimits)
{
    patchdisk d;
    std::string list = "0 BOOT\\TABLE.BIN", out;
    for (int i = 0; i < 4096; i++)
        list += "\n" + std::to_string(i) + " KERNEL.SYS";
    // 4097 lines with no final break: exactly 4096 records, 16384 bytes.
    ASSERT_EQ(d.patch(list, "", &out), 0) << out;
    bytes t = d.content("BOOT/TABLE.BIN");
    EXPECT_EQ(t[16380] | t[16381] << 8, 4095);
    EXPECT_EQ(t[16384], 0xEE);
    // One more line (here the empty one after a final break) does not fit.
    d.before = readfile(d.dcp);
    EXPECT_EQ(d.patch(list + "\n", "", &out), 1);
    EXPECT_EQ(out, "Too many entries in fixup list: line 4098 does not fit in the table of "
                   "4096 records\n");
    EXPECT_EQ(readfile(d.dcp), d.before);
}

TEST(tablepatch, refusedtargetsleavetheimageasitwas)
{
    patchdisk d;
    std::string out;
    for (std::string target : {"SYSTEM\\EMPTY.TXT", "SYSTEM", "SYSTEM\\DRIVERS\\", "NOPE.BIN",
                               "BOOT\\NOPE.BIN"}) {
        EXPECT_EQ(d.patch("0 " + target + "\n1 KERNEL.SYS\n", "", &out), 1) << target;
        EXPECT_EQ(out, "Could not patch file\n") << target;
        EXPECT_EQ(readfile(d.dcp), d.before) << target;
    }
    // The empty path (line 1 of one item, an empty list) names nothing here.
    EXPECT_EQ(d.patch("16\n1 KERNEL.SYS\n", "", &out), 1);
    EXPECT_EQ(out, "Could not patch file\n");
    EXPECT_EQ(d.patch("", "", &out), 1);
    EXPECT_EQ(out, "Could not patch file\n");
    // Only line 1, no break: nothing to write, and a target that exists is success.
    EXPECT_EQ(d.patch("0 BOOT\\TABLE.BIN", "", &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(readfile(d.dcp), d.before);
    // A cut-short copy (a bad download) that ends inside the target: refused,
    // and the file is not grown to take the table.
    long cut = 162 + (long)d.sector("BOOT\\TABLE.BIN") * 1024 + 4; // mid-record
    bytes shortened(d.before.begin(), d.before.begin() + cut);
    writefile(d.dcp, shortened);
    EXPECT_EQ(d.patch("0 BOOT\\TABLE.BIN\n1 KERNEL.SYS\n", "", &out), 1);
    EXPECT_EQ(out, "Could not patch file\n");
    EXPECT_EQ(readfile(d.dcp), shortened);
}

TEST(tablepatch, badoffsetsstopbeforethelist)
{
    patchdisk d;
    std::string out;
    for (std::string off : {"-4", "x", "2147483648", "4294967296", "+1"}) {
        EXPECT_EQ(d.patch(off + " BOOT\\TABLE.BIN\n1 NOT\\FOUND\n", "", &out), 1) << off;
        EXPECT_EQ(out, "Bad file offset\n") << off; // line 2 was never looked at
        EXPECT_EQ(readfile(d.dcp), d.before);
    }
    // The largest offset is accepted; it lies past the chain, so nothing changes.
    EXPECT_EQ(d.patch("2147483647 BOOT\\TABLE.BIN\n1 KERNEL.SYS\n", "", &out), 0);
    EXPECT_EQ(readfile(d.dcp), d.before);
}

TEST(tablepatch, longandspacedtargetpaths)
{
    // A hand-made volume with a directory whose name holds a space.
    std::string dir = tempdir(), dcp = dir + "/d.dcp", out;
    fakevolume v;
    v.build();
    v.entry(-1, 0, "MY DIR     ", 0x10, 5);
    v.chain({5});
    v.entry(5, 0, ".          ", 0x10, 5);
    v.entry(5, 1, "..         ", 0x10, 0);
    v.entry(5, 2, "A       BIN", 0x20, 6, 512);
    v.chain({6});
    v.fillcluster(6, 0xCC);
    v.save(dcp);
    writetext(dir + "/l", "4 MY DIR\\A.BIN  \n1\n");
    ASSERT_EQ(run(std::string(TABLEPATCH_BIN) + " " + quote(dcp) + " " + quote(dir + "/l"), &out), 0)
        << out;
    bytes img = readfile(dcp);
    EXPECT_EQ(img[v.clusteroffset(6) + 4], 1);
    EXPECT_EQ(img[v.clusteroffset(6) + 8], 0);
    EXPECT_EQ(img[v.clusteroffset(6) + 12], 0xCC);
    // Cut to 255 bytes: "MY DIR\" then "..\" (the directory's own '.') up to
    // the file name, then a tail that would make it a directory if kept.
    std::string path = "MY DIR\\";
    for (int i = 0; i < 81; i++)
        path += "..\\";
    path += "A.BIN";
    ASSERT_EQ(path.size(), 255u);
    writetext(dir + "/l", "8 " + path + "\\TAIL\n2\n");
    ASSERT_EQ(run(std::string(TABLEPATCH_BIN) + " " + quote(dcp) + " " + quote(dir + "/l"), &out), 0)
        << out;
    img = readfile(dcp);
    EXPECT_EQ(img[v.clusteroffset(6) + 8], 2);
}

TEST(tablepatch, messagesinorder)
{
    patchdisk d;
    std::string out, dir = d.dir;
    writetext(d.list, "0 BOOT\\TABLE.BIN\n");
    EXPECT_EQ(tablepatch("", &out), 1);
    EXPECT_EQ(out, "Expects two or three arguments.");
    EXPECT_EQ(tablepatch(quote(d.dcp), &out), 1);
    EXPECT_EQ(out, "Expects two or three arguments.");
    EXPECT_EQ(tablepatch(quote(dir + "/none.dcp") + " " + quote(dir + "/none.txt"), &out), 1);
    EXPECT_EQ(out, "Could not open DCP file " + dir + "/none.dcp for reading\n");
    EXPECT_EQ(tablepatch(quote(d.dcp) + " " + quote(dir + "/none.txt"), &out), 1);
    EXPECT_EQ(out, "Could not open fixup list file " + dir + "/none.txt for reading\n");
    writefile(dir + "/short.dcp", bytes(289, 0));
    EXPECT_EQ(tablepatch(quote(dir + "/short.dcp") + " " + quote(d.list), &out), 1);
    EXPECT_EQ(out, "Could not read disk properties\n");
    // A list that opens but cannot be read: no partial table is written.
    EXPECT_EQ(tablepatch(quote(d.dcp) + " " + quote(dir), &out), 1);
    EXPECT_EQ(out, "Could not read fixup list file " + dir + "\n");
    EXPECT_EQ(readfile(d.dcp), d.before);
    // An image that cannot be opened for writing.
    sh("chmod 444 " + quote(d.dcp));
    if (geteuid() != 0) {
        EXPECT_EQ(tablepatch(quote(d.dcp) + " " + quote(d.list), &out), 1);
        EXPECT_EQ(out, "Could not open DCP file " + d.dcp + " for reading\n");
    }
}

TEST(tablepatch, failedcloseoftheimageisnotsuccess)
{
    // The table's bytes reach the disk when the image is closed; a close
    // that fails there must not be reported as a patched image.
    patchdisk d;
    std::string out;
    writetext(d.list, "0 BOOT\\TABLE.BIN\n1 KERNEL.SYS\n");
    EXPECT_EQ(run("DCPFAULT_CLOSE=" + quote(d.dcp) + " " + TABLEPATCH_FAULTCLOSE_BIN + " " +
                      quote(d.dcp) + " " + quote(d.list),
                  &out),
              1);
    EXPECT_EQ(out, "Could not write DCP file " + d.dcp + "\n");
    // A run that failed before is reported once, for what failed first.
    writetext(d.list, "0 BOOT\\NOTHERE.BIN\n1 KERNEL.SYS\n");
    EXPECT_EQ(run("DCPFAULT_CLOSE=" + quote(d.dcp) + " " + TABLEPATCH_FAULTCLOSE_BIN + " " +
                      quote(d.dcp) + " " + quote(d.list),
                  &out),
              1);
    EXPECT_EQ(out, "Could not patch file\n");
    writetext(d.list, "0 BOOT\\TABLE.BIN\n1 KERNEL.SYS\n");
    // The same binary without the fault succeeds: only the close made the difference.
    EXPECT_EQ(run(std::string(TABLEPATCH_FAULTCLOSE_BIN) + " " + quote(d.dcp) + " " + quote(d.list),
                  &out),
              0);
    EXPECT_EQ(out, "");
}
