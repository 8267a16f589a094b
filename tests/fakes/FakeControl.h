// Test-side control of the scriptable fake archiver libraries.
//
// What they are: one source (fake_archiver.cpp) built under the archiver library names the formats
// load, e.g. libunlha32.so exporting Unlha, UnlhaOpenArchive, ... and the ZIP libraries with their
// fixed names (libunzip32.so/libzip32j.so: "UnZip...", liblmzip32.so: "Unzip..."). They live in
// <build>/fakes/<variant>/, never in <build>/lib, so they cannot shadow the real libraries:
//   full/          every library with every entry (unzip32 lacks "Zip", zip32j lacks "UnZip")
//   no-writetime/  libunlha32.so without UnlhaGetWriteTimeEx
//   no-getters/    libunlha32.so without the five time and size getters
//   no-main/       libunlha32.so without the main entry "Unlha"
//   empty/         no library at all (every load fails)
// Some libraries present, others missing: fake::ScopedLibrarySet({"full/libunzip32.so"}).
// More variants: include(tests/fakes/FakeArchiver.cmake) and call quorvel_add_fake_archiver()
// (see there), e.g. a ZIP set lacking a library or an entry.
//
// Every fake records every call into one journal shared by all fakes of the process (this
// library, libquorvel_fakecontrol.so), and answers from the script the test sets here.
//
// Use:
//   target_link_libraries(my_test PRIVATE quorvel quorvel_fakecontrol GTest::gtest_main)
//   add_dependencies(my_test quorvel_fakes)
//
//   fake::ScopedSearchPath path("full");      // the loader finds only <build>/fakes/full
//   fake::Reset();                             // empty journal, default answers
//   fake::SetResult("Unlha", 7);               // the main entry answers 7
//   fake::SetOutput("hello");                  // text written into the caller's output buffer
//   fake::SetItems({{.name = "a.txt", .originalSize = 10, .date = 0x5A21, .time = 0x6000}});
//   fake::SetProgress({{.state = ARCEXTRACT_BEGIN, .source = "a.txt"}});
//   ... run the back-end (it loads "UNLHA32.DLL" through the platform loader) ...
//   auto calls = fake::CallsTo("Unlha");      // entry as exported: ZIP tests see "UnzipFindFirst"
//   EXPECT_EQ(calls.at(0).text, "x -+ ...");   // the command line as the library received it
//
// Default answers: command entries and ExtractMem 0; OpenArchive a fresh handle (SetResult(entry,
// 0) makes it fail); FindFirst/FindNext walk the items, -1 at the end; CloseArchive 0;
// CheckArchive 1; SetOwnerWindowEx/KillOwnerWindowEx 1; GetArchiveType 0; the getters answer the
// current item's value when it has one, else 0 (false). A scripted result replaces the answer of
// the matching entry (in every library, or only in `library` when given) except that FindFirst and
// FindNext still fill the record when the scripted result is 0.
// Progress: while a command entry or ExtractMem runs, each scripted step is sent as
// "wm_arcextract" to the window registered with SetOwnerWindowEx of that library (none: nothing is
// sent); a non-zero answer stops the run with 32800.
// Environment route: QUORVEL_ARCHIVER_PATH=<folder>[:<folder>...] does what ScopedSearchPath does,
// for programs run as a whole (set it as a test ENVIRONMENT property).
#pragma once

#include "archiver_api.h"
#include "platform/DynLib.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace fake {

struct Call {
    std::string library; // the file the fake was built as, e.g. "libunlha32.so"
    std::string variant; // its build folder, e.g. "full"
    std::string entry;   // the exported name called, e.g. "UnlhaOpenArchive"
    HWND wnd = nullptr;
    std::string text;         // command line, archive path or wildcard; password text
    int64_t mode = 0;         // open or check mode
    uint64_t size = 0;        // size of the output, memory or password buffer
    bool buffer = false;      // a non-null output/memory/password buffer was passed
    HARC arc = nullptr;       // the archive handle passed (or returned by OpenArchive)
    void *callback = nullptr; // SetOwnerWindowEx's callback
    bool timePtr = false;     // ExtractMem: a time out-parameter was passed
    bool attrPtr = false;     // ExtractMem: an attribute out-parameter was passed
    bool writtenPtr = false;  // ExtractMem: a written-count pointer was passed
    int64_t result = 0;       // what the fake answered (handles as numbers)
};

// One archive member as FindFirst/FindNext report it.
struct Item {
    std::string name{};
    uint32_t originalSize = 0;
    uint32_t compressedSize = 0;
    uint32_t crc = 0;
    uint32_t flag = 0;
    uint32_t osType = 0;
    uint16_t ratio = 0;
    uint16_t date = 0; // DOS date
    uint16_t time = 0; // DOS time
    std::string attribute{};
    std::string method{}; // e.g. "-lh5-"
    // Answers of the getters; unset makes the getter answer false.
    std::optional<ARC_FILETIME> writeTime{}, createTime{}, accessTime{};
    std::optional<int64_t> originalSize64{}, compressedSize64{};
};

// One "wm_arcextract" message.
struct Progress {
    int state = ARCEXTRACT_BEGIN;
    std::string source{};
    std::string dest{};
    uint32_t fileSize = 0;
    uint32_t writeSize = 0;
};

