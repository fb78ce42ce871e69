"""MonitorFolder on trees as users have them."""
import ast
import errno
import os
import shutil
import socket
import tempfile
import threading
import unittest

import _Device

DRIVES = tempfile.mkdtemp(prefix="monitor-drives-")
os.environ["W32_DRIVES"] = DRIVES  # read once per process, at the first drive form

from device_support import HANG_GUARD_SECONDS, run_python
from monitor_harness import MonitorFolder, Recorder, TemporaryFolder, drain, make_folder, pump_until, settle, touch

END = u"zz-end"
NOBODY = 65534
ROOT = os.geteuid() == 0
TRACE_ON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common", "trace_on.reg")

# Watches W in a child that cannot read what lock() locked: nobody when the
# suite runs as the superuser (everything is imported first), else this user,
# whom a mode of 0 locks out too. The alarm ends a child that hangs.
CHILD = """
import os, signal, _w32
from monitor_harness import MonitorFolder, Recorder, pump_until, settle, touch
signal.alarm(20)
if os.geteuid() == 0:
    os.setgroups([])
    os.setgid(%d)
    os.setuid(%d)
W = %r
recorder = Recorder()
monitor = MonitorFolder(recorder)
monitor.Start()
%s
print(repr(result))
"""


def lock(path):
    os.chmod(path, 0o700 if ROOT else 0)


