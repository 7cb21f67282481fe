#!/usr/bin/env bash
# z18mount in the kernel, driven as users drive a folder: cp, rsync --inplace, Python's os and
# shutil, several processes at once, a kill -9 in the middle of copies. Each image is then judged
# by z18man (/c, /x), z18fsck and cpmtools (cpmls, cpmcp, fsck.cpm -n).
# Its first part, the command line and the refusals, mounts nothing and needs no FUSE; the rest is
# skipped, with the reason, where this machine cannot mount a FUSE file system.
#   tests/mount/kernel_test.sh BUILD_DIR     (run by scripts/mount-test.sh)
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/prereqs.sh"
work=$(mktemp -d)
pids=()
cleanup() {
    for m in "$work"/m*; do mountpoint -q "$m" 2>/dev/null && fusermount3 -u "$m"; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
cp "$here/../support/diskdefs" .
failed=0
fail() { echo "FAIL: $*"; failed=1; }
z18man() { "$build/z18man" "$@"; }
z18fsck() { "$build/z18fsck" "$@"; }

# mounted IMAGE MNT [OPTION...]: z18mount in the foreground, in the background, until MNT is a
# mount point; its process id in $pid.
mounted() {
    local image=$1 mnt=$2
    shift 2
    mkdir -p "$mnt"
    "$build/z18mount" -f "$@" "$image" "$mnt" 2>>mount.log &
    pid=$!
    pids+=("$pid")
    for _ in $(seq 100); do mountpoint -q "$mnt" && return 0; sleep 0.05; done
    fail "$image did not mount on $mnt: $(cat mount.log)"
    return 1
}
# unmounted MNT: unmounts, and waits for z18mount to end and let go of the image.
unmounted() { fusermount3 -u "$1" && wait "$pid"; }
# sound IMAGE: z18man loads it, z18fsck and fsck.cpm find nothing wrong.
sound() {
    z18man "$1" /c >/dev/null || fail "z18man does not load $1"
    z18fsck "$1" >/dev/null || fail "z18fsck finds problems in $1: $(z18fsck "$1" | tail -3)"
    fsck.cpm -f z18 -n "$1" >/dev/null 2>&1 || fail "fsck.cpm -n finds problems in $1"
}
# whole FILE SRC...: FILE holds one SRC's bytes, filled up with zeros to whole 128-byte records.
whole() {
    python3 -c 'import sys; b = open(sys.argv[1], "rb").read(); srcs = [open(s, "rb").read() for s in sys.argv[2:]]
sys.exit(0 if any(b == a + bytes(-len(a) % 128) for a in srcs) else 1)' "$@"
}

# refused STATUS OUTPUT ARG...: z18mount ARG... ends with STATUS and prints OUTPUT, mounting nothing.
refused() {
    local want=$1 text=$2 out status=0
    shift 2
    out=$("$build/z18mount" "$@" 2>&1) || status=$?
    [ "$status $out" = "$want $text" ] || fail "z18mount $*: status $status, printed: $out"
}
echo "-- the command line and refusals"
z18man disk /f >/dev/null && mkdir -p empty full && touch full/x && head -c 1000 disk.z18 >short.z18
python3 -c 'import sys; d = bytearray(open("disk.z18", "rb").read()); d[9216:9248] = bytes(32)
d[9217:9228] = b"50%     COM"; open("corrupt.z18", "wb").write(d)'
fsck="z18mount: 'z18fsck %s' tells what is wrong with the image; 'z18fsck -o NEW.z18 %s' writes a repaired copy"
usage=$("$build/z18mount" --help) && grep -q '^Usage: z18mount' <<<"$usage" || fail "--help: $usage"
refused 0 "z18mount v1.2" --version
refused 1 "z18mount: an image and a mount point are needed"$'\n'"$usage"
refused 1 "z18mount: unknown option -x"$'\n'"$usage" -x disk empty
refused 1 "z18mount: option -o needs a value"$'\n'"$usage" disk empty -o
refused 1 "z18mount: one image and one mount point only, not also x"$'\n'"$usage" disk empty x
refused 1 "Can't open image 'nothere.z18' !!!"$'\n'"z18mount: No such file or directory" nothere empty
refused 1 "Image 'short.z18' has bad size !!!"$'\n'"$(printf "$fsck" short.z18 short.z18)" short empty
refused 1 "Corrupted directory entry '50%.COM' !!!"$'\n'"$(printf "$fsck" corrupt.z18 corrupt.z18)" corrupt.z18 empty
refused 1 "z18mount: cannot mount on 'full': the folder is not empty" disk full
refused 1 "z18mount: cannot mount on 'nomnt': No such file or directory" disk nomnt
refused 1 "z18mount: cannot mount on 'disk.z18': Not a directory" disk disk.z18
rm disk.z18
[ $failed -eq 0 ] || exit 1
[ -c /dev/fuse ] || skip_rest "no /dev/fuse on this machine: z18mount was built, not run in the kernel"
# One mount of a blank image shows whether mounting is allowed here at all.
z18man probe /f >/dev/null && mkdir m0
why=$("$build/z18mount" probe m0 2>&1) || skip_rest "FUSE cannot mount here ($why): z18mount was built, not run in the kernel"
fusermount3 -u m0

mkdir in
for sized in a.txt:100 b.com:0 c.dat:2048 d.bin:16385 e.bin:40000 f.bin:70000 g:5; do
    head -c "${sized#*:}" /dev/urandom >"in/${sized%%:*}"
done
names=(a.txt b.com c.dat d.bin e.bin f.bin g)

echo "-- cp in, one per file: the image as z18man /a leaves it, read back by every tool"
z18man added /f >/dev/null
for n in "${names[@]}"; do z18man added /a "in/$n" >/dev/null; done
z18man disk /f >/dev/null
mounted disk.z18 m1
for n in "${names[@]}"; do cp "in/$n" m1/ || fail "cp $n"; done
[ "$(ls m1 | tr '\n' ' ')" = "A.TXT B.COM C.DAT D.BIN E.BIN F.BIN G " ] || fail "ls shows: $(ls m1)"
for n in "${names[@]}"; do whole "m1/$n" "in/$n" || fail "m1/$n reads back other bytes"; done
[ "$(stat -c %Y m1/A.TXT)" = "$(stat -c %Y disk.z18)" ] || fail "a file's time is not the image's"
[ "$(stat -f -c '%S %b %f %c %d' m1)" = "2048 175 $((174 - 1 - 0 - 1 - 9 - 20 - 35 - 1)) 64 54" ] ||
    fail "statfs: $(stat -f -c '%S %b %f %c %d' m1)"
grep -q "Can't open image 'disk.z18' !!!" <<<"$(z18man disk /e A.TXT)" || fail "z18man wrote the image while it was mounted"
mkdir m5 && refused 1 "Can't open image 'disk.z18' !!!"$'\n'"z18mount: In use by another process" disk m5
unmounted m1
cmp -s disk.z18 added.z18 || fail "the image differs from z18man /a's"
sound disk.z18
mkdir x1 c1 && (cd x1 && z18man ../disk /x '*.*' >/dev/null)
cpmcp -f z18 disk.z18 '0:*' c1/ 2>/dev/null || fail "cpmcp cannot copy the files out"
for n in "${names[@]}"; do
    whole "x1/${n^^}" "in/$n" || fail "z18man /x gives other bytes for ${n^^}"
    whole "c1/$n" "in/$n" || fail "cpmcp gives other bytes for $n"
done

echo "-- rsync --inplace, Python's os and shutil, areas, attributes, refusals"
mounted disk.z18 m1
head -c 30000 /dev/urandom >in/e.bin
rsync --inplace -t in/e.bin m1/E.BIN || fail "rsync --inplace"
whole m1/E.BIN in/e.bin || fail "rsync --inplace left other bytes"
python3 - m1 in <<'EOF' || fail "the Python checks (above)"
import errno as E, os, shutil, sys
m, src = sys.argv[1], sys.argv[2]
def expect(code, what, f, *args):
    try: f(*args); print(f"{what}: no error"); return 1
    except OSError as e: return e.errno != code and print(f"{what}: {E.errorcode[e.errno]}") is None
os.mkdir(f"{m}/u3")
shutil.copy(f"{src}/a.txt", f"{m}/u3/moved.txt")
bad = expect(E.ENOTEMPTY, "rmdir of an area with files", os.rmdir, f"{m}/u3")
os.rename(f"{m}/u3/MOVED.TXT", f"{m}/C.DAT")  # over a file, across areas
os.rmdir(f"{m}/u3")
os.setxattr(f"{m}/G", "user.cpm.attributes", b"RS")
bad += os.stat(f"{m}/G").st_mode & 0o222 != 0
full = open(f"{m}/full.bin", "wb")
full.write(os.urandom(150 * 2048))  # too large: the close says so, and leaves nothing behind
for code, what, f, *args in [(E.EPERM, "mkdir of another folder", os.mkdir, f"{m}/docs"),
        (E.EINVAL, "a file named .hidden", open, f"{m}/.hidden", "w"), (E.EINVAL, "a.b.c", open, f"{m}/a.b.c", "w"),
        (E.EINVAL, "LONGNAME12.TXT", open, f"{m}/LONGNAME12.TXT", "w"), (E.EINVAL, "x<y", open, f"{m}/x<y", "w"),
        (E.EACCES, "writing a read-only file", open, f"{m}/G", "a"), (E.EACCES, "erasing it", os.remove, f"{m}/G"),
        (E.ENOSPC, "a file larger than the free space", full.close),
        (E.EPERM, "chown to another user", os.chown, f"{m}/G", os.getuid() + 1, -1)]:
    bad += expect(code, what, f, *args)
os.chmod(f"{m}/G", 0o644)
os.chown(f"{m}/G", os.getuid(), -1)
bad += os.getxattr(f"{m}/g", "user.cpm.attributes") != b"S" or "FULL.BIN" in os.listdir(m)
sys.exit(1 if bad else 0)
EOF
cp -p in/a.txt m1/P.TXT || fail "cp -p"
unmounted m1
grep -q "^C.DAT            1    2K  --" <<<"$(z18man disk /c)" || fail "the rename over C.DAT is not in the catalogue"
sound disk.z18

echo "-- read-only: an image without write permission, and -o ro"
cp disk.z18 ro.z18 && chmod a-w ro.z18
for how in ro.z18 "disk.z18 -o ro,allow_other"; do
    read -r image options <<<"$how"
    mounted "$image" m2 $options
    touch m2/NEW 2>/dev/null && fail "$how took a new file"
    rm m2/A.TXT 2>/dev/null && fail "$how erased a file"
    z18man "$image" /c >/dev/null || fail "z18man cannot read $how while it is mounted read-only"
    shown=$(grep " $PWD/m2 " /proc/mounts)
    unmounted m2
done
grep -q "z18mount: 'ro.z18' is write-protected: mounted read-only" mount.log || fail "no word of the write-protected image"
grep -q " fuse.z18mount ro,.*default_permissions,allow_other" <<<"$shown" || fail "-o ro,allow_other: $shown"
"$build/z18mount" disk m2 && sleep 0.2 && mountpoint -q m2 && umount m2 || fail "detached mount and umount"
sleep 0.3

echo "-- several processes at once"
z18man busy /f >/dev/null
mounted busy.z18 m3
mkdir many && for i in $(seq 20); do head -c $((i * 1500)) /dev/urandom >many/f$i.dat; done
(for i in $(seq 20); do cp many/f$i.dat m3/; done) &
writer=$!
(for _ in $(seq 30); do ls -l m3 >/dev/null; done) &
lister=$!
python3 -c 'import os, sys
for _ in range(30):
    for n in os.listdir(sys.argv[1]):
        try: open(os.path.join(sys.argv[1], n), "rb").read()
        except FileNotFoundError: pass' m3 || fail "a reader failed while files were copied in"
wait $writer $lister || fail "a copy or a listing failed alongside the others"
for i in $(seq 20); do whole m3/F$i.DAT many/f$i.dat || fail "F$i.DAT copied alongside others is torn"; done
unmounted m3
sound busy.z18

echo "-- kill -9 in the middle of copies"
for round in 1 2 3; do
    z18man killed /f >/dev/null
    (for n in "${names[@]}"; do z18man killed /a "in/$n" >/dev/null; done)
    mounted killed.z18 m4
    : >copied
    (for i in $(seq 20); do
        cp many/f$i.dat m4/ 2>/dev/null && echo "F$i.DAT" >>copied
        cp many/f$((21 - i)).dat m4/E.BIN 2>/dev/null
    done) &
    copier=$!
    sleep "0.$((RANDOM % 5 + 1))"
    kill -9 "$pid"
    wait "$copier" "$pid" 2>/dev/null
    fusermount3 -u m4 2>/dev/null || umount -l m4
    sound killed.z18
    rm -rf x4 && mkdir x4 && (cd x4 && z18man ../killed /x '*.*' >/dev/null)
    # A copy whose close returned is on the disk; any other file is whole or not there.
    while read -r n; do [ -f "x4/$n" ] || fail "round $round: $n was closed, and is lost"; done <copied
    for f in x4/F*.DAT; do whole "$f" "many/$(basename "${f,,}")" || fail "round $round: $f is torn"; done
    whole x4/E.BIN in/e.bin many/*.dat || fail "round $round: E.BIN is neither old nor any of the new ones"
done

[ $failed -eq 0 ] && echo "== the mounted folder passed in the kernel"
exit $failed
