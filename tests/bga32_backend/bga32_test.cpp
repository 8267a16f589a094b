// The BGA back-end against the fake BGA32 library: its command lines, the operations that run
// them, the check mode, listing, owner window, the missing library and the content probe.
#include "FakeControl.h"
#include "archives/Exceptions.h"
#include "formats/BGA32.h"
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

using namespace archives;
using namespace formats;
using formats_test::MessageOf;
using formats_test::ReadFile;
using formats_test::ScratchDir;
using formats_test::WriteFile;

namespace {

class Bga32 : public ::testing::Test {
protected:
    void SetUp() override {
        TBGA32::FreeDLL();
        fake::Reset();
    }
    void TearDown() override { TBGA32::FreeDLL(); }

    // The command line the library received last.
    static std::string Received() {
        auto calls = fake::CallsTo("Bga");
        return calls.empty() ? std::string("(no call)") : calls.back().text;
    }

    fake::ScopedSearchPath path_{"full"};
    TArchiverOptions opts;
    std::string out = std::string(32, '\0');
};

TEST_F(Bga32, CommandLines) {
    struct Case {
        const char *name;
        std::function<void(TArchiverOptions &)> set;
        const char *dir;
        const char *expected;
    } cases[] = {
        {"all unset", [](TArchiverOptions &) {}, "/src", R"(a -n -j  "/a.gza" "/src/" )"},
        {"no directory", [](TArchiverOptions &) {}, "", R"(a -n -j  "/a.gza" )"},
        {"a=1", [](TArchiverOptions &o) { o.a = 1; }, "", R"(a -a -n -j  "/a.gza" )"},
        {"a=0", [](TArchiverOptions &o) { o.a = 0; }, "", R"(a -n -j  "/a.gza" )"},
        {"c=1 overwrites", [](TArchiverOptions &o) { o.c = 1; }, "", R"(a -o -j  "/a.gza" )"},
        {"c=0 does not", [](TArchiverOptions &o) { o.c = 0; }, "", R"(a -n -j  "/a.gza" )"},
        {"n=1", [](TArchiverOptions &o) { o.n = 1; }, "", R"(a -n -i -j  "/a.gza" )"},
        {"n=0", [](TArchiverOptions &o) { o.n = 0; }, "", R"(a -n -j  "/a.gza" )"},
        {"r=1", [](TArchiverOptions &o) { o.r = 1; }, "", R"(a -n -r -j  "/a.gza" )"},
        {"r=0", [](TArchiverOptions &o) { o.r = 0; }, "", R"(a -n -j  "/a.gza" )"},
        {"x=1 keeps folders", [](TArchiverOptions &o) { o.x = 1; }, "", R"(a -n  "/a.gza" )"},
        {"x=0 drops them", [](TArchiverOptions &o) { o.x = 0; }, "", R"(a -n -j  "/a.gza" )"},
        {"jm=0", [](TArchiverOptions &o) { o.jm = 0; }, "", R"(a -n -j -l0  "/a.gza" )"},
        {"jm=5", [](TArchiverOptions &o) { o.jm = 5; }, "", R"(a -n -j -l5  "/a.gza" )"},
        {"user options and list",
         [](TArchiverOptions &o) {
             o.UserOptions = "-q";
             o.UserFileList = "more.txt";
         },
         "", R"(a -n -j -q "/a.gza" more.txt)"},
        {"everything in order",
         [](TArchiverOptions &o) {
             o.a = 1;
             o.c = 1;
             o.n = 1;
             o.r = 1;
             o.x = 1;
             o.jm = 2;
             o.UserOptions = "-q";
         },
         "/src/", R"(a -a -o -i -r -l2 -q "/a.gza" "/src/" )"},
    };
    TBGA32 bga;
    for (const auto &c : cases) {
        TArchiverOptions o;
        c.set(o);
        EXPECT_EQ(bga.BuildBgaCommandLine("a", "/a.gza", o, c.dir, {}, false), c.expected)
            << c.name;
    }
    // The example of a pack with one file, its trailing blank included.
    EXPECT_EQ(bga.BuildBgaCommandLine("a", "/a.gza", opts, "/src", {std::string("x.txt")}, false),
              R"(a -n -j  "/a.gza" "/src/" "x.txt" )");
}

TEST_F(Bga32, AnOwnerWindowWritesIWhileRegistered) {
    ArcWindow window{nullptr};
    TBGA32 bga;
    for (int n : {-1, 0}) {
        SCOPED_TRACE(n);
        opts.n = static_cast<ShortInt>(n);
        EXPECT_TRUE(bga.SetOwnerWindow(&window, nullptr));
        EXPECT_EQ(fake::OwnerWindow("libbga32.so"), static_cast<HWND>(&window));
        bga.Pack(nullptr, "/a.gza", opts, "", {std::string("a.txt")}, false, out);
        EXPECT_EQ(Received(), R"(a -n -i -j  "/a.gza" "a.txt" )");
        EXPECT_TRUE(bga.KillOwnerWindow(&window));
        EXPECT_EQ(fake::OwnerWindow("libbga32.so"), nullptr);
        bga.Pack(nullptr, "/a.gza", opts, "", {std::string("a.txt")}, false, out);
        EXPECT_EQ(Received(), R"(a -n -j  "/a.gza" "a.txt" )");
    }
}

// The answers say what the library did; the window is recorded (and forgotten) all the same.
TEST_F(Bga32, OwnerWindowAnswersWhatTheLibrarySaid) {
    ArcWindow window{nullptr};
    TBGA32 bga;
    fake::SetResult("BgaSetOwnerWindowEx", 0);
    fake::SetResult("BgaKillOwnerWindowEx", 0);
    EXPECT_FALSE(bga.SetOwnerWindow(&window, nullptr));
    EXPECT_TRUE(bga.HasOwnerWindow());
    EXPECT_FALSE(bga.KillOwnerWindow(&window));
    EXPECT_FALSE(bga.HasOwnerWindow());
    ASSERT_EQ(fake::CallsTo("BgaKillOwnerWindowEx").size(), 1u);
    EXPECT_EQ(fake::CallsTo("BgaKillOwnerWindowEx")[0].wnd, static_cast<HWND>(&window));
}

struct OperationCase {
    const char *what;
    TResFileUsage usage;
    bool useResFile;
    std::function<int(TBGA32 &, const TArchiverOptions &, std::string &)> run;
    // The expected command line; "@" stands for the quoted response-file reference.
    std::string expected;
    // The response file's content, or nothing when none is written.
    std::optional<std::string> responseFile;
};

TEST_F(Bga32, OperationsAndTheirResponseFiles) {
    const TFileArgs files{std::string("a.txt"), std::string("b c.txt")};
    const auto extract = [&](TBGA32 &b, const TArchiverOptions &o, std::string &s) {
        return b.Extract(nullptr, "/a.gza", o, "/out", files, false, s);
    };
    const auto extractRes = [&](TBGA32 &b, const TArchiverOptions &o, std::string &s) {
        return b.Extract(nullptr, "/a.gza", o, "/out", files, true, s);
    };
    const auto pack = [&](TBGA32 &b, const TArchiverOptions &o, std::string &s) {
        return b.Pack(nullptr, "/a.gza", o, "/src", files, true, s);
    };
    const auto del = [&](TBGA32 &b, const TArchiverOptions &o, std::string &s) {
        return b.Delete(nullptr, "/a.gza", o, "/src", files, false, s);
    };
    const auto delNoRes = [&](TBGA32 &b, const TArchiverOptions &o, std::string &s) {
        return b.Delete(nullptr, "/a.gza", o, "/src", files, true, s);
    };
    const auto sfx = [&](TBGA32 &b, const TArchiverOptions &o, std::string &s) {
        return b.MakeSfx(nullptr, "/a.gza", o, "/out", s);
    };
    const std::string names = "\"a.txt\"\r\n\"b c.txt\"\r\n";
    const OperationCase cases[] = {
        {"extract, names on the line", DefaultResFileUsage, false, extract,
         R"(x -n -j  "/a.gza" "/out/" "a.txt" "b c.txt" )", std::nullopt},
        {"extract, the call asks for a response file", TResFileUsage{}, true, extractRes,
         R"(x -n -j  "/a.gza" "/out/" @ )", names},
        {"pack with the call's choice", TResFileUsage{}, true, pack,
         R"(a -n -j  "/a.gza" "/src/" @ )", names},
        {"delete: no directory, ruOnRemoveItem decides", TResFileUsage{ruOnRemoveItem}, false, del,
         R"(d -n -j  "/a.gza" @ )", names},
        {"delete without ruOnRemoveItem ignores the call", TResFileUsage{ruOnPack}, true, delNoRes,
         R"(d -n -j  "/a.gza" "a.txt" "b c.txt" )", std::nullopt},
        {"sfx writes an empty response file", TResFileUsage{ruOnRemoveItem}, false, sfx,
         R"(s -n -j  "/a.gza" "/out/" @ )", std::string()},
        {"sfx without ruOnRemoveItem has no names", TResFileUsage{ruOnPack, ruOnUnpack}, false, sfx,
         R"(s -n -j  "/a.gza" "/out/" )", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        fake::Reset();
        fake::SetResult("Bga", 0x8012);
        TArchiverOptions o;
        o.ResFileName = dir / "list.txt";
        o.ResFileUsage = c.usage;
        TBGA32 bga;
        EXPECT_EQ(c.run(bga, o, out), 0x8012);
        std::string expected = c.expected;
        if (auto at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, "\"@" + o.ResFileName + "\"");
        EXPECT_EQ(bga.CommandLine, expected);
        EXPECT_EQ(Received(), expected);
        EXPECT_EQ(platform::FileExists(o.ResFileName), c.responseFile.has_value());
        if (c.responseFile) {
            EXPECT_EQ(ReadFile(o.ResFileName), *c.responseFile);
        }
    }
}

TEST_F(Bga32, ExecuteHandsTheOutputBufferOnlyWhenThereIsOne) {
    TBGA32 bga;
    fake::SetOutput("done");
    std::string output(16, 'x');
    EXPECT_EQ(bga.Execute(nullptr, "x \"/a.gza\"", output), 0);
    EXPECT_EQ(std::string(output.c_str()), "done");
    auto call = fake::CallsTo("Bga").at(0);
    EXPECT_TRUE(call.buffer);
    EXPECT_EQ(call.size, 16u);
    std::string none;
    bga.Execute(nullptr, "x \"/a.gza\"", none);
    EXPECT_FALSE(fake::CallsTo("Bga").at(1).buffer);
    EXPECT_EQ(fake::CallsTo("Bga").at(1).size, 0u);
}

TEST_F(Bga32, UpdateAndMemoryExtractionAreNotSupported) {
    TBGA32 bga;
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { bga.Update(nullptr, "/a.gza", opts, "", {std::string("a")}, false, out); }),
              "この形式の書庫では書庫の更新をサポートしておりません。");
    DWORD written = 0;
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { bga.ExtractMem(nullptr, "/a.gza", opts, "a", nullptr, 0, &written); }),
              "この形式ではメモリへの展開をサポートしておりません。");
    EXPECT_TRUE(fake::CallsTo("Bga").empty());
}

