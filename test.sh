#!/usr/bin/env bash
# Checks the code's format; builds z18man twice (warnings as errors; then AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs the whole test suite on each build (the shell integrations
# too, ctest label "integrations"), and the examples of the documentation against the first;
# mounts images with z18mount in the kernel where FUSE is allowed;
# checks what the release build installs and its Debian package; then cross-builds the Windows
# executables (64- and 32-bit) and zips and runs the end-to-end tests against each under Wine;
# and under Node, the Emscripten build, whose page is tested in headless Chromium and goes into
# the Debian package and the zips.
#
# Each step is one line below (scripts/steps.sh); `./test.sh NAME...` runs only the steps named.
# A step whose Debian packages cannot be installed here is skipped with the reason, and the run
# ends with a summary of every step and its time.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/prereqs.sh
. scripts/steps.sh "$@"
# Every step needs these: a run without them cannot pass.
install_packages cmake make g++ libgtest-dev libz80ex-dev cpmtools valgrind lintian bash-completion dos2unix \
    clang-format python3 pkg-config libfuse3-dev || { echo "FAILED: $PREREQS_REASON"; exit 1; }

# The page the Emscripten step built, for the packages and zips; none where that step did not pass.
page() { if [ "${STEP_RESULT[node]-}" = passed ]; then echo "$PWD/build/web/z18man.html"; fi; }

step format "code format (.clang-format)" scripts/check-format.sh
step layers "includes follow the layers (scripts/check-layers.sh)" scripts/check-layers.sh
step release "release build, warnings as errors, and the test suite" build_and_test build/release \
    -DCMAKE_BUILD_TYPE=Release -DZ18_WERROR=ON -DZ18_TESTS=ON
step docs "examples of the README and docs/ (scripts/check-docs.sh)" scripts/check-docs.sh build/release/z18man
step mount "z18mount in the kernel: the folder driven by cp, rsync and Python (scripts/mount-test.sh)" \
    scripts/mount-test.sh build/release
step node "Emscripten build, end-to-end tests under Node (scripts/node-test.sh)" scripts/node-test.sh build/release
step page "the offline page in headless Chromium (scripts/web-test.sh)" scripts/web-test.sh build/release/z18man
Z18_WEB_PAGE=$(page) step package "install and Debian package (cmake --install, CPack, dpkg -x, lintian)" \
    scripts/package-test.sh build/release
step budget "instruction budget of the catalogue (callgrind)" bench/budget build/release/z18man
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 step sanitize "sanitizer build (ASan + UBSan)" \
    build_and_test build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZ18_WERROR=ON -DZ18_SANITIZE=ON
step fuzz "fuzzing (libFuzzer, clang, ASan + UBSan): each target for ${Z18_FUZZ_SECONDS:-60} s" fuzz/run.sh
Z18_WEB_PAGE=$(page) step win64 "Windows build, 64-bit (MinGW-w64), end-to-end tests under Wine" \
    scripts/windows-test.sh win64
Z18_WEB_PAGE=$(page) step win32 "Windows build, 32-bit (MinGW-w64), end-to-end tests under Wine" \
    scripts/windows-test.sh win32
finish_steps