class Trees(unittest.TestCase):
    def setUp(self):
        self.temp = TemporaryFolder()
        if ROOT:
            os.chown(self.temp.path, NOBODY, NOBODY)
        self.recorder = Recorder()
        self.monitor = MonitorFolder(self.recorder)
        self.monitor.Start()

    def tearDown(self):
        self.monitor.Close()
        self.temp.remove()
        drain()

    def as_another_user(self, body, env=None):
        status, out, err = run_python(CHILD % (NOBODY, NOBODY, self.temp.path, body), env)
        self.assertEqual(status, 0, err)
        return ast.literal_eval(out.strip())

    def test_a_folder_the_user_cannot_read_is_seen_from_outside_only(self):
        lock(make_folder(self.temp("lost+found")))
        w = self.temp.path
        self.assertEqual(self.as_another_user("""
assert monitor.AddFolder(W) and settle(W, recorder)
for name in ["a", "b", "c"]:
    touch(os.path.join(W, name))
os.mkdir(os.path.join(W, "secret"), 0)
touch(os.path.join(W, "d"))
os.rename(os.path.join(W, "secret"), os.path.join(W, "hidden"))
os.rmdir(os.path.join(W, "hidden"))
touch(os.path.join(W, "zz-end"))
pump_until(lambda: recorder.notices and recorder.notices[-1][2] == "zz-end")
result = recorder.notices"""), [(w, u"Add", name, u"") for name in u"abc"] + [
            (w, u"Add", u"secret", u""), (w, u"Add", u"d", u""), (w, u"Rename", u"hidden", u"secret"),
            (w, u"Remove", u"hidden", u""), (w, u"Add", END, u"")])

    def test_special_files_open_without_waiting_or_acting(self):
        fifo, locked = self.temp("fifo"), self.temp("locked")
        os.mkfifo(fifo)
        os.chmod(fifo, 0o666)
        os.mkfifo(locked)
        lock(locked)
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(self.temp("socket"))
        result = self.as_another_user("""
result = [monitor.AddFolder(path) for path in %r]
try:
    os.open(%r, os.O_WRONLY | os.O_NONBLOCK)
except OSError as error:
    result.append(error.errno)""" % ([fifo, self.temp("socket"), u"/dev/null", locked], fifo))
        listener.close()
        # The unreadable one is refused; no reader of the FIFO was made, so a writer finds none.
        self.assertEqual(result, [True, True, True, False, errno.ENXIO])

    def test_what_is_no_folder_is_watched_and_fails_at_arming(self):
        touch(self.temp("file"))
        result = self.as_another_user("""
result = [monitor.AddFolder(W + "/file"), monitor.AddFolder(W), settle(W, recorder),
          monitor.RemoveFolder(W + "/file"), recorder.notices, _w32.TakeDebugOutput()]""",
                                      {"W32_REGISTRY": TRACE_ON})
        self.assertEqual(result[:5], [True, True, True, True, []])  # no "MonitorBreak"
        self.assertIn(u"ReadDirectoryChangesW fail, last error: 87\n", result[5])

    def test_drive_forms_map_through_the_drive_table(self):
        os.symlink(self.temp.path, os.path.join(DRIVES, "q:"))
        sub = make_folder(self.temp("sub"))
        native = sub.lstrip(u"/")
        spellings = [u"C:\\" + native.replace(u"/", u"\\"), u"c:/" + native, u"Q:\\sub", u"q:/sub\\"]
        for spelling in spellings:
            self.assertIs(self.monitor.AddFolder(spelling), True, spelling)
        self.assertTrue(settle(sub, self.recorder, spellings[-1]))
        touch(os.path.join(sub, END))
        self.assertTrue(pump_until(lambda: len(self.recorder.notices) == len(spellings)))
        self.assertEqual(sorted(self.recorder.notices), sorted((w, u"Add", END, u"") for w in spellings))
        self.assertIs(self.monitor.AddFolder(u"P:\\sub"), False)  # no such letter

    def test_changes_while_a_big_tree_is_being_watched_each_arrive_once(self):
        # The first read is armed before the walk of the tree ends: what is
        # made meanwhile, in folders watched already or still to come, is
        # reported once, and nothing is lost.
        folders = [make_folder(self.temp("t", "g%d" % (i % 20), "f%04d" % i)) for i in range(2000)]
        w = self.temp("t")
        self.assertIs(self.monitor.AddFolder(w), True)
        self.assertTrue(settle(w, self.recorder))
        made = []
        for folder in folders[::50]:
            touch(os.path.join(folder, "new"))
            made.append(os.path.relpath(os.path.join(folder, "new"), w))
        adds = lambda: sorted(name for _, kind, name, _ in self.recorder.notices if kind == u"Add")
        self.assertTrue(pump_until(lambda: set(made) <= set(adds())))
        touch(self.temp("t", END))  # a repeat would come before it
        self.assertTrue(pump_until(lambda: (w, u"Add", END, u"") in self.recorder.notices))
        self.assertEqual(adds(), sorted(made + [END]))
        self.assertNotIn((w, u"Modify", u"", u""), self.recorder.notices)

    def test_an_object_deleted_from_another_thread_while_it_walks_a_tree(self):
        for i in range(1000):
            make_folder(self.temp("t", "f%04d" % i, "s"))
        for how in [lambda monitor: _Device.delete_MonitorFolder(monitor), lambda monitor: monitor.Close()]:
            monitor = MonitorFolder(Recorder())
            monitor.Start()
            self.assertIs(monitor.AddFolder(self.temp("t")), True)
            ender = threading.Thread(target=how, args=(monitor,))
            ender.start()
            ender.join(HANG_GUARD_SECONDS)
            self.assertFalse(ender.is_alive())
        # The service goes on for the others.
        w = self.temp.path
        self.assertIs(self.monitor.AddFolder(w), True)
        self.assertTrue(settle(w, self.recorder))

    def test_only_changes_the_filter_asks_for_are_reported(self):
        for name in ["owner", "mode", "read-only"]:
            touch(self.temp(name))
            os.chmod(self.temp(name), 0o644)
        w = self.temp.path
        self.assertIs(self.monitor.AddFolder(w), True)
        self.assertTrue(settle(w, self.recorder))
        os.chown(self.temp("owner"), NOBODY if ROOT else os.getuid(), NOBODY if ROOT else os.getgid())
        os.chmod(self.temp("mode"), 0o640)  # still writable: no attribute changed
        os.chmod(self.temp("read-only"), 0o444)
        touch(self.temp(END))
        self.assertTrue(pump_until(lambda: (w, u"Add", END, u"") in self.recorder.notices))
        self.assertEqual(self.recorder.notices, [(w, u"Modify", u"read-only", u""), (w, u"Add", END, u"")])


if __name__ == "__main__":
    try:
        unittest.main()
    finally:
        shutil.rmtree(DRIVES)
