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
-- table, and a guard refuses UPDATE, DELETE and TRUNCATE even to the owner,
-- and an INSERT that does not continue the chain.
--
-- The chain makes a change behind the guard's back show: each row's hash is
-- SHA-256 over the previous row's hash and its own content (audit.link), in
-- the order of the ids; the first row follows an empty hash. audit.head
-- holds the last row and its hash. param-config-admin check recomputes it;
-- the last row's hash is the trail's fingerprint. The trail also holds the
-- reviews signed off (table_name 'trail', operation 'REVIEW': the reviewer in
-- row_key, the last row reviewed in old_value, its hash in new_value), the
-- site's review period as it was set ('PERIOD': the old and new interval),
-- and, on a trail recorded before the chain, where the chain began ('CHAIN':
-- old_value and new_value the first and last row found then, chained as they
-- were found).
--
-- Members of param_config may read the current week through the view
-- audit.changes_this_week, the whole trail as a reviewer reads it through
-- audit.entries, and nothing else here.

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
    new_value      text,
    hash           bytea
);

-- A trail recorded before the chain gets the column; its rows are chained below.
ALTER TABLE audit.trail ADD COLUMN IF NOT EXISTS hash bytea;

CREATE TABLE IF NOT EXISTS audit.head (
    last_id bigint,
    hash    bytea NOT NULL
);
CREATE UNIQUE INDEX IF NOT EXISTS head_one_row ON audit.head ((true));

-- What a row's hash covers: the previous hash and every other column, each
-- quoted so that no two contents read alike; the time as epoch seconds, so
-- that neither the session's time zone nor its date style changes it.
CREATE OR REPLACE FUNCTION audit.link(previous bytea, r audit.trail) RETURNS bytea
LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $$
    SELECT sha256(previous || convert_to(concat_ws('|', r.id, extract(epoch FROM r.changed_at), r.transaction_id,
        quote_nullable(r.db_user), quote_nullable(r.application), quote_nullable(host(r.client_addr)),
        quote_nullable(r.table_name), quote_nullable(r.operation), quote_nullable(r.row_key),
        quote_nullable(r.column_name), quote_nullable(r.old_value), quote_nullable(r.new_value)), 'SQL_ASCII'))
$$;

-- Appends one row, chained. The head's row lock, held to the end of the
-- transaction, makes concurrent consoles append one after the other, each
-- taking its ids only once it holds it: ids, chain and commits go in one
-- order. Under REPEATABLE READ a transaction that would chain from a head
-- it cannot see fails ("could not serialize access") rather than break it.
CREATE OR REPLACE FUNCTION audit.append(tab text, op text, key text, col text, was text, now text) RETURNS bigint
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    r audit.trail;
    previous bytea;
BEGIN
    SELECT h.hash INTO previous FROM audit.head h FOR UPDATE;
    r.id := nextval(pg_get_serial_sequence('audit.trail', 'id'));
    r.changed_at := statement_timestamp();
    r.transaction_id := txid_current();
    r.db_user := session_user;
    r.application := current_setting('application_name');
    r.client_addr := inet_client_addr();
    r.table_name := tab;
    r.operation := op;
    r.row_key := key;
    r.column_name := col;
    r.old_value := was;
    r.new_value := now;
    r.hash := audit.link(previous, r);
    INSERT INTO audit.trail OVERRIDING SYSTEM VALUE SELECT r.*;
    UPDATE audit.head SET last_id = r.id, hash = r.hash;
    RETURN r.id;
END
$$;

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
        PERFORM audit.append(TG_TABLE_NAME, TG_OP, NULL, NULL, NULL, NULL);
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
        PERFORM audit.append(TG_TABLE_NAME, TG_OP, row_key, col, old_value, new_value);
    END LOOP;
    RETURN NULL;
END
$$;

CREATE OR REPLACE FUNCTION audit.refuse_change() RETURNS trigger
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    IF TG_OP = 'INSERT' AND NEW.hash = audit.link((SELECT hash FROM audit.head), NEW) THEN
        RETURN NEW;
    END IF;
    RAISE EXCEPTION 'audit.trail is append-only: % refused', TG_OP;
END
$$;

-- The review period: how long a change may wait for review before check
-- fails. The last one set in the trail, 30 days where none was.
CREATE OR REPLACE FUNCTION audit.review_period() RETURNS interval
LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $$
    SELECT coalesce((SELECT new_value::interval FROM audit.trail WHERE table_name = 'trail' AND operation = 'PERIOD'
                     ORDER BY id DESC LIMIT 1), interval '30 days')
$$;

CREATE OR REPLACE FUNCTION audit.set_review_period(period interval) RETURNS text
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    IF period <= interval '0' THEN
        RAISE EXCEPTION 'a review period must be longer than nothing: %', period;
    END IF;
    PERFORM FROM audit.head FOR UPDATE;
    PERFORM audit.append('trail', 'PERIOD', NULL, NULL, audit.review_period()::text, period::text);
    RETURN period::text;
