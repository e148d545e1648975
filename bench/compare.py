#!/usr/bin/env python3
"""dbupgrade against Firebird's own isql-fb doing the same transactions.

Every case runs both programs as real processes on fresh copies of the same template database
(dialect 1, WIN1251, forced writes off, so that the disk flush of each commit does not hide
what the programs themselves cost): dbupgrade from a work folder of its own (the executable
copied there with dbupgrade.ini and dbupgrade.sql beside it), isql-fb with the same statements
and a COMMIT after each one (DDL under SET AUTODDL ON, values of VAR variables pasted). The runs
alternate between the two programs after one uncounted warm-up run, the order flips every run,
and the cases of one row take turns, so that a drift of the machine's load hits all of them
alike. For each run it records the wall time, the CPU time (user + system, which the load of a
shared machine disturbs far less) and the peak resident set size; the table reports medians and
dbupgrade / isql-fb.

Every run is checked: dbupgrade must exit with 0 and write the expected SetupStatus, isql-fb
must exit with 0 and print nothing on stderr, and after the last run a query on both databases
must give the same answer. A failed check stops the suite with an error instead of a timing.
"""

import argparse
import csv
import os
import shutil
import statistics
import signal
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field

USER = "SYSDBA"
PASSWORD = "quillfern"
ISQL = shutil.which("isql-fb") or "isql-fb"
GFIX = shutil.which("gfix") or "/usr/bin/gfix"
TIME = "/usr/bin/time"
# No single run of either program takes more than a few seconds; a run that takes this long
# hangs.
RUN_TIMEOUT = 180
# Filling the million-row template takes a minute at most on a busy machine.
ADMIN_TIMEOUT = 900

# The columns of each table row; the CSV has the same.
COLUMNS = [
    "row", "case", "runs", "statements", "dbupgrade_s", "isql_s", "ratio",
    "dbupgrade_cpu_s", "isql_cpu_s", "cpu_ratio", "dbupgrade_rss_mb", "isql_rss_mb",
    "dbupgrade_us_per_stmt", "isql_us_per_stmt", "dbupgrade_cpu_us_per_stmt",
    "target", "met", "met_cpu",
]


class BenchError(Exception):
    pass


def log(message):
    print(message, file=sys.stderr, flush=True)


# ----------------------------------------------------------------------------------------------
# Processes and files

def run_measured(argv, cwd, stdout_path, stderr_path, timeout=RUN_TIMEOUT):
    """Runs argv and returns (wall seconds, CPU seconds, peak RSS in KiB, exit code) of that
    program.

    GNU time starts the program and reports its peak RSS: the RSS of a direct child of this
    Python process would count the pages of the forked interpreter before the exec (the kernel
    keeps the highest mark across exec), about 30 MB that are none of the program's own. The
    CPU time (user + system, to the microsecond) comes from wait4() on GNU time, whose usage
    includes the program it waited for; GNU time itself adds about a millisecond.

    A run that takes longer than `timeout` seconds is killed with its process group and
    raises: a hanging client (a lock left behind by a killed process) must stop the suite
    with an error, not keep it waiting."""
    rss_path = stderr_path + ".rss"
    with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
        start = time.perf_counter()
        child = subprocess.Popen([TIME, "-q", "-f", "%M", "-o", rss_path, *argv], cwd=cwd,
                                 stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                 start_new_session=True)
        killer = threading.Timer(timeout, os.killpg, (child.pid, signal.SIGKILL))
        killer.start()
        try:
            _, status, usage = os.wait4(child.pid, 0)
        finally:
            killer.cancel()
        seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if seconds >= timeout:
        raise BenchError(f"{argv[0]} did not end within {timeout} s and was killed: {argv}")
    with open(rss_path) as f:
        rss = int(f.read().split()[-1])
    return seconds, usage.ru_utime + usage.ru_stime, rss, child.returncode


def give_to_firebird(path):
    """The server process runs as user firebird: files it opens over localhost must be its."""
    try:
        shutil.chown(path, "firebird", "firebird")
    except (LookupError, PermissionError):
        pass


