#!/bin/bash
# pip-copy.sh REALCPM IMAGE DIR
#   Copies every file of user area 0 of IMAGE, hidden ones too, with genuine CP/M's PIP onto a
#   blank disk, and from there into DIR with cpmcp (lower-case names): the bytes CP/M itself reads
#   out of each file. IMAGE is not changed. Needs cpmtools; REALCPM is the built realcpm.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
realcpm=$(realpath "$1") image=$2
mkdir -p "$3"
out=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/diskdefs" "$work/"
head -c 368640 /dev/zero | tr '\0' '\345' >"$work/B.z18"
cp "$work/B.z18" "$work/C.z18"
cp "$image" "$work/A.z18"
cd "$work"
cpmcp -f z18 C.z18 "$here/bin/pip.com" 0:pip.com
"$realcpm" -s "$here/bin" A.z18 B.z18 C.z18 'C:PIP B:=A:*.*[R]\r' >console.txt
[ -z "$(cpmls -f z18 B.z18)" ] || cpmcp -f z18 B.z18 '0:*' "$out/"
