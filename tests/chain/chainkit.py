"""Shared pieces of the real-chain tests: running CUPS and reading what it prints.

The tests drive the driver through real CUPS programs: cupsfilter, and a
private cupsd of their own (own ServerRoot, spool, logs and port on
127.0.0.1) with lpadmin, lp, cancel and lpinfo talking to it. What reaches
the printer is read back through talvero-preview: `--list` names every
command with its offset and geometry, and the raster planes are taken from
the bytes at those offsets (the run-length code of 08 43 52 bands expanded),
so each printed page comes back as a black plane and a colour plane. The
previewer's own picture is decoded too and its ink counted, which ties the
planes read here to what the previewer draws.

CUPS runs only filters that are owned by root and not writable by group or
others, from the filter/ folder of its ServerBin; make_serverbin builds such
a folder (the system's filters linked, ours copied 0755). Filters started by
cupsd run as the user lp, so every folder the tests make for cupsd is 0755.
"""
import argparse
import contextlib
import ctypes
import fcntl
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib
from dataclasses import dataclass, field

DPI = 203
POPCOUNT = bytes(bin(i).count("1") for i in range(256))
# The two ends of every cancelled job: 720 bytes 00, then ESC @.
CANCEL_TAIL = b"\x00" * 720 + b"\x1b\x40"
# The commands that carry raster rows.
RASTER_COMMANDS = ("GS ( L 112", "GS ( L 50", "GS v 0", "08 43 52")


# ---------------------------------------------------------------- settings

@dataclass
class Paths:
    """Where the build and the sources are, and where failed runs are kept."""
    build: str
    source: str
    keep: str
    cupsfilter: str = "/usr/sbin/cupsfilter"
    cmake: str = "cmake"
    cupsd: str = "/usr/sbin/cupsd"

    @property
    def filter(self):
        return os.path.join(self.build, "rastertoTalvero")

    @property
    def prefilter(self):
        return os.path.join(self.build, "prefilter", "rastertoTalveroPlanes")

    @property
    def preview(self):
        return os.path.join(self.build, "tools", "talvero-preview")

    @property
    def ppd_dir(self):
        return os.path.join(self.build, "ppd")

    def ppd(self, model):
        return os.path.join(self.ppd_dir, f"tlv{model:03d}.ppd")

    @property
    def fixtures(self):
        return os.path.join(self.source, "tests", "fixtures", "chain")

    def fixture(self, name):
        return os.path.join(self.fixtures, name)


PATHS = None  # set by main()
_RUNNING = set()  # cupsd instances not yet stopped
_OPEN = set()     # workspaces not yet closed


def _interrupt(signum, frame):
    """SIGTERM handler: raises KeyboardInterrupt in the main thread."""
    raise KeyboardInterrupt


def main(description):
    """Parses the paths, runs the unittest cases of __main__; exits 0 only when all pass."""
    global PATHS
    p = argparse.ArgumentParser(description=description)
    p.add_argument("--build-dir", required=True, help="the build tree (binaries, ppd/)")
    p.add_argument("--source-dir", required=True, help="the source tree (tests/fixtures/chain)")
    p.add_argument("--keep-dir", required=True, help="where the artefacts of a failed run are kept")
    p.add_argument("--cupsfilter", default="/usr/sbin/cupsfilter")
    p.add_argument("--cmake", default="cmake")
    p.add_argument("--cupsd", default="/usr/sbin/cupsd")
    args, rest = p.parse_known_args()
    PATHS = Paths(os.path.abspath(args.build_dir), os.path.abspath(args.source_dir),
                  os.path.abspath(args.keep_dir), args.cupsfilter, args.cmake, args.cupsd)
    missing = [path for path in (PATHS.filter, PATHS.prefilter, PATHS.preview, PATHS.ppd(31))
               if not os.path.exists(path)]
    if missing:
        print("missing build outputs (build the project first): " + ", ".join(missing))
        return 1
    if os.geteuid() != 0:
        # cupsd needs root, and run as root CUPS starts only root-owned filters.
        print("these tests run cupsd and cupsfilter as root: run them as root")
        return 1
    # A CTest timeout sends SIGTERM first: end the run as an interrupt, so that
    # cupsd is stopped and the workspaces are kept below.
    signal.signal(signal.SIGTERM, _interrupt)
    program = None
    try:
        program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    except KeyboardInterrupt:
        print("\ninterrupted")
    finally:
        for cupsd in list(_RUNNING):
            cupsd.stop()
        for ws in list(_OPEN):
            ws.failed = ws.failed or program is None
            ws.close()
    if program is None:
        return 1
    result = program.result
    print(f"{result.testsRun - len(result.failures) - len(result.errors)} passed, "
          f"{len(result.failures) + len(result.errors)} failed")
    return 0 if result.wasSuccessful() else 1


