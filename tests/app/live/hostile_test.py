#!/usr/bin/env python3
"""Hostile input against a running Printer Application: each case ends its
own job, or is refused, and never the server.

Each case is followed by a normal job (the test page as PWG raster), whose
printer bytes must equal those of the first normal job. Cases: PWG raster
whose header claims 400000 rows and sends none, a page cut short, bytes
that are no raster, rows of a length the width does not give, a page
65600 dots wide, an empty document, job attributes with unknown or
negative values, vendor defaults out of range (refused and not stored), and
300 connections at once. The jobs that fail say why in job-state-message
and on the printer's Messages page; a printer whose device cannot be
reached says why too. The server's peak memory is reported.

PNG and JPEG of absurd sizes, cut short or bombs are receipt_fit_test.py's
"hostile pictures".
"""
import http.client
import os
import re
import socket
import struct
import sys
import time
import urllib.parse
import urllib.request

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import appkit  # noqa: E402
from appkit import kit  # noqa: E402

MEDIA = "om_80x297mm_80x297mm"
HEADER = 4 + 1796  # sync word and PWG header
WIDTH, HEIGHT, BYTES_PER_LINE = 4 + 372, 4 + 376, 4 + 392  # offsets of header fields (big-endian)
ENDS_EARLY = "not printed: the document ends early"


def with_field(data, offset, value):
    """`data` with the 32-bit header field at `offset` set to `value`."""
    return data[:offset] + struct.pack(">I", value) + data[offset + 4:]


def ipp_attribute(tag, name, value):
    """One IPP attribute: value tag, name, and a string or a 32-bit integer value."""
    body = struct.pack(">i", value) if isinstance(value, int) else value.encode()
    return bytes([tag]) + struct.pack(">H", len(name)) + name.encode() + struct.pack(">H", len(body)) + body


def pwg_row(width, value):
    """One row of `width` sRGB pixels of grey `value`, PWG-encoded (runs of up to 128 pixels)."""
    runs, left = bytearray([0]), width
    while left:
        n = min(left, 128)
        runs += bytes([n - 1, value, value, value])
        left -= n
    return bytes(runs)