def isql_admin(folder, script, database=None):
    """Runs an isql-fb script that prepares a database; raises when it reports an error."""
    path = os.path.join(folder, "admin.sql")
    with open(path, "w", encoding="latin-1") as f:
        f.write(script)
    argv = [ISQL, "-q", "-b", "-user", USER, "-password", PASSWORD, "-i", path]
    if database:
        argv.append(database)
    try:
        done = subprocess.run(argv, capture_output=True, timeout=ADMIN_TIMEOUT)
    except subprocess.TimeoutExpired as error:
        raise BenchError(f"isql-fb did not end within {ADMIN_TIMEOUT} s on {path}") from error
    # Warnings (a dialect-1 DATE column draws one) go to stderr too; -b makes errors fail.
    if done.returncode != 0:
        raise BenchError(f"isql-fb failed on {path}: {done.stderr.decode(errors='replace')}")
    return done.stdout.decode("latin-1")


def query_value(folder, database, sql):
    """The text isql-fb prints for a one-value query, blanks squeezed."""
    text = isql_admin(folder, f"SET HEADING OFF;\n{sql};\n", database)
    return " ".join(text.split())


# ----------------------------------------------------------------------------------------------
# Scripts: the runner's statements are separated by blank lines; isql-fb gets each statement
# with a terminator and a COMMIT after it (DML) or AUTODDL (DDL).

TABLE_T = "CREATE TABLE T (ID INTEGER, NAME VARCHAR(40), AMOUNT NUMERIC(9,2), CREATED DATE)"


def insert_statements(count):
    return [f"INSERT INTO T (ID, NAME, AMOUNT, CREATED) VALUES ({i}, 'name {i}', {i % 1000}.25, "
            f"'2-JAN-2024')" for i in range(count)]


def runner_script(statements):
    return "".join(s.replace("\n", "\r\n") + "\r\n\r\n" for s in statements)


def isql_dml_script(statements):
    return "".join(f"{s};\nCOMMIT;\n" for s in statements)


def ddl_statements(tables):
    """For each table: the table, its generator, a trigger that numbers new rows from the
    generator and a procedure that inserts a row and returns its number."""
    out = []
    for i in range(tables):
        out.append(f"CREATE TABLE ITEM_{i} (\n  ID INTEGER NOT NULL PRIMARY KEY,\n"
                   f"  NAME VARCHAR(40),\n  CHANGED TIMESTAMP)")
        out.append(f"CREATE GENERATOR GEN_ITEM_{i}")
        out.append(f"CREATE TRIGGER ITEM_{i}_BI FOR ITEM_{i}\nACTIVE BEFORE INSERT POSITION 0\n"
                   f"AS\nBEGIN\n  IF (NEW.ID IS NULL) THEN\n    NEW.ID = GEN_ID(GEN_ITEM_{i}, 1);\n"
                   f"  NEW.CHANGED = 'NOW';\nEND")
        out.append(f"CREATE PROCEDURE ADD_ITEM_{i} (ITEM_NAME VARCHAR(40))\n"
                   f"RETURNS (NEW_ID INTEGER)\nAS\nBEGIN\n  NEW_ID = GEN_ID(GEN_ITEM_{i}, 1);\n"
                   f"  INSERT INTO ITEM_{i} (ID, NAME) VALUES (:NEW_ID, :ITEM_NAME);\n"
                   f"  SUSPEND;\nEND")
    return out


def isql_ddl_script(statements):
    """Trigger and procedure bodies hold semicolons: "^" ends each statement instead. AUTODDL
    commits each DDL statement in a transaction of its own; the COMMIT after it ends isql's
    default transaction as well. Without it that transaction would stay open from the first
    statement to the last, hold back the oldest active transaction and so spare isql-fb the
    garbage collection of the system-table record versions that every DDL statement leaves,
    which the runner (no transaction open between its statements) pays for as it goes."""
    return "SET AUTODDL ON;\nSET TERM ^ ;\n" + "".join(f"{s}^\nCOMMIT^\n" for s in statements) + \
        "SET TERM ; ^\n"


# ----------------------------------------------------------------------------------------------
# Cases

