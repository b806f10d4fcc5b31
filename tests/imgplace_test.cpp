// imgplace against dd as the reference, and every message.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "testutil.h"

static int imgplace(const std::string &args, std::string *out)
{
    return run(std::string(IMGPLACE_BIN) + " " + args, out);
}

static bytes pattern(size_t n, int seed)
{
    bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (unsigned char)(i * 31 + seed + i / 251);
    return b;
}

TEST(imgplace, sameresultasdd)
{
    std::string dir = tempdir(), out;
    const size_t outsize = 20000;
    for (size_t insize : {0ul, 1ul, 4095ul, 4096ul, 4097ul, 8192ul, 100000ul}) {
        for (size_t offset : {0ul, 100ul, 4096ul, outsize - 1, outsize, outsize + 5000}) {
            writefile(dir + "/in", pattern(insize, 1));
            writefile(dir + "/ours", pattern(outsize, 2));
            writefile(dir + "/dds", pattern(outsize, 2));
            ASSERT_EQ(imgplace(quote(dir + "/in") + " " + quote(dir + "/ours") + " " +
                                   std::to_string(offset),
                               &out),
                      0);
            EXPECT_EQ(out, "");
            ASSERT_EQ(sh("dd if=" + quote(dir + "/in") + " of=" + quote(dir + "/dds") +
                         " bs=4096 seek=" + std::to_string(offset) +
                         " oflag=seek_bytes conv=notrunc status=none"),
                      0);
            ASSERT_EQ(readfile(dir + "/ours"), readfile(dir + "/dds"))
                << insize << " at " << offset;
        }
    }
}

TEST(imgplace, offsetsandmessagesinorder)
{
    std::string dir = tempdir(), out, in = dir + "/in", target = dir + "/out";
    writefile(in, pattern(300, 3));
    writefile(target, pattern(1100, 4));
    for (std::string args : {std::string(""), quote(in) + " " + quote(target),
                             quote(in) + " " + quote(target) + " 0 0"}) {
        EXPECT_EQ(imgplace(args, &out), 1);
        EXPECT_EQ(out, "Expects three arguments\n");
    }
    // The offset is judged before either file: neither exists here.
    for (std::string off : {"-1", "+5", "0x10", "12a", " 5", "2147483648", "4294967296",
                            "99999999999999999999"}) {
        EXPECT_EQ(imgplace(quote(dir + "/x") + " " + quote(dir + "/y") + " " + quote(off), &out), 1)
            << off;
        EXPECT_EQ(out, "Bad offset\n") << off;
    }
    EXPECT_EQ(imgplace(quote(dir + "/x") + " " + quote(dir + "/y") + " 5", &out), 1);
    EXPECT_EQ(out, "Can't open input file\n");
    EXPECT_EQ(imgplace(quote(in) + " " + quote(dir + "/y") + " 5", &out), 1);
    EXPECT_EQ(out, "Can't open output file\n");
    struct stat st;
    EXPECT_NE(stat((dir + "/y").c_str(), &st), 0); // never created

    // An empty offset is 0; the file grows when the input runs past its end.
    EXPECT_EQ(imgplace(quote(in) + " " + quote(target) + " ''", &out), 0);
    bytes b = readfile(target);
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + 300, pattern(300, 3).begin()));
    EXPECT_EQ(imgplace(quote(in) + " " + quote(target) + " 1000", &out), 0);
    EXPECT_EQ(readfile(target).size(), 1300u);
}

TEST(imgplace, failuresafteropeningarenotsuccess)
{
    std::string dir = tempdir(), out;
    writefile(dir + "/in", pattern(10000, 5));
    EXPECT_EQ(imgplace(quote(dir + "/in") + " /dev/full 0", &out), 1);
    EXPECT_EQ(out, "Can't write output file\n");
    // Past the stream's buffer, a write itself fails: one message all the same.
    writefile(dir + "/big", pattern(3 << 20, 7));
    EXPECT_EQ(imgplace(quote(dir + "/big") + " /dev/full 0", &out), 1);
    EXPECT_EQ(out, "Can't write output file\n");
    writefile(dir + "/small", pattern(10, 5));
    EXPECT_EQ(imgplace(quote(dir + "/small") + " /dev/full 0", &out), 1);
    EXPECT_EQ(out, "Can't write output file\n");
    // A pipe opens for update but cannot be positioned.
    EXPECT_EQ(imgplace(quote(dir + "/small") + " /dev/stdout 5", &out), 1);
    EXPECT_EQ(out, "Can't position output file\n");
    writefile(dir + "/out", pattern(100, 6));
    EXPECT_EQ(imgplace(quote(dir) + " " + quote(dir + "/out") + " 0", &out), 1);
    EXPECT_EQ(out, "Can't read input file\n");
    EXPECT_EQ(readfile(dir + "/out"), pattern(100, 6));
}

TEST(toolinfo, helpandversionalone)
{
    std::string out;
    for (std::string tool : {std::string(SECTDEFS_BIN), std::string(TABLEPATCH_BIN),
                             std::string(IMGPLACE_BIN)}) {
        std::string name = tool.substr(tool.rfind('/') + 1);
        EXPECT_EQ(run(tool + " --help", &out), 0);
        EXPECT_EQ(out.rfind("Usage: " + name + " ", 0), 0u) << out;
        EXPECT_EQ(run(tool + " --version", &out), 0);
        EXPECT_EQ(out, name + " (dcptools) " + DCP_VERSION + "\n");
        // Called by another path, it still names itself.
        EXPECT_EQ(run("cd " + quote(tool.substr(0, tool.rfind('/'))) + " && ./" + name +
                          " --version",
                      &out),
                  0);
        EXPECT_EQ(out, name + " (dcptools) " + DCP_VERSION + "\n");
        // Only as the only argument: otherwise the usual count check holds.
        EXPECT_EQ(run(tool + " --help x y z", &out), 1) << name;
        EXPECT_EQ(out.find("Usage"), std::string::npos);
    }
    EXPECT_EQ(run(std::string(IMGPLACE_BIN) + " --help x", &out), 1);
    EXPECT_EQ(out, "Expects three arguments\n");
}
