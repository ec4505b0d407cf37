"""Shared pieces of the Printer Application tests: the app, its printers'
devices, ipptool and headless Chromium.

The app (talvero-printer-app) runs in the foreground on a free port of
127.0.0.1, with its spool, state, log and client socket in the test's
workspace (HOME, XDG_CONFIG_HOME and TMPDIR point there). Its printers print
to talvero-virtual-printer processes, which keep every job as files and
answer the paper status queries; what a job printed is read back with the
real-chain tests' Printout (talvero-preview --list, planes per page).
Everything else comes from tests/chain/chainkit.py.
"""
import contextlib
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "chain"))
import chainkit as kit  # noqa: E402

SKIP = 77  # the exit status CTest reads as "skipped"
APP = None  # path of talvero-printer-app, set by main()
ARTEFACTS = None  # where screenshots and job pictures are kept, set by main()
IPPTOOL = shutil.which("ipptool") or "/usr/bin/ipptool"
CHROMIUM = shutil.which("chromium")
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def main(description):
    """Takes --app and --artefacts off the command line, skips (status 77)
    when the app is not built, and runs the tests with chainkit.main."""
    global APP, ARTEFACTS
    args = sys.argv[1:]
    for flag in ("--app", "--artefacts"):
        if flag in args:
            i = args.index(flag)
            value = args[i + 1]
            del args[i:i + 2]
            if flag == "--app":
                APP = value
            else:
                ARTEFACTS = value
    sys.argv[1:] = args
    APP = os.environ.get("TALVERO_APP") or APP
    if not APP or not os.access(APP, os.X_OK):
        print(f"SKIPPED: no talvero-printer-app at {APP} (it is built when pkg-config finds "
              "libpappl-dev; TALVERO_APP may name another build)")
        return SKIP
    os.makedirs(ARTEFACTS, exist_ok=True)
    return kit.main(description)


def keep(path, name=None):
    """Copies `path` into the artefacts folder (kept after the run); returns the copy."""
    dest = os.path.join(ARTEFACTS, name or os.path.basename(path))
    shutil.copyfile(path, dest)
    return dest


