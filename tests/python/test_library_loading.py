"""Regsvr, LoadLib and FreeLib on small libraries the build made for the tests."""
import os
import shutil
import sys
import tempfile
import unittest

import _Device
import _w32
from device_support import text_type


def library_folder():
    """The build's test libraries: a folder beside the modules it imports."""
    for entry in sys.path:
        folder = os.path.join(entry, "test-libraries")
        if os.path.isdir(folder):
            return folder
    raise AssertionError("no test-libraries folder on sys.path")


LIBRARIES = library_folder()


def library(name):
    return text_type(os.path.join(LIBRARIES, name))


def mapped(path):
    """Whether the process maps the file now."""
    with open("/proc/self/maps") as maps:
        return path != u"" and any(line.rstrip("\n").endswith(path) for line in maps)


class Regsvr(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="regsvr-")
        self.registration = os.path.join(self.folder, "registered")
        os.environ["DEVICE_TEST_REGISTRATION"] = self.registration
        _w32.TakeDebugOutput()

    def tearDown(self):
        del os.environ["DEVICE_TEST_REGISTRATION"]
        shutil.rmtree(self.folder)

    def test_result_codes_and_debugger_messages(self):
        files = {}
        for name, content in (("notes.dll", b"no library\n"), ("empty.dll", b""),
                              ("elf32.dll", b"\x7fELF\x01\x01\x01" + b"\0" * 57)):
            files[name] = text_type(os.path.join(self.folder, name))
            with open(files[name], "wb") as f:
                f.write(content)
        bad_format = [u"LoadLib fail: 0x000000c1"]
        cases = [
            (u"/no/such/Server.dll", True, -2, [u"LoadLib fail: 0x0000007e"]),
            (u"Q:\\nowhere\\x.dll", True, -2, [u"LoadLib fail: 0x0000007e"]),
            (u"", True, -2, [u"LoadLib fail: 0x00000057"]),
            (text_type(self.folder), True, -2, [u"LoadLib fail: 0x00000005"]),
            (files["notes.dll"], True, -2, bad_format),
            (files["empty.dll"], True, -2, bad_format),
            (files["elf32.dll"], True, -2, bad_format),
            (library("Plain.dll"), True, -3, []),
            (library("Plain.dll"), False, -3, []),
            (library("FailServer.dll"), True, -4, [u"Regsvr return: 80070005\n"]),
            (library("FailServer.dll"), False, 1, []),  # S_FALSE is a success
            (library("NeedsDep.dll"), True, 1, []),  # its dependency lies in its own folder only
            (library("NeedsDep.dll"), False, -3, []),  # only its own exports: not its dependency's
        ]
        for path, register, code, messages in cases:
            self.assertEqual(_Device.Regsvr(path, register), code, path)
            self.assertEqual(_w32.TakeDebugOutput(), messages, path)
            self.assertFalse(mapped(path), path)

    def test_register_then_unregister(self):
        server = library("RegServer.dll")
        self.assertEqual(_Device.Regsvr(server, True), 1)
        self.assertTrue(os.path.exists(self.registration))
        self.assertEqual(_Device.Regsvr(server, 0), 1)
        self.assertFalse(os.path.exists(self.registration))
        self.assertEqual(_Device.Regsvr(server, False), -4)  # nothing left to unregister
        self.assertEqual(_w32.TakeDebugOutput(), [u"Regsvr return: 80004005\n"])
        self.assertFalse(mapped(server))


class LoadAndFree(unittest.TestCase):
    def test_each_load_takes_one_free(self):
        path = library("Plain.dll")
        first, second = _Device.LoadLib(path), _Device.LoadLib(path)
        self.assertEqual(int(first), int(second))
        self.assertTrue(mapped(path))
        self.assertIsNone(_Device.FreeLib(first))
        self.assertTrue(mapped(path))
        _Device.FreeLib(second)
        self.assertFalse(mapped(path))
        self.assertIsNone(_Device.FreeLib(second))  # no longer loaded: dropped

    def test_failed_loads_and_strangers(self):
        self.assertIsNone(_Device.LoadLib(u"/no/such/Server.dll"))
        self.assertIsNone(_Device.LoadLib(u""))
        self.assertIsNone(_Device.FreeLib(None))
        stranger = _Device.new_MMer()  # a wrapped pointer that is no module handle
        self.assertIsNone(_Device.FreeLib(stranger))
        _Device.delete_MMer(stranger)
        self.assertEqual(_w32.TakeDebugOutput(), [])

    def test_drive_form_paths(self):
        module = _Device.LoadLib(u"C:" + library("Plain.dll").replace(u"/", u"\\"))
        self.assertIsNotNone(module)
        _Device.FreeLib(module)
        self.assertFalse(mapped(library("Plain.dll")))


if __name__ == "__main__":
    unittest.main()
