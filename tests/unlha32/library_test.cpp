// libunlha32 through its C entry points: archives it writes read back byte for byte with lhasa
// and bsdtar, it reads the fixtures made by other tools, and its commands keep their rules
// (update by time, freshen, delete, memory extraction, check modes, cancel, safe extraction).
#include "LhaArchive.h"
#include "LhaTestSupport.h"
#include "archiver_api.h"
#include "bench/lha/Corpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace {

using namespace lhatest;

// The source tree of the interoperability test: the cases the other tools must read back.
void MakeSources(const fs::path &src) {
    WriteFile(src / "empty.txt", std::string());
    WriteFile(src / "one.bin", std::string("\x7f"));
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "Line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog.\n";
    WriteFile(src / "text.txt", text);
    lhabench::Rng rng(1);
    std::vector<uint8_t> noise;
    lhabench::AppendNoise(noise, rng, 100000);
    WriteFile(src / "random.bin", noise);
    WriteFile(src / "mixed.dat", lhabench::MixedData(10u << 20, 42));
    WriteFile(src / "folder" / "sub" / "deep.txt", std::string("deep\n"));
    fs::create_directories(src / "folder" / "emptysub");
    WriteFile(src / "日本語" / "表示ソフト予定.txt", std::string("表示\n"));
}

class Interop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        MakeSources(dir_->path() / "src");
        arc_ = dir_->path() / "a.lzh";
        Result r = Lha("u -+ -r2  " + Q(arc_) + " " + Dir(dir_->path() / "src") +
                       " \"empty.txt\" \"one.bin\" \"text.txt\" \"random.bin\" \"mixed.dat\" "
                       "\"folder\" \"日本語\" ");
        code_ = r.code;
        output_ = r.output;
    }
    static void TearDownTestSuite() { delete dir_; }
    static TempDir *dir_;
    static fs::path arc_;
    static int code_;
    static std::string output_;
};
TempDir *Interop::dir_;
fs::path Interop::arc_;
int Interop::code_;
std::string Interop::output_;

TEST_F(Interop, WritesTheArchive) {
    ASSERT_EQ(code_, 0) << output_;
    // Random data is stored, the rest compressed.
    EXPECT_NE(output_.find("random.bin (-lh0-, 100000 -> 100000)"), std::string::npos) << output_;
    EXPECT_NE(output_.find("text.txt (-lh5-"), std::string::npos);
    EXPECT_NE(output_.find("mixed.dat (-lh5-"), std::string::npos);
    auto names = ListNames(arc_);
    std::set<std::string> got(names.begin(), names.end());
    for (const char *n :
         {"empty.txt", "one.bin", "text.txt", "random.bin", "mixed.dat", "folder/", "folder/sub/",
          "folder/sub/deep.txt", "folder/emptysub/", "日本語/", "日本語/表示ソフト予定.txt"})
        EXPECT_TRUE(got.count(n)) << n;
    EXPECT_TRUE(UnlhaCheckArchive(arc_.c_str(), 0));
}

TEST_F(Interop, OurExtractionGivesTheSameTree) {
    ASSERT_EQ(code_, 0);
    TempDir out;
    Result r = Lha("x -+  " + Q(arc_) + " " + Dir(out.path()));
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(Tree(out.path()) == Tree(dir_->path() / "src"));
}

TEST_F(Interop, LhasaExtractsTheSameTree) {
    if (!HaveTool("lha"))
        GTEST_SKIP() << "lhasa is not installed";
    ASSERT_EQ(code_, 0);
    TempDir out;
    auto [st, text] = Shell("cd " + Q(out.path()) + " && lha xq " + Q(arc_));
    ASSERT_EQ(st, 0) << text;
    EXPECT_TRUE(Tree(out.path()) == Tree(dir_->path() / "src"));
    auto [tst, ttext] = Shell("lha t " + Q(arc_));
    EXPECT_EQ(tst, 0) << ttext;
}

TEST_F(Interop, BsdtarListsAndExtractsTheSameTree) {
    if (!HaveTool("bsdtar"))
        GTEST_SKIP() << "bsdtar is not installed";
    ASSERT_EQ(code_, 0);
    auto [lst, list] = Shell("LC_ALL=C.UTF-8 bsdtar -tf " + Q(arc_));
    ASSERT_EQ(lst, 0) << list;
    EXPECT_NE(list.find("日本語/表示ソフト予定.txt"), std::string::npos) << list;
    TempDir out;
    auto [st, text] = Shell("LC_ALL=C.UTF-8 bsdtar -xf " + Q(arc_) + " -C " + Q(out.path()));
    ASSERT_EQ(st, 0) << text;
    EXPECT_TRUE(Tree(out.path()) == Tree(dir_->path() / "src"));
}

