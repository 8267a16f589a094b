#include "FakeControl.h"
#include "archives/ARCHIVES.h"
#include "formats/ARJ32.h"
#include "formats/CAB32.h"
#include "formats/LHA32.h"
#include "formats/RAR32.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

using namespace archives;
namespace fs = std::filesystem;

namespace {

const char *const kUndetermined = "書庫の形式を判別できません。";
const char *const kUnidentified = "書庫の形式を特定できませんでした。";

std::string MessageOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const std::exception &e) {
        return e.what();
    }
    return "(nothing raised)";
}

class ArchiveFile : public ::testing::Test {
protected:
    // The content probes bind the CAB, ARJ and RAR libraries too (the fakes among them).
    static void FreeBindings() {
        formats::TLha32::FreeDLL();
        formats::TCab32::FreeDLL();
        formats::TArj32::FreeDLL();
        formats::TRar32::FreeDLL();
    }
    void SetUp() override {
        FreeBindings();
        fake::Reset();
        dir_ = fs::temp_directory_path() /
               ("archivefile_test_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        FreeBindings();
        fs::remove_all(dir_);
    }
    std::string Path(const std::string &name) const { return (dir_ / name).string(); }
    std::string Touch(const std::string &name, const std::string &text = "x") const {
        const std::string p = Path(name);
        fs::create_directories(fs::path(p).parent_path());
        std::ofstream(p) << text;
        return p;
    }
    static std::string Received() {
        auto calls = fake::CallsTo("Unlha");
        return calls.empty() ? std::string("(no call)") : calls.back().text;
    }

    fake::ScopedSearchPath path_{"full"};
    fs::path dir_;
};

TEST_F(ArchiveFile, StartsUndecided) {
    TArchiveFile arc;
    EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
    EXPECT_EQ(arc.FileName(), UnsetString);
    EXPECT_EQ(arc.Archiver(), nullptr);
    EXPECT_EQ(arc.OutputSize(), 0);
    EXPECT_EQ(arc.ProgressWindow(), nullptr);
    EXPECT_TRUE(fake::Calls().empty()); // nothing loaded yet
}

TEST_F(ArchiveFile, FileNameSelectsTheFormatByExtension) {
    TArchiveFile arc;
    arc.SetFileName("/a/backup.LZH");
    EXPECT_EQ(arc.ArchiverType(), atLha);
    EXPECT_NE(dynamic_cast<formats::TLha32 *>(arc.Archiver()), nullptr);
    EXPECT_EQ(arc.FileName(), "/a/backup.LZH");

    // A name whose extension names no format keeps type and back-end.
    TArchiver *before = arc.Archiver();
    arc.SetFileName("/a/notes.txt");
    EXPECT_EQ(arc.FileName(), "/a/notes.txt");
    EXPECT_EQ(arc.ArchiverType(), atLha);
    EXPECT_EQ(arc.Archiver(), before);

    // Setting the same type again makes a new back-end.
    arc.SetArchiverType(atLha);
    EXPECT_NE(arc.Archiver(), nullptr);
    EXPECT_NE(arc.Archiver(), before);
}

struct RefusedCase {
    const char *name;
    const char *message;
};

TEST_F(ArchiveFile, FormatWithoutBackEndIsRefusedAndNothingChanges) {
    TArchiveFile arc;
    arc.SetFileName("/a/x.lzh");
    TArchiver *before = arc.Archiver();
    EXPECT_EQ(MessageOf([&] { arc.SetFileName("/a/x.gca"); }), kUnidentified);
    EXPECT_EQ(arc.FileName(), "/a/x.lzh");
    EXPECT_EQ(arc.ArchiverType(), atLha);
    EXPECT_EQ(arc.Archiver(), before);
    for (TArchiverType t : {atGCA, atBel}) {
        EXPECT_EQ(MessageOf([&] { arc.SetArchiverType(t); }), kUnidentified);
        EXPECT_EQ(arc.ArchiverType(), atLha);
        EXPECT_EQ(arc.Archiver(), before);
    }
}

TEST_F(ArchiveFile, NoneChangesNothingAndAutoDetectKeepsTheBackEnd) {
    TArchiveFile arc;
    arc.SetArchiverType(atLha);
    TArchiver *backEnd = arc.Archiver();
    arc.SetArchiverType(atNone);
    EXPECT_EQ(arc.ArchiverType(), atLha);
    EXPECT_EQ(arc.Archiver(), backEnd);
    arc.SetArchiverType(atAutoDetect);
    EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
    EXPECT_EQ(arc.Archiver(), backEnd);
}

TEST_F(ArchiveFile, ReadingAndDesigningOnlyStoreTheType) {
    TArchiveFile arc;
    arc.ComponentState = csReading;
    arc.SetArchiverType(atGCA);
    EXPECT_EQ(arc.ArchiverType(), atGCA);
    EXPECT_EQ(arc.Archiver(), nullptr);
    arc.ComponentState = csDesigning;
    arc.SetArchiverType(atLha);
    EXPECT_EQ(arc.ArchiverType(), atLha);
    EXPECT_EQ(arc.Archiver(), nullptr);
    EXPECT_TRUE(fake::Calls().empty());
}

TEST_F(ArchiveFile, MissingLibraryLeavesNameTypeAndBackEnd) {
    TArchiveFile arc;
    fake::ScopedSearchPath empty("empty");
    EXPECT_EQ(MessageOf([&] { arc.SetFileName("/a/x.lzh"); }),
              "LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。");
    EXPECT_EQ(arc.FileName(), UnsetString);
    EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
    EXPECT_EQ(arc.Archiver(), nullptr);
    // The binding stays after the failure, so the next back-end is made, and the library's
    // absence shows when an operation reaches it.
    arc.SetFileName("/a/x.lzh");
    EXPECT_EQ(arc.ArchiverType(), atLha);
    EXPECT_THROW(arc.PackFiles(nullptr, nullptr, "", {TFileArg(Touch("a.txt"))}), ENoArchiverDLL);
}

TEST_F(ArchiveFile, OutputSize) {
    TArchiveFile arc;
    arc.SetOutputSize(8192);
    EXPECT_EQ(arc.OutputSize(), 8192);
    EXPECT_EQ(arc.Output().size(), 8192u);
    EXPECT_EQ(arc.Output()[0], '\0');
    EXPECT_EQ(arc.OutputText(), "");
    arc.SetOutputSize(0);
    EXPECT_EQ(arc.OutputSize(), 0);
    EXPECT_TRUE(arc.Output().empty());
    arc.SetOutputSize(-5);
    EXPECT_EQ(arc.OutputSize(), 0);
}

// The compress job's call: the file list builder sets p to 1 in a private copy, the exclusions are
// applied and dropped, the component's own record stays as the caller left it.
TEST_F(ArchiveFile, PackFilesCollectsTheFilesOnAPrivateCopy) {
    const std::string source = Touch("x/a.txt");
    Touch("x/b.bak");
    TArchiveFile arc;
    arc.SetFileName(Path("y/a.lzh"));
    arc.Options().x = 1;
    arc.Options().jso = 1;
    arc.SetOutputSize(8192);
    TStringList files{source};
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {TFileArg(&files)}), 0);
    const std::string expected =
        "u -+ -p1 -x1 -jso1  \"" + Path("y/a.lzh") + "\" \"" + source + "\" ";
    EXPECT_EQ(Received(), expected);
    EXPECT_EQ(arc.CommandLine(), expected);
    EXPECT_EQ(arc.Options().p, -1);
    EXPECT_EQ(arc.Options().r, -1);
    EXPECT_EQ(fake::CallsTo("Unlha").at(0).size, 8192u);

    // With exclusions and wildcards, and a record of the caller's own.
    fake::Reset();
    TArchiverOptions mine;
    mine.r = 1;
    mine.jo = "19800101";
    mine.jx.Add(Path("x/*.bak"));
    EXPECT_EQ(arc.PackFiles(nullptr, &mine, "", {TFileArg(Path("x/*.*"))}), 0);
    EXPECT_EQ(Received(), "u -+ -p1  \"" + Path("y/a.lzh") + "\" \"" + source + "\" ");
    EXPECT_EQ(mine.r, 1);
    EXPECT_EQ(mine.jo, "19800101");
    EXPECT_EQ(mine.jx.Count(), 1);
}

