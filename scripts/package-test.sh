#!/usr/bin/env bash
# Checks what a release build installs and packages:
#   - `cmake --install` into a scratch prefix: exactly the programs z18man, z18fsck and, where the
#     build has it, z18mount (stripped), their manual pages and bash completions, and the mc helper;
#   - the Debian packages the `package` target writes (z18man, and z18mount with its dependency on
#     fuse3): their names, control fields and contents; unpacked with dpkg -x into a scratch root,
#     the packaged programs run, the packaged completions and helper pass their tests there, and
#     bash-completion finds the completions;
#   - lintian: no errors and no warnings (overrides carry their reasons in the package);
#   - the offline page, where the build was given one (Z18_WEB_PAGE): installed and packaged as built.
#
#   scripts/package-test.sh [BUILD_DIR]     (default build/release, configured as Release)
#
# Z18_WEB_PAGE, when set (even empty), names the page the build is to carry from now on: test.sh
# passes the one its Emscripten step built, or none.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/prereqs.sh
need_packages cmake make g++ lintian bash-completion binutils

build=${1:-build/release}
version=$(sed -n 's/^project(z18man VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
deb=$build/z18man_${version}_${arch}.deb
mountdeb=$build/z18mount_${version}_${arch}.deb
# z18mount is built where libfuse 3 was found.
mount=$(grep -q '^FUSE3_FOUND:INTERNAL=1' "$build/CMakeCache.txt" && echo z18mount || true)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}

[ -z "${Z18_WEB_PAGE+set}" ] || cmake -S . -B "$build" -DZ18_WEB_PAGE="$Z18_WEB_PAGE" >/dev/null
page=$(sed -n 's/^Z18_WEB_PAGE:[A-Z]*=//p' "$build/CMakeCache.txt")
# The listing line of the page under prefix $1, where there is one.
page_line() { [ -z "$page" ] || printf '\n%sshare/z18man/z18man.html 644' "${1:-}"; }

# The regular files under a folder, with their modes, one "path mode" a line.
listing() { (cd "$1" && find . -type f -printf '%P %m\n' | LC_ALL=C sort); }
# Fails unless the ELF program at $1 is stripped and linked statically.
stripped_static() {
    readelf -S "$1" | grep -q '\.symtab' && fail "$1 is not stripped"
    readelf -l "$1" | grep -q INTERP && fail "$1 is not linked statically"
    return 0
}

echo "-- cmake --install"
cmake --build "$build" --target z18man z18fsck $mount z18man_manpage >/dev/null
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
expected=$(LC_ALL=C sort <<<"bin/z18fsck 755
bin/z18man 755
lib/mc/extfs.d/uz18 755
share/bash-completion/completions/z18fsck 644
share/bash-completion/completions/z18man 644
share/man/man1/z18fsck.1.gz 644
share/man/man1/z18man.1.gz 644$(page_line)${mount:+
bin/z18mount 755
share/bash-completion/completions/z18mount 644
share/man/man1/z18mount.1.gz 644}")
[ "$(listing "$scratch/prefix")" = "$expected" ] ||
    fail "cmake --install gave:"$'\n'"$(listing "$scratch/prefix")"$'\n'"expected:"$'\n'"$expected"
for program in z18man z18fsck $mount; do stripped_static "$scratch/prefix/bin/$program"; done
[ -z "$page" ] || cmp -s "$page" "$scratch/prefix/share/z18man/z18man.html" || fail "the installed page differs from $page"

echo "-- Debian package"
rm -f "$deb" "$mountdeb"
cmake --build "$build" --target package >/dev/null
[ -f "$deb" ] || { echo "FAIL: the package target wrote no $deb" >&2; exit 1; }
echo "$deb"
[ -z "$mount" ] || [ -f "$mountdeb" ] || { echo "FAIL: the package target wrote no $mountdeb" >&2; exit 1; }
[ -z "$mount" ] || echo "$mountdeb"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = z18man ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = otherosfs ] || fail "Section: $(field Section)"
[ "$(field Priority)" = optional ] || fail "Priority: $(field Priority)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
for relation in Depends Pre-Depends Recommends Suggests; do
    [ -z "$(field "$relation")" ] || fail "$relation: $(field "$relation"): a static program needs nothing"
done
description=$(field Description)
[ "$(head -1 <<<"$description")" = "manager for .z18 CP/M 2.2 floppy disk images" ] ||
    fail "Description synopsis: $(head -1 <<<"$description")"
[ "$(wc -l <<<"$description")" -ge 5 ] || fail "Description has no real extended text"

root=$scratch/root
dpkg -x "$deb" "$root"
expected="usr/bin/z18fsck 755
usr/bin/z18man 755
usr/lib/mc/extfs.d/uz18 755
usr/share/bash-completion/completions/z18fsck 644
usr/share/bash-completion/completions/z18man 644
usr/share/doc/z18man/changelog.gz 644
usr/share/doc/z18man/copyright 644
usr/share/lintian/overrides/z18man 644
usr/share/man/man1/z18fsck.1.gz 644
usr/share/man/man1/z18man.1.gz 644$(page_line usr/)"
[ "$(listing "$root")" = "$expected" ] ||
    fail "the package holds:"$'\n'"$(listing "$root")"$'\n'"expected:"$'\n'"$expected"
