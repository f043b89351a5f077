-- The state of a kelvaron database, read with SELECTs only, one row per
-- item: what would put it right (schema, upgrade, role, audit or row: the
-- piece param-config-admin setup loads; manual: nothing it may do), whether
-- it holds (t/f), and what it is. Run in kelvaron as its owner:
--     psql -X -A -t -d kelvaron -f db/state.sql
-- The guards are listed as the server prints those db/schema.sql makes.
WITH guard(tab, name, def) AS (VALUES
    ('parameters', 'parameters_gas_value_range', 'CHECK (((gas_value >= 10) AND (gas_value <= 50)))'),
    ('parameters', 'parameters_gas_pressure_range', 'CHECK (((gas_pressure >= 10) AND (gas_pressure <= 100)))'),
    ('parameters', 'parameters_target_press_unit_code',
     'CHECK ((target_press_unit = ANY (ARRAY[''1''::bpchar, ''2''::bpchar, ''3''::bpchar])))'),
    ('parameters', 'parameters_vac_press_unit_code',
     'CHECK ((vac_press_unit = ANY (ARRAY[''1''::bpchar, ''2''::bpchar, ''3''::bpchar])))'),
    ('parameters', 'parameters_activity_unit_code', 'CHECK ((activity_unit = ANY (ARRAY[''1''::bpchar, ''2''::bpchar])))'),
    ('parameters', 'parameters_flow_unit_code', 'CHECK ((flow_unit = ANY (ARRAY[''1''::bpchar, ''2''::bpchar])))'),
    ('parameters', 'parameters_tracer_print_code', 'CHECK ((tracer_print = ANY (ARRAY[''0''::bpchar, ''1''::bpchar])))'),
    ('parameters', 'parameters_tracer_save_days_range', 'CHECK (((tracer_save_days >= 1) AND (tracer_save_days <= 1000)))'),
    ('parameters', 'parameters_error_save_days_range', 'CHECK (((error_save_days >= 1) AND (error_save_days <= 1000)))'),
    ('parameters', 'parameters_net_save_days_range', 'CHECK (((net_save_days >= 1) AND (net_save_days <= 62)))'),
    ('parameters', 'parameters_oper_save_days_range', 'CHECK (((oper_save_days >= 1) AND (oper_save_days <= 1000)))'),
    ('operator_list', 'operator_list_operator_key', 'UNIQUE (operator)'),
    ('parameters', 'parameters_one_row', 'CREATE UNIQUE INDEX parameters_one_row ON public.parameters USING btree ((true))'),
    ('parameters', 'gas_value NOT NULL', 'gas_value'),
    ('parameters', 'gas_pressure NOT NULL', 'gas_pressure')),
tab(name, cols) AS (VALUES
    ('parameters', 'gas_value integer, gas_pressure integer, target_press_unit character(1), '
     'vac_press_unit character(1), activity_unit character(1), flow_unit character(1), '
     'tracer_print character(1), tracer_save_days integer, error_save_days integer, '
     'net_save_days integer, oper_save_days integer, password character(8)'),
    ('operator_list', 'operator character(5), password character(8)')),
-- Every table privilege, as 'table:PRIV,PRIV' for one grantee (0: PUBLIC).
grants(grantee, nsp, privs) AS (
    SELECT a.grantee, c.relnamespace::regnamespace::text,
           string_agg(c.relname || ':' || a.privilege_type, ' ' ORDER BY c.relname, a.privilege_type)
    FROM pg_class c, aclexplode(c.relacl) a
    WHERE c.relnamespace IN ('public'::regnamespace, to_regnamespace('audit')) AND a.grantee <> c.relowner
    GROUP BY 1, 2),
role AS (SELECT oid FROM pg_roles WHERE rolname = 'param_config'),
audit_trigger(tab, name) AS (VALUES
    ('parameters', 'audit_row'), ('parameters', 'audit_truncate'), ('operator_list', 'audit_row'),
    ('operator_list', 'audit_truncate'), ('audit.trail', 'append_only'), ('audit.trail', 'append_only_truncate')),
