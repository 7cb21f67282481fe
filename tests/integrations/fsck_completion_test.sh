#!/usr/bin/env bash
# The bash completion of z18fsck, loaded into a plain bash: each row is the words typed (the last
# one being completed) and the candidates it must offer.
#   tests/integrations/fsck_completion_test.sh path/to/completion/z18fsck
set -euo pipefail
. "$1"
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
mkdir saved && touch disk.z18 OLD.Z18 notes.txt
failed=0
expect() {
    local want=$1
    shift
    COMP_WORDS=(z18fsck "$@") COMP_CWORD=$# COMPREPLY=()
    _z18fsck || true
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ')
    [ "$got" = "$want" ] || { echo "FAIL: z18fsck $* offers '$got', expected '$want'"; failed=1; }
}
expect "OLD.Z18 disk.z18 saved " ""
expect "--help --json --version -b -o -u -x " -
expect "--help --json --version -b -o -u " -x saved -
expect "OLD.Z18 disk.z18 notes.txt saved " -b ""
expect "saved " -x ""
expect "OLD.Z18 disk.z18 notes.txt saved " -o ""
expect "disk.z18 " -o new.z18 d
[ $failed -eq 0 ] && echo "z18fsck completion: all cases pass"
exit $failed
