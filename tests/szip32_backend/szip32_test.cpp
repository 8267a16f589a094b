#include "FakeControl.h"
#include "archives/Exceptions.h"
#include "formats/SZIP32.h"
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace archives;
using namespace formats;
using formats_test::MessageOf;
using formats_test::ReadFile;
using formats_test::ScratchDir;
using formats_test::WriteFile;

namespace {

class SevenZip32 : public ::testing::Test {
protected:
    void SetUp() override {
        TSevenZip32::FreeDLL();
        fake::Reset();
        SevenZipSfxModule.clear();
        SevenZipSfxConfig.clear();
        platform::ClearRegistryOverrides();
    }
    void TearDown() override {
        TSevenZip32::FreeDLL();
        SevenZipSfxModule.clear();
        SevenZipSfxConfig.clear();
        platform::ClearRegistryOverrides();
    }
    // The 7-Zip folder as the registry gives it.
    static void SetSevenZipFolder(const std::string &folder) {
        platform::SetRegistryOverride("SOFTWARE\\7-ZIP", "Path",
                                      platform::RegistryValue{true, folder});
    }

    TArchiverOptions opts;
    std::string out = std::string(32, '\0');
};

TEST_F(SevenZip32, CommandLines) {
    fake::ScopedSearchPath path("full");
    struct Case {
        const char *name;
        const char *command;
        std::function<void(TArchiverOptions &)> set;
        const char *dir;
        const char *expected;
    } cases[] = {
        {"extract, all unset", "x", [](TArchiverOptions &) {}, "/out",
         "x -ms=off \"-o/out/\"  \"/a.7z\" "},
        {"x=0 extracts without folders", "x", [](TArchiverOptions &o) { o.x = 0; }, "/out",
         "e -ms=off \"-o/out/\"  \"/a.7z\" "},
        {"x=1", "x", [](TArchiverOptions &o) { o.x = 1; }, "", "x -ms=off  \"/a.7z\" "},
        {"x=0 leaves pack alone", "u", [](TArchiverOptions &o) { o.x = 0; }, "",
         "u -ms=off  \"/a.7z\" "},
        {"m=2 wins", "x",
         [](TArchiverOptions &o) {
             o.m = 2;
             o.jn = 1;
             o.c = 1;
         },
         "", "x -aou -ms=off  \"/a.7z\" "},
        {"jn before c", "x",
         [](TArchiverOptions &o) {
             o.jn = 1;
             o.c = 1;
         },
         "", "x -aos -ms=off  \"/a.7z\" "},
        {"c alone", "x", [](TArchiverOptions &o) { o.c = 1; }, "", "x -aoa -ms=off  \"/a.7z\" "},
        {"m=1 is no rename", "x",
         [](TArchiverOptions &o) {
             o.m = 1;
             o.c = 1;
         },
         "", "x -aoa -ms=off  \"/a.7z\" "},
        {"pack never overwrites modes", "u",
         [](TArchiverOptions &o) {
             o.m = 2;
             o.jn = 1;
             o.c = 1;
         },
         "/src", "u -ms=off \"-o/src/\"  \"/a.7z\" "},
        {"delete neither", "d", [](TArchiverOptions &o) { o.c = 1; }, "", "d -ms=off  \"/a.7z\" "},
        {"r=0", "u", [](TArchiverOptions &o) { o.r = 0; }, "", "u -ms=off -r-  \"/a.7z\" "},
        {"r=1", "u", [](TArchiverOptions &o) { o.r = 1; }, "", "u -ms=off  \"/a.7z\" "},
        {"r=2", "u", [](TArchiverOptions &o) { o.r = 2; }, "", "u -ms=off -r  \"/a.7z\" "},
        {"n=1", "u", [](TArchiverOptions &o) { o.n = 1; }, "", "u -ms=off -hide  \"/a.7z\" "},
        {"y=1", "u", [](TArchiverOptions &o) { o.y = 1; }, "", "u -ms=off -y  \"/a.7z\" "},
        {"w", "u", [](TArchiverOptions &o) { o.w = "/tmp"; }, "",
         "u -ms=off \"-w/tmp/\"  \"/a.7z\" "},
        {"w empty", "u", [](TArchiverOptions &o) { o.w = ""; }, "", "u -ms=off  \"/a.7z\" "},
        {"jx", "u",
         [](TArchiverOptions &o) {
             o.jx.Add("*.bak");
             o.jx.Add("");
             o.jx.Add("tmp/*");
         },
         "", "u -ms=off \"-x!*.bak\" \"-x!tmp/*\"  \"/a.7z\" "},
        {"everything in order", "x",
         [](TArchiverOptions &o) {
             o.c = 1;
             o.n = 1;
             o.r = 2;
             o.w = "/w/";
             o.y = 1;
             o.jx.Add("*.o");
             o.UserOptions = "-bd";
             o.UserFileList = "more.txt";
         },
         "/out",
         "x -aoa -ms=off -hide -r \"-w/w/\" -y \"-x!*.o\" \"-o/out/\" -bd \"/a.7z\" more.txt"},
    };
    TSevenZip32 sz;
    for (const auto &c : cases) {
        TArchiverOptions o;
        c.set(o);
        EXPECT_EQ(sz.BuildSevenZipCommandLine(c.command, "/a.7z", o, c.dir, {}, false), c.expected)
            << c.name;
    }
    // With files.
    EXPECT_EQ(sz.BuildSevenZipCommandLine("u", "/a.7z", opts, "/src",
                                          {std::string("a.txt"), std::string("b c.txt")}, false),
              "u -ms=off \"-o/src/\"  \"/a.7z\" \"a.txt\" \"b c.txt\" ");
}

TEST_F(SevenZip32, OperationsRunTheirCommandWords) {
    ScratchDir dir;
    fake::ScopedSearchPath path("full");
    fake::SetResult("SevenZip", 3);
    TSevenZip32 sz;
    opts.x = 0;
    EXPECT_EQ(sz.Extract(nullptr, "/a.7z", opts, "/out", {std::string("*.txt")}, true, out), 3);
    EXPECT_EQ(sz.CommandLine, "e -ms=off \"-o/out/\"  \"/a.7z\" \"*.txt\" ");
    EXPECT_EQ(fake::CallsTo("SevenZip").back().text, sz.CommandLine);
    sz.Pack(nullptr, "/a.7z", opts, "/src", {std::string("a.txt")}, false, out);
    EXPECT_EQ(sz.CommandLine, "u -ms=off \"-o/src/\"  \"/a.7z\" \"a.txt\" ");
    // Delete writes no directory; its response file follows ruOnRemoveItem.
    opts.ResFileName = dir / "list.txt";
    opts.ResFileUsage = TResFileUsage{ruOnRemoveItem};
    sz.Delete(nullptr, "/a.7z", opts, "/src", {std::string("a.txt")}, false, out);
    EXPECT_EQ(sz.CommandLine, "d -ms=off  \"/a.7z\" \"@" + opts.ResFileName + "\" ");
    EXPECT_EQ(ReadFile(opts.ResFileName), "\"a.txt\"\r\n");
    sz.Pack(nullptr, "/a.7z", opts, "", {std::string("b.txt")}, true, out);
    EXPECT_EQ(sz.CommandLine, "u -ms=off  \"/a.7z\" \"b.txt\" ");
    EXPECT_EQ(fake::CallsTo("SevenZip").size(), 4u);
}

TEST_F(SevenZip32, UpdateAndMemoryExtractionAreNotSupported) {
    fake::ScopedSearchPath path("full");
    TSevenZip32 sz;
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { sz.Update(nullptr, "/a.7z", opts, "", {std::string("a")}, false, out); }),
              "この形式の書庫では書庫の更新をサポートしておりません。");
    DWORD written = 0;
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { sz.ExtractMem(nullptr, "/a.7z", opts, "a", nullptr, 0, &written); }),
              "この形式ではメモリへの展開をサポートしておりません。");
}