class Workspace:
    """A scratch folder for one test class; kept under --keep-dir when a test failed.

    Everything the chain produces (device files, logs, printer bytes, preview
    pictures) is written here, so a failure message can name the file."""

    def __init__(self, name):
        self.name = name
        self.path = tempfile.mkdtemp(prefix=f"talvero-{name}-")
        os.chmod(self.path, 0o755)
        self.failed = False
        _OPEN.add(self)

    def join(self, *parts):
        """A path inside the workspace."""
        return os.path.join(self.path, *parts)

    def mkdir(self, *parts):
        """Makes a folder inside the workspace that the lp user can enter; returns its path."""
        path = self.join(*parts)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, 0o755)
        return path

    def kept_path(self, path):
        """Where `path` (inside the workspace) will be found if the run fails."""
        rel = os.path.relpath(path, self.path)
        return os.path.join(PATHS.keep, os.path.basename(self.path), rel)

    def close(self):
        """Copies the workspace under --keep-dir if a test failed, then removes it."""
        if self not in _OPEN:
            return
        _OPEN.discard(self)
        if self.failed:
            dest = os.path.join(PATHS.keep, os.path.basename(self.path))
            shutil.rmtree(dest, ignore_errors=True)
            os.makedirs(PATHS.keep, exist_ok=True)
            shutil.copytree(self.path, dest, symlinks=True, ignore_dangling_symlinks=True,
                            ignore=shutil.ignore_patterns("serverbin", "data", "*.sock"))
            print(f"\nartefacts of the failed {self.name} tests kept in {dest}")
        shutil.rmtree(self.path, ignore_errors=True)


class ChainTestCase(unittest.TestCase):
    """A TestCase whose class owns a Workspace; artefacts are kept when any test fails."""
    workspace_name = "chain"

    @classmethod
    def setUpClass(cls):
        cls.ws = Workspace(cls.workspace_name)
        cls.addClassCleanup(cls.ws.close)
        try:
            cls.set_up_chain()
        except BaseException:
            cls.ws.failed = True
            raise

    @classmethod
    def set_up_chain(cls):
        """What the class needs before its tests (a cupsd, an install, ...); nothing by default."""

    def run(self, result=None):
        result = result or self.defaultTestResult()
        before = len(result.failures) + len(result.errors)
        outcome = super().run(result)
        if len(result.failures) + len(result.errors) > before:
            type(self).ws.failed = True
        return outcome

    def artefact(self, path):
        """A note for failure messages: where to look at `path` afterwards."""
        return f"(artefact: {self.ws.kept_path(path)})"


# ---------------------------------------------------------------- processes

def run(cmd, timeout=60, env=None, check=True):
    """Runs `cmd` with no input; returns the CompletedProcess (stdout and stderr
    as bytes). Raises AssertionError with both on a non-zero exit if `check`."""
    proc = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, env=env)
    if check and proc.returncode != 0:
        raise AssertionError(f"{' '.join(cmd)} exited with {proc.returncode}\n"
                             f"stdout: {proc.stdout.decode(errors='replace')[-2000:]}\n"
                             f"stderr: {proc.stderr.decode(errors='replace')[-2000:]}")
    return proc


def wait_for(predicate, timeout, what, interval=0.1):
    """Polls `predicate` until it returns a true value (returned), or fails after `timeout` s."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on right now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_virtual_printer(tool, out_dir, paper, *extra, stderr=subprocess.PIPE, **popen):
    """Starts talvero-virtual-printer `tool` on a free port of 127.0.0.1, its jobs in `out_dir`,
    with a control port of its own (see control_printer).

    Returns the process (standard output a text pipe; its control port in
    `control_port`) and the port its first line names; kills it and fails
    when that line does not come."""
    proc = subprocess.Popen([tool, "--port", "0", "--control-port", "0", "--out", out_dir, "--paper", paper, *extra],
                            stdout=subprocess.PIPE, stderr=stderr, text=True, **popen)
    first = proc.stdout.readline()
    m = re.search(r"listening on 127\.0\.0\.1:(\d+) .*control 127\.0\.0\.1:(\d+)", first)
    if not m:
        proc.kill()
        detail = proc.stderr.read() if stderr == subprocess.PIPE else ""
        raise AssertionError(f"{tool} did not start: {first!r} {detail}")
    proc.control_port = int(m.group(2))
    return proc, int(m.group(1))


def control_printer(proc, command):
    """Sends one control command ("paper empty", "cover open", "ready", "status", ...)
    to the virtual printer `proc`; returns its state: {key: value}, flags as True."""
    with socket.create_connection(("127.0.0.1", proc.control_port), timeout=10) as s:
        s.sendall(command.encode() + b"\n")
        reply = s.makefile().readline().strip()
    if not reply.startswith("ok "):
        raise AssertionError(f"virtual printer control '{command}': {reply!r}")
    return dict(word.split("=", 1) if "=" in word else (word, True) for word in reply.split()[1:])


def _die_with_parent():
    """In a child: asks the kernel for SIGTERM when the test process dies (even by SIGKILL)."""
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def serverbin_dir():
    """The system's CUPS ServerBin (cups-config --serverbin)."""
    out = run(["cups-config", "--serverbin"]).stdout.decode().strip()
    return out or "/usr/lib/cups"


