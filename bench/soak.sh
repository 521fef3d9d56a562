#!/usr/bin/env bash
# Long run of the program under Xvfb with the mimic window open, against a
# simulator that sends a status frame every 100 ms with wandering voltages and
# now and then an event (--demo). Every STEP seconds one CSV row:
#   seconds,rss_kb,cpu_s,rows,frames_sent
# seconds since the program started; its resident size (VmRSS) and CPU time
# used so far (user + system); the rows of linia.dbf (complete rows by the
# file length: the header's count follows at every commit, every 10 s); the
# status frames the simulator has sent.
# At the end it prints a summary: RSS after the warm-up, CPU use, and every
# status frame sent while the program listened, matched in order against the
# rows of linia.dbf.
#   bench/soak.sh MINUTES [CSV]
# CSV defaults to build/soak-DATE.csv; a screenshot at the end goes next to it.
# Environment: BIN (build/bin), SOAK_PERIOD (status period, 100 ms),
# SOAK_STEP (10 s), SOAK_WARMUP (120 s), SOAK_KEEP=1 keeps the working folder.
set -euo pipefail

usage() { echo "usage: bench/soak.sh MINUTES [CSV]" >&2; exit 2; }
[ $# -ge 1 ] && [[ $1 =~ ^[0-9]+$ ]] && [ "$1" -ge 1 ] || usage
MINUTES=$1
CALLER=$(pwd)
cd "$(dirname "$0")/.."
ROOT=$(pwd)
CSV=${2:-$ROOT/build/soak-$(date +%Y%m%d-%H%M%S).csv}
case $CSV in /*) ;; *) CSV=$CALLER/$CSV ;; esac
BIN=${BIN:-$ROOT/build/bin}
PERIOD=${SOAK_PERIOD:-100}
STEP=${SOAK_STEP:-10}
WARMUP=${SOAK_WARMUP:-120}
DURATION=$((MINUTES * 60))
for b in qta504 qta504-sim qta504-tables; do
    [ -x "$BIN/$b" ] || { echo "soak: $BIN/$b is missing (build it first)" >&2; exit 1; }
done
mkdir -p "$(dirname "$CSV")"

WORK=$(mktemp -d)
pids=()
cleanup() {
    # Children first, the display last; each one by its own id.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [ -n "${SOAK_KEEP:-}" ]; then echo "soak: working folder kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$BIN/qta504-tables" create "$WORK" >/dev/null
"$BIN/qta504-sim" --link "$WORK/port" --period "$PERIOD" --demo --events 20 --log "$WORK/sim.log" \
    >"$WORK/sim.out" 2>&1 </dev/null &
SIM=$!
pids+=($SIM)
for _ in $(seq 50); do grep -q ready "$WORK/sim.out" && break; sleep 0.1; done
grep -q ready "$WORK/sim.out" || { echo "soak: the simulator did not start" >&2; cat "$WORK/sim.out" >&2; exit 1; }
printf '[ComPort]\nPort=%s\nBaudRate=38400\nStopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n' \
    "$WORK/port" >"$WORK/rejestr/ustawienia.ini"

# Xvfb picks a free display itself and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || { echo "soak: Xvfb did not start" >&2; cat "$WORK/xvfb.log" >&2; exit 1; }
DISP=:$(head -n1 "$WORK/display")

(cd "$WORK" && DISPLAY=$DISP QT_QPA_PLATFORM=xcb QTA504_PORT_LIST="$WORK/port" \
    exec "$BIN/qta504" >"$WORK/app.out" 2>&1) &
APP=$!
pids+=($APP)
T0=$(date +%s.%N)
HZ=$(getconf CLK_TCK)

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$APP/status"; }
# Fields after the command name, which ends at the last ')': utime is the 12th, stime the 13th.
cpu() { sed 's/.*) //' "/proc/$APP/stat" | awk -v hz="$HZ" '{printf "%.2f", ($12 + $13) / hz}'; }
rows() {
    local f="$WORK/rejestr/linia.dbf" hl rl
    hl=$(od -An -t u2 -j 8 -N 2 "$f" | tr -d ' ')
    rl=$(od -An -t u2 -j 10 -N 2 "$f" | tr -d ' ')
    echo $((($(stat -c %s "$f") - hl) / rl))
}
frames() { grep -c '^tx 1 ' "$WORK/sim.log" || true; }
elapsed() { echo "$(date +%s.%N) - $T0" | bc; }

echo "seconds,rss_kb,cpu_s,rows,frames_sent" >"$CSV"
echo "soak: $MINUTES min, status every $PERIOD ms, a row every $STEP s into $CSV"
next=0
while :; do
    next=$((next + STEP))
    sleep "$(echo "$next - $(elapsed)" | bc | sed 's/^-.*/0/')" 2>/dev/null || sleep "$STEP"
    if ! kill -0 "$APP" 2>/dev/null; then
        echo "soak: the program ended by itself after $(printf '%.0f' "$(elapsed)") s" >&2
        cat "$WORK/app.out" >&2
        exit 1
    fi
    t=$(elapsed)
    echo "$(printf '%.1f' "$t"),$(rss),$(cpu),$(rows),$(frames)" >>"$CSV"
    [ "$(printf '%.0f' "$t")" -lt "$DURATION" ] || break
done

# The picture at the end only: grabbing the screen can hold the program up.
import -display "$DISP" -window root "${CSV%.csv}.png" 2>/dev/null || true
# Stop the program (it appends its closing zero row), then the simulator.
kill -TERM "$APP"
wait "$APP" || true
sleep 0.3
kill -TERM "$SIM"
wait "$SIM" || true
"$BIN/qta504-tables" dump "$WORK/rejestr/linia.dbf" >"$WORK/linia.tsv"

echo "soak: ran $(printf '%.0f' "$(elapsed)") s; figures after a warm-up of $WARMUP s:"
awk -F, -v w="$WARMUP" 'NR > 1 && $1 >= w {
        if (n == 0) { min = max = first = $2; c0 = $3; t0 = $1 }
        if ($2 < min) min = $2
        if ($2 > max) max = $2
        last = $2; c1 = $3; t1 = $1; n++
    }
    END {
        if (n < 2) { print "soak:   too short for figures after the warm-up"; exit }
        printf "soak:   RSS %d..%d kB (max - min %d kB; last - first %+d kB) over %d samples\n",
            min, max, max - min, last - first, n
        printf "soak:   CPU %.2f s in %.0f s = %.2f %% of one core\n", c1 - c0, t1 - t0, 100 * (c1 - c0) / (t1 - t0)
    }' "$CSV"