@dataclass
class Case:
    row: int
    name: str
    template: str             # template key
    statements_runner: str    # the runner's script
    statements_isql: str      # isql-fb's script
    localhost: bool = False
    debug_modes: list = field(default_factory=lambda: [1])
    databases: int = 1        # how many fresh copies are listed (0: an empty list)
    setup_status: str = "Continue"
    check: str = ""           # one-value query compared on both databases after the last run
    statements: int = 0       # statement count, for the time per statement
    runs: int = 5
    group: str = ""           # cases of one group take turns run by run


@dataclass
class Result:
    seconds: list = field(default_factory=list)
    cpu: list = field(default_factory=list)
    rss_kib: list = field(default_factory=list)


class Bench:
    def __init__(self, dbupgrade, work, runs, slow_runs):
        self.dbupgrade = dbupgrade
        self.work = work
        self.runs = runs
        self.slow_runs = slow_runs
        self.templates = {}

    # Templates ---------------------------------------------------------------------------------

    def make_template(self, key, body):
        """An embedded dialect-1 WIN1251 database with `body` run in it, forced writes off
        (commits cost the same for both programs; without the disk flush the programs' own
        cost is what shows)."""
        path = os.path.join(self.work, f"template-{key}.fdb")
        isql_admin(self.work,
                   f"SET SQL DIALECT 1;\nCREATE DATABASE '{path}' USER '{USER}' PASSWORD "
                   f"'{PASSWORD}' DEFAULT CHARACTER SET WIN1251;\n{body}\nCOMMIT;\n")
        done = subprocess.run([GFIX, "-write", "async", "-user", USER, "-password", PASSWORD,
                               path], capture_output=True, timeout=RUN_TIMEOUT)
        if done.returncode != 0:
            raise BenchError(f"gfix failed: {done.stderr.decode(errors='replace')}")
        self.templates[key] = path

    def fresh_databases(self, case, folder):
        """Fresh copies of the case's template in `folder`; returns their connection names."""
        os.makedirs(folder, exist_ok=True)
        give_to_firebird(folder)
        names = []
        for i in range(case.databases):
            path = os.path.join(folder, f"db{i}.fdb")
            shutil.copyfile(self.templates[case.template], path)
            os.chmod(path, 0o660)
            give_to_firebird(path)
            names.append(("localhost:" if case.localhost else "") + path)
        # The copies' dirty pages are written out now, not while the next program runs.
        os.sync()
        return names

    # One run of each program -------------------------------------------------------------------

    def run_dbupgrade(self, case, mode, run):
        folder = os.path.join(self.work, f"{case.name}-dbu{mode}")
        if run == 0:
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            give_to_firebird(folder)
            shutil.copy2(self.dbupgrade, os.path.join(folder, "dbupgrade"))
            with open(os.path.join(folder, "dbupgrade.sql"), "w", encoding="latin-1",
                      newline="") as f:
                f.write(case.statements_runner)
        names = self.fresh_databases(case, os.path.join(folder, "data"))
        ini = os.path.join(folder, "dbupgrade.ini")
        with open(ini, "w", newline="") as f:
            f.write(f"[General]\r\nDebugMode={mode}\r\n[Database]\r\n")
            f.write("".join(f"Db{i}={name}\r\n" for i, name in enumerate(names)))
        log_path = os.path.join(folder, "dbupgrade.log")
        if os.path.exists(log_path):
            os.remove(log_path)
        seconds, cpu, rss, code = run_measured([os.path.join(folder, "dbupgrade")], folder,
                                               os.path.join(folder, "stdout.txt"),
                                               os.path.join(folder, "stderr.txt"))
        with open(ini, encoding="latin-1") as f:
            status = [line.strip() for line in f if line.lower().startswith("setupstatus=")]
        if code != 0 or status != [f"SetupStatus={case.setup_status}"]:
            raise BenchError(f"{case.name}: dbupgrade DebugMode {mode} exit code {code}, "
                             f"{status or 'no SetupStatus'}; see {folder}")
        if mode >= 5 and case.statements:
            # DebugMode 5 is measured with one log entry per statement; make sure they came.
            with open(log_path, "rb") as f:
                entries = f.read().count(b" execute SQL: ")
            if entries != case.statements:
                raise BenchError(f"{case.name}: {entries} statements logged at DebugMode "
                                 f"{mode}, {case.statements} expected; see {log_path}")
        return seconds, cpu, rss, names

    def run_isql(self, case, run):
        folder = os.path.join(self.work, f"{case.name}-isql")
        script = os.path.join(folder, "script.sql")
        if run == 0:
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder)
            give_to_firebird(folder)
        names = self.fresh_databases(case, os.path.join(folder, "data"))
        text = case.statements_isql
        if case.databases > 1:
            # One CONNECT per database, as the runner attaches one after the other; the runner
            # commits its transaction before it detaches.
            text = "SET NAMES WIN1251;\n" + "".join(
                f"CONNECT '{name}' USER '{USER}' PASSWORD '{PASSWORD}';\n{text}COMMIT;\n"
                for name in names)
        with open(script, "w", encoding="latin-1") as f:
            f.write(text)
        argv = [ISQL, "-q", "-b", "-sqldialect", "1", "-i", script]
        if case.databases == 1:
            argv[2:2] = ["-user", USER, "-password", PASSWORD, "-ch", "WIN1251"]
            argv.append(names[0])
        err = os.path.join(folder, "stderr.txt")
        seconds, cpu, rss, code = run_measured(argv, folder, os.path.join(folder, "stdout.txt"),
                                               err)
        with open(err, "rb") as f:
            errors = f.read().strip()
        if code != 0 or errors:
            raise BenchError(f"{case.name}: isql-fb exit code {code}: "
                             f"{errors.decode(errors='replace')[:500]}; see {folder}")
        return seconds, cpu, rss, names

    def run_group(self, cases):
        """Runs every case of the group once to warm up and then `case.runs` times, and
        returns, per case name, the results per program ("isql", "dbu1", "dbu5", ...). The
        cases take turns run by run (the sizes of row 6, the two tables of row 4), so that a
        change of the machine's load falls on all of them alike; within a case the programs
        alternate, in an order that flips every run."""
        results = {}
        last_names = {}
        for case in cases:
            results[case.name] = {"isql": Result()}
            for mode in case.debug_modes:
                results[case.name][f"dbu{mode}"] = Result()
            last_names[case.name] = {}
        # Run 0 warms up (the executables, libraries and templates in the page cache, the
        # work folders made) and is not counted.
        for run in range(max(case.runs for case in cases) + 1):
            for case in cases:
                if run > case.runs:
                    continue
                order = ["isql"] + [f"dbu{m}" for m in case.debug_modes]
                if run % 2:
                    order.reverse()
                for program in order:
                    if program == "isql":
                        seconds, cpu, rss, names = self.run_isql(case, run)
                    else:
                        seconds, cpu, rss, names = self.run_dbupgrade(case, int(program[3:]),
                                                                      run)
                    last_names[case.name][program] = names
                    if run == 0:
                        continue
                    result = results[case.name][program]
                    result.seconds.append(seconds)
                    result.cpu.append(cpu)
                    result.rss_kib.append(rss)
        for case in cases:
            if case.check:
                self.check_same_content(case, last_names[case.name])
        return results

    def check_same_content(self, case, names_by_program):
        """The check query gives the same answer on every program's last database."""
        answers = {program: query_value(self.work, names[0], case.check)
                   for program, names in names_by_program.items()}
        if len(set(answers.values())) != 1:
            raise BenchError(f"{case.name}: the databases differ after the run: {answers}")
        log(f"  {case.name}: {case.check[:50]}... -> {next(iter(answers.values()))}")