TEST_F(Bga32, CheckAsksModeTwoAsOne) {
    struct Case {
        int mode, flags, asked;
    } cases[] = {{2, 0, 1}, {0, 0, 0}, {1, 0, 1}, {3, 0, 3}, {2, 8, 9}, {0, 16, 16}};
    TBGA32 bga;
    for (const auto &c : cases) {
        fake::Reset();
        fake::SetResult("BgaCheckArchive", 7);
        EXPECT_EQ(bga.CheckArchive("a.gza", c.mode, c.flags), 7);
        auto calls = fake::CallsTo("BgaCheckArchive");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].mode, c.asked) << c.mode << "+" << c.flags;
        EXPECT_EQ(calls[0].text, "a.gza"); // the name unchanged
    }
    EXPECT_THROW(bga.CheckArchive("a.gza", INT_MAX, 1), std::overflow_error);
}

TEST_F(Bga32, ListingOpensTheFullPath) {
    ScratchDir dir;
    fake::SetItems({{.name = "a.txt", .originalSize = 10}, {.name = "b.txt", .originalSize = 20}});
    TBGA32 bga;
    HWND wnd = reinterpret_cast<HWND>(0x10);
    HARC arc = bga.OpenArchive(wnd, "a.gza", 5);
    ASSERT_NE(arc, nullptr);
    auto open = fake::CallsTo("BgaOpenArchive").at(0);
    EXPECT_EQ(open.text, dir / "a.gza");
    EXPECT_EQ(open.mode, 5);
    EXPECT_EQ(open.wnd, wnd);
    TIndividualInfoEx info{};
    EXPECT_EQ(bga.FindFirst(arc, &info, "*.txt"), 0);
    EXPECT_STREQ(info.szFileName, "a.txt");
    EXPECT_EQ(fake::CallsTo("BgaFindFirst").at(0).text, "*.txt");
    EXPECT_EQ(bga.FindNext(arc, &info), 0);
    const int64_t size = info.OriginalSize; // a packed field: no reference to it
    EXPECT_EQ(size, 20);
    EXPECT_EQ(bga.FindNext(arc, &info), -1);
    EXPECT_EQ(bga.CloseArchive(arc), 0);
    EXPECT_EQ(fake::CallsTo("BgaCloseArchive").at(0).arc, arc);
}

