"""The module's face: its 99 functions, argument counts, conversions at the boundary."""
import unittest

import _Device
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
        with self.assertRaisesRegex(TypeError, "GetUserLang"):
            _Device.GetUserLang(1)
        with self.assertRaisesRegex(TypeError, "keyword"):
            _Device.GetUserLang(x=1)
        with self.assertRaisesRegex(TypeError, "swigregister"):
            _Device.MMer_swigregister()
        with self.assertRaisesRegex(TypeError, "DectorCallback_WndProc"):
            _Device.DectorCallback_WndProc(None, 1, 2)

    def test_objects_of_another_class_are_refused_with_the_argument_message(self):
        other = _Device.new_RunningInstance(u"test_module_other_class")
        for function, message in [
                (_Device.Detector_GetCDROMType, "in method 'Detector_GetCDROMType', argument 1 of type 'Detector *'"),
                (_Device.MonitorFolder_AddFolder, "in method 'MonitorFolder_AddFolder', argument 1 of type 'MonitorFolder *'")]:
            with self.assertRaises(TypeError) as raised:
                function(other, 5)
            self.assertEqual(str(raised.exception), message)
        _Device.delete_RunningInstance(other)

    def test_arguments_convert_left_to_right_and_the_first_failure_wins(self):
        cases = [
            (_Device.MonitorFolder_AddFolder, (object(), 5), TypeError,
             "in method 'MonitorFolder_AddFolder', argument 1 of type 'MonitorFolder *'"),
            (_Device.CreateLink, (u"a", u"b", 3), TypeError, "Unicode string expected"),
            (_Device.GetLinkFile, (b"ascii",), TypeError, "Unicode string expected"),
            (_Device.GetSystemFolder, (2147483648,), TypeError, "in method 'GetSystemFolder', argument 1 of type 'INT'"),
            (_Device.Regsvr, (u"x.dll", None), TypeError, "in method 'Regsvr', argument 2 of type 'bool'"),
            (_Device.FreeLib, (3,), TypeError, "in method 'FreeLib', argument 1 of type 'void *'"),
            (_Device.DectorCallback_WndProc, (None, -1, 0, 0), OverflowError,
             "in method 'DectorCallback_WndProc', argument 2 of type 'UINT'"),
        ]
        for function, args, exception, message in cases:
            with self.assertRaises(exception) as raised:
                function(*args)
            self.assertEqual(str(raised.exception), message)


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