awk -F, 'NR > 1 { t = $1; c = $3 } END { printf "soak:   whole run: CPU %.2f s in %.0f s = %.2f %% of one core\n", c, t, 100 * c / t }' "$CSV"

# Frames against rows. The simulator logs every status frame it sends
# ("tx 1" and 24 payload bytes); the program stores each one it receives as a
# row, plus a row of zero voltages at start and at close. Frames sent before
# the program opened the line are flushed by the simulator once stale (0.5 s),
# and the ones after it stopped reading are never read: so the rows must be
# the frames of one unbroken stretch. The stretch starts within half a second
# (plus a period) before the program's first request and is matched in order;
# every frame inside the matched stretch without its row is a lost frame.
awk -v period="$PERIOD" '
    FNR == NR {
        if ($1 == "tx" && $2 == 1 && NF == 26) {
            key = ""
            for (i = 0; i < 9; i++) key = key " " ($(3 + 2 * i) * 256 + $(4 + 2 * i))
            F[++m] = key
        } else if ($1 == "rx" && !seenRx) { seenRx = 1; firstRx = m }
        else if ($1 == "stale") { flushes++; stale[m] = 1 }
        next
    }
    FNR == 1 { next }
    {
        key = ""; zero = 1
        # CZAS holds a space: the voltages are the last nine fields.
        for (i = NF - 8; i <= NF; i++) { key = key " " ($i + 0); if ($i + 0 != 0) zero = 0 }
        if (zero) zeros++
        else R[++n] = key
    }
    END {
        from = firstRx - int(500 / period) - 2; if (from < 1) from = 1
        best = -1
        for (j = from; j <= firstRx + 20 && j <= m; j++) {
            if (F[j] != R[1]) continue
            pos = j; miss = 0
            for (r = 1; r <= n; r++) {
                for (k = pos; k <= m && F[k] != R[r]; k++) ;
                if (k > m) { miss++; continue }
                last = k; pos = k + 1
            }
            span = last - j + 1
            if (best < 0 || miss < bmiss || (miss == bmiss && span < bspan)) {
                best = j; bmiss = miss; bspan = span; blast = last
            }
        }
        printf "soak:   frames sent %d (%d before the first request); rows %d (%d with zero voltages)\n",
            m, firstRx, n + zeros, zeros
        if (n == 0 || best < 0) { print "soak:   RESULT: no row matches a frame sent"; exit 1 }
        lost = bspan - (n - bmiss)
        pos = best
        for (r = 1; r <= n; r++) {
            for (k = pos; k <= m && F[k] != R[r]; k++) ;
            if (k > m) continue
            for (i = pos; i < k; i++) if (nl++ < 10) lostAt = lostAt " " i
            pos = k + 1
        }
        printf "soak:   rows matched in order to frames %d..%d of %d: %d lost, %d rows matching no frame; %d frames sent before the stretch, %d after the program stopped reading\n",
            best, blast, m, lost, bmiss, best - 1, m - blast
        if (lost) printf "soak:   lost frames (first ten):%s\n", lostAt
        if (flushes) {
            printf "soak:   the simulator flushed output nobody read for 0.5 s %d times, after frames", flushes
            for (i = 1; i <= m; i++) if (stale[i]) printf " %d", i
            printf "\n"
        }
        exit (lost || bmiss) ? 1 : 0
    }' "$WORK/sim.log" "$WORK/linia.tsv" && ok=1 || ok=0
flushes=$(grep -c 'tx-lost' "$WORK/sim.log" || true)
[ "$flushes" -eq 0 ] || echo "soak:   the simulator could not write $flushes frames (line full)"
[ $ok -eq 1 ] || { echo "soak: frames were lost or rows do not match"; exit 1; }
