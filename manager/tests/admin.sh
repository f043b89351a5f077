#!/usr/bin/env bash
# param-config-admin on a cluster of its own (the bed's kelvaron stays as it
# is), logging every statement, TLS on, listening on the loopback of a network
# namespace of its own, alice's login checked by her password: what each step
# prints, read against admin.expected.
set -u
[[ -n ${ADMIN_NS:-} ]] || ADMIN_NS=1 exec unshare --net --mount bash "$0" "$@"
ip link set lo up || exit 1
cd "$(dirname "$0")/../.." || exit 1
admin=$PWD/admin/param-config-admin
bin=${TESTBED_PG_BIN:-/usr/lib/postgresql/15/bin}
dir=$(mktemp -d /tmp/param-config-admin.XXXXXX) && chown postgres: "$dir" || exit 1
export PGHOST=$dir PGPORT=5432 PGSYSCONFDIR=$dir/etc
unset PGUSER PGSERVICE PGSERVICEFILE PGDATABASE
pg() { (cd "$dir" && runuser -u postgres -- "$bin/$1" "${@:2}"); }
trap 'pg pg_ctl -D "$dir/data" -m immediate -w stop >/dev/null 2>&1; rm -rf -- "$dir"' EXIT
pg initdb -D "$dir/data" -A trust --no-sync -E SQL_ASCII --locale=C >/dev/null &&
    printf 'local all alice scram-sha-256\nlocal all all trust\n' >"$dir/data/pg_hba.conf" &&
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=localhost \
        -keyout "$dir/data/k" -out "$dir/data/c" 2>/dev/null && chown postgres: "$dir/data/"[kc] &&
    printf "ssl = on\nssl_cert_file = c\nssl_key_file = k\nlisten_addresses = '127.0.0.1'\n" >>"$dir/data/postgresql.conf" &&
    pg pg_ctl -D "$dir/data" -l "$dir/log" -w -o "-k $dir -c fsync=off -c log_statement=all" start >/dev/null &&
    pg psql -X -q -d postgres -c "CREATE ROLE $(id -un) SUPERUSER LOGIN" || exit 1
sql() { psql -X -q -A -t -v ON_ERROR_STOP=1 -d "${DB:-kelvaron}" "$@"; }
# Dumps without pg_dump's per-run \restrict key.
dump() { "$@" | grep -v '^\\'; }
# A step: its command line, what it printed, and its exit status.
run() { echo "\$ ${*/#$admin/param-config-admin}"; "$@" 2>&1; echo "[exit $?]"; }
since() { tail -c +"$(($1 + 1))" "$dir/log" | grep -E "$2"; }

