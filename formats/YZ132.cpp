#include "formats/YZ132.h"

#include "archives/Exceptions.h"
#include "formats/IntOverflow.h"
#include "formats/SelfExtractor.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace formats {

using archives::TArchiverOptions;
using archives::TCmdOpt;
using archives::TFileArgs;

std::array<std::string, 2> Yz1DllNames{"YYZ32.DLL", "YZ1.DLL"};
std::unique_ptr<TYZ1Dll> Yz1Dll;

namespace {

constexpr int kPasswordNeeded = 0x800A;
constexpr int kPasswordRounds = 4;
constexpr DWORD kPasswordSize = 256;
constexpr DWORD kProbeMode = 0x800002;

} // namespace

// ---------------------------------------------------------------------------------------------
// TYZ1Dll

TYZ1Dll::TYZ1Dll(const std::string &DllName) : TArchiverDll("YZ1 形式書庫", DllName, "Yz1") {}

TYZ1Dll::~TYZ1Dll() {
    TYZ1Dll::FreeDLL();
}

void TYZ1Dll::FreeDLL() {
    SetDefaultPasswordProc = nullptr;
    PasswordDialogProc = nullptr;
    TArchiverDll::FreeDLL();
}

HARC TYZ1Dll::OpenArchive(HWND wnd, const std::string &archive, DWORD mode) {
    OwnerWnd = wnd;
    return TArchiverDll::OpenArchive(wnd, archive, mode);
}

int TYZ1Dll::FindFirst(HARC arc, const std::string &wildName, TIndividualInfoEx *info) {
    int result = 0;
    for (int round = 0; round < kPasswordRounds; ++round) {
        result = TArchiverDll::FindFirst(arc, wildName, info);
        if (result != kPasswordNeeded)
            return result;
        char password[kPasswordSize] = {};
        if (PasswordDialog(OwnerWnd, password, kPasswordSize) < 0)
            return result;
        SetDefaultPassword(arc, password);
    }
    return result;
}

int TYZ1Dll::SetDefaultPassword(HARC Arc, const std::string &Password) {
    if (!Resolve(SetDefaultPasswordProc, "SetDefaultPassword", false))
        return -1;
    return SetDefaultPasswordProc(Arc, Password.c_str());
}

int TYZ1Dll::PasswordDialog(HWND Wnd, char *Buffer, DWORD Size) {
    if (Resolve(PasswordDialogProc, "PasswordDialog", false))
        return PasswordDialogProc(Wnd, Buffer, Size);
    // A library without a dialog of its own: the user is asked through the platform.
    if (Size == 0)
        return -1;
    const auto answer = platform::AskPassword(
        {FormatName(), "書庫のパスワードを入力してください。", static_cast<void *>(Wnd)});
    if (!answer)
        return -1;
    const size_t length = std::min<size_t>(answer->size(), Size - 1);
    std::memcpy(Buffer, answer->data(), length);
    Buffer[length] = '\0';
    return static_cast<int>(length);
}

// ---------------------------------------------------------------------------------------------
// Loading

std::string Yz1DllNamesText() {
    const std::string &first = Yz1DllNames[0];
    const std::string &second = Yz1DllNames[1];
    if (!first.empty() && !second.empty())
        return first + " か " + second;
    return first.empty() ? second : first;
}

void TYZ1::LoadDLL() {
    if (Yz1Dll)
        return;
    for (const std::string &name : Yz1DllNames) {
        if (name.empty())
            continue;
        try {
            auto dll = std::make_unique<TYZ1Dll>(name);
            dll->LoadDLL();
            Yz1Dll = std::move(dll);
            return;
        } catch (...) {
            // The next name may be installed.
        }
    }
    throw archives::EArchiver("Yz1 形式書庫を扱うには " + Yz1DllNamesText() + " が必要です。");
}

void TYZ1::FreeDLL() {
    Yz1Dll.reset();
}

TYZ1Dll &TYZ1::Dll() {
    LoadDLL();
    return *Yz1Dll;
}

// ---------------------------------------------------------------------------------------------
// TYZ1

TYZ1::TYZ1() : TArchiver(archives::ArchiverClassOf<TYZ1>()) {}

HARC TYZ1::OpenArchive(HWND Wnd, const std::string &ArchiveName, DWORD Mode) {
    return Dll().OpenArchive(Wnd, platform::ExpandFileName(ArchiveName), Mode);
}

int TYZ1::FindFirst(HARC Arc, TIndividualInfoEx *Info, const std::string &WildName) {
    return Dll().FindFirst(Arc, WildName, Info);
}

int TYZ1::FindNext(HARC Arc, TIndividualInfoEx *Info) {
    return Dll().FindNext(Arc, Info);
}

int TYZ1::CloseArchive(HARC Arc) {
    return Dll().CloseArchive(Arc);
}

