// The RAR back-end against the fake UNRAR32 library: its command lines, extraction and memory
// extraction, the operations an extract-only format refuses, listing, check, owner window, the
// missing library and the content probe.
#include "FakeControl.h"
#include "archives/Exceptions.h"
#include "formats/RAR32.h"
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <optional>
#include <string>

using namespace archives;
using namespace formats;
using formats_test::MessageOf;
using formats_test::ReadFile;
using formats_test::ScratchDir;
using formats_test::WriteFile;

namespace {

class Rar32 : public ::testing::Test {
protected:
    void SetUp() override {
        TRar32::FreeDLL();
        fake::Reset();
    }
    void TearDown() override { TRar32::FreeDLL(); }

    static std::string Received() {
        auto calls = fake::CallsTo("Unrar");
        return calls.empty() ? std::string("(no call)") : calls.back().text;
    }

    fake::ScopedSearchPath path_{"full"};
    TArchiverOptions opts;
    std::string out = std::string(32, '\0');
};

TEST_F(Rar32, CommandLines) {
    struct Case {
        const char *name;
        std::function<void(TArchiverOptions &)> set;
        const char *dir;
        const char *expected;
    } cases[] = {
        {"all unset", [](TArchiverOptions &) {}, "/out", R"(-x -u  "/a.rar" "/out/" )"},
        {"no directory", [](TArchiverOptions &) {}, "", R"(-x -u  "/a.rar" )"},
        {"the separator is not doubled", [](TArchiverOptions &) {}, "/out/",
         R"(-x -u  "/a.rar" "/out/" )"},
        {"c=0 keeps -u", [](TArchiverOptions &o) { o.c = 0; }, "", R"(-x -u  "/a.rar" )"},
        {"c=1 leaves it out", [](TArchiverOptions &o) { o.c = 1; }, "", R"(-x  "/a.rar" )"},
        {"c=2 too", [](TArchiverOptions &o) { o.c = 2; }, "", R"(-x  "/a.rar" )"},
        {"m=1", [](TArchiverOptions &o) { o.m = 1; }, "", R"(-x -u -y  "/a.rar" )"},
        {"m=0", [](TArchiverOptions &o) { o.m = 0; }, "", R"(-x -u  "/a.rar" )"},
        {"p=1", [](TArchiverOptions &o) { o.p = 1; }, "", R"(-x -u -s  "/a.rar" )"},
        {"p=0", [](TArchiverOptions &o) { o.p = 0; }, "", R"(-x -u  "/a.rar" )"},
        {"other switches are not written",
         [](TArchiverOptions &o) {
             o.n = 1;
             o.r = 1;
             o.w = "/tmp";
             o.jso = 1;
         },
         "", R"(-x -u  "/a.rar" )"},
        {"user options and list",
         [](TArchiverOptions &o) {
             o.UserOptions = "-o+";
             o.UserFileList = "more.txt";
         },
         "", R"(-x -u -o+ "/a.rar" more.txt)"},
        {"everything in order",
         [](TArchiverOptions &o) {
             o.c = 0;
             o.m = 1;
             o.p = 1;
             o.UserOptions = "-o+";
         },
         "/out", R"(-x -u -y -s -o+ "/a.rar" "/out/" )"},
    };
    TRar32 rar;
    for (const auto &c : cases) {
        TArchiverOptions o;
        c.set(o);
        EXPECT_EQ(rar.BuildRarCommandLine("-x", "/a.rar", o, c.dir, {}, false), c.expected)
            << c.name;
    }
    // An owner window changes nothing in this dialect.
    ArcWindow window{nullptr};
    ASSERT_TRUE(rar.SetOwnerWindow(&window, nullptr));
    EXPECT_EQ(rar.BuildRarCommandLine("-x", "/a.rar", opts, "", {std::string("a")}, false),
              R"(-x -u  "/a.rar" "a" )");
    rar.KillOwnerWindow(&window);
}

struct ExtractCase {
    const char *what;
    int x;
    TResFileUsage usage;
    bool useResFile;
    std::string expected; // "@" stands for the quoted response-file reference
    bool responseFile;
};

// The word follows x; the response file follows ruOnUnpack, never the UseResFile argument.
TEST_F(Rar32, ExtractWordAndResponseFile) {
    const TFileArgs files{std::string("a.txt"), std::string("b c.txt")};
    const ExtractCase cases[] = {
        {"x unset", -1, {}, false, R"(-x -u  "/a.rar" "/out/" "a.txt" "b c.txt" )", false},
        {"x=1", 1, {}, false, R"(-x -u  "/a.rar" "/out/" "a.txt" "b c.txt" )", false},
        {"x=0 extracts without folders",
         0,
         {},
         false,
         R"(-e -u  "/a.rar" "/out/" "a.txt" "b c.txt" )",
         false},
        {"UseResFile alone writes none",
         -1,
         {ruOnPack},
         true,
         R"(-x -u  "/a.rar" "/out/" "a.txt" "b c.txt" )",
         false},
        {"ruOnUnpack writes one", -1, {ruOnUnpack}, false, R"(-x -u  "/a.rar" "/out/" @ )", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        fake::Reset();
        fake::SetResult("Unrar", 0x8016);
        TArchiverOptions o;
        o.x = static_cast<ShortInt>(c.x);
        o.ResFileName = dir / "list.txt";
        o.ResFileUsage = c.usage;
        TRar32 rar;
        EXPECT_EQ(rar.Extract(nullptr, "/a.rar", o, "/out", files, c.useResFile, out), 0x8016);
        std::string expected = c.expected;
        if (auto at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, "\"@" + o.ResFileName + "\"");
        EXPECT_EQ(rar.CommandLine, expected);
        EXPECT_EQ(Received(), expected);
        EXPECT_EQ(platform::FileExists(o.ResFileName), c.responseFile);
        if (c.responseFile) {
            EXPECT_EQ(ReadFile(o.ResFileName), "\"a.txt\"\r\n\"b c.txt\"\r\n");
        }
    }
}

TEST_F(Rar32, ExtractMemHasNoCommandWordAndTheEntryAsItsOnlyFile) {
    ScratchDir dir;
    TRar32 rar;
    opts.ResFileName = dir / "never.txt";
    opts.ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate};
    fake::SetMemory("hello");
    char buffer[16] = {};
    DWORD written = 0;
    EXPECT_EQ(rar.ExtractMem(nullptr, "/a.rar", opts, "dir/a.txt", buffer, sizeof buffer, &written),
              0);
    auto calls = fake::CallsTo("UnrarExtractMem");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, R"( -u  "/a.rar" "dir/a.txt" )");
    EXPECT_EQ(rar.CommandLine, calls[0].text);
    EXPECT_EQ(calls[0].size, sizeof buffer);
    EXPECT_TRUE(calls[0].writtenPtr);
    EXPECT_FALSE(calls[0].timePtr);
    EXPECT_FALSE(calls[0].attrPtr);
    EXPECT_EQ(std::string(buffer, written), "hello");
    EXPECT_FALSE(platform::FileExists(opts.ResFileName));
}

