#!/usr/bin/env python3
"""Checks of the comparison harness that need no database: what a run measures, that both
programs are given the same statements, and how the table decides the targets.

Run: python3 -m unittest discover -s bench -p 'compare_test.py'
"""

import os
import tempfile
import unittest

import compare


def runner_statements(script):
    """The statements the runner reads from `script`: cut at blank lines, lines joined by CR LF,
    empty pieces left out (the runner skips them)."""
    statements, current = [], []
    for line in script.replace("\r\n", "\n").split("\n"):
        if line.strip():
            current.append(line)
        elif current:
            statements.append("\r\n".join(current))
            current = []
    if current:
        statements.append("\r\n".join(current))
    return statements


class MeasuringTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def measure(self, argv):
        out = os.path.join(self.folder.name, "out")
        return compare.run_measured(argv, self.folder.name, out, out + ".err")

    def test_peak_rss_is_the_programs_own(self):
        # A direct child of the interpreter would report the interpreter's pages as its own.
        _, _, rss_kib, code = self.measure(["true"])
        self.assertEqual(code, 0)
        self.assertLess(rss_kib, 8 * 1024)

    def test_cpu_time_and_exit_code_of_the_program(self):
        busy = "i=0; while [ $i -lt 300000 ]; do i=$((i+1)); done; exit 3"
        wall, cpu, _, code = self.measure(["sh", "-c", busy])
        self.assertEqual(code, 3)
        self.assertGreater(cpu, 0.05)
        self.assertGreaterEqual(wall, cpu * 0.5)


    def test_a_hanging_program_is_killed_and_reported(self):
        # The program runs under GNU time in a process group of its own; both must go.
        with self.assertRaises(compare.BenchError):
            compare.run_measured(["sh", "-c", "sleep 30 & wait"], self.folder.name,
                                 os.path.join(self.folder.name, "out"),
                                 os.path.join(self.folder.name, "err"), timeout=0.5)


class ScriptsTest(unittest.TestCase):
    def test_ddl_bodies_stay_one_statement_each(self):
        # A blank line inside a trigger or procedure body would cut it in two for the runner.
        ddl = compare.ddl_statements(3)
        self.assertEqual(runner_statements(compare.runner_script(ddl)),
                         [s.replace("\n", "\r\n") for s in ddl])
        isql = compare.isql_ddl_script(ddl)
        self.assertIn("SET AUTODDL ON;", isql)
        # Each statement committed; the statements, the COMMITs and SET TERM back end in "^".
        self.assertEqual(isql.count("COMMIT^\n"), len(ddl))
        self.assertEqual(isql.count("^\n"), 2 * len(ddl) + 1)

    def test_every_case_gives_both_programs_the_same_statements(self):
        for case in compare.build_cases(runs=1, slow_runs=1):
            runner = [s for s in runner_statements(case.statements_runner)
                      if not s.upper().startswith("VAR ")]
            commits = case.statements_isql.count("COMMIT;") + \
                case.statements_isql.count("COMMIT^")
            with self.subTest(case=case.name):
                if case.row == 4:
                    # The declaration's SELECT and the insert, in one transaction.
                    self.assertEqual((len(runner), commits), (1, 1))
                else:
                    self.assertEqual(commits, len(runner))
                if case.statements:
                    self.assertEqual(case.statements, len(runner))

    def test_variables_are_pasted_for_isql(self):
        case = next(c for c in compare.build_cases(1, 1) if c.row == 3)
        self.assertNotIn("@", case.statements_isql)
        self.assertIn("VALUES (7, 'O''Brien', 12.50, '2-JAN-2024');", case.statements_isql)


