#!/usr/bin/env bash
# scripts/prereqs.sh and the steps of test.sh (scripts/steps.sh), with stand-ins for apt-get,
# dpkg-query, id and sleep on the PATH: no package registry is asked.
#
#   prereqs_test.sh REPOSITORY
ROOT=$(readlink -f -- "$1")
. "$(dirname "$0")/lib.sh"
export ROOT SCRATCH PATH=$SCRATCH/bin:$PATH
mkdir "$SCRATCH/bin"
MIRROR="E: Failed to fetch http://mirror/i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"

stand_in() { printf '#!/bin/bash\n%s\n' "$2" >"$SCRATCH/bin/$1" && chmod +x "$SCRATCH/bin/$1"; }
# apt-get logs each call; an update fails while the count in "failing" is above 0, as a mirror in
# mid-sync does; an install takes the packages listed in "offered", all of them or none.
stand_in apt-get 'echo "apt-get $*" >>"$SCRATCH/calls"
if [ "$1" = update ]; then
    read -r n <"$SCRATCH/failing"; echo $((n - 1)) >"$SCRATCH/failing"
    [ "$n" -le 0 ] || { echo "'"$MIRROR"'" >&2; exit 100; }
    exit 0
fi
names=()
for p in "${@:2}"; do
    [[ $p == -* ]] && continue
    grep -qx -- "$p" "$SCRATCH/offered" || { echo "E: Unable to locate package $p" >&2; exit 100; }
    names+=("$p")
done
[ "$2" = -s ] || printf "%s\n" "${names[@]}" >>"$SCRATCH/installed"'
stand_in dpkg-query 'grep -qx -- "${@: -1}" "$SCRATCH/installed" && printf "install ok installed"'
stand_in id 'echo "${FAKE_UID:-0}"'
stand_in sleep 'echo "sleep $*" >>"$SCRATCH/calls"'

# attempt UID FAILING_UPDATES OFFERED INSTALLED PACKAGE...: need_packages PACKAGE... on a machine
# in that state; STATUS, OUT (what it printed) and CALLS (apt-get's and sleep's) tell the outcome.
attempt() {
    printf '%s\n' $3 >"$SCRATCH/offered"
    printf '%s\n' $4 >"$SCRATCH/installed"
    echo "$2" >"$SCRATCH/failing"
    : >"$SCRATCH/calls"
    STATUS=0
    OUT=$(FAKE_UID=$1 Z18_APT_TRIES=3 Z18_APT_PAUSE=7 bash -c '. "$ROOT/scripts/prereqs.sh"; need_packages "$@"' \
        - "${@:5}" 2>&1) || STATUS=$?
    CALLS=$(<"$SCRATCH/calls")
}
has_line() { grep -qxF -- "$2" <<<"$OUT" || check "$1" "$2" "$OUT"; }
update="apt-get update -qq"
install="apt-get install -y -qq --no-install-recommends"
tried_thrice=$(printf '%s\n' "$update" "sleep 7" "$update" "sleep 7" "$update")

attempt 0 0 "" "a b" a b
check "all there: status" 0 "$STATUS"
check "all there: apt-get is not run" "" "$CALLS"

attempt 0 2 "a b" "b" a b
check "third update works: status" 0 "$STATUS"
check "third update works: calls" "$tried_thrice"$'\n'"$install a" "$CALLS"
check "third update works: installed" "b a" "$(echo $(<"$SCRATCH/installed"))"

attempt 0 9 "a" "" a
check "lists never updated, package there: status" 0 "$STATUS"
check "lists never updated, package there: calls" "$tried_thrice"$'\n'"$install a" "$CALLS"
has_line "lists never updated: said" "apt-get update failed 3 times; installing from the package lists there are"

reason="a wine32:i386 cannot be installed: E: Unable to locate package wine32:i386 (the package lists could not be updated: $MIRROR)"
Z18_SKIP_NOTE=$SCRATCH/note attempt 0 9 "a" "" a wine32:i386
check "cannot install: status" 77 "$STATUS"
has_line "cannot install: one line" "-- skipped: $reason"
check "cannot install: the note for test.sh" "$reason" "$(<"$SCRATCH/note")"
check "cannot install: nothing installed" "" "$(<"$SCRATCH/installed")"

# One run of test.sh updates the lists once; the later installs know why they are old.
Z18_APT_UPDATE_LOG=$SCRATCH/updated attempt 0 9 "a" "" a
Z18_APT_UPDATE_LOG=$SCRATCH/updated attempt 0 9 "a" "" a wine32:i386
check "second install in a run: calls" "$install a wine32:i386" "$CALLS"
has_line "second install in a run: reason" "-- skipped: $reason"

attempt 1000 0 "a" "" a
check "not root: status" 1 "$STATUS"
has_line "not root: the install line" "  sudo apt-get install -y a"
check "not root: only a simulation" "apt-get install -s -qq --no-install-recommends a" "$CALLS"
attempt 1000 0 "" "" wine32:i386
check "not root, cannot install: status" 77 "$STATUS"

# A run of steps: one passes, one is skipped with the reason, one fails half-way and stops the rest.
cat >"$SCRATCH/suite.sh" <<'SH'
set -euo pipefail
. "$ROOT/scripts/prereqs.sh"
. "$ROOT/scripts/steps.sh" "$@"
halfway() { false; echo "went on after a failure"; }
step good "it passes" true
step short "it needs a package the registry lacks" need_packages nothere
step bad "it fails" halfway
step after "it comes after a failure" true
finish_steps
SH
printf '0\n' >"$SCRATCH/failing"
: >"$SCRATCH/offered"
suite() { STATUS=0 && OUT=$(bash "$SCRATCH/suite.sh" "$@" 2>&1) || STATUS=$?; }
# The lines of the summary, without their times and padding.
summary() { sed -n '/^== summary/,$p' <<<"$OUT" | tail -n +2 | sed -E 's/[0-9]+m[0-9]{2}s//; s/ +/ /g; s/^ //'; }
suite
check "steps with a failure: status" 1 "$STATUS"
check "steps with a failure: summary" "passed good it passes
skipped short nothere cannot be installed: E: Unable to locate package nothere
FAILED bad it fails (status 1)
not run - after it comes after a failure" "$(summary)"
check "a failing step stops at its failure" "" "$(grep 'went on' <<<"$OUT")"
suite good short
check "steps named, one skipped: status" 0 "$STATUS"
check "steps named: only they ran" "passed good it passes
skipped short nothere cannot be installed: E: Unable to locate package nothere" "$(summary)"

finish
