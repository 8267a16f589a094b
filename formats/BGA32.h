// The BGA back-end (BGA32.DLL, entries "Bga..."): GZA and BZA archives. Extracts, packs, deletes,
// makes self-extracting archives through the library, tests and lists; offers IsBgaArchive, the
// content probe. No BGA library exists for Linux: a user who installs one as libbga32.so in the
// library folder gets it used; without it every operation raises the missing-library message.
#pragma once

#include "archives/ArchiverDll.h"
#include "formats/PrefixArchiver.h"

#include <memory>
#include <string>

namespace formats {

// The BGA binding, shared by every TBGA32 and by IsBgaArchive; null until the first LoadDLL.
extern std::unique_ptr<archives::TArchiverDll> BgaDll;
extern const TPrefixBinding BgaBinding;

class TBGA32 : public TPrefixArchiver {
public:
    TBGA32();

    static void LoadDLL();
    static void FreeDLL();

    // "x" with DestDir and "a" with BaseDir, both with the call's UseResFile.
    int Extract(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, const archives::TFileArgs &Files, bool UseResFile,
                std::string &Output) override;
    int Pack(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
             const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
             std::string &Output) override;
    // "d" without a directory; the response file follows ruOnRemoveItem, not UseResFile.
    int Delete(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
               const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
               std::string &Output) override;
    // "s" with DestDir and no names; with ruOnRemoveItem and a response-file name, an empty
    // response file is still written and referenced.
    int MakeSfx(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, std::string &Output) override;
    // Mode 2 is asked as 1; then Mode + Flags (std::overflow_error when the sum does not fit).
    int CheckArchive(const std::string &ArchiveName, int Mode, int Flags) override;

    // Command word, then: a>0 "-a"; c>0 "-o", else "-n" (always one of them); n>0 or an owner
    // window "-i"; r>0 "-r"; x<1 "-j"; jm>=0 "-l<jm>"; the user's options; the quoted archive
    // and directory; the files (or the "@" response file) and the user's file list.
    std::string BuildBgaCommandLine(const std::string &CommandWord, const std::string &ArchiveName,
                                    const archives::TArchiverOptions &Options,
                                    const std::string &Dir, const archives::TFileArgs &Files,
                                    bool UseResFile);
    // The library's main entry "Bga" with Output as its text buffer; its result unchanged.
    int Execute(HWND Wnd, const std::string &CmdLine, std::string &Output);
};

// True when the BGA library opens FileName (mode 0x800002). A name that is no file answers false
// without asking the library. Never raises: a missing library answers false.
bool IsBgaArchive(const std::string &FileName);

} // namespace formats
