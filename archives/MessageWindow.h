// A window object of the archiver interface: its handle is the address of an ArcWindow whose
// procedure a library calls (ArcSendMessage) on the caller's own thread, so progress reaches the
// component inside the library call without any system window.
#pragma once

#include "archiver_api.h"

#include <functional>

namespace archives {

class TMessageWindow {
public:
    using THandler = std::function<LRESULT(UINT Msg, WPARAM wParam, LPARAM lParam)>;

    explicit TMessageWindow(THandler Handler);
    TMessageWindow(const TMessageWindow &) = delete;
    TMessageWindow &operator=(const TMessageWindow &) = delete;

    HWND Handle() { return &object_; }

    // The default window procedure: a message nobody handles is answered with 0.
    static LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

private:
    // Standard layout with the ArcWindow first: the handle is also a pointer to Object.
    struct Object {
        ArcWindow window;
        TMessageWindow *self;
    };
    static LRESULT Procedure(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam);

    Object object_;
    THandler handler_;
};

} // namespace archives
