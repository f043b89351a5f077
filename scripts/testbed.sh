# shellcheck shell=bash
# Test bed for param-config: a private X server, a window manager, a throwaway
# PostgreSQL cluster and a scratch graph directory, all torn down again.
#
# Source this file, then:
#   testbed_stop_on_exit           # traps that run testbed_stop however the shell ends
#   testbed_start_x 1280x1024      # Xvfb on a free display, exports DISPLAY
#   testbed_start_wm               # twm with scripts/twmrc
#   testbed_start_db DIR [DATA]    # cluster in DIR, kelvaron set up, exports PGHOST;
#                                  # TESTBED_PG_OPTIONS adds server settings,
#                                  # TESTBED_PG_PORT its port (5432), TESTBED_PG_NETNS
#                                  # the pid whose network namespace it listens in
#   testbed_graph_scratch          # empty /home/Kelvaron/graph, the real one kept aside
#   testbed_track_pid PID          # stop a process of the caller's along with the rest
#   testbed_shoot WINDOW PNG       # a window with its frame as a PNG
#   testbed_stop                   # undo all of it, newest first; safe to call again
#
# Every start pushes its own undo step before it changes anything, so a start that
# fails half way is still cleaned up by testbed_stop. Processes are stopped by the
# pid recorded here, never by name: other X servers or clusters may be running.
#
# Functions return non-zero with a message on stderr; the library never exits.

TESTBED_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TESTBED_PG_BIN=${TESTBED_PG_BIN:-/usr/lib/postgresql/15/bin}
TESTBED_GRAPH_DIR=/home/Kelvaron/graph

TESTBED_UNDO=()
TESTBED_TMP=
TESTBED_XVFB_PID=
TESTBED_WM_PID=
TESTBED_DB_DIR=
TESTBED_DB_STARTED=
TESTBED_GRAPH_BACKUP=
TESTBED_GRAPH_CREATED=
TESTBED_GRAPH_PARENT_CREATED=

testbed__say() { echo "testbed: $*" >&2; }

testbed__push() { TESTBED_UNDO+=("$*"); }

# Logs of the X server and the window manager live here until testbed_stop.
testbed__tmp() {
    if [[ -z $TESTBED_TMP ]]; then
        TESTBED_TMP=$(mktemp -d /tmp/param-config-testbed.XXXXXX) || return 1
        testbed__push testbed__remove_tmp
    fi
}

testbed__remove_tmp() {
    [[ -n $TESTBED_TMP ]] && rm -rf -- "$TESTBED_TMP"
    TESTBED_TMP=
}

# Polls CMD (a string for eval) every 0.1 s for at most SECONDS; fails on timeout.
testbed__wait_for() {
    local seconds=$1 cmd=$2 i
    for ((i = 0; i < seconds * 10; i++)); do
        eval "$cmd" && return 0
        sleep 0.1
    done
    return 1
}

# True while PID runs. kill -0 alone also succeeds for a child that has exited
# but is not reaped yet, so the state in /proc decides.
testbed__alive() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

# TERM, a bounded wait, then KILL; reaps the child if it is ours.
testbed__kill_pid() {
    local pid=$1 i
    [[ -n $pid ]] || return 0
    if testbed__alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null
        for ((i = 0; i < 50; i++)); do
            testbed__alive "$pid" || break
            sleep 0.1
        done
        if testbed__alive "$pid"; then
            testbed__say "pid $pid ignored TERM, killing it"
            kill -KILL "$pid" 2>/dev/null
        fi
    fi
    wait "$pid" 2>/dev/null
    return 0
}

testbed_track_pid() {
    testbed__push testbed__kill_pid "$1"
}

# ---------------------------------------------------------------- X server

