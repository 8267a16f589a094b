// libunlha32 against hostile archives and failing sources, through its C entry points: headers
// too small for their level, absolute names, methods we do not decode, damaged or lying entries,
// names that are not UTF-8 and files that change while they are packed.
#include "LhaArchive.h"
#include "LhaCodec.h"
#include "LhaTestSupport.h"
#include "archiver_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <unistd.h>

namespace {

using namespace lhatest;

class VecIn : public lha::InStream {
public:
    explicit VecIn(const std::string &d) : d_(d) {}
    size_t Read(uint8_t *buf, size_t n) override {
        n = std::min(n, d_.size() - pos_);
        std::memcpy(buf, d_.data() + pos_, n);
        pos_ += n;
        return n;
    }

private:
    const std::string &d_;
    size_t pos_ = 0;
};

class VecOut : public lha::OutStream {
public:
    void Write(const uint8_t *buf, size_t n) override { d.insert(d.end(), buf, buf + n); }
    std::vector<uint8_t> d;
};

void Put16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t *p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// One entry as it will be written: any method text, packed bytes and declared size and CRC.
struct Raw {
    std::string name;
    std::string method;
    std::vector<uint8_t> data;
    uint64_t origSize = 0;
    uint16_t crc = 0;
};

uint16_t CrcOf(const std::string &s) {
    return lha::Crc16(0, reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

Raw Stored(const std::string &name, const std::string &content) {
    return {name, "-lh0-", std::vector<uint8_t>(content.begin(), content.end()), content.size(),
            CrcOf(content)};
}

Raw Packed(const std::string &name, const std::string &content) {
    VecIn in(content);
    VecOut out;
    lha::EncodeResult r = lha::EncodeLh5(in, out, content.size());
    EXPECT_TRUE(r.compressed);
    return {name, "-lh5-", out.d, content.size(), CrcOf(content)};
}

// A level-2 header as our writer makes it, with the method text replaced and the header CRC
// made again.
std::vector<uint8_t> Level2(const Raw &r) {
    lha::NewEntry ne;
    ne.name = r.name;
    ne.mtime = 1700000000;
    auto h = lha::BuildLevel2Header(ne, lha::Method::Lh0, r.data.size(), r.origSize, r.crc, false);
    std::memcpy(h.data() + 2, r.method.data(), 5);
    h[27] = h[28] = 0;
    Put16(h.data() + 27, lha::Crc16(0, h.data(), h.size()));
    h.insert(h.end(), r.data.begin(), r.data.end());
    return h;
}

// A level-0 header with the name bytes as given (MS-DOS style: no OS id).
std::vector<uint8_t> Level0(const std::string &rawName, const std::string &content) {
    std::vector<uint8_t> h(22);
    const size_t len = 22 + rawName.size() + 2;
    h[0] = static_cast<uint8_t>(len - 2);
    std::memcpy(h.data() + 2, "-lh0-", 5);
    Put32(h.data() + 7, static_cast<uint32_t>(content.size()));
    Put32(h.data() + 11, static_cast<uint32_t>(content.size()));
    Put32(h.data() + 15, 0x50210000u); // 2020-01-01 00:00
    h[19] = 0x20;
    h[20] = 0;
    h[21] = static_cast<uint8_t>(rawName.size());
    h.insert(h.end(), rawName.begin(), rawName.end());
    h.resize(len);
    Put16(h.data() + len - 2, CrcOf(content));
    uint8_t sum = 0;
    for (size_t i = 2; i < len; ++i)
        sum = static_cast<uint8_t>(sum + h[i]);
    h[1] = sum;
    h.insert(h.end(), content.begin(), content.end());
    return h;
}

std::vector<uint8_t> Archive(const std::vector<std::vector<uint8_t>> &entries) {
    std::vector<uint8_t> a;
    for (const auto &e : entries)
        a.insert(a.end(), e.begin(), e.end());
    a.push_back(0);
    return a;
}

std::string Text(size_t n) {
    std::string s;
    for (int i = 0; s.size() < n; ++i)
        s += "line " + std::to_string(i) + " of a text that compresses well enough\n";
    s.resize(n);
    return s;
}

// Memory extraction of one entry into a buffer large enough for it.
int Mem(const fs::path &arc, const std::string &name, std::string *content = nullptr) {
    std::vector<unsigned char> buf(1 << 20);
    DWORD written = 0;
    int r = UnlhaExtractMem(nullptr, (" -+  " + Q(arc) + " \"" + name + "\" ").c_str(), buf.data(),
                            static_cast<DWORD>(buf.size()), nullptr, nullptr, &written);
    if (content)
        content->assign(reinterpret_cast<char *>(buf.data()), written);
    return r;
}

using Files = std::map<std::string, std::vector<uint8_t>>;
std::vector<uint8_t> Bytes(const std::string &s) {
    return {s.begin(), s.end()};
}

// --- headers too small for their level ----------------------------------------------------------

std::vector<uint8_t> ShortHeader(int level, size_t declared) {
    // Room for every fixed field, cut to the declared size below.
    std::vector<uint8_t> h(std::max<size_t>(declared, 32), 0);
    std::memcpy(h.data() + 2, "-lh0-", 5);
    h[19] = 0x20;
    h[20] = static_cast<uint8_t>(level);
    if (level <= 1) {
        h[0] = static_cast<uint8_t>(declared - 2);
        uint8_t sum = 0;
        for (size_t i = 2; i < declared; ++i) // the bytes past the declared size are 0
            sum = static_cast<uint8_t>(sum + h[i]);
        h[1] = sum;
    } else if (level == 2) {
        Put16(h.data(), static_cast<uint32_t>(declared));
    } else {
        Put16(h.data(), 4);
        Put32(h.data() + 24, static_cast<uint32_t>(declared));
    }
    h.resize(declared);
    return h;
}

struct ShortCase {
    const char *what;
    int level;
    size_t declared;
};

class HeaderTooSmall : public ::testing::TestWithParam<ShortCase> {};

TEST_P(HeaderTooSmall, IsRefusedWithoutReadingPastIt) {
    const ShortCase &c = GetParam();
    TempDir t;
    // The header alone is the whole file, so a field read past its declared size reads past the
    // end of what was read (AddressSanitizer sees it).
    fs::path arc = t.path() / "short.lzh";
    WriteFile(arc, ShortHeader(c.level, c.declared));
    EXPECT_FALSE(UnlhaCheckArchive(arc.c_str(), 16));
    EXPECT_FALSE(UnlhaCheckArchive(arc.c_str(), 0));
    EXPECT_EQ(UnlhaOpenArchive(nullptr, arc.c_str(), 0), nullptr);
    EXPECT_EQ(Lha("t -+  " + Q(arc)).code, 32771);
    fs::path out = t.path() / "out";
    EXPECT_EQ(Lha("x -+  " + Q(arc) + " " + Dir(out)).code, 32771);
    // After a good entry the same header is damage: the good entry is still extracted.
    auto good = Level2(Stored("good.txt", "good\n"));
    auto bad = ShortHeader(c.level, c.declared);
    good.insert(good.end(), bad.begin(), bad.end());
    WriteFile(arc, good);
    EXPECT_EQ(Lha("t -+  " + Q(arc)).code, 32772);
    EXPECT_EQ(Lha("x -+  " + Q(arc) + " " + Dir(out)).code, 32772);
    EXPECT_EQ(ReadFile(out / "good.txt"), Bytes("good\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Levels, HeaderTooSmall,
    ::testing::Values(ShortCase{"level1_26", 1, 26}, ShortCase{"level2_22", 2, 22},
                      ShortCase{"level2_23", 2, 23}, ShortCase{"level2_25", 2, 25},
                      ShortCase{"level3_28", 3, 28}, ShortCase{"level3_31", 3, 31}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(HeaderTooSmall, TheFuzzCrashInputIsInTheCorpusAndRefused) {
    fs::path crash = fs::path(LHA_TEST_DATA) / "fuzz-corpus" / "crash-level2-size23";
    auto bytes = ReadFile(crash);
    ASSERT_EQ(bytes.size(), 23u);
    EXPECT_EQ(bytes, ShortHeader(2, 23));
    EXPECT_FALSE(UnlhaCheckArchive(crash.c_str(), 0));
    EXPECT_EQ(Lha("l -+  " + Q(crash)).code, 32771);
}

// --- absolute names
// -------------------------------------------------------------------------------

struct AbsoluteCase {
    const char *what;
    std::vector<uint8_t> entry;
    std::string listed;
};

TEST(Names, AbsoluteNamesAreRefusedAndTheRestExtracted) {
    const AbsoluteCase cases[] = {
        {"level 2, folder header from the root", Level2(Stored("/abs/one.txt", "one")),
         "/abs/one.txt"},
        {"level 0, slash", Level0("/top.txt", "top"), "/top.txt"},
        {"level 0, backslash", Level0("\\dos\\back.txt", "back"), "/dos/back.txt"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir t;
        fs::path arc = t.path() / "abs.lzh";
        WriteFile(arc, Archive({c.entry, Level2(Stored("ok.txt", "fine"))}));
        EXPECT_EQ(ListNames(arc), (std::vector<std::string>{c.listed, "ok.txt"}));
        for (const char *cmd : {"x", "e"}) {
            fs::path out = t.path() / cmd;
            Result r = Lha(std::string(cmd) + " -+  " + Q(arc) + " " + Dir(out));
            EXPECT_EQ(r.code, 32777) << r.output;
            EXPECT_NE(r.output.find("refused: " + c.listed), std::string::npos) << r.output;
            EXPECT_EQ(Tree(out), (Files{{"ok.txt", Bytes("fine")}}));
        }
    }
}

// --- methods we do not decode
// ---------------------------------------------------------------------

class UnknownMethod : public ::testing::TestWithParam<const char *> {};

TEST_P(UnknownMethod, IsListedAndRefusedAloneWhileTheRestExtracts) {
    const std::string method = GetParam();
    TempDir t;
    fs::path arc = t.path() / "m.lzh";
    Raw other{"other.bin", method, std::vector<uint8_t>(50, 0x5A), 80, 0x1234};
    const std::string text = Text(5000);
    WriteFile(arc, Archive({Level2(Stored("first.txt", "first\n")), Level2(other),
                            Level2(Packed("last.txt", text))}));
    EXPECT_EQ(ListNames(arc), (std::vector<std::string>{"first.txt", "other.bin", "last.txt"}));
    HARC h = UnlhaOpenArchive(nullptr, arc.c_str(), 0);
    ASSERT_NE(h, nullptr);
    INDIVIDUALINFO info{};
    ASSERT_EQ(UnlhaFindFirst(h, "other.bin", &info), 0);
    EXPECT_EQ(std::string(info.szMode), method);
    EXPECT_EQ(info.dwOriginalSize, 80u);
    UnlhaCloseArchive(h);
    Result l = Lha("l -+  " + Q(arc));
    EXPECT_EQ(l.code, 0);
    EXPECT_NE(l.output.find(method + " 80 50 other.bin"), std::string::npos) << l.output;
    EXPECT_TRUE(UnlhaCheckArchive(arc.c_str(), 16));

    fs::path out = t.path() / "out";
    Result x = Lha("x -+  " + Q(arc) + " " + Dir(out));
    EXPECT_EQ(x.code, 32779) << x.output;
    EXPECT_NE(x.output.find("other.bin"), std::string::npos);
    EXPECT_EQ(Tree(out), (Files{{"first.txt", Bytes("first\n")}, {"last.txt", Bytes(text)}}));
    EXPECT_EQ(Lha("t -+  " + Q(arc)).code, 32779);
    EXPECT_EQ(Mem(arc, "other.bin"), 32779);
    std::string got;
    EXPECT_EQ(Mem(arc, "last.txt", &got), 0);
    EXPECT_EQ(got, text);
}

INSTANTIATE_TEST_SUITE_P(Methods, UnknownMethod, ::testing::Values("-pm2-", "-lh1-", "-lh4-"),
                         [](const auto &info) {
                             std::string n = info.param;
                             return n.substr(1, 3);
                         });

// --- damaged and lying entries
// --------------------------------------------------------------------

// The largest count of bytes the library reported written for the entry named "victim".
struct WriteWatch {
    ArcWindow w{&WriteWatch::Proc};
    static inline DWORD most = 0;
    static LRESULT Proc(HWND, UINT msg, WPARAM, LPARAM lp) {
        if (msg == ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME) && lp) {
            const auto *info = reinterpret_cast<const EXTRACTINGINFOEX *>(lp);
            if (std::string(info->szSourceFileName) == "victim")
                most = std::max(most, info->dwWriteSize);
        }
        return 0;
    }
};

struct DamageCase {
    const char *what;
    std::function<void(Raw &)> damage;
    bool cut = false; // the archive ends inside the victim's data
    bool packed = true;
};

class DamagedEntry : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedEntry, FailsWith32772LeavesNoFileAndTheRestExtracts) {
    const DamageCase &c = GetParam();
    TempDir t;
    fs::path arc = t.path() / "d.lzh";
    const std::string content = Text(20000);
    Raw victim = c.packed ? Packed("victim", content) : Stored("victim", content);
    c.damage(victim);
    std::vector<uint8_t> bytes;
    if (c.cut) {
        bytes = Level2(victim);
        bytes.resize(bytes.size() - victim.data.size() / 2);
    } else {
        bytes = Archive({Level2(victim), Level2(Stored("after.txt", "after\n"))});
    }
    WriteFile(arc, bytes);
    const Files rest = c.cut ? Files{} : Files{{"after.txt", Bytes("after\n")}};
    for (const char *cmd : {"x", "e"}) {
        fs::path out = t.path() / cmd;
        fs::create_directories(out);
        WriteWatch watch;
        WriteWatch::most = 0;
        Result r = Lha(std::string(cmd) + " -+  " + Q(arc) + " " + Dir(out), &watch.w);
        EXPECT_EQ(r.code, 32772) << cmd << ": " << r.output;
        EXPECT_NE(r.output.find("victim"), std::string::npos) << r.output;
        EXPECT_EQ(Tree(out), rest) << cmd;
        // Never more written than the header declares.
        EXPECT_LE(WriteWatch::most, victim.origSize);
    }
    EXPECT_EQ(Lha("t -+  " + Q(arc)).code, 32772);
    EXPECT_EQ(Mem(arc, "victim"), 32772);
    if (!c.cut) {
        std::string got;
        EXPECT_EQ(Mem(arc, "after.txt", &got), 0);
        EXPECT_EQ(got, "after\n");
    }
    EXPECT_TRUE(UnlhaCheckArchive(arc.c_str(), 16));
    EXPECT_FALSE(UnlhaCheckArchive(arc.c_str(), 0));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DamagedEntry,
    ::testing::Values(
        DamageCase{"lh5_data_byte_changed", [](Raw &r) { r.data[r.data.size() / 2] ^= 0xFF; }},
        DamageCase{"lh5_crc_field_wrong", [](Raw &r) { r.crc ^= 1; }},
        DamageCase{"lh0_crc_field_wrong", [](Raw &r) { r.crc ^= 1; }, false, false},
        DamageCase{"lh0_data_byte_changed", [](Raw &r) { r.data[100] ^= 0x01; }, false, false},
        DamageCase{"lh5_declares_more_than_its_data", [](Raw &r) { r.origSize += 5000; }},
        DamageCase{"lh5_declares_less_than_its_data", [](Raw &r) { r.origSize = 1000; }},
        DamageCase{"lh0_declares_less_than_its_data", [](Raw &r) { r.origSize = 1000; }, false,
                   false},
        DamageCase{"lh0_declares_more_than_its_data", [](Raw &r) { r.origSize += 1; }, false,
                   false},
        DamageCase{"lh5_archive_cut_inside_the_data", [](Raw &) {}, true},
        DamageCase{"lh0_archive_cut_inside_the_data", [](Raw &) {}, true, false}),
    [](const auto &info) { return std::string(info.param.what); });

// --- names that are not UTF-8
// ---------------------------------------------------------------------

// A Latin-1 locale of our own, so bsdtar can turn the names into characters and back.
bool MakeLatin1Locale(const fs::path &dir) {
    if (!HaveTool("localedef"))
        return false;
    return Shell("localedef -i en_US -f ISO-8859-1 " + Q(dir / "en_US.ISO-8859-1")).first == 0;
}

TEST(Names, NamesThatAreNotUtf8AreStoredAsTheirBytes) {
    TempDir t;
    fs::path src = t.path() / "src", arc = t.path() / "latin.lzh";
    const std::string cafe = "caf\xe9.txt", resume = "r\xe9sum\xe9.txt", folder = "d\xe9j\xe0";
    WriteFile(src / cafe, std::string("caf\xe9 au lait\n"));
    WriteFile(src / resume, Text(3000)); // "\xe9s" is also a valid code page 932 pair
    WriteFile(src / folder / "vu.txt", std::string("vu\n"));
    Result r = Lha("u -+ -r2  " + Q(arc) + " " + Dir(src) + " \"" + cafe + "\" \"" + resume +
                   "\" \"" + folder + "\" ");
    ASSERT_EQ(r.code, 0) << r.output;
    auto names = ListNames(arc);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{cafe, resume, folder + "/", folder + "/vu.txt"}));
    EXPECT_TRUE(UnlhaCheckArchive(arc.c_str(), 0));
    EXPECT_EQ(Lha("t -+  " + Q(arc)).code, 0);
    const auto want = Tree(src);
    {
        TempDir out;
        Result x = Lha("x -+  " + Q(arc) + " " + Dir(out.path()));
        EXPECT_EQ(x.code, 0) << x.output;
        EXPECT_EQ(Tree(out.path()), want);
    }
    if (HaveTool("lha")) {
        TempDir out;
        auto [st, text] = Shell("cd " + Q(out.path()) + " && lha xq " + Q(arc));
        EXPECT_EQ(st, 0) << text;
        EXPECT_EQ(Tree(out.path()), want);
    }
    TempDir loc;
    if (HaveTool("bsdtar") && MakeLatin1Locale(loc.path())) {
        TempDir out;
        auto [st, text] =
            Shell("LOCPATH=" + Q(loc.path()) + " LC_ALL=en_US.ISO-8859-1 bsdtar -xf " + Q(arc) +
                  " -C " + Q(out.path()));
        EXPECT_EQ(st, 0) << text;
        EXPECT_EQ(Tree(out.path()), want);
    }
}

TEST(Names, ANameHoldingTheSeparatorByteFailsThePack) {
    TempDir t;
    fs::path src = t.path() / "src", arc = t.path() / "ff.lzh";
    const std::string name = "\xff.txt"; // Latin-1 'ÿ'
    WriteFile(src / name, std::string("y\n"));
    Result r = Lha("u -+  " + Q(arc) + " " + Dir(src) + " \"" + name + "\" ");
    EXPECT_EQ(r.code, 32775) << r.output;
    EXPECT_NE(r.output.find(name), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(arc));
}

// --- files that change while they are packed
// ------------------------------------------------------

// Runs the test's action when an entry begins: the file is open by then, its size known.
struct OnBegin {
    ArcWindow w{&OnBegin::Proc};
    static inline std::function<void(const std::string &)> action;
    static LRESULT Proc(HWND, UINT msg, WPARAM state, LPARAM lp) {
        if (msg == ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME) && state == ARCEXTRACT_BEGIN &&
            lp && action)
            action(reinterpret_cast<const EXTRACTINGINFOEX *>(lp)->szSourceFileName);
        return 0;
    }
};

struct ChangeCase {
    const char *what;
    std::string switches;
    std::string content;                             // of src/victim.bin, when made
    std::function<void(const fs::path &)> whenBegun; // on src/victim.bin
    std::string diskFolder = {}, argument = {};      // else the file packed
};

class ChangingSource : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangingSource, FailsThePackWith32775AndKeepsTheOldArchive) {
    const ChangeCase &c = GetParam();
    TempDir t;
    fs::path src = t.path() / "src", arc = t.path() / "c.lzh";
    WriteFile(src / "keep.txt", std::string("kept\n"));
    ASSERT_EQ(Lha("u -+  " + Q(arc) + " " + Dir(src) + " \"keep.txt\" ").code, 0);
    const auto before = ReadFile(arc);
    WriteFile(src / "new.txt", std::string("new\n"));
    std::string folder = c.diskFolder, arg = c.argument;
    fs::path victim = src / "victim.bin";
    if (folder.empty()) {
        WriteFile(victim, c.content);
        folder = src.string();
        arg = "victim.bin";
    }
    OnBegin window;
    OnBegin::action = [&](const std::string &source) {
        if (c.whenBegun && source == victim.string())
            c.whenBegun(victim);
    };
    Result r = Lha("u -+ " + c.switches + "  " + Q(arc) + " \"" + folder + "/\" \"new.txt\" \"" +
                       arg + "\" ",
                   &window.w);
    OnBegin::action = nullptr;
    EXPECT_EQ(r.code, 32775) << r.output;
    EXPECT_NE(r.output.find(folder + "/" + arg), std::string::npos) << r.output;
    EXPECT_EQ(ReadFile(arc), before);
    auto files = fs::directory_iterator(t.path());
    EXPECT_EQ(std::distance(fs::begin(files), fs::end(files)), 2) << "a temporary file was left";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangingSource,
    ::testing::Values(ChangeCase{"shrinks_compressed", "", Text(100000),
                                 [](const fs::path &p) { fs::resize_file(p, 1000); }},
                      ChangeCase{"shrinks_stored", "-z1", Text(100000),
                                 [](const fs::path &p) { fs::resize_file(p, 1000); }},
                      ChangeCase{"grows", "", Text(10000),
                                 [](const fs::path &p) {
                                     std::ofstream(p, std::ios::app | std::ios::binary)
                                         << Text(5000);
                                 }},
                      // A file whose size says 0 and whose reads give bytes.
                      ChangeCase{"reads_longer_than_its_size", "", "", nullptr, "/proc/self",
                                 "status"},
                      // A file whose reads fail (nothing is mapped at address 0).
                      ChangeCase{"read_fails", "", "", nullptr, "/proc/self", "mem"}),
    [](const auto &info) { return std::string(info.param.what); });

} // namespace
