// Replays the inputs of one fuzz target through its own entry point, compiled into this program:
// the target's seed corpus and every input that once made it fail (kept in tests/data/fuzz/ under
// the target's name). A crash, a sanitizer report or a failed check of the target ends the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs() {
    std::vector<fs::path> files;
    for (const char *dir : {REPLAY_CORPUS, REPLAY_FINDINGS}) {
        std::error_code ec;
        if (!fs::is_directory(dir, ec))
            continue;
        for (const auto &e : fs::directory_iterator(dir))
            if (e.is_regular_file())
                files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string Bytes(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Replay : public ::testing::TestWithParam<fs::path> {};

TEST_P(Replay, RunsCleanly) {
    const std::string data = Bytes(GetParam());
    ASSERT_FALSE(data.empty() && fs::file_size(GetParam()) != 0) << "cannot read " << GetParam();
    EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(data.data()), data.size()),
              0);
}

// The target must have seeds: an empty list would pass without testing anything.
TEST(ReplayCorpus, HasSeeds) {
    EXPECT_GE(Inputs().size(), 3u) << REPLAY_CORPUS;
}

std::string NameOf(const ::testing::TestParamInfo<fs::path> &info) {
    std::string name = std::to_string(info.index) + "_" + info.param.filename().string();
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, Replay, ::testing::ValuesIn(Inputs()), NameOf);

} // namespace
