// libunarj32j.so through its C entry points, loaded as the component loads it, with the command
// lines the ARJ back-end writes: the fixtures made by arj against their MANIFEST, garbled and
// multi-volume archives refused, listing, check modes, memory extraction, progress and cancel,
// and archives made by arj at test time with every method.
#include "tests/unarj32j/ArjTestSupport.h"

#include <ctime>
#include <random>
#include <sys/stat.h>

using namespace arjtest;

namespace {

const char *const kReadable[] = {
    "arj_m0.arj",
    "arj_m1.arj",
    "arj_m2.arj",
    "arj_m3.arj",
    "arj_m4.arj",
    "arj_tree.arj",
    "arj_tree_unixhost.arj",
};

int64_t Time(int y, int mo, int d, int h, int mi, int s, bool local) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return static_cast<int64_t>(local ? std::mktime(&t) : ::timegm(&t));
}

} // namespace

TEST(Unarj32j, ExtractsEveryFixtureAsItsManifestSays) {
    auto manifest = ReadManifest(kData / "MANIFEST.tsv");
    for (const char *name : kReadable) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(manifest.count(name));
        const Fixture &f = manifest[name];
        ASSERT_FALSE(f.sha256.empty());
        TempDir tmp;
        Result r = Unarj(ExtractLine(kData / name, tmp.path));
        ASSERT_EQ(r.code, 0) << r.output;
        for (const auto &[entry, sha] : f.sha256)
            EXPECT_EQ(Sha256(tmp.path / entry), sha) << entry;
        // Nothing else was written: the files of the manifest and their folders.
        for (const auto &n : Tree(tmp.path))
            if (n.back() != '/') {
                EXPECT_TRUE(f.sha256.count(n)) << "unexpected file " << n;
            }
        // The listing has every file with its size, and the folders.
        bool opened = false;
        std::vector<INDIVIDUALINFO> infos;
        auto listed = Listed(kData / name, &opened, &infos);
        ASSERT_TRUE(opened);
        // The CRC-32 of the listing is that of the contents.
        for (const auto &i : infos)
            if (f.sha256.count(i.szFileName)) {
                EXPECT_EQ(static_cast<DWORD>(i.dwCRC), Crc(ReadFile(tmp.path / i.szFileName)))
                    << i.szFileName;
            }
        for (const auto &[entry, size] : f.sizes) {
            ASSERT_TRUE(listed.count(entry)) << entry;
            EXPECT_EQ(listed[entry], size) << entry;
        }
        EXPECT_TRUE(Check(kData / name, 16));
        EXPECT_TRUE(Check(kData / name, 0));
        Result t = Unarj("t -+  " + Q(kData / name) + " ");
        EXPECT_EQ(t.code, 0) << t.output;
    }
}

TEST(Unarj32j, FoldersJapaneseNamesTimesAndModesOfTheTrees) {
    for (const char *name : {"arj_tree.arj", "arj_tree_unixhost.arj"}) {
        SCOPED_TRACE(name);
        TempDir tmp;
        ASSERT_EQ(Unarj(ExtractLine(kData / name, tmp.path)).code, 0);
        // The folder entries, empty folder of the names' trail byte 0x5C included.
        std::set<std::string> want = {
            "a.txt",   "dir/",    "dir/sub/",          "empty.txt", "dir/sub/deep.txt",
            "rnd.bin", "ソフト/", "ソフト/readme.txt", "表示.txt"};
        EXPECT_EQ(Tree(tmp.path), want);
        struct stat st {};
        ASSERT_EQ(::stat((tmp.path / "a.txt").c_str(), &st), 0);
        // The time of the header: DOS local time from DOS, Unix time from Unix (where the
        // fixtures were made in UTC).
        const bool madeOnUnix = std::string(name) == "arj_tree_unixhost.arj";
        EXPECT_EQ(st.st_mtime,
                  madeOnUnix ? Time(2021, 3, 4, 5, 6, 8, false) : Time(2021, 3, 4, 5, 6, 8, true));
        EXPECT_TRUE(st.st_mode & S_IRUSR);
        EXPECT_TRUE(st.st_mode & S_IWUSR);
        std::vector<INDIVIDUALINFO> infos;
        Listed(kData / name, nullptr, &infos);
        ASSERT_EQ(infos.size(), 9u);
        std::map<std::string, std::string> methods;
        for (const auto &i : infos)
            methods[i.szFileName] = i.szMode;
        EXPECT_EQ(methods["ソフト/"], "-arj0-");
        EXPECT_EQ(methods["a.txt"], "-arj1-");
        EXPECT_EQ(static_cast<unsigned>(infos[0].uOSType),
                  std::string(name) == "arj_tree.arj" ? 0u : 2u);
    }
}