// The fixtures made by other tools, with the entries and contents of their manifest.
struct Fixture {
    std::string file;
    std::vector<std::string> entries;  // names; folders end in '/'
    std::multiset<std::string> hashes; // sha256 of the regular files
};

std::vector<std::string> Split(const std::string &s, const std::string &sep) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        size_t k = s.find(sep, at);
        parts.push_back(s.substr(at, k - at));
        if (k == std::string::npos)
            return parts;
        at = k + sep.size();
    }
}

std::vector<Fixture> Manifest() {
    std::ifstream f(fs::path(LHA_TEST_DATA) / "MANIFEST.tsv");
    std::string line;
    std::getline(f, line); // heading
    std::vector<Fixture> out;
    while (std::getline(f, line)) {
        auto cols = Split(line, "\t");
        if (cols.size() < 8)
            continue;
        Fixture fx;
        fx.file = fs::path(cols[0]).filename().string();
        for (auto e : Split(cols[6], " ; ")) {
            if (auto k = e.find(" -> "); k != std::string::npos)
                e.resize(k);
            if (auto k = e.rfind(" ("); k != std::string::npos && e.back() == ')')
                e.resize(k);
            fx.entries.push_back(e);
        }
        for (const auto &c : Split(cols[7], " ; "))
            if (auto k = c.rfind('='); k != std::string::npos)
                fx.hashes.insert(c.substr(k + 1));
        out.push_back(fx);
    }
    return out;
}

std::string Sha256(const fs::path &p) {
    auto [st, text] = Shell("sha256sum " + Q(p));
    return st == 0 ? text.substr(0, 64) : "";
}

TEST(Fixtures, ListsAndExtractsEveryFixtureAsItsManifestSays) {
    auto fixtures = Manifest();
    ASSERT_EQ(fixtures.size(), 14u);
    for (const auto &fx : fixtures) {
        SCOPED_TRACE(fx.file);
        fs::path arc = fs::path(LHA_TEST_DATA) / fx.file;
        EXPECT_TRUE(UnlhaCheckArchive(arc.c_str(), 16));
        auto names = ListNames(arc);
        TempDir out;
        Result r = Lha("x -+  " + Q(arc) + " " + Dir(out.path()));
        std::multiset<std::string> hashes;
        for (const auto &e : fs::recursive_directory_iterator(out.path()))
            if (e.is_regular_file() && !e.is_symlink())
                hashes.insert(Sha256(e.path()));
        if (fx.file == "test_read_format_lha_symlink_missing_target.lzh") {
            // A link entry without its target: reported as damaged, the rest still extracted.
            EXPECT_EQ(r.code, 32772) << r.output;
            EXPECT_NE(r.output.find("damaged"), std::string::npos);
            EXPECT_EQ(ReadFile(out.path() / "second").size(), 11u);
            EXPECT_FALSE(UnlhaCheckArchive(arc.c_str(), 0));
            continue;
        }
        EXPECT_EQ(names, fx.entries);
        EXPECT_EQ(r.code, 0) << r.output;
        EXPECT_EQ(hashes, fx.hashes);
        EXPECT_TRUE(UnlhaCheckArchive(arc.c_str(), 0));
    }
}

