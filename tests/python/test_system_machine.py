"""Machine facts against the kernel's and the user database's own answers."""
import os
import pwd
import shutil
import tempfile
import unittest

import _Device

from device_support import run_python, text, text_type


class MachineFacts(unittest.TestCase):
    def test_user_name_is_the_effective_user(self):
        self.assertEqual(_Device.GetUserName(), text(pwd.getpwuid(os.geteuid()).pw_name))

    def test_free_disk_space_is_the_volumes_free_megabytes(self):
        for path, native in ((u"/", "/"), (u"C:\\", "/"), (u"C:/tmp", "/tmp"), (u"/tmp", "/tmp")):
            volume = os.statvfs(native)
            expected = (volume.f_bfree * volume.f_frsize) >> 20
            self.assertAlmostEqual(_Device.GetAvailableDiskSpaceMB(path), expected, delta=64, msg=path)

    def test_free_disk_space_failures(self):
        folder = tempfile.mkdtemp()
        try:
            open(os.path.join(folder, "file"), "w").close()
            for path in (u"/no/such/folder", text(os.path.join(folder, "file")), u"", u"Q:\\"):
                self.assertIsNone(_Device.GetAvailableDiskSpaceMB(path), path)
        finally:
            shutil.rmtree(folder)
        self.assertRaises(TypeError, _Device.GetAvailableDiskSpaceMB, b"/")

    def test_logical_processors_online(self):
        self.assertEqual(_Device.GetLogicalCpuNumber(), os.sysconf("SC_NPROCESSORS_ONLN"))
        root = tempfile.mkdtemp(prefix="w32-sysroot-")
        try:
            os.makedirs(os.path.join(root, "sys/devices/system/cpu"))
            # A list that cannot be read counts the kernel's own.
            for listed, expected in (("0-5,8-9\n", 8), ("garbage\n", None), ("3-1\n", None)):
                with open(os.path.join(root, "sys/devices/system/cpu/online"), "w") as f:
                    f.write(listed)
                status, out, err = run_python("import _Device\nprint(_Device.GetLogicalCpuNumber())",
                                              {"W32_SYSROOT": root})
                self.assertEqual((status, int(out)), (0, expected or os.sysconf("SC_NPROCESSORS_ONLN")), err)
        finally:
            shutil.rmtree(root)


WMI_ANSWERS = ("import _Device, _w32\n_w32.CoInitialize()\n"
               "print(repr((_Device.GetTotalMemorySize(), _Device.GetDisplayAdapterNames(), _Device.IsIronLake())))")


class FakeMachine(unittest.TestCase):
    """WMI answers of a machine built in a folder, read in fresh processes."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="w32-sysroot-")

    def tearDown(self):
        shutil.rmtree(self.root)

    def write(self, path, text):
        full = os.path.join(self.root, path.lstrip("/"))
        if not os.path.isdir(os.path.dirname(full)):
            os.makedirs(os.path.dirname(full))
        with open(full, "w") as f:
            f.write(text)

    def add_display(self, address, vendor, device, boot):
        base = "/sys/bus/pci/devices/%s/" % address
        for name, value in (("class", "0x030000"), ("vendor", vendor), ("device", device),
                            ("subsystem_vendor", "0x1028"), ("subsystem_device", "0x040a"), ("revision", "0x02"),
                            ("boot_vga", boot)):
            self.write(base + name, value + "\n")

    def answers(self, code=WMI_ANSWERS):
        status, out, err = run_python(code, {"W32_SYSROOT": self.root})
        self.assertEqual(status, 0, err)
        return eval(out)

    def test_memory_saturates_at_the_largest_int(self):
        for kilobytes, expected in ((1048576, 1073741824), (2097151, 2147482624), (4194304, 2147483647)):
            self.write("/proc/meminfo", "MemTotal:  %d kB\nMemFree:  1 kB\n" % kilobytes)
            self.assertEqual(self.answers()[0], expected, kilobytes)

    def test_ironlake_is_the_first_adapters_device(self):
        self.write("/proc/meminfo", "MemTotal:  1024 kB\n")
        cases = [
            ([("0000:00:02.0", "0x8086", "0x0046", "1")], True),
            ([("0000:00:02.0", "0x8086", "0x0042", "1")], True),
            ([("0000:00:02.0", "0x8086", "0x0166", "1")], False),
            ([("0000:00:02.0", "0x10de", "0x0046", "1")], False),
            ([("0000:00:02.0", "0x8086", "0x0166", "1"), ("0000:01:00.0", "0x8086", "0x0046", "0")], False),
            ([("0000:00:02.0", "0x8086", "0x0046", "0"), ("0000:01:00.0", "0x10de", "0x1c82", "1")], False),
        ]
        for devices, expected in cases:
            shutil.rmtree(os.path.join(self.root, "sys"), ignore_errors=True)
            for device in devices:
                self.add_display(*device)
            memory, names, ironlake = self.answers()
            self.assertEqual(ironlake, expected, devices)
            self.assertEqual(type(names), tuple)
            self.assertEqual([type(name) for name in names], [text_type, text_type])

    def test_no_machine_facts_and_no_com_give_none(self):
        self.assertEqual(self.answers(), (None, None, None))
        self.write("/proc/meminfo", "MemTotal:  1024 kB\n")
        self.add_display("0000:00:02.0", "0x8086", "0x0046", "1")
        self.assertEqual(self.answers(WMI_ANSWERS.replace("_w32.CoInitialize()", "")), (None, None, None))

    def test_this_machines_memory(self):
        with open("/proc/meminfo") as f:
            total = int([line for line in f if line.startswith("MemTotal:")][0].split()[1]) * 1024
        status, out, err = run_python(WMI_ANSWERS, {})
        self.assertEqual(status, 0, err)
        self.assertEqual(eval(out)[0], min(total, 2147483647))


if __name__ == "__main__":
    unittest.main()
