// The containers: each layout, written here from a real volume (D88 with
// its sectors shuffled in each track and two disks, NFD revision 1 with
// retry data, a compact DCP, FDI, raw), is recognised from its content and
// maps every volume sector to the bytes of that sector; damaged ones lack
// exactly the sectors they lose, in one clear result, never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <map>
#include <sstream>

#include "fakevolume.h"
#include "testutil.h"
#include "volume/bytes.h"
#include "volume/image/sectormap.h"

namespace {

struct geometry {
    const char *name;
    int cyl, spt, bytes, n, dcpmedia, fdi, d88media;
};
const geometry g2hd = {"2hd", 77, 8, 1024, 3, 1, 0x90, 0x20};
const geometry g2hq = {"2hq", 80, 18, 512, 2, 3, 0x30, 0x20};
const geometry g2hc = {"2hc", 80, 15, 512, 2, 2, 0x90, 0x20};

void put32(bytes *b, size_t at, uint32_t v)
{
    setu32l(b->data() + at, (int32_t)v);
}

bytes sector(const bytes &vol, const geometry &g, int s)
{
    return bytes(vol.begin() + (long)s * g.bytes, vol.begin() + (long)(s + 1) * g.bytes);
}

// A D88 disk: every track's sectors in reverse R order (an interleaved
// dump); drop and twice name sectors (track, R) to leave out or double.
bytes d88(const bytes &vol, const geometry &g, int protect = 0, std::pair<int, int> drop = {-1, 0},
          std::pair<int, int> twice = {-1, 0})
{
    bytes b(0x2B0, 0);
    b[0x1A] = (unsigned char)protect;
    b[0x1B] = (unsigned char)g.d88media;
    for (int t = 0; t < g.cyl * 2; t++) {
        put32(&b, 0x20 + 4 * t, (uint32_t)b.size());
        for (int r = g.spt; r >= 1; r--) {
            if (drop.first == t && drop.second == r)
                continue;
            bool extra = twice.first == t && twice.second == r;
            for (int k = 0; k < (extra ? 2 : 1); k++) {
                unsigned char h[16] = {(unsigned char)(t / 2), (unsigned char)(t % 2),
                                       (unsigned char)r, (unsigned char)g.n};
                setu16l(h + 4, g.spt - (drop.first == t) + (twice.first == t));
                setu16l(h + 14, g.bytes);
                b.insert(b.end(), h, h + 16);
                bytes s = sector(vol, g, t * g.spt + r - 1);
                b.insert(b.end(), s.begin(), s.end());
            }
        }
    }
    put32(&b, 0x1C, (uint32_t)b.size());
    return b;
}

bytes fdi(const bytes &vol, const geometry &g)
{
    bytes b(4096, 0);
    put32(&b, 4, (uint32_t)g.fdi);
    put32(&b, 8, 4096);
    put32(&b, 12, (uint32_t)vol.size());
    put32(&b, 16, (uint32_t)g.bytes);
    put32(&b, 20, (uint32_t)g.spt);
    put32(&b, 24, 2);
    put32(&b, 28, (uint32_t)g.cyl);
    b.insert(b.end(), vol.begin(), vol.end());
    return b;
}

// DCP storing the tracks whose flag is set; leave out track `gap`.
bytes dcp(const bytes &vol, const geometry &g, int gap = -1)
{
    bytes b(162, 0);
    b[0] = (unsigned char)g.dcpmedia;
    for (int t = 0; t < g.cyl * 2; t++) {
        b[1 + t] = t != gap;
        if (t != gap)
            b.insert(b.end(), vol.begin() + (long)t * g.spt * g.bytes,
                     vol.begin() + (long)(t + 1) * g.spt * g.bytes);
    }
    return b;
}

// NFD: revision 0, or revision 1 with retry data after track 3's sectors.
bytes nfd(const bytes &vol, const geometry &g, int revision)
{
    bytes b(revision == 0 ? 0x10A10 : 0x400 + (size_t)g.cyl * 2 * (16 + 16 * g.spt) + 16, 0);
    memcpy(b.data(), revision == 0 ? "T98FDDIMAGE.R0" : "T98FDDIMAGE.R1", 14);
    b[0x115] = 2;
    for (int i = 0; revision == 0 && i < 163 * 26; i++)
        b[0x120 + (size_t)i * 16] = 0xFF; // no sector in the slot
    size_t map = 0x400;
    for (int t = 0; t < g.cyl * 2; t++) {
        unsigned char *slots = revision == 0 ? b.data() + 0x120 + (size_t)t * 26 * 16 : nullptr;
        if (revision == 1) {
            put32(&b, 0x120 + 4 * t, (uint32_t)map);
            setu16l(b.data() + map, g.spt);
            setu16l(b.data() + map + 2, t == 3);
            slots = b.data() + map + 16;
            map += 16 + 16 * (size_t)g.spt + (t == 3 ? 16 : 0);
        }
        for (int r = 1; r <= g.spt; r++) {
            unsigned char *s = slots + (r - 1) * 16;
            s[0] = (unsigned char)(t / 2), s[1] = (unsigned char)(t % 2), s[2] = (unsigned char)r;
            s[3] = (unsigned char)g.n, s[4] = 1, s[revision == 0 ? 10 : 11] = (unsigned char)g.fdi;
        }
        if (t == 3 && revision == 1) {
            unsigned char *x = slots + g.spt * 16;
            x[9] = 2; // three copies of 100 bytes of retry data
            setu32l(x + 10, 100);
        }
    }
    put32(&b, 0x110, (uint32_t)b.size());
    for (int t = 0; t < g.cyl * 2; t++) {
        b.insert(b.end(), vol.begin() + (long)t * g.spt * g.bytes,
                 vol.begin() + (long)(t + 1) * g.spt * g.bytes);
        if (t == 3 && revision == 1)
            b.insert(b.end(), 300, 0xEE);
    }
    return b;
}

// Opens the bytes as a file and maps them; the map, and the result.
struct mapped {
    sectormap m;
    int result;
    int32_t container;
};

std::unique_ptr<mapped> mapbytes(const bytes &image, int32_t force = -1, int32_t disk = 0)
{
    static std::string dir = tempdir();
    std::string path = dir + "/image";
    writefile(path, image);
    FILE *f = fopen(path.c_str(), "rb");
    auto r = std::make_unique<mapped>();
    r->container = force >= 0 ? force : findcontainer(f, (int64_t)image.size());
    r->result = mapimage(f, &r->m, r->container, disk);
    fclose(f);
    return r;
}

// The sectors of the volume whose bytes the map does not lead to.
std::vector<int> wrongsectors(const bytes &image, const sectormap &m, const bytes &vol,
                              const geometry &g)
{
    std::vector<int> wrong;
    for (int s = 0; s < (int)(vol.size() / g.bytes); s++) {
        int64_t at = sectoroffset(&m, s, g.bytes);
        if (at < 0 || at + g.bytes > (int64_t)image.size() ||
            !std::equal(image.begin() + at, image.begin() + at + g.bytes,
                        vol.begin() + (long)s * g.bytes))
            wrong.push_back(s);
    }
    return wrong;
}

bytes volumeof(const geometry &g, const std::string &dir)
{
    std::string dcpfile = dir + "/" + g.name + ".dcp";
    EXPECT_EQ(sh(std::string(DCPIMAGE_BIN) + " create " + g.name + " " + quote(dcpfile)), 0);
    bytes b = readfile(dcpfile);
    bytes vol(b.begin() + 162, b.end());
    for (size_t i = 0; i < vol.size(); i += 97)
        vol[i] ^= (unsigned char)(i >> 9); // every sector different from the others
    return vol;
}

} // namespace

std::vector<int> span(int from, int to) // from up to to, exclusive
{
    std::vector<int> v;
    for (int s = from; s < to; s++)
        v.push_back(s);
    return v;
}

