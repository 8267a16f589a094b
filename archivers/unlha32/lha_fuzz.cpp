// libFuzzer target: arbitrary bytes through the LHA reader and every decoder. Anything but a
// clean LhaError (a crash, a leak, a hang, another exception) is a finding.
#include "LhaArchive.h"

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
    lha::MemoryIn in(data, size);
    lha::Reader reader(in);
    lha::Entry e;
    try {
        while (reader.Next(e)) {
            // Sizes come from the input; keep a run short while still decoding real data.
            if (e.originalSize > (16u << 20))
                continue;
            Sink sink;
            try {
                reader.Extract(sink);
            } catch (const lha::LhaError &) {
            }
        }
    } catch (const lha::LhaError &) {
    }
    return 0;
}
