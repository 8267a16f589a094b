#include "formats/LHA32.h"

#include <array>
#include <string_view>

namespace formats {

using archives::TArchiverOptions;
using archives::TCmdOpt;
using archives::TFileArgs;
using archives::TOptionProperty;

std::unique_ptr<archives::TArchiverDll> LhaDll;
const TPrefixBinding LhaBinding{"LHA 形式書庫", "UNLHA32.DLL", "Unlha", LhaDll};

namespace {

// Every switch of the record, in the order the LHA command line carries them.
constexpr std::array<std::string_view, 63> kLhaSwitches{
    "a",   "c",   "e",   "f",  "h",  "i",   "l",   "m",   "n",   "o",   "p",   "r",   "s",
    "t",   "u",   "w",   "x",  "y",  "z",   "jc",  "jd",  "je",  "jf",  "jh",  "ji",  "jm",
    "jn",  "jo",  "job", "jp", "jr", "jsb", "jsc", "jsd", "jse", "jsf", "jsl", "jso", "jss",
    "jst", "jsv", "jsz", "jw", "jx", "jyc", "jyd", "jyk", "jyn", "jyo", "jz",  "ga",  "gd",
    "ge",  "gf",  "gj",  "gm", "gn", "go",  "gp",  "gr",  "gs",  "gu",  "gw"};

struct LhaSwitch {
    std::string_view name;
    const TOptionProperty *property;
};

// The switch table joined with the record's property table once.
const std::array<LhaSwitch, kLhaSwitches.size()> &LhaSwitches() {
    static const auto table = [] {
        std::array<LhaSwitch, kLhaSwitches.size()> t{};
        for (size_t i = 0; i < kLhaSwitches.size(); ++i)
            t[i] = {kLhaSwitches[i], TArchiverOptions::FindProperty(kLhaSwitches[i])};
        return t;
    }();
    return table;
}

} // namespace

TLha32::TLha32() : TPrefixArchiver(archives::ArchiverClassOf<TLha32>(), LhaBinding) {}

TLha32::TLha32(const archives::TArchiverClass &Class, const TPrefixBinding &Binding)
    : TPrefixArchiver(Class, Binding) {}

void TLha32::LoadDLL() {
    LhaBinding.Load();
}

void TLha32::FreeDLL() {
    LhaBinding.Free();
}

std::string TLha32::BuildLhaCommandLine(const std::string &Command, const std::string &ArchiveName,
                                        const TArchiverOptions &Options, const std::string &Dir,
                                        const TFileArgs &Files, bool UseResFile) {
    TCmdOpt cmd;
    cmd.Add("-+");
    for (const auto &sw : LhaSwitches()) {
        const TOptionProperty &p = *sw.property;
        switch (p.Kind) {
        case TOptionProperty::TKind::Number: {
            int value = Options.*p.Number;
            if (sw.name == "n" && HasOwnerWindow())
                value = 1; // the library reports progress to the owner window
            cmd.AddNumber(sw.name, value);
            break;
        }
        case TOptionProperty::TKind::String:
            if (sw.name == "w")
                cmd.AddDirectory(sw.name, Options.*p.String);
            else
                cmd.AddString(sw.name, Options.*p.String);
            break;
        case TOptionProperty::TKind::StringList:
            cmd.AddFiles(sw.name, TFileArgs{archives::TFileArg(&Options.jx)});
            break;
        default:
            break;
        }
    }
    cmd.Add(Options.UserOptions);
    AddArchiveAndDir(cmd, ArchiveName, Dir);
    AddFileList(cmd, Options, UseResFile, Files);
    return Command + cmd.CommandLine;
}

int TLha32::Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, const TFileArgs &Files, bool /*UseResFile*/,
                    std::string &Output) {
    CommandLine = BuildLhaCommandLine("x", ArchiveName, Options, DestDir, Files,
                                      Options.ResFileUsage.Contains(archives::ruOnUnpack));
    return Execute(Wnd, CommandLine, Output);
}

int TLha32::Pack(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                 const std::string &BaseDir, const TFileArgs &Files, bool /*UseResFile*/,
                 std::string &Output) {
    CommandLine = BuildLhaCommandLine("u", ArchiveName, Options, BaseDir, Files,
                                      Options.ResFileUsage.Contains(archives::ruOnPack));
    return Execute(Wnd, CommandLine, Output);
}

int TLha32::Delete(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                   const std::string & /*BaseDir*/, const TFileArgs &Files, bool /*UseResFile*/,
                   std::string &Output) {
    CommandLine = BuildLhaCommandLine("d", ArchiveName, Options, std::string(), Files,
                                      Options.ResFileUsage.Contains(archives::ruOnRemoveItem));
    return Execute(Wnd, CommandLine, Output);
}

int TLha32::Update(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                   const std::string &BaseDir, const TFileArgs &Files, bool /*UseResFile*/,
                   std::string &Output) {
    CommandLine = BuildLhaCommandLine("f", ArchiveName, Options, BaseDir, Files,
                                      Options.ResFileUsage.Contains(archives::ruOnUpdate));
    return Execute(Wnd, CommandLine, Output);
}

int TLha32::MakeSfx(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, std::string &Output) {
    CommandLine = BuildLhaCommandLine("s", ArchiveName, Options, DestDir, TFileArgs{}, false);
    return Execute(Wnd, CommandLine, Output);
}

int TLha32::ExtractMem(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                       const std::string &EntryName, void *Buffer, DWORD BufferSize,
                       DWORD *WrittenSize) {
    CommandLine = BuildLhaCommandLine(std::string(), ArchiveName, Options, std::string(),
                                      TFileArgs{archives::TFileArg(EntryName)}, false);
    return ExecuteMem(LhaBinding, Wnd, CommandLine, Buffer, BufferSize, WrittenSize);
}

bool IsLhaArchive(const std::string &FileName) {
    return PrefixProbe(LhaBinding, FileName,
                       [](archives::TArchiverDll &dll, const std::string &path) {
                           if (dll.CheckArchive(path, 16) == 0)
                               return false;
                           HARC arc = dll.OpenArchive(nullptr, path, 0x800002);
                           if (!arc)
                               return false;
                           dll.CloseArchive(arc);
                           return true;
                       });
}

} // namespace formats
