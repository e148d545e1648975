// Tests of the parameter lines and their DPB and TPB encodings.
#include "ibclient/Errors.h"
#include "ibclient/ParamList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace ibclient;
using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(std::initializer_list<int> values) {
    Bytes bytes;
    for (const int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

void Append(Bytes& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

// Runs `build` and returns the client error it raised (number and text).
template <class Build>
std::pair<int, std::string> ClientErrorOf(Build&& build) {
    try {
        build();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.StatusCode(), 0);
        return {e.SQLErrorCode(), e.Message()};
    }
    ADD_FAILURE() << "no client error raised";
    return {-1, ""};
}

TEST(DPBTest, RunnerParametersGiveTheTwentyNineByteBufferInAnySpelling) {
    Bytes expected{1, 28, 6};
    Append(expected, "SYSDBA");
    expected.insert(expected.end(), {29, 9});
    Append(expected, "quillfern");
    expected.insert(expected.end(), {48, 7});
    Append(expected, "WIN1251");
    ASSERT_EQ(expected.size(), 29u);

    EXPECT_EQ(BuildDPB({"user_name=SYSDBA", "password=quillfern", "lc_ctype=WIN1251"}), expected);
    EXPECT_EQ(
        BuildDPB({"isc_dpb_user_name=SYSDBA", "ISC_DPB_PASSWORD=quillfern", "LC_Ctype=WIN1251"}),
        expected);
    // Lines without "=" and lines whose name part is blank are skipped.
    EXPECT_EQ(BuildDPB({"", "user_name=SYSDBA", "no equals sign", "password=quillfern", "  =x",
                        "\t=y", "=z", "lc_ctype=WIN1251"}),
              expected);
    EXPECT_EQ(BuildDPB({}), BytesOf({1}));
}

TEST(DPBTest, ValuesAreTakenUnchangedAfterTheFirstEqualsSign) {
    Bytes expected{1, 29, 5};
    Append(expected, " a=b ");
    EXPECT_EQ(BuildDPB({"password= a=b "}), expected);
}

TEST(DPBTest, NumericAndFixedEncodings) {
    EXPECT_EQ(BuildDPB({"num_buffers=300"}), BytesOf({1, 5, 1, 300 & 0xFF}));
    EXPECT_EQ(BuildDPB({"force_write=1", "no_reserve=0"}), BytesOf({1, 24, 1, 1, 27, 1, 0}));
    EXPECT_EQ(BuildDPB({"sweep=whatever"}), BytesOf({1, 10, 1, 2}));
    EXPECT_EQ(BuildDPB({"activate_shadow=", "delete_shadow=x", "begin_log=1", "quit_log=1"}),
              BytesOf({1, 21, 1, 0, 23, 1, 0, 25, 1, 0, 26, 1, 0}));
    EXPECT_EQ(BuildDPB({"sweep_interval=20000"}), BytesOf({1, 22, 4, 0x20, 0x4E, 0, 0}));
    EXPECT_EQ(BuildDPB({"sweep_interval=-2"}), BytesOf({1, 22, 4, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(BuildDPB({"isc_dpb_connect_timeout=300"}), BytesOf({1, 57, 4, 0x2C, 0x01, 0, 0}));
    EXPECT_THROW(BuildDPB({"connect_timeout=soon"}), EConvertError);
    EXPECT_EQ(BuildDPB({"sql_dialect=3"}), BytesOf({1, 63, 1, 3}));
    EXPECT_EQ(BuildDPB({"sql_role_name=ADMIN"}), BytesOf({1, 60, 5, 'A', 'D', 'M', 'I', 'N'}));
}

TEST(DPBTest, UnknownUnsupportedAndNonNumericNames) {
    EXPECT_EQ(ClientErrorOf([] { BuildDPB({"usr_name=x"}); }),
              std::make_pair(114, std::string("DPB Constant (usr_name) is unknown")));
    // A leading blank is part of the name, so the name is not recognised.
    EXPECT_EQ(ClientErrorOf([] { BuildDPB({" user_name=SYSDBA"}); }),
              std::make_pair(114, std::string("DPB Constant ( user_name) is unknown")));
    // The unknown name is reported as written, prefix and capitals included.
    EXPECT_EQ(ClientErrorOf([] { BuildDPB({"ISC_DPB_Bogus=1"}); }).second,
              "DPB Constant (ISC_DPB_Bogus) is unknown");
    EXPECT_EQ(ClientErrorOf([] { BuildDPB({"Page_Size=4096"}); }),
              std::make_pair(11, std::string("DPB Constant (isc_dpb_page_size) is unsupported")));
    EXPECT_EQ(ClientErrorOf([] { BuildDPB({"gstat_attach=1"}); }).first, 11);
    EXPECT_THROW(BuildDPB({"num_buffers=many"}), EConvertError);
    try {
        BuildDPB({"sweep_interval=12x"});
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'12x' is not a valid integer value");
    }
}

TEST(DPBTest, ValuesTheBufferCannotCarryAreRefused) {
    const std::string longest(255, 'p');
    const Bytes dpb = BuildDPB({"password=" + longest});
    ASSERT_EQ(dpb.size(), 258u);
    EXPECT_EQ(dpb[2], 255);

    EXPECT_EQ(
        ClientErrorOf([&] { BuildDPB({"isc_dpb_password=" + longest + "p"}); }),
        std::make_pair(
            120, std::string("DPB Constant (isc_dpb_password) value is longer than 255 bytes")));
    EXPECT_EQ(ClientErrorOf([] { BuildDPB({"sql_dialect="}); }),
              std::make_pair(121, std::string("DPB Constant (isc_dpb_sql_dialect) needs a value")));

    // 130 lines of 257 bytes each overflow the 16-bit signed count.
    const std::vector<std::string> many(130, "lc_messages=" + longest);
    EXPECT_EQ(ClientErrorOf([&] { BuildDPB(many); }),
              std::make_pair(124, std::string("DPB is longer than 32767 bytes")));
    const std::vector<std::string> fitting(127, "lc_messages=" + longest);
    EXPECT_EQ(BuildDPB(fitting).size(), 1u + 127u * 257u);
}

TEST(TPBTest, FlagsPrefixesCapitalsAndBlankLines) {
    EXPECT_TRUE(BuildTPB({}).empty());
    EXPECT_EQ(BuildTPB({"read_committed", "rec_version", "nowait"}), BytesOf({3, 15, 17, 7}));
    for (const char* write :
         {"write", "isc_tpb_write", "WRITE", "Isc_Tpb_Write", "write=ignored"}) {
        EXPECT_EQ(BuildTPB({write}), BytesOf({3, 9})) << write;
    }
    EXPECT_EQ(BuildTPB({"", "  ", "\t", "concurrency", "", "wait"}), BytesOf({3, 2, 6}));
    // Lines present but all blank: the version byte alone.
    EXPECT_EQ(BuildTPB({" "}), BytesOf({3}));
    // A lock wait limit in seconds: 4 bytes, little-endian.
    EXPECT_EQ(BuildTPB({"wait", "LOCK_TIMEOUT=300"}), BytesOf({3, 6, 21, 4, 0x2C, 0x01, 0, 0}));
    EXPECT_THROW(BuildTPB({"lock_timeout=long"}), EConvertError);
    EXPECT_THROW(BuildTPB({"lock_timeout"}), EConvertError);
    EXPECT_EQ(BuildTPB({"consistency", "shared", "protected", "exclusive", "read", "ignore_limbo",
                        "no_rec_version"}),
              BytesOf({3, 1, 3, 4, 5, 8, 14, 18}));
}

TEST(TPBTest, TableLocksCarryTheirTableName) {
    EXPECT_EQ(BuildTPB({"lock_read=T1", "isc_tpb_lock_write=ACCOUNTS", "shared"}),
              BytesOf({3, 10, 2, 'T', '1', 11, 8, 'A', 'C', 'C', 'O', 'U', 'N', 'T', 'S', 3}));

    EXPECT_EQ(
        ClientErrorOf([] { BuildTPB({"lock_read"}); }),
        std::make_pair(122, std::string("TPB Constant (isc_tpb_lock_read) needs a table name")));
    EXPECT_EQ(
        ClientErrorOf([] { BuildTPB({"LOCK_WRITE="}); }),
        std::make_pair(122, std::string("TPB Constant (isc_tpb_lock_write) needs a table name")));
    EXPECT_EQ(
        ClientErrorOf([] { BuildTPB({"lock_write=" + std::string(256, 'T')}); }),
        std::make_pair(
            123, std::string("TPB Constant (isc_tpb_lock_write) value is longer than 255 bytes")));
    const std::vector<std::string> many(130, "lock_read=" + std::string(255, 'T'));
    EXPECT_EQ(ClientErrorOf([&] { BuildTPB(many); }),
              std::make_pair(124, std::string("TPB is longer than 32767 bytes")));
}

TEST(TPBTest, UnknownAndUnsupportedNames) {
    EXPECT_EQ(ClientErrorOf([] { BuildTPB({"verb_time"}); }),
              std::make_pair(13, std::string("TPB Constant (isc_tpb_verb_time) is unsupported")));
    for (const char* name :
         {"commit_time", "autocommit", "restart_requests", "ISC_TPB_NO_AUTO_UNDO"}) {
        EXPECT_EQ(ClientErrorOf([&] { BuildTPB({name}); }).first, 13) << name;
    }
    EXPECT_EQ(ClientErrorOf([] { BuildTPB({"Bogus=1"}); }),
              std::make_pair(115, std::string("TPB Constant (Bogus) is unknown")));
    // Without "=" the whole line is the name, blanks included.
    EXPECT_EQ(ClientErrorOf([] { BuildTPB({" read committed"}); }).second,
              "TPB Constant ( read committed) is unknown");
}

TEST(StrToIntTest, AcceptsTheRuntimeFormsAndRefusesTheRest) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("  -17"), -17);
    EXPECT_EQ(StrToInt("+5"), 5);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("0x10"), 16);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", " ", "-", "2147483648", "12 ", "1.5", "$", "0x", "abc", "$1G"}) {
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
    }
}

TEST(ParamListTest, EditsAreAnnouncedAndARefusedEditChangesNothing) {
    bool refuse = false;
    int edits = 0;
    TParamList list(
        [&] {
            if (refuse)
                throw EIBClientError(16, "refused");
        },
        [&] { ++edits; });
    list.SetCommaText("user_name=SYSDBA,password=quillfern,lc_ctype=WIN1251");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"user_name=SYSDBA", "password=quillfern",
                                                      "lc_ctype=WIN1251"}));
    list.SetCommaText("a,,b");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"a", "", "b"}));
    list.SetCommaText("");
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(edits, 3);

    list.Assign({"user_name=x", "Password=old"});
    list.SetValue("PASSWORD", "new");
    list.SetValue("lc_ctype", "WIN1251");
    EXPECT_EQ(list.Lines(),
              (std::vector<std::string>{"user_name=x", "PASSWORD=new", "lc_ctype=WIN1251"}));
    EXPECT_EQ(list.Value("Lc_Ctype"), "WIN1251");
    EXPECT_EQ(list.Value("missing"), "");

    refuse = true;
    const int before = edits;
    EXPECT_THROW(list.Add("x=y"), EIBClientError);
    EXPECT_THROW(list.Clear(), EIBClientError);
    EXPECT_THROW(list.SetCommaText("a=b"), EIBClientError);
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(edits, before);
    EXPECT_THROW(list.Delete(7), EListError);
}

}  // namespace
