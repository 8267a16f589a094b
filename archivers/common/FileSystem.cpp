#include "archivers/common/FileSystem.h"

#include "archivers/common/ArcErrors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace arclib {

UniqueFd &UniqueFd::operator=(UniqueFd &&o) noexcept {
    if (this != &o) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

ssize_t ReadFully(int fd, void *buf, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, static_cast<char *>(buf) + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool ReadUpTo(int fd, std::string &out, size_t limit) {
    char buf[64 * 1024];
    while (limit > 0) {
        ssize_t n = ReadFully(fd, buf, std::min(limit, sizeof buf));
        if (n < 0)
            return false;
        out.append(buf, static_cast<size_t>(n));
        limit -= static_cast<size_t>(n);
        if (static_cast<size_t>(n) < sizeof buf)
            break;
    }
    return true;
}

bool WriteFully(int fd, const void *buf, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, static_cast<const char *>(buf) + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

ssize_t PReadFully(int fd, void *buf, size_t size, uint64_t offset) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, static_cast<char *>(buf) + done, size - done,
                            static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool PWriteFully(int fd, const void *buf, size_t size, uint64_t offset) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd, static_cast<const char *>(buf) + done, size - done,
                             static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {

std::atomic<bool> g_failCommits{false};
std::atomic<bool> g_namedTemporaries{false};

std::string ErrnoText(int e) {
    return std::strerror(e);
}

std::string RandomSuffix() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s;
    for (int i = 0; i < 10; ++i)
        s += digits[rng() % (sizeof digits - 1)];
    return s;
}

bool ProcFdUsable() {
    static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
    return usable;
}

// Links an unnamed file into the folder under name.
int LinkUnnamed(int fd, int dirFd, const std::string &name) {
    if (::linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0)
        return 0;
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, proc.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    return errno;
}

} // namespace

mode_t CurrentUmask() {
    // umask() can only be read by setting it, which races with other threads; /proc has it.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

AtomicFile AtomicFile::Create(const std::string &path, int errorCode) {
    std::string dir = ".", leaf = path;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        leaf = path.substr(slash + 1);
    }
    if (leaf.empty())
        throw ArcError(errorCode, "no file name in " + path);
    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd)
        throw ArcError(errorCode, "cannot open the folder " + dir + ": " + ErrnoText(errno));
    AtomicFile f = CreateAt(dirFd.get(), leaf, errorCode);
    f.ownDir_ = std::move(dirFd);
    return f;
}

AtomicFile AtomicFile::CreateAt(int dirFd, const std::string &leaf, int errorCode) {
    AtomicFile f;
    f.dirFd_ = dirFd;
    f.leaf_ = leaf;
    f.errorCode_ = errorCode;
    if (ProcFdUsable() && !g_namedTemporaries)
        f.fd_ = UniqueFd(::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (!f.fd_) {
        for (int attempt = 0; attempt < 20 && !f.fd_; ++attempt) {
            std::string name = "." + leaf.substr(0, 200) + "." + RandomSuffix() + ".tmp";
            f.fd_ = UniqueFd(
                ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (f.fd_)
                f.tempName_ = name;
            else if (errno != EEXIST)
                break;
        }
        if (!f.fd_)
            throw ArcError(errorCode,
                           "cannot create a file beside " + leaf + ": " + ErrnoText(errno));
    }
    return f;
}

AtomicFile::AtomicFile(AtomicFile &&o) noexcept
    : ownDir_(std::move(o.ownDir_)), dirFd_(o.dirFd_), leaf_(std::move(o.leaf_)),
      tempName_(std::move(o.tempName_)), fd_(std::move(o.fd_)), errorCode_(o.errorCode_),
      done_(std::exchange(o.done_, true)) {}

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Discard() noexcept {
    if (done_)
        return;
    done_ = true;
    fd_ = UniqueFd();
    if (!tempName_.empty())
        ::unlinkat(dirFd_, tempName_.c_str(), 0);
}

void AtomicFile::FailCommitsForTesting(bool fail) {
    g_failCommits = fail;
}

void AtomicFile::NamedTemporariesForTesting(bool named) {
    g_namedTemporaries = named;
}

bool AtomicFile::Commit(bool replace, bool sync) {
    if (done_)
        throw ArcError(kArcErrInternal, "file committed twice");
    if (g_failCommits) {
        Discard();
        throw ArcError(errorCode_, leaf_ + ": " + ErrnoText(ENOSPC));
    }
    if (sync && ::fsync(fd_.get()) != 0) {
        int e = errno;
        Discard();
        throw ArcError(errorCode_, leaf_ + ": " + ErrnoText(e));
    }
    if (tempName_.empty()) {
        if (!replace) {
            int e = LinkUnnamed(fd_.get(), dirFd_, leaf_);
            if (e == EEXIST) {
                Discard();
                return false;
            }
            if (e) {
                Discard();
                throw ArcError(errorCode_, leaf_ + ": " + ErrnoText(e));
            }
            done_ = true;
            fd_ = UniqueFd();
            return true;
        }
        // Replacing needs a name to rename from: link under a temporary name first.
        std::string name;
        int e = EEXIST;
        for (int attempt = 0; attempt < 20 && e == EEXIST; ++attempt) {
            name = "." + leaf_.substr(0, 200) + "." + RandomSuffix() + ".tmp";
            e = LinkUnnamed(fd_.get(), dirFd_, name);
        }
        if (e) {
            Discard();
            throw ArcError(errorCode_, leaf_ + ": " + ErrnoText(e));
        }
        tempName_ = name;
    }
    if (replace) {
        if (::renameat(dirFd_, tempName_.c_str(), dirFd_, leaf_.c_str()) != 0) {
            int e = errno;
            Discard();
            throw ArcError(errorCode_, leaf_ + ": " + ErrnoText(e));
        }
    } else {
        if (::linkat(dirFd_, tempName_.c_str(), dirFd_, leaf_.c_str(), 0) != 0) {
            int e = errno;
            Discard();
            if (e == EEXIST)
                return false;
            throw ArcError(errorCode_, leaf_ + ": " + ErrnoText(e));
        }
        ::unlinkat(dirFd_, tempName_.c_str(), 0);
    }
    done_ = true;
    fd_ = UniqueFd();
    return true;
}

const char *PathProblemText(PathProblem p) {
    switch (p) {
    case PathProblem::None:
        return "";
    case PathProblem::Empty:
        return "empty name";
    case PathProblem::Absolute:
        return "absolute name";
    case PathProblem::ParentReference:
        return "name with '..'";
    }
    return "";
}

PathProblem NormaliseEntryPath(std::string_view name, std::string &out) {
    out.clear();
    if (!name.empty() && name[0] == '/')
        return PathProblem::Absolute;
    size_t i = 0;
    while (i <= name.size()) {
        size_t j = name.find('/', i);
        if (j == std::string_view::npos)
            j = name.size();
        std::string_view part = name.substr(i, j - i);
        if (part == "..")
            return PathProblem::ParentReference;
        if (!part.empty() && part != ".") {
            if (!out.empty())
                out += '/';
            out += part;
        }
        i = j + 1;
    }
    return out.empty() ? PathProblem::Empty : PathProblem::None;
}

namespace {
std::vector<std::string_view> LexicalParts(std::string_view path, bool &escaped) {
    std::vector<std::string_view> parts;
    escaped = false;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        std::string_view part = path.substr(i, j - i);
        if (part == "..") {
            if (parts.empty())
                escaped = true;
            else
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    return parts;
}
} // namespace

std::string StoredNameFor(std::string_view path) {
    bool escaped = false;
    std::string out;
    for (auto part : LexicalParts(path, escaped)) {
        if (!out.empty())
            out += '/';
        out += part;
    }
    return out;
}

bool LinkStaysInside(std::string_view at, std::string_view target) {
    if (target.empty() || target[0] == '/')
        return false;
    std::string joined(SplitParent(at).first);
    if (!joined.empty())
        joined += '/';
    joined += target;
    bool escaped = false;
    LexicalParts(joined, escaped);
    return !escaped;
}

std::pair<std::string, std::string> SplitParent(std::string_view rel) {
    size_t slash = rel.rfind('/');
    if (slash == std::string_view::npos)
        return {std::string(), std::string(rel)};
    return {std::string(rel.substr(0, slash)), std::string(rel.substr(slash + 1))};
}

SafeDestination::SafeDestination(const std::string &root) : rootPath_(root.empty() ? "." : root) {
    // The destination itself is the caller's choice: links in its own path are followed.
    std::string partial;
    for (size_t i = 0; i <= rootPath_.size(); ++i) {
        if (i == rootPath_.size() || rootPath_[i] == '/') {
            if (!partial.empty())
                ::mkdir(partial.c_str(), 0777);
        }
        if (i < rootPath_.size())
            partial += rootPath_[i];
    }
    root_ = UniqueFd(::open(rootPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root_)
        throw ArcError(kArcErrWriteFile,
                       "cannot open the destination " + rootPath_ + ": " + ErrnoText(errno));
}

UniqueFd SafeDestination::OpenFolder(std::string_view rel, bool create) const {
    UniqueFd cur(::fcntl(root_.get(), F_DUPFD_CLOEXEC, 0));
    if (!cur)
        throw ArcError(kArcErrWriteFile, ErrnoText(errno));
    size_t i = 0;
    while (i < rel.size()) {
        size_t j = rel.find('/', i);
        if (j == std::string_view::npos)
            j = rel.size();
        std::string part(rel.substr(i, j - i));
        i = j + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            throw ArcError(kArcErrUnsafePath, std::string(rel));
        UniqueFd next(
            ::openat(cur.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next && errno == ENOENT && create) {
            if (::mkdirat(cur.get(), part.c_str(), 0777) != 0 && errno != EEXIST)
                throw ArcError(kArcErrWriteFile, "cannot make the folder " + std::string(rel) +
                                                     ": " + ErrnoText(errno));
            next = UniqueFd(
                ::openat(cur.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        if (!next) {
            int e = errno;
            if (e == ELOOP || e == ENOTDIR)
                throw ArcError(kArcErrUnsafePath,
                               std::string(rel) + ": a part of the path is a link or a file");
            throw ArcError(kArcErrWriteFile,
                           "cannot open the folder " + std::string(rel) + ": " + ErrnoText(e));
        }
        cur = std::move(next);
    }
    return cur;
}

} // namespace arclib
