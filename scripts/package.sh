#!/bin/sh
# Builds the Debian package printer-driver-talvero into dist/:
#   scripts/package.sh [BUILD_DIR]        (BUILD_DIR defaults to build-package)
# A Release build for /usr with Debian's build flags (hardening included),
# packed by CPack's DEB generator (cmake/packaging.cmake), then checked by
# lintian: an error fails the script, warnings are shown (the README lists
# the ones that remain and why). Prints the package's path last.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-package}
arch=$(dpkg --print-architecture)

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTALVERO_TESTS=OFF
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"
rm -f "$build"/printer-driver-talvero_*.deb
(cd "$build" && cpack -G DEB)

mkdir -p dist
rm -f dist/printer-driver-talvero_*_"$arch".deb
mv "$build"/printer-driver-talvero_*_"$arch".deb dist/
deb=$(ls dist/printer-driver-talvero_*_"$arch".deb)
if command -v lintian >/dev/null; then
  lintian "$deb" 2>/dev/null | tee "$build/lintian.txt"
  if grep -q '^E:' "$build/lintian.txt"; then
    echo "lintian found errors in $deb" >&2
    exit 1
  fi
fi
echo "$deb"
