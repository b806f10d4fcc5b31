// FAT16 volumes as mkfs.fat makes them and mtools fills them, raw and of
// any size: every program against mtools and fsck.fat, on every sector
// size; sectors past 65535; the FAT's marks; the FAT type and its refusals;
// and the volumes dcpimage creates.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "testutil.h"
#include "volume/volume.h"

static void mt(const std::string &cmd, const std::string &img, const std::string &args)
{
    std::string line = "MTOOLS_SKIP_CHECK=1 " + cmd + " -i " + quote(img) + " " + args;
    ASSERT_EQ(sh(line + " >/dev/null 2>&1"), 0) << line;
}

static std::string mtout(const std::string &cmd, const std::string &img, const std::string &args)
{
    std::string out;
    run("MTOOLS_SKIP_CHECK=1 " + cmd + " -i " + quote(img) + " " + args + " 2>&1", &out);
    return out;
}

static toolrun tool(const std::string &bin, const std::string &args)
{
    return runtool(bin + " " + args);
}

// fsck.fat -n's findings: empty when it reports only its banner and the
// volume's summary line.
static std::string fsckfindings(const std::string &img)
{
    std::string out, findings;
    int status = run("fsck.fat -n " + quote(img) + " 2>&1", &out);
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("fsck.fat ", 0) != 0 && line.find(" files, ") == std::string::npos)
            findings += line + "\n";
    return status == 0 ? findings : "status " + std::to_string(status) + "\n" + out;
}

static void hostfile(const std::string &path, size_t n, int seed)
{
    bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (unsigned char)(i * 13 + seed + i / 509);
    writefile(path, b);
}


// A volume of mkfs.fat, filled by mtools: directories three deep, enough
// entries to make DATA span clusters, and chains fragmented by mdel.
struct fat16disk {
    std::string dir = tempdir(), img = dir + "/vol.img";
    std::vector<std::string> paths; // in the volume's backslash form
    std::set<std::string> empty;    // those of no bytes, which have no sector
    fat16disk(int bps, int spc, int kib)
    {
        EXPECT_EQ(sh("mkfs.fat -C -F 16 -S " + std::to_string(bps) + " -s " + std::to_string(spc) +
                     " " + quote(img) + " " + std::to_string(kib) + " >/dev/null"),
                  0);
        mt("mmd", img, "::BOOT ::SYS ::SYS/DRV ::SYS/DRV/SND ::DATA");
        put("KERNEL.SYS", 9000);
        put("BOOT/LOADER.BIN", 3000);
        for (int i = 0; i < 70; i++)
            put("DATA/F" + std::to_string(i) + ".BIN", 600 * (i % 7) + i);
        mt("mdel", img, "::DATA/F1.BIN ::DATA/F9.BIN ::DATA/F20.BIN");
        for (const char *gone : {"DATA\\F1.BIN", "DATA\\F9.BIN", "DATA\\F20.BIN"})
            paths.erase(std::find(paths.begin(), paths.end(), gone));
        put("SYS/DRV/SND/FM.DRV", 40000);
        put("SYS/DRV/VIDEO.DRV", 20000);
        put("SYS/EMPTY.TXT", 0);
    }
    void put(const std::string &path, size_t n)
    {
        hostfile(dir + "/payload", n, (int)path.size());
        mt("mcopy -o", img, quote(dir + "/payload") + " " + quote("::" + path));
        std::string p = path;
        for (char &c : p)
            c = c == '/' ? '\\' : c;
        paths.push_back(p);
        if (n == 0)
            empty.insert(p);
    }
    int sectorof(const std::string &path) const { return mshowfatsectorat(img, 0, path); }
};

// sectmap's listing: by path, the first sector.
static std::map<std::string, int> firstsectors(const std::string &img)
{
    std::map<std::string, int> m;
    std::istringstream in(tool(SECTMAP_BIN, quote(img)).out);
    std::string line, sector, sectors, bytesfield, runs, path;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        f >> sector >> sectors >> bytesfield >> runs >> path;
        m[path] = sector == "-" ? 0 : std::stoi(sector);
    }
    return m;
}

