// The YZ1 back-end against the fake YZ1 libraries: which library loads, the missing-library
// message, the command lines, the password retries, the window enabled again after a failed call,
// the self-extractor and the content probe.
#include "FakeControl.h"
#include "archives/Exceptions.h"
#include "archives/MessageWindow.h"
#include "formats/SelfExtractor.h"
#include "formats/YZ132.h"
#include "formats_support/FormatTestSupport.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <sstream>
#include <string>

using namespace archives;
using namespace formats;
using formats_test::MessageOf;
using formats_test::ReadFile;
using formats_test::ScratchDir;
using formats_test::WriteFile;

namespace {

constexpr int64_t kPasswordNeeded = 0x800A;

class Yz1 : public ::testing::Test {
protected:
    void SetUp() override {
        TYZ1::FreeDLL();
        Yz1DllNames = {"YYZ32.DLL", "YZ1.DLL"};
        fake::Reset();
    }
    void TearDown() override {
        TYZ1::FreeDLL();
        Yz1DllNames = {"YYZ32.DLL", "YZ1.DLL"};
    }

    static std::string Received() {
        auto calls = fake::CallsTo("Yz1");
        return calls.empty() ? std::string("(no call)") : calls.back().text;
    }

    TArchiverOptions opts;
    std::string out = std::string(32, '\0');
};

// ---------------------------------------------------------------------------------------------
// Loading

TEST_F(Yz1, TheFirstLibraryThatLoadsIsKept) {
    struct Case {
        const char *what;
        std::vector<std::string> installed;
        std::array<std::string, 2> names;
        std::string loaded;  // the DllName of the binding kept, empty when none
        std::string message; // the error, when none loads
    } cases[] = {
        {"both: the first",
         {"full/libyyz32.so", "full/libyz1.so"},
         {"YYZ32.DLL", "YZ1.DLL"},
         "YYZ32.DLL",
         ""},
        {"the first missing: the second",
         {"full/libyz1.so"},
         {"YYZ32.DLL", "YZ1.DLL"},
         "YZ1.DLL",
         ""},
        {"the first cleared: the second",
         {"full/libyyz32.so", "full/libyz1.so"},
         {"", "YZ1.DLL"},
         "YZ1.DLL",
         ""},
        {"only the first", {"full/libyyz32.so"}, {"YYZ32.DLL", "YZ1.DLL"}, "YYZ32.DLL", ""},
        {"none: both named",
         {},
         {"YYZ32.DLL", "YZ1.DLL"},
         "",
         "Yz1 形式書庫を扱うには YYZ32.DLL か YZ1.DLL が必要です。"},
        {"none, the first cleared",
         {},
         {"", "YZ1.DLL"},
         "",
         "Yz1 形式書庫を扱うには YZ1.DLL が必要です。"},
        {"none, the second cleared",
         {},
         {"YYZ32.DLL", ""},
         "",
         "Yz1 形式書庫を扱うには YYZ32.DLL が必要です。"},
        {"both cleared",
         {"full/libyyz32.so", "full/libyz1.so"},
         {"", ""},
         "",
         "Yz1 形式書庫を扱うには  が必要です。"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::ScopedLibrarySet libraries(c.installed);
        TYZ1::FreeDLL();
        fake::Reset();
        Yz1DllNames = c.names;
        if (c.loaded.empty()) {
            EXPECT_EQ(MessageOf<EArchiver>([] { TYZ1 y; }), c.message);
            EXPECT_EQ(Yz1Dll, nullptr);
            EXPECT_FALSE(IsYz1Archive("/no/such/a.yz1"));
            continue;
        }
        TYZ1 yz1;
        ASSERT_NE(Yz1Dll, nullptr);
        EXPECT_EQ(Yz1Dll->DllName(), c.loaded);
        EXPECT_EQ(Yz1Dll->FormatName(), "YZ1 形式書庫");
        EXPECT_EQ(Yz1Dll->Prefix(), "Yz1");
        yz1.Pack(nullptr, "/a.yz1", opts, "", {}, false, out);
        auto calls = fake::CallsTo("Yz1");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].library, c.loaded == "YZ1.DLL" ? "libyz1.so" : "libyyz32.so");
    }
}

