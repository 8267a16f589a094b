// The -lh5- encoder against gzip -6 on the same corpus, in one run.
//
// Corpus: by default a deterministic 24 MiB mix (bench/lha/Corpus.h: prose, source code,
// structured records, machine-code-like tables and a little noise) cut into files of 16 KiB to
// 4 MiB, so both compressors work file by file as archivers do. Files or folders named on the
// command line replace it (every regular file below them).
// gzip -6 is zlib's deflate at level 6 with the gzip wrapper, run in the same process, so neither
// side pays for starting a program.
// Goal: lh5 output at most 1.04 times gzip's and its time at most 1.5 times gzip's.
#include "LhaCodec.h"
#include "bench/lha/Corpus.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

class MemIn : public lha::InStream {
public:
    explicit MemIn(const std::vector<uint8_t> &d) : d_(d) {}
    size_t Read(uint8_t *buf, size_t n) override {
        n = std::min(n, d_.size() - pos_);
        std::copy_n(d_.data() + pos_, n, buf);
        pos_ += n;
        return n;
    }

private:
    const std::vector<uint8_t> &d_;
    size_t pos_ = 0;
};

class CountOut : public lha::OutStream {
public:
    void Write(const uint8_t *, size_t n) override { bytes += n; }
    uint64_t bytes = 0;
};

uint64_t Gzip6(const std::vector<uint8_t> &data, std::vector<uint8_t> &scratch) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    scratch.resize(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<Bytef *>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = scratch.data();
    z.avail_out = static_cast<uInt>(scratch.size());
    deflate(&z, Z_FINISH);
    uint64_t out = z.total_out;
    deflateEnd(&z);
    return out;
}

std::vector<std::vector<uint8_t>> DefaultCorpus() {
    std::vector<std::vector<uint8_t>> files;
    lhabench::Rng rng(2024);
    size_t total = 0;
    while (total < (24u << 20)) {
        size_t size = (16u << 10) + rng.Below(4u << 20);
        files.push_back(lhabench::MixedData(size, rng.Next()));
        total += size;
    }
    return files;
}

std::vector<std::vector<uint8_t>> CorpusFrom(int argc, char **argv) {
    namespace fs = std::filesystem;
    std::vector<std::vector<uint8_t>> files;
    auto add = [&](const fs::path &p) {
        std::ifstream f(p, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    };
    for (int i = 1; i < argc; ++i) {
        fs::path p = argv[i];
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            for (const auto &e : fs::recursive_directory_iterator(
                     p, fs::directory_options::skip_permission_denied, ec))
                if (e.is_regular_file(ec) && !e.is_symlink(ec))
                    add(e.path());
        } else if (fs::is_regular_file(p, ec)) {
            add(p);
        }
    }
    return files;
}

} // namespace

int main(int argc, char **argv) {
    auto files = argc > 1 ? CorpusFrom(argc, argv) : DefaultCorpus();
    uint64_t input = 0;
    for (const auto &f : files)
        input += f.size();
    using Clock = std::chrono::steady_clock;
    std::vector<uint8_t> scratch;
    double bestLh5 = 1e9, bestGz = 1e9;
    uint64_t lh5Bytes = 0, gzBytes = 0;
    // Best of three runs each, interleaved, to be fair on a busy machine.
    for (int round = 0; round < 3; ++round) {
        auto t0 = Clock::now();
        uint64_t lb = 0;
        for (const auto &f : files) {
            MemIn in(f);
            CountOut out;
            lha::EncodeResult r = lha::EncodeLh5(in, out, f.size());
            // As the archiver does: data that does not shrink is stored.
            lb += r.compressed ? r.packedSize : f.size();
        }
        auto t1 = Clock::now();
        uint64_t gb = 0;
        for (const auto &f : files)
            gb += Gzip6(f, scratch);
        auto t2 = Clock::now();
        bestLh5 = std::min(bestLh5, std::chrono::duration<double>(t1 - t0).count());
        bestGz = std::min(bestGz, std::chrono::duration<double>(t2 - t1).count());
        lh5Bytes = lb;
        gzBytes = gb;
    }
    double sizeRatio = static_cast<double>(lh5Bytes) / static_cast<double>(gzBytes);
    double timeRatio = bestLh5 / bestGz;
    std::printf("corpus: %zu files, %llu bytes\n", files.size(),
                static_cast<unsigned long long>(input));
    std::printf("gzip -6: %llu bytes (ratio %.4f), %.3f s\n",
                static_cast<unsigned long long>(gzBytes),
                static_cast<double>(gzBytes) / static_cast<double>(input), bestGz);
    std::printf("-lh5-:   %llu bytes (ratio %.4f), %.3f s\n",
                static_cast<unsigned long long>(lh5Bytes),
                static_cast<double>(lh5Bytes) / static_cast<double>(input), bestLh5);
    std::printf("lh5/gzip: size %.4f (goal <= 1.04), time %.3f (goal <= 1.5)\n", sizeRatio,
                timeRatio);
    return sizeRatio <= 1.04 && timeRatio <= 1.5 ? 0 : 1;
}
