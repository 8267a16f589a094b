// Bindings to the archiver libraries. A binding loads its library on request, resolves each entry
// point by name the first time it is needed, keeps the address, and offers every library function
// as a virtual operation, so a back-end calls an archiver without knowing how it was found.
//
// Contract of the operations (TCustomArchiverDll calls its entry slots; TArchiverDll resolves them
// first under Prefix + the function name, the prefix alone for Command):
//  - Command, OpenArchive, CloseArchive, FindFirst, CheckArchive and GetArchiveType load the
//    library first (LoadDLL), so a binding whose load failed or that was freed tries again.
//  - FindNext, ExtractMem, SetOwnerWindowEx, KillOwnerWindowEx and the five getters do not load:
//    they look their entry up in whatever Handle holds; without a library the required ones raise
//    EEntryNotFound naming the program's own file, and the getters answer false.
//  - A missing required entry raises EEntryNotFound "<module path> に <entry> のエントリが見つかり
//    ません。"; the getters GetWriteTimeEx .. GetCompressedSizeEx are optional and answer false
//    (looked up again at the next call, not remembered as missing).
//  - FindFirst/FindNext, when the library answers 0, complete the record's times from the time
//    getters (else from its DOS date and time, without a time-zone shift) and its 64-bit sizes from
//    the size getters (else from its 32-bit sizes).
//  - Results of the library come back unchanged.
#pragma once

#include "archiver_api.h"

#include <string>
#include <type_traits>

namespace archives {

using ::TIndividualInfoEx;

// Fills the entry slot from the module's export of that name unless it already holds an address.
// A missing entry raises EEntryNotFound when required, else answers false and leaves the slot null
// (so the next call looks again).
bool GetEntryPoint(void **slot, HMODULE module, const std::string &name, bool required);

template <class F>
requires std::is_pointer_v<F> && std::is_function_v<std::remove_pointer_t<F>>
bool GetEntryPoint(F &slot, HMODULE module, const std::string &name, bool required) {
    void *address = slot ? reinterpret_cast<void *>(slot) : nullptr;
    bool found = GetEntryPoint(&address, module, name, required);
    slot = reinterpret_cast<F>(address);
    return found;
}

class TCustomArchiverDll {
public:
    TCustomArchiverDll() = default;
    TCustomArchiverDll(const TCustomArchiverDll &) = delete;
    TCustomArchiverDll &operator=(const TCustomArchiverDll &) = delete;
    // A C++ destructor cannot reach an override, so each binding class frees its own library in
    // its destructor; this one only forgets the entries.
    virtual ~TCustomArchiverDll();

    // Virtual operations, in slot order.
    virtual void LoadDLL() = 0;
    virtual void FreeDLL(); // forgets all fifteen entries
    // A size of 0 passes no output buffer.
    virtual int Command(HWND wnd, const std::string &cmdLine, char *output, DWORD size);
    virtual BOOL CheckArchive(const std::string &archive, int mode);
    virtual int CloseArchive(HARC arc);
    virtual int ExtractMem(HWND wnd, const std::string &cmdLine, unsigned char *buffer, DWORD size,
                           void *time, WORD *attr, DWORD *written);
    virtual int FindFirst(HARC arc, const std::string &wildName, TIndividualInfoEx *info);
    virtual int FindNext(HARC arc, TIndividualInfoEx *info);
    virtual int KillOwnerWindowEx(HWND wnd);
    virtual HARC OpenArchive(HWND wnd, const std::string &archive, DWORD mode);
    virtual int SetOwnerWindowEx(HWND wnd, void *callback);
    // The getters answer false without a call while their entry is unresolved.
    virtual BOOL GetWriteTimeEx(HARC arc, ARC_FILETIME *time);
    virtual BOOL GetCreateTimeEx(HARC arc, ARC_FILETIME *time);
    virtual BOOL GetAccessTimeEx(HARC arc, ARC_FILETIME *time);
    virtual BOOL GetOriginalSizeEx(HARC arc, int64_t *size);
    virtual BOOL GetCompressedSizeEx(HARC arc, int64_t *size);
    virtual int GetArchiveType(const std::string &archive);

protected:
    // The fifteen entry slots, in order; null while unresolved.
    ArcCommandProc CommandProc = nullptr;
    ArcOpenArchiveProc OpenArchiveProc = nullptr;
    ArcCloseArchiveProc CloseArchiveProc = nullptr;
    ArcFindFirstProc FindFirstProc = nullptr;
    ArcFindNextProc FindNextProc = nullptr;
    ArcExtractMemProc ExtractMemProc = nullptr;
    ArcCheckArchiveProc CheckArchiveProc = nullptr;
    ArcSetOwnerWindowExProc SetOwnerWindowExProc = nullptr;
    ArcKillOwnerWindowExProc KillOwnerWindowExProc = nullptr;
    ArcGetTimeExProc GetWriteTimeExProc = nullptr;
    ArcGetTimeExProc GetCreateTimeExProc = nullptr;
    ArcGetTimeExProc GetAccessTimeExProc = nullptr;
    ArcGetSizeExProc GetOriginalSizeExProc = nullptr;
    ArcGetSizeExProc GetCompressedSizeExProc = nullptr;
    ArcGetArchiveTypeProc GetArchiveTypeProc = nullptr;

private:
    void CompleteInfo(HARC arc, TIndividualInfoEx *info);
};

// The binding of a library whose entries are its prefix followed by the function name.
class TArchiverDll : public TCustomArchiverDll {
public:
    // Neither loads nor resolves anything.
    TArchiverDll(std::string formatName, std::string dllName, std::string prefix);
    ~TArchiverDll() override;

    HMODULE Handle() const { return FHandle; }
    const std::string &FormatName() const { return FFormatName; }
    const std::string &DllName() const { return FDllName; }
    const std::string &Prefix() const { return FPrefix; }

    // Loads DllName unless loaded; raises ENoArchiverDLL "<FormatName> を扱うには <DllName> が
    // 必要です。" when it cannot be loaded (Handle stays null, the next load tries again).
    void LoadDLL() override;
    // Forgets the entries, then unloads the library.
    void FreeDLL() override;
    int Command(HWND wnd, const std::string &cmdLine, char *output, DWORD size) override;
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
    BOOL GetOriginalSizeEx(HARC arc, int64_t *size) override;
    BOOL GetCompressedSizeEx(HARC arc, int64_t *size) override;
    int GetArchiveType(const std::string &archive) override;

protected:
    // Resolves Prefix + suffix into the slot (Handle as it is, no load).
    template <class F> bool Resolve(F &slot, const char *suffix, bool required) {
        return GetEntryPoint(slot, FHandle, FPrefix + suffix, required);
    }

private:
    HMODULE FHandle = nullptr;
    std::string FFormatName;
    std::string FDllName;
    std::string FPrefix;
};

} // namespace archives
