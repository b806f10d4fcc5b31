// The containers: each layout, written here from a real volume (D88 with
// its sectors shuffled in each track and two disks, NFD revision 1 with
// retry data, a compact DCP, FDI, raw), is recognised from its content and
// maps every volume sector to the bytes of that sector; damaged ones lack
// exactly the sectors they lose, in one clear result, never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

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

TEST(containers, everylayoutmapseverysectortoitsbytes)
{
    std::string dir = tempdir();
    for (const geometry *g : {&g2hd, &g2hq}) {
        bytes vol = volumeof(*g, dir), other = vol;
        std::reverse(other.begin(), other.end());
        bytes two = d88(vol, *g);
        bytes second = d88(other, *g, 1);
        two.insert(two.end(), second.begin(), second.end());
        struct {
            const char *name;
            bytes image;
            int32_t container, disk, disks, protect;
            const bytes *volume;
        } cases[] = {
            {"raw", vol, CONTAINERRAW, 0, 1, 0, &vol},
            {"dcp", dcp(vol, *g), CONTAINERDCP, 0, 1, 0, &vol},
            {"fdi", fdi(vol, *g), CONTAINERFDI, 0, 1, 0, &vol},
            {"d88 shuffled", d88(vol, *g), CONTAINERD88, 0, 1, 0, &vol},
            {"d88 protected", d88(vol, *g, 0x10), CONTAINERD88, 0, 1, 1, &vol},
            {"d88 two disks, first", two, CONTAINERD88, 0, 2, 0, &vol},
            {"d88 two disks, second", two, CONTAINERD88, 1, 2, 1, &other},
            {"nfd r0", nfd(vol, *g, 0), CONTAINERNFD, 0, 1, 0, &vol},
            {"nfd r1 with retry data", nfd(vol, *g, 1), CONTAINERNFD, 0, 1, 0, &vol},
        };
        for (const auto &c : cases) {
            auto r = mapbytes(c.image, -1, c.disk);
            std::string what = std::string(g->name) + " " + c.name;
            EXPECT_EQ(r->container, c.container) << what;
            ASSERT_EQ(r->result, MAPOK) << what;
            EXPECT_EQ(r->m.disks, c.disks) << what;
            EXPECT_EQ(r->m.protect, c.protect) << what;
            EXPECT_EQ(r->m.missing, 0) << what;
            ASSERT_NE(r->m.type, nullptr) << what;
            EXPECT_STREQ(r->m.type->name, g->name) << what;
            EXPECT_TRUE(wrongsectors(c.image, r->m, *c.volume, *g).empty()) << what;
        }
    }
}

TEST(containers, damagedlayoutslackexactlythesectorstheylose)
{
    std::string dir = tempdir();
    const geometry &g = g2hd;
    bytes vol = volumeof(g, dir);
    bytes cut = d88(vol, g);
    cut.resize(cut.size() - 3000); // the last track's last stored sectors gone
    put32(&cut, 0x1C, (uint32_t)cut.size());
    bytes loop = d88(vol, g);
    for (int t = 10; t < 20; t++) // ten tracks point at track 0's bytes
        put32(&loop, 0x20 + 4 * t, 0x2B0);
    bytes small = d88(vol, g);
    small[0x2B0 + 16 * 0 + 3] = 2; // track 0's first stored sector (R 8) says 512 bytes
    struct {
        const char *name;
        bytes image;
        std::vector<int> lacking; // volume sectors not in the image
    } cases[] = {
        {"d88 sector dropped", d88(vol, g, 0, {5, 3}), {5 * 8 + 2}},
        {"d88 sector twice", d88(vol, g, 0, {-1, 0}, {6, 1}), {6 * 8}},
        {"d88 sector of another size", small, {7}},
        {"d88 cut inside the last track", cut, {1224, 1225, 1226}}, // stored last: R 3, 2, 1
        {"d88 tracks that point back", loop, {80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92,
                                              93, 94, 95, 96, 97, 98, 99, 100, 101, 102, 103, 104,
                                              105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115,
                                              116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126,
                                              127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137,
                                              138, 139, 140, 141, 142, 143, 144, 145, 146, 147, 148,
                                              149, 150, 151, 152, 153, 154, 155, 156, 157, 158, 159}},
        {"compact dcp, track 7 left out", dcp(vol, g, 7), {56, 57, 58, 59, 60, 61, 62, 63}},
    };
    for (const auto &c : cases) {
        auto r = mapbytes(c.image);
        ASSERT_EQ(r->result, MAPOK) << c.name;
        std::vector<int> lacking;
        for (int s = 0; s < 1232; s++)
            if (sectoroffset(&r->m, s, g.bytes) == NOTINIMAGE)
                lacking.push_back(s);
        EXPECT_EQ(lacking, c.lacking) << c.name;
        EXPECT_EQ(r->m.missing, (int)c.lacking.size()) << c.name;
        // The rest still lead to their own bytes.
        EXPECT_EQ(wrongsectors(c.image, r->m, vol, g), c.lacking) << c.name;
    }
    // Headers that do not add up: each one result, no crash, no hang.
    bytes rawd88 = d88(vol, g);
    bytes badsize = rawd88;
    put32(&badsize, 0x1C, 100);
    bytes r1 = nfd(vol, g, 1);
    put32(&r1, 0x110, 0x7FFFFFFF); // a header larger than the file
    bytes r0 = nfd(vol, g, 0);
    r0.resize(0x5000); // cut inside the slot map
    EXPECT_EQ(mapbytes(badsize)->container, CONTAINERDCP); // no longer a D88 by content
    EXPECT_EQ(mapbytes(badsize, CONTAINERD88)->result, MAPBADHEADER);
    EXPECT_EQ(mapbytes(rawd88, CONTAINERD88, 1)->result, MAPNODISK);
    EXPECT_EQ(mapbytes(r1)->result, MAPBADHEADER);
    EXPECT_EQ(mapbytes(r0)->result, MAPBADHEADER);
    EXPECT_EQ(mapbytes(bytes(10, 0))->container, CONTAINERDCP);
    // A raw image renamed .fdi is no FDI: its sizes do not add up.
    EXPECT_EQ(mapbytes(vol)->container, CONTAINERRAW);
}
