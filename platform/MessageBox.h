// Message boxes of a run without a display: the box becomes one line on standard error and is
// answered at once with its safe button, so an unattended run never waits for a user.
//
// The password prompt is a seam: whoever has a user to ask (the dialog, a test) installs a
// handler; without one the prompt is a line on standard error answered with no password.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class MessageBoxIcon { None, Information, Question, Error };

// What a message box shows. Buttons carry their captions, first button first.
struct MessageBoxText {
    std::string Title;
    std::string Text;
    std::vector<std::string> Buttons;
    MessageBoxIcon Icon = MessageBoxIcon::None;
};

// Writes "Title: Text" as one line (line breaks in the text become blanks) and returns the index of
// the button taken: the last one, which is "No" in a Yes/No box and "OK" in a plain one.
size_t ShowHeadlessMessageBox(const MessageBoxText &box);
size_t ShowHeadlessMessageBox(const MessageBoxText &box, std::ostream &out);

// A request for a password. Owner is the window the request comes from (may be null).
struct PasswordPromptText {
    std::string Title;
    std::string Text;
    void *Owner = nullptr;
};

// The password entered, or nothing when the user cancelled.
using PasswordHandler = std::function<std::optional<std::string>(const PasswordPromptText &)>;

// Installs Handler for the whole process (an empty one restores the headless prompt) and returns
// the one it replaces.
PasswordHandler SetPasswordHandler(PasswordHandler Handler);
// Asks the installed handler, else the headless prompt.
std::optional<std::string> AskPassword(const PasswordPromptText &prompt);
// Writes the prompt as one line, as a headless message box does, and answers no password: an
// unattended run has nobody to type one.
std::optional<std::string> AskHeadlessPassword(const PasswordPromptText &prompt, std::ostream &out);

// Installs a password handler for the lifetime of the object and restores the previous one.
class ScopedPasswordHandler {
public:
    explicit ScopedPasswordHandler(PasswordHandler Handler)
        : previous_(SetPasswordHandler(std::move(Handler))) {}
    ~ScopedPasswordHandler() { SetPasswordHandler(std::move(previous_)); }
    ScopedPasswordHandler(const ScopedPasswordHandler &) = delete;
    ScopedPasswordHandler &operator=(const ScopedPasswordHandler &) = delete;

private:
    PasswordHandler previous_;
};

// Enables or disables input to a window of the archiver interface. There are no system windows:
// the window's procedure receives the enable message (WM_ENABLE, wParam the new state), as a
// Windows window does. A null window is ignored.
void EnableWindow(void *Wnd, bool Enable);

} // namespace platform
