"""Builds kestra._kestra with CMake for pip: the project configured in a directory of its own
(under build/pip, apart from the other builds) for the Python that runs pip, and the module
copied where setuptools puts the extension."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
BUILD = ROOT / "build" / "pip"


def version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(kestra VERSION ([0-9.]+)", text).group(1)


class BuildWithCMake(build_ext):
    def build_extension(self, ext):
        cmake = BUILD / "cmake"
        subprocess.check_call(["cmake", "-S", str(ROOT), "-B", str(cmake), "-DCMAKE_BUILD_TYPE=Release",
                               "-DKESTRA_TESTS=OFF", "-DKESTRA_PYTHON=ON",
                               "-DPython3_EXECUTABLE=" + sys.executable])
        jobs = os.environ.get("JOBS", "2")
        subprocess.check_call(["cmake", "--build", str(cmake), "-j" + jobs, "--target",
                               "kestra_python_module"])
        built = next((cmake / "python" / "kestra").glob("_kestra*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


BUILD.mkdir(parents=True, exist_ok=True)
setup(version=version(),
      ext_modules=[Extension("kestra._kestra", sources=[])],
      cmdclass={"build_ext": BuildWithCMake},
      options={"build": {"build_base": str(BUILD)}, "egg_info": {"egg_base": str(BUILD)}})
