// Operations a careless or hostile user tries: paths through "." and "..",
// long names left by other systems, devices and pipes where images, lists
// and outputs go, names that would drive a terminal. Each row: the command,
// its status, what it says, and the image afterwards (byte for byte as it
// was, or a volume fsck.fat finds sound).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "testutil.h"

namespace {

toolrun tool(const std::string &bin, const std::string &args)
{
    return runtool("SOURCE_DATE_EPOCH=1700000000 " + bin + " " + args);
}

// A blank 2hd image holding DIR\SUB\C.BIN and DIR\B.BIN.
std::string dirimage(const std::string &dir)
{
    std::string dcp = dir + "/a.dcp", f = dir + "/f";
    writetext(f, "data\n");
    EXPECT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(dcp)).status, 0);
    EXPECT_EQ(tool(SECTPUT_BIN, quote(dcp) + " 'DIR\\SUB\\C.BIN' " + quote(f)).status, 0);
    EXPECT_EQ(tool(SECTPUT_BIN, quote(dcp) + " 'DIR\\B.BIN' " + quote(f)).status, 0);
    return dcp;
}

} // namespace

// A component made of dots names a "." or ".." slot: no program acts on
// one, and the image stays as it was.
TEST(hostile, dotcomponentsnamenoentry)
{
    std::string dir = tempdir(), dcp = dirimage(dir), q = quote(dcp);
    const std::string said = ": a component made of dots names no entry";
    struct {
        std::string program, args, path;
    } cases[] = {
        {SECTRM_BIN, "-r " + q + " 'DIR\\SUB\\...'", "DIR\\SUB\\..."},
        {SECTRM_BIN, "-r " + q + " 'DIR\\SUB\\..'", "DIR\\SUB\\.."},
        {SECTRM_BIN, "-r " + q + " 'DIR\\...'", "DIR\\..."},
        {SECTRM_BIN, q + " 'DIR\\.\\B.BIN'", "DIR\\.\\B.BIN"},
        {SECTMV_BIN, q + " 'DIR\\SUB\\..' X", "DIR\\SUB\\.."},
        {SECTMV_BIN, q + " 'DIR\\B.BIN' 'DIR\\SUB\\..\\X.BIN'", "DIR\\SUB\\..\\X.BIN"},
        {SECTATTR_BIN, "+h " + q + " 'DIR\\..'", "DIR\\.."},
        {SECTATTR_BIN, q + " 'DIR\\.'", "DIR\\."},
        {SECTGET_BIN, "-a " + quote(dir + "/out") + " " + q + " 'DIR\\SUB\\..'", "DIR\\SUB\\.."},
        {SECTGET_BIN, q + " 'DIR\\SUB\\..\\B.BIN' -", "DIR\\SUB\\..\\B.BIN"},
        {SECTMAP_BIN, q + " 'DIR\\..'", "DIR\\.."},
        {SECTMAP_BIN, "--map " + q + " 'DIR\\..'", "DIR\\.."},
        {SECTPUT_BIN, q + " 'DIR\\..\\E.BIN' " + quote(dir + "/f"), ""},
    };
    bytes before = readfile(dcp);
    for (const auto &c : cases) {
        toolrun r = tool(c.program, c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        if (!c.path.empty()) {
            EXPECT_NE(r.err.find(c.path + said), std::string::npos) << c.args << "\n" << r.err;
        }
        EXPECT_TRUE(readfile(dcp) == before) << c.args;
        struct stat st;
        EXPECT_NE(stat((dir + "/out").c_str(), &st), 0) << c.args;
    }
}