def datadir():
    """The system's CUPS DataDir (cups-config --datadir)."""
    out = run(["cups-config", "--datadir"]).stdout.decode().strip()
    return out or "/usr/share/cups"


def make_serverbin(dest, ours):
    """Fills `dest` as a CUPS ServerBin: the system's folders and filters linked,
    the files of `ours` ({name: path}) copied into filter/ with mode 0755
    (a name already there as a real file is left as it is)."""
    system = serverbin_dir()
    os.makedirs(os.path.join(dest, "filter"), exist_ok=True)
    for entry in os.listdir(system):
        if entry != "filter" and not os.path.lexists(os.path.join(dest, entry)):
            os.symlink(os.path.join(system, entry), os.path.join(dest, entry))
    for name in os.listdir(os.path.join(system, "filter")):
        target = os.path.join(dest, "filter", name)
        if name not in ours and not os.path.lexists(target):
            os.symlink(os.path.join(system, "filter", name), target)
    for name, path in ours.items():
        target = os.path.join(dest, "filter", name)
        if os.path.lexists(target):
            os.unlink(target)
        shutil.copyfile(path, target)
        os.chmod(target, 0o755)
    os.chmod(dest, 0o755)
    os.chmod(os.path.join(dest, "filter"), 0o755)
    return dest


def make_datadir(dest, model_links):
    """Fills `dest` as a CUPS DataDir: the system's entries linked, and model/
    holding the links of `model_links` ({name: target}) only."""
    system = datadir()
    os.makedirs(dest, exist_ok=True)
    os.chmod(dest, 0o755)
    for entry in os.listdir(system):
        if entry != "model":
            os.symlink(os.path.join(system, entry), os.path.join(dest, entry))
    model = os.path.join(dest, "model")
    os.makedirs(model, exist_ok=True)
    os.chmod(model, 0o755)
    for name, target in model_links.items():
        os.symlink(target, os.path.join(model, name))
    return dest


def sandbox_conf(ws, filters):
    """A cups-files.conf for `cupsfilter -c` whose ServerBin runs `filters`; returns its path."""
    sb = make_serverbin(ws.mkdir("serverbin"), filters)
    ws.mkdir("serverroot")
    conf = ws.join("cupsfilter-files.conf")
    with open(conf, "w") as f:
        f.write(f"ServerBin {sb}\nServerRoot {ws.join('serverroot')}\nDataDir {datadir()}\n")
    return conf


def cupsfilter(conf, ppd, document, options, out_path, timeout=60):
    """Runs `cupsfilter -e` as cupsd would run the PPD's chain; returns (status, stderr text)."""
    cmd = [PATHS.cupsfilter, "-c", conf, "-e", "-p", ppd, "-m", "printer/talvero"]
    for option in options:
        cmd += ["-o", option]
    with open(out_path, "wb") as out:
        proc = subprocess.run(cmd + [document], stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.PIPE, timeout=timeout)
    err = proc.stderr.decode(errors="replace")
    with open(out_path + ".log", "w") as log:
        log.write(err)
    return proc.returncode, err


# ---------------------------------------------------------------- private cupsd

# ipptool's request for the state and page count of job $job_id.
GET_JOB_TEST = """{
  NAME "Get-Job-Attributes"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job_id
  ATTR keyword requested-attributes job-state,job-impressions-completed,job-printer-state-message
  STATUS successful-ok
  DISPLAY job-state
  DISPLAY job-impressions-completed
  DISPLAY job-printer-state-message
}
"""

