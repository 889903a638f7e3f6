#!/usr/bin/env python3
"""What one command costs the client, counted rather than timed.

Runs cost_driver (bench/cost/cost_driver.cc) under callgrind and under
strace -f -c at two command counts against a running server, and takes the
difference divided by the difference of the counts, so that start-up and
shut-down cancel: user-space instructions and system calls per command, the
latter by name. Only the driver's process is counted, never the server.

strace counts every system call but futex, three runs per count, keeping
the fewest of each name. How often threads meet on a lock depends on timing,
so strace's futex count varies from run to run by a call per command or
more; futex is therefore counted in the callgrind run instead, where
valgrind runs one thread at a time and no lock is ever contended: the
library's own waits and wake-ups, the same on every run. (valgrind's other
counts are no substitute for strace's: it turns the vDSO's clock calls into
system calls.)

  cost.py --driver PATH --port PORT --workdir DIR [--budget FILE] [--check]
  cost.py ... --record   rewrite the budget's limits as measured now plus 5%

Standard library only.
"""

import argparse
import os
import re
import subprocess
import sys
from typing import Dict, List, NamedTuple, Optional, Tuple

COMMANDS = ("qsingle", "qall", "create")
# The driver's clients, with the names the table gives them.
CLIENTS = (("floor", "floor"), ("cpp", "c++"), ("c", "c threaded"), ("hd", "c host-driven"))
MARGIN = 1.05


class Cost(NamedTuple):
    instructions: float
    syscalls: Dict[str, float]

    @property
    def syscall_total(self) -> float:
        return sum(self.syscalls.values())


class Budget(NamedTuple):
    instructions: Optional[float]
    syscalls: Optional[float]
    goal_instructions: Optional[float]
    goal_syscalls: Optional[float]


def parse_callgrind_total(text: str) -> int:
    """The instructions of a whole run: callgrind's "summary:" (or "totals:") line."""
    for line in text.splitlines():
        match = re.match(r"(?:summary|totals):\s+(\d+)", line)
        if match:
            return int(match.group(1))
    raise ValueError("no summary line in callgrind output")


def parse_strace_counts(text: str) -> Dict[str, int]:
    """Calls by name from strace -c's table (errors included: a failed call is a call)."""
    counts: Dict[str, int] = {}
    for line in text.splitlines():
        fields = line.split()
        # % time, seconds, usecs/call, calls, [errors,] name
        if len(fields) in (5, 6) and re.fullmatch(r"[\d.]+", fields[0]) and fields[-1] != "total":
            counts[fields[-1]] = counts.get(fields[-1], 0) + int(fields[3])
    if not counts:
        raise ValueError("no rows in strace -c output")
    return counts


def parse_valgrind_syscalls(text: str) -> Dict[str, int]:
    """Calls by name from valgrind --trace-syscalls=yes: one line opens each call
    ("SYSCALL[pid,tid](nr) sys_NAME ..."); a blocking call's completion comes on
    a line of its own ("... [async] -->"), which names nothing."""
    counts: Dict[str, int] = {}
    for match in re.finditer(r"^SYSCALL\[\d+,\d+\]\(\d+\) sys_(\w+)", text, re.M):
        counts[match.group(1)] = counts.get(match.group(1), 0) + 1
    return counts


def fewest(runs: List[Dict[str, int]]) -> Dict[str, int]:
    """Per name, the fewest calls of any run (0 where a run made none)."""
    names = set().union(*runs)
    return {name: min(run.get(name, 0) for run in runs) for name in names}


def per_command(low: float, high: float, n_low: int, n_high: int) -> float:
    return (high - low) / (n_high - n_low)


def syscalls_per_command(low: Dict[str, int], high: Dict[str, int], n_low: int,
                         n_high: int) -> Dict[str, float]:
    out = {}
    for name in set(low) | set(high):
        value = per_command(low.get(name, 0), high.get(name, 0), n_low, n_high)
        if round(value, 2) != 0:
            out[name] = value
    return out


