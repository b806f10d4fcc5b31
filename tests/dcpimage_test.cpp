// dcpimage end to end: every type made, checked by fsck.fat, mkfs.fat's own
// parameter blocks, mtools and MAME's floptool; info on damaged headers;
// wrap and unwrap round trips; refusals and failing writes.
#include <gtest/gtest.h>

#include "testutil.h"

typedef toolrun imageresult;

static imageresult dcpimage(const std::string &args, const std::string &bin = DCPIMAGE_BIN)
{
    return runtool(bin + " " + args);
}

struct typeinfo {
    std::string name, mkfs;
    int sectors;
};

static const typeinfo types[] = {
    {"2hd", "-S 1024 -s 1 -f 2 -r 192 -M 0xFE -g 2/8", 1232},
    {"2hc", "-S 512 -s 1 -f 2 -r 224 -M 0xF9 -g 2/15", 2400},
    {"2hq", "-S 512 -s 1 -f 2 -r 224 -M 0xF0 -g 2/18", 2880},
    {"2dd", "-S 512 -s 2 -f 2 -r 112 -M 0xF9 -g 2/9", 1440}};

TEST(dcpimage, everytypeasmkfsfsckmtoolsandfloptoolseeit)
{
    std::string dir = tempdir();
    for (const typeinfo &t : types) {
        std::string dcp = dir + "/" + t.name + ".dcp", vol = dir + "/" + t.name + ".vol";
        ASSERT_EQ(dcpimage("create -L 'my disk' " + t.name + " " + quote(dcp)).status, 0);
        bytes img = readfile(dcp);
        ASSERT_EQ(img.size(), 162u + (size_t)t.sectors * (t.name == "2hd" ? 1024 : 512));
        // The parameter block that mkfs.fat writes for the same geometry.
        std::string ref = dir + "/" + t.name + ".mkfs";
        int kib = t.name == "2hd" ? t.sectors : t.sectors / 2;
        ASSERT_EQ(sh("mkfs.fat -C -F 12 " + t.mkfs + " " + quote(ref) + " " +
                     std::to_string(kib) + " >/dev/null"), 0);
        bytes mk = readfile(ref);
        EXPECT_TRUE(std::equal(mk.begin() + 11, mk.begin() + 39, img.begin() + 162 + 11))
            << t.name;
        EXPECT_EQ(std::string((const char *)img.data() + 162 + 43, 19), "MY DISK    FAT12   ");
        ASSERT_EQ(sh("tail -c +163 " + quote(dcp) + " > " + quote(vol) + " && fsck.fat -n " +
                     quote(vol) + " >/dev/null"), 0) << t.name;
        // mtools writes a file into it and reads it back; the label agrees.
        writetext(dir + "/f", "hello " + t.name);
        mtools("mcopy", dcp, quote(dir + "/f") + " ::F.TXT");
        std::string out;
        run("MTOOLS_SKIP_CHECK=1 mtype -i " + quote(dcp + "@@162") + " ::F.TXT", &out);
        EXPECT_EQ(out, "hello " + t.name);
        run("MTOOLS_SKIP_CHECK=1 mlabel -s -i " + quote(dcp + "@@162") + " ::", &out);
        EXPECT_EQ(out, " Volume label is MY DISK    \n");
        // A DCP reader that no one here wrote.
        run("floptool identify " + quote(dcp), &out);
        EXPECT_NE(out.find(" dcx "), std::string::npos) << out;
        EXPECT_NE(out.find("DCP/DCU disk image"), std::string::npos) << out;
        // Its raw PC-98 writer lays out 2hd and 2hc as unwrap does.
        if (t.name == "2hd" || t.name == "2hc") {
            ASSERT_EQ(dcpimage("unwrap " + quote(dcp) + " " + quote(vol)).status, 0);
            ASSERT_EQ(sh("floptool flopconvert dcx pc98 " + quote(dcp) + " " +
                         quote(dir + "/pc98") + " >/dev/null 2>&1"), 0);
            EXPECT_TRUE(readfile(dir + "/pc98") == readfile(vol)) << t.name;
        }
    }
}

