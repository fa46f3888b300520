#!/usr/bin/env bash
# Runs clazy's level 0 and 1 checks over the program's sources and fails on any warning. Needs the
# compile commands of a configured build (ZU_BUILD_DIR, build/ by default), whose generated moc
# files must exist: run it after the build.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build_dir=${ZU_BUILD_DIR:-$ZU_ROOT/build}
if [ ! -f "$build_dir/compile_commands.json" ]; then
    zu_say "FAILED: no compile commands in $build_dir: build first"
    exit 1
fi
cd "$ZU_ROOT"
mapfile -t sources < <(git ls-files 'src/*.cpp' 'tools/*.cpp')
zu_say "clazy (level 0 and 1) over ${#sources[@]} files"
log=$(mktemp)
# clazy-standalone reads one file at a time; two at once keep both cores busy.
printf '%s\0' "${sources[@]}" |
    xargs -0 -n 8 -P "$(nproc)" clazy-standalone -p "$build_dir" -checks=level0,level1 >"$log" 2>&1
if grep -q 'warning:\|error:' "$log"; then
    grep -A3 'warning:\|error:' "$log" >&2
    rm -f "$log"
    zu_say "FAILED: clazy found the warnings above"
    exit 1
fi
rm -f "$log"
zu_say "clazy found nothing"
