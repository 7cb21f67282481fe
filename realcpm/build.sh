#!/bin/bash
# build.sh OUTDIR [CPM22_SRC]
#   Compiles the realcpm harness (needs Debian's libz80ex-dev) into OUTDIR and
#   puts the CP/M 2.2 system files (ccp.sys, bdos.sys) beside it. The native
#   test build of z18man does the same through CMakeLists.txt here.
#   If CPM22_SRC is given (a checkout of github ivop/cpm22-from-source at
#   1f1767d with submodules c-ports @d55638f and intel80tools @ffe968e; of
#   intel80tools only itools/plm80.lib/plm80.lib is needed), CP/M is rebuilt
#   there from DRI's sources and the binaries used are the freshly built ones,
#   after checking they equal bin/SHA256SUMS. Otherwise the shipped bin/ is used.
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
OUT=${1:?usage: build.sh OUTDIR [CPM22_SRC]}
SRC=${2:-}
mkdir -p "$OUT"
if [ ! -f /usr/include/z80ex/z80ex.h ]; then
    echo "build.sh: installing libz80ex-dev" >&2
    apt-get install -y libz80ex-dev >/dev/null
fi
gcc -O2 -Wall -Wextra -o "$OUT/realcpm" "$HERE/realcpm.c" -lz80ex
BIN="$HERE/bin"
if [ -n "$SRC" ]; then
    make -C "$SRC" -j4 >"$OUT/cpm22-build.log" 2>&1
    BIN="$SRC/bin"
    (cd "$BIN" && sha256sum -c "$HERE/bin/SHA256SUMS")
fi
cp "$BIN/ccp.sys" "$BIN/bdos.sys" "$BIN/pip.com" "$BIN/stat.com" "$OUT/"
cp "$HERE/diskdefs" "$OUT/"
echo "built $OUT/realcpm (system files from $BIN)"
