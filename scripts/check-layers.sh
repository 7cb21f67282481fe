#!/usr/bin/env bash
# Checks that includes point down the layers only: each folder of src/ (and the page's entry in
# web/) may include its own headers and those of the folders beneath it, never one above it, so
# that no two folders depend on each other.
set -euo pipefail
cd "$(dirname "$0")/.."

# A folder and the folders it may include, its own first.
declare -A may=(
    [host]="host"
    [session]="session host"
    [image]="image session host"
    [commands]="commands image session host"
    [run]="run commands image session host"
    [fsck]="fsck image session host"
    [mount]="mount image session host"
    [web]="run fsck commands image session host"
)

bad=0
while IFS= read -r file; do
    case $file in
        web/*) folder=web ;;
        src/*/*) folder=${file#src/}; folder=${folder%%/*} ;;
        *) continue ;;
    esac
    if [ -z "${may[$folder]+set}" ]; then
        echo "$file: the folder '$folder' has no place in the layers (scripts/check-layers.sh)"
        bad=1
        continue
    fi
    while IFS= read -r target; do
        case " ${may[$folder]} " in
            *" $target "*) ;;
            *) echo "$file includes $target/, which is not beneath $folder/"; bad=1 ;;
        esac
    done < <(sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' "$file")
done < <(find src web -maxdepth 2 -name '*.cpp' -o -name '*.h' | sort)

[ "$bad" -eq 0 ] && echo "includes follow the layers: host < session < image < commands < run; fsck, mount and web on top"
exit "$bad"