{
before=$(dump pg_dumpall -s)
run "$admin" setup --dry-run | grep -E '^(\$ |CREATE DATABASE|BEGIN;|COMMIT;|\[exit)'
"$admin" setup --dry-run --no-audit | grep -c 'EXISTS audit.trail ('
[[ $(dump pg_dumpall -s) == "$before" ]] || echo "dry run changed the cluster"
run "$admin" setup
sql -c 'TABLE parameters'
echo 'sEcret-7' | run "$admin" add-login alice
printf 'no-line-end' | run "$admin" add-login carol
(sleep 0.3; echo one; sleep 0.2; echo two) | run script -qec "$admin add-login bob" /dev/null | tr -d '\r'
PGUSER=alice PGPASSWORD=sEcret-7 sql -c 'UPDATE parameters SET oper_save_days = 99' \
    -c "INSERT INTO operator_list VALUES ('op1', 'x')" -c 'SELECT gas_value, oper_save_days FROM parameters' \
    -c 'DELETE FROM parameters' 2>&1
grep -c 'sEcret-7' "$dir/log"; since 0 'SCRAM-SHA-256\$4096:' | wc -l
mark=$(stat -c %s "$dir/log")
run "$admin" setup
since "$mark" 'statement: (CREATE|ALTER|GRANT|REVOKE|INSERT|UPDATE|DELETE|DROP)'; since "$mark" 'statement:' | wc -l
run "$admin" check | grep -E '^(\$ |FAIL|\[exit)'
run "$admin" check | grep -c '^ok'

# Each fault check names, then setup puts right what it may (the audit
# trail before the role, in the row that drops the role), then the rest.
while IFS='|' read -r fault mend; do
    echo "--- $fault"
    sql -c "$fault" && { run "$admin" check; "$admin" logins; } | grep -E '^(FAIL|\[exit|.*\(more)'
    run "$admin" setup
    [[ -z $mend ]] || sql -c "$mend"
done <<'ROWS'
DELETE FROM parameters
ALTER TABLE parameters DROP CONSTRAINT parameters_flow_unit_code
GRANT SELECT ON parameters TO PUBLIC
GRANT DELETE ON parameters TO param_config
DROP TRIGGER audit_row ON operator_list
ALTER TABLE parameters DISABLE TRIGGER audit_row
DROP TABLE audit.head
DROP OWNED BY param_config; DROP ROLE param_config|GRANT param_config TO alice
ALTER ROLE alice CREATEROLE SUPERUSER; GRANT SELECT ON audit.trail TO alice; GRANT param_config TO alice WITH ADMIN OPTION|REVOKE ALL ON audit.trail FROM alice; ALTER ROLE alice NOCREATEROLE NOSUPERUSER; REVOKE ADMIN OPTION FOR param_config FROM alice
ROWS
run "$admin" check | tail -n 1
# The server's side: rules that let members in over TCP without TLS or may
# (a pattern), and a standby that streams without being synchronous.
printf 'host kelvaron +param_config 127.0.0.1/32 trust\nhostnogssenc all alice ::1/128 trust\nhost all /^al samenet trust\n' >>"$dir/data/pg_hba.conf" &&
    printf 'local replication all trust\n' >>"$dir/data/pg_hba.conf" && pg pg_ctl -D "$dir/data" reload >/dev/null
mkdir "$dir/wal"
pg_receivewal -D "$dir/wal" -n >/dev/null 2>&1 &
standbys() { for _ in {1..50}; do [[ $(sql -c 'SELECT count(*) FROM pg_stat_replication') == "$1" ]] && break; sleep 0.1; done; }
standbys 1
run "$admin" check | grep -E '^(FAIL|not|\[exit)'
kill $! && wait $!
standbys 0
# A reject above them for every IPv4 address keeps TLS the only way in there.
sed -i '1i hostnossl all +param_config 0.0.0.0/0 reject' "$dir/data/pg_hba.conf" && pg pg_ctl -D "$dir/data" reload >/dev/null
run "$admin" check | grep -E '^(FAIL|not|\[exit)'
PGUSER=alice PGPASSWORD=sEcret-7 run "$admin" setup
run "$admin" logins
run "$admin" remove-login "$(id -un)"
sql -c 'GRANT param_config TO carol' -c 'ALTER ROLE carol CREATEDB' && run "$admin" remove-login carol && sql -c 'ALTER ROLE carol NOCREATEDB'
run "$admin" remove-login alice

# The audit trail: what it held before, as a reviewer reads it; two
# sessions adding operators at once leave one chain; a change of each kind
# (no password in any output); a review signed off with the report's
# fingerprint, the change after it marked; the review period passed; what a
# member of the role may do; the guard against a row added by the owner; a
# hash that covers every column; each tampering named at its row, then put
# back.
{
run "$admin" audit --until "$(sql -c 'SELECT now()')"
sql -c 'SET client_min_messages = warning' -c 'GRANT param_config TO carol' # a member already, unless remove-login took her
for s in a b; do
    for i in {1..30}; do echo "INSERT INTO operator_list VALUES ('$s$i', 'Pw#$s$i');"; done | PGUSER=carol sql &
done
wait
mark=$(sql -c 'SELECT now()')
PGUSER=carol sql -c "UPDATE parameters SET flow_unit = '2', tracer_print = '1', gas_pressure = 55, password = 'Zq9#Wv'" \
    -c "DELETE FROM operator_list WHERE operator = 'b7'"
sql -c "UPDATE operator_list SET password = 'Qx7!' WHERE operator = 'a1'" -c "UPDATE operator_list SET operator = 'ann' WHERE operator = 'a2'" \
    -c 'TRUNCATE operator_list'
run "$admin" audit --since "$mark"
review=$(run "$admin" audit --reviewed-by 'Ann "Q", QA')
tail -n 4 <<<"$review"; grep -oE '[0-9a-f]{64}' <<<"$review" | tail -n 2 | uniq | wc -l
mark=$(sql -c 'SELECT now()')
PGUSER=carol sql -c "UPDATE parameters SET activity_unit = '2'"
run "$admin" audit --since "$mark"
"$admin" audit --csv >"$dir/csv"
python3 -c 'import csv, sys; r = list(csv.reader(open(sys.argv[1], newline="")))
print(len(r), {len(x) for x in r}, [x[7] for x in r if x[6] == "review"])' "$dir/csv"
"$admin" audit --until "$(sql -c 'SELECT current_date')" | tail -n 1 # a day: up to its end
run "$admin" audit --review-period '1 millisecond'
run "$admin" check | grep -E 'trail|review|exit'
run "$admin" audit --review-period soon; run "$admin" audit --review-period '-1 day'
run "$admin" audit --reviewed-by carol --since "$mark" | sed -n '1,2p;$p'
PGUSER=carol run "$admin" audit --since "$mark" | tail -n 5
PGUSER=carol run "$admin" audit --reviewed-by carol
PGUSER=carol run "$admin" audit --review-period '1 day'
PGUSER=carol sql -c "SELECT audit.append('parameters', 'UPDATE', NULL, NULL, NULL, NULL)" 2>&1
sql -c "INSERT INTO audit.trail (table_name, operation) VALUES ('parameters', 'UPDATE')" 2>&1
sql -c "SELECT 'columns the hash leaves out: ' || count(*) FROM audit.trail t, (VALUES ('id', '1'), ('changed_at', '2000-01-01'),
    ('transaction_id', '1'), ('db_user', 'x'), ('application', 'x'), ('client_addr', '10.0.0.1'), ('table_name', 'x'),
    ('operation', 'x'), ('row_key', 'x'), ('column_name', 'x'), ('old_value', 'x'), ('new_value', 'x')) AS v(c, x)
    WHERE t.id = 13 AND audit.link('', t) = audit.link('', jsonb_populate_record(t, jsonb_build_object(c, x)))"
while IFS='|' read -r tamper mend; do
    echo "--- $tamper"
    guard() { sql -c "ALTER TABLE audit.trail DISABLE TRIGGER append_only; $1; ALTER TABLE audit.trail ENABLE TRIGGER append_only"; }
    guard "$tamper" && run "$admin" check | grep -E 'audit trail (un)?broken|audit trail ends|exit'
    guard "$mend"
done <<'ROWS'
UPDATE audit.trail SET new_value = '9' WHERE id = 13; CREATE TABLE kept AS SELECT * FROM audit.trail ORDER BY id DESC LIMIT 1; DELETE FROM audit.trail WHERE id IN (SELECT id FROM kept)|UPDATE audit.trail SET new_value = '99' WHERE id = 13; INSERT INTO audit.trail OVERRIDING SYSTEM VALUE TABLE kept; DROP TABLE kept
CREATE TABLE kept AS SELECT * FROM audit.trail WHERE id = 14; DELETE FROM audit.trail WHERE id = 14|INSERT INTO audit.trail OVERRIDING SYSTEM VALUE TABLE kept; DROP TABLE kept
INSERT INTO audit.trail (table_name, operation, column_name, new_value) VALUES ('parameters', 'UPDATE', 'flow_unit', '1')|DELETE FROM audit.trail WHERE hash IS NULL
ROWS
} 2>&1 | tee "$dir/audit"
grep -c -e 'Zq9#Wv' -e 'Qx7!' -e 'Pw#' "$dir/audit" "$dir/csv"

