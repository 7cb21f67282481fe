#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan, every check fatal) and runs each for a
# bounded time, starting from the checked-in seeds. A crash, leak, time-out or broken invariant
# fails the run; the input that caused it is left under build/fuzz/ and the log tail is printed.
#   fuzz/run.sh [TARGET...]   only these targets (default: session names fsck mount)
#   Z18_FUZZ_SECONDS  seconds per target (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/prereqs.sh
need_packages cmake make clang libclang-rt-14-dev

seconds=${Z18_FUZZ_SECONDS:-60}
build=build/fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZ18_FUZZ=ON -DZ18_TESTS=OFF >/dev/null
targets=("$@")
[ $# -gt 0 ] || targets=(session names fsck mount)
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target "${targets[@]/#/z18fuzz_}"

for target in "${targets[@]}"; do
    work=fuzz/corpus-work/$target
    mkdir -p "$work"
    dict=()
    [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
    log=$build/$target.log
    if ! "$build/fuzz/z18fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/" "${dict[@]}" "$work" "fuzz/seeds/$target" >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz target $target failed; the input is under $build/" >&2
        exit 1
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: $execs executions in $seconds s, $(ls "$work" | wc -l) inputs in $work"
done