// The access and creation times of the header's extra fields (DOS local time here).
TEST(Unarj32j, ListingGivesTheHeadersThreeTimes) {
    auto open = Lib().Get<ArcOpenArchiveProc>("UnarjOpenArchive");
    auto first = Lib().Get<ArcFindFirstProc>("UnarjFindFirst");
    auto close = Lib().Get<ArcCloseArchiveProc>("UnarjCloseArchive");
    HARC h = open(nullptr, (kData / "arj_tree.arj").c_str(), 0);
    ASSERT_NE(h, nullptr);
    INDIVIDUALINFO info;
    ASSERT_EQ(first(h, "ソフト/readme.txt", &info), 0);
    auto unixOf = [&](const char *getter) -> int64_t {
        ARC_FILETIME ft{};
        if (!Lib().Get<ArcGetTimeExProc>(getter)(h, &ft))
            return -1;
        uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        return static_cast<int64_t>((t - 116444736000000000ULL) / 10000000ULL);
    };
    EXPECT_EQ(unixOf("UnarjGetWriteTimeEx"), Time(2021, 3, 4, 5, 6, 8, true));
    EXPECT_EQ(unixOf("UnarjGetAccessTimeEx"), Time(2026, 12, 10, 2, 12, 16, true));
    EXPECT_EQ(unixOf("UnarjGetCreateTimeEx"), Time(2026, 12, 10, 2, 11, 30, true));
    EXPECT_EQ(close(h), 0);
}

TEST(Unarj32j, EveryMethodListsItsName) {
    for (int m = 0; m <= 4; ++m) {
        std::string name = "arj_m" + std::to_string(m) + ".arj";
        std::vector<INDIVIDUALINFO> infos;
        Listed(kData / name, nullptr, &infos);
        ASSERT_EQ(infos.size(), 3u) << name;
        // a.txt, the first entry, is packed with the method the archive was made with.
        EXPECT_EQ(std::string(infos[0].szMode), "-arj" + std::to_string(m) + "-") << name;
        EXPECT_EQ(std::string(infos[0].szFileName), "a.txt");
        EXPECT_EQ(static_cast<DWORD>(infos[0].dwOriginalSize), 11000u);
        if (m > 0) {
            EXPECT_LT(static_cast<DWORD>(infos[0].dwCompressedSize), 11000u);
        }
    }
}

TEST(Unarj32j, FlatExtractionPutsEveryFileInTheDestination) {
    TempDir tmp;
    Result r = Unarj("e -+  " + Q(kData / "arj_tree.arj") + " " + Dir(tmp.path) + " ");
    ASSERT_EQ(r.code, 0) << r.output;
    std::set<std::string> want = {"a.txt",   "deep.txt",   "empty.txt",
                                  "rnd.bin", "readme.txt", "表示.txt"};
    EXPECT_EQ(Tree(tmp.path), want);
    TempDir x0;
    ASSERT_EQ(Unarj(ExtractLine(kData / "arj_tree.arj", x0.path, "-x0")).code, 0);
    EXPECT_EQ(Tree(x0.path), want);
}

TEST(Unarj32j, NamesSelectExcludeAndComeFromResponseFiles) {
    const fs::path tree = kData / "arj_tree.arj";
    TempDir tmp;
    WriteFile(tmp.path / "names.txt", "\"deep.txt\"\r\n\"表示.txt\"\r\n");
    struct Case {
        const char *what;
        std::string switches, files;
        std::set<std::string> files_written;
        int code;
    } cases[] = {
        {"last part", "", "\"deep.txt\"", {"dir/", "dir/sub/", "dir/sub/deep.txt"}, 0},
        {"mask", "", "\"*.bin\"", {"rnd.bin"}, 0},
        {"folder", "", "\"ソフト\"", {"ソフト/", "ソフト/readme.txt"}, 0},
        {"response file",
         "",
         "\"@" + (tmp.path / "names.txt").string() + "\"",
         {"dir/", "dir/sub/", "dir/sub/deep.txt", "表示.txt"},
         0},
        {"whole names with -p1", "-p1", "\"deep.txt\"", {}, 32774},
        {"-p1 and the full name",
         "-p1",
         "\"dir/sub/deep.txt\"",
         {"dir/", "dir/sub/", "dir/sub/deep.txt"},
         0},
        {"exclusion", "\"-jx*.txt\"", "\"*.*\"", {"dir/", "dir/sub/", "rnd.bin", "ソフト/"}, 0},
        {"nothing matches", "", "\"nothing.here\"", {}, 32774},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dest;
        Result r = Unarj(ExtractLine(tree, dest.path, c.switches, c.files));
        EXPECT_EQ(r.code, c.code) << r.output;
        EXPECT_EQ(Tree(dest.path), c.files_written);
    }
}

