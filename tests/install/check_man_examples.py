#!/usr/bin/env python3
"""Runs the EXAMPLES of voicectl(1) against a built voicectl.

    check_man_examples.py VOICECTL MAN_PAGE

In the page's example blocks (.nf ... .fi) a line "$ COMMAND" is a command
and the lines after it, up to the next command, are what it prints (stdout
and stderr together); a line "..." there stands for any number of lines.
A command "voicectl serve --listen HOST:PORT ... &" starts a simulated
server, here on a free loopback port instead: the port the page shows is
replaced by the real one in every later line, and the server's first line
is compared. Other commands run through /bin/sh with the built voicectl
first on PATH, in a fresh directory under which paths of the page that
start with /tmp/ are placed. Trailing blanks do not count.
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile

COMMAND_TIMEOUT = 30  # the slowest example waits for the library's 5-second time-out


def roff_to_text(line):
    """The text of a no-fill line: the few escapes the examples use."""
    for escape, text in (("\\-", "-"), ("\\&", ""), ("\\e", "\\")):
        line = line.replace(escape, text)
    if "\\" in line:
        raise ValueError("unexpected roff escape in example line: " + line)
    return line


def examples(page):
    """(command, expected output lines) pairs in the order of the page."""
    section = page.split("\n.SH EXAMPLES\n", 1)[1].split("\n.SH ", 1)[0]
    pairs = []
    for block in re.findall(r"^\.nf\n(.*?)^\.fi$", section, re.M | re.S):
        for line in block.splitlines():
            line = roff_to_text(line)
            if line.startswith("$ "):
                pairs.append((line[2:], []))
            elif pairs:
                pairs[-1][1].append(line)
    return pairs


def matches(expected, actual):
    """Whether the lines match, "..." in `expected` standing for any lines."""
    if not expected:
        return not actual
    if expected[0] == "...":
        return any(matches(expected[1:], actual[i:]) for i in range(len(actual) + 1))
    return bool(actual) and expected[0] == actual[0] and matches(expected[1:], actual[1:])


def main(voicectl, man_page):
    with open(man_page, encoding="utf-8") as f:
        pairs = examples(f.read())
    if len(pairs) < 5:
        sys.exit("found only %d example commands in %s" % (len(pairs), man_page))
    voicectl = os.path.abspath(voicectl)
    servers, failures = [], []
    with tempfile.TemporaryDirectory(prefix="voicectl-man-") as work:
        env = dict(os.environ, HOME=work, PATH=os.path.dirname(voicectl) + os.pathsep +
                   os.environ.get("PATH", ""))
        env.pop("XDG_STATE_HOME", None)
        ports = {}  # the page's port -> the real one

        def place(text):
            text = text.replace("/tmp/", work + "/")
            for shown, real in ports.items():
                text = text.replace(":" + shown, ":" + real)
            return text

        try:
            for command, expected in pairs:
                if command.startswith("voicectl serve ") and command.endswith(" &"):
                    args = shlex.split(command[:-2])
                    listen = args.index("--listen")
                    shown = args[listen + 1].rsplit(":", 1)[1]
                    args[0], args[listen + 1] = voicectl, "127.0.0.1:0"
                    server = subprocess.Popen(args, stdout=subprocess.PIPE,
                                              stderr=subprocess.DEVNULL, text=True, env=env)
                    servers.append(server)
                    first = server.stdout.readline().rstrip("\n")
                    found = re.match(r"listening on [0-9.]+:(\d+) ", first)
                    if not found:
                        sys.exit("%s: printed %r" % (command, first))
                    if expected:
                        shown = re.match(r"listening on [0-9.]+:(\d+) ", expected[0]).group(1)
                    ports[shown] = found.group(1)
                    actual = [first]
                else:
                    run = subprocess.run(["/bin/sh", "-c", place(command)], cwd=work, env=env,
                                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                         text=True, timeout=COMMAND_TIMEOUT)
                    actual = run.stdout.splitlines()
                want = [place(line).rstrip() for line in expected]
                got = [line.rstrip() for line in actual]
                if matches(want, got):
                    print("ok   $ " + command)
                else:
                    failures.append(command)
                    print("FAIL $ %s\n  the page shows:\n    %s\n  voicectl printed:\n    %s" % (
                        command, "\n    ".join(want), "\n    ".join(got)))
        finally:
            for server in servers:
                server.terminate()
                server.wait(10)
    if failures:
        sys.exit("%d of %d examples of %s do not hold" % (len(failures), len(pairs), man_page))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: check_man_examples.py VOICECTL MAN_PAGE")
    main(sys.argv[1], sys.argv[2])
