#!/usr/bin/env bash
# Shows param-config surviving the loss of its database server: a primary and
# a synchronous streaming standby on private sockets, the program started
# with both hosts and PGTARGETSESSIONATTRS=read-write, an operator added
# through its window, the primary stopped, the standby promoted, the program
# started again, and the operator still there. Without a display it runs on
# a private Xvfb, and screenshots go to build/standby-demo-*.png.
#
# The program is driven with xdotool: the operator panel's fields and
# buttons are found in the window tree by their shape (the only panel with a
# row of three buttons, beside a pair of text fields).
set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1
source scripts/testbed.sh

testbed_stop_on_exit

program=build/param-config
title='Parameter configuration'
name=dora
password=tulip

say() { echo "standby-demo: $*"; }
fail() { echo "standby-demo: $*" >&2; exit 1; }

if [[ ! -x $program ]]; then
    fail "$program is missing; run make standby-demo"
fi

# ------------------------------------------------------------------ servers

# The primary is the test bed's cluster with the sample site; the standby is
# a base backup of it, streaming from the primary's socket.
testbed_start_db "$(mktemp -d /tmp/param-config-primary.XXXXXX)" db/demo.sql || exit 1
primary_dir=$TESTBED_DB_DIR
primary_sock=$PGHOST

standby_dir=
# shellcheck disable=SC2317 # run by testbed_stop
standby_stop() {
    local pid=
    [[ -n $standby_dir ]] || return 0
    if [[ -f $standby_dir/data/postmaster.pid ]]; then
        pid=$(head -n 1 "$standby_dir/data/postmaster.pid")
        runuser -u postgres -- "$TESTBED_PG_BIN/pg_ctl" -D "$standby_dir/data" -m fast -w -t 30 \
            stop >/dev/null 2>&1
        [[ -n $pid ]] && testbed__kill_pid "$pid"
    fi
    rm -rf -- "$standby_dir"
    standby_dir=
}
testbed__push standby_stop
standby_dir=$(mktemp -d /tmp/param-config-standby.XXXXXX) || exit 1
standby_sock=$standby_dir/sock
mkdir "$standby_sock" && chown postgres: "$standby_dir" "$standby_sock" || exit 1

# -R writes the standby's connection to the primary; cluster_name is the
# name the primary waits for (synchronous_standby_names below).
(cd "$standby_dir" && runuser -u postgres -- "$TESTBED_PG_BIN/pg_basebackup" \
    -D "$standby_dir/data" -h "$primary_sock" -p 5432 -U postgres -X stream -R --no-sync -c fast) ||
    fail "pg_basebackup failed"
(cd "$standby_dir" && runuser -u postgres -- "$TESTBED_PG_BIN/pg_ctl" -D "$standby_dir/data" \
    -l "$standby_dir/log" -w -t 30 \
    -o "-c listen_addresses='' -k $standby_sock -p 5432 -c fsync=off -c cluster_name=standby" \
    start >/dev/null) || { cat "$standby_dir/log" >&2; fail "the standby did not start"; }

psql_on() { # SOCKET, then psql arguments
    local sock=$1
    shift
    "$TESTBED_PG_BIN/psql" -X -q -At -h "$sock" -p 5432 -d kelvaron "$@"
}

# From now on a commit on the primary returns only once the standby has it.
psql_on "$primary_sock" -c "ALTER SYSTEM SET synchronous_standby_names = 'standby'" \
    -c 'SELECT pg_reload_conf()' >/dev/null || exit 1
testbed__wait_for 20 "[[ \$(psql_on '$primary_sock' -c \"SELECT sync_state FROM pg_stat_replication WHERE application_name = 'standby'\") == sync ]]" ||
    fail "the standby did not become synchronous"
say "primary on $primary_sock, synchronous standby on $standby_sock"

# ---------------------------------------------------------------- the tool

if [[ -z ${DISPLAY:-} ]]; then
    say "DISPLAY is not set; running on a private Xvfb"
    testbed_start_x 1280x1024 || exit 1
    testbed_start_wm || exit 1
fi

# Both hosts, the standby first: read-write makes the client library skip it.
tool_hosts=$standby_sock,$primary_sock

window=
tool_pid=
start_tool() {
    local deadline=$((SECONDS + 20)) others
    # The program sets no _NET_WM_PID, so its window is the one with its
    # title that was not there before (a display may show other copies).
    others=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null)
    PGHOST=$tool_hosts PGPORT=5432 PGTARGETSESSIONATTRS=read-write "$program" &
    tool_pid=$!
    testbed_track_pid "$tool_pid"
    window=
    while ((SECONDS < deadline)); do
        window=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null |
            grep -vxF -e "${others:-none}" | head -n 1)
        [[ -n $window ]] && { sleep 1; return 0; }
        if ! testbed__alive "$tool_pid"; then
            wait "$tool_pid"
            fail "$program exited with status $? before showing its window"
        fi
        sleep 0.1
    done
    fail "no window titled \"$title\" appeared within 20 s"
}

stop_tool() {
    testbed__kill_pid "$tool_pid"
    tool_pid=
}