TEST(Unarj32j, ExistingFilesAreReplacedOnlyByNewerEntriesUnlessC1) {
    TempDir tmp;
    WriteFile(tmp.path / "a.txt", "mine");
    // The file on disk is newer than the entry (2021): kept.
    Result r = Unarj(ExtractLine(kData / "arj_m1.arj", tmp.path, "", "\"a.txt\""));
    EXPECT_EQ(ReadFile(tmp.path / "a.txt"), "mine") << r.output;
    r = Unarj(ExtractLine(kData / "arj_m1.arj", tmp.path, "-c1", "\"a.txt\""));
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(ReadFile(tmp.path / "a.txt").size(), 11000u);
}

TEST(Unarj32j, GarbledEntriesAreRefusedWithThePasswordCode) {
    const fs::path garbled = kData / "arj_garbled.arj";
    TempDir tmp;
    Result x = Unarj(ExtractLine(garbled, tmp.path));
    EXPECT_EQ(x.code, 32778) << x.output;
    EXPECT_NE(x.output.find("encrypted"), std::string::npos) << x.output;
    EXPECT_TRUE(Tree(tmp.path).empty());
    Result t = Unarj("t -+  " + Q(garbled) + " ");
    EXPECT_EQ(t.code, 32778) << t.output;
    EXPECT_NE(t.output.find("garbled"), std::string::npos) << t.output;
    // Listed without the password, as arj lists it.
    auto listed = Listed(garbled);
    EXPECT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed["a.txt"], 11000u);
    EXPECT_TRUE(Check(garbled, 16));
    EXPECT_FALSE(Check(garbled, 0));
    std::vector<unsigned char> buf(20000);
    DWORD written = 7;
    auto mem = Lib().Get<ArcExtractMemProc>("UnarjExtractMem");
    EXPECT_EQ(mem(nullptr, (" -+  " + Q(garbled) + " \"a.txt\" ").c_str(), buf.data(),
                  static_cast<DWORD>(buf.size()), nullptr, nullptr, &written),
              32778);
    EXPECT_EQ(written, 0u);
}

TEST(Unarj32j, MultiVolumeArchivesAreRefusedClearly) {
    for (const char *name : {"arj_volumes.arj", "arj_volumes.a01"}) {
        SCOPED_TRACE(name);
        const fs::path vol = kData / name;
        TempDir tmp;
        for (const std::string &line :
             {ExtractLine(vol, tmp.path), "e -+  " + Q(vol) + " " + Dir(tmp.path) + " ",
              "t -+  " + Q(vol) + " "}) {
            Result r = Unarj(line);
            EXPECT_EQ(r.code, 32779) << line;
            EXPECT_NE(r.output.find("multi-volume"), std::string::npos) << r.output;
        }
        EXPECT_TRUE(Tree(tmp.path).empty());
        EXPECT_FALSE(Check(vol, 0));
        EXPECT_TRUE(Check(vol, 16)); // an ARJ file all the same
        // What the volume holds can still be listed.
        EXPECT_FALSE(Listed(vol).empty());
        std::vector<unsigned char> buf(20000);
        DWORD written = 0;
        auto mem = Lib().Get<ArcExtractMemProc>("UnarjExtractMem");
        EXPECT_EQ(mem(nullptr, (" -+  " + Q(vol) + " \"*\" ").c_str(), buf.data(),
                      static_cast<DWORD>(buf.size()), nullptr, nullptr, &written),
                  32779);
    }
}

TEST(Unarj32j, PackingCommandsAreNotSupported) {
    TempDir tmp;
    fs::path copy = tmp.path / "copy.arj";
    fs::copy_file(kData / "arj_m1.arj", copy);
    WriteFile(tmp.path / "new.txt", "new");
    const std::string before = ReadFile(copy);
    for (const char *c : {"u", "a", "f", "m", "d", "s"}) {
        SCOPED_TRACE(c);
        Result r =
            Unarj(std::string(c) + " -+  " + Q(copy) + " " + Dir(tmp.path) + " \"new.txt\" ");
        EXPECT_EQ(r.code, 32779);
        EXPECT_FALSE(r.output.empty());
        EXPECT_EQ(ReadFile(copy), before);
    }
    // A new archive is not made either.
    EXPECT_EQ(
        Unarj("u -+  " + Q(tmp.path / "made.arj") + " " + Dir(tmp.path) + " \"new.txt\" ").code,
        32779);
    EXPECT_FALSE(fs::exists(tmp.path / "made.arj"));
}

