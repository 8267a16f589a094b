// lib7-zip32.so through its C entry points, loaded as the component loads it, with the command
// lines the 7z back-end writes; results checked with 7z and against the fixtures' MANIFEST.
#include "tests/archivers_common/ArchiverTestSupport.h"

#include <archive.h>
#include <archive_entry.h>
#include <cstring>

using namespace archtest;

namespace {

const fs::path kData = DATA_DIR;

class SevenZip32 : public ::testing::Test {
protected:
    static void SetUpTestSuite() { lib_ = new Library(SEVENZIP32_PATH); }
    static void TearDownTestSuite() {
        delete lib_;
        lib_ = nullptr;
    }

    int SevenZip(const std::string &line, HWND hwnd = nullptr) {
        out_.assign(4096, '\0');
        return lib_->Get<ArcCommandProc>("SevenZip")(hwnd, line.c_str(), out_.data(),
                                                     static_cast<DWORD>(out_.size()));
    }
    std::string Output() const { return std::string(out_.c_str()); }

    static Library *lib_;
    TempDir tmp_;
    std::string out_;
};

Library *SevenZip32::lib_ = nullptr;

std::string Q(const fs::path &p) {
    return "\"" + p.string() + "\"";
}
std::string O(const fs::path &p) {
    return "\"-o" + p.string() + "/\"";
}

// The entry names 7-Zip itself lists, one per line, sorted.
std::string Names(const fs::path &archive) {
    std::string out;
    Shell("7z l -slt -ba " + Quote(archive.string()) + " | sed -n 's/^Path = //p' | LC_ALL=C sort",
          &out);
    return out;
}

bool SevenZipTests(const fs::path &archive) {
    std::string out;
    return Shell("7z t " + Quote(archive.string()), &out) == 0 &&
           out.find("Everything is Ok") != std::string::npos;
}

// A 7z archive written by libarchive with exactly the names given (the tool would refuse these).
void MakeSevenZip(const fs::path &path, const std::vector<std::string> &names) {
    archive *w = archive_write_new();
    archive_write_set_format_7zip(w);
    ASSERT_EQ(archive_write_open_filename(w, path.c_str()), ARCHIVE_OK);
    for (const auto &n : names) {
        archive_entry *e = archive_entry_new();
        archive_entry_set_pathname(e, n.c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, 5);
        archive_write_header(w, e);
        archive_write_data(w, "evil\n", 5);
        archive_entry_free(e);
    }
    archive_write_close(w);
    archive_write_free(w);
}

} // namespace

TEST_F(SevenZip32, CompressJobLinePacksTheFileWithItsFolders) {
    fs::path src = tmp_.path / "x" / "a.txt";
    WriteFile(src, "hello 7z\n");
    fs::path archive = tmp_.path / "y" / "a.7z";
    fs::create_directories(archive.parent_path());
    // Exactly what the compress job sends, trailing blank included.
    ASSERT_EQ(SevenZip("u -ms=off  " + Q(archive) + " " + Q(src) + " "), 0) << Output();
    EXPECT_TRUE(SevenZipTests(archive));
    EXPECT_EQ(Names(archive), src.string().substr(1) + "\n");
    std::string content;
    Shell("7z e -so " + Quote(archive.string()), &content);
    EXPECT_NE(content.find("hello 7z\n"), std::string::npos);
}

TEST_F(SevenZip32, PackWithBaseFolderThenUpdate) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "a.txt", "one");
    WriteFile(src / "sub" / "表.txt", "hyou");
    fs::path archive = tmp_.path / "u.7z";
    ASSERT_EQ(SevenZip("u -ms=off " + O(src) + "  " + Q(archive) + " \"a.txt\" \"sub\" "), 0)
        << Output();
    EXPECT_TRUE(SevenZipTests(archive));
    EXPECT_EQ(Names(archive), "a.txt\nsub\nsub/表.txt\n");
    // Updating replaces a.txt and adds b.txt; the rest stays.
    WriteFile(src / "a.txt", "one, changed");
    WriteFile(src / "b.txt", "two");
    ASSERT_EQ(SevenZip("u -ms=off " + O(src) + "  " + Q(archive) + " \"a.txt\" \"b.txt\" "), 0)
        << Output();
    EXPECT_TRUE(SevenZipTests(archive));
    std::string names = Names(archive);
    for (const char *n : {"a.txt\n", "b.txt\n", "sub/表.txt\n"})
        EXPECT_NE(names.find(n), std::string::npos) << n;
    std::string content;
    Shell("7z e -so " + Quote(archive.string()) + " a.txt", &content);
    EXPECT_NE(content.find("one, changed"), std::string::npos);
}

