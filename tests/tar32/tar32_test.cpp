// libtar32.so through its C entry points, loaded as the component loads it, with exactly the
// command lines the tar back-end writes; results checked with bsdtar and against the fixtures'
// MANIFEST.
#include "tests/archivers_common/ArchiverTestSupport.h"

#include <cstring>

using namespace archtest;

namespace {

const fs::path kData = DATA_DIR;

class Tar32 : public ::testing::Test {
protected:
    static void SetUpTestSuite() { lib_ = new Library(TAR32_PATH); }
    static void TearDownTestSuite() {
        delete lib_;
        lib_ = nullptr;
    }

    int Tar(const std::string &line, HWND hwnd = nullptr) {
        out_.assign(4096, '\0');
        return lib_->Get<ArcCommandProc>("Tar")(hwnd, line.c_str(), out_.data(),
                                                static_cast<DWORD>(out_.size()));
    }
    std::string Output() const { return std::string(out_.c_str()); }

    static Library *lib_;
    TempDir tmp_;
    std::string out_;
};

Library *Tar32::lib_ = nullptr;

std::string Q(const fs::path &p) {
    return "\"" + p.string() + "\"";
}
std::string Dir(const fs::path &p) {
    return "\"" + p.string() + "/\"";
}

std::string Magic(const fs::path &p) {
    std::string head = ReadFile(p).substr(0, 300);
    if (head.rfind("\x1f\x8b", 0) == 0)
        return "gzip";
    if (head.rfind("BZh", 0) == 0)
        return "bzip2";
    if (head.rfind("\xfd"
                   "7zXZ",
                   0) == 0)
        return "xz";
    if (head.size() > 262 && head.substr(257, 5) == "ustar")
        return "tar";
    return "?";
}

std::string Listing(const fs::path &archive) {
    std::string out;
    Shell("LC_ALL=C.UTF-8 bsdtar -tf " + Quote(archive.string()), &out);
    return out;
}

} // namespace

TEST_F(Tar32, CompressJobLinePacksTheFileWithItsFolders) {
    fs::path src = tmp_.path / "x" / "a.txt";
    WriteFile(src, "hello tar\n");
    fs::path archive = tmp_.path / "y" / "a.tgz";
    fs::create_directories(archive.parent_path());
    // Exactly what the compress job sends, trailing blank included.
    ASSERT_EQ(
        Tar("c --check-all-path=1 --use-directory=1 -z  -f " + Q(archive) + " " + Q(src) + " "), 0)
        << Output();
    EXPECT_EQ(Magic(archive), "gzip");
    std::string stored = src.string().substr(1); // without the leading '/'
    EXPECT_EQ(Listing(archive), stored + "\n");
    std::string content;
    EXPECT_EQ(Shell("bsdtar -xOf " + Quote(archive.string()) + " " + Quote(stored), &content), 0);
    EXPECT_EQ(content, "hello tar\n");
    EXPECT_EQ(Shell("gzip -t " + Quote(archive.string())), 0);
}

TEST_F(Tar32, CompressionSwitchesAndArchiveTypes) {
    WriteFile(tmp_.path / "src" / "x.txt", std::string(5000, 'x'));
    struct Case {
        const char *name, *switches, *magic;
        int type;
    } cases[] = {
        {"plain.tar", "", "tar", 1},    {"z.tgz", "-z ", "gzip", 2},
        {"z9.tgz", "-z9 ", "gzip", 2},  {"b.tar.bz2", "-B ", "bzip2", 6},
        {"b9.tbz", "-B9 ", "bzip2", 6}, {"named.tar.gz", "", "gzip", 2},
        {"j.txz", "-J ", "xz", 8},
    };
    auto getType = lib_->Get<ArcGetArchiveTypeProc>("TarGetArchiveType");
    for (const auto &c : cases) {
        fs::path archive = tmp_.path / c.name;
        // The back-end's example form: base folder with -o, relative name.
        ASSERT_EQ(Tar(std::string("c ") + c.switches + " -f " + Q(archive) + " -o " +
                      Dir(tmp_.path / "src") + " \"x.txt\" "),
                  0)
            << c.name << ": " << Output();
        EXPECT_EQ(Magic(archive), c.magic) << c.name;
        EXPECT_EQ(Listing(archive), "x.txt\n") << c.name;
        EXPECT_EQ(getType(archive.c_str()), c.type) << c.name;
    }
}

