"""DectorCallback: volume arrivals and removals as calls with three byte strings."""
import ctypes
import unittest

import _callback_peer as peer
import _Device
import _w32
from device_support import Recorder

WM_DEVICECHANGE = 0x0219
DBT_DEVICEARRIVAL = 0x8000
DBT_DEVICEQUERYREMOVE = 0x8001
DBT_DEVICEREMOVECOMPLETE = 0x8004
DBT_DEVTYP_VOLUME = 2
DBT_DEVTYP_DEVICEINTERFACE = 5
DBTF_MEDIA = 0x0001
DBTF_NET = 0x0002


class DEV_BROADCAST_VOLUME(ctypes.Structure):
    _fields_ = [("dbcv_size", ctypes.c_uint32), ("dbcv_devicetype", ctypes.c_uint32),
                ("dbcv_reserved", ctypes.c_uint32), ("dbcv_unitmask", ctypes.c_uint32),
                ("dbcv_flags", ctypes.c_uint16)]


def volume(unitmask, flags, devicetype=DBT_DEVTYP_VOLUME):
    record = DEV_BROADCAST_VOLUME()
    record.dbcv_size = ctypes.sizeof(record)
    record.dbcv_devicetype = devicetype
    record.dbcv_unitmask = unitmask
    record.dbcv_flags = flags
    return record


class Broadcasts(unittest.TestCase):
    def setUp(self):
        self.recorder = Recorder()
        self.handle = peer.Create("dector", self.recorder)

    def tearDown(self):
        peer.Destroy(self.handle)

    def test_volume_broadcasts_become_calls(self):
        E, F = 1 << 4, 1 << 5
        cases = [
            (DBT_DEVICEARRIVAL, E, DBTF_MEDIA, (b"DISC_CHANGE", b"ARRIVE", b"E")),
            (DBT_DEVICEREMOVECOMPLETE, F, 0, (b"DRIVE_CHANGE", b"REMOVE", b"F")),
            (DBT_DEVICEARRIVAL, (1 << 3) | E, DBTF_MEDIA, (b"DISC_CHANGE", b"ARRIVE", b"D")),
            (DBT_DEVICEARRIVAL, 0, 0, (b"DRIVE_CHANGE", b"ARRIVE", b"[")),
            (DBT_DEVICEARRIVAL, 1 << 26, 0, (b"DRIVE_CHANGE", b"ARRIVE", b"[")),
            (DBT_DEVICEARRIVAL, E, DBTF_NET, None),
            (DBT_DEVICEREMOVECOMPLETE, E, DBTF_NET | DBTF_MEDIA, None),
            (DBT_DEVICEQUERYREMOVE, E, DBTF_MEDIA, None),
        ]
        for event, unitmask, flags, expected in cases:
            del self.recorder.calls[:]
            answers = _w32.BroadcastDeviceChange(event, unitmask, flags)
            self.assertIn(1, answers)  # the default processing, in every case
            self.assertEqual(self.recorder.calls, [expected] if expected else [],
                             (event, unitmask, flags))

    def test_other_device_types_and_a_missing_record_make_no_call(self):
        record = volume(1 << 4, DBTF_MEDIA, DBT_DEVTYP_DEVICEINTERFACE)
        self.assertEqual(peer.WndProc(self.handle, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, ctypes.addressof(record)), 1)
        self.assertEqual(peer.WndProc(self.handle, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), 1)
        self.assertEqual(self.recorder.calls, [])
        record = volume(1 << 2, 0)
        peer.WndProc(self.handle, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, ctypes.addressof(record))
        self.assertEqual(self.recorder.calls, [(b"DRIVE_CHANGE", b"ARRIVE", b"C")])


class EntryPoints(unittest.TestCase):
    def test_a_dector_callback_made_alone_answers_with_the_default(self):
        callback = _Device.new_DectorCallback()
        try:
            record = volume(1 << 4, DBTF_MEDIA)
            address = ctypes.addressof(record)
            self.assertEqual(_Device.DectorCallback_WndProc(callback, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, address), 1)
            self.assertEqual(_Device.DectorCallback_WndProc(callback, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), 1)
            self.assertEqual(_Device.DectorCallback_WndProc(callback, 0x8000, 1, -1), 0)
            self.assertIn(1, _w32.BroadcastDeviceChange(DBT_DEVICEARRIVAL, 1 << 4, DBTF_MEDIA))
        finally:
            _Device.delete_DectorCallback(callback)

    def test_the_message_arguments_are_checked(self):
        # Pointer arguments and the first refusal are tested in test_module.
        callback = _Device.new_DectorCallback()
        cases = [
            ((callback, WM_DEVICECHANGE, -1, 0), OverflowError, "argument 3 of type 'WPARAM'"),
            ((callback, WM_DEVICECHANGE, 0, 1 << 63), TypeError, "argument 4 of type 'LPARAM'"),
            ((callback, "x", 0, 0), TypeError, "argument 2 of type 'UINT'"),
        ]
        for args, error, text in cases:
            with self.assertRaises(error) as raised:
                _Device.DectorCallback_WndProc(*args)
            self.assertIn(text, str(raised.exception))
        _Device.delete_DectorCallback(callback)


if __name__ == "__main__":
    unittest.main()
