#include "ArjArchive.h"

#include "archivers/common/LibArchive.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace arj {

namespace {

constexpr uint8_t kId0 = 0x60, kId1 = 0xEA;
constexpr size_t kMaxBasicHeader = 2600; // ARJ's own limit
constexpr size_t kMinFirstHeader = 30;   // the fixed fields every version writes

uint16_t Get16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

[[noreturn]] void Damaged(const std::string &what) {
    throw ArjError(Problem::Damaged, what);
}

// A NUL-terminated string inside the basic header; false when it runs past the header.
bool TakeString(const std::vector<uint8_t> &h, size_t &at, size_t end, std::string &out) {
    const uint8_t *b = h.data();
    const void *nul = at < end ? std::memchr(b + at, 0, end - at) : nullptr;
    if (!nul)
        return false;
    size_t len = static_cast<size_t>(static_cast<const uint8_t *>(nul) - (b + at));
    out.assign(reinterpret_cast<const char *>(b + at), len);
    at += len + 1;
    return true;
}

// The packed bytes of one entry, read from its offset on.
class DataIn : public lha::InStream {
public:
    DataIn(RandomIn &in, uint64_t offset, uint64_t size) : in_(in), at_(offset), left_(size) {}
    size_t Read(uint8_t *buf, size_t n) override {
        size_t want = static_cast<size_t>(std::min<uint64_t>(n, left_));
        size_t got = want ? in_.ReadAt(at_, buf, want) : 0;
        at_ += got;
        left_ -= got;
        return got;
    }

private:
    RandomIn &in_;
    uint64_t at_, left_;
};

class CrcOut : public lha::OutStream {
public:
    explicit CrcOut(lha::OutStream &out) : out_(out) {}
    void Write(const uint8_t *buf, size_t n) override {
        crc = Crc32(crc, buf, n);
        written += n;
        out_.Write(buf, n);
    }
    uint32_t crc = 0;
    uint64_t written = 0;

private:
    lha::OutStream &out_;
};

} // namespace

size_t MemoryIn::ReadAt(uint64_t offset, uint8_t *buf, size_t n) {
    if (offset >= size_)
        return 0;
    size_t k = std::min<size_t>(n, size_ - static_cast<size_t>(offset));
    std::memcpy(buf, data_ + offset, k);
    return k;
}

uint32_t Crc32(uint32_t crc, const uint8_t *p, size_t n) {
    while (n > 0) {
        auto chunk = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
        crc = static_cast<uint32_t>(::crc32(crc, p, chunk));
        p += chunk;
        n -= chunk;
    }
    return crc;
}

bool UsesBackslash(uint8_t hostOs) {
    return hostOs == kMsDos || hostOs == kOs2 || hostOs == kWin95 || hostOs == kWin32;
}

std::string Entry::MethodText() const {
    std::string t = "-arj?-";
    if (method <= 4)
        t[4] = static_cast<char>('0' + method);
    return t;
}

bool Reader::ReadBasicHeader(uint64_t offset, uint64_t &next) {
    uint8_t head[4];
    if (in_.ReadAt(offset, head, 4) < 4)
        Damaged("the archive ends without its end mark");
    if (head[0] != kId0 || head[1] != kId1)
        Damaged("no ARJ header at offset " + std::to_string(offset));
    const size_t size = Get16(head + 2);
    if (size == 0) {
        next = offset + 4;
        return false;
    }
    if (size > kMaxBasicHeader)
        Damaged("a header of " + std::to_string(size) + " bytes at offset " +
                std::to_string(offset) + " (at most 2600)");
    header_.resize(size + 4);
    if (in_.ReadAt(offset + 4, header_.data(), header_.size()) < header_.size())
        Damaged("the archive ends inside a header");
    if (Crc32(0, header_.data(), size) != Get32(header_.data() + size))
        Damaged("header CRC error at offset " + std::to_string(offset));
    header_.resize(size);
    // Extended headers: a size, the data and its CRC each, until a size of 0.
    uint64_t at = offset + 4 + size + 4;
    for (;;) {
        uint8_t s[2];
        if (in_.ReadAt(at, s, 2) < 2)
            Damaged("the archive ends inside an extended header");
        const uint16_t ext = Get16(s);
        at += 2;
        if (ext == 0)
            break;
        at += ext + 4u;
        if (at > in_.Size())
            Damaged("the archive ends inside an extended header");
    }
    next = at;
    return true;
}

