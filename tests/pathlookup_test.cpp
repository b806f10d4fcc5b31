#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "fakevolume.h"
#include "volumerun.h"

static std::string to83(const std::string &component)
{
    unsigned char out[11];
    const unsigned char *p = (const unsigned char *)component.data();
    nameto83(p, 0, (int32_t)component.size(), out);
    return std::string((char *)out, 11);
}

TEST(nameto83, conversions)
{
    const char *cases[][2] = {
        {"KERNEL.SYS", "KERNEL  SYS"}, {"loader.bin", "LOADER  BIN"},
        {"LONGFILENAME.TEXT", "LONGFILETEX"}, {"README", "README     "},
        {"ABCDEFGHIJ", "ABCDEFGHIJ "}, {"ABCDEFGHIJKLM", "ABCDEFGHIJK"},
        {"A.B.X", "A.B     X  "}, {"FILE.", "FILE       "},
        {".PROFILE", "           "}, {".", "           "},
        {"..", ".          "}, {"", "           "},
        {"...", "..         "}, {"AB CD", "AB CD      "},
    };
    for (auto &c : cases)
        EXPECT_EQ(to83(c[0]), c[1]) << c[0];
    // Only the component's own bytes are read, from its place in the path.
    unsigned char out[11];
    const unsigned char path[] = "dir\\a.b\\c";
    nameto83(path, 4, 7, out);
    EXPECT_EQ(std::string((char *)out, 11), "A       B  ");
    nameto83(path, 5, 4, out);
    EXPECT_EQ(std::string((char *)out, 11), "           ");
}

TEST(nameto83, shiftjistrailbytesstay)
{
    // 0x82 0x61 is one double-byte character: its trail 'a' stays lower-case.
    EXPECT_EQ(to83("\x82" "ab"), "\x82" "aB        ");
    // A name part cut at 8 bytes may keep a lead byte and drop its trail.
    EXPECT_EQ(to83("ABCDEFG\x82" "a.TXT"), "ABCDEFG\x82" "TXT");
}

TEST(nameequals, comparesfieldsuptotheentrysfirstspace)
{
    auto eq = [](const char *entry, const char *wanted) {
        return nameequals((const unsigned char *)entry, (const unsigned char *)wanted);
    };
    EXPECT_TRUE(eq("KERNEL  SYS", "KERNEL  SYS"));
    EXPECT_FALSE(eq("KERNEL  SYS", "KERNEL  SYT"));
    EXPECT_FALSE(eq("KERNEL  SYS", "KERNE   SYS"));
    // The walk stops at the entry's first space, and matches if the wanted
    // name has a space there too: whatever follows is not compared.
    EXPECT_TRUE(eq("AB         ", "AB CD      "));
    EXPECT_TRUE(eq("AB CD      ", "AB         "));
    EXPECT_FALSE(eq("AB         ", "ABCD       "));
    EXPECT_TRUE(eq("AB CD   TXT", "AB XY   TXT"));
    EXPECT_FALSE(eq("\x05" "BC       ", "\xE5" "BC       "));
}

TEST(findbyte, skipstrailbytes)
{
    const unsigned char p[] = {'A', 0x95, 0x5C, 'B', 0x5C, 'C'};
    EXPECT_EQ(nextslash(p, 0, 6), 4);
    EXPECT_EQ(nextslash(p, 2, 6), 2); // started on the trail byte, it is a byte like any
    EXPECT_EQ(nextslash(p, 0, 4), -1);
    EXPECT_EQ(findbyte(p, 0, 6, 'C'), 5);
    const unsigned char q[] = {0xE0, 'x', 'x'};
    EXPECT_EQ(findbyte(q, 0, 3, 'x'), 2);
}

