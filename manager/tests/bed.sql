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
