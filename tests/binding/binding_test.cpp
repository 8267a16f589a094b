#include "FakeControl.h"
#include "archives/ArchiverDll.h"
#include "archives/Exceptions.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace archives;

namespace {

const char *kLha = "LHA 形式書庫";

class Binding : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
    TArchiverDll Lha() { return TArchiverDll(kLha, "UNLHA32.DLL", "Unlha"); }
};

std::string MessageOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const EArchiver &e) {
        return e.what();
    }
    return "(nothing raised)";
}

ARC_FILETIME Dos(uint16_t date, uint16_t time) {
    platform::FileTime ft;
    EXPECT_TRUE(platform::DosDateTimeToFileTime(date, time, ft));
    return {ft.low, ft.high};
}

// The record is packed: its fields are read by value, never bound to references.
template <class T> T Value(T v) {
    return v;
}

bool Same(ARC_FILETIME a, ARC_FILETIME b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

TEST_F(Binding, ConstructionLoadsNothing) {
    fake::ScopedSearchPath path("full");
    int before = fake::Attachments("libunlha32.so");
    TArchiverDll dll(kLha, "UNLHA32.DLL", "Unlha");
    EXPECT_EQ(dll.Handle(), nullptr);
    EXPECT_EQ(dll.FormatName(), kLha);
    EXPECT_EQ(dll.DllName(), "UNLHA32.DLL");
    EXPECT_EQ(dll.Prefix(), "Unlha");
    EXPECT_EQ(fake::Attachments("libunlha32.so"), before);
}

TEST_F(Binding, MissingLibraryNamesFormatAndFileAndIsRetried) {
    TArchiverDll dll("tar/tgz/taz/bz2 形式書庫", "TAR32.DLL", "Tar");
    {
        fake::ScopedSearchPath path("empty");
        try {
            dll.LoadDLL();
            FAIL() << "no exception";
        } catch (const ENoArchiverDLL &e) {
            EXPECT_STREQ(e.what(), "tar/tgz/taz/bz2 形式書庫 を扱うには TAR32.DLL が 必要です。");
        }
        EXPECT_EQ(dll.Handle(), nullptr);
        // Operations that load first raise the same again.
        EXPECT_THROW(dll.Command(nullptr, "x", nullptr, 0), ENoArchiverDLL);
    }
    fake::ScopedSearchPath path("full");
    EXPECT_EQ(dll.GetArchiveType("/a.tgz"), 0);
    EXPECT_NE(dll.Handle(), nullptr);
    EXPECT_EQ(fake::CallsTo("TarGetArchiveType").size(), 1u);
}

TEST_F(Binding, LoadingTwiceLoadsOnceAndFreeUnloads) {
    fake::ScopedSearchPath path("full");
    auto dll = Lha();
    int attached = fake::Attachments("libunlha32.so", "full");
    int detached = fake::Detachments("libunlha32.so", "full");
    dll.LoadDLL();
    HMODULE first = dll.Handle();
    dll.LoadDLL();
    EXPECT_EQ(dll.Handle(), first);
    EXPECT_EQ(fake::Attachments("libunlha32.so", "full"), attached + 1);
    // One free unloads the file: the second load did not take a second reference.
    dll.FreeDLL();
    EXPECT_EQ(dll.Handle(), nullptr);
    EXPECT_EQ(fake::Detachments("libunlha32.so", "full"), detached + 1);
    // A freed binding loads again on the next operation that loads first.
    EXPECT_EQ(dll.CheckArchive("/x.lzh", 16), 1);
    EXPECT_EQ(fake::Attachments("libunlha32.so", "full"), attached + 2);
}

TEST_F(Binding, DestructionUnloads) {
    fake::ScopedSearchPath path("full");
    int detached = fake::Detachments("libunlha32.so", "full");
    {
        auto dll = Lha();
        dll.LoadDLL();
    }
    EXPECT_EQ(fake::Detachments("libunlha32.so", "full"), detached + 1);
}

TEST_F(Binding, CommandPassesItsArgumentsAndTheResult) {
    fake::ScopedSearchPath path("full");
    auto dll = Lha();
    fake::SetResult("Unlha", 32800);
    fake::SetOutput("ok");
    ArcWindow window{nullptr};
    std::string out(16, 'z');
    EXPECT_EQ(dll.Command(&window, "x -+  \"a.lzh\"", out.data(), 16), 32800);
    EXPECT_STREQ(out.c_str(), "ok");
    // A size of 0 hands the library no buffer at all.
    EXPECT_EQ(dll.Command(nullptr, "l", out.data(), 0), 32800);
    auto calls = fake::CallsTo("Unlha");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].wnd, &window);
    EXPECT_EQ(calls[0].text, "x -+  \"a.lzh\"");
    EXPECT_EQ(calls[0].size, 16u);
    EXPECT_TRUE(calls[0].buffer);
    EXPECT_FALSE(calls[1].buffer);
    EXPECT_EQ(calls[1].size, 0u);
}

