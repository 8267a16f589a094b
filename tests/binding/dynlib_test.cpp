#include "FakeControl.h"
#include "platform/DynLib.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(DynLib, MapsWindowsLibraryNames) {
    struct Case {
        const char *name, *mapped;
    } cases[] = {
        {"UNLHA32.DLL", "libunlha32.so"},
        {"7-zip32.dll", "lib7-zip32.so"},
        {"Zip32J.Dll", "libzip32j.so"},
        {"/opt/x/CAB32.DLL", "/opt/x/libcab32.so"},
        {"libz.so.1", "libz.so.1"},
        {"UNLHA32.DLL.bak", "UNLHA32.DLL.bak"},
        {".dll", ".dll"},
        {"a.dll/b", "a.dll/b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(platform::MapLibraryName(c.name), c.mapped) << c.name;
}

TEST(DynLib, SearchesTheProgramFolderThenTheInstallLibraryFolder) {
    platform::SetLibrarySearchOverride(std::nullopt);
    unsetenv(platform::kLibrarySearchEnv);
    auto folders = platform::LibrarySearchFolders();
    std::string program =
        platform::ExcludeTrailingPathDelimiter(platform::ExtractFilePath(platform::ProgramPath()));
    ASSERT_GE(folders.size(), 2u);
    EXPECT_EQ(folders[0], program);
    EXPECT_EQ(folders[1], platform::ExpandFileName(program + "/../lib"));
    EXPECT_FALSE(platform::LibrarySearchOverridden());
}

TEST(DynLib, OverrideReplacesTheWholeSearch) {
    {
        fake::ScopedSearchPath path("full");
        platform::ModuleHandle h = platform::LoadLibrary("UNLHA32.DLL");
        ASSERT_NE(h, nullptr) << platform::LastLoadError();
        EXPECT_EQ(platform::GetModuleFileName(h), fake::Folder("full") + "/libunlha32.so");
        EXPECT_TRUE(platform::FreeLibrary(h));
    }
    {
        // Nothing is found outside the override, even a library the linker could find.
        fake::ScopedSearchPath path("empty");
        EXPECT_EQ(platform::LoadLibrary("UNLHA32.DLL"), nullptr);
        EXPECT_EQ(platform::LoadLibrary("libc.so.6"), nullptr);
        EXPECT_NE(platform::LastLoadError(), "");
    }
    EXPECT_FALSE(platform::LibrarySearchOverridden());
}

TEST(DynLib, EnvironmentVariableRedirectsTheSearchUnlessOverridden) {
    std::string value = fake::Folder("empty") + ":" + fake::Folder("no-main");
    setenv(platform::kLibrarySearchEnv, value.c_str(), 1);
    platform::ModuleHandle h = platform::LoadLibrary("UNLHA32.DLL");
    ASSERT_NE(h, nullptr) << platform::LastLoadError();
    EXPECT_EQ(platform::GetModuleFileName(h), fake::Folder("no-main") + "/libunlha32.so");
    platform::FreeLibrary(h);
    {
        fake::ScopedSearchPath path("full");
        h = platform::LoadLibrary("UNLHA32.DLL");
        EXPECT_EQ(platform::GetModuleFileName(h), fake::Folder("full") + "/libunlha32.so");
        platform::FreeLibrary(h);
    }
    unsetenv(platform::kLibrarySearchEnv);
}

TEST(DynLib, NameWithFolderIsLoadedFromThereOnly) {
    fake::ScopedSearchPath path("empty");
    platform::ModuleHandle h = platform::LoadLibrary(fake::Folder("full") + "/TAR32.DLL");
    ASSERT_NE(h, nullptr) << platform::LastLoadError();
    EXPECT_NE(platform::GetProcAddress(h, "TarOpenArchive"), nullptr);
    platform::FreeLibrary(h);
    EXPECT_EQ(platform::LoadLibrary(fake::Folder("empty") + "/TAR32.DLL"), nullptr);
}

TEST(DynLib, LoadingTwiceNeedsTwoFrees) {
    fake::ScopedSearchPath path("full");
    int attached = fake::Attachments("libbga32.so", "full");
    int detached = fake::Detachments("libbga32.so", "full");
    platform::ModuleHandle a = platform::LoadLibrary("BGA32.DLL");
    platform::ModuleHandle b = platform::LoadLibrary("bga32.dll");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(fake::Attachments("libbga32.so", "full"), attached + 1);
    platform::FreeLibrary(a);
    EXPECT_EQ(fake::Detachments("libbga32.so", "full"), detached);
    platform::FreeLibrary(b);
    EXPECT_EQ(fake::Detachments("libbga32.so", "full"), detached + 1);
}

TEST(DynLib, NullModuleResolvesNothingAndNamesTheProgram) {
    // dlsym would search the whole process for a null handle; the loader must not.
    EXPECT_EQ(platform::GetProcAddress(nullptr, "malloc"), nullptr);
    EXPECT_EQ(platform::GetModuleFileName(nullptr), platform::ProgramPath());
    EXPECT_FALSE(platform::FreeLibrary(nullptr));
}

} // namespace
