"""Objects deleted from other threads, slow consumers: no use after free, no
lost notice."""
import random
import threading
import time
import unittest

import _Device
import _w32
from device_support import NEVER_SWITCH, get_switch_interval, set_switch_interval
from device_support import Recorder as CallRecorder

from monitor_harness import (HANG_GUARD_SECONDS, MonitorFolder, Recorder, TemporaryFolder, drain, pump_until, settle,
                             touch)


DBT_DEVICEARRIVAL = 0x8000
DBTF_MEDIA = 0x0001


def hold_the_interpreter_lock(seconds):
    """Runs Python without letting another thread in: a thread that waits for
    the lock meanwhile stays waiting."""
    end = time.time() + seconds
    while time.time() < end:
        pass


class OtherThreads(unittest.TestCase):
    def setUp(self):
        self.folder = TemporaryFolder()
        self.switch_interval = get_switch_interval()

    def tearDown(self):
        set_switch_interval(self.switch_interval)
        self.folder.remove()

    def test_a_monitor_deleted_while_its_owner_waits_to_call_python_is_never_called_again(self):
        owner_ready = threading.Event()
        stop = threading.Event()
        made = {}

        def owner():
            made["monitor"] = MonitorFolder(made["recorder"])
            made["monitor"].Start()
            made["monitor"].AddFolder(self.folder.path)
            owner_ready.set()
            while not stop.is_set():
                _w32.PumpMessages(50)

        made["recorder"] = Recorder()
        thread = threading.Thread(target=owner)
        thread.start()
        self.assertTrue(owner_ready.wait(HANG_GUARD_SECONDS))
        for i in range(300):
            touch(self.folder("f%03d" % i))
        # The owner dispatches a notice and waits for the lock, held here,
        # while the monitor is deleted and a new object of the same size takes
        # its memory.
        set_switch_interval(NEVER_SWITCH)
        hold_the_interpreter_lock(1.0)
        _Device.delete_MonitorFolder(made.pop("monitor"))
        newcomer = Recorder()
        successor = _Device.new_MonitorFolder(newcomer)
        delivered_at_deletion = len(made["recorder"].notices)
        set_switch_interval(self.switch_interval)
        time.sleep(0.5)
        stop.set()
        thread.join(HANG_GUARD_SECONDS)
        self.assertFalse(thread.is_alive())
        self.assertEqual(newcomer.notices, [])
        self.assertEqual(len(made["recorder"].notices), delivered_at_deletion)
        _Device.delete_MonitorFolder(successor)

    def test_a_keeper_deleted_from_another_thread_is_ended_by_its_own(self):
        # Its requirements are its thread's: they must go while that thread lives on.
        made = threading.Event()
        deleted = threading.Event()
        seen = {}

        def owner():
            seen["keeper"] = _Device.new_PreventScreenSaver()
            made.set()
            deleted.wait(HANG_GUARD_SECONDS)
            deadline = time.time() + 5
            while _w32.ExecutionState() != 0 and time.time() < deadline:
                _w32.PumpMessages(50)
            seen["state while the owner lives"] = _w32.ExecutionState()

        thread = threading.Thread(target=owner)
        thread.start()
        self.assertTrue(made.wait(HANG_GUARD_SECONDS))
        _Device.delete_PreventScreenSaver(seen.pop("keeper"))
        deleted.set()
        thread.join(HANG_GUARD_SECONDS)
        self.assertEqual(seen["state while the owner lives"], 0)

    def test_detectors_deleted_by_other_threads_while_their_owner_dispatches_are_never_called_again(self):
        # Each deleting thread has COM of its own, which a deletion must leave on.
        per_round, deleters = 12, 4
        for _ in range(3):
            made, deleted, names, ready, stop = [], [], [], threading.Event(), threading.Event()

            def owner():
                for _ in range(per_round):
                    made.append((_Device.new_Detector(), CallRecorder()))
                    _Device.Detector_SetCallback(*made[-1])
                ready.set()
                while not stop.is_set():
                    _w32.PumpMessages(20)

            def broadcaster():
                while not stop.is_set():
                    _w32.BroadcastDeviceChange(DBT_DEVICEARRIVAL, 1 << 4, DBTF_MEDIA)

            def deleter(first):
                _w32.CoInitialize()
                for detector, recorder in made[first::deleters]:
                    deadline = time.time() + HANG_GUARD_SECONDS
                    while not recorder.calls and time.time() < deadline:  # in the midst of the storm
                        time.sleep(0.001)
                    time.sleep(random.random() * 0.02)
                    _Device.delete_Detector(detector)
                    deleted.append((recorder, len(recorder.calls)))
                names.append(_Device.GetMyComputerName())
                _w32.CoUninitialize()

            threads = [threading.Thread(target=owner), threading.Thread(target=broadcaster)]
            threads[0].start()
            self.assertTrue(ready.wait(HANG_GUARD_SECONDS))
            removers = [threading.Thread(target=deleter, args=(i,)) for i in range(deleters)]
            for thread in threads[1:] + removers:
                thread.start()
            for thread in removers:
                thread.join(HANG_GUARD_SECONDS)
            time.sleep(0.3)  # the owner dispatches what was already on its way
            stop.set()
            for thread in threads:
                thread.join(HANG_GUARD_SECONDS)
            self.assertFalse(any(thread.is_alive() for thread in threads + removers))
            self.assertEqual([len(recorder.calls) for recorder, _ in deleted], [calls for _, calls in deleted])
            self.assertTrue(all(calls for _, calls in deleted), "the storm reached every callable")
            self.assertEqual(names, [u"Computer"] * deleters)

    def test_every_notice_arrives_once_and_in_order_however_late_the_loop_runs(self):
        files = 12000  # more than a thread's queue holds
        recorder = Recorder()
        monitor = MonitorFolder(recorder)
        monitor.Start()
        self.assertTrue(monitor.AddFolder(self.folder.path))
        settle(self.folder.path, recorder)
        del recorder.notices[:]
        names = [u"f%05d" % i for i in range(files)]
        for name in names:
            touch(self.folder(name))
        time.sleep(2)  # the worker has read and queued them all by now, unpumped
        added = lambda: [n[2] for n in recorder.notices if n[1] == u"Add"]
        self.assertTrue(pump_until(lambda: len(added()) >= files))
        drain(200)
        self.assertEqual(added(), names)
        monitor.Close()


if __name__ == "__main__":
    unittest.main()
