"""The real binaries given bad input and a failing platform: asset names that
are folders, empty files, unreadable files, links to nothing, link loops or
FIFOs with no writer; the texture lock failing in every frame on a real X
display; the terminal wait with the terminal as standard input and from a
background job. In every case the demo's folder is left exactly as it was."""

import fcntl
import os
import random
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import termios
import time
import unittest

BIN = os.environ["AFTERGLOW_BIN"]
RENDER_BIN = os.environ.get("AFTERGLOW_RENDER_BIN", "")
FAULTS_LIB = os.environ["AFTERGLOW_SDL_FAULTS_LIB"]
ASSET_SIZES = {"end.raw": 230400, "vorpa2.raw": 230400, "newfire.raw": 1200}
WAIT = 60  # seconds: a bound for things that take milliseconds, only to catch a hang
RENDER_LAST_FRAME = 1530  # past the first rings and into the end picture

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "driver"))
from xvfb_test import screenshot, start_xvfb  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from proctools import quit_records, read_log, wait_until as wait_until_within  # noqa: E402


def wait_until(condition, what, timeout=WAIT):
    wait_until_within(condition, what, timeout)


def quit_counts(lines):
    """The counts of the last SDL_Quit record: {name: (calls, failures)}."""
    records = quit_records(lines)
    return records[-1] if records else {}


def child_env(**extra):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "LD_PRELOAD") and not k.startswith("SDL_")}
    # A sanitized build must accept the preloaded library before its runtime.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    env.update(extra)
    return env


def folder_state(folder):
    """Everything a run could change in a folder: its own modification time
    (which any file made and removed again would bump) and, per entry, its
    type, permissions, size, modification time and link target."""
    state = {".": os.lstat(folder).st_mtime_ns}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        st = os.lstat(path)
        entry = (stat.S_IFMT(st.st_mode), stat.S_IMODE(st.st_mode), st.st_size, st.st_mtime_ns)
        if stat.S_ISLNK(st.st_mode):
            entry += (os.readlink(path),)
        state[name] = entry
    return state


def random_assets(seed):
    rng = random.Random(seed)
    return {name: rng.randbytes(size) for name, size in ASSET_SIZES.items()}


# Ways an asset name can be something other than a readable file. Each makes
# the entry at path; "root_reads" says whether the root user reads it anyway.
def make_folder(path):
    os.mkdir(path)


def make_empty(path):
    open(path, "wb").close()


def make_unreadable(path):
    with open(path, "wb") as f:
        f.write(b"\xff" * 4096)
    os.chmod(path, 0)


def make_dangling_link(path):
    os.symlink(path + ".gone", path)


def make_link_loop(path):
    os.symlink(os.path.basename(path), path)


def make_fifo(path):
    os.mkfifo(path)


def make_link_to_fifo(path):
    os.mkfifo(path + ".fifo")
    os.symlink(os.path.basename(path) + ".fifo", path)


ODD_KINDS = [
    ("folder", make_folder, False),
    ("empty_file", make_empty, False),
    ("unreadable_file", make_unreadable, True),
    ("dangling_link", make_dangling_link, False),
    ("link_loop", make_link_loop, False),
    ("fifo_without_writer", make_fifo, False),
    ("link_to_fifo", make_link_to_fifo, False),
]


