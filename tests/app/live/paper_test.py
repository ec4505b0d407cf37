#!/usr/bin/env python3
"""The Printer Application waits for paper and never calls a lost receipt done.

talvero-printer-app serves on a free port of 127.0.0.1; its model 31 printer
prints to a talvero-virtual-printer whose state the tests change on its
control port. Reference bytes: the same PWG raster pages printed while the
printer is ready.

  - Paper out: the job waits (processing, "Waiting for paper"), the printer
    shows media-empty and media-needed (IPP and its web page), nothing is
    sent; with paper back the job completes and the printer has the
    reference bytes, once.
  - The roll runs out after page 2 of 5: the job waits before page 3, then
    exactly the 5 reference pages arrive.
  - A waiting job cancelled: canceled within seconds, nothing but the
    cancel sequence reaches the printer; with no job the printer's answers
    still set (and clear) its reasons.
  - A printer that closes the connection at once, after 200 bytes, or
    resets it: the job is aborted with the cause as its message.
  - A printer that never reads: the job waits with the printer offline and
    a message saying so; cancel ends it within seconds; a server with such
    a job ends within seconds on `shutdown` and on SIGTERM.

Run by CTest (label app), or directly:
  paper_test.py --app APP --artefacts DIR --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import os
import re
import signal
import subprocess
import sys
import time
import urllib.request

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import appkit  # noqa: E402
from appkit import kit  # noqa: E402

MEDIA = "om_80x297mm_80x297mm"
DRIVER = "talvero_tlv031"
# Get-Jobs of every job with its state and message; Print-Job of a PWG raster file.
GET_JOBS = ("{ OPERATION Get-Jobs GROUP operation-attributes-tag ATTR charset attributes-charset utf-8 "
            "ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri ATTR keyword which-jobs all "
            "ATTR keyword requested-attributes job-id,job-state,job-state-message STATUS successful-ok }\n")
PRINT_JOB = ("{ OPERATION Print-Job GROUP operation-attributes-tag ATTR charset attributes-charset utf-8 "
             "ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri "
             "ATTR name requesting-user-name test ATTR mimeMediaType document-format image/pwg-raster FILE %s }\n")


class PaperInTheApp(kit.ChainTestCase):
    workspace_name = "app-paper"

    @classmethod
    def set_up_chain(cls):
        cls.vp = appkit.VirtualPrinter(cls.ws, "paper")
        cls.addClassCleanup(cls.vp.stop)
        cls.app, cls.uri = cls.start_app()
        make = os.path.join(kit.PATHS.build, "tests", "app", "live", "make_raster")
        cls.doc = {n: kit.run([make, "pwg", MEDIA, "srgb_8", cls.ws.join(f"{n}.pwg"), str(n)]) and
                   cls.ws.join(f"{n}.pwg") for n in (1, 5)}
        cls.reference = {}
        for pages, document in cls.doc.items():
            number = cls.vp.job_count() + 1
            appkit.print_job(cls.ws, cls.uri, document, "image/pwg-raster")
            cls.reference[pages] = cls.vp.wait_job(number).data

    @classmethod
    def start_app(cls, ws=None):
        """A server with printer "receipt" on the virtual printer, its files in `ws`; (App, printer URI)."""
        app = appkit.App(ws or cls.ws).start()
        cls.addClassCleanup(app.stop)
        return app, app.add("receipt", cls.vp.uri, DRIVER)

    def setUp(self):
        self.control("ready")
        self.control("connection normal")

    # ---- helpers

    def control(self, command):
        return kit.control_printer(self.vp.proc, command)

    def submit(self, pages, uri=None):
        """Starts an ipptool Print-Job of the `pages`-page document (PWG raster is printed as
        it arrives, so ipptool returns when the job ends); returns the new job's id."""
        uri = uri or self.uri
        before = max(self.jobs(uri), default=0)
        test = self.ws.join(f"print-{pages}.test")
        with open(test, "w") as f:
            f.write(PRINT_JOB % self.doc[pages])
        proc = subprocess.Popen([appkit.IPPTOOL, "-T", "120", uri, test], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return kit.wait_for(lambda: max(self.jobs(uri), default=0) > before and max(self.jobs(uri)), 30, "the job")

    def jobs(self, uri=None):
        """{job id: (job-state, job-state-message)} of every job of the printer."""
        test = self.ws.join("get-jobs.test")
        with open(test, "w") as f:
            f.write(GET_JOBS)
        status, out = appkit.ipptool(uri or self.uri, test, "-tv")
        found = {}
        for name, value in re.findall(r"^\s+(job-id|job-state|job-state-message) \(\w+\) = (.*)$", out, re.M):
            if name == "job-id":
                job = found.setdefault(int(value), ["", ""])
            else:
                job[0 if name == "job-state" else 1] = value
        return {job: tuple(v) for job, v in found.items()}

    def wait_job(self, job, state, message=None, uri=None, timeout=30):
        """Waits until `job` is in `state` (with `message` in its job-state-message)."""
        def there():
            got = self.jobs(uri).get(job, ("", ""))
            return got[0] == state and (message is None or message in got[1]) and got
        return kit.wait_for(there, timeout, f"job {job} to be {state} ({message})")

    def wait_reasons(self, good, what):
        """Waits until the printer's printer-state-reasons (a set) are `good`."""
        def reasons():
            return set(appkit.printer_attributes(self.uri).get("printer-state-reasons", "").split(","))
        kit.wait_for(lambda: good(reasons()), 15, f"printer-state-reasons for {what}", interval=0.5)

    def assert_bytes(self, got, want):
        at = kit.first_difference(got, want)
        self.assertTrue(got == want, f"{len(got)} bytes printed, {len(want)} expected; first difference at {at}:\n"
                                     f"  printed:  {kit.hex_around(got, at)}\n  expected: {kit.hex_around(want, at)}")

    def assert_waiting_for_paper(self, job):
        self.wait_job(job, "processing", "Waiting for paper")
        reasons = appkit.printer_attributes(self.uri).get("printer-state-reasons", "")
        self.assertTrue({"media-empty", "media-needed"} <= set(reasons.split(",")), reasons)
        page = urllib.request.urlopen(self.app.url("/receipt/"), timeout=10).read().decode()
        self.assertIn("Out of paper.", page)

    # ---- the cases

    def test_job_waits_for_paper_then_prints_once(self):
        self.control("paper empty")
        number = self.vp.job_count() + 1
        job = self.submit(1)
        self.assert_waiting_for_paper(job)
        time.sleep(1.5)  # a poll or two more: still nothing sent
        self.assertEqual(self.control("status")["received"], "0")
        self.control("paper ok")
        self.wait_job(job, "completed")
        self.assert_bytes(self.vp.wait_job(number).data, self.reference[1])
        self.assertNotIn("media-empty", appkit.printer_attributes(self.uri).get("printer-state-reasons", ""))

    def test_paper_runs_out_between_page_2_and_3(self):
        cuts = [m.end() for m in re.finditer(rb"\x1dV[AB].", self.reference[5])]
        self.assertEqual(len(cuts), 5, "every page ends with a cut")
        self.control(f"paper empty after {cuts[1]}")
        number = self.vp.job_count() + 1
        job = self.submit(5)
        self.assert_waiting_for_paper(job)
        state = self.control("status")
        self.assertEqual((state["received"], state["held"]), (str(cuts[1]), "0"), "two pages sent, none held")
        self.control("paper ok")
        self.wait_job(job, "completed")
        printout = self.vp.wait_job(number)
        self.assert_bytes(printout.data, self.reference[5])
        self.assertEqual(len(printout.pages), 5)

    def test_cancel_a_waiting_job(self):
        self.control("paper empty")
        number = self.vp.job_count() + 1
        job = self.submit(1)
        self.assert_waiting_for_paper(job)
        appkit.run_test(self.ws, self.uri, "Cancel", "Cancel-Job", {"operation-attributes-tag": [
            ("integer", "job-id", job)]})
        self.wait_job(job, "canceled", timeout=5)
        self.control("paper ok")
        self.assertEqual(self.vp.wait_job(number).data, b"\x1b@" + kit.CANCEL_TAIL)
        # With no job, the printer's answers still set the reasons.
        self.wait_reasons(lambda r: not r & {"media-empty", "media-needed"}, "paper back")
        self.control("cover open")
        self.wait_reasons(lambda r: "cover-open" in r, "cover open")

    def test_broken_connections_abort_the_job(self):
        for mode in ("close-after 0", "close-after 200", "reset-after 200"):
            with self.subTest(mode=mode):
                self.control("connection " + mode)
                job = self.submit(1)
                self.wait_job(job, "aborted", "connection")
                self.control("connection normal")

    def test_printer_that_never_reads(self):
        self.control("connection never-read")
        for stop in ("cancel", "shutdown", "SIGTERM"):
            with self.subTest(stop=stop):
                app, uri = (self.app, self.uri) if stop == "cancel" else self.start_app(kit.Workspace(stop))
                job = self.submit(1, uri)
                self.wait_job(job, "processing", "Waiting for the printer to take data", uri)
                self.assertIn("offline", appkit.printer_attributes(uri).get("printer-state-reasons", ""))
                start = time.monotonic()
                if stop == "cancel":
                    appkit.run_test(self.ws, uri, "Cancel", "Cancel-Job", {"operation-attributes-tag": [
                        ("integer", "job-id", job)]})
                    self.wait_job(job, "canceled", uri=uri, timeout=5)
                elif stop == "shutdown":
                    app.cli("shutdown")
                else:
                    app.proc.send_signal(signal.SIGTERM)
                if stop != "cancel":
                    app.proc.wait(timeout=10)
                self.assertLess(time.monotonic() - start, 10, f"{stop} took too long")


if __name__ == "__main__":
    sys.exit(appkit.main(__doc__.splitlines()[0]))
