#!/bin/sh
# Cross-builds the driver for another Debian architecture and runs its unit
# and end-to-end tests there, under qemu-user:
#   scripts/cross-test.sh ARCH [BUILD_DIR]     ARCH: arm64, armhf or s390x
# (BUILD_DIR defaults to build-ARCH). Debian's cross compiler builds against
# ARCH's own libcups (multiarch, installed by scripts/install-deps.sh ARCH);
# ctest runs each test program through qemu, and the programs the tests start
# (the filter, the prefilter, the previewer) reach qemu through binfmt_misc,
# which this script sets up when it is missing. The real-chain tests, which
# need the build machine's own cupsd, are left to scripts/test.sh. Run as root.
# s390x is big-endian, and Debian's libcups for it does not install beside
# the build machine's: there only tests/byteorder, which needs no libcups,
# is built and run.
set -eu
cd "$(dirname "$0")/.."
arch=${1:-}
case $arch in
  arm64) triplet=aarch64-linux-gnu; cpu=aarch64 ;;
  armhf) triplet=arm-linux-gnueabihf; cpu=arm ;;
  s390x) triplet=s390x-linux-gnu; cpu=s390x ;;
  *) echo "usage: scripts/cross-test.sh arm64|armhf|s390x [BUILD_DIR]" >&2; exit 2 ;;
esac
source=.
[ "$arch" = s390x ] && source=tests/byteorder
build=${2:-build-$arch}
jobs=$(nproc 2>/dev/null || echo 2)
start=$(date +%s)
scripts/install-deps.sh "$arch"

binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/qemu-$cpu" ]; then
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  grep -v '^#' "/usr/lib/binfmt.d/qemu-$cpu.conf" > "$binfmt/register"
fi

cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/cross-toolchain.cmake" \
  -DTALVERO_CROSS_TRIPLET="$triplet" -DTALVERO_CROSS_EMULATOR="qemu-$cpu" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVERO_WERROR=ON
cmake --build "$build" -j"$jobs"
built=$(date +%s)
ctest --test-dir "$build" --output-on-failure -j"$jobs" -LE real-chain
echo "cross-test $arch: $((built - start)) s to install and build, $(($(date +%s) - built)) s of tests under qemu-$cpu"
