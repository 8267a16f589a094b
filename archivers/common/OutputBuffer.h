// The caller's output buffer: a short report in plain text, cut to the buffer's size at a character
// boundary and always NUL-terminated; a null buffer or a size of 0 receives nothing. The buffer is
// kept current after every append, so it holds the report so far even when an operation fails.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace arclib {

class OutputBuffer {
public:
    OutputBuffer(char *buffer, size_t size);
    void Append(std::string_view text);
    void Line(std::string_view text); // text and a line feed
    const std::string &Text() const { return text_; }

private:
    void Sync();
    char *buffer_;
    size_t size_;
    std::string text_;
    size_t synced_ = 0; // bytes of text_ already in the buffer
    bool full_ = false;
};

} // namespace arclib
