"""cmake --install of the build tree: the packer, the three raw files and a
desktop entry that starts the demo in the installed asset folder. Arguments:
the cmake program and the build folder."""

import os
import subprocess
import sys
import tempfile
import unittest

CMAKE, BUILD = sys.argv[1], sys.argv[2]


class Install(unittest.TestCase):
    def test_install_puts_assets_and_desktop_entry_in_place(self):
        with tempfile.TemporaryDirectory() as prefix:
            r = subprocess.run([CMAKE, "--install", BUILD, "--prefix", prefix],
                               capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertTrue(os.access(os.path.join(prefix, "bin", "afterglow-assets"), os.X_OK))
            share = os.path.join(prefix, "share", "afterglow")
            for name in ("end.raw", "vorpa2.raw", "newfire.raw"):
                with open(os.path.join(share, name), "rb") as a, \
                        open(os.path.join(BUILD, "share", "afterglow", name), "rb") as b:
                    self.assertEqual(a.read(), b.read(), name)
            with open(os.path.join(prefix, "share", "applications", "afterglow.desktop")) as f:
                lines = f.read().splitlines()
            self.assertEqual(lines[0], "[Desktop Entry]")
            entry = dict(line.split("=", 1) for line in lines[1:] if "=" in line)
            self.assertEqual(entry["Type"], "Application")
            self.assertEqual(entry["Exec"], os.path.join(prefix, "bin", "afterglow"))
            self.assertEqual(entry["Path"], share)
            self.assertEqual(entry["Terminal"], "false")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
