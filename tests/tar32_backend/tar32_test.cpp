#include "FakeControl.h"
#include "archives/Exceptions.h"
#include "formats/TAR32.h"
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

using namespace archives;
using namespace formats;
using formats_test::MessageOf;
using formats_test::ReadFile;
using formats_test::ScratchDir;
using formats_test::WriteFile;

namespace {

// A class derived later from the gzip kind: it must behave as its ancestor.
class TMyTgz : public TTgz32 {
public:
    TMyTgz() : TTgz32(ArchiverClassOf<TMyTgz>()) {}
};

enum class Kind { Tar, Tgz, BZ2, MyTgz };

std::unique_ptr<TTar32> Make(Kind k) {
    switch (k) {
    case Kind::Tgz:
        return std::make_unique<TTgz32>();
    case Kind::BZ2:
        return std::make_unique<TBZ232>();
    case Kind::MyTgz:
        return std::make_unique<TMyTgz>();
    default:
        return std::make_unique<TTar32>();
    }
}

class Tar32 : public ::testing::Test {
protected:
    void SetUp() override {
        TTar32::FreeDLL();
        fake::Reset();
    }
    void TearDown() override { TTar32::FreeDLL(); }

    TArchiverOptions opts;
    std::string out = std::string(32, '\0');
};

fake::Call OnlyCall(const std::string &entry) {
    auto calls = fake::CallsTo(entry);
    EXPECT_EQ(calls.size(), 1u) << entry;
    return calls.empty() ? fake::Call{} : calls.front();
}

TEST_F(Tar32, CommandLineSwitchesInOrder) {
    fake::ScopedSearchPath path("full");
    struct Case {
        const char *name;
        Kind kind;
        std::function<void(TArchiverOptions &)> set;
        const char *expected; // Pack of /a.t with base /src and the file x.txt
    } cases[] = {
        {"tar, all unset", Kind::Tar, [](TArchiverOptions &) {},
         "c  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"tgz, all unset", Kind::Tgz, [](TArchiverOptions &) {},
         "c -z  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"bz2, all unset", Kind::BZ2, [](TArchiverOptions &) {},
         "c -B  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"derived from tgz", Kind::MyTgz, [](TArchiverOptions &o) { o.jm = 6; },
         "c -z6  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"tgz jm=9", Kind::Tgz, [](TArchiverOptions &o) { o.jm = 9; },
         "c -z9  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"bz2 jm=9", Kind::BZ2, [](TArchiverOptions &o) { o.jm = 9; },
         "c -B9  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"tgz jm=0", Kind::Tgz, [](TArchiverOptions &o) { o.jm = 0; },
         "c -z  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"bz2 jm=1", Kind::BZ2, [](TArchiverOptions &o) { o.jm = 1; },
         "c -B1  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"tar ignores jm", Kind::Tar, [](TArchiverOptions &o) { o.jm = 9; },
         "c  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"a=0", Kind::Tar, [](TArchiverOptions &o) { o.a = 0; },
         "c -I  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"a=1", Kind::Tar, [](TArchiverOptions &o) { o.a = 1; },
         "c -AH  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"n=1", Kind::Tar, [](TArchiverOptions &o) { o.n = 1; },
         "c --display-dialog=0  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"n=0", Kind::Tar, [](TArchiverOptions &o) { o.n = 0; },
         "c  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"o=1", Kind::Tar, [](TArchiverOptions &o) { o.o = 1; },
         "c -g  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"p=0", Kind::Tar, [](TArchiverOptions &o) { o.p = 0; },
         "c --check-all-path=0  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"x=0", Kind::Tar, [](TArchiverOptions &o) { o.x = 0; },
         "c --use-directory=0  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"x=1", Kind::Tar, [](TArchiverOptions &o) { o.x = 1; },
         "c --use-directory=1  -f \"/a.t\" -o \"/src/\" \"x.txt\" "},
        {"everything", Kind::Tgz,
         [](TArchiverOptions &o) {
             o.a = 1;
             o.n = 1;
             o.o = 1;
             o.p = 1;
             o.x = 0;
             o.jm = 5;
             o.UserOptions = "--extra";
             o.UserFileList = "y.txt";
         },
         "c -AH --display-dialog=0 -g --check-all-path=1 --use-directory=0 -z5 --extra -f "
         "\"/a.t\" -o \"/src/\" \"x.txt\" y.txt"},
    };
    for (const auto &c : cases) {
        auto tar = Make(c.kind);
        TArchiverOptions o;
        c.set(o);
        fake::Reset();
        EXPECT_EQ(tar->Pack(nullptr, "/a.t", o, "/src", {std::string("x.txt")}, false, out), 0);
        EXPECT_EQ(tar->CommandLine, c.expected) << c.name;
        EXPECT_EQ(OnlyCall("Tar").text, c.expected) << c.name;
    }
}

TEST_F(Tar32, OwnerWindowSuppressesTheDialogSwitch) {
    fake::ScopedSearchPath path("full");
    TTar32 tar;
    opts.n = 1;
    int window = 0;
    EXPECT_TRUE(tar.SetOwnerWindow(&window, nullptr));
    EXPECT_EQ(fake::OwnerWindow("libtar32.so"), &window);
    EXPECT_EQ(tar.BuildTarCommandLine("x", "/a.tar", opts, "", {}, false), "x  -f \"/a.tar\" ");
    fake::SetResult("TarKillOwnerWindowEx", 0);
    EXPECT_FALSE(tar.KillOwnerWindow(&window)); // the library's answer
    EXPECT_FALSE(tar.HasOwnerWindow());
    EXPECT_EQ(tar.BuildTarCommandLine("x", "/a.tar", opts, "", {}, false),
              "x --display-dialog=0  -f \"/a.tar\" ");
}

TEST_F(Tar32, EmptyArchiveAndDirectoryLeaveTheirPiecesOut) {
    fake::ScopedSearchPath path("full");
    TTar32 tar;
    EXPECT_EQ(tar.BuildTarCommandLine("x", "", opts, "", {std::string("a")}, false), "x  \"a\" ");
    EXPECT_EQ(tar.BuildTarCommandLine("x", "/a.tar", opts, "/out/", {}, false),
              "x  -f \"/a.tar\" -o \"/out/\" ");
}

TEST_F(Tar32, ResponseFileChoiceComesFromResFileUsage) {
    ScratchDir dir;
    fake::ScopedSearchPath path("full");
    TTar32 tar;
    opts.ResFileName = dir / "list.txt";
    opts.ResFileUsage = TResFileUsage{ruOnUnpack};
    tar.Extract(nullptr, "/a.tar", opts, "/out", {std::string("a.txt")}, false, out);
    EXPECT_EQ(tar.CommandLine, "x  -f \"/a.tar\" -o \"/out/\" \"@" + opts.ResFileName + "\" ");
    EXPECT_EQ(ReadFile(opts.ResFileName), "\"a.txt\"\r\n");
    // Pack asks ruOnPack, which is not in the set: names on the line, whatever UseResFile says.
    tar.Pack(nullptr, "/a.tar", opts, "/src", {std::string("a.txt")}, true, out);
    EXPECT_EQ(tar.CommandLine, "c  -f \"/a.tar\" -o \"/src/\" \"a.txt\" ");
}

TEST_F(Tar32, ExtractMemHasNoCommandWordNorDirectory) {
    fake::ScopedSearchPath path("full");
    fake::SetMemory("data");
    TTgz32 tgz;
    opts.ResFileUsage = TResFileUsage{ruOnPack, ruOnUnpack};
    opts.ResFileName = "/nonexistent/list.txt"; // never written
    char buffer[8] = {};
    DWORD written = 0;
    EXPECT_EQ(tgz.ExtractMem(nullptr, "/a.tgz", opts, "d/e.txt", buffer, sizeof buffer, &written),
              0);
    const auto call = OnlyCall("TarExtractMem");
    EXPECT_EQ(call.text, " -z  -f \"/a.tgz\" \"d/e.txt\" ");
    EXPECT_FALSE(call.timePtr);
    EXPECT_FALSE(call.attrPtr);
    EXPECT_EQ(std::string(buffer, written), "data");
}

TEST_F(Tar32, DeleteAndUpdateAreNotSupported) {
    fake::ScopedSearchPath path("full");
    TTar32 tar;
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { tar.Delete(nullptr, "/a.tar", opts, "", {std::string("a")}, false, out); }),
              "この形式の書庫ではファイルの削除をサポートしておりません。");
    EXPECT_EQ(MessageOf<EArchiver>(
                  [&] { tar.Update(nullptr, "/a.tar", opts, "", {std::string("a")}, false, out); }),
              "この形式の書庫では書庫の更新をサポートしておりません。");
    EXPECT_TRUE(fake::Calls().empty());
}

