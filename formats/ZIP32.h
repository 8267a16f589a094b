// The ZIP back-end. Up to three libraries serve ZIP archives, each optional: UNZIP32.DLL reads
// (extract, list, check, memory extraction), ZIP32J.DLL writes (pack, delete, update,
// self-extractor), and LMZIP32.DLL stands in for either. Their entries have fixed names rather
// than a prefix, so the unit has its own binding, TZipDll, which loads whichever libraries are
// present and looks each entry up in a fixed order of libraries; TZip32 chooses per operation
// which library family and which command-line dialect to use.
#pragma once

#include "archives/Archiver.h"
#include "archives/ArchiverDll.h"
#include "archives/CmdOpt.h"
#include "platform/Paths.h"

#include <initializer_list>
#include <memory>
#include <string>

namespace formats {

class TZipDll : public archives::TCustomArchiverDll {
public:
    TZipDll() = default;
    ~TZipDll() override;

    // Loads each of "UNZIP32.DLL", "ZIP32J.DLL" and "LMZIP32.DLL" that is not loaded yet; one that
    // cannot be loaded stays missing. Never raises.
    void LoadDLL() override;
    // Unloads the three libraries and forgets every entry.
    void FreeDLL() override;

    // Each looks its entry up afresh (nothing is cached) in the libraries of its row, in order:
    //   CheckArchive "UnZipCheckArchive"        UNZIP32, LMZIP32, ZIP32J   loads first
    //   CloseArchive/OpenArchive/FindFirst       LMZIP32, ZIP32J, UNZIP32   loads first
    //   FindNext, the three time getters         LMZIP32, ZIP32J, UNZIP32   ("UnzipGetWriteTimeEx")
    //   ExtractMem "UnZipExtractMem"             UNZIP32, LMZIP32, ZIP32J
    //   Set/KillOwnerWindowEx                    UNZIP32 only, resolved once and kept
    // then calls it as the base binding does. Only the time getters may be missing.
    BOOL CheckArchive(const std::string &archive, int mode) override;
    int CloseArchive(HARC arc) override;
    int ExtractMem(HWND wnd, const std::string &cmdLine, unsigned char *buffer, DWORD size,
                   void *time, WORD *attr, DWORD *written) override;
    int FindFirst(HARC arc, const std::string &wildName, TIndividualInfoEx *info) override;
    int FindNext(HARC arc, TIndividualInfoEx *info) override;
    int KillOwnerWindowEx(HWND wnd) override;
    HARC OpenArchive(HWND wnd, const std::string &archive, DWORD mode) override;
    int SetOwnerWindowEx(HWND wnd, void *callback) override;
    BOOL GetWriteTimeEx(HARC arc, ARC_FILETIME *time) override;
    BOOL GetCreateTimeEx(HARC arc, ARC_FILETIME *time) override;
    BOOL GetAccessTimeEx(HARC arc, ARC_FILETIME *time) override;

    // Fills Entry from the first of Libraries (null ones skipped) that exports Name; in
    // LmzipLibrary a third character 'Z' is looked up as 'z'. Entry is written on every call, with
    // null when nothing has the name; then EEntryNotFound "<Name> のエントリが DLL に見つかりません
    // でした。" when Required, else false.
    bool ResolveEntry(void *&Entry, std::initializer_list<HMODULE> Libraries,
                      const std::string &Name, bool Required);
    template <class F>
    bool ResolveEntry(F &Entry, std::initializer_list<HMODULE> Libraries, const std::string &Name,
                      bool Required) {
        Entry = nullptr;
        void *address = nullptr;
        bool found = ResolveEntry(address, Libraries, Name, Required);
        Entry = reinterpret_cast<F>(address);
        return found;
    }

    // The two main functions: "Zip" (ZIP32J, LMZIP32) and "UnZip" (UNZIP32, LMZIP32), each after
    // a load. A size of 0 passes no output buffer.
    int Zip(HWND wnd, const std::string &cmdLine, char *output, DWORD size);
    int UnZip(HWND wnd, const std::string &cmdLine, char *output, DWORD size);