TEST_F(SevenZip32, CheckAddsModeAndFlags) {
    fake::ScopedSearchPath path("full");
    TSevenZip32 sz;
    sz.CheckArchive("a.7z", 2, 8);
    EXPECT_EQ(fake::CallsTo("SevenZipCheckArchive").at(0).mode, 10);
    EXPECT_THROW(sz.CheckArchive("a.7z", INT_MIN, -1), std::overflow_error);
}

TEST_F(SevenZip32, MissingLibraryMessage) {
    fake::ScopedSearchPath path("empty");
    EXPECT_EQ(MessageOf<ENoArchiverDLL>([] { TSevenZip32 s; }),
              "7z 形式書庫 を扱うには 7-zip32.dll が 必要です。");
}

// ---------------------------------------------------------------------------------------------
// MakeSfx

TEST_F(SevenZip32, MakeSfxRefuses16BitBeforeAnyFileAndStillSetsTheDefaultModule) {
    ScratchDir dir;
    WriteFile(dir / "a.7z", "7z");
    WriteFile(dir / "7z.sfx", "MODULE");
    fake::ScopedSearchPath path("full");
    TSevenZip32 sz;
    for (int gw : {-1, 0}) {
        opts.gw = static_cast<ShortInt>(gw);
        EXPECT_EQ(MessageOf<EArchiver>([&] { sz.MakeSfx(nullptr, dir / "a.7z", opts, "", out); }),
                  "16bit SFX を作成することはできません。");
    }
    EXPECT_EQ(SevenZipSfxModule, "7z.sfx");
    EXPECT_FALSE(platform::FileExists(dir / "a.exe"));
}

