"""Changes behind a FUSE mount: MonitorFolder's scan beside watchdog's
PollingObserver (Debian's python3-watchdog, 1 s interval) on the same tree in
the same run.

For each tree size, a tree of files in folders of 100 is made and mounted
with bindfs; writing to the folder behind the mount is what another machine's
write looks like from here. Each watcher in turn watches the mount:

- idle: nothing changes for IDLE seconds; the watcher's CPU time per second,
  and the bindfs daemon's (the file-system requests the watcher makes).
- active: a separate process creates a file behind the mount in folder after
  folder, then writes to a file that was there before in as many other
  folders, then removes the new files, every STEP seconds for ACTIVE seconds; measured until every
  change was seen (at most GIVE_UP seconds). Reported: changes seen once,
  missed, seen more than once; the time from each change to its notice
  (median and largest), for new and removed files and for writes apart; the rounds (each round's notices come
  together: arrivals more than half a second apart start a new one); the
  watcher's CPU time per second of the whole active window, its and the
  daemon's CPU time per round, and the mean time between rounds, which the
  largest delay is compared with. A round of the polling observer reads every
  entry; one of MonitorFolder reads every folder's time and a share of the
  entries, so the CPU per second is the figure to compare.

Runs in a private mount namespace (the bench target starts it under unshare).
"""
from __future__ import print_function

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import _Device  # noqa: F401 (the proxy class below needs it loaded)
import _w32

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples"))
from device_proxies import MonitorFolder  # noqa: E402

SIZES = [int(n) for n in os.environ.get("SCAN_SIZES", "10000 100000").split()]
IDLE = 20.0
ACTIVE = 30.0
GIVE_UP = 900.0
STEP = 0.25
PYTHON3 = "/usr/bin/python3"
TICK = float(os.sysconf("SC_CLK_TCK"))

# Creates a file behind the mount in folder after folder, then writes to a
# file that was there before in as many other folders (whose time does not
# move), then removes the new files in the same order: a third of the window
# each.
CHANGER = r"""
import os, sys, time
back, folders, seconds, step = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
count = int(seconds / step / 3)
for i in range(3 * count):
    kind = ("Add", "Modify", "Remove")[i // count]
    folder = os.path.join(back, "d%04d" % ((i % count + (folders // 2 if kind == "Modify" else 0)) % folders))
    path = os.path.join(folder, "f050" if kind == "Modify" else "zz-%d" % (i % count))
    if kind == "Add":
        open(path, "w").close()
    elif kind == "Modify":
        with open(path, "a") as f:
            f.write("x")
    else:
        os.remove(path)
    print("%r %s %s" % (time.time(), kind, os.path.relpath(path, back)))
    sys.stdout.flush()
    time.sleep(step)
"""

# watchdog's polling observer; prints "ready", then one line per event
# ("E time kind path"); on each line of input, its rounds and CPU time so far.
WATCHER = r"""
import os, sys, threading, time
from watchdog.events import FileSystemEventHandler
from watchdog.observers.polling import PollingEmitter, PollingObserver
rounds = [0]
queue_events = PollingEmitter.queue_events
def counted(self, timeout):
    queue_events(self, timeout)
    rounds[0] += 1
PollingEmitter.queue_events = counted
lock = threading.Lock()
def say(text):
    with lock:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()
class Handler(FileSystemEventHandler):
    def on_any_event(self, event):
        kind = {"created": "Add", "deleted": "Remove", "modified": "Modify"}.get(event.event_type, event.event_type)
        say("E %r %s %s" % (time.time(), kind, os.path.relpath(event.src_path, sys.argv[1])))
observer = PollingObserver(timeout=1)
observer.schedule(Handler(), sys.argv[1], recursive=True)
observer.start()
say("ready")
for line in sys.stdin:
    say("T %d %r" % (rounds[0], sum(os.times()[:2])))
observer.stop()
"""


