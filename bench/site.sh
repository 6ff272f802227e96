#!/usr/bin/env bash
# A site at line speed: N controllers on one simulated RS-485 line at 115200
# baud with a 2 ms turnaround, read by rzt604-cli (paced by replies,
# --interval 0) and then by mbpoll (-a 1:N -l 10) in the same run, both
# reading the ten registers from 200; then rzt604-cli publish into a local
# mosquitto, mosquitto_sub stamping arrivals.
# Figures per reader: exchanges per second and each controller's refresh
# period (median, 99th percentile), both from the simulator's own log, and
# the reader's CPU share; for publish, reply to subscriber.
# Usage: bench/site.sh BIN_DIR [--seconds S] [--counts "8 32"]
set -euo pipefail
bin=${1:?usage: $0 BIN_DIR [--seconds S] [--counts \"8 32\"]}
shift
seconds=20
counts="8 32"
while [ $# -gt 0 ]; do
    case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --counts) counts=$2; shift 2 ;;
    *) echo "site: unknown option $1" >&2; exit 2 ;;
    esac
done
command -v mbpoll >/dev/null || { echo "site: needs mbpoll (scripts/deps installs it)" >&2; exit 2; }

work=$(mktemp -d)
sim=
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# "12:34:56.789 rx 05 03 ..." lines of polls of registers from 200, between
# two marks in the log: exchanges per second and the period per address.
figures() {
    awk '
        / rx [0-9a-f][0-9a-f] 03 00 c8 / {
            split($1, t, ":"); ms = ((t[1] * 60 + t[2]) * 60 + t[3]) * 1000
            a = $3
            if (a in last) { d = ms - last[a]; if (d < 0) d += 86400000; print d }
            last[a] = ms
        }' "$1" | sort -n >"$1.gaps"
    local n g
    n=$(grep -c ' rx [0-9a-f][0-9a-f] 03 00 c8 ' "$1" || true)
    g=$(wc -l <"$1.gaps")
    awk -v n="$n" -v g="$g" -v s="$seconds" '
        { v[NR] = $1 }
        END {
            med = g ? v[int((g + 1) / 2)] : 0
            k = int(g * 0.99); if (k < 1) k = 1
            printf "%8.0f %10.1f %10.1f", n / s, med, g ? v[k] : 0
        }' "$1.gaps"
}

# Runs a reader for the given seconds; prints its CPU share in percent.
cpu_of() {
    local out=$1
    shift
    local TIMEFORMAT='%R %U %S'
    { time "$@" >/dev/null 2>&1; } 2>"$out.time" || true
    awk '{ printf "%8.1f", 100 * ($2 + $3) / $1 }' "$out.time"
}

for n in $counts; do
    symlink="$work/tty$n"
    "$bin/rzt604-sim" -v --address "1-$n" --link "$symlink" --baud 115200 --turnaround 2 \
        >"$work/sim$n.out" 2>"$work/sim$n.log" &
    sim=$!
    for _ in $(seq 50); do [ -s "$work/sim$n.out" ] && break; sleep 0.1; done

    : >"$work/sim$n.log"
    ours=$(cpu_of "$work/ours$n" "$bin/rzt604-cli" --port "$symlink" --address "1-$n" \
        monitor --interval 0 --duration "$seconds")
    cp "$work/sim$n.log" "$work/ours$n.log"
    : >"$work/sim$n.log"
    theirs=$(cpu_of "$work/mbpoll$n" timeout -s INT "$seconds" mbpoll -m rtu -b 115200 -P none \
        -a "1:$n" -r 201 -c 10 -l 10 -o 0.15 "$symlink")
    cp "$work/sim$n.log" "$work/mbpoll$n.log"
    kill "$sim"; wait "$sim" 2>/dev/null || true
    sim=

    echo "site: $n controllers, 115200 baud, 2 ms turnaround, $seconds s each"
    printf "  %-12s %8s %10s %10s %8s\n" reader "exch/s" "period ms" "99 % ms" "CPU %"
    printf "  %-12s %s %s\n" rzt604-cli "$(figures "$work/ours$n.log")" "$ours"
    printf "  %-12s %s %s\n" mbpoll "$(figures "$work/mbpoll$n.log")" "$theirs"
done
