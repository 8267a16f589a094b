#include "FakeControl.h"
#include "archives/Exceptions.h"
#include "formats/ZIP32.h"
#include "formats_support/FormatTestSupport.h"
#include "platform/FileTime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace archives;
using namespace formats;
using formats_test::MessageOf;
using formats_test::ReadFile;
using formats_test::ScratchDir;
using formats_test::WriteFile;

namespace {

const char *kUnzip = "libunzip32.so";
const char *kZip = "libzip32j.so";
const char *kLmzip = "liblmzip32.so";

// The ZIP libraries offered to the loader, each from its own folder.
std::vector<std::string> Folders(bool unzip, bool zip, bool lmzip) {
    std::vector<std::string> v;
    if (unzip)
        v.push_back("zip-unzip32");
    if (zip)
        v.push_back("zip-zip32j");
    if (lmzip)
        v.push_back("zip-lmzip32");
    if (v.empty())
        v.push_back("empty");
    return v;
}

class Zip32 : public ::testing::Test {
protected:
    void SetUp() override {
        TZip32::FreeDLL();
        fake::Reset();
    }
    void TearDown() override { TZip32::FreeDLL(); }

    TArchiverOptions opts;
    std::string out = std::string(64, '\0');
};

// The one call made to an entry, with the library that answered it.
fake::Call OnlyCall(const std::string &entry) {
    auto calls = fake::CallsTo(entry);
    EXPECT_EQ(calls.size(), 1u) << entry;
    return calls.empty() ? fake::Call{} : calls.front();
}

// ---------------------------------------------------------------------------------------------
// ZipFileNameFilter

TEST(ZipFileNameFilter, WildcardSyntaxOfTheZipLibraries) {
    const platform::PathRules win = platform::PathRules::Windows();
    struct Case {
        std::string in, native, windows;
    } cases[] = {
        {"", "", ""},
        {"a.txt", "a.txt", "a.txt"},
        {"-a\\b[1].txt", "[-]a\\b[[]1].txt", "[-]a/b[[]1].txt"},
        {"-a/b[1].txt", "[-]a/b[[]1].txt", "[-]a/b[[]1].txt"},
        {"[a]-b.txt", "[[]a]-b.txt", "[[]a]-b.txt"},
        {"-x.txt", "[-]x.txt", "[-]x.txt"},
        {"dir\\f.txt", "dir\\f.txt", "dir/f.txt"},
        {"dir/f.txt", "dir/f.txt", "dir/f.txt"},
        {"a-b*?].txt", "a-b*?].txt", "a-b*?].txt"},
        {"--", "[-]-", "[-]-"},
        {"[[", "[[][[]", "[[][[]"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ZipFileNameFilter(c.in), c.native) << c.in;
        EXPECT_EQ(ZipFileNameFilter(c.in, win), c.windows) << c.in;
    }
}

TEST(ZipFileNameFilter, TrailBytesAreNeitherSeparatorNorBracket) {
    const platform::PathRules win = platform::PathRules::Windows();
    // Shift-JIS "ソ" is 83 5C and "ー" 81 5B: trail bytes that equal '\' and '['.
    const std::string so = "\x83\x5C", dash = "\x81\x5B";
    EXPECT_EQ(ZipFileNameFilter(so + "\\" + dash + "[x", win), so + "/" + dash + "[[]x");
    EXPECT_EQ(ZipFileNameFilter("-" + so, win), "[-]" + so);
    // In UTF-8 no trail byte is ASCII; a multi-byte name passes unchanged around the rules.
    EXPECT_EQ(ZipFileNameFilter("ファイル[1]/名.txt"), "ファイル[[]1]/名.txt");
}

// ---------------------------------------------------------------------------------------------
// The three dialects

struct DialectCase {
    const char *name;
    std::function<void(TArchiverOptions &)> set;
    const char *unzip; // BuildUnzipCommandLine("-x", ..., "/out")
    const char *zip;   // BuildZipCommandLine("", ..., "/src")
    const char *lmzip; // BuildLmzipCommandLine("-ru", ..., "")
};

TEST_F(Zip32, DialectsWriteTheirSwitchesInOrder) {
    fake::ScopedSearchPath path(Folders(true, true, true));
    const DialectCase cases[] = {
        {"all unset", [](TArchiverOptions &) {}, "-x  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -D  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru  \"/a/x.zip\" \"a.txt\" "},
        {"a=1", [](TArchiverOptions &o) { o.a = 1; }, "-x  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -S -D  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru  \"/a/x.zip\" \"a.txt\" "},
        {"a=2", [](TArchiverOptions &o) { o.a = 2; }, "-x  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -S  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru  \"/a/x.zip\" \"a.txt\" "},
        {"a=0", [](TArchiverOptions &o) { o.a = 0; }, "-x  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -D  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru  \"/a/x.zip\" \"a.txt\" "},
        {"n=1", [](TArchiverOptions &o) { o.n = 1; }, "-x --i  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -D -q -o  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru  \"/a/x.zip\" \"a.txt\" "},
        {"o=1 is not the zip -o", [](TArchiverOptions &o) { o.o = 1; },
         "-x  \"/a/x.zip\" \"/out/\" \"a.txt\" ", " -D  \"/a/x.zip\" \"/src/\" \"a.txt\" ",
         "-ru  \"/a/x.zip\" \"a.txt\" "},
        {"c=1", [](TArchiverOptions &o) { o.c = 1; }, "-x -o  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -D  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru -o  \"/a/x.zip\" \"a.txt\" "},
        {"c=2", [](TArchiverOptions &o) { o.c = 2; }, "-x  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -D  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru  \"/a/x.zip\" \"a.txt\" "},
        {"x=0", [](TArchiverOptions &o) { o.x = 0; }, "-x -j  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -D -j  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru -j  \"/a/x.zip\" \"a.txt\" "},
        {"x=1", [](TArchiverOptions &o) { o.x = 1; }, "-x  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -D  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru  \"/a/x.zip\" \"a.txt\" "},
        {"every zip switch",
         [](TArchiverOptions &o) {
             o.a = 1;
             o.l = 1;
             o.n = 1;
             o.r = 1;
             o.u = 1;
             o.x = 0;
             o.jc = 1;
             o.ji = 1;
             o.jm = 9;
             o.gd = 1;
         },
         "-x --i -j  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -S -D -v -q -r -o -u -j -FF -k -9 -J  \"/a/x.zip\" \"/src/\" \"a.txt\" ",
         "-ru -j  \"/a/x.zip\" \"a.txt\" "},
        {"jm=0", [](TArchiverOptions &o) { o.jm = 0; }, "-x  \"/a/x.zip\" \"/out/\" \"a.txt\" ",
         " -D -0  \"/a/x.zip\" \"/src/\" \"a.txt\" ", "-ru  \"/a/x.zip\" \"a.txt\" "},
        {"user text",
         [](TArchiverOptions &o) {
             o.UserOptions = "-T";
             o.UserFileList = "b.txt";
         },
         "-x -T \"/a/x.zip\" \"/out/\" \"a.txt\" b.txt",
         " -D -T \"/a/x.zip\" \"/src/\" \"a.txt\" b.txt", "-ru -T \"/a/x.zip\" \"a.txt\" b.txt"},
    };
    TZip32 zip;
    for (const auto &c : cases) {
        TArchiverOptions o;
        c.set(o);
        const TFileArgs files{std::string("a.txt")};
        EXPECT_EQ(zip.BuildUnzipCommandLine("-x", "/a/x.zip", o, "/out", files, false), c.unzip)
            << c.name;
        EXPECT_EQ(zip.BuildZipCommandLine("", "/a/x.zip", o, "/src", files, false), c.zip)
            << c.name;
        EXPECT_EQ(zip.BuildLmzipCommandLine("-ru", "/a/x.zip", o, "", files, false), c.lmzip)
            << c.name;
    }
}

TEST_F(Zip32, FileArgumentsAreFilteredButNotArchiveOrDirectory) {
    fake::ScopedSearchPath path(Folders(true, true, false));
    TZip32 zip;
    const TFileArgs files{std::string("[a]-b.txt"), std::string("-x.txt"),
                          std::string("dir/f[2].txt")};
    EXPECT_EQ(zip.BuildZipCommandLine("", "/a[1]/-x.zip", opts, "/s[1]", files, false),
              " -D  \"/a[1]/-x.zip\" \"/s[1]/\" \"[[]a]-b.txt\" \"[-]x.txt\" \"dir/f[[]2].txt\" ");
    EXPECT_EQ(zip.BuildUnzipCommandLine("-x", "/a.zip", opts, "", files, false),
              "-x  \"/a.zip\" \"[[]a]-b.txt\" \"[-]x.txt\" \"dir/f[[]2].txt\" ");
    // LMZIP32 takes the names as they are.
    EXPECT_EQ(zip.BuildLmzipCommandLine("-ru", "/a.zip", opts, "", files, false),
              "-ru  \"/a.zip\" \"[a]-b.txt\" \"-x.txt\" \"dir/f[2].txt\" ");
}

TEST_F(Zip32, ResponseFileLinesAreFilteredToo) {
    ScratchDir dir;
    fake::ScopedSearchPath path(Folders(false, true, false));
    TZip32 zip;
    opts.ResFileName = dir / "list.txt";
    EXPECT_EQ(zip.Pack(nullptr, "/a/x.zip", opts, "/src",
                       {std::string("[a]-b.txt"), std::string("-x.txt")}, true, out),
              0);
    EXPECT_EQ(OnlyCall("Zip").text, " -D  \"/a/x.zip\" \"/src/\" \"@" + opts.ResFileName + "\" ");
    EXPECT_EQ(ReadFile(opts.ResFileName), "\"[[]a]-b.txt\"\r\n\"[-]x.txt\"\r\n");
    // The choice is the argument's, not ResFileUsage's.
    fake::Reset();
    opts.ResFileUsage = TResFileUsage{ruOnPack};
    zip.Pack(nullptr, "/a/x.zip", opts, "/src", {std::string("a.txt")}, false, out);
    EXPECT_EQ(OnlyCall("Zip").text, " -D  \"/a/x.zip\" \"/src/\" \"a.txt\" ");
}

TEST_F(Zip32, OwnerWindowWritesTheQuietSwitchOfTheUnzipDialect) {
    fake::ScopedSearchPath path(Folders(true, false, false));
    TZip32 zip;
    int window = 0;
    HWND wnd = &window;
    EXPECT_TRUE(zip.SetOwnerWindow(wnd, nullptr));
    EXPECT_TRUE(zip.HasOwnerWindow());
    EXPECT_EQ(fake::OwnerWindow(kUnzip), wnd);
    opts.n = -1;
    EXPECT_EQ(zip.BuildUnzipCommandLine("-x", "/a.zip", opts, "", {}, false),
              "-x --i  \"/a.zip\" ");
    // The zip dialect does not consult the owner window.
    EXPECT_EQ(zip.BuildZipCommandLine("", "/a.zip", opts, "", {}, false), " -D  \"/a.zip\" ");
    EXPECT_TRUE(zip.KillOwnerWindow(wnd));
    EXPECT_FALSE(zip.HasOwnerWindow());
    EXPECT_EQ(zip.BuildUnzipCommandLine("-x", "/a.zip", opts, "", {}, false), "-x  \"/a.zip\" ");
}

// ---------------------------------------------------------------------------------------------
// Which library serves which operation

struct Served {
    const char *entry; // as the library exports it
    const char *library;
};

TEST_F(Zip32, WithAllThreeEachEntryComesFromTheFirstLibraryOfItsOrder) {
    ScratchDir dir;
    WriteFile(dir / "x.zip", "PK");
    fake::ScopedSearchPath path(Folders(true, true, true));
    fake::SetItems({{.name = "a.txt", .originalSize = 3}});
    TZip32 zip;
    zip.Extract(nullptr, "x.zip", opts, "", {}, false, out);
    zip.Pack(nullptr, "x.zip", opts, "", {std::string("a.txt")}, false, out);
    HARC arc = zip.OpenArchive(nullptr, "x.zip", 0);
    TIndividualInfoEx info{};
    zip.FindFirst(arc, &info, "*");
    zip.FindNext(arc, &info);
    zip.CloseArchive(arc);
    zip.CheckArchive("x.zip", 0, 0);
    DWORD written = 0;
    char mem[8];
    zip.ExtractMem(nullptr, "x.zip", opts, "a.txt", mem, sizeof mem, &written);
    zip.SetOwnerWindow(&written, nullptr);
    zip.KillOwnerWindow(&written);
    const Served served[] = {
        {"UnZip", kUnzip},
        {"Zip", kZip},
        {"UnzipOpenArchive", kLmzip},
        {"UnzipFindFirst", kLmzip},
        {"UnzipFindNext", kLmzip},
        {"UnzipGetWriteTimeEx", kLmzip},
        {"UnzipGetCreateTimeEx", kLmzip},
        {"UnzipGetAccessTimeEx", kLmzip},
        {"UnzipCloseArchive", kLmzip},
        {"UnZipCheckArchive", kUnzip},
        {"UnZipExtractMem", kUnzip},
        {"UnZipSetOwnerWindowEx", kUnzip},
        {"UnZipKillOwnerWindowEx", kUnzip},
    };
    for (const auto &s : served) {
        auto calls = fake::CallsTo(s.entry);
        ASSERT_FALSE(calls.empty()) << s.entry;
        EXPECT_EQ(calls.front().library, s.library) << s.entry;
    }
    // LMZIP32 never serves what ZIP32J or UNZIP32 serves first.
    EXPECT_TRUE(fake::CallsTo("Unzip").empty());
    EXPECT_TRUE(fake::CallsTo("UnzipCheckArchive").empty());
}

TEST_F(Zip32, WithoutLmzipTheListingFallsToZip32jThenUnzip32) {
    ScratchDir dir;
    WriteFile(dir / "x.zip", "PK");
    {
        fake::ScopedSearchPath path(Folders(true, true, false));
        TZip32 zip;
        zip.CloseArchive(zip.OpenArchive(nullptr, "x.zip", 0));
        EXPECT_EQ(OnlyCall("UnZipOpenArchive").library, kZip);
        EXPECT_EQ(OnlyCall("UnZipCloseArchive").library, kZip);
    }
    TZip32::FreeDLL();
    fake::Reset();
    fake::ScopedSearchPath path(Folders(true, false, false));
    TZip32 zip;
    zip.CloseArchive(zip.OpenArchive(nullptr, "x.zip", 0));
    EXPECT_EQ(OnlyCall("UnZipOpenArchive").library, kUnzip);
    // The archive name reaches the library as a full path.
    EXPECT_EQ(OnlyCall("UnZipOpenArchive").text, dir / "x.zip");
}

TEST_F(Zip32, OnlyUnzip32ReadsButCannotWrite) {
    ScratchDir dir;
    fake::ScopedSearchPath path(Folders(true, false, false));
    TZip32 zip; // a missing writer is no error at construction
    EXPECT_EQ(zip.Extract(nullptr, "/a/x.zip", opts, "/out", {std::string("*.txt")}, false, out),
              0);
    EXPECT_EQ(OnlyCall("UnZip").text, "-x  \"/a/x.zip\" \"/out/\" \"*.txt\" ");
    EXPECT_EQ(OnlyCall("UnZip").library, kUnzip);
    EXPECT_EQ(zip.CheckArchive("/a/x.zip", 1, 16), 1);
    EXPECT_EQ(OnlyCall("UnZipCheckArchive").mode, 1); // Flags is not added
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { zip.Pack(nullptr, "/a/x.zip", opts, "", {std::string("a")}, false, out); }),
              "ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。");
    EXPECT_EQ(
        MessageOf<ESfxNoRequiredFile>([&] { zip.MakeSfx(nullptr, dir / "x.zip", opts, "", out); }),
        "zip 書庫からの自己解凍書庫の作成には 'ZIP32J.DLL' ファイルが必要です。");
    // Delete and Update check nothing first and end at the missing entry.
    EXPECT_EQ(MessageOf<EEntryNotFound>([&] {
                  zip.Delete(nullptr, "/a/x.zip", opts, "", {std::string("a")}, false, out);
              }),
              "Zip のエントリが DLL に見つかりませんでした。");
    EXPECT_THROW(zip.Update(nullptr, "/a/x.zip", opts, "", {std::string("a")}, false, out),
                 EEntryNotFound);
    EXPECT_TRUE(fake::CallsTo("Zip").empty());
}

