// A writing program killed at any moment leaves the old file or the new
// one: each (sectput on a DCP image and on a D88; dcpimage create, wrap,
// convert, protect and label; sectrm, sectmv, sectattr; a put into a
// partition of each hard-disk container, wrap -p) is killed (strace)
// at its first, second, ... write, open, close, rename and unlink until a
// run goes through, and a plain rerun after each kill finishes the job. A
// get killed so leaves no host file half-written. The replaced file keeps its mode and
// its symbolic link; a file of the user's is never taken for a temporary.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "testutil.h"

namespace {

struct writer {
    const char *name;
    std::string program, args; // args: IMAGE stands for the file replaced
    const char *kind;          // the old file: a DCP image of this kind,
    bool d88;                  // converted to a D88 when set
};

std::string withimage(std::string args, const std::string &image)
{
    size_t at = args.find("IMAGE");
    return args.replace(at, 5, quote(image));
}

} // namespace

// The command that makes the hard disk at path (its name says the
// container): two partitions of 300 KB on an IDE disk; a THD (256-byte
// sectors) of a SASI disk's, cut after its first partition's system area so
// that a write past the file's end makes it grow.
static std::string harddisk(const std::string &path)
{
    std::string make = std::string(DCPIMAGE_BIN) + " create -f ";
    // Larger than 4 MiB, so changed in place under a journal, with a file
    // in its second partition.
    if (path.find(".big.") != std::string::npos)
        return make + "-P 300K,300K ide5 " + quote(path) + " && " + SECTPUT_BIN + " -p 2 " +
               quote(path) + " KERNEL.SYS " + quote(path.substr(0, path.rfind('/')) + "/b") +
               " >/dev/null";
    if (path.substr(path.size() - 4) != ".thd")
        return make + (path.back() == 'd' && path[path.size() - 2] == 'd' ? "-O vhd98 " : "") +
               "-P 300K,300K ide:2M " + quote(path);
    return make + "-P 1M,1M sasi20 " + quote(path) + " && truncate -s " +
           std::to_string(256 + 264 * 256 + 200 * 1024) + " " + quote(path);
}

// Kills each writer at every write, open, close, rename and unlink (or the
// calls given) until a run goes through: the file is old or new after every kill, and a rerun
// (where the job is not done yet) finishes it.
static void killeach(const std::string &dir, const std::vector<writer> &writers,
                     const std::vector<std::string> &calls = {"write", "openat", "close",
                                                              "rename", "unlink"})
{
    std::string epoch = "SOURCE_DATE_EPOCH=1700000000 ";
    const std::string readers[] = {std::string(SECTMAP_BIN) + " -p 2 ",
                                   std::string(DCPIMAGE_BIN) + " info ",
                                   std::string(SECTGET_BIN) + " -p 2 -a " + quote(dir + "/got") +
                                       " "};
#ifdef __SANITIZE_ADDRESS__
    // Under ptrace the sanitizers cost minutes here and find nothing the
    // plain runs of the same programs elsewhere would not: the kills are
    // the normal build's.
    GTEST_SKIP() << "the kills run in the normal build";
#endif
    for (const writer &w : writers) {
        std::string image = dir + "/disk.dcp";
        if (std::string(w.kind).rfind("disk.", 0) == 0) {
            image = dir + "/" + w.kind;
            ASSERT_EQ(sh(harddisk(image)), 0) << w.name;
        } else {
            makerealimage(image, w.kind);
            sh("MTOOLS_SKIP_CHECK=1 mcopy -i " + quote(image + "@@162") + " " +
               quote(dir + "/b") + " ::KERNEL.SYS");
        }
        if (w.d88) {
            ASSERT_EQ(sh(std::string(DCPIMAGE_BIN) + " convert -O d88 " + quote(image) + " " +
                         quote(image + ".d88") + " && mv " + quote(image + ".d88") + " " +
                         quote(image)),
                      0);
        }
        bytes old = readfile(image);
        bool journaled = std::string(w.kind).find(".big.") != std::string::npos;
        std::string cmd = w.program + " " + withimage(w.args, image) + " >/dev/null 2>&1";
        std::string run = epoch + cmd;
        ASSERT_EQ(sh(run), 0) << w.name;
        bytes fresh = readfile(image);
        ASSERT_FALSE(fresh == old) << w.name;
        for (const std::string &call : calls) {
            const int killed = 128 + 9; // as the shell reports SIGKILL
            int n, status = killed;
            // Any other status ends the loop (LeakSanitizer, in the
            // sanitizer build, cannot run under ptrace: it is left out).
            for (n = 1; n < 200 && status == killed; n++) {
                writefile(image, old);
                status = sh(epoch + "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=" +
                            call + " -e inject=" + call + ":signal=KILL:when=" +
                            std::to_string(n) + " " + cmd);
                // A change made in place under a journal is old or new once
                // any program has opened the image (here, in turn, three that
                // only read).
                if (journaled)
                    sh(readers[n % 3] + quote(image) + " >/dev/null 2>&1");
                bytes now = readfile(image);
                EXPECT_TRUE(now == old || now == fresh) << w.name << " killed at " << call << " "
                                                        << n;
                // A rerun finishes the job, whatever the kill left beside it
                // (a job done already is not done again: a removal would fail).
                if (now == old) {
                    EXPECT_EQ(sh(run), 0) << w.name << " " << call << " " << n;
                }
                EXPECT_TRUE(readfile(image) == fresh) << w.name << " " << call << " " << n;
            }
            EXPECT_EQ(status, 0) << w.name << " never got through " << call;
        }
        sh("rm -f " + quote(image) + ".* " + quote(image) + "-journal.*");
    }
}

