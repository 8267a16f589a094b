#include "formats/TAR32.h"

#include "archives/Exceptions.h"
#include "formats/IntOverflow.h"
#include "formats/SelfExtractor.h"
#include "platform/Paths.h"

namespace formats {

using archives::TArchiverOptions;
using archives::TCmdOpt;
using archives::TFileArgs;

std::unique_ptr<archives::TArchiverDll> TarDll;
const TPrefixBinding TarBinding{"tar/tgz/taz/bz2 形式書庫", "TAR32.DLL", "Tar", TarDll};

TTar32::TTar32() : TTar32(archives::ArchiverClassOf<TTar32>()) {}
TTar32::TTar32(const archives::TArchiverClass &Class) : TPrefixArchiver(Class, TarBinding) {}
TTgz32::TTgz32() : TTar32(archives::ArchiverClassOf<TTgz32>()) {}
TBZ232::TBZ232() : TTar32(archives::ArchiverClassOf<TBZ232>()) {}

void TTar32::LoadDLL() {
    TarBinding.Load();
}

void TTar32::FreeDLL() {
    TarBinding.Free();
}

std::string TTar32::BuildTarCommandLine(const std::string &Command, const std::string &ArchiveName,
                                        const TArchiverOptions &Options, const std::string &Dir,
                                        const TFileArgs &Files, bool UseResFile) {
    TCmdOpt cmd;
    cmd.SeparateValue = true;
    if (Options.a > 0)
        cmd.Add("-AH");
    if (Options.a == 0)
        cmd.Add("-I");
    // With an owner window the progress goes there instead of the library's own dialog.
    if (!HasOwnerWindow() && Options.n > 0)
        cmd.Add("--display-dialog=0");
    if (Options.o > 0)
        cmd.Add("-g");
    cmd.AddNumber("-check-all-path=", Options.p);
    cmd.AddNumber("-use-directory=", Options.x);
    const std::string level = Options.jm >= 1 ? std::to_string(Options.jm) : std::string();
    if (dynamic_cast<const TTgz32 *>(this))
        cmd.Add("-z" + level);
    else if (dynamic_cast<const TBZ232 *>(this))
        cmd.Add("-B" + level);
    cmd.Add(Options.UserOptions);
    if (!ArchiveName.empty())
        cmd.AddFileName("f", ArchiveName);
    if (!Dir.empty())
        cmd.AddDirectory("o", Dir);
    AddFileList(cmd, Options, UseResFile, Files);
    return Command + cmd.CommandLine;
}

int TTar32::Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, const TFileArgs &Files, bool /*UseResFile*/,
                    std::string &Output) {
    CommandLine = BuildTarCommandLine("x", ArchiveName, Options, DestDir, Files,
                                      Options.ResFileUsage.Contains(archives::ruOnUnpack));
    return Execute(Wnd, CommandLine, Output);
}

int TTar32::Pack(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                 const std::string &BaseDir, const TFileArgs &Files, bool /*UseResFile*/,
                 std::string &Output) {
    CommandLine = BuildTarCommandLine("c", ArchiveName, Options, BaseDir, Files,
                                      Options.ResFileUsage.Contains(archives::ruOnPack));
    return Execute(Wnd, CommandLine, Output);
}

int TTar32::MakeSfx(HWND /*Wnd*/, const std::string &ArchiveName,
                    const TArchiverOptions & /*Options*/, const std::string &DestDir,
                    std::string & /*Output*/) {
    if (dynamic_cast<const TBZ232 *>(this))
        throw archives::EArchiver("BZ2 形式書庫は自己解凍形式にできません。");
    const std::string stub = platform::SearchPath("kmtarsef.exe");
    if (stub.empty())
        throw archives::ESfxNoRequiredFile("tar/tgz", "", "kmtarsef.exe");
    JoinFiles(SfxTargetName(ArchiveName, DestDir, ".EXE"), {stub, ArchiveName});
    return 0;
}

int TTar32::ExtractMem(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                       const std::string &EntryName, void *Buffer, DWORD BufferSize,
                       DWORD *WrittenSize) {
    CommandLine = BuildTarCommandLine("", ArchiveName, Options, "",
                                      TFileArgs{archives::TFileArg(EntryName)}, false);
    return ExecuteMem(TarBinding, Wnd, CommandLine, Buffer, BufferSize, WrittenSize);
}

int TTar32::Execute(HWND Wnd, const std::string &CmdLine, std::string &Output) {
    return TPrefixArchiver::Execute(TarBinding, Wnd, CmdLine, Output);
}

int TTar32::CheckArchive(const std::string &ArchiveName, int Mode, int Flags) {
    return Dll().CheckArchive(ArchiveName, AddChecked(Mode, Flags));
}

archives::TArchiverType GetTarArchiverType(const std::string &FileName) {
    try {
        TarBinding.Load();
        switch (TarBinding.Get().GetArchiveType(FileName)) {
        case 1:
            return archives::atTar;
        case 2:
        case 3:
        case 4:
        case 5:
            return archives::atTgz;
        case 6:
        case 7:
            return archives::atBZ2;
        default:
            return archives::atNone;
        }
    } catch (...) {
        return archives::atNone;
    }
}

} // namespace formats