TEST_F(Zip32, OnlyLmzip32PacksAfterDeletingTheArchiveAndReadsThroughItsUnzip) {
    ScratchDir dir;
    const std::string archive = dir / "x.zip";
    WriteFile(archive, "old archive");
    fake::ScopedSearchPath path(Folders(false, false, true));
    TZip32 zip;
    opts.x = 0;
    EXPECT_EQ(zip.Pack(nullptr, archive, opts, "/src", {std::string("a.txt")}, false, out), 0);
    EXPECT_FALSE(platform::FileExists(archive));
    const auto call = OnlyCall("Zip");
    EXPECT_EQ(call.library, kLmzip);
    EXPECT_EQ(call.text, "-ru -j  \"" + archive + "\" \"a.txt\" "); // no directory
    EXPECT_EQ(zip.CommandLine, call.text);
    // A missing archive is no error.
    EXPECT_EQ(zip.Pack(nullptr, archive, opts, "/src", {std::string("a.txt")}, false, out), 0);

    EXPECT_EQ(zip.Extract(nullptr, archive, opts, "", {}, false, out), 0);
    EXPECT_EQ(OnlyCall("Unzip").library, kLmzip);
    EXPECT_EQ(MessageOf<ESfxNoRequiredFile>([&] { zip.MakeSfx(nullptr, archive, opts, "", out); }),
              "zip 書庫からの自己解凍書庫の作成には 'ZIP32J.DLL' ファイルが必要です。");
    // The owner-window entries are looked up in UNZIP32 only.
    int window = 0;
    EXPECT_THROW(zip.SetOwnerWindow(&window, nullptr), EEntryNotFound);
    EXPECT_FALSE(zip.HasOwnerWindow());
    EXPECT_EQ(zip.BuildUnzipCommandLine("-x", "/a.zip", opts, "", {}, false), "-x -j  \"/a.zip\" ");
}

