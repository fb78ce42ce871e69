"""Suspend blocking and screen-saver prevention, end to end."""
import ctypes
import os
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

libw32 = ctypes.CDLL(os.path.join(os.path.dirname(_w32.__file__), "libw32.so"))


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

    def test_a_new_blocker_refuses_the_suspend_query(self):
        self.assertIn(BROADCAST_QUERY_DENY, query_suspend())
        self.assertEqual(_w32.TakeDebugOutput(), [GET_LINE, BLOCK_LINE])

    def test_unlock_grants_and_lock_refuses_again(self):
        for step, answer in [(_Device.SuspendBlocker_UnLock, 1), (_Device.SuspendBlocker_UnLock, 1),
                             (_Device.SuspendBlocker_Lock, BROADCAST_QUERY_DENY)]:
            step(self.blocker)
            answers = query_suspend()
            self.assertIn(answer, answers)
            if answer == 1:
                self.assertNotIn(BROADCAST_QUERY_DENY, answers)
                self.assertEqual(_w32.TakeDebugOutput(), [GET_LINE])
            else:
                self.assertEqual(_w32.TakeDebugOutput(), [GET_LINE, BLOCK_LINE])

    def test_other_power_events_and_messages_get_the_default(self):
        for event in (PBT_APMRESUMESUSPEND, PBT_APMPOWERSTATUSCHANGE):
            self.assertNotIn(BROADCAST_QUERY_DENY, _w32.BroadcastPowerEvent(event))
            self.assertEqual(_w32.TakeDebugOutput(), [GET_LINE])
        self.assertIn(1, _w32.BroadcastDeviceChange(DBT_DEVICEARRIVAL, 1 << 4, 1))
        self.assertEqual(_w32.TakeDebugOutput(), [])

    def test_after_deletion_suspend_is_no_longer_refused(self):
        other = _Device.new_SuspendBlocker()
        _Device.delete_SuspendBlocker(other)
        _Device.SuspendBlocker_UnLock(self.blocker)
        self.assertNotIn(BROADCAST_QUERY_DENY, query_suspend())
        with self.assertRaises(ValueError):
            _Device.SuspendBlocker_Lock(other)

    def test_the_query_is_answered_by_the_loop_of_the_creating_thread(self):
        made = threading.Event()
        stop = threading.Event()
        box = []

        def owner():
            box.append(_Device.new_SuspendBlocker())
            made.set()
            while not stop.is_set():
                _w32.PumpMessages(50)
            _Device.delete_SuspendBlocker(box[0])

        _Device.SuspendBlocker_UnLock(self.blocker)
        worker = threading.Thread(target=owner)
        worker.start()
        made.wait()
        try:
            self.assertIn(BROADCAST_QUERY_DENY, query_suspend())
        finally:
            stop.set()
            worker.join()

    def test_arguments_are_checked(self):
        keeper = _Device.new_PreventScreenSaver()
        try:
            with self.assertRaises(TypeError) as raised:
                _Device.SuspendBlocker_Lock(keeper)
            self.assertEqual(str(raised.exception), "in method 'SuspendBlocker_Lock', argument 1 of type 'SuspendBlocker *'")
            self.assertRaises(TypeError, _Device.SuspendBlocker_UnLock, 5)
            self.assertRaises(TypeError, _Device.new_SuspendBlocker, 1)
        finally:
            _Device.delete_PreventScreenSaver(keeper)


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
        self.assertRaises(ValueError, _Device.SuspendBlocker_Lock, None)
        with self.assertRaises(ValueError):
            _Device.delete_PreventScreenSaver(keeper)

    def test_the_first_deletion_withdraws_the_requirements_of_the_thread(self):
        first = _Device.new_PreventScreenSaver()
        second = _Device.new_PreventScreenSaver()
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
