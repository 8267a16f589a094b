#include "archivers/common/LibArchiveDriver.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/ExportGuard.h"

#include <memory>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace arclib {

int RunLibraryCommand(const LibArchiveLibrary &lib, HWND hwnd, const char *cmdLine, char *output,
                      DWORD size) noexcept {
    OutputBuffer out(output, size);
    return GuardCode(&out, [&] {
        ScopedUtf8Locale utf8;
        CommandLine cl = lib.parse(cmdLine ? cmdLine : "");
        Progress progress(hwnd);
        return lib.run(cl, progress, out);
    });
}

int RunLibraryExtractMem(const LibArchiveLibrary &lib, HWND hwnd, const char *cmdLine,
                         unsigned char *buffer, DWORD size, WORD *attr, DWORD *written) noexcept {
    if (written)
        *written = 0;
    return GuardCode(nullptr, [&] {
        ScopedUtf8Locale utf8;
        CommandLine cl = lib.parse(cmdLine ? cmdLine : "");
        if (cl.files.empty())
            throw ArcError(kArcErrCommandLine, "no entry named");
        Progress progress(hwnd);
        int r = ExtractToMemory(lib.archiveOf(cl), lib.setup, lib.select(cl), buffer, size, written,
                                progress);
        if (attr)
            *attr = 0x20; // archive bit: the entry is a file
        return r;
    });
}

HARC OpenLibraryArchive(const LibArchiveLibrary &lib, const char *archivePath) noexcept {
    return Guard<HARC>(nullptr, [&] {
        ScopedUtf8Locale utf8;
        std::string path = archivePath ? archivePath : "";
        std::vector<EntryInfo> entries;
        ReadArchive r = OpenReader(path, lib.setup);
        archive_entry *e = nullptr;
        while (NextHeader(r.get(), &e)) {
            EntryInfo info = ToEntryInfo(e);
            if (lib.describe)
                lib.describe(r.get(), info);
            entries.push_back(std::move(info));
            Check(r.get(), archive_read_data_skip(r.get()), kArcErrDamaged, entries.back().name);
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            EstimateCompressedSizes(entries, static_cast<uint64_t>(st.st_size));
        return RegisterHandle(std::make_unique<ArchiveHandle>(path, std::move(entries)));
    });
}

BOOL CheckLibraryArchive(const LibArchiveLibrary &lib, const char *archive, int mode) noexcept {
    return Guard<BOOL>(0, [&] { return CheckArchiveFile(archive, mode, lib.setup); });
}

} // namespace arclib