TEST_F(Rar32, WritingOperationsAreNotSupported) {
    TRar32 rar;
    const TFileArgs files{std::string("a.txt")};
    const std::pair<const char *, std::function<void()>> cases[] = {
        {"この形式では書庫ファイルの作成をサポートしておりません。",
         [&] { rar.Pack(nullptr, "/a.rar", opts, "/src", files, false, out); }},
        {"この形式の書庫ではファイルの削除をサポートしておりません。",
         [&] { rar.Delete(nullptr, "/a.rar", opts, "/src", files, false, out); }},
        {"この形式の書庫では書庫の更新をサポートしておりません。",
         [&] { rar.Update(nullptr, "/a.rar", opts, "/src", files, false, out); }},
        {"この形式では自己解凍書庫の作成をサポートしておりません。",
         [&] { rar.MakeSfx(nullptr, "/a.rar", opts, "/out", out); }},
    };
    for (const auto &[message, run] : cases) {
        EXPECT_EQ(MessageOf<EArchiver>(run), message);
    }
    EXPECT_TRUE(fake::Calls().empty());
    EXPECT_EQ(rar.CommandLine, "");
}

TEST_F(Rar32, ExecuteHandsTheOutputBufferOnlyWhenThereIsOne) {
    TRar32 rar;
    fake::SetOutput("done");
    std::string output(16, 'x');
    EXPECT_EQ(rar.Execute(nullptr, "-x \"/a.rar\"", output), 0);
    EXPECT_EQ(std::string(output.c_str()), "done");
    auto call = fake::CallsTo("Unrar").at(0);
    EXPECT_TRUE(call.buffer);
    EXPECT_EQ(call.size, 16u);
    std::string none;
    rar.Execute(nullptr, "-x \"/a.rar\"", none);
    EXPECT_FALSE(fake::CallsTo("Unrar").at(1).buffer);
}

