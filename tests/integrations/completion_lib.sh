# Shared by the tests of the simple completions (z18fsck, z18mount): the completion loaded into
# this bash and a scratch folder to complete in; `offers WANT WORD...` checks that completing the
# last word after the others offers exactly WANT (sorted, each followed by a space).
set -euo pipefail
program=$1
. "$2"
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
failed=0
offers() {
    local want=$1
    shift
    COMP_WORDS=("$program" "$@") COMP_CWORD=$# COMPREPLY=()
    "_$program" || true
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ')
    [ "$got" = "$want" ] || { echo "FAIL: $program $* offers '$got', expected '$want'"; failed=1; }
}
