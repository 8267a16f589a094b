#include "archivers/common/GzipStream.h"

#include "archivers/common/ArcErrors.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace arclib {

namespace {
constexpr size_t kInBlock = 128 * 1024;
constexpr size_t kOutBlock = 256 * 1024;
constexpr int kGzipWindow = 16 + MAX_WBITS; // a gzip wrapper, its trailer checked
} // namespace

GzipStream::GzipStream(UniqueFd fd) : fd_(std::move(fd)), in_(kInBlock), out_(kOutBlock) {
    if (::inflateInit2(&zs_, kGzipWindow) != Z_OK)
        throw std::bad_alloc();
}

GzipStream::~GzipStream() {
    ::inflateEnd(&zs_);
}

bool GzipStream::LooksLikeGzip(int fd) {
    unsigned char head[2] = {};
    return ::pread(fd, head, sizeof head, 0) == 2 && head[0] == 0x1f && head[1] == 0x8b;
}

int GzipStream::Open(archive *a) {
    return archive_read_open(a, this, nullptr, &GzipStream::ReadCallback, nullptr);
}

la_ssize_t GzipStream::ReadCallback(archive *a, void *self, const void **block) {
    auto *s = static_cast<GzipStream *>(self);
    la_ssize_t n = s->Next();
    if (n < 0) {
        archive_set_error(a, EIO, "%s", s->error_.c_str());
        return -1;
    }
    *block = s->out_.data();
    return n;
}

la_ssize_t GzipStream::Next() {
    if (!error_.empty())
        return -1;
    for (;;) {
        if (finished_)
            return 0;
        if (zs_.avail_in == 0 && !fileEnded_) {
            ssize_t got = ReadFully(fd_.get(), in_.data(), in_.size());
            if (got < 0) {
                error_ = std::string("cannot read the archive: ") + std::strerror(errno);
                return -1;
            }
            fileEnded_ = got == 0;
            zs_.next_in = in_.data();
            zs_.avail_in = static_cast<uInt>(got);
        }
        if (zs_.avail_in == 0) {
            if (inMember_) {
                error_ = "gzip: the compressed data ends early";
                return -1;
            }
            finished_ = true;
            return 0;
        }
        if (!inMember_) {
            // Another member follows only when it starts like one; other bytes after the last
            // member (padding) are left alone, as gzip and libarchive leave them.
            if (zs_.avail_in < 2 && !fileEnded_) {
                // Too few bytes to tell: keep them and read more.
                unsigned char first = *zs_.next_in;
                ssize_t got = ReadFully(fd_.get(), in_.data() + 1, in_.size() - 1);
                if (got < 0) {
                    error_ = std::string("cannot read the archive: ") + std::strerror(errno);
                    return -1;
                }
                fileEnded_ = got == 0;
                in_[0] = first;
                zs_.next_in = in_.data();
                zs_.avail_in = static_cast<uInt>(got + 1);
                continue;
            }
            if (zs_.avail_in < 2 || zs_.next_in[0] != 0x1f || zs_.next_in[1] != 0x8b) {
                finished_ = true;
                return 0;
            }
            ::inflateReset2(&zs_, kGzipWindow);
            inMember_ = true;
        }
        zs_.next_out = out_.data();
        zs_.avail_out = static_cast<uInt>(out_.size());
        int r = ::inflate(&zs_, Z_NO_FLUSH);
        size_t produced = out_.size() - zs_.avail_out;
        if (r == Z_STREAM_END) {
            inMember_ = false;
        } else if (r != Z_OK && r != Z_BUF_ERROR) {
            error_ = std::string("gzip: ") + (zs_.msg ? zs_.msg : "damaged compressed data");
            return -1;
        }
        if (produced > 0)
            return static_cast<la_ssize_t>(produced);
    }
}

void GzipStream::VerifyRest() {
    for (;;) {
        la_ssize_t n = Next();
        if (n < 0)
            throw ArcError(kArcErrDamaged, error_);
        if (n == 0)
            return;
    }
}

} // namespace arclib
