"""Listing, the trash, the file manager and the command line, end to end."""
import datetime
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

import _Device
import _w32

from device_proxies import MonitorFolder
from device_support import PY3, Recorder, native, pump_until, run_python, text, url_unquote


class Listing(unittest.TestCase):
    def setUp(self):
        self.folder = text(tempfile.mkdtemp(prefix="listing-"))
        for name in [u"a.txt", u"B.TXT", u"readme", u".hidden", u"x.tar.gz", u"ab"]:
            open(os.path.join(self.folder, name), "w").close()
        for name in [u"sub", u".hidden-folder"]:
            os.mkdir(os.path.join(self.folder, name))
        open(os.path.join(self.folder.encode("utf-8"), b"bad-\xff-name"), "w").close()
        _w32.TakeDebugOutput()

    def tearDown(self):
        shutil.rmtree(self.folder.encode("utf-8"))

    def pattern(self, name):
        return self.folder + u"/" + name

    def test_patterns_select_by_the_platform_rules(self):
        everything = [u"a.txt", u"B.TXT", u"readme", u"x.tar.gz", u"ab", u"bad-\udcff-name"]
        cases = [(u"*", everything), (u"*.*", everything), (u"*.txt", [u"a.txt", u"B.TXT"]),
                 (u"*.TXT", [u"a.txt", u"B.TXT"]), (u"?.txt", [u"a.txt", u"B.TXT"]), (u"a?", [u"ab"]),
                 (u"*.", [u"readme", u"ab", u"bad-\udcff-name"]), (u"readme.*", [u"readme"]), (u"x.*.gz", [u"x.tar.gz"]),
                 (u"b.txt", [u"B.TXT"]), (u"*.tar", []), (u"**??**", everything), (u"[a]*", [])]
        for pattern, names in cases:
            self.assertEqual(sorted(_Device.ListFile(self.pattern(pattern))), sorted(names), pattern)

    def test_folders_with_their_dot_entries(self):
        self.assertEqual(sorted(_Device.ListFolder(self.pattern(u"*"))), [u".", u"..", u"sub"])
        self.assertEqual(_Device.ListFolder(self.pattern(u"s*")), [u"sub"])
        self.assertNotIn(u"..", _Device.ListFolder(u"C:\\*"))

    def test_a_pattern_that_finds_nothing_is_traced_once(self):
        registry = os.path.join(os.path.dirname(__file__), "..", "common", "trace_on.reg")
        for pattern, error in [(self.pattern(u"*.none"), 2), (self.pattern(u"missing/*"), 3)]:
            status, out, err = run_python("""
                import _Device, _w32
                print(repr((_Device.ListFile(%r), _w32.TakeDebugOutput())))
                """ % pattern, env={"W32_REGISTRY": registry})
            self.assertEqual(status, 0, err)
            self.assertEqual(eval(out), ([], [u"Invalid File Handle. GetLastError reports %d\n" % error, u"\n"]))
        self.assertRaises(TypeError, _Device.ListFile, b"bytes")

    def test_a_large_folder_keeps_each_name_with_its_own_kind(self):
        # More entries than one batch of the search, each stat'ed apart from
        # the order it is listed in.
        big = os.path.join(self.folder, u"big")
        os.mkdir(big)
        files, folders = [], [u".", u".."]
        for i in range(10000):
            name = (u".h%05d" if i % 11 == 0 else u"e%05d") % i
            if i % 7 == 0:
                os.mkdir(os.path.join(big, name))
                listed = folders
            else:
                open(os.path.join(big, name), "w").close()
                listed = files
            if not name.startswith(u"."):
                listed.append(name)
        self.assertEqual(sorted(_Device.ListFile(big + u"/*")), sorted(files))
        self.assertEqual(sorted(_Device.ListFolder(big + u"/*")), sorted(folders))

    def test_other_threads_run_while_a_listing_runs(self):
        import threading
        seen = []
        worker = threading.Thread(target=lambda: seen.append(len(_Device.ListFile(self.pattern(u"*")))))
        worker.start()
        worker.join()
        self.assertEqual(seen, [6])


