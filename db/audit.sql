-- Audit trail of every change to parameters and operator_list, kept by the
-- database itself so that whatever program makes a change, it is recorded.
-- param-config-admin setup installs it unless told --no-audit. By hand, as
-- the owner of the tables (the site administrator), after db/schema.sql,
-- before or after db/role.sql (each grants the role what it reads here):
--     psql -1 -v ON_ERROR_STOP=1 -d kelvaron -f db/audit.sql
-- Idempotent: running it again keeps the recorded rows and leaves the same
-- triggers and grants.
--
-- audit.trail holds one row per changed column of each inserted, updated or
-- deleted row, and one row per TRUNCATE of either table:
--  * changed_at is the start of the statement; transaction_id groups the
--    rows written by one transaction.
--  * db_user is the login (session user), not the role it may have set;
--    application and client_addr are what the client reports (an empty
--    application name when it sets none, no address over a Unix socket).
--  * row_key names the row for operator_list: the operator as stored, cut
--    at trailing blanks. parameters has one row and no key.
--  * An UPDATE records only the columns whose value differs; one that
--    changes nothing (the same unit chosen again, Save with unchanged days)
--    records nothing. INSERT and DELETE record every column.
--  * Password columns never have their stored bytes copied: such a row has
--    no old value and new_value 'changed' when the password differs.
--
-- Rows can only be added, by the trigger: nobody but the owner may write the
-- table, and a guard refuses UPDATE, DELETE and TRUNCATE even to the owner.
-- Members of param_config may read the current week through the view
-- audit.changes_this_week, and nothing else here.

SET client_min_messages = warning;

CREATE SCHEMA IF NOT EXISTS audit;

CREATE TABLE IF NOT EXISTS audit.trail (
    id             bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    changed_at     timestamptz NOT NULL DEFAULT statement_timestamp(),
    transaction_id bigint NOT NULL DEFAULT txid_current(),
    db_user        text NOT NULL DEFAULT session_user,
    application    text DEFAULT current_setting('application_name'),
    client_addr    inet DEFAULT inet_client_addr(),
    table_name     text NOT NULL,
    operation      text NOT NULL,
    row_key        text,
    column_name    text,
    old_value      text,
    new_value      text
);

-- SECURITY DEFINER: the tool's role writes the trail only through this
-- function, never directly. The search path is fixed so that nothing a
-- caller creates can stand in for what the function uses.
CREATE OR REPLACE FUNCTION audit.record_change() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    key_column text := TG_ARGV[0];
    row_key text;
    col name;
    is_password boolean;
    differs boolean;
    old_value text;
    new_value text;
BEGIN
    IF TG_OP = 'TRUNCATE' THEN
        INSERT INTO audit.trail (table_name, operation) VALUES (TG_TABLE_NAME, TG_OP);
        RETURN NULL;
    END IF;

    IF key_column IS NOT NULL THEN
        EXECUTE format('SELECT ($1).%I::text', key_column)
            INTO row_key USING CASE WHEN TG_OP = 'DELETE' THEN OLD ELSE NEW END;
    END IF;

    FOR col, is_password IN
        SELECT attname, attname ~* 'password' FROM pg_attribute
        WHERE attrelid = TG_RELID AND attnum > 0 AND NOT attisdropped ORDER BY attnum
    LOOP
        -- OLD is NULL for an INSERT and NEW for a DELETE: every column differs.
        EXECUTE format('SELECT ($1).%1$I IS DISTINCT FROM ($2).%1$I', col) INTO differs USING OLD, NEW;
        CONTINUE WHEN TG_OP = 'UPDATE' AND NOT differs;
        IF is_password THEN
            old_value := NULL;
            new_value := CASE WHEN differs THEN 'changed' END;
        ELSE
            EXECUTE format('SELECT ($1).%1$I::text, ($2).%1$I::text', col)
                INTO old_value, new_value USING OLD, NEW;
        END IF;
        INSERT INTO audit.trail (table_name, operation, row_key, column_name, old_value, new_value)
        VALUES (TG_TABLE_NAME, TG_OP, row_key, col, old_value, new_value);
    END LOOP;
    RETURN NULL;
END
$$;

CREATE OR REPLACE FUNCTION audit.refuse_change() RETURNS trigger
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    RAISE EXCEPTION 'audit.trail is append-only: % refused', TG_OP;
END
$$;

REVOKE ALL ON FUNCTION audit.record_change(), audit.refuse_change() FROM PUBLIC;

DROP TRIGGER IF EXISTS audit_row ON parameters;
CREATE TRIGGER audit_row AFTER INSERT OR UPDATE OR DELETE ON parameters
    FOR EACH ROW EXECUTE FUNCTION audit.record_change();
DROP TRIGGER IF EXISTS audit_truncate ON parameters;
CREATE TRIGGER audit_truncate AFTER TRUNCATE ON parameters
    FOR EACH STATEMENT EXECUTE FUNCTION audit.record_change();

DROP TRIGGER IF EXISTS audit_row ON operator_list;
CREATE TRIGGER audit_row AFTER INSERT OR UPDATE OR DELETE ON operator_list
    FOR EACH ROW EXECUTE FUNCTION audit.record_change('operator');
DROP TRIGGER IF EXISTS audit_truncate ON operator_list;
CREATE TRIGGER audit_truncate AFTER TRUNCATE ON operator_list
    FOR EACH STATEMENT EXECUTE FUNCTION audit.record_change();

DROP TRIGGER IF EXISTS append_only ON audit.trail;
CREATE TRIGGER append_only BEFORE UPDATE OR DELETE ON audit.trail
    FOR EACH ROW EXECUTE FUNCTION audit.refuse_change();
DROP TRIGGER IF EXISTS append_only_truncate ON audit.trail;
CREATE TRIGGER append_only_truncate BEFORE TRUNCATE ON audit.trail
    FOR EACH STATEMENT EXECUTE FUNCTION audit.refuse_change();

-- What changed this week (since Monday 00:00, the session's time zone), and by whom.
CREATE OR REPLACE VIEW audit.changes_this_week AS
    SELECT changed_at, db_user, application, client_addr, table_name, operation,
           row_key, column_name, old_value, new_value
    FROM audit.trail
    WHERE changed_at >= date_trunc('week', now())
    ORDER BY id;

REVOKE ALL ON audit.trail, audit.changes_this_week FROM PUBLIC;

DO $$
BEGIN
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'param_config') THEN
        REVOKE ALL ON audit.trail, audit.changes_this_week FROM param_config;
        GRANT USAGE ON SCHEMA audit TO param_config;
        GRANT SELECT ON audit.changes_this_week TO param_config;
    END IF;
END
$$;

