#include "TestDir.h"

#include "app/CompressJob.h"
#include "app/QuorvelLogic.h"
#include "archives/Exceptions.h"
#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorvel;
using testutil::ReadFile;
using testutil::TestDir;
using testutil::WriteFile;
namespace fs = std::filesystem;

namespace {

// The view as a test sees it: controls as values, every call logged, answers queued.
class FakeView : public IQuorvelView {
public:
    explicit FakeView(std::vector<std::string> &log) : log_(log) {}
    TFormValues Values() const override { return values; }
    void SetValues(const TFormValues &v) override { values = v; }
    size_t ShowMessageBox(const platform::MessageBoxText &box) override {
        boxes.push_back(box);
        log_.push_back("box:" + box.Text);
        size_t answer = answers.empty() ? box.Buttons.size() - 1 : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }
    std::optional<std::string> ChooseFile() override {
        log_.push_back("choose");
        return chosen;
    }
    void RemoveCloseCommand() override { log_.push_back("noclose"); }
    void HideForm() override { log_.push_back("hide"); }
    void Terminate() override { log_.push_back("terminate"); }

    TFormValues values;
    std::vector<platform::MessageBoxText> boxes;
    std::deque<size_t> answers;
    std::optional<std::string> chosen;

private:
    std::vector<std::string> &log_;
};

constexpr size_t Yes = 0, No = 1;

// A logic whose compress job is a logged stand-in with a set result (or an exception).
struct Harness {
    explicit Harness(const TestDir &dir) : view(log), program(dir / "QUORVEL") {}
    TQuorvelLogic Make() {
        return TQuorvelLogic(view, program,
                             [this](const std::string &s, const std::string &d, std::string &) {
                                 log.push_back("compress " + s + " " + d);
                                 if (compressThrows)
                                     throw archives::EArchiver("書庫の形式を判別できません。");
                                 return compressResult;
                             });
    }
    std::vector<std::string> log;
    FakeView view;
    std::string program;
    int compressResult = 0;
    bool compressThrows = false;
};

TEST(Settings, FileNameAndTitleFollowTheExecutable) {
    EXPECT_EQ(SettingsFileName("/opt/q/bin/QUORVEL"), "/opt/q/bin/QUORVEL.ini");
    EXPECT_EQ(SettingsFileName("/opt/q.d/QUORVEL"), "/opt/q.d/QUORVEL.ini");
    EXPECT_EQ(SettingsFileName("/opt/q/QUORVEL.exe"), "/opt/q/QUORVEL.ini");
    EXPECT_EQ(ApplicationTitle("/opt/q/bin/QUORVEL"), "QUORVEL");
    EXPECT_EQ(ApplicationTitle("/opt/q.d/QUORVEL.exe"), "QUORVEL");
}

TEST(Settings, JobKindIsClamped) {
    const std::pair<int, int> cases[] = {{-100, -1}, {-2, -1}, {-1, -1}, {0, 0},
                                         {1, 1},     {2, 2},   {3, 2},   {7, 2}};
    for (auto [in, out] : cases)
        EXPECT_EQ(ClampJobKind(in), out) << in;
}

TEST(Settings, NoFileReadsTheDefaultsWithSourceDeleteChecked) {
    TestDir dir;
    const TFormValues v = ReadSettings(dir / "none.ini");
    EXPECT_EQ(v.JobKind, jkCopy);
    EXPECT_EQ(v.SourceFile, "");
    EXPECT_EQ(v.DistFile, "");
    EXPECT_TRUE(v.SourDelete); // unlike the form's own initial state
    EXPECT_TRUE(v.OverWrite);
}

TEST(Settings, StoredValuesAreReadWithTheProfileRules) {
    struct Case {
        const char *lines;
        TFormValues expected;
    } cases[] = {
        {"JobKind=7", {jkDelete, "", "", true, true}},
        {"JobKind=-5", {jkNone, "", "", true, true}},
        {"JobKind=0x1", {jkCompress, "", "", true, true}},
        {"JobKind=$2", {jkDelete, "", "", true, true}},
        {"JobKind=Compress", {jkCopy, "", "", true, true}},
        {"SourDelete=false\nOverWrite=0", {jkCopy, "", "", true, false}},
        {"SourDelete=0\nOverWrite=2", {jkCopy, "", "", false, true}},
        {"sourcefile = /x/a.txt \nDISTFILE=/y/b b.lzh",
         {jkCopy, "/x/a.txt", "/y/b b.lzh", true, true}},
    };
    TestDir dir;
    for (const auto &c : cases) {
        WriteFile(dir / "q.ini", std::string("[System]\n") + c.lines + "\n");
        EXPECT_EQ(ReadSettings(dir / "q.ini"), c.expected) << c.lines;
    }
}

TEST(Settings, SaveWritesTheFiveKeysInOrderAndReadsBack) {
    TestDir dir;
    WriteFile(dir / "q.ini", "[Mine]\nkeep=1\n");
    const TFormValues v{jkNone, "/x/a.txt", "/y/a.lzh", false, true};
    WriteSettings(dir / "q.ini", v);
    EXPECT_EQ(ReadFile(dir / "q.ini"), "[Mine]\nkeep=1\n[System]\nJobKind=-1\nSourceFile=/x/a.txt\n"
                                       "DistFile=/y/a.lzh\nSourDelete=0\nOverWrite=1\n");
    EXPECT_EQ(ReadSettings(dir / "q.ini"), v);
}

TEST(Settings, AFailingWriteNamesTheFileAndKeepsTheKeysBeforeIt) {
    TestDir dir;
    // A name with a line break cannot be one line of the profile: its write fails.
    const TFormValues v{jkDelete, "/x/a\nJobKind=0", "/y/b", true, false};
    try {
        WriteSettings(dir / "q.ini", v);
        FAIL() << "no error";
    } catch (const platform::EProfileWriteError &e) {
        EXPECT_EQ(std::string(e.what()), (dir / "q.ini") + " に書き込めません");
    }
    EXPECT_EQ(ReadFile(dir / "q.ini"), "[System]\nJobKind=2\n");
}

TEST(Texts, ConfirmationNamesTheFilePartsOfTheJob) {
    struct Case {
        int kind;
        const char *text;
    } cases[] = {
        {jkCopy, "May I do the File Copy a.txt to a.lzh?"},
        {jkCompress, "May I do the File Compres a.txt to a.lzh?"},
        {jkDelete, "May I do the File Delete as a.txt?"},
        {jkNone, "May I do the ?"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ConfirmationText({c.kind, "/x/a.txt", "/y/a.lzh", false, true}), c.text);
    EXPECT_EQ(JobText({jkCopy, "a.txt", "", false, true}), "File Copy a.txt to ");
}

TEST(Texts, BoxesCarryTheirTitlesAndButtons) {
    const auto confirm = ConfirmationBox("Q?");
    EXPECT_EQ(confirm.Title, "確認");
    EXPECT_EQ(confirm.Buttons, (std::vector<std::string>{"はい(&Y)", "いいえ(&N)"}));
    EXPECT_EQ(confirm.Icon, platform::MessageBoxIcon::Question);
    const auto plain = PlainBox("QUORVEL", "Successful!");
    EXPECT_EQ(plain.Title, "QUORVEL");
    EXPECT_EQ(plain.Buttons, std::vector<std::string>{"OK"});
}

TEST(CommandLine, WordsCompareInAsciiLowerCaseAsWholeArguments) {
    const std::pair<const char *, bool> cases[] = {
        {"exec", true},   {"EXEC", true},   {"eXeC", true}, {"-exec", false},    {"/exec", false},
        {"exec ", false}, {"execs", false}, {"", false},    {"ＥＸＥＣ", false},
    };
    for (auto [arg, want] : cases)
        EXPECT_EQ(IsCommandWord(arg, "exec"), want) << arg;
    EXPECT_TRUE(IsCommandWord("Exit", "exit"));
}

TEST(FormCreate, ScansTheArgumentsInOrder) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> log;
    } cases[] = {
        {{"QUORVEL"}, {"noclose"}},
        {{"QUORVEL", "exec"}, {"noclose", "hide", "compress"}},
        {{"QUORVEL", "exec", "exec"}, {"noclose", "hide", "compress", "hide", "compress"}},
        {{"QUORVEL", "exec", "exit"}, {"noclose", "hide", "compress", "terminate"}},
        {{"QUORVEL", "exit", "exec"}, {"noclose", "terminate", "hide", "compress"}},
        {{"QUORVEL", "EXEC", "Exit"}, {"noclose", "hide", "compress", "terminate"}},
        {{"QUORVEL", "-exec", "/exit", "run"}, {"noclose"}},
    };
    for (const auto &c : cases) {
        TestDir dir;
        WriteFile(dir / "a.txt", "a");
        WriteFile(dir / "QUORVEL.ini", "[System]\nJobKind=1\nSourceFile=" + (dir / "a.txt") +
                                           "\nDistFile=" + (dir / "a.lzh") + "\nSourDelete=0\n");
        Harness h(dir);
        auto logic = h.Make();
        logic.FormCreate(c.args);
        for (auto &entry : h.log)
            if (entry.rfind("compress", 0) == 0)
                entry = "compress";
        EXPECT_EQ(h.log, c.log) << c.args.back();
        EXPECT_TRUE(h.view.boxes.empty()); // exec asks nothing and shows no result
    }
}