TEST(fat16, everyprogramagreeswithmtoolsoneverysectorsize)
{
    struct shape {
        int bps, spc, kib;
    } shapes[] = {{512, 4, 10240}, {1024, 2, 12288}, {2048, 1, 10240}, {4096, 1, 20480}};
    for (const shape &s : shapes) {
        SCOPED_TRACE(std::to_string(s.bps) + "/" + std::to_string(s.spc));
        fat16disk d(s.bps, s.spc, s.kib);
        auto listed = firstsectors(d.img);
        for (const std::string &p : d.paths) // an empty file's is "-"
            EXPECT_EQ(listed[p], d.empty.count(p) ? 0 : d.sectorof(p)) << p;
        EXPECT_EQ(listed.size(), d.paths.size() + 5); // and the five directories
        // Every path mdir lists, sectmap lists.
        std::istringstream mdir(mtout("mdir -/ -b", d.img, "::"));
        int mdirlines = 0;
        for (std::string line; std::getline(mdir, line); mdirlines++) {
            std::string p = line.substr(3); // past "::/"
            for (char &c : p)
                c = c == '/' ? '\\' : c;
            EXPECT_TRUE(listed.count(p) || listed.count(p + "\\")) << p;
        }
        EXPECT_EQ(mdirlines, (int)listed.size());
        EXPECT_EQ(tool(SECTMAP_BIN, "-c " + quote(d.img + "")).status, 1); // FM.DRV is split

        // sectget -a gives what mcopy -s gives.
        std::string got = d.dir + "/got", want = d.dir + "/want";
        ASSERT_EQ(sh("mkdir " + quote(got) + " " + quote(want)), 0);
        EXPECT_EQ(tool(SECTGET_BIN, "-a " + quote(got) + " " + quote(d.img)).status, 0);
        mt("mcopy -s -n", d.img, "::* " + quote(want));
        EXPECT_EQ(sh("diff -r " + quote(got) + " " + quote(want)), 0);

        // Every change is seen by mtools and leaves a volume fsck.fat passes.
        // A list of two puts, and a smaller file over KERNEL.SYS that keeps
        // its first sector (-k).
        hostfile(d.dir + "/new", 3 * s.bps * s.spc + 5, 9);
        hostfile(d.dir + "/small", 100, 4);
        writetext(d.dir + "/puts", "DATA\\NEW.BIN " + d.dir + "/new\nDATA\\TWO.BIN " + d.dir +
                                       "/small\n");
        EXPECT_EQ(tool(SECTPUT_BIN, "-l " + quote(d.dir + "/puts") + " " + quote(d.img)).status, 0);
        int kernel = d.sectorof("KERNEL.SYS");
        EXPECT_EQ(tool(SECTPUT_BIN, "-k " + quote(d.img) + " KERNEL.SYS " + quote(d.dir + "/small"))
                      .status, 0);
        EXPECT_EQ(d.sectorof("KERNEL.SYS"), kernel);
        EXPECT_EQ(tool(SECTRM_BIN, quote(d.img) + " 'DATA\\F3.BIN'").status, 0);
        EXPECT_EQ(tool(SECTMV_BIN, quote(d.img) + " KERNEL.SYS 'BOOT\\KERNEL.SYS'").status, 0);
        EXPECT_EQ(tool(SECTATTR_BIN, "+r +h " + quote(d.img) + " 'BOOT\\LOADER.BIN'").status, 0);
        EXPECT_EQ(tool(DCPIMAGE_BIN, "label " + quote(d.img) + " BIGDISK").status, 0);
        EXPECT_EQ(fsckfindings(d.img), "");
        mt("mcopy -n", d.img, "::DATA/NEW.BIN " + quote(d.dir + "/back"));
        EXPECT_EQ(readfile(d.dir + "/back"), readfile(d.dir + "/new"));
        EXPECT_EQ(mtout("mdir -b", d.img, "::DATA").find("/F3.BIN"), std::string::npos);
        EXPECT_NE(mtout("mdir -b", d.img, "::BOOT").find("KERNEL.SYS"), std::string::npos);
        EXPECT_NE(mtout("mattrib", d.img, "::BOOT/LOADER.BIN").find("  HR  "), std::string::npos)
            << mtout("mattrib", d.img, "::BOOT/LOADER.BIN");
        EXPECT_NE(mtout("mlabel -s", d.img, "::").find("BIGDISK"), std::string::npos);

        // sectdefs and tablepatch find what mtools finds.
        writetext(d.dir + "/list", "NEW DATA\\NEW.BIN\nSND SYS\\DRV\\SND\\FM.DRV\n");
        EXPECT_EQ(tool(SECTDEFS_BIN, quote(d.img) + " " + quote(d.dir + "/list") + " " +
                                         quote(d.dir + "/defs.inc")).status, 0);
        EXPECT_EQ(texts(readfile(d.dir + "/defs.inc")),
                  "%define NEW " + std::to_string(d.sectorof("DATA\\NEW.BIN")) + "\n%define SND " +
                      std::to_string(d.sectorof("SYS\\DRV\\SND\\FM.DRV")) + "\n");
        writetext(d.dir + "/fix", "100 SYS\\DRV\\VIDEO.DRV\n7 DATA\\NEW.BIN\n");
        EXPECT_EQ(tool(TABLEPATCH_BIN, quote(d.img) + " " + quote(d.dir + "/fix")).status, 0);
        mt("mcopy -n", d.img, "::SYS/DRV/VIDEO.DRV " + quote(d.dir + "/video"));
        bytes v = readfile(d.dir + "/video");
        ASSERT_EQ(v.size(), 20000u);
        EXPECT_EQ(getu16l(&v[100]), 7);
        EXPECT_EQ(getu16l(&v[102]), d.sectorof("DATA\\NEW.BIN"));
        EXPECT_EQ(fsckfindings(d.img), "");
    }
}

