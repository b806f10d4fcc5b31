// sectmap end to end: listings checked against mtools and sectdefs on real
// volumes, the reverse lookup over every sector of a real volume, the
// contiguity check, damaged hand-laid images, and every message.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "fakevolume.h"
#include "testutil.h"

typedef toolrun mapresult;

static mapresult sectmap(const std::string &args)
{
    return runtool("timeout 20 " + std::string(SECTMAP_BIN) + " " + args);
}

struct mapline {
    std::string sector, sectors, bytes, extents, path;
};

// The listing's lines: four fields, then the rest of the line as the path.
static std::vector<mapline> parselisting(const std::string &text)
{
    std::vector<mapline> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        mapline m;
        fields >> m.sector >> m.sectors >> m.bytes >> m.extents;
        std::getline(fields, m.path);
        m.path.erase(0, m.path.find_first_not_of(' '));
        lines.push_back(m);
    }
    return lines;
}

static std::string slashed(std::string p, char from, char to)
{
    for (char &c : p)
        c = c == from ? to : c;
    return p;
}

struct geometry {
    int bps, spc, reserved, fats, spf, datastart, total;
};

static geometry readgeometry(const std::string &dcp)
{
    bytes b = readfile(dcp);
    const unsigned char *v = b.data() + 162;
    geometry g;
    g.bps = v[11] | v[12] << 8;
    g.spc = v[13];
    g.reserved = v[14] | v[15] << 8;
    g.fats = v[16];
    g.spf = v[22] | v[23] << 8;
    g.total = v[19] | v[20] << 8;
    int rootentries = v[17] | v[18] << 8;
    g.datastart = g.reserved + g.fats * g.spf + (rootentries * 32 + g.bps - 1) / g.bps;
    return g;
}

// mshowfat's runs of clusters for each path (volume form), as runs of
// sectors written the way the listing writes them; "-" for no cluster.
static std::map<std::string, std::string> mshowfatextents(const std::string &dcp,
                                                          const std::vector<std::string> &paths)
{
    geometry g = readgeometry(dcp);
    std::string args, out;
    std::set<std::string> dirs;
    for (std::string p : paths) {
        if (!p.empty() && p.back() == '\\') {
            p.pop_back(); // mshowfat names a directory without the slash
            dirs.insert(p);
        }
        args += " " + quote("::" + slashed(p, '\\', '/'));
    }
    run("MTOOLS_SKIP_CHECK=1 mshowfat -i " + quote(dcp + "@@162") + args, &out);
    std::map<std::string, std::string> runs;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 3, "::/") != 0)
            continue;
        std::string path = slashed(line.substr(3, line.find(' ') - 3), '/', '\\'), text;
        for (size_t lt = line.find('<'); lt != std::string::npos; lt = line.find('<', lt + 1)) {
            int a = atoi(line.c_str() + lt + 1), b = a;
            size_t dash = line.find('-', lt), gt = line.find('>', lt);
            if (dash < gt)
                b = atoi(line.c_str() + dash + 1);
            int first = (a - 2) * g.spc + g.datastart, last = (b - 1) * g.spc + g.datastart - 1;
            text += (text.empty() ? "" : ",") + std::to_string(first) +
                    (last > first ? "-" + std::to_string(last) : "");
        }
        runs[path + (dirs.count(path) ? "\\" : "")] = text.empty() ? "-" : text;
    }
    return runs;
}

// Every path mdir lists under the root ("DIR\" for a directory) with its
// size ("-" for a directory).
static std::map<std::string, std::string> mdirsizes(const std::string &dcp)
{
    std::string out, dir;
    run("MTOOLS_SKIP_CHECK=1 mdir -/ -a -i " + quote(dcp + "@@162") + " ::", &out);
    std::map<std::string, std::string> sizes;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 17, "Directory for ::/") == 0) {
            dir = slashed(line.substr(17), '/', '\\');
            if (!dir.empty())
                dir += "\\";
            continue;
        }
        if (line.size() < 13 || line[0] == ' ' || line[0] == '.' ||
            line.compare(0, 19, "Total files listed:") == 0)
            continue;
        std::string name = line.substr(0, 8), ext = line.substr(9, 3), size;
        name.erase(name.find_last_not_of(' ') + 1);
        ext.erase(ext.find_last_not_of(' ') + 1);
        std::istringstream(line.substr(12)) >> size;
        if (size == "<DIR>")
            sizes[dir + name + "\\"] = "-";
        else
            sizes[dir + name + (ext.empty() ? "" : "." + ext)] = size;
    }
    return sizes;
}

