"""Printer Application set up by a shop owner: every page of a printer read
in English and in German (headless Chromium), the IPP printer strings, the
server's memory over 1,000 Get-Printer-Attributes, the test receipt from the
web page and the command line, and a logo uploaded, stored and printed, all
through the real server and virtual printers.
"""
import base64
import html
import os
import re
import struct
import subprocess
import sys
import time
import urllib.parse
import urllib.request
import zlib

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import appkit  # noqa: E402
from app_test import vendor_options  # noqa: E402
from appkit import kit  # noqa: E402

PAGES = ("", "printing", "media", "logo")  # status, printing defaults, media, logo


def catalogue(language):
    """{English: translation} of po/LANGUAGE.po."""
    with open(os.path.join(kit.PATHS.source, "po", f"{language}.po"), encoding="utf-8") as f:
        pairs = re.findall(r'^msgid "(.*)"\nmsgstr "(.*)"$', f.read(), re.M)
    return {k.replace('\\"', '"'): v.replace('\\"', '"') for k, v in pairs if k}


def png_bytes(width, height, colour_of):
    """An RGB PNG whose pixel (x, y) is colour_of(x, y)."""
    rows = b"".join(b"\0" + bytes(c for x in range(width) for c in colour_of(x, y)) for y in range(height))
    chunk = lambda kind, body: (struct.pack(">I", len(body)) + kind + body +  # noqa: E731
                                struct.pack(">I", zlib.crc32(kind + body)))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">2I5B", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