# An older site: no guards, no row, no role rights, no audit trail, and rows
# that break the guards.
DB=postgres sql -c 'ALTER DATABASE kelvaron RENAME TO fresh' -c 'CREATE DATABASE kelvaron ENCODING UTF8 TEMPLATE template0'
run "$admin" check; run "$admin" setup
DB=postgres sql -c 'DROP DATABASE kelvaron' -c "CREATE DATABASE kelvaron ENCODING SQL_ASCII TEMPLATE template0"
sql -f - <<'SQL'
CREATE TABLE parameters (gas_value int, gas_pressure int, target_press_unit char(1), vac_press_unit char(1),
    activity_unit char(1), flow_unit char(1), tracer_print char(1), tracer_save_days int, error_save_days int,
    net_save_days int, oper_save_days int, password char(8));
CREATE TABLE operator_list (operator char(5), password char(8));
INSERT INTO operator_list VALUES ('anna', 'a'), ('anna ', 'b'), ('bert', 'c');
INSERT INTO parameters (gas_value, net_save_days, tracer_print) VALUES (35, 31, '7'), (NULL, 63, '1');
CREATE SCHEMA audit;
CREATE TABLE audit.trail (id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    changed_at timestamptz NOT NULL DEFAULT statement_timestamp(), transaction_id bigint NOT NULL DEFAULT txid_current(),
    db_user text NOT NULL DEFAULT session_user, application text DEFAULT current_setting('application_name'),
    client_addr inet DEFAULT inet_client_addr(), table_name text NOT NULL, operation text NOT NULL, row_key text,
    column_name text, old_value text, new_value text);
