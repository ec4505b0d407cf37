#!/usr/bin/env python3
"""The Debian packages on the real system: install, list, print, remove.

The two packages built by scripts/package.sh (dist/printer-driver-talvero_*.deb
and dist/talvero-printer-app_*.deb, or those in the folder TALVERO_DEB_DIR)
are installed together with apt-get, which also brings in any dependency that
is missing, and removed again at the end (dpkg -r, then --purge), also when a
test fails or the run is interrupted:

  - lintian finds no error in either package, and every warning it gives is
    one the user guide lists with its reason; the driver does not depend on
    PAPPL, the app on no CUPS package but the libraries it links;
  - the filters are in CUPS's filter folder, root-owned with mode 0755, the
    47 PPDs (the build's, byte for byte) in /usr/share/ppd/talvero,
    talvero-preview in /usr/bin, and each man page of man/ compressed, in the
    package of its program;
  - the app's programs are in /usr/bin, root 0755, its systemd unit starts
    the installed program, and the installed talvero-printer-app lists a
    driver for each of the build's 47 PPDs;
  - a private cupsd on the system's own ServerBin and DataDir lists the 47
    models with `lpinfo -m`, and a queue made from one of them prints the
    sample receipt through the installed filters, to the same bytes as the
    build tree's chain;
  - after dpkg -r none of the packages' files or folders is left, and the
    cupsd lists no Talvero model any more; dpkg --purge then leaves no record
    of either, nor the state the app's maintainer scripts gave systemd's
    helper.

The test installs into the real /usr, so it never runs over an installed
copy: it stops when either package is installed already or any of their
files exists. A lock on /run/lock/talvero-package-test.lock makes two runs on one
machine take turns. Other tests' private cupsds are not disturbed while the
package is installed: they list their own PPDs as talvero/tlvNNN.ppd, the
installed ones are lsb/usr/talvero/tlvNNN.ppd.

Run as root by scripts/test.sh after scripts/package.sh, or directly:
  package_test.py --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import atexit
import glob
import grp
import os
import pwd
import re
import stat
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "chain"))
import chainkit as kit  # noqa: E402

PACKAGE = "printer-driver-talvero"
APP_PACKAGE = "talvero-printer-app"
PACKAGES = (PACKAGE, APP_PACKAGE)
APP_PROGRAMS = ("talvero-printer-app", "talvero-virtual-printer")
UNIT = "/usr/lib/systemd/system/talvero-printer-app.service"
FILTER_DIR = "/usr/lib/cups/filter"
PPD_DIR = "/usr/share/ppd/talvero"
FILTERS = ("rastertoTalvero", "rastertoTalveroPlanes")
MODEL = 31
LOCK = "/run/lock/talvero-package-test.lock"
# The make-and-model name lpinfo -m gives an installed PPD: <source>/talvero/tlvNNN.ppd.
INSTALLED_NAME = re.compile(r"(?:^|/)talvero/(tlv\d{3}\.ppd)$")


def deb_paths():
    """{package: path} of the packages to test, for this machine, from $TALVERO_DEB_DIR or dist/."""
    folder = os.environ.get("TALVERO_DEB_DIR") or os.path.join(kit.PATHS.source, "dist")
    arch = kit.run(["dpkg", "--print-architecture"]).stdout.decode().strip()
    paths = {}
    for package in PACKAGES:
        found = glob.glob(os.path.join(os.path.abspath(folder), f"{package}_*_{arch}.deb"))
        if len(found) != 1:
            raise AssertionError(f"want one {package} package for {arch} in {folder} "
                                 f"(scripts/package.sh makes it), found {found}")
        paths[package] = found[0]
    return paths


def status(package):
    """dpkg's state of `package`: "installed", "config-files", ... or "not-installed"."""
    out = kit.run(["dpkg-query", "-W", "-f=${Status}", package], check=False).stdout.decode()
    return out.split()[-1] if out else "not-installed"


def installed(package):
    """True while dpkg knows `package` (in any state but not-installed)."""
    return status(package) != "not-installed"


def dpkg(*args, timeout=300):
    """Runs dpkg, waiting while another package manager holds the dpkg lock."""
    deadline = time.monotonic() + timeout
    while True:
        proc = kit.run(["dpkg", *args], check=False, timeout=timeout)
        busy = b"lock" in proc.stderr and proc.returncode != 0
        if not busy or time.monotonic() > deadline:
            break
        time.sleep(2)
    if proc.returncode != 0:
        raise AssertionError(f"dpkg {' '.join(args)} exited with {proc.returncode}: "
                             f"{proc.stderr.decode(errors='replace')[-2000:]}")
    return proc


def remove_packages():
    """dpkg --purge each package dpkg knows; safe to call more than once."""
    present = [p for p in PACKAGES if installed(p)]
    if present:
        dpkg("--purge", *present)


def ensure_absent(paths):
    """Fails unless none of the packages nor any of their file `paths` is on the system."""
    present = [p for p in PACKAGES if installed(p)]
    if present:
        raise AssertionError(f"{present} installed already: remove first (dpkg --purge {' '.join(present)})")
    present = [p for p in paths if os.path.lexists(p) and not os.path.isdir(p)]
    if present:
        raise AssertionError(f"files of the packages exist already (another install?): {present}")


