// The rollback journal on its own: a change through it lands whole; a
// change stopped after any batch rolls back to the old bytes, size
// included, and one stopped before leaves no journal under its name; a
// journal cut short, damaged or beside another image is never applied.
#include <gtest/gtest.h>

#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "host/journal.h"
#include "testutil.h"

namespace {

// An image of n pseudo-random bytes.
bytes oldimage(size_t n, unsigned seed)
{
    bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (unsigned char)((i * 2654435761u + seed) >> 13);
    return b;
}

struct change {
    int64_t at;
    int32_t len;
    unsigned char fill;
};

// Two FAT-like sectors, a range written twice in a batch, a run of 1.5 MB
// (the first batch sent), the first sector written again (its record in the
// second batch holds the first batch's bytes), and 1 MB from just before
// the old end (the second batch sent: the file grows).
const std::vector<change> changes = {
    {512, 512, 0x11},          {4096, 512, 0x22}, {600, 100, 0x33},
    {8192, 1536 * 1024, 0x44}, {512, 512, 0x66},  {3 * 1024 * 1024 - 100, 1024 * 1024, 0x55},
};

bytes applied(bytes b, size_t upto)
{
    for (size_t i = 0; i < upto; i++) {
        const change &c = changes[i];
        if (b.size() < (size_t)(c.at + c.len))
            b.resize((size_t)(c.at + c.len), 0);
        std::fill(b.begin() + c.at, b.begin() + c.at + c.len, c.fill);
    }
    return b;
}

journal j;

// Writes old to path with holes (whole 4 KB blocks never written, which
// read as zeros): one inside the 1.5 MB run, one under the last change and
// the fingerprint's blocks, one at the end. The image's bytes, as read.
bytes sparseimage(const std::string &path, bytes old)
{
    const std::vector<std::pair<size_t, size_t>> holes = {
        {65536, 32768}, {1 << 20, 1 << 20}, {5 << 19, 1 << 19}};
    FILE *f = fopen(path.c_str(), "wb");
    size_t at = 0;

    for (const auto &h : holes) {
        std::fill(old.begin() + (long)h.first, old.begin() + (long)(h.first + h.second), 0);
        fwrite(old.data() + at, 1, h.first - at, f);
        at = h.first + h.second;
        fseek(f, (long)at, SEEK_SET);
    }
    fwrite(old.data() + at, 1, old.size() - at, f);
    EXPECT_EQ(ftruncate(fileno(f), (off_t)old.size()), 0);
    fclose(f);
    return old;
}

// Writes the first upto changes through the journal; commits when asked,
// else leaves it as a kill would (the batch in memory lost).
void runchange(const std::string &path, size_t upto, bool commit)
{
    FILE *f = fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(journalstart(&j, f, path.c_str()), 1);
    for (size_t i = 0; i < upto; i++) {
        bytes data((size_t)changes[i].len, changes[i].fill);
        ASSERT_EQ(journalwrite(&j, changes[i].at, data.data(), changes[i].len), 1);
    }
    if (commit)
        EXPECT_EQ(journalcommit(&j), 1);
    else
        fclose(j.file);
    fclose(f);
}

int check(const std::string &path, std::string *why = nullptr)
{
    char text[200];
    FILE *f = fopen(path.c_str(), "rb");
    int r = journalcheck(path.c_str(), f, text, sizeof text);
    fclose(f);
    if (why)
        *why = text;
    return r;
}

int rollback(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "r+b");
    int r = journalrollback(path.c_str(), f);
    fclose(f);
    return r;
}

} // namespace

// The CRC-32 of zlib, whole and in pieces of every length past the
// eight-byte steps (a continued CRC must equal the whole one).
TEST(journal, crcisthatofzlib)
{
    const std::string fox = "The quick brown fox jumps over the lazy dog";
    const unsigned char *p = (const unsigned char *)fox.data();
    bytes b(1000);
    for (size_t i = 0; i < b.size(); i++)
        b[i] = (unsigned char)(i * 7 % 251);

    EXPECT_EQ(journalcrc(0, p, (int64_t)fox.size()), 0x414fa339u);
    EXPECT_EQ(journalcrc(0, b.data(), 1000), 0x04da8651u);
    // Blocks of 4 KB of zeros between others, taken a block at a time.
    bytes z(3 * 4096 + 5, 0);
    z[4096 + 17] = 0x80;
    EXPECT_EQ(journalcrc(0, z.data(), (int64_t)z.size()), 0x269770ffu);
    EXPECT_EQ(journalcrc(journalcrc(0, p, 9), bytes(8192, 0).data(), 8192), 0xd799c63fu);
    for (int64_t cut = 0; cut <= 17; cut++)
        EXPECT_EQ(journalcrc(journalcrc(0, p, cut), p + cut, (int64_t)fox.size() - cut),
                  0x414fa339u) << cut;
}

