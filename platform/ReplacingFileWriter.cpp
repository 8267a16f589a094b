#include "platform/ReplacingFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

ReplacingFileWriter::ReplacingFileWriter(const std::string &fileName) : target_(fileName) {
    if (fileName.empty())
        return;
    std::error_code ec;
    if (fs::is_symlink(fs::path(fileName), ec)) {
        target_ = fs::weakly_canonical(fs::path(fileName), ec).string();
        if (ec)
            return;
    }
    struct stat old {};
    const bool existed = ::stat(target_.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode))
        return;
    std::string tmpl = target_ + ".XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return;
    fd_ = fd;
    temp_ = tmpl;
    mode_t mode;
    if (existed) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd_, mode) != 0)
        failed_ = true;
}

ReplacingFileWriter::~ReplacingFileWriter() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temp_.empty())
        ::unlink(temp_.c_str());
}

bool ReplacingFileWriter::Write(std::string_view data) {
    while (Ok() && !data.empty()) {
        const ssize_t n = ::write(fd_, data.data(), data.size());
        if (n < 0) {
            if (errno != EINTR)
                failed_ = true;
            continue;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return Ok();
}

bool ReplacingFileWriter::Commit() {
    if (!Ok())
        return false;
    const int fd = fd_;
    fd_ = -1;
    const bool synced = ::fsync(fd) == 0;
    if (::close(fd) != 0 || !synced) {
        failed_ = true;
        return false;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        failed_ = true;
        return false;
    }
    temp_.clear();
    return true;
}

} // namespace platform
