#!/usr/bin/env python3
"""The sample receipt from every client, within the print head, red kept in black.

Models 31 (black and red) and 41 (black only), each on an 80 mm and a 58 mm
roll, print to talvero-virtual-printer. The receipt goes as PNG, JPEG and
sRGB PWG raster (ipptool) and as PDF to CUPS driverless queues (lp). Each
printout: no wider than the head, every line of the receipt with its left
and right ends where the picture has them; in black, 95 % of the red dots
black and the text still text. Hostile pictures end their own job only.
See docs/development.md; run by CTest (label app) or with
  receipt_fit_test.py --app APP --artefacts DIR --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import os
import pathlib
import re
import struct
import sys
import urllib.request
import zlib

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import appkit  # noqa: E402
from appkit import kit  # noqa: E402

HEAD = {80: 576, 58: 384}
MEDIA = {80: "om_80x297mm_80x297mm", 58: "om_58x297mm_58x297mm"}
COLOUR, MONO = ("keyword", "print-color-mode", "color"), ("keyword", "print-color-mode", "monochrome")


def groups(rows):
    """[(y0, y1)] of the runs of inked rows (gaps of two rows bridged), `rows` the inked row indexes."""
    out = []
    for y in rows:
        if out and y <= out[-1][1] + 3:  # a dithered line may leave a row or two blank
            out[-1][1] = y
        else:
            out.append([y, y])
    return [(a, b + 1) for a, b in out]


DARK = bytes(1 if v < 128 else 0 for v in range(256))


def source_lines(path):
    """The receipt's lines in a P6 picture: [(x0, x1, red)] top to bottom; red when most inked dots are red."""
    with open(path, "rb") as f:
        _, width, height, _, px = f.read().split(maxsplit=4)
    width, height, stride = int(width), int(height), 3 * int(width)
    dark = [y for y in range(height) if min(px[y * stride:(y + 1) * stride]) < 128]
    lines = []
    for y0, y1 in groups(dark):
        acc = red = ink = 0
        for y in range(y0, y1):
            r = int.from_bytes(px[y * stride:(y + 1) * stride:3].translate(DARK), "big")
            g = int.from_bytes(px[y * stride + 1:(y + 1) * stride:3].translate(DARK), "big")
            acc |= r | g
            ink += bin(r | g).count("1")
            red += bin(g & ~r).count("1")
        row = acc.to_bytes(width, "big")
        lines.append((width - len(row.lstrip(b"\0")), len(row.rstrip(b"\0")), red > ink // 2))
    return lines


def printed_lines(page):
    """[(y0, y1, x0, x1)] of the printed lines of a Page, x in dots."""
    out, bpr = [], page.bytes_per_row
    for y0, y1 in groups(page.inked_rows()):
        acc = 0
        for plane in (page.black, page.colour):
            for y in range(y0, y1):
                acc |= int.from_bytes(plane[y * bpr:(y + 1) * bpr], "big")
        bits = bin(acc)[2:].zfill(bpr * 8)
        out.append((y0, y1, bits.index("1"), bits.rindex("1") + 1))
    return out


def png(width, height, idat=None):
    """A white 8-bit grey PNG, or one whose image data is `idat`."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    if idat is None:
        packer = zlib.compressobj(9)
        row = b"\0" + b"\xff" * width
        idat = b"".join(packer.compress(row) for _ in range(height)) + packer.flush()
    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", idat) + chunk(b"IEND", b"")


class Receipts(kit.ChainTestCase):
    workspace_name = "app-receipts"

    @classmethod
    def set_up_chain(cls):
        ws = cls.ws
        keys = [(m, w) for m in (31, 41) for w in (80, 58)]
        cls.vp = {k: appkit.VirtualPrinter(ws, f"tlv{k[0]}-{k[1]}", width=HEAD[k[1]]) for k in keys}
        for vp in cls.vp.values():
            cls.addClassCleanup(vp.stop)
        cls.app = appkit.App(ws).start()
        cls.addClassCleanup(cls.app.stop)
        cls.uri = {k: cls.app.add(f"tlv{k[0]}_{k[1]}", cls.vp[k].uri, f"talvero_tlv{k[0]:03d}" + ("_58mm" if k[1] == 58 else ""))
                   for k in keys}
        receipt = os.path.join(kit.PATHS.source, "samples", "receipt.pdf")
        base = ws.join("receipt")
        kit.run(["pdftoppm", "-r", "203", "-singlefile", receipt, base])
        kit.run(["pdftoppm", "-scale-to-x", str(HEAD[58]), "-scale-to-y", "-1", "-singlefile", receipt, base + "58"])
        for kind in ("png", "jpeg"):
            kit.run(["pdftoppm", f"-{kind}", "-r", "203", "-singlefile", receipt, base])
        # PWG raster as a client lays the receipt out: 1 : 1 on 80 mm, on the
        # head's 384 dots (scaled by 0.6, 14.19 pt in) on 58 mm.
        for width, dots, install in ((80, 639, ""), (58, 464, "14.19 0 translate 0.6 0.6 scale")):
            kit.run(["gs", "-q", "-sDEVICE=pwgraster", "-dcupsColorSpace=19", "-dcupsBitsPerColor=8", "-r203",
                     f"-g{dots}x2374", "-dFIXEDMEDIA", "-o", f"{base}{width}.pwg",
                     "-c", f"<</Install {{{install}}}>> setpagedevice", "-f", receipt])
        lines = {80: source_lines(base + ".ppm"), 58: source_lines(base + "58.ppm")}
        cls.docs = {(kind, w): (base + suffix, fmt, lines[80]) for kind, suffix, fmt in
                    (("png", ".png", "image/png"), ("jpeg", ".jpg", "image/jpeg")) for w in HEAD}
        cls.docs.update({("pwg", w): (f"{base}{w}.pwg", "image/pwg-raster", lines[w]) for w in HEAD})
        cls.receipt, cls.receipt_lines = receipt, lines[80]

    def read_next(self, key, send):
        """Runs `send`, then returns the Printout of the next job printer `key` gets."""
        number = self.vp[key].job_count() + 1
        send()
        return self.vp[key].wait_job(number)

    def check_receipt(self, out, width, source, what, scale=None):
        """One page, no wider than the head, with each line of `source` where the
        document has it (left and right ends, after scaling). Returns (page, lines)."""
        self.assertEqual(len(out.pages), 1, f"{what}: pages\n{out.listing()}")
        page = out.pages[0]
        self.assertLessEqual(page.bytes_per_row * 8, HEAD[width], f"{what}: wider than the head")
        self.assertEqual(out.warnings, "", f"{what}: the previewer warns")
        lines = printed_lines(page)
        self.assertEqual(len(lines), len(source), f"{what}: printed lines {lines}")
        sx0, sx1 = min(x[0] for x in source), max(x[1] for x in source)
        px0, px1 = min(x[2] for x in lines), max(x[3] for x in lines)
        found = (px1 - px0) / (sx1 - sx0)
        if scale is not None:
            self.assertAlmostEqual(found, scale, delta=0.02, msg=f"{what}: scale")
        for (x0, x1, _), (y0, y1, p0, p1) in zip(source, lines):
            for want, got in ((x0, p0), (x1, p1)):
                self.assertLess(abs(got - px0 - found * (want - sx0)), 4 + HEAD[width] // 100,
                                f"{what}: the line at rows {y0}-{y1} spans {p0}-{p1}")
        return page, lines

    def check_red(self, printed, reference, source, what):
        """Each red line of `source` prints red in `reference`; in `printed`, at
        least 95 % of those red dots print black, and the line has at most 110 %
        of the reference's dots (its text stays text)."""
        (ref, ref_lines), (page, lines) = reference, printed
        bpr = page.bytes_per_row
        for i, (_, _, red) in enumerate(source):
            if not red:
                continue
            (r0, r1), y0 = ref_lines[i][:2], lines[i][0]
            reds = kept = 0
            for y in range(r0, r1):
                row = int.from_bytes(ref.colour[y * bpr:(y + 1) * bpr], "big")
                mono = int.from_bytes(page.black[(y - r0 + y0) * bpr:(y - r0 + y0 + 1) * bpr], "big")
                reds += bin(row).count("1")
                kept += bin(row & mono).count("1")
            box = lambda a, b: (0, a, 8 * bpr, b)  # noqa: E731
            dots = ref.dots("black", box(r0, r1)) + reds
            self.assertGreater(reds, 0.6 * dots, f"{what}: line {i} is not red in colour")
            self.assertGreaterEqual(kept, 0.95 * reds, f"{what}: red line {i}: {kept} of {reds} red dots black")
            self.assertLessEqual(page.dots("black", box(*lines[i][:2])), 1.10 * dots, f"{what}: red line {i} filled in")
            self.assertEqual(page.dots("colour", box(*lines[i][:2])), 0, f"{what}: red dots in black")

    def test_documents_from_ipptool(self):
        for (kind, width), (doc, fmt, source) in self.docs.items():
            reduced = kind != "pwg" and width == 58
            scale = HEAD[58] / (max(x[1] for x in source) - min(x[0] for x in source)) if reduced else 1.0
            reference = None
            for model, attributes, name in ((31, [COLOUR], "colour"), (31, [MONO], "monochrome"), (41, [], "black-only")):
                what = f"{kind} on {width} mm, model {model} {name}"
                with self.subTest(what):
                    key = (model, width)
                    out = self.read_next(key, lambda: appkit.print_job(self.ws, self.uri[key], doc, fmt, attributes))
                    printed = self.check_receipt(out, width, source, what, scale)
                    if reference:
                        self.check_red(printed, reference, source, what)
                    reference = reference or printed

    def test_driverless_cups_queue(self):
        serverbin = kit.make_serverbin(self.ws.mkdir("serverbin"), {})
        cupsd = kit.Cupsd(self.ws.mkdir("cupsd"), serverbin, kit.datadir()).start()
        self.addCleanup(cupsd.stop)
        for (model, width), uri in self.uri.items():
            cupsd.lpadmin("-p", f"q{model}_{width}", "-E", "-v", uri, "-m", "everywhere")
        source = self.receipt_lines
        for width in (80, 58):
            reference = None
            # CUPS renders print-color-mode=monochrome in grey: only the black-only
            # model's default (auto: colour pages) keeps red apart.
            for model, options in ((31, ["print-color-mode=color"]), (41, []), (31, ["print-color-mode=monochrome"]),
                                   (41, ["print-color-mode=monochrome"])):
                what = f"lp {options} on {width} mm, model {model}"
                with self.subTest(what):
                    queue = f"q{model}_{width}"
                    kit.wait_for(lambda: "ColorModel" in kit.run(["lpoptions", "-h", cupsd.host, "-p", queue, "-l"],
                                                                 check=False).stdout.decode(), 30, "the queue's PPD")
                    out = self.read_next((model, width), lambda: cupsd.wait_job(
                        cupsd.lp(queue, self.receipt, *options), timeout=90))
                    printed = self.check_receipt(out, width, source, what, 1.0 if width == 80 else None)
                    if model == 41 and not options and reference:
                        self.check_red(printed, reference, source, what)
                    reference = reference or printed

    def test_roll_is_ready_and_default(self):
        """Each driver's roll is the ready and default media, with the PPD's margins; the media
        page lists no two sizes alike; a roll made ready over IPP becomes the default."""
        def media(key):
            found = appkit.printer_attributes(self.uri[key])
            margin = re.search(r"media-left-margin=(\d+)", found["media-col-ready"]).group(1)
            return found["media-ready"], found["media-default"], int(margin)
        for (model, width), uri in self.uri.items():
            self.assertEqual(media((model, width)), (MEDIA[width], MEDIA[width], {80: 397, 58: 498}[width]))
            page = urllib.request.urlopen(self.app.url(f"/tlv{model}_{width}/media"), timeout=30).read().decode()
            labels = re.findall(r"<option value=\"[^\"]*\"[^>]*>([^<]*)</option>", page.split("ready0-size")[1].split("</select>")[0])
            self.assertEqual(len(labels), len(set(labels)), f"the media page lists {labels}")
        key = (41, 80)
        appkit.set_printer_defaults(self.ws, self.uri[key], [("keyword", "media-ready", MEDIA[58])])
        try:
            kit.wait_for(lambda: media(key) == (MEDIA[58], MEDIA[58], 498), 10, "the 58 mm roll as ready and default")
        finally:
            appkit.set_printer_defaults(self.ws, self.uri[key], [("keyword", "media-ready", MEDIA[80])])

    def test_hostile_pictures(self):
        """Each ends its own job (refused with its reason, or printed); the server then prints the receipt again alike."""
        key, (receipt, _, _) = (31, 80), self.docs["png", 80]
        first = self.read_next(key, lambda: appkit.print_job(self.ws, self.uri[key], receipt, "image/png")).data
        thin = self.ws.join("thin.jpg")
        kit.run(["gs", "-q", "-sDEVICE=jpeg", "-g1x3000", "-o", thin, "-c", "showpage"])
        whole_png, whole_jpeg, thin = (pathlib.Path(p).read_bytes() for p in (receipt, self.docs["jpeg", 80][0], thin))
        cases = [("1 x 2374 PNG", png(1, 2374), "image/png", None),
                 ("5000 x 1 PNG", png(5000, 1), "image/png", None),
                 ("1 x 3000 JPEG", thin, "image/jpeg", None),
                 ("17000 x 1 PNG", png(17000, 1), "image/png", None),
                 ("1 x 20000 PNG", png(1, 20000), "image/png", None),
                 ("40000 x 40000 PNG in 60 bytes", png(40000, 40000, zlib.compress(b"\0")), "image/png", "at most"),
                 ("decompression bomb, 8000 x 8000 PNG", png(8000, 8000), "image/png", None),
                 ("truncated PNG", whole_png[:len(whole_png) // 2], "image/png", "cut short"),
                 ("truncated JPEG", whole_jpeg[:len(whole_jpeg) // 2], "image/jpeg", "cut short"),
                 ("JPEG sent as PNG", whole_jpeg, "image/png", "cut short")]
        for name, data, fmt, refusal in cases:
            with self.subTest(name):
                path = self.ws.join("hostile")
                with open(path, "wb") as f:
                    f.write(data)
                job = appkit.print_job(self.ws, self.uri[key], path, fmt)
                get = [("integer", "job-id", job), ("keyword", "requested-attributes", "all")]
                state = {}
                kit.wait_for(lambda: state.update(appkit.run_test(
                    self.ws, self.uri[key], "job", "Get-Job-Attributes", {"operation-attributes-tag": get}))
                    or state.get("job-state") in ("completed", "aborted"), 30, f"{name}: the job to end")
                self.assertEqual(state["job-state"], "aborted" if refusal else "completed", f"{name}: {state}")
                self.assertIn(refusal or "", state.get("job-state-message", ""), name)
                self.assertIsNone(self.app.proc.poll(), f"{name}: the server died")
        again = self.read_next(key, lambda: appkit.print_job(self.ws, self.uri[key], receipt, "image/png")).data
        self.assertTrue(again == first, "the receipt printed differently after the hostile pictures")


if __name__ == "__main__":
    sys.exit(appkit.main(__doc__.splitlines()[0]))
