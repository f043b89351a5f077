#!/usr/bin/env bash
# database.sql through psql, its output read against database.expected as
# PostgreSQL's own regression tests read theirs; run on the bed check.sh makes.
set -u
cd "$(dirname "$0")" || exit 1
psql -X -a -q -A -d kelvaron <database.sql 2>&1 | diff -u database.expected -
