#!/bin/sh
# Installs the Debian 12 packages needed to build, test and demo the driver.
# Run as root (or with sudo). Safe to run again.
set -eu
PACKAGES="
  g++ cmake make pkg-config
  libcups2-dev libcupsimage2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev
  cups cups-client cups-filters cups-ppdc
  ghostscript poppler-utils
  python3
  clang-14 libfuzzer-14-dev
"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq $missing
fi
