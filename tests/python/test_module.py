"""The module's face: its 99 functions, argument counts, conversions at the boundary."""
import unittest

import _Device
import _w32
import device_support  # noqa: F401 (assertRaisesRegex on Python 2)

TABLE = """
new_MMer delete_MMer MMer_SetParam MMer_Encode MMer_Decode MMer_swigregister
new_MMer2 delete_MMer2 MMer2_Encode MMer2_Decode MMer2_swigregister
new_PreventScreenSaver delete_PreventScreenSaver PreventScreenSaver_swigregister
new_SuspendBlocker delete_SuspendBlocker SuspendBlocker_Lock SuspendBlocker_UnLock SuspendBlocker_swigregister
new_RunningInstance delete_RunningInstance RunningInstance_IsAnotherInstanceRunning
RunningInstance_IsAnotherInstanceRunningOnOtherSession RunningInstance_Close RunningInstance_swigregister
new_MonitorFolder delete_MonitorFolder MonitorFolder_Start MonitorFolder_Close MonitorFolder_AddFolder
MonitorFolder_RemoveFolder MonitorFolder_swigregister
DectorCallback_WndProc new_DectorCallback delete_DectorCallback DectorCallback_swigregister
new_Detector delete_Detector Detector_GetCDROMType Detector_GetDriveType Detector_GetDiscType
Detector_GetDriveFriendlyName Detector_GetDriveFactoryName Detector_ChangeDoorStatus Detector_SetCallback
Detector_DetectTwinViewMode Detector_GetVGASpecialCaps Detector_GetVGASpecialSetting
Detector_SetVGASpecialSetting Detector_GetVGADeviceIdentifier Detector_IsInternetConnected
Detector_WiaDevConnect Detector_EnumWIACameraDevice Detector_GetSysManufacturer Detector_swigregister
GetUserLang GetSystemLang GetSystemCountryCode GetSystemFolder GetUserFolder GetAppFolder
GetCommonAppFolder GetProgramsFolder GetCommonProgramsFolder GetStartMenuFolder GetPictureFolder
GetMusicFolder GetDocumentFolder GetCommonDocumentFolder GetWindowsFolder GetVideoFolder
GetSharedPictureFolder GetSharedMusicFolder GetSampleMusicFolder GetSharedVideoFolder
GetLocalAppDataFolder GetArgvW GetLinkFile CreateLink CreateInternetShortcut GetMyComputerName
GetPathDisplayName GetLongPathName GetUserName GetAvailableDiskSpaceMB GetTotalMemorySize
GetLogicalCpuNumber GetDisplayAdapterNames IsIronLake getSystemLocales Regsvr LoadLib FreeLib
RegisterCancelAutoplay UnregisterCancelAutoplay ListFile ListFolder RemoveFile OpenExplorer
""".split()