TEST(fat16, sectorspast65535arewholeandtablepatchrefusesthem)
{
    // 512-byte sectors: a 40 MB file first puts the next past sector 65535.
    std::string dir = tempdir(), img = dir + "/vol.img", out;
    ASSERT_EQ(sh("mkfs.fat -C -F 16 -S 512 -s 4 " + quote(img) + " 65536 >/dev/null"), 0);
    ASSERT_EQ(sh("truncate -s 40M " + quote(dir + "/big")), 0);
    hostfile(dir + "/table", 64, 1);
    mt("mcopy", img, quote(dir + "/big") + " ::BIG.BIN");
    mt("mcopy", img, quote(dir + "/table") + " ::TABLE.BIN");
    int high = firstsectors(img)["TABLE.BIN"];
    ASSERT_GT(high, 65535 + 16);
    writetext(dir + "/list", "T TABLE.BIN\n");
    ASSERT_EQ(tool(SECTDEFS_BIN, quote(img) + " " + quote(dir + "/list") + " " +
                                     quote(dir + "/defs")).status, 0);
    EXPECT_EQ(texts(readfile(dir + "/defs")), "%define T " + std::to_string(high) + "\n");
    EXPECT_EQ(tool(SECTMAP_BIN, "-s " + std::to_string(high) + " " + quote(img)).out,
              std::to_string(high) + ": TABLE.BIN byte 0\n");

    bytes before = readfile(img);
    writetext(dir + "/fix", "0 TABLE.BIN\n1 BIG.BIN\n2 TABLE.BIN\n");
    toolrun r = tool(TABLEPATCH_BIN, quote(img) + " " + quote(dir + "/fix"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "TABLE.BIN: sector " + std::to_string(high) +
                         " does not fit in a 16-bit record; nothing written\n");
    EXPECT_EQ(readfile(img), before);
    // A bias that brings it under 65536 makes it fit.
    r = tool(TABLEPATCH_BIN, quote(img) + " " + quote(dir + "/fix") + " 20");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(" less bias 20 is "), std::string::npos) << r.out;
    std::string bias = std::to_string(high - 65535);
    r = tool(TABLEPATCH_BIN, quote(img) + " " + quote(dir + "/fix") + " " + bias);
    EXPECT_EQ(r.status, 0) << r.out;
    mt("mcopy -n", img, "::TABLE.BIN " + quote(dir + "/back"));
    EXPECT_EQ(getu16l(&readfile(dir + "/back")[6]), 65535);

    // Clusters past 20000: a put, a move and a removal there, seen by mtools.
    hostfile(dir + "/high", 30000, 5);
    EXPECT_EQ(tool(SECTPUT_BIN, quote(img) + " HIGH.BIN " + quote(dir + "/high")).status, 0);
    EXPECT_GT(firstsectors(img)["HIGH.BIN"], high);
    EXPECT_EQ(tool(SECTMV_BIN, quote(img) + " HIGH.BIN TOP.BIN").status, 0);
    mt("mcopy -n", img, "::TOP.BIN " + quote(dir + "/back"));
    EXPECT_EQ(readfile(dir + "/back"), readfile(dir + "/high"));
    EXPECT_EQ(tool(SECTRM_BIN, quote(img) + " TABLE.BIN").status, 0);
    EXPECT_EQ(fsckfindings(img), "");
    EXPECT_EQ(mtout("mdir -b", img, "::"), "::/BIG.BIN\n::/TOP.BIN\n");
}

