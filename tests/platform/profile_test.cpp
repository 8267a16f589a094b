#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/ReplacingFileWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("profile_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ini_ = (dir_ / "QUORVEL.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Put(const std::string &text) { std::ofstream(ini_, std::ios::binary) << text; }
    std::string Get() const {
        std::ifstream in(ini_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path dir_;
    std::string ini_;
};

TEST(ProfileInteger, ReadsDecimalAndTheThreeHexPrefixes) {
    struct Case {
        const char *text;
        std::optional<int> value;
    } cases[] = {
        {"7", 7},
        {"-5", -5},
        {"+12", 12},
        {"0x1", 1},
        {"0X1f", 31},
        {"$A", 10},
        {"-$10", -16},
        {"$FFFFFFFF", -1},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"$100000000", std::nullopt},
        {"false", std::nullopt},
        {"", std::nullopt},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"12abc", std::nullopt},
        {"1 2", std::nullopt},
        {"0b1", std::nullopt},
        {"1.0", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseProfileInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST_F(ProfileTest, MissingFileReadsDefaultsAndIsNotCreatedByReading) {
    ProfileFile p(ini_);
    EXPECT_EQ(p.ReadInteger("System", "JobKind", 0), 0);
    EXPECT_EQ(p.ReadString("System", "SourceFile", "dflt"), "dflt");
    EXPECT_TRUE(p.ReadBool("System", "SourDelete", true));
    EXPECT_FALSE(fs::exists(ini_));
}

TEST_F(ProfileTest, SectionsAndKeysIgnoreCaseAndValuesAreTrimmed) {
    Put("; comment\r\n[other]\r\nJobKind=9\r\n[ SYSTEM ]\r\n  jobkind =  0x2  \r\n"
        "SourceFile= \"  spaced  \" \r\nDistFile='q'\r\nSourDelete=false\r\nOverWrite=-3\r\n");
    ProfileFile p(ini_);
    EXPECT_EQ(p.ReadInteger("System", "JobKind", 0), 2);
    EXPECT_EQ(p.ReadString("system", "SOURCEFILE", ""), "  spaced  ");
    EXPECT_EQ(p.ReadString("System", "DistFile", ""), "q");
    EXPECT_TRUE(p.ReadBool("System", "SourDelete", true)); // not a number: the default
    EXPECT_FALSE(p.ReadBool("System", "SourDelete", false));
    EXPECT_TRUE(p.ReadBool("System", "OverWrite", false)); // any nonzero value
    EXPECT_EQ(p.ReadInteger("System", "Missing", 42), 42);
}

TEST_F(ProfileTest, FirstOfDuplicateSectionsAndKeysCounts) {
    Put("[System]\nJobKind=1\nJobKind=2\n[System]\nJobKind=3\nSourceFile=x\n");
    ProfileFile p(ini_);
    EXPECT_EQ(p.ReadInteger("System", "JobKind", 0), 1);
    EXPECT_EQ(p.ReadString("System", "SourceFile", "none"), "none");
}

TEST_F(ProfileTest, StringsAreCutAt2047BytesOnACharacterBoundary) {
    const std::string ascii(3000, 'a');
    std::string wide; // 3-byte characters: 682 of them fill 2046 bytes
    for (int i = 0; i < 700; ++i)
        wide += "表";
    Put("[System]\nA=" + ascii + "\nB=" + wide + "\n");
    ProfileFile p(ini_);
    EXPECT_EQ(p.ReadString("System", "A", ""), std::string(2047, 'a'));
    const std::string b = p.ReadString("System", "B", "");
    EXPECT_EQ(b.size(), 2046u);
    EXPECT_EQ(b, wide.substr(0, 2046));
}

TEST_F(ProfileTest, WritingCreatesTheFileAndReadsBack) {
    ProfileFile p(ini_);
    p.WriteInteger("System", "JobKind", -1);
    p.WriteString("System", "SourceFile", "/x/a b.txt");
    p.WriteBool("System", "SourDelete", false);
    p.WriteBool("System", "OverWrite", true);
    EXPECT_EQ(Get(), "[System]\nJobKind=-1\nSourceFile=/x/a b.txt\nSourDelete=0\nOverWrite=1\n");
    EXPECT_EQ(p.ReadInteger("System", "JobKind", 0), -1);
}

TEST_F(ProfileTest, WritingKeepsOtherContentAndTheFileLineEnds) {
    Put("; kept\r\n[Other]\r\nKey=v\r\n\r\n[system]\r\nJOBKIND=0\r\nExtra = "
        "5\r\n\r\n[Tail]\r\nT=1");
    ProfileFile p(ini_);
    p.WriteInteger("System", "JobKind", 2);
    p.WriteString("System", "DistFile", "d.txt");
    p.WriteString("Tail", "New", "n");
    p.WriteString("Fresh", "K", "v");
    EXPECT_EQ(Get(), "; kept\r\n[Other]\r\nKey=v\r\n\r\n[system]\r\nJobKind=2\r\nExtra = 5\r\n"
                     "DistFile=d.txt\r\n\r\n[Tail]\r\nT=1\r\nNew=n\r\n[Fresh]\r\nK=v\r\n");
}

TEST_F(ProfileTest, ValuesThatReadingWouldAlterAreQuotedAndRoundTrip) {
    ProfileFile p(ini_);
    for (std::string v : {" lead", "trail ", "\"q\"", "'s'", "", "plain", "a=b;c"}) {
        p.WriteString("System", "V", v);
        EXPECT_EQ(p.ReadString("System", "V", "default"), v) << v;
    }
}

TEST_F(ProfileTest, ALineBreakInAValueIsRefusedAndLeavesTheFileAsItWas) {
    // Written as it is, the second line would be read as a key of its own.
    ProfileFile p(ini_);
    p.WriteInteger("System", "JobKind", 0);
    const std::string before = Get();
    EXPECT_THROW(p.WriteString("System", "SourceFile", "a\nJobKind=2"), EProfileWriteError);
    EXPECT_EQ(Get(), before);
    EXPECT_EQ(p.ReadInteger("System", "JobKind", 9), 0);
}

TEST_F(ProfileTest, AFailedWriteNamesTheFile) {
    // A path below a regular file cannot be created, not even by root.
    Put("x");
    const std::string bad = ini_ + "/sub.ini";
    ProfileFile p(bad);
    try {
        p.WriteInteger("System", "JobKind", 1);
        FAIL() << "no error";
    } catch (const EProfileWriteError &e) {
        EXPECT_EQ(std::string(e.what()), bad + " に書き込めません");
        EXPECT_EQ(e.FileName, bad);
    }
}

TEST_F(ProfileTest, AFolderInPlaceOfTheFileIsNotWritable) {
    fs::create_directories(ini_);
    ProfileFile p(ini_);
    EXPECT_THROW(p.WriteBool("System", "OverWrite", true), EProfileWriteError);
    EXPECT_TRUE(p.ReadBool("System", "OverWrite", true));
}

TEST_F(ProfileTest, WritingThroughASymlinkUpdatesItsTarget) {
    Put("[System]\nJobKind=0\n");
    const fs::path link = dir_ / "link.ini";
    fs::create_symlink(ini_, link);
    ProfileFile p(link.string());
    p.WriteInteger("System", "JobKind", 2);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Get(), "[System]\nJobKind=2\n");
}

TEST(HeadlessMessageBox, OneLineAnsweredWithTheSafeButton) {
    std::ostringstream out;
    EXPECT_EQ(ShowHeadlessMessageBox({"確認", "May I\ndo it?", {"はい(&Y)", "いいえ(&N)"}}, out),
              1u);
    EXPECT_EQ(ShowHeadlessMessageBox({"QUORVEL", "Successful!", {"OK"}}, out), 0u);
    EXPECT_EQ(out.str(), "確認: May I do it?\nQUORVEL: Successful!\n");
}

} // namespace

namespace {

TEST_F(ProfileTest, ReplacingWriterChangesNothingUntilCommitted) {
    Put("old");
    fs::permissions(ini_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    {
        ReplacingFileWriter w(ini_);
        ASSERT_TRUE(w.Ok());
        ASSERT_TRUE(w.Write("new content"));
        EXPECT_EQ(Get(), "old");
    } // dropped without Commit
    EXPECT_EQ(Get(), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    ReplacingFileWriter w(ini_);
    ASSERT_TRUE(w.Write("new"));
    ASSERT_TRUE(w.Commit());
    EXPECT_EQ(Get(), "new");
    EXPECT_EQ(fs::status(ini_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

} // namespace
