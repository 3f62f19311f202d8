#!/usr/bin/env bash
# 1,000 expedited reads of 0x1000 from CANopenNode's demo device (node 4) on vcan0, side by side:
# busprobe-cli in one process (a --script of the reads), and cocomm through CANopenNode's gateway
# canopend (the same reads on one standard input). Prints, for each run, the total time and the
# median and 95th percentile from request to answer, taken from candump's time stamps; then what
# one process a read costs (20 reads each), as a shell loop would pay it.
#   bench/cli_vs_cocomm.sh [RUNS] [READS]          (defaults: 5 runs of 1000 reads)
# Needs busprobe-cli in $BUILD (default build/; the README's figures come from a Release build), the
# CANopenNode programs in $PEER (default build/canopennode: scripts/socketcan-test.sh builds them)
# and candump (can-utils). Runs in the canvm virtual machine unless vcan0 is here.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-5}"
reads="${2:-1000}"
build="${BUILD:-$top/build}"
peer="${PEER:-$top/build/canopennode}"
if ! ip link show vcan0 >/dev/null 2>&1; then
  exec "${CANVM:-$top/../shared/tools/canvm}" --timeout 1800 -- env BUILD="$build" PEER="$peer" "$0" "$@"
fi
for p in "$build/busprobe-cli" "$peer/demoLinuxDevice" "$peer/canopend" "$peer/cocomm"; do
  [ -x "$p" ] || { echo "cli_vs_cocomm: $p is missing" >&2; exit 2; }
done

work="$(mktemp -d -p /dev/shm)"  # the gateway's socket cannot live on a shared file system
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
"$peer/demoLinuxDevice" vcan0 -i 4 -s "$work/device-" >/dev/null 2>&1 &
"$peer/canopend" vcan0 -i 1 -s "$work/gateway-" -c "local-$work/gateway.sock" >/dev/null 2>&1 &
sleep 2
for _ in $(seq "$reads"); do echo "read 0x1000"; done >"$work/cli.txt"
for i in $(seq "$reads"); do echo "[$i] 4 read 0x1000 0 u32"; done >"$work/cocomm.txt"  # raw gateway lines

# One run of "$@" with candump listening: "<total s> <answers> <median ms> <p95 ms>".
measure() {
  candump -L vcan0,604:7FF,584:7FF >"$work/log" &
  local dump=$!
  sleep 0.3
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >"$work/out" 2>&1 || { echo "cli_vs_cocomm: $1 failed:" >&2; tail -3 "$work/out" >&2; }
  t1=$(date +%s.%N)
  sleep 0.3
  kill -INT "$dump"; wait "$dump" 2>/dev/null || true
  python3 - "$work/log" "$t0" "$t1" <<'PY'
import statistics, sys
log, t0, t1 = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
asked, waits = None, []
for line in open(log):
    stamp, _, frame = line.split()
    t = float(stamp.strip("()"))
    if frame.startswith("604#40"): asked = t
    elif frame.startswith("584#") and asked is not None: waits.append((t - asked) * 1000); asked = None
waits.sort()
p95 = waits[int(len(waits) * 0.95)] if waits else float("nan")
print(f"{t1 - t0:.2f} {len(waits)} {statistics.median(waits) if waits else float('nan'):.2f} {p95:.2f}")
PY
}

printf '%-12s %4s %8s %8s %10s %10s\n' program run total paired "median ms" "p95 ms"
for run in $(seq "$runs"); do
  read -r total n median p95 < <(measure "$build/busprobe-cli" --channel vcan0 --node 4 --script "$work/cli.txt")
  printf '%-12s %4d %7ss %8d %10s %10s\n' busprobe-cli "$run" "$total" "$n" "$median" "$p95"
  read -r total n median p95 < <(measure sh -c "\"$peer/cocomm\" -s \"$work/gateway.sock\" <\"$work/cocomm.txt\"")
  printf '%-12s %4d %7ss %8d %10s %10s\n' cocomm "$run" "$total" "$n" "$median" "$p95"
done

# Milliseconds a read when each read is a process of its own.
per_process() {
  local t0 t1
  t0=$(date +%s.%N)
  for _ in $(seq 20); do "$@" >/dev/null 2>&1; done
  t1=$(date +%s.%N)
  python3 -c "print(f'{($t1 - $t0) / 20 * 1000:.0f}')"
}
echo "one process a read: busprobe-cli $(per_process "$build/busprobe-cli" --channel vcan0 --node 4 read 0x1000) ms," \
  "cocomm $(per_process "$peer/cocomm" -s "$work/gateway.sock" "4 read 0x1000 0 u32") ms"
