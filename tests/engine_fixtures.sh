#!/usr/bin/env bash
# Unix-side fixtures for the engine tests under Wine: things a Windows
# program cannot make itself. DIR is the tests' working folder.
#   full-dest/urls.ini ... -> /dev/full   writes fail (a full disk)
#   full-temp/velk.tmp     -> /dev/full   the temporary file's writes fail
#   dangling/backup        -> nowhere     "backup" does not exist, yet cannot be created
set -eu
dir=$1/engine-fixtures
rm -rf "$dir"
mkdir -p "$dir/full-dest-large" "$dir/full-dest-small" "$dir/full-temp" "$dir/dangling"
ln -s /dev/full "$dir/full-dest-large/velk32.exe"
ln -s /dev/full "$dir/full-dest-small/versions.txt"
ln -s /dev/full "$dir/full-temp/velk.tmp"
ln -s /nonexistent/velk-backup "$dir/dangling/backup"
