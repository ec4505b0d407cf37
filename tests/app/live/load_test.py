#!/usr/bin/env python3
"""The Printer Application under a burst of jobs from many clients at once.

Streamed (PWG raster) jobs from ten clients on two printers, then small PNG
jobs from six clients on one printer: every request is answered and
accepted, every job ends completed, each printer receives each job's bytes
exactly once, and the server still answers afterwards. (PAPPL 1.3.1 alone
refused, printed twice or locked up here; see app/job_turns.cpp.)

Run by CTest (label app), or directly:
  load_test.py --app APP --artefacts DIR --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import concurrent.futures
import os
import re
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import appkit  # noqa: E402
from appkit import kit  # noqa: E402


class Burst(kit.ChainTestCase):
    workspace_name = "app-load"

    @classmethod
    def set_up_chain(cls):
        cls.vp = {31: appkit.VirtualPrinter(cls.ws, "tlv31"), 41: appkit.VirtualPrinter(cls.ws, "tlv41")}
        for vp in cls.vp.values():
            cls.addClassCleanup(vp.stop)
        cls.app = appkit.App(cls.ws).start()
        cls.addClassCleanup(cls.app.stop)
        cls.uri = {model: cls.app.add(f"tlv{model}", vp.uri, f"talvero_tlv{model:03d}") for model, vp in cls.vp.items()}
        tool = os.path.join(kit.PATHS.build, "tests", "app", "live", "make_raster")
        cls.pwg = {31: cls.ws.join("srgb.pwg"), 41: cls.ws.join("sgray.pwg")}
        for model, space in ((31, "srgb_8"), (41, "sgray_8")):
            kit.run([tool, "pwg", "om_80x60mm_80x60mm", space, cls.pwg[model]])
        cls.png = cls.ws.join("small")
        kit.run(["pdftoppm", "-png", "-r", "30", "-singlefile", os.path.join(kit.PATHS.source, "samples", "receipt.pdf"),
                 cls.png])
        cls.png += ".png"

    def burst(self, jobs):
        """Sends `jobs` ((model, document, format), ...) from ten clients at once; fails unless all are accepted."""
        with concurrent.futures.ThreadPoolExecutor(10) as pool:
            ids = list(pool.map(lambda job: appkit.print_job(self.ws, self.uri[job[0]], job[1], job[2]), jobs))
        self.assertEqual(len(ids), len(jobs))

    def printed_once(self, model, document, document_format, count):
        """Checks that printer `model` got the bytes of `document` alone, `count` times over, after one job alone."""
        vp = self.vp[model]
        vp.settle()
        first = vp.job_count() + 1
        appkit.print_job(self.ws, self.uri[model], document, document_format)
        single = vp.wait_job(first).data
        yield
        kit.wait_for(lambda: self.received(model, first + 1) >= count * len(single), 60, "the burst's bytes")
        vp.settle()
        got = b"".join(open(vp.job_file(n, "bin"), "rb").read() for n in range(first + 1, vp.job_count() + 1))
        self.assertTrue(got == single * count, f"printer {model}: {len(got)} bytes, want {count} x {len(single)}; "
                                               f"first difference at {kit.first_difference(got, single * count)}")

    def received(self, model, first):
        vp = self.vp[model]
        return sum(os.path.getsize(vp.job_file(n, "bin")) for n in range(first, vp.job_count() + 1))

    def all_completed(self, model):
        """The states of printer `model`'s finished jobs: all completed."""
        test = self.ws.join("completed.test")
        with open(test, "w") as f:
            f.write("{ OPERATION Get-Jobs GROUP operation-attributes-tag ATTR charset attributes-charset utf-8 "
                    "ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri "
                    "ATTR keyword which-jobs completed ATTR keyword requested-attributes job-state "
                    "STATUS successful-ok }\n")
        status, out = appkit.ipptool(self.uri[model], test, "-tv")
        states = re.findall(r"job-state \(enum\) = (\S+)", out)
        self.assertTrue(status == 0 and states and set(states) == {"completed"}, f"job states: {states}")

    def test_streamed_jobs_at_once(self):
        count = 30
        checks = [self.printed_once(m, self.pwg[m], "image/pwg-raster", count) for m in (31, 41)]
        for check in checks:
            next(check)
        self.burst([(m, self.pwg[m], "image/pwg-raster") for m in (31, 41)] * count)
        for check in checks:
            next(check, None)
        for model in (31, 41):
            self.all_completed(model)

    def test_spooled_jobs_once(self):
        count = 120
        check = self.printed_once(31, self.png, "image/png", count)
        next(check)
        self.burst([(31, self.png, "image/png")] * count)
        next(check, None)
        self.all_completed(31)
        appkit.printer_attributes(self.uri[31])  # still answering


if __name__ == "__main__":
    sys.exit(appkit.main(__doc__.splitlines()[0]))
