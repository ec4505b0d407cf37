#!/usr/bin/env python3
"""A busy lunch hour: the load and soak run of both print paths.

The Printer Application (talvero-printer-app) and a private cupsd with a
queue of our PPD per printer each drive N printers (two-colour and
black-only models) on as many talvero-virtual-printer devices. Two clients
per printer send receipts in a loop, each waiting for its last receipt to
reach the printer: to the app PNG, JPEG and PWG raster with ipptool, to
cupsd the sample PDF and PNG with lp. Now and then a printer goes away (its
virtual printer is stopped while idle) for a while and comes back; the
receipts sent meanwhile wait for it. A probe printer on each path gets one
receipt at a time and nothing else, idle and under the load, for the
latencies; a watcher asks both servers for a printer's attributes twice a
second.

At the end every printer's bytes must split exactly into the bytes that
printer got for each document alone, once per receipt sent; every finished
job must be completed and none left pending; the app's RSS, descriptors and
threads must stay within 10 % of their values after the first 500 receipts;
every status request and every spooled submission must be answered within
2 s. The figures are printed as a Markdown table and kept as JSON.

  scripts/soak.sh [--minutes M | --jobs N] [--printers N] [--smoke] ...
"""
import argparse
import collections
import json
import os
import random
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "app", "live"))
sys.dont_write_bytecode = True
import appkit  # noqa: E402
from appkit import kit  # noqa: E402

# (model, two-colour) of the printers, in the order they are added.
MODELS = [(31, True), (41, False), (11, True), (13, False), (22, True), (52, False), (35, True), (10, False),
          (60, True), (33, False), (87, True), (81, False), (110, True), (91, False), (1, True), (40, False)]
MEDIA = "om_80x100mm_80x100mm"
HISTORY = 100  # finished jobs PAPPL keeps per printer: the app's RSS grows until they are all kept
SLACK = 0.10  # the app's resources at the end stay within 10 % of their values after --plateau-jobs receipts


# ---------------------------------------------------------------- IPP

def ipp_request(url, operation, attrs, timeout=10):
    """Sends an IPP request (operation attributes `attrs`: (tag, name, value)); returns the response bytes."""
    body = struct.pack(">BBHI", 2, 0, operation, 1) + b"\x01"
    for tag, name, value in [(0x47, "attributes-charset", "utf-8"),
                             (0x48, "attributes-natural-language", "en"), *attrs]:
        data = struct.pack(">i", value) if isinstance(value, int) else value.encode()
        body += struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(data)) + data
    http_url = url.replace("ipp://", "http://", 1)
    request = urllib.request.Request(http_url, body + b"\x03", {"Content-Type": "application/ipp"})
    with urllib.request.urlopen(request, timeout=timeout) as reply:
        return reply.read()


def job_state(printer_uri, job_id):
    """The job-state of job `job_id` (3 pending ... 9 completed), or 0 when not known."""
    reply = ipp_request(printer_uri, 0x0009, [(0x45, "printer-uri", printer_uri), (0x21, "job-id", job_id),
                                              (0x44, "requested-attributes", "job-state")])
    at = reply.find(b"\x23\x00\x09job-state\x00\x04")
    return struct.unpack(">i", reply[at + 14:at + 18])[0] if at >= 0 else 0


def job_states(printer_uri, which):
    """The job-state of every job `which` (completed or not-completed) on the printer."""
    reply = ipp_request(printer_uri, 0x000A, [(0x45, "printer-uri", printer_uri), (0x44, "which-jobs", which),
                                              (0x21, "limit", 100000), (0x44, "requested-attributes", "job-state")])
    return [struct.unpack(">i", reply[m.end():m.end() + 4])[0]
            for m in re.finditer(re.escape(b"\x23\x00\x09job-state\x00\x04"), reply)]


# ---------------------------------------------------------------- devices

