// Packing speed and size of TAR32 (.tgz) and 7-zip32 (.7z) against bsdtar at the same level, one
// run, on a generated mixed corpus (text-like, repetitive records, random data; a few hundred
// small files and some large ones). Goal: no slower than 1.15 times bsdtar, size within 2%.
//   bench_tar7z [corpus MB] [level]
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

void Corpus(const fs::path &root, size_t megabytes) {
    std::mt19937_64 rng(7);
    const char *words[] = {"tar ",    "entry ",  "header ", "block ", "gzip ",
                           "member ", "offset ", "name ",   "size ",  "\n"};
    size_t total = 0;
    for (size_t n = 0; total < megabytes * 1000000; ++n) {
        fs::path dir = root / ("part" + std::to_string(n % 7)) / ("sub" + std::to_string(n % 3));
        fs::create_directories(dir);
        // Every fourth file is small, the rest up to a few megabytes.
        size_t size = n % 4 == 0 ? 500 + rng() % 20000 : 100000 + rng() % 4000000;
        std::string data;
        data.reserve(size + 64);
        switch (n % 3) {
        case 0:
            while (data.size() < size)
                data += words[rng() % 10];
            break;
        case 1:
            while (data.size() < size)
                data += "row " + std::to_string(rng() % 100000) + ",value," +
                        std::to_string(data.size() % 977) + "\n";
            break;
        default:
            data.resize(size);
            for (auto &c : data)
                c = static_cast<char>(rng());
        }
        std::ofstream(dir / ("file" + std::to_string(n) + ".dat"), std::ios::binary) << data;
        total += data.size();
    }
}

double Since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Result {
    double seconds = 0;
    double bytes = 0;
    int status = 0;
};

Result Library(const char *path, const char *entry, const std::string &line) {
    Result r;
    void *lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "%s\n", dlerror());
        r.status = -1;
        return r;
    }
    auto command = reinterpret_cast<ArcCommandProc>(dlsym(lib, entry));
    std::vector<char> out(8192);
    auto t0 = std::chrono::steady_clock::now();
    r.status = command(nullptr, line.c_str(), out.data(), static_cast<DWORD>(out.size()));
    r.seconds = Since(t0);
    dlclose(lib);
    return r;
}

Result Shell(const std::string &cmd) {
    Result r;
    auto t0 = std::chrono::steady_clock::now();
    r.status = std::system(cmd.c_str());
    r.seconds = Since(t0);
    return r;
}

bool Report(const char *what, Result ours, const fs::path &oursFile, Result theirs,
            const fs::path &theirsFile) {
    ours.bytes = static_cast<double>(fs::file_size(oursFile));
    theirs.bytes = static_cast<double>(fs::file_size(theirsFile));
    double time = ours.seconds / theirs.seconds, size = ours.bytes / theirs.bytes;
    std::printf("%-6s library %7.2f s %12.0f bytes (result %d) | bsdtar %7.2f s %12.0f bytes "
                "(status %d) | time ratio %.3f, size ratio %.4f\n",
                what, ours.seconds, ours.bytes, ours.status, theirs.seconds, theirs.bytes,
                theirs.status, time, size);
    return ours.status == 0 && time <= 1.15 && size >= 0.98 && size <= 1.02;
}

} // namespace

int main(int argc, char **argv) {
    size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    int level = argc > 2 ? std::atoi(argv[2]) : 6;
    char tmpl[] = "/tmp/bench_tar7zXXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    fs::path dir = tmpl;
    Corpus(dir / "corpus", mb);
    std::printf("corpus %zu MB, level %d\n", mb, level);
    std::string lvl = std::to_string(level);
    std::string base = "\"" + dir.string() + "/\"";

    // The tar back-end's pack line, level by -zN.
    Result tgz = Library(TAR32_PATH, "Tar",
                         "c --check-all-path=1 --use-directory=1 -z" + lvl + "  -f \"" +
                             (dir / "ours.tgz").string() + "\" -o " + base + " \"corpus\" ");
    Result tgzRef = Shell("cd '" + dir.string() + "' && bsdtar -czf bsdtar.tgz --options " +
                          "gzip:compression-level=" + lvl + " corpus");
    bool ok = Report("tgz", tgz, dir / "ours.tgz", tgzRef, dir / "bsdtar.tgz");

    // The 7z back-end's pack line, level by -mxN in the user's options.
    Result sz = Library(SEVENZIP32_PATH, "SevenZip",
                        "u -ms=off \"-o" + dir.string() + "/\" -mx" + lvl + " \"" +
                            (dir / "ours.7z").string() + "\" \"corpus\" ");
    Result szRef =
        Shell("cd '" + dir.string() + "' && bsdtar --format 7zip --options " +
              "7zip:compression=lzma2,7zip:compression-level=" + lvl + " -cf bsdtar.7z corpus");
    ok = Report("7z", sz, dir / "ours.7z", szRef, dir / "bsdtar.7z") && ok;

    fs::remove_all(dir);
    return ok ? 0 : 2;
}
