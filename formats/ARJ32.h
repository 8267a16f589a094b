// The ARJ back-end (UNARJ32J.DLL, entries "Unarj..."): extracts, lists and checks ARJ archives,
// writing its command lines in the LHA dialect (it is a TLha32 that lists, checks and registers
// its owner window through its own library, never through UNLHA32). Offers IsArjArchive, the
// content probe.
//
// An ARJ library reads archives only, so packing, deleting, updating and making a self-extractor
// raise the base class's not-supported errors instead of sending LHA commands for an ARJ archive
// to the LHA library. Memory extraction goes to UNARJ32J in the LHA dialect.
#pragma once

#include "archives/ArchiverDll.h"
#include "formats/LHA32.h"

#include <memory>
#include <string>

namespace formats {

// The ARJ binding, shared by every TArj32 and by IsArjArchive; null until the first LoadDLL.
extern std::unique_ptr<archives::TArchiverDll> ArjDll;
extern const TPrefixBinding ArjBinding;

class TArj32 : public TLha32 {
public:
    TArj32();

    static void LoadDLL();
    static void FreeDLL();

    // The LHA "x" command line with DestDir; the response file follows the UseResFile argument,
    // not ResFileUsage.
    int Extract(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, const archives::TFileArgs &Files, bool UseResFile,
                std::string &Output) override;
    // Not supported for ARJ archives (the base errors); the library is not called.
    int Pack(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
             const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
             std::string &Output) override;
    int Delete(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
               const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
               std::string &Output) override;
    int Update(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
               const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
               std::string &Output) override;
    int MakeSfx(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, std::string &Output) override;
    // The LHA memory-extraction command line (no command word, EntryName as the only file), sent
    // to UNARJ32J.
    int ExtractMem(HWND Wnd, const std::string &ArchiveName,
                   const archives::TArchiverOptions &Options, const std::string &EntryName,
                   void *Buffer, DWORD BufferSize, DWORD *WrittenSize) override;

    // Runs a command line through UNARJ32J's main entry "Unarj"; its result unchanged.
    int Execute(HWND Wnd, const std::string &CommandLine, std::string &Output) {
        return TPrefixArchiver::Execute(ArjBinding, Wnd, CommandLine, Output);
    }
};

// True when the ARJ library opens FileName (mode 0x800002). Never raises: a missing library
// answers false.
bool IsArjArchive(const std::string &FileName);

} // namespace formats
