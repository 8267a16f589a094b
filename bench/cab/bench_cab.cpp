// Packing speed of CAB32 (libcab32.so) by the number of files, and against gcab on one large file.
//   bench_cab [large file MB]
// 1. Packs 16,384 and then 65,535 small files (the most one cabinet holds: its file count is a
//    16-bit field) and prints the time ratio; linear time means about 4 (goal: at most 5). gcab
//    slows with the square of the count, so it is not run on these.
// 2. Asks for 100,000 files: the pack must be refused (32779) at once, before a file is read.
// 3. Packs one large mixed file with the library and with `gcab -c -z` (when installed): time
//    and size of each.
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

double Since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// count small files (50 to 550 bytes of text) in folders of 1,000.
void SmallFiles(const fs::path &root, size_t count) {
    std::mt19937 rng(11);
    for (size_t i = 0; i < count; ++i) {
        fs::path dir = root / ("d" + std::to_string(i / 1000));
        if (i % 1000 == 0)
            fs::create_directories(dir);
        std::string s;
        size_t size = 50 + rng() % 500;
        while (s.size() < size)
            s += "file " + std::to_string(i) + " line " + std::to_string(rng() % 1000) + "\n";
        std::ofstream(dir / ("f" + std::to_string(i) + ".txt"), std::ios::binary) << s;
    }
}

// Text, records and random stretches in turn.
void LargeFile(const fs::path &path, size_t megabytes) {
    std::mt19937_64 rng(5);
    std::ofstream out(path, std::ios::binary);
    size_t total = 0, k = 0;
    while (total < megabytes * 1000000) {
        std::string s;
        switch (k++ % 3) {
        case 0:
            while (s.size() < 300000)
                s += "cabinet folder block " + std::to_string(rng() % 5000) + " of data\n";
            break;
        case 1:
            while (s.size() < 300000)
                s += "row," + std::to_string(rng() % 100000) + "," +
                     std::to_string(s.size() % 977) + "\n";
            break;
        default:
            s.resize(200000);
            for (auto &c : s)
                c = static_cast<char>(rng());
        }
        out << s;
        total += s.size();
    }
}

struct Run {
    double seconds = 0;
    int status = 0;
};

class Cab32 {
public:
    Cab32() : lib_(dlopen(CAB32_PATH, RTLD_NOW | RTLD_LOCAL)) {
        if (!lib_) {
            std::fprintf(stderr, "%s\n", dlerror());
            std::exit(1);
        }
        cab_ = reinterpret_cast<ArcCommandProc>(dlsym(lib_, "Cab"));
    }
    ~Cab32() { dlclose(lib_); }
    Cab32(const Cab32 &) = delete;
    Cab32 &operator=(const Cab32 &) = delete;
    // The back-end's pack line with every switch unset.
    Run Pack(const fs::path &cabinet, const fs::path &base, const std::string &name) {
        std::string line =
            "-a  \"" + cabinet.string() + "\" \"" + base.string() + "/\" \"" + name + "\" ";
        std::vector<char> out(8192);
        auto t0 = std::chrono::steady_clock::now();
        Run r;
        r.status = cab_(nullptr, line.c_str(), out.data(), static_cast<DWORD>(out.size()));
        r.seconds = Since(t0);
        if (r.status != 0)
            std::printf("  library says: %s", out.data());
        return r;
    }

private:
    void *lib_;
    ArcCommandProc cab_;
};

} // namespace

int main(int argc, char **argv) {
    size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
    char tmpl[] = "/tmp/bench_cabXXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const fs::path dir = tmpl;
    Cab32 lib;
    bool ok = true;

    double seconds[2] = {};
    const size_t counts[2] = {16384, 65535};
    for (int i = 0; i < 2; ++i) {
        fs::path base = dir / ("small" + std::to_string(i));
        SmallFiles(base / "files", counts[i]);
        fs::path cabinet = dir / ("small" + std::to_string(i) + ".cab");
        Run r = lib.Pack(cabinet, base, "files");
        seconds[i] = r.seconds;
        std::printf("%6zu small files: %7.3f s, %10ju bytes (result %d)\n", counts[i], r.seconds,
                    static_cast<uintmax_t>(fs::file_size(cabinet)), r.status);
        ok = ok && r.status == 0;
        fs::remove_all(base);
        fs::remove(cabinet);
    }
    double ratio = seconds[1] / seconds[0];
    std::printf("time ratio %.2f for %.2f times the files (linear: about 4)\n", ratio,
                static_cast<double>(counts[1]) / static_cast<double>(counts[0]));
    ok = ok && ratio <= 5.0;

    {
        fs::path base = dir / "many";
        SmallFiles(base / "files", 100000);
        Run r = lib.Pack(dir / "many.cab", base, "files");
        std::printf("100000 small files: refused with %d after %.3f s (cabinet written: %s)\n",
                    r.status, r.seconds, fs::exists(dir / "many.cab") ? "yes" : "no");
        ok = ok && r.status == 32779 && !fs::exists(dir / "many.cab");
        fs::remove_all(base);
    }

    LargeFile(dir / "large.bin", mb);
    Run ours = lib.Pack(dir / "ours.cab", dir, "large.bin");
    std::printf("%zu MB file, library: %7.2f s, %12ju bytes (result %d)\n", mb, ours.seconds,
                static_cast<uintmax_t>(fs::file_size(dir / "ours.cab")), ours.status);
    ok = ok && ours.status == 0;
    if (std::system("command -v gcab >/dev/null 2>&1") == 0) {
        auto t0 = std::chrono::steady_clock::now();
        int status =
            std::system(("cd '" + dir.string() + "' && gcab -c -z gcab.cab large.bin").c_str());
        double t = Since(t0);
        auto size = fs::file_size(dir / "gcab.cab");
        std::printf("%zu MB file, gcab -z:  %7.2f s, %12ju bytes (status %d)\n", mb, t,
                    static_cast<uintmax_t>(size), status);
        std::printf("time ratio %.2f, size ratio %.4f (library / gcab)\n", ours.seconds / t,
                    static_cast<double>(fs::file_size(dir / "ours.cab")) /
                        static_cast<double>(size));
    } else {
        std::printf("gcab is not installed: no comparison\n");
    }
    fs::remove_all(dir);
    return ok ? 0 : 2;
}
