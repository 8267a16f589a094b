// A gzip writer that uses every core: the data is cut into blocks, each block is deflated on a
// worker thread with the 32 KiB before it as its dictionary and ended on a byte boundary, and the
// pieces are joined in order into one gzip member with one CRC-32 and length. Readers see one
// ordinary gzip stream (gzip -t, zlib, libarchive, Python), a few bytes larger per block than a
// single-threaded deflate. Everything that touches the file happens on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace arclib {

class ParallelGzipWriter {
public:
    static constexpr size_t kBlock = 128 * 1024;

    // Writes to fd; level 1..9 (other values: 6); threads 0 for one per core.
    ParallelGzipWriter(int fd, int level, unsigned threads = 0);
    // Stops the workers; what was not finished is dropped.
    ~ParallelGzipWriter();
    ParallelGzipWriter(const ParallelGzipWriter &) = delete;
    ParallelGzipWriter &operator=(const ParallelGzipWriter &) = delete;

    // Throws ArcError(kArcErrWriteArchive) when the file cannot be written.
    void Write(const void *data, size_t size);
    // Compresses the rest and writes the trailer.
    void Finish();
    // The number of workers that would run on this machine.
    static unsigned DefaultThreads();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace arclib
