#include "platform/ReplacingFileWriter.h"

#include "platform/SourceFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view Marker = ".quorvel-";
constexpr size_t RandomLength = 6;
constexpr std::string_view Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string ErrnoText(int e) {
    return std::strerror(e);
}

// The extension the temporary name ends in, so that a format chosen by extension is the same.
std::string_view ExtensionOf(std::string_view leaf) {
    const size_t dot = leaf.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || leaf.size() - dot > 32)
        return {};
    return leaf.substr(dot);
}

// The part before the random letters; a long name is cut so the whole stays within NAME_MAX.
std::string PrefixOf(std::string_view leaf) {
    return "." + std::string(leaf.substr(0, 150)) + std::string(Marker);
}

std::string RandomLetters() {
    static std::random_device device;
    static std::mt19937 gen(device());
    std::uniform_int_distribution<size_t> pick(0, Alphabet.size() - 1);
    std::string s;
    for (size_t i = 0; i < RandomLength; ++i)
        s += Alphabet[pick(gen)];
    return s;
}

bool IsOurs(std::string_view leaf, std::string_view name) {
    const std::string prefix = PrefixOf(leaf);
    const std::string_view ext = ExtensionOf(leaf);
    if (name.size() != prefix.size() + RandomLength + ext.size() || !name.starts_with(prefix) ||
        !name.ends_with(ext))
        return false;
    for (char c : name.substr(prefix.size(), RandomLength))
        if (Alphabet.find(c) == std::string_view::npos)
            return false;
    return true;
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

int OpenFolder(const std::string &folder) {
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

void ReportFileSizeLimitAsError() {
    ::signal(SIGXFSZ, SIG_IGN);
}

bool ModeAllowsWriting(mode_t mode, uid_t owner, gid_t group) {
    if (::geteuid() == owner)
        return (mode & S_IWUSR) != 0;
    bool member = ::getegid() == group;
    if (!member) {
        const int n = ::getgroups(0, nullptr);
        if (n > 0) {
            std::vector<gid_t> groups(static_cast<size_t>(n));
            const int got = ::getgroups(n, groups.data());
            for (int i = 0; i < got && !member; ++i)
                member = groups[static_cast<size_t>(i)] == group;
        }
    }
    return (mode & (member ? S_IWGRP : S_IWOTH)) != 0;
}

bool ReplacingFileWriter::IsTemporaryNameOf(std::string_view leaf, std::string_view name) {
    if (IsOurs(leaf, name))
        return true;
    // An archiver library writing under our name keeps its own hidden ".NAME.XXXXXX.tmp".
    if (!name.starts_with(".") || !name.ends_with(".tmp"))
        return false;
    const std::string_view inner = name.substr(1, name.size() - 5);
    const size_t dot = inner.rfind('.');
    return dot != std::string_view::npos && IsOurs(leaf, inner.substr(0, dot));
}

void ReplacingFileWriter::RemoveLeftovers(const std::string &fileName) {
    const fs::path target(fileName);
    const std::string leaf = target.filename().string();
    if (leaf.empty())
        return;
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    const int dirFd = OpenFolder(folder);
    if (dirFd < 0)
        return;
    const int listFd = ::dup(dirFd);
    DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (dir == nullptr) {
        if (listFd >= 0)
            ::close(listFd);
        ::close(dirFd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent *e = ::readdir(dir))
        if (IsTemporaryNameOf(leaf, e->d_name))
            names.emplace_back(e->d_name);
    ::closedir(dir);
    for (const auto &name : names) {
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dirFd, name.c_str(), 0);
    }
    ::close(dirFd);
}

ReplacingFileWriter::ReplacingFileWriter(const std::string &fileName, Content how)
    : how_(how), target_(fileName) {
    if (fileName.empty()) {
        Fail("no file name is given");
        return;
    }
    std::error_code ec;
    if (fs::is_symlink(fs::path(fileName), ec)) {
        target_ = fs::weakly_canonical(fs::path(fileName), ec).string();
        if (ec) {
            Fail(fileName + ": " + ec.message());
            return;
        }
    }
    const fs::path target(target_);
    folder_ = target.has_parent_path() ? target.parent_path().string() : ".";
    const std::string leaf = target.filename().string();
    struct stat old {};
    existed_ = ::stat(target_.c_str(), &old) == 0;
    if (existed_ && !S_ISREG(old.st_mode)) {
        Fail(target_ + " is not a regular file");
        return;
    }
    if (existed_ && !ModeAllowsWriting(old.st_mode, old.st_uid, old.st_gid)) {
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(old.st_mode & 07777));
        Fail(target_ + " is read-only (mode " + octal + ") and is not replaced");
        return;
    }
    mode_ = existed_ ? old.st_mode & 07777 : NewFileMode();
    owner_ = old.st_uid;
    group_ = old.st_gid;
    dirFd_ = OpenFolder(folder_);
    if (dirFd_ < 0) {
        Fail("cannot open the folder " + folder_ + ": " + ErrnoText(errno));
        return;
    }
    RemoveLeftovers(target_);
    if (::faccessat(dirFd_, ".", W_OK, AT_EACCESS) != 0) {
        Fail("cannot write in the folder " + folder_ + ": " + ErrnoText(errno));
        return;
    }
    if (how_ == Content::Outside) {
        for (int attempt = 0; attempt < 100 && temp_.empty(); ++attempt) {
            const std::string name =
                PrefixOf(leaf) + RandomLetters() + std::string(ExtensionOf(leaf));
            struct stat st {};
            if (::fstatat(dirFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
                temp_ = (fs::path(folder_) / name).string();
        }
        if (temp_.empty())
            Fail("cannot find a free temporary name beside " + target_);
        return;
    }
    // An unnamed file leaves nothing behind when the process is killed before Commit.
    fd_ = ::openat(dirFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    unnamed_ = fd_ >= 0;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const std::string name = PrefixOf(leaf) + RandomLetters() + std::string(ExtensionOf(leaf));
        fd_ = ::openat(dirFd_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            temp_ = (fs::path(folder_) / name).string();
        else if (errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        Fail("cannot create a file beside " + target_ + ": " + ErrnoText(errno));
}

ReplacingFileWriter::~ReplacingFileWriter() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temp_.empty())
        ::unlink(temp_.c_str());
    if (dirFd_ >= 0)
        ::close(dirFd_);
}

void ReplacingFileWriter::Fail(std::string why) {
    if (error_.empty())
        error_ = std::move(why);
}

bool ReplacingFileWriter::Write(std::string_view data) {
    if (how_ != Content::Written || fd_ < 0)
        Fail("nothing to write to for " + target_);
    while (Ok() && !data.empty()) {
        const ssize_t n = ::write(fd_, data.data(), data.size());
        if (n < 0) {
            if (errno != EINTR)
                Fail("cannot write " + target_ + ": " + ErrnoText(errno));
            continue;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return Ok();
}

bool ReplacingFileWriter::LinkUnnamed() {
    const std::string leaf = fs::path(target_).filename().string();
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = PrefixOf(leaf) + RandomLetters() + std::string(ExtensionOf(leaf));
        if (::linkat(AT_FDCWD, self.c_str(), dirFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp_ = (fs::path(folder_) / name).string();
            return true;
        }
        if (errno != EEXIST) {
            Fail("cannot name the new " + target_ + ": " + ErrnoText(errno));
            return false;
        }
    }
    Fail("cannot find a free temporary name beside " + target_);
    return false;
}

bool ReplacingFileWriter::Commit(const std::function<bool(std::string &why)> &beforeRename) {
    if (!Ok())
        return false;
    if (how_ == Content::Outside) {
        fd_ = ::open(temp_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            Fail("no new " + target_ + " was made");
            return false;
        }
        if (!existed_)
            mode_ = st.st_mode & 07777; // the outside writer's choice stands
    }
    // Only root may give a file away; anyone else's new file is simply theirs.
    if (existed_)
        (void)!::fchown(fd_, owner_, group_);
    if (::fchmod(fd_, mode_) != 0) {
        Fail("cannot set the mode of the new " + target_ + ": " + ErrnoText(errno));
        return false;
    }
    if (::fsync(fd_) != 0) {
        Fail("cannot write " + target_ + ": " + ErrnoText(errno));
        return false;
    }
    if (unnamed_ && !LinkUnnamed())
        return false;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        Fail("cannot write " + target_ + ": " + ErrnoText(errno));
        return false;
    }
    if (beforeRename) {
        std::string why;
        if (!beforeRename(why)) {
            Fail(why.empty() ? target_ + " was not replaced" : why);
            return false;
        }
    }
    // The target may have been made read-only while the new file was written.
    struct stat now {};
    if (::stat(target_.c_str(), &now) == 0 &&
        !ModeAllowsWriting(now.st_mode, now.st_uid, now.st_gid)) {
        Fail(target_ + " is read-only and is not replaced");
        return false;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        Fail("cannot replace " + target_ + ": " + ErrnoText(errno));
        return false;
    }
    temp_.clear();
    ::fsync(dirFd_); // the rename itself reaches the disk
    return true;
}

JoinResult JoinFiles(const std::string &target, const std::vector<std::string> &parts,
                     std::string_view trailer, bool executable) {
    using F = JoinResult::Failure;
    std::vector<std::unique_ptr<SourceFile>> inputs;
    for (const auto &part : parts) {
        auto in = std::make_unique<SourceFile>(part);
        if (!in->Ok()) {
            struct stat st {};
            if (::stat(part.c_str(), &st) != 0)
                return {F::OpenPart, part, std::strerror(errno)};
            if (!S_ISREG(st.st_mode))
                return {F::OpenPart, part, "it is " + FileKindName(st.st_mode) + ", not a file"};
            return {F::OpenPart, part, in->Error()};
        }
        inputs.push_back(std::move(in));
    }
    struct stat tst {};
    if (::stat(target.c_str(), &tst) == 0)
        for (const auto &in : inputs)
            if (in->Identity().Device == tst.st_dev && in->Identity().Inode == tst.st_ino)
                return {F::TargetIsPart, target, "it is one of the files it is made from"};
    ReplacingFileWriter out(target);
    if (!out.Ok())
        return {F::Create, target, out.Error()};
    std::vector<char> buffer(64 * 1024);
    for (auto &in : inputs) {
        for (;;) {
            const ssize_t n = in->Read(buffer.data(), buffer.size());
            if (n < 0)
                return {F::Read, in->FileName(), in->Error()};
            if (n == 0)
                break;
            if (!out.Write(std::string_view(buffer.data(), static_cast<size_t>(n))))
                return {F::Write, target, out.Error()};
        }
    }
    if (!trailer.empty() && !out.Write(trailer))
        return {F::Write, target, out.Error()};
    if (!out.Commit())
        return {F::Write, target, out.Error()};
    struct stat st {};
    if (executable && ::stat(out.Target().c_str(), &st) == 0) {
        // Execute bits wherever there are read bits.
        const mode_t exec = (st.st_mode & 0444) >> 2;
        ::chmod(out.Target().c_str(), (st.st_mode & 07777) | exec);
    }
    return {};
}

} // namespace platform
