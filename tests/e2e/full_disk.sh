#!/usr/bin/env bash
# A small disk for the end-to-end scenarios, too small for the installer's
# client: a tmpfs of 512 KiB mounted at DIR and given to the test run's Wine
# session as drive R:. Mounting needs root.
#
#   full_disk.sh mount SESSION DIR
#   full_disk.sh unmount SESSION DIR
set -u
action=${1:-} session=${2:-} dir=${3:-}
[ -n "$dir" ] && [ -f "$session/env" ] || { echo "usage: full_disk.sh mount|unmount SESSION DIR (a started Wine session)" >&2; exit 2; }
# shellcheck disable=SC1091
. "$session/env"
case $action in
  mount)
    mkdir -p "$dir" || exit 1
    mountpoint -q "$dir" && umount "$dir"
    if ! mount -t tmpfs -o size=512k,mode=0777 velk-full-disk "$dir"; then
      echo "full_disk: cannot mount a tmpfs at $dir (needs root)" >&2; exit 1
    fi
    ln -sfn "$dir" "$WINEPREFIX/dosdevices/r:" || exit 1
    echo "full_disk: $dir (512 KiB) is drive R: of $WINEPREFIX"
    ;;
  unmount)
    rm -f "$WINEPREFIX/dosdevices/r:"
    if mountpoint -q "$dir"; then umount "$dir" || umount -l "$dir"; fi
    rmdir "$dir" 2>/dev/null
    exit 0
    ;;
  *) echo "usage: full_disk.sh mount|unmount SESSION DIR" >&2; exit 2 ;;
esac
