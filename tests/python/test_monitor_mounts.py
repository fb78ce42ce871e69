"""MonitorFolder on mounts: FUSE file systems whose changes made behind them
(as another machine's are) inotify never sees, and mounts that come and go
inside a watched tree. Each test runs in a private mount namespace."""
import ast
import os
import subprocess
import unittest

from device_support import run_python

PRELUDE = """
import os, signal, subprocess, time
from monitor_harness import MonitorFolder, Recorder, TemporaryFolder, append, drain, make_folder, pump_until, settle, touch
signal.alarm(120)
# Python 2 searches PATH in the forked child, where a failed exec's message
# takes a lock that another thread may have held at the fork: full paths.
try:
    from shutil import which
except ImportError:
    from distutils.spawn import find_executable as which
BINDFS, MOUNT, UMOUNT = which("bindfs"), which("mount"), which("umount")
temp = TemporaryFolder()
recorder = Recorder()
monitor = MonitorFolder(recorder)
monitor.Start()

def bindfs(back, mount):
    daemon = subprocess.Popen([BINDFS, "-f", back, mount])
    pump_until(lambda: os.path.ismount(mount))
    return daemon

def steps(w, table):
    # Each change, then its notices: they must come, and nothing else before them.
    for change, expected in table:
        change()
        expected = [(w,) + notice for notice in expected]
        pump_until(lambda: len(recorder.notices) >= len(expected))
        drain(50)
        got, recorder.notices[:] = list(recorder.notices), []
        if got != expected:
            return (change.__name__, got, expected)
"""


@unittest.skipUnless(os.geteuid() == 0 and subprocess.call(["unshare", "-m", "true"]) == 0,
                     "no private mount namespace here")
class Mounts(unittest.TestCase):
    def run_scenario(self, body):
        status, out, err = run_python(
            "import subprocess, sys\n"
            "sys.exit(subprocess.call(['unshare', '-m', '--propagation', 'private', sys.executable, '-c', %r]))"
            % (PRELUDE + body))
        self.assertEqual(status, 0, err)
        return ast.literal_eval(out.strip().splitlines()[-1])

    def test_changes_behind_a_fuse_mount_arrive_once_and_in_order(self):
        # Changes behind the mount are found by the scan, those through it by
        # inotify; each arrives once, however the two meet.
        result = self.run_scenario("""
back, w = make_folder(temp("back", "sub")), make_folder(temp("mount"))
back = temp("back")
daemon = bindfs(back, w)
assert monitor.AddFolder(w) and settle(w, recorder)
drain(2500)
recorder.notices[:] = []
B = lambda *parts: os.path.join(back, *parts)
M = lambda *parts: os.path.join(w, *parts)
def create(): touch(B("a"))
def write(): append(B("a"))
def rename(): os.rename(B("a"), B("b"))
def create_inside(): touch(B("sub", "x"))
def move_out_of_sub(): os.rename(B("sub", "x"), B("y"))
def delete(): os.remove(B("b"))
def new_folder(): os.mkdir(B("d")); touch(B("d", "f"))
def move_folder_away(): os.rename(B("d"), temp("away"))
def local_create(): touch(M("local"))
def local_rename(): os.rename(M("local"), M("sub", "moved"))
def local_write(): append(M("sub", "moved"))
def local_delete(): os.remove(M("sub", "moved"))
def wait_two_rounds(): drain(2500)
result = [steps(w, [
    (create, [("Add", "a", "")]), (write, [("Modify", "a", "")]), (rename, [("Rename", "b", "a")]),
    (create_inside, [("Add", "sub/x", ""), ("Modify", "sub", "")]),
    (move_out_of_sub, [("Rename", "y", "sub/x"), ("Modify", "sub", "")]),
    (delete, [("Remove", "b", "")]),
    (new_folder, [("Add", "d", ""), ("Add", "d/f", ""), ("Modify", "d", "")]),
    (move_folder_away, [("Remove", "d", "")]),
    (local_create, [("Add", "local", "")]), (local_rename, [("Rename", "sub/moved", "local"), ("Modify", "sub", "")]),
    (local_write, [("Modify", "sub/moved", "")]), (local_delete, [("Remove", "sub/moved", ""), ("Modify", "sub", "")]),
    (wait_two_rounds, [])])]
daemon.kill()  # the share goes away
daemon.wait()
pump_until(lambda: recorder.notices)
result.append(recorder.notices[:1] == [(w, "MonitorBreak", w, "")])
subprocess.call([UMOUNT, "-l", w])
print(repr(result))
""")
        self.assertEqual(result, [None, True])

    def test_writes_behind_a_fuse_mount_in_folders_that_did_not_change(self):
        # A write moves no folder's time: each round reads only a share of
        # the entries, and every share comes round; each write arrives once.
        result = self.run_scenario("""
back, w = make_folder(temp("back")), make_folder(temp("mount"))
for d in range(10):
    make_folder(back, "d%d" % d)
    for f in range(100):
        touch(os.path.join(back, "d%d" % d, "f%02d" % f))
daemon = bindfs(back, w)
assert monitor.AddFolder(w) and settle(w, recorder)
drain(2500)
recorder.notices[:] = []
for d in (0, 5, 9):
    append(os.path.join(back, "d%d" % d, "f50"))
pump_until(lambda: len(recorder.notices) >= 3)
drain(2500)
got = sorted(recorder.notices)
daemon.kill()
daemon.wait()
subprocess.call([UMOUNT, "-l", w])
print(repr(got == [(w, "Modify", "d%d/f50" % d, "") for d in (0, 5, 9)] or got))
""")
        self.assertEqual(result, True)

    def test_mounts_that_come_and_go_inside_a_watched_tree(self):
        # What shows in place of a folder is watched like the rest; a FUSE
        # mount made inside the tree is scanned too. The entries of the folder
        # that went are not all known, so the folder itself is reported as
        # removed and added again.
        result = self.run_scenario("""
w = make_folder(temp("w", "m"))[:-2]
touch(temp("w", "m", "under"))
back = make_folder(temp("back"))
make_folder(temp("w", "f"))
assert monitor.AddFolder(w) and settle(w, recorder)
def mount_tmpfs(): subprocess.check_call([MOUNT, "-t", "tmpfs", "x", temp("w", "m")]); touch(temp("w", "m", "on"))
def unmount(): subprocess.check_call([UMOUNT, temp("w", "m")])
def after(): touch(temp("w", "m", "after"))
def mount_fuse(): mount_fuse.daemon = bindfs(back, temp("w", "f")); touch(temp("w", "f", "local"))
def behind(): touch(os.path.join(back, "far"))
result = [steps(w, [
    (mount_tmpfs, [("Remove", "m", ""), ("Add", "m", ""), ("Add", "m/on", ""), ("Modify", "m", "")]),
    (unmount, [("Remove", "m", ""), ("Add", "m", ""), ("Add", "m/under", ""), ("Modify", "m", "")]),
    (after, [("Add", "m/after", ""), ("Modify", "m", "")]),
    (mount_fuse, [("Add", "f/local", ""), ("Modify", "f", "")]), (behind, [("Add", "f/far", ""), ("Modify", "f", "")])])]
mount_fuse.daemon.kill()
mount_fuse.daemon.wait()
subprocess.call([UMOUNT, "-l", temp("w", "f")])
print(repr(result))
""")
        self.assertEqual(result, [None])


if __name__ == "__main__":
    unittest.main()
