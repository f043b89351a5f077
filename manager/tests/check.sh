#!/usr/bin/env bash
# Runs the tests against real parts: Xvfb with twm, and a PostgreSQL cluster
# made for the run that logs every statement with the client's application
# name, its kelvaron set up by param-config-admin (tables, the tool's role,
# the audit trail, the row) with a member login "clerk" and the tests' own
# read-back (bed.sql), and taking TLS too.
# Arguments go to ctest (-L pure, -R NAME, ...); with --run COMMAND..., the
# command runs on the bed instead of ctest.
set -u
cd "$(dirname "$0")/../.." || exit 1

# The program's graph directory is fixed: the run gets a private one, in a
# mount namespace of its own, and a site's real files are never touched.
if [[ -z ${PARAM_CONFIG_PRIVATE_NS:-} ]]; then
    PARAM_CONFIG_PRIVATE_NS=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
mount -t tmpfs -o mode=755 param-config-home /home && mkdir -p /home/Kelvaron/graph || exit 1
# Nothing listens on /dev/log here: the run gets a /dev of its own, the real
# one beneath a layer that takes new names, where a test binds the system
# log's socket and reads back what the launcher logs. The host's /dev gains nothing.
dev=/home/.dev
mkdir -p $dev/real $dev/up $dev/work && mount --rbind /dev $dev/real &&
    mount -t overlay param-config-dev -o lowerdir=$dev/real,upperdir=$dev/up,workdir=$dev/work /dev || exit 1
for m in $dev/real/*/; do mountpoint -q "$m" && { mount --rbind "$m" "/dev/$(basename "$m")" || exit 1; }; done

source scripts/testbed.sh
testbed_stop_on_exit
[[ -f build/CTestTestfile.cmake ]] || { echo "check: build/ is not configured; run make check" >&2; exit 1; }

# The site's server is checked by its certificate: the cluster also takes TLS
# on 127.0.0.1, its certificate from an authority made here; a second
# authority signed nothing.
tls=$(mktemp -d /tmp/param-config-tls.XXXXXX) || exit 1
testbed__push "rm -rf -- $tls"
key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=$1" "${@:2}" 2>/dev/null; }
{ key test-ca -x509 -keyout "$tls/test-ca.key" -out "$tls/test-ca.crt" &&
    key wrong-ca -x509 -keyout "$tls/wrong-ca.key" -out "$tls/wrong-ca.crt" &&
    key localhost -keyout "$tls/server.key" | openssl x509 -req -CA "$tls/test-ca.crt" -CAkey "$tls/test-ca.key" \
        -days 2 -extfile <(echo subjectAltName=DNS:localhost,IP:127.0.0.1) -out "$tls/server.crt" 2>/dev/null &&
    chown -R postgres: "$tls"; } || { echo "check: no certificates" >&2; exit 1; }
export TESTBED_PG_PORT=$((20000 + RANDOM % 40000)) TESTBED_TLS_WRONG_CA=$tls/wrong-ca.crt
TESTBED_PG_OPTIONS="-c log_statement=all -c log_line_prefix='%a|' -c listen_addresses=127.0.0.1 -c ssl=on \
    -c ssl_cert_file=$tls/server.crt -c ssl_key_file=$tls/server.key"

# Its host can vanish: 127.0.0.1 is the loopback of a network namespace held
# by a process of this script's. A test joins it and takes the loopback down,
# which drops every packet while connections stay open; local sockets go on.
unshare --net sleep infinity &
testbed_track_pid $!
export TESTBED_PG_NETNS=$!
testbed__wait_for 5 '[[ $(readlink /proc/$TESTBED_PG_NETNS/ns/net) != $(readlink /proc/$$/ns/net) ]]' &&
    nsenter -t "$TESTBED_PG_NETNS" -n ip link set lo up || { echo "check: no network namespace" >&2; exit 1; }

testbed_start_x 1280x1024 && testbed_start_wm &&
    testbed_start_db "$(mktemp -d /tmp/param-config-db.XXXXXX)" || exit 1
"$TESTBED_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -d kelvaron -f manager/tests/bed.sql \
    -c 'CREATE ROLE clerk LOGIN IN ROLE param_config' >/dev/null || exit 1
# The cluster's directory and binaries, for tests that restart it.
export TESTBED_PG_LOG=$TESTBED_DB_DIR/log TESTBED_SUPERUSER=$(id -un) TESTBED_DB_DIR TESTBED_PG_BIN

# The consoles' service file, its waits shortened to keep the run fast.
sed -E 's/(lock_timeout)=[^ ]+/\1=200ms/; s/(statement_timeout)=[^ ]+/\1=1s/; s/^(tcp_user_timeout)=.*/\1=1000/;
    s/^(keepalives_[a-z]+)=.*/\1=1/' db/pg_service.conf >"$tls/pg_service.conf" || exit 1
export PGSERVICEFILE=$tls/pg_service.conf
echo "check: X on $DISPLAY, database kelvaron at $PGHOST and over TLS on 127.0.0.1:$PGPORT"

if [[ ${1:-} == --run ]]; then
    shift
    "$@"
    exit
fi
# A run that finds no tests is a failure, not a pass. Two at a time: the
# tests on the bed take turns (they hold its lock), the administration
# command's test runs beside them on a cluster of its own.
unset CTEST_PARALLEL_LEVEL
ctest --test-dir build --parallel 2 --output-on-failure --no-tests=error "$@"
