#!/usr/bin/env bash
# Builds the Debian package of Busprobe: a Release build of the programs alone (no tests, no
# benchmarks) in build-package/, with Debian's hardening flags, then `cpack -G DEB`.
# Prints the package's path on its last line.
#   scripts/package.sh
# Environment: BUILD_JOBS (default: the number of processors).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
build="$top/build-package"

# Debian's compiler and linker flags with every hardening option, less -g (the package is stripped).
cd "$top"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cxxflags="${cxxflags/-g /}"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DBUSPROBE_BUILD_TESTS=OFF -DBUSPROBE_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j"${BUILD_JOBS:-$(nproc)}"

rm -f "$build"/busprobe_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=("$build"/busprobe_*.deb)
[ -f "${deb[0]}" ] || { echo "package: cpack made no package in $build" >&2; exit 1; }
echo "${deb[0]}"
