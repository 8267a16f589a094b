// libunarj32j against damaged and hostile archives: byte flips and truncations of the fixtures,
// hand-made headers (DOS and Unix separators, names that leave the destination, unknown methods,
// garbled and split entries, lying sizes and CRCs, extended headers, a self-extractor stub), and
// the fuzz corpus replayed through the reader and the library.
#include "ArjArchive.h"
#include "tests/unarj32j/ArjTestSupport.h"

using namespace arjtest;

namespace {

std::vector<arj::Entry> EntriesOf(const std::string &bytes) {
    arj::MemoryIn in(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    arj::Reader reader(in);
    std::vector<arj::Entry> all;
    arj::Entry e;
    while (reader.Next(e))
        all.push_back(e);
    return all;
}

// The files below dest that hold the content the manifest gives them; any other file is wrong.
void ExpectOnlyGoodFiles(const fs::path &dest, const Fixture &f) {
    for (const auto &n : Tree(dest)) {
        if (n.back() == '/')
            continue;
        ASSERT_TRUE(f.sha256.count(n)) << "unexpected file " << n;
        EXPECT_EQ(Sha256(dest / n), f.sha256.at(n)) << n << " was written with wrong contents";
    }
}

} // namespace

TEST(Unarj32jHostile, FlippedAndCutArchivesGiveACodeAndNoWrongFile) {
    auto manifest = ReadManifest(kData / "MANIFEST.tsv");
    for (const char *name : {"arj_m0.arj", "arj_m1.arj", "arj_m4.arj"}) {
        const std::string good = ReadFile(kData / name);
        const auto entries = EntriesOf(good);
        ASSERT_EQ(entries.size(), 3u);
        const arj::Entry &a = entries[0]; // a.txt, packed by the archive's method
        const arj::Entry &rnd = entries[1];
        struct Case {
            std::string what;
            size_t at; // byte to flip, or the length to cut to
            bool cut;
            std::set<int> codes;
            std::string lost; // the entry that must not be written
        } cases[] = {
            {"main header", 12, false, {32771}, ""},
            {"main header id", 1, false, {32771}, ""},
            {"first local header", a.headerOffset + 10, false, {32772}, "a.txt"},
            {"first entry's CRC field", a.headerOffset + 4 + 20, false, {32772}, "a.txt"},
            {"first entry's data", a.dataOffset + 7, false, {32772}, "a.txt"},
            {"first entry's last byte", a.dataOffset + a.packedSize - 1, false, {32772}, "a.txt"},
            {"second entry's data", rnd.dataOffset + 100, false, {32772}, "rnd.bin"},
            {"second header id", rnd.headerOffset, false, {32772}, "rnd.bin"},
            {"nothing left", 0, true, {32771}, ""},
            {"inside the main header", 20, true, {32771}, ""},
            {"inside the first entry's data",
             a.dataOffset + a.packedSize / 2,
             true,
             {32772},
             "a.txt"},
            {"inside the second header", rnd.headerOffset + 8, true, {32772}, "rnd.bin"},
            {"inside the second entry's data", rnd.dataOffset + 10, true, {32772}, "rnd.bin"},
            {"without the end mark", good.size() - 4, true, {32772}, ""},
            {"half the end mark", good.size() - 1, true, {32772}, ""},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(name) + ": " + c.what);
            std::string bad = good;
            if (c.cut)
                bad.resize(c.at);
            else
                bad[c.at] = static_cast<char>(bad[c.at] ^ 0x5A);
            TempDir tmp;
            const fs::path arc = tmp.path / "bad.arj";
            WriteFile(arc, bad);
            const fs::path dest = tmp.path / "out";
            Result x = Unarj(ExtractLine(arc, dest));
            EXPECT_TRUE(c.codes.count(x.code)) << x.code << "\n" << x.output;
            EXPECT_FALSE(x.output.empty());
            ExpectOnlyGoodFiles(dest, manifest[name]);
            if (!c.lost.empty()) {
                EXPECT_FALSE(fs::exists(dest / c.lost));
            }
            Result t = Unarj("t -+  " + Q(arc) + " ");
            EXPECT_TRUE(c.codes.count(t.code)) << t.code << "\n" << t.output;
            EXPECT_FALSE(Check(arc, 0));
            if (!c.lost.empty()) {
                std::vector<unsigned char> buf(20000);
                DWORD written = 0;
                auto mem = Lib().Get<ArcExtractMemProc>("UnarjExtractMem");
                int r = mem(nullptr, (" -+  " + Q(arc) + " \"" + c.lost + "\" ").c_str(),
                            buf.data(), static_cast<DWORD>(buf.size()), nullptr, nullptr, &written);
                EXPECT_TRUE(r == 32772 || r == 32771) << r;
            }
        }
    }
}

