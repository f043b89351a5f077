#!/usr/bin/env bash
# Runs the tests against real parts: Xvfb with twm, and a PostgreSQL cluster
# made for the run that logs every statement with the client's application
# name, holding the tables, the tool's role with a member login "clerk", the
# audit trail and the tests' own read-back (bed.sql). Arguments go to ctest
# (-L pure, -R NAME, ...); with --run COMMAND..., the command runs on the bed
# instead of ctest.
set -u
cd "$(dirname "$0")/../.." || exit 1

# The program's graph directory is fixed: the run gets a private one, in a
# mount namespace of its own, and a site's real files are never touched.
if [[ -z ${PARAM_CONFIG_PRIVATE_NS:-} ]]; then
    PARAM_CONFIG_PRIVATE_NS=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
mount -t tmpfs -o mode=755 param-config-home /home && mkdir -p /home/Kelvaron/graph || exit 1

source scripts/testbed.sh
testbed_stop_on_exit
[[ -f build/CTestTestfile.cmake ]] || { echo "check: build/ is not configured; run make check" >&2; exit 1; }

TESTBED_PG_OPTIONS="-c log_statement=all -c log_line_prefix='%a|'"
testbed_start_x 1280x1024 && testbed_start_wm &&
    testbed_start_db "$(mktemp -d /tmp/param-config-db.XXXXXX)" || exit 1
"$TESTBED_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -d kelvaron -f db/role.sql -f db/audit.sql \
    -f manager/tests/bed.sql \
    -c 'CREATE ROLE clerk LOGIN IN ROLE param_config' >/dev/null || exit 1
export TESTBED_PG_LOG=$TESTBED_DB_DIR/log TESTBED_SUPERUSER=$(id -un)

# A site's server: a primary on 127.0.0.1 that takes only TLS with a password,
# its certificate from an authority made here, and a synchronous standby.
tls=$(mktemp -d /tmp/param-config-tls.XXXXXX) || exit 1
tls_stop() {
    local d
    for d in "$tls"/p "$tls"/s; do
        [[ -f $d/postmaster.pid ]] && runuser -u postgres -- "$TESTBED_PG_BIN/pg_ctl" -D "$d" -m immediate -w stop
    done >/dev/null 2>&1
    rm -rf -- "$tls"
}
testbed__push tls_stop
as_pg() { (cd "$tls" && runuser -u postgres -- "$TESTBED_PG_BIN/$@"); }
# psql runs as root, who can read the SQL files wherever the clone is.
on_primary() { "$TESTBED_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$tls" -p "$p1" -U postgres "$@"; }
key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=$1" "${@:2}" 2>/dev/null; }
start_site() {
    key test-ca -x509 -keyout "$tls/test-ca.key" -out "$tls/test-ca.crt" &&
        key wrong-ca -x509 -keyout "$tls/wrong-ca.key" -out "$tls/wrong-ca.crt" &&
        key localhost -keyout "$tls/server.key" | openssl x509 -req -CA "$tls/test-ca.crt" -CAkey "$tls/test-ca.key" \
            -days 2 -extfile <(echo subjectAltName=DNS:localhost,IP:127.0.0.1) -out "$tls/server.crt" 2>/dev/null &&
        chown -R postgres: "$tls" || return 1
    as_pg initdb -D "$tls/p" --no-sync -E SQL_ASCII --locale=C -U postgres -A trust >/dev/null || return 1
    printf '%s\n' 'local all all trust' 'local replication all trust' \
        'hostssl all all 127.0.0.1/32 scram-sha-256' >"$tls/p/pg_hba.conf"
    as_pg pg_ctl -D "$tls/p" -l "$tls/p.log" -w -o "-p $p1 $server" start >/dev/null &&
        on_primary -c 'CREATE DATABASE kelvaron' &&
        on_primary -d kelvaron -f db/schema.sql -f db/role.sql \
            -c "CREATE ROLE supervisor LOGIN PASSWORD 'choose-one' IN ROLE param_config" \
            -c "INSERT INTO parameters VALUES (35, 80, '1', '1', '1', '1', '1', 365, 90, 31, 180, 'old')" &&
        as_pg pg_basebackup -D "$tls/s" -h "$tls" -p "$p1" -U postgres -X stream -R --no-sync -c fast &&
        as_pg pg_ctl -D "$tls/s" -l "$tls/s.log" -w -o "-p $p2 $server -c cluster_name=standby" start &&
        on_primary -c "ALTER SYSTEM SET synchronous_standby_names = 'standby'" -c 'SELECT pg_reload_conf()' ||
        return 1
    testbed__wait_for 20 '[[ $(on_primary -At -c "TABLE pg_stat_replication" | grep -c "|sync|") == 1 ]]'
}
p1=$((20000 + RANDOM % 20000)) p2=$((40000 + RANDOM % 20000))
server="-c listen_addresses=127.0.0.1 -k $tls -c fsync=off -c ssl=on -c ssl_cert_file=$tls/server.crt \
    -c ssl_key_file=$tls/server.key"
