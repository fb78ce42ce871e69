"""The proxy classes an application writes over _Device's function groups:
each keeps its wrapper under "this" and registers itself, so that dropping
the last reference deletes the native object."""
import _Device


class RunningInstance(object):
    __swig_destroy__ = _Device.delete_RunningInstance

    def __init__(self, name):
        self.this = _Device.new_RunningInstance(name)

    def IsAnotherInstanceRunning(self):
        return _Device.RunningInstance_IsAnotherInstanceRunning(self)

    def IsAnotherInstanceRunningOnOtherSession(self):
        return _Device.RunningInstance_IsAnotherInstanceRunningOnOtherSession(self)

    def Close(self):
        return _Device.RunningInstance_Close(self)

_Device.RunningInstance_swigregister(RunningInstance)


class MMer(object):
    __swig_destroy__ = _Device.delete_MMer

    def __init__(self):
        self.this = _Device.new_MMer()

    def SetParam(self, parameters):
        return _Device.MMer_SetParam(self, parameters)

    def Encode(self, data):
        return _Device.MMer_Encode(self, data)

    def Decode(self, data):
        return _Device.MMer_Decode(self, data)

_Device.MMer_swigregister(MMer)


class MMer2(object):
    __swig_destroy__ = _Device.delete_MMer2

    def __init__(self):
        self.this = _Device.new_MMer2()

    def Encode(self, data):
        return _Device.MMer2_Encode(self, data)

    def Decode(self, data):
        return _Device.MMer2_Decode(self, data)

_Device.MMer2_swigregister(MMer2)


class MonitorFolder(object):
    __swig_destroy__ = _Device.delete_MonitorFolder

    def __init__(self, callback):
        self.this = _Device.new_MonitorFolder(callback)

    def Start(self):
        return _Device.MonitorFolder_Start(self)

    def Close(self):
        return _Device.MonitorFolder_Close(self)

    def AddFolder(self, path):
        return _Device.MonitorFolder_AddFolder(self, path)

    def RemoveFolder(self, path):
        return _Device.MonitorFolder_RemoveFolder(self, path)

_Device.MonitorFolder_swigregister(MonitorFolder)


class Detector(object):
    __swig_destroy__ = _Device.delete_Detector

    def __init__(self):
        self.this = _Device.new_Detector()

    def GetCDROMType(self, drive):
        return _Device.Detector_GetCDROMType(self, drive)

    def GetDriveType(self, drive):
        return _Device.Detector_GetDriveType(self, drive)

    def GetDiscType(self, drive):
        return _Device.Detector_GetDiscType(self, drive)

    def GetDriveFriendlyName(self, drive):
        return _Device.Detector_GetDriveFriendlyName(self, drive)

    def GetDriveFactoryName(self, drive):
        return _Device.Detector_GetDriveFactoryName(self, drive)

    def ChangeDoorStatus(self, drive, open_door):
        return _Device.Detector_ChangeDoorStatus(self, drive, open_door)

    def SetCallback(self, callback):
        return _Device.Detector_SetCallback(self, callback)

    def DetectTwinViewMode(self):
        return _Device.Detector_DetectTwinViewMode(self)

    def GetVGASpecialCaps(self):
        return _Device.Detector_GetVGASpecialCaps(self)

    def GetVGASpecialSetting(self):
        return _Device.Detector_GetVGASpecialSetting(self)

    def SetVGASpecialSetting(self, setting):
        return _Device.Detector_SetVGASpecialSetting(self, setting)

    def GetVGADeviceIdentifier(self):
        return _Device.Detector_GetVGADeviceIdentifier(self)

    def IsInternetConnected(self):
        return _Device.Detector_IsInternetConnected(self)

    def WiaDevConnect(self):
        return _Device.Detector_WiaDevConnect(self)

    def EnumWIACameraDevice(self, index):
        return _Device.Detector_EnumWIACameraDevice(self, index)

    def GetSysManufacturer(self):
        return _Device.Detector_GetSysManufacturer(self)

_Device.Detector_swigregister(Detector)
