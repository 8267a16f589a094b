#include "formats/ZIP32.h"

#include "archives/Exceptions.h"
#include "formats/SelfExtractor.h"
#include "platform/CodePage.h"
#include "platform/DynLib.h"

namespace formats {

using archives::EArchiver;
using archives::TArchiverOptions;
using archives::TCmdOpt;
using archives::TFileArgs;

std::unique_ptr<TZipDll> ZipDll;

namespace {

constexpr const char *kEntryMissing = "%0:s のエントリが DLL に見つかりませんでした。";
constexpr const char *kNoUnzip =
    "ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。";
constexpr const char *kNoZip = "ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。";

// The binding, created and loaded when FreeDLL dropped it.
TZipDll &Dll() {
    if (!ZipDll)
        TZip32::LoadDLL();
    return *ZipDll;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TZipDll

TZipDll::~TZipDll() {
    FreeLibraries();
}

void TZipDll::LoadDLL() {
    if (!UnzipLibrary)
        UnzipLibrary = platform::LoadLibrary("UNZIP32.DLL");
    if (!ZipLibrary)
        ZipLibrary = platform::LoadLibrary("ZIP32J.DLL");
    if (!LmzipLibrary)
        LmzipLibrary = platform::LoadLibrary("LMZIP32.DLL");
}

void TZipDll::FreeLibraries() {
    for (HMODULE *lib : {&UnzipLibrary, &LmzipLibrary, &ZipLibrary}) {
        if (*lib)
            platform::FreeLibrary(*lib);
        *lib = nullptr;
    }
    ZipProc = nullptr;
    UnZipProc = nullptr;
}

void TZipDll::FreeDLL() {
    FreeLibraries();
    TCustomArchiverDll::FreeDLL();
}

bool TZipDll::ResolveEntry(void *&Entry, std::initializer_list<HMODULE> Libraries,
                           const std::string &Name, bool Required) {
    Entry = nullptr;
    for (HMODULE lib : Libraries) {
        if (!lib)
            continue;
        std::string name = Name;
        // LMZIP32 spells its entries "Unzip..." where the others write "UnZip...".
        if (lib == LmzipLibrary && name.size() >= 3 && name[2] == 'Z')
            name[2] = 'z';
        if (void *address = platform::GetProcAddress(lib, name)) {
            Entry = address;
            return true;
        }
    }
    if (Required)
        throw archives::EEntryNotFound(archives::FormatMessage(kEntryMissing, {Name}));
    return false;
}

int TZipDll::Zip(HWND wnd, const std::string &cmdLine, char *output, DWORD size) {
    LoadDLL();
    ResolveEntry(ZipProc, {ZipLibrary, LmzipLibrary}, "Zip", true);
    return ZipProc(wnd, cmdLine.c_str(), size == 0 ? nullptr : output, size);
}

int TZipDll::UnZip(HWND wnd, const std::string &cmdLine, char *output, DWORD size) {
    LoadDLL();
    ResolveEntry(UnZipProc, {UnzipLibrary, LmzipLibrary}, "UnZip", true);
    return UnZipProc(wnd, cmdLine.c_str(), size == 0 ? nullptr : output, size);
}

BOOL TZipDll::CheckArchive(const std::string &archive, int mode) {
    LoadDLL();
    ResolveEntry(CheckArchiveProc, {UnzipLibrary, LmzipLibrary, ZipLibrary}, "UnZipCheckArchive",
                 true);
    return TCustomArchiverDll::CheckArchive(archive, mode);
}

int TZipDll::CloseArchive(HARC arc) {
    LoadDLL();
    ResolveEntry(CloseArchiveProc, {LmzipLibrary, ZipLibrary, UnzipLibrary}, "UnZipCloseArchive",
                 true);
    return TCustomArchiverDll::CloseArchive(arc);
}

int TZipDll::ExtractMem(HWND wnd, const std::string &cmdLine, unsigned char *buffer, DWORD size,
                        void *time, WORD *attr, DWORD *written) {
    ResolveEntry(ExtractMemProc, {UnzipLibrary, LmzipLibrary, ZipLibrary}, "UnZipExtractMem", true);
    return TCustomArchiverDll::ExtractMem(wnd, cmdLine, buffer, size, time, attr, written);
}

int TZipDll::FindFirst(HARC arc, const std::string &wildName, TIndividualInfoEx *info) {
    LoadDLL();
    ResolveEntry(FindFirstProc, {LmzipLibrary, ZipLibrary, UnzipLibrary}, "UnZipFindFirst", true);
    return TCustomArchiverDll::FindFirst(arc, wildName, info);
}

int TZipDll::FindNext(HARC arc, TIndividualInfoEx *info) {
    ResolveEntry(FindNextProc, {LmzipLibrary, ZipLibrary, UnzipLibrary}, "UnZipFindNext", true);
    return TCustomArchiverDll::FindNext(arc, info);
}

int TZipDll::KillOwnerWindowEx(HWND wnd) {
    archives::GetEntryPoint(KillOwnerWindowExProc, UnzipLibrary, "UnZipKillOwnerWindowEx", true);
    return TCustomArchiverDll::KillOwnerWindowEx(wnd);
}

HARC TZipDll::OpenArchive(HWND wnd, const std::string &archive, DWORD mode) {
    LoadDLL();
    ResolveEntry(OpenArchiveProc, {LmzipLibrary, ZipLibrary, UnzipLibrary}, "UnZipOpenArchive",
                 true);
    return TCustomArchiverDll::OpenArchive(wnd, archive, mode);
}

int TZipDll::SetOwnerWindowEx(HWND wnd, void *callback) {
    archives::GetEntryPoint(SetOwnerWindowExProc, UnzipLibrary, "UnZipSetOwnerWindowEx", true);
    return TCustomArchiverDll::SetOwnerWindowEx(wnd, callback);
}

BOOL TZipDll::GetWriteTimeEx(HARC arc, ARC_FILETIME *time) {
    ResolveEntry(GetWriteTimeExProc, {LmzipLibrary, ZipLibrary, UnzipLibrary},
                 "UnzipGetWriteTimeEx", false);
    return TCustomArchiverDll::GetWriteTimeEx(arc, time);
}

BOOL TZipDll::GetCreateTimeEx(HARC arc, ARC_FILETIME *time) {
    ResolveEntry(GetCreateTimeExProc, {LmzipLibrary, ZipLibrary, UnzipLibrary},
                 "UnZipGetCreateTimeEx", false);
    return TCustomArchiverDll::GetCreateTimeEx(arc, time);
}

BOOL TZipDll::GetAccessTimeEx(HARC arc, ARC_FILETIME *time) {
    ResolveEntry(GetAccessTimeExProc, {LmzipLibrary, ZipLibrary, UnzipLibrary},
                 "UnZipGetAccessTimeEx", false);
    return TCustomArchiverDll::GetAccessTimeEx(arc, time);
}

// ---------------------------------------------------------------------------------------------
// ZipFileNameFilter

std::string ZipFileNameFilter(const std::string &FileName, const platform::PathRules &Rules) {
    std::string out;
    size_t i = 0;
    // A leading '-' would be read as a switch.
    if (!FileName.empty() && FileName[0] == '-') {
        out = "[-]";
        i = 1;
    }
    // Walking character by character keeps a trail byte from being taken for '\' or '['.
    while (i < FileName.size()) {
        const size_t len = platform::CharLength(FileName, i, Rules.codePage);
        if (len == 1 && FileName[i] == Rules.separator)
            out += '/';
        else if (len == 1 && FileName[i] == '[')
            out += "[[]";
        else
            out.append(FileName, i, len);
        i += len;
    }
    return out;
}

std::string ZipFileNameFilter(const std::string &FileName) {
    return ZipFileNameFilter(FileName, platform::PathRules::Native());
}

// ---------------------------------------------------------------------------------------------
// TZip32

TZip32::TZip32() : TArchiver(archives::ArchiverClassOf<TZip32>()) {}

void TZip32::LoadDLL() {
    if (!ZipDll)
        ZipDll = std::make_unique<TZipDll>();
    ZipDll->LoadDLL();
}

void TZip32::FreeDLL() {
    ZipDll.reset();
}

HARC TZip32::OpenArchive(HWND Wnd, const std::string &ArchiveName, DWORD Mode) {
    return Dll().OpenArchive(Wnd, platform::ExpandFileName(ArchiveName), Mode);
}

int TZip32::FindFirst(HARC Arc, TIndividualInfoEx *Info, const std::string &WildName) {
    return Dll().FindFirst(Arc, WildName, Info);
}

int TZip32::FindNext(HARC Arc, TIndividualInfoEx *Info) {
    return Dll().FindNext(Arc, Info);
}

int TZip32::CloseArchive(HARC Arc) {
    return Dll().CloseArchive(Arc);
}

std::string TZip32::BuildUnzipCommandLine(const std::string &Command,
                                          const std::string &ArchiveName,
                                          const TArchiverOptions &Options, const std::string &Dir,
                                          const TFileArgs &Files, bool UseResFile) {
    TCmdOpt cmd;
    cmd.FileNameFilter = ZipFileNameFilter;
    if (Options.c == 1)
        cmd.Add("-o");
    if (Options.n > 0 || HasOwnerWindow())
        cmd.Add("--i");
    if (Options.x == 0)
        cmd.Add("-j");
    cmd.Add(Options.UserOptions);
    AddArchiveAndDir(cmd, ArchiveName, Dir);
    AddFileList(cmd, Options, UseResFile, Files);
    return Command + cmd.CommandLine;
}

std::string TZip32::BuildZipCommandLine(const std::string &Command, const std::string &ArchiveName,
                                        const TArchiverOptions &Options, const std::string &Dir,
                                        const TFileArgs &Files, bool UseResFile) {
    TCmdOpt cmd;
    cmd.FileNameFilter = ZipFileNameFilter;
    if (Options.a > 0)
        cmd.Add("-S");
    if (Options.a < 2)
        cmd.Add("-D");
    if (Options.l > 0)
        cmd.Add("-v");
    if (Options.n > 0)
        cmd.Add("-q");
    if (Options.r > 0)
        cmd.Add("-r");
    if (Options.n > 0)
        cmd.Add("-o");
    if (Options.u > 0)
        cmd.Add("-u");
    if (Options.x == 0)
        cmd.Add("-j");
    if (Options.jc > 0)
        cmd.Add("-FF");
    if (Options.ji > 0)
        cmd.Add("-k");
    cmd.AddNumber("", Options.jm);
    if (Options.gd > 0)
        cmd.Add("-J");
    cmd.Add(Options.UserOptions);
    AddArchiveAndDir(cmd, ArchiveName, Dir);
    AddFileList(cmd, Options, UseResFile, Files);
    return Command + cmd.CommandLine;
}

std::string TZip32::BuildLmzipCommandLine(const std::string &Command,
                                          const std::string &ArchiveName,
                                          const TArchiverOptions &Options, const std::string &Dir,
                                          const TFileArgs &Files, bool UseResFile) {
    TCmdOpt cmd;
    if (Options.c == 1)
        cmd.Add("-o");
    if (Options.x == 0)
        cmd.Add("-j");
    cmd.Add(Options.UserOptions);
    AddArchiveAndDir(cmd, ArchiveName, Dir);
    AddFileList(cmd, Options, UseResFile, Files);
    return Command + cmd.CommandLine;
}

int TZip32::ExecuteUnZip(HWND Wnd, const std::string &CmdLine, std::string &Output) {
    return Dll().UnZip(Wnd, CmdLine, Output.data(), static_cast<DWORD>(Output.size()));
}

int TZip32::ExecuteZip(HWND Wnd, const std::string &CmdLine, std::string &Output) {
    return Dll().Zip(Wnd, CmdLine, Output.data(), static_cast<DWORD>(Output.size()));
}

int TZip32::Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, const TFileArgs &Files, bool UseResFile,
                    std::string &Output) {
    if (!Dll().UnzipLibrary && !Dll().LmzipLibrary)
        throw EArchiver(kNoUnzip);
    CommandLine = BuildUnzipCommandLine("-x", ArchiveName, Options, DestDir, Files, UseResFile);
    return ExecuteUnZip(Wnd, CommandLine, Output);
}

int TZip32::Pack(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                 const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
                 std::string &Output) {
    if (Dll().ZipLibrary) {
        CommandLine = BuildZipCommandLine("", ArchiveName, Options, BaseDir, Files, UseResFile);
    } else if (Dll().LmzipLibrary) {
        CommandLine = BuildLmzipCommandLine("-ru", ArchiveName, Options, "", Files, UseResFile);
        // LMZIP32 adds to an existing archive; a pack starts a new one.
        platform::DeleteFile(ArchiveName);
    } else {
        throw EArchiver(kNoZip);
    }
    return ExecuteZip(Wnd, CommandLine, Output);
}

int TZip32::Delete(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                   const std::string & /*BaseDir*/, const TFileArgs &Files, bool UseResFile,
                   std::string &Output) {
    CommandLine = BuildZipCommandLine("-d", ArchiveName, Options, "", Files, UseResFile);
    return ExecuteZip(Wnd, CommandLine, Output);
}

int TZip32::Update(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                   const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
                   std::string &Output) {
    CommandLine = BuildZipCommandLine("-f", ArchiveName, Options, BaseDir, Files, UseResFile);
    return ExecuteZip(Wnd, CommandLine, Output);
}

int TZip32::MakeSfx(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                    const std::string &DestDir, std::string &Output) {
    if (!Dll().ZipLibrary)
        throw archives::ESfxNoRequiredFile("zip", "", "ZIP32J.DLL");
    const bool gui = Options.gw > 0;
    const std::string stubName = gui ? "sfx32gui.dat" : "sfx16.dat";
    const std::string stub = platform::SearchPath(stubName);
    if (stub.empty())
        throw archives::ESfxNoRequiredFile("zip", gui ? "Win32" : "DOS", stubName);
    const std::string target = SfxTargetName(ArchiveName, DestDir, ".EXE");
    JoinFiles(target, {stub, ArchiveName});
    CommandLine = "-A " + target;
    return ExecuteZip(Wnd, CommandLine, Output);
}

int TZip32::ExtractMem(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                       const std::string &EntryName, void *Buffer, DWORD BufferSize,
                       DWORD *WrittenSize) {
    CommandLine = BuildUnzipCommandLine("", ArchiveName, Options, "",
                                        TFileArgs{archives::TFileArg(EntryName)}, false);
    return Dll().ExtractMem(Wnd, CommandLine, static_cast<unsigned char *>(Buffer), BufferSize,
                            nullptr, nullptr, WrittenSize);
}

int TZip32::CheckArchive(const std::string &ArchiveName, int Mode, int /*Flags*/) {
    return Dll().CheckArchive(ArchiveName, Mode);
}

bool TZip32::SetOwnerWindow(HWND Wnd, void *ArcProc) {
    const bool ok = Dll().SetOwnerWindowEx(Wnd, ArcProc) != 0;
    TArchiver::SetOwnerWindow(Wnd, ArcProc);
    return ok;
}

bool TZip32::KillOwnerWindow(HWND Wnd) {
    const bool ok = Dll().KillOwnerWindowEx(Wnd) != 0;
    TArchiver::KillOwnerWindow(Wnd);
    return ok;
}

bool IsZipArchive(const std::string &FileName) {
    std::string path;
    try {
        path = platform::ExpandFileName(FileName);
        if (Dll().CheckArchive(path, 24) <= 0)
            return false;
    } catch (...) {
        return false;
    }
    try {
        if (!platform::FileExists(path))
            return false;
        HARC arc = Dll().OpenArchive(nullptr, path, 0x800002);
        if (!arc)
            return false;
        Dll().CloseArchive(arc);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace formats