TEST_F(Zip32, OnlyZip32jWritesWithoutDeletingButCannotExtract) {
    ScratchDir dir;
    const std::string archive = dir / "x.zip";
    WriteFile(archive, "old archive");
    fake::ScopedSearchPath path(Folders(false, true, false));
    TZip32 zip;
    EXPECT_EQ(zip.Pack(nullptr, archive, opts, "/src", {std::string("a.txt")}, false, out), 0);
    EXPECT_EQ(ReadFile(archive), "old archive");
    EXPECT_EQ(OnlyCall("Zip").text, " -D  \"" + archive + "\" \"/src/\" \"a.txt\" ");
    EXPECT_EQ(OnlyCall("Zip").library, kZip);
    fake::Reset();
    zip.Delete(nullptr, archive, opts, "/src", {std::string("a.txt")}, false, out);
    EXPECT_EQ(OnlyCall("Zip").text, "-d -D  \"" + archive + "\" \"a.txt\" ");
    fake::Reset();
    zip.Update(nullptr, archive, opts, "/src", {std::string("a.txt")}, false, out);
    EXPECT_EQ(OnlyCall("Zip").text, "-f -D  \"" + archive + "\" \"/src/\" \"a.txt\" ");
    EXPECT_EQ(
        MessageOf<EArchiver>([&] { zip.Extract(nullptr, archive, opts, "", {}, false, out); }),
        "ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。");
    // Listing and checking through ZIP32J's own entries.
    EXPECT_NE(zip.OpenArchive(nullptr, archive, 0), nullptr);
    EXPECT_EQ(zip.CheckArchive(archive, 0, 0), 1);
    EXPECT_EQ(OnlyCall("UnZipCheckArchive").library, kZip);
}

