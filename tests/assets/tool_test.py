"""afterglow-assets as a process: pack and unpack, byte order, the spark
file, and the faults it reports. The tool's path comes from AFTERGLOW_ASSETS.

The PNG fixtures are written and read by the small codec below (zlib only),
so the test does not trust the tool's own PNG library to check itself."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

TOOL = os.environ.get("AFTERGLOW_ASSETS", "afterglow-assets")

PICTURE = 230400
SPARK_FILE = 1200
SPARK = 150


def png_bytes(w, h, pixels, alpha=False, gray=False):
    """An 8-bit RGB (RGBA, grey) PNG of w x h from a flat list of bytes."""
    channels = 1 if gray else 4 if alpha else 3
    assert len(pixels) == w * h * channels
    rows = b"".join(b"\0" + bytes(pixels[y * w * channels:(y + 1) * w * channels]) for y in range(h))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", w, h, 8, 0 if gray else 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


def write_png(path, w, h, pixels, alpha=False, gray=False):
    with open(path, "wb") as f:
        f.write(png_bytes(w, h, pixels, alpha, gray))


def read_png(path):
    """(width, height, RGB bytes) of an 8-bit, non-interlaced RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, w = 8, b"", 0
    while pos < len(data):
        (n,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            w, h, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and ctype in (2, 6) and interlace == 0, (depth, ctype, interlace)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    bpp = 3 if ctype == 2 else 4
    raw, stride, out, prev = zlib.decompress(idat), w * bpp, bytearray(), bytearray(w * bpp)
    for y in range(h):
        filt, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], (prev[i - bpp] if i >= bpp else 0)
            if filt == 1:
                line[i] = (line[i] + a) & 255
            elif filt == 2:
                line[i] = (line[i] + b) & 255
            elif filt == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif filt == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        for x in range(w):
            out += line[x * bpp:x * bpp + 3]
    return w, h, bytes(out)


def pattern(count, seed):
    """count bytes from a fixed xorshift sequence."""
    s, out = seed, bytearray()
    for _ in range(count):
        s ^= (s << 13) & 0xFFFFFFFF
        s ^= s >> 17
        s ^= (s << 5) & 0xFFFFFFFF
        out.append(s >> 24)
    return bytes(out)


def bgr(rgb):
    """RGB bytes reordered as blue, green, red."""
    out = bytearray(len(rgb))
    out[0::3], out[1::3], out[2::3] = rgb[2::3], rgb[1::3], rgb[0::3]
    return bytes(out)


def write_sources(folder, end=None, logo=None, spark=None):
    """A good set of the three PNG sources, each replaceable by given bytes."""
    end = end if end is not None else pattern(PICTURE, 7)
    if logo is None:
        logo = bytearray(PICTURE)
        for i in range(0, PICTURE, 7):
            logo[i] = 255
        logo = bytes(logo)
    spark = spark if spark is not None else pattern(SPARK, 11)
    write_png(os.path.join(folder, "end.png"), 320, 240, end)
    write_png(os.path.join(folder, "logo.png"), 320, 240, logo)
    write_png(os.path.join(folder, "spark.png"), 10, 5, spark)
    return end, logo, spark


def run(args, cwd):
    return subprocess.run([TOOL] + args, cwd=cwd, capture_output=True, text=True)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def listing(folder):
    return sorted(os.listdir(folder))


