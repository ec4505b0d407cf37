#!/usr/bin/env python3
"""The driver under a real cupsd: queues, printing and cancelling.

The test starts a cupsd of its own (ServerRoot, spool, cache and logs in a
scratch folder, Listen on a free port of 127.0.0.1, FileDevice Yes, LogLevel
debug) whose DataDir/model lists the build's PPDs, so that `lpinfo -m`
offers them as talvero/tlvNNN.ppd. Two queues of model 31 print to two kinds
of device: a file (file:, which cupsd writes itself, without a backend) and
a raw TCP printer on 127.0.0.1 served by the test (socket:, through the
socket backend, with a plain socket://HOST:PORT URI). That printer never
answers the status queries the filter sends through the socket backend's
back channel; they are taken out of its bytes before they are compared.

  - lpinfo -m offers all 47 models.
  - The socket queue prints the sample receipt in under 3.5 s (the backend
    waiting for the SNMP agent the loopback printer does not have takes 4 s
    before it connects; a busy machine may take 2 s for the rest).
  - A document printed with lp reaches each device byte for byte as
    cupsfilter produces it for the same PPD and options.
  - The IPP colour mode: a two-colour queue created plainly advertises
    color and prints black and red by default, a black-only one advertises
    monochrome; print-color-mode=monochrome prints black only, color black
    and red, and a ColorModel option given with the job (0 or 1) wins, also
    on queues made black by default (print-color-mode-default=monochrome,
    or the PPD default ColorModel=1).
  - Jobs that print nothing (a blank document, an API-mode title, the PPD of
    another printer) stop with the cause in the log and no page counted, the
    queue stays idle and accepting, and the next receipt prints with
    job-impressions-completed equal to its pages.
  - A long job cancelled with `cancel` while rastertoTalvero runs: the
    filter exits with status 0 after the signal, the queue does not stop,
    and the device receives a prefix of the uncancelled job, ended either
    by the filter's cancel tail (720 bytes 00 and ESC @) or, when the signal
    reached the prefilter first and the filter then saw its input end, as a
    shortened job ends: its last page and page end.

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
        kit.start_build_cupsd(cls)
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
        # Added as a user adds a network printer: a plain URI, SNMP left to the PPD.
        cls.cupsd.lpadmin("-p", "talvero-socket", "-E", "-v", f"socket://127.0.0.1:{cls.printer.port}",
                          "-P", kit.PATHS.ppd(MODEL))
        cls.queues = {"file": "talvero", "socket": "talvero-socket"}

    # ---- helpers

    def device_bytes(self, kind, connections_before=None):
        """What the device of `kind` has received: the file's bytes, or those of the
        socket connection opened after `connections_before` connections, without
        the status queries (this printer never answers them)."""
        if kind == "file":
            with open(self.devices["file"], "rb") as f:
                return f.read()
        jobs = self.printer.received()
        return kit.strip_status_queries(jobs[connections_before]) if len(jobs) > connections_before else b""

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

    def print_file_job(self, document, *options, queue="talvero", device=None, title=None):
        """Prints `document` on a file queue and waits until the job leaves the
        processing state; returns (job, device bytes)."""
        device = device or self.devices["file"]
        open(device, "wb").close()
        if title:
            options += (f"job-name={title}",)
        job = self.cupsd.lp(queue, document, *options)
        kit.wait_for(lambda: self.cupsd.job_attributes(job).get("job-state") not in
                     (None, "pending", "processing"), 60, f"{job} to end")
        with open(device, "rb") as f:
            return job, f.read()

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

    def test_socket_queue_prints_without_waiting_for_snmp(self):
        """The loopback printer has no SNMP agent: unless the PPD says the printer
        reports no supplies, the socket backend waits 2 x 2 s for SNMP answers
        before it connects. The receipt must be completed well before that."""
        start = time.monotonic()
        job = self.cupsd.lp("talvero-socket", os.path.join(kit.PATHS.source, "samples", "receipt.pdf"))
        self.cupsd.wait_job(job, timeout=30)
        elapsed = time.monotonic() - start
        backend = [line for line in self.cupsd.job_log(job) if re.search(r"backend|[Cc]onnect", line)]
        self.assertLess(elapsed, 3.5, f"{job} took {elapsed:.2f} s; the backend's lines:\n" + "\n".join(backend))
        self.assertTrue(any("Job completed." in line for line in self.cupsd.job_log(job)), f"{job} did not complete")

    def test_ipp_colour_mode(self):
        """print-color-mode through the PPD's presets, with ColorModel winning;
        queues created plainly advertise the colour mode of their PPD's default."""
        for queue in self.queues.values():
            self.assertEqual(self.cupsd.queue_defaults(queue).get("print-color-mode"), "color",
                             f"a two-colour model's queue {queue} must advertise color")
        devices = {}
        for queue, model in (("talvero-black", 13), ("talvero-mono-mode", MODEL), ("talvero-black-default", MODEL)):
            devices[queue] = self.ws.join(f"device-{queue}.out")
            open(devices[queue], "wb").close()
            self.cupsd.lpadmin("-p", queue, "-E", "-v", f"file://{devices[queue]}", "-m",
                               f"talvero/tlv{model:03d}.ppd")
        self.assertEqual(self.cupsd.queue_defaults("talvero-black").get("print-color-mode"), "monochrome",
                         "a black-only model's queue must advertise monochrome")
        # Two ways to make black the default of a two-colour queue: the user guide's
        # colour mode, and a PPD default of ColorModel 1 (for which cupsd sets
        # the colour mode too), on which ColorModel=0 has to find the choice RGB.
        self.cupsd.lpadmin("-p", "talvero-mono-mode", "-o", "print-color-mode-default=monochrome")
        self.cupsd.lpadmin("-p", "talvero-black-default", "-o", "ColorModel=1")
        for queue in ("talvero-mono-mode", "talvero-black-default"):
            self.assertEqual(self.cupsd.queue_defaults(queue).get("print-color-mode"), "monochrome", queue)

        document = kit.PATHS.fixture("black-red-rgb.pdf")
        cases = [  # queue, options, red expected
            ("talvero", (), True),  # the queue's default
            ("talvero", ("print-color-mode=monochrome",), False),
            ("talvero", ("print-color-mode=color",), True),
            ("talvero", ("print-color-mode=monochrome", "ColorModel=0"), True),
            ("talvero", ("print-color-mode=color", "ColorModel=1"), False),
            ("talvero-mono-mode", (), False),
            ("talvero-mono-mode", ("ColorModel=0",), True),
            ("talvero-black-default", (), False),
            ("talvero-black-default", ("ColorModel=0",), True),  # 0 names the choice RGB
            ("talvero-black-default", ("print-color-mode=color",), True),
            ("talvero-black", ("print-color-mode=color",), False),
        ]
        for queue, options, red in cases:
            with self.subTest(queue=queue, options=options):
                job, got = self.print_file_job(document, *options, queue=queue, device=devices.get(queue))
                path = self.save(f"colour-{queue}-{'-'.join(options) or 'default'}.bin", got)
                self.assertEqual(self.cupsd.job_attributes(job).get("job-state"), "completed",
                                 f"{job}: {self.artefact(self.cupsd.error_log)}")
                printout = kit.Printout(path)
                self.assertIsNone(printout.error, f"{job}: {printout.error} {self.artefact(path)}")
                self.assertEqual(len(printout.pages), 1, printout.listing())
                page = printout.pages[0]
                self.assertGreater(page.dots("black"), 1000, f"{job}: no black {self.artefact(path)}")
                colour = page.dots("colour")
                self.assertEqual(colour > 1000, red,
                                 f"{job} with {options}: {colour} red dots {self.artefact(path)}")
                if not red:
                    self.assertEqual(colour, 0, f"{job}: red dots on a black-only job {self.artefact(path)}")

    def test_jobs_that_print_nothing_leave_the_queue_printing(self):
        """A blank document, an API-mode title and the PPD of another printer:
        each job stops with its cause and no page counted; the next receipt
        prints and counts its pages."""
        other = self.ws.join("tlv012.ppd")
        with open(kit.PATHS.ppd(MODEL), encoding="latin-1") as f:
            text = f.read().replace(f"*cupsModelNumber: {MODEL}", "*cupsModelNumber: 12")
        with open(other, "w", encoding="latin-1") as f:
            f.write(text)
        other_device = self.ws.join("device-other.out")
        open(other_device, "wb").close()
        self.cupsd.lpadmin("-p", "talvero-other", "-E", "-v", f"file://{other_device}", "-P", other)

        receipt = kit.many_page_pdf(self.ws.join("three-pages.pdf"), 3)
        blank = kit.many_page_pdf(self.ws.join("blank.pdf"), 1, blank=True)
        # The filter of the PPD of another printer ends before it reads, so
        # there the prefilter cannot write its pages and fails too.
        cases = [  # name, print call, printer bytes, the job's first error lines, prefilter succeeds
            ("blank", lambda: self.print_file_job(blank), None, ["No pages found!"], True),
            ("api", lambda: self.print_file_job(receipt, title="TALVERO_API_MODE reset"), b"\x1b\x40",
             ["No pages found!"], True),
            ("other", lambda: self.print_file_job(receipt, queue="talvero-other", device=other_device), b"",
             ["This PPD is not for a supported printer (model 12).", "No pages found!"], False),
        ]
        stopped = []
        for name, submit, printed, errors, prefilter_ok in cases:
            with self.subTest(job=name):
                job, got = submit()
                stopped.append(job)
                where = f"{self.artefact(self.save(f'{name}.bin', got))} {self.artefact(self.cupsd.error_log)}"
                attributes = self.cupsd.job_attributes(job)
                self.assertEqual(attributes.get("job-state"), "processing-stopped", f"{job}: {where}")
                self.assertEqual(attributes.get("job-impressions-completed"), "0", f"{job}: {where}")
                log = self.cupsd.job_log(job)
                logged = [line.split("] ", 2)[-1] for line in log
                          if line.startswith("E ") and "Job stopped due to filter errors" not in line]
                # cupsd reads the standard error of all of a job's processes
                # through one pipe, and gstoraster writes its command line in
                # many pieces: a line of ours written meanwhile lands inside
                # that DEBUG line. So each error is looked for in either form.
                found = [m for m in errors if m in logged or any(f"ERROR: {m}" in line for line in log)]
                self.assertEqual((found, [m for m in logged if m not in errors]), (errors, []),
                                 f"{job}: error lines; {where}\n" + "\n".join(log[-40:]))
                # cupsd shows the first error line, or its own "Filter failed" when
                # it saw the filter exit before reading the filter's last lines.
                self.assertIn(attributes.get("job-printer-state-message"), (errors[0], "Filter failed"),
                              f"{job}: {where}")
                failed = [line for line in log if re.search(r"rastertoTalveroPlanes\) (stopped|crashed)", line)]
                self.assertEqual(not failed, prefilter_ok, f"{job}: the prefilter's end: {failed}; {where}")
                if printed is not None:
                    self.assertEqual(got, printed, f"{job}: {where}")
                self.assertRegex(self.cupsd.printer_state("talvero"), r"is idle\.\s+enabled")

        job, got = self.print_file_job(receipt)
        path = self.save("after.bin", got)
        attributes = self.cupsd.job_attributes(job)
        self.assertEqual(attributes.get("job-state"), "completed", f"{job}: {self.artefact(self.cupsd.error_log)}")
        self.assertEqual(len(kit.Printout(path).pages), 3, self.artefact(path))
        self.assertEqual(attributes.get("job-impressions-completed"), "3")
        with open(os.path.join(self.cupsd.root, "log", "page_log")) as f:
            self.assertIn(f" {job.rsplit('-', 1)[1]} ", "".join(l for l in f if " total 3 " in l),
                          "page_log has no total of 3 pages for the receipt")

        # User guide: `cancel` clears a stopped job.
        for job in stopped:
            self.cupsd.cancel(job)
            self.cupsd.wait_job(job, timeout=30)

    def test_cancel_while_the_filter_runs(self):
        """A job of identical pages: each page gives the same bytes P, so the
        uncancelled job is ESC @ then P repeated, and what the device gets must
        be a prefix of that, then the cancel tail. cupsd signals the job's
        processes one after another: when the prefilter ends first, it
        completes its page with blank rows and the filter ends the shortened
        job normally before its own signal arrives; that ending is sound too."""
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

                # What reached the device: the job's first bytes, then one of the two endings.
                self.assertLess(len(got), len(full), f"{job}: the whole job printed; the cancel came too late")
                if got.endswith(kit.CANCEL_TAIL):
                    ending = "the cancel tail"
                    printed = got[:-len(kit.CANCEL_TAIL)]
                    at = kit.first_difference(printed, full)
                    if at < len(printed):
                        # The prefilter ended first, and the filter was cancelled
                        # while it printed the shortened last page.
                        ending = "a shortened page and the cancel tail"
                        self.assert_shortened_job(got, one, page, where, cancelled=True)
                else:
                    ending = "a shortened job's normal end"
                    printed = got
                    self.assert_shortened_job(got, one, page, where)
                pages, rest = divmod(len(printed) - 2, len(page))
                print(f"\n  {kind} device: {pages} whole pages and {rest} bytes of the next, then {ending}; "
                      f"{exit_line.split('] ', 1)[-1]}")

    def assert_shortened_job(self, got, one, page, where, cancelled=False):
        """`got` is a job whose prefilter was cancelled first: whole pages of the
        job, then at most one page cut short (its rows the first rows of the
        job's page) that ends as every page does, and nothing else. When the
        filter was `cancelled` too, that page may stop anywhere (its last
        command completed by the 00 bytes of the cancel tail) and the job ends
        with the tail instead."""
        whole = (kit.first_difference(got[2:], page * (len(got) // len(page) + 1))) // len(page)
        self.assertEqual(got[:2 + whole * len(page)], b"\x1b\x40" + page * whole,
                         f"the device does not begin with the job's bytes; {where}")
        self.assertGreaterEqual(whole, 2, f"two pages were printed before the cancel; {where}")
        printout = kit.Printout(self.save("shortened.bin", got))
        reference = kit.Printout(self.save("one-page-ref.bin", one))
        if cancelled:
            # The page under way begins as the job's page does. Its first raster
            # command stores the black plane (GS ( L 112, 15 header bytes): the
            # sizes are the shortened page's, the rows the first of the job's
            # page. The cancel may have cut it inside, past the tail's reach.
            rest = got[2 + whole * len(page):-len(kit.CANCEL_TAIL)]
            first = next(c for c in reference.commands if c.name in kit.RASTER_COMMANDS)
            self.assertEqual(first.name, "GS ( L 112", "the job's pages do not start with a stored plane")
            start = first.offset - 2
            self.assertLess(len(rest), len(page), where)
            self.assertEqual(rest[:start], page[:min(start, len(rest))],
                             f"the page under way does not begin as the job's page; {where}")
            if len(rest) >= start + 15:
                # Both stores begin with the page's first row; the bands may differ in height.
                def stored(data):
                    return data[start + 15:start + 5 + data[start + 3] + 256 * data[start + 4]]
                mine, job_rows = stored(rest), stored(page)
                n = min(len(mine), len(job_rows))
                self.assertEqual(mine[:n], job_rows[:n],
                                 f"the black rows under way are not the job page's first rows; {where}")
        else:
            self.assertIsNone(printout.error, f"the shortened job does not decode: {printout.error}; {where}")
        self.assertIn(len(printout.pages), (whole, whole + 1), f"{where}\n{printout.listing()}")
        if not cancelled:
            self.assertEqual(printout.tail_names(), reference.tail_names(),
                             f"the shortened job does not end as a page ends; {where}\n{printout.listing()}")
        if len(printout.pages) > whole:
            last, full_page = printout.pages[-1], reference.pages[0]
            self.assertEqual(last.bytes_per_row, full_page.bytes_per_row, where)
            self.assertLessEqual(last.rows, full_page.rows, where)
            size = last.rows * last.bytes_per_row
            for plane in ("black", "colour"):
                mine, job_plane = getattr(last, plane), getattr(full_page, plane)[:size]
                # Where the cancel cut the page, the tail's 00 bytes fill the rest.
                same = kit.first_difference(mine, job_plane) if cancelled else size
                self.assertEqual(mine[:same], job_plane[:same],
                                 f"the last page's {plane} rows are not the job page's first rows; {where}")
                self.assertFalse(any(mine[same:]), f"the last page's {plane} plane goes on after the cut; {where}")

if __name__ == "__main__":
    sys.exit(kit.main(__doc__.splitlines()[0]))
