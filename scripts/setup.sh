#!/bin/sh
# Installs the Debian packages that building and testing need, when missing.
# Sourced by the top-level scripts; safe to run again.
set -eu
# The callers have cd'ed to the top of the tree or set $top to it.
. "${top:-.}/scripts/aptinstall.sh"

need=""
have() { command -v "$1" >/dev/null 2>&1; }
have cmake || need="$need cmake"
have g++ || need="$need g++"
have make || need="$need make"
[ -f /usr/include/gtest/gtest.h ] || need="$need libgtest-dev"
have mkfs.fat || [ -x /usr/sbin/mkfs.fat ] || [ -x /sbin/mkfs.fat ] || need="$need dosfstools"
have mcopy || need="$need mtools"
have nasm || need="$need nasm"
have man || need="$need man-db"
have qemu-system-i386 || need="$need qemu-system-x86"
have floptool || need="$need mame-tools"
have strace || need="$need strace"
have rsvg-convert || need="$need librsvg2-bin"
have parted || [ -x /usr/sbin/parted ] || [ -x /sbin/parted ] || need="$need parted"
have python3 || need="$need python3"

# shellcheck disable=SC2086 # a list of package names
aptinstall $need

# mkfs.fat and fsck.fat live in sbin, which a user's PATH may lack.
PATH="$PATH:/usr/sbin:/sbin"
export PATH
# mtools must not refuse volumes behind the DCP header on geometry grounds.
MTOOLS_SKIP_CHECK=1
export MTOOLS_SKIP_CHECK
