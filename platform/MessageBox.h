// Message boxes of a run without a display: the box becomes one line on standard error and is
// answered at once with its safe button, so an unattended run never waits for a user.
#pragma once

#include <iosfwd>
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

} // namespace platform
