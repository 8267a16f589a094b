#include "platform/CodePage.h"

#include <cerrno>
#include <iconv.h>
#include <memory>

namespace platform {

CodePage SystemCodePage() {
    return CodePage::Utf8;
}

bool IsLeadByte(unsigned char c, CodePage cp) {
    if (cp == CodePage::ShiftJis)
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    return c >= 0xC2 && c <= 0xF4;
}

size_t CharLength(std::string_view s, size_t i, CodePage cp) {
    if (i >= s.size())
        return 1;
    const auto c = static_cast<unsigned char>(s[i]);
    if (!IsLeadByte(c, cp))
        return 1;
    size_t want = 2;
    if (cp == CodePage::Utf8)
        want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    size_t n = 1;
    while (n < want && i + n < s.size()) {
        const auto t = static_cast<unsigned char>(s[i + n]);
        // A UTF-8 character ends early at a byte that cannot continue it; Shift-JIS trail bytes
        // take any value but NUL, 0x5C included.
        if (cp == CodePage::Utf8 ? (t & 0xC0) != 0x80 : t == 0)
            break;
        ++n;
    }
    return n;
}

bool IsCharStart(std::string_view s, size_t i, CodePage cp) {
    size_t p = 0;
    while (p < i)
        p = NextCharIndex(s, p, cp);
    return p == i;
}

namespace {
std::string Convert(std::string_view s, const char *to, const char *from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(s);
    std::unique_ptr<void, int (*)(iconv_t)> guard(cd, iconv_close);
    std::string out;
    out.reserve(s.size() * 3 / 2 + 4);
    std::string in(s);
    char *ip = in.data();
    size_t il = in.size();
    char buf[256];
    while (il > 0) {
        char *op = buf;
        size_t ol = sizeof buf;
        size_t r = iconv(cd, &ip, &il, &op, &ol);
        out.append(buf, static_cast<size_t>(op - buf));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // Keep a byte that does not convert and go on after it.
            out += *ip++;
            --il;
        }
    }
    return out;
}
} // namespace

std::string ShiftJisToUtf8(std::string_view s) {
    return Convert(s, "UTF-8", "CP932");
}
std::string Utf8ToShiftJis(std::string_view s) {
    return Convert(s, "CP932", "UTF-8");
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        const auto c1 = static_cast<unsigned char>(s[i + 1]);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 >= 0x90))
            return false;
        i += n;
    }
    return true;
}

std::string WideToCodePage(std::u16string_view s, CodePage cp) {
    std::string utf8;
    utf8.reserve(s.size() * 3);
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = '?';
        }
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    if (cp == CodePage::Utf8)
        return utf8;
    // Shift-JIS: convert character by character so one that does not fit becomes '?'.
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const size_t n = CharLength(utf8, i, CodePage::Utf8);
        const std::string ch = utf8.substr(i, n);
        const std::string conv = Utf8ToShiftJis(ch);
        out += (n > 1 && conv == ch) ? std::string("?") : conv;
        i += n;
    }
    return out;
}

} // namespace platform