INSERT INTO audit.trail (table_name, operation, row_key, column_name, old_value, new_value) VALUES
    ('parameters', 'UPDATE', NULL, 'flow_unit', '1', '2'), ('operator_list', 'DELETE', 'cleo', 'operator', 'cleo', NULL);
SQL
before=$(dump pg_dump kelvaron)
run "$admin" setup
[[ $(dump pg_dump kelvaron) == "$before" ]] || echo "a refused setup changed the database"
sql -c "DELETE FROM operator_list WHERE operator = 'anna '" -c 'DELETE FROM parameters'
run "$admin" setup
diff <(dump pg_dump -s fresh) <(dump pg_dump -s kelvaron) && echo "upgraded schema as a fresh one"
run "$admin" audit | head -n 9
run "$admin" check | grep -E 'audit trail unbroken|exit'

# A console's service file: other sections and comments kept, rewritten
# only when something differs.
mkdir "$dir/etc" && printf '# site\n[other]\nhost=x\n\n[param-config]\nhost=old\n# b\n[last]\n' >"$dir/etc/pg_service.conf"
run "$admin" console db1,db2 --user alice --ca "$dir/data/c"
cp "$dir/etc/pg_service.conf" "$dir/first" && cat "$dir/first"
run "$admin" console db1,db2 --user alice --ca "$dir/data/c"
cmp "$dir/first" "$dir/etc/pg_service.conf"
run "$admin" console db1 --ca "$dir/nothing"
PGSYSCONFDIR=$dir/none run "$admin" console db1
mkdir "$dir/new" && PGSYSCONFDIR=$dir/new "$admin" console db1 >/dev/null && stat -c %a "$dir/new/pg_service.conf"
# Purging the console's package takes the section away, and only it.
printf '[more]\nhost=y\n' >>"$dir/etc/pg_service.conf"
PGSYSCONFDIR=$dir/etc sh debian/param-config.postrm purge && cat "$dir/etc/pg_service.conf"
PGSYSCONFDIR=$dir/new sh debian/param-config.postrm purge && ls -A "$dir/new" # a file that held nothing else goes

