#!/usr/bin/env python3
"""The system service as the build installs it: `systemd-analyze security
--offline=yes` rates the unit at an exposure of 4.9 ("OK") or less, and the
tmpfiles.d entry links /run/talvero-printer-app.sock, where root's
sub-commands look, to the local socket of the unit's ExecStart.

  unit_test.py UNIT TMPFILES
"""
import re
import shutil
import subprocess
import sys

unit_path, tmpfiles_path = sys.argv[1:3]
with open(unit_path) as f:
    unit = f.read()
with open(tmpfiles_path) as f:
    link = re.search(r"^L\+? (\S+) (?:\S+ ){4}(\S+)$", f.read(), re.M).groups()
socket = re.search(r"^ExecStart=.* -o local-socket=(\S+)", unit, re.M).group(1)
assert link == ("/run/talvero-printer-app.sock", socket), f"the link {link} misses the socket {socket}"
assert socket.startswith("/run/" + re.search(r"^RuntimeDirectory=(\S+)", unit, re.M).group(1) + "/"), socket
if shutil.which("systemd-analyze") is None:
    print("SKIPPED: no systemd-analyze (scripts/install-deps.sh installs systemd)")
    sys.exit(77)
out = subprocess.run(["systemd-analyze", "security", "--offline=yes", "--no-pager", unit_path],
                     capture_output=True, text=True, timeout=60).stdout
score = re.search(r"Overall exposure level for \S+: (\d+\.\d+) (\w+)", out)
print(f"systemd-analyze security: exposure {score.group(1)} {score.group(2)}")
sys.exit(0 if float(score.group(1)) <= 4.9 else f"exposure above 4.9:\n{out}")