class RunCheckTest(unittest.TestCase):
    """A run counts only when the program did its work: stand-ins for both programs that fail
    in the ways a real run can must stop the suite."""

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name
        self.template = os.path.join(self.folder, "template.fdb")
        with open(self.template, "wb") as f:
            f.write(b"template pages")
        self.case = compare.Case(1, "stand-in", "small", "INSERT\r\n", "INSERT;\nCOMMIT;\n",
                                 databases=2)

    def bench_with(self, dbupgrade_body):
        program = os.path.join(self.folder, "program")
        with open(program, "w") as f:
            f.write("#!/bin/sh\n" + dbupgrade_body)
        os.chmod(program, 0o755)
        work = os.path.join(self.folder, "work")
        os.makedirs(work, exist_ok=True)
        bench = compare.Bench(program, work, 1, 1)
        bench.templates["small"] = self.template
        return bench

    def test_a_run_that_ends_with_cancel_or_an_exit_code_fails(self):
        for body in ('printf "SetupStatus=Cancel\\r\\n" >> "$(dirname "$0")/dbupgrade.ini"\n',
                     'printf "SetupStatus=Continue\\r\\n" >> "$(dirname "$0")/dbupgrade.ini"\n'
                     'exit 1\n',
                     ":\n"):  # no SetupStatus written at all
            with self.subTest(body=body), self.assertRaises(compare.BenchError):
                self.bench_with(body).run_dbupgrade(self.case, 1, 0)

    def test_the_runner_finds_its_files_and_fresh_copies_beside_it(self):
        body = ('cd "$(dirname "$0")" && cp dbupgrade.ini seen.ini && cp dbupgrade.sql seen.sql'
                ' && printf "SetupStatus=Continue\\r\\n" >> dbupgrade.ini\n')
        bench = self.bench_with(body)
        _, _, _, names = bench.run_dbupgrade(self.case, 5, 0)
        folder = os.path.join(bench.work, "stand-in-dbu5")
        with open(os.path.join(folder, "seen.ini"), newline="") as f:
            self.assertEqual(f.read(), "[General]\r\nDebugMode=5\r\n[Database]\r\n" +
                             "".join(f"Db{i}={n}\r\n" for i, n in enumerate(names)))
        with open(os.path.join(folder, "seen.sql"), newline="") as f:
            self.assertEqual(f.read(), "INSERT\r\n")
        self.assertEqual(len(set(names)), 2)
        for name in names:
            with open(name, "rb") as f:
                self.assertEqual(f.read(), b"template pages")

    def test_isql_errors_on_stderr_fail_the_run(self):
        # isql-fb without -bail reports a failed statement on stderr and still exits with 0.
        fake_isql = os.path.join(self.folder, "isql-fb")
        with open(fake_isql, "w") as f:
            f.write('#!/bin/sh\necho "Statement failed, SQLSTATE = 42S02" >&2\n')
        os.chmod(fake_isql, 0o755)
        saved = compare.ISQL
        compare.ISQL = fake_isql
        self.addCleanup(setattr, compare, "ISQL", saved)
        case = compare.Case(1, "stand-in", "small", "", "", databases=1)
        with self.assertRaises(compare.BenchError):
            self.bench_with(":\n").run_isql(case, 0)


def result(seconds, cpu=None, rss_kib=10240):
    return compare.Result(seconds=list(seconds), cpu=list(cpu or seconds),
                          rss_kib=[rss_kib] * len(seconds))


class TableTest(unittest.TestCase):
    def case(self, name):
        return next(c for c in compare.build_cases(1, 1) if c.name == name)

    def test_ratio_limits_by_debug_mode(self):
        measured = {"r1-embedded": (self.case("r1-embedded"), {
            "isql": result([1.0, 1.0, 9.0]),
            "dbu1": result([1.02, 0.5, 1.02]),   # median 1.02: over 1.00
            "dbu5": result([1.05, 1.05, 0.1]),   # median 1.05: within 1.10
        })}
        rows = compare.table_rows(measured)
        self.assertEqual([(r["ratio"], r["met"]) for r in rows], [("1.02", "no"), ("1.05", "yes")])

    def test_row4_compares_the_big_table_with_the_one_row_table(self):
        def measured(big_rss_mb, big_seconds):
            return {
                "r4-select-var-1m-rows": (self.case("r4-select-var-1m-rows"), {
                    "isql": result([1.0]), "dbu1": result([big_seconds], rss_kib=big_rss_mb * 1024)}),
                "r4-select-var-1-row": (self.case("r4-select-var-1-row"), {
                    "isql": result([1.0]), "dbu1": result([0.1], rss_kib=6 * 1024)}),
            }
        met = [r["met"] for r in compare.table_rows(measured(15, 0.19)) if r["met"]]
        self.assertEqual(met, ["yes"])
        self.assertEqual([r["met"] for r in compare.table_rows(measured(17, 0.1)) if r["met"]],
                         ["no"])
        self.assertEqual([r["met"] for r in compare.table_rows(measured(6, 0.21)) if r["met"]],
                         ["no"])

    def test_row6_time_per_statement_leaves_out_the_fixed_cost(self):
        # 50 ms fixed cost and 30 us per statement: flat once the fixed cost is subtracted,
        # although the raw time per statement falls from 80 us to 32.5 us.
        measured = {}
        for count in (0, 1000, 5000, 20000):
            seconds = 0.05 + count * 30e-6
            measured[f"r6-{count}-stmts"] = (self.case(f"r6-{count}-stmts"), {
                "isql": result([seconds]), "dbu1": result([seconds])})
        rows = [r for r in compare.table_rows(measured) if r["dbupgrade_us_per_stmt"]]
        self.assertEqual([r["dbupgrade_us_per_stmt"] for r in rows], ["30.0"] * 3)
        self.assertEqual({r["met"] for r in rows}, {"yes"})

        measured["r6-20000-stmts"][1]["dbu1"] = result([0.05 + 20000 * 36e-6])
        rows = [r for r in compare.table_rows(measured) if r["dbupgrade_us_per_stmt"]]
        self.assertEqual({r["met"] for r in rows}, {"no"})  # 20% growth


if __name__ == "__main__":
    unittest.main()
