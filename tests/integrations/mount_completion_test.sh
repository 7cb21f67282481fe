#!/usr/bin/env bash
# The bash completion of z18mount, loaded into a plain bash: each row is the words typed (the last
# one being completed) and the candidates it must offer.
#   tests/integrations/mount_completion_test.sh path/to/completion/z18mount
set -euo pipefail
. "$1"
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
mkdir mnt && touch disk.z18 OLD.Z18 notes.txt
failed=0
expect() {
    local want=$1
    shift
    COMP_WORDS=(z18mount "$@") COMP_CWORD=$# COMPREPLY=()
    _z18mount || true
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ')
    [ "$got" = "$want" ] || { echo "FAIL: z18mount $* offers '$got', expected '$want'"; failed=1; }
}
expect "OLD.Z18 disk.z18 mnt " ""
expect "mnt " disk.z18 ""
expect "mnt " -o ro disk.z18 ""
expect "--help --version -d -f -o " -
expect "ro rw " -o r
expect "ro,allow_other ro,allow_root " -o ro,all
[ $failed -eq 0 ] && echo "z18mount completion: all cases pass"
exit $failed
