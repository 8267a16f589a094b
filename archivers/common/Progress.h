// Progress to the owner window: "wm_arcextract" with the state and an EXTRACTINGINFOEX record, sent
// on the calling thread through ArcSendMessage. A window that answers 1 stops the run: the report
// throws ArcError(kArcErrUserCancel), which unwinds the operation and cleans up on the way.
#pragma once

#include "archiver_api.h"

#include <cstdint>
#include <string>

namespace arclib {

// The windows registered with SetOwnerWindowEx, per library (each library links its own copy).
// The most recent registration is the owner; killing it brings back the one before.
class OwnerWindows {
public:
    static BOOL Set(HWND hwnd);  // FALSE for a null window
    static BOOL Kill(HWND hwnd); // FALSE when hwnd was not registered
    static HWND Current();       // null when none
};

// What one report says about the entry at hand.
struct ProgressEntry {
    std::string source;      // where the bytes come from (archive entry or file on disk)
    std::string destination; // where they go
    uint64_t size = 0;       // uncompressed size of the entry
    uint64_t written = 0;    // bytes done so far
    uint64_t compressed = 0;
    uint32_t crc = 0;
    int64_t mtime = 0; // Unix seconds
    uint32_t mode = 0; // st_mode bits, for the attribute text
    std::string method;
};

class Progress {
public:
    // Reports go to the registered owner window (the one that asked for them), else to the
    // window given to the call; with neither the reports cost nothing.
    explicit Progress(HWND callWindow);
    bool Active() const { return window_ != nullptr; }
    // Sends one report; throws ArcError(kArcErrUserCancel) when the window answers 1.
    void Send(int state, const ProgressEntry &entry);
    // Sends state 3 (archive opened) with the archive's name.
    void Opened(const std::string &archive);

private:
    HWND window_;
    UINT message_;
};

void FillExtractingInfo(const ProgressEntry &entry, EXTRACTINGINFOEX &info);

} // namespace arclib
