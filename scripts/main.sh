#!/usr/bin/env bash
# The main job: builds the image builder and packs the sample payload (or the
# folder given as the first argument), printing the table of segments and
# the payload's CRC-32.
set -u
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1
inputs=${1:-resources/payload}
mkdir -p build
if ! { cmake --preset native && cmake --build --preset native --target velkpack -j "$(nproc)"; } >build/main.log 2>&1; then
  cat build/main.log; echo "building velkpack failed" >&2; exit 1
fi
mkdir -p build/payload
build/native/velkpack pack "$inputs" -o build/payload/payload.bin \
  --crc-header build/payload/expected_payload_crc.h || exit $?
build/native/velkpack inspect build/payload/payload.bin >/dev/null || exit $?
echo "written: build/payload/payload.bin, build/payload/expected_payload_crc.h"
