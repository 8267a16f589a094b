// libcab32.so through its C entry points, loaded as the component loads it, with the command
// lines the cabinet back-end writes; cabinets it writes checked with cabextract, gcab and
// libarchive, and the fixtures read against their MANIFEST.
#include "tests/archivers_common/ArchiverTestSupport.h"
#include "tests/cab32/CabTestSupport.h"

#include <archive.h>
#include <archive_entry.h>
#include <cstring>
#include <random>
#include <set>
#include <sys/stat.h>

using namespace archtest;

namespace {

const fs::path kData = DATA_DIR;

constexpr int kDamaged = 32772, kNoFiles = 32774, kReadSource = 32775, kUnsupported = 32779,
              kBufferTooSmall = 32780;

class Cab32 : public ::testing::Test {
protected:
    static void SetUpTestSuite() { lib_ = new Library(CAB32_PATH); }
    static void TearDownTestSuite() {
        delete lib_;
        lib_ = nullptr;
    }

    int Cab(const std::string &line, HWND hwnd = nullptr) {
        out_.assign(8192, '\0');
        return lib_->Get<ArcCommandProc>("Cab")(hwnd, line.c_str(), out_.data(),
                                                static_cast<DWORD>(out_.size()));
    }
    std::string Output() const { return std::string(out_.c_str()); }

    // The back-end's pack line with every switch unset, plus the switches given.
    int Pack(const fs::path &cabinet, const fs::path &base, const std::vector<std::string> &names,
             const std::string &switches = "") {
        std::string line = "-a " + switches + " " + Q(cabinet) + " " + Q(base.string() + "/");
        for (const auto &n : names)
            line += " " + Q(n);
        return Cab(line + " ");
    }
    int Extract(const fs::path &cabinet, const fs::path &dest, const std::string &switches = "") {
        return Cab("-x " + switches + " " + Q(cabinet) + " " + Q(dest.string() + "/") + " ");
    }

    static std::string Q(const fs::path &p) { return "\"" + p.string() + "\""; }

    static Library *lib_;
    TempDir tmp_;
    std::string out_;
};

Library *Cab32::lib_ = nullptr;

bool Have(const char *tool) {
    return Shell(std::string("command -v ") + tool + " >/dev/null") == 0;
}

// Every regular file below dir, by its path relative to dir, with its contents.
std::map<std::string, std::string> Tree(const fs::path &dir) {
    std::map<std::string, std::string> files;
    if (!fs::exists(dir))
        return files;
    for (const auto &e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            files[fs::relative(e.path(), dir).string()] = ReadFile(e.path());
    return files;
}

// What libarchive itself reads from a cabinet: names and contents.
std::map<std::string, std::string> LibarchiveTree(const fs::path &cabinet, bool *ok) {
    std::map<std::string, std::string> files;
    for (auto &[name, data] : cabtest::ReadBack(cabinet.string(), ok))
        files[name] = std::move(data);
    return files;
}

// The sources of a written-cabinet case, below base.
struct Case {
    const char *label;
    std::map<std::string, std::string> files; // name (with '/') -> contents
};

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto &c : s)
        c = static_cast<char>(rng());
    return s;
}

// Text, runs, random stretches and zeros, in turn: every kind of deflate block.
std::string Mixed(size_t n) {
    std::string s;
    s.reserve(n);
    unsigned k = 0;
    while (s.size() < n) {
        switch (k++ % 4) {
        case 0:
            for (int i = 0; i < 2000; ++i)
                s += "line " + std::to_string(i) + " of some text that repeats\n";
            break;
        case 1:
            s += RandomBytes(150000, k);
            break;
        case 2:
            s.append(70000, '\0');
            break;
        default:
            s.append(40000, 'x');
            break;
        }
    }
    s.resize(n);
    return s;
}

