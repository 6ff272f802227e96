#!/usr/bin/env bash
# mbpoll, an independent Modbus RTU master, reads registers 200..209 from the
# simulator over a pseudo-terminal; the values must be the simulated
# controller's. Also checks an exception reply, silence towards another slave
# address, and that SIGTERM ends the simulator cleanly and removes its symbolic link.
# Then mbpoll as a Modbus TCP client reads the same registers from the
# simulator's --mbtcp, and gets a gateway's exceptions for a unit nobody
# answers for and for a unit id that is no slave address.
# Usage: sim_mbpoll.sh path/to/rzt604-sim
set -euo pipefail

sim=${1:?usage: $0 path/to/rzt604-sim}
if ! command -v mbpoll >/dev/null 2>&1; then
    echo "FAIL: mbpoll is not installed (scripts/deps installs it)" >&2
    exit 1
fi

work=$(mktemp -d)
pid=
cleanup() {
    # The killed simulator's status must not end the cleanup (set -e).
    [ -z "$pid" ] || { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; echo "--- simulator log:" >&2; cat "$work/sim.err" >&2; exit 1; }

symlink=$work/ttyRZT
"$sim" --seed 5 --link "$symlink" -v >"$work/sim.out" 2>"$work/sim.err" &
pid=$!
for _ in $(seq 300); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
done
dev=$(head -n 1 "$work/sim.out")
[ -c "$dev" ] || fail "no device path on the first line: '$dev'"
[ "$(readlink "$symlink")" = "$dev" ] || fail "--link does not point at $dev"

# A reply may take a while on a busy machine; the time-out only ends a failure.
poll() { mbpoll -m rtu -b 115200 -P none -t 4 -1 -o "${reply_limit:-5}" "$@" 2>&1; }

# -r is 1-based: reference 201 is register 200.
out=$(poll -a 1 -r 201 -c 10 "$symlink") || fail "mbpoll read failed: $out"
declare -A reg
while read -r ref value; do
    reg[$ref]=$value
done < <(sed -n 's/^\[\([0-9]*\)\]:[[:space:]]*\(-\?[0-9]*\)$/\1 \2/p' <<<"$out")
[ "${#reg[@]}" -eq 10 ] || fail "expected 10 values, got: $out"

expect_eq() { [ "${reg[$1]}" -eq "$2" ] || fail "register $(($1 - 1)) = ${reg[$1]}, want $2"; }
expect_in() { [ "${reg[$1]}" -ge "$2" ] && [ "${reg[$1]}" -le "$3" ] \
    || fail "register $(($1 - 1)) = ${reg[$1]}, want $2..$3"; }
expect_eq 202 $((0x0205))   # protocol 2.05
expect_eq 203 $((0x010C))   # software 1.12
expect_in 205 1100 1300     # phase currents, mA
expect_in 206 1100 1300
expect_in 207 1100 1300
expect_in 208 4950 5050     # frequency, 0.01 Hz

# The simulator's own log of that reply must carry the same words.
txline=$(grep -m1 ' tx 01 03 14 ' "$work/sim.err") || fail "no reply in the simulator log"
read -r -a f <<<"$txline"   # time, tx, address, function, count, data...
words=$(for ((i = 5; i < 25; i += 2)); do printf '%d ' $((16#${f[i]}${f[i + 1]})); done)
mbwords=$(for r in $(seq 201 210); do printf '%d ' "${reg[$r]}"; done)
[ "$words" = "$mbwords" ] || fail "mbpoll read '$mbwords', simulator sent '$words'"

out=$(poll -a 1 -0 -r 210 -c 1 "$dev") && fail "register 210 was answered: $out"
grep -q 'Illegal data address' <<<"$out" || fail "no illegal-address exception: $out"

out=$(reply_limit=0.5 poll -a 2 -0 -r 200 -c 1 "$dev") && fail "slave 2 was answered: $out"
grep -q 'timed out' <<<"$out" || fail "slave 2: expected a time-out: $out"

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "simulator exit status $status after SIGTERM"
[ ! -e "$symlink" ] && [ ! -L "$symlink" ] || fail "symbolic link $symlink left behind"

# Modbus TCP: the port is the simulator's choice, printed as its first line.
# The first simulator's output is removed first: the new one truncates the file
# only once it runs, and until then the wait below would read the old line.
rm -f "$work/sim.out" "$work/sim.err"
"$sim" --seed 5 --address 1,2 --mbtcp 0 --gateway-exceptions -v >"$work/sim.out" 2>"$work/sim.err" &
pid=$!
for _ in $(seq 300); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
done
url=$(head -n 1 "$work/sim.out")
[[ $url =~ ^mbtcp://127\.0\.0\.1:([0-9]+)$ ]] || fail "no mbtcp:// address on the first line: '$url'"
port=${BASH_REMATCH[1]}
tcp() { mbpoll -m tcp -p "$port" -t 4 -1 -o 5 "$@" 127.0.0.1 2>&1; }

out=$(tcp -a 2 -r 201 -c 10) || fail "mbpoll -m tcp read failed: $out"
reg=()
while read -r ref value; do
    reg[$ref]=$value
done < <(sed -n 's/^\[\([0-9]*\)\]:[[:space:]]*\(-\?[0-9]*\)$/\1 \2/p' <<<"$out")
[ "${#reg[@]}" -eq 10 ] || fail "Modbus TCP: expected 10 values, got: $out"
expect_eq 202 $((0x0205))
expect_eq 203 $((0x010C))
expect_in 205 1200 1400     # address 2: 100 mA above address 1
expect_in 208 4950 5050

out=$(tcp -a 3 -r 201 -c 1) && fail "unit 3 was answered: $out"
grep -q 'Target device failed to respond' <<<"$out" || fail "unit 3: no exception 0x0B: $out"
out=$(tcp -a 248 -r 201 -c 1) && fail "unit 248 was answered: $out"
grep -q 'Gateway path unavailable' <<<"$out" || fail "unit 248: no exception 0x0A: $out"

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "simulator (--mbtcp) exit status $status after SIGTERM"
echo "PASS: mbpoll read ${mbwords} over RTU and unit 2's registers over Modbus TCP"
