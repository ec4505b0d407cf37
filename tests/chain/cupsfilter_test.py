#!/usr/bin/env python3
"""The driver in the real CUPS filter chain, run by cupsfilter.

`cupsfilter -e -p tlvNNN.ppd` runs the chain cupsd runs for a queue of that
model: pdftopdf, the RIP, the prefilter rastertoTalveroPlanes and the filter
rastertoTalvero. Its printer bytes are decoded by talvero-preview and the
printed page is compared with the documents' known layout
(tests/fixtures/chain: black text, a solid black bar and red text at known
places; a PNG with the same three areas as blocks; a four-line text file):

  - the content is there and in the right plane: with ColorModel 0 the red
    text only in the colour plane and the black areas only in the black
    plane; with ColorModel 1, and on black-only models, everything black and
    no colour plane at all;
  - the page is trimmed: its first and last rows carry ink, and it is no
    taller than the content;
  - the model's end of page follows the page (its cut, or its line feeds);
  - the previewer's picture shows as many black and red dots as the planes.

Run by CTest (label real-chain), or directly:
  cupsfilter_test.py --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chainkit as kit  # noqa: E402

# How each tested model ends a page and a job (the model table's pageEnd,
# feedNoCut, feedBeforeCut, cutMode, jobEndFeed and compact columns).
MODEL_END = {
    31: {"pageEnd": "cut", "feedNoCut": 2, "feedBeforeCut": 0, "cutMode": 0x41, "jobEndFeed": 6},
    13: {"pageEnd": "cut", "feedNoCut": 2, "feedBeforeCut": 0, "cutMode": 0x41, "jobEndFeed": 6},
    41: {"pageEnd": "short", "jobEndFeed": 0},  # compact: no end-of-job feed
}
# How each tested model sends a black page: the command that carries it.
MONO_COMMAND = {31: "08 43 52", 41: "08 43 52", 13: "GS v 0"}
PAPER = "80x297mm"


def expected_tail(model, page_cut):
    """The commands after the last page of a one-page job, as Printout.tail_names() gives them."""
    end = MODEL_END[model]
    if end["pageEnd"] == "short":
        after_page = ["LF"] * 2
    elif end["pageEnd"] == "long":
        after_page = ["LF"] * 4
    elif page_cut == 0:
        after_page = ["LF"] * end["feedNoCut"]
    elif page_cut == 2:
        after_page = ["LF"] * end["feedBeforeCut"] + [f"GS V m={end['cutMode']:02x} feed 1"]
    else:
        after_page = []
    job_end = ["LF"] * end["jobEndFeed"] if page_cut == 0 else []
    return after_page + job_end


def dot_boxes(areas, ppd):
    """The fixture's areas in dots of the printed page, placed by the black bar.

    The page is trimmed, so its rows start at the top of the ink: rows are
    counted from the bar, which is the one area drawn edge to edge. Returns
    {name: (x0, dy0, x1, dy1)} with dy0/dy1 relative to the bar's top row."""
    left = kit.imageable_left(ppd, PAPER)
    (_, _, _, bar_top), _ = areas["black_rect"]
    scale = kit.DPI / 72
    pad = 4
    boxes = {}
    for name, ((x0, y0, x1, y1), _) in areas.items():
        boxes[name] = (round((x0 - left) * scale) - pad, round((bar_top - y1) * scale) - pad,
                       round((x1 - left) * scale) + pad, round((bar_top - y0) * scale) + pad)
    return boxes


def solid_rows(page, x0, x1, share=0.9):
    """The rows whose black dots cover at least `share` of columns x0..x1."""
    need = share * (x1 - x0)
    return [y for y in range(page.rows) if page.dots("black", (x0, y, x1, y + 1)) >= need]


def ink_runs(page):
    """The runs of consecutive inked rows: [(first, last)]."""
    runs = []
    for y in page.inked_rows():
        if runs and runs[-1][1] == y - 1:
            runs[-1][1] = y
        else:
            runs.append([y, y])
    return [tuple(r) for r in runs]


