// End-to-end check of the Windows client-library path under Wine: loads fbclient.dll from
// this program's own folder as dbupgrade's Windows build will, checks that it exports every
// entry point dbupgrade binds, and on each database named on the command line runs a query
// (DATE, NUMERIC and WIN1251 text), a statement cancelled from a second thread, and the
// date and time codecs with the Windows struct tm.
//
//   smoke.exe DATABASE... [--create NEW_DATABASE] [--missing MISSING_DATABASE]
//
// The databases are dialect 1 with a table SMOKE_ROW (D DATE, N NUMERIC(9,2), S VARCHAR(20))
// holding one row: 29.02.2024 13:45:07, 12345.67, "Привет, мир". NEW_DATABASE is created and
// dropped again; attaching MISSING_DATABASE fails with a message naming it in the ANSI code page.
// Prints one line per check; exits 0 when every check passed.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <io.h>

#include "ibclient/Binding.h"

namespace {

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// The runner's own table of entry points, and those beyond it that the client library is also
// expected to export. Two structs, so that an entry point the runner comes to bind as well does
// not clash.
#define SMOKE_EXTRA_ENTRY_POINTS(X)                                                                \
    X(fb_cancel_operation)                                                                         \
    X(fb_interpret) X(isc_dsql_exec_immed2) X(isc_create_database) X(isc_portable_integer)         \
        X(isc_get_client_version) X(isc_get_client_major_version)

struct ExtraEntryPoints {
#define SMOKE_SLOT(name) decltype(&::name) name = nullptr;
    SMOKE_EXTRA_ENTRY_POINTS(SMOKE_SLOT)
#undef SMOKE_SLOT
};
ibclient::ClientEntryPoints api;
ExtraEntryPoints extra;

int failures = 0;

void report(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok)
        ++failures;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr,
                                nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), n, nullptr, nullptr);
    return out;
}

