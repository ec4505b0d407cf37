#!/usr/bin/env python3
"""A CUPS queue waits for paper: the real socket backend's back channel.

A private cupsd has a queue of model 31's PPD on socket://127.0.0.1:PORT,
a talvero-virtual-printer whose state the tests change on its control port.

  - Paper out when the job starts: the job waits with media-empty-error in
    the queue's printer-state-reasons and "Waiting for paper" as its
    message; the printer gets nothing but ESC @; with paper back the job
    completes and the printer has received what cupsfilter produces, once.
  - The roll runs out after page 2 of 5: the job waits before page 3, then
    the printer has all 5 pages, each once.
  - A waiting job cancelled: nothing more is printed (only the cancel tail).

A printer that never answers prints as it would without asking: that is
cupsd_test.py's socket printer.

Run by CTest (label real-chain), or directly:
  paper_test.py --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import os
import re
import sys
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chainkit as kit  # noqa: E402

MODEL = 31
QUEUE = "receipt"
CUT = "PageCut=2"  # every page ends with GS V, so a page ends where a cut does


class PaperInCupsQueue(kit.ChainTestCase):
    workspace_name = "paper"

    @classmethod
    def set_up_chain(cls):
        kit.start_build_cupsd(cls)
        tool = os.path.join(kit.PATHS.build, "tools", "talvero-virtual-printer")
        cls.vp_dir = cls.ws.mkdir("vp")
        with open(cls.ws.join("vp.err"), "w") as err:
            cls.vp, port = kit.start_virtual_printer(tool, cls.vp_dir, "ok", stderr=err)
        cls.addClassCleanup(lambda: cls.vp.poll() is None and cls.vp.terminate())
        cls.vp_lines = []
        threading.Thread(target=lambda: cls.vp_lines.extend(cls.vp.stdout), daemon=True).start()
        cls.cupsd.lpadmin("-p", QUEUE, "-E", "-v", f"socket://127.0.0.1:{port}", "-P", kit.PATHS.ppd(MODEL))

    def setUp(self):
        kit.control_printer(self.vp, "ready")

    # ---- helpers

    def reference(self, pages):
        """(document, the bytes cupsfilter prints for it) for a job of `pages` equal pages."""
        document = kit.many_page_pdf(self.ws.join(f"pages-{pages}.pdf"), pages)
        out = self.ws.join(f"reference-{pages}.bin")
        status, log = kit.cupsfilter(self.conf, kit.PATHS.ppd(MODEL), document, [CUT], out)
        self.assertEqual(status, 0, log[-2000:])
        with open(out, "rb") as f:
            return document, f.read()

    def submit(self, document, *options):
        """Prints `document` with lp; returns (job, the number the printer will give it)."""
        number = int(kit.control_printer(self.vp, "status")["jobs"]) + 1
        return self.cupsd.lp(QUEUE, document, *options), number

    def printed(self, job, number):
        """The printer's job `number`, once the cupsd job `job` has ended."""
        self.cupsd.wait_job(job, timeout=60)
        path = os.path.join(self.vp_dir, f"job-{number}.bin")
        kit.wait_for(lambda: os.path.exists(path) and kit.control_printer(self.vp, "status")["open"] == "0", 30,
                     f"the printer's job {number}")
        with open(path, "rb") as f:
            return f.read()

    def wait_held(self, job):
        """Waits until `job` says it waits for paper; checks that lpstat shows why."""
        kit.wait_for(lambda: self.cupsd.job_attributes(job).get("job-printer-state-message") == "Waiting for paper",
                     30, f"{job} to wait for paper")
        self.assertEqual(self.cupsd.job_attributes(job).get("job-state"), "processing")
        self.assertIn("Alerts: media-empty-error", self.lpstat("-l"))
        self.assertIn("Waiting for paper", self.lpstat())

    def lpstat(self, *args):
        return self.cupsd.lpstat(*args, "-p", QUEUE, check=False).stdout.decode()

    def assert_job(self, job, got, want, state="completed"):
        self.assertEqual(self.cupsd.job_attributes(job).get("job-state"), state)
        at = kit.first_difference(got, want)
        self.assertTrue(got == want, f"{len(got)} bytes printed, {len(want)} expected; first difference at {at}:\n"
                                     f"  printed:  {kit.hex_around(got, at)}\n  expected: {kit.hex_around(want, at)}")

    # ---- the cases

    def test_job_waits_for_paper_then_prints_once(self):
        document, want = self.reference(1)
        kit.control_printer(self.vp, "paper empty")
        job, number = self.submit(document, CUT)
        self.wait_held(job)
        time.sleep(1.5)  # a poll or two more: still nothing but ESC @
        self.assertEqual(kit.control_printer(self.vp, "status")["received"], "2")
        kit.control_printer(self.vp, "paper ok")
        self.assert_job(job, self.printed(job, number), want)
        self.assertNotIn("media-empty-error", self.lpstat("-l"))

    def test_paper_runs_out_between_page_2_and_3(self):
        document, want = self.reference(5)
        cuts = [m.end() for m in re.finditer(rb"\x1dVB\x01|\x1dVA\x01", want)]
        self.assertEqual(len(cuts), 5, "every page ends with a cut")
        kit.control_printer(self.vp, f"paper empty after {cuts[1]}")
        job, number = self.submit(document, CUT)
        self.wait_held(job)
        state = kit.control_printer(self.vp, "status")
        self.assertEqual((state["paper"], state["received"], state["held"]), ("empty", str(cuts[1]), "0"),
                         "the job stops after page 2, the printer holds nothing")
        kit.control_printer(self.vp, "paper ok")
        got = self.printed(job, number)
        self.assert_job(job, got, want)
        self.assertEqual(len(kit.Printout(self.save(got)).pages), 5)

    def test_cancel_a_waiting_job(self):
        document, _ = self.reference(1)
        kit.control_printer(self.vp, "paper empty")
        job, number = self.submit(document)
        self.wait_held(job)
        self.cupsd.cancel(job)
        kit.control_printer(self.vp, "paper ok")
        got = self.printed(job, number)
        self.assertEqual(self.cupsd.job_attributes(job).get("job-state"), "canceled")
        self.assertEqual(got, b"\x1b@" + kit.CANCEL_TAIL, "only the cancel tail after ESC @")

    def save(self, data):
        path = self.ws.join(f"printed-{time.monotonic_ns()}.bin")
        with open(path, "wb") as f:
            f.write(data)
        return path


if __name__ == "__main__":
    sys.exit(kit.main(__doc__.splitlines()[0]))
