// The ARJ back-end against the fake UNARJ32J library: the LHA dialect sent to UNARJ32J, the
// response file from the UseResFile argument, the operations an ARJ library cannot do, listing,
// check and owner window through UNARJ32J alone (UNLHA32 absent), the missing library and the
// content probe.
#include "FakeControl.h"
#include "archives/Exceptions.h"
#include "formats/ARJ32.h"
#include "formats/LHA32.h"
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

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

class Arj32 : public ::testing::Test {
protected:
    void SetUp() override {
        TArj32::FreeDLL();
        TLha32::FreeDLL();
        fake::Reset();
    }
    void TearDown() override {
        TArj32::FreeDLL();
        TLha32::FreeDLL();
    }

    static std::string Received() {
        auto calls = fake::CallsTo("Unarj");
        return calls.empty() ? std::string("(no call)") : calls.back().text;
    }

    // Only the ARJ library is there: nothing may reach for UNLHA32.
    fake::ScopedLibrarySet libraries_{{"full/libunarj32j.so"}};
    TArchiverOptions opts;
    std::string out = std::string(32, '\0');
};

// The LHA back-end's line, word for word, received by UNARJ32J.
TEST_F(Arj32, ExtractWritesTheLhaLineToUnarj) {
    TArj32 arj;
    EXPECT_EQ(arj.Extract(nullptr, "/d/a.arj", opts, "/out", {std::string("*.*")}, false, out), 0);
    const std::string expected = R"(x -+  "/d/a.arj" "/out/" "*.*" )";
    EXPECT_EQ(arj.CommandLine, expected);
    EXPECT_EQ(Received(), expected);
    EXPECT_EQ(arj.BuildLhaCommandLine("x", "/d/a.arj", opts, "/out", {std::string("*.*")}, false),
              expected);
    EXPECT_EQ(LhaDll, nullptr);

    // Every switch of the record under its own name, as the LHA back-end writes it.
    TArchiverOptions o;
    o.x = 0;
    o.c = 1;
    o.w = "/tmp";
    o.jo = "*.txt";
    o.jx.Add("*.bak");
    o.UserOptions = "-v";
    o.UserFileList = "more";
    fake::Reset();
    fake::SetResult("Unarj", 0x8009);
    EXPECT_EQ(arj.Extract(nullptr, "/d/a.arj", o, "", {std::string("a.txt")}, false, out), 0x8009);
    EXPECT_EQ(Received(),
              R"(x -+ -c1 "-w/tmp/" -x0 "-jo*.txt" "-jx*.bak" -v "/d/a.arj" "a.txt" more)");
}

struct ResponseCase {
    const char *what;
    TResFileUsage usage;
    bool useResFile;
    bool written;
};

