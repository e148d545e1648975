// The client error table and its formatting, the per-thread status vector, the composition
// of a status vector's texts into an EIBInterBaseError, and the error-message options.
#include "ibclient/Errors.h"

#include "ibclient/Binding.h"

#include <array>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

namespace ibclient {

static_assert(std::is_same_v<StatusEntry, ISC_STATUS>,
              "status entries must have the client library's ISC_STATUS width");

namespace {

// Texts by client error number; numbers of facilities this system never reaches stay empty.
constexpr std::size_t kClientErrorCount = 127;

constexpr std::array<const char*, kClientErrorCount> MakeClientErrorTexts() {
    std::array<const char*, kClientErrorCount> t{};
    t[0] = "Unknown error";
    t[1] = "InterBase library gds32.dll not found in the path. Please install InterBase to use "
           "this functionality";
    t[3] = "%s is an InterBase 6 function. Please upgrade to InterBase 6 to use this "
           "functonality";
    t[4] = "Unsupported feature";
    t[5] = "Not permitted";
    t[10] = "Operation cancelled at user's request";
    t[11] = "DPB Constant (isc_dpb_%s) is unsupported";
    t[13] = "TPB Constant (isc_tpb_%s) is unsupported";
    t[15] = "Cannot perform operation -- DB is not open";
    t[16] = "Cannot perform operation -- DB is currently open";
    t[17] = "Database name is missing";
    t[18] = "Transaction is not active";
    t[19] = "Transaction is active";
    t[20] = "Timeout values cannot be negative";
    t[21] = "No databases are listed in transaction component";
    t[24] = "Database not assigned";
    t[25] = "Transaction not assigned";
    t[26] = "XSQLDA index out of range";
    t[30] = "Invalid statement handle";
    t[31] = "IBSQL Open";
    t[32] = "IBSQL Closed";
    t[33] = "Dataset open";
    t[35] = "Unknown SQL Data type (%d)";
    t[38] = "Invalid data conversion";
    t[40] = "Blob stream cannot be read";
    t[41] = "Blob stream cannot be written";
    t[42] = "Empty query";
    t[46] = "Field \"%s\" not found";
    t[47] = "Not in edit mode";
    t[48] = "Cannot insert into dataset. (No insert query)";
    t[50] = "Cannot update. (No update query)";
    t[51] = "Cannot delete from dataset. (No delete query)";
    t[52] = "Cannot refresh row. (No refresh query)";
    t[53] = "Buffer not set";
    t[54] = "Circular references not permitted";
    t[55] = "SQL Parse Error:\r\n\r\n%s";
    t[58] = "Cannot create shared resource. (Windows error %d)";
    t[65] = "Empty SQL Statement";
    t[66] = "use Open for a Select Statement";
    t[67] = "Required Param value not set";
    t[74] = "No Records Affected";
    t[87] = "SQL Dialect Invalid";
    t[114] = "DPB Constant (%s) is unknown";
    t[115] = "TPB Constant (%s) is unknown";
    t[116] = "Unknown Error - Can't retrieve plan";
    t[117] = "Size Mismatch - Field %s size is too small for data";
    t[119] = "Trying to store a string of length %d into a field that can only contain %d";
    t[120] = "DPB Constant (isc_dpb_%s) value is longer than 255 bytes";
    t[121] = "DPB Constant (isc_dpb_%s) needs a value";
    t[122] = "TPB Constant (isc_tpb_%s) needs a table name";
    t[123] = "TPB Constant (isc_tpb_%s) value is longer than 255 bytes";
    t[124] = "%s is longer than 32767 bytes";
    t[125] = "Query is not a plain SELECT statement (statement type %d)";
    t[126] = "SQL text holds a NUL byte (code 0) at character %d; the statement is not sent, "
             "as the server would take it for the end of the text";
    return t;
}

constexpr std::array<const char*, kClientErrorCount> kClientErrorTexts = MakeClientErrorTexts();

// Fills "%s" and "%d" with the arguments in order ("%d" arguments arrive already as decimal
// text); "%%" gives "%". A placeholder without an argument left becomes empty text, surplus
// arguments are ignored, any other "%" sequence is copied unchanged.
std::string FormatClientText(const char* text, std::initializer_list<std::string> args) {
    std::string result;
    auto next = args.begin();
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '%' && (p[1] == 's' || p[1] == 'd')) {
            if (next != args.end()) {
                result += *next++;
            }
            ++p;
        } else if (*p == '%' && p[1] == '%') {
            result += '%';
            ++p;
        } else {
            result += *p;
        }
    }
    return result;
}

// Size of the text buffer handed to isc_interprete, which writes without a length limit.
constexpr std::size_t kInterpretBufferSize = 20480;

std::mutex g_optionsLock;
unsigned g_options = WithStatusText | WithSQLText;

}  // namespace

const char* ClientErrorText(int number) {
    if (number < 0 || static_cast<std::size_t>(number) >= kClientErrorCount ||
        kClientErrorTexts[static_cast<std::size_t>(number)] == nullptr) {
        return "";
    }
    return kClientErrorTexts[static_cast<std::size_t>(number)];
}

void RaiseClientError(int number, std::initializer_list<std::string> args) {
    throw EIBClientError(number, FormatClientText(ClientErrorText(number), args));
}

