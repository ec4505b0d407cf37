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

Through the control port: every state gives its DLE EOT 1-4 and GS r 1
answers; a printer without paper answers DLE EOT at once but holds the job
(and GS r) in its receive buffer, stops reading when that is full, and
prints it all when the paper is back; the roll runs out after a set number
of bytes; connections are closed, reset or never read from as told.

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
import threading
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "chain"))
import chainkit as kit  # noqa: E402

TOOL = None
DLE_EOT_4 = b"\x10\x04\x04"
GS_R_1 = b"\x1d\x72\x01"
# (DLE EOT 4 answer, GS r 1 answer) per paper state.
ANSWERS = {"ok": (0x12, 0x00), "low": (0x1E, 0x03)}
QUERIES = b"\x10\x04\x01\x10\x04\x02\x10\x04\x03" + DLE_EOT_4 + GS_R_1
# The answers to QUERIES (DLE EOT 1, 2, 3, 4, GS r 1) after each control command.
STATES = [("ready", "12 12 12 12 00"), ("paper low", "12 12 12 1E 03"), ("paper empty", "1A 32 12 7E 0F"),
          ("cover open", "1A 16 12 12 00"), ("offline", "1A 12 12 12 00"), ("error", "1A 52 32 12 00")]
# A 16-dot x 3-row GS v 0 image whose data holds both queries' bytes.
IMAGE_DATA = DLE_EOT_4 + GS_R_1
IMAGE = b"\x1dv0\x00\x02\x00\x03\x00" + IMAGE_DATA
JOB = [DLE_EOT_4, b"\x1b@", GS_R_1, IMAGE, b"\x1b\x70\x00\x32\x32", b"\x1dVA\x10"]


class Server:
    """A talvero-virtual-printer process on a free port, its files in a scratch folder."""

    def __init__(self, test, paper, *extra):
        self.dir = tempfile.mkdtemp(prefix="talvero-vp-")
        test.addCleanup(shutil.rmtree, self.dir, True)
        self.proc, self.port = kit.start_virtual_printer(TOOL, self.dir, paper, *extra)
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

    def connect(self):
        return socket.create_connection(("127.0.0.1", self.port), timeout=5)

    def control(self, command):
        return kit.control_printer(self.proc, command)

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

    def test_answers_follow_the_state(self):
        server = Server(self, "ok")
        for command, answers in STATES:
            with self.subTest(state=command):
                server.control("ready")
                server.control(command)
                with server.connect() as s:
                    s.sendall(QUERIES)
                    self.assertEqual(recv_exactly(s, 5), bytes.fromhex(answers))

    def test_holds_the_job_until_the_paper_is_back(self):
        server = Server(self, "empty", "--buffer", "4096")
        image = b"\x1dv0\x00\x48\x00\x64\x00" + bytes(range(256)) * 28 + bytes(32)  # 72 x 100 bytes
        job = b"\x1b@" + image * 3
        with server.connect() as s:
            s.sendall(b"\x1b@" + DLE_EOT_4)
            self.assertEqual(s.recv(1), b"\x7e", "DLE EOT is answered at once")
            s.sendall(GS_R_1)
            writer = threading.Thread(target=s.sendall, args=(job[2:],))
            writer.start()
            kit.wait_for(lambda: server.control("status")["held"] == "4096", 5, "a full receive buffer")
            time.sleep(0.3)
            self.assertEqual(server.control("status")["held"], "4096", "reading stops while the buffer is full")
            self.assertEqual(server.control("paper ok")["paper"], "ok")
            self.assertEqual(s.recv(1), b"\x00", "GS r is answered once the data before it is printed")
            writer.join(5)
            kit.wait_for(lambda: server.control("status")["received"] == str(len(job)), 5, "the whole job")
            self.assertEqual(server.control("paper empty after 100")["empty-after"], "100")
            small = b"\x1dv0\x00\x08\x00\x20\x00" + bytes(256)
            s.sendall(small + DLE_EOT_4)
            self.assertEqual(s.recv(1), b"\x7e", "the roll ran out after 100 bytes")
        with open(server.wait_file("job-1.bin"), "rb") as f:
            self.assertEqual(f.read(), job + small)
        status, out, err = server.stop()
        self.assertIn("state: paper ran out", out)
        self.assertRegex(err, r"WARNING: job 1: \d+ bytes came while the printer could not print")
        self.assertIn(f"WARNING: job 1: {len(small) - 100} bytes were still unprinted", err)

    def test_closes_resets_or_never_reads(self):
        server = Server(self, "ok")
        for mode, error in (("close-after 200", None), ("reset-after 0", ConnectionResetError)):
            with self.subTest(mode=mode):
                server.control("connection " + mode)
                with server.connect() as s:
                    got = None
                    try:
                        s.sendall(b"\x1b@" * 5000)
                        got = s.recv(1)
                    except OSError as e:
                        got = e
                    self.assertTrue(got == b"" if error is None else isinstance(got, (error, BrokenPipeError)), got)
        server.control("connection never-read")
        with server.connect() as s:
            s.sendall(b"\x1b@" * 1000)
            time.sleep(0.2)
            self.assertEqual(server.control("status")["received"], "0")
        status, out, _ = server.stop()
        self.assertIn("connection closed by the printer after 200 bytes", out)
        self.assertIn("job 1: 200 bytes, 100 commands", out)


def recv_exactly(s, count):
    """Reads `count` bytes from socket `s`."""
    data = b""
    while len(data) < count and (chunk := s.recv(count - len(data))):
        data += chunk
    return data


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    args, rest = parser.parse_known_args()
    TOOL = args.tool
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
