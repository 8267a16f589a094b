#include "platform/DirSearch.h"

#include <array>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::array<unsigned char, 256> MakeLowerTable() {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[static_cast<size_t>(c)] =
            static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return t;
}
constexpr auto kLower = MakeLowerTable();

// UTF-8 trail bytes are never ASCII, so folding byte by byte is exact there. Shift-JIS trail
// bytes can be ASCII letters, so that code page goes character by character.
int CompareFoldedUtf8(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = kLower[static_cast<unsigned char>(a[i])];
        const unsigned char cb = kLower[static_cast<unsigned char>(b[i])];
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int CompareFoldedByChars(std::string_view a, std::string_view b, CodePage cp) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const size_t la = CharLength(a, i, cp), lb = CharLength(b, j, cp);
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[j]);
        if (la == 1)
            ca = kLower[ca];
        if (lb == 1)
            cb = kLower[cb];
        if (ca != cb)
            return ca < cb ? -1 : 1;
        const int rest = a.substr(i + 1, la - 1).compare(b.substr(j + 1, lb - 1));
        if (rest != 0)
            return rest < 0 ? -1 : 1;
        i += la;
        j += lb;
    }
    const bool aDone = i >= a.size(), bDone = j >= b.size();
    return aDone && bDone ? 0 : (aDone ? -1 : 1);
}

bool CharsEqual(std::string_view a, std::string_view b, LetterCase lc) {
    if (a.size() != b.size())
        return false;
    if (lc == LetterCase::Insensitive && a.size() == 1)
        return kLower[static_cast<unsigned char>(a[0])] == kLower[static_cast<unsigned char>(b[0])];
    return a == b;
}

bool MatchesPlain(std::string_view name, std::string_view mask, LetterCase lc, CodePage cp) {
    size_t n = 0, m = 0;
    size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size()) {
            if (mask[m] == '*') {
                starMask = ++m;
                starName = n;
                continue;
            }
            const size_t ln = CharLength(name, n, cp);
            const size_t lm = CharLength(mask, m, cp);
            if (mask[m] == '?' || CharsEqual(name.substr(n, ln), mask.substr(m, lm), lc)) {
                n += ln;
                m += lm;
                continue;
            }
        }
        if (starMask == std::string_view::npos)
            return false;
        // Let the last star take one more character and try again from there.
        starName = NextCharIndex(name, starName, cp);
        n = starName;
        m = starMask;
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

bool MatchesEverything(std::string_view mask) {
    return mask == "*" || mask == "*.*";
}

uint32_t ModeAttributes(const struct stat &st) {
    if (S_ISDIR(st.st_mode))
        return faDirectory;
    if (S_ISREG(st.st_mode))
        return 0;
    // Devices, pipes and sockets are no files to pack; they count as system files, which a
    // search leaves out unless asked for them.
    return faSysFile;
}

