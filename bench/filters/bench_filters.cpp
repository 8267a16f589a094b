// Times the file list builder. Goals: expanding a tree of 100,000 files costs no more than 1.25
// times `find DIR -type f | LC_ALL=C sort -f` on the same tree, and the list grows in
// O(n log n): four times the names cost about four times as much, never sixteen.
//
// Usage: bench_filters [files]   (default 100000; the tree goes to the system's temp folder)
#include "filters/FILTERS.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double BestSeconds(int runs, const std::function<void()> &work) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

// count files spread over folders of 1000, names in mixed case.
void MakeTree(const fs::path &root, int count) {
    for (int i = 0; i < count; ++i) {
        const fs::path dir = root / ("d" + std::to_string(i / 1000));
        if (i % 1000 == 0)
            fs::create_directories(dir);
        const std::string name =
            (i % 3 == 0 ? "File" : "file") + std::to_string((i * 7919) % count) + ".txt";
        std::ofstream(dir / name) << 'x';
    }
}

size_t ExpandTree(const fs::path &root) {
    archives::TArchiverOptions o;
    o.r = 1;
    bool abort = false;
    return filters::ExpandFileList(o, root.string() + "/", {}, {}, abort).Count();
}

} // namespace

int main(int argc, char **argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    std::random_device rd;
    const fs::path base = fs::temp_directory_path() / ("quorvel-bench-" + std::to_string(rd()));
    int status = 0;
    try {
        // 1. The whole expansion against find | sort.
        const fs::path big = base / "big", quarter = base / "quarter";
        MakeTree(big, files);
        MakeTree(quarter, files / 4);
        ExpandTree(big); // warm the caches for both contenders
        size_t listed = 0;
        const double ours = BestSeconds(3, [&] { listed = ExpandTree(big); });
        const std::string cmd =
            "find '" + big.string() + "' -type f | LC_ALL=C sort -f > /dev/null";
        const double theirs = BestSeconds(3, [&] {
            if (std::system(cmd.c_str()) != 0)
                throw std::runtime_error("find | sort failed");
        });
        const double ratio = ours / theirs;
        std::printf("ExpandFileList, %zu files:        %8.3f s (%.0f files/s)\n", listed, ours,
                    listed / ours);
        std::printf("find -type f | LC_ALL=C sort -f:   %8.3f s\n", theirs);
        std::printf("ratio: %.2f (goal: at most 1.25)\n", ratio);

        const double quarterTime = BestSeconds(3, [&] { ExpandTree(quarter); });
        std::printf("tree of %d vs %d files: %.3f s vs %.3f s, x%.2f for x4 files\n", files / 4,
                    files, quarterTime, ours, ours / quarterTime);

        // 2. The list alone: names arriving in scrambled order, with duplicates.
        auto build = [](int n) {
            filters::TSortedFileNames list;
            for (int i = 0; i < 2 * n; ++i) {
                const int k = static_cast<int>((static_cast<long long>(i) * 7919) % n);
                list.Add((k % 2 ? "Dir/" : "dir/") + std::to_string(k) + ".TXT");
            }
            return list.ToStringList().Count();
        };
        const double small = BestSeconds(3, [&] { build(files / 4); });
        const double large = BestSeconds(3, [&] { build(files); });
        std::printf("sorted list of %d vs %d names (each added twice): %.3f s vs %.3f s, x%.2f "
                    "for x4 names (quadratic would be x16)\n",
                    files / 4, files, small, large, large / small);

        // 3. Every file named on its own: one look-up per argument, no folder scan.
        auto named = [&](const fs::path &root, int n) {
            archives::TFileArgs args;
            for (int i = 0; i < n; ++i)
                args.emplace_back(std::string("d") + std::to_string(i / 1000) + "/" +
                                  (i % 3 == 0 ? "File" : "file") + std::to_string((i * 7919) % n) +
                                  ".txt");
            archives::TArchiverOptions o;
            bool abort = false;
            return filters::ExpandFileList(o, root.string() + "/", {}, args, abort).Count();
        };
        size_t namedCount = 0;
        const double namedSmall = BestSeconds(3, [&] { named(quarter, files / 4); });
        const double namedLarge = BestSeconds(3, [&] { namedCount = named(big, files); });
        std::printf("%zu named files: %.3f s; x%.2f for x4 names\n", namedCount, namedLarge,
                    namedLarge / namedSmall);
        if (ratio > 1.25)
            status = 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_filters: %s\n", e.what());
        status = 2;
    }
    std::error_code ec;
    fs::remove_all(base, ec);
    return status;
}