// Every layout, whole or damaged: recognised from its content, every volume
// sector it holds leading to that sector's bytes, and exactly the sectors it
// loses not in the image.
TEST(containers, everylayoutmapsitssectorsandlacksexactlywhatitloses)
{
    std::string dir = tempdir();
    bytes hd = volumeof(g2hd, dir), hq = volumeof(g2hq, dir), other = hd;
    std::reverse(other.begin(), other.end());
    bytes two = d88(other, g2hd), second = d88(hd, g2hd);
    two.insert(two.end(), second.begin(), second.end());
    bytes cut = d88(hd, g2hd);
    cut.resize(cut.size() - 3000); // the last track's last stored sectors gone
    put32(&cut, 0x1C, (uint32_t)cut.size());
    bytes loop = d88(hd, g2hd);
    for (int t = 10; t < 20; t++) // ten tracks point at track 0's bytes
        put32(&loop, 0x20 + 4 * t, 0x2B0);
    bytes small = d88(hd, g2hd);
    small[0x2B0 + 3] = 2; // track 0's first stored sector (R 8) says 512 bytes
    struct {
        const char *name;
        const geometry *g;
        bytes image;
        int32_t container, disk;
        std::vector<int> lacking;
    } cases[] = {
        {"raw", &g2hd, hd, CONTAINERRAW, 0, {}},
        {"dcp", &g2hd, dcp(hd, g2hd), CONTAINERDCP, 0, {}},
        {"fdi", &g2hq, fdi(hq, g2hq), CONTAINERFDI, 0, {}},
        {"d88 shuffled", &g2hq, d88(hq, g2hq), CONTAINERD88, 0, {}},
        {"d88 second of two disks", &g2hd, two, CONTAINERD88, 1, {}},
        {"nfd r0", &g2hd, nfd(hd, g2hd, 0), CONTAINERNFD, 0, {}},
        {"nfd r1 with retry data", &g2hq, nfd(hq, g2hq, 1), CONTAINERNFD, 0, {}},
        {"compact dcp, track 7 left out", &g2hd, dcp(hd, g2hd, 7), CONTAINERDCP, 0, span(56, 64)},
        {"d88 sector dropped", &g2hd, d88(hd, g2hd, 0, {5, 3}), CONTAINERD88, 0, {42}},
        {"d88 sector twice", &g2hd, d88(hd, g2hd, 0, {-1, 0}, {6, 1}), CONTAINERD88, 0, {48}},
        {"d88 sector of another size", &g2hd, small, CONTAINERD88, 0, {7}},
        {"d88 cut inside the last track", &g2hd, cut, CONTAINERD88, 0, span(1224, 1227)},
        {"d88 tracks that point back", &g2hd, loop, CONTAINERD88, 0, span(80, 160)},
    };
    for (const auto &c : cases) {
        auto r = mapbytes(c.image, -1, c.disk);
        const bytes &vol = c.g == &g2hd ? hd : hq;
        EXPECT_EQ(r->container, c.container) << c.name;
        ASSERT_EQ(r->result, MAPOK) << c.name;
        EXPECT_EQ(r->m.missing, (int)c.lacking.size()) << c.name;
        EXPECT_EQ(wrongsectors(c.image, r->m, vol, *c.g), c.lacking) << c.name;
    }
    // Headers that do not add up: each one result, no crash, no hang.
    bytes badsize = d88(hd, g2hd), r1 = nfd(hd, g2hd, 1), r0 = nfd(hd, g2hd, 0);
    put32(&badsize, 0x1C, 100);
    put32(&r1, 0x110, 0x7FFFFFFF); // a header larger than the file
    r0.resize(0x5000);             // cut inside the slot map
    EXPECT_EQ(mapbytes(badsize)->container, CONTAINERDCP); // no longer a D88 by content
    EXPECT_EQ(mapbytes(badsize, CONTAINERD88)->result, MAPBADHEADER);
    EXPECT_EQ(mapbytes(d88(hd, g2hd), CONTAINERD88, 1)->result, MAPNODISK);
    EXPECT_EQ(mapbytes(r1)->result, MAPBADHEADER);
    EXPECT_EQ(mapbytes(r0)->result, MAPBADHEADER);
    EXPECT_EQ(mapbytes(bytes(10, 0))->container, CONTAINERDCP);
}

namespace {

toolrun tool(const std::string &bin, const std::string &args)
{
    return runtool("SOURCE_DATE_EPOCH=1700000000 " + bin + " " + args);
}

// The volume of an image, as dcpimage convert writes it raw.
bytes volumeread(const std::string &image, const std::string &opts = "")
{
    std::string out = image + ".vol.hdm";
    EXPECT_EQ(tool(DCPIMAGE_BIN, "convert -f " + opts + " " + quote(image) + " " + quote(out))
                  .status,
              0)
        << image;
    return readfile(out);
}

} // namespace

// The same volume in every container: the same listing, the same defines,
// the same files got; a put, a patch, a removal, a move, attributes and a
// label change the same volume bytes and not one other byte of the file,
// and MAME's floptool reads the result as that volume.
TEST(containers, everyprogramreadsandwritesthevolumeineverycontainer)
{
    std::string dir = tempdir(), base = dir + "/base.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create -L GAME 2hd " + quote(base)).status, 0);
    bytes data(9000);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (unsigned char)(i * 31 + i / 509);
    writefile(dir + "/a", data);
    writefile(dir + "/t", bytes(64, 0));
    writetext(dir + "/puts", "BOOT\\LOADER.BIN " + dir + "/a\nBOOT\\FILES.TBL " + dir + "/t\n");
    ASSERT_EQ(tool(SECTPUT_BIN, "-l " + quote(dir + "/puts") + " " + quote(base)).status, 0);
    writetext(dir + "/list", "LOADER BOOT\\LOADER.BIN\nTABLE BOOT\\FILES.TBL\n");
    writetext(dir + "/fixups", "4 BOOT\\FILES.TBL\n7 BOOT\\LOADER.BIN\n");
    bytes vol = volumeread(base), other = vol;
    std::reverse(other.begin() + 512, other.end()); // a second disk: another volume's bytes
    // opts: what sectput and sectmap are told; read: what reading the volume back needs.
    struct layout {
        const char *name;
        bytes (*make)(const bytes &vol, const bytes &other);
        std::string opts, read;
        const char *floptool; // the referee's name of the format, where it reads it
    } layouts[] = {
        {"d88 shuffled", [](const bytes &v, const bytes &) { return d88(v, g2hd); }, "", "",
         "d88"},
        {"d88 second disk",
         [](const bytes &v, const bytes &o) {
             bytes b = d88(o, g2hd), m = d88(v, g2hd);
             b.insert(b.end(), m.begin(), m.end());
             return b;
         },
         "-d 2", "-d 2", nullptr},
        {"nfd r1 with retry data", [](const bytes &v, const bytes &) { return nfd(v, g2hd, 1); },
         "", "", "nfd"},
        {"nfd r0", [](const bytes &v, const bytes &) { return nfd(v, g2hd, 0); }, "", "", "nfd"},
        // The last track, empty, left out.
        {"compact dcp", [](const bytes &v, const bytes &) { return dcp(v, g2hd, 153); }, "",
         "--fill 0", nullptr},
        {"fdi", [](const bytes &v, const bytes &) { return fdi(v, g2hd); }, "-F fdi", "",
         "pc98_fdi"},
        {"raw", [](const bytes &v, const bytes &) { return v; }, "", "", nullptr},
    };
    toolrun listing = tool(SECTMAP_BIN, quote(base));
    ASSERT_EQ(listing.status, 0);
    toolrun defines = tool(SECTDEFS_BIN, quote(base) + " " + quote(dir + "/list") + " /dev/stdout");
    ASSERT_EQ(tool(SECTPUT_BIN, quote(base) + " 'DATA\\NEW.BIN' " + quote(dir + "/a")).status, 0);
    bytes afterput = volumeread(base);
    ASSERT_EQ(sh("cp " + quote(base) + " " + quote(dir + "/put.dcp")), 0);
    ASSERT_EQ(tool(TABLEPATCH_BIN, quote(base) + " " + quote(dir + "/fixups")).status, 0);
    bytes afterpatch = volumeread(base);
    // The edits, each run with the layout's options before its words.
    const std::vector<std::pair<std::string, std::string>> edits = {
        {SECTATTR_BIN, "+h +s IMAGE 'BOOT\\LOADER.BIN'"},
        {SECTMV_BIN, "IMAGE 'DATA\\NEW.BIN' BOOT"},
        {SECTRM_BIN, "IMAGE 'BOOT\\FILES.TBL'"},
        {DCPIMAGE_BIN, "label IMAGE NEWLABEL"}};
    auto edit = [&](const std::string &image, const std::string &opts) {
        for (const auto &e : edits) {
            std::string args = e.second;
            size_t at = args.find("IMAGE");
            args.replace(at, 5, opts + " " + quote(image));
            EXPECT_EQ(tool(e.first, args).status, 0) << image << " " << args;
        }
    };
    edit(base, "");
    edit(dir + "/put.dcp", "");
    bytes editedpatch = volumeread(base), editedput = volumeread(dir + "/put.dcp");
    toolrun gotten = tool(SECTGET_BIN, "-a " + quote(dir + "/got") + " " + quote(base));
    for (const layout &l : layouts) {
        std::string image = dir + "/image";
        writefile(image, l.make(vol, other));
        // The original programs, which take no options, read the first disk.
        bool first = l.opts != "-d 2";
        EXPECT_EQ(tool(SECTMAP_BIN, l.opts + " " + quote(image)).out, listing.out) << l.name;
        EXPECT_EQ(tool(SECTDEFS_BIN, quote(image) + " " + quote(dir + "/list") + " /dev/stdout").out,
                  first ? defines.out : "")
            << l.name;
        toolrun put = tool(SECTPUT_BIN, l.opts + " " + quote(image) + " 'DATA\\NEW.BIN' " +
                                            quote(dir + "/a"));
        EXPECT_EQ(put.status, 0) << l.name << put.err;
        if (first) {
            EXPECT_EQ(tool(TABLEPATCH_BIN, quote(image) + " " + quote(dir + "/fixups")).status, 0)
                << l.name;
        }
        bytes now = volumeread(image, l.read);
        EXPECT_TRUE(now == (first ? afterpatch : afterput)) << l.name;
        edit(image, l.opts);
        now = volumeread(image, l.read);
        EXPECT_TRUE(now == (first ? editedpatch : editedput)) << l.name;
        // Every byte outside the sectors' data is as it was: the same
        // layout made from the new volume is the file, byte for byte.
        EXPECT_TRUE(readfile(image) == l.make(now, other)) << l.name;
        if (first) {
            sh("rm -rf " + quote(dir + "/got2"));
            toolrun got = tool(SECTGET_BIN, "-a " + quote(dir + "/got2") + " " + quote(image));
            EXPECT_EQ(got.status, 0) << l.name << got.err;
            EXPECT_EQ(sh("diff -r " + quote(dir + "/got") + " " + quote(dir + "/got2")), 0)
                << l.name;
        }
        const char *referee = l.floptool;
        if (referee) {
            std::string raw = dir + "/floptool.hdm";
            sh("rm -f " + quote(raw));
            EXPECT_EQ(sh(std::string("floptool flopconvert ") + referee + " pc98 " + quote(image) +
                         " " + quote(raw) + " >/dev/null 2>&1"),
                      0)
                << l.name;
            EXPECT_TRUE(readfile(raw) == now) << l.name;
        }
    }
    EXPECT_EQ(gotten.status, 0);
}