TEST_F(Tar32, ArchiveTypesOfFixturesAndLoneCompressedFiles) {
    fs::path lone = tmp_.path / "notes.txt";
    WriteFile(lone, "just some text\n");
    ASSERT_EQ(Shell("gzip -k " + Quote(lone.string())), 0);
    ASSERT_EQ(Shell("bzip2 -k " + Quote(lone.string())), 0);
    struct Case {
        fs::path file;
        int type;
    } cases[] = {
        {kData / "test_compat_gtar_1.tar", 1},
        {kData / "cpio_gnu_newc.cpio", 1},
        {kData / "ar_gnu.a", 1},
        {kData / "test_compat_gzip_1.tgz", 2},
        {kData / "test_compat_mac-1.tar.Z", 4},
        {kData / "test_compat_bzip2_1.tbz", 6},
        {kData / "tar_ustar.tar.bz2", 6},
        {tmp_.path / "notes.txt.gz", 3},
        {tmp_.path / "notes.txt.bz2", 7},
        {lone, 0},
        {tmp_.path / "missing.tar", 0},
        {kData / "test_read_format_7zip_copy.7z", 0},
    };
    auto getType = lib_->Get<ArcGetArchiveTypeProc>("TarGetArchiveType");
    for (const auto &c : cases)
        EXPECT_EQ(getType(c.file.c_str()), c.type) << c.file;
}

TEST_F(Tar32, ExtractsEveryFixtureAsItsManifestSays) {
    auto manifest = ReadManifest(kData / "MANIFEST.tsv");
    const char *fixtures[] = {
        "tar_gnu_sjis.tar.gz",
        "tar_ustar.tar.bz2",
        "test_compat_gzip_1.tgz",
        "test_compat_bzip2_1.tbz",
        "test_compat_mac-1.tar.Z",
        "test_compat_tar_hardlink_1.tar",
        "test_compat_perl_archive_tar.tar",
        "test_read_format_tar_concatenated.tar",
        "test_read_format_tar_pax_timestamps.tar",
        "test_compat_gtar_1.tar",
        "test_compat_tar_directory_1.tar",
        "cpio_gnu_newc.cpio",
        "test_compat_cpio_1.cpio",
        "test_read_format_cpio_bin_le.cpio",
        "ar_gnu.a",
        "test_read_format_ar.ar",
    };
    auto open = lib_->Get<ArcOpenArchiveProc>("TarOpenArchive");
    auto findFirst = lib_->Get<ArcFindFirstProc>("TarFindFirst");
    auto findNext = lib_->Get<ArcFindNextProc>("TarFindNext");
    auto close = lib_->Get<ArcCloseArchiveProc>("TarCloseArchive");
    auto sizeEx = lib_->Get<ArcGetSizeExProc>("TarGetOriginalSizeEx");
    for (const char *name : fixtures) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(manifest.count(name));
        const Fixture &f = manifest[name];
        fs::path dest = tmp_.path / name;
        ASSERT_EQ(Tar("x -f " + Q(kData / name) + " -o " + Dir(dest) + " "), 0) << Output();
        for (const auto &[entry, sha] : f.sha256)
            EXPECT_EQ(Sha256(dest / entry), sha) << entry;
        // The listing has every file with its size.
        HARC h = open(nullptr, (kData / name).c_str(), 0);
        ASSERT_NE(h, nullptr);
        std::map<std::string, uint64_t> listed;
        INDIVIDUALINFO info;
        for (int r = findFirst(h, "*", &info); r == 0; r = findNext(h, &info)) {
            int64_t size = -1;
            EXPECT_TRUE(sizeEx(h, &size));
            EXPECT_EQ(static_cast<uint64_t>(size), info.dwOriginalSize);
            listed[info.szFileName] = static_cast<uint64_t>(size);
        }
        for (const auto &[entry, size] : f.sizes) {
            ASSERT_TRUE(listed.count(entry)) << entry;
            EXPECT_EQ(listed[entry], size) << entry;
        }
        EXPECT_EQ(close(h), 0);
    }
}

