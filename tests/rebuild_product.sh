#!/usr/bin/env bash
# One way to make installers: velkpack build of the product's own payload
# folder, with the product itself as the stub, must give the product byte
# for byte (the build made it the same way from velk-setup-stub.exe).
#
#   rebuild_product.sh VELKPACK PRODUCT.exe PAYLOAD_DIR WORK_DIR
set -u
velkpack=$1 product=$2 inputs=$3 work=$4
rm -rf "$work" && mkdir -p "$work" || exit 1
if ! "$velkpack" build "$inputs" --stub "$product" -o "$work/again.exe" >"$work/log" 2>&1; then
  cat "$work/log"; echo "velkpack build with the product as stub failed" >&2; exit 1
fi
if ! cmp "$product" "$work/again.exe"; then
  echo "the rebuilt product differs from $product (first difference above)" >&2; exit 1
fi
echo "velkpack build with the product as stub gives the product, $(stat -c %s "$product") bytes"
rm -rf "$work"
