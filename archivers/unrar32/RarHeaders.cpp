#include "archivers/unrar32/RarHeaders.h"

#include "archivers/common/FileSystem.h"

#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace arclib::rar {

namespace {

const unsigned char kSig4[] = {'R', 'a', 'r', '!', 0x1a, 0x07, 0x00};
const unsigned char kSig5[] = {'R', 'a', 'r', '!', 0x1a, 0x07, 0x01, 0x00};

// Far more blocks than any real archive has: a loop of headers pointing at themselves ends here.
constexpr size_t kMaxBlocks = 1 << 20;
// A RAR 5 header is at most 2 MiB; a RAR 4 one at most 64 KiB.
constexpr uint64_t kMaxHeader5 = 2u << 20;

class File {
public:
    explicit File(const std::string &path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ && ::fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode))
            size_ = static_cast<uint64_t>(st.st_size);
    }
    uint64_t Size() const { return size_; }
    // Exactly n bytes at pos, or nothing.
    std::optional<std::string> Read(uint64_t pos, uint64_t n) const {
        if (!fd_ || pos > size_ || n > size_ - pos)
            return std::nullopt;
        std::string buf(static_cast<size_t>(n), '\0');
        size_t done = 0;
        while (done < buf.size()) {
            ssize_t r = ::pread(fd_.get(), buf.data() + done, buf.size() - done,
                                static_cast<off_t>(pos + done));
            if (r <= 0)
                return std::nullopt;
            done += static_cast<size_t>(r);
        }
        return buf;
    }

private:
    UniqueFd fd_;
    uint64_t size_ = 0;
};

// A cursor over one header's bytes; reading past the end sets bad and gives zeros.
struct Cursor {
    const std::string &b;
    size_t at = 0;
    bool bad = false;
    uint64_t Fixed(int n) {
        if (b.size() - at < static_cast<size_t>(n) || at > b.size()) {
            bad = true;
            at = b.size();
            return 0;
        }
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= static_cast<uint64_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
        at += static_cast<size_t>(n);
        return v;
    }
    uint64_t Vint() {
        uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at >= b.size()) {
                bad = true;
                return 0;
            }
            const unsigned char c = static_cast<unsigned char>(b[at++]);
            v |= static_cast<uint64_t>(c & 0x7f) << shift;
            if (!(c & 0x80))
                return v;
        }
        bad = true;
        return 0;
    }
    std::string Bytes(uint64_t n) {
        if (n > b.size() - at) {
            bad = true;
            at = b.size();
            return {};
        }
        std::string s = b.substr(at, static_cast<size_t>(n));
        at += static_cast<size_t>(n);
        return s;
    }
};

// Where the signature starts, looking through the first MiB.
std::optional<std::pair<uint64_t, int>> FindSignature(const File &f) {
    const uint64_t span = std::min<uint64_t>(f.Size(), 1u << 20);
    auto head = f.Read(0, span);
    if (!head)
        return std::nullopt;
    // Only a self-extractor (a program: MZ or ELF) has the archive after other bytes.
    const bool program = head->rfind("MZ", 0) == 0 || head->rfind("\x7f" "ELF", 0) == 0;
    if (!program)
        head->resize(std::min<size_t>(head->size(), sizeof kSig5));
    for (size_t i = 0; i + sizeof kSig4 <= head->size(); ++i) {
        if (std::memcmp(head->data() + i, kSig4, 6) != 0)
            continue;
        if (std::memcmp(head->data() + i, kSig4, sizeof kSig4) == 0)
            return std::make_pair(static_cast<uint64_t>(i + sizeof kSig4), 4);
        if (i + sizeof kSig5 <= head->size() &&
            std::memcmp(head->data() + i, kSig5, sizeof kSig5) == 0)
            return std::make_pair(static_cast<uint64_t>(i + sizeof kSig5), 5);
    }
    return std::nullopt;
}