// Extract takes the choice from the UseResFile argument, whatever ResFileUsage holds.
TEST_F(Arj32, ResponseFileFollowsUseResFile) {
    const TFileArgs files{std::string("a.txt"), std::string("b c.txt")};
    const TResFileUsage all{ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate};
    const ResponseCase cases[] = {
        {"UseResFile without ruOnUnpack", TResFileUsage{}, true, true},
        {"UseResFile with every entry", all, true, true},
        {"ruOnUnpack without UseResFile", TResFileUsage{ruOnUnpack}, false, false},
        {"neither", TResFileUsage{}, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        fake::Reset();
        TArchiverOptions o;
        o.ResFileName = dir / "list.txt";
        o.ResFileUsage = c.usage;
        TArj32 arj;
        arj.Extract(nullptr, "/a.arj", o, "/out", files, c.useResFile, out);
        const std::string expected =
            c.written ? "x -+  \"/a.arj\" \"/out/\" \"@" + o.ResFileName + "\" "
                      : std::string(R"(x -+  "/a.arj" "/out/" "a.txt" "b c.txt" )");
        EXPECT_EQ(Received(), expected);
        EXPECT_EQ(platform::FileExists(o.ResFileName), c.written);
        if (c.written) {
            EXPECT_EQ(ReadFile(o.ResFileName), "\"a.txt\"\r\n\"b c.txt\"\r\n");
        }
    }
    // Without a response-file name the names stay on the line.
    fake::Reset();
    TArj32 arj;
    arj.Extract(nullptr, "/a.arj", opts, "/out", files, true, out);
    EXPECT_EQ(Received(), R"(x -+  "/a.arj" "/out/" "a.txt" "b c.txt" )");
}

// Registering and withdrawing an owner window reaches UNARJ32J only; UNLHA32 is absent.
TEST_F(Arj32, OwnerWindowWorksWithoutTheLhaLibrary) {
    ArcWindow window{nullptr};
    TArj32 arj;
    for (int n : {-1, 2}) {
        SCOPED_TRACE(n);
        fake::Reset();
        opts.n = static_cast<ShortInt>(n);
        EXPECT_TRUE(arj.SetOwnerWindow(&window, nullptr));
        EXPECT_TRUE(arj.HasOwnerWindow());
        EXPECT_EQ(fake::OwnerWindow("libunarj32j.so"), static_cast<HWND>(&window));
        arj.Extract(nullptr, "/a.arj", opts, "", {}, false, out);
        EXPECT_EQ(Received(), R"(x -+ -n1  "/a.arj" )"); // -n1 whatever n holds
        EXPECT_TRUE(arj.KillOwnerWindow(&window));
        EXPECT_FALSE(arj.HasOwnerWindow());
        EXPECT_EQ(fake::OwnerWindow("libunarj32j.so"), nullptr);
        ASSERT_EQ(fake::CallsTo("UnarjSetOwnerWindowEx").size(), 1u);
        ASSERT_EQ(fake::CallsTo("UnarjKillOwnerWindowEx").size(), 1u);
        EXPECT_EQ(fake::CallsTo("UnarjKillOwnerWindowEx")[0].wnd, static_cast<HWND>(&window));
    }
    fake::SetResult("UnarjSetOwnerWindowEx", 0);
    EXPECT_FALSE(arj.SetOwnerWindow(&window, nullptr)); // what the library said
    EXPECT_TRUE(arj.HasOwnerWindow());
    arj.KillOwnerWindow(&window);
    EXPECT_EQ(LhaDll, nullptr);
    for (const auto &call : fake::Calls())
        EXPECT_EQ(call.library, "libunarj32j.so") << call.entry;
}

// An ARJ library reads archives only: the writing operations raise before any library is
// reached, and the LHA library is not loaded for them.
TEST_F(Arj32, WritingOperationsAreNotSupported) {
    ScratchDir dir;
    TArj32 arj;
    TArchiverOptions o;
    o.ResFileName = dir / "list.txt";
    o.ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate};
    const TFileArgs files{std::string("a.txt")};
    const std::pair<const char *, std::function<void()>> cases[] = {
        {"この形式では書庫ファイルの作成をサポートしておりません。",
         [&] { arj.Pack(nullptr, "/a.arj", o, "/src", files, true, out); }},
        {"この形式の書庫ではファイルの削除をサポートしておりません。",
         [&] { arj.Delete(nullptr, "/a.arj", o, "/src", files, true, out); }},
        {"この形式の書庫では書庫の更新をサポートしておりません。",
         [&] { arj.Update(nullptr, "/a.arj", o, "/src", files, true, out); }},
        {"この形式では自己解凍書庫の作成をサポートしておりません。",
         [&] { arj.MakeSfx(nullptr, "/a.arj", o, "/out", out); }},
    };
    for (const auto &[message, run] : cases) {
        EXPECT_EQ(MessageOf<EArchiver>(run), message);
    }
    EXPECT_TRUE(fake::Calls().empty());
    EXPECT_EQ(LhaDll, nullptr);
    EXPECT_EQ(arj.CommandLine, "");
    EXPECT_FALSE(platform::FileExists(o.ResFileName));
}