// A floppy with the entries the lookup cases need.
static fakevolume lookupvolume()
{
    fakevolume v;
    v.build();
    v.entry(-1, 0, "VOLNAME    ", 0x08, 0);
    v.entry(-1, 1, "KERNEL  SYS", 0x20, 10, 3000);
    v.entry(-1, 2, "BOOT       ", 0x10, 5);
    v.entry(-1, 3, "HIDDEN  SYS", 0x27, 11);
    v.entry(-1, 4, "VOLNAME    ", 0x20, 12); // same name as the label: this one is found
    v.entry(-1, 5, "lower   TXT", 0x20, 13);
    v.entry(-1, 6, "EMPTY   TXT", 0x20, 0);
    v.entry(-1, 7, "TWICE   BIN", 0x20, 14);
    v.entry(-1, 8, "TWICE   BIN", 0x20, 15);
    v.entry(-1, 9, "\xE5" "ONE    BIN", 0x20, 16);      // deleted
    v.entry(-1, 10, "\x05" "KANJI  BIN", 0x20, 17);     // first byte really 0xE5
    v.entry(-1, 11, "\x95\x5C" "DIR      ", 0x10, 6);   // 0x5C as a trail byte
    v.entry(-1, 12, "\x82" "a      BIN", 0x20, 18);     // lower-case trail byte
    v.entry(-1, 13, "MY DIR     ", 0x10, 7);
    v.entry(-1, 14, "LFNSLOT    ", 0x0F, 19);
    v.entry(-1, 15, "DELETED BIN", 0x20, 20)[0] = 0xE5;
    v.chain({5});
    v.entry(5, 0, ".          ", 0x10, 5);
    v.entry(5, 1, "..         ", 0x10, 0);
    v.entry(5, 2, "LOADER  BIN", 0x20, 30);
    v.entry(5, 3, "X          ", 0x20, 31);
    v.chain({6});
    v.entry(6, 0, "INNER   TXT", 0x20, 32);
    v.chain({7});
    v.entry(7, 0, "A       BIN", 0x20, 33);
    return v;
}

TEST(pathlookup, filesanddirectories)
{
    auto r = openvol(lookupvolume().img);
    ASSERT_EQ(r->ok, 1);
    EXPECT_EQ(r->cluster("KERNEL.SYS"), 10);
    EXPECT_EQ(r->sector("KERNEL.SYS"), 33 + 8);
    EXPECT_EQ(r->cluster("boot\\loader.bin"), 30);
    EXPECT_EQ(r->cluster("BOOT\\"), 5);
    EXPECT_EQ(r->cluster("BOOT"), 5);
    EXPECT_EQ(r->cluster("KERNEL.SYS\\X"), -1); // a file is no directory
    EXPECT_EQ(r->cluster("NOPE.BIN"), -1);
    EXPECT_EQ(r->cluster("BOOT\\NOPE.BIN"), -1);
    EXPECT_EQ(r->cluster("BOOT\\..\\X"), 31); // '..' is the name '.', BOOT's own entry
    // The lookup of the programs that act on entries finds no dot slot.
    for (std::string p : {"BOOT\\..", "BOOT\\...\\X", ".\\KERNEL.SYS"})
        EXPECT_EQ(findslot(r->f, &r->dp, (const unsigned char *)p.data(), (int32_t)p.size()), -1)
            << p;
    EXPECT_GE(findslot(r->f, &r->dp, (const unsigned char *)"BOOT\\X", 6), 0);
    EXPECT_EQ(r->cluster("MY DIR\\A.BIN"), 33);
    EXPECT_EQ(r->cluster("MY DIR\\A.BIN   "), 33); // trailing spaces end up as padding
}

TEST(pathlookup, emptycomponentssearchforblanknames)
{
    auto r = openvol(lookupvolume().img);
    EXPECT_EQ(r->cluster(""), -1);
    EXPECT_EQ(r->cluster("\\KERNEL.SYS"), -1);
    EXPECT_EQ(r->cluster("BOOT\\\\LOADER.BIN"), -1);
}

TEST(pathlookup, attributesandnames)
{
    auto r = openvol(lookupvolume().img);
    EXPECT_EQ(r->cluster("VOLNAME"), 12); // the label is passed over
    EXPECT_EQ(r->cluster("HIDDEN.SYS"), 11);
    EXPECT_EQ(r->cluster("LOWER.TXT"), -1); // stored names are not upper-cased
    EXPECT_EQ(r->cluster("lower.txt"), -1);
    EXPECT_EQ(r->cluster("TWICE.BIN"), 14); // the first slot wins
    EXPECT_EQ(r->cluster("LFNSLOT"), -1);
    EXPECT_EQ(r->cluster("EMPTY.TXT"), 0);
    EXPECT_EQ(r->sector("EMPTY.TXT"), 33 - 2);
}

TEST(pathlookup, shiftjisnames)
{
    auto r = openvol(lookupvolume().img);
    EXPECT_EQ(r->cluster("\x95\x5C" "dir\\inner.txt"), 32);
    EXPECT_EQ(r->cluster("\x82" "a.bin"), 18);
    EXPECT_EQ(r->cluster("\x82" "A.BIN"), -1);
}

