// A deterministic mixed corpus for the LHA encoder: prose-like text, source-like text, structured
// binary records, a stretch of an executable-like table and incompressible noise, in the
// proportions of a typical desktop folder. The same seed gives the same bytes on every machine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace lhabench {

class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed ? seed : 1) {}
    uint64_t Next() { // xorshift64*
        s_ ^= s_ >> 12;
        s_ ^= s_ << 25;
        s_ ^= s_ >> 27;
        return s_ * 2685821657736338717ULL;
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

private:
    uint64_t s_;
};

inline void AppendProse(std::vector<uint8_t> &out, Rng &rng, size_t bytes) {
    static const std::array<const char *, 48> words = {
        "the",     "archive", "file",    "of",         "and",     "to",      "a",      "is",
        "in",      "that",    "for",     "with",       "entry",   "header",  "name",   "data",
        "size",    "folder",  "when",    "it",         "be",      "are",     "by",     "on",
        "library", "command", "switch",  "compressed", "method",  "window",  "time",   "written",
        "reads",   "writes",  "returns", "error",      "code",    "message", "user",   "each",
        "table",   "block",   "length",  "position",   "literal", "match",   "system", "option"};
    size_t end = out.size() + bytes;
    while (out.size() < end) {
        unsigned n = 6 + rng.Below(14);
        for (unsigned i = 0; i < n; ++i) {
            // Zipf-like: low indices far more often.
            uint32_t k = rng.Below(48);
            k = k * rng.Below(48) / 48;
            std::string w = words[k];
            if (i == 0)
                w[0] = static_cast<char>(w[0] - 'a' + 'A');
            out.insert(out.end(), w.begin(), w.end());
            out.push_back(i + 1 == n ? '.' : ' ');
        }
        out.push_back(rng.Below(4) == 0 ? '\n' : ' ');
    }
    out.resize(end);
}

inline void AppendSource(std::vector<uint8_t> &out, Rng &rng, size_t bytes) {
    static const std::array<const char *, 10> lines = {
        "    if (count > limit) {\n",
        "        return error;\n",
        "    }\n",
        "    for (int i = 0; i < n; ++i)\n",
        "        total += value[i];\n",
        "static int helper(const char *name, size_t size)\n",
        "{\n",
        "}\n",
        "    // keep the buffer flat\n",
        "    memcpy(dst + offset, src, length);\n"};
    size_t end = out.size() + bytes;
    unsigned id = 0;
    while (out.size() < end) {
        std::string l = lines[rng.Below(10)];
        if (rng.Below(5) == 0)
            l = "    int var" + std::to_string(id++ % 997) + " = " +
                std::to_string(rng.Below(100000)) + ";\n";
        out.insert(out.end(), l.begin(), l.end());
    }
    out.resize(end);
}

inline void AppendRecords(std::vector<uint8_t> &out, Rng &rng, size_t bytes) {
    size_t end = out.size() + bytes;
    uint32_t key = 1000;
    while (out.size() < end) {
        key += 1 + rng.Below(7);
        uint8_t rec[32] = {};
        for (int i = 0; i < 4; ++i)
            rec[i] = static_cast<uint8_t>(key >> (8 * i));
        rec[4] = static_cast<uint8_t>(rng.Below(4));
        uint32_t amount = rng.Below(50000);
        for (int i = 0; i < 4; ++i)
            rec[8 + i] = static_cast<uint8_t>(amount >> (8 * i));
        const char *tags[] = {"OK", "HOLD", "SENT", "VOID"};
        std::string t = tags[rec[4]];
        for (size_t i = 0; i < t.size(); ++i)
            rec[16 + i] = static_cast<uint8_t>(t[i]);
        out.insert(out.end(), rec, rec + sizeof rec);
    }
    out.resize(end);
}

inline void AppendCode(std::vector<uint8_t> &out, Rng &rng, size_t bytes) {
    // Instruction-like: a few opcodes with small operands and repeated addresses.
    static const uint8_t ops[][3] = {{0x48, 0x89, 0xC7}, {0x48, 0x8B, 0x45}, {0xE8, 0, 0},
                                     {0x0F, 0x1F, 0x44}, {0x31, 0xC0, 0},    {0xC3, 0, 0}};
    size_t end = out.size() + bytes;
    while (out.size() < end) {
        const uint8_t *op = ops[rng.Below(6)];
        out.insert(out.end(), op, op + 3);
        uint32_t v = rng.Below(8) == 0 ? rng.Below(1u << 20) : rng.Below(64) * 8;
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    out.resize(end);
}

inline void AppendNoise(std::vector<uint8_t> &out, Rng &rng, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(rng.Next() >> 56));
}

// About `bytes` of mixed content, in pieces of 16 to 256 KiB.
inline std::vector<uint8_t> MixedData(size_t bytes, uint64_t seed) {
    Rng rng(seed);
    std::vector<uint8_t> out;
    out.reserve(bytes);
    while (out.size() < bytes) {
        size_t piece = std::min<size_t>(bytes - out.size(), (16u << 10) + rng.Below(240u << 10));
        switch (rng.Below(10)) {
        case 0:
        case 1:
        case 2:
            AppendProse(out, rng, piece);
            break;
        case 3:
        case 4:
        case 5:
            AppendSource(out, rng, piece);
            break;
        case 6:
        case 7:
            AppendRecords(out, rng, piece);
            break;
        case 8:
            AppendCode(out, rng, piece);
            break;
        default:
            AppendNoise(out, rng, piece / 4);
            break;
        }
    }
    out.resize(bytes);
    return out;
}

} // namespace lhabench
