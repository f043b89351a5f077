-- Adds the guards of db/schema.sql, under the same names, to a kelvaron
-- database whose tables were made before them: a unique operator name, at
-- most one parameters row, NOT NULL gas values, and the range and code checks.
-- param-config-admin setup loads it where a guard is missing. By hand, as the
-- owner of the tables (the audit trail and the role need nothing more):
--     psql -1 -v ON_ERROR_STOP=1 -d kelvaron -f db/upgrade.sql
--
-- One transaction (-1): afterwards every guard is in place, or nothing changed.
-- Where the stored rows already break a guard it stops before changing
-- anything and names them: operators by name, parameters rows by ctid, e.g.
--     SELECT ctid, * FROM parameters;
--     DELETE FROM parameters WHERE ctid = '(0,2)';
-- It never deletes or rewrites a row itself; put them right and run it again.
-- Idempotent: on a database that has the guards it leaves the same guards.

SET client_min_messages = warning;

-- The consoles wait while the rows are checked and the guards added, so no
-- write can slip in between the two. Taken up front in the mode the ALTERs
-- need, so that no lock has to be upgraded half way.
LOCK TABLE parameters, operator_list IN ACCESS EXCLUSIVE MODE;

DO $$
DECLARE
    guard record;
    found text;
    problems text := '';
BEGIN
    -- Trailing blanks do not count (char(5)): 'ann' and 'ann ' are one name,
    -- as they are to the tool's count before an insert.
    SELECT string_agg(format(E'\n  operator_list: operator %L is held by %s rows', name, n), '' ORDER BY name)
        INTO found
        FROM (SELECT rtrim(operator) AS name, count(*) AS n FROM operator_list
              WHERE operator IS NOT NULL GROUP BY operator HAVING count(*) > 1) AS dup;
    problems := problems || coalesce(found, '');

    SELECT format(E'\n  parameters: %s rows, at most one is allowed: ctid %s',
                  count(*), string_agg(ctid::text, ', ' ORDER BY ctid))
        INTO found FROM parameters HAVING count(*) > 1;
    problems := problems || coalesce(found, '');

    FOR guard IN
        SELECT * FROM (VALUES
            ('gas_value', 'gas_value IS NOT NULL'),
            ('gas_pressure', 'gas_pressure IS NOT NULL'),
            ('gas_value', 'gas_value BETWEEN 10 AND 50'),
            ('gas_pressure', 'gas_pressure BETWEEN 10 AND 100'),
            ('target_press_unit', 'target_press_unit IN (''1'', ''2'', ''3'')'),
            ('vac_press_unit', 'vac_press_unit IN (''1'', ''2'', ''3'')'),
            ('activity_unit', 'activity_unit IN (''1'', ''2'')'),
            ('flow_unit', 'flow_unit IN (''1'', ''2'')'),
            ('tracer_print', 'tracer_print IN (''0'', ''1'')'),
            ('tracer_save_days', 'tracer_save_days BETWEEN 1 AND 1000'),
            ('error_save_days', 'error_save_days BETWEEN 1 AND 1000'),
            ('net_save_days', 'net_save_days BETWEEN 1 AND 62'),
            ('oper_save_days', 'oper_save_days BETWEEN 1 AND 1000')
        ) AS g(col, expr)
    LOOP
        -- NOT (expr) is NULL, not true, for a NULL value: as in a CHECK, a
        -- NULL passes every guard but NOT NULL.
        EXECUTE format($q$SELECT string_agg(format(E'\n  parameters row ctid %%s: %%s = %%s, must be %%s',
                                                   ctid, %L, coalesce(quote_literal(%I), 'NULL'), %L), ''
                                            ORDER BY ctid)
                          FROM parameters WHERE NOT (%s)$q$,
                       guard.col, guard.col, guard.expr, guard.expr)
            INTO found;
        problems := problems || coalesce(found, '');
    END LOOP;

    IF problems <> '' THEN
        RAISE EXCEPTION 'upgrade refused, nothing was changed; these rows break the new guards:%', problems;
    END IF;
END
$$;

ALTER TABLE parameters
    ALTER COLUMN gas_value SET NOT NULL,
    ALTER COLUMN gas_pressure SET NOT NULL,
    DROP CONSTRAINT IF EXISTS parameters_gas_value_range,
    ADD CONSTRAINT parameters_gas_value_range CHECK (gas_value BETWEEN 10 AND 50),
    DROP CONSTRAINT IF EXISTS parameters_gas_pressure_range,
    ADD CONSTRAINT parameters_gas_pressure_range CHECK (gas_pressure BETWEEN 10 AND 100),
    DROP CONSTRAINT IF EXISTS parameters_target_press_unit_code,
    ADD CONSTRAINT parameters_target_press_unit_code CHECK (target_press_unit IN ('1', '2', '3')),
    DROP CONSTRAINT IF EXISTS parameters_vac_press_unit_code,
    ADD CONSTRAINT parameters_vac_press_unit_code CHECK (vac_press_unit IN ('1', '2', '3')),
    DROP CONSTRAINT IF EXISTS parameters_activity_unit_code,
    ADD CONSTRAINT parameters_activity_unit_code CHECK (activity_unit IN ('1', '2')),
    DROP CONSTRAINT IF EXISTS parameters_flow_unit_code,
    ADD CONSTRAINT parameters_flow_unit_code CHECK (flow_unit IN ('1', '2')),
    DROP CONSTRAINT IF EXISTS parameters_tracer_print_code,
    ADD CONSTRAINT parameters_tracer_print_code CHECK (tracer_print IN ('0', '1')),
    DROP CONSTRAINT IF EXISTS parameters_tracer_save_days_range,
    ADD CONSTRAINT parameters_tracer_save_days_range CHECK (tracer_save_days BETWEEN 1 AND 1000),
    DROP CONSTRAINT IF EXISTS parameters_error_save_days_range,
    ADD CONSTRAINT parameters_error_save_days_range CHECK (error_save_days BETWEEN 1 AND 1000),
    DROP CONSTRAINT IF EXISTS parameters_net_save_days_range,
    ADD CONSTRAINT parameters_net_save_days_range CHECK (net_save_days BETWEEN 1 AND 62),
    DROP CONSTRAINT IF EXISTS parameters_oper_save_days_range,
    ADD CONSTRAINT parameters_oper_save_days_range CHECK (oper_save_days BETWEEN 1 AND 1000);

CREATE UNIQUE INDEX IF NOT EXISTS parameters_one_row ON parameters ((true));

ALTER TABLE operator_list
    DROP CONSTRAINT IF EXISTS operator_list_operator_key,
    ADD CONSTRAINT operator_list_operator_key UNIQUE (operator);

