// The settings file: what reading sees, what a write changes (and keeps), and how the file is
// replaced on disk.
#include "runner/Settings.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

using runner::EIniFileException;
using runner::SetSettingsValue;
using runner::TSettingsFile;
using runner::WriteSetupStatus;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

template <std::size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

TEST(SettingsRead, ValuesFollowTheIniRules) {
    const std::string longValue(3000, 'v');
    struct Case {
        const char* what;
        std::string content;
        std::string section;
        std::string key;
        std::string expected; // "<default>" when the key must not be found
    } const cases[] = {
        {"names ignore ASCII case", "[general]\nDEBUGMODE=5\n", "General", "DebugMode", "5"},
        {"blanks around names and values", " [ General ] \n\t DebugMode \t=\t 7 \r\n", "General",
         "DebugMode", "7"},
        {"CR LF line ends", "[A]\r\nk=v\r\n", "A", "k", "v"},
        {"double quotes removed", "[A]\nk= \" C:\\x \" \n", "A", "k", " C:\\x "},
        {"single quotes removed", "[A]\nk='v'\n", "A", "k", "v"},
        {"one pair only", "[A]\nk=\"\"v\"\"\n", "A", "k", "\"v\""},
        {"unmatched quotes stay", "[A]\nk=\"v'\n", "A", "k", "\"v'"},
        {"a lone quote stays", "[A]\nk=\"\n", "A", "k", "\""},
        {"empty quotes give empty", "[A]\nk=\"\"\n", "A", "k", ""},
        {"text after the first = is the value", "[A]\nk=a=b\n", "A", "k", "a=b"},
        {"line without = is a key with empty value", "[A]\nk\n", "A", "k", ""},
        {"first of two equal keys", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"first of two equal sections", "[A]\nx=1\n[a]\nk=2\n", "A", "k", "<default>"},
        {"comment line is no key", "[A]\n;k=1\n", "A", "k", "<default>"},
        {"key of another section", "[A]\nk=1\n[B]\n", "B", "k", "<default>"},
        {"key before any section", "k=1\n[A]\n", "A", "k", "<default>"},
        {"missing section", "[A]\nk=1\n", "C", "k", "<default>"},
        {"bracket without close is no header", "[A]\n[B\nk=1\n", "A", "k", "1"},
        {"text after ] ignored", "[A] trailing\nk=1\n", "A", "k", "1"},
        {"UTF-8 byte order mark", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "1"},
        {"8-bit bytes kept", "[A]\nk=\xC0\xE1\xE2\n", "A", "k", "\xC0\xE1\xE2"},
        {"a lone CR ends a line", "[A]\nk=a\rb\n", "A", "k", "a"},
        {"lone CR line ends", "[A]\rx=1\rk=2\r[B]\rk=3", "A", "k", "2"},
        {"no line break at the end", "[A]\nk=1", "A", "k", "1"},
        {"NUL bytes pass", Bytes("[A]\nk=a\0b\n"), "A", "k", Bytes("a\0b")},
        {"long values are cut", "[A]\nk=" + longValue + "\n", "A", "k", longValue.substr(0, 2047)},
        {"cut after the quotes go", "[A]\nk=\"" + longValue + "\"\n", "A", "k",
         longValue.substr(0, 2047)},
    };
    for (const Case& c : cases) {
        const TSettingsFile file(c.content);
        EXPECT_EQ(file.ReadString(c.section, c.key, "<default>"), c.expected) << c.what;
    }
}

TEST(SettingsRead, SectionKeysInFileOrder) {
    const TSettingsFile file(
        "[Database]\r\nZeta=1\r\n\r\n; note=2\r\n  alpha = 2\r\nbare\r\n=nameless\r\nZeta=3\r\n"
        "[Other]\r\nx=1\r\n[DATABASE]\r\nlater=1\r\n");
    const runner::SectionKeys keys = file.ReadSection("database");
    EXPECT_EQ(keys.Names, (std::vector<std::string>{"Zeta", "alpha", "bare", "Zeta"}));
    EXPECT_FALSE(keys.Cut);
    EXPECT_TRUE(TSettingsFile("").ReadSection("Database").Names.empty());
}

