-- Sample site for the demo: load into a kelvaron that param-config-admin
-- setup has made (it holds the one parameters row this sets).
--
-- Passwords are stored as the program stores them: every byte of the clear
-- text XORed with 0x0E. They are written as hex so the file holds only ASCII
-- whatever the client encoding. In clear:
--     configuration password   kelvin
--     operator anna            tulip
--     operator bert            mosel
--     operator cleo            amber

UPDATE parameters SET gas_value = 35, gas_pressure = 80,
                      target_press_unit = '1', vac_press_unit = '1', activity_unit = '1', flow_unit = '1',
                      tracer_print = '1',
                      tracer_save_days = 365, error_save_days = 90, net_save_days = 31, oper_save_days = 180,
                      password = convert_from(decode('656b62786760', 'hex'), 'SQL_ASCII');

INSERT INTO operator_list (operator, password) VALUES
    ('anna', convert_from(decode('7a7b62677e', 'hex'), 'SQL_ASCII')),
    ('bert', convert_from(decode('63617d6b62', 'hex'), 'SQL_ASCII')),
    ('cleo', convert_from(decode('6f636c6b7c', 'hex'), 'SQL_ASCII'));