TEST_F(SevenZip32, RecursionOfWildcardsAndExclusions) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "a.txt", "a");
    WriteFile(src / "a.bak", "bak");
    WriteFile(src / "sub" / "b.txt", "b");
    struct Case {
        const char *switches, *names;
    } cases[] = {
        {"-r- ", "a.txt\n"},
        {"-r ", "a.txt\nsub/b.txt\n"},
    };
    int n = 0;
    for (const auto &c : cases) {
        fs::path archive = tmp_.path / (std::to_string(n++) + ".7z");
        ASSERT_EQ(SevenZip(std::string("u -ms=off ") + c.switches + O(src) + "  " + Q(archive) +
                           " \"*.txt\" "),
                  0)
            << Output();
        EXPECT_EQ(Names(archive), c.names) << c.switches;
    }
    fs::path archive = tmp_.path / "x.7z";
    ASSERT_EQ(SevenZip("u -ms=off \"-x!*.bak\" \"-x!sub\" " + O(src) + "  " + Q(archive) +
                       " \"a.txt\" \"a.bak\" \"sub\" "),
              0);
    EXPECT_EQ(Names(archive), "a.txt\n");
}

TEST_F(SevenZip32, ExtractsEveryFixtureAsItsManifestSays) {
    auto manifest = ReadManifest(kData / "MANIFEST.tsv");
    const char *fixtures[] = {
        "test_read_format_7zip_copy.7z",
        "test_read_format_7zip_lzma1.7z",
        "test_read_format_7zip_lzma2.7z",
        "test_read_format_7zip_bzip2.7z",
        "test_read_format_7zip_deflate.7z",
        "test_read_format_7zip_ppmd.7z",
        "test_read_format_7zip_copy_2.7z",
        "test_read_format_7zip_lzma1_lzma2.7z",
        "test_read_format_7zip_empty_file.7z",
        "test_read_format_7zip_lzma1_2.7z",
        "test_read_format_7zip_packinfo_digests.7z",
        "test_read_format_7zip_extract_second.7z",
        "7z_lzma2_tree.7z",
        "7z_copy_tree.7z",
        "7z_bcj_lzma2.7z",
        "test_read_format_7zip_empty_archive.7z",
    };
    auto open = lib_->Get<ArcOpenArchiveProc>("SevenZipOpenArchive");
    auto findFirst = lib_->Get<ArcFindFirstProc>("SevenZipFindFirst");
    auto findNext = lib_->Get<ArcFindNextProc>("SevenZipFindNext");
    auto close = lib_->Get<ArcCloseArchiveProc>("SevenZipCloseArchive");
    for (const char *name : fixtures) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(manifest.count(name));
        const Fixture &f = manifest[name];
        fs::path dest = tmp_.path / name;
        // The back-end's extract line with every switch unset.
        ASSERT_EQ(SevenZip("x -ms=off " + O(dest) + "  " + Q(kData / name) + " "), 0) << Output();
        for (const auto &[entry, sha] : f.sha256)
            EXPECT_EQ(Sha256(dest / entry), sha) << entry;
        HARC h = open(nullptr, (kData / name).c_str(), 0);
        ASSERT_NE(h, nullptr);
        std::map<std::string, uint64_t> listed;
        INDIVIDUALINFO info;
        for (int r = findFirst(h, "", &info); r == 0; r = findNext(h, &info))
            listed[info.szFileName] = info.dwOriginalSize;
        for (const auto &[entry, size] : f.sizes) {
            ASSERT_TRUE(listed.count(entry)) << entry;
            EXPECT_EQ(listed[entry], size) << entry;
        }
        EXPECT_EQ(close(h), 0);
    }
}

TEST_F(SevenZip32, ExtractWithoutStoredFolders) {
    fs::path dest = tmp_.path / "flat";
    ASSERT_EQ(SevenZip("e -ms=off " + O(dest) + "  " + Q(kData / "7z_lzma2_tree.7z") + " "), 0);
    EXPECT_EQ(Sha256(dest / "deep.txt"),
              "64896f89fd11190013b70103e603a1c5826e56b7fb7d2197ab279b0690043599");
    EXPECT_TRUE(fs::exists(dest / "readme.txt"));
    EXPECT_FALSE(fs::exists(dest / "dir"));
}

