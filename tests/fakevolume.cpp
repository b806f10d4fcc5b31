#include "fakevolume.h"

#include <cstdio>
#include <cstring>

static void put16(unsigned char *p, int v)
{
    p[0] = (unsigned char)(v & 0xFF);
    p[1] = (unsigned char)((v >> 8) & 0xFF);
}

void fakevolume::build()
{
    img.assign(162 + (size_t)total * bps, 0);
    unsigned char *b = img.data() + 162;
    b[0] = 0xEB;
    b[1] = 0x3C;
    b[2] = 0x90;
    put16(b + 11, bps);
    b[13] = (unsigned char)spc;
    put16(b + 14, reserved);
    b[16] = (unsigned char)fats;
    put16(b + 17, rootentries);
    put16(b + 19, total);
    b[21] = (unsigned char)media;
    put16(b + 22, spf);
    for (int i = 0; i < 162; i++)
        img[i] = (unsigned char)(0xA0 ^ i); // a header the tools must never touch
    setfat(0, 0xF00 | media);
    setfat(1, 0xFFF);
}

void setfat12(unsigned char *fat, int cluster, int value)
{
    unsigned char *p = fat + cluster * 3 / 2;
    if (cluster & 1) {
        p[0] = (unsigned char)((p[0] & 0x0F) | ((value & 0x0F) << 4));
        p[1] = (unsigned char)(value >> 4);
    } else {
        p[0] = (unsigned char)(value & 0xFF);
        p[1] = (unsigned char)((p[1] & 0xF0) | ((value >> 8) & 0x0F));
    }
}

void fakevolume::setfat(int cluster, int value)
{
    for (int f = 0; f < fats; f++)
        setfat12(img.data() + 162 + (size_t)(reserved + f * spf) * bps, cluster, value);
}

void fakevolume::chain(const std::vector<int> &clusters)
{
    for (size_t i = 0; i < clusters.size(); i++)
        setfat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFF);
}

unsigned char *fakevolume::entry(int dircluster, int index, const std::string &name, int attr,
                                 int cluster, int size)
{
    long base = dircluster < 0 ? rootoffset() : clusteroffset(dircluster);
    unsigned char *e = img.data() + base + 32 * index;
    memset(e, 0, 32);
    memcpy(e, name.data(), 11);
    e[11] = (unsigned char)attr;
    put16(e + 26, cluster);
    put16(e + 28, size & 0xFFFF);
    put16(e + 30, (size >> 16) & 0xFFFF);
    return e;
}

void fakevolume::fillcluster(int cluster, unsigned char byte)
{
    memset(img.data() + clusteroffset(cluster), byte, (size_t)spc * bps);
}

void fakevolume::save(const std::string &path) const
{
    FILE *f = fopen(path.c_str(), "wb");
    fwrite(img.data(), 1, img.size(), f);
    fclose(f);
}
