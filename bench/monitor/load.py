"""MonitorFolder under load, beside `inotifywait -m -r` and a reader of its
lines in the same run.

1. LOAD_BURSTS (20) consecutive unpaced bursts of 100,000 operations from
   another process (create, write, rename into another folder, delete, a
   quarter each) in a tree of 10 folders: renames delivered and lost-changes
   notices per burst, and the processor time of this process (the watcher)
   per burst, beside inotifywait's plus its reader's for one such burst.
2. 100,000 creates with two busy processes beside them: "Add" notices
   delivered and lost-changes notices.
3. A steady 2,000 creates a second for 5 s: the delay of each notice (its
   arrival minus the time written in the file's name), median and 99th
   percentile, beside inotifywait's lines as its reader gets them.
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

BURSTS = int(os.environ.get("LOAD_BURSTS", 20))
OPERATIONS = 100000
FOLDERS = 10
QUIET_SECONDS = 3

BURST = r"""
import os, sys
root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(files):
    path = os.path.join(root, "d%d" % (i % folders), "f%06d" % i)
    open(path, "w").close()
    with open(path, "a") as f:
        f.write("x")
    moved = os.path.join(root, "d%d" % ((i + 1) % folders), "r%06d" % i)
    os.rename(path, moved)
    os.remove(moved)
"""

CREATES = r"""
import os, sys
root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(files):
    open(os.path.join(root, "d%d" % (i % folders), "c%06d" % i), "w").close()
"""

STEADY = r"""
import os, sys, time
root, rate, seconds = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
count = int(rate * seconds)
due = time.time()
for i in range(count):
    due += 1.0 / rate
    pause = due - time.time()
    if pause > 0:
        time.sleep(pause)
    open(os.path.join(root, "d%d" % (i % 10), "s%d-%r" % (i, time.time())), "w").close()
"""

# inotifywait's lines: counts the renames' second halves (printed with its own
# processor time), or the delays of the steady creates; prints them when its
# input ends or the count is reached.
READER = r"""
import os, sys, time
mode, expected = sys.argv[1], int(sys.argv[2])
count, delays, tail = 0, [], b""
while count < expected:
    data = os.read(0, 1 << 16)
    if not data:
        break
    now = time.time()
    lines = (tail + data).split(b"\n")
    tail = lines.pop()
    for line in lines:
        if mode == "burst" and b" MOVED_TO " in line:
            count += 1
        elif mode == "steady" and b" CREATE " in line:
            count += 1
            delays.append(now - float(line.rsplit(b"-", 1)[1]))