TEST_F(SevenZip32, OverwriteRules) {
    fs::path fixture = kData / "test_read_format_7zip_copy.7z"; // file1, 60 bytes
    const std::string fresh = "d0c504f06bbd64d183524eb35e5482ee5d966d456b905a24147165b2904d301b";
    struct Case {
        const char *switches;
        bool replaced, renamed;
    } cases[] = {
        {"-aoa ", true, false},     {"-aos ", false, false}, {"-aou ", false, true},
        {"-y ", true, false},       {"", false, false}, // nobody to ask: the file is kept
        {"-aos -y ", false, false},
    };
    int n = 0;
    for (const auto &c : cases) {
        fs::path dest = tmp_.path / std::to_string(n++);
        WriteFile(dest / "file1", "mine");
        ASSERT_EQ(SevenZip(std::string("x ") + c.switches + "-ms=off " + O(dest) + "  " +
                           Q(fixture) + " "),
                  0)
            << c.switches << Output();
        EXPECT_EQ(Sha256(dest / "file1") == fresh, c.replaced) << c.switches;
        EXPECT_EQ(fs::exists(dest / "file1_1"), c.renamed) << c.switches;
        if (c.renamed) {
            EXPECT_EQ(Sha256(dest / "file1_1"), fresh);
            EXPECT_EQ(ReadFile(dest / "file1"), "mine");
        }
    }
}

TEST_F(SevenZip32, ExcludeOnExtract) {
    fs::path dest = tmp_.path / "out";
    ASSERT_EQ(SevenZip("x -ms=off \"-x!*.bin\" \"-x!dir\" " + O(dest) + "  " +
                       Q(kData / "7z_lzma2_tree.7z") + " "),
              0);
    EXPECT_TRUE(fs::exists(dest / "a.txt"));
    EXPECT_FALSE(fs::exists(dest / "rnd.bin"));
    EXPECT_FALSE(fs::exists(dest / "dir"));
}

TEST_F(SevenZip32, DeleteRewrites) {
    fs::path archive = tmp_.path / "d.7z";
    fs::copy_file(kData / "7z_lzma2_tree.7z", archive);
    ASSERT_EQ(SevenZip("d -ms=off  " + Q(archive) + " \"rnd.bin\" \"dir\" "), 0) << Output();
    EXPECT_TRUE(SevenZipTests(archive));
    std::string names = Names(archive);
    EXPECT_EQ(names.find("rnd.bin"), std::string::npos);
    EXPECT_EQ(names.find("dir"), std::string::npos);
    EXPECT_NE(names.find("a.txt"), std::string::npos);
    fs::path dest = tmp_.path / "check";
    ASSERT_EQ(SevenZip("x " + O(dest) + " " + Q(archive)), 0);
    EXPECT_TRUE(fs::is_regular_file(dest / "ソフト" / "readme.txt"));
    EXPECT_EQ(Sha256(dest / "a.txt"),
              "1d3a0b4fcaf7b73b09569d50d76becc9bc9567792fdc22dc0c735f0a37962433");
    std::string before = ReadFile(archive);
    EXPECT_EQ(SevenZip("d -ms=off  " + Q(archive) + " \"nothing\" "), 32774);
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_EQ(CountFiles(tmp_.path), 1 + CountFiles(dest) + 1); // no temporary left
}

TEST_F(SevenZip32, EncryptedAndDamagedArchives) {
    struct Case {
        const char *fixture;
        int code;
    } cases[] = {
        {"test_read_format_7zip_encryption.7z", 32778},
        {"7z_lzma2_encrypted_headers.7z", 32778},
        {"test_read_format_7zip_malformed.7z", 0},
        {"test_read_format_7zip_malformed2.7z", 0},
    };
    for (const auto &c : cases) {
        int r = SevenZip("x " + O(tmp_.path / c.fixture) + " " + Q(kData / c.fixture));
        if (c.code)
            EXPECT_EQ(r, c.code) << c.fixture << Output();
        else
            EXPECT_EQ(r, 32772) << c.fixture << Output();
        EXPECT_EQ(CountFiles(tmp_.path / c.fixture), 0u) << c.fixture;
    }
    // libarchive reads this one as an empty archive, as bsdtar and 7-Zip do.
    EXPECT_EQ(SevenZip("x " + O(tmp_.path / "m4") + " " +
                       Q(kData / "test_read_format_7zip_malformed4.7z")),
              0);
    auto check = lib_->Get<ArcCheckArchiveProc>("SevenZipCheckArchive");
    EXPECT_TRUE(check((kData / "7z_bcj_lzma2.7z").c_str(), 2));
    EXPECT_FALSE(check((kData / "test_read_format_7zip_malformed.7z").c_str(), 0));
    EXPECT_FALSE(check((kData / "tar_ustar.tar.bz2").c_str(), 0));
}

