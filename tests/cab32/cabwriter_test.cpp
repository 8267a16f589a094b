// The cabinet writer on its own: checksums, the folder plan and its limits, and cabinets split
// into folders read back by libarchive, cabextract and gcab.
#include "archivers/cab32/CabWriter.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/FileSystem.h"
#include "tests/archivers_common/ArchiverTestSupport.h"
#include "tests/cab32/CabTestSupport.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <unistd.h>

using namespace archtest;

namespace {

std::vector<cab::FileRecord> Records(size_t n, uint64_t size) {
    std::vector<cab::FileRecord> r(n);
    for (size_t i = 0; i < n; ++i) {
        r[i].name = "d" + std::to_string(i % 7) + "/f" + std::to_string(i);
        r[i].size = size;
        r[i].mtime = 1700000000;
        r[i].mode = 0100644;
    }
    return r;
}

// The contents of file i: its index repeated, so a file read from the wrong place shows.
std::string Content(size_t i, uint64_t size) {
    std::string s;
    while (s.size() < size)
        s += std::to_string(i) + ",";
    s.resize(size);
    return s;
}

void Write(const fs::path &path, const std::vector<cab::FileRecord> &files,
           const cab::WriterOptions &opt) {
    arclib::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    ASSERT_TRUE(fd);
    cab::WriteCabinet(
        fd.get(), files,
        [&](size_t i, const cab::ByteSink &sink) {
            std::string c = Content(i, files[i].size);
            // In uneven pieces, so blocks and files do not line up.
            for (size_t at = 0; at < c.size(); at += 7777)
                sink(c.data() + at, std::min<size_t>(7777, c.size() - at));
        },
        opt);
}

uint16_t HeaderField(const fs::path &cabinet, size_t at) {
    std::string b = ReadFile(cabinet);
    return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1))
                                                                      << 8);
}

int CodeOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const arclib::ArcError &e) {
        return e.code();
    }
    return 0;
}

} // namespace

// The format's checksum: whole words little-endian, the tail bytes in reversed order, XORed.
TEST(CabWriter, DataChecksum) {
    struct Sum {
        std::vector<uint8_t> bytes;
        uint32_t seed, sum;
    } cases[] = {
        {{}, 0, 0},
        {{}, 0x12345678, 0x12345678},
        {{0x01}, 0, 0x01},
        {{0x01, 0x02}, 0, 0x0102},
        {{0x01, 0x02, 0x03}, 0, 0x010203},
        {{0x01, 0x02, 0x03, 0x04}, 0, 0x04030201},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, 0, 0x04030201 ^ 0x05},
        {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}, 0xFF, 0x04030201 ^ 0x050607 ^ 0xFF},
        {{0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04}, 0, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cab::DataChecksum(c.bytes.data(), c.bytes.size(), c.seed), c.sum)
            << c.bytes.size() << " bytes";
}

TEST(CabWriter, PlanStartsANewFolderAtEachLimit) {
    struct Plan {
        const char *label;
        size_t files, perFolder, blocks;
        uint64_t size;
        std::vector<uint16_t> folders;
    } cases[] = {
        {"one folder", 4, 10, 100, 10, {0, 0, 0, 0}},
        {"by count", 7, 3, 100, 10, {0, 0, 0, 1, 1, 1, 2}},
        {"count exactly full", 6, 3, 100, 1, {0, 0, 0, 1, 1, 1}},
        // Two blocks hold 65536 bytes: 30000 + 30000 fit, a third file does not.
        {"by data", 5, 100, 2, 30000, {0, 0, 1, 1, 2}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        cab::WriterOptions o;
        o.maxFilesPerFolder = c.perFolder;
        o.maxBlocksPerFolder = c.blocks;
        EXPECT_EQ(cab::PlanFolders(Records(c.files, c.size), o), c.folders);
    }
}

// What one cabinet cannot hold is refused with a code before anything is written: never a count
// that wraps.
TEST(CabWriter, RefusesWhatOneCabinetCannotHold) {
    cab::WriterOptions few;
    few.maxFilesPerFolder = 2;
    few.maxFoldersPerCabinet = 3;
    cab::WriterOptions small;
    small.maxBlocksPerFolder = 1;
    auto longName = Records(1, 1);
    longName[0].name = std::string(256, 'n');
    auto backslash = Records(1, 1);
    backslash[0].name = "a\\b";
    struct Refusal {
        const char *label;
        std::vector<cab::FileRecord> files;
        cab::WriterOptions opt;
    } cases[] = {
        {"65536 files", Records(65536, 0), {}},
        {"more folders than allowed", Records(7, 1), few},
        {"a file larger than a folder", Records(1, 32769), small},
        {"a name of 256 bytes", longName, {}},
        {"a backslash in a name", backslash, {}},
        // Readers want each folder's data after the last one's: only the last may have none.
        {"a folder of empty files before another", Records(5, 0), few},
    };
    TempDir tmp;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        std::string message;
        try {
            cab::PlanFolders(c.files, c.opt);
        } catch (const arclib::ArcError &e) {
            EXPECT_EQ(e.code(), arclib::kArcErrUnsupported);
            message = e.what();
        }
        EXPECT_FALSE(message.empty());
        fs::path path = tmp.path / "x.cab";
        EXPECT_EQ(CodeOf([&] {
                      arclib::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
                      cab::WriteCabinet(
                          fd.get(), c.files, [](size_t, const cab::ByteSink &) {}, c.opt);
                  }),
                  arclib::kArcErrUnsupported);
        EXPECT_EQ(fs::file_size(path), 0u);
    }
    // 6 files in 3 folders of 2 is just allowed.
    EXPECT_EQ(cab::PlanFolders(Records(6, 1), few).back(), 2);
}

