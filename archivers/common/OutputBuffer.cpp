#include "archivers/common/OutputBuffer.h"

#include "platform/CodePage.h"

#include <cstring>

namespace arclib {

OutputBuffer::OutputBuffer(char *buffer, size_t size)
    : buffer_(size ? buffer : nullptr), size_(buffer ? size : 0) {
    if (buffer_)
        buffer_[0] = '\0';
}

void OutputBuffer::Append(std::string_view text) {
    text_ += text;
    Sync();
}

void OutputBuffer::Line(std::string_view text) {
    text_ += text;
    text_ += '\n';
    Sync();
}

void OutputBuffer::Sync() {
    if (!buffer_ || full_)
        return;
    size_t room = size_ - 1; // one byte for the NUL
    size_t end = text_.size();
    if (end > room) {
        // Cut before a character that would not fit whole.
        end = room;
        while (end > synced_ && !platform::IsCharStart(text_, end, platform::CodePage::Utf8))
            --end;
        full_ = true;
    }
    if (end > synced_)
        std::memcpy(buffer_ + synced_, text_.data() + synced_, end - synced_);
    synced_ = end;
    buffer_[synced_] = '\0';
}

} // namespace arclib
