"""What the module's tests share: fresh processes and isolated platform state."""
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest


def run_python(code, env=None):
    """Runs code in a fresh interpreter; returns (exit status, stdout, stderr), as text."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    process = subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], env=full_env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
    out, err = process.communicate()
    return process.returncode, out, err


class ObjectNamespace(object):
    """Folders of the test's own for the named objects of each user, and a
    tag that keeps the test's "Global\\" names, which every process of the
    machine sees, apart from those of any other run."""

    KEYS = ("XDG_RUNTIME_DIR", "XDG_STATE_HOME")

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="w32-objects-")
        os.chmod(self.root, 0o755)
        self.tag = u"-%d-%s" % (os.getpid(), os.path.basename(self.root))
        self.saved = dict((key, os.environ.get(key)) for key in self.KEYS)
        self.enter_as(os.geteuid())
        return self

    def enter_as(self, uid):
        """Points this process's runtime and state folders to those of user `uid`."""
        for key in self.KEYS:
            path = os.path.join(self.root, "%s-%d" % (key, uid))
            if not os.path.isdir(path):
                os.mkdir(path, 0o700)
                os.chown(path, uid, uid)
            os.environ[key] = path

    def global_name(self, name):
        return u"Global\\" + name + self.tag

    def __exit__(self, *exc):
        for key, value in self.saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value
        shutil.rmtree(self.root, ignore_errors=True)


# What differs between the interpreters, for tests written once for both.
PY3 = sys.version_info[0] >= 3
if PY3:
    import _thread as thread
    import asyncio
    import importlib.util
    from importlib import reload
    from io import StringIO
    from urllib.parse import unquote as url_unquote
    text_type = str
    long = int
    # How long a thread keeps the interpreter lock while another waits for it.
    get_switch_interval, set_switch_interval = sys.getswitchinterval, sys.setswitchinterval
    NEVER_SWITCH = 1e6  # seconds

    def module_file(name):
        """The file an import of the module would load."""
        return importlib.util.find_spec(name).origin
else:
    import imp
    import thread
    from StringIO import StringIO  # noqa: F401 (for the tests)
    from urllib import unquote as url_unquote  # noqa: F401 (for the tests)
    asyncio = None
    text_type = unicode  # noqa: F821
    long = long  # noqa: F821
    reload = reload  # noqa: F821
    get_switch_interval, set_switch_interval = sys.getcheckinterval, sys.setcheckinterval
    NEVER_SWITCH = 1 << 30  # bytecodes

    def module_file(name):
        """The file an import of the module would load."""
        return imp.find_module(name)[1]

    unittest.TestCase.assertRaisesRegex = unittest.TestCase.assertRaisesRegexp  # Python 3's name

    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        import spawn_children
        spawn_children.install()

get_ident = thread.get_ident

# Where bytes are wanted, Python 2 takes unicode in its default (ASCII)
# encoding; Python 3 never turns text into bytes by itself.
ASCII_TEXT_IS_BYTES = not PY3

# hex() and oct() of a wrapper: digits only on Python 2, with Python 3's prefixes there.
HEX_PREFIX, OCT_PREFIX = ("0x", "0o") if PY3 else ("", "")

# The registry's opaque pointer object.
REGISTRY_POINTER_TYPE = "PyCapsule" if PY3 else "PyCObject"

# A bound on waiting for an event, so that a lost one fails the test instead of hanging it.
HANG_GUARD_SECONDS = 20


def compare(a, b):
    """Python 2's cmp(a, b); on Python 3 through the rich comparisons."""
    return (a > b) - (a < b)


def text(native):
    """A file name or system text as unicode: Python 2's str holds it as UTF-8."""
    return native if isinstance(native, text_type) else native.decode("utf-8")


def native(text_):
    """Text as the interpreter's own str, as file names and the environment take it:
    UTF-8 bytes on Python 2."""
    return text_ if PY3 else text_.encode("utf-8")


def byte_string(values):
    """The byte string of a sequence of byte values."""
    return bytes(bytearray(values))


class Recorder(object):
    """A callable that keeps its calls and the threads they came on."""

    def __init__(self):
        self.calls = []
        self.threads = []

    def __call__(self, *args):
        self.calls.append(args)
        self.threads.append(get_ident())


def pump_until(condition):
    """Runs the host loop until condition() holds; False when the hang guard ran out."""
    import _w32
    deadline = time.time() + HANG_GUARD_SECONDS
    while not condition():
        if time.time() > deadline:
            return False
        _w32.PumpMessages(20)
    return True
