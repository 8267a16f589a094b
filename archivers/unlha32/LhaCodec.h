// The LHA data codecs: decoders for the methods found in the wild (-lh0-, -lh5-, -lh6-, -lh7-,
// -lzs-, -lz5-, -lz4-, and ARJ's methods 0 to 4) and the -lh5- encoder. Everything streams through
// InStream/OutStream, so memory stays flat whatever the entry's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lha {

// Corrupt or unsupported data. The message says what was wrong.
class LhaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class InStream {
public:
    virtual ~InStream() = default;
    // Up to n bytes; 0 only at the end of the stream.
    virtual size_t Read(uint8_t *buf, size_t n) = 0;
};

class OutStream {
public:
    virtual ~OutStream() = default;
    virtual void Write(const uint8_t *buf, size_t n) = 0;
};

// CRC-16 of the archive format (polynomial 0xA001 reflected, initial value 0).
uint16_t Crc16(uint16_t crc, const uint8_t *p, size_t n);

enum class Method { Lh0, Lh5, Lh6, Lh7, Lzs, Lz5, Lz4, Dir, Unknown };

Method MethodFromId(std::string_view id); // "-lh5-" and so on
const char *MethodId(Method m);
// True for the methods the decoders handle (the folder method included).
bool IsSupported(Method m);

// Decodes an entry's data: reads at most packedSize bytes from in and writes exactly origSize
// bytes to out. Returns the CRC-16 of what was written. Throws LhaError on corrupt data.
uint16_t Decode(Method m, InStream &in, uint64_t packedSize, uint64_t origSize, OutStream &out);

// ARJ's methods, which our ARJ reader shares with this codec: 0 stored, 1 to 3 the -lh7- block
// format (ARJ keeps its matches within 26,624 bytes, which the 64 KiB window of -lh7- holds), 4
// ARJ's own fastest scheme. Same contract as Decode; LhaError for any other method.
uint16_t DecodeArj(int method, InStream &in, uint64_t packedSize, uint64_t origSize,
                   OutStream &out);

struct EncodeResult {
    bool compressed = false; // false: the data did not shrink, nothing usable was written
    uint64_t originalSize = 0;
    uint64_t packedSize = 0;
    uint16_t crc = 0; // of all the data read
};

// Compresses all of in as -lh5- into out. Stops early, with compressed false, as soon as the output
// would reach limit bytes (the caller then stores the data instead); in has then been read only
// partly, and out holds an unusable prefix.
EncodeResult EncodeLh5(InStream &in, OutStream &out, uint64_t limit);

} // namespace lha
