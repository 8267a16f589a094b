#include "platform/Profile.h"

#include "platform/CodePage.h"
#include "platform/ReplacingFileWriter.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iconv.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

EProfileWriteError::EProfileWriteError(const std::string &fileName)
    : std::runtime_error(fileName + " に書き込めません"), FileName(fileName) {}

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view Trim(std::string_view s) {
    const size_t b = s.find_first_not_of(Blanks);
    if (b == std::string_view::npos)
        return {};
    const size_t e = s.find_last_not_of(Blanks);
    return s.substr(b, e - b + 1);
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now so that a failing close (a late write error) is seen.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// A settings file is a few lines; one this large is something else in its place, and reading
// it for every key would stall the caller.
constexpr off_t MaxProfileFileSize = 16 << 20;

// How the file's text is stored. UTF-16 files (with their byte order mark) are what Windows
// editors save as "Unicode"; they are read and written back as UTF-16.
enum class Encoding { Bytes, Utf16Le, Utf16Be };

struct Loaded {
    std::string text; // UTF-8 for the UTF-16 files, else the bytes as stored
    Encoding encoding = Encoding::Bytes;
};

// Converts all of s, or nothing: a byte sequence that is not valid in `from` (an unpaired
// surrogate, a cut character) gives nullopt rather than a silently altered text.
std::optional<std::string> ConvertStrictly(std::string_view s, const char *to, const char *from) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::unique_ptr<void, int (*)(iconv_t)> guard(cd, ::iconv_close);
    std::string in(s), out;
    char *ip = in.data();
    size_t il = in.size();
    char buf[4096];
    while (il > 0) {
        char *op = buf;
        size_t ol = sizeof buf;
        const size_t r = ::iconv(cd, &ip, &il, &op, &ol);
        out.append(buf, static_cast<size_t>(op - buf));
        if (r == static_cast<size_t>(-1) && errno != E2BIG)
            return std::nullopt;
    }
    return out;
}

// The file's text, or nullopt with the reason in *why.
std::optional<Loaded> LoadFile(const std::string &name, std::string *why = nullptr) {
    auto fail = [&](std::string reason) -> std::optional<Loaded> {
        if (why != nullptr)
            *why = std::move(reason);
        return std::nullopt;
    };
    // Without O_NONBLOCK the open of a FIFO would wait for a writer for ever.
    Fd fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return fail(errno == ENOENT ? "does not exist" : std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return fail("is not a regular file");
    const std::string tooLarge =
        "is larger than " + std::to_string(MaxProfileFileSize >> 20) + " MiB";
    if (st.st_size > MaxProfileFileSize)
        return fail(tooLarge);
    Loaded loaded;
    std::string &data = loaded.text;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(std::strerror(errno));
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<size_t>(n));
        if (data.size() > static_cast<size_t>(MaxProfileFileSize)) // grew while read
            return fail(tooLarge);
    }
    const bool le = data.starts_with("\xFF\xFE"), be = data.starts_with("\xFE\xFF");
    if (le || be) {
        auto text = ConvertStrictly(std::string_view(data).substr(2), "UTF-8",
                                    le ? "UTF-16LE" : "UTF-16BE");
        if (!text)
            return fail("is not valid UTF-16");
        loaded.text = std::move(*text);
        loaded.encoding = le ? Encoding::Utf16Le : Encoding::Utf16Be;
    }
    return loaded;
}

// The bytes to store for text in the file's encoding; nullopt when the text cannot be stored so
// (bytes that are not UTF-8 in a UTF-16 file).
std::optional<std::string> Encode(const std::string &text, Encoding encoding) {
    if (encoding == Encoding::Bytes)
        return text;
    const bool le = encoding == Encoding::Utf16Le;
    auto bytes = ConvertStrictly(text, le ? "UTF-16LE" : "UTF-16BE", "UTF-8");
    if (!bytes)
        return std::nullopt;
    return (le ? std::string("\xFF\xFE") : std::string("\xFE\xFF")) + *bytes;
}

// Replaces the file by a complete new one (renamed into place), so that neither a failed write nor
// a kill leaves a half-written profile. A file whose mode says the user may not write it, and a
// file in a folder where no new file can be made, are not written: the caller reports it.
bool StoreFile(const std::string &name, std::string_view text, Encoding encoding) {
    const std::optional<std::string> data = Encode(std::string(text), encoding);
    if (!data)
        return false;
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 &&
        (!S_ISREG(st.st_mode) || !ModeAllowsWriting(st.st_mode, st.st_uid, st.st_gid)))
        return false;
    ReplacingFileWriter writer(name);
    return writer.Ok() && writer.Write(*data) && writer.Commit();
}

struct Line {
    enum Kind { Other, Section, Key } kind = Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed
};

