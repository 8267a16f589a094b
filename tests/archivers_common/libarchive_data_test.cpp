// Reading an entry's data through libarchive: the bound by the declared size, stopping on the
// sink's word, and holes of sparse entries in memory extraction.
#include "archivers/common/ArcErrors.h"
#include "archivers/common/LibArchive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace arclib;
namespace fs = std::filesystem;

namespace {

// A reader over bytes taken as one raw entry, whose size the test then declares.
struct RawReader {
    ReadArchive a{archive_read_new()};
    archive_entry *e = nullptr;
    explicit RawReader(const std::string &bytes) {
        archive_read_support_format_raw(a.get());
        archive_read_support_filter_none(a.get());
        EXPECT_EQ(archive_read_open_memory(a.get(), bytes.data(), bytes.size()), ARCHIVE_OK);
        EXPECT_EQ(archive_read_next_header(a.get(), &e), ARCHIVE_OK);
    }
};

int CodeOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const ArcError &err) {
        return err.code();
    }
    return 0;
}

} // namespace

TEST(ReadEntryData, NoBlockGoesPastTheDeclaredSize) {
    const std::string bytes(100000, 'x');
    struct Case {
        la_int64_t declared; // -1: none declared
        int code;
        size_t delivered; // at most
    } cases[] = {
        {-1, 0, 100000},
        {100000, 0, 100000},
        {100001, 0, 100000}, // fewer is for the caller to judge (sparse entries end in holes)
        {99999, kArcErrDamaged, 0},
        {10, kArcErrDamaged, 0},
        {0, kArcErrDamaged, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.declared);
        std::string data(bytes);
        RawReader r(data);
        if (c.declared >= 0)
            archive_entry_set_size(r.e, c.declared);
        size_t got = 0;
        EXPECT_EQ(CodeOf([&] {
                      ReadEntryData(r.a.get(), r.e, "x", [&](const void *, size_t n, uint64_t) {
                          got += n;
                          return true;
                      });
                  }),
                  c.code);
        if (c.code)
            EXPECT_LE(got, c.delivered); // a block past the size never reaches the sink
        else
            EXPECT_EQ(got, c.delivered);
    }
}

TEST(ReadEntryData, TheSinkCanStopTheReading) {
    const std::string bytes(300000, 'y');
    RawReader r(bytes);
    int blocks = 0;
    EXPECT_FALSE(ReadEntryData(r.a.get(), r.e, "y", [&](const void *, size_t, uint64_t) {
        ++blocks;
        return false;
    }));
    EXPECT_EQ(blocks, 1);
}

TEST(ExtractToMemory, HolesOfASparseEntryReadAsZeros) {
    if (std::system("tar --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU tar is needed to make a sparse archive";
    struct Dir {
        fs::path path;
        Dir() {
            std::string t = (fs::temp_directory_path() / "arclib_sparse_XXXXXX").string();
            path = ::mkdtemp(t.data());
        }
        ~Dir() { fs::remove_all(path); }
    } tmp;
    const fs::path dir = tmp.path;
    const fs::path file = dir / "sparse.bin";
    const size_t size = 1 << 20, at = 600000;
    {
        std::ofstream out(file, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(at));
        out << "data in the middle";
    }
    fs::resize_file(file, size);
    const fs::path tarFile = dir / "s.tar";
    ASSERT_EQ(
        std::system(
            ("tar -C '" + dir.string() + "' -S -cf '" + tarFile.string() + "' sparse.bin").c_str()),
        0);
    std::string expected(size, '\0');
    expected.replace(at, 18, "data in the middle");
    for (size_t bufferSize : {size, size + 100, size_t(700000)}) {
        SCOPED_TRACE(bufferSize);
        std::string buffer(bufferSize, '\x55');
        DWORD written = 0;
        Progress quiet(nullptr);
        const int r = ExtractToMemory(
            tarFile.string(), [](archive *a) { archive_read_support_format_tar(a); },
            EntrySelector({"sparse.bin"}), reinterpret_cast<unsigned char *>(buffer.data()),
            buffer.size(), &written, quiet);
        if (bufferSize < size) {
            EXPECT_EQ(r, kArcErrBufferTooSmall);
            EXPECT_EQ(written, bufferSize);
            EXPECT_EQ(buffer, expected.substr(0, bufferSize));
        } else {
            EXPECT_EQ(r, 0);
            ASSERT_EQ(written, size);
            EXPECT_EQ(buffer.substr(0, size), expected);
        }
    }
}