TEST(Unarj32j, CommandLineAndFileErrors) {
    TempDir tmp;
    WriteFile(tmp.path / "text.arj", std::string(5000, 'x'));
    WriteFile(tmp.path / "empty.arj", "");
    struct Case {
        std::string line;
        int code;
    } cases[] = {
        {"x -+  " + Q(tmp.path / "missing.arj") + " " + Dir(tmp.path) + " ", 32770},
        {"x -+  " + Q(tmp.path / "text.arj") + " " + Dir(tmp.path) + " ", 32771},
        {"x -+  " + Q(tmp.path / "empty.arj") + " " + Dir(tmp.path) + " ", 32771},
        {"x -+  " + Q(tmp.path) + " " + Dir(tmp.path) + " ", 32770},
        {"l -+  " + Q(tmp.path / "text.arj") + " ", 32771},
        {"x -+ \"unclosed", 32769},
        {"x -+ ", 32769},
        {"q -+  " + Q(kData / "arj_m0.arj"), 32769},
        {"x -+  " + Q(kData / "arj_m0.arj") + " " + Dir(tmp.path) + " \"@" +
             (tmp.path / "no-such-list").string() + "\" ",
         32769},
    };
    for (const auto &c : cases) {
        Result r = Unarj(c.line);
        EXPECT_EQ(r.code, c.code) << c.line << "\n" << r.output;
        EXPECT_FALSE(r.output.empty()) << c.line;
    }
    EXPECT_FALSE(Check(tmp.path / "text.arj", 16));
    EXPECT_FALSE(Check(tmp.path / "missing.arj", 0));
    bool opened = true;
    Listed(tmp.path / "text.arj", &opened);
    EXPECT_FALSE(opened);
    auto type = Lib().Get<ArcGetArchiveTypeProc>("UnarjGetArchiveType");
    EXPECT_EQ(type((kData / "arj_m4.arj").c_str()), 1);
    EXPECT_EQ(type((tmp.path / "text.arj").c_str()), 0);
    EXPECT_EQ(type(nullptr), 0);
}

TEST(Unarj32j, ListCommandWritesMethodSizesAndNames) {
    Result r = Unarj("l -+  " + Q(kData / "arj_m4.arj") + " ");
    ASSERT_EQ(r.code, 0);
    EXPECT_NE(r.output.find("-arj4- 11000 "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" empty.txt\n"), std::string::npos) << r.output;
}

TEST(Unarj32j, MemoryExtraction) {
    auto mem = Lib().Get<ArcExtractMemProc>("UnarjExtractMem");
    auto manifest = ReadManifest(kData / "MANIFEST.tsv");
    TempDir tmp;
    for (int m = 0; m <= 4; ++m) {
        const fs::path arc = kData / ("arj_m" + std::to_string(m) + ".arj");
        SCOPED_TRACE(arc.filename().string());
        std::vector<unsigned char> buf(12000);
        DWORD written = 0;
        WORD attr = 7;
        // Exactly what the back-end's memory extraction writes: no command word.
        std::string line = " -+  " + Q(arc) + " \"rnd.bin\" ";
        ASSERT_EQ(mem(nullptr, line.c_str(), buf.data(), static_cast<DWORD>(buf.size()), nullptr,
                      &attr, &written),
                  0);
        ASSERT_EQ(written, 3000u);
        WriteFile(tmp.path / "rnd.bin", std::string(buf.begin(), buf.begin() + written));
        EXPECT_EQ(Sha256(tmp.path / "rnd.bin"), manifest["arj_m0.arj"].sha256["rnd.bin"]);
        // Too small a buffer holds the beginning.
        std::vector<unsigned char> small(100);
        ASSERT_EQ(mem(nullptr, (" -+  " + Q(arc) + " \"a.txt\" ").c_str(), small.data(),
                      static_cast<DWORD>(small.size()), nullptr, nullptr, &written),
                  32780);
        EXPECT_EQ(written, 100u);
        ASSERT_EQ(mem(nullptr, (" -+  " + Q(arc) + " \"a.txt\" ").c_str(), buf.data(),
                      static_cast<DWORD>(buf.size()), nullptr, nullptr, &written),
                  0);
        ASSERT_EQ(written, 11000u);
        WriteFile(tmp.path / "a.txt", std::string(buf.begin(), buf.begin() + written));
        EXPECT_EQ(Sha256(tmp.path / "a.txt"), manifest["arj_m0.arj"].sha256["a.txt"]);
        EXPECT_EQ(std::string(small.begin(), small.end()),
                  std::string(buf.begin(), buf.begin() + 100));
        EXPECT_EQ(mem(nullptr, (" -+  " + Q(arc) + " \"none.txt\" ").c_str(), buf.data(),
                      static_cast<DWORD>(buf.size()), nullptr, nullptr, &written),
                  32774);
        EXPECT_EQ(mem(nullptr, ("t -+  " + Q(arc) + " \"a.txt\" ").c_str(), buf.data(),
                      static_cast<DWORD>(buf.size()), nullptr, nullptr, &written),
                  32769);
    }
}

