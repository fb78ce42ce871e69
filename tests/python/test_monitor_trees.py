"""MonitorFolder on trees as users have them: folders they cannot read, special
files, plain files, drive-form paths, subfolders' last-write times, owners."""
import ast
import errno
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

# The drive table is read once per process, at the first path that needs it.
DRIVES = tempfile.mkdtemp(prefix="monitor-drives-")
os.environ["W32_DRIVES"] = DRIVES

import _Device
from device_support import run_python
from monitor_harness import (HANG_GUARD_SECONDS, MonitorFolder, Recorder, TemporaryFolder, drain, make_folder,
                             pump_until, settle, touch)

END = u"zz-end"
NOBODY = 65534
TRACE_ON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common", "trace_on.reg")

# A child interpreter that watches folder W as a user who cannot read what the
# test locked: as nobody when the suite runs as the superuser, else as the same
# user (whom a mode of 0 locks out too). It prints repr(result). Everything it
# imports is imported before it leaves the superuser.
CHILD = """
import errno, os
from monitor_harness import MonitorFolder, Recorder, pump_until, settle, touch
if os.geteuid() == 0:
    os.setgroups([])
    os.setgid(%(nobody)d)
    os.setuid(%(nobody)d)
W = %(folder)r
recorder = Recorder()
monitor = MonitorFolder(recorder)
monitor.Start()
%(body)s
monitor.Close()
print(repr(result))
"""