TEST(SettingsRead, EveryKeyLineHasItsOwnValue) {
    const TSettingsFile file(
        "[Database]\nDB=a.fdb\n db = ' b.fdb '\nbare\nDB=\"c=d\"\n[X]\nDB=x\n");
    const runner::SectionKeys keys = file.ReadSection("Database");
    EXPECT_EQ(keys.Names, (std::vector<std::string>{"DB", "db", "bare", "DB"}));
    EXPECT_EQ(keys.Values, (std::vector<std::string>{"a.fdb", " b.fdb ", "", "c=d"}));
    // Looked up by its name, a key still reads its first line's value.
    EXPECT_EQ(file.ReadString("Database", "db", ""), "a.fdb");
    // Listed values are never cut: the runner refuses an over-long name instead.
    const std::string longName(3000, 'n');
    EXPECT_EQ(TSettingsFile("[Database]\nA=" + longName + "\n").ReadSection("Database").Values,
              std::vector<std::string>{longName});
}

// Line numbers count every line end, a lone CR included, as the script check reports them.
TEST(SettingsRead, LineNumbersCountEveryLineEnd) {
    const TSettingsFile file("\xEF\xBB\xBF; head\r[A]\rx=1\r\n\n[Database]\nDB=a\r\rDB=b");
    EXPECT_EQ(file.SectionHeaderLine("Database"), 5u);
    const std::vector<runner::TSettingsLine> lines = file.SectionLines("Database");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].Number, 6u);
    EXPECT_EQ(lines[1].Number, 8u);
    EXPECT_EQ(lines[1].Value, "b");
}

// UTF-16 files with a byte order mark, as Windows tools write them, read as UTF-8 text and
// come back byte for byte: characters beyond the 16-bit range, lone surrogates and a last odd
// byte included.
TEST(SettingsEncoding, Utf16FilesRoundTrip) {
    // "[Б]\r\nk=Ж😀" with the mark, little-endian.
    const std::string le = Bytes("\xFF\xFE[\0\x11\x04]\0\r\0\n\0k\0=\0\x16\x04\x3D\xD8\x00\xDE");
    runner::SettingsEncoding encoding;
    const std::string text = runner::DecodeSettingsFile(le, encoding);
    EXPECT_EQ(text, "\xEF\xBB\xBF[Б]\r\nk=Ж😀");
    EXPECT_EQ(encoding.Kind, runner::SettingsEncoding::Utf16LE);
    EXPECT_EQ(TSettingsFile(text).ReadString("б", "K", ""), "");  // only ASCII letters fold
    EXPECT_EQ(TSettingsFile(text).ReadString("Б", "K", ""), "Ж😀");
    EXPECT_EQ(runner::EncodeSettingsFile(text, encoding), le);

    std::string be;
    for (std::size_t i = 0; i < le.size(); i += 2) {
        be += le.substr(i + 1, 1) + le.substr(i, 1);
    }
    EXPECT_EQ(runner::DecodeSettingsFile(be, encoding), text);
    EXPECT_EQ(encoding.Kind, runner::SettingsEncoding::Utf16BE);
    EXPECT_EQ(runner::EncodeSettingsFile(text, encoding), be);

    for (const std::string& odd :
         {Bytes("\xFF\xFEk\0=\0\x00\xD8x\0\x00\xDC\x00\xDCy"), Bytes("\xFE\xFF\xD8\x00")}) {
        const std::string decoded = runner::DecodeSettingsFile(odd, encoding);
        EXPECT_EQ(runner::EncodeSettingsFile(decoded, encoding), odd);
    }
    // Anything else is 8-bit text: UTF-8 (a UTF-8 mark stays part of the text) or, when it is
    // none, text in the system's code page, which POSIX takes byte for byte.
    const struct {
        std::string Bytes;
        runner::SettingsEncoding::Form Kind;
    } plainCases[] = {
        {Bytes("\xEF\xBB\xBF[A]\n"), runner::SettingsEncoding::EightBit},
        {Bytes("[Б]\n"), runner::SettingsEncoding::EightBit},
        {Bytes("\xFF[A]"), runner::SettingsEncoding::ActiveCodePage},
        {Bytes("\xFE"), runner::SettingsEncoding::ActiveCodePage},
    };
    for (const auto& plain : plainCases) {
        EXPECT_EQ(runner::DecodeSettingsFile(plain.Bytes, encoding), plain.Bytes);
        EXPECT_EQ(encoding.Kind, plain.Kind);
        EXPECT_EQ(runner::EncodeSettingsFile(plain.Bytes, encoding), plain.Bytes);
    }
}