start_site >/dev/null || { echo "check: the TLS primary and its standby did not come up" >&2; cat "$tls"/*.log >&2; exit 1; }
export TESTBED_TLS_PORTS=$p2,$p1 TESTBED_TLS_CA=$tls/test-ca.crt TESTBED_TLS_WRONG_CA=$tls/wrong-ca.crt
export TESTBED_FAILOVER="cd $tls && runuser -u postgres -- $TESTBED_PG_BIN/pg_ctl -D $tls/p -m fast -w stop >/dev/null &&
    runuser -u postgres -- $TESTBED_PG_BIN/pg_ctl -D $tls/s -w promote >/dev/null"

# A server whose host can vanish: a cluster on 127.0.0.1 in a network
# namespace held by a process of this script's; a test joins it and takes its
# loopback down, which drops every packet while connections stay open.
net=$(mktemp -d /tmp/param-config-net.XXXXXX) && chown postgres: "$net" || exit 1
unshare --net sleep infinity &
net_pid=$!
net_stop() {
    [[ -f $net/data/postmaster.pid ]] &&
        (cd "$net" && runuser -u postgres -- "$TESTBED_PG_BIN/pg_ctl" -D "$net/data" -m immediate -w stop) >/dev/null 2>&1
    testbed__kill_pid "$net_pid"
    rm -rf -- "$net"
}
testbed__push net_stop
on_net() { "$TESTBED_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$net" -U postgres "$@"; }
start_net() {
    testbed__wait_for 5 '[[ $(readlink /proc/$net_pid/ns/net) != $(readlink /proc/$$/ns/net) ]]' &&
        nsenter -t "$net_pid" -n ip link set lo up &&
        (cd "$net" && runuser -u postgres -- "$TESTBED_PG_BIN/initdb" -D "$net/data" --no-sync -E SQL_ASCII \
            --locale=C -U postgres -A trust >/dev/null) &&
        (cd "$net" && nsenter -t "$net_pid" -n runuser -u postgres -- "$TESTBED_PG_BIN/pg_ctl" -D "$net/data" \
            -l "$net/log" -w -o "-c listen_addresses=127.0.0.1 -k $net -c fsync=off" start >/dev/null) &&
        on_net -c 'CREATE DATABASE kelvaron' &&
        on_net -d kelvaron -f db/schema.sql -f db/role.sql -c 'CREATE ROLE clerk LOGIN IN ROLE param_config' \
            -c "INSERT INTO parameters VALUES (35, 80, '1', '1', '1', '1', '1', 365, 90, 31, 180, 'old')"
}
start_net || { echo "check: the cluster in a network of its own did not come up" >&2; cat "$net"/log >&2; exit 1; }
export TESTBED_NET_PID=$net_pid

# The consoles' service file, its waits shortened to keep the run fast.
sed -E 's/(lock_timeout)=[^ ]+/\1=200ms/; s/(statement_timeout)=[^ ]+/\1=1s/; s/^(tcp_user_timeout)=.*/\1=1000/;
    s/^(keepalives_[a-z]+)=.*/\1=1/' db/pg_service.conf >"$net/pg_service.conf" || exit 1
export PGSERVICEFILE=$net/pg_service.conf
echo "check: X on $DISPLAY, database kelvaron at $PGHOST, TLS primary and standby on ports $p1 and $p2"

if [[ ${1:-} == --run ]]; then
    shift
    "$@"
    exit
fi
# A run that finds no tests is a failure, not a pass.
unset CTEST_PARALLEL_LEVEL
ctest --test-dir build --output-on-failure --no-tests=error "$@"
