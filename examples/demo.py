"""A small tour of _Device doing real work on this machine."""
import sys
import threading
import time

import _Device
import _w32

PBT_APMQUERYSUSPEND = 0
BROADCAST_QUERY_DENY = 0x424D5144


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


def ask_to_suspend():
    """The system's suspend query, from another thread, answered through this thread's loop."""
    answers = []
    asking = threading.Thread(target=lambda: answers.extend(_w32.BroadcastPowerEvent(PBT_APMQUERYSUSPEND)))
    asking.start()
    while asking.is_alive():
        _w32.PumpMessages(50)
    asking.join()
    return "refused" if BROADCAST_QUERY_DENY in answers else "granted"


def suspend_blocker():
    print "Suspend blocking"
    blocker = _Device.new_SuspendBlocker()
    print "  suspend query while the blocker is locked:   %s" % ask_to_suspend()
    _Device.SuspendBlocker_UnLock(blocker)
    print "  suspend query after UnLock:                  %s" % ask_to_suspend()
    _Device.delete_SuspendBlocker(blocker)


def screen_saver_timer():
    print "Screen-saver prevention: the keeper's timer, reached through the message loop"
    _w32.TakeSentInput()
    keeper = _Device.new_PreventScreenSaver()
    print "  execution state held: 0x%x (system and display required)" % _w32.ExecutionState()
    print "  pumping messages until the keeper's 10-second timer ticks..."
    started = time.time()
    sent = []
    while not sent and time.time() - started < 30:
        _w32.PumpMessages(500)
        sent = _w32.TakeSentInput()
    print "  after %.1f s the timer routine sent %d simulated mouse movement(s): %r" % (
        time.time() - started, len(sent), sent)
    _Device.delete_PreventScreenSaver(keeper)
    print "  execution state after deletion: 0x%x" % _w32.ExecutionState()


def main():
    print "_Device: %d functions" % len([n for n in dir(_Device) if not n.startswith("__")])
    single_instance()
    suspend_blocker()
    screen_saver_timer()
    output = _w32.TakeDebugOutput()
    if output:
        print "Debugger output:"
        for line in output:
            sys.stdout.write("  " + line.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