TEST_F(Tar32, ExtractWithAndWithoutStoredFolders) {
    fs::path fixture = kData / "tar_ustar.tar.bz2";
    ASSERT_EQ(
        Tar("x --use-directory=1 -B -f " + Q(fixture) + " -o " + Dir(tmp_.path / "keep") + " "), 0);
    EXPECT_TRUE(fs::exists(tmp_.path / "keep" / "dir" / "sub" / "deep.txt"));
    ASSERT_EQ(
        Tar("x --use-directory=0 -B -f " + Q(fixture) + " -o " + Dir(tmp_.path / "flat") + " "), 0);
    EXPECT_TRUE(fs::exists(tmp_.path / "flat" / "deep.txt"));
    EXPECT_FALSE(fs::exists(tmp_.path / "flat" / "dir"));
    EXPECT_EQ(Sha256(tmp_.path / "flat" / "deep.txt"),
              "64896f89fd11190013b70103e603a1c5826e56b7fb7d2197ab279b0690043599");
}

TEST_F(Tar32, FileArgumentsSelectEntries) {
    fs::path fixture = kData / "tar_ustar.tar.bz2";
    struct Case {
        const char *switches, *pattern;
        bool deep, a;
    } cases[] = {
        {"", "\"*.txt\"", true, true},
        {"", "\"deep.txt\"", true, false},                     // the last part of the name
        {"--check-all-path=1 ", "\"deep.txt\"", false, false}, // whole names only
        {"--check-all-path=1 ", "\"dir/sub/deep.txt\"", true, false},
        {"", "\"dir\"", true, false}, // a folder brings its contents
    };
    int n = 0;
    for (const auto &c : cases) {
        fs::path dest = tmp_.path / std::to_string(n++);
        int r = Tar(std::string("x ") + c.switches + "-f " + Q(fixture) + " -o " + Dir(dest) + " " +
                    c.pattern + " ");
        EXPECT_EQ(r, c.deep || c.a ? 0 : 32774) << c.pattern << Output();
        EXPECT_EQ(fs::exists(dest / "dir" / "sub" / "deep.txt"), c.deep) << c.pattern;
        EXPECT_EQ(fs::exists(dest / "a.txt"), c.a) << c.pattern;
        EXPECT_FALSE(fs::exists(dest / "rnd.bin")) << c.pattern;
    }
}

TEST_F(Tar32, ExtractReplacesAnExistingFile) {
    fs::path dest = tmp_.path / "out";
    WriteFile(dest / "f1", "old content that is longer");
    ASSERT_EQ(Tar("x -z -f " + Q(kData / "test_compat_gzip_1.tgz") + " -o " + Dir(dest) + " "), 0);
    EXPECT_EQ(Sha256(dest / "f1"),
              "d690916cdea320e620748799a2051a0f4e07d6d0c3e2bc199ea3c69e0c0b5e4f");
}

TEST_F(Tar32, DeleteRewritesAndKeepsTheCompression) {
    fs::path src = tmp_.path / "src";
    for (const char *n : {"a.txt", "b.txt", "c.txt"})
        WriteFile(src / n, std::string("content of ") + n);
    fs::path archive = tmp_.path / "d.tgz";
    ASSERT_EQ(Tar("c -z  -f " + Q(archive) + " -o " + Dir(src) + " \"a.txt\" \"b.txt\" \"c.txt\" "),
              0);
    ASSERT_EQ(Tar("d -f " + Q(archive) + " \"b.txt\" "), 0) << Output();
    EXPECT_EQ(Magic(archive), "gzip");
    EXPECT_EQ(Listing(archive), "a.txt\nc.txt\n");
    std::string before = ReadFile(archive);
    EXPECT_EQ(Tar("d -f " + Q(archive) + " \"nothing.txt\" "), 32774);
    EXPECT_EQ(ReadFile(archive), before); // untouched
    EXPECT_EQ(CountFiles(tmp_.path), 5u); // src, 3 files, archive: no temporary left
}

TEST_F(Tar32, AddAndUpdateKeepTheOtherEntries) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "a.txt", "first");
    WriteFile(src / "b.txt", "second");
    fs::path archive = tmp_.path / "u.tar";
    ASSERT_EQ(Tar("c -f " + Q(archive) + " -o " + Dir(src) + " \"a.txt\" "), 0);
    WriteFile(src / "a.txt", "first, changed");
    ASSERT_EQ(Tar("r -f " + Q(archive) + " -o " + Dir(src) + " \"a.txt\" \"b.txt\" "), 0);
    EXPECT_EQ(Listing(archive), "a.txt\nb.txt\n");
    std::string content;
    Shell("bsdtar -xOf " + Quote(archive.string()) + " a.txt", &content);
    EXPECT_EQ(content, "first, changed");
}

