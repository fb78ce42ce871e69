"""Shortcuts and display names, end to end. The shortcut's bytes are read by a
reader written here from the public Shell Link format, not by the module's."""
import os
import shutil
import struct
import tempfile
import unittest

import _Device
import _w32
from device_support import native, text

LINK_CLSID = b"\x01\x14\x02\x00\x00\x00\x00\x00\xc0\x00\x00\x00\x00\x00\x00\x46"
HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, IS_UNICODE, HAS_EXP_STRING = 0x1, 0x2, 0x4, 0x80, 0x200
ENVIRONMENT_BLOCK = 0xA0000001


def read_link(data):
    """The parts of a .lnk file the format defines, as a dict."""
    header_size, clsid, flags = struct.unpack_from("<I16sI", data, 0)
    assert header_size == 0x4C and clsid == LINK_CLSID
    facts = {"flags": flags, "attributes": struct.unpack_from("<I", data, 0x18)[0]}
    at = 0x4C
    if flags & HAS_ID_LIST:
        size = struct.unpack_from("<H", data, at)[0]
        items, item_at = [], at + 2
        while True:
            item_size = struct.unpack_from("<H", data, item_at)[0]
            if item_size == 0:
                break
            items.append(data[item_at + 2:item_at + item_size])
            item_at += item_size
        assert item_at + 2 == at + 2 + size
        facts["items"] = items
        at += 2 + size
    if flags & HAS_LINK_INFO:
        info = data[at:at + struct.unpack_from("<I", data, at)[0]]
        header = struct.unpack_from("<I", info, 4)[0]
        base_offset, suffix_offset = struct.unpack_from("<I", info, 0x10)[0], struct.unpack_from("<I", info, 0x18)[0]
        facts["local_base_path"] = info[base_offset:info.index(b"\0", base_offset)]
        facts["common_path_suffix"] = info[suffix_offset:info.index(b"\0", suffix_offset)]
        if header >= 0x24:
            wide_at = struct.unpack_from("<I", info, 0x1C)[0]
            end = wide_at
            while info[end:end + 2] != b"\0\0":
                end += 2
            facts["local_base_path_unicode"] = info[wide_at:end].decode("utf-16-le")
        at += len(info)
    if flags & HAS_NAME:
        count = struct.unpack_from("<H", data, at)[0]
        facts["description"] = data[at + 2:at + 2 + count * 2].decode("utf-16-le")
        at += 2 + count * 2
    while True:
        block_size = struct.unpack_from("<I", data, at)[0]
        if block_size < 4:
            break
        if struct.unpack_from("<I", data, at + 4)[0] == ENVIRONMENT_BLOCK:
            wide = data[at + 268:at + 268 + 520].decode("utf-16-le")
            facts["environment_target"] = wide[:wide.index(u"\0")]
        at += block_size
    assert at + 4 == len(data), "the terminal block ends the file"
    return facts


def drive_form(path):
    return u"C:" + path.replace(u"/", u"\\")


class ComThread(unittest.TestCase):
    def setUp(self):
        _w32.CoInitialize()
        self.folder = text(tempfile.mkdtemp(prefix="links-"))

    def tearDown(self):
        _w32.CoUninitialize()
        shutil.rmtree(self.folder.encode("utf-8"))

    def path(self, *names):
        return os.path.join(self.folder, *names)

    def write(self, name, text="x"):
        with open(self.path(name).encode("utf-8"), "w") as out:
            out.write(text)
        return self.path(name)


