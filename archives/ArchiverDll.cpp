#include "archives/ArchiverDll.h"

#include "archives/Exceptions.h"
#include "platform/DynLib.h"
#include "platform/FileTime.h"

#include <cstring>

namespace archives {

namespace {

constexpr const char *kEntryNotFound = "%0:s に %1:s のエントリが見つかりません。";
constexpr const char *kNoArchiverDll = "%0:s を扱うには %1:s が 必要です。";

// A base operation reached with an unresolved slot is a subclass that skipped its lookup: report
// it as the missing entry it is rather than calling through a null address.
template <class F> F Required(F slot, const char *operation) {
    if (!slot)
        throw EEntryNotFound(
            FormatMessage(kEntryNotFound, {platform::GetModuleFileName(nullptr), operation}));
    return slot;
}

ARC_FILETIME ToArc(platform::FileTime ft) {
    return {ft.low, ft.high};
}

ARC_FILETIME DosToFileTime(WORD date, WORD time) {
    platform::FileTime ft;
    // An impossible DOS stamp gives no time at all rather than whatever the record held.
    if (!platform::DosDateTimeToFileTime(date, time, ft))
        return {0, 0};
    return ToArc(ft);
}

// The library fills an INDIVIDUALINFO; the caller's record starts with the same 558 bytes.
template <class Call> int CallWithInfo(TIndividualInfoEx *info, Call call) {
    INDIVIDUALINFO plain;
    static_assert(sizeof(plain) <= sizeof(*info));
    std::memcpy(&plain, info, sizeof(plain));
    int result = call(&plain);
    std::memcpy(info, &plain, sizeof(plain));
    return result;
}

} // namespace

bool GetEntryPoint(void **slot, HMODULE module, const std::string &name, bool required) {
    if (*slot)
        return true;
    if (void *address = platform::GetProcAddress(module, name)) {
        *slot = address;
        return true;
    }
    if (required)
        throw EEntryNotFound(
            FormatMessage(kEntryNotFound, {platform::GetModuleFileName(module), name}));
    return false;
}

// ---------------------------------------------------------------------------------------------
// TCustomArchiverDll

TCustomArchiverDll::~TCustomArchiverDll() {
    TCustomArchiverDll::FreeDLL();
}

void TCustomArchiverDll::FreeDLL() {
    CommandProc = nullptr;
    OpenArchiveProc = nullptr;
    CloseArchiveProc = nullptr;
    FindFirstProc = nullptr;
    FindNextProc = nullptr;
    ExtractMemProc = nullptr;
    CheckArchiveProc = nullptr;
    SetOwnerWindowExProc = nullptr;
    KillOwnerWindowExProc = nullptr;
    GetWriteTimeExProc = nullptr;
    GetCreateTimeExProc = nullptr;
    GetAccessTimeExProc = nullptr;
    GetOriginalSizeExProc = nullptr;
    GetCompressedSizeExProc = nullptr;
    GetArchiveTypeProc = nullptr;
}

int TCustomArchiverDll::Command(HWND wnd, const std::string &cmdLine, char *output, DWORD size) {
    return Required(CommandProc, "Command")(wnd, cmdLine.c_str(), size == 0 ? nullptr : output,
                                            size);
}

BOOL TCustomArchiverDll::CheckArchive(const std::string &archive, int mode) {
    return Required(CheckArchiveProc, "CheckArchive")(archive.c_str(), mode);
}

int TCustomArchiverDll::CloseArchive(HARC arc) {
    return Required(CloseArchiveProc, "CloseArchive")(arc);
}

int TCustomArchiverDll::ExtractMem(HWND wnd, const std::string &cmdLine, unsigned char *buffer,
                                   DWORD size, void *time, WORD *attr, DWORD *written) {
    return Required(ExtractMemProc, "ExtractMem")(wnd, cmdLine.c_str(), buffer, size, time, attr,
                                                  written);
}

int TCustomArchiverDll::FindFirst(HARC arc, const std::string &wildName, TIndividualInfoEx *info) {
    auto proc = Required(FindFirstProc, "FindFirst");
    int result = CallWithInfo(
        info, [&](INDIVIDUALINFO *plain) { return proc(arc, wildName.c_str(), plain); });
    if (result == 0)
        CompleteInfo(arc, info);
    return result;
}

int TCustomArchiverDll::FindNext(HARC arc, TIndividualInfoEx *info) {
    auto proc = Required(FindNextProc, "FindNext");
    int result = CallWithInfo(info, [&](INDIVIDUALINFO *plain) { return proc(arc, plain); });
    if (result == 0)
        CompleteInfo(arc, info);
    return result;
}

int TCustomArchiverDll::KillOwnerWindowEx(HWND wnd) {
    return Required(KillOwnerWindowExProc, "KillOwnerWindowEx")(wnd);
}

HARC TCustomArchiverDll::OpenArchive(HWND wnd, const std::string &archive, DWORD mode) {
    return Required(OpenArchiveProc, "OpenArchive")(wnd, archive.c_str(), mode);
}

int TCustomArchiverDll::SetOwnerWindowEx(HWND wnd, void *callback) {
    return Required(SetOwnerWindowExProc, "SetOwnerWindowEx")(wnd, callback);
}

BOOL TCustomArchiverDll::GetWriteTimeEx(HARC arc, ARC_FILETIME *time) {
    return GetWriteTimeExProc ? GetWriteTimeExProc(arc, time) : 0;
}

BOOL TCustomArchiverDll::GetCreateTimeEx(HARC arc, ARC_FILETIME *time) {
    return GetCreateTimeExProc ? GetCreateTimeExProc(arc, time) : 0;
}

BOOL TCustomArchiverDll::GetAccessTimeEx(HARC arc, ARC_FILETIME *time) {
    return GetAccessTimeExProc ? GetAccessTimeExProc(arc, time) : 0;
}

BOOL TCustomArchiverDll::GetOriginalSizeEx(HARC arc, int64_t *size) {
    return GetOriginalSizeExProc ? GetOriginalSizeExProc(arc, size) : 0;
}

BOOL TCustomArchiverDll::GetCompressedSizeEx(HARC arc, int64_t *size) {
    return GetCompressedSizeExProc ? GetCompressedSizeExProc(arc, size) : 0;
}

int TCustomArchiverDll::GetArchiveType(const std::string &archive) {
    return Required(GetArchiveTypeProc, "GetArchiveType")(archive.c_str());
}

void TCustomArchiverDll::CompleteInfo(HARC arc, TIndividualInfoEx *info) {
    // Locals, not the packed fields' addresses: the record's fields are not aligned.
    auto timeOf = [&](BOOL (TCustomArchiverDll::*getter)(HARC, ARC_FILETIME *)) {
        ARC_FILETIME ft{0, 0};
        return (this->*getter)(arc, &ft) ? ft : DosToFileTime(info->wDate, info->wTime);
    };
    auto sizeOf = [&](BOOL (TCustomArchiverDll::*getter)(HARC, int64_t *), DWORD fallback) {
        int64_t value = 0;
        return (this->*getter)(arc, &value) ? value : static_cast<int64_t>(fallback);
    };
    info->LastWriteTime = timeOf(&TCustomArchiverDll::GetWriteTimeEx);
    info->LastAccessTime = timeOf(&TCustomArchiverDll::GetAccessTimeEx);
    info->CreationTime = timeOf(&TCustomArchiverDll::GetCreateTimeEx);
    info->OriginalSize = sizeOf(&TCustomArchiverDll::GetOriginalSizeEx, info->dwOriginalSize);
    info->CompressedSize = sizeOf(&TCustomArchiverDll::GetCompressedSizeEx, info->dwCompressedSize);
}

// ---------------------------------------------------------------------------------------------
// TArchiverDll

TArchiverDll::TArchiverDll(std::string formatName, std::string dllName, std::string prefix)
    : FFormatName(std::move(formatName)), FDllName(std::move(dllName)), FPrefix(std::move(prefix)) {
}

TArchiverDll::~TArchiverDll() {
    TArchiverDll::FreeDLL();
}

void TArchiverDll::LoadDLL() {
    if (!FHandle)
        FHandle = platform::LoadLibrary(FDllName);
    if (!FHandle)
        throw ENoArchiverDLL(FormatMessage(kNoArchiverDll, {FFormatName, FDllName}));
}

void TArchiverDll::FreeDLL() {
    TCustomArchiverDll::FreeDLL();
    if (FHandle) {
        platform::FreeLibrary(FHandle);
        FHandle = nullptr;
    }
}

int TArchiverDll::Command(HWND wnd, const std::string &cmdLine, char *output, DWORD size) {
    LoadDLL();
    Resolve(CommandProc, "", true);
    return TCustomArchiverDll::Command(wnd, cmdLine, output, size);
}

BOOL TArchiverDll::CheckArchive(const std::string &archive, int mode) {
    LoadDLL();
    Resolve(CheckArchiveProc, "CheckArchive", true);
    return TCustomArchiverDll::CheckArchive(archive, mode);
}

int TArchiverDll::CloseArchive(HARC arc) {
    LoadDLL();
    Resolve(CloseArchiveProc, "CloseArchive", true);
    return TCustomArchiverDll::CloseArchive(arc);
}

int TArchiverDll::ExtractMem(HWND wnd, const std::string &cmdLine, unsigned char *buffer,
                             DWORD size, void *time, WORD *attr, DWORD *written) {
    Resolve(ExtractMemProc, "ExtractMem", true);
    return TCustomArchiverDll::ExtractMem(wnd, cmdLine, buffer, size, time, attr, written);
}

int TArchiverDll::FindFirst(HARC arc, const std::string &wildName, TIndividualInfoEx *info) {
    LoadDLL();
    Resolve(FindFirstProc, "FindFirst", true);
    return TCustomArchiverDll::FindFirst(arc, wildName, info);
}

int TArchiverDll::FindNext(HARC arc, TIndividualInfoEx *info) {
    Resolve(FindNextProc, "FindNext", true);
    return TCustomArchiverDll::FindNext(arc, info);
}

int TArchiverDll::KillOwnerWindowEx(HWND wnd) {
    Resolve(KillOwnerWindowExProc, "KillOwnerWindowEx", true);
    return TCustomArchiverDll::KillOwnerWindowEx(wnd);
}

HARC TArchiverDll::OpenArchive(HWND wnd, const std::string &archive, DWORD mode) {
    LoadDLL();
    Resolve(OpenArchiveProc, "OpenArchive", true);
    return TCustomArchiverDll::OpenArchive(wnd, archive, mode);
}

int TArchiverDll::SetOwnerWindowEx(HWND wnd, void *callback) {
    Resolve(SetOwnerWindowExProc, "SetOwnerWindowEx", true);
    return TCustomArchiverDll::SetOwnerWindowEx(wnd, callback);
}

BOOL TArchiverDll::GetWriteTimeEx(HARC arc, ARC_FILETIME *time) {
    Resolve(GetWriteTimeExProc, "GetWriteTimeEx", false);
    return TCustomArchiverDll::GetWriteTimeEx(arc, time);
}

BOOL TArchiverDll::GetCreateTimeEx(HARC arc, ARC_FILETIME *time) {
    Resolve(GetCreateTimeExProc, "GetCreateTimeEx", false);
    return TCustomArchiverDll::GetCreateTimeEx(arc, time);
}

BOOL TArchiverDll::GetAccessTimeEx(HARC arc, ARC_FILETIME *time) {
    Resolve(GetAccessTimeExProc, "GetAccessTimeEx", false);
    return TCustomArchiverDll::GetAccessTimeEx(arc, time);
}

BOOL TArchiverDll::GetOriginalSizeEx(HARC arc, int64_t *size) {
    Resolve(GetOriginalSizeExProc, "GetOriginalSizeEx", false);
    return TCustomArchiverDll::GetOriginalSizeEx(arc, size);
}

BOOL TArchiverDll::GetCompressedSizeEx(HARC arc, int64_t *size) {
    Resolve(GetCompressedSizeExProc, "GetCompressedSizeEx", false);
    return TCustomArchiverDll::GetCompressedSizeEx(arc, size);
}

int TArchiverDll::GetArchiveType(const std::string &archive) {
    LoadDLL();
    Resolve(GetArchiveTypeProc, "GetArchiveType", true);
    return TCustomArchiverDll::GetArchiveType(archive);
}

} // namespace archives