TEST_F(SevenZip32, MakeSfxNamesTheMissingModule) {
    ScratchDir dir;
    std::filesystem::create_directories(dir / "7-zip");
    SetSevenZipFolder(dir / "7-zip");
    WriteFile(dir / "a.7z", "7z");
    fake::ScopedSearchPath path("full");
    TSevenZip32 sz;
    opts.gw = 1;
    try {
        sz.MakeSfx(nullptr, dir / "a.7z", opts, "", out);
        FAIL() << "no exception";
    } catch (const ESfxNoRequiredFile &e) {
        EXPECT_STREQ(e.what(), "7z 書庫からの自己解凍書庫の作成には '7z.sfx' ファイルが必要です。");
        EXPECT_EQ(e.ArcType, "7z");
        EXPECT_EQ(e.RequiredFile, "7z.sfx");
    }
    SevenZipSfxModule = "7zSD.sfx";
    EXPECT_EQ(
        MessageOf<ESfxNoRequiredFile>([&] { sz.MakeSfx(nullptr, dir / "a.7z", opts, "", out); }),
        "7z 書庫からの自己解凍書庫の作成には '7zSD.sfx' ファイルが必要です。");
    EXPECT_FALSE(platform::FileExists(dir / "a.exe"));
}

TEST_F(SevenZip32, MakeSfxJoinsModuleConfigurationAndArchive) {
    ScratchDir dir;
    const std::string module = std::string("\x7f"
                                           "ELF\0module",
                                           10);
    const std::string config = ";!@Install@!UTF-8!\nTitle=\"x\"\n;!@InstallEnd@!\n";
    const std::string archive = std::string("7z\xbc\xaf\x27\x1c\0\x04", 8);
    WriteFile(dir / "7-zip/7zCon.sfx", module);
    WriteFile(dir / "7-zip/7z.sfx", "DEFAULT");
    WriteFile(dir / "config.txt", config);
    WriteFile(dir / "a.7z", archive);
    std::filesystem::create_directories(dir / "out");
    SetSevenZipFolder(dir / "7-zip");
    fake::ScopedSearchPath path("full");
    TSevenZip32 sz;
    opts.gw = 1;

    EXPECT_EQ(sz.MakeSfx(nullptr, dir / "a.7z", opts, "", out), 0);
    EXPECT_EQ(ReadFile(dir / "a.exe"), "DEFAULT" + archive);

    SevenZipSfxModule = "7zCon.sfx";
    EXPECT_EQ(sz.MakeSfx(nullptr, dir / "a.7z", opts, dir / "out", out), 0);
    EXPECT_EQ(ReadFile(dir / "out/a.exe"), module + archive);

    SevenZipSfxConfig = dir / "config.txt";
    EXPECT_EQ(sz.MakeSfx(nullptr, dir / "a.7z", opts, dir / "out/", out), 0);
    EXPECT_EQ(ReadFile(dir / "out/a.exe"), module + config + archive);
    EXPECT_TRUE(fake::Calls().empty()); // no library call

    // A configuration file that is missing stops the run before the output is created.
    SevenZipSfxConfig = dir / "none.txt";
    std::filesystem::remove(dir / "out/a.exe");
    EXPECT_THROW(sz.MakeSfx(nullptr, dir / "a.7z", opts, dir / "out", out), EStreamError);
    EXPECT_FALSE(platform::FileExists(dir / "out/a.exe"));
}

