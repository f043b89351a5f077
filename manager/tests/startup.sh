#!/usr/bin/env bash
# The program's start-up failures as a supervisor meets them: standard output
# and the exit status as they have always been, the reason on standard error
# with a hint where a site can put the cause right; read against
# startup.expected. Runs on the bed check.sh makes; $1 is the build directory.
set -u
cd "$(dirname "$0")" || exit 1
export PATH=${1:?usage: startup.sh BUILD_DIR}:$PATH # called by its bare name
sql() { psql -X -q -v ON_ERROR_STOP=1 -d kelvaron "$@" >/dev/null; }
sql -c 'CREATE ROLE outsider LOGIN' -c 'CREATE SCHEMA twice' \
    -c 'CREATE TABLE twice.parameters AS SELECT 35 gas_value, 80 gas_pressure FROM generate_series(1, 2)' || exit 1
trap "sql -c 'DROP TABLE twice.parameters' -c 'DROP SCHEMA twice' -c 'DROP ROLE outsider'; rm -f /tmp/param-config-startup.$$" EXIT
while read -r env; do
    echo "\$ $env param-config"
    eval "env $env timeout 15 param-config" 2>/tmp/param-config-startup.$$ | sed 's/^/stdout: /'
    echo "[exit ${PIPESTATUS[0]}]"
    sed 's/^/stderr: /' /tmp/param-config-startup.$$
done <<'ROWS' | sed -E "s|$PGHOST|PGHOST|g; s/(port |PGSQL\.)[0-9]+/\1N/g" | diff -u startup.expected -
DISPLAY=
PGHOST=/nonexistent,/nonexistent
PGUSER=nobody
PGSERVICE=nosuch
PGUSER=outsider
PGOPTIONS=-csearch_path=nowhere
PGOPTIONS=-csearch_path=twice
PGHOST=localhost PGSSLMODE=verify-full PGSSLROOTCERT=$TESTBED_TLS_WRONG_CA nsenter -t $TESTBED_PG_NETNS -n
ROWS