// Runs of "a-b,c" as the set of sectors in chain order.
static std::vector<int> sectorsof(const std::string &extents)
{
    std::vector<int> s;
    std::istringstream in(extents);
    std::string run;
    while (std::getline(in, run, ',')) {
        int a = atoi(run.c_str()), b = a;
        if (run.find('-') != std::string::npos)
            b = atoi(run.c_str() + run.find('-') + 1);
        for (int i = a; i <= b; i++)
            s.push_back(i);
    }
    return s;
}

// A small hand-laid volume: 300 sectors of 512 bytes, one-sector FATs.
static fakevolume smallvolume()
{
    fakevolume v;
    v.total = 300;
    v.spf = 1;
    v.rootentries = 32;
    v.build();
    return v;
}

// What sectdefs writes for a list on the image.
static std::string sectdefsgives(const std::string &dcp, const std::string &dir,
                                 const std::string &list)
{
    std::string out;
    writetext(dir + "/list", list);
    EXPECT_EQ(run(std::string(SECTDEFS_BIN) + " " + quote(dcp) + " " + quote(dir + "/list") +
                      " " + quote(dir + "/defs"),
                  &out),
              0);
    return texts(readfile(dir + "/defs"));
}

// The listing of a real volume agrees with mtools on every entry (first
// sector, extents, size, the set of paths) and with sectdefs on every
// first sector.
static void checkrealvolume(const std::string &kind)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    makerealimage(dcp, kind);
    filltree(dcp, dir);
    geometry g = readgeometry(dcp);
    mapresult r = sectmap(quote(dcp));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::vector<mapline> lines = parselisting(r.out);
    std::map<std::string, std::string> sizes = mdirsizes(dcp);
    std::set<std::string> listed, mtoolspaths;
    std::vector<std::string> paths;
    for (const mapline &m : lines) {
        listed.insert(m.path);
        paths.push_back(m.path);
    }
    for (const auto &s : sizes)
        mtoolspaths.insert(s.first);
    std::vector<std::string> onlyone;
    std::set_symmetric_difference(listed.begin(), listed.end(), mtoolspaths.begin(),
                                  mtoolspaths.end(), std::back_inserter(onlyone));
    EXPECT_EQ(onlyone, std::vector<std::string>());
    ASSERT_EQ(lines.size(), 51u);
    std::map<std::string, std::string> runs = mshowfatextents(dcp, paths);
    std::string list, want;
    for (size_t i = 0; i < lines.size(); i++) {
        const mapline &m = lines[i];
        EXPECT_EQ(m.extents, runs[m.path]) << m.path;
        EXPECT_EQ(m.bytes, sizes[m.path]) << m.path;
        std::string first = m.extents.substr(0, m.extents.find_first_of("-,"));
        EXPECT_EQ(m.sector, m.extents == "-" ? "-" : first) << m.path;
        if (m.bytes == "-")
            EXPECT_EQ(atoi(m.sectors.c_str()), (int)sectorsof(m.extents).size()) << m.path;
        else {
            EXPECT_EQ(atoi(m.sectors.c_str()), (atoi(m.bytes.c_str()) + g.bps - 1) / g.bps)
                << m.path;
        }
        if (m.sector != "-") {
            list += "S" + std::to_string(i) + " " + m.path + "\n";
            want += "%define S" + std::to_string(i) + " " + m.sector + "\n";
        }
    }
    EXPECT_EQ(sectdefsgives(dcp, dir, list), want);
    // Depth first, a directory's line before its contents, slot order.
    EXPECT_EQ(lines[0].path, "BOOT\\");
    EXPECT_EQ(lines[1].path, "BOOT\\LOADER.BIN");
    EXPECT_EQ(lines[2].path, "SYSTEM\\");
    EXPECT_EQ(lines[3].path, "SYSTEM\\DRIVERS\\");
    EXPECT_EQ(lines[4].path, "SYSTEM\\DRIVERS\\SOUND\\");
}

TEST(sectmap, realvolume1232kagreeswithmtools) { checkrealvolume("1.2M"); }

TEST(sectmap, realvolume1440kagreeswithmtools) { checkrealvolume("1.44M"); }

TEST(sectmap, realvolumetwosectorsperclusteragreeswithmtools) { checkrealvolume("1.44M/2"); }

