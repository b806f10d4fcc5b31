#!/usr/bin/env python3
"""The hard-disk benchmarks: an 80 MB IDE HDI (dcpimage create ide80: one
FAT16 partition of 1024-byte sectors) holding 5000 files in 200
directories, put in by one mcopy -s at the partition's offset; against
mtools at that offset, and the making of the disk against truncate +
mkfs.fat --offset; info of a disk of 16 partitions. Prints the rows of a
markdown table like bench.py's.
Usage: harddisk.py WORKDIR BINDIR   (bench/run sets both up)."""
import os
import random
import subprocess
import sys

work, bindir = sys.argv[1], sys.argv[2]
os.chdir(work)
os.environ["MTOOLS_SKIP_CHECK"] = "1"
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import hyperfine, peakkib, row, rows  # noqa: E402

sm, di, sg = (os.path.join(bindir, t) for t in ("sectmap", "dcpimage", "sectget"))
rng = random.Random(80)
OFFSET = 4096 + 136 * 512  # the header, then cylinder 0 of 8 heads x 17 sectors


def disk(name, dirs, files):
    tree = f"treehd-{name}"
    subprocess.run(["rm", "-rf", tree, name], check=True)
    for d in range(dirs):
        os.makedirs(f"{tree}/D{d // 20}/S{d % 20:02d}")
        for f in range(files // dirs):
            with open(f"{tree}/D{d // 20}/S{d % 20:02d}/F{f:02d}.BIN", "wb") as out:
                out.write(os.urandom(rng.randrange(100, 6000)))
    subprocess.run([di, "create", "ide80", name], check=True)
    subprocess.run(f"mcopy -s -i {name}@@{OFFSET} {tree}/* ::", shell=True, check=True)


disk("hd5k.hdi", 200, 5000)
disk("hd500.hdi", 20, 500)
subprocess.run([di, "create", "-f", "-P", ",".join(["2M"] * 16), "ide40", "hd16.img"], check=True)
mkfs = (f"truncate -s 83562496 mk.hdi && mkfs.fat --offset {OFFSET // 1024} -S 1024 -s 2 "
        f"-h 136 -F 16 -R 1 -a mk.hdi 81532 >/dev/null")
with open("mkfs_hd.sh", "w") as f:
    f.write(mkfs + "\n")

a, b = hyperfine("listhd", [f"{sm} hd5k.hdi", f"mdir -/ -a -i hd5k.hdi@@{OFFSET} ::"], 20)
row("13. 80 MB IDE HDI, FAT16 of 1024-byte sectors, 5000 files in 200 directories",
    "sectmap (listing)", f"{a:.2f}", "1", "", True)
row("", "mdir -/ -a at the partition's offset", f"{b:.2f}", f"{b / a:.1f}x slower",
    "sectmap >= 3x faster", b / a >= 3)
a, b = hyperfine("gethd", [f"{sg} -a gothd hd5k.hdi", f"mcopy -s -m -i hd5k.hdi@@{OFFSET} ::/ gothd"],
                 10, prepare="rm -rf gothd")
row("", "sectget -a, the whole tree", f"{a:.1f}", "1", "", True)
row("", "mcopy -s -m", f"{b:.1f}", f"sectget {a / b:.2f}x", "sectget no slower", a <= b)
a, b = hyperfine("createhd", [f"{di} create -f ide80 new.hdi", "sh mkfs_hd.sh"], 20,
                 prepare="rm -f mk.hdi")
row("", "dcpimage create ide80", f"{a:.2f}", "1", "", True)
row("", "truncate + mkfs.fat --offset, the same disk", f"{b:.2f}", f"create {a / b:.2f}x",
    "create no slower", a <= b)
a, = hyperfine("info16", [f"{di} info hd16.img"], 30)
row("", "dcpimage info, 16 partitions of 2 MB", f"{a:.2f}", "", "under 10 ms", a < 10)
m5 = peakkib([sm, "hd5k.hdi"])
m05 = peakkib([sm, "hd500.hdi"])
row("", f"peak memory of the listing: {m5} KiB (5000 files) vs {m05} KiB (500 files)", "",
    f"{m5 / m05:.2f}", "the same (within 10%)", m5 <= 1.1 * m05)

# 14. A change costs what it changes: puts into an HDI written in place
# under the journal, against mcopy at the partition's offset (which syncs
# nothing and guards nothing).
subprocess.run([di, "create", "-f", "ide500", "hd500m.hdi"], check=True)
for name in ("hd80", "hd500m"):
    subprocess.run(["cp", "new.hdi" if name == "hd80" else "hd500m.hdi", f"{name}.base"],
                   check=True)
with open("f2k", "wb") as f:
    f.write(os.urandom(2048))
os.makedirs("files180", exist_ok=True)
names = []
for i in range(180):
    with open(f"files180/F{i:03d}.BIN", "wb") as f:
        f.write(os.urandom(rng.randrange(100, 5000)))
    names.append(f"files180/F{i:03d}.BIN")
with open("list180.txt", "w") as f:
    f.write("".join(f"F{i:03d}.BIN {n}\n" for i, n in enumerate(names)))
sp = os.path.join(bindir, "sectput")
a, b, c, d = hyperfine("put2k", [f"{sp} hd80.hdi F2K.BIN f2k",
                                 f"mcopy -o -i hd80.hdi@@{OFFSET} f2k ::F2K.BIN",
                                 f"{sp} hd500m.hdi F2K.BIN f2k",
                                 f"mcopy -o -i hd500m.hdi@@{OFFSET} f2k ::F2K.BIN"], 30,
                       prepare="sh -c 'test -e hd80.hdi || cp hd80.base hd80.hdi; "
                               "test -e hd500m.hdi || cp hd500m.base hd500m.hdi'")
row("14. one 2 KB file put into an 80 MB HDI", "sectput (in place, journal)", f"{a:.2f}", "1", "",
    True)
row("", "mcopy -o at the partition's offset", f"{b:.2f}", f"sectput {a / b:.2f}x",
    "within 2x", a <= 2 * b)
row("", "sectput, into a 500 MB HDI", f"{c:.2f}", f"{c / a:.2f}x the 80 MB put", "within 1.2x",
    c <= 1.2 * a)
row("", "mcopy -o, the 500 MB one", f"{d:.2f}", f"sectput {c / d:.2f}x", "within 2x", c <= 2 * d)
a, b = hyperfine("put180", [f"{sp} -l list180.txt hd80.hdi",
                            f"mcopy -o -i hd80.hdi@@{OFFSET} {' '.join(names)} ::"], 10,
                 # synced, so that the put's own sync does not also carry
                 # the copy's pages, which mcopy's run never syncs
                 prepare="sh -c 'cp hd80.base hd80.hdi && sync hd80.hdi'")
row("", "sectput -l, 180 files of 100-5000 bytes", f"{a:.2f}", "1", "", True)
row("", "one mcopy call, the same files", f"{b:.2f}", f"sectput {a / b:.2f}x", "within 1.5x",
    a <= 1.5 * b)

print("| benchmark | command | median ms | ratio | goal | met |")
print("|---|---|---:|---|---|---|")
print("\n".join(rows))
