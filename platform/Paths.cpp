#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

bool IsPathDelimiter(std::string_view s, size_t i, const PathRules &r) {
    return i < s.size() && s[i] == r.separator && IsCharStart(s, i, r.codePage);
}

size_t LastDelimiter(std::string_view delims, std::string_view s, const PathRules &r) {
    size_t found = std::string_view::npos;
    for (size_t i = 0; i < s.size(); i = NextCharIndex(s, i, r.codePage))
        if (delims.find(s[i]) != std::string_view::npos)
            found = i;
    return found;
}

std::string IncludeTrailingPathDelimiter(std::string_view s, const PathRules &r) {
    std::string out(s);
    if (out.empty() || !IsPathDelimiter(out, out.size() - 1, r))
        out += r.separator;
    return out;
}

std::string ExcludeTrailingPathDelimiter(std::string_view s, const PathRules &r) {
    std::string out(s);
    if (!out.empty() && IsPathDelimiter(out, out.size() - 1, r))
        out.pop_back();
    return out;
}

namespace {
std::string Delims(const PathRules &r) {
    return r.separator == '\\' ? std::string("\\:") : std::string(1, r.separator);
}
} // namespace

std::string ExtractFileName(std::string_view s, const PathRules &r) {
    size_t p = LastDelimiter(Delims(r), s, r);
    return std::string(p == std::string_view::npos ? s : s.substr(p + 1));
}

std::string ExtractFilePath(std::string_view s, const PathRules &r) {
    size_t p = LastDelimiter(Delims(r), s, r);
    return p == std::string_view::npos ? std::string() : std::string(s.substr(0, p + 1));
}

std::string ExtractFileExt(std::string_view s, const PathRules &r) {
    size_t p = LastDelimiter(Delims(r) + ".", s, r);
    if (p == std::string_view::npos || s[p] != '.')
        return {};
    return std::string(s.substr(p));
}

std::string ChangeFileExt(std::string_view s, std::string_view ext, const PathRules &r) {
    size_t p = LastDelimiter(Delims(r) + ".", s, r);
    if (p == std::string_view::npos || s[p] != '.')
        p = s.size();
    return std::string(s.substr(0, p)) + std::string(ext);
}

std::string ProgramPath() {
    std::error_code ec;
    auto p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string ExpandFileName(std::string_view name) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(std::string(name)), ec);
    if (ec)
        return std::string(name);
    return p.lexically_normal().string();
}

std::string GetCurrentDir() {
    std::error_code ec;
    auto p = fs::current_path(ec);
    return ec ? std::string() : p.string();
}

bool SetCurrentDir(const std::string &dir) {
    return ::chdir(dir.c_str()) == 0;
}

bool FileExists(const std::string &name) {
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string &name) {
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat sa {
    }, sb{};
    return !a.empty() && !b.empty() && ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool GetFileSize(const std::string &name, uint64_t &size, std::string &why) {
    struct stat st {};
    if (name.empty() || ::stat(name.c_str(), &st) != 0) {
        why = std::strerror(name.empty() ? ENOENT : errno);
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool DeleteFile(const std::string &name) {
    struct stat st {};
    if (name.empty() || ::lstat(name.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::unlink(name.c_str()) == 0;
}

std::string SearchPath(const std::string &fileName, const std::string &searchPath) {
    if (fileName.empty())
        return {};
    if (fileName.find('/') != std::string::npos)
        return FileExists(fileName) ? ExpandFileName(fileName) : std::string();
    std::vector<std::string> dirs;
    auto split = [&dirs](const std::string &list) {
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            if (end > start)
                dirs.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    };
    if (!searchPath.empty()) {
        split(searchPath);
    } else {
        dirs.push_back(ExtractFilePath(ProgramPath()));
        dirs.push_back(GetCurrentDir());
        if (const char *path = std::getenv("PATH"))
            split(path);
    }
    for (const auto &d : dirs) {
        std::string candidate = IncludeTrailingPathDelimiter(d) + fileName;
        if (FileExists(candidate))
            return ExpandFileName(candidate);
    }
    return {};
}

} // namespace platform