// convert writes what MAME's floptool reads back as the same volume, and
// names as the format written; absent sectors stay absent or are refused.
TEST(containers, convertwriteswhatfloptoolreadsandkeepsabsentsectorsabsent)
{
    std::string dir = tempdir();
    for (const char *type : {"2hd", "2hc", "2hq", "2dd"}) {
        std::string base = dir + "/" + type + ".dcp";
        ASSERT_EQ(tool(DCPIMAGE_BIN, std::string("create -L GAME ") + type + " " + quote(base))
                      .status,
                  0);
        bytes vol = volumeread(base);
        struct {
            const char *ext, *floptool, *identify;
        } outs[] = {{"d88", "d88", "D88 disk image"}, {"fdi", "pc98_fdi", "PC98 FDI disk image"},
                    {"nfd", "nfd", "NFD disk image"}, {"dcp", "dcx", nullptr},
                    {"hdm", nullptr, nullptr}};
        for (const auto &o : outs) {
            std::string out = dir + "/out." + o.ext, what = std::string(type) + " " + o.ext;
            ASSERT_EQ(tool(DCPIMAGE_BIN, "convert -f " + quote(base) + " " + quote(out)).status, 0)
                << what;
            // Back through our own reads: the same volume, every type; and
            // create makes the same blank volume in that container.
            EXPECT_TRUE(volumeread(out) == vol) << what;
            std::string made = dir + "/made." + o.ext;
            ASSERT_EQ(tool(DCPIMAGE_BIN, std::string("create -f -L GAME ") + type + " " + quote(made))
                          .status,
                      0)
                << what;
            EXPECT_TRUE(volumeread(made) == vol) << what;
            // floptool's 1.44 MB and 720 KB conversions fail in the packaged
            // version; it reads 2hd and 2hc.
            bool referee = o.floptool && (std::string(type) == "2hd" || std::string(type) == "2hc");
            if (referee) {
                std::string raw = dir + "/floptool.hdm";
                sh("rm -f " + quote(raw));
                EXPECT_EQ(sh(std::string("floptool flopconvert ") + o.floptool + " pc98 " +
                             quote(out) + " " + quote(raw) + " >/dev/null 2>&1"),
                          0)
                    << what;
                EXPECT_TRUE(readfile(raw) == vol) << what;
            }
            if (referee && o.identify) {
                std::string said;
                run("floptool identify " + quote(out) + " 2>&1", &said);
                EXPECT_NE(said.find(o.identify), std::string::npos) << what << said;
            }
        }
    }
    // A D88 that lacks sector 42: D88 and NFD keep it absent; raw and FDI
    // need a fill byte, and say which sectors; protection comes along.
    std::string gap = dir + "/gap.d88";
    bytes vol = volumeread(dir + "/2hd.dcp");
    writefile(gap, d88(vol, g2hd, 0x10, {5, 3}));
    for (const char *ext : {"d88", "nfd"}) {
        std::string out = dir + "/gapout." + ext;
        ASSERT_EQ(tool(DCPIMAGE_BIN, "convert " + quote(gap) + " " + quote(out)).status, 0);
        auto m = mapbytes(readfile(out));
        EXPECT_EQ(m->m.missing, 1) << ext;
        EXPECT_EQ(sectoroffset(&m->m, 42, 1024), NOTINIMAGE) << ext;
        EXPECT_EQ(m->m.protect, 1) << ext;
    }
    toolrun r = tool(DCPIMAGE_BIN, "convert " + quote(gap) + " " + quote(dir + "/gap.hdm"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, gap + " lacks sectors 42; a raw image cannot leave them out: --fill BYTE "
                           "fills them\n");
    EXPECT_EQ(sh("ls " + quote(dir) + " | grep -q 'gap.hdm'"), 1); // nothing left behind
    ASSERT_EQ(tool(DCPIMAGE_BIN, "convert --fill 0xE5 " + quote(gap) + " " + quote(dir + "/gap.fdi"))
                  .status,
              0);
    bytes filled = volumeread(dir + "/gap.fdi");
    EXPECT_EQ(filled[42 * 1024], 0xE5);
    EXPECT_TRUE(bytes(filled.begin(), filled.begin() + 42 * 1024) ==
                bytes(vol.begin(), vol.begin() + 42 * 1024));
    struct {
        std::string args, err;
    } refusals[] = {
        {"convert " + quote(gap) + " " + quote(dir + "/x.bin"),
         "The name " + dir + "/x.bin says no format; -O dcp, d88, fdi, nfd or raw says it\n"},
        {"convert -O zip " + quote(gap) + " " + quote(dir + "/x.bin"),
         "Unknown format zip: dcp, d88, fdi, nfd, raw, hdi, nhd, thd, vhd98 or rawhdd\n"},
        {"convert -d 2 " + quote(gap) + " " + quote(dir + "/x.hdm"),
         gap + ": The image holds no disk of that number\n"},
        {"convert --fill 256 " + quote(gap) + " " + quote(dir + "/x.hdm"),
         "Bad fill byte 256: 0 to 255, or 0x00 to 0xFF\n"},
        {"convert " + quote(gap) + " " + quote(dir + "/2hd.dcp"), dir + "/2hd.dcp exists; -f "
                                                                          "overwrites it\n"},
    };
    for (const auto &c : refusals) {
        toolrun x = tool(DCPIMAGE_BIN, c.args);
        EXPECT_EQ(x.status, 1) << c.args;
        EXPECT_EQ(x.err.substr(0, c.err.size()), c.err) << c.args;
    }
}

// A write-protected D88 or NFD is read but never written, until
// dcpimage unprotect; containers with no flag refuse protect.
TEST(containers, awriteprotectedimageisneverwritten)
{
    std::string dir = tempdir(), base = dir + "/base.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(base)).status, 0);
    writefile(dir + "/a", bytes(3000, 0x41));
    writetext(dir + "/fixups", "0 KEEP.BIN\n1 KEEP.BIN\n");
    ASSERT_EQ(tool(SECTPUT_BIN, quote(base) + " KEEP.BIN " + quote(dir + "/a")).status, 0);
    for (const char *ext : {"d88", "nfd"}) {
        std::string image = dir + "/disk." + ext;
        ASSERT_EQ(tool(DCPIMAGE_BIN, "convert " + quote(base) + " " + quote(image)).status, 0);
        ASSERT_EQ(tool(DCPIMAGE_BIN, "protect " + quote(image)).status, 0);
        bytes before = readfile(image);
        std::string says = image + " is write-protected (the flag in its " +
                           (ext[0] == 'd' ? "D88" : "NFD") + " header); dcpimage unprotect " +
                           image + " lifts it\n";
        // Every program that writes the volume, writing nothing.
        for (const auto &w : std::vector<std::pair<std::string, std::string>>{
                 {SECTPUT_BIN, quote(image) + " A.BIN " + quote(dir + "/a")},
                 {SECTRM_BIN, quote(image) + " KEEP.BIN"},
                 {SECTMV_BIN, quote(image) + " KEEP.BIN K.BIN"},
                 {SECTATTR_BIN, "+h " + quote(image) + " KEEP.BIN"},
                 {DCPIMAGE_BIN, "label " + quote(image) + " X"}}) {
            toolrun put = tool(w.first, w.second);
            EXPECT_EQ(put.status, 1) << w.second;
            EXPECT_EQ(put.err, says) << w.second;
        }
        toolrun patch = tool(TABLEPATCH_BIN, quote(image) + " " + quote(dir + "/fixups"));
        EXPECT_EQ(patch.status, 1);
        EXPECT_EQ(patch.out, says);
        EXPECT_TRUE(readfile(image) == before) << ext;
        EXPECT_EQ(tool(SECTMAP_BIN, quote(image)).status, 0); // reading works
        EXPECT_NE(tool(DCPIMAGE_BIN, "info " + quote(image)).out.find("write-protected: yes"),
                  std::string::npos);
        ASSERT_EQ(tool(DCPIMAGE_BIN, "unprotect " + quote(image)).status, 0);
        EXPECT_EQ(tool(SECTPUT_BIN, quote(image) + " A.BIN " + quote(dir + "/a")).status, 0);
    }
    std::string hdm = dir + "/disk.hdm";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "convert " + quote(base) + " " + quote(hdm)).status, 0);
    toolrun r = tool(DCPIMAGE_BIN, "protect " + quote(hdm));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, hdm + " is a raw image, which has no write-protect flag\n");
}

