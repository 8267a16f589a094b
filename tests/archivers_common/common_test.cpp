#include "archivers/common/ArcErrors.h"
#include "archivers/common/Collect.h"
#include "archivers/common/CommandLine.h"
#include "archivers/common/DateBound.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/FileSystem.h"
#include "archivers/common/LibArchive.h"
#include "archivers/common/Listing.h"
#include "archivers/common/OutputBuffer.h"
#include "archivers/common/ParallelCompress.h"
#include "archivers/common/Progress.h"
#include "archivers/common/Wildcard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace arclib;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        std::string t = (fs::temp_directory_path() / "arclib_common_XXXXXX").string();
        path = ::mkdtemp(t.data());
    }
    ~TempDir() { fs::remove_all(path); }
    std::string str() const { return path.string(); }
};

void WriteFile(const fs::path &p, const std::string &content) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

std::string ReadFile(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int CodeOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const ArcError &e) {
        return e.code();
    }
    return 0;
}

} // namespace

TEST(Tokenize, QuotesJoinAndKeepBlanks) {
    auto t = Tokenize(R"(x  "-o/out dir/" -w"/tmp/"   "a b.txt" "" )");
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].text, "x");
    EXPECT_FALSE(t[0].quoted);
    EXPECT_EQ(t[1].text, "-o/out dir/");
    EXPECT_EQ(t[2].text, "-w/tmp/");
    EXPECT_EQ(t[3].text, "a b.txt");
    EXPECT_TRUE(t[4].quoted);
    EXPECT_EQ(t[4].text, "");
}