TEST(FormCreate, ReadsTheSettingsIntoTheControls) {
    TestDir dir;
    Harness h(dir);
    h.view.values = {jkDelete, "x", "y", false, false};
    auto logic = h.Make();
    logic.FormCreate({h.program});
    EXPECT_EQ(h.view.values, (TFormValues{jkCopy, "", "", true, true}));
}

TEST(FormCreate, AJobErrorEndsTheScanBeforeALaterExit) {
    TestDir dir;
    WriteFile(dir / "a.txt", "a");
    WriteFile(dir / "QUORVEL.ini", "[System]\nJobKind=1\nSourceFile=" + (dir / "a.txt") +
                                       "\nDistFile=" + (dir / "a.txt") + "\n");
    Harness h(dir);
    h.compressThrows = true;
    auto logic = h.Make();
    EXPECT_THROW(logic.FormCreate({h.program, "exec", "exit"}), archives::EArchiver);
    EXPECT_EQ(h.log.back().rfind("compress", 0), 0u);
    EXPECT_EQ(logic.LastJobResult(), false);
    EXPECT_TRUE(fs::exists(dir / "a.txt"));
}

TEST(Handlers, ExecuteAsksThenReportsTheOutcome) {
    TestDir dir;
    WriteFile(dir / "a.txt", "a");
    struct Case {
        std::deque<size_t> answers;
        int compressResult;
        std::vector<std::string> log;
    } cases[] = {
        {{No}, 0, {"box:May I do the File Compres a.txt to a.lzh?"}},
        {{Yes, Yes},
         0,
         {"box:May I do the File Compres a.txt to a.lzh?", "compress", "box:Successful!"}},
        // The failure box says why under "JOB failure".
        {{Yes, Yes},
         -1,
         {"box:May I do the File Compres a.txt to a.lzh?", "compress",
          "box:JOB failure\nCompress " + (dir / "a.txt") + " to " + (dir / "a.lzh") +
              ": the archiver library answered -1"}},
    };
    for (const auto &c : cases) {
        Harness h(dir);
        h.compressResult = c.compressResult;
        h.view.values = {jkCompress, dir / "a.txt", dir / "a.lzh", false, true};
        h.view.answers = c.answers;
        auto logic = h.Make();
        logic.ExecuteON();
        for (auto &entry : h.log)
            if (entry.rfind("compress", 0) == 0)
                entry = "compress";
        EXPECT_EQ(h.log, c.log);
        EXPECT_EQ(h.view.boxes.front().Title, "確認");
        EXPECT_EQ(h.view.boxes.back().Title, h.log.size() > 1 ? "QUORVEL" : "確認");
    }
}