# Centres, in root coordinates, of the operator panel's List, Add and Remove
# buttons and its name and password fields, as "NAME X Y" lines.
operator_panel() {
    xwininfo -id "$window" -tree | awk '
        /^ +0x[0-9a-f]+ / {
            match($0, /^ +/); depth = RLENGTH
            while (n > 0 && stack_depth[n] >= depth) n--
            id = $1; parent[id] = n > 0 ? stack_id[n] : ""
            n++; stack_id[n] = id; stack_depth[n] = depth
            kids[parent[id]] = kids[parent[id]] " " id
            for (i = 2; i <= NF; i++)
                if ($i ~ /^[0-9]+x[0-9]+[-+][0-9]+[-+][0-9]+$/) {
                    split($i, g, /[x+-]/); w[id] = g[1]; h[id] = g[2]
                    split($(i + 1), a, /[+]/); x[id] = a[2]; y[id] = a[3]
                    break
                }
        }
        END {
            for (row in kids) {
                if (split(kids[row], b, " ") != 3) continue
                if (h[b[1]] > 30 || h[b[2]] > 30 || h[b[3]] > 30) continue
                split(kids[parent[row]], sib, " ")
                for (s in sib) {
                    if (split(kids[sib[s]], f, " ") != 2 || h[f[1]] < 25 || h[f[2]] < 25) continue
                    # Buttons left to right, fields top to bottom.
                    for (i = 1; i <= 3; i++) for (j = i + 1; j <= 3; j++)
                        if (x[b[j]] < x[b[i]]) { t = b[i]; b[i] = b[j]; b[j] = t }
                    if (y[f[2]] < y[f[1]]) { t = f[1]; f[1] = f[2]; f[2] = t }
                    split("list add remove", nm, " ")
                    for (i = 1; i <= 3; i++) print nm[i], x[b[i]] + int(w[b[i]] / 2), y[b[i]] + int(h[b[i]] / 2)
                    print "name", x[f[1]] + int(w[f[1]] / 2), y[f[1]] + int(h[f[1]] / 2)
                    print "password", x[f[2]] + int(w[f[2]] / 2), y[f[2]] + int(h[f[2]] / 2)
                    exit
                }
            }
        }'
}

declare -A at
locate_panel() {
    local key px py
    at=()
    while read -r key px py; do at[$key]="$px $py"; done < <(operator_panel)
    [[ -n ${at[add]:-} && -n ${at[name]:-} ]] || fail "the operator panel was not found in the window"
}

click() { # list, add, remove, name or password
    # shellcheck disable=SC2086
    xdotool mousemove ${at[$1]} sleep 0.2 click 1 sleep 0.3
}

clear_and_type() { # field, text: what is there goes first
    click "$1"
    xdotool key End
    local i
    for ((i = 0; i < 8; i++)); do xdotool key BackSpace; done
    xdotool type --delay 50 "$2"
    sleep 0.2
}

shoot() { # PNG file
    mkdir -p build
    testbed_shoot "$window" "$1" && say "screenshot $1"
}

operators_on() { # SOCKET
    psql_on "$1" -c 'SELECT rtrim(operator) FROM operator_list ORDER BY 1' | paste -sd' '
}

# -------------------------------------------------------------- the story

start_tool
locate_panel
say "the tool started with PGHOST=$tool_hosts and PGTARGETSESSIONATTRS=read-write"
clear_and_type name "$name"
clear_and_type password "$password"
click add
sleep 0.5
shoot "$PWD/build/standby-demo-added.png"
say "added operator $name; primary has: $(operators_on "$primary_sock")"
say "                    standby has: $(operators_on "$standby_sock")"
[[ " $(operators_on "$standby_sock") " == *" $name "* ]] || fail "the standby does not have $name"

say "stopping the primary"
(cd "$primary_dir" && runuser -u postgres -- "$TESTBED_PG_BIN/pg_ctl" -D "$primary_dir/data" \
    -m fast -w -t 30 stop >/dev/null) || fail "the primary did not stop"

# A running console keeps its window, but its connection is gone for good:
# what it is asked to store now is lost, whatever its message pane says.
clear_and_type name erik
click add
sleep 0.5
shoot "$PWD/build/standby-demo-orphaned.png"
say "the running tool was asked to add erik with its server gone; it stays up ($(testbed__alive "$tool_pid" && echo running)) but stores nothing"
stop_tool

say "promoting the standby"
(cd "$standby_dir" && runuser -u postgres -- "$TESTBED_PG_BIN/pg_ctl" -D "$standby_dir/data" -w -t 30 promote \
    >/dev/null) || fail "the standby was not promoted"

start_tool
locate_panel
click list
sleep 0.5
shoot "$PWD/build/standby-demo-after.png"
server=$(psql_on "$standby_sock" -c "SELECT count(*) FROM pg_stat_activity WHERE datname = 'kelvaron' AND pid <> pg_backend_pid() AND backend_type = 'client backend'")
say "the tool started again, connected to the promoted standby ($server session there)"
after=$(operators_on "$standby_sock")
say "operators after the takeover: $after"
[[ " $after " == *" $name "* ]] || fail "$name was lost in the takeover"
[[ " $after " != *" erik "* ]] || fail "erik was stored although its console had lost its server"
say "$name, added before the primary stopped, is there; erik, asked of the console whose server had gone, is not"
exit 0
