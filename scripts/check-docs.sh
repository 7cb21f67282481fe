#!/usr/bin/env bash
# Runs the examples of the documentation and compares what they print with what the pages show.
#
#   scripts/check-docs.sh path/to/z18man [page.md ...]     (default: README.md docs/*.md)
#
# An example is a code block (indented by four spaces, or fenced) whose first line begins with
# "$ ". Each "$ " line is a command, "> " lines right after it continue it, and the lines up to the
# next command are what it prints, standard output and standard error together. Every example is
# run and compared; nothing needs marking. As the README says of its examples, the banner may be
# left out of an output (it is then taken out of what z18man printed before comparing), and empty
# lines at the end of an output are not shown.
#
# Each page runs in one shell, in an empty scratch directory of its own and with an empty
# environment (PATH finds the z18man given first), so an example sees the files and the status
# ($?) that the examples before it left. Comment lines on a page steer the run:
#
#   <!-- check-docs: setup          the lines up to "-->" are run at this point, unseen, and
#   ...                             must succeed: they make the files the examples start from
#   -->
#   <!-- check-docs: file NAME -->  the next code block is written to the file NAME (a script
#                                   that a later example runs)
#   <!-- check-docs: skip REASON --> the next example is shown but not run
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/prereqs.sh"
need_packages cpmtools dos2unix

