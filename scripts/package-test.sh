#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it without installing it: unpacked
# into a scratch root, it holds the programs, desktop entry, icons, manual pages, sample EDS file
# and documents; the programs print their help from there; Depends names the Qt 6 packages; and
# lintian finds no error (its warnings are shown).
#   scripts/package-test.sh
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
deb="$("$top/scripts/package.sh" | tee /dev/stderr | tail -n 1)"
build="$top/build-package"
echo "package: $deb"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

passed=0
failed=0
check() {  # check WHAT COMMAND...: runs the command, counts and reports the outcome
  local what="$1"
  shift
  if "$@" >"$root.out" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
    sed 's/^/  /' "$root.out"
  fi
  rm -f "$root.out"
}

programs=(busprobe busprobe-node)
[ -x "$build/busprobe-cli" ] && programs+=(busprobe-cli)
files=(
  usr/share/applications/busprobe.desktop
  usr/share/icons/hicolor/scalable/apps/busprobe.svg
  usr/share/icons/hicolor/48x48/apps/busprobe.png
  usr/share/icons/hicolor/256x256/apps/busprobe.png
  usr/share/busprobe/drv17-ka.eds
  usr/share/doc/busprobe/copyright
  usr/share/doc/busprobe/changelog.Debian.gz
)
for p in "${programs[@]}"; do
  files+=("usr/bin/$p" "usr/share/man/man1/$p.1.gz")
done
[ -x "$build/busprobe-cli" ] && [ -f "$top/packaging/busprobe-cli.bash-completion" ] &&
  files+=(usr/share/bash-completion/completions/busprobe-cli)
for f in "${files[@]}"; do
  check "$f in the package" test -s "$root/$f"
done

# desktop-file-validate prints hints and warnings but fails only on errors: take none of them.
check "desktop entry is valid" bash -c '[ -z "$(desktop-file-validate "$1" 2>&1)" ]' _ \
  "$root/usr/share/applications/busprobe.desktop"
for p in "${programs[@]}"; do
  check "$p --help runs from the package" bash -c '"$1" --help | grep -q "^Usage: $2 "' _ \
    "$root/usr/bin/$p" "$p"
done
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for lib in libqt6core6 libqt6widgets6 libqt6charts6 libsocketcan2; do
  check "Depends names $lib" grep -q "\b$lib\b" <<<"$depends"
done

status=0
findings="$(lintian --fail-on error "$deb" 2>&1)" || status=$?
echo "lintian:"
grep -v '^running with root privileges' <<<"$findings" | sed 's/^/  /' || true
check "lintian finds no error" test "$status" -eq 0
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
