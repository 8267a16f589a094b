// The CAB back-end against the fake CAB32 library: its short switch dialect, the operations that
// run it (Extract with the archive's full path), the unsupported ones, listing, check, owner
// window, the missing library and the content probe.
#include "FakeControl.h"
#include "archives/Exceptions.h"
#include "formats/CAB32.h"
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

class Cab32 : public ::testing::Test {
protected:
    void SetUp() override {
        TCab32::FreeDLL();
        fake::Reset();
    }
    void TearDown() override { TCab32::FreeDLL(); }

    // The command line the library received last.
    static std::string Received() {
        auto calls = fake::CallsTo("Cab");
        return calls.empty() ? std::string("(no call)") : calls.back().text;
    }

    fake::ScopedSearchPath path_{"full"};
    TArchiverOptions opts;
    std::string out = std::string(32, '\0');
};

TEST_F(Cab32, CommandLines) {
    struct Case {
        const char *name;
        std::function<void(TArchiverOptions &)> set;
        const char *dir;
        const char *expected;
    } cases[] = {
        {"all unset", [](TArchiverOptions &) {}, "/src", R"(-a  "/a.cab" "/src/" )"},
        {"no directory", [](TArchiverOptions &) {}, "", R"(-a  "/a.cab" )"},
        {"directory with its separator", [](TArchiverOptions &) {}, "/src/",
         R"(-a  "/a.cab" "/src/" )"},
        {"c=1 overwrites", [](TArchiverOptions &o) { o.c = 1; }, "", R"(-a -o  "/a.cab" )"},
        {"c=0", [](TArchiverOptions &o) { o.c = 0; }, "", R"(-a  "/a.cab" )"},
        {"c=2 is not 1", [](TArchiverOptions &o) { o.c = 2; }, "", R"(-a  "/a.cab" )"},
        {"n=1", [](TArchiverOptions &o) { o.n = 1; }, "", R"(-a -i  "/a.cab" )"},
        {"n=0", [](TArchiverOptions &o) { o.n = 0; }, "", R"(-a  "/a.cab" )"},
        {"r=1", [](TArchiverOptions &o) { o.r = 1; }, "", R"(-a -r  "/a.cab" )"},
        {"r=0", [](TArchiverOptions &o) { o.r = 0; }, "", R"(-a  "/a.cab" )"},
        {"w is -h", [](TArchiverOptions &o) { o.w = "/tmp"; }, "", R"(-a "-h/tmp/"  "/a.cab" )"},
        {"w empty", [](TArchiverOptions &o) { o.w = ""; }, "", R"(-a  "/a.cab" )"},
        {"x=0 drops folders", [](TArchiverOptions &o) { o.x = 0; }, "", R"(-a -j  "/a.cab" )"},
        {"x=1 keeps them", [](TArchiverOptions &o) { o.x = 1; }, "", R"(-a  "/a.cab" )"},
        {"ji=1 quiet", [](TArchiverOptions &o) { o.ji = 1; }, "", R"(-a -q  "/a.cab" )"},
        {"ji=0", [](TArchiverOptions &o) { o.ji = 0; }, "", R"(-a  "/a.cab" )"},
        {"LHA switches are not written",
         [](TArchiverOptions &o) {
             o.a = 1;
             o.m = 1;
             o.p = 1;
             o.jso = 1;
             o.jx.Add("*.bak");
         },
         "", R"(-a  "/a.cab" )"},
        {"user options and list",
         [](TArchiverOptions &o) {
             o.UserOptions = "-z";
             o.UserFileList = "more.txt";
         },
         "", R"(-a -z "/a.cab" more.txt)"},
        {"everything in order",
         [](TArchiverOptions &o) {
             o.c = 1;
             o.n = 1;
             o.r = 1;
             o.w = "/work dir/";
             o.x = 0;
             o.ji = 1;
             o.UserOptions = "-z";
         },
         "/src", R"(-a -o -i -r "-h/work dir/" -j -q -z "/a.cab" "/src/" )"},
    };
    TCab32 cab;
    for (const auto &c : cases) {
        TArchiverOptions o;
        c.set(o);
        EXPECT_EQ(cab.BuildCabCommandLine("-a", "/a.cab", o, c.dir, {}, false), c.expected)
            << c.name;
    }
    // Pack of one file, its trailing blank for the empty user file list included.
    EXPECT_EQ(
        cab.BuildCabCommandLine("-a", "/a/x.cab", opts, "/src", {std::string("a.txt")}, false),
        R"(-a  "/a/x.cab" "/src/" "a.txt" )");
}

