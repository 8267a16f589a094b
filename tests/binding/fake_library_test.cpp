// The fake libraries carry the names and entries the back-ends look for, so back-end tests can
// trust them.
#include "FakeControl.h"
#include "platform/DynLib.h"

#include <gtest/gtest.h>

namespace {

struct Module {
    platform::ModuleHandle h;
    explicit Module(const std::string &name) : h(platform::LoadLibrary(name)) {}
    ~Module() { platform::FreeLibrary(h); }
    bool Has(const std::string &entry) const { return platform::GetProcAddress(h, entry); }
};

TEST(FakeLibrary, PrefixLibrariesExportEveryEntryUnderTheirPrefix) {
    fake::ScopedSearchPath path("full");
    struct Case {
        const char *dll, *prefix;
    } cases[] = {{"UNLHA32.DLL", "Unlha"}, {"TAR32.DLL", "Tar"},      {"7-zip32.dll", "SevenZip"},
                 {"CAB32.DLL", "Cab"},     {"UNARJ32J.DLL", "Unarj"}, {"UNRAR32.DLL", "Unrar"},
                 {"BGA32.DLL", "Bga"},     {"YYZ32.DLL", "Yz1"},      {"YZ1.DLL", "Yz1"}};
    const char *suffixes[] = {"",
                              "OpenArchive",
                              "CloseArchive",
                              "FindFirst",
                              "FindNext",
                              "CheckArchive",
                              "SetOwnerWindowEx",
                              "KillOwnerWindowEx",
                              "ExtractMem",
                              "GetWriteTimeEx",
                              "GetCreateTimeEx",
                              "GetAccessTimeEx",
                              "GetOriginalSizeEx",
                              "GetCompressedSizeEx",
                              "GetArchiveType",
                              "SetDefaultPassword",
                              "PasswordDialog"};
    for (const auto &c : cases) {
        Module m(c.dll);
        ASSERT_NE(m.h, nullptr) << c.dll << ": " << platform::LastLoadError();
        for (const char *s : suffixes)
            EXPECT_TRUE(m.Has(std::string(c.prefix) + s)) << c.dll << " " << c.prefix << s;
        EXPECT_FALSE(m.Has("UnZip")) << c.dll;
    }
}

TEST(FakeLibrary, ZipLibrariesExportTheFixedNamesInTheirSpelling) {
    fake::ScopedSearchPath path("full");
    Module unzip("UNZIP32.DLL"), zip("ZIP32J.DLL"), lmzip("LMZIP32.DLL");
    ASSERT_TRUE(unzip.h && zip.h && lmzip.h);
    for (const char *fn :
         {"OpenArchive", "CloseArchive", "FindFirst", "FindNext", "CheckArchive", "ExtractMem",
          "SetOwnerWindowEx", "KillOwnerWindowEx", "GetCreateTimeEx", "GetAccessTimeEx"}) {
        EXPECT_TRUE(unzip.Has(std::string("UnZip") + fn)) << fn;
        EXPECT_TRUE(zip.Has(std::string("UnZip") + fn)) << fn;
        EXPECT_TRUE(lmzip.Has(std::string("Unzip") + fn)) << fn;
        EXPECT_FALSE(lmzip.Has(std::string("UnZip") + fn)) << fn;
    }
    for (const Module *m : {&unzip, &zip, &lmzip})
        EXPECT_TRUE(m->Has("UnzipGetWriteTimeEx"));
    EXPECT_TRUE(unzip.Has("UnZip"));
    EXPECT_FALSE(unzip.Has("Zip"));
    EXPECT_TRUE(zip.Has("Zip"));
    EXPECT_FALSE(zip.Has("UnZip"));
    EXPECT_TRUE(lmzip.Has("Zip"));
    EXPECT_TRUE(lmzip.Has("Unzip"));
}

TEST(FakeLibrary, VariantsLackTheirEntries) {
    Module noMain(fake::Folder("no-main") + "/UNLHA32.DLL");
    Module noWrite(fake::Folder("no-writetime") + "/UNLHA32.DLL");
    Module noGetters(fake::Folder("no-getters") + "/UNLHA32.DLL");
    EXPECT_FALSE(noMain.Has("Unlha"));
    EXPECT_TRUE(noMain.Has("UnlhaOpenArchive"));
    EXPECT_FALSE(noWrite.Has("UnlhaGetWriteTimeEx"));
    EXPECT_TRUE(noWrite.Has("UnlhaGetAccessTimeEx"));
    for (const char *g : {"GetWriteTimeEx", "GetCreateTimeEx", "GetAccessTimeEx",
                          "GetOriginalSizeEx", "GetCompressedSizeEx"})
        EXPECT_FALSE(noGetters.Has(std::string("Unlha") + g)) << g;
    EXPECT_TRUE(noGetters.Has("UnlhaFindFirst"));
}

struct AbortingWindow {
    ArcWindow base{&Proc};
    int stopAt = 0;
    std::vector<std::pair<WPARAM, std::string>> seen;
    static LRESULT Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
        auto *self = reinterpret_cast<AbortingWindow *>(h);
        if (msg != ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME))
            return 0;
        self->seen.emplace_back(w, reinterpret_cast<EXTRACTINGINFOEX *>(l)->szSourceFileName);
        return static_cast<int>(self->seen.size()) == self->stopAt ? 1 : 0;
    }
};