TEST(fat16, chainendsandbadmarks)
{
    // A 3-cluster file whose last entry is each mark; a free cluster marked bad.
    std::string dir = tempdir(), img = dir + "/vol.img";
    ASSERT_EQ(sh("mkfs.fat -C -F 16 -S 1024 -s 2 " + quote(img) + " 12288 >/dev/null"), 0);
    hostfile(dir + "/f", 5000, 3);
    mt("mcopy", img, quote(dir + "/f") + " ::F.BIN");
    bytes blank = readfile(img);
    int fat = getu16l(&blank[14]) * 1024, first = firstsectors(img)["F.BIN"];
    std::string listing = tool(SECTMAP_BIN, quote(img)).out;
    for (int mark : {0xFFF0, 0xFFF6, 0xFFF7, 0xFFF8, 0xFFFF}) {
        bytes b = blank;
        setu16l(&b[fat + 2 * 4], mark); // F.BIN is clusters 2 to 4
        writefile(img, b);
        // Each ends the chain; a bad mark is damage, which no put may set free.
        toolrun m = tool(SECTMAP_BIN, quote(img));
        toolrun p = tool(SECTPUT_BIN, quote(img) + " F.BIN " + quote(dir + "/f"));
        if (mark != 0xFFF7) {
            EXPECT_EQ(m.status, 0) << std::hex << mark << m.err;
            EXPECT_EQ(m.out, listing) << std::hex << mark;
            EXPECT_EQ(p.status, 0) << std::hex << mark << p.err;
            continue;
        }
        EXPECT_EQ(m.err, "Damaged cluster chain in F.BIN: cluster 4 is marked bad in the FAT\n");
        EXPECT_NE(m.out.find("!badcluster F.BIN"), std::string::npos) << m.out;
        EXPECT_EQ(p.err, "F.BIN: the cluster chain of F.BIN runs into cluster 4, which the FAT "
                         "marks bad\n");
    }
    // A free cluster marked bad is never taken: the put goes past it.
    bytes b = blank;
    setu16l(&b[fat + 2 * 5], 0xFFF7);
    writefile(img, b);
    EXPECT_EQ(tool(SECTMAP_BIN, "-s " + std::to_string(first + 6) + " " + quote(img)).out,
              std::to_string(first + 6) + ": bad cluster\n");
    EXPECT_EQ(tool(SECTPUT_BIN, quote(img) + " G.BIN " + quote(dir + "/f")).status, 0);
    EXPECT_EQ(firstsectors(img)["G.BIN"], first + 8);
    EXPECT_EQ(fsckfindings(img), "");
}