class Device:
    """A talvero-virtual-printer that can go away and come back on its port.
    Each closed connection is handed to `on_job` (the path of its .bin)."""

    def __init__(self, folder, on_job):
        self.dir, self.on_job, self.port, self.proc = folder, on_job, 0, None
        self.tool = os.path.join(kit.PATHS.build, "tools", "talvero-virtual-printer")
        self.rejected = []

    def start(self):
        # Not tied to the starting thread's life (as the kernel's parent-death
        # signal would be): a printer that comes back is started by a thread
        # that ends before the run does.
        self.proc, self.port = kit.start_virtual_printer(self.tool, self.dir, "ok", "--no-pictures", "--times",
                                                         "--port", str(self.port), stderr=subprocess.DEVNULL,
                                                         stdin=subprocess.DEVNULL, start_new_session=True)
        threading.Thread(target=self._read, args=(self.proc,), daemon=True).start()
        return self

    def _read(self, proc):
        for line in proc.stdout:
            m = re.match(r"job (\d+): .* (ok|REJECTED) ->", line)
            if m:
                if m.group(2) == "REJECTED":
                    self.rejected.append(line.strip())
                self.on_job(os.path.join(self.dir, f"job-{m.group(1)}.bin"))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=30)

    @property
    def uri(self):
        return f"socket://127.0.0.1:{self.port}"


class Printer:
    """One printer of a path: its device, the bytes each document gives on it
    alone, and the receipts it was sent and has got (split into documents)."""

    def __init__(self, path, index, model, colour, folder):
        self.path, self.index, self.model, self.colour = path, index, model, colour
        self.name = f"{path.name}{index:02d}-tlv{model}"
        self.cond = threading.Condition()
        self.reference = {}           # document -> bytes alone
        self.sent = collections.Counter()
        self.got = collections.Counter()
        self.errors = []
        self.arrivals = []            # (first byte time, last byte time) of each connection
        self.learning = []            # connections not yet split, while the references are learnt
        self.device = Device(folder, self._received).start()
        self.uri = None
        self.present = threading.Event()
        self.present.set()

    def _received(self, bin_path):
        """Splits a connection's bytes into whole receipts of known documents
        (while the documents are learnt, keeps its path instead)."""
        with self.cond:
            if self.learning is not None:
                self.learning.append(bin_path)
                self.cond.notify_all()
                return
        with open(bin_path, "rb") as f:
            data = f.read()
        times = open(bin_path[:-4] + ".times").read().split()
        at, counts = 0, collections.Counter()
        while at < len(data):
            doc = next((d for d, ref in self.reference.items() if data.startswith(ref, at)), None)
            if doc is None:
                self.errors.append(f"{bin_path}: {len(data) - at} bytes at offset {at} are no whole receipt")
                break
            counts[doc] += 1
            at += len(self.reference[doc])
        with self.cond:
            self.got.update(counts)
            self.arrivals.append((int(times[1]) / 1e6, int(times[-1]) / 1e6))
            self.cond.notify_all()
        for suffix in (".bin", ".txt", ".times"):
            os.unlink(bin_path[:-4] + suffix)

    def total_got(self):
        with self.cond:
            return sum(self.got.values())

    def wait_got(self, count, timeout):
        """Waits until `count` receipts have arrived; False after `timeout`."""
        with self.cond:
            return self.cond.wait_for(lambda: sum(self.got.values()) >= count, timeout)


# ---------------------------------------------------------------- paths

