#!/usr/bin/env bash
# The folders are layers, and a file includes headers from its own layer or
# those below it, never above: platform, codec, width, the C interface
# (include/ and lib/), the command (driver/).
set -euo pipefail
cd "$1"
rank() {
    case $1 in
    platform) echo 0 ;; codec) echo 1 ;; width) echo 2 ;; include | lib) echo 3 ;; driver) echo 4 ;;
    *) echo -1 ;;
    esac
}
status=0
for folder in platform codec width include lib driver; do
    for file in "$folder"/*; do
        while read -r header; do
            included=${header%%/*}
            [ "$header" = tarnwel.h ] && included=include
            if [ "$(rank "$included")" -gt "$(rank "$folder")" ]; then
                echo "$file includes $header, from a layer above its own"
                status=1
            fi
        done < <(sed -n 's/^#include "\(.*\)"/\1/p' "$file")
    done
done
exit $status