TEST(SettingsRead, KeyNamesStopAtTheBufferSize) {
    // Each name of 7 characters takes 8 places; one place goes to the final terminator.
    const std::size_t fitting = (runner::kSectionKeyBufferSize - 1) / 8;
    ASSERT_EQ(fitting * 8 + 1, runner::kSectionKeyBufferSize - 7);
    std::string exact = "[D]\n";
    std::string over = exact;
    for (std::size_t i = 0; i < fitting; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "K%06zu", i);
        exact += std::string(name) + "=x\n";
    }
    // Six more characters fill the buffer exactly; seven do not.
    const std::string full = exact + "ABCDEF=x\n";
    over = exact + "ABCDEFG=x\nlast=x\n";

    const runner::SectionKeys fits = TSettingsFile(full).ReadSection("D");
    EXPECT_EQ(fits.Names.size(), fitting + 1);
    EXPECT_EQ(fits.Names.back(), "ABCDEF");
    EXPECT_FALSE(fits.Cut);

    const runner::SectionKeys cut = TSettingsFile(over).ReadSection("D");
    EXPECT_EQ(cut.Names.size(), fitting);
    EXPECT_EQ(cut.Names.back(), "K" + std::string(6 - std::to_string(fitting - 1).size(), '0') +
                                    std::to_string(fitting - 1));
    EXPECT_TRUE(cut.Cut);
}