class FunctionTable(unittest.TestCase):
    def test_exactly_the_99_functions_without_doc_strings(self):
        self.assertEqual(len(TABLE), 99)
        own = sorted(n for n in vars(_Device) if not (n.startswith("__") and n.endswith("__")))  # the host's own
        self.assertEqual(own, sorted(TABLE))
        for name in TABLE:
            self.assertIsNone(getattr(_Device, name).__doc__, name)
        self.assertIsNone(_Device.__doc__)

    def test_counts_and_keywords_are_refused_by_the_host(self):
        for call, text in [(lambda: _Device.GetUserLang(1), "GetUserLang"), (lambda: _Device.GetUserLang(x=1), "keyword"),
                           (_Device.MMer_swigregister, "swigregister"), (lambda: _Device.new_SuspendBlocker(1), "new_"),
                           (lambda: _Device.DectorCallback_WndProc(None, 1, 2), "DectorCallback_WndProc")]:
            with self.assertRaisesRegex(TypeError, text):
                call()

    def test_the_first_refused_argument_gives_the_message(self):
        other = _Device.new_RunningInstance(u"test_module_other_class")
        deleted = _Device.new_RunningInstance(u"test_module_deleted")
        _Device.delete_RunningInstance(deleted)
        holder = type("Holder", (object,), {})()
        holder.this = other
        keeper = _Device.new_PreventScreenSaver()
        cases = [
            (_Device.Detector_GetCDROMType, (other, 5), TypeError,
             "in method 'Detector_GetCDROMType', argument 1 of type 'Detector *'"),
            (_Device.MonitorFolder_AddFolder, (other, 5), TypeError,
             "in method 'MonitorFolder_AddFolder', argument 1 of type 'MonitorFolder *'"),
            (_Device.MMer_Encode, (holder, "x"), TypeError, "in method 'MMer_Encode', argument 1 of type 'MMer *'"),
            (_Device.SuspendBlocker_Lock, (keeper,), TypeError,
             "in method 'SuspendBlocker_Lock', argument 1 of type 'SuspendBlocker *'"),
            (_Device.SuspendBlocker_UnLock, (5,), TypeError,
             "in method 'SuspendBlocker_UnLock', argument 1 of type 'SuspendBlocker *'"),
            (_Device.MonitorFolder_AddFolder, (object(), 5), TypeError,
             "in method 'MonitorFolder_AddFolder', argument 1 of type 'MonitorFolder *'"),
            (_Device.RunningInstance_Close, (deleted,), ValueError,
             "in method 'RunningInstance_Close', argument 1 of type 'RunningInstance *' refers to a deleted object"),
            (_Device.RunningInstance_IsAnotherInstanceRunning, (None,), ValueError,
             "in method 'RunningInstance_IsAnotherInstanceRunning', argument 1 of type 'RunningInstance *' is None"),
            (_Device.CreateLink, (u"a", u"b", 3), TypeError, "Unicode string expected"),
            (_Device.GetLinkFile, (b"ascii",), TypeError, "Unicode string expected"),
            (_Device.GetSystemFolder, (2147483648,), TypeError,
             "in method 'GetSystemFolder', argument 1 of type 'INT'"),
            (_Device.Regsvr, (u"x.dll", None), TypeError, "in method 'Regsvr', argument 2 of type 'bool'"),
            (_Device.FreeLib, (3,), TypeError, "in method 'FreeLib', argument 1 of type 'void *'"),
            (_Device.DectorCallback_WndProc, (None, -1, 0, 0), OverflowError,
             "in method 'DectorCallback_WndProc', argument 2 of type 'UINT'"),
            # The host loop's own checks.
            (_w32.PumpMessages, (-1,), OverflowError, None),
            (_w32.PumpMessages, (1 << 32,), OverflowError, None),
            (_w32.PumpMessages, ("10",), TypeError, None),
            (_w32.PumpMessages, (1, 2), TypeError, None),
            (_w32.PostQuitMessage, ("x",), TypeError, None),
            (_w32.BroadcastDeviceChange, (0x8000, 1), TypeError, None),
            (_w32.BroadcastDeviceChange, (0x8000, 1, 0x10000), OverflowError, None),
            (_w32.BroadcastDeviceChange, (-1, 1, 0), OverflowError, None),
            (_w32.BroadcastPowerEvent, (), TypeError, None),
            (_w32.BroadcastPowerEvent, (None,), TypeError, None),
            (_w32.BroadcastPowerEvent, (1 << 40,), OverflowError, None),
        ]
        for function, args, exception, message in cases:
            with self.assertRaises(exception) as raised:
                function(*args)
            if message is not None:
                self.assertEqual(str(raised.exception), message)
        _Device.delete_RunningInstance(other)
        _Device.delete_PreventScreenSaver(keeper)


class WindowsErrorShape(unittest.TestCase):
    def test_error_160_looks_as_on_the_windows_host(self):
        error = WindowsError(160, "One or more arguments are not correct")
        self.assertTrue(isinstance(error, OSError))
        self.assertEqual((error.winerror, error.errno), (160, 22))
        self.assertEqual(error.strerror, "One or more arguments are not correct")
        self.assertEqual(str(error), "[Error 160] One or more arguments are not correct")
        import pickle
        again = pickle.loads(pickle.dumps(error))
        self.assertEqual((type(again), again.winerror, str(again)), (type(error), 160, str(error)))


if __name__ == "__main__":
    unittest.main()
