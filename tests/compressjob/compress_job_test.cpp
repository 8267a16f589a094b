// The compress job through the dialog's logic (the real CompressFile and archive component) with
// the fake UNLHA32, and the built program with the real library.
#include "FakeControl.h"
#include "app/CompressJob.h"
#include "app/JobHook.h"
#include "app/QuorvelLogic.h"
#include "archives/ARCHIVES.h"
#include "formats/ARJ32.h"
#include "formats/BGA32.h"
#include "formats/CAB32.h"
#include "formats/LHA32.h"
#include "formats/RAR32.h"
#include "formats/SZIP32.h"
#include "formats/TAR32.h"
#include "formats/YZ132.h"
#include "formats/ZIP32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace quorvel;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string &name, const std::string &data) {
    fs::create_directories(fs::path(name).parent_path());
    std::ofstream(name, std::ios::binary) << data;
}

class TempDir {
public:
    TempDir() {
        std::random_device random;
        path_ = fs::temp_directory_path() /
                ("quorvel_compress_" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                 "_" + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }
    const fs::path &path() const { return path_; }
    // The names in the folder (not below it).
    std::vector<std::string> Names(const std::string &sub) const {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(path_ / sub))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

// A view that holds the controls' values and answers every box with its first button.
class View : public IQuorvelView {
public:
    TFormValues Values() const override { return values; }
    void SetValues(const TFormValues &v) override { values = v; }
    size_t ShowMessageBox(const platform::MessageBoxText &box) override {
        boxes.push_back(box.Text);
        return 0;
    }
    std::optional<std::string> ChooseFile() override { return std::nullopt; }
    void RemoveCloseCommand() override {}
    void HideForm() override {}
    void Terminate() override {}

    TFormValues values;
    std::vector<std::string> boxes;
};

class CompressJob : public ::testing::Test {
protected:
    // A content probe of an earlier test binds every format's library (the fakes among them)
    // for the process; each test starts with none.
    static void FreeBindings() {
        formats::TLha32::FreeDLL();
        formats::TZip32::FreeDLL();
        formats::TTar32::FreeDLL();
        formats::TSevenZip32::FreeDLL();
        formats::TBGA32::FreeDLL();
        formats::TYZ1::FreeDLL();
        formats::TCab32::FreeDLL();
        formats::TArj32::FreeDLL();
        formats::TRar32::FreeDLL();
    }
    void SetUp() override {
        FreeBindings();
        fake::Reset();
    }
    void TearDown() override { FreeBindings(); }

    TempDir dir_;
};

// The first line of a result box: "Successful!" or "JOB failure" (the reason follows).
std::string Outcome(const std::string &box) {
    return box.substr(0, box.find('\n'));
}

class CompressJobWithFake : public CompressJob {
protected:
    fake::ScopedSearchPath path_{"full"};

    // The fake writes no archive; the job's seam puts one where the library would have, and the
    // fake lists the source as its one entry.
    void SetUp() override {
        CompressJob::SetUp();
        SetJobHook([](TJobStage stage, const std::string &source, const std::string &newFile) {
            if (stage == TJobStage::SourceOpened)
                fake::SetItems({{.name = source.substr(1)}});
            if (stage == TJobStage::Written)
                WriteFile(newFile, "new archive");
        });
    }
    void TearDown() override {
        SetJobHook({});
        CompressJob::TearDown();
    }

    // Runs the job from the tool bar (confirmation answered Yes) and returns the box shown after.
    std::string RunFromToolBar(const std::string &source, const std::string &dest,
                               bool sourceDelete, bool overWrite = true) {
        View view;
        view.values = {jkCompress, source, dest, sourceDelete, overWrite};
        TQuorvelLogic logic(view, dir_ / "QUORVEL");
        logic.ExecuteON();
        return view.boxes.size() == 2 ? Outcome(view.boxes[1]) : "(no result box)";
    }
};

TEST_F(CompressJobWithFake, SendsTheLhaCommandLineAndSucceeds) {
    const std::string source = dir_ / "x/a.txt";
    const std::string dest = dir_ / "y/a.lzh";
    WriteFile(source, "text");
    fs::create_directories(dir_.path() / "y");
    fake::SetResult("Unlha", 0);
    EXPECT_EQ(RunFromToolBar(source, dest, false), SuccessText);
    auto calls = fake::CallsTo("Unlha");
    ASSERT_EQ(calls.size(), 1u);
    // The archive is made under a hidden temporary name beside the destination that keeps its
    // extension; two blanks for the empty user options, a trailing one for the empty user file
    // list.
    const std::string prefix = "u -+ -p1 -x1 -jso1  \"" + (dir_ / "y/.a.lzh.quorvel-");
    EXPECT_EQ(calls[0].text.substr(0, prefix.size()), prefix) << calls[0].text;
    const std::string rest = calls[0].text.substr(prefix.size());
    EXPECT_EQ(rest.substr(6), ".lzh\" \"" + source + "\" ") << calls[0].text;
    EXPECT_EQ(calls[0].size, 8192u);
    EXPECT_EQ(calls[0].wnd, nullptr);
    EXPECT_TRUE(fake::CallsTo("UnlhaSetOwnerWindowEx").empty()); // no handler, no window
    EXPECT_TRUE(fs::exists(source));
    EXPECT_EQ(ReadFile(dest), "new archive");
    EXPECT_EQ(dir_.Names("y"), std::vector<std::string>{"a.lzh"});
}

// A name is a name, not a mask: the job packs exactly its one source, hidden or holding wildcard
// characters, and "Source Delete" removes exactly that file.
TEST_F(CompressJobWithFake, TheSourceNameIsTakenLiterally) {
    for (const char *name : {"x?.txt", "*", "[ab].txt", ".hidden", "a b.txt"}) {
        SCOPED_TRACE(name);
        fake::Reset();
        const std::string folder = dir_ / "src";
        fs::remove_all(folder);
        for (const char *neighbour : {"x1.txt", "x2.txt", "a.txt", "b.txt"})
            WriteFile(folder + "/" + neighbour, neighbour);
        const std::string source = folder + "/" + name;
        WriteFile(source, "the one");
        EXPECT_EQ(RunFromToolBar(source, dir_ / "a.lzh", true), SuccessText);
        auto calls = fake::CallsTo("Unlha");
        ASSERT_EQ(calls.size(), 1u);
        const std::string tail = " \"" + source + "\" ";
        ASSERT_GE(calls[0].text.size(), tail.size());
        EXPECT_EQ(calls[0].text.substr(calls[0].text.size() - tail.size()), tail);
        EXPECT_FALSE(fs::exists(source));
        EXPECT_EQ(dir_.Names("src"),
                  (std::vector<std::string>{"a.txt", "b.txt", "x1.txt", "x2.txt"}));
        fs::remove(dir_ / "a.lzh");
    }
}

// A library that reads the name as a mask packs more than the source: the job finds it in the
// new archive and replaces nothing, deletes nothing.
TEST_F(CompressJobWithFake, AnArchiveHoldingMoreThanTheSourceIsRefused) {
    const std::string source = dir_ / "x?.txt";
    WriteFile(source, "the one");
    WriteFile(dir_ / "a.lzh", "old archive");
    SetJobHook([](TJobStage stage, const std::string &, const std::string &newFile) {
        if (stage == TJobStage::SourceOpened)
            fake::SetItems({{.name = "x1.txt"}, {.name = "x?.txt"}});
        if (stage == TJobStage::Written)
            WriteFile(newFile, "new archive");
    });
    View view;
    view.values = {jkCompress, source, dir_ / "a.lzh", true, true};
    TQuorvelLogic logic(view, dir_ / "QUORVEL");
    logic.ExecuteON();
    ASSERT_EQ(view.boxes.size(), 2u);
    EXPECT_EQ(view.boxes[1], std::string(FailureText) + "\nCompress " + source + " to " +
                                 (dir_ / "a.lzh") +
                                 ": the archiver library packed 2 entries (x1.txt, x?.txt) "
                                 "instead of " +
                                 source + " alone; " + (dir_ / "a.lzh") + " is not replaced");
    EXPECT_EQ(ReadFile(dir_ / "a.lzh"), "old archive");
    EXPECT_EQ(ReadFile(source), "the one");
    EXPECT_EQ(dir_.Names(""), (std::vector<std::string>{"a.lzh", "x?.txt"}));
}

struct ResultCase {
    int result;
    bool sourceDelete;
    const char *box;
};

// Only 0 is success; any other result keeps the source and the old destination.
TEST_F(CompressJobWithFake, ResultDecidesSuccessAndTheSource) {
    const ResultCase cases[] = {
        {0, false, SuccessText},     {0, true, SuccessText},     {-1, true, FailureText},
        {0x8006, true, FailureText}, {32800, true, FailureText}, {1, false, FailureText},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.result);
        fake::Reset();
        fake::SetResult("Unlha", c.result);
        const std::string source = dir_ / "a.txt";
        const std::string dest = dir_ / "a.lzh";
        WriteFile(source, "text");
        WriteFile(dest, "old archive");
        EXPECT_EQ(RunFromToolBar(source, dest, c.sourceDelete), c.box);
        EXPECT_EQ(fake::CallsTo("Unlha").size(), 1u);
        EXPECT_EQ(fs::exists(source), c.result != 0 || !c.sourceDelete);
        if (c.result == 0) {
            EXPECT_EQ(ReadFile(dest), "new archive");
        } else {
            EXPECT_EQ(ReadFile(dest), "old archive");
        }
        EXPECT_LE(dir_.Names("").size(), 2u); // nothing left behind beside them
        fs::remove(dest);
    }
}

// A source the job cannot delete after a good archive makes the job a failure.
TEST_F(CompressJobWithFake, SourceThatCannotBeDeletedFailsTheJob) {
    EXPECT_EQ(RunFromToolBar("/proc/version", dir_ / "a.lzh", true), FailureText);
    EXPECT_EQ(fake::CallsTo("Unlha").size(), 1u);
    EXPECT_EQ(RunFromToolBar("/proc/version", dir_ / "a.lzh", false), SuccessText);
}

TEST_F(CompressJobWithFake, ComponentErrorsRaiseAndKeepEverything) {
    const std::pair<const char *, const char *> cases[] = {
        {"a.txt.out", "書庫の形式を判別できません。"},
        {"b.txt", "書庫の形式を判別できません。"},
        {"a.gca", "書庫の形式を特定できませんでした。"},
    };
    for (const auto &[dest, message] : cases) {
        SCOPED_TRACE(dest);
        fake::Reset();
        fake::SetResult("UnlhaCheckArchive", 0);
        // The fake CAB, ARJ and RAR libraries would open any file.
        fake::SetResult("CabOpenArchive", 0);
        fake::SetResult("UnarjOpenArchive", 0);
        fake::SetResult("UnrarOpenArchive", 0);
        const std::string source = dir_ / "a.txt";
        WriteFile(source, "text");
        WriteFile(dir_ / dest, "old");
        View view;
        view.values = {jkCompress, source, dir_ / dest, true, true};
        TQuorvelLogic logic(view, dir_ / "QUORVEL");
        try {
            logic.DoJob();
            ADD_FAILURE() << "nothing raised";
        } catch (const archives::EArchiver &e) {
            EXPECT_STREQ(e.what(), message);
        }
        EXPECT_EQ(logic.LastJobResult(), false);
        EXPECT_EQ(ReadFile(source), "text");
        EXPECT_EQ(ReadFile(dir_ / dest), "old");
        EXPECT_TRUE(fake::CallsTo("Unlha").empty());
        fs::remove(dir_ / dest);
    }
}

// Formats whose libraries only read: the job raises the back-end's refusal before any library
// runs, and the source and the old destination stay as they were.
TEST_F(CompressJobWithFake, ReadOnlyFormatsRefuseToPackAndKeepEverything) {
    for (const char *dest : {"a.rar", "a.arj", "A.RAR"}) {
        SCOPED_TRACE(dest);
        fake::Reset();
        const std::string source = dir_ / "a.txt";
        WriteFile(source, "text");
        WriteFile(dir_ / dest, "old archive");
        View view;
        view.values = {jkCompress, source, dir_ / dest, true, true};
        TQuorvelLogic logic(view, dir_ / "QUORVEL");
        try {
            logic.DoJob();
            ADD_FAILURE() << "nothing raised";
        } catch (const archives::EArchiver &e) {
            EXPECT_STREQ(e.what(), "この形式では書庫ファイルの作成をサポートしておりません。");
        }
        EXPECT_EQ(logic.LastJobResult(), false);
        EXPECT_EQ(ReadFile(source), "text");
        EXPECT_EQ(ReadFile(dir_ / dest), "old archive");
        std::vector<std::string> left{"a.txt", dest};
        std::sort(left.begin(), left.end());
        EXPECT_EQ(dir_.Names(""), left); // no temporary file left behind
        EXPECT_TRUE(fake::CallsTo("Unrar").empty());
        EXPECT_TRUE(fake::CallsTo("Unarj").empty());
        EXPECT_TRUE(fake::CallsTo("Unlha").empty());
        fs::remove(dir_ / dest);
    }
}

// A cabinet is packed by CAB32 with its own dialect: "-a", the hidden temporary name, the source.
TEST_F(CompressJobWithFake, CabIsPackedByTheCabLibrary) {
    const std::string source = dir_ / "x/a.txt";
    WriteFile(source, "text");
    EXPECT_EQ(RunFromToolBar(source, dir_ / "a.cab", false), SuccessText);
    auto calls = fake::CallsTo("Cab");
    ASSERT_EQ(calls.size(), 1u);
    const std::string prefix = "-a  \"" + (dir_ / ".a.cab.quorvel-");
    EXPECT_EQ(calls[0].text.substr(0, prefix.size()), prefix) << calls[0].text;
    const std::string tail = ".cab\" \"" + source + "\" ";
    ASSERT_GE(calls[0].text.size(), tail.size());
    EXPECT_EQ(calls[0].text.substr(calls[0].text.size() - tail.size()), tail) << calls[0].text;
    EXPECT_EQ(ReadFile(dir_ / "a.cab"), "new archive");
    EXPECT_TRUE(fake::CallsTo("Unlha").empty());
}

TEST_F(CompressJobWithFake, MissingLibraryRaisesAndKeepsEverything) {
    fake::ScopedSearchPath empty("empty");
    const std::string source = dir_ / "a.txt";
    WriteFile(source, "text");
    WriteFile(dir_ / "a.lzh", "old");
    EXPECT_THROW(CompressFile(source, dir_ / "a.lzh"), archives::ENoArchiverDLL);
    EXPECT_EQ(ReadFile(dir_ / "a.lzh"), "old");
    EXPECT_EQ(ReadFile(source), "text");
}

// Runs a copy of the built program (its libraries reached through a lib link beside its folder)
// with no display, and returns its exit status and standard error.
// archiverPath, when given, is where the program finds its archiver libraries (the fakes).
std::pair<int, std::string> RunProgram(const TempDir &dir, const std::string &settings,
                                       const std::string &archiverPath = {}) {
    const fs::path built(QUORVEL_EXE);
    fs::create_directories(dir.path() / "bin");
    if (!fs::exists(dir.path() / "lib"))
        fs::create_directory_symlink(built.parent_path().parent_path() / "lib", dir.path() / "lib");
    fs::copy_file(built, dir / "bin/QUORVEL", fs::copy_options::overwrite_existing);
    WriteFile(dir / "bin/QUORVEL.ini", settings);
    const std::string cmd = "cd '" + dir.path().string() +
                            "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u " +
                            platform::kLibrarySearchEnv +
                            (archiverPath.empty() ? std::string()
                                                  : " " + std::string(platform::kLibrarySearchEnv) +
                                                        "='" + archiverPath + "'") +
                            " bin/QUORVEL exec exit 2>err.txt; " + "echo $? >status.txt";
    if (std::system(cmd.c_str()) != 0)
        return {-1, ""};
    return {std::stoi(ReadFile(dir / "status.txt")), ReadFile(dir / "err.txt")};
}

// Runs a shell command in the folder; its exit status and standard output.
std::pair<int, std::string> Shell(const TempDir &dir, const std::string &command) {
    const std::string cmd =
        "cd '" + dir.path().string() + "' && (" + command + ") >out.txt 2>&1; echo $? >rc.txt";
    if (std::system(cmd.c_str()) != 0)
        return {-1, ""};
    return {std::stoi(ReadFile(dir / "rc.txt")), ReadFile(dir / "out.txt")};
}

class CompressJobWithLibrary : public CompressJob {
protected:
    void SetUp() override {
#ifndef QUORVEL_HAVE_UNLHA32
        GTEST_SKIP() << "libunlha32.so is not part of this build";
#endif
        CompressJob::SetUp();
    }
};

TEST_F(CompressJobWithLibrary, ProgramMakesARealLzhThatOtherToolsRead) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i % 37) + " of the sample\n";
    WriteFile(dir_ / "src/a.txt", text);
    WriteFile(dir_ / "out/a.lzh", "an old file in the way");
    const std::string settings = "[System]\nJobKind=1\nSourceFile=" + (dir_ / "src/a.txt") +
                                 "\nDistFile=" + (dir_ / "out/a.lzh") +
                                 "\nSourDelete=1\nOverWrite=0\n";
    auto [status, err] = RunProgram(dir_, settings);
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_FALSE(fs::exists(dir_ / "src/a.txt")); // "Source Delete" after a good archive
    EXPECT_EQ(dir_.Names("out"), std::vector<std::string>{"a.lzh"});
    EXPECT_LT(fs::file_size(dir_ / "out/a.lzh"), text.size() / 4); // -lh5- compressed

    // The entry is the source with its folders, without the leading separator.
    const std::string entry = (dir_ / "src/a.txt").substr(1);
    auto [lhasa, tested] = Shell(dir_, "lhasa -t out/a.lzh");
    EXPECT_EQ(lhasa, 0) << tested;
    EXPECT_NE(tested.find("a.txt"), std::string::npos) << tested;
    auto [list, listed] = Shell(dir_, "bsdtar -tf out/a.lzh");
    EXPECT_EQ(list, 0) << listed;
    EXPECT_EQ(listed, entry + "\n");
    auto [extract, content] = Shell(dir_, "bsdtar -xOf out/a.lzh");
    EXPECT_EQ(extract, 0);
    EXPECT_EQ(content, text);
}

