"""MonitorFolder's entry points: lifecycle and bad paths."""
import os
import sys
import unittest

import _Device
from monitor_harness import MonitorFolder, Recorder, TemporaryFolder, drain, touch


class Lifecycle(unittest.TestCase):
    def setUp(self):
        self.temp = TemporaryFolder()

    def tearDown(self):
        self.temp.remove()
        drain()

    def test_start_close_sequences_return_at_once(self):
        monitor = MonitorFolder(Recorder())
        self.assertFalse(monitor.AddFolder(self.temp.path))  # no worker yet
        self.assertFalse(monitor.RemoveFolder(self.temp.path))
        self.assertIsNone(monitor.Close())  # before Start
        self.assertIsNone(monitor.Start())
        self.assertIsNone(monitor.Start())  # no second worker
        self.assertTrue(monitor.AddFolder(self.temp.path))
        self.assertIsNone(monitor.Close())
        self.assertIsNone(monitor.Close())
        self.assertFalse(monitor.AddFolder(self.temp.path))  # no worker any more
        monitor.Start()
        # The new worker starts with an empty set.
        self.assertFalse(monitor.RemoveFolder(self.temp.path))
        self.assertTrue(monitor.AddFolder(self.temp.path))
        self.assertTrue(monitor.RemoveFolder(self.temp.path))
        self.assertFalse(monitor.RemoveFolder(self.temp.path))

    def test_deleting_a_running_monitor_stops_it(self):
        monitor = MonitorFolder(Recorder())
        monitor.Start()
        self.assertTrue(monitor.AddFolder(self.temp.path))
        _Device.delete_MonitorFolder(monitor)
        with self.assertRaises(ValueError):
            monitor.AddFolder(self.temp.path)

    def test_the_callable_is_released_with_the_object(self):
        recorder = Recorder()
        before = sys.getrefcount(recorder)
        monitor = MonitorFolder(recorder)
        self.assertEqual(sys.getrefcount(recorder), before + 1)
        _Device.delete_MonitorFolder(monitor)
        self.assertEqual(sys.getrefcount(recorder), before)


class BadPaths(unittest.TestCase):
    def setUp(self):
        self.temp = TemporaryFolder()
        self.monitor = MonitorFolder(Recorder())
        self.monitor.Start()

    def tearDown(self):
        self.monitor.Close()
        self.temp.remove()

    def test_arguments_of_another_kind_are_refused(self):
        cases = [(self.monitor.AddFolder, path, "Unicode string expected") for path in [b"/tmp", 5, None]] + [
            (_Device.delete_MonitorFolder, object(), "in method 'delete_MonitorFolder', argument 1 of type "
                                                     "'MonitorFolder *'")]
        for function, argument, message in cases:
            with self.assertRaises(TypeError) as raised:
                function(argument)
            self.assertEqual(str(raised.exception), message)

    def test_paths_that_cannot_be_watched_give_false(self):
        touch(self.temp("file"))
        cases = [
            ("missing", self.temp("missing")),
            ("below a missing folder", self.temp("missing", "deeper")),
            ("below a file", self.temp("file", "deeper")),
            ("empty", u""),
            ("a NUL first: the text ends there", u"\0" + self.temp.path),
            ("a NUL after a missing name", self.temp("missing") + u"\0" + self.temp.path),
            ("very long", u"/" + u"a" * 100000),
            ("very deep", u"/".join([self.temp.path] + [u"d"] * 3000)),
            ("not even a path", u"\U0001F600:\\x"),
        ]
        for what, path in cases:
            self.assertIs(self.monitor.AddFolder(path), False, what)
            self.assertIs(self.monitor.RemoveFolder(path), False, what)

    @unittest.skipIf(os.geteuid() == 0, "the superuser reads every folder")
    def test_an_unreadable_folder_gives_false(self):
        locked = self.temp("locked")
        os.mkdir(locked, 0)
        self.assertIs(self.monitor.AddFolder(locked), False)

    def test_the_text_after_a_nul_is_not_seen(self):
        # The conversion hands the service the text up to its first NUL.
        self.assertIs(self.monitor.AddFolder(self.temp.path + u"\0/missing"), True)
        self.assertIs(self.monitor.RemoveFolder(self.temp.path), True)


if __name__ == "__main__":
    unittest.main()