TEST_F(Cab32, AnOwnerWindowWritesIWhileRegistered) {
    ArcWindow window{nullptr};
    TCab32 cab;
    for (int n : {-1, 0}) {
        SCOPED_TRACE(n);
        opts.n = static_cast<ShortInt>(n);
        EXPECT_TRUE(cab.SetOwnerWindow(&window, nullptr));
        EXPECT_TRUE(cab.HasOwnerWindow());
        EXPECT_EQ(fake::OwnerWindow("libcab32.so"), static_cast<HWND>(&window));
        cab.Pack(nullptr, "/a.cab", opts, "", {std::string("a.txt")}, false, out);
        EXPECT_EQ(Received(), R"(-a -i  "/a.cab" "a.txt" )");
        EXPECT_TRUE(cab.KillOwnerWindow(&window));
        EXPECT_FALSE(cab.HasOwnerWindow());
        EXPECT_EQ(fake::OwnerWindow("libcab32.so"), nullptr);
        cab.Pack(nullptr, "/a.cab", opts, "", {std::string("a.txt")}, false, out);
        EXPECT_EQ(Received(), R"(-a  "/a.cab" "a.txt" )");
    }
    // The LHA library is never told.
    EXPECT_EQ(LhaDll, nullptr);
}

// The answers say what the library did; the window is recorded (and forgotten) all the same.
TEST_F(Cab32, OwnerWindowAnswersWhatTheLibrarySaid) {
    ArcWindow window{nullptr};
    TCab32 cab;
    fake::SetResult("CabSetOwnerWindowEx", 0);
    fake::SetResult("CabKillOwnerWindowEx", 0);
    EXPECT_FALSE(cab.SetOwnerWindow(&window, nullptr));
    EXPECT_TRUE(cab.HasOwnerWindow());
    EXPECT_FALSE(cab.KillOwnerWindow(&window));
    EXPECT_FALSE(cab.HasOwnerWindow());
    ASSERT_EQ(fake::CallsTo("CabKillOwnerWindowEx").size(), 1u);
    EXPECT_EQ(fake::CallsTo("CabKillOwnerWindowEx")[0].wnd, static_cast<HWND>(&window));
}

struct OperationCase {
    const char *what;
    TResFileUsage usage;
    std::function<int(TCab32 &, const TArchiverOptions &, std::string &)> run;
    // The expected command line: "@" stands for the quoted response-file reference, "%" for the
    // scratch folder.
    std::string expected;
    // The response file's content, or nothing when none is written.
    std::optional<std::string> responseFile;
};

