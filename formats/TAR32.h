// The TAR back-ends: plain tar (TTar32), gzip-compressed tar (TTgz32) and bzip2-compressed tar
// (TBZ232), all through TAR32.DLL (entries "Tar..."). The two compressed kinds are TTar32 in all
// but the compression switch and the refusal of a bzip2 self-extractor, decided by an inheritance
// test, so a class derived from them later behaves as its ancestor. Deleting and updating are not
// supported. GetTarArchiverType is the content probe of the tar family.
#pragma once

#include "archives/ArchiverDll.h"
#include "archives/ArchiverType.h"
#include "formats/PrefixArchiver.h"

#include <memory>
#include <string>

namespace formats {

// The TAR binding, shared by the three classes and the probe; null until the first LoadDLL.
extern std::unique_ptr<archives::TArchiverDll> TarDll;
extern const TPrefixBinding TarBinding;

class TTar32 : public TPrefixArchiver {
public:
    TTar32();

    static void LoadDLL();
    static void FreeDLL();

    // "x" with DestDir and "c" with BaseDir; the response-file choice is ruOnUnpack / ruOnPack of
    // the options' ResFileUsage, not the UseResFile argument.
    int Extract(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, const archives::TFileArgs &Files, bool UseResFile,
                std::string &Output) override;
    int Pack(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
             const std::string &BaseDir, const archives::TFileArgs &Files, bool UseResFile,
             std::string &Output) override;
    // Writes <archive>.EXE (in DestDir when given) as the stub "kmtarsef.exe" followed by the
    // archive; no library call. A bzip2 tar is refused before any file is touched.
    int MakeSfx(HWND Wnd, const std::string &ArchiveName, const archives::TArchiverOptions &Options,
                const std::string &DestDir, std::string &Output) override;
    // No command word, no directory, EntryName as the only file.
    int ExtractMem(HWND Wnd, const std::string &ArchiveName,
                   const archives::TArchiverOptions &Options, const std::string &EntryName,
                   void *Buffer, DWORD BufferSize, DWORD *WrittenSize) override;
    // Mode + Flags; a sum that does not fit raises std::overflow_error.
    int CheckArchive(const std::string &ArchiveName, int Mode, int Flags) override;

    // Command word, then (SeparateValue on): a>0 "-AH"; a=0 "-I"; no owner window and n>0
    // "--display-dialog=0"; o>0 "-g"; p>=0 "--check-all-path=<p>"; x>=0 "--use-directory=<x>";
    // gzip "-z[<jm>]", bzip2 "-B[<jm>]" (the level when jm>=1); the user's options;
    // -f "<archive>" unless empty; -o "<dir>/" unless empty; the files and the user's list.
    std::string BuildTarCommandLine(const std::string &Command, const std::string &ArchiveName,
                                    const archives::TArchiverOptions &Options,
                                    const std::string &Dir, const archives::TFileArgs &Files,
                                    bool UseResFile);
    // The library's main entry "Tar" with Output as its text buffer.
    int Execute(HWND Wnd, const std::string &CmdLine, std::string &Output);

protected:
    explicit TTar32(const archives::TArchiverClass &Class);
};

class TTgz32 : public TTar32 {
public:
    TTgz32();

protected:
    explicit TTgz32(const archives::TArchiverClass &Class) : TTar32(Class) {}
};

class TBZ232 : public TTar32 {
public:
    TBZ232();

protected:
    explicit TBZ232(const archives::TArchiverClass &Class) : TTar32(Class) {}
};

// atTar, atTgz or atBZ2 from the library's archive-type answer (1; 2-5; 6-7) for FileName as
// given; atNone for any other answer and on any error (a missing library among them).
archives::TArchiverType GetTarArchiverType(const std::string &FileName);

} // namespace formats