std::vector<Case> WrittenCases() {
    return {
        {"empty file", {{"empty.txt", ""}}},
        {"one byte", {{"one.bin", "x"}}},
        {"text", {{"a.txt", std::string(11000, 'a') + "\nend\n"}}},
        {"random", {{"rnd.bin", RandomBytes(200000, 7)}}},
        {"10 MB mixed", {{"mixed.bin", Mixed(10 * 1024 * 1024)}}},
        {"folders", {{"dir/sub/deep.txt", "deep\n"}, {"dir/a.txt", "a\n"}, {"top.txt", "top\n"}}},
        {"Japanese name", {{"表示.txt", "hyouji\n"}, {"ソフト/readme.txt", "readme\n"}}},
    };
}

// Writes each case's sources and packs them with the back-end's line; the cabinets, in order.
std::vector<fs::path> PackCases(Cab32 &t, const fs::path &root, const std::vector<Case> &cases,
                                const std::function<int(const fs::path &, const fs::path &,
                                                        const std::vector<std::string> &)> &pack) {
    std::vector<fs::path> cabinets;
    int n = 0;
    for (const auto &c : cases) {
        fs::path base = root / ("src" + std::to_string(n));
        std::vector<std::string> names;
        for (const auto &[name, data] : c.files) {
            WriteFile(base / name, data);
            names.push_back(name);
        }
        fs::path cabinet = root / (std::to_string(n++) + ".cab");
        EXPECT_EQ(pack(cabinet, base, names), 0) << c.label;
        cabinets.push_back(cabinet);
    }
    (void)t;
    return cabinets;
}

} // namespace

// ---- the fixtures ----------------------------------------------------------------------------

TEST_F(Cab32, ReadsEveryReadableFixtureAsItsManifestSays) {
    auto manifest = ReadManifest(kData / "MANIFEST.tsv");
    const char *readable[] = {
        "test_read_format_cab_1.cab",              // stored, made by makecab
        "test_read_format_cab_2.cab",              // MSZIP
        "test_fuzz.cab",                           // LZX:18
        "test_read_format_cab_filename_cp932.cab", // Shift-JIS names without the UTF-8 mark
        "cab_gcab_stored.cab",
        "cab_gcab_mszip.cab",
        "cab_gcab_mszip_nopath.cab",
    };
    auto open = lib_->Get<ArcOpenArchiveProc>("CabOpenArchive");
    auto findFirst = lib_->Get<ArcFindFirstProc>("CabFindFirst");
    auto findNext = lib_->Get<ArcFindNextProc>("CabFindNext");
    auto close = lib_->Get<ArcCloseArchiveProc>("CabCloseArchive");
    auto check = lib_->Get<ArcCheckArchiveProc>("CabCheckArchive");
    for (const char *name : readable) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(manifest.count(name));
        const Fixture &f = manifest[name];
        fs::path dest = tmp_.path / name;
        ASSERT_EQ(Extract(kData / name, dest), 0) << Output();
        ASSERT_FALSE(f.sha256.empty());
        // Contents by name where the MANIFEST's names are readable (its Shift-JIS line is not),
        // and in any case the same contents in all.
        std::multiset<std::string> want, got;
        for (const auto &[entry, sha] : f.sha256) {
            want.insert(sha);
            if (f.sizes.count(entry)) {
                EXPECT_EQ(Sha256(dest / entry), sha) << entry;
            }
        }
        for (const auto &[entry, size] : f.sizes) {
            EXPECT_EQ(fs::file_size(dest / entry), size) << entry;
            got.insert(Sha256(dest / entry));
        }
        EXPECT_EQ(got, want);
        // The probe's mode.
        HARC h = open(nullptr, (kData / name).c_str(), 0x800002);
        ASSERT_NE(h, nullptr);
        std::map<std::string, uint64_t> listed;
        INDIVIDUALINFO info;
        for (int r = findFirst(h, "", &info); r == 0; r = findNext(h, &info))
            listed[info.szFileName] = info.dwOriginalSize;
        EXPECT_EQ(listed, f.sizes);
        EXPECT_EQ(close(h), 0);
        EXPECT_TRUE(check((kData / name).c_str(), 0));
        EXPECT_TRUE(check((kData / name).c_str(), 2));
        EXPECT_EQ(Cab("-t " + Q(kData / name) + " "), 0) << Output();
    }
}

