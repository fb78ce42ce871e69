"""Repeated calls, good and bad, leave the process no bigger than they found it."""
import os
import unittest
import weakref

import _Device

PAGE = 4096


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def grows_by(work, rounds=50000):
    work()  # warm caches, type objects and free lists first
    before = resident_bytes()
    for _ in range(rounds):
        work()
    return resident_bytes() - before


Holder = type("Holder", (object,), {})


def entry_point_errors():
    for call in (lambda: _Device.GetSystemFolder(2 ** 40),
                 lambda: _Device.CreateLink(u"a" * 100, u"b", 3),
                 lambda: _Device.RunningInstance_Close(None),
                 lambda: _Device.MMer_Encode(object(), "x"),
                 lambda: _Device.GetUserLang(1),
                 lambda: _Device.GetLinkFile(u"x" * 50)):
        try:
            call()
        except (TypeError, ValueError, OverflowError, NotImplementedError):
            pass


def objects_and_wrappers():
    wrapper = _Device.new_RunningInstance(u"")
    holder = Holder()
    holder.this = wrapper
    _Device.RunningInstance_IsAnotherInstanceRunning(weakref.proxy(holder))
    other = _Device.new_RunningInstance(u"")
    wrapper.append(other)
    repr(wrapper), str(wrapper), hex(wrapper), wrapper.own(1)
    _Device.delete_RunningInstance(other)
    _Device.delete_RunningInstance(holder)


@unittest.skipIf(os.environ.get("DEVICE_PRELOAD"), "the sanitizer's quarantine holds freed memory")
class NoLeaks(unittest.TestCase):
    LIMIT = 2 * 1024 * 1024  # a leak of 40 bytes a round would pass it

    def test_argument_errors(self):
        self.assertLess(grows_by(entry_point_errors), self.LIMIT)

    def test_objects_wrappers_and_chains(self):
        self.assertLess(grows_by(objects_and_wrappers), self.LIMIT)


if __name__ == "__main__":
    unittest.main()
