-- The one parameters row of a new site, with the values a console shows
-- before any is set: gas 30 (3.0 %, held in tenths) at 100; bar, mbar, mCi
-- and mL/min; automatic printing off; production reports kept 365 days, the
-- event log 90, the net log 31, operator reports 180. No configuration
-- password: the supervisor sets one with Set, and Read shows it empty until
-- then. param-config-admin setup inserts it where parameters is empty.
INSERT INTO parameters (gas_value, gas_pressure, target_press_unit, vac_press_unit, activity_unit, flow_unit,
                        tracer_print, tracer_save_days, error_save_days, net_save_days, oper_save_days, password)
    VALUES (30, 100, '1', '1', '1', '1', '0', 365, 90, 31, 180, NULL);
