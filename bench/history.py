#!/usr/bin/env python3
"""What the history table costs per statement: dbupgrade with and without HistoryTable.

The same inserts run on fresh copies of one template database (as in compare.py: dialect 1,
WIN1251, forced writes off), embedded and over localhost, at two script sizes; the cost of one
statement is the difference of the median times divided by the difference of the sizes, which
leaves out start-up, attach and the creation of the history table. Three kinds of run take
turns: without a history table ("plain"), with one on a fresh copy ("history": every statement
recorded and executed), and a second run over that same copy ("rerun": every statement found
and skipped). Each run is checked (exit code, SetupStatus,
the rows of T and of the history table). Prints the table with the ratios history / plain and
rerun / plain and writes history.csv.
"""

import argparse
import csv
import os
import shutil
import sys
import tempfile
import time
from dataclasses import dataclass

import compare

SIZES = (200, 2000)
TABLE = "DBU_HISTORY"
COLUMNS = ["target", "mode", "runs", "us_per_stmt", "cpu_us_per_stmt", "ratio", "cpu_ratio"]


@dataclass
class Target:
    name: str
    localhost: bool
    template: str = "small"
    databases: int = 1


def run(bench, target, mode, size, scripts):
    """One measured run of `mode` with `size` statements; returns (wall s, CPU s, database).
    "plain" and "history" start from a fresh folder and copy of the template; "rerun" runs
    again in the folder, and on the database, that "history" has just used."""
    folder = os.path.join(bench.work, f"{target.name}-{'plain' if mode == 'plain' else 'history'}"
                                      f"-{size}")
    if mode == "rerun":
        with open(os.path.join(folder, "name.txt")) as f:
            name = f.read()
    else:
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        compare.give_to_firebird(folder)
        shutil.copy2(bench.dbupgrade, os.path.join(folder, "dbupgrade"))
        with open(os.path.join(folder, "dbupgrade.sql"), "w", encoding="latin-1",
                  newline="") as f:
            f.write(scripts[size])
        name = bench.fresh_databases(target, os.path.join(folder, "data"))[0]
        with open(os.path.join(folder, "name.txt"), "w") as f:
            f.write(name)
    history = f"HistoryTable={TABLE}\r\n" if mode != "plain" else ""
    ini = os.path.join(folder, "dbupgrade.ini")
    with open(ini, "w", newline="") as f:
        f.write(f"[General]\r\nDebugMode=1\r\n{history}[Database]\r\nDb0={name}\r\n")
    seconds, cpu, _, code = compare.run_measured([os.path.join(folder, "dbupgrade")], folder,
                                                 os.path.join(folder, "stdout.txt"),
                                                 os.path.join(folder, "stderr.txt"))
    with open(ini, encoding="latin-1") as f:
        status = [line.strip() for line in f if line.lower().startswith("setupstatus=")]
    if code != 0 or status != ["SetupStatus=Continue"]:
        raise compare.BenchError(f"{target.name} {mode} {size}: exit code {code}, {status}; "
                                 f"see {folder}")
    return seconds, cpu, name


def check(bench, name, mode, size):
    """The rows of T, and of the history table where there is one."""
    query = "SELECT COUNT(*) FROM T"
    if mode != "plain":
        query += f" UNION ALL SELECT COUNT(*) FROM {TABLE}"
    got = compare.query_value(bench.work, name, query)
    expected = f"{size} {size}" if mode != "plain" else f"{size}"
    if got != expected:
        raise compare.BenchError(f"{name} ({mode}): {got} rows, {expected} expected")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dbupgrade", required=True, help="the built dbupgrade executable")
    parser.add_argument("--out", required=True, help="folder for history.csv")
    parser.add_argument("--runs", type=int, default=5, help="measured runs per mode and size")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="dbu-history-", dir="/tmp")
    os.chmod(work, 0o755)
    compare.give_to_firebird(work)
    # A lock folder of its own, as in compare.py: no database is open in two processes at once.
    os.environ["FIREBIRD_LOCK"] = os.path.join(work, "lock")
    bench = compare.Bench(os.path.abspath(args.dbupgrade), work, args.runs, args.runs)
    started = time.perf_counter()
    rows = []
    try:
        bench.make_template("small", compare.TABLE_T + ";")
        scripts = {n: compare.runner_script(compare.insert_statements(n)) for n in SIZES}
        for target in (Target("embedded", False), Target("localhost", True)):
            times = {}
            for run_no in range(args.runs + 1):  # run 0 warms up and is not counted
                for size in SIZES:
                    # "rerun" needs the database that "history" just made.
                    for mode in ("plain", "history", "rerun"):
                        seconds, cpu, name = run(bench, target, mode, size, scripts)
                        if run_no == args.runs:
                            check(bench, name, mode, size)
                        if run_no > 0:
                            times.setdefault((mode, size), ([], []))
                            times[(mode, size)][0].append(seconds)
                            times[(mode, size)][1].append(cpu)
            per = {}
            for mode in ("plain", "history", "rerun"):
                small, big = times[(mode, SIZES[0])], times[(mode, SIZES[1])]
                steps = SIZES[1] - SIZES[0]
                per[mode] = tuple((compare.median(big[i]) - compare.median(small[i])) / steps
                                  for i in (0, 1))
            for mode in ("plain", "history", "rerun"):
                rows.append({"target": target.name, "mode": mode, "runs": args.runs,
                             "us_per_stmt": f"{per[mode][0] * 1e6:.0f}",
                             "cpu_us_per_stmt": f"{per[mode][1] * 1e6:.0f}",
                             "ratio": f"{per[mode][0] / per['plain'][0]:.2f}",
                             "cpu_ratio": f"{per[mode][1] / per['plain'][1]:.2f}"})
            compare.log(f"  {target.name} done after {time.perf_counter() - started:.0f} s")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    widths = {c: max(len(c), *(len(str(r[c])) for r in rows)) for c in COLUMNS}
    print("  ".join(c.ljust(widths[c]) for c in COLUMNS))
    for r in rows:
        print("  ".join(str(r[c]).ljust(widths[c]) for c in COLUMNS))
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "history.csv"), "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=COLUMNS)
        writer.writeheader()
        writer.writerows(rows)


if __name__ == "__main__":
    try:
        main()
    except compare.BenchError as error:
        print(f"error: {error}", file=sys.stderr)
        sys.exit(1)
