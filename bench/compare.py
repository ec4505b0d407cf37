#!/usr/bin/env python3
"""Times the filter and the prefilter against the libcups read floor.

For each workload the program under test (A) and the floor (B) run on the
same raster file, interleaved A B A B ..., so that a machine busy with other
work slows both alike. CPU time is user + system time of the process. One
line per workload: the ratio A / B (minimum and median over the pairs), A's
median CPU time and peak resident memory, and (A's peak - B's peak) / the
largest page's bytes. A last line gives the filter's cost per row for jobs
of 300,000 rows in pages of 1,000 to 300,000 rows.

  compare.py --build DIR [--pairs N]      (scripts/bench.sh runs it)
"""
import argparse
import os
import statistics
import subprocess
import sys

MEASURED_RUN = None


def run(argv, stdin_path, env):
    """Runs argv with stdin from the file; returns (cpu seconds, peak RSS KiB)."""
    with open(stdin_path, "rb") as stdin, open(os.devnull, "wb") as null:
        done = subprocess.run([MEASURED_RUN] + argv, stdin=stdin, stdout=null,
                              stderr=subprocess.PIPE, env=env)
    line = done.stderr.decode(errors="replace").splitlines()[-1]
    if done.returncode not in (0, 1) or not line.startswith("measured: "):
        sys.exit(f"{argv[0]} failed with status {done.returncode}")
    cpu, rss = line.split()[1:3]
    return float(cpu), int(rss)


def make_raster(build, work, kind, width, rows, pages):
    path = os.path.join(work, f"{kind}-{width}x{rows}x{pages}.ras")
    if not os.path.exists(path):
        with open(path, "wb") as out:
            subprocess.run([os.path.join(build, "bench", "receipt_raster"), kind, str(width),
                            str(rows), str(pages)], stdout=out, check=True)
    return path


def measure(args, name, program, raster, page_bytes, env):
    floor = [os.path.join(args.build, "bench", "read_floor")]
    ratios, cpu, rss_a, rss_b = [], [], [], []
    for _ in range(args.pairs):
        a, ra = run(program, raster, env)
        b, rb = run(floor, raster, env)
        ratios.append(a / b if b > 0 else float("inf"))
        cpu.append(a)
        rss_a.append(ra)
        rss_b.append(rb)
    above = (statistics.median(rss_a) - statistics.median(rss_b)) * 1024 / page_bytes
    print(f"{name:<28} ratio min {min(ratios):5.2f} median {statistics.median(ratios):5.2f}"
          f"   cpu {statistics.median(cpu) * 1000:8.1f} ms   peak RSS {statistics.median(rss_a) / 1024:6.1f} MB"
          f"   (RSS - floor) / page {above:5.2f}", flush=True)
    return statistics.median(cpu)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--pairs", type=int, default=9)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    global MEASURED_RUN
    MEASURED_RUN = os.path.join(args.build, "bench", "measured_run")
    work = os.path.join(args.build, "bench-work")
    os.makedirs(work, exist_ok=True)

    ppd = os.path.join(args.build, "ppd", "tlv031.ppd")
    env = dict(os.environ, PPD=ppd)
    filt = os.path.join(args.build, "rastertoTalvero")
    planes = os.path.join(args.build, "prefilter", "rastertoTalveroPlanes")

    def job(options):
        return [filt, "1", "bench", "receipt", "1", options]

    mono = make_raster(args.build, work, "mono", 576, 20000, 10)
    colour = make_raster(args.build, work, "colour", 576, 4000, 10)
    rgb = make_raster(args.build, work, "rgb", 576, 4000, 10)
    tones = make_raster(args.build, work, "tones", 576, 4000, 10)
    base = "ColorModel=1 CompPrinting=1 PageCut=2 LogoPosition=0"
    print(f"model 31, {args.pairs} interleaved pairs each; floor: libcups reading every page whole")
    measure(args, "mono 576x20000x10", job(base), mono, 72 * 20000, env)
    measure(args, "mono Rotation=1", job(base + " Rotation=1"), mono, 72 * 20000, env)
    measure(args, "mono PageSize=100 (half)", job(base + " PageSize=100A4Half"), mono, 72 * 20000, env)
    measure(args, "mono PageSize=95 (third)", job(base + " PageSize=95A4Third"), mono, 72 * 20000, env)
    measure(args, "two-colour 576x4000x10", job("ColorModel=0 PageCut=2 LogoPosition=0"), colour,
            288 * 4000, env)
    measure(args, "prefilter RGB 576x4000x10", [planes, "1", "bench", "receipt", "1", "ColorModel=0"], rgb,
            3 * 576 * 4000, env)
    measure(args, "prefilter tones 576x4000x10", [planes, "1", "bench", "receipt", "1", "ColorModel=0"], tones,
            3 * 576 * 4000, env)

    # Cost per row: jobs of 300,000 rows in pages of 1,000 to 300,000 rows.
    # With the rows the same, a cost per page (or a first page dearer than
    # the others) would show as a higher cost per row for the short pages.
    costs = {}
    for rows in (1000, 10000, 100000, 300000):
        pages = 300000 // rows
        raster = make_raster(args.build, work, "mono", 576, rows, pages)
        costs[rows] = measure(args, f"{pages} pages of {rows} rows", job(base), raster, 72 * rows, env) / 300000 * 1e6
    print("cost per row, pages of: " + ", ".join(f"{rows} rows {cost:.3f} us" for rows, cost in costs.items()) +
          f"; largest / smallest {max(costs.values()) / min(costs.values()):.2f}")

if __name__ == "__main__":
    main()
