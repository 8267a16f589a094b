// Compression on every core for the stream formats whose data can be cut into pieces that join
// into one valid file:
//  - gzip: the data is cut into blocks, each block deflated on a worker thread with the 32 KiB
//    before it as its dictionary and ended on a byte boundary, and the pieces joined in order into
//    one gzip member with one CRC-32 and length (gzip -t, zlib, libarchive and Python read it as
//    any gzip file, a few bytes larger per block than a single-threaded deflate);
//  - bzip2: bzip2 codes blocks independently anyway, so each piece is a whole bzip2 stream and the
//    file is their concatenation, which bzip2 -t, libarchive and Python read as one.
// Everything that touches the file happens on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace arclib {

class ParallelCompressor {
public:
    enum class Codec { Gzip, Bzip2 };
    static constexpr size_t kGzipBlock = 128 * 1024;

    // Writes to fd; level 1..9 (other values: the codec's default, 6 for gzip and 9 for bzip2);
    // threads 0 for one per core.
    ParallelCompressor(int fd, Codec codec, int level, unsigned threads = 0);
    // Stops the workers; what was not finished is dropped.
    ~ParallelCompressor();
    ParallelCompressor(const ParallelCompressor &) = delete;
    ParallelCompressor &operator=(const ParallelCompressor &) = delete;

    // Throws ArcError(kArcErrWriteArchive) when the file cannot be written.
    void Write(const void *data, size_t size);
    // Compresses the rest and ends the stream.
    void Finish();
    // The number of workers that would run on this machine.
    static unsigned DefaultThreads();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace arclib
