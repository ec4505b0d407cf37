#!/bin/sh
# Installs the Debian 12 packages needed to build, test and demo the driver.
# Run as root (or with sudo). Safe to run again.
#   scripts/install-deps.sh [ARCH...]
# With ARCH (arm64, armhf), also what scripts/cross-test.sh needs for it: the
# cross compiler, qemu-user and the target's libraries (Debian multiarch);
# with s390x only GoogleTest of the target (its byte-order test needs no more).
set -eu
PACKAGES="
  g++ cmake make pkg-config
  libcups2-dev libcupsimage2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libjpeg-dev libpappl-dev libpam0g-dev
  cups cups-client cups-filters cups-ppdc cups-ipp-utils
  ghostscript poppler-utils
  python3 man-db
  systemd iproute2
  chromium
  dpkg-dev file lintian
  clang-14 libfuzzer-14-dev
"
for arch in "$@"; do
  libs="libcups2-dev libcupsimage2-dev libgtest-dev libgmock-dev libbenchmark-dev libpng-dev"
  case $arch in
    arm64) triplet=aarch64-linux-gnu ;;
    armhf) triplet=arm-linux-gnueabihf ;;
    s390x) triplet=s390x-linux-gnu; libs=libgtest-dev ;;
    *) echo "unknown architecture $arch (arm64, armhf or s390x)" >&2; exit 2 ;;
  esac
  dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
  PACKAGES="$PACKAGES g++-$triplet qemu-user qemu-user-binfmt"
  for p in $libs; do
    PACKAGES="$PACKAGES $p:$arch"
  done
done
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