TEST(dcpimage, createisrepeatableandrefusestooverwrite)
{
    std::string dir = tempdir(), a = dir + "/a.dcp", b = dir + "/b.dcp";
    for (const std::string &p : {a, b})
        ASSERT_EQ(sh("SOURCE_DATE_EPOCH=1700000000 " + std::string(DCPIMAGE_BIN) +
                     " create 2hq " + quote(p)),
                  0);
    bytes one = readfile(a);
    EXPECT_TRUE(one == readfile(b));
    EXPECT_EQ(std::string((const char *)one.data() + 162 + 43, 11), "NO NAME    ");
    EXPECT_EQ(one[162 + 19 * 512], 0); // the root's first slot: no label entry without -L
    struct refusal {
        std::string args, err;
    } cases[] = {
        {"create 2hq " + quote(a), a + " exists; -f overwrites it\n"},
        {"create 3hd " + quote(a), "Unknown type 3hd: 2hd, 2hc, 2hq, 2dd, fat16:SIZE, sasi5, sasi10, sasi15, sasi20, sasi30, "
                                    "sasi40, ideN (N MB) or ide:SIZE\n"},
        {"create -L THIRTEENCHARS 2hq " + quote(a), "Bad label THIRTEENCHARS: 1 to 11 bytes, no "
                                                     "control byte, no lead byte without its "
                                                     "trail byte and none of \"*+,./:;<=>?[\\]|\n"},
        {"create -L 'A*' 2hq " + quote(a), "Bad label A*: 1 to 11 bytes, no control byte, no "
                                           "lead byte without its trail byte and none of "
                                           "\"*+,./:;<=>?[\\]|\n"},
        {"create -L '' 2hq " + quote(a), "Bad label : 1 to 11 bytes, no control byte, no lead "
                                         "byte without its trail byte and none of "
                                         "\"*+,./:;<=>?[\\]|\n"},
        {"create -L " + quote("A\x01") + " 2hq " + quote(a),
         "Bad label A\x01: 1 to 11 bytes, no control byte, no lead byte without its trail byte and none of \"*+,./:;<=>?[\\]|\n"},
        {"create 2hq " + quote(dir + "/no/x.dcp"), "Could not write a temporary file beside " + dir + "/no/x.dcp\n"},
        {"create 2hq " + quote(dir + "/" + std::string(4100, 'x')),
         "The name " + dir + "/" + std::string(4100, 'x') + " is too long\n"}};
    for (const refusal &c : cases) {
        imageresult r = dcpimage(c.args);
        EXPECT_EQ(r.status, 1) << c.args.substr(0, 60);
        EXPECT_EQ(r.err, c.err);
    }
    // A lead byte that ends a label has no character: refused.
    EXPECT_EQ(dcpimage("create -f -L " + quote("AB\x81") + " 2hq " + quote(b)).status, 1);
    // -u: a label typed in UTF-8 is stored in Shift-JIS (ソ's trail byte is 5C).
    ASSERT_EQ(dcpimage("create -f -u -L " + quote("ソフト") + " 2hq " + quote(b)).status, 0);
    EXPECT_EQ(std::string((const char *)readfile(b).data() + 162 + 43, 11),
              "\x83\x5C\x83\x74\x83\x67     ");
    EXPECT_EQ(dcpimage("create -f -u -L caf\xC3\xA9 2hq " + quote(b)).err,
              "Label caf\xC3\xA9 has no Shift-JIS form (code page 932)\n");
    imageresult epoch = dcpimage("create -f 2hq " + quote(a),
                                 "SOURCE_DATE_EPOCH=soon " + std::string(DCPIMAGE_BIN));
    EXPECT_EQ(epoch.err, "SOURCE_DATE_EPOCH is not a decimal number\n");
    EXPECT_TRUE(readfile(a) == one);
    EXPECT_EQ(dcpimage("create -f -L x 2dd " + quote(a)).status, 0);
    EXPECT_EQ(readfile(a).size(), 162u + 1440 * 512);
}

// A 2hq image with its header changed by edit, for info and unwrap.
static std::string editedimage(const std::string &dir, const std::string &name,
                               void (*edit)(bytes *))
{
    std::string path = dir + "/" + name;
    bytes img = readfile(dir + "/base.dcp");
    edit(&img);
    writefile(path, img);
    return path;
}