TEST_F(CompressJobWithLibrary, ProgramFailureKeepsTheSourceAndSaysWhy) {
    WriteFile(dir_ / "src/a.txt", "a");
    const std::string settings = "[System]\nJobKind=1\nSourceFile=" + (dir_ / "src/a.txt") +
                                 "\nDistFile=" + (dir_ / "out/a.gca") + "\nSourDelete=1\n";
    auto [status, err] = RunProgram(dir_, settings);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(
        err,
        "QUORVEL: Compress " + (dir_ / "src/a.txt") + " to " + (dir_ / "out/a.gca") +
            ": 書庫の形式を特定できませんでした。\nQUORVEL: 書庫の形式を特定できませんでした。\n");
    EXPECT_TRUE(fs::exists(dir_ / "src/a.txt"));
}

// The program run unattended into a.rar or a.arj (their libraries present: the fakes) fails with
// the back-end's refusal, says why, and keeps the source and the old destination.
TEST_F(CompressJob, ProgramRefusesToPackRarAndArj) {
    for (const char *dest : {"a.rar", "a.arj"}) {
        SCOPED_TRACE(dest);
        const std::string archive = dir_ / (std::string("out/") + dest);
        WriteFile(dir_ / "src/a.txt", "text");
        WriteFile(archive, "old archive");
        const std::string settings = "[System]\nJobKind=1\nSourceFile=" + (dir_ / "src/a.txt") +
                                     "\nDistFile=" + archive + "\nSourDelete=1\nOverWrite=1\n";
        auto [status, err] = RunProgram(dir_, settings, fake::Folder("full"));
        EXPECT_EQ(status, 1);
        const std::string message = "この形式では書庫ファイルの作成をサポートしておりません。";
        EXPECT_EQ(err, "QUORVEL: Compress " + (dir_ / "src/a.txt") + " to " + archive + ": " +
                           message + "\nQUORVEL: " + message + "\n");
        EXPECT_EQ(ReadFile(dir_ / "src/a.txt"), "text");
        EXPECT_EQ(ReadFile(archive), "old archive");
        EXPECT_EQ(dir_.Names("out"), std::vector<std::string>{dest});
        fs::remove(archive);
    }
}