void FillFromStat(const struct stat &st, FoundFile &out) {
    out.attributes |= ModeAttributes(st);
    if ((st.st_mode & S_IWUSR) == 0)
        out.attributes |= faReadOnly;
    out.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    out.lastWriteTime = UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

std::string JoinFolder(const std::string &folder, const std::string &name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

} // namespace

int CompareTextIgnoreCase(std::string_view a, std::string_view b, CodePage cp) {
    return cp == CodePage::Utf8 ? CompareFoldedUtf8(a, b) : CompareFoldedByChars(a, b, cp);
}

int CompareFileNames(std::string_view a, std::string_view b, CodePage cp) {
    const int r = CompareTextIgnoreCase(a, b, cp);
    if (r != 0)
        return r;
    const int bytes = a.compare(b);
    return bytes == 0 ? 0 : (bytes < 0 ? -1 : 1);
}

bool SameFileName(std::string_view a, std::string_view b, LetterCase lc, CodePage cp) {
    if (lc == LetterCase::Sensitive)
        return a == b;
    return a.size() == b.size() && CompareTextIgnoreCase(a, b, cp) == 0;
}

bool HasWildcards(std::string_view mask, CodePage cp) {
    for (size_t i = 0; i < mask.size(); i = NextCharIndex(mask, i, cp))
        if (mask[i] == '*' || mask[i] == '?')
            return true;
    return false;
}

bool MatchesMask(std::string_view name, std::string_view mask, LetterCase lc, CodePage cp) {
    if (MatchesEverything(mask))
        return true;
    if (MatchesPlain(name, mask, lc, cp))
        return true;
    const size_t n = mask.size();
    if (n >= 2 && mask[n - 1] == '*' && mask[n - 2] == '.' && IsCharStart(mask, n - 2, cp))
        return MatchesPlain(name, mask.substr(0, n - 2), lc, cp);
    return false;
}

struct DirSearch::Impl {
    struct DirCloser {
        void operator()(DIR *d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, DirCloser> dir;
    std::string folder;
    std::string mask;
    uint32_t exclude = 0; // special attributes that hide an entry
    Details details = Details::Complete;
    LetterCase letterCase = LetterCase::Sensitive;
    bool everything = false;
    bool single = false; // the mask names one entry; looked up directly
    bool singleDone = false;

    // Fills attributes (and details) of the entry at dirfd/name; false when it is gone or
    // dangling.
    bool Describe(int dirfd, const char *name, unsigned char type, FoundFile &out) const {
        out.attributes = name[0] == '.' ? faHidden : 0;
        out.lastWriteTime = {};
        out.size = 0;
        const bool known = type == DT_REG || type == DT_DIR;
        if (known && details == Details::Names) {
            if (type == DT_DIR)
                out.attributes |= faDirectory;
            return true;
        }
        struct stat st {};
        if (!known) {
            if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return false;
            if (S_ISLNK(st.st_mode)) {
                out.attributes |= faSymLink;
                if (::fstatat(dirfd, name, &st, 0) != 0)
                    return false; // a link to nothing is no file to take
            }
        } else if (::fstatat(dirfd, name, &st, 0) != 0) {
            return false;
        }
        if (details == Details::Complete)
            FillFromStat(st, out);
        else
            out.attributes |= ModeAttributes(st);
        return true;
    }
};

DirSearch::DirSearch(const std::string &folder, std::string mask, uint32_t includeAttributes,
                     Details details, LetterCase lc)
    : impl_(std::make_unique<Impl>()) {
    impl_->folder = folder;
    impl_->mask = std::move(mask);
    impl_->exclude = faSpecial & ~includeAttributes;
    impl_->details = details;
    impl_->letterCase = lc;
    impl_->everything = MatchesEverything(impl_->mask);
    if (impl_->mask.empty())
        return; // an empty mask matches nothing
    if (lc == LetterCase::Sensitive && !HasWildcards(impl_->mask)) {
        impl_->single = true;
        return;
    }
    impl_->dir.reset(::opendir(folder.empty() ? "." : folder.c_str()));
}

DirSearch::~DirSearch() = default;

bool DirSearch::Next(FoundFile &out) {
    Impl &s = *impl_;
    if (s.single) {
        if (s.singleDone)
            return false;
        s.singleDone = true;
        if (s.mask == "." || s.mask == "..")
            return false;
        const std::string path = JoinFolder(s.folder, s.mask);
        if (!s.Describe(AT_FDCWD, path.c_str(), DT_UNKNOWN, out))
            return false;
        if (s.mask[0] == '.')
            out.attributes |= faHidden;
        else
            out.attributes &= ~faHidden;
        if ((out.attributes & s.exclude) != 0)
            return false;
        out.name = s.mask;
        out.shortName.clear();
        return true;
    }
    if (!s.dir)
        return false;
    const int fd = ::dirfd(s.dir.get());
    while (const struct dirent *e = ::readdir(s.dir.get())) {
        const char *name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        if (name[0] == '.' && (s.exclude & faHidden) != 0)
            continue;
        if (!s.everything && !MatchesMask(name, s.mask, s.letterCase))
            continue;
        if (!s.Describe(fd, name, e->d_type, out))
            continue;
        if ((out.attributes & s.exclude) != 0)
            continue;
        out.name = name;
        out.shortName.clear();
        return true;
    }
    return false;
}

bool GetFileInfo(const std::string &path, FoundFile &out) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return false;
    out = {};
    const size_t slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
    out.name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!out.name.empty() && out.name[0] == '.' && out.name != "." && out.name != "..")
        out.attributes |= faHidden;
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode))
        out.attributes |= faSymLink;
    FillFromStat(st, out);
    return true;
}

ScopedCurrentDir::ScopedCurrentDir() {
    fd_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        // A folder we may enter but not read: fall back to its name.
        char buf[4096];
        if (::getcwd(buf, sizeof buf))
            path_ = buf;
    }
}

ScopedCurrentDir::~ScopedCurrentDir() {
    if (fd_ >= 0) {
        [[maybe_unused]] int rc = ::fchdir(fd_);
        ::close(fd_);
    } else if (!path_.empty()) {
        [[maybe_unused]] int rc = ::chdir(path_.c_str());
    }
}

} // namespace platform
