#!/usr/bin/env python3
"""How long a receipt takes through CUPS: lp to the first byte at the printer,
lp to "completed", and when each stage of the chain starts and ends.

A private cupsd (tests/chain/chainkit.py's, LogLevel debug, log times in
microseconds) prints samples/receipt.pdf on queues of the build's PPD for
model 31, one per kind of device:

  socket   socket://127.0.0.1:PORT, a printer on loopback that, like most
           receipt printers, has no SNMP agent (the socket backend)
  pipe     file:///FIFO, a device cupsd writes itself without a backend, as
           a USB printer's device node is written
  app      a CUPS driverless queue (-m everywhere, the ipp backend) to
           talvero-printer-app, which prints on such a socket printer

The socket printers are talvero-virtual-printer with --times (when each
part of a job arrived); the FIFO is read in this process. Either gives the
time of each job's first byte and of its end. The stages come from the
cupsd log: each filter's and the backend's "Started" line and the line on
its exit. Every job's time is counted from just before lp runs; one job per
queue is printed first and not counted (it loads fonts and caches). For
each figure the table gives the median over the runs, in milliseconds.

The stages of a chain run at once, each reading what the one before writes,
so their spans overlap, and on a busy machine they wait for a processor. A
last table gives what each stage costs on its own, whatever the load: the
CPU time of each program of the PDF chain run on what the stage before it
wrote, and for our two stages bench/read_floor reading the same input with
libcups (and reading nothing: the cost of starting a program linked with
libcups), interleaved under bench/measured_run.

  bench/latency.py [--build build] [--runs 5] [--kinds socket,pipe,app]
                   [--uri-suffix '/?snmp=false'] [--ppd PATH]

It runs cupsd, so as root. Nothing of it runs in the tests.
"""
import argparse
import datetime
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(HERE, "..", "tests", "chain"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "app", "live"))
sys.path.insert(0, HERE)
import chainkit as kit  # noqa: E402

MODEL = 31
# "D [08/Dec/2026:15:03:30.123456 +0000] [Job 3] message"
LOG_LINE = re.compile(r"^\w \[([^\]]+)\] \[Job (\d+)\] (.*)$")


class TimedCupsd(kit.Cupsd):
    """The tests' private cupsd, its log times given to the microsecond."""

    def _write_config(self):
        super()._write_config()
        with open(os.path.join(self.root, "conf", "cupsd.conf"), "a") as f:
            f.write("LogTimeFormat usecs\n")


class Arrivals:
    """The jobs a printer received: for each, the time of its first byte, the
    time it ended, and its size."""

    def __init__(self):
        self.cond = threading.Condition()
        self.received = []  # (first byte time, end time, bytes)

    def add(self, first, end, size):
        """Records a job that has ended."""
        with self.cond:
            self.received.append((first, end, size))
            self.cond.notify_all()

    def jobs(self):
        """The jobs so far."""
        with self.cond:
            return list(self.received)

    def wait(self, count, timeout=60):
        """Waits until `count` jobs have ended; returns the last one."""
        with self.cond:
            if not self.cond.wait_for(lambda: len(self.received) >= count, timeout):
                raise SystemExit(f"the printer received no job {count} within {timeout} s")
            return self.received[count - 1]


class SocketDevice(Arrivals):
    """An AppSocket printer on 127.0.0.1 without an SNMP agent:
    talvero-virtual-printer, which answers status queries, checks every job and
    keeps when each part of it arrived (--times)."""

    def __init__(self, ws, name):
        super().__init__()
        tool = os.path.join(kit.PATHS.build, "tools", "talvero-virtual-printer")
        self.dir = ws.mkdir(name)
        self.errors = ws.join(f"{name}.err")
        with open(self.errors, "wb") as err:
            self.printer, port = kit.start_virtual_printer(tool, self.dir, "ok", "--times", "--no-pictures",
                                                           stderr=err)
        self.uri = f"socket://127.0.0.1:{port}"
        threading.Thread(target=self.follow, daemon=True).start()

    def follow(self):
        """Reads the printer's "job N: SIZE bytes, ..." lines: each is a job that has ended."""
        for line in self.printer.stdout:
            if m := re.match(r"job (\d+): (\d+) bytes", line):
                end = time.time()
                with open(os.path.join(self.dir, f"job-{m.group(1)}.times")) as f:
                    first = int(f.readline().split()[1]) / 1e6
                self.add(first, end, int(m.group(2)))

    def close(self):
        """Stops the printer; says so when it rejected a job."""
        self.printer.terminate()
        if self.printer.wait() != 0:
            with open(self.errors, errors="replace") as f:
                print(f"the virtual printer rejected a job:\n{f.read()[-2000:]}", file=sys.stderr)