TEST(sectmap, contiguouscheckfailsonexactlythefragmentedfiles)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    makerealimage(dcp, "1.2M");
    std::vector<std::string> paths = filltree(dcp, dir);
    std::map<std::string, std::string> runs = mshowfatextents(dcp, paths);
    mapresult r = sectmap("-c " + quote(dcp));
    EXPECT_EQ(r.status, 1);
    std::string wanterr, contiguous;
    int fragmented = 0;
    for (const mapline &m : parselisting(r.out)) {
        if (m.bytes == "-")
            continue;
        int extents = m.extents == "-" ? 0 : (int)std::count(m.extents.begin(), m.extents.end(), ',') + 1;
        if (extents > 1) {
            wanterr += m.path + " is not contiguous: " + std::to_string(extents) + " extents\n";
            fragmented++;
        } else {
            contiguous += " " + quote(m.path);
        }
    }
    EXPECT_GE(fragmented, 1);
    EXPECT_EQ(r.err, wanterr);
    mapresult ok = sectmap("--contiguous " + quote(dcp) + contiguous);
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.err, "");
    // Without -c the same fragmented files are no failure.
    EXPECT_EQ(sectmap(quote(dcp)).status, 0);
}

TEST(sectmap, pathsaregivenbackasgivenandmissingonesreported)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    mapresult all = sectmap(quote(dcp));
    std::map<std::string, mapline> byname;
    for (const mapline &m : parselisting(all.out))
        byname[m.path] = m;
    mapresult r = sectmap(quote(dcp) + " 'kernel.sys' NOT.HERE 'system\\drivers\\' DATA " +
                          "'BOOT\\NOPE\\X.BIN' 'BOOT\\LOADER.BIN'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Could not find NOT.HERE in the image\n"
                     "Could not find BOOT\\NOPE\\X.BIN in the image\n");
    std::vector<mapline> lines = parselisting(r.out);
    ASSERT_EQ(lines.size(), 4u);
    const char *names[] = {"kernel.sys", "system\\drivers\\", "DATA", "BOOT\\LOADER.BIN"};
    const char *keys[] = {"KERNEL.SYS", "SYSTEM\\DRIVERS\\", "DATA\\", "BOOT\\LOADER.BIN"};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(lines[i].path, names[i]);
        EXPECT_EQ(lines[i].extents, byname[keys[i]].extents) << names[i];
        EXPECT_EQ(lines[i].bytes, byname[keys[i]].bytes) << names[i];
    }
}

TEST(sectmap, reverselookupovereverysectorofarealvolume)
{
    // Four reserved sectors and three FAT copies, so that every area shows;
    // two sectors per cluster and an odd data area, so that a sector is left
    // past the last whole cluster.
    std::string dir = tempdir(), vol = dir + "/v.img", dcp = dir + "/disk.dcp";
    ASSERT_EQ(sh("mkfs.fat -C -F 12 -S 512 -s 2 -R 4 -f 3 -r 32 " + quote(vol) +
                 " 161 >/dev/null && { head -c 162 /dev/zero; cat " + quote(vol) + "; } > " +
                 quote(dcp)),
              0);
    std::string big = dir + "/big", small = dir + "/small";
    writefile(big, bytes(9000, 0x41));
    writefile(small, bytes(1500, 0x42));
    mtools("mmd", dcp, "::SUB");
    mtools("mcopy", dcp, quote(small) + " ::GAP.BIN");
    mtools("mcopy", dcp, quote(small) + " ::SUB/KEEP.BIN");
    mtools("mdel", dcp, "::GAP.BIN");
    mtools("mcopy", dcp, quote(big) + " ::SUB/FRAG.BIN");
    geometry g = readgeometry(dcp);
    ASSERT_EQ((g.total - g.datastart) % g.spc, 1);
    std::vector<std::string> want((size_t)g.total);
    for (int s = 0; s < g.total; s++) {
        if (s == 0)
            want[(size_t)s] = "boot sector";
        else if (s < g.reserved)
            want[(size_t)s] = "reserved";
        else if (s < g.reserved + g.fats * g.spf)
            want[(size_t)s] = "FAT " + std::to_string((s - g.reserved) / g.spf + 1);
        else if (s < g.datastart)
            want[(size_t)s] = "root directory";
        else if (s >= g.total - 1)
            want[(size_t)s] = "unused";
        else
            want[(size_t)s] = "free";
    }
    mapresult listing = sectmap(quote(dcp));
    ASSERT_EQ(listing.status, 0);
    int owned = 0;
    for (const mapline &m : parselisting(listing.out)) {
        std::vector<int> secs = sectorsof(m.extents);
        for (size_t i = 0; i < secs.size(); i++, owned++)
            want[(size_t)secs[i]] = m.path + " byte " + std::to_string(i * (size_t)g.bps);
    }
    EXPECT_EQ(listing.out.find('!'), std::string::npos);
    std::string out, expected;
    // A program a sector: under the sanitizers, whose start costs a tenth
    // of a second, every ninth sector and the last ones (the plain build
    // asks for each).
#ifdef __SANITIZE_ADDRESS__
    const int step = 9;
#else
    const int step = 1;
#endif
    std::string sectors;
    for (int s = 0; s < g.total; s++)
        if (s % step == 0 || s >= g.total - 2) {
            sectors += std::to_string(s) + " ";
            expected += std::to_string(s) + ": " + want[(size_t)s] + "\n";
        }
    ASSERT_EQ(run("for s in " + sectors + std::to_string(g.total) + " " +
                      std::to_string(g.total + 1) + " 2147483647; do " + SECTMAP_BIN +
                      " -s $s " + quote(dcp) + " || echo failed; done",
                  &out),
              0);
    expected += std::to_string(g.total) + ": past the end of the volume\n" +
                std::to_string(g.total + 1) + ": past the end of the volume\n" +
                "2147483647: past the end of the volume\n";
    EXPECT_EQ(out, expected);
    // The free sectors are the free bytes that mtools counts.
    int freesectors = (int)std::count(want.begin(), want.end(), std::string("free"));
    std::string mdir;
    run("MTOOLS_SKIP_CHECK=1 mdir -i " + quote(dcp + "@@162") + " :: | grep free | tr -d ' '",
        &mdir);
    EXPECT_EQ(mdir, std::to_string(freesectors * g.bps) + "bytesfree\n");
    EXPECT_GT(owned, 0);
}

