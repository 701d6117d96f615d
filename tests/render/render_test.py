"""Process-level tests of afterglow-render.

Usage: render_test.py PATH_TO_AFTERGLOW_RENDER [unittest arguments]
"""

import os
import pty
import random
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

RENDER = None
FRAME_BYTES = 320 * 240 * 3


def make_assets(folder, seed=1234):
    """Writes the three asset files as random bytes (many 255s in the mask)."""
    rnd = random.Random(seed)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "end.raw"), "wb") as f:
        f.write(rnd.randbytes(FRAME_BYTES))
    with open(os.path.join(folder, "vorpa2.raw"), "wb") as f:
        f.write(bytes(255 if rnd.random() < 0.3 else rnd.randrange(255) for _ in range(FRAME_BYTES)))
    with open(os.path.join(folder, "newfire.raw"), "wb") as f:
        f.write(rnd.randbytes(1200))


def run(args, cwd=None, fsize_limit=None, stdout=subprocess.PIPE, timeout=300):
    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (fsize_limit, fsize_limit))
    return subprocess.run([RENDER] + args, cwd=cwd, stdin=subprocess.DEVNULL, stdout=stdout,
                          stderr=subprocess.PIPE, timeout=timeout,
                          preexec_fn=limit if fsize_limit is not None else None)


def checksum_lines(stdout):
    return stdout.decode().splitlines()


class Fixture(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="render-test-")
        self.assets = os.path.join(self.tmp, "assets")
        make_assets(self.assets)

    def tearDown(self):
        for root, dirs, _ in os.walk(self.tmp):
            for d in dirs:
                os.chmod(os.path.join(root, d), 0o755)
        shutil.rmtree(self.tmp)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def ok(self, args, **kw):
        r = run(args, **kw)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(r.stderr, b"", "no progress or messages without a terminal")
        return r


class ChecksumTests(Fixture):
    def test_format_range_and_agreement_with_raw(self):
        raw = self.path("out.raw")
        full = checksum_lines(self.ok(["--assets", self.assets, "--to", "7", "--checksums",
                                       "--raw", raw]).stdout)
        self.assertEqual(len(full), 7)
        for n, line in enumerate(full, start=1):
            self.assertRegex(line, r"^%d [0-9a-f]{8}$" % n)
        with open(raw, "rb") as f:
            data = f.read()
        self.assertEqual(len(data), 7 * FRAME_BYTES)
        for n, line in enumerate(full):
            frame = data[n * FRAME_BYTES:(n + 1) * FRAME_BYTES]
            self.assertEqual(line.split()[1], "%08x" % zlib.crc32(frame))
        self.assertGreater(len(set(line.split()[1] for line in full)), 1, "frames change")

        part = checksum_lines(self.ok(["--assets", self.assets, "--from", "5", "--to", "7",
                                       "--checksums"]).stdout)
        self.assertEqual(part, full[4:7])

        r = self.ok(["--assets", self.assets, "--from", "6", "--to", "7", "--raw", raw])
        with open(raw, "rb") as f:
            self.assertEqual(f.read(), data[5 * FRAME_BYTES:], "an existing file is replaced")

    def test_asset_folder_default_and_missing_files(self):
        with_option = self.ok(["--assets", self.assets, "--to", "3", "--checksums"]).stdout
        in_folder = self.ok(["--to", "3", "--checksums"], cwd=self.assets).stdout
        self.assertEqual(with_option, in_folder)

        empty = self.path("empty")
        os.mkdir(empty)
        black = "%08x" % zlib.crc32(bytes(FRAME_BYTES))
        lines = checksum_lines(self.ok(["--assets", empty, "--to", "2", "--checksums"]).stdout)
        self.assertEqual(lines, ["1 " + black, "2 " + black], "missing files read as zeros")

    def test_end_picture_comes_from_the_asset_folder(self):
        with open(os.path.join(self.assets, "end.raw"), "rb") as f:
            end = "%08x" % zlib.crc32(f.read())
        lines = checksum_lines(self.ok(["--assets", self.assets, "--from", "1520", "--to", "1521",
                                        "--checksums"]).stdout)
        self.assertEqual(lines, ["1520 " + end, "1521 " + end])

    def test_bench_table_counts_frames_per_phase(self):
        out = self.ok(["--assets", self.assets, "--from", "205", "--to", "215",
                       "--bench"]).stdout.decode()
        rows = {}
        for line in out.splitlines()[1:]:
            m = re.match(r"^(.*?)\s+(\d+)\s+(\S+)\s+(\S+)\s+(\S+)$", line)
            self.assertIsNotNone(m, line)
            rows[m.group(1)] = int(m.group(2))
        self.assertEqual(rows, {
            "fire 1..209": 5, "glow 210..398": 6, "segments and bands 399..600": 0,
            "fans 601..1447": 0, "pause 1448..1498": 0, "rings and end 1499..": 0, "total": 11})