// Not an ENoArchiverDLL: the message is the back-end's own, naming both files.
TEST_F(Yz1, TheMissingLibraryIsAPlainArchiverError) {
    fake::ScopedSearchPath empty("empty");
    try {
        TYZ1 y;
        FAIL() << "no error";
    } catch (const ENoArchiverDLL &) {
        FAIL() << "ENoArchiverDLL";
    } catch (const EArchiver &e) {
        EXPECT_STREQ(e.what(), "Yz1 形式書庫を扱うには YYZ32.DLL か YZ1.DLL が必要です。");
    }
}

TEST_F(Yz1, NamesText) {
    struct Case {
        std::array<std::string, 2> names;
        const char *text;
    } cases[] = {{{"YYZ32.DLL", "YZ1.DLL"}, "YYZ32.DLL か YZ1.DLL"},
                 {{"", "YZ1.DLL"}, "YZ1.DLL"},
                 {{"YYZ32.DLL", ""}, "YYZ32.DLL"},
                 {{"", ""}, ""}};
    for (const auto &c : cases) {
        Yz1DllNames = c.names;
        EXPECT_EQ(Yz1DllNamesText(), c.text);
    }
}

// Once loaded the binding stays; after FreeDLL an operation loads again.
TEST_F(Yz1, FreeDllThenAnOperationLoadsAgain) {
    fake::ScopedSearchPath path("full");
    TYZ1 yz1;
    TYZ1Dll *first = Yz1Dll.get();
    TYZ1::LoadDLL();
    EXPECT_EQ(Yz1Dll.get(), first);
    TYZ1::FreeDLL();
    EXPECT_EQ(Yz1Dll, nullptr);
    EXPECT_EQ(yz1.CheckArchive("a.yz1", 0, 0), 1);
    EXPECT_NE(Yz1Dll, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Command lines

TEST_F(Yz1, CommandLines) {
    fake::ScopedSearchPath path("full");
    struct Case {
        const char *name;
        std::function<void(TArchiverOptions &)> set;
        const char *dir;
        const char *expected;
    } cases[] = {
        {"all unset", [](TArchiverOptions &) {}, "/src", R"(c -+  "/a.yz1" "/src/" )"},
        {"m=0 forces c2", [](TArchiverOptions &o) { o.m = 0; }, "", R"(c -+ -c2 -y2  "/a.yz1" )"},
        {"m=0 whatever c holds",
         [](TArchiverOptions &o) {
             o.m = 0;
             o.c = 7;
         },
         "", R"(c -+ -c2 -y2  "/a.yz1" )"},
        {"m=2 forces c2",
         [](TArchiverOptions &o) {
             o.m = 2;
             o.c = 0;
         },
         "", R"(c -+ -c2 -y2  "/a.yz1" )"},
        {"m=1, c unset", [](TArchiverOptions &o) { o.m = 1; }, "", R"(c -+ -y1  "/a.yz1" )"},
        {"m=1 keeps c",
         [](TArchiverOptions &o) {
             o.m = 1;
             o.c = 3;
         },
         "", R"(c -+ -c3 -y1  "/a.yz1" )"},
        {"m=9", [](TArchiverOptions &o) { o.m = 9; }, "", R"(c -+ -y0  "/a.yz1" )"},
        {"m=5 writes no y", [](TArchiverOptions &o) { o.m = 5; }, "", R"(c -+  "/a.yz1" )"},
        {"c alone", [](TArchiverOptions &o) { o.c = 0; }, "", R"(c -+ -c0  "/a.yz1" )"},
        {"n=1", [](TArchiverOptions &o) { o.n = 1; }, "", R"(c -+ -i  "/a.yz1" )"},
        {"n=0", [](TArchiverOptions &o) { o.n = 0; }, "", R"(c -+  "/a.yz1" )"},
        {"p gives z", [](TArchiverOptions &o) { o.p = 0; }, "", R"(c -+ -z0  "/a.yz1" )"},
        {"x", [](TArchiverOptions &o) { o.x = 1; }, "", R"(c -+ -x1  "/a.yz1" )"},
        {"x=0", [](TArchiverOptions &o) { o.x = 0; }, "", R"(c -+ -x0  "/a.yz1" )"},
        {"everything in order",
         [](TArchiverOptions &o) {
             o.m = 1;
             o.c = 1;
             o.n = 1;
             o.p = 2;
             o.x = 1;
             o.UserOptions = "-q";
             o.UserFileList = "more.txt";
         },
         "/src/", R"(c -+ -c1 -y1 -i -z2 -x1 -q "/a.yz1" "/src/" more.txt)"},
    };
    TYZ1 yz1;
    for (const auto &c : cases) {
        TArchiverOptions o;
        c.set(o);
        EXPECT_EQ(yz1.BuildYz1CommandLine("c", "/a.yz1", o, c.dir, {}, false), c.expected)
            << c.name;
    }
    // The example of a pack with one file, its trailing blank included.
    EXPECT_EQ(yz1.BuildYz1CommandLine("c", "/a.yz1", opts, "/src", {std::string("x.txt")}, false),
              R"(c -+  "/a.yz1" "/src/" "x.txt" )");
}

TEST_F(Yz1, ExtractAndPackRunTheirCommandWords) {
    ScratchDir dir;
    fake::ScopedSearchPath path("full");
    fake::SetResult("Yz1", 0x8012);
    TYZ1 yz1;
    opts.ResFileName = dir / "list.txt";
    opts.ResFileUsage = TResFileUsage{}; // the call's UseResFile decides, not the record
    EXPECT_EQ(yz1.Extract(nullptr, "/a.yz1", opts, "/out", {std::string("a.txt")}, true, out),
              0x8012);
    EXPECT_EQ(yz1.CommandLine, "x -+  \"/a.yz1\" \"/out/\" \"@" + opts.ResFileName + "\" ");
    EXPECT_EQ(Received(), yz1.CommandLine);
    EXPECT_EQ(ReadFile(opts.ResFileName), "\"a.txt\"\r\n");
    opts.ResFileUsage = DefaultResFileUsage;
    EXPECT_EQ(yz1.Pack(nullptr, "/a.yz1", opts, "/src", {std::string("b.txt")}, false, out),
              0x8012);
    EXPECT_EQ(yz1.CommandLine, R"(c -+  "/a.yz1" "/src/" "b.txt" )");
    EXPECT_EQ(Received(), yz1.CommandLine);
}

TEST_F(Yz1, AnOwnerWindowWritesIWhileRegistered) {
    fake::ScopedSearchPath path("full");
    ArcWindow window{nullptr};
    TYZ1 yz1;
    EXPECT_TRUE(yz1.SetOwnerWindow(&window, nullptr));
    EXPECT_EQ(fake::OwnerWindow("libyyz32.so"), static_cast<HWND>(&window));
    yz1.Pack(nullptr, "/a.yz1", opts, "", {std::string("a.txt")}, false, out);
    EXPECT_EQ(Received(), R"(c -+ -i  "/a.yz1" "a.txt" )");
    EXPECT_TRUE(yz1.KillOwnerWindow(&window));
    EXPECT_EQ(fake::OwnerWindow("libyyz32.so"), nullptr);
    yz1.Pack(nullptr, "/a.yz1", opts, "", {std::string("a.txt")}, false, out);
    EXPECT_EQ(Received(), R"(c -+  "/a.yz1" "a.txt" )");
    fake::SetResult("Yz1SetOwnerWindowEx", 0);
    EXPECT_FALSE(yz1.SetOwnerWindow(&window, nullptr));
    EXPECT_TRUE(yz1.HasOwnerWindow());
}

TEST_F(Yz1, DeleteUpdateAndMemoryExtractionAreNotSupported) {
    fake::ScopedSearchPath path("full");
    TYZ1 yz1;
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { yz1.Delete(nullptr, "/a.yz1", opts, "", {std::string("a")}, false, out); }),
              "この形式の書庫ではファイルの削除をサポートしておりません。");
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { yz1.Update(nullptr, "/a.yz1", opts, "", {std::string("a")}, false, out); }),
              "この形式の書庫では書庫の更新をサポートしておりません。");
    DWORD written = 0;
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { yz1.ExtractMem(nullptr, "/a.yz1", opts, "a", nullptr, 0, &written); }),
              "この形式ではメモリへの展開をサポートしておりません。");
    EXPECT_TRUE(fake::CallsTo("Yz1").empty());
}

