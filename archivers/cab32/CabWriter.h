// Our cabinet writer: one cabinet (no sets), its files in folders of stored or MSZIP data. The
// layout of every file is planned from the sizes given before any data is read, so memory and
// time grow with the number of files, not with its square: one pass over the data, then the
// header, folder and file records written in front of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cab {

// What a cabinet's 16-bit counts allow. Folder indices 0xFFFD to 0xFFFF mark files continued
// from or into another cabinet, so fewer folders than the count field could hold are usable.
constexpr size_t kMaxFilesPerCabinet = 0xFFFF;
constexpr size_t kMaxFilesPerFolder = 0xFFFF;
constexpr size_t kMaxFoldersPerCabinet = 0xFFFD;
constexpr size_t kMaxDataBlocksPerFolder = 0xFFFF;
constexpr size_t kBlockBytes = 32768; // uncompressed bytes of a data block (the last may be less)
constexpr size_t kMaxNameBytes = 255; // without the terminating NUL

// CFFILE attribute bits.
constexpr uint16_t kAttrReadOnly = 0x01;
constexpr uint16_t kAttrArchive = 0x20;
constexpr uint16_t kAttrExec = 0x40;
constexpr uint16_t kAttrNameIsUtf = 0x80;

enum class Method : uint16_t { Stored = 0, MsZip = 1 };

struct WriterOptions {
    Method method = Method::MsZip;
    int level = 6; // zlib level for MSZIP
    // Limits of the format, lower in tests so that a split is cheap to reach.
    size_t maxFilesPerFolder = kMaxFilesPerFolder;
    size_t maxFoldersPerCabinet = kMaxFoldersPerCabinet;
    size_t maxBlocksPerFolder = kMaxDataBlocksPerFolder;
};

struct FileRecord {
    std::string name;  // UTF-8 (or raw bytes), '/' between folders
    uint64_t size = 0; // the exact number of bytes the feeder will give
    int64_t mtime = 0; // Unix seconds; stored as local DOS date and time
    uint32_t mode = 0; // st_mode: read-only and executable bits
};

// Gives one byte block of the file at hand.
using ByteSink = std::function<void(const void *data, size_t size)>;
// Called once per file, in order: gives exactly the file's size through the sink.
using Feeder = std::function<void(size_t index, const ByteSink &sink)>;

// The checksum of a CFDATA block: the data, then its two 16-bit size fields, words read
// little-endian and the odd tail bytes in the format's reversed order.
uint32_t DataChecksum(const uint8_t *data, size_t size, uint32_t seed);

// The folder each file goes into: a new folder when the count or the data of one would pass
// its limit. Throws arclib::ArcError(kArcErrUnsupported) with a message when the files cannot
// be held by one cabinet (too many files or folders, a file larger than a folder holds, a name
// too long); nothing is written then.
std::vector<uint16_t> PlanFolders(const std::vector<FileRecord> &files, const WriterOptions &opt);

// Writes a complete cabinet to fd from its current position on (fd is normally empty; the header
// goes where the cabinet begins). Throws arclib::ArcError: kArcErrWriteArchive when fd cannot be
// written, kArcErrUnsupported when the cabinet would pass 4 GiB, kArcErrReadSource when a feeder
// gives more or fewer bytes than the file's size; what the feeder throws passes.
void WriteCabinet(int fd, const std::vector<FileRecord> &files, const Feeder &feed,
                  const WriterOptions &opt = {});

} // namespace cab
