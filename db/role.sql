-- A least-privilege role for param-config: the tool selects and updates the
-- one row of parameters (never inserts or deletes it) and lists, counts,
-- inserts and deletes operators. Nothing else is granted, so any other
-- statement from the tool's users (DDL, truncate, a second parameters row)
-- is refused by the server.
--
-- Run as the database owner in kelvaron, then let each supervisor's login in:
--     psql -d kelvaron -f db/role.sql
--     psql -d kelvaron -c 'GRANT param_config TO alice'
-- Idempotent: running it again leaves the same grants.

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'param_config') THEN
        CREATE ROLE param_config NOLOGIN;
    END IF;
END
$$;

REVOKE ALL ON parameters, operator_list FROM param_config;
GRANT SELECT, UPDATE ON parameters TO param_config;
GRANT SELECT, INSERT, DELETE ON operator_list TO param_config;

DO $$
BEGIN
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO param_config', current_database());
END
$$;
GRANT USAGE ON SCHEMA public TO param_config;
