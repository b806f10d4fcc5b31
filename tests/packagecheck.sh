#!/bin/sh
# The Debian package as a user gets it: extracted with dpkg-deb into a
# temporary folder, its six programs name themselves in --version and do a
# real job from there on a volume made by mkfs.fat and mtools; the manual
# pages and the documents are where Debian puts them.
#   tests/packagecheck.sh PACKAGE.deb
set -eu
deb=$1
work=$(mktemp -d /tmp/dcppkg.XXXXXX)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
bin="$work/root/usr/bin"
version=$(dpkg-deb -f "$deb" Version)
fail() { echo "package check FAILED: $*"; exit 1; }
for t in sectdefs tablepatch imgplace sectmap sectput sectget sectrm sectmv sectattr dcpimage; do
    [ "$("$bin/$t" --version)" = "$t (dcptools) $version" ] || fail "$t --version"
    [ -f "$work/root/usr/share/man/man1/$t.1.gz" ] || fail "no manual page for $t"
    MANWIDTH=80 man -l "$work/root/usr/share/man/man1/$t.1.gz" 2>/dev/null | grep -q '^NAME' ||
        fail "the manual page of $t does not read"
done
for f in copyright README.md changelog.gz; do
    [ -f "$work/root/usr/share/doc/dcptools/$f" ] || fail "no /usr/share/doc/dcptools/$f"
done
# A real job: a volume, a file in it, its sector from sectdefs and sectmap,
# a table patched in, boot bytes placed, a file put, a blank image made.
export MTOOLS_SKIP_CHECK=1
cd "$work"
mkfs.fat -C -F 12 -S 1024 -s 1 -f 2 -r 192 -M 0xFE vol.img 1232 >/dev/null
head -c 5000 /dev/urandom > kernel.sys
head -c 1024 /dev/zero > table.bin
mcopy -i vol.img kernel.sys ::KERNEL.SYS
mcopy -i vol.img table.bin ::TABLE.BIN
{ head -c 162 /dev/zero; cat vol.img; } > disk.dcp
printf 'K KERNEL.SYS\n' > list.txt
"$bin/sectdefs" disk.dcp list.txt defs.inc
cluster=$(mshowfat -i disk.dcp@@162 ::KERNEL.SYS | sed -n 's/.*<\([0-9]*\).*/\1/p')
[ "$(cat defs.inc)" = "%define K $((cluster - 2 + 11))" ] || fail "sectdefs gave $(cat defs.inc)"
"$bin/sectmap" -c disk.dcp KERNEL.SYS | grep -q "^ *$((cluster - 2 + 11)) " || fail "sectmap"
printf '0 TABLE.BIN\n7 KERNEL.SYS' > fixups.txt
"$bin/tablepatch" disk.dcp fixups.txt
[ "$(mtype -i disk.dcp@@162 ::TABLE.BIN | od -An -tu2 -N4 | tr -s ' ')" = " 7 $((cluster - 2 + 11))" ] ||
    fail "tablepatch"
printf 'BOOT' > boot.bin
"$bin/imgplace" boot.bin disk.dcp 224
[ "$(od -An -c -j224 -N4 disk.dcp | tr -d ' ')" = BOOT ] || fail "imgplace"
# sectput: a new file in a new directory, read back by mtools.
head -c 3000 /dev/urandom > loader.bin
"$bin/sectput" disk.dcp 'BOOT\LOADER.BIN' loader.bin >/dev/null || fail "sectput"
mtype -i disk.dcp@@162 ::BOOT/LOADER.BIN | cmp -s - loader.bin || fail "sectput's file"
# The file operations: got back, hidden, moved, removed.
"$bin/sectget" disk.dcp 'BOOT\LOADER.BIN' - | cmp -s - loader.bin || fail "sectget"
"$bin/sectattr" +h disk.dcp 'BOOT\LOADER.BIN' || fail "sectattr"
"$bin/sectmv" disk.dcp 'BOOT\LOADER.BIN' LOADER.BIN || fail "sectmv"
"$bin/sectrm" disk.dcp KERNEL.SYS >/dev/null || fail "sectrm"
mattrib -i disk.dcp@@162 ::LOADER.BIN | grep -q ' H ' || fail "sectattr's attribute"
mdir -i disk.dcp@@162 :: | grep -q KERNEL && fail "sectrm's removal"
# dcpimage: a blank image that fsck.fat finds clean and info finds whole.
"$bin/dcpimage" create 2hd blank.dcp || fail "dcpimage create"
"$bin/dcpimage" info blank.dcp | grep -qx 'agrees: yes' || fail "dcpimage info"
tail -c +163 blank.dcp > blank.img && fsck.fat -n blank.img >/dev/null || fail "dcpimage's volume"
echo "package check: the programs run from the extracted package and do their jobs"
