#!/usr/bin/env bash
# Builds the Debian package from a copy of the sources in OUT_DIR, so that
# dpkg-buildpackage's results, which it writes beside the tree it builds,
# land in OUT_DIR and the working tree stays as it is. Prints the .deb's path.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: build-deb.sh OUT_DIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
stage=$out/param-config-$version
deb=$out/param-config_${version}_${arch}.deb
log=$out/build.log

rm -rf -- "$stage" "$deb"
mkdir -p "$stage"
(cd "$src" && cp -a --parents CMakeLists.txt README.md manager/src helpfiles db doc debian "$stage/")

echo "build-deb: building in $stage (log: $log)"
# Bounded, so a hung build cannot hold up whoever waits for the package.
if ! (cd "$stage" && timeout --kill-after=10 900 \
    dpkg-buildpackage --build=binary --no-sign -j2) >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "build-deb: dpkg-buildpackage failed; see $log" >&2
    exit 1
fi
rm -rf -- "$stage"
[[ -f $deb ]] || { echo "build-deb: $deb was not made" >&2; exit 1; }
echo "$deb"
