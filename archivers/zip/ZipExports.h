// The entries both ZIP libraries export under the fixed ZIP names: listing, time and size getters,
// archive check, memory extraction and owner window. Each library's export file expands these.
#pragma once

#include "archiver_api.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/Listing.h"
#include "archivers/common/Progress.h"
#include "archivers/zip/ZipArchiver.h"

#define ZIP_EXPORT extern "C" __attribute__((visibility("default")))

#define ZIP_DEFINE_SHARED_EXPORTS()                                                                \
    ZIP_EXPORT HARC UnZipOpenArchive(HWND, const char *archive, DWORD) {                           \
        return arclib::Guard<HARC>(                                                                \
            nullptr, [&]() -> HARC { return archive ? zipar::OpenZip(archive) : nullptr; });       \
    }                                                                                              \
    ZIP_EXPORT int UnZipCloseArchive(HARC harc) {                                                  \
        return arclib::ExportCloseArchive(harc);                                                   \
    }                                                                                              \
    ZIP_EXPORT int UnZipFindFirst(HARC harc, const char *wildName, INDIVIDUALINFO *info) {         \
        return arclib::ExportFindFirst(harc, wildName, info);                                      \
    }                                                                                              \
    ZIP_EXPORT int UnZipFindNext(HARC harc, INDIVIDUALINFO *info) {                                \
        return arclib::ExportFindNext(harc, info);                                                 \
    }                                                                                              \
    /* The write-time getter is spelled with a lower-case z; the other spelling is kept too. */    \
    ZIP_EXPORT BOOL UnzipGetWriteTimeEx(HARC harc, ARC_FILETIME *ft) {                             \
        return arclib::ExportGetWriteTime(harc, ft);                                               \
    }                                                                                              \
    ZIP_EXPORT BOOL UnZipGetWriteTimeEx(HARC harc, ARC_FILETIME *ft) {                             \
        return arclib::ExportGetWriteTime(harc, ft);                                               \
    }                                                                                              \
    ZIP_EXPORT BOOL UnZipGetCreateTimeEx(HARC harc, ARC_FILETIME *ft) {                            \
        return arclib::ExportGetCreateTime(harc, ft);                                              \
    }                                                                                              \
    ZIP_EXPORT BOOL UnZipGetAccessTimeEx(HARC harc, ARC_FILETIME *ft) {                            \
        return arclib::ExportGetAccessTime(harc, ft);                                              \
    }                                                                                              \
    ZIP_EXPORT BOOL UnZipGetOriginalSizeEx(HARC harc, int64_t *size) {                             \
        return arclib::ExportGetOriginalSize(harc, size);                                          \
    }                                                                                              \
    ZIP_EXPORT BOOL UnZipGetCompressedSizeEx(HARC harc, int64_t *size) {                           \
        return arclib::ExportGetCompressedSize(harc, size);                                        \
    }                                                                                              \
    ZIP_EXPORT BOOL UnZipCheckArchive(const char *archive, int mode) {                             \
        return arclib::Guard<BOOL>(                                                                \
            0, [&]() -> BOOL { return archive ? zipar::CheckZip(archive, mode) : 0; });            \
    }                                                                                              \
    ZIP_EXPORT int UnZipExtractMem(HWND hwnd, const char *cmdLine, unsigned char *buffer,          \
                                   DWORD size, void *time, WORD *attr, DWORD *written) {           \
        if (written)                                                                               \
            *written = 0;                                                                          \
        return arclib::GuardCode(nullptr, [&] {                                                    \
            arclib::Progress progress(hwnd);                                                       \
            return zipar::RunExtractMem(cmdLine ? cmdLine : "", buffer, size, written,             \
                                        static_cast<uint32_t *>(time), attr, progress);            \
        });                                                                                        \
    }                                                                                              \
    ZIP_EXPORT BOOL UnZipSetOwnerWindowEx(HWND hwnd, void *) {                                     \
        return arclib::Guard<BOOL>(0, [&] { return arclib::OwnerWindows::Set(hwnd); });            \
    }                                                                                              \
    ZIP_EXPORT BOOL UnZipKillOwnerWindowEx(HWND hwnd) {                                            \
        return arclib::Guard<BOOL>(0, [&] { return arclib::OwnerWindows::Kill(hwnd); });           \
    }
