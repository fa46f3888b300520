#!/usr/bin/env bash
# Builds everything and runs the whole test suite inside a private network namespace.
# ZU_BUILD_DIR and extra cmake options (ZU_CMAKE_ARGS) select another build, such as the sanitizer one;
# ZU_EXPECT_TESTS, the number of tests that the arguments must select.
# Fails when no test ran, when fewer ran than the build holds, and when a test was skipped: inside the
# harness every namespace, display and browser a test asks for is there.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build_dir=${ZU_BUILD_DIR:-$ZU_ROOT/build}
zu_install_packages
# The run command may share this build folder; the tests are switched on whatever its cache says.
# shellcheck disable=SC2086
zu_build "$build_dir" -DZUSHARE_TESTS=ON ${ZU_CMAKE_ARGS:-}

expected=$(ctest --test-dir "$build_dir" -N "$@" | sed -n 's/^Total Tests: *//p')
# A caller that names its suites (ZU_EXPECT_TESTS) learns when a name no longer matches one.
if [ -n "${ZU_EXPECT_TESTS:-}" ] && [ "$expected" != "$ZU_EXPECT_TESTS" ]; then
    zu_say "FAILED: the selection holds ${expected:-0} tests, $ZU_EXPECT_TESTS were named"
    exit 1
fi
junit="$build_dir/ctest-results.xml"
rm -f "$junit"
zu_say "Running ${expected:-no} tests in a private network namespace"
status=0
zu_as_root unshare --net --fork -- "$ZU_ROOT/tests/support/in-netns.sh" \
    ctest --test-dir "$build_dir" --output-on-failure --no-tests=error --output-junit "$junit" \
    -j "$(nproc)" "$@" || status=$?

# The head of the JUnit file, over several lines: <testsuite ... tests="N" ... disabled="D" skipped="S" ...>
attr() { head -c 4096 "$junit" | tr '\n\t' '  ' | sed -n "s/.*<testsuite [^>]*[ ]$1=\"\\([0-9]*\\)\".*/\\1/p"; }
if [ ! -s "$junit" ]; then
    zu_say "FAILED: ctest wrote no results"
    exit "$(( status ? status : 1 ))"
fi
ran=$(attr tests)
skipped=$(( $(attr skipped || true) + $(attr disabled || true) + 0 ))
if [ "${ran:-0}" -eq 0 ] || [ "$ran" != "$expected" ]; then
    zu_say "FAILED: ${ran:-0} tests ran, the build holds ${expected:-0}"
    status=1
fi
if [ "$skipped" -ne 0 ]; then
    zu_say "FAILED: $skipped tests were skipped inside the harness:"
    grep -o '<testcase name="[^"]*"[^>]*status="notrun"' "$junit" | sed 's/<testcase name="\([^"]*\)".*/    \1/' >&2
    status=1
fi
[ "$status" -eq 0 ] && zu_say "All $ran tests passed"
exit "$status"
