#!/usr/bin/env python3
"""Makes the benchmark inputs in the given directory: a full 1.2 MB DCP
volume of about 1000 files in a three-level tree (mkfs.fat and mtools), and
the lists that the tools run over."""
import os
import random
import subprocess
import sys

work = sys.argv[1]
os.chdir(work)
env = dict(os.environ, MTOOLS_SKIP_CHECK="1")

tree = "tree"
subprocess.run(["rm", "-rf", tree, "vol.img"], check=True)
paths = []
rng = random.Random(1232)
for d in range(10):
    for s in range(4):
        os.makedirs(f"{tree}/D{d}/S{s}")
        for f in range(25):
            with open(f"{tree}/D{d}/S{s}/F{f:02d}.BIN", "wb") as out:
                out.write(bytes(rng.randrange(256) for _ in range(rng.randrange(100, 1000))))
            paths.append(f"D{d}\\S{s}\\F{f:02d}.BIN")
with open(f"{tree}/TABLE.BIN", "wb") as out:
    out.write(bytes(17000))

subprocess.run("mkfs.fat -C -F 12 -S 1024 -s 1 -f 2 -r 192 -M 0xFE vol.img 1232 >/dev/null",
               shell=True, check=True)
subprocess.run(f"mcopy -s -i vol.img {tree}/* ::", shell=True, check=True, env=env)
with open("full.dcp", "wb") as out:
    out.write(bytes(162))
    with open("vol.img", "rb") as vol:
        out.write(vol.read())
subprocess.run("cp full.dcp patch.dcp", shell=True, check=True)
# The smallest real job: a near-empty disk with a kernel and a table file.
subprocess.run("rm -f small.img && mkfs.fat -C -F 12 -S 1024 -s 1 -f 2 -r 192 -M 0xFE small.img 1232 >/dev/null && "
               f"mcopy -i small.img {tree}/D0/S0/F00.BIN ::KERNEL.SYS && "
               f"mcopy -i small.img {tree}/TABLE.BIN ::TABLE.BIN && "
               "{ head -c 162 /dev/zero; cat small.img; } > small.dcp",
               shell=True, check=True, env=env)
free = subprocess.run("minfo -i vol.img :: >/dev/null; mdir -i vol.img :: | tail -n 1",
                      shell=True, capture_output=True, text=True, env=env).stdout.strip()
print(f"full.dcp: {len(paths)} files in 50 directories; {free}")

def lines(n):
    return "".join(f"SYM{i} {paths[i % len(paths)]}\n" for i in range(n))

with open("list1.txt", "w") as f:
    f.write(lines(1))
with open("list10.txt", "w") as f:
    f.write(lines(10))
with open("list1000.txt", "w") as f:
    f.write(lines(1000))
# The mtools route to the same include file: one mshowfat call for every
# path, its first clusters turned into sectors by awk (data at sector 11).
with open("mtools_route.sh", "w") as f:
    f.write("MTOOLS_SKIP_CHECK=1 mshowfat -i full.dcp@@162 " +
            " ".join("::" + p.replace("\\", "/") for p in paths) +
            " | awk '{ match($0, /<[0-9]+/); c = substr($0, RSTART + 1, RLENGTH - 1);"
            " printf \"%%define SYM%d %d\\n\", NR - 1, c - 2 + 11 }' > route1000.inc\n")
# The mtools route to sectmap's listing: the tree with its sizes from mdir,
# then every file's runs of clusters from mshowfat.
with open("mtools_map.sh", "w") as f:
    f.write("export MTOOLS_SKIP_CHECK=1\nmdir -/ -a -i full.dcp@@162 :: > map_mdir.txt\n"
            "mshowfat -i full.dcp@@162 " + " ".join("::" + p.replace("\\", "/") for p in paths) +
            " > map_mshowfat.txt\n")
with open("fixups1.txt", "w") as f:
    f.write("0 TABLE.BIN\n1 KERNEL.SYS")
with open("boot.bin", "wb") as f:
    f.write(bytes(range(41)))
with open("list4096.txt", "w") as f:
    f.write(lines(4096))
with open("list1m.txt", "w") as f:
    f.write(lines(1000000))
with open("list100k.txt", "w") as f:
    f.write(lines(100000))
with open("fixups4096.txt", "w") as f:
    f.write("0 TABLE.BIN\n")
    f.write("".join(f"{i} {paths[i % len(paths)]}\n" for i in range(4095)))

# 100 MB: short lines with a 40000-byte line every 2000 lines.
with open("list100m.txt", "w") as f:
    size, i = 0, 0
    long_line = "X" * 20000 + " " + "Y" * 19999 + "\n"
    while size < 100 * 1024 * 1024:
        line = long_line if i % 2000 == 1999 else f"SYM{i} {paths[i % len(paths)]}\r\n"
        f.write(line)
        size += len(line)
        i += 1