TEST(SettingsWrite, ChangesOnlyWhatItMust) {
    struct Case {
        const char* what;
        std::string before;
        std::string after;
    } const cases[] = {
        {"empty file", "", "[Common]\nSetupStatus=Cancel\n"},
        {"CR LF file gets a CR LF section", "[General]\r\nDebugMode=5\r\n",
         "[General]\r\nDebugMode=5\r\n[Common]\r\nSetupStatus=Cancel\r\n"},
        {"last line without a break", "[General]\nDebugMode=5",
         "[General]\nDebugMode=5\n[Common]\nSetupStatus=Cancel\n"},
        {"value replaced in place, spacing and case kept",
         "; head\r\n[common]\r\n  setupstatus =  Continue  \r\n[X]\r\n",
         "; head\r\n[common]\r\n  setupstatus =  Cancel\r\n[X]\r\n"},
        {"quoted old value", "[Common]\nSetupStatus=\"Continue\"\n",
         "[Common]\nSetupStatus=Cancel\n"},
        {"empty old value at the end", "[Common]\nSetupStatus=", "[Common]\nSetupStatus=Cancel"},
        {"key without =", "[Common]\n SetupStatus \n", "[Common]\n SetupStatus=Cancel\n"},
        {"every one of two equal keys", "[Common]\nSetupStatus=a\nSetupStatus=b\n",
         "[Common]\nSetupStatus=Cancel\nSetupStatus=Cancel\n"},
        {"the key in every section of the name",
         "[Common]\nSetupStatus=Continue\n[X]\n[COMMON]\nSetupStatus=Continue\n",
         "[Common]\nSetupStatus=Cancel\n[X]\n[COMMON]\nSetupStatus=Cancel\n"},
        {"added to the first section when only a later one has it",
         "[Common]\nA=1\n[Common]\nSetupStatus=Continue\n",
         "[Common]\nA=1\nSetupStatus=Cancel\n[Common]\nSetupStatus=Cancel\n"},
        {"added to the first section only", "[Common]\nA=1\n[Common]\nB=2\n",
         "[Common]\nA=1\nSetupStatus=Cancel\n[Common]\nB=2\n"},
        {"lone CR file gets lone CR lines", "[General]\rDebugMode=5\r",
         "[General]\rDebugMode=5\r[Common]\rSetupStatus=Cancel\r"},
        {"value in a lone CR file replaced in place",
         "[Database]\rA=a.fdb\r[Common]\rSetupStatus=Continue\r[X]\rk=1",
         "[Database]\rA=a.fdb\r[Common]\rSetupStatus=Cancel\r[X]\rk=1"},
        {"new key after the section's last line, before blank lines",
         "[Common]\nA=1\n; c\n\n\n[X]\ny=2\n",
         "[Common]\nA=1\n; c\nSetupStatus=Cancel\n\n\n[X]\ny=2\n"},
        {"new key in an empty last section without a break", "[X]\n[Common]",
         "[X]\n[Common]\nSetupStatus=Cancel\n"},
        {"same key in another section untouched", "[Other]\nSetupStatus=x\n",
         "[Other]\nSetupStatus=x\n[Common]\nSetupStatus=Cancel\n"},
        {"byte order mark and 8-bit bytes kept", "\xEF\xBB\xBF[A]\nk=\xC0\xFF\n",
         "\xEF\xBB\xBF[A]\nk=\xC0\xFF\n[Common]\nSetupStatus=Cancel\n"},
        {"a byte order mark alone is no line", "\xEF\xBB\xBF",
         "\xEF\xBB\xBF[Common]\nSetupStatus=Cancel\n"},
        {"NUL bytes kept", Bytes("\0[A]\0\nk=\0\n"),
         Bytes("\0[A]\0\nk=\0\n[Common]\nSetupStatus=Cancel\n")},
    };
    for (const Case& c : cases) {
        const std::string written = SetSettingsValue(c.before, "Common", "SetupStatus", "Cancel");
        EXPECT_EQ(written, c.after) << c.what;
        EXPECT_EQ(TSettingsFile(written).ReadString("Common", "SetupStatus", ""), "Cancel")
            << c.what;
    }
}

class SettingsFileOnDisk : public ::testing::Test {
  protected:
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    TempDir dir;
    const std::string path = dir.File("dbupgrade.ini");
};

TEST_F(SettingsFileOnDisk, CreatesAMissingFile) {
    WriteSetupStatus(path, "Common", "SetupStatus", "Cancel");
    EXPECT_EQ(ReadFile(path), "[Common]\nSetupStatus=Cancel\n");
    EXPECT_EQ(Names(), std::vector<std::string>{"dbupgrade.ini"});
}

TEST_F(SettingsFileOnDisk, KeepsContentAndPermissions) {
    const std::string before =
        "; setup\r\n[Database]\r\nMain=/x.fdb\r\n[Common]\r\nSetupStatus=Cancel\r\n";
    WriteFile(path, before);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    WriteSetupStatus(path, "Common", "SetupStatus", "Continue");
    EXPECT_EQ(ReadFile(path),
              "; setup\r\n[Database]\r\nMain=/x.fdb\r\n[Common]\r\nSetupStatus=Continue\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(), std::vector<std::string>{"dbupgrade.ini"}) << "no temporary file left";
}

TEST_F(SettingsFileOnDisk, UnwritableFilesRaiseAndStayUnchanged) {
    const std::string content = "[Common]\nSetupStatus=Continue\n";
    WriteFile(path, content);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ::mkdir(dir.File("folder.ini").c_str(), 0777);
    for (const std::string& target :
         {path, dir.File("folder.ini"), dir.File("missing/dbupgrade.ini")}) {
        try {
            WriteSetupStatus(target, "Common", "SetupStatus", "Cancel");
            ADD_FAILURE() << "no error for " << target;
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.Message(), "Unable to write to " + target);
            EXPECT_STREQ(e.ClassName(), "EIniFileException");
        }
    }
    EXPECT_EQ(ReadFile(path), content);
    EXPECT_EQ(Names(), (std::vector<std::string>{"dbupgrade.ini", "folder.ini"}));
}

