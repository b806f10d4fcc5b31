// The file operations end to end: sectget against mtools and back through
// sectput; sectrm, sectmv, sectattr and dcpimage label against mdir,
// mattrib, mlabel and fsck.fat, every other file left where it was; damaged
// chains named and never freed; hostile names and planted links never let
// a get out of its folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <sys/stat.h>

#include "fakevolume.h"
#include "testutil.h"

namespace {

toolrun tool(const std::string &bin, const std::string &args)
{
    return runtool("SOURCE_DATE_EPOCH=1700000000 " + bin + " " + args);
}

std::string mtoolsout(const std::string &cmd, const std::string &dcp, const std::string &args)
{
    std::string out;
    run("MTOOLS_SKIP_CHECK=1 " + cmd + " -i " + quote(dcp + "@@162") + " " + args + " 2>&1", &out);
    return out;
}

bool fsckclean(const std::string &dcp)
{
    return sh("tail -c +163 " + quote(dcp) + " > " + quote(dcp + ".vol") + " && fsck.fat -n " +
              quote(dcp + ".vol") + " >/dev/null 2>&1") == 0;
}

// sectmap's listing as lines by path (the last field).
std::map<std::string, std::string> listing(const std::string &image, const std::string &opts = "")
{
    std::map<std::string, std::string> lines;
    std::istringstream in(tool(SECTMAP_BIN, opts + " " + quote(image)).out);
    std::string line;
    while (std::getline(in, line))
        lines[line.substr(line.rfind(' ') + 1)] = line;
    return lines;
}

// The pairs of a list that sectget -a printed.
std::vector<std::pair<std::string, std::string>> pairs(const std::string &text)
{
    std::vector<std::pair<std::string, std::string>> v;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        v.push_back({line.substr(0, line.find(' ')), line.substr(line.find(' ') + 1)});
    return v;
}

// A listing line without its sector fields (SECTOR and EXTENTS).
std::string unplaced(const std::string &line)
{
    std::istringstream in(line);
    std::string field, rest;
    for (int i = 0; in >> field; i++)
        if (i != 0 && i != 3)
            rest += field + " ";
    return rest;
}

std::string slashes(std::string p)
{
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

} // namespace

// sectget gets what mtools gets, lists it in first-sector order, and the
// list puts the same files (bytes, names, dates, attributes) into a blank
// image; every container gives the same tree.
TEST(fileops, getallmatchesmtoolsandputsbackthesamefiles)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp", out = dir + "/out";
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    toolrun got = tool(SECTGET_BIN, "-a " + quote(out) + " " + quote(dcp));
    ASSERT_EQ(got.status, 0) << got.err;
    auto list = pairs(got.out);
    auto before = listing(dcp, "-l");
    // Every directory's line comes after the files, each naming its folder.
    std::vector<std::pair<std::string, std::string>> dirs;
    while (!list.empty() && list.back().first.back() == '\\') {
        dirs.insert(dirs.begin(), list.back());
        list.pop_back();
    }
    ASSERT_EQ(dirs.size(), 5u);
    for (const auto &d : dirs)
        EXPECT_EQ(d.second + "/", out + "/" + slashes(d.first));
    ASSERT_EQ(list.size(), 46u); // the files of filltree, EMPTY.TXT last
    int last = 0;
    for (const auto &p : list) {
        EXPECT_EQ(p.second, out + "/" + slashes(p.first));
        EXPECT_EQ(texts(readfile(p.second)), mtoolsout("mtype", dcp, quote("::" + slashes(p.first))))
            << p.first;
        int sector = atoi(before[p.first].c_str());
        EXPECT_TRUE(sector >= last || p.first == "SYSTEM\\EMPTY.TXT") << p.first;
        last = sector;
    }
    EXPECT_EQ(list.back().first, "SYSTEM\\EMPTY.TXT");
    writetext(dir + "/put.lst", got.out);
    std::string fresh = dir + "/new.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(fresh)).status, 0);
    ASSERT_EQ(runtool(std::string(SECTPUT_BIN) + " -l " + quote(dir + "/put.lst") + " " +
                      quote(fresh)).status,
              0);
    auto after = listing(fresh, "-l");
    for (const auto &p : list) // sizes, attributes, dates and names; not the sectors
        EXPECT_EQ(unplaced(before[p.first]), unplaced(after[p.first])) << p.first;
    for (const auto &d : dirs) // the directories' dates too
        EXPECT_EQ(unplaced(before[d.first]), unplaced(after[d.first])) << d.first;
    // One file, to a file and to standard output, and a list of them.
    writetext(dir + "/two.lst", "KERNEL.SYS " + dir + "/k\nBOOT\\LOADER.BIN " + dir + "/l\n");
    EXPECT_EQ(tool(SECTGET_BIN, quote(dcp) + " KERNEL.SYS -").out,
              mtoolsout("mtype", dcp, "::KERNEL.SYS"));
    ASSERT_EQ(tool(SECTGET_BIN, "-l " + quote(dir + "/two.lst") + " " + quote(dcp)).status, 0);
    EXPECT_TRUE(readfile(dir + "/k") == readfile(out + "/KERNEL.SYS"));
    EXPECT_TRUE(readfile(dir + "/l") == readfile(out + "/BOOT/LOADER.BIN"));
    struct stat a, b;
    ASSERT_EQ(stat((dir + "/l").c_str(), &a), 0);
    ASSERT_EQ(stat((out + "/BOOT/LOADER.BIN").c_str(), &b), 0);
    EXPECT_EQ(a.st_mtime, b.st_mtime);
    // Only what the PATHs name, with the directories on their way.
    toolrun some = tool(SECTGET_BIN, "-a " + quote(dir + "/some") + " " + quote(dcp) +
                                         " 'SYSTEM\\DRIVERS' 'BOOT\\LOADER.BIN'");
    EXPECT_EQ(some.status, 0) << some.err;
    std::string tree;
    run("cd " + quote(dir + "/some") + " && find . | sort", &tree);
    EXPECT_EQ(tree, ".\n./BOOT\n./BOOT/LOADER.BIN\n./SYSTEM\n./SYSTEM/DRIVERS\n"
                    "./SYSTEM/DRIVERS/SOUND\n./SYSTEM/DRIVERS/SOUND/FM.DRV\n"
                    "./SYSTEM/DRIVERS/VIDEO.DRV\n");
    // The same tree and list from every container.
    for (const char *ext : {"d88", "nfd", "fdi", "hdm"}) {
        std::string image = dir + "/disk." + ext, other = dir + "/out." + ext;
        ASSERT_EQ(tool(DCPIMAGE_BIN, "convert " + quote(dcp) + " " + quote(image)).status, 0);
        toolrun r = tool(SECTGET_BIN, "-a " + quote(other) + " " + quote(image));
        EXPECT_EQ(r.status, 0) << ext << r.err;
        std::string same = got.out;
        for (size_t at; (at = same.find(out + "/")) != std::string::npos;)
            same.replace(at, out.size(), other);
        EXPECT_EQ(r.out, same) << ext;
        EXPECT_EQ(sh("diff -r " + quote(out) + " " + quote(other)), 0) << ext;
    }
}

