#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on) in
# build-fuzz and runs each for SECONDS seconds (default 60), one after the other.
#   scripts/fuzz.sh [SECONDS]
# Each run starts from a scratch copy of fuzz/corpus/<target>, so the committed corpus is not
# changed; the EDS reader also reads the sample files of ../shared/eds when they are there (their
# first 8 KiB: longer inputs slow the run more than they add).
# A finding is saved as build-fuzz/findings/<target>-crash-... and makes the script fail after the
# other targets have run. Environment: FUZZ_JOBS (build jobs, default 2), CXX_FUZZ (the clang++
# to use; default: the first clang++ on the PATH).
set -euo pipefail
seconds="${1:-60}"
case "$seconds" in
  '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build-fuzz"
targets=(fuzz_eds_reader fuzz_list_file fuzz_log_files fuzz_sdo_response fuzz_texts)

cxx="${CXX_FUZZ:-}"
if [ -z "$cxx" ]; then
  for c in clang++ clang++-14 clang++-15 clang++-16; do
    if command -v "$c" >/dev/null; then cxx="$c"; break; fi
  done
fi
[ -n "$cxx" ] || { echo "fuzz.sh: clang++ not found" >&2; exit 1; }

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Debug \
  -DBUSPROBE_BUILD_GUI=OFF -DBUSPROBE_BUILD_BENCH=OFF -DBUSPROBE_BUILD_TESTS=OFF \
  -DBUSPROBE_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzzers -j"${FUZZ_JOBS:-2}"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/busprobe-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
findings="$build/findings"
mkdir -p "$findings"

export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

failed=()
for t in "${targets[@]}"; do
  corpus="$scratch/$t"
  mkdir -p "$corpus"
  cp -R "$top/fuzz/corpus/$t/." "$corpus/"
  extra=()
  options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -use_value_profile=1
           -artifact_prefix="$findings/$t-")
  if [ "$t" = fuzz_eds_reader ]; then
    options+=(-max_len=8192 -dict="$top/fuzz/eds.dict")
    [ -d "$top/../shared/eds" ] && extra+=("$top/../shared/eds")
  fi
  echo "== $t: ${seconds} s"
  if ! "$build/fuzz/$t" "${options[@]}" "$corpus" "${extra[@]}" 2>"$scratch/$t.log"; then
    failed+=("$t")
    tail -n 60 "$scratch/$t.log" >&2
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$scratch/$t.log" | sed "s/^/   /" || true
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz.sh: findings in: ${failed[*]} (inputs in $findings)" >&2
  exit 1
fi
echo "fuzz.sh: no findings"
