// Parameter lines and their encoding into the DPB and the TPB of the InterBase API.
#include "ibclient/ParamList.h"

#include <array>
#include <limits>
#include <utility>

#include "ibclient/Errors.h"
#include "ibclient/TextFormat.h"
#include "platform/Text.h"

namespace ibclient {

TParamList::TParamList(std::function<void()> beforeEdit, std::function<void()> afterEdit)
    : beforeEdit_(std::move(beforeEdit)), afterEdit_(std::move(afterEdit)) {}

template <class Edit>
void TParamList::Edit_(Edit&& edit) {
    if (beforeEdit_) {
        beforeEdit_();
    }
    edit();
    if (afterEdit_) {
        afterEdit_();
    }
}

void TParamList::Assign(std::vector<std::string> lines) {
    Edit_([&] { lines_ = std::move(lines); });
}

void TParamList::SetCommaText(std::string_view text) {
    std::vector<std::string> lines;
    if (!text.empty()) {
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = text.find(',', start);
            lines.emplace_back(
                text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
            if (comma == std::string_view::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    Assign(std::move(lines));
}

void TParamList::Add(std::string line) {
    Edit_([&] { lines_.push_back(std::move(line)); });
}

void TParamList::Insert(std::size_t index, std::string line) {
    if (index > lines_.size()) {
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    }
    Edit_([&] {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
    });
}

void TParamList::Set(std::size_t index, std::string line) {
    if (index >= lines_.size()) {
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    }
    Edit_([&] { lines_[index] = std::move(line); });
}

void TParamList::Delete(std::size_t index) {
    if (index >= lines_.size()) {
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    }
    Edit_([&] { lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index)); });
}

void TParamList::Clear() {
    Edit_([&] { lines_.clear(); });
}

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = LowerAscii(c);
    }
    return result;
}

std::string_view NamePart(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view{} : line.substr(0, eq);
}

