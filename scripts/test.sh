#!/bin/sh
# Installs what is needed, builds, and runs every test: once in a normal
# build, once under AddressSanitizer and UndefinedBehaviorSanitizer; then
# a short run of every fuzz target, the Debian packages and the cross builds.
# Warnings are errors here (not in a user's plain build).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVERO_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTALVERO_SANITIZE=ON -DTALVERO_WERROR=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs" -LE real-chain
# CTest shows only that a test was skipped; say why.
awk '/^[0-9]+\/[0-9]+ Testing: / { name = $3 }
     /: Skipped$/ { getline reason; print "Skipped " name ": " reason }' \
  build-sanitize/Testing/Temporary/LastTest.log

# A short run of every fuzz target (clang-14, ASan + UBSan; see scripts/fuzz.sh).
scripts/fuzz.sh 20

# The Debian package: built, installed, printed through, removed.
scripts/package.sh
python3 tests/package/package_test.py --build-dir build --source-dir . --keep-dir build/tests/package/failed

# The Raspberry Pi architectures, cross-built and tested under qemu-user, and
# the big-endian s390x for the code that works a word at a time.
scripts/cross-test.sh arm64
scripts/cross-test.sh armhf
scripts/cross-test.sh s390x   # big-endian: the word-at-a-time plane code alone