Line Classify(std::string_view text) {
    std::string_view t = Trim(text);
    Line line;
    if (!t.empty() && t.front() == '[') {
        const size_t close = t.find(']');
        line.kind = Line::Section;
        line.name = Trim(t.substr(1, close == std::string_view::npos ? t.npos : close - 1));
        return line;
    }
    if (t.empty() || t.front() == ';')
        return line;
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return line;
    line.kind = Line::Key;
    line.name = Trim(t.substr(0, eq));
    line.value = Trim(t.substr(eq + 1));
    return line;
}

// The file cut into lines, each line without its end; ends remembered to write the file back.
struct Document {
    std::string bom;
    std::vector<std::string> lines;
    std::string eol = "\n";
    bool lastHasEol = true;

    explicit Document(const std::string &data) {
        std::string_view s(data);
        if (s.substr(0, 3) == "\xEF\xBB\xBF") {
            bom = "\xEF\xBB\xBF";
            s.remove_prefix(3);
        }
        // New lines get the file's own line end: CR LF, LF, or a lone CR (old Mac files).
        if (s.find("\r\n") != std::string_view::npos)
            eol = "\r\n";
        else if (s.find('\r') != std::string_view::npos && s.find('\n') == std::string_view::npos)
            eol = "\r";
        while (!s.empty()) {
            size_t end = s.find_first_of("\r\n");
            if (end == std::string_view::npos) {
                lines.emplace_back(s);
                lastHasEol = false;
                break;
            }
            lines.emplace_back(s.substr(0, end));
            size_t next = end + 1;
            if (s[end] == '\r' && next < s.size() && s[next] == '\n')
                ++next;
            s.remove_prefix(next);
        }
    }

    std::string Text() const {
        std::string out = bom;
        for (size_t i = 0; i < lines.size(); ++i) {
            out += lines[i];
            if (i + 1 < lines.size() || lastHasEol)
                out += eol;
        }
        return out;
    }

    // Index of the section's header line, or npos. The first of duplicate sections counts.
    size_t FindSection(std::string_view section) const {
        for (size_t i = 0; i < lines.size(); ++i) {
            Line l = Classify(lines[i]);
            if (l.kind == Line::Section && SameName(l.name, section))
                return i;
        }
        return std::string::npos;
    }

    // One past the section's last line (the next header or the end).
    size_t SectionEnd(size_t header) const {
        size_t i = header + 1;
        while (i < lines.size() && Classify(lines[i]).kind != Line::Section)
            ++i;
        return i;
    }

    size_t FindKey(size_t header, std::string_view key) const {
        const size_t end = SectionEnd(header);
        for (size_t i = header + 1; i < end; ++i) {
            Line l = Classify(lines[i]);
            if (l.kind == Line::Key && SameName(l.name, key))
                return i;
        }
        return std::string::npos;
    }
};

std::string CutToLength(std::string_view s, size_t max) {
    if (s.size() <= max)
        return std::string(s);
    size_t cut = 0;
    for (size_t i = 0; i < s.size(); i = NextCharIndex(s, i)) {
        if (NextCharIndex(s, i) > max)
            break;
        cut = NextCharIndex(s, i);
    }
    return std::string(s.substr(0, cut));
}

// The profile functions hand out C strings: a value with a NUL byte in it cannot be one, and
// cut at the NUL it would name something else (another file). Such a value reads as not given.
bool HoldsNul(std::string_view v) {
    return v.find('\0') != std::string_view::npos;
}

// What a stored value cannot hold: a line break would end its line early and let the rest be read
// as keys of its own, a NUL would not read back.
constexpr std::string_view LineBreaksOrNul("\r\n\0", 3);

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

// Reading trims blanks and strips one pair of surrounding quotes; a value that would change under
// that is written in double quotes so it reads back as it was written.
std::string StoredForm(std::string_view value) {
    const bool quoted =
        value.size() >= 2 && IsQuote(value.front()) && value.front() == value.back();
    if (Trim(value).size() != value.size() || quoted)
        return "\"" + std::string(value) + "\"";
    return std::string(value);
}

} // namespace

std::optional<int> ParseProfileInteger(std::string_view text) {
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > UINT32_MAX)
            return std::nullopt;
    }
    if (base == 16) {
        // All 32 bits are the value's bits, as with the classic hexadecimal reading.
        auto bits = static_cast<uint32_t>(v);
        if (negative)
            bits = ~bits + 1u;
        return static_cast<int>(static_cast<int32_t>(bits));
    }
    if (negative ? v > uint64_t{INT_MAX} + 1 : v > uint64_t{INT_MAX})
        return std::nullopt;
    const auto signedValue = static_cast<int64_t>(v);
    return static_cast<int>(negative ? -signedValue : signedValue);
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view def) const {
    auto data = LoadFile(fileName_);
    if (!data)
        return CutToLength(def, MaxProfileString);
    Document doc(data->text);
    const size_t header = doc.FindSection(section);
    const size_t at = header == std::string::npos ? header : doc.FindKey(header, key);
    if (at == std::string::npos)
        return CutToLength(def, MaxProfileString);
    std::string_view v = Classify(doc.lines[at]).value;
    if (v.size() >= 2 && IsQuote(v.front()) && v.front() == v.back())
        v = v.substr(1, v.size() - 2);
    if (HoldsNul(v))
        return CutToLength(def, MaxProfileString);
    return CutToLength(v, MaxProfileString);
}