print("%d %r" % (count, sum(os.times()[:2])) if mode == "burst" else " ".join("%r" % d for d in delays))
sys.stdout.flush()
"""

SPIN = "while True: pass"


class Counter(object):
    def __init__(self):
        self.renames = 0
        self.adds = 0
        self.lost = 0
        self.delays = []

    def __call__(self, folder, kind, name, second):
        if kind == u"Rename":
            self.renames += 1
        elif kind == u"Add":
            self.adds += 1
            if u"/s" in name:
                self.delays.append(time.time() - float(name.rsplit(u"-", 1)[1]))
        elif kind == u"Modify" and name == u"":
            self.lost += 1


def task_cpu(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / float(os.sysconf("SC_CLK_TCK"))


def own_cpu():
    times = os.times()
    return times[0] + times[1]


def make_tree():
    root = tempfile.mkdtemp(prefix="monitor-load-")
    for folder in range(FOLDERS):
        os.mkdir(os.path.join(root, "d%d" % folder))
    return root


def pump_until(done):
    last, changed = None, time.time()
    while not done() and time.time() - changed < QUIET_SECONDS:
        _w32.PumpMessages(50)
        state = done.state()
        if state != last:
            last, changed = state, time.time()


class Until(object):
    def __init__(self, counter, attribute, target):
        self.counter, self.attribute, self.target = counter, attribute, target

    def __call__(self):
        return getattr(self.counter, self.attribute) >= self.target

    def state(self):
        return getattr(self.counter, self.attribute), self.counter.lost


def watched(root):
    counter = Counter()
    monitor = _Device.new_MonitorFolder(counter)
    _Device.MonitorFolder_Start(monitor)
    assert _Device.MonitorFolder_AddFolder(monitor, u"%s" % root)
    _w32.PumpMessages(300)
    return monitor, counter


def close(monitor):
    _Device.MonitorFolder_Close(monitor)
    _Device.delete_MonitorFolder(monitor)


def reference_burst(root, files):
    watcher = subprocess.Popen(["inotifywait", "-m", "-r", root], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    while b"Watches established" not in watcher.stderr.readline():
        pass
    reader = subprocess.Popen([sys.executable, "-c", READER, "burst", str(files)], stdin=watcher.stdout,
                              stdout=subprocess.PIPE)
    watcher.stdout.close()
    watcher_cpu = task_cpu(watcher.pid)
    subprocess.check_call([sys.executable, "-c", BURST, root, str(files), str(FOLDERS)])
    # The reader ends once it has every rename; else both are stopped after a quiet while.
    deadline = time.time() + 60
    while reader.poll() is None and time.time() < deadline:
        time.sleep(0.05)
    cpu = task_cpu(watcher.pid) - watcher_cpu
    if reader.poll() is None:
        watcher.terminate()
    count, reader_cpu = reader.communicate()[0].split()
    watcher.terminate()
    watcher.wait()
    return int(count), cpu + float(reader_cpu)


def bursts(root):
    files = OPERATIONS // 4
    monitor, counter = watched(root)
    rows = []
    for _ in range(BURSTS):
        renames, lost = counter.renames, counter.lost
        cpu = own_cpu()
        creator = subprocess.Popen([sys.executable, "-c", BURST, root, str(files), str(FOLDERS)])
        until = Until(counter, "renames", renames + files)
        while creator.poll() is None:
            _w32.PumpMessages(50)
        pump_until(until)
        rows.append((counter.renames - renames, counter.lost - lost, own_cpu() - cpu))
    close(monitor)
    reference = reference_burst(root, files)
    print("%d consecutive unpaced bursts of %d operations (%d files created, written, renamed, deleted)" % (
        BURSTS, OPERATIONS, files))
    print("  %-32s %12s %12s %14s" % ("", "renames lost", "lost notices", "CPU per burst"))
    lost_renames = sum(files - row[0] for row in rows)
    cpus = sorted(row[2] for row in rows)
    print("  %-32s %12d %12d %11.2f s (median; %.2f-%.2f)" % (
        "_Device MonitorFolder", lost_renames, sum(row[1] for row in rows), cpus[len(cpus) // 2], cpus[0], cpus[-1]))
    print("  %-32s %12d %12s %11.2f s (one burst)" % ("inotifywait -m -r + line reader", files - reference[0], "-",
                                                      reference[1]))
    print("  (bursts with losses: %d of %d)" % (sum(1 for row in rows if row[0] != files or row[1]), BURSTS))


def busy_burst(root):
    spinners = [subprocess.Popen([sys.executable, "-c", SPIN]) for _ in range(2)]
    try:
        monitor, counter = watched(root)
        subprocess.check_call([sys.executable, "-c", CREATES, root, str(OPERATIONS), str(FOLDERS)])
        pump_until(Until(counter, "adds", OPERATIONS))
        close(monitor)
    finally:
        for spinner in spinners:
            spinner.kill()
            spinner.wait()
    print("%d creates with two busy processes beside them" % OPERATIONS)
    print("  _Device MonitorFolder: %d Add notices of %d, %d lost-changes notices" % (counter.adds, OPERATIONS,
                                                                                    counter.lost))


def percentile(values, fraction):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * fraction))] if values else float("nan")


def steady(root):
    rate, seconds = 2000, 5
    monitor, counter = watched(root)
    writer = subprocess.Popen([sys.executable, "-c", STEADY, root, str(rate), str(seconds)])
    while writer.poll() is None:
        _w32.PumpMessages(50)
    pump_until(Until(counter, "adds", rate * seconds))
    close(monitor)
    ours = counter.delays
    watcher = subprocess.Popen(["inotifywait", "-m", "-r", root], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    while b"Watches established" not in watcher.stderr.readline():
        pass
    reader = subprocess.Popen([sys.executable, "-c", READER, "steady", str(rate * seconds)], stdin=watcher.stdout,
                              stdout=subprocess.PIPE)
    watcher.stdout.close()
    subprocess.check_call([sys.executable, "-c", STEADY, root, str(rate), str(seconds)])
    time.sleep(1)
    watcher.terminate()
    theirs = [float(d) for d in reader.communicate()[0].split()]
    watcher.wait()
    print("Steady %d creates a second for %d s: delay of the notice" % (rate, seconds))
    print("  %-32s %10s %10s %8s" % ("", "median", "p99", "notices"))
    for name, delays in [("_Device MonitorFolder", ours), ("inotifywait -m -r + line reader", theirs)]:
        print("  %-32s %7.3f ms %7.2f ms %8d" % (name, percentile(delays, 0.5) * 1000, percentile(delays, 0.99) * 1000,
                                                 len(delays)))


def main():
    for part in (bursts, busy_burst, steady):
        root = make_tree()
        try:
            part(root)
        finally:
            shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
