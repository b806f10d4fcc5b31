// Operations a careless or hostile user tries: paths through "." and "..",
// long names left by other systems, devices and pipes where images, lists
// and outputs go, names that would drive a terminal. Each row: the command,
// its status, what it says, and the image afterwards (byte for byte as it
// was, or a volume fsck.fat finds sound).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

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

// A device, FIFO or directory where an image goes is refused before
// anything is read or copied; a device where an output goes is written
// straight into, never replaced by a regular file.
TEST(hostile, devicesareneverreplaced)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "device nodes need root: mknod is not allowed here";
    }
    std::string dir = tempdir(), dcp = dirimage(dir), q = quote(dcp), z = dir + "/zero",
                nul = dir + "/null", fifo = dir + "/fifo", f = quote(dir + "/f");
    ASSERT_EQ(sh("mknod " + quote(z) + " c 1 5 && mknod " + quote(nul) + " c 1 3 && mkfifo " +
                 quote(fifo) + " && mkdir " + quote(dir + "/sub")),
              0);
    std::string zq = quote(z), ff = quote(fifo), dq = quote(dir + "/sub");
    struct {
        std::string program, args, err;
    } refused[] = {
        {SECTPUT_BIN, zq + " A.TXT " + f, z + " is a character device, not an image\n"},
        {SECTPUT_BIN, "-n " + ff + " A.TXT " + f, fifo + " is a FIFO, not an image\n"},
        {SECTRM_BIN, zq + " NOPE", z + " is a character device, not an image\n"},
        {SECTMV_BIN, ff + " A B", fifo + " is a FIFO, not an image\n"},
        {SECTATTR_BIN, "+h " + dq + " A", dir + "/sub is a directory, not an image\n"},
        {SECTMAP_BIN, zq, z + " is a character device, not an image\n"},
        {SECTGET_BIN, ff + " A -", fifo + " is a FIFO, not an image\n"},
        {DCPIMAGE_BIN, "info " + zq, z + " is a character device, not an image\n"},
        {DCPIMAGE_BIN, "label " + ff + " X", fifo + " is a FIFO, not an image\n"},
        {DCPIMAGE_BIN, "convert " + zq + " " + quote(dir + "/o.d88"),
         z + " is a character device, not an image\n"},
        {SECTGET_BIN, "-f " + q + " 'DIR\\B.BIN' " + dq, dir + "/sub is a directory, where a file goes\n"},
        {DCPIMAGE_BIN, "create -f 2hd " + dq, dir + "/sub is a directory, where a file goes\n"},
    };
    for (const auto &c : refused) {
        toolrun r = runtool("timeout 20 " + c.program + " " + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
    // Outputs: /dev/null takes them and stays a device.
    const std::string outputs[] = {
        SECTGET_BIN + std::string(" -f ") + q + " 'DIR\\B.BIN' " + quote(nul),
        SECTMAP_BIN + std::string(" -f --svg ") + quote(nul) + " " + q,
        DCPIMAGE_BIN + std::string(" convert -f -O d88 ") + q + " " + quote(nul),
        DCPIMAGE_BIN + std::string(" create -f -O raw 2hd ") + quote(nul),
    };
    for (const auto &c : outputs) {
        toolrun r = runtool(c);
        EXPECT_EQ(r.status, 0) << c << "\n" << r.err;
        struct stat st;
        ASSERT_EQ(stat(nul.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << c;
    }
    // A FIFO as an output is written into, once a reader is there.
    std::string got;
    ASSERT_EQ(run("(cat " + ff + " &) ; " + SECTGET_BIN + " -f " + q + " 'DIR\\B.BIN' " + ff +
                      " && sleep 0.2",
                  &got),
              0);
    // A device or FIFO where sectget -a puts a file is never replaced, -f or not.
    ASSERT_EQ(sh("mkdir -p " + quote(dir + "/out/DIR") + " && mkfifo " + quote(dir + "/out/DIR/B.BIN")), 0);
    toolrun r = tool(SECTGET_BIN, "-f -a " + quote(dir + "/out") + " " + q);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, dir + "/out/DIR/B.BIN is a device or FIFO, where a file goes; nothing is "
                           "written over one\n");
}

// A list from a pipe or standard input is read once and whole, by every
// program that takes -l; every program refuses the same lines.
TEST(hostile, listsarereadonceandthesameway)
{
    std::string dir = tempdir(), dcp = dirimage(dir), q = quote(dcp), f = dir + "/f";
    bytes before = readfile(dcp);
    toolrun put = runtool("printf 'A.TXT %s\\nB.TXT %s\\n' " + quote(f) + " " + quote(f) + " | " +
                          SECTPUT_BIN + " -l /dev/stdin " + q);
    EXPECT_EQ(put.status, 0) << put.err;
    EXPECT_NE(put.out.find("A.TXT\n"), std::string::npos);
    EXPECT_NE(put.out.find("B.TXT\n"), std::string::npos);
    toolrun get = runtool("printf 'A.TXT %s\\n' " + quote(dir + "/got") + " | " + SECTGET_BIN +
                          " -l - " + q);
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(texts(readfile(dir + "/got")), "data\n");
    toolrun rm = runtool("printf 'A.TXT\\nB.TXT\\n' | " + std::string(SECTRM_BIN) + " -l - " + q);
    EXPECT_EQ(rm.status, 0) << rm.err;
    EXPECT_NE(rm.out.find(" A.TXT\n"), std::string::npos) << rm.out;
    EXPECT_NE(rm.out.find(" B.TXT\n"), std::string::npos) << rm.out;
    EXPECT_EQ(std::count(rm.out.begin(), rm.out.end(), '\n'), 2) << rm.out;
    before = readfile(dcp);
    // The same refusals everywhere, the image as it was.
    struct {
        std::string text, err;
    } lines[] = {
        {std::string("DIR\\B.BIN\0junk\n", 15), "line 1: the line holds a NUL byte\n"},
        {std::string(17000, 'X') + "\n", "line 1: the line is longer than the list reader's buffer\n"},
        {"\"DIR\\B.BIN\n", "line 1: a quoted item is not closed"},
        {"\"DIR%5CB.BIN\"x\n", "line 1: a quoted item is not closed"},
        {"\"A%0.BIN\" \"x\"\n", "line 1: a quoted item is not closed"},
        {"\"A%00.BIN\" \"x\"\n", "line 1: a quoted item is not closed"},
    };
    for (const auto &l : lines) {
        writetext(dir + "/l", l.text);
        for (std::string bin : {SECTPUT_BIN, SECTGET_BIN, SECTRM_BIN}) {
            toolrun r = tool(bin, "-l " + quote(dir + "/l") + " " + q);
            EXPECT_EQ(r.status, 1) << bin << l.err;
            EXPECT_EQ(r.err.substr(0, dir.size() + 3 + l.err.size()), dir + "/l " + l.err)
                << bin << "\n" << r.err;
            EXPECT_TRUE(readfile(dcp) == before) << bin << l.err;
        }
    }
    for (std::string bin : {SECTPUT_BIN, SECTGET_BIN, SECTRM_BIN}) {
        toolrun r = tool(bin, "-l " + quote(dir) + " " + q);
        EXPECT_EQ(r.err, dir + " is a directory, not a list\n") << bin;
    }
}

// Names that would drive a terminal or split a line are quoted wherever
// they are printed, and what sectget -a prints puts the same tree back
// wherever the names can be written at all.
TEST(hostile, namesarequotedandroundtrip)
{
    std::string dir = tempdir(), dcp = dir + "/h.dcp", q = quote(dcp), f = dir + "/f";
    writetext(f, "data\n");
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + q).status, 0);
    for (std::string p : {"MY FILE.TXT", "EVIL.TXT", "DOTS.TXT", "D\\IN.TXT", "Q.TXT"})
        ASSERT_EQ(tool(SECTPUT_BIN, q + " " + quote(p) + " " + quote(f)).status, 0) << p;
    bytes b = readfile(dcp);
    // Hand-laid: an escape sequence and a line feed; "..", in the root; a quote.
    for (size_t at = 162 + 5 * 1024; at < 162 + 6 * 1024; at += 32) {
        std::string n((const char *)&b[at], 11);
        const char *to = n == "EVIL    TXT"   ? "\x1b[31mX\nYTXT"
                         : n == "DOTS    TXT" ? "..         "
                         : n == "Q       TXT" ? "Q\"      TXT"
                                              : nullptr;
        if (to)
            memcpy(&b[at], to, 11);
    }
    writefile(dcp, b);
    const std::string evil = "\"%1B[31mX%0AY.TXT\"";
    toolrun map = tool(SECTMAP_BIN, q), longmap = tool(SECTMAP_BIN, "-l " + q),
            pic = tool(SECTMAP_BIN, "--map " + q),
            got = tool(SECTGET_BIN, "-a " + quote(dir + "/out") + " " + q),
            rm = tool(SECTRM_BIN, "-n -r " + q + " D");
    for (const toolrun *r : {&map, &longmap, &pic, &got}) {
        EXPECT_EQ(r->out.find('\x1b'), std::string::npos) << r->out;
        EXPECT_EQ(r->err.find('\x1b'), std::string::npos) << r->err;
    }
    EXPECT_NE(map.out.find(" " + evil + "\n"), std::string::npos) << map.out;
    EXPECT_NE(map.out.find(" \"Q%22.TXT\"\n"), std::string::npos) << map.out;
    EXPECT_NE(longmap.out.find(" " + evil + "\n"), std::string::npos);
    EXPECT_NE(pic.out.find(evil), std::string::npos) << pic.out;
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_NE(got.out.find(evil + " \"" + dir + "/out/%251B[31mX%250AY.TXT\"\n"),
              std::string::npos) << got.out;
    EXPECT_NE(got.out.find("\"MY FILE.TXT\" \"" + dir + "/out/MY FILE.TXT\"\n"), std::string::npos);
    // The root's ".." is got, escaped; it is no name to put back.
    EXPECT_NE(got.out.find(".. " + dir + "/out/%2E%2E\n"), std::string::npos) << got.out;
    EXPECT_EQ(texts(readfile(dir + "/out/%2E%2E")), "data\n");
    EXPECT_EQ(rm.status, 0);
    EXPECT_NE(rm.out.find(" D\\IN.TXT\n"), std::string::npos) << rm.out;
    // Back through sectput -l, the names that FAT can hold.
    std::string list, keep;
    std::istringstream in(got.out);
    while (std::getline(in, list))
        if (list.find("%1B") == std::string::npos && list.find("%22") == std::string::npos &&
            list.substr(0, 3) != ".. ")
            keep += list + "\n";
    writetext(dir + "/back.lst", keep);
    std::string fresh = dir + "/new.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(fresh)).status, 0);
    toolrun back = tool(SECTPUT_BIN, "-l " + quote(dir + "/back.lst") + " " + quote(fresh));
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_NE(back.out.find(" MY FILE.TXT\n"), std::string::npos) << back.out;
    std::string dirout;
    run("MTOOLS_SKIP_CHECK=1 mdir -i " + quote(fresh + "@@162") + " ::", &dirout);
    EXPECT_NE(dirout.find("MY FILE  TXT         5"), std::string::npos) << dirout;
    EXPECT_EQ(sh("tail -c +163 " + quote(fresh) + " >" + quote(dir + "/v") + " && fsck.fat -n " +
                 quote(dir + "/v") + " | grep -v '^fsck.fat\\|clusters$'"),
              1); // nothing but its banner and its summary
    // A name that cannot be written is named quoted, never raw.
    toolrun raw = tool(SECTPUT_BIN, q + " " + quote("A\x1b[2J.TXT") + " " + quote(f));
    EXPECT_EQ(raw.status, 1);
    EXPECT_EQ(raw.err, "\"A%1B[2J.TXT\": \"A%1B[2J.TXT\" is not an 8.3 name\n");
}

