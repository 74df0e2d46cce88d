"""The build of the g729a package: the codec library is compiled from the
repository's sources with CMake and placed inside the package, and the
constants of include/g729a.h become g729a/_constants.py. The metadata is in
pyproject.toml; the version comes from the header.

On Debian, with python3-setuptools, python3-wheel, cmake and g++:
    python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation ./python
"""

import atexit
import os
import runpy
import shutil
import subprocess
import tempfile

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = os.path.dirname(os.path.abspath(__file__))
# The package lives in python/ of the codec's repository.
SOURCE = os.path.dirname(HERE)
HEADER = os.path.join(SOURCE, "include", "g729a.h")


def _header_module():
    # Run by path: importing the package itself would look for the library.
    return runpy.run_path(os.path.join(HERE, "g729a", "_header.py"))


def _header_values():
    if not os.path.isfile(HEADER):
        raise SystemExit("g729a: %s not found; the package builds from the codec's repository "
                         "(pip install ./python from its top folder)" % HEADER)
    with open(HEADER, encoding="utf-8") as f:
        return _header_module()["parse"](f.read())


class build_with_codec(build_py):
    """build_py, then the codec library and the header's constants."""

    def run(self):
        super().run()
        package = os.path.join(self.build_lib, "g729a")
        os.makedirs(package, exist_ok=True)
        _header_module()["write_module"](HEADER, os.path.join(package, "_constants.py"))
        self._build_library(package)

    def _build_library(self, package):
        cmake = shutil.which("cmake")
        if cmake is None:
            raise SystemExit("g729a: cmake is needed to build the codec library (apt-get install cmake g++)")
        build = os.path.join(os.path.abspath(self.get_finalized_command("build").build_temp), "codec")
        subprocess.check_call([cmake, "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                               "-DG729A_LIBRARY_ONLY=ON"])
        command = [cmake, "--build", build, "--target", "g729a_shared"]
        if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
            command += ["--parallel", str(os.cpu_count() or 1)]
        subprocess.check_call(command)
        soname = "libg729a.so.%d" % _header_values()["VERSION_MAJOR"]
        # The soname link's target, copied under the soname, which is what
        # the package loads.
        shutil.copyfile(os.path.realpath(os.path.join(build, soname)), os.path.join(package, soname))


class BinaryDistribution(Distribution):
    """The package carries a compiled library, so its wheel is for this
    platform and Python only."""

    def has_ext_modules(self):
        return True


def _work_folder():
    """Where the build and the egg-info go: $G729A_PYTHON_BUILD_DIR when set
    (the project's tests put it under their build folder), else a fresh
    temporary folder removed when the build ends. Never beside the sources:
    a build left there would be reused by the next pip install whatever had
    changed since, and would litter the checkout."""
    folder = os.environ.get("G729A_PYTHON_BUILD_DIR")
    if folder:
        folder = os.path.abspath(folder)
        os.makedirs(folder, exist_ok=True)
        return folder
    folder = tempfile.mkdtemp(prefix="g729a-python-build-")
    atexit.register(shutil.rmtree, folder, ignore_errors=True)
    return folder


_values = _header_values()
_work = _work_folder()
setup(
    version="%d.%d.%d" % (_values["VERSION_MAJOR"], _values["VERSION_MINOR"], _values["VERSION_PATCH"]),
    cmdclass={"build_py": build_with_codec},
    distclass=BinaryDistribution,
    options={"build": {"build_base": os.path.join(_work, "build")}, "egg_info": {"egg_base": _work}},
)
