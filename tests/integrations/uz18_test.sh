#!/usr/bin/env bash
# The Midnight Commander helper uz18, driven through its extfs command interface as mc drives
# it, on real images made by the tool under test.
#
#   uz18_test.sh HELPER [TOOL]
#
# With TOOL, the helper is pointed at it through Z18MAN; without, the helper must find the z18man
# installed beside it (PREFIX/bin for PREFIX/lib/mc/extfs.d), as it does from a package.
#
# Each row runs one helper command and gives the exit status it must end with, a text its
# standard error must hold ("" for none at all), and the bytes of images and files it must
# leave. After every row the helper's temporary folder must be empty again.
HELPER=$(readlink -f -- "$1")
TOOL=${2:-$(dirname "$HELPER")/../../../bin/z18man}
. "$(dirname "$0")/lib.sh"
if [[ ${2-} ]]; then export Z18MAN=$TOOL; else unset Z18MAN; fi

cd "$SCRATCH" || exit 2
export TMPDIR=$SCRATCH/tmp
mkdir "$TMPDIR" in
printf 'Hello from the host.\r\n' >in/hello.txt
head -c 40000 /dev/urandom >in/data.bin
: >in/empty.dat
: >in/ro.txt
head -c 400000 /dev/zero >in/big.bin
cp in/hello.txt 'in/Long name.txt'
make_image work.z18 in/data.bin in/empty.dat in/hello.txt || exit 2

# An image holding RO.TXT, read-only in the image, the image itself write-protected.
make_image ro.z18 in/ro.txt || exit 2
poke ro.z18 $((DIRECTORY_OFFSET + 9)) d4 # the first entry's "T" with the read-only bit
chmod a-w ro.z18
# Full directory: 64 files.
mkdir many
for i in $(seq -w 1 64); do printf '%s' "$i" >"many/F$i.TXT"; done
"$TOOL" full.z18 /a 'many/*.*' >/dev/null || exit 2
# Two files named A.TXT, in user areas 0 and 3, each one block.
"$TOOL" dup.z18 /f >/dev/null || exit 2
put_entry dup.z18 0 0 'A       TXT' 1 2
put_entry dup.z18 1 3 'A       TXT' 1 3
printf 'user 0' | dd of=dup.z18 bs=1 seek="$(block_offset 2)" conv=notrunc status=none
printf 'user 3' | dd of=dup.z18 bs=1 seek="$(block_offset 3)" conv=notrunc status=none
# Held by a run that writes, and by one that reads.
cp work.z18 locked.z18
lock_image locked.z18 -x
cp work.z18 read.z18
lock_image read.z18 -s
cp work.z18 corrupt.z18
corrupt_image corrupt.z18
cp work.z18 'not an image'
# Five free entries and 230K free; and copies of users' files under names as mc gives them.
cp full.z18 five.z18
"$TOOL" five.z18 /e 'F6?.TXT' >/dev/null || exit 2
mkdir mc
head -c 320000 /dev/zero >mc/extfs1
head -c 200000 /dev/zero >mc/extfs2
head -c $((304 * 1024)) /dev/zero >mc/extfs3

# What list prints for a file of the image, in ls -l form, with the image's owner and time.
listed() {
    local image=$1 mode=$2 records=$3 name=$4
    printf '%s 1 %s %s %d %s %s\n' "$mode" "$(stat -c %U "$image")" "$(stat -c %G "$image")" \
        $((records * RECORD_BYTES)) "$(date -d "@$(stat -c %Y "$image")" '+%m-%d-%Y %H:%M:%S')" "$name"
}

# row STATUS STDERR COMMAND ARGS...: runs the helper; OUT holds what it printed.
row() {
    local status=$1 stderr=$2 got=0 errors
    shift 2
    local what="uz18 $*"
    OUT=$("$HELPER" "$@" 2>"$SCRATCH/stderr") || got=$?
    errors=$(<"$SCRATCH/stderr")
    check "[$what] status" "$status" "$got"
    if [[ $stderr ]]; then
        [[ $errors == *"$stderr"* ]] || check "[$what] standard error holds" "*$stderr*" "$errors"
    else
        check "[$what] standard error" "" "$errors"
    fi
    check "[$what] leaves no temporary file" "" "$(ls -A "$TMPDIR")"
}

same_bytes() { check "$1" "$(md5sum <"$2")" "$(md5sum <"$3")"; }

# list: every file, size records x 128, read-only files without write bits.
row 0 "" list work.z18
check "list work.z18" "$(listed work.z18 -rw-r--r-- 313 DATA.BIN; listed work.z18 -rw-r--r-- 0 EMPTY.DAT
    listed work.z18 -rw-r--r-- 1 HELLO.TXT)" "$OUT"
row 0 "" list ro.z18
check "list of a write-protected image" "$(listed ro.z18 -r--r--r-- 0 RO.TXT)" "$OUT"
row 0 "" list full.z18
check "list past the catalogue's pauses" "$(for i in $(seq -w 1 64); do listed full.z18 -rw-r--r-- 1 "F$i.TXT"; done)" "$OUT"
row 0 "" list "$SCRATCH/not an image"
check "list of an image named otherwise" "$(listed 'not an image' -rw-r--r-- 313 DATA.BIN)" \
    "$(head -1 <<<"$OUT")"
