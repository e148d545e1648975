// The runner's pure parts on their own, without a database: reading a 50 MB script into
// statements (bytes per second, for short and long lines), pasting variables into statements
// with 100 variables declared (statements per second), and reading a settings file of 10,000
// keys (the whole file, the key list of a section, single values, the runner's full read).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "runner/Runner.h"
#include "runner/RunnerContext.h"
#include "runner/ScriptReader.h"
#include "runner/ScriptVariables.h"
#include "runner/Settings.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kScriptBytes = 50u * 1024 * 1024;
constexpr int kVariableCount = 100;
constexpr int kSettingsKeys = 10000;

// A folder of its own under /tmp for the files of this process, removed at exit.
class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/dbu-micro-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

ScratchFolder& Scratch() {
    static ScratchFolder folder;
    return folder;
}

// A script of about kScriptBytes: statements of three lines of `lineLength` bytes each (an
// INSERT whose value list spreads over the lines), separated by blank lines, CR LF line ends.
// Written once per line length and reused by every benchmark that reads it.
fs::path ScriptWithLines(std::size_t lineLength) {
    const fs::path path = Scratch().Path() / ("script-" + std::to_string(lineLength) + ".sql");
    if (fs::exists(path)) {
        return path;
    }
    std::string line(lineLength, 'x');
    const std::string head = "INSERT INTO T (NAME) VALUES ('";
    line.replace(0, head.size(), head);
    line.replace(line.size() - 2, 2, "')");
    std::ofstream out(path, std::ios::binary);
    std::size_t written = 0;
    while (written < kScriptBytes) {
        for (int i = 0; i < 3; ++i) {
            out << line << "\r\n";
        }
        out << "\r\n";
        written += 3 * (line.size() + 2) + 2;
    }
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
    return path;
}