static void leaveouttrack5(bytes *img)
{
    (*img)[1 + 5] = 0;
    img->erase(img->begin() + 162 + 5 * 9216, img->begin() + 162 + 6 * 9216);
}

TEST(dcpimage, infotellswhatbreaksareaderandwhatdoesnot)
{
    std::string dir = tempdir();
    ASSERT_EQ(dcpimage("create 2hq " + quote(dir + "/base.dcp")).status, 0);
    ASSERT_EQ(dcpimage("create 2hd " + quote(dir + "/hd.dcp")).status, 0);
    struct infocase {
        std::string name;
        void (*edit)(bytes *);
        int status;
        std::string lines; // that the output holds, in order
    } cases[] = {
        {"good", [](bytes *) {}, 0, "tracks stored: 160 of 160; not stored: none\nbyte 161: 0\n"},
        {"zero", [](bytes *i) { (*i)[0] = 0; }, 1, "media: 0x00 unknown\n"},
        {"flag", [](bytes *i) { (*i)[1 + 9] = 2; (*i)[1 + 12] = 3; }, 1,
         "problem: the flag of track 9 is 2, not 0 or 1\n"},
        {"nothing", [](bytes *i) { (*i)[0] = 9; (*i)[162 + 24] = 7; }, 1,
         "media: 0x09 unknown\ntracks stored: 160 of 160; not stored: none\nbyte 161: 0\nproblem: "
         "media byte 0x09 is no known type\nvolume: 2880 sectors of 512 bytes, 7 a track, 2 "
         "heads, 1 a cluster, 2 FATs of 9 sectors, 224 root entries, media descriptor 0xF0 (no "
         "known type)\n"},
        {"gapnomedia", [](bytes *i) { leaveouttrack5(i); (*i)[0] = 0; }, 1, "not stored: 5\n"},
        {"b161", [](bytes *i) { (*i)[161] = 1; }, 0, "byte 161: 1 (readers differ on it; these "
                                                     "tools do not read it)\n"},
        {"hd", [](bytes *i) { (*i)[0] = 1; }, 1, "problem: the volume's geometry is not that of "
                                                 "2hd\n"},
        {"short", [](bytes *i) { i->resize(100000); }, 1, "problem: the file is 1374722 bytes "
                                                          "short of its volume\n"},
        {"gap", leaveouttrack5, 0, "not stored: 5\n"}, // a compact image
        {"marked", [](bytes *i) { (*i)[1 + 5] = 0; (*i)[1 + 7] = 0; (*i)[1 + 8] = 0; }, 0,
         "not stored: 5,7-8\n"}};
    for (const infocase &c : cases) {
        imageresult r = dcpimage("info " + quote(editedimage(dir, c.name, c.edit)));
        EXPECT_EQ(r.status, c.status) << c.name << r.out;
        EXPECT_NE(r.out.find(c.lines), std::string::npos) << c.name << r.out;
        EXPECT_EQ(r.out.substr(r.out.rfind("\nagrees: ")), c.status ? "\nagrees: no\n"
                                                                     : "\nagrees: yes\n")
            << c.name;
    }
    imageresult hd = dcpimage("info " + quote(dir + "/hd.dcp"));
    EXPECT_NE(hd.out.find("tracks stored: 154 of 160; not stored: 154-159\n"), std::string::npos);
    imageresult gap = dcpimage("info " + quote(dir + "/gap"));
    EXPECT_NE(gap.out.find("note: a compact image: the file leaves out the 1 tracks marked not "
                           "stored, and these tools read it through its flags\n"),
              std::string::npos);
    imageresult marked = dcpimage("info " + quote(dir + "/marked"));
    EXPECT_NE(marked.out.find("note: 3 tracks inside the volume are marked not stored, but the "
                              "file holds every track\n"), std::string::npos);
    EXPECT_EQ(dcpimage("info " + quote(dir + "/none")).err, "Could not open " + dir + "/none\n");
    for (size_t n : {3, 300}) { // short in the header, then in the boot sector
        writefile(dir + "/tiny", bytes(n, 1));
        EXPECT_EQ(dcpimage("info " + quote(dir + "/tiny")).err,
                  dir + "/tiny is too short for a boot sector\n");
    }
}

