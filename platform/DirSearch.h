// Folder search with wildcard masks and attribute filters, as the Windows find functions offer it,
// and the letter-case rule that goes with file names. On Linux names are compared with regard to
// case (a.txt and A.TXT are two files); the rule without regard to case stays here, selectable,
// for a Windows build and for tests.
#pragma once

#include "platform/CodePage.h"
#include "platform/FileTime.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Attribute bits as the Windows find functions report them.
inline constexpr uint32_t faReadOnly = 0x01;
inline constexpr uint32_t faHidden = 0x02;  // on Linux: the name begins with a dot
inline constexpr uint32_t faSysFile = 0x04; // on Linux: devices, pipes and sockets
inline constexpr uint32_t faVolumeID = 0x08;
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faArchive = 0x20;
inline constexpr uint32_t faSymLink = 0x400; // a symbolic link (a reparse point on Windows)
// Attributes that exclude an entry from a search unless the search asks for them.
constexpr uint32_t faSpecial = faHidden | faSysFile | faVolumeID | faDirectory;

enum class LetterCase { Sensitive, Insensitive };

// The rule of this platform's file systems.
constexpr LetterCase NativeLetterCase() {
#ifdef _WIN32
    return LetterCase::Insensitive;
#else
    return LetterCase::Sensitive;
#endif
}

// Compares without regard to letter case (ASCII letters; double-byte characters as they are):
// negative, 0 or positive.
int CompareTextIgnoreCase(std::string_view a, std::string_view b, CodePage cp = SystemCodePage());

// The order of file lists: without regard to case, names equal but for case ordered by their
// bytes, so the order is total and the same on every platform.
int CompareFileNames(std::string_view a, std::string_view b, CodePage cp = SystemCodePage());

// True when both name the same file under the letter-case rule.
bool SameFileName(std::string_view a, std::string_view b, LetterCase lc = NativeLetterCase(),
                  CodePage cp = SystemCodePage());

// True when the mask holds a wildcard character.
bool HasWildcards(std::string_view mask, CodePage cp = SystemCodePage());

// Wildcard match: `*` any run of characters, `?` exactly one character (double-byte aware).
// A mask ending in ".*" also matches the name without that ending, so "*.*" matches every name
// and "a.*" matches "a", as the Windows search does.
bool MatchesMask(std::string_view name, std::string_view mask, LetterCase lc = NativeLetterCase(),
                 CodePage cp = SystemCodePage());

struct FoundFile {
    std::string name;      // the long name, without folder
    std::string shortName; // the 8.3 name; never supplied on Linux
    uint32_t attributes = 0;
    FileTime lastWriteTime; // UTC; zero when not read (see DirSearch::Details)
    uint64_t size = 0;
};

// One search over one folder. Entries come in the order the file system returns them; "." and
// ".." never come. An entry is returned only when every special attribute it carries
// (faSpecial) is in the include set, so folders come only when faDirectory is asked for.
class DirSearch {
public:
    enum class Details {
        Names,   // name and the special attributes only; the fastest
        Complete // also times, size and read-only (one status call per entry)
    };

    // folder: empty for the current folder. A mask without wildcards, under the case-sensitive
    // rule, looks the one name up without reading the folder.
    DirSearch(const std::string &folder, std::string mask, uint32_t includeAttributes,
              Details details = Details::Complete, LetterCase lc = NativeLetterCase());
    ~DirSearch();
    DirSearch(const DirSearch &) = delete;
    DirSearch &operator=(const DirSearch &) = delete;

    // Fills the next matching entry; false when there are no more.
    bool Next(FoundFile &out);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Attributes, size and last-write time of one named file or folder; false when it does not exist.
bool GetFileInfo(const std::string &path, FoundFile &out);

// Remembers the current folder and makes it current again when the scope ends, on every path.
// It holds the folder open, so a folder renamed meanwhile is still found.
class ScopedCurrentDir {
public:
    ScopedCurrentDir();
    ~ScopedCurrentDir();
    ScopedCurrentDir(const ScopedCurrentDir &) = delete;
    ScopedCurrentDir &operator=(const ScopedCurrentDir &) = delete;

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace platform
