// The central directory of a zip file, read directly: the listing needs what libarchive does not
// report (compressed size, CRC, method, flags, host system, external attributes). The data itself
// is always read through libarchive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zipar {

struct ZipDirEntry {
    std::string rawName;     // bytes as stored
    std::string name;        // decoded (DecodeEntryName), '/' separators, folders end in '/'
    bool nameIsUtf8 = false; // flagged UTF-8, or named by a Unicode-path extra field
    uint16_t madeBy = 0;     // high byte: host system (0 MS-DOS, 3 Unix, 10 NTFS ...)
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localOffset = 0;
    uint32_t externalAttributes = 0;
    // Exact times from the extended-timestamp or NTFS extra fields, as Unix seconds.
    std::optional<int64_t> mtime, atime, ctime;

    bool IsDirectory() const;
    bool IsSymlink() const;
    bool IsEncrypted() const { return (flags & 1) != 0; }
    uint8_t HostSystem() const { return static_cast<uint8_t>(madeBy >> 8); }
    // Unix mode bits when the entry carries them, else 0.
    uint32_t UnixMode() const;
    // Modification time as Unix seconds: the exact one, else the DOS time read as local time.
    int64_t ModificationTime() const;
};

// Reads the central directory of the zip file at path, also behind a self-extractor stub.
// Throws arclib::ArcError: kArcErrArchiveNotFound when the file cannot be opened, kArcErrNotArchive
// when it has no end record, kArcErrDamaged when the directory is cut or inconsistent.
std::vector<ZipDirEntry> ReadZipDirectory(const std::string &path);

// The entry name as text of the system: names flagged UTF-8, and names that are valid UTF-8, are
// kept; other names are code page 932, whose trail byte 0x5C belongs to its character. Backslashes
// that remain are folder separators written by Windows tools and become '/'.
std::string DecodeEntryName(std::string_view raw, bool utf8Flag = false);

// True when any name without a UTF-8 mark is not valid UTF-8: then every such name of the archive
// is code page 932, even one whose bytes happen to form UTF-8 (CP932 "ﾃｽ" is UTF-8 "ý").
bool HasLegacyNames(const std::vector<ZipDirEntry> &entries);
// A name without a UTF-8 mark: code page 932 when the archive's names are (cp932), else by the
// rule of DecodeEntryName.
std::string DecodeLegacyName(std::string_view raw, bool cp932);

// Short method text for the find and progress records ("Stored", "Defl:N", ...), at most 7 bytes.
std::string MethodText(uint16_t method, uint16_t flags);

// Makes a zip file that has a self-extractor stub in front readable by readers that trust the
// stored offsets: every offset of the central directory and of the end record is moved by the
// length of the stub. Returns that length (0 when nothing had to change). Throws
// arclib::ArcError as ReadZipDirectory does, and kArcErrUnsupported for Zip64 files.
uint64_t AdjustSelfExtractorOffsets(const std::string &path);

} // namespace zipar