// The inputs the writers take: a list, two host files, a raw volume.
static std::string killinputs()
{
    std::string dir = tempdir();
    bytes data(30000);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (unsigned char)(i * 13 + i / 977);
    writefile(dir + "/a", data);
    writefile(dir + "/b", bytes(data.begin(), data.begin() + 5000));
    // The old files hold a KERNEL.SYS that the list moves, and other bytes.
    writetext(dir + "/list", "KERNEL.SYS " + dir + "/a\nBOOT\\LOADER.BIN " + dir + "/b\nX.BIN " +
                                 dir + "/b\n");
    EXPECT_EQ(sh(std::string(DCPIMAGE_BIN) + " create 2hd " + quote(dir + "/vol.dcp") + " && " +
                 DCPIMAGE_BIN + " unwrap " + quote(dir + "/vol.dcp") + " " + quote(dir + "/vol")),
              0);
    return dir;
}

TEST(interrupt, akilledputorconvertleavestheoldortheneworfile)
{
    std::string dir = killinputs(), vol = dir + "/vol";
    killeach(dir, {
        {"sectput -l", SECTPUT_BIN, "-l " + quote(dir + "/list") + " IMAGE", "1.2M", false},
        {"sectput -l -", SECTPUT_BIN, "-l - IMAGE < " + quote(dir + "/list"), "1.2M", false},
        {"sectput one", SECTPUT_BIN, "IMAGE KERNEL.SYS " + quote(dir + "/b"), "1.2M", false},
        {"sectput into a D88", SECTPUT_BIN, "IMAGE KERNEL.SYS " + quote(dir + "/a"), "1.2M", true},
        {"dcpimage create -f", DCPIMAGE_BIN, "create -f -L NEW 2hd IMAGE", "1.44M", false},
        {"dcpimage wrap -f", DCPIMAGE_BIN, "wrap -f " + quote(vol) + " IMAGE", "1.44M", false},
        {"dcpimage convert -f", DCPIMAGE_BIN, "convert -f -O dcp " + quote(vol) + " IMAGE",
         "1.44M", false},
    });
}

TEST(interrupt, akilledchangeleavestheoldortheneworfile)
{
    std::string dir = killinputs();
    killeach(dir, {
        {"dcpimage protect", DCPIMAGE_BIN, "protect IMAGE", "1.2M", true},
        {"sectrm", SECTRM_BIN, "IMAGE KERNEL.SYS", "1.2M", false},
        {"sectmv", SECTMV_BIN, "IMAGE KERNEL.SYS K.SYS", "1.2M", true},
        {"sectattr", SECTATTR_BIN, "+h IMAGE KERNEL.SYS", "1.2M", false},
        {"dcpimage label", DCPIMAGE_BIN, "label IMAGE NEW", "1.2M", false},
    });
}