class ShopOwner(kit.ChainTestCase):
    workspace_name = "setup"

    @classmethod
    def set_up_chain(cls):
        # 31: two colours, logos stored as FS q bit images (black);
        # 82: two colours, logos stored by key code, in black and red.
        cls.vp = {m: appkit.VirtualPrinter(cls.ws, f"tlv{m}") for m in (31, 82)}
        for vp in cls.vp.values():
            cls.addClassCleanup(vp.stop)
        cls.app = appkit.App(cls.ws).start()
        cls.addClassCleanup(cls.app.stop)
        cls.uri = {m: cls.app.add(f"tlv{m}", cls.vp[m].uri, f"talvero_tlv{m:03d}") for m in (31, 82)}
        cls.page = os.path.join(cls.ws.path, "page.pwg")
        kit.run([os.path.join(kit.PATHS.build, "tests", "app", "live", "make_raster"), "pwg",
                 "om_80x297mm_80x297mm", "srgb_8", cls.page])

    # ---- helpers

    def get(self, path, data=None, headers=None):
        """The text of an HTTP GET (or POST of `data`) on the server."""
        request = urllib.request.Request(self.app.url(path), data=data, headers=headers or {})
        with urllib.request.urlopen(request, timeout=30) as reply:
            return reply.read().decode()

    def post_form(self, path, fields, files=None):
        """Posts a form of the page at `path` with its CSRF token; returns the reply page."""
        token = re.search(r'name="session" value="([0-9a-f]+)"', self.get(path)).group(1)
        fields = {"session": token, **fields}
        if not files:
            return self.get(path, urllib.parse.urlencode(fields).encode())
        boundary = "talvero-test-boundary"
        parts = [f'--{boundary}\r\nContent-Disposition: form-data; name="{k}"\r\n\r\n{v}\r\n'.encode()
                 for k, v in fields.items()]
        parts += [f'--{boundary}\r\nContent-Disposition: form-data; name="{k}"; filename="{k}.png"\r\n'
                  f"Content-Type: image/png\r\n\r\n".encode() + v + b"\r\n" for k, v in files.items()]
        body = b"".join(parts) + f"--{boundary}--\r\n".encode()
        return self.get(path, body, {"Content-Type": f"multipart/form-data; boundary={boundary}"})

    def print_page(self, model, attributes=()):
        """Prints the test page of make_raster; returns the number of the virtual printer's job."""
        number = self.vp[model].job_count() + 1
        appkit.print_job(self.ws, self.uri[model], self.page, "image/pwg-raster", attributes)
        self.vp[model].wait_job(number)
        return number

    def ink(self, model, number):
        """(black, red) pixels of the virtual printer's picture of job `number`."""
        return kit.png_ink(self.vp[model].job_file(number, "png"))

    # ---- the cases

    def test_every_page_in_english_and_german(self):
        """No page shows an attribute name; the printing defaults label every
        option in the reader's language."""
        options = vendor_options(kit.PATHS.ppd(31))
        names = [*options, "print-color-mode"]
        for lang, texts in (("en", {v: v for v in catalogue("de")}), ("de", catalogue("de"))):
            for page in PAGES:
                with self.subTest(lang=lang, page=page):
                    shot = os.path.join(appkit.ARTEFACTS, f"setup-{lang}-{page or 'status'}.png")
                    dom = appkit.chromium(self.ws, self.app.url(f"/tlv31/{page}"), shot, lang=lang)
                    text = appkit.page_text(dom)
                    self.assertEqual([n for n in names if n in text], [], f"/tlv31/{page} ({lang}): {text[:3000]}")
                    self.assertGreater(os.path.getsize(shot), 10000, f"{shot} looks empty")
                    if page != "printing":
                        continue
                    labels = dict(re.findall(r'<label for="([a-z0-9-]+)">([^<]*):</label>', dom))
                    self.assertEqual(sorted(labels), sorted(options), "one labelled list per option")
                    wrong = {n: html.unescape(t) for n, t in labels.items()
                             if html.unescape(t) != texts[options[n]]}
                    self.assertEqual(wrong, {}, f"labels not in {lang}")

    def test_printer_strings_and_memory(self):
        """IPP clients get the labels in their language; the strings languages
        come once, and 1,000 requests do not make the server grow."""
        de = catalogue("de")

        def requests(name, count, requested=""):
            """An ipptool file of `count` German Get-Printer-Attributes (of the `requested` ones, or all)."""
            path = self.ws.join(name)
            with open(path, "w") as f:
                f.write(('{\n OPERATION Get-Printer-Attributes\n GROUP operation-attributes-tag\n'
                         ' ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language de\n'
                         ' ATTR uri printer-uri $uri\n' +
                         (f" ATTR keyword requested-attributes {requested}\n" if requested else "") +
                         ' STATUS successful-ok\n}\n') * count)
            return path
        test = requests("strings.test", 1)
        status, out = appkit.ipptool(self.uri[31], test, "-tv")
        self.assertEqual(status, 0, out[-2000:])
        self.assertEqual(out.count("printer-strings-languages-supported ("), 1, out[-3000:])
        url = re.search(r"printer-strings-uri \(uri\) = (\S+)", out).group(1)
        strings = dict(re.findall(r'^"([^"]+)" = "([^"]*)";$', self.get(urllib.parse.urlparse(url).path), re.M))
        for name, label in vendor_options(kit.PATHS.ppd(31)).items():
            self.assertEqual(strings.get(name), de[label], name)
        self.assertEqual(strings.get("page-cut.cut"), de["Cut after each receipt"])
        # `talvero-printer-app options` lists them too, in the environment's language.
        proc = subprocess.run([self.app.binary, "options", "-u", self.uri[31]], capture_output=True, timeout=60,
                              env=dict(self.app.env, LANG="de_DE.UTF-8"), **self.app.ids)
        listed = proc.stdout.decode()
        self.assertEqual(proc.returncode, 0, proc.stderr.decode()[-2000:])
        self.assertEqual([n for n, label in vendor_options(kit.PATHS.ppd(31)).items()
                          if f"\n  {de[label]}:\n" not in listed], [], listed)
        self.assertRegex(listed, rf"-o page-cut=cut +{re.escape(de['Cut after each receipt'])} \({de['default']}\)")

        def rss_after(count):
            """The server's resident memory (kB) after `count` more requests (of the attributes PAPPL
            1.3.1 added to the printer on each), each answered well."""
            repeated = requests(f"strings-{count}.test", count, "printer-strings-uri,printer-strings-languages-supported")
            appkit.ipptool(self.uri[31], repeated, "-t", timeout=300, check=True)
            with open(f"/proc/{self.app.proc.pid}/status") as f:
                return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))
        after10 = rss_after(10)
        after1000 = rss_after(1000)
        print(f"server RSS: {after10} kB after 10 Get-Printer-Attributes, {after1000} kB after 1,010", file=sys.stderr)
        self.assertLessEqual(after1000, after10 * 1.10, f"RSS {after10} kB after 10 requests, {after1000} after 1,010")
        status, out = appkit.ipptool(self.uri[31], test, "-tv")
        self.assertEqual(out.count("printer-strings-languages-supported ("), 1, "repeated after 1,010 requests")

    def test_test_receipt_from_the_web_page_and_the_command_line(self):
        """"Print Test Page" and `testpage` print the model's receipt: the
        ruler's end bars at both edges of the printable width, red and black."""
        number = self.vp[31].job_count() + 1
        self.post_form("/tlv31/", {"action": "print-test-page"})
        self.vp[31].wait_job(number)
        args = [self.app.binary, "testpage", "-u", self.uri[31]]
        proc = subprocess.run(args, capture_output=True, env=self.app.env, timeout=60, **self.app.ids)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode())
        for job in (number, number + 1):
            out = self.vp[31].wait_job(job)
            page = out.pages[0]
            self.assertEqual(page.bytes_per_row, 72, out.listing())
            # Each end bar is 3 dots wide and 48 rows high.
            self.assertGreaterEqual(page.dots("black", (0, 0, 3, page.rows)), 144, "left ruler bar")
            self.assertGreaterEqual(page.dots("black", (573, 0, 576, page.rows)), 144, "right ruler bar")
            self.assertGreater(page.dots("colour"), 10000, "red sample")
            appkit.keep(self.vp[31].job_file(job, "png"), f"test-receipt-{job - number + 1}.png")

    def test_logo_uploaded_stored_and_printed(self):
        """A PNG uploaded on the Logo page is shown as it will print, stored
        with the model's command, and printed by a later job: the job's picture
        has exactly the preview's dots more than the same job without logo."""
        picture = png_bytes(240, 96, lambda x, y: (0, 0, 0) if x < 120 else (230, 0, 0))
        for model, command, red in ((82, "GS ( L 67", True), (31, "FS q", False)):
            with self.subTest(model=model):
                reply = self.post_form(f"/tlv{model}/logo", {"action": "upload"}, {"logo": picture})
                preview = re.search(r'src="data:image/png;base64,([^"]+)"', reply)
                self.assertIsNotNone(preview, appkit.page_text(reply)[:2000])
                shown = self.ws.join(f"logo-{model}.png")
                with open(shown, "wb") as f:
                    f.write(base64.b64decode(preview.group(1)))
                black, colour = kit.png_ink(shown)
                self.assertGreater(black, 5000)
                self.assertEqual(colour > 5000, red, "red kept only where the model stores it")
                number = self.vp[model].job_count() + 1
                self.post_form(f"/tlv{model}/logo", {"action": "store", "slot": "2"})
                stored = self.vp[model].wait_job(number)
                self.assertEqual([c.name for c in stored.commands], [command], stored.listing())
                appkit.set_printer_defaults(self.ws, self.uri[model], [
                    ("keyword", "logo-position-default", "before"), ("keyword", "logo-image-default", "logo-2")])
                with_logo = self.print_page(model)
                without = self.print_page(model, [("keyword", "logo-position", "none")])
                appkit.keep(self.vp[model].job_file(with_logo, "png"), f"logo-printed-tlv{model}.png")
                (k1, r1), (k0, r0) = self.ink(model, with_logo), self.ink(model, without)
                self.assertEqual((k1 - k0, r1 - r0), (black, colour), "the logo's dots in the job's picture")
                self.assertIn("Logo 2", appkit.page_text(self.get(f"/tlv{model}/logo")))


if __name__ == "__main__":
    sys.exit(appkit.main(__doc__.splitlines()[0]))