// The volume of a one-disk D88 as the disk really is: each sector found by
// its track and R, whatever else a track holds.
bytes d88bytr(const bytes &b, const geometry &g)
{
    bytes vol((size_t)g.cyl * 2 * g.spt * g.bytes, 0);
    for (int t = 0; t < g.cyl * 2; t++) {
        size_t at = (size_t)geti32l(b.data() + 0x20 + 4 * t), end = at;
        for (int i = 0, n = 1; at && i < n; i++, end += 16 + getu16l(b.data() + end + 14)) {
            const unsigned char *h = b.data() + end;
            n = getu16l(h + 4);
            if (h[2] >= 1 && h[2] <= g.spt && getu16l(h + 14) == g.bytes)
                memcpy(&vol[((size_t)t * g.spt + h[2] - 1) * g.bytes], h + 16, (size_t)g.bytes);
        }
    }
    return vol;
}

// A D88's type comes from all its tracks: three extra sectors on track 0
// (copy protection) or three lost leave it what the rest say, and a put
// lands in the sectors of the file it replaces. Where the tracks and the
// parameter block still disagree, writers refuse and readers say so.
TEST(containers, ad88typeisthatofthewholedisk)
{
    std::string dir = tempdir();
    bytes b(19000), c(100, 0xC1), fresh(100, 0x4E);
    for (size_t i = 0; i < b.size(); i++)
        b[i] = (unsigned char)(i * 31 + i / 509);
    writefile(dir + "/b", b);
    writefile(dir + "/c", c);
    writefile(dir + "/new", fresh);
    // Track 0 of a D88 of g given `delta` more sectors (R spt+1 on) or, when
    // negative, fewer (the highest R, which d88() stores first).
    auto retrack = [](const bytes &plain, const geometry &g, int delta) {
        size_t t1 = (size_t)geti32l(plain.data() + 0x24), each = 16 + (size_t)g.bytes;
        bytes out(plain.begin(), plain.begin() + 0x2B0), more;
        for (int r = g.spt + 1; r <= g.spt + delta; r++) {
            unsigned char h[16] = {0, 0, (unsigned char)r, (unsigned char)g.n};
            setu16l(h + 14, (uint16_t)g.bytes);
            more.insert(more.end(), h, h + 16);
            more.insert(more.end(), (size_t)g.bytes, 0);
        }
        out.insert(out.end(), plain.begin() + 0x2B0 + (delta < 0 ? -delta * (long)each : 0),
                   plain.begin() + (long)t1);
        out.insert(out.end(), more.begin(), more.end());
        for (size_t at = 0x2B0; at < out.size(); at += each)
            setu16l(out.data() + at + 4, (uint16_t)(g.spt + delta));
        long shift = (long)out.size() - (long)t1;
        out.insert(out.end(), plain.begin() + (long)t1, plain.end());
        for (int t = 1; t < g.cyl * 2; t++)
            put32(&out, 0x20 + 4 * (size_t)t, (uint32_t)(geti32l(out.data() + 0x20 + 4 * t) + shift));
        put32(&out, 0x1C, (uint32_t)out.size());
        return out;
    };
    struct {
        const geometry *g;
        int delta;
    } cases[] = {{&g2hq, -3}, {&g2hc, 3}}; // the last leaves plain a 2hc D88
    bytes plain;
    for (const auto &k : cases) {
        std::string base = dir + "/base.dcp", p = dir + "/p.d88";
        ASSERT_EQ(tool(DCPIMAGE_BIN, std::string("create -f ") + k.g->name + " " + quote(base)).status, 0);
        ASSERT_EQ(tool(SECTPUT_BIN, quote(base) + " B.BIN " + quote(dir + "/b")).status, 0);
        toolrun cput = tool(SECTPUT_BIN, quote(base) + " C.BIN " + quote(dir + "/c"));
        int csector = atoi(cput.out.c_str());
        bytes vol = volumeread(base);
        plain = d88(vol, *k.g);
        bytes before = retrack(plain, *k.g, k.delta);
        writefile(p, before);
        toolrun r = tool(SECTPUT_BIN, "-k " + quote(p) + " C.BIN " + quote(dir + "/new"));
        bytes now = d88bytr(readfile(p), *k.g), want = vol;
        // Sectors lost from track 0 hold a FAT copy's: nothing is written.
        EXPECT_EQ(r.status, k.delta > 0 ? 0 : 1) << k.g->name << k.delta << r.err;
        if (k.delta < 0) {
            EXPECT_TRUE(readfile(p) == before) << k.g->name << k.delta;
            EXPECT_NE(r.err.find(", which the puts write, is not in"), std::string::npos);
            continue;
        }
        std::copy(fresh.begin(), fresh.end(), want.begin() + (long)csector * k.g->bytes);
        size_t track = (size_t)k.g->spt * k.g->bytes; // track 0 changed; the rest must not
        EXPECT_TRUE(std::equal(now.begin() + (long)track, now.end(), want.begin() + (long)track))
            << k.g->name << k.delta;
    }
    // The parameter block says a 2hq volume: the tracks say 2hc.
    bytes wrong = plain;
    size_t boot = 0x2B0 + 14 * 528 + 16; // R 1, stored last on track 0
    setu16l(wrong.data() + boot + 24, 18);
    setu16l(wrong.data() + boot + 19, 2880);
    writefile(dir + "/w.d88", wrong);
    const std::string said = dir + "/w.d88: its D88 tracks are laid out as 2hc (2400 sectors of "
                                   "512 bytes, 15 a track), but its volume's parameter block says "
                                   "2880 sectors of 512 bytes, 18 a track, 2 heads; ";
    for (std::string args : {SECTPUT_BIN + std::string(" -k ") + quote(dir + "/w.d88") + " C.BIN " +
                                 quote(dir + "/new"),
                             SECTRM_BIN + std::string(" ") + quote(dir + "/w.d88") + " C.BIN",
                             SECTATTR_BIN + std::string(" +h ") + quote(dir + "/w.d88") + " C.BIN"}) {
        toolrun r = runtool(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, said + "nothing written\n") << args;
        EXPECT_TRUE(readfile(dir + "/w.d88") == wrong) << args;
    }
    toolrun tp = runtool(std::string(TABLEPATCH_BIN) + " " + quote(dir + "/w.d88") + " /dev/null");
    EXPECT_EQ(tp.out, said + "nothing written\n");
    toolrun m = tool(SECTMAP_BIN, quote(dir + "/w.d88"));
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.err, said + "read as its tracks are laid out\n");
}

