#!/usr/bin/env bash
# Builds everything and runs the whole test suite inside a private network namespace.
# ZU_BUILD_DIR and extra cmake options (ZU_CMAKE_ARGS) select another build, such as the sanitizer one.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build_dir=${ZU_BUILD_DIR:-$ZU_ROOT/build}
zu_install_packages
# shellcheck disable=SC2086
zu_build "$build_dir" ${ZU_CMAKE_ARGS:-}
zu_say "Running the tests in a private network namespace"
zu_as_root unshare --net --fork -- "$ZU_ROOT/tests/support/in-netns.sh" \
    ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" "$@"
