#include "formats/RAR32.h"

#include "formats/IntOverflow.h"

namespace formats {

using archives::TArchiverOptions;
using archives::TCmdOpt;
using archives::TFileArgs;

std::unique_ptr<archives::TArchiverDll> RarDll;
const TPrefixBinding RarBinding{"RAR 形式書庫", "UNRAR32.DLL", "Unrar", RarDll};

TRar32::TRar32() : TPrefixArchiver(archives::ArchiverClassOf<TRar32>(), RarBinding) {}

void TRar32::LoadDLL() {
    RarBinding.Load();
}

void TRar32::FreeDLL() {
    RarBinding.Free();
}

std::string TRar32::BuildRarCommandLine(const std::string &CommandWord,
                                        const std::string &ArchiveName,
                                        const TArchiverOptions &Options, const std::string &Dir,
                                        const TFileArgs &Files, bool UseResFile) {
    TCmdOpt cmd;
    cmd.AddFlag("u", Options.c < 1);
    cmd.AddFlag("y", Options.m > 0);
    cmd.AddFlag("s", Options.p > 0);
    cmd.Add(Options.UserOptions);
    AddArchiveAndDir(cmd, ArchiveName, Dir);
    AddFileList(cmd, Options, UseResFile, Files);
    return CommandWord + cmd.CommandLine;
}

int TRar32::Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, const TFileArgs &Files, bool /*UseResFile*/,
                    std::string &Output) {
    CommandLine = BuildRarCommandLine(Options.x == 0 ? "-e" : "-x", ArchiveName, Options, DestDir,
                                      Files, Options.ResFileUsage.Contains(archives::ruOnUnpack));
    return Execute(Wnd, CommandLine, Output);
}

int TRar32::ExtractMem(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                       const std::string &EntryName, void *Buffer, DWORD BufferSize,
                       DWORD *WrittenSize) {
    CommandLine = BuildRarCommandLine(std::string(), ArchiveName, Options, std::string(),
                                      TFileArgs{archives::TFileArg(EntryName)}, false);
    return ExecuteMem(RarBinding, Wnd, CommandLine, Buffer, BufferSize, WrittenSize);
}

int TRar32::CheckArchive(const std::string &ArchiveName, int Mode, int Flags) {
    return Dll().CheckArchive(ArchiveName, AddChecked(Mode, Flags));
}

bool IsRarArchive(const std::string &FileName) {
    return PrefixProbe(RarBinding, FileName,
                       [](archives::TArchiverDll &dll, const std::string &path) {
                           HARC arc = dll.OpenArchive(nullptr, path, 0x800002);
                           dll.CloseArchive(arc);
                           return arc != nullptr;
                       });
}

} // namespace formats
