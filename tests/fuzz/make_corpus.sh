#!/usr/bin/env bash
# make_corpus.sh [VELKPACK]: makes the fuzz targets' seed inputs (the seed-*
# files of corpus/NAME/) with the project's own velkpack and its sample
# payload; regression-* files are left alone. Same tool, same seeds.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
velkpack=${1:-$source/build/asan/velkpack}
[ -x "$velkpack" ] || { echo "make_corpus: no velkpack at $velkpack (build the asan preset first)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus=$here/corpus
for name in lzhuf_decoder_fuzz payload_scan_fuzz inspect_fuzz encoder_roundtrip_fuzz pe_reader_fuzz installer_build_fuzz; do
  mkdir -p "$corpus/$name"
  rm -f "$corpus/$name"/seed-*
done
payload=$source/resources/payload
encode() { "$velkpack" encode "$1" "$2" >/dev/null; }

# Decoder: streams of texts, of binary data, of one byte, of a long run (long
# matches) and of spaces (matches into the ring's pre-filled spaces).
printf x >"$work/one"
head -c 3000 /dev/zero | tr '\0' a >"$work/run"
head -c 500 /dev/zero | tr '\0' ' ' >"$work/spaces"
encode "$payload/readme.txt" "$work/readme.lzh"
d=$corpus/lzhuf_decoder_fuzz
encode "$payload/readme.txt" "$d/seed-text"
encode "$payload/velk.ini" "$d/seed-settings"
encode "$work/readme.lzh" "$d/seed-binary"
encode "$work/one" "$d/seed-one-byte"
encode "$work/run" "$d/seed-run"
encode "$work/spaces" "$d/seed-spaces"

# Scan and inspect: a payload of the sample files (a compressed stream stands
# in for the client), the same payload inside an image as the installer
# carries it (a prefix ending in a line end, a suffix), and a cut one.
mkdir "$work/inputs"
cp "$payload"/* "$work/inputs/"
cp "$work/readme.lzh" "$work/inputs/velk32.exe"
"$velkpack" pack "$work/inputs" -o "$work/payload.bin" >/dev/null
{ printf 'MZ image prefix: code, data and the licence text\r\n'; cat "$work/payload.bin"; printf 'remaining resources'; } >"$work/image.bin"
size=$(stat -c %s "$work/payload.bin")
for name in payload_scan_fuzz inspect_fuzz; do
  cp "$work/payload.bin" "$corpus/$name/seed-payload"
  cp "$work/image.bin" "$corpus/$name/seed-image"
  head -c $((size / 2)) "$work/payload.bin" >"$corpus/$name/seed-cut"
done

# Encoder: a control byte (marker, variant, tiling), then the content.
e=$corpus/encoder_roundtrip_fuzz
{ printf '\000'; cat "$payload/readme.txt"; printf 'KWAZ KWA KW K'; } >"$e/seed-text"
{ printf '\004'; cat "$payload/velk.hlp"; } >"$e/seed-binary-variant-1"
{ printf '\015'; cat "$payload/urls.ini"; } >"$e/seed-short-marker-variant-3"
{ printf '\020'; cat "$payload/servers.ini"; } >"$e/seed-expanded"
# PE reader: the smallest programs that carry an installer stub's resources
# (those of the build's fixture stub: icon, raw data 3 and 4, a named raw
# data, a string table), for i686 and x86_64, without a C runtime.
printf 'void entry(void) {}\n' >"$work/entry.c"
for triple in i686-w64-mingw32 x86_64-w64-mingw32; do
  entry=entry
  [ $triple = i686-w64-mingw32 ] && entry=_entry
  $triple-windres -I "$source/resources" "$source/tests/fixtures/stub.rc" -O coff -o "$work/res-$triple.o"
  $triple-gcc -Os -nostdlib -Wl,-e,$entry -Wl,--no-insert-timestamp -s -o "$corpus/pe_reader_fuzz/seed-stub-$triple.exe" \
    "$work/entry.c" "$work/res-$triple.o"
done

# Installer build: the smallest stubs the MinGW compilers make (no C
# runtime, an entry that reads the CRC place, the fixture stub's resources),
# for both machines, and an installer that velkpack build made from the
# i686 one.
p=$corpus/installer_build_fuzz
printf '#include "install/payload_check.h"\nextern "C" unsigned Entry() { return ExpectedPayloadCrc; }\n' >"$work/stub.cpp"
for triple in i686-w64-mingw32 x86_64-w64-mingw32; do
  entry=Entry
  [ "$triple" = i686-w64-mingw32 ] && entry=_Entry
  "$triple-windres" -I "$source/resources" "$source/tests/fixtures/stub.rc" -O coff -o "$work/$triple.res.o"
  "$triple-g++-posix" -Os -s -nostdlib -fno-exceptions -e "$entry" -Wl,--no-insert-timestamp -I "$source" \
    -o "$work/stub-$triple.exe" "$work/stub.cpp" "$source/install/expected_payload_crc.cpp" "$work/$triple.res.o"
  cp "$work/stub-$triple.exe" "$p/seed-stub-$triple"
done
mkdir "$work/small"
for file in "$payload"/*; do head -c 40 "$file" >"$work/small/$(basename "$file")"; done
printf 'MZ a small client' >"$work/small/velk32.exe"
"$velkpack" build "$work/small" --stub "$p/seed-stub-i686-w64-mingw32" -o "$p/seed-installer" >/dev/null
echo "make_corpus: seeds written under $corpus"