TEST_F(Zip32, NoLibraryAtAll) {
    fake::ScopedSearchPath path(Folders(false, false, false));
    TZip32 zip;
    EXPECT_EQ(
        MessageOf<EArchiver>([&] { zip.Extract(nullptr, "/a.zip", opts, "", {}, false, out); }),
        "ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。");
    EXPECT_EQ(MessageOf<EEntryNotFound>([&] { zip.CheckArchive("/a.zip", 0, 0); }),
              "UnZipCheckArchive のエントリが DLL に見つかりませんでした。");
    EXPECT_EQ(MessageOf<EEntryNotFound>([&] { zip.OpenArchive(nullptr, "/a.zip", 0); }),
              "UnZipOpenArchive のエントリが DLL に見つかりませんでした。");
    // The owner-window entries go through GetEntryPoint: its message names the program.
    int window = 0;
    EXPECT_EQ(MessageOf<EEntryNotFound>([&] { zip.SetOwnerWindow(&window, nullptr); }),
              platform::ProgramPath() + " に UnZipSetOwnerWindowEx のエントリが見つかりません。");
    EXPECT_FALSE(zip.HasOwnerWindow());
}

TEST_F(Zip32, ResolveEntryLooksUpAfreshEveryTimeAndWritesTheField) {
    fake::ScopedSearchPath unzipOnly(Folders(true, false, false));
    TZip32 zip;
    TZipDll &dll = *ZipDll;
    void *entry = &dll; // anything non-null
    EXPECT_FALSE(dll.ResolveEntry(entry, {dll.ZipLibrary, dll.LmzipLibrary}, "Zip", false));
    EXPECT_EQ(entry, nullptr);
    EXPECT_TRUE(dll.ResolveEntry(entry, {dll.LmzipLibrary, dll.UnzipLibrary}, "UnZip", false));
    EXPECT_NE(entry, nullptr);
    // Null handles are skipped, so a list of nothing finds nothing.
    EXPECT_FALSE(dll.ResolveEntry(entry, {nullptr, nullptr}, "UnZip", false));
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(MessageOf<EEntryNotFound>(
                  [&] { dll.ResolveEntry(entry, {dll.UnzipLibrary}, "NoSuchEntry", true); }),
              "NoSuchEntry のエントリが DLL に見つかりませんでした。");

    // A writer that appears later is loaded and used at the next pack: nothing was remembered.
    EXPECT_THROW(zip.Delete(nullptr, "/a.zip", opts, "", {std::string("a")}, false, out),
                 EEntryNotFound);
    fake::ScopedSearchPath both(Folders(true, true, false));
    EXPECT_EQ(zip.Delete(nullptr, "/a.zip", opts, "", {std::string("a")}, false, out), 0);
    EXPECT_EQ(OnlyCall("Zip").library, kZip);
}

