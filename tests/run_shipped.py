#!/usr/bin/env python3
"""Runs this tree's test programs against the library exactly as it ships.

A test build exports the library's internals for its white-box tests, so
the library it builds is not byte for byte the one in the packages. Every
test program that needs nothing but the shipped library's exports runs
here once more, whole and in one process, with the shipped library put in
front of the test build's own:

  run_shipped.py --build DIR --library FILE [--objdump TOOL] [--runner SCRIPT]

ELF (Linux): the program runs with LD_LIBRARY_PATH set to FILE's
directory, and ldd must show that it resolves the library there. PE
(Windows): the program is copied beside FILE, where Windows looks first,
and started with the runner (the build's Wine wrapper). The programs that
reach internals are named, not run. Exit status 0 when every program run
passed and at least one ran.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys


def test_programs(build):
    """The GoogleTest programs CTest knows in `build`, with a working directory each."""
    listing = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                             capture_output=True, text=True).stdout
    programs = {}
    for test in json.loads(listing)["tests"]:
        command = test.get("command") or []
        filters = [i for i, arg in enumerate(command) if arg.startswith("--gtest_filter=")]
        if not filters or filters[0] == 0:
            continue
        program = command[filters[0] - 1]  # after the emulator, if there is one
        directory = build
        for prop in test.get("properties", []):
            if prop["name"] == "WORKING_DIRECTORY":
                directory = prop["value"]
        programs.setdefault(program, directory)
    return programs


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def elf_exports(library):
    lines = run(["nm", "-D", "--defined-only", library]).splitlines()
    return {line.split()[-1].split("@")[0] for line in lines if line.strip()}


def elf_needs(program, built_exports):
    lines = run(["nm", "-D", "--undefined-only", program]).splitlines()
    return {line.split()[-1].split("@")[0] for line in lines} & built_exports


def pe_exports(objdump, library):
    names, inside = set(), False
    for line in run([objdump, "-p", library]).splitlines():
        if "[Ordinal/Name Pointer] Table" in line:
            inside = True
        elif inside and not line.strip():
            break
        elif inside:
            names.add(line.split()[-1])
    return names


def pe_needs(objdump, program, dll_name):
    names, current = set(), None
    for line in run([objdump, "-p", program]).splitlines():
        fields = line.split()
        if line.strip().startswith("DLL Name:"):
            current = fields[-1].lower()
        elif current == dll_name and len(fields) == 3 and fields[1].isdigit():
            names.add(fields[2])
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the test build's directory")
    parser.add_argument("--library", required=True, help="the shipped library")
    parser.add_argument("--objdump", help="objdump of the target (PE programs)")
    parser.add_argument("--runner", help="what starts a program (PE programs: wine-run.sh)")
    args = parser.parse_args()
    library = os.path.abspath(args.library)
    pe = library.lower().endswith(".dll")
    if pe:
        exports = pe_exports(args.objdump, library)
        needs = lambda program: pe_needs(args.objdump, program, os.path.basename(library).lower())
    else:
        built = os.path.join(os.path.abspath(args.build), os.path.basename(library))
        exports = elf_exports(library)
        built_exports = elf_exports(built)
        needs = lambda program: elf_needs(program, built_exports)

    ran, failed, internal = [], [], []
    for program, directory in sorted(test_programs(args.build).items()):
        name = os.path.basename(program)
        missing = needs(program) - exports
        if missing:
            internal.append("%s (%d internals)" % (name, len(missing)))
            continue
        if pe:
            copy = os.path.join(os.path.dirname(library), name)
            shutil.copy2(program, copy)
            command = [os.path.abspath(args.runner), copy]
            env = dict(os.environ)
        else:
            env = dict(os.environ, LD_LIBRARY_PATH=os.path.dirname(library))
            resolved = subprocess.run(["ldd", program], env=env, check=True,
                                      capture_output=True, text=True).stdout
            if library not in resolved and os.path.realpath(library) not in resolved:
                print("run_shipped: %s does not load %s:\n%s" % (name, library, resolved))
                failed.append(name)
                continue
            command = [program]
        result = subprocess.run(command, cwd=directory, env=env, capture_output=True, text=True)
        summary = [line for line in result.stdout.splitlines() if line.startswith("[  PASSED")
                   or line.startswith("[  FAILED") or line.startswith("[  SKIPPED")]
        print("%-28s %s" % (name, "; ".join(summary) or "exit %d" % result.returncode))
        if result.returncode != 0:
            print(result.stdout[-4000:], result.stderr[-2000:])
            failed.append(name)
        ran.append(name)
    print("run_shipped: %d programs ran against %s; %d reach internals and were left out: %s"
          % (len(ran), library, len(internal), ", ".join(internal) or "none"))
    if failed or not ran:
        print("run_shipped: failed: %s" % (", ".join(failed) or "no program ran"))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