// The built program packs into a.cab through the real CAB32: a cabinet that cabextract, gcab and
// libarchive read back with the source's bytes.
TEST_F(CompressJob, ProgramMakesARealCabinetThatOtherToolsRead) {
#ifndef QUORVEL_HAVE_CAB32
    GTEST_SKIP() << "libcab32.so is not part of this build";
#endif
    for (const char *tool : {"cabextract", "gcab", "bsdtar"})
        if (std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0)
            GTEST_SKIP() << tool << " is not installed";
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "cabinet line " + std::to_string(i % 41) + "\n";
    WriteFile(dir_ / "src/a.txt", text);
    WriteFile(dir_ / "out/a.cab", "an old file in the way");
    const std::string settings = "[System]\nJobKind=1\nSourceFile=" + (dir_ / "src/a.txt") +
                                 "\nDistFile=" + (dir_ / "out/a.cab") +
                                 "\nSourDelete=0\nOverWrite=1\n";
    auto [status, err] = RunProgram(dir_, settings);
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(ReadFile(dir_ / "out/a.cab").substr(0, 4), "MSCF");
    EXPECT_EQ(dir_.Names("out"), std::vector<std::string>{"a.cab"});
    EXPECT_EQ(ReadFile(dir_ / "src/a.txt"), text); // "Source Delete" is off
    const std::pair<const char *, bool> checks[] = {
        {"cabextract -t out/a.cab", false},
        {"gcab -t out/a.cab", false},
        {"bsdtar -xOf out/a.cab", true},
    };
    for (const auto &[command, prints] : checks) {
        auto [rc, output] = Shell(dir_, command);
        EXPECT_EQ(rc, 0) << command << ": " << output;
        if (prints) {
            EXPECT_EQ(output, text) << command;
        }
    }
}