TEST_F(Zip32, LmzipSpellingOnlyAppliesInsideLmzip32) {
    fake::ScopedSearchPath path(Folders(true, false, true));
    TZip32 zip;
    TZipDll &dll = *ZipDll;
    void *a = nullptr, *b = nullptr;
    // UNZIP32 exports "UnZip", LMZIP32 "Unzip": the same name finds each in its own spelling.
    EXPECT_TRUE(dll.ResolveEntry(a, {dll.UnzipLibrary}, "UnZip", false));
    EXPECT_TRUE(dll.ResolveEntry(b, {dll.LmzipLibrary}, "UnZip", false));
    EXPECT_NE(a, b);
    EXPECT_FALSE(dll.ResolveEntry(a, {dll.UnzipLibrary}, "Unzip", false));
    // "Zip" has no 'Z' third: found in LMZIP32 as it is.
    EXPECT_TRUE(dll.ResolveEntry(a, {dll.LmzipLibrary}, "Zip", false));
}

TEST_F(Zip32, MissingWriteTimeGetterFallsBackToTheDosStamp) {
    fake::ScopedSearchPath path(std::vector<std::string>{"zip-unzip32-notime"});
    fake::SetItems({{.name = "a.txt", .originalSize = 7, .date = 0x5A21, .time = 0x6000}});
    TZip32 zip;
    HARC arc = zip.OpenArchive(nullptr, "/a.zip", 0);
    TIndividualInfoEx info{};
    ASSERT_EQ(zip.FindFirst(arc, &info, "*"), 0);
    EXPECT_STREQ(info.szFileName, "a.txt");
    EXPECT_EQ(int64_t{info.OriginalSize}, 7); // copied: the record is packed
    platform::FileTime dos;
    ASSERT_TRUE(platform::DosDateTimeToFileTime(0x5A21, 0x6000, dos));
    const ARC_FILETIME written = info.LastWriteTime;
    EXPECT_EQ(written.dwLowDateTime, dos.low);
    EXPECT_EQ(written.dwHighDateTime, dos.high);
    EXPECT_TRUE(fake::CallsTo("UnzipGetWriteTimeEx").empty());
}

