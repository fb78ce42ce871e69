"""Machine facts against the kernel's and the user database's own answers."""
import os
import pwd
import shutil
import tempfile
import unittest

import _Device

from device_support import run_python


class MachineFacts(unittest.TestCase):
    def test_user_name_is_the_effective_user(self):
        self.assertEqual(_Device.GetUserName(), pwd.getpwuid(os.geteuid()).pw_name.decode("utf-8"))

    def test_free_disk_space_is_the_volumes_free_megabytes(self):
        for path, native in ((u"/", "/"), (u"C:\\", "/"), (u"C:/tmp", "/tmp"), (u"/tmp", "/tmp")):
            volume = os.statvfs(native)
            expected = (volume.f_bfree * volume.f_frsize) >> 20
            self.assertAlmostEqual(_Device.GetAvailableDiskSpaceMB(path), expected, delta=64, msg=path)

    def test_free_disk_space_failures(self):
        folder = tempfile.mkdtemp()
        try:
            open(os.path.join(folder, "file"), "w").close()
            for path in (u"/no/such/folder", os.path.join(folder, "file").decode("utf-8"), u"", u"Q:\\"):
                self.assertIsNone(_Device.GetAvailableDiskSpaceMB(path), path)
        finally:
            shutil.rmtree(folder)
        self.assertRaises(TypeError, _Device.GetAvailableDiskSpaceMB, "/")

    def test_logical_processors_online(self):
        self.assertEqual(_Device.GetLogicalCpuNumber(), os.sysconf("SC_NPROCESSORS_ONLN"))

    def test_logical_processors_of_a_fake_machine(self):
        root = tempfile.mkdtemp(prefix="w32-sysroot-")
        try:
            os.makedirs(os.path.join(root, "sys/devices/system/cpu"))
            with open(os.path.join(root, "sys/devices/system/cpu/online"), "w") as f:
                f.write("0-5,8-9\n")
            status, out, err = run_python("import _Device\nprint _Device.GetLogicalCpuNumber()",
                                          {"W32_SYSROOT": root})
            self.assertEqual((status, out.strip()), (0, "8"), err)
        finally:
            shutil.rmtree(root)


if __name__ == "__main__":
    unittest.main()
