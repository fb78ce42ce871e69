"""MonitorFolder's notices from real folders, delivered through the host loop."""
import os
import select
import shutil
import StringIO
import sys
import tempfile
import unittest

import _Device
import _w32
from monitor_harness import (PROBE, MonitorFolder, Recorder, TemporaryFolder, append, drain, make_folder, pump_until,
                             settle, touch)

END = u"zz-end"


class Notices(unittest.TestCase):
    """Each test changes a watched folder W and ends with an "Add" of END, so
    every notice before it has arrived when that one does."""

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

    def watch(self, path, settled=True):
        self.assertIs(self.monitor.AddFolder(path), True)
        if settled:
            self.assertTrue(settle(path, self.recorder), "the first read was never armed")
        return path

    def notices_until_end(self, folder):
        touch(os.path.join(folder, END))
        self.assertTrue(pump_until(lambda: (folder, u"Add", END, u"") in self.recorder.notices), "the end never came")
        return self.recorder.notices

    def test_add_modify_remove(self):
        w = self.watch(self.temp.path)
        touch(self.temp("a.txt"))
        append(self.temp("a.txt"))
        os.remove(self.temp("a.txt"))
        self.assertEqual(self.notices_until_end(w), [
            (w, u"Add", u"a.txt", u""),
            (w, u"Modify", u"a.txt", u""),
            (w, u"Remove", u"a.txt", u""),
            (w, u"Add", END, u""),
        ])

    def test_rename_in_a_subfolder_is_one_notice(self):
        make_folder(self.temp("sub"))
        touch(self.temp("sub", "x.txt"))
        w = self.watch(self.temp.path)
        os.rename(self.temp("sub", "x.txt"), self.temp("sub", "y.txt"))
        self.assertEqual(self.notices_until_end(w), [
            (w, u"Rename", u"sub/y.txt", u"sub/x.txt"),
            (w, u"Modify", u"sub", u""),
            (w, u"Add", END, u""),
        ])

    def test_deep_changes_are_reported(self):
        deep = make_folder(self.temp("a", "b", "c", "d", "e"))
        w = self.watch(self.temp.path)
        touch(os.path.join(deep, "f"))
        make_folder(os.path.join(deep, "new", "newer"))
        touch(os.path.join(deep, "new", "newer", "g"))
        self.assertEqual(self.notices_until_end(w), [
            (w, u"Add", u"a/b/c/d/e/f", u""),
            (w, u"Modify", u"a/b/c/d/e", u""),
            (w, u"Add", u"a/b/c/d/e/new", u""),
            (w, u"Modify", u"a/b/c/d/e", u""),
            (w, u"Add", u"a/b/c/d/e/new/newer", u""),
            (w, u"Modify", u"a/b/c/d/e/new", u""),
            (w, u"Add", u"a/b/c/d/e/new/newer/g", u""),
            (w, u"Modify", u"a/b/c/d/e/new/newer", u""),
            (w, u"Add", END, u""),
        ])

    def test_notices_carry_the_text_of_the_first_add(self):
        spelled = self.temp.path + u"/./"
        self.watch(spelled)
        # The same key (ASCII case only differs): no second watch, the first text stays.
        self.assertIs(self.monitor.AddFolder(spelled.swapcase()), True)
        self.assertEqual(self.notices_until_end(spelled), [(spelled, u"Add", END, u"")])

    def test_keys_fold_ascii_case_only(self):
        accented = make_folder(self.temp(u"\u00c4x"))
        self.watch(accented)
        self.assertIs(self.monitor.RemoveFolder(self.temp(u"\u00e4x")), False)  # another key
        self.assertIs(self.monitor.RemoveFolder(self.temp(u"\u00c4X")), True)
        self.assertIs(self.monitor.RemoveFolder(accented), False)

    def test_a_trailing_separator_makes_a_second_independent_watch(self):
        plain = self.watch(self.temp.path, settled=False)
        trailing = self.watch(self.temp.path + u"/")
        touch(self.temp("a"))
        touch(self.temp(END))
        self.assertTrue(pump_until(lambda: len([n for n in self.recorder.notices if n[2] == END]) == 2))
        self.assertEqual(sorted(self.recorder.notices), sorted([
            (plain, u"Add", u"a", u""), (plain, u"Add", END, u""),
            (trailing, u"Add", u"a", u""), (trailing, u"Add", END, u""),
        ]))

    def test_a_removed_watch_reports_nothing_more(self):
        gone = self.watch(make_folder(self.temp("gone")))
        kept = self.watch(make_folder(self.temp("kept")))
        self.assertIs(self.monitor.RemoveFolder(gone.swapcase()), True)
        touch(os.path.join(gone, "x"))
        self.assertEqual(self.notices_until_end(kept), [(kept, u"Add", END, u"")])

    def test_after_close_and_start_old_folders_report_nothing(self):
        old = self.watch(make_folder(self.temp("old")))
        self.monitor.Close()
        self.monitor.Start()
        fresh = self.watch(make_folder(self.temp("fresh")))
        touch(os.path.join(old, "x"))
        self.assertEqual(self.notices_until_end(fresh), [(fresh, u"Add", END, u"")])

    def test_a_deleted_folder_gives_monitor_break(self):
        w = self.watch(make_folder(self.temp("w")))
        shutil.rmtree(w)
        self.assertTrue(pump_until(lambda: (w, u"MonitorBreak", w, u"") in self.recorder.notices))

    def test_a_thousand_folders_each_report_their_changes(self):
        folders = [make_folder(self.temp("f%04d" % i)) for i in range(1000)]
        for folder in folders:
            self.watch(folder, settled=False)
        self.assertTrue(settle(folders[-1], self.recorder))
        for folder in folders:
            touch(os.path.join(folder, END))
        self.assertTrue(pump_until(lambda: len(self.recorder.notices) >= len(folders)))
        self.assertEqual(sorted(self.recorder.notices), [(folder, u"Add", END, u"") for folder in folders])


