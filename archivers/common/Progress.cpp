#include "archivers/common/Progress.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/Listing.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace arclib {

namespace {
std::mutex g_windowsMutex;
std::vector<HWND> &Windows() {
    static std::vector<HWND> windows;
    return windows;
}
} // namespace

BOOL OwnerWindows::Set(HWND hwnd) {
    if (!hwnd)
        return 0;
    std::lock_guard lock(g_windowsMutex);
    auto &w = Windows();
    w.erase(std::remove(w.begin(), w.end(), hwnd), w.end());
    w.push_back(hwnd);
    return 1;
}

BOOL OwnerWindows::Kill(HWND hwnd) {
    std::lock_guard lock(g_windowsMutex);
    auto &w = Windows();
    auto it = std::find(w.begin(), w.end(), hwnd);
    if (it == w.end())
        return 0;
    w.erase(it);
    return 1;
}

HWND OwnerWindows::Current() {
    std::lock_guard lock(g_windowsMutex);
    auto &w = Windows();
    return w.empty() ? nullptr : w.back();
}

Progress::Progress(HWND callWindow)
    : window_(OwnerWindows::Current() ? OwnerWindows::Current() : callWindow),
      message_(ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME)) {}

void FillExtractingInfo(const ProgressEntry &e, EXTRACTINGINFOEX &info) {
    std::memset(&info, 0, sizeof info);
    info.dwFileSize = ClampToDword(e.size);
    info.dwWriteSize = ClampToDword(e.written);
    CopyName(info.szSourceFileName, sizeof info.szSourceFileName, e.source);
    CopyName(info.szDestFileName, sizeof info.szDestFileName, e.destination);
    info.dwCompressedSize = ClampToDword(e.compressed);
    info.dwCRC = e.crc;
    info.wRatio = RatioPerMille(e.compressed, e.size);
    DosDateTime(e.mtime, info.wDate, info.wTime);
    CopyName(info.szAttribute, sizeof info.szAttribute, AttributeText(e.mode));
    CopyName(info.szMode, sizeof info.szMode, e.method);
}

void Progress::Send(int state, const ProgressEntry &entry) {
    if (!window_)
        return;
    EXTRACTINGINFOEX info;
    FillExtractingInfo(entry, info);
    LRESULT answer = ArcSendMessage(window_, message_, static_cast<WPARAM>(state),
                                    reinterpret_cast<LPARAM>(&info));
    if (answer == 1)
        throw ArcError(kArcErrUserCancel);
}

void Progress::Opened(const std::string &archive) {
    ProgressEntry e;
    e.source = archive;
    Send(ARCEXTRACT_OPEN, e);
}

} // namespace arclib
