-- A least-privilege role for param-config: the tool selects and updates the
-- one row of parameters (never inserts or deletes it) and lists, counts,
-- inserts and deletes operators. Nothing else is granted, so any other
-- statement from the tool's users (DDL, truncate, a second parameters row)
-- is refused by the server.
--
-- Run as the database owner in kelvaron, then let each supervisor's login in:
--     psql -d kelvaron -f db/role.sql
--     psql -d kelvaron -c 'GRANT param_config TO alice'
-- param-config-admin setup loads it and add-login lets the logins in.
-- Idempotent: running it again leaves the same grants; before or after
-- db/audit.sql, the role ends with the same rights.
--
-- Not taken away here: what PostgreSQL grants every role through PUBLIC in
-- each database, namely TEMPORARY (temporary tables, gone with the session)
-- and making large objects (lo_creat, lo_create, lo_from_bytea; they stay,
-- owned by their maker, until deleted). A grant to PUBLIC cannot be taken
-- from this role's members alone, and taking it from PUBLIC would take it
-- from the production system's other programs too, which this file cannot
-- know. Neither reaches the tool's tables. A site whose programs need
-- neither takes both away, as the database owner in kelvaron:
--     REVOKE TEMPORARY ON DATABASE kelvaron FROM PUBLIC;
--     REVOKE EXECUTE ON FUNCTION lo_creat(integer), lo_create(oid),
--         lo_from_bytea(oid, bytea) FROM PUBLIC;
-- and grants them back to the roles of any program that does need them.

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'param_config') THEN
        CREATE ROLE param_config NOLOGIN;
    END IF;
END
$$;

REVOKE ALL ON parameters, operator_list FROM param_config, PUBLIC;
GRANT SELECT, UPDATE ON parameters TO param_config;
GRANT SELECT, INSERT, DELETE ON operator_list TO param_config;

DO $$
BEGIN
    EXECUTE format('GRANT CONNECT ON DATABASE %I TO param_config', current_database());
END
$$;
GRANT USAGE ON SCHEMA public TO param_config;

-- The audit trail's views, this week and the reviewer's, where db/audit.sql
-- was loaded first.
DO $$
BEGIN
    IF to_regclass('audit.changes_this_week') IS NOT NULL THEN
        REVOKE ALL ON audit.trail, audit.changes_this_week FROM param_config;
        GRANT USAGE ON SCHEMA audit TO param_config;
        GRANT SELECT ON audit.changes_this_week TO param_config;
    END IF;
    IF to_regclass('audit.entries') IS NOT NULL THEN
        REVOKE ALL ON audit.head, audit.entries FROM param_config;
        GRANT SELECT ON audit.entries TO param_config;
    END IF;
END
$$;