// Each refused with its code and a message, nothing left behind, no handle, no check passed.
TEST_F(Cab32, RefusesMultiPartAndDamagedFixturesCleanly) {
    struct Refused {
        const char *name;
        int code;
        const char *message;
    } cases[] = {
        // A set: "ones" continues from p1 into p2; read alone it would come out cut.
        {"test_read_format_cab_multi.p1.cab", kUnsupported, "cabinet set"},
        {"test_read_format_cab_multi.p2.cab", kUnsupported, "cabinet set"},
        {"test_read_format_cab_skip_malformed.cab", kDamaged, "damaged"},
    };
    auto open = lib_->Get<ArcOpenArchiveProc>("CabOpenArchive");
    auto check = lib_->Get<ArcCheckArchiveProc>("CabCheckArchive");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::path dest = tmp_.path / c.name;
        EXPECT_EQ(Extract(kData / c.name, dest), c.code);
        EXPECT_NE(Output().find(c.message), std::string::npos) << Output();
        EXPECT_TRUE(Tree(dest).empty());
        EXPECT_EQ(Cab("-t " + Q(kData / c.name) + " "), c.code);
        EXPECT_FALSE(check((kData / c.name).c_str(), 2));
        unsigned char buf[64];
        DWORD written = 1;
        EXPECT_EQ(lib_->Get<ArcExtractMemProc>("CabExtractMem")(
                      nullptr, (" " + Q(kData / c.name) + " \"*\"").c_str(), buf, sizeof buf,
                      nullptr, nullptr, &written),
                  c.code);
        EXPECT_EQ(written, 0u);
        if (c.code == kUnsupported) {
            EXPECT_EQ(open(nullptr, (kData / c.name).c_str(), 0x800002), nullptr);
        }
    }
}

// libarchive 3.6.2 cannot decode an LZX folder with the smallest window (bsdtar fails the same
// way): the entry is reported damaged, never extracted wrong. A libarchive that reads it must
// give the MANIFEST's contents.
TEST_F(Cab32, LzxWithTheSmallestWindowIsExtractedRightOrReportedDamaged) {
    const char *name = "test_read_format_cab_lzx_16bit.cab";
    auto manifest = ReadManifest(kData / "MANIFEST.tsv");
    fs::path dest = tmp_.path / "lzx";
    int r = Extract(kData / name, dest);
    if (r == 0) {
        EXPECT_EQ(Sha256(dest / "lzx16.bin"), manifest[name].sha256["lzx16.bin"]);
    } else {
        EXPECT_EQ(r, kDamaged) << Output();
        EXPECT_TRUE(Tree(dest).empty());
    }
}

TEST_F(Cab32, ListingGivesTheMethodOfEachFilesFolder) {
    struct Listed {
        const char *fixture, *method;
    } cases[] = {
        {"test_read_format_cab_1.cab", "none"},
        {"test_read_format_cab_2.cab", "MSZIP"},
        {"test_fuzz.cab", "LZX"},
    };
    auto open = lib_->Get<ArcOpenArchiveProc>("CabOpenArchive");
    auto findFirst = lib_->Get<ArcFindFirstProc>("CabFindFirst");
    auto findNext = lib_->Get<ArcFindNextProc>("CabFindNext");
    auto close = lib_->Get<ArcCloseArchiveProc>("CabCloseArchive");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fixture);
        HARC h = open(nullptr, (kData / c.fixture).c_str(), 0);
        ASSERT_NE(h, nullptr);
        INDIVIDUALINFO info;
        int n = 0;
        for (int r = findFirst(h, "*", &info); r == 0; r = findNext(h, &info), ++n)
            EXPECT_STREQ(info.szMode, c.method) << info.szFileName;
        EXPECT_GT(n, 0);
        close(h);
    }
}

// ---- cabinets we write ------------------------------------------------------------------------

