// ARJ archives: the main header, the local headers with their CRC-32s (extended headers skipped)
// and the entries' data, decoded by the LHA codec (methods 1 to 3 are its -lh7- block format) or
// ARJ's own fastest method, each checked against its CRC-32.
#pragma once

#include "LhaCodec.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace arj {

// Why an archive or an entry cannot be read.
enum class Problem {
    NotArchive,  // no ARJ main header
    Damaged,     // a bad header, data that does not decode, a CRC mismatch, a cut archive
    Garbled,     // the entry is garbled with a password
    MultiVolume, // the entry or archive is part of a multi-volume set
    Unsupported, // a method this reader does not know
};

class ArjError : public std::runtime_error {
public:
    ArjError(Problem p, const std::string &what) : std::runtime_error(what), problem_(p) {}
    Problem problem() const { return problem_; }

private:
    Problem problem_;
};

// Input read at any offset: a file or memory. ReadAt gives fewer bytes only at the end.
class RandomIn {
public:
    virtual ~RandomIn() = default;
    virtual size_t ReadAt(uint64_t offset, uint8_t *buf, size_t n) = 0;
    virtual uint64_t Size() const = 0;
};

class MemoryIn : public RandomIn {
public:
    MemoryIn(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    size_t ReadAt(uint64_t offset, uint8_t *buf, size_t n) override;
    uint64_t Size() const override { return size_; }

private:
    const uint8_t *data_;
    size_t size_;
};

// CRC-32 as ARJ computes it (that of zip and zlib).
uint32_t Crc32(uint32_t crc, const uint8_t *p, size_t n);

// Host systems of the header; the DOS family separates folders with '\'.
enum HostOs : uint8_t { kMsDos = 0, kUnix = 2, kOs2 = 5, kWin95 = 10, kWin32 = 11 };
bool UsesBackslash(uint8_t hostOs);

// Header flags.
constexpr uint8_t kFlagGarbled = 0x01;
constexpr uint8_t kFlagVolume = 0x04;  // continues in the next volume
constexpr uint8_t kFlagExtFile = 0x08; // entry: begins in the previous volume

enum FileType : uint8_t {
    kBinary = 0,
    kText = 1,
    kComment = 2, // the main header
    kDirectory = 3,
    kVolumeLabel = 4,
    kChapterLabel = 5,
};

struct MainHeader {
    uint8_t hostOs = 0;
    uint8_t flags = 0;
    std::string name;    // the archive's name as stored
    std::string comment; // as stored
    bool MultiVolume() const { return (flags & kFlagVolume) != 0; }
};

struct Entry {
    std::string rawName; // as stored, in the code page of the system that made it
    // UTF-8, '/' between folders, no trailing '/' and no leading one removed (the extraction
    // engine refuses absolute names).
    std::string name;
    uint8_t hostOs = 0;
    uint8_t flags = 0;
    uint8_t method = 0;
    uint8_t fileType = 0;
    // Made on Unix: seconds since 1970 (UTC). Elsewhere a DOS date (high word) and time (low
    // word) in local time.
    uint32_t dosDateTime = 0;
    // Access and creation times in the same form, when the header has them (0 when not).
    uint32_t accessTime = 0, createTime = 0;
    uint32_t packedSize = 0;
    uint32_t originalSize = 0;
    uint32_t crc = 0;
    uint16_t fileMode = 0; // DOS attributes, or Unix mode bits for a Unix host
    uint64_t headerOffset = 0;
    uint64_t dataOffset = 0;
    bool IsDirectory() const { return fileType == kDirectory; }
    // A file or folder; volume and chapter labels are not.
    bool IsMember() const {
        return fileType == kBinary || fileType == kText || fileType == kDirectory;
    }
    bool Garbled() const { return (flags & kFlagGarbled) != 0; }
    bool Split() const { return (flags & (kFlagVolume | kFlagExtFile)) != 0; }
    // "-arj0-" ... "-arj4-", or "-arj?-" for an unknown method.
    std::string MethodText() const;
};

// Walks an archive. The main header is read when the reader is made: it may follow a
// self-extractor stub, so it is looked for in the first kMaxStub bytes.
class Reader {
public:
    static constexpr uint64_t kMaxStub = 1 << 20;
    // Throws ArjError(NotArchive) when no main header is found.
    explicit Reader(RandomIn &in);
    const MainHeader &Archive() const { return main_; }
    // The next entry; false at the end mark. Throws ArjError(Damaged) for a bad header or an
    // archive cut before its end mark.
    bool Next(Entry &e);
    // Decodes the current entry's data into out and checks its CRC-32. Throws ArjError: Garbled,
    // MultiVolume, Unsupported or Damaged. Writes nothing for a folder.
    void Extract(lha::OutStream &out);
    const Entry &Current() const { return cur_; }

private:
    // Reads the basic header at offset into header_; false at the end mark.
    bool ReadBasicHeader(uint64_t offset, uint64_t &next);
    RandomIn &in_;
    MainHeader main_;
    Entry cur_;
    bool haveCurrent_ = false;
    uint64_t pos_ = 0;
    std::vector<uint8_t> header_;
};

} // namespace arj
