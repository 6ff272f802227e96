#!/usr/bin/env bash
# Wall time of rzt604-cli against rzt604-sim on a pseudo-terminal:
# `params set --verify` of all nine parameters, and `scan` of addresses 1..247.
# Usage: bench/cli.sh BIN_DIR [--runs N]
set -euo pipefail
bin=${1:?usage: $0 BIN_DIR [--runs N]}
shift
runs=5
[ "${1:-}" = "--runs" ] && runs=${2:?--runs wants a number}

work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

"$bin/rzt604-sim" --link "$work/tty" --memory "$work/memory.bin" >"$work/sim.out" 2>&1 &
pid=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
cli() { "$bin/rzt604-cli" --port "$work/tty" "$@"; }

ms_now() { date +%s%3N; }
# Runs the command $runs times; prints the fastest, median and slowest wall time.
timed() {
    local label=$1 t0 t1
    shift
    local times=()
    for _ in $(seq "$runs"); do
        t0=$(ms_now)
        "$@" >/dev/null
        t1=$(ms_now)
        times+=($((t1 - t0)))
    done
    sorted=($(printf '%s\n' "${times[@]}" | sort -n))
    printf '%-44s min %5d ms  median %5d ms  max %5d ms  (%d runs)\n' "$label" \
        "${sorted[0]}" "${sorted[$((runs / 2))]}" "${sorted[$((runs - 1))]}" "$runs"
}

cli params get "$work/p.json"
timed "params set --verify (9 parameters, 13 frames)" cli params set "$work/p.json" --verify
if cli scan --to 1 >/dev/null 2>&1 || [ $? -ne 1 ]; then
    timed "scan 1..247 (one answering address)" cli scan
else
    echo "scan: not in this build of rzt604-cli"
fi
