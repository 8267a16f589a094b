// The program without a display: in-process through RunHeadless, and the built executable itself
// for its exit status.
#include "TestDir.h"

#include "app/HeadlessRun.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace quorvel;
using testutil::ReadFile;
using testutil::TestDir;
using testutil::WriteFile;
namespace fs = std::filesystem;

namespace {

std::string Settings(const TestDir &dir, int jobKind = 0, int overWrite = 1) {
    return "[System]\nJobKind=" + std::to_string(jobKind) + "\nSourceFile=" + (dir / "a.txt") +
           "\nDistFile=" + (dir / "b.txt") +
           "\nSourDelete=0\nOverWrite=" + std::to_string(overWrite) + "\n";
}

TEST(RunHeadless, WithoutExecItPrintsUsage) {
    TestDir dir;
    for (std::vector<std::string> args :
         {std::vector<std::string>{"QUORVEL"}, {"QUORVEL", "exit"}, {"QUORVEL", "-exec"}}) {
        std::ostringstream err;
        EXPECT_EQ(RunHeadless(args, dir / "QUORVEL", err), ExitUsage);
        EXPECT_NE(err.str().find("usage: QUORVEL [exec] [exit]"), std::string::npos);
    }
}

TEST(RunHeadless, ExitStatusFollowsTheLastJobAndAFailureSaysWhy) {
    TestDir dir;
    WriteFile(dir / "a.txt", "a");
    const std::string copy = "QUORVEL: Copy " + (dir / "a.txt") + " to " + (dir / "b.txt") + ": ";
    struct Case {
        std::string settings;
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {Settings(dir), {"QUORVEL", "exec", "exit"}, ExitSuccess, ""},
        {Settings(dir), {"QUORVEL", "exec"}, ExitSuccess, ""},
        // The second run finds the destination and may not overwrite it.
        {Settings(dir, 0, 0),
         {"QUORVEL", "exec", "exec", "exit"},
         ExitJobFailed,
         copy + (dir / "b.txt") +
             " exists and \"Over Write Enable\" is off\nQUORVEL: JOB failure\n"},
        {"[System]\nSourceFile=" + (dir / "missing.txt") + "\n",
         {"QUORVEL", "exec"},
         ExitJobFailed,
         "QUORVEL: Copy " + (dir / "missing.txt") + " to : the source " + (dir / "missing.txt") +
             " does not exist\nQUORVEL: JOB failure\n"},
    };
    for (const auto &c : cases) {
        fs::remove(dir / "b.txt");
        WriteFile(dir / "QUORVEL.ini", c.settings);
        std::ostringstream err;
        EXPECT_EQ(RunHeadless(c.args, dir / "QUORVEL", err), c.status) << c.settings;
        EXPECT_EQ(err.str(), c.err);
    }
}

TEST(RunHeadless, AJobErrorIsPrintedWithItsJobAndFails) {
    TestDir dir;
    WriteFile(dir / "a.txt", "a");
    WriteFile(dir / "QUORVEL.ini", "[System]\nJobKind=1\nSourceFile=" + (dir / "a.txt") +
                                       "\nDistFile=" + (dir / "a.dat") + "\n");
    std::ostringstream err;
    const auto raise = [](const std::string &, const std::string &, std::string &) -> int {
        throw std::runtime_error("書庫の形式を判別できません。");
    };
    EXPECT_EQ(RunHeadless({"QUORVEL", "exec", "exit"}, dir / "QUORVEL", err, raise), ExitJobFailed);
    // The job's line, then the message as the default error handler shows it.
    EXPECT_EQ(err.str(),
              "QUORVEL: Compress " + (dir / "a.txt") + " to " + (dir / "a.dat") +
                  ": 書庫の形式を判別できません。\nQUORVEL: 書庫の形式を判別できません。\n");
}

// Runs a copy of the built program (its libraries reached through a lib link beside its folder)
// with no display in the environment.
struct RunResult {
    int status;
    std::string err;
};

RunResult RunProgram(const TestDir &dir, const std::string &args, const std::string &env = "") {
    const fs::path built(QUORVEL_EXE);
    fs::create_directories(dir.path() / "bin");
    if (!fs::exists(dir.path() / "lib"))
        fs::create_directory_symlink(built.parent_path().parent_path() / "lib", dir.path() / "lib");
    fs::copy_file(built, dir / "bin/QUORVEL", fs::copy_options::overwrite_existing);
    const std::string cmd = "cd '" + dir.path().string() +
                            "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + env +
                            " bin/QUORVEL " + args + " 2>err.txt; echo $? >status.txt";
    if (std::system(cmd.c_str()) != 0)
        return {-1, ""};
    return {std::stoi(ReadFile(dir / "status.txt")), ReadFile(dir / "err.txt")};
}

TEST(Program, RunsTheJobUnattendedAndTellsByItsStatus) {
    TestDir dir;
    WriteFile(dir / "a.txt", "one\ntwo");
    fs::create_directories(dir.path() / "bin");
    WriteFile(dir / "bin/QUORVEL.ini", Settings(dir));
    RunResult r = RunProgram(dir, "exec exit");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "b.txt"), "one\r\ntwo\r\n");

    r = RunProgram(dir, "EXEC");
    EXPECT_EQ(r.status, 0) << r.err;

    WriteFile(dir / "bin/QUORVEL.ini", Settings(dir, 1));
    r = RunProgram(dir, "exec exit");
    EXPECT_EQ(r.status, 1);
    // b.txt names no archive format: the component says so and the source stays.
    EXPECT_NE(r.err.find("QUORVEL: 書庫の形式を判別できません。"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir / "a.txt"));

    r = RunProgram(dir, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
}

TEST(Program, WithADisplayExecExitEndsWithTheSameStatus) {
    TestDir dir;
    WriteFile(dir / "a.txt", "x");
    fs::create_directories(dir.path() / "bin");
    WriteFile(dir / "bin/QUORVEL.ini", Settings(dir));
    RunResult r = RunProgram(dir, "exit exec", "QT_QPA_PLATFORM=offscreen");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "b.txt"), "x\r\n");
    fs::remove(dir / "a.txt");
    r = RunProgram(dir, "exec exit", "QT_QPA_PLATFORM=offscreen");
    EXPECT_EQ(r.status, 1) << r.err;
}

} // namespace
