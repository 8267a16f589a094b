// The CAB back-end (CAB32.DLL, entries "Cab..."): cabinets, in the library's own short switch
// dialect. Extracts, packs, makes self-extracting cabinets, extracts one entry into memory, checks
// and lists; deleting entries and updating a cabinet are not supported (the base errors). Offers
// IsCabArchive, the content probe.
#pragma once

#include "archives/ArchiverDll.h"
#include "formats/PrefixArchiver.h"

#include <memory>
#include <string>

namespace formats {

// The CAB binding, shared by every TCab32 and by IsCabArchive; null until the first LoadDLL.
extern std::unique_ptr<archives::TArchiverDll> CabDll;
extern const TPrefixBinding CabBinding;

class TCab32 : public TPrefixArchiver {
public:
    TCab32();

    static void LoadDLL();
    static void FreeDLL();

    // "-x" with the archive's full path and DestDir; the response file follows ruOnUnpack.
    int Extract(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, const archives::TFileArgs &Files, bool UseResFile,
                std::string &Output) override;
    // "-a" with the name unchanged and BaseDir; the response file follows ruOnPack.
    int Pack(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
             const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
             std::string &Output) override;
    // "-f" with DestDir, no file arguments and never a response file.
    int MakeSfx(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, std::string &Output) override;
    // No command word, no directory, EntryName as the only file.
    int ExtractMem(HWND Wnd, const std::string &ArchiveName,
                   const archives::TArchiverOptions &Options, const std::string &EntryName,
                   void *Buffer, DWORD BufferSize, DWORD *WrittenSize) override;

    // Command word, then: c=1 "-o"; n>0 or an owner window "-i"; r>0 "-r"; the option w as
    // "-h<dir>/"; x=0 "-j"; ji>0 "-q"; the user's options; the quoted archive and directory; the
    // files (or the "@" response file) and the user's file list.
    std::string BuildCabCommandLine(const std::string &Command, const std::string &ArchiveName,
                                    const archives::TArchiverOptions &Options,
                                    const std::string &Dir, const archives::TFileArgs &Files,
                                    bool UseResFile);
    // The library's main entry "Cab" with Output as its text buffer; its result unchanged.
    int Execute(HWND Wnd, const std::string &CommandLine, std::string &Output) {
        return TPrefixArchiver::Execute(CabBinding, Wnd, CommandLine, Output);
    }
};

// True when the CAB library opens FileName (mode 0x800002). Never raises: a missing library
// answers false.
bool IsCabArchive(const std::string &FileName);

} // namespace formats
