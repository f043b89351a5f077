#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, but only
# those not yet installed, so a configured machine pays one dpkg-query per
# package and nothing else.
set -euo pipefail

packages=(
    # toolchain and test framework
    g++ make cmake libgtest-dev valgrind
    # the program: Motif/Xt/Xlib, embedded SQL preprocessor and its runtimes
    libmotif-dev libecpg-dev libpq-dev
    # a private PostgreSQL 15 cluster for tests and the demo
    postgresql
    # X: XTest for synthetic input, a virtual server with core fonts, a window manager,
    # xdotool/xdpyinfo/xprop to drive and probe it, xwd + netpbm for screenshots
    libxtst-dev xvfb xfonts-base twm xdotool x11-utils x11-apps netpbm
    # shipping: the Debian package, man page and desktop entry checks
    debhelper dpkg-dev man-db groff-base desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ $status == installed ]] || missing+=("$p")
done

((${#missing[@]} == 0)) && exit 0

echo "install-deps: installing ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
