#include "filters/FILTERS.h"

#include "platform/Paths.h"

#include "TempTree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using archives::TArchiverOptions;
using archives::TFileArg;
using archives::TFileArgs;
using archives::TStringList;
using platform::LetterCase;
using platform::PathRules;
using testing_support::TempTree;
namespace fs = std::filesystem;

namespace filters {
namespace {

using Names = std::vector<std::string>;

// Runs one expansion from inside the tree's root (or with the root as base folder) and gives the
// list as a vector.
struct Outcome {
    Names names;
    int progressCalls = 0;
    bool abort = false;
};

// ---- Pure rules -------------------------------------------------------------------------------

TEST(ParseFilterDate, Table) {
    struct Case {
        const char *text;
        const char *defaultTime;
        int y, mo, d, h, mi, s; // y 0: no bound
    };
    const Case cases[] = {
        {"20240101", "000000", 2024, 1, 1, 0, 0, 0},
        {"20240131", "235959", 2024, 1, 31, 23, 59, 59},
        {"20240131120005", "235959", 2024, 1, 31, 12, 0, 5},
        {"240101", "000000", 2024, 1, 1, 0, 0, 0}, // the current year is 2026
        {"990101", "000000", 1999, 1, 1, 0, 0, 0},
        {"760101", "000000", 1976, 1, 1, 0, 0, 0}, // 50 years back is still this century...
        {"750101", "000000", 2075, 1, 1, 0, 0, 0}, // ...one more is the next
        {"240229235958", "000000", 2024, 2, 29, 23, 59, 58},
        {"l20240101", "000000", 2024, 1, 1, 0, 0, 0},
        {"l240101", "235959", 2024, 1, 1, 23, 59, 59},
        {"2024010", "000000", 0, 0, 0, 0, 0, 0}, // seven characters: no bound
        {"l", "000000", 0, 0, 0, 0, 0, 0},
        {"", "000000", 0, 0, 0, 0, 0, 0},
        {"L20240101", "000000", 0, 0, 0, 0, 0, 0}, // only a lowercase l is dropped
        {"l2024010100000000", "000000", 0, 0, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        const TDateTime expected = c.y == 0 ? 0 : EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s);
        EXPECT_EQ(ParseFilterDate(c.text, c.defaultTime, 2026), expected) << c.text;
    }
    EXPECT_EQ(ParseFilterDate(archives::UnsetString, "000000", 2026), 0);
    EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0);
    EXPECT_EQ(EncodeDateTime(2024, 1, 1, 12, 0, 0), 45292.5);
}

TEST(ParseFilterDate, MalformedValuesRaise) {
    for (const char *text : {"20241301", "20240230", "20240100", "20240101240000", "20240101006000",
                             "2024XX01", "+20401", "2024 101", "24013a", "0000010100"}) {
        if (std::strlen(text) == 10)
            EXPECT_EQ(ParseFilterDate(text, "000000", 2026), 0) << text; // not a date length
        else
            EXPECT_THROW(ParseFilterDate(text, "000000", 2026), archives::EConvertError) << text;
    }
    EXPECT_THROW(ParseFilterDate("00000101", "000000", 2026), archives::EConvertError);
}

TEST(SplitFileArg, Table) {
    struct Case {
        const char *arg;
        bool windows;
        const char *folder, *mask;
    };
    const Case cases[] = {
        {"a.txt", false, "", "a.txt"},
        {"sub/a.txt", false, "sub", "a.txt"},
        {"sub/deep/*.txt", false, "sub/deep", "*.txt"},
        {"/a.txt", false, "/", "a.txt"}, // the root keeps its separator
        {"/x/", false, "/x", ""},
        {"sub//a", false, "sub//", "a"},   // a doubled separator stays
        {"c:a.txt", false, "", "c:a.txt"}, // a colon is a name character on Linux
        {"", false, "", ""},
        {"C:\\a.txt", true, "C:\\", "a.txt"},
        {"C:a.txt", true, "C:", "a.txt"},
        {"x\\y\\*.txt", true, "x\\y", "*.txt"},
        {"x/y.txt", true, "", "y.txt"},
        {"\\a.txt", true, "\\", "a.txt"},
        {"\x95\x5C\\a.txt", true, "\x95\x5C", "a.txt"}, // a trail byte equal to '\' is no separator
        {"\x95\x5C", true, "", "\x95\x5C"},
    };
    for (const auto &c : cases) {
        std::string folder, mask;
        SplitFileArg(c.arg, folder, mask, c.windows ? PathRules::Windows() : PathRules::Native());
        EXPECT_EQ(folder, c.folder) << c.arg;
        EXPECT_EQ(mask, c.mask) << c.arg;
    }
    EXPECT_EQ(JoinFolder("", "a"), "a");
    EXPECT_EQ(JoinFolder("/", "a"), "/a");
    EXPECT_EQ(JoinFolder("x", "a"), "x/a");
    EXPECT_EQ(JoinFolder("x/", "a"), "x/a");
    EXPECT_EQ(JoinFolder("\x95\x5C", "a", PathRules::Windows()), "\x95\x5C\\a");
}

TEST(ExtractRelativePath, Table) {
    struct Case {
        const char *base, *dest;
        bool windows;
        LetterCase lc;
        const char *expected;
    };
    const auto S = LetterCase::Sensitive, I = LetterCase::Insensitive;
    const Case cases[] = {
        {"C:\\WORK\\", "C:\\WORK\\SUB\\F.TXT", true, I, "SUB\\F.TXT"},
        {"C:\\WORK", "C:\\WORK\\SUB\\F.TXT", true, I, "WORK\\SUB\\F.TXT"},
        {"c:\\work\\", "C:\\WORK\\SUB\\F.TXT", true, I, "SUB\\F.TXT"},
        {"c:\\work\\", "C:\\WORK\\SUB\\F.TXT", true, S, "..\\WORK\\SUB\\F.TXT"},
        {"C:\\WORK\\", "D:\\WORK\\F.TXT", true, I, "D:\\WORK\\F.TXT"},
        {"C:\\WORK\\", "SUB\\F.TXT", true, I, "SUB\\F.TXT"},
        {"C:\\A\\B\\", "C:\\A\\C\\F.TXT", true, I, "..\\C\\F.TXT"},
        {"/x/work/", "/x/work/sub/f.txt", false, S, "sub/f.txt"},
        {"/x/work", "/x/work/sub/f.txt", false, S, "work/sub/f.txt"},
        {"/x/work/", "/x/other/f.txt", false, S, "../other/f.txt"},
        {"/x/work/", "/f.txt", false, S, "../../f.txt"},
        {"/x/work/", "sub/f.txt", false, S, "sub/f.txt"}, // relative: kept
        {"/x/Work/", "/x/work/f.txt", false, S, "../work/f.txt"},
        {"/x/Work/", "/x/work/f.txt", false, I, "f.txt"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExtractRelativePath(c.base, c.dest, c.lc,
                                      c.windows ? PathRules::Windows() : PathRules::Native()),
                  c.expected)
            << c.base << " | " << c.dest;
}

TEST(TSortedFileNames, OrderAndDuplicatesUnderBothRules) {
    TSortedFileNames sensitive(LetterCase::Sensitive), insensitive(LetterCase::Insensitive);
    int newSensitive = 0, newInsensitive = 0;
    for (const char *n : {"b.txt", "a.txt", "A.TXT", "a.txt", "_x", "B.TXT", "a.txt"}) {
        newSensitive += sensitive.Add(n);
        newInsensitive += insensitive.Add(n);
    }
    EXPECT_EQ(newSensitive, 5);
    EXPECT_EQ(Names(sensitive.begin(), sensitive.end()),
              (Names{"_x", "A.TXT", "a.txt", "B.TXT", "b.txt"}));
    EXPECT_EQ(newInsensitive, 3);
    EXPECT_EQ(Names(insensitive.begin(), insensitive.end()), (Names{"_x", "a.txt", "b.txt"}));
    EXPECT_TRUE(sensitive.Contains("A.TXT"));
    EXPECT_FALSE(sensitive.Contains("a.TXT"));
    EXPECT_TRUE(insensitive.Contains("a.TXT"));

    const TStringList list = sensitive.ToStringList();
    EXPECT_EQ(list.ToVector(), (Names{"_x", "A.TXT", "a.txt", "B.TXT", "b.txt"}));
    EXPECT_TRUE(list.Sorted());
    EXPECT_EQ(list.IndexOf("a.txt"), 2);
    EXPECT_EQ(list.IndexOf("a.TXT"), -1);
}

// ---- Expansion over a real tree ---------------------------------------------------------------

class ExpandTest : public ::testing::Test {
protected:
    void SetUp() override {
        tree.File("a.txt");
        tree.File("A.TXT");
        tree.File("b.TXT");
        tree.File("c.doc");
        tree.File(".hidden.txt");
        tree.File("sub/d.txt");
        tree.File("sub/e.doc");
        tree.File("sub/deep/f.txt");
        tree.File(".hsub/g.txt");
        saved = platform::GetCurrentDir();
    }
    void TearDown() override { EXPECT_EQ(platform::GetCurrentDir(), saved); }

    // Expands from inside the root (the base folder empty) unless a base folder is given.
    Outcome Expand(TArchiverOptions &o, const TFileArgs &args, const std::string &base = {},
                   LetterCase lc = LetterCase::Sensitive) {
        Outcome run;
        TFileListProgress progress = [&run](int state, EXTRACTINGINFOEX *info, bool &) {
            EXPECT_EQ(state, 2053);
            EXPECT_NE(info, nullptr);
            ++run.progressCalls;
        };
        std::optional<platform::ScopedCurrentDir> keep;
        if (base.empty()) {
            keep.emplace();
            EXPECT_TRUE(platform::SetCurrentDir(tree.Root()));
        }
        run.names = ExpandFileList(o, base, progress, args, run.abort, lc).ToVector();
        return run;
    }

    TempTree tree;
    std::string saved;
};

TEST_F(ExpandTest, SwitchTable) {
    struct Case {
        const char *what;
        Names args;
        int r, p, a;
        Names jx;
        LetterCase lc;
        Names expected;
    };
    const auto S = LetterCase::Sensitive, I = LetterCase::Insensitive;
    const Case cases[] = {
        {"no arguments: the current folder",
         {},
         -1,
         -1,
         -1,
         {},
         S,
         {"A.TXT", "a.txt", "b.TXT", "c.doc"}},
        {"no arguments, r1: subfolders too, hidden folders included",
         {},
         1,
         -1,
         -1,
         {},
         S,
         {".hsub/g.txt", "A.TXT", "a.txt", "b.TXT", "c.doc", "sub/d.txt", "sub/deep/f.txt",
          "sub/e.doc"}},
        {"a1 takes hidden files", {"*.txt"}, -1, -1, 1, {}, S, {".hidden.txt", "a.txt"}},
        {"masks honour case", {"*.txt"}, -1, -1, -1, {}, S, {"a.txt"}},
        {"masks without regard to case", {"*.DOC", "b.txt"}, -1, -1, -1, {}, I, {"b.TXT", "c.doc"}},
        {"the same masks with regard to case", {"*.DOC", "b.txt"}, -1, -1, -1, {}, S, {}},
        {"*.* is every name", {"*.*"}, -1, -1, -1, {}, S, {"A.TXT", "a.txt", "b.TXT", "c.doc"}},
        {"r1 p1: a plain name stays in its folder", {"d.txt", "a.txt"}, 1, 1, -1, {}, S, {"a.txt"}},
        {"r1 p1: a wildcard descends",
         {"*.txt"},
         1,
         1,
         -1,
         {},
         S,
         {".hsub/g.txt", "a.txt", "sub/d.txt", "sub/deep/f.txt"}},
        {"r1 p-1: a plain name descends too", {"d.txt"}, 1, -1, -1, {}, S, {"sub/d.txt"}},
        {"r2: a folder argument lists its tree",
         {"sub"},
         2,
         -1,
         -1,
         {},
         S,
         {"sub/d.txt", "sub/deep/f.txt", "sub/e.doc"}},
        {"r1: a folder argument is no file", {"sub"}, 1, 1, -1, {}, S, {}},
        {"r2: a missing folder is no folder", {"nope", "c.doc"}, 2, -1, -1, {}, S, {"c.doc"}},
        {"folder and mask in one argument", {"sub/*.txt"}, -1, -1, -1, {}, S, {"sub/d.txt"}},
        {"empty arguments add nothing", {"", ""}, -1, -1, -1, {}, S, {}},
        {"duplicates: only the very same name",
         {"a.txt", "A.TXT", "a.txt", "*.txt"},
         -1,
         -1,
         -1,
         {},
         S,
         {"A.TXT", "a.txt"}},
        {"duplicates without regard to case", {"c.doc", "C.DOC"}, -1, -1, -1, {}, I, {"c.doc"}},
        {"jx: named file left out", {"*.*"}, -1, -1, -1, {"c.doc"}, S, {"A.TXT", "a.txt", "b.TXT"}},
        {"jx: wildcard with recursion",
         {},
         1,
         -1,
         -1,
         {"*.doc", "sub/deep/*.*"},
         S,
         {".hsub/g.txt", "A.TXT", "a.txt", "b.TXT", "sub/d.txt"}},
        {"jx compares with regard to case",
         {"*.*"},
         -1,
         -1,
         -1,
         {"A.TXT"},
         S,
         {"a.txt", "b.TXT", "c.doc"}},
        {"jx with regard to case",
         {"b.TXT", "c.doc"},
         -1,
         -1,
         -1,
         {"B.txt"},
         S,
         {"b.TXT", "c.doc"}},
        {"jx without regard to case", {"b.TXT", "c.doc"}, -1, -1, -1, {"B.txt"}, I, {"c.doc"}},
        {"missing files add nothing", {"nope.txt", "nope/*.*"}, -1, -1, -1, {}, S, {}},
    };
    for (const auto &c : cases) {
        TArchiverOptions o;
        o.r = static_cast<int8_t>(c.r);
        o.p = static_cast<int8_t>(c.p);
        o.a = static_cast<int8_t>(c.a);
        for (const auto &x : c.jx)
            o.jx.Add(x);
        TFileArgs args;
        for (const auto &a : c.args)
            args.emplace_back(a);
        const Outcome run = Expand(o, args, {}, c.lc);
        EXPECT_EQ(run.names, c.expected) << c.what;
        EXPECT_EQ(run.progressCalls, static_cast<int>(c.expected.size())) << c.what;
        EXPECT_FALSE(run.abort);
    }
}

TEST_F(ExpandTest, ArgumentKindsAndAbsoluteNames) {
    TArchiverOptions o;
    TStringList list{"c.doc", "sub/e.doc"};
    const char *const pchars[] = {"b.TXT", nullptr};
    const TFileArgs args = {TFileArg(std::string("a.txt")), TFileArg(list),
                            TFileArg(archives::TPCharArray{pchars}), TFileArg(42),
                            TFileArg(tree.Path("sub/d.txt"))};
    EXPECT_EQ(Expand(o, args).names,
              (Names{tree.Path("sub/d.txt"), "a.txt", "b.TXT", "c.doc", "sub/e.doc"}));
}

TEST_F(ExpandTest, DateBoundsAreInclusiveInLocalTime) {
    // TZ is JST-9 in the test run: local midnight is 15:00 UTC the day before.
    struct Stamp {
        const char *name;
        int y, mo, d, h, mi, s, ms;
    };
    const Stamp stamps[] = {
        {"before.txt", 2023, 12, 31, 23, 59, 59, 999}, {"first.txt", 2024, 1, 1, 0, 0, 0, 0},
        {"mid.txt", 2024, 1, 15, 12, 0, 0, 0},         {"last.txt", 2024, 1, 31, 23, 59, 59, 0},
        {"lastms.txt", 2024, 1, 31, 23, 59, 59, 700},  {"after.txt", 2024, 2, 1, 0, 0, 0, 0},
    };
    TempTree dated;
    for (const auto &s : stamps) {
        dated.File(s.name);
        dated.SetLocalTime(s.name, s.y, s.mo, s.d, s.h, s.mi, s.s, s.ms);
    }
    struct Case {
        const char *jo, *job;
        Names expected;
    };
    const Case cases[] = {
        {"20240101", "20240131", {"first.txt", "last.txt", "lastms.txt", "mid.txt"}},
        {"l240101", "l240131", {"first.txt", "last.txt", "lastms.txt", "mid.txt"}},
        {"20240115120000", "20240115120000", {"mid.txt"}},
        {"20240201", "", {"after.txt"}},  // no upper bound
        {"", "20231231", {"before.txt"}}, // no lower bound
        {"2024010",
         "2024013",
         {"after.txt", "before.txt", "first.txt", "last.txt", "lastms.txt",
          "mid.txt"}}, // seven characters: no bounds
    };
    for (const auto &c : cases) {
        TArchiverOptions o;
        o.jo = c.jo[0] ? c.jo : archives::UnsetString;
        o.job = c.job[0] ? c.job : archives::UnsetString;
        bool abort = false;
        const Names names = ExpandFileList(o, dated.Root() + "/", {}, {}, abort).ToVector();
        EXPECT_EQ(names, c.expected) << c.jo << " .. " << c.job;
    }
}

TEST_F(ExpandTest, RelativeNamesAgainstTheBaseFolder) {
    const std::string root = tree.Root();
    const std::string rootName = fs::path(root).filename().string();
    struct Case {
        std::string base;
        Names args;
        int r, jf;
        Names expected;
    };
    const Case cases[] = {
        {root + "/", {root + "/sub/*.txt"}, -1, -2, {"sub/d.txt"}},
        {root, {root + "/sub/*.txt"}, -1, -2, {rootName + "/sub/d.txt"}},
        {root + "/", {"sub/*.txt"}, -1, -2, {"sub/d.txt"}}, // already relative
        {root + "/", {root + "/sub/*.txt"}, -1, -1, {root + "/sub/d.txt"}},
        // Recursion still searches the real folders when names are made relative.
        {root,
         {root + "/sub/*.txt"},
         1,
         -2,
         {rootName + "/sub/d.txt", rootName + "/sub/deep/f.txt"}},
        {root + "/sub/", {root + "/*.doc"}, -1, -2, {"../c.doc"}},
    };
    for (const auto &c : cases) {
        TArchiverOptions o;
        o.r = static_cast<int8_t>(c.r);
        o.jf = static_cast<int8_t>(c.jf);
        TFileArgs args(c.args.begin(), c.args.end());
        EXPECT_EQ(Expand(o, args, c.base).names, c.expected) << c.base << " " << c.args[0];
    }
}

TEST_F(ExpandTest, RelativeBaseFolderIsTakenFromTheStartingFolder) {
    platform::ScopedCurrentDir keep;
    ASSERT_TRUE(platform::SetCurrentDir(tree.Root()));
    TArchiverOptions o;
    o.jf = -2;
    bool abort = false;
    EXPECT_EQ(
        ExpandFileList(o, "sub/", {}, {tree.Path("sub/deep/f.txt"), "d.txt"}, abort).ToVector(),
        (Names{"d.txt", "deep/f.txt"}));
    EXPECT_EQ(platform::GetCurrentDir(), tree.Root());
}

TEST_F(ExpandTest, ShortNameSwitchUsesTheLongNameOnLinux) {
    TArchiverOptions o;
    o.ji = 1;
    EXPECT_EQ(Expand(o, {"c.doc"}).names, Names{"c.doc"});
}

TEST_F(ExpandTest, ProgressRecordCarriesTheNewName) {
    TArchiverOptions o;
    std::vector<std::string> seen;
    int calls = 0;
    TFileListProgress progress = [&](int state, EXTRACTINGINFOEX *info, bool &) {
        ++calls;
        EXPECT_EQ(state, 2053);
        seen.emplace_back(info->szSourceFileName);
        // Zeros everywhere but the source-name field, which holds exactly the name.
        const auto *bytes = reinterpret_cast<const unsigned char *>(info);
        const size_t nameLen = std::strlen(info->szSourceFileName);
        for (size_t i = 0; i < sizeof(EXTRACTINGINFOEX); ++i) {
            if (i < 8 || i >= 8 + nameLen) {
                ASSERT_EQ(bytes[i], 0) << "offset " << i;
            }
        }
    };
    bool abort = false;
    const Names names =
        ExpandFileList(o, tree.Root() + "/", progress, {"sub/e.doc", "c.doc", "c.doc"}, abort)
            .ToVector();
    EXPECT_EQ(names, (Names{"c.doc", "sub/e.doc"}));
    EXPECT_EQ(seen, (Names{"sub/e.doc", "c.doc"})); // in the order found, each once
    EXPECT_EQ(calls, 2);
}

TEST_F(ExpandTest, LongNameIsCutToTheFieldAtACharacterBoundary) {
    // 502 bytes of folders, then three-byte characters: the fourth would need bytes 511 to 513,
    // past the 512 that fit before the terminator.
    const std::string path = std::string(250, 'a') + "/" + std::string(250, 'b') + "/";
    const std::string name = path + "表表表表.txt";
    tree.File(name);
    std::string got;
    bool abort = false;
    TArchiverOptions o;
    ExpandFileList(
        o, tree.Root() + "/",
        [&](int, EXTRACTINGINFOEX *info, bool &) {
            got.assign(info->szSourceFileName, sizeof info->szSourceFileName);
        },
        {path + "*.txt"}, abort);
    ASSERT_EQ(got.size(), 513u);
    EXPECT_EQ(got.substr(0, 511), name.substr(0, 511));
    EXPECT_EQ(got.substr(511), std::string(2, '\0'));
}

TEST_F(ExpandTest, AbortInTheFirstCallKeepsOneFile) {
    TArchiverOptions o;
    o.r = 1;
    int calls = 0;
    bool abort = false;
    const Names names = ExpandFileList(
                            o, tree.Root() + "/",
                            [&](int, EXTRACTINGINFOEX *, bool &stop) {
                                ++calls;
                                stop = true;
                            },
                            {}, abort)
                            .ToVector();
    EXPECT_TRUE(abort);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(names.size(), 1u);
    // The record is marked even when aborted.
    EXPECT_EQ(o.r, -1);
    EXPECT_EQ(o.p, 1);
}

TEST_F(ExpandTest, WindowProgressSendsArcExtractAndStopsOnAnswer) {
    struct RecordingWindow {
        ArcWindow window;
        std::vector<std::pair<UINT, std::string>> messages;
        LRESULT answer = 0;
    };
    static RecordingWindow *current = nullptr;
    RecordingWindow w{{[](HWND, UINT msg, WPARAM state, LPARAM info) -> LRESULT {
                          auto *rec = reinterpret_cast<const EXTRACTINGINFOEX *>(info);
                          current->messages.emplace_back(msg, rec->szSourceFileName);
                          EXPECT_EQ(state, 2053u);
                          return current->answer;
                      }},
                      {},
                      0};
    current = &w;
    TArchiverOptions o;
    bool abort = false;
    ExpandFileList(o, tree.Root() + "/", WindowProgress(&w.window), {"a.txt", "c.doc"}, abort);
    EXPECT_FALSE(abort);
    ASSERT_EQ(w.messages.size(), 2u);
    EXPECT_EQ(w.messages[0].first, ArcRegisterWindowMessage("wm_arcextract"));
    EXPECT_EQ(w.messages[1].second, "c.doc");

    w.messages.clear();
    w.answer = 1;
    const Names names =
        ExpandFileList(o, tree.Root() + "/", WindowProgress(&w.window), {"a.txt", "c.doc"}, abort)
            .ToVector();
    EXPECT_TRUE(abort);
    EXPECT_EQ(names, Names{"a.txt"});
    EXPECT_EQ(w.messages.size(), 1u);
    EXPECT_FALSE(static_cast<bool>(WindowProgress(nullptr)));
}

TEST_F(ExpandTest, RecordIsMarkedAfterwards) {
    TArchiverOptions o;
    o.r = 2;
    o.p = 0;
    o.jo = "20000101";
    o.job = "";
    o.a = 1;
    bool abort = false;
    ExpandFileList(o, tree.Root(), {}, {"*.txt"}, abort);
    EXPECT_EQ(o.r, -1);
    EXPECT_EQ(o.p, 1);
    EXPECT_EQ(o.jo, archives::UnsetString);
    EXPECT_EQ(o.job, archives::UnsetString);
    EXPECT_EQ(o.a, 1); // the others stay
}

TEST_F(ExpandTest, CurrentFolderIsRestoredOnEveryPath) {
    // A malformed date raises after the base folder was entered.
    TArchiverOptions bad;
    bad.jo = "2024XX01";
    bool abort = false;
    EXPECT_THROW(ExpandFileList(bad, tree.Root(), {}, {"*.*"}, abort), archives::EConvertError);
    EXPECT_EQ(platform::GetCurrentDir(), saved);
    EXPECT_EQ(bad.jo, "2024XX01"); // not marked: the work did not finish

    // A progress handler that raises.
    TArchiverOptions o;
    EXPECT_THROW(ExpandFileList(
                     o, tree.Root() + "/sub",
                     [](int, EXTRACTINGINFOEX *, bool &) { throw std::runtime_error("stop"); },
                     {"*.*"}, abort),
                 std::runtime_error);
    EXPECT_EQ(platform::GetCurrentDir(), saved);

    // A base folder that cannot be entered changes nothing.
    EXPECT_THROW(ExpandFileList(o, tree.Path("nope"), {}, {"*.*"}, abort), EInOutError);
    EXPECT_EQ(platform::GetCurrentDir(), saved);

    // A variant without text form raises before anything is searched.
    EXPECT_THROW(ExpandFileList(o, tree.Root(), {}, {TFileArg(archives::TVariant::Null())}, abort),
                 archives::EConvertError);
    EXPECT_EQ(platform::GetCurrentDir(), saved);
}

TEST_F(ExpandTest, LinkedFoldersAreNotFollowed) {
    fs::create_directory_symlink(tree.Root(), tree.Path("sub/loop"));
    tree.File("sub/loop-target.txt");
    TArchiverOptions o;
    o.r = 1;
    bool abort = false;
    const Names names = ExpandFileList(o, tree.Root() + "/sub", {}, {"*.txt"}, abort).ToVector();
    EXPECT_EQ(names, (Names{"d.txt", "deep/f.txt", "loop-target.txt"}));
}

} // namespace
} // namespace filters
