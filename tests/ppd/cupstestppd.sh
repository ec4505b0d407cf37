#!/bin/sh
# Runs cupstestppd on every generated PPD, with the filter and the prefilter
# installed in a scratch root (cupstestppd -R) so their checks are real.
# Fails on any FAIL line, or when there are not 47 PPDs.
# Usage: cupstestppd.sh cupstestppd ppd-dir scratch-root filter prefilter
set -eu
cupstestppd=$1 ppds=$2 root=$3 filter=$4 prefilter=$5
rm -rf "$root"
mkdir -p "$root/usr/lib/cups/filter"
install -m 0755 "$filter" "$root/usr/lib/cups/filter/rastertoTalvero"
install -m 0755 "$prefilter" "$root/usr/lib/cups/filter/rastertoTalveroPlanes"

count=$(ls "$ppds"/tlv*.ppd | wc -l)
report=$("$cupstestppd" -R "$root" "$ppds"/tlv*.ppd 2>&1) || true
passed=$(printf '%s\n' "$report" | grep -c ': PASS$' || true)
if printf '%s\n' "$report" | grep -q 'FAIL'; then
  printf '%s\n' "$report" | grep -B3 -A3 'FAIL'
  echo "cupstestppd: FAIL lines above"
  exit 1
fi
if [ "$count" -ne 47 ] || [ "$passed" -ne 47 ]; then
  echo "cupstestppd: $count PPDs, $passed passed; expected 47"
  exit 1
fi
echo "cupstestppd: all $passed PPDs pass"
