// The BGA and YZ1 rows of the component's format table: the back-ends the component creates for
// ".gza", ".bza" and ".yz1", and their places in content detection, through the real probes and
// the fake libraries.
#include "FakeControl.h"
#include "archives/ARCHIVES.h"
#include "archives/ArchiverFormats.h"
#include "formats/BGA32.h"
#include "formats/LHA32.h"
#include "formats/YZ132.h"
#include "formats/ZIP32.h"
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

using namespace archives;
using formats_test::MessageOf;
using formats_test::ScratchDir;
using formats_test::WriteFile;

namespace {

void FreeBindings() {
    formats::TBGA32::FreeDLL();
    formats::TYZ1::FreeDLL();
    formats::TLha32::FreeDLL();
    formats::TZip32::FreeDLL();
}

class FormatRows : public ::testing::Test {
protected:
    void SetUp() override {
        FreeBindings();
        fake::Reset();
    }
    void TearDown() override { FreeBindings(); }
};

TEST_F(FormatRows, TheComponentCreatesAndRunsTheBackEnds) {
    fake::ScopedSearchPath path("full");
    ScratchDir dir;
    WriteFile(dir / "x.txt", "x");
    struct Case {
        const char *name;
        TArchiverType type;
        const char *entry;
        std::string expected;
    } cases[] = {
        {"a.gza", atBga, "Bga",
         "a -n  \"" + dir / "a.gza" + "\" \"" + dir.Path() + "/\" \"x.txt\" "},
        {"a.BZA", atBga, "Bga",
         "a -n  \"" + dir / "a.BZA" + "\" \"" + dir.Path() + "/\" \"x.txt\" "},
        {"a.yz1", atYz1, "Yz1",
         "c -+ -z1 -x1  \"" + dir / "a.yz1" + "\" \"" + dir.Path() + "/\" \"x.txt\" "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        TArchiveFile arc;
        arc.SetFileName(dir / c.name);
        EXPECT_EQ(arc.ArchiverType(), c.type);
        const TArchiverFormat *row = FindArchiverFormat(c.type);
        ASSERT_NE(row, nullptr);
        ASSERT_NE(row->Create, nullptr);
        ASSERT_NE(row->Probe, nullptr);
        if (c.type == atBga)
            EXPECT_NE(dynamic_cast<formats::TBGA32 *>(arc.Archiver()), nullptr);
        else
            EXPECT_NE(dynamic_cast<formats::TYZ1 *>(arc.Archiver()), nullptr);
        arc.Options().x = 1; // as the compress job sets it; p holds its default 1
        arc.Options().ResFileUsage = TResFileUsage{};
        EXPECT_EQ(arc.PackFiles(nullptr, nullptr, dir.Path(), {TFileArg(std::string("x.txt"))}), 0);
        EXPECT_EQ(arc.CommandLine(), c.expected);
        ASSERT_EQ(fake::CallsTo(c.entry).size(), 1u);
        EXPECT_EQ(fake::CallsTo(c.entry)[0].text, c.expected);
    }
}

// A missing library fails the naming of the archive: name, type and back-end stay as they were.
TEST_F(FormatRows, AMissingLibraryKeepsTheComponentAsItWas) {
    fake::ScopedSearchPath path("empty");
    struct Case {
        const char *name;
        const char *message;
    } cases[] = {
        {"/x/a.gza", "BGA 形式書庫 を扱うには BGA32.DLL が 必要です。"},
        {"/x/a.bza", "BGA 形式書庫 を扱うには BGA32.DLL が 必要です。"},
        {"/x/a.yz1", "Yz1 形式書庫を扱うには YYZ32.DLL か YZ1.DLL が必要です。"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FreeBindings();
        TArchiveFile arc;
        EXPECT_EQ(MessageOf<EArchiver>([&] { arc.SetFileName(c.name); }), c.message);
        EXPECT_EQ(arc.FileName(), UnsetString);
        EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
        EXPECT_EQ(arc.Archiver(), nullptr);
    }
}

// Later probes overrule earlier ones: ZIP < BGA < YZ1 < LHA.
TEST_F(FormatRows, ContentDetectionPlacesBgaAndYz1AfterZipBeforeLha) {
    ScratchDir dir;
    WriteFile(dir / "setup.exe", "MZ");
    struct Case {
        const char *what;
        std::vector<std::string> installed;
        const char *file;
        TArchiverType expected;
    } cases[] = {
        {"no library claims it", {}, "setup.exe", atNone},
        {"BGA alone", {"full/libbga32.so"}, "setup.exe", atBga},
        {"YZ1 alone, second name", {"full/libyz1.so"}, "setup.exe", atYz1},
        {"ZIP alone", {"full/libunzip32.so"}, "setup.exe", atZip},
        {"BGA over ZIP", {"full/libunzip32.so", "full/libbga32.so"}, "setup.exe", atBga},
        {"YZ1 over BGA", {"full/libbga32.so", "full/libyyz32.so"}, "setup.exe", atYz1},
        {"LHA over YZ1",
         {"full/libbga32.so", "full/libyyz32.so", "full/libunlha32.so"},
         "setup.exe",
         atLha},
        {"a missing file: BGA and YZ1 do not claim it",
         {"full/libunzip32.so", "full/libbga32.so", "full/libyyz32.so"},
         "gone.exe",
         atNone},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fake::ScopedLibrarySet libraries(c.installed);
        FreeBindings();
        fake::Reset();
        EXPECT_EQ(DetectArchiverType(dir / c.file), c.expected);
    }
}

} // namespace
