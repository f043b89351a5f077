#!/usr/bin/env bash
# Measures param-config beside floors measured in the same run and prints
# one table (manager/bench/bench.cpp says what each row is). Runs on a
# private Xvfb without a window manager, so that the main window maps
# straight onto the root where the bench sees it, a private cluster and the
# scratch graph directory. Takes about two minutes.
set -u
cd "$(dirname "$0")/.." || exit 1
source scripts/testbed.sh

testbed_stop_on_exit

bench=build/param_config_bench
if [[ ! -x $bench ]]; then
    echo "bench: $bench is missing; run make bench" >&2
    exit 1
fi

testbed_start_x 1280x1024 || exit 1
testbed_start_db "$(mktemp -d /tmp/param-config-db.XXXXXX)" || exit 1
testbed_graph_scratch || exit 1
"$bench"
