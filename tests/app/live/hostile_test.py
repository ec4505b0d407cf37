#!/usr/bin/env python3
"""What the Printer Application survives: hostile input, and no Avahi.

In a network namespace with only a loopback and an empty /run of its own
(the device lists of "Add Printer" and `devices` query nowhere, no D-Bus or
avahi-daemon, no other server's local socket): each case of "Limits and hostile input" in docs/printer-app.md ends
its own job or is refused, and the next job prints the same bytes as the
first; failed jobs and an unreachable printer say why (job-state-message,
the Messages page); every link of the home and a printer's page answers,
every sub-command ends with a word and leaves the server running, and once
it has stopped each one that needs it says so and exits with 1. Reports
the server's peak memory.
"""
import http.client
import os
import re
import socket
import struct
import subprocess
import sys
import time
import urllib.parse

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import appkit  # noqa: E402
from appkit import kit  # noqa: E402
from netns import Namespace  # noqa: E402

INSIDE = "--inside-namespace"
MEDIA = "om_80x297mm_80x297mm"
HEADER = 4 + 1796  # sync word and PWG header
WIDTH, HEIGHT, BYTES_PER_LINE = 4 + 372, 4 + 376, 4 + 392  # offsets of header fields (big-endian)
# Sub-commands run through the local socket; {doc} is a document to print.
COMMANDS = [
    ("drivers",), ("devices",), ("printers",), ("status",), ("status", "-d", "receipt"),
    ("options", "-d", "receipt"), ("jobs", "-d", "receipt"), ("submit", "-d", "receipt", "{doc}"), ("testpage",),
    ("pause", "-d", "receipt"), ("resume", "-d", "receipt"), ("default", "-d", "receipt"), ("default",),
    ("cancel", "-d", "receipt", "-a"), ("autoadd",), ("add", "-d", "extra", "-v", "socket://127.0.0.1:9", "-m",
                                                     "talvero_tlv041"),
    ("modify", "-d", "extra", "-o", "page-cut-default=feed"), ("modify", "-d", "extra", "-o", "line-feed-default=-3"),
    ("add", "-d", "file", "-v", "file:///etc/passwd", "-m", "talvero_tlv041"), ("delete", "-d", "extra"),
    ("server", "-o", "server-port=0"), ("frobnicate",),
]
NEED_NO_SERVER = {"drivers", "devices", "server", "frobnicate"}


def with_field(data, offset, value):
    """`data` with the 32-bit header field at `offset` set to `value`."""
    return data[:offset] + struct.pack(">I", value) + data[offset + 4:]


def ipp_attribute(tag, name, value):
    """One IPP attribute: value tag, name, and a string or a 32-bit integer value."""
    body = struct.pack(">i", value) if isinstance(value, int) else value.encode()
    return bytes([tag]) + struct.pack(">H", len(name)) + name.encode() + struct.pack(">H", len(body)) + body


