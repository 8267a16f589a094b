#include "platform/MessageBox.h"

#include "archiver_api.h"

#include <iostream>
#include <utility>

namespace platform {

namespace {

constexpr UINT kWmEnable = 0x000A;

PasswordHandler &InstalledPasswordHandler() {
    static PasswordHandler handler;
    return handler;
}

std::string OneLine(const std::string &title, const std::string &text) {
    std::string line = title.empty() ? text : title + ": " + text;
    for (char &c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

} // namespace

size_t ShowHeadlessMessageBox(const MessageBoxText &box) {
    return ShowHeadlessMessageBox(box, std::cerr);
}

size_t ShowHeadlessMessageBox(const MessageBoxText &box, std::ostream &out) {
    out << OneLine(box.Title, box.Text) << std::endl;
    return box.Buttons.empty() ? 0 : box.Buttons.size() - 1;
}

PasswordHandler SetPasswordHandler(PasswordHandler Handler) {
    return std::exchange(InstalledPasswordHandler(), std::move(Handler));
}

std::optional<std::string> AskPassword(const PasswordPromptText &prompt) {
    if (const auto &handler = InstalledPasswordHandler())
        return handler(prompt);
    return AskHeadlessPassword(prompt, std::cerr);
}

std::optional<std::string> AskHeadlessPassword(const PasswordPromptText &prompt,
                                               std::ostream &out) {
    out << OneLine(prompt.Title, prompt.Text) << std::endl;
    return std::nullopt;
}

void EnableWindow(void *Wnd, bool Enable) {
    ArcSendMessage(Wnd, kWmEnable, Enable ? 1 : 0, 0);
}

} // namespace platform