// An LHA archive under a name that says nothing is found by its content; a text file is not.
TEST_F(CompressJobWithLibrary, LzhRenamedToDatIsDetectedByContent) {
    for (const char *fixture : {"header2.lzh", "lh5_level0.lzh"}) {
        SCOPED_TRACE(fixture);
        const std::string renamed = dir_ / "archive.dat";
        fs::copy_file(std::string(QUORVEL_TEST_DATA) + "/" + fixture, renamed,
                      fs::copy_options::overwrite_existing);
        EXPECT_EQ(archives::GetArchiverType(renamed, true), archives::atNone); // says nothing
        EXPECT_EQ(archives::GetArchiverType(renamed, false), archives::atLha);
        const std::string exe = dir_ / "setup.exe"; // ".exe" is decided by the content
        fs::copy_file(renamed, exe, fs::copy_options::overwrite_existing);
        EXPECT_EQ(archives::GetArchiverType(exe, true), archives::atLha);
        archives::TArchiveFile arc;
        arc.SetFileName(renamed);
        EXPECT_EQ(arc.ArchiverType(), archives::atAutoDetect);
        std::vector<TIndividualInfoEx> entries;
        EXPECT_EQ(arc.ListEntries(nullptr, "*", entries), 0);
        EXPECT_EQ(arc.ArchiverType(), archives::atLha);
        EXPECT_GE(entries.size(), 2u);
    }
    WriteFile(dir_ / "notes.dat", "plain text, no archive");
    EXPECT_EQ(archives::GetArchiverType(dir_ / "notes.dat", false), archives::atNone);
    archives::TArchiveFile arc;
    arc.SetFileName(dir_ / "notes.dat");
    std::vector<TIndividualInfoEx> entries;
    try {
        arc.ListEntries(nullptr, "*", entries);
        ADD_FAILURE() << "nothing raised";
    } catch (const archives::EArchiver &e) {
        EXPECT_STREQ(e.what(), "書庫の形式を判別できません。");
    }
}

} // namespace