class PipeDevice(Arrivals):
    """A FIFO that cupsd opens and writes for each job, like a USB device node."""

    def __init__(self, ws):
        super().__init__()
        self.path = ws.join("device.fifo")
        os.mkfifo(self.path, 0o666)
        self.uri = f"file://{self.path}"
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        """Opens the FIFO again after each writer closes it, and reads it to its end."""
        while True:
            with open(self.path, "rb", buffering=0) as f:
                first, size = None, 0
                while chunk := f.read(65536):
                    first = first or time.time()
                    size += len(chunk)
                if first:
                    self.add(first, time.time(), size)

    def close(self):
        """Nothing to stop: the reading thread ends with the program."""


def log_time(stamp):
    """Seconds since the epoch of a cupsd log time such as 08/Dec/2026:15:03:30.123456 +0000."""
    return datetime.datetime.strptime(stamp, "%d/%b/%Y:%H:%M:%S.%f %z").timestamp()


def stages(cupsd, job):
    """{stage name: (start, end)} of job number `job`, and the time cupsd logged it completed."""
    started, ended, completed = {}, {}, None
    with open(cupsd.error_log, errors="replace") as f:
        for line in f:
            m = LOG_LINE.match(line)
            if not m or int(m.group(2)) != job:
                continue
            when, text = log_time(m.group(1)), m.group(3)
            if s := re.match(r"Started (?:filter|backend) (\S+) \(PID (\d+)\)", text):
                started[s.group(2)] = (os.path.basename(s.group(1)), when)
            elif e := re.match(r"PID (\d+) \(\S+\) (?:exited|stopped|crashed|was terminated)", text):
                ended[e.group(1)] = when
            elif text.startswith("Job completed"):
                completed = when
    out = {name: (start, ended.get(pid)) for pid, (name, start) in started.items()}
    return out, completed


def print_runs(cupsd, queue, device, document, runs):
    """Prints `document` 1 + `runs` times on `queue`; returns one dict of times (s) per counted run."""
    results = []
    for i in range(runs + 1):
        count = len(device.jobs())
        before = time.time()
        job = int(cupsd.lp(queue, document).rsplit("-", 1)[1])
        first, _, size = device.wait(count + 1)
        kit.wait_for(lambda: stages(cupsd, job)[1], 60, f"job {job} to complete", interval=0.02)
        chain, completed = stages(cupsd, job)
        row = {"first byte": first - before, "completed": completed - before}
        for name, (start, stop) in chain.items():
            row[f"{name} start"] = start - before
            if stop:
                row[f"{name} end"] = stop - before
        if i:
            results.append(row)
        print(f"  {queue} job {job}: first byte {row['first byte'] * 1000:.0f} ms, "
              f"completed {row['completed'] * 1000:.0f} ms, {size} bytes", file=sys.stderr)
    return results


def table(kind, results):
    """The median table of one kind of device, as Markdown rows."""
    names = list(results[0])
    lines = [f"\n{kind} (median of {len(results)}, ms after lp)\n", "| stage | start | end | time |",
             "|---|---:|---:|---:|"]
    for key in ("first byte", "completed"):
        lines.append(f"| {key} | | {statistics.median(r[key] for r in results) * 1000:.0f} | |")
    for name in [n[:-6] for n in names if n.endswith(" start")]:
        start = statistics.median(r[f"{name} start"] for r in results)
        ends = [r[f"{name} end"] for r in results if f"{name} end" in r]
        if ends:
            spans = [r[f"{name} end"] - r[f"{name} start"] for r in results if f"{name} end" in r]
            lines.append(f"| {name} | {start * 1000:.0f} | {statistics.median(ends) * 1000:.0f} | "
                         f"{statistics.median(spans) * 1000:.0f} |")
        else:
            lines.append(f"| {name} | {start * 1000:.0f} | | |")
    return "\n".join(lines)


