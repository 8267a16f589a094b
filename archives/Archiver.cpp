#include "archives/Archiver.h"

#include "archives/Exceptions.h"

namespace archives {

TArchiver::TArchiver(const TArchiverClass &Class) : FClass(&Class) {
    FClass->LoadDLL();
}

void TArchiver::LoadDLL() {
    throw EArchiver("Abstract method 'TArchiver.LoadDLL' was called");
}

void TArchiver::FreeDLL() {
    throw EArchiver("Abstract method 'TArchiver.FreeDLL' was called");
}

HARC TArchiver::OpenArchive(HWND, const std::string &, DWORD) {
    return nullptr;
}

int TArchiver::FindFirst(HARC, TIndividualInfoEx *, const std::string &) {
    return -1;
}

int TArchiver::FindNext(HARC, TIndividualInfoEx *) {
    return -1;
}

int TArchiver::CloseArchive(HARC) {
    return 0;
}

int TArchiver::Pack(HWND, const std::string &, const TArchiverOptions &, const std::string &,
                    const TFileArgs &, bool, std::string &) {
    throw EArchiver("この形式では書庫ファイルの作成をサポートしておりません。");
}

int TArchiver::Delete(HWND, const std::string &, const TArchiverOptions &, const std::string &,
                      const TFileArgs &, bool, std::string &) {
    throw EArchiver("この形式の書庫ではファイルの削除をサポートしておりません。");
}

int TArchiver::Update(HWND, const std::string &, const TArchiverOptions &, const std::string &,
                      const TFileArgs &, bool, std::string &) {
    throw EArchiver("この形式の書庫では書庫の更新をサポートしておりません。");
}

int TArchiver::MakeSfx(HWND, const std::string &, const TArchiverOptions &, const std::string &,
                       std::string &) {
    throw EArchiver("この形式では自己解凍書庫の作成をサポートしておりません。");
}

int TArchiver::ExtractMem(HWND, const std::string &, const TArchiverOptions &, const std::string &,
                          void *, DWORD, DWORD *) {
    throw EArchiver("この形式ではメモリへの展開をサポートしておりません。");
}

int TArchiver::CheckArchive(const std::string &, int, int) {
    throw EArchiver("この形式では書庫チェック機能をサポートしておりません。");
}

bool TArchiver::SetOwnerWindow(HWND Wnd, void *) {
    FOwnerWindow = Wnd;
    return false;
}

bool TArchiver::KillOwnerWindow(HWND) {
    FOwnerWindow = nullptr;
    return false;
}

void TArchiver::RequireDLL() {
    FClass->LoadDLL();
}

void TArchiver::AddArchiveAndDir(TCmdOpt &Cmd, const std::string &ArchiveName,
                                 const std::string &Dir) {
    Cmd.AddFileName("", ArchiveName);
    Cmd.AddDirectory("", Dir);
}

int TArchiver::AddFileList(TCmdOpt &Cmd, const TArchiverOptions &Options, bool UseResFile,
                           const TFileArgs &Files) {
    int count;
    if (UseResFile && !Options.ResFileName.empty() && !IsUnsetString(Options.ResFileName))
        count = Cmd.AddResponseFile(Files, Options.ResFileName);
    else
        count = Cmd.AddFiles("", Files);
    Cmd.Add(Options.UserFileList);
    return count;
}

} // namespace archives