TEST_F(Arj32, ExtractMemSendsTheLhaLineToUnarj) {
    ScratchDir dir;
    TArj32 arj;
    opts.ResFileName = dir / "never.txt";
    opts.ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate};
    fake::SetMemory("hello");
    char buffer[16] = {};
    DWORD written = 0;
    EXPECT_EQ(arj.ExtractMem(nullptr, "/a.arj", opts, "dir/a.txt", buffer, sizeof buffer, &written),
              0);
    auto calls = fake::CallsTo("UnarjExtractMem");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, R"( -+  "/a.arj" "dir/a.txt" )");
    EXPECT_EQ(arj.CommandLine, calls[0].text);
    EXPECT_EQ(calls[0].size, sizeof buffer);
    EXPECT_TRUE(calls[0].writtenPtr);
    EXPECT_FALSE(calls[0].timePtr);
    EXPECT_FALSE(calls[0].attrPtr);
    EXPECT_EQ(std::string(buffer, written), "hello");
    EXPECT_FALSE(platform::FileExists(opts.ResFileName));
    EXPECT_EQ(LhaDll, nullptr);
}

TEST_F(Arj32, ListingAndCheckGoToUnarj) {
    ScratchDir dir;
    fake::SetItems({{.name = "a.txt", .originalSize = 10}, {.name = "b.txt", .originalSize = 20}});
    TArj32 arj;
    HWND wnd = reinterpret_cast<HWND>(0x10);
    HARC arc = arj.OpenArchive(wnd, "a.arj", 5);
    ASSERT_NE(arc, nullptr);
    auto open = fake::CallsTo("UnarjOpenArchive").at(0);
    EXPECT_EQ(open.text, dir / "a.arj");
    EXPECT_EQ(open.mode, 5);
    EXPECT_EQ(open.wnd, wnd);
    TIndividualInfoEx info{};
    EXPECT_EQ(arj.FindFirst(arc, &info, "*.txt"), 0);
    EXPECT_STREQ(info.szFileName, "a.txt");
    EXPECT_EQ(fake::CallsTo("UnarjFindFirst").at(0).text, "*.txt");
    EXPECT_EQ(arj.FindNext(arc, &info), 0);
    EXPECT_EQ(arj.FindNext(arc, &info), -1);
    EXPECT_EQ(arj.CloseArchive(arc), 0);
    EXPECT_EQ(fake::CallsTo("UnarjCloseArchive").at(0).arc, arc);

    fake::SetResult("UnarjCheckArchive", 7);
    EXPECT_EQ(arj.CheckArchive("a.arj", 1, 16), 7);
    auto check = fake::CallsTo("UnarjCheckArchive").at(0);
    EXPECT_EQ(check.text, "a.arj");
    EXPECT_EQ(check.mode, 17);
    EXPECT_EQ(LhaDll, nullptr);
}

TEST_F(Arj32, MissingLibrary) {
    fake::ScopedSearchPath empty("empty");
    EXPECT_EQ(MessageOf<ENoArchiverDLL>([] { TArj32 a; }),
              "ARJ 形式書庫 を扱うには UNARJ32J.DLL が 必要です。");
    ASSERT_NE(ArjDll, nullptr);
    EXPECT_EQ(ArjDll->Handle(), nullptr);
    EXPECT_NO_THROW(TArj32::LoadDLL());
    EXPECT_FALSE(IsArjArchive("/no/such/a.arj"));
    EXPECT_EQ(LhaDll, nullptr);
}

TEST_F(Arj32, ContentProbeOpensWithoutCheckingFirst) {
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
            fake::SetResult("UnarjOpenArchive", *c.openResult);
        EXPECT_EQ(IsArjArchive("a.bin"), c.expected);
        auto opens = fake::CallsTo("UnarjOpenArchive");
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].text, dir / "a.bin");
        EXPECT_EQ(opens[0].mode, 0x800002);
        EXPECT_EQ(opens[0].wnd, nullptr);
        EXPECT_TRUE(fake::CallsTo("UnarjCheckArchive").empty());
        auto closes = fake::CallsTo("UnarjCloseArchive");
        ASSERT_EQ(closes.size(), c.expected ? 1u : 0u);
        if (c.expected) {
            EXPECT_EQ(closes[0].arc, opens[0].arc);
        }
    }
    fake::ScopedLibrarySet noLibrary({});
    TArj32::FreeDLL();
    EXPECT_FALSE(IsArjArchive("a.bin"));
}

} // namespace