TEST_F(Zip32, ExtractMemHasNoCommandWordAndOneFilteredEntry) {
    fake::ScopedSearchPath path(Folders(true, false, false));
    fake::SetMemory("hello");
    TZip32 zip;
    char buffer[16] = {};
    DWORD written = 0;
    EXPECT_EQ(zip.ExtractMem(nullptr, "/a.zip", opts, "-d[1].txt", buffer, sizeof buffer, &written),
              0);
    const auto call = OnlyCall("UnZipExtractMem");
    EXPECT_EQ(call.text, "  \"/a.zip\" \"[-]d[[]1].txt\" ");
    EXPECT_FALSE(call.timePtr);
    EXPECT_FALSE(call.attrPtr);
    EXPECT_TRUE(call.writtenPtr);
    EXPECT_EQ(std::string(buffer, written), "hello");
}

TEST_F(Zip32, ResultsAndOutputComeBackUnchanged) {
    fake::ScopedSearchPath path(Folders(true, true, false));
    fake::SetResult("Zip", 11);
    fake::SetOutput("zip says hi");
    TZip32 zip;
    EXPECT_EQ(zip.Pack(nullptr, "/a.zip", opts, "", {std::string("a")}, false, out), 11);
    EXPECT_STREQ(out.c_str(), "zip says hi");
    // An empty output buffer passes none.
    std::string none;
    zip.Pack(nullptr, "/a.zip", opts, "", {std::string("a")}, false, none);
    EXPECT_FALSE(fake::CallsTo("Zip").back().buffer);
}