// The response file follows ResFileUsage, never the UseResFile argument; Extract names the
// archive by its full path, the others as given.
TEST_F(Cab32, OperationsAndTheirResponseFiles) {
    const TFileArgs files{std::string("a.txt"), std::string("b c.txt")};
    const auto extract = [&](bool useResFile) {
        return [&, useResFile](TCab32 &c, const TArchiverOptions &o, std::string &s) {
            return c.Extract(nullptr, "x.cab", o, "/out", files, useResFile, s);
        };
    };
    const auto pack = [&](bool useResFile) {
        return [&, useResFile](TCab32 &c, const TArchiverOptions &o, std::string &s) {
            return c.Pack(nullptr, "x.cab", o, "/src", files, useResFile, s);
        };
    };
    const auto sfx = [&](TCab32 &c, const TArchiverOptions &o, std::string &s) {
        return c.MakeSfx(nullptr, "/a/x.cab", o, "/out", s);
    };
    const std::string names = "\"a.txt\"\r\n\"b c.txt\"\r\n";
    const TResFileUsage all{ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate};
    const OperationCase cases[] = {
        {"extract, names on the line", TResFileUsage{}, extract(true),
         R"(-x  "%/x.cab" "/out/" "a.txt" "b c.txt" )", std::nullopt},
        {"extract with ruOnUnpack", TResFileUsage{ruOnUnpack}, extract(false),
         R"(-x  "%/x.cab" "/out/" @ )", names},
        {"extract: ruOnPack is not its entry", TResFileUsage{ruOnPack}, extract(true),
         R"(-x  "%/x.cab" "/out/" "a.txt" "b c.txt" )", std::nullopt},
        {"pack, names on the line", TResFileUsage{ruOnUnpack}, pack(true),
         R"(-a  "x.cab" "/src/" "a.txt" "b c.txt" )", std::nullopt},
        {"pack with ruOnPack", TResFileUsage{ruOnPack}, pack(false), R"(-a  "x.cab" "/src/" @ )",
         names},
        {"sfx: no files, never a response file", all, sfx, R"(-f  "/a/x.cab" "/out/" )",
         std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        fake::Reset();
        fake::SetResult("Cab", 0x8012);
        TArchiverOptions o;
        o.ResFileName = dir / "list.txt";
        o.ResFileUsage = c.usage;
        TCab32 cab;
        EXPECT_EQ(c.run(cab, o, out), 0x8012);
        std::string expected = c.expected;
        if (auto at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, "\"@" + o.ResFileName + "\"");
        if (auto at = expected.find('%'); at != std::string::npos)
            expected.replace(at, 1, dir.Path());
        EXPECT_EQ(cab.CommandLine, expected);
        EXPECT_EQ(Received(), expected);
        EXPECT_EQ(platform::FileExists(o.ResFileName), c.responseFile.has_value());
        if (c.responseFile) {
            EXPECT_EQ(ReadFile(o.ResFileName), *c.responseFile);
        }
    }
}

TEST_F(Cab32, ExtractMemHasNoCommandWordAndTheEntryAsItsOnlyFile) {
    ScratchDir dir;
    TCab32 cab;
    opts.ResFileName = dir / "never.txt";
    opts.ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate};
    opts.w = "/tmp";
    fake::SetMemory("hello");
    fake::SetResult("CabExtractMem", 3);
    char buffer[16] = {};
    DWORD written = 0;
    EXPECT_EQ(cab.ExtractMem(nullptr, "x.cab", opts, "dir/a.txt", buffer, sizeof buffer, &written),
              3);
    auto calls = fake::CallsTo("CabExtractMem");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, R"( "-h/tmp/"  "x.cab" "dir/a.txt" )");
    EXPECT_EQ(cab.CommandLine, calls[0].text);
    EXPECT_EQ(calls[0].size, sizeof buffer);
    EXPECT_TRUE(calls[0].writtenPtr);
    EXPECT_FALSE(calls[0].timePtr);
    EXPECT_FALSE(calls[0].attrPtr);
    EXPECT_EQ(std::string(buffer, written), "hello");
    EXPECT_FALSE(platform::FileExists(opts.ResFileName));
    EXPECT_TRUE(fake::CallsTo("Cab").empty());
}

TEST_F(Cab32, ExecuteHandsTheOutputBufferOnlyWhenThereIsOne) {
    TCab32 cab;
    fake::SetOutput("done");
    std::string output(16, 'x');
    EXPECT_EQ(cab.Execute(nullptr, "-x \"/a.cab\"", output), 0);
    EXPECT_EQ(std::string(output.c_str()), "done");
    auto call = fake::CallsTo("Cab").at(0);
    EXPECT_TRUE(call.buffer);
    EXPECT_EQ(call.size, 16u);
    std::string none;
    cab.Execute(nullptr, "-x \"/a.cab\"", none);
    EXPECT_FALSE(fake::CallsTo("Cab").at(1).buffer);
    EXPECT_EQ(fake::CallsTo("Cab").at(1).size, 0u);
}

