#!/usr/bin/env bash
# Builds the SocketCAN tests and runs them (ctest label "socketcan": the driver, can-utils beside
# busprobe, busprobe-node end to end, the interface going down and up, the window on vcan0).
#   scripts/socketcan-test.sh
# Where they run:
#   1. inside the canvm virtual machine (../shared/tools/canvm, else /work/shared/tools/canvm, or
#      the program named by $CANVM), whose kernel has SocketCAN with vcan0 and vcan1 up;
#   2. else on this machine, when it has a vcan0 (the down/up tests need root, else they skip);
#   3. else nowhere: the script says so and exits 0.
# The build reuses build/ of scripts/test.sh when it is there, else it uses build-socketcan/.
# CANopenNode's demo device is built from ../shared/peers/canopennode when it is there.
# Environment: CANVM (the canvm program), SOCKETCAN_TIMEOUT (seconds for the run in the virtual
# machine, default 900), BUILD_JOBS (default: the number of processors).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"

canvm="${CANVM:-}"
if [ -z "$canvm" ]; then
  for c in "$top/../shared/tools/canvm" /work/shared/tools/canvm; do
    if [ -x "$c" ]; then canvm="$c"; break; fi
  done
fi
where=""
if [ -n "$canvm" ]; then
  if [ ! -x "$canvm" ]; then
    echo "socketcan-test: $canvm: no such program"
  elif "$canvm" --check >/dev/null 2>&1; then
    where=vm
  else
    echo "socketcan-test: $canvm cannot run here (\`$canvm --check\` says why)"
  fi
fi
if [ -z "$where" ] && [ -e /sys/class/net/vcan0 ]; then where=native; fi
if [ -z "$where" ]; then
  echo "socketcan-test: no usable canvm and no vcan0 on this machine: SocketCAN tests not run"
  exit 0
fi

if [ -f "$top/build/CMakeCache.txt" ]; then
  build="$top/build"
else
  "$top/scripts/install-deps.sh"
  build="$top/build-socketcan"
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
targets=(socketcan_tests busprobe-node)
if grep -q '^BUSPROBE_BUILD_GUI:BOOL=ON$' "$build/CMakeCache.txt"; then targets+=(socketcan_gui_tests); fi
cmake --build "$build" -j"${BUILD_JOBS:-$(nproc)}" --target "${targets[@]}"

# CANopenNode's demo device and gateway, the independent peer of the PeerDevice tests (skipped
# without them).
for peer in "$top/../shared/peers/canopennode" /work/shared/peers/canopennode; do
  if [ -x "$peer/build.sh" ] || [ -f "$peer/build.sh" ]; then
    if bash "$peer/build.sh" "$build/canopennode" >/dev/null; then
      export BUSPROBE_PEER_DIR="$build/canopennode"
    else
      echo "socketcan-test: CANopenNode's demo device did not build; its tests skip"
    fi
    break
  fi
done

run=(ctest --test-dir "$build" -L socketcan --output-on-failure)
if [ "$where" = vm ]; then
  echo "socketcan-test: running in the virtual machine ($canvm)"
  exec "$canvm" --timeout "${SOCKETCAN_TIMEOUT:-900}" -- "${run[@]}"
fi
echo "socketcan-test: running on this machine's vcan0"
exec "${run[@]}"
