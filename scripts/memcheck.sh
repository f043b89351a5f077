#!/usr/bin/env bash
# Runs the whole test suite once under valgrind memcheck, on the same test bed
# as make check. Every process of the program is checked: the forked test
# children (valgrind follows forks) and the binary the tests exec
# (--trace-children). Fails on any invalid access, any use of an
# uninitialised value and any block definitely or indirectly lost; blocks
# still reachable at exit (widgets, the connection, toolkit caches) are the
# program's lifetime state and are not errors. scripts/valgrind.supp lists
# the toolkit's own reports, each with its reason.
set -u
cd "$(dirname "$0")/.." || exit 1
source scripts/testbed.sh

testbed_stop_on_exit

tests=build/param_config_tests
if [[ ! -x $tests ]]; then
    echo "memcheck: $tests is missing; run make memcheck" >&2
    exit 1
fi

testbed_start_suite_bed || exit 1
logs=$(mktemp -d /tmp/param-config-memcheck.XXXXXX) || exit 1
testbed__push "rm -rf -- '$logs'"
echo "memcheck: X on $DISPLAY, database kelvaron at $PGHOST, logs in $logs"

# Helpers the tests exec (a private cluster, its tools, a shell) are not
# ours: they run natively.
skip='*/sh,*/bash,*/runuser,*/initdb,*/pg_ctl,*/postgres,*/psql,*/createdb'
# Two tests observe what valgrind itself changes, not the program: it runs
# an exec'd program with argv[0] set to the full path, and it checks file
# descriptors against a lowered RLIMIT_NOFILE only after the kernel has
# created the file. Both run in make check and make sanitize.
# The handlers these two tests drive run under valgrind in the fault and
# privilege tests as well.
excluded=Startup.FailuresPrintOneLineShowNoWindowAndExit
excluded+=:Units.MenuEntriesStoreTheirCodesAndRewriteTheGraphFile
# The packaging tests run make, cmake, dpkg and man, not the program's
# memory behaviour, which the other tests cover.
excluded+=:Install.*:DebianPackage.*:ManPage.*
start=$SECONDS
valgrind --trace-children=yes --trace-children-skip="$skip" \
    --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --num-callers=30 \
    --suppressions="$PWD/scripts/valgrind.supp" --log-file="$logs/%p.log" \
    "$tests" --gtest_brief=1 --gtest_filter="-$excluded"
status=$?

# Leaks of the kinds above count as errors, so a process that ended is
# clean exactly when its error summary says 0. A log without a summary is a
# fork that went on to exec a program skipped above: clean if nothing
# follows the header.
found=0
for log in "$logs"/*.log; do
    if grep -q 'ERROR SUMMARY:' "$log"; then
        grep -q 'ERROR SUMMARY: 0 errors' "$log" && continue
    else
        grep -Evq '^==[0-9]+== ((Memcheck|Copyright|Using Valgrind|Command|Parent PID).*)?$' "$log" || continue
    fi
    found=1
    echo "---- $log"
    cat "$log"
done
echo "memcheck: $(ls "$logs" | wc -l) processes checked in $((SECONDS - start)) s"
if ((status != 0 || found)); then
    echo "memcheck: FAILED (test status $status)" >&2
    exit 1
fi
echo "memcheck: no errors, no leaks"
exit 0
