#!/usr/bin/env bash
# Builds the Debian package from an already built tree, unpacks it into a scratch root and checks
# what a user's machine would get. Exit code 77 (skipped) when the build has no packaging set up.
set -euo pipefail

build_dir=$1
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$build_dir/CPackConfig.cmake" ] || skip "no CPackConfig.cmake in $build_dir"
# CPackConfig.cmake outlives a configure that no longer includes the packaging; the install script does not.
grep -q 'zushare-menu' "$build_dir/cmake_install.cmake" || skip "packaging is not part of this build"
command -v dpkg-deb >/dev/null || skip "dpkg-deb missing"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/cpack" \
    -D CPACK_OUTPUT_FILE_PREFIX="$work/out" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    fail "cpack could not build the package"
}
shopt -s nullglob
debs=("$work"/out/zushare_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one zushare_*.deb, found ${#debs[@]}"
deb=${debs[0]}
echo "built $(basename "$deb")"

root="$work/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | sort >"$work/list"
cat "$work/list"

need() { [ -e "$root/$1" ] || fail "package lacks /$1"; }
need usr/bin/zushare
[ -x "$root/usr/bin/zushare" ] || fail "/usr/bin/zushare is not executable"
if [ -e "$build_dir/tools/zushare-cli" ]; then
    need usr/bin/zushare-cli
fi
need usr/lib/zushare/zushare-menu
need usr/share/icons/hicolor/scalable/apps/zushare.svg
if command -v rsvg-convert >/dev/null; then
    for size in 16 32 48 64 128 256; do
        need "usr/share/icons/hicolor/${size}x${size}/apps/zushare.png"
    done
fi
! grep -qE '\.(a|h|cmake)$' "$work/list" || fail "build-only files in the package"

desktop="$root/usr/share/applications/zushare.desktop"
[ -f "$desktop" ] || fail "package lacks the desktop entry"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
else
    echo "desktop-file-validate missing; entry not validated"
fi
grep -qx 'Name=Zu屏幕共享' "$desktop" || fail "desktop entry name"
grep -qx 'Icon=zushare' "$desktop" || fail "desktop entry icon"
grep -qE '^Categories=(.*;)?Network;' "$desktop" || fail "desktop entry category"
grep -qx 'Exec=/usr/lib/zushare/zushare-menu' "$desktop" || fail "desktop entry Exec: $(grep ^Exec= "$desktop")"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names=$(tr ',' '\n' <<<"$depends" | awk '{print $1}')
for lib in libc6 libqt5core5a libstdc++6; do
    grep -qxF "$lib" <<<"$names" || fail "Depends lacks $lib"
done
! grep -q -- '-dev$' <<<"$names" || fail "Depends names a development package"
[ "$(dpkg-deb -f "$deb" Package)" = zushare ] || fail "package name"

# The menu launcher runs the program in a folder of the user's own, so that logs/ is writable.
mkdir -p "$work/fake/usr/bin" "$work/fake/usr/lib/zushare" "$work/home"
cp "$root/usr/lib/zushare/zushare-menu" "$work/fake/usr/lib/zushare/"
printf '#!/bin/sh\npwd\n' >"$work/fake/usr/bin/zushare"
chmod +x "$work/fake/usr/bin/zushare"
ran_in=$(env -u XDG_STATE_HOME HOME="$work/home" "$work/fake/usr/lib/zushare/zushare-menu")
[ "$ran_in" = "$work/home/.local/state/zushare" ] || fail "launcher ran in $ran_in"
ran_in=$(HOME="$work/home" XDG_STATE_HOME="$work/state" "$work/fake/usr/lib/zushare/zushare-menu")
[ "$ran_in" = "$work/state/zushare" ] || fail "launcher ran in $ran_in"
echo "package checks passed"
