#include "archivers/zip/ZipDirectory.h"

#include "archivers/common/ArcErrors.h"
#include "platform/CodePage.h"
#include "platform/FileTime.h"

#include <algorithm>
#include <fstream>
#include <sys/stat.h>
#include <zlib.h>

namespace zipar {

using arclib::ArcError;

namespace {

uint16_t Le16(const unsigned char *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Le64(const unsigned char *p) {
    return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

class File {
public:
    explicit File(const std::string &path) : in_(OpenRegular(path), std::ios::binary) {
        if (!in_)
            throw ArcError(arclib::kArcErrArchiveNotFound, path);
        in_.seekg(0, std::ios::end);
        size_ = static_cast<uint64_t>(in_.tellg());
    }
    uint64_t Size() const { return size_; }
    std::vector<unsigned char> Read(uint64_t offset, uint64_t n) {
        if (offset > size_ || n > size_ - offset)
            throw ArcError(arclib::kArcErrDamaged, "the central directory lies outside the file");
        std::vector<unsigned char> buf(n);
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(reinterpret_cast<char *>(buf.data()), static_cast<std::streamsize>(n));
        if (static_cast<uint64_t>(in_.gcount()) != n)
            throw ArcError(arclib::kArcErrDamaged, "the file cannot be read");
        return buf;
    }

private:
    // Checked before it is opened: opening a FIFO would block, and a device has no end to seek.
    static const std::string &OpenRegular(const std::string &path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            throw ArcError(arclib::kArcErrArchiveNotFound, path + ": is not a regular file");
        return path;
    }

    std::ifstream in_;
    uint64_t size_ = 0;
};

constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kEnd64Sig = 0x06064b50;
constexpr uint32_t kLocator64Sig = 0x07064b50;
constexpr uint32_t kCentralSig = 0x02014b50;

int64_t FileTimeToUnixSeconds(uint64_t ticks) {
    return platform::FileTimeToUnix(platform::FileTime::FromTicks(ticks));
}

void ReadExtra(const unsigned char *p, size_t n, ZipDirEntry &e, bool needSize, bool needCsize,
               bool needOffset) {
    size_t i = 0;
    while (i + 4 <= n) {
        const uint16_t id = Le16(p + i);
        const uint16_t len = Le16(p + i + 2);
        const unsigned char *d = p + i + 4;
        if (i + 4 + len > n)
            break;
        if (id == 0x0001) { // Zip64: only the fields that overflowed, in this order
            size_t k = 0;
            if (needSize && k + 8 <= len)
                e.size = Le64(d + k), k += 8;
            if (needCsize && k + 8 <= len)
                e.compressedSize = Le64(d + k), k += 8;
            if (needOffset && k + 8 <= len)
                e.localOffset = Le64(d + k), k += 8;
        } else if (id == 0x5455 && len >= 5 && (d[0] & 1)) { // extended timestamp
            e.mtime = static_cast<int32_t>(Le32(d + 1));
        } else if (id == 0x000a && len >= 32) { // NTFS times
            size_t k = 4;
            while (k + 4 <= len) {
                const uint16_t tag = Le16(d + k), tlen = Le16(d + k + 2);
                if (tag == 1 && tlen >= 24 && k + 4 + 24 <= len) {
                    e.mtime = FileTimeToUnixSeconds(Le64(d + k + 4));
                    e.atime = FileTimeToUnixSeconds(Le64(d + k + 12));
                    e.ctime = FileTimeToUnixSeconds(Le64(d + k + 20));
                }
                k += 4 + tlen;
            }
        } else if (id == 0x7075 && len >= 5 && d[0] == 1) { // Info-ZIP Unicode path
            const uint32_t crc = Le32(d + 1);
            const auto *raw = reinterpret_cast<const Bytef *>(e.rawName.data());
            if (crc == crc32(0, raw, static_cast<uInt>(e.rawName.size())))
                e.name.assign(reinterpret_cast<const char *>(d + 5), len - 5u);
        }
        i += 4 + len;
    }
}

} // namespace

bool ZipDirEntry::IsDirectory() const {
    if (!name.empty() && name.back() == '/')
        return true;
    if ((UnixMode() & 0170000) == 0040000)
        return true;
    return (externalAttributes & 0x10) != 0 && HostSystem() != 3;
}

bool ZipDirEntry::IsSymlink() const {
    return (UnixMode() & 0170000) == 0120000;
}

uint32_t ZipDirEntry::UnixMode() const {
    return HostSystem() == 3 ? externalAttributes >> 16 : 0;
}

int64_t ZipDirEntry::ModificationTime() const {
    if (mtime)
        return *mtime;
    return platform::LocalDosDateTimeToUnix(dosDate, dosTime);
}

bool HasLegacyNames(const std::vector<ZipDirEntry> &entries) {
    for (const auto &e : entries)
        if (!e.nameIsUtf8 && !platform::IsValidUtf8(e.rawName))
            return true;
    return false;
}

std::string DecodeLegacyName(std::string_view raw, bool cp932) {
    if (!cp932)
        return DecodeEntryName(raw);
    std::string name = platform::ShiftJisToUtf8(raw);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::string DecodeEntryName(std::string_view raw, bool utf8Flag) {
    std::string name =
        utf8Flag || platform::IsValidUtf8(raw) ? std::string(raw) : platform::ShiftJisToUtf8(raw);
    // In UTF-8 no byte of a multi-byte character is 0x5C, so what is left is a real backslash.
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::string MethodText(uint16_t method, uint16_t flags) {
    switch (method) {
    case 0:
        return "Stored";
    case 8:
    case 9: {
        static const char *const kind[] = {"N", "X", "F", "S"};
        return std::string(method == 8 ? "Defl:" : "D64:") + kind[(flags >> 1) & 3];
    }
    case 12:
        return "BZip2";
    case 14:
        return "LZMA";
    case 93:
        return "Zstd";
    case 95:
        return "XZ";
    case 98:
        return "PPMd";
    case 99:
        return "AES";
    default:
        return "Unk:" + std::to_string(method % 1000);
    }
}

namespace {

struct ZipEnd {
    uint64_t endPos = 0;   // offset of the end record
    uint64_t count = 0;    // entries
    uint64_t cdSize = 0;   // bytes of the central directory
    uint64_t cdOffset = 0; // its offset as stored
    uint64_t cdStart = 0;  // its offset on disk
    bool zip64 = false;
};

ZipEnd LocateEnd(File &f, const std::string &path) {
    const uint64_t size = f.Size();
    if (size < 22)
        throw ArcError(arclib::kArcErrNotArchive, path);
    // The end record sits in the last 22 bytes plus at most a 65535-byte comment.
    const uint64_t tail = std::min<uint64_t>(size, 22 + 65535);
    const auto buf = f.Read(size - tail, tail);
    ZipEnd z;
    bool found = false;
    for (size_t i = buf.size() - 22 + 1; i-- > 0;) {
        if (Le32(&buf[i]) == kEndSig && i + 22 + Le16(&buf[i + 20]) <= buf.size()) {
            z.endPos = size - tail + i;
            found = true;
            break;
        }
    }
    if (!found)
        throw ArcError(arclib::kArcErrNotArchive, path);
    const unsigned char *end = &buf[z.endPos - (size - tail)];
    z.count = Le16(end + 10);
    z.cdSize = Le32(end + 12);
    z.cdOffset = Le32(end + 16);
    uint64_t recordStart = z.endPos; // where the directory ends on disk
    // A Zip64 end record may be there even when no field overflowed (Info-ZIP writes one for
    // data of unknown size); it sits between the directory and the end record.
    if (z.endPos >= 20 + 56) {
        const auto loc = f.Read(z.endPos - 20, 20);
        if (Le32(loc.data()) == kLocator64Sig) {
            uint64_t end64Pos = Le64(&loc[8]);
            auto isEnd64 = [&](uint64_t pos) {
                return pos + 56 <= z.endPos - 20 && Le32(f.Read(pos, 4).data()) == kEnd64Sig;
            };
            // Behind a self-extractor stub the stored position is off; the record then ends
            // right at the locator.
            if (!isEnd64(end64Pos))
                end64Pos = z.endPos - 20 - 56;
            if (!isEnd64(end64Pos))
                throw ArcError(arclib::kArcErrDamaged, "bad Zip64 end record");
            const auto end64 = f.Read(end64Pos, 56);
            z.count = Le64(&end64[32]);
            z.cdSize = Le64(&end64[40]);
            z.cdOffset = Le64(&end64[48]);
            recordStart = end64Pos;
            z.zip64 = true;
        }
    }
    if (z.cdSize > recordStart || z.count > z.cdSize / 46 + 1)
        throw ArcError(arclib::kArcErrDamaged, "the central directory does not fit the file");
    // A self-extractor stub in front shifts every offset; the directory ends where the end
    // record begins, whatever its stored offset says.
    z.cdStart = recordStart - z.cdSize;
    return z;
}

void Put32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

} // namespace

std::vector<ZipDirEntry> ReadZipDirectory(const std::string &path) {
    File f(path);
    const ZipEnd z = LocateEnd(f, path);
    const uint64_t count = z.count, cdStart = z.cdStart, cdSize = z.cdSize;
    const int64_t shift = static_cast<int64_t>(cdStart) - static_cast<int64_t>(z.cdOffset);
    const auto cd = f.Read(cdStart, cdSize);
    std::vector<ZipDirEntry> entries;
    entries.reserve(static_cast<size_t>(count));
    size_t p = 0;
    for (uint64_t k = 0; k < count; ++k) {
        if (p + 46 > cd.size() || Le32(&cd[p]) != kCentralSig)
            throw ArcError(arclib::kArcErrDamaged, "bad central directory record");
        const unsigned char *r = &cd[p];
        ZipDirEntry e;
        e.madeBy = Le16(r + 4);
        e.flags = Le16(r + 8);
        e.method = Le16(r + 10);
        e.dosTime = Le16(r + 12);
        e.dosDate = Le16(r + 14);
        e.crc = Le32(r + 16);
        e.compressedSize = Le32(r + 20);
        e.size = Le32(r + 24);
        const size_t nameLen = Le16(r + 28), extraLen = Le16(r + 30), commentLen = Le16(r + 32);
        e.externalAttributes = Le32(r + 38);
        e.localOffset = Le32(r + 42);
        if (p + 46 + nameLen + extraLen + commentLen > cd.size())
            throw ArcError(arclib::kArcErrDamaged, "bad central directory record");
        e.rawName.assign(reinterpret_cast<const char *>(r + 46), nameLen);
        ReadExtra(r + 46 + nameLen, extraLen, e, e.size == 0xFFFFFFFF,
                  e.compressedSize == 0xFFFFFFFF, e.localOffset == 0xFFFFFFFF);
        // A Unicode-path extra field already gave the name in UTF-8.
        e.nameIsUtf8 = !e.name.empty() || (e.flags & 0x800) != 0;
        if (!e.name.empty())
            e.name = DecodeEntryName(e.name, true);
        if (shift > 0)
            e.localOffset += static_cast<uint64_t>(shift);
        entries.push_back(std::move(e));
        p += 46 + nameLen + extraLen + commentLen;
    }
    // The names that carry no UTF-8 mark are read in one code page for the whole archive.
    const bool cp932 = HasLegacyNames(entries);
    for (auto &e : entries) {
        if (e.name.empty())
            e.name = e.nameIsUtf8 ? DecodeEntryName(e.rawName, true)
                                  : DecodeLegacyName(e.rawName, cp932);
        if (e.IsDirectory() && !e.name.empty() && e.name.back() != '/')
            e.name += '/';
    }
    return entries;
}

uint64_t AdjustSelfExtractorOffsets(const std::string &path) {
    uint64_t cdStart = 0, shift = 0, endPos = 0;
    std::vector<unsigned char> cd;
    {
        File f(path);
        const ZipEnd z = LocateEnd(f, path);
        if (z.zip64)
            throw ArcError(arclib::kArcErrUnsupported, "offsets of a Zip64 file");
        if (z.cdStart < z.cdOffset)
            throw ArcError(arclib::kArcErrDamaged, "the central directory lies before its offset");
        shift = z.cdStart - z.cdOffset;
        if (shift == 0)
            return 0;
        cdStart = z.cdStart;
        endPos = z.endPos;
        cd = f.Read(z.cdStart, z.cdSize);
        size_t p = 0;
        for (uint64_t k = 0; k < z.count; ++k) {
            if (p + 46 > cd.size() || Le32(&cd[p]) != kCentralSig)
                throw ArcError(arclib::kArcErrDamaged, "bad central directory record");
            const uint64_t off = Le32(&cd[p + 42]) + shift;
            if (Le32(&cd[p + 42]) == 0xFFFFFFFF || off > 0xFFFFFFFE)
                throw ArcError(arclib::kArcErrUnsupported, "offsets beyond 4 GiB");
            Put32(&cd[p + 42], static_cast<uint32_t>(off));
            p += 46 + Le16(&cd[p + 28]) + Le16(&cd[p + 30]) + Le16(&cd[p + 32]);
        }
    }
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!out)
        throw ArcError(arclib::kArcErrWriteArchive, path);
    unsigned char off[4];
    Put32(off, static_cast<uint32_t>(cdStart));
    out.seekp(static_cast<std::streamoff>(cdStart));
    out.write(reinterpret_cast<const char *>(cd.data()), static_cast<std::streamsize>(cd.size()));
    out.seekp(static_cast<std::streamoff>(endPos + 16));
    out.write(reinterpret_cast<const char *>(off), 4);
    out.flush();
    if (!out)
        throw ArcError(arclib::kArcErrWriteArchive, path);
    return shift;
}

} // namespace zipar
