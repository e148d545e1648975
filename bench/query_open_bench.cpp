// Opening a query and fetching through its row cache, on an embedded dialect-1 database made
// once by the set-up: opening a SELECT over one million rows must cost what a one-row table
// costs (one fetch, one chunk), and fetching a whole result must grow memory linearly by whole
// chunks. Memory is reported as the change of the resident set size while the query is open.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "ibclient/IBDatabase.h"
#include "ibclient/IBQuery.h"
#include "ibclient/IBTransaction.h"

namespace {

using namespace ibclient;

// Resident set size in KiB, from /proc/self/statm.
long ResidentKiB() {
    // Freed heap memory would otherwise stay resident and hide what the next opening takes.
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void RunIsql(const std::string& script, const std::string& folder) {
    const std::string file = folder + "/setup.sql";
    std::ofstream(file) << script;
    const std::string command = "isql-fb -q -i " + file + " > " + folder + "/setup.log 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("isql-fb failed; see " + folder + "/setup.log");
    }
}

std::string FillTable(const std::string& table, int rows) {
    return "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " + std::to_string(rows) +
           ") DO BEGIN INSERT INTO " + table +
           " VALUES (:I, 'row name ' || :I, :I / 100.0, '2-JAN-2024'); I = I + 1; END END^\n";
}

// The benchmark database: ONE_ROW (1 row), MID (100,000 rows) and BIG (1,000,000 rows), each
// (ID INTEGER, NAME VARCHAR(40), AMOUNT NUMERIC(9,2), CREATED DATE), and one connection to it.
class BenchDatabase {
public:
    BenchDatabase() {
        char pattern[] = "/tmp/dbu-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        folder_ = pattern;
        path_ = folder_ + "/bench.fdb";
        std::string script =
            "SET SQL DIALECT 1;\nCREATE DATABASE '" + path_ +
            "' USER 'SYSDBA' PASSWORD 'quillfern' DEFAULT CHARACTER SET WIN1251;\n";
        for (const char* table : {"ONE_ROW", "MID", "BIG"}) {
            script += std::string("CREATE TABLE ") + table +
                      " (ID INTEGER, NAME VARCHAR(40), AMOUNT NUMERIC(9,2), CREATED DATE);\n";
        }
        script += "COMMIT;\nSET TERM ^;\n" + FillTable("ONE_ROW", 1) + FillTable("MID", 100000) +
                  FillTable("BIG", 1000000) + "SET TERM ;^\nCOMMIT;\n";
        RunIsql(script, folder_);

        database_.SetDatabaseName(path_);
        database_.SetLoginPrompt(false);
        database_.Params().SetCommaText("user_name=SYSDBA,password=quillfern,lc_ctype=WIN1251");
        database_.SetSQLDialect(1);
        transaction_.SetDefaultDatabase(&database_);
        database_.Open();
        transaction_.Start();
    }

    ~BenchDatabase() {
        try {
            database_.Close();
        } catch (...) {
        }
        std::remove(path_.c_str());
        std::remove((folder_ + "/setup.sql").c_str());
        std::remove((folder_ + "/setup.log").c_str());
        rmdir(folder_.c_str());
    }

    TIBTransaction& Transaction() { return transaction_; }

private:
    std::string folder_;
    std::string path_;
    TIBDatabase database_;
    TIBTransaction transaction_;
};

BenchDatabase& Database() {
    static BenchDatabase database;
    return database;
}

const char* TableFor(std::int64_t rows) {
    return rows == 1 ? "ONE_ROW" : rows == 100000 ? "MID" : "BIG";
}

// The runner's sequence: close, assign the text, open (prepare, execute, one fetch).
void OpenLikeTheRunner(TIBQuery& query, const std::string& text) {
    query.SetActive(false);
    query.SetSQLText(text);
    query.SetActive(true);
}

void BM_OpenSelect(benchmark::State& state) {
    TIBQuery query;
    query.SetTransaction(&Database().Transaction());
    const std::string text = std::string("SELECT * FROM ") + TableFor(state.range(0));

    // Memory of one opening, measured outside the timed loop.
    query.SetActive(false);
    query.SetSQLText(text);
    const long before = ResidentKiB();
    query.SetActive(true);
    state.counters["rss_delta_KiB"] = static_cast<double>(ResidentKiB() - before);

    for (auto _ : state) {
        OpenLikeTheRunner(query, text);
        if (query.FetchedRowCount() != 1)
            state.SkipWithError("FetchedRowCount is not 1");
        benchmark::DoNotOptimize(query.Fields()[0]->AsString());
    }
    query.SetActive(false);
    state.counters["rows_in_table"] = static_cast<double>(state.range(0));
    state.counters["peak_rss_KiB"] = static_cast<double>(PeakResidentKiB());
}
BENCHMARK(BM_OpenSelect)->Arg(1)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// Fetches the first `rows` rows of BIG through the row cache with chunks of `chunk` rows.
void FetchAll(TIBQuery& query) {
    query.Open();
    while (query.Next()) {
    }
}

void BM_FetchAll(benchmark::State& state) {
    const std::int64_t rows = state.range(0);
    TIBQuery query;
    query.SetTransaction(&Database().Transaction());
    query.SetBufferChunks(static_cast<int>(state.range(1)));
    query.SetSQLText("SELECT FIRST " + std::to_string(rows) + " * FROM BIG");

    // Memory held by the open query after the last row, measured outside the timed loop.
    const long before = ResidentKiB();
    FetchAll(query);
    const long delta = ResidentKiB() - before;
    query.Close();
    state.counters["rss_delta_KiB"] = static_cast<double>(delta);
    state.counters["bytes_per_row"] =
        static_cast<double>(delta) * 1024.0 / static_cast<double>(rows);

    for (auto _ : state) {
        FetchAll(query);
        if (query.FetchedRowCount() != rows)
            state.SkipWithError("not every row was fetched");
        query.Close();
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["time_per_row"] = benchmark::Counter(
        static_cast<double>(rows),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FetchAll)
    ->Args({25000, 1000})
    ->Args({50000, 1000})
    ->Args({100000, 1000})
    ->Args({100000, 10})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
