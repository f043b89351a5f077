#!/usr/bin/env bash
# Builds the Debian package from a copy of the sources in OUT_DIR, so that
# dpkg-buildpackage's results, which it writes beside the tree it builds,
# land in OUT_DIR and the working tree stays as it is: the console's package
# and the database server's (param-config-admin, architecture all). Prints
# the two .debs' paths.
#
# The maintainer, in debian/control and the top changelog entry, is taken
# from DEBFULLNAME and DEBEMAIL as Debian's own tools take it (DEBEMAIL may
# also be "Name <address>"); unset, it is the project's own placeholder.
# build-deb.sh --maintainer FILE writes that maintainer to FILE, only when
# it changed, so the build can rebuild the package when it does.
set -euo pipefail

maintainer() {
    local name=${DEBFULLNAME:-} email=${DEBEMAIL:-}
    if [[ $email =~ ^(.*[^[:space:]])[[:space:]]*\<(.+)\>$ ]]; then
        name=${name:-${BASH_REMATCH[1]}}
        email=${BASH_REMATCH[2]}
    fi
    echo "${name:-param-config} <${email:-param-config@example.invalid}>"
}

if [[ ${1:-} == --maintainer ]]; then
    file=${2:?usage: build-deb.sh --maintainer FILE}
    mkdir -p "$(dirname "$file")"
    line=$(maintainer)
    [[ -f $file && $(<"$file") == "$line" ]] || echo "$line" >"$file"
    exit 0
fi

src=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: build-deb.sh OUT_DIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)

version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
arch=$(dpkg --print-architecture)
stage=$out/param-config-$version
debs=("$out/param-config_${version}_${arch}.deb" "$out/param-config-admin_${version}_all.deb")
log=$out/build.log

rm -rf -- "$stage" "${debs[@]}"
mkdir -p "$stage"
(cd "$src" && cp -a --parents CMakeLists.txt README.md LICENSE manager/src admin helpfiles db doc debian "$stage/")
who=$(maintainer)
who=${who//\\/\\\\}; who=${who//&/\\&}; who=${who//|/\\|} # literal in sed's replacement
sed -i "s|^Maintainer: .*|Maintainer: $who|" "$stage/debian/control"
# The trailer of the first entry: " -- NAME <ADDRESS>  DATE".
sed -i "0,/^ -- .*>  /s|^ -- .*>  | -- $who  |" "$stage/debian/changelog"

echo "build-deb: building in $stage (log: $log)"
# Bounded, so a hung build cannot hold up whoever waits for the package.
if ! (cd "$stage" && timeout --kill-after=10 900 \
    dpkg-buildpackage --build=binary --no-sign -j2) >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "build-deb: dpkg-buildpackage failed; see $log" >&2
    exit 1
fi
rm -rf -- "$stage"
for deb in "${debs[@]}"; do
    [[ -f $deb ]] || { echo "build-deb: $deb was not made" >&2; exit 1; }
    echo "$deb"
done