[ $# -ge 1 ] || { echo "usage: scripts/check-docs.sh path/to/z18man [page.md ...]" >&2; exit 2; }
exe="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
[ -x "$exe" ] || { echo "check-docs: $1 is no executable" >&2; exit 2; }
shift
if [ $# -eq 0 ]; then
    shopt -s nullglob
    set -- "$root/README.md" "$root"/docs/*.md
    shopt -u nullglob
fi
# z18man must answer to its own name, as the pages call it.
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
ln -s "$exe" "$bin/z18man"
# z18fsck, built beside it, answers to its name as well where it is there.
[ -x "$(dirname "$exe")/z18fsck" ] && ln -s "$(dirname "$exe")/z18fsck" "$bin/z18fsck"

# Splits a page into the shell script that runs it (run.sh), the expected output of each command
# (expected/N), the files to write (files/K) and an index: "N<tab>line<tab>command" per command.
read -r -d '' EXTRACT <<'AWK' || true
function startBlock() {
    inBlock = 1; kind = ""; held = 0
}
function endBlock() {
    if (kind == "file") close(fileOut)
    inBlock = 0; inFence = 0; kind = ""; held = 0
}
function content(text) {
    if (kind == "") {
        if (pending == "file") {
            kind = "file"; files++
            fileOut = out "/files/" files
            printf "cp \"$CHECK_DOCS_FILES/%d\" '%s'\n", files, pendingName > script
        } else if (substr(text, 1, 2) == "$ ") {
            kind = pending == "skip" ? "skipped" : "example"
            if (kind == "skipped") skipped++
        } else {
            kind = "other"
        }
        pending = ""
    }
    if (kind == "file") { print text > fileOut; return }
    if (kind != "example") return
    if (substr(text, 1, 2) == "$ ") {
        n++; continuing = 1
        if (expectedOut != "") close(expectedOut)
        expectedOut = out "/expected/" n
        printf "" > expectedOut
        printf "%d\t%d\t%s\n", n, NR, substr(text, 3) > (out "/index")
        printf "__mark %d\n%s\n", n, substr(text, 3) > script
        return
    }
    if (continuing && substr(text, 1, 2) == "> ") { print substr(text, 3) > script; return }
    continuing = 0
    print text > expectedOut
}
BEGIN { script = out "/body.sh"; printf "" > script; printf "" > (out "/index") }
inSetup {
    if ($0 ~ /^-->[ \t]*$/) {
        inSetup = 0
        print "set +e; trap - ERR; exec 1>&3 2>&4 3>&- 4>&-" > script
        prevBlank = 1
    } else {
        print > script
    }
    next
}
inFence {
    if ($0 ~ /^[ \t]*```/) endBlock(); else content($0)
    next
}
inBlock {
    if ($0 ~ /^[ \t]*$/) { held++; next }
    if (substr($0, 1, 4) == "    ") {
        for (; held > 0; held--) content("")
        content(substr($0, 5))
        next
    }
    endBlock()
}
/^<!-- check-docs: setup[ \t]*$/ {
    inSetup = 1; setupLine = NR
    # Run with errexit, the output set aside: a command that fails ends the run and shows it.
    # (Inline, as bash keeps an ERR trap set or reset inside a function apart from the shell's.)
    printf "exec 3>&1 4>&2 >\"$CHECK_DOCS_SETUP_LOG\" 2>&1; trap '__setup_failed %d' ERR; set -e\n", NR > script
    next
}
# A comment ends what stood before it, so a code block may follow it at once.
/^<!-- check-docs: skip/ { pending = "skip"; prevBlank = 1; next }
/^<!-- check-docs: file [^ ]+ -->/ { pending = "file"; pendingName = $4; prevBlank = 1; next }
/^[ \t]*```/ { startBlock(); inFence = 1; prevBlank = 0; next }
prevBlank && substr($0, 1, 4) == "    " { startBlock(); content(substr($0, 5)); prevBlank = 0; next }
/^    \$ / {
    print FILENAME ":" NR ": a command that is in no example block (a blank line missing before it?)" > "/dev/stderr"
    broken = 1
}
{ prevBlank = ($0 ~ /^[ \t]*$/) }
END {
    if (broken) exit 1
    if (inSetup) { print "check-docs: setup comment of line " setupLine " never closed" > "/dev/stderr"; exit 1 }
    printf "%d\n", skipped > (out "/skipped")
}
AWK

# Drops the empty lines at the end of an output and, with strip=1, every banner in it.
read -r -d '' NORMALISE <<'AWK' || true
{ line[NR] = $0 }
END {
    n = 0
    for (i = 1; i <= NR; i++) {
        if (strip == 1 && i + 3 <= NR && line[i] == "" && line[i + 1] == "Z18 image manager utility" &&
            line[i + 2] ~ /^v[0-9.]+ [(]/ && line[i + 3] == "") { i += 3; continue }
        keep[++n] = line[i]
    }
    while (n > 0 && keep[n] == "") n--
    for (i = 1; i <= n; i++) print keep[i]
}
AWK

failed=0
total=0
for page in "$@"; do
    name=${page#"$root"/}
    work=$(mktemp -d)
    mkdir "$work/expected" "$work/files" "$work/actual" "$work/scratch"
    awk -v out="$work" "$EXTRACT" "$page"
    {
        cat <<'SH'
__mark() { __status=$?; printf '\n@@check-docs %s@@\n' "$1"; return $__status; }
__setup_failed() {
    local status=$?
    exec 1>&3 2>&4
    echo "check-docs: a command of the setup on line $1 failed (status $status); what the setup printed:"
    cat "$CHECK_DOCS_SETUP_LOG"
}
SH
        cat "$work/body.sh"
        echo "__mark end"
    } > "$work/run.sh"

    # One shell for the whole page; the pages' commands never wait for input.
    status=0
    (cd "$work/scratch" && env -i PATH="$bin:/usr/local/bin:/usr/bin:/bin" HOME="$work/scratch" LC_ALL=C TZ=UTC \
        CHECK_DOCS_FILES="$work/files" CHECK_DOCS_SETUP_LOG="$work/setup.log" \
        timeout 300 bash --noprofile --norc "$work/run.sh" </dev/null >"$work/output" 2>&1) || status=$?
    if ! grep -q '^@@check-docs end@@$' "$work/output"; then
        echo "FAIL $name: the run of its examples stopped (status $status):" >&2
        tail -n 20 "$work/output" >&2
        failed=$((failed + 1))
        rm -rf "$work"
        continue
    fi
    awk -v out="$work/actual" '
        /^@@check-docs [0-9a-z]+@@$/ { if (f != "") close(f); f = out "/" substr($2, 1, length($2) - 2); printf "" > f; next }
        f != "" { print > f }' "$work/output"

    count=0
    bad=0
    while IFS=$'\t' read -r n line command; do
        count=$((count + 1))
        awk "$NORMALISE" "$work/expected/$n" > "$work/want"
        # The banner stays in the output where the page shows it.
        strip=1
        grep -q "Z18 image manager utility" "$work/want" && strip=0
        awk -v strip=$strip "$NORMALISE" "$work/actual/$n" > "$work/got"
        if ! diff -u --label "$name:$line shows" --label "what \$ $command printed" "$work/want" "$work/got" >&2; then
            bad=$((bad + 1))
        fi
    done < "$work/index"
    skipped=$(cat "$work/skipped")
    total=$((total + count))
    if [ "$bad" -gt 0 ]; then
        echo "FAIL $name: $bad of $count commands printed something else" >&2
        failed=$((failed + 1))
    else
        note=
        [ "$skipped" -gt 0 ] && note=" ($skipped examples shown only)"
        echo "ok   $name: $count commands, output as shown$note"
    fi
    rm -rf "$work"
done
[ "$failed" -eq 0 ] || exit 1
echo "check-docs: $total commands in $# pages, all as shown"
