#!/usr/bin/env bash
# Builds z18man and shows it at work on a demo image it makes in a temporary directory.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/prereqs.sh
install_packages cmake make g++ || { echo "$PREREQS_REASON"; exit 1; }

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZ18_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc 2>/dev/null || echo 2)" --target z18man >/dev/null
tool="$PWD/build/release/z18man"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir in out
printf 'Hello from the host.\r\n' > in/hello.txt
head -c 40000 /dev/urandom > in/data.bin
: > in/empty.dat

# Shows each command as it would be typed, with masks in quotes, so that the shell leaves them to
# z18man.
run() {
    local shown="\$ z18man" arg
    for arg in "$@"; do
        case $arg in
            *[*?]*) shown+=" '$arg'" ;;
            *) shown+=" $arg" ;;
        esac
    done
    echo "$shown"
    "$tool" "$@"
}
run demo /f
run demo /a 'in/*.*'
run demo /c
run demo /x 'out/*.*'
run demo /e 'empty.dat'
run demo /c
echo "Extracted files:"
ls -l out
