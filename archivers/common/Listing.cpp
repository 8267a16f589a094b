#include "archivers/common/Listing.h"

#include <algorithm>

#include "archivers/common/ArcErrors.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/Wildcard.h"
#include "platform/CodePage.h"
#include "platform/FileTime.h"

#include <cstring>
#include <map>
#include <sys/stat.h>

namespace arclib {

bool EntryInfo::IsDirectory() const {
    return S_ISDIR(mode) || (!name.empty() && name.back() == '/');
}

DWORD ClampToDword(uint64_t v) {
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(v);
}

WORD RatioPerMille(uint64_t compressed, uint64_t original) {
    if (original == 0)
        return 0;
    // Scale down first so that huge sizes cannot overflow the product.
    while (compressed > (UINT64_MAX / 1000)) {
        compressed >>= 1;
        original >>= 1;
    }
    if (original == 0)
        return 0;
    uint64_t r = compressed * 1000 / original;
    // Stored data is never nothing: a ratio below one per mille shows as one.
    if (r == 0 && compressed > 0)
        r = 1;
    return r > 0xFFFF ? 0xFFFF : static_cast<WORD>(r);
}

void CopyName(char *field, size_t fieldSize, std::string_view name) {
    if (fieldSize == 0)
        return;
    size_t n = name.size();
    if (n > fieldSize - 1) {
        n = fieldSize - 1;
        while (n > 0 && !platform::IsCharStart(name, n, platform::CodePage::Utf8))
            --n;
    }
    std::memcpy(field, name.data(), n);
    std::memset(field + n, 0, fieldSize - n);
}

void DosDateTime(int64_t unixSeconds, WORD &date, WORD &time) {
    uint16_t d = 0, t = 0;
    platform::UnixToLocalDosDateTime(unixSeconds, d, t);
    date = d;
    time = t;
}

std::string AttributeText(uint32_t mode) {
    std::string s = S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : "-";
    s += mode & S_IRUSR ? 'r' : '-';
    s += mode & S_IWUSR ? 'w' : '-';
    s += mode & S_IXUSR ? 'x' : '-';
    s += mode & S_IRGRP ? 'r' : '-';
    s += mode & S_IWGRP ? 'w' : '-';
    s += mode & S_IXGRP ? 'x' : '-';
    return s;
}

void FillIndividualInfo(const EntryInfo &e, INDIVIDUALINFO &info) {
    std::memset(&info, 0, sizeof info);
    info.dwOriginalSize = ClampToDword(e.size);
    info.dwCompressedSize = ClampToDword(e.compressedSize);
    info.dwCRC = e.crc;
    info.uOSType = e.osType;
    info.wRatio = RatioPerMille(e.compressedSize, e.size);
    DosDateTime(e.mtime, info.wDate, info.wTime);
    CopyName(info.szFileName, sizeof info.szFileName, e.name);
    CopyName(info.szAttribute, sizeof info.szAttribute, AttributeText(e.mode));
    CopyName(info.szMode, sizeof info.szMode, e.method);
}

void EstimateCompressedSizes(std::vector<EntryInfo> &entries, uint64_t archiveBytes) {
    long double total = 0;
    for (const auto &e : entries)
        total += static_cast<long double>(e.size);
    if (total <= 0)
        return;
    for (auto &e : entries)
        if (e.compressedSize == 0 && e.size > 0)
            e.compressedSize = std::max<uint64_t>(
                1, static_cast<uint64_t>(static_cast<long double>(archiveBytes) *
                                         static_cast<long double>(e.size) / total));
}

ArchiveHandle::ArchiveHandle(std::string path, std::vector<EntryInfo> entries)
    : path_(std::move(path)), entries_(std::move(entries)) {}

int ArchiveHandle::FindFirst(const char *wildName, INDIVIDUALINFO *info) {
    patterns_.clear();
    // Several patterns may be given separated by blanks, each optionally quoted.
    std::string cur;
    bool quoted = false;
    for (const char *p = wildName ? wildName : ""; *p; ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else if ((*p == ' ' || *p == '\t') && !quoted) {
            if (!cur.empty())
                patterns_.push_back(std::move(cur));
            cur.clear();
        } else {
            cur += *p;
        }
    }
    if (!cur.empty())
        patterns_.push_back(std::move(cur));
    next_ = 0;
    current_ = nullptr;
    return Advance(info);
}

int ArchiveHandle::FindNext(INDIVIDUALINFO *info) {
    return Advance(info);
}

int ArchiveHandle::Advance(INDIVIDUALINFO *info) {
    while (next_ < entries_.size()) {
        const EntryInfo &e = entries_[next_++];
        bool match = patterns_.empty();
        for (const auto &p : patterns_) {
            std::string_view name = e.name;
            if (MatchesEverything(p) || WildcardMatch(p, name)) {
                match = true;
                break;
            }
            // Folders are listed with a trailing '/', which a pattern need not spell.
            if (!name.empty() && name.back() == '/' &&
                WildcardMatch(p, name.substr(0, name.size() - 1))) {
                match = true;
                break;
            }
        }
        if (!match)
            continue;
        current_ = &e;
        if (info)
            FillIndividualInfo(e, *info);
        return 0;
    }
    return -1;
}

const EntryInfo *ArchiveHandle::Current() const {
    return current_;
}

namespace {
std::mutex g_handlesMutex;
std::map<HARC, std::unique_ptr<ArchiveHandle>> &Handles() {
    static std::map<HARC, std::unique_ptr<ArchiveHandle>> handles;
    return handles;
}

BOOL FillTime(HARC harc, ARC_FILETIME *ft, int which) {
    return Guard<BOOL>(0, [&]() -> BOOL {
        ArchiveHandle *h = FindHandle(harc);
        if (!h || !ft || !h->Current())
            return 0;
        const EntryInfo &e = *h->Current();
        platform::FileTime t;
        if (which == 0)
            t = platform::UnixToFileTime(e.mtime, e.mtimeNs);
        else if (which == 1 && e.hasCtime)
            t = platform::UnixToFileTime(e.ctime, e.ctimeNs);
        else if (which == 2 && e.hasAtime)
            t = platform::UnixToFileTime(e.atime, e.atimeNs);
        else
            return 0;
        ft->dwLowDateTime = t.low;
        ft->dwHighDateTime = t.high;
        return 1;
    });
}
} // namespace

HARC RegisterHandle(std::unique_ptr<ArchiveHandle> handle) {
    std::lock_guard lock(g_handlesMutex);
    HARC key = handle.get();
    Handles()[key] = std::move(handle);
    return key;
}

ArchiveHandle *FindHandle(HARC harc) {
    std::lock_guard lock(g_handlesMutex);
    auto it = Handles().find(harc);
    return it == Handles().end() ? nullptr : it->second.get();
}

bool CloseHandle(HARC harc) {
    std::unique_ptr<ArchiveHandle> doomed; // destroyed outside the lock
    std::lock_guard lock(g_handlesMutex);
    auto it = Handles().find(harc);
    if (it == Handles().end())
        return false;
    doomed = std::move(it->second);
    Handles().erase(it);
    return true;
}

int ExportCloseArchive(HARC harc) {
    return GuardCode(nullptr, [&] { return CloseHandle(harc) ? 0 : int{kArcErrHandle}; });
}

int ExportFindFirst(HARC harc, const char *wildName, INDIVIDUALINFO *info) {
    return GuardCode(nullptr, [&] {
        ArchiveHandle *h = FindHandle(harc);
        return h ? h->FindFirst(wildName, info) : int{kArcErrHandle};
    });
}

int ExportFindNext(HARC harc, INDIVIDUALINFO *info) {
    return GuardCode(nullptr, [&] {
        ArchiveHandle *h = FindHandle(harc);
        return h ? h->FindNext(info) : int{kArcErrHandle};
    });
}

BOOL ExportGetWriteTime(HARC harc, ARC_FILETIME *ft) {
    return FillTime(harc, ft, 0);
}
BOOL ExportGetCreateTime(HARC harc, ARC_FILETIME *ft) {
    return FillTime(harc, ft, 1);
}
BOOL ExportGetAccessTime(HARC harc, ARC_FILETIME *ft) {
    return FillTime(harc, ft, 2);
}

BOOL ExportGetOriginalSize(HARC harc, int64_t *size) {
    return Guard<BOOL>(0, [&]() -> BOOL {
        ArchiveHandle *h = FindHandle(harc);
        if (!h || !size || !h->Current())
            return 0;
        *size = static_cast<int64_t>(h->Current()->size);
        return 1;
    });
}

BOOL ExportGetCompressedSize(HARC harc, int64_t *size) {
    return Guard<BOOL>(0, [&]() -> BOOL {
        ArchiveHandle *h = FindHandle(harc);
        if (!h || !size || !h->Current())
            return 0;
        *size = static_cast<int64_t>(h->Current()->compressedSize);
        return 1;
    });
}

} // namespace arclib