TEST_F(Tar32, ProgressReportsAndCancelLeavesTheOldArchive) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "big.bin", std::string(300000, 'b')); // several 64 KiB blocks
    WriteFile(src / "small.txt", "s");
    fs::path archive = tmp_.path / "p.tgz";
    WriteFile(archive, "the old archive");
    RecordingWindow w;
    auto setOwner = lib_->Get<ArcSetOwnerWindowExProc>("TarSetOwnerWindowEx");
    auto killOwner = lib_->Get<ArcKillOwnerWindowExProc>("TarKillOwnerWindowEx");
    ASSERT_TRUE(setOwner(w.Handle(), nullptr));
    w.stopAt = 2; // the second block of big.bin
    EXPECT_EQ(Tar("c -z -f " + Q(archive) + " -o " + Dir(src) + " \"big.bin\" \"small.txt\" "),
              32800);
    EXPECT_EQ(ReadFile(archive), "the old archive");
    EXPECT_EQ(CountFiles(tmp_.path), 4u); // src, 2 files, the old archive
    EXPECT_EQ(w.states, (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(w.sources[0], (src / "big.bin").string());

    w.states.clear();
    w.stopAt = -1;
    ASSERT_EQ(Tar("c -z -f " + Q(archive) + " -o " + Dir(src) + " \"big.bin\" \"small.txt\" "), 0);
    EXPECT_EQ(w.states.front(), 0);
    EXPECT_EQ(w.states.back(), 2);
    EXPECT_EQ(std::count(w.states.begin(), w.states.end(), 2), 2);
    // Extraction reports too: the archive opened first, then each entry.
    w.states.clear();
    ASSERT_EQ(Tar("x -f " + Q(archive) + " -o " + Dir(tmp_.path / "out") + " "), 0);
    EXPECT_EQ(w.states.front(), 3);
    EXPECT_EQ(std::count(w.states.begin(), w.states.end(), 0), 2);
    // Cancel while extracting: no partial file.
    w.states.clear();
    w.stopAt = 2;
    EXPECT_EQ(Tar("x -f " + Q(archive) + " -o " + Dir(tmp_.path / "out2") + " "), 32800);
    EXPECT_EQ(CountFiles(tmp_.path / "out2"), 0u);
    EXPECT_TRUE(killOwner(w.Handle()));
    EXPECT_FALSE(killOwner(w.Handle()));
}

TEST_F(Tar32, EvilArchivesWriteNothingOutsideTheDestination) {
    struct Case {
        const char *fixture;
        std::vector<const char *> refused; // text the report must name
    } cases[] = {
        {"evil_dotdot.tar", {"../escape.txt", "a/../../escape2.txt"}},
        {"evil_absolute.tar", {"/tmp/arclib-evil-absolute.txt"}},
        {"evil_symlink.tar", {"abs -> /tmp", "up -> ../..", "hard => ../../etc/passwd"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fixture);
        fs::path dest = tmp_.path / c.fixture / "a" / "b";
        EXPECT_EQ(Tar("x -f " + Q(kData / c.fixture) + " -o " + Dir(dest) + " "), 32777);
        for (const char *r : c.refused)
            EXPECT_NE(Output().find(std::string("refused: ") + r), std::string::npos) << r;
        EXPECT_EQ(ReadFile(dest / "good.txt"), "good\n");
        // Nothing landed above the destination or in /tmp.
        EXPECT_EQ(CountFiles(tmp_.path / c.fixture / "a"), 1 + CountFiles(dest));
        EXPECT_FALSE(fs::exists("/tmp/arclib-evil-absolute.txt"));
        EXPECT_FALSE(fs::exists("/tmp/arclib-evil-through-abs.txt"));
    }
    fs::path dest = tmp_.path / "evil_symlink.tar" / "a" / "b";
    EXPECT_TRUE(fs::is_symlink(dest / "ok")); // the harmless link is made
    EXPECT_FALSE(fs::is_symlink(dest / "abs"));
    // A file below a refused link lands in a real folder inside the destination.
    EXPECT_TRUE(fs::is_regular_file(dest / "abs" / "arclib-evil-through-abs.txt"));
}

TEST_F(Tar32, ExtractMemCopiesOneEntry) {
    auto extractMem = lib_->Get<ArcExtractMemProc>("TarExtractMem");
    std::string line = " -f " + Q(kData / "test_compat_gzip_1.tgz") + " \"d1/f2\" ";
    unsigned char buf[64] = {};
    DWORD written = 0;
    ASSERT_EQ(extractMem(nullptr, line.c_str(), buf, sizeof buf, nullptr, nullptr, &written), 0);
    EXPECT_EQ(written, 3u);
    unsigned char tiny[2] = {};
    EXPECT_EQ(extractMem(nullptr, line.c_str(), tiny, sizeof tiny, nullptr, nullptr, &written),
              32780);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(std::memcmp(tiny, buf, 2), 0);
    std::string missing = " -f " + Q(kData / "test_compat_gzip_1.tgz") + " \"nope\" ";
    EXPECT_EQ(extractMem(nullptr, missing.c_str(), buf, sizeof buf, nullptr, nullptr, &written),
              32774);
}

TEST_F(Tar32, CheckArchiveHeadersAndFullData) {
    auto check = lib_->Get<ArcCheckArchiveProc>("TarCheckArchive");
    fs::path good = kData / "tar_ustar.tar.bz2";
    EXPECT_TRUE(check(good.c_str(), 0));
    EXPECT_TRUE(check(good.c_str(), 2));
    fs::path cut = tmp_.path / "cut.tar.bz2";
    std::string bytes = ReadFile(good);
    WriteFile(cut, bytes.substr(0, bytes.size() / 2));
    EXPECT_FALSE(check(cut.c_str(), 2));
    EXPECT_FALSE(check((tmp_.path / "missing.tar").c_str(), 0));
    EXPECT_FALSE(check((kData / "test_read_format_7zip_copy.7z").c_str(), 0));
    EXPECT_FALSE(check(nullptr, 0));
    EXPECT_EQ(Tar("t -f " + Q(cut) + " "), 32772) << Output();
    EXPECT_EQ(Tar("t -f " + Q(good) + " "), 0);
}

TEST_F(Tar32, UnreadableCommandLinesAndMissingFiles) {
    struct Case {
        std::string line;
        int code;
    } cases[] = {
        {"c -f \"" + tmp_.str() + "/a.tar", 32769},  // unclosed quote
        {"c -z \"x.txt\" ", 32769},                  // no -f
        {"-f \"" + tmp_.str() + "/a.tar\" ", 32769}, // no command
        {"x -f \"" + tmp_.str() + "/none.tar\" ", 32770},
        {"c -f \"" + tmp_.str() + "/a.tar\" \"" + tmp_.str() + "/missing.txt\" ", 32775},
        {"c -f \"" + tmp_.str() + "/a.tar\" ", 32774},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Tar(c.line), c.code) << c.line;
        EXPECT_FALSE(Output().empty()) << c.line;
    }
    EXPECT_FALSE(fs::exists(tmp_.path / "a.tar")); // no archive from a failed pack
    // Unknown switches are ignored.
    WriteFile(tmp_.path / "k.txt", "k");
    EXPECT_EQ(Tar("c -AH -I --display-dialog=0 -g --frobnicate -f " + Q(tmp_.path / "k.tar") +
                  " -o " + Dir(tmp_.path) + " \"k.txt\" "),
              0);
}

TEST_F(Tar32, OutputBufferIsCutAndTerminated) {
    auto tar = lib_->Get<ArcCommandProc>("Tar");
    char small[8];
    std::memset(small, 'Z', sizeof small);
    EXPECT_EQ(tar(nullptr, "c \"unclosed", small, sizeof small), 32769);
    EXPECT_EQ(std::strlen(small), 7u);
    char untouched[4] = {'Q', 'Q', 'Q', 'Q'};
    EXPECT_EQ(tar(nullptr, "c \"unclosed", untouched, 0), 32769);
    EXPECT_EQ(untouched[0], 'Q');
    EXPECT_EQ(tar(nullptr, "c \"unclosed", nullptr, 100), 32769);
    EXPECT_EQ(tar(nullptr, nullptr, nullptr, 0), 32769);
}

TEST_F(Tar32, ResponseFileAndUtf8Names) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "表.txt", "hyou");
    WriteFile(src / "ソフト" / "b c.txt", "blank");
    fs::path list = tmp_.path / "list.txt";
    WriteFile(list, "\"表.txt\"\r\n\"ソフト/b c.txt\"\r\n");
    fs::path archive = tmp_.path / "r.tar";
    ASSERT_EQ(Tar("c -f " + Q(archive) + " -o " + Dir(src) + " \"@" + list.string() + "\" "), 0)
        << Output();
    EXPECT_EQ(Listing(archive), "表.txt\nソフト/b c.txt\n");
    // The names are UTF-8 in the archive itself, whatever the reader's locale.
    std::string bytes = ReadFile(archive);
    EXPECT_NE(bytes.find("表.txt"), std::string::npos);
}