// The binding is kept after a failed load; an operation loads on demand once the library is
// there.
TEST_F(Bga32, MissingLibrary) {
    {
        fake::ScopedSearchPath empty("empty");
        EXPECT_EQ(MessageOf<ENoArchiverDLL>([] { TBGA32 b; }),
                  "BGA 形式書庫 を扱うには BGA32.DLL が 必要です。");
        ASSERT_NE(BgaDll, nullptr);
        EXPECT_EQ(BgaDll->Handle(), nullptr);
        EXPECT_FALSE(IsBgaArchive("/no/such/a.gza"));
    }
    fake::ScopedSearchPath full("full"); // the inner scope dropped the fixture's path
    EXPECT_NO_THROW(TBGA32::LoadDLL());  // a binding is stored: no second try here
    EXPECT_EQ(BgaDll->Handle(), nullptr);
    EXPECT_TRUE(BgaDll->CheckArchive("a.gza", 0));
    EXPECT_NE(BgaDll->Handle(), nullptr);
}

TEST_F(Bga32, ContentProbe) {
    ScratchDir dir;
    WriteFile(dir / "a.bin", "data");
    struct Case {
        const char *what;
        const char *name;
        std::optional<int64_t> openResult;
        bool expected;
        size_t opens;
    } cases[] = {
        {"the library opens it", "a.bin", std::nullopt, true, 1},
        {"the library refuses it", "a.bin", 0, false, 1},
        {"no such file: the library is not asked", "missing.bin", std::nullopt, false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        if (c.openResult)
            fake::SetResult("BgaOpenArchive", *c.openResult);
        EXPECT_EQ(IsBgaArchive(c.name), c.expected);
        auto opens = fake::CallsTo("BgaOpenArchive");
        ASSERT_EQ(opens.size(), c.opens);
        if (c.opens == 0)
            continue;
        EXPECT_EQ(opens[0].text, dir / c.name);
        EXPECT_EQ(opens[0].mode, 0x800002);
        EXPECT_EQ(opens[0].wnd, nullptr);
        // Closed also when the handle is 0.
        auto closes = fake::CallsTo("BgaCloseArchive");
        ASSERT_EQ(closes.size(), 1u);
        EXPECT_EQ(closes[0].arc, opens[0].arc);
    }
    // A library without the entry: no claim, no exception.
    fake::ScopedLibrarySet noLibrary({});
    TBGA32::FreeDLL();
    EXPECT_FALSE(IsBgaArchive("a.bin"));
}

} // namespace
