#!/usr/bin/env bash
# Cross-builds the native Windows executable z18man.exe with MinGW-w64 (warnings as errors, linked
# statically) and its zip (the package target), checks the zip and runs the zipped program under
# Wine, then runs the end-to-end tests against z18man.exe under Wine: the tests that run the
# executable are built natively (build/h-win-native) and pointed at z18man.exe through
# Z18MAN_EXE and Z18MAN_WRAPPER=wine. The argument picks the 64-bit program (win64, the default,
# in build/h-win) or the 32-bit one (win32, in build/h-win32), and Wine of that architecture.
# Z18_WEB_PAGE, when set, names a built z18man.html the zip must carry (test.sh passes the
# Emscripten build's).
#
# Which tests run: those with the ctest label "exe", the tests that run the executable
# (Z18_EXE_TESTS in tests/CMakeLists.txt; a test that runs it without the label fails).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/prereqs.sh

arch=${1:-win64}
case $arch in
    win64) triple=x86_64-w64-mingw32 cross=build/h-win wine="wine64 wine" ;;
    win32) triple=i686-w64-mingw32 cross=build/h-win32 wine="wine wine32:i386" ;;
    *) echo "usage: scripts/windows-test.sh [win64|win32]" >&2; exit 2 ;;
esac
cpu=${triple%%-*}
toolchain=cmake/mingw-w64.cmake
[ "$arch" = win64 ] || toolchain=cmake/mingw-w64-$cpu.cmake
# Both cross compilers are amd64 packages; Wine comes later, so that a machine that cannot
# install it still builds and checks the program.
need_packages cmake make g++ libgtest-dev cpmtools g++-mingw-w64-${cpu//_/-} \
    binutils-mingw-w64-${cpu//_/-} unzip

jobs=$(nproc 2>/dev/null || echo 2)
native=build/h-win-native
# Each test gets at most this long under Wine.
limit=${Z18_WINE_TIMEOUT:-600}

echo "== Windows build $arch (MinGW-w64 cross, $triple), warnings as errors"
cmake --no-warn-unused-cli -S . -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DZ18_WERROR=ON -DZ18_WEB_PAGE="${Z18_WEB_PAGE:-}" >/dev/null
cmake --build "$cross" -j"$jobs" --target z18man z18fsck
exe=$PWD/$cross/z18man.exe

# Linked statically: only DLLs that every Windows system has may be imported.
imports=$("$triple-objdump" -p "$exe" "$cross/z18fsck.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $imports; do
    case "$dll" in
        kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll) ;;
        *) echo "z18man.exe needs $dll beside it: it must link statically" >&2; exit 1 ;;
    esac
done
echo "imports: $(echo $imports)"

echo "== Windows zip (CPack)"
version=$(sed -n 's/^project(z18man VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip=$cross/z18man-$version-$arch.zip
rm -f "$zip"
cmake --build "$cross" --target package >/dev/null
[ -f "$zip" ] || { echo "the package target wrote no $zip" >&2; exit 1; }
contents=$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')
pages=$(cd docs && LC_ALL=C ls -d *.md *.png | sed 's|^|docs/|' | tr '\n' ' ')
expected="LICENSE.txt README.txt docs/ ${pages}z18fsck.exe z18man.exe ${Z18_WEB_PAGE:+z18man.html }"
if [ "$contents" != "$expected" ]; then
    echo "$zip holds: $contents; expected $expected" >&2
    exit 1
fi
unzipped=$(mktemp -d)
trap 'rm -rf "$unzipped"' EXIT
unzip -q "$zip" -d "$unzipped"
cmp -s "$unzipped/README.txt" README.md && cmp -s "$unzipped/LICENSE.txt" LICENSE ||
    { echo "the zip's README.txt or LICENSE.txt differs from README.md or LICENSE" >&2; exit 1; }
[ -z "${Z18_WEB_PAGE:-}" ] || cmp -s "$unzipped/z18man.html" "$Z18_WEB_PAGE" ||
    { echo "the zip's z18man.html differs from $Z18_WEB_PAGE" >&2; exit 1; }
echo "$zip: $contents"

# 32-bit Wine is Debian's i386 package: dpkg must know that architecture first.
[ "$arch" = win64 ] || need_architecture i386
install_packages $wine ||
    skip_rest "z18man.exe, z18fsck.exe and the zip built and checked; not run under Wine: $PREREQS_REASON"

echo "== native build of the tests"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DZ18_WERROR=ON >/dev/null
cmake --build "$native" -j"$jobs"
selected=$(cd "$native" && ctest -N -L exe | sed -n 's/^Total Tests: //p')
if [ "${selected:-0}" -eq 0 ]; then
    echo "no tests run the executable" >&2
    exit 1
fi

echo "== end-to-end tests under Wine"
# A prefix of our own inside the build tree, of the architecture under test, made afresh when the
# Wine packages changed (one made by 64-bit Wine alone fails once 32-bit Wine is installed); no
# debug chatter, no Mono or Gecko installers, no window system.
export WINEPREFIX=$PWD/$cross/wineprefix
export WINEARCH=$arch
export WINEDEBUG=-all
wine_packages="$arch $(dpkg-query -W wine wine64 wine32:i386 2>/dev/null | tr '\n\t' '  ' || true)"
if [ -d "$WINEPREFIX" ] && [ "$(cat "$WINEPREFIX/.z18-made-by" 2>/dev/null)" != "$wine_packages" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
fi
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY
export Z18MAN_EXE=$exe
export Z18MAN_WRAPPER=wine

# The first run makes the prefix. Then one wine server serves every run, so each start is quick;
# it is stopped however this script ends. A server an interrupted earlier run left behind in this
# prefix is stopped first.
wineserver -k >/dev/null 2>&1 || true
status=0
timeout 300 wine "$exe" >/dev/null 2>"$cross/wine-first-run.log" || status=$?
if [ $status -ne 1 ]; then
    cat "$cross/wine-first-run.log" >&2
    echo "z18man.exe without arguments should end with status 1 under Wine; got $status" >&2
    exit 1
fi
timeout 60 wineserver -w || true
echo "$wine_packages" >"$WINEPREFIX/.z18-made-by"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$unzipped"' EXIT
wineserver -p
# The server's helper processes start with the next run and live as long as the server: started
# here, they hold no test's output open.
timeout 120 wine "$exe" >/dev/null 2>&1 || true

# The zipped program, where a Windows user unpacks it: it formats an image, adds its README to
# it, lists it and gives the README back, whole records.
zipped_ok=1
# zipped_run PATTERN ARGS...: runs it with ARGS; one line of its output must match PATTERN.
zipped_run() {
    local pattern=$1 out
    shift
    out=$(cd "$unzipped" && timeout 120 wine ./z18man.exe "$@" </dev/null | tr -d '\r') || zipped_ok=0
    grep -qx -e "$pattern" <<<"$out" || { zipped_ok=0; echo "z18man.exe $*:"; echo "$out"; } >&2
}
zipped_run "Image 'demo.z18' was formated." demo /f
zipped_run "File 'README.TXT' added" demo /a README.txt
zipped_run "README.TXT .*" demo /c
mkdir "$unzipped/out"
zipped_run "File 'README.TXT' was extracted" demo /x 'out\README.TXT'
cmp -s -n "$(stat -c %s "$unzipped/README.txt")" "$unzipped/out/README.TXT" "$unzipped/README.txt" ||
    zipped_ok=0
# The zipped checker passes that image and salvages its README whole.
out=$(cd "$unzipped" && timeout 120 wine ./z18fsck.exe -x saved demo.z18 </dev/null | tr -d '\r') || zipped_ok=0
grep -qx "demo.z18: 1 file(s), .* 0 problem(s)" <<<"$out" &&
    cmp -s -n "$(stat -c %s "$unzipped/README.txt")" "$unzipped/saved/README.TXT" "$unzipped/README.txt" ||
    { zipped_ok=0; echo "z18fsck.exe -x saved demo.z18:"; echo "$out"; } >&2
if [ $zipped_ok -ne 1 ]; then
    echo "the zipped z18man.exe does not work under Wine" >&2
    exit 1
fi
echo "-- the zipped z18man.exe formats, adds, lists and extracts under Wine"

failed=0
(cd "$native" && ctest -L exe --timeout "$limit" --output-on-failure) || failed=1
if [ $failed -ne 0 ]; then
    echo "== end-to-end tests under Wine FAILED" >&2
    exit 1
fi
echo "== end-to-end tests under Wine passed"