TEST(fat16, thefattypeandwhatisrefused)
{
    std::string dir = tempdir(), img = dir + "/vol.img";
    // FAT32 is named, not misread.
    ASSERT_EQ(sh("mkfs.fat -C -F 32 -S 512 " + quote(img) + " 66000 >/dev/null"), 0);
    toolrun r = tool(SECTMAP_BIN, quote(img));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The volume is FAT32, which these tools do not read\n");
    r = tool(DCPIMAGE_BIN, "info " + quote(img));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\nproblem: The volume is FAT32, which these tools do not read\n"
                         "agrees: no\n"), std::string::npos) << r.out;
    // A FAT12 volume of no floppy's size is a raw volume too; -F raw forces one.
    ASSERT_EQ(sh("rm " + quote(img) + " && mkfs.fat -C -F 12 -S 512 " + quote(img) +
                 " 3000 >/dev/null"), 0);
    hostfile(dir + "/f", 2000, 1);
    mt("mcopy", img, quote(dir + "/f") + " ::F.BIN");
    EXPECT_EQ(tool(SECTMAP_BIN, quote(img)).out, tool(SECTMAP_BIN, "-F raw " + quote(img)).out);
    EXPECT_NE(tool(SECTMAP_BIN, quote(img)).out.find("F.BIN"), std::string::npos);
    // 4093 clusters, fewer than FAT12 numbers but at or past 4085: FAT16.
    std::string edge = dir + "/edge.img";
    ASSERT_EQ(sh("mkfs.fat -C -F 16 -S 512 -s 1 -R 1 -r 512 " + quote(edge) + " 2080 >/dev/null"),
              0);
    hostfile(dir + "/g", 3000, 6);
    mt("mcopy", edge, quote(dir + "/f") + " ::F.BIN");
    mt("mcopy", edge, quote(dir + "/g") + " ::G.BIN");
    EXPECT_EQ(firstsectors(edge)["G.BIN"], mshowfatsectorat(edge, 0, "G.BIN"));
    EXPECT_EQ(tool(SECTPUT_BIN, quote(edge) + " H.BIN " + quote(dir + "/g")).status, 0);
    EXPECT_EQ(fsckfindings(edge), "");
    // A volume larger than its file, by a sector, is none: it is named.
    bytes vol = readfile(img);
    int64_t volbytes = (int64_t)getu16l(&vol[19]) * getu16l(&vol[11]);
    vol.resize((size_t)volbytes - 512);
    writefile(img, vol);
    r = tool(SECTMAP_BIN, quote(img));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, img + " looks like a raw FAT volume of " + std::to_string(volbytes) +
                         " bytes, 512 bytes short of them; -F raw reads it\n");

    // A 512 MB volume is read as a small one is.
    std::string big = dir + "/big.img";
    ASSERT_EQ(sh("mkfs.fat -C -F 16 -S 2048 -s 4 " + quote(big) + " 524288 >/dev/null"), 0);
    mt("mmd", big, "::A ::A/B");
    mt("mcopy", big, quote(dir + "/f") + " ::A/B/F.BIN");
    toolrun l = tool(SECTMAP_BIN, "-l " + quote(big));
    EXPECT_EQ(l.status, 0);
    EXPECT_NE(l.out.find(" -A--- "), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("A\\B\\F.BIN"), std::string::npos) << l.out;
    toolrun svg = tool(SECTMAP_BIN, "--svg - " + quote(big));
    EXPECT_NE(svg.out.find(": the volume, 262144 sectors, 60 rows of 64 cells, a cell for every 69 "
                           "sectors</text>"), std::string::npos) << svg.out.substr(0, 600);
    EXPECT_NE(svg.out.find("<title>138 to 206: sector "), std::string::npos);
    toolrun m = tool(SECTMAP_BIN, "--map " + quote(big));
    EXPECT_NE(m.out.find(": the volume, 262144 sectors of 2048 bytes, a symbol for every 69 "
                         "sectors, 4416 a line\n       0 @#a...."), std::string::npos)
        << m.out.substr(0, 200);
    int lines = 0, widest = 0;
    std::istringstream in(m.out);
    for (std::string line; std::getline(in, line); lines++)
        widest = lines > 0 ? std::max(widest, (int)line.size()) : 0; // past the heading
    EXPECT_LE(lines, 1 + 60 + 7); // and the legend's lines
    EXPECT_LE(widest, 80);
}