// A hand-laid volume with every kind of damage the listing marks.
static fakevolume damagedvolume()
{
    fakevolume v = smallvolume();
    v.entry(-1, 0, "LOOP    BIN", 0x20, 10, 5000);
    v.chain({10, 11, 12});
    v.setfat(12, 11);
    v.entry(-1, 1, "FAR     BIN", 0x20, 20, 1024);
    v.setfat(20, 2000); // in 2..4079 but past the volume's 300 sectors
    v.entry(-1, 2, "SHORT   BIN", 0x20, 30, 2000);
    v.chain({30, 31});
    v.entry(-1, 3, "FREE    BIN", 0x20, 40, 1024);
    v.setfat(40, 0); // runs into a free cluster
    v.entry(-1, 4, "NOCLUST BIN", 0x20, 0, 100);
    v.entry(-1, 5, "CYCLE      ", 0x10, 50);
    v.chain({50});
    v.entry(50, 0, ".          ", 0x10, 50);
    v.entry(50, 1, "..         ", 0x10, 0);
    v.entry(50, 2, "BACK       ", 0x10, 50); // points back at its own directory
    v.entry(50, 3, "INNER   BIN", 0x20, 60, 512);
    v.chain({60});
    v.entry(-1, 6, "LOOPDIR    ", 0x10, 70);
    v.chain({70, 71});
    v.setfat(71, 70);
    v.entry(-1, 7, "ZERODIR    ", 0x10, 0);
    v.entry(-1, 8, "FINE    BIN", 0x20, 80, 1000);
    v.chain({80, 81});
    v.entry(-1, 9, "HUGE    BIN", 0x20, 4095, 10);  // a first cluster no FAT12 has
    v.entry(-1, 10, "BIGDIR     ", 0x10, 4095);
    v.entry(-1, 11, "EDGE    BIN", 0x20, 296, 1024); // runs on past the last cluster
    v.setfat(296, 297);
    v.setfat(297, 0xFFF);
    v.entry(-1, 12, "INTO       ", 0x10, 90); // runs into CYCLE's cluster
    v.chain({90, 50});
    v.setfat(50, 0xFFF);
    v.entry(-1, 13, "SHARE   BIN", 0x20, 100, 1024); // cross-linked with FINE.BIN
    v.setfat(100, 81);
    return v;
}

