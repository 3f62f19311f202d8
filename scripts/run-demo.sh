#!/usr/bin/env bash
# Builds Busprobe and starts it on its built-in demo bus with a simulated node 5.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUSPROBE_BUILD_TESTS=OFF >/dev/null
cmake --build "$top/build-release" --target busprobe busprobe-node -j"$(nproc)"
# The sample EDS file "drv17-ka.eds" is found in examples/, so the tree is filled at start-up;
# the user SDO list is kept there in SDOList.bin.
cd "$top/examples"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting under xvfb-run (nothing will be visible)." >&2
  exec xvfb-run -a "$top/build-release/busprobe" --demo "$@"
fi
exec "$top/build-release/busprobe" --demo "$@"
