"""Helpers shared by the process tests: the SDL fault library's log and
polling with a bound."""

import time


def read_log(path):
    """The lines of the fault library's log, none when it was not written."""
    try:
        with open(path, "rb") as f:
            return f.read().decode().splitlines()
    except FileNotFoundError:
        return []


def quit_records(lines):
    """The counts of each SDL_Quit line: [{name: (calls, failures)}]."""
    records = []
    for line in lines:
        words = line.split()
        if words and words[0] == "SDL_Quit":
            counts = {}
            for w in words[1:]:
                name, value = w.split("=")
                calls, failures = value.split("/")
                counts[name] = (int(calls), int(failures))
            records.append(counts)
    return records


def wait_until(condition, what, timeout):
    """Polls condition until it holds; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.01)
