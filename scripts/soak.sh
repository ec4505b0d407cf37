#!/bin/sh
# The load and soak run of the Printer Application and of cupsd with our PPDs
# (scripts/soak.py): 16 printers per path, two clients per printer, printers
# going away and coming back, for 30 minutes or 10,000 receipts; then every
# receipt is checked byte for byte and the figures printed. Run as root after
# a build; --smoke is the short run that CTest runs (label soak).
#   scripts/soak.sh [--build-dir build] [--minutes 30] [--jobs 10000] [--report figures.json] [--smoke]
set -eu
exec python3 "$(dirname "$0")/soak.py" "$@"
