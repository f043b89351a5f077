#!/usr/bin/env bash
# Removes what the last `make install` put in place, as listed in
# installed-files.txt (full paths, DESTDIR included), then the directories
# listed in installed-dirs.txt (those the install created) and the program's
# own directories below share/, each only if left empty. Directories that
# were there before, such as bin/ or share/man/man1/, stay. The lists go
# last, so a second run says there is nothing to remove.
set -euo pipefail

manifest=${1:?usage: uninstall.sh BUILD_DIR/installed-files.txt [BUILD_DIR/installed-dirs.txt]}
created=${2:-}
if [[ ! -f $manifest ]]; then
    echo "uninstall: $manifest not found: nothing was installed from this build" >&2
    exit 1
fi

dirs=()
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
            dirs+=("$dir")
            dir=${dir%/*}
        done
    fi
done <"$manifest"
if [[ -n $created && -f $created ]]; then
    while IFS= read -r dir; do
        [[ -n $dir ]] && dirs+=("$dir")
    done <"$created"
fi

# Deepest first, so a parent is tried after its children.
if ((${#dirs[@]} > 0)); then
    printf '%s\n' "${dirs[@]}" | LC_ALL=C sort -ru | while IFS= read -r dir; do
        if [[ -d $dir ]] && rmdir -- "$dir" 2>/dev/null; then
            echo "-- Removed directory: $dir"
        fi
    done
fi
rm -f -- "$manifest" ${created:+"$created"}
