"""The real afterglow binary as a child process: the two start-up failures,
their messages and statuses, the key wait on a terminal, and presentation
when the texture cannot be locked. SDL calls are made to fail with the
LD_PRELOAD library of tests/sdl_faults."""

import fcntl
import os
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

BIN = os.environ["AFTERGLOW_BIN"]
FAULTS_LIB = os.environ["AFTERGLOW_SDL_FAULTS_LIB"]
INIT_ERROR_BIN = os.environ["SDL_INIT_ERROR_BIN"]
ASSET_SIZES = {"end.raw": 230400, "vorpa2.raw": 230400, "newfire.raw": 1200}
WAIT = 30  # seconds: an upper bound for things that take milliseconds

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from proctools import quit_records, read_log, wait_until as wait_until_within  # noqa: E402


def wait_until(condition, what, timeout=WAIT):
    wait_until_within(condition, what, timeout)


def child_env(**extra):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "LD_PRELOAD", "SDL_VIDEODRIVER")}
    # A sanitized build must accept the preloaded library before its runtime.
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
    env.update(extra)
    return env


def no_video_env():
    return child_env(SDL_VIDEODRIVER="nonexistent")


def fault_env(faults, log):
    return child_env(SDL_VIDEODRIVER="dummy", LD_PRELOAD=FAULTS_LIB,
                     AFTERGLOW_SDL_FAULTS=faults, AFTERGLOW_SDL_FAULT_LOG=log)


def sdl_init_error_text():
    out = subprocess.run([INIT_ERROR_BIN], env=no_video_env(), stdout=subprocess.PIPE,
                         stdin=subprocess.DEVNULL, timeout=WAIT, check=True).stdout
    assert out, "SDL gave no error text"
    return out


def folder_contents(folder):
    contents = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            contents[name] = f.read()
    return contents


class NoTerminal(unittest.TestCase):
    """Started with no controlling terminal, as from a desktop or by CI."""

    def run_demo(self, env, cwd):
        return subprocess.run([BIN], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              start_new_session=True, timeout=WAIT)

    def test_no_video(self):
        text = sdl_init_error_text()
        for with_assets in (False, True):
            with self.subTest(with_assets=with_assets), tempfile.TemporaryDirectory() as folder:
                for name, size in ASSET_SIZES.items():
                    if with_assets:
                        with open(os.path.join(folder, name), "wb") as f:
                            f.write(os.urandom(size))
                before = folder_contents(folder)
                r = self.run_demo(no_video_env(), folder)
                self.assertEqual(r.stderr, b"Couldn't initialize SDL: " + text + b"\n")
                self.assertEqual(r.stdout, b"")
                self.assertEqual(r.returncode, 1)
                self.assertEqual(folder_contents(folder), before)

    def test_no_display(self):
        # With no X11 or Wayland display, SDL falls back to its offscreen
        # driver, which shows nothing: that counts as no video.
        with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory() as runtime:
            r = self.run_demo(child_env(XDG_RUNTIME_DIR=runtime), folder)
            self.assertEqual(r.returncode, 1, r.stderr)
            # Libraries that SDL probes may write notes of their own first.
            self.assertTrue(r.stderr.endswith(b"Couldn't initialize SDL: No available video device\n"),
                            r.stderr)
            self.assertEqual(r.stderr.count(b"Couldn't"), 1)
            self.assertEqual(os.listdir(folder), [])

    def test_display_cannot_be_opened(self):
        cases = [("create_window", "SDL_CreateWindow", 1),
                 ("create_renderer", "SDL_CreateRenderer", 2),  # with vsync, then software
                 ("create_texture", "SDL_CreateTexture", 1)]
        for fault, function, attempts in cases:
            with self.subTest(fault=fault), tempfile.TemporaryDirectory() as folder, \
                    tempfile.TemporaryDirectory() as logs:
                log = os.path.join(logs, "log")
                r = self.run_demo(fault_env(fault, log), folder)
                self.assertEqual(r.stderr, b"Couldn't set display mode: injected fault: "
                                 + function.encode() + b"\n")
                self.assertEqual(r.returncode, 5)
                self.assertEqual(os.listdir(folder), [])
                # SDL_Quit once on the failure path and once more at exit.
                quits = quit_records(read_log(log))
                self.assertEqual(len(quits), 2)
                self.assertEqual(quits[0][function], (attempts, attempts))
                self.assertEqual(quits[0]["SDL_RenderPresent"], (0, 0))

    def test_lock_failing_every_frame(self):
        # Every frame is still presented and its events drained: the quit
        # event that SDL makes of SIGINT ends the run normally.
        with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory() as logs:
            log = os.path.join(logs, "log")
            p = subprocess.Popen([BIN], cwd=folder, env=fault_env("lock_texture", log),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, start_new_session=True)
            try:
                wait_until(lambda: "first SDL_RenderPresent" in read_log(log) or p.poll() is not None,
                           "the first frame")
                time.sleep(0.2)
                p.send_signal(signal.SIGINT)
                out, err = p.communicate(timeout=WAIT)
            finally:
                if p.poll() is None:
                    p.kill()
                    p.wait()
            self.assertEqual(err, b"")
            self.assertEqual(p.returncode, 0)
            quits = quit_records(read_log(log))
            self.assertEqual(len(quits), 1)
            locks, lock_failures = quits[0]["SDL_LockTexture"]
            self.assertGreater(locks, 0)
            self.assertEqual(lock_failures, locks)
            self.assertEqual(quits[0]["SDL_RenderPresent"], (locks, 0))


