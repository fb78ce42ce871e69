"""Installs _Device and _w32 into an interpreter: the build step runs the
project's CMake build and its install rules, which lay out the modules, their
type stubs and DllPath.ini, and the support libraries (libw32.so, the detector
component) in a folder of their own beside them.

CMAKE_BUILD_TYPE sets the build type (default Release). The build runs make's
jobs in parallel: CMAKE_BUILD_PARALLEL_LEVEL sets how many (default: every
processor this process may use). `pip install -v` shows the build's steps as
they run."""
import os
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def run(self):
        if subprocess.call([os.path.join(SOURCE, "scripts", "install-deps.sh"), "--check"]) != 0:
            raise SystemExit(1)
        # The build targets the interpreter that runs pip, in a folder of its own.
        major = sys.version_info[0]
        build_dir = os.path.join(SOURCE, "build-pip%d" % major)
        build = ["cmake", "--build", build_dir]
        if not os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL"):
            build += ["-j", str(_jobs())]
        prefix = os.path.abspath(self.build_lib)
        # Release unless CMAKE_BUILD_TYPE names another, as CMake itself reads it.
        build_type = os.environ.get("CMAKE_BUILD_TYPE") or "Release"
        for command in (
                ["cmake", "-S", SOURCE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=" + build_type, "-DDEVICE_TESTS=OFF",
                 "-DDEVICE_PYTHON=%d" % major, "-DPYTHON=" + sys.executable],
                build,
                ["cmake", "--install", build_dir, "--prefix", prefix]):
            sys.stdout.flush()  # setuptools' lines before the command's
            subprocess.check_call(command)
        # Named below build_lib as setuptools names it, which maps them to the install folder.
        with open(os.path.join(build_dir, "install_manifest.txt")) as manifest:
            self._installed = [os.path.join(self.build_lib, os.path.relpath(path, prefix))
                               for path in manifest.read().splitlines()]

    def get_outputs(self):
        # Every file the install rules laid out, so that uninstalling removes them all.
        return list(getattr(self, "_installed", []))


def _jobs():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        import multiprocessing
        return multiprocessing.cpu_count()


setup(
    name="Device",
    version="5.5",
    description="Drives, discs, device changes, folder monitoring, data protection, "
                "machine and shell services for the media-management application",
    ext_modules=[Extension("_Device", sources=[]), Extension("_w32", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
