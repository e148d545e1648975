// Tests of the error reporting: client error numbers and texts, message composition from
// status vectors through the real isc_interprete and isc_sqlcode, real attach failures,
// StatusVectorContains, the per-thread vector and the message options.
#include "ibclient/Binding.h"
#include "ibclient/Errors.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace ibclient;

// What a raised EIBError carried.
struct Raised {
    std::string className;
    int32_t sqlErrorCode = 0;
    int32_t statusCode = 0;
    std::string message;
};

template <typename F>
Raised Capture(F&& raise) {
    try {
        raise();
    } catch (const EIBError& e) {
        return {e.ClassName(), e.SQLErrorCode(), e.StatusCode(), e.Message()};
    }
    ADD_FAILURE() << "nothing raised";
    return {};
}

// Keeps the thread's status vector and the message options as they were before the test.
class ErrorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RequireClientLibrary();
        std::copy_n(StatusVector(), saved_.size(), saved_.begin());
        savedOptions_ = GetErrorMessageOptions();
    }
    void TearDown() override {
        std::copy(saved_.begin(), saved_.end(), StatusVector());
        SetErrorMessageOptions(savedOptions_);
    }

    // Puts the given entries at the start of the thread's vector, the rest zero.
    static void SetVector(std::initializer_list<ISC_STATUS> entries) {
        std::fill_n(StatusVector(), ISC_STATUS_LENGTH, 0);
        std::copy(entries.begin(), entries.end(), StatusVector());
    }

    // A vector of one isc_random error per text (its message is exactly the argument).
    void SetTexts(const std::vector<std::string>& texts) {
        texts_ = texts;
        std::fill_n(StatusVector(), ISC_STATUS_LENGTH, 0);
        ISC_STATUS* v = StatusVector();
        for (const std::string& t : texts_) {
            *v++ = isc_arg_gds;
            *v++ = isc_random;
            *v++ = isc_arg_string;
            *v++ = reinterpret_cast<ISC_STATUS>(t.c_str());
        }
    }

private:
    std::array<ISC_STATUS, ISC_STATUS_LENGTH> saved_{};
    unsigned savedOptions_ = 0;
    std::vector<std::string> texts_;
};