TEST(interrupt, akilledwriteintoapartitionleavestheoldorthenewdisk)
{
    std::string dir = killinputs(), vol = quote(dir + "/part");
    // A partition's volume for wrap -p: the first one's, with a file put in.
    ASSERT_EQ(sh(harddisk(dir + "/w.hdi") + " && " + DCPIMAGE_BIN + " convert -p 1 " +
                 quote(dir + "/w.hdi") + " " + vol + " && MTOOLS_SKIP_CHECK=1 mcopy -i " + vol +
                 " " + quote(dir + "/b") + " ::B.BIN"), 0);
    std::string list = "-l " + quote(dir + "/list") + " -p 2 IMAGE";
    killeach(dir, {
        {"sectput into an HDI", SECTPUT_BIN, list, "disk.hdi", false},
        {"sectput into an NHD", SECTPUT_BIN, list, "disk.nhd", false},
        {"sectput into a THD", SECTPUT_BIN, "-p 1 IMAGE X.BIN " + quote(dir + "/a"), "disk.thd",
         false},
        {"sectput into a Virtual98 disk", SECTPUT_BIN, list, "disk.hdd", false},
        {"sectput into a raw disk", SECTPUT_BIN, list, "disk.img", false},
        {"dcpimage wrap -p", DCPIMAGE_BIN, "wrap -p 1 " + vol + " IMAGE", "disk.hdi", false},
    }, {"write", "rename"}); // the opening and closing are every container's, killed above
}

TEST(interrupt, akilledchangeunderajournalrollsbackwhentheimageisnextopened)
{
    // A disk over 4 MiB is changed in place: killed at any write, sync (of a
    // file or of its directory), rename or removal, the next opening gives
    // the old disk or the new one.
    std::string dir = killinputs(), list = "-l " + quote(dir + "/list") + " -p 2 IMAGE";
    killeach(dir, {
        {"sectput into an HDI", SECTPUT_BIN, list, "disk.big.hdi", false},
        {"sectput into an NHD", SECTPUT_BIN, list, "disk.big.nhd", false},
        {"sectrm", SECTRM_BIN, "-p 2 IMAGE KERNEL.SYS", "disk.big.hdi", false},
        {"sectrm on an NHD", SECTRM_BIN, "-p 2 IMAGE KERNEL.SYS", "disk.big.nhd", false},
        {"sectmv", SECTMV_BIN, "-p 2 IMAGE KERNEL.SYS K.SYS", "disk.big.hdi", false},
        {"sectmv on an NHD", SECTMV_BIN, "-p 2 IMAGE KERNEL.SYS K.SYS", "disk.big.nhd", false},
        {"sectattr", SECTATTR_BIN, "+h -p 2 IMAGE KERNEL.SYS", "disk.big.hdi", false},
        {"sectattr on an NHD", SECTATTR_BIN, "+h -p 2 IMAGE KERNEL.SYS", "disk.big.nhd", false},
        {"dcpimage label", DCPIMAGE_BIN, "label -p 1 IMAGE NEW", "disk.big.nhd", false},
        {"dcpimage label on an HDI", DCPIMAGE_BIN, "label -p 1 IMAGE NEW", "disk.big.hdi", false},
    }, {"write", "fdatasync", "fsync", "rename", "unlink"});
    std::string left;
    run("ls " + quote(dir) + " | grep -c -- '-journal$'", &left);
    EXPECT_EQ(left, "0\n"); // a kill may leave a temporary one, never one named
}