class OddFiles(unittest.TestCase):
    """Every odd kind of entry, under all three asset names at once, and under
    two names beside a real "end.raw": the programs go on exactly as if the
    odd files were missing, and never hang at start-up."""

    def cases(self):
        for kind, make, root_reads in ODD_KINDS:
            if root_reads and os.geteuid() == 0:
                continue  # root reads a file whatever its permissions
            for with_end in (False, True):
                yield kind, make, with_end

    def make_folder_with(self, make, with_end, end_bytes):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        for name in ASSET_SIZES:
            if with_end and name == "end.raw":
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(end_bytes)
            else:
                make(os.path.join(folder, name))
        return folder

    def test_demo_starts_and_quits_normally(self):
        end_bytes = random_assets("end")["end.raw"]
        for kind, make, with_end in self.cases():
            for sig in (signal.SIGINT, signal.SIGTERM):
                with self.subTest(kind=kind, with_end=with_end, signal=sig.name):
                    folder = self.make_folder_with(make, with_end, end_bytes)
                    self.run_demo_until_frames(folder, sig)

    def run_demo_until_frames(self, folder, sig):
        # The fault library with no faults named only records the first frame
        # presented; SDL turns SIGINT and SIGTERM into its quit event, which
        # ends the frame loop like Escape.
        with tempfile.TemporaryDirectory() as logs:
            log = os.path.join(logs, "log")
            before = folder_state(folder)
            started = time.monotonic()
            p = subprocess.Popen([BIN], cwd=folder,
                                 env=child_env(SDL_VIDEODRIVER="dummy", LD_PRELOAD=FAULTS_LIB,
                                               AFTERGLOW_SDL_FAULT_LOG=log),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, start_new_session=True)
            try:
                wait_until(lambda: "first SDL_RenderPresent" in read_log(log) or p.poll() is not None,
                           "the first frame")
                first_frame = time.monotonic() - started
                self.assertIsNone(p.poll(), "ended before its first frame was shown")
                time.sleep(0.1)
                p.send_signal(sig)
                out, err = p.communicate(timeout=WAIT)
            finally:
                if p.poll() is None:
                    p.kill()
                    p.wait()
            self.assertEqual((p.returncode, out, err), (0, b"", b""))
            self.assertEqual(len([l for l in read_log(log) if l.startswith("SDL_Quit")]), 1)
            self.assertEqual(folder_state(folder), before)
            if os.environ.get("FAULTS_VERBOSE"):
                print(f"  first frame after {first_frame:.3f} s", file=sys.stderr)

    @unittest.skipUnless(RENDER_BIN, "afterglow-render not built")
    def test_render_checksums_as_with_missing_files(self):
        end_bytes = random_assets("end")["end.raw"]
        expected = {}
        for with_end in (False, True):
            folder = tempfile.mkdtemp()
            self.addCleanup(shutil.rmtree, folder)
            if with_end:
                with open(os.path.join(folder, "end.raw"), "wb") as f:
                    f.write(end_bytes)
            expected[with_end] = self.render(folder)
        self.assertNotEqual(expected[False], expected[True])
        for kind, make, with_end in self.cases():
            with self.subTest(kind=kind, with_end=with_end):
                folder = self.make_folder_with(make, with_end, end_bytes)
                before = folder_state(folder)
                self.assertEqual(self.render(folder), expected[with_end])
                self.assertEqual(folder_state(folder), before)

    def render(self, folder):
        r = subprocess.run([RENDER_BIN, "--assets", folder, "--to", str(RENDER_LAST_FRAME), "--checksums"],
                           env=child_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=WAIT * 5)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        lines = r.stdout.decode().splitlines()
        self.assertEqual(len(lines), RENDER_LAST_FRAME)
        return lines


@unittest.skipUnless(all(shutil.which(t) for t in ("Xvfb", "xwd", "xdotool")), "needs Xvfb, xwd, xdotool")
class LockFailingOnRealDisplay(unittest.TestCase):
    """The texture lock failing in every frame, on a real X display: the
    picture never changes, every frame is still presented and its events
    drained, and Escape ends the run with status 0."""

    def test_display_never_changes_and_escape_quits(self):
        xvfb, display = start_xvfb(640, 480)
        self.addCleanup(lambda: (xvfb.terminate(), xvfb.wait()))
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        # Real pictures, so that a frame that did get through would show.
        for name, data in random_assets("lock").items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        logs = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, logs)
        log = os.path.join(logs, "log")
        env = child_env(DISPLAY=display, SDL_RENDER_VSYNC="0", LD_PRELOAD=FAULTS_LIB,
                        AFTERGLOW_SDL_FAULTS="lock_texture", AFTERGLOW_SDL_FAULT_LOG=log)
        # In a sanitized build the X11, D-Bus and Mesa libraries leave
        # allocations behind at exit that are not the demo's; leaks stay
        # checked in the runs under the dummy driver.
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
        before = folder_state(folder)
        output = tempfile.TemporaryFile()
        self.addCleanup(output.close)
        demo = subprocess.Popen([BIN], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                stdout=output, stderr=output, start_new_session=True)
        self.addCleanup(lambda: demo.poll() is None and (demo.kill(), demo.wait()))

        wait_until(lambda: "first SDL_RenderPresent" in read_log(log) or demo.poll() is not None,
                   "the first frame")
        self.assertIsNone(demo.poll(), "ended before its first frame was shown")
        shots = []
        for _ in range(3):
            time.sleep(0.5)
            shots.append(screenshot(display))
        self.assertIsNone(demo.poll())
        # Compared as a flag: a diff of two screenshots would take minutes.
        changed = [i for i, shot in enumerate(shots) if shot != shots[0]]
        self.assertEqual(changed, [], "the display changed though no frame got through")

        subprocess.run(["xdotool", "key", "Escape"], env=env, check=True, timeout=WAIT)
        demo.wait(timeout=WAIT)
        output.seek(0)
        self.assertEqual((demo.returncode, output.read()), (0, b""))
        counts = quit_counts(read_log(log))
        locks, lock_failures = counts["SDL_LockTexture"]
        self.assertGreater(locks, 1)
        self.assertEqual(lock_failures, locks)
        self.assertEqual(counts["SDL_RenderPresent"], (locks, 0))
        self.assertEqual(folder_state(folder), before)


