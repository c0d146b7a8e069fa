#!/usr/bin/env bash
# Benchmarks: the codec and velkpack build natively; the engine and the
# whole installer under Wine, for the shipped i686 product (32-bit Wine)
# and its x86_64 twin.
# Figures only: nothing here fails on a slow figure.
set -u
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
mkdir -p build
{ cmake --preset native && cmake --build --preset native --target codec_bench build_bench -j "$(nproc)" &&
  for preset in mingw32 mingw64; do
    cmake --preset "$preset" && cmake --build --preset "$preset" --target engine_bench install_bench -j "$(nproc)" || exit 1
  done; } >build/bench.log 2>&1 || { tail -30 build/bench.log; exit 1; }
echo "== codec (native)"
build/native/bench/codec_bench
echo "== velkpack build next to velkpack pack: the benchmark payload into the i686 stub (native)"
build/native/bench/build_bench build/mingw32/velk-setup-stub.exe build/mingw32/bench/bench_payload
for preset in mingw32 mingw64; do
  echo "== engine ($preset under Wine)"
  (cd "build/$preset/bench" && ../../../tests/wine/wine-run ./engine_bench.exe)
  echo "== installer, Install to finish page ($preset under Wine)"
  (cd "build/$preset/bench" && ../../../tests/wine/wine-run ./install_bench.exe '..\velk-setup.exe' 'velk-setup-bench.exe')
done