TEST(sectmap, damagedchainsaremarkedreportedandfinish)
{
    std::string dir = tempdir(), dcp = dir + "/bad.dcp";
    fakevolume v = damagedvolume();
    v.save(dcp);
    int d = v.datastart();
    auto s = [d](int c) { return std::to_string(c - 2 + d); };
    mapresult r = sectmap(quote(dcp));
    EXPECT_EQ(r.status, 1);
    std::vector<mapline> lines = parselisting(r.out);
    std::vector<std::string> want = {
        s(10) + " 10 5000 " + s(10) + "-" + s(12) + "!loop LOOP.BIN",
        s(20) + " 2 1024 " + s(20) + "!pastend FAR.BIN",
        s(30) + " 4 2000 " + s(30) + "-" + s(31) + "!short SHORT.BIN",
        s(40) + " 2 1024 " + s(40) + "!outside FREE.BIN",
        "- 1 100 !short NOCLUST.BIN",
        s(50) + " 1 - " + s(50) + " CYCLE\\",
        s(50) + " 0 - !again CYCLE\\BACK\\", // its clusters are listed once, above
        s(60) + " 1 512 " + s(60) + " CYCLE\\INNER.BIN",
        s(70) + " 2 - " + s(70) + "-" + s(71) + "!loop LOOPDIR\\",
        "- 0 - !outside ZERODIR\\",
        s(80) + " 2 1000 " + s(80) + "-" + s(81) + " FINE.BIN",
        s(4095) + " 1 10 !outside HUGE.BIN",
        s(4095) + " 0 - !outside BIGDIR\\",
        s(296) + " 2 1024 " + s(296) + "!pastend EDGE.BIN",
        s(90) + " 1 - " + s(90) + "!crossed INTO\\",
        s(100) + " 2 1024 " + s(100) + "!shared SHARE.BIN"};
    ASSERT_EQ(lines.size(), want.size()) << r.out;
    for (size_t i = 0; i < want.size(); i++) {
        const mapline &m = lines[i];
        EXPECT_EQ(m.sector + " " + m.sectors + " " + m.bytes + " " + m.extents + " " + m.path,
                  want[i]);
    }
    EXPECT_EQ(r.err, "Damaged cluster chain in LOOP.BIN: it comes back to cluster 11\n"
                     "Damaged cluster chain in FAR.BIN: cluster 2000 lies past the end of the "
                     "volume or of its FAT\n"
                     "Damaged cluster chain in SHORT.BIN: 2 clusters where its size needs 4\n"
                     "Damaged cluster chain in FREE.BIN: cluster 0 is outside 2 to 4079\n"
                     "Damaged cluster chain in NOCLUST.BIN: 0 clusters where its size needs 1\n"
                     "Directory CYCLE\\BACK\\ was listed before; not entered again\n"
                     "Damaged cluster chain in LOOPDIR\\: it comes back to cluster 70\n"
                     "Damaged cluster chain in ZERODIR\\: cluster 0 is outside 2 to 4079\n"
                     "Damaged cluster chain in HUGE.BIN: cluster 4095 is outside 2 to 4079\n"
                     "Damaged cluster chain in BIGDIR\\: cluster 4095 is outside 2 to 4079\n"
                     "Damaged cluster chain in EDGE.BIN: cluster 297 lies past the end of the "
                     "volume or of its FAT\n"
                     "Directory INTO\\ runs into another directory's clusters; not entered\n"
                     "Damaged cluster chain in SHARE.BIN: cluster 81 is in the chain of an entry "
                     "listed before\n");
    // The same entries named one by one are marked the same way
    // (a cross-linked file, named, is listed whole: the user asked for it).
    mapresult one =
        sectmap(quote(dcp) + " LOOP.BIN FINE.BIN 'CYCLE\\BACK\\INNER.BIN' SHARE.BIN");
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.err, "Damaged cluster chain in LOOP.BIN: it comes back to cluster 11\n");
    ASSERT_EQ(parselisting(one.out).size(), 4u);
    EXPECT_EQ(parselisting(one.out)[3].extents, s(100) + "," + s(81));
    // The reverse lookup finds sectors through sound parts of damaged chains.
    EXPECT_EQ(sectmap("-s " + s(12) + " " + quote(dcp)).out, s(12) + ": LOOP.BIN byte 1024\n");
    EXPECT_EQ(sectmap("-s " + s(60) + " " + quote(dcp)).out, s(60) + ": CYCLE\\INNER.BIN byte 0\n");
}