TEST(pathlookup, deletedentriesnevermatch)
{
    auto r = openvol(lookupvolume().img);
    // The 0xE5 slots could be found by a name of the same bytes; they are
    // gone, their clusters may be another file's.
    EXPECT_EQ(r->cluster("\xE5" "ONE.BIN"), -1);
    EXPECT_EQ(r->cluster("\xE5" "ELETED.BIN"), -1);
    // A name that really starts with 0xE5 is stored as 0x05 and is found.
    EXPECT_EQ(r->cluster("\xE5" "KANJI.BIN"), 17);
}

TEST(pathlookup, onereadperdirectory)
{
    auto r = openvol(lookupvolume().img);
    r->m.calls.clear();
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(r->cluster("BOOT\\LOADER.BIN"), 30);
        ASSERT_EQ(r->cluster("MY DIR\\A.BIN"), 33);
        ASSERT_EQ(r->cluster("KERNEL.SYS"), 10);
    }
    EXPECT_EQ(countcalls(&r->m, 'r'), 2);
    EXPECT_EQ(r->dp.dircount, 3);
}

TEST(pathlookup, entriesreadonlywithinthedirectory)
{
    // A one-cluster directory whose last slot is used: the search ends at
    // the row's end, not in the next row's bytes.
    fakevolume v;
    v.spc = 1;
    v.build();
    for (int i = 0; i < 16; i++)
        v.entry(5, i, "F" + std::to_string(10 + i) + "        ", 0x20, 100 + i);
    v.entry(-1, 0, "D          ", 0x10, 5);
    v.chain({5});
    auto r = openvol(v.img);
    EXPECT_EQ(r->cluster("D\\F25"), 115);
    EXPECT_EQ(r->cluster("D\\F26"), -1);
}

// The comparison and separator rules written out byte by byte, as plainly
// as they can be, against which the word-at-a-time code is held.
static bool walkequals(const unsigned char *e, const unsigned char *w)
{
    for (int from : {0, 8}) {
        int to = from ? 11 : 8, i = from;
        while (i < to && e[i] != ' ' && e[i] == w[i])
            i++;
        if (i < to && !(e[i] == ' ' && w[i] == ' '))
            return false;
    }
    return true;
}

static int32_t plainfind(const unsigned char *p, int32_t from, int32_t end, int wanted)
{
    bool trail = false;
    for (int32_t i = from; i < end; i++) {
        if (trail)
            trail = false;
        else if (p[i] == wanted)
            return i;
        else
            trail = (p[i] >= 0x81 && p[i] <= 0x9F) || (p[i] >= 0xE0 && p[i] <= 0xFC);
    }
    return -1;
}

TEST(nameequals, agreeswiththewalkonrandomnames)
{
    std::mt19937 rng(11);
    const unsigned char alphabet[] = {'A', 'B', ' ', ' ', ' ', 0x00, 0x05, 0xE5, 0x20 ^ 0x80};
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1);
    unsigned char e[11], w[11];
    for (int round = 0; round < 200000; round++) {
        for (int i = 0; i < 11; i++) {
            e[i] = alphabet[pick(rng)];
            w[i] = pick(rng) < 4 ? e[i] : alphabet[pick(rng)];
        }
        ASSERT_EQ(nameequals(e, w) != 0, walkequals(e, w))
            << testing::PrintToString(std::string((char *)e, 11)) << " "
            << testing::PrintToString(std::string((char *)w, 11));
    }
}

TEST(findbyte, agreeswiththeplainscanonrandombytes)
{
    std::mt19937 rng(12);
    const unsigned char alphabet[] = {'a', 'a', 'a', 'a', '\\', 0x95, 0x82, 0xE0, 0xFC, 0xFD, 0x80, 0x7F};
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1), len(0, 40);
    for (int round = 0; round < 100000; round++) {
        unsigned char p[48];
        int n = len(rng);
        for (int i = 0; i < n; i++)
            p[i] = alphabet[pick(rng)];
        int from = n ? (int)(rng() % (unsigned)n) : 0;
        ASSERT_EQ(nextslash(p, from, n), plainfind(p, from, n, '\\'))
            << testing::PrintToString(std::string((char *)p, (size_t)n)) << " from " << from;
    }
}
