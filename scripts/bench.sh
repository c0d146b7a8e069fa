#!/usr/bin/env bash
# Benchmarks: the codec and velkpack build natively; the engine and the
# whole installer under Wine, for the shipped i686 product (32-bit Wine)
# and its x86_64 twin.
# Figures only: nothing here fails on a slow figure.
#   scripts/bench.sh         everything
#   scripts/bench.sh codec   the codec figures only (no Windows build)
set -u
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
mkdir -p build
only=${1:-all}
{ cmake --preset native && cmake --build --preset native --target codec_bench lzhuf_file velkpack build_bench -j "$(nproc)" &&
  if [ "$only" != codec ]; then
    for preset in mingw32 mingw64; do
      cmake --preset "$preset" && cmake --build --preset "$preset" --target engine_bench install_bench -j "$(nproc)" || exit 1
    done
  fi; } >build/bench.log 2>&1 || { tail -30 build/bench.log; exit 1; }
echo "== codec (native)"
build/native/bench/codec_bench

# The stable decoder figure: instructions of whole processes under
# callgrind, each decoding the 1988 encoder's stream of the first 1,600,000
# bytes of Wine's x86_64 user32.dll through files. lzhuf_file is built -O2.
echo "== decoder instructions (callgrind, whole process)"
user32=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/user32.dll
work=build/bench-callgrind
mkdir -p "$work"
if [ -f "$user32" ] && build/native/bench/lzhuf_file encode1988 "$user32" "$work/user32.lzh" 1600000; then
  instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
      sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
  }
  base=$(instructions build/native/bench/lzhuf_file decode1988 "$work/user32.lzh" "$work/out.1988")
  ours=$(instructions build/native/bench/lzhuf_file decode "$work/user32.lzh" "$work/out.ours")
  tool=$(instructions build/native/velkpack decode "$work/user32.lzh" "$work/out.velkpack")
  if cmp -s "$work/out.1988" "$work/out.ours" && cmp -s "$work/out.1988" "$work/out.velkpack"; then
    same="same output"
  else
    same="OUTPUTS DIFFER"
  fi
  awk -v b="$base" -v o="$ours" -v t="$tool" -v same="$same" 'BEGIN {
    printf "1988 decoder            %12d\n", b
    printf "DecodeSegment           %12d  %.3f of the 1988 decoder\n", o, o / b
    printf "velkpack decode         %12d  %.3f of the 1988 decoder (%s)\n", t, t / b, same }'
else
  echo "no $user32 here: no callgrind figure"
fi
[ "$only" = codec ] && exit 0

echo "== velkpack build next to velkpack pack: the benchmark payload into the i686 stub (native)"
build/native/bench/build_bench build/mingw32/velk-setup-stub.exe build/mingw32/bench/bench_payload
for preset in mingw32 mingw64; do
  if [ $preset = mingw32 ] && ! why=$(tests/wine/runs-32bit 2>&1); then
    echo "== engine and installer (mingw32): not measured here: $why"
    continue
  fi
  echo "== engine ($preset under Wine)"
  (cd "build/$preset/bench" && ../../../tests/wine/wine-run ./engine_bench.exe)
  echo "== installer, Install to finish page ($preset under Wine)"
  (cd "build/$preset/bench" && ../../../tests/wine/wine-run ./install_bench.exe '..\velk-setup.exe' 'velk-setup-bench.exe')
done
