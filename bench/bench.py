#!/usr/bin/env python3
"""Runs the benchmarks side by side with hyperfine and prints one markdown
table: medians, ratios measured in the same hyperfine run, and the goals.
Usage: bench.py WORKDIR BINDIR   (bench/run sets both up)."""
import os
import subprocess
import sys

work, bindir = sys.argv[1], sys.argv[2]
os.chdir(work)
sd, tp, ip, sm, sp, di, sg, sr = (
    os.path.join(bindir, t) for t in ("sectdefs", "tablepatch", "imgplace", "sectmap", "sectput",
                                      "dcpimage", "sectget", "sectrm"))
from benchlib import hyperfine, peakkib, row, rows  # noqa: E402

# 0. the list reader alone on a 100 MB list, long lines included.
a, b, c = hyperfine("reader", [f"{os.path.join(bindir, 'listread')} list100m.txt",
                               "cat list100m.txt", "wc -l list100m.txt"], 10)
row("0. list reader, 100 MB", "nextline + getlineitems", f"{a:.1f}", f"{a / b:.1f}x cat", "", True)
row("", "cat / wc -l", f"{b:.1f} / {c:.1f}", "", "", True)

# 1. sectdefs against the mtools route, 1000 paths on a full volume.
a, b = hyperfine("route", [f"{sd} full.dcp list1000.txt out1000.inc", "sh mtools_route.sh"], 20)
with open("out1000.inc") as f1, open("route1000.inc") as f2:
    same = f1.read() == f2.read()
row("1. 1000 paths, full 1.2 MB volume", "sectdefs", f"{a:.2f}", "1", "", True)
row("", "mshowfat + awk (same output: %s)" % ("yes" if same else "NO"), f"{b:.2f}",
    f"{b / a:.1f}x slower", "sectdefs >= 10x faster", b / a >= 10 and same)

# 2. a 1,000,000-line list: time against wc -l, memory against 10 lines.
a, b = hyperfine("million", [f"{sd} full.dcp list1m.txt out1m.inc", "wc -l list1m.txt"], 10)
# Judged by linearity: the design's linear searches cost about 2,000
# instructions a line by intent, so a ratio to wc -l says little.
c, = hyperfine("hundredk", [f"{sd} full.dcp list100k.txt out100k.inc"], 10)
row("2. 1,000,000-line list", "sectdefs", f"{a:.1f}", f"{a / c:.1f}x 100,000 lines",
    "within 11x 100,000 lines", a <= 11 * c)
row("", "sectdefs, 100,000 lines", f"{c:.1f}", "1", "", True)
row("", "wc -l (for scale)", f"{b:.1f}", f"sectdefs {a / b:.1f}x", "", True)
m10 = peakkib([sd, "full.dcp", "list10.txt", "out10.inc"])
m1m = peakkib([sd, "full.dcp", "list1m.txt", "out1m.inc"])
row("", f"peak memory: {m1m} KiB (1,000,000 lines) vs {m10} KiB (10 lines)", "",
    f"{m1m / m10:.2f}", "within 10%", m1m <= 1.1 * m10)

# 3. imgplace against dd on 256 MB.
a, b, c = hyperfine("copy", [f"{ip} in256.bin out256.bin 0",
                             "dd if=in256.bin of=out256.bin bs=4096 conv=notrunc status=none",
                             "dd if=in256.bin of=out256.bin bs=1M conv=notrunc status=none"], 10)
row("3. 256 MB copy", "imgplace", f"{a:.1f}", "1", "", True)
row("", "dd bs=4096", f"{b:.1f}", f"imgplace {a / b:.2f}x", "within 1.10x", a <= 1.1 * b)
row("", "dd bs=1M", f"{c:.1f}", f"imgplace {a / c:.2f}x", "within 1.5x", a <= 1.5 * c)
row("", f"peak memory: {peakkib([ip, 'in256.bin', 'out256.bin', '0'])} KiB", "", "", "flat", True)

# 4. tablepatch with 4096 records against sectdefs on the same paths.
a, b = hyperfine("table", [f"{tp} patch.dcp fixups4096.txt", f"{sd} full.dcp list4096.txt out4096.inc"], 50)
row("4. 4096 records", "tablepatch", f"{a:.2f}", f"{a / b:.2f}x sectdefs", "little over sectdefs",
    a <= 1.5 * b)
row("", "sectdefs, same paths", f"{b:.2f}", "1", "", True)

# 5. start-up: the smallest real job of each tool against cat of its files.
for name, cmd, cat in [("sectdefs", f"{sd} full.dcp list1.txt out1.inc", "cat full.dcp list1.txt"),
                       ("tablepatch", f"{tp} small.dcp fixups1.txt", "cat small.dcp fixups1.txt"),
                       ("imgplace", f"{ip} boot.bin small.dcp 224", "cat boot.bin small.dcp")]:
    a, b = hyperfine("start-" + name, [cmd, cat], 300, warmup=30)
    row("5. start-up" if name == "sectdefs" else "", f"{name} (cat: {b:.2f} ms)", f"{a:.2f}",
        f"{a / b:.2f}x cat", "within 1.3x cat", a <= 1.3 * b)

