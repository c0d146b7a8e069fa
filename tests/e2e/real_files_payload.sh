#!/usr/bin/env bash
# The "real files" payload: ten real files of this machine, none of them the
# sample's, collected into OUT under the install file table's names. Large
# enough (a Windows program of 1.5 MB as the client, over 1 MB compressed
# in all) that a test can stop its installation half way.
#
#   real_files_payload.sh OUT
#
# The files come from Debian packages the tests already need: 32-bit Wine's
# own programs and settings (libwine:i386) and the system's licence texts
# (base-files).
set -eu
out=$1
wine=/usr/lib/i386-linux-gnu/wine/i386-windows
licences=/usr/share/common-licenses
rm -rf "$out" && mkdir -p "$out"
while read -r name source; do
  [ -f "$source" ] || { echo "real_files_payload: $source is missing (32-bit Wine and base-files provide it)" >&2; exit 1; }
  cp "$source" "$out/$name"
done <<LIST
velk32.exe   $wine/winecfg.exe
velk.hlp     $wine/regedit.exe
ircintro.hlp /usr/share/wine/wine.inf
readme.txt   $licences/GPL-3
versions.txt $licences/Apache-2.0
velk.ini     $licences/BSD
aliases.ini  $licences/Artistic
popups.ini   $licences/CC0-1.0
servers.ini  $licences/MPL-2.0
urls.ini     $licences/LGPL-3
LIST
