"""Single-instance detection within a process, across processes and across users."""
import contextlib
import hashlib
import os
import shutil
import socket
import traceback
import unittest

import _Device
from device_proxies import RunningInstance
from device_support import ObjectNamespace, byte_string, run_python


def answers(instance):
    return instance.IsAnotherInstanceRunning(), instance.IsAnotherInstanceRunningOnOtherSession()


FRESH, ANOTHER, OTHER_SESSION = (False, False), (True, False), (False, True)

CHILD = """
    import _Device
    r = _Device.new_RunningInstance(%r)
    print("{0} {1}".format(_Device.RunningInstance_IsAnotherInstanceRunning(r),
                           _Device.RunningInstance_IsAnotherInstanceRunningOnOtherSession(r)))
    _Device.delete_RunningInstance(r)
"""


def answers_in_child(name):
    status, out, err = run_python(CHILD % name)
    assert status == 0, err
    return tuple(word == "True" for word in out.split())


NOBODY = 65534


@contextlib.contextmanager
def as_nobody(namespace, action):
    """Runs `action` in a forked child that became another user with folders
    of its own in `namespace`; yields the str it returned while the child
    lives on, holding what it made."""
    result_read, result_write = os.pipe()
    release_read, release_write = os.pipe()
    child = os.fork()
    if child == 0:
        try:
            os.close(release_write)
            namespace.enter_as(NOBODY)
            os.setgroups([])
            os.setgid(NOBODY)
            os.setuid(NOBODY)
            os.write(result_write, byte_string(ord(c) for c in action()))  # no codec: its files may be unreadable now
            os.read(release_read, 1)
        except BaseException:
            traceback.print_exc()
        finally:
            os._exit(0)
    os.close(result_write)
    os.close(release_read)
    try:
        yield os.read(result_read, 65536).decode()
    finally:
        os.close(release_write)
        os.close(result_read)
        os.waitpid(child, 0)


def answers_as_nobody(namespace, name):
    with as_nobody(namespace, lambda: "%d%d" % answers(RunningInstance(name))) as result:
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
        with self.assertRaisesRegex(TypeError, "^Unicode string expected$"):
            _Device.new_RunningInstance(b"bytes")
        with self.assertRaisesRegex(TypeError, "new_RunningInstance"):
            _Device.new_RunningInstance()


class AcrossProcesses(unittest.TestCase):
    def setUp(self):
        self.namespace = ObjectNamespace().__enter__()

    def tearDown(self):
        self.namespace.__exit__()

    def test_another_process_sees_ours_while_we_hold_it(self):
        name = self.namespace.global_name(u"OrvellineAcross")
        ours = RunningInstance(name)
        self.assertEqual(answers_in_child(name), ANOTHER)
        self.assertEqual(answers_in_child(name[len(u"Global\\"):]), FRESH, "Global and session names differ")
        _Device.delete_RunningInstance(ours.this)
        self.assertEqual(answers_in_child(name), FRESH)

    def test_a_dead_process_holds_nothing(self):
        name = self.namespace.global_name(u"Crashing")
        status, _, err = run_python("""
            import os, _Device
            r = _Device.new_RunningInstance(%r)
            os._exit(3)
        """ % name)
        self.assertEqual(status, 3, err)
        self.assertEqual(answers(RunningInstance(name)), FRESH)

    @unittest.skipUnless(os.geteuid() == 0, "needs root to run a second user")
    def test_another_users_instance_is_on_another_session(self):
        name = self.namespace.global_name(u"OrvellineUsers")
        ours = RunningInstance(name)
        self.assertEqual(answers_as_nobody(self.namespace, name), OTHER_SESSION)
        ours.Close()
        self.assertEqual(answers_as_nobody(self.namespace, name), FRESH)



def tamper(paths):
    """Tries to empty, replace and remove each of `paths`; what succeeded."""
    mine = os.path.join(os.environ["XDG_RUNTIME_DIR"], "nobodys")
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


LEFT_BEHIND = []  # lives as long as the process that left it


def leave_behind(victim, digest):
    """In the folders all users share, the victim's folder of objects and, at
    each of the 32 places the "Global\\" name of hash `digest` once took
    there, a file; and a socket where the holders of that name show it. The
    paths made."""
    LEFT_BEHIND.append(socket.socket(socket.AF_UNIX, socket.SOCK_STREAM))
    LEFT_BEHIND[-1].bind(byte_string(ord(c) for c in "\0w32-global-%s-%016x" % (digest, 0)))  # no codec here
    made = []
    for shared in ("/dev/shm", "/tmp"):
        for path in [os.path.join(shared, "w32-user-%d" % victim)] + [
                os.path.join(shared, "w32-global-%s-%d" % (digest, place)) for place in range(32)]:
            try:
                os.mkdir(path) if "w32-user-" in path else os.close(os.open(path, os.O_CREAT | os.O_EXCL, 0o444))
                made.append(path)
            except OSError:
                pass
    return repr(made)