TEST(Handlers, ExitQuestionTerminatesOnlyOnYes) {
    TestDir dir;
    for (size_t answer : {No, Yes}) {
        Harness h(dir);
        h.view.answers = {answer};
        auto logic = h.Make();
        logic.APLTerminateSwOn();
        std::vector<std::string> want{"box:Welcome to MERIDEX Dialog. Exit now?"};
        if (answer == Yes)
            want.push_back("terminate");
        EXPECT_EQ(h.log, want);
    }
}

TEST(Handlers, FileChoiceGoesToTheFieldOfTheButton) {
    TestDir dir;
    Harness h(dir);
    auto logic = h.Make();
    h.view.chosen = "/x/s.txt";
    logic.FileNameSelectSwON(TFileButton::Source);
    h.view.chosen = "/y/d.zip";
    logic.FileNameSelectSwON(TFileButton::Dist);
    h.view.chosen.reset();
    logic.FileNameSelectSwON(TFileButton::Dist);
    EXPECT_EQ(h.view.values.SourceFile, "/x/s.txt");
    EXPECT_EQ(h.view.values.DistFile, "/y/d.zip");
}

TEST(Handlers, SaveWritesBesideTheExecutable) {
    TestDir dir;
    Harness h(dir);
    h.view.values = {jkCompress, "/x/a.txt", "/y/a.lzh", true, false};
    auto logic = h.Make();
    logic.SaveSwOn();
    EXPECT_EQ(ReadSettings(dir / "QUORVEL.ini"), h.view.values);
}

