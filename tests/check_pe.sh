#!/usr/bin/env bash
# Checks that a built program is a PE image of the expected machine with the
# Windows GUI subsystem: check_pe.sh PROGRAM FORMAT (pei-i386 or pei-x86-64).
set -u
program=$1 format=$2
objdump=objdump
case $format in
  pei-i386) objdump=i686-w64-mingw32-objdump ;;
  pei-x86-64) objdump=x86_64-w64-mingw32-objdump ;;
esac
header=$("$objdump" -p "$program") || { echo "$program: not readable as a PE image"; exit 1; }
echo "$header" | grep -q "file format $format" || { echo "$program: not $format"; echo "$header" | head -3; exit 1; }
echo "$header" | grep -qE '^Subsystem[[:space:]]+0+2[[:space:]]+\(Windows GUI\)' ||
  { echo "$program: not a Windows GUI program"; echo "$header" | grep Subsystem; exit 1; }
echo "$program: $format, Windows GUI"