class Cupsd:
    """A cupsd of the test's own, in the foreground, on a free port of 127.0.0.1.

    Its ServerRoot, logs, spool, cache and state live in `root`; it listens on
    no Unix socket, so it never meets the system's scheduler. Any client may
    administer it from 127.0.0.1 without authentication."""

    def __init__(self, root, serverbin, data_dir, log_level="debug", conf_lines=()):
        self.root = root
        self.conf_lines = list(conf_lines)  # more cupsd.conf directives
        self.serverbin = serverbin
        self.data_dir = data_dir
        self.log_level = log_level
        self.proc = None
        self.port = None
        for sub in ("conf", "log", "spool", "cache", "state"):
            os.makedirs(os.path.join(root, sub), exist_ok=True)
            os.chmod(os.path.join(root, sub), 0o755)
        os.makedirs(os.path.join(root, "spool", "tmp"), exist_ok=True)
        os.chmod(os.path.join(root, "spool", "tmp"), 0o1777)
        os.chmod(root, 0o755)

    @property
    def host(self):
        """host:port for the -h option of the CUPS clients."""
        return f"127.0.0.1:{self.port}"

    @property
    def error_log(self):
        """The path of cupsd's error log."""
        return os.path.join(self.root, "log", "error_log")

    def _write_config(self):
        """Writes cups-files.conf and cupsd.conf for the current port."""
        r = self.root
        with open(os.path.join(r, "conf", "cups-files.conf"), "w") as f:
            f.write(f"""ServerRoot {r}/conf
ServerBin {self.serverbin}
DataDir {self.data_dir}
CacheDir {r}/cache
StateDir {r}/state
RequestRoot {r}/spool
TempDir {r}/spool/tmp
AccessLog {r}/log/access_log
ErrorLog {r}/log/error_log
PageLog {r}/log/page_log
Printcap {r}/state/printcap
FileDevice Yes
SystemGroup root
""")
        with open(os.path.join(r, "conf", "cupsd.conf"), "w") as f:
            f.write(f"""LogLevel {self.log_level}
Listen 127.0.0.1:{self.port}
Browsing No
WebInterface No
DefaultAuthType None
MaxLogSize 0
{"".join(line + chr(10) for line in self.conf_lines)}<Location />
  Order allow,deny
  Allow from 127.0.0.1
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
""")

    def start(self, attempts=3):
        """Starts cupsd and waits until it answers; tries another port if one was taken."""
        for _ in range(attempts):
            self.port = free_port()
            self._write_config()
            conf = os.path.join(self.root, "conf")
            with open(os.path.join(self.root, "log", "cupsd.out"), "ab") as out:
                self.proc = subprocess.Popen(
                    [PATHS.cupsd, "-f", "-c", f"{conf}/cupsd.conf", "-s", f"{conf}/cups-files.conf"],
                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                    preexec_fn=_die_with_parent)
            _RUNNING.add(self)
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and self.proc.poll() is None:
                if self.lpstat("-r", check=False).stdout.decode().startswith("scheduler is running"):
                    return self
                time.sleep(0.1)
            self.stop()
        raise AssertionError(f"cupsd did not start; see {self.root}/log/cupsd.out and error_log")

    def stop(self):
        """Stops cupsd (SIGTERM, then SIGKILL after 10 s) if it runs."""
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None
        _RUNNING.discard(self)

    def lpstat(self, *args, check=True):
        """Runs lpstat against this cupsd; returns the CompletedProcess."""
        return run(["lpstat", "-h", self.host, *args], check=check, timeout=30)

    def lpadmin(self, *args):
        """Runs lpadmin against this cupsd; raises if it fails."""
        return run(["/usr/sbin/lpadmin", "-h", self.host, *args], timeout=60)

    def lpinfo_models(self):
        """`lpinfo -m`: {name: make-and-model}."""
        out = run(["/usr/sbin/lpinfo", "-h", self.host, "-m"], timeout=90).stdout.decode()
        models = {}
        for line in out.splitlines():
            name, _, make = line.partition(" ")
            models[name] = make
        return models

    def lp(self, queue, document, *options):
        """Submits `document` to `queue`; returns the job id (e.g. "talvero-3")."""
        cmd = ["lp", "-h", self.host, "-d", queue]
        for option in options:
            cmd += ["-o", option]
        out = run(cmd + [document], timeout=30).stdout.decode()
        m = re.search(r"request id is (\S+)", out)
        if not m:
            raise AssertionError(f"lp printed no job id: {out!r}")
        return m.group(1)

    def cancel(self, job):
        """Cancels `job` with the cancel command."""
        run(["cancel", "-h", self.host, job], timeout=30)

    def job_active(self, job):
        """True while `job` is pending, held or processing."""
        out = self.lpstat("-W", "not-completed", "-o", job.rsplit("-", 1)[0], check=False).stdout.decode()
        return any(line.split()[:1] == [job] for line in out.splitlines())

    def wait_job(self, job, timeout=60):
        """Waits until `job` has left the queue (completed, cancelled or aborted)."""
        wait_for(lambda: not self.job_active(job), timeout, f"job {job} to finish")

    def job_attributes(self, job):
        """job-state, job-impressions-completed and job-printer-state-message of
        `job`, asked with ipptool's Get-Job-Attributes: {name: value text}."""
        test = os.path.join(self.root, "get-job.test")
        with open(test, "w") as f:
            f.write(GET_JOB_TEST)
        number = str(job).rsplit("-", 1)[-1]
        queue = str(job).rsplit("-", 1)[0]
        out = run(["ipptool", "-t", "-d", f"job_id={number}",
                   f"ipp://{self.host}/printers/{queue}", test], timeout=30).stdout.decode()
        return dict(re.findall(r"^\s+([\w-]+) \(\w+\) = (.*)$", out, re.M))

    def queue_defaults(self, queue):
        """The queue's defaults as `lpoptions -p` lists them: {name: value}."""
        out = run(["lpoptions", "-h", self.host, "-p", queue], timeout=30).stdout.decode()
        return dict(re.findall(r"([\w-]+)=('[^']*'|\S*)", out))

    def printer_state(self, queue):
        """lpstat -p's line for `queue`, e.g. "printer talvero is idle.  enabled since ..."."""
        return self.lpstat("-p", queue, check=False).stdout.decode().strip()

    def log(self):
        """The whole error log so far."""
        with open(self.error_log, errors="replace") as f:
            return f.read()

    def job_log(self, job):
        """The error-log lines of job number `job` ("talvero-3" or 3)."""
        number = str(job).rsplit("-", 1)[-1]
        return [line for line in self.log().splitlines() if f"[Job {number}]" in line]


