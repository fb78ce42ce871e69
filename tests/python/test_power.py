"""Suspend blocking and screen-saver prevention, end to end."""
import ctypes
import threading
import unittest

import _Device
import _w32

WM_POWERBROADCAST_QUERY = 0x0000  # PBT_APMQUERYSUSPEND
PBT_APMRESUMESUSPEND = 0x0007
PBT_APMPOWERSTATUSCHANGE = 0x000A
BROADCAST_QUERY_DENY = 0x424D5144
DBT_DEVICEARRIVAL = 0x8000
ES_SYSTEM_REQUIRED = 0x1
ES_DISPLAY_REQUIRED = 0x2
SPI_GETBLOCKSENDINPUTRESETS = 0x1026
SPI_SETBLOCKSENDINPUTRESETS = 0x1027
INPUT_MOUSE = 0
MOUSEEVENTF_MOVE = 0x1

GET_LINE = u"Get WM_POWERBROADCAST\n"
BLOCK_LINE = u"Block Suspend.\n"

libw32 = ctypes.CDLL("libw32.so")  # the copy _w32 loaded, found by its soname


def blocks_send_input_resets():
    value = ctypes.c_int(-1)
    libw32.SystemParametersInfoW(SPI_GETBLOCKSENDINPUTRESETS, 0, ctypes.byref(value), 0)
    return value.value


def query_suspend():
    return _w32.BroadcastPowerEvent(WM_POWERBROADCAST_QUERY)


class SuspendBlocker(unittest.TestCase):
    def setUp(self):
        _w32.TakeDebugOutput()
        self.blocker = _Device.new_SuspendBlocker()

    def tearDown(self):
        _Device.delete_SuspendBlocker(self.blocker)
        _w32.TakeDebugOutput()

    def test_the_query_is_refused_while_locked(self):
        steps = [(None, BROADCAST_QUERY_DENY), (_Device.SuspendBlocker_UnLock, 1), (_Device.SuspendBlocker_UnLock, 1),
                 (_Device.SuspendBlocker_Lock, BROADCAST_QUERY_DENY)]
        for step, answer in steps:
            if step is not None:
                step(self.blocker)
            # One answer: the thread's wake window is message-only and gets no broadcast.
            self.assertEqual(query_suspend(), [answer])
            lines = [GET_LINE, BLOCK_LINE] if answer == BROADCAST_QUERY_DENY else [GET_LINE]
            self.assertEqual(_w32.TakeDebugOutput(), lines)

    def test_other_power_events_and_messages_get_the_default(self):
        for event in (PBT_APMRESUMESUSPEND, PBT_APMPOWERSTATUSCHANGE):
            self.assertEqual(_w32.BroadcastPowerEvent(event), [1])
            self.assertEqual(_w32.TakeDebugOutput(), [GET_LINE])
        self.assertEqual(_w32.BroadcastDeviceChange(DBT_DEVICEARRIVAL, 1 << 4, 1), [1])
        self.assertEqual(_w32.TakeDebugOutput(), [])

    def test_after_deletion_suspend_is_no_longer_refused(self):
        other = _Device.new_SuspendBlocker()
        _Device.delete_SuspendBlocker(other)
        _Device.SuspendBlocker_UnLock(self.blocker)
        self.assertEqual(query_suspend(), [1])

    def test_another_threads_blocker_answers_through_its_loop_even_late(self):
        made, pump, stop = threading.Event(), threading.Event(), threading.Event()
        box = []

        def owner():
            box.append(_Device.new_SuspendBlocker())
            made.set()
            pump.wait()
            while not stop.is_set():
                _w32.PumpMessages(50)
            _Device.delete_SuspendBlocker(box[0])

        _Device.SuspendBlocker_UnLock(self.blocker)
        worker = threading.Thread(target=owner)
        worker.start()
        made.wait()
        try:
            # The owner does not pump: the broadcast gives up on its window after
            # a few seconds, and the event still reaches it once it pumps.
            self.assertEqual(_w32.BroadcastPowerEvent(PBT_APMRESUMESUSPEND), [1])
            pump.set()
            self.assertEqual(query_suspend(), [1, BROADCAST_QUERY_DENY])
        finally:
            stop.set()
            worker.join()
        self.assertEqual(sorted(_w32.TakeDebugOutput()), [BLOCK_LINE] + [GET_LINE] * 4)


class PreventScreenSaver(unittest.TestCase):
    def tearDown(self):
        _w32.TakeSentInput()

    def test_the_requirements_hold_while_the_keeper_lives(self):
        libw32.SystemParametersInfoW(SPI_SETBLOCKSENDINPUTRESETS, 1, None, 0)
        keeper = _Device.new_PreventScreenSaver()
        self.assertEqual(_w32.ExecutionState(), ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED)
        self.assertEqual(blocks_send_input_resets(), 0)
        _Device.delete_PreventScreenSaver(keeper)
        self.assertEqual(_w32.ExecutionState(), 0)
        with self.assertRaises(ValueError):
            _Device.delete_PreventScreenSaver(keeper)

    def test_the_first_deletion_withdraws_the_requirements_of_the_thread(self):
        first, second = _Device.new_PreventScreenSaver(), _Device.new_PreventScreenSaver()
        _Device.delete_PreventScreenSaver(second)
        self.assertEqual(_w32.ExecutionState(), 0)
        _Device.delete_PreventScreenSaver(first)

    def test_only_the_latest_keeper_sends_input_and_only_while_its_thread_pumps(self):
        # Ten seconds: the platform's interval for the keeper's timer.
        _w32.TakeSentInput()
        first = _Device.new_PreventScreenSaver()
        second = _Device.new_PreventScreenSaver()
        try:
            self.assertEqual(_w32.TakeSentInput(), [])
            ticks = 0
            for _ in range(300):  # a bound against a hang, well past the two ticks
                ticks += _w32.PumpMessages(100)
                if ticks >= 2:
                    break
            # Both keepers' timers ticked once; the first keeper's tick sent nothing.
            self.assertEqual(ticks, 2)
            self.assertEqual(_w32.TakeSentInput(), [(INPUT_MOUSE, 0, 0, 0, MOUSEEVENTF_MOVE)])
        finally:
            _Device.delete_PreventScreenSaver(second)
            _Device.delete_PreventScreenSaver(first)


if __name__ == "__main__":
    unittest.main()