def parse_budget(text: str) -> Dict[Tuple[str, str], Budget]:
    """Lines "command client instructions syscalls goal-instructions goal-syscalls";
    "-" for none, "#" starts a comment."""
    budgets = {}
    for number, line in enumerate(text.splitlines(), 1):
        fields = line.split("#", 1)[0].split()
        if not fields:
            continue
        if len(fields) != 6 or fields[0] not in COMMANDS or fields[1] not in dict(CLIENTS):
            raise ValueError("budget line %d: %r" % (number, line))
        try:
            limits = [None if f == "-" else float(f.replace(",", "")) for f in fields[2:]]
        except ValueError:
            raise ValueError("budget line %d: %r" % (number, line)) from None
        budgets[(fields[0], fields[1])] = Budget(*limits)
    return budgets


def over_budget(costs: Dict[Tuple[str, str], Cost],
                budgets: Dict[Tuple[str, str], Budget]) -> List[str]:
    """Every limit exceeded, and every budgeted row left unmeasured."""
    faults = []
    for key, budget in sorted(budgets.items()):
        cost = costs.get(key)
        if cost is None:
            faults.append("%s %s: not measured" % key)
            continue
        if budget.instructions is not None and cost.instructions > budget.instructions:
            faults.append("%s %s: %.0f instructions per command, budget %.0f"
                          % (key + (cost.instructions, budget.instructions)))
        if budget.syscalls is not None and cost.syscall_total > budget.syscalls + 1e-9:
            faults.append("%s %s: %.2f system calls per command, budget %.2f"
                          % (key + (cost.syscall_total, budget.syscalls)))
    return faults


def recorded(text: str, costs: Dict[Tuple[str, str], Cost]) -> str:
    """The budget file with its limits set to what was measured plus the margin;
    comments and goals stay as they are."""
    out = []
    for line in text.splitlines():
        fields = line.split("#", 1)[0].split()
        cost = costs.get(tuple(fields[:2])) if len(fields) == 6 else None
        if cost is not None:
            line = "%-8s %-6s %9d %8.1f %9s %6s" % (
                fields[0], fields[1], round(cost.instructions * MARGIN),
                cost.syscall_total * MARGIN, fields[4], fields[5])
        out.append(line)
    return "\n".join(out) + "\n"


def number(value: Optional[float], digits: int = 0) -> str:
    if value is None:
        return "-"
    return "{:,.{}f}".format(value, digits)


def top_syscalls(syscalls: Dict[str, float], count: int = 6) -> str:
    ranked = sorted(syscalls.items(), key=lambda item: (-round(item[1], 1), item[0]))[:count]
    return ", ".join("%s %s" % (name, ("%.1f" % n).rstrip("0").rstrip(".")) for name, n in ranked)


def table(costs: Dict[Tuple[str, str], Cost], budgets: Dict[Tuple[str, str], Budget]) -> str:
    header = ("command", "client", "instr/cmd", "budget", "goal", "syscalls/cmd", "budget",
              "goal", "top syscalls per command")
    rows = [header]
    for command in COMMANDS:
        for client, label in CLIENTS:
            cost = costs.get((command, client)) if client else None
            budget = budgets.get((command, client), Budget(None, None, None, None))
            if cost is None:
                rows.append((command, label, "n/a", number(budget.instructions),
                             number(budget.goal_instructions), "n/a", number(budget.syscalls, 1),
                             number(budget.goal_syscalls), ""))
                continue
            rows.append((command, label, number(cost.instructions), number(budget.instructions),
                         number(budget.goal_instructions), number(cost.syscall_total, 1),
                         number(budget.syscalls, 1), number(budget.goal_syscalls),
                         top_syscalls(cost.syscalls)))
    widths = [max(len(row[i]) for row in rows) for i in range(len(header))]
    lines = []
    for row in rows:
        cells = [cell.ljust(w) if i in (0, 1, 8) else cell.rjust(w)
                 for i, (cell, w) in enumerate(zip(row, widths))]
        lines.append("  ".join(cells).rstrip())
    return "\n".join(lines)


