#!/usr/bin/env bash
# The folders are layers, and a file includes headers from its own layer or
# those below it, never above: platform, the codec's common part, its
# compressor's and expander's sides (which never include each other), the
# width file, the C interface (include/ and lib/), the command (driver/).
# The build enforces this too, each target seeing only the include folders
# of its own layer and those below; this check says which file broke it.
# Headers are included by their bare names, so every file name in the tree
# is used once.
set -euo pipefail
cd "$1"
rank() {
    case $1 in
    platform) echo 0 ;; codec/common) echo 1 ;; codec/compress | codec/expand) echo 2 ;;
    width) echo 3 ;; include | lib) echo 4 ;; driver) echo 5 ;;
    *) echo -1 ;;
    esac
}
layers=(platform codec/common codec/compress codec/expand width include lib driver)
status=0
duplicates=$(find . -path ./.git -prune -o -path './build*' -prune -o \
    \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -printf '%f\n' | sort | uniq -d)
for name in $duplicates; do
    echo "$name names more than one file"
    status=1
done
declare -A folder_of
for folder in "${layers[@]}"; do
    for file in "$folder"/*.h; do folder_of[${file##*/}]=$folder; done
done
for folder in "${layers[@]}"; do
    for file in "$folder"/*.h "$folder"/*.cpp; do
        [ -e "$file" ] || continue
        while read -r header; do
            included=${folder_of[$header]:-}
            if [ -z "$included" ]; then
                echo "$file includes $header, which is in no layer"
                status=1
            elif [ "$(rank "$included")" -gt "$(rank "$folder")" ]; then
                echo "$file includes $header, from a layer above its own"
                status=1
            elif [ "$(rank "$included")" -eq "$(rank "$folder")" ] && [ "$included" != "$folder" ] &&
                [ "$(rank "$folder")" -eq 2 ]; then
                echo "$file includes $header, from the other side of the codec"
                status=1
            fi
        done < <(sed -n 's/^#include "\(.*\)"/\1/p' "$file")
    done
done
exit $status
