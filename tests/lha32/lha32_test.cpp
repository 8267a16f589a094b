#include "FakeControl.h"
#include "archives/ArchiverOptions.h"
#include "archives/Exceptions.h"
#include "formats/LHA32.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

using namespace archives;
using formats::LhaDll;
using formats::TLha32;

namespace {

class Lha32 : public ::testing::Test {
protected:
    void SetUp() override {
        TLha32::FreeDLL(); // each test starts without the shared binding
        fake::Reset();
    }
    void TearDown() override {
        TLha32::FreeDLL();
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }

    // A folder of this test's own, removed when the test ends.
    std::string TempDir() {
        if (dir_.empty()) {
            std::string t = (std::filesystem::temp_directory_path() / "lha32_test_XXXXXX").string();
            if (::mkdtemp(t.data()))
                dir_ = t;
        }
        return dir_;
    }

    // The command line the library received from the last call of its main entry.
    static std::string Received() {
        auto calls = fake::CallsTo("Unlha");
        return calls.empty() ? std::string("(no call)") : calls.back().text;
    }

    fake::ScopedSearchPath path_{"full"};
    std::string dir_;
};

std::string Slurp(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

using Operation = std::function<int(TLha32 &, TArchiverOptions &, std::string &)>;

struct CommandCase {
    const char *what;
    Operation run;
    const char *expected;
};

// Every operation of the back-end with every switch unset: the command word, " -+", a blank for
// the empty user options, the archive, the directory where the operation writes one, the files
// and a blank for the empty user file list.
TEST_F(Lha32, CommandLineOfEveryOperation) {
    const TFileArgs files{TFileArg("a.txt")};
    const CommandCase cases[] = {
        {"Extract",
         [&](TLha32 &l, TArchiverOptions &o, std::string &out) {
             return l.Extract(nullptr, "/d/a.lzh", o, "/d/out", {TFileArg("*.*")}, true, out);
         },
         R"(x -+  "/d/a.lzh" "/d/out/" "*.*" )"},
        {"Pack",
         [&](TLha32 &l, TArchiverOptions &o, std::string &out) {
             return l.Pack(nullptr, "/a/x.lzh", o, "/src", files, true, out);
         },
         R"(u -+  "/a/x.lzh" "/src/" "a.txt" )"},
        {"Pack without a base folder",
         [&](TLha32 &l, TArchiverOptions &o, std::string &out) {
             return l.Pack(nullptr, "/a/x.lzh", o, "", files, true, out);
         },
         R"(u -+  "/a/x.lzh" "a.txt" )"},
        {"Delete ignores the base folder",
         [&](TLha32 &l, TArchiverOptions &o, std::string &out) {
             return l.Delete(nullptr, "/a/x.lzh", o, "/src", files, true, out);
         },
         R"(d -+  "/a/x.lzh" "a.txt" )"},
        {"Update",
         [&](TLha32 &l, TArchiverOptions &o, std::string &out) {
             return l.Update(nullptr, "/a/x.lzh", o, "/src/", files, true, out);
         },
         R"(f -+  "/a/x.lzh" "/src/" "a.txt" )"},
        {"MakeSfx",
         [&](TLha32 &l, TArchiverOptions &o, std::string &out) {
             return l.MakeSfx(nullptr, "/a/x.lzh", o, "/out", out);
         },
         R"(s -+  "/a/x.lzh" "/out/" )"},
        {"Pack of several kinds of file arguments",
         [&](TLha32 &l, TArchiverOptions &o, std::string &out) {
             TStringList list{"b.txt", "", "c d.txt"};
             return l.Pack(nullptr, "/a/x.lzh", o, "", {TFileArg("a.txt"), TFileArg(&list)}, true,
                           out);
         },
         R"(u -+  "/a/x.lzh" "a.txt" "b.txt" "c d.txt" )"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        TLha32 lha;
        TArchiverOptions options;
        std::string output;
        EXPECT_EQ(c.run(lha, options, output), 0);
        EXPECT_EQ(Received(), c.expected);
        EXPECT_EQ(lha.CommandLine, c.expected);
    }
}

TEST_F(Lha32, ExtractMemHasNoCommandWordAndTheEntryAsItsOnlyFile) {
    TLha32 lha;
    TArchiverOptions options;
    options.ResFileName = TempDir() + "/never.txt";
    options.ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate};
    fake::SetMemory("hello");
    char buffer[16] = {};
    DWORD written = 0;
    EXPECT_EQ(
        lha.ExtractMem(nullptr, "/a/x.lzh", options, "dir/a.txt", buffer, sizeof buffer, &written),
        0);
    auto calls = fake::CallsTo("UnlhaExtractMem");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, R"( -+  "/a/x.lzh" "dir/a.txt" )");
    EXPECT_EQ(lha.CommandLine, calls[0].text);
    EXPECT_EQ(calls[0].size, sizeof buffer);
    EXPECT_TRUE(calls[0].writtenPtr);
    EXPECT_FALSE(calls[0].timePtr);
    EXPECT_FALSE(calls[0].attrPtr);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(std::string(buffer, written), "hello");
    EXPECT_FALSE(std::filesystem::exists(options.ResFileName));
}

// Every switch given, each with its own value: the line shows the order and the form of each.
TEST_F(Lha32, EverySwitchInItsPlaceAndForm) {
    TArchiverOptions o;
    int v = 0;
    for (ShortInt *p :
         {&o.a,   &o.c,   &o.e,   &o.f,   &o.h,   &o.i,   &o.l,   &o.m,   &o.n,   &o.o,
          &o.p,   &o.r,   &o.s,   &o.t,   &o.u,   &o.x,   &o.y,   &o.z,   &o.jc,  &o.jd,
          &o.je,  &o.jf,  &o.jh,  &o.ji,  &o.jm,  &o.jn,  &o.jp,  &o.jr,  &o.jsb, &o.jsc,
          &o.jsd, &o.jse, &o.jsf, &o.jsl, &o.jso, &o.jss, &o.jst, &o.jsv, &o.jsz, &o.jw,
          &o.jyc, &o.jyd, &o.jyk, &o.jyn, &o.jyo, &o.ga,  &o.gd,  &o.ge,  &o.gf,  &o.gj,
          &o.gm,  &o.gn,  &o.go,  &o.gp,  &o.gs,  &o.gu,  &o.gw})
        *p = static_cast<ShortInt>(v++ % 10);
    o.w = "/tmp";
    o.jo = "*.txt";
    o.job = "";
    o.jx = TStringList{"*.bak", "", "*.tmp"};
    o.jz = "z";
    o.gr = "r";
    o.UserOptions = "-k";
    o.UserFileList = "extra";
    TLha32 lha;
    std::string output;
    lha.Pack(nullptr, "/a/x.lzh", o, "/src", {TFileArg("a.txt")}, false, output);
    EXPECT_EQ(Received(),
              "u -+ -a0 -c1 -e2 -f3 -h4 -i5 -l6 -m7 -n8 -o9 -p0 -r1 -s2 -t3 -u4 \"-w/tmp/\" -x5 "
              "-y6 -z7 -jc8 -jd9 -je0 -jf1 -jh2 -ji3 -jm4 -jn5 \"-jo*.txt\" \"-job\" -jp6 -jr7 "
              "-jsb8 -jsc9 -jsd0 -jse1 -jsf2 -jsl3 -jso4 -jss5 -jst6 -jsv7 -jsz8 -jw9 "
              "\"-jx*.bak\" \"-jx*.tmp\" -jyc0 -jyd1 -jyk2 -jyn3 -jyo4 \"-jzz\" -ga5 -gd6 -ge7 "
              "-gf8 -gj9 -gm0 -gn1 -go2 -gp3 \"-grr\" -gs4 -gu5 -gw6 -k \"/a/x.lzh\" \"/src/\" "
              "\"a.txt\" extra");
}

struct SwitchCase {
    const char *what;
    std::function<void(TArchiverOptions &)> set;
    const char *expected;
};

TEST_F(Lha32, SwitchForms) {
    const SwitchCase cases[] = {
        {"x 0 sits between w and y", [](TArchiverOptions &o) { o.x = 0; },
         R"(u -+ -x0  "/a/x.lzh" "a.txt" )"},
        {"x -1 writes nothing", [](TArchiverOptions &o) { o.x = -1; },
         R"(u -+  "/a/x.lzh" "a.txt" )"},
        {"any negative value writes nothing", [](TArchiverOptions &o) { o.r = -7; },
         R"(u -+  "/a/x.lzh" "a.txt" )"},
        {"w with and without its separator", [](TArchiverOptions &o) { o.w = "/tmp/"; },
         R"(u -+ "-w/tmp/"  "/a/x.lzh" "a.txt" )"},
        {"w empty writes nothing", [](TArchiverOptions &o) { o.w = ""; },
         R"(u -+  "/a/x.lzh" "a.txt" )"},
        {"jo empty is a given value", [](TArchiverOptions &o) { o.jo = ""; },
         R"(u -+ "-jo"  "/a/x.lzh" "a.txt" )"},
        {"empty jx list writes nothing", [](TArchiverOptions &o) { o.jx.Clear(); },
         R"(u -+  "/a/x.lzh" "a.txt" )"},
        {"user options raw", [](TArchiverOptions &o) { o.UserOptions = "-gm1 \"x\""; },
         R"(u -+ -gm1 "x" "/a/x.lzh" "a.txt" )"},
        {"user file list raw", [](TArchiverOptions &o) { o.UserFileList = "b.txt c.txt"; },
         R"(u -+  "/a/x.lzh" "a.txt" b.txt c.txt)"},
        {"-n as given without an owner window", [](TArchiverOptions &o) { o.n = 2; },
         R"(u -+ -n2  "/a/x.lzh" "a.txt" )"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        TLha32 lha;
        TArchiverOptions options;
        c.set(options);
        std::string output;
        lha.Pack(nullptr, "/a/x.lzh", options, "", {TFileArg("a.txt")}, true, output);
        EXPECT_EQ(Received(), c.expected);
    }
}

TEST_F(Lha32, OwnerWindowForcesN1WhileRegistered) {
    ArcWindow window{nullptr};
    for (int n : {-1, 0, 2}) {
        SCOPED_TRACE(n);
        fake::Reset();
        TLha32 lha;
        TArchiverOptions options;
        options.n = static_cast<ShortInt>(n);
        std::string output;
        EXPECT_FALSE(lha.HasOwnerWindow());
        EXPECT_TRUE(lha.SetOwnerWindow(&window, nullptr));
        EXPECT_TRUE(lha.HasOwnerWindow());
        lha.Pack(nullptr, "/a/x.lzh", options, "", {TFileArg("a.txt")}, true, output);
        EXPECT_EQ(Received(), R"(u -+ -n1  "/a/x.lzh" "a.txt" )");
        EXPECT_EQ(fake::OwnerWindow("libunlha32.so"), static_cast<HWND>(&window));
        EXPECT_TRUE(lha.KillOwnerWindow(&window));
        EXPECT_FALSE(lha.HasOwnerWindow());
        EXPECT_EQ(fake::OwnerWindow("libunlha32.so"), nullptr);
        lha.Pack(nullptr, "/a/x.lzh", options, "", {TFileArg("a.txt")}, true, output);
        const std::string expected =
            n < 0 ? R"(u -+  "/a/x.lzh" "a.txt" )"
                  : "u -+ -n" + std::to_string(n) + R"(  "/a/x.lzh" "a.txt" )";
        EXPECT_EQ(Received(), expected);
    }
}

// The owner window is recorded even when the library refuses it; the answer says what the
// library did.
TEST_F(Lha32, OwnerWindowAnswersWhatTheLibrarySaid) {
    ArcWindow window{nullptr};
    TLha32 lha;
    fake::SetResult("UnlhaSetOwnerWindowEx", 0);
    fake::SetResult("UnlhaKillOwnerWindowEx", 0);
    EXPECT_FALSE(lha.SetOwnerWindow(&window, nullptr));
    EXPECT_TRUE(lha.HasOwnerWindow());
    EXPECT_FALSE(lha.KillOwnerWindow(&window));
    EXPECT_FALSE(lha.HasOwnerWindow());
    auto set = fake::CallsTo("UnlhaSetOwnerWindowEx");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].wnd, static_cast<HWND>(&window));
    EXPECT_EQ(set[0].callback, nullptr);
}

