"""A burst of files in a watched tree, seen by MonitorFolder and by inotifywait.

A separate process creates FILES empty files spread over FOLDERS existing
folders of one tree. MonitorFolder watches the tree and counts its "Add"
notices (each file once, none twice) in this process's host loop;
`inotifywait -m -r` watches the same tree, its output counted by a separate
process. For each: the notices delivered and the time from the end of the
burst to the last one (negative: it came before the creating process had
noted the end of its burst, so the watcher kept pace). Then the tree is left alone and the CPU time and
context switches of this process (the worker and w32's change thread among
its threads) are measured over an idle period: no polling means none.

Then the same burst with a late consumer: this process's loop pumps only
once the burst is over, and inotifywait's output is read only then too (its
pipe fills and the kernel's queue of about 16,000 events overflows). For
each: notices delivered, repeats, the time from the first pump (or read) to
the last notice, and the peak resident memory of the watching process.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import _Device
import _w32

FILES = int(os.environ.get("BURST_FILES", 100000))
FOLDERS = 10
IDLE_SECONDS = 5
GIVE_UP_SECONDS = 120

CREATOR = r"""
import os, sys, time
root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in xrange(files):
    open(os.path.join(root, "d%d" % (i % folders), "f%06d" % i), "w").close()
print repr(time.time())
"""

# Reads inotifywait's output in large chunks, so that the pipe never holds it
# back, and counts file creations (a folder's is "CREATE,ISDIR"); prints the
# count and the time of the last one when the expected number arrived or the
# output ends.
COUNTER = r"""
import os, sys, time
expected = int(sys.argv[1])
count, last, tail = 0, 0.0, ""
while count < expected:
    data = os.read(0, 1 << 16)
    if not data:
        break
    lines = (tail + data).split("\n")
    tail = lines.pop()
    created = sum(1 for line in lines if " CREATE " in line)
    if created:
        count += created
        last = time.time()
print count, repr(last)
sys.stdout.flush()
"""


# The same count for a reader that starts late: it ends once nothing more has
# come for QUIET seconds; prints the count, the names seen more than once, and
# the time of its first read and of the last creation.
LATE_COUNTER = r"""
import os, select, sys, time
quiet = float(sys.argv[1])
count, names, last, tail = 0, set(), 0.0, ""
first = time.time()
while select.select([0], [], [], quiet)[0]:
    data = os.read(0, 1 << 16)
    if not data:
        break
    lines = (tail + data).split("\n")
    tail = lines.pop()
    for line in lines:
        if " CREATE " in line:
            count += 1
            names.add(line)
            last = time.time()
