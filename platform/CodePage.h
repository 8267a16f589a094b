// Double-byte character rules. Strings hold bytes in the system code page; a lead byte and its
// trail bytes form one character, and a trail byte is never a path separator. UTF-8 is the code
// page at run time on Linux; Shift-JIS (code page 932) is known too, so the rules can be tested for
// both.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

enum class CodePage { Utf8 = 65001, ShiftJis = 932 };

CodePage SystemCodePage();

// True when c starts a character of more than one byte.
bool IsLeadByte(unsigned char c, CodePage cp = SystemCodePage());

// Bytes of the character starting at s[i] (at least 1, never past the end of s).
size_t CharLength(std::string_view s, size_t i, CodePage cp = SystemCodePage());

// Index of the character after the one at i.
inline size_t NextCharIndex(std::string_view s, size_t i, CodePage cp = SystemCodePage()) {
    return i + CharLength(s, i, cp);
}

// True when s[i] begins a character (is not a trail byte of the character before it).
bool IsCharStart(std::string_view s, size_t i, CodePage cp = SystemCodePage());

// Converts between code page 932 and UTF-8; bytes that do not convert are kept as they are.
std::string ShiftJisToUtf8(std::string_view s);
std::string Utf8ToShiftJis(std::string_view s);

// True when s is well-formed UTF-8.
bool IsValidUtf8(std::string_view s);

// A UTF-16 (wide) string in the given code page; a character the code page cannot hold, and an
// unpaired surrogate, becomes '?', as the system's own conversion does.
std::string WideToCodePage(std::u16string_view s, CodePage cp = SystemCodePage());

} // namespace platform