@unittest.skipUnless(os.geteuid() == 0, "needs root to run a second user")
class AgainstAnotherUser(unittest.TestCase):
    def setUp(self):
        self.namespace = ObjectNamespace().__enter__()
        self.root = self.namespace.root
        self.name = self.namespace.global_name

    def tearDown(self):
        self.namespace.__exit__()

    def test_another_user_cannot_change_our_objects(self):
        ours = [RunningInstance(name) for name in (self.name(u"Owned"), u"Owned")]
        paths = [os.path.join(folder, name) for folder, folders, files in os.walk(self.root)
                 for name in folders + files]
        with as_nobody(self.namespace, lambda: tamper(paths)) as done:
            self.assertEqual(done, "[]")
        self.assertEqual(answers(RunningInstance(self.name(u"Owned"))), ANOTHER)
        self.assertEqual(answers(RunningInstance(u"Owned")), ANOTHER)
        self.assertEqual(answers_as_nobody(self.namespace, self.name(u"Owned")), OTHER_SESSION)
        del ours

    def test_nothing_another_user_leaves_behind_blocks_our_names(self):
        # Without a runtime folder (a cron job, an ssh session without a login
        # manager) our objects live in our state folder.
        del os.environ["XDG_RUNTIME_DIR"]
        names = [self.name(u"Litter"), u"Litter"]
        digest = hashlib.sha256(names[0][len(u"Global\\"):].encode("utf-16-le")).hexdigest()
        with as_nobody(self.namespace, lambda: leave_behind(os.geteuid(), digest)) as made:
            self.addCleanup(lambda: [(os.rmdir if os.path.isdir(path) else os.remove)(path) for path in eval(made)])
            self.assertGreater(len(eval(made)), 32)
            self.assertEqual(answers(RunningInstance(names[0])), OTHER_SESSION, "held while its holder lives")
            self.assertEqual(answers(RunningInstance(names[1])), FRESH)
        for name in names:
            first = RunningInstance(name)
            self.assertEqual((answers(first), answers(RunningInstance(name))), (FRESH, ANOTHER), name)
            self.assertEqual(answers_as_nobody(self.namespace, name), OTHER_SESSION if name == names[0] else FRESH)

    def test_a_runtime_folder_that_is_not_ours_alone_is_never_used(self):
        ours = os.environ["XDG_RUNTIME_DIR"]
        hostile = os.path.join(self.root, "hostile")
        for what, make in [
                ("another user's folder", lambda: (os.mkdir(hostile, 0o700), os.chown(hostile, NOBODY, NOBODY))),
                ("a folder all may write", lambda: (os.mkdir(hostile), os.chmod(hostile, 0o1777))),
                ("another user's link to ours", lambda: (os.symlink(ours, hostile),
                                                         os.lchown(hostile, NOBODY, NOBODY)))]:
            make()
            os.environ["XDG_RUNTIME_DIR"] = hostile
            held = RunningInstance(u"Hostile " + what)
            self.assertEqual((answers(held), answers(RunningInstance(u"Hostile " + what))), (FRESH, ANOTHER), what)
            self.assertEqual(os.listdir(hostile), [], what)
            self.assertTrue(os.listdir(os.path.join(os.environ["XDG_STATE_HOME"], "w32-objects")), what)
            os.remove(hostile) if os.path.islink(hostile) else os.rmdir(hostile)

    def test_two_users_keep_the_same_plain_name_apart(self):
        saved = dict(os.environ)
        self.addCleanup(lambda: (os.environ.clear(), os.environ.update(saved)))
        os.environ["XDG_SESSION_ID"] = "7"
        ours = RunningInstance(u"Shared")

        def twice():
            first = RunningInstance(u"Local\\Shared")
            return "%d%d %d%d" % (answers(first) + answers(RunningInstance(u"Shared")))

        with as_nobody(self.namespace, twice) as theirs:
            self.assertEqual(theirs, "00 10")
            self.assertEqual(answers(RunningInstance(u"Local\\Shared")), ANOTHER)
        del ours


if __name__ == "__main__":
    unittest.main()