TEST(fat16, theshapeofanewvolume)
{
    // Clusters of 2 KB, doubled until 16 bits number them, halved where
    // fewer sectors make it FAT12; none past 64 KB clusters.
    struct row {
        int32_t sectors, bytes, ok, spc, fatsectors;
    } rows[] = {{40960, 1024, 1, 2, 40},  {262144, 1024, 1, 4, 128}, {131072, 2048, 1, 2, 64},
                {8192, 1024, 1, 1, 16},   {4000, 1024, 0, 1, 0},     {2097152, 4096, 0, 0, 0},
                {131402, 1024, 1, 2, 128}, {131403, 1024, 1, 4, 65},
                {40109, 1024, 1, 2, 40}}; // 39 sectors would hold the clusters, not the two before
    for (const row &w : rows) {
        volumeshape s;
        EXPECT_EQ(fat16shape(w.sectors, w.bytes, &s), w.ok) << w.sectors;
        if (!w.ok)
            continue;
        EXPECT_EQ(s.clustersectors, w.spc) << w.sectors;
        EXPECT_EQ(s.fatsectors, w.fatsectors) << w.sectors;
        // Its FAT holds an entry for every cluster and the two before;
        // one sector less would not, with the cluster it would make room for.
        auto clusters = [&](int64_t fatsectors) {
            return (w.sectors - 1 - 2 * fatsectors - 3072 * 32 / w.bytes) / s.clustersectors;
        };
        EXPECT_GE((int64_t)s.fatsectors * w.bytes / 2, clusters(s.fatsectors) + 2) << w.sectors;
        EXPECT_LT((int64_t)(s.fatsectors - 1) * w.bytes / 2, clusters(s.fatsectors - 1) + 2)
            << w.sectors;
    }
}

TEST(fat16, dcpimagecreatesvolumesthatdosreads)
{
    struct row {
        std::string type, opts;
        int bps, spc, fatsectors;
    } rows[] = {{"fat16:40M", "", 1024, 2, 40},
                {"fat16:12M", "-S 512", 512, 4, 24},
                {"fat16:24M", "-S 4096", 4096, 1, 3}};
    std::string dir = tempdir();
    for (const row &w : rows) {
        SCOPED_TRACE(w.type + " " + w.opts);
        std::string img = dir + "/v.img";
        toolrun r = tool(DCPIMAGE_BIN, "create -f -L NECDISK " + w.opts + " " + w.type + " " +
                                           quote(img));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(fsckfindings(img), "");
        r = tool(DCPIMAGE_BIN, "info " + quote(img));
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("container: raw\nvolume: FAT16, "), std::string::npos) << r.out;
        bytes b = readfile(img);
        EXPECT_EQ(getu16l(&b[11]), w.bps);
        EXPECT_EQ(b[13], w.spc);
        EXPECT_EQ(getu16l(&b[14]), 1);
        EXPECT_EQ(getu16l(&b[17]), 3072);
        EXPECT_EQ(b[21], 0xF8);
        EXPECT_EQ(getu16l(&b[22]), w.fatsectors);
        EXPECT_EQ(std::string((const char *)&b[54], 8), "FAT16   ");
        hostfile(dir + "/f", 10000, 2);
        EXPECT_EQ(tool(SECTPUT_BIN, quote(img) + " F.BIN " + quote(dir + "/f")).status, 0);
        mt("mcopy -n", img, "::F.BIN " + quote(dir + "/back"));
        EXPECT_EQ(readfile(dir + "/back"), readfile(dir + "/f"));
        EXPECT_NE(mtout("mlabel -s", img, "::").find("NECDISK"), std::string::npos);
    }
    struct refusal {
        std::string args, err;
    } refusals[] = {
        {"create -S 512 fat16:1M v.img",
         "No FAT16 volume is 1M bytes of 512-byte sectors: it has 4085 to 65524 clusters of at "
         "most 64 KB\n"},
        {"create fat16:40M v.dcp", "A FAT16 volume is written raw (-O raw): DCP holds floppies "
                                   "only\n"},
        {"create fat16:1000 v.img", "Bad size 1000: a number of bytes (K, M or G after it for "
                                    "binary kilo-, mega- or gigabytes) that 1024-byte sectors "
                                    "fill\n"},
        {"create -S 512 2hd v.dcp", "A floppy type has its own sector size: -S is for "
                                    "fat16:SIZE\n"}};
    for (const refusal &f : refusals) {
        toolrun r = tool("cd " + quote(dir) + " && " + std::string(DCPIMAGE_BIN), f.args);
        EXPECT_EQ(r.status, 1) << f.args;
        EXPECT_EQ(r.err, f.err) << f.args;
    }
}