TEST_F(ArchiveFile, PackFilesWithArchiverFilterPassesTheArgumentsAsTheyAre) {
    TArchiveFile arc;
    arc.SetFileName(Path("a.lzh"));
    arc.Options().PackFilter = pfArchiver;
    arc.Options().jx.Add("*.bak");
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "/src", {TFileArg("*.txt"), TFileArg("nothing")}), 0);
    EXPECT_EQ(Received(), "u -+ \"-jx*.bak\"  \"" + Path("a.lzh") +
                              "\" \"/src/\" \"*.txt\" "
                              "\"nothing\" ");
    EXPECT_EQ(arc.CommandLine(), Received());
}

TEST_F(ArchiveFile, NothingToPackCallsNoLibraryAndEmptiesOutput) {
    TArchiveFile arc;
    arc.SetFileName(Path("a.lzh"));
    arc.SetOutputSize(16);
    arc.Output().replace(0, 5, "stale");
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {TFileArg(Path("none/*.txt"))}), 0);
    EXPECT_TRUE(fake::CallsTo("Unlha").empty());
    EXPECT_EQ(arc.OutputText(), "");
    EXPECT_EQ(arc.OutputSize(), 16);
}

TEST_F(ArchiveFile, AbortWhileCollectingGives32800WithoutTheLibrary) {
    const std::string a = Touch("a.txt");
    Touch("b.txt");
    TArchiveFile arc;
    arc.SetFileName(Path("first.lzh"));
    arc.PackFiles(nullptr, nullptr, "", {TFileArg(a)});
    const std::string before = arc.CommandLine();
    fake::Reset();
    std::vector<std::string> reported;
    arc.OnProgress = [&](TArchiveFile &sender, int state, EXTRACTINGINFOEX *info, bool &abort) {
        EXPECT_EQ(&sender, &arc);
        EXPECT_EQ(state, ARCEXTRACT_COLLECT);
        reported.push_back(info->szSourceFileName);
        abort = true;
    };
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {TFileArg(Path("*.txt"))}), 32800);
    EXPECT_EQ(reported.size(), 1u);
    EXPECT_TRUE(fake::CallsTo("Unlha").empty());
    EXPECT_EQ(arc.CommandLine(), before);
}

