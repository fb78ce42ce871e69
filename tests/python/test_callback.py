"""The callback bridge: Python callables reached from window messages, and the host loop that runs them."""
import select
import sys
import threading
import time
import unittest
import weakref

import _callback_peer as peer
import _w32
from device_support import HANG_GUARD_SECONDS, Recorder, StringIO, asyncio, get_ident, pump_until, text_type

WM_APP = 0x8000
PBT_APMQUERYSUSPEND = 0x0000


class CapturedStderr(object):
    """What the host's error printer writes, while the block runs."""

    def __enter__(self):
        self.saved = sys.stderr
        sys.stderr = StringIO()
        return self

    def __exit__(self, *exc):
        self.text = sys.stderr.getvalue()
        sys.stderr = self.saved


class Objects(unittest.TestCase):
    def setUp(self):
        self.handles = []

    def tearDown(self):
        for handle in self.handles:
            peer.Destroy(handle)
        _w32.PumpMessages(0)

    def make(self, callable_, kind="echo"):
        handle = peer.Create(kind, callable_)
        self.handles.append(handle)
        return handle

    def recorded(self):
        """A Recorder, an echo object calling it, and the object's window."""
        recorder = Recorder()
        handle = self.make(recorder)
        return recorder, handle, peer.Window(handle)


class TwoObjects(Objects):
    def test_each_window_routes_to_its_own_object(self):
        (first, _, wa), (second, _, wb) = self.recorded(), self.recorded()
        self.assertNotEqual(wa, wb)
        peer.Post(wa, WM_APP, 1, 0)
        peer.Post(wb, WM_APP + 1, 2, 0)
        peer.Post(wa, WM_APP + 2, 3, -4)
        self.assertEqual(_w32.PumpMessages(0), 3)
        self.assertEqual(first.calls, [(WM_APP, 1, 0), (WM_APP + 2, 3, -4)])
        self.assertEqual(second.calls, [(WM_APP + 1, 2, 0)])

    def test_other_messages_get_the_default_processing(self):
        # Only the object's window is top-level: the thread's wake window is message-only.
        recorder, _, _ = self.recorded()
        self.assertEqual(_w32.BroadcastPowerEvent(PBT_APMQUERYSUSPEND), [1])
        self.assertEqual(recorder.calls, [])


class Lifetime(Objects):
    def test_destruction_releases_the_callable_and_unroutes_the_window(self):
        recorder = Recorder()
        before = sys.getrefcount(recorder)
        handle = self.make(recorder)
        self.assertEqual(sys.getrefcount(recorder), before + 1)
        window = peer.Window(handle)
        peer.Post(window, WM_APP, 1, 0)  # still queued when the object goes
        peer.Destroy(handle)
        self.handles.remove(handle)
        self.assertEqual(sys.getrefcount(recorder), before)
        self.assertFalse(peer.Post(window, WM_APP, 2, 0))
        _w32.PumpMessages(0)
        self.assertEqual(recorder.calls, [])

    def test_setting_none_releases_the_callable_and_stops_calls(self):
        recorder = Recorder()
        before = sys.getrefcount(recorder)
        handle = self.make(recorder)
        peer.SetCallback(handle, None)
        self.assertEqual(sys.getrefcount(recorder), before)
        peer.Post(peer.Window(handle), WM_APP, 1, 0)
        with CapturedStderr() as captured:
            self.assertEqual(_w32.PumpMessages(0), 1)
            peer.CallWith(handle, "sss")
        self.assertEqual(captured.text, "")
        self.assertEqual(recorder.calls, [])

    def test_the_callable_can_be_replaced_while_it_runs(self):
        second = Recorder()
        handle_box = []

        def first(*args):
            peer.SetCallback(handle_box[0], second)

        watch = weakref.ref(first)
        handle_box.append(self.make(first))
        del first
        window = peer.Window(handle_box[0])
        peer.Post(window, WM_APP, 1, 0)
        peer.Post(window, WM_APP, 2, 0)
        self.assertEqual(_w32.PumpMessages(0), 2)
        self.assertEqual(second.calls, [(WM_APP, 2, 0)])
        self.assertIsNone(watch())  # the first callable was released once its call ended

    def test_an_object_destroyed_by_its_own_callable_is_called_no_more(self):
        calls = []
        handle_box = []

        def end_it(*args):
            calls.append(args)
            peer.Destroy(handle_box[0])

        watch = weakref.ref(end_it)
        handle = peer.Create("echo", end_it)
        handle_box.append(handle)
        del end_it
        window = peer.Window(handle)
        peer.Post(window, WM_APP, 1, 0)
        peer.Post(window, WM_APP, 2, 0)
        _w32.PumpMessages(0)
        self.assertEqual(calls, [(WM_APP, 1, 0)])
        self.assertFalse(peer.Post(window, WM_APP, 3, 0))
        self.assertIsNone(watch())