def start_build_cupsd(cls):
    """For ChainTestCase class `cls`: a private cupsd that runs the build's
    filters and offers its PPDs (cls.cupsd, stopped when the class ends), and
    cls.conf, a cupsfilter configuration with the same filters."""
    cls.conf = sandbox_conf(cls.ws, {"rastertoTalvero": PATHS.filter, "rastertoTalveroPlanes": PATHS.prefilter})
    data = make_datadir(cls.ws.join("data"), {"talvero": PATHS.ppd_dir})
    cls.cupsd = Cupsd(cls.ws.mkdir("cupsd"), cls.ws.join("serverbin"), data).start()
    cls.addClassCleanup(cls.cupsd.stop)


class SocketPrinter:
    """A raw TCP printer on 127.0.0.1 for the socket backend: keeps the bytes of
    each connection. Serves until close(); each connection ends when the
    backend shuts its side down."""

    def __init__(self):
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(4)
        self.server.settimeout(0.2)
        self.port = self.server.getsockname()[1]
        self.jobs = []
        self.lock = threading.Lock()
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        """Accepts connections one at a time and keeps their bytes, until close()."""
        while not self.stopping:
            try:
                conn, _ = self.server.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            data = bytearray()
            with self.lock:
                self.jobs.append(data)
            conn.settimeout(60)
            with conn:
                while True:
                    try:
                        chunk = conn.recv(65536)
                    except OSError:
                        break
                    if not chunk:
                        break
                    with self.lock:
                        data += chunk

    def received(self):
        """A copy of the bytes of every connection so far, in order."""
        with self.lock:
            return [bytes(d) for d in self.jobs]

    def close(self):
        """Stops serving and closes the listening socket."""
        self.stopping = True
        self.thread.join(timeout=5)
        self.server.close()


# ---------------------------------------------------------------- printer bytes

@dataclass
class Command:
    """One line of `talvero-preview --list`: where the command starts and ends, what it is."""
    offset: int
    end: int
    name: str
    fields: str

    def number(self, key):
        """The number after `key=` in the fields (hex for c=); raises if absent."""
        m = re.search(r"(?:^|\s)" + re.escape(key) + r"=(\w+)", self.fields)
        if not m:
            raise AssertionError(f"no {key}= in '{self.name} {self.fields}'")
        return int(m.group(1), 16 if key == "c" else 10)

    def __str__(self):
        return f"{self.offset:8d}  {self.name} {self.fields}"


