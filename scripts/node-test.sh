#!/usr/bin/env bash
# Makes the Emscripten build (build/web: node/z18man.js, and the page where web/ holds it) and
# runs the end-to-end tests (ctest -L exe) against z18man.js under Node, as windows-test.sh runs
# them under Wine; tests of what it does not do (locks, the wait for a key) skip with the reason.
#   scripts/node-test.sh [NATIVE_BUILD]    (a native build with the tests; else build/node-native)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/prereqs.sh
need_packages cmake make g++ libgtest-dev cpmtools emscripten nodejs
jobs=$(nproc 2>/dev/null || echo 2)
js=$PWD/build/web/node/z18man.js

echo "== Emscripten build (build/web), warnings as errors"
emcmake cmake -S . -B build/web -DCMAKE_BUILD_TYPE=MinSizeRel -DZ18_WERROR=ON >/dev/null
cmake --build build/web -j"$jobs"

native=${1:-build/node-native}
if [ $# -eq 0 ]; then
    echo "== native build of the tests ($native)"
    cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DZ18_WERROR=ON >/dev/null
    cmake --build "$native" -j"$jobs"
fi
echo "== end-to-end tests under Node ($(node --version))"
(cd "$native" && Z18MAN_EXE=$js Z18MAN_WRAPPER=node \
    ctest -L exe --no-tests=error --timeout 300 --output-on-failure -j"$jobs")
