#include <gtest/gtest.h>

#include "fakevolume.h"
#include "volumerun.h"

TEST(bytehelpers, widthsandsigns)
{
    const unsigned char p[4] = {0xFE, 0xFF, 0x80, 0xFF};
    EXPECT_EQ(getu16l(p), 0xFFFE);
    EXPECT_EQ(getu24l(p), 0x80FFFE);
    EXPECT_EQ(geti32l(p), (int32_t)0xFF80FFFE);
    unsigned char q[4] = {0, 0, 0, 0};
    setu16l(q, 0x12345678);
    EXPECT_EQ(q[0], 0x78);
    EXPECT_EQ(q[1], 0x56);
    EXPECT_EQ(q[2], 0);
    setu32l(q, -2);
    EXPECT_EQ(geti32l(q), -2);
}

TEST(openvolume, floppygeometryandreads)
{
    fakevolume v;
    v.build();
    auto r = openvol(v.img);
    ASSERT_EQ(r->ok, 1) << r->printed;
    EXPECT_EQ(r->printed, "");
    const diskprops &dp = r->dp;
    EXPECT_EQ(dp.bytespersector, 512);
    EXPECT_EQ(dp.totalsectors, 2880);
    EXPECT_EQ(dp.mediadescriptor, 0xF0);
    EXPECT_EQ(dp.rootdirsectors, 14);
    EXPECT_EQ(dp.fatstart, 1);
    EXPECT_EQ(dp.rootdirstart, 19);
    EXPECT_EQ(dp.datastart, 33);
    EXPECT_EQ(dp.clusterbytes, 512);
    EXPECT_EQ(dp.fat[0], 0xFF0);
    EXPECT_EQ(dp.fat[1], 0xFFF);
    EXPECT_EQ(dp.dircount, 1);
    EXPECT_EQ(dp.dirtable[0].cluster, -1);
    EXPECT_EQ(dp.dirtable[0].start, 0);
    EXPECT_EQ(dp.dirtable[0].end, 7168);
    EXPECT_EQ(dp.dirbufsize, 16384);
    EXPECT_EQ(clusteroffset(&dp, 2), 16896); // a volume byte: file byte 17058
    // The root came from byte 9890 of the file: 162 + 19 sectors.
    v.img[9890 + 7167] = 0x5A;
    r = openvol(v.img);
    ASSERT_EQ(r->ok, 1);
    EXPECT_EQ(r->dp.dirbuf[7167], 0x5A);
}

TEST(openvolume, shortimagesandcuts)
{
    fakevolume v;
    v.build();
    bytes img289(v.img.begin(), v.img.begin() + 289);
    auto r = openvol(img289);
    EXPECT_EQ(r->ok, 0);
    EXPECT_EQ(r->printed, "Could not read disk properties\n");

    // 290 bytes pass the first check (every field is in the first 24 bytes).
    bytes img290(v.img.begin(), v.img.begin() + 290);
    r = openvol(img290);
    EXPECT_EQ(r->printed, "Could not read FAT table\n");

    bytes infat(v.img.begin(), v.img.begin() + 674 + 4000);
    r = openvol(infat);
    EXPECT_EQ(r->printed, "Could not read FAT table\n");

    bytes inroot(v.img.begin(), v.img.begin() + 9890 + 7000);
    r = openvol(inroot);
    EXPECT_EQ(r->ok, 0);
    EXPECT_EQ(r->printed, "Could not read root directory of disk\n");

    bytes justroot(v.img.begin(), v.img.begin() + 9890 + 7168);
    r = openvol(justroot);
    EXPECT_EQ(r->ok, 1);
}