TEST(journal, ablockdevicekeepsitsjournalinthehostsstatedirectory)
{
    std::string dev;
    for (const char *d : {"/dev/loop0", "/dev/vda", "/dev/sda", "/dev/nvme0n1"}) {
        struct stat st;
        if (dev.empty() && stat(d, &st) == 0 && S_ISBLK(st.st_mode))
            dev = d;
    }
    if (dev.empty()) {
        GTEST_SKIP() << "no block device here";
    }
    std::string dir = tempdir(), link = dir + "/disk", name = "dev_" + dev.substr(5) + "-journal";
    ASSERT_EQ(symlink(dev.c_str(), link.c_str()), 0);
    const char *state = getenv("XDG_STATE_HOME"), *home = getenv("HOME");
    std::string keptstate = state ? state : "", kepthome = home ? home : "";
    struct {
        const char *state, *home;
        std::string image, journal;
    } cases[] = {
        {"/s", "/h", dev, "/s/dcptools/" + name},
        {"/s", "/h", link, "/s/dcptools/" + name}, // by the device's own path
        {"s", "/h", dev, "/h/.local/state/dcptools/" + name},
        {nullptr, nullptr, dev, dev + "-journal"}, // nowhere else to keep it
        {"/s", "/h", dir + "/f.hdi", dir + "/f.hdi-journal"},
    };
    for (const auto &c : cases) {
        char out[JOURNALPATHMAX];
        c.state ? setenv("XDG_STATE_HOME", c.state, 1) : unsetenv("XDG_STATE_HOME");
        c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
        journalpath(out, c.image.c_str());
        EXPECT_EQ(out, c.journal) << c.image;
    }
    state ? setenv("XDG_STATE_HOME", keptstate.c_str(), 1) : unsetenv("XDG_STATE_HOME");
    home ? setenv("HOME", kepthome.c_str(), 1) : unsetenv("HOME");
}

TEST(journal, achangelandswholeandleavesnojournal)
{
    std::string dir = tempdir(), img = dir + "/disk.hdi";
    bytes old = oldimage(3 * 1024 * 1024, 1);
    writefile(img, old);
    runchange(img, changes.size(), true);
    EXPECT_EQ(readfile(img), applied(old, changes.size()));
    EXPECT_NE(sh("test -e " + quote(img + "-journal")), 0);
    EXPECT_EQ(check(img), JOURNALNONE);
}

TEST(journal, achangestoppedafteranybatchrollsbacktotheoldimage)
{
    // Stopped after each number of writes: what reached the image (the
    // batches sent) is undone, the grown file cut back, the journal gone.
    // On a sparse image too: old bytes in holes are zeros, never read.
    std::string dir = tempdir(), img = dir + "/disk.hdi";
    bytes dense = oldimage(3 * 1024 * 1024, 2), old;
    for (size_t upto = 1; upto <= 2 * changes.size(); upto++) {
        SCOPED_TRACE(upto);
        if (upto <= changes.size())
            writefile(img, old = dense);
        else
            old = sparseimage(img, dense);
        runchange(img, (upto - 1) % changes.size() + 1, false);
        int r = check(img);
        if (readfile(img) == old) { // nothing sent yet: the journal was never named
            EXPECT_EQ(r, JOURNALNONE);
            sh("rm " + quote(img) + "-journal.*.tmp");
            continue;
        }
        ASSERT_EQ(r, JOURNALROLLBACK);
        EXPECT_EQ(rollback(img), 1);
        EXPECT_EQ(readfile(img), old);
        EXPECT_EQ(check(img), JOURNALNONE);
    }
}

