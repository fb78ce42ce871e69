"""The host loop of _w32: pumping, the classic loop, the queue descriptor."""
import select
import threading
import unittest

import _callback_peer as peer
import _w32
from device_support import HANG_GUARD_SECONDS, asyncio

WM_APP = 0x8000


class Loop(unittest.TestCase):
    def setUp(self):
        self.calls = []
        self.handle = peer.Create("echo", self.record)
        self.window = peer.Window(self.handle)

    def tearDown(self):
        peer.Destroy(self.handle)
        while _w32.PumpMessages(0):
            pass

    def record(self, *args):
        self.calls.append(args)

    def test_run_message_loop_dispatches_until_quit_and_returns_its_code(self):
        peer.Post(self.window, WM_APP, 1, 0)
        _w32.PostQuitMessage(4)
        peer.Post(self.window, WM_APP, 2, 0)  # posted before the loop looks: still taken first
        self.assertEqual(_w32.RunMessageLoop(), 4)
        self.assertEqual(self.calls, [(WM_APP, 1, 0), (WM_APP, 2, 0)])

    def test_a_callback_can_end_the_loop(self):
        def quit_on_call(*args):
            self.calls.append(args)
            _w32.PostQuitMessage(9)

        peer.SetCallback(self.handle, quit_on_call)
        peer.Post(self.window, WM_APP, 1, 0)
        self.assertEqual(_w32.RunMessageLoop(), 9)
        self.assertEqual(self.calls, [(WM_APP, 1, 0)])

    def test_pumping_leaves_wm_quit_for_the_loop(self):
        _w32.PostQuitMessage(2)
        peer.Post(self.window, WM_APP, 1, 0)
        self.assertEqual(_w32.PumpMessages(0), 1)
        self.assertEqual(_w32.PumpMessages(0), 0)
        self.assertEqual(_w32.RunMessageLoop(), 2)

    def test_pumping_without_messages_returns_none_dispatched(self):
        self.assertEqual(_w32.PumpMessages(), 0)
        self.assertEqual(_w32.PumpMessages(5), 0)

    def test_the_queue_descriptor_is_readable_while_messages_wait(self):
        fd = _w32.QueueFd()
        self.assertEqual(fd, _w32.QueueFd())
        self.assertEqual(select.select([fd], [], [], 0)[0], [])
        peer.PostFromThread(self.window, WM_APP, 3)
        self.assertEqual(select.select([fd], [], [], 0)[0], [fd])
        self.assertEqual(_w32.PumpMessages(0), 3)
        self.assertEqual(select.select([fd], [], [], 0)[0], [])

    @unittest.skipIf(asyncio is None, "asyncio is Python 3's")
    def test_asyncio_dispatches_through_the_queue_descriptor(self):
        loop = asyncio.new_event_loop()
        fd = _w32.QueueFd()

        def readable():
            _w32.PumpMessages(0)
            if len(self.calls) == 3:
                loop.stop()

        loop.add_reader(fd, readable)
        loop.call_later(HANG_GUARD_SECONDS, loop.stop)
        peer.PostFromThread(self.window, WM_APP, 3)
        loop.run_forever()
        loop.remove_reader(fd)
        loop.close()
        self.assertEqual(self.calls, [(WM_APP, 0, 0), (WM_APP, 1, 0), (WM_APP, 2, 0)])

    def test_each_thread_has_its_own_queue_descriptor(self):
        theirs = []
        worker = threading.Thread(target=lambda: theirs.append(_w32.QueueFd()))
        worker.start()
        worker.join()
        self.assertNotEqual(theirs[0], _w32.QueueFd())


if __name__ == "__main__":
    unittest.main()