class HostileInput(kit.ChainTestCase):
    workspace_name = "hostile"

    @classmethod
    def set_up_chain(cls):
        cls.vp = appkit.VirtualPrinter(cls.ws, "vp")
        cls.addClassCleanup(cls.vp.stop)
        cls.app = appkit.App(cls.ws)
        cls.app.start()
        cls.addClassCleanup(cls.app.stop)
        cls.uri = cls.app.add("receipt", cls.vp.uri, "talvero_tlv031")
        cls.page = cls.ws.join("page.pwg")
        kit.run([os.path.join(kit.PATHS.build, "tests", "app", "live", "make_raster"), "pwg", MEDIA, "srgb_8",
                 cls.page])
        with open(cls.page, "rb") as f:
            cls.pwg = f.read()
        cls.reference = cls.print_normal()

    @classmethod
    def idle(cls):
        """Waits until the receipt printer has finished its job (a PWG raster
        job that comes while another prints waits for its turn)."""
        kit.wait_for(lambda: appkit.printer_attributes(cls.uri).get("printer-state") == "idle", 60,
                     "the printer to be idle")

    @classmethod
    def print_normal(cls):
        """Prints the test page; returns the printer's bytes."""
        cls.idle()
        number = cls.vp.job_count() + 1
        appkit.print_job(cls.ws, cls.uri, cls.page, "image/pwg-raster")
        cls.vp.wait_job(number)
        with open(cls.vp.job_file(number, "bin"), "rb") as f:
            return f.read()

    def get(self, path):
        """(status, page text) of an HTTP GET."""
        c = http.client.HTTPConnection("127.0.0.1", self.app.port, timeout=60)
        c.request("GET", path, headers={"Host": f"localhost:{self.app.port}"})
        r = c.getresponse()
        answer = r.status, r.read().decode(errors="replace")
        c.close()
        return answer

    def send(self, data, document_format="image/pwg-raster", attributes=(), uri=None):
        """Print-Job of `data` to `uri` (the receipt printer's by default), with
        the request's length given (as CUPS's own clients send a file), whatever
        the answer; the job id or None."""
        self.idle()
        uri = uri or self.uri
        tags = {"keyword": 0x44, "integer": 0x21}
        request = (b"\x02\x00\x00\x02\x00\x00\x00\x01\x01" + ipp_attribute(0x47, "attributes-charset", "utf-8") +
                   ipp_attribute(0x48, "attributes-natural-language", "en") + ipp_attribute(0x45, "printer-uri", uri) +
                   ipp_attribute(0x42, "requesting-user-name", "test") +
                   ipp_attribute(0x49, "document-format", document_format) + b"\x02" +
                   b"".join(ipp_attribute(tags[tag], name, value) for tag, name, value in attributes) + b"\x03")
        c = http.client.HTTPConnection("127.0.0.1", self.app.port, timeout=120)
        try:
            c.request("POST", urllib.parse.urlsplit(uri).path, request + data, {"Content-Type": "application/ipp"})
            job = re.search(rb"\x21\x00\x06job-id\x00\x04(....)", c.getresponse().read(), re.S)
        finally:
            c.close()
        return struct.unpack(">i", job.group(1))[0] if job else None

    def job_message(self, job, contains, uri=None):
        """Waits for the job-state-message of job `job` (of the receipt printer,
        or the printer at `uri`) to contain `contains`; returns it."""
        message, deadline = "", time.monotonic() + 20
        while contains not in message and time.monotonic() < deadline:
            message = appkit.run_test(self.ws, uri or self.uri, f"job {job}", "Get-Job-Attributes", {
                "operation-attributes-tag": [("integer", "job-id", job)]}).get("job-state-message", "")
            time.sleep(0.2)
        self.assertIn(contains, message, f"job {job}")
        return message

    def command(self, *args):
        """Runs a sub-command through the local socket; (exit status, its output)."""
        proc = subprocess.run([self.app.binary, *[a.replace("{doc}", self.page) for a in args]],
                              stdin=subprocess.DEVNULL, capture_output=True, env=self.app.env, timeout=120,
                              **self.app.ids)
        return proc.returncode, (proc.stdout + proc.stderr).decode(errors="replace")

    def assert_still_prints(self, case):
        self.assertIsNone(self.app.proc.poll(), f"the server ended after {case}")
        self.assertEqual(self.get("/")[0], 200, f"the server does not answer after {case}")
        self.assertTrue(self.print_normal() == self.reference, f"the job after {case} printed other bytes")

    def test_documents(self):
        wide = with_field(with_field(self.pwg[:HEADER], WIDTH, 65600), BYTES_PER_LINE, 3 * 65600)
        black_row = b"\0" + b"\x7f\0\0\0" * 512 + b"\x3f\0\0\0"  # 512 runs of 128 dots, one of 64
        wide = with_field(wide, HEIGHT, 4) + black_row * 4
        cases = [  # what, the document, what its job-state-message says (None: refused or printed)
            ("400000 rows claimed, none sent", with_field(self.pwg[:HEADER], HEIGHT, 400000),
             "0 of the page's 400000 rows arrived"),
            ("a page cut short", self.pwg[:HEADER + (len(self.pwg) - HEADER) // 3], "the document ends early"),
            ("bytes that are no raster", bytes(range(256)) * 16, "not printed"),
            ("rows longer than the width", with_field(self.pwg, BYTES_PER_LINE, 3 * 640 + 5), "not printed"),
            ("65600 dots wide", wide, "not printed"),
            ("an empty document", b"", None),
        ]
        for what, data, message in cases:
            with self.subTest(case=what):
                job = self.send(data)
                if message is not None:
                    self.assertIsNotNone(job, what)
                    self.job_message(job, message)
                self.assert_still_prints(what)
        self.assertIn("400000 rows arrived", appkit.page_text(self.get("/receipt/messages")[1]))

    def test_attributes(self):
        self.send(self.pwg, attributes=[("keyword", "rotation", "sideways"), ("integer", "line-feed", -5),
                                        ("keyword", "logo-position", "zzz"), ("keyword", "frobnicate", "yes"),
                                        ("integer", "cash-drawer-1-pulse-width", 2**31 - 1)])
        self.assert_still_prints("unknown and out-of-range job values")
        for tag, name, value in [("integer", "line-feed-default", 99999), ("integer", "line-feed-default", -1),
                                 ("keyword", "logo-position-default", "zzz"),
                                 ("integer", "cash-drawer-1-pulse-width-default", 2**31 - 1)]:
            with self.subTest(default=f"{name}={value}"):
                with self.assertRaisesRegex(AssertionError, "attributes-or-values-not-supported"):
                    appkit.set_printer_defaults(self.ws, self.uri, [(tag, name, value)])
        stored = appkit.run_test(self.ws, self.uri, "defaults", "Get-Printer-Attributes", {
            "operation-attributes-tag": [("keyword", "requested-attributes", "all")]})
        self.assertEqual((stored["line-feed-default"], stored["logo-position-default"],
                          stored["cash-drawer-1-pulse-width-default"]), ("0", "none", "100"))
        self.assert_still_prints("vendor defaults out of range")

    def test_connections(self):
        conns = [socket.create_connection(("127.0.0.1", self.app.port), timeout=10) for _ in range(300)]
        for c in conns[::2]:
            c.sendall(b"POST /ipp/print/receipt HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n\x01\x01")
        for c in conns:
            c.close()
        self.assert_still_prints("300 connections at once")

    def test_every_link_and_sub_command(self):
        seen = set()
        for page in ("/", "/receipt/"):
            for link in re.findall(r'href="(?:https?://[^/"]+)?(/[^"#?]*)"', self.get(page)[1]):
                if link not in seen:
                    seen.add(link)
                    with self.subTest(link=link):
                        self.assertLess(self.get(link)[0], 500)
        self.assertTrue({"/addprinter", "/receipt/messages"} <= seen, sorted(seen))
        for args in COMMANDS:
            with self.subTest(command=" ".join(args)):
                status, out = self.command(*args)
                self.assertLess(status, 128, f"killed by a signal: {out}")
                self.assertTrue(status == 0 or out.strip(), "failed without a word")
        self.assertEqual(self.command("devices")[0], 0)
        self.assertNotIn("file", self.command("printers")[1].split())
        self.assert_still_prints("every link and sub-command")

    def test_unreachable_printer(self):
        uri = self.app.add("stuck", "socket://127.0.0.1:1", "talvero_tlv031")
        # Printer-ready bytes are kept until the device opens (PWG raster would
        # hold the client until then).
        job = self.send(b"\x1b@Receipt\n", "application/vnd.talvero-escpos", uri=uri)
        self.assertIn("cannot reach 127.0.0.1:1: connection refused",
                      self.job_message(job, "Waiting for the printer", uri=uri))
        self.assertIn("offline", appkit.printer_attributes(uri)["printer-state-reasons"])
        self.assertIn("Stopped: cannot reach 127.0.0.1:1: connection refused",
                      appkit.page_text(self.get("/stuck/messages")[1]))
        self.assertEqual(self.command("cancel", "-d", "stuck", "-a")[0], 0)

    def test_z_no_server(self):
        with open(f"/proc/{self.app.proc.pid}/status") as f:
            peak = int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))
        print(f"\n  peak RSS of the server: {peak // 1024} MiB")
        self.assertEqual(self.command("shutdown")[0], 0)
        self.app.proc.wait(timeout=60)
        for args in COMMANDS:
            if args[0] not in NEED_NO_SERVER:
                with self.subTest(command=args[0]):
                    status, out = self.command(*args)
                    self.assertEqual((status, "No server is running" in out), (1, True), out)
        self.assertEqual([n for n in os.listdir(self.app.home) if n.endswith(".sock")], [], "a server was started")


if __name__ == "__main__":
    if INSIDE in sys.argv:
        sys.argv.remove(INSIDE)
        # `ip netns exec` gave this process a mount namespace of its own.
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/run"], check=True)
        sys.exit(appkit.main(__doc__.splitlines()[0]))
    ns = Namespace(veth=False)
    why = ns.create()
    if why:
        print(f"SKIPPED: no network namespace of the test's own: {why}")
        sys.exit(appkit.SKIP)
    status = subprocess.run(["ip", "netns", "exec", ns.name, sys.executable, *sys.argv, INSIDE]).returncode
    ns.remove()
    sys.exit(status)
