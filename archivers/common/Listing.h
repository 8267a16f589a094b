// Listing handles: OpenArchive reads an archive's entries once into an ArchiveHandle; FindFirst and
// FindNext walk them with a wildcard and fill INDIVIDUALINFO; the Get...Ex getters answer for the
// entry found last. Handles are registered per library, so a stale or foreign handle is refused
// instead of being dereferenced.
#pragma once

#include "archiver_api.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/Progress.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace arclib {

struct EntryInfo {
    std::string name; // UTF-8, '/' between folders, folders end in '/'
    uint64_t size = 0;
    bool sizeKnown = false; // the header declares the size (data beyond it is damage)
    uint64_t compressedSize = 0;
    uint32_t crc = 0;
    uint32_t mode = 0; // st_mode: type and permission bits
    int64_t mtime = 0, mtimeNs = 0;
    int64_t ctime = 0, ctimeNs = 0; // creation (birth) time
    int64_t atime = 0, atimeNs = 0;
    bool hasCtime = false, hasAtime = false;
    uint32_t osType = 0;
    std::string method;     // at most 7 bytes ("-tar-", "LZMA2")
    std::string linkTarget; // symbolic or hard link target
    bool hardlink = false;  // a hard link to linkTarget (data, when any, comes with it)
    bool encrypted = false; // the data cannot be read without a password
    bool IsDirectory() const;
};

// Helpers shared with the progress record.
DWORD ClampToDword(uint64_t v);
WORD RatioPerMille(uint64_t compressed, uint64_t original);
// Copies a name into a fixed field, cut at a character boundary, NUL-terminated.
void CopyName(char *field, size_t fieldSize, std::string_view name);
// DOS date and time of a Unix time, as local time (0 and 0 for times DOS cannot hold).
void DosDateTime(int64_t unixSeconds, WORD &date, WORD &time);
// Seven characters: the type ('d' folder, 'l' link, '-' file) and the owner's and group's rwx.
std::string AttributeText(uint32_t mode);

void FillIndividualInfo(const EntryInfo &e, INDIVIDUALINFO &info);

// Entries whose compressed size the format does not give get a share of the archive's size in
// proportion to their size (an estimate, for the ratio column).
void EstimateCompressedSizes(std::vector<EntryInfo> &entries, uint64_t archiveBytes);

class ArchiveHandle {
public:
    ArchiveHandle(std::string path, std::vector<EntryInfo> entries);
    virtual ~ArchiveHandle() = default;
    // 0 with info filled when an entry matches, -1 when none is left.
    int FindFirst(const char *wildName, INDIVIDUALINFO *info);
    int FindNext(INDIVIDUALINFO *info);
    const EntryInfo *Current() const; // the entry found last, or null
    const std::string &Path() const { return path_; }
    const std::vector<EntryInfo> &Entries() const { return entries_; }

private:
    int Advance(INDIVIDUALINFO *info);
    std::string path_;
    std::vector<EntryInfo> entries_;
    std::vector<std::string> patterns_;
    size_t next_ = 0;
    const EntryInfo *current_ = nullptr;
};

// The library's open handles.
HARC RegisterHandle(std::unique_ptr<ArchiveHandle> handle);
ArchiveHandle *FindHandle(HARC harc); // null when unknown
bool CloseHandle(HARC harc);          // false when unknown

// Bodies of the exported listing functions, with every exception caught.
int ExportCloseArchive(HARC harc);
int ExportFindFirst(HARC harc, const char *wildName, INDIVIDUALINFO *info);
int ExportFindNext(HARC harc, INDIVIDUALINFO *info);
BOOL ExportGetWriteTime(HARC harc, ARC_FILETIME *ft);
BOOL ExportGetCreateTime(HARC harc, ARC_FILETIME *ft);
BOOL ExportGetAccessTime(HARC harc, ARC_FILETIME *ft);
BOOL ExportGetOriginalSize(HARC harc, int64_t *size);
BOOL ExportGetCompressedSize(HARC harc, int64_t *size);

} // namespace arclib

// Defines the exported listing, getter and owner-window entries of a library whose entry names are
// its prefix and the usual suffixes ("Tar" gives TarCloseArchive, TarFindFirst, ...).
#define ARCLIB_DEFINE_COMMON_EXPORTS(P)                                                            \
    extern "C" __attribute__((visibility("default"))) int P##CloseArchive(HARC harc) {             \
        return arclib::ExportCloseArchive(harc);                                                   \
    }                                                                                              \
    extern "C" __attribute__((visibility("default"))) int P##FindFirst(                            \
        HARC harc, const char *wildName, INDIVIDUALINFO *info) {                                   \
        return arclib::ExportFindFirst(harc, wildName, info);                                      \
    }                                                                                              \
    extern "C"                                                                                     \
        __attribute__((visibility("default"))) int P##FindNext(HARC harc, INDIVIDUALINFO *info) {  \
        return arclib::ExportFindNext(harc, info);                                                 \
    }                                                                                              \
    extern "C" __attribute__((visibility("default")))                                              \
    BOOL P##GetWriteTimeEx(HARC harc, ARC_FILETIME *ft) {                                          \
        return arclib::ExportGetWriteTime(harc, ft);                                               \
    }                                                                                              \
    extern "C" __attribute__((visibility("default")))                                              \
    BOOL P##GetCreateTimeEx(HARC harc, ARC_FILETIME *ft) {                                         \
        return arclib::ExportGetCreateTime(harc, ft);                                              \
    }                                                                                              \
    extern "C" __attribute__((visibility("default")))                                              \
    BOOL P##GetAccessTimeEx(HARC harc, ARC_FILETIME *ft) {                                         \
        return arclib::ExportGetAccessTime(harc, ft);                                              \
    }                                                                                              \
    extern "C" __attribute__((visibility("default")))                                              \
    BOOL P##GetOriginalSizeEx(HARC harc, int64_t *size) {                                          \
        return arclib::ExportGetOriginalSize(harc, size);                                          \
    }                                                                                              \
    extern "C" __attribute__((visibility("default")))                                              \
    BOOL P##GetCompressedSizeEx(HARC harc, int64_t *size) {                                        \
        return arclib::ExportGetCompressedSize(harc, size);                                        \
    }                                                                                              \
    extern "C" __attribute__((visibility("default")))                                              \
    BOOL P##SetOwnerWindowEx(HWND hwnd, void *) {                                                  \
        return arclib::Guard<BOOL>(0, [&] { return arclib::OwnerWindows::Set(hwnd); });            \
    }                                                                                              \
    extern "C" __attribute__((visibility("default"))) BOOL P##KillOwnerWindowEx(HWND hwnd) {       \
        return arclib::Guard<BOOL>(0, [&] { return arclib::OwnerWindows::Kill(hwnd); });           \
    }
