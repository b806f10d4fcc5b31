#!/usr/bin/env python3
"""Small seeds of every container for the volume fuzz target, from images
that fuzz/run makes with the real tools.

Usage: mkseeds.py compact WORK      writes WORK/hd-first.dcp and dd-first.dcp
       mkseeds.py seeds WORK OUT    writes the seeds into OUT
WORK holds hd.dcp and dd.dcp (a 2hd and a 2dd disk with files, made with
dcpimage and sectput); for seeds also hd.d88, two.d88 and dd.nfd (the
first tracks, as dcpimage convert writes them from the compact images),
*.img volumes (behind no header) and *.corner images (behind their own).
Every seed is a whole fuzz input: two bytes (the list's length, and in the
top 3 bits the mode: 0 the container found from the content, 1 to 5 one
said outright, 6 the second disk), the list, the image.
"""
import os
import struct
import sys

LIST = (b"16 BOOT\\LOADER.BIN\nK KERNEL.SYS\nD SYS\\DRV\\SOUND.DRV\nX BOOT\\..\\KERNEL.SYS\n"
        b"S \x95\x5Cdir\\x\nB BOOT\\\n5000 NEW\\DIR\\F.BIN\n0 SYS\\DRV\\SOUND.DRV\n")
MODES = {"content": 0, "dcp": 1, "raw": 2, "d88": 3, "fdi": 4, "nfd": 5, "disk2": 6, "part2": 7}
GEOMETRY = {"2hd": (8, 1024), "2dd": (9, 512)}  # sectors a track, bytes a sector


def seed(out, name, image, mode="content", listtext=LIST):
    head = struct.pack("<H", len(listtext) | MODES[mode] << 13)
    with open(os.path.join(out, name), "wb") as f:
        f.write(head + listtext + image)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def compact(dcp, kind, tracks):
    """The DCP image storing only its first tracks (the flags say so)."""
    spt, bps = GEOMETRY[kind]
    header = bytearray(dcp[:162])
    for t in range(160):
        header[1 + t] = 1 if t < tracks else 0
    return bytes(header) + dcp[162:162 + tracks * spt * bps]


def fdi(volume, kind, cylinders):
    """An FDI with a 32-byte header whose geometry holds the first cylinders."""
    spt, bps = GEOMETRY[kind]
    size = cylinders * 2 * spt * bps
    return struct.pack("<8I", 0, 0x10 if kind == "2dd" else 0x90, 32, size, bps, spt, 2,
                       cylinders) + volume[:size]


def nfdr1(volume, kind, tracks):
    """An NFD of revision 1 holding the first tracks, track 1 with retry data."""
    spt, bps = GEOMETRY[kind]
    n = {512: 2, 1024: 3}[bps]
    maps, data = [], b""
    for t in range(tracks):
        extra = 1 if t == 1 else 0
        m = struct.pack("<HH12x", spt, extra)
        for r in range(1, spt + 1):
            m += bytes([t // 2, t % 2, r, n, 1, 0, 0, 0, 0, 0, 0, 0x90]) + bytes(4)
        if extra:
            m += bytes(9) + bytes([1]) + struct.pack("<I", 8) + bytes(2)
        maps.append(m)
        data += volume[t * spt * bps:(t + 1) * spt * bps] + (b"\xee" * 16 if extra else b"")
    header = 0x3C0 + sum(len(m) for m in maps)
    h = bytearray(b"T98FDDIMAGE.R1\0\0" + bytes(256) + struct.pack("<I", header) + b"\0\2")
    h += bytes(0x120 - len(h))
    at = 0x3C0
    table = b""
    for m in maps:
        table += struct.pack("<I", at)
        at += len(m)
    h += table + bytes(0x3C0 - 0x120 - len(table))
    return bytes(h) + b"".join(maps) + data


def nhd(path):
    """An NHD of 1 head, 17 sectors of 512 bytes a track and 8 cylinders:
    its IPL and a table whose one entry is a FAT12 partition from cylinder 1."""
    disk = bytearray(8 * 17 * 512)
    disk[4:8] = b"IPL1"
    disk[510:512] = b"\x55\xaa"
    disk[512:514] = b"\xa0\x81"
    disk[512 + 10:512 + 12] = struct.pack("<H", 1)
    disk[512 + 14:512 + 16] = struct.pack("<H", 7)
    head = bytearray(512)
    head[0:15] = b"T98HDDIMAGE.R0\0"
    head[0x110:0x11E] = struct.pack("<IIHHH", 512, 8, 1, 17, 512)
    with open(path, "wb") as f:
        f.write(bytes(head) + bytes(disk))


def main():
    if sys.argv[1] == "nhd":
        nhd(sys.argv[2])
        return
    work = sys.argv[2]
    hd, dd = read(os.path.join(work, "hd.dcp")), read(os.path.join(work, "dd.dcp"))
    if sys.argv[1] == "compact":
        for name, image in (("hd-first.dcp", compact(hd, "2hd", 2)),
                            ("dd-first.dcp", compact(dd, "2dd", 2))):
            with open(os.path.join(work, name), "wb") as f:
                f.write(image)
        return
    out = sys.argv[3]
    # Images read short: the programs read what is there.
    seed(out, "dcp-cut", hd[:162 + 16 * 1024])
    seed(out, "raw-cut", hd[162:162 + 16 * 1024], "raw")
    seed(out, "dd-cut", dd[:162 + 18 * 512])
    seed(out, "fdi-forced", dd[162:162 + 18 * 512], "fdi")
    seed(out, "compact", compact(hd, "2hd", 2))
    seed(out, "fdi", fdi(dd[162:], "2dd", 1))
    seed(out, "nfd-r1", nfdr1(hd[162:], "2hd", 2))
    seed(out, "hd-d88", read(os.path.join(work, "hd.d88")))
    seed(out, "two-d88", read(os.path.join(work, "two.d88")), "disk2")
    seed(out, "dd-nfd", read(os.path.join(work, "dd.nfd")))
    for name in sorted(os.listdir(work)):
        image = read(os.path.join(work, name))
        if name.endswith(".img"):
            seed(out, name[:-4], bytes(162) + image)
        if name.startswith("fat16") and name.endswith(".img"):
            seed(out, name[:-4] + "-raw", image, "raw")
        elif name.endswith(".corner"):
            seed(out, name[:-7], image)
        elif name.endswith(".hdd"):
            seed(out, name[:-4] + "-vhd98", image)
        elif name.endswith(".nhd"):
            seed(out, name[:-4] + "-nhd", image)
            seed(out, name[:-4] + "-nhd-part2", image, "part2")


if __name__ == "__main__":
    main()
