#!/usr/bin/env python3
"""The system service's sandbox, as the build installs it.

  - `systemd-analyze security --offline=yes` rates the unit at an exposure
    of 4.9 ("OK") or less.
  - The local socket of the unit's ExecStart is in its RuntimeDirectory, and
    the tmpfiles.d entry links /run/talvero-printer-app.sock to it, where
    root's sub-commands look.

  unit_test.py UNIT TMPFILES
"""
import re
import shutil
import subprocess
import sys
import unittest

MAX_EXPOSURE = 4.9
UNIT, TMPFILES = sys.argv[1:3] if len(sys.argv) >= 3 else (None, None)


class Unit(unittest.TestCase):
    def test_exposure(self):
        tool = shutil.which("systemd-analyze")
        if tool is None:
            self.skipTest("no systemd-analyze (scripts/install-deps.sh installs systemd)")
        proc = subprocess.run([tool, "security", "--offline=yes", "--no-pager", UNIT], capture_output=True,
                              text=True, timeout=60)
        m = re.search(r"Overall exposure level for \S+: (\d+\.\d+) (\w+)", proc.stdout + proc.stderr)
        self.assertIsNotNone(m, proc.stdout + proc.stderr)
        print(f"\n  systemd-analyze security: exposure {m.group(1)} {m.group(2)}")
        self.assertLessEqual(float(m.group(1)), MAX_EXPOSURE, proc.stdout)

    def test_socket_where_sub_commands_look(self):
        with open(UNIT) as f:
            unit = f.read()
        socket = re.search(r"^ExecStart=.* -o local-socket=(\S+)", unit, re.M).group(1)
        runtime = re.search(r"^RuntimeDirectory=(\S+)", unit, re.M).group(1)
        self.assertEqual(socket.rsplit("/", 1)[0], f"/run/{runtime}")
        with open(TMPFILES) as f:
            link = re.search(r"^L\+? (\S+) (?:\S+ ){4}(\S+)$", f.read(), re.M)
        self.assertEqual((link.group(1), link.group(2)), ("/run/talvero-printer-app.sock", socket))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