class Formats(Objects):
    def test_each_format_reaches_the_callable_as_its_python_values(self):
        cases = [
            ("i", (5,), int),
            ("sss", (b"DISC_CHANGE", b"ARRIVE", b"E"), bytes),
            ("uuuu", (u"C:\\M\xfcsic", u"Rename", u"\U0001F600.mp3", u""), text_type),
            ("(ii)", (1, 2), int),
            ("", (), None),
            ("null", (), None),
        ]
        for which, expected, kind in cases:
            recorder, handle, _ = self.recorded()
            peer.CallWith(handle, which)
            self.assertEqual(recorder.calls, [expected], which)
            for value in recorder.calls[0]:
                self.assertIs(type(value), kind, which)

    def test_arguments_that_cannot_be_built_are_reported_and_nothing_is_called(self):
        recorder, handle, _ = self.recorded()
        with CapturedStderr() as captured:
            peer.CallWith(handle, "bad")
        self.assertIn("SystemError", captured.text)
        self.assertEqual(recorder.calls, [])

    def test_an_exception_is_printed_and_the_callable_stays(self):
        calls = []

        def fails(*args):
            calls.append(args)
            raise ValueError("boom %d" % len(calls))

        window = peer.Window(self.make(fails))
        peer.Post(window, WM_APP, 1, 0)
        peer.Post(window, WM_APP, 2, 0)
        with CapturedStderr() as captured:
            self.assertEqual(_w32.PumpMessages(0), 2)
        self.assertEqual(len(calls), 2)
        self.assertIn("ValueError: boom 1", captured.text)
        self.assertIn("ValueError: boom 2", captured.text)
        self.assertIsNone(sys.exc_info()[0])


class Threads(Objects):
    def test_messages_posted_by_a_native_thread_arrive_in_order_on_the_owning_thread(self):
        recorder, _, window = self.recorded()
        self.assertEqual(peer.PostFromThread(window, WM_APP, 2000), 2000)
        self.assertTrue(pump_until(lambda: len(recorder.calls) == 2000))
        self.assertEqual([call[1] for call in recorder.calls], list(range(2000)))
        self.assertEqual(set(recorder.threads), set([get_ident()]))

    def test_a_thread_without_python_state_can_call(self):
        recorder, handle, _ = self.recorded()
        peer.CallFromThread(handle, 3)
        self.assertEqual(recorder.calls, [(0,), (1,), (2,)])
        self.assertNotIn(get_ident(), recorder.threads)

    def test_objects_belong_to_the_thread_that_made_them(self):
        recorder = Recorder()
        made = threading.Event()
        stop = threading.Event()
        box = []

        def owner():
            box.append(peer.Create("echo", recorder))
            made.set()
            while not stop.is_set():
                _w32.PumpMessages(50)
            peer.Destroy(box[0])

        worker = threading.Thread(target=owner)
        worker.start()
        made.wait()
        peer.Post(peer.Window(box[0]), WM_APP, 7, 0)
        self.assertEqual(_w32.PumpMessages(0), 0)  # not this thread's window
        self.assertTrue(pump_until(lambda: recorder.calls))
        stop.set()
        worker.join()
        self.assertEqual(recorder.calls, [(WM_APP, 7, 0)])
        self.assertEqual(recorder.threads, [worker.ident])

    def test_waiting_for_messages_releases_the_interpreter_lock(self):
        recorder, _, window = self.recorded()

        def poster():
            time.sleep(0.05)  # Python code that runs while the main thread waits
            peer.Post(window, WM_APP, 1, 0)

        worker = threading.Thread(target=poster)
        worker.start()
        self.assertEqual(_w32.PumpMessages(30000), 1)
        worker.join()