class AppPath:
    """The Printer Application: clients send with ipptool."""
    name = "app"

    def __init__(self, ws, args):
        self.app = appkit.App(ws)
        self.app.start()
        self.test = {}
        self.refusals = []  # (printer, document, the end of ipptool's output)

    def add(self, printer):
        printer.uri = self.app.add(printer.name, printer.device.uri, f"talvero_tlv{printer.model:03d}")

    def documents(self, printer, docs):
        return ["png", "jpeg", "pwg-srgb" if printer.colour else "pwg-sgray"]

    def submit(self, printer, doc, docs):
        """Sends `doc`; returns the job id, or None when refused."""
        key = (doc, docs[doc])
        if key not in self.test:
            fmt = {"png": "image/png", "jpeg": "image/jpeg"}.get(doc, "image/pwg-raster")
            self.test[key] = os.path.join(os.path.dirname(docs[doc]), f"print-{doc}.test")
            with open(self.test[key], "w") as f:
                f.write(f'{{ OPERATION Print-Job GROUP operation-attributes-tag ATTR charset attributes-charset utf-8 '
                        f'ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri '
                        f'ATTR name requesting-user-name soak ATTR mimeMediaType document-format {fmt} '
                        f'FILE {docs[doc]} STATUS successful-ok DISPLAY job-id }}\n')
        proc = subprocess.run([appkit.IPPTOOL, "-T", "60", "-t", printer.uri, self.test[key]], capture_output=True,
                              timeout=120)
        m = re.search(rb"job-id \(integer\) = (\d+)", proc.stdout)
        if proc.returncode == 0 and m:
            return int(m.group(1))
        self.refusals.append((printer.name, doc, f"ipptool exit {proc.returncode}: " + (proc.stdout + proc.stderr).decode(errors="replace")[-600:]))
        return None

    def pid(self):
        return self.app.proc.pid

    def stop(self):
        self.app.stop()


class CupsPath:
    """A private cupsd with a queue of our PPD per printer: clients send with lp."""
    name = "cups"

    def __init__(self, ws, args):
        # The filters and backends run nicer than cupsd, as the user guide
        # recommends for a busy print server (--filter-nice 0: cupsd's default).
        filter_nice = [f"FilterNice {args.filter_nice}"] if args.filter_nice else []
        kit.sandbox_conf(ws, {"rastertoTalvero": kit.PATHS.filter, "rastertoTalveroPlanes": kit.PATHS.prefilter})
        data = kit.make_datadir(ws.join("data"), {"talvero": kit.PATHS.ppd_dir})
        self.cupsd = kit.Cupsd(ws.mkdir("cupsd"), ws.join("serverbin"), data, log_level="warn",
                                conf_lines=filter_nice).start()

    def add(self, printer):
        self.cupsd.lpadmin("-p", printer.name, "-E", "-v", f"{printer.device.uri}/?snmp=false", "-P",
                           kit.PATHS.ppd(printer.model))
        printer.uri = f"ipp://{self.cupsd.host}/printers/{printer.name}"

    def documents(self, printer, docs):
        return ["pdf", "png"]

    def submit(self, printer, doc, docs):
        proc = subprocess.run(["lp", "-h", self.cupsd.host, "-d", printer.name, docs[doc]], capture_output=True,
                              timeout=120)
        m = re.search(rb"request id is \S+-(\d+)", proc.stdout)
        return int(m.group(1)) if proc.returncode == 0 and m else None

    def stop(self):
        self.cupsd.stop()


# ---------------------------------------------------------------- the run

def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100 * len(values)))] if values else float("nan")


