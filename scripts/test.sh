#!/usr/bin/env bash
# Builds all four presets and runs every test: natively, natively under the
# sanitizers (with a short smoke run of every fuzz target from its corpus),
# the shipped i686 product's whole Windows suite under 32-bit Wine, the
# x86_64 twin's width-dependent tests under 64-bit Wine (its whole suite
# where the kernel runs no 32-bit program), and the reproducibility check.
# Exits non-zero on any failure.
set -u
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
if [ ! -x /usr/lib/wine/wine ]; then
  echo "test: 32-bit Wine (/usr/lib/wine/wine, package wine32:i386) is missing: the shipped i686 installer cannot be tested" >&2
  exit 1
fi
# Some kernels run with 32-bit emulation switched off, and no 32-bit
# program starts there, Wine's loader included. That is the machine's
# limit, not the product's: the x86_64 twin then runs the whole Windows
# suite in the product's place, and the run says so.
twin_whole=OFF
if ! why=$(tests/wine/runs-32bit 2>&1); then
  echo "test: $why; the i686 product is built and checked without Wine, and its Windows suite runs on the x86_64 twin instead" >&2
  twin_whole=ON
fi

jobs=$(nproc 2>/dev/null || echo 2)
failed=0
mkdir -p build
for preset in native asan mingw32 mingw64; do
  echo "== build $preset"
  # The tests expect the sample payload, whatever the main job was last given.
  if ! cmake --preset "$preset" -DVELK_PAYLOAD_DIR="$PWD/resources/payload" -DVELK_TWIN_WHOLE_SUITE=$twin_whole \
       >"build/$preset.log" 2>&1; then
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
ctest --preset native -j "$jobs" || failed=1
echo "== test asan (ASan and UBSan; fuzz targets: a few seconds each)"
ctest --preset asan -j "$jobs" || failed=1
if [ $twin_whole = OFF ]; then
  echo "== test mingw32: the shipped product, under 32-bit Wine"
  ctest --preset mingw32 || failed=1
  echo "== test mingw64: the x86_64 twin's width-dependent tests, under Wine"
  ctest --preset mingw64 || failed=1
else
  echo "== test mingw32: the shipped product, the tests that need no Wine (this kernel runs no 32-bit program)"
  ctest --preset mingw32 -LE wine || failed=1
  echo "== test mingw64: the x86_64 twin, the whole Windows suite under 64-bit Wine"
  ctest --preset mingw64 || failed=1
fi
echo "== reproducible builds"
scripts/check-reproducible.sh || failed=1

if [ $failed -ne 0 ]; then
  echo "FAILED" >&2
  exit 1
fi
echo "all tests passed"