TEST_F(Cab32, DeleteAndUpdateAreNotSupported) {
    TCab32 cab;
    const std::string before = cab.CommandLine;
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { cab.Delete(nullptr, "/a.cab", opts, "", {std::string("a")}, false, out); }),
              "この形式の書庫ではファイルの削除をサポートしておりません。");
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { cab.Update(nullptr, "/a.cab", opts, "", {std::string("a")}, false, out); }),
              "この形式の書庫では書庫の更新をサポートしておりません。");
    EXPECT_TRUE(fake::CallsTo("Cab").empty());
    EXPECT_EQ(cab.CommandLine, before);
}

TEST_F(Cab32, ListingAndCheckPassThrough) {
    ScratchDir dir;
    fake::SetItems({{.name = "a.txt", .originalSize = 10}, {.name = "b.txt", .originalSize = 20}});
    TCab32 cab;
    HWND wnd = reinterpret_cast<HWND>(0x10);
    HARC arc = cab.OpenArchive(wnd, "a.cab", 5);
    ASSERT_NE(arc, nullptr);
    auto open = fake::CallsTo("CabOpenArchive").at(0);
    EXPECT_EQ(open.text, dir / "a.cab");
    EXPECT_EQ(open.mode, 5);
    EXPECT_EQ(open.wnd, wnd);
    TIndividualInfoEx info{};
    EXPECT_EQ(cab.FindFirst(arc, &info, "*.txt"), 0);
    EXPECT_STREQ(info.szFileName, "a.txt");
    EXPECT_EQ(fake::CallsTo("CabFindFirst").at(0).text, "*.txt");
    EXPECT_EQ(cab.FindNext(arc, &info), 0);
    const int64_t size = info.OriginalSize; // a packed field: no reference to it
    EXPECT_EQ(size, 20);
    EXPECT_EQ(cab.FindNext(arc, &info), -1);
    EXPECT_EQ(cab.CloseArchive(arc), 0);
    EXPECT_EQ(fake::CallsTo("CabCloseArchive").at(0).arc, arc);

    fake::SetResult("CabCheckArchive", 7);
    EXPECT_EQ(cab.CheckArchive("a.cab", 1, 16), 7);
    auto check = fake::CallsTo("CabCheckArchive").at(0);
    EXPECT_EQ(check.text, "a.cab"); // the name unchanged
    EXPECT_EQ(check.mode, 17);
}

// The binding is kept after a failed load; the probe answers false instead of raising.
TEST_F(Cab32, MissingLibrary) {
    fake::ScopedSearchPath empty("empty");
    EXPECT_EQ(MessageOf<ENoArchiverDLL>([] { TCab32 c; }),
              "CAB 形式書庫 を扱うには CAB32.DLL が 必要です。");
    ASSERT_NE(CabDll, nullptr);
    EXPECT_EQ(CabDll->Handle(), nullptr);
    EXPECT_NO_THROW(TCab32::LoadDLL()); // a binding is stored: no second try
    EXPECT_FALSE(IsCabArchive("/no/such/a.cab"));
}

TEST_F(Cab32, ContentProbeOpensWithoutCheckingFirst) {
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
            fake::SetResult("CabOpenArchive", *c.openResult);
        EXPECT_EQ(IsCabArchive("a.bin"), c.expected);
        auto opens = fake::CallsTo("CabOpenArchive");
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].text, dir / "a.bin");
        EXPECT_EQ(opens[0].mode, 0x800002);
        EXPECT_EQ(opens[0].wnd, nullptr);
        EXPECT_TRUE(fake::CallsTo("CabCheckArchive").empty());
        // A handle that came back is closed; no handle, nothing to close.
        auto closes = fake::CallsTo("CabCloseArchive");
        ASSERT_EQ(closes.size(), c.expected ? 1u : 0u);
        if (c.expected) {
            EXPECT_EQ(closes[0].arc, opens[0].arc);
        }
    }
    // A library without its entries: no claim, no exception.
    fake::ScopedLibrarySet noLibrary({});
    TCab32::FreeDLL();
    EXPECT_FALSE(IsCabArchive("a.bin"));
}

} // namespace
