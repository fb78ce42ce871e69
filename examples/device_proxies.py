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