def daemon_cpu(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def make_tree(back, files):
    folders = max(1, files // 100)
    for d in range(folders):
        folder = os.path.join(back, "d%04d" % d)
        os.mkdir(folder)
        for f in range(100):
            open(os.path.join(folder, "f%03d" % f), "w").close()
    return folders


def rounds_of(times, until):
    """The rounds whose notices came before `until`."""
    times = sorted(t for t in times if t <= until)
    return 1 + sum(1 for a, b in zip(times, times[1:]) if b - a > 0.5) if times else 0


def judge(changes, seen):
    """changes: (time, kind, name); seen: (time, kind, name) of the watcher."""
    first, counts = {}, {}
    for when, kind, name in seen:
        counts[(kind, name)] = counts.get((kind, name), 0) + 1
        first.setdefault((kind, name), when)
    delays = sorted(first[(kind, name)] - when for when, kind, name in changes if (kind, name) in first)
    missed = sum(1 for _, kind, name in changes if (kind, name) not in first)
    twice = sum(1 for _, kind, name in changes if counts.get((kind, name), 0) > 1)
    return delays, missed, twice


def start_changer(back, folders):
    return subprocess.Popen([sys.executable, "-c", CHANGER, back, str(folders), str(ACTIVE), str(STEP)],
                            stdout=subprocess.PIPE, universal_newlines=True)


def changes_of(changer, wait):
    """The changer's changes, once it ended; `wait(ms)` meanwhile."""
    while changer.poll() is None:
        wait(100)
    out = changer.communicate()[0]
    return [(float(t), kind, name) for t, kind, name in (line.split(" ", 2) for line in out.splitlines())]


def measure_ours(mount, back, folders, daemon):
    seen = []
    monitor = MonitorFolder(lambda folder, kind, name, old: seen.append((time.time(), kind, name)))
    monitor.Start()
    started = time.time()
    monitor.AddFolder(u"%s" % mount)
    while not seen:  # the first read is armed a moment after AddFolder
        with open(os.path.join(mount, "ready"), "a") as ready:
            ready.write("x")
        _w32.PumpMessages(100)
    watched = time.time() - started
    _w32.PumpMessages(2000)
    cpu, fs = sum(os.times()[:2]), daemon_cpu(daemon.pid)
    end = time.time() + IDLE
    while time.time() < end:
        _w32.PumpMessages(int((end - time.time()) * 1000) + 1)
    idle = ((sum(os.times()[:2]) - cpu) / IDLE, (daemon_cpu(daemon.pid) - fs) / IDLE)
    del seen[:]
    cpu, fs, active = sum(os.times()[:2]), daemon_cpu(daemon.pid), time.time()
    changer = start_changer(back, folders)
    changes = changes_of(changer, _w32.PumpMessages)
    give_up = time.time() + GIVE_UP
    while judge(changes, seen)[1] and time.time() < give_up:
        _w32.PumpMessages(100)
    spent = (sum(os.times()[:2]) - cpu, daemon_cpu(daemon.pid) - fs)
    rounds = rounds_of([t for t, _, _ in seen], time.time())
    active = time.time() - active
    monitor.Close()
    return watched, idle, spent, active, changes, seen, rounds


def measure_watchdog(mount, back, folders, daemon):
    started = time.time()
    watcher = subprocess.Popen([PYTHON3, "-c", WATCHER, mount], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               universal_newlines=True)
    assert watcher.stdout.readline().strip() == "ready"
    watched = time.time() - started
    seen, totals = [], []

    def read():
        for line in iter(watcher.stdout.readline, ""):  # Python 2 reads a file ahead otherwise
            parts = line.split()
            if parts[0] == "E":
                seen.append((float(parts[1]), parts[2], parts[3]))
            else:
                totals.append((int(parts[1]), float(parts[2])))

    reader = threading.Thread(target=read)
    reader.start()

    def mark():
        count = len(totals)
        watcher.stdin.write("t\n")
        watcher.stdin.flush()
        while len(totals) == count:
            time.sleep(0.01)
        return totals[-1] + (daemon_cpu(daemon.pid),)

    time.sleep(2)
    before = mark()
    time.sleep(IDLE)
    after = mark()
    idle = ((after[1] - before[1]) / IDLE, (after[2] - before[2]) / IDLE)
    del seen[:]
    before, active = mark(), time.time()
    changes = changes_of(start_changer(back, folders), lambda ms: time.sleep(ms / 1000.0))
    give_up = time.time() + GIVE_UP
    while judge(changes, seen)[1] and time.time() < give_up:
        time.sleep(0.1)
    after, active = mark(), time.time() - active
    watcher.stdin.close()
    watcher.wait()
    reader.join()
    return watched, idle, (after[1] - before[1], after[2] - before[2]), active, changes, seen, after[0] - before[0]


def report(name, result):
    watched, idle, spent, active, changes, seen, rounds = result
    delays, missed, twice = judge(changes, seen)
    span = max(t for t, _, _ in seen) - min(t for t, _, _ in changes) if seen else ACTIVE

    def spread(kinds):
        part = judge([c for c in changes if c[1] in kinds], seen)[0]
        return "%.2f s, max %.2f s" % (part[len(part) // 2], part[-1]) if part else "none"

    print("  %-22s watch %5.1f s | idle: %5.1f ms/s CPU, fs %5.1f ms/s | %d changes: %d once, %d missed, %d twice;"
          " delay median (Add, Remove) %s, (Modify) %s; %d rounds, every %.2f s; active %.0f s: %5.1f ms/s CPU,"
          " per round %6.1f ms CPU, fs %6.1f ms" % (
              name, watched, idle[0] * 1000, idle[1] * 1000, len(changes), len(changes) - missed - twice, missed,
              twice, spread(("Add", "Remove")), spread(("Modify",)), rounds, span / max(1, rounds), active,
              spent[0] * 1000 / active, spent[0] * 1000 / max(1, rounds), spent[1] * 1000 / max(1, rounds)))
    return idle[0], spent[0] / active, spent[0] / max(1, rounds)


def main():
    for files in SIZES:
        root = tempfile.mkdtemp(prefix="scan-bench-")
        back, mount = os.path.join(root, "back"), os.path.join(root, "mount")
        os.mkdir(back)
        os.mkdir(mount)
        folders = make_tree(back, files)
        daemon = subprocess.Popen(["bindfs", "-f", back, mount])
        while not os.path.ismount(mount):
            time.sleep(0.05)
        try:
            print("%d entries (%d folders of 100 files) behind a bindfs mount:" % (files + folders, folders))
            ours = report("MonitorFolder", measure_ours(mount, back, folders, daemon))
            theirs = report("watchdog PollingObserver", measure_watchdog(mount, back, folders, daemon))
            print("  MonitorFolder's CPU beside the polling observer's: idle %.3f, active %.3f, per round %.3f"
                  % tuple(a / b for a, b in zip(ours, theirs)))
        finally:
            daemon.kill()
            daemon.wait()
            subprocess.call(["umount", "-l", mount])
            shutil.rmtree(root)


if __name__ == "__main__":
    main()