TEST(Library, UpdateReplacesOnlyNewerFilesUnlessAskedAndFreshenAddsNothing) {
    TempDir t;
    fs::path arc = t.path() / "u.lzh", src = t.path() / "src";
    WriteFile(src / "a.txt", std::string("first version\n"));
    WriteFile(arc, std::string()); // an empty file made beforehand is an empty archive
    ASSERT_EQ(Lha("u -+  " + Q(arc) + " " + Dir(src) + " \"a.txt\" ").code, 0);
    // Same time: kept.
    WriteFile(src / "a.txt", std::string("second version\n"));
    fs::last_write_time(src / "a.txt", fs::last_write_time(src / "a.txt") - std::chrono::hours(1));
    EXPECT_EQ(Lha("u -+  " + Q(arc) + " " + Dir(src) + " \"a.txt\" ").code, 0);
    std::array<unsigned char, 64> buf{};
    DWORD written = 0;
    auto mem = [&](const std::string &name) {
        buf.fill(0);
        return UnlhaExtractMem(nullptr, (" -+  " + Q(arc) + " \"" + name + "\" ").c_str(),
                               buf.data(), buf.size(), nullptr, nullptr, &written);
    };
    ASSERT_EQ(mem("a.txt"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf.data()), written), "first version\n");
    // -c1: replaced whatever the times.
    EXPECT_EQ(Lha("u -+ -c1  " + Q(arc) + " " + Dir(src) + " \"a.txt\" ").code, 0);
    ASSERT_EQ(mem("a.txt"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf.data()), written), "second version\n");
    // f: replaces a newer file, never adds one.
    WriteFile(src / "a.txt", std::string("third version\n"));
    fs::last_write_time(src / "a.txt", fs::last_write_time(src / "a.txt") + std::chrono::hours(2));
    WriteFile(src / "b.txt", std::string("new\n"));
    EXPECT_EQ(Lha("f -+  " + Q(arc) + " " + Dir(src) + " \"a.txt\" \"b.txt\" ").code, 0);
    EXPECT_EQ(ListNames(arc), std::vector<std::string>{"a.txt"});
    ASSERT_EQ(mem("a.txt"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf.data()), written), "third version\n");
    // d: deletes by rewriting; a name that matches nothing is 32774.
    EXPECT_EQ(Lha("u -+  " + Q(arc) + " " + Dir(src) + " \"b.txt\" ").code, 0);
    EXPECT_EQ(Lha("d -+  " + Q(arc) + " \"a.txt\" ").code, 0);
    EXPECT_EQ(ListNames(arc), std::vector<std::string>{"b.txt"});
    EXPECT_EQ(Lha("d -+  " + Q(arc) + " \"zzz\" ").code, 32774);
    // Memory extraction: a small buffer holds the beginning and says so.
    std::array<unsigned char, 2> tiny{};
    EXPECT_EQ(UnlhaExtractMem(nullptr, (" -+  " + Q(arc) + " \"b.txt\" ").c_str(), tiny.data(),
                              tiny.size(), nullptr, nullptr, &written),
              32780);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(mem("missing.txt"), 32774);
}

TEST(Library, SwitchesShapeNamesAndSelection) {
    TempDir t;
    fs::path arc = t.path() / "s.lzh", src = t.path() / "src";
    WriteFile(src / "d" / "keep.txt", std::string("k"));
    WriteFile(src / "d" / "skip.bak", std::string("s"));
    WriteFile(src / "d" / "e" / "more.txt", std::string("m"));
    // -r1 recurses a wildcard, -jx leaves names out, -jso1 writes no folder entries.
    ASSERT_EQ(Lha("u -+ -r1 -jso1 \"-jx*.bak\"  " + Q(arc) + " " + Dir(src) + " \"d/*.txt\" ").code,
              0);
    EXPECT_EQ(ListNames(arc), (std::vector<std::string>{"d/e/more.txt", "d/keep.txt"}));
    // -x0 stores the last part of the name only.
    fs::path arc2 = t.path() / "s2.lzh";
    ASSERT_EQ(Lha("u -+ -x0  " + Q(arc2) + " " + Dir(src) + " \"d/keep.txt\" ").code, 0);
    EXPECT_EQ(ListNames(arc2), std::vector<std::string>{"keep.txt"});
    // x -x0 extracts without folders; a pattern selects.
    TempDir out;
    ASSERT_EQ(Lha("x -+ -x0  " + Q(arc) + " " + Dir(out.path()) + " \"*more*\" ").code, 0);
    EXPECT_TRUE(fs::exists(out.path() / "more.txt"));
    EXPECT_FALSE(fs::exists(out.path() / "d"));
    // Unknown switches are accepted; unknown commands and a missing archive are errors.
    EXPECT_EQ(Lha("t -+ -jyz9 -gw1  " + Q(arc)).code, 0);
    EXPECT_EQ(Lha("q -+  " + Q(arc)).code, 32769);
    EXPECT_EQ(Lha("x -+  " + Q(t.path() / "none.lzh") + " " + Dir(out.path())).code, 32770);
    Result s = Lha("s -+  " + Q(arc) + " " + Dir(out.path()));
    EXPECT_EQ(s.code, 32779);
    EXPECT_NE(s.output.find("Linux"), std::string::npos);
}

