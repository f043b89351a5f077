#!/usr/bin/env bash
# db/upgrade.sql on a site database made before the guards, whose rows break
# them: it names the offending rows, fails, and changes nothing. Once those
# rows are put right it gives the database exactly the guards of db/schema.sql.
set -u
db=old_site_$$ new=new_site_$$
createdb -T template0 -E SQL_ASCII "$db" && createdb -T template0 -E SQL_ASCII "$new" || exit 1
trap 'dropdb "$db"; dropdb "$new"' EXIT
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

"${psql[@]}" -c "DELETE FROM operator_list WHERE operator = 'anna '" -c 'DELETE FROM parameters WHERE gas_value IS NULL' -c 'UPDATE parameters SET gas_pressure = 80' \
    -f db/upgrade.sql >/dev/null && psql -X -q -v ON_ERROR_STOP=1 -d "$new" -f db/schema.sql || exit 1
diff <(pg_dump -s --no-owner "$db" | grep -v "^\\\\") <(pg_dump -s --no-owner "$new" | grep -v "^\\\\") ||
    { echo "upgrade.sql left other guards than schema.sql makes"; status=1; }
exit "$status"