// Progress of the library arrives through the hidden window, inside the library call.
TEST_F(ArchiveFile, LibraryProgressReachesOnProgress) {
    const std::string a = Touch("a.txt");
    TArchiveFile arc;
    arc.SetFileName(Path("a.lzh"));
    fake::SetProgress({{.state = ARCEXTRACT_OPEN, .source = "a.lzh"},
                       {.state = ARCEXTRACT_BEGIN, .source = "a.txt", .fileSize = 1},
                       {.state = ARCEXTRACT_END, .source = "a.txt", .fileSize = 1}});
    std::vector<std::pair<int, std::string>> seen;
    arc.OnProgress = [&](TArchiveFile &, int state, EXTRACTINGINFOEX *info, bool &abort) {
        EXPECT_FALSE(abort);
        seen.emplace_back(state, info ? info->szSourceFileName : "");
    };
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {TFileArg(a)}), 0);
    const std::vector<std::pair<int, std::string>> expected{{ARCEXTRACT_COLLECT, a},
                                                            {ARCEXTRACT_OPEN, "a.lzh"},
                                                            {ARCEXTRACT_BEGIN, "a.txt"},
                                                            {ARCEXTRACT_END, "a.txt"}};
    EXPECT_EQ(seen, expected);
    ASSERT_NE(arc.ProgressWindow(), nullptr);
    auto set = fake::CallsTo("UnlhaSetOwnerWindowEx");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].wnd, arc.ProgressWindow());
    EXPECT_EQ(fake::CallsTo("UnlhaKillOwnerWindowEx").size(), 1u);
    EXPECT_EQ(fake::OwnerWindow("libunlha32.so"), nullptr); // registration lasts one pack step
    EXPECT_NE(Received().find(" -n1 "), std::string::npos);
    EXPECT_EQ(fake::ProgressAnswers(), (std::vector<int64_t>{0, 0, 0}));

    // The window stays for later operations.
    HWND window = arc.ProgressWindow();
    arc.PackFiles(nullptr, nullptr, "", {TFileArg(a)});
    EXPECT_EQ(arc.ProgressWindow(), window);
}

