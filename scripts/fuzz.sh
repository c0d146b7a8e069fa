#!/usr/bin/env bash
# Runs every fuzz target (tests/fuzz/) for SECONDS seconds each (default
# 60), one after the other, from its committed corpus plus what earlier runs
# found (kept in build/asan/fuzz/NAME/corpus). Builds the asan preset first.
# Prints one line per target (executions, coverage, corpus, findings) and
# exits non-zero when any target found something (inputs in
# build/asan/fuzz/NAME/findings/: fix the fault, then keep the input in
# tests/fuzz/corpus/NAME/ as regression-WHAT).
set -u
cd "$(dirname "$0")/.."
seconds=${1:-60}
case $seconds in ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;; esac
scripts/deps.sh || exit 1
mkdir -p build
if ! { cmake --preset asan && cmake --build --preset asan -j 2; } >build/fuzz.log 2>&1; then
  tail -30 build/fuzz.log; echo "fuzz: building the asan preset failed (build/fuzz.log)" >&2; exit 1
fi
rm -f build/fuzz.log

failed=0
targets=$(sed -n '/^set(VELK_FUZZ_TARGETS/,/)/p' tests/fuzz/CMakeLists.txt | grep -vE '^set|\)|#' | tr -d ' ')
for name in $targets; do
  options=$(sed -n "s/^set(velk_fuzz_options_$name \(.*\))$/\1/p" tests/fuzz/CMakeLists.txt)
  # shellcheck disable=SC2086
  VELK_FUZZ_SECONDS=$seconds tests/fuzz/fuzz-target "build/asan/tests/fuzz/$name" \
    "tests/fuzz/corpus/$name" "build/asan/fuzz/$name" $options >/dev/null || failed=1
  cat "build/asan/fuzz/$name/summary.txt"
done
[ $failed -eq 0 ] || { echo "fuzz: FINDINGS (see above)" >&2; exit 1; }
echo "fuzz: no findings"
