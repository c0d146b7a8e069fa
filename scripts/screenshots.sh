#!/usr/bin/env bash
# Refreshes the README's pictures: runs the main job's walk through the
# wizard without a display (scripts/main.sh) and copies its pictures from
# build/screenshots/ into docs/screenshots/.
set -u
cd "$(dirname "$0")/.."
env -u DISPLAY scripts/main.sh || exit $?
mkdir -p docs/screenshots
cp build/screenshots/*.png docs/screenshots/ || exit 1
echo "screenshots: docs/screenshots/ refreshed (commit them with the change they show)"
