// The abstract format back-end. Every format offers the same archive operations in the same
// order of virtual operations; the component holds one back-end and never knows which format it
// talks to. Each back-end class reaches its archiver library through one binding shared by all
// its instances (a unit-level variable of the format), loaded by the class's LoadDLL.
//
// Class-level LoadDLL/FreeDLL: a back-end class declares
//     static void LoadDLL();  static void FreeDLL();
// and hands its class to the base constructor:
//     TLha32() : TArchiver(ArchiverClassOf<TLha32>()) {}
// A class that declares no LoadDLL inherits its parent's (TArchiver's raises), as a class method
// is inherited; a class meant to be derived from offers a constructor taking the class, so that
// its descendants load their own library:
//     protected: explicit TLha32(const TArchiverClass &Class) : TArchiver(Class) {}
//
// Contract every back-end fulfils (the formats give the details):
//  - LoadDLL: when the class has no binding yet, create it with the format's description, entry
//    prefix and library name, store it, then load the library (ENoArchiverDLL when it cannot be
//    loaded; the binding stays stored all the same). With a binding present, do nothing, so a
//    failed load is not tried again. FreeDLL frees the binding.
//  - OpenArchive, FindFirst, FindNext, CloseArchive: pass through to the library's listing.
//  - Extract, Pack, Delete, Update, MakeSfx: build the line with a fresh TCmdOpt (command word,
//    switches from Options, archive and directory through AddArchiveAndDir, files through
//    AddFileList), store it in CommandLine, run it through the library's command function with
//    Output, and return the library's result unchanged.
//  - ExtractMem: the line for the single EntryName, run through the library's memory extraction.
//  - CheckArchive: the library's check with a mode formed from Mode and Flags.
//  - SetOwnerWindow/KillOwnerWindow: record or forget the window through the base operation (so
//    HasOwnerWindow is right) and register it with the library; answer the library's success.
//  - RequireDLL is never replaced.
#pragma once

#include "archiver_api.h"
#include "archives/ArchiverDll.h"
#include "archives/ArchiverOptions.h"
#include "archives/CmdOpt.h"
#include "archives/FileArgs.h"

#include <string>

namespace archives {

// The class-level operations of a back-end class, reached through an instance.
struct TArchiverClass {
    void (*LoadDLL)();
    void (*FreeDLL)();
};

// The class record of T: T's own LoadDLL/FreeDLL, or the nearest ancestor's.
template <class T> const TArchiverClass &ArchiverClassOf() {
    static const TArchiverClass Class{&T::LoadDLL, &T::FreeDLL};
    return Class;
}

class TArchiver {
public:
    TArchiver(const TArchiver &) = delete;
    TArchiver &operator=(const TArchiver &) = delete;
    // Releases nothing of the library: bindings stay loaded for the life of the process.
    virtual ~TArchiver() = default;

    // Class operations; these raise EArchiver "Abstract method 'TArchiver.LoadDLL' was called"
    // (FreeDLL likewise) for a class that does not provide its own.
    static void LoadDLL();
    static void FreeDLL();
    // The class of this instance, for its class-level operations.
    const TArchiverClass &ClassType() const { return *FClass; }

    // The operations, in this order in every back-end. Results of the library come back
    // unchanged (0 is success).
    // No handle (0) by default.
    virtual HARC OpenArchive(HWND Wnd, const std::string &ArchiveName, DWORD Mode);
    // -1 by default.
    virtual int FindFirst(HARC Arc, TIndividualInfoEx *Info, const std::string &WildName);
    // -1 by default.
    virtual int FindNext(HARC Arc, TIndividualInfoEx *Info);
    // 0 by default.
    virtual int CloseArchive(HARC Arc);
    // Every back-end provides it.
    virtual int Extract(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                        const std::string &DestDir, const TFileArgs &Files, bool UseResFile,
                        std::string &Output) = 0;
    // The operations below raise EArchiver naming the missing capability by default; the library
    // is not called then.
    virtual int Pack(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                     const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
                     std::string &Output);
    virtual int Delete(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                       const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
                       std::string &Output);
    virtual int Update(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                       const std::string &BaseDir, const TFileArgs &Files, bool UseResFile,
                       std::string &Output);
    virtual int MakeSfx(HWND Wnd, const std::string &ArchiveName, const TArchiverOptions &Options,
                        const std::string &DestDir, std::string &Output);
    virtual int ExtractMem(HWND Wnd, const std::string &ArchiveName,
                           const TArchiverOptions &Options, const std::string &EntryName,
                           void *Buffer, DWORD BufferSize, DWORD *WrittenSize);
    virtual int CheckArchive(const std::string &ArchiveName, int Mode, int Flags);
    // Stores Wnd as the owner window and answers false.
    virtual bool SetOwnerWindow(HWND Wnd, void *ArcProc);
    // Forgets the owner window and answers false.
    virtual bool KillOwnerWindow(HWND Wnd);
    // Calls LoadDLL of this instance's class.
    virtual void RequireDLL() final;

    // True while an owner window is stored.
    bool HasOwnerWindow() const { return FOwnerWindow != nullptr; }

    // The last command line the back-end built (the base never writes it).
    std::string CommandLine;

    // The archive name, then the directory (nothing when empty), both without switch letter.
    static void AddArchiveAndDir(TCmdOpt &Cmd, const std::string &ArchiveName,
                                 const std::string &Dir);
    // The names into the response file Options.ResFileName when UseResFile and that name is
    // given (neither empty nor unset), else onto the command line; then UserFileList verbatim.
    // Returns the number of names.
    static int AddFileList(TCmdOpt &Cmd, const TArchiverOptions &Options, bool UseResFile,
                           const TFileArgs &Files);

protected:
    // Calls Class.LoadDLL(); its exception (ENoArchiverDLL) makes the construction fail.
    explicit TArchiver(const TArchiverClass &Class);

private:
    const TArchiverClass *FClass;
    HWND FOwnerWindow = nullptr;
};

} // namespace archives