# Bad input.
run "$admin" add-login 1x
PGHOST=$dir/none run "$admin" setup
run "$admin" setup --force
sql -c 'CREATE ROLE maker LOGIN CREATEDB' && PGUSER=maker run "$admin" setup
PGUSER=nobody run "$admin" check

# TLS on a cluster whose pg_hba.conf is Debian's: the rules above its host
# lines, then a login over verified TLS only.
cat >"$dir/data/pg_hba.conf" <<'HBA'
local   all             postgres                                peer
local   all             all                                     peer
# IPv4 local connections:
host    all             all             127.0.0.1/32            scram-sha-256
host    replication     all             127.0.0.1/32            scram-sha-256
HBA
pg pg_ctl -D "$dir/data" reload >/dev/null
ca=$dir/ca
run "$admin" tls localhost --ca-dir "$ca"
cat "$dir/data/pg_hba.conf"
stat -c '%n %U %a' "$ca"/* "$dir/data/site-server.key"
run "$admin" check | grep -E '^(\$ |FAIL|not|\[exit)'
tcp() { PGUSER=carol PGPASSWORD=no-line-end psql -X -A -t -d "dbname=kelvaron host=$1 sslmode=$2 sslrootcert=$ca/site-ca.crt" \
    -c 'SELECT ssl, version FROM pg_stat_ssl WHERE pid = pg_backend_pid()' 2>&1; }
tcp localhost verify-full; tcp 127.0.0.1 disable
files() { cat "$dir"/data/{pg_hba,postgresql.auto}.conf "$dir"/data/site-server.* "$ca"/*; ls "$dir/data" "$ca"; }
before=$(files | md5sum)
run "$admin" tls localhost --ca-dir "$ca"
# A certificate with less than 60 days to run is issued again; a new address takes a restart.
cp "$dir/data/site-server.crt" "$dir/kept.crt" && openssl req -new -key "$dir/data/site-server.key" -subj /CN=localhost |
    openssl x509 -req -CA "$ca/site-ca.crt" -CAkey "$ca/site-ca.key" -days 59 -out "$dir/data/site-server.crt" \
        -extfile <(echo subjectAltName=DNS:localhost,IP:127.0.0.1) 2>/dev/null &&
    run "$admin" tls localhost,127.0.0.2 --network 192.0.2.0/24,::1 --ca-dir "$ca" --dry-run
cp "$dir/kept.crt" "$dir/data/site-server.crt"
# A newcomer's mistakes: each named, nothing changed.
PGHOST=$dir/none run "$admin" tls localhost
run "$admin" tls localhost,192.0.2.7 --ca-dir "$ca"
mkdir "$dir/own" && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 365 -subj /CN=own \
    -keyout /dev/null -out "$dir/own/site-ca.crt" 2>/dev/null && run "$admin" tls localhost --ca-dir "$dir/own"
mount --bind -o ro "$dir/data/pg_hba.conf" "$dir/data/pg_hba.conf" && mount -o remount,ro,bind "$dir/data/pg_hba.conf" &&
    run "$admin" tls localhost --network 192.0.2.0/24 --ca-dir "$ca"; umount "$dir/data/pg_hba.conf"
echo 'no_such_setting = 1' >>"$dir/data/postgresql.conf" && run "$admin" tls localhost,127.0.0.2 --network 192.0.2.0/24 --ca-dir "$ca"
sed -i '$d' "$dir/data/postgresql.conf"
[[ $(files | md5sum) == "$before" ]] || echo "the configuration changed"
} 2>&1 | sed -E "s|$dir|DIR|g; s/pg_hba.conf.[0-9-]{15}/pg_hba.conf.STAMP/;
    s/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}(\.[0-9]+)?([+-][0-9]{2})?/TIME/g; s/[0-9a-f]{64}/HASH/g; s/times in [^.]+/times in ZONE/" |
    diff -u manager/tests/admin.expected -