// TScriptFile::ReadLine over the whole script, line by line.
void BM_ScriptReadLine(benchmark::State& state) {
    const fs::path path = ScriptWithLines(static_cast<std::size_t>(state.range(0)));
    const auto bytes = static_cast<int64_t>(fs::file_size(path));
    std::string line;
    for (auto _ : state) {
        runner::TScriptFile file(path.string());
        std::size_t lines = 0;
        while (file.ReadLine(line)) {
            ++lines;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ScriptReadLine)
    ->Arg(100)
    ->Arg(16 * 1024)
    ->Arg(1024 * 1024)
    ->Unit(benchmark::kMillisecond);

// RunScriptFile: the script read and cut into statements at blank lines, each statement handed
// to an executor that only counts it (the runner's own work up to the statement runner).
void BM_RunScriptFile(benchmark::State& state) {
    const fs::path path = ScriptWithLines(static_cast<std::size_t>(state.range(0)));
    const auto bytes = static_cast<int64_t>(fs::file_size(path));
    runner::RunnerContext context;
    context.ExecutablePath = (Scratch().Path() / "dbupgrade").string();
    context.FirstArgument = path.string();
    std::size_t statements = 0;
    std::size_t statementBytes = 0;
    const runner::StatementExecutor count = [&](const std::string& statement) {
        ++statements;
        statementBytes += statement.size();
    };
    for (auto _ : state) {
        runner::RunScriptFile(context, count);
    }
    if (context.ErrorFlag) {
        state.SkipWithError("the script could not be opened");
    }
    benchmark::DoNotOptimize(statementBytes);
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["statements"] =
        benchmark::Counter(static_cast<double>(statements), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RunScriptFile)
    ->Arg(100)
    ->Arg(16 * 1024)
    ->Arg(1024 * 1024)
    ->Unit(benchmark::kMillisecond);

// A list of kVariableCount variables @V0 .. @V99 with values of a typical literal's length.
runner::TScriptVariables HundredVariables() {
    runner::TScriptVariables variables;
    for (int i = 0; i < kVariableCount; ++i) {
        variables.Set("@V" + std::to_string(i), "'value number " + std::to_string(i) + "'");
    }
    return variables;
}

// SubstituteVariables on a statement that refers to `state.range(0)` of the 100 variables
// (spread over the list, so look-ups hit early and late entries alike) plus one undeclared
// name, which is dropped.
void BM_SubstituteVariables(benchmark::State& state) {
    const runner::TScriptVariables variables = HundredVariables();
    const int references = static_cast<int>(state.range(0));
    std::string statement = "INSERT INTO CUSTOMER (ID, NAME, NOTE) VALUES (1, @UNDECLARED";
    for (int i = 0; i < references; ++i) {
        statement += ", @v" + std::to_string((i * 37) % kVariableCount);
    }
    statement += ")";
    for (auto _ : state) {
        std::string text = runner::SubstituteVariables(statement, variables);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel("statements/s as items/s");
}
BENCHMARK(BM_SubstituteVariables)->Arg(0)->Arg(3)->Arg(100);

// A settings file with DebugMode and kSettingsKeys database keys, written once.
const fs::path& SettingsFile() {
    static const fs::path path = [] {
        const fs::path file = Scratch().Path() / "dbupgrade.ini";
        std::ofstream out(file, std::ios::binary);
        out << "[General]\r\nDebugMode=5\r\n[Database]\r\n";
        for (int i = 0; i < kSettingsKeys; ++i) {
            out << "Db" << i << "=localhost:/srv/data/database-" << i << ".fdb\r\n";
        }
        out << "[Common]\r\nSetupStatus=Continue\r\n";
        if (!out) {
            throw std::runtime_error("cannot write " + file.string());
        }
        return file;
    }();
    return path;
}

void BM_SettingsLoad(benchmark::State& state) {
    for (auto _ : state) {
        runner::TSettingsFile file = runner::TSettingsFile::Load(SettingsFile().string());
        benchmark::DoNotOptimize(file);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(fs::file_size(SettingsFile())));
}
BENCHMARK(BM_SettingsLoad)->Unit(benchmark::kMicrosecond);

// The key list of the 10,000-key section (cut where the 16,384-character buffer is full).
void BM_SettingsReadSection(benchmark::State& state) {
    const runner::TSettingsFile file = runner::TSettingsFile::Load(SettingsFile().string());
    std::size_t names = 0;
    for (auto _ : state) {
        const runner::SectionKeys keys = file.ReadSection("database");
        names = keys.Names.size();
        benchmark::DoNotOptimize(names);
    }
    state.counters["keys"] = static_cast<double>(names);
}
BENCHMARK(BM_SettingsReadSection)->Unit(benchmark::kMicrosecond);

// One value: the first key of the section, the last one, and a key that is not there (the
// whole section is searched).
void BM_SettingsReadString(benchmark::State& state) {
    const runner::TSettingsFile file = runner::TSettingsFile::Load(SettingsFile().string());
    const std::string key = state.range(0) == 0   ? "db0"
                            : state.range(0) == 1 ? "db" + std::to_string(kSettingsKeys - 1)
                                                  : "Missing";
    for (auto _ : state) {
        std::string value = file.ReadString("Database", key, "");
        benchmark::DoNotOptimize(value);
    }
    state.SetLabel(state.range(0) == 0   ? "first key"
                   : state.range(0) == 1 ? "last key"
                                         : "missing key");
}
BENCHMARK(BM_SettingsReadString)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// What the runner does at start: the file, DebugMode, the key list and every listed value.
void BM_ReadSettings(benchmark::State& state) {
    std::size_t databases = 0;
    for (auto _ : state) {
        const runner::RunSettings settings = runner::ReadSettings(SettingsFile().string());
        databases = settings.DatabaseList.size();
        benchmark::DoNotOptimize(databases);
    }
    state.counters["databases"] = static_cast<double>(databases);
}
BENCHMARK(BM_ReadSettings)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