TEST(Unarj32j, ProgressReportsAndCancel) {
    TempDir tmp;
    RecordingWindow w;
    Result r = Unarj(ExtractLine(kData / "arj_m1.arj", tmp.path), w.Handle());
    ASSERT_EQ(r.code, 0) << r.output;
    ASSERT_FALSE(w.states.empty());
    EXPECT_EQ(w.states.front(), ARCEXTRACT_OPEN);
    EXPECT_EQ(std::count(w.states.begin(), w.states.end(), ARCEXTRACT_BEGIN), 3);
    EXPECT_EQ(std::count(w.states.begin(), w.states.end(), ARCEXTRACT_END), 3);
    // Stopped at the first entry's first report: nothing is left behind.
    TempDir stopped;
    RecordingWindow stop;
    stop.stopAt = 1;
    EXPECT_EQ(Unarj(ExtractLine(kData / "arj_m1.arj", stopped.path), stop.Handle()).code, 32800);
    EXPECT_TRUE(Tree(stopped.path).empty());
    RecordingWindow stopTest;
    stopTest.stopAt = 2;
    EXPECT_EQ(Unarj("t -+  " + Q(kData / "arj_m1.arj") + " ", stopTest.Handle()).code, 32800);
}

// Archives made by arj now: every method over text with far repeats (beyond ARJ's 26,624-byte
// window and the fastest method's 15,871), random data and several Huffman blocks.
TEST(Unarj32j, ReadsWhatArjMakesWithEveryMethod) {
    if (Shell("command -v arj") != 0)
        GTEST_SKIP() << "arj is not installed";
    TempDir tmp;
    fs::path src = tmp.path / "src";
    std::mt19937 rng(42);
    std::string text, noise, mixed;
    for (int i = 0; i < 30000; ++i)
        text +=
            "line " + std::to_string(i % 977) + " of the text " + std::to_string(rng() % 50) + "\n";
    for (int i = 0; i < 70000; ++i)
        noise += static_cast<char>(rng() & 0xFF);
    for (int i = 0; i < 40; ++i)
        mixed += noise.substr(static_cast<size_t>(i) * 1000, 700) + text.substr(0, 30000);
    WriteFile(src / "text.txt", text);
    WriteFile(src / "noise.bin", noise);
    WriteFile(src / "mixed.bin", mixed);
    WriteFile(src / "one.txt", "x");
    // Every method, and the maximum-compression modes (which may search further back).
    const char *const kSwitches[] = {"-m0", "-m1",     "-m2",          "-m3",
                                     "-m4", "-m1 -jm", "-m1 -jh65535", "-m4 -jm"};
    int n = 0;
    for (const char *sw : kSwitches) {
        SCOPED_TRACE(sw);
        fs::path arc = tmp.path / ("a" + std::to_string(n) + ".arj");
        std::string out;
        ASSERT_EQ(Shell("cd " + Quote(src.string()) + " && arj a -y " + sw + " " +
                            Quote(arc.string()) + " text.txt noise.bin mixed.bin one.txt",
                        &out),
                  0)
            << out;
        fs::path dest = tmp.path / ("out" + std::to_string(n++));
        Result r = Unarj(ExtractLine(arc, dest));
        ASSERT_EQ(r.code, 0) << r.output;
        for (const char *f : {"text.txt", "noise.bin", "mixed.bin", "one.txt"})
            EXPECT_EQ(ReadFile(dest / f), ReadFile(src / f)) << f;
        EXPECT_TRUE(Check(arc, 0));
    }
}