struct ResFileCase {
    const char *what;
    TResFileUsage usage;
    std::function<int(TLha32 &, TArchiverOptions &, const TFileArgs &, std::string &)> run;
    bool inResponseFile;
};

// The options' ResFileUsage decides, not the UseResFile argument; MakeSfx never uses the file.
TEST_F(Lha32, ResponseFileChoiceFollowsResFileUsage) {
    const std::string dir = TempDir();
    auto pack = [](TLha32 &l, TArchiverOptions &o, const TFileArgs &f, std::string &out) {
        return l.Pack(nullptr, "/a/x.lzh", o, "", f, false, out);
    };
    auto extract = [](TLha32 &l, TArchiverOptions &o, const TFileArgs &f, std::string &out) {
        return l.Extract(nullptr, "/a/x.lzh", o, "", f, false, out);
    };
    auto remove = [](TLha32 &l, TArchiverOptions &o, const TFileArgs &f, std::string &out) {
        return l.Delete(nullptr, "/a/x.lzh", o, "", f, false, out);
    };
    auto update = [](TLha32 &l, TArchiverOptions &o, const TFileArgs &f, std::string &out) {
        return l.Update(nullptr, "/a/x.lzh", o, "", f, true, out);
    };
    const ResFileCase cases[] = {
        {"pack with ruOnPack", {ruOnPack}, pack, true},
        {"pack without ruOnPack", {ruOnUnpack, ruOnRemoveItem, ruOnUpdate}, pack, false},
        {"extract with ruOnUnpack", {ruOnUnpack}, extract, true},
        {"extract without ruOnUnpack", {ruOnPack}, extract, false},
        {"delete with ruOnRemoveItem", {ruOnRemoveItem}, remove, true},
        {"update without ruOnUpdate", {ruOnPack, ruOnUnpack, ruOnRemoveItem}, update, false},
        {"update with ruOnUpdate", {ruOnUpdate}, update, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        const std::string list = dir + "/list.txt";
        std::filesystem::remove(list);
        TLha32 lha;
        TArchiverOptions options;
        options.ResFileName = list;
        options.ResFileUsage = c.usage;
        options.UserFileList = "tail";
        std::string output;
        c.run(lha, options, {TFileArg("a.txt"), TFileArg("b c.txt")}, output);
        const std::string line = Received();
        if (c.inResponseFile) {
            EXPECT_NE(line.find(" \"@" + list + "\" tail"), std::string::npos) << line;
            EXPECT_EQ(line.find("a.txt"), std::string::npos) << line;
            EXPECT_EQ(Slurp(list), "\"a.txt\"\r\n\"b c.txt\"\r\n");
        } else {
            EXPECT_NE(line.find(R"( "a.txt" "b c.txt" tail)"), std::string::npos) << line;
            EXPECT_FALSE(std::filesystem::exists(list));
        }
    }
}

TEST_F(Lha32, MakeSfxNeverWritesFilesOrAResponseFile) {
    TLha32 lha;
    TArchiverOptions options;
    options.ResFileName = TempDir() + "/list.txt";
    options.ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate};
    std::string output;
    lha.MakeSfx(nullptr, "/a/x.lzh", options, "", output);
    EXPECT_EQ(Received(), R"(s -+  "/a/x.lzh" )");
    EXPECT_FALSE(std::filesystem::exists(options.ResFileName));
}