// Images that should open: a D88 with the older 0x2A0-byte header, read and
// written in place; and those that are no container by their content (a
// D88 whose last disk is cut short, one with bytes after its last disk, a
// raw image a track short or long) named as what they look like.
TEST(containers, olderd88headersandcontainersgonewrong)
{
    std::string dir = tempdir(), base = dir + "/base.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(base)).status, 0);
    writefile(dir + "/a", bytes(3000, 0x41));
    ASSERT_EQ(tool(SECTPUT_BIN, quote(base) + " A.BIN " + quote(dir + "/a")).status, 0);
    bytes vol = volumeread(base), d = d88(vol, g2hd);
    // 160 entries: the table ends at 0x2A0, every offset 16 bytes lower.
    bytes old(d.begin(), d.begin() + 0x2A0);
    old.insert(old.end(), d.begin() + 0x2B0, d.end());
    for (int t = 0; t < 154; t++)
        put32(&old, 0x20 + 4 * (size_t)t, (uint32_t)geti32l(old.data() + 0x20 + 4 * t) - 16);
    put32(&old, 0x1C, (uint32_t)old.size());
    std::string o = dir + "/old.d88";
    writefile(o, old);
    toolrun m = tool(SECTMAP_BIN, quote(o));
    EXPECT_EQ(m.status, 0) << m.err;
    EXPECT_EQ(m.out, tool(SECTMAP_BIN, quote(base)).out);
    writefile(dir + "/b", bytes(2000, 0x42));
    EXPECT_EQ(tool(SECTPUT_BIN, quote(o) + " B.BIN " + quote(dir + "/b")).status, 0);
    bytes after = readfile(o);
    EXPECT_EQ(after.size(), old.size()); // in place: the same header, the same tracks
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 0x2A0, old.begin()));
    EXPECT_EQ(tool(SECTGET_BIN, quote(o) + " B.BIN -").out, std::string(2000, 0x42));
    // Two disks, the second cut short; one disk and bytes after it; raw
    // images a track short and a track long.
    bytes two = d;
    two.insert(two.end(), d.begin(), d.begin() + 5000);
    bytes tail = d;
    tail.insert(tail.end(), 100, 0);
    bytes shortraw(vol.begin(), vol.end() - 8192), longraw = vol;
    longraw.insert(longraw.end(), 8192, 0);
    struct {
        std::string name;
        bytes file;
        std::string looks;
    } gone[] = {
        {"two.d88", two, "looks like a D88 image of 2 disks whose last is cut short: its header "
                         "says " + std::to_string(d.size()) + " bytes, 5000 remain"},
        {"tail.d88", tail, "looks like a D88 image of 1 disk with 100 bytes after the last; -F "
                           "d88 reads its disks"},
        {"short.hdm", shortraw, "looks like a raw image of a 2hd volume, 1 track short; -F raw "
                                "reads it"},
        {"long.hdm", longraw, "looks like a raw image of a 2hd volume, 1 track long; -F raw reads "
                              "it"},
    };
    for (const auto &g : gone) {
        std::string p = dir + "/" + g.name;
        writefile(p, g.file);
        toolrun r = tool(SECTMAP_BIN, quote(p));
        EXPECT_EQ(r.status, 1) << g.name;
        EXPECT_EQ(r.err, p + " " + g.looks + "\n") << g.name;
        toolrun d2 = tool(SECTDEFS_BIN, quote(p) + " " + quote(dir + "/a") + " " + quote(dir + "/inc"));
        EXPECT_EQ(d2.out, p + " " + g.looks + "\n") << g.name;
        toolrun info = tool(DCPIMAGE_BIN, "info " + quote(p));
        EXPECT_NE(info.out.find("problem: it " + g.looks + "\n"), std::string::npos) << info.out;
        toolrun conv = tool(DCPIMAGE_BIN, "convert -f " + quote(p) + " " + quote(dir + "/x.hdm"));
        EXPECT_EQ(conv.err, p + " " + g.looks + "\n") << g.name;
    }
    EXPECT_EQ(tool(SECTMAP_BIN, "-F d88 " + quote(dir + "/tail.d88")).out, m.out);
    EXPECT_EQ(tool(SECTMAP_BIN, "-F raw " + quote(dir + "/long.hdm")).out, m.out);
}

// convert to DCP holds every track: one the source lacks whole is zeros
// flagged not stored, so that floptool, which reads a DCP straight through,
// reads the same volume; --compact leaves it out. A sector lacking from a
// track held in part is named alone.
TEST(containers, convertwritesadcpthatholdseverytrack)
{
    std::string dir = tempdir(), base = dir + "/base.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(base)).status, 0);
    writefile(dir + "/big", bytes(1000000, 0x37));
    ASSERT_EQ(tool(SECTPUT_BIN, quote(base) + " BIG.BIN " + quote(dir + "/big")).status, 0);
    bytes vol = volumeread(base), src = d88(vol, g2hd), parts = d88(vol, g2hd, 0, {110, 5});
    put32(&src, 0x20 + 4 * 100, 0);   // track 100 (sectors 800-807) not there
    put32(&parts, 0x20 + 4 * 100, 0); // and sector 884 too
    std::string in = dir + "/in.d88", out = dir + "/out.dcp";
    writefile(in, src);
    writefile(dir + "/parts.d88", parts);
    ASSERT_EQ(tool(DCPIMAGE_BIN, "convert " + quote(in) + " " + quote(out)).status, 0);
    bytes dcpfile = readfile(out), want = vol;
    std::fill(want.begin() + 800 * 1024, want.begin() + 808 * 1024, 0);
    ASSERT_EQ(dcpfile.size(), 162 + vol.size());
    EXPECT_EQ(dcpfile[1 + 100], 0);
    EXPECT_EQ(dcpfile[1 + 99], 1);
    EXPECT_TRUE(std::equal(dcpfile.begin() + 162, dcpfile.end(), want.begin()));
    ASSERT_EQ(sh("floptool flopconvert dcx pc98 " + quote(out) + " " + quote(dir + "/mame.hdm") +
                 " >/dev/null 2>&1"),
              0);
    EXPECT_TRUE(readfile(dir + "/mame.hdm") == want);
    ASSERT_EQ(tool(DCPIMAGE_BIN, "convert -f --compact " + quote(in) + " " + quote(out)).status, 0);
    EXPECT_EQ(readfile(out).size(), 162 + vol.size() - 8 * 1024);
    EXPECT_EQ(tool(SECTMAP_BIN, quote(out)).out, tool(SECTMAP_BIN, quote(in)).out);
    toolrun r = tool(DCPIMAGE_BIN, "convert -f " + quote(dir + "/parts.d88") + " " + quote(out));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, dir + "/parts.d88 lacks sectors 884 of tracks it holds in part; a DCP image "
                           "leaves out whole tracks only: --fill BYTE fills them\n");
    toolrun raw = tool(DCPIMAGE_BIN, "convert -f " + quote(dir + "/parts.d88") + " " +
                                         quote(dir + "/p.hdm"));
    EXPECT_EQ(raw.err, dir + "/parts.d88 lacks sectors 800-807,884; a raw image cannot leave "
                             "them out: --fill BYTE fills them\n");
    // A compact image without track 0 has no boot sector: info says so.
    bytes noboot = readfile(base);
    noboot[1] = 0;
    noboot.erase(noboot.begin() + 162, noboot.begin() + 162 + 8192);
    writefile(dir + "/noboot.dcp", noboot);
    toolrun info = tool(DCPIMAGE_BIN, "info " + quote(dir + "/noboot.dcp"));
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("\nvolume: not in the image: track 0, which holds the boot sector, is "
                            "not stored\nsize: 1253538 bytes: the header and exactly the tracks "
                            "it flags stored\nproblem: the boot sector is not in the image, so no "
                            "program can read its volume\nagrees: no\n"),
              std::string::npos) << info.out;
}

// One table of names for create and convert; a D88 converted to a D88
// keeps what its sectors' headers record; info shows a D88's name in
// Shift-JIS, in UTF-8 under -u, and quoted where it would drive a terminal.
TEST(containers, namesstatusbytesanddisknames)
{
    std::string dir = tempdir(), base = dir + "/base.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(base)).status, 0);
    bytes vol = volumeread(base);
    struct {
        std::string name, head; // the first bytes the container has
    } names[] = {{"x.raw", std::string(1, '\xEB')}, {"x.d77", ""}, {"x.D68", ""}};
    for (const auto &n : names) {
        std::string c = dir + "/c-" + n.name, v = dir + "/v-" + n.name;
        ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(c)).status, 0) << n.name;
        ASSERT_EQ(tool(DCPIMAGE_BIN, "convert " + quote(base) + " " + quote(v)).status, 0) << n.name;
        bytes made = readfile(c), conv = readfile(v);
        EXPECT_EQ(made.size(), conv.size()) << n.name; // the same container both ways
        if (!n.head.empty()) {
            EXPECT_EQ(made[0], 0xEB) << n.name;
        } else {
            EXPECT_EQ(made[0x1B], 0x20) << n.name; // a D88's media byte
        }
    }
    // Two sectors read with errors, a deleted-data mark, and a name.
    bytes d = d88(vol, g2hd);
    d[0x2B0 + 8] = 0xB0;
    d[0x2B0 + 1040 + 8] = 0xB0;
    d[0x2B0 + 7] = 0x10;
    std::string name = "\x83\x51\x81\x5B\x83\x80\x1b[2J";
    memcpy(d.data(), name.data(), name.size());
    writefile(dir + "/s.d88", d);
    ASSERT_EQ(tool(DCPIMAGE_BIN, "convert " + quote(dir + "/s.d88") + " " + quote(dir + "/t.d88"))
                  .status,
              0);
    bytes t = readfile(dir + "/t.d88");
    toolrun info = tool(DCPIMAGE_BIN, "info " + quote(dir + "/t.d88"));
    EXPECT_NE(info.out.find("read with errors: 2 sectors\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("name: \"\x83\x51\x81\x5B\x83\x80%1B[2J\"\n"), std::string::npos)
        << info.out;
    toolrun u = tool(DCPIMAGE_BIN, "info -u " + quote(dir + "/t.d88"));
    EXPECT_NE(u.out.find("name: \"\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0%1B[2J\"\n"),
              std::string::npos) << u.out;
    // R 8 of track 0 is stored first by d88(), last when written anew in R order.
    EXPECT_EQ(t[0x2B0 + 7 * 1040 + 7], 0x10);
    EXPECT_EQ(t[0x2B0 + 7 * 1040 + 8], 0xB0);
}

