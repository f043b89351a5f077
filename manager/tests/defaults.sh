#!/usr/bin/env bash
# Every PARAM_CONFIG_* setting the code reads is in param-config-launch(1), and
# every default the man pages or the site guide give is the one the code
# passes beside the name. A page names a setting alone on a ".B" line, its
# default as "(default N)" on the next; the guide as "`NAME` (default N".
# Needs neither X nor a database.
set -u
cd "$(dirname "$0")/../.." || exit 1
failed=0
fail() { echo "defaults: FAIL: $*" >&2; failed=1; }
code=$(grep -rhoE '"PARAM_CONFIG_[A-Z_]+", *[0-9]+' manager/src | tr -d '" ' | tr , ' ' | sort -u)
names=$(grep -rhoE '"PARAM_CONFIG_[A-Z_]+"' manager/src | tr -d '"' | sort -u)
page() { awk '/^\.B PARAM_CONFIG_[A-Z_]+$/ { n = $2; next }
    n && match($0, /\(default [^)]+\)/) { print n, substr($0, RSTART + 9, RLENGTH - 10) } { n = "" }' "$@"; }
[[ -n $names ]] || fail "the code reads no PARAM_CONFIG_ setting: has it moved from manager/src?"
for n in $names; do page doc/param-config-launch.1 | grep -q "^$n " || fail "$n has no \".B $n\" with \"(default N)\" after it in param-config-launch(1)"; done
while read -r n v; do c=$(grep "^$n " <<<"$code") && [[ $c != "$n $v" ]] && fail "a document gives $n the default $v; the code: $c"
done < <(page doc/*.1; grep -ohE '`PARAM_CONFIG_[A-Z_]+` \(default [0-9]+' doc/site-guide.md | tr -d '`(' | sed 's/ default//')
for n in $(grep -ohE '(^|[^_])PARAM_CONFIG_[A-Z_]+' doc/*.[18] doc/site-guide.md | grep -oE 'PARAM_.*' | sort -u); do
    grep -qx "$n" <<<"$names" || fail "a document names $n, which the code does not read"; done
bad=$(grep -nE '(^|[^_])PARAM_CONFIG_' doc/*.[18] | grep -vE ':\.B PARAM_CONFIG_[A-Z_]+$') &&
    fail "a man page names a setting other than alone on a .B line: $bad"
((failed)) && exit 1
echo "defaults: $(wc -w <<<"$names") settings, each documented with the code's default"
