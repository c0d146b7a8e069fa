#!/usr/bin/env bash
# The main job: builds the image builder and the installer (the 32-bit
# product and its x86_64 twin), packing resources/payload/ with the sample
# client (or the folder given as the first argument), and prints the
# installer's segments and payload CRC as its checksum scan sees them.
set -u
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
inputs=${1:-resources/payload}
inputs=$(cd "$inputs" 2>/dev/null && pwd) || { echo "main: no folder $1" >&2; exit 2; }
mkdir -p build
jobs=$(nproc 2>/dev/null || echo 2)
for preset in native mingw32 mingw64; do
  target=velk_setup
  [ "$preset" = native ] && target=velkpack
  if ! { cmake --preset "$preset" -DVELK_PAYLOAD_DIR="$inputs" &&
         cmake --build --preset "$preset" --target "$target" -j "$jobs"; } >"build/main-$preset.log" 2>&1; then
    tail -30 "build/main-$preset.log"; echo "main: building $target ($preset) failed" >&2; exit 1
  fi
done
echo "velk-setup.exe (32-bit product): build/mingw32/velk-setup.exe"
build/native/velkpack inspect build/mingw32/velk-setup.exe || exit $?