END
$$;

-- A review signed off up to a row: the review goes into the trail with that
-- row's hash, the fingerprint of everything up to it.
CREATE OR REPLACE FUNCTION audit.record_review(reviewer text, up_to bigint,
                                               OUT review_row bigint, OUT fingerprint text)
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$
BEGIN
    PERFORM FROM audit.head FOR UPDATE;
    SELECT encode(hash, 'hex') INTO fingerprint FROM audit.trail WHERE id = up_to;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'the audit trail has no row %; nothing to review', up_to;
    END IF;
    review_row := audit.append('trail', 'REVIEW', reviewer, NULL, up_to::text, fingerprint);
END
$$;

REVOKE ALL ON FUNCTION audit.record_change(), audit.refuse_change(), audit.link(bytea, audit.trail),
    audit.append(text, text, text, text, text, text), audit.review_period(), audit.set_review_period(interval),
    audit.record_review(text, bigint) FROM PUBLIC;

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
DROP TRIGGER IF EXISTS append_only_truncate ON audit.trail;

-- The head, made once. A trail recorded before the chain is chained as it
-- is found, in the order of its ids, and a row then marks where the chain
-- began: it proves those rows unchanged since, not how they were recorded.
-- A trail whose head was lost continues from its last row.
DO $$
DECLARE
    r audit.trail;
    previous bytea := '';
    first_id bigint;
BEGIN
    IF EXISTS (SELECT FROM audit.head) THEN
        RETURN;
    END IF;
    LOCK TABLE audit.trail IN EXCLUSIVE MODE;
    IF EXISTS (SELECT FROM audit.trail WHERE hash IS NOT NULL) THEN
        INSERT INTO audit.head SELECT id, coalesce(hash, '') FROM audit.trail ORDER BY id DESC LIMIT 1;
        RETURN;
    END IF;
    FOR r IN SELECT * FROM audit.trail ORDER BY id LOOP
        previous := audit.link(previous, r);
        UPDATE audit.trail SET hash = previous WHERE id = r.id;
        first_id := coalesce(first_id, r.id);
    END LOOP;
    INSERT INTO audit.head VALUES (r.id, previous);
    IF first_id IS NOT NULL THEN
        PERFORM audit.append('trail', 'CHAIN', NULL, NULL, first_id::text, r.id::text);
    END IF;
END
$$;

CREATE TRIGGER append_only BEFORE INSERT OR UPDATE OR DELETE ON audit.trail
    FOR EACH ROW EXECUTE FUNCTION audit.refuse_change();
CREATE TRIGGER append_only_truncate BEFORE TRUNCATE ON audit.trail
    FOR EACH STATEMENT EXECUTE FUNCTION audit.refuse_change();

