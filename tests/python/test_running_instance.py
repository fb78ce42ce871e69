"""Single-instance detection within a process, across processes and across users."""
import contextlib
import fcntl
import os
import signal
import traceback
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


NOBODY = 65534


@contextlib.contextmanager
def as_nobody(action):
    """Runs `action` in a forked child that became another user; yields the str
    it returned while the child lives on, holding what it made."""
    result_read, result_write = os.pipe()
    release_read, release_write = os.pipe()
    child = os.fork()
    if child == 0:
        try:
            os.close(release_write)
            os.setgroups([])
            os.setgid(NOBODY)
            os.setuid(NOBODY)
            os.write(result_write, action())
            os.read(release_read, 1)
        except BaseException:
            traceback.print_exc()
        finally:
            os._exit(0)
    os.close(result_write)
    os.close(release_read)
    try:
        yield os.read(result_read, 65536)
    finally:
        os.close(release_write)
        os.close(result_read)
        os.waitpid(child, 0)


def answers_as_nobody(name):
    with as_nobody(lambda: "%d%d" % answers(RunningInstance(name))) as result:
        return tuple(c == "1" for c in result)


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
        self.assertEqual(answers_as_nobody(u"Global\\OrvellineUsers"), OTHER_SESSION)
        ours.Close()
        self.assertEqual(answers_as_nobody(u"Global\\OrvellineUsers"), FRESH)



def lock_everything(root):
    """Locks every file and folder under `root` that this user can open,
    exclusively where it can, and keeps the locks."""
    held = []
    for folder, _, files in os.walk(root):
        for path in [folder] + [os.path.join(folder, name) for name in files]:
            try:
                held.append(os.open(path, os.O_RDONLY | os.O_NONBLOCK))
            except OSError:
                continue
            for kind in (fcntl.LOCK_EX, fcntl.LOCK_SH):
                try:
                    fcntl.flock(held[-1], kind | fcntl.LOCK_NB)
                    break
                except IOError:
                    pass
    return held


def tamper(root, paths):
    """Tries to empty, replace and remove each of `paths`; what succeeded."""
    mine = os.path.join(root, "nobodys")
    os.close(os.open(mine, os.O_WRONLY | os.O_CREAT, 0o644))
    done = []
    for path in paths:
        for what, attempt in [("empty", lambda: os.close(os.open(path, os.O_WRONLY | os.O_TRUNC))),
                              ("replace", lambda: os.rename(mine, path)),
                              ("remove", lambda: os.rmdir(path) if os.path.isdir(path) else os.unlink(path))]:
            try:
                attempt()
                done.append((what, path))
            except OSError:
                pass
    return repr(done)


@unittest.skipUnless(os.geteuid() == 0, "needs root to run a second user")
class AgainstAnotherUser(unittest.TestCase):
    def setUp(self):
        self.namespace = ObjectNamespace().__enter__()
        self.root = self.namespace.root

    def tearDown(self):
        signal.alarm(0)
        self.namespace.__exit__()

    def test_locks_another_user_keeps_neither_stop_nor_mislead_us(self):
        status, _, err = run_python("""
            import os, _Device
            left = [_Device.new_RunningInstance(name) for name in (u"Global\\\\Left", u"Left")]
            os._exit(3)
        """)
        self.assertEqual(status, 3, err)
        ours = RunningInstance(u"Global\\Held")

        def squat_then_lock():
            if os.fork() == 0:
                squat = RunningInstance(u"Global\\Squat")
                os._exit(0)  # never closed
            os.wait()
            return str(len(lock_everything(self.root)))

        with as_nobody(squat_then_lock) as locked:
            self.assertGreater(int(locked), 3)
            signal.alarm(20)  # a call that waits for the attacker's locks ends the run here
            for name, expected in [(u"Global\\Held", ANOTHER), (u"Global\\Left", FRESH), (u"Left", FRESH),
                                   (u"Global\\Squat", OTHER_SESSION)]:
                self.assertEqual(answers(RunningInstance(name)), expected, name)
            ours.Close()
            self.assertEqual(answers(RunningInstance(u"Global\\Held")), FRESH)

    def test_another_user_cannot_change_our_objects(self):
        ours = [RunningInstance(name) for name in (u"Global\\Owned", u"Owned")]
        paths = [os.path.join(folder, name) for folder, folders, files in os.walk(self.root)
                 for name in folders + files]
        with as_nobody(lambda: tamper(self.root, paths)) as done:
            self.assertEqual(done, "[]")
        self.assertEqual(answers(RunningInstance(u"Global\\Owned")), ANOTHER)
        self.assertEqual(answers(RunningInstance(u"Owned")), ANOTHER)
        self.assertEqual(answers_as_nobody(u"Global\\Owned"), OTHER_SESSION)
        del ours

    def test_hostile_folders_are_refused_and_never_followed(self):
        def nobodys(path, link_to=None):
            if link_to:
                os.mkdir(link_to)
                os.chmod(link_to, 0o1777)
                os.symlink(link_to, path)
            else:
                os.mkdir(path)
                os.chmod(path, 0o777)
            os.lchown(path, NOBODY, NOBODY)
            return link_to or path

        ours = "/w32-user-%d" % os.geteuid()
        # Each makes, in a fresh namespace, the W32_OBJECT_DIR to use and returns
        # the folder where nothing may appear.
        for what, make in [
            ("a folder of another user without the sticky bit", lambda root: (root + "/x", nobodys(root + "/x"))),
            ("a link", lambda root: (root + "/x", nobodys(root + "/x", root + "/y"))),
            ("another user's folder in place of ours", lambda root: (root, nobodys(root + ours))),
            ("a link in place of our folder", lambda root: (root, nobodys(root + ours, root + "/y"))),
        ]:
            with ObjectNamespace() as namespace:
                os.environ["W32_OBJECT_DIR"], watched = make(namespace.root)
                for name in (u"Global\\Hostile", u"Hostile"):
                    self.assertEqual(answers(RunningInstance(name)), OTHER_SESSION, (what, name))
                self.assertEqual(os.listdir(watched), [], what)

    def test_a_link_where_a_global_name_goes_is_never_followed(self):
        before = set(os.listdir(self.root))
        first = RunningInstance(u"Global\\Planted")
        place, = [name for name in set(os.listdir(self.root)) - before if name.startswith("w32-global-")]
        first.Close()
        os.symlink(self.root + "/victim", os.path.join(self.root, place))
        os.lchown(os.path.join(self.root, place), NOBODY, NOBODY)
        ours = RunningInstance(u"Global\\Planted")
        self.assertEqual(answers(ours), FRESH)
        self.assertFalse(os.path.lexists(self.root + "/victim"))
        self.assertEqual(answers_as_nobody(u"Global\\Planted"), OTHER_SESSION, "the name moved, still ours")

    def test_two_users_keep_the_same_plain_name_apart(self):
        saved = dict(os.environ)
        self.addCleanup(lambda: (os.environ.clear(), os.environ.update(saved)))
        os.environ["XDG_SESSION_ID"] = "7"
        ours = RunningInstance(u"Shared")

        def twice():
            first = RunningInstance(u"Local\\Shared")
            return "%d%d %d%d" % (answers(first) + answers(RunningInstance(u"Shared")))

        with as_nobody(twice) as theirs:
            self.assertEqual(theirs, "00 10")
            self.assertEqual(answers(RunningInstance(u"Local\\Shared")), ANOTHER)
        del ours

if __name__ == "__main__":
    unittest.main()