class VirtualPrinter:
    """A talvero-virtual-printer on a free port of 127.0.0.1, its jobs in the workspace."""

    def __init__(self, ws, name, paper="ok", width=576):
        self.dir = ws.mkdir(f"vp-{name}")
        self.width = width
        self.lines = []
        self.cond = threading.Condition()
        self.stderr_path = ws.join(f"vp-{name}.err")
        tool = os.path.join(kit.PATHS.build, "tools", "talvero-virtual-printer")
        with open(self.stderr_path, "wb") as err:
            self.proc, self.port = kit.start_virtual_printer(tool, self.dir, paper, "--width", str(width),
                                                             stderr=err, stdin=subprocess.DEVNULL,
                                                             preexec_fn=kit._die_with_parent)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        """Collects the lines of standard output."""
        for line in self.proc.stdout:
            with self.cond:
                self.lines.append(line.rstrip("\n"))
                self.cond.notify_all()

    @property
    def uri(self):
        return f"socket://127.0.0.1:{self.port}"

    def job_count(self):
        """How many jobs it has kept so far."""
        with self.cond:
            return sum(1 for line in self.lines if line.startswith("job "))

    def wait_job(self, number, timeout=60):
        """Waits for job `number`; returns its Printout. Fails when the job was rejected."""
        prefix = f"job {number}:"
        with self.cond:
            if not self.cond.wait_for(lambda: any(l.startswith(prefix) for l in self.lines), timeout):
                raise AssertionError(f"the virtual printer got no job {number} in {timeout} s; "
                                     f"its lines: {self.lines[-5:]}")
            line = next(l for l in self.lines if l.startswith(prefix))
        if "REJECTED" in line:
            with open(self.stderr_path) as f:
                raise AssertionError(f"the virtual printer rejected job {number}: {f.read()[-1000:]}")
        return kit.Printout(self.job_file(number, "bin"), self.width)

    def settle(self, quiet=0.5, timeout=30):
        """Waits until no line has come for `quiet` seconds: every job sent so far is kept."""
        deadline = time.monotonic() + timeout
        with self.cond:
            seen = len(self.lines)
            while time.monotonic() < deadline:
                self.cond.wait(quiet)
                if len(self.lines) == seen:
                    return
                seen = len(self.lines)
        raise AssertionError(f"the virtual printer kept receiving jobs for {timeout} s")

    def job_file(self, number, kind):
        """The path of job-N.<kind>."""
        return os.path.join(self.dir, f"job-{number}.{kind}")

    def stop(self):
        """Stops it (SIGTERM); returns its exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        status = self.proc.wait(timeout=10)
        self.proc.stdout.close()
        with self.cond, open(self.dir + ".out", "w") as f:
            f.write("\n".join(self.lines) + "\n")
        return status


class App:
    """talvero-printer-app serving in the foreground, all its state in the workspace.

    It runs as the user nobody, as an ordinary user runs it (as root it would
    take over /run/talvero-printer-app.sock from any other instance), from a
    copy in the workspace (the build tree may be where nobody cannot go, such
    as /root), and the sub-commands reach it by its URI (-u)."""

    USER = "nobody"

    def __init__(self, ws, options=(), name="app"):
        """`options` are further server options (-o NAME=VALUE), after the defaults;
        `name` tells apart the servers of one workspace."""
        self.ws = ws
        self.options = [arg for option in options for arg in ("-o", option)]
        self.home = ws.mkdir(f"{name}-home")
        self.spool = os.path.join(self.home, "spool")
        self.log = os.path.join(self.home, "app.log")
        entry = pwd.getpwnam(self.USER)
        self.ids = {"user": entry.pw_uid, "group": entry.pw_gid, "extra_groups": []}
        os.chown(self.home, entry.pw_uid, entry.pw_gid)
        self.binary = ws.join("talvero-printer-app")  # one copy for the workspace's servers
        if not os.path.exists(self.binary):
            shutil.copy(APP, self.binary)
            os.chmod(self.binary, 0o755)
        self.env = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=self.home, TMPDIR=self.home)
        self.proc = None
        self.port = None

    def start(self, attempts=3):
        """Starts the server and waits until it accepts connections."""
        for _ in range(attempts):
            self.port = kit.free_port()
            with open(self.ws.join("app.out"), "ab") as out:
                self.proc = subprocess.Popen(
                    [self.binary, "server", "-o", f"server-port={self.port}", "-o", f"spool-directory={self.spool}",
                     "-o", f"log-file={self.log}", "-o", "log-level=debug", "-o", "listen-hostname=127.0.0.1",
                     *self.options],
                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, env=self.env,
                    preexec_fn=kit._die_with_parent, **self.ids)
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and self.proc.poll() is None:
                with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", self.port), 1):
                    return self
                time.sleep(0.1)
            self.stop()
        raise AssertionError(f"talvero-printer-app did not start; see {self.log} and app.out")

    def cli(self, command, *args, check=True):
        """Runs `talvero-printer-app COMMAND -u URI ARGS` against this server; returns stdout text."""
        args = (command, "-u", f"ipp://127.0.0.1:{self.port}/", *args)
        proc = subprocess.run([self.binary, *args], stdin=subprocess.DEVNULL, capture_output=True, env=self.env,
                              timeout=60, **self.ids)
        if check and proc.returncode != 0:
            raise AssertionError(f"talvero-printer-app {' '.join(args)} exited with {proc.returncode}: "
                                 f"{proc.stdout.decode(errors='replace')} {proc.stderr.decode(errors='replace')}")
        return proc.stdout.decode(errors="replace")

    def add(self, name, device_uri, driver):
        """Adds printer `name` on `device_uri` with `driver`; returns its IPP URI."""
        self.cli("add", "-d", name, "-v", device_uri, "-m", driver)
        return self.uri(name)

    def uri(self, name):
        return f"ipp://127.0.0.1:{self.port}/ipp/print/{name}"

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def stop(self):
        """Asks the server to shut down (`shutdown`), then SIGTERM, then SIGKILL."""
        if self.proc is None or self.proc.poll() is not None:
            return
        self.cli("shutdown", check=False)
        for sig in (None, signal.SIGTERM, signal.SIGKILL):
            if sig:
                self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout=8)
                return
            except subprocess.TimeoutExpired:
                pass


# ---------------------------------------------------------------- ipptool

def ipptool(uri, test, *args, timeout=120, check=False):
    """Runs `ipptool ARGS uri test`; returns (exit status, stdout text)."""
    proc = kit.run([IPPTOOL, "-T", "30", *args, uri, test], timeout=timeout, check=check)
    return proc.returncode, proc.stdout.decode(errors="replace") + proc.stderr.decode(errors="replace")


def _results(output):
    """(test name, PASS/FAIL/SKIP, [the lines ipptool gives on why]) of each test in `ipptool -tv` output."""
    results = []
    for line in output.splitlines():
        m = re.match(r"\s{4}(\S.*?)\s+\[(PASS|FAIL|SKIP)\]$", line)
        if m:
            results.append((m.group(1), m.group(2), []))
        elif results and re.match(r"\s{8}(EXPECTED|GOT|Duplicate|Bad|status-code = (?!successful))", line):
            results[-1][2].append(line.strip())
    return results


def failed_tests(output):
    """{test name: the lines on why it failed} of each [FAIL] in `ipptool -tv` output."""
    return {name: why for name, result, why in _results(output) if result == "FAIL"}


def passed_tests(output):
    """The names of the tests that passed."""
    return [name for name, result, _ in _results(output) if result == "PASS"]


def ipp_value(tag, value):
    """An ipptool ATTR value: quoted unless a number or enum."""
    return value if tag in ("integer", "enum", "boolean") else f'"{value}"'


def ipp_request(ws, uri, operation, groups, document=None, user="test", netns=None):
    """Sends `operation` to `uri` (its printer-uri, or its system-uri when it
    ends in /ipp/system) with ipptool, with attribute `groups` ({group tag:
    [(value tag, name, value)]}), `document` and requesting-user-name `user`,
    from network namespace `netns` when given; returns (status-code text,
    {name: value text} of the response)."""
    kind = "system" if uri.endswith("/ipp/system") else "printer"
    lines = [f"\tOPERATION {operation}", "\tGROUP operation-attributes-tag",
             "\tATTR charset attributes-charset utf-8", "\tATTR naturalLanguage attributes-natural-language en",
             f"\tATTR uri {kind}-uri $uri", f"\tATTR name requesting-user-name {user}"]
    for group, attributes in sorted(groups.items(), key=lambda g: g[0] != "operation-attributes-tag"):
        if group != "operation-attributes-tag":
            lines.append(f"\tGROUP {group}")
        lines += [f"\tATTR {tag} {attr} {ipp_value(tag, value)}" for tag, attr, value in attributes]
    if document:
        lines.append(f"\tFILE {document}")
    test = ws.join(f"{operation}-{time.monotonic_ns()}.test")
    with open(test, "w") as f:
        f.write("{\n" + "\n".join(lines) + "\n}\n")
    namespace = ["ip", "netns", "exec", netns] if netns else []
    proc = kit.run([*namespace, IPPTOOL, "-T", "30", "-tv", uri, test], timeout=120, check=False)
    out = proc.stdout.decode(errors="replace") + proc.stderr.decode(errors="replace")
    status = re.search(r"status-code = ([\w-]+)", out)
    return (status.group(1) if status else f"no answer: {out[-500:]}"), parse_attributes(out)


def run_test(ws, uri, name, operation, groups, document=None):
    """ipp_request as user "test"; returns the response's attributes. Fails
    unless the status is successful-ok."""
    status, attributes = ipp_request(ws, uri, operation, groups, document)
    if status != "successful-ok":
        raise AssertionError(f"{name} failed: {status} {attributes.get('status-message', '')}")
    return attributes


def print_job(ws, uri, document, document_format, attributes=()):
    """Prints `document` with an ipptool Print-Job; `attributes` are job
    attributes as (tag, name, value). Returns the job id."""
    operation = [("mimeMediaType", "document-format", document_format)]
    reply = run_test(ws, uri, f"Print {os.path.basename(document)}", "Print-Job",
                     {"operation-attributes-tag": operation, "job-attributes-tag": list(attributes)}, document)
    return int(reply["job-id"])


def set_printer_defaults(ws, uri, attributes):
    """Set-Printer-Attributes with `attributes` as (tag, name, value)."""
    run_test(ws, uri, "Set printer defaults", "Set-Printer-Attributes",
             {"printer-attributes-tag": list(attributes)})


def printer_attributes(uri):
    """Get-Printer-Attributes: {name: value text} of every attribute."""
    status, out = ipptool(uri, "get-printer-attributes.test", "-tv")
    if status != 0:
        raise AssertionError(f"Get-Printer-Attributes failed:\n{out[-2000:]}")
    return parse_attributes(out)


def parse_attributes(text):
    """{name: value text} from ipptool's "name (type) = value" lines."""
    found = {}
    for line in text.splitlines():
        m = re.match(r"\s+([a-z0-9-]+) \(([^)]*)\) = (.*)$", line)
        if m:
            found[m.group(1)] = m.group(3)
    return found


