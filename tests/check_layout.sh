#!/usr/bin/env bash
# The folders' dependency rule, checked on every #include:
#   payload/  includes only payload/ and the C++ standard library (no
#             platform header: the container code runs in the installer and
#             in the image builder alike);
#   tools/    includes from the tree only payload/ and tools/.
#
#   check_layout.sh SOURCE_DIR
set -u
cd "$1" || exit 2
failed=0
complain() { echo "$1: $2"; failed=1; }

for file in payload/*.h payload/*.cpp; do
  while IFS= read -r line; do
    number=${line%%:*}; directive=${line#*:}
    if [[ $directive =~ \#include[[:space:]]*\"([^\"]+)\" ]]; then
      header=${BASH_REMATCH[1]}
      [[ $header == payload/* || $header != */* ]] || complain "$file:$number" "includes $header (payload/ includes only payload/)"
    elif [[ $directive =~ \#include[[:space:]]*\<([^\>]+)\> ]]; then
      header=${BASH_REMATCH[1]}
      [[ $header != */* && $header != *.h ]] || complain "$file:$number" "includes <$header>, not a C++ standard header"
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
done

for file in tools/*.h tools/*.cpp; do
  while IFS= read -r line; do
    number=${line%%:*}; directive=${line#*:}
    if [[ $directive =~ \#include[[:space:]]*\"([^\"]+)\" ]]; then
      header=${BASH_REMATCH[1]}
      [[ $header == payload/* || $header == tools/* || $header != */* ]] ||
        complain "$file:$number" "includes $header (tools/ includes only payload/ and tools/)"
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
done

[ $failed -eq 0 ] && echo "payload/ and tools/ keep their include rule"
exit $failed