TEST(journal, ajournalcutdamagedorbesideanotherimageisneverapplied)
{
    std::string dir = tempdir(), img = dir + "/disk.hdi", jp = img + "-journal";
    bytes old = oldimage(3 * 1024 * 1024, 3);
    writefile(img, old);
    runchange(img, 4, false); // the first batch sent, the run's second half in memory
    bytes journalbytes = readfile(jp), sent = readfile(img);
    ASSERT_NE(sent, old);
    // A second batch's record torn by the kill: the first batch rolls back.
    bytes torn = journalbytes;
    torn.insert(torn.end(), 300, 0x77);
    writefile(jp, torn);
    EXPECT_EQ(check(img), JOURNALROLLBACK);
    EXPECT_EQ(rollback(img), 1);
    EXPECT_EQ(readfile(img), old);
    struct { const char *name; bytes journal; bytes image; int want; } rows[] = {
        {"header cut short", bytes(journalbytes.begin(), journalbytes.begin() + 40), sent,
         JOURNALINCOMPLETE},
        {"header alone", bytes(journalbytes.begin(), journalbytes.begin() + JOURNALHEADER), sent,
         JOURNALINCOMPLETE},
        {"header damaged", journalbytes, sent, JOURNALINCOMPLETE},
        {"first record damaged", journalbytes, sent, JOURNALINCOMPLETE},
        {"another image beside it", journalbytes, oldimage(3 * 1024 * 1024, 4), JOURNALFOREIGN},
        {"the image cut shorter than it was", journalbytes,
         bytes(sent.begin(), sent.begin() + 1024 * 1024), JOURNALFOREIGN},
    };
    rows[2].journal[9] ^= 1;
    rows[3].journal[JOURNALHEADER + JOURNALRECORD + 3] ^= 1;
    for (const auto &r : rows) {
        writefile(img, r.image);
        writefile(jp, r.journal);
        std::string why;
        EXPECT_EQ(check(img, &why), r.want) << r.name;
        EXPECT_NE(why.find("left alone"), std::string::npos) << r.name << why;
        EXPECT_EQ(rollback(img), 0) << r.name;
        EXPECT_EQ(readfile(img), r.image) << r.name;
        EXPECT_EQ(readfile(jp), r.journal) << r.name;
    }
}

TEST(journal, everyprogramrollsbackbeforeitworksandleavesaforeignjournalalone)
{
    // A put into a 5 MB disk killed at a write or at the image's sync leaves
    // it changed and a journal: the next program, whichever, puts the old disk back first
    // (info says so too). A journal beside another disk is named, never
    // applied, and no change is made under it.
    std::string dir = tempdir(), img = dir + "/d.hdi", other = dir + "/e.hdi";
    writefile(dir + "/f", bytes(3000, 0x21));
    std::string put = std::string(SECTPUT_BIN) + " " + quote(img) + " F.BIN " + quote(dir + "/f");
    ASSERT_EQ(sh(std::string(DCPIMAGE_BIN) + " create ide5 " + quote(img) + " && " +
                 DCPIMAGE_BIN + " create -L OTHER ide5 " + quote(other)), 0);
    bytes old = readfile(img);
    for (const std::string &reader : {std::string(SECTMAP_BIN) + " " + quote(img),
                                      std::string(DCPIMAGE_BIN) + " info " + quote(img)}) {
        // Killed at its second data sync, the image's: written, not yet done.
        std::string kill = "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e "
                           "trace=fdatasync -e inject=fdatasync:signal=KILL:when=2 " + put +
                           " >/dev/null 2>&1";
        writefile(img, old);
        sh(kill);
        ASSERT_TRUE(readfile(img) != old && sh("test -e " + quote(img + "-journal")) == 0);
        toolrun r = runtool(reader);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, img + ": a change to it was cut short; its old bytes are back from " +
                             img + "-journal\n");
        if (reader.find(" info ") != std::string::npos) {
            EXPECT_EQ(r.out.find("journal: " + img + "-journal holds the old bytes of a change "
                                 "that was cut short, and is rolled back now\n"), 0u) << r.out;
        }
        EXPECT_EQ(readfile(img), old);
        EXPECT_NE(sh("test -e " + quote(img + "-journal")), 0);
        if (reader.find(" info ") == std::string::npos) // kept for the foreign case below
            continue;
        writefile(img, old);
        ASSERT_EQ(sh(kill + "; mv " + quote(img + "-journal") + " " + quote(other + "-journal")),
                  0);
    }
    bytes theother = readfile(other);
    toolrun r = runtool(std::string(SECTMAP_BIN) + " " + quote(other));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, other + "-journal belongs to another image, or to this one changed since; "
                             "it is left alone\n");
    r = runtool(std::string(SECTPUT_BIN) + " " + quote(other) + " F.BIN " + quote(dir + "/f"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not start the journal " + other + "-journal that a change to " +
                         other + " writes first; nothing written\n"), std::string::npos) << r.err;
    EXPECT_EQ(readfile(other), theother);
    EXPECT_EQ(sh("test -e " + quote(other + "-journal")), 0);
}

