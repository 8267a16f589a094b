// The LHA codec on its own: encoder and decoders round trip, damaged data fails cleanly, names in
// code page 932 keep their 0x5C trail bytes, and the fuzz corpus replays through the reader.
#include "LhaArchive.h"
#include "bench/lha/Corpus.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

class VecIn : public lha::InStream {
public:
    explicit VecIn(const std::vector<uint8_t> &d, size_t chunk = 1000) : d_(d), chunk_(chunk) {}
    size_t Read(uint8_t *buf, size_t n) override {
        n = std::min({n, d_.size() - pos_, chunk_});
        std::copy_n(d_.data() + pos_, n, buf);
        pos_ += n;
        return n;
    }

private:
    const std::vector<uint8_t> &d_;
    size_t chunk_;
    size_t pos_ = 0;
};

class VecOut : public lha::OutStream {
public:
    void Write(const uint8_t *p, size_t n) override { data.insert(data.end(), p, p + n); }
    std::vector<uint8_t> data;
};

std::vector<uint8_t> Bytes(const std::string &s) {
    return {s.begin(), s.end()};
}

struct RoundTrip {
    const char *what;
    std::vector<uint8_t> data;
    bool shrinks;
};

class Lh5RoundTrip : public ::testing::TestWithParam<int> {};

std::vector<RoundTrip> Cases() {
    lhabench::Rng rng(7);
    std::vector<uint8_t> noise;
    lhabench::AppendNoise(noise, rng, 70000);
    std::vector<uint8_t> zeros(300000, 0);
    std::vector<uint8_t> period; // matches at exactly the window's reach
    for (int i = 0; i < 40000; ++i)
        period.push_back(static_cast<uint8_t>((i % 8192) * 7 + (i / 8192 == 2 ? 1 : 0)));
    std::vector<uint8_t> blocks; // more symbols than one block holds, every length used
    for (int len = 3; len <= 300; ++len)
        for (int i = 0; i < len; ++i)
            blocks.push_back(static_cast<uint8_t>("abcdefgh"[i % 8] + (len % 3)));
    return {
        {"empty", {}, false},
        {"one byte", {0x41}, false},
        {"short text", Bytes("abcabcabcabcabcabcabcabcabcabcabcabcabc"), true},
        {"noise", noise, false},
        {"zeros", zeros, true},
        {"window edge", period, true},
        {"all lengths", blocks, true},
        {"mixed", lhabench::MixedData(1 << 20, 3), true},
    };
}

TEST_P(Lh5RoundTrip, DecodesToTheInput) {
    const RoundTrip c = Cases()[static_cast<size_t>(GetParam())];
    SCOPED_TRACE(c.what);
    VecIn in(c.data);
    VecOut packed;
    lha::EncodeResult r = lha::EncodeLh5(in, packed, c.data.size());
    EXPECT_EQ(r.compressed, c.shrinks);
    if (!r.compressed)
        return;
    EXPECT_EQ(r.originalSize, c.data.size());
    EXPECT_EQ(r.packedSize, packed.data.size());
    EXPECT_LT(r.packedSize, c.data.size());
    EXPECT_EQ(r.crc, lha::Crc16(0, c.data.data(), c.data.size()));
    VecIn pin(packed.data, 777);
    VecOut out;
    uint16_t crc = lha::Decode(lha::Method::Lh5, pin, packed.data.size(), c.data.size(), out);
    EXPECT_EQ(crc, r.crc);
    EXPECT_TRUE(out.data == c.data);
}

INSTANTIATE_TEST_SUITE_P(Cases, Lh5RoundTrip, ::testing::Range(0, 8));

TEST(Lh5Encoder, StopsEarlyOnceTheOutputReachesTheLimit) {
    lhabench::Rng rng(11);
    std::vector<uint8_t> noise;
    lhabench::AppendNoise(noise, rng, 2 << 20);
    VecIn in(noise);
    VecOut packed;
    lha::EncodeResult r = lha::EncodeLh5(in, packed, noise.size());
    EXPECT_FALSE(r.compressed);
    // It gave up soon after passing the limit instead of compressing all of it.
    EXPECT_LT(packed.data.size(), noise.size() + 64 * 1024);
}

TEST(Lh5Decoder, DamagedDataFailsWithAnErrorNotACrash) {
    std::vector<uint8_t> data = lhabench::MixedData(200000, 5);
    VecIn in(data);
    VecOut packed;
    ASSERT_TRUE(lha::EncodeLh5(in, packed, data.size()).compressed);
    lhabench::Rng rng(99);
    int failures = 0;
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> bad = packed.data;
        if (round % 4 == 0)
            bad.resize(bad.size() / 2); // truncated
        else
            for (int k = 0; k < 3; ++k)
                bad[rng.Below(static_cast<uint32_t>(bad.size()))] ^=
                    static_cast<uint8_t>(1 + rng.Below(255));
        VecIn bin(bad);
        VecOut out;
        try {
            uint16_t crc = lha::Decode(lha::Method::Lh5, bin, bad.size(), data.size(), out);
            if (crc != lha::Crc16(0, data.data(), data.size()))
                ++failures;
        } catch (const lha::LhaError &) {
            ++failures;
        }
        EXPECT_LE(out.data.size(), data.size());
    }
    EXPECT_EQ(failures, 200);
}