TEST_F(Rar32, CheckPassesModePlusFlags) {
    struct Case {
        int mode, flags, asked;
    } cases[] = {{0, 0, 0}, {1, 16, 17}, {2, 0, 2}, {-1, 1, 0}};
    TRar32 rar;
    for (const auto &c : cases) {
        fake::Reset();
        fake::SetResult("UnrarCheckArchive", 7);
        EXPECT_EQ(rar.CheckArchive("a.rar", c.mode, c.flags), 7);
        auto calls = fake::CallsTo("UnrarCheckArchive");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].mode, c.asked) << c.mode << "+" << c.flags;
        EXPECT_EQ(calls[0].text, "a.rar"); // the name unchanged
    }
    fake::Reset();
    EXPECT_THROW(rar.CheckArchive("a.rar", INT_MAX, 1), std::overflow_error);
    EXPECT_THROW(rar.CheckArchive("a.rar", INT_MIN, -1), std::overflow_error);
    EXPECT_TRUE(fake::CallsTo("UnrarCheckArchive").empty());
}

TEST_F(Rar32, ListingAndOwnerWindowPassThrough) {
    ScratchDir dir;
    fake::SetItems({{.name = "a.txt", .originalSize = 10}, {.name = "b.txt", .originalSize = 20}});
    TRar32 rar;
    HWND wnd = reinterpret_cast<HWND>(0x10);
    HARC arc = rar.OpenArchive(wnd, "a.rar", 5);
    ASSERT_NE(arc, nullptr);
    auto open = fake::CallsTo("UnrarOpenArchive").at(0);
    EXPECT_EQ(open.text, dir / "a.rar");
    EXPECT_EQ(open.mode, 5);
    EXPECT_EQ(open.wnd, wnd);
    TIndividualInfoEx info{};
    EXPECT_EQ(rar.FindFirst(arc, &info, "*.txt"), 0);
    EXPECT_STREQ(info.szFileName, "a.txt");
    EXPECT_EQ(fake::CallsTo("UnrarFindFirst").at(0).text, "*.txt");
    EXPECT_EQ(rar.FindNext(arc, &info), 0);
    EXPECT_EQ(rar.FindNext(arc, &info), -1);
    EXPECT_EQ(rar.CloseArchive(arc), 0);
    EXPECT_EQ(fake::CallsTo("UnrarCloseArchive").at(0).arc, arc);

    ArcWindow window{nullptr};
    EXPECT_TRUE(rar.SetOwnerWindow(&window, nullptr));
    EXPECT_TRUE(rar.HasOwnerWindow());
    EXPECT_EQ(fake::OwnerWindow("libunrar32.so"), static_cast<HWND>(&window));
    fake::SetResult("UnrarKillOwnerWindowEx", 0);
    EXPECT_FALSE(rar.KillOwnerWindow(&window)); // what the library said
    EXPECT_FALSE(rar.HasOwnerWindow());
}

TEST_F(Rar32, MissingLibrary) {
    fake::ScopedSearchPath empty("empty");
    EXPECT_EQ(MessageOf<ENoArchiverDLL>([] { TRar32 r; }),
              "RAR 形式書庫 を扱うには UNRAR32.DLL が 必要です。");
    ASSERT_NE(RarDll, nullptr);
    EXPECT_EQ(RarDll->Handle(), nullptr);
    EXPECT_NO_THROW(TRar32::LoadDLL());
    EXPECT_FALSE(IsRarArchive("/no/such/a.rar"));
}

TEST_F(Rar32, ContentProbeClosesEvenANullHandle) {
    ScratchDir dir;
    WriteFile(dir / "a.bin", "data");
    struct Case {
        const char *what;
        std::optional<int64_t> openResult;
        bool expected;
    } cases[] = {
        {"the library opens it", std::nullopt, true},
        {"the library refuses it", 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        if (c.openResult)
            fake::SetResult("UnrarOpenArchive", *c.openResult);
        EXPECT_EQ(IsRarArchive("a.bin"), c.expected);
        auto opens = fake::CallsTo("UnrarOpenArchive");
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].text, dir / "a.bin");
        EXPECT_EQ(opens[0].mode, 0x800002);
        EXPECT_EQ(opens[0].wnd, nullptr);
        auto closes = fake::CallsTo("UnrarCloseArchive");
        ASSERT_EQ(closes.size(), 1u);
        EXPECT_EQ(closes[0].arc, opens[0].arc);
    }
    fake::ScopedLibrarySet noLibrary({});
    TRar32::FreeDLL();
    EXPECT_FALSE(IsRarArchive("a.bin"));
}

} // namespace
