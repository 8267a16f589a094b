// The built program's compress job into a BGA or YZ1 archive on a system without their libraries:
// the job fails with the missing-library message on standard error and exit status 1, and the
// source and any old destination stay as they were.
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using formats_test::ReadFile;
using formats_test::ScratchDir;
using formats_test::WriteFile;

namespace {

struct RunResult {
    int status;
    std::string err;
};

// Runs a copy of the program with its libraries beside it and no display. The library search is
// pointed at an empty folder, so a BGA or YZ1 library installed on the machine cannot interfere.
RunResult RunCompressJob(const ScratchDir &dir, const std::string &source,
                         const std::string &dest) {
    const fs::path built(QUORVEL_EXE);
    fs::create_directories(dir / "bin");
    if (!fs::exists(dir / "lib"))
        fs::create_directory_symlink(built.parent_path().parent_path() / "lib", dir / "lib");
    fs::copy_file(built, dir / "bin/QUORVEL", fs::copy_options::overwrite_existing);
    WriteFile(dir / "bin/QUORVEL.ini", "[System]\r\nJobKind=1\r\nSourceFile=" + source +
                                           "\r\nDistFile=" + dest +
                                           "\r\nSourDelete=1\r\nOverWrite=1\r\n");
    const std::string cmd = "cd '" + dir.Path() +
                            "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                            "QUORVEL_ARCHIVER_PATH='" QUORVEL_FAKES_EMPTY
                            "' bin/QUORVEL exec exit 2>err.txt; echo $? >status.txt";
    if (std::system(cmd.c_str()) != 0)
        return {-1, ""};
    return {std::stoi(ReadFile(dir / "status.txt")), ReadFile(dir / "err.txt")};
}

TEST(HeadlessCompressJob, WithoutTheLibraryItFailsAndKeepsTheFiles) {
    struct Case {
        const char *dest;
        const char *message;
    } cases[] = {
        {"a.gza", "BGA 形式書庫 を扱うには BGA32.DLL が 必要です。"},
        {"a.bza", "BGA 形式書庫 を扱うには BGA32.DLL が 必要です。"},
        {"a.yz1", "Yz1 形式書庫を扱うには YYZ32.DLL か YZ1.DLL が必要です。"},
    };
    for (const auto &c : cases) {
        for (bool oldDestination : {false, true}) {
            SCOPED_TRACE(std::string(c.dest) + (oldDestination ? " over an old file" : ""));
            ScratchDir dir;
            WriteFile(dir / "src.txt", "source");
            if (oldDestination)
                WriteFile(dir / c.dest, "old archive");
            RunResult r = RunCompressJob(dir, dir / "src.txt", dir / c.dest);
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
            // "Source Delete" is on: a job that made no archive must not take the source.
            EXPECT_EQ(ReadFile(dir / "src.txt"), "source");
            if (oldDestination)
                EXPECT_EQ(ReadFile(dir / c.dest), "old archive");
            else
                EXPECT_FALSE(fs::exists(dir / c.dest));
            // Nothing left beside the destination (no moved-aside copy).
            size_t entries = 0;
            for ([[maybe_unused]] const auto &e : fs::directory_iterator(dir.Path()))
                ++entries;
            EXPECT_EQ(entries, (oldDestination ? 1u : 0u) + 5u); // src, bin, lib, err, status
        }
    }
}

} // namespace
