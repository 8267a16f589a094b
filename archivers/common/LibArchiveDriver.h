// The driver of the libraries whose archives libarchive reads (TAR32, 7-zip32, ...). A library
// gives its settings once: how its command lines read, which formats its reader accepts, what
// its commands do and how its listing names methods. The driver supplies the exported entry
// points around them: the command, extraction into memory, the listing handle and the check.
#pragma once

#include "archiver_api.h"
#include "archivers/common/CommandLine.h"
#include "archivers/common/LibArchive.h"
#include "archivers/common/Listing.h"
#include "archivers/common/OutputBuffer.h"
#include "archivers/common/Progress.h"
#include "archivers/common/Wildcard.h"

#include <functional>
#include <string>

namespace arclib {

struct LibArchiveLibrary {
    // Reads a command line of the library's dialect (never given a null line).
    std::function<CommandLine(const char *line)> parse;
    // The formats and filters its reader accepts.
    ReaderSetup setup;
    // Runs one parsed command line: the library's own commands.
    std::function<int(const CommandLine &, Progress &, OutputBuffer &)> run;
    // The archive a command line names; throws ArcError(kArcErrCommandLine) when it names none.
    std::function<std::string(const CommandLine &)> archiveOf;
    // The entries a memory extraction may take, from the names of a command line.
    std::function<EntrySelector(const CommandLine &)> select;
    // Completes an entry of the listing (method, OS, compressed size when the format stores it)
    // while the reader stands on it. Sizes left 0 are estimated from the archive's size.
    std::function<void(archive *reader, EntryInfo &)> describe;
};

// The bodies of the exported functions; every exception is caught.
int RunLibraryCommand(const LibArchiveLibrary &lib, HWND hwnd, const char *cmdLine, char *output,
                      DWORD size) noexcept;
int RunLibraryExtractMem(const LibArchiveLibrary &lib, HWND hwnd, const char *cmdLine,
                         unsigned char *buffer, DWORD size, WORD *attr, DWORD *written) noexcept;
HARC OpenLibraryArchive(const LibArchiveLibrary &lib, const char *archive) noexcept;
BOOL CheckLibraryArchive(const LibArchiveLibrary &lib, const char *archive, int mode) noexcept;

} // namespace arclib

// Defines P, PExtractMem, POpenArchive and PCheckArchive over the settings that settings()
// (a function returning const LibArchiveLibrary &) gives, and the common listing exports.
#define ARCLIB_DEFINE_LIBARCHIVE_EXPORTS(P, settings)                                              \
    extern "C" __attribute__((visibility("default"))) int P(HWND hwnd, const char *cmdLine,        \
                                                            char *output, DWORD size) {            \
        return arclib::RunLibraryCommand(settings(), hwnd, cmdLine, output, size);                 \
    }                                                                                              \
    extern "C" __attribute__((visibility("default"))) int P##ExtractMem(                           \
        HWND hwnd, const char *cmdLine, unsigned char *buffer, DWORD size, void *, WORD *attr,     \
        DWORD *written) {                                                                          \
        return arclib::RunLibraryExtractMem(settings(), hwnd, cmdLine, buffer, size, attr,         \
                                            written);                                              \
    }                                                                                              \
    extern "C" __attribute__((visibility("default")))                                              \
    HARC P##OpenArchive(HWND, const char *archive, DWORD) {                                        \
        return arclib::OpenLibraryArchive(settings(), archive);                                    \
    }                                                                                              \
    extern "C" __attribute__((visibility("default")))                                              \
    BOOL P##CheckArchive(const char *archive, int mode) {                                          \
        return arclib::CheckLibraryArchive(settings(), archive, mode);                             \
    }                                                                                              \
    ARCLIB_DEFINE_COMMON_EXPORTS(P)
