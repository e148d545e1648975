// The parameter scans of the statement (markers ":name", "?name", ':"quoted"' outside string
// literals, quoted identifiers and comments) and of the query (":name" outside quotes, "::").
//
// Input: the SQL text; both scans see every input. Properties: the statement's scan raises
// only its parse error, the query's scan never raises; the text handed to the server is never
// longer than the input (each marker becomes one "?" and its name is dropped); a text without
// markers comes back unchanged with no names; no more names than markers, and a "?" in the
// text for every name.
#include "fuzz/FuzzCheck.h"
#include "ibclient/Errors.h"
#include "ibclient/IBQuery.h"
#include "ibclient/IBSQL.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

std::size_t Count(const std::string& text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

void CheckQueryScan(const std::string& sql) {
    const ibclient::TParsedSQL parsed = ibclient::ScanParamMarkers(sql);
    FUZZ_CHECK(parsed.Text.size() <= sql.size(),
               fuzzcheck::Shown(sql) + " grew to " + fuzzcheck::Shown(parsed.Text));
    if (Count(sql, ':') == 0) {
        FUZZ_CHECK(parsed.Text == sql && parsed.Names.empty(),
                   fuzzcheck::Shown(sql) + " changed to " + fuzzcheck::Shown(parsed.Text));
    }
    FUZZ_CHECK(parsed.Names.size() <= Count(sql, ':'), "more names than colons");
    FUZZ_CHECK(parsed.Names.size() <= Count(parsed.Text, '?'),
               "names without their \"?\": " + fuzzcheck::Shown(sql));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string sql(reinterpret_cast<const char*>(data), size);
    CheckQueryScan(sql);
    ibclient::TParsedSQL parsed;
    try {
        parsed = ibclient::ParseSQLParameters(sql);
    } catch (const ibclient::EIBClientError& error) {
        FUZZ_CHECK(error.Message().find("SQL Parse Error:") != std::string::npos,
                   "unexpected error " + fuzzcheck::Shown(error.Message()));
        return 0;
    }
    FUZZ_CHECK(parsed.Text.size() <= sql.size(),
               fuzzcheck::Shown(sql) + " grew to " + fuzzcheck::Shown(parsed.Text));
    const auto markers = static_cast<std::size_t>(std::count(sql.begin(), sql.end(), ':') +
                                                  std::count(sql.begin(), sql.end(), '?'));
    if (markers == 0) {
        FUZZ_CHECK(parsed.Text == sql && parsed.Names.empty(),
                   fuzzcheck::Shown(sql) + " changed to " + fuzzcheck::Shown(parsed.Text));
    }
    FUZZ_CHECK(parsed.Names.size() <= markers, "more names than markers in " + fuzzcheck::Shown(sql));
    const auto questionMarks =
        static_cast<std::size_t>(std::count(parsed.Text.begin(), parsed.Text.end(), '?'));
    FUZZ_CHECK(parsed.Names.size() <= questionMarks,
               "names without their \"?\": " + fuzzcheck::Shown(sql) + " -> " +
                   fuzzcheck::Shown(parsed.Text));
    return 0;
}
