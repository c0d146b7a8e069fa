#!/usr/bin/env bash
# Makes WORK/velk-setup-real.exe, the installer of the "real files" payload
# (real_files_payload.sh) with a licence of its own, the way a release
# engineer does: velkpack build alone, from the built stub, with nothing on
# the PATH (no compiler, no toolchain). Its inputs stay in WORK/inputs for
# the tests that install it.
#
#   make_real_files_installer.sh VELKPACK STUB WORK
set -u
velkpack=$1 stub=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work/empty-path" || exit 1
"$here/real_files_payload.sh" "$work/inputs" || exit 1
# The licence: a real licence text with CR LF line ends and the end line.
{ sed 's/$/\r/' /usr/share/common-licenses/BSD; printf '\r\n***'; } >"$work/licence.txt"

env -i PATH="$work/empty-path" HOME="$work" \
  "$velkpack" build "$work/inputs" --stub "$stub" -o "$work/velk-setup-real.exe" \
  --licence "$work/licence.txt" >"$work/build.log" 2>&1
status=$?
cat "$work/build.log"
[ $status -eq 0 ] || { echo "velkpack build failed with status $status" >&2; exit 1; }
size=$(stat -c %s "$work/velk-setup-real.exe")
[ "$size" -ge 1000000 ] || { echo "the real-files installer is only $size bytes, not about 1 MB" >&2; exit 1; }
echo "real-files installer: $work/velk-setup-real.exe, $size bytes"