TEST(openvolume, failedseekorreadreportsthestep)
{
    fakevolume v;
    v.build();
    memfile m;
    m.data = v.img;
    m.failseek = 2; // the seek to the FAT
    FILE *f = openmem(&m, "rb");
    auto dp = std::make_unique<diskprops>();
    unsigned char work[WORKBUFSIZE];
    initdiskprops(dp.get());
    testing::internal::CaptureStdout();
    EXPECT_EQ(openvolume(f, dp.get(), work), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not read FAT table\n");
    EXPECT_EQ(countcalls(&m, 'r'), 1);  // the boot sector's
    fclose(f);
    freediskprops(dp.get());

    memfile m2;
    m2.data = v.img;
    m2.failseek = 3; // the seek to the root
    f = openmem(&m2, "rb");
    initdiskprops(dp.get());
    testing::internal::CaptureStdout();
    EXPECT_EQ(openvolume(f, dp.get(), work), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Could not read root directory of disk\n");
    fclose(f);
    freediskprops(dp.get());
}

TEST(openvolume, onlyfatsectorsizesarereadable)
{
    // A power of two from 128 to 4096 bytes, or the block is no FAT volume's.
    for (int bps : {0, 64, 127, 129, 384, 1000, 8192, 65535}) {
        fakevolume v;
        v.build();
        setu16l(v.img.data() + 162 + 11, bps);
        auto r = openvol(v.img);
        EXPECT_EQ(r->ok, 0) << bps;
        EXPECT_EQ(r->printed, "Could not read disk properties\n") << bps;
    }
}

TEST(openvolume, fatdecodingbounds)
{
    // A one-sector FAT of 512 bytes: 170 groups, entries 0 to 339; its last
    // two bytes are not decoded, and nothing past is left undefined.
    fakevolume v;
    v.spf = 1;
    v.build();
    v.setfat(339, 0x123);
    v.setfat(340, 0x456);
    auto r = openvol(v.img);
    ASSERT_EQ(r->ok, 1);
    EXPECT_EQ(r->dp.fat[339], 0x123);
    for (int c = 340; c <= 0xFFF; c++) // every cluster a FAT12 entry names
        ASSERT_EQ(r->dp.fat[c], 0xFFF) << c;
}

TEST(openvolume, fatlargerthanworkbuffer)
{
    // 40 sectors of FAT (20480 bytes) would overflow the 16384-byte buffer:
    // the opening reads what the buffer holds and decodes 3072 groups.
    fakevolume v;
    v.spf = 40;
    v.total = 4000;
    v.build();
    v.setfat(6143, 0xABC);
    v.setfat(6144, 0x777);
    auto r = openvol(v.img);
    ASSERT_EQ(r->ok, 1) << r->printed;
    EXPECT_EQ(r->dp.fat[6143], 0xABC);
    EXPECT_EQ(r->dp.rootdirstart, 81);

    bytes cut(v.img.begin(), v.img.begin() + 162 + 512 + 16000);
    r = openvol(cut);
    EXPECT_EQ(r->printed, "Could not read FAT table\n");
}

TEST(openvolume, highbitfieldsarepositive)
{
    fakevolume v;
    v.bps = 0x1000;
    v.spc = 0x80;
    v.spf = 1;
    v.fats = 1;
    v.rootentries = 16;
    v.total = 5;
    v.media = 0xF8;
    v.build();
    v.img[162 + 17] = 0x00; // rootentries 0x8000
    v.img[162 + 18] = 0x80;
    auto r = openvol(v.img);
    EXPECT_EQ(r->dp.bytespersector, 4096);
    EXPECT_EQ(r->dp.sectorspercluster, 128);
    EXPECT_EQ(r->dp.mediadescriptor, 0xF8);
    EXPECT_EQ(r->dp.rootentries, 32768);
    EXPECT_EQ(r->dp.rootdirsectors, 256);
    EXPECT_EQ(r->dp.clusterbytes, 128 * 4096);
}

TEST(openvolume, rootsizeroundsuptowholesectors)
{
    fakevolume v;
    v.rootentries = 16;
    v.build();
    auto r = openvol(v.img);
    EXPECT_EQ(r->dp.rootdirsectors, 1);
    fakevolume w;
    w.rootentries = 0;
    w.build();
    r = openvol(w.img);
    ASSERT_EQ(r->ok, 1);
    EXPECT_EQ(r->dp.rootdirsectors, 0);
    EXPECT_EQ(r->dp.dirtable[0].end, 0);
}

TEST(openvolume, hugegeometrydoesnotoverflow)
{
    // Fields at their maxima: products far past 32 bits must fail cleanly.
    fakevolume v;
    v.build();
    unsigned char *b = v.img.data() + 162;
    b[11] = 0x00, b[12] = 0x10; // the largest sectors, 4096 bytes
    b[14] = b[15] = 0xFF; // 65535 reserved sectors
    b[22] = b[23] = 0xFF; // 65535 sectors per FAT
    b[16] = 0xFF;
    auto r = openvol(v.img);
    EXPECT_EQ(r->ok, 0);
    EXPECT_EQ(r->printed, "Could not read FAT table\n");
}

TEST(imageio, seeksandclustersoutsidethevolume)
{
    fakevolume v;
    v.build();
    auto r = openvol(v.img);
    ASSERT_EQ(r->ok, 1);
    EXPECT_EQ(seekimage(r->f, -1), 0);
    EXPECT_EQ(seekimage(r->f, 0), 1);
    EXPECT_EQ(clusterinvolume(&r->dp, 1), 0);
    EXPECT_EQ(clusterinvolume(&r->dp, 2), 1);
    EXPECT_EQ(clusterinvolume(&r->dp, 0xFF0), 0);
    int last = (v.total - v.datastart()) / v.spc + 1;
    EXPECT_EQ(clusterinvolume(&r->dp, last), 1);
    EXPECT_EQ(clusterinvolume(&r->dp, last + 1), 0);
    r->dp.clusterbytes = 0;
    EXPECT_EQ(clusterinvolume(&r->dp, 2), 0);

    // Past the entries its FAT holds, a cluster is no data cluster either.
    // (2977 clusters: FAT12, with a 4-sector FAT of 682 groups.)
    fakevolume big;
    big.total = 3000;
    big.spf = 4;
    big.build();
    auto b = openvol(big.img);
    ASSERT_EQ(b->ok, 1);
    EXPECT_EQ(fatentriesread(&b->dp), 1364);
    EXPECT_EQ(clusterinvolume(&b->dp, 1363), 1);
    EXPECT_EQ(clusterinvolume(&b->dp, 1364), 0);
}