TEST_F(Cab32, WrittenCabinetsPassCabextract) {
    if (!Have("cabextract"))
        GTEST_SKIP() << "cabextract is not installed";
    auto cases = WrittenCases();
    auto cabinets = PackCases(*this, tmp_.path, cases,
                              [&](auto &c, auto &b, auto &n) { return Pack(c, b, n); });
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].label);
        std::string out;
        EXPECT_EQ(Shell("cabextract -t " + Quote(cabinets[i].string()), &out), 0) << out;
        fs::path dest = tmp_.path / ("cabextract" + std::to_string(i));
        ASSERT_EQ(
            Shell("cabextract -q -d " + Quote(dest.string()) + " " + Quote(cabinets[i].string()),
                  &out),
            0)
            << out;
        EXPECT_EQ(Tree(dest), cases[i].files);
    }
}

TEST_F(Cab32, WrittenCabinetsPassGcab) {
    if (!Have("gcab"))
        GTEST_SKIP() << "gcab is not installed";
    auto cases = WrittenCases();
    auto cabinets = PackCases(*this, tmp_.path, cases,
                              [&](auto &c, auto &b, auto &n) { return Pack(c, b, n); });
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].label);
        std::string out;
        EXPECT_EQ(Shell("gcab -t " + Quote(cabinets[i].string()), &out), 0) << out;
        fs::path dest = tmp_.path / ("gcab" + std::to_string(i));
        fs::create_directories(dest);
        ASSERT_EQ(
            Shell("gcab -x -C " + Quote(dest.string()) + " " + Quote(cabinets[i].string()), &out),
            0)
            << out;
        EXPECT_EQ(Tree(dest), cases[i].files);
    }
}

TEST_F(Cab32, WrittenCabinetsReadBackThroughLibarchiveStoredAndMszip) {
    auto cases = WrittenCases();
    for (const char *method : {"", "-mn"}) {
        SCOPED_TRACE(method);
        fs::path root = tmp_.path / (*method ? "stored" : "mszip");
        auto cabinets = PackCases(*this, root, cases,
                                  [&](auto &c, auto &b, auto &n) { return Pack(c, b, n, method); });
        for (size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(cases[i].label);
            bool ok = false;
            EXPECT_EQ(LibarchiveTree(cabinets[i], &ok), cases[i].files);
            EXPECT_TRUE(ok);
            // And our own extraction of our own cabinet.
            fs::path dest = root / ("x" + std::to_string(i));
            ASSERT_EQ(Extract(cabinets[i], dest), 0) << Output();
            EXPECT_EQ(Tree(dest), cases[i].files);
        }
    }
}

// The compress job's line: the file given with its full path, stored under it.
TEST_F(Cab32, CompressJobLineMakesARealCabinet) {
    fs::path src = tmp_.path / "x" / "a.txt";
    WriteFile(src, "hello cab\n");
    fs::path cabinet = tmp_.path / "y" / "a.cab";
    fs::create_directories(cabinet.parent_path());
    ASSERT_EQ(Cab("-a  " + Q(cabinet) + " " + Q(src) + " "), 0) << Output();
    bool ok = false;
    auto files = LibarchiveTree(cabinet, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.begin()->first, src.string().substr(1));
    EXPECT_EQ(files.begin()->second, "hello cab\n");
}

// Random data repeating every 20,000 bytes: the start of each block repeats the block before, so
// it compresses only when each block's deflate stream may refer to the block before it (without
// that, every block would cost 20,000 bytes).
TEST_F(Cab32, MszipHistoryIsCarriedFromBlockToBlock) {
    std::string piece = RandomBytes(20000, 3), data;
    while (data.size() < 8 * 32768)
        data += piece;
    WriteFile(tmp_.path / "src" / "rep.bin", data);
    fs::path cabinet = tmp_.path / "rep.cab";
    ASSERT_EQ(Pack(cabinet, tmp_.path / "src", {"rep.bin"}), 0) << Output();
    EXPECT_LT(fs::file_size(cabinet), 20000u + 8 * 1024u);
    bool ok = false;
    EXPECT_EQ(LibarchiveTree(cabinet, &ok)["rep.bin"], data);
    EXPECT_TRUE(ok);
    if (Have("cabextract")) {
        std::string out;
        EXPECT_EQ(Shell("cabextract -t " + Quote(cabinet.string()), &out), 0) << out;
    }
}

