#!/usr/bin/env bash
# scripts/prereqs.sh and the steps of test.sh (scripts/steps.sh), with stand-ins for apt-get,
# dpkg-query, id and sleep on the PATH: no package registry is asked. Argument: the repository.
ROOT=$(readlink -f -- "$1")
. "$(dirname "$0")/lib.sh"
unset Z18_APT_UPDATE_LOG # run by test.sh, the test must not take that run's update for its own
export ROOT SCRATCH PATH=$SCRATCH/bin:$PATH Z18_APT_TRIES=3 Z18_APT_PAUSE=7 Z18_SKIP_NOTE=$SCRATCH/note
mkdir "$SCRATCH/bin"
MIRROR="E: Failed to fetch http://mirror/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
stand_in() { printf '#!/bin/bash\n%s\n' "$2" >"$SCRATCH/bin/$1" && chmod +x "$SCRATCH/bin/$1"; }
# apt-get: an update fails while the count in "failing" is above 0, as a mirror in mid-sync does; an
# install (-s: simulated) takes the "offered" packages, all or none. Calls logged as u, i:, s:, pN.
stand_in apt-get 'if [ "$1" = update ]; then
    read -r n <"$SCRATCH/failing" && echo $((n - 1)) >"$SCRATCH/failing" && echo -n "u " >>"$SCRATCH/calls"
    [ "$n" -le 0 ] || { echo "'"$MIRROR"'" >&2; exit 100; }; exit 0
fi
names=$(printf "%s\n" "$@" | grep -v -e ^- -e ^install)
echo -n "$([ "$2" = -s ] && echo s || echo i):$(echo $names | tr " " ,) " >>"$SCRATCH/calls"
for p in $names; do grep -qx -- "$p" "$SCRATCH/offered" || { echo "E: Unable to locate package $p" >&2; exit 100; }; done
[ "$2" = -s ] || echo "$names" >>"$SCRATCH/installed"'
stand_in dpkg-query 'grep -qx -- "${@: -1}" "$SCRATCH/installed" && printf "install ok installed"'
stand_in id 'echo "$FAKE_UID"'
stand_in sleep 'echo -n "p$* " >>"$SCRATCH/calls"'

# row UID FAILING_UPDATES OFFERED INSTALLED | STATUS CALLS LINE | PACKAGE...: need_packages on a
# machine in that state must end with STATUS after those calls, one line of its output being LINE.
row() {
    printf '%s\n' $3 >"$SCRATCH/offered" && printf '%s\n' $4 >"$SCRATCH/installed" && echo "$2" >"$SCRATCH/failing"
    : >"$SCRATCH/calls" && rm -f "$SCRATCH/note"
    local what="[need_packages ${*:8} as $1, $2 failing updates]" status=0 out
    out=$(FAKE_UID=$1 bash -c '. "$ROOT/scripts/prereqs.sh"; need_packages "$@"' - "${@:8}" 2>&1) || status=$?
    check "$what status" "$5" "$status"
    check "$what calls" "$6" "$(<"$SCRATCH/calls")"
    [[ -z $7 ]] || grep -qxF -- "$7" <<<"$out" || check "$what says" "$7" "$out"
}
thrice="u p7 u p7 u"
reason="a b:i386 cannot be installed: E: Unable to locate package b:i386 (the package lists could not be updated: $MIRROR)"
row 0 0 "" "a b" 0 "" "" a b
row 0 2 "a b" b 0 "$thrice i:a " "Installing: a" a b
row 0 9 a "" 0 "$thrice i:a " "apt-get update failed 3 times; installing from the package lists there are" a
row 0 9 a "" 77 "$thrice i:a,b:i386 " "-- skipped: $reason" a b:i386
row 1000 0 a "" 1 "s:a " "  sudo apt-get install -y a" a
row 1000 0 "" "" 77 "s:b " "-- skipped: b cannot be installed: E: Unable to locate package b" b
# Within one run of test.sh the lists are updated once; later installs still say why they are old.
Z18_APT_UPDATE_LOG=$SCRATCH/updated row 0 9 a "" 0 "$thrice i:a " "" a
Z18_APT_UPDATE_LOG=$SCRATCH/updated row 0 9 a "" 77 "i:a,b:i386 " "-- skipped: $reason" a b:i386
echo 0 >"$SCRATCH/failing"

# Steps: one passes, one is skipped with its reason, one fails half-way and stops the rest; a
# step cannot pass for skipped without a reason, nor a mistyped name for a step run.
suite() { # suite STATUS SUMMARY NAME...: a run of the steps named (all five with none)
    local status=0 out
    out=$(FAKE_UID=0 bash -c 'set -eu; . "$ROOT/scripts/prereqs.sh"; . "$ROOT/scripts/steps.sh" "$@"
        halfway() { false; echo went on; }
        step good "it passes" true; step short "it is short of b" need_packages b; step bad "it fails" halfway
        step after "it follows" true; step odd "it says no reason" exit 77; finish_steps' - "${@:3}" 2>&1) || status=$?
    check "[steps ${*:3}] status" "$1" "$status"
    check "[steps ${*:3}] summary" "$2" "$(sed -n '/^== summary/,$p' <<<"$out" | sed -E '1d; s/[0-9]+m[0-9]{2}s//; s/ +/ /g; s/^ //')"
}
good="passed good it passes"
short="skipped short b cannot be installed: E: Unable to locate package b"
suite 1 "$good
$short
FAILED bad it fails (status 1)
not run - after it follows
not run - odd it says no reason"
suite 0 "$good"$'\n'"$short" good short
suite 1 "FAILED odd it says no reason (status 77)" odd
suite 1 "$good"$'\n'"no step is named nosuch; the steps: good short bad after odd" good nosuch
finish
