// Decoders of the LHA methods. The Huffman methods share one block decoder that differs only in
// the window size; the LArc methods are plain LZSS.
#include "LhaCodec.h"
#include "LhaHuffman.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace lha {

namespace {

struct CrcTable {
    std::array<uint16_t, 256> t{};
    CrcTable() {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xA001u : c >> 1;
            t[i] = static_cast<uint16_t>(c);
        }
    }
};
const CrcTable kCrc;

// Reads the packed bytes of one entry, never more than its packed size.
class ByteReader {
public:
    ByteReader(InStream &in, uint64_t limit) : in_(in), left_(limit) {}
    // False at the end of the entry's packed data.
    bool Byte(uint8_t &b) {
        if (pos_ == end_ && !Fill())
            return false;
        b = buf_[pos_++];
        return true;
    }
    // Bytes read past the end of the data, counted so a corrupt stream cannot loop forever.
    unsigned overrun = 0;

private:
    bool Fill() {
        if (left_ == 0)
            return false;
        size_t want = static_cast<size_t>(std::min<uint64_t>(left_, buf_.size()));
        size_t got = in_.Read(buf_.data(), want);
        if (got == 0)
            throw LhaError("the archive ends inside an entry's data");
        left_ -= got;
        pos_ = 0;
        end_ = got;
        return true;
    }
    InStream &in_;
    uint64_t left_;
    std::array<uint8_t, 65536> buf_{};
    size_t pos_ = 0, end_ = 0;
};

// Most significant bit first, as the Huffman methods and -lzs- write them. Past the end of the
// data it gives zero bits, as the original decoders do; a stream that needs many of them is
// corrupt.
class BitReader {
public:
    BitReader(InStream &in, uint64_t limit) : bytes_(in, limit) {}

    uint32_t Peek(unsigned n) { // n <= 24
        while (count_ < n)
            Refill();
        return static_cast<uint32_t>(bits_ >> (count_ - n)) & ((1u << n) - 1);
    }
    void Skip(unsigned n) { count_ -= n; }
    uint32_t Get(unsigned n) {
        if (n == 0)
            return 0;
        uint32_t v = Peek(n);
        Skip(n);
        return v;
    }

private:
    void Refill() {
        uint8_t b = 0;
        if (!bytes_.Byte(b)) {
            if (++zeros_ > 64)
                throw LhaError("compressed data is truncated or corrupt");
            b = 0;
        }
        bits_ = (bits_ << 8) | b;
        count_ += 8;
    }
    ByteReader bytes_;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    unsigned zeros_ = 0;
};

// Output through a ring buffer that is also the dictionary; written out each time a whole
// window's worth is pending, and at the end.
class Window {
public:
    Window(unsigned bits, OutStream &out, uint8_t fill) : mask_((1u << bits) - 1), out_(out) {
        buf_.assign(size_t{1} << bits, fill);
    }
    void Put(uint8_t b) {
        buf_[pos_] = b;
        pos_ = (pos_ + 1) & mask_;
        if (++pending_ == buf_.size())
            Finish();
    }
    void Copy(unsigned from, unsigned len) {
        for (unsigned i = 0; i < len; ++i)
            Put(buf_[(from + i) & mask_]);
    }
    unsigned Pos() const { return pos_; }
    void SetPos(unsigned p) { pos_ = p & mask_; }
    uint8_t *Data() { return buf_.data(); }
    void Finish() {
        size_t start = (pos_ - pending_) & mask_;
        while (pending_ > 0) {
            size_t run = std::min(pending_, buf_.size() - start);
            const uint8_t *p = buf_.data() + start;
            crc = Crc16(crc, p, run);
            out_.Write(p, run);
            start = (start + run) & mask_;
            pending_ -= run;
        }
    }
    uint16_t crc = 0;

private:
    unsigned mask_;
    OutStream &out_;
    std::vector<uint8_t> buf_;
    unsigned pos_ = 0;
    size_t pending_ = 0;
};