def median(values):
    return statistics.median(values) if values else float("nan")


def build_cases(runs, slow_runs):
    """The cases of the table. The slowest ones run `slow_runs` times; those of a tenth of a
    second or less run 2 * runs + 1 times, since the load of a shared machine moves them most,
    and so does the DDL row, where both programs do the same work to within a few per cent."""
    quick_runs = 2 * runs + 1
    cases = []
    inserts = insert_statements(5000)
    for localhost in (False, True):
        cases.append(Case(1, "r1-localhost" if localhost else "r1-embedded", "small",
                          runner_script(inserts), isql_dml_script(inserts), localhost=localhost,
                          debug_modes=[1, 5], check="SELECT COUNT(*), SUM(ID), SUM(AMOUNT) FROM T",
                          statements=5000, runs=slow_runs if localhost else runs))
    ddl = ddl_statements(300)
    cases.append(Case(2, "r2-ddl-300-tables", "small", runner_script(ddl), isql_ddl_script(ddl),
                      debug_modes=[1, 5], statements=len(ddl), runs=quick_runs,
                      check="SELECT (SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME "
                            "STARTING 'ITEM_') + (SELECT COUNT(*) FROM RDB$GENERATORS WHERE "
                            "RDB$GENERATOR_NAME STARTING 'GEN_ITEM_') + (SELECT COUNT(*) FROM "
                            "RDB$TRIGGERS WHERE RDB$TRIGGER_NAME STARTING 'ITEM_') + (SELECT "
                            "COUNT(*) FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME STARTING "
                            "'ADD_ITEM_') FROM RDB$DATABASE"))
    # Three variables in every statement; isql-fb gets the values already pasted.
    values = {"@name": "'O''Brien'", "@amount": "12.50", "@created": "'2-JAN-2024'"}
    declarations = [f"VAR {name} = {value}" for name, value in values.items()]
    with_vars = [f"INSERT INTO T (ID, NAME, AMOUNT, CREATED) VALUES ({i}, @name, @amount, "
                 f"@created)" for i in range(1000)]
    pasted = []
    for statement in with_vars:
        for name, value in values.items():
            statement = statement.replace(name, value)
        pasted.append(statement)
    cases.append(Case(3, "r3-1000-stmts-3-vars", "small", runner_script(declarations + with_vars),
                      isql_dml_script(pasted), debug_modes=[1, 5], statements=1000, runs=quick_runs,
                      check="SELECT COUNT(*), SUM(AMOUNT), MIN(NAME), MAX(CREATED) FROM T "
                            "WHERE NAME = 'O''Brien'"))
    # The first value of a SELECT over a million rows and over one row; the value goes into a
    # row of ONE_ROW so that the check sees it arrived. isql-fb reads the first row only
    # (SET ROWCOUNT 1) and gets the value pasted.
    for table in ("BIG", "ONE_ROW"):
        runner = [f"VAR @first = SELECT ID FROM {table}",
                  "INSERT INTO ONE_ROW (ID, NAME) VALUES (@first + 1000, 'copied')"]
        isql = (f"SET ROWCOUNT 1;\nSELECT ID FROM {table};\nSET ROWCOUNT 0;\n"
                "INSERT INTO ONE_ROW (ID, NAME) VALUES (0 + 1000, 'copied');\nCOMMIT;\n")
        cases.append(Case(4, f"r4-select-var-{'1m-rows' if table == 'BIG' else '1-row'}", "big",
                          runner_script(runner), isql, localhost=True, runs=quick_runs,
                          group="r4",
                          check="SELECT ID FROM ONE_ROW WHERE NAME = 'copied'"))
    # Start-up and shutdown: nothing to do at all, and 100 databases with an empty script.
    cases.append(Case(5, "r5-empty-list", "small", "", "", databases=0, setup_status="Cancel",
                      runs=quick_runs))
    cases.append(Case(5, "r5-100-databases", "small", "", "", databases=100, runs=slow_runs))
    # Growth: the same insert at three sizes, and an empty script on the same database for the
    # fixed cost of start-up, attach and shutdown that the time per statement leaves out.
    for count in (0, 1000, 5000, 20000):
        statements = insert_statements(count)
        cases.append(Case(6, f"r6-{count}-stmts", "small", runner_script(statements),
                          isql_dml_script(statements), statements=count,
                          runs=slow_runs if count >= 20000 else runs if count >= 5000
                          else quick_runs,
                          check="SELECT COUNT(*), SUM(ID) FROM T" if count else "", group="r6"))
    return cases


