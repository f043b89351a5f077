-- Sample site for the demo: load after schema.sql.
--
-- Passwords are stored as the program stores them: every byte of the clear
-- text XORed with 0x0E. They are written as hex so the file holds only ASCII
-- whatever the client encoding. In clear:
--     configuration password   kelvin
--     operator anna            tulip
--     operator bert            mosel
--     operator cleo            amber

INSERT INTO parameters (gas_value, gas_pressure,
                        target_press_unit, vac_press_unit, activity_unit, flow_unit,
                        tracer_print,
                        tracer_save_days, error_save_days, net_save_days, oper_save_days,
                        password)
VALUES (35, 80,
        '1', '1', '1', '1',
        '1',
        365, 90, 31, 180,
        convert_from(decode('656b62786760', 'hex'), 'SQL_ASCII'));

INSERT INTO operator_list (operator, password) VALUES
    ('anna', convert_from(decode('7a7b62677e', 'hex'), 'SQL_ASCII')),
    ('bert', convert_from(decode('63617d6b62', 'hex'), 'SQL_ASCII')),
    ('cleo', convert_from(decode('6f636c6b7c', 'hex'), 'SQL_ASCII'));
