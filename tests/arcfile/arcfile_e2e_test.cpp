// arcfile end to end: the program (installed, when the test run names it) on the shared
// fixtures and on archives it makes, checked with other archivers; its exit statuses and
// messages; the progress line and Ctrl-C on a pseudo-terminal.
#include "tests/arcfile/ArcfileTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sys/time.h>

using namespace arcfile_test;
using archtest::Fixture;
using archtest::ReadManifest;
using archtest::Sha256;

namespace {

const fs::path kFixtures = FIXTURES_DIR;

// The name and size of each entry of `list --json`.
std::map<std::string, long long> JsonEntries(const std::string &json) {
    static const std::regex entry(R"re(\{"name":"((?:[^"\\]|\\.)*)".*?"size":(-?\d+))re");
    std::map<std::string, long long> entries;
    for (std::sregex_iterator it(json.begin(), json.end(), entry), end; it != end; ++it) {
        std::string name;
        const std::string raw = (*it)[1];
        for (size_t i = 0; i < raw.size(); ++i)
            name += raw[i] == '\\' && i + 1 < raw.size() ? raw[++i] : raw[i];
        entries[name] = std::stoll((*it)[2]);
    }
    return entries;
}

class Arcfile : public ::testing::Test {
protected:
    TempDir tmp_;
    fs::path dir() const { return tmp_.path; }
    TRunResult Arc(const std::vector<std::string> &args, const std::string &env = "") {
        return arcfile_test::Run(tmp_.path, args, env);
    }
    // A small tree: text, binary bytes (NUL and 0xFF included), a hidden file, a subfolder.
    void MakeTree(const fs::path &root) {
        WriteFile(root / "a.txt", "alpha\n");
        std::string bin;
        for (int i = 0; i < 70000; ++i)
            bin += static_cast<char>((i * 7919) % 256);
        WriteFile(root / "sub/b.bin", bin);
        WriteFile(root / "sub/deeper/c.txt", std::string(5000, 'c'));
        WriteFile(root / ".hidden", "h");
    }
};

// ---- usage and errors -------------------------------------------------------------------------

TEST_F(Arcfile, BadInputGetsAClearMessageAndItsStatus) {
    WriteFile(dir() / "plain.txt", "not a folder");
    fs::create_directories(dir() / "folder");
    ASSERT_EQ(Arc({"pack", "good.zip", "plain.txt"}).status, 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *message; // a part of standard error
    };
    const Case cases[] = {
        {{}, 2, "no command given"},
        {{"frobnicate", "a.zip"}, 2, "unknown command 'frobnicate'"},
        {{"list", "--frob", "good.zip"}, 2, "unknown switch '--frob'"},
        {{"list", "-Z", "good.zip"}, 2, "unknown switch '-Z'"},
        {{"list", "--level", "3", "good.zip"}, 2, "'list' takes no --level"},
        {{"--overwrite", "list", "good.zip"}, 2, "'list' takes no --overwrite"},
        {{"extract", "good.zip", "-o"}, 2, "-o needs a value"},
        {{"list"}, 2, "'list' needs an archive"},
        {{"pack", "new.zip"}, 2, "usage: arcfile pack ARCHIVE FILE..."},
        {{"cat", "good.zip"}, 2, "usage: arcfile cat ARCHIVE ENTRY"},
        {{"list", "missing.zip"}, 2, "missing.zip: No such file or directory"},
        {{"test", "folder"}, 2, "folder is a folder, not an archive"},
        {{"pack", "folder", "plain.txt"}, 2, "folder is a folder, not an archive"},
        {{"pack", "nowhere/new.zip", "plain.txt"}, 2, "does not exist"},
        {{"extract", "good.zip", "-o", "plain.txt"}, 2, "plain.txt is not a folder"},
        {{"extract", "good.zip", "-o", "/proc/arcfile-test/out"}, 2, "cannot make the folder"},
        {{"extract", "good.zip", "--overwrite", "--skip-existing"}, 2, "exclude each other"},
        {{"list", "--type", "arc", "good.zip"}, 2, "unknown format 'arc'"},
        {{"pack", "--newer", "2024-13-01", "x.zip", "plain.txt"}, 2, "not a valid date"},
        {{"pack", "--level", "12", "x.zip", "plain.txt"}, 2, "--level takes a number"},
        {{"pack", "--level", "5", "x.tar", "plain.txt"}, 2, "a tar archive is not compressed"},
        {{"pack", "x.gca", "plain.txt"}, 2, "書庫の形式を特定できませんでした。"},
        {{"list", "plain.txt"}, 2, "書庫の形式を判別できません。"},
        {{"update", "good.zip.7z", "plain.txt"}, 2, "No such file"},
        {{"extract", "good.zip", "nomatch.txt"}, 1, "no entry matched"},
        {{"delete", "good.zip", "nomatch.txt"}, 1, "the library reported error 32774"},
        {{"list", "good.zip", "nomatch*"}, 1, "no entry matches"},
        {{"pack", "x.zip", "nomatch*"}, 1, "nothing to pack"},
        {{"options"}, 2, "usage: arcfile options --save FILE"},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const auto &a : c.args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        const TRunResult r = Arc(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    // Nothing of the failed runs is left behind.
    EXPECT_FALSE(fs::exists(dir() / "x.zip"));
    EXPECT_FALSE(fs::exists(dir() / "x.tar"));
}

TEST_F(Arcfile, HelpAndVersion) {
    const TRunResult help = Arc({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *word : {"list", "test", "extract", "pack", "delete", "update", "sfx", "cat",
                             "formats", "options", "--type", "--json", "130"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    const TRunResult pack = Arc({"pack", "--help"});
    EXPECT_EQ(pack.status, 0);
    EXPECT_NE(pack.out.find("--exclude"), std::string::npos);
    EXPECT_EQ(pack.out.find("--overwrite"), std::string::npos) << "a switch of extract";
    const TRunResult version = Arc({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_search(version.out, std::regex(R"(^arcfile \d+\.\d+\.\d+\n$)")))
        << version.out;
}

TEST_F(Arcfile, FormatsNamesEachLibraryAndWhetherItIsThere) {
    const TRunResult r = Arc({"formats", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The formats without a library on this system are listed as such, with their libraries.
    for (const auto &[format, library] : std::vector<std::pair<std::string, std::string>>{
             {"bga", "BGA32.DLL"}, {"yz1", "YYZ32.DLL"}}) {
        const std::regex row("\\{\"format\":\"" + format +
                             "\"[^\n]*\"available\":false[^\n]*\"name\":\"" + library + "\"");
        EXPECT_TRUE(std::regex_search(r.out, row)) << format;
    }
    for (const char *format : {"lha", "zip", "cab", "arj", "tar", "tgz", "bz2", "rar", "7z"}) {
        const std::regex row(std::string("\\{\"format\":\"") + format +
                             "\"[^\n]*\"available\":true[^\n]*\"present\":true,\"path\":\"/");
        EXPECT_TRUE(std::regex_search(r.out, row)) << format;
    }
    // With the library search pointed at an empty folder nothing is found: the answer is looked
    // up, not assumed.
    fs::create_directories(dir() / "nolibs");
    const TRunResult none =
        Arc({"formats"}, "QUORVEL_ARCHIVER_PATH=" + Quote((dir() / "nolibs").string()));
    ASSERT_EQ(none.status, 0);
    EXPECT_EQ(none.out.find(" available "), std::string::npos) << none.out;
    EXPECT_NE(none.out.find("zip  unavailable"), std::string::npos) << none.out;
}

// ---- the shared fixtures ----------------------------------------------------------------------

const char *const kLibraryFolders[] = {"zip", "7z", "lzh", "tar", "cpio", "ar"};

// Fixtures that are damaged or whose headers are encrypted: listing must fail, with a message.
const std::set<std::string> kUnreadable = {
    "test_read_format_7zip_malformed.7z", "test_read_format_7zip_malformed2.7z",
    "test_read_format_zip_malformed1.zip", "7z_lzma2_encrypted_headers.7z"};
// Names kept in a legacy encoding that the MANIFEST shows decoded (EUC-JP cannot be told from
// UTF-8 in one name; the pax name holds a raw byte): compared by sizes only.
const std::set<std::string> kLegacyNames = {"test_pax_filename_encoding.tar",
                                            "test_read_format_ustar_filename_eucjp.tar.Z",
                                            "test_read_format_cpio_filename_eucjp.cpio"};

fs::path FixtureRequired() {
    if (!fs::exists(kFixtures / "MANIFEST.tsv"))
        return {};
    return kFixtures;
}

#define REQUIRE_FIXTURES()                                                                         \
    if (FixtureRequired().empty())                                                                 \
    GTEST_SKIP() << "the shared fixtures are not beside the source tree (" << kFixtures.string()   \
                 << "); these tests need them"

TEST_F(Arcfile, ListsEveryFixtureAsItsManifestSays) {
    REQUIRE_FIXTURES();
    const auto manifest = ReadManifest(kFixtures / "MANIFEST.tsv");
    size_t checked = 0;
    for (const char *folder : kLibraryFolders) {
        for (const auto &file : fs::directory_iterator(kFixtures / folder)) {
            const std::string name = file.path().filename().string();
            SCOPED_TRACE(name);
            const TRunResult r = Arc({"list", "--json", file.path().string()});
            if (kUnreadable.count(name)) {
                EXPECT_NE(r.status, 0);
                EXPECT_FALSE(r.err.empty());
                continue;
            }
            ASSERT_EQ(r.status, 0) << r.err;
            const auto listed = JsonEntries(r.out);
            const auto it = manifest.find(name);
            ASSERT_NE(it, manifest.end());
            if (kLegacyNames.count(name)) {
                std::multiset<long long> want, got;
                for (const auto &[n, size] : it->second.sizes)
                    want.insert(static_cast<long long>(size));
                for (const auto &[n, size] : listed)
                    if (!n.ends_with("/"))
                        got.insert(size);
                EXPECT_EQ(got, want);
            } else {
                for (const auto &[n, size] : it->second.sizes) {
                    const auto e = listed.find(n);
                    ASSERT_NE(e, listed.end()) << n << "\n" << r.out;
                    EXPECT_EQ(e->second, static_cast<long long>(size)) << n;
                }
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 60u);
}

// Encrypted entries: there is no password support, so extraction fails with 32778.
const std::set<std::string> kEncrypted = {
    "test_read_format_zip_traditional_encryption_data.zip", "zip_infozip_zipcrypto.zip",
    "test_read_format_zip_winzip_aes128.zip", "test_read_format_7zip_encryption.7z"};
// Damaged entries are refused (the others come out) and the run fails: a symbolic link entry
// without a target, a zip entry whose CRC is wrong.
const std::map<std::string, std::string> kDamagedEntries = {
    {"test_read_format_lha_symlink_missing_target.lzh", "bad_symlink"},
    {"test_read_format_zip.zip", "file2"}};

TEST_F(Arcfile, ExtractsFixturesByteForByte) {
    REQUIRE_FIXTURES();
    const auto manifest = ReadManifest(kFixtures / "MANIFEST.tsv");
    size_t files = 0;
    for (const char *folder : kLibraryFolders) {
        for (const auto &file : fs::directory_iterator(kFixtures / folder)) {
            const std::string name = file.path().filename().string();
            const auto it = manifest.find(name);
            if (it == manifest.end() || it->second.sha256.empty() || kUnreadable.count(name) ||
                kLegacyNames.count(name))
                continue;
            SCOPED_TRACE(name);
            const fs::path out = dir() / "x" / name;
            const TRunResult r = Arc({"extract", "-q", file.path().string(), "-o", out.string()});
            if (kEncrypted.count(name)) {
                EXPECT_EQ(r.status, 1);
                EXPECT_NE(r.err.find("32778"), std::string::npos) << r.err;
                continue;
            }
            const auto damaged = kDamagedEntries.find(name);
            if (damaged != kDamagedEntries.end()) {
                EXPECT_NE(r.err.find(damaged->second), std::string::npos) << r.err;
                EXPECT_FALSE(fs::exists(out / damaged->second));
            }
            for (const auto &[entry, sum] : it->second.sha256) {
                // A hash listed under a name the lister showed otherwise (a backslash, a
                // mis-decoded legacy name) has no file of that name to compare.
                if (!it->second.sizes.count(entry) ||
                    (damaged != kDamagedEntries.end() && damaged->second == entry))
                    continue;
                EXPECT_EQ(Sha256(out / entry), sum) << entry << "\n" << r.err;
                ++files;
            }
            EXPECT_EQ(r.status, damaged != kDamagedEntries.end() ? 1 : 0) << r.err;
            fs::remove_all(out);
        }
    }
    EXPECT_GT(files, 100u);
}

TEST_F(Arcfile, CatWritesAFixtureEntryAsItIs) {
    REQUIRE_FIXTURES();
    const fs::path zip = kFixtures / "zip/zip_infozip_stored.zip";
    const TRunResult listed = Arc({"list", "--json", zip.string()});
    ASSERT_EQ(listed.status, 0);
    std::string file;
    for (const auto &[n, size] : JsonEntries(listed.out))
        if (!n.ends_with("/") && size > 0)
            file = n;
    ASSERT_FALSE(file.empty());
    const TRunResult r = Arc({"cat", zip.string(), file});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(archtest::Shell("cd " + Quote(dir().string()) + " && unzip -p " +
                              Quote(zip.string()) + " " + Quote(file) + " > expected"),
              0);
    EXPECT_EQ(r.out, ReadFile(dir() / "expected"));
}

// ---- archives it makes, checked with other tools ----------------------------------------------

struct PeerCase {
    const char *archive;
    const char *tool;
    const char *test;  // @ is the archive
    const char *names; // prints the entry names of files, one a line
    const char *cat;   // prints one entry (%) to standard output
};

const PeerCase kPeers[] = {
    {"made.zip", "unzip", "unzip -tq @", "unzip -Z1 @ | grep -v '/$'", "unzip -p @ %"},
    {"made.7z", "7z", "7z t @", "7z l -slt @ | sed -n 's/^Path = //p' | tail -n +2",
     "7z e -so @ %"},
    {"made.lzh", "lhasa", "lhasa t @", "lhasa l @ | awk '$1 ~ /^-r/ {print $NF}'", "lhasa pq @ %"},
    {"made.tgz", "bsdtar", "bsdtar -tzf @", "bsdtar -tf @ | grep -v '/$'", "bsdtar -xOf @ %"},
    {"made.tar", "bsdtar", "bsdtar -tf @", "bsdtar -tf @ | grep -v '/$'", "bsdtar -xOf @ %"},
    {"made.tar.bz2", "bsdtar", "bsdtar -tjf @", "bsdtar -tf @ | grep -v '/$'", "bsdtar -xOf @ %"},
};

std::string Fill(std::string text, const std::string &archive, const std::string &entry = "") {
    for (size_t p; (p = text.find('@')) != std::string::npos;)
        text.replace(p, 1, Quote(archive));
    for (size_t p; (p = text.find('%')) != std::string::npos;)
        text.replace(p, 1, Quote(entry));
    return text;
}

TEST_F(Arcfile, PacksArchivesOtherToolsReadBack) {
    MakeTree(dir() / "src");
    const std::vector<std::string> files = {"src/.hidden", "src/a.txt", "src/sub/b.bin",
                                            "src/sub/deeper/c.txt"};
    for (const auto &c : kPeers) {
        SCOPED_TRACE(c.archive);
        if (!HaveTool(c.tool)) {
            ADD_FAILURE() << c.tool << " is not installed";
            continue;
        }
        const TRunResult packed = Arc({"pack", "-r", c.archive, "src"});
        ASSERT_EQ(packed.status, 0) << packed.err;
        const fs::path archive = dir() / c.archive;
        std::string out;
        EXPECT_EQ(archtest::Shell(Fill(c.test, archive.string()), &out), 0) << out;
        ASSERT_EQ(archtest::Shell(Fill(c.names, archive.string()) + " | sort", &out), 0);
        std::string want;
        for (const auto &f : files)
            want += f + "\n";
        EXPECT_EQ(out, want);
        for (const auto &f : files) {
            std::string bytes;
            archtest::Shell(Fill(c.cat, archive.string(), f) + " 2>/dev/null", &bytes);
            EXPECT_TRUE(bytes == ReadFile(dir() / f)) << f << ": " << bytes.substr(0, 200);
        }
        // Our own reading agrees: list, test, memory extraction and extraction.
        const TRunResult listed = Arc({"list", "--json", c.archive});
        ASSERT_EQ(listed.status, 0) << listed.err;
        for (const auto &f : files)
            EXPECT_EQ(listed.out.find("\"name\":\"" + f + "\"") != std::string::npos, true) << f;
        EXPECT_EQ(Arc({"test", c.archive}).status, 0);
        if (std::string(c.archive) != "made.7z") { // 7z has no memory extraction
            const TRunResult cat = Arc({"cat", c.archive, "src/sub/b.bin"});
            EXPECT_EQ(cat.status, 0) << cat.err;
            EXPECT_TRUE(cat.out == ReadFile(dir() / "src/sub/b.bin"));
        }
        const fs::path out_dir = dir() / "out" / c.archive;
        ASSERT_EQ(Arc({"extract", c.archive, "-o", out_dir.string()}).status, 0);
        for (const auto &f : files)
            EXPECT_TRUE(ReadFile(out_dir / f) == ReadFile(dir() / f)) << f;
        fs::remove_all(dir() / "out");
    }
}

TEST_F(Arcfile, ReadsWhatOtherToolsMake) {
    MakeTree(dir() / "src");
    struct Case {
        const char *archive;
        const char *tool;
        const char *make; // run in the scratch folder
    };
    const Case cases[] = {
        {"peer.zip", "zip", "zip -qr peer.zip src"},
        {"peer.7z", "7z", "7z a -bd peer.7z src >/dev/null"},
        {"peer.tar.gz", "bsdtar", "bsdtar -czf peer.tar.gz src"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.archive);
        if (!HaveTool(c.tool)) {
            ADD_FAILURE() << c.tool << " is not installed";
            continue;
        }
        std::string out;
        ASSERT_EQ(archtest::Shell("cd " + Quote(dir().string()) + " && " + c.make, &out), 0) << out;
        const fs::path to = dir() / "x";
        const TRunResult r = Arc({"extract", c.archive, "-o", to.string()});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const char *f : {"src/a.txt", "src/sub/b.bin", "src/sub/deeper/c.txt"})
            EXPECT_TRUE(ReadFile(to / f) == ReadFile(dir() / f)) << f;
        fs::remove_all(to);
    }
}

TEST_F(Arcfile, PackSelectsFilesAsItsSwitchesSay) {
    MakeTree(dir() / "src");
    WriteFile(dir() / "src/sub/skip.o", "object");
    // Old and new files by their last-write times.
    WriteFile(dir() / "src/old.txt", "old");
    struct timeval old[2] = {{946684800, 0}, {946684800, 0}}; // 2000-01-01
    ASSERT_EQ(::utimes((dir() / "src/old.txt").c_str(), old), 0);
    struct Case {
        std::vector<std::string> args; // after "pack sel.zip"
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {{"src/a.txt"}, {"src/a.txt"}},
        {{"-r", "src"},
         {"src/.hidden", "src/a.txt", "src/old.txt", "src/sub/b.bin", "src/sub/deeper/c.txt",
          "src/sub/skip.o"}},
        {{"-r", "--no-hidden", "src"},
         {"src/a.txt", "src/old.txt", "src/sub/b.bin", "src/sub/deeper/c.txt", "src/sub/skip.o"}},
        {{"-r", "--exclude", "*.o", "-x", "src/.hidden", "src"},
         {"src/a.txt", "src/old.txt", "src/sub/b.bin", "src/sub/deeper/c.txt"}},
        {{"--older", "2001-01-01", "-r", "src"}, {"src/old.txt"}},
        {{"--newer", "20010101", "src/*.txt"}, {"src/a.txt"}},
        {{"--base", "src", "-r", "sub"}, {"sub/b.bin", "sub/deeper/c.txt", "sub/skip.o"}},
        {{"-C", "src/sub", "*.bin", "deeper/c.txt"}, {"b.bin", "deeper/c.txt"}},
    };
    for (const auto &c : cases) {
        std::string shown;
        for (const auto &a : c.args)
            shown += a + " ";
        SCOPED_TRACE(shown);
        fs::remove(dir() / "sel.zip");
        std::vector<std::string> args{"pack", "sel.zip"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const TRunResult r = Arc(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string out;
        ASSERT_EQ(archtest::Shell("unzip -Z1 " + Quote((dir() / "sel.zip").string()) +
                                      " | grep -v '/$' | LC_ALL=C sort",
                                  &out),
                  0);
        std::string want;
        for (const auto &n : c.names)
            want += n + "\n";
        EXPECT_EQ(out, want);
    }
}

TEST_F(Arcfile, LevelZeroStoresAndNineCompresses) {
    WriteFile(dir() / "text.txt", std::string(200000, 'q'));
    ASSERT_EQ(Arc({"pack", "--level", "0", "stored.zip", "text.txt"}).status, 0);
    ASSERT_EQ(Arc({"pack", "--level", "9", "packed.zip", "text.txt"}).status, 0);
    ASSERT_EQ(Arc({"pack", "--level", "0", "stored.lzh", "text.txt"}).status, 0);
    ASSERT_EQ(Arc({"pack", "--level", "0", "stored.7z", "text.txt"}).status, 0);
    std::string out;
    archtest::Shell("unzip -v " + Quote((dir() / "stored.zip").string()), &out);
    EXPECT_NE(out.find("Stored"), std::string::npos) << out;
    archtest::Shell("unzip -v " + Quote((dir() / "packed.zip").string()), &out);
    EXPECT_NE(out.find("Defl"), std::string::npos) << out;
    EXPECT_LT(fs::file_size(dir() / "packed.zip"), 2000u);
    EXPECT_NE(Arc({"list", "stored.lzh"}).out.find("-lh0-"), std::string::npos);
    EXPECT_GT(fs::file_size(dir() / "stored.7z"), 200000u);
}

TEST_F(Arcfile, DeleteUpdateAndExtractRules) {
    MakeTree(dir() / "src");
    for (const char *archive : {"rules.zip", "rules.lzh", "rules.7z"}) {
        SCOPED_TRACE(archive);
        ASSERT_EQ(Arc({"pack", "-r", archive, "src"}).status, 0);
        const TRunResult del = Arc({"delete", archive, "src/a.txt"});
        ASSERT_EQ(del.status, 0) << del.err;
        const auto left = JsonEntries(Arc({"list", "--json", archive}).out);
        EXPECT_EQ(left.count("src/a.txt"), 0u);
        EXPECT_EQ(left.count("src/sub/b.bin"), 1u);
    }
    // Update replaces an entry whose file is newer; 7z and tar have no update.
    for (const char *archive : {"rules.zip", "rules.lzh"}) {
        SCOPED_TRACE(archive);
        WriteFile(dir() / "src/sub/deeper/c.txt", "changed");
        struct timeval later[2] = {{4102444800, 0}, {4102444800, 0}}; // 2100-01-01
        ::utimes((dir() / "src/sub/deeper/c.txt").c_str(), later);
        const TRunResult up = Arc({"update", archive, "src/sub/deeper/c.txt"});
        ASSERT_EQ(up.status, 0) << up.err;
        EXPECT_EQ(Arc({"cat", archive, "src/sub/deeper/c.txt"}).out, "changed");
    }
    const TRunResult no = Arc({"update", "rules.7z", "src/a.txt"});
    EXPECT_EQ(no.status, 2);
    EXPECT_NE(no.err.find("この形式の書庫では書庫の更新をサポートしておりません。"),
              std::string::npos);

    // Extracting over existing files: replaced by default and with --overwrite, kept with
    // --skip-existing (by the library where it can keep them, else by the tool).
    ASSERT_EQ(Arc({"pack", "-r", "rules.tgz", "src"}).status, 0);
    for (const char *archive : {"rules.zip", "rules.7z", "rules.lzh", "rules.tgz"}) {
        SCOPED_TRACE(archive);
        const fs::path to = dir() / "over";
        WriteFile(to / "src/sub/b.bin", "mine");
        const TRunResult skip = Arc({"extract", archive, "-o", to.string(), "--skip-existing"});
        EXPECT_EQ(skip.status, 0) << skip.err;
        EXPECT_EQ(ReadFile(to / "src/sub/b.bin"), "mine");
        EXPECT_EQ(ReadFile(to / "src/.hidden"), "h"); // the entries that were not there came out
        for (const auto &name : Tree(to))
            EXPECT_FALSE(name.starts_with(".arcfile-")) << "a staging folder was left: " << name;
        EXPECT_EQ(Arc({"extract", archive, "-o", to.string(), "--overwrite"}).status, 0);
        EXPECT_TRUE(ReadFile(to / "src/sub/b.bin") == ReadFile(dir() / "src/sub/b.bin"));
        WriteFile(to / "src/sub/b.bin", "mine");
        EXPECT_EQ(Arc({"extract", archive, "-o", to.string()}).status, 0);
        EXPECT_TRUE(ReadFile(to / "src/sub/b.bin") == ReadFile(dir() / "src/sub/b.bin"));
        fs::remove_all(to);
    }
    // A link already in the destination is not followed when new files are moved in.
    const fs::path to = dir() / "linked", outside = dir() / "outside";
    fs::create_directories(to / "src");
    fs::create_directories(outside);
    fs::create_directory_symlink(outside, to / "src/sub");
    const TRunResult linked = Arc({"extract", "rules.tgz", "-o", to.string(), "--skip-existing"});
    EXPECT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(ReadFile(to / "src/.hidden"), "h");
}

TEST_F(Arcfile, TypeForcesTheFormatWhateverTheName) {
    WriteFile(dir() / "a.txt", "forced");
    ASSERT_EQ(Arc({"pack", "--type", "7z", "archive.bin", "a.txt"}).status, 0);
    std::string out;
    EXPECT_EQ(archtest::Shell("7z t " + Quote((dir() / "archive.bin").string()), &out), 0) << out;
    // A name that says nothing and a content without a probe (7z): only --type reads it.
    EXPECT_EQ(Arc({"list", "archive.bin"}).status, 2);
    const TRunResult listed = Arc({"list", "--type", "7z", "--json", "archive.bin"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(JsonEntries(listed.out).count("a.txt"), 1u);
    // A zip under another name is found by its content.
    ASSERT_EQ(Arc({"pack", "z.zip", "a.txt"}).status, 0);
    fs::rename(dir() / "z.zip", dir() / "z.dat");
    EXPECT_EQ(Arc({"cat", "z.dat", "a.txt"}).out, "forced");
}

TEST_F(Arcfile, SfxOf7zRunsOnLinux) {
    if (!fs::exists("/usr/lib/p7zip/7zCon.sfx") && !fs::exists("/usr/lib/7zip/7zCon.sfx"))
        GTEST_SKIP() << "7-Zip's 7zCon.sfx module is not installed";
    MakeTree(dir() / "src");
    ASSERT_EQ(Arc({"pack", "-r", "self.7z", "src"}).status, 0);
    fs::create_directories(dir() / "sfx");
    const TRunResult r = Arc({"sfx", "self.7z", "-o", "sfx"});
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path exe = dir() / "sfx/self.exe";
    ASSERT_TRUE(fs::exists(exe));
    fs::permissions(exe, fs::perms::owner_exec, fs::perm_options::add);
    fs::create_directories(dir() / "run");
    ASSERT_EQ(archtest::Shell("cd " + Quote((dir() / "run").string()) + " && " +
                              Quote(exe.string()) + " -y >/dev/null"),
              0);
    EXPECT_TRUE(ReadFile(dir() / "run/src/sub/b.bin") == ReadFile(dir() / "src/sub/b.bin"));
    // LHA has no self-extractor on Linux: the library's refusal, status 1.
    ASSERT_EQ(Arc({"pack", "self.lzh", "src/a.txt"}).status, 0);
    const TRunResult lha = Arc({"sfx", "self.lzh"});
    EXPECT_EQ(lha.status, 1);
    EXPECT_NE(lha.err.find("32779"), std::string::npos) << lha.err;
}

// ---- switch record in a profile file ----------------------------------------------------------

TEST_F(Arcfile, OptionsFileSharesTheSwitchRecord) {
    const TRunResult saved = Arc({"options", "--save", "opts.ini"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    const std::string text = ReadFile(dir() / "opts.ini");
    // The stored-default form: only what differs from the defaults (jyc and ResFileUsage have
    // none, the string switches hold the unset string).
    EXPECT_NE(text.find("[Options]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\njyc=-1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nw=#0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ResFileUsage=[ruOnPack, ruOnUnpack, ruOnRemoveItem]"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("\na=-1"), std::string::npos) << text;

    MakeTree(dir() / "src");
    // x=0: names without their folders; the file's record reaches the library.
    WriteFile(dir() / "flat.ini", "; kept\n[Other]\nx=1\n[Options]\nx=0\n");
    const TRunResult flat = Arc({"pack", "--options", "flat.ini", "flat.zip", "src/sub/b.bin"});
    ASSERT_EQ(flat.status, 0) << flat.err;
    EXPECT_EQ(JsonEntries(Arc({"list", "--json", "flat.zip"}).out).count("b.bin"), 1u);
    // The component's own section form ("Options." before each switch) and another section.
    WriteFile(dir() / "form.ini", "[Job]\nFileName='x.zip'\nOptions.x=0\n");
    const TRunResult form =
        Arc({"pack", "--options", "form.ini", "--section", "job", "form.zip", "src/a.txt"});
    ASSERT_EQ(form.status, 0) << form.err;
    EXPECT_EQ(JsonEntries(Arc({"list", "--json", "form.zip"}).out).count("a.txt"), 1u);
    // Saving into an existing file keeps its other sections.
    ASSERT_EQ(Arc({"options", "--save", "flat.ini"}).status, 0);
    const std::string rewritten = ReadFile(dir() / "flat.ini");
    EXPECT_NE(rewritten.find("; kept\n[Other]\nx=1\n"), std::string::npos) << rewritten;
    EXPECT_EQ(rewritten.find("x=0"), std::string::npos) << rewritten;

    struct Bad {
        const char *content;
        const char *message;
    };
    const Bad bad[] = {
        {"[Options]\nxyz=1\n", "xyz"},
        {"[Options]\nx=300\n", "x"},
        {"[Elsewhere]\nx=0\n", "no section [Options]"},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.content);
        WriteFile(dir() / "bad.ini", b.content);
        const TRunResult r = Arc({"list", "--options", "bad.ini", "flat.zip"});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(b.message), std::string::npos) << r.err;
    }
    const TRunResult missing = Arc({"list", "--options", "none.ini", "flat.zip"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("none.ini"), std::string::npos);
}

// ---- progress line and cancel on a terminal ---------------------------------------------------

TEST_F(Arcfile, ProgressLineOnlyOnATerminal) {
    WriteFile(dir() / "src/data.bin", std::string(3 << 20, 'p'));
    const TPtyResult tty = RunOnPty(dir(), {"pack", "bar.zip", "src/data.bin"});
    EXPECT_EQ(tty.status, 0) << tty.text;
    EXPECT_TRUE(std::regex_search(
        tty.text,
        std::regex(R"(\r\[[#-]{20}\] +\d+%  \d/1 entries  [0-9.]+ (B|KiB|MiB).*src/data\.bin)")))
        << tty.text;
    EXPECT_TRUE(tty.text.ends_with("\r\033[K")) << "the line is cleared at the end";

    const TPtyResult quiet = RunOnPty(dir(), {"extract", "--quiet", "bar.zip", "-o", "q"});
    EXPECT_EQ(quiet.status, 0) << quiet.text;
    EXPECT_EQ(quiet.text.find("entries"), std::string::npos) << quiet.text;

    const TPtyResult extract = RunOnPty(dir(), {"extract", "bar.zip", "-o", "e"});
    EXPECT_EQ(extract.status, 0);
    EXPECT_NE(extract.text.find("[####################] 100%  1/1 entries  3.0 MiB"),
              std::string::npos)
        << extract.text;

    // Standard error on a file: no progress line at all.
    fs::remove(dir() / "bar.zip");
    const TRunResult plain = Arc({"pack", "bar.zip", "src/data.bin"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
    // --verbose prints the library's report; without it a success prints nothing.
    const TRunResult verbose = Arc({"extract", "--verbose", "bar.zip", "-o", "v"});
    EXPECT_EQ(verbose.status, 0);
    EXPECT_NE(verbose.err.find("1 of 1 files extracted"), std::string::npos) << verbose.err;
    const TRunResult silent = Arc({"extract", "bar.zip", "-o", "s"});
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.err, "");
}

// Ctrl-C (or SIGTERM) during a large pack: the old archive stays byte for byte, no temporary
// file is left beside it, and the status says cancelled.
TEST_F(Arcfile, CancelDuringALargePackLeavesTheOldArchive) {
    fs::create_directories(dir() / "big");
    { std::ofstream(dir() / "big/large.bin").close(); }
    fs::resize_file(dir() / "big/large.bin", 320ull << 20); // sparse: reads as zeros
    WriteFile(dir() / "small.txt", "small");
    struct Case {
        const char *archive;
        int signal;
        bool existed;
    };
    const Case cases[] = {
        {"old.zip", SIGINT, true},  {"old.7z", SIGTERM, true}, {"old.lzh", SIGINT, true},
        {"old.tgz", SIGTERM, true}, {"old.tar", SIGINT, true}, {"new.zip", SIGINT, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.archive);
        const fs::path folder = dir() / "arc";
        fs::create_directories(folder);
        const fs::path archive = folder / c.archive;
        if (c.existed) {
            ASSERT_EQ(Arc({"pack", archive.string(), "small.txt"}).status, 0);
        }
        const std::string before = c.existed ? ReadFile(archive) : "";
        const auto treeBefore = Tree(folder);
        const TPtyResult r = RunOnPty(
            dir(), {"pack", archive.string(), "big/large.bin"}, [&](const std::string &text) {
                return text.find("entries") != std::string::npos ? c.signal : 0;
            });
        EXPECT_EQ(r.status, 130) << r.text;
        EXPECT_NE(r.text.find("arcfile: cancelled"), std::string::npos) << r.text;
        EXPECT_EQ(Tree(folder), treeBefore);
        if (c.existed) {
            EXPECT_TRUE(ReadFile(archive) == before) << "the old archive changed";
        } else {
            EXPECT_FALSE(fs::exists(archive));
        }
        fs::remove_all(folder);
    }
}

} // namespace
