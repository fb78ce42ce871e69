"""A small tour of _Device doing real work on this machine."""
import sys

import _Device
import _w32


class RunningInstance(object):
    """The application's proxy class, as it wraps the module's functions."""
    __swig_destroy__ = _Device.delete_RunningInstance

    def __init__(self, name):
        self.this = _Device.new_RunningInstance(name)

    def IsAnotherInstanceRunning(self):
        return _Device.RunningInstance_IsAnotherInstanceRunning(self)

    def Close(self):
        _Device.RunningInstance_Close(self)

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


def single_instance():
    print "Single-instance detection"
    first = RunningInstance(u"Local\\OrvellineCalvettoDemo")
    print "  first instance sees another running:  %s" % first.IsAnotherInstanceRunning()
    second = RunningInstance(u"Local\\OrvellineCalvettoDemo")
    print "  second instance sees another running: %s" % second.IsAnotherInstanceRunning()
    first.Close()
    second.Close()


def protect_strings():
    print "Encode and decode with MMer and MMer2"
    text = "Orvelline Calvetto: 32 bytes ..."
    mmer = MMer()
    mmer.SetParam(("sixteen byte key", "and its vector.."))
    encoded = mmer.Encode(text)
    print "  MMer (AES-128-CBC):    %s" % encoded.encode("hex")
    print "  decoded:               %r" % mmer.Decode(encoded)
    mmer2 = MMer2()
    blob = mmer2.Encode(text)
    if blob is None:
        print "  MMer2: this machine has no identity (etc/machine-id), nothing protected"
        return
    print "  MMer2 (this machine):  %d-byte blob" % len(blob)
    print "  decoded:               %r" % mmer2.Decode(blob)
    print "  damaged blob decodes:  %r" % mmer2.Decode(blob[:-1] + chr(ord(blob[-1]) ^ 1))


def main():
    print "_Device: %d functions" % len([n for n in dir(_Device) if not n.startswith("__")])
    single_instance()
    protect_strings()
    output = _w32.TakeDebugOutput()
    if output:
        print "Debugger output:"
        for line in output:
            sys.stdout.write("  " + line.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
