#include "formats/BGA32.h"

#include "formats/IntOverflow.h"
#include "platform/Paths.h"

namespace formats {

using archives::TArchiverOptions;
using archives::TCmdOpt;
using archives::TFileArgs;

std::unique_ptr<archives::TArchiverDll> BgaDll;
const TPrefixBinding BgaBinding{"BGA 形式書庫", "BGA32.DLL", "Bga", BgaDll};

TBGA32::TBGA32() : TPrefixArchiver(archives::ArchiverClassOf<TBGA32>(), BgaBinding) {}

void TBGA32::LoadDLL() {
    BgaBinding.Load();
}

void TBGA32::FreeDLL() {
    BgaBinding.Free();
}

std::string TBGA32::BuildBgaCommandLine(const std::string &CommandWord,
                                        const std::string &ArchiveName,
                                        const TArchiverOptions &Options, const std::string &Dir,
                                        const TFileArgs &Files, bool UseResFile) {
    TCmdOpt cmd;
    cmd.AddFlag("a", Options.a > 0);
    // The library has no default for existing files: it is told one way or the other.
    cmd.Add(Options.c > 0 ? "-o" : "-n");
    cmd.AddFlag("i", Options.n > 0 || HasOwnerWindow());
    cmd.AddFlag("r", Options.r > 0);
    cmd.AddFlag("j", Options.x < 1);
    cmd.AddNumber("l", Options.jm);
    cmd.Add(Options.UserOptions);
    AddArchiveAndDir(cmd, ArchiveName, Dir);
    AddFileList(cmd, Options, UseResFile, Files);
    return CommandWord + cmd.CommandLine;
}

int TBGA32::Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, const TFileArgs &Files, bool UseResFile,
                    std::string &Output) {
    CommandLine = BuildBgaCommandLine("x", ArchiveName, Options, DestDir, Files, UseResFile);
    return Execute(Wnd, CommandLine, Output);
}

int TBGA32::Pack(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                 const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
                 std::string &Output) {
    CommandLine = BuildBgaCommandLine("a", ArchiveName, Options, BaseDir, Files, UseResFile);
    return Execute(Wnd, CommandLine, Output);
}

int TBGA32::Delete(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                   const std::string & /*BaseDir*/, const TFileArgs &Files, bool /*UseResFile*/,
                   std::string &Output) {
    CommandLine = BuildBgaCommandLine("d", ArchiveName, Options, std::string(), Files,
                                      Options.ResFileUsage.Contains(archives::ruOnRemoveItem));
    return Execute(Wnd, CommandLine, Output);
}

int TBGA32::MakeSfx(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, std::string &Output) {
    // One empty name: it expands to nothing, but a response file is still written for it.
    CommandLine = BuildBgaCommandLine("s", ArchiveName, Options, DestDir,
                                      TFileArgs{archives::TFileArg(std::string())},
                                      Options.ResFileUsage.Contains(archives::ruOnRemoveItem));
    return Execute(Wnd, CommandLine, Output);
}

int TBGA32::CheckArchive(const std::string &ArchiveName, int Mode, int Flags) {
    return Dll().CheckArchive(ArchiveName, AddChecked(Mode == 2 ? 1 : Mode, Flags));
}

int TBGA32::Execute(HWND Wnd, const std::string &CmdLine, std::string &Output) {
    return TPrefixArchiver::Execute(BgaBinding, Wnd, CmdLine, Output);
}

bool IsBgaArchive(const std::string &FileName) {
    return PrefixProbe(BgaBinding, FileName,
                       [](archives::TArchiverDll &dll, const std::string &path) {
                           if (!platform::FileExists(path))
                               return false;
                           HARC arc = dll.OpenArchive(nullptr, path, 0x800002);
                           dll.CloseArchive(arc);
                           return arc != nullptr;
                       });
}

} // namespace formats
