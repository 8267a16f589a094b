// libunrar32.so through its C entry points, loaded as the component loads it, with the command
// lines the RAR back-end writes; results checked against the fixtures' MANIFEST. The inputs on
// which libarchive 3.6 misbehaves run in a child process under an alarm, so a hang fails the test
// instead of stopping the suite.
#include "tests/archivers_common/ArchiverTestSupport.h"

#include <csignal>
#include <functional>
#include <set>
#include <sys/stat.h>

using namespace archtest;

namespace {

const fs::path kData = DATA_DIR;

constexpr int kDamaged = 32772, kPassword = 32778, kUnsupported = 32779;

class Unrar32 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        lib_ = new Library(UNRAR32_PATH);
        manifest_ = new std::map<std::string, Fixture>(ReadManifest(kData / "MANIFEST.tsv"));
    }
    static void TearDownTestSuite() {
        delete lib_;
        lib_ = nullptr;
        delete manifest_;
        manifest_ = nullptr;
    }

    int Unrar(const std::string &line) {
        out_.assign(8192, '\0');
        return lib_->Get<ArcCommandProc>("Unrar")(nullptr, line.c_str(), out_.data(),
                                                  static_cast<DWORD>(out_.size()));
    }
    // What the back-end sends to extract into dir with every switch unset.
    int Extract(const fs::path &archive, const fs::path &dir, const std::string &word = "-x",
                const std::string &switches = "-u ", const std::string &files = "") {
        return Unrar(word + " " + switches + " \"" + archive.string() + "\" \"" + dir.string() +
                     "/\" " + files);
    }
    int Mem(const fs::path &archive, const std::string &entry, std::string &data,
            size_t size = 1 << 16) {
        data.assign(size, '\0');
        DWORD written = 0;
        const std::string line = " -u  \"" + archive.string() + "\" \"" + entry + "\"";
        int r = lib_->Get<ArcExtractMemProc>("UnrarExtractMem")(
            nullptr, line.c_str(), reinterpret_cast<unsigned char *>(data.data()),
            static_cast<DWORD>(size), nullptr, nullptr, &written);
        EXPECT_LE(written, size);
        data.resize(written);
        return r;
    }
    // Names and sizes of OpenArchive/FindFirst/FindNext; false when the archive did not open.
    bool List(const fs::path &archive, std::map<std::string, uint64_t> &entries,
              std::map<std::string, std::string> *methods = nullptr) {
        HARC h = lib_->Get<ArcOpenArchiveProc>("UnrarOpenArchive")(nullptr, archive.c_str(), 0);
        if (!h)
            return false;
        INDIVIDUALINFO info{};
        for (int r = lib_->Get<ArcFindFirstProc>("UnrarFindFirst")(h, "*", &info); r == 0;
             r = lib_->Get<ArcFindNextProc>("UnrarFindNext")(h, &info)) {
            entries[info.szFileName] = info.dwOriginalSize;
            if (methods)
                (*methods)[info.szFileName] = info.szMode;
        }
        lib_->Get<ArcCloseArchiveProc>("UnrarCloseArchive")(h);
        return true;
    }
    BOOL Check(const fs::path &archive, int mode) {
        return lib_->Get<ArcCheckArchiveProc>("UnrarCheckArchive")(archive.c_str(), mode);
    }
    std::string Output() const { return std::string(out_.c_str()); }
    static const Fixture &Row(const std::string &file) { return manifest_->at(file); }

    static Library *lib_;
    static std::map<std::string, Fixture> *manifest_;
    TempDir tmp_;
    std::string out_;
};

Library *Unrar32::lib_ = nullptr;
std::map<std::string, Fixture> *Unrar32::manifest_ = nullptr;

// The entries column of a MANIFEST line, split into what kind each entry is.
struct Listed {
    std::set<std::string> names;                  // every entry ("dir/" for folders)
    std::map<std::string, std::string> symlinks;  // name -> target
    std::map<std::string, std::string> hardlinks; // name -> target
};