// A response file that cannot be written stops the operation before the library is called, and
// the last command line stays.
TEST_F(Lha32, BuildFailureLeavesCommandLineAndSkipsTheLibrary) {
    TLha32 lha;
    TArchiverOptions options;
    std::string output;
    lha.Pack(nullptr, "/a/x.lzh", options, "", {TFileArg("a.txt")}, true, output);
    const std::string before = lha.CommandLine;
    fake::Reset();
    options.ResFileName = "/nonexistent-folder/list.txt";
    EXPECT_ANY_THROW(lha.Pack(nullptr, "/a/x.lzh", options, "", {TFileArg("a.txt")}, true, output));
    EXPECT_EQ(lha.CommandLine, before);
    EXPECT_TRUE(fake::CallsTo("Unlha").empty());
}

TEST_F(Lha32, ResultAndOutputComeBackUnchanged) {
    TLha32 lha;
    TArchiverOptions options;
    fake::SetResult("Unlha", 0x8006);
    fake::SetOutput("library text");
    std::string output(64, '\0');
    EXPECT_EQ(lha.Pack(nullptr, "/a/x.lzh", options, "", {TFileArg("a.txt")}, true, output),
              0x8006);
    EXPECT_EQ(std::string(output.c_str()), "library text");
    auto calls = fake::CallsTo("Unlha");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].buffer);
    EXPECT_EQ(calls[0].size, 64u);
    // The command line is kept although the library failed.
    EXPECT_EQ(lha.CommandLine, R"(u -+  "/a/x.lzh" "a.txt" )");

    std::string none;
    fake::Reset();
    lha.Pack(nullptr, "/a/x.lzh", options, "", {TFileArg("a.txt")}, true, none);
    calls = fake::CallsTo("Unlha");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(calls[0].buffer); // an empty Output passes no buffer
    EXPECT_EQ(calls[0].size, 0u);
}