Reader::Reader(RandomIn &in) : in_(in) {
    const uint64_t size = in_.Size();
    const uint64_t last = std::min<uint64_t>(size, kMaxStub);
    // The header id, a header that fits, its CRC and the main header's file type.
    // The cheap tests come first: a stub may hold the id bytes many times.
    auto mainAt = [&](uint64_t off) -> bool {
        uint8_t head[11];
        if (in_.ReadAt(off, head, sizeof head) < sizeof head || head[0] != kId0 || head[1] != kId1)
            return false;
        size_t hs = Get16(head + 2);
        if (hs < kMinFirstHeader || hs > kMaxBasicHeader || head[4] < kMinFirstHeader ||
            head[4] > hs || head[10] != kComment)
            return false;
        std::vector<uint8_t> h(hs + 4);
        if (in_.ReadAt(off + 4, h.data(), h.size()) < h.size())
            return false;
        return Crc32(0, h.data(), hs) == Get32(h.data() + hs);
    };
    uint64_t found = UINT64_MAX;
    std::vector<uint8_t> chunk(64 * 1024);
    for (uint64_t base = 0; base < last && found == UINT64_MAX; base += chunk.size() - 1) {
        size_t got = in_.ReadAt(base, chunk.data(), chunk.size());
        if (got < 2)
            break;
        for (size_t i = 0; i + 1 < got && base + i < last; ++i)
            if (chunk[i] == kId0 && chunk[i + 1] == kId1 && mainAt(base + i)) {
                found = base + i;
                break;
            }
    }
    if (found == UINT64_MAX)
        throw ArjError(Problem::NotArchive, "no ARJ main header");
    uint64_t next = 0;
    try {
        ReadBasicHeader(found, next);
    } catch (const ArjError &e) {
        throw ArjError(Problem::NotArchive, e.what());
    }
    const uint8_t *b = header_.data();
    main_.hostOs = b[3];
    main_.flags = b[4];
    size_t at = b[0];
    if (!TakeString(header_, at, header_.size(), main_.name) ||
        !TakeString(header_, at, header_.size(), main_.comment))
        throw ArjError(Problem::NotArchive, "the main header's name runs past the header");
    pos_ = next;
}

bool Reader::Next(Entry &e) {
    haveCurrent_ = false;
    uint64_t next = 0;
    const uint64_t at = pos_;
    if (!ReadBasicHeader(at, next))
        return false;
    const uint8_t *b = header_.data();
    const size_t first = b[0];
    if (first < kMinFirstHeader || first > header_.size())
        Damaged("a header at offset " + std::to_string(at) + " too short for its fields");
    Entry n;
    n.hostOs = b[3];
    n.flags = b[4];
    n.method = b[5];
    n.fileType = b[6];
    n.dosDateTime = Get32(b + 8);
    n.packedSize = Get32(b + 12);
    n.originalSize = Get32(b + 16);
    n.crc = Get32(b + 20);
    n.fileMode = Get16(b + 26);
    // ARJ 2.62 and later add the position in a volume set, then the access and creation times.
    if (first >= 42) {
        n.accessTime = Get32(b + 34);
        n.createTime = Get32(b + 38);
    }
    n.headerOffset = at;
    n.dataOffset = next;
    size_t pos = first;
    if (!TakeString(header_, pos, header_.size(), n.rawName))
        Damaged("a name at offset " + std::to_string(at) + " runs past its header");
    // Names are in the code page of the system that made them; a DOS-family '\' separates
    // folders once the name is characters (a trail byte 0x5C of Shift-JIS is no separator).
    n.name = arclib::LegacyNameToUtf8(n.rawName);
    if (UsesBackslash(n.hostOs))
        std::replace(n.name.begin(), n.name.end(), '\\', '/');
    while (n.name.size() > 1 && n.name.back() == '/')
        n.name.pop_back();
    pos_ = next + n.packedSize;
    cur_ = n;
    e = cur_;
    haveCurrent_ = true;
    return true;
}

void Reader::Extract(lha::OutStream &out) {
    if (!haveCurrent_)
        throw std::logic_error("no current ARJ entry");
    const Entry &e = cur_;
    if (!e.IsMember() || e.IsDirectory())
        return;
    if (e.Garbled())
        throw ArjError(Problem::Garbled, e.name + ": the entry is garbled (encrypted with a "
                                                  "password)");
    if (e.Split())
        throw ArjError(Problem::MultiVolume,
                       e.name + ": the entry is split across the volumes of a multi-volume "
                                "archive");
    if (e.method > 4)
        throw ArjError(Problem::Unsupported,
                       e.name + ": unknown ARJ method " + std::to_string(e.method));
    if (e.dataOffset + e.packedSize > in_.Size())
        Damaged(e.name + ": the archive ends inside the entry's data");
    DataIn data(in_, e.dataOffset, e.packedSize);
    CrcOut crc(out);
    try {
        lha::DecodeArj(e.method, data, e.packedSize, e.originalSize, crc);
    } catch (const lha::LhaError &err) {
        Damaged(e.name + ": " + err.what());
    }
    if (crc.written != e.originalSize)
        Damaged(e.name + ": the data gives " + std::to_string(crc.written) + " of " +
                std::to_string(e.originalSize) + " bytes");
    if (crc.crc != e.crc)
        Damaged(e.name + ": CRC error");
}

} // namespace arj