def stage_cpu(ppd, document, runs):
    """CPU time of each stage of the PDF chain on the document, each run on what
    the stage before it wrote, and of bench/read_floor reading our two stages'
    input with libcups alone (and reading nothing); Markdown rows."""
    import compare  # bench/compare.py: runs a program under measured_run
    bench = os.path.join(kit.PATHS.build, "bench")
    compare.MEASURED_RUN = os.path.join(bench, "measured_run")
    if not os.path.exists(compare.MEASURED_RUN):
        return "\n(no CPU times: build/bench has no measured_run)"
    system = os.path.join(kit.serverbin_dir(), "filter")
    chain = [("pdftopdf", os.path.join(system, "pdftopdf")), ("gstoraster", os.path.join(system, "gstoraster")),
             ("rastertoTalveroPlanes", kit.PATHS.prefilter), ("rastertoTalvero", kit.PATHS.filter)]
    env = dict(os.environ, PPD=ppd, CONTENT_TYPE="application/pdf")
    args = ["1", "root", "receipt", "1", ""]
    work = tempfile.mkdtemp(prefix="talvero-latency-")
    programs, stdin = {}, document
    for name, path in chain:  # each stage once, keeping what it writes for the next
        programs[name] = ([path, *args], stdin)
        out = os.path.join(work, name)
        with open(stdin, "rb") as inp, open(out, "wb") as f:
            subprocess.run([path, *args], stdin=inp, stdout=f, stderr=subprocess.DEVNULL, env=env, check=True)
        if name.startswith("raster"):
            programs[f"libcups reading {name}'s input"] = ([os.path.join(bench, "read_floor")], stdin)
        stdin = out
    programs["libcups starting, reading nothing"] = ([os.path.join(bench, "read_floor")], os.devnull)
    cpu = {name: [] for name in programs}
    for _ in range(runs):  # interleaved, so that other work on the machine slows all alike
        for name, (argv, inp) in programs.items():
            cpu[name].append(compare.run(argv, inp, env)[0])
    shutil.rmtree(work)
    lines = [f"\nCPU time of each stage on the document (median of {runs}, ms)\n", "| program | CPU |", "|---|---:|"]
    lines += [f"| {name} | {statistics.median(v) * 1000:.1f} |" for name, v in cpu.items()]
    return "\n".join(lines)


def add_queue(cupsd, ws, kind, ppd, suffix, closers):
    """Adds the queue of `kind` (socket, pipe or app); returns (queue name, its device)."""
    if kind == "pipe":
        device = PipeDevice(ws)
        cupsd.lpadmin("-p", kind, "-E", "-v", device.uri, "-P", ppd)
    elif kind == "socket":
        device = SocketDevice(ws, "printer-socket")
        cupsd.lpadmin("-p", kind, "-E", "-v", device.uri + suffix, "-P", ppd)
    else:
        import appkit  # tests/app/live: starts talvero-printer-app as the tests do
        appkit.APP = os.path.join(kit.PATHS.build, "app", "talvero-printer-app")
        device = SocketDevice(ws, "printer-app")
        app = appkit.App(ws).start()
        closers.append(app.stop)
        uri = app.add("receipt", device.uri, f"talvero_tlv{MODEL:03d}")
        cupsd.lpadmin("-p", kind, "-E", "-v", uri, "-m", "everywhere")
        # cupsd makes the queue's PPD from the printer's attributes after lpadmin returns.
        kit.wait_for(lambda: "ColorModel" in kit.run(["lpoptions", "-h", cupsd.host, "-p", kind, "-l"],
                                                     check=False).stdout.decode(), 30, "the queue's PPD")
    closers.append(device.close)
    return kind, device


def main():
    p = argparse.ArgumentParser(description="Latency of a receipt through a private cupsd.")
    p.add_argument("--build", default=os.path.join(HERE, "..", "build"), help="the build tree")
    p.add_argument("--runs", type=int, default=5, help="jobs counted per queue (default 5)")
    p.add_argument("--kinds", default="socket,pipe,app", help="devices: socket, pipe, app")
    p.add_argument("--ppd", help="the PPD of the socket and pipe queues (default the build's tlv031.ppd)")
    p.add_argument("--uri-suffix", default="", help="appended to the socket queue's URI, e.g. /?snmp=false")
    p.add_argument("--document", default=os.path.join(HERE, "..", "samples", "receipt.pdf"))
    args = p.parse_args()
    build = os.path.abspath(args.build)
    kit.PATHS = kit.Paths(build, os.path.abspath(os.path.join(HERE, "..")), os.path.join(build, "latency-failed"))
    if os.geteuid() != 0:
        sys.exit("cupsd needs root: run as root")
    ws = kit.Workspace("latency")
    closers = []
    try:
        serverbin = kit.make_serverbin(ws.mkdir("serverbin"), {"rastertoTalvero": kit.PATHS.filter,
                                                               "rastertoTalveroPlanes": kit.PATHS.prefilter})
        cupsd = TimedCupsd(ws.mkdir("cupsd"), serverbin, kit.datadir()).start()
        closers.append(cupsd.stop)
        for kind in args.kinds.split(","):
            queue, device = add_queue(cupsd, ws, kind, args.ppd or kit.PATHS.ppd(MODEL), args.uri_suffix, closers)
            print(table(kind, print_runs(cupsd, queue, device, os.path.abspath(args.document), args.runs)))
        print(stage_cpu(args.ppd or kit.PATHS.ppd(MODEL), os.path.abspath(args.document), max(args.runs, 11)))
    finally:
        for close in reversed(closers):
            close()
        ws.close()


if __name__ == "__main__":
    main()
