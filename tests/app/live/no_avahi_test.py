#!/usr/bin/env python3
"""The Printer Application with no avahi-daemon to talk to: nothing aborts.

The test runs in a network namespace of its own with only a loopback (the
device lists of "Add Printer" and `devices` look for network printers, and
their queries go nowhere), and the server's D-Bus address leads nowhere, so
Avahi is out of reach whatever runs on the machine.

  - Every link of the home page and of a printer's page (Add Printer, the
    Messages page, the log, ...) answers, and the server runs on after each.
  - Every sub-command, run through the local socket, finishes (an error
    with its reason is fine, an abort is not) and leaves the server running;
    `devices` lists what it finds and exits 0.
  - Once the server has stopped, each sub-command that needs one says that
    no server is running and exits with 1, instead of starting one.
"""
import http.client
import os
import re
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import appkit  # noqa: E402
from appkit import kit  # noqa: E402
from netns import Namespace  # noqa: E402

INSIDE = "--inside-namespace"
NOWHERE = "unix:path=/nonexistent/talvero-test-bus"
# Sub-commands and their arguments; {doc} is a document to print.
COMMANDS = [
    ("drivers",), ("devices",), ("printers",), ("status",), ("status", "-d", "receipt"),
    ("options", "-d", "receipt"), ("jobs", "-d", "receipt"), ("submit", "-d", "receipt", "{doc}"),
    ("modify", "-d", "receipt", "-o", "page-cut-default=feed"), ("modify", "-d", "receipt", "-o", "line-feed-default=-3"),
    ("pause", "-d", "receipt"), ("resume", "-d", "receipt"), ("default", "-d", "receipt"), ("default",),
    ("cancel", "-d", "receipt", "-a"), ("autoadd",), ("add", "-d", "extra", "-v", "socket://127.0.0.1:9",
                                                     "-m", "talvero_tlv041"),
    ("add", "-d", "file", "-v", "file:///etc/passwd", "-m", "talvero_tlv041"), ("delete", "-d", "extra"),
    ("server", "-o", "server-port=0"), ("frobnicate",),
]
NEED_NO_SERVER = {"drivers", "devices", "server", "frobnicate"}


class WithoutAvahi(kit.ChainTestCase):
    workspace_name = "no-avahi"

    @classmethod
    def set_up_chain(cls):
        cls.vp = appkit.VirtualPrinter(cls.ws, "vp")
        cls.addClassCleanup(cls.vp.stop)
        cls.app = appkit.App(cls.ws)
        cls.app.env["DBUS_SYSTEM_BUS_ADDRESS"] = NOWHERE
        cls.app.start()
        cls.addClassCleanup(cls.app.stop)
        cls.app.add("receipt", cls.vp.uri, "talvero_tlv031")
        cls.doc = cls.ws.join("receipt.bin")
        with open(cls.doc, "wb") as f:
            f.write(b"\x1b@Receipt\n")

    def alive(self, after):
        self.assertIsNone(self.app.proc.poll(), f"the server ended after {after}")
        status, _ = get(self.app.port, "/")
        self.assertEqual(status, 200, f"the server does not answer after {after}")

    def command(self, *args):
        """Runs a sub-command through the local socket; (exit status, its output)."""
        proc = subprocess.run([self.app.binary, *args], stdin=subprocess.DEVNULL, capture_output=True,
                              env=self.app.env, timeout=120, **self.app.ids)
        return proc.returncode, (proc.stdout + proc.stderr).decode(errors="replace")

    def test_1_every_link(self):
        seen, pages = set(), ["/", "/receipt/"]
        for page in pages:
            status, html = get(self.app.port, page)
            self.assertEqual(status, 200, page)
            for link in re.findall(r'href="(?:https?://[^/"]+)?(/[^"#?]*)"', html):
                if link not in seen:
                    seen.add(link)
                    with self.subTest(link=link):
                        status, _ = get(self.app.port, link)
                        self.assertLess(status, 500, link)
                        self.alive(link)
        self.assertTrue({"/addprinter", "/receipt/messages"} <= seen, sorted(seen))

    def test_2_every_sub_command(self):
        for args in COMMANDS:
            args = [a.replace("{doc}", self.doc) for a in args]
            with self.subTest(command=" ".join(args)):
                status, out = self.command(*args)
                self.assertLess(status, 128, f"killed by a signal: {out}")
                self.assertTrue(status == 0 or out.strip(), "failed without a word")
                self.alive(" ".join(args))
        self.assertEqual(self.command("devices")[0], 0)
        self.assertNotIn("file", self.command("printers")[1].split())

    def test_3_no_server(self):
        self.assertEqual(self.command("shutdown")[0], 0)
        self.app.proc.wait(timeout=60)
        for args in COMMANDS:
            if args[0] not in NEED_NO_SERVER:
                with self.subTest(command=args[0]):
                    status, out = self.command(*[a.replace("{doc}", self.doc) for a in args])
                    self.assertEqual(status, 1, out)
                    self.assertIn("No server is running", out)
        self.assertEqual([n for n in os.listdir(self.app.home) if n.endswith(".sock")], [], "a server was started")


def get(port, path):
    """(status, page) of an HTTP GET on 127.0.0.1."""
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    try:
        c.request("GET", path, headers={"Host": f"localhost:{port}"})
        r = c.getresponse()
        return r.status, r.read().decode(errors="replace")
    finally:
        c.close()


if __name__ == "__main__":
    if INSIDE in sys.argv:
        sys.argv.remove(INSIDE)
        sys.exit(appkit.main(__doc__.splitlines()[0]))
    ns = Namespace(veth=False)
    why = ns.create()
    if why:
        print(f"SKIPPED: no network namespace of the test's own: {why}")
        sys.exit(appkit.SKIP)
    status = subprocess.run(["ip", "netns", "exec", ns.name, sys.executable, *sys.argv, INSIDE]).returncode
    ns.remove()
    sys.exit(status)