// ---------------------------------------------------------------------------------------------
// MakeSfx

TEST_F(Zip32, MakeSfxJoinsStubAndArchiveAndRunsTheAdjustCommand) {
    ScratchDir dir;
    const std::string archive = dir / "x.zip";
    const std::string zipBytes = std::string("PK\x03\x04", 4) + std::string("\0\1\2\xff", 4);
    WriteFile(archive, zipBytes);
    WriteFile(dir / "sfx16.dat", "MZ-dos-stub");
    WriteFile(dir / "sfx32gui.dat", std::string("MZ\0win32", 8));
    fake::ScopedSearchPath path(Folders(false, true, false));
    TZip32 zip;

    struct Case {
        int gw;
        std::string destDir, target, stub;
    } cases[] = {
        {1, dir / "out", dir / "out/x.EXE", std::string("MZ\0win32", 8)},
        {1, dir / "out/", dir / "out/x.EXE", std::string("MZ\0win32", 8)},
        {-1, "", dir / "x.EXE", "MZ-dos-stub"},
        {0, "", dir / "x.EXE", "MZ-dos-stub"},
    };
    std::filesystem::create_directories(dir / "out");
    for (const auto &c : cases) {
        fake::Reset();
        opts.gw = static_cast<ShortInt>(c.gw);
        opts.UserOptions = "-ignored";
        opts.UserFileList = "ignored.txt";
        EXPECT_EQ(zip.MakeSfx(nullptr, archive, opts, c.destDir, out), 0);
        EXPECT_EQ(ReadFile(c.target), c.stub + zipBytes) << c.gw;
        EXPECT_EQ(OnlyCall("Zip").text, "-A " + c.target);
        EXPECT_EQ(zip.CommandLine, "-A " + c.target);
        std::filesystem::remove(c.target);
    }
    EXPECT_EQ(ReadFile(archive), zipBytes);
}

