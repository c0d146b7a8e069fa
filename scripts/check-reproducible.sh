#!/usr/bin/env bash
# Proves that the build is reproducible: builds the products of both MinGW
# presets (velk-setup.exe and the sample client velk32.exe) a second time,
# from a copy of the tree in another folder and into another build folder,
# and compares them byte for byte with the builds in build/PRESET. Any
# difference fails, naming the file and the first differing offset.
#
#   scripts/check-reproducible.sh
set -u
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
products=(velk-setup.exe sample_client/velk32.exe)

copy=$(mktemp -d /tmp/velk-repro.XXXXXX) || exit 1
trap 'rm -rf "$copy"' EXIT
# The tree as it stands (tracked files and new ones not ignored), in a
# folder of another name and depth.
git ls-files -z --cached --others --exclude-standard |
  tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$copy" -xf - ||
  { echo "reproducible: cannot copy the tree to $copy" >&2; exit 1; }
mkdir -p "$copy/second/source" && mv "$copy"/* "$copy/second/source/" 2>/dev/null
source_copy=$copy/second/source

failed=0
for preset in mingw32 mingw64; do
  first=build/$preset
  second=$copy/second/build-$preset
  log=$copy/$preset.log
  if ! { cmake --preset "$preset" -DVELK_PAYLOAD_DIR="$PWD/resources/payload" &&
         cmake --build --preset "$preset" --target velk_setup velk32 -j "$jobs"; } >"$log" 2>&1; then
    tail -20 "$log"; echo "reproducible: building $preset in $first failed" >&2; exit 1
  fi
  if ! (cd "$source_copy" &&
        { cmake --preset "$preset" -B "$second" -DVELK_PAYLOAD_DIR="$source_copy/resources/payload" &&
          cmake --build "$second" --target velk_setup velk32 -j "$jobs"; }) >"$log" 2>&1; then
    tail -20 "$log"; echo "reproducible: building $preset in $second failed" >&2; exit 1
  fi
  for product in "${products[@]}"; do
    if difference=$(cmp "$first/$product" "$second/$product" 2>&1); then
      echo "reproducible: $preset $product identical ($(sha256sum <"$first/$product" | cut -c1-16)...)"
    else
      # cmp counts bytes from 1.
      byte=$(echo "$difference" | sed -n 's/.*differ: byte \([0-9]*\).*/\1/p')
      if [ -n "$byte" ]; then
        offset=$((byte - 1))
        printf 'reproducible: %s %s differs between two builds, first at offset %d (0x%X)\n' \
          "$preset" "$product" "$offset" "$offset" >&2
      else
        echo "reproducible: $preset $product: $difference" >&2
      fi
      failed=1
    fi
  done
done
exit $failed