# 6. sectmap's whole listing against a cat of the image and the mtools route.
a, b, c = hyperfine("map", [f"{sm} full.dcp", "cat full.dcp", "sh mtools_map.sh"], 100, warmup=10)
row("6. listing, full 1.2 MB volume", "sectmap (1051 lines)", f"{a:.2f}", "1", "", True)
row("", "cat of the image", f"{b:.2f}", f"sectmap {a / b:.2f}x", "within 1.5x cat", a <= 1.5 * b)
row("", "mdir -/ -a + mshowfat of every file", f"{c:.2f}", f"{c / a:.1f}x slower",
    "sectmap >= 10x faster", c / a >= 10)

# 7. damaged 1.44 MB images: any of them lists in time that grows with its
# size (sectmap exits 1 on them, as it should).
def linecount(image):
    return subprocess.run([sm, image], capture_output=True).stdout.count(b"\n")

a, b, c = hyperfine("damaged", [f"{sm} damaged.dcp", f"{sm} cross1400.dcp", f"{sm} cross2800.dcp"],
                    20, failing=True)
row("7. damaged 1.44 MB images", f"sectmap, a directory run over 588 clusters of data "
    f"({linecount('damaged.dcp')} lines)", f"{a:.2f}", "", "well under 1 s", a < 250)
row("", f"sectmap, 1400 clusters of crossed directories ({linecount('cross1400.dcp')} lines)",
    f"{b:.1f}", "1", "well under 1 s", b < 250)
row("", f"sectmap, 2800 clusters of them ({linecount('cross2800.dcp')} lines)", f"{c:.1f}",
    f"{c / b:.2f}x", "about 2x (within 2.5x)", c <= 2.5 * b)

# 8. sectput against mtools' best case: one mcopy call for all the files.
with open("mcopy180.args") as f:
    files180 = f.read()
a, b = hyperfine("put180", [f"{sp} -l put180.lst work.dcp",
                            f"mcopy -i work.dcp@@162 {files180} ::/"], 30,
                 prepare="cp empty.dcp work.dcp")
row("8. 180 files of 100-5000 bytes into an empty 1.2 MB volume", "sectput -l", f"{a:.2f}", "1",
    "", True)
row("", "one mcopy call", f"{b:.2f}", f"sectput {a / b:.2f}x", "sectput no slower", a <= b)
a, b = hyperfine("put1m", [f"{sp} work.dcp ONE.BIN one1m.bin",
                           "mcopy -i work.dcp@@162 one1m.bin ::/ONE.BIN"], 30,
                 prepare="cp empty.dcp work.dcp")
row("", "sectput, one 1 MB file", f"{a:.2f}", "1", "", True)
row("", "mcopy, the same file", f"{b:.2f}", f"sectput {a / b:.2f}x", "sectput no slower", a <= b)
subprocess.run("cp empty.dcp work.dcp", shell=True, check=True)
m180 = peakkib([sp, "-l", "put180.lst", "work.dcp"])
subprocess.run("cp empty.dcp work.dcp", shell=True, check=True)
m1800 = peakkib([sp, "-l", "put1800.lst", "work.dcp"])
row("", f"peak memory: {m1800} KiB (1800 lines) vs {m180} KiB (180 lines)", "",
    f"{m1800 / m180:.2f}", "within 10%", m1800 <= 1.1 * m180)

# 9. containers: the same jobs on the same volume as a DCP image and as a
# D88 with its sectors shuffled in each track; convert against cat.
a, b = hyperfine("mapd88", [f"{sm} full.d88", f"{sm} full.dcp"], 100, warmup=10)
row("9. a D88, sectors reversed in each track", "sectmap full.d88", f"{a:.2f}", "1", "", True)
row("", "sectmap full.dcp", f"{b:.2f}", f"D88 {a / b:.2f}x", "within 1.2x", a <= 1.2 * b)
a, b = hyperfine("putd88", [f"{sp} -l put100.lst work.d88", f"{sp} -l put100.lst work.dcp"], 30,
                 prepare="sh -c 'cp empty.d88 work.d88; cp empty.dcp work.dcp'")
row("", "sectput -l, 100 files into empty.d88", f"{a:.2f}", "1", "", True)
row("", "the same into empty.dcp", f"{b:.2f}", f"D88 {a / b:.2f}x", "within 1.2x", a <= 1.2 * b)
a, b = hyperfine("convert", [f"{di} convert -f vol144.img out.d88", "cat vol144.img"], 50,
                 warmup=5)
row("", "dcpimage convert, 1.44 MB raw to D88", f"{a:.2f}", "1", "", True)
row("", "cat of the image", f"{b:.2f}", f"convert {a / b:.2f}x", "within 3x", a <= 3 * b)

