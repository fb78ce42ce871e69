"""Shared pieces of the MonitorFolder tests: the application's proxy class, a
recording callable, temporary folders and the host loop."""
import os
import subprocess
import tempfile
import time

import _w32
from device_proxies import MonitorFolder  # noqa: F401 (for the tests)
from device_support import HANG_GUARD_SECONDS, pump_until, text_type  # noqa: F401 (pump_until for the tests)


PROBE = u".probe"


class Recorder(object):
    """The callable: keeps every notice it receives, except those of the probe
    file, of which it keeps the watches that gave one."""

    def __init__(self):
        self.notices = []
        self.probed = set()

    def __call__(self, *args):
        if args[2] == PROBE:
            self.probed.add(args[0])
        else:
            self.notices.append(args)


def settle(folder, recorder, watch=None):
    """Returns once the worker has armed the first read of the watch added as
    `watch` (by default `folder`): a probe file is written until that watch's
    notice comes back. Watches added before it are armed too."""
    watch = watch or folder
    recorder.probed.discard(watch)
    probe = os.path.join(folder, PROBE)
    deadline = time.time() + HANG_GUARD_SECONDS
    while watch not in recorder.probed and time.time() < deadline:
        append(probe)
        _w32.PumpMessages(20)
    return watch in recorder.probed


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