TEST(Library, ChecksTellArchivesFromOtherFiles) {
    TempDir t;
    WriteFile(t.path() / "plain.dat", std::string("this is no archive at all, just text"));
    EXPECT_FALSE(UnlhaCheckArchive((t.path() / "plain.dat").c_str(), 16));
    EXPECT_EQ(UnlhaOpenArchive(nullptr, (t.path() / "plain.dat").c_str(), 0x800002), nullptr);
    // An LHA archive under another extension is recognised by content.
    fs::copy_file(fs::path(LHA_TEST_DATA) / "lzh_lh5_level1.lzh", t.path() / "renamed.dat");
    EXPECT_TRUE(UnlhaCheckArchive((t.path() / "renamed.dat").c_str(), 16));
    HARC h = UnlhaOpenArchive(nullptr, (t.path() / "renamed.dat").c_str(), 0x800002);
    ASSERT_NE(h, nullptr);
    INDIVIDUALINFO info{};
    ASSERT_EQ(UnlhaFindFirst(h, "a.txt", &info), 0);
    EXPECT_EQ(info.dwOriginalSize, 11000u);
    EXPECT_STREQ(info.szMode, "-lh5-");
    int64_t size = 0;
    EXPECT_TRUE(UnlhaGetOriginalSizeEx(h, &size));
    EXPECT_EQ(size, 11000);
    UnlhaCloseArchive(h);
    // A damaged data byte passes the quick check and fails the full one.
    auto data = ReadFile(fs::path(LHA_TEST_DATA) / "lzh_lh5_level1.lzh");
    data[200] ^= 0x55;
    WriteFile(t.path() / "bad.lzh", data);
    EXPECT_TRUE(UnlhaCheckArchive((t.path() / "bad.lzh").c_str(), 16));
    EXPECT_FALSE(UnlhaCheckArchive((t.path() / "bad.lzh").c_str(), 0));
}

TEST(Library, ExtractionNeverLeavesTheDestination) {
    TempDir t;
    fs::path arc = t.path() / "evil.lzh";
    std::vector<uint8_t> bytes;
    auto add = [&](const std::string &name, const std::string &body, const std::string &link) {
        lha::NewEntry ne;
        ne.name = name;
        ne.linkTarget = link;
        ne.mtime = 1700000000;
        std::vector<uint8_t> d(body.begin(), body.end());
        auto h =
            lha::BuildLevel2Header(ne, link.empty() ? lha::Method::Lh0 : lha::Method::Dir, d.size(),
                                   d.size(), lha::Crc16(0, d.data(), d.size()), false);
        bytes.insert(bytes.end(), h.begin(), h.end());
        bytes.insert(bytes.end(), d.begin(), d.end());
    };
    add("../escaped.txt", "x", "");
    add("ok/link", "", "../../outside");
    add("ok/file.txt", "fine", "");
    bytes.push_back(0);
    WriteFile(arc, bytes);
    fs::path dest = t.path() / "a" / "dest";
    Result r = Lha("x -+  " + Q(arc) + " " + Dir(dest));
    EXPECT_EQ(r.code, 32777) << r.output;
    EXPECT_FALSE(fs::exists(t.path() / "a" / "escaped.txt"));
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(dest / "ok" / "link")));
    EXPECT_EQ(ReadFile(dest / "ok" / "file.txt").size(), 4u);
}

// A window that stops the run at the first report: the old archive stays as it was.
LRESULT StopAtOnce(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME) ? 1 : 0;
}
struct Counter {
    ArcWindow w{&Counter::Proc};
    static inline int reports = 0;
    static LRESULT Proc(HWND, UINT msg, WPARAM, LPARAM) {
        if (msg == ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME))
            ++reports;
        return 0;
    }
};

TEST(Library, ProgressReachesTheWindowAndCancelKeepsTheOldArchive) {
    TempDir t;
    fs::path arc = t.path() / "p.lzh", src = t.path() / "src";
    WriteFile(src / "a.txt", std::string(200000, 'a'));
    Counter c;
    Counter::reports = 0;
    ASSERT_EQ(Lha("u -+  " + Q(arc) + " " + Dir(src) + " \"a.txt\" ", &c.w).code, 0);
    EXPECT_GE(Counter::reports, 4); // opened, begin, in progress, end
    auto before = ReadFile(arc);
    WriteFile(src / "b.txt", std::string(1000, 'b'));
    ArcWindow stop{&StopAtOnce};
    EXPECT_EQ(Lha("u -+  " + Q(arc) + " " + Dir(src) + " \"b.txt\" ", &stop).code, 32800);
    EXPECT_EQ(ReadFile(arc), before);
    TempDir out;
    EXPECT_EQ(Lha("x -+  " + Q(arc) + " " + Dir(out.path()), &stop).code, 32800);
    EXPECT_FALSE(fs::exists(out.path() / "a.txt"));
}

