#!/bin/sh
# The bootable example disk, built twice the same, and the failures its
# build must catch: a
# fragmented file stopped by sectmap -c before anything is baked in; the
# same file let through, whose wrong bytes the comparison catches; a table
# record for a missing file, which the loader rejects; sectors past the
# floppy, which the BIOS cannot read; boot code too long for its room; a
# boot that does not end in time.
#   tests/bootdisk.sh BINDIR
set -u
bin=$1
script="$(dirname "$0")/../examples/boot-disk/build-and-boot"
work=$(mktemp -d /tmp/dcpboot.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
expect() { # variant, exit status, text the log must hold
    "$script" "$bin" "$work/out" $1 > "$work/log" 2>&1
    status=$?
    if [ "$status" -ne "$2" ] || ! grep -q "$3" "$work/log"; then
        cat "$work/log"
        echo "bootdisk ${1:-(plain)}: status $status (wanted $2), log lacks: $3"
        failed=1
    fi
}
expect "" 0 "the rebuilt loader kept sector .* and loaded every file again"
# Two builds with SOURCE_DATE_EPOCH give byte-identical disks.
for n in 1 2; do
    SOURCE_DATE_EPOCH=1700000000 "$script" "$bin" "$work/same$n" > "$work/log" 2>&1 ||
        { cat "$work/log"; failed=1; }
done
cmp "$work/same1/disk.dcp" "$work/same2/disk.dcp" || { echo "two builds differ"; failed=1; }
expect --fragmented 2 "KANJI.FNT is not contiguous: 2 extents"
[ ! -e "$work/out/floppy.img" ] || { echo "the fragmented disk was booted"; failed=1; }
expect --fragmented-unchecked 1 "FAILED: the loader read other bytes"
expect --missing-file 1 "the loader ended with status 3"
expect --read-error 1 "^read error"
expect --oversized-boot 1 "more than the 448 of room"
BOOTSECONDS=0.01 expect "" 1 "the boot hung"
exit $failed