TEST_F(Lha32, ListingAndCheckPassThrough) {
    TLha32 lha;
    fake::SetItems({{.name = "a.txt", .originalSize = 10, .method = "-lh5-"}});
    const std::string cwd = platform::GetCurrentDir();
    HARC arc = lha.OpenArchive(nullptr, "rel/x.lzh", 7);
    ASSERT_NE(arc, nullptr);
    auto open = fake::CallsTo("UnlhaOpenArchive");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].text, cwd + "/rel/x.lzh");
    EXPECT_EQ(open[0].mode, 7);
    TIndividualInfoEx info{};
    EXPECT_EQ(lha.FindFirst(arc, &info, "*.txt"), 0);
    EXPECT_STREQ(info.szFileName, "a.txt");
    EXPECT_EQ(int64_t{info.OriginalSize}, 10); // a copy: the field is packed
    EXPECT_EQ(fake::CallsTo("UnlhaFindFirst").at(0).text, "*.txt");
    EXPECT_EQ(lha.FindNext(arc, &info), -1);
    EXPECT_EQ(lha.CloseArchive(arc), 0);
    EXPECT_EQ(fake::CallsTo("UnlhaCloseArchive").at(0).arc, arc);

    EXPECT_EQ(lha.CheckArchive("rel/x.lzh", 1, 16), 1);
    auto check = fake::CallsTo("UnlhaCheckArchive");
    ASSERT_EQ(check.size(), 1u);
    EXPECT_EQ(check[0].text, "rel/x.lzh"); // unchanged, not expanded
    EXPECT_EQ(check[0].mode, 17);
}

