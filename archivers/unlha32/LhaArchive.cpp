// Header layouts (all little-endian):
//   level 0/1: size byte, checksum byte, method, packed and original size, DOS time, attribute,
//              level, name length, name, data CRC [, OS id, Unix or extended headers]
//   level 2:   16-bit total size, method, sizes, Unix time, reserved, level, data CRC, OS id,
//              extended headers with 16-bit sizes
//   level 3:   as level 2 with a 32-bit total size and 32-bit extended header sizes
#include "LhaArchive.h"

#include "platform/CodePage.h"
#include "platform/FileTime.h"

#include <algorithm>
#include <cstring>

namespace lha {

namespace {

constexpr uint8_t kExtCrc = 0x00, kExtName = 0x01, kExtDir = 0x02, kExtDosAttr = 0x40,
                  kExtWinTime = 0x41, kExtSize64 = 0x42, kExtCodePage = 0x46, kExtUnixMode = 0x50,
                  kExtUnixTime = 0x54, kExtUnicodeName = 0x44, kExtUnicodeDir = 0x45;
constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;
constexpr uint32_t kMaxHeader = 1u << 20; // far beyond any real header; stops runaway sizes

uint16_t Le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t Le64(const uint8_t *p) {
    return Le32(p) | uint64_t{Le32(p + 4)} << 32;
}

void ReadExact(SeekableIn &in, uint8_t *buf, size_t n) {
    while (n > 0) {
        size_t got = in.Read(buf, n);
        if (got == 0)
            throw LhaError("the archive ends inside a header");
        buf += got;
        n -= got;
    }
}

// DOS time in the low word, date in the high word, as local time.
int64_t DosToUnix(uint32_t stamp) {
    return platform::LocalDosDateTimeToUnix(static_cast<uint16_t>(stamp >> 16),
                                            static_cast<uint16_t>(stamp));
}

// Raw name bytes to UTF-8 (or, with utf8 set, kept as they are) with '/' between folders. In code
// page 932 a trail byte equal to '\' belongs to its character, so the walk goes character by
// character. A leading separator is kept: the name is absolute and extraction refuses it.
std::string DecodeName(const std::string &raw, bool utf8) {
    std::string out;
    out.reserve(raw.size());
    std::string piece;
    auto flush = [&]() {
        out += utf8 ? piece : platform::ShiftJisToUtf8(piece);
        piece.clear();
    };
    for (size_t i = 0; i < raw.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (!utf8 && platform::IsLeadByte(c, platform::CodePage::ShiftJis) && i + 1 < raw.size()) {
            piece += raw[i];
            piece += raw[++i];
            continue;
        }
        if (c == 0xFF || c == '\\' || c == '/') {
            flush();
            if (out.empty() ? i == 0 : out.back() != '/')
                out += '/';
            continue;
        }
        piece += raw[i];
    }
    flush();
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

struct Parsed {
    std::string rawName, rawDir;
    std::optional<uint32_t> codePage;
    // The Unicode name headers, as UTF-8 (folders of the folder header separated by 0xFF).
    std::optional<std::string> unicodeName, unicodeDir;
};

// UTF-16LE text as UTF-8; 0xFFFF (the format's folder separator) becomes the byte 0xFF, which
// UTF-8 never holds.
std::string Utf16ToUtf8(const uint8_t *d, size_t len) {
    std::string out;
    std::u16string piece;
    auto flush = [&] {
        out += platform::WideToCodePage(piece, platform::CodePage::Utf8);
        piece.clear();
    };
    for (size_t i = 0; i + 1 < len; i += 2) {
        const char16_t c = static_cast<char16_t>(Le16(d + i));
        if (c == 0)
            break;
        if (c == 0xFFFF) {
            flush();
            out += '\xFF';
        } else {
            piece += c;
        }
    }
    flush();
    return out;
}

// Reads the chain of extended headers held in ext (sizeWidth 2 or 4), the first of which has
// size first. Checks the header CRC when one is present (over hdr with the CRC field zeroed).
void ParseExtended(const uint8_t *ext, size_t extLen, size_t first, unsigned sizeWidth, Entry &e,
                   Parsed &ps, uint64_t &extTotal, std::vector<uint8_t> *crcHeader,
                   size_t extOffsetInHeader) {
    size_t pos = 0, size = first;
    extTotal = 0;
    while (size != 0) {
        if (size < 1 + sizeWidth || pos + size > extLen)
            throw LhaError("extended header runs past the header");
        const uint8_t *h = ext + pos;
        const uint8_t *d = h + 1;
        size_t dlen = size - 1 - sizeWidth;
        switch (h[0]) {
        case kExtCrc:
            if (dlen >= 2 && crcHeader) {
                uint16_t want = Le16(d);
                size_t at = extOffsetInHeader + pos + 1;
                (*crcHeader)[at] = (*crcHeader)[at + 1] = 0;
                if (Crc16(0, crcHeader->data(), crcHeader->size()) != want)
                    throw LhaError("header CRC mismatch");
            }
            break;
        case kExtName:
            ps.rawName.assign(reinterpret_cast<const char *>(d), dlen);
            break;
        case kExtDir:
            ps.rawDir.assign(reinterpret_cast<const char *>(d), dlen);
            break;
        case kExtUnicodeName:
            ps.unicodeName = Utf16ToUtf8(d, dlen);
            break;
        case kExtUnicodeDir:
            ps.unicodeDir = Utf16ToUtf8(d, dlen);
            break;
        case kExtDosAttr:
            if (dlen >= 2)
                e.dosAttribute = static_cast<uint8_t>(Le16(d));
            break;
        case kExtWinTime:
            if (dlen >= 24) {
                e.createTime = Le64(d);
                uint64_t w = Le64(d + 8);
                if (w >= kUnixEpochTicks)
                    e.mtime = static_cast<int64_t>((w - kUnixEpochTicks) / 10000000ULL);
                e.accessTime = Le64(d + 16);
            }
            break;
        case kExtSize64:
            if (dlen >= 16) {
                e.packedSize = Le64(d);
                e.originalSize = Le64(d + 8);
            }
            break;
        case kExtCodePage:
            if (dlen >= 4)
                ps.codePage = Le32(d);
            break;
        case kExtUnixMode:
            if (dlen >= 2)
                e.unixMode = Le16(d);
            break;
        case kExtUnixTime:
            if (dlen >= 4)
                e.mtime = static_cast<int32_t>(Le32(d));
            break;
        default:
            break;
        }
        extTotal += size;
        const uint8_t *next = h + size - sizeWidth;
        pos += size;
        size = sizeWidth == 2 ? Le16(next) : Le32(next);
    }
}

void Finish(Entry &e, const Parsed &ps) {
    auto join = [](std::string dir, const std::string &name) {
        if (!dir.empty() && static_cast<unsigned char>(dir.back()) != 0xFF)
            dir += '\xFF';
        return dir + name;
    };
    // The name's code page: what the header says; else a Unix-made name is its bytes as they are
    // (UTF-8 when it is valid UTF-8, and a name in another encoding stays byte for byte, as lhasa
    // and libarchive read it); else code page 932 (the archivers of the format's home).
    bool utf8;
    if (ps.codePage)
        utf8 = *ps.codePage == 65001;
    else
        utf8 = e.osId == 'U';
    if (ps.unicodeName || ps.unicodeDir) {
        // The Unicode headers say the name without a code page's losses; a part they leave out
        // comes from its code-page header, decoded first so that both parts are UTF-8.
        auto legacy = [&](const std::string &raw) {
            std::string part = DecodeName(raw, utf8);
            std::replace(part.begin(), part.end(), '/', '\xFF');
            return part;
        };
        e.name = DecodeName(join(ps.unicodeDir ? *ps.unicodeDir : legacy(ps.rawDir),
                                 ps.unicodeName ? *ps.unicodeName : legacy(ps.rawName)),
                            true);
    } else {
        e.name = DecodeName(join(ps.rawDir, ps.rawName), utf8);
    }
    if (e.unixMode && (*e.unixMode & 0xF000) == 0xA000) {
        e.isSymlink = true;
        auto bar = e.name.find('|');
        if (bar == std::string::npos) {
            e.damage = "symbolic link entry without a target";
        } else {
            e.linkTarget = e.name.substr(bar + 1);
            e.name.resize(bar);
        }
    } else if (e.method == Method::Dir || (e.unixMode && (*e.unixMode & 0xF000) == 0x4000)) {
        e.isDir = true;
    }
    if (e.isDir && e.originalSize != 0)
        throw LhaError("folder entry with data");
}

} // namespace

size_t MemoryIn::Read(uint8_t *buf, size_t n) {
    n = std::min(n, size_ - pos_);
    std::memcpy(buf, data_ + pos_, n);
    pos_ += n;
    return n;
}

void MemoryIn::Skip(uint64_t n) {
    pos_ = static_cast<size_t>(std::min<uint64_t>(size_, pos_ + n));
}

bool LooksLikeHeader(const uint8_t *p, size_t n) {
    if (n < 22)
        return false;
    if (p[2] != '-' || p[6] != '-' || p[20] > 3)
        return false;
    // Methods we do not decode (-pm2-, -lh1-, ...) are still entries: listed, refused one by one.
    auto methodChar = [](uint8_t c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    return methodChar(p[3]) && methodChar(p[4]) && methodChar(p[5]);
}

bool Reader::Next(Entry &e) {
    if (dataPending_)
        SkipData();
    dataPending_ = false;
    uint8_t fixed[24];
    size_t got = 0;
    while (got < sizeof fixed) {
        size_t r = in_.Read(fixed + got, sizeof fixed - got);
        if (r == 0)
            break;
        got += r;
    }
    if (got == 0 || fixed[0] == 0) {
        if (!started_ && got == 0)
            throw LhaError("empty file");
        return false;
    }
    if (got < 22 || !LooksLikeHeader(fixed, got))
        throw LhaError("not an LHA header");
    e = Entry{};
    e.headerOffset = in_.Tell() - got;
    e.methodId.assign(reinterpret_cast<const char *>(fixed + 2), 5);
    e.method = MethodFromId(e.methodId);
    e.packedSize = Le32(fixed + 7);
    e.originalSize = Le32(fixed + 11);
    e.level = fixed[20];
    Parsed ps;
    size_t headerLen = 0;
    switch (e.level) {
    case 0:
    case 1:
        headerLen = size_t{fixed[0]} + 2;
        break;
    case 2:
        headerLen = Le16(fixed);
        break;
    case 3:
        if (got < 24)
            throw LhaError("the archive ends inside a header");
        header_.assign(fixed, fixed + got);
        header_.resize(28);
        ReadExact(in_, header_.data() + got, 28 - got);
        headerLen = Le32(header_.data() + 24);
        got = 28;
        break;
    }
    // The smallest header of each level: level 0 with an empty name and no CRC, level 1 with an
    // empty name, its CRC, OS id and the size of the first extended header, the fixed parts of
    // levels 2 and 3 with the size of the first extended header.
    static constexpr size_t kMinHeader[4] = {22, 27, 26, 32};
    if (headerLen < kMinHeader[e.level] || headerLen > kMaxHeader)
        throw LhaError("bad header size");
    if (e.level != 3)
        header_.assign(fixed, fixed + std::min(got, headerLen));
    if (header_.size() > headerLen)
        throw LhaError("bad header size");
    size_t have = header_.size();
    header_.resize(headerLen);
    ReadExact(in_, header_.data() + have, headerLen - have);
    if (got > headerLen)
        throw LhaError("bad header size");
    const uint8_t *h = header_.data();

    if (e.level <= 1) {
        uint8_t sum = 0;
        for (size_t i = 2; i < headerLen; ++i)
            sum = static_cast<uint8_t>(sum + h[i]);
        if (sum != h[1])
            throw LhaError("header checksum mismatch");
        e.dosAttribute = h[19];
        e.mtime = DosToUnix(Le32(h + 15));
        size_t nl = h[21];
        // Some level-0 writers leave out the CRC field: the header ends with the name.
        const bool noCrc = e.level == 0 && 22 + nl == headerLen;
        if (22 + nl + (noCrc ? 0 : 2) > headerLen)
            throw LhaError("name runs past the header");
        ps.rawName.assign(reinterpret_cast<const char *>(h + 22), nl);
        if (noCrc)
            e.hasCrc = false;
        else
            e.crc = Le16(h + 22 + nl);
        size_t rest = 22 + nl + (noCrc ? 0 : 2);
        if (e.level == 0) {
            if (rest < headerLen) {
                e.osId = h[rest];
                // Unix extension of level 0: OS id, version, time, mode, uid, gid.
                if (e.osId == 'U' && headerLen - rest >= 12) {
                    e.mtime = static_cast<int32_t>(Le32(h + rest + 2));
                    e.unixMode = Le16(h + rest + 6);
                }
            }
        } else {
            if (rest + 3 > headerLen)
                throw LhaError("bad level-1 header");
            e.osId = h[rest];
            size_t first = Le16(h + headerLen - 2);
            // The extended headers follow the base header and count in the packed size.
            std::vector<uint8_t> ext;
            uint64_t total = 0;
            size_t size = first;
            while (size != 0) {
                if (size < 3 || ext.size() + size > kMaxHeader)
                    throw LhaError("bad extended header");
                size_t at = ext.size();
                ext.resize(at + size);
                ReadExact(in_, ext.data() + at, size);
                size = Le16(ext.data() + ext.size() - 2);
            }
            ParseExtended(ext.data(), ext.size(), first, 2, e, ps, total, nullptr, 0);
            if (total > e.packedSize)
                throw LhaError("extended headers larger than the entry");
            e.packedSize -= total;
            headerLen += ext.size();
        }
    } else {
        e.crc = Le16(h + 21);
        e.osId = h[23];
        e.mtime = static_cast<int32_t>(Le32(h + 15));
        unsigned width = e.level == 2 ? 2 : 4;
        size_t extStart = e.level == 2 ? 26 : 32;
        size_t first = width == 2 ? Le16(h + 24) : Le32(h + 28);
        std::vector<uint8_t> forCrc = header_;
        uint64_t total = 0;
        ParseExtended(h + extStart, headerLen - extStart, first, width, e, ps, total, &forCrc,
                      extStart);
    }
    Finish(e, ps);
    e.headerSize = headerLen;
    started_ = true;
    cur_ = e;
    dataPending_ = true;
    return true;
}

void Reader::SkipData() {
    uint64_t before = in_.Tell();
    in_.Skip(cur_.packedSize);
    if (in_.Tell() - before != cur_.packedSize)
        throw LhaError("the archive ends inside an entry's data");
    dataPending_ = false;
}

void Reader::Extract(OutStream &out) {
    if (!dataPending_)
        throw LhaError("entry data already read");
    dataPending_ = false;
    if (!cur_.damage.empty())
        throw LhaError(cur_.damage);
    if (cur_.isSymlink) {
        in_.Skip(cur_.packedSize);
        return;
    }
    uint64_t start = in_.Tell();
    // Decoders may stop short of the packed size, also when they fail; the next header starts
    // after it either way, so the walk can go on with the next entry.
    auto toNextHeader = [&] {
        uint64_t used = in_.Tell() - start;
        if (used < cur_.packedSize)
            in_.Skip(cur_.packedSize - used);
    };
    uint16_t crc = 0;
    try {
        crc = Decode(cur_.method, in_, cur_.packedSize, cur_.originalSize, out);
    } catch (const LhaError &) {
        toNextHeader();
        throw;
    }
    toNextHeader();
    if (!cur_.isDir && cur_.hasCrc && crc != cur_.crc)
        throw LhaError("CRC mismatch");
}

std::vector<uint8_t> BuildLevel2Header(const NewEntry &e, Method m, uint64_t packedSize,
                                       uint64_t originalSize, uint16_t crc, bool wideSizes) {
    std::vector<uint8_t> h(26, 0);
    auto put16 = [](uint8_t *p, uint32_t v) {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    };
    auto put32 = [](uint8_t *p, uint64_t v) {
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<uint8_t>(v >> (8 * i));
    };
    std::memcpy(h.data() + 2, MethodId(m), 5);
    put32(h.data() + 7, wideSizes ? 0 : packedSize);
    put32(h.data() + 11, wideSizes ? 0 : originalSize);
    put32(h.data() + 15, static_cast<uint64_t>(e.mtime));
    h[19] = 0x20;
    h[20] = 2;
    put16(h.data() + 21, crc);
    h[23] = 'U';
    // Extended headers: each is type, data, then the size of the next one (0 ends the chain).
    auto ext = [&](uint8_t type, const uint8_t *data, size_t n) {
        size_t size = 1 + n + 2;
        put16(h.data() + h.size() - 2, static_cast<uint32_t>(size));
        h.push_back(type);
        h.insert(h.end(), data, data + n);
        h.push_back(0);
        h.push_back(0);
    };
    const uint8_t zero2[2] = {0, 0};
    ext(kExtCrc, zero2, 2);
    const size_t crcAt = 27;
    std::string dir, base = e.name;
    if (e.isDir) {
        dir = e.name;
        base.clear();
    } else if (auto slash = e.name.rfind('/'); slash != std::string::npos) {
        dir = e.name.substr(0, slash);
        base = e.name.substr(slash + 1);
    }
    if (!e.linkTarget.empty())
        base += "|" + e.linkTarget;
    ext(kExtName, reinterpret_cast<const uint8_t *>(base.data()), base.size());
    if (!dir.empty()) {
        std::string d = dir;
        std::replace(d.begin(), d.end(), '/', '\xFF');
        d += '\xFF';
        ext(kExtDir, reinterpret_cast<const uint8_t *>(d.data()), d.size());
    }
    // A name that is not UTF-8 (legal on Linux) is stored as its bytes, without claiming a code
    // page: a Unix-made name without one is read byte for byte (by us, lhasa and libarchive).
    if (platform::IsValidUtf8(e.name) && platform::IsValidUtf8(e.linkTarget)) {
        uint8_t cp[4];
        put32(cp, 65001);
        ext(kExtCodePage, cp, 4);
    }
    uint8_t mode[2];
    uint32_t type = e.isDir ? 0x4000u : !e.linkTarget.empty() ? 0xA000u : 0x8000u;
    put16(mode, type | (e.unixMode & 07777));
    ext(kExtUnixMode, mode, 2);
    if (e.writeTime) {
        uint8_t t[24];
        auto put64 = [&](uint8_t *p, uint64_t v) {
            put32(p, v);
            put32(p + 4, v >> 32);
        };
        put64(t, e.createTime.value_or(*e.writeTime));
        put64(t + 8, *e.writeTime);
        put64(t + 16, e.accessTime.value_or(*e.writeTime));
        ext(kExtWinTime, t, 24);
    }
    if (wideSizes) {
        uint8_t s[16];
        put32(s, packedSize);
        put32(s + 4, packedSize >> 32);
        put32(s + 8, originalSize);
        put32(s + 12, originalSize >> 32);
        ext(kExtSize64, s, 16);
    }
    // A total size whose low byte is 0 would read as the end-of-archive mark: pad it.
    if ((h.size() & 0xFF) == 0)
        h.push_back(0);
    put16(h.data(), static_cast<uint32_t>(h.size()));
    put16(h.data() + crcAt, Crc16(0, h.data(), h.size()));
    return h;
}

} // namespace lha
