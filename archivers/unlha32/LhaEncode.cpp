// The -lh5- encoder: LZSS over an 8 KiB window, found with hash chains and lazy matching, coded
// in blocks with static Huffman tables (literal/length, position-bit-count and the table of
// code lengths), most significant bit first.
#include "LhaCodec.h"
#include "LhaHuffman.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace lha {

namespace {

constexpr unsigned kDicBits = 13;
constexpr int kWindow = 1 << kDicBits; // largest distance + 1
constexpr unsigned kNP = kDicBits + 1; // 14
constexpr unsigned kPBits = 4;

constexpr int kBufSize = 1 << 17;
constexpr int kHashBits = 15;
constexpr int kPrevSize = 1 << 14; // twice the window: an entry lives until its match is too far
constexpr int kNil = -1;

// Lazy-matching knobs, tuned on a mixed corpus (bench/lha): longer chains than deflate's middle
// level buy back part of what the small window loses; small blocks let the tables follow the data.
constexpr unsigned kMaxChain = 256;
constexpr unsigned kGoodMatch = 32;
constexpr unsigned kMaxLazy = 64;
constexpr unsigned kNiceMatch = 256;

constexpr unsigned kBlockSymbols = 8192;

class BitWriter {
public:
    explicit BitWriter(OutStream &out) : out_(out) { buf_.reserve(kFlushAt + 16); }
    void Put(unsigned n, uint32_t v) { // n <= 24
        acc_ = (acc_ << n) | (v & ((1u << n) - 1));
        count_ += n;
        while (count_ >= 8) {
            count_ -= 8;
            buf_.push_back(static_cast<uint8_t>(acc_ >> count_));
        }
        if (buf_.size() >= kFlushAt)
            Flush();
    }
    void Finish() {
        if (count_ > 0)
            Put(8 - count_, 0);
        Flush();
    }
    uint64_t Written() const { return written_ + buf_.size(); }

private:
    void Flush() {
        out_.Write(buf_.data(), buf_.size());
        written_ += buf_.size();
        buf_.clear();
    }
    static constexpr size_t kFlushAt = 1 << 16;
    OutStream &out_;
    std::vector<uint8_t> buf_;
    uint64_t acc_ = 0;
    unsigned count_ = 0;
    uint64_t written_ = 0;
};

// Code lengths (at most 16 bits) for the given frequencies. Returns the number of used symbols;
// with fewer than two every length stays 0 and the caller writes the single-symbol form.
unsigned MakeLengths(const uint32_t *freq, unsigned n, uint8_t *len) {
    std::fill(len, len + n, 0);
    struct Leaf {
        uint32_t f;
        uint16_t s;
    };
    std::array<Leaf, kNC> leaves;
    unsigned m = 0;
    for (unsigned i = 0; i < n; ++i)
        if (freq[i])
            leaves[m++] = {freq[i], static_cast<uint16_t>(i)};
    if (m < 2)
        return m;
    std::sort(leaves.begin(), leaves.begin() + m,
              [](const Leaf &a, const Leaf &b) { return a.f != b.f ? a.f < b.f : a.s < b.s; });
    // Two-queue Huffman: nodes 0..m-1 are the leaves, m.. the inner nodes in creation order.
    std::array<uint64_t, 2 * kNC> weight{};
    std::array<int, 2 * kNC> parent{};
    for (unsigned i = 0; i < m; ++i)
        weight[i] = leaves[i].f;
    unsigned leafNext = 0, innerNext = m, innerEnd = m;
    auto pick = [&]() {
        if (leafNext < m && (innerNext == innerEnd || weight[leafNext] <= weight[innerNext]))
            return leafNext++;
        return innerNext++;
    };
    for (unsigned k = 0; k < m - 1; ++k) {
        unsigned a = pick(), b = pick();
        weight[innerEnd] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<int>(innerEnd);
        ++innerEnd;
    }
    // Depths, root last.
    std::array<unsigned, 2 * kNC> depth{};
    depth[innerEnd - 1] = 0;
    for (int i = static_cast<int>(innerEnd) - 2; i >= 0; --i)
        depth[i] = depth[parent[i]] + 1;
    std::array<unsigned, 64> count{};
    for (unsigned i = 0; i < m; ++i)
        ++count[std::min<unsigned>(depth[i], kMaxCodeLen + 1)];
    // Fold everything deeper than the limit into the limit and repair the Kraft sum.
    for (unsigned d = kMaxCodeLen + 1; d < 64; ++d) {
        count[kMaxCodeLen] += count[d];
        count[d] = 0;
    }
    uint64_t kraft = 0;
    for (unsigned d = 1; d <= kMaxCodeLen; ++d)
        kraft += uint64_t{count[d]} << (kMaxCodeLen - d);
    while (kraft > (uint64_t{1} << kMaxCodeLen)) {
        --count[kMaxCodeLen];
        for (unsigned d = kMaxCodeLen - 1; d > 0; --d)
            if (count[d]) {
                --count[d];
                count[d + 1] += 2;
                break;
            }
        --kraft;
    }
    // Leaves are in ascending frequency: the rarest get the longest codes.
    unsigned i = 0;
    for (unsigned d = kMaxCodeLen; d >= 1; --d)
        for (unsigned k = 0; k < count[d]; ++k)
            len[leaves[i++].s] = static_cast<uint8_t>(d);
    return m;
}

class Lh5Encoder {
public:
    Lh5Encoder(InStream &in, OutStream &out, uint64_t limit)
        : in_(in), bw_(out), limit_(limit), buf_(kBufSize + kMaxMatch + 16, 0),
          head_(size_t{1} << kHashBits, kNil), prev_(kPrevSize, kNil) {}