int TYZ1::CheckArchive(const std::string &ArchiveName, int Mode, int Flags) {
    return Dll().CheckArchive(ArchiveName, AddChecked(Mode, Flags));
}

bool TYZ1::SetOwnerWindow(HWND Wnd, void *ArcProc) {
    TArchiver::SetOwnerWindow(Wnd, ArcProc);
    return Dll().SetOwnerWindowEx(Wnd, ArcProc) != 0;
}

bool TYZ1::KillOwnerWindow(HWND Wnd) {
    const bool ok = Dll().KillOwnerWindowEx(Wnd) != 0;
    TArchiver::KillOwnerWindow(Wnd);
    return ok;
}

std::string TYZ1::BuildYz1CommandLine(const std::string &CommandWord,
                                      const std::string &ArchiveName,
                                      const TArchiverOptions &Options, const std::string &Dir,
                                      const TFileArgs &Files, bool UseResFile) {
    int y = -1;
    switch (Options.m) {
    case 0:
    case 2:
        y = 2;
        break;
    case 1:
        y = 1;
        break;
    case 9:
        y = 0;
        break;
    default:
        break;
    }
    const int c = y == 2 ? 2 : Options.c;

    TCmdOpt cmd;
    cmd.Add("-+");
    cmd.AddNumber("c", c);
    cmd.AddNumber("y", y);
    cmd.AddFlag("i", Options.n > 0 || HasOwnerWindow());
    cmd.AddNumber("z", Options.p);
    cmd.AddNumber("x", Options.x);
    cmd.Add(Options.UserOptions);
    AddArchiveAndDir(cmd, ArchiveName, Dir);
    AddFileList(cmd, Options, UseResFile, Files);
    return CommandWord + cmd.CommandLine;
}

int TYZ1::Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                  const std::string &DestDir, const TFileArgs &Files, bool UseResFile,
                  std::string &Output) {
    CommandLine = BuildYz1CommandLine("x", ArchiveName, Options, DestDir, Files, UseResFile);
    return Execute(Wnd, CommandLine, Output);
}

int TYZ1::Pack(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
               const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
               std::string &Output) {
    CommandLine = BuildYz1CommandLine("c", ArchiveName, Options, BaseDir, Files, UseResFile);
    return Execute(Wnd, CommandLine, Output);
}

int TYZ1::Execute(HWND Wnd, const std::string &CmdLine, std::string &Output) {
    try {
        return Dll().Command(Wnd, CmdLine, Output.empty() ? nullptr : Output.data(),
                             static_cast<DWORD>(Output.size()));
    } catch (...) {
        platform::EnableWindow(Wnd, true);
        throw;
    }
}

int TYZ1::MakeSfx(HWND /*Wnd*/, const std::string &ArchiveName, const TArchiverOptions &Options,
                  const std::string &DestDir, std::string & /*Output*/) {
    std::string stub;
    if (Options.gw > 0) {
        stub = platform::SearchPath("yzw32cui.sfx");
        if (stub.empty())
            stub = platform::SearchPath("yzdec.exe");
        if (stub.empty())
            throw archives::EArchiver("yz1 書庫からのWin32自己解凍書庫の作成には yzw32cui.sfx か "
                                      "yzdec.exe が必要です。");
    } else {
        const std::string name = "yzdos16.sfx";
        stub = platform::SearchPath(name);
        if (stub.empty())
            throw archives::EArchiver("yz1 書庫からのDOS自己解凍書庫の作成には " + name +
                                      " が必要です。");
    }

    uint64_t size = 0;
    std::string why;
    if (!platform::GetFileSize(ArchiveName, size, why))
        throw archives::EFOpenError("Cannot open file \"" + ArchiveName + "\": " + why);
    // The stub finds the archive by this size; one it cannot state would make a broken program.
    if (size > UINT32_MAX)
        throw archives::EArchiver("Cannot make a self-extractor of \"" + ArchiveName +
                                  "\": the archive is larger than 4 GiB");
    const auto size32 = static_cast<uint32_t>(size);
    const char trailer[4] = {static_cast<char>(size32 >> 24), static_cast<char>(size32 >> 16),
                             static_cast<char>(size32 >> 8), static_cast<char>(size32)};
    JoinFiles(SfxTargetName(ArchiveName, DestDir, ".exe"), {stub, ArchiveName},
              std::string_view(trailer, sizeof trailer));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Probe

bool IsYz1Archive(const std::string &FileName) {
    try {
        TYZ1::LoadDLL();
        const std::string path = platform::ExpandFileName(FileName);
        if (!platform::FileExists(path))
            return false;
        HARC arc = Yz1Dll->OpenArchive(nullptr, path, kProbeMode);
        Yz1Dll->CloseArchive(arc);
        return arc != nullptr;
    } catch (...) {
        return false;
    }
}

} // namespace formats