// Text in the ANSI code page (1251 under ru_RU) as the runner hands names and SQL to the
// library, and back.
std::string Ansi(const std::wstring& text) {
    if (text.empty())
        return {};
    int n =
        WideCharToMultiByte(CP_ACP, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), (int)text.size(), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromCodePage(UINT cp, const char* text, int length) {
    if (length <= 0)
        return {};
    int n = MultiByteToWideChar(cp, 0, text, length, nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(cp, 0, text, length, out.data(), n);
    return out;
}

std::string ErrorText(const ISC_STATUS* status) {
    std::string text;
    char line[512];
    const ISC_STATUS* p = status;
    while (extra.fb_interpret(line, sizeof line, &p) > 0) {
        if (!text.empty())
            text += " / ";
        text += line;
    }
    return text;
}

bool StatusHas(const ISC_STATUS* status, ISC_STATUS code) {
    for (int i = 0; i < ISC_STATUS_LENGTH - 1 && status[i] != isc_arg_end; i += 2)
        if (status[i] == isc_arg_gds && status[i + 1] == code)
            return true;
    return false;
}

bool LoadClientLibrary() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"fbclient.dll";
    HMODULE lib = LoadLibraryW(path.c_str());
    report(lib != nullptr, "LoadLibraryW " + Utf8(path));
    if (lib == nullptr)
        return false;
    std::string missing;
#define SMOKE_BIND(table, name)                                                                    \
    table.name = reinterpret_cast<decltype(table.name)>(                                           \
        reinterpret_cast<void*>(GetProcAddress(lib, #name)));                                      \
    if (table.name == nullptr)                                                                     \
        missing += " " #name;
#define SMOKE_BIND_RUNNER(name) SMOKE_BIND(api, name)
#define SMOKE_BIND_EXTRA(name) SMOKE_BIND(extra, name)
    IBCLIENT_REQUIRED_ENTRY_POINTS(SMOKE_BIND_RUNNER)
    SMOKE_BIND_RUNNER(isc_rollback_retaining)
    IBCLIENT_V6_ENTRY_POINTS(SMOKE_BIND_RUNNER)
    SMOKE_EXTRA_ENTRY_POINTS(SMOKE_BIND_EXTRA)
#undef SMOKE_BIND_EXTRA
#undef SMOKE_BIND_RUNNER
#undef SMOKE_BIND
    report(missing.empty(), "every entry point exported" + (missing.empty() ? "" : ":" + missing));
    if (!missing.empty())
        return false;
    char version[128] = {};
    extra.isc_get_client_version(version);
    std::printf("     client library: %s (major %d)\n", version,
                extra.isc_get_client_major_version());
    return true;
}

std::string Dpb() {
    std::string dpb(1, isc_dpb_version1);
    auto add = [&](char tag, const std::string& value) {
        dpb += tag;
        dpb += static_cast<char>(value.size());
        dpb += value;
    };
    add(isc_dpb_user_name, "SYSDBA");
    add(isc_dpb_password, "quillfern");
    add(isc_dpb_lc_ctype, "WIN1251");
    return dpb;
}

struct Connection {
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    isc_tr_handle tr = 0;

    bool Attach(const std::string& name) {
        const std::string dpb = Dpb();
        return api.isc_attach_database(status, (short)name.size(), name.c_str(), &db,
                                       (short)dpb.size(), dpb.data()) == 0;
    }
    bool Start() {
        static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                   isc_tpb_rec_version, isc_tpb_wait};
        struct {
            isc_db_handle* db;
            int tpb_length;
            const char* tpb;
        } teb{&db, sizeof tpb, tpb};
        return api.isc_start_multiple(status, &tr, 1, &teb) == 0;
    }
    ~Connection() {
        ISC_STATUS_ARRAY ignored;
        if (tr)
            api.isc_rollback_transaction(ignored, &tr);
        if (db)
            api.isc_detach_database(ignored, &db);
    }
};

struct Row {
    ISC_TIMESTAMP d{};
    ISC_LONG n = 0;
    short n_scale = 0;
    std::wstring s;
};

// SELECT of the one SMOKE_ROW row through prepare, describe, execute and fetch.
bool SelectRow(Connection& c, Row& row) {
    isc_stmt_handle stmt = 0;
    if (api.isc_dsql_alloc_statement2(c.status, &c.db, &stmt))
        return false;
    std::vector<char> buffer(XSQLDA_LENGTH(3));
    auto* out = reinterpret_cast<XSQLDA*>(buffer.data());
    out->version = SQLDA_VERSION1;
    out->sqln = 3;
    const char sql[] = "SELECT D, N, S FROM SMOKE_ROW";
    if (api.isc_dsql_prepare(c.status, &c.tr, &stmt, 0, sql, 1, out))
        return false;
    if (out->sqld != 3 || (out->sqlvar[0].sqltype & ~1) != SQL_TIMESTAMP ||
        (out->sqlvar[1].sqltype & ~1) != SQL_LONG || (out->sqlvar[2].sqltype & ~1) != SQL_VARYING) {
        report(false, "SELECT column types");
        return false;
    }
    short nulls[3] = {};
    char text[2 + 64] = {};
    out->sqlvar[0].sqldata = reinterpret_cast<char*>(&row.d);
    out->sqlvar[1].sqldata = reinterpret_cast<char*>(&row.n);
    out->sqlvar[2].sqldata = text;
    for (int i = 0; i < 3; ++i)
        out->sqlvar[i].sqlind = &nulls[i];
    row.n_scale = out->sqlvar[1].sqlscale;
    if (api.isc_dsql_execute(c.status, &c.tr, &stmt, 1, nullptr))
        return false;
    if (api.isc_dsql_fetch(c.status, &stmt, 1, out) != 0)
        return false;
    short length = 0;
    std::memcpy(&length, text, 2);
    row.s = FromCodePage(1251, text + 2, length);
    ISC_STATUS_ARRAY ignored;
    api.isc_dsql_free_statement(ignored, &stmt, DSQL_drop);
    return true;
}

// The date and time codecs fill and read the 36-byte Windows struct tm; the bytes after it
// must stay as they were.
void CheckDateCodecs(const ISC_TIMESTAMP& value) {
    struct Guarded {
        tm t;
        unsigned char guard[32];
    };
    auto fresh = [] {
        Guarded g;
        std::memset(&g, 0xAA, sizeof g);
        return g;
    };
    auto guard_intact = [](const Guarded& g) {
        for (unsigned char b : g.guard)
            if (b != 0xAA)
                return false;
        return true;
    };
    static_assert(sizeof(tm) == 36);

    Guarded ts = fresh();
    api.isc_decode_timestamp(&value, &ts.t);
    char shown[64];
    std::snprintf(shown, sizeof shown, "%02d.%02d.%04d %02d:%02d:%02d wday %d yday %d",
                  ts.t.tm_mday, ts.t.tm_mon + 1, ts.t.tm_year + 1900, ts.t.tm_hour, ts.t.tm_min,
                  ts.t.tm_sec, ts.t.tm_wday, ts.t.tm_yday);
    report(std::string(shown) == "29.02.2024 13:45:07 wday 4 yday 59" && guard_intact(ts),
           std::string("isc_decode_timestamp: ") + shown);

    Guarded old = fresh();
    api.isc_decode_date(reinterpret_cast<const ISC_QUAD*>(&value), &old.t);
    report(std::memcmp(&old.t, &ts.t, sizeof(tm)) == 0 && guard_intact(old), "isc_decode_date");

    Guarded date = fresh(), time = fresh();
    api.isc_decode_sql_date(&value.timestamp_date, &date.t);
    api.isc_decode_sql_time(&value.timestamp_time, &time.t);
    report(date.t.tm_year == 124 && date.t.tm_mon == 1 && date.t.tm_mday == 29 &&
               guard_intact(date),
           "isc_decode_sql_date");
    report(time.t.tm_hour == 13 && time.t.tm_min == 45 && time.t.tm_sec == 7 && guard_intact(time),
           "isc_decode_sql_time");

    ISC_TIMESTAMP again{};
    api.isc_encode_timestamp(&ts.t, &again);
    ISC_QUAD quad{};
    api.isc_encode_date(&ts.t, &quad);
    ISC_DATE d = 0;
    ISC_TIME t = 0;
    api.isc_encode_sql_date(&date.t, &d);
    api.isc_encode_sql_time(&time.t, &t);
    report(again.timestamp_date == value.timestamp_date &&
               again.timestamp_time == value.timestamp_time &&
               std::memcmp(&quad, &value, sizeof quad) == 0 && d == value.timestamp_date &&
               t == value.timestamp_time,
           "isc_encode_timestamp, isc_encode_date, isc_encode_sql_date, isc_encode_sql_time");
}

// A statement that would run for 20 seconds, cancelled with fb_cancel_operation from a second
// thread (raised once a second until it ends, so a cancel that comes before the statement
// starts does not matter); the attachment stays usable afterwards.
void CheckCancel(Connection& c, const std::string& label) {
    const char sql[] =
        "EXECUTE BLOCK AS DECLARE T DATE; BEGIN T = CAST('NOW' AS DATE) + 20.0 / 86400; "
        "WHILE (CAST('NOW' AS DATE) < T) DO BEGIN END END";
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    int raised = 0;
    std::thread canceller([&] {
        ISC_STATUS_ARRAY status;
        while (WaitForSingleObject(done, 1000) == WAIT_TIMEOUT && raised < 30) {
            extra.fb_cancel_operation(status, &c.db, fb_cancel_raise);
            ++raised;
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const ISC_STATUS rc =
        api.isc_dsql_execute_immediate(c.status, &c.db, &c.tr, 0, sql, 1, nullptr);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SetEvent(done);
    canceller.join();
    CloseHandle(done);
    char shown[160];
    std::snprintf(shown, sizeof shown,
                  "%s: fb_cancel_operation ended the statement after %.1f s (%d raised): ",
                  label.c_str(), seconds, raised);
    report(rc != 0 && StatusHas(c.status, isc_cancelled) && seconds < 15,
           shown + (rc ? ErrorText(c.status) : std::string("it ran to its end")));

    Row row;
    report(SelectRow(c, row), label + ": the attachment works after the cancel");
}

// isc_que_events would call back on a thread outside Wine: the library must refuse it.
void CheckEventsRefused(Connection& c) {
    ISC_UCHAR* events = nullptr;
    ISC_UCHAR* results = nullptr;
    const ISC_LONG length = api.isc_event_block(&events, &results, 2, "dbu_smoke_a", "dbu_smoke_b");
    report(length > 0 && events != nullptr, "isc_event_block builds a block for two names");
    static bool called = false;
    ISC_LONG id = 0;
    const ISC_STATUS rc = api.isc_que_events(
        c.status, &c.db, &id, (short)length, events,
        [](void*, ISC_USHORT, const ISC_UCHAR*) { called = true; }, nullptr);
    report(rc == isc_wish_list && StatusHas(c.status, isc_wish_list) && !called,
           "isc_que_events refused: " + ErrorText(c.status));
    api.isc_free(reinterpret_cast<ISC_SCHAR*>(events));
    api.isc_free(reinterpret_cast<ISC_SCHAR*>(results));
}

void CheckDatabase(const std::wstring& name, bool first) {
    const std::string label = Utf8(name);
    Connection c;
    if (!c.Attach(Ansi(name))) {
        report(false, label + ": attach: " + ErrorText(c.status));
        return;
    }
    report(true, label + ": attached with lc_ctype WIN1251");
    if (!c.Start()) {
        report(false, label + ": start transaction: " + ErrorText(c.status));
        return;
    }
    Row row;
    if (!SelectRow(c, row)) {
        report(false, label + ": SELECT: " + ErrorText(c.status));
        return;
    }
    report(row.n == 1234567 && row.n_scale == -2, label + ": NUMERIC(9,2) 12345.67");
    report(row.s == L"Привет, мир", label + ": VARCHAR in WIN1251: " + Utf8(row.s));
    if (first) {
        CheckDateCodecs(row.d);
        CheckEventsRefused(c);
    }
    CheckCancel(c, label);
}

void CheckCreateDrop(const std::wstring& name) {
    const std::string label = Utf8(name);
    const std::string ansi = Ansi(name);
    const std::string dpb = Dpb();
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    if (extra.isc_create_database(status, (short)ansi.size(), ansi.c_str(), &db, (short)dpb.size(),
                                  dpb.data(), 0)) {
        report(false, label + ": isc_create_database: " + ErrorText(status));
        return;
    }
    const bool there = GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
    const bool dropped = api.isc_drop_database(status, &db) == 0;
    report(there && dropped && GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES,
           label + ": isc_create_database made the file at that Windows path; dropped again");
}

void CheckMissing(const std::wstring& name) {
    const std::string ansi = Ansi(name);
    const std::string dpb = Dpb();
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    const ISC_STATUS rc = api.isc_attach_database(status, (short)ansi.size(), ansi.c_str(), &db,
                                                  (short)dpb.size(), dpb.data());
    const std::string text = ErrorText(status);
    const std::wstring shown = FromCodePage(CP_ACP, text.data(), (int)text.size());
    // The folder's name, as the Linux side reports it in the file's Unix path.
    const std::wstring folder = name.substr(0, name.find_last_of(L"\\"));
    const std::wstring folder_name = folder.substr(folder.find_last_of(L"\\") + 1);
    report(rc != 0 && shown.find(L"/" + folder_name + L"/") != std::wstring::npos,
           Utf8(name) + ": attach fails, the message in the ANSI code page: " + Utf8(shown));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    report(GetACP() == 1251, "ANSI code page " + std::to_string(GetACP()));
    if (!LoadClientLibrary())
        return 1;
    bool first = true;
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--create" && i + 1 < argc) {
            CheckCreateDrop(argv[++i]);
            continue;
        }
        if (std::wstring(argv[i]) == L"--missing" && i + 1 < argc) {
            CheckMissing(argv[++i]);
            continue;
        }
        CheckDatabase(argv[i], first);
        first = false;
    }
    std::printf("%s: %d failed\n", failures ? "FAILED" : "PASSED", failures);
    return failures ? 1 : 0;
}