    EncodeResult Run() {
        EncodeResult r;
        Fill();
        unsigned matchLen = kMinMatch - 1, prevLen;
        int matchPos = 0, prevPos;
        bool pending = false; // a literal at pos_-1 not yet emitted
        while (end_ > pos_) {
            if (end_ - pos_ < static_cast<int>(kMaxMatch + 1) && !eof_) {
                Slide(matchPos);
                Fill();
            }
            const int look = end_ - pos_;
            int cand = kNil;
            if (look >= static_cast<int>(kMinMatch))
                cand = Insert(pos_);
            prevLen = matchLen;
            prevPos = matchPos;
            matchLen = kMinMatch - 1;
            if (cand != kNil && prevLen < kMaxLazy && pos_ - cand <= kWindow) {
                matchLen = Longest(cand, prevLen, static_cast<unsigned>(look), matchPos);
            }
            if (prevLen >= kMinMatch && matchLen <= prevLen) {
                EmitMatch(prevLen, pos_ - 1 - prevPos - 1);
                // Positions inside the match go into the chains too; pos_ already is.
                int last = pos_ - 1 + static_cast<int>(prevLen) - 1;
                for (int p = pos_ + 1; p <= last; ++p)
                    if (end_ - p >= static_cast<int>(kMinMatch))
                        Insert(p);
                pos_ = last + 1;
                pending = false;
                matchLen = kMinMatch - 1;
            } else if (pending) {
                EmitLiteral(buf_[pos_ - 1]);
                ++pos_;
            } else {
                pending = true;
                ++pos_;
            }
            if (aborted_)
                return r;
        }
        if (pending)
            EmitLiteral(buf_[pos_ - 1]);
        if (nsym_ > 0)
            SendBlock();
        if (aborted_)
            return r;
        bw_.Finish();
        r.packedSize = bw_.Written();
        r.originalSize = total_;
        r.crc = crc_;
        r.compressed = r.packedSize < limit_;
        return r;
    }

private:
    void Fill() {
        while (!eof_ && end_ < kBufSize) {
            size_t got = in_.Read(buf_.data() + end_, static_cast<size_t>(kBufSize - end_));
            if (got == 0) {
                eof_ = true;
                break;
            }
            crc_ = Crc16(crc_, buf_.data() + end_, got);
            end_ += static_cast<int>(got);
            total_ += got;
        }
    }

