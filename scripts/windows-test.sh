#!/usr/bin/env bash
# Cross-builds the core and its tests for 64-bit Windows with mingw-w64 (CMake preset "windows",
# build directory build-windows/) and runs them under Wine: core_tests.exe, e2e_tests.exe and
# windows_tests.exe (the ordinal-bound adapter driver against stand-in libraries, the multimedia
# timer, the list file on Windows).
#
# Installs what it needs from Debian's packages (idempotent). When they cannot be installed it
# says so and exits 0 with "skipped". Wine runs with a throwaway prefix inside the build
# directory (build-windows/wineprefix), created on first use. Exit status: 0 when every test
# passed (or the run was skipped), 1 otherwise. The last line reads "windows: N passed, N failed".
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build-windows"
cd "$top"  # the CMake presets are found in the current directory
packages=(cmake ninja-build googletest g++-mingw-w64-x86-64-posix wine64)

skip() {
  echo "windows: skipped: $*"
  exit 0
}

# ---- tools ----
started=$SECONDS
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  command -v apt-get >/dev/null || skip "apt-get not found; needs ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || skip "not root and no sudo; needs ${missing[*]}"
    sudo="sudo -n"
  fi
  echo "windows: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  aptLog="$(mktemp)"
  if ! { $sudo apt-get update -qq && $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$aptLog" 2>&1; then
    tail -5 "$aptLog"
    rm -f "$aptLog"
    skip "the packages ${missing[*]} could not be installed"
  fi
  rm -f "$aptLog"
  echo "windows: packages installed in $((SECONDS - started)) s"
fi

wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine="$candidate"; break; fi
done
[ -n "$wine" ] || skip "no wine64 loader found"
wineserver="$(dirname "$wine")/wineserver"
[ -x "$wineserver" ] || wineserver="$(command -v wineserver || true)"
command -v x86_64-w64-mingw32-g++-posix >/dev/null || skip "x86_64-w64-mingw32-g++-posix not found"
[ -f /usr/src/googletest/CMakeLists.txt ] || skip "GoogleTest sources (/usr/src/googletest) not found"

# ---- build ----
t=$SECONDS
cmake --preset windows >/dev/null
cmake --build --preset windows
echo "windows: configured and built in $((SECONDS - t)) s"

# ---- Wine ----
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko set-up prompts
unset DISPLAY WAYLAND_DISPLAY                # no windows: a crash prints its report instead
stopWine() { [ -n "$wineserver" ] && "$wineserver" -k >/dev/null 2>&1 || true; }
trap stopWine EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  t=$SECONDS
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 || true
  echo "windows: Wine prefix created in $((SECONDS - t)) s"
fi

# ---- tests ----
# A run counts only when GoogleTest printed its summary: a process that dies on the way (Wine
# may report such a death with exit status 0) is a failure.
passed=0
failed=0
skipped=0
status=0
runTests() {
  local exe="$1" name dir log rc=0 n t=$SECONDS
  name="$(basename "$exe")"
  dir="$(dirname "$exe")"
  log="$build/${name%.exe}.log"
  (cd "$dir" && timeout 900 "$wine" "./$name" --gtest_brief=1) >"$log" 2>&1 || rc=$?
  # Wine's output ends its lines with CR LF; a failure is shown with the two lines that explain it.
  tr -d '\r' <"$log" | awk '/: Failure$/ { n = 3 } n > 0 { print; n--; next }
                            /^\[  (PASSED|FAILED|SKIPPED) +\]|^\[==========\]/' || true
  # Brief output has no failure summary: failed = ran - passed - skipped.
  local ran pass skip
  ran=$(sed -nE 's/^\[==========\] ([0-9]+) tests? from .* ran\..*/\1/p' "$log" | tail -1)
  pass=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log" | tail -1)
  skip=$(sed -nE 's/^\[  SKIPPED \] ([0-9]+) tests?,.*/\1/p' "$log" | tail -1)
  if [ -z "$ran" ]; then
    echo "windows: $name did not finish (exit status $rc); its output is in $log"
    tail -20 "$log"
    failed=$((failed + 1))
    status=1
  else
    passed=$((passed + ${pass:-0}))
    skipped=$((skipped + ${skip:-0}))
    n=$((ran - ${pass:-0} - ${skip:-0}))
    failed=$((failed + n))
    if [ "$n" -ne 0 ] || [ "$rc" -ne 0 ]; then status=1; fi
  fi
  echo "windows: $name took $((SECONDS - t)) s (exit status $rc)"
}

for exe in "$build/tests/core_tests.exe" "$build/tests/e2e_tests.exe" "$build/tests/windows/windows_tests.exe"; do
  if [ -f "$exe" ]; then
    runTests "$exe"
  fi
done
echo "windows: total $((SECONDS - started)) s"
if [ "$skipped" -gt 0 ]; then
  echo "windows: $passed passed, $failed failed, $skipped skipped"
else
  echo "windows: $passed passed, $failed failed"
fi
exit "$status"