// A volume written by mtools holds long names: every change that removes
// or renames an entry takes its long-name slots, leaving nothing fsck.fat
// finds wrong, and a renamed entry shows the name it was given.
TEST(hostile, longnamesgowiththeirentries)
{
    std::string dir = tempdir(), img = dir + "/m.img", q = quote(img), f = dir + "/f",
                mt = "MTOOLS_SKIP_CHECK=1 ";
    writetext(f, "data\n");
    std::string make = mt + "mformat -C -f 1440 -i " + q + " :: && " + mt + "mmd -i " + q +
                       " '::Long Directory'";
    for (std::string name : {"long file name.txt", "another long name.bin", "hostname.txt",
                             "k.bin", "Long Directory/inner long name.txt"})
        make += " && " + mt + "mcopy -i " + q + " " + quote(f) + " " + quote("::" + name);
    ASSERT_EQ(sh(make), 0);
    toolrun l = tool(SECTMAP_BIN, "-l " + q);
    EXPECT_NE(l.out.find(" LONGFI~1.TXT  \"long file name.txt\"\n"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find(" LONGDI~1\\  \"Long Directory\"\n"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find(" HOSTNAME.TXT\n"), std::string::npos) << l.out;
    struct {
        std::string program, args, shown, gone; // what mdir shows afterwards, and not
    } cases[] = {
        {SECTRM_BIN, q + " 'LONGFI~1.TXT'", "", "long file"},
        {SECTMV_BIN, q + " 'ANOTHE~1.BIN' X.BIN", "X        BIN         5", "another"},
        {SECTMV_BIN, q + " HOSTNAME.TXT NEWNAME.BIN", "NEWNAME  BIN         5", "newname"},
        {SECTMV_BIN, q + " 'LONGDI~1' LD", "LD           <DIR>", "Long Directory"},
        {SECTMV_BIN, "-f " + q + " 'LD\\INNERL~1.TXT' K.BIN", "K        BIN         5", "k        bin"},
        {SECTRM_BIN, "-r " + q + " LD", "", "LD "},
    };
    for (const auto &c : cases) {
        toolrun r = tool(c.program, c.args);
        EXPECT_EQ(r.status, 0) << c.args << r.err;
        std::string fsck, mdir;
        run("fsck.fat -n " + q + " 2>&1", &fsck);
        EXPECT_EQ(fsck.substr(fsck.find('\n') + 1).find(img + ": "), 0u) << c.args << fsck;
        run(mt + "mdir -i " + q + " ::", &mdir);
        EXPECT_NE(mdir.find(c.shown), std::string::npos) << c.args << mdir;
        EXPECT_EQ(mdir.find(c.gone), std::string::npos) << c.args << mdir;
    }
    std::string mdir;
    run(mt + "mdir -i " + q + " ::", &mdir);
    EXPECT_EQ(mdir.find("long"), std::string::npos) << mdir;
    EXPECT_EQ(mdir.find("hostname"), std::string::npos) << mdir;
    EXPECT_NE(mdir.find("K        BIN"), std::string::npos) << mdir;
}

// The round trip keeps the whole tree: an empty directory has its line,
// sectput makes a directory named alone, and every directory keeps its
// date on the host and in the image.
TEST(hostile, emptydirectoriesanddatesroundtrip)
{
    std::string dir = tempdir(), dcp = dir + "/e.dcp", q = quote(dcp), f = dir + "/f",
                out = dir + "/out";
    writetext(f, "data\n");
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + q).status, 0);
    // 2001-09-09 01:46:40 UTC for the directories, the file later.
    std::string old = "SOURCE_DATE_EPOCH=1000000000 ";
    toolrun made = runtool(old + SECTPUT_BIN + " " + q + " 'EMPTY\\'");
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, "   11     1        - 11          EMPTY\\\n");
    ASSERT_EQ(runtool(old + SECTPUT_BIN + " " + q + " 'OLD\\SUB\\'").status, 0);
    ASSERT_EQ(tool(SECTPUT_BIN, q + " 'OLD\\F.TXT' " + quote(f)).status, 0);
    toolrun got = tool(SECTGET_BIN, "-a " + quote(out) + " " + q);
    ASSERT_EQ(got.status, 0) << got.err;
    // A directory's line after those below it.
    EXPECT_EQ(got.out, "OLD\\F.TXT " + out + "/OLD/F.TXT\nEMPTY\\ " + out + "/EMPTY\nOLD\\SUB\\ " +
                           out + "/OLD/SUB\nOLD\\ " + out + "/OLD\n");
    // sectget -l of that list, into another folder, makes the same folders.
    std::string list = got.out, other = dir + "/other";
    for (size_t at; (at = list.find(out + "/")) != std::string::npos;)
        list.replace(at, out.size(), other);
    writetext(dir + "/l2", list);
    ASSERT_EQ(sh("mkdir -p " + quote(other + "/OLD")), 0);
    toolrun again = tool(SECTGET_BIN, "-l " + quote(dir + "/l2") + " " + q);
    EXPECT_EQ(again.status, 0) << again.err;
    for (std::string top : {out, other})
        for (std::string d : {"/EMPTY", "/OLD", "/OLD/SUB"}) {
            struct stat st;
            ASSERT_EQ(stat((top + d).c_str(), &st), 0) << top << d;
            EXPECT_TRUE(S_ISDIR(st.st_mode)) << d;
            struct tm *tm = localtime(&st.st_mtime);
            EXPECT_EQ(tm->tm_year + 1900, 2001) << top << d; // the entry's time, read as local
        }
    writetext(dir + "/l3", "OLD\\ " + f + "\n");
    EXPECT_EQ(tool(SECTGET_BIN, "-l " + quote(dir + "/l3") + " " + q).err,
              f + " is not a directory, where one goes\n");
    writetext(dir + "/l", got.out);
    std::string fresh = dir + "/new.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(fresh)).status, 0);
    toolrun back = runtool(std::string(SECTPUT_BIN) + " -l " + quote(dir + "/l") + " " + quote(fresh));
    EXPECT_EQ(back.status, 0) << back.err;
    std::string a, b;
    run(std::string(SECTMAP_BIN) + " -l " + q + " | cut -c 31- | sort", &a);
    run(std::string(SECTMAP_BIN) + " -l " + quote(fresh) + " | cut -c 31- | sort", &b);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.find("D---- 2001-09-09"), std::string::npos) << a;
    // A directory's PATH with a host file that is not a directory, and a
    // directory where a file stands.
    toolrun notdir = tool(SECTPUT_BIN, q + " 'X\\' " + quote(f));
    EXPECT_EQ(notdir.err, f + " is not a directory\n");
    toolrun through = tool(SECTPUT_BIN, q + " 'OLD\\F.TXT\\'");
    EXPECT_EQ(through.status, 1);
    EXPECT_EQ(through.err, "OLD\\F.TXT\\: not a directory: OLD\\F.TXT\n");
}

