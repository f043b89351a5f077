-- The site database as the tool's role and other clients meet it, read
-- against database.expected: what the role may not do, what the guards
-- refuse anyone, each refusal leaving every stored value as it was, and
-- every value each guarded column takes.
\set VERBOSITY terse
TRUNCATE parameters, operator_list;
INSERT INTO parameters VALUES (35, 80, '1', '1', '1', '1', '1', 365, 90, 31, 180, '}km|kz');
INSERT INTO operator_list VALUES ('anna', 'o');
SELECT test_take_snapshot();
-- a second row and a second operator of one name (trailing blanks do not count)
INSERT INTO parameters SELECT * FROM parameters;
SET ROLE clerk;
INSERT INTO operator_list VALUES ('anna ', 'x');
-- the tool's role: select and update parameters; select, insert and delete operators
INSERT INTO parameters SELECT * FROM parameters;
DELETE FROM parameters;
TRUNCATE operator_list;
UPDATE operator_list SET password = 'x';
CREATE TABLE public.x (a int);
INSERT INTO audit.trail (table_name, operation) VALUES ('x', 'y');
RESET ROLE;
SELECT test_changes(false) AS "changed by the refused writes";
-- the sliders' ranges and the menus' codes, and NULL except for the gas values
SELECT col, test_accepts(col) AS takes FROM unnest(ARRAY['gas_value', 'gas_pressure', 'tracer_save_days',
    'error_save_days', 'net_save_days', 'oper_save_days', 'target_press_unit', 'vac_press_unit', 'activity_unit',
    'flow_unit', 'tracer_print']) AS col;
