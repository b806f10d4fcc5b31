// Hand-laid FAT12 volumes behind a 162-byte header, for corner and damage cases.
#ifndef TESTS_FAKEVOLUME_H
#define TESTS_FAKEVOLUME_H

#include <string>
#include <vector>

// Sets the 12-bit entry of cluster in the FAT copy that starts at fat.
void setfat12(unsigned char *fat, int cluster, int value);

struct fakevolume {
    // 1.44 MB floppy geometry unless changed before build()
    int bps = 512, spc = 1, reserved = 1, fats = 2, rootentries = 224, total = 2880;
    int spf = 9, media = 0xF0;
    std::vector<unsigned char> img;

    void build();
    int rootdirsectors() const { return (rootentries * 32 + bps - 1) / bps; }
    int datastart() const { return reserved + fats * spf + rootdirsectors(); }
    long clusteroffset(int c) const { return 162 + (long)datastart() * bps + (long)(c - 2) * spc * bps; }
    long rootoffset() const { return 162 + (long)(reserved + fats * spf) * bps; }
    void setfat(int cluster, int value);
    void chain(const std::vector<int> &clusters); // links them, last gets 0xFFF
    // name is 11 bytes of 8.3; dircluster -1 for the root
    unsigned char *entry(int dircluster, int index, const std::string &name, int attr,
                         int cluster, int size = 0);
    void fillcluster(int cluster, unsigned char byte);
    void save(const std::string &path) const;
};

#endif