// -lzs- and -lz5- streams written by hand from the LArc layout: literals, then a copy.
TEST(LarcDecoders, LiteralsAndCopies) {
    // -lzs-: flag 1 + 8 bits per literal; flag 0 + 11-bit position + 4-bit length-2. The ring
    // starts at 2048-17, so "abc" sits at 2031..2033; copy 4 bytes from 2031 gives "abca".
    std::vector<int> bits;
    auto put = [&](unsigned v, int n) {
        for (int i = n - 1; i >= 0; --i)
            bits.push_back((v >> i) & 1);
    };
    for (char c : std::string("abc")) {
        put(1, 1);
        put(static_cast<unsigned char>(c), 8);
    }
    put(0, 1);
    put(2031, 11);
    put(4 - 2, 4);
    std::vector<uint8_t> lzs((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        if (bits[i])
            lzs[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    VecIn in(lzs);
    VecOut out;
    lha::Decode(lha::Method::Lzs, in, lzs.size(), 7, out);
    EXPECT_EQ(std::string(out.data.begin(), out.data.end()), "abcabca");

    // -lz5-: a flag byte (bit set = literal), three literals at the ring position 4096-18, a
    // copy of 5 from there, then a copy of 3 from the initial dictionary, which holds 13 copies
    // of each byte value from position 0 (so 13 * 'x' starts a run of 'x').
    const unsigned run = 13 * 'x';
    std::vector<uint8_t> lz5 = {0x07,
                                'x',
                                'y',
                                'z',
                                0xEE,
                                0xF2,
                                static_cast<uint8_t>(run & 0xFF),
                                static_cast<uint8_t>((run >> 4) & 0xF0)};
    VecIn in5(lz5);
    VecOut out5;
    lha::Decode(lha::Method::Lz5, in5, lz5.size(), 11, out5);
    EXPECT_EQ(std::string(out5.data.begin(), out5.data.end()), "xyzxyzxyxxx");
}

std::vector<uint8_t> ReadFile(const std::filesystem::path &p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

TEST(LhaHeader, CodePage932NamesKeepTheirTrailBytes) {
    auto data =
        ReadFile(std::filesystem::path(LHA_TEST_DATA) / "test_read_format_lha_filename_cp932.lzh");
    ASSERT_FALSE(data.empty());
    lha::MemoryIn in(data.data(), data.size());
    lha::Reader reader(in);
    lha::Entry e;
    std::vector<std::string> names;
    while (reader.Next(e))
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"漢字.txt", "表.txt"}));
}

TEST(LhaHeader, Level2HeaderRoundTrips) {
    lha::NewEntry ne;
    ne.name = "フォルダ/sub/表.txt";
    ne.mtime = 1700000000;
    ne.unixMode = 0640;
    std::vector<uint8_t> data = Bytes("hello");
    auto h =
        lha::BuildLevel2Header(ne, lha::Method::Lh0, 5, 5, lha::Crc16(0, data.data(), 5), false);
    EXPECT_NE(h.size() & 0xFF, 0u);
    std::vector<uint8_t> arc = h;
    arc.insert(arc.end(), data.begin(), data.end());
    arc.push_back(0);
    lha::MemoryIn in(arc.data(), arc.size());
    lha::Reader reader(in);
    lha::Entry e;
    ASSERT_TRUE(reader.Next(e));
    EXPECT_EQ(e.name, ne.name);
    EXPECT_EQ(e.level, 2);
    EXPECT_EQ(e.osId, 'U');
    EXPECT_EQ(e.mtime, ne.mtime);
    EXPECT_EQ(*e.unixMode & 0777, 0640u);
    VecOut out;
    reader.Extract(out);
    EXPECT_EQ(out.data, data);
    EXPECT_FALSE(reader.Next(e));

    // A changed header byte is caught by the header CRC.
    std::vector<uint8_t> bad = arc;
    bad[16] ^= 1;
    lha::MemoryIn bin(bad.data(), bad.size());
    lha::Reader breader(bin);
    EXPECT_THROW(breader.Next(e), lha::LhaError);
}

// Every input of the fuzz corpus goes through the reader without a crash or a hang; what it
// throws is only LhaError.
TEST(LhaFuzzCorpus, Replays) {
    auto dir = std::filesystem::path(LHA_TEST_DATA) / "fuzz-corpus";
    size_t n = 0;
    for (const auto &f : std::filesystem::directory_iterator(dir)) {
        auto data = ReadFile(f.path());
        lha::MemoryIn in(data.data(), data.size());
        lha::Reader reader(in);
        lha::Entry e;
        try {
            while (reader.Next(e)) {
                VecOut out;
                try {
                    if (e.originalSize < (64u << 20))
                        reader.Extract(out);
                } catch (const lha::LhaError &) {
                }
            }
        } catch (const lha::LhaError &) {
        }
        ++n;
    }
    EXPECT_GT(n, 0u);
}

} // namespace