TEST(sectmap, acutshortimageismarkedpastimage)
{
    // The image ends before the directory's cluster, which the volume's
    // sector count still holds: a sound chain whose read fails, on sectors
    // that the file does not have.
    std::string dir = tempdir(), dcp = dir + "/u.dcp";
    fakevolume v = smallvolume();
    v.entry(-1, 0, "GONE       ", 0x10, 200);
    v.chain({200});
    v.entry(-1, 1, "HERE    BIN", 0x20, 3, 10);
    v.chain({3});
    v.img.resize((size_t)v.clusteroffset(100));
    v.save(dcp);
    int d = v.datastart();
    mapresult r = sectmap(quote(dcp));
    EXPECT_EQ(r.status, 1);
    std::vector<mapline> lines = parselisting(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0].extents, std::to_string(200 - 2 + d) + "!pastimage!unread");
    EXPECT_EQ(lines[0].path, "GONE\\");
    EXPECT_EQ(lines[1].extents, std::to_string(3 - 2 + d));
    EXPECT_EQ(r.err, "Could not read directory GONE\\\n"
                     "GONE\\ lies past the end of the image file\n");
    // -s: the last whole sector in the file, then the first one cut off.
    int last = (int)((v.img.size() - 162) / v.bps);
    for (int sector : {last - 1, last}) {
        r = sectmap("-s " + std::to_string(sector) + " " + quote(dcp));
        EXPECT_EQ(r.status, sector == last ? 1 : 0) << sector;
        EXPECT_EQ(r.out, std::to_string(sector) + (sector == last ? ": past the end of the image file\n"
                                                                  : ": free\n"));
    }
}

TEST(sectmap, reverselookupofbadlostandclaimedclusters)
{
    std::string dir = tempdir(), dcp = dir + "/c.dcp";
    fakevolume v = smallvolume();
    v.setfat(90, 0xFF7);
    v.chain({100, 101}); // in use, but no entry reaches it
    v.entry(-1, 0, "CLAIM   BIN", 0x20, 110, 10); // its cluster is marked free
    v.save(dcp);
    auto s = [&v](int c) { return std::to_string(c - 2 + v.datastart()); };
    EXPECT_EQ(sectmap("-s " + s(90) + " " + quote(dcp)).out, s(90) + ": bad cluster\n");
    EXPECT_EQ(sectmap("-s " + s(101) + " " + quote(dcp)).out, s(101) + ": lost\n");
    EXPECT_EQ(sectmap("-s " + s(110) + " " + quote(dcp)).out, s(110) + ": CLAIM.BIN byte 0\n");
    EXPECT_EQ(sectmap("-s " + s(111) + " " + quote(dcp)).out, s(111) + ": free\n");
    // No sectors per cluster: nothing of the data area is a cluster.
    v.img[162 + 13] = 0;
    v.save(dcp);
    EXPECT_EQ(sectmap("-s " + s(90) + " " + quote(dcp)).out, s(90) + ": unused\n");
}

TEST(sectmap, oddgeometriesandsizes)
{
    std::string dir = tempdir(), dcp = dir + "/g.dcp";
    // More sectors than a FAT12 volume has clusters for: the rest is unused.
    fakevolume big;
    big.total = 3000;
    big.spf = 4;
    big.build();
    big.entry(-1, 0, "PASTFAT BIN", 0x20, 1362, 1536);
    big.setfat(1362, 1363);
    big.setfat(1363, 1364); // past the 1364 entries of its 4-sector FAT
    big.save(dcp);
    mapresult past = sectmap(quote(dcp));
    EXPECT_EQ(past.out, " 1383     3     1536 1383-1384!pastend PASTFAT.BIN\n");
    EXPECT_EQ(sectmap("-s 1384 " + quote(dcp)).out, "1384: PASTFAT.BIN byte 512\n");
    // Past the entries of its FAT, clusters are unused too.
    EXPECT_EQ(sectmap("-s 2900 " + quote(dcp)).out, "2900: unused\n");
    EXPECT_EQ(sectmap("-s 1385 " + quote(dcp)).out, "1385: unused\n");

    // A data area that starts before the first cluster's sectors would: a
    // cluster 1 gives a negative sector, as sectdefs gives it too.
    fakevolume low = smallvolume();
    low.fats = 0;
    low.rootentries = 16;
    low.spc = 4;
    low.build();
    low.entry(-1, 0, "ONE     BIN", 0x20, 1, 10);
    low.save(dcp);
    mapresult r = sectmap(quote(dcp));
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(parselisting(r.out).size(), 1u) << r.out;
    EXPECT_EQ(parselisting(r.out)[0].sector, "-2");
    EXPECT_EQ(sectdefsgives(dcp, dir, "S ONE.BIN\n"), "%define S -2\n");

    // No sectors per cluster: no chain has a cluster inside the volume.
    fakevolume none = smallvolume();
    none.entry(-1, 0, "A       BIN", 0x20, 2, 600);
    none.chain({2});
    none.img[162 + 13] = 0;
    none.save(dcp);
    r = sectmap(quote(dcp));
    EXPECT_EQ(r.out, "    5     2      600 !pastend    A.BIN\n");
    EXPECT_EQ(r.err, "Damaged cluster chain in A.BIN: cluster 2 lies past the end of the volume "
                     "or of its FAT\n");

    // A size of 4 GiB less a byte: what it would need, in full.
    fakevolume huge = smallvolume();
    huge.entry(-1, 0, "HUGE    BIN", 0x20, 2, -1);
    huge.chain({2});
    huge.save(dcp);
    r = sectmap(quote(dcp));
    EXPECT_EQ(r.out, "    5 8388608 4294967295 5!short     HUGE.BIN\n");
    EXPECT_EQ(r.err, "Damaged cluster chain in HUGE.BIN: 1 clusters where its size needs 8388608\n");
}

