"""Builds zorvik._zorvik with the repository's CMake build and puts the libraries it needs
beside it (zorvik/_libs). ZORVIK_REPOSITORY names the repository when this folder was copied out
of it; ZORVIK_BUILD_DIR names a build tree to reuse (configured with the
Python package on); otherwise one is configured in the build's temporary folder."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

REPOSITORY = Path(os.environ.get("ZORVIK_REPOSITORY") or Path(__file__).resolve().parent.parent)


class CMakeBuild(build_ext):
    def build_extension(self, ext: Extension) -> None:
        build = Path(os.environ.get("ZORVIK_BUILD_DIR") or Path(self.build_temp).resolve() / "cmake")
        if not (build / "CMakeCache.txt").exists():
            subprocess.check_call(["cmake", "-S", str(REPOSITORY), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                                   f"-DPython_EXECUTABLE={sys.executable}", "-DZORVIK_PYTHON=ON"])
        jobs = os.environ.get("ZORVIK_BUILD_JOBS", str(os.cpu_count() or 1))
        subprocess.check_call(["cmake", "--build", str(build), "--target", "zorvik_python", "-j", jobs])

        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        built = next((build / "python" / "zorvik").glob("_zorvik*.so"))
        shutil.copy2(built, target)
        libs = target.parent / "_libs"
        shutil.rmtree(libs, ignore_errors=True)
        (libs / "zorvik").mkdir(parents=True)
        libdir = "lib"
        for line in (build / "CMakeCache.txt").read_text().splitlines():
            if line.startswith("CMAKE_INSTALL_LIBDIR:"):
                libdir = line.partition("=")[2]
        lib = build / libdir
        for name in ("libzorvik-files.so.0", "libZorvik.UWP.so.0", "libzorvik-runtime.so.0"):
            shutil.copy2(lib / name, libs / name)  # follows the links to the versioned file
        shutil.copy2(lib / "zorvik" / "lib7z.UWP.so", libs / "zorvik" / "lib7z.UWP.so")


setup(ext_modules=[Extension("zorvik._zorvik", sources=[])], cmdclass={"build_ext": CMakeBuild})