TEST(journal, itsordermakesarollbackpossibleatapowercut)
{
    // What a power cut keeps is what was synced: the journal's records are
    // written and synced, and the journal named (its directory synced),
    // before the image takes a byte; the image is synced before the
    // journal goes. The order of the calls, as strace sees them (the
    // directory's syncs are fsync, the files' fdatasync).
    std::string dir = tempdir(), img = dir + "/d.nhd", log = dir + "/calls";
    writefile(dir + "/f", bytes(3000, 0x21));
    ASSERT_EQ(sh(std::string(DCPIMAGE_BIN) + " create ide5 " + quote(img)), 0);
    ASSERT_EQ(sh("ASAN_OPTIONS=detect_leaks=0 strace -qq -o " + quote(log) +
                 " -e trace=openat,write,fsync,fdatasync,rename,"
                 "unlink " +
                 SECTPUT_BIN + " " + quote(img) + " F.BIN " + quote(dir + "/f") + " >/dev/null"),
              0);
    std::string calls = texts(readfile(log)), jfd, ifd, seen;
    std::istringstream lines(calls);
    // Up to the journal's removal: after it, the numbers are other files'
    // (a coverage build writes its profile at the exit).
    for (std::string l; std::getline(lines, l) && seen.find('U') == std::string::npos;) {
        std::string fd = l.substr(l.rfind("= ") + 2);
        if (l.find("openat") == 0 && l.find("-journal.") != std::string::npos)
            jfd = fd;
        else if (l.find("openat") == 0 && l.find("\"" + img + "\", O_RDWR") != std::string::npos)
            ifd = fd;
        else if (!jfd.empty() && l.find("write(" + jfd + ",") == 0)
            seen += seen.empty() || seen.back() != 'j' ? "j" : "";
        else if (!jfd.empty() && l.find("fdatasync(" + jfd + ")") == 0 &&
                 seen.find('N') == std::string::npos) // a number used again later
            seen += "J";
        else if (l.find("rename(") == 0)
            seen += "N";
        else if (!ifd.empty() && l.find("write(" + ifd + ",") == 0)
            seen += seen.back() != 'i' ? "i" : "";
        else if (!ifd.empty() && l.find("fdatasync(" + ifd + ")") == 0 &&
                 seen.find('U') == std::string::npos)
            seen += "I";
        else if (l.find("unlink(") == 0 && l.find("-journal\"") != std::string::npos)
            seen += "U";
        else if (l.find("fsync(") == 0)
            seen += "D"; // the directory
    }
    // Records, their sync, the name and its directory; the image, its sync;
    // the journal gone.
    EXPECT_EQ(seen, "jJNDiIU") << calls;
}