TEST_F(SettingsFileOnDisk, WritesThroughSymbolicLinksAndKeepsThem) {
    ::mkdir(dir.File("real").c_str(), 0777);
    const std::string target = dir.File("real/settings.ini");
    WriteFile(target, "[General]\nDebugMode=5\n");
    ASSERT_EQ(::symlink("real/settings.ini", path.c_str()), 0);
    WriteSetupStatus(path, "Common", "SetupStatus", "Continue");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(target), "[General]\nDebugMode=5\n[Common]\nSetupStatus=Continue\n");

    // A link to a file that does not exist yet: the file is created where the link points.
    const std::string dangling = dir.File("dangling.ini");
    ASSERT_EQ(::symlink(dir.File("real/new.ini").c_str(), dangling.c_str()), 0);
    WriteSetupStatus(dangling, "Common", "SetupStatus", "Cancel");
    EXPECT_EQ(ReadFile(dir.File("real/new.ini")), "[Common]\nSetupStatus=Cancel\n");

    // A loop of links cannot be written.
    ASSERT_EQ(::symlink("loop-b.ini", dir.File("loop-a.ini").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a.ini", dir.File("loop-b.ini").c_str()), 0);
    EXPECT_THROW(WriteSetupStatus(dir.File("loop-a.ini"), "Common", "SetupStatus", "Cancel"),
                 EIniFileException);
}

// A file with a second hard link is rewritten in place: one inode, both names updated, and
// only the bytes from the first change on are written.
TEST_F(SettingsFileOnDisk, HardLinkedFileIsRewrittenInPlace) {
    const std::string other = dir.File("other.ini");
    WriteFile(path, "[Common]\r\nSetupStatus=Continue\r\n[Later]\r\nKept=yes\r\n");
    ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    for (const char* value : {"Cancel", "Continue", "Cancel"}) {
        WriteSetupStatus(path, "Common", "SetupStatus", value);
        EXPECT_EQ(ReadFile(other),
                  "[Common]\r\nSetupStatus=" + std::string(value) + "\r\n[Later]\r\nKept=yes\r\n");
    }
    struct stat after {};
    ASSERT_EQ(::stat(other.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"dbupgrade.ini", "other.ini"}));
}

TEST_F(SettingsFileOnDisk, Utf16FileIsWrittenInItsEncoding) {
    // "[Common]\nSetupStatus=Pending\n" in UTF-16 BE with its mark.
    const std::string before = "\xEF\xBB\xBF[Common]\nSetupStatus=Pending\n";
    std::string file;
    for (const char c : before.substr(3)) {
        file += std::string(1, '\0') + c;
    }
    WriteFile(path, "\xFE\xFF" + file);
    WriteSetupStatus(path, "Common", "SetupStatus", "Cancel");
    runner::SettingsEncoding encoding;
    EXPECT_EQ(runner::DecodeSettingsFile(ReadFile(path), encoding),
              "\xEF\xBB\xBF[Common]\nSetupStatus=Cancel\n");
    EXPECT_EQ(encoding.Kind, runner::SettingsEncoding::Utf16BE);
    EXPECT_EQ(TSettingsFile::Load(path).ReadString("Common", "SetupStatus", ""), "Cancel");
}

TEST_F(SettingsFileOnDisk, LoadReadsMissingAndUnreadableFilesAsEmpty) {
    EXPECT_EQ(TSettingsFile::Load(path).ReadString("A", "k", "d"), "d");
    EXPECT_EQ(TSettingsFile::Load(dir.Path()).ReadString("A", "k", "d"), "d");
    WriteFile(path, "[A]\nk=1\n");
    EXPECT_EQ(TSettingsFile::Load(path).ReadString("A", "k", "d"), "1");
}

} // namespace