TEST(DoJob, AMissingSourceFailsWhateverTheKind) {
    TestDir dir;
    for (int kind : {jkNone, jkCopy, jkCompress, jkDelete}) {
        Harness h(dir);
        h.view.values = {kind, dir / "missing.txt", dir / "b.txt", false, true};
        auto logic = h.Make();
        EXPECT_FALSE(logic.DoJob()) << kind;
        EXPECT_TRUE(h.log.empty());
        EXPECT_FALSE(fs::exists(dir / "b.txt"));
    }
}

TEST(DoJob, NoSelectionSucceedsAndTouchesNothing) {
    TestDir dir;
    WriteFile(dir / "a.txt", "a");
    Harness h(dir);
    h.view.values = {jkNone, dir / "a.txt", dir / "b.txt", true, true};
    auto logic = h.Make();
    EXPECT_TRUE(logic.DoJob());
    EXPECT_EQ(logic.LastJobResult(), true);
    EXPECT_TRUE(fs::exists(dir / "a.txt"));
    EXPECT_FALSE(fs::exists(dir / "b.txt"));
}

TEST(DoJob, DeleteReportsWhetherTheSourceWentAway) {
    TestDir dir;
    WriteFile(dir / "a.txt", "a");
    Harness h(dir);
    h.view.values = {jkDelete, dir / "a.txt", "", false, false};
    auto logic = h.Make();
    EXPECT_TRUE(logic.DoJob());
    EXPECT_FALSE(fs::exists(dir / "a.txt"));
    // A file of the kernel's own exists but can never be removed, not even by root.
    h.view.values.SourceFile = "/proc/version";
    EXPECT_FALSE(logic.DoJob());
    EXPECT_EQ(logic.LastJobResult(), false);
}

TEST(DoJob, CompressKeepsTheSourceUnlessTheResultIsZero) {
    const std::pair<int, bool> cases[] = {{0, true}, {-1, false}, {1, false}, {32800, false}};
    for (bool sourceDelete : {false, true}) {
        for (auto [result, ok] : cases) {
            TestDir dir;
            WriteFile(dir / "a.txt", "a");
            Harness h(dir);
            h.compressResult = result;
            h.view.values = {jkCompress, dir / "a.txt", dir / "a.lzh", sourceDelete, false};
            auto logic = h.Make();
            EXPECT_EQ(logic.DoJob(), ok) << result;
            EXPECT_EQ(h.log, std::vector<std::string>{"compress " + (dir / "a.txt") + " " +
                                                      (dir / "a.lzh")});
            EXPECT_EQ(fs::exists(dir / "a.txt"), !(ok && sourceDelete)) << result;
        }
    }
}

TEST(DoJob, CompressErrorsPassThroughAndKeepTheSource) {
    TestDir dir;
    WriteFile(dir / "a.txt", "a");
    Harness h(dir);
    h.compressThrows = true;
    h.view.values = {jkCompress, dir / "a.txt", dir / "a.txt", true, true};
    auto logic = h.Make();
    EXPECT_THROW(logic.DoJob(), archives::EArchiver);
    EXPECT_EQ(logic.LastJobResult(), false);
    EXPECT_EQ(ReadFile(dir / "a.txt"), "a");
}

// The real compress job: a destination that names no format raises the component's error, and
// neither the source nor an old destination is touched.
TEST(DoJob, CompressErrorsOfTheComponentKeepSourceAndDestination) {
    const std::pair<const char *, const char *> cases[] = {
        {"a.gca", "書庫の形式を特定できませんでした。"},
        {"a.dat", "書庫の形式を判別できません。"},
    };
    for (const auto &[dest, message] : cases) {
        TestDir dir;
        WriteFile(dir / "a.txt", "a");
        WriteFile(dir / dest, "old");
        std::vector<std::string> log;
        FakeView view(log);
        view.values = {jkCompress, dir / "a.txt", dir / dest, true, false};
        TQuorvelLogic logic(view, dir / "QUORVEL");
        try {
            logic.DoJob();
            ADD_FAILURE() << "no error for " << dest;
        } catch (const archives::EArchiver &e) {
            EXPECT_STREQ(e.what(), message);
        }
        EXPECT_EQ(ReadFile(dir / "a.txt"), "a");
        EXPECT_EQ(ReadFile(dir / dest), "old");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
    }
}