    HMODULE UnzipLibrary = nullptr;
    HMODULE LmzipLibrary = nullptr;
    HMODULE ZipLibrary = nullptr;
    ArcCommandProc ZipProc = nullptr;
    ArcCommandProc UnZipProc = nullptr;

private:
    void FreeLibraries();
};

// The ZIP binding, shared by every TZip32 and by IsZipArchive; null until the first LoadDLL.
extern std::unique_ptr<TZipDll> ZipDll;

// The wildcard syntax of the zip and unzip libraries: a leading '-' becomes "[-]", each path
// separator '/', each '[' "[[]"; read with the double-byte rules. Applies to file arguments and
// response-file lines, never to the archive name or a directory.
std::string ZipFileNameFilter(const std::string &FileName);
// The same with the given path rules (the Windows form: backslash separators, Shift-JIS).
std::string ZipFileNameFilter(const std::string &FileName, const platform::PathRules &Rules);

class TZip32 : public archives::TArchiver {
public:
    TZip32();

    // Creates ZipDll when there is none and loads what it can; never raises.
    static void LoadDLL();
    static void FreeDLL();

    HARC OpenArchive(HWND Wnd, const std::string &ArchiveName, DWORD Mode) override;
    int FindFirst(HARC Arc, TIndividualInfoEx *Info, const std::string &WildName) override;
    int FindNext(HARC Arc, TIndividualInfoEx *Info) override;
    int CloseArchive(HARC Arc) override;
    // The response-file choice is the UseResFile argument, not ResFileUsage.
    // "-x" through the unzip side; EArchiver when neither UNZIP32 nor LMZIP32 is loaded.
    int Extract(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, const archives::TFileArgs &Files, bool UseResFile,
                std::string &Output) override;
    // Through ZIP32J (zip dialect, no command word), else LMZIP32 ("-ru", no directory, and the
    // archive is deleted before the run); EArchiver when neither is loaded.
    int Pack(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
             const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
             std::string &Output) override;
    // "-d", no directory.
    int Delete(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
               const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
               std::string &Output) override;
    // "-f".
    int Update(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
               const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
               std::string &Output) override;
    // Needs ZIP32J. Writes <archive>.EXE (in DestDir when given) as the stub "sfx32gui.dat"
    // (gw > 0, Win32) or "sfx16.dat" (else, DOS) followed by the archive, then runs "-A <target>".
    int MakeSfx(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, std::string &Output) override;
    int ExtractMem(HWND Wnd, const std::string &ArchiveName,
                   const archives::TArchiverOptions &Options, const std::string &EntryName,
                   void *Buffer, DWORD BufferSize, DWORD *WrittenSize) override;
    // Mode alone; Flags is not used.
    int CheckArchive(const std::string &ArchiveName, int Mode, int Flags) override;
    // The library first, then the record: when the library call raises, no window is recorded.
    bool SetOwnerWindow(HWND Wnd, void *ArcProc) override;
    bool KillOwnerWindow(HWND Wnd) override;

    // The three dialects: the command word followed by the switches, the user's options, the
    // quoted archive name and directory, the files (or "@" response file) and the user's list.
    // Unzip: c=1 "-o"; n>0 or an owner window "--i"; x=0 "-j". Filtered names.
    std::string BuildUnzipCommandLine(const std::string &Command, const std::string &ArchiveName,
                                      const archives::TArchiverOptions &Options,
                                      const std::string &Dir, const archives::TFileArgs &Files,
                                      bool UseResFile);
    // Zip: a>0 "-S"; a<2 "-D"; l>0 "-v"; n>0 "-q"; r>0 "-r"; n>0 "-o"; u>0 "-u"; x=0 "-j";
    // jc>0 "-FF"; ji>0 "-k"; jm>=0 "-<jm>"; gd>0 "-J". Filtered names.
    std::string BuildZipCommandLine(const std::string &Command, const std::string &ArchiveName,
                                    const archives::TArchiverOptions &Options,
                                    const std::string &Dir, const archives::TFileArgs &Files,
                                    bool UseResFile);
    // LMZIP32: c=1 "-o"; x=0 "-j". Names unfiltered.
    std::string BuildLmzipCommandLine(const std::string &Command, const std::string &ArchiveName,
                                      const archives::TArchiverOptions &Options,
                                      const std::string &Dir, const archives::TFileArgs &Files,
                                      bool UseResFile);

    int ExecuteUnZip(HWND Wnd, const std::string &CmdLine, std::string &Output);
    int ExecuteZip(HWND Wnd, const std::string &CmdLine, std::string &Output);
};

// True when the libraries' check (mode 24) accepts the file and it opens (mode 0x800002). Never
// raises: missing libraries, a missing file or any error answer false.
bool IsZipArchive(const std::string &FileName);

} // namespace formats
