#!/usr/bin/env python3
"""The sample receipt from every client, within the print head, red kept in black.

talvero-printer-app prints to talvero-virtual-printer devices: model 31
(black and red) and model 41 (black only), each with an 80 mm roll (576-dot
head) and a 58 mm roll (384 dots), added with their drivers. The sample
receipt (samples/receipt.pdf at 203 dpi) is sent as PNG, JPEG and sRGB PWG
raster with ipptool, and as PDF through a private cupsd's driverless queue
(lp, colour and print-color-mode=monochrome). Each printout is no wider
than the head and shows every line of the receipt where the document has
it, right-aligned prices included (same lines, same left and right ends
after scaling); in black, at least 95 % of the dots each red line printed
in red print black, and no more than 110 % (the text stays text). Then
hostile pictures each end their own job only: the server prints the
receipt again byte for byte.

Run by CTest (label app), or directly:
  receipt_fit_test.py --app APP --artefacts DIR --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import os
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


def ppm(path):
    """(width, height, RGB bytes) of a binary P6 picture."""
    with open(path, "rb") as f:
        data = f.read()
    magic, width, height, depth, pixels = data.split(maxsplit=4)
    return int(width), int(height), pixels


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


def extent(acc, width):
    """(first, end) of the non-zero bytes of the `width`-byte big-endian integer `acc`."""
    data = acc.to_bytes(width, "big")
    return len(data) - len(data.lstrip(b"\0")), len(data.rstrip(b"\0"))


def source_lines(path):
    """The receipt's lines in a picture: [(x0, x1, red)] top to bottom; red when most inked dots are red."""
    width, height, px = ppm(path)
    stride = 3 * width
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
        lines.append((*extent(acc, width), red > ink // 2))
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
        tool = os.path.join(kit.PATHS.build, "tests", "app", "live", "make_raster")
        for width, picture in ((80, base + ".ppm"), (58, base + "58.ppm")):
            kit.run([tool, "pwg", MEDIA[width], "srgb_8", f"{base}{width}.pwg", "1", picture])
        cls.docs = {("png", w): (base + ".png", "image/png", base + ".ppm") for w in HEAD}
        cls.docs.update({("jpeg", w): (base + ".jpg", "image/jpeg", base + ".ppm") for w in HEAD})
        cls.docs.update({("pwg", w): (f"{base}{w}.pwg", "image/pwg-raster", base + (".ppm" if w == 80 else "58.ppm"))
                         for w in HEAD})
        cls.lines = {path: source_lines(path) for path in (base + ".ppm", base + "58.ppm")}
        cls.receipt = receipt

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
        for (kind, width), (doc, fmt, picture) in self.docs.items():
            source = self.lines[picture]
            reduced = kind != "pwg" and width == 58
            scale = HEAD[58] / (max(x[1] for x in source) - min(x[0] for x in source)) if reduced else 1.0
            reference = None
            for model, attributes, name in ((31, [COLOUR], "colour"), (31, [MONO], "monochrome"), (41, [], "black-only")):
                what = f"{kind} on {width} mm, model {model} {name}"
                with self.subTest(what):
                    key = (model, width)
                    out = self.read_next(key, lambda: appkit.print_job(self.ws, self.uri[key], doc, fmt, attributes))
                    printed = self.check_receipt(out, width, source, what, scale)
                    if reference is None:
                        reference = printed
                    self.check_red(printed, reference, source, what) if printed is not reference else None

    def test_driverless_cups_queue(self):
        serverbin = kit.make_serverbin(self.ws.mkdir("serverbin"), {})
        cupsd = kit.Cupsd(self.ws.mkdir("cupsd"), serverbin, kit.datadir()).start()
        self.addCleanup(cupsd.stop)
        for (model, width), uri in self.uri.items():
            cupsd.lpadmin("-p", f"q{model}_{width}", "-E", "-v", uri, "-m", "everywhere")
        source = self.lines[self.receipt.replace(".pdf", "")] if False else self.lines[self.ws.join("receipt.ppm")]
        for width in (80, 58):
            reference = None
            # CUPS renders print-color-mode=monochrome in grey, so only the
            # default of the black-only model (auto: colour pages) keeps red.
            for model, options, red_check in ((31, ["print-color-mode=color"], False), (41, [], True),
                                              (31, ["print-color-mode=monochrome"], False),
                                              (41, ["print-color-mode=monochrome"], False)):
                what = f"lp {options} on {width} mm, model {model}"
                with self.subTest(what):
                    queue = f"q{model}_{width}"
                    kit.wait_for(lambda: "ColorModel" in kit.run(["lpoptions", "-h", cupsd.host, "-p", queue, "-l"],
                                                                 check=False).stdout.decode(), 30, "the queue's PPD")

                    def send():
                        cupsd.wait_job(cupsd.lp(queue, self.receipt, *options), timeout=90)
                    out = self.read_next((model, width), send)
                    printed = self.check_receipt(out, width, source, what, 1.0 if width == 80 else None)
                    reference = reference or printed
                    if red_check:
                        self.check_red(printed, reference, source, what)

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
        with open(receipt, "rb") as f:
            whole_png = f.read()
        with open(self.docs["jpeg", 80][0], "rb") as f:
            whole_jpeg = f.read()
        cases = [("1 x 2374 PNG", png(1, 2374), "image/png", None),
                 ("5000 x 1 PNG", png(5000, 1), "image/png", None),
                 ("1 x 3000 JPEG", open(thin, "rb").read(), "image/jpeg", None),
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
