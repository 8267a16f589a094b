// A gzip file decompressed through zlib for libarchive to read. zlib checks every member's CRC-32
// and length, which libarchive's own gzip filter skips, so damaged data cannot pass as good.
#pragma once

#include "archivers/common/FileSystem.h"

#include <archive.h>
#include <memory>
#include <string>
#include <vector>
#include <zlib.h>

namespace arclib {

class GzipStream {
public:
    // Takes the open file; throws std::bad_alloc when zlib cannot start.
    explicit GzipStream(UniqueFd fd);
    ~GzipStream();
    GzipStream(const GzipStream &) = delete;
    GzipStream &operator=(const GzipStream &) = delete;

    // Hands the stream to a reader that has its formats set up (archive_read_open).
    int Open(archive *a);
    // Decompresses and checks what the reader left unread (the end of the stream lies past the
    // archive's end marker). Throws ArcError(kArcErrDamaged) when a checksum or length is wrong.
    void VerifyRest();

    // True when the open file begins as a gzip file does.
    static bool LooksLikeGzip(int fd);

private:
    static la_ssize_t ReadCallback(archive *a, void *self, const void **block);
    // The next decompressed block (0 at the end); -1 with error_ set on damaged data.
    la_ssize_t Next();

    UniqueFd fd_;
    z_stream zs_{};
    std::vector<unsigned char> in_, out_;
    bool fileEnded_ = false; // the file has no more bytes
    bool inMember_ = false;  // a member has begun and not yet ended
    bool finished_ = false;  // the last member ended (anything after it is ignored, as gzip does)
    std::string error_;
};

} // namespace arclib