TEST(sectmap, namesareshownasthelookupfindsthem)
{
    std::string dir = tempdir(), dcp = dir + "/n.dcp";
    fakevolume v = smallvolume();
    v.entry(-1, 0, "README     ", 0x20, 10, 10);
    v.entry(-1, 1, "\x05" "KANJI  TXT", 0x20, 11, 10); // stands for a first byte 0xE5
    v.entry(-1, 2, "\x95\x5C" "DIR      ", 0x10, 12); // Shift-JIS, 0x5C trail byte
    v.entry(12, 0, ".          ", 0x10, 12);
    v.entry(12, 1, "..         ", 0x10, 0);
    v.entry(12, 2, "A       B  ", 0x06, 13, 10); // hidden and system still count
    v.entry(-1, 3, "\xE5" "GONE   BIN", 0x20, 14, 10);
    v.entry(-1, 4, "VOLUME     ", 0x08, 0);
    v.entry(-1, 5, "LONGNAMEXYZ", 0x0F, 0);
    v.entry(-1, 6, "X       BIN", 0x20, 15, 10);
    v.img[(size_t)v.rootoffset() + 6 * 32] = 0; // a free slot with a name behind it
    v.entry(-1, 7, "LAST    BIN", 0x20, 16, 10);
    v.entry(-1, 8, "        TXT", 0x20, 0, 0); // no name part: shown as stored
    for (int c = 10; c <= 16; c++)
        v.chain({c});
    v.save(dcp);
    mapresult r = sectmap(quote(dcp));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<mapline> lines = parselisting(r.out);
    std::vector<std::string> want = {"README", "\xE5" "KANJI.TXT", "\x95\x5C" "DIR\\",
                                     "\x95\x5C" "DIR\\A.B", "LAST.BIN", ".TXT"};
    ASSERT_EQ(lines.size(), want.size()) << r.out;
    std::string list, defs;
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(lines[i].path, want[i]);
        if (lines[i].sector == "-")
            continue;
        list += "S" + std::to_string(i) + " " + lines[i].path + "\n";
        defs += "%define S" + std::to_string(i) + " " + lines[i].sector + "\n";
    }
    // Every listed path is one that sectdefs resolves, to the same sector.
    EXPECT_EQ(sectdefsgives(dcp, dir, list), defs);
}