@dataclass
class Page:
    """A printed page: its raster bands stitched together in paper order."""
    bytes_per_row: int
    rows: int
    black: bytearray
    colour: bytearray       # all zero when no band had a second colour
    has_colour: bool = False
    sources: set = field(default_factory=set)  # command names that carried the bands

    def row_dots(self, plane, y, x0=0, x1=None):
        """Dots of `plane` in row y from dot x0 up to (not including) x1."""
        x1 = self.bytes_per_row * 8 if x1 is None else x1
        start = y * self.bytes_per_row
        count = 0
        for x in range(x0, x1):
            if plane[start + x // 8] & (0x80 >> (x % 8)):
                count += 1
        return count

    def dots(self, plane, box=None):
        """Dots of `plane` ("black" or "colour") inside box (x0, y0, x1, y1), ends excluded; all if None."""
        data = getattr(self, plane)
        if box is None:
            return sum(data.translate(POPCOUNT))
        x0, y0, x1, y1 = box
        x0, y0 = max(0, x0), max(0, y0)
        x1, y1 = min(self.bytes_per_row * 8, x1), min(self.rows, y1)
        total = 0
        bx0, bx1 = -(-x0 // 8), x1 // 8  # whole bytes inside the box
        for y in range(y0, y1):
            start = y * self.bytes_per_row
            if bx0 < bx1:
                total += sum(data[start + bx0:start + bx1].translate(POPCOUNT))
                total += self.row_dots(data, y, x0, bx0 * 8) + self.row_dots(data, y, bx1 * 8, x1)
            else:
                total += self.row_dots(data, y, x0, x1)
        return total

    def inked_rows(self):
        """Indexes of the rows with a dot in either plane."""
        bpr = self.bytes_per_row
        zero = bytes(bpr)
        return [y for y in range(self.rows)
                if self.black[y * bpr:(y + 1) * bpr] != zero or self.colour[y * bpr:(y + 1) * bpr] != zero]


def decode_runs(code, expected):
    """Expands the run-length code of the 08 43 52 command: 00 or FF followed by
    a count stands for that many copies; any other byte for itself."""
    out = bytearray()
    i = 0
    while len(out) < expected:
        if i >= len(code):
            raise AssertionError(f"run-length code ends after {len(out)} of {expected} bytes")
        b = code[i]
        if b in (0x00, 0xFF):
            if i + 1 >= len(code):
                raise AssertionError("run-length code ends inside a run")
            out += bytes([b]) * code[i + 1]
            i += 2
        else:
            out.append(b)
            i += 1
    if len(out) != expected:
        raise AssertionError(f"run-length code overshoots: {len(out)} of {expected} bytes")
    return out


class Printout:
    """The printer bytes of one job, decoded by talvero-preview.

    commands: every command as the previewer lists it; pages: the raster
    pages (runs of bands with no other command between them); tail: the
    commands after the last band; error: the previewer's complaint, if any."""

    def __init__(self, path, width=576):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        proc = run([PATHS.preview, "--list", "--width", str(width), path], check=False)
        self.error = proc.stderr.decode(errors="replace").strip() if proc.returncode != 0 else None
        self.warnings = proc.stderr.decode(errors="replace").strip()
        self.commands = self._parse(proc.stdout.decode(errors="replace"))
        self.pages, self.tail = self._pages()

    def _parse(self, listing):
        """Turns the --list lines into Commands, each ending where the next begins."""
        starts = []
        for line in listing.splitlines():
            m = re.match(r"\s*(\d+)  (.{11}) ?(.*)$", line)
            if not m:
                raise AssertionError(f"unexpected --list line: {line!r}")
            starts.append((int(m.group(1)), m.group(2).strip(), m.group(3)))
        commands = []
        for i, (offset, name, fields) in enumerate(starts):
            end = starts[i + 1][0] if i + 1 < len(starts) else len(self.data)
            commands.append(Command(offset, end, name, fields))
        return commands

    def _band_data(self, c):
        """The rows x bytes/row plane bytes a raster command carries."""
        size = c.number("data")
        if c.name == "08 43 52":
            code = self.data[c.offset + 12:c.offset + 12 + c.number("code")]
            return decode_runs(code, size)
        # GS ( L 112 and GS v 0 end with their plane data.
        return bytearray(self.data[c.end - size:c.end])

    def _pages(self):
        pages = []
        bands = []  # (bytes per row, black, colour or None, source)
        stored = {}

        def close_page():
            """Stitches the bands collected so far into a Page."""
            if not bands:
                return
            bpr = max(b[0] for b in bands)
            black, colour = bytearray(), bytearray()
            for width, k, c, _ in bands:
                rows = len(k) // width
                for y in range(rows):
                    pad = bytes(bpr - width)
                    black += k[y * width:(y + 1) * width] + pad
                    colour += (c[y * width:(y + 1) * width] if c else bytes(width)) + pad
            pages.append(Page(bpr, len(black) // bpr, black, colour,
                              any(b[2] is not None for b in bands), {b[3] for b in bands}))
            bands.clear()

        for c in self.commands:
            if c.name == "GS ( L 112":
                stored[c.number("c")] = (c.number("bytes/row"), self._band_data(c))
            elif c.name == "GS ( L 50":
                black, colour = stored.pop(0x31, None), stored.pop(0x32, None)
                width = (black or colour)[0]
                k = black[1] if black else bytearray(len(colour[1]))
                bands.append((width, k, colour[1] if colour else None, c.name))
            elif c.name in ("GS v 0", "08 43 52"):
                width = c.number("x") if c.name == "GS v 0" else c.number("bytes/row")
                bands.append((width, self._band_data(c), None, c.name))
            else:
                close_page()
        close_page()
        last = max((i for i, c in enumerate(self.commands) if c.name in RASTER_COMMANDS), default=-1)
        return pages, self.commands[last + 1:]

    def tail_names(self):
        """The tail as short strings: "LF", "GS V m=41 feed 1", ..."""
        out = []
        for c in self.tail:
            if c.name == "GS V":
                m = re.match(r"m=(\w+).*?(?:feed (\d+))?", c.fields)
                feed = re.search(r"feed (\d+)", c.fields)
                out.append(f"GS V m={m.group(1)}" + (f" feed {feed.group(1)}" if feed else ""))
            else:
                out.append(c.name)
        return out

    def listing(self, limit=40):
        """The first and last commands, for failure messages."""
        lines = [str(c) for c in self.commands]
        if len(lines) > limit:
            lines = lines[:limit // 2] + [f"   ... {len(lines) - limit} more ..."] + lines[-limit // 2:]
        return "\n".join(lines)

    def render(self, png_path, width=576):
        """Draws the receipt with talvero-preview; returns (black, red) pixel counts of the picture."""
        run([PATHS.preview, "--width", str(width), "-o", png_path, self.path], check=False)
        return png_ink(png_path)


def png_ink(path):
    """Counts the black and the red pixels of a talvero-preview picture (a
    palette PNG, palette 1 black dots, 2 red dots)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(f"{path} is not a PNG")
    pos, idat, header, palette = 8, bytearray(), None, None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">2I5B", body)
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            idat += body
    width, height, depth, colour_type, _, _, interlace = header
    if colour_type != 3 or interlace or depth not in (1, 2, 4, 8):
        raise AssertionError(f"{path}: not the previewer's palette picture ({header})")
    if palette[1] != (0, 0, 0) or palette[2][0] < 128 or palette[2][1:] != (0, 0):
        raise AssertionError(f"{path}: palette entries 1 and 2 are not black and red: {palette[:3]}")
    raw = zlib.decompress(bytes(idat))
    stride = (width * depth + 7) // 8
    per_byte = 8 // depth
    counts = [0, 0, 0]
    table = {}
    for value in range(256):
        idx = [(value >> (8 - depth * (i + 1))) & ((1 << depth) - 1) for i in range(per_byte)]
        table[value] = (idx.count(1), idx.count(2))
    rows = bytearray()
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        if line[0] != 0:
            raise AssertionError(f"{path}: row {y} uses PNG filter {line[0]}; the previewer writes none")
        rows += line[1:]
    for value, (k, r) in table.items():
        if k or r:
            n = rows.count(bytes([value]))
            counts[1] += n * k
            counts[2] += n * r
    return counts[1], counts[2]


# ---------------------------------------------------------------- documents

def _make_fixtures():
    """tests/fixtures/chain/make_fixtures.py as a module (read, never rewritten)."""
    sys.path.insert(0, PATHS.fixtures)
    try:
        import make_fixtures
    finally:
        sys.path.pop(0)
    return make_fixtures


def fixture_areas():
    """AREAS, PAGE_H and TEXT of the fixtures' layout."""
    make_fixtures = _make_fixtures()
    return make_fixtures.AREAS, make_fixtures.PAGE_H, make_fixtures.TEXT


def ppd_value(ppd, keyword):
    """The value of `*keyword: value` in a PPD (quotes removed), or None."""
    with open(ppd, encoding="latin-1") as f:
        for line in f:
            if line.startswith(f"*{keyword}:"):
                return line.split(":", 1)[1].strip().strip('"')
    return None


def imageable_left(ppd, size):
    """The left edge of the imageable area of page size `size`, in points."""
    with open(ppd, encoding="latin-1") as f:
        for line in f:
            m = re.match(r'\*ImageableArea %s[/:].*"([\d.]+) ' % re.escape(size), line)
            if m:
                return float(m.group(1))
    raise AssertionError(f"no ImageableArea for {size} in {ppd}")


def many_page_pdf(path, pages, label="PAGE", blank=False):
    """Writes a PDF of `pages` identical 80 x 297 mm pages (black text, a black
    bar, red text), so that every page gives the same printer bytes; with
    `blank`, pages without any mark."""
    w, h = 80 * 72 / 25.4, 297 * 72 / 25.4
    content = b"" if blank else (f"BT /F1 18 Tf 0 g 20 784 Td ({label} TEXT) Tj ET "
                                 f"0 g 20 700 186 60 re f "
                                 f"BT /F1 18 Tf 1 0 0 rg 20 654 Td (RED TEXT) Tj ET").encode()
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None,
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>",
               b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream"]
    kids = []
    for _ in range(pages):
        objects.append((f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 {w:.2f} {h:.2f}] "
                        f"/Resources << /Font << /F1 3 0 R >> >> /Contents 4 0 R >>").encode())
        kids.append(len(objects))
    objects[1] = (f"<< /Type /Pages /Kids [{' '.join(f'{k} 0 R' for k in kids)}] "
                  f"/Count {pages} >>").encode()
    with open(path, "wb") as f:
        f.write(_make_fixtures().assemble_pdf(objects))
    return path


def strip_status_queries(data):
    """`data` without the status queries (DLE EOT n, GS r n: three bytes each)
    that talvero-preview finds between its commands."""
    with tempfile.NamedTemporaryFile(suffix=".bin") as f:
        f.write(data)
        f.flush()
        listing = run([PATHS.preview, "--list", f.name], check=False).stdout.decode(errors="replace")
    queries = [int(m.group(1)) for m in re.finditer(r"(?m)^\s*(\d+)  (?:DLE EOT|GS r) ", listing)]
    out, at = bytearray(), 0
    for offset in queries:
        out += data[at:offset]
        at = offset + 3
    return bytes(out + data[at:])


def first_difference(a, b):
    """The first offset where byte strings a and b differ (the shorter length if one is a prefix)."""
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def hex_around(data, offset, before=16, after=16):
    """A hex dump of data[offset-before : offset+after], for failure messages."""
    start = max(0, offset - before)
    return f"@{start}: " + data[start:offset + after].hex(" ")


@contextlib.contextmanager
def file_lock(path):
    """Holds an exclusive flock on `path` (created if missing) inside the block."""
    with open(path, "a") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


# ---------------------------------------------------------------- installed driver

def check_installed_print(case, cupsd, queue, document, filter_dir, model, timeout=60):
    """Prints `document` on `queue` (a file: queue whose device is case.ws's
    device.out) of an installed driver, and checks in TestCase `case` that the
    job ran both filters from `filter_dir`, completed, and printed the same
    bytes as the build tree's chain run by cupsfilter for model `model`."""
    device = case.ws.join("device.out")
    job = cupsd.lp(queue, document)
    cupsd.wait_job(job, timeout=timeout)
    log = "\n".join(cupsd.job_log(job))
    for name in ("rastertoTalvero", "rastertoTalveroPlanes"):
        case.assertRegex(log, rf"Started filter {re.escape(filter_dir)}/{name} \(PID",
                         f"{job} did not run the installed {name}; {case.artefact(cupsd.error_log)}")
    case.assertIn("Job completed.", log, f"{job} did not complete; {case.artefact(cupsd.error_log)}")
    conf = sandbox_conf(case.ws, {"rastertoTalvero": PATHS.filter, "rastertoTalveroPlanes": PATHS.prefilter})
    reference = case.ws.join("reference.bin")
    status, err = cupsfilter(conf, PATHS.ppd(model), document, [], reference)
    case.assertEqual(status, 0, err[-2000:])
    with open(device, "rb") as f, open(reference, "rb") as g:
        got, want = f.read(), g.read()
    at = first_difference(got, want)
    case.assertTrue(got == want, f"the installed driver printed other bytes than the built one, first at {at}:\n"
                                 f"  installed: {hex_around(got, at)}\n  built:     {hex_around(want, at)}\n"
                                 f"  {case.artefact(device)}, {case.artefact(reference)}")
    return want