// A byte changed in a data block fails its checksum: test and extraction say damaged and leave
// no file.
TEST_F(Cab32, DamagedDataBlockIsReportedNotExtracted) {
    for (const char *method : {"", "-mn"}) {
        SCOPED_TRACE(method);
        fs::path base = tmp_.path / "src";
        WriteFile(base / "a.txt", std::string(5000, 'q') + "tail");
        fs::path cabinet = tmp_.path / (std::string("bad") + method + ".cab");
        ASSERT_EQ(Pack(cabinet, base, {"a.txt"}, method), 0) << Output();
        std::string bytes = ReadFile(cabinet);
        bytes[bytes.size() - 3] ^= 0x01;
        WriteFile(cabinet, bytes);
        EXPECT_EQ(Cab("-t " + Q(cabinet) + " "), kDamaged) << Output();
        fs::path dest = tmp_.path / (std::string("out") + method);
        EXPECT_EQ(Extract(cabinet, dest), kDamaged) << Output();
        EXPECT_TRUE(Tree(dest).empty());
    }
}

TEST_F(Cab32, DialectSwitches) {
    fs::path base = tmp_.path / "src";
    WriteFile(base / "a.txt", "a");
    WriteFile(base / "a.bak", "bak");
    WriteFile(base / "sub" / "b.txt", "b");
    struct PackCase {
        const char *switches;
        std::vector<std::string> names;
        std::map<std::string, std::string> listed;
    } packs[] = {
        {"", {"*.txt"}, {{"a.txt", "a"}}},
        {"-r", {"*.txt"}, {{"a.txt", "a"}, {"sub/b.txt", "b"}}},
        {"-j", {"sub"}, {{"b.txt", "b"}}},
        {"", {"sub"}, {{"sub/b.txt", "b"}}},
        // What the other switches of the back-end write: accepted, nothing changes.
        {"-i \"-h/tmp/\" -q -mz", {"a.txt"}, {{"a.txt", "a"}}},
    };
    int n = 0;
    for (const auto &c : packs) {
        SCOPED_TRACE(c.switches);
        fs::path cabinet = tmp_.path / (std::to_string(n++) + ".cab");
        ASSERT_EQ(Pack(cabinet, base, c.names, c.switches), 0) << Output();
        bool ok = false;
        EXPECT_EQ(LibarchiveTree(cabinet, &ok), c.listed);
        EXPECT_TRUE(ok);
    }
    // Extraction: -j leaves the folders out.
    fs::path cabinet = tmp_.path / "all.cab";
    ASSERT_EQ(Pack(cabinet, base, {"a.txt", "sub"}), 0);
    fs::path flat = tmp_.path / "flat";
    ASSERT_EQ(Extract(cabinet, flat, "-j"), 0) << Output();
    EXPECT_EQ(Tree(flat), (std::map<std::string, std::string>{{"a.txt", "a"}, {"b.txt", "b"}}));
}

// Without -o an existing file is kept; with it, it is replaced.
TEST_F(Cab32, ExistingFilesAreReplacedOnlyWithO) {
    fs::path base = tmp_.path / "src";
    WriteFile(base / "a.txt", "new");
    fs::path cabinet = tmp_.path / "a.cab";
    ASSERT_EQ(Pack(cabinet, base, {"a.txt"}), 0);
    fs::path dest = tmp_.path / "dest";
    WriteFile(dest / "a.txt", "old");
    EXPECT_EQ(Extract(cabinet, dest), 0) << Output();
    EXPECT_EQ(ReadFile(dest / "a.txt"), "old");
    EXPECT_NE(Output().find("skipped"), std::string::npos) << Output();
    EXPECT_EQ(Extract(cabinet, dest, "-o"), 0) << Output();
    EXPECT_EQ(ReadFile(dest / "a.txt"), "new");
}

TEST_F(Cab32, NamedEntriesOnlyAndNoMatch) {
    fs::path base = tmp_.path / "src";
    WriteFile(base / "a.txt", "a");
    WriteFile(base / "d" / "b.txt", "b");
    fs::path cabinet = tmp_.path / "a.cab";
    ASSERT_EQ(Pack(cabinet, base, {"a.txt", "d"}), 0);
    fs::path dest = tmp_.path / "dest";
    EXPECT_EQ(Cab("-x " + Q(cabinet) + " " + Q(dest.string() + "/") + " \"b.txt\" "), 0)
        << Output();
    EXPECT_EQ(Tree(dest), (std::map<std::string, std::string>{{"d/b.txt", "b"}}));
    EXPECT_EQ(Cab("-x " + Q(cabinet) + " " + Q(dest.string() + "/") + " \"zzz\" "), kNoFiles);
}

