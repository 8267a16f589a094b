// LHA archive headers: reading every header level (0 to 3) and writing level 2, plus a sequential
// reader that walks an archive entry by entry.
#pragma once

#include "LhaCodec.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lha {

// An input that can also skip forward (a file, or memory).
class SeekableIn : public InStream {
public:
    virtual void Skip(uint64_t n) = 0;
    virtual uint64_t Tell() const = 0;
};

class MemoryIn : public SeekableIn {
public:
    MemoryIn(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    size_t Read(uint8_t *buf, size_t n) override;
    void Skip(uint64_t n) override;
    uint64_t Tell() const override { return pos_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

struct Entry {
    std::string methodId; // "-lh5-"
    Method method = Method::Unknown;
    uint64_t packedSize = 0; // of the data alone
    uint64_t originalSize = 0;
    uint16_t crc = 0;
    bool hasCrc = true;
    int level = 0;
    uint8_t osId = 0;
    uint8_t dosAttribute = 0x20;
    // The name, UTF-8, '/' between folders, no trailing '/'. Folders have isDir set.
    std::string name;
    bool isDir = false;
    bool isSymlink = false;
    std::string linkTarget;
    // Set for an entry whose header is readable but whose content is not (the walk goes on).
    std::string damage;
    // Modification time as Unix seconds (UTC).
    int64_t mtime = 0;
    // Windows times when the header carries them (100 ns since 1601).
    std::optional<uint64_t> createTime, accessTime;
    std::optional<uint32_t> unixMode;
    uint64_t headerOffset = 0; // where the header starts in the archive
    uint64_t headerSize = 0;   // header bytes, up to the data
};

// Walks an archive. Next() reads the next header, skipping the data of the previous entry when it
// was not read; Extract() decodes the current entry's data and checks its CRC.
class Reader {
public:
    explicit Reader(SeekableIn &in) : in_(in) {}
    // False at the end of the archive. Throws LhaError for a damaged header.
    bool Next(Entry &e);
    // Writes the entry's data; throws LhaError on corrupt data or a CRC mismatch.
    void Extract(OutStream &out);
    const Entry &Current() const { return cur_; }

private:
    void SkipData();
    SeekableIn &in_;
    Entry cur_;
    std::vector<uint8_t> header_;
    bool dataPending_ = false;
    bool started_ = false;
};

// What the writer needs to know of one entry.
struct NewEntry {
    std::string name; // UTF-8, '/' between folders; no trailing '/'
    bool isDir = false;
    std::string linkTarget; // set for a symbolic link (stored as "name|target", method -lhd-)
    int64_t mtime = 0;      // Unix seconds
    uint32_t unixMode = 0644;
    std::optional<uint64_t> createTime, writeTime, accessTime; // Windows times, when known
};

// A level-2 header for the entry with the given method, sizes and data CRC. Its length depends only
// on the name and on whether the sizes need 64 bits, so a placeholder can be written first and
// patched once the data is known.
std::vector<uint8_t> BuildLevel2Header(const NewEntry &e, Method m, uint64_t packedSize,
                                       uint64_t originalSize, uint16_t crc, bool wideSizes);

// Quick check of a header's first bytes: level, method shape, sizes plausible.
bool LooksLikeHeader(const uint8_t *p, size_t n);

} // namespace lha