TEST(sectmap, openingfailuresgotostandarderror)
{
    std::string dir = tempdir(), dcp = dir + "/d.dcp";
    fakevolume v;
    v.build();
    bytes img = v.img;
    mapresult r = sectmap(quote(dir + "/none.dcp"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Could not open image " + dir + "/none.dcp for reading\n");
    struct cut {
        size_t size;
        const char *message;
    } cuts[] = {{100, "Could not read disk properties\n"},
                {162 + 512 + 100, "Could not read FAT table\n"},
                {(size_t)v.rootoffset() + 100, "Could not read root directory of disk\n"}};
    for (const cut &c : cuts) {
        writefile(dcp, bytes(img.begin(), img.begin() + (long)c.size));
        for (const char *args : {"", "-s 0 ", "-c "}) {
            r = sectmap(args + quote(dcp));
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, c.message);
        }
    }
}

TEST(sectmap, commandlineoptionsandnumbers)
{
    std::string dir = tempdir(), dcp = dir + "/d.dcp";
    fakevolume v;
    v.build();
    v.entry(-1, 0, "-DASH   BIN", 0x20, 2, 10);
    v.chain({2});
    v.save(dcp);
    std::string line = "   33     1       10 33          -DASH.BIN\n";
    EXPECT_EQ(sectmap(quote(dcp)).out, line);
    EXPECT_EQ(sectmap(quote(dcp) + " -c").out, line); // options may follow
    EXPECT_EQ(sectmap("-- " + quote(dcp) + " -DASH.BIN").out, line);
    for (const char *form : {"-s 33 ", "-s33 ", "--sector 33 ", "--sector=33 ", "-s 0033 "}) {
        mapresult r = sectmap(form + quote(dcp));
        EXPECT_EQ(r.status, 0) << form;
        EXPECT_EQ(r.out, "33: -DASH.BIN byte 0\n") << form;
    }
    for (const char *bad : {"''", "-1", "3x", "+3", "2147483648", "99999999999"}) {
        mapresult r = sectmap("-s " + std::string(bad) + " " + quote(dcp));
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_EQ(r.err, "Bad sector number\n") << bad;
    }
    std::vector<std::string> wrongs = {"",   "-c", "-s 3", "-s 3 " + quote(dcp) + " X.BIN",
                                       "-c -s 3 " + quote(dcp), "-x " + quote(dcp), "-s"};
    for (const std::string &wrong : wrongs) {
        mapresult r = sectmap(wrong);
        EXPECT_EQ(r.status, 1) << wrong;
        EXPECT_EQ(r.out, "") << wrong;
        EXPECT_NE(r.err, "") << wrong;
    }
    mapresult help = sectmap("--help"), version = sectmap("--version");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.substr(0, help.out.find('\n')),
              "Usage: sectmap [-c] [-l] [-u] [-F FORMAT] [-d N] IMAGE [PATH...]");
    EXPECT_EQ(sectmap("").err, help.out);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("sectmap (dcptools) ") + DCP_VERSION + "\n");
}

TEST(sectmap, afullstandardoutputfails)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    for (const char *args : {"", "-s 0 "}) {
        mapresult r = sectmap(args + quote(dcp) + " >/dev/full");
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, "Could not write standard output\n") << args;
    }
}

// The picture's colours change no symbol, come only when asked or on a
// terminal, and each file of one run has its own while a fragmented one
// stands out; an SVG file is never written over without -f; 80 columns fit
// every floppy type.
TEST(sectmap, thepicturescoloursandits80columns)
{
    std::string dir = tempdir(), dcp = dir + "/disk.dcp";
    makerealimage(dcp, "1.2M");
    filltree(dcp, dir);
    mapresult plain = sectmap("--map --color=never " + quote(dcp));
    mapresult colored = sectmap("--map --color=always " + quote(dcp));
    std::string stripped;
    for (size_t i = 0; i < colored.out.size(); i++) {
        if (colored.out[i] == '\x1b')
            i = colored.out.find('m', i);
        else
            stripped += colored.out[i];
    }
    EXPECT_EQ(stripped, plain.out);
    EXPECT_NE(colored.out, plain.out);
    // FM.DRV lies in two runs: its symbol stands out (white on red).
    char fm = plain.out[plain.out.rfind('\n', plain.out.find("FM.DRV")) + 1];
    EXPECT_NE(colored.out.find(std::string("\x1b[1;97;41m") + fm), std::string::npos);
    EXPECT_EQ(sectmap("--map " + quote(dcp)).out, plain.out); // not a terminal: no colour
    EXPECT_EQ(sectmap("--map --color=sometimes " + quote(dcp)).status, 1);
    EXPECT_EQ(sectmap("--map -s 3 " + quote(dcp)).status, 1);
    for (const char *type : {"2hd", "2hc", "2hq", "2dd"}) {
        std::string image = dir + "/" + type + ".dcp";
        ASSERT_EQ(sh(std::string(DCPIMAGE_BIN) + " create " + type + " " + quote(image)), 0);
        std::istringstream lines(sectmap("--map " + quote(image)).out);
        for (std::string line; std::getline(lines, line);)
            if (isdigit((unsigned char)line[1])) { // the grid, the legend aside
                EXPECT_LE(line.size(), 80u) << type << ": " << line;
            }
    }
    std::string svg = dir + "/m.svg";
    writetext(svg, "mine");
    mapresult r = sectmap("--svg " + quote(svg) + " " + quote(dcp));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, svg + " exists; -f overwrites it\n");
    EXPECT_EQ(texts(readfile(svg)), "mine");
    EXPECT_EQ(sectmap("-f --svg " + quote(svg) + " " + quote(dcp)).status, 0);
    EXPECT_EQ(texts(readfile(svg)).substr(0, 5), "<?xml");
}