class Runner:
    """Runs the driver under the two tools; keeps their outputs in workdir."""

    def __init__(self, driver: str, port: int, workdir: str):
        self.driver, self.port = os.path.abspath(driver), port
        self.workdir = os.path.abspath(workdir)
        # The library writes its two logs into the parent of the working
        # directory, and so does the floor client.
        self.rundir = os.path.join(workdir, "run")
        os.makedirs(self.rundir, exist_ok=True)

    def _run(self, tool: List[str], client: str, command: str, count: int) -> None:
        argv = tool + [self.driver, client, command, str(count), str(self.port)]
        done = subprocess.run(argv, cwd=self.rundir, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, universal_newlines=True)
        if done.returncode != 0:
            raise RuntimeError("%s failed:\n%s" % (" ".join(argv), done.stdout[-2000:]))

    def callgrind(self, client: str, command: str, count: int) -> Tuple[int, int]:
        """Instructions and futex calls of a run."""
        out = os.path.join(self.workdir, "callgrind.%s.%s.%d" % (client, command, count))
        self._run(["valgrind", "--tool=callgrind", "--trace-syscalls=yes",
                   "--log-file=" + out + ".log", "--callgrind-out-file=" + out],
                  client, command, count)
        with open(out) as f:
            instructions = parse_callgrind_total(f.read())
        with open(out + ".log") as f:
            futex = parse_valgrind_syscalls(f.read()).get("futex", 0)
        return instructions, futex

    def syscalls(self, client: str, command: str, count: int, repeat: int) -> Dict[str, int]:
        runs = []
        for i in range(repeat):
            out = os.path.join(self.workdir, "strace.%s.%s.%d.%d" % (client, command, count, i))
            self._run(["strace", "-f", "-c", "-o", out], client, command, count)
            with open(out) as f:
                runs.append(parse_strace_counts(f.read()))
        return fewest(runs)

    def cost(self, client: str, command: str, low: int, high: int, repeat: int) -> Cost:
        (ir_low, futex_low), (ir_high, futex_high) = (
            self.callgrind(client, command, n) for n in (low, high))
        strace_low, strace_high = (
            dict(self.syscalls(client, command, n, repeat), futex=futex)
            for n, futex in ((low, futex_low), (high, futex_high)))
        return Cost(per_command(ir_low, ir_high, low, high),
                    syscalls_per_command(strace_low, strace_high, low, high))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--driver", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--budget", default=os.path.join(os.path.dirname(__file__), "budget.txt"))
    parser.add_argument("--counts", type=int, nargs=2, default=(100, 300), metavar=("LOW", "HIGH"))
    parser.add_argument("--repeat", type=int, default=3, help="strace runs per count")
    action = parser.add_mutually_exclusive_group()
    action.add_argument("--check", action="store_true", help="fail when over budget")
    action.add_argument("--record", action="store_true", help="rewrite the budget's limits")
    args = parser.parse_args()
    low, high = args.counts
    if not 0 <= low < high:
        parser.error("--counts wants LOW < HIGH")

    with open(args.budget) as f:
        budget_text = f.read()
    budgets = parse_budget(budget_text)
    runner = Runner(args.driver, args.port, args.workdir)
    costs = {}
    for command in COMMANDS:
        for client, _ in CLIENTS:
            if client is not None:
                costs[(command, client)] = runner.cost(client, command, low, high, args.repeat)
    report = table(costs, budgets)
    print(report)
    with open(os.path.join(args.workdir, "table.txt"), "w") as f:
        f.write(report + "\n")
    print("per command: (cost at %d - cost at %d) / %d; system calls by strace, the fewest"
          " of %d runs, but futex by callgrind (uncontended)"
          % (high, low, high - low, args.repeat))

    if args.record:
        with open(args.budget, "w") as f:
            f.write(recorded(budget_text, costs))
        print("cost: recorded %s; review with git diff" % args.budget)
        return 0
    if args.check:
        faults = over_budget(costs, budgets)
        for fault in faults:
            print("cost: over budget: " + fault, file=sys.stderr)
        if faults:
            return 1
        print("cost: every command within its budget (%s)" % args.budget)
    return 0


if __name__ == "__main__":
    sys.exit(main())
