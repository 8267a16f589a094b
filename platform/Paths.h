// Path rules and the few file-system facts the system asks for. The rules take a style so the
// Windows forms (backslash, Shift-JIS) can be tested on Linux; the defaults are the native ones.
#pragma once

#include "platform/CodePage.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class PathStyle { Posix, Windows };

struct PathRules {
    char separator = '/';
    CodePage codePage = SystemCodePage();
    static PathRules Native() { return {}; }
    static PathRules Windows() { return {'\\', CodePage::ShiftJis}; }
};

// True when s[i] is the separator and not the trail byte of a double-byte character.
bool IsPathDelimiter(std::string_view s, size_t i, const PathRules &r = PathRules::Native());

// Index of the last character of s that is one of delims (double-byte aware), or npos.
size_t LastDelimiter(std::string_view delims, std::string_view s,
                     const PathRules &r = PathRules::Native());

std::string IncludeTrailingPathDelimiter(std::string_view s,
                                         const PathRules &r = PathRules::Native());
std::string ExcludeTrailingPathDelimiter(std::string_view s,
                                         const PathRules &r = PathRules::Native());
// The name after the last separator.
std::string ExtractFileName(std::string_view s, const PathRules &r = PathRules::Native());
// Everything up to and including the last separator.
std::string ExtractFilePath(std::string_view s, const PathRules &r = PathRules::Native());
// The extension with its dot, or empty.
std::string ExtractFileExt(std::string_view s, const PathRules &r = PathRules::Native());
std::string ChangeFileExt(std::string_view s, std::string_view ext,
                          const PathRules &r = PathRules::Native());

// Full path of the running executable.
std::string ProgramPath();
// Absolute, normalised form of a name relative to the current folder.
std::string ExpandFileName(std::string_view name);
std::string GetCurrentDir();
bool SetCurrentDir(const std::string &dir);

bool FileExists(const std::string &name); // an existing file that is not a folder
bool DirectoryExists(const std::string &name);
bool DeleteFile(const std::string &name); // true when the file was removed
// True when both names lead to one existing file (a symbolic link, a second name, another path).
bool SameFile(const std::string &a, const std::string &b);
// The size of an existing file; false, with the system's reason in why, when there is none.
bool GetFileSize(const std::string &name, uint64_t &size, std::string &why);

// Looks a bare file name up as the system's file search does: the program's folder, the current
// folder, then PATH. An explicit search path replaces that list. Empty when not found.
std::string SearchPath(const std::string &fileName, const std::string &searchPath = {});

} // namespace platform
