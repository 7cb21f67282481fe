# Sourced by test.sh, with its arguments: runs the steps of the suite one after the other, times
# each and ends with a summary. A step is one line,
#
#   step NAME TITLE COMMAND [ARG...]
#
# whose command runs in a subshell with errexit. It passes when the command ends with status 0,
# and is skipped when it ends with SKIPPED_STATUS after saying what it could not run (skip_rest in
# scripts/prereqs.sh: packages that cannot be installed here); any other end fails it, and the
# steps after a failed one do not run. Given step names (./test.sh release docs), only those run.
# finish_steps prints the summary and ends the run: status 0 only when no step failed.
STEPS_WANTED=" $* "
STEPS_DIR=$(mktemp -d)
trap 'rm -rf "$STEPS_DIR"' EXIT
STEPS_START=$SECONDS
STEPS_SUMMARY=()
STEPS_FAILED=0
STEPS_KNOWN=
declare -A STEP_RESULT=()
# One `apt-get update` for the whole run (scripts/prereqs.sh).
export Z18_APT_UPDATE_LOG=$STEPS_DIR/apt-update
jobs=$(nproc 2>/dev/null || echo 2)

step() {
    local name=$1 title=$2 start=$SECONDS status=0 result note
    shift 2
    STEPS_KNOWN+=" $name"
    [ "$STEPS_WANTED" = "  " ] || [[ $STEPS_WANTED == *" $name "* ]] || return 0
    if [ "$STEPS_FAILED" -ne 0 ]; then
        step_line "not run" "$name" "" "$title"
        return 0
    fi
    echo "== $title"
    export Z18_SKIP_NOTE=$STEPS_DIR/$name.skipped
    rm -f "$Z18_SKIP_NOTE"
    set +e
    (
        set -e
        "$@"
    )
    status=$?
    set -e
    note=$(cat "$Z18_SKIP_NOTE" 2>/dev/null || true)
    if [ $status -eq 0 ]; then
        result=passed note=$title
    elif [ $status -eq "$SKIPPED_STATUS" ] && [ -n "$note" ]; then
        result=skipped
    else
        result=FAILED note="$title (status $status)"
        STEPS_FAILED=1
    fi
    STEP_RESULT[$name]=$result
    step_line "$result" "$name" $((SECONDS - start)) "$note"
}

# step_line RESULT NAME SECONDS TEXT: one line of the summary (no time for a step that did not run).
step_line() {
    local took=-
    [ -z "$3" ] || took=$(duration "$3")
    STEPS_SUMMARY+=("$(printf '  %-8s %6s  %-9s %s' "$1" "$took" "$2" "$4")")
}

duration() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

finish_steps() {
    local name
    echo "== summary ($(duration $((SECONDS - STEPS_START))))"
    printf '%s\n' "${STEPS_SUMMARY[@]}"
    [ "$STEPS_FAILED" -eq 0 ] || exit 1
    # A mistyped name must not pass for a run of that step.
    for name in $STEPS_WANTED; do
        [[ " $STEPS_KNOWN " == *" $name "* ]] || { echo "no step is named $name; the steps:$STEPS_KNOWN"; exit 1; }
    done
    exit 0
}

# build_and_test DIR CMAKE_ARG...: configures a native build in DIR, builds it and runs its tests.
build_and_test() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    (cd "$dir" && ctest --output-on-failure -j"$jobs")
}
