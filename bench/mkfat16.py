#!/usr/bin/env python3
"""Makes the FAT16 benchmark inputs in the given directory: 256 MB volumes of
2048-byte sectors (mkfs.fat, filled by one mcopy -s) holding 5000, 2500 and
500 files in 200, 100 and 20 directories, a 1000-line sectdefs list over the
5000, and the mtools route to the same include file."""
import os
import random
import subprocess
import sys

work = sys.argv[1]
os.chdir(work)
env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
rng = random.Random(16)


def volume(name, dirs, files):
    tree = f"tree16-{name}"
    subprocess.run(["rm", "-rf", tree, f"{name}.img"], check=True)
    paths = []
    for d in range(dirs):
        os.makedirs(f"{tree}/D{d // 20}/S{d % 20:02d}")
        for f in range(files // dirs):
            with open(f"{tree}/D{d // 20}/S{d % 20:02d}/F{f:02d}.BIN", "wb") as out:
                out.write(os.urandom(rng.randrange(100, 6000)))
            paths.append(f"D{d // 20}\\S{d % 20:02d}\\F{f:02d}.BIN")
    subprocess.run(f"mkfs.fat -C -F 16 -S 2048 -s 4 {name}.img 262144 >/dev/null", shell=True,
                   check=True)
    subprocess.run(f"mcopy -s -i {name}.img {tree}/* ::", shell=True, check=True, env=env)
    return paths


paths = volume("fat16k5", 200, 5000)
volume("fat16k2", 100, 2500)
volume("fat16k05", 20, 500)
with open("list16.txt", "w") as f:
    f.write("".join(f"SYM{i} {paths[i * 5]}\n" for i in range(1000)))
# The data area's first sector, for the route's awk: reserved, two FATs,
# the root directory.
with open("fat16k5.img", "rb") as f:
    b = f.read(64)
bps, spc = b[11] | b[12] << 8, b[13]
data = (b[14] | b[15] << 8) + b[16] * (b[22] | b[23] << 8) + (b[17] | b[18] << 8) * 32 // bps
with open("mtools_route16.sh", "w") as f:
    f.write("MTOOLS_SKIP_CHECK=1 mshowfat -i fat16k5.img " +
            " ".join("::" + paths[i * 5].replace("\\", "/") for i in range(1000)) +
            " | awk '{ match($0, /<[0-9]+/); c = substr($0, RSTART + 1, RLENGTH - 1);"
            f" printf \"%%define SYM%d %d\\n\", NR - 1, (c - 2) * {spc} + {data} }}' > "
            "route16.inc\n")
print(f"fat16k5.img: {len(paths)} files in 200 directories, 2048-byte sectors")