void Reset();
// Scripted answer of an entry (exported name), in every library or only in `library`.
void SetResult(const std::string &entry, int64_t result, const std::string &library = {});
// Text the command entries write into the caller's output buffer (cut to its size, NUL-ended);
// nothing is written while no output is set. An empty entry means every command entry.
void SetOutput(const std::string &text, const std::string &entry = {});
void SetItems(std::vector<Item> items);
void SetProgress(std::vector<Progress> steps);
// Bytes ExtractMem copies into the caller's buffer (as much as fits; the count is written).
void SetMemory(std::string bytes);
// What PasswordDialog writes into its buffer (its answer is set with SetResult).
void SetPassword(std::string password);

std::vector<Call> Calls();
std::vector<Call> CallsTo(const std::string &entry);
// Answers of the owner window to the progress messages, in order.
std::vector<int64_t> ProgressAnswers();
// The window registered with SetOwnerWindowEx of that library, null when none.
HWND OwnerWindow(const std::string &library);
// How often a fake library file was loaded into / unloaded from the process (since start, not
// cleared by Reset).
int Attachments(const std::string &library, const std::string &variant = {});
int Detachments(const std::string &library, const std::string &variant = {});

// <build>/fakes/<variant>
std::string Folder(const std::string &variant);

// Points the platform loader at one or more fake folders for the lifetime of the object; names not
// found there are missing (the real libraries are never searched).
class ScopedSearchPath {
public:
    explicit ScopedSearchPath(const std::string &variant)
        : ScopedSearchPath(std::vector{variant}) {}
    explicit ScopedSearchPath(const std::vector<std::string> &variants) {
        std::vector<std::string> folders;
        for (const auto &v : variants)
            folders.push_back(v.find('/') == std::string::npos ? Folder(v) : v);
        platform::SetLibrarySearchOverride(folders);
    }
    ~ScopedSearchPath() { platform::SetLibrarySearchOverride(std::nullopt); }
    ScopedSearchPath(const ScopedSearchPath &) = delete;
    ScopedSearchPath &operator=(const ScopedSearchPath &) = delete;
};

// Points the platform loader at a folder holding only the chosen fake library files, given as
// "<variant>/<file>" (e.g. {"full/libunzip32.so", "no-main/libunlha32.so"}), for the lifetime of
// the object: the way to test with some libraries present and others missing.
class ScopedLibrarySet {
public:
    explicit ScopedLibrarySet(const std::vector<std::string> &files) {
        namespace fs = std::filesystem;
        folder_ =
            fs::temp_directory_path() / ("quorvel_fakes_" + std::to_string(std::random_device{}()) +
                                         "_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        for (const auto &f : files) {
            fs::path target =
                fs::path(fake::Folder(fs::path(f).parent_path().string())) / fs::path(f).filename();
            fs::create_symlink(target, folder_ / fs::path(f).filename());
        }
        platform::SetLibrarySearchOverride(std::vector<std::string>{folder_.string()});
    }
    ~ScopedLibrarySet() {
        platform::SetLibrarySearchOverride(std::nullopt);
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    ScopedLibrarySet(const ScopedLibrarySet &) = delete;
    ScopedLibrarySet &operator=(const ScopedLibrarySet &) = delete;
    std::string Folder() const { return folder_.string(); }

private:
    std::filesystem::path folder_;
};

// What the fake libraries call; not for tests.
namespace detail {
struct Origin {
    const char *library;
    const char *variant;
};
int Command(const Origin &o, const char *entry, HWND wnd, const char *cmd, char *out, DWORD size);
HARC OpenArchive(const Origin &o, const char *entry, HWND wnd, const char *archive, DWORD mode);
int CloseArchive(const Origin &o, const char *entry, HARC arc);
int FindFirst(const Origin &o, const char *entry, HARC arc, const char *wild, INDIVIDUALINFO *info);
int FindNext(const Origin &o, const char *entry, HARC arc, INDIVIDUALINFO *info);
BOOL CheckArchive(const Origin &o, const char *entry, const char *archive, int mode);
BOOL SetOwnerWindowEx(const Origin &o, const char *entry, HWND wnd, void *callback);
BOOL KillOwnerWindowEx(const Origin &o, const char *entry, HWND wnd);
int ExtractMem(const Origin &o, const char *entry, HWND wnd, const char *cmd, unsigned char *buffer,
               DWORD size, void *time, WORD *attr, DWORD *written);
enum class TimeKind { Write, Create, Access };
BOOL GetTime(const Origin &o, const char *entry, HARC arc, ARC_FILETIME *time, TimeKind kind);
enum class SizeKind { Original, Compressed };
BOOL GetSize(const Origin &o, const char *entry, HARC arc, int64_t *size, SizeKind kind);
int GetArchiveType(const Origin &o, const char *entry, const char *archive);
int SetDefaultPassword(const Origin &o, const char *entry, HARC arc, const char *password);
int PasswordDialog(const Origin &o, const char *entry, HWND wnd, char *buffer, DWORD size);
void Attach(const Origin &o);
void Detach(const Origin &o);
} // namespace detail

} // namespace fake
