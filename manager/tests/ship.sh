#!/usr/bin/env bash
# The shipped forms, checked with Debian's own tools: the packages (make deb
# built them) and what make install stages under a DESTDIR. Installs nothing
# outside a scratch directory. Usage: ship.sh BUILD_DIR, from the source root.
set -u
build=$(cd "${1:?usage: ship.sh BUILD_DIR}" && pwd)
failed=0
fail() { echo "ship: FAIL: $*" >&2; failed=1; }

shopt -s nullglob
debs=("$build"/deb/*.deb)
((${#debs[@]})) || { echo "ship: FAIL: no package in $build/deb; run make deb" >&2; exit 1; }

scratch=$(mktemp -d /tmp/param-config-ship.XXXXXX)
kept=(installed-files.txt installed-dirs.txt)
restore() { for f in "${kept[@]}"; do [[ -f $scratch/$f ]] && mv "$scratch/$f" "$build/$f"; done; rm -rf -- "$scratch"; }
trap restore EXIT

# lintian: no error and no warning, on both packages and the debug symbols.
# Its temporary files go to the scratch directory, which it does not clean.
out=$(TMPDIR=$scratch lintian "${debs[@]}" 2>&1)
grep -E '^[EW]: ' <<<"$out" && fail "lintian reports the lines above"

# Each package holds its part: the console's the program and what it shows,
# the database server's the command, its SQL files and its guide; the
# server's needs nothing of X.
console=(./usr/bin/param-config ./usr/bin/param-config-launch ./usr/share/param-config/helpfiles/param-config.hlp
    ./usr/share/man/man1/param-config.1.gz ./usr/share/man/man1/param-config-launch.1.gz
    ./usr/share/applications/param-config.desktop ./usr/share/icons/hicolor/scalable/apps/param-config.svg
    ./usr/share/doc/param-config/copyright)
server=(./usr/sbin/param-config-admin ./usr/share/man/man8/param-config-admin.8.gz
    ./usr/share/param-config/db/pg_service.conf ./usr/share/doc/param-config-admin/site-guide.md.gz
    ./usr/share/doc/param-config-admin/copyright)
server+=($(ls db/*.sql | grep -vx db/demo.sql | sed 's|^|./usr/share/param-config/|'))
holds() { # PACKAGE FILE...; a link's name, not its target
    local pkg=$1 listing; shift; listing=$(dpkg -c "$build/deb/$pkg"_*.deb | awk '{ print $6 }')
    for f; do grep -qxF -- "$f" <<<"$listing" || fail "package $pkg lacks $f"; done; }
holds param-config "${console[@]}"
holds param-config-admin "${server[@]}"
# The admin package runs psql, and needs nothing of X.
depends=$(dpkg -f "$build"/deb/param-config-admin_*.deb Depends)
[[ $depends == *postgresql-client* && $depends != *@(libx|motif)* ]] || fail "param-config-admin depends on: $depends"

# make install into a scratch root, the entry and man page checked there,
# then make uninstall: not a file nor a directory may be left.
# The build's record of a real install is kept aside meanwhile.
for f in "${kept[@]}"; do [[ -f $build/$f ]] && mv "$build/$f" "$scratch/$f"; done
root=$scratch/root
make -s install DESTDIR="$root" PREFIX=/usr/local >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log"; fail "make install DESTDIR=$root"; }
entry=$root/usr/local/share/applications/param-config.desktop
[[ -f $entry ]] || fail "no desktop entry at $entry"
out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
[[ -z $out ]] || fail "desktop-file-validate: $out"
grep -qx 'Icon=param-config' "$entry" || fail "the desktop entry names no icon"
# The entry starts the launcher, which keeps its console, where the help text is.
exec=$(sed -n 's/^Exec=//p' "$entry") path=$(sed -n 's/^Path=//p' "$entry")
[[ $exec == */param-config-launch && -x $root$exec ]] || fail "the desktop entry starts $exec"
[[ -f $root$path/helpfiles/param-config.hlp ]] || fail "the desktop entry starts in $path, without the help text"
[[ -f $root/usr/local/share/icons/hicolor/scalable/apps/param-config.svg ]] || fail "icon not installed"
for page in man1/param-config.1 man1/param-config-launch.1 man8/param-config-admin.8; do
    out=$(MANWIDTH=80 man --warnings -l "$root/usr/local/share/man/$page" 2>&1 >/dev/null)
    [[ -z $out ]] || fail "man --warnings $page: $out"
done
make -s uninstall >"$scratch/uninstall.log" 2>&1 ||
    { cat "$scratch/uninstall.log"; fail "make uninstall"; }
if [[ -e $root ]]; then
    left=$(find "$root" -mindepth 0 | head -n 20)
    fail "make uninstall left behind: $left"
fi

((failed)) && exit 1
echo "ship: packages, install and uninstall as expected"
