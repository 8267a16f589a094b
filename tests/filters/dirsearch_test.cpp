#include "platform/DirSearch.h"
#include "platform/Paths.h"

#include "TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

using namespace platform;
using testing_support::TempTree;
namespace fs = std::filesystem;

namespace {

struct MaskCase {
    const char *name;
    const char *mask;
    bool sensitive;   // result under the case-sensitive rule
    bool insensitive; // result under the rule without regard to case
};

const MaskCase kMaskCases[] = {
    {"a.txt", "*.*", true, true},
    {"README", "*.*", true, true}, // "*.*" matches names without a dot
    {".profile", "*.*", true, true},
    {"a.txt", "*", true, true},
    {"a.txt", "*.txt", true, true},
    {"A.TXT", "*.txt", false, true},
    {"a.txt", "A.TXT", false, true},
    {"a.txt", "a.txt", true, true},
    {"a.txt", "?.txt", true, true},
    {"ab.txt", "?.txt", false, false},
    {".txt", "?.txt", false, false}, // ? takes exactly one character
    {"a.txt.bak", "*.txt", false, false},
    {"a.txt.txt", "*.txt", true, true}, // the star backtracks
    {"abcabd", "*abd", true, true},
    {"readme", "read*", true, true},
    {"readme", "readme.*", true, true}, // a trailing ".*" may match nothing
    {"readme.md", "readme.*", true, true},
    {"readmes", "readme.*", false, false},
    {"a", "", false, false},
    {"", "*", true, true},
    {"表.txt", "?.txt", true, true}, // one UTF-8 character is one ?
    {"表.txt", "??.txt", false, false},
    {"データ.csv", "デ*.csv", true, true},
    {"É.txt", "é.txt", false, false}, // only ASCII letters fold
};

TEST(MatchesMask, Table) {
    for (const auto &c : kMaskCases) {
        EXPECT_EQ(MatchesMask(c.name, c.mask, LetterCase::Sensitive, CodePage::Utf8), c.sensitive)
            << c.name << " / " << c.mask;
        EXPECT_EQ(MatchesMask(c.name, c.mask, LetterCase::Insensitive, CodePage::Utf8),
                  c.insensitive)
            << c.name << " / " << c.mask;
    }
}

TEST(MatchesMask, ShiftJisTrailBytesAreNoWildcardsOrLetters) {
    // "ソ" is 0x83 0x5C and "ア" is 0x83 0x41: trail bytes equal to '\' and 'A'.
    const std::string so = "\x83\x5C", a = "\x83\x41";
    EXPECT_TRUE(MatchesMask(so + ".txt", "?.txt", LetterCase::Sensitive, CodePage::ShiftJis));
    // The trail byte 'A' must not fold to 'a' under the rule without regard to case.
    EXPECT_FALSE(MatchesMask(a, "\x83\x61", LetterCase::Insensitive, CodePage::ShiftJis));
    EXPECT_TRUE(MatchesMask("X" + a, "x" + a, LetterCase::Insensitive, CodePage::ShiftJis));
    EXPECT_LT(CompareTextIgnoreCase(a, "\x83\x61", CodePage::ShiftJis), 0);
}

TEST(CompareFileNames, CaseFirstThenBytes) {
    std::vector<std::string> names = {"b", "B", "a.txt", "A.TXT", "_x", "a", "Ab"};
    std::sort(names.begin(), names.end(), [](const std::string &x, const std::string &y) {
        return CompareFileNames(x, y) < 0;
    });
    // "_" (0x5F) sorts before the letters once they are folded to lower case.
    EXPECT_EQ(names, (std::vector<std::string>{"_x", "a", "A.TXT", "a.txt", "Ab", "B", "b"}));
    EXPECT_EQ(CompareFileNames("a.txt", "a.txt"), 0);
    EXPECT_LT(CompareFileNames("A.TXT", "a.txt"), 0);
    EXPECT_GT(CompareFileNames("b", "A.TXT"), 0);
}

TEST(SameFileName, BothRules) {
    EXPECT_TRUE(SameFileName("a.txt", "a.txt", LetterCase::Sensitive));
    EXPECT_FALSE(SameFileName("a.txt", "A.TXT", LetterCase::Sensitive));
    EXPECT_TRUE(SameFileName("a.txt", "A.TXT", LetterCase::Insensitive));
    EXPECT_FALSE(SameFileName("a.txt", "a.txt ", LetterCase::Insensitive));
    EXPECT_EQ(NativeLetterCase(), LetterCase::Sensitive);
}

std::vector<std::string> Search(const std::string &folder, const std::string &mask, uint32_t attrs,
                                LetterCase lc = LetterCase::Sensitive,
                                DirSearch::Details d = DirSearch::Details::Complete) {
    std::vector<std::string> out;
    DirSearch s(folder, mask, attrs, d, lc);
    FoundFile f;
    while (s.Next(f))
        out.push_back(f.name);
    std::sort(out.begin(), out.end());
    return out;
}

class DirSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        tree.File("a.txt");
        tree.File("A.TXT");
        tree.File("b.doc", "12345");
        tree.File(".hidden");
        tree.Folder("sub");
        tree.Folder(".hsub");
        tree.File("sub/c.txt");
    }
    TempTree tree;
};