class HostLoop(Objects):
    def test_run_message_loop_dispatches_until_quit_and_returns_its_code(self):
        recorder, _, window = self.recorded()
        peer.Post(window, WM_APP, 1, 0)
        _w32.PostQuitMessage(4)
        peer.Post(window, WM_APP, 2, 0)  # posted before the loop looks: still taken first
        self.assertEqual(_w32.RunMessageLoop(), 4)
        self.assertEqual(recorder.calls, [(WM_APP, 1, 0), (WM_APP, 2, 0)])

    def test_a_callback_can_end_the_loop(self):
        calls = []

        def quit_on_call(*args):
            calls.append(args)
            _w32.PostQuitMessage(9)

        peer.Post(peer.Window(self.make(quit_on_call)), WM_APP, 1, 0)
        self.assertEqual(_w32.RunMessageLoop(), 9)
        self.assertEqual(calls, [(WM_APP, 1, 0)])

    def test_pumping_leaves_wm_quit_for_the_loop(self):
        self.assertEqual(_w32.PumpMessages(), 0)
        self.assertEqual(_w32.PumpMessages(5), 0)
        _w32.PostQuitMessage(2)
        peer.Post(self.recorded()[2], WM_APP, 1, 0)
        self.assertEqual(_w32.PumpMessages(0), 1)
        self.assertEqual(_w32.PumpMessages(0), 0)
        self.assertEqual(_w32.RunMessageLoop(), 2)

    def test_the_queue_descriptor_is_readable_while_messages_wait(self):
        fd = _w32.QueueFd()
        self.assertEqual(fd, _w32.QueueFd())
        self.assertEqual(select.select([fd], [], [], 0)[0], [])
        peer.PostFromThread(self.recorded()[2], WM_APP, 3)
        self.assertEqual(select.select([fd], [], [], 0)[0], [fd])
        self.assertEqual(_w32.PumpMessages(0), 3)
        self.assertEqual(select.select([fd], [], [], 0)[0], [])

    @unittest.skipIf(asyncio is None, "asyncio is Python 3's")
    def test_asyncio_dispatches_through_the_queue_descriptor(self):
        recorder, _, window = self.recorded()
        loop = asyncio.new_event_loop()
        fd = _w32.QueueFd()

        def readable():
            _w32.PumpMessages(0)
            if len(recorder.calls) == 3:
                loop.stop()

        loop.add_reader(fd, readable)
        loop.call_later(HANG_GUARD_SECONDS, loop.stop)
        peer.PostFromThread(window, WM_APP, 3)
        loop.run_forever()
        loop.remove_reader(fd)
        loop.close()
        self.assertEqual(recorder.calls, [(WM_APP, 0, 0), (WM_APP, 1, 0), (WM_APP, 2, 0)])

    def test_each_thread_has_its_own_queue_descriptor(self):
        theirs = []
        worker = threading.Thread(target=lambda: theirs.append(_w32.QueueFd()))
        worker.start()
        worker.join()
        self.assertNotEqual(theirs[0], _w32.QueueFd())


if __name__ == "__main__":
    unittest.main()
