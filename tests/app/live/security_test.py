#!/usr/bin/env python3
"""Who may do what, seen from another address.

Two servers, one on the defaults and one with remote administration (its
access password set by the owner from 127.0.0.1, with no login asked), and
a client in a network namespace of the test's own, joined by a veth pair
(198.51.100.1 on the host, where both also listen, .2 inside). The pages
and operations that change things are refused on the defaults and ask for
a login on the other, over TLS only; printing and cancelling one's own job
work on both, and a network job's drawer options are left out. Skips where
namespaces cannot be made.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import appkit  # noqa: E402
from netns import HOST, Namespace  # noqa: E402
from appkit import kit  # noqa: E402

PASSWORD = "Till-Drawer-42"
MEDIA = "om_80x297mm_80x297mm"
# A web client that runs inside the namespace: method, URL, password or
# None, form or None; prints [status, body]. A form is posted with the
# session token of the page it is on.
WEB_CLIENT = r"""
import base64, http.client, json, re, ssl, sys, urllib.parse
method, url, password, form = json.loads(sys.argv[1])
u = urllib.parse.urlsplit(url)
def ask(method, body=None):
    c = (http.client.HTTPSConnection(u.hostname, u.port, context=ssl._create_unverified_context(), timeout=30)
         if u.scheme == "https" else http.client.HTTPConnection(u.hostname, u.port, timeout=30))
    h = {"Host": f"{u.hostname}:{u.port}"}
    if password:
        h["Authorization"] = "Basic " + base64.b64encode(f"owner:{password}".encode()).decode()
    if body is not None:
        h["Content-Type"] = "application/x-www-form-urlencoded"
    c.request(method, u.path, body, h)
    r = c.getresponse()
    return r.status, r.read().decode(errors="replace")
status, page = ask("GET")
if form is not None and status == 200:
    form["session"] = re.search(r'name="session" value="([^"]+)"', page).group(1)
    status, page = ask("POST", urllib.parse.urlencode(form))