int FindLine(const std::vector<std::string>& lines, std::string_view name) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t eq = lines[i].find('=');
        if (eq != std::string::npos &&
            platform::SameTextAscii(std::string_view(lines[i]).substr(0, eq), name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void CheckBufferLength(const std::vector<std::uint8_t>& buffer, const char* kind) {
    if (buffer.size() > kMaxParamBufferLength) {
        RaiseClientError(ceParamBufferTooLong, {kind});
    }
}

// The DPB names, numbered 1 to 67 as the published isc_dpb_ constants.
// clang-format off
constexpr std::array<std::string_view, 67> kDPBNames{
    "cdd_pathname",     "allocation",        "journal",          "page_size",
    "num_buffers",      "buffer_length",     "debug",            "garbage_collect",
    "verify",           "sweep",             "enable_journal",   "disable_journal",
    "dbkey_scope",      "number_of_users",   "trace",            "no_garbage_collect",
    "damaged",          "license",           "sys_user_name",    "encrypt_key",
    "activate_shadow",  "sweep_interval",    "delete_shadow",    "force_write",
    "begin_log",        "quit_log",          "no_reserve",       "user_name",
    "password",         "password_enc",      "sys_user_name_enc", "interp",
    "online_dump",      "old_file_size",     "old_num_files",    "old_file",
    "old_start_page",   "old_start_seqno",   "old_start_file",   "drop_walfile",
    "old_dump_id",      "wal_backup_dir",    "wal_chkptlen",     "wal_numbufs",
    "wal_bufsize",      "wal_grp_cmt_wait",  "lc_messages",      "lc_ctype",
    "cache_manager",    "shutdown",          "online",           "shutdown_delay",
    "reserved",         "overwrite",         "sec_attach",       "disable_wal",
    "connect_timeout",  "dummy_packet_interval", "gbak_attach",  "sql_role_name",
    "set_page_buffers", "working_directory", "sql_dialect",      "set_db_readonly",
    "set_db_sql_dialect", "gfix_attach",     "gstat_attach",
};
// clang-format on

// Number of a DPB name (1 to 67), or 0.
int DPBCode(std::string_view key) {
    for (std::size_t i = 0; i < kDPBNames.size(); ++i) {
        if (kDPBNames[i] == key) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

enum class TPBKind { Flag, LockTable, Integer, Unsupported };

struct TPBEntry {
    std::string_view name;
    TPBKind kind;
};

// The TPB names, numbered 1 to 21 as the published isc_tpb_ constants.
// clang-format off
constexpr std::array<TPBEntry, 21> kTPBNames{{
    {"consistency", TPBKind::Flag},       {"concurrency", TPBKind::Flag},
    {"shared", TPBKind::Flag},            {"protected", TPBKind::Flag},
    {"exclusive", TPBKind::Flag},         {"wait", TPBKind::Flag},
    {"nowait", TPBKind::Flag},            {"read", TPBKind::Flag},
    {"write", TPBKind::Flag},             {"lock_read", TPBKind::LockTable},
    {"lock_write", TPBKind::LockTable},   {"verb_time", TPBKind::Unsupported},
    {"commit_time", TPBKind::Unsupported}, {"ignore_limbo", TPBKind::Flag},
    {"read_committed", TPBKind::Flag},    {"autocommit", TPBKind::Unsupported},
    {"rec_version", TPBKind::Flag},       {"no_rec_version", TPBKind::Flag},
    {"restart_requests", TPBKind::Unsupported}, {"no_auto_undo", TPBKind::Unsupported},
    {"lock_timeout", TPBKind::Integer},
}};
// clang-format on

void AppendCounted(std::vector<std::uint8_t>& buffer, int code, std::string_view value) {
    buffer.push_back(static_cast<std::uint8_t>(code));
    buffer.push_back(static_cast<std::uint8_t>(value.size()));
    buffer.insert(buffer.end(), value.begin(), value.end());
}

// The code, the length 4 and `number` in 4 bytes, little-endian.
void AppendInteger(std::vector<std::uint8_t>& buffer, int code, std::int32_t number) {
    const auto bits = static_cast<std::uint32_t>(number);
    buffer.insert(buffer.end(),
                  {static_cast<std::uint8_t>(code), 4, static_cast<std::uint8_t>(bits & 0xFF),
                   static_cast<std::uint8_t>((bits >> 8) & 0xFF),
                   static_cast<std::uint8_t>((bits >> 16) & 0xFF),
                   static_cast<std::uint8_t>((bits >> 24) & 0xFF)});
}

}  // namespace

std::string TParamList::Value(std::string_view name) const {
    const int index = FindLine(lines_, name);
    if (index < 0) {
        return {};
    }
    const std::string& line = lines_[static_cast<std::size_t>(index)];
    return line.substr(line.find('=') + 1);
}

void TParamList::SetValue(std::string_view name, std::string_view value) {
    const int index = FindLine(lines_, name);
    std::string line = std::string(name) + "=" + std::string(value);
    if (index < 0) {
        Add(std::move(line));
    } else {
        Set(static_cast<std::size_t>(index), std::move(line));
    }
}

std::int32_t StrToInt(std::string_view text) {
    const auto parsed = ParseIntegerText(text);
    // Hexadecimal texts may give the full 32-bit pattern (for example $FFFFFFFF = -1).
    const std::int64_t low = parsed && parsed->Hexadecimal ? -0xFFFFFFFFLL : INT32_MIN;
    const std::int64_t high = parsed && parsed->Hexadecimal ? 0xFFFFFFFFLL : INT32_MAX;
    if (!parsed || parsed->Value < low || parsed->Value > high) {
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(parsed->Value & 0xFFFFFFFFLL));
}

std::vector<std::uint8_t> BuildDPB(const std::vector<std::string>& params) {
    std::vector<std::uint8_t> dpb{1};  // isc_dpb_version1
    for (const std::string& line : params) {
        const std::string_view name = NamePart(line);
        if (platform::IsBlank(name)) {
            continue;
        }
        std::string key = LowerAscii(name);
        if (key.starts_with("isc_dpb_")) {
            key.erase(0, 8);
        }
        const std::string_view value = std::string_view(line).substr(name.size() + 1);
        const int code = DPBCode(key);
        switch (code) {
        case 0:
            RaiseClientError(ceDPBConstantUnknown, {std::string(name)});
        // license, sys_user_name, encrypt_key, user_name, password, password_enc,
        // lc_messages, lc_ctype, sql_role_name, sql_dialect: a counted text.
        case 18:
        case 19:
        case 20:
        case 28:
        case 29:
        case 30:
        case 47:
        case 48:
        case 60:
        case 63: {
            if (value.size() > 255) {
                RaiseClientError(ceDPBValueTooLong, {key});
            }
            if (code != 63) {
                AppendCounted(dpb, code, value);
                break;
            }
            // The dialect travels as a byte: its first digit becomes the digit's value.
            if (value.empty()) {
                RaiseClientError(ceDPBValueMissing, {"sql_dialect"});
            }
            std::string dialect(value);
            dialect[0] = static_cast<char>(dialect[0] - '0');
            AppendCounted(dpb, code, dialect);
            break;
        }
        // num_buffers, verify, dbkey_scope, damaged, force_write, no_reserve: one byte.
        case 5:
        case 9:
        case 13:
        case 17:
        case 24:
        case 27: {
            const std::int32_t number = StrToInt(value);
            dpb.insert(dpb.end(), {static_cast<std::uint8_t>(code), 1,
                                   static_cast<std::uint8_t>(number & 0xFF)});
            break;
        }
        case 10:  // sweep: the value is ignored
            dpb.insert(dpb.end(), {10, 1, 2});
            break;
        // activate_shadow, delete_shadow, begin_log, quit_log: the value is ignored.
        case 21:
        case 23:
        case 25:
        case 26:
            dpb.insert(dpb.end(), {static_cast<std::uint8_t>(code), 1, 0});
            break;
        // sweep_interval, connect_timeout (seconds): 4 bytes, little-endian.
        case 22:
        case 57:
            AppendInteger(dpb, code, StrToInt(value));
            break;
        default:
            RaiseClientError(ceDPBConstantNotSupported,
                             {std::string(kDPBNames[static_cast<std::size_t>(code - 1)])});
        }
        CheckBufferLength(dpb, "DPB");
    }
    return dpb;
}

std::vector<std::uint8_t> BuildTPB(const std::vector<std::string>& params) {
    std::vector<std::uint8_t> tpb;
    if (params.empty()) {
        return tpb;
    }
    tpb.push_back(3);  // isc_tpb_version3
    for (const std::string& line : params) {
        if (platform::IsBlank(line)) {
            continue;
        }
        const std::size_t eq = line.find('=');
        const bool hasValue = eq != std::string::npos;
        // The name as written: the name part, or the whole line when it has no "=".
        const std::string_view name =
            hasValue ? std::string_view(line).substr(0, eq) : std::string_view(line);
        const std::string_view value =
            hasValue ? std::string_view(line).substr(eq + 1) : std::string_view{};
        std::string key = LowerAscii(name);
        if (key.starts_with("isc_tpb_")) {
            key.erase(0, 8);
        }
        std::size_t index = 0;
        while (index < kTPBNames.size() && kTPBNames[index].name != key) {
            ++index;
        }
        if (index == kTPBNames.size()) {
            RaiseClientError(ceTPBConstantUnknown, {std::string(name)});
        }
        const TPBEntry& entry = kTPBNames[index];
        const int code = static_cast<int>(index) + 1;
        switch (entry.kind) {
        case TPBKind::Flag:
            tpb.push_back(static_cast<std::uint8_t>(code));
            break;
        case TPBKind::LockTable:
            // A table lock names its table; without one the server would be sent garbage.
            if (value.empty()) {
                RaiseClientError(ceTPBValueMissing, {std::string(entry.name)});
            }
            if (value.size() > 255) {
                RaiseClientError(ceTPBValueTooLong, {std::string(entry.name)});
            }
            AppendCounted(tpb, code, value);
            break;
        case TPBKind::Integer:
            // Seconds a lock conflict is waited for (with wait) before the statement fails.
            AppendInteger(tpb, code, StrToInt(value));
            break;
        case TPBKind::Unsupported:
            RaiseClientError(ceTPBConstantNotSupported, {std::string(entry.name)});
        }
        CheckBufferLength(tpb, "TPB");
    }
    return tpb;
}

}  // namespace ibclient