// An existing host file is refused, naming it, before anything is written;
// -f overwrites; a get into a list stops at nothing else.
TEST(fileops, existinghostfilesarerefusedbeforeanythingiswritten)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp", out = dir + "/out";
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    ASSERT_EQ(sh("mkdir -p " + quote(out + "/BOOT") + " && echo mine > " + quote(out + "/BOOT/LOADER.BIN")), 0);
    writetext(dir + "/k", "mine too");
    writetext(dir + "/two.lst", "BOOT\\LOADER.BIN " + dir + "/l\nKERNEL.SYS " + dir + "/k\n");
    struct {
        std::string args, err;
    } cases[] = {
        {"-a " + quote(out) + " " + quote(dcp), out + "/BOOT/LOADER.BIN exists; -f overwrites it\n"},
        {quote(dcp) + " KERNEL.SYS " + quote(dir + "/k"), dir + "/k exists; -f overwrites it\n"},
        {"-l " + quote(dir + "/two.lst") + " " + quote(dcp), dir + "/k exists; -f overwrites it\n"},
    };
    for (const auto &c : cases) {
        toolrun r = tool(SECTGET_BIN, c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        std::string left;
        run("cd " + quote(dir) + " && find out l k -type f 2>/dev/null | sort", &left);
        EXPECT_EQ(left, "k\nout/BOOT/LOADER.BIN\n") << c.args; // nothing new
        EXPECT_EQ(texts(readfile(dir + "/k")), "mine too");
    }
    EXPECT_EQ(tool(SECTGET_BIN, "-f -a " + quote(out) + " " + quote(dcp)).status, 0);
    EXPECT_EQ(texts(readfile(out + "/BOOT/LOADER.BIN")),
              mtoolsout("mtype", dcp, "::BOOT/LOADER.BIN"));
    toolrun missing = tool(SECTGET_BIN, quote(dcp) + " NO.BIN " + quote(dir + "/n"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Could not find NO.BIN in the image\n");
}

// Damaged chains are named, one line each, and never got or freed: a loop,
// a chain into a free or a bad-marked cluster, one shorter than its size,
// two that cross. The sound files are got all the same.
TEST(fileops, damagedchainsarenamedneverfreed)
{
    std::string dir = tempdir(), dcp = dir + "/d.dcp";
    fakevolume v;
    v.build();
    struct {
        const char *name;
        std::vector<int> chain;
        int size;
        const char *damage; // what sectget says; null: sound
    } files[] = {
        {"GOOD    BIN", {2}, 100, nullptr},
        {"LOOP    BIN", {3, 4, 3}, 2000, "it comes back to cluster 3"},
        {"FREE    BIN", {5, 6, 0}, 1500, "cluster 0 is outside 2 to 4079"},
        {"BAD     BIN", {7, 8}, 1024, "cluster 8 is marked bad in the FAT"},
        {"SHORT   BIN", {9}, 5000, "1 clusters where its size needs 10"},
        {"CROSS1  BIN", {10, 11}, 1024, "cluster 11 is in another entry's chain too"},
        {"CROSS2  BIN", {11}, 512, "cluster 11 is in another entry's chain too"},
    };
    int index = 0;
    for (const auto &f : files) {
        v.entry(-1, index++, f.name, 0x20, f.chain[0], f.size);
        for (size_t i = 0; i + 1 < f.chain.size(); i++)
            v.setfat(f.chain[i], f.chain[i + 1]);
        if (f.chain.back() != 0 && f.chain.size() > 1 && f.chain[0] != f.chain.back())
            v.setfat(f.chain.back(), 0xFFF);
        else if (f.chain.size() == 1)
            v.setfat(f.chain[0], 0xFFF);
    }
    v.setfat(6, 0);     // FREE.BIN runs into a free cluster
    v.setfat(8, 0xFF7); // BAD.BIN into one marked bad
    v.save(dcp);
    toolrun r = tool(SECTGET_BIN, "-a " + quote(dir + "/out") + " " + quote(dcp));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "GOOD.BIN " + dir + "/out/GOOD.BIN\n");
    std::string want;
    for (const auto &f : files)
        if (f.damage) {
            std::string n = std::string(f.name);
            n = n.substr(0, n.find(' ')) + ".BIN";
            want += n + ": damaged, not got: " + f.damage + "\n";
        }
    EXPECT_EQ(r.err, want);
    std::string left;
    run("ls " + quote(dir + "/out"), &left);
    EXPECT_EQ(left, "GOOD.BIN\n");
    // Neither removed nor replaced: freeing the chain could free another's data.
    bytes before = readfile(dcp);
    writefile(dir + "/f", bytes(10, 1));
    for (const char *name : {"LOOP.BIN", "FREE.BIN", "BAD.BIN", "CROSS1.BIN", "CROSS2.BIN"}) {
        toolrun put = runtool(std::string(SECTPUT_BIN) + " " + quote(dcp) + " " + name + " " +
                              quote(dir + "/f"));
        EXPECT_EQ(put.status, 1) << name;
        EXPECT_NE(put.err.find(name), std::string::npos) << put.err;
        toolrun rm = tool(SECTRM_BIN, quote(dcp) + " GOOD.BIN " + name);
        EXPECT_EQ(rm.status, 1) << name;
        EXPECT_NE(rm.err.find(name), std::string::npos) << rm.err;
        toolrun mv = tool(SECTMV_BIN, "-f " + quote(dcp) + " GOOD.BIN " + name);
        EXPECT_EQ(mv.status, 1) << name;
        EXPECT_TRUE(readfile(dcp) == before) << name;
    }
    // A chain shorter than its size frees only its own clusters: it goes.
    EXPECT_EQ(tool(SECTRM_BIN, quote(dcp) + " SHORT.BIN").status, 0);
}

// Every name an image may hold comes out as a name of the folder, the same
// on every system; a link planted in the folder is never followed.
TEST(fileops, hostilenamesandplantedlinksstayinsidethefolder)
{
    std::string dir = tempdir(), dcp = dir + "/d.dcp", box = dir + "/box", out = box + "/out";
    fakevolume v;
    v.build();
    struct {
        std::string entry; // the 11 bytes stored
        std::string host;  // the name it gets
    } names[] = {
        {"CON     TXT", "%43ON.TXT"},
        {"nul        ", "%6Eul"},
        {"LPT1       ", "%4CPT1"},
        {"COM9    BIN", "%43OM9.BIN"},
        {"COM0    BIN", "COM0.BIN"},
        {"...        ", "%2E%2E%2E"},
        {"A/B     TXT", "A%2FB.TXT"},
        {"A\\B     TXT", "A%5CB.TXT"},
        {"A:*?    \"<>", "A%3A%2A%3F.%22%3C%3E"},
        {"\x01" "CTRL   BIN", "%01CTRL.BIN"},
        {"DEL\x7F    BIN", "DEL%7F.BIN"},
        {"\x81 BAD   BIN", "%81 BAD.BIN"},
        {"\xFFX      BIN", "%FFX.BIN"},
        {"A.B     C  ", "A%2EB.C"},
        {" LEAD   BIN", "%20LEAD.BIN"},
        {"100%    TXT", "100%25.TXT"},
        {"\x83\x51\x81\x5B\x83\x80  TXT", "ゲーム.TXT"},
        {"\x95\x5C      TXT", "表.TXT"},
        {"\xB1\xB2      TXT", "ｱｲ.TXT"},
        {"\x05\x41      TXT", "蘂.TXT"}, // 0xE5 0x41, stored as 0x05 0x41
        {"           ", "%20"},
    };
    int i = 0;
    for (const auto &n : names) {
        v.entry(-1, i, n.entry, 0x20, 2 + i, 3);
        v.chain({2 + i});
        v.fillcluster(2 + i, (unsigned char)('a' + i));
        i++;
    }
    v.entry(-1, i, "SUB/DIR    ", 0x10, 40);
    v.chain({40});
    v.entry(40, 0, ".          ", 0x10, 40);
    v.entry(40, 1, "..         ", 0x10, 0);
    v.entry(40, 2, "X       BIN", 0x20, 41, 3);
    v.chain({41});
    v.entry(40, 3, "BACK       ", 0x10, 40); // a cycle: never entered twice
    v.save(dcp);
    ASSERT_EQ(sh("mkdir -p " + quote(box) + " " + quote(dir + "/outside")), 0);
    toolrun r = tool(SECTGET_BIN, "-a " + quote(out) + " " + quote(dcp));
    EXPECT_EQ(r.status, 1); // the cycle
    EXPECT_EQ(r.err, "SUB/DIR\\BACK\\: damaged, not got: another entry names the same directory\n");
    for (size_t k = 0; k < sizeof names / sizeof names[0]; k++) {
        EXPECT_EQ(texts(readfile(out + "/" + names[k].host)), std::string(3, (char)('a' + k)))
            << names[k].host;
        // A line whose image name holds a control byte, a quote or a space is
        // quoted whole: its host name's % then stands as %25.
        std::string host = out + "/" + names[k].host, quoted = "\"";
        for (char c : host)
            quoted += c == '%' ? std::string("%25") : std::string(1, c);
        EXPECT_TRUE(r.out.find(" " + host + "\n") != std::string::npos ||
                    r.out.find(" " + quoted + "\"\n") != std::string::npos)
            << names[k].host;
    }
    EXPECT_EQ(texts(readfile(out + "/SUB%2FDIR/X.BIN")), std::string(3, 0));
    std::string all;
    run("cd " + quote(dir) + " && find . -mindepth 1 | grep -v '^./box/out/' | sort", &all);
    EXPECT_EQ(all, "./box\n./box/out\n./d.dcp\n./outside\n");
    // Links planted where a directory and a file go: the one refused before
    // anything is written, the other (with -f) replaced, never written through.
    ASSERT_EQ(sh("rm -rf " + quote(out) + " && mkdir " + quote(out) + " && ln -s ../../outside " +
                 quote(out + "/SUB%2FDIR") + " && ln -s ../../outside/victim " +
                 quote(out + "/%43ON.TXT") + " && echo victim > " + quote(dir + "/outside/victim")),
              0);
    r = tool(SECTGET_BIN, "-f -a " + quote(out) + " " + quote(dcp));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, out + "/SUB%2FDIR is a symbolic link; nothing is written through one\n");
    run("ls " + quote(out) + " " + quote(dir + "/outside"), &all);
    EXPECT_EQ(all, out + ":\n%43ON.TXT\nSUB%2FDIR\n\n" + dir + "/outside:\nvictim\n");
    ASSERT_EQ(sh("rm " + quote(out + "/SUB%2FDIR")), 0);
    EXPECT_EQ(tool(SECTGET_BIN, "-f -a " + quote(out) + " " + quote(dcp)).status, 1);
    EXPECT_EQ(texts(readfile(dir + "/outside/victim")), "victim\n");
    struct stat st;
    ASSERT_EQ(lstat((out + "/%43ON.TXT").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

// sectrm, sectmv, sectattr and dcpimage label on a real volume: mtools
// shows each change, fsck.fat finds nothing wrong, and every other file is
// listed as it was, sector for sector; a refusal leaves the image as it was.
TEST(fileops, everychangeisseenbymtoolsandmovesnootherfile)
{
    std::string dir = tempdir(), base = dir + "/base.dcp", dcp = dir + "/disk.dcp";
    makerealimage(base, "1.2M");
    filltree(base, dir);
    ASSERT_EQ(tool(DCPIMAGE_BIN, "label " + quote(base) + " OLD").status, 0);
    struct change {
        std::string program;
        std::vector<std::string> words;   // IMAGE stands for the image
        std::vector<std::string> touched; // listed paths that may change or go
        std::string mtools, shows;        // an mtools command, and what it prints
        std::string err;                  // a refusal: its message (the image stays)
    } changes[] = {
        {SECTRM_BIN, {"IMAGE", "KERNEL.SYS"}, {"KERNEL.SYS"}, "mdir -a ::", "3 files", ""},
        {SECTRM_BIN, {"-r", "IMAGE", "DATA"}, {"DATA\\"}, "mdir -/ ::", "SYSTEM", ""},
        {SECTRM_BIN, {"-r", "IMAGE", "SYSTEM\\DRIVERS", "KERNEL.SYS"},
         {"SYSTEM\\DRIVERS\\", "KERNEL.SYS"}, "mdir ::SYSTEM", "EMPTY", ""},
        {SECTRM_BIN, {"IMAGE", "DATA"}, {}, "", "",
         "DATA is a directory; -r removes it with all it holds\n"},
        {SECTRM_BIN, {"IMAGE", "KERNEL.SYS", "NO.BIN"}, {}, "", "",
         "NO.BIN: not found in the image\n"},
        {SECTRM_BIN, {"-r", "IMAGE", "\\"}, {}, "", "", "\\: the root directory cannot be removed\n"},
        {SECTRM_BIN, {"-n", "-r", "IMAGE", "SYSTEM"}, {}, "", "", ""},
        {SECTMV_BIN, {"IMAGE", "KERNEL.SYS", "BOOT"}, {"KERNEL.SYS"}, "mdir ::BOOT", "KERNEL", ""},
        {SECTMV_BIN, {"IMAGE", "SYSTEM\\DRIVERS", "DATA"}, {"SYSTEM\\DRIVERS\\"},
         "mdir -/ ::DATA", "VIDEO", ""},
        {SECTMV_BIN, {"IMAGE", "BOOT\\LOADER.BIN", "LOAD2.BIN"}, {"BOOT\\LOADER.BIN"}, "mdir ::",
         "LOAD2", ""},
        {SECTMV_BIN, {"-f", "IMAGE", "KERNEL.SYS", "BOOT\\LOADER.BIN"},
         {"KERNEL.SYS", "BOOT\\LOADER.BIN"}, "mdir ::BOOT", "5000", ""},
        {SECTMV_BIN, {"IMAGE", "KERNEL.SYS", "BOOT\\LOADER.BIN"}, {}, "", "",
         "BOOT\\LOADER.BIN exists; -f replaces a file, and a directory is never replaced\n"},
        {SECTMV_BIN, {"IMAGE", "SYSTEM", "SYSTEM\\DRIVERS"}, {}, "", "",
         "SYSTEM\\DRIVERS: a directory cannot move into itself or below it\n"},
        {SECTMV_BIN, {"IMAGE", "KERNEL.SYS", "K*.SYS"}, {}, "", "",
         "K*.SYS: K*.SYS is not an 8.3 name\n"},
        {SECTMV_BIN, {"IMAGE", "KERNEL.SYS", "NO\\K.SYS"}, {}, "", "", "NO\\K.SYS: no such directory\n"},
        {SECTATTR_BIN, {"+h", "+s", "-a", "IMAGE", "KERNEL.SYS", "DATA"}, {"KERNEL.SYS", "DATA\\"},
         "mattrib ::KERNEL.SYS", "     SH ", ""},
        {SECTATTR_BIN, {"+r", "IMAGE", "KERNEL.SYS", "NO.BIN"}, {}, "", "",
         "NO.BIN: not found in the image\n"},
        {DCPIMAGE_BIN, {"label", "IMAGE", "GAME"}, {}, "mlabel -s ::", "Volume label is GAME", ""},
        {DCPIMAGE_BIN, {"label", "-c", "IMAGE"}, {}, "mlabel -s ::", "Volume has no label", ""},
    };
    auto was = listing(base);
    for (const change &c : changes) {
        writefile(dcp, readfile(base));
        bytes before = readfile(dcp);
        std::string args, what = c.program.substr(c.program.rfind('/') + 1);
        for (const std::string &w : c.words) {
            args += " " + quote(w == "IMAGE" ? dcp : w);
            what += " " + w;
        }
        toolrun r = tool(c.program, args);
        if (!c.err.empty() || c.words[0] == "-n") {
            EXPECT_EQ(r.status, c.err.empty() ? 0 : 1) << what;
            EXPECT_EQ(r.err, c.err) << what;
            EXPECT_TRUE(readfile(dcp) == before) << what;
            continue;
        }
        EXPECT_EQ(r.status, 0) << what << r.err;
        std::string shown = mtoolsout(c.mtools, dcp, "");
        EXPECT_NE(shown.find(c.shows), std::string::npos) << what << shown;
        EXPECT_TRUE(fsckclean(dcp)) << what;
        auto now = listing(dcp);
        for (const auto &line : was) {
            bool touched = false;
            for (const std::string &t : c.touched)
                touched = touched || line.first.compare(0, t.size(), t) == 0;
            if (!touched) {
                EXPECT_EQ(now[line.first], line.second) << what;
            }
        }
        // The header and the boot sector change only with the label.
        bytes after = readfile(dcp);
        EXPECT_TRUE(c.program == DCPIMAGE_BIN ||
                    std::equal(before.begin(), before.begin() + 162 + 1024, after.begin()))
            << what;
    }
    // The label is in the boot sector's parameter block too, as create -L puts it.
    writefile(dcp, readfile(base));
    ASSERT_EQ(tool(DCPIMAGE_BIN, "label " + quote(dcp) + " GAME").status, 0);
    bytes labelled = readfile(dcp);
    EXPECT_EQ(std::string(labelled.begin() + 162 + 43, labelled.begin() + 162 + 54), "GAME       ");
    // What -n says would be freed: sectmap's lines of the tree, the top as given.
    std::string freed = tool(SECTRM_BIN, "-n -r " + quote(base) + " SYSTEM").out, want;
    std::istringstream in(tool(SECTMAP_BIN, quote(base)).out);
    for (std::string line; std::getline(in, line);)
        if (line.find(" SYSTEM\\") != std::string::npos)
            want += line + "\n";
    want.replace(want.find("SYSTEM\\\n"), 8, "SYSTEM\n");
    EXPECT_EQ(freed, want);
}

// A move into a full directory: the root refuses, a subdirectory grows by
// its lowest free cluster, as a put grows it.
TEST(fileops, amoveintoafulldirectory)
{
    std::string dir = tempdir(), dcp = dir + "/d.dcp";
    fakevolume v;
    v.rootentries = 16; // one sector
    v.build();
    v.entry(-1, 0, "FULL       ", 0x10, 2);
    v.chain({2});
    v.entry(2, 0, ".          ", 0x10, 2);
    v.entry(2, 1, "..         ", 0x10, 0);
    for (int i = 2; i < 16; i++) // its one cluster holds 16 entries: all in use
        v.entry(2, i, "F" + std::to_string(10 + i) + "     BIN", 0x20, 0, 0);
    for (int i = 1; i < 16; i++)
        v.entry(-1, i, "R" + std::to_string(10 + i) + "     BIN", 0x20, 0, 0);
    v.save(dcp);
    toolrun r = tool(SECTMV_BIN, quote(dcp) + " 'FULL\\F12.BIN' X.BIN");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "X.BIN: the root directory is full\n");
    r = tool(SECTMV_BIN, quote(dcp) + " R11.BIN FULL");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(listing(dcp)["FULL\\"].substr(0, 12), "   20     2 "); // two clusters now
    EXPECT_NE(mtoolsout("mdir", dcp, "::FULL").find("R11      BIN"), std::string::npos);
}

// Every refusal and failure of the file operations is said on standard
// error, with status 1, and leaves the image as it was: command lines,
// images that cannot be opened, lists, what stands in the host folder, a
// tree too deep, names that clash, writes that fail (injected).
TEST(fileops, everyrefusalandfailureissaidandleavestheimageasitwas)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp", q = quote(dcp);
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    // A tree 65 directories deep, and two entries of one name in the root.
    std::string deep;
    for (int i = 0; i < 65; i++)
        deep += "A\\";
    writefile(dir + "/f", bytes(10, 1));
    bytes image = readfile(dcp);
    std::string deepimage = dir + "/deep.dcp";
    writefile(deepimage, image);
    ASSERT_EQ(runtool(std::string(SECTPUT_BIN) + " " + quote(deepimage) + " " +
                      quote(deep + "F.BIN") + " " + quote(dir + "/f")).status,
              0);
    // A second, empty KERNEL.SYS in the root's slot 100 (the root is 6 sectors).
    unsigned char *second = image.data() + 162 + 5 * 1024 + 32 * 100;
    memcpy(second, "KERNEL  SYS", 11);
    second[11] = 0x20;
    writefile(dcp, image);
    writetext(dir + "/bad.lst", "KERNEL.SYS\n");
    writetext(dir + "/two.lst", "\nKERNEL.SYS\n\nBOOT\\LOADER.BIN\n");
    writetext(dir + "/afile", "x");
    ASSERT_EQ(sh("mkdir -p " + quote(dir + "/o1") + " " + quote(dir + "/o2/KERNEL.SYS") +
                 " && touch " + quote(dir + "/o1/BOOT")),
              0);
    std::string usage = "Usage: ";
    struct {
        std::string program, args, err; // err: the start of what is said
    } cases[] = {
        {SECTGET_BIN, "", usage + "sectget"},
        {SECTGET_BIN, "-a x -l y " + q, usage + "sectget"},
        {SECTRM_BIN, q, usage + "sectrm"},
        {SECTMV_BIN, q + " A", usage + "sectmv"},
        {SECTATTR_BIN, "+h " + q, usage + "sectattr"},
        {SECTGET_BIN, "-F zip " + q + " A -", "Unknown format zip: dcp, d88, fdi, nfd, raw, hdi, nhd, thd, vhd98 or rawhdd\n"},
        {SECTRM_BIN, "-d 0 " + q + " A", "Bad disk number 0: 1 for the first disk"},
        {SECTGET_BIN, "-u " + q + " é -", "é has no Shift-JIS form (code page 932)\n"},
        {SECTRM_BIN, "-u " + q + " é", "é has no Shift-JIS form (code page 932)\n"},
        {SECTMV_BIN, "-u " + q + " é X", "é has no Shift-JIS form (code page 932)\n"},
        {SECTATTR_BIN, "-u +h " + q + " é", "é has no Shift-JIS form (code page 932)\n"},
        {SECTRM_BIN, quote(dir + "/none") + " A", "Could not open image " + dir +
                                                      "/none for writing\n"},
        {SECTRM_BIN, "-n " + quote(dir + "/none") + " A", "Could not open image " + dir +
                                                              "/none for reading\n"},
        {SECTGET_BIN, quote(dir + "/none") + " A -", "Could not open image " + dir +
                                                         "/none for reading\n"},
        {SECTATTR_BIN, quote(dir + "/afile") + " A", "Could not read disk properties\n"},
        {SECTGET_BIN, "-l " + quote(dir + "/none") + " " + q, "Could not open list file"},
        {SECTRM_BIN, "-l " + quote(dir + "/none") + " " + q, "Could not open list file"},
        {SECTGET_BIN, "-l " + quote(dir + "/bad.lst") + " " + q,
         dir + "/bad.lst line 1: expected an image path, spaces, then a host file name\n"},
        {SECTGET_BIN, q + " BOOT x", "BOOT names a directory; -a DIR gets a directory\n"},
        {SECTGET_BIN, "-a " + quote(dir + "/o") + " " + q + " NONE",
         "Could not find NONE in the image\n"},
        {SECTGET_BIN, "-a " + quote(dir + "/afile") + " " + q, dir + "/afile is not a directory\n"},
        {SECTGET_BIN, "-a " + quote(dir + "/o1") + " " + q,
         dir + "/o1/BOOT is not a directory, where one goes\n"},
        {SECTGET_BIN, "-a " + quote(dir + "/o2") + " " + q,
         dir + "/o2/KERNEL.SYS is a directory, where a file goes\n"},
        {SECTGET_BIN, "-a " + quote(dir + "/o3") + " " + q,
         dir + "/o3/KERNEL.SYS: another file of the image took this name first; not got\n"},
        {SECTGET_BIN, "-a " + quote(dir + "/o4") + " " + quote(deepimage),
         dir + "/o4/" + slashes(deep.substr(0, 129)) + " lies deeper than 64 directories"},
        {SECTGET_FAULT_BIN, "-a " + quote(dir + "/o5") + " " + q,
         "Could not write " + dir + "/o5/"},
        {SECTGET_FAULT_BIN, q + " KERNEL.SYS " + quote(dir + "/k"), "Could not write " + dir + "/k\n"},
        {SECTRM_FAULT_BIN, q + " KERNEL.SYS", "Could not write " + dcp + "; it is left as it was\n"},
        {SECTRM_BIN, "-l " + quote(dir + "/two.lst") + " " + q + " >/dev/full",
         "Could not write standard output\n"},
    };
    bytes before = readfile(dcp);
    for (const auto &c : cases) {
        std::string env = c.program == SECTGET_FAULT_BIN ? "DCPFAULT_WRITE=1:" + dir + "/* "
                          : c.program == SECTRM_FAULT_BIN ? "DCPFAULT_CLOSE=" + dcp + ".* "
                                                          : "";
        toolrun r = runtool(env + c.program + " " + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args << "\n" << r.err;
        if (c.args.find("/dev/full") == std::string::npos) {
            EXPECT_TRUE(readfile(dcp) == before) << c.args;
        }
        writefile(dcp, before);
    }
    std::string left;
    run("ls " + quote(dir + "/o1") + " " + quote(dir + "/o2"), &left);
    EXPECT_EQ(left.find("LOADER"), std::string::npos); // refused before anything was written
}

// What the programs print of a volume: attributes as mattrib prints them,
// the label (in UTF-8 under -u), the picture of the PATHs given, an SVG of
// Japanese names; and the moves that are refused.
TEST(fileops, whatisprintedandwhatisrefused)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp", q = quote(dcp);
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    writefile(dir + "/f", bytes(3000, 7));
    ASSERT_EQ(runtool(std::string(SECTPUT_BIN) + " -u " + q + " 'ゲーム\\表.TXT' " +
                      quote(dir + "/f")).status,
              0);
    ASSERT_EQ(tool(SECTATTR_BIN, "+h +r " + q + " KERNEL.SYS").status, 0);
    ASSERT_EQ(tool(DCPIMAGE_BIN, "label -u " + q + " 名前").status, 0);
    std::string before = texts(readfile(dcp));
    struct {
        std::string program, args, out, err;
    } cases[] = {
        {SECTATTR_BIN, q + " KERNEL.SYS BOOT 'BOOT\\LOADER.BIN'",
         "  A   HR     KERNEL.SYS\n             BOOT\n  A          BOOT\\LOADER.BIN\n", ""},
        {DCPIMAGE_BIN, "label -u " + q, "名前\n", ""},
        {DCPIMAGE_BIN, "label " + q, "\x96\xBC\x91\x4F\n", ""},
        {SECTMV_BIN, q + " '\\' X", "", "\\: the root directory cannot be moved\n"},
        {SECTMV_BIN, q + " NO.BIN X", "", "NO.BIN: not found in the image\n"},
        {SECTMV_BIN, q + " BOOT 'KERNEL.SYS\\'", "", "KERNEL.SYS\\: no such directory\n"},
        {SECTMV_BIN, q + " BOOT 'BOOT\\'", "", "BOOT\\: a directory cannot move into itself or below it\n"},
        {SECTMV_BIN, "-u " + q + " KERNEL.SYS 'テ*.SYS'", "", "テ*.SYS: テ*.SYS is not an 8.3 name\n"},
    };
    for (const auto &c : cases) {
        toolrun r = tool(c.program, c.args);
        EXPECT_EQ(r.out, c.out) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
        EXPECT_EQ(r.status, c.err.empty() ? 0 : 1) << c.args;
        EXPECT_EQ(texts(readfile(dcp)), before) << c.args;
    }
    // The PATHs given lettered, in their order; every other used sector '+'.
    toolrun map = tool(SECTMAP_BIN, "--map " + q + " KERNEL.SYS 'BOOT\\LOADER.BIN' NONE");
    EXPECT_EQ(map.status, 1);
    EXPECT_EQ(map.err, "Could not find NONE in the image\n");
    EXPECT_NE(map.out.find("\na    "), std::string::npos);
    EXPECT_NE(map.out.find(" KERNEL.SYS\nb "), std::string::npos);
    EXPECT_NE(map.out.find(" BOOT\\LOADER.BIN\n"), std::string::npos);
    EXPECT_NE(map.out.find("\n+ the other files and directories\n"), std::string::npos);
    EXPECT_EQ(map.out.find("\nc "), std::string::npos);
    // Japanese names in the SVG, as UTF-8 text.
    std::string svg = dir + "/m.svg";
    ASSERT_EQ(tool(SECTMAP_BIN, "--svg " + quote(svg) + " -u " + q + " 'ゲーム\\表.TXT'").status, 0);
    std::string text = texts(readfile(svg));
    EXPECT_NE(text.find(": ゲーム\\表.TXT, bytes 0 to 1023</title>"), std::string::npos);
    EXPECT_NE(text.find(">a ") , std::string::npos);
    // A PATH with no Shift-JIS form: said once, no legend line, the next one lettered b.
    for (std::string how : {std::string("--map"), "-f --svg " + quote(svg)}) {
        toolrun r = tool(SECTMAP_BIN, how + " -u " + q + " '\xf0\x9f\x98\x80.TXT' KERNEL.SYS");
        EXPECT_EQ(r.status, 1) << how;
        EXPECT_EQ(r.err, "\xf0\x9f\x98\x80.TXT has no Shift-JIS form (code page 932)\n") << how;
        std::string shown = how == "--map" ? r.out : texts(readfile(svg));
        EXPECT_NE(shown.find("b    "), std::string::npos) << how;
        EXPECT_EQ(shown.find("a    "), std::string::npos) << how;
    }
}