TEST_F(Zip32, MakeSfxNamesTheMissingStubAndItsPlatform) {
    ScratchDir dir;
    WriteFile(dir / "x.zip", "PK");
    fake::ScopedSearchPath path(Folders(false, true, false));
    TZip32 zip;
    opts.gw = 1;
    try {
        zip.MakeSfx(nullptr, dir / "x.zip", opts, "", out);
        FAIL() << "no exception";
    } catch (const ESfxNoRequiredFile &e) {
        EXPECT_STREQ(
            e.what(),
            "zip 書庫からのWin32自己解凍書庫の作成には 'sfx32gui.dat' ファイルが必要です。");
        EXPECT_EQ(e.Platform, "Win32");
        EXPECT_EQ(e.RequiredFile, "sfx32gui.dat");
    }
    opts.gw = -1;
    EXPECT_EQ(
        MessageOf<ESfxNoRequiredFile>([&] { zip.MakeSfx(nullptr, dir / "x.zip", opts, "", out); }),
        "zip 書庫からのDOS自己解凍書庫の作成には 'sfx16.dat' ファイルが必要です。");
    EXPECT_FALSE(platform::FileExists(dir / "x.EXE"));
    EXPECT_TRUE(fake::CallsTo("Zip").empty());
}

TEST_F(Zip32, MakeSfxOfAMissingArchiveLeavesNoFileAndCallsNothing) {
    ScratchDir dir;
    WriteFile(dir / "sfx16.dat", "stub");
    fake::ScopedSearchPath path(Folders(false, true, false));
    TZip32 zip;
    EXPECT_THROW(zip.MakeSfx(nullptr, dir / "none.zip", opts, "", out), EStreamError);
    EXPECT_FALSE(platform::FileExists(dir / "none.EXE"));
    EXPECT_TRUE(fake::CallsTo("Zip").empty());
}

// ---------------------------------------------------------------------------------------------
// IsZipArchive

TEST_F(Zip32, IsZipArchiveNeedsTheCheckAndTheOpen) {
    ScratchDir dir;
    WriteFile(dir / "data.bin", "PK");
    fake::ScopedSearchPath path(Folders(true, false, false));
    EXPECT_TRUE(IsZipArchive("data.bin"));
    EXPECT_EQ(OnlyCall("UnZipCheckArchive").text, dir / "data.bin");
    EXPECT_EQ(OnlyCall("UnZipCheckArchive").mode, 24);
    EXPECT_EQ(OnlyCall("UnZipOpenArchive").mode, 0x800002);
    EXPECT_EQ(OnlyCall("UnZipOpenArchive").wnd, nullptr);
    EXPECT_EQ(fake::CallsTo("UnZipCloseArchive").size(), 1u);

    struct Case {
        const char *name;
        const char *file;
        int check, open;
    } cases[] = {
        {"check refuses", "data.bin", 0, 1},
        {"check answers negative", "data.bin", -1, 1},
        {"check accepts, open fails", "data.bin", 1, 0},
        {"missing file", "none.bin", 1, 1},
    };
    for (const auto &c : cases) {
        fake::Reset();
        fake::SetResult("UnZipCheckArchive", c.check);
        if (!c.open)
            fake::SetResult("UnZipOpenArchive", 0);
        EXPECT_FALSE(IsZipArchive(c.file)) << c.name;
        if (c.check <= 0) {
            EXPECT_TRUE(fake::CallsTo("UnZipOpenArchive").empty()) << c.name;
        }
    }
    // The missing file is never opened.
    EXPECT_TRUE(fake::CallsTo("UnZipOpenArchive").empty());
}

TEST_F(Zip32, IsZipArchiveWithoutLibrariesAnswersFalse) {
    ScratchDir dir;
    WriteFile(dir / "data.bin", "PK");
    fake::ScopedSearchPath path(Folders(false, false, false));
    EXPECT_FALSE(IsZipArchive("data.bin"));
}

} // namespace