class HostileInput(kit.ChainTestCase):
    workspace_name = "hostile"

    @classmethod
    def set_up_chain(cls):
        cls.vp = appkit.VirtualPrinter(cls.ws, "vp")
        cls.addClassCleanup(cls.vp.stop)
        cls.app = appkit.App(cls.ws).start()
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
        """Waits until the receipt printer has finished its job: a PWG raster
        job that comes while another prints is refused (server-error-busy)."""
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

    def send(self, data, document_format="image/pwg-raster", attributes=(), uri=None):
        """Print-Job of `data` to `uri` (the receipt printer's by default), with
        the request's length given (as CUPS's own clients send a file), whatever
        the answer; (status-code, job id or None)."""
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
            answer = c.getresponse().read()
        finally:
            c.close()
        status = struct.unpack(">H", answer[2:4])[0]
        job = re.search(rb"\x21\x00\x06job-id\x00\x04(....)", answer, re.S)
        return status, struct.unpack(">i", job.group(1))[0] if job else None

    def job_attributes(self, job, uri=None):
        """{name: value} of job `job` of the receipt printer (or the printer at `uri`)."""
        return appkit.run_test(self.ws, uri or self.uri, f"job {job}", "Get-Job-Attributes",
                               {"operation-attributes-tag": [("integer", "job-id", job)]})

    def job_message(self, job, contains, uri=None, timeout=20):
        """Waits for the job-state-message of job `job` (of the receipt printer,
        or the printer at `uri`) to contain `contains`; returns it."""
        message = ""
        deadline = time.monotonic() + timeout
        while contains not in message and time.monotonic() < deadline:
            message = self.job_attributes(job, uri).get("job-state-message", "")
            time.sleep(0.2)
        self.assertIn(contains, message, f"job {job}")
        return message

    def assert_still_prints(self, case):
        self.assertIsNone(self.app.proc.poll(), f"the server ended after {case}")
        self.assertTrue(self.print_normal() == self.reference, f"the job after {case} printed other bytes")

    def test_documents(self):
        rows = self.pwg[HEADER:]
        wide = with_field(with_field(self.pwg[:HEADER], WIDTH, 65600), BYTES_PER_LINE, 3 * 65600)
        wide = with_field(wide, HEIGHT, 4) + pwg_row(65600, 0) * 4
        cases = [  # what, the document, what its job-state-message says (None: refused or printed)
            ("400000 rows claimed, none sent", with_field(self.pwg[:HEADER], HEIGHT, 400000),
             "0 of the page's 400000 rows arrived"),
            ("a page cut short", self.pwg[:HEADER + len(rows) // 3], ENDS_EARLY),
            ("bytes that are no raster", bytes(range(256)) * 16, "not printed"),
            ("rows longer than the width", with_field(self.pwg, BYTES_PER_LINE, 3 * 640 + 5), "not printed"),
            ("65600 dots wide", wide, "not printed"),
            ("an empty document", b"", None),
        ]
        for what, data, message in cases:
            with self.subTest(case=what):
                status, job = self.send(data)
                if message is not None:
                    self.assertIsNotNone(job, f"{what}: {status}")
                    self.assertIn(message, self.job_message(job, message))
                self.assert_still_prints(what)
        with urllib.request.urlopen(self.app.url("/receipt/messages"), timeout=30) as page:
            self.assertIn("400000 rows arrived", appkit.page_text(page.read().decode()))

    def test_attributes(self):
        job_values = [("keyword", "rotation", "sideways"), ("integer", "line-feed", -5),
                      ("keyword", "logo-position", "zzz"), ("integer", "cash-drawer-1-pulse-width", 2**31 - 1),
                      ("keyword", "frobnicate", "yes")]
        self.send(self.pwg, attributes=job_values)
        self.assert_still_prints("unknown and out-of-range job values")
        defaults = [("integer", "line-feed-default", 99999), ("integer", "line-feed-default", -1),
                    ("keyword", "logo-position-default", "zzz"),
                    ("integer", "cash-drawer-1-pulse-width-default", 2**31 - 1)]
        for tag, name, value in defaults:
            with self.subTest(default=f"{name}={value}"):
                with self.assertRaisesRegex(AssertionError, "attributes-or-values-not-supported"):
                    appkit.set_printer_defaults(self.ws, self.uri, [(tag, name, value)])
        stored = appkit.run_test(self.ws, self.uri, "defaults", "Get-Printer-Attributes", {
            "operation-attributes-tag": [("keyword", "requested-attributes", "all")]})
        self.assertEqual((stored["line-feed-default"], stored["logo-position-default"],
                          stored["cash-drawer-1-pulse-width-default"]), ("0", "none", "100"))
        self.assert_still_prints("vendor defaults out of range")

    def test_connections(self):
        conns = []
        for i in range(300):
            c = socket.create_connection(("127.0.0.1", self.app.port), timeout=10)
            if i % 2:
                c.sendall(b"POST /ipp/print/receipt HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n\x01\x01")
            conns.append(c)
        for c in conns:
            c.close()
        self.assert_still_prints("300 connections at once")

    def test_unreachable_printer(self):
        uri = self.app.add("stuck", "socket://127.0.0.1:1", "talvero_tlv031")
        # Printer-ready bytes are kept until the device opens (PWG raster would
        # hold the client until then).
        _, job = self.send(b"\x1b@Receipt\n", "application/vnd.talvero-escpos", uri=uri)
        self.assertIn("cannot reach 127.0.0.1:1: connection refused",
                      self.job_message(job, "Waiting for the printer", uri=uri))
        self.assertIn("offline", appkit.printer_attributes(uri)["printer-state-reasons"])
        with urllib.request.urlopen(self.app.url("/stuck/messages"), timeout=30) as page:
            self.assertIn("Stopped: cannot reach 127.0.0.1:1: connection refused", appkit.page_text(page.read().decode()))
        self.app.cli("cancel", "-d", "stuck", "-a", check=False)

    @classmethod
    def tearDownClass(cls):
        with open(f"/proc/{cls.app.proc.pid}/status") as f:
            peak = re.search(r"VmHWM:\s+(\d+) kB", f.read())
        print(f"\n  peak RSS of the server: {int(peak.group(1)) // 1024} MiB")
        super().tearDownClass()


if __name__ == "__main__":
    sys.exit(appkit.main(__doc__.splitlines()[0]))