# Damaged images (1.44 MB geometry). crossN.dcp: a directory whose chain runs
# over N clusters, every slot of them a directory that starts at another of
# those clusters; damaged.dcp: the tree on a 1.44 MB volume whose D0 runs on
# over file data.
def setfat144(img, c, val):
    """Sets FAT entry c in both FAT copies of a 1.44 MB volume behind the header."""
    for copy in range(2):
        at = 162 + (1 + copy * 9) * 512 + c * 3 // 2
        if c & 1:
            img[at] = (img[at] & 0x0F) | ((val & 0xF) << 4)
            img[at + 1] = val >> 4
        else:
            img[at] = val & 0xFF
            img[at + 1] = (img[at + 1] & 0xF0) | (val >> 8)


def crossed(n, name):
    img = bytearray(162 + 2880 * 512)
    v = 162
    img[v + 11:v + 24] = bytes([0, 2, 1, 1, 0, 2, 224, 0, 0x40, 0x0B, 0xF0, 9, 0])
    setfat144(img, 0, 0xFF0)
    setfat144(img, 1, 0xFFF)
    for c in range(2, 2 + n):
        setfat144(img, c, c + 1 if c < 1 + n else 0xFFF)
    def entry(at, name, cluster):
        img[at:at + 11] = name
        img[at + 11] = 0x10
        img[at + 26:at + 28] = cluster.to_bytes(2, "little")
    entry(v + 19 * 512, b"BIG        ", 2)
    for k in range(16 * n):
        entry(v + (33 + k // 16) * 512 + 32 * (k % 16), b"D%07d   " % k, 2 + (k * 7919) % n)
    with open(name, "wb") as out:
        out.write(img)

crossed(1400, "cross1400.dcp")
crossed(2800, "cross2800.dcp")
subprocess.run("rm -f vol144.img && mkfs.fat -C -F 12 vol144.img 1440 >/dev/null && "
               f"mcopy -s -i vol144.img {tree}/D0 {tree}/D1 {tree}/D2 {tree}/D3 ::",
               shell=True, check=True, env=env)
with open("vol144.img", "rb") as vol:
    damaged = bytearray(bytes(162) + vol.read())
# As a few stray bytes did to a real image: D0's chain runs on over 588
# clusters of file data, whose random bytes make slots with the directory bit.
root = 162 + 19 * 512
d0 = next(root + 32 * i for i in range(224) if damaged[root + 32 * i:root + 32 * i + 11] == b"D0         ")
setfat144(damaged, int.from_bytes(damaged[d0 + 26:d0 + 28], "little"), 100)
for c in range(100, 688):
    setfat144(damaged, c, c + 1 if c < 687 else 0xFFF)
with open("damaged.dcp", "wb") as out:
    out.write(damaged)

# sectput against mcopy: 180 files of 100 to 5000 bytes into an empty 1.2 MB
# volume, and one 1 MB file; a list of the 180 and one of 1800 lines (the
# same puts ten times over) for memory.
os.makedirs("put180", exist_ok=True)
names = []
for i in range(180):
    name = f"F{i:03d}.BIN"
    with open(f"put180/{name}", "wb") as out:
        out.write(bytes(rng.randrange(256) for _ in range(rng.randrange(100, 5001))))
    names.append(name)
with open("put180.lst", "w") as f:
    f.write("".join(f"{n} put180/{n}\n" for n in names))
with open("put1800.lst", "w") as f:
    f.write("".join(f"{n} put180/{n}\n" for n in names) * 10)
with open("mcopy180.args", "w") as f:
    f.write(" ".join(f"put180/{n}" for n in names))
with open("one1m.bin", "wb") as out:
    out.write(bytes(rng.randrange(256) for _ in range(1024 * 1024)))
subprocess.run("rm -f empty.img && mkfs.fat -C -F 12 -S 1024 -s 1 -f 2 -r 192 -M 0xFE empty.img 1232"
               " >/dev/null && { head -c 162 /dev/zero; cat empty.img; } > empty.dcp",
               shell=True, check=True)

# The same volumes in a D88 whose sectors are stored in reverse order within
# each track (an interleaved dump), for the containers' benchmarks; a
# hundred-file list; a 1.44 MB raw volume to convert.
def shuffledd88(volume, out):
    spt, size = 8, 1024
    tracks = len(volume) // (spt * size)
    header = bytearray(0x2B0)
    header[0x1B] = 0x20
    body = bytearray()
    for t in range(tracks):
        header[0x20 + 4 * t:0x24 + 4 * t] = (0x2B0 + len(body)).to_bytes(4, "little")
        for r in range(spt, 0, -1):
            sector = bytearray(16)
            sector[0:4] = bytes([t // 2, t % 2, r, 3])
            sector[4:6] = spt.to_bytes(2, "little")
            sector[14:16] = size.to_bytes(2, "little")
            start = (t * spt + r - 1) * size
            body += sector + volume[start:start + size]
    header[0x1C:0x20] = (0x2B0 + len(body)).to_bytes(4, "little")
    with open(out, "wb") as f:
        f.write(header + body)


for name in ("full", "empty"):
    with open(f"{name}.dcp", "rb") as f:
        shuffledd88(f.read()[162:], f"{name}.d88")
with open("put100.lst", "w") as f:
    f.write("".join(f"{n} put180/{n}\n" for n in names[:100]))
print("full.d88, empty.d88: the same volumes, sectors reversed in each track")
