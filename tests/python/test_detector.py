"""Detector: the component loader's paths, every answer and fallback of the
queries through a component whose answers the test scripts, and the
device-change events of the real system."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from device_support import Recorder, long, module_file, text_type


def _module_folder():
    """A folder of the test's own holding the module (through links), so that
    the settings file beside it is the test's to write."""
    folder = tempfile.mkdtemp(prefix="detector-module-")
    lib = os.path.dirname(module_file("_Device"))
    for name in ("_Device.so", "_w32.so", "Device.libs"):
        os.symlink(os.path.join(lib, name), os.path.join(folder, name))
    with open(os.path.join(folder, "trace_on.reg"), "w") as reg:
        reg.write("Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillomat\\Orvelline Calvetto\\5.5]\n"
                  "\"trace\"=dword:00000001\n")
    os.environ["W32_REGISTRY"] = os.path.join(folder, "trace_on.reg")  # read as the library loads
    sys.path.insert(0, folder)
    return folder, lib


MODULE_FOLDER, BUILD_LIB = _module_folder()

import _Device  # noqa: E402
import _w32  # noqa: E402


def _test_component(name):
    for entry in sys.path + [BUILD_LIB]:
        path = os.path.join(entry, "test_components", name)
        if os.path.exists(path):
            return path
    raise unittest.SkipTest("the test components are not built")


E_FAIL = 0x80004005
DBT_DEVICEARRIVAL = 0x8000
DBTF_MEDIA = 0x0001


class ScriptedComponent(object):
    """A fresh copy of the test component beside the module, named in
    DllPath.ini, with its script and its log."""
    serial = 0

    def __init__(self, script="", library="detector_test_component.so", ini=None):
        ScriptedComponent.serial += 1
        self.file_name = "component%d.so" % ScriptedComponent.serial
        shutil.copy(_test_component(library), os.path.join(MODULE_FOLDER, self.file_name))
        self.script = os.path.join(MODULE_FOLDER, "script%d" % self.serial)
        self.log = os.path.join(MODULE_FOLDER, "log%d" % self.serial)
        with open(self.script, "w") as out:
            out.write(script)
        open(self.log, "w").close()
        os.environ["DETECTOR_TEST_SCRIPT"] = self.script
        os.environ["DETECTOR_TEST_LOG"] = self.log
        write_ini("[Path]\nQXDeviceDetector.dll=%s\n" % self.file_name if ini is None else ini)

    def lines(self):
        with open(self.log) as log:
            return log.read().splitlines()


FIFO = "a FIFO in place of the file"


def write_ini(text, folder=MODULE_FOLDER):
    path = os.path.join(folder, "DllPath.ini")
    if os.path.lexists(path):
        os.remove(path)
    if text is None:
        return
    if text is FIFO:
        os.mkfifo(path)
        return
    with open(path, "wb") as out:
        out.write(text if isinstance(text, bytes) else text.encode("utf-8"))


