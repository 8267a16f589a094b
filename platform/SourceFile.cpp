#include "platform/SourceFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

FileIdentity IdentityOf(const struct stat &st) {
    FileIdentity id;
    id.Device = st.st_dev;
    id.Inode = st.st_ino;
    id.Size = static_cast<int64_t>(st.st_size);
    id.ModifiedSec = st.st_mtim.tv_sec;
    id.ModifiedNsec = st.st_mtim.tv_nsec;
    id.ChangedSec = st.st_ctim.tv_sec;
    id.ChangedNsec = st.st_ctim.tv_nsec;
    return id;
}

// What differs between two identities of what should be the same file.
std::string Difference(const FileIdentity &was, const FileIdentity &is) {
    if (was.Device != is.Device || was.Inode != is.Inode)
        return "another file was put in its place";
    if (was.Size != is.Size)
        return "its size changed from " + std::to_string(was.Size) + " to " +
               std::to_string(is.Size) + " bytes";
    if (was.ModifiedSec != is.ModifiedSec || was.ModifiedNsec != is.ModifiedNsec)
        return "it was written to";
    return "its status changed";
}

} // namespace

std::string FileKindName(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFREG:
        return "a regular file";
    case S_IFDIR:
        return "a folder";
    case S_IFIFO:
        return "a FIFO (named pipe)";
    case S_IFCHR:
        return "a character device";
    case S_IFBLK:
        return "a block device";
    case S_IFSOCK:
        return "a socket";
    case S_IFLNK:
        return "a symbolic link";
    default:
        return "not a regular file";
    }
}

SourceFile::SourceFile(const std::string &fileName) : fileName_(fileName) {
    if (fileName.empty()) {
        error_ = "no source file is given";
        return;
    }
    // Look first: opening a device may have effects of its own, and a socket cannot be opened.
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) {
        error_ = errno == ENOENT ? "the source " + fileName + " does not exist"
                                 : fileName + ": " + std::strerror(errno);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = fileName + " is " + FileKindName(st.st_mode) + ", not a regular file";
        return;
    }
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = "cannot read " + fileName + ": " + std::strerror(errno);
        return;
    }
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = fileName + " is " + FileKindName(st.st_mode) + ", not a regular file";
        return;
    }
    identity_ = IdentityOf(st);
}

SourceFile::~SourceFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

ssize_t SourceFile::Read(char *buffer, size_t size) {
    if (!Ok())
        return -1;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            error_ = "cannot read " + fileName_ + ": " + std::strerror(errno);
            return -1;
        }
    }
}

bool SourceFile::Rewind() {
    if (!Ok())
        return false;
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        error_ = "cannot read " + fileName_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string SourceFile::Changed() const {
    if (!Ok())
        return error_;
    const std::string prefix = "the source " + fileName_ + " changed while the job ran: ";
    // The name first: a file put in the source's place, or its removal, also changes the status
    // of the open file, which would say less.
    struct stat st {};
    if (::stat(fileName_.c_str(), &st) != 0)
        return errno == ENOENT ? prefix + "it was removed" : prefix + std::strerror(errno);
    if (const FileIdentity named = IdentityOf(st); named != identity_)
        return prefix + Difference(identity_, named);
    if (::fstat(fd_, &st) != 0)
        return prefix + std::strerror(errno);
    if (const FileIdentity open = IdentityOf(st); open != identity_)
        return prefix + Difference(identity_, open);
    return {};
}

bool SourceFile::Delete(std::string &why) const {
    why = Changed();
    if (!why.empty())
        return false;
    if (::unlink(fileName_.c_str()) != 0) {
        why = "cannot delete the source " + fileName_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace platform
