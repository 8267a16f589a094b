// libFuzzer target: arbitrary bytes through the ARJ reader and its decoders. Anything but a clean
// ArjError (a crash, a leak, a hang, another exception) is a finding.
#include "ArjArchive.h"

#include <cstddef>
#include <cstdint>

namespace {

class Sink : public lha::OutStream {
public:
    void Write(const uint8_t *, size_t n) override { total += n; }
    uint64_t total = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    arj::MemoryIn in(data, size);
    try {
        arj::Reader reader(in);
        arj::Entry e;
        while (reader.Next(e)) {
            // Sizes come from the input; keep a run short while still decoding real data.
            if (e.originalSize > (1u << 20))
                continue;
            Sink sink;
            try {
                reader.Extract(sink);
            } catch (const arj::ArjError &) {
            }
        }
    } catch (const arj::ArjError &) {
    }
    return 0;
}