// P1: the first construction loads the library; a missing one fails that construction, and the
// binding stays, so later constructions succeed and the error comes from the operations.
TEST_F(Lha32, SharedBindingLifecycle) {
    EXPECT_EQ(LhaDll, nullptr);
    {
        fake::ScopedSearchPath empty("empty");
        try {
            TLha32 lha;
            FAIL() << "constructed without its library";
        } catch (const ENoArchiverDLL &e) {
            EXPECT_STREQ(e.what(), "LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。");
        }
        ASSERT_NE(LhaDll, nullptr);
        TLha32 later;
        TArchiverOptions options;
        std::string output;
        EXPECT_THROW(
            later.Pack(nullptr, "/a/x.lzh", options, "", {TFileArg("a.txt")}, true, output),
            ENoArchiverDLL);
    }
    TLha32::FreeDLL();
    EXPECT_EQ(LhaDll, nullptr);
    fake::ScopedSearchPath full("full"); // the nested path above ended every override
    const int attached = fake::Attachments("libunlha32.so", "full");
    TLha32 first;
    TLha32 second;
    EXPECT_EQ(fake::Attachments("libunlha32.so", "full"), attached + 1);
    EXPECT_NE(LhaDll->Handle(), nullptr);
}

struct ProbeCase {
    const char *what;
    int check;     // answer of CheckArchive
    int open;      // 0: OpenArchive fails
    bool expected; // the probe's answer
    size_t opens;  // calls of OpenArchive
};

TEST_F(Lha32, IsLhaArchiveChecksThenOpens) {
    const ProbeCase cases[] = {
        {"rejected by the check: never opened", 0, 1, false, 0},
        {"accepted and opened", 1, 1, true, 1},
        {"accepted but cannot be opened", 1, 0, false, 1},
    };
    const std::string cwd = platform::GetCurrentDir();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        fake::SetResult("UnlhaCheckArchive", c.check);
        if (!c.open)
            fake::SetResult("UnlhaOpenArchive", 0);
        EXPECT_EQ(formats::IsLhaArchive("some.dat"), c.expected);
        auto check = fake::CallsTo("UnlhaCheckArchive");
        ASSERT_EQ(check.size(), 1u);
        EXPECT_EQ(check[0].text, cwd + "/some.dat");
        EXPECT_EQ(check[0].mode, 16);
        auto open = fake::CallsTo("UnlhaOpenArchive");
        ASSERT_EQ(open.size(), c.opens);
        if (c.opens) {
            EXPECT_EQ(open[0].wnd, nullptr);
            EXPECT_EQ(open[0].mode, 0x800002);
            EXPECT_EQ(fake::CallsTo("UnlhaCloseArchive").size(), c.open ? 1u : 0u);
        }
    }
}

TEST_F(Lha32, IsLhaArchiveAnswersFalseWithoutItsLibraryOrEntries) {
    {
        fake::ScopedSearchPath empty("empty");
        EXPECT_FALSE(formats::IsLhaArchive("/a/x.lzh"));
    }
    TLha32::FreeDLL();
    {
        fake::ScopedSearchPath noOpen("lha-no-open");
        EXPECT_FALSE(formats::IsLhaArchive("/a/x.lzh")); // the missing entry is not raised
        EXPECT_EQ(fake::CallsTo("UnlhaCheckArchive").size(), 1u);
    }
}

} // namespace