class ByteNames(unittest.TestCase):
    """A Linux name is bytes: whatever a listing gives reaches exactly that file again."""
    NAMES = [(b"caf\xe9.txt", u"caf\udce9.txt"),  # Latin-1: an undecodable byte
             (b"caf\xef\xbf\xbd.txt", u"caf\ufffd.txt"),  # a real U+FFFD: another file
             (b"\xed\xa0\x80.txt", u"\ud800.txt"),  # a lone surrogate's own form
             (b"\xc3\xa9.txt", u"\xe9.txt")]

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="names-").encode("utf-8") if PY3 else tempfile.mkdtemp(prefix="names-")
        self.saved = os.environ.get("XDG_DATA_HOME")
        os.environ["XDG_DATA_HOME"] = native(text(os.path.join(self.root, b"data")))
        for name, _ in self.NAMES:
            open(os.path.join(self.root, name), "w").close()
        os.mkdir(os.path.join(self.root, b"dir\xff"))

    def tearDown(self):
        if self.saved is None:
            del os.environ["XDG_DATA_HOME"]
        else:
            os.environ["XDG_DATA_HOME"] = self.saved
        shutil.rmtree(self.root)

    def test_each_name_listed_reaches_its_own_file(self):
        folder = text(self.root)
        self.assertEqual(sorted(_Device.ListFile(folder + u"/*.txt")), sorted(wide for _, wide in self.NAMES))
        self.assertEqual(_Device.ListFolder(folder + u"/dir*"), [u"dir\udcff"])
        # Escaped bytes that would read back as "\xe9" name no file of their own.
        self.assertFalse(_Device.RemoveFile(folder + u"/\udcc3\udca9.txt"))
        trashed = os.path.join(self.root, b"data", b"Trash", b"files")
        for name, wide in self.NAMES:
            self.assertTrue(_Device.RemoveFile(folder + u"/" + wide), wide)
            self.assertFalse(os.path.lexists(os.path.join(self.root, name)), wide)
            self.assertIn(name, os.listdir(trashed))
        self.assertEqual(len(os.listdir(trashed)), len(self.NAMES))

        # A notice names a new file as the listing does.
        recorder = Recorder()
        monitor = MonitorFolder(recorder)
        monitor.Start()
        try:
            self.assertTrue(monitor.AddFolder(folder + u"/dir\udcff"))
            # New files until the first read is armed and one is reported.
            made = []
            def made_one_reported():
                made.append(u"caf\udce9-%d.txt" % len(made))
                open(os.path.join(self.root, b"dir\xff", b"caf\xe9-" + str(len(made) - 1).encode("ascii") + b".txt"), "w").close()
                return any(call[1] == u"Add" and call[2] in made for call in recorder.calls)
            self.assertTrue(pump_until(made_one_reported), recorder.calls)
        finally:
            monitor.Close()


def read_trash_info(path):
    lines = open(path).read().splitlines()
    assert lines[0] == "[Trash Info]"
    fields = dict(line.split("=", 1) for line in lines[1:])
    return url_unquote(fields["Path"]), fields["DeletionDate"]


