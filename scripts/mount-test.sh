#!/usr/bin/env bash
# The mounted folder in the kernel: builds z18mount, z18man and z18fsck in the release build and
# runs tests/mount/kernel_test.sh, which mounts images and drives them with coreutils, rsync and
# Python, then checks the images with z18man, z18fsck and cpmtools. Where this machine cannot
# mount a FUSE file system (no /dev/fuse, or a container that forbids mounting), the step is
# skipped with the reason.
#   scripts/mount-test.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/prereqs.sh
need_packages cmake make g++ pkg-config libfuse3-dev fuse3 rsync python3 cpmtools

build=${1:-build/release}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZ18_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target z18mount z18man z18fsck
build=$(cd "$build" && pwd)

tests/mount/kernel_test.sh "$build"
