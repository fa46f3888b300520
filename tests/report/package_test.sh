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
need usr/share/man/man1/zushare.1.gz
need usr/share/doc/zushare/copyright
need usr/share/doc/zushare/changelog.Debian.gz
! grep -qE '\.(a|h|cmake)$' "$work/list" || fail "build-only files in the package"

desktop="$root/usr/share/applications/zushare.desktop"
[ -f "$desktop" ] || fail "package lacks the desktop entry"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
else
    echo "desktop-file-validate missing; entry not validated"
fi
grep -qx 'Name=Zu Screen Share' "$desktop" || fail "desktop entry name"
grep -qx 'Name\[zh_CN\]=Zu屏幕共享' "$desktop" || fail "desktop entry Chinese name"
grep -qx 'Icon=zushare' "$desktop" || fail "desktop entry icon"
grep -qE '^Categories=(.*;)?Network;' "$desktop" || fail "desktop entry category"
grep -qx 'Exec=/usr/lib/zushare/zushare-menu' "$desktop" || fail "desktop entry Exec: $(grep ^Exec= "$desktop")"

version=$(dpkg-deb -f "$deb" Version)
metainfo="$root/usr/share/metainfo/org.zushare.zushare.metainfo.xml"
[ -f "$metainfo" ] || fail "package lacks the AppStream metainfo"
grep -qF '<launchable type="desktop-id">zushare.desktop</launchable>' "$metainfo" || fail "metainfo launchable"
grep -qF "<release version=\"${version%-*}\"" "$metainfo" || fail "metainfo has no release ${version%-*}"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" || fail "metainfo does not validate"
else
    echo "appstreamcli missing; metainfo not validated"
fi

head -n 1 "$root/usr/share/doc/zushare/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright file is not in the machine-readable format"
zcat "$root/usr/share/doc/zushare/changelog.Debian.gz" >"$work/changelog"
if command -v dpkg-parsechangelog >/dev/null; then
    logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
else
    logged=$(sed -n '1s/^zushare (\([^)]*\)).*/\1/p' "$work/changelog")
fi
[ "$logged" = "$version" ] || fail "changelog is at $logged, the package at $version"

# Every manual page renders without a warning; zushare-cli's names every option its usage names.
if command -v man >/dev/null; then
    for page in "$root"/usr/share/man/man1/*.1.gz; do
        warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
    done
else
    echo "man missing; manual pages not rendered"
fi
if [ -e "$root/usr/bin/zushare-cli" ]; then
    need usr/share/man/man1/zushare-cli.1.gz
    "$root/usr/bin/zushare-cli" --help >"$work/usage" 2>"$work/usage.err" || fail "zushare-cli --help failed"
    if ! grep -q '^usage: zushare-cli host' "$work/usage" || [ -s "$work/usage.err" ]; then
        fail "zushare-cli --help does not print its usage on standard output"
    fi
    rc=0
    "$root/usr/bin/zushare-cli" >/dev/null 2>"$work/usage.err" || rc=$?
    if [ "$rc" != 64 ] || ! grep -q '^usage:' "$work/usage.err"; then
        fail "zushare-cli without arguments exited $rc"
    fi
    zcat "$root/usr/share/man/man1/zushare-cli.1.gz" >"$work/zushare-cli.1"
    for option in $(grep -oE -- '--[a-z][a-z-]*' "$work/usage" | sort -u) --help; do
        grep -qF -- "${option//-/\\-}" "$work/zushare-cli.1" || fail "zushare-cli(1) lacks $option"
    done
fi

if command -v lintian >/dev/null; then
    lintian --fail-on error "$deb" >"$work/lintian" 2>&1 ||
        { cat "$work/lintian"; fail "lintian finds errors"; }
    cat "$work/lintian"
else
    echo "lintian missing; package not checked"
fi

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
