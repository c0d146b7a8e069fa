#!/usr/bin/env bash
# The main job: builds the image builder and the shipped 32-bit installer
# (resources/payload/ with the sample client; for a folder given as the
# first argument, velkpack build makes build/main/velk-setup.exe from the
# built stub), prints the installer's segments and payload CRC as its
# checksum scan sees them, and runs the installer under 32-bit Wine (its
# x86_64 twin under 64-bit Wine where the kernel runs no 32-bit program).
#
# With $DISPLAY set the installer is simply started there. Without one it
# runs in an Xvfb display of its own, where walk.exe drives the wizard
# through its five pages (choosing build/walk/velk in the folder chooser and
# checking both finish-page boxes) and a picture of each page and of the
# chooser is saved as build/screenshots/page-N-NAME.png. The checkout itself
# is left as it was; scripts/screenshots.sh copies the pictures into
# docs/screenshots/ for the README.
set -u
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
inputs=${1:-resources/payload}
inputs=$(cd "$inputs" 2>/dev/null && pwd) || { echo "main: no folder $1" >&2; exit 2; }
mkdir -p build
jobs=$(nproc 2>/dev/null || echo 2)
build() { # preset target...
  local preset=$1; shift
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" --target "$@" -j "$jobs"; } \
       >"build/main-$preset.log" 2>&1; then
    tail -30 "build/main-$preset.log"; echo "main: building $* ($preset) failed" >&2; exit 1
  fi
}
build native velkpack
# The shipped installer is the i686 build. Where the kernel runs no 32-bit
# program (32-bit emulation switched off), its x86_64 twin is walked instead.
preset=mingw32
if ! why=$(tests/wine/runs-32bit 2>&1); then
  echo "main: $why; walking the x86_64 twin of the installer instead" >&2
  preset=mingw64
fi
build "$preset" velk_setup velk_setup_stub velk32 walk
setup=build/$preset/velk-setup.exe
if [ -n "${1:-}" ]; then
  # Other files need no compiler: velkpack build puts them into the built
  # stub. A folder without a client gets the sample client.
  collected=build/main/payload
  rm -rf build/main && mkdir -p "$collected" && cp -R "$inputs"/. "$collected"/ || exit 1
  [ -e "$collected/velk32.exe" ] || cp "build/$preset/sample_client/velk32.exe" "$collected/" || exit 1
  setup=build/main/velk-setup.exe
  build/native/velkpack build "$collected" --stub "build/$preset/velk-setup-stub.exe" -o "$setup" || exit $?
fi
echo "velk-setup.exe ($preset): $setup"
build/native/velkpack inspect "$setup" || exit $?

if [ -n "${DISPLAY:-}" ]; then
  echo "main: starting $setup under Wine on $DISPLAY"
  [ $preset = mingw32 ] && exec wine "$setup"
  WINELOADER=/usr/lib/wine/wine64 exec /usr/lib/wine/wine64 "$setup"
fi

walkdir=$PWD/build/walk
shots=build/screenshots
rm -rf "$walkdir" "$shots"; mkdir -p "$walkdir/shots" "$shots"
tests/wine/wine-session start "$walkdir/session" >/dev/null || { echo "main: no Wine session" >&2; exit 1; }
(
  # shellcheck disable=SC1091
  . "$walkdir/session/env"
  "$VELK_WINE" "build/$preset/tests/e2e/walk.exe" "$PWD/$setup" "$walkdir" "$walkdir/shots"
)
status=$?
tests/wine/wine-session stop "$walkdir/session" >/dev/null
[ $status -eq 0 ] || { echo "main: the walk through the wizard failed" >&2; exit $status; }
for bmp in "$walkdir"/shots/*.bmp; do
  png=$shots/$(basename "${bmp%.bmp}").png
  /usr/bin/convert-im6.q16 "$bmp" -strip "$png" || { echo "main: converting $bmp failed" >&2; exit 1; }
  echo "main: $png"
done