def as_another_user(test, folder, body):
    child = subprocess.Popen([sys.executable, "-c", CHILD % dict(nobody=NOBODY, folder=folder, body=body)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.time() + HANG_GUARD_SECONDS
    while child.poll() is None and time.time() < deadline:
        time.sleep(0.05)
    if child.poll() is None:
        child.kill()
        child.wait()
        test.fail("the child hung")
    out, err = child.communicate()
    test.assertEqual(child.returncode, 0, err)
    return ast.literal_eval(out.strip())


def lock(path):
    """Makes path unreadable to the user of as_another_user."""
    os.chmod(path, 0o700 if os.geteuid() == 0 else 0)


class Trees(unittest.TestCase):
    def setUp(self):
        self.temp = TemporaryFolder()
        self.recorder = Recorder()
        self.monitor = MonitorFolder(self.recorder)
        self.monitor.Start()

    def tearDown(self):
        self.monitor.Close()
        del self.monitor
        self.temp.remove()
        drain()

    def notices_until_end(self, folder):
        touch(os.path.join(folder, END))
        self.assertTrue(pump_until(lambda: (folder, u"Add", END, u"") in self.recorder.notices), "the end never came")
        return self.recorder.notices

    def test_a_folder_the_user_cannot_read_is_seen_from_outside_only(self):
        if os.geteuid() == 0:
            os.chown(self.temp.path, NOBODY, NOBODY)
        lock(make_folder(self.temp("lost+found")))
        w = self.temp.path
        notices = as_another_user(self, w, """
assert monitor.AddFolder(W)
assert settle(W, recorder)
for name in "abc":
    touch(os.path.join(W, name))
os.mkdir(os.path.join(W, "secret"), 0)
touch(os.path.join(W, "d"))
os.rename(os.path.join(W, "secret"), os.path.join(W, "hidden"))
os.rmdir(os.path.join(W, "hidden"))
touch(os.path.join(W, "zz-end"))
pump_until(lambda: any(n[2] == u"zz-end" for n in recorder.notices))
result = recorder.notices
""")
        self.assertEqual(notices, [(w, u"Add", name, u"") for name in u"abc"] + [
            (w, u"Add", u"secret", u""),
            (w, u"Add", u"d", u""),
            (w, u"Rename", u"hidden", u"secret"),
            (w, u"Remove", u"hidden", u""),
            (w, u"Add", END, u""),
        ])

    def test_special_files_open_without_waiting_or_being_opened(self):
        if os.geteuid() == 0:
            os.chown(self.temp.path, NOBODY, NOBODY)
        os.mkfifo(self.temp("fifo"), 0o666)
        os.chmod(self.temp("fifo"), 0o666)
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(self.temp("socket"))
        os.mkfifo(self.temp("locked"))
        lock(self.temp("locked"))
        paths = [self.temp("fifo"), self.temp("socket"), u"/dev/null", self.temp("locked")]
        added, writer_error = as_another_user(self, self.temp.path, """
result = [monitor.AddFolder(path) for path in %r]
try:
    os.open(%r, os.O_WRONLY | os.O_NONBLOCK)
    result = (result, 0)
except OSError as error:
    result = (result, error.errno)
""" % (paths, self.temp("fifo")))
        listener.close()
        # One the user may not read is not opened at all.
        self.assertEqual(added, [True, True, True, False])
        # The watch made no reader of the FIFO: a writer that will not wait finds none.
        self.assertEqual(writer_error, errno.ENXIO)

    def test_what_is_no_folder_is_watched_and_fails_at_arming(self):
        touch(self.temp("file"))
        os.mkfifo(self.temp("fifo"))
        for path in [self.temp("file"), self.temp("fifo")]:
            status, out, err = run_python("""
                import _w32
                from monitor_harness import MonitorFolder, Recorder, settle
                recorder = Recorder()
                monitor = MonitorFolder(recorder)
                monitor.Start()
                added = monitor.AddFolder(%r)
                monitor.AddFolder(%r)
                settle(%r, recorder)  # a few passes of the worker
                print(repr((added, monitor.RemoveFolder(%r), recorder.notices, _w32.TakeDebugOutput())))
                monitor.Close()
            """ % (path, self.temp.path, self.temp.path, path), env={"W32_REGISTRY": TRACE_ON})
            self.assertEqual(status, 0, err)
            added, removed, notices, lines = ast.literal_eval(out.strip())
            self.assertEqual((added, removed, notices), (True, True, []), path)
            self.assertIn(u"ReadDirectoryChangesW fail, last error: 87\n", lines, path)

    def test_drive_forms_map_through_the_drive_table(self):
        os.symlink(self.temp.path, os.path.join(DRIVES, "q:"))
        sub = make_folder(self.temp("sub"))
        native = sub.lstrip(u"/")
        spellings = [u"C:\\" + native.replace(u"/", u"\\"), u"c:/" + native, u"Q:\\sub", u"q:/sub\\"]
        for spelling in spellings:
            self.assertIs(self.monitor.AddFolder(spelling), True, spelling)
        self.assertTrue(settle(sub, self.recorder))
        touch(os.path.join(sub, END))
        self.assertTrue(pump_until(lambda: len(self.recorder.notices) == len(spellings)))
        self.assertEqual(sorted(self.recorder.notices), sorted((w, u"Add", END, u"") for w in spellings))
        self.assertIs(self.monitor.AddFolder(u"P:\\sub"), False)  # no such letter
        for spelling in spellings:
            self.assertIs(self.monitor.RemoveFolder(spelling), True, spelling)

    def test_an_entry_changing_moves_its_folders_last_write_time(self):
        sub = make_folder(self.temp("sub"))
        w = self.temp.path
        self.assertIs(self.monitor.AddFolder(w), True)
        self.assertTrue(settle(w, self.recorder))
        touch(os.path.join(sub, "x"))
        os.remove(os.path.join(sub, "x"))
        touch(self.temp("y"))  # the watched folder's own time is not reported
        self.assertEqual(self.notices_until_end(w), [
            (w, u"Add", u"sub/x", u""),
            (w, u"Modify", u"sub", u""),
            (w, u"Remove", u"sub/x", u""),
            (w, u"Modify", u"sub", u""),
            (w, u"Add", u"y", u""),
            (w, u"Add", END, u""),
        ])

    def test_only_changes_the_filter_asks_for_are_reported(self):
        for name in ["owner", "mode", "read-only"]:
            touch(self.temp(name))
            os.chmod(self.temp(name), 0o644)
        w = self.temp.path
        self.assertIs(self.monitor.AddFolder(w), True)
        self.assertTrue(settle(w, self.recorder))
        owner = NOBODY if os.geteuid() == 0 else os.getuid()
        os.chown(self.temp("owner"), owner, owner if os.geteuid() == 0 else os.getgid())
        os.chmod(self.temp("mode"), 0o640)  # still writable: no attribute changed
        os.chmod(self.temp("read-only"), 0o444)
        self.assertEqual(self.notices_until_end(w), [
            (w, u"Modify", u"read-only", u""),
            (w, u"Add", END, u""),
        ])


if __name__ == "__main__":
    try:
        unittest.main()
    finally:
        for name in os.listdir(DRIVES):
            os.remove(os.path.join(DRIVES, name))
        os.rmdir(DRIVES)
