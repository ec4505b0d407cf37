#!/usr/bin/env python3
"""Install and uninstall into a scratch root, and a cupsd that uses the result.

`DESTDIR=<scratch>/root cmake --install BUILD` must put the two filters into
<root>$(cups-config --serverbin)/filter, owned by root with mode 0755 (CUPS
runs no other), talvero-preview into <root><prefix>/bin and the 47 PPDs into
<root><prefix>/share/ppd/talvero. A private cupsd whose ServerBin is the
installed <root>$(cups-config --serverbin) (the system's own filters and
programs linked in beside ours) and whose DataDir/model links the installed
PPDs must list every model with `lpinfo -m` and print with the installed
filters. The uninstall target must then remove every installed file, and
the shared folders the install made (<prefix>/share/ppd, the man sections),
but not such a folder that was there before.

cups-driverd finds PPDs under DataDir/model and under the fixed folders
/usr/share/ppd and /usr/local/share/ppd of the real system, never under a
DESTDIR root: the test shows that the installed PPDs are not listed until
DataDir/model links them.

Nothing is installed outside the scratch root. The install writes
install_manifest.txt and install_new_folders.txt into the build tree; the
test keeps a copy of those it finds there and puts them back afterwards, and holds a lock so that two runs
on one build tree take turns.

Run by CTest (label real-chain), or directly:
  install_test.py --build-dir BUILD --source-dir SRC --keep-dir DIR [--cmake CMAKE]
"""
import atexit
import glob
import os
import re
import shutil
import stat
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import chainkit as kit  # noqa: E402

FILTERS = ("rastertoTalvero", "rastertoTalveroPlanes")
MODEL = 31


def cache_value(build, name, default):
    """A value from BUILD/CMakeCache.txt, or `default`."""
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            m = re.match(rf"{re.escape(name)}:\w+=(.*)$", line.strip())
            if m:
                return m.group(1)
    return default