TEST_F(ErrorsTest, ClientErrorNumbersAndTexts) {
    const std::vector<std::pair<int, const char*>> table = {
        {0, "Unknown error"},
        {1, "InterBase library gds32.dll not found in the path. Please install InterBase to use "
            "this functionality"},
        {3, "%s is an InterBase 6 function. Please upgrade to InterBase 6 to use this "
            "functonality"},
        {4, "Unsupported feature"},
        {5, "Not permitted"},
        {10, "Operation cancelled at user's request"},
        {11, "DPB Constant (isc_dpb_%s) is unsupported"},
        {13, "TPB Constant (isc_tpb_%s) is unsupported"},
        {15, "Cannot perform operation -- DB is not open"},
        {16, "Cannot perform operation -- DB is currently open"},
        {17, "Database name is missing"},
        {18, "Transaction is not active"},
        {19, "Transaction is active"},
        {20, "Timeout values cannot be negative"},
        {21, "No databases are listed in transaction component"},
        {24, "Database not assigned"},
        {25, "Transaction not assigned"},
        {26, "XSQLDA index out of range"},
        {30, "Invalid statement handle"},
        {31, "IBSQL Open"},
        {32, "IBSQL Closed"},
        {33, "Dataset open"},
        {35, "Unknown SQL Data type (%d)"},
        {38, "Invalid data conversion"},
        {40, "Blob stream cannot be read"},
        {41, "Blob stream cannot be written"},
        {42, "Empty query"},
        {46, "Field \"%s\" not found"},
        {47, "Not in edit mode"},
        {48, "Cannot insert into dataset. (No insert query)"},
        {50, "Cannot update. (No update query)"},
        {51, "Cannot delete from dataset. (No delete query)"},
        {52, "Cannot refresh row. (No refresh query)"},
        {53, "Buffer not set"},
        {54, "Circular references not permitted"},
        {55, "SQL Parse Error:\r\n\r\n%s"},
        {58, "Cannot create shared resource. (Windows error %d)"},
        {65, "Empty SQL Statement"},
        {66, "use Open for a Select Statement"},
        {67, "Required Param value not set"},
        {74, "No Records Affected"},
        {87, "SQL Dialect Invalid"},
        {114, "DPB Constant (%s) is unknown"},
        {115, "TPB Constant (%s) is unknown"},
        {116, "Unknown Error - Can't retrieve plan"},
        {117, "Size Mismatch - Field %s size is too small for data"},
        {119, "Trying to store a string of length %d into a field that can only contain %d"},
        {120, "DPB Constant (isc_dpb_%s) value is longer than 255 bytes"},
        {121, "DPB Constant (isc_dpb_%s) needs a value"},
        {122, "TPB Constant (isc_tpb_%s) needs a table name"},
        {123, "TPB Constant (isc_tpb_%s) value is longer than 255 bytes"},
        {124, "%s is longer than 32767 bytes"},
        {125, "Query is not a plain SELECT statement (statement type %d)"},
        {126, "SQL text holds a NUL byte (code 0) at character %d; the statement is not sent, "
              "as the server would take it for the end of the text"},
    };
    for (const auto& [number, text] : table) {
        EXPECT_STREQ(ClientErrorText(number), text) << number;
    }
    // Numbers of facilities the system never reaches, and numbers outside the table.
    for (const int number : {2, 12, 118, 127, -1}) {
        EXPECT_STREQ(ClientErrorText(number), "") << number;
    }
    // The enumeration names the same numbers.
    EXPECT_STREQ(ClientErrorText(ceNotInTransaction), "Transaction is not active");
    EXPECT_STREQ(ClientErrorText(ceNulInSQLText), table.back().second);
}

TEST_F(ErrorsTest, RaiseClientErrorFormatsAndCarriesTheNumber) {
    struct Case {
        int number;
        std::initializer_list<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {18, {}, "Transaction is not active"},
        {18, {"ignored"}, "Transaction is not active"},
        {3, {"isc_rollback_retaining"},
         "isc_rollback_retaining is an InterBase 6 function. Please upgrade to InterBase 6 to "
         "use this functonality"},
        {46, {"NAME"}, "Field \"NAME\" not found"},
        {55, {"bad"}, "SQL Parse Error:\r\n\r\nbad"},
        {35, {"-7"}, "Unknown SQL Data type (-7)"},
        {119, {"12", "10"}, "Trying to store a string of length 12 into a field that can only "
                            "contain 10"},
        {119, {"12"}, "Trying to store a string of length 12 into a field that can only contain "},
    };
    for (const Case& c : cases) {
        const Raised r = Capture([&] { RaiseClientError(c.number, c.args); });
        EXPECT_EQ(r.className, "EIBClientError");
        EXPECT_EQ(r.sqlErrorCode, c.number);
        EXPECT_EQ(r.statusCode, 0);
        EXPECT_EQ(r.message, c.message);
    }
    // The whole family catches it, down to the standard exception.
    try {
        RaiseClientError(ceDatabaseClosed);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Cannot perform operation -- DB is not open");
    }
}