print count, count - len(names), repr(first), repr(last)
sys.stdout.flush()
"""
QUIET_SECONDS = 3


class AddCounter(object):
    def __init__(self):
        self.names = set()
        self.adds = 0
        self.last = 0.0
        self.other = 0

    def __call__(self, folder, kind, name, second):
        if kind == u"Add" and u"/f" in name:
            self.adds += 1
            self.names.add(name)
            self.last = time.time()
        else:
            self.other += 1


def task_cpu(path):
    """CPU seconds of a process or thread from its stat file."""
    with open(path) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / float(os.sysconf("SC_CLK_TCK"))


def worker_threads():
    """CPU seconds and context switches of each thread of this process other
    than the main one (MonitorFolder's worker and w32's change thread among them)."""
    threads = {}
    for task in os.listdir("/proc/self/task"):
        if int(task) == os.getpid():
            continue
        try:
            with open("/proc/self/task/%s/status" % task) as status:
                switches = sum(int(line.split()[-1]) for line in status if "ctxt_switches" in line)
            threads[task] = (task_cpu("/proc/self/task/%s/stat" % task), switches)
        except IOError:
            pass  # a thread that ended meanwhile
    return threads


def idle_use(before, after):
    """CPU seconds and context switches between two snapshots, of the threads in both."""
    common = [task for task in after if task in before]
    return (sum(after[t][0] - before[t][0] for t in common), sum(after[t][1] - before[t][1] for t in common))


def peak_rss_kib(pid="self"):
    with open("/proc/%s/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def make_tree():
    root = tempfile.mkdtemp(prefix="monitor-bench-")
    for folder in range(FOLDERS):
        os.mkdir(os.path.join(root, "d%d" % folder))
    return root


def burst(root):
    """Creates the files from another process; returns when it is done."""
    creator = subprocess.Popen([sys.executable, "-c", CREATOR, root, str(FILES), str(FOLDERS)],
                               stdout=subprocess.PIPE)
    creator.communicate()


def late_consumer(have_inotifywait):
    root = make_tree()
    try:
        watcher = None
        if have_inotifywait:
            watcher = subprocess.Popen(["inotifywait", "-m", "-r", root], stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
            while "Watches established" not in watcher.stderr.readline():
                pass

        # The peak from here on: the first part's is not this one's.
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
        adds = AddCounter()
        monitor = _Device.new_MonitorFolder(adds)
        _Device.MonitorFolder_Start(monitor)
        assert _Device.MonitorFolder_AddFolder(monitor, unicode(root))
        _w32.PumpMessages(200)  # the worker arms its first read

        burst(root)
        time.sleep(1)  # the changes reach the worker, which queues them: nobody pumps yet

        first_pump = time.time()
        last_count, last_progress = adds.adds, time.time()
        while adds.adds < FILES and time.time() - last_progress < QUIET_SECONDS:
            _w32.PumpMessages(100)
            if adds.adds != last_count:
                last_count, last_progress = adds.adds, time.time()
        _w32.PumpMessages(500)  # anything beyond the expected count, such as a repeat
        our_peak = peak_rss_kib()

        reference = None
        if watcher is not None:
            counter = subprocess.Popen([sys.executable, "-c", LATE_COUNTER, str(QUIET_SECONDS)],
                                       stdin=watcher.stdout, stdout=subprocess.PIPE)
            watcher.stdout.close()
            output = counter.communicate()[0].split()
            reference = (int(output[0]), int(output[1]), float(output[2]), float(output[3]),
                         peak_rss_kib(watcher.pid))
            watcher.terminate()
            watcher.wait()

        print "Late consumer: the same burst, read only once it is over"
        print "  %-24s %12s %10s %27s %14s" % ("", "Add notices", "repeated", "first pump -> last notice",
                                               "peak RSS")
        print "  %-24s %12d %10d %24.1f ms %10d KiB" % (
            "_Device MonitorFolder", adds.adds, adds.adds - len(adds.names),
            (adds.last - first_pump) * 1000, our_peak)
        if reference is not None:
            print "  %-24s %12d %10d %24.1f ms %10d KiB" % (
                "inotifywait -m -r", reference[0], reference[1], (reference[3] - reference[2]) * 1000, reference[4])
        print "  (peak RSS: the whole watching process, for MonitorFolder the interpreter included)"
        _Device.MonitorFolder_Close(monitor)
        _Device.delete_MonitorFolder(monitor)
    finally:
        shutil.rmtree(root, ignore_errors=True)


def main():
    root = tempfile.mkdtemp(prefix="monitor-bench-")
    try:
        for folder in range(FOLDERS):
            os.mkdir(os.path.join(root, "d%d" % folder))

        have_inotifywait = any(os.access(os.path.join(p, "inotifywait"), os.X_OK)
                               for p in os.environ.get("PATH", "").split(os.pathsep))
        watcher = counter = None
        if have_inotifywait:
            watcher = subprocess.Popen(["inotifywait", "-m", "-r", root], stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
            while "Watches established" not in watcher.stderr.readline():
                pass
            counter = subprocess.Popen([sys.executable, "-c", COUNTER, str(FILES)], stdin=watcher.stdout,
                                       stdout=subprocess.PIPE)
            watcher.stdout.close()

        adds = AddCounter()
        monitor = _Device.new_MonitorFolder(adds)
        _Device.MonitorFolder_Start(monitor)
        assert _Device.MonitorFolder_AddFolder(monitor, unicode(root))
        _w32.PumpMessages(200)  # the worker arms its first read

        creator = subprocess.Popen([sys.executable, "-c", CREATOR, root, str(FILES), str(FOLDERS)],
                                   stdout=subprocess.PIPE)
        burst_end = None
        started = time.time()
        while adds.adds < FILES and time.time() - started < GIVE_UP_SECONDS:
            _w32.PumpMessages(100)
            if burst_end is None and creator.poll() is not None:
                burst_end = float(creator.stdout.read())
        if burst_end is None:
            creator.wait()
            burst_end = float(creator.stdout.read())
        _w32.PumpMessages(500)  # anything beyond the expected count, such as a repeat

        reference = None
        if counter is not None:
            # inotifywait never ends by itself: past the deadline it is stopped
            # and the counter reports what it saw.
            stopper = threading.Timer(max(0.0, started + GIVE_UP_SECONDS - time.time()), watcher.terminate)
            stopper.start()
            output = counter.communicate()[0].split()
            stopper.cancel()
            reference = (int(output[0]), float(output[1]))

        print "Burst of %d files in %d folders of one watched tree (%.2f s to create)" % (
            FILES, FOLDERS, burst_end - started)
        print "  %-24s %12s %10s %27s" % ("", "Add notices", "repeated", "burst end -> last notice")
        print "  %-24s %12d %10d %24.1f ms" % ("_Device MonitorFolder", adds.adds, adds.adds - len(adds.names),
                                              (adds.last - burst_end) * 1000)
        if reference is not None:
            print "  %-24s %12d %10s %24.1f ms" % ("inotifywait -m -r", reference[0], "-",
                                                  (reference[1] - burst_end) * 1000)
        else:
            print "  inotifywait not found: install Debian's inotify-tools for the reference"
        if adds.other:
            print "  (MonitorFolder also gave %d other notices)" % adds.other

        threads_before = worker_threads()
        watcher_path = "/proc/%d/stat" % watcher.pid if watcher is not None else None
        watcher_before = task_cpu(watcher_path) if watcher is not None else None
        time.sleep(IDLE_SECONDS)
        cpu, switches = idle_use(threads_before, worker_threads())
        print "Idle watch over %d s (tree unchanged):" % IDLE_SECONDS
        print "  MonitorFolder (worker and change threads): CPU %.3f s, %d context switches" % (cpu, switches)
        if watcher is not None:
            print "  inotifywait -m -r:                         CPU %.3f s" % (task_cpu(watcher_path) - watcher_before)
            if watcher.poll() is None:
                watcher.terminate()
            watcher.wait()

        _Device.MonitorFolder_Close(monitor)
        _Device.delete_MonitorFolder(monitor)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    late_consumer(have_inotifywait)
    return 0


if __name__ == "__main__":
    sys.exit(main())
