#include "platform/MessageBox.h"

#include <iostream>

namespace platform {

size_t ShowHeadlessMessageBox(const MessageBoxText &box) {
    return ShowHeadlessMessageBox(box, std::cerr);
}

size_t ShowHeadlessMessageBox(const MessageBoxText &box, std::ostream &out) {
    std::string line = box.Title.empty() ? box.Text : box.Title + ": " + box.Text;
    for (char &c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    out << line << std::endl;
    return box.Buttons.empty() ? 0 : box.Buttons.size() - 1;
}

} // namespace platform
