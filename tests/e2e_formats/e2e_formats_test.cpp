// The ZIP, TAR and 7z back-ends with the real archiver libraries, checked by other tools: the
// compress job of the built program, detection by content, and a 7z self-extractor.
#include "archives/ARCHIVES.h"
#include "formats/SZIP32.h"
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

using namespace archives;
using formats_test::ReadFile;
using formats_test::ScratchDir;
using formats_test::WriteFile;
namespace fs = std::filesystem;

namespace {

struct RunResult {
    int status = -1;
    std::string out;
};

// Runs a shell command in Dir; standard output is returned, standard error goes to err.txt.
RunResult Shell(const ScratchDir &dir, const std::string &command) {
    const std::string line = "cd '" + dir.Path() + "' && { " + command +
                             "; } >run-out.txt 2>run-err.txt; echo $? >run-status.txt";
    if (std::system(line.c_str()) != 0)
        return {};
    return {std::stoi(ReadFile(dir / "run-status.txt")), ReadFile(dir / "run-out.txt")};
}

bool HaveTool(const std::string &tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The built program, copied beside its settings file, run without a display.
RunResult RunJob(const ScratchDir &dir, const std::string &source, const std::string &dest,
                 bool sourceDelete = false) {
    const fs::path built(QUORVEL_EXE);
    fs::create_directories(dir / "bin");
    if (!fs::exists(dir / "lib"))
        fs::create_directory_symlink(built.parent_path().parent_path() / "lib", dir / "lib");
    fs::copy_file(built, dir / "bin/QUORVEL", fs::copy_options::overwrite_existing);
    WriteFile(dir / "bin/QUORVEL.ini",
              "[System]\r\nJobKind=1\r\nSourceFile=" + source + "\r\nDistFile=" + dest +
                  "\r\nSourDelete=" + (sourceDelete ? "1" : "0") + "\r\nOverWrite=1\r\n");
    RunResult r =
        Shell(dir, "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM bin/QUORVEL exec exit");
    r.out += ReadFile(dir / "run-err.txt");
    return r;
}

const std::string kContent = "first line\nsecond line \xE8\xA1\xA8\n" + std::string(3000, 'z');

struct JobCase {
    const char *dest;
    const char *magic;  // the first bytes of the archive
    size_t magicOffset; // where they stand
    const char *tool;
    const char *test;    // the tool's test of the archive; @ is its name
    const char *content; // prints the one entry's bytes
    const char *list;    // prints the entry names, one a line
};

TEST(CompressJob, MakesArchivesOtherToolsAccept) {
    const JobCase cases[] = {
        {"out.zip", "PK\x03\x04", 0, "unzip", "unzip -t @", "unzip -p @", "unzip -Z1 @"},
        {"out.jar", "PK\x03\x04", 0, "unzip", "unzip -t @", "unzip -p @", "unzip -Z1 @"},
        {"out.tgz", "\x1f\x8b", 0, "bsdtar", "bsdtar -tzf @", "bsdtar -xOzf @", "bsdtar -tf @"},
        {"out.tar.gz", "\x1f\x8b", 0, "bsdtar", "bsdtar -tzf @", "bsdtar -xOzf @", "bsdtar -tf @"},
        {"out.tar", "ustar", 257, "bsdtar", "bsdtar -tf @", "bsdtar -xOf @", "bsdtar -tf @"},
        {"out.tar.bz2", "BZh", 0, "bsdtar", "bsdtar -tjf @", "bsdtar -xOjf @", "bsdtar -tf @"},
        {"out.7z", "7z\xBC\xAF\x27\x1C", 0, "7z", "7z t @", "7z e -so @",
         "7z l -slt @ | sed -n 's/^Path = //p' | tail -n +2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dest);
        if (!HaveTool(c.tool)) {
            ADD_FAILURE() << c.tool << " is not installed";
            continue;
        }
        ScratchDir dir;
        WriteFile(dir / "src/data.txt", kContent);
        const std::string dest = dir / c.dest;
        const RunResult job = RunJob(dir, dir / "src/data.txt", dest);
        ASSERT_EQ(job.status, 0) << job.out;
        const std::string bytes = ReadFile(dest);
        ASSERT_GT(bytes.size(), c.magicOffset + std::strlen(c.magic));
        EXPECT_EQ(bytes.substr(c.magicOffset, std::strlen(c.magic)), c.magic);

        auto with = [&](std::string command) {
            command.replace(command.find('@'), 1, "'" + dest + "'");
            return Shell(dir, command);
        };
        EXPECT_EQ(with(c.test).status, 0);
        const RunResult content = with(c.content);
        EXPECT_EQ(content.status, 0);
        EXPECT_EQ(content.out, kContent);
        const RunResult list = with(c.list);
        EXPECT_EQ(list.status, 0);
        // One entry: the source under its path, without the leading separator.
        EXPECT_EQ(list.out, (dir / "src/data.txt").substr(1) + "\n");
        // The source stays (Source Delete is off).
        EXPECT_EQ(ReadFile(dir / "src/data.txt"), kContent);
    }
}

// A source whose name is Latin-1 (legal on Linux, not UTF-8): the archive keeps the name's bytes,
// as other tools read it back, and only then is the source deleted; a format that stores
// Unicode names only fails the job and keeps the source.
TEST(CompressJob, ALatin1NamedSourceIsKeptByteForByteOrNotDeleted) {
    const std::string name = "caf\xE9.txt";
    const struct {
        const char *dest;
        const char *tool;
        const char *extract; // extracts @ into the current folder
    } cases[] = {
        {"out.zip", "unzip", "unzip -q @"},    {"out.tgz", "bsdtar", "bsdtar -xf @"},
        {"out.tar", "bsdtar", "bsdtar -xf @"}, {"out.tar.bz2", "bsdtar", "bsdtar -xf @"},
        {"out.lzh", "lha", "lha -xq @"},       {"out.7z", "7z", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dest);
        if (!HaveTool(c.tool)) {
            ADD_FAILURE() << c.tool << " is not installed";
            continue;
        }
        ScratchDir dir;
        const std::string source = dir / ("src/" + name);
        WriteFile(source, kContent);
        const std::string dest = dir / c.dest;
        const RunResult job = RunJob(dir, source, dest, true);
        if (!c.extract) {
            EXPECT_EQ(job.status, 1) << job.out;
            EXPECT_EQ(ReadFile(source), kContent) << "the source was not kept";
            EXPECT_FALSE(fs::exists(dest));
            continue;
        }
        ASSERT_EQ(job.status, 0) << job.out;
        EXPECT_FALSE(fs::exists(source));
        fs::create_directories(dir / "x");
        std::string command = std::string("cd x && ") + c.extract;
        command.replace(command.find('@'), 1, "'" + dest + "'");
        ASSERT_EQ(Shell(dir, command).status, 0) << ReadFile(dir / "run-err.txt");
        EXPECT_EQ(ReadFile(dir / ("x" + source)), kContent);
    }
}

// ---------------------------------------------------------------------------------------------
// Detection by content

TEST(ContentDetection, ArchivesWhoseNameSaysNothing) {
    ScratchDir dir;
    WriteFile(dir / "a.txt", kContent);
    const struct {
        const char *tool;
        const char *make; // makes data.bin from a.txt
        TArchiverType type;
    } cases[] = {
        {"zip", "zip -q data.bin.zip a.txt && mv data.bin.zip data.bin", atZip},
        {"bsdtar", "bsdtar -cf data.bin a.txt", atTar},
        {"bsdtar", "bsdtar -czf data.bin a.txt", atTgz},
        {"bsdtar", "bsdtar -cjf data.bin a.txt", atBZ2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.make);
        ASSERT_TRUE(HaveTool(c.tool));
        fs::remove(dir / "data.bin");
        ASSERT_EQ(Shell(dir, c.make).status, 0);
        EXPECT_EQ(GetArchiverType("data.bin", false), c.type);

        // The component finds the format itself and extracts through it.
        TArchiveFile arc;
        arc.SetFileName(dir / "data.bin");
        EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
        arc.SetOutputSize(4096);
        fs::remove_all(dir / "out");
        EXPECT_EQ(arc.ExtractFiles(nullptr, nullptr, dir / "out", {}), 0) << arc.OutputText();
        EXPECT_EQ(arc.ArchiverType(), c.type);
        EXPECT_EQ(ReadFile(dir / "out/a.txt"), kContent);
    }
    // Text is no archive of any kind.
    EXPECT_EQ(GetArchiverType("a.txt", false), atNone);
}

// ---------------------------------------------------------------------------------------------
// A 7z self-extractor

TEST(SevenZipSfx, TheConsoleModuleRunsOnLinuxAndUnpacks) {
    if (formats::ReadRegistryString("SOFTWARE\\7-ZIP", "Path").empty())
        GTEST_SKIP() << "no 7-Zip modules installed";
    ScratchDir dir;
    WriteFile(dir / "src/data.txt", kContent);
    TArchiveFile arc;
    arc.SetFileName(dir / "pack.7z");
    arc.SetOutputSize(4096);
    arc.Options().x = 0; // the entry without its folders
    ASSERT_EQ(arc.PackFiles(nullptr, nullptr, dir / "src", {std::string("data.txt")}), 0)
        << arc.OutputText();

    formats::SevenZipSfxModule = "7zCon.sfx";
    arc.Options().gw = 1;
    fs::create_directories(dir / "sfx");
    ASSERT_EQ(arc.MakeSfx(nullptr, nullptr, dir / "sfx"), 0);
    formats::SevenZipSfxModule.clear();
    ASSERT_TRUE(platform::FileExists(dir / "sfx/pack.exe"));

    const RunResult run = Shell(dir, "sfx/pack.exe -y -ounpacked");
    EXPECT_EQ(run.status, 0) << run.out << ReadFile(dir / "run-err.txt");
    EXPECT_EQ(ReadFile(dir / "unpacked/data.txt"), kContent);
}

} // namespace
