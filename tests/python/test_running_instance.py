"""Single-instance detection within a process, across processes and across users."""
import os
import unittest

import _Device
from device_proxies import RunningInstance
from device_support import ObjectNamespace, run_python


def answers(instance):
    return instance.IsAnotherInstanceRunning(), instance.IsAnotherInstanceRunningOnOtherSession()



FRESH, ANOTHER, OTHER_SESSION = (False, False), (True, False), (False, True)

CHILD = """
    import _Device
    r = _Device.new_RunningInstance(%r)
    print _Device.RunningInstance_IsAnotherInstanceRunning(r), \\
          _Device.RunningInstance_IsAnotherInstanceRunningOnOtherSession(r)
    _Device.delete_RunningInstance(r)
"""


def answers_in_child(name):
    status, out, err = run_python(CHILD % name)
    assert status == 0, err
    return tuple(word == "True" for word in out.split())


def answers_as_user(name, uid):
    """The answers in a forked child that became another user (the interpreter
    lives under /root, out of that user's reach for a fresh start)."""
    read_end, write_end = os.pipe()
    child = os.fork()
    if child == 0:
        try:
            os.setgroups([])
            os.setgid(uid)
            os.setuid(uid)
            os.write(write_end, "%d%d" % answers(RunningInstance(name)))
        finally:
            os._exit(0)
    os.close(write_end)
    answer = os.read(read_end, 2)
    os.close(read_end)
    os.waitpid(child, 0)
    return tuple(c == "1" for c in answer)


class WithinOneProcess(unittest.TestCase):
    def setUp(self):
        self.namespace = ObjectNamespace().__enter__()

    def tearDown(self):
        self.namespace.__exit__()

    def test_second_instance_sees_the_first_until_it_closes(self):
        first = RunningInstance(u"Local\\Orvelline")
        self.assertEqual(answers(first), FRESH)
        second = RunningInstance(u"Local\\Orvelline")
        self.assertEqual(answers(second), ANOTHER)
        first.Close()
        first.Close()
        self.assertEqual(answers(first), FRESH, "answers are fixed at construction")
        self.assertEqual(answers(RunningInstance(u"Local\\Orvelline")), ANOTHER)
        del second
        self.assertEqual(answers(RunningInstance(u"Local\\Orvelline")), FRESH)

    def test_names_are_used_as_given(self):
        self.assertEqual(answers(RunningInstance(u"")), FRESH)
        held = RunningInstance(u"cut")
        self.assertEqual(answers(RunningInstance(u"cut\x00 after the zero")), ANOTHER)
        self.assertEqual(answers(RunningInstance(u"Cut")), FRESH, "names are case-sensitive")
        self.assertEqual(answers(RunningInstance(u"not\\a\\namespace")), FRESH)
        self.assertEqual(answers(RunningInstance(u"x" * 300)), FRESH)
        self.assertEqual(answers(RunningInstance(u"\u00e9\U0001F600")), FRESH)
        lone = RunningInstance(u"a\ud800")
        for different in (u"a\udc00", u"a\ufffd"):
            self.assertEqual(answers(RunningInstance(different)), FRESH, "every code unit counts")
        del held, lone

    def test_bad_names(self):
        with self.assertRaisesRegexp(TypeError, "^Unicode string expected$"):
            _Device.new_RunningInstance("bytes")
        with self.assertRaisesRegexp(TypeError, "new_RunningInstance"):
            _Device.new_RunningInstance()


class AcrossProcesses(unittest.TestCase):
    def setUp(self):
        self.namespace = ObjectNamespace().__enter__()

    def tearDown(self):
        self.namespace.__exit__()

    def test_another_process_sees_ours_while_we_hold_it(self):
        ours = RunningInstance(u"Global\\OrvellineAcross")
        self.assertEqual(answers_in_child(u"Global\\OrvellineAcross"), ANOTHER)
        self.assertEqual(answers_in_child(u"OrvellineAcross"), FRESH, "Global and session names differ")
        _Device.delete_RunningInstance(ours.this)
        self.assertEqual(answers_in_child(u"Global\\OrvellineAcross"), FRESH)

    def test_a_dead_process_holds_nothing(self):
        status, _, err = run_python("""
            import os, _Device
            r = _Device.new_RunningInstance(u"Global\\\\Crashing")
            os._exit(3)
        """)
        self.assertEqual(status, 3, err)
        self.assertEqual(answers(RunningInstance(u"Global\\Crashing")), FRESH)

    @unittest.skipUnless(os.geteuid() == 0, "needs root to run a second user")
    def test_another_users_instance_is_on_another_session(self):
        ours = RunningInstance(u"Global\\OrvellineUsers")
        self.assertEqual(answers_as_user(u"Global\\OrvellineUsers", 65534), OTHER_SESSION)
        ours.Close()
        self.assertEqual(answers_as_user(u"Global\\OrvellineUsers", 65534), FRESH)


if __name__ == "__main__":
    unittest.main()