void Read4(const File &f, uint64_t pos, Headers &h) {
    for (size_t blocks = 0; blocks < kMaxBlocks; ++blocks) {
        auto fixed = f.Read(pos, 7);
        if (!fixed)
            return;
        Cursor c{*fixed};
        c.Fixed(2); // header CRC
        const int type = static_cast<int>(c.Fixed(1));
        const uint64_t flags = c.Fixed(2);
        const uint64_t headSize = c.Fixed(2);
        if (headSize < 7)
            return;
        auto whole = f.Read(pos, headSize);
        if (!whole)
            return;
        Cursor hc{*whole, 7};
        uint64_t dataSize = (flags & 0x8000) ? hc.Fixed(4) : 0;
        if (type == 0x73) { // main header
            h.volume = flags & 0x0001;
            h.solid = flags & 0x0008;
            h.headersEncrypted = flags & 0x0080;
            // Set in the first volume by RAR 3 and later; older sets cannot tell.
            if (h.volume && (flags & 0x0010))
                h.firstVolume = flags & 0x0100;
            if (h.headersEncrypted)
                return;
        } else if (type == 0x74) { // file
            FileHeader fh;
            fh.packedSize = dataSize;
            fh.size = hc.Fixed(4);
            fh.hostOs = static_cast<int>(hc.Fixed(1));
            fh.crc = static_cast<uint32_t>(hc.Fixed(4));
            hc.Fixed(4); // time
            hc.Fixed(1); // version needed
            const int method = static_cast<int>(hc.Fixed(1));
            fh.method = method >= 0x30 && method <= 0x35 ? method - 0x30 : method;
            const uint64_t nameSize = hc.Fixed(2);
            hc.Fixed(4); // attributes
            if (flags & 0x0100) {
                const uint64_t highPack = hc.Fixed(4);
                fh.size |= hc.Fixed(4) << 32;
                fh.packedSize |= highPack << 32;
                dataSize = fh.packedSize;
            }
            std::string name = hc.Bytes(nameSize);
            // A Unicode name follows the 8-bit one after a NUL.
            fh.name = name.substr(0, name.find('\0'));
            fh.splitBefore = flags & 0x0001;
            fh.splitAfter = flags & 0x0002;
            fh.encrypted = flags & 0x0004;
            fh.directory = (flags & 0x00e0) == 0x00e0;
            if (hc.bad)
                return;
            h.files.push_back(std::move(fh));
        } else if (type == 0x7b) { // end of archive
            h.complete = true;
            return;
        }
        if (hc.bad)
            return;
        pos += headSize + dataSize;
    }
}

