#include "FakeControl.h"
#include "archives/Archiver.h"
#include "archives/Exceptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

using namespace archives;

namespace {

std::string MessageOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const EArchiver &e) {
        return e.what();
    }
    return "(nothing raised)";
}

// A back-end that provides only what every back-end must.
class TMinimal : public TArchiver {
public:
    TMinimal() : TArchiver(ArchiverClassOf<TMinimal>()) {}
    static void LoadDLL() { ++Loads; }
    static void FreeDLL() {}
    int Extract(HWND, const std::string &, const TArchiverOptions &, const std::string &,
                const TFileArgs &, bool, std::string &) override {
        return 0;
    }
    static inline int Loads = 0;
};

// Derived directly from TArchiver without LoadDLL.
class TNoLoad : public TArchiver {
public:
    TNoLoad() : TArchiver(ArchiverClassOf<TNoLoad>()) {}
    int Extract(HWND, const std::string &, const TArchiverOptions &, const std::string &,
                const TFileArgs &, bool, std::string &) override {
        return 0;
    }
};

TEST(Archiver, ClassWithoutLoadDllCannotBeConstructed) {
    EXPECT_EQ(MessageOf([] { TNoLoad x; }), "Abstract method 'TArchiver.LoadDLL' was called");
    EXPECT_EQ(MessageOf([] { ArchiverClassOf<TNoLoad>().FreeDLL(); }),
              "Abstract method 'TArchiver.FreeDLL' was called");
}

TEST(Archiver, ConstructionLoadsTheLibraryOfTheClass) {
    int before = TMinimal::Loads;
    TMinimal m;
    EXPECT_EQ(TMinimal::Loads, before + 1);
}

TEST(Archiver, ListingDefaultsAnswerThatThereIsNothing) {
    TMinimal m;
    TIndividualInfoEx info{};
    EXPECT_EQ(m.OpenArchive(nullptr, "a.lzh", 0), nullptr);
    EXPECT_EQ(m.FindFirst(nullptr, &info, "*"), -1);
    EXPECT_EQ(m.FindNext(nullptr, &info), -1);
    EXPECT_EQ(m.CloseArchive(nullptr), 0);
}

