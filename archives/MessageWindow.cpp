#include "archives/MessageWindow.h"

#include <type_traits>
#include <utility>

namespace archives {

TMessageWindow::TMessageWindow(THandler Handler)
    : object_{{&TMessageWindow::Procedure}, this}, handler_(std::move(Handler)) {
    static_assert(std::is_standard_layout_v<Object>);
}

LRESULT TMessageWindow::Procedure(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    auto *object = static_cast<Object *>(Wnd);
    if (object && object->self && object->self->handler_)
        return object->self->handler_(Msg, wParam, lParam);
    return DefWindowProc(Wnd, Msg, wParam, lParam);
}

} // namespace archives
