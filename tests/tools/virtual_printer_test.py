#!/usr/bin/env python3
"""talvero-virtual-printer as a host sees it, over real loopback sockets.

For each paper state a server is started on a free port; one connection
sends the status queries a byte at a time and between commands, then a job
whose raster data happens to hold the same bytes. The answers must be the
paper state's, exactly one per real query, and the job must be kept without
the queries: its bytes, its command list and a picture with one black pixel
per dot sent. A malformed job then must be rejected loudly: an ERROR line
naming the offset, a job-N.error file, a summary counting it and exit
status 1.

Run by CTest, or: virtual_printer_test.py --tool build/tools/talvero-virtual-printer
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "chain"))
import chainkit as kit  # noqa: E402

TOOL = None
DLE_EOT_4 = b"\x10\x04\x04"
GS_R_1 = b"\x1d\x72\x01"
# (DLE EOT 4 answer, GS r 1 answer) per paper state.
ANSWERS = {"ok": (0x12, 0x00), "low": (0x1E, 0x03), "empty": (0x7E, 0x0F)}
# A 16-dot x 3-row GS v 0 image whose data holds both queries' bytes.
IMAGE_DATA = DLE_EOT_4 + GS_R_1
IMAGE = b"\x1dv0\x00\x02\x00\x03\x00" + IMAGE_DATA
JOB = [DLE_EOT_4, b"\x1b@", GS_R_1, IMAGE, b"\x1b\x70\x00\x32\x32", b"\x1dVA\x10"]


class Server:
    """A talvero-virtual-printer process on a free port, its files in a scratch folder."""

    def __init__(self, test, paper):
        self.dir = tempfile.mkdtemp(prefix="talvero-vp-")
        test.addCleanup(shutil.rmtree, self.dir, True)
        self.proc, self.port = kit.start_virtual_printer(TOOL, self.dir, paper)
        test.addCleanup(self.proc.communicate)
        test.addCleanup(lambda: self.proc.poll() is None and self.proc.kill())

    def send(self, parts):
        """Sends `parts` on one connection, reading an answer after each query;
        returns every byte the server sent back, up to its closing."""
        answers = b""
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            for part in parts:
                if part in (DLE_EOT_4, GS_R_1):
                    for byte in part:  # a query split over several reads
                        s.sendall(bytes([byte]))
                        time.sleep(0.02)
                    answers += s.recv(1)
                else:
                    s.sendall(part)
            s.shutdown(socket.SHUT_WR)
            while chunk := s.recv(64):
                answers += chunk
        return answers

    def wait_file(self, name):
        """The path of job file `name`, once the server has written it."""
        path = os.path.join(self.dir, name)
        kit.wait_for(lambda: os.path.exists(path), 5, name)
        return path

    def stop(self):
        """SIGTERM; returns (exit status, stdout, stderr)."""
        self.proc.send_signal(signal.SIGTERM)
        out, err = self.proc.communicate(timeout=10)
        return self.proc.returncode, out, err


class VirtualPrinter(unittest.TestCase):

    def test_status_answers_and_job_files(self):
        for paper, (eot, gsr) in ANSWERS.items():
            with self.subTest(paper=paper):
                server = Server(self, paper)
                answers = server.send(JOB)
                self.assertEqual(answers, bytes([eot, gsr]), "one answer per query, none for the image data")
                png = server.wait_file("job-1.png")
                time.sleep(0.1)
                status, out, err = server.stop()
                self.assertEqual((status, err), (0, ""), out)
                self.assertIn("job 1: 25 bytes, 4 commands, 2 status queries, ok", out)
                with open(os.path.join(server.dir, "job-1.bin"), "rb") as f:
                    self.assertEqual(f.read(), b"".join(p for p in JOB if p not in (DLE_EOT_4, GS_R_1)))
                with open(os.path.join(server.dir, "job-1.txt")) as f:
                    names = [line[10:22].strip() for line in f]
                self.assertEqual(names, ["ESC @", "GS v 0", "ESC p", "GS V"])
                dots = sum(bin(b).count("1") for b in IMAGE_DATA)
                self.assertEqual(kit.png_ink(png), (dots, 0), "black and red pixels of the picture")

    def test_malformed_job_is_rejected_loudly(self):
        server = Server(self, "ok")
        server.send([b"\x1b@\x1b\x61\x01", b"\x1dv0\x00\x02\x00\x01\x00\xff\xff"])  # a good job
        server.send([b"\x1b@\x1b\x61\x01\x1d\x28\x4c\x02\x00\x30\x99"])  # GS ( L function 153
        server.wait_file("job-2.error")
        time.sleep(0.1)
        status, out, err = server.stop()
        self.assertEqual(status, 1, out)
        self.assertRegex(err, r"(?m)^ERROR: job 2 rejected: offset 11: GS \( L function 153 \(99\) not supported$")
        with open(os.path.join(server.dir, "job-2.error")) as f:
            self.assertEqual(f.read(), "offset 11: GS ( L function 153 (99) not supported\n")
        self.assertIn("job 1: 15 bytes, 3 commands, 0 status queries, ok", out)
        self.assertIn("2 jobs, 1 rejected", out)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    args, rest = parser.parse_known_args()
    TOOL = args.tool
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