StatusEntry* StatusVector() {
    thread_local ISC_STATUS_ARRAY vector{};
    return vector;
}

TServerFailure ServerFailureOf(const StatusEntry* vector) noexcept {
    bool objectInUse = false;
    bool lockConflict = false;
    // Walk the clusters; the bound keeps an unterminated vector from being read past its end.
    std::size_t i = 0;
    while (i + 1 < ISC_STATUS_LENGTH && vector[i] != isc_arg_end) {
        const StatusEntry type = vector[i];
        if (type == isc_arg_gds) {
            switch (vector[i + 1]) {
            case isc_network_error:
            case isc_net_read_err:
            case isc_net_write_err:
            case isc_net_connect_err:
            case isc_net_connect_listen_err:
            case isc_lost_db_connection:
            case isc_conn_lost:
            case isc_net_server_shutdown:
            case isc_att_shutdown:
            // A server that is still starting accepts the connection before it serves attaches.
            case isc_connect_reject:
                return TServerFailure::ConnectionLost;
            case isc_obj_in_use:
                objectInUse = true;
                break;
            case isc_lock_conflict:
            case isc_deadlock:
            case isc_update_conflict:
            case isc_lock_timeout:
                lockConflict = true;
                break;
            default:
                break;
            }
        }
        i += type == isc_arg_cstring ? 3 : 2;
    }
    if (objectInUse) {
        return TServerFailure::ObjectInUse;
    }
    return lockConflict ? TServerFailure::LockConflict : TServerFailure::Other;
}

void RaiseStatusError(TClientCall call) {
    const ClientEntryPoints& api = ClientApi();
    ISC_STATUS* cursor = StatusVector();
    const auto statusCode = static_cast<int32_t>(cursor[1]);
    unsigned options = GetErrorMessageOptions();
    const int32_t sqlCode = api.isc_sqlcode(cursor);

    std::string message;
    if ((options & WithSQLCode) != 0) {
        message += "SQLCODE: " + std::to_string(sqlCode);
    }
    // The client library's SQL-code explanation (isc_sql_interprete) is never included.
    options &= ~static_cast<unsigned>(WithSQLText);
    if ((options & WithStatusText) != 0) {
        if ((options & WithSQLCode) != 0) {
            message += "\r\n";
        }
        const std::string texts = StatusTexts(cursor);
        if (!message.empty() && !texts.empty() && message.back() != '\n') {
            message += "\r\n";
        }
        message += texts;
    }
    if (!message.empty() && message.back() == '.') {
        message.pop_back();
    }
    if (sqlCode == -551) {
        throw EIBInterBaseRoleError(sqlCode, statusCode, std::move(message));
    }
    switch (ServerFailureOf(StatusVector())) {
    case TServerFailure::ConnectionLost:
        if (call == TClientCall::Commit) {
            throw EIBCommitInDoubt(sqlCode, statusCode, std::move(message));
        }
        throw EIBConnectionLost(sqlCode, statusCode, std::move(message));
    case TServerFailure::ObjectInUse:
        throw EIBObjectInUse(sqlCode, statusCode, std::move(message));
    case TServerFailure::LockConflict:
        throw EIBLockConflict(sqlCode, statusCode, std::move(message));
    case TServerFailure::Other:
        break;
    }
    throw EIBInterBaseError(sqlCode, statusCode, std::move(message));
}

std::string StatusTexts(const StatusEntry* vector) {
    const ClientEntryPoints& api = ClientApi();
    // isc_interprete moves its cursor along the vector and never writes through it.
    ISC_STATUS* cursor = const_cast<ISC_STATUS*>(vector);
    std::string message;
    std::vector<char> buffer(kInterpretBufferSize, '\0');
    while (api.isc_interprete(buffer.data(), &cursor) > 0) {
        if (!message.empty() && message.back() != '\n') {
            message += "\r\n";
        }
        message.append(buffer.data(), strnlen(buffer.data(), buffer.size()));
    }
    return message;
}

StatusEntry CheckStatus(StatusEntry result, bool raiseOnError) {
    if (raiseOnError && result > 0) {
        RaiseStatusError();
    }
    return result;
}

bool StatusVectorContains(std::initializer_list<StatusEntry> codes) {
    const StatusEntry* const vector = StatusVector();
    // Walk the clusters; the bound keeps an unterminated vector from being read past its end.
    std::size_t i = 0;
    while (i < ISC_STATUS_LENGTH && vector[i] != isc_arg_end) {
        const StatusEntry type = vector[i];
        if (type == isc_arg_gds || type == isc_arg_number) {
            if (i + 1 >= ISC_STATUS_LENGTH) {
                break;
            }
            for (const StatusEntry code : codes) {
                if (vector[i + 1] == code) {
                    return true;
                }
            }
            i += 2;
        } else if (type == isc_arg_cstring) {
            i += 3;
        } else {
            i += 2;
        }
    }
    return false;
}

unsigned GetErrorMessageOptions() {
    const std::lock_guard<std::mutex> guard(g_optionsLock);
    return g_options;
}

void SetErrorMessageOptions(unsigned options) {
    const std::lock_guard<std::mutex> guard(g_optionsLock);
    g_options = options;
}

}  // namespace ibclient
