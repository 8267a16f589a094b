// The RAR back-end (UNRAR32.DLL, entries "Unrar..."): extract-only. Extracts, extracts one entry
// into memory, checks and lists; packing, deleting, updating and making self-extractors raise the
// base class's not-supported errors. Offers IsRarArchive, the content probe.
#pragma once

#include "archives/ArchiverDll.h"
#include "formats/PrefixArchiver.h"

#include <memory>
#include <string>

namespace formats {

// The RAR binding, shared by every TRar32 and by IsRarArchive; null until the first LoadDLL.
extern std::unique_ptr<archives::TArchiverDll> RarDll;
extern const TPrefixBinding RarBinding;

class TRar32 : public TPrefixArchiver {
public:
    TRar32();

    static void LoadDLL();
    static void FreeDLL();

    // "-x" (or "-e" when x is 0) with DestDir; the response file follows ruOnUnpack, not the
    // UseResFile argument.
    int Extract(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, const archives::TFileArgs &Files, bool UseResFile,
                std::string &Output) override;
    // No command word, no directory, EntryName as the only file.
    int ExtractMem(HWND Wnd, const std::string &ArchiveName,
                   const archives::TArchiverOptions &Options, const std::string &EntryName,
                   void *Buffer, DWORD BufferSize, DWORD *WrittenSize) override;
    // Mode + Flags (std::overflow_error when the sum does not fit).
    int CheckArchive(const std::string &ArchiveName, int Mode, int Flags) override;

    // Command word, then: c<1 "-u"; m>0 "-y"; p>0 "-s"; the user's options; the quoted archive
    // and directory; the files (or the "@" response file) and the user's file list.
    std::string BuildRarCommandLine(const std::string &CommandWord, const std::string &ArchiveName,
                                    const archives::TArchiverOptions &Options,
                                    const std::string &Dir, const archives::TFileArgs &Files,
                                    bool UseResFile);
    // The library's main entry "Unrar" with Output as its text buffer; its result unchanged.
    int Execute(HWND Wnd, const std::string &CmdLine, std::string &Output) {
        return TPrefixArchiver::Execute(RarBinding, Wnd, CmdLine, Output);
    }
};

// True when the RAR library opens FileName (mode 0x800002); the handle is closed, also when it is
// 0. Never raises: a missing library answers false.
bool IsRarArchive(const std::string &FileName);

} // namespace formats
