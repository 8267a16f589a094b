// The static-Huffman block format behind -lh5-, -lh6- and -lh7-: its symbol sets and the
// canonical code assignment, one definition for the encoder and the decoder.
#pragma once

#include <array>
#include <cstdint>

namespace lha {

constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 256;
constexpr unsigned kNC = 256 + kMaxMatch - kMinMatch + 1; // literals and match lengths: 510
constexpr unsigned kNT = 19;                              // the code-length code's symbols
constexpr unsigned kTBits = 5;                            // bits of the count of kNT lengths
constexpr unsigned kCBits = 9;                            // bits of the count of kNC lengths
constexpr unsigned kMaxCodeLen = 16;

using CodeCounts = std::array<uint32_t, kMaxCodeLen + 2>;

// The first code of each length 1..16, given how many symbols have each length (count[0] is
// ignored): codes go in order of length, then symbol.
inline CodeCounts FirstCodes(const CodeCounts &count) {
    CodeCounts first{};
    uint32_t code = 0;
    for (unsigned len = 1; len <= kMaxCodeLen; ++len) {
        code = (code + (len == 1 ? 0 : count[len - 1])) << 1;
        first[len] = code;
    }
    return first;
}

// The code of every symbol with a length (code lengths at most kMaxCodeLen).
inline void MakeCodes(const uint8_t *len, unsigned n, uint16_t *code) {
    CodeCounts count{};
    for (unsigned i = 0; i < n; ++i)
        ++count[len[i]];
    CodeCounts next = FirstCodes(count);
    for (unsigned i = 0; i < n; ++i)
        if (len[i])
            code[i] = static_cast<uint16_t>(next[len[i]]++);
}

} // namespace lha
