#!/usr/bin/env bash
# Puts each deliberate fault of tests/support/faults into the code in turn, builds, runs the tests that
# should catch it (inside the test namespace, through scripts/test.sh) and takes the fault out again.
# Prints one line per fault: "caught", "MISSED" or "BUILD FAILED"; exits non-zero when one was missed.
# Usage: scripts/fault-check.sh [NAME...]   (no name: every fault of the list; ZU_BUILD_DIR as for
# scripts/test.sh). The faults touch src/ only; that part of the tree must have no changes of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
list=tests/support/faults/list
build_dir=${ZU_BUILD_DIR:-$root/build}
logs="$build_dir/fault-check"
if ! git diff --quiet -- src; then
    echo "fault-check: src/ has changes of its own; commit or put them aside first" >&2
    exit 2
fi
mkdir -p "$logs"
applied=""
restore() { if [ -n "$applied" ]; then git apply -R "$applied" && applied=""; fi; }
trap restore EXIT INT TERM

missed=0
printf '%-34s %-8s %s\n' fault result seconds
while IFS=';' read -r name tests what; do
    case "$name" in '#'* | '') continue ;; esac
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
    patch=tests/support/faults/$name.patch
    start=$(date +%s)
    git apply "$patch"
    applied=$patch
    if ! cmake --build "$build_dir" >"$logs/$name.log" 2>&1; then
        result="BUILD FAILED"
        missed=$((missed + 1))
    elif [ "$(ctest --test-dir "$build_dir" -N -R "$tests" | sed -n 's/^Total Tests: *//p')" = 0 ]; then
        result="NO TESTS"
        missed=$((missed + 1))
    elif ./scripts/test.sh -R "$tests" >>"$logs/$name.log" 2>&1; then
        result=MISSED
        missed=$((missed + 1))
    else
        result=caught
    fi
    restore
    printf '%-34s %-8s %s\n' "$name" "$result" "$(($(date +%s) - start))"
done <"$list"
# Leave the build as the tree is, without a fault in it.
cmake --build "$build_dir" >/dev/null 2>&1 || true
exit $((missed > 0))
