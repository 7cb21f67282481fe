# Shared by the shell tests of the integrations (the bash completion, the mc helper): a scratch
# directory removed at the end, images made with the tool or crafted byte by byte, a lock held on
# an image, and the checks that count failures. Sourced after the script has set TOOL, if it runs it.
set -uo pipefail

# Where the directory lies in an image, and how long its entries and blocks are.
readonly DIRECTORY_OFFSET=9216
readonly ENTRY_SIZE=32
readonly BLOCK_SIZE=2048
readonly RECORD_BYTES=128

[[ -z ${TOOL+set} ]] || TOOL=$(readlink -f -- "$TOOL")
[[ -z ${TOOL+set} || -x $TOOL ]] || { echo "no z18man at $TOOL" >&2; exit 2; }
SCRATCH=$(mktemp -d)
FAILURES=0
CHECKS=0
FINISHED=0
# A script that stops before finish (an error under set -u, an exit in a tested function) fails.
ended() {
    local status=$?
    rm -rf -- "$SCRATCH"
    ((FINISHED)) || echo "FAIL: the test stopped before its end (status $status)"
}
trap ended EXIT

# check NAME EXPECTED ACTUAL: one comparison, reported only when it fails.
check() {
    ((CHECKS++))
    [[ $2 == "$3" ]] && return 0
    ((FAILURES++))
    printf 'FAIL: %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"
    return 1
}

# Reports the tally and ends the script with the status ctest reads.
finish() {
    FINISHED=1
    if ((FAILURES)); then
        echo "$FAILURES of $CHECKS checks failed"
        exit 1
    fi
    echo "all $CHECKS checks passed"
    exit 0
}

# make_image IMAGE FILE...: a new image holding the host files, added by the tool in this order.
make_image() {
    local image=$1 file out
    shift
    "$TOOL" "$image" /f >/dev/null </dev/null || return 1
    for file in "$@"; do
        out=$("$TOOL" "$image" /a "$file" </dev/null)
        [[ $out == *"Done. 1 file(s) added."* ]] || { echo "could not add $file: $out" >&2; return 1; }
    done
}

# poke IMAGE OFFSET BYTE...: writes bytes given in hex at an offset, leaving the rest.
poke() {
    local image=$1 offset=$2 bytes= b
    shift 2
    for b in "$@"; do bytes+="\\x$b"; done
    printf "$bytes" | dd of="$image" bs=1 seek="$offset" conv=notrunc status=none
}

# put_entry IMAGE INDEX USER NAME11 RECORDS BLOCK: a one-block directory entry, written raw.
put_entry() {
    local image=$1 at=$((DIRECTORY_OFFSET + $2 * ENTRY_SIZE)) user=$3 name=$4 records=$5 block=$6
    poke "$image" "$at" "$(printf '%02x' "$user")"
    printf '%-11.11s' "$name" | dd of="$image" bs=1 seek=$((at + 1)) conv=notrunc status=none
    poke "$image" $((at + 12)) 00 00 00 "$(printf '%02x' "$records")" "$(printf '%02x' "$block")"
    dd if=/dev/zero of="$image" bs=1 seek=$((at + 17)) count=15 conv=notrunc status=none
}

# block_offset BLOCK: where a block's bytes begin in the image.
block_offset() { echo $((DIRECTORY_OFFSET + $1 * BLOCK_SIZE)); }

# corrupt_image IMAGE: the first entry's name gets a character no CP/M name may hold.
corrupt_image() { poke "$1" $((DIRECTORY_OFFSET + 1)) 25; }

# lock_image IMAGE -x|-s: this shell holds a lock on the image until it ends, exclusive as a run
# of the tool that writes to it holds one, or shared as one that reads.
lock_image() {
    local fd
    exec {fd}<"$1"
    flock "$2" -n "$fd" || { echo "could not lock $1" >&2; exit 2; }
}

# padded FILE: the bytes the tool gives back for a host file: whole 128-byte records.
padded() {
    local size
    size=$(stat -c %s -- "$1")
    cat -- "$1"
    head -c $(((RECORD_BYTES - size % RECORD_BYTES) % RECORD_BYTES)) /dev/zero
}