// unwrap and convert write the whole volume its parameter block declares,
// whatever a DCP's media byte says, and unwrap takes every container.
TEST(containers, unwrapandconvertwritethewholevolume)
{
    std::string dir = tempdir(), base = dir + "/base.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(base)).status, 0);
    writefile(dir + "/big", bytes(1200000, 0x5A)); // to the volume's last sectors
    ASSERT_EQ(tool(SECTPUT_BIN, quote(base) + " BIG.BIN " + quote(dir + "/big")).status, 0);
    bytes vol = volumeread(base), image = readfile(base);
    struct {
        std::string name;
        bytes file;
    } cases[] = {
        {"media05.dcp", image}, {"media02.dcp", image}, {"media03.dcp", image},
        {"a.hdm", vol}, {"a.fdi", fdi(vol, g2hd)}, {"a.nfd", nfd(vol, g2hd, 0)},
        {"a.d88", d88(vol, g2hd)},
    };
    cases[0].file[0] = 0x05;
    cases[1].file[0] = 0x02;
    cases[2].file[0] = 0x03;
    for (const auto &c : cases) {
        std::string in = dir + "/" + c.name;
        writefile(in, c.file);
        for (std::string cmd : {"unwrap " + quote(in) + " " + quote(dir + "/out.img"),
                                "convert -f -O raw " + quote(in) + " " + quote(dir + "/out.img")}) {
            toolrun r = tool(DCPIMAGE_BIN, cmd);
            EXPECT_EQ(r.status, 0) << cmd << r.err;
            EXPECT_TRUE(readfile(dir + "/out.img") == vol) << cmd;
            std::remove((dir + "/out.img").c_str());
        }
    }
    // A compact 2hd image whose media byte says 2hq: short as 2hq reads it,
    // so refused, never written short.
    bytes compact = dcp(vol, g2hd, 7);
    compact[0] = 0x03;
    writefile(dir + "/compact.dcp", compact);
    for (std::string cmd : {"unwrap ", "convert -O raw "}) {
        toolrun r = tool(DCPIMAGE_BIN, cmd + quote(dir + "/compact.dcp") + " " + quote(dir + "/c.img"));
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_NE(r.err, "") << cmd;
        struct stat st;
        EXPECT_NE(stat((dir + "/c.img").c_str(), &st), 0) << cmd;
    }
}

// A put steps around the sectors a container lacks: a cluster on one is no
// free space, so the file goes into a run the image holds whole; a file on
// such a sector is said to lie on a sector the image lacks.
TEST(containers, aputstepsaroundwhatthecontainerlacks)
{
    std::string dir = tempdir(), base = dir + "/base.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(base)).status, 0);
    bytes vol = volumeread(base);
    writefile(dir + "/big", bytes(20000, 0x42));
    struct {
        std::string name;
        bytes image;
        std::string line; // sectput's line for BIG.BIN
    } cases[] = {
        // Sector 18 (track 2, R 3) lacking: sectors 11-17 are too few.
        {"hole.d88", d88(vol, g2hd, 0, {2, 3}), "   19    20    20000 19-38       BIG.BIN\n"},
        // Track 3 (sectors 24-31) left out of a compact DCP.
        {"hole.dcp", dcp(vol, g2hd, 3), "   32    20    20000 32-51       BIG.BIN\n"},
    };
    for (const auto &c : cases) {
        std::string image = dir + "/" + c.name;
        writefile(image, c.image);
        toolrun r = tool(SECTPUT_BIN, quote(image) + " BIG.BIN " + quote(dir + "/big"));
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(r.out, c.line) << c.name;
        toolrun got = tool(SECTGET_BIN, quote(image) + " BIG.BIN -");
        EXPECT_TRUE(got.out == std::string(20000, 0x42)) << c.name;
    }
    // A file already on the lacking sector.
    writetext(dir + "/a", "x");
    ASSERT_EQ(tool(SECTPUT_BIN, quote(base) + " A.BIN " + quote(dir + "/a")).status, 0);
    writefile(dir + "/on.d88", d88(volumeread(base), g2hd, 0, {1, 4})); // sector 11
    toolrun m = tool(SECTMAP_BIN, quote(dir + "/on.d88"));
    EXPECT_EQ(m.status, 1);
    EXPECT_EQ(m.err, "A.BIN lies on a sector the image lacks\n");
}