TEST_F(SevenZip32, MakeSfxReplacesAnOldSelfExtractorOnlyByACompleteOne) {
    ScratchDir dir;
    WriteFile(dir / "7-zip/7z.sfx", "MODULE");
    WriteFile(dir / "a.7z", std::string("7z\xbc\xaf\x27\x1c\0\x04", 8));
    SetSevenZipFolder(dir / "7-zip");
    fake::ScopedSearchPath path("full");
    TSevenZip32 sz;
    opts.gw = 1;
    WriteFile(dir / "a.exe", "OLD");
    // A read-only old file is not replaced, and nothing else is left beside it.
    std::filesystem::permissions(dir / "a.exe", std::filesystem::perms::owner_read);
    EXPECT_THROW(sz.MakeSfx(nullptr, dir / "a.7z", opts, "", out), EFCreateError);
    EXPECT_EQ(ReadFile(dir / "a.exe"), "OLD");
    size_t files = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 3u); // 7-zip/, a.7z, a.exe
    // A writable one is replaced whole.
    std::filesystem::permissions(dir / "a.exe", std::filesystem::perms::owner_all);
    EXPECT_EQ(sz.MakeSfx(nullptr, dir / "a.7z", opts, "", out), 0);
    EXPECT_EQ(ReadFile(dir / "a.exe").substr(0, 6), "MODULE");
}

TEST_F(SevenZip32, MakeSfxFallsBackToTheSearchPath) {
    ScratchDir dir;
    SetSevenZipFolder(""); // no 7-Zip installed
    WriteFile(dir / "7z.sfx", "HERE");
    WriteFile(dir / "a.7z", "7z");
    fake::ScopedSearchPath path("full");
    TSevenZip32 sz;
    opts.gw = 1;
    EXPECT_EQ(sz.MakeSfx(nullptr, "a.7z", opts, "", out), 0);
    EXPECT_EQ(ReadFile(dir / "a.exe"), "HERE7z");
}

TEST_F(SevenZip32, MakeSfxWithAPathValueOfTheWrongType) {
    ScratchDir dir;
    platform::SetRegistryOverride("software\\7-zip", "PATH", platform::RegistryValue{false, ""});
    fake::ScopedSearchPath path("full");
    TSevenZip32 sz;
    opts.gw = 1;
    EXPECT_EQ(MessageOf<platform::ERegistryException>(
                  [&] { sz.MakeSfx(nullptr, dir / "a.7z", opts, "", out); }),
              "'Path' のデータ型が不正です");
}

// ---------------------------------------------------------------------------------------------
// The registry look-up

TEST(Registry, OnlyTheSevenZipFolderExists) {
    platform::ClearRegistryOverrides();
    EXPECT_EQ(ReadRegistryString("SOFTWARE\\Other", "Path"), "");
    EXPECT_EQ(ReadRegistryString("SOFTWARE\\7-ZIP", "Other"), "");
    const std::string folder = platform::FindSevenZipFolder();
    // Key and value names are not case-sensitive.
    EXPECT_EQ(ReadRegistryString("Software\\7-Zip", "path"), folder);
    if (folder.empty())
        GTEST_SKIP() << "no 7-Zip installed";
    EXPECT_TRUE(platform::FileExists(platform::IncludeTrailingPathDelimiter(folder) + "7zCon.sfx"));
}

TEST(Registry, SevenZipFolderIsFoundBesideTheProgramOnPath) {
    ScratchDir dir;
    WriteFile(dir / "bin/7z", "#!/bin/sh\n");
    WriteFile(dir / "lib/p7zip/7zCon.sfx", "module");
    const char *old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    setenv("PATH", (dir / "bin").c_str(), 1);
    const std::string found = platform::FindSevenZipFolder();
    setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(found, dir / "lib/p7zip");
}

TEST(Registry, OverridesReplaceAndRemoveValues) {
    platform::SetRegistryOverride("SOFTWARE\\7-ZIP", "Path", std::nullopt);
    EXPECT_EQ(ReadRegistryString("SOFTWARE\\7-ZIP", "Path"), "");
    platform::SetRegistryOverride("\\SOFTWARE\\7-ZIP\\", "Path",
                                  platform::RegistryValue{true, "/opt/7z"});
    EXPECT_EQ(ReadRegistryString("SOFTWARE\\7-ZIP", "Path"), "/opt/7z");
    platform::ClearRegistryOverrides();
}

} // namespace
