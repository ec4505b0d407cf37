#!/usr/bin/env python3
"""Checks the black and red planes that the real CUPS chain delivers.

Runs `cupsfilter -e` with our PPDs on the documents in tests/fixtures/chain,
which is the chain cupsd runs (pdftopdf, the RIP, our prefilter
rastertoTalveroPlanes), with a "dump" filter standing in for rastertoTalvero
so that the raster it would read is captured. raster-stats then counts the
dots of each plane inside the known areas of the page:

  ColorModel 0 (black and red): in the black areas at most 0.5% of the black
      dots may also show in the colour plane, the black areas are solidly
      black, the red text is in the colour plane only, nothing prints
      outside the areas;
  ColorModel 1 (black), and black-only models: 1-bit black, text intact,
      red printed black.

cupsfilter runs only filters that are root-owned and not group or world
writable, from the ServerBin named in its cups-files.conf; the check builds
such a ServerBin under --work (links to /usr/lib/cups/filter, a copy of the
prefilter, the dump filter).

--baseline also measures the RIPs' own 1-bit output without the prefilter
(gstoraster through cupsfilter, pdftoraster run directly), for comparison.

Prints one line per case and ends with "N passed, M failed".
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

DPI = 203
DUMP_FILTER = """#!/bin/sh
# Stands in for rastertoTalvero: passes the raster it is given through.
if [ -n "$6" ]; then exec cat "$6"; fi
exec cat
"""


class Checker:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def expect(self, condition, what):
        if condition:
            self.passed += 1
        else:
            self.failed += 1
            print(f"    FAILED: {what}")


def load_areas(fixtures):
    """AREAS and the page height from make_fixtures.py."""
    sys.path.insert(0, fixtures)
    import make_fixtures  # noqa: E402
    return make_fixtures.AREAS, make_fixtures.PAGE_H


def imageable_left(ppd_path, size="80x297mm"):
    """Left edge of the imageable area of `size` in points."""
    with open(ppd_path, encoding="latin-1") as f:
        for line in f:
            m = re.match(r'\*ImageableArea %s[/:].*"([\d.]+) ' % re.escape(size), line)
            if m:
                return float(m.group(1))
    raise SystemExit(f"no ImageableArea for {size} in {ppd_path}")


def boxes_in_dots(areas, page_h, left, pad=4):
    """--box arguments for each area, in raster dots, `pad` dots wider."""
    boxes = {}
    for name, ((x0, y0, x1, y1), _) in areas.items():
        dx0 = max(0, round((x0 - left) * DPI / 72) - pad)
        dx1 = round((x1 - left) * DPI / 72) + pad
        dy0 = max(0, round((page_h - y1) * DPI / 72) - pad)
        dy1 = round((page_h - y0) * DPI / 72) + pad
        boxes[name] = (dx0, dy0, dx1, dy1)
    return boxes


def make_serverbin(work, prefilter):
    sb = os.path.join(work, "serverbin")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(sb, "filter"))
    os.makedirs(os.path.join(work, "serverroot"))
    for name in os.listdir("/usr/lib/cups/filter"):
        os.symlink(os.path.join("/usr/lib/cups/filter", name), os.path.join(sb, "filter", name))
    shutil.copy(prefilter, os.path.join(sb, "filter", "rastertoTalveroPlanes"))
    dump = os.path.join(sb, "filter", "rastertoTalvero")
    with open(dump, "w") as f:
        f.write(DUMP_FILTER)
    for path in (work, sb, os.path.join(sb, "filter"), dump,
                 os.path.join(sb, "filter", "rastertoTalveroPlanes")):
        os.chmod(path, 0o755)
    conf = os.path.join(work, "cups-files.conf")
    with open(conf, "w") as f:
        f.write(f"ServerBin {sb}\nServerRoot {work}/serverroot\nDataDir /usr/share/cups\n")
    return conf


def stats(raster_stats, raster, boxes):
    """Parses raster-stats output: {"header": {...}, box name: {...}} per page 1."""
    cmd = [raster_stats]
    for name, (x0, y0, x1, y1) in boxes.items():
        cmd += ["--box", f"{name}:{x0},{y0},{x1},{y1}"]
    out = subprocess.run(cmd + [raster], capture_output=True, text=True)
    if out.returncode != 0:
        return None
    result = {}
    for line in out.stdout.splitlines():
        fields = dict(kv.split("=", 1) for kv in line.split())
        if fields.get("page") != "1":
            continue
        key = fields.pop("box", "header")
        result[key] = {k: (int(v) if v.isdigit() else v) for k, v in fields.items()}
    return result


def run_cupsfilter(args, conf, ppd, source, options, out_path):
    cmd = [args.cupsfilter, "-c", conf, "-e", "-p", ppd, "-m", "printer/talvero"]
    for opt in options:
        cmd += ["-o", opt]
    with open(out_path, "wb") as out:
        proc = subprocess.run(cmd + [source], stdout=out, stderr=subprocess.PIPE, text=True)
    return proc.returncode, proc.stderr


def box_total(s, names, key):
    return sum(s[n][key] for n in names)


def check_two_colour(c, s, areas, label):
    black_areas = [n for n, (_, ink) in areas.items() if ink == "black"]
    red_areas = [n for n, (_, ink) in areas.items() if ink == "red"]
    k = box_total(s, black_areas, "black")
    both = box_total(s, black_areas, "colour")
    red_colour = box_total(s, red_areas, "colour")
    red_black = box_total(s, red_areas, "black")
    share = 100.0 * both / k if k else 100.0
    print(f"  {label}: black areas {k} dots, {both} in the colour plane ({share:.3f}%); "
          f"red text {red_colour} colour dots, {red_black} black dots; "
          f"page {s['all']['black']} black / {s['all']['colour']} colour")
    c.expect(s["header"]["layout"] == "cmyk-banded", f"{label}: banded CMYK page")
    rect = s["black_rect"]
    (x0, y0, x1, y1), _ = areas["black_rect"]
    nominal = (x1 - x0) * (y1 - y0) * (DPI / 72) ** 2
    c.expect(rect["black"] >= 0.97 * nominal, f"{label}: the black rectangle is solid")
    c.expect(share <= 0.5, f"{label}: at most 0.5% of black-area dots in the colour plane")
    c.expect(red_colour > 1000, f"{label}: the red text is in the colour plane")
    c.expect(red_black == 0, f"{label}: the red text has no black dots")
    c.expect(s["all"]["black"] == k and s["all"]["colour"] == red_colour + both,
             f"{label}: nothing prints outside the areas")


def check_black(c, s, areas, label):
    print(f"  {label}: " + ", ".join(f"{n} {s[n]['black']} black" for n in areas) +
          f"; layout {s['header']['layout']}")
    c.expect(s["header"]["layout"] == "mono" and s["header"]["colorSpace"] == 3,
             f"{label}: 1-bit black page")
    rect = s["black_rect"]
    (x0, y0, x1, y1), _ = areas["black_rect"]
    nominal = (x1 - x0) * (y1 - y0) * (DPI / 72) ** 2
    c.expect(rect["black"] >= 0.97 * nominal, f"{label}: the black rectangle is solid")
    c.expect(s["black_text"]["black"] > 1000, f"{label}: the black text prints")
    c.expect(s["red_text"]["black"] > 1000, f"{label}: the red text prints black")
    c.expect(s["all"]["black"] == box_total(s, areas, "black"),
             f"{label}: nothing prints outside the areas")


def check_png(c, s, label, two_colour):
    all_ = s["all"]
    print(f"  {label}: {all_['black']} black / {all_['colour']} colour / {all_['both']} both, "
          f"blackBox {all_.get('blackBox')} colourBox {all_.get('colourBox')}")
    if two_colour:
        c.expect(s["header"]["layout"] == "cmyk-banded", f"{label}: banded CMYK page")
        c.expect(all_["colour"] > 1000 and all_["black"] > 1000, f"{label}: both planes print")
        # The red block lies below both black blocks.
        bottom_of_black = int(all_["blackBox"].split(",")[3])
        top_of_colour = int(all_["colourBox"].split(",")[1])
        c.expect(top_of_colour >= bottom_of_black, f"{label}: red and black do not mix")
    else:
        c.expect(s["header"]["layout"] == "mono", f"{label}: 1-bit black page")
        c.expect(all_["black"] > 1000, f"{label}: the page prints")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cupsfilter", default="/usr/sbin/cupsfilter")
    p.add_argument("--prefilter", required=True)
    p.add_argument("--raster-stats", required=True)
    p.add_argument("--ppd-dir", required=True)
    p.add_argument("--fixtures", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--baseline", action="store_true")
    args = p.parse_args()

    areas, page_h = load_areas(args.fixtures)
    conf = make_serverbin(args.work, args.prefilter)
    two_colour_ppd = os.path.join(args.ppd_dir, "tlv031.ppd")
    black_ppd = os.path.join(args.ppd_dir, "tlv010.ppd")
    boxes = boxes_in_dots(areas, page_h, imageable_left(two_colour_ppd))
    raster = os.path.join(args.work, "out.ras")
    c = Checker()

    def run(ppd, source, options, label):
        status, err = run_cupsfilter(args, conf, ppd, os.path.join(args.fixtures, source),
                                     options, raster)
        c.expect(status == 0, f"{label}: cupsfilter exits 0")
        c.expect("rastertoTalveroPlanes" in err, f"{label}: the prefilter ran")
        if status != 0:
            print(err[-2000:])
            return None
        s = stats(args.raster_stats, raster, boxes)
        c.expect(s is not None, f"{label}: raster-stats reads the raster")
        return s

    print("through the prefilter:")
    for pdf in ("black-red-gray.pdf", "black-red-rgb.pdf", "black-red-cmyk.pdf"):
        s = run(two_colour_ppd, pdf, [], f"{pdf} ColorModel 0")
        if s:
            check_two_colour(c, s, areas, f"{pdf} ColorModel 0")
        s = run(two_colour_ppd, pdf, ["ColorModel=1"], f"{pdf} ColorModel 1")
        if s:
            check_black(c, s, areas, f"{pdf} ColorModel 1")
        s = run(black_ppd, pdf, [], f"{pdf} black-only model 10")
        if s:
            check_black(c, s, areas, f"{pdf} black-only model 10")
    for cm in ("0", "1"):
        s = run(two_colour_ppd, "black-red.png", [f"ColorModel={cm}"], f"PNG ColorModel {cm}")
        if s:
            check_png(c, s, f"PNG ColorModel {cm}", cm == "0")
        s = run(two_colour_ppd, "receipt.txt", [f"ColorModel={cm}"], f"text ColorModel {cm}")
        if s:
            all_ = s["all"]
            print(f"  text ColorModel {cm}: {all_['black']} black / {all_['colour']} colour")
            c.expect(all_["black"] > 1000 and all_["colour"] == 0,
                     f"text ColorModel {cm}: black text, nothing in colour")
            want = "cmyk-banded" if cm == "0" else "mono"
            c.expect(s["header"]["layout"] == want, f"text ColorModel {cm}: {want} page")

    if args.baseline:
        baseline(args, conf, areas, boxes, raster)

    print(f"{c.passed} passed, {c.failed} failed")
    return 1 if c.failed else 0


def baseline(args, conf, areas, boxes, raster):
    """The RIPs' own 1-bit output, without the prefilter (measurements only)."""
    direct = os.path.join(args.work, "direct.ppd")
    with open(os.path.join(args.ppd_dir, "tlv031.ppd"), encoding="latin-1") as f:
        text = f.read()
    text = re.sub(r"\*cupsPreFilter:.*\n", "", text)
    text = text.replace("/cupsBitsPerColor 8/cupsRowCount 0/cupsRowFeed 0/cupsRowStep 0/cupsColorSpace 1",
                        "/cupsBitsPerColor 1/cupsRowCount 0/cupsRowFeed 0/cupsRowStep 0")
    text = text.replace('*ColorModel RGB/Black and red: ""',
                        '*ColorModel RGB/Black and red: "<</cupsColorOrder 1/cupsColorSpace 6/cupsBitsPerColor 1>>setpagedevice"')
    text = text.replace('*ColorModel 1/Black only: ""',
                        '*ColorModel 1/Black only: "<</cupsColorOrder 0/cupsColorSpace 3/cupsBitsPerColor 1>>setpagedevice"')
    text = text.replace("*OrderDependency: 10 AnySetup *ColorModel", "*OrderDependency: 20 AnySetup *ColorModel")
    with open(direct, "w", encoding="latin-1") as f:
        f.write(text)
    print("baseline, the RIPs' 1-bit output without the prefilter:")
    for pdf in ("black-red-gray.pdf", "black-red-rgb.pdf", "black-red-cmyk.pdf"):
        for cm in ("0", "1"):
            for rip in ("gstoraster", "pdftoraster"):
                if rip == "gstoraster":
                    status, _ = run_cupsfilter(args, conf, direct, os.path.join(args.fixtures, pdf),
                                               [f"ColorModel={cm}"], raster)
                else:
                    with open(raster, "wb") as out:
                        status = subprocess.run(
                            ["/usr/lib/cups/filter/pdftoraster", "1", "u", "t", "1", f"ColorModel={cm}",
                             os.path.join(args.fixtures, pdf)], stdout=out, stderr=subprocess.DEVNULL,
                            env=dict(os.environ, PPD=direct)).returncode
                s = stats(args.raster_stats, raster, boxes)
                if status != 0 or s is None:
                    print(f"  {rip} {pdf} ColorModel {cm}: failed")
                    continue
                black_areas = [n for n, (_, ink) in areas.items() if ink == "black"]
                k = box_total(s, black_areas, "black")
                both = box_total(s, black_areas, "colour")
                outside = s["all"]["black"] - box_total(s, areas, "black")
                print(f"  {rip} {pdf} ColorModel {cm} ({s['header']['layout']}): black areas {k} black dots, "
                      f"{both} in colour ({100.0 * both / max(k, 1):.2f}%); red text "
                      f"{s['red_text']['colour']} colour / {s['red_text']['black']} black; "
                      f"{outside} black dots outside the areas")


if __name__ == "__main__":
    sys.exit(main())