// A sector the container lacks is never read as if it were there: each
// program that needs it stops and names it; sectmap marks the file on it.
TEST(containers, asectorthecontainerlacksisnamednotread)
{
    std::string dir = tempdir(), base = dir + "/base.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(base)).status, 0);
    writefile(dir + "/a", bytes(3000, 0x41));
    writetext(dir + "/puts", "SUB\\A.BIN " + dir + "/a\nB.BIN " + dir + "/a\n");
    ASSERT_EQ(tool(SECTPUT_BIN, "-l " + quote(dir + "/puts") + " " + quote(base)).status, 0);
    // SUB is sector 11 (track 1, R 4); A.BIN 12-14; B.BIN 15-17 (track 1 R 8,
    // track 2 R 1-2).
    bytes vol = volumeread(base);
    std::string nosub = dir + "/nosub.d88", nob = dir + "/nob.d88", nofat = dir + "/nofat.d88";
    writefile(nosub, d88(vol, g2hd, 0, {1, 4}));
    writefile(nob, d88(vol, g2hd, 0, {2, 1}));
    writefile(nofat, d88(vol, g2hd, 0, {0, 2}));
    writetext(dir + "/list", "A SUB\\A.BIN\n");
    bytes whole88 = d88(vol, g2hd);
    size_t whole = whole88.size();
    std::string cut = dir + "/cut.d88";
    writefile(cut, bytes(whole88.begin(), whole88.begin() + 300000));
    writetext(dir + "/fixups", "1500 B.BIN\n1 SUB\\A.BIN\n"); // the table in B.BIN's sector 16
    struct {
        std::string program, args;
        int status;
        std::string out, err;
    } cases[] = {
        {SECTDEFS_BIN, quote(nosub) + " " + quote(dir + "/list") + " " + quote(dir + "/inc"), 1,
         "Sector 11 is not in " + nosub + "\n", ""},
        {TABLEPATCH_BIN, quote(nosub) + " " + quote(dir + "/fixups"), 1,
         "Sector 11 is not in " + nosub + "\n", ""},
        {TABLEPATCH_BIN, quote(nob) + " " + quote(dir + "/fixups"), 1,
         "Could not patch file\nSector 16 is not in " + nob + "\n", ""},
        {SECTDEFS_BIN, quote(nofat) + " " + quote(dir + "/list") + " " + quote(dir + "/inc"), 1,
         "Could not read FAT table\nSector 1 is not in " + nofat + "\n", ""},
        {SECTMAP_BIN, quote(nob) + " B.BIN", 1, "   15     3     3000 15-17!notinimage B.BIN\n", ""},
        {SECTMAP_BIN, "-s 16 " + quote(nob), 1, "16: not in the image\n", ""},
        // Its sector 16 is no room for it: it would move to sectors held.
        {SECTPUT_BIN, "-k " + quote(nob) + " B.BIN " + quote(dir + "/a"), 1, "",
         "B.BIN would move from sector 15 to sector 17; nothing written (--keep)\n"},
        {SECTGET_BIN, quote(nob) + " B.BIN -", 1, "",
         "B.BIN: damaged, not got: a sector of it is not in the image\n"},
        // A D88 cut short is no container by its content: named as what it is.
        {SECTMAP_BIN, quote(cut), 1, "", cut + " looks like a D88 image cut short: its header "
                                          "says " + std::to_string(whole) + " bytes, the file "
                                          "holds 300000\n"},
        {SECTDEFS_BIN, quote(cut) + " " + quote(dir + "/list") + " " + quote(dir + "/inc"), 1,
         cut + " looks like a D88 image cut short: its header says " + std::to_string(whole) +
             " bytes, the file holds 300000\n", ""},
    };
    for (const auto &c : cases) {
        bytes before = readfile(nob);
        toolrun r = tool(c.program, c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
        if (!c.err.empty()) {
            EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args;
        }
        EXPECT_TRUE(readfile(nob) == before) << c.args;
    }
}

// info of every container: what it is, per disk its type, name,
// protection, the sectors it lacks, and whether the programs can read it.
TEST(containers, infotellseachdiskofeverycontainer)
{
    std::string dir = tempdir(), base = dir + "/base.dcp";
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hd " + quote(base)).status, 0);
    ASSERT_EQ(tool(DCPIMAGE_BIN, "create 2hq " + quote(dir + "/hq.dcp")).status, 0);
    bytes vol = volumeread(base), hq = volumeread(dir + "/hq.dcp");
    bytes two = d88(vol, g2hd, 0x10, {5, 3}), second = d88(vol, g2hd), errors = d88(vol, g2hd);
    two.insert(two.end(), second.begin(), second.end());
    // The dump recorded a data CRC error on track 0's first two stored sectors.
    errors[0x2B0 + 8] = 0xB0;
    errors[0x2B0 + 16 + 1024 + 8] = 0xB0;
    struct {
        const char *name;
        bytes image;
        int status;
        std::string lines; // that the output holds, in order
    } cases[] = {
        {"two.d88", two, 0,
         "container: D88\ndisks: 2\ndisk 1: type: 2hd (77 cylinders, 2 heads, 8 sectors a track "
         "of 1024 bytes)\ndisk 1: name: \ndisk 1: write-protected: yes\ndisk 1: lacks sectors: "
         "42\ndisk 1: read with errors: 0 sectors\ndisk 2: type: 2hd"},
        {"errors.d88", errors, 0, "lacks sectors: none\nread with errors: 2 sectors\n"},
        {"hq.nfd", nfd(hq, g2hq, 1), 0, "container: NFD\ntype: 2hq (80 cylinders, 2 heads, 18 "
                                        "sectors a track of 512 bytes)\nwrite-protected: no\n"},
        {"hq.fdi", fdi(hq, g2hq), 0, "container: FDI\ntype: 2hq"},
        {"hq.hdm", hq, 0, "container: raw\ntype: 2hq (80 cylinders, 2 heads, 18 sectors a track "
                          "of 512 bytes)\nwrite-protected: no (the container has no flag)\n"},
        {"nofat.d88", d88(vol, g2hd, 0, {0, 2}), 1,
         "problem: Could not read FAT table: sector 1 is not in the image\nagrees: no\n"},
    };
    for (const auto &c : cases) {
        std::string path = dir + "/" + c.name;
        writefile(path, c.image);
        toolrun r = tool(DCPIMAGE_BIN, "info " + quote(path));
        EXPECT_EQ(r.status, c.status) << c.name << r.out;
        EXPECT_NE(r.out.find(c.lines), std::string::npos) << c.name << r.out;
    }
}

namespace {

// Small headers of every container, each sound in itself: a field set to a
// hostile value in one of them must be refused, never trusted.
bytes fdibase() // a 1-sector volume of 128 bytes behind a 32-byte header
{
    bytes b(32 + 128, 0);
    put32(&b, 4, 0x90), put32(&b, 8, 32), put32(&b, 12, 128);
    put32(&b, 16, 128), put32(&b, 20, 1), put32(&b, 24, 1), put32(&b, 28, 1);
    return b;
}

bytes d88base() // track 0 holds one sector of 1024 bytes
{
    bytes b(0x2B0 + 16 + 1024, 0);
    b[0x1B] = 0x20;
    put32(&b, 0x1C, (uint32_t)b.size());
    put32(&b, 0x20, 0x2B0);
    b[0x2B0 + 2] = 1, b[0x2B0 + 3] = 3;
    setu16l(b.data() + 0x2B0 + 4, 1);
    setu16l(b.data() + 0x2B0 + 14, 1024);
    return b;
}

bytes nfdbase(int revision) // track 0 holds one sector; r1 adds a retry record
{
    size_t header = revision == 0 ? 0x10A10 : 0x400 + 48;
    bytes b(header + 1024, 0);
    memcpy(b.data(), revision == 0 ? "T98FDDIMAGE.R0" : "T98FDDIMAGE.R1", 14);
    put32(&b, 0x110, (uint32_t)header);
    unsigned char *slot = b.data() + (revision == 0 ? 0x120 : 0x400 + 16);
    for (int i = 1; revision == 0 && i < 163 * 26; i++)
        b[0x120 + (size_t)i * 16] = 0xFF;
    if (revision == 1) {
        put32(&b, 0x120, 0x400);
        setu16l(b.data() + 0x400, 1), setu16l(b.data() + 0x402, 1);
        slot[16 + 9] = 1, setu32l(slot + 16 + 10, 0); // a record of no retry data
    }
    slot[2] = 1, slot[3] = 3, slot[4] = 1;
    return b;
}

// A hard disk's first cylinders: its IPL and a table whose one entry is a
// FAT12 partition from cylinder 1, behind an NHD header (1 head, 17
// sectors a track, 8 cylinders) or an HDI one (256-byte sectors, 4 heads,
// 33 a track, 22 cylinders: more than a floppy's sectors).
static bytes harddisk(size_t header, int32_t bps, int32_t spt, int32_t heads, int32_t cyls)
{
    bytes b(header + (size_t)bps * spt * heads * cyls, 0);
    unsigned char *d = &b[header], *e = d + bps;
    memcpy(d + 4, "IPL1", 4);
    d[bps - 2] = 0x55, d[bps - 1] = 0xAA;
    e[0] = 0xA0, e[1] = 0x81, e[10] = 1, e[14] = (unsigned char)(cyls - 1);
    return b;
}

bytes nhdbase()
{
    bytes b = harddisk(512, 512, 17, 1, 8);
    memcpy(b.data(), "T98HDDIMAGE.R0", 15);
    put32(&b, 0x110, 512), put32(&b, 0x114, 8);
    b[0x118] = 1, b[0x11A] = 17, b[0x11C] = 0, b[0x11D] = 2;
    return b;
}

bytes hdibase()
{
    bytes b = harddisk(4096, 256, 33, 4, 22);
    put32(&b, 8, 4096), put32(&b, 12, 256 * 33 * 4 * 22);
    put32(&b, 16, 256), put32(&b, 20, 33), put32(&b, 24, 4), put32(&b, 28, 22);
    return b;
}

bytes vhdbase()
{
    bytes b = harddisk(220, 256, 33, 4, 22);
    memcpy(b.data(), "VHD1.00", 8);
    b[0x8F] = 1, b[0x90] = 33, b[0x91] = 4, b[0x92] = 22, put32(&b, 0x94, 33 * 4 * 22);
    return b;
}

bytes dcpbase()
{
    bytes b(162, 0);
    b[0] = 1;
    return b;
}

} // namespace

// Every number a container's header gives, at 0, 1, its largest and just
// past what adds up: every program refuses the file in a line or two, and
// none does arithmetic that overflows or reads out of bounds (the sanitizer
// build reports that as a runtime error).
TEST(containers, hostileheadernumbersarerefusednevertrusted)
{
    std::string dir = tempdir(), image = dir + "/image";
    writefile(dir + "/f", bytes(10, 1));
    writetext(dir + "/list", "A A.BIN\n");
    struct field {
        const char *name;
        bytes (*base)();
        size_t at;
        int width; // bytes: 1, 2 or 4
        std::vector<uint32_t> values;
    };
    const uint32_t most = 0xFFFFFFFF;
    uint32_t d88size = (uint32_t)d88base().size();
    uint32_t r1size = (uint32_t)nfdbase(1).size();
    field fields[] = {
        {"fdi header size", fdibase, 8, 4, {0, 1, 31, 33, most}},
        {"fdi volume size", fdibase, 12, 4, {0, 1, 127, 129, most}},
        {"fdi bytes a sector", fdibase, 16, 4, {0, 1, 16385, most}},
        {"fdi sectors", fdibase, 20, 4, {0, 256, most}},
        {"fdi heads", fdibase, 24, 4, {0, 256, most}},
        {"fdi cylinders", fdibase, 28, 4, {0, 256, most}},
        {"d88 disk size", d88base, 0x1C, 4, {0, 1, 0x2AF, d88size - 1, d88size + 1, most}},
        {"d88 track offset", d88base, 0x20, 4, {1, 0x2A0, d88size - 16, d88size, most}},
        {"d88 last track offset", d88base, 0x20 + 4 * 163, 4, {1, d88size, most}},
        {"d88 sector count", d88base, 0x2B0 + 4, 2, {0, 2, 0xFFFF}},
        {"d88 data length", d88base, 0x2B0 + 14, 2, {0, 1023, 1025, 0xFFFF}},
        {"d88 sector size code", d88base, 0x2B0 + 3, 1, {0, 7, 8, 0xFF}},
        {"nfd r0 header size", [] { return nfdbase(0); }, 0x110, 4, {0, 1, 0x10A0F, most}},
        {"nfd r0 sector size code", [] { return nfdbase(0); }, 0x120 + 3, 1, {8, 0xFF}},
        {"nfd r1 header size", [] { return nfdbase(1); }, 0x110, 4, {0, 0x11F, r1size + 1, most}},
        {"nfd r1 track map offset", [] { return nfdbase(1); }, 0x120, 4, {1, r1size - 1, most}},
        {"nfd r1 sector count", [] { return nfdbase(1); }, 0x400, 2, {0, 255, 256, 0xFFFF}},
        {"nfd r1 retry records", [] { return nfdbase(1); }, 0x402, 2, {0xFFFF}},
        {"nfd r1 retries", [] { return nfdbase(1); }, 0x400 + 32 + 9, 1, {0xFF}},
        {"nfd r1 retry length", [] { return nfdbase(1); }, 0x400 + 32 + 10, 4, {1, most}},
        {"nhd header size", nhdbase, 0x110, 4, {0, 511, most}},
        {"nhd cylinders", nhdbase, 0x114, 4, {0, 9, 65536, most}},
        {"nhd heads", nhdbase, 0x118, 2, {0, 256, 0xFFFF}},
        {"nhd bytes a sector", nhdbase, 0x11C, 2, {0, 1024, 0xFFFF}},
        {"nhd partition start", nhdbase, 512 + 512 + 10, 2, {0, 8, 0xFFFF}},
        {"nhd partition end", nhdbase, 512 + 512 + 14, 2, {0, 8, 0xFFFF}},
        {"hdi header size", hdibase, 8, 4, {31, most}},
        {"hdi bytes a sector", hdibase, 16, 4, {128, most}},
        {"hdi cylinders", hdibase, 28, 4, {65536}},
        {"hdi partition end", hdibase, 4096 + 256 + 14, 2, {0xFFFF}},
        {"vhd98 bytes a sector", vhdbase, 0x8E, 2, {0, 0xFFFF}},
        {"vhd98 cylinders", vhdbase, 0x92, 2, {0, 0xFFFF}},
        {"vhd98 sectors", vhdbase, 0x94, 4, {0, most}},
        {"vhd98 partition end", vhdbase, 220 + 256 + 14, 2, {22, 0xFFFF}},
        {"dcp media", dcpbase, 0, 1, {0, 0xFF}},
        {"dcp track flag", dcpbase, 1, 1, {1, 0xFF}},
    };
    std::vector<std::pair<std::string, bytes>> rows;
    // Found by fuzzing: the sizes add up, and the four geometry fields are huge.
    rows.push_back({"fdi found", {0, 0, 0, 0, 0, 0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0, 0, 0x92, 0, 0,
                                  0, 0xFF, 0xFF, 0x5B, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0xFF,
                                  0x23, 0xFF, 0xFF, 0}});
    for (const field &f : fields)
        for (uint32_t v : f.values) {
            bytes b = f.base();
            for (int i = 0; i < f.width; i++)
                b[f.at + (size_t)i] = (unsigned char)(v >> (8 * i));
            rows.push_back({std::string(f.name) + " " + std::to_string(v), b});
        }
    const std::string q = quote(image);
    // Each way into an image: reading (sectmap), the original programs'
    // opening (sectdefs), info's own, and writing through a copy (sectput).
    const std::string runs[] = {
        SECTMAP_BIN + (" " + q), DCPIMAGE_BIN + (" info " + q),
        SECTDEFS_BIN + (" " + q + " " + quote(dir + "/list") + " " + quote(dir + "/inc")),
        SECTPUT_BIN + (" " + q + " A.BIN " + quote(dir + "/f"))};
    for (const auto &row : rows) {
        writefile(image, row.second);
        for (const std::string &cmd : runs) {
            toolrun r = runtool(cmd);
            std::string said = r.out + r.err;
            EXPECT_EQ(r.status, 1) << row.first << ": " << cmd << "\n" << said;
            EXPECT_EQ(said.find("runtime error"), std::string::npos) << row.first << ": " << said;
            EXPECT_EQ(said.find("Sanitizer"), std::string::npos) << row.first << ": " << said;
            size_t lines = (size_t)std::count(said.begin(), said.end(), '\n');
            // dcpimage info reports in key: value lines; the others in one
            // line, or two when a sector the container lacks is named.
            if (cmd.find(" info ") == std::string::npos) {
                EXPECT_TRUE(lines >= 1 && lines <= 2) << row.first << ": " << cmd << "\n" << said;
            }
        }
    }
}

namespace {

// sectmap --map as a sector's symbol, and its legend as a path's symbol.
struct picture {
    std::map<int, char> cell;
    std::map<std::string, char> symbol;
};

picture parsepicture(const std::string &text)
{
    picture p;
    std::istringstream in(text);
    std::string line;
    int heads = 0, spt = 0;
    std::getline(in, line);
    sscanf(line.c_str() + line.find(", ") + 2, "%*d cylinders, %d heads, %d sectors", &heads,
           &spt);
    while (std::getline(in, line)) {
        std::istringstream words(line);
        int cylinder;
        std::string word;
        if (isdigit((unsigned char)line[1]) && (words >> cylinder)) {
            for (int h = 0; words >> word; h++)
                for (int r = 0; r < (int)word.size(); r++)
                    p.cell[(cylinder * heads + h) * spt + r] = word[(size_t)r];
        } else if (line.size() > 2 && isalnum((unsigned char)line[0])) {
            p.symbol[line.substr(line.rfind(' ') + 1)] = line[0];
        }
    }
    return p;
}

// The sectors of a listing line's extents ("12-14,20!short" and the like).
std::vector<int> extentsectors(const std::string &line)
{
    std::istringstream in(line);
    std::string f[4];
    in >> f[0] >> f[1] >> f[2] >> f[3];
    std::vector<int> v;
    std::istringstream runs(f[3].substr(0, f[3].find('!')));
    std::string run;
    while (std::getline(runs, run, ','))
        if (isdigit((unsigned char)run[0])) {
            int a = atoi(run.c_str()), b = run.find('-') == std::string::npos
                                               ? a
                                               : atoi(run.c_str() + run.find('-') + 1);
            for (int s = a; s <= b; s++)
                v.push_back(s);
        }
    return v;
}

} // namespace

// The picture of the disk: every file's cells are exactly the sectors of its
// runs in the listing, the free cells exactly the free clusters', '?' the
// sectors the container lacks; on a fragmented real volume, a damaged one,
// a D88 that lacks a sector and a compact DCP image. The SVG says the same
// of every cell, and renders.
TEST(containers, thepicturedrawseverysectorwhereitlies)
{
    std::string dir = tempdir(), real = dir + "/real.dcp";
    makerealimage(real, "1.2M");
    filltree(real, dir);
    bytes vol = volumeread(real);
    fakevolume v;
    v.build();
    v.entry(-1, 0, "LOOP    BIN", 0x20, 3, 3000);
    v.chain({3, 4});
    v.setfat(4, 3);
    v.entry(-1, 1, "GOOD    BIN", 0x20, 10, 1000);
    v.chain({10, 11});
    v.setfat(20, 0xFF7); // a bad cluster
    v.setfat(30, 0xFFF); // a lost one
    struct {
        const char *name;
        bytes image;
        std::vector<int> lacking;
    } cases[] = {
        {"real.dcp", readfile(real), {}},
        {"damaged.dcp", v.img, {}},
        {"lacking.d88", d88(vol, g2hd, 0, {2, 3}), {18}},
        {"compact.dcp", dcp(vol, g2hd, 100), span(800, 808)},
    };
    for (const auto &c : cases) {
        std::string image = dir + "/" + c.name;
        writefile(image, c.image);
        picture p = parsepicture(tool(SECTMAP_BIN, "--map " + quote(image)).out);
        bytes raw = volumeread(image, "--fill 0");
        const unsigned char *boot = raw.data();
        int bps = getu16l(boot + 11), spc = boot[13], total = getu16l(boot + 19);
        int fatat = getu16l(boot + 14) * bps, root = getu16l(boot + 17) * 32 / bps;
        int datastart = getu16l(boot + 14) + boot[16] * getu16l(boot + 22) + root;
        ASSERT_EQ((int)p.cell.size(), total) << c.name;
        std::map<int, char> want;
        for (int s = datastart; s + spc <= total; s++) {
            int cl = (s - datastart) / spc + 2;
            int e = getu16l(raw.data() + fatat + cl * 3 / 2);
            if (((cl & 1) ? e >> 4 : e & 0xFFF) == 0)
                want[s] = '.';
        }
        std::istringstream listing(tool(SECTMAP_BIN, quote(image)).out);
        for (std::string line; std::getline(listing, line);)
            for (int s : extentsectors(line))
                want[s] = p.symbol[line.substr(line.rfind(' ') + 1)];
        for (int s : c.lacking)
            want[s] = '?';
        for (int s = 0; s < total; s++) {
            char got = p.cell[s];
            if (want.count(s)) {
                EXPECT_EQ(got, want[s]) << c.name << " sector " << s;
            } else {
                EXPECT_TRUE(got != '.' && !isalnum((unsigned char)got)) << c.name << " " << s;
            }
        }
        // The SVG: a cell a sector, each saying what the terminal says.
        std::string svg = dir + "/" + c.name + ".svg", cells;
        ASSERT_EQ(tool(SECTMAP_BIN, "--svg " + quote(svg) + " " + quote(image)).status, 0);
        std::map<char, std::string> pathof;
        for (const auto &e : p.symbol)
            pathof[e.second] = e.first;
        run("python3 -c 'import sys, xml.etree.ElementTree as E\n"
            "for r in E.parse(sys.argv[1]).getroot().iter(\"{http://www.w3.org/2000/svg}rect\"):\n"
            "    t = r.find(\"{http://www.w3.org/2000/svg}title\")\n"
            "    if t is not None: print(r.get(\"data-sector\") + \"|\" + t.text)' " +
                quote(svg),
            &cells);
        std::istringstream rows(cells);
        int n = 0;
        for (std::string row; std::getline(rows, row); n++) {
            int s = atoi(row.c_str());
            std::string title = row.substr(row.find('|') + 1);
            EXPECT_EQ(title.substr(0, title.find(':')), std::to_string(s)) << c.name;
            if (p.cell[s] == '.') {
                EXPECT_EQ(title, std::to_string(s) + ": free") << c.name;
            }
            if (p.cell[s] == '?') {
                EXPECT_EQ(title, std::to_string(s) + ": not in the image") << c.name;
            }
            if (isalnum((unsigned char)p.cell[s])) {
                EXPECT_EQ(title.substr(0, title.find(", bytes")),
                          std::to_string(s) + ": " + pathof[p.cell[s]])
                    << c.name;
            }
        }
        EXPECT_EQ(n, total) << c.name;
        EXPECT_EQ(sh("rsvg-convert " + quote(svg) + " -o " + quote(svg + ".png")), 0) << c.name;
    }
}
