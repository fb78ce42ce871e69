"""What the module's tests share: fresh processes and isolated platform state."""
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap


def run_python(code, env=None):
    """Runs code in a fresh interpreter; returns (exit status, stdout, stderr)."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    process = subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], env=full_env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = process.communicate()
    return process.returncode, out, err


class ObjectNamespace(object):
    """A named-object namespace of the test's own, reachable by every user."""

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="w32-objects-")
        os.chmod(self.root, 0o1777)
        self.saved = os.environ.get("W32_OBJECT_DIR")
        os.environ["W32_OBJECT_DIR"] = self.root
        return self

    def __exit__(self, *exc):
        if self.saved is None:
            del os.environ["W32_OBJECT_DIR"]
        else:
            os.environ["W32_OBJECT_DIR"] = self.saved
        shutil.rmtree(self.root, ignore_errors=True)