# 10. the file operations against mtools: every file of a full volume out,
# and 100 files removed in one call.
os.makedirs("get180", exist_ok=True)
with open("get180.lst", "w") as f:
    for i in range(180):
        name = f"F{i:03d}.DAT"
        with open(f"get180/{name}", "wb") as out:
            out.write(os.urandom(6000))
        f.write(f"D{i // 30}\\{name} get180/{name}\n")
subprocess.run(f"cp empty.dcp full180.dcp && {sp} -l get180.lst full180.dcp > /dev/null",
               shell=True, check=True)
a, b = hyperfine("get180", [f"{sg} -a got full180.dcp", "mcopy -s -m -i full180.dcp@@162 ::/ got"],
                 30, prepare="rm -rf got")
row("10. 180 files of 6000 bytes in 6 directories (a full 1.2 MB volume)", "sectget -a",
    f"{a:.2f}", "1", "", True)
row("", "mcopy -s -m, the whole tree", f"{b:.2f}", f"sectget {a / b:.2f}x", "sectget no slower",
    a <= b)
gone = [f"D{i // 30}\\F{i:03d}.DAT" for i in range(100)]
rmargs = " ".join("'" + g + "'" for g in gone)
mdelargs = " ".join("::" + g.replace("\\", "/") for g in gone)
a, b = hyperfine("rm100", [f"{sr} work.dcp {rmargs}", f"mdel -i work.dcp@@162 {mdelargs}"], 30,
                 prepare="cp full180.dcp work.dcp")
row("", "sectrm, 100 of them in one call", f"{a:.2f}", "1", "", True)
row("", "mdel, the same 100 in one call", f"{b:.2f}", f"sectrm {a / b:.2f}x", "within 1.2x",
    a <= 1.2 * b)

# 11. the picture of the disk against the plain listing, and its growth on
# the damaged images of row 7.
a, b, c = hyperfine("picture", [f"{sm} --map full.dcp", f"{sm} --svg map.svg -f full.dcp",
                                f"{sm} full.dcp"], 50, warmup=5)
row("11. picture, full 1.2 MB volume", "sectmap --map", f"{a:.2f}", f"{a / c:.2f}x listing",
    "within 2x the listing", a <= 2 * c)
row("", "sectmap --svg", f"{b:.2f}", f"{b / c:.2f}x listing", "within 2x the listing",
    b <= 2 * c)
row("", "sectmap (the listing)", f"{c:.2f}", "1", "", True)
a, b = hyperfine("picturegrowth", [f"{sm} --map cross1400.dcp", f"{sm} --map cross2800.dcp"],
                 20, failing=True)
row("", "sectmap --map, 1400 and 2800 clusters of crossed directories", f"{a:.1f} / {b:.1f}",
    f"{b / a:.2f}x", "about 2x (within 2.5x)", b <= 2.5 * a)

# 12. FAT16: a 256 MB volume of 2048-byte sectors holding 5000 files in 200
# directories, against mtools; the listing's growth and memory by files.
a, b = hyperfine("list16", [f"{sm} fat16k5.img", "mdir -/ -a -i fat16k5.img ::"], 20,
                 warmup=3)
row("12. FAT16, 256 MB, 2048-byte sectors, 5000 files in 200 directories", "sectmap (listing)",
    f"{a:.2f}", "1", "", True)
row("", "mdir -/ -a", f"{b:.2f}", f"{b / a:.1f}x slower", "sectmap >= 3x faster", b / a >= 3)
c, = hyperfine("list16half", [f"{sm} fat16k2.img"], 20, warmup=3)
row("", "sectmap, 2500 files in 100 directories", f"{c:.2f}", f"5000 files {a / c:.2f}x",
    "at most 2.2x", a <= 2.2 * c)
a, b = hyperfine("get16", [f"{sg} -a got16 fat16k5.img", "mcopy -s -m -i fat16k5.img ::/ got16"],
                 10, prepare="rm -rf got16")
row("", "sectget -a, the whole tree", f"{a:.1f}", "1", "", True)
row("", "mcopy -s -m", f"{b:.1f}", f"sectget {a / b:.2f}x", "sectget no slower", a <= b)
a, b = hyperfine("route16", [f"{sd} fat16k5.img list16.txt out16.inc", "sh mtools_route16.sh"],
                 20)
with open("out16.inc") as f1, open("route16.inc") as f2:
    same = f1.read() == f2.read()
row("", "sectdefs, 1000 paths", f"{a:.2f}", "1", "", True)
row("", "mshowfat + awk (same output: %s)" % ("yes" if same else "NO"), f"{b:.2f}",
    f"{b / a:.1f}x slower", "sectdefs >= 5x faster", b / a >= 5 and same)
m05 = peakkib([sm, "fat16k05.img"])
m5 = peakkib([sm, "fat16k5.img"])
row("", f"peak memory of the listing: {m5} KiB (5000 files) vs {m05} KiB (500 files)", "",
    f"{m5 / m05:.2f}", "the same (within 10%)", m5 <= 1.1 * m05)

print("| benchmark | command | median ms | ratio | goal | met |")
print("|---|---|---:|---|---|---|")
print("\n".join(rows))