class InstallIntoRoot(kit.ChainTestCase):
    workspace_name = "install"

    @classmethod
    def set_up_chain(cls):
        build = kit.PATHS.build
        cls.root = cls.ws.join("root")
        cls.env = dict(os.environ, DESTDIR=cls.root)
        cls.prefix = cache_value(build, "CMAKE_INSTALL_PREFIX", "/usr/local")
        cls.serverbin = kit.serverbin_dir()
        cls.filter_dir = cls.root + cls.serverbin + "/filter"
        cls.ppd_dir = os.path.join(cls.root + cls.prefix,
                                   cache_value(build, "TALVERO_PPD_INSTALL_DIR", "share/ppd/talvero"))
        cls.built_ppds = sorted(os.path.basename(p) for p in glob.glob(os.path.join(kit.PATHS.ppd_dir, "tlv*.ppd")))

        # One install at a time per build tree; its manifest is put back afterwards.
        lock_dir = os.path.join(build, "tests", "chain")
        os.makedirs(lock_dir, exist_ok=True)
        cls.lock = kit.file_lock(os.path.join(lock_dir, "install.lock"))
        cls.lock.__enter__()
        cls.addClassCleanup(cls.lock.__exit__, None, None, None)
        for name in ("install_manifest.txt", "install_new_folders.txt"):
            path = os.path.join(build, name)
            saved = open(path, "rb").read() if os.path.exists(path) else None
            cls.addClassCleanup(cls.restore_manifest, path, saved)
            atexit.register(cls.restore_manifest, path, saved)  # also after an interrupt
        manifest = os.path.join(build, "install_manifest.txt")
        # A shared folder that is there before the install stays after the uninstall.
        cls.man1 = os.path.join(cls.root + cls.prefix, "share", "man", "man1")
        os.makedirs(cls.man1)

        cls.install_log = kit.run([kit.PATHS.cmake, "--install", build], env=cls.env, timeout=120).stdout.decode()
        with open(cls.ws.join("install.log"), "w") as f:
            f.write(cls.install_log)
        with open(manifest) as f:
            cls.manifest = [line.strip() for line in f if line.strip()]

    @staticmethod
    def restore_manifest(path, saved):
        if saved is None:
            if os.path.exists(path):
                os.unlink(path)
        else:
            with open(path, "wb") as f:
                f.write(saved)

    def test_1_files_in_place(self):
        """Every file went under the root; the filters root-owned 0755; all PPDs; the previewer."""
        placed = re.findall(r"-- (?:Installing|Up-to-date): (\S+)", self.install_log)
        self.assertTrue(placed, f"cmake --install named no file:\n{self.install_log}")
        outside = [p for p in placed if not p.startswith(self.root + "/")]
        self.assertEqual(outside, [], "files installed outside DESTDIR")
        for name in FILTERS:
            with self.subTest(filter=name):
                path = os.path.join(self.filter_dir, name)
                self.assertTrue(os.path.isfile(path), f"{path} missing; installed: {placed}")
                st = os.lstat(path)
                self.assertTrue(stat.S_ISREG(st.st_mode), f"{path} is not a regular file")
                self.assertEqual((st.st_uid, stat.S_IMODE(st.st_mode)), (0, 0o755),
                                 f"{path}: owner {st.st_uid}, mode {oct(stat.S_IMODE(st.st_mode))}")
        installed = sorted(os.path.basename(p) for p in glob.glob(os.path.join(self.ppd_dir, "tlv*.ppd")))
        self.assertEqual(len(installed), 47, f"{len(installed)} PPDs in {self.ppd_dir}")
        self.assertEqual(installed, self.built_ppds, "the installed PPDs are not the built ones")
        self.assertTrue(os.access(os.path.join(self.root + self.prefix, "bin", "talvero-preview"), os.X_OK),
                        "talvero-preview not installed")
        for page in ("man8/rastertoTalvero.8", "man8/rastertoTalveroPlanes.8", "man1/talvero-preview.1"):
            self.assertTrue(os.path.isfile(os.path.join(self.root + self.prefix, "share", "man", page)),
                            f"{page} not installed")
        files = [p for p in placed if not os.path.isdir(p)]
        self.assertEqual(sorted(self.root + p for p in self.manifest), sorted(files),
                         "install_manifest.txt does not list what was installed")

    def test_2_cupsd_lists_and_prints(self):
        """A cupsd run from the installed files lists the 47 models and prints with the installed filters."""
        serverbin = kit.make_serverbin(self.root + self.serverbin, {})
        data = kit.make_datadir(self.ws.join("data"), {})
        cupsd = kit.Cupsd(self.ws.mkdir("cupsd"), serverbin, data).start()
        self.addCleanup(cupsd.stop)
        wanted = {f"talvero/{name}" for name in self.built_ppds}

        # Installed under a DESTDIR root, the PPDs are nowhere cups-driverd looks.
        before = cupsd.lpinfo_models()
        self.assertFalse(wanted & set(before), "lpinfo -m lists the models before DataDir/model links them")
        elsewhere = sorted(n for n in before if "tlv" in n.lower() or "talvero" in before[n].lower())
        sources = sorted({n.split("/")[0] if "/" in n else n.split(":")[0] for n in before})
        print(f"\n  lpinfo -m without the link: {len(before)} models from {sources}; "
              f"Talvero ones found elsewhere: {elsewhere or 'none'}")

        os.symlink(self.ppd_dir, os.path.join(data, "model", "talvero"))
        after = cupsd.lpinfo_models()
        listed = {n: m for n, m in after.items() if n.startswith("talvero/")}
        self.assertEqual(set(listed), wanted,
                         f"lpinfo -m lists {len(listed)} of the 47 installed models; missing "
                         f"{sorted(wanted - set(listed))}, extra {sorted(set(listed) - wanted)}")
        for name, make in listed.items():
            number = int(re.search(r"tlv(\d+)", name).group(1))
            self.assertRegex(make, rf"^Talvero TLV-{number}\b", f"{name}: make and model {make!r}")

        # A queue on an installed model runs the installed filters.
        device = self.ws.join("device.out")
        open(device, "wb").close()
        cupsd.lpadmin("-p", "talvero", "-E", "-v", f"file://{device}", "-m", f"talvero/tlv{MODEL:03d}.ppd")
        kit.check_installed_print(self, cupsd, "talvero", kit.PATHS.fixture("black-red-rgb.pdf"),
                                  self.filter_dir, MODEL)

    def test_3_uninstall(self):
        """The uninstall target removes every installed file, under the same DESTDIR."""
        out = kit.run([kit.PATHS.cmake, "--build", kit.PATHS.build, "--target", "uninstall"],
                      env=self.env, timeout=120)
        left = [self.root + p for p in self.manifest if os.path.lexists(self.root + p)]
        self.assertEqual(left, [], f"uninstall left these:\n{out.stdout.decode()[-3000:]}")
        for name in FILTERS:
            self.assertFalse(os.path.lexists(os.path.join(self.filter_dir, name)), f"{name} still installed")
        self.assertEqual(glob.glob(os.path.join(self.ppd_dir, "*.ppd")), [], "PPDs left behind")
        share = os.path.join(self.root + self.prefix, "share")
        self.assertFalse(os.path.exists(os.path.join(share, "ppd")), "the uninstall left <prefix>/share/ppd")
        self.assertFalse(os.path.exists(os.path.join(share, "man", "man8")), "the uninstall left man8")
        self.assertEqual(os.listdir(self.man1), [], "the installed man page is left in man1")
        self.assertTrue(os.path.isdir(self.man1), "the uninstall removed man1, which the install did not make")


if __name__ == "__main__":
    sys.exit(kit.main(__doc__.splitlines()[0]))