TEST_F(Tar32, LoneCompressedFileExtractsUnderItsName) {
    fs::path lone = tmp_.path / "notes.txt";
    WriteFile(lone, "lone file\n");
    ASSERT_EQ(Shell("gzip " + Quote(lone.string())), 0);
    ASSERT_EQ(Tar("x -f " + Q(tmp_.path / "notes.txt.gz") + " -o " + Dir(tmp_.path / "out") + " "),
              0)
        << Output();
    EXPECT_EQ(ReadFile(tmp_.path / "out" / "notes.txt"), "lone file\n");
}

TEST_F(Tar32, OddFixturesReadWithoutHarm) {
    // A negative volume-header size once looped for ever; names of raw bytes come back unchanged.
    fs::path neg = tmp_.path / "neg";
    EXPECT_EQ(Tar("x -f " + Q(kData / "test_read_format_tar_V_negative_size.tar") + " -o " +
                  Dir(neg) + " "),
              0);
    EXPECT_EQ(CountFiles(neg), 0u);
    fs::path raw = tmp_.path / "raw";
    EXPECT_EQ(Tar("x -f " + Q(kData / "test_pax_filename_encoding.tar") + " -o " + Dir(raw) + " "),
              0);
    EXPECT_EQ(ReadFile(raw / "abc\314\214mno\374xyz").size(), 5u);
}

