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


def single_instance():
    print "Single-instance detection"
    first = RunningInstance(u"Local\\OrvellineCalvettoDemo")
    print "  first instance sees another running:  %s" % first.IsAnotherInstanceRunning()
    second = RunningInstance(u"Local\\OrvellineCalvettoDemo")
    print "  second instance sees another running: %s" % second.IsAnotherInstanceRunning()
    first.Close()
    second.Close()


def main():
    print "_Device: %d functions" % len([n for n in dir(_Device) if not n.startswith("__")])
    single_instance()
    output = _w32.TakeDebugOutput()
    if output:
        print "Debugger output:"
        for line in output:
            sys.stdout.write("  " + line.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
