#!/usr/bin/env bash
# db/upgrade.sql on a site database made before the guards, whose rows break
# them: it names the offending rows, fails, and changes nothing.
set -u
db=old_site_$$
createdb -T template0 -E SQL_ASCII "$db" || exit 1
trap 'dropdb "$db"' EXIT
psql=(psql -X -q -v ON_ERROR_STOP=1 -d "$db")
"${psql[@]}" -f - <<'SQL' || exit 1
CREATE TABLE parameters (gas_value int, gas_pressure int, target_press_unit char(1), vac_press_unit char(1),
    activity_unit char(1), flow_unit char(1), tracer_print char(1), tracer_save_days int, error_save_days int,
    net_save_days int, oper_save_days int, password char(8));
CREATE TABLE operator_list (operator char(5), password char(8));
INSERT INTO operator_list VALUES ('anna', 'a'), ('anna ', 'b'), ('bert', 'c');
INSERT INTO parameters (gas_value, net_save_days) VALUES (35, 31), (NULL, 63);
SQL
before=$(pg_dump --no-owner "$db" | grep -v '^\\')
out=$("${psql[@]}" -f db/upgrade.sql 2>&1) && { echo "upgrade.sql accepted rows that break the guards"; exit 1; }
status=0
for expected in "operator 'anna' is held by 2 rows" "parameters: 2 rows" "gas_value = NULL" "net_save_days = '63'"; do
    [[ $out == *"$expected"* ]] || { echo "upgrade.sql did not name: $expected"; status=1; }
done
[[ $(pg_dump --no-owner "$db" | grep -v '^\\') == "$before" ]] || { echo "upgrade.sql changed the database"; status=1; }
((status == 0)) || echo "$out"
exit "$status"
