#!/usr/bin/env bash
# Runs the whole test suite, built with AddressSanitizer and
# UndefinedBehaviorSanitizer into build/sanitize (make sanitize builds it),
# on the same test bed as make check. Every sanitizer stops the process at
# its first report, so a report fails the test that caused it; the output is
# searched as well, for reports from processes whose status no test reads.
set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1
source scripts/testbed.sh

testbed_stop_on_exit

tests=build/sanitize/param_config_tests
if [[ ! -x $tests ]]; then
    echo "sanitize: $tests is missing; run make sanitize" >&2
    exit 1
fi

testbed_start_suite_bed || exit 1
out=$(mktemp /tmp/param-config-sanitize.XXXXXX) || exit 1
testbed__push "rm -f -- '$out'"
echo "sanitize: X on $DISPLAY, database kelvaron at $PGHOST"

# LeakSanitizer looks at processes that end through exit (the test binary,
# the program where the tests exec it); the test children end with _exit,
# where it never looks, and make memcheck covers their leaks.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
start=$SECONDS
"$tests" --gtest_brief=1 2>&1 | tee "$out"
status=$?

if grep -Eq 'runtime error:|ERROR: (Address|Leak)Sanitizer|SUMMARY: (Address|Leak|UndefinedBehavior)Sanitizer' "$out"; then
    echo "sanitize: FAILED: sanitizer reports above" >&2
    exit 1
fi
if ((status != 0)); then
    echo "sanitize: FAILED (test status $status)" >&2
    exit 1
fi
echo "sanitize: no reports in $((SECONDS - start)) s"
exit 0
