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

# Under Wine: in the user's display, the installer is simply started (the
# 32-bit product where Wine has its 32-bit loader, else its x86_64 twin).
# Without a display, it runs in an Xvfb display of its own, where walk.exe
# drives the wizard through its five pages, choosing build/walk/velk in the
# folder chooser and checking both finish-page boxes, and saves a picture of
# each page and of the chooser: docs/screenshots/page-N-NAME.png. The client
# and help viewer started at the end go with the walk's Wine session.
setup=build/mingw64/velk-setup.exe
if [ -d /usr/lib/i386-linux-gnu/wine ] || [ -d /usr/lib/wine/i386-unix ]; then
  setup=build/mingw32/velk-setup.exe
fi
if [ -n "${DISPLAY:-}" ]; then
  echo "main: starting $setup under Wine on $DISPLAY"
  if command -v wine >/dev/null 2>&1; then wine "$setup"; else wine64 "$setup"; fi
  exit $?
fi
if ! cmake --build --preset mingw64 --target walk -j "$jobs" >build/main-walk.log 2>&1; then
  tail -30 build/main-walk.log; echo "main: building walk failed" >&2; exit 1
fi
walkdir=$PWD/build/walk
rm -rf "$walkdir"; mkdir -p "$walkdir/shots"
tests/wine/wine-session start "$walkdir/session" >/dev/null || { echo "main: no Wine session" >&2; exit 1; }
(
  # shellcheck disable=SC1091
  . "$walkdir/session/env"
  "$VELK_WINE" build/mingw64/tests/e2e/walk.exe "$PWD/$setup" "$walkdir" "$walkdir/shots"
)
status=$?
tests/wine/wine-session stop "$walkdir/session" >/dev/null
[ $status -eq 0 ] || { echo "main: the walk through the wizard failed" >&2; exit $status; }
mkdir -p docs/screenshots
for bmp in "$walkdir"/shots/*.bmp; do
  png=docs/screenshots/$(basename "${bmp%.bmp}").png
  /usr/bin/convert-im6.q16 "$bmp" "$png" || { echo "main: converting $bmp failed" >&2; exit 1; }
  echo "main: $png"
done
