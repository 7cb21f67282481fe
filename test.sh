#!/usr/bin/env bash
# Checks the code's format; builds z18man twice (warnings as errors; then AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs the whole test suite on each build (the shell integrations
# too, ctest label "integrations"), and the examples of the documentation against the first;
# checks what the release build installs and its Debian package; then cross-builds the Windows
# executables (64- and 32-bit) and zips and runs the end-to-end tests against each under Wine;
# and under Node, the Emscripten build, whose page is tested in headless Chromium and goes into
# the Debian package and the zips.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/prereqs.sh
need_packages cmake make g++ libgtest-dev libz80ex-dev cpmtools valgrind lintian bash-completion dos2unix clang-format

jobs=$(nproc 2>/dev/null || echo 2)

echo "== code format (.clang-format)"
scripts/check-format.sh

echo "== includes follow the layers (scripts/check-layers.sh)"
scripts/check-layers.sh

# The page scripts/node-test.sh builds, before anything installs it, for the packages.
page=
[ ! -f web/CMakeLists.txt ] || page=$PWD/build/web/z18man.html

echo "== release build, warnings as errors"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZ18_WERROR=ON -DZ18_TESTS=ON -DZ18_WEB_PAGE="$page" >/dev/null
cmake --build build/release -j"$jobs"
(cd build/release && ctest --output-on-failure -j"$jobs")

echo "== examples of the README and docs/ (scripts/check-docs.sh)"
scripts/check-docs.sh build/release/z18man

echo "== Emscripten build, end-to-end tests under Node (scripts/node-test.sh)"
scripts/node-test.sh build/release

echo "== the offline page in headless Chromium (scripts/web-test.sh)"
scripts/web-test.sh build/release/z18man

echo "== install and Debian package (cmake --install, CPack, dpkg -x, lintian)"
scripts/package-test.sh build/release

echo "== instruction budget of the catalogue (callgrind)"
bench/budget build/release/z18man

echo "== sanitizer build (ASan + UBSan)"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZ18_WERROR=ON -DZ18_SANITIZE=ON >/dev/null
cmake --build build/sanitize -j"$jobs"
(cd build/sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")

echo "== fuzzing (libFuzzer, clang, ASan + UBSan): each target for ${Z18_FUZZ_SECONDS:-60} s"
fuzz/run.sh

echo "== Windows build (MinGW-w64), end-to-end tests under Wine"
Z18_WEB_PAGE=$page scripts/windows-test.sh win64
Z18_WEB_PAGE=$page scripts/windows-test.sh win32
