#!/usr/bin/env bash
# The benchmark suite in one command: installs what is missing, builds dbupgrade and the
# micro-benchmarks in Release into a folder of their own, compares dbupgrade with isql-fb on
# the same work (bench/compare.py), runs the Google Benchmark executables, and writes
#   bench/results/results.csv   the comparison table (also printed, and kept as results.txt)
#   bench/results/results.png   its plot
#   bench/results/runs.csv      every single run
#   bench/results/history.csv  the history table's cost per statement (bench/history.py)
#   bench/results/micro.csv     the micro-benchmarks' results (and <name>.json of each)
#
# Environment: DBU_BENCH_BUILD   build folder (default build-bench)
#              DBU_BENCH_RUNS    runs per program and case (default 7; short cases 2n+1)
#              DBU_BENCH_SLOW_RUNS  runs of the slowest cases (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${DBU_BENCH_BUILD:-build-bench}
results=$root/bench/results
runs=${DBU_BENCH_RUNS:-7}
slow_runs=${DBU_BENCH_SLOW_RUNS:-5}

# Only what the suite needs: compiler and CMake, Google Benchmark, the Firebird client,
# server and tools (isql-fb, gfix), python3 for the comparison, GNU time for the peak RSS,
# gnuplot for the plot.
packages=(
  build-essential cmake libbenchmark-dev
  libfbclient2 firebird-dev firebird3.0-server-core firebird3.0-utils firebird3.0-server
  python3 time gnuplot-nox
)
bash scripts/apt-install-missing.sh "${packages[@]}"

bash scripts/firebird-server.sh start

micro=(runner_micro_bench query_open_bench)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDBU_BUILD_TESTS=OFF -DDBU_BUILD_BENCH=ON \
  >/dev/null
cmake --build "$build" -j "$(nproc)" --target dbupgrade "${micro[@]}"

mkdir -p "$results"
echo "=== checks of the comparison harness"
python3 -m unittest discover -s bench -p 'compare_test.py'
echo "=== dbupgrade against isql-fb ($runs runs, $slow_runs for the slowest cases); load: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 bench/compare.py --dbupgrade "$build/dbupgrade" --out "$results" \
  --runs "$runs" --slow-runs "$slow_runs" | tee "$results/results.txt"
gnuplot -e "csv='$results/results.csv'; png='$results/results.png'" bench/plot.gp
echo "=== the history table's cost per statement ($slow_runs runs)"
python3 bench/history.py --dbupgrade "$build/dbupgrade" --out "$results" --runs "$slow_runs" \
  | tee "$results/history.txt"

# Google Benchmark's CSV writer refuses benchmarks with different counters in one file, so
# each executable writes JSON, and one CSV of all of them is made from that.
for name in "${micro[@]}"; do
  echo "=== $name"
  "$build/bench/$name" --benchmark_min_time=0.2 \
    --benchmark_out="$results/$name.json" --benchmark_out_format=json
done
python3 - "$results/micro.csv" "${micro[@]/#/$results/}" <<'PY'
import csv, json, sys
rows = []
for stem in sys.argv[2:]:
    with open(stem + ".json") as f:
        for b in json.load(f)["benchmarks"]:
            rows.append({"executable": stem.rsplit("/", 1)[-1], "name": b["name"],
                         "iterations": b["iterations"], "real_time": b["real_time"],
                         "cpu_time": b["cpu_time"], "time_unit": b["time_unit"],
                         "bytes_per_second": b.get("bytes_per_second", ""),
                         "items_per_second": b.get("items_per_second", ""),
                         "label": b.get("label", "")})
with open(sys.argv[1], "w", newline="") as f:
    writer = csv.DictWriter(f, fieldnames=list(rows[0]))
    writer.writeheader()
    writer.writerows(rows)
PY

echo "=== done in $SECONDS s; load now: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "written under $results: results.csv, results.png, results.txt, runs.csv, micro.csv" \
  "and $(printf '%s.json ' "${micro[@]}")"
