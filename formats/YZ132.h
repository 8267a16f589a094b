// The YZ1 back-end: YZ1 archives through a library found under one of two names (YYZ32.DLL, then
// YZ1.DLL; entries "Yz1..."). Extracts, packs, tests, lists (asking for a password when an archive
// needs one) and makes self-extracting archives by joining a stub, the archive and its size;
// offers IsYz1Archive, the content probe. No YZ1 library exists for Linux: a user who installs
// one as libyyz32.so or libyz1.so in the library folder gets it used; without one every
// operation raises the missing-library message.
#pragma once

#include "archives/Archiver.h"
#include "archives/ArchiverDll.h"

#include <array>
#include <memory>
#include <string>

namespace formats {

// The binding of the YZ1 library: the ordinary entries plus the two optional password entries.
class TYZ1Dll : public archives::TArchiverDll {
public:
    explicit TYZ1Dll(const std::string &DllName);
    ~TYZ1Dll() override;

    // Up to four rounds while the library answers 0x800A (a password is needed): ask for a
    // password and hand it to the library. A cancelled (or unavailable) dialog returns the
    // library's answer at once; after the fourth password the last 0x800A is returned.
    int FindFirst(HARC arc, const std::string &wildName, TIndividualInfoEx *info) override;
    // Remembers wnd as the owner of the password dialog.
    HARC OpenArchive(HWND wnd, const std::string &archive, DWORD mode) override;
    void FreeDLL() override;

    // The library's "Yz1SetDefaultPassword"; -1 when it has none (looked up again next time).
    int SetDefaultPassword(HARC Arc, const std::string &Password);
    // The library's "Yz1PasswordDialog"; 0 or more when a password was entered. A library without
    // its own dialog gets the platform's password prompt (platform::AskPassword), whose headless
    // form answers "cancelled": -1.
    int PasswordDialog(HWND Wnd, char *Buffer, DWORD Size);

    // The window of the last OpenArchive.
    HWND OwnerWnd = nullptr;

private:
    ArcSetDefaultPasswordProc SetDefaultPasswordProc = nullptr;
    ArcPasswordDialogProc PasswordDialogProc = nullptr;
};

// The two library names, tried in order; an empty entry is skipped. Settable by the user.
extern std::array<std::string, 2> Yz1DllNames;
// The binding of the library that loaded, shared by every TYZ1 and by IsYz1Archive; null until
// one loaded.
extern std::unique_ptr<TYZ1Dll> Yz1Dll;

// The names for the missing-library message: "first か second", the one set, or empty.
std::string Yz1DllNamesText();

class TYZ1 : public archives::TArchiver {
public:
    TYZ1();

    // Tries the names of Yz1DllNames in turn and keeps the first that loads; EArchiver
    // "Yz1 形式書庫を扱うには <names> が必要です。" when none does (Yz1Dll stays null).
    static void LoadDLL();
    static void FreeDLL();

    HARC OpenArchive(HWND Wnd, const std::string &ArchiveName, DWORD Mode) override;
    int FindFirst(HARC Arc, TIndividualInfoEx *Info, const std::string &WildName) override;
    int FindNext(HARC Arc, TIndividualInfoEx *Info) override;
    int CloseArchive(HARC Arc) override;
    // "x" with DestDir and "c" with BaseDir, both with the call's UseResFile.
    int Extract(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, const archives::TFileArgs &Files, bool UseResFile,
                std::string &Output) override;
    int Pack(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
             const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
             std::string &Output) override;
    // Writes <archive>.exe (in DestDir when given): the stub ("yzw32cui.sfx" or "yzdec.exe" for
    // gw>0, "yzdos16.sfx" otherwise, found on the search path), the archive, then the archive's
    // size as 4 bytes, most significant first. No library call.
    int MakeSfx(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, std::string &Output) override;
    // Mode + Flags (std::overflow_error when the sum does not fit).
    int CheckArchive(const std::string &ArchiveName, int Mode, int Flags) override;
    bool SetOwnerWindow(HWND Wnd, void *ArcProc) override;
    bool KillOwnerWindow(HWND Wnd) override;

    // Command word, then: "-+"; "-c<c>" (2 whenever the y value is 2); "-y<y>" with y from m
    // (0 and 2 give 2, 1 gives 1, 9 gives 0, else none); n>0 or an owner window "-i";
    // p>=0 "-z<p>"; x>=0 "-x<x>"; the user's options; the quoted archive and directory; the files
    // (or the "@" response file) and the user's file list.
    std::string BuildYz1CommandLine(const std::string &CommandWord, const std::string &ArchiveName,
                                    const archives::TArchiverOptions &Options,
                                    const std::string &Dir, const archives::TFileArgs &Files,
                                    bool UseResFile);
    // The library's main entry "Yz1" with Output as its text buffer. When the call raises, Wnd is
    // enabled again first (the library may have disabled it for its dialogs).
    int Execute(HWND Wnd, const std::string &CmdLine, std::string &Output);

private:
    // The loaded binding (loading it first when FreeDLL dropped it).
    static TYZ1Dll &Dll();
};

// True when the YZ1 library opens FileName (mode 0x800002). A name that is no file answers false
// without asking the library. Never raises: no loadable library answers false.
bool IsYz1Archive(const std::string &FileName);

} // namespace formats