TEST(CabWriter, FeederGivingTheWrongLengthFails) {
    TempDir tmp;
    auto files = Records(2, 10);
    for (size_t give : {9u, 11u}) {
        SCOPED_TRACE(give);
        arclib::UniqueFd fd(::open((tmp.path / "x.cab").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
        EXPECT_EQ(CodeOf([&] {
                      cab::WriteCabinet(fd.get(), files, [&](size_t, const cab::ByteSink &sink) {
                          std::string s(give, 'x');
                          sink(s.data(), s.size());
                      });
                  }),
                  arclib::kArcErrReadSource);
    }
}

// Cabinets split into folders (a small limit stands in for 65,535 files), each read back in full
// by every reader at hand, in both methods.
TEST(CabWriter, SplitFoldersReadBackEverywhere) {
    TempDir tmp;
    struct Split {
        const char *label;
        size_t files, perFolder, blocks;
        uint64_t size;
        uint16_t folders;
    } cases[] = {
        {"by count", 10, 3, 0xFFFF, 5000, 4},
        {"by data", 6, 100, 3, 40000, 3},
        {"empty files", 2, 2, 0xFFFF, 0, 1},
    };
    const bool cabextract = Shell("command -v cabextract >/dev/null") == 0;
    const bool gcab = Shell("command -v gcab >/dev/null") == 0;
    int n = 0;
    for (const auto &c : cases) {
        for (cab::Method m : {cab::Method::MsZip, cab::Method::Stored}) {
            SCOPED_TRACE(std::string(c.label) + (m == cab::Method::Stored ? " stored" : " mszip"));
            cab::WriterOptions o;
            o.method = m;
            o.maxFilesPerFolder = c.perFolder;
            o.maxBlocksPerFolder = c.blocks;
            auto files = Records(c.files, c.size);
            fs::path cabinet = tmp.path / (std::to_string(n++) + ".cab");
            Write(cabinet, files, o);
            EXPECT_EQ(HeaderField(cabinet, 26), c.folders);
            EXPECT_EQ(HeaderField(cabinet, 28), c.files);
            bool ok = false;
            auto back = cabtest::ReadBack(cabinet, &ok);
            EXPECT_TRUE(ok);
            ASSERT_EQ(back.size(), files.size());
            for (size_t i = 0; i < files.size(); ++i) {
                EXPECT_EQ(back[i].first, files[i].name);
                EXPECT_EQ(back[i].second, Content(i, c.size)) << files[i].name;
            }
            std::string out;
            if (cabextract) {
                EXPECT_EQ(Shell("cabextract -t " + Quote(cabinet.string()), &out), 0) << out;
            }
            if (gcab) {
                EXPECT_EQ(Shell("gcab -t " + Quote(cabinet.string()), &out), 0) << out;
            }
        }
    }
}

// The real limit: 65,535 files in one folder, all listed with the right count.
TEST(CabWriter, HoldsTheMostFilesACabinetCan) {
    TempDir tmp;
    auto files = Records(cab::kMaxFilesPerCabinet, 0);
    fs::path cabinet = tmp.path / "max.cab";
    Write(cabinet, files, {});
    EXPECT_EQ(HeaderField(cabinet, 26), 1);
    EXPECT_EQ(HeaderField(cabinet, 28), 65535);
    bool ok = false;
    auto back = cabtest::ReadBack(cabinet, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(back.size(), 65535u);
    EXPECT_EQ(back.back().first, files.back().name);
}