TEST(Library, DateBoundsChooseTheFilesToPack) {
    TempDir t;
    fs::path src = t.path() / "src";
    WriteFile(src / "old.txt", "old");
    WriteFile(src / "mid.txt", "mid");
    WriteFile(src / "new.txt", "new");
    auto setTime = [](const fs::path &p, const char *when) {
        std::tm tm{};
        ::strptime(when, "%Y-%m-%d %H:%M:%S", &tm);
        tm.tm_isdst = -1;
        const std::time_t t = std::mktime(&tm);
        const struct timespec ts[2] = {{t, 0}, {t, 0}};
        ::utimensat(AT_FDCWD, p.c_str(), ts, 0);
    };
    setTime(src / "old.txt", "2023-12-31 23:59:59");
    setTime(src / "mid.txt", "2024-01-15 12:00:00");
    setTime(src / "new.txt", "2024-02-01 00:00:00");
    const struct {
        const char *switches;
        std::vector<std::string> names;
    } cases[] = {
        {"\"-jo20240101\"", {"mid.txt", "new.txt"}},
        {"\"-job20240131\"", {"mid.txt", "old.txt"}},
        {"\"-jo20240101\" \"-job240131\"", {"mid.txt"}},
        {"\"-jol20240115120000\" \"-job20240115120000\"", {"mid.txt"}},
        {"\"-jo2024\"", {"mid.txt", "new.txt", "old.txt"}}, // no date's length: no bound
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.switches);
        fs::path arc = t.path() / "d.lzh";
        fs::remove(arc);
        Result r =
            Lha(std::string("a -r2 ") + c.switches + " " + Q(arc) + " " + Dir(src) + " \"*\"");
        ASSERT_EQ(r.code, 0) << r.output;
        std::vector<std::string> names;
        HARC h = UnlhaOpenArchive(nullptr, arc.c_str(), 0);
        ASSERT_NE(h, nullptr);
        INDIVIDUALINFO info{};
        for (int k = UnlhaFindFirst(h, "*", &info); k == 0; k = UnlhaFindNext(h, &info))
            names.push_back(info.szFileName);
        UnlhaCloseArchive(h);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names);
    }
    EXPECT_EQ(Lha("a \"-jo20241301\" " + Q(t.path() / "e.lzh") + " " + Dir(src) + " \"*\"").code,
              32769);
}

TEST(Library, RecursionOneFindsAPlainNameInEverySubfolder) {
    TempDir t;
    fs::path src = t.path() / "src";
    for (const char *f : {"c.txt", "a/c.txt", "a/b/c.txt", "d.txt", "a/d.txt"})
        WriteFile(src / f, f);
    auto names = [&](const std::string &switches) {
        fs::path arc = t.path() / "r.lzh";
        fs::remove(arc);
        Result r = Lha("a " + switches + " " + Q(arc) + " " + Dir(src) + " \"c.txt\"");
        EXPECT_EQ(r.code, 0) << r.output;
        std::vector<std::string> found;
        HARC h = UnlhaOpenArchive(nullptr, arc.c_str(), 0);
        INDIVIDUALINFO info{};
        for (int k = h ? UnlhaFindFirst(h, "*", &info) : -1; k == 0; k = UnlhaFindNext(h, &info))
            found.push_back(info.szFileName);
        if (h)
            UnlhaCloseArchive(h);
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(names("-r1"), (std::vector<std::string>{"a/b/c.txt", "a/c.txt", "c.txt"}));
    EXPECT_EQ(names(""), (std::vector<std::string>{"c.txt"}));
}

TEST(Fixtures, UnicodeNameHeadersGiveTheNameWithoutLoss) {
    // From libarchive's test suite (test_read_format_lha_filename_utf16.lzh.uu, uudecoded): the
    // code-page headers hold "______", the Unicode headers the real names.
    fs::path arc = fs::path(LHA_TEST_DATA) / "test_read_format_lha_filename_utf16.lzh";
    EXPECT_EQ(ListNames(arc),
              (std::vector<std::string>{"\xC3\x9C\xC3\x96\xC3\x84\xC3\xBC\xC3\xB6\xC3\xA4/"
                                        "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x84\xC3\x96\xC3\x9C.txt",
                                        "\xC3\x9C\xC3\x96\xC3\x84\xC3\xBC\xC3\xB6\xC3\xA4/"}));
    TempDir out;
    Result r = Lha("x -+  " + Q(arc) + " " + Dir(out.path()));
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(ReadFile(out.path() / "ÜÖÄüöä" / "äöüÄÖÜ.txt").size(), 12u);
}

} // namespace