TEST_F(Yz1, CheckAddsModeAndFlags) {
    fake::ScopedSearchPath path("full");
    TYZ1 yz1;
    fake::SetResult("Yz1CheckArchive", 5);
    EXPECT_EQ(yz1.CheckArchive("a.yz1", 2, 8), 5);
    EXPECT_EQ(fake::CallsTo("Yz1CheckArchive").at(0).mode, 10);
    EXPECT_EQ(fake::CallsTo("Yz1CheckArchive").at(0).text, "a.yz1");
    EXPECT_THROW(yz1.CheckArchive("a.yz1", INT_MIN, -1), std::overflow_error);
}

// ---------------------------------------------------------------------------------------------
// Execute

struct EnableRecorder {
    std::vector<std::pair<UINT, WPARAM>> messages;
    TMessageWindow window{[this](UINT msg, WPARAM w, LPARAM) {
        messages.emplace_back(msg, w);
        return LRESULT{0};
    }};
};

TEST_F(Yz1, AFailedCallEnablesTheWindowAgain) {
    fake::ScopedSearchPath path("yz1-no-main");
    TYZ1 yz1;
    EnableRecorder owner;
    EXPECT_THROW(yz1.Pack(owner.window.Handle(), "/a.yz1", opts, "", {}, false, out),
                 EEntryNotFound);
    ASSERT_EQ(owner.messages.size(), 1u);
    EXPECT_EQ(owner.messages[0].first, 0x000Au); // WM_ENABLE
    EXPECT_EQ(owner.messages[0].second, 1u);     // enabled
    // No window: nothing to enable, the error still propagates.
    EXPECT_THROW(yz1.Execute(nullptr, "c", out), EEntryNotFound);
}