class Trash(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="trash-")
        self.saved = os.environ.get("XDG_DATA_HOME")
        os.environ["XDG_DATA_HOME"] = os.path.join(self.root, "data")
        self.items = os.path.join(self.root, "items")
        os.mkdir(self.items)

    def tearDown(self):
        if self.saved is None:
            del os.environ["XDG_DATA_HOME"]
        else:
            os.environ["XDG_DATA_HOME"] = self.saved
        for folder, _, _ in os.walk(self.root):
            os.chmod(folder, 0o700)
        shutil.rmtree(self.root)

    def make(self, name, folder=False):
        path = os.path.join(self.items, name)
        if folder:
            os.mkdir(path)
            open(os.path.join(path, "inside"), "w").close()
        else:
            open(path, "w").write(name)
        return path

    def test_items_go_to_the_home_trash_with_their_info(self):
        before = datetime.datetime.now().replace(microsecond=0)
        for name, folder in [("same name", False), ("folder", True), (native(u"caf\xe9 %"), False),
                             ("same name", False)]:
            path = self.make(name, folder)
            self.assertTrue(_Device.RemoveFile(text(path)), path)
            self.assertFalse(os.path.lexists(path))
        trash = os.path.join(self.root, "data", "Trash")
        self.assertEqual(sorted(os.listdir(os.path.join(trash, "files"))),
                         [native(u"caf\xe9 %"), "folder", "same name", "same name.2"])
        for name in os.listdir(os.path.join(trash, "files")):
            path, date = read_trash_info(os.path.join(trash, "info", name + ".trashinfo"))
            self.assertEqual(path, os.path.join(self.items, name.replace(".2", "")))
            deleted = datetime.datetime.strptime(date, "%Y-%m-%dT%H:%M:%S")
            self.assertTrue(before <= deleted <= datetime.datetime.now())
        self.assertEqual(os.listdir(os.path.join(trash, "files", "folder")), ["inside"])
        self.assertEqual(open(os.path.join(trash, "files", "same name.2")).read(), "same name")

    def test_nothing_is_deleted_where_no_trash_can_take_it(self):
        os.makedirs(os.path.join(self.root, "data", "Trash"))
        open(os.path.join(self.root, "data", "Trash", "info"), "w").close()  # no folder can be made there
        kept = self.make("kept")
        self.assertFalse(_Device.RemoveFile(text(kept)))
        self.assertTrue(os.path.exists(kept))

    def test_missing_items_and_other_mounts(self):
        self.assertFalse(_Device.RemoveFile(text(os.path.join(self.items, "missing"))))
        self.assertFalse(_Device.RemoveFile(u""))
        shm = "/dev/shm"
        if not os.path.isdir(shm) or os.stat(shm).st_dev == os.stat(self.root).st_dev:
            self.skipTest("no second file system")
        item = tempfile.mkdtemp(prefix="trash-item-", dir=shm)
        trash = os.path.join(shm, ".Trash-%d" % os.getuid())
        had_trash = os.path.exists(trash)
        try:
            self.assertTrue(_Device.RemoveFile(text(item)))
            name = os.path.basename(item)
            path, _ = read_trash_info(os.path.join(trash, "info", name + ".trashinfo"))
            self.assertEqual(path, name)  # relative to the top of its file system
            self.assertTrue(os.path.isdir(os.path.join(trash, "files", name)))
        finally:
            shutil.rmtree(trash if not had_trash else os.path.join(trash, "files", os.path.basename(item)),
                          ignore_errors=True)


class OpenExplorer(unittest.TestCase):
    def test_without_a_bus_the_folder_opens_through_xdg_open(self):
        tools = tempfile.mkdtemp(prefix="tools-")
        try:
            record = os.path.join(tools, "opened")
            script = os.path.join(tools, "xdg-open")
            open(script, "w").write("#!/bin/sh\necho \"$1\" > %s.part && mv %s.part %s\n" % (record, record, record))
            os.chmod(script, 0o755)
            item = os.path.join(tools, "item with blank")
            open(item, "w").close()
            status, out, err = run_python("""
                import _Device, os, time
                print(repr((_Device.OpenExplorer(%r), _Device.OpenExplorer(u"/no/such/item"))))
                for _ in range(500):
                    if os.path.exists(%r):
                        break
                    time.sleep(0.01)
                time.sleep(0.2)
                # The child is reaped: no zombie of ours is left.
                tasks = "/proc/self/task"
                children = " ".join(open(os.path.join(tasks, task, "children")).read() for task in os.listdir(tasks))
                states = [open("/proc/%%s/stat" %% child).read().split(") ")[1][0] for child in children.split()]
                print(states.count("Z"))
                """ % (text(item), record), env={"PATH": tools + ":" + os.environ["PATH"],
                                                 "DBUS_SESSION_BUS_ADDRESS": ""})
            self.assertEqual(status, 0, err)
            self.assertEqual(out.split("\n")[:2], ["(True, False)", "0"])
            self.assertEqual(open(record).read(), tools + "\n")
        finally:
            shutil.rmtree(tools)