TEST(Unarj32jHostile, FolderSeparatorsFollowTheHostSystem) {
    struct Case {
        const char *what;
        std::string name;
        uint8_t hostOs;
        std::string written;
    } cases[] = {
        {"DOS backslash", "dir\\sub\\f.txt", 0, "dir/sub/f.txt"},
        {"DOS slash", "dir/f.txt", 0, "dir/f.txt"},
        {"Win32 backslash", "w\\f.txt", 11, "w/f.txt"},
        {"OS/2 backslash", "o\\f.txt", 5, "o/f.txt"},
        {"Unix keeps a backslash", "u\\f.txt", 2, "u\\f.txt"},
        // 表 and ソ end in the byte 0x5C in code page 932: no separator there.
        {"CP932 trail bytes", "\x95\x5C\x8E\xA6\\\x83\x5C\x83t\x83g.txt", 0, "表示/ソフト.txt"},
        {"CP932 on Unix", "\x95\x5C\x8E\xA6.txt", 2, "表示.txt"},
        {"UTF-8", "日本/語.txt", 2, "日本/語.txt"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        RawEntry e;
        e.name = c.name;
        e.hostOs = c.hostOs;
        e.data = "content";
        WriteFile(tmp.path / "t.arj", MakeArchive({e}));
        Result r = Unarj(ExtractLine(tmp.path / "t.arj", tmp.path / "out"));
        EXPECT_EQ(r.code, 0) << r.output;
        EXPECT_EQ(ReadFile(tmp.path / "out" / c.written), "content");
        auto listed = Listed(tmp.path / "t.arj");
        EXPECT_TRUE(listed.count(c.written));
    }
}

TEST(Unarj32jHostile, NamesOutsideTheDestinationAreRefused) {
    std::vector<RawEntry> entries;
    for (const char *n : {"../evil1.txt", "..\\evil2.txt", "/tmp/evil3.txt", "\\evil4.txt",
                          "a\\..\\..\\evil5.txt"}) {
        RawEntry e;
        e.name = n;
        e.data = "evil";
        entries.push_back(e);
    }
    RawEntry good;
    good.name = "good.txt";
    good.data = "good";
    entries.push_back(good);
    TempDir tmp;
    WriteFile(tmp.path / "evil.arj", MakeArchive(entries));
    const fs::path dest = tmp.path / "a" / "out";
    for (const std::string cmd : {"x", "e"}) {
        Result r = Unarj(cmd + " -+  " + Q(tmp.path / "evil.arj") + " " + Dir(dest) + " ");
        EXPECT_EQ(r.code, 32777) << r.output;
        EXPECT_EQ(ReadFile(dest / "good.txt"), "good");
    }
    // Only the destination and the archive: nothing landed beside or above them.
    std::set<std::string> want = {"a/", "a/out/", "a/out/good.txt", "evil.arj"};
    EXPECT_EQ(Tree(tmp.path), want);
    EXPECT_FALSE(fs::exists("/tmp/evil3.txt"));
}

// One odd entry between two good ones: the odd one gets its code, the good ones are extracted
// (a whole-archive refusal for the volume flag of the main header).
TEST(Unarj32jHostile, OddEntriesAmongGoodOnes) {
    auto good = [](const char *n) {
        RawEntry e;
        e.name = n;
        e.data = std::string("data of ") + n;
        return e;
    };
    struct Case {
        const char *what;
        std::function<void(RawEntry &)> change;
        int code;
        bool othersWritten;
        uint8_t mainFlags;
        std::string extended;
    } cases[] = {
        {"unknown method", [](RawEntry &e) { e.method = 7; }, 32779, true, 0x10, ""},
        {"garbled", [](RawEntry &e) { e.flags |= 0x01; }, 32778, true, 0x10, ""},
        {"continued from a previous volume", [](RawEntry &e) { e.flags |= 0x08; }, 32779, false,
         0x10, ""},
        {"continued in the next volume", [](RawEntry &e) { e.flags |= 0x04; }, 32779, false, 0x10,
         ""},
        {"stored, shorter than its size", [](RawEntry &e) { e.originalSize = 100; }, 32772, true,
         0x10, ""},
        {"wrong CRC", [](RawEntry &e) { e.crc = 0x12345678; }, 32772, true, 0x10, ""},
        {"huge size, a few bytes of method 1",
         [](RawEntry &e) {
             e.method = 1;
             e.originalSize = 0xFFFFFFF0u;
             e.packed = std::string("\x00\x01\x00\x00\x00\x00\x00", 7);
         },
         32772, true, 0x10, ""},
        {"huge size, a few bytes of method 4",
         [](RawEntry &e) {
             e.method = 4;
             e.originalSize = 0xFFFFFFF0u;
             e.packed = std::string(8, '\0');
         },
         32772, true, 0x10, ""},
        {"archive flagged as a volume", [](RawEntry &) {}, 32779, false, 0x14, ""},
        {"extended headers skipped", [](RawEntry &) {}, 0, true, 0x10, "extended header data"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RawEntry odd = good("odd.txt");
        c.change(odd);
        TempDir tmp;
        const fs::path arc = tmp.path / "odd.arj";
        WriteFile(arc,
                  MakeArchive({good("one.txt"), odd, good("two.txt")}, c.mainFlags, c.extended));
        const fs::path dest = tmp.path / "out";
        Result r = Unarj(ExtractLine(arc, dest));
        EXPECT_EQ(r.code, c.code) << r.output;
        EXPECT_EQ(fs::exists(dest / "one.txt"), c.othersWritten);
        EXPECT_EQ(fs::exists(dest / "two.txt"), c.othersWritten);
        if (c.othersWritten) {
            EXPECT_EQ(ReadFile(dest / "two.txt"), "data of two.txt");
        }
        EXPECT_EQ(fs::exists(dest / "odd.txt"), c.code == 0);
        EXPECT_EQ(Unarj("t -+  " + Q(arc) + " ").code, c.code);
        EXPECT_EQ(Check(arc, 0) != 0, c.code == 0);
        EXPECT_EQ(Listed(arc).size(), 3u);
    }
}

TEST(Unarj32jHostile, LabelsAreNoEntriesAndAStubMayPrecedeTheArchive) {
    RawEntry label;
    label.name = "LABEL";
    label.fileType = 4;
    RawEntry chapter;
    chapter.name = "<<001>>";
    chapter.fileType = 5;
    RawEntry file;
    file.name = "f.txt";
    file.data = "file";
    // A stub with a false start: the id bytes without a valid header.
    std::string stub = "MZ" + std::string(3000, 'z') + "\x60\xEA\x10\x00" + std::string(2000, 'q');
    TempDir tmp;
    const fs::path arc = tmp.path / "sfx.exe";
    WriteFile(arc, stub + MakeArchive({label, chapter, file}));
    Result r = Unarj(ExtractLine(arc, tmp.path / "out"));
    EXPECT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(Tree(tmp.path / "out"), std::set<std::string>{"f.txt"});
    EXPECT_EQ(Listed(arc).size(), 1u);
    EXPECT_TRUE(Check(arc, 0));
    // Past the first MiB a main header is not looked for.
    const fs::path far = tmp.path / "far.exe";
    WriteFile(far, std::string((1 << 20) + 10, 'z') + MakeArchive({file}));
    EXPECT_EQ(Unarj(ExtractLine(far, tmp.path / "far")).code, 32771);
}

TEST(Unarj32jHostile, HeaderLimits) {
    RawEntry file;
    file.name = "f.txt";
    file.data = "file";
    const std::string good = MakeArchive({file});
    const auto entries = EntriesOf(good);
    ASSERT_EQ(entries.size(), 1u);
    const size_t at = entries[0].headerOffset;
    struct Case {
        const char *what;
        std::function<void(std::string &)> change;
    } cases[] = {
        {"header larger than 2600 bytes",
         [&](std::string &s) {
             s[at + 2] = '\x29';
             s[at + 3] = '\x0A';
         }},
        {"first header size past the header", [&](std::string &s) { s[at + 4] = '\xF0'; }},
        {"name without its NUL",
         [&](std::string &s) {
             // The header ends right after the name; the CRC is made again so only the
             // missing NUL is wrong.
             std::string h = s.substr(at + 4, 30) + "f.txt";
             std::string fixed = "\x60\xEA";
             Put16(fixed, static_cast<uint32_t>(h.size()));
             fixed += h;
             Put32(fixed, Crc(h));
             Put16(fixed, 0);
             s = s.substr(0, at) + fixed + s.substr(entries[0].dataOffset);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string bad = good;
        c.change(bad);
        TempDir tmp;
        WriteFile(tmp.path / "bad.arj", bad);
        Result r = Unarj(ExtractLine(tmp.path / "bad.arj", tmp.path / "out"));
        EXPECT_EQ(r.code, 32772) << r.output;
        EXPECT_TRUE(Tree(tmp.path / "out").empty());
    }
}

// Every input of the fuzz corpus goes through the reader and the library without a crash or a
// hang; what the library answers for it is a code, 0 only when the reader reads it all.
TEST(Unarj32jHostile, FuzzCorpusReplays) {
    const fs::path dir = kData / "fuzz-corpus";
    ASSERT_TRUE(fs::is_directory(dir));
    size_t n = 0;
    for (const auto &f : fs::directory_iterator(dir)) {
        SCOPED_TRACE(f.path().filename().string());
        ++n;
        const std::string bytes = ReadFile(f.path());
        bool clean = true;
        try {
            arj::MemoryIn in(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
            arj::Reader reader(in);
            arj::Entry e;
            while (reader.Next(e)) {
                class Null : public lha::OutStream {
                public:
                    void Write(const uint8_t *, size_t) override {}
                } null;
                if (e.IsMember())
                    reader.Extract(null);
            }
        } catch (const arj::ArjError &) {
            clean = false;
        }
        TempDir tmp;
        Result r = Unarj(ExtractLine(f.path(), tmp.path / "out"));
        if (!clean) {
            EXPECT_NE(r.code, 0) << r.output;
        }
        Check(f.path(), 0);
        Listed(f.path());
    }
    EXPECT_GT(n, 0u);
}
