#!/usr/bin/env bash
# Runs the test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (build/sanitize, made by make sanitize) on the same bed as make check. Every
# sanitizer stops the process at its first report, which fails its test; the
# output is searched too, for reports from processes whose status no test reads.
set -u -o pipefail
cd "$(dirname "$0")/../.." || exit 1
out=$(mktemp /tmp/param-config-sanitize.XXXXXX) || exit 1
trap 'rm -f -- "$out"' EXIT

# LeakSanitizer sees processes that end through exit (the test binary, the
# program it execs); the test children end with _exit, and make memcheck
# covers their leaks.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
bash manager/tests/check.sh --run build/sanitize/param_config_tests --gtest_brief=1 2>&1 | tee "$out"
status=$?
if grep -Eq 'runtime error:|ERROR: (Address|Leak)Sanitizer|SUMMARY: (Address|Leak|UndefinedBehavior)Sanitizer' "$out"; then
    echo "sanitize: FAILED: sanitizer reports above" >&2
    exit 1
fi
((status == 0)) || { echo "sanitize: FAILED (test status $status)" >&2; exit 1; }
echo "sanitize: no reports"
