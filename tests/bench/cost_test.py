#!/usr/bin/env python3
"""bench/cost/cost.py's reading of the tools' outputs and of the budget, and
its verdict: a wrong parse would let a dearer command pass `./run cost --check`."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench", "cost"))
import cost  # noqa: E402

STRACE = """\
% time     seconds  usecs/call     calls    errors syscall
------ ----------- ----------- --------- --------- ----------------
 45.64    0.047051         470       100           epoll_wait
  4.84    0.004993          49       300       300 connect
  0.00    0.000000           0         1           execve
------ ----------- ----------- --------- --------- ----------------
100.00    0.103088          41       401       300 total
"""

VALGRIND = """\
SYSCALL[3762,2](202) sys_futex ( 0x1fff0004d4, 129, 1, 0x0, 0x1fff0004a8 ) --> [async] ...
SYSCALL[3762,2](202) ... [async] --> Success(0x1)
SYSCALL[3762,1](3) sys_close ( 5 )[sync] --> Success(0x0)
SYSCALL[3762,1](72) sys_fcntl[ARG3=='arg'] ( 5, 4, 2 )[sync] --> Success(0x0)
==3762== SYSCALL[1,1](1) sys_write is not a call of the client
"""

BUDGET = """\
# header
qsingle  c   50000  20.5   12000  18   # trailing comment
qall     cpp 90,000    -   20000   -
"""


class ParseTest(unittest.TestCase):
    def test_tool_outputs(self):
        for parse, text, expected in [
            (cost.parse_callgrind_total, "events: Ir\nsummary: 8230767\n", 8230767),
            (cost.parse_callgrind_total, "totals: 42\n", 42),
            (cost.parse_strace_counts, STRACE, {"epoll_wait": 100, "connect": 300, "execve": 1}),
            (cost.parse_valgrind_syscalls, VALGRIND, {"futex": 1, "close": 1, "fcntl": 1}),
        ]:
            with self.subTest(parse=parse.__name__):
                self.assertEqual(parse(text), expected)

    def test_unreadable_tool_outputs_raise(self):
        for parse in (cost.parse_callgrind_total, cost.parse_strace_counts):
            with self.subTest(parse=parse.__name__), self.assertRaises(ValueError):
                parse("==1== Error: can not open output file\n")

    def test_budget(self):
        self.assertEqual(cost.parse_budget(BUDGET), {
            ("qsingle", "c"): cost.Budget(50000, 20.5, 12000, 18),
            ("qall", "cpp"): cost.Budget(90000, None, 20000, None)})

    def test_malformed_budget_lines_raise(self):
        for line in ["qsingle c 1 2 3", "kick c 1 2 3 4", "qsingle floor2 1 2 3 4",
                     "qsingle c 1 x 3 4", "qsingle c 1 2 3 4 5"]:
            with self.subTest(line=line), self.assertRaises(ValueError):
                cost.parse_budget(line)


class VerdictTest(unittest.TestCase):
    def test_per_command_cancels_start_up(self):
        low = {"close": 313, "futex": 301, "execve": 1}
        high = {"close": 913, "futex": 901, "execve": 1, "brk": 2}
        self.assertEqual(cost.syscalls_per_command(low, high, 100, 300),
                         {"close": 3.0, "futex": 3.0, "brk": 0.01})
        self.assertEqual(cost.fewest([{"futex": 905, "close": 9}, {"futex": 901}]),
                         {"futex": 901, "close": 0})

    def test_over_budget(self):
        budgets = cost.parse_budget(BUDGET)
        under = cost.Cost(49000, {"close": 3, "futex": 3})
        for name, costs, faults in [
            ("within", {("qsingle", "c"): under, ("qall", "cpp"): cost.Cost(90000, {"x": 99})}, 0),
            ("at the limits", {("qsingle", "c"): cost.Cost(50000, {"close": 20, "futex": 0.5}),
                               ("qall", "cpp"): under}, 0),
            ("instructions", {("qsingle", "c"): cost.Cost(50001, {}), ("qall", "cpp"): under}, 1),
            ("system calls", {("qsingle", "c"): cost.Cost(1, {"close": 21}),
                              ("qall", "cpp"): under}, 1),
            ("both", {("qsingle", "c"): cost.Cost(60000, {"close": 21}),
                      ("qall", "cpp"): under}, 2),
            ("unmeasured", {("qsingle", "c"): under}, 1),
        ]:
            with self.subTest(name):
                self.assertEqual(len(cost.over_budget(costs, budgets)), faults)

    def test_record_keeps_goals_and_comments(self):
        text = cost.recorded(BUDGET, {("qsingle", "c"): cost.Cost(1000, {"close": 10})})
        self.assertEqual(text.splitlines()[0], "# header")
        self.assertEqual(cost.parse_budget(text)[("qsingle", "c")],
                         cost.Budget(1050, 10.5, 12000, 18))
        self.assertEqual(text.splitlines()[2], BUDGET.splitlines()[2])


if __name__ == "__main__":
    unittest.main()
