// Packing speed and size of ZIP32J against bsdtar at the same deflate level, on a generated mixed
// corpus of about 100 MB (text-like, repetitive and random data). Goal: no slower than 1.15 times
// bsdtar, size within 2%.
//   bench_zip32 [corpus MB] [level]
#include "archiver_api.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void MakeCorpus(const fs::path &root, size_t megabytes) {
    std::mt19937_64 rng(42);
    const char *words[] = {"archive ", "entry ",    "folder ", "the ",  "zip ",
                           "library ", "progress ", "name ",   "data ", "stream\n"};
    size_t total = 0, n = 0;
    while (total < megabytes * 1000000) {
        const fs::path dir = root / ("d" + std::to_string(n % 10));
        fs::create_directories(dir);
        std::ofstream out(dir / ("f" + std::to_string(n) + ".bin"), std::ios::binary);
        std::string data;
        const size_t size = 200000 + rng() % 3000000;
        switch (n % 3) {
        case 0: // text-like
            while (data.size() < size)
                data += words[rng() % 10];
            break;
        case 1: // repetitive records
            while (data.size() < size)
                data += "record " + std::to_string(data.size() / 64 % 5000) + ";";
            break;
        default: // incompressible
            data.resize(size);
            for (auto &c : data)
                c = static_cast<char>(rng());
        }
        out << data;
        total += data.size();
        ++n;
    }
}

double Seconds(const std::chrono::steady_clock::time_point &t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char **argv) {
    const size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    const int level = argc > 2 ? std::atoi(argv[2]) : 6;
    void *lib = dlopen(ZIP32J_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto zip = reinterpret_cast<ArcCommandProc>(dlsym(lib, "Zip"));
    char tmpl[] = "/tmp/bench_zip32XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const fs::path dir = tmpl;
    MakeCorpus(dir / "corpus", mb);

    const fs::path ours = dir / "ours.zip", theirs = dir / "bsdtar.zip";
    const std::string line = " -r -D -" + std::to_string(level) + "  \"" + ours.string() + "\" \"" +
                             dir.string() + "/\" \"corpus\" ";
    std::vector<char> out(8192);
    auto t0 = std::chrono::steady_clock::now();
    const int r = zip(nullptr, line.c_str(), out.data(), static_cast<DWORD>(out.size()));
    const double ourTime = Seconds(t0);
    const std::string cmd =
        "cd '" + dir.string() +
        "' && bsdtar --format zip --options zip:compression-level=" + std::to_string(level) +
        " -cf '" + theirs.string() + "' corpus";
    t0 = std::chrono::steady_clock::now();
    const int b = std::system(cmd.c_str());
    const double theirTime = Seconds(t0);
    const double ourSize = static_cast<double>(fs::file_size(ours));
    const double theirSize = static_cast<double>(fs::file_size(theirs));
    std::printf("corpus %zu MB, level %d\n", mb, level);
    std::printf("ZIP32J  %.2f s  %.0f bytes  (result %d)\n", ourTime, ourSize, r);
    std::printf("bsdtar  %.2f s  %.0f bytes  (status %d)\n", theirTime, theirSize, b);
    std::printf("time ratio %.3f (goal <= 1.15), size ratio %.4f (goal within 0.98..1.02)\n",
                ourTime / theirTime, ourSize / theirSize);
    fs::remove_all(dir);
    dlclose(lib);
    return r == 0 && ourTime / theirTime <= 1.15 && ourSize / theirSize <= 1.02 ? 0 : 2;
}
