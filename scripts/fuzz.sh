#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (seconds, default 60).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

seconds=${1:-60}
build_dir=$ZU_ROOT/build-fuzz
zu_install_packages
ZU_BUILD_TYPE=Debug ZU_BUILD_TARGETS=fuzz_all zu_build "$build_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DZUSHARE_FUZZ=ON -DZUSHARE_TESTS=OFF -DZUSHARE_BENCH=OFF
status=0
for target in "$build_dir"/fuzz/fuzz_*; do
    [ -f "$target" ] && [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=$ZU_ROOT/fuzz/corpus/${name#fuzz_}
    work=$(mktemp -d)
    zu_say "Fuzzing $name for ${seconds}s"
    # The seeds stay read-only in the repository; new inputs go to a scratch folder.
    if ! zu_as_root unshare --net -- "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$work" "$corpus" 2>"$work.log"; then
        tail -n 60 "$work.log" >&2
        zu_say "$name FAILED"
        status=1
    else
        grep -E '^stat::number_of_executed_units' "$work.log" >&2 || true
    fi
    rm -rf "$work" "$work.log"
done
exit $status