class PngTests(Fixture):
    def test_png_decodes_to_the_frame_in_rgb_order(self):
        frames = self.path("deep", "frames")
        raw = self.path("out.raw")
        self.ok(["--assets", self.assets, "--from", "2", "--to", "3", "--png", frames,
                 "--raw", raw])
        self.assertEqual(sorted(os.listdir(frames)), ["frame-00002.png", "frame-00003.png"])
        with open(raw, "rb") as f:
            data = f.read()
        for i, name in enumerate(["frame-00002.png", "frame-00003.png"]):
            path = os.path.join(frames, name)
            with open(path, "rb") as f:
                header = f.read(33)
            self.assertEqual(header[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(header[12:16], b"IHDR")
            width, height = int.from_bytes(header[16:20], "big"), int.from_bytes(header[20:24], "big")
            self.assertEqual((width, height, header[24], header[25]), (320, 240, 8, 2),
                             "320x240, 8 bits, RGB")
            rgb = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                                 capture_output=True).stdout
            bgr = data[i * FRAME_BYTES:(i + 1) * FRAME_BYTES]
            expected = bytearray(FRAME_BYTES)
            expected[0::3], expected[1::3], expected[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
            self.assertNotEqual(bytes(expected), bgr, "the frame tells the channels apart")
            self.assertEqual(rgb, bytes(expected))


class ErrorTests(Fixture):
    def assert_fails(self, args, status, *needles, **kw):
        r = run(args, **kw)
        err = r.stderr.decode()
        self.assertEqual(r.returncode, status, "%s: %s" % (args, err))
        self.assertEqual(r.stdout, b"", args)
        for needle in needles:
            self.assertIn(needle, err, args)
        if status == 2:
            self.assertIn("--help", err, args)
        return err

    def test_usage_errors(self):
        a = ["--assets", self.assets]
        cases = [
            (["--checksums", "--bogus"], "unknown option '--bogus'"),
            (["--checksums", "stray"], "unexpected argument 'stray'"),
            ([], "nothing to write"),
            (["--checksums", "--to"], "'--to' needs a value"),
            (["--checksums", "--to", "abc"], "'abc' is not a frame number"),
            (["--checksums", "--to", "12x"], "'12x' is not a frame number"),
            (["--checksums", "--to", ""], "is not a frame number"),
            (["--checksums", "--to", "0"], "out of range"),
            (["--checksums", "--from", "-3"], "out of range"),
            (["--checksums", "--to", "2147483648"], "out of range"),
            (["--checksums", "--to", "99999999999999999999999"], "out of range"),
            (["--checksums", "--from", "8", "--to", "7"], "--from 8 is after --to 7"),
            (["--checksums", "--from", "2000"], "--from 2000 is after --to 1600"),
            # Both ends of the range parse; only their order is wrong.
            (["--checksums", "--from=2147483647", "--to=2147483646"], "is after"),
            (["--png", "--checksums"], "'--png' needs a value"),
            (["--checksums", "--png="], "'--png' needs a value"),
            (["--checksums", "--raw", "-"], "standard output"),
            (["--bench", "--raw", "-"], "standard output"),
        ]
        for args, needle in cases:
            with self.subTest(args=args):
                self.assert_fails(a + args, 2, needle)

    def test_help(self):
        r = self.ok(["--help"])
        text = r.stdout.decode()
        for needle in ["Usage: afterglow-render", "--from A", "--to N", "--checksums", "--png DIR",
                       "--raw FILE", "--bench", "--assets DIR", "ffmpeg -f rawvideo"]:
            self.assertIn(needle, text)

    def test_io_errors_name_the_path_and_leave_nothing(self):
        a = ["--assets", self.assets, "--to", "3"]
        plain = self.path("plain")
        with open(plain, "w") as f:
            f.write("x")
        folder = self.path("folder")
        os.mkdir(folder)
        cases = [
            (["--assets", self.path("nowhere"), "--checksums"], self.path("nowhere"),
             "No such file or directory"),
            (["--assets", plain, "--checksums"], plain, "Not a directory"),
            (a + ["--png", plain + "/sub"], plain + "/sub", "Not a directory"),
            (a + ["--png", plain], plain, "Not a directory"),
            (a + ["--raw", self.path("nowhere", "out.raw")], self.path("nowhere", "out.raw"),
             "No such file or directory"),
            (a + ["--raw", folder], folder, "Is a directory"),
            (a + ["--raw", "/dev/full"], "/dev/full", "No space left on device"),
        ]
        for args, path, reason in cases:
            with self.subTest(args=args):
                self.assert_fails(args, 1, "'%s'" % path, reason)
        self.assertEqual(sorted(os.listdir(self.tmp)), ["assets", "folder", "plain"])
        self.assertEqual(os.listdir(folder), [])

    def test_write_failure_removes_the_partial_output(self):
        # A file size limit makes a write fail part way through a file.
        a = ["--assets", self.assets, "--to", "10"]
        raw = self.path("out.raw")
        with open(raw, "wb") as f:
            f.write(b"old")
        self.assert_fails(a + ["--raw", raw], 1, "'%s'" % raw, "File too large",
                          fsize_limit=FRAME_BYTES * 3 + 1000)
        self.assertFalse(os.path.exists(raw), "the partial raw file is removed")

        # Reached through a link, the file is emptied and the link is kept.
        captured = self.path("captured.raw")
        with open(captured, "wb") as out:
            r = run(a + ["--raw", "/dev/stdout"], stdout=out, fsize_limit=FRAME_BYTES * 3 + 1000)
        self.assertEqual(r.returncode, 1)
        self.assertIn("File too large", r.stderr.decode())
        self.assertTrue(os.path.lexists("/dev/stdout"))
        self.assertEqual(os.path.getsize(captured), 0)

        frames = self.path("frames")
        self.assert_fails(a + ["--png", frames], 1, "frame-00001.png",
                          "File too large", fsize_limit=100)
        self.assertEqual(os.listdir(frames), [], "no partial or temporary PNG is left")

    @unittest.skipIf(os.geteuid() == 0, "permissions do not bind root")
    def test_unwritable_folders(self):
        locked = self.path("locked")
        os.mkdir(locked, 0o555)
        a = ["--assets", self.assets, "--to", "2"]
        for args, path in [(a + ["--png", locked], locked),
                           (a + ["--png", os.path.join(locked, "new")], os.path.join(locked, "new")),
                           (a + ["--raw", os.path.join(locked, "out.raw")],
                            os.path.join(locked, "out.raw"))]:
            with self.subTest(args=args):
                self.assert_fails(args, 1, "'%s'" % path, "Permission denied")
        self.assertEqual(os.listdir(locked), [])


class SignalAndTerminalTests(Fixture):
    def test_interrupt_removes_the_partial_raw_file(self):
        raw = self.path("out.raw")
        frames = self.path("frames")
        p = subprocess.Popen([RENDER, "--assets", self.assets, "--to", "2000000000", "--raw", raw,
                              "--png", frames], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and len(os.listdir(frames) if os.path.isdir(frames)
                                                  else []) < 3:
            time.sleep(0.02)
        p.send_signal(signal.SIGINT)
        err = p.communicate(timeout=120)[1].decode()
        self.assertEqual(p.returncode, -signal.SIGINT, err)
        self.assertRegex(err, r"interrupted at frame \d+")
        self.assertFalse(os.path.exists(raw))
        names = os.listdir(frames)
        self.assertGreaterEqual(len(names), 2)
        self.assertTrue(all(re.fullmatch(r"frame-\d{5}\.png", n) for n in names), names)

    def test_progress_bar_on_a_terminal(self):
        # Without a terminal every other test checks that stderr stays empty.
        master, slave = pty.openpty()
        p = subprocess.Popen([RENDER, "--assets", self.assets, "--to", "2000000000", "--bench"],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=slave)
        os.close(slave)
        bar = re.compile(rb"frame \d+ of 2000000000 \[[#.]{30}\] +\d+%")
        shown = b""
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline and not bar.search(shown):
            if select.select([master], [], [], 1)[0]:
                shown += os.read(master, 4096)
        p.send_signal(signal.SIGINT)
        while True:
            try:
                chunk = os.read(master, 4096) if select.select([master], [], [], 30)[0] else b""
            except OSError:
                chunk = b""
            if not chunk:
                break
            shown += chunk
        p.communicate(timeout=60)
        os.close(master)
        self.assertEqual(p.returncode, -signal.SIGINT)
        self.assertRegex(shown, bar)
        # The bar is erased (overwritten with spaces) before the message.
        self.assertRegex(shown, rb"%\r +\rafterglow-render: interrupted at frame \d+")


if __name__ == "__main__":
    RENDER = os.path.abspath(sys.argv.pop(1))
    unittest.main()