TEST_F(ArchiveFile, AbortAnsweredToTheLibraryComesBackAsItsResult) {
    const std::string a = Touch("a.txt");
    TArchiveFile arc;
    arc.SetFileName(Path("a.lzh"));
    fake::SetProgress({{.state = ARCEXTRACT_BEGIN, .source = "a.txt"},
                       {.state = ARCEXTRACT_END, .source = "a.txt"}});
    arc.OnProgress = [](TArchiveFile &, int state, EXTRACTINGINFOEX *, bool &abort) {
        abort = state == ARCEXTRACT_BEGIN;
    };
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {TFileArg(a)}), 32800);
    EXPECT_EQ(fake::ProgressAnswers(), (std::vector<int64_t>{1}));
    EXPECT_EQ(fake::CallsTo("UnlhaKillOwnerWindowEx").size(), 1u);
}

// An exception cannot cross the library: the window stops the run, and the exception is raised
// once the library has returned, after the owner window was released.
TEST_F(ArchiveFile, ExceptionInOnProgressIsRaisedAfterTheLibraryReturns) {
    const std::string a = Touch("a.txt");
    TArchiveFile arc;
    arc.SetFileName(Path("a.lzh"));
    fake::SetProgress({{.state = ARCEXTRACT_BEGIN, .source = "a.txt"},
                       {.state = ARCEXTRACT_END, .source = "a.txt"}});
    arc.OnProgress = [](TArchiveFile &, int state, EXTRACTINGINFOEX *, bool &) {
        if (state == ARCEXTRACT_BEGIN)
            throw std::runtime_error("handler failed");
    };
    EXPECT_EQ(MessageOf([&] { arc.PackFiles(nullptr, nullptr, "", {TFileArg(a)}); }),
              "handler failed");
    EXPECT_EQ(fake::ProgressAnswers(), (std::vector<int64_t>{1}));
    EXPECT_EQ(fake::CallsTo("UnlhaKillOwnerWindowEx").size(), 1u);
    EXPECT_EQ(arc.CommandLine(), Received());
}

TEST_F(ArchiveFile, WithoutHandlerThereIsNoWindow) {
    const std::string a = Touch("a.txt");
    TArchiveFile arc;
    arc.SetFileName(Path("a.lzh"));
    fake::SetProgress({{.state = ARCEXTRACT_BEGIN, .source = "a.txt"}});
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {TFileArg(a)}), 0);
    EXPECT_EQ(arc.ProgressWindow(), nullptr);
    EXPECT_TRUE(fake::CallsTo("UnlhaSetOwnerWindowEx").empty());
    EXPECT_TRUE(fake::CallsTo("UnlhaKillOwnerWindowEx").empty());
    EXPECT_TRUE(fake::ProgressAnswers().empty());
    EXPECT_EQ(Received().find("-n1"), std::string::npos);
}

TEST_F(ArchiveFile, LibraryResultAndTextComeBackUnchanged) {
    const std::string a = Touch("a.txt");
    TArchiveFile arc;
    arc.SetFileName(Path("a.lzh"));
    arc.SetOutputSize(64);
    fake::SetResult("Unlha", 0x8012);
    fake::SetOutput("cannot write");
    EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {TFileArg(a)}), 0x8012);
    EXPECT_EQ(arc.OutputText(), "cannot write");
}