owners=$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)
[ "$owners" = root/root ] || fail "files not owned by root: $owners"
stripped_static "$root/usr/bin/z18man"
stripped_static "$root/usr/bin/z18fsck"
for file in bin/z18man bin/z18fsck lib/mc/extfs.d/uz18 share/bash-completion/completions/z18man \
    share/bash-completion/completions/z18fsck share/man/man1/z18man.1.gz share/man/man1/z18fsck.1.gz \
    ${page:+share/z18man/z18man.html}; do
    cmp -s "$root/usr/$file" "$scratch/prefix/$file" || fail "the package's $file differs from cmake --install's"
done
grep -qx 'Copyright: 2026 the z18man authors' "$root/usr/share/doc/z18man/copyright" &&
    grep -qx 'License: Expat' "$root/usr/share/doc/z18man/copyright" ||
    fail "copyright names no holder or licence"
for man in z18man z18fsck; do
    zcat "$root/usr/share/man/man1/$man.1.gz" | cmp -s - docs/$man.1 || fail "the manual page differs from docs/$man.1"
done

echo "-- the packaged program, completion and helper"
usage=0
"$root/usr/bin/z18man" >"$scratch/usage" || usage=$?
[ $usage -eq 1 ] && grep -q '^Syntax:' "$scratch/usage" || fail "the packaged z18man shows no syntax help"
(cd "$scratch" && "$root/usr/bin/z18man" probe /f >/dev/null && "$root/usr/bin/z18man" probe /c |
    grep -qx "0K in 0 file(s), 348K free") || fail "the packaged z18man cannot format and list an image"
tests/integrations/completion_test.sh "$root/usr/share/bash-completion/completions/z18man" \
    "$root/usr/bin/z18man" || failed=1
tests/integrations/fsck_completion_test.sh "$root/usr/share/bash-completion/completions/z18fsck" || failed=1
# The packaged checker finds the image the packaged z18man made clean.
"$root/usr/bin/z18fsck" "$scratch/probe.z18" >/dev/null || fail "the packaged z18fsck does not pass a fresh image"
# Without a tool named, the helper must find the z18man installed beside it.
tests/integrations/uz18_test.sh "$root/usr/lib/mc/extfs.d/uz18" || failed=1
# bash-completion loads completions on demand from <data dir>/bash-completion/completions.
# completion_loads ROOT PROGRAM
completion_loads() {
    local loaded
    loaded=$(XDG_DATA_DIRS=$1/usr/share bash -c '
        . /usr/share/bash-completion/bash_completion
        if declare -F _comp_load >/dev/null; then _comp_load "$0"; else __load_completion "$0"; fi
        complete -p "$0"' "$2" 2>&1)
    [ "$loaded" = "complete -F _$2 $2" ] || fail "bash-completion does not load the packaged $2 completion: $loaded"
}
completion_loads "$root" z18man
completion_loads "$root" z18fsck

if [ -n "$mount" ]; then
    echo "-- the z18mount package"
    mroot=$scratch/mroot
    dpkg -x "$mountdeb" "$mroot"
    fields=$(for f in Package Version Architecture Source Section Priority Depends; do dpkg-deb -f "$mountdeb" "$f"; done)
    [ "$(echo $fields)" = "z18mount $version $arch z18man otherosfs optional fuse3" ] || fail "z18mount's fields: $fields"
    expected="usr/bin/z18mount 755
usr/share/bash-completion/completions/z18mount 644
usr/share/doc/z18mount/changelog.gz 644
usr/share/doc/z18mount/copyright 644
usr/share/lintian/overrides/z18mount 644
usr/share/man/man1/z18mount.1.gz 644"
    [ "$(listing "$mroot")" = "$expected" ] ||
        fail "the z18mount package holds:"$'\n'"$(listing "$mroot")"$'\n'"expected:"$'\n'"$expected"
    stripped_static "$mroot/usr/bin/z18mount"
    for file in bin/z18mount share/bash-completion/completions/z18mount share/man/man1/z18mount.1.gz; do
        cmp -s "$mroot/usr/$file" "$scratch/prefix/$file" || fail "the package's $file differs from cmake --install's"
    done
    cmp -s "$mroot/usr/share/doc/z18mount/copyright" "$root/usr/share/doc/z18man/copyright" || fail "z18mount's copyright differs"
    zcat "$mroot/usr/share/man/man1/z18mount.1.gz" | cmp -s - docs/z18mount.1 || fail "the manual page differs from docs/z18mount.1"
    [ "$("$mroot/usr/bin/z18mount" --version)" = "z18mount v$version" ] || fail "the packaged z18mount gives no version"
    tests/integrations/mount_completion_test.sh "$mroot/usr/share/bash-completion/completions/z18mount" || failed=1
    completion_loads "$mroot" z18mount
fi

echo "-- lintian"
# Overridden tags are shown too (O:, with their reasons), which makes lintian's own status 2: the
# verdict comes from the tags it prints instead.
status=0
report=$(lintian --display-info --show-overrides "$deb" ${mount:+"$mountdeb"} 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ $status -le 2 ] || fail "lintian could not check the package (status $status)"
! grep -q '^[EW]: ' <<<"$report" || fail "lintian reports errors or warnings"

if [ $failed -ne 0 ]; then
    echo "== package checks FAILED" >&2
    exit 1
fi
echo "== package checks passed"