TEST(journal, apowercutanywherelosesonlywhatwasnotsyncedandleavestheoldorthenewimage)
{
    // The power fails at each write, sync, rename and removal of a put in
    // turn, and after its exit; the fault shim takes away what a disk may
    // lose of what was not synced, in either worst case: the journal's
    // unsynced bytes and name gone while every image write stays, or half
    // the image's unsynced blocks gone. The next opening gives the old
    // image or the new one; a journal under its name is always whole.
#ifdef __SANITIZE_ADDRESS__
    // As the kills: each cut ends a program the plain build runs the same.
    GTEST_SKIP() << "the power cuts run in the normal build";
#endif
    std::string dir = tempdir(), img = dir + "/d.hdi";
    writefile(dir + "/f", bytes(5000, 0x5A));
    ASSERT_EQ(sh(std::string(DCPIMAGE_BIN) + " create ide5 " + quote(img)), 0);
    bytes old = readfile(img);
    std::string put = std::string(SECTPUT_FAULT_BIN) + " " + quote(img) + " F.BIN " +
                      quote(dir + "/f") + " >/dev/null 2>&1";
    ASSERT_EQ(sh(put), 0);
    bytes fresh = readfile(img);
    for (const std::string what : {"journal", "image"}) {
        int n, status = 99, cutsold = 0, cutsnew = 0;
        for (n = 1; n < 300 && status == 99; n++) {
            writefile(img, old);
            status = sh("DCPFAULT_CUT=" + std::to_string(n) + ":" + what + ":" + img + " " + put);
            runtool(std::string(SECTMAP_BIN) + " " + quote(img));
            bytes now = readfile(img);
            EXPECT_TRUE(now == old || now == fresh) << what << " cut at " << n;
            EXPECT_NE(sh("test -e " + quote(img + "-journal")), 0) << what << " cut at " << n;
            cutsold += status == 99 && now == old;
            cutsnew += status == 99 && now == fresh;
            sh("rm -f " + quote(img) + "-journal*");
        }
        EXPECT_EQ(status, 0) << what << " never got through";
        // Cuts before the change was whole, and after.
        EXPECT_GT(cutsold, 3) << what;
        EXPECT_GT(cutsnew, 0) << what;
    }
}

TEST(journal, aprogramthatcannotwritetheimagebackreadsnothingofitandsaysso)
{
    // A change cut short; the image on a disk now mounted read-only: a
    // program that only reads cannot roll it back, and reads nothing of the
    // mixed image. Once it can write, the next one rolls back.
    std::string dir = tempdir(), img = dir + "/disk.hdi";
    bytes old = oldimage(3 * 1024 * 1024, 6);
    writefile(img, old);
    runchange(img, 4, false);
    bytes mixed = readfile(img);
    ASSERT_FALSE(mixed == old);
    toolrun r = runtool("DCPFAULT_NOWRITE=" + quote(img) + " " + SECTGET_FAULT_BIN + " -a " +
                        quote(dir + "/got") + " " + quote(img));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, img + ": a change to it was cut short, and " + img +
                         "-journal holds its old bytes, but they could not be written back; "
                         "nothing done\n");
    EXPECT_EQ(readfile(img), mixed);
    EXPECT_NE(sh("test -e " + quote(dir + "/got")), 0);
    EXPECT_EQ(check(img), JOURNALROLLBACK);
    runtool(std::string(SECTGET_BIN) + " -a " + quote(dir + "/got") + " " + quote(img));
    EXPECT_EQ(readfile(img), old);
}

TEST(journal, achangeunderajournalwritesthesamebytesasonethroughacopy)
{
    // The same first partition on a 2 MB disk (changed through a copy) and
    // on an 8 MB one (in place, under a journal): after each change, its
    // volume is byte for byte the same on both.
    std::string dir = tempdir(), small = dir + "/s.hdi", big = dir + "/b.hdi";
    std::string epoch = "SOURCE_DATE_EPOCH=1700000000 ";
    writefile(dir + "/a", oldimage(30000, 7));
    writefile(dir + "/b", oldimage(70000, 8));
    writetext(dir + "/list", "A.BIN " + dir + "/a\nSUB\\B.BIN " + dir + "/b\nC.BIN " + dir +
                                 "/a\n");
    ASSERT_EQ(sh(epoch + DCPIMAGE_BIN + " create -P 300K,300K ide:2M " + quote(small) + " && " +
                 epoch + DCPIMAGE_BIN + " create -P 300K,5M ide:8M " + quote(big)),
              0);
    const std::string changes[] = {
        std::string(SECTPUT_BIN) + " -l " + quote(dir + "/list") + " -p 1 IMAGE",
        std::string(SECTPUT_BIN) + " -p 1 IMAGE A.BIN " + quote(dir + "/b"), // grows: moves
        std::string(SECTRM_BIN) + " -p 1 IMAGE C.BIN",
        std::string(SECTMV_BIN) + " -p 1 IMAGE 'SUB\\B.BIN' B2.BIN",
        std::string(SECTATTR_BIN) + " +h -p 1 IMAGE A.BIN",
        std::string(DCPIMAGE_BIN) + " label -p 1 IMAGE SAME",
    };
    for (const std::string &c : changes) {
        for (const std::string &img : {small, big}) {
            std::string cmd = c;
            ASSERT_EQ(sh(epoch + cmd.replace(cmd.find("IMAGE"), 5, quote(img)) + " >/dev/null"),
                      0) << cmd;
            ASSERT_EQ(sh(std::string(DCPIMAGE_BIN) + " convert -f -p 1 " + quote(img) + " " +
                         quote(img + ".vol")), 0);
        }
        EXPECT_TRUE(readfile(small + ".vol") == readfile(big + ".vol")) << c;
    }
}