class Delivery(unittest.TestCase):
    """Each test watches the temporary folder with a callable that hands every
    notice to self.recorder first, then does what the test needs."""

    def setUp(self):
        self.temp = TemporaryFolder()
        self.recorder = Recorder()

    def tearDown(self):
        self.temp.remove()
        drain()

    def start(self, then=lambda *args: None):
        def callable_(*args):
            self.recorder(*args)
            if args[2] != PROBE:
                then(*args)

        monitor = MonitorFolder(callable_)
        monitor.Start()
        self.assertIs(monitor.AddFolder(self.temp.path), True)
        self.assertTrue(settle(self.temp.path, self.recorder))
        return monitor

    def post_one_notice(self):
        """Makes one notice and waits, without dispatching, until it is queued for this thread."""
        drain(quiet_ms=200)  # the probe's last notices
        touch(self.temp("a"))
        fd = _w32.QueueFd()
        self.assertEqual(select.select([fd], [], [], 20)[0], [fd])

    def test_a_monitor_without_callable_watches_and_calls_nothing(self):
        silent = MonitorFolder(None)
        silent.Start()
        self.assertIs(silent.AddFolder(self.temp.path), True)
        observer = self.start()
        touch(self.temp(END))
        self.assertTrue(pump_until(lambda: self.recorder.notices))
        silent.Close()
        observer.Close()

    def test_a_raising_callable_is_printed_and_called_again(self):
        def raising(*args):
            if len(self.recorder.notices) == 1:
                raise RuntimeError("first notice refused")

        monitor = self.start(raising)
        saved, sys.stderr = sys.stderr, StringIO.StringIO()
        try:
            touch(self.temp("a"))
            touch(self.temp("b"))
            self.assertTrue(pump_until(lambda: len(self.recorder.notices) == 2))
            printed = sys.stderr.getvalue()
        finally:
            sys.stderr = saved
        self.assertIn("RuntimeError: first notice refused", printed)
        self.assertEqual([c[2] for c in self.recorder.notices], [u"a", u"b"])
        monitor.Close()

    def test_a_notice_posted_before_remove_is_still_delivered(self):
        monitor = self.start()
        self.post_one_notice()
        self.assertIs(monitor.RemoveFolder(self.temp.path), True)
        monitor.Close()
        drain()
        self.assertEqual(self.recorder.notices, [(self.temp.path, u"Add", u"a", u"")])

    def test_notices_queued_when_the_object_ends_are_never_delivered(self):
        monitor = self.start()
        self.post_one_notice()
        _Device.delete_MonitorFolder(monitor)
        drain()
        self.assertEqual(self.recorder.notices, [])

    def test_the_callable_may_call_the_entry_points(self):
        other = make_folder(self.temp("other"))
        done = []

        def reentrant(folder, kind, name, second):
            if name == u"a":
                done.append(monitor.AddFolder(other))
                done.append(monitor.RemoveFolder(other))
                monitor.Close()
                done.append(monitor.AddFolder(other))

        monitor = self.start(reentrant)
        touch(self.temp("a"))
        self.assertTrue(pump_until(lambda: len(done) == 3))
        self.assertEqual(done, [True, True, False])

    def test_the_callable_may_delete_the_object(self):
        monitor = self.start(lambda *args: _Device.delete_MonitorFolder(monitor))
        touch(self.temp("a"))
        touch(self.temp("b"))
        self.assertTrue(pump_until(lambda: self.recorder.notices))
        drain()
        self.assertEqual(len(self.recorder.notices), 1)


if __name__ == "__main__":
    unittest.main()