class CupsfilterChain(kit.ChainTestCase):
    workspace_name = "cupsfilter"

    @classmethod
    def set_up_chain(cls):
        cls.conf = kit.sandbox_conf(cls.ws, {"rastertoTalvero": kit.PATHS.filter,
                                             "rastertoTalveroPlanes": kit.PATHS.prefilter})
        cls.areas, _, _ = kit.fixture_areas()

    # ---- running and reading one job

    def print_document(self, model, document, options=()):
        """Prints a fixture through cupsfilter; returns its Printout after the checks
        every job gets: exit 0, our filter ran, the bytes decode cleanly, one page,
        trimmed, the model's end after it, and the picture agrees with the planes."""
        name = f"tlv{model:03d}-{os.path.splitext(document)[0]}-{'-'.join(options) or 'defaults'}"
        out = self.ws.join(name.replace("=", "") + ".bin")
        status, log = kit.cupsfilter(self.conf, kit.PATHS.ppd(model), kit.PATHS.fixture(document),
                                     list(options), out)
        where = f"printer bytes {self.artefact(out)}, log {self.artefact(out + '.log')}"
        self.assertEqual(status, 0, f"{name}: cupsfilter failed; {where}\n{log[-3000:]}")
        self.assertIn("rastertoTalvero (PID", log, f"{name}: our filter did not run; {where}")
        self.assertIn("INFO: Ready to print.", log, f"{name}: the filter found no page; {where}")

        printout = kit.Printout(out)
        self.assertIsNone(printout.error, f"{name}: talvero-preview cannot decode the bytes; {where}")
        self.assertEqual(printout.warnings, "", f"{name}: the previewer warns; {where}")
        self.assertEqual(printout.commands[0].name, "ESC @", f"{name}: the job does not start with a reset")
        self.assertEqual(len(printout.pages), 1, f"{name}: expected one page; {where}\n{printout.listing()}")
        page = printout.pages[0]
        inked = page.inked_rows()
        self.assertTrue(inked, f"{name}: the page is blank; {where}")
        self.assertEqual((inked[0], inked[-1]), (0, page.rows - 1),
                         f"{name}: the page is not trimmed: ink from row {inked[0]} to {inked[-1]} "
                         f"of {page.rows}; {where}")

        page_cut = int(dict(o.split("=") for o in options).get(
            "PageCut", kit.ppd_value(kit.PATHS.ppd(model), "DefaultPageCut") or 0))
        want = expected_tail(model, page_cut)
        self.assertEqual(printout.tail_names(), want,
                         f"{name}: wrong end of page/job (PageCut {page_cut}); {where}")

        png = out + ".png"
        black, red = printout.render(png)
        colour_only = sum(kit.POPCOUNT[c & ~k & 0xFF] for c, k in zip(page.colour, page.black))
        self.assertEqual((black, red), (page.dots("black"), colour_only),
                         f"{name}: the preview picture {self.artefact(png)} shows other dots than the "
                         f"planes read from the bytes (black, red only)")
        self.name, self.where = name, where
        return printout

    # ---- what the fixtures must look like

    def check_pdf_layout(self, page, model, red_in_colour):
        """The PDF fixture: black text, the solid bar and the red text where the
        document puts them, the red text in the colour plane or printed black."""
        boxes = dot_boxes(self.areas, kit.PATHS.ppd(model))
        bx0, _, bx1, _ = boxes["black_rect"]
        bar = solid_rows(page, bx0 + 8, bx1 - 8)
        self.assertTrue(bar, f"{self.name}: no solid black bar; {self.where}")
        bar_rows = bar[-1] - bar[0] + 1
        (_, y0, _, y1), _ = self.areas["black_rect"]
        nominal_rows = (y1 - y0) * kit.DPI / 72
        self.assertLessEqual(abs(bar_rows - nominal_rows), 3,
                             f"{self.name}: the bar is {bar_rows} rows, expected {nominal_rows:.0f}")
        self.assertEqual(len(bar), bar_rows, f"{self.name}: the bar has gaps")

        at = {}
        for name, (x0, dy0, x1, dy1) in boxes.items():
            box = (x0, bar[0] + dy0, x1, bar[0] + dy1)
            at[name] = {"box": box, "black": page.dots("black", box), "colour": page.dots("colour", box)}
        summary = ", ".join(f"{n} {v['black']} black/{v['colour']} colour at {v['box']}" for n, v in at.items())
        msg = f"{self.name}: {summary}; {self.where}"

        (x0, y0, x1, y1), _ = self.areas["black_rect"]
        bar_area = (x1 - x0) * (y1 - y0) * (kit.DPI / 72) ** 2
        self.assertGreaterEqual(at["black_rect"]["black"], 0.97 * bar_area, "the bar is not solid: " + msg)
        self.assertGreater(at["black_text"]["black"], 1000, "the black text is missing: " + msg)
        black_dots = at["black_text"]["black"] + at["black_rect"]["black"]
        black_in_colour = at["black_text"]["colour"] + at["black_rect"]["colour"]
        # Anti-aliased glyph edges may leave a trace of the other colour.
        self.assertLessEqual(black_in_colour, 0.005 * black_dots,
                             "the black areas print in the colour plane: " + msg)
        red = at["red_text"]
        if red_in_colour:
            self.assertGreater(red["colour"], 1000, "the red text is not in the colour plane: " + msg)
            self.assertEqual(red["black"], 0, "the red text has black dots: " + msg)
        else:
            self.assertGreater(red["black"], 1000, "the red text does not print black: " + msg)
            self.assertEqual(red["colour"], 0, "the red text is in the colour plane: " + msg)
        inside = {p: sum(v[p] for v in at.values()) for p in ("black", "colour")}
        self.assertEqual((page.dots("black"), page.dots("colour")), (inside["black"], inside["colour"]),
                         "dots print outside the document's areas: " + msg)
        text_top = at["black_text"]["box"][1]
        red_bottom = at["red_text"]["box"][3]
        self.assertLessEqual(page.rows, red_bottom - max(text_top, 0),
                             f"the page ({page.rows} rows) is taller than its content: " + msg)

    def check_png_layout(self, page, red_in_colour):
        """The PNG fixture (scaled to the paper by the RIP): three solid blocks
        from top to bottom, black, black, red; the red one in the colour plane
        or printed black."""
        runs = ink_runs(page)
        msg = f"{self.name}: ink runs {runs}; {self.where}"
        self.assertEqual(len(runs), 3, "expected three blocks: " + msg)
        order = [name for name, _ in sorted(self.areas.items(), key=lambda a: -a[1][0][3])]
        for (first, last), name in zip(runs, order):
            ink = self.areas[name][1]
            plane = "colour" if ink == "red" and red_in_colour else "black"
            other = "black" if plane == "colour" else "colour"
            cols = [x for x in range(page.bytes_per_row * 8)
                    if page.dots(plane, (x, first, x + 1, last + 1))]
            box = (cols[0], first, cols[-1] + 1, last + 1)
            area = (box[2] - box[0]) * (box[3] - box[1])
            self.assertGreaterEqual(page.dots(plane, box), 0.97 * area,
                                    f"{name} block {box} is not solid in the {plane} plane: " + msg)
            self.assertLessEqual(page.dots(other, box), 0.005 * area,
                                 f"{name} block {box} prints in the {other} plane: " + msg)

    def check_no_colour(self, printout, model):
        """A black page: no second-colour plane was sent, and it went out as the model's black raster."""
        page = printout.pages[0]
        self.assertFalse(page.has_colour, f"{self.name}: a colour plane was sent; {self.where}")
        self.assertFalse(any(c.name == "GS ( L 112" and c.number("c") == 0x32 for c in printout.commands),
                         f"{self.name}: a colour store was sent")
        self.assertEqual(page.sources, {MONO_COMMAND[model]},
                         f"{self.name}: black page sent by {page.sources}\n{printout.listing()}")

    def check_two_colour(self, printout):
        """A black-and-red page: black and colour planes stored and printed together."""
        page = printout.pages[0]
        self.assertTrue(page.has_colour, f"{self.name}: no colour plane was sent\n{printout.listing()}")
        self.assertEqual(page.sources, {"GS ( L 50"}, f"{self.name}: bands sent by {page.sources}")

    # ---- the cases

    def test_pdf_on_two_colour_model(self):
        """Model 31, ColorModel 0 (its default) and 1."""
        for options, red_in_colour in (((), True), (("ColorModel=0",), True), (("ColorModel=1",), False)):
            with self.subTest(options=options):
                printout = self.print_document(31, "black-red-rgb.pdf", options)
                if red_in_colour:
                    self.check_two_colour(printout)
                else:
                    self.check_no_colour(printout, 31)
                self.check_pdf_layout(printout.pages[0], 31, red_in_colour)

    def test_pdf_on_black_only_models(self):
        """Model 41 (compressed raster, line feeds) and model 13 (GS v 0, cut)."""
        for model in (41, 13):
            with self.subTest(model=model):
                printout = self.print_document(model, "black-red-rgb.pdf")
                self.check_no_colour(printout, model)
                self.check_pdf_layout(printout.pages[0], model, red_in_colour=False)

    def test_png(self):
        for model, options, red_in_colour in ((31, ("ColorModel=0",), True), (31, ("ColorModel=1",), False),
                                              (41, (), False)):
            with self.subTest(model=model, options=options):
                printout = self.print_document(model, "black-red.png", options)
                if red_in_colour:
                    self.check_two_colour(printout)
                else:
                    self.check_no_colour(printout, model)
                self.check_png_layout(printout.pages[0], red_in_colour)

    def test_text(self):
        """A plain text file: every line printed, black only, in either ColorModel."""
        with open(kit.PATHS.fixture("receipt.txt")) as f:
            lines = [line for line in f.read().splitlines() if line.strip()]
        for model, options in ((31, ("ColorModel=0",)), (31, ("ColorModel=1",)), (41, ())):
            with self.subTest(model=model, options=options):
                printout = self.print_document(model, "receipt.txt", options)
                page = printout.pages[0]
                runs = ink_runs(page)
                self.assertEqual(len(runs), len(lines),
                                 f"{self.name}: {len(lines)} text lines, {len(runs)} inked bands {runs}; "
                                 f"{self.where}")
                self.assertGreater(page.dots("black"), 1000, f"{self.name}: hardly any text")
                self.assertEqual(page.dots("colour"), 0, f"{self.name}: black text in the colour plane")
                if options == ("ColorModel=1",) or model == 41:
                    self.check_no_colour(printout, model)
                else:
                    self.check_two_colour(printout)

    def test_page_cut_option(self):
        """PageCut 0 on model 31: its two line feeds after the page and six at the
        end of the job in place of the cut."""
        printout = self.print_document(31, "black-red-rgb.pdf", ("PageCut=0",))
        self.check_pdf_layout(printout.pages[0], 31, red_in_colour=True)


if __name__ == "__main__":
    sys.exit(kit.main(__doc__.splitlines()[0]))
