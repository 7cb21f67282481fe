#!/usr/bin/env bash
# Runs the unit tests of the page's modules under Node, builds the offline page
# (build/web/z18man.html, Emscripten) and runs its browser test: headless Chromium drives the page
# from file:// and every result is compared with the native z18man's and z18fsck's.
#
#   scripts/web-test.sh [NATIVE-z18man]   (default: builds build/release/z18man)
#
# Needs no network but the npm registry (npm ci, pinned by web/test/package-lock.json); downloads
# no browser: the test uses Debian's chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/prereqs.sh
need_packages cmake make g++ emscripten chromium unzip nodejs
command -v npm >/dev/null || need_packages npm
# Emscripten's optimizer needs Debian's node modules (acorn) also under a Node from elsewhere.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
jobs=$(nproc 2>/dev/null || echo 2)

native=${1:-}
if [ -z "$native" ]; then
    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/release -j"$jobs" --target z18man z18fsck
    native=build/release/z18man
fi
# The check, salvage and repair in the page are held against the z18fsck beside that z18man.
[ -x "$(dirname "$native")/z18fsck" ] || { echo "no z18fsck beside $native" >&2; exit 1; }

echo "== unit tests of the page's modules (Node)"
node --test web/test/modules_test.js </dev/null

echo "== page build (Emscripten)"
emcmake cmake -S . -B build/web -DCMAKE_BUILD_TYPE=MinSizeRel -DZ18_WERROR=ON >/dev/null
cmake --build build/web -j"$jobs" --target z18man_page
ls -l build/web/z18man.html

echo "== page test (headless Chromium)"
(cd web/test && npm ci --no-audit --no-fund --loglevel=error </dev/null)
node web/test/page-test.js build/web/z18man.html "$native" docs/web-page.png </dev/null