Listed ListedEntries(const std::string &file) {
    Listed l;
    std::ifstream in(kData / "MANIFEST.tsv");
    std::string line;
    while (std::getline(in, line)) {
        auto cols = Split(line, "\t");
        if (cols.size() < 7 || fs::path(cols[0]).filename() != file)
            continue;
        static const std::regex sized(R"(^(.*) \(\d+\)$)"), hard(R"(^(.*) \(hard link to (.*)\)$)"),
            sym(R"(^(.*) -> (.*)$)");
        for (const auto &e : Split(cols[6], " ; ")) {
            std::smatch m;
            if (std::regex_match(e, m, hard)) {
                l.hardlinks[m[1]] = m[2];
                l.names.insert(m[1]);
            } else if (std::regex_match(e, m, sized)) {
                l.names.insert(m[1]);
            } else if (std::regex_match(e, m, sym)) {
                l.symlinks[m[1]] = m[2];
                l.names.insert(m[1]);
            } else if (!e.empty() && e[0] != '(') {
                l.names.insert(e);
            }
        }
    }
    return l;
}

// Runs body in a child process that the alarm ends after seconds; true when it finished by
// itself with status 0. The child reports its failures on standard error.
bool InChild(int seconds, const std::function<bool()> &body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(static_cast<unsigned>(seconds));
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        ADD_FAILURE() << "the child was ended by signal " << WTERMSIG(status)
                      << (WTERMSIG(status) == SIGALRM ? " (it hung)" : "");
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Good {
    const char *file;
};

// Fixtures that libarchive reads whole: every entry is extracted as the MANIFEST says.
const Good kGood[] = {
    {"test_read_format_rar.rar"},
    {"test_read_format_rar_unicode.rar"},
    {"test_read_format_rar_compress_normal.rar"},
    {"test_read_format_rar_subblock.rar"},
    {"test_read_format_rar_noeof.rar"},
    {"test_rar_multivolume_single_file.part0001.rar"},
    {"test_read_format_rar5_stored.rar"},
    {"test_read_format_rar5_compressed.rar"},
    {"test_read_format_rar5_multiple_files.rar"},
    {"test_read_format_rar5_multiple_files_solid.rar"},
    {"test_read_format_rar5_owner.rar"},
    {"test_read_format_rar5_blake2.rar"},
    {"test_read_format_rar5_win32.rar"},
    {"test_read_format_rar5_symlink.rar"},
    {"test_read_format_rar5_unicode.rar"},
};

} // namespace

TEST_F(Unrar32, ExtractsEveryReadableFixtureAsItsManifestSays) {
    for (const auto &g : kGood) {
        SCOPED_TRACE(g.file);
        const fs::path dir = tmp_.path / g.file;
        ASSERT_EQ(Extract(kData / g.file, dir), 0) << Output();
        const Fixture &row = Row(g.file);
        ASSERT_FALSE(row.sha256.empty());
        for (const auto &[name, sum] : row.sha256)
            EXPECT_EQ(Sha256(dir / name), sum) << name;
        for (const auto &[name, size] : row.sizes)
            EXPECT_EQ(fs::file_size(dir / name), size) << name;
        const Listed l = ListedEntries(g.file);
        for (const auto &[name, target] : l.symlinks) {
            ASSERT_TRUE(fs::is_symlink(dir / name)) << name;
            EXPECT_EQ(fs::read_symlink(dir / name).string(), target) << name;
        }
        for (const auto &[name, target] : l.hardlinks) {
            EXPECT_TRUE(fs::equivalent(dir / name, dir / target)) << name;
        }
        for (const auto &name : l.names)
            if (name.back() == '/') {
                EXPECT_TRUE(fs::is_directory(dir / name)) << name;
            }
        EXPECT_EQ(Check(kData / g.file, 0), 1);
        EXPECT_EQ(Check(kData / g.file, 2), 1);
    }
}

TEST_F(Unrar32, ListsEveryReadableFixtureAsItsManifestSays) {
    for (const auto &g : kGood) {
        SCOPED_TRACE(g.file);
        std::map<std::string, uint64_t> entries;
        std::map<std::string, std::string> methods;
        ASSERT_TRUE(List(kData / g.file, entries, &methods));
        const Listed l = ListedEntries(g.file);
        std::set<std::string> names;
        for (const auto &[name, size] : entries)
            names.insert(name);
        EXPECT_EQ(names, l.names);
        for (const auto &[name, size] : Row(g.file).sizes)
            EXPECT_EQ(entries[name], size) << name;
        for (const auto &[name, method] : methods)
            EXPECT_TRUE(std::regex_match(method, std::regex(R"(-m[0-5]-|-dir-)")))
                << name << method;
    }
}

