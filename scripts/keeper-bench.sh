#!/usr/bin/env bash
# Measures the menu entry's keeper on the test bed: from the server closing a
# console's connection to that console's end (10 times, median and worst),
# how long a new console takes to show after a server restart, and the
# keeper's private memory and processor time while all is well.
# Usage: bash manager/tests/check.sh --run bash scripts/keeper-bench.sh [IDLE-SECONDS]
set -u
idle=${1:-120}
export PGUSER=clerk PGAPPNAME=bench
ms() { date +%s%3N; }
q() { PGAPPNAME=keeper-bench psql -Atqd kelvaron -c "$1"; } # not itself a console's session
shown() { xdotool search --onlyvisible --name '^Parameter configuration$' 2>/dev/null | head -n 1; }
./build/param-config-launch || exit 1
# The keeper on this display (other beds may run keepers of their own).
for p in $(pgrep -x param-config-la); do
    tr '\0' '\n' <"/proc/$p/environ" | grep -qx "DISPLAY=$DISPLAY" && keeper=$p
done
trap 'kill -KILL $keeper $(cat /proc/$keeper/task/$keeper/children 2>/dev/null) 2>/dev/null' EXIT
console() { cat "/proc/$keeper/task/$keeper/children" 2>/dev/null | tr -d ' '; }
ended=()
for i in $(seq 10); do
    until old=$(console) && [[ -n $old && -n $(shown) ]] &&
        q "select 1 from pg_stat_activity where application_name = 'bench'" | grep -q 1; do sleep 0.05; done
    t0=$(ms)
    q "select pg_terminate_backend(pid) from pg_stat_activity where application_name = 'bench'" >/dev/null
    while [[ -d /proc/$old ]]; do sleep 0.002; done
    ended+=($(($(ms) - t0)))
    until [[ -n $(console) && $(console) != "$old" && -n $(shown) ]]; do sleep 0.05; done
done
sorted=($(printf '%s\n' "${ended[@]}" | sort -n))
echo "connection closed to console ended (ms): ${ended[*]}; median $(((sorted[4] + sorted[5]) / 2)), worst ${sorted[9]}"
old=$(console)
t0=$(ms)
(cd "$TESTBED_DB_DIR" && nsenter -t "$TESTBED_PG_NETNS" -n runuser -u postgres -- \
    "$TESTBED_PG_BIN/pg_ctl" -D data -l log -w -m fast restart >/dev/null 2>&1)
t1=$(ms)
until [[ -n $(console) && $(console) != "$old" ]] && w=$(shown) && [[ -n $w ]]; do sleep 0.02; done
echo "restart took $((t1 - t0)) ms; new console shown $(($(ms) - t1)) ms after the server was back"
read -r u0 s0 < <(awk '{ print $14, $15 }' /proc/$keeper/stat)
sleep "$idle"
read -r u1 s1 < <(awk '{ print $14, $15 }' /proc/$keeper/stat)
hz=$(getconf CLK_TCK)
echo "keeper idle ${idle} s: $(((u1 + s1 - u0 - s0))) ticks of 1/$hz s, $(awk -v t=$((u1 + s1 - u0 - s0)) -v hz="$hz" -v s="$idle" 'BEGIN { printf "%.4f", 100 * t / hz / s }') % of a core"
awk '/^Private/ { kb += $2 } /^Rss/ { rss = $2 } END { print "keeper private memory " kb " kB (resident " rss " kB)" }' /proc/$keeper/smaps_rollup