TEST(CopyJob, TextLinesGetCrLfEnds) {
    const std::string longLine(64 * 1024 - 1, 'x'); // puts a CR LF across a read boundary
    const std::pair<std::string, std::string> cases[] = {
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\r\nb", "a\r\nb\r\n"},
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\rb\r", "a\r\nb\r\n"},
        {"a\r\r\nb", "a\r\n\r\nb\r\n"},
        {"\n\n", "\r\n\r\n"},
        {"", ""},
        {"表\n", "表\r\n"},
        {longLine + "\r\nz", longLine + "\r\nz\r\n"},
    };
    TestDir dir;
    for (const auto &[in, out] : cases) {
        WriteFile(dir / "s.txt", in);
        ASSERT_TRUE(CopyJob(dir / "s.txt", dir / "d.txt", true, false));
        EXPECT_EQ(ReadFile(dir / "d.txt"), out) << in.substr(0, 20);
    }
}

TEST(CopyJob, ContentWithANulByteIsCopiedByteForByte) {
    TestDir dir;
    std::string binary("PK\x03\x04\0\r\n\n\r", 9);
    for (int i = 0; i < 70000; ++i)
        binary += static_cast<char>(i * 7);
    WriteFile(dir / "s.bin", binary);
    ASSERT_TRUE(CopyJob(dir / "s.bin", dir / "d.bin", true, true));
    EXPECT_EQ(ReadFile(dir / "d.bin"), binary);
    EXPECT_FALSE(fs::exists(dir / "s.bin"));
}

TEST(CopyJob, OverWriteAndSourceDeleteRules) {
    struct Case {
        bool destExists, overWrite, sourceDelete;
        bool ok;
        const char *dest;
        bool sourceKept;
    } cases[] = {
        {true, false, true, false, "old", true},
        {true, true, false, true, "new\r\n", true},
        {true, true, true, true, "new\r\n", false},
        {false, false, false, true, "new\r\n", true},
    };
    for (const auto &c : cases) {
        TestDir dir;
        WriteFile(dir / "s.txt", "new");
        if (c.destExists)
            WriteFile(dir / "d.txt", "old");
        EXPECT_EQ(CopyJob(dir / "s.txt", dir / "d.txt", c.overWrite, c.sourceDelete), c.ok);
        EXPECT_EQ(ReadFile(dir / "d.txt"), c.dest);
        EXPECT_EQ(fs::exists(dir / "s.txt"), c.sourceKept);
        // Nothing but the two files: no temporary file is left behind.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
                  c.sourceKept ? 2 : 1);
    }
}

TEST(CopyJob, AFailedCopyKeepsTheSourceAndWritesNothing) {
    TestDir dir;
    WriteFile(dir / "s.txt", "text");
    fs::create_directories(dir / "folder");
    for (const std::string &dest : {dir / "no/such/d.txt", dir / "folder", std::string()}) {
        EXPECT_FALSE(CopyJob(dir / "s.txt", dest, true, true)) << dest;
        EXPECT_EQ(ReadFile(dir / "s.txt"), "text");
    }
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

TEST(CopyJob, OntoItselfWithSourceDeleteIsRefused) {
    TestDir dir;
    WriteFile(dir / "s.txt", "a\nb");
    EXPECT_FALSE(CopyJob(dir / "s.txt", dir / "s.txt", true, true));
    EXPECT_EQ(ReadFile(dir / "s.txt"), "a\nb");
    // Without Source Delete it is only a change of line ends.
    EXPECT_TRUE(CopyJob(dir / "s.txt", dir / "s.txt", true, false));
    EXPECT_EQ(ReadFile(dir / "s.txt"), "a\r\nb\r\n");
}

} // namespace

namespace {

// "Save on Setting" never replaces a settings file whose mode says the user may not write it,
// whether the user owns it (0444) or not (someone else's 0644; root included): it raises the
// write error naming the file, and the file stays as it was.
TEST(Handlers, SaveOnAReadOnlySettingsFileRaisesAndKeepsIt) {
    struct Case {
        const char *what;
        uid_t owner;
        mode_t mode;
    } cases[] = {{"own, 0444", ::geteuid(), 0444}, {"someone else's, 0644", 65534, 0644}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TestDir dir;
        const std::string ini = dir / "QUORVEL.ini";
        WriteFile(ini, "[System]\nJobKind=2\n");
        if (c.owner != ::geteuid() && ::chown(ini.c_str(), c.owner, static_cast<gid_t>(-1)) != 0)
            continue; // only root can give a file away
        ::chmod(ini.c_str(), c.mode);
        Harness h(dir);
        h.view.values = {jkCompress, "/x/a.txt", "/y/a.lzh", true, false};
        auto logic = h.Make();
        try {
            logic.SaveSwOn();
            ADD_FAILURE() << "nothing raised";
        } catch (const platform::EProfileWriteError &e) {
            EXPECT_EQ(std::string(e.what()), ini + " に書き込めません");
        }
        EXPECT_EQ(ReadFile(ini), "[System]\nJobKind=2\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    }
}

} // namespace