# ---------------------------------------------------------------- Chromium

def chromium(ws, url, screenshot=None, size="1024,1400", lang=None):
    """Loads `url` in headless Chromium with a fresh profile (asking for pages
    in language `lang`, e.g. "de", when given); returns the page's DOM text,
    and writes a PNG screenshot to `screenshot` when given."""
    if CHROMIUM is None:
        raise AssertionError("chromium is not installed (scripts/install-deps.sh installs it)")
    profile = ws.mkdir(f"chromium-{time.monotonic_ns()}")
    base = [CHROMIUM, *CHROMIUM_FLAGS, f"--user-data-dir={profile}"]
    if lang:
        base += [f"--lang={lang}", f"--accept-lang={lang}"]
    dom = kit.run(base + ["--dump-dom", url], timeout=60).stdout.decode(errors="replace")
    if screenshot:
        kit.run(base + [f"--screenshot={screenshot}", f"--window-size={size}", "--hide-scrollbars", url],
                timeout=60)
        if not os.path.exists(screenshot):
            raise AssertionError(f"chromium wrote no screenshot of {url}")
    return dom


def page_text(dom):
    """The visible text of an HTML page, tags removed and blanks folded."""
    text = re.sub(r"(?is)<(script|style)\b.*?</\1>", " ", dom)
    text = re.sub(r"<[^>]+>", " ", text)
    text = text.replace("&nbsp;", " ").replace("&amp;", "&")
    return re.sub(r"\s+", " ", text)