TEST(Archiver, MissingCapabilitiesRaiseTheirMessagesAndChangeNothing) {
    TMinimal m;
    m.CommandLine = "before";
    TArchiverOptions options;
    std::string output = "out";
    TFileArgs files{"a.txt"};
    unsigned char buffer[4];
    DWORD written = 7;
    struct Case {
        std::function<void()> call;
        const char *message;
    } cases[] = {
        {[&] { m.Pack(nullptr, "a.x", options, "", files, false, output); },
         "この形式では書庫ファイルの作成をサポートしておりません。"},
        {[&] { m.Delete(nullptr, "a.x", options, "", files, false, output); },
         "この形式の書庫ではファイルの削除をサポートしておりません。"},
        {[&] { m.Update(nullptr, "a.x", options, "", files, false, output); },
         "この形式の書庫では書庫の更新をサポートしておりません。"},
        {[&] { m.MakeSfx(nullptr, "a.x", options, "", output); },
         "この形式では自己解凍書庫の作成をサポートしておりません。"},
        {[&] { m.ExtractMem(nullptr, "a.x", options, "e", buffer, 4, &written); },
         "この形式ではメモリへの展開をサポートしておりません。"},
        {[&] { m.CheckArchive("a.x", 0, 0); },
         "この形式では書庫チェック機能をサポートしておりません。"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(MessageOf(c.call), c.message);
        EXPECT_THROW(c.call(), EArchiver);
    }
    EXPECT_EQ(m.CommandLine, "before");
    EXPECT_EQ(output, "out");
    EXPECT_EQ(written, 7u);
}

TEST(Archiver, OwnerWindowIsStoredUntilKilled) {
    TMinimal m;
    ArcWindow w{nullptr};
    EXPECT_FALSE(m.HasOwnerWindow());
    EXPECT_FALSE(m.SetOwnerWindow(&w, nullptr)); // the base answers false, but stores
    EXPECT_TRUE(m.HasOwnerWindow());
    EXPECT_FALSE(m.KillOwnerWindow(&w));
    EXPECT_FALSE(m.HasOwnerWindow());
    m.SetOwnerWindow(nullptr, nullptr);
    EXPECT_FALSE(m.HasOwnerWindow());
}

// A family whose middle class has its own library and whose leaf inherits its parent's.
struct Counts {
    int base = 0, derived = 0;
};
Counts g_counts;

class TBase : public TArchiver {
public:
    TBase() : TBase(ArchiverClassOf<TBase>()) {}
    static void LoadDLL() { ++g_counts.base; }
    static void FreeDLL() {}
    int Extract(HWND, const std::string &, const TArchiverOptions &, const std::string &,
                const TFileArgs &, bool, std::string &) override {
        return 0;
    }

protected:
    explicit TBase(const TArchiverClass &Class) : TArchiver(Class) {}
};

class TDerived : public TBase {
public:
    TDerived() : TBase(ArchiverClassOf<TDerived>()) {}
    static void LoadDLL() { ++g_counts.derived; }
};

class TInheriting : public TBase {
public:
    TInheriting() : TBase(ArchiverClassOf<TInheriting>()) {}
};

TEST(Archiver, RequireDllCallsLoadDllOfTheInstancesOwnClass) {
    g_counts = {};
    std::unique_ptr<TArchiver> derived = std::make_unique<TDerived>();
    EXPECT_EQ(g_counts.derived, 1);
    EXPECT_EQ(g_counts.base, 0);
    derived->RequireDLL();
    EXPECT_EQ(g_counts.derived, 2);
    EXPECT_EQ(g_counts.base, 0);

    std::unique_ptr<TArchiver> inheriting = std::make_unique<TInheriting>();
    inheriting->RequireDLL();
    EXPECT_EQ(g_counts.base, 2);
    EXPECT_EQ(g_counts.derived, 2);
    EXPECT_EQ(inheriting->ClassType().LoadDLL, &TBase::LoadDLL);
    EXPECT_EQ(derived->ClassType().LoadDLL, &TDerived::LoadDLL);
}

class TempDir {
public:
    TempDir() {
        path_ =
            std::filesystem::temp_directory_path() /
            ("archiver_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Archiver, AddArchiveAndDirQuotesBothAndSkipsAnEmptyDirectory) {
    TCmdOpt with, without;
    TArchiver::AddArchiveAndDir(with, "/a/x.lzh", "/src");
    TArchiver::AddArchiveAndDir(without, "/a/x.lzh", "");
    EXPECT_EQ(with.CommandLine, " \"/a/x.lzh\" \"/src/\"");
    EXPECT_EQ(without.CommandLine, " \"/a/x.lzh\"");
}

TEST(Archiver, AddFileListChoosesBetweenCommandLineAndResponseFile) {
    TempDir dir;
    const std::string res = dir / "names.txt";
    struct Case {
        bool useResFile;
        std::string resFileName;
        bool expectResponseFile;
    } cases[] = {
        {true, "", false},
        {true, UnsetString, false},
        {true, res, true},
        {false, res, false},
    };
    for (const auto &c : cases) {
        std::filesystem::remove(res);
        TArchiverOptions options;
        options.ResFileName = c.resFileName;
        options.UserFileList = "-z extra";
        TCmdOpt cmd;
        int n = TArchiver::AddFileList(cmd, options, c.useResFile, {"a.txt", "b c.txt"});
        EXPECT_EQ(n, 2);
        SCOPED_TRACE(std::string(c.useResFile ? "res " : "no res ") + c.resFileName);
        if (c.expectResponseFile) {
            EXPECT_EQ(cmd.CommandLine, " \"@" + res + "\" -z extra");
            EXPECT_EQ(ReadFile(res), "\"a.txt\"\r\n\"b c.txt\"\r\n");
        } else {
            EXPECT_EQ(cmd.CommandLine, " \"a.txt\" \"b c.txt\" -z extra");
            EXPECT_FALSE(std::filesystem::exists(res));
        }
    }
}

TEST(Archiver, AddFileListWritesTheUserFileListEvenWithoutNames) {
    TArchiverOptions options;
    TCmdOpt cmd;
    EXPECT_EQ(TArchiver::AddFileList(cmd, options, false, {}), 0);
    EXPECT_EQ(cmd.CommandLine, " "); // the empty user file list still takes its blank
}

// A back-end over a real binding and the fake library, written the way the formats are: one
// binding per class in a unit-level variable, kept after a failed load.
std::unique_ptr<TArchiverDll> g_fakeDll;

class TFakeLha : public TArchiver {
public:
    TFakeLha() : TArchiver(ArchiverClassOf<TFakeLha>()) {}
    static void LoadDLL() {
        if (g_fakeDll)
            return;
        g_fakeDll = std::make_unique<TArchiverDll>("LHA 形式書庫", "UNLHA32.DLL", "Unlha");
        g_fakeDll->LoadDLL();
    }
    static void FreeDLL() { g_fakeDll.reset(); }
    int Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                const std::string &DestDir, const TFileArgs &Files, bool UseResFile,
                std::string &Output) override {
        TCmdOpt cmd;
        cmd.AddNumber("x", Options.x);
        cmd.Add(Options.UserOptions);
        AddArchiveAndDir(cmd, ArchiveName, DestDir);
        AddFileList(cmd, Options, UseResFile, Files);
        CommandLine = "x" + cmd.CommandLine;
        return g_fakeDll->Command(Wnd, CommandLine, Output.data(),
                                  static_cast<DWORD>(Output.size()));
    }
};

TEST(Archiver, MissingLibraryFailsTheFirstConstructionOnly) {
    TFakeLha::FreeDLL();
    {
        fake::ScopedSearchPath path("empty");
        EXPECT_EQ(MessageOf([] { TFakeLha a; }),
                  "LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。");
        // The binding stays: later constructions and RequireDLL do not load again...
        TFakeLha b;
        EXPECT_NO_THROW(b.RequireDLL());
        // ...and the error comes from the binding when an operation reaches it.
        TArchiverOptions options;
        std::string out;
        EXPECT_THROW(b.Extract(nullptr, "/a.lzh", options, "", {}, false, out), ENoArchiverDLL);
    }
    TFakeLha::FreeDLL();
}

TEST(Archiver, BackEndRunsItsCommandLineThroughTheFakeLibrary) {
    TFakeLha::FreeDLL();
    fake::ScopedSearchPath path("full");
    fake::Reset();
    fake::SetResult("Unlha", 11);
    fake::SetOutput("listing");
    TFakeLha lha;
    TArchiverOptions options;
    options.x = 1;
    std::string out(64, '\0');
    EXPECT_EQ(lha.Extract(nullptr, "/d/a.lzh", options, "/out", {"*.*"}, false, out), 11);
    EXPECT_EQ(lha.CommandLine, "x -x1  \"/d/a.lzh\" \"/out/\" \"*.*\" ");
    auto calls = fake::CallsTo("Unlha");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, lha.CommandLine);
    EXPECT_EQ(calls[0].size, 64u);
    EXPECT_STREQ(out.c_str(), "listing");
    TFakeLha::FreeDLL();
}

} // namespace