// Canonical Huffman table: symbols with their code lengths (0 = unused), codes assigned in order
// of length, then symbol.
class Huffman {
public:
    void SetSingle(unsigned symbol) {
        single_ = true;
        symbol_ = symbol;
    }
    // Builds from lengths (<= 16 bits). Over-subscribed length sets are corrupt data.
    void Build(const uint8_t *lengths, unsigned n) {
        single_ = false;
        lengths_.assign(lengths, lengths + n);
        CodeCounts count{};
        for (unsigned i = 0; i < n; ++i) {
            if (lengths[i] > kMaxCodeLen)
                throw LhaError("bad Huffman code length");
            ++count[lengths[i]];
        }
        count[0] = 0;
        CodeCounts next = FirstCodes(count);
        first_ = next;
        count_ = count;
        // Kraft check: the last code must fit in 16 bits.
        uint32_t used = 0;
        for (unsigned len = 1; len <= 16; ++len)
            used += count[len] << (16 - len);
        if (used > 65536)
            throw LhaError("over-subscribed Huffman code");
        // Symbols sorted by (length, symbol), and the fast table for short codes.
        sorted_.clear();
        for (unsigned len = 1; len <= 16; ++len)
            for (unsigned s = 0; s < n; ++s)
                if (lengths[s] == len)
                    sorted_.push_back(static_cast<uint16_t>(s));
        offset_[1] = 0;
        for (unsigned len = 2; len <= 16; ++len)
            offset_[len] = offset_[len - 1] + count[len - 1];
        table_.assign(size_t{1} << kFast, 0xFFFF);
        for (unsigned s = 0; s < n; ++s) {
            unsigned len = lengths[s];
            if (len == 0 || len > kFast)
                continue;
            uint32_t c = next[len]++;
            uint32_t base = c << (kFast - len);
            for (uint32_t k = 0; k < (1u << (kFast - len)); ++k)
                table_[base + k] = static_cast<uint16_t>(s | (len << 11));
        }
    }
    unsigned Decode(BitReader &br) const {
        if (single_)
            return symbol_;
        uint32_t peek = br.Peek(16);
        uint16_t e = table_[peek >> (16 - kFast)];
        if (e != 0xFFFF) {
            br.Skip(e >> 11);
            return e & 0x7FF;
        }
        for (unsigned len = kFast + 1; len <= 16; ++len) {
            uint32_t c = peek >> (16 - len);
            if (c >= first_[len] && c - first_[len] < count_[len]) {
                br.Skip(len);
                return sorted_[offset_[len] + (c - first_[len])];
            }
        }
        throw LhaError("invalid Huffman code");
    }

private:
    static constexpr unsigned kFast = 10;
    bool single_ = true;
    unsigned symbol_ = 0;
    std::vector<uint8_t> lengths_;
    std::vector<uint16_t> table_, sorted_;
    std::array<uint32_t, 18> first_{}, count_{}, offset_{};
};

void ReadPtLengths(BitReader &br, Huffman &h, unsigned nsym, unsigned nbits, int special) {
    unsigned n = br.Get(nbits);
    if (n == 0) {
        unsigned c = br.Get(nbits);
        if (c >= nsym)
            throw LhaError("bad code table");
        h.SetSingle(c);
        return;
    }
    if (n > nsym)
        throw LhaError("bad code table size");
    std::array<uint8_t, 32> len{};
    unsigned i = 0;
    while (i < n) {
        unsigned c = br.Get(3);
        if (c == 7) {
            uint32_t mask = 1u << 12;
            uint32_t peek = br.Peek(13);
            while (mask && (peek & mask)) {
                mask >>= 1;
                ++c;
            }
            if (c > 16)
                throw LhaError("bad code length");
            br.Skip(c - 6);
        }
        len[i++] = static_cast<uint8_t>(c);
        if (static_cast<int>(i) == special) {
            unsigned z = br.Get(2);
            while (z-- > 0 && i < nsym)
                len[i++] = 0;
        }
    }
    h.Build(len.data(), nsym);
}

void ReadCLengths(BitReader &br, const Huffman &pt, Huffman &c) {
    unsigned n = br.Get(kCBits);
    if (n == 0) {
        unsigned s = br.Get(kCBits);
        if (s >= kNC)
            throw LhaError("bad literal table");
        c.SetSingle(s);
        return;
    }
    if (n > kNC)
        throw LhaError("bad literal table size");
    std::array<uint8_t, kNC> len{};
    unsigned i = 0;
    while (i < n) {
        unsigned k = pt.Decode(br);
        if (k <= 2) {
            unsigned run = k == 0 ? 1 : k == 1 ? br.Get(4) + 3 : br.Get(kCBits) + 20;
            if (i + run > n)
                throw LhaError("bad literal table run");
            i += run; // already zero
        } else {
            if (k - 2 > 16)
                throw LhaError("bad literal code length");
            len[i++] = static_cast<uint8_t>(k - 2);
        }
    }
    c.Build(len.data(), kNC);
}

