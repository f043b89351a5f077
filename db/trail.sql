-- The audit trail's chain and review, as param-config-admin check reads
-- them after db/state.sql, with SELECTs only, one row per item: trail, whether
-- it holds (t/f), and what it is, a failing one with what to do after " -- ".
-- Run in kelvaron as its owner:
--     psql -X -A -t -d kelvaron -f db/trail.sql
-- Nothing where the chain is not installed: db/state.sql says so.
--  * The chain is recomputed row by row in the order of the ids: the first
--    row whose hash does not follow from the row before it and its own
--    content is named, with the row before it (a gap shows a row removed).
--  * The trail's last row and hash must be those of audit.head: a trail that
--    ends earlier lost rows from its end.
--  * A change after the last review must not have waited longer than the
--    review period.
SELECT to_regclass('audit.head') IS NOT NULL AS chained \gset
\if :chained
WITH link AS (
    SELECT id, hash, lag(id) OVER w AS previous,
           hash IS NOT DISTINCT FROM audit.link(lag(hash, 1, '\x'::bytea) OVER w, t) AS holds
    FROM audit.trail t WINDOW w AS (ORDER BY id)),
broken AS (SELECT * FROM link WHERE NOT holds ORDER BY id LIMIT 1),
ends AS (SELECT max(id) AS last_id, min(id) AS first_id, (SELECT hash FROM link ORDER BY id DESC LIMIT 1) AS hash
         FROM link),
began AS (SELECT * FROM audit.trail WHERE table_name = 'trail' AND operation = 'CHAIN' ORDER BY id LIMIT 1),
waiting AS (SELECT count(*) AS n, min(changed_at) AS since, audit.review_period() AS period
            FROM audit.entries WHERE unreviewed)
SELECT 'trail', false, format('audit trail broken at row %s (the row before it: %s): it, or a row before it, '
                              'was changed, removed or slipped in -- see the site guide',
                              id, coalesce(previous::text, 'none'))
FROM broken
UNION ALL
SELECT 'trail', false,
       CASE WHEN coalesce(e.last_id, 0) < coalesce(h.last_id, 0)
            THEN format('audit trail ends at row %s, its chain at row %s: rows were removed from its end',
                        coalesce(e.last_id::text, 'none'), h.last_id)
            ELSE format('audit trail ends at row %s, not where its chain ends (row %s): rows were added or '
                        'rewritten outside the chain', e.last_id, coalesce(h.last_id::text, 'none')) END
       || ' -- see the site guide'
FROM ends e LEFT JOIN audit.head h ON true
WHERE (e.last_id IS DISTINCT FROM h.last_id OR e.hash IS DISTINCT FROM h.hash)
  AND NOT (e.last_id > h.last_id AND EXISTS (SELECT FROM broken))
UNION ALL
SELECT 'trail', true,
       CASE WHEN e.last_id IS NULL THEN 'audit trail empty'
            ELSE format('audit trail unbroken from row %s to row %s, fingerprint %s%s', e.first_id, e.last_id,
                        encode(e.hash, 'hex'), ' (rows ' || c.old_value || ' to ' || c.new_value
                        || ' recorded before the chain began at row ' || c.id || ')') END
FROM ends e LEFT JOIN audit.head h ON true LEFT JOIN began c ON true
WHERE NOT EXISTS (SELECT FROM broken) AND e.last_id IS NOT DISTINCT FROM h.last_id
  AND e.hash IS NOT DISTINCT FROM h.hash
UNION ALL
SELECT 'trail', n = 0 OR since >= now() - period,
       CASE WHEN n = 0 THEN format('no change waits for review (review period %s)', period)
            ELSE format('%s change%s waiting for review since %s, %s the review period (%s)%s', n,
                        CASE WHEN n > 1 THEN 's' ELSE '' END, to_char(since, 'YYYY-MM-DD HH24:MI:SS'),
                        CASE WHEN since < now() - period THEN 'longer than' ELSE 'within' END, period,
                        CASE WHEN since < now() - period
                             THEN ' -- param-config-admin audit --reviewed-by NAME' ELSE '' END) END
FROM waiting;
\endif