class Soak:
    def __init__(self, args, ws):
        self.args, self.ws = args, ws
        self.stop = threading.Event()
        self.open = threading.Event()  # cleared while the load pauses for the resource count
        self.open.set()
        self.lock = threading.Lock()
        self.answers = collections.defaultdict(list)    # what -> seconds to answer
        self.unanswered = collections.Counter()
        self.latency = collections.defaultdict(list)    # (path, idle|load, first-byte|completed) -> seconds
        self.samples = []                               # (app receipts, rss kB, fds, threads)
        self.events = []
        self.started = time.monotonic()
        self.docs = self.make_documents()
        self.paths, self.printers, self.probes = [], {}, {}
        self.plateau = None

    def make_documents(self):
        ws, docs = self.ws, {}
        receipt = os.path.join(kit.PATHS.source, "samples", "receipt.pdf")
        docs["pdf"] = receipt
        for kind, suffix in (("png", "png"), ("jpeg", "jpg")):
            kit.run(["pdftoppm", f"-{kind}", "-r", "203", "-singlefile", receipt, ws.join("receipt")])
            docs[kind] = ws.join(f"receipt.{suffix}")
        tool = os.path.join(kit.PATHS.build, "tests", "app", "live", "make_raster")
        for space in ("srgb", "sgray"):
            docs[f"pwg-{space}"] = ws.join(f"page-{space}.pwg")
            kit.run([tool, "pwg", MEDIA, f"{space}_8", docs[f"pwg-{space}"]])
        return docs

    def set_up(self, path):
        """Adds the printers of `path` and learns what each document gives on each alone."""
        printers = [Printer(path, i, *MODELS[i % len(MODELS)], self.ws.mkdir(f"{path.name}-vp{i:02d}"))
                    for i in range(self.args.printers)]
        for printer in printers:
            path.add(printer)
        threads = [threading.Thread(target=self.learn, args=(path, p)) for p in printers]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.paths.append(path)
        self.printers[path.name] = printers
        self.probes[path.name] = printers[0]

    def learn(self, path, printer):
        """Prints each document once alone on `printer`: its bytes are the reference."""
        for doc in path.documents(printer, self.docs):
            if path.submit(printer, doc, self.docs) is None:
                said = path.refusals[-1][2] if getattr(path, "refusals", None) else ""
                raise AssertionError(f"{printer.name} refused the first {doc}: {said}")
            with printer.cond:
                if not printer.cond.wait_for(lambda: printer.learning, 120):
                    raise AssertionError(f"{printer.name} got no {doc}")
                bin_path = printer.learning.pop()
            with open(bin_path, "rb") as f:
                printer.reference[doc] = f.read()
        printer.learning = None

    # ---- load

    def client(self, path, printer, gate, seed):
        """Sends the printer's documents in turn, each after the last one it sent has arrived."""
        docs = path.documents(printer, self.docs)
        turn = seed
        while not self.stop.is_set():
            gate.wait()
            self.open.wait()
            doc = docs[turn % len(docs)]
            turn += 1
            started = time.monotonic()
            job = path.submit(printer, doc, self.docs)
            took = time.monotonic() - started
            with self.lock:
                if not doc.startswith("pwg"):  # a streamed job is answered once printed
                    self.answers[f"{path.name} submit"].append(took)
                if job is None:
                    self.unanswered[f"{path.name} {doc} refused"] += 1
            if job is None:
                time.sleep(1)
                continue
            with printer.cond:
                printer.sent[doc] += 1
                target = sum(printer.sent.values())
            printer.wait_got(target, 900)

    def probe(self, path, phase, count=None):
        """One receipt at a time on the path's probe printer: seconds to the
        first byte at the printer and to the job's completion."""
        printer = self.probes[path.name]
        done = 0
        while (count is None and not self.stop.is_set()) or (count is not None and done < count):
            self.open.wait()
            doc = path.documents(printer, self.docs)[0]
            had = printer.total_got()
            started = time.time()
            job = path.submit(printer, doc, self.docs)
            if job is None:
                raise AssertionError(f"the probe printer of {path.name} refused a job")
            with printer.cond:
                printer.sent[doc] += 1
            completed = None
            deadline = time.monotonic() + 300
            while (completed is None or printer.total_got() <= had) and time.monotonic() < deadline:
                try:
                    if completed is None and job_state(printer.uri, job) == 9:
                        completed = time.time()
                except OSError:
                    with self.lock:
                        self.unanswered[f"{path.name} job state"] += 1
                time.sleep(0.02)
            with printer.cond:
                first = printer.arrivals[-1][0] if printer.total_got() > had else None
            if completed is None or first is None:
                raise AssertionError(f"{path.name} probe job {job} did not complete in 300 s")
            with self.lock:
                self.latency[(path.name, phase, "first byte")].append(first - started)
                self.latency[(path.name, phase, "completed")].append(completed - started)
            done += 1
            time.sleep(0.2)

    def watch(self):
        """Twice a second, asks each server for one printer's state."""
        while not self.stop.is_set():
            for path in self.paths:
                printer = random.choice(self.printers[path.name])
                started = time.monotonic()
                try:
                    ipp_request(printer.uri, 0x000B, [(0x45, "printer-uri", printer.uri),
                                                      (0x44, "requested-attributes", "printer-state")])
                    with self.lock:
                        self.answers[f"{path.name} status"].append(time.monotonic() - started)
                except OSError:
                    with self.lock:
                        self.unanswered[f"{path.name} status"] += 1
            time.sleep(0.5)

    def app_resources(self):
        """(RSS kB, open descriptors, threads) of the app's process."""
        pid = self.paths[0].pid()
        with open(f"/proc/{pid}/status") as f:
            status = dict(line.split(":", 1) for line in f if ":" in line)
        return (int(status["VmRSS"].split()[0]), len(os.listdir(f"/proc/{pid}/fd")), int(status["Threads"]))

    def sample(self):
        while not self.stop.is_set():
            receipts = sum(p.total_got() for p in self.printers["app"])
            with self.lock:
                self.samples.append((receipts, *self.app_resources()))
            time.sleep(1)

    def away(self, gates):
        """Every so often a printer (not a probe) goes away while idle, and comes back."""
        rng = random.Random(7)
        while not self.stop.wait(self.args.away_every):
            path = rng.choice(self.paths)
            printer = rng.choice(self.printers[path.name][1:])
            gates[printer.name].clear()
            with printer.cond:
                sent = sum(printer.sent.values())
            printer.wait_got(sent, 300)
            printer.device.stop()
            gates[printer.name].set()  # receipts sent meanwhile wait for the printer
            self.events.append(f"{printer.name} away for {self.args.away_for} s at "
                               f"{time.monotonic() - self.started:.0f} s")
            time.sleep(self.args.away_for)
            for attempt in range(10):
                try:
                    printer.device.start()
                    break
                except AssertionError as e:
                    printer.errors.append(f"{printer.name} did not come back ({attempt}): {e}")
                    time.sleep(1)

    def quiet_resources(self):
        """The app's resources once every receipt sent so far has arrived and
        the app has been idle for 5 s: (app receipts, RSS kB, fds, threads)."""
        self.open.clear()
        time.sleep(2)  # receipts being sent are counted by then
        self.drain()
        time.sleep(5)
        receipts = sum(p.total_got() for p in self.printers["app"])
        resources = (receipts, *self.app_resources())
        self.open.set()
        return resources

    def total_sent(self):
        return sum(sum(p.sent.values()) for ps in self.printers.values() for p in ps)

    def run_load(self):
        gates = {}
        threads = []
        for path in self.paths:
            for printer in self.printers[path.name][1:]:
                gates[printer.name] = threading.Event()
                gates[printer.name].set()
                for seed in range(self.args.clients):
                    threads.append(threading.Thread(target=self.client, args=(path, printer, gates[printer.name],
                                                                                seed)))
            threads.append(threading.Thread(target=self.probe, args=(path, "load")))
        threads += [threading.Thread(target=self.watch), threading.Thread(target=self.sample),
                    threading.Thread(target=self.away, args=(gates,))]
        load_started = time.monotonic()
        for t in threads:
            t.daemon = True
            t.start()
        while time.monotonic() - load_started < self.args.minutes * 60 and self.total_sent() < self.args.jobs:
            time.sleep(1)
            self.progress(load_started)
            if self.plateau is None and sum(p.total_got() for p in self.printers["app"]) >= self.args.plateau_jobs:
                self.plateau = self.quiet_resources()
        self.stop.set()
        for t in threads:
            t.join(timeout=900)
        return time.monotonic() - load_started

    def progress(self, since):
        elapsed = time.monotonic() - since
        if int(elapsed) % 30 == 0:
            print(f"  {elapsed:5.0f} s: {self.total_sent()} receipts sent, app {self.samples[-1][1:] if self.samples else ''}"
                  " (RSS kB, fds, threads)", flush=True)

    # ---- the end

    def drain(self):
        """Waits until every receipt sent has arrived (printers that were away included)."""
        for printers in self.printers.values():
            for printer in printers:
                with printer.cond:
                    sent = sum(printer.sent.values())
                printer.wait_got(sent, 600)

    def failures(self, plateau, end):
        """What went wrong: lost or garbled receipts, jobs not completed, leaks, slow answers."""
        found = []
        for path in self.paths:
            for printer in self.printers[path.name]:
                found += printer.errors + printer.device.rejected
                if printer.got != printer.sent:
                    found.append(f"{printer.name}: sent {dict(printer.sent)}, got {dict(printer.got)}")
                states = job_states(printer.uri, "completed")
                if any(state != 9 for state in states):
                    found.append(f"{printer.name}: finished jobs not completed: {collections.Counter(states)}")
                if job_states(printer.uri, "not-completed"):
                    found.append(f"{printer.name}: jobs left pending")
        for what, value, now in zip(("RSS", "descriptors", "threads"), plateau[1:], end):
            if what == "RSS" and plateau[0] < HISTORY * self.args.printers:
                continue  # counted before the job history is full: RSS still grows by design
            if abs(now - value) > SLACK * value:
                found.append(f"app {what}: {value} after {plateau[0]} receipts, {now} at the end")
        for what, seconds in self.answers.items():
            limit = self.args.answer_limit
            if max(seconds) > limit:
                found.append(f"{what}: {sum(s > limit for s in seconds)} answers over {limit} s "
                             f"(slowest {max(seconds):.2f} s)")
        found += [f"{what}: {count}" for what, count in self.unanswered.items()]
        return found

    def report(self, duration, plateau, end):
        """The figures as a Markdown table and as a dict."""
        peak = [max(s[i] for s in self.samples) for i in (1, 2, 3)]
        receipts = {path.name: sum(sum(p.got.values()) for p in self.printers[path.name]) for path in self.paths}
        lines = [f"Machine: {machine()}; {self.args.printers} printers per path, {self.args.clients} clients per "
                 f"printer, {len(self.events)} printer absences; load for {duration:.0f} s.", "",
                 "| path | receipts | first byte p50 / p99, idle | completed p50 / p99, idle | "
                 "first byte p50 / p99, load | completed p50 / p99, load |", "|---|---|---|---|---|---|"]
        figures = {"duration_s": duration, "receipts": receipts, "events": self.events}
        for path in self.paths:
            cells = []
            for phase in ("idle", "load"):
                for what in ("first byte", "completed"):
                    values = self.latency[(path.name, phase, what)]
                    p50, p99 = percentile(values, 50), percentile(values, 99)
                    figures[f"{path.name} {phase} {what}"] = {"p50": p50, "p99": p99, "n": len(values)}
                    cells.append(f"{p50 * 1000:.0f} / {p99 * 1000:.0f} ms")
            lines.append(f"| {path.name} | {receipts[path.name]} | " + " | ".join(cells) + " |")
        answers = {what: (percentile(v, 50), max(v), len(v)) for what, v in self.answers.items()}
        lines += ["", "App process: RSS / descriptors / threads after %d receipts %d kB / %d / %d; peak %d kB / %d / %d;"
                  " at the end %d kB / %d / %d." % (plateau[0], *plateau[1:], *peak, *end), "",
                  "Answers (median / slowest / count): " + "; ".join(
                      f"{what} {p50 * 1000:.0f} / {worst * 1000:.0f} ms / {n}" for what, (p50, worst, n) in
                      sorted(answers.items()))]
        figures.update(plateau=plateau, peak=peak, end=end, answers=answers)
        return "\n".join(lines), figures


