// The 7z back-end, through 7-zip32.dll (entries "SevenZip..."): extracts, packs, deletes, tests
// and lists; makes self-extracting archives by joining a module of the 7-Zip installation (and an
// optional configuration file) with the archive. No content probe: ".7z" alone selects it.
#pragma once

#include "archives/ArchiverDll.h"
#include "formats/PrefixArchiver.h"
#include "platform/Registry.h"

#include <array>
#include <memory>
#include <string>

namespace formats {

// The 7z binding, shared by every TSevenZip32; null until the first LoadDLL.
extern std::unique_ptr<archives::TArchiverDll> SevenZipDll;
extern const TPrefixBinding SevenZipBinding;

// The self-extractor modules of 7-Zip; the first is the default.
extern const std::array<const char *, 5> SevenZipSfxModules;
// The module MakeSfx uses; empty until the first MakeSfx sets the default, or the caller sets one
// (a bare name is looked up in the 7-Zip folder, then on the search path).
extern std::string SevenZipSfxModule;
// A configuration file put between module and archive; empty for none.
extern std::string SevenZipSfxConfig;

// The registry look-up of the platform: the string value or empty; ERegistryException for a value
// of another type.
using platform::ReadRegistryString;

class TSevenZip32 : public TPrefixArchiver {
public:
    TSevenZip32();

    static void LoadDLL();
    static void FreeDLL();

    // "x" ("e" when x = 0) with DestDir, "u" with BaseDir, "d" without a directory; the
    // response-file choice is ruOnUnpack / ruOnPack / ruOnRemoveItem of the options'
    // ResFileUsage, not the UseResFile argument.
    int Extract(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, const archives::TFileArgs &Files, bool UseResFile,
                std::string &Output) override;
    int Pack(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
             const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
             std::string &Output) override;
    int Delete(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
               const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
               std::string &Output) override;
    // Writes <archive>.exe (in DestDir when given) as the module, the configuration file when
    // set, then the archive; no library call. gw must be > 0 (no 16-bit self-extractor).
    int MakeSfx(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, std::string &Output) override;
    // Mode + Flags; a sum that does not fit raises std::overflow_error.
    int CheckArchive(const std::string &ArchiveName, int Mode, int Flags) override;

    // Command word, then: for "x" one of "-aou" (m=2), "-aos" (jn>0), "-aoa" (c>0); "-ms=off";
    // n>0 "-hide"; r=0 "-r-"; r>1 "-r"; "-w<dir>/" when w is set; y>0 "-y"; "-x!<line>" per line
    // of jx; "-o<dir>/" when Dir is set; the user's options; the quoted archive name; the files
    // and the user's list. "x" becomes "e" when x = 0.
    std::string BuildSevenZipCommandLine(const std::string &Command, const std::string &ArchiveName,
                                         const archives::TArchiverOptions &Options,
                                         const std::string &Dir, const archives::TFileArgs &Files,
                                         bool UseResFile);
    // The library's main entry "SevenZip" with Output as its text buffer.
    int Execute(HWND Wnd, const std::string &CmdLine, std::string &Output);
};

} // namespace formats