uint16_t DecodeHuffman(unsigned dicbits, InStream &in, uint64_t packed, uint64_t orig,
                       OutStream &out) {
    const unsigned np = dicbits + 1;
    const unsigned pbits = dicbits == 13 ? 4 : 5;
    BitReader br(in, packed);
    Window w(dicbits, out, ' ');
    Huffman pt, c, p;
    uint64_t done = 0;
    unsigned blockLeft = 0;
    while (done < orig) {
        if (blockLeft == 0) {
            blockLeft = br.Get(16);
            if (blockLeft == 0)
                throw LhaError("empty block in compressed data");
            ReadPtLengths(br, pt, kNT, kTBits, 3);
            ReadCLengths(br, pt, c);
            ReadPtLengths(br, p, np, pbits, -1);
        }
        --blockLeft;
        unsigned sym = c.Decode(br);
        if (sym < 256) {
            w.Put(static_cast<uint8_t>(sym));
            ++done;
            continue;
        }
        unsigned len = sym - 256 + 3;
        unsigned j = p.Decode(br);
        unsigned dist = j == 0 ? 0 : (1u << (j - 1)) + br.Get(j - 1);
        if (len > orig - done)
            throw LhaError("match runs past the end of the entry");
        w.Copy(w.Pos() - dist - 1, len);
        done += len;
    }
    w.Finish();
    return w.crc;
}

// -lzs- (LArc): a flag bit, then a literal byte or an 11-bit position and a 4-bit length.
uint16_t DecodeLzs(InStream &in, uint64_t packed, uint64_t orig, OutStream &out) {
    BitReader br(in, packed);
    Window w(11, out, ' ');
    w.SetPos(2048 - 17);
    uint64_t done = 0;
    while (done < orig) {
        if (br.Get(1)) {
            w.Put(static_cast<uint8_t>(br.Get(8)));
            ++done;
        } else {
            unsigned pos = br.Get(11);
            unsigned len = br.Get(4) + 2;
            if (len > orig - done)
                throw LhaError("match runs past the end of the entry");
            w.Copy(pos, len);
            done += len;
        }
    }
    w.Finish();
    return w.crc;
}

// -lz5- (LArc): flag bytes for eight commands each, literal bytes or 12-bit position + 4-bit
// length; the dictionary starts with LArc's fixed pattern.
uint16_t DecodeLz5(InStream &in, uint64_t packed, uint64_t orig, OutStream &out) {
    ByteReader br(in, packed);
    Window w(12, out, 0);
    uint8_t *d = w.Data();
    size_t k = 0;
    for (unsigned i = 0; i < 256; ++i)
        for (unsigned j = 0; j < 13; ++j)
            d[k++] = static_cast<uint8_t>(i);
    for (unsigned i = 0; i < 256; ++i)
        d[k++] = static_cast<uint8_t>(i);
    for (unsigned i = 0; i < 256; ++i)
        d[k++] = static_cast<uint8_t>(255 - i);
    k += 128; // zeros
    for (unsigned i = 0; i < 110; ++i)
        d[k++] = ' ';
    w.SetPos(4096 - 18);
    uint64_t done = 0;
    auto next = [&br]() {
        uint8_t b = 0;
        if (!br.Byte(b))
            throw LhaError("compressed data is truncated");
        return b;
    };
    while (done < orig) {
        uint8_t flags = next();
        for (int bit = 0; bit < 8 && done < orig; ++bit) {
            if (flags & (1u << bit)) {
                w.Put(next());
                ++done;
            } else {
                unsigned b0 = next(), b1 = next();
                unsigned pos = ((b1 & 0xF0u) << 4) | b0;
                unsigned len = (b1 & 0x0Fu) + 3;
                if (len > orig - done)
                    throw LhaError("match runs past the end of the entry");
                w.Copy(pos, len);
                done += len;
            }
        }
    }
    w.Finish();
    return w.crc;
}

// ARJ method 4: a length with a unary prefix (0 for a literal byte) and a distance with a unary
// prefix; no Huffman codes. Lengths run to 256, distances to 15,871.
unsigned PrefixedValue(BitReader &br, unsigned firstWidth, unsigned lastWidth) {
    unsigned plus = 0, width = firstWidth;
    for (; width < lastWidth; ++width) {
        if (br.Get(1) == 0)
            break;
        plus += 1u << width;
    }
    return plus + br.Get(width);
}

