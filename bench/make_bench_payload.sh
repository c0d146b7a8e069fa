#!/usr/bin/env bash
# Collects a realistic payload for the engine benchmark into OUT: a client of
# about 1.6 MB of real program code, help files of real text and binary
# content, and the sample payload's texts and settings.
set -eu
src=$1 client=$2 out=$3
mkdir -p "$out"
for f in readme.txt versions.txt velk.ini aliases.ini popups.ini servers.ini urls.ini; do
  cp "$src/resources/payload/$f" "$out/$f"
done
head -c 1600000 "$client" > "$out/velk32.exe"
cat /usr/share/common-licenses/* > "$out/velk.hlp"
# The tail of the same program: code and data that the client part lacks.
tail -c 1200000 "$client" > "$out/ircintro.hlp"
