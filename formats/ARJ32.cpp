#include "formats/ARJ32.h"

namespace formats {

using archives::TArchiver;
using archives::TArchiverOptions;
using archives::TFileArgs;

std::unique_ptr<archives::TArchiverDll> ArjDll;
const TPrefixBinding ArjBinding{"ARJ 形式書庫", "UNARJ32J.DLL", "Unarj", ArjDll};

TArj32::TArj32() : TLha32(archives::ArchiverClassOf<TArj32>(), ArjBinding) {}

void TArj32::LoadDLL() {
    ArjBinding.Load();
}

void TArj32::FreeDLL() {
    ArjBinding.Free();
}

int TArj32::Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, const TFileArgs &Files, bool UseResFile,
                    std::string &Output) {
    CommandLine = BuildLhaCommandLine("x", ArchiveName, Options, DestDir, Files, UseResFile);
    return Execute(Wnd, CommandLine, Output);
}

int TArj32::Pack(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                 const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
                 std::string &Output) {
    return TArchiver::Pack(Wnd, ArchiveName, Options, BaseDir, Files, UseResFile, Output);
}

int TArj32::Delete(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                   const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
                   std::string &Output) {
    return TArchiver::Delete(Wnd, ArchiveName, Options, BaseDir, Files, UseResFile, Output);
}

int TArj32::Update(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                   const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
                   std::string &Output) {
    return TArchiver::Update(Wnd, ArchiveName, Options, BaseDir, Files, UseResFile, Output);
}

int TArj32::MakeSfx(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, std::string &Output) {
    return TArchiver::MakeSfx(Wnd, ArchiveName, Options, DestDir, Output);
}

int TArj32::ExtractMem(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                       const std::string &EntryName, void *Buffer, DWORD BufferSize,
                       DWORD *WrittenSize) {
    CommandLine = BuildLhaCommandLine(std::string(), ArchiveName, Options, std::string(),
                                      TFileArgs{archives::TFileArg(EntryName)}, false);
    return ExecuteMem(ArjBinding, Wnd, CommandLine, Buffer, BufferSize, WrittenSize);
}

bool IsArjArchive(const std::string &FileName) {
    return PrefixProbe(ArjBinding, FileName,
                       [](archives::TArchiverDll &dll, const std::string &path) {
                           HARC arc = dll.OpenArchive(nullptr, path, 0x800002);
                           if (!arc)
                               return false;
                           dll.CloseArchive(arc);
                           return true;
                       });
}

} // namespace formats
