-- Tables of the kelvaron database that param-config reads and writes.
--
-- Load into a database created with
--     createdb -E SQL_ASCII -T template0 --locale=C kelvaron
--     psql -v ON_ERROR_STOP=1 -d kelvaron -f db/schema.sql
-- The program issues no DDL, so this file is the only place these tables are made.
--
-- Why the columns look like this:
--  * Passwords are stored enciphered, each byte XORed with a key, so a stored
--    byte can be anything from 0x01 to 0xFF. A SQL_ASCII database keeps every
--    such byte as it was written; a UTF8 one would refuse or re-encode the
--    bytes that are not valid UTF-8. Hence the encoding check below.
--  * Fixed-width char(n) columns come back blank-padded to n; the program's
--    readers cut the padding. Unit codes and the print flag are one character
--    ('0'..'3' and '0'/'1').
--  * Day counts and the gas figures are plain integers; the gas value is held
--    in tenths.
--  * Every console's start-up reads the two gas values and gives up on a
--    NULL there, so they are NOT NULL. The other guards keep each column to
--    what the tool's controls can produce (the sliders' ranges, the menus'
--    codes); a NULL passes them. A refused write leaves the row as it was.
--  * parameters holds one row: a unique index on a constant refuses a
--    second one, without a column of its own (other programs insert by
--    position).
--  * Operator names are unique. Two consoles adding the same name at once
--    both find it absent; the key lets only the first insert through.
--  * db/upgrade.sql adds the same guards, under the same names, to a database
--    made before they existed.

DO $$
BEGIN
    IF (SELECT pg_encoding_to_char(encoding) FROM pg_database
        WHERE datname = current_database()) <> 'SQL_ASCII' THEN
        RAISE EXCEPTION 'database % must be created with -E SQL_ASCII: enciphered passwords hold arbitrary bytes',
            current_database();
    END IF;
END
$$;

CREATE TABLE parameters (
    gas_value         integer NOT NULL
                      CONSTRAINT parameters_gas_value_range CHECK (gas_value BETWEEN 10 AND 50),
    gas_pressure      integer NOT NULL
                      CONSTRAINT parameters_gas_pressure_range CHECK (gas_pressure BETWEEN 10 AND 100),
    target_press_unit char(1)
                      CONSTRAINT parameters_target_press_unit_code CHECK (target_press_unit IN ('1', '2', '3')),
    vac_press_unit    char(1)
                      CONSTRAINT parameters_vac_press_unit_code CHECK (vac_press_unit IN ('1', '2', '3')),
    activity_unit     char(1)
                      CONSTRAINT parameters_activity_unit_code CHECK (activity_unit IN ('1', '2')),
    flow_unit         char(1)
                      CONSTRAINT parameters_flow_unit_code CHECK (flow_unit IN ('1', '2')),
    tracer_print      char(1)
                      CONSTRAINT parameters_tracer_print_code CHECK (tracer_print IN ('0', '1')),
    tracer_save_days  integer
                      CONSTRAINT parameters_tracer_save_days_range CHECK (tracer_save_days BETWEEN 1 AND 1000),
    error_save_days   integer
                      CONSTRAINT parameters_error_save_days_range CHECK (error_save_days BETWEEN 1 AND 1000),
    net_save_days     integer
                      CONSTRAINT parameters_net_save_days_range CHECK (net_save_days BETWEEN 1 AND 62),
    oper_save_days    integer
                      CONSTRAINT parameters_oper_save_days_range CHECK (oper_save_days BETWEEN 1 AND 1000),
    password          char(8)
);

CREATE UNIQUE INDEX parameters_one_row ON parameters ((true));

CREATE TABLE operator_list (
    operator char(5) CONSTRAINT operator_list_operator_key UNIQUE,
    password char(8)
);