class WithTerminal(unittest.TestCase):
    """Started from a terminal (a pseudo-terminal here) with its standard
    input redirected: the wait reads one key press from the terminal."""

    def start_on_terminal(self, env, cwd):
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        settings = termios.tcgetattr(slave)  # before the child can change them

        def become_terminal_owner():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        # Standard input holds keys of its own, which must not end the wait.
        stdin_r, stdin_w = os.pipe()
        os.write(stdin_w, b"stdin\n")
        os.close(stdin_w)
        p = subprocess.Popen([BIN], cwd=cwd, env=env, stdin=stdin_r, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, preexec_fn=become_terminal_owner)
        os.close(stdin_r)
        self.addCleanup(lambda: p.poll() is None and (p.kill(), p.wait()))
        return p, master, slave, settings

    def wait_for_raw_mode(self, p, slave):
        def raw():
            lflag = termios.tcgetattr(slave)[3]
            return lflag & (termios.ECHO | termios.ICANON | termios.ISIG) == 0 or p.poll() is not None
        wait_until(raw, "the terminal to go raw")
        self.assertIsNone(p.poll(), "exited without waiting for a key")

    def assert_terminal_clean(self, master, slave, settings):
        self.assertEqual(termios.tcgetattr(slave), settings, "terminal settings not restored")
        # Nothing was echoed, and no byte of the key is left for the shell.
        fcntl.fcntl(master, fcntl.F_SETFL, os.O_NONBLOCK)
        try:
            echoed = os.read(master, 100)
        except BlockingIOError:
            echoed = b""
        self.assertEqual(echoed, b"")
        probe = termios.tcgetattr(slave)
        probe[3] &= ~termios.ICANON
        probe[6][termios.VMIN] = 0
        probe[6][termios.VTIME] = 0
        termios.tcsetattr(slave, termios.TCSANOW, probe)
        self.assertEqual(os.read(slave, 100), b"", "key bytes left on the terminal")

    def test_one_key_press_ends_the_wait(self):
        text = sdl_init_error_text()
        keys = [("letter", b"x"), ("arrow", b"\x1b[A"), ("function_key", b"\x1b[15~"),
                ("lone_escape", b"\x1b"), ("ctrl_c", b"\x03"), ("two_byte_character", "é".encode())]
        for name, key in keys:
            with self.subTest(key=name), tempfile.TemporaryDirectory() as folder:
                p, master, slave, settings = self.start_on_terminal(no_video_env(), folder)
                self.wait_for_raw_mode(p, slave)
                os.write(master, key)
                out, err = p.communicate(timeout=WAIT)
                self.assertEqual(err, b"Couldn't initialize SDL: " + text + b"\n")
                self.assertEqual(p.returncode, 1)
                self.assert_terminal_clean(master, slave, settings)
                self.assertEqual(os.listdir(folder), [])

    def test_display_failure_quits_sdl_after_the_key(self):
        with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryDirectory() as logs:
            log = os.path.join(logs, "log")
            p, master, slave, settings = self.start_on_terminal(fault_env("create_window", log), folder)
            self.wait_for_raw_mode(p, slave)
            self.assertEqual(quit_records(read_log(log)), [], "SDL_Quit before the key press")
            os.write(master, b"\r")
            out, err = p.communicate(timeout=WAIT)
            self.assertEqual(err, b"Couldn't set display mode: injected fault: SDL_CreateWindow\n")
            self.assertEqual(p.returncode, 5)
            self.assertEqual(len(quit_records(read_log(log))), 2)
            self.assert_terminal_clean(master, slave, settings)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
