#!/usr/bin/env bash
# Shows param-config on a private PostgreSQL cluster loaded with a sample site
# (db/demo.sql; passwords in clear are listed there), with the audit trail of
# db/audit.sql recording what is changed. With a display, the
# program runs on it until closed. Without one, it runs on a private Xvfb and a
# screenshot is saved to build/demo-screenshot.png.
set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1
source scripts/testbed.sh

trap testbed_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

program=build/param-config
title='Parameter configuration'
graph_def=/home/Kelvaron/graph/graph.def

if [[ ! -x $program ]]; then
    echo "demo: $program is missing; run make demo" >&2
    exit 1
fi

testbed_start_db "$(mktemp -d /tmp/param-config-db.XXXXXX)" db/demo.sql || exit 1
# The trail goes in after the sample data, so it holds only what the demo changes.
"$TESTBED_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -d kelvaron -f db/audit.sql >/dev/null || exit 1

# The program rewrites some pairs in graph.def; give it a file to work on, but
# a site's own file is never touched, and what the demo wrote stays.
if [[ ! -e $graph_def ]]; then
    mkdir -p "${graph_def%/*}" || exit 1
    printf '%s\t%s\n' \
        TITLE Production \
        PRESSURE_UNITS bar \
        FLOW_UNITS mL/min \
        TIME_AXIS minutes >"$graph_def" || exit 1
    echo "demo: wrote sample $graph_def"
fi

if [[ -n ${DISPLAY:-} ]]; then
    echo "demo: changes are recorded; while it runs, see them with"
    echo "      psql -h $PGHOST -d kelvaron -c 'table audit.changes_this_week'"
    "$program"
    exit $?
fi

echo "demo: DISPLAY is not set; running on a private Xvfb and saving a screenshot."
testbed_start_x 1280x1024 || exit 1
testbed_start_wm || exit 1

"$program" &
pid=$!
testbed_track_pid "$pid"

window=
deadline=$((SECONDS + 20))
while ((SECONDS < deadline)); do
    window=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1)
    [[ -n $window ]] && break
    if ! testbed__alive "$pid"; then
        wait "$pid"
        echo "demo: $program exited with status $? before showing its window" >&2
        exit 1
    fi
    sleep 0.1
done
if [[ -z $window ]]; then
    echo "demo: no window titled \"$title\" appeared within 20 s" >&2
    exit 1
fi
sleep 1 # let it finish drawing

mkdir -p build
shot=$PWD/build/demo-screenshot.png
if ! xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$shot" || [[ ! -s $shot ]]; then
    echo "demo: taking the screenshot failed" >&2
    exit 1
fi
echo "$shot"
exit 0