TEST_F(Tar32, CheckAddsModeAndFlagsAndRefusesOverflow) {
    fake::ScopedSearchPath path("full");
    TTar32 tar;
    fake::SetResult("TarCheckArchive", 5);
    EXPECT_EQ(tar.CheckArchive("rel.tar", 1, 16), 5);
    EXPECT_EQ(OnlyCall("TarCheckArchive").mode, 17);
    EXPECT_EQ(OnlyCall("TarCheckArchive").text, "rel.tar"); // unchanged
    EXPECT_THROW(tar.CheckArchive("rel.tar", INT_MAX, 1), std::overflow_error);
    EXPECT_EQ(fake::CallsTo("TarCheckArchive").size(), 1u);
}

TEST_F(Tar32, MissingLibraryFailsTheFirstConstructionOnly) {
    fake::ScopedSearchPath path("empty");
    EXPECT_EQ(MessageOf<ENoArchiverDLL>([] { TTgz32 t; }),
              "tar/tgz/taz/bz2 形式書庫 を扱うには TAR32.DLL が 必要です。");
    TTgz32 tgz; // the binding is kept: no second attempt at construction
    EXPECT_THROW(tgz.Pack(nullptr, "/a.tgz", opts, "", {std::string("a")}, false, out),
                 ENoArchiverDLL);
    // The self-extractor needs no library.
    ScratchDir dir;
    WriteFile(dir / "kmtarsef.exe", "STUB");
    WriteFile(dir / "a.tgz", "TGZ");
    EXPECT_EQ(tgz.MakeSfx(nullptr, dir / "a.tgz", opts, "", out), 0);
    EXPECT_EQ(ReadFile(dir / "a.EXE"), "STUBTGZ");
}