class SpecialFiles(unittest.TestCase):
    def test_no_entry_point_waits_on_a_special_file_where_it_opens_a_file(self):
        # A FIFO waits for a writer or reader when opened for real; each call
        # gives its failure answer at once, and the FIFO stays as it was.
        folder = tempfile.mkdtemp(prefix="special-")
        self.addCleanup(shutil.rmtree, folder)
        fifo = lambda name: (os.mkfifo(os.path.join(folder, name)), text(os.path.join(folder, name)))[1]
        target = text(os.path.join(folder, "target.txt"))
        open(target, "w").close()
        calls = [
            ("GetLinkFile(%r)" % fifo("read.lnk"), "None"),
            ("CreateLink(%r, %r, u'd')" % (target, fifo("written.lnk")), "None"),
            ("CreateInternetShortcut(u'http://x.example/', %r)" % fifo("written.url"), "None"),
            ("LoadLib(%r)" % fifo("library.so"), "None"),
            ("Regsvr(%r, True)" % fifo("server.so"), "-2"),
        ]
        status, out, err = run_python("""
            import signal, _Device, _w32
            signal.alarm(20)  # a call that waits ends the child here
            _w32.CoInitialize()
            for call in %r:
                print(repr(eval("_Device." + call)))
            """ % [call for call, _ in calls])
        self.assertEqual(status, 0, err)
        self.assertEqual(out.split(), [answer for _, answer in calls])
        self.assertTrue(all(stat.S_ISFIFO(os.stat(os.path.join(folder, name)).st_mode)
                            for name in os.listdir(folder) if name != "target.txt"))


class CommandLine(unittest.TestCase):
    def test_the_words_come_back_as_given(self):
        words = ["plain", "with blank", "", "tab\there", 'a"quote', "back\\slash", "trailing\\", 'both\\"',
                 "\\\\server\\share\\", native(u"caf\xe9"), "  "]
        process = subprocess.Popen([sys.executable, "-c", "import _Device; print(repr(_Device.GetArgvW()))"] + words +
                                   [b"caf\xe9"], stdout=subprocess.PIPE)
        out, _ = process.communicate()
        argv = eval(out)
        self.assertEqual(argv[0], text(sys.executable))
        self.assertEqual(argv[3:], [text(word) for word in words] + [u"caf\udce9"])  # a Latin-1 word by its bytes

    def test_splitting_rules(self):
        import ctypes
        libw32 = ctypes.CDLL("libw32.so")  # the copy _w32 loaded, found by its soname
        libw32.CommandLineToArgvW.restype = ctypes.POINTER(ctypes.c_void_p)
        libw32.LocalFree.argtypes = [ctypes.c_void_p]
        cases = [(u'"C:\\Program Files\\a.exe" x', [u"C:\\Program Files\\a.exe", u"x"]),
                 (u'prog"ram a', [u'prog"ram', u"a"]),
                 (u'p a\\\\\\"b "c d" e\\\\"f g"', [u"p", u'a\\"b', u"c d", u"e\\f g"]),
                 (u'p "a""b" c', [u"p", u'a"b c']),
                 (u'p \\\\\\\\"x"', [u"p", u"\\\\x"]),
                 (u"p\t\ta  ", [u"p", u"a"])]
        for line, words in cases:
            count = ctypes.c_int()
            encoded = line.encode("utf-16-le") + b"\0\0"
            block = libw32.CommandLineToArgvW(ctypes.c_char_p(encoded), ctypes.byref(count))
            got = [ctypes.string_at(block[i], self.length(block[i]) * 2).decode("utf-16-le") for i in range(count.value)]
            libw32.LocalFree(ctypes.cast(block, ctypes.c_void_p))
            self.assertEqual(got, words, line)

    @staticmethod
    def length(address):
        import ctypes
        n = 0
        while ctypes.c_uint16.from_address(address + 2 * n).value != 0:
            n += 1
        return n


if __name__ == "__main__":
    unittest.main()