TEST_F(DirSearchTest, AttributeFilterTable) {
    struct Case {
        const char *mask;
        uint32_t attrs;
        LetterCase lc;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"*.*", 0, LetterCase::Sensitive, {"A.TXT", "a.txt", "b.doc"}},
        {"*", faHidden, LetterCase::Sensitive, {".hidden", "A.TXT", "a.txt", "b.doc"}},
        {"*", faDirectory, LetterCase::Sensitive, {"A.TXT", "a.txt", "b.doc", "sub"}},
        {"*",
         faDirectory | faHidden,
         LetterCase::Sensitive,
         {".hidden", ".hsub", "A.TXT", "a.txt", "b.doc", "sub"}},
        {"*.txt", 0, LetterCase::Sensitive, {"a.txt"}},
        {"*.txt", 0, LetterCase::Insensitive, {"A.TXT", "a.txt"}},
        {"a.txt", 0, LetterCase::Sensitive, {"a.txt"}}, // looked up directly
        {"A.txt", 0, LetterCase::Sensitive, {}},
        {"A.txt", 0, LetterCase::Insensitive, {"A.TXT", "a.txt"}},
        {"sub", 0, LetterCase::Sensitive, {}}, // a folder is no file
        {"sub", faDirectory, LetterCase::Sensitive, {"sub"}},
        {".hidden", 0, LetterCase::Sensitive, {}},
        {".hidden", faHidden, LetterCase::Sensitive, {".hidden"}},
        {"..", faDirectory | faHidden, LetterCase::Sensitive, {}},
        {"", faDirectory | faHidden, LetterCase::Sensitive, {}},
        {"missing", 0, LetterCase::Sensitive, {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Search(tree.Root(), c.mask, c.attrs, c.lc), c.expected)
            << c.mask << " attrs " << c.attrs;
        EXPECT_EQ(Search(tree.Root() + "/", c.mask, c.attrs, c.lc), c.expected)
            << c.mask << " (folder with separator)";
    }
}

TEST_F(DirSearchTest, MissingFolderFindsNothing) {
    EXPECT_TRUE(Search(tree.Path("nope"), "*", faDirectory | faHidden).empty());
    EXPECT_TRUE(Search(tree.Path("nope"), "x", 0).empty());
}

TEST_F(DirSearchTest, EmptyFolderMeansCurrentFolder) {
    ScopedCurrentDir keep;
    ASSERT_TRUE(SetCurrentDir(tree.Path("sub")));
    EXPECT_EQ(Search("", "*.*", 0), std::vector<std::string>{"c.txt"});
    EXPECT_EQ(Search("", "c.txt", 0), std::vector<std::string>{"c.txt"});
}