class Loader(unittest.TestCase):
    """Every way the component may fail to load leaves a Detector with the fallback answers."""

    def assert_fallbacks(self, detector):
        D = _Device
        self.assertEqual(D.Detector_GetCDROMType(detector, 4), u"DRIVE UNKNOWN")
        self.assertEqual(D.Detector_GetDiscType(detector, 4), u"DISC UNKNOWN")
        self.assertEqual(D.Detector_GetDriveFactoryName(detector, 4), u"DISC UNKNOWN")
        self.assertEqual(D.Detector_ChangeDoorStatus(detector, 4, True), 0)
        self.assertEqual([D.Detector_DetectTwinViewMode(detector), D.Detector_GetVGASpecialCaps(detector),
                          D.Detector_GetVGASpecialSetting(detector), D.Detector_SetVGASpecialSetting(detector, 1)],
                         [0, 0, 0, 0])
        self.assertEqual(D.Detector_GetVGADeviceIdentifier(detector), (0, 0))
        self.assertEqual(D.Detector_EnumWIACameraDevice(detector, 3), u"")

    def test_missing_or_broken_components_give_fallbacks(self):
        not_a_library = os.path.join(MODULE_FOLDER, "text.so")
        with open(not_a_library, "w") as out:
            out.write("not a library")
        os.mkfifo(os.path.join(MODULE_FOLDER, "fifo.so"))
        unloaded = ["DllCanUnloadNow", "unloaded"]
        no_class_object = "detector_test_component_no_class_object.so"
        cases = [  # (what, settings, library, script, log)
            ("no settings file", None, None, "", None),
            ("no key", "[Path]\nOther.dll=x.so\n", None, "", None),
            ("a missing file", "[Path]\nQXDeviceDetector.dll=missing.so\n", None, "", None),
            ("garbage settings", b"\xff\xfe\x00[Pa\x00\n==\xc3(", None, "", None),
            ("no library", "[Path]\nQXDeviceDetector.dll=text.so\n", None, "", None),
            ("a FIFO for the settings file", FIFO, None, "", None),  # neither waits for a writer
            ("a FIFO for the component", "[Path]\nQXDeviceDetector.dll=fifo.so\n", None, "", None),
            ("no DllGetClassObject, unloading allowed", None, no_class_object, "", unloaded),
            ("no DllGetClassObject, unloading refused", None, no_class_object, "DllCanUnloadNow 1\n",
             ["DllCanUnloadNow"]),
            ("the class object fails", None, None, "DllGetClassObject 0x80040111\n", ["DllGetClassObject"] + unloaded),
            ("the class object fails, handing out a factory", None, None, "DllGetClassObject 0x80040111 factory\n",
             ["DllGetClassObject"] + unloaded),
        ]
        for what, ini, library, script, log in cases:
            component = ScriptedComponent(script, library or "detector_test_component.so")
            if log is None:
                write_ini(ini)
            detector = _Device.new_Detector()
            self.assert_fallbacks(detector)
            _Device.delete_Detector(detector)
            if log is not None:
                self.assertEqual(component.lines(), log, what)

    def test_a_module_path_that_does_not_fit_loads_nothing_from_anywhere_else(self):
        # Too long: the module's own path; the settings path; the component's path.
        # The current folder and its parent hold a settings file and a component.
        root = tempfile.mkdtemp(prefix="detector-long-")
        self.addCleanup(shutil.rmtree, root)
        here = os.path.join(root, "work", "here")
        os.makedirs(here)
        for folder in (here, os.path.dirname(here)):
            shutil.copy(_test_component("detector_test_component.so"), os.path.join(folder, "evil.so"))
            write_ini("[Path]\nQXDeviceDetector.dll=evil.so\n", folder)
        env = dict(os.environ, DETECTOR_TEST_LOG=os.path.join(root, "log"), DETECTOR_TEST_SCRIPT=os.devnull)
        for length, component in ((280, "c.so"), (246, "c.so"), (240, "a-component-named-at-length.so")):
            folder = root
            while length - len(folder) > 100:
                folder += "/" + "m" * 99
            folder += "/" + "m" * (length - len(folder) - 1)
            os.makedirs(folder)
            for name in ("_Device.so", "_w32.so", "libw32.so"):
                os.symlink(os.path.join(MODULE_FOLDER, name), os.path.join(folder, name))
            shutil.copy(_test_component("detector_test_component.so"), os.path.join(folder, component))
            write_ini("[Path]\nQXDeviceDetector.dll=%s\n" % component, folder)
            code = ("import sys; sys.path.insert(0, %r); import _Device; d = _Device.new_Detector(); "
                    "print(_Device.Detector_GetDiscType(d, 4)); print('evil.so' in open('/proc/self/maps').read()); "
                    "_Device.delete_Detector(d)" % folder)
            output = subprocess.check_output([sys.executable, "-c", code], cwd=here, env=env)
            self.assertEqual(output.split(), [b"DISC", b"UNKNOWN", b"False"], length)
            self.assertFalse(os.path.exists(env["DETECTOR_TEST_LOG"]), length)
            shutil.rmtree(os.path.join(root, "m" * 99))

    def test_settings_file_forms(self):
        lines = (u"; lines before any section carry nothing\r\nQXDeviceDetector.dll=missing.so\r\n[ path ]\r\n"
                 u"  qxdevicedetector.DLL =  \"%s\"  \r\nQXDeviceDetector.dll=missing.so\r\n")
        for bom, encoding in ((b"", "utf-8"), (b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le")):
            component = ScriptedComponent()
            write_ini(bom + (lines % component.file_name).encode(encoding))
            _Device.delete_Detector(_Device.new_Detector())
            self.assertEqual(component.lines()[:2], ["DllGetClassObject", "Attach callback"], encoding)

    def test_a_component_is_attached_detached_released_and_unloaded_when_it_allows(self):
        for refuse, tail in ((False, ["DllCanUnloadNow", "unloaded"]), (True, ["DllCanUnloadNow"])):
            component = ScriptedComponent("DllCanUnloadNow 1\n" if refuse else "")
            detector = _Device.new_Detector()
            self.assertEqual(component.lines(), ["DllGetClassObject", "Attach callback"])
            _Device.delete_Detector(detector)
            self.assertEqual(component.lines()[2:], ["Detach", "Release"] + tail)

    def test_a_component_without_cpp_type_information_is_called_like_any_other(self):
        # COM is a C ABI: a component written in C or by another compiler carries none of ours.
        component = ScriptedComponent("GetDiscType 0 6\n", "detector_test_component_no_rtti.so")
        detector = _Device.new_Detector()
        self.assertEqual(_Device.Detector_GetDiscType(detector, 4), u"DISC DVD_VIDEO")
        _Device.delete_Detector(detector)
        self.assertEqual(component.lines(), ["DllGetClassObject", "Attach callback", "GetDiscType drive=4 preset=0",
                                             "Detach", "Release", "DllCanUnloadNow", "unloaded"])

    def test_two_detectors_hold_their_own_objects(self):
        component = ScriptedComponent("GetDiscType 0 6\n")
        first, second = _Device.new_Detector(), _Device.new_Detector()
        _Device.delete_Detector(first)
        self.assertEqual(_Device.Detector_GetDiscType(second, 4), u"DISC DVD_VIDEO")
        _Device.delete_Detector(second)
        self.assertEqual(component.lines().count("Release"), 2)


class Answers(unittest.TestCase):
    """Each query's answer for what the component does, with the values it was given."""

    def ask(self, script, call):
        component = ScriptedComponent(script)
        detector = _Device.new_Detector()
        _w32.TakeDebugOutput()
        try:
            return call(detector), component.lines()[2:], _w32.TakeDebugOutput()
        finally:
            _Device.delete_Detector(detector)

    def test_kinds_and_names(self):
        D = _Device
        cdrom = lambda d: D.Detector_GetCDROMType(d, 4)
        disc = lambda d: D.Detector_GetDiscType(d, 4)
        factory = lambda d: D.Detector_GetDriveFactoryName(d, 4)
        cases = [
            (cdrom, "GetCDROMType 0 3", u"DRIVE CD_RW", "GetCDROMType drive=4 preset=1"),
            (cdrom, "GetCDROMType 0 6", u"DRIVE DVD_RAM", None),
            (cdrom, "GetCDROMType 0 -", u"DRIVE CDROM", None),  # succeeded without writing
            (cdrom, "GetCDROMType 0 7", u"DRIVE UNKNOWN", None),
            (cdrom, "GetCDROMType 0x80004005 2", u"DRIVE UNKNOWN", None),
            (disc, "GetDiscType 0 1", u"DISC AUDIOCD", "GetDiscType drive=4 preset=0"),
            (disc, "GetDiscType 0 2", u"DISC VCD10", None),
            (disc, "GetDiscType 0 3", u"DISC VCD11", None),
            (disc, "GetDiscType 0 4", u"DISC VCD20", None),
            (disc, "GetDiscType 0 5", u"DISC SVCD", None),
            (disc, "GetDiscType 0 6", u"DISC DVD_VIDEO", None),
            (disc, "GetDiscType 0 7", u"DISC DVD_VR", None),
            (disc, "GetDiscType 0 8", u"DISC DATA", None),
            (disc, "GetDiscType 0 9", u"DISC EMPTY", None),
            (disc, "GetDiscType 0 10", u"DISC DVD_AUDIO", None),
            (disc, "GetDiscType 1 11", u"DISC UNKNOWN", None),
            (disc, "GetDiscType 0x80004005 6", u"DISC UNKNOWN", None),
            (factory, "GetDriveFactoryName 0 text:PLEXTOR", u"PLEXTOR", "GetDriveFactoryName drive=4 preset=empty"),
            (factory, "GetDriveFactoryName 0 -", u"", None),
            (factory, "GetDriveFactoryName 0 fill:260", u"F" * 260, None),  # no terminator: bounded
            (factory, "GetDriveFactoryName 0x80004005 text:X", u"DISC UNKNOWN", None),
        ]
        for call, script, answer, received in cases:
            result, lines, _ = self.ask(script + "\n", call)
            self.assertEqual(result, answer, script)
            self.assertIs(type(result), text_type)
            if received:
                self.assertEqual(lines[0], received)

    def test_check_disc_format_is_traced_for_every_successful_disc_query(self):
        for script, traced in (("GetDiscType 0 6", True), ("GetDiscType 0 42", True),
                               ("GetDiscType 0x80004005 6", False)):
            _, _, output = self.ask(script + "\n", lambda d: _Device.Detector_GetDiscType(d, 4))
            self.assertEqual(u"CheckDiscFormat\n" in u"".join(output), traced, script)

    def test_display_values_at_the_int_and_long_boundary(self):
        D = _Device
        cases = [
            (D.Detector_DetectTwinViewMode, "DetectTwinViewMode 0 5", 5),
            (D.Detector_DetectTwinViewMode, "DetectTwinViewMode 0x80004005 7", 7),  # used whatever the result
            (D.Detector_GetVGASpecialCaps, "GetVGASpecialCaps 0 0x7fffffff", 0x7FFFFFFF),
            (D.Detector_GetVGASpecialCaps, "GetVGASpecialCaps 0 0x80000000", long(0x80000000)),
            (D.Detector_GetVGASpecialSetting, "GetVGASpecialSetting 0 0xffffffff", long(0xFFFFFFFF)),
            (D.Detector_GetVGASpecialSetting, "GetVGASpecialSetting 0x80004005 -", 0),
        ]
        for call, script, answer in cases:
            result, lines, _ = self.ask(script + "\n", call)
            self.assertEqual(result, answer, script)
            self.assertIs(type(result), type(answer), script)
            self.assertTrue(lines[0].endswith("preset=0"), lines)

    def test_settings_identifiers_and_cameras(self):
        D = _Device
        cases = [
            (lambda d: D.Detector_SetVGASpecialSetting(d, 0xFFFFFFFF), "SetVGASpecialSetting 0", 1,
             "SetVGASpecialSetting value=4294967295"),
            (lambda d: D.Detector_SetVGASpecialSetting(d, 2), "SetVGASpecialSetting 1", 1, None),
            (lambda d: D.Detector_SetVGASpecialSetting(d, 2), "SetVGASpecialSetting 0x80004005", 0, None),
            (D.Detector_GetVGADeviceIdentifier, "GetVGADeviceIdentifier 0 0x10de 0x1c82", (0x10DE, 0x1C82),
             "GetVGADeviceIdentifier preset=0,0"),
            (D.Detector_GetVGADeviceIdentifier, "GetVGADeviceIdentifier 0x80004005 -", (0, 0), None),
            (D.Detector_GetVGADeviceIdentifier, "GetVGADeviceIdentifier 0 0xffffffff 1", (-1, 1), None),
            (lambda d: D.Detector_EnumWIACameraDevice(d, 7), "EnumWIACameraDevice 0 text:Cam", u"Cam",
             "EnumWIACameraDevice index=0 preset=null"),
            (lambda d: D.Detector_EnumWIACameraDevice(d, -1), "EnumWIACameraDevice 0x80004005 text:Cam", u"Cam", None),
            (lambda d: D.Detector_EnumWIACameraDevice(d, 0), "EnumWIACameraDevice 0 null", u"", None),
            (lambda d: D.Detector_EnumWIACameraDevice(d, 0), "EnumWIACameraDevice 0 long:1000", u"W" * 260, None),
        ]
        for call, script, answer, received in cases:
            result, lines, _ = self.ask(script + "\n", call)
            self.assertEqual(result, answer, script)
            if received:
                self.assertEqual(lines[0], received)

    def test_the_door_is_asked_for_its_status_then_moved(self):
        for script, open_flag, command in (("", True, 1), ("", False, 2),
                                           ("QueryDriveStatus 0\nChangeDoorStatus 0\n", True, 1)):
            result, lines, _ = self.ask(script, lambda d: _Device.Detector_ChangeDoorStatus(d, 3, open_flag))
            self.assertEqual(result, 1)
            self.assertEqual(lines[:2], ["QueryDriveStatus drive=3 preset=0,0",
                                         "ChangeDoorStatus drive=3 command=%d" % command])

    def test_wia_connections_are_traced(self):
        result, _, output = self.ask("", _Device.Detector_WiaDevConnect)
        self.assertIsNone(result)
        self.assertEqual(output, [u">>>>>WiaDevConnect", u"\n"])
        ScriptedComponent("WiaDevConnect 0\n")  # the component calls back as it is attached
        _w32.TakeDebugOutput()
        _Device.delete_Detector(_Device.new_Detector())
        self.assertIn(u">>>>>WiaDevConnect", _w32.TakeDebugOutput())


class PlatformAnswers(unittest.TestCase):
    """What the Detector asks the platform itself, without the component."""

    def setUp(self):
        write_ini(None)
        self.detector = _Device.new_Detector()

    def tearDown(self):
        _Device.delete_Detector(self.detector)

    def test_drives_without_a_component(self):
        D = _Device
        self.assertEqual(D.Detector_GetDriveType(self.detector, 2), u"DRIVE FIXED")
        self.assertEqual(D.Detector_GetDriveFriendlyName(self.detector, 2)[-5:], u" (C:)")
        for index in (1, 25, 26, 255):
            self.assertEqual(D.Detector_GetDriveType(self.detector, index), u"DRIVE UNKNOWN")
            self.assertEqual(D.Detector_GetDriveFriendlyName(self.detector, index), u"%c:\\" % (65 + index))

    def test_connection_state_from_the_routes(self):
        root = tempfile.mkdtemp(prefix="detector-machine-")
        os.makedirs(os.path.join(root, "proc", "net"))
        os.makedirs(os.path.join(root, "sys", "class", "net", "eth0"))
        with open(os.path.join(root, "sys", "class", "net", "eth0", "flags"), "w") as out:
            out.write("0x1003\n")
        route = os.path.join(root, "proc", "net", "route")
        os.environ["W32_SYSROOT"] = root
        try:
            self.assertEqual(_Device.Detector_IsInternetConnected(self.detector), 0)
            with open(route, "w") as out:
                out.write("Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n"
                          "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n")
            self.assertEqual(_Device.Detector_IsInternetConnected(self.detector), 1)
        finally:
            del os.environ["W32_SYSROOT"]
            shutil.rmtree(root)


    def test_the_maker_from_dmi_or_none(self):
        root = tempfile.mkdtemp(prefix="detector-machine-")
        os.environ["W32_SYSROOT"] = root
        try:
            _w32.TakeDebugOutput()
            self.assertIsNone(_Device.Detector_GetSysManufacturer(self.detector))
            self.assertEqual(_w32.TakeDebugOutput(), [u"Detector::GetSysManufacturer() Enter", u"\n"])
            dmi = os.path.join(root, "sys", "class", "dmi", "id")
            os.makedirs(dmi)
            # The chassis vendor unless blank, else the system vendor.
            for name, value, maker in (("sys_vendor", b"Quillomat \xc3\x9cber\n", u"Quillomat \xdcber"),
                                       ("chassis_vendor", b"  \n", u"Quillomat \xdcber"),
                                       ("chassis_vendor", b"Chassis Maker\n", u"Chassis Maker")):
                with open(os.path.join(dmi, name), "wb") as out:
                    out.write(value)
                self.assertEqual(_Device.Detector_GetSysManufacturer(self.detector), maker)
                self.assertEqual(_w32.TakeDebugOutput()[2:],
                                 [u"Detector::GetSysManufacturer() SysManufacturer=" + maker, u"\n"])
        finally:
            del os.environ["W32_SYSROOT"]
            shutil.rmtree(root)


class Events(unittest.TestCase):
    def test_a_late_pump_after_the_broadcast_timed_out_reads_the_record(self):
        write_ini(None)
        recorder, made, ready = Recorder(), threading.Event(), threading.Event()

        def owner():
            detector = _Device.new_Detector()
            _Device.Detector_SetCallback(detector, recorder)
            made.set()
            ready.wait(30)  # past the broadcast's wait for this thread
            _w32.PumpMessages(100)
            _Device.delete_Detector(detector)

        thread = threading.Thread(target=owner)
        thread.start()
        made.wait(10)
        started = time.time()
        _w32.BroadcastDeviceChange(DBT_DEVICEARRIVAL, 1 << 4, DBTF_MEDIA)
        self.assertGreaterEqual(time.time() - started, 4.5)
        ready.set()
        thread.join(30)
        self.assertEqual(recorder.calls, [(b"DISC_CHANGE", b"ARRIVE", b"E")])

    def test_a_mount_and_an_unmount_in_a_private_mount_namespace(self):
        if os.geteuid() != 0 or subprocess.call(["unshare", "-m", "true"], stderr=open(os.devnull, "w")) != 0:
            self.skipTest("no private mount namespace here")
        code = r"""
import os, subprocess, sys, time
sys.path.insert(0, %r)
import _Device, _w32
calls = []
detector = _Device.new_Detector()
_Device.Detector_SetCallback(detector, lambda *a: calls.append(a))
def pump_until(count):
    deadline = time.time() + 10
    while len(calls) < count and time.time() < deadline:
        _w32.PumpMessages(100)
subprocess.check_call(["mount", "-t", "tmpfs", "-o", "size=1m", "media", "/media"])
os.mkdir("/media/KEY")
_w32.PumpMessages(200)
subprocess.check_call(["mount", "-t", "tmpfs", "-o", "size=1m", "key", "/media/KEY"])
pump_until(1)
subprocess.check_call(["umount", "/media/KEY"])
pump_until(2)
_w32.PumpMessages(300)
print(repr(calls))
_Device.delete_Detector(detector)
""" % MODULE_FOLDER
        write_ini(None)
        drives = tempfile.mkdtemp(prefix="detector-drives-")  # the letters it remembers
        try:
            output = subprocess.check_output(["unshare", "-m", "--propagation", "private", sys.executable, "-c", code],
                                             env=dict(os.environ, W32_DRIVES=drives))
        finally:
            shutil.rmtree(drives)
        calls = eval(output.strip().splitlines()[-1])
        self.assertEqual(len(calls), 2, calls)
        self.assertEqual([call[:2] for call in calls], [(b"DRIVE_CHANGE", b"ARRIVE"), (b"DRIVE_CHANGE", b"REMOVE")])
        self.assertEqual(calls[0][2], calls[1][2])
        self.assertTrue(b"D" <= calls[0][2] <= b"Z")


def tearDownModule():
    shutil.rmtree(MODULE_FOLDER, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
