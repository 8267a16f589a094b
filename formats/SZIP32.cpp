#include "formats/SZIP32.h"

#include "archives/Exceptions.h"
#include "formats/IntOverflow.h"
#include "formats/SelfExtractor.h"
#include "platform/Paths.h"

namespace formats {

using archives::TArchiverOptions;
using archives::TCmdOpt;
using archives::TFileArgs;

std::unique_ptr<archives::TArchiverDll> SevenZipDll;
const TPrefixBinding SevenZipBinding{"7z 形式書庫", "7-zip32.dll", "SevenZip", SevenZipDll};

const std::array<const char *, 5> SevenZipSfxModules{"7z.sfx", "7zC.sfx", "7zCon.sfx", "7zS.sfx",
                                                     "7zSD.sfx"};
std::string SevenZipSfxModule;
std::string SevenZipSfxConfig;

TSevenZip32::TSevenZip32()
    : TPrefixArchiver(archives::ArchiverClassOf<TSevenZip32>(), SevenZipBinding) {}

void TSevenZip32::LoadDLL() {
    SevenZipBinding.Load();
}

void TSevenZip32::FreeDLL() {
    SevenZipBinding.Free();
}

std::string TSevenZip32::BuildSevenZipCommandLine(const std::string &Command,
                                                  const std::string &ArchiveName,
                                                  const TArchiverOptions &Options,
                                                  const std::string &Dir, const TFileArgs &Files,
                                                  bool UseResFile) {
    TCmdOpt cmd;
    if (Command == "x") {
        // One overwrite mode: rename, skip, or overwrite all, in that precedence.
        if (Options.m == 2)
            cmd.Add("-aou");
        else if (Options.jn > 0)
            cmd.Add("-aos");
        else if (Options.c > 0)
            cmd.Add("-aoa");
    }
    cmd.Add("-ms=off");
    if (Options.n > 0)
        cmd.Add("-hide");
    if (Options.r == 0)
        cmd.Add("-r-");
    if (Options.r > 1)
        cmd.Add("-r");
    cmd.AddDirectory("w", Options.w);
    if (Options.y > 0)
        cmd.Add("-y");
    cmd.AddFiles("x!", TFileArgs{archives::TFileArg(&Options.jx)});
    cmd.AddDirectory("o", Dir);
    cmd.Add(Options.UserOptions);
    cmd.AddFileName("", ArchiveName);
    AddFileList(cmd, Options, UseResFile, Files);
    const std::string word = Command == "x" && Options.x == 0 ? std::string("e") : Command;
    return word + cmd.CommandLine;
}

int TSevenZip32::Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                         const std::string &DestDir, const TFileArgs &Files, bool /*UseResFile*/,
                         std::string &Output) {
    CommandLine = BuildSevenZipCommandLine("x", ArchiveName, Options, DestDir, Files,
                                           Options.ResFileUsage.Contains(archives::ruOnUnpack));
    return Execute(Wnd, CommandLine, Output);
}

int TSevenZip32::Pack(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                      const std::string &BaseDir, const TFileArgs &Files, bool /*UseResFile*/,
                      std::string &Output) {
    CommandLine = BuildSevenZipCommandLine("u", ArchiveName, Options, BaseDir, Files,
                                           Options.ResFileUsage.Contains(archives::ruOnPack));
    return Execute(Wnd, CommandLine, Output);
}

int TSevenZip32::Delete(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                        const std::string & /*BaseDir*/, const TFileArgs &Files,
                        bool /*UseResFile*/, std::string &Output) {
    CommandLine = BuildSevenZipCommandLine("d", ArchiveName, Options, "", Files,
                                           Options.ResFileUsage.Contains(archives::ruOnRemoveItem));
    return Execute(Wnd, CommandLine, Output);
}

int TSevenZip32::MakeSfx(HWND /*Wnd*/, const std::string &ArchiveName,
                         const TArchiverOptions &Options, const std::string &DestDir,
                         std::string & /*Output*/) {
    const std::string folder = ReadRegistryString("SOFTWARE\\7-ZIP", "Path");
    if (SevenZipSfxModule.empty())
        SevenZipSfxModule = SevenZipSfxModules[0];
    if (Options.gw <= 0)
        throw archives::EArchiver("16bit SFX を作成することはできません。");
    std::string module =
        folder.empty() ? std::string() : platform::SearchPath(SevenZipSfxModule, folder);
    if (module.empty())
        module = platform::SearchPath(SevenZipSfxModule);
    if (module.empty())
        throw archives::ESfxNoRequiredFile("7z", "", SevenZipSfxModule);
    std::vector<std::string> parts{module};
    if (!SevenZipSfxConfig.empty())
        parts.push_back(SevenZipSfxConfig);
    parts.push_back(ArchiveName);
    JoinFiles(SfxTargetName(ArchiveName, DestDir, ".exe"), parts);
    return 0;
}

int TSevenZip32::Execute(HWND Wnd, const std::string &CmdLine, std::string &Output) {
    return TPrefixArchiver::Execute(SevenZipBinding, Wnd, CmdLine, Output);
}

int TSevenZip32::CheckArchive(const std::string &ArchiveName, int Mode, int Flags) {
    return Dll().CheckArchive(ArchiveName, AddChecked(Mode, Flags));
}

} // namespace formats
