#!/usr/bin/env bash
# Cross-builds the native Windows executable z18man.exe with MinGW-w64 (warnings as errors, linked
# statically) and runs the end-to-end tests against it under Wine: the tests that run the
# executable are built natively (build/h-win-native) and pointed at z18man.exe through
# Z18MAN_EXE and Z18MAN_WRAPPER=wine.
#
# Which tests run: those with the ctest label "exe", the tests that run the executable
# (Z18_EXE_TESTS in tests/CMakeLists.txt; a test that runs it without the label fails).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/prereqs.sh
need_packages cmake make g++ libgtest-dev cpmtools g++-mingw-w64-x86-64 wine64 wine binutils-mingw-w64-x86-64

jobs=$(nproc 2>/dev/null || echo 2)
cross=build/h-win
native=build/h-win-native
# Each test gets at most this long under Wine.
limit=${Z18_WINE_TIMEOUT:-600}

echo "== Windows build (MinGW-w64 cross), warnings as errors"
cmake --no-warn-unused-cli -S . -B "$cross" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DZ18_WERROR=ON >/dev/null
cmake --build "$cross" -j"$jobs" --target z18man
exe=$PWD/$cross/z18man.exe

# Linked statically: only DLLs that every Windows system has may be imported.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $imports; do
    case "$dll" in
        kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll) ;;
        *) echo "z18man.exe needs $dll beside it: it must link statically" >&2; exit 1 ;;
    esac
done
echo "imports: $(echo $imports)"

echo "== native build of the tests"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DZ18_WERROR=ON >/dev/null
cmake --build "$native" -j"$jobs"
selected=$(cd "$native" && ctest -N -L exe | sed -n 's/^Total Tests: //p')
if [ "${selected:-0}" -eq 0 ]; then
    echo "no tests run the executable" >&2
    exit 1
fi

echo "== end-to-end tests under Wine"
# A prefix of our own inside the build tree, no debug chatter, no Mono or Gecko installers, no
# window system.
export WINEPREFIX=$PWD/$cross/wineprefix
export WINEDEBUG=-all
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
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -p
# The server's helper processes start with the next run and live as long as the server: started
# here, they hold no test's output open.
timeout 120 wine "$exe" >/dev/null 2>&1 || true

failed=0
(cd "$native" && ctest -L exe --timeout "$limit" --output-on-failure) || failed=1
if [ $failed -ne 0 ]; then
    echo "== end-to-end tests under Wine FAILED" >&2
    exit 1
fi
echo "== end-to-end tests under Wine passed"
