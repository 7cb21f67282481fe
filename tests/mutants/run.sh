#!/usr/bin/env bash
# Measures how many deliberate faults the test suite catches. Every fault of mutants.txt is put
# into a copy of the source, one at a time; the copy is rebuilt (release, without warnings as
# errors, so that a fault the compiler warns about still gets to the tests) and the whole ctest
# suite runs on it. A fault is caught when a test fails; the copy is restored before the next one.
#
#   tests/mutants/run.sh [--rev REV] [--jobs N] [NAME...]
#
# --rev REV   take the source of commit REV instead of the working tree (the faults always come
#             from this checkout's mutants.txt, so one list serves an older and a newer suite)
# NAME...     only these faults
#
# The copy and its build live in build/mutants (Z18_MUTANTS_DIR to move them); the results are
# printed and kept in results.txt there. The checkout itself is never edited.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
list=$root/tests/mutants/mutants.txt
work=${Z18_MUTANTS_DIR:-$root/build/mutants}
rev=
jobs=2
only=()
while [ $# -gt 0 ]; do
    case "$1" in
        --rev) rev=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        -h | --help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) only+=("$1"); shift ;;
    esac
done

src=$work/src
build=$work/build
results=$work/results.txt
mkdir -p "$work"
rm -rf "$src"
mkdir -p "$src"
if [ -n "$rev" ]; then
    git -C "$root" archive "$rev" | tar -x -C "$src"
else
    (cd "$root" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -c) | tar -x -C "$src"
fi

run_suite() {
    (cd "$build" && ctest -j"$jobs" --timeout 300 --stop-on-failure >"$work/ctest.log" 2>&1)
}

echo "== unchanged source: build and suite"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZ18_TESTS=ON -DZ18_WERROR=OFF >/dev/null
nice cmake --build "$build" -j"$jobs" >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }
if ! run_suite; then
    cat "$work/ctest.log" >&2
    echo "the suite fails on the unchanged source; no fault can be measured" >&2
    exit 1
fi
tests=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$work/ctest.log")
echo "$tests tests pass"

# Replaces the one occurrence of $OLD in file $1 by $NEW, literally; fails unless there is exactly one.
apply() {
    perl -e '
        local $/; my $f = shift; open my $in, "<", $f or die; my $t = <$in>; close $in;
        my ($old, $new) = ($ENV{OLD}, $ENV{NEW});
        my $n = () = $t =~ /\Q$old\E/g;
        exit 3 if $n != 1;
        $t =~ s/\Q$old\E/$new/;
        open my $out, ">", $f or die; print $out $t; close $out;
    ' "$1"
}

wanted() {
    [ ${#only[@]} -eq 0 ] && return 0
    local n
    for n in "${only[@]}"; do [ "$n" = "$1" ] && return 0; done
    return 1
}

: >"$results"
caught=0
missed=0
broken=0
try_mutant() {
    local name=$1 what=$2 file=$3 old=$4 new=$5
    wanted "$name" || return 0
    local target=$src/$file saved=$work/saved
    cp -p "$target" "$saved"
    local verdict
    if ! OLD=$old NEW=$new apply "$target"; then
        verdict="not-applied"
        broken=$((broken + 1))
    elif ! nice cmake --build "$build" -j"$jobs" >"$work/build.log" 2>&1; then
        verdict="does-not-build"
        broken=$((broken + 1))
    elif run_suite; then
        verdict="MISSED"
        missed=$((missed + 1))
    else
        local by
        by=$(sed -En 's/^[[:space:]]*[0-9]+ - (.*) \([A-Za-z ]+\)$/\1/p' "$work/ctest.log" | head -3 | paste -sd, -)
        verdict="caught${by:+ by $by}"
        caught=$((caught + 1))
    fi
    cp -p "$saved" "$target"
    touch "$target"
    printf '%-40s %s\n' "$name" "$verdict" | tee -a "$results"
    printf '    %s\n' "$what" >>"$results"
}

echo "== faults"
name= what= file= old= new=
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
        '#'*) ;;
        '['*)
            name=${line#[}
            what=${name#*] }
            name=${name%%]*}
            file= old= new=
            ;;
        '-'*) old=${line#-} ;;
        '+'*)
            new=${line#+}
            try_mutant "$name" "$what" "$file" "$old" "$new"
            ;;
        '') ;;
        *) file=$line ;;
    esac
done <"$list"

# Leave the copy as it was, built, for the next run.
nice cmake --build "$build" -j"$jobs" >"$work/build.log" 2>&1 || true
total=$((caught + missed))
summary="== $caught of $total faults caught, $missed missed"
[ "$broken" -eq 0 ] || summary+=", $broken not measured"
echo "$summary" | tee -a "$results"
[ "$broken" -eq 0 ]