TEST_F(Cab32, SelfExtractorIsRefusedWithAReason) {
    fs::path base = tmp_.path / "src";
    WriteFile(base / "a.txt", "a");
    fs::path cabinet = tmp_.path / "a.cab";
    ASSERT_EQ(Pack(cabinet, base, {"a.txt"}), 0);
    EXPECT_EQ(Cab("-f  " + Q(cabinet) + " " + Q(tmp_.path.string() + "/") + " "), kUnsupported);
    EXPECT_NE(Output().find("Linux"), std::string::npos) << Output();
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp_.path), fs::directory_iterator()), 2);
}

// A pack that fails keeps the old cabinet as it was; folders, links and the cabinet itself are
// no entries.
TEST_F(Cab32, FailedPackKeepsTheOldCabinetAndOnlyFilesAreStored) {
    fs::path base = tmp_.path / "src";
    WriteFile(base / "a.txt", "a");
    fs::create_directories(base / "emptydir");
    fs::create_symlink("a.txt", base / "link");
    fs::path cabinet = base / "self.cab";
    ASSERT_EQ(Pack(cabinet, base, {"a.txt", "emptydir", "link"}), 0) << Output();
    EXPECT_NE(Output().find("symbolic link"), std::string::npos) << Output();
    bool ok = false;
    EXPECT_EQ(LibarchiveTree(cabinet, &ok), (std::map<std::string, std::string>{{"a.txt", "a"}}));
    std::string before = ReadFile(cabinet);
    // Packing the folder takes the cabinet itself along only as a skipped line.
    ASSERT_EQ(Pack(cabinet, base, {"."}), 0) << Output();
    EXPECT_EQ(LibarchiveTree(cabinet, &ok), (std::map<std::string, std::string>{{"a.txt", "a"}}));
    before = ReadFile(cabinet);
    EXPECT_EQ(Pack(cabinet, base, {"a.txt", "missing.txt"}), kReadSource);
    EXPECT_EQ(ReadFile(cabinet), before);
    // A name a cabinet would read as two.
    WriteFile(base / "back\\slash.txt", "x");
    EXPECT_EQ(Pack(cabinet, base, {"back\\slash.txt"}), kUnsupported);
    EXPECT_EQ(ReadFile(cabinet), before);
    EXPECT_EQ(Pack(cabinet, base, {"emptydir"}), kNoFiles);
    EXPECT_EQ(ReadFile(cabinet), before);
}

TEST_F(Cab32, ExtractMemGivesTheEntryOrSaysTheBufferIsTooSmall) {
    auto mem = lib_->Get<ArcExtractMemProc>("CabExtractMem");
    std::string line = " " + Q(kData / "cab_gcab_mszip.cab") + " \"a.txt\"";
    std::vector<unsigned char> buf(20000);
    DWORD written = 0;
    WORD attr = 0;
    ASSERT_EQ(mem(nullptr, line.c_str(), buf.data(), static_cast<DWORD>(buf.size()), nullptr, &attr,
                  &written),
              0);
    ASSERT_EQ(written, 11000u);
    EXPECT_EQ(attr, 0x20);
    std::string got(reinterpret_cast<char *>(buf.data()), written);
    fs::path dest = tmp_.path / "x";
    ASSERT_EQ(Extract(kData / "cab_gcab_mszip.cab", dest), 0);
    EXPECT_EQ(got, ReadFile(dest / "a.txt"));
    EXPECT_EQ(mem(nullptr, line.c_str(), buf.data(), 100, nullptr, nullptr, &written),
              kBufferTooSmall);
    EXPECT_EQ(written, 100u);
    EXPECT_EQ(std::memcmp(buf.data(), got.data(), 100), 0);
}