// Each mistake on a command line is named in one line, before the usage
// text where the command line is wrong; the image stays as it was.
TEST(hostile, mistakesarenamed)
{
    std::string dir = tempdir(), dcp = dirimage(dir), q = quote(dcp), f = quote(dir + "/f");
    ASSERT_EQ(tool(SECTPUT_BIN, q + " A.BIN " + f).status, 0);
    ASSERT_EQ(tool(SECTPUT_BIN, q + " 'DIR\\A.BIN' " + f).status, 0);
    const std::string exists = " exists; -f replaces a file, and a directory is never replaced\n",
                      already = ": removed already, by the same PATH or a directory above it "
                                "given before\n";
    struct {
        std::string program, args, err; // err: the first line
        bool usage;                       // the usage text follows
    } cases[] = {
        {SECTATTR_BIN, "+x " + q + " A.BIN", "+x is not an attribute change: +r, -r, +h, -h, +s, "
                                             "-s, +a or -a\n", true},
        {SECTATTR_BIN, "+r -r " + q + " A.BIN", "An attribute cannot be set and cleared at once\n",
         true},
        {SECTMV_BIN, q + " A.BIN 'DIR\\'", "DIR\\A.BIN" + exists, false},
        {SECTMV_BIN, q + " A.BIN DIR", "DIR\\A.BIN" + exists, false},
        {SECTMV_BIN, q + " 'DIR\\A.BIN' ''", "A.BIN" + exists, false},
        {SECTMV_BIN, q + " 'DIR\\A.BIN' '\\'", "A.BIN" + exists, false},
        {SECTRM_BIN, q + " A.BIN A.BIN", "A.BIN" + already, false},
        {SECTRM_BIN, "-r " + q + " DIR 'DIR\\B.BIN'", "DIR\\B.BIN" + already, false},
        {SECTRM_BIN, q + " NONE", "NONE: not found in the image\n", false},
        {SECTGET_BIN, q + " A.BIN " + quote(dir + "/"), dir + "/ is a directory, where a file goes\n",
         false},
        {SECTMAP_BIN, "--map -c " + q, "-c checks the listing: it does not go with -s, --map or "
                                       "--svg\n", true},
        {SECTMAP_BIN, "-f " + q, "-f overwrites the file of --svg: it goes with --svg alone\n", true},
        {SECTMAP_BIN, "--color " + q, "--color colours the picture: it goes with --map or --svg\n",
         true},
        {SECTMAP_BIN, "-s 3 " + q + " A.BIN", "-s tells what one sector holds: it takes no PATH\n",
         true},
        {DCPIMAGE_BIN, "label -L X " + q, "dcpimage label takes no -L (--label)\n", true},
        {DCPIMAGE_BIN, "info -d 2 " + q, "dcpimage info takes no -d (--disk)\n", true},
        {DCPIMAGE_BIN, "create --fill 1 2hd x.dcp", "dcpimage create takes no --fill\n", true},
        {SECTPUT_BIN, "-z " + q, std::string(SECTPUT_BIN) + ": invalid option -- 'z'\n", true},
        {SECTRM_BIN, "--bogus " + q + " A",
         std::string(SECTRM_BIN) + ": unrecognized option '--bogus'\n", true},
    };
    bytes before = readfile(dcp);
    for (const auto &c : cases) {
        toolrun r = tool(c.program, c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args;
        EXPECT_EQ(r.err.substr(c.err.size(), 7) == "Usage: ", c.usage) << c.args << r.err;
        EXPECT_TRUE(readfile(dcp) == before) << c.args;
    }
}

// Labels FAT cannot hold are refused the same way by create and label;
// "-" is standard output for the picture as for sectget.
TEST(hostile, labelsandstandardoutput)
{
    std::string dir = tempdir(), dcp = dirimage(dir), q = quote(dcp), x = quote(dir + "/x.dcp");
    struct {
        std::string args, err;
    } labels[] = {
        {"create -L ' GAME' 2hd " + x, "Bad label  GAME: FAT cannot hold a label that starts with a space\n"},
        {"create -u -L '\xe8\x98\x82' 2hd " + x,
         "Bad label \xe8\x98\x82: FAT cannot hold a label that starts with byte 0xE5\n"},
        {"label " + q + " ' X'", "Bad label  X: FAT cannot hold a label that starts with a space\n"},
        {"label " + q + " $'A\\x81'", "Bad label A\x81: 1 to 11 bytes"},
    };
    bytes before = readfile(dcp);
    for (const auto &l : labels) {
        toolrun r = runtool("bash -c " + quote(std::string(DCPIMAGE_BIN) + " " + l.args));
        EXPECT_EQ(r.status, 1) << l.args;
        EXPECT_EQ(r.err.substr(0, l.err.size()), l.err) << l.args;
        EXPECT_TRUE(readfile(dcp) == before);
    }
    struct stat st;
    EXPECT_NE(stat((dir + "/x.dcp").c_str(), &st), 0);
    toolrun svg = runtool("cd " + quote(dir) + " && " + SECTMAP_BIN + " --svg - " + q);
    EXPECT_EQ(svg.status, 0) << svg.err;
    EXPECT_EQ(svg.out.substr(0, 5), "<?xml");
    EXPECT_NE(stat((dir + "/-").c_str(), &st), 0);
}

// The new write paths fail on cue: a list copied from a pipe, and a block
// device written in place (a put goes into the device, which stays one),
// each said with status 1.
TEST(hostile, listcopiesandinplacewritesfail)
{
    std::string dir = tempdir(), dcp = dirimage(dir), q = quote(dcp), f = dir + "/f";
    writetext(dir + "/l", "A.TXT " + f + "\n");
    bytes before = readfile(dcp);
    struct {
        std::string program, fault, err;
    } cases[] = {
        {SECTPUT_FAULT_BIN, "DCPFAULT_WRITE=1:tmpfile", "Could not read list file -\n"},
        {SECTPUT_FAULT_BIN, "DCPFAULT_SEEK=1:tmpfile", "Could not read list file -\n"},
        {SECTGET_FAULT_BIN, "DCPFAULT_WRITE=1:tmpfile", "Could not read list file -\n"},
        {SECTRM_FAULT_BIN, "DCPFAULT_SEEK=1:tmpfile", "Could not read list file -\n"},
    };
    for (const auto &c : cases) {
        toolrun r = runtool(c.fault + " " + c.program + " -l - " + q + " < " + quote(dir + "/l"));
        EXPECT_EQ(r.status, 1) << c.program << c.fault;
        EXPECT_EQ(r.err, c.err) << c.program << c.fault;
        EXPECT_TRUE(readfile(dcp) == before) << c.program << c.fault;
    }
    std::string raw = dir + "/r.img", loop;
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create -O raw 2hd " + quote(raw)).status, 0);
    if (geteuid() != 0 || run("losetup -f --show " + quote(raw) + " 2>/dev/null", &loop) != 0) {
        GTEST_SKIP() << "no loop device here (losetup needs root and the loop driver)";
    }
    loop.erase(loop.find_last_not_of("\n") + 1);
    toolrun r = runtool("DCPFAULT_WRITE=2:" + loop + " " + SECTPUT_FAULT_BIN + " " + quote(loop) +
                        " A.TXT " + quote(f));
    toolrun put = tool(SECTPUT_BIN, quote(loop) + " A.TXT " + quote(f));
    toolrun rm = runtool("DCPFAULT_WRITE=1:" + loop + " " + SECTRM_FAULT_BIN + " " + quote(loop) +
                         " A.TXT");
    struct stat st;
    EXPECT_EQ(stat(loop.c_str(), &st), 0);
    EXPECT_TRUE(S_ISBLK(st.st_mode));
    sh("sync; losetup -d " + quote(loop));
    // A block device is written under a journal: a failed write leaves it as it was.
    const std::string left = "; it is left as it was (or its journal puts it back when it is "
                             "next opened)\n";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Could not write " + loop + left);
    EXPECT_EQ(put.status, 0) << put.err;
    std::string out;
    run("MTOOLS_SKIP_CHECK=1 mtype -i " + quote(raw) + " ::A.TXT", &out);
    EXPECT_EQ(out, "data\n"); // the put went into the device, the failed removal nowhere
    EXPECT_EQ(rm.status, 1);
    EXPECT_EQ(rm.err, "Could not write " + loop + left);
}

// --help and --version that cannot be written are failures, as every other
// output is.
TEST(hostile, helpthatcannotbewrittenfails)
{
    for (std::string bin : {SECTDEFS_BIN, TABLEPATCH_BIN, IMGPLACE_BIN, SECTMAP_BIN, SECTPUT_BIN,
                            SECTGET_BIN, SECTRM_BIN, SECTMV_BIN, SECTATTR_BIN, DCPIMAGE_BIN})
        for (std::string opt : {"--help", "--version"}) {
            toolrun r = runtool(bin + " " + opt + " >/dev/full");
            EXPECT_EQ(r.status, 1) << bin << opt;
            EXPECT_EQ(r.err, "Could not write standard output\n") << bin << opt;
        }
}
