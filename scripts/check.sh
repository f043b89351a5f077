#!/usr/bin/env bash
# Runs the test suite against real parts: Xvfb with twm, a PostgreSQL cluster
# made for this run (tables only; each test loads its own rows) and an empty
# /home/Kelvaron/graph; then the tests of the handlers that write to the
# tables again with the audit trail installed. Fails if either run fails.
set -u
cd "$(dirname "$0")/.." || exit 1
source scripts/testbed.sh

testbed_stop_on_exit

if [[ ! -f build/CTestTestfile.cmake ]]; then
    echo "check: build/ is not configured; run make check" >&2
    exit 1
fi

testbed_start_suite_bed || exit 1
echo "check: X on $DISPLAY, database kelvaron at $PGHOST, scratch $TESTBED_GRAPH_DIR"

# One at a time: the tests share the X server, the database and the graph
# directory. A run that finds no tests is a failure, not a pass.
unset CTEST_PARALLEL_LEVEL
ctest --test-dir build --output-on-failure --no-tests=error -j1
status=$?

# Again with the audit trail of db/audit.sql installed: the program's
# statements and messages must be the same with it. Only the tests of the
# handlers that write to the tables run twice, less the one about key and
# pointer handling, to keep the second run short.
echo "check: again with the audit trail installed"
"$TESTBED_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -d kelvaron -f db/audit.sql >/dev/null || exit 1
ctest --test-dir build --output-on-failure --no-tests=error -j1 \
    -R '^(Units|Operators)\.|^GasDialog\.Save' \
    -E '^Operators\.EntriesActOnThePress' || status=1
exit "$status"