TEST_F(Cab32, ProgressReportsAndCancel) {
    fs::path base = tmp_.path / "src";
    WriteFile(base / "a.txt", std::string(200000, 'a'));
    WriteFile(base / "b.txt", "b");
    fs::path cabinet = tmp_.path / "p.cab";
    RecordingWindow w;
    ASSERT_EQ(Cab("-a -i " + Q(cabinet) + " " + Q(base.string() + "/") + " \"a.txt\" \"b.txt\" ",
                  w.Handle()),
              0)
        << Output();
    ASSERT_FALSE(w.states.empty());
    EXPECT_EQ(w.states.front(), 3);
    EXPECT_EQ(std::count(w.states.begin(), w.states.end(), 0), 2);
    EXPECT_EQ(std::count(w.states.begin(), w.states.end(), 2), 2);
    std::string before = ReadFile(cabinet);
    RecordingWindow stop;
    stop.stopAt = 2;
    WriteFile(base / "b.txt", "changed");
    EXPECT_EQ(Cab("-a " + Q(cabinet) + " " + Q(base.string() + "/") + " \"a.txt\" \"b.txt\" ",
                  stop.Handle()),
              32800);
    EXPECT_EQ(ReadFile(cabinet), before);
    RecordingWindow x;
    fs::path dest = tmp_.path / "dest";
    ASSERT_EQ(Extract(cabinet, dest), 0);
    ASSERT_EQ(Cab("-x -o " + Q(cabinet) + " " + Q(dest.string() + "/") + " ", x.Handle()), 0);
    EXPECT_EQ(x.states.front(), 3);
    EXPECT_EQ(std::count(x.states.begin(), x.states.end(), 2), 2);
}

TEST_F(Cab32, MalformedCommandLinesAndMissingCabinets) {
    struct Bad {
        std::string line;
        int code;
    } cases[] = {
        {"-x \"unclosed", 32769},
        {"-z " + Q(tmp_.path / "a.cab"), 32769},
        {"-x", 32769},
        {"-x " + Q(tmp_.path / "none.cab") + " " + Q(tmp_.path.string() + "/"), 32770},
        {"-a " + Q(tmp_.path / "a.cab") + " " + Q(tmp_.path.string() + "/") + " @" +
             (tmp_.path / "nolist").string(),
         32769},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(Cab(c.line), c.code) << Output();
        EXPECT_FALSE(Output().empty());
    }
    WriteFile(tmp_.path / "not.cab", "this is no cabinet at all");
    EXPECT_EQ(Extract(tmp_.path / "not.cab", tmp_.path / "o"), 32771) << Output();
    EXPECT_FALSE(
        lib_->Get<ArcCheckArchiveProc>("CabCheckArchive")((tmp_.path / "not.cab").c_str(), 0));
    EXPECT_EQ(lib_->Get<ArcOpenArchiveProc>("CabOpenArchive")(
                  nullptr, (tmp_.path / "not.cab").c_str(), 0x800002),
              nullptr);
}

// libarchive has no Quantum decoder: such a cabinet is refused as a whole with the reason, not
// half extracted and reported damaged.
TEST_F(Cab32, QuantumCabinetIsRefusedWithTheReason) {
    fs::path base = tmp_.path / "src";
    WriteFile(base / "a.txt", "a");
    WriteFile(base / "b.txt", "b");
    fs::path cabinet = tmp_.path / "q.cab";
    ASSERT_EQ(Pack(cabinet, base, {"a.txt", "b.txt"}, "-mn"), 0) << Output();
    std::string bytes = ReadFile(cabinet);
    bytes[36 + 6] = 2; // the first folder's compression: Quantum, window 2^15
    bytes[36 + 7] = 0x0F;
    WriteFile(cabinet, bytes);
    fs::path dest = tmp_.path / "out";
    EXPECT_EQ(Extract(cabinet, dest), kUnsupported);
    EXPECT_NE(Output().find("Quantum"), std::string::npos) << Output();
    EXPECT_TRUE(Tree(dest).empty());
    EXPECT_EQ(Cab("-t " + Q(cabinet) + " "), kUnsupported);
}