TEST(Tokenize, UnclosedQuoteIsACommandLineError) {
    EXPECT_EQ(CodeOf([] { Tokenize(R"(u "a.7z)"); }), kArcErrCommandLine);
}

TEST(ParseCommandLine, TarStyleWithSeparateValues) {
    CommandLineRules rules;
    rules.commands = {"c", "x"};
    rules.separateValueSwitches = {"-f", "-o"};
    rules.archiveIsFirstArgument = false;
    rules.quotedSwitches = false;
    auto cl = ParseCommandLine(
        R"(c --check-all-path=1 --use-directory=1 -z9  -f "/y/a.tgz" -o "/src/" "/x/a.txt" "-dash" )",
        rules);
    EXPECT_EQ(cl.command, "c");
    EXPECT_EQ(cl.archive, "");
    ASSERT_NE(cl.Find("-f"), nullptr);
    EXPECT_EQ(cl.Find("-f")->value, "/y/a.tgz");
    EXPECT_EQ(cl.Find("-o")->value, "/src/");
    EXPECT_NE(cl.FindPrefix("--check-all-path="), nullptr);
    EXPECT_EQ(cl.FindPrefix("-z")->text, "-z9");
    EXPECT_EQ(cl.files, (std::vector<std::string>{"/x/a.txt", "-dash"}));
}

TEST(ParseCommandLine, SevenZipStyleQuotedSwitchesBeforeArchive) {
    CommandLineRules rules;
    rules.commands = {"u", "x", "e", "d"};
    auto cl =
        ParseCommandLine(R"(x -aou -ms=off "-x!*.bak" "-o/out/"  "/a.7z" "-notswitch" )", rules);
    EXPECT_EQ(cl.command, "x");
    EXPECT_EQ(cl.archive, "/a.7z");
    EXPECT_EQ(cl.FindPrefix("-o")->text, "-o/out/");
    EXPECT_TRUE(cl.Has("-x!*.bak"));
    EXPECT_EQ(cl.files, (std::vector<std::string>{"-notswitch"}));
}

TEST(ParseCommandLine, NoCommandWordAndDirectoryAfterArchive) {
    CommandLineRules rules;
    rules.commands = {"x", "u"};
    rules.directoryAfterArchive = true;
    auto cl = ParseCommandLine(R"( -D  "/y/a.zip" "/base/" "a.txt" )", rules);
    EXPECT_EQ(cl.command, "");
    EXPECT_TRUE(cl.Has("-D"));
    EXPECT_EQ(cl.archive, "/y/a.zip");
    EXPECT_EQ(cl.directory, "/base/");
    EXPECT_EQ(cl.files, (std::vector<std::string>{"a.txt"}));
    // A quoted first token is never a command word, even when it spells one.
    auto quoted = ParseCommandLine(R"("x" "b.txt")", rules);
    EXPECT_EQ(quoted.command, "");
    EXPECT_EQ(quoted.archive, "x");
}

TEST(ParseCommandLine, ResponseFileWithCrLfLines) {
    TempDir dir;
    fs::path list = dir.path / "list.txt";
    WriteFile(list, "\"/x/a b.txt\"\r\n\"/x/c.txt\"\r\n\r\n");
    CommandLineRules rules;
    rules.commands = {"u"};
    auto cl = ParseCommandLine("u \"/a.7z\" \"@" + list.string() + "\" extra", rules);
    EXPECT_EQ(cl.files, (std::vector<std::string>{"/x/a b.txt", "/x/c.txt", "extra"}));
    EXPECT_EQ(CodeOf([&] { ParseCommandLine("u \"/a.7z\" \"@/no/such/list\"", rules); }),
              kArcErrCommandLine);
}

TEST(ParseCommandLine, ValueSwitchAtTheEndIsAnError) {
    CommandLineRules rules;
    rules.separateValueSwitches = {"-f"};
    EXPECT_EQ(CodeOf([&] { ParseCommandLine("x -f", rules); }), kArcErrCommandLine);
}

TEST(Wildcard, Table) {
    struct Case {
        const char *pattern, *name;
        bool brackets, match;
    } cases[] = {
        {"*", "a/b/c.txt", false, true},
        {"*.txt", "c.txt", false, true},
        {"*.txt", "c.txt.bak", false, false},
        {"a?c", "abc", false, true},
        {"a?c", "a表c", false, true}, // one character of three bytes
        {"a?c", "ac", false, false},
        {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false, false},
        {"[ab]x", "bx", true, true},
        {"[!ab]x", "bx", true, false},
        {"[a-c]x", "cx", true, true},
        {"[[]x", "[x", true, true},
        {"[ab]x", "[ab]x", false, true}, // brackets literal unless asked
        {"[unclosed", "[unclosed", true, true},
        {"", "", false, true},
        {"*", "", false, true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name, {c.brackets, false}), c.match)
            << c.pattern << " vs " << c.name;
    EXPECT_TRUE(WildcardMatch("*.TXT", "a.txt", {false, true}));
    EXPECT_FALSE(WildcardMatch("*.TXT", "a.txt"));
}

TEST(EntrySelector, NamesFoldersAndBaseNames) {
    EntrySelector sel({"docs", "*.c", "x/y.txt"});
    EXPECT_TRUE(sel.Matches("docs/readme"));
    EXPECT_TRUE(sel.Matches("docs/"));
    EXPECT_TRUE(sel.Matches("src/main.c"));
    EXPECT_TRUE(sel.Matches("x/y.txt"));
    EXPECT_FALSE(sel.Matches("y.txt"));
    EXPECT_FALSE(sel.Matches("docsx/readme"));
    EXPECT_TRUE(EntrySelector({"*.*"}).Matches("noext"));
    EXPECT_TRUE(EntrySelector().Matches("anything"));
}

TEST(OutputBuffer, CutToSizeAlwaysTerminated) {
    char buf[8];
    std::memset(buf, 'X', sizeof buf);
    OutputBuffer out(buf, sizeof buf);
    out.Append("abc");
    EXPECT_STREQ(buf, "abc");
    out.Append("defghij");
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(out.Text(), "abcdefghij");
}

TEST(OutputBuffer, CutNeverSplitsACharacter) {
    char buf[6];
    OutputBuffer out(buf, sizeof buf);
    out.Append("ab表c"); // 表 is 3 bytes: "ab" + 3 = 5 fits exactly
    EXPECT_STREQ(buf, "ab表");
    char small[5];
    OutputBuffer out2(small, sizeof small);
    out2.Append("ab表");
    EXPECT_STREQ(small, "ab");
}

TEST(OutputBuffer, SizeZeroWritesNothing) {
    char buf[4] = {'Q', 'Q', 'Q', 'Q'};
    OutputBuffer out(buf, 0);
    out.Line("hello");
    EXPECT_EQ(buf[0], 'Q');
    OutputBuffer none(nullptr, 100);
    none.Line("hello"); // no buffer: nothing to crash on
}

TEST(ExportGuard, EveryExceptionBecomesACode) {
    char buf[64];
    OutputBuffer out(buf, sizeof buf);
    EXPECT_EQ(GuardCode(&out, []() -> int { throw ArcError(kArcErrDamaged, "x.tar"); }),
              kArcErrDamaged);
    EXPECT_NE(std::string(buf).find("x.tar"), std::string::npos);
    EXPECT_EQ(GuardCode(nullptr, []() -> int { throw std::bad_alloc(); }), kArcErrNoMemory);
    EXPECT_EQ(GuardCode(nullptr, []() -> int { throw 42; }), kArcErrInternal);
    EXPECT_EQ(GuardCode(nullptr, [] { return 7; }), 7);
}

TEST(PathSafety, EntryNames) {
    struct Case {
        const char *name;
        PathProblem problem;
        const char *normalised;
    } cases[] = {
        {"a/b.txt", PathProblem::None, "a/b.txt"},
        {"./a//b/", PathProblem::None, "a/b"},
        {"../x", PathProblem::ParentReference, ""},
        {"a/../../b", PathProblem::ParentReference, ""},
        {"a/..", PathProblem::ParentReference, ""},
        {"/abs", PathProblem::Absolute, ""},
        {"//abs", PathProblem::Absolute, ""},
        {"", PathProblem::Empty, ""},
        {"./", PathProblem::Empty, ""},
        {"..foo/bar..", PathProblem::None, "..foo/bar.."},
    };
    for (const auto &c : cases) {
        std::string out;
        EXPECT_EQ(NormaliseEntryPath(c.name, out), c.problem) << c.name;
        if (c.problem == PathProblem::None) {
            EXPECT_EQ(out, c.normalised);
        }
    }
}

TEST(PathSafety, LinkTargets) {
    EXPECT_TRUE(LinkStaysInside("a/link", "b.txt"));
    EXPECT_TRUE(LinkStaysInside("a/link", "../c.txt"));
    EXPECT_FALSE(LinkStaysInside("a/link", "../../c.txt"));
    EXPECT_FALSE(LinkStaysInside("link", "/etc/passwd"));
    EXPECT_FALSE(LinkStaysInside("link", ".."));
    EXPECT_FALSE(LinkStaysInside("link", ""));
}

TEST(PathSafety, StoredNames) {
    EXPECT_EQ(StoredNameFor("/x/a.txt"), "x/a.txt");
    EXPECT_EQ(StoredNameFor("./a/./b"), "a/b");
    EXPECT_EQ(StoredNameFor("../../a"), "a");
    EXPECT_EQ(StoredNameFor("a/../b"), "b");
}

TEST(SafeDestination, NeverFollowsALinkOutside) {
    TempDir dir;
    fs::create_directories(dir.path / "dest");
    fs::create_directories(dir.path / "outside");
    fs::create_directory_symlink(dir.path / "outside", dir.path / "dest" / "evil");
    SafeDestination dest((dir.path / "dest").string());
    EXPECT_EQ(CodeOf([&] { dest.OpenFolder("evil/sub", true); }), kArcErrUnsafePath);
    EXPECT_FALSE(fs::exists(dir.path / "outside" / "sub"));
    EXPECT_TRUE(dest.OpenFolder("new/deeper", true));
    EXPECT_TRUE(fs::is_directory(dir.path / "dest" / "new" / "deeper"));
}

// Both ways of making the temporary: unnamed (O_TMPFILE) and named.
class AtomicFileTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { AtomicFile::NamedTemporariesForTesting(GetParam()); }
    void TearDown() override {
        AtomicFile::NamedTemporariesForTesting(false);
        AtomicFile::FailCommitsForTesting(false);
    }
};

INSTANTIATE_TEST_SUITE_P(Temporaries, AtomicFileTest, ::testing::Values(false, true));

TEST_P(AtomicFileTest, CommitReplacesAndDiscardLeavesNothing) {
    TempDir dir;
    fs::path target = dir.path / "a.tar";
    WriteFile(target, "old");
    {
        AtomicFile f = AtomicFile::Create(target.string(), kArcErrWriteArchive);
        ASSERT_EQ(::write(f.fd(), "new", 3), 3);
        // Not committed: dropped.
    }
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
    {
        AtomicFile f = AtomicFile::Create(target.string(), kArcErrWriteArchive);
        ASSERT_EQ(::write(f.fd(), "new", 3), 3);
        EXPECT_TRUE(f.Commit(true));
    }
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

TEST_P(AtomicFileTest, NoReplaceKeepsTheExistingFile) {
    TempDir dir;
    fs::path target = dir.path / "keep.txt";
    WriteFile(target, "mine");
    AtomicFile f = AtomicFile::Create(target.string(), kArcErrWriteFile);
    ASSERT_EQ(::write(f.fd(), "theirs", 6), 6);
    EXPECT_FALSE(f.Commit(false));
    EXPECT_EQ(ReadFile(target), "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

TEST_P(AtomicFileTest, FailedCommitLeavesOldFileAndNoTemporary) {
    TempDir dir;
    fs::path target = dir.path / "a.7z";
    WriteFile(target, "old archive");
    AtomicFile::FailCommitsForTesting(true);
    int code = CodeOf([&] {
        AtomicFile f = AtomicFile::Create(target.string(), kArcErrWriteArchive);
        ASSERT_EQ(::write(f.fd(), "partial", 7), 7);
        f.Commit(true);
    });
    EXPECT_EQ(code, kArcErrWriteArchive);
    EXPECT_EQ(ReadFile(target), "old archive");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
}

namespace {
struct RecordingWindow {
    ArcWindow base{&RecordingWindow::Proc};
    std::vector<int> states;
    std::vector<std::string> names;
    int stopAt = -1; // answer 1 at this report
    static LRESULT Proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
        auto *self = reinterpret_cast<RecordingWindow *>(hwnd);
        if (msg != ArcRegisterWindowMessage("wm_arcextract"))
            return 0;
        self->states.push_back(static_cast<int>(w));
        self->names.push_back(reinterpret_cast<EXTRACTINGINFOEX *>(l)->szSourceFileName);
        return static_cast<int>(self->states.size()) - 1 == self->stopAt ? 1 : 0;
    }
};
} // namespace

TEST(Progress, OwnerWindowRegistryAndCancel) {
    RecordingWindow w;
    HWND h = &w;
    EXPECT_EQ(OwnerWindows::Current(), nullptr);
    EXPECT_TRUE(OwnerWindows::Set(h));
    {
        Progress p(nullptr); // falls back to the registered owner
        ProgressEntry e;
        e.source = "a.txt";
        p.Send(ARCEXTRACT_BEGIN, e);
        w.stopAt = 1;
        EXPECT_EQ(CodeOf([&] { p.Send(ARCEXTRACT_INPROCESS, e); }), kArcErrUserCancel);
    }
    EXPECT_EQ(w.states, (std::vector<int>{0, 1}));
    EXPECT_EQ(w.names[0], "a.txt");
    EXPECT_TRUE(OwnerWindows::Kill(h));
    EXPECT_FALSE(OwnerWindows::Kill(h));
    EXPECT_EQ(OwnerWindows::Current(), nullptr);
}

TEST(Listing, IndividualInfoFields) {
    EntryInfo e;
    e.name = "dir/file.txt";
    e.size = 5000000000ull; // over 4 GiB: the 32-bit field saturates, the getter has it all
    e.compressedSize = 2500000000ull;
    e.mode = S_IFREG | 0640;
    e.method = "-tar-";
    e.mtime = 1700000000;
    INDIVIDUALINFO info;
    FillIndividualInfo(e, info);
    EXPECT_EQ(info.dwOriginalSize, 0xFFFFFFFFu);
    EXPECT_EQ(info.wRatio, 500);
    EXPECT_STREQ(info.szFileName, "dir/file.txt");
    EXPECT_STREQ(info.szAttribute, "-rw-r--");
    EXPECT_STREQ(info.szMode, "-tar-");
    EXPECT_NE(info.wDate, 0);

    EntryInfo other;
    other.name = "other.c";
    HARC h =
        RegisterHandle(std::make_unique<ArchiveHandle>("x.tar", std::vector<EntryInfo>{e, other}));
    int64_t size = 0;
    EXPECT_EQ(ExportGetOriginalSize(h, &size), 0); // nothing found yet
    EXPECT_EQ(ExportFindFirst(h, "*.txt", &info), 0);
    EXPECT_EQ(ExportGetOriginalSize(h, &size), 1);
    EXPECT_EQ(size, 5000000000ll);
    ARC_FILETIME ft{};
    EXPECT_EQ(ExportGetWriteTime(h, &ft), 1);
    EXPECT_EQ(ExportGetCreateTime(h, &ft), 0); // not recorded
    EXPECT_EQ(ExportFindNext(h, &info), -1);
    EXPECT_EQ(ExportFindFirst(h, "\"*.c\" \"*.txt\"", &info), 0);
    EXPECT_EQ(ExportFindNext(h, &info), 0);
    EXPECT_STREQ(info.szFileName, "other.c");
    EXPECT_EQ(ExportCloseArchive(h), 0);
    EXPECT_EQ(ExportCloseArchive(h), kArcErrHandle);
    EXPECT_EQ(ExportFindFirst(h, "*", &info), kArcErrHandle);
}

TEST(Listing, LongNamesCutAtACharacter) {
    EntryInfo e;
    e.name = std::string(511, 'a') + "表"; // 514 bytes: the character does not fit whole
    INDIVIDUALINFO info;
    FillIndividualInfo(e, info);
    EXPECT_EQ(std::strlen(info.szFileName), 511u);
}

TEST(Progress, OwnerWindowIsPreferredAndKillRestoresThePrevious) {
    RecordingWindow first, second, call;
    ASSERT_TRUE(OwnerWindows::Set(&first));
    ASSERT_TRUE(OwnerWindows::Set(&second));
    ProgressEntry e;
    Progress(&call).Send(ARCEXTRACT_BEGIN, e);
    EXPECT_EQ(second.states.size(), 1u);
    EXPECT_TRUE(call.states.empty());
    EXPECT_TRUE(OwnerWindows::Kill(&second));
    Progress(&call).Send(ARCEXTRACT_END, e);
    EXPECT_EQ(first.states, (std::vector<int>{2}));
    EXPECT_TRUE(OwnerWindows::Kill(&first));
    Progress(&call).Send(ARCEXTRACT_END, e); // no owner: the call's window
    EXPECT_EQ(call.states, (std::vector<int>{2}));
    EXPECT_FALSE(OwnerWindows::Set(nullptr));
}

namespace {
TEST(Listing, EstimatedSizesOfNonEmptyEntriesAreNeverZero) {
    // One large entry and a tiny one in a small compressed archive: the tiny one's share rounds
    // down to nothing, which would list as "stored in 0 bytes, ratio 0".
    std::vector<EntryInfo> entries(3);
    entries[0].size = 1u << 30;
    entries[1].size = 10;
    entries[2].size = 0;
    EstimateCompressedSizes(entries, 4096);
    EXPECT_GT(entries[0].compressedSize, 0u);
    EXPECT_EQ(entries[1].compressedSize, 1u);
    EXPECT_EQ(entries[2].compressedSize, 0u);
    const struct {
        uint64_t compressed, original;
        WORD ratio;
    } cases[] = {{1, 1u << 30, 1}, {0, 10, 0}, {0, 0, 0}, {500, 1000, 500}, {3000, 1000, 3000}};
    for (const auto &c : cases)
        EXPECT_EQ(RatioPerMille(c.compressed, c.original), c.ratio)
            << c.compressed << " of " << c.original;
}
} // namespace

namespace {
TEST(DateBound, TheSwitchTextsAsTheFileSelectionReadsThem) {
    auto at = [](int y, int mo, int d, int h, int mi, int s) {
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        tm.tm_isdst = -1;
        return static_cast<int64_t>(std::mktime(&tm));
    };
    EXPECT_EQ(ParseDateBound("20240101", "000000", 2026), at(2024, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseDateBound("20240131", "235959", 2026), at(2024, 1, 31, 23, 59, 59));
    EXPECT_EQ(ParseDateBound("l20240101", "000000", 2026), at(2024, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseDateBound("240101", "000000", 2026), at(2024, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseDateBound("990101", "000000", 2026), at(1999, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseDateBound("760101", "000000", 2026), at(1976, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseDateBound("750101", "000000", 2026), at(2075, 1, 1, 0, 0, 0));
    EXPECT_EQ(ParseDateBound("20240101123456", "000000", 2026), at(2024, 1, 1, 12, 34, 56));
    EXPECT_EQ(ParseDateBound("240101123456", "000000", 2026), at(2024, 1, 1, 12, 34, 56));
    for (const char *none : {"", "2024010", "l", "2024"})
        EXPECT_FALSE(ParseDateBound(none, "000000", 2026).has_value()) << none;
    for (const char *bad : {"20241301", "2024013x", "20240101240000"})
        EXPECT_THROW(ParseDateBound(bad, "000000", 2026), ArcError) << bad;
    DateRange r{at(2024, 1, 1, 0, 0, 0), at(2024, 1, 31, 23, 59, 59)};
    EXPECT_TRUE(r.Contains(at(2024, 1, 1, 0, 0, 0)));
    EXPECT_TRUE(r.Contains(at(2024, 1, 31, 23, 59, 59)));
    EXPECT_FALSE(r.Contains(at(2023, 12, 31, 23, 59, 59)));
    EXPECT_TRUE(DateRange{}.Contains(0));
}
} // namespace

namespace {

struct CollectCase {
    const char *what;
    std::vector<std::string> args;
    std::function<void(CollectOptions &)> set;
    const char *files;     // entry names, comma-separated, in order
    const char *unmatched; // arguments that named nothing, "!" before a mask
};

std::string Joined(const Collection &c) {
    std::string s;
    for (const auto &f : c.files)
        s += (s.empty() ? "" : ",") + f.entryName;
    return s;
}

std::string Unmatched(const Collection &c) {
    std::string s;
    for (const auto &u : c.unmatched)
        s += (s.empty() ? "" : ",") + std::string(u.mask ? "!" : "") + u.argument;
    return s;
}

} // namespace

// One tree, every option the dialects map their switches onto.
TEST(Collect, OptionsOfEveryDialect) {
    TempDir t;
    for (const char *f : {"a.txt", "b.log", ".hid.txt", "old.txt", "sub/c.txt", "sub/d.log",
                          "sub/.h2.txt", "sub/deep/c.txt"})
        WriteFile(t.path / f, f);
    fs::create_directories(t.path / "zdir");
    ASSERT_EQ(::mkfifo((t.path / "fifo").c_str(), 0600), 0);
    const struct timespec old[2] = {{946684800, 0}, {946684800, 0}}; // 2000-01-01
    ASSERT_EQ(::utimensat(AT_FDCWD, (t.path / "old.txt").c_str(), old, 0), 0);
    struct stat self {};
    ASSERT_EQ(::stat((t.path / "a.txt").c_str(), &self), 0);

    const CollectCase cases[] = {
        {"a mask in its folder only", {"*.txt"}, {}, "a.txt,old.txt", ""},
        {"a mask in subfolders",
         {"*.txt"},
         [](CollectOptions &o) { o.recurseWildcards = true; },
         "a.txt,old.txt,sub/c.txt,sub/deep/c.txt",
         ""},
        {"a plain name found in subfolders",
         {"c.txt"},
         [](CollectOptions &o) {
             o.recurseWildcards = true;
             o.plainNamesInSubfolders = true;
         },
         "sub/c.txt,sub/deep/c.txt",
         ""},
        {"a folder with its contents",
         {"sub"},
         {},
         "sub,sub/c.txt,sub/d.log,sub/deep,sub/deep/c.txt",
         ""},
        {"last names only, no folder entries, no duplicates",
         {"sub"},
         [](CollectOptions &o) {
             o.keepFolders = false;
             o.folderEntries = false;
         },
         "c.txt,d.log",
         ""},
        {"a folder without its contents",
         {"sub"},
         [](CollectOptions &o) { o.recurseFolders = false; },
         "sub",
         ""},
        {"masks in folder parts",
         {"s*/*.log"},
         [](CollectOptions &o) { o.masksInFolders = true; },
         "sub/d.log",
         ""},
        {"*.* is every name where masks are Windows-like",
         {"sub/deep/*.*", "zdir"},
         [](CollectOptions &o) { o.masksInFolders = true; },
         "sub/deep/c.txt,zdir",
         ""},
        {"an excluded folder brings nothing",
         {"sub"},
         [](CollectOptions &o) { o.exclude = EntrySelector({"deep"}); },
         "sub,sub/c.txt,sub/d.log",
         ""},
        {"hidden files by a mask; folders not taken by masks",
         {"*"},
         [](CollectOptions &o) {
             o.hidden = true;
             o.masksTakeFolders = false;
         },
         ".hid.txt,a.txt,b.log,old.txt",
         ""},
        {"date bounds leave older files out",
         {"*.txt"},
         [](CollectOptions &o) { o.written.from = 978307200; }, // 2001-01-01
         "a.txt",
         ""},
        {"bracket classes",
         {"[ab].*"},
         [](CollectOptions &o) { o.brackets = true; },
         "a.txt,b.log",
         ""},
        {"the archive itself is never taken",
         {"*.txt"},
         [&](CollectOptions &o) {
             o.skipDev = self.st_dev;
             o.skipIno = self.st_ino;
         },
         "old.txt",
         ""},
        {"names that name nothing, in order",
         {"none.txt", "*.zz", "a.txt"},
         {},
         "a.txt",
         "none.txt,!*.zz"},
        {"a special file named is skipped", {"fifo"}, {}, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        CollectOptions o;
        o.baseDir = t.str();
        if (c.set)
            c.set(o);
        char buf[4096] = {};
        OutputBuffer out(buf, sizeof buf);
        Collection got = Collect(c.args, o, out);
        EXPECT_EQ(Joined(got), c.files);
        EXPECT_EQ(Unmatched(got), c.unmatched);
        for (const auto &f : got.files)
            EXPECT_EQ(f.diskPath.rfind(t.str(), 0), 0u) << f.diskPath;
        if (std::string(c.args[0]) == "fifo") {
            EXPECT_NE(std::string(buf).find("(special file)"), std::string::npos) << buf;
        }
    }
}

TEST(Collect, AbsentNamesAndUnreadableFoldersFailBeforeAnythingIsWritten) {
    TempDir t;
    WriteFile(t.path / "a.txt", "a");
    char buf[1024] = {};
    OutputBuffer out(buf, sizeof buf);
    CollectOptions o;
    o.baseDir = t.str();
    EXPECT_EQ(CodeOf([&] { CollectSources({"a.txt", "missing.txt"}, o, out); }), kArcErrReadSource);
    // A mask that matches nothing is only a line.
    EXPECT_EQ(CollectSources({"*.zz", "a.txt"}, o, out).size(), 1u);
    EXPECT_NE(std::string(buf).find("no file matches *.zz"), std::string::npos) << buf;
    EXPECT_EQ(CodeOf([&] { ListFolder((t.path / "a.txt").string()); }), kArcErrReadSource);
    EXPECT_EQ(CodeOf([&] { ListFolder((t.path / "none").string()); }), kArcErrReadSource);
}

namespace {

// Inflates one gzip member; fails the test when bytes follow it or it is cut short.
std::string Gunzip(const std::string &gz) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, 31), Z_OK);
    std::string out;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(gz.data()));
    z.avail_in = static_cast<uInt>(gz.size());
    int r = Z_OK;
    char buf[65536];
    while (r == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(buf);
        z.avail_out = sizeof buf;
        r = inflate(&z, Z_NO_FLUSH);
        out.append(buf, sizeof buf - z.avail_out);
    }
    EXPECT_EQ(r, Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the gzip member";
    inflateEnd(&z);
    return out;
}

std::string MixedData(size_t size) {
    std::string s;
    uint32_t x = 12345;
    while (s.size() < size) {
        x = x * 1103515245u + 12345u;
        if ((x >> 16) % 3 == 0)
            s += "line " + std::to_string(x % 1000) + " of some text\n";
        else
            s += static_cast<char>(x >> 24);
    }
    s.resize(size);
    return s;
}

} // namespace

// Blocks compressed on several threads join into one gzip member that zlib reads back whole.
TEST(ParallelGzip, OneMemberWhateverTheSizeAndThreads) {
    constexpr size_t B = ParallelCompressor::kGzipBlock;
    TempDir t;
    for (size_t size : {size_t{0}, size_t{1}, B - 1, B, B + 1, 5 * B + 17}) {
        const std::string data = MixedData(size);
        for (unsigned threads : {1u, 2u, 4u}) {
            SCOPED_TRACE(std::to_string(size) + " bytes, " + std::to_string(threads) + " threads");
            const fs::path file = t.path / "out.gz";
            {
                UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
                ASSERT_TRUE(fd);
                ParallelCompressor gz(fd.get(), ParallelCompressor::Codec::Gzip, 6, threads);
                // Uneven pieces, as libarchive hands them over.
                for (size_t at = 0; at < data.size(); at += 10240)
                    gz.Write(data.data() + at, std::min<size_t>(10240, data.size() - at));
                gz.Finish();
            }
            EXPECT_EQ(Gunzip(ReadFile(file)), data);
        }
    }
    // gzip itself takes it, and the size stays within half a percent of one deflate stream.
    const std::string text = MixedData(3 << 20);
    const fs::path file = t.path / "big.gz";
    {
        UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        ParallelCompressor gz(fd.get(), ParallelCompressor::Codec::Gzip, 6, 2);
        gz.Write(text.data(), text.size());
        gz.Finish();
    }
    EXPECT_EQ(std::system(("gzip -t '" + file.string() + "'").c_str()), 0);
    uLongf bound = compressBound(static_cast<uLong>(text.size()));
    std::string single(bound, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef *>(single.data()), &bound,
                        reinterpret_cast<const Bytef *>(text.data()),
                        static_cast<uLong>(text.size()), 6),
              Z_OK);
    EXPECT_LE(static_cast<double>(fs::file_size(file)), 1.005 * static_cast<double>(bound));
}

TEST(ParallelGzip, AFailedWriteIsAnErrorAndAnUnfinishedStreamStopsCleanly) {
    const std::string data = MixedData(6 * ParallelCompressor::kGzipBlock);
    {
        ParallelCompressor gz(-1, ParallelCompressor::Codec::Gzip, 6, 2); // no file to write to
        EXPECT_EQ(CodeOf([&] {
                      gz.Write(data.data(), data.size());
                      gz.Finish();
                  }),
                  kArcErrWriteArchive);
    }
    TempDir t;
    UniqueFd fd(::open((t.path / "x.gz").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    ParallelCompressor gz(fd.get(), ParallelCompressor::Codec::Bzip2, 9, 2);
    gz.Write(data.data(), data.size()); // dropped unfinished: the workers stop, nothing hangs
}

// bzip2 pieces are whole streams: the file is their concatenation, read by bzip2 itself as one.
TEST(ParallelCompress, Bzip2PiecesConcatenateIntoOneFile) {
    TempDir t;
    for (size_t size : {size_t{0}, size_t{1}, size_t{100000}, size_t{100001}, size_t{450017}}) {
        const std::string data = MixedData(size);
        for (unsigned threads : {1u, 2u}) {
            SCOPED_TRACE(std::to_string(size) + " bytes, " + std::to_string(threads) + " threads");
            const fs::path file = t.path / "out.bz2";
            {
                UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
                ASSERT_TRUE(fd);
                ParallelCompressor bz(fd.get(), ParallelCompressor::Codec::Bzip2, 1, threads);
                for (size_t at = 0; at < data.size(); at += 10240)
                    bz.Write(data.data() + at, std::min<size_t>(10240, data.size() - at));
                bz.Finish();
            }
            const fs::path back = t.path / "back";
            ASSERT_EQ(std::system(
                          ("bzip2 -dc '" + file.string() + "' > '" + back.string() + "'").c_str()),
                      0);
            EXPECT_EQ(ReadFile(back), data);
        }
    }
}