TEST_F(Unrar32, MemoryExtractionGivesEachFileItsContents) {
    for (const auto &g : kGood) {
        SCOPED_TRACE(g.file);
        for (const auto &[name, sum] : Row(g.file).sha256) {
            std::string data;
            ASSERT_EQ(Mem(kData / g.file, name, data), 0) << name;
            const fs::path copy = tmp_.path / "mem.bin";
            WriteFile(copy, data);
            EXPECT_EQ(Sha256(copy), sum) << name;
        }
    }
    // A buffer too small holds the beginning.
    std::string data;
    EXPECT_EQ(Mem(kData / "test_read_format_rar5_stored.rar", "helloworld.txt", data, 5), 32780);
    EXPECT_EQ(data.size(), 5u);
    EXPECT_EQ(Mem(kData / "test_read_format_rar5_stored.rar", "nothing.txt", data), 32774);
}

TEST_F(Unrar32, EncryptedEntriesGiveThePasswordCodeAndThePlainOnesAreExtracted) {
    struct Case {
        const char *file;
        std::vector<std::string> encrypted;
    } cases[] = {
        {"test_read_format_rar4_encrypted.rar", {"b.txt", "d.txt"}},
        {"test_read_format_rar5_encrypted.rar", {"b.txt", "d.txt"}},
        {"test_read_format_rar_encryption_data.rar", {"foo.txt", "bar.txt"}},
        {"test_read_format_rar_encryption_partially.rar", {"foo.txt"}},
        {"test_read_format_rar4_solid_encrypted.rar", {"a.txt", "b.txt", "c.txt", "d.txt"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path dir = tmp_.path / c.file;
        EXPECT_EQ(Extract(kData / c.file, dir), kPassword) << Output();
        const std::set<std::string> enc(c.encrypted.begin(), c.encrypted.end());
        for (const auto &[name, sum] : Row(c.file).sha256) {
            if (enc.count(name))
                continue;
            EXPECT_EQ(Sha256(dir / name), sum) << name;
        }
        for (const auto &name : c.encrypted) {
            EXPECT_FALSE(fs::exists(dir / name)) << name;
            std::string data;
            EXPECT_EQ(Mem(kData / c.file, name, data), kPassword) << name;
            EXPECT_TRUE(data.empty());
        }
        EXPECT_EQ(Unrar("-t \"" + (kData / c.file).string() + "\""), kPassword) << Output();
        EXPECT_EQ(Check(kData / c.file, 2), 0);
    }
}

TEST_F(Unrar32, DataLibarchiveCannotDecodeIsAnErrorAndNoFileIsLeft) {
    // Other readers extract the first two with good CRCs; libarchive 3.6 gets their data wrong.
    // The last is truly damaged (its header promises data that is not there).
    const char *files[] = {"test_read_format_rar_multi_lzss_blocks.rar",
                           "test_read_format_rar3_lowdist_reset.rar",
                           "test_read_format_rar_invalid1.rar"};
    for (const char *f : files) {
        SCOPED_TRACE(f);
        const fs::path dir = tmp_.path / f;
        EXPECT_EQ(Extract(kData / f, dir), kDamaged) << Output();
        if (fs::exists(dir)) {
            EXPECT_EQ(CountFiles(dir), 0u);
        }
        EXPECT_EQ(Unrar("-t \"" + (kData / f).string() + "\""), kDamaged) << Output();
        EXPECT_EQ(Check(kData / f, 2), 0);
        for (const auto &[name, size] : Row(f).sizes) {
            std::string data;
            EXPECT_EQ(Mem(kData / f, name, data, static_cast<size_t>(size) + 1), kDamaged);
        }
    }
}

TEST_F(Unrar32, TheLargePpmdEntryIsStreamedAndFailsItsCrc) {
    const fs::path f = kData / "test_read_format_rar_ppmd_lzss_conversion.rar";
    // Testing reads the entry through in blocks: memory stays flat, nothing is written.
    EXPECT_EQ(Unrar("-t \"" + f.string() + "\""), kDamaged) << Output();
    EXPECT_NE(Output().find("ppmd_lzss_conversion_test.txt"), std::string::npos) << Output();
    EXPECT_EQ(Check(f, 2), 0);
    EXPECT_EQ(Check(f, 0), 1); // its headers are sound
}

TEST_F(Unrar32, MultiVolumeSetIsReadFromItsFirstVolume) {
    const char *first = "test_read_format_rar_multivolume.part0001.rar";
    std::map<std::string, uint64_t> entries;
    ASSERT_TRUE(List(kData / first, entries));
    EXPECT_EQ(entries.size(), ListedEntries(first).names.size());
    // The first entry is the large one libarchive decodes wrongly: it is refused, and without
    // -s the entries after it are still extracted from the later volumes.
    const fs::path dir = tmp_.path / "all";
    EXPECT_EQ(Extract(kData / first, dir), kDamaged) << Output();
    EXPECT_FALSE(fs::exists(dir / "ppmd_lzss_conversion_test.txt"));
    for (const auto &[name, sum] : Row(first).sha256)
        if (name != "ppmd_lzss_conversion_test.txt") {
            EXPECT_EQ(Sha256(dir / name), sum) << name;
        }
    // -s stops at the damaged entry.
    const fs::path strict = tmp_.path / "strict";
    EXPECT_EQ(Extract(kData / first, strict, "-x", "-u -s "), kDamaged) << Output();
    EXPECT_FALSE(fs::exists(strict / "LibarchiveAddingTest.html"));
}

TEST_F(Unrar32, LaterOrMissingVolumesAreClearErrors) {
    // A later volume alone is refused with a message naming the way out.
    EXPECT_EQ(Extract(kData / "test_rar_multivolume_single_file.part0002.rar", tmp_.path / "a"),
              kUnsupported);
    EXPECT_NE(Output().find("first volume"), std::string::npos) << Output();
    std::map<std::string, uint64_t> entries;
    EXPECT_FALSE(List(kData / "test_rar_multivolume_single_file.part0002.rar", entries));
    // A set whose last volume is missing: the entry that needs it is damaged, nothing is left.
    const fs::path set = tmp_.path / "set";
    fs::create_directories(set);
    for (int i = 1; i <= 2; ++i)
        fs::copy_file(kData /
                          ("test_rar_multivolume_single_file.part000" + std::to_string(i) + ".rar"),
                      set / ("x.part" + std::to_string(i) + ".rar"));
    const fs::path dir = tmp_.path / "out";
    EXPECT_EQ(Extract(set / "x.part1.rar", dir), kDamaged) << Output();
    EXPECT_FALSE(fs::exists(dir / "LibarchiveAddingTest.html"));
}

TEST_F(Unrar32, MalformedAndLinkArchivesFinishWithoutHangingOrFlooding) {
    // libarchive 3.6 loops on the first two, and may stream zeros without end for an entry after
    // a RAR 5 link entry (the last two): each call must end, answer an error or the right data,
    // and never give more than an entry's declared size.
    struct Case {
        const char *file;
        bool readable;
    } cases[] = {
        {"test_read_format_rar5_bad_window_sz_in_mltarc_file.rar", false},
        {"test_read_format_rar5_truncated_huff.rar", false},
        {"test_read_format_rar5_unicode.rar", true},
        {"test_read_format_rar5_symlink.rar", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path archive = kData / c.file;
        const fs::path dir = tmp_.path / c.file;
        const Fixture row = Row(c.file);
        const Listed listed = ListedEntries(c.file);
        EXPECT_TRUE(InChild(20, [&] {
            bool ok = true;
            for (int round = 0; round < 5; ++round) {
                const int x = Extract(archive, dir);
                const int t = Unrar("-t \"" + archive.string() + "\"");
                std::map<std::string, uint64_t> entries;
                const bool listedOk = List(archive, entries);
                if (c.readable != (x == 0) || c.readable != (t == 0) || c.readable != listedOk) {
                    std::fprintf(stderr, "%s: x %d, t %d, list %d\n", c.file, x, t, listedOk);
                    ok = false;
                }
                for (const auto &name : listed.names) {
                    std::string data;
                    const int r = Mem(archive, name, data, 1 << 20);
                    auto size = row.sizes.find(name);
                    if (r == 0 && size != row.sizes.end() && data.size() != size->second) {
                        std::fprintf(stderr, "%s: %zu bytes\n", name.c_str(), data.size());
                        ok = false;
                    }
                    auto sum = row.sha256.find(name);
                    if (sum != row.sha256.end() && r != 0) {
                        std::fprintf(stderr, "%s: code %d\n", name.c_str(), r);
                        ok = false;
                    }
                }
                Check(archive, 2);
            }
            return ok;
        }));
    }
}

TEST_F(Unrar32, PackingCommandsAreNotSupported) {
    const fs::path src = tmp_.path / "a.txt";
    WriteFile(src, "a");
    const fs::path archive = tmp_.path / "a.rar";
    for (const char *word : {"a", "-a", "m", "u", "f", "d", "-d", "c", "k", "rr", "s"}) {
        SCOPED_TRACE(word);
        EXPECT_EQ(
            Unrar(std::string(word) + " \"" + archive.string() + "\" \"" + src.string() + "\""),
            kUnsupported);
        EXPECT_NE(Output().find("can only be read"), std::string::npos) << Output();
        EXPECT_FALSE(fs::exists(archive));
    }
    // A line without a command word is no packing but cannot be run either.
    EXPECT_EQ(Unrar(" -u  \"" + (kData / "test_read_format_rar.rar").string() + "\""), 32769);
}

TEST_F(Unrar32, SwitchesOfTheBackEnd) {
    const fs::path f = kData / "test_read_format_rar.rar";
    const std::string content = "test text document\r\n";
    struct Case {
        const char *word, *switches;
        bool olderKept; // an existing file newer than the entry stays
        const char *where;
    } cases[] = {
        {"-x", "-u ", true, "testdir/test.txt"}, // c unset: update only
        {"-x", "", false, "testdir/test.txt"},   // c = 1: replace
        {"-x", "-u -y -s ", true, "testdir/test.txt"},
        {"-e", "-u ", true, "test.txt"}, // no folders
        {"-e", "", false, "test.txt"},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.word) + " " + c.switches);
        const fs::path dir = tmp_.path / std::to_string(n++);
        WriteFile(dir / c.where, "mine");
        ASSERT_EQ(Extract(f, dir, c.word, c.switches), 0) << Output();
        EXPECT_EQ(ReadFile(dir / c.where), c.olderKept ? "mine" : content.substr(0, 20));
        const bool flat = std::string(c.word) == "-e";
        EXPECT_EQ(fs::exists(dir / "testdir" / "test.txt"), !flat);
        EXPECT_EQ(fs::exists(dir / "testemptydir"), !flat);
    }
    // Named entries only.
    const fs::path dir = tmp_.path / "named";
    ASSERT_EQ(Extract(f, dir, "-x", "-u ", "\"testdir/test.txt\""), 0) << Output();
    EXPECT_TRUE(fs::exists(dir / "testdir" / "test.txt"));
    EXPECT_FALSE(fs::exists(dir / "test.txt"));
    EXPECT_EQ(Extract(f, tmp_.path / "none", "-x", "-u ", "\"missing.txt\""), 32774);
}

TEST_F(Unrar32, NotRarFilesAndMissingFiles) {
    const fs::path text = tmp_.path / "x.rar";
    WriteFile(text, "this is not a RAR archive at all");
    std::map<std::string, uint64_t> entries;
    EXPECT_FALSE(List(text, entries));
    EXPECT_FALSE(List(tmp_.path / "missing.rar", entries));
    EXPECT_EQ(Check(text, 0), 0);
    EXPECT_EQ(Extract(text, tmp_.path / "o"), 32771);
    EXPECT_EQ(Extract(tmp_.path / "missing.rar", tmp_.path / "o"), 32770);
}

TEST_F(Unrar32, EncryptedHeadersGiveThePasswordCode) {
    // Archives whose headers after the first are encrypted: RAR 4 flags it in the main header,
    // RAR 5 puts an encryption header first. What follows is noise, as it would be to a reader
    // without the password.
    const std::string noise(64, '\x5a');
    std::string rar4("Rar!\x1a\x07\x00", 7);
    rar4 += std::string("\x00\x00\x73\x80\x00\x0d\x00", 7) + std::string(6, '\0') + noise;
    std::string rar5("Rar!\x1a\x07\x01\x00", 8);
    rar5 += std::string(4, '\0') + "\x21" + std::string("\x04\x00\x00\x01\x0f", 5) +
            std::string(28, '\x11') + noise;
    for (const auto &[name, bytes] : {std::pair{"h4.rar", rar4}, std::pair{"h5.rar", rar5}}) {
        SCOPED_TRACE(name);
        const fs::path f = tmp_.path / name;
        WriteFile(f, bytes);
        EXPECT_EQ(Extract(f, tmp_.path / "out"), kPassword) << Output();
        EXPECT_NE(Output().find("encrypted"), std::string::npos) << Output();
        EXPECT_EQ(Unrar("-t \"" + f.string() + "\""), kPassword);
        std::string data;
        EXPECT_EQ(Mem(f, "a.txt", data), kPassword);
        std::map<std::string, uint64_t> entries;
        EXPECT_FALSE(List(f, entries));
        EXPECT_EQ(Check(f, 0), 0);
        EXPECT_FALSE(fs::exists(tmp_.path / "out"));
    }
}

TEST_F(Unrar32, OldStyleVolumeNamesAreFollowedToo) {
    // The same set named name.rar, name.r00, name.r01.
    const fs::path set = tmp_.path / "set";
    fs::create_directories(set);
    const char *names[] = {"x.rar", "x.r00", "x.r01"};
    for (int i = 0; i < 3; ++i)
        fs::copy_file(
            kData / ("test_rar_multivolume_single_file.part000" + std::to_string(i + 1) + ".rar"),
            set / names[i]);
    const fs::path dir = tmp_.path / "out";
    ASSERT_EQ(Extract(set / "x.rar", dir), 0) << Output();
    const auto &row = Row("test_rar_multivolume_single_file.part0001.rar");
    for (const auto &[name, sum] : row.sha256)
        EXPECT_EQ(Sha256(dir / name), sum) << name;
    std::string data;
    ASSERT_EQ(Mem(set / "x.rar", "LibarchiveAddingTest.html", data), 0);
    EXPECT_EQ(data.size(), 20111u);
}

TEST_F(Unrar32, EveryFixtureAndFuzzInputPassesTheListingPathQuickly) {
    // What the fuzz target does: list, then extract every listed entry into memory. Inputs found
    // by fuzzing go into fuzz-corpus/ beside the fixtures and are replayed here.
    std::vector<fs::path> inputs;
    for (const fs::path &dir : {kData, kData / "fuzz-corpus"})
        if (fs::is_directory(dir))
            for (const auto &f : fs::directory_iterator(dir))
                if (f.is_regular_file() && f.path().extension() != ".md" &&
                    f.path().extension() != ".tsv")
                    inputs.push_back(f.path());
    ASSERT_GE(inputs.size(), 32u);
    EXPECT_TRUE(InChild(60, [&] {
        bool ok = true;
        for (const auto &input : inputs) {
            std::map<std::string, uint64_t> entries;
            List(input, entries);
            for (const auto &[name, size] : entries) {
                std::string data;
                const int r = Mem(input, name, data, 1 << 20);
                if (r == 0 && data.size() != size && name.back() != '/') {
                    std::fprintf(stderr, "%s %s: %zu of %llu bytes\n", input.c_str(), name.c_str(),
                                 data.size(), static_cast<unsigned long long>(size));
                    ok = false;
                }
            }
        }
        return ok;
    }));
}

TEST_F(Unrar32, SelfExtractorsAreReadPastTheirProgram) {
    // An archive after a program stub (libarchive looks from 64 KiB on, as stubs are larger):
    // its encrypted entries are still known as such.
    struct Case {
        const char *file, *entry;
        int code;
    } cases[] = {
        {"test_read_format_rar.rar", "test.txt", 0},
        {"test_read_format_rar4_encrypted.rar", "b.txt", kPassword},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path sfx = tmp_.path / (std::string(c.file) + ".exe");
        WriteFile(sfx, "MZ" + std::string(0x10000 - 2, '\0') + ReadFile(kData / c.file));
        std::string data;
        EXPECT_EQ(Mem(sfx, c.entry, data), c.code);
        if (c.code == 0) {
            EXPECT_EQ(data.size(), Row(c.file).sizes.at(c.entry));
        }
    }
}
