"""Python 2's subprocess runs Python in the forked child before exec. Under
the sanitizer runtime a child forked while another thread of the module held
its allocator's lock hangs there for good, as that runtime does not take its
locks across fork. So under it children are started with posix_spawn, which
runs nothing of the parent's in the child."""
import ctypes
import os
import subprocess

_libc = ctypes.CDLL(None, use_errno=True)
_ACTIONS_SIZE = 80  # sizeof(posix_spawn_file_actions_t) on 64-bit glibc


def _strings(items):
    array = (ctypes.c_char_p * (len(items) + 1))()
    array[:-1] = [item.encode("utf-8") if isinstance(item, unicode) else item for item in items]  # noqa: F821
    return array


def _execute_child(self, args, executable, preexec_fn, close_fds, cwd, env, universal_newlines, startupinfo,
                   creationflags, shell, to_close, p2cread, p2cwrite, c2pread, c2pwrite, errread, errwrite):
    if preexec_fn is not None:
        raise ValueError("preexec_fn would run in the forked child")
    args = [args] if isinstance(args, basestring) else list(args)  # noqa: F821
    if shell:
        args = ["/bin/sh", "-c"] + args
    actions = ctypes.create_string_buffer(_ACTIONS_SIZE)
    _libc.posix_spawn_file_actions_init(actions)
    try:
        # glibc's dup2 action clears close-on-exec also where both numbers are one.
        for fd, standard in ((p2cread, 0), (c2pwrite, 1), (errwrite, 2)):
            if fd is not None:
                _libc.posix_spawn_file_actions_adddup2(actions, fd, standard)
        for fd in set([p2cread, p2cwrite, c2pread, c2pwrite, errread, errwrite]) - set([None, 0, 1, 2]):
            _libc.posix_spawn_file_actions_addclose(actions, fd)
        if cwd is not None:
            _libc.posix_spawn_file_actions_addchdir_np(actions, cwd.encode("utf-8") if isinstance(cwd, unicode) else cwd)  # noqa: F821
        environment = os.environ if env is None else env
        pid = ctypes.c_int()
        error = _libc.posix_spawnp(ctypes.byref(pid), executable or args[0], actions, None, _strings(args),
                                   _strings(["%s=%s" % item for item in environment.items()]))
    finally:
        _libc.posix_spawn_file_actions_destroy(actions)
        for fd, parent_end in ((p2cread, p2cwrite), (c2pwrite, c2pread), (errwrite, errread)):
            if fd is not None and parent_end is not None:
                os.close(fd)
                to_close.remove(fd)
    if error != 0:
        raise OSError(error, os.strerror(error))
    self.pid = pid.value
    self._child_created = True


def install():
    subprocess.Popen._execute_child = _execute_child