TEST_F(Binding, MissingMainEntryNamesThePrefixAlone) {
    fake::ScopedSearchPath path("no-main");
    auto dll = Lha();
    std::string msg = MessageOf([&] { dll.Command(nullptr, "x", nullptr, 0); });
    EXPECT_EQ(msg,
              fake::Folder("no-main") + "/libunlha32.so に Unlha のエントリが見つかりません。");
    EXPECT_THROW(dll.Command(nullptr, "x", nullptr, 0), EEntryNotFound);
    // The library stays loaded and its other entries work.
    EXPECT_NE(dll.Handle(), nullptr);
    EXPECT_NE(dll.OpenArchive(nullptr, "/a.lzh", 0), nullptr);
}

TEST_F(Binding, EntriesThatDoNotLoadNameTheProgramWhileNothingIsLoaded) {
    fake::ScopedSearchPath path("full");
    auto dll = Lha();
    TIndividualInfoEx info{};
    std::string program = platform::ProgramPath();
    EXPECT_EQ(MessageOf([&] { dll.FindNext(nullptr, &info); }),
              program + " に UnlhaFindNext のエントリが見つかりません。");
    EXPECT_EQ(MessageOf([&] { dll.SetOwnerWindowEx(nullptr, nullptr); }),
              program + " に UnlhaSetOwnerWindowEx のエントリが見つかりません。");
    EXPECT_EQ(MessageOf([&] { dll.KillOwnerWindowEx(nullptr); }),
              program + " に UnlhaKillOwnerWindowEx のエントリが見つかりません。");
    EXPECT_EQ(
        MessageOf([&] { dll.ExtractMem(nullptr, "", nullptr, 0, nullptr, nullptr, nullptr); }),
        program + " に UnlhaExtractMem のエントリが見つかりません。");
    ARC_FILETIME ft{};
    int64_t size = 0;
    EXPECT_FALSE(dll.GetWriteTimeEx(nullptr, &ft));
    EXPECT_FALSE(dll.GetCompressedSizeEx(nullptr, &size));
    EXPECT_EQ(dll.Handle(), nullptr); // none of them loaded the library
    EXPECT_TRUE(fake::Calls().empty());
}

TEST_F(Binding, ListingPassesArgumentsAndCompletesTheRecordFromTheGetters) {
    fake::ScopedSearchPath path("full");
    auto dll = Lha();
    const ARC_FILETIME write{0x11111111, 0x01D00000}, access{0x22222222, 0x01D00001},
        create{0x33333333, 0x01D00002};
    fake::SetItems({{.name = "dir/a.txt",
                     .originalSize = 100,
                     .compressedSize = 60,
                     .date = 0x5A21,
                     .time = 0x6000,
                     .method = "-lh5-",
                     .writeTime = write,
                     .createTime = create,
                     .accessTime = access,
                     .originalSize64 = 5'000'000'000,
                     .compressedSize64 = 4'000'000'000},
                    {.name = "b.txt", .originalSize = 7, .compressedSize = 7}});
    ArcWindow window{nullptr};
    HARC arc = dll.OpenArchive(&window, "/tmp/a.lzh", 0x800002);
    ASSERT_NE(arc, nullptr);
    TIndividualInfoEx info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(dll.FindFirst(arc, "*.txt", &info), 0);
    EXPECT_STREQ(info.szFileName, "dir/a.txt");
    EXPECT_STREQ(info.szMode, "-lh5-");
    EXPECT_EQ(Value(info.dwOriginalSize), 100u);
    EXPECT_TRUE(Same(info.LastWriteTime, write));
    EXPECT_TRUE(Same(info.LastAccessTime, access));
    EXPECT_TRUE(Same(info.CreationTime, create));
    EXPECT_EQ(Value(info.OriginalSize), 5'000'000'000);
    EXPECT_EQ(Value(info.CompressedSize), 4'000'000'000);

    // The second item has no getter values: DOS time and 32-bit sizes stand in.
    ASSERT_EQ(dll.FindNext(arc, &info), 0);
    EXPECT_STREQ(info.szFileName, "b.txt");
    EXPECT_EQ(Value(info.OriginalSize), 7);
    EXPECT_EQ(Value(info.CompressedSize), 7);
    EXPECT_EQ(dll.FindNext(arc, &info), -1);
    EXPECT_EQ(dll.CloseArchive(arc), 0);

    auto open = fake::CallsTo("UnlhaOpenArchive");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].wnd, &window);
    EXPECT_EQ(open[0].text, "/tmp/a.lzh");
    EXPECT_EQ(open[0].mode, 0x800002);
    auto first = fake::CallsTo("UnlhaFindFirst");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].text, "*.txt");
    EXPECT_EQ(first[0].arc, arc);
    // Getters in the order write, access, creation, original size, compressed size.
    std::vector<std::string> getters;
    for (const auto &c : fake::Calls())
        if (c.entry.find("Get") != std::string::npos)
            getters.push_back(c.entry);
    ASSERT_GE(getters.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(getters.begin(), getters.begin() + 5),
              (std::vector<std::string>{"UnlhaGetWriteTimeEx", "UnlhaGetAccessTimeEx",
                                        "UnlhaGetCreateTimeEx", "UnlhaGetOriginalSizeEx",
                                        "UnlhaGetCompressedSizeEx"}));
}