uint16_t DecodeArjFastest(InStream &in, uint64_t packed, uint64_t orig, OutStream &out) {
    BitReader br(in, packed);
    Window w(15, out, 0);
    uint64_t done = 0;
    while (done < orig) {
        unsigned c = PrefixedValue(br, 0, 7);
        if (c == 0) {
            w.Put(static_cast<uint8_t>(br.Get(8)));
            ++done;
            continue;
        }
        unsigned len = c + 2;
        unsigned dist = PrefixedValue(br, 9, 13);
        if (len > orig - done)
            throw LhaError("match runs past the end of the entry");
        w.Copy(w.Pos() - dist - 1, len);
        done += len;
    }
    w.Finish();
    return w.crc;
}

uint16_t CopyStored(InStream &in, uint64_t packed, uint64_t orig, OutStream &out) {
    // Stored data is the file itself: any other packed size is a lying header.
    if (packed < orig)
        throw LhaError("stored entry is shorter than its size");
    if (packed > orig)
        throw LhaError("stored entry is longer than its size");
    std::vector<uint8_t> buf(65536);
    uint16_t crc = 0;
    uint64_t left = orig;
    while (left > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(left, buf.size()));
        size_t got = in.Read(buf.data(), want);
        if (got == 0)
            throw LhaError("the archive ends inside an entry's data");
        crc = Crc16(crc, buf.data(), got);
        out.Write(buf.data(), got);
        left -= got;
    }
    return crc;
}

} // namespace

uint16_t Crc16(uint16_t crc, const uint8_t *p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kCrc.t[(crc ^ p[i]) & 0xFF]);
    return crc;
}

Method MethodFromId(std::string_view id) {
    static const struct {
        const char *id;
        Method m;
    } kIds[] = {{"-lh0-", Method::Lh0}, {"-lh5-", Method::Lh5}, {"-lh6-", Method::Lh6},
                {"-lh7-", Method::Lh7}, {"-lzs-", Method::Lzs}, {"-lz5-", Method::Lz5},
                {"-lz4-", Method::Lz4}, {"-lhd-", Method::Dir}};
    for (const auto &e : kIds)
        if (id == e.id)
            return e.m;
    return Method::Unknown;
}

const char *MethodId(Method m) {
    switch (m) {
    case Method::Lh0:
        return "-lh0-";
    case Method::Lh5:
        return "-lh5-";
    case Method::Lh6:
        return "-lh6-";
    case Method::Lh7:
        return "-lh7-";
    case Method::Lzs:
        return "-lzs-";
    case Method::Lz5:
        return "-lz5-";
    case Method::Lz4:
        return "-lz4-";
    case Method::Dir:
        return "-lhd-";
    case Method::Unknown:
        break;
    }
    return "";
}

bool IsSupported(Method m) {
    return m != Method::Unknown;
}

uint16_t Decode(Method m, InStream &in, uint64_t packedSize, uint64_t origSize, OutStream &out) {
    switch (m) {
    case Method::Lh0:
    case Method::Lz4:
        return CopyStored(in, packedSize, origSize, out);
    case Method::Lh5:
        return DecodeHuffman(13, in, packedSize, origSize, out);
    case Method::Lh6:
        return DecodeHuffman(15, in, packedSize, origSize, out);
    case Method::Lh7:
        return DecodeHuffman(16, in, packedSize, origSize, out);
    case Method::Lzs:
        return DecodeLzs(in, packedSize, origSize, out);
    case Method::Lz5:
        return DecodeLz5(in, packedSize, origSize, out);
    case Method::Dir:
        if (origSize != 0)
            throw LhaError("folder entry with data");
        return 0;
    case Method::Unknown:
        break;
    }
    throw LhaError("unsupported compression method");
}

uint16_t DecodeArj(int method, InStream &in, uint64_t packedSize, uint64_t origSize,
                   OutStream &out) {
    switch (method) {
    case 0:
        return CopyStored(in, packedSize, origSize, out);
    case 1:
    case 2:
    case 3:
        return DecodeHuffman(16, in, packedSize, origSize, out);
    case 4:
        return DecodeArjFastest(in, packedSize, origSize, out);
    default:
        break;
    }
    throw LhaError("unsupported ARJ method " + std::to_string(method));
}

} // namespace lha