void Read5(const File &f, uint64_t pos, Headers &h) {
    for (size_t blocks = 0; blocks < kMaxBlocks; ++blocks) {
        // CRC32, then the header's size as a variable-length number of at most 3 bytes.
        auto start = f.Read(pos, std::min<uint64_t>(7, f.Size() - std::min(f.Size(), pos)));
        if (!start || start->size() < 5)
            return;
        Cursor sc{*start, 4};
        const uint64_t headSize = sc.Vint();
        if (sc.bad || headSize == 0 || headSize > kMaxHeader5)
            return;
        auto body = f.Read(pos + sc.at, headSize);
        if (!body)
            return;
        Cursor c{*body};
        const uint64_t type = c.Vint();
        const uint64_t flags = c.Vint();
        const uint64_t extraSize = (flags & 0x1) ? c.Vint() : 0;
        const uint64_t dataSize = (flags & 0x2) ? c.Vint() : 0;
        if (c.bad || extraSize > headSize)
            return;
        const size_t extraAt = static_cast<size_t>(headSize - extraSize);
        if (type == 1) { // main header
            const uint64_t archiveFlags = c.Vint();
            h.volume = archiveFlags & 0x1;
            h.firstVolume = !(archiveFlags & 0x2) || c.Vint() == 0;
            h.solid = archiveFlags & 0x4;
        } else if (type == 4) { // archive encryption: every header after it is encrypted
            h.headersEncrypted = true;
            return;
        } else if (type == 2) { // file
            FileHeader fh;
            const uint64_t fileFlags = c.Vint();
            fh.size = c.Vint();
            fh.sizeUnknown = fileFlags & 0x8;
            c.Vint(); // attributes
            if (fileFlags & 0x2)
                c.Fixed(4); // time
            if (fileFlags & 0x4)
                fh.crc = static_cast<uint32_t>(c.Fixed(4));
            const uint64_t compression = c.Vint();
            fh.method = static_cast<int>((compression >> 7) & 7);
            fh.hostOs = static_cast<int>(c.Vint());
            fh.name = c.Bytes(c.Vint());
            fh.directory = fileFlags & 0x1;
            fh.packedSize = dataSize;
            fh.splitBefore = flags & 0x8;
            fh.splitAfter = flags & 0x10;
            if (c.bad)
                return;
            Cursor x{*body, extraAt};
            while (!x.bad && x.at < body->size()) {
                const uint64_t recSize = x.Vint();
                const size_t recStart = x.at;
                if (x.bad || recSize == 0 || recSize > body->size() - recStart)
                    break;
                const uint64_t recType = x.Vint();
                if (recType == 1) {
                    fh.encrypted = true;
                } else if (recType == 5) {
                    fh.redirect = static_cast<int>(x.Vint());
                    x.Vint(); // flags
                    fh.target = x.Bytes(x.Vint());
                    if (x.bad)
                        fh.redirect = 0;
                }
                x.bad = false;
                x.at = recStart + static_cast<size_t>(recSize);
            }
            h.files.push_back(std::move(fh));
        } else if (type == 5) { // end of archive
            h.complete = true;
            return;
        }
        pos += sc.at + headSize + dataSize;
        if (dataSize > f.Size())
            return;
    }
}

std::string Lower(std::string s) {
    for (char &ch : s)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

bool Exists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

Headers ReadHeaders(const std::string &path) {
    Headers h;
    File f(path);
    auto sig = FindSignature(f);
    if (!sig)
        return h;
    h.version = sig->second;
    if (h.version == 4)
        Read4(f, sig->first, h);
    else
        Read5(f, sig->first, h);
    return h;
}

std::vector<std::string> FollowingVolumes(const std::string &path, const Headers &first) {
    std::vector<std::string> next;
    if (!first.volume)
        return next;
    const std::string lower = Lower(path);
    // "name.partNNN.rar": the number keeps its width.
    const size_t part = lower.rfind(".part");
    if (part != std::string::npos && lower.size() > 4 &&
        lower.compare(lower.size() - 4, 4, ".rar") == 0) {
        const size_t digits = part + 5, end = lower.size() - 4;
        if (end > digits && end - digits <= 6 &&
            lower.find_first_not_of("0123456789", digits) == end) {
            const int width = static_cast<int>(end - digits);
            long n = std::stol(lower.substr(digits, end - digits));
            for (;;) {
                std::string num = std::to_string(++n);
                if (num.size() < static_cast<size_t>(width))
                    num.insert(0, static_cast<size_t>(width) - num.size(), '0');
                std::string candidate = path.substr(0, digits) + num + path.substr(end);
                if (!Exists(candidate))
                    return next;
                next.push_back(std::move(candidate));
            }
        }
    }
    // "name.rar", then "name.r00" to "name.r99", "name.s00", ...
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".rar") == 0) {
        const std::string stem = path.substr(0, path.size() - 3);
        const bool upper = path[path.size() - 3] == 'R';
        for (int i = 0; i < 26 * 100; ++i) {
            char letter = static_cast<char>((upper ? 'R' : 'r') + i / 100);
            if (!std::isalpha(static_cast<unsigned char>(letter)))
                break;
            char num[3] = {static_cast<char>('0' + (i % 100) / 10), static_cast<char>('0' + i % 10),
                           0};
            std::string candidate = stem + letter + num;
            if (!Exists(candidate))
                break;
            next.push_back(std::move(candidate));
        }
    }
    return next;
}

} // namespace arclib::rar
