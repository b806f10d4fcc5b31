// Writes small hand-laid images of the corners that real tools never make
// (loops, directory cycles, clusters 0 and 1, oversized FATs, deleted and
// Shift-JIS names) into a directory: seeds for the volume fuzzer.
#include <cstdio>
#include <string>
#include <vector>

#include "fakevolume.h"

static fakevolume small()
{
    fakevolume v;
    v.total = 256;
    v.spf = 1;
    v.rootentries = 32;
    return v;
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 1;
    std::string dir = argv[1];
    fakevolume v = small();
    v.build();
    v.entry(-1, 0, "BOOT       ", 0x10, 5);
    v.chain({5, 6});
    v.entry(5, 0, ".          ", 0x10, 5);
    v.entry(5, 1, "..         ", 0x10, 0);
    v.entry(5, 2, "LOADER  BIN", 0x20, 10, 1000);
    v.chain({10, 12});
    v.entry(-1, 1, "KERNEL  SYS", 0x20, 20, 600);
    v.chain({20, 21});
    v.entry(-1, 2, "\x95\x5C" "DIR      ", 0x10, 30);
    v.chain({30});
    v.entry(-1, 3, "\xE5" "GONE   BIN", 0x20, 40);
    v.entry(-1, 4, "LABEL      ", 0x08, 0);
    v.save(dir + "/plain.img");

    fakevolume loop = v;
    loop.setfat(6, 5); // BOOT's chain runs back to its start
    loop.save(dir + "/dirloop.img");

    fakevolume cycle = v;
    cycle.entry(5, 3, "BACK       ", 0x10, 5); // BOOT\BACK is BOOT again
    cycle.entry(5, 4, "UP         ", 0x10, 0);
    cycle.save(dir + "/dircycle.img");

    fakevolume low = v;
    low.setfat(10, 1); // LOADER.BIN runs into cluster 1
    low.setfat(20, 0); // KERNEL.SYS into cluster 0
    low.save(dir + "/lowclusters.img");

    fakevolume far = v;
    far.entry(-1, 5, "FAR     BIN", 0x20, 4000, 10);
    far.entry(-1, 6, "HUGE    BIN", 0x20, 65535, 10);
    far.save(dir + "/farclusters.img");

    fakevolume bigfat = small();
    bigfat.spf = 40;
    bigfat.total = 300;
    bigfat.build();
    bigfat.entry(-1, 0, "A       BIN", 0x20, 2, 100);
    bigfat.chain({2});
    bigfat.save(dir + "/bigfat.img");

    fakevolume zero = v;
    zero.img[162 + 11] = zero.img[162 + 12] = 0; // no sector size
    zero.save(dir + "/zerosector.img");

    // A directory over 60 clusters whose every slot is a directory starting
    // at another of them: the walk must read each cluster once.
    fakevolume crossed = v;
    std::vector<int> run;
    for (int c = 40; c < 100; c++)
        run.push_back(c);
    crossed.chain(run);
    crossed.entry(-1, 5, "CROSS      ", 0x10, 40);
    for (int k = 0; k < 60 * 16; k++)
        crossed.entry(40 + k / 16, k % 16, "D" + std::to_string(1000000 + k) + "   ", 0x10,
                      40 + (k * 37) % 60);
    crossed.save(dir + "/crossed.img");

    fakevolume nocluster = v;
    nocluster.img[162 + 13] = 0; // no sectors per cluster
    nocluster.save(dir + "/zerocluster.img");
    return 0;
}