// ---------------------------------------------------------------------------------------------
// MakeSfx

TEST_F(Tar32, MakeSfxWritesStubThenArchive) {
    ScratchDir dir;
    const std::string stub = std::string("\x7f"
                                         "ELF\0\x01stub",
                                         10);
    const std::string archive = std::string("\x1f\x8b\x08\0tgzdata\0\xff", 13);
    WriteFile(dir / "kmtarsef.exe", stub);
    WriteFile(dir / "a.tgz", archive);
    WriteFile(dir / "b.tar", "TAR!");
    std::filesystem::create_directories(dir / "out");
    fake::ScopedSearchPath path("full");
    struct Case {
        Kind kind;
        std::string archive, destDir, target, bytes;
    } cases[] = {
        {Kind::Tgz, dir / "a.tgz", "", dir / "a.EXE", stub + archive},
        {Kind::Tar, dir / "b.tar", dir / "out", dir / "out/b.EXE", stub + "TAR!"},
        {Kind::MyTgz, dir / "a.tgz", dir / "out/", dir / "out/a.EXE", stub + archive},
    };
    for (const auto &c : cases) {
        auto tar = Make(c.kind);
        fake::Reset();
        EXPECT_EQ(tar->MakeSfx(nullptr, c.archive, opts, c.destDir, out), 0);
        EXPECT_EQ(ReadFile(c.target), c.bytes) << c.target;
        EXPECT_TRUE(fake::Calls().empty()); // no library call
        const auto perms = std::filesystem::status(c.target).permissions();
        EXPECT_NE(perms & std::filesystem::perms::owner_exec, std::filesystem::perms::none);
    }
}

TEST_F(Tar32, MakeSfxRefusesBzip2BeforeTouchingAnyFile) {
    ScratchDir dir;
    fake::ScopedSearchPath path("full");
    TBZ232 bz2;
    // Neither stub nor archive exists: the refusal comes first.
    EXPECT_EQ(MessageOf<EArchiver>([&] { bz2.MakeSfx(nullptr, dir / "a.bz2", opts, "", out); }),
              "BZ2 形式書庫は自己解凍形式にできません。");
    EXPECT_FALSE(platform::FileExists(dir / "a.EXE"));
}

TEST_F(Tar32, MakeSfxNamesTheMissingStub) {
    ScratchDir dir;
    WriteFile(dir / "a.tgz", "TGZ");
    fake::ScopedSearchPath path("full");
    TTgz32 tgz;
    try {
        tgz.MakeSfx(nullptr, dir / "a.tgz", opts, "", out);
        FAIL() << "no exception";
    } catch (const ESfxNoRequiredFile &e) {
        EXPECT_STREQ(
            e.what(),
            "tar/tgz 書庫からの自己解凍書庫の作成には 'kmtarsef.exe' ファイルが必要です。");
        EXPECT_EQ(e.ArcType, "tar/tgz");
        EXPECT_EQ(e.Platform, "");
    }
    EXPECT_FALSE(platform::FileExists(dir / "a.EXE"));
}

TEST_F(Tar32, MakeSfxNeverOverwritesItsOwnArchive) {
    ScratchDir dir;
    WriteFile(dir / "kmtarsef.exe", "STUB");
    WriteFile(dir / "a.EXE", "ARCHIVE");
    fake::ScopedSearchPath path("full");
    TTar32 tar;
    EXPECT_THROW(tar.MakeSfx(nullptr, dir / "a.EXE", opts, "", out), EStreamError);
    EXPECT_EQ(ReadFile(dir / "a.EXE"), "ARCHIVE");
}

// ---------------------------------------------------------------------------------------------
// GetTarArchiverType

TEST_F(Tar32, ProbeMapsTheLibrarysArchiveType) {
    fake::ScopedSearchPath path("full");
    const struct {
        int answer;
        TArchiverType type;
    } cases[] = {{0, atNone}, {1, atTar}, {2, atTgz},  {3, atTgz},   {4, atTgz},   {5, atTgz},
                 {6, atBZ2},  {7, atBZ2}, {8, atNone}, {-1, atNone}, {100, atNone}};
    for (const auto &c : cases) {
        fake::Reset();
        fake::SetResult("TarGetArchiveType", c.answer);
        EXPECT_EQ(GetTarArchiverType("rel/data.bin"), c.type) << c.answer;
        EXPECT_EQ(OnlyCall("TarGetArchiveType").text, "rel/data.bin"); // not expanded
    }
}

TEST_F(Tar32, ProbeWithoutLibraryAnswersNone) {
    fake::ScopedSearchPath path("empty");
    EXPECT_EQ(GetTarArchiverType("/a.tar"), atNone);
}

} // namespace
