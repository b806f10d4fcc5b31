// sectdefs end to end: real volumes, the assembler that consumes its
// output, and every message with its exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "testutil.h"

static int sectdefs(const std::string &args, std::string *out)
{
    return run(std::string(SECTDEFS_BIN) + " " + args, out);
}

static bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// A real 1.2 MB volume with the test tree; expected sectors from mshowfat.
struct realdisk {
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    std::vector<std::string> paths;
    realdisk()
    {
        makerealimage(dcp, "1.2M");
        paths = filltree(dcp, dir);
    }
    int sector(const std::string &path) const { return mshowfatsector(dcp, path); }
};

TEST(sectdefs, realvolumemixedlines)
{
    realdisk d;
    std::string list, want;
    const char *breaks[] = {"\n", "\r\n", "\r"};
    for (size_t i = 0; i < d.paths.size(); i++) {
        std::string sym = "SYM_" + std::to_string(i);
        list += (i % 4 == 0 ? "   " : "") + sym + "  " + d.paths[i] + (i % 5 == 0 ? "  " : "") +
                breaks[i % 3];
        want += "%define " + sym + " " + std::to_string(d.sector(d.paths[i])) + "\n";
        if (i % 7 == 0)
            list += "MISSING_" + std::to_string(i) + " NOT\\THERE.BIN\n\n   \nONEWORD\r\n" +
                    "TABBED\tKERNEL.SYS\n";
    }
    list += "LAST_NO_BREAK KERNEL.SYS";
    want += "%define LAST_NO_BREAK " + std::to_string(d.sector("KERNEL.SYS")) + "\n";
    writetext(d.dir + "/list.txt", list);
    std::string out;
    EXPECT_EQ(sectdefs(quote(d.dcp) + " " + quote(d.dir + "/list.txt") + " " +
                           quote(d.dir + "/defs.inc"),
                       &out),
              0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(texts(readfile(d.dir + "/defs.inc")), want);
}

TEST(sectdefs, nasmassemblestheoutput)
{
    realdisk d;
    std::string list, source = "%include \"defs.inc\"\n";
    for (size_t i = 0; i < d.paths.size(); i++) {
        list += "F" + std::to_string(i) + " " + d.paths[i] + "\n";
        source += "dw F" + std::to_string(i) + "\n";
    }
    writetext(d.dir + "/list.txt", list);
    writetext(d.dir + "/probe.asm", source);
    std::string out;
    ASSERT_EQ(sectdefs(quote(d.dcp) + " " + quote(d.dir + "/list.txt") + " " +
                           quote(d.dir + "/defs.inc"),
                       &out),
              0);
    ASSERT_EQ(sh("cd " + quote(d.dir) + " && nasm -f bin -o probe.bin probe.asm"), 0);
    bytes words = readfile(d.dir + "/probe.bin");
    ASSERT_EQ(words.size(), d.paths.size() * 2);
    for (size_t i = 0; i < d.paths.size(); i++)
        EXPECT_EQ(words[2 * i] | words[2 * i + 1] << 8, d.sector(d.paths[i])) << d.paths[i];
}

TEST(sectdefs, outputlongerthanitsbuffer)
{
    realdisk d;
    std::string list, want;
    int kernel = d.sector("KERNEL.SYS"), fm = d.sector("SYSTEM\\DRIVERS\\SOUND\\FM.DRV");
    for (int i = 0; i < 3000; i++) {
        bool k = i % 2 == 0;
        list += "A_RATHER_LONG_SYMBOL_NAME_" + std::to_string(i) + " " +
                (k ? "KERNEL.SYS" : "system\\drivers\\sound\\fm.drv") + "\n";
        want += "%define A_RATHER_LONG_SYMBOL_NAME_" + std::to_string(i) + " " +
                std::to_string(k ? kernel : fm) + "\n";
    }
    ASSERT_GT(want.size(), 3u * 16384);
    writetext(d.dir + "/list.txt", list);
    std::string out;
    EXPECT_EQ(sectdefs(quote(d.dcp) + " " + quote(d.dir + "/list.txt") + " " +
                           quote(d.dir + "/defs.inc"),
                       &out),
              0);
    EXPECT_EQ(texts(readfile(d.dir + "/defs.inc")), want);
}

TEST(sectdefs, messagesinorder)
{
    realdisk d;
    std::string dir = d.dir, out, list = dir + "/list.txt", inc = dir + "/defs.inc";
    writetext(list, "K KERNEL.SYS\n");

    for (std::string args : {std::string(), quote(d.dcp) + " " + quote(list),
                             quote(d.dcp) + " " + quote(list) + " " + quote(dir + "/a") + " " +
                                 quote(dir + "/b")}) {
        EXPECT_EQ(sectdefs(args, &out), 1) << args;
        EXPECT_EQ(out, "Expects three arguments.");
        EXPECT_FALSE(exists(dir + "/a"));
        EXPECT_FALSE(exists(dir + "/b"));
    }

    // The output comes first: a missing image is not even looked at.
    EXPECT_EQ(sectdefs(quote(dir + "/none.dcp") + " " + quote(dir + "/none.txt") + " " +
                           quote(dir + "/no/such/dir.inc"),
                       &out),
              1);
    EXPECT_EQ(out, "Could not open output file " + dir + "/no/such/dir.inc for writing\n");

    writetext(inc, "stale content");
    EXPECT_EQ(sectdefs(quote(dir + "/none.dcp") + " " + quote(dir + "/none.txt") + " " + quote(inc), &out), 1);
    EXPECT_EQ(out, "Could not open DCP file " + dir + "/none.dcp for reading\n");
    EXPECT_TRUE(exists(inc));
    EXPECT_EQ(readfile(inc).size(), 0u);

    writetext(inc, "stale content");
    EXPECT_EQ(sectdefs(quote(d.dcp) + " " + quote(dir + "/none.txt") + " " + quote(inc), &out), 1);
    EXPECT_EQ(out, "Could not open sector fetch list file " + dir + "/none.txt for reading\n");
    EXPECT_EQ(readfile(inc).size(), 0u);

    writefile(dir + "/short.dcp", bytes(289, 0));
    EXPECT_EQ(sectdefs(quote(dir + "/short.dcp") + " " + quote(list) + " " + quote(inc), &out), 1);
    EXPECT_EQ(out, "Could not read disk properties\n");
    EXPECT_EQ(readfile(inc).size(), 0u);

    writetext(dir + "/empty.txt", "");
    EXPECT_EQ(sectdefs(quote(d.dcp) + " " + quote(dir + "/empty.txt") + " " + quote(inc), &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(exists(inc));
    EXPECT_EQ(readfile(inc).size(), 0u);
}

TEST(sectdefs, writeandreadfailuresarenotsuccess)
{
    realdisk d;
    std::string out, list = d.dir + "/list.txt";
    writetext(list, "K KERNEL.SYS\n");
    // A full disk: the one line is written at the close, which fails.
    EXPECT_EQ(sectdefs(quote(d.dcp) + " " + quote(list) + " /dev/full", &out), 1);
    EXPECT_EQ(out, "Could not write output file /dev/full\n");
    // And through the buffer's own overflow writes.
    std::string big;
    for (int i = 0; i < 2000; i++)
        big += "SYMBOL_" + std::to_string(i) + " KERNEL.SYS\n";
    writetext(list, big);
    EXPECT_EQ(sectdefs(quote(d.dcp) + " " + quote(list) + " /dev/full", &out), 1);
    EXPECT_EQ(out, "Could not write output file /dev/full\n");
    // A list that opens but cannot be read (a directory) is no empty list.
    EXPECT_EQ(sectdefs(quote(d.dcp) + " " + quote(d.dir) + " " + quote(d.dir + "/defs.inc"), &out), 1);
    EXPECT_EQ(out, "Could not read sector fetch list file " + d.dir + "\n");
    EXPECT_EQ(readfile(d.dir + "/defs.inc").size(), 0u);
}

TEST(sectdefs, imageisnevermodified)
{
    realdisk d;
    bytes before = readfile(d.dcp);
    std::string list;
    for (const std::string &p : d.paths)
        list += "X " + p + "\n";
    writetext(d.dir + "/list.txt", list);
    std::string out;
    EXPECT_EQ(sectdefs(quote(d.dcp) + " " + quote(d.dir + "/list.txt") + " " +
                           quote(d.dir + "/o.inc"),
                       &out),
              0);
    EXPECT_EQ(readfile(d.dcp), before);
}

TEST(sectdefs, failedcloseoftheoutputisnotsuccess)
{
    // The last bytes reach the disk when the output is closed.
    realdisk d;
    std::string out, list = d.dir + "/list.txt", defs = d.dir + "/defs.inc";
    writetext(list, "K KERNEL.SYS\n");
    std::string args = " " + quote(d.dcp) + " " + quote(list) + " " + quote(defs);
    EXPECT_EQ(run("DCPFAULT_CLOSE=" + quote(defs) + " " + SECTDEFS_FAULTCLOSE_BIN + args, &out), 1);
    EXPECT_EQ(out, "Could not write output file " + defs + "\n");
    EXPECT_EQ(run(std::string(SECTDEFS_FAULTCLOSE_BIN) + args, &out), 0);
    EXPECT_EQ(out, "");
}
