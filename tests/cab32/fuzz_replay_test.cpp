// Replays the cab_fuzz corpus (the fixtures and the inputs kept from fuzzing) through the fuzz
// target's own body: reading each as a cabinet and the writer round trip it describes.
#include "tests/archivers_common/ArchiverTestSupport.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

TEST(CabFuzzCorpus, EveryInputRunsClean) {
    const archtest::fs::path data = DATA_DIR;
    size_t inputs = 0;
    for (const auto &dir : {data, data / "corpus"})
        for (const auto &e : archtest::fs::directory_iterator(dir)) {
            if (!e.is_regular_file() || e.path().extension() == ".tsv" ||
                e.path().extension() == ".md")
                continue;
            SCOPED_TRACE(e.path().filename().string());
            std::string bytes = archtest::ReadFile(e.path());
            EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()),
                                             bytes.size()),
                      0);
            ++inputs;
        }
    EXPECT_GE(inputs, 11u);
}