print(json.dumps([status, page]))
"""


class FromAnotherAddress(kit.ChainTestCase):
    workspace_name = "security"

    @classmethod
    def set_up_chain(cls):
        cls.ns = Namespace()
        why = cls.ns.create()
        if why:
            raise unittest.SkipTest(f"no network namespace: {why}")
        cls.addClassCleanup(cls.ns.remove)
        cls.vp = appkit.VirtualPrinter(cls.ws, "vp")
        cls.addClassCleanup(cls.vp.stop)
        cls.apps = {}
        for name, options in (("defaults", []), ("remote", ["remote-admin=yes"])):
            app = appkit.App(cls.ws, [f"listen-hostname=127.0.0.1,{HOST}", *options], name=name).start()
            cls.addClassCleanup(app.stop)
            app.add("receipt", cls.vp.uri, "talvero_tlv031")
            # A job that waits for ever: its device does not answer.
            app.add("stuck", "socket://127.0.0.1:1", "talvero_tlv031")
            app.add("spare", "socket://127.0.0.1:1", "talvero_tlv031")
            cls.addClassCleanup(app.cli, "cancel", "-u", app.uri("stuck"), "-a", check=False)
            cls.apps[name] = app
        cls.page = cls.ws.join("page.pwg")
        kit.run([os.path.join(kit.PATHS.build, "tests", "app", "live", "make_raster"), "pwg", MEDIA, "srgb_8",
                 cls.page])
        cls.raw = cls.ws.join("receipt.bin")
        with open(cls.raw, "wb") as f:
            f.write(b"\x1b@Receipt\n")
        set_password(cls.apps["remote"])

    def ipp(self, app, target, operation, groups, user="mallory", password=None, document=None):
        """(status-code, attributes) ipptool gets for `operation` on `target` (a
        printer's name or "system") from the namespace, over TLS."""
        login = f"owner:{password}@" if password else ""
        path = "/ipp/system" if target == "system" else f"/ipp/print/{target}"
        return appkit.ipp_request(self.ws, f"ipps://{login}{HOST}:{app.port}{path}", operation, groups, document,
                                  user, self.ns.name)

    def page_cut(self, app):
        """The receipt printer's page-cut-default."""
        return self.ipp(app, "receipt", "Get-Printer-Attributes", {"operation-attributes-tag": [
            ("keyword", "requested-attributes", "page-cut-default")]})[1]["page-cut-default"]

    def waiting_job(self, app):
        """A job that waits on the stuck printer, sent from 127.0.0.1 by user "test"; its id."""
        return appkit.print_job(self.ws, app.uri("stuck"), self.raw, "application/vnd.talvero-escpos")

    def test_administration(self):
        job = {name: self.waiting_job(app) for name, app in self.apps.items()}
        cases = [  # what, the operation (or web page), target, attributes
            ("Set-Printer-Attributes", "receipt", {"printer-attributes-tag": [("keyword", "page-cut-default", "feed")]}),
            ("Disable-Printer", "spare", {}),
            ("Create-Printer", "system", {"operation-attributes-tag": [
                ("keyword", "printer-service-type", "print"), ("keyword", "smi55357-driver", "talvero_tlv031"),
                ("uri", "smi55357-device-uri", "socket://127.0.0.1:9")],
                "printer-attributes-tag": [("name", "printer-name", "intruder")]}),
            ("Cancel-Job", "stuck", None),
        ]
        for name, app in self.apps.items():
            for operation, target, groups in cases:
                with self.subTest(server=name, operation=operation):
                    if groups is None:
                        groups = {"operation-attributes-tag": [("integer", "job-id", job[name])]}
                    self.assertEqual(self.ipp(app, target, operation, groups)[0], "client-error-forbidden"
                                     if name == "defaults" else "client-error-not-authenticated")
                    if name == "remote":
                        self.assertEqual(self.ipp(app, target, operation, groups, password=PASSWORD)[0],
                                         "successful-ok")
        remote = self.apps["remote"]
        self.assertEqual(self.page_cut(remote), "feed")
        self.assertIn("intruder", remote.cli("printers"))
        self.assertNotIn("intruder", self.apps["defaults"].cli("printers"))
        listing = self.ipp(remote, "system", "Get-System-Attributes", {})[1]["system-configured-printers"]
        printer_id = int(re.search(r"printer-id=(\d+)[^}]*printer-name=intruder", listing).group(1))
        delete = {"operation-attributes-tag": [("integer", "printer-id", printer_id)]}
        self.assertEqual(self.ipp(self.apps["defaults"], "system", "Delete-Printer", delete)[0],
                         "client-error-forbidden")
        self.assertEqual(self.ipp(remote, "system", "Delete-Printer", delete)[0], "client-error-not-authenticated")
        self.assertEqual(self.ipp(remote, "system", "Delete-Printer", delete, password=PASSWORD)[0], "successful-ok")
        self.assertNotIn("intruder", remote.cli("printers"))

    def test_web_pages(self):
        for name, app in self.apps.items():
            for path, form in (("/receipt/printing", {"page-cut": "feed"}), ("/security", None),
                               ("/addprinter", None)):
                with self.subTest(server=name, page=path):
                    url = f"{HOST}:{app.port}{path}"
                    self.assertEqual(web(f"http://{url}", netns=self.ns.name)[0], 301, "plain HTTP not sent to TLS")
                    for password in (None, "wrong"):
                        status, _ = web(f"https://{url}", password, form, self.ns.name)
                        self.assertEqual(status, 403 if name == "defaults" else 401)
                    if name == "remote":
                        status, page = web(f"https://{url}", PASSWORD, form, self.ns.name)
                        self.assertEqual(status, 200, page[-500:])
        self.assertEqual(self.page_cut(self.apps["defaults"]), "cut")

    def test_printing_and_own_jobs(self):
        drawer = {"job-attributes-tag": [("keyword", "cash-drawer", "drawer-1"),
                                         ("keyword", "cash-drawer-open", "before-printing")],
                  "operation-attributes-tag": [("mimeMediaType", "document-format", "image/pwg-raster")]}
        for name, app in self.apps.items():
            with self.subTest(server=name):
                number = self.vp.job_count() + 1
                self.assertEqual(self.ipp(app, "receipt", "Print-Job", drawer, user="alice", document=self.page)[0],
                                 "successful-ok")
                remote_kicks = [c for c in self.vp.wait_job(number).commands if c.name == "ESC p"]
                appkit.print_job(self.ws, app.uri("receipt"), self.page, "image/pwg-raster",
                                 drawer["job-attributes-tag"])
                local_kicks = [c for c in self.vp.wait_job(number + 1).commands if c.name == "ESC p"]
                self.assertEqual((len(remote_kicks), len(local_kicks)), (0, 1))
                cancel = {"operation-attributes-tag": [("integer", "job-id", self.waiting_job(app))]}
                self.assertEqual(self.ipp(app, "stuck", "Cancel-Job", cancel, user="test")[0], "successful-ok")


def web(url, password=None, form=None, netns=None):
    """(status, page) of `url` fetched with WEB_CLIENT, from network namespace `netns` when given."""
    namespace = ["ip", "netns", "exec", netns] if netns else []
    proc = subprocess.run([*namespace, sys.executable, "-c", WEB_CLIENT, json.dumps(["GET", url, password, form])],
                          capture_output=True, text=True, timeout=60)
    assert proc.returncode == 0, proc.stderr
    return tuple(json.loads(proc.stdout))


def set_password(app):
    """Sets the access password on the Security page, from 127.0.0.1, with no login asked."""
    form = {"new_password": PASSWORD, "new_password2": PASSWORD}
    status, page = web(f"http://127.0.0.1:{app.port}/security", form=form)
    assert status == 200 and "Password changed" in page, f"password not set: {status} {page[-500:]}"


if __name__ == "__main__":
    if os.geteuid() != 0 or shutil.which("ip") is None:
        print("SKIPPED: the network namespace needs root and ip (iproute2)")
        sys.exit(appkit.SKIP)
    sys.exit(appkit.main(__doc__.splitlines()[0]))
