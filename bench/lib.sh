# Sourced by bench/run and bench/budget: the work set both tools get, and the measuring helpers.
# Every measured command runs with an empty environment (env -i): a static glibc program parses
# every environment variable at start-up, so the caller's environment would otherwise shift the
# instruction counts from one shell to the next.

# cpmtools' description of the .z18 layout (two reserved tracks of 9 sectors, then 175 blocks of
# 2 KiB whose first block holds the 64-entry directory): the same file the tests give cpmtools.
write_diskdefs() {
    cp "$(dirname "${BASH_SOURCE[0]}")/../tests/support/diskdefs" "$1/diskdefs"
}

# 64 host files that fill the directory (one entry each) and every one of the 174 free blocks:
# 46 files of 3 blocks and 18 of 2, each a whole number of 128-byte records so that both tools
# give back exactly the bytes they took in.
FILL_FILES=64
FILL_BLOCKS=174
make_fill_set() {
    local dir=$1 i size
    mkdir -p "$dir"
    for i in $(seq -w 1 "$FILL_FILES"); do
        if [ "$((10#$i))" -le 46 ]; then size=6016; else size=3968; fi
        (yes "file $i of the benchmark set" || true) | head -c "$size" > "$dir/f$i.dat"
    done
}

# Runs "$@" once under callgrind (stdin /dev/null, stdout discarded) and prints two numbers: the
# instructions executed and the calls of malloc, calloc and realloc. Needs BENCH_TMP.
count_instructions() {
    local out="$BENCH_TMP/callgrind.out"
    env -i "$(command -v valgrind)" --tool=callgrind --callgrind-out-file="$out" \
        --log-file="$BENCH_TMP/callgrind.log" "$@" >/dev/null </dev/null
    awk '
        /^summary:/ { ir = $2 }
        # Function names are written once in full, then by number only.
        /^c?fn=\(/ {
            id = $1; sub(/^c?fn=/, "", id)
            if (NF > 1) { name = $2; sub(/\047[0-9]+$/, "", name); names[id] = name }
            callee = ($1 ~ /^cfn=/) ? names[id] : ""
        }
        /^calls=/ {
            if (callee == "malloc" || callee == "calloc" || callee == "realloc") {
                n = $1; sub(/^calls=/, "", n); allocs += n
            }
            callee = ""
        }
        END { printf "%d %d\n", ir, allocs }
    ' "$out"
}
