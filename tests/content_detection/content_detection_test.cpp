// CAB, ARJ and RAR archives made by other tools, renamed so that the name says nothing (".dat")
// or leaves the format to the content (".exe"), are recognised by the probes of the real
// libraries, and the component then lists them through the back-end it chose.
#include "archives/ARCHIVES.h"
#include "formats/ARJ32.h"
#include "formats/CAB32.h"
#include "formats/RAR32.h"
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace archives;
using formats_test::ScratchDir;
using formats_test::WriteFile;
namespace fs = std::filesystem;

namespace {

struct Fixture {
    const char *file; // in tests/data/detection (see its MANIFEST.tsv)
    TArchiverType type;
    void (*load)();                     // the format's LoadDLL
    std::unique_ptr<TArchiverDll> &dll; // and its binding
    const char *library;
    std::vector<std::string> files; // regular files the archive holds
    bool sfx = false;               // the library finds the archive after a program stub
};

const Fixture kFixtures[] = {
    {"test_read_format_cab_1.cab",
     atCab,
     formats::TCab32::LoadDLL,
     formats::CabDll,
     "libcab32.so",
     {"empty", "dir1/file1", "dir2/file2"},
     true},
    {"test_read_format_cab_2.cab",
     atCab,
     formats::TCab32::LoadDLL,
     formats::CabDll,
     "libcab32.so",
     {"empty", "zero", "dir1/file1", "dir2/file2"},
     true},
    {"arj_m1.arj",
     atArj,
     formats::TArj32::LoadDLL,
     formats::ArjDll,
     "libunarj32j.so",
     {"a.txt", "rnd.bin", "empty.txt"}},
    {"arj_m4.arj",
     atArj,
     formats::TArj32::LoadDLL,
     formats::ArjDll,
     "libunarj32j.so",
     {"a.txt", "rnd.bin", "empty.txt"}},
    {"test_read_format_rar.rar",
     atRar,
     formats::TRar32::LoadDLL,
     formats::RarDll,
     "libunrar32.so",
     {"test.txt", "testdir/test.txt"}},
    {"test_read_format_rar5_stored.rar",
     atRar,
     formats::TRar32::LoadDLL,
     formats::RarDll,
     "libunrar32.so",
     {"helloworld.txt"}},
};

// Whether the format's real library is loaded (a failed load keeps the binding without it).
bool Loads(const Fixture &f) {
    try {
        f.load();
    } catch (const ENoArchiverDLL &) {
        return false;
    }
    return f.dll && f.dll->Handle() != nullptr;
}

TEST(ContentDetection, CabArjAndRarUnderNamesThatSayNothing) {
    size_t tried = 0;
    for (const auto &f : kFixtures) {
        SCOPED_TRACE(f.file);
        if (!Loads(f))
            continue;
        ++tried;
        ScratchDir dir;
        const std::string dat = dir / "archive.dat";
        const std::string exe = dir / "setup.exe";
        fs::copy_file(std::string(QUORVEL_TEST_DATA) + "/" + f.file, dat);
        fs::copy_file(dat, exe);
        EXPECT_EQ(GetArchiverType(dat, true), atNone); // the name says nothing
        EXPECT_EQ(GetArchiverType(dat, false), f.type);
        EXPECT_EQ(GetArchiverType(exe, true), f.type); // ".exe" is decided by content
        if (f.sfx) {
            // A self-extractor: the archive after a program stub.
            const std::string sfx = dir / "sfx.exe";
            WriteFile(sfx, "MZ" + std::string(4094, '\0') + formats_test::ReadFile(dat));
            EXPECT_EQ(GetArchiverType(sfx, true), f.type);
        }

        // The component finds the format when the archive is used, and lists it.
        TArchiveFile arc;
        arc.SetFileName(dat);
        EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
        std::vector<TIndividualInfoEx> entries;
        EXPECT_EQ(arc.ListEntries(nullptr, "*", entries), 0);
        EXPECT_EQ(arc.ArchiverType(), f.type);
        std::vector<std::string> names;
        for (const auto &e : entries)
            names.emplace_back(e.szFileName);
        for (const auto &name : f.files)
            EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
    if (tried == 0)
        GTEST_SKIP() << "none of libcab32.so, libunarj32j.so, libunrar32.so is part of this build";
}

// What no library reads is claimed by none of them.
TEST(ContentDetection, TextIsNoArchive) {
    ScratchDir dir;
    WriteFile(dir / "notes.dat", "MSCF is not enough\n`\xEA and Rar! neither\n");
    WriteFile(dir / "tool.exe", "MZ" + std::string(600, '\0'));
    EXPECT_EQ(GetArchiverType(dir / "notes.dat", false), atNone);
    EXPECT_EQ(GetArchiverType(dir / "tool.exe", true), atNone);
}

} // namespace