    // Moves the window down by a multiple of the chain table size, so chain slots keep their
    // positions modulo that size.
    void Slide(int &matchPos) {
        int shift = (pos_ - kWindow - 1) & ~(kPrevSize - 1);
        if (shift <= 0)
            return;
        matchPos -= shift;
        std::memmove(buf_.data(), buf_.data() + shift, static_cast<size_t>(end_ - shift));
        end_ -= shift;
        pos_ -= shift;
        for (auto &h : head_)
            h = h >= shift ? h - shift : kNil;
        for (auto &p : prev_)
            p = p >= shift ? p - shift : kNil;
    }

    static uint32_t Hash(const uint8_t *p) {
        uint32_t v = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    // Puts position p at the head of its chain; returns the previous head.
    int Insert(int p) {
        uint32_t h = Hash(buf_.data() + p);
        int old = head_[h];
        prev_[p & (kPrevSize - 1)] = old;
        head_[h] = p;
        return old;
    }

    unsigned Longest(int cand, unsigned prevLen, unsigned look, int &bestPos) {
        const uint8_t *base = buf_.data();
        const uint8_t *scan = base + pos_;
        unsigned maxLen = std::min(kMaxMatch, look);
        unsigned best = std::max(prevLen, kMinMatch - 1);
        unsigned chain = prevLen >= kGoodMatch ? kMaxChain / 4 : kMaxChain;
        const int limit = pos_ - kWindow;
        if (best >= maxLen)
            return kMinMatch - 1;
        unsigned found = kMinMatch - 1;
        while (cand != kNil && cand >= limit && chain-- > 0) {
            const uint8_t *m = base + cand;
            if (m[best] == scan[best] && m[0] == scan[0] && m[1] == scan[1]) {
                unsigned len = 2;
                while (len < maxLen) {
                    uint64_t a, b;
                    std::memcpy(&a, m + len, 8);
                    std::memcpy(&b, scan + len, 8);
                    uint64_t x = a ^ b;
                    if (x) {
                        len += static_cast<unsigned>(__builtin_ctzll(x) >> 3);
                        break;
                    }
                    len += 8;
                }
                len = std::min(len, maxLen);
                if (len > best) {
                    best = len;
                    found = len;
                    bestPos = cand;
                    if (len >= kNiceMatch || len >= maxLen)
                        break;
                }
            }
            cand = prev_[cand & (kPrevSize - 1)];
        }
        return found;
    }

    void EmitLiteral(uint8_t b) {
        csym_[nsym_] = b;
        ++cfreq_[b];
        ++nsym_;
        if (nsym_ == kBlockSymbols)
            SendBlock();
    }

    // dist is the distance minus one, as the format counts it.
    void EmitMatch(unsigned len, int dist) {
        unsigned c = 256 + len - kMinMatch;
        csym_[nsym_] = static_cast<uint16_t>(c);
        dist_[nsym_] = static_cast<uint16_t>(dist);
        ++cfreq_[c];
        ++pfreq_[PSym(static_cast<unsigned>(dist))];
        ++nsym_;
        if (nsym_ == kBlockSymbols)
            SendBlock();
    }

    static unsigned PSym(unsigned d) { return d == 0 ? 0 : 32 - __builtin_clz(d); }

    void WritePtLengths(const uint8_t *len, unsigned n, unsigned nbits, int special) {
        while (n > 0 && len[n - 1] == 0)
            --n;
        bw_.Put(nbits, n);
        unsigned i = 0;
        while (i < n) {
            unsigned k = len[i++];
            if (k <= 6)
                bw_.Put(3, k);
            else
                bw_.Put(k - 3, (1u << (k - 3)) - 2);
            if (static_cast<int>(i) == special) {
                while (i < 6 && i < n && len[i] == 0)
                    ++i;
                bw_.Put(2, (i - 3) & 3);
            }
        }
    }

    // Runs of zero lengths in the literal table, as the table-of-lengths code sees them.
    template <class F> void WalkCLengths(unsigned n, F &&emit) {
        unsigned i = 0;
        while (i < n) {
            unsigned k = clen_[i++];
            if (k != 0) {
                emit(k + 2, 0, 0);
                continue;
            }
            unsigned run = 1;
            while (i < n && clen_[i] == 0) {
                ++i;
                ++run;
            }
            if (run <= 2) {
                for (unsigned j = 0; j < run; ++j)
                    emit(0, 0, 0);
            } else if (run <= 18) {
                emit(1, 4, run - 3);
            } else if (run == 19) {
                emit(0, 0, 0);
                emit(1, 4, 15);
            } else {
                emit(2, kCBits, run - 20);
            }
        }
    }

    void SendBlock() {
        bw_.Put(16, nsym_);
        unsigned used = MakeLengths(cfreq_.data(), kNC, clen_.data());
        if (used >= 2) {
            unsigned n = kNC;
            while (n > 0 && clen_[n - 1] == 0)
                --n;
            std::array<uint32_t, kNT> tfreq{};
            WalkCLengths(n, [&](unsigned t, unsigned, unsigned) { ++tfreq[t]; });
            std::array<uint8_t, kNT> tlen{};
            std::array<uint16_t, kNT> tcode{};
            unsigned tused = MakeLengths(tfreq.data(), kNT, tlen.data());
            if (tused >= 2) {
                MakeCodes(tlen.data(), kNT, tcode.data());
                WritePtLengths(tlen.data(), kNT, kTBits, 3);
            } else {
                unsigned only = static_cast<unsigned>(
                    std::find_if(tfreq.begin(), tfreq.end(), [](uint32_t f) { return f; }) -
                    tfreq.begin());
                bw_.Put(kTBits, 0);
                bw_.Put(kTBits, only);
            }
            bw_.Put(kCBits, n);
            WalkCLengths(n, [&](unsigned t, unsigned extraBits, unsigned extra) {
                bw_.Put(tlen[t], tcode[t]);
                if (extraBits)
                    bw_.Put(extraBits, extra);
            });
            MakeCodes(clen_.data(), kNC, ccode_.data());
        } else {
            unsigned only = static_cast<unsigned>(
                std::find_if(cfreq_.begin(), cfreq_.end(), [](uint32_t f) { return f; }) -
                cfreq_.begin());
            bw_.Put(kTBits, 0);
            bw_.Put(kTBits, 0);
            bw_.Put(kCBits, 0);
            bw_.Put(kCBits, only);
        }
        unsigned pused = MakeLengths(pfreq_.data(), kNP, plen_.data());
        if (pused >= 2) {
            MakeCodes(plen_.data(), kNP, pcode_.data());
            WritePtLengths(plen_.data(), kNP, kPBits, -1);
        } else {
            unsigned only = static_cast<unsigned>(
                std::find_if(pfreq_.begin(), pfreq_.end(), [](uint32_t f) { return f; }) -
                pfreq_.begin());
            if (only >= kNP)
                only = 0;
            bw_.Put(kPBits, 0);
            bw_.Put(kPBits, only);
        }
        for (unsigned i = 0; i < nsym_; ++i) {
            unsigned c = csym_[i];
            bw_.Put(clen_[c], ccode_[c]);
            if (c >= 256) {
                unsigned d = dist_[i];
                unsigned ps = PSym(d);
                bw_.Put(plen_[ps], pcode_[ps]);
                if (ps > 1)
                    bw_.Put(ps - 1, d);
            }
        }
        nsym_ = 0;
        cfreq_.fill(0);
        pfreq_.fill(0);
        if (bw_.Written() >= limit_)
            aborted_ = true;
    }

    InStream &in_;
    BitWriter bw_;
    uint64_t limit_;
    std::vector<uint8_t> buf_;
    std::vector<int> head_, prev_;
    int pos_ = 0, end_ = 0;
    bool eof_ = false, aborted_ = false;
    uint64_t total_ = 0;
    uint16_t crc_ = 0;

    std::array<uint16_t, kBlockSymbols> csym_{}, dist_{};
    unsigned nsym_ = 0;
    std::array<uint32_t, kNC> cfreq_{};
    std::array<uint32_t, kNP> pfreq_{};
    std::array<uint8_t, kNC> clen_{};
    std::array<uint16_t, kNC> ccode_{};
    std::array<uint8_t, kNP> plen_{};
    std::array<uint16_t, kNP> pcode_{};
};

} // namespace

EncodeResult EncodeLh5(InStream &in, OutStream &out, uint64_t limit) {
    auto enc = std::make_unique<Lh5Encoder>(in, out, limit);
    return enc->Run();
}

} // namespace lha
