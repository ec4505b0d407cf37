#!/bin/sh
# The demo: installs what is needed, builds the driver, and prints the sample
# receipt (samples/receipt.pdf: a logo, black and red text, a barcode)
# through the real CUPS filter chain for the two-colour model 31, writing the
# printer bytes and a picture of the printed receipt into out/.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$jobs" --target rastertoTalvero rastertoTalveroPlanes talvero-preview talvero_ppds

conf=$(scripts/cups-sandbox.sh build)
mkdir -p out
model=tlv031
# cupsfilter -e runs the filters the PPD names, as cupsd does for a queue:
# pdftopdf, gstoraster, rastertoTalveroPlanes, rastertoTalvero.
/usr/sbin/cupsfilter -c "$conf" -e -p "build/ppd/$model.ppd" -m printer/foo \
  samples/receipt.pdf > "out/receipt-$model.bin" 2> "out/receipt-$model.log"
build/tools/talvero-preview -o "out/receipt-$model.png" "out/receipt-$model.bin"
build/tools/talvero-preview --list "out/receipt-$model.bin" > "out/receipt-$model.txt"

echo
echo "Printed samples/receipt.pdf for model 31 (black and red, 80 mm):"
echo "  printer bytes:  out/receipt-$model.bin ($(wc -c < "out/receipt-$model.bin") bytes)"
echo "  command list:   out/receipt-$model.txt"
echo "  preview:        out/receipt-$model.png"
echo "  filter log:     out/receipt-$model.log"