"$TOOL" empty.z18 /f >/dev/null || exit 2
row 0 "" list empty.z18
check "list of an empty image" "" "$OUT"
row 1 "no such image" list missing.z18
row 1 "Corrupted directory entry" list corrupt.z18
row 1 "Can't open image" list locked.z18

# copyout: byte for byte what the image holds, whole records.
row 0 "" copyout work.z18 DATA.BIN out.bin
same_bytes "copyout DATA.BIN" <(padded in/data.bin) out.bin
row 0 "" copyout work.z18 hello.txt out.txt
same_bytes "copyout hello.txt" <(padded in/hello.txt) out.txt
row 0 "" copyout work.z18 EMPTY.DAT out.dat
check "copyout EMPTY.DAT" 0 "$(stat -c %s out.dat)"
row 0 "" copyout ro.z18 RO.TXT out.ro
row 0 "" copyout full.z18 F64.TXT out.64
same_bytes "copyout F64.TXT" <(padded many/F64.TXT) out.64
row 1 "File 'NOPE.TXT' not found !!!" copyout work.z18 NOPE.TXT out.no
row 1 "2 files named A.TXT" copyout dup.z18 A.TXT out.dup
row 1 "is no CP/M file name" copyout work.z18 '*.TXT' out.wild
row 1 "Can't open image 'locked.z18' !!!" copyout locked.z18 HELLO.TXT out.locked
row 0 "" copyout read.z18 HELLO.TXT out.read

# copyin: under the target name; refused for an existing name, an invalid name, a file that
# cannot fit; a failure the tool reports with exit status 0 still fails.
cp work.z18 before.z18
row 0 "" copyin work.z18 new.txt in/hello.txt
row 0 "" copyout work.z18 NEW.TXT out.new
same_bytes "copyin, then copyout" <(padded in/hello.txt) out.new
cp work.z18 before.z18
row 1 "already holds a file named HELLO.TXT" copyin work.z18 HELLO.TXT in/data.bin
same_bytes "an existing file is kept" before.z18 work.z18
row 1 "is no CP/M file name" copyin work.z18 'Long name.txt' 'in/Long name.txt'
row 1 "is no CP/M file name" copyin work.z18 LONGNAME9.TXT in/hello.txt
row 1 "do not fit" copyin work.z18 BIG.BIN in/big.bin
# Checked against what is free: blocks (work.z18 has 304K free now), then entries; named as the user
# named the file, never as mc's temporary copy.
row 1 "A.BIN: 320000 bytes do not fit in the 304K free on work.z18" copyin work.z18 A.BIN mc/extfs1
row 1 "B.BIN needs 7 directory entries, and five.z18 has 5 free" copyin five.z18 B.BIN mc/extfs2
check "messages name no temporary copy" "" "$(grep extfs "$SCRATCH/stderr")"
row 0 "" copyin work.z18 FILL.BIN mc/extfs3
row 0 "" rm work.z18 FILL.BIN
row 1 "no readable file" copyin work.z18 X.TXT in/missing
row 1 "X.TXT needs 1 directory entries, and full.z18 has 0 free" copyin full.z18 X.TXT in/hello.txt
cp ro.z18 before.z18
row 1 "Image 'ro.z18' already exist !!!" copyin ro.z18 X.TXT in/hello.txt
same_bytes "a write-protected image is kept" before.z18 ro.z18
row 1 "Can't open image 'locked.z18' !!!" copyin locked.z18 X.TXT in/hello.txt
row 1 "Image 'read.z18' already exist !!!" copyin read.z18 X.TXT in/hello.txt
row 1 "no such image" copyin missing.z18 X.TXT in/hello.txt
check "no image made" "" "$(ls missing.z18 2>/dev/null)"
row 0 "" list work.z18
check "copyin added one file" 4 "$(wc -l <<<"$OUT")"

# rm: one file; never several of one name.
row 0 "" rm work.z18 new.txt
row 0 "" list work.z18
check "rm erased NEW.TXT" "" "$(grep NEW.TXT <<<"$OUT")"
row 1 "holds no file named NEW.TXT" rm work.z18 NEW.TXT
cp ro.z18 before.z18
row 1 "Can't open image 'ro.z18' !!!" rm ro.z18 RO.TXT
same_bytes "rm on a write-protected image" before.z18 ro.z18
cp dup.z18 before.z18
row 1 "2 files named A.TXT" rm dup.z18 A.TXT
same_bytes "rm of a name in two user areas" before.z18 dup.z18
row 1 "Can't open image" rm locked.z18 HELLO.TXT

# No directories, no other commands.
row 1 "no directories" mkdir work.z18 SUB
row 1 "no directories" rmdir work.z18 SUB
row 1 "usage" run work.z18 HELLO.TXT
row 1 "usage" list

# Interrupted while the tool runs: the temporary folder goes all the same.
if [[ ${Z18MAN-} ]]; then
    printf '#!/bin/sh\nkill -TERM 0\n' >"$SCRATCH/killer"
    chmod +x "$SCRATCH/killer"
    got=0
    Z18MAN=$SCRATCH/killer setsid -w "$HELPER" copyout work.z18 HELLO.TXT out.killed 2>/dev/null || got=$?
    check "interrupted copyout status" 143 "$got"
    check "interrupted copyout leaves no temporary file" "" "$(ls -A "$TMPDIR")"
fi

finish