TEST(interrupt, thereplacedfilekeepsitsmodeandlinkandnootherfileistouched)
{
    std::string dir = tempdir(), real = dir + "/real.dcp", link = dir + "/link.dcp";
    writefile(dir + "/a", bytes(3000, 0x41));
    makerealimage(real, "1.2M");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(sh("ln -s real.dcp " + quote(link)), 0);
    // The user's own files at the names a careless tool would take.
    writetext(real + ".tmp", "mine");
    writetext(link + ".tmp", "mine too");
    struct {
        std::string program, args;
    } runs[] = {{SECTPUT_BIN, quote(link) + " A.BIN " + quote(dir + "/a")},
                {DCPIMAGE_BIN, "create -f 2hd " + quote(link)}};
    for (const auto &r : runs) {
        bytes before = readfile(real);
        ASSERT_EQ(sh(r.program + " " + r.args + " >/dev/null"), 0) << r.args;
        struct stat st;
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << r.args;
        ASSERT_EQ(stat(real.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << r.args;
        EXPECT_FALSE(readfile(real) == before) << r.args;
        EXPECT_EQ(texts(readfile(real + ".tmp")), "mine");
        EXPECT_EQ(texts(readfile(link + ".tmp")), "mine too");
    }
    std::string left;
    run("ls " + quote(dir), &left);
    EXPECT_EQ(left, "a\nlink.dcp\nlink.dcp.tmp\nreal.dcp\nreal.dcp.tmp\n");
}

TEST(interrupt, akilledgetleavesnohostfilehalfwritten)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp", out = dir + "/out";
    bytes data(30000);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (unsigned char)(i * 13 + i / 977);
    writefile(dir + "/a", data);
    writetext(dir + "/list", "BIG.BIN " + dir + "/a\nSUB\\SMALL.BIN " + dir + "/list\n");
    makerealimage(dcp, "1.2M");
    ASSERT_EQ(sh(std::string(SECTPUT_BIN) + " -l " + quote(dir + "/list") + " " + quote(dcp) +
                 " >/dev/null"),
              0);
    const std::string cmd = std::string(SECTGET_BIN) + " -a " + quote(out) + " " + quote(dcp) +
                            " >/dev/null 2>&1";
    int status = 137;
    for (int n = 1; n < 100 && status == 137; n++) {
        sh("rm -rf " + quote(out));
        status = sh("ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=write -e "
                    "inject=write:signal=KILL:when=" + std::to_string(n) + " " + cmd);
        // Under its name, a file is whole or not there.
        bytes big = readfile(out + "/BIG.BIN"), small = readfile(out + "/SUB/SMALL.BIN");
        EXPECT_TRUE(big.empty() || big == data) << n;
        EXPECT_TRUE(small.empty() || small == readfile(dir + "/list")) << n;
    }
    EXPECT_EQ(status, 0);
}

// A block device is written in place: a kill at any write leaves it a
// block device, with no copy made beside it, and every byte either as it
// was or as the whole change makes it (a mix of sectors, which the manual
// names, never a byte of anything else).
TEST(interrupt, akilledchangetoablockdevicerollsbackfromitsjournalonthehost)
{
    // A block device is changed in place under a journal kept in the
    // host's state directory (none beside it in /dev would outlive the
    // power): killed at any write, sync, rename or removal, the next
    // opening gives the old device or the new one, and a rerun finishes.
    std::string dir = killinputs(), raw = dir + "/r.img", loop;
    ASSERT_EQ(sh(std::string(DCPIMAGE_BIN) + " create -O raw 2hd " + quote(raw)), 0);
    if (geteuid() != 0 || run("losetup -f --show " + quote(raw) + " 2>/dev/null", &loop) != 0) {
        GTEST_SKIP() << "no loop device here (losetup needs root and the loop driver)";
    }
    loop.erase(loop.find_last_not_of("\n") + 1);
    const std::string state = "XDG_STATE_HOME=" + quote(dir + "/state") +
                              " SOURCE_DATE_EPOCH=1700000000 ";
    const std::string cmd = std::string(SECTPUT_BIN) + " -l " + quote(dir + "/list") + " " +
                            quote(loop) + " >/dev/null 2>&1",
                      put = state + cmd;
    const std::string journal = dir + "/state/dcptools/dev_" + loop.substr(5) + "-journal";
    bytes old = readfile(loop);
    if (sh(put) != 0) {
        sh("losetup -d " + quote(loop));
        FAIL() << "the put into " << loop << " failed";
    }
    bytes fresh = readfile(loop);
    for (const std::string call : {"write", "fdatasync", "fsync", "rename", "unlink"}) {
        int status = 137, n;
        for (n = 1; n < 100 && status == 137; n++) {
            writefile(loop, old);
            status = sh(state + "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=" +
                        call + " -e inject=" + call + ":signal=KILL:when=" +
                        std::to_string(n) + " " + cmd);
            sh(state + SECTMAP_BIN + " " + quote(loop) + " >/dev/null 2>&1");
            bytes now = readfile(loop);
            EXPECT_TRUE(now == old || now == fresh) << "killed at " << call << " " << n;
            EXPECT_NE(sh("test -e " + quote(journal)), 0) << call << " " << n;
            if (now == old) {
                EXPECT_EQ(sh(put), 0) << call << " " << n;
            }
            EXPECT_TRUE(readfile(loop) == fresh) << call << " " << n;
            struct stat st;
            EXPECT_TRUE(stat(loop.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) << n;
        }
        EXPECT_EQ(status, 0) << call;
    }
    std::string copies;
    run("ls /dev | grep -c " + quote("^" + loop.substr(5) + "[.-]"), &copies);
    EXPECT_EQ(copies, "0\n"); // nothing was made beside the device
    sh("losetup -d " + quote(loop));
    sh("rm -f /dev/" + loop.substr(5) + ".*.tmp /dev/" + loop.substr(5) + "-journal*");
}