-- What changed this week (since Monday 00:00, the session's time zone), and by whom.
CREATE OR REPLACE VIEW audit.changes_this_week AS
    SELECT changed_at, db_user, application, client_addr, table_name, operation,
           row_key, column_name, old_value, new_value
    FROM audit.trail
    WHERE changed_at >= date_trunc('week', now())
    ORDER BY id;

-- The trail as a reviewer reads it, one entry per change in the words and
-- units of the supervisor's window (param-config-admin audit prints it). An
-- operator added or removed, or the parameters row removed, is one entry,
-- though the trail holds a row per column: first_row to last_row, and hash
-- is last_row's. unreviewed: a change after the row the last review reached.
CREATE OR REPLACE VIEW audit.entries AS
WITH opened AS (
    SELECT t.*, NOT (t.table_name = 'operator_list' AND t.operation IN ('INSERT', 'DELETE')
                     AND t.column_name IS DISTINCT FROM 'operator'
                     OR t.table_name = 'parameters' AND t.operation = 'DELETE'
                     AND t.column_name IS DISTINCT FROM 'gas_value') AS opens
    FROM audit.trail t),
numbered AS (
    SELECT o.*, count(*) FILTER (WHERE o.opens) OVER (ORDER BY o.id) AS entry FROM opened o),
spanned AS (
    SELECT n.*, max(n.id) OVER e AS last_row, last_value(n.hash) OVER e AS last_hash FROM numbered n
    WINDOW e AS (PARTITION BY n.entry ORDER BY n.id ROWS BETWEEN UNBOUNDED PRECEDING AND UNBOUNDED FOLLOWING)),
label(col, label, unit, tenths) AS (VALUES
    ('gas_value', 'F2+He gas concentration', ' %', true), ('gas_pressure', 'F2+He gas pressure', ' bar', true),
    ('target_press_unit', 'target pressure unit', '', false), ('vac_press_unit', 'vacuum pressure unit', '', false),
    ('activity_unit', 'activity unit', '', false), ('flow_unit', 'flow unit', '', false),
    ('tracer_print', 'automatic printing', '', false),
    ('tracer_save_days', 'production reports kept', ' days', false), ('error_save_days', 'event log kept', ' days', false),
    ('net_save_days', 'net log kept', ' days', false), ('oper_save_days', 'operator reports kept', ' days', false)),
code(col, code, name) AS (VALUES
    ('target_press_unit', '1', 'bar'), ('target_press_unit', '2', 'kPa'), ('target_press_unit', '3', 'psi'),
    ('vac_press_unit', '1', 'mbar'), ('vac_press_unit', '2', 'kPa'), ('vac_press_unit', '3', 'torr'),
    ('activity_unit', '1', 'mCi'), ('activity_unit', '2', 'MBq'), ('flow_unit', '1', 'mL/min'),
    ('flow_unit', '2', 'sccm'), ('tracer_print', '1', 'on'), ('tracer_print', '0', 'off')),
last_review AS (
    SELECT old_value::bigint AS up_to FROM audit.trail WHERE table_name = 'trail' AND operation = 'REVIEW'
    ORDER BY id DESC LIMIT 1)
SELECT s.id AS first_row, s.last_row, s.changed_at, s.transaction_id, s.db_user AS login,
       coalesce(host(s.client_addr), 'local') AS origin, k.kind,
       CASE WHEN s.table_name = 'trail' THEN
                CASE s.operation
                    WHEN 'REVIEW' THEN format('reviewed by %s up to row %s, fingerprint %s', s.row_key, s.old_value,
                                              s.new_value)
                    WHEN 'PERIOD' THEN format('review period %s -> %s', s.old_value, s.new_value)
                    ELSE format('chain begins: rows %s to %s, recorded before it, chained as found', s.old_value,
                                s.new_value) END
            WHEN s.operation = 'TRUNCATE' THEN
                CASE s.table_name WHEN 'operator_list' THEN 'every operator removed' ELSE s.table_name || ' emptied' END
            WHEN s.table_name = 'operator_list' THEN
                CASE WHEN s.operation = 'INSERT' THEN format('operator %s added', s.row_key)
                     WHEN s.operation = 'DELETE' THEN format('operator %s removed', s.row_key)
                     WHEN s.column_name = 'password' THEN format('operator %s: password changed', s.row_key)
                     WHEN s.column_name = 'operator' THEN format('operator %s renamed %s', s.old_value, s.new_value)
                     ELSE format('operator %s: %s %s -> %s', s.row_key, s.column_name, s.old_value, s.new_value) END
            WHEN s.operation = 'DELETE' THEN 'parameters row removed'
            WHEN s.column_name = 'password' THEN
                CASE WHEN s.operation = 'UPDATE' THEN 'configuration password changed'
                     WHEN s.new_value IS NULL THEN 'no configuration password' ELSE 'configuration password set' END
            WHEN s.operation = 'INSERT' THEN format('%s set to %s', coalesce(l.label, s.column_name), v.now)
            ELSE format('%s: %s -> %s', coalesce(l.label, s.column_name), v.was, v.now) END AS change,
       k.kind = 'change' AND s.id > coalesce((SELECT up_to FROM last_review), 0) AS unreviewed,
       encode(s.last_hash, 'hex') AS hash
FROM spanned s
CROSS JOIN LATERAL (SELECT CASE WHEN s.table_name <> 'trail' OR s.operation = 'PERIOD' THEN 'change'
                                WHEN s.operation = 'REVIEW' THEN 'review' ELSE 'chain' END AS kind) AS k
LEFT JOIN label l ON s.table_name = 'parameters' AND l.col = s.column_name
-- A value as the window shows it: a menu's name for its code, tenths with
-- one decimal, with its unit; "1 day", not "1 days".
CROSS JOIN LATERAL (
    SELECT max(shown) FILTER (WHERE which = 'was') AS was, max(shown) FILTER (WHERE which = 'now') AS now
    FROM (SELECT which, CASE WHEN raw IS NULL THEN 'not set'
                             ELSE coalesce((SELECT c.name FROM code c WHERE c.col = s.column_name AND c.code = raw),
                                           CASE WHEN l.tenths AND raw ~ '^-?[0-9]+$'
                                                THEN to_char(raw::numeric / 10, 'FM999999990.0') END, raw)
                                  || CASE WHEN raw = '1' AND l.unit = ' days' THEN ' day' ELSE coalesce(l.unit, '') END
                        END AS shown
          FROM (VALUES ('was', s.old_value), ('now', s.new_value)) AS x(which, raw)) AS y) AS v
WHERE s.opens;

REVOKE ALL ON audit.trail, audit.head, audit.changes_this_week, audit.entries FROM PUBLIC;

DO $$
BEGIN
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'param_config') THEN
        REVOKE ALL ON audit.trail, audit.head, audit.changes_this_week, audit.entries FROM param_config;
        GRANT USAGE ON SCHEMA audit TO param_config;
        GRANT SELECT ON audit.changes_this_week, audit.entries TO param_config;
    END IF;
END
$$;

