"""Builds the voicecontrol wheel into a directory, offline.

    python3 build_wheel.py OUTDIR

Runs the standard build front end (python3 -m build) without an isolated
environment, so nothing is downloaded: the interpreter running this script
must have the modules build, setuptools (61 or later) and wheel (Debian:
python3-build, python3-setuptools, python3-wheel; /usr/bin/python3 has
them). The sources are copied to a temporary directory first, so that the
build leaves nothing in the source tree. Prints the wheel's path.
"""

import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCES = ["pyproject.toml", "README.md", "voicecontrol"]
NEEDED = {"build": "python3-build", "setuptools": "python3-setuptools",
          "wheel": "python3-wheel"}


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    missing = [module for module in NEEDED if importlib.util.find_spec(module) is None]
    if missing:
        sys.exit("build_wheel.py: %s lacks the module(s) %s (run it with /usr/bin/python3, "
                 "or apt-get install %s)" % (sys.executable, ", ".join(missing),
                    " ".join(NEEDED[module] for module in missing)))
    out = os.path.abspath(argv[1])
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="voicecontrol-wheel-") as work:
        for name in SOURCES:
            source, target = os.path.join(HERE, name), os.path.join(work, name)
            if os.path.isdir(source):
                shutil.copytree(source, target,
                                ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))
            else:
                shutil.copy2(source, target)
        dist = os.path.join(work, "dist")
        build = subprocess.run([sys.executable, "-m", "build", "--wheel", "--no-isolation",
                                "--outdir", dist, work],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if build.returncode != 0:
            sys.exit("build_wheel.py: the build failed:\n" + build.stdout)
        wheels = [name for name in os.listdir(dist) if name.endswith(".whl")]
        if len(wheels) != 1:
            sys.exit("build_wheel.py: expected one wheel, the build made %s" % wheels)
        target = os.path.join(out, wheels[0])
        shutil.copy2(os.path.join(dist, wheels[0]), target)
    print(target)


if __name__ == "__main__":
    main(sys.argv)
