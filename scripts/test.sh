#!/usr/bin/env bash
# Builds all four presets and runs every test: natively, natively under the
# sanitizers (with a short smoke run of every fuzz target from its corpus),
# and the Windows (x86_64, i686) test programs under Wine. Exits non-zero on
# any failure.
set -u
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
failed=0
mkdir -p build
for preset in native asan mingw64 mingw32; do
  echo "== build $preset"
  # The tests expect the sample payload, whatever the main job was last given.
  if ! cmake --preset "$preset" -DVELK_PAYLOAD_DIR="$PWD/resources/payload" >"build/$preset.log" 2>&1; then
    cat "build/$preset.log"; echo "configure $preset failed" >&2; exit 1
  fi
  if ! cmake --build --preset "$preset" -j "$jobs" >>"build/$preset.log" 2>&1; then
    grep -E 'error|Error|warning' "build/$preset.log" | head -40
    echo "build $preset failed (full log: build/$preset.log)" >&2; exit 1
  fi
  if grep -qE ':[0-9]+:[0-9]+: warning:' "build/$preset.log"; then
    grep -E ':[0-9]+:[0-9]+: warning:' "build/$preset.log" | sort -u | head -20
    echo "build $preset has warnings" >&2; failed=1
  fi
  rm -f "build/$preset.log"
done

echo "== test native"
ctest --preset native || failed=1
echo "== test asan (ASan and UBSan; fuzz targets: a few seconds each)"
ctest --preset asan || failed=1
echo "== test mingw64 (under Wine)"
ctest --preset mingw64 || failed=1
# The i686 build is the shipped product; its tests run where Wine can run
# 32-bit programs (the 32-bit loader is present).
if [ -x /usr/lib/wine/wine ]; then
  echo "== test mingw32 (under Wine)"
  ctest --preset mingw32 || failed=1
else
  echo "== mingw32: 32-bit Wine is not installed here: only the product checks run"
  ctest --preset mingw32 -R '^velk_setup\.pe$' || failed=1
fi

if [ $failed -ne 0 ]; then
  echo "FAILED" >&2
  exit 1
fi
echo "all tests passed"