TEST_F(Binding, WithoutGetWriteTimeExTheWriteTimeComesFromTheDosStamp) {
    fake::ScopedSearchPath path("no-writetime");
    auto dll = Lha();
    const ARC_FILETIME access{0x22222222, 0x01D00001};
    fake::SetItems({{.name = "a.txt", .date = 0x5A21, .time = 0x6000, .accessTime = access}});
    HARC arc = dll.OpenArchive(nullptr, "/a.lzh", 0);
    TIndividualInfoEx info{};
    ASSERT_EQ(dll.FindFirst(arc, "*", &info), 0);
    // No time-zone shift: exactly the DOS conversion.
    EXPECT_TRUE(Same(info.LastWriteTime, Dos(0x5A21, 0x6000)));
    EXPECT_TRUE(Same(info.LastAccessTime, access));
    EXPECT_TRUE(Same(info.CreationTime, Dos(0x5A21, 0x6000)));
}

TEST_F(Binding, WithoutAnyGetterListingStillSucceeds) {
    fake::ScopedSearchPath path("no-getters");
    auto dll = Lha();
    fake::SetItems({{.name = "a",
                     .originalSize = 4000000000u,
                     .compressedSize = 3,
                     .date = 0x4E21,
                     .time = 0x0001},
                    {.name = "bad-stamp", .date = 0, .time = 0}});
    HARC arc = dll.OpenArchive(nullptr, "/a.lzh", 0);
    TIndividualInfoEx info;
    std::memset(&info, 0xFF, sizeof info);
    ASSERT_EQ(dll.FindFirst(arc, "*", &info), 0);
    EXPECT_TRUE(Same(info.LastWriteTime, Dos(0x4E21, 0x0001)));
    EXPECT_TRUE(Same(info.LastAccessTime, info.LastWriteTime));
    EXPECT_EQ(Value(info.OriginalSize), 4000000000); // the unsigned 32-bit size, widened
    EXPECT_EQ(Value(info.CompressedSize), 3);
    // A DOS stamp that names no day gives no time, not what the record held before.
    ASSERT_EQ(dll.FindNext(arc, &info), 0);
    EXPECT_TRUE(Same(info.LastWriteTime, ARC_FILETIME{0, 0}));
}

TEST_F(Binding, FailedFindLeavesTheExtensionUntouched) {
    fake::ScopedSearchPath path("full");
    auto dll = Lha();
    fake::SetResult("UnlhaFindFirst", 32778);
    HARC arc = dll.OpenArchive(nullptr, "/a.yz1", 0);
    TIndividualInfoEx info;
    std::memset(&info, 0x5C, sizeof info);
    EXPECT_EQ(dll.FindFirst(arc, "*", &info), 32778);
    EXPECT_EQ(Value(info.OriginalSize), 0x5C5C5C5C5C5C5C5C);
    EXPECT_EQ(Value(info.LastWriteTime.dwLowDateTime), 0x5C5C5C5Cu);
}

