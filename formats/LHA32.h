// The LHA back-end (UNLHA32.DLL, entries "Unlha..."): writes every switch of the record under its
// own name, in a fixed order, so a caller reaches any switch the library understands, and offers
// IsLhaArchive, the content probe of LHA archives.
#pragma once

#include "archives/ArchiverDll.h"
#include "archives/CmdOpt.h"
#include "formats/PrefixArchiver.h"

#include <memory>
#include <string>

namespace formats {

// The LHA binding, shared by every TLha32 and by IsLhaArchive; null until the first LoadDLL.
extern std::unique_ptr<archives::TArchiverDll> LhaDll;
extern const TPrefixBinding LhaBinding;

class TLha32 : public TPrefixArchiver {
public:
    TLha32();

    static void LoadDLL();
    static void FreeDLL();

    // x, u, d, f and s command lines; the UseResFile argument is not consulted: the options'
    // ResFileUsage decides (ruOnUnpack, ruOnPack, ruOnRemoveItem, ruOnUpdate; never for s).
    int Extract(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, const archives::TFileArgs &Files, bool UseResFile,
                std::string &Output) override;
    int Pack(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
             const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
             std::string &Output) override;
    // Writes no directory, whatever BaseDir holds.
    int Delete(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
               const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
               std::string &Output) override;
    int Update(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
               const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
               std::string &Output) override;
    // No file arguments.
    int MakeSfx(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, std::string &Output) override;
    // The command line has no command word (it begins with a blank) and EntryName as its file.
    int ExtractMem(HWND Wnd, const std::string &ArchiveName,
                   const archives::TArchiverOptions &Options, const std::string &EntryName,
                   void *Buffer, DWORD BufferSize, DWORD *WrittenSize) override;

    // Runs a command line through UNLHA32's main entry (also for a descendant whose own
    // operations use another library).
    int Execute(HWND Wnd, const std::string &CommandLine, std::string &Output) {
        return TPrefixArchiver::Execute(LhaBinding, Wnd, CommandLine, Output);
    }

    // Command word, then " -+", every switch of the record in the LHA order, the user's options,
    // the quoted archive name and directory, the files (or the "@" response file) and the user's
    // file list. While an owner window is registered, -n1 is written whatever n holds.
    std::string BuildLhaCommandLine(const std::string &Command, const std::string &ArchiveName,
                                    const archives::TArchiverOptions &Options,
                                    const std::string &Dir, const archives::TFileArgs &Files,
                                    bool UseResFile);

protected:
    // For a descendant (ARJ) that writes the LHA dialect but lists, checks and registers its
    // owner window through its own library: Class loads that library, Binding serves those
    // operations.
    TLha32(const archives::TArchiverClass &Class, const TPrefixBinding &Binding);
};

// True when the LHA library accepts FileName (check mode 16) and can open it (mode 0x800002).
// Never raises: a missing library answers false.
bool IsLhaArchive(const std::string &FileName);

} // namespace formats
