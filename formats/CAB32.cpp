#include "formats/CAB32.h"

#include "platform/Paths.h"

namespace formats {

using archives::TArchiverOptions;
using archives::TCmdOpt;
using archives::TFileArgs;

std::unique_ptr<archives::TArchiverDll> CabDll;
const TPrefixBinding CabBinding{"CAB 形式書庫", "CAB32.DLL", "Cab", CabDll};

TCab32::TCab32() : TPrefixArchiver(archives::ArchiverClassOf<TCab32>(), CabBinding) {}

void TCab32::LoadDLL() {
    CabBinding.Load();
}

void TCab32::FreeDLL() {
    CabBinding.Free();
}

std::string TCab32::BuildCabCommandLine(const std::string &Command, const std::string &ArchiveName,
                                        const TArchiverOptions &Options, const std::string &Dir,
                                        const TFileArgs &Files, bool UseResFile) {
    TCmdOpt cmd;
    cmd.AddFlag("o", Options.c == 1);
    cmd.AddFlag("i", Options.n > 0 || HasOwnerWindow());
    cmd.AddFlag("r", Options.r > 0);
    // The library's switch for the work folder is -h; the LHA -w is never written.
    cmd.AddDirectory("h", Options.w);
    cmd.AddFlag("j", Options.x == 0);
    cmd.AddFlag("q", Options.ji > 0);
    cmd.Add(Options.UserOptions);
    AddArchiveAndDir(cmd, ArchiveName, Dir);
    AddFileList(cmd, Options, UseResFile, Files);
    return Command + cmd.CommandLine;
}

int TCab32::Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, const TFileArgs &Files, bool /*UseResFile*/,
                    std::string &Output) {
    CommandLine = BuildCabCommandLine("-x", platform::ExpandFileName(ArchiveName), Options, DestDir,
                                      Files, Options.ResFileUsage.Contains(archives::ruOnUnpack));
    return Execute(Wnd, CommandLine, Output);
}

int TCab32::Pack(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                 const std::string &BaseDir, const TFileArgs &Files, bool /*UseResFile*/,
                 std::string &Output) {
    CommandLine = BuildCabCommandLine("-a", ArchiveName, Options, BaseDir, Files,
                                      Options.ResFileUsage.Contains(archives::ruOnPack));
    return Execute(Wnd, CommandLine, Output);
}

int TCab32::MakeSfx(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, std::string &Output) {
    CommandLine = BuildCabCommandLine("-f", ArchiveName, Options, DestDir, TFileArgs{}, false);
    return Execute(Wnd, CommandLine, Output);
}

int TCab32::ExtractMem(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                       const std::string &EntryName, void *Buffer, DWORD BufferSize,
                       DWORD *WrittenSize) {
    CommandLine = BuildCabCommandLine(std::string(), ArchiveName, Options, std::string(),
                                      TFileArgs{archives::TFileArg(EntryName)}, false);
    return ExecuteMem(CabBinding, Wnd, CommandLine, Buffer, BufferSize, WrittenSize);
}

bool IsCabArchive(const std::string &FileName) {
    return PrefixProbe(CabBinding, FileName,
                       [](archives::TArchiverDll &dll, const std::string &path) {
                           HARC arc = dll.OpenArchive(nullptr, path, 0x800002);
                           if (!arc)
                               return false;
                           dll.CloseArchive(arc);
                           return true;
                       });
}

} // namespace formats
