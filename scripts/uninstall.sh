#!/usr/bin/env bash
# Removes what the last `make install` put in place, as listed in
# installed-files.txt (full paths, DESTDIR included), and then the program's own
# directories below share/ if they are left empty. Shared directories such as
# bin/ or share/man/man1/ stay. The list goes last, so a second run says
# there is nothing to remove.
set -euo pipefail

manifest=${1:?usage: uninstall.sh BUILD_DIR/installed-files.txt}
if [[ ! -f $manifest ]]; then
    echo "uninstall: $manifest not found: nothing was installed from this build" >&2
    exit 1
fi

own_dirs=()
while IFS= read -r file || [[ -n $file ]]; do
    [[ -n $file ]] || continue
    if [[ -e $file || -L $file ]]; then
        rm -f -- "$file"
        echo "-- Removed: $file"
    else
        echo "-- Already gone: $file"
    fi
    # share/param-config and everything below it belong to the program alone.
    if [[ $file == */share/param-config/* ]]; then
        dir=${file%/*}
        while [[ $dir == */share/param-config/* || $dir == */share/param-config ]]; do
            own_dirs+=("$dir")
            dir=${dir%/*}
        done
    fi
done <"$manifest"

# Deepest first, so a parent is tried after its children.
if ((${#own_dirs[@]} > 0)); then
    printf '%s\n' "${own_dirs[@]}" | sort -ru | while IFS= read -r dir; do
        [[ -d $dir ]] && rmdir --ignore-fail-on-non-empty -- "$dir"
    done
fi
rm -f -- "$manifest"