testbed_start_x() {
    local geometry=${1:-1280x1024} n log
    testbed__tmp || return 1
    log=$TESTBED_TMP/xvfb.log
    testbed__push testbed__stop_x
    for ((n = 91; n < 200; n++)); do
        [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
        Xvfb ":$n" -screen 0 "${geometry}x24" -nolisten tcp >"$log" 2>&1 &
        TESTBED_XVFB_PID=$!
        # Another server may take the number between the probe and the start;
        # Xvfb then exits and the next number is tried.
        if testbed__wait_for 10 \
            "! testbed__alive $TESTBED_XVFB_PID || xdpyinfo -display :$n >/dev/null 2>&1" &&
            testbed__alive "$TESTBED_XVFB_PID"; then
            export DISPLAY=:$n
            return 0
        fi
        testbed__kill_pid "$TESTBED_XVFB_PID"
        TESTBED_XVFB_PID=
        if grep -q 'already active' "$log" 2>/dev/null; then
            continue
        fi
        testbed__say "Xvfb :$n did not come up:"
        cat "$log" >&2
        return 1
    done
    testbed__say "no free X display number in :91..:199"
    return 1
}

testbed__stop_x() {
    testbed__kill_pid "$TESTBED_XVFB_PID"
    TESTBED_XVFB_PID=
}

# ---------------------------------------------------------- window manager

testbed_start_wm() {
    local log
    [[ -n ${DISPLAY:-} ]] || { testbed__say "testbed_start_wm: DISPLAY is not set"; return 1; }
    testbed__tmp || return 1
    log=$TESTBED_TMP/twm.log
    testbed__push testbed__stop_wm
    # C locale: twm otherwise warns about every font set charset the core
    # fonts lack, which would bury real configuration errors in its log.
    LC_ALL=C twm -display "$DISPLAY" -f "$TESTBED_ROOT/scripts/twmrc" >"$log" 2>&1 &
    TESTBED_WM_PID=$!
    # twm creates its icon manager window only after reading its configuration
    # and taking over the root window, so its presence means windows mapped from
    # now on get managed.
    if ! testbed__wait_for 10 \
        "! testbed__alive $TESTBED_WM_PID || xwininfo -root -tree 2>/dev/null | grep -q '\"TWM Icon Manager\"'" ||
        ! testbed__alive "$TESTBED_WM_PID"; then
        testbed__say "twm did not come up:"
        cat "$log" >&2
        return 1
    fi
    if grep -Eq 'error|unknown keyword' "$log"; then
        testbed__say "twm rejected scripts/twmrc:"
        cat "$log" >&2
        return 1
    fi
    return 0
}

testbed__stop_wm() {
    testbed__kill_pid "$TESTBED_WM_PID"
    TESTBED_WM_PID=
}

# ------------------------------------------------------------ screenshots

# The window manager's frame around window $1: its ancestor just below the root.
testbed_frame_of() {
    local w=$1 parent root
    root=$(xwininfo -root | awk '/Window id:/ { print $4 }')
    while parent=$(xwininfo -id "$w" -tree | awk '/Parent window id:/ { print $4 }') &&
        [[ -n $parent && $((parent)) != $((root)) ]]; do
        w=$parent
    done
    echo "$w"
}

# Window $1 with its frame into the PNG file $2; fails if nothing was written.
testbed_shoot() {
    xwd -id "$(testbed_frame_of "$1")" -silent | xwdtopnm 2>/dev/null | pnmtopng >"$2" && [[ -s $2 ]]
}

# ------------------------------------------------------------- PostgreSQL

# Runs a PostgreSQL server binary as postgres (initdb refuses root) from a
# directory postgres may enter, in the network namespace asked for.
testbed__as_postgres() {
    (cd "$TESTBED_DB_DIR" && ${TESTBED_PG_NETNS:+nsenter -t "$TESTBED_PG_NETNS" -n} runuser -u postgres -- "$@")
}

testbed_start_db() {
    local dir=${1:?testbed_start_db DIR [DATA.sql]} data=${2:-} me sock
    if [[ ! -x $TESTBED_PG_BIN/initdb ]]; then
        testbed__say "no PostgreSQL server binaries in $TESTBED_PG_BIN"
        return 1
    fi
    if [[ -e $dir && -n $(ls -A "$dir" 2>/dev/null) ]]; then
        testbed__say "$dir exists and is not empty; the cluster needs a directory of its own"
        return 1
    fi
    if [[ -n $data && ! -r $data ]]; then
        testbed__say "cannot read $data"
        return 1
    fi
    mkdir -p "$dir" || return 1
    TESTBED_DB_DIR=$(cd "$dir" && pwd)
    testbed__push testbed__stop_db
    sock=$TESTBED_DB_DIR/sock
    # The server's socket path must fit in sun_path (107 bytes).
    if ((${#sock} + 17 > 107)); then
        testbed__say "socket directory path too long: $sock"
        return 1
    fi
    mkdir -p "$sock" && chown postgres: "$TESTBED_DB_DIR" "$sock" || return 1

    testbed__as_postgres "$TESTBED_PG_BIN/initdb" -D "$TESTBED_DB_DIR/data" -A trust \
        --no-sync -E SQL_ASCII --locale=C >"$TESTBED_DB_DIR/initdb.log" 2>&1 || {
        testbed__say "initdb failed:"
        cat "$TESTBED_DB_DIR/initdb.log" >&2
        return 1
    }
    # No TCP at all, and a socket directory nobody else uses, so this cluster
    # can neither collide with nor be reached instead of any other on the host.
    TESTBED_DB_STARTED=1
    testbed__as_postgres "$TESTBED_PG_BIN/pg_ctl" -D "$TESTBED_DB_DIR/data" \
        -l "$TESTBED_DB_DIR/log" -w -t 30 \
        -o "-c listen_addresses='' -k $sock -p ${TESTBED_PG_PORT:-5432} -c fsync=off ${TESTBED_PG_OPTIONS:-}" start >/dev/null || {
        testbed__say "the server did not start:"
        cat "$TESTBED_DB_DIR/log" >&2
        return 1
    }

    # Clients here get exactly this cluster through libpq's defaults; anything
    # inherited that would point them elsewhere or as someone else goes.
    unset PGHOSTADDR PGUSER PGDATABASE PGSERVICE PGSERVICEFILE PGPASSWORD PGPASSFILE \
        PGCLIENTENCODING PGOPTIONS
    export PGHOST=$sock PGPORT=${TESTBED_PG_PORT:-5432}

    # The program connects as the OS user without naming a role.
    me=$(id -un)
    if [[ $me != postgres ]]; then
        testbed__as_postgres "$TESTBED_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -d postgres \
            -v role="$me" <<<'CREATE ROLE :"role" SUPERUSER LOGIN;' || return 1
    fi
    # The site as its administrator sets it up: kelvaron, its tables and
    # guards, the tool's role, the audit trail and the one parameters row.
    "$TESTBED_ROOT/admin/param-config-admin" setup >/dev/null || return 1
    if [[ -n $data ]]; then
        testbed__psql_file "$data" || return 1
    fi
    return 0
}

testbed__psql_file() {
    "$TESTBED_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -d kelvaron -f "$1" >/dev/null || {
        testbed__say "loading $1 failed"
        return 1
    }
}

testbed__stop_db() {
    local dir=$TESTBED_DB_DIR pid=
    [[ -n $dir ]] || return 0
    if [[ -n $TESTBED_DB_STARTED && -f $dir/data/postmaster.pid ]]; then
        pid=$(head -n 1 "$dir/data/postmaster.pid")
        testbed__as_postgres "$TESTBED_PG_BIN/pg_ctl" -D "$dir/data" -m fast -w -t 30 \
            stop >/dev/null 2>&1
        # pg_ctl's own wait failing must not leave a server holding the directory.
        if [[ -n $pid ]] && testbed__alive "$pid"; then
            testbed__say "postmaster $pid still running after pg_ctl stop"
            testbed__kill_pid "$pid"
        fi
    fi
    rm -rf -- "$dir"
    TESTBED_DB_DIR=
    TESTBED_DB_STARTED=
}

# ----------------------------------------------------- graph directory

# The program rewrites files in /home/Kelvaron/graph; a site's real directory
# is put aside under a unique name and put back whatever way the run ends.
testbed_graph_scratch() {
    local parent=${TESTBED_GRAPH_DIR%/*} old
    for old in "$TESTBED_GRAPH_DIR".testbed-saved-*; do
        [[ -e $old ]] && testbed__say "note: $old was left by an interrupted run; check and restore it by hand"
    done
    testbed__push testbed_graph_restore
    if [[ ! -d $parent ]]; then
        mkdir -p "$parent" || return 1
        TESTBED_GRAPH_PARENT_CREATED=1
    fi
    if [[ -e $TESTBED_GRAPH_DIR || -L $TESTBED_GRAPH_DIR ]]; then
        TESTBED_GRAPH_BACKUP=$TESTBED_GRAPH_DIR.testbed-saved-$(date +%Y%m%d-%H%M%S)-$$
        mv -T -- "$TESTBED_GRAPH_DIR" "$TESTBED_GRAPH_BACKUP" || {
            TESTBED_GRAPH_BACKUP=
            return 1
        }
    fi
    mkdir "$TESTBED_GRAPH_DIR" || return 1
    TESTBED_GRAPH_CREATED=1
}

testbed_graph_restore() {
    if [[ -n $TESTBED_GRAPH_CREATED ]]; then
        rm -rf -- "$TESTBED_GRAPH_DIR"
        TESTBED_GRAPH_CREATED=
    fi
    if [[ -n $TESTBED_GRAPH_BACKUP ]]; then
        if [[ -e $TESTBED_GRAPH_DIR || -L $TESTBED_GRAPH_DIR ]]; then
            testbed__say "cannot restore $TESTBED_GRAPH_DIR: it exists; the original is at $TESTBED_GRAPH_BACKUP"
        else
            mv -T -- "$TESTBED_GRAPH_BACKUP" "$TESTBED_GRAPH_DIR" &&
                TESTBED_GRAPH_BACKUP=
        fi
    fi
    if [[ -n $TESTBED_GRAPH_PARENT_CREATED ]]; then
        rmdir -- "${TESTBED_GRAPH_DIR%/*}" 2>/dev/null
        TESTBED_GRAPH_PARENT_CREATED=
    fi
    return 0
}

# ------------------------------------------------------------------ stop

testbed_stop() {
    local step
    while ((${#TESTBED_UNDO[@]} > 0)); do
        step=${TESTBED_UNDO[-1]}
        unset 'TESTBED_UNDO[-1]'
        eval "$step"
    done
    return 0
}

# Stops everything this shell started, however it ends: exit, Ctrl-C, kill.
testbed_stop_on_exit() {
    trap testbed_stop EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
}