TEST_F(ErrorsTest, MessageCompositionFromStatusTexts) {
    // By default the message is the status texts alone, never with "SQLCODE: ".
    EXPECT_EQ(GetErrorMessageOptions(), 6U);
    struct Case {
        std::vector<std::string> texts;
        unsigned options;
        const char* message;
    };
    const Case cases[] = {
        {{"A", "B."}, 6, "A\r\nB"},
        {{"C."}, 6, "C"},
        {{"C.."}, 6, "C."},  // only one final period goes
        {{"."}, 6, ""},
        {{"A.", "B"}, 6, "A.\r\nB"},  // a period inside stays
        {{"A\n", "B"}, 6, "A\nB"},    // a text ending with LF is followed directly
        {{"A", "B."}, 7, "SQLCODE: -901\r\nA\r\nB"},
        {{"A", "B"}, 3, "SQLCODE: -901\r\nA\r\nB"},
        {{"A."}, 1, "SQLCODE: -901"},
        {{"A"}, 0, ""},
        {{"A", "B"}, 2, "A\r\nB"},
        {{"A"}, 4, ""},  // WithSQLText alone adds nothing
        {{}, 6, ""},     // a vector without texts
    };
    for (const Case& c : cases) {
        SetTexts(c.texts);
        SetErrorMessageOptions(c.options);
        const Raised r = Capture([] { RaiseStatusError(); });
        EXPECT_EQ(r.className, "EIBInterBaseError");
        EXPECT_EQ(r.message, c.message) << "options " << c.options;
        EXPECT_EQ(r.statusCode, c.texts.empty() ? 0 : isc_random);
        if (!c.texts.empty()) {
            EXPECT_EQ(r.sqlErrorCode, -901);
        }
    }
}

TEST_F(ErrorsTest, NoPermissionIsTheRoleErrorAndStillAnEIBError) {
    const char* const operation = "SELECT";
    const char* const kind = "TABLE";
    const char* const object = "T1";
    SetVector({isc_arg_gds, isc_no_priv, isc_arg_string, reinterpret_cast<ISC_STATUS>(operation),
               isc_arg_string, reinterpret_cast<ISC_STATUS>(kind), isc_arg_string,
               reinterpret_cast<ISC_STATUS>(object)});
    const Raised r = Capture([] { RaiseStatusError(); });
    EXPECT_EQ(r.className, "EIBInterBaseRoleError");
    EXPECT_EQ(r.sqlErrorCode, -551);
    EXPECT_EQ(r.statusCode, isc_no_priv);
    EXPECT_EQ(r.message, "no permission for SELECT access to TABLE T1");
    EXPECT_THROW(RaiseStatusError(), EIBInterBaseRoleError);
    EXPECT_THROW(RaiseStatusError(), EDatabaseError);
}

// The kind of a server error comes from any of its status codes, the general one first or
// not; a lost connection outranks everything, an object in use a lock conflict; a commit that
// loses its connection is in doubt. Each kind keeps the message composition of its base.
TEST_F(ErrorsTest, StatusCodesPickTheKind) {
    const char* const object = "T";
    const auto str = reinterpret_cast<ISC_STATUS>(object);
    struct Case {
        std::initializer_list<ISC_STATUS> vector;
        TClientCall call;
        const char* className;
    };
    const Case cases[] = {
        {{isc_arg_gds, isc_network_error, isc_arg_string, str, isc_arg_gds, isc_net_read_err},
         TClientCall::Other,
         "EIBConnectionLost"},
        {{isc_arg_gds, isc_network_error, isc_arg_string, str, isc_arg_gds, isc_net_read_err},
         TClientCall::Commit,
         "EIBCommitInDoubt"},
        {{isc_arg_gds, isc_att_shutdown}, TClientCall::Other, "EIBConnectionLost"},
        {{isc_arg_gds, isc_connect_reject}, TClientCall::Other, "EIBConnectionLost"},
        {{isc_arg_gds, isc_lock_conflict}, TClientCall::Other, "EIBLockConflict"},
        {{isc_arg_gds, isc_deadlock, isc_arg_gds, isc_lock_timeout},
         TClientCall::Commit,
         "EIBLockConflict"},
        {{isc_arg_gds, isc_update_conflict}, TClientCall::Other, "EIBLockConflict"},
        {{isc_arg_gds, isc_no_meta_update, isc_arg_gds, isc_obj_in_use, isc_arg_string, str},
         TClientCall::Other,
         "EIBObjectInUse"},
        {{isc_arg_gds, isc_lock_conflict, isc_arg_gds, isc_no_meta_update, isc_arg_gds,
          isc_obj_in_use, isc_arg_string, str},
         TClientCall::Other,
         "EIBObjectInUse"},
        {{isc_arg_gds, isc_lock_conflict, isc_arg_gds, isc_lost_db_connection},
         TClientCall::Other,
         "EIBConnectionLost"},
        // A status code given as a string argument or after the end counts for nothing.
        {{isc_arg_gds, isc_random, isc_arg_number, isc_lock_conflict},
         TClientCall::Other,
         "EIBInterBaseError"},
        {{isc_arg_gds, isc_random, isc_arg_end, isc_arg_gds, isc_net_read_err},
         TClientCall::Commit,
         "EIBInterBaseError"},
    };
    for (const Case& c : cases) {
        SetVector(c.vector);
        const ISC_STATUS primary = StatusVector()[1];
        const Raised r = Capture([&] { RaiseStatusError(c.call); });
        EXPECT_EQ(r.className, c.className) << primary;
        EXPECT_EQ(r.statusCode, primary);
        EXPECT_THROW(RaiseStatusError(c.call), EIBInterBaseError);
    }
}

