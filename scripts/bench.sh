#!/usr/bin/env bash
# Benchmarks: the codec natively, the engine under Wine. Figures only.
set -u
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
mkdir -p build
{ cmake --preset native && cmake --build --preset native --target codec_bench -j "$(nproc)" &&
  cmake --preset mingw64 && cmake --build --preset mingw64 --target engine_bench install_bench -j "$(nproc)"; } \
  >build/bench.log 2>&1 || { tail -30 build/bench.log; exit 1; }
echo "== codec (native)"
build/native/bench/codec_bench
echo "== engine (x86_64 under Wine)"
(cd build/mingw64/bench && ../../../tests/wine/wine-run ./engine_bench.exe)
echo "== installer, Install to finish page (x86_64 under Wine)"
(cd build/mingw64/bench && ../../../tests/wine/wine-run ./install_bench.exe '..\velk-setup.exe' 'velk-setup-bench.exe')