class TerminalWait(unittest.TestCase):
    """The key wait after a start-up failure, with the terminal as standard
    input (as when started from a shell), and from a background job, which
    must not wait for a key it cannot read."""

    def open_terminal(self):
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        return master, slave

    def test_stdin_is_the_terminal(self):
        for key in (b"q", b"\x1b[B"):
            with self.subTest(key=key), tempfile.TemporaryDirectory() as folder:
                before = folder_state(folder)
                master, slave = self.open_terminal()
                settings = termios.tcgetattr(slave)

                def own_terminal():
                    os.setsid()
                    fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
                p = subprocess.Popen([BIN], cwd=folder, env=child_env(SDL_VIDEODRIVER="nonexistent"),
                                     stdin=slave, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     preexec_fn=own_terminal)
                self.addCleanup(lambda: p.poll() is None and (p.kill(), p.wait()))

                def raw():
                    return termios.tcgetattr(slave)[3] & (termios.ECHO | termios.ICANON) == 0 \
                        or p.poll() is not None
                wait_until(raw, "the terminal to go raw")
                self.assertIsNone(p.poll(), "ended without waiting for a key")
                os.write(master, key)
                out, err = p.communicate(timeout=WAIT)
                self.assertEqual(p.returncode, 1)
                self.assertTrue(err.startswith(b"Couldn't initialize SDL: "), err)
                self.assertEqual(termios.tcgetattr(slave), settings)
                # No echo, and nothing of the key left for the next program.
                fcntl.fcntl(master, fcntl.F_SETFL, os.O_NONBLOCK)
                with self.assertRaises(BlockingIOError):
                    os.read(master, 100)
                probe = termios.tcgetattr(slave)
                probe[3] &= ~termios.ICANON
                probe[6][termios.VMIN] = 0
                probe[6][termios.VTIME] = 0
                termios.tcsetattr(slave, termios.TCSANOW, probe)
                self.assertEqual(os.read(slave, 100), b"")
                termios.tcsetattr(slave, termios.TCSANOW, settings)
                self.assertEqual(folder_state(folder), before)

    def test_background_job_does_not_wait(self):
        # A session leader owns the terminal and stays its foreground group;
        # the demo runs in a process group of its own, as a shell's "&" job.
        leader = (
            "import fcntl, os, subprocess, sys, termios\n"
            "fcntl.ioctl(0, termios.TIOCSCTTY, 0)\n"
            "p = subprocess.Popen(sys.argv[1:], process_group=0)\n"
            "sys.exit(p.wait())\n")
        with tempfile.TemporaryDirectory() as folder:
            before = folder_state(folder)
            master, slave = self.open_terminal()
            settings = termios.tcgetattr(slave)
            r = subprocess.run([sys.executable, "-c", leader, BIN], cwd=folder,
                               env=child_env(SDL_VIDEODRIVER="nonexistent"), stdin=slave,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True, timeout=WAIT)
            self.assertEqual(r.returncode, 1)
            self.assertTrue(r.stderr.startswith(b"Couldn't initialize SDL: "), r.stderr)
            self.assertEqual(termios.tcgetattr(slave), settings)
            self.assertEqual(folder_state(folder), before)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
