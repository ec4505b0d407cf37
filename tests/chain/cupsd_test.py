#!/usr/bin/env python3
"""The driver under a real cupsd: queues, printing and cancelling.

The test starts a cupsd of its own (ServerRoot, spool, cache and logs in a
scratch folder, Listen on a free port of 127.0.0.1, FileDevice Yes, LogLevel
debug) whose DataDir/model lists the build's PPDs, so that `lpinfo -m`
offers them as talvero/tlvNNN.ppd. Two queues of model 31 print to two kinds
of device: a file (file:, which cupsd writes itself, without a backend) and
a raw TCP printer on 127.0.0.1 served by the test (socket:, through the
socket backend).

  - lpinfo -m offers all 47 models.
  - A document printed with lp reaches each device byte for byte as
    cupsfilter produces it for the same PPD and options.
  - A long job cancelled with `cancel` while rastertoTalvero runs: the
    filter exits with status 0 after the signal, the queue does not stop,
    and the device receives every byte the filter had written before the
    signal (a prefix of the uncancelled job) followed by 720 bytes 00 and
    ESC @.

Run by CTest (label real-chain), or directly:
  cupsd_test.py --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import os
import re
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chainkit as kit  # noqa: E402

MODEL = 31
LONG_JOB_PAGES = 300


class PrivateCupsd(kit.ChainTestCase):
    workspace_name = "cupsd"

    @classmethod
    def set_up_chain(cls):
        cls.conf = kit.sandbox_conf(cls.ws, {"rastertoTalvero": kit.PATHS.filter,
                                             "rastertoTalveroPlanes": kit.PATHS.prefilter})
        data = kit.make_datadir(cls.ws.join("data"), {"talvero": kit.PATHS.ppd_dir})
        cls.cupsd = kit.Cupsd(cls.ws.mkdir("cupsd"), cls.ws.join("serverbin"), data).start()
        cls.addClassCleanup(cls.cupsd.stop)
        cls.printer = kit.SocketPrinter()
        cls.addClassCleanup(cls.printer.close)

        cls.models = models = cls.cupsd.lpinfo_models()
        cls.model_name = f"talvero/tlv{MODEL:03d}.ppd"
        if cls.model_name not in models:
            raise AssertionError(f"lpinfo -m does not offer {cls.model_name}; it lists "
                                 f"{sorted(n for n in models if 'talvero' in n.lower())}")
        cls.devices = {}
        # A file queue set up by model name, a socket queue by PPD file.
        cls.devices["file"] = cls.ws.join("device-file.out")
        open(cls.devices["file"], "wb").close()
        cls.cupsd.lpadmin("-p", "talvero", "-E", "-v", f"file://{cls.devices['file']}", "-m", cls.model_name)
        cls.cupsd.lpadmin("-p", "talvero-socket", "-E", "-v", f"socket://127.0.0.1:{cls.printer.port}/?snmp=false",
                          "-P", kit.PATHS.ppd(MODEL))
        cls.queues = {"file": "talvero", "socket": "talvero-socket"}

    # ---- helpers

    def device_bytes(self, kind, connections_before=None):
        """What the device of `kind` has received: the file's bytes, or those of the
        socket connection opened after `connections_before` connections."""
        if kind == "file":
            with open(self.devices["file"], "rb") as f:
                return f.read()
        jobs = self.printer.received()
        return jobs[connections_before] if len(jobs) > connections_before else b""

    def save(self, name, data):
        """Writes `data` into the workspace; returns the path."""
        path = self.ws.join(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def reference(self, document, name):
        """The printer bytes cupsfilter produces for `document` with model 31's PPD."""
        out = self.ws.join(name)
        status, log = kit.cupsfilter(self.conf, kit.PATHS.ppd(MODEL), document, [], out)
        self.assertEqual(status, 0, f"cupsfilter failed on {document}:\n{log[-2000:]}")
        with open(out, "rb") as f:
            return f.read()

    def filter_pid(self, job):
        """The PID cupsd gave rastertoTalvero for `job`, from its log."""
        for line in self.cupsd.job_log(job):
            m = re.search(r"Started filter \S*/rastertoTalvero \(PID (\d+)\)", line)
            if m:
                return int(m.group(1))
        return None

    def exit_line(self, job, pid):
        """The log line on how rastertoTalvero (PID `pid`) of `job` ended, or None."""
        for line in self.cupsd.job_log(job):
            if re.search(rf"PID {pid} \(\S*/rastertoTalvero\) (exited|stopped|crashed|was terminated)", line):
                return line
        return None

    def assert_queue_fine(self, queue, job):
        log = "\n".join(self.cupsd.job_log(job))
        state = self.cupsd.printer_state(queue)
        self.assertNotIn("filter failed", log.lower(), f"{job}: {self.artefact(self.cupsd.error_log)}")
        self.assertRegex(state, r"is idle\.\s+enabled",
                         f"{job}: the queue is not idle and enabled after the job: {state!r}")

    # ---- the cases

    def test_lpinfo_lists_every_model(self):
        """Every built PPD is offered as talvero/tlvNNN.ppd with its model's name."""
        built = sorted(n for n in os.listdir(kit.PATHS.ppd_dir) if re.fullmatch(r"tlv\d{3}\.ppd", n))
        listed = {n: m for n, m in self.models.items() if n.startswith("talvero/")}
        self.assertEqual(len(built), 47, f"the build has {len(built)} PPDs")
        self.assertEqual(sorted(listed), [f"talvero/{n}" for n in built], "lpinfo -m does not list the built PPDs")
        for name, make in listed.items():
            number = int(re.search(r"tlv(\d+)", name).group(1))
            self.assertRegex(make, rf"^Talvero TLV-{number}\b", f"{name}: make and model {make!r}")

    def test_lp_prints_what_cupsfilter_prints(self):
        document = kit.PATHS.fixture("black-red-rgb.pdf")
        want = self.reference(document, "reference.bin")
        for kind, queue in self.queues.items():
            with self.subTest(device=kind):
                before = len(self.printer.received())
                if kind == "file":
                    open(self.devices["file"], "wb").close()
                job = self.cupsd.lp(queue, document)
                self.cupsd.wait_job(job)
                if kind == "socket":
                    kit.wait_for(lambda: len(self.device_bytes(kind, before)) >= len(want), 10,
                                 "the socket printer to receive the job")
                    time.sleep(0.2)
                got = self.device_bytes(kind, before)
                path = self.save(f"lp-{kind}.bin", got)
                self.assertTrue(any("Job completed." in line for line in self.cupsd.job_log(job)),
                                f"{job} did not complete; {self.artefact(self.cupsd.error_log)}")
                self.assert_queue_fine(queue, job)
                at = kit.first_difference(got, want)
                self.assertTrue(
                    got == want,
                    f"{kind} device: {len(got)} bytes, cupsfilter gave {len(want)}; first difference at {at}\n"
                    f"  device:     {kit.hex_around(got, at)}\n  cupsfilter: {kit.hex_around(want, at)}\n"
                    f"  device bytes {self.artefact(path)}, cupsfilter bytes "
                    f"{self.artefact(self.ws.join('reference.bin'))}, log {self.artefact(self.cupsd.error_log)}")

    def test_cancel_while_the_filter_runs(self):
        """A job of identical pages: each page gives the same bytes P, so the
        uncancelled job is ESC @ then P repeated, and what the device gets must
        be a prefix of that, then the cancel tail."""
        one = self.reference(kit.many_page_pdf(self.ws.join("one-page.pdf"), 1), "one-page.bin")
        self.assertEqual(one[:2], b"\x1b\x40")
        page = one[2:]
        full = b"\x1b\x40" + page * LONG_JOB_PAGES
        document = kit.many_page_pdf(self.ws.join("long.pdf"), LONG_JOB_PAGES)

        for kind, queue in self.queues.items():
            with self.subTest(device=kind):
                before = len(self.printer.received())
                if kind == "file":
                    open(self.devices["file"], "wb").close()
                log_start = len(self.cupsd.log().splitlines())
                job = self.cupsd.lp(queue, document)
                # Cancel once two pages have reached the device, with the filter still at work.
                kit.wait_for(lambda: len(self.device_bytes(kind, before)) >= 2 * len(page), 30,
                             f"{job} to print two pages")
                pid = self.filter_pid(job)
                self.assertIsNotNone(pid, f"{job}: no rastertoTalvero start in the log")
                self.assertIsNone(self.exit_line(job, pid), f"{job}: the filter ended before the cancel")
                self.assertTrue(self.cupsd.job_active(job), f"{job} ended before the cancel")
                self.cupsd.cancel(job)
                self.cupsd.wait_job(job, timeout=30)
                exit_line = kit.wait_for(lambda: self.exit_line(job, pid), 30, f"rastertoTalvero of {job} to end")
                if kind == "socket":
                    kit.wait_for(lambda: any(re.search(r"PID \d+ \(\S*/backend/socket\)", line)
                                             for line in self.cupsd.job_log(job)),
                                 30, f"the socket backend of {job} to end")
                    time.sleep(0.2)
                got = self.device_bytes(kind, before)
                path = self.save(f"cancel-{kind}.bin", got)
                log = self.cupsd.log().splitlines()[log_start:]
                where = (f"device bytes {self.artefact(path)}, log {self.artefact(self.cupsd.error_log)}")

                # cupsd's word on the cancel and on how the filter ended.
                cancel_at = next((i for i, line in enumerate(log) if "canceled" in line.lower()), None)
                exit_at = log.index(exit_line) if exit_line in log else None
                self.assertIsNotNone(cancel_at, f"{job}: no cancel in the log; {where}")
                self.assertIn("exited with no errors", exit_line,
                              f"{job}: rastertoTalvero did not exit with status 0: {exit_line}; {where}")
                self.assertGreater(exit_at, cancel_at, f"{job}: the filter ended before the cancel; {where}")
                self.assert_queue_fine(queue, job)

                # What reached the device.
                self.assertLess(len(got), len(full), f"{job}: the whole job printed; the cancel came too late")
                self.assertTrue(got.endswith(kit.CANCEL_TAIL),
                                 f"{job}: the device does not end with 720 bytes 00 and ESC @; its last bytes: "
                                 f"{got[-40:].hex(' ')}; {where}")
                printed = got[:-len(kit.CANCEL_TAIL)]
                at = kit.first_difference(printed, full)
                self.assertEqual(at, len(printed),
                                 f"{job}: before the cancel tail the device got other bytes than the job's: "
                                 f"first difference at {at}\n  device: {kit.hex_around(printed, at)}\n"
                                 f"  job:    {kit.hex_around(full, at)}\n{where}")
                pages, rest = divmod(len(printed) - 2, len(page))
                print(f"\n  {kind} device: {pages} whole pages and {rest} bytes of the next before the "
                      f"cancel tail; {exit_line.split('] ', 1)[-1]}")


if __name__ == "__main__":
    sys.exit(kit.main(__doc__.splitlines()[0]))
