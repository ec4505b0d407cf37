#!/bin/sh
# Builds the Debian packages into dist/:
#   scripts/package.sh [BUILD_DIR]        (BUILD_DIR defaults to build-package)
# printer-driver-talvero (the CUPS driver) and talvero-printer-app (the
# Printer Application; only when PAPPL is installed). A Release build for
# /usr with Debian's build flags (hardening included), packed by CPack's DEB
# generator (cmake/packaging.cmake), then checked by lintian: an error fails
# the script, warnings are shown (docs/user-guide.md lists the ones that remain and
# why). Prints the packages' paths last.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-package}
arch=$(dpkg --print-architecture)
packages="printer-driver-talvero talvero-printer-app"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTALVERO_TESTS=OFF
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"
for p in $packages; do rm -f "$build/${p}"_*.deb dist/"${p}"_*_"$arch".deb; done
(cd "$build" && cpack -G DEB)

mkdir -p dist
debs=
for p in $packages; do
  for deb in "$build/${p}"_*_"$arch".deb; do
    [ -e "$deb" ] || continue
    mv "$deb" dist/
    debs="$debs dist/$(basename "$deb")"
  done
done
if command -v lintian >/dev/null; then
  : >"$build/lintian.txt"
  for deb in $debs; do
    lintian "$deb" 2>/dev/null | tee -a "$build/lintian.txt"
  done
  if grep -q '^E:' "$build/lintian.txt"; then
    echo "lintian found errors in$debs" >&2
    exit 1
  fi
fi
for deb in $debs; do echo "$deb"; done
