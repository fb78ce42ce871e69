"""Watch set-up of a big tree: MonitorFolder beside `inotifywait -r` and
watchdog's inotify watch (Python 3) on the same tree in the same run.

The tree holds SETUP_FILES empty files, 100 to a folder, in folders of 100
folders. For each watcher: the time from the request to every folder being
watched (for MonitorFolder: from AddFolder until the process's inotify
instance holds a watch for every folder, as /proc/self/fdinfo lists them;
for inotifywait: from its start to "Watches established."; for watchdog:
the making of its recursive Inotify), and the memory it keeps per watched
file (resident memory after the set-up minus before, over the files; for
MonitorFolder its first set-up's); times are medians of 5 rounds in turns.

Then: notices of a folder watched already, while the tree is added. Another
process writes a file there every 5 ms, named after the time it wrote it;
the delay of each notice is the time it arrived minus that. Printed: the
longest delay and the median while the tree is being set up, beside the
same for watchdog (one observer, the small folder watched first).
"""
from __future__ import print_function

import os
import shutil
import subprocess
import sys
import tempfile
import time

import _Device
import _w32

FILES = int(os.environ.get("SETUP_FILES", 100000))
PER_FOLDER = 100
ROUNDS = 5
PYTHON3 = "/usr/bin/python3"

# A watchdog Inotify made on the tree: its time and the memory it keeps.
WATCHDOG_SETUP = r"""
import sys, time
from watchdog.observers.inotify_c import Inotify
def rss():
    with open("/proc/self/status") as status:
        return [int(l.split()[1]) for l in status if l.startswith("VmRSS:")][0] * 1024
before = rss()
start = time.time()
watch = Inotify(sys.argv[1].encode(), recursive=True)
print("%r %d" % (time.time() - start, rss() - before))
"""

# watchdog watching a small folder, then the tree; the delays of the small
# folder's notices while the tree is added, as "delay ..." lines.
WATCHDOG_DELAYS = r"""
import sys, time
from watchdog.observers import Observer
from watchdog.events import FileSystemEventHandler
small, tree, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
delays = []
class Handler(FileSystemEventHandler):
    def on_created(self, event):
        name = event.src_path.rsplit("/", 1)[-1]
        if name.startswith("t"):
            delays.append(time.time() - float(name[1:]))
observer = Observer()
observer.schedule(Handler(), small)
observer.start()
time.sleep(0.5)
del delays[:]
observer.schedule(Handler(), tree, recursive=True)
time.sleep(seconds)
observer.stop()
print(" ".join("%r" % d for d in delays))
"""

WRITER = r"""
import os, sys, time
folder, seconds = sys.argv[1], float(sys.argv[2])
end = time.time() + seconds
while time.time() < end:
    open(os.path.join(folder, "t%r" % time.time()), "w").close()
    time.sleep(0.005)
"""