TEST_F(ArchiveFile, ContentDecidesWhenTheExtensionDoesNot) {
    const std::string a = Touch("a.txt");
    const std::string renamed = Touch("archive.dat", "not really");
    {
        TArchiveFile arc;
        arc.SetFileName(renamed);
        EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
        EXPECT_EQ(arc.PackFiles(nullptr, nullptr, "", {TFileArg(a)}), 0); // the fake claims it
        EXPECT_EQ(arc.ArchiverType(), atLha);
        EXPECT_EQ(fake::CallsTo("UnlhaCheckArchive").at(0).text, renamed);
    }
    fake::Reset();
    fake::SetResult("UnlhaCheckArchive", 0);
    // The ZIP libraries of the fake set would claim it too.
    fake::SetResult("UnZipCheckArchive", 0);
    fake::SetResult("UnzipCheckArchive", 0);
    // And so would the BGA and YZ1 libraries.
    fake::SetResult("BgaOpenArchive", 0);
    fake::SetResult("Yz1OpenArchive", 0);
    // And the CAB, ARJ and RAR libraries.
    fake::SetResult("CabOpenArchive", 0);
    fake::SetResult("UnarjOpenArchive", 0);
    fake::SetResult("UnrarOpenArchive", 0);
    for (const std::string &name : {renamed, Path("missing.dat")}) {
        TArchiveFile arc;
        arc.SetFileName(name);
        EXPECT_EQ(MessageOf([&] { arc.PackFiles(nullptr, nullptr, "", {TFileArg(a)}); }),
                  kUndetermined);
        EXPECT_EQ(MessageOf([&] { arc.ExtractFiles(nullptr, nullptr, Path("out"), {}); }),
                  kUndetermined);
    }
    EXPECT_TRUE(fake::CallsTo("Unlha").empty());
}

struct OperationCase {
    const char *what;
    std::function<int(TArchiveFile &)> run;
    const char *entry;
    std::string expected; // the command line, with @ for the archive's path
};

// The other operations resolve the format as PackFiles does and hand their files on unchanged.
TEST_F(ArchiveFile, OtherOperations) {
    char buffer[8];
    DWORD written = 0;
    const OperationCase cases[] = {
        {"extract",
         [](TArchiveFile &a) {
             return a.ExtractFiles(nullptr, nullptr, "/out", {TFileArg("*.txt")});
         },
         "Unlha", R"(x -+  "@" "/out/" "*.txt" )"},
        {"delete",
         [](TArchiveFile &a) {
             return a.DeleteFiles(nullptr, nullptr, "/base", {TFileArg("a.txt")});
         },
         "Unlha", R"(d -+  "@" "a.txt" )"},
        {"update",
         [](TArchiveFile &a) {
             return a.UpdateFiles(nullptr, nullptr, "/base", {TFileArg("*.*")});
         },
         "Unlha", R"(f -+  "@" "/base/" "*.*" )"},
        {"self-extractor", [](TArchiveFile &a) { return a.MakeSfx(nullptr, nullptr, "/out"); },
         "Unlha", R"(s -+  "@" "/out/" )"},
        {"into memory",
         [&](TArchiveFile &a) {
             return a.ExtractMem(nullptr, nullptr, "a.txt", buffer, sizeof buffer, &written);
         },
         "UnlhaExtractMem", R"( -+  "@" "a.txt" )"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        TArchiveFile arc;
        const std::string name = Path("archive.dat");
        Touch("archive.dat");
        arc.SetFileName(name);
        EXPECT_EQ(c.run(arc), 0);
        EXPECT_EQ(arc.ArchiverType(), atLha);
        std::string expected = c.expected;
        expected.replace(expected.find('@'), 1, name);
        auto calls = fake::CallsTo(c.entry);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].text, expected);
        EXPECT_EQ(arc.CommandLine(), expected);
    }
}

TEST_F(ArchiveFile, CheckAndListing) {
    TArchiveFile arc;
    arc.SetFileName(Path("a.lzh"));
    EXPECT_EQ(arc.CheckArchive(1, 16), 1);
    EXPECT_EQ(fake::CallsTo("UnlhaCheckArchive").at(0).mode, 17);

    fake::SetItems({{.name = "a.txt", .originalSize = 3, .method = "-lh5-"},
                    {.name = "dir/b.txt", .originalSize = 5, .method = "-lh0-"}});
    std::vector<TIndividualInfoEx> entries;
    EXPECT_EQ(arc.ListEntries(nullptr, "*", entries), 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[0].szFileName, "a.txt");
    EXPECT_STREQ(entries[1].szFileName, "dir/b.txt");
    EXPECT_EQ(int64_t{entries[1].OriginalSize}, 5); // a copy: the field is packed
    EXPECT_STREQ(entries[1].szMode, "-lh0-");
    EXPECT_EQ(fake::CallsTo("UnlhaCloseArchive").size(), 1u);

    fake::SetResult("UnlhaOpenArchive", 0);
    entries.clear();
    EXPECT_THROW(arc.ListEntries(nullptr, "*", entries), EArchiver);
    EXPECT_TRUE(entries.empty());
}

} // namespace
