#!/usr/bin/env bash
# Runs the test suite once under valgrind memcheck, on the same bed as make
# check, following every process of the program: the forked test children
# and the binary the tests exec. Fails on any invalid access, any use of an
# uninitialised value and any block definitely or indirectly lost; blocks
# still reachable at exit (widgets, the connection, toolkit caches) are the
# program's lifetime state. valgrind.supp lists the toolkit's own reports.
set -u
cd "$(dirname "$0")/../.." || exit 1
logs=$(mktemp -d /tmp/param-config-memcheck.XXXXXX) || exit 1
trap 'rm -rf -- "$logs"' EXIT

# What the tests exec besides the program (shells, psql) runs natively.
# The handler table leaves out its row for a graph.def that cannot be created:
# valgrind creates the file before it refuses its descriptor over the lowered
# limit, which the row would count as the program's doing.
skip='*/sh,*/bash,*/psql'
start=$SECONDS
TESTBED_VALGRIND=1 bash manager/tests/check.sh --run valgrind --trace-children=yes --trace-children-skip="$skip" \
    --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --num-callers=30 \
    --suppressions="$PWD/manager/tests/valgrind.supp" --log-file="$logs/%p.log" \
    build/param_config_tests --gtest_brief=1
status=$?

# A log without a summary is a fork that went on to exec a skipped program:
# clean if nothing follows the header.
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
echo "memcheck: the launcher under a refused pidfd_getfd or pidfd_open is left out: valgrind cannot run a seccomp filter"
if ((status != 0 || found)); then
    echo "memcheck: FAILED (test status $status)" >&2
    exit 1
fi
echo "memcheck: no errors, no leaks"
