// What the back-ends of libraries named by an entry prefix (LHA, CAB, ARJ) share:
//  P1 one binding per format for the whole process, created and loaded by the first LoadDLL (or
//     the first probe), kept after a failed load so the load is not tried again;
//  P2 listing passed through, the archive name expanded to its full path on opening;
//  P3 the owner window recorded before it is registered with the library, and unregistered
//     before the record is cleared; both answer whether the library reported success;
//  P4 the archive check with the name unchanged and Mode + Flags;
//  P5 memory extraction of one entry with an empty command word and no directory;
//  P6 the content probe: load, expand the name, ask the library, and answer false on any error.
#pragma once

#include "archives/Archiver.h"
#include "archives/ArchiverDll.h"

#include <functional>
#include <memory>
#include <string>

namespace formats {

// The unit-level binding of one format and how to create it.
struct TPrefixBinding {
    const char *FormatName; // names the format in the missing-library message
    const char *DllName;
    const char *Prefix;
    std::unique_ptr<archives::TArchiverDll> &Dll;

    // P1 LoadDLL: creates and stores the binding when there is none, then loads its library
    // (ENoArchiverDLL when missing; the binding stays stored). Does nothing when one is stored.
    void Load() const;
    // P1 FreeDLL: destroys the binding (unloading the library).
    void Free() const;
    // The stored binding, created (not loaded) when FreeDLL dropped it; its loading operations
    // load on use.
    archives::TArchiverDll &Get() const;
};

class TPrefixArchiver : public archives::TArchiver {
public:
    // P2
    HARC OpenArchive(HWND Wnd, const std::string &ArchiveName, DWORD Mode) override;
    int FindFirst(HARC Arc, TIndividualInfoEx *Info, const std::string &WildName) override;
    int FindNext(HARC Arc, TIndividualInfoEx *Info) override;
    int CloseArchive(HARC Arc) override;
    // P4
    int CheckArchive(const std::string &ArchiveName, int Mode, int Flags) override;
    // P3
    bool SetOwnerWindow(HWND Wnd, void *ArcProc) override;
    bool KillOwnerWindow(HWND Wnd) override;

protected:
    // Class is the back-end's class record (its LoadDLL runs now); Binding the format's binding
    // that the operations above go through.
    TPrefixArchiver(const archives::TArchiverClass &Class, const TPrefixBinding &Binding);

    archives::TArchiverDll &Dll() const { return binding_.Get(); }
    // Runs a command line through the main entry of Binding's library with Output as its text
    // buffer (no buffer when Output is empty).
    static int Execute(const TPrefixBinding &Binding, HWND Wnd, const std::string &CommandLine,
                       std::string &Output);
    // P5: the library's memory extraction of the command line built for one entry.
    static int ExecuteMem(const TPrefixBinding &Binding, HWND Wnd, const std::string &CommandLine,
                          void *Buffer, DWORD BufferSize, DWORD *WrittenSize);

private:
    const TPrefixBinding &binding_;
};

// P6: loads the binding, expands FileName to its full path and asks Ask; false when Ask says no or
// anything on the way raises (a missing library or entry among them).
bool PrefixProbe(
    const TPrefixBinding &Binding, const std::string &FileName,
    const std::function<bool(archives::TArchiverDll &, const std::string &)> &Ask) noexcept;

} // namespace formats