TEST_F(DirSearchTest, AttributesSizeAndTime) {
    tree.SetLocalTime("b.doc", 2024, 1, 31, 23, 59, 58);
    fs::permissions(tree.Path("b.doc"), fs::perms::owner_write, fs::perm_options::remove);
    fs::create_symlink(tree.Path("sub"), tree.Path("linkdir"));
    fs::create_symlink(tree.Path("a.txt"), tree.Path("link.txt"));
    fs::create_symlink(tree.Path("gone"), tree.Path("dangling"));

    std::vector<FoundFile> found;
    DirSearch s(tree.Root(), "*", faDirectory | faHidden);
    FoundFile f;
    while (s.Next(f))
        found.push_back(f);
    auto get = [&](const std::string &n) -> const FoundFile * {
        for (const auto &x : found)
            if (x.name == n)
                return &x;
        return nullptr;
    };
    ASSERT_NE(get("b.doc"), nullptr);
    EXPECT_EQ(get("b.doc")->size, 5u);
    EXPECT_NE(get("b.doc")->attributes & faReadOnly, 0u);
    EXPECT_EQ(get("b.doc")->attributes & (faDirectory | faHidden), 0u);
    EXPECT_TRUE(get("b.doc")->shortName.empty());
    uint16_t date = 0, time = 0;
    ASSERT_TRUE(
        FileTimeToDosDateTime(FileTimeToLocalFileTime(get("b.doc")->lastWriteTime), date, time));
    EXPECT_EQ(date, ((2024 - 1980) << 9) | (1 << 5) | 31);
    EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);
    EXPECT_EQ(get("a.txt")->attributes & faReadOnly, 0u);
    EXPECT_EQ(get(".hidden")->attributes & faHidden, faHidden);
    EXPECT_EQ(get("sub")->attributes & faDirectory, faDirectory);
    EXPECT_EQ(get("linkdir")->attributes & (faDirectory | faSymLink), faDirectory | faSymLink);
    EXPECT_EQ(get("link.txt")->attributes & (faDirectory | faSymLink), faSymLink);
    EXPECT_EQ(get("dangling"), nullptr); // a link to nothing is no file
    EXPECT_EQ(get("."), nullptr);
    EXPECT_EQ(get(".."), nullptr);

    FoundFile info;
    ASSERT_TRUE(GetFileInfo(tree.Path("b.doc"), info));
    EXPECT_EQ(info.name, "b.doc");
    EXPECT_EQ(info.lastWriteTime.Ticks(), get("b.doc")->lastWriteTime.Ticks());
    EXPECT_FALSE(GetFileInfo(tree.Path("gone"), info));
}

TEST_F(DirSearchTest, NamesOnlySearchSkipsTimes) {
    DirSearch s(tree.Root(), "b.doc", 0, DirSearch::Details::Names);
    FoundFile f;
    ASSERT_TRUE(s.Next(f));
    EXPECT_EQ(f.name, "b.doc");
    EXPECT_EQ(f.lastWriteTime.Ticks(), 0u);
    EXPECT_FALSE(s.Next(f));
}

TEST_F(DirSearchTest, ScopedCurrentDirRestoresAfterException) {
    const std::string before = GetCurrentDir();
    try {
        ScopedCurrentDir keep;
        ASSERT_TRUE(SetCurrentDir(tree.Path("sub")));
        throw std::runtime_error("boom");
    } catch (const std::runtime_error &) {
    }
    EXPECT_EQ(GetCurrentDir(), before);
}

TEST_F(DirSearchTest, ScopedCurrentDirFollowsARenamedFolder) {
    const std::string before = GetCurrentDir();
    {
        ScopedCurrentDir outer;
        ASSERT_TRUE(SetCurrentDir(tree.Path("sub")));
        {
            ScopedCurrentDir keep;
            ASSERT_TRUE(SetCurrentDir(tree.Root()));
            fs::rename(tree.Path("sub"), tree.Path("moved"));
        }
        EXPECT_EQ(GetCurrentDir(), tree.Path("moved"));
    }
    EXPECT_EQ(GetCurrentDir(), before);
}

} // namespace
