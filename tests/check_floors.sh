#!/usr/bin/env bash
# Every folder's includes point down: a file may include headers of its own
# folder and of folders on lower floors only (the README's folder map gives
# the floors). Prints each include that runs up or sideways and fails.
#   tests/check_floors.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

declare -A floor=(
    [tables]=0 [artwork]=0
    [link]=1
    [alarms]=2 [settings]=2
    [core]=3
    [history]=4 [mimic]=4 [editors]=4 [mqtt]=4
    [report]=5 [modbus]=5 [email]=5
    [web]=6
    [app]=7 [collector]=7
)
bad=0
for dir in "${!floor[@]}"; do
    while IFS=: read -r file line text; do
        target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$text")
        [ "$target" = "$dir" ] && continue
        if [ -z "${floor[$target]+x}" ]; then
            echo "$file:$line: includes from $target/, a folder without a floor"
            bad=1
        elif [ "${floor[$target]}" -ge "${floor[$dir]}" ]; then
            echo "$file:$line: $dir/ (floor ${floor[$dir]}) includes from $target/ (floor ${floor[$target]})"
            bad=1
        fi
    done < <(grep -HnE '^#include "[^/"]+/' "$dir"/*.h "$dir"/*.cpp 2>/dev/null || true)
done
[ "$bad" -eq 0 ] && echo "floors: every include points down"
exit "$bad"
