#!/usr/bin/env python3
"""The Printer Application for real, on loopback ports.

talvero-printer-app serves on a free port of 127.0.0.1 with its state in a
scratch folder. Three printers print to talvero-virtual-printer devices:
model 31 (black and red), model 41 (black only), and a model 31 whose paper
has run out. Every job the app sends is decoded by the virtual printer; the
tests read back its planes and commands.

  - ipptool's IPP Everywhere suite passes on both models, but for the
    failures listed in EXPLAINED (each explained in the README).
  - PWG raster, PNG and JPEG printed with ipptool come out in the right
    planes (red only in colour on model 31), trimmed, cut or fed, with the
    drawer kicked, as the job's and the printer's attributes say.
  - A private cupsd adds the app's printer as a driverless queue and prints
    the sample receipt in colour and in monochrome.
  - Headless Chromium shows the printer's page and its options page with
    the model's name and the vendor options (screenshots kept as artefacts).
  - The paper-out printer reports media-empty.
  - One page as PWG raster to the app and as CUPS raster to the filter chain
    (rastertoTalveroPlanes, rastertoTalvero with the model's PPD) gives the
    same printer bytes.

Run by CTest (label app), or directly:
  app_test.py --app APP --artefacts DIR --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import os
import re
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import appkit  # noqa: E402
from appkit import kit  # noqa: E402

MEDIA = "custom_x_80x297mm"  # the page of make_raster: the 80 mm roll's 297 mm page
RECEIPT = "receipt.pdf"
# The vendor attributes a job sets, by PPD option (the names the app gives them).
VENDOR = {"PageCut": "page-cut", "CashDrawer": "cash-drawer", "CashDrawerOpen": "cash-drawer-open",
          "CashDrawer1PulseWidth": "cash-drawer-1-pulse-width", "LogoPosition": "logo-position"}
# The IPP Everywhere tests that cannot pass, with why (the README says the same).
EXPLAINED = {}


def vendor(option, value, tag="keyword"):
    """A job attribute (tag, name, value) for PPD option `option`."""
    return (tag, VENDOR[option], value)


class PrinterApp(kit.ChainTestCase):
    workspace_name = "app"

    @classmethod
    def set_up_chain(cls):
        ws = cls.ws
        cls.vp = {31: appkit.VirtualPrinter(ws, "tlv31"), 41: appkit.VirtualPrinter(ws, "tlv41"),
                  "empty": appkit.VirtualPrinter(ws, "empty", paper="empty")}
        for vp in cls.vp.values():
            cls.addClassCleanup(vp.stop)
        cls.app = appkit.App(ws).start()
        cls.addClassCleanup(cls.app.stop)
        cls.uri = {31: cls.app.add("tlv31", cls.vp[31].uri, "talvero_tlv031"),
                   41: cls.app.add("tlv41", cls.vp[41].uri, "talvero_tlv041"),
                   "empty": cls.app.add("empty", cls.vp["empty"].uri, "talvero_tlv031")}
        cls.documents = cls.make_documents()

    @classmethod
    def make_documents(cls):
        """The test page as PWG raster (sRGB and grey) and the sample receipt as PNG and JPEG."""
        ws = cls.ws
        docs = {}
        for space in ("srgb_8", "sgray_8"):
            docs[space] = cls.make_raster("pwg", space, ws.join(f"page-{space}.pwg"))
        receipt = os.path.join(kit.PATHS.source, "samples", RECEIPT)
        for kind, suffix in (("png", "png"), ("jpeg", "jpg")):
            kit.run(["pdftoppm", f"-{kind}", "-r", "203", "-singlefile", receipt, ws.join("receipt")])
            docs[kind] = ws.join(f"receipt.{suffix}")
        return docs

    @classmethod
    def make_raster(cls, kind, space, path):
        """Writes the test page as `kind` (pwg or cups) raster in colour space `space`; returns `path`."""
        kit.run([os.path.join(kit.PATHS.build, "tests", "app", "make_raster"), kind, MEDIA, space, path])
        return path

    # ---- helpers

    def print_and_read(self, printer, document, document_format, attributes=()):
        """Prints with ipptool on `printer`; returns the Printout of the job the device got."""
        vp = self.vp[printer]
        number = vp.job_count() + 1
        appkit.print_job(self.ws, self.uri[printer], document, document_format, attributes)
        return vp.wait_job(number)

    def wait_idle(self, printer, timeout=60):
        """Waits until `printer` has no job left (printer-state idle)."""
        kit.wait_for(lambda: "idle" in appkit.printer_attributes(self.uri[printer], "printer-state")
                     .get("printer-state", ""), timeout, f"printer {printer} to be idle")

    def assert_page(self, out, colour, what):
        """One page came out, with red dots only when `colour`, its blank rows trimmed."""
        self.assertEqual(len(out.pages), 1, f"{what}: pages\n{out.listing()}")
        page = out.pages[0]
        if colour:
            self.assertGreater(page.dots("colour"), 1000, f"{what}: no red\n{out.listing()}")
        else:
            self.assertEqual(page.dots("colour"), 0, f"{what}: red dots\n{out.listing()}")
        inked = page.inked_rows()
        self.assertTrue(inked and inked[0] == 0 and inked[-1] == page.rows - 1,
                        f"{what}: blank rows at the top or bottom of the {page.rows} rows printed")
        return page

    def tail_kind(self, out):
        """What follows the last page: "cut", "feed" (line feeds) or "none"."""
        names = out.tail_names()
        if any(n.startswith("GS V") for n in names):
            return "cut"
        return "feed" if "LF" in names else "none"

    def drawer_kicks(self, out):
        """(drawer, on time in 2 ms) of each ESC p, and whether it came before the first page."""
        first = next((c.offset for c in out.commands if c.name in kit.RASTER_COMMANDS), 0)
        return [(c.number("m"), c.number("t1"), c.offset < first) for c in out.commands if c.name == "ESC p"]

    # ---- the cases

    def test_ipp_everywhere(self):
        for printer in (31, 41):
            with self.subTest(printer=printer):
                status, out = appkit.ipptool(self.uri[printer], "ipp-everywhere.test", "-tv", timeout=300)
                log = self.ws.join(f"ipp-everywhere-{printer}.txt")
                with open(log, "w") as f:
                    f.write(out)
                failed = appkit.failed_tests(out)
                unexplained = {name: why for name, why in failed.items() if name not in EXPLAINED}
                self.assertEqual(unexplained, {}, f"ipp-everywhere.test failures {self.artefact(log)}")
                self.wait_idle(printer)

    def test_documents_print_as_set(self):
        d = self.documents
        cases = [
            # printer, document, format, job attributes, red?, after the page, drawer kicks
            (31, d["srgb_8"], "image/pwg-raster",
             [("keyword", "print-color-mode", "color"), vendor("CashDrawer", "1", "integer"),
              vendor("CashDrawerOpen", "0", "integer"), vendor("CashDrawer1PulseWidth", "200", "integer")],
             True, "cut", [(0, 100, True)]),
            (31, d["srgb_8"], "image/pwg-raster",
             [("keyword", "print-color-mode", "monochrome"), vendor("PageCut", "0", "integer")],
             False, "feed", []),
            (41, d["sgray_8"], "image/pwg-raster", [vendor("PageCut", "1", "integer")], False, "none", []),
            (31, d["png"], "image/png", [("keyword", "print-color-mode", "monochrome")], False, "cut", []),
            (31, d["jpeg"], "image/jpeg", [("keyword", "print-color-mode", "color")], True, "cut", []),
            (41, d["jpeg"], "image/jpeg", [("enum", "finishings", "11")], False, "cut", []),
        ]
        for printer, document, fmt, attributes, colour, after, kicks in cases:
            what = f"{os.path.basename(document)} on {printer} with {attributes}"
            with self.subTest(what):
                out = self.print_and_read(printer, document, fmt, attributes)
                self.assert_page(out, colour, what)
                self.assertEqual(self.tail_kind(out), after, f"{what}: after the page {out.tail_names()}")
                self.assertEqual(self.drawer_kicks(out), kicks, what)

    def test_printer_defaults_apply_to_jobs(self):
        """Defaults set with `modify -o` are what a job without attributes gets."""
        self.app.cli("modify", "-d", "tlv41", "-o", f"{VENDOR['CashDrawer']}-default=2",
                     "-o", f"{VENDOR['CashDrawerOpen']}-default=1", "-o", f"{VENDOR['PageCut']}-default=0")
        try:
            out = self.print_and_read(41, self.documents["sgray_8"], "image/pwg-raster")
            self.assert_page(out, False, "defaults")
            self.assertEqual(self.tail_kind(out), "feed")
            self.assertEqual([(m, after) for m, _, before in self.drawer_kicks(out) for after in [not before]],
                             [(1, True)], "drawer 2 kicked after printing")
        finally:
            self.app.cli("modify", "-d", "tlv41", "-o", f"{VENDOR['CashDrawer']}-default=0",
                         "-o", f"{VENDOR['CashDrawerOpen']}-default=3", "-o", f"{VENDOR['PageCut']}-default=2")

    def test_driverless_cups_queue(self):
        serverbin = kit.make_serverbin(self.ws.mkdir("serverbin"), {})
        cupsd = kit.Cupsd(self.ws.mkdir("cupsd"), serverbin, kit.datadir()).start()
        self.addCleanup(cupsd.stop)
        cupsd.lpadmin("-p", "q", "-E", "-v", self.uri[31], "-m", "everywhere")
        receipt = os.path.join(kit.PATHS.source, "samples", RECEIPT)
        for options, colour in ((("print-color-mode=color",), True), (("print-color-mode=monochrome",), False)):
            with self.subTest(options=options):
                number = self.vp[31].job_count() + 1
                job = cupsd.lp("q", receipt, *options)
                cupsd.wait_job(job, timeout=90)
                out = self.vp[31].wait_job(number)
                page = self.assert_page(out, colour, f"lp {options}")
                self.assertGreater(page.dots("black"), 1000, "no black dots")
                self.assertEqual(self.tail_kind(out), "cut")
                png = appkit.keep(self.vp[31].job_file(number, "png"), f"cups-queue-{'colour' if colour else 'mono'}.png")
                self.assertEqual(kit.png_ink(png)[1] > 0, colour, f"red in the picture {png}")

    def test_web_interface(self):
        for path, shot, wanted in (("/tlv31", "web-printer.png", ["Talvero TLV-31"]),
                                   ("/tlv31/printing", "web-options.png",
                                    ["Talvero TLV-31", "logo", "drawer", "cut"])):
            with self.subTest(page=path):
                screenshot = os.path.join(appkit.ARTEFACTS, shot)
                text = appkit.page_text(appkit.chromium(self.ws, self.app.url(path), screenshot))
                for word in wanted:
                    self.assertIn(word.lower(), text.lower(), f"{path}: {text[:2000]}")
                self.assertGreater(os.path.getsize(screenshot), 10000, f"{screenshot} looks empty")

    def test_paper_out_shows_media_empty(self):
        reasons = lambda printer: appkit.printer_attributes(  # noqa: E731
            self.uri[printer], "printer-state-reasons").get("printer-state-reasons", "")
        kit.wait_for(lambda: "media-empty" in reasons("empty"), 30, "media-empty on the paper-out printer")
        self.assertNotIn("media-empty", reasons(31))
        self.assertNotIn("media-low", reasons(31))

    def test_same_bytes_as_filter(self):
        cases = [(31, "srgb_8", [], ""),
                 (31, "srgb_8", [("keyword", "print-color-mode", "monochrome"), vendor("PageCut", "0", "integer"),
                                 vendor("CashDrawer", "3", "integer"), vendor("CashDrawerOpen", "2", "integer")],
                  "ColorModel=1 PageCut=0 CashDrawer=3 CashDrawerOpen=2"),
                 (41, "sgray_8", [], "")]
        for printer, space, attributes, options in cases:
            with self.subTest(printer=printer, options=options):
                got = self.print_and_read(printer, self.documents[space], "image/pwg-raster", attributes).data
                want = self.filter_bytes(printer, space, options)
                at = kit.first_difference(got, want)
                self.assertTrue(got == want, f"app {len(got)} bytes, filter {len(want)}; first difference at {at}\n"
                                             f"  app:    {kit.hex_around(got, at)}\n"
                                             f"  filter: {kit.hex_around(want, at)}")

    def filter_bytes(self, model, space, options):
        """The filter chain's printer bytes for the test page as CUPS raster:
        rastertoTalveroPlanes, then rastertoTalvero, with the model's PPD and `options`."""
        ras = self.make_raster("cups", space, self.ws.join(f"page-{space}.ras"))
        env = dict(os.environ, PPD=kit.PATHS.ppd(model))
        args = ["1", "test", "page", "1", options]
        with open(ras, "rb") as src:
            planes = subprocess.run([kit.PATHS.prefilter, *args], stdin=src, capture_output=True, env=env, check=True)
        printed = subprocess.run([kit.PATHS.filter, *args], input=planes.stdout, capture_output=True, env=env,
                                 check=True)
        return printed.stdout

if __name__ == "__main__":
    sys.exit(appkit.main(__doc__.splitlines()[0]))
