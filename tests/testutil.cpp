#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

static std::vector<std::string> tempdirs;

static void removetempdirs()
{
    for (const std::string &d : tempdirs)
        sh("rm -rf " + quote(d));
}

std::string tempdir()
{
    char name[] = "/tmp/dcptestXXXXXX";
    if (!mkdtemp(name))
        abort();
    if (tempdirs.empty())
        atexit(removetempdirs);
    tempdirs.push_back(name);
    return name;
}

// The tools the tests run keep a block device's journal in a state
// directory of the test's own, never in the user's.
static const int statehome = [] { return setenv("XDG_STATE_HOME", tempdir().c_str(), 1); }();

static int status(int raw)
{
    return raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

int sh(const std::string &cmd)
{
    return status(system(cmd.c_str()));
}

int run(const std::string &cmd, std::string *out)
{
    FILE *p = popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    out->clear();
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out->append(buf, n);
    return status(pclose(p));
}

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bytes readfile(const std::string &path)
{
    bytes b;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return b;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        b.insert(b.end(), buf, buf + n);
    fclose(f);
    return b;
}

void writefile(const std::string &path, const bytes &data)
{
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!data.empty())
        fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

void writetext(const std::string &path, const std::string &text)
{
    writefile(path, bytes(text.begin(), text.end()));
}

std::string texts(const bytes &b)
{
    return std::string(b.begin(), b.end());
}

void makerealimage(const std::string &dcp, const std::string &kind)
{
    std::string vol = dcp + ".vol";
    std::string mk = kind == "1.2M"     ? "mkfs.fat -C -F 12 -S 1024 -s 1 -f 2 -r 192 -M 0xFE "
                     : kind == "1.44M/2" ? "mkfs.fat -C -F 12 -S 512 -s 2 -f 2 -r 224 -M 0xF0 "
                                         : "mkfs.fat -C -F 12 -S 512 -s 1 -f 2 -r 224 -M 0xF0 ";
    std::string blocks = kind == "1.2M" ? " 1232" : " 1440";
    ASSERT_EQ(sh("rm -f " + quote(vol) + " && " + mk + quote(vol) + blocks + " >/dev/null"), 0);
    ASSERT_EQ(sh("{ head -c 162 /dev/zero | tr '\\0' '\\125'; cat " + quote(vol) + "; } > " +
                 quote(dcp) + " && rm " + quote(vol)),
              0);
}

void mtools(const std::string &cmd, const std::string &dcp, const std::string &args)
{
    std::string line = "MTOOLS_SKIP_CHECK=1 " + cmd + " -i " + quote(dcp + "@@162") + " " + args;
    ASSERT_EQ(sh(line + " >/dev/null"), 0) << line;
}

int mshowfatcluster(const std::string &dcp, const std::string &path)
{
    std::string out;
    run("MTOOLS_SKIP_CHECK=1 mshowfat -i " + quote(dcp + "@@162") + " " + quote("::" + path),
        &out);
    size_t lt = out.find('<');
    if (lt == std::string::npos || lt + 1 >= out.size() || !isdigit((unsigned char)out[lt + 1]))
        return 0; // an empty file has no clusters
    return atoi(out.c_str() + lt + 1);
}

int mshowfatsectorat(const std::string &file, long at, const std::string &path)
{
    unsigned char v[64];
    FILE *f = fopen(file.c_str(), "rb");
    bool read = f && fseek(f, at, SEEK_SET) == 0 && fread(v, 1, sizeof v, f) == sizeof v;
    if (f)
        fclose(f);
    if (!read)
        return -1;
    int bps = v[11] | v[12] << 8, spc = v[13], reserved = v[14] | v[15] << 8, fats = v[16];
    int rootentries = v[17] | v[18] << 8, spf = v[22] | v[23] << 8;
    int datastart = reserved + fats * spf + (rootentries * 32 + bps - 1) / bps;
    std::string slashed = path, out;
    for (char &c : slashed)
        c = c == '\\' ? '/' : c;
    run("MTOOLS_SKIP_CHECK=1 mshowfat -i " + quote(file + "@@" + std::to_string(at)) + " " +
            quote("::" + slashed),
        &out);
    // An empty file has no cluster: 0, as sectdefs reckons it too.
    size_t lt = out.find('<');
    int cluster = lt == std::string::npos || !isdigit((unsigned char)out[lt + 1])
                      ? 0
                      : atoi(out.c_str() + lt + 1);
    return (cluster - 2) * spc + datastart;
}

int mshowfatsector(const std::string &dcp, const std::string &path)
{
    return mshowfatsectorat(dcp, 162, path);
}

static void putfile(const std::string &dcp, const std::string &dir, const std::string &path,
                    int size)
{
    std::string local = dir + "/payload";
    bytes b((size_t)size);
    for (int i = 0; i < size; i++)
        b[(size_t)i] = (unsigned char)(i * 7 + size);
    writefile(local, b);
    mtools("mcopy -o", dcp, quote(local) + " " + quote("::" + path));
}

std::vector<std::string> filltree(const std::string &dcp, const std::string &dir)
{
    mtools("mmd", dcp, "::BOOT ::SYSTEM ::SYSTEM/DRIVERS ::SYSTEM/DRIVERS/SOUND ::DATA");
    putfile(dcp, dir, "KERNEL.SYS", 5000);
    putfile(dcp, dir, "BOOT/LOADER.BIN", 1500);
    putfile(dcp, dir, "DATA/FILLER1.DAT", 3000);
    putfile(dcp, dir, "DATA/FILLER2.DAT", 3000);
    putfile(dcp, dir, "DATA/FILLER3.DAT", 3000);
    for (int i = 0; i < 40; i++) // enough entries to make DATA span several clusters
        putfile(dcp, dir, "DATA/F" + std::to_string(i) + ".BIN", 100 + i);
    mtools("mdel", dcp, "::DATA/FILLER1.DAT ::DATA/FILLER3.DAT");
    // These fill the holes first and then run on: fragmented chains.
    putfile(dcp, dir, "SYSTEM/DRIVERS/SOUND/FM.DRV", 9000);
    putfile(dcp, dir, "SYSTEM/DRIVERS/VIDEO.DRV", 7000);
    putfile(dcp, dir, "SYSTEM/EMPTY.TXT", 0);
    std::vector<std::string> paths = {"KERNEL.SYS",
                                      "BOOT",
                                      "BOOT\\LOADER.BIN",
                                      "DATA",
                                      "DATA\\FILLER2.DAT",
                                      "SYSTEM",
                                      "SYSTEM\\DRIVERS",
                                      "SYSTEM\\DRIVERS\\SOUND",
                                      "SYSTEM\\DRIVERS\\SOUND\\FM.DRV",
                                      "SYSTEM\\DRIVERS\\VIDEO.DRV",
                                      "SYSTEM\\EMPTY.TXT"};
    for (int i = 0; i < 40; i++)
        paths.push_back("DATA\\F" + std::to_string(i) + ".BIN");
    return paths;
}

toolrun runtool(const std::string &command)
{
    static std::string errfile = tempdir() + "/stderr";
    toolrun r;
    r.status = run(command + " 2>" + quote(errfile), &r.out);
    r.err = texts(readfile(errfile));
    return r;
}
