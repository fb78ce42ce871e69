"""Installs _Device and _w32 into an interpreter: the build step runs the
project's CMake build and takes everything importable from its lib folder
(the modules, libw32.so, the detector component and DllPath.ini)."""
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
        build_dir = os.path.join(SOURCE, "build", "pip")
        subprocess.check_call([
            "cmake", "-S", SOURCE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
            "-DDEVICE_TESTS=OFF", "-DPYTHON2=" + sys.executable])
        subprocess.check_call(["cmake", "--build", build_dir, "-j", str(_jobs())])
        self._copied = []
        lib_dir = os.path.join(build_dir, "lib")
        for folder, _, files in os.walk(lib_dir):
            target = os.path.join(self.build_lib, os.path.relpath(folder, lib_dir))
            self.mkpath(target)
            for name in files:
                self.copy_file(os.path.join(folder, name), target)
                self._copied.append(os.path.join(target, name))

    def get_outputs(self):
        # Every file taken from the lib folder, so that uninstalling removes them all.
        return list(getattr(self, "_copied", []))


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