class PackUnpack(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.src, self.raw, self.back = (os.path.join(self.dir, d) for d in ("src", "raw", "back"))
        for d in (self.src, self.raw, self.back):
            os.mkdir(d)

    def tearDown(self):
        self.tmp.cleanup()

    def test_round_trip_keeps_every_byte(self):
        end, logo, spark = write_sources(self.src)
        r = run(["pack", "--from", self.src, "--to", self.raw], self.dir)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(listing(self.raw), ["end.raw", "newfire.raw", "vorpa2.raw"])
        self.assertEqual(read(os.path.join(self.raw, "end.raw")), bgr(end))
        self.assertEqual(read(os.path.join(self.raw, "vorpa2.raw")), bgr(logo))

        r = run(["unpack", "--from=" + self.raw, "--to=" + self.back], self.dir)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(listing(self.back), ["end.png", "logo.png", "spark.png"])
        self.assertEqual(read_png(os.path.join(self.back, "end.png")), (320, 240, end))
        self.assertEqual(read_png(os.path.join(self.back, "logo.png")), (320, 240, logo))
        self.assertEqual(read_png(os.path.join(self.back, "spark.png")), (10, 5, spark))

        again = os.path.join(self.dir, "again")
        os.mkdir(again)
        self.assertEqual(run(["pack", "--from", self.back, "--to", again], self.dir).returncode, 0)
        for name in ("end.raw", "vorpa2.raw", "newfire.raw"):
            self.assertEqual(read(os.path.join(again, name)), read(os.path.join(self.raw, name)), name)

    def test_red_becomes_0_0_255_and_back(self):
        red = bytes([255, 0, 0]) * (320 * 240)
        write_sources(self.src, end=red)
        self.assertEqual(run(["pack", "--to", self.raw], self.src).returncode, 0)
        self.assertEqual(read(os.path.join(self.raw, "end.raw")), bytes([0, 0, 255]) * (320 * 240))
        self.assertEqual(run(["unpack"], self.raw).returncode, 0)
        self.assertEqual(read_png(os.path.join(self.raw, "end.png"))[2], red)

    def test_spark_file_is_1200_bytes_sprite_first(self):
        _, _, spark = write_sources(self.src)
        self.assertEqual(run(["pack", "--to", self.raw], self.src).returncode, 0)
        data = read(os.path.join(self.raw, "newfire.raw"))
        self.assertEqual(len(data), SPARK_FILE)
        self.assertEqual(data[:SPARK], bgr(spark))
        self.assertEqual(data[SPARK:], bytes(SPARK_FILE - SPARK))

    def test_transparent_pixels_count_as_over_black(self):
        write_sources(self.src)
        # Opaque orange, fully transparent white, half-transparent red.
        pixels = [255, 128, 0, 255, 255, 255, 255, 0, 255, 0, 0, 128] + [10, 20, 30, 255] * 47
        write_png(os.path.join(self.src, "spark.png"), 10, 5, pixels, alpha=True)
        self.assertEqual(run(["pack", "--to", self.raw], self.src).returncode, 0)
        data = read(os.path.join(self.raw, "newfire.raw"))
        self.assertEqual(list(data[:9]), [0, 128, 255, 0, 0, 0, 0, 0, 128])

    def test_grey_mask_gives_each_grey_to_all_three_bytes(self):
        write_sources(self.src)
        grey = pattern(320 * 240, 9)
        write_png(os.path.join(self.src, "logo.png"), 320, 240, grey, gray=True)
        self.assertEqual(run(["pack", "--to", self.raw], self.src).returncode, 0)
        self.assertEqual(read(os.path.join(self.raw, "vorpa2.raw")), bytes(g for g in grey for _ in range(3)))

    def test_bad_sources_are_refused_and_nothing_is_written(self):
        big = pattern(640 * 480 * 3, 3)
        cases = [
            # (file, its bytes, message, status)
            ("end.png", png_bytes(640, 480, big),
             "end.png is 640 \u00d7 480; the end picture must be 320 \u00d7 240", 1),
            ("logo.png", png_bytes(320, 200, big[:320 * 200 * 3]),
             "logo.png is 320 \u00d7 200; the logo mask must be 320 \u00d7 240", 1),
            ("spark.png", png_bytes(16, 16, big[:16 * 16 * 3]),
             "spark.png is 16 \u00d7 16; the spark sprite must be 10 \u00d7 5", 1),
            ("logo.png", b"GIF89a not a picture of ours", "logo.png is not a PNG file", 1),
            ("end.png", b"", "end.png is not a PNG file", 1),
            ("end.png", png_bytes(320, 240, big[:PICTURE])[:400], "end.png is a damaged PNG file", 1),
            ("spark.png", None, "cannot read spark.png: No such file or directory", 1),
            ("end.png", "folder", "cannot read end.png: not a regular file", 1),
        ]
        for name, content, message, status in cases:
            with self.subTest(name=name, message=message), tempfile.TemporaryDirectory() as d:
                src, out = os.path.join(d, "src"), os.path.join(d, "out")
                os.mkdir(src)
                os.mkdir(out)
                write_sources(src)
                # Old raw files in the target must survive a refused pack.
                for raw in ("end.raw", "vorpa2.raw", "newfire.raw"):
                    with open(os.path.join(out, raw), "wb") as f:
                        f.write(b"old")
                path = os.path.join(src, name)
                os.remove(path)
                if content == "folder":
                    os.mkdir(path)
                elif content is not None:
                    with open(path, "wb") as f:
                        f.write(content)
                r = run(["pack", "--to", out], src)
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertIn("afterglow-assets: " + message, r.stderr)
                self.assertEqual(listing(out), ["end.raw", "newfire.raw", "vorpa2.raw"])
                for raw in listing(out):
                    self.assertEqual(read(os.path.join(out, raw)), b"old", raw)

    def test_unwritable_output_leaves_no_file(self):
        write_sources(self.src)
        missing = os.path.join(self.dir, "no-such-folder")
        r = run(["pack", "--to", missing], self.src)
        self.assertEqual(r.returncode, 1)
        self.assertIn("cannot write " + missing + "/end.raw: No such file or directory", r.stderr)
        self.assertFalse(os.path.exists(missing))
        # A folder where a raw file should go: the rename fails, the
        # temporary file is removed.
        os.mkdir(os.path.join(self.raw, "vorpa2.raw"))
        r = run(["pack", "--to", self.raw], self.src)
        self.assertEqual(r.returncode, 1)
        self.assertIn("cannot write " + self.raw + "/vorpa2.raw: Is a directory", r.stderr)
        self.assertEqual(listing(self.raw), ["end.raw", "vorpa2.raw"])
        # The same for a PNG that unpack cannot put in place.
        os.rmdir(os.path.join(self.raw, "vorpa2.raw"))
        self.assertEqual(run(["pack", "--to", self.raw], self.src).returncode, 0)
        os.mkdir(os.path.join(self.back, "logo.png"))
        r = run(["unpack", "--from", self.raw, "--to", self.back], self.dir)
        self.assertEqual(r.returncode, 1)
        self.assertIn("cannot write " + self.back + "/logo.png", r.stderr)
        self.assertEqual(listing(self.back), ["end.png", "logo.png", "spark.png"])

    def test_wrong_sized_raw_files_are_read_as_the_demo_reads_them(self):
        write_sources(self.src)
        self.assertEqual(run(["pack", "--to", self.raw], self.src).returncode, 0)
        end = pattern(1000, 5)
        mask = pattern(300000, 6)
        spark = pattern(100, 8)
        for name, data in (("end.raw", end), ("vorpa2.raw", mask), ("newfire.raw", spark)):
            with open(os.path.join(self.raw, name), "wb") as f:
                f.write(data)
        r = run(["unpack", "--to", self.back], self.raw)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("afterglow-assets: warning: end.raw has 1,000 bytes, fewer than 230,400; "
                      "the demo reads it so and the rest is black", r.stderr)
        self.assertIn("afterglow-assets: warning: vorpa2.raw has 300,000 bytes, more than 230,400; "
                      "the demo reads only the first 230,400 and the rest is ignored", r.stderr)
        self.assertIn("afterglow-assets: warning: newfire.raw has 100 bytes, fewer than 1,200", r.stderr)
        # 1,000 bytes: 333 whole pixels and one byte (blue) of the next.
        self.assertEqual(read_png(os.path.join(self.back, "end.png"))[2],
                         bgr(end[:999]) + bytes([0, 0, end[999]]) + bytes(PICTURE - 1002))
        self.assertEqual(read_png(os.path.join(self.back, "logo.png"))[2], bgr(mask[:PICTURE]))
        self.assertEqual(read_png(os.path.join(self.back, "spark.png"))[2],
                         bgr(spark[:99]) + bytes([0, 0, spark[99]]) + bytes(SPARK - 102))

    def test_missing_raw_file_fails_unpack(self):
        write_sources(self.src)
        self.assertEqual(run(["pack", "--to", self.raw], self.src).returncode, 0)
        os.remove(os.path.join(self.raw, "newfire.raw"))
        r = run(["unpack", "--to", self.back], self.raw)
        self.assertEqual(r.returncode, 1)
        self.assertIn("cannot read newfire.raw: No such file or directory", r.stderr)
        self.assertEqual(listing(self.back), ["end.png", "logo.png"])

    def test_usage(self):
        cases = [
            ([], 2, "no command given"),
            (["bake"], 2, "unknown command bake"),
            (["pack", "--form", "x"], 2, "unknown option --form"),
            (["pack", "--from"], 2, "option --from needs a folder"),
            (["pack", "--to="], 2, "option --to= needs a folder"),
            (["pack", "unpack"], 2, "unexpected argument unpack"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args):
                r = run(args, self.dir)
                self.assertEqual(r.returncode, status)
                self.assertIn(message, r.stderr)
                self.assertIn("--help", r.stderr)
                self.assertEqual(listing(self.dir), ["back", "raw", "src"])
        r = run(["--help"], self.dir)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertIn("pack [--from DIR] [--to DIR]", r.stdout)
        self.assertIn("unpack [--from DIR] [--to DIR]", r.stdout)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
