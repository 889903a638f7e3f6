#!/usr/bin/env python3
"""One QALL round trip through the Python package, blocking and asyncio forms.

The counterpart of roundtrip_bench (C++, C) and RoundTrip.cs (C#): sequential
QALL commands against a running `voicectl serve`, each waited for before the
next; prints the median and the 90th percentile in microseconds.

    voicectl serve --listen 127.0.0.1:0 &     # prints the port
    PYTHONPATH=bindings/python python3 bench/bindings/roundtrip.py \\
        build/bench/libvoicecontrol.so.1 127.0.0.1 PORT 1000
"""
import asyncio
import statistics
import sys
import time

import voicecontrol


def report(name, micros):
    micros.sort()
    print("%-16s median %7.1f us   p90 %7.1f us   (%d round trips)"
          % (name, statistics.median(micros), micros[len(micros) * 9 // 10], len(micros)))


def blocking(library, host, port, count):
    micros = []
    with voicecontrol.Controller(host, port, library) as controller:
        controller.qall()  # the first connection and thread out of the way
        for _ in range(count):
            start = time.perf_counter()
            controller.qall()
            micros.append((time.perf_counter() - start) * 1e6)
    return micros


async def awaited(library, host, port, count):
    micros = []
    async with voicecontrol.AsyncController(host, port, library) as controller:
        await controller.qall()
        for _ in range(count):
            start = time.perf_counter()
            await controller.qall()
            micros.append((time.perf_counter() - start) * 1e6)
    return micros


def main(argv):
    library, host, port = argv[1], argv[2], int(argv[3])
    count = int(argv[4]) if len(argv) > 4 else 1000
    report("python blocking", blocking(library, host, port, count))
    report("python asyncio", asyncio.run(awaited(library, host, port, count)))


if __name__ == "__main__":
    main(sys.argv)
