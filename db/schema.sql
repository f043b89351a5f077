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
--  * No NOT NULL or CHECK constraints: the program validates what it writes,
--    and a constraint here could only refuse a value it accepts.
--  * The program expects exactly one row in parameters. Nothing here prevents
--    a second; keep it to one.

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
    gas_value         integer,
    gas_pressure      integer,
    target_press_unit char(1),
    vac_press_unit    char(1),
    activity_unit     char(1),
    flow_unit         char(1),
    tracer_print      char(1),
    tracer_save_days  integer,
    error_save_days   integer,
    net_save_days     integer,
    oper_save_days    integer,
    password          char(8)
);

CREATE TABLE operator_list (
    operator char(5),
    password char(8)
);