TEST(dcpimage, wrapandunwrap)
{
    std::string dir = tempdir(), base = dir + "/base.dcp", vol = dir + "/vol", back = dir + "/b";
    ASSERT_EQ(dcpimage("create 2hq " + quote(base)).status, 0);
    mtools("mcopy", base, "/etc/os-release ::OS.TXT");
    bytes whole = readfile(base);
    ASSERT_EQ(dcpimage("unwrap " + quote(base) + " " + quote(vol)).status, 0);
    EXPECT_TRUE(readfile(vol) == bytes(whole.begin() + 162, whole.end()));
    ASSERT_EQ(dcpimage("wrap " + quote(vol) + " " + quote(back)).status, 0);
    EXPECT_TRUE(readfile(back) == whole);
    // A left-out track comes back as zeros in its place; wrapped again, the
    // image is whole.
    std::string gap = editedimage(dir, "gap", leaveouttrack5);
    ASSERT_EQ(dcpimage("unwrap " + quote(gap) + " " + quote(vol)).status, 0);
    bytes want(whole.begin() + 162, whole.end());
    std::fill(want.begin() + 5 * 9216, want.begin() + 6 * 9216, 0);
    EXPECT_TRUE(readfile(vol) == want);
    ASSERT_EQ(dcpimage("wrap -f " + quote(vol) + " " + quote(back)).status, 0);
    EXPECT_EQ(dcpimage("info " + quote(back)).status, 0);
    struct refusal {
        std::string args, err;
    } cases[] = {
        {"wrap " + quote(vol) + " " + quote(back), back + " exists; -f overwrites it\n"},
        {"wrap " + quote(base) + " " + quote(dir + "/x"),
         base + " matches no DCP type: 257 sectors of 257 bytes, 257 a track, 257 heads\n"},
        {"wrap " + quote(dir + "/shortvol") + " " + quote(dir + "/x"),
         dir + "/shortvol is shorter than its volume: 10000 bytes of 1474560\n"},
        {"unwrap " + quote(dir + "/short.dcp") + " " + quote(dir + "/x"),
         dir + "/short.dcp is shorter than its volume: 9838 bytes of 1474560\n"},
        {"wrap " + quote(dir + "/none") + " " + quote(dir + "/x"), "Could not open " + dir +
                                                                      "/none\n"},
        {"unwrap " + quote(dir + "/none") + " " + quote(dir + "/x"), "Could not open " + dir +
                                                                        "/none\n"},
        {"wrap " + quote(dir + "/spt9") + " " + quote(dir + "/x"),
         dir + "/spt9 matches no DCP type: 2880 sectors of 512 bytes, 9 a track, 2 heads\n"},
        {"wrap " + quote(dir + "/head1") + " " + quote(dir + "/x"),
         dir + "/head1 matches no DCP type: 2880 sectors of 512 bytes, 18 a track, 1 heads\n"},
        {"unwrap " + quote(base) + " " + quote(dir + "/no/x"), "Could not write a temporary file beside " + dir + "/no/x\n"},
        {"wrap " + quote(vol) + " " + quote(dir + "/no/x"), "Could not write a temporary file beside " + dir + "/no/x\n"}};
    writefile(dir + "/shortvol", bytes(want.begin(), want.begin() + 10000));
    bytes odd = want;
    odd[24] = 9;
    writefile(dir + "/spt9", odd);
    odd[24] = 18;
    odd[26] = 1;
    writefile(dir + "/head1", odd);
    writefile(dir + "/short.dcp", bytes(whole.begin(), whole.begin() + 10000));
    for (const refusal &c : cases) {
        imageresult r = dcpimage(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(sh("ls " + quote(dir) + " | grep -q tmp"), 1); // no temporary file is left
    // A gap, where the media byte names no type: the volume's geometry lays
    // out the tracks.
    std::string nomedia = editedimage(dir, "nomedia", [](bytes *i) {
        leaveouttrack5(i);
        (*i)[0] = 0;
    });
    ASSERT_EQ(dcpimage("unwrap " + quote(nomedia) + " " + quote(vol)).status, 0);
    EXPECT_TRUE(readfile(vol) == want);
    // The input gone, or cut short, between the look and the copy: nothing
    // written, not even a volume of nothing but fill.
    writefile(dir + "/stub", bytes(100, 0));
    bytes before = readfile(back);
    for (std::string args : {"wrap -f " + quote(vol) + " " + quote(back),
                             "unwrap " + quote(base) + " " + quote(back),
                             "unwrap " + quote(gap) + " " + quote(back)}) {
        std::string in = args.substr(args.find('\''), args.find('\'', args.find('\'') + 1) -
                                                              args.find('\'') + 1);
        for (std::string other : {"none", "stub"}) {
            // unwrap opens its input a third time: for its container, its
            // header, and the copy.
            std::string at = args.substr(0, 6) == "unwrap" ? "DCPFAULT_SWAPAT=3 " : "";
            imageresult r = dcpimage(args, at + "DCPFAULT_SWAP=" + in.substr(0, in.size() - 1) +
                                               ":" + dir + "/" + other + "' " + DCPIMAGE_FAULT_BIN);
            EXPECT_EQ(r.status, 1) << args << other;
            EXPECT_EQ(r.err, std::string(other == "none" ? "Could not open " : "Could not read ") +
                                 in.substr(1, in.size() - 2) + "\n")
                << args << other;
            EXPECT_TRUE(readfile(back) == before) << args << other;
        }
    }
}

TEST(dcpimage, failingwritesleavenooutput)
{
    std::string dir = tempdir(), out = dir + "/out.dcp", tmp = out + ".*";
    std::string fault = DCPIMAGE_FAULT_BIN;
    // The header, then the volume a sector a write: the boot sector, the FAT
    // copies, the root with its label, and the zeros after.
    std::vector<std::string> envs = {"DCPFAULT_CLOSE=" + quote(tmp)};
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 200})
        envs.push_back("DCPFAULT_WRITE=" + std::to_string(n) + ":" + quote(tmp));
    for (const std::string &env : envs) {
        imageresult r = dcpimage("create -L x 2hd " + quote(out), env + " " + fault);
        EXPECT_EQ(r.status, 1) << env;
        EXPECT_EQ(r.err, "Could not write " + out + "\n") << env;
        EXPECT_EQ(sh("test -e " + quote(out) + " || ls " + quote(dir) + " | grep -q tmp"), 1) << env;
    }
    // unwrap and wrap, their copies failing; a rename that fails.
    ASSERT_EQ(dcpimage("create 2hq " + quote(out)).status, 0);
    std::string vol = dir + "/vol";
    EXPECT_EQ(dcpimage("unwrap " + quote(out) + " " + quote(vol),
                       "DCPFAULT_WRITE=1:" + quote(vol + ".*") + " " + fault).status, 1);
    ASSERT_EQ(dcpimage("unwrap " + quote(out) + " " + quote(vol)).status, 0);
    for (int n : {1, 2}) // the header, then the volume's bytes
        EXPECT_EQ(dcpimage("wrap -f " + quote(vol) + " " + quote(out),
                           "DCPFAULT_WRITE=" + std::to_string(n) + ":" + quote(tmp) + " " + fault)
                      .status,
                  1);
    ASSERT_EQ(sh("mkdir " + quote(dir + "/d") + " && touch " + quote(dir + "/d/f")), 0);
    imageresult r = dcpimage("unwrap " + quote(out) + " " + quote(dir + "/d"));
    EXPECT_EQ(r.err, dir + "/d is a directory, where a file goes\n"); // never removed
}

TEST(dcpimage, commandline)
{
    struct cmd {
        std::string args;
        int status;
        std::string out;
    } cases[] = {{"--version", 0, "dcpimage (dcptools) " DCP_VERSION "\n"},
                 {"", 1, ""},
                 {"convert", 1, ""},
                 {"convert -L x a b", 1, ""},
                 {"protect -f a", 1, ""},
                 {"info", 1, ""},
                 {"info -f x", 1, ""},
                 {"create -L x -x 2hd x", 1, ""},
                 {"unwrap -f a b", 1, ""},
                 {"wrap -L x a b", 1, ""},
                 {"info -c a", 1, ""}};
    for (const cmd &c : cases) {
        imageresult r = dcpimage(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.out) << c.args;
        if (c.status) {
            EXPECT_NE(r.err.find("Usage: dcpimage create"), std::string::npos) << c.args;
        }
    }
    EXPECT_EQ(dcpimage("--help").out.substr(0, 23), "Usage: dcpimage create ");
}