TEST_F(Yz1, ASuccessfulCallLeavesTheWindowAlone) {
    fake::ScopedSearchPath path("full");
    TYZ1 yz1;
    EnableRecorder owner;
    fake::SetResult("Yz1", 3);
    EXPECT_EQ(yz1.Execute(owner.window.Handle(), "c -+", out), 3);
    EXPECT_TRUE(owner.messages.empty());
}

// ---------------------------------------------------------------------------------------------
// Password retries

struct PasswordCase {
    const char *what;
    int64_t findResult;  // what FindFirst keeps answering
    int64_t dialogReply; // the dialog's answer (negative: cancelled)
    int expected;
    size_t rounds;    // FindFirst calls and dialogs shown
    size_t passwords; // SetDefaultPassword calls
};

TEST_F(Yz1, PasswordRetries) {
    fake::ScopedSearchPath path("full");
    const PasswordCase cases[] = {
        {"found at once: no dialog", 0, 0, 0, 1, 0},
        {"another error: no dialog", 0x8010, 0, 0x8010, 1, 0},
        {"the password keeps failing", kPasswordNeeded, 0, 0x800A, 4, 4},
        {"a positive reply is a password", kPasswordNeeded, 5, 0x800A, 4, 4},
        {"cancelled at the first dialog", kPasswordNeeded, -1, 0x800A, 1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        fake::SetItems({{.name = "a.txt"}});
        fake::SetPassword("secret");
        TYZ1 yz1;
        HWND owner = reinterpret_cast<HWND>(0x44);
        HARC arc = yz1.OpenArchive(owner, "a.yz1", 0);
        if (c.findResult != 0)
            fake::SetResult("Yz1FindFirst", c.findResult);
        fake::SetResult("Yz1PasswordDialog", c.dialogReply);
        TIndividualInfoEx info{};
        EXPECT_EQ(yz1.FindFirst(arc, &info, "*"), c.expected);
        EXPECT_EQ(fake::CallsTo("Yz1FindFirst").size(), c.rounds);
        auto dialogs = fake::CallsTo("Yz1PasswordDialog");
        EXPECT_EQ(dialogs.size(), c.findResult == kPasswordNeeded ? c.rounds : 0u);
        for (const auto &d : dialogs) {
            EXPECT_EQ(d.wnd, owner); // owned by the window that opened the archive
            EXPECT_EQ(d.size, 256u);
            EXPECT_TRUE(d.buffer);
        }
        auto passwords = fake::CallsTo("Yz1SetDefaultPassword");
        ASSERT_EQ(passwords.size(), c.passwords);
        for (const auto &p : passwords) {
            EXPECT_EQ(p.arc, arc);
            EXPECT_EQ(p.text, "secret");
        }
        yz1.CloseArchive(arc);
    }
}

// The dialog belongs to the window of the latest OpenArchive, none when that was 0.
TEST_F(Yz1, TheDialogOwnerFollowsTheLastOpen) {
    fake::ScopedSearchPath path("full");
    TYZ1 yz1;
    HARC first = yz1.OpenArchive(reinterpret_cast<HWND>(0x44), "a.yz1", 0);
    HARC second = yz1.OpenArchive(nullptr, "b.yz1", 0);
    EXPECT_EQ(Yz1Dll->OwnerWnd, nullptr);
    fake::SetResult("Yz1FindFirst", kPasswordNeeded);
    fake::SetResult("Yz1PasswordDialog", -1);
    TIndividualInfoEx info{};
    yz1.FindFirst(first, &info, "*");
    EXPECT_EQ(fake::CallsTo("Yz1PasswordDialog").at(0).wnd, nullptr);
    yz1.CloseArchive(first);
    yz1.CloseArchive(second);
}

// A library without its own dialog: the user is asked through the platform's prompt.
TEST_F(Yz1, WithoutALibraryDialogThePlatformPromptAsks) {
    fake::ScopedSearchPath path("yz1-no-dialog");
    fake::SetItems({{.name = "a.txt", .originalSize = 3}});
    TYZ1 yz1;
    HWND owner = reinterpret_cast<HWND>(0x44);
    struct Case {
        const char *what;
        std::vector<std::optional<std::string>> answers; // the prompt's replies, in turn
        int expected;
        size_t prompts;
        std::vector<std::string> passwords; // handed to the library
    } cases[] = {
        {"cancelled", {std::nullopt}, 0x800A, 1, {}},
        {"four wrong passwords", {"a", "b", "c", "d", "e"}, 0x800A, 4, {"a", "b", "c", "d"}},
        {"right at the second", {"wrong", "right"}, 0, 2, {"wrong", "right"}},
        {"a password longer than the buffer is cut",
         {std::string(300, 'p'), std::nullopt},
         0x800A,
         2,
         {std::string(255, 'p')}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        fake::SetItems({{.name = "a.txt", .originalSize = 3}});
        fake::SetResult("Yz1FindFirst", kPasswordNeeded);
        size_t asked = 0;
        platform::ScopedPasswordHandler handler(
            [&](const platform::PasswordPromptText &prompt) -> std::optional<std::string> {
                EXPECT_EQ(prompt.Owner, static_cast<void *>(owner));
                EXPECT_EQ(prompt.Title, "YZ1 形式書庫");
                auto answer = c.answers.at(asked++);
                // The library takes the right password: its next FindFirst finds the entry.
                if (answer == "right")
                    fake::SetResult("Yz1FindFirst", 0);
                return answer;
            });
        HARC arc = yz1.OpenArchive(owner, "a.yz1", 0);
        TIndividualInfoEx info{};
        int result = yz1.FindFirst(arc, &info, "*");
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(asked, c.prompts);
        std::vector<std::string> received;
        for (const auto &p : fake::CallsTo("Yz1SetDefaultPassword"))
            received.push_back(p.text);
        EXPECT_EQ(received, c.passwords);
        if (c.expected == 0) {
            EXPECT_STREQ(info.szFileName, "a.txt");
        }
        yz1.CloseArchive(arc);
    }
}

// Headless, the prompt is a line on standard error answered with no password.
TEST_F(Yz1, TheHeadlessPromptAnswersNoPassword) {
    std::ostringstream err;
    auto answer =
        platform::AskHeadlessPassword({"YZ1 形式書庫", "書庫のパスワード\nを", nullptr}, err);
    EXPECT_FALSE(answer.has_value());
    EXPECT_EQ(err.str(), "YZ1 形式書庫: 書庫のパスワード を\n");
}

// Without SetDefaultPassword the retries still run their course.
TEST_F(Yz1, WithoutSetDefaultPasswordTheRoundsStillCount) {
    fake::ScopedSearchPath path("yz1-no-main");
    TYZ1 yz1;
    HARC arc = yz1.OpenArchive(nullptr, "a.yz1", 0);
    fake::SetResult("Yz1FindFirst", kPasswordNeeded);
    TIndividualInfoEx info{};
    EXPECT_EQ(Yz1Dll->SetDefaultPassword(arc, "x"), -1);
    EXPECT_EQ(yz1.FindFirst(arc, &info, "*"), kPasswordNeeded);
    EXPECT_EQ(fake::CallsTo("Yz1FindFirst").size(), 4u);
    EXPECT_EQ(fake::CallsTo("Yz1PasswordDialog").size(), 4u);
    yz1.CloseArchive(arc);
}

TEST_F(Yz1, ListingOpensTheFullPath) {
    ScratchDir dir;
    fake::ScopedSearchPath path("full");
    fake::SetItems({{.name = "a.txt", .originalSize = 10}, {.name = "b.txt", .originalSize = 20}});
    TYZ1 yz1;
    HARC arc = yz1.OpenArchive(nullptr, "a.yz1", 3);
    ASSERT_NE(arc, nullptr);
    EXPECT_EQ(fake::CallsTo("Yz1OpenArchive").at(0).text, dir / "a.yz1");
    EXPECT_EQ(fake::CallsTo("Yz1OpenArchive").at(0).mode, 3);
    TIndividualInfoEx info{};
    EXPECT_EQ(yz1.FindFirst(arc, &info, "*.txt"), 0);
    EXPECT_EQ(fake::CallsTo("Yz1FindFirst").at(0).text, "*.txt");
    EXPECT_EQ(yz1.FindNext(arc, &info), 0);
    const int64_t size = info.OriginalSize; // a packed field: no reference to it
    EXPECT_EQ(size, 20);
    EXPECT_EQ(yz1.FindNext(arc, &info), -1);
    EXPECT_EQ(yz1.CloseArchive(arc), 0);
}

// ---------------------------------------------------------------------------------------------
// Self-extractor

TEST_F(Yz1, MakeSfxJoinsStubArchiveAndSize) {
    fake::ScopedSearchPath path("full");
    const std::string archive(1000, 'A');
    struct Case {
        const char *what;
        int gw;
        std::vector<std::string> stubs; // present in the current folder
        std::string used;               // the stub expected, or empty
        std::string error;
    } cases[] = {
        {"DOS", -1, {"yzdos16.sfx"}, "yzdos16.sfx", ""},
        {"gw=0 is DOS", 0, {"yzdos16.sfx", "yzw32cui.sfx"}, "yzdos16.sfx", ""},
        {"DOS needs its own stub",
         -1,
         {"yzw32cui.sfx", "yzdec.exe"},
         "",
         "yz1 書庫からのDOS自己解凍書庫の作成には yzdos16.sfx が必要です。"},
        {"Win32", 1, {"yzw32cui.sfx", "yzdec.exe", "yzdos16.sfx"}, "yzw32cui.sfx", ""},
        {"Win32 falls back to yzdec.exe", 1, {"yzdec.exe"}, "yzdec.exe", ""},
        {"Win32 without a stub",
         1,
         {"yzdos16.sfx"},
         "",
         "yz1 書庫からのWin32自己解凍書庫の作成には yzw32cui.sfx か yzdec.exe が必要です。"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        fake::Reset();
        WriteFile(dir / "a.yz1", archive);
        for (const auto &s : c.stubs)
            WriteFile(dir / s, "STUB:" + s);
        TYZ1 yz1;
        TArchiverOptions o;
        o.gw = static_cast<ShortInt>(c.gw);
        if (!c.error.empty()) {
            EXPECT_EQ(MessageOf<EArchiver>([&] { yz1.MakeSfx(nullptr, "a.yz1", o, "", out); }),
                      c.error);
            EXPECT_FALSE(platform::FileExists(dir / "a.exe"));
            continue;
        }
        EXPECT_EQ(yz1.MakeSfx(nullptr, "a.yz1", o, "", out), 0);
        EXPECT_EQ(ReadFile(dir / "a.exe"),
                  "STUB:" + c.used + archive + std::string("\x00\x00\x03\xE8", 4));
        EXPECT_TRUE(fake::Calls().empty()); // no library call
    }
}

TEST_F(Yz1, MakeSfxTrailerAndPlace) {
    fake::ScopedSearchPath path("full");
    ScratchDir dir;
    WriteFile(dir / "yzdos16.sfx", "S");
    TYZ1 yz1;
    struct Case {
        size_t size;
        std::string trailer;
    } sizes[] = {{0, std::string(4, '\0')},
                 {1000, std::string("\x00\x00\x03\xE8", 4)},
                 {0x012345, std::string("\x00\x01\x23\x45", 4)}};
    for (const auto &c : sizes) {
        WriteFile(dir / "sub/b.YZ1", std::string(c.size, 'z'));
        EXPECT_EQ(yz1.MakeSfx(nullptr, dir / "sub/b.YZ1", opts, "", out), 0);
        const std::string made = ReadFile(dir / "sub/b.exe");
        ASSERT_EQ(made.size(), 1 + c.size + 4);
        EXPECT_EQ(made.substr(made.size() - 4), c.trailer) << c.size;
    }
    // DestDir takes only the file-name part, with or without its separator.
    std::filesystem::create_directories(dir / "dest");
    for (const std::string &dest : {dir / "dest", dir / "dest/"}) {
        std::filesystem::remove(dir / "dest/b.exe");
        EXPECT_EQ(yz1.MakeSfx(nullptr, dir / "sub/b.YZ1", opts, dest, out), 0);
        EXPECT_TRUE(platform::FileExists(dir / "dest/b.exe")) << dest;
    }
    // A missing archive is a file error and leaves no program behind.
    EXPECT_THROW(yz1.MakeSfx(nullptr, dir / "none.yz1", opts, "", out), EStreamError);
    EXPECT_FALSE(platform::FileExists(dir / "none.exe"));
}

// ---------------------------------------------------------------------------------------------
// Content probe

TEST_F(Yz1, ContentProbe) {
    ScratchDir dir;
    WriteFile(dir / "a.bin", "data");
    struct Case {
        const char *what;
        std::vector<std::string> installed;
        const char *name;
        std::optional<int64_t> openResult;
        bool expected;
        size_t opens;
    } cases[] = {
        {"the library opens it", {"full/libyyz32.so"}, "a.bin", std::nullopt, true, 1},
        {"through the second name", {"full/libyz1.so"}, "a.bin", std::nullopt, true, 1},
        {"the library refuses it", {"full/libyyz32.so"}, "a.bin", 0, false, 1},
        {"no such file: the library is not asked",
         {"full/libyyz32.so"},
         "missing.bin",
         std::nullopt,
         false,
         0},
        {"no library", {}, "a.bin", std::nullopt, false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::ScopedLibrarySet libraries(c.installed);
        TYZ1::FreeDLL();
        fake::Reset();
        if (c.openResult)
            fake::SetResult("Yz1OpenArchive", *c.openResult);
        EXPECT_EQ(IsYz1Archive(c.name), c.expected);
        auto opens = fake::CallsTo("Yz1OpenArchive");
        ASSERT_EQ(opens.size(), c.opens);
        if (c.opens == 0)
            continue;
        EXPECT_EQ(opens[0].text, dir / c.name);
        EXPECT_EQ(opens[0].mode, 0x800002);
        EXPECT_EQ(opens[0].wnd, nullptr);
        auto closes = fake::CallsTo("Yz1CloseArchive");
        ASSERT_EQ(closes.size(), 1u);
        EXPECT_EQ(closes[0].arc, opens[0].arc);
    }
}

} // namespace
