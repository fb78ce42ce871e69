"""Shared pieces of the MonitorFolder tests: the application's proxy class, a
recording callable, temporary folders and the host loop."""
import os
import subprocess
import tempfile
import time

import _w32
from device_proxies import MonitorFolder  # noqa: F401 (for the tests)
from device_support import HANG_GUARD_SECONDS, text_type


PROBE = u".probe"


class Recorder(object):
    """The callable: keeps every notice it receives, except those of the probe file."""

    def __init__(self):
        self.notices = []
        self.probed = False

    def __call__(self, *args):
        if args[2] == PROBE:
            self.probed = True
        else:
            self.notices.append(args)


def settle(folder, recorder):
    """Returns once the worker has armed the folder's first read: a probe file
    is written until its notice comes back. Folders added before it are armed too."""
    recorder.probed = False
    probe = os.path.join(folder, PROBE)
    deadline = time.time() + HANG_GUARD_SECONDS
    while not recorder.probed and time.time() < deadline:
        append(probe)
        _w32.PumpMessages(20)
    return recorder.probed


def pump_until(condition):
    """Runs the host loop until condition() holds; False when the hang guard ran out."""
    deadline = time.time() + HANG_GUARD_SECONDS
    while not condition():
        if time.time() > deadline:
            return False
        _w32.PumpMessages(20)
    return True


def drain(quiet_ms=0):
    """Dispatches what is queued, until nothing more arrives for quiet_ms."""
    while _w32.PumpMessages(quiet_ms):
        pass


def make_folder(*parts):
    path = os.path.join(*parts)
    os.makedirs(path)
    return path


def touch(path):
    open(path, "w").close()


def append(path):
    with open(path, "a") as f:
        f.write("x")


class TemporaryFolder(object):
    def __init__(self):
        self.path = text_type(tempfile.mkdtemp(prefix="monitor-test-"))

    def __call__(self, *parts):
        return os.path.join(self.path, *parts)

    def remove(self):
        subprocess.call(["rm", "-rf", self.path])  # also below the depth a path can name