TEST_F(ErrorsTest, RaisingLeavesTheStatusVectorUnchanged) {
    SetTexts({"A", "B", "C"});
    std::array<ISC_STATUS, ISC_STATUS_LENGTH> before{};
    std::copy_n(StatusVector(), before.size(), before.begin());
    SetErrorMessageOptions(WithSQLCode | WithStatusText);
    Capture([] { RaiseStatusError(); });
    EXPECT_TRUE(std::equal(before.begin(), before.end(), StatusVector()));
}

// A real failed attach, embedded and (when a server answers) through the server, composed
// from the texts of the real library.
TEST_F(ErrorsTest, AttachingAMissingDatabaseRaisesTheServerTexts) {
    const testsupport::TempDir dir;
    const std::string path = dir.File("missing.fdb");
    std::vector<std::string> names = {path};
    if (testsupport::ServerAvailable()) {
        names.push_back("localhost:" + path);
    }
    const std::string user = "SYSDBA";
    const std::string password = testsupport::kServerPassword;
    std::string dpb = {static_cast<char>(isc_dpb_version1), static_cast<char>(isc_dpb_user_name),
                       static_cast<char>(user.size())};
    dpb += user;
    dpb += {static_cast<char>(isc_dpb_password), static_cast<char>(password.size())};
    dpb += password;

    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        isc_db_handle handle = 0;
        const ISC_STATUS result = ClientApi().isc_attach_database(
            StatusVector(), static_cast<short>(name.size()), name.c_str(), &handle,
            static_cast<short>(dpb.size()), dpb.data());
        ASSERT_GT(result, 0);
        EXPECT_EQ(handle, 0U);
        EXPECT_EQ(CheckStatus(result, false), result);
        EXPECT_TRUE(StatusVectorContains({isc_io_error}));
        const Raised r = Capture([&] { CheckStatus(result, true); });
        EXPECT_EQ(r.className, "EIBInterBaseError");
        EXPECT_EQ(r.sqlErrorCode, -902);
        EXPECT_EQ(r.statusCode, isc_io_error);
        EXPECT_EQ(r.message.rfind("I/O error during \"open\" operation for file \"" + path +
                                      "\"\r\n",
                                  0),
                  0U)
            << r.message;
        EXPECT_NE(r.message.find("\r\nNo such file or directory"), std::string::npos)
            << r.message;
        EXPECT_NE(r.message.back(), '\n');
    }
}

TEST_F(ErrorsTest, CheckStatusRaisesOnlyForAPositiveResultWhenAsked) {
    SetTexts({"boom"});
    EXPECT_EQ(CheckStatus(0, true), 0);
    EXPECT_EQ(CheckStatus(-1, true), -1);
    EXPECT_EQ(CheckStatus(isc_random, false), isc_random);
    EXPECT_THROW(CheckStatus(isc_random, true), EIBInterBaseError);
}