class ShellLinks(ComThread):
    def test_a_link_is_written_in_the_public_format_and_read_back(self):
        for name in [u"plain.txt", u"caf\xe9 \u6587\u4ef6 with blanks.txt"]:
            target = self.write(name)
            link = self.path(u"made.lnk")
            _Device.CreateLink(target, link, u"A description \u2713")
            facts = read_link(open(link.encode("utf-8"), "rb").read())
            self.assertEqual(facts["flags"] & (HAS_ID_LIST | HAS_LINK_INFO | HAS_NAME | IS_UNICODE),
                             HAS_ID_LIST | HAS_LINK_INFO | HAS_NAME | IS_UNICODE)
            self.assertEqual(facts["local_base_path_unicode"], drive_form(target))
            self.assertEqual(facts["description"], u"A description \u2713")
            # The item list: the computer, the drive, then one item per name.
            self.assertEqual(facts["items"][0][:2], b"\x1f\x50")
            self.assertEqual(facts["items"][1][:4], b"\x2fC:\\")
            self.assertEqual(len(facts["items"]), 2 + len(target.strip(u"/").split(u"/")))
            self.assertIn(name.encode("utf-16-le"), facts["items"][-1])
            self.assertEqual(_Device.GetLinkFile(link), target)

    def test_targets_by_their_bytes_and_up_to_the_buffer(self):
        # A Latin-1 name, and paths of 519 and 520 characters for a buffer of 520.
        open(os.path.join(self.folder.encode("utf-8"), b"caf\xe9.txt"), "w").close()
        deep = self.folder
        while len(deep) < 440:
            deep = os.path.join(deep, u"d" * 60)
            os.mkdir(deep.encode("utf-8"))
        fits = self.write(os.path.join(deep, u"f" * (518 - len(deep))))
        too_long = self.write(os.path.join(deep, u"g" * (519 - len(deep))))
        for target, answer in [(self.folder + u"/caf\udce9.txt", self.folder + u"/caf\udce9.txt"),
                               (fits, fits), (too_long, None)]:
            _Device.CreateLink(target, self.path(u"t.lnk"), u"")
            self.assertEqual(_Device.GetLinkFile(self.path(u"t.lnk")), answer, len(target))

    def test_a_variable_in_the_target_stays_unexpanded(self):
        os.environ["LINK_TEST_FOLDER"] = native(self.folder)
        self.write(u"in-variable.txt")
        link = self.path(u"variable.lnk")
        _Device.CreateLink(u"%LINK_TEST_FOLDER%/in-variable.txt", link, u"")
        facts = read_link(open(link.encode("utf-8"), "rb").read())
        self.assertTrue(facts["flags"] & HAS_EXP_STRING)
        self.assertEqual(facts["environment_target"], u"%LINK_TEST_FOLDER%/in-variable.txt")
        self.assertEqual(_Device.GetLinkFile(link), u"%LINK_TEST_FOLDER%/in-variable.txt")

    def test_links_that_give_no_target(self):
        hidden = self.write(u".hidden")
        gone = self.write(u"gone.txt")
        cases = {u"hidden.lnk": hidden, u"gone.lnk": gone}
        for link, target in cases.items():
            _Device.CreateLink(target, self.path(link), u"")
        os.remove(gone.encode("utf-8"))
        self.write(u"not-a-link.lnk", "plain text, not a link")
        with open(self.path(u"cut.lnk").encode("utf-8"), "wb") as out:
            out.write(open(self.path(u"hidden.lnk").encode("utf-8"), "rb").read()[:100])
        for link in [u"hidden.lnk", u"gone.lnk", u"not-a-link.lnk", u"cut.lnk", u"missing.lnk"]:
            self.assertIsNone(_Device.GetLinkFile(self.path(link)), link)

    def test_a_link_into_a_missing_folder_creates_nothing(self):
        self.assertIsNone(_Device.CreateLink(self.write(u"t.txt"), self.path(u"no", u"t.lnk"), u"d"))
        self.assertFalse(os.path.exists(self.path(u"no").encode("utf-8")))

    def test_internet_shortcuts_guess_the_scheme_as_the_platform_does(self):
        cases = [(u"http://example.com/a b", "http://example.com/a b"),
                 (u"www.example.com", "http://www.example.com"),
                 (u"ftp.example.com", "ftp://ftp.example.com"),
                 (u"mailto:someone@example.com", "mailto:someone@example.com"),
                 (u"http://example.com/\xe9", "http://example.com/%C3%A9")]
        for url, stored in cases:
            _Device.CreateInternetShortcut(url, self.path(u"s.url"))
            self.assertEqual(open(self.path(u"s.url").encode("utf-8"), "rb").read(),
                             ("[InternetShortcut]\r\nURL=%s\r\n" % stored).encode("ascii"))


class DisplayNames(ComThread):
    def test_display_names(self):
        existing = self.write(u"shown.name.txt")
        cases = [(u"", u"Computer"), (u"C:", u"Local Disk (C:)"), (existing, u"shown.name.txt"),
                 (self.path(u"missing.tar.gz"), u"missing.tar"), (u"Q:\\nowhere\\file.txt", u"file"),
                 (u"/" + u"a" * 2000 + u"/b.txt", u"b"), (u"a" * 3000, u"")]
        for path, name in cases:
            self.assertEqual(_Device.GetPathDisplayName(path), name, path[:40])
        self.assertEqual(_Device.GetMyComputerName(), u"Computer")

    def test_long_path_names(self):
        existing = self.write(u"long name.txt")
        self.assertEqual(_Device.GetLongPathName(existing), existing)
        self.assertIsNone(_Device.GetLongPathName(self.path(u"missing")))
        deep = self.folder
        while len(deep) < 300:
            deep = os.path.join(deep, u"d" * 50)
            os.mkdir(deep.encode("utf-8"))
        self.assertEqual(_Device.GetLongPathName(deep), u"")  # longer than the buffer


class WithoutCom(unittest.TestCase):
    def test_the_failure_answers(self):
        folder = text(tempfile.mkdtemp(prefix="links-"))
        try:
            target = os.path.join(folder, u"t.txt")
            open(target, "w").close()
            _Device.CreateLink(target, os.path.join(folder, u"t.lnk"), u"")
            _Device.CreateInternetShortcut(u"http://example.com", os.path.join(folder, u"t.url"))
            self.assertEqual(os.listdir(folder), [u"t.txt"])
            self.assertEqual(_Device.GetMyComputerName(), u"")
            self.assertEqual(_Device.GetPathDisplayName(u""), u"")
            self.assertRaises(TypeError, _Device.GetLinkFile, b"bytes")
        finally:
            shutil.rmtree(folder)


if __name__ == "__main__":
    unittest.main()
