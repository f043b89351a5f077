#!/usr/bin/env bash
# Shows param-config on a private PostgreSQL cluster whose kelvaron
# param-config-admin set up, loaded with a sample site (db/demo.sql; passwords
# in clear are listed there), its audit trail recording what is changed. With
# a display, the program runs on it until closed. Without one, it runs on a
# private Xvfb and a screenshot of the main window is saved to
# build/demo-screenshot.png; with DEMO_DIALOGS=1 also of both dialogs, opened
# through the menu bar, to build/demo-gas.png and build/demo-help.png.
set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1
source scripts/testbed.sh

testbed_stop_on_exit

program=build/param-config
title='Parameter configuration'
graph_def=/home/Kelvaron/graph/graph.def

if [[ ! -x $program ]]; then
    echo "demo: $program is missing; run make demo" >&2
    exit 1
fi

testbed_start_db "$(mktemp -d /tmp/param-config-db.XXXXXX)" db/demo.sql || exit 1
# The trail goes in after the sample data, so it holds only what the demo changes.

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
    echo "      PGHOST=$PGHOST admin/param-config-admin audit"
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

# "ID X Y WIDTH HEIGHT" of each child of window $1. An empty id would make
# xwininfo wait for a click, so it is refused here.
window_children() {
    [[ -n ${1:-} ]] || return 1
    xwininfo -id "$1" -children | awk '/^ +0x[0-9a-f]+ / {
        for (i = 2; i <= NF; i++)
            if ($i ~ /^[0-9]+x[0-9]+[-+][0-9]+[-+][0-9]+$/) {
                split($i, g, /[x+-]/); print $1, g[3], g[4], g[1], g[2]; break
            }
    }'
}

# Presses and releases a button of the main window's menu bar, counted from
# the right (1 is Help). The menu bar is the topmost child of the shell's form.
click_menu_bar_button() {
    local form bar button width height
    form=$(window_children "$window" | head -n 1 | cut -d' ' -f1)
    bar=$(window_children "$form" | sort -k3,3n | head -n 1 | cut -d' ' -f1)
    read -r button _ _ width height < <(window_children "$bar" | sort -k2,2n | tail -n "$1" | head -n 1)
    [[ -n $button ]] || return 1
    xdotool mousemove --window "$button" $((width / 2)) $((height / 2)) mousedown 1 sleep 0.3 mouseup 1
}

# The dialog whose shell has the instance name $1, once it is shown.
wait_for_dialog() {
    local found deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        found=$(xdotool search --onlyvisible --classname "^$1\$" 2>/dev/null | head -n 1)
        [[ -n $found ]] && { echo "$found"; return 0; }
        sleep 0.1
    done
    return 1
}

mkdir -p build
shot=$PWD/build/demo-screenshot.png
if ! testbed_shoot "$window" "$shot"; then
    echo "demo: taking the screenshot failed" >&2
    exit 1
fi
echo "$shot"

# DEMO_DIALOGS=1: open both dialogs through the menu bar and shoot them too.
if [[ ${DEMO_DIALOGS:-} == 1 ]]; then
    for dialog in "2 db_gas_mix_f gas" "1 db_help_f help"; do
        read -r button shell name <<<"$dialog"
        if ! click_menu_bar_button "$button" || ! found=$(wait_for_dialog "$shell"); then
            echo "demo: the $name dialog did not open" >&2
            exit 1
        fi
        sleep 1 # let it finish drawing
        if ! testbed_shoot "$found" "$PWD/build/demo-$name.png"; then
            echo "demo: taking the $name screenshot failed" >&2
            exit 1
        fi
        echo "$PWD/build/demo-$name.png"
    done
fi
exit 0
