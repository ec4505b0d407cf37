#!/bin/sh
# Sets up a private CUPS ServerBin in which cupsfilter runs the driver's
# filters straight from a build directory, without installing anything:
#   scripts/cups-sandbox.sh BUILD_DIR [SANDBOX_DIR]
# (SANDBOX_DIR defaults to BUILD_DIR/cups-sandbox and is made anew) prints
# the path of the cups-files.conf to hand to `cupsfilter -c`.
#
# cupsfilter runs only filters from the ServerBin of its cups-files.conf, and
# only ones that are owned by root (when run as root) and not writable by
# group or others: the system's filters are linked in, ours are copied with
# mode 0755.
set -eu
build=$(cd "$1" && pwd)
sandbox=${2:-"$build/cups-sandbox"}
mkdir -p "$sandbox"
sandbox=$(cd "$sandbox" && pwd)
system=$(cups-config --serverbin)

rm -rf "$sandbox"
mkdir -p "$sandbox/serverbin/filter" "$sandbox/serverroot"
for dir in backend cgi-bin daemon driver monitor notifier; do
  [ -e "$system/$dir" ] && ln -s "$system/$dir" "$sandbox/serverbin/$dir"
done
for filter in "$system"/filter/*; do
  ln -s "$filter" "$sandbox/serverbin/filter/"
done
for filter in "$build/rastertoTalvero" "$build/prefilter/rastertoTalveroPlanes"; do
  rm -f "$sandbox/serverbin/filter/$(basename "$filter")"
  install -m 0755 "$filter" "$sandbox/serverbin/filter/"
done
chmod 0755 "$sandbox" "$sandbox/serverbin" "$sandbox/serverbin/filter"
cat > "$sandbox/cups-files.conf" <<CONF
ServerBin $sandbox/serverbin
ServerRoot $sandbox/serverroot
DataDir $(cups-config --datadir)
CONF
echo "$sandbox/cups-files.conf"