def rss_bytes(pid="self"):
    with open("/proc/%s/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def make_tree(files):
    root = tempfile.mkdtemp(prefix="monitor-setup-")
    folders = 0
    for index in range(0, files, PER_FOLDER):
        folder = os.path.join(root, "g%03d" % (index // (PER_FOLDER * 100)), "f%05d" % (index // PER_FOLDER))
        os.makedirs(folder)
        folders += 1
        for number in range(index, min(files, index + PER_FOLDER)):
            open(os.path.join(folder, "file%06d" % number), "w").close()
    return root, folders + len(os.listdir(root)) + 1


def inotify_watches():
    """Watches of this process's inotify instances."""
    count = 0
    for fd in os.listdir("/proc/self/fd"):
        try:
            if os.readlink("/proc/self/fd/" + fd) != "anon_inode:inotify":
                continue
            with open("/proc/self/fdinfo/" + fd) as info:
                count += sum(1 for line in info if line.startswith("inotify wd:"))
        except (IOError, OSError):
            pass
    return count


class Delays(object):
    def __init__(self):
        self.delays = []
        self.other = 0

    def __call__(self, folder, kind, name, second):
        if kind == u"Add" and name.startswith(u"t"):
            self.delays.append(time.time() - float(name[1:]))
        else:
            self.other += 1


def ours_setup(root, folders, small):
    """Seconds from AddFolder until every folder is watched, and the bytes kept per file."""
    delays = Delays()
    monitor = _Device.new_MonitorFolder(delays)
    _Device.MonitorFolder_Start(monitor)
    assert _Device.MonitorFolder_AddFolder(monitor, u"%s" % small)  # the threads and the instance exist
    _w32.PumpMessages(300)
    base = inotify_watches()
    before = rss_bytes()
    start = time.time()
    assert _Device.MonitorFolder_AddFolder(monitor, u"%s" % root)
    while inotify_watches() < base + folders and time.time() - start < 120:
        _w32.PumpMessages(2)
    took = time.time() - start
    kept = rss_bytes() - before
    _Device.MonitorFolder_Close(monitor)
    _Device.delete_MonitorFolder(monitor)
    return took, kept


def ours_delays(root, folders, small):
    """Delays of the small folder's notices while the tree is added."""
    delays = Delays()
    monitor = _Device.new_MonitorFolder(delays)
    _Device.MonitorFolder_Start(monitor)
    assert _Device.MonitorFolder_AddFolder(monitor, u"%s" % small)
    _w32.PumpMessages(300)
    base = inotify_watches()
    writer = subprocess.Popen([sys.executable, "-c", WRITER, small, "3"])
    end = time.time() + 0.5
    while time.time() < end:
        _w32.PumpMessages(5)
    del delays.delays[:]
    assert _Device.MonitorFolder_AddFolder(monitor, u"%s" % root)
    start = time.time()
    while inotify_watches() < base + folders and time.time() - start < 120:
        _w32.PumpMessages(2)
    end = time.time() + 0.3
    while time.time() < end:
        _w32.PumpMessages(5)
    writer.wait()
    _Device.MonitorFolder_Close(monitor)
    _Device.delete_MonitorFolder(monitor)
    return delays.delays


def inotifywait_setup(root):
    start = time.time()
    watcher = subprocess.Popen(["inotifywait", "-m", "-r", root], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    while b"Watches established" not in watcher.stderr.readline():
        pass
    took = time.time() - start
    kept = rss_bytes(watcher.pid)
    watcher.terminate()
    watcher.wait()
    return took, kept


def median(values):
    values = sorted(values)
    return values[len(values) // 2] if values else float("nan")


def medians(pairs):
    return median([p[0] for p in pairs]), median([p[1] for p in pairs])


def main():
    root, folders = make_tree(FILES)
    small = tempfile.mkdtemp(prefix="monitor-small-")
    empty = tempfile.mkdtemp(prefix="monitor-empty-")
    try:
        have_watchdog = subprocess.call([PYTHON3, "-c", "import watchdog"]) == 0
        # Each once to warm the caches, then the median of ROUNDS, taken in turns.
        # Memory from the first: later ones find the memory the first gave back.
        first = ours_setup(root, folders, small)
        inotifywait_setup(root)
        rounds = {"ours": [], "inotifywait": [], "watchdog": []}
        for _ in range(ROUNDS):
            rounds["ours"].append(ours_setup(root, folders, small))
            rounds["inotifywait"].append(inotifywait_setup(root))
            if have_watchdog:
                output = subprocess.check_output([PYTHON3, "-c", WATCHDOG_SETUP, root]).split()
                rounds["watchdog"].append((float(output[0]), int(output[1])))
        ours, reference = (medians(rounds["ours"])[0], first[1]), medians(rounds["inotifywait"])
        watchdog = medians(rounds["watchdog"]) if have_watchdog else None
        reference_base = inotifywait_setup(empty)[1]
        print("Watch set-up of a tree of %d files in %d folders (medians of %d)" % (FILES, folders, ROUNDS))
        print("  %-26s %12s %22s" % ("", "set-up", "memory per file"))
        print("  %-26s %9.0f ms %16.1f bytes" % ("_Device MonitorFolder", ours[0] * 1000, ours[1] / float(FILES)))
        print("  %-26s %9.0f ms %16.1f bytes" % ("inotifywait -r", reference[0] * 1000,
                                                 (reference[1] - reference_base) / float(FILES)))
        if watchdog:
            print("  %-26s %9.0f ms %16.1f bytes" % ("watchdog (inotify)", watchdog[0] * 1000,
                                                     watchdog[1] / float(FILES)))
        print("  (ours / inotifywait -r: %.2f)" % (ours[0] / reference[0]))

        delays = ours_delays(root, folders, small)
        print("Notices of a watched folder (a file every 5 ms) while the tree is added")
        print("  %-26s %10s %10s %8s" % ("", "longest", "median", "notices"))
        print("  %-26s %7.1f ms %7.2f ms %8d" % ("_Device MonitorFolder", max(delays) * 1000,
                                                median(delays) * 1000, len(delays)))
        if have_watchdog:
            output = subprocess.Popen([PYTHON3, "-c", WATCHDOG_DELAYS, small, root, "3"], stdout=subprocess.PIPE)
            writer = subprocess.Popen([sys.executable, "-c", WRITER, small, "3"])
            theirs = [float(d) for d in output.communicate()[0].split()]
            writer.wait()
            if theirs:
                print("  %-26s %7.1f ms %7.2f ms %8d" % ("watchdog", max(theirs) * 1000, median(theirs) * 1000,
                                                        len(theirs)))
    finally:
        for folder in (root, small, empty):
            shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