TEST(journal, afailingwritesyncorrenameofthejournalleavestheoldimage)
{
    // Each write, sync and rename the journal and the image take, failed in
    // turn (the fault shim): the put says so with status 1, and the image
    // is the old one, now or once the next program has rolled it back.
    std::string dir = tempdir(), img = dir + "/d.hdi", jp = img + "-journal";
    writefile(dir + "/f", bytes(3000, 0x21));
    ASSERT_EQ(sh(std::string(DCPIMAGE_BIN) + " create ide5 " + quote(img)), 0);
    bytes old = readfile(img);
    const std::string put = std::string(SECTPUT_FAULT_BIN) + " " + quote(img) + " F.BIN " +
                            quote(dir + "/f");
    std::vector<std::string> faults = {
        "DCPFAULT_SYNC=1:" + jp + "*", "DCPFAULT_SYNC=1:" + dir, // the journal's name
        "DCPFAULT_RENAME=" + jp, "DCPFAULT_SYNC=1:" + img,
    };
    // Every write of the journal (its header, each record's parts) and of
    // the image, until past the last (a write of no bytes cannot fail).
    for (const std::string &target : {jp + "*", img}) {
        size_t before = faults.size();
        for (int n = 1, through = 0; n < 100 && through < 3; n++) {
            std::string fault = "DCPFAULT_WRITE=" + std::to_string(n) + ":" + target;
            writefile(img, old);
            through = sh("env " + quote(fault) + " " + put + " >/dev/null 2>&1") == 0 ? through + 1
                                                                                   : 0;
            if (!through)
                faults.push_back(fault);
        }
        EXPECT_GT(faults.size() - before, 2u) << target;
        sh("rm -f " + quote(jp) + "*");
    }
    for (const std::string &fault : faults) {
        writefile(img, old);
        toolrun r = runtool("env " + quote(fault) + " " + put);
        EXPECT_EQ(r.status, 1) << fault;
        // "Could not write IMAGE; ...", or of the header "Could not start the journal".
        EXPECT_NE(r.err.find("Could not "), std::string::npos) << fault << r.err;
        EXPECT_NE(r.err.find(img), std::string::npos) << fault << r.err;
        runtool(std::string(SECTMAP_BIN) + " " + quote(img));
        EXPECT_EQ(readfile(img), old) << fault;
        EXPECT_NE(sh("ls " + quote(dir) + " | grep -q journal"), 0) << fault; // none left
    }
}

TEST(journal, achangeofmorerecordsthanarollbackreadsfailsandrollsback)
{
    std::string dir = tempdir(), img = dir + "/disk.hdi";
    bytes old = oldimage(3 * 1024 * 1024, 5);
    writefile(img, old);
    FILE *f = fopen(img.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(journalstart(&j, f, img.c_str()), 1);
    const unsigned char one = 0xEE;
    int ok = 1, n = 0;
    // Bytes two apart, so that no range continues another: a record each.
    for (; ok && n < 70000; n++)
        ok = journalwrite(&j, 2 * (int64_t)n, &one, 1);
    EXPECT_FALSE(ok);
    EXPECT_GT(n, 65536);
    EXPECT_EQ(journalabandon(&j), 1);
    fclose(f);
    EXPECT_EQ(readfile(img), old);
    EXPECT_EQ(check(img), JOURNALNONE);
}