def machine():
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")),
                 os.uname().machine)
    memory = int(next(line.split()[1] for line in open("/proc/meminfo") if line.startswith("MemTotal")))
    return f"{model}, {os.cpu_count()} CPUs, {memory / 1048576:.0f} GiB, {os.uname().machine}"


def parse_arguments():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--build-dir", default=os.path.join(HERE, "..", "build"))
    p.add_argument("--source-dir", default=os.path.join(HERE, ".."))
    p.add_argument("--keep-dir", help="where the run's files are kept when it fails (default: BUILD/soak-failed)")
    p.add_argument("--printers", type=int, default=16, help="printers per path (default 16)")
    p.add_argument("--clients", type=int, default=2, help="clients per printer (default 2)")
    p.add_argument("--minutes", type=float, default=30, help="longest load time (default 30)")
    p.add_argument("--jobs", type=int, default=10000, help="receipts after which the load stops (default 10000)")
    p.add_argument("--idle-probes", type=int, default=20, help="receipts on the idle probe printers (default 20)")
    p.add_argument("--away-every", type=float, default=60, help="seconds between printer absences (default 60)")
    p.add_argument("--away-for", type=float, default=10, help="seconds a printer stays away (default 10)")
    p.add_argument("--plateau-jobs", type=int, default=500,
                   help="app receipts after which its resources are counted for the comparison (default 500)")
    p.add_argument("--answer-limit", type=float, default=2.0,
                   help="seconds within which every status request and spooled submission is answered (default 2)")
    p.add_argument("--filter-nice", type=int, default=10,
                   help="cupsd's FilterNice: how much nicer than cupsd its filters run (default 10; 0 for cupsd's default)")
    p.add_argument("--report", help="write the figures here as JSON")
    p.add_argument("--smoke", action="store_true",
                   help="a short run: 4 printers per path, 200 receipts, absences every 15 s, answers within 10 s")
    args = p.parse_args()
    if args.smoke:
        args.printers, args.jobs, args.minutes, args.idle_probes, args.plateau_jobs = 4, 200, 2, 5, 60
        args.away_every, args.away_for = 15, 5
        args.answer_limit = 10  # CI machines are shared: only a server that stops answering fails
    return args


