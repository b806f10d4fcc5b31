// Shared helpers: temporary files, running commands and the tools, real
// volumes made by mkfs.fat and mtools.
#ifndef TESTS_TESTUTIL_H
#define TESTS_TESTUTIL_H

#include <string>
#include <vector>

typedef std::vector<unsigned char> bytes;

// A fresh directory under /tmp, removed with its contents at exit.
std::string tempdir();
// Runs a shell command; its exit status (-1 when it did not exit normally).
int sh(const std::string &cmd);
// Runs a command, capturing standard output; its exit status.
int run(const std::string &cmd, std::string *out);
std::string quote(const std::string &s);
// What a command (a program of the tree, usually) did: its exit status and
// what it wrote on standard output and on standard error.
struct toolrun {
    int status;
    std::string out, err;
};
toolrun runtool(const std::string &command);
bytes readfile(const std::string &path);
void writefile(const std::string &path, const bytes &data);
void writetext(const std::string &path, const std::string &text);
std::string texts(const bytes &b);

// mkfs.fat behind a 162-byte header. kind "1.2M": 1024-byte sectors, as the
// DCP disks use; "1.44M": 512-byte sectors; "1.44M/2": the same with two
// sectors per cluster.
void makerealimage(const std::string &dcp, const std::string &kind);
// mtools on a DCP image (the volume at byte 162); fails the test on error.
void mtools(const std::string &cmd, const std::string &dcp, const std::string &args);
// First cluster of path ("BOOT/LOADER.BIN") as mshowfat reports it.
int mshowfatcluster(const std::string &dcp, const std::string &path);
// First sector of path, from mshowfat's first cluster and the boot sector's
// geometry; path in the volume's backslash form.
int mshowfatsector(const std::string &dcp, const std::string &path);
// The same for the volume at byte at of file (0: a raw volume; a
// partition's offset in a hard disk); -1 when its boot sector is not there.
int mshowfatsectorat(const std::string &file, long at, const std::string &path);
// A tree with nested directories and fragmented files; the list of its
// paths in the volume's backslash form.
std::vector<std::string> filltree(const std::string &dcp, const std::string &dir);

#endif
