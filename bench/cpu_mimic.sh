#!/usr/bin/env bash
# CPU use of the program with a mimic window open while the simulator sends a
# status reply every 500 ms: user+system time of the process over SECONDS
# (default 60), measured after the link is up. Runs under Xvfb.
#   bench/cpu_mimic.sh [SECONDS] [PROGRAM]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECS=${1:-60}
PROGRAM=${2:-1}
BIN=${BIN:-$ROOT/build/bin}

WORK=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

"$BIN/qta504-tables" create "$WORK" >/dev/null
"$BIN/qta504-sim" --link "$WORK/port" --period 500 --program "$PROGRAM" --events 5 \
    --voltages 231,229,230,228,232,230,227,233,231 >"$WORK/sim.out" 2>&1 </dev/null &
pids+=($!)
for _ in $(seq 50); do grep -q ready "$WORK/sim.out" && break; sleep 0.1; done
printf '[ComPort]\nPort=%s\nBaudRate=38400\nStopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n' \
    "$WORK/port" >"$WORK/rejestr/ustawienia.ini"

DISP=:$((200 + RANDOM % 100))
Xvfb "$DISP" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1
(cd "$WORK" && DISPLAY=$DISP QT_QPA_PLATFORM=xcb QTA504_PORT_LIST="$WORK/port" \
    exec "$BIN/qta504" >"$WORK/app.out" 2>&1) &
APP=$!
pids+=($APP)
sleep 6 # connected, event log copied, mimic window open

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
HZ=$(getconf CLK_TCK)
t0=$(ticks "$APP")
s0=$(date +%s.%N)
sleep "$SECS"
t1=$(ticks "$APP")
s1=$(date +%s.%N)
rows=$("$BIN/qta504-tables" dump "$WORK/rejestr/linia.dbf" | tail -n +2 | wc -l)
echo "cpu_mimic: program $PROGRAM, $(echo "($t1 - $t0) / $HZ" | bc -l | xargs printf '%.2f') s CPU in $(echo "$s1 - $s0" | bc -l | xargs printf '%.1f') s wall = $(echo "100 * ($t1 - $t0) / $HZ / ($s1 - $s0)" | bc -l | xargs printf '%.2f') % of one core; $rows voltage rows"
kill -TERM "$APP"
wait "$APP" || true
