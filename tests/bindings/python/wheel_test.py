"""The wheel as a user meets it: built offline, installed into a fresh venv
of every Python 3 on this machine (Debian's, and a pyenv one when python3
on PATH is another), imported and used from there against voicectl serve.

    python3 wheel_test.py LIBRARY VOICECTL VERSION

Exits 77 (skipped) when no interpreter here can build the wheel offline.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD_WHEEL = os.path.normpath(os.path.join(HERE, "..", "..", "..", "bindings", "python",
                                            "build_wheel.py"))
SKIPPED = 77

# Run by the venv's interpreter, from a directory outside the source tree.
USE = r"""
import asyncio, os, sys
import voicecontrol
port, library, venv, session = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
assert voicecontrol.__file__.startswith(venv), voicecontrol.__file__
assert os.path.exists(os.path.join(os.path.dirname(voicecontrol.__file__), "py.typed"))
with voicecontrol.Controller("localhost", port, library) as controller:
    print(controller.create(session, "alice", "caf\u00e9", "alice").text)
    print(controller.qsingle(session)[:4])
    try:
        controller.kick(session, "x" * 256)
    except voicecontrol.VoiceControlError as error:
        print(error.text)
async def main():
    async with voicecontrol.AsyncController("127.0.0.1", port, library) as controller:
        singles = await asyncio.gather(*(controller.qsingle(session) for _ in range(10)))
        print(len({single[:2] for single in singles}))
asyncio.run(main())
"""


def tool_environment():
    """For building, venv and pip: none of the sanitizer preloads the
    library's tests may carry, and no PYTHONPATH leading to the sources."""
    environment = {name: value for name, value in os.environ.items()
                   if name not in ("LD_PRELOAD", "PYTHONPATH", "PYTHONHOME")}
    environment["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    environment["PIP_NO_INDEX"] = "1"
    return environment


def run(command, environment, cwd=None):
    done = subprocess.run(command, env=environment, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, timeout=300)
    if done.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (done.returncode, " ".join(command), done.stdout))
    return done.stdout


def interpreters():
    """Each distinct Python 3 among this one, Debian's and python3 on PATH."""
    found = {}
    for candidate in (sys.executable, "/usr/bin/python3", shutil.which("python3")):
        if not candidate or not os.path.exists(candidate):
            continue
        real = subprocess.run([candidate, "-c", "import sys; print(sys.executable)"],
                              env=tool_environment(), stdout=subprocess.PIPE, text=True)
        executable = real.stdout.strip()
        if real.returncode == 0 and os.path.realpath(executable) not in found:
            found[os.path.realpath(executable)] = executable
    return list(found.values())


def can_build(python):
    return subprocess.run([python, "-c", "import build, setuptools, wheel"],
                          env=tool_environment(), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def start_server(voicectl):
    server = subprocess.Popen([voicectl, "serve", "--listen", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    match = re.match(r"listening on 127\.0\.0\.1:(\d+)", server.stdout.readline())
    if not match:
        server.terminate()
        sys.exit("voicectl serve did not start")
    return server, int(match.group(1))


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    library, voicectl, version = os.path.abspath(argv[1]), argv[2], argv[3]
    pythons = interpreters()
    builders = [python for python in pythons if can_build(python)]
    if not builders:
        print("skipped: no Python here has build, setuptools and wheel (Debian: "
              "python3-build python3-setuptools python3-wheel)")
        return SKIPPED
    server, port = start_server(voicectl)
    try:
        with tempfile.TemporaryDirectory(prefix="voicecontrol-wheel-test-") as work:
            wheel = run([builders[0], BUILD_WHEEL, os.path.join(work, "dist")],
                        tool_environment()).strip().splitlines()[-1]
            expected = "voicecontrol-%s-py3-none-any.whl" % version
            if os.path.basename(wheel) != expected:
                sys.exit("the wheel is %s, expected %s (the package's __version__ and the "
                         "project's version differ)" % (os.path.basename(wheel), expected))
            with zipfile.ZipFile(wheel) as archive:
                names = set(archive.namelist())
            for name in ("voicecontrol/__init__.py", "voicecontrol/py.typed"):
                if name not in names:
                    sys.exit("the wheel lacks %s: %s" % (name, sorted(names)))
            for number, python in enumerate(pythons):
                venv = os.path.join(work, "venv%d" % number)
                run([python, "-m", "venv", venv], tool_environment())
                venv_python = os.path.join(venv, "bin", "python")
                run([venv_python, "-m", "pip", "install", "--no-index", "--no-cache-dir",
                     "--quiet", wheel], tool_environment())
                environment = dict(os.environ)
                environment.pop("PYTHONPATH", None)
                session = "w%d" % number
                used = run([venv_python, "-c", USE, str(port), library, venv, session],
                           environment, cwd=work)
                want = "created\n('%s', 'found', 'alice', 'caf\u00e9')\nparam error.\n1\n" % session
                if used != want:
                    sys.exit("%s in its venv printed %r, expected %r" % (python, used, want))
                print("%s: the wheel installs and works" % python)
    finally:
        server.terminate()
        server.wait(timeout=10)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