std::string ProfileFile::ReadProblem() const {
    std::string why;
    LoadFile(fileName_, &why);
    return why;
}

std::vector<std::pair<std::string, std::string>>
ProfileFile::ReadSection(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> out;
    auto data = LoadFile(fileName_);
    if (!data)
        return out;
    Document doc(data->text);
    const size_t header = doc.FindSection(section);
    if (header == std::string::npos)
        return out;
    const size_t end = doc.SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        Line l = Classify(doc.lines[i]);
        if (l.kind != Line::Key)
            continue;
        std::string_view v = l.value;
        if (v.size() >= 2 && IsQuote(v.front()) && v.front() == v.back())
            v = v.substr(1, v.size() - 2);
        out.emplace_back(std::string(l.name), HoldsNul(v) ? "" : CutToLength(v, MaxProfileString));
    }
    return out;
}

void ProfileFile::WriteSection(std::string_view section,
                               const std::vector<std::pair<std::string, std::string>> &values) {
    if (section.find_first_of("\r\n]") != std::string_view::npos)
        throw EProfileWriteError(fileName_);
    for (const auto &[key, value] : values)
        if (value.find_first_of(LineBreaksOrNul) != std::string::npos ||
            key.find_first_of("\r\n=") != std::string::npos || Trim(key).empty())
            throw EProfileWriteError(fileName_);
    Loaded data;
    if (auto loaded = LoadFile(fileName_))
        data = std::move(*loaded);
    else if (std::error_code ec; fs::exists(fs::path(fileName_), ec))
        throw EProfileWriteError(fileName_); // there but unreadable: rewriting would lose it
    Document doc(data.text);
    std::vector<std::string> entries;
    entries.push_back("[" + std::string(section) + "]");
    for (const auto &[key, value] : values)
        entries.push_back(key + "=" + StoredForm(value));
    const size_t header = doc.FindSection(section);
    if (header == std::string::npos) {
        doc.lines.insert(doc.lines.end(), entries.begin(), entries.end());
        doc.lastHasEol = true;
    } else {
        // Blank lines after the section's keys stay between it and the next one.
        size_t end = doc.SectionEnd(header);
        while (end > header + 1 && Trim(doc.lines[end - 1]).empty())
            --end;
        if (end == doc.lines.size())
            doc.lastHasEol = true;
        doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(header),
                        doc.lines.begin() + static_cast<std::ptrdiff_t>(end));
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(header), entries.begin(),
                         entries.end());
    }
    if (!StoreFile(fileName_, doc.Text(), data.encoding))
        throw EProfileWriteError(fileName_);
}

int ProfileFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
    return ParseProfileInteger(ReadString(section, key, "")).value_or(def);
}

bool ProfileFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
    // A line break inside a value would end the line early and let the rest of the value be read
    // as keys of its own.
    if (value.find_first_of(LineBreaksOrNul) != std::string_view::npos ||
        section.find_first_of("\r\n]") != std::string_view::npos ||
        key.find_first_of("\r\n=") != std::string_view::npos || Trim(key).empty())
        throw EProfileWriteError(fileName_);

    Loaded data;
    if (auto loaded = LoadFile(fileName_))
        data = std::move(*loaded);
    else if (std::error_code ec; fs::exists(fs::path(fileName_), ec))
        throw EProfileWriteError(fileName_); // there but unreadable: rewriting would lose it
    Document doc(data.text);
    const std::string entry = std::string(key) + "=" + StoredForm(value);
    const size_t header = doc.FindSection(section);
    if (header == std::string::npos) {
        doc.lines.push_back("[" + std::string(section) + "]");
        doc.lines.push_back(entry);
        doc.lastHasEol = true;
    } else if (size_t at = doc.FindKey(header, key); at != std::string::npos) {
        doc.lines[at] = entry;
    } else {
        // After the section's last non-empty line, so blank lines between sections stay between.
        size_t insertAt = doc.SectionEnd(header);
        while (insertAt > header + 1 && Trim(doc.lines[insertAt - 1]).empty())
            --insertAt;
        if (insertAt == doc.lines.size())
            doc.lastHasEol = true;
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
    }
    if (!StoreFile(fileName_, doc.Text(), data.encoding))
        throw EProfileWriteError(fileName_);
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

void ProfileFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

} // namespace platform
