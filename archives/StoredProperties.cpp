#include "archives/StoredProperties.h"

#include <cctype>

namespace archives {

namespace {
[[noreturn]] void Invalid(std::string_view text) {
    throw EReadError("Invalid property value: " + std::string(text));
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Reads one literal (possibly concatenated parts) starting at pos; leaves pos after it.
std::string ReadLiteral(std::string_view text, size_t &pos) {
    std::string out;
    bool any = false;
    while (pos < text.size()) {
        if (text[pos] == '\'') {
            any = true;
            ++pos;
            for (;;) {
                if (pos >= text.size())
                    Invalid(text);
                if (text[pos] == '\'') {
                    if (pos + 1 < text.size() && text[pos + 1] == '\'') {
                        out += '\'';
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                out += text[pos++];
            }
        } else if (text[pos] == '#') {
            any = true;
            ++pos;
            int code = 0;
            size_t digits = 0;
            while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
                code = code * 10 + (text[pos++] - '0');
                if (++digits > 3 || code > 255)
                    Invalid(text);
            }
            if (digits == 0)
                Invalid(text);
            out += static_cast<char>(code);
        } else {
            break;
        }
    }
    if (!any)
        Invalid(text);
    return out;
}
} // namespace

std::string QuoteStringLiteral(std::string_view s) {
    std::string out;
    bool open = false;
    for (char ch : s) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 32) {
            if (open) {
                out += '\'';
                open = false;
            }
            out += '#' + std::to_string(u);
            continue;
        }
        if (!open) {
            out += '\'';
            open = true;
        }
        out += ch;
        if (ch == '\'')
            out += '\'';
    }
    if (open)
        out += '\'';
    if (out.empty())
        out = "''";
    return out;
}

std::string ParseStringLiteral(std::string_view text) {
    text = Trim(text);
    size_t pos = 0;
    std::string out = ReadLiteral(text, pos);
    if (pos != text.size())
        Invalid(text);
    return out;
}

std::string QuoteStringListLiteral(const std::vector<std::string> &lines) {
    std::string out = "(";
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            out += ' ';
        out += QuoteStringLiteral(lines[i]);
    }
    return out + ")";
}

std::vector<std::string> ParseStringListLiteral(std::string_view text) {
    text = Trim(text);
    if (text.size() < 2 || text.front() != '(' || text.back() != ')')
        Invalid(text);
    std::vector<std::string> out;
    size_t pos = 1;
    const size_t end = text.size() - 1;
    const std::string_view inner = text.substr(0, end);
    for (;;) {
        while (pos < end && (inner[pos] == ' ' || inner[pos] == '\t'))
            ++pos;
        if (pos >= end)
            break;
        out.push_back(ReadLiteral(inner, pos));
    }
    return out;
}

std::string PropertiesToText(const TPropertyValues &values) {
    std::string out;
    for (const auto &[name, value] : values)
        out += name + " = " + value + "\n";
    return out;
}

TPropertyValues PropertiesFromText(std::string_view text) {
    TPropertyValues out;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        line = Trim(line);
        if (line.empty())
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            throw EReadError("Invalid property line: " + std::string(line));
        out.emplace_back(std::string(Trim(line.substr(0, eq))),
                         std::string(Trim(line.substr(eq + 1))));
    }
    return out;
}

} // namespace archives
