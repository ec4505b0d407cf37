#!/usr/bin/env python3
"""The Debian package on the real system: install, list, print, remove.

The package built by scripts/package.sh (dist/printer-driver-talvero_*.deb,
or the file named by TALVERO_DEB) is installed with apt-get, which also
brings in any dependency that is missing, and removed again with dpkg -r at
the end, also when a test fails or the run is interrupted:

  - lintian finds no error in the package, and every warning it gives is one
    the README lists with its reason;
  - the filters are in CUPS's filter folder, root-owned with mode 0755, the
    47 PPDs (the build's, byte for byte) in /usr/share/ppd/talvero,
    talvero-preview in /usr/bin, and the man pages of man/ compressed;
  - a private cupsd on the system's own ServerBin and DataDir lists the 47
    models with `lpinfo -m`, and a queue made from one of them prints the
    sample receipt through the installed filters, to the same bytes as the
    build tree's chain;
  - after dpkg -r none of the package's files or folders is left, and the
    cupsd lists no Talvero model any more.

The test installs into the real /usr, so it never runs over an installed
copy: it stops when the package is installed already or any of its files
exists. A lock on /run/lock/talvero-package-test.lock makes two runs on one
machine take turns. Other tests' private cupsds are not disturbed while the
package is installed: they list their own PPDs as talvero/tlvNNN.ppd, the
installed ones are lsb/usr/talvero/tlvNNN.ppd.

Run as root by scripts/test.sh after scripts/package.sh, or directly:
  package_test.py --build-dir BUILD --source-dir SRC --keep-dir DIR
"""
import atexit
import glob
import os
import re
import stat
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "chain"))
import chainkit as kit  # noqa: E402

PACKAGE = "printer-driver-talvero"
FILTER_DIR = "/usr/lib/cups/filter"
PPD_DIR = "/usr/share/ppd/talvero"
FILTERS = ("rastertoTalvero", "rastertoTalveroPlanes")
MODEL = 31
LOCK = "/run/lock/talvero-package-test.lock"
# The make-and-model name lpinfo -m gives an installed PPD: <source>/talvero/tlvNNN.ppd.
INSTALLED_NAME = re.compile(r"(?:^|/)talvero/(tlv\d{3}\.ppd)$")


def deb_path():
    """The package to test: $TALVERO_DEB, or the one package for this machine in dist/."""
    if os.environ.get("TALVERO_DEB"):
        return os.path.abspath(os.environ["TALVERO_DEB"])
    arch = kit.run(["dpkg", "--print-architecture"]).stdout.decode().strip()
    found = glob.glob(os.path.join(kit.PATHS.source, "dist", f"{PACKAGE}_*_{arch}.deb"))
    if len(found) != 1:
        raise AssertionError(f"want one {PACKAGE} package for {arch} in dist/ "
                             f"(scripts/package.sh makes it), found {found}")
    return found[0]


def installed():
    """True while dpkg has the package installed (in any state but not-installed)."""
    out = kit.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE], check=False).stdout.decode()
    return bool(out) and not out.endswith("not-installed")


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


def remove_package():
    """dpkg -r the package if it is installed; safe to call more than once."""
    if installed():
        dpkg("-r", PACKAGE)


def ensure_absent(paths):
    """Fails unless neither the package nor any of its file `paths` is on the system."""
    if installed():
        raise AssertionError(f"{PACKAGE} is installed already: remove it first (dpkg -r {PACKAGE})")
    present = [p for p in paths if os.path.lexists(p) and not os.path.isdir(p)]
    if present:
        raise AssertionError(f"files of the package exist already (another install?): {present}")


class InstalledPackage(kit.ChainTestCase):
    workspace_name = "package"

    @classmethod
    def set_up_chain(cls):
        cls.deb = deb_path()
        cls.lock = kit.file_lock(LOCK)
        cls.lock.__enter__()
        cls.addClassCleanup(cls.lock.__exit__, None, None, None)
        listing = kit.run(["dpkg-deb", "-c", cls.deb]).stdout.decode().splitlines()
        cls.contents = [line.split(None, 5)[5].removeprefix(".").rstrip("/") for line in listing]
        ensure_absent(cls.contents)

        # Removed again in every case: after the tests, on a failed set-up, at exit.
        cls.addClassCleanup(remove_package)
        atexit.register(remove_package)
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        kit.run(["apt-get", "-o", "DPkg::Lock::Timeout=300", "install", "-y", "-q", cls.deb],
                env=env, timeout=600)
        cls.files = kit.run(["dpkg", "-L", PACKAGE]).stdout.decode().split()
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

    def test_1_lintian(self):
        """No lintian error; each warning is one the README explains."""
        out = kit.run(["lintian", self.deb], check=False).stdout.decode()
        tags = re.findall(r"^([EW]): \S+: (\S+)", out, re.M)
        self.assertEqual([t for level, t in tags if level == "E"], [], out)
        with open(os.path.join(kit.PATHS.source, "README.md")) as f:
            readme = f.read()
        unexplained = sorted({t for level, t in tags if level == "W" and f"`{t}`" not in readme})
        self.assertEqual(unexplained, [], f"lintian warnings the README does not list:\n{out}")

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
        for page in glob.glob(os.path.join(kit.PATHS.source, "man", "*.[1-8]")):
            name = os.path.basename(page)
            self.assertIn(f"/usr/share/man/man{name[-1]}/{name}.gz", self.files)

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
        """dpkg -r leaves none of the package's files or own folders, and CUPS lists no model."""
        dpkg("-r", PACKAGE)
        self.assertFalse(installed(), f"{PACKAGE} still known to dpkg after dpkg -r")
        left = [p for p in self.files if os.path.lexists(p) and not os.path.isdir(p)]
        self.assertEqual(left, [], "files left behind")
        own = [PPD_DIR, f"/usr/share/doc/{PACKAGE}"]
        self.assertEqual([d for d in own if os.path.lexists(d)], [], "folders left behind")
        self.assertEqual(glob.glob(f"/var/lib/dpkg/info/{PACKAGE}.*"), [], "dpkg's records left behind")
        self.assertEqual(self.talvero_models(), {}, "lpinfo -m still lists Talvero models")


if __name__ == "__main__":
    sys.exit(kit.main(__doc__.splitlines()[0]))