TEST(FakeLibrary, SendsProgressToTheRegisteredOwnerAndStopsWhenAsked) {
    fake::ScopedSearchPath path("full");
    fake::Reset();
    Module m("CAB32.DLL");
    auto setOwner = reinterpret_cast<ArcSetOwnerWindowExProc>(
        platform::GetProcAddress(m.h, "CabSetOwnerWindowEx"));
    auto command = reinterpret_cast<ArcCommandProc>(platform::GetProcAddress(m.h, "Cab"));
    ASSERT_TRUE(setOwner && command);
    fake::SetProgress({{.state = ARCEXTRACT_OPEN, .source = "x.cab"},
                       {.state = ARCEXTRACT_BEGIN, .source = "a.txt"},
                       {.state = ARCEXTRACT_END, .source = "a.txt"}});
    fake::SetOutput("done");

    // No owner: no progress, scripted result.
    fake::SetResult("Cab", 5);
    char out[3] = {'x', 'x', 'x'};
    EXPECT_EQ(command(nullptr, "-x", out, sizeof out), 5);
    EXPECT_STREQ(out, "do"); // cut to the buffer, NUL-ended

    AbortingWindow w;
    w.stopAt = 2;
    EXPECT_TRUE(setOwner(&w, nullptr));
    EXPECT_EQ(fake::OwnerWindow("libcab32.so"), &w);
    EXPECT_EQ(command(nullptr, "-x", nullptr, 0), ARC_ERROR_USER_CANCEL);
    ASSERT_EQ(w.seen.size(), 2u);
    EXPECT_EQ(w.seen[0].first, static_cast<WPARAM>(ARCEXTRACT_OPEN));
    EXPECT_EQ(w.seen[1].second, "a.txt");
    EXPECT_EQ(fake::ProgressAnswers(), (std::vector<int64_t>{0, 1}));
    auto calls = fake::CallsTo("Cab");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].result, ARC_ERROR_USER_CANCEL);
    EXPECT_FALSE(calls[1].buffer);
}

} // namespace

namespace {

TEST(FakeLibrary, LibrarySetOffersOnlyTheChosenFiles) {
    std::string folder;
    {
        fake::ScopedLibrarySet set({"full/libunzip32.so", "no-main/libunlha32.so"});
        folder = set.Folder();
        Module unzip("UNZIP32.DLL"), lha("UNLHA32.DLL");
        ASSERT_TRUE(unzip.h && lha.h);
        EXPECT_TRUE(unzip.Has("UnZip"));
        EXPECT_FALSE(lha.Has("Unlha"));
        EXPECT_TRUE(lha.Has("UnlhaOpenArchive"));
        EXPECT_EQ(platform::LoadLibrary("ZIP32J.DLL"), nullptr);
        EXPECT_EQ(platform::LoadLibrary("LMZIP32.DLL"), nullptr);
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_FALSE(platform::LibrarySearchOverridden());
}

} // namespace

namespace {

template <class F> F Entry(const Module &m, const char *name) {
    return reinterpret_cast<F>(platform::GetProcAddress(m.h, name));
}

// The answers back-end tests rely on when they script nothing, and the scripted ones.
TEST(FakeLibrary, DefaultAndScriptedAnswers) {
    fake::ScopedSearchPath path("full");
    fake::Reset();
    Module m("YZ1.DLL");
    auto open = Entry<ArcOpenArchiveProc>(m, "Yz1OpenArchive");
    auto check = Entry<ArcCheckArchiveProc>(m, "Yz1CheckArchive");
    auto first = Entry<ArcFindFirstProc>(m, "Yz1FindFirst");
    auto close = Entry<ArcCloseArchiveProc>(m, "Yz1CloseArchive");
    auto type = Entry<ArcGetArchiveTypeProc>(m, "Yz1GetArchiveType");
    auto setPassword = Entry<ArcSetDefaultPasswordProc>(m, "Yz1SetDefaultPassword");
    auto dialog = Entry<ArcPasswordDialogProc>(m, "Yz1PasswordDialog");
    ASSERT_TRUE(open && check && first && close && type && setPassword && dialog);

    EXPECT_EQ(check("/a.yz1", 16), 1);
    EXPECT_EQ(type("/a.yz1"), 0);
    HARC arc = open(nullptr, "/a.yz1", 0);
    ASSERT_NE(arc, nullptr);
    INDIVIDUALINFO info{};
    EXPECT_EQ(first(arc, "*", &info), -1); // no items scripted
    EXPECT_EQ(setPassword(arc, "secret"), 0);
    EXPECT_EQ(close(arc), 0);

    fake::SetResult("Yz1OpenArchive", 0);
    fake::SetResult("Yz1CheckArchive", 0, "libyz1.so");
    fake::SetResult("Yz1CheckArchive", 5, "libyyz32.so"); // another library: no effect here
    fake::SetResult("Yz1PasswordDialog", -1);
    fake::SetPassword("pw");
    EXPECT_EQ(open(nullptr, "/a.yz1", 0), nullptr);
    EXPECT_EQ(check("/a.yz1", 16), 0);
    char buffer[256] = "x";
    EXPECT_EQ(dialog(nullptr, buffer, sizeof buffer), -1);
    EXPECT_STREQ(buffer, "pw");

    auto calls = fake::Calls();
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(calls[4].entry, "Yz1SetDefaultPassword");
    EXPECT_EQ(calls[4].text, "secret");
    EXPECT_EQ(calls[4].arc, arc);
    EXPECT_EQ(calls[8].size, 256u);
    for (const auto &c : calls)
        EXPECT_EQ(c.library, "libyz1.so");
}

} // namespace