items(piece, ok, what) AS (
    SELECT 'schema', to_regclass(t.name) IS NOT NULL, 'table ' || t.name || ' exists' FROM tab t
    UNION ALL
    SELECT 'manual', false, format('table %s has other columns than this release: %s', t.name, t.cols)
    FROM tab t WHERE to_regclass(t.name) IS NOT NULL
        AND t.cols <> (SELECT string_agg(attname || ' ' || format_type(atttypid, atttypmod), ', ' ORDER BY attnum)
                       FROM pg_attribute WHERE attrelid = to_regclass(t.name) AND attnum > 0 AND NOT attisdropped)
    UNION ALL
    SELECT 'upgrade', coalesce(c.def = g.def, false),
           'guard ' || g.name || CASE WHEN c.def IS NULL THEN ' is missing'
                                      WHEN c.def <> g.def THEN ' is changed' ELSE '' END
    FROM guard g LEFT JOIN LATERAL (
        SELECT pg_get_constraintdef(oid) FROM pg_constraint
        WHERE conrelid = to_regclass(g.tab) AND conname = g.name
        UNION ALL SELECT pg_get_indexdef(indexrelid) FROM pg_index
        WHERE indrelid = to_regclass(g.tab) AND indexrelid::regclass::text = g.name AND g.def LIKE 'CREATE %'
        UNION ALL SELECT g.def FROM pg_attribute
        WHERE attrelid = to_regclass(g.tab) AND attname = g.def AND attnotnull) AS c(def) ON true
    WHERE to_regclass('parameters') IS NOT NULL AND to_regclass('operator_list') IS NOT NULL
    UNION ALL
    SELECT CASE WHEN n = 0 THEN 'row' ELSE 'upgrade' END, n = 1,
           format('parameters holds %s row%s', CASE WHEN n = 1 THEN 'its one' ELSE n::text END,
                  CASE WHEN n = 1 THEN '' ELSE 's, not one' END)
    FROM (SELECT count(*) AS n FROM parameters) AS r WHERE to_regclass('parameters') IS NOT NULL
    UNION ALL
    SELECT 'role', EXISTS (SELECT FROM role), 'role param_config exists'
    UNION ALL
    SELECT 'role', coalesce(p.privs, '') = e.privs,
           CASE WHEN coalesce(p.privs, '') = e.privs THEN 'param_config has the tool''s rights on the tables'
                ELSE concat_ws('; ', 'param_config''s rights differ',
                               'more: ' || (SELECT string_agg(x, ' ') FROM unnest(string_to_array(p.privs, ' ')) x
                                            WHERE x <> ALL (string_to_array(e.privs, ' '))),
                               'lacks: ' || (SELECT string_agg(x, ' ') FROM unnest(string_to_array(e.privs, ' ')) x
                                             WHERE x <> ALL (string_to_array(coalesce(p.privs, ''), ' ')))) END
    FROM (SELECT 'operator_list:DELETE operator_list:INSERT operator_list:SELECT '
                 'parameters:SELECT parameters:UPDATE') AS e(privs)
    LEFT JOIN grants p ON p.grantee = (SELECT oid FROM role) AND p.nsp = 'public'
    WHERE EXISTS (SELECT FROM role) AND to_regclass('parameters') IS NOT NULL
    UNION ALL
    SELECT 'role', has_database_privilege('param_config', current_database(), 'CONNECT')
                   AND has_schema_privilege('param_config', 'public', 'USAGE'),
           'param_config may connect and use schema public'
    WHERE EXISTS (SELECT FROM role)
    UNION ALL
    SELECT 'role', p.privs IS NULL, 'PUBLIC has ' || coalesce(p.privs, 'no rights on the tables')
    FROM (SELECT NULL) AS x LEFT JOIN grants p ON p.grantee = 0 AND p.nsp = 'public'
    UNION ALL
    SELECT 'audit', to_regclass('audit.trail') IS NOT NULL, 'audit trail audit.trail exists'
    UNION ALL
    SELECT 'audit', to_regclass('audit.head') IS NOT NULL
                    AND EXISTS (SELECT FROM pg_attribute WHERE attrelid = to_regclass('audit.trail')
                                AND attname = 'hash' AND NOT attisdropped),
           'audit trail hash chain exists'
    WHERE to_regclass('audit.trail') IS NOT NULL
    UNION ALL
    SELECT 'audit', EXISTS (SELECT FROM pg_trigger WHERE tgrelid = to_regclass(t.tab) AND tgname = t.name
                            AND tgenabled <> 'D'),
           format('audit trigger %s on %s', t.name, t.tab)
           || CASE WHEN EXISTS (SELECT FROM pg_trigger WHERE tgrelid = to_regclass(t.tab) AND tgname = t.name
                                AND tgenabled = 'D') THEN ' is disabled' ELSE '' END
    FROM audit_trigger t WHERE to_regclass('audit.trail') IS NOT NULL
    UNION ALL
    SELECT 'audit', coalesce(p.privs, '') = 'changes_this_week:SELECT entries:SELECT'
                    AND has_schema_privilege('param_config', 'audit', 'USAGE')
                    AND NOT EXISTS (SELECT FROM grants WHERE grantee = 0 AND nsp = 'audit'),
           'audit rights: param_config reads audit.changes_this_week and audit.entries, PUBLIC nothing'
    FROM (SELECT NULL) AS x LEFT JOIN grants p ON p.grantee = (SELECT oid FROM role) AND p.nsp = 'audit'
    WHERE to_regclass('audit.trail') IS NOT NULL AND EXISTS (SELECT FROM role))
-- Each item is written as it reads when it holds.
SELECT piece, ok, CASE WHEN ok OR what LIKE '% is disabled' THEN what
                       WHEN what LIKE '% exists' OR what LIKE 'audit trigger %' THEN regexp_replace(what, '( exists)?$', ' is missing')
                       WHEN what LIKE 'param_config may %' THEN replace(replace(what, ' may ', ' may not '), ' and ', ' or ')
                       WHEN what LIKE 'audit rights:%' THEN replace(what, ' reads ', ' should read ')
                       ELSE what END
FROM items;
