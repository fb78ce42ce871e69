"""MonitorFolder's notices from real folders, delivered through the host loop."""
import os
import select
import shutil
import subprocess
import sys
import time
import unittest

import _Device
import _w32
from device_support import StringIO
from monitor_harness import (PROBE, MonitorFolder, Recorder, TemporaryFolder, append, drain, make_folder, pump_until,
                             settle, touch)

END = u"zz-end"
LINK = "d" * 250


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

    def test_changes_in_the_tree(self):
        # Within the tree a move is a rename; across its edge, a removal or an
        # addition. An entry that changes moves its folder's last-write time, but
        # the watched folder's own is not reported. A folder moved in is watched
        # with what it holds; one moved out is watched no more.
        for folder in ["w/sub", "w/gone", "out/d/s"]:
            make_folder(self.temp(folder))
        for name in ["w/sub/x.txt", "w/leaving", "out/coming", "out/d/s/g"]:
            touch(self.temp(name))
        w = self.watch(self.temp("w"))
        touch(self.temp("w/a.txt"))
        append(self.temp("w/a.txt"))
        os.remove(self.temp("w/a.txt"))
        for old, new in [("w/sub/x.txt", "w/sub/y.txt"), ("w/sub/y.txt", "w/moved.txt"), ("w/leaving", "out/left"),
                         ("out/coming", "w/came"), ("w/sub", "w/renamed")]:
            os.rename(self.temp(old), self.temp(new))
        touch(self.temp("w/renamed/inside"))
        os.remove(self.temp("w/renamed/inside"))
        os.rename(self.temp("w/gone"), self.temp("out/gone"))
        touch(self.temp("out/gone/elsewhere"))
        os.rename(self.temp("out/d"), self.temp("w/d"))
        touch(self.temp("w/d/s/later"))
        self.assertEqual(self.notices_until_end(w), [(w, kind, name, second) for kind, name, second in [
            (u"Add", u"a.txt", u""), (u"Modify", u"a.txt", u""), (u"Remove", u"a.txt", u""),
            (u"Rename", u"sub/y.txt", u"sub/x.txt"), (u"Modify", u"sub", u""),
            (u"Rename", u"moved.txt", u"sub/y.txt"), (u"Modify", u"sub", u""),
            (u"Remove", u"leaving", u""), (u"Add", u"came", u""), (u"Rename", u"renamed", u"sub"),
            (u"Add", u"renamed/inside", u""), (u"Modify", u"renamed", u""),
            (u"Remove", u"renamed/inside", u""), (u"Modify", u"renamed", u""), (u"Remove", u"gone", u""),
            (u"Add", u"d", u""), (u"Add", u"d/s", u""), (u"Modify", u"d", u""), (u"Add", u"d/s/g", u""),
            (u"Modify", u"d/s", u""), (u"Add", u"d/s/later", u""), (u"Modify", u"d/s", u""), (u"Add", END, u"")]])

    def test_new_folders_are_watched_at_once(self):
        # Entries made right after their folder race its new watch: each must come exactly once.
        make_folder(self.temp("a/b/c"))
        w = self.watch(self.temp.path)
        expected = []
        for i in range(40):
            d = u"a/b/c/d%d" % i
            make_folder(self.temp(d, "inner"))
            touch(self.temp(d, "inner", "f"))
            expected += [(w, u"Add", d, u""), (w, u"Modify", u"a/b/c", u""), (w, u"Add", d + u"/inner", u""),
                         (w, u"Modify", d, u""), (w, u"Add", d + u"/inner/f", u""), (w, u"Modify", d + u"/inner", u"")]
        self.assertEqual(self.notices_until_end(w), expected + [(w, u"Add", END, u"")])

    def test_keys_fold_ascii_case_only_and_notices_carry_the_text_of_the_first_add(self):
        spelled = make_folder(self.temp(u"\u00c4x")) + u"/./"
        self.watch(spelled)
        # The same key: no second watch, the first text stays.
        self.assertIs(self.monitor.AddFolder(self.temp(u"\u00c4X/./")), True)
        self.assertEqual(self.notices_until_end(spelled), [(spelled, u"Add", END, u"")])
        self.assertIs(self.monitor.RemoveFolder(self.temp(u"\u00e4x/./")), False)  # another key
        self.assertIs(self.monitor.RemoveFolder(self.temp(u"\u00c4X/./")), True)
        self.assertIs(self.monitor.RemoveFolder(spelled), False)

    def test_each_watch_of_a_tree_names_its_notices_from_its_own_root(self):
        inner = make_folder(self.temp("inner"))
        plain = self.watch(self.temp.path, settled=False)
        nested = self.watch(inner, settled=False)
        trailing = self.watch(self.temp.path + u"/")  # a second, independent watch
        touch(self.temp("inner", "a"))
        touch(self.temp(END))
        expected = [(nested, u"Add", u"a", u"")] + [(w, kind, name, u"") for w in (plain, trailing) for kind, name in
                                                    [(u"Add", u"inner/a"), (u"Modify", u"inner"), (u"Add", END)]]
        self.assertTrue(pump_until(lambda: len(self.recorder.notices) >= len(expected)))
        self.assertEqual(sorted(self.recorder.notices), sorted(expected))

    def test_a_removed_watch_reports_nothing_more(self):
        gone = self.watch(make_folder(self.temp("gone")))
        kept = self.watch(make_folder(self.temp("kept")))
        self.assertIs(self.monitor.RemoveFolder(gone.swapcase()), True)
        touch(os.path.join(gone, "x"))
        self.assertEqual(self.notices_until_end(kept), [(kept, u"Add", END, u"")])

    def test_a_folder_that_ends_gives_monitor_break(self):
        # What was queued comes first; a folder is watched wherever it moves.
        def delete(w):
            touch(os.path.join(w, "last"))
            shutil.rmtree(w)

        def move_away_and_delete(w):
            os.rename(w, self.temp("away"))
            delete(self.temp("away"))

        def unmount(w):
            self.assertEqual(subprocess.call(["umount", "-l", w]), 0)  # lazily: the watch keeps it alive

        def unmount_after_the_mount_table_was_closed(w):
            # As an application that closes descriptors it does not own.
            for fd in os.listdir("/proc/self/fd"):
                try:
                    if os.readlink("/proc/self/fd/" + fd).endswith("/mountinfo"):
                        os.close(int(fd))
                except OSError:
                    pass  # the listing's own descriptor
            append(os.path.join(w, PROBE))  # wakes the service, which polls the closed descriptor
            unmount(w)

        queued = [u"Add", u"Remove"]
        for what, end, kinds in [("deleted", delete, queued), ("moved away", move_away_and_delete, queued),
                                 ("unmounted", unmount, []),
                                 ("mount table closed", unmount_after_the_mount_table_was_closed, [])]:
            w = make_folder(self.temp(what))
            mounted = end in (unmount, unmount_after_the_mount_table_was_closed)
            if mounted and subprocess.call(["mount", "-t", "tmpfs", "w32test", w]) != 0:
                continue  # mounting needs the superuser
            self.watch(w)
            end(w)
            self.assertTrue(pump_until(lambda: (w, u"MonitorBreak", w, u"") in self.recorder.notices),
                            "%s: %r" % (what, self.recorder.notices))
            mine = [notice for notice in self.recorder.notices if notice[0] == w]
            expected = [(w, kind, u"last", u"") for kind in kinds] + [(w, u"MonitorBreak", w, u"")]
            self.assertEqual(mine[:len(expected)], expected, "%s: %r" % (what, mine))
        # No thread spins on a descriptor closed under it: an idle second costs next to no processor time.
        before = sum(os.times()[:2])
        time.sleep(1)
        self.assertLess(sum(os.times()[:2]) - before, 0.1)

    def test_a_thousand_folders_each_report_their_changes(self):
        folders = [make_folder(self.temp("f%04d" % i)) for i in range(1000)]
        for folder in folders:
            self.watch(folder, settled=False)
        self.assertTrue(settle(folders[-1], self.recorder))
        for folder in folders:
            touch(os.path.join(folder, END))
        self.assertTrue(pump_until(lambda: len(self.recorder.notices) >= len(folders)))
        self.assertEqual(sorted(self.recorder.notices), [(folder, u"Add", END, u"") for folder in folders])

    def test_lost_changes_give_a_modify_of_the_folder_and_the_watch_goes_on(self):
        def close_inotify(w):
            # As an application that closes descriptors it does not own.
            for fd in os.listdir("/proc/self/fd"):
                try:
                    if os.readlink("/proc/self/fd/" + fd) == "anon_inode:inotify":
                        os.close(int(fd))
                except OSError:
                    pass  # the listing's own descriptor
            # Wakes the service, which polls the closed instance; a probe, as the
            # change is lost or not as the service happened to wake already.
            append(os.path.join(w, PROBE))

        def move_in_a_chain_too_deep_to_watch(w):
            # Below the depth a path can name, folders cannot be watched.
            here = os.getcwd()
            os.chdir(make_folder(self.temp("out")))
            for _ in range(20):
                os.mkdir(LINK)
                os.chdir(LINK)
            os.chdir(here)
            os.rename(self.temp("out", LINK), os.path.join(w, LINK))

        for what, lose in [("inotify failed", close_inotify), ("too deep", move_in_a_chain_too_deep_to_watch)]:
            w = self.watch(make_folder(self.temp(what)))
            touch(os.path.join(w, "before"))
            self.assertTrue(pump_until(lambda: (w, u"Add", u"before", u"") in self.recorder.notices), what)
            lose(w)
            self.assertTrue(pump_until(lambda: (w, u"Modify", u"", u"") in self.recorder.notices), what)
            # The buffer of the read before is not decoded again.
            mine = [notice for notice in self.notices_until_end(w) if notice[0] == w]
            self.assertEqual(mine, [(w, u"Add", u"before", u""), (w, u"Modify", u"", u""), (w, u"Add", END, u"")],
                             "%s: %r" % (what, mine))


    def test_a_burst_beyond_the_kernels_queue_is_kept_while_nobody_pumps(self):
        # More events than the kernel keeps, while a busy process competes for
        # the processors and this thread dispatches nothing: none is lost.
        w = self.watch(self.temp.path)
        spinner = subprocess.Popen([sys.executable, "-c", "while True: pass"])
        try:
            for i in range(20000):
                touch(os.path.join(w, "b%05d" % i))
            time.sleep(1)
        finally:
            spinner.kill()
            spinner.wait()
        self.assertEqual(len([n for n in self.notices_until_end(w) if n[1] == u"Add"]), 20001)
        self.assertNotIn((w, u"Modify", u"", u""), self.recorder.notices)


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
        saved, sys.stderr = sys.stderr, StringIO()
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
