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
subprocess.run("mkfs.fat -C -F 12 -S 1024 -s 1 -f 2 -r 192 -M 0xFE small.img 1232 >/dev/null && "
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
