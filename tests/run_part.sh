#!/usr/bin/env bash
# Runs part K of N of a Qt Test program: of the test functions it lists with
# -functions, every Nth from the Kth (1-based), so that ctest can run the
# parts of a long test side by side and every function runs in exactly one.
#   tests/run_part.sh K N PROGRAM [PREFIX...]
# PREFIX (for example dbus-run-session --) is put before the program.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: run_part.sh K N PROGRAM [PREFIX...]" >&2; exit 2; }
k=$1 n=$2 program=$3
shift 3
mapfile -t all < <("$program" -functions | sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)()$/\1/p')
[ ${#all[@]} -gt 0 ] || { echo "run_part.sh: $program lists no test functions" >&2; exit 1; }
mine=()
for i in "${!all[@]}"; do
    [ $((i % n)) -eq $((k - 1)) ] && mine+=("${all[$i]}")
done
[ ${#mine[@]} -gt 0 ] || { echo "run_part.sh: part $k of $n of $program is empty" >&2; exit 1; }
exec "$@" "$program" "${mine[@]}"
