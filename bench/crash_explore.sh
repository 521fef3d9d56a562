#!/usr/bin/env bash
# A longer run of the crash-state explorer than ctest's: a few hundred states
# drawn at every point whose combinations are more than 256, over several
# seeds, every workload; prints each run's lines and the totals.
#   bench/crash_explore.sh [STATES] [SEEDS]
# STATES: states drawn per point (default 300); SEEDS: how many seeds, 1.. (default 3).
# Environment: BIN (build/bin).
set -euo pipefail

STATES=${1:-300}
SEEDS=${2:-3}
BIN=${BIN:-build/bin}
[ -x "$BIN/crash_explore" ] || { echo "build crash_explore first (cmake --build build --target crash_explore)" >&2; exit 2; }

states=0
violations=0
rc=0
start=$(date +%s)
for seed in $(seq 1 "$SEEDS"); do
    echo "== seed $seed, $STATES states per point"
    out=$("$BIN/crash_explore" --max-states "$STATES" --seed "$seed" --sample-every 200) || rc=1
    echo "$out"
    line=$(echo "$out" | grep '^total: ')
    states=$((states + $(echo "$line" | awk '{print $2}')))
    violations=$((violations + $(echo "$line" | awk '{print $5}')))
done
echo "crash_explore: $states states checked, $violations violations in $(($(date +%s) - start)) s"
exit $rc
