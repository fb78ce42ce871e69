"""W32_DEBUG: one line on standard error for each failing platform call, by channel."""
import os
import re
import shutil
import tempfile
import unittest

from device_support import run_python

# Each failure the application meets, the channel that explains it and the
# line it must give; F is a scratch folder holding a file "item".
CASES = [
    ("com", u"_Device.CreateLink(F + u'/item', F + u'/a.lnk', u'')",
     r"w32:com: CoCreateInstance \{00021401-0000-0000-C000-000000000046\}: CO_E_NOTINITIALIZED: "),
    ("link", u"_w32.CoInitialize(); _Device.GetLinkFile(F + u'/item')",
     r"w32:link: IPersistFile::Load .*/item: not a shell link$"),
    ("link", u"_Device.CreateLink(F + u'/item', F + u'/missing/a.lnk', u'')",
     r"w32:link: IPersistFile::Save .*/missing/a.lnk: .*: No such file or directory$"),
    ("drive", u"_Device.GetLinkFile(u'Q:\\\\a.lnk')",
     r"w32:drive: Q:\\a.lnk: drive Q: has no root now "),
    ("bus", u"_Device.OpenExplorer(F + u'/item')",
     r"w32:bus: org.freedesktop.FileManager1.ShowItems: no session bus "),
    ("shell", u"_Device.OpenExplorer(F + u'/item')",
     r"w32:shell: SHOpenFolderAndSelectItems: xdg-open .*: No such file or directory$"),
    ("shell", u"_Device.OpenExplorer(F + u'/missing')",
     r"w32:shell: SHParseDisplayName .*/missing: No such file or directory$"),
    ("trash", u"_Device.RemoveFile(F + u'/item')",
     r"w32:trash: SHFileOperationW .*/item: .*/data/Trash: no folder can be made there$"),
    ("module", u"_Device.LoadLib(u'libw32-test-missing.so')",
     r"w32:module: LoadLibraryExW libw32-test-missing.so: .*cannot open shared object file"),
    ("module", u"_Device.LoadLib(F + u'/item')",
     r"w32:module: LoadLibraryExW .*/item: no 64-bit library of this machine$"),
    ("watch", u"monitor = MonitorFolder(recorder); monitor.Start(); monitor.AddFolder(F + u'/item'); "
              u"monitor.AddFolder(F); settle(F, recorder); monitor.Close()",
     r"w32:watch: ReadDirectoryChangesW .*/item: not a folder$"),
]

SCRIPT = u"""
import _Device, _w32
from monitor_harness import MonitorFolder, Recorder, settle
F = %r
recorder = Recorder()
""" + u"\n".join(code for _, code, _ in CASES)


class DebugChannels(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix=u"w32-debug-")
        for name in ("data", "drives", "path"):
            os.mkdir(os.path.join(self.folder, name))
        for name in ("item", "data/Trash"):  # a file where the home trash would be
            open(os.path.join(self.folder, name), "w").close()

    def tearDown(self):
        shutil.rmtree(self.folder)

    def lines(self, channels):
        env = {"DBUS_SESSION_BUS_ADDRESS": "", "PATH": os.path.join(self.folder, "path"),
               "XDG_DATA_HOME": os.path.join(self.folder, "data"), "W32_DRIVES": os.path.join(self.folder, "drives")}
        if channels is not None:
            env["W32_DEBUG"] = channels
        status, _, err = run_python(SCRIPT % self.folder, env)
        self.assertEqual(status, 0, err)
        return err.splitlines()

    def test_each_failure_explains_itself_on_its_channels_only(self):
        for channels in ("all", "link,module", "watch"):
            lines = self.lines(channels)
            named = set(channel for channel, _, _ in CASES) if channels == "all" else set(channels.split(","))
            self.assertEqual(set(line.split(":")[1] for line in lines), named, lines)
            for channel, code, line in CASES:
                if channel in named:
                    self.assertTrue([text for text in lines if re.match(line, text)], (code, lines))
        self.assertEqual(self.lines(None), [])


if __name__ == "__main__":
    unittest.main()
