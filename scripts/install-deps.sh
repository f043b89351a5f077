#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, but only
# those not yet installed, so a configured machine pays one dpkg-query per
# package and nothing else. When another install holds apt's or dpkg's lock,
# it waits for that to finish (up to APT_LOCK_WAIT seconds, default 600)
# instead of failing.
set -euo pipefail

packages=(
    # toolchain and test framework
    g++ make cmake libgtest-dev valgrind
    # the program: Motif/Xt/Xlib, embedded SQL preprocessor and its runtimes
    libmotif-dev libecpg-dev libpq-dev
    # the menu entry's launcher: which process made a window (X-Resource extension)
    libxres-dev
    # a private PostgreSQL 15 cluster for tests and the demo
    postgresql
    # X: XTest for synthetic input, a virtual server with core fonts, a window manager,
    # xdotool/xdpyinfo/xprop to drive and probe it, xwd + netpbm for screenshots
    libxtst-dev xvfb xfonts-base twm xdotool x11-utils x11-apps netpbm
    # a server in a network namespace of the tests' own, its loopback taken down
    iproute2
    # shipping: the Debian package, man page and desktop entry checks
    debhelper dpkg-dev man-db groff-base desktop-file-utils lintian
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ $status == installed ]] || missing+=("$p")
done

((${#missing[@]} == 0)) && exit 0

# apt-get waits for dpkg's locks when given DPkg::Lock::Timeout, but not for
# the package lists' or the download cache's lock: a run that fails on a
# lock is tried again until the wait is used up.
wait_s=${APT_LOCK_WAIT:-600}
apt_get() {
    local deadline=$((SECONDS + wait_s)) err status
    err=$(mktemp)
    while :; do
        status=0
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout="$wait_s" "$@" 2>"$err" || status=$?
        if ((status == 0)) || ! grep -q 'Could not get lock' "$err" || ((SECONDS >= deadline)); then
            cat "$err" >&2
            rm -f "$err"
            return "$status"
        fi
        echo "install-deps: another package install is running; waiting" >&2
        sleep 3
    done
}

echo "install-deps: installing ${missing[*]}"
apt_get update -qq
apt_get install -y -qq "${missing[@]}"