TEST_F(ErrorsTest, StatusVectorContainsWalksTheClusters) {
    const char* const text = "x";
    const auto str = reinterpret_cast<ISC_STATUS>(text);
    struct Case {
        const char* name;
        std::initializer_list<ISC_STATUS> vector;
        std::initializer_list<StatusEntry> codes;
        bool found;
    };
    const Case cases[] = {
        {"primary code", {isc_arg_gds, isc_io_error, isc_arg_end}, {isc_io_error}, true},
        {"one of several codes", {isc_arg_gds, isc_io_error}, {isc_random, isc_io_error}, true},
        {"absent code", {isc_arg_gds, isc_io_error}, {isc_random}, false},
        {"empty vector", {isc_arg_end, isc_io_error}, {isc_io_error}, false},
        {"after the end", {isc_arg_gds, isc_random, isc_arg_end, isc_io_error}, {isc_io_error},
         false},
        {"a later cluster past a string",
         {isc_arg_gds, isc_random, isc_arg_string, str, isc_arg_gds, isc_io_error},
         {isc_io_error},
         true},
        {"a string value is no code", {isc_arg_gds, isc_random, isc_arg_string, isc_io_error},
         {isc_io_error}, false},
        {"past a counted string",
         {isc_arg_gds, isc_random, isc_arg_cstring, 1, str, isc_arg_gds, isc_io_error},
         {isc_io_error},
         true},
        {"a counted string's length is no code",
         {isc_arg_gds, isc_random, isc_arg_cstring, isc_io_error, str}, {isc_io_error}, false},
        {"number arguments compare", {isc_arg_gds, isc_random, isc_arg_number, 42}, {42}, true},
        {"OS error values do not", {isc_arg_gds, isc_random, isc_arg_unix, 2}, {2}, false},
        {"last entry of a full vector",
         {5, 0, 5, 0, 5, 0, 5, 0, 5, 0, 5, 0, 5, 0, 5, 0, 5, 0, isc_arg_gds, isc_io_error},
         {isc_io_error},
         true},
    };
    for (const Case& c : cases) {
        SetVector(c.vector);
        EXPECT_EQ(StatusVectorContains(c.codes), c.found) << c.name;
    }
    // A vector without an end marker is not read past its 20 entries: neither a counted
    // string whose step leaves the vector nor a status code whose value would lie beyond it.
    std::fill_n(StatusVector(), ISC_STATUS_LENGTH, isc_arg_cstring);
    EXPECT_FALSE(StatusVectorContains({isc_arg_cstring}));
    SetVector({isc_arg_string, str, isc_arg_cstring, 1, str, isc_arg_cstring, 1, str,
               isc_arg_cstring, 1, str, isc_arg_cstring, 1, str, isc_arg_cstring, 1, str,
               isc_arg_string, str, isc_arg_gds});
    EXPECT_FALSE(StatusVectorContains({isc_io_error, isc_arg_end}));
}

TEST_F(ErrorsTest, EachThreadHasItsOwnStatusVector) {
    SetTexts({"main thread"});
    StatusEntry* const mine = StatusVector();
    StatusEntry* theirs = nullptr;
    std::array<ISC_STATUS, ISC_STATUS_LENGTH> theirInitial{};
    std::string theirMessage;
    std::thread([&] {
        theirs = StatusVector();
        std::copy_n(theirs, theirInitial.size(), theirInitial.begin());
        const std::string text = "other thread";
        const std::array<ISC_STATUS, 5> v = {isc_arg_gds, isc_random, isc_arg_string,
                                             reinterpret_cast<ISC_STATUS>(text.c_str()),
                                             isc_arg_end};
        std::copy(v.begin(), v.end(), theirs);
        theirMessage = Capture([] { RaiseStatusError(); }).message;
    }).join();
    EXPECT_NE(theirs, mine);
    EXPECT_TRUE(std::all_of(theirInitial.begin(), theirInitial.end(),
                            [](ISC_STATUS s) { return s == 0; }));
    EXPECT_EQ(theirMessage, "other thread");
    EXPECT_EQ(Capture([] { RaiseStatusError(); }).message, "main thread");
}

}  // namespace
