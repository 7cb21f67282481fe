#!/usr/bin/env bash
# Builds z18man with Emscripten (build/web, warnings as errors: z18man.js for Node, and the page
# where web/ holds it), then runs the end-to-end tests against z18man.js the way
# scripts/windows-test.sh runs them against the Windows build under Wine: the natively built tests
# labelled "exe", pointed at it through Z18MAN_EXE and Z18MAN_WRAPPER=node. Tests of what the Node
# build does not do (locks, the catalogue's wait for a key) skip with their reason.
#
#   scripts/node-test.sh [NATIVE_BUILD]   the tests of that native build (configured with tests);
#                                         without it they are built in build/node-native
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/prereqs.sh
need_packages cmake make g++ libgtest-dev cpmtools emscripten nodejs

jobs=$(nproc 2>/dev/null || echo 2)
web=build/web

echo "== Emscripten build ($web), warnings as errors"
emcmake cmake -S . -B "$web" -DZ18_WERROR=ON >/dev/null
cmake --build "$web" -j"$jobs"
js=$PWD/$web/z18man.js

native=${1:-build/node-native}
if [ $# -eq 0 ]; then
    echo "== native build of the tests ($native)"
    cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DZ18_WERROR=ON >/dev/null
    cmake --build "$native" -j"$jobs"
fi

echo "== end-to-end tests under Node ($(node --version))"
(cd "$native" && Z18MAN_EXE=$js Z18MAN_WRAPPER=node \
    ctest -L exe --no-tests=error --timeout 300 --output-on-failure -j"$jobs")
echo "== end-to-end tests under Node passed"
