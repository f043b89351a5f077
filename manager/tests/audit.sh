#!/usr/bin/env bash
# What the handler table changed through the window, between $1 and $2, as
# param-config-admin audit shows it to the owner, then as CSV to a member of
# the tool's role, read back by Python's csv module field for field; read
# against audit.expected. The handler table runs it on
# the bed after its rows. Times, the server's zone and the fingerprint vary
# from run to run, and row numbers with what ran before: rows are counted
# from the first shown.
set -u
cd "$(dirname "$0")/../.." || exit 1
unset PGSERVICE PGAPPNAME
audit() { PGUSER=$1 admin/param-config-admin audit --login clerk --since "$2" --until "$3" "${@:4}"; }
{
shown=$(audit "$TESTBED_SUPERUSER" "$1" "$2")
first=$(grep -m 1 -oP '^  [ *] +\K[0-9]+' <<<"$shown")
fingerprint=$(grep -oP 'fingerprint \K[0-9a-f]{64}$' <<<"$shown")
perl -pe 'BEGIN { $f = shift } s/^(  [ *]) +(\d+)/sprintf("%s %6s", $1, "+" . ($2 - $f))/e;
    s/rows (\d+) to (\d+)/"rows +" . ($1 - $f) . " to +" . ($2 - $f)/e; s/times in [^.]+/times in ZONE/;
    s/\d{4}-\d\d-\d\d \d\d:\d\d:\d\d/TIME/g; s/[0-9a-f]{64}/HASH/g' "$first" <<<"$shown"
audit clerk "$1" "$2" --csv | python3 -c '
import csv, io, re, sys
first, fingerprint, raw = int(sys.argv[1]), sys.argv[2], sys.stdin.buffer.read().decode("latin-1")
print("CSV lines end CRLF:", raw.endswith("\r\n") and raw.count("\n") == raw.count("\r\n"))
rows, txns = list(csv.reader(io.StringIO(raw, newline=""))), {}
print(",".join(rows[0]), "| fingerprint is the last hash:", rows[-1][9] == fingerprint)
for r in rows[1:]:
    time = re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d(:?\d\d)?", r[2]) and "TIME"
    print(len(r), int(r[0]) - first, int(r[1]) - first, time, txns.setdefault(r[3], len(txns) + 1), *r[4:9],
          re.fullmatch("[0-9a-f]{64}", r[9]) and "HASH", sep="|")' "$first" "$fingerprint"
} 2>&1 | diff -u manager/tests/audit.expected -
