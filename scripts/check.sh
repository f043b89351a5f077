#!/usr/bin/env bash
# Runs the test suite against real parts: Xvfb with twm, a PostgreSQL cluster
# made for this run (tables only; each test loads its own rows) and an empty
# /home/Kelvaron/graph. Exits with ctest's status.
set -u
cd "$(dirname "$0")/.." || exit 1
source scripts/testbed.sh

trap testbed_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

if [[ ! -f build/CTestTestfile.cmake ]]; then
    echo "check: build/ is not configured; run make check" >&2
    exit 1
fi

testbed_start_x 1280x1024 || exit 1
testbed_start_wm || exit 1
testbed_start_db "$(mktemp -d /tmp/param-config-db.XXXXXX)" || exit 1
testbed_graph_scratch || exit 1
echo "check: X on $DISPLAY, database kelvaron at $PGHOST, scratch $TESTBED_GRAPH_DIR"

# One at a time: the tests share the X server, the database and the graph
# directory. A run that finds no tests is a failure, not a pass.
unset CTEST_PARALLEL_LEVEL
ctest --test-dir build --output-on-failure --no-tests=error -j1
exit $?