TEST_F(Binding, OtherOperationsPassTheirArguments) {
    fake::ScopedSearchPath path("full");
    TArchiverDll dll("7z", "7-zip32.dll", "SevenZip");
    ArcWindow window{nullptr};
    int marker = 0;
    fake::SetResult("SevenZipCheckArchive", 0);
    fake::SetResult("SevenZipGetArchiveType", 4);
    fake::SetMemory("abcdef");
    EXPECT_EQ(dll.CheckArchive("/x.7z", 17), 0);
    EXPECT_EQ(dll.GetArchiveType("/x.7z"), 4);
    EXPECT_EQ(dll.SetOwnerWindowEx(&window, &marker), 1);
    unsigned char buffer[4];
    DWORD written = 0;
    EXPECT_EQ(dll.ExtractMem(&window, " \"x.7z\" \"a\"", buffer, 4, nullptr, nullptr, &written), 0);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 4), "abcd");
    EXPECT_EQ(dll.KillOwnerWindowEx(&window), 1);

    auto calls = fake::Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].entry, "SevenZipCheckArchive");
    EXPECT_EQ(calls[0].text, "/x.7z");
    EXPECT_EQ(calls[0].mode, 17);
    EXPECT_EQ(calls[1].entry, "SevenZipGetArchiveType");
    EXPECT_EQ(calls[2].entry, "SevenZipSetOwnerWindowEx");
    EXPECT_EQ(calls[2].wnd, &window);
    EXPECT_EQ(calls[2].callback, &marker);
    EXPECT_EQ(calls[3].entry, "SevenZipExtractMem");
    EXPECT_EQ(calls[3].text, " \"x.7z\" \"a\"");
    EXPECT_EQ(calls[3].size, 4u);
    EXPECT_FALSE(calls[3].timePtr);
    EXPECT_FALSE(calls[3].attrPtr);
    EXPECT_TRUE(calls[3].writtenPtr);
    EXPECT_EQ(calls[4].entry, "SevenZipKillOwnerWindowEx");
    for (const auto &c : calls)
        EXPECT_EQ(c.library, "lib7-zip32.so");
}

// GetEntryPoint keeps what it found and remembers nothing about what it did not find.
TEST(GetEntryPoint, ResolvesOnceAndRetriesMisses) {
    void *sentinel = reinterpret_cast<void *>(&MessageOf);
    void *slot = sentinel;
    EXPECT_TRUE(GetEntryPoint(&slot, nullptr, "Anything", true));
    EXPECT_EQ(slot, sentinel);

    HMODULE without = platform::LoadLibrary(fake::Folder("no-writetime") + "/UNLHA32.DLL");
    HMODULE with = platform::LoadLibrary(fake::Folder("full") + "/UNLHA32.DLL");
    ASSERT_TRUE(without && with);
    ArcGetTimeExProc proc = nullptr;
    EXPECT_FALSE(GetEntryPoint(proc, without, "UnlhaGetWriteTimeEx", false));
    EXPECT_EQ(proc, nullptr);
    EXPECT_TRUE(GetEntryPoint(proc, with, "UnlhaGetWriteTimeEx", false));
    EXPECT_EQ(reinterpret_cast<void *>(proc),
              platform::GetProcAddress(with, "UnlhaGetWriteTimeEx"));
    // Now kept, even against a module that lacks it.
    EXPECT_TRUE(GetEntryPoint(proc, without, "UnlhaGetWriteTimeEx", true));

    ArcCommandProc main = nullptr;
    try {
        GetEntryPoint(main, without, "Nope", true);
        FAIL();
    } catch (const EEntryNotFound &e) {
        EXPECT_EQ(std::string(e.what()), fake::Folder("no-writetime") +
                                             "/libunlha32.so に Nope のエントリが見つかりません。");
    }
    platform::FreeLibrary(without);
    platform::FreeLibrary(with);
}

// The getters look up their entry on every call while it is missing, and the binding keeps
// working after each miss.
TEST_F(Binding, MissingOptionalGetterIsLookedUpAgainEachTime) {
    fake::ScopedSearchPath path("no-writetime");
    struct Probe : TArchiverDll {
        using TArchiverDll::TArchiverDll;
        bool WriteTimeResolved() const { return GetWriteTimeExProc != nullptr; }
        bool AccessTimeResolved() const { return GetAccessTimeExProc != nullptr; }
    } dll(kLha, "UNLHA32.DLL", "Unlha");
    dll.LoadDLL();
    ARC_FILETIME ft{};
    EXPECT_FALSE(dll.GetWriteTimeEx(nullptr, &ft));
    EXPECT_FALSE(dll.WriteTimeResolved());
    EXPECT_FALSE(dll.GetWriteTimeEx(nullptr, &ft));
    EXPECT_FALSE(dll.WriteTimeResolved());
    // A present getter is kept after its first lookup.
    EXPECT_FALSE(dll.GetAccessTimeEx(nullptr, &ft)); // no current item: the library says no
    EXPECT_TRUE(dll.AccessTimeResolved());
    EXPECT_EQ(fake::CallsTo("UnlhaGetAccessTimeEx").size(), 1u);
}

} // namespace