def format_table(rows):
    widths = {c: max(len(c), *(len(str(r[c])) for r in rows)) for c in COLUMNS}
    lines = ["  ".join(c.ljust(widths[c]) for c in COLUMNS)]
    lines.append("  ".join("-" * widths[c] for c in COLUMNS))
    for r in rows:
        lines.append("  ".join(str(r[c]).ljust(widths[c]) for c in COLUMNS))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dbupgrade", required=True, help="the built dbupgrade executable")
    parser.add_argument("--out", required=True, help="folder for results.csv")
    parser.add_argument("--runs", type=int, default=7, help="runs per program and case")
    parser.add_argument("--slow-runs", type=int, default=5,
                        help="runs for the slowest cases (localhost inserts, 100 databases, "
                             "20,000 statements)")
    parser.add_argument("--only", default="", help="run only the cases whose name holds this")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="dbu-compare-", dir="/tmp")
    os.chmod(work, 0o755)
    give_to_firebird(work)
    # The embedded engine keeps its lock table, start-up lock and trace area in files that
    # every embedded Firebird process on the machine shares (/tmp/firebird). Other users' busy
    # processes there stall these runs at random, and a process killed while it held the trace
    # area's lock hangs every later one. A lock folder of its own isolates both programs alike.
    # Safe here because no database of the suite is ever open in two processes at once (the
    # server opens only the localhost cases' copies, and through its own lock folder).
    os.environ["FIREBIRD_LOCK"] = os.path.join(work, "lock")
    bench = Bench(os.path.abspath(args.dbupgrade), work, args.runs, args.slow_runs)
    started = time.perf_counter()
    try:
        cases = [c for c in build_cases(args.runs, args.slow_runs) if args.only in c.name]
        log("templates: a small one with table T; one with BIG (1,000,000 rows) and ONE_ROW")
        bench.make_template("small", TABLE_T + ";")
        if any(c.template == "big" for c in cases):
            big = ("CREATE TABLE BIG (ID INTEGER, NAME VARCHAR(40), AMOUNT NUMERIC(9,2), "
                   "CREATED DATE);\nCREATE TABLE ONE_ROW (ID INTEGER, NAME VARCHAR(40), "
                   "AMOUNT NUMERIC(9,2), CREATED DATE);\nCOMMIT;\nSET TERM ^ ;\n")
            for table, count in (("BIG", 1000000), ("ONE_ROW", 1)):
                big += (f"EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < {count}) DO "
                        f"BEGIN INSERT INTO {table} VALUES (:I, 'row name ' || :I, :I / 100.0, "
                        f"'2-JAN-2024'); I = I + 1; END END^\n")
            bench.make_template("big", big + "SET TERM ; ^")

        measured = {}
        groups = {}
        for case in cases:
            groups.setdefault(case.group or case.name, []).append(case)
        for group in groups.values():
            for case in group:
                log(f"{case.name}: {case.runs} runs of isql-fb and dbupgrade (DebugMode "
                    f"{', '.join(map(str, case.debug_modes))})")
            for name, results in bench.run_group(group).items():
                measured[name] = (next(c for c in group if c.name == name), results)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            log(f"work folder kept: {work}")

    rows = table_rows(measured)
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "results.csv"), "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=COLUMNS)
        writer.writeheader()
        writer.writerows(rows)
    with open(os.path.join(args.out, "runs.csv"), "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["case", "program", "run", "seconds", "cpu_seconds", "rss_kib"])
        for name, (_, results) in measured.items():
            for program, r in results.items():
                for run, values in enumerate(zip(r.seconds, r.cpu, r.rss_kib)):
                    writer.writerow([name, program, run, f"{values[0]:.4f}", f"{values[1]:.4f}",
                                     values[2]])
    print(format_table(rows))
    print(f"\n{len(rows)} rows in {time.perf_counter() - started:.0f} s; "
          f"load average now {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    missed = [r["case"] for r in rows if r["met"] == "no"]
    print("targets: " + ("all met" if not missed else "MISSED by " + ", ".join(missed)))


def table_rows(measured):
    """The table: one row per case and DebugMode, with the targets checked on the wall times
    (met) and on the CPU times (met_cpu), which a busy machine disturbs far less."""
    rows = []

    def fmt(value, digits=3):
        return f"{value:.{digits}f}"

    # Row 6 leaves out what an empty script on the same database costs: start-up, attach,
    # detach and shutdown, which do not grow with the script.
    fixed = {}
    if "r6-0-stmts" in measured:
        fixed = measured["r6-0-stmts"][1]

    per_statement = []  # (row, wall us, CPU us) of dbupgrade in row 6
    for name, (case, results) in measured.items():
        isql = results["isql"]
        for mode in case.debug_modes:
            dbu = results[f"dbu{mode}"]
            ratio = median(dbu.seconds) / median(isql.seconds)
            cpu_ratio = median(dbu.cpu) / median(isql.cpu)
            row = dict.fromkeys(COLUMNS, "")
            row.update({
                "row": case.row,
                "case": name + (f" DebugMode {mode}" if case.row in (1, 2, 3) else ""),
                "runs": case.runs,
                "statements": case.statements,
                "dbupgrade_s": fmt(median(dbu.seconds)),
                "isql_s": fmt(median(isql.seconds)),
                "ratio": fmt(ratio, 2),
                "dbupgrade_cpu_s": fmt(median(dbu.cpu)),
                "isql_cpu_s": fmt(median(isql.cpu)),
                "cpu_ratio": fmt(cpu_ratio, 2),
                "dbupgrade_rss_mb": fmt(median(dbu.rss_kib) / 1024, 1),
                "isql_rss_mb": fmt(median(isql.rss_kib) / 1024, 1),
            })
            if case.row in (1, 2, 3):
                limit = 1.00 if mode == 1 else 1.10
                row["target"] = f"ratio <= {limit:.2f}"
                row["met"] = "yes" if ratio <= limit else "no"
                row["met_cpu"] = "yes" if cpu_ratio <= limit else "no"
            if case.row == 6 and case.statements and fixed:
                def per_stmt(result, base):
                    return ((median(result.seconds) - median(base.seconds)) / case.statements * 1e6,
                            (median(result.cpu) - median(base.cpu)) / case.statements * 1e6)
                dbu_us, dbu_cpu_us = per_stmt(dbu, fixed["dbu1"])
                isql_us, _ = per_stmt(isql, fixed["isql"])
                row["dbupgrade_us_per_stmt"] = fmt(dbu_us, 1)
                row["isql_us_per_stmt"] = fmt(isql_us, 1)
                row["dbupgrade_cpu_us_per_stmt"] = fmt(dbu_cpu_us, 1)
                per_statement.append((row, dbu_us, dbu_cpu_us))
            rows.append(row)

    big = measured.get("r4-select-var-1m-rows")
    one = measured.get("r4-select-var-1-row")
    if big and one:
        big_r, one_r = big[1]["dbu1"], one[1]["dbu1"]
        rss_gap = (median(big_r.rss_kib) - median(one_r.rss_kib)) / 1024
        factor = median(big_r.seconds) / median(one_r.seconds)
        cpu_factor = median(big_r.cpu) / median(one_r.cpu)
        for row in rows:
            if row["case"] == "r4-select-var-1m-rows":
                row["target"] = (f"vs 1 row: RSS {rss_gap:+.1f} MB (<= 10), "
                                 f"time x{factor:.2f} (cpu x{cpu_factor:.2f}) (<= 2)")
                row["met"] = "yes" if rss_gap <= 10 and factor <= 2 else "no"
                row["met_cpu"] = "yes" if rss_gap <= 10 and cpu_factor <= 2 else "no"

    def spread(values):
        return (max(values) - min(values)) / min(values) if min(values) > 0 else float("inf")

    if per_statement:
        wall = spread([us for _, us, _ in per_statement])
        cpu = spread([us for _, _, us in per_statement])
        for row, _, _ in per_statement:
            row["target"] = f"spread {wall * 100:.0f}% (cpu {cpu * 100:.0f}%) < 15%"
            row["met"] = "yes" if wall < 0.15 else "no"
            row["met_cpu"] = "yes" if cpu < 0.15 else "no"
    return rows


if __name__ == "__main__":
    try:
        main()
    except BenchError as error:
        log(f"benchmark failed: {error}")
        sys.exit(1)
