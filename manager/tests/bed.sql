-- What the tests read back from the database, loaded by check.sh after the
-- schema, the role and the audit trail: every stored value by key
-- ("flow_unit", or "name.password" for an operator) with padding dropped and
-- passwords deciphered here, on their own (XOR 0x0E); a snapshot of them; and
-- what changed since, "key=value ..." in key order (empty value: removed),
-- with passwords in clear or, as the audit trail records them, "changed".
CREATE FUNCTION test_decipher(s text) RETURNS text LANGUAGE sql AS $$
    SELECT coalesce(string_agg(chr(ascii(c) # 14), '' ORDER BY i), '')
    FROM unnest(string_to_array(s, NULL)) WITH ORDINALITY AS u(c, i) $$;

CREATE VIEW test_stored AS
    SELECT key, CASE WHEN key LIKE '%password' THEN test_decipher(rtrim(value)) ELSE rtrim(value) END AS value
    FROM (SELECT j.* FROM parameters p, jsonb_each_text(to_jsonb(p)) j
          UNION ALL SELECT rtrim(o.operator) || '.' || j.key, j.value
          FROM operator_list o, jsonb_each_text(to_jsonb(o)) j) AS stored;

CREATE TABLE test_snapshot AS SELECT * FROM test_stored LIMIT 0;

CREATE FUNCTION test_take_snapshot() RETURNS void LANGUAGE sql AS $$
    TRUNCATE test_snapshot; INSERT INTO test_snapshot SELECT * FROM test_stored $$;

CREATE FUNCTION test_changes(as_audited boolean) RETURNS text LANGUAGE sql AS $$
    SELECT coalesce(string_agg(key || '=' || CASE WHEN as_audited AND key LIKE '%password' THEN 'changed'
                                                  ELSE coalesce(n.value, '') END, ' ' ORDER BY key), '')
    FROM test_stored n FULL JOIN test_snapshot s USING (key) WHERE n.value IS DISTINCT FROM s.value $$;

CREATE FUNCTION test_audited_since(mark bigint) RETURNS text LANGUAGE sql AS $$
    SELECT coalesce(string_agg(key || '=' || coalesce(new_value, ''), ' ' ORDER BY key), '')
    FROM (SELECT coalesce(row_key || '.', '') || column_name AS key, new_value FROM audit.trail
          WHERE column_name IS NOT NULL AND id > mark) AS recorded $$;

-- Which values the guards let into a column of parameters, whoever writes
-- them: the integers from -1 to 1001 as runs "low..high", any other printable
-- character taken, and "null" when NULL is taken. Every probe is a write of
-- its own; the row keeps the last value taken.
CREATE FUNCTION test_accepts(col text) RETURNS text LANGUAGE plpgsql AS $$
DECLARE
    probe text;
    taken text[] := '{}';
BEGIN
    SET LOCAL session_replication_role = replica; -- the audit trail need not record the probes
    FOR probe IN SELECT generate_series(-1, 1001)::text UNION SELECT chr(c) FROM generate_series(33, 126) c
                 UNION ALL SELECT NULL LOOP
        BEGIN
            EXECUTE format('UPDATE parameters SET %I = %L', col, probe);
            taken := taken || coalesce(probe, 'null');
        EXCEPTION WHEN OTHERS THEN
        END;
    END LOOP;
    RETURN (SELECT string_agg(run, ' ' ORDER BY o) FROM (
        SELECT min(v)::text || CASE WHEN max(v) > min(v) THEN '..' || max(v) ELSE '' END AS run, min(v) AS o
        FROM (SELECT t::int AS v, t::int - row_number() OVER (ORDER BY t::int) AS island
              FROM unnest(taken) t WHERE t ~ '^-?[0-9]+$') AS ints GROUP BY island
        UNION ALL SELECT t, 2000 FROM unnest(taken) t WHERE t !~ '^-?[0-9]+$') AS runs);
END
$$;