TEST_F(Tar32, AFileOfNoBytesIsNoArchive) {
    auto getType = lib_->Get<ArcGetArchiveTypeProc>("TarGetArchiveType");
    auto check = lib_->Get<ArcCheckArchiveProc>("TarCheckArchive");
    for (const char *name : {"empty.dat", "empty.tar"}) {
        SCOPED_TRACE(name);
        fs::path empty = tmp_.path / name;
        WriteFile(empty, "");
        EXPECT_EQ(getType(empty.c_str()), 0);
        EXPECT_FALSE(check(empty.c_str(), 0));
        EXPECT_FALSE(check(empty.c_str(), 2));
    }
    // A tar with no entries is still a tar.
    fs::path none = tmp_.path / "none.tar";
    WriteFile(none, std::string(10240, '\0'));
    EXPECT_EQ(getType(none.c_str()), 1);
    EXPECT_TRUE(check(none.c_str(), 0));
}

TEST_F(Tar32, TheSummaryCountsFilesNotFolders) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "d/a.txt", "a");
    WriteFile(src / "d/e/b.txt", "b");
    fs::path archive = tmp_.path / "t.tar";
    ASSERT_EQ(Tar("c -o " + Dir(src) + " -f " + Q(archive) + " \"d\""), 0) << Output();
    ASSERT_EQ(Tar("x -f " + Q(archive) + " -o " + Dir(tmp_.path / "out") + " "), 0) << Output();
    EXPECT_NE(Output().find("2 of 2 files extracted"), std::string::npos) << Output();
}

// The names of one archive are read in one code page: EUC-JP "表" must not pass for UTF-8 "ɽ"
// because its two bytes happen to form valid UTF-8.
TEST_F(Tar32, LegacyNamesAreReadInOneCodePagePerArchive) {
    for (const char *fixture : {"tar_gnu_eucjp_names.tar", "tar_gnu_eucjp_names.tar.gz"}) {
        SCOPED_TRACE(fixture);
        const fs::path out = tmp_.path / fixture;
        ASSERT_EQ(Tar("x -f " + Q(kData / fixture) + " -o " + Dir(out) + " "), 0) << Output();
        EXPECT_EQ(ReadFile(out / "表.txt"), "hyou\n");
        EXPECT_EQ(ReadFile(out / "漢字.txt"), "kanji\n");
        EXPECT_EQ(CountFiles(out), 2u);
        ASSERT_EQ(Tar("l -f " + Q(kData / fixture) + " "), 0) << Output();
        EXPECT_EQ(Output().rfind("表.txt\n漢字.txt\n", 0), 0u) << Output();
    }
}