TEST_F(SevenZip32, EvilNamesAreRefused) {
    fs::path archive = tmp_.path / "evil.7z";
    MakeSevenZip(archive,
                 {"../escape.txt", "a/../../escape2.txt", "/tmp/arclib-7z-abs.txt", "good.txt"});
    fs::path dest = tmp_.path / "a" / "b";
    EXPECT_EQ(SevenZip("x -aoa " + O(dest) + " " + Q(archive)), 32777);
    EXPECT_NE(Output().find("refused: ../escape.txt"), std::string::npos);
    EXPECT_EQ(ReadFile(dest / "good.txt"), "evil\n");
    EXPECT_EQ(CountFiles(tmp_.path / "a"), 2u); // b and good.txt
    EXPECT_FALSE(fs::exists(tmp_.path / "escape.txt"));
    EXPECT_FALSE(fs::exists("/tmp/arclib-7z-abs.txt"));
    // Flat extraction keeps refusing them: the last part alone would look harmless.
    EXPECT_EQ(SevenZip("e -aoa " + O(tmp_.path / "flat") + " " + Q(archive)), 32777);
    EXPECT_FALSE(fs::exists(tmp_.path / "flat" / "escape.txt"));
}

TEST_F(SevenZip32, ProgressAndCancelLeaveTheOldArchive) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "big.bin", std::string(300000, 'b'));
    fs::path archive = tmp_.path / "p.7z";
    RecordingWindow w;
    // The window given to the call receives the reports.
    ASSERT_EQ(SevenZip("u -ms=off " + O(src) + " " + Q(archive) + " \"big.bin\"", w.Handle()), 0);
    EXPECT_EQ(w.states.front(), 0);
    EXPECT_EQ(w.states.back(), 2);
    std::string old = ReadFile(archive);
    WriteFile(src / "big.bin", std::string(300000, 'c'));
    w.states.clear();
    w.stopAt = 3; // the archive opened, the copy of big.bin skipped as replaced, begin, a block
    EXPECT_EQ(SevenZip("u -ms=off " + O(src) + " " + Q(archive) + " \"big.bin\"", w.Handle()),
              32800);
    EXPECT_EQ(ReadFile(archive), old);
    EXPECT_EQ(CountFiles(tmp_.path), 3u); // src, big.bin, the old archive
    EXPECT_EQ(w.states, (std::vector<int>{3, 0, 1, 1}));
    w.stopAt = -1;
    // Rewriting reports each copied entry with state 4.
    w.states.clear();
    WriteFile(src / "c.txt", "c");
    ASSERT_EQ(SevenZip("u -ms=off " + O(src) + " " + Q(archive) + " \"c.txt\"", w.Handle()), 0);
    EXPECT_NE(std::find(w.states.begin(), w.states.end(), 4), w.states.end());
}

TEST_F(SevenZip32, ExtractMemAndCommandLineErrors) {
    auto extractMem = lib_->Get<ArcExtractMemProc>("SevenZipExtractMem");
    std::string line =
        " " + Q(kData / "test_read_format_7zip_extract_second.7z") + " \"second.txt\"";
    unsigned char buf[64] = {};
    DWORD written = 0;
    ASSERT_EQ(extractMem(nullptr, line.c_str(), buf, sizeof buf, nullptr, nullptr, &written), 0);
    EXPECT_EQ(written, 23u);
    struct Case {
        std::string line;
        int code;
    } cases[] = {
        {"x \"unclosed", 32769},
        {"q " + Q(kData / "7z_bcj_lzma2.7z"), 32769},
        {"x -ms=off ", 32769},
        {"x " + Q(tmp_.path / "none.7z"), 32770},
        {"u " + Q(tmp_.path / "n.7z") + " " + Q(tmp_.path / "missing.txt"), 32775},
        {"u -p" + std::string("secret ") + Q(tmp_.path / "n.7z") + " " + Q(kData / "ar_gnu.a"),
         32779},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SevenZip(c.line), c.code) << c.line << Output();
    EXPECT_FALSE(fs::exists(tmp_.path / "n.7z"));
}

TEST_F(SevenZip32, DeletingAPlainNameTakesTheRootEntryUnlessRecursing) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "c.txt", "root");
    WriteFile(src / "sub/c.txt", "deep");
    WriteFile(src / "sub/d.txt", "other");
    fs::path archive = tmp_.path / "c.7z";
    ASSERT_EQ(SevenZip("a -hide " + O(src) + " " + Q(archive) + " \"c.txt\" \"sub\""), 0)
        << Output();
    ASSERT_EQ(Names(archive), "c.txt\nsub\nsub/c.txt\nsub/d.txt\n");
    ASSERT_EQ(SevenZip("d " + Q(archive) + " \"c.txt\""), 0) << Output();
    EXPECT_EQ(Names(archive), "sub\nsub/c.txt\nsub/d.txt\n");
    WriteFile(src / "c.txt", "root");
    ASSERT_EQ(SevenZip("a -hide " + O(src) + " " + Q(archive) + " \"c.txt\""), 0) << Output();
    ASSERT_EQ(SevenZip("d -r " + Q(archive) + " \"c.txt\""), 0) << Output();
    EXPECT_EQ(Names(archive), "sub\nsub/d.txt\n");
}