def main():
    args = parse_arguments()
    build = os.path.abspath(args.build_dir)
    kit.PATHS = kit.Paths(build, os.path.abspath(args.source_dir), args.keep_dir or os.path.join(build, "soak-failed"))
    appkit.APP = os.environ.get("TALVERO_APP") or os.path.join(build, "app", "talvero-printer-app")
    if not os.access(appkit.APP, os.X_OK):
        print(f"SKIPPED: no talvero-printer-app at {appkit.APP}")
        return appkit.SKIP
    if os.geteuid() != 0:
        print("the run starts cupsd and runs the app as nobody: run it as root")
        return 1
    ws = kit.Workspace("soak")
    soak, paths = None, []
    try:
        soak = Soak(args, ws)
        for path_class in (AppPath, CupsPath):
            paths.append(path_class(ws, args))
            soak.set_up(paths[-1])
            print(f"{paths[-1].name}: {args.printers} printers ready", flush=True)
        for path in paths:
            soak.probe(path, "idle", args.idle_probes)
        duration = soak.run_load()
        end = soak.quiet_resources()[1:]
        plateau = soak.plateau or (0, *end)
        table, figures = soak.report(duration, plateau, end)
        print(table)
        if args.report:
            with open(args.report, "w") as f:
                json.dump(figures, f, indent=1)
        found = soak.failures(plateau, end)
        for line in found:
            print("FAILED: " + line)
        ws.failed = bool(found)
        return 1 if found else 0
    except BaseException:
        ws.failed = True
        raise
    finally:
        if soak:
            soak.stop.set()
            for printers in soak.printers.values():
                for printer in printers:
                    printer.device.stop()
        for path in paths:
            path.stop()
        ws.close()


if __name__ == "__main__":
    sys.exit(main())