def contents(deb):
    """The paths a package holds, as installed (/usr/...)."""
    listing = kit.run(["dpkg-deb", "-c", deb]).stdout.decode().splitlines()
    return [line.split(None, 5)[5].removeprefix(".").rstrip("/") for line in listing]


def systemd_helper_state():
    """What deb-systemd-helper and enabling left of the app's unit under /var/lib/systemd and /etc/systemd."""
    found = glob.glob("/var/lib/systemd/deb-systemd-helper-*/**/talvero-printer-app*", recursive=True)
    return found + glob.glob("/etc/systemd/system/**/talvero-printer-app*", recursive=True)


class InstalledPackage(kit.ChainTestCase):
    workspace_name = "package"

    @classmethod
    def set_up_chain(cls):
        cls.debs = deb_paths()
        cls.lock = kit.file_lock(LOCK)
        cls.lock.__enter__()
        cls.addClassCleanup(cls.lock.__exit__, None, None, None)
        ensure_absent([path for deb in cls.debs.values() for path in contents(deb)])
        cls.helper_state_before = systemd_helper_state()

        # Removed again in every case: after the tests, on a failed set-up, at exit.
        cls.addClassCleanup(remove_packages)
        atexit.register(remove_packages)
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        kit.run(["apt-get", "-o", "DPkg::Lock::Timeout=300", "install", "-y", "-q", *cls.debs.values()],
                env=env, timeout=600)
        cls.installed_files = {p: kit.run(["dpkg", "-L", p]).stdout.decode().split() for p in PACKAGES}
        cls.files = cls.installed_files[PACKAGE]
        cls.built_ppds = sorted(os.path.basename(p) for p in glob.glob(os.path.join(kit.PATHS.ppd_dir, "tlv*.ppd")))
        cls.cupsd = kit.Cupsd(cls.ws.mkdir("cupsd"), kit.serverbin_dir(), kit.datadir()).start()
        cls.addClassCleanup(cls.cupsd.stop)

    def talvero_models(self):
        """lpinfo -m's Talvero entries on the private cupsd: {tlvNNN.ppd: (name, make-and-model)}."""
        found = {}
        for name, make in self.cupsd.lpinfo_models().items():
            m = INSTALLED_NAME.search(name)
            if m:
                found[m.group(1)] = (name, make)
        return found

    def test_1_lintian_and_depends(self):
        """No lintian error; each warning is one the user guide explains; PAPPL only for the app."""
        with open(os.path.join(kit.PATHS.source, "docs", "user-guide.md")) as f:
            readme = f.read()
        for package, deb in self.debs.items():
            with self.subTest(package=package):
                out = kit.run(["lintian", deb], check=False).stdout.decode()
                tags = re.findall(r"^([EW]): \S+: (\S+)", out, re.M)
                self.assertEqual([t for level, t in tags if level == "E"], [], out)
                unexplained = sorted({t for level, t in tags if level == "W" and f"`{t}`" not in readme})
                self.assertEqual(unexplained, [], f"lintian warnings the user guide does not list:\n{out}")
        depends = {p: kit.run(["dpkg-deb", "-f", deb, "Depends"]).stdout.decode() for p, deb in self.debs.items()}
        self.assertNotIn("pappl", depends[PACKAGE])
        self.assertRegex(depends[APP_PACKAGE], r"\blibpappl1\b")
        self.assertNotRegex(depends[APP_PACKAGE], r"\bcups-(daemon|filters)\b")

    def test_2_files_in_place(self):
        """Filters root 0755 in CUPS's folder, the build's 47 PPDs, the previewer, compressed man pages."""
        self.assertEqual(self.files, [p for p in self.files if os.path.lexists(p)], "dpkg -L names missing files")
        for name in FILTERS:
            with self.subTest(filter=name):
                st = os.lstat(os.path.join(FILTER_DIR, name))
                self.assertTrue(stat.S_ISREG(st.st_mode))
                self.assertEqual((st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)), (0, 0, 0o755))
        installed_ppds = sorted(os.listdir(PPD_DIR))
        self.assertEqual(len(installed_ppds), 47)
        self.assertEqual(installed_ppds, self.built_ppds)
        for name in installed_ppds:
            with open(os.path.join(PPD_DIR, name), "rb") as f, open(kit.PATHS.ppd(int(name[3:6])), "rb") as g:
                self.assertTrue(f.read() == g.read(), f"{name} differs from the build's")
        version = kit.run(["/usr/bin/talvero-preview", "--help"], check=False)
        self.assertIn(b"talvero-preview", version.stdout + version.stderr)
        # Each man page is in the package of the program it is named after.
        for page in glob.glob(os.path.join(kit.PATHS.source, "man", "*.[1-8]")):
            name = os.path.basename(page)
            with self.subTest(page=name):
                owners = [p for p, files in self.installed_files.items()
                          if any(f.endswith(f"/bin/{name[:-2]}") or f.endswith(f"/filter/{name[:-2]}") for f in files)]
                self.assertEqual(len(owners), 1, f"no one package holds the program {name[:-2]}")
                self.assertIn(f"/usr/share/man/man{name[-1]}/{name}.gz", self.installed_files[owners[0]])

    def test_2b_app_in_place(self):
        """The app's programs root 0755, its unit runs the installed one as its own user, which lists the 47 models (an 80 mm driver each)."""
        files = self.installed_files[APP_PACKAGE]
        self.assertEqual(files, [p for p in files if os.path.lexists(p)], "dpkg -L names missing files")
        for name in APP_PROGRAMS:
            with self.subTest(program=name):
                path = f"/usr/bin/{name}"
                self.assertIn(path, files)
                st = os.lstat(path)
                self.assertTrue(stat.S_ISREG(st.st_mode))
                self.assertEqual((st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)), (0, 0, 0o755))
        st = os.lstat(UNIT)
        self.assertEqual((st.st_uid, stat.S_IMODE(st.st_mode)), (0, 0o644))
        with open(UNIT) as f:
            self.assertRegex(f.read(), r"(?m)^ExecStart=/usr/bin/talvero-printer-app server ")
        # The service's own user, made by postinst, in group lp for USB printers.
        self.assertIn(pwd.getpwnam("talvero-printer-app").pw_name, grp.getgrnam("lp").gr_mem)

        # As nobody, its state and socket in the workspace: root's `drivers`
        # would open /run/talvero-printer-app.sock and /var/lib/talvero-printer-app.
        home = self.ws.mkdir("app-home")
        user = pwd.getpwnam("nobody")
        os.chown(home, user.pw_uid, user.pw_gid)
        proc = subprocess.run(["/usr/bin/talvero-printer-app", "drivers", "-o", "private-server=true",
                               "-o", f"spool-directory={home}/spool"], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60, user=user.pw_uid, group=user.pw_gid,
                              extra_groups=[], env=dict(os.environ, HOME=home, TMPDIR=home))
        self.assertEqual(proc.returncode, 0, proc.stderr.decode(errors="replace"))
        listed = re.findall(r'^(talvero_tlv\d{3}) "Talvero TLV-(\d+),', proc.stdout.decode(), re.M)
        self.assertEqual(len(listed), 47, proc.stdout.decode())
        self.assertEqual(sorted(f"{d[8:]}.ppd" for d, _ in listed), self.built_ppds)
        self.assertTrue(all(int(d[11:]) == int(n) for d, n in listed), listed)

    def test_3_cupsd_lists_and_prints(self):
        """lpinfo -m lists the 47 installed models; a queue prints the sample receipt."""
        models = self.talvero_models()
        self.assertEqual(sorted(models), self.built_ppds,
                         f"lpinfo -m lists {len(models)} of the installed models")
        for ppd, (name, make) in models.items():
            self.assertRegex(make, rf"^Talvero TLV-{int(ppd[3:6])}\b", name)

        device = self.ws.join("device.out")
        open(device, "wb").close()
        name = models[f"tlv{MODEL:03d}.ppd"][0]
        print(f"\n  lpinfo -m: {name} {models[f'tlv{MODEL:03d}.ppd'][1]}")
        self.cupsd.lpadmin("-p", "receipt", "-E", "-v", f"file://{device}", "-m", name)
        sample = os.path.join(kit.PATHS.source, "samples", "receipt.pdf")
        printed = kit.check_installed_print(self, self.cupsd, "receipt", sample, FILTER_DIR, MODEL, timeout=90)
        self.assertGreater(len(printed), 1000, "the build's chain printed next to nothing")

    def test_4_remove(self):
        """dpkg -r leaves none of the packages' files or own folders, CUPS lists no model; a purge
        then clears the app's records and what its scripts gave systemd's helper."""
        dpkg("-r", *PACKAGES)
        # The driver has no maintainer scripts, so dpkg forgets it at once; the
        # app's postrm keeps it as config-files until the purge.
        self.assertEqual([status(p) for p in PACKAGES], ["not-installed", "config-files"])
        for package, files in self.installed_files.items():
            with self.subTest(package=package):
                left = [p for p in files if os.path.lexists(p) and not os.path.isdir(p)]
                self.assertEqual(left, [], "files left behind")
        own = [PPD_DIR] + [f"/usr/share/doc/{p}" for p in PACKAGES]
        self.assertEqual([d for d in own if os.path.lexists(d)], [], "folders left behind")
        self.assertEqual(self.talvero_models(), {}, "lpinfo -m still lists Talvero models")

        self.assertNotEqual(systemd_helper_state(), self.helper_state_before, "postinst recorded no unit")
        dpkg("--purge", *PACKAGES)
        for package in PACKAGES:
            self.assertEqual(glob.glob(f"/var/lib/dpkg/info/{package}.*"), [], "dpkg's records left behind")
        self.assertEqual(systemd_helper_state(), self.helper_state_before, "systemd state left behind")


if __name__ == "__main__":
    sys.exit(kit.main(__doc__.splitlines()[0]))
