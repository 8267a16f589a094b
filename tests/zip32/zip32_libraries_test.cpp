// UNZIP32 and ZIP32J through their C entry points, loaded as the component loads them, with the
// command lines the ZIP back-end writes; results checked with Info-ZIP unzip and bsdtar.
#include "archiver_api.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/zip/ZipDirectory.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <utime.h>

namespace fs = std::filesystem;
using namespace arclib;

namespace {

struct Library {
    explicit Library(const char *path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle)
            dlclose(handle);
    }
    template <class F> F Get(const char *name) const {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
    void *handle;
};

const Library &Unzip32() {
    static const Library lib(UNZIP32_PATH);
    return lib;
}
const Library &Zip32j() {
    static const Library lib(ZIP32J_PATH);
    return lib;
}

std::string Shell(const std::string &cmd, int *status = nullptr) {
    std::string out;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p)
        return out;
    std::array<char, 4096> buf;
    while (size_t n = fread(buf.data(), 1, buf.size(), p))
        out.append(buf.data(), n);
    const int rc = pclose(p);
    if (status)
        *status = WEXITSTATUS(rc);
    return out;
}

std::string Quote(const fs::path &p) {
    return "'" + p.string() + "'";
}

std::string Sha256(const fs::path &p) {
    std::string s = Shell("sha256sum " + Quote(p));
    return s.substr(0, 64);
}

std::string ReadFile(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const fs::path &p, const std::string &data) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << data;
}

void SetMtime(const fs::path &p, time_t t) {
    struct utimbuf u {
        t, t
    };
    utime(p.c_str(), &u);
}

const fs::path kData = ZIP_TEST_DATA;

class Zip32Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Unzip32().handle, nullptr) << dlerror();
        ASSERT_NE(Zip32j().handle, nullptr) << dlerror();
        char tmpl[] = "/tmp/zip32testXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    int Zip(const std::string &line, HWND hwnd = nullptr) {
        auto f = Zip32j().Get<ArcCommandProc>("Zip");
        output.assign(8192, '\0');
        return f(hwnd, line.c_str(), output.data(), static_cast<DWORD>(output.size()));
    }
    int UnZip(const std::string &line, HWND hwnd = nullptr) {
        auto f = Unzip32().Get<ArcCommandProc>("UnZip");
        output.assign(8192, '\0');
        return f(hwnd, line.c_str(), output.data(), static_cast<DWORD>(output.size()));
    }
    std::string Out() const { return output.c_str(); }

    // Entry names as bsdtar lists them.
    std::string BsdtarList(const fs::path &zip) { return Shell("bsdtar -tf " + Quote(zip)); }

    fs::path dir;
    std::string output;
};

// The compress job's line: no command word, -D, the archive, the source with its full path.
TEST_F(Zip32Test, CompressJobLineMakesArchiveOthersAccept) {
    WriteFile(dir / "src" / "a.txt", "hello zip\n");
    const fs::path zip = dir / "y" / "a.zip";
    fs::create_directories(zip.parent_path());
    ASSERT_EQ(Zip(" -D  \"" + zip.string() + "\" \"" + (dir / "src" / "a.txt").string() + "\" "), 0)
        << Out();
    int status = -1;
    Shell("unzip -tqq " + Quote(zip), &status);
    EXPECT_EQ(status, 0);
    // Stored with its folders, without the leading '/'.
    const std::string entry = (dir / "src" / "a.txt").string().substr(1);
    EXPECT_EQ(BsdtarList(zip), entry + "\n");
    EXPECT_EQ(Shell("unzip -p " + Quote(zip) + " " + Quote(entry)), "hello zip\n");
    // Nothing but the archive is left in its folder (no temporary file).
    EXPECT_EQ(std::distance(fs::directory_iterator(zip.parent_path()), fs::directory_iterator()),
              1);
}

TEST_F(Zip32Test, BaseDirRecursionLevelsAndUtf8Names) {
    WriteFile(dir / "src" / "表示.txt", std::string(5000, 'x'));
    WriteFile(dir / "src" / "ソフト" / "readme.txt", "readme\n");
    WriteFile(dir / "src" / ".hidden", "dot\n");
    const fs::path zip = dir / "t.zip";
    const std::string base = "\"" + (dir / "src").string() + "/\"";
    ASSERT_EQ(Zip(" -r -9  \"" + zip.string() + "\" " + base + " \"表示.txt\" \"ソフト\" "), 0)
        << Out();
    EXPECT_EQ(BsdtarList(zip), "表示.txt\nソフト/\nソフト/readme.txt\n");
    // The names carry the UTF-8 flag (general purpose bit 11).
    for (const auto &e : zipar::ReadZipDirectory(zip))
        EXPECT_TRUE(e.flags & 0x800) << e.name;
    // -D leaves folder entries out; -0 stores; -S takes names beginning with '.'.
    const fs::path stored = dir / "s.zip";
    ASSERT_EQ(Zip(" -D -r -S -0  \"" + stored.string() + "\" " + base + " \"*\" "), 0) << Out();
    EXPECT_EQ(BsdtarList(stored), ".hidden\nソフト/readme.txt\n表示.txt\n");
    EXPECT_NE(Shell("zipinfo " + Quote(stored)).find("stor"), std::string::npos);
    const fs::path noHidden = dir / "h.zip";
    ASSERT_EQ(Zip(" -D -r  \"" + noHidden.string() + "\" " + base + " \"*\" "), 0) << Out();
    EXPECT_EQ(BsdtarList(noHidden), "ソフト/readme.txt\n表示.txt\n");
}

TEST_F(Zip32Test, JunkPathsAndArchiveTimeOfNewestEntry) {
    WriteFile(dir / "src" / "d1" / "a.txt", "a\n");
    WriteFile(dir / "src" / "d2" / "b", "b\n");
    SetMtime(dir / "src" / "d1" / "a.txt", 1000000000);
    SetMtime(dir / "src" / "d2" / "b", 1100000000);
    const fs::path zip = dir / "j.zip";
    // -j stores names without folders (and no folder entries); "*.*" is every name, dotless too.
    ASSERT_EQ(
        Zip(" -r -o -j  \"" + zip.string() + "\" \"" + (dir / "src").string() + "/\" \"*.*\" "), 0)
        << Out();
    EXPECT_EQ(BsdtarList(zip), "a.txt\nb\n");
    // -o: the archive carries the time of its newest entry.
    EXPECT_EQ(fs::last_write_time(zip), fs::last_write_time(dir / "src" / "d2" / "b"));
}

TEST_F(Zip32Test, FilterSyntaxNamesAndResponseFile) {
    WriteFile(dir / "src" / "[a]-b.txt", "brackets\n");
    WriteFile(dir / "src" / "-x.txt", "dash\n");
    WriteFile(dir / "src" / "sub" / "f.txt", "sub\n");
    const fs::path list = dir / "list.txt";
    WriteFile(list, "\"[[]a]-b.txt\"\r\n\"[-]x.txt\"\r\n\"sub/f.txt\"\r\n");
    const fs::path zip = dir / "r.zip";
    ASSERT_EQ(Zip(" -D  \"" + zip.string() + "\" \"" + (dir / "src").string() + "/\" \"@" +
                  list.string() + "\" "),
              0)
        << Out();
    EXPECT_EQ(BsdtarList(zip), "[a]-b.txt\n-x.txt\nsub/f.txt\n");
    // The same syntax selects entries when extracting.
    ASSERT_EQ(
        UnZip("-x  \"" + zip.string() + "\" \"" + (dir / "out").string() + "/\" \"[[]a]-b.txt\" "),
        0)
        << Out();
    EXPECT_TRUE(fs::exists(dir / "out" / "[a]-b.txt"));
    EXPECT_FALSE(fs::exists(dir / "out" / "-x.txt"));
}

TEST_F(Zip32Test, MissingSourceFailsWithoutCreatingArchive) {
    const fs::path zip = dir / "m.zip";
    EXPECT_EQ(Zip(" -D  \"" + zip.string() + "\" \"" + (dir / "nope.txt").string() + "\" "),
              kArcErrNoFiles);
    EXPECT_NE(Out().find("nope.txt"), std::string::npos);
    EXPECT_FALSE(fs::exists(zip));
}

TEST_F(Zip32Test, ForeignFileIsNeverOverwritten) {
    WriteFile(dir / "a.txt", "a\n");
    WriteFile(dir / "not.zip", "this is not a zip file");
    EXPECT_EQ(
        Zip(" -D  \"" + (dir / "not.zip").string() + "\" \"" + (dir / "a.txt").string() + "\" "),
        kArcErrNotArchive);
    EXPECT_EQ(ReadFile(dir / "not.zip"), "this is not a zip file");
}

TEST_F(Zip32Test, DeleteFreshenAndUpdate) {
    const fs::path src = dir / "src";
    WriteFile(src / "a.txt", "a1\n");
    WriteFile(src / "b.txt", "b1\n");
    WriteFile(src / "c.txt", "c1\n");
    SetMtime(src / "a.txt", 1000000000);
    SetMtime(src / "b.txt", 1000000000);
    const fs::path zip = dir / "u.zip";
    const std::string arc = "\"" + zip.string() + "\" ";
    const std::string base = "\"" + src.string() + "/\" ";
    ASSERT_EQ(Zip(" -D  " + arc + base + "\"a.txt\" \"b.txt\" "), 0) << Out();

    // Freshen: a newer a.txt replaces its entry; c.txt is not in the archive and stays out.
    WriteFile(src / "a.txt", "a2\n");
    SetMtime(src / "a.txt", 1000000100);
    ASSERT_EQ(Zip("-f  " + arc + base + "\"a.txt\" \"c.txt\" "), 0) << Out();
    EXPECT_EQ(BsdtarList(zip), "a.txt\nb.txt\n");
    EXPECT_EQ(Shell("unzip -p " + Quote(zip) + " a.txt"), "a2\n");

    // Update: only newer or new files; an older b.txt on disk does not replace its entry.
    WriteFile(src / "b.txt", "b-old\n");
    SetMtime(src / "b.txt", 900000000);
    ASSERT_EQ(Zip(" -u -D  " + arc + base + "\"b.txt\" \"c.txt\" "), 0) << Out();
    EXPECT_EQ(BsdtarList(zip), "a.txt\nb.txt\nc.txt\n");
    EXPECT_EQ(Shell("unzip -p " + Quote(zip) + " b.txt"), "b1\n");

    // Delete with a wildcard; a name that matches nothing fails and leaves the archive alone.
    ASSERT_EQ(Zip("-d  " + arc + "\"[ab].txt\" "), 0) << Out();
    EXPECT_EQ(BsdtarList(zip), "c.txt\n");
    const std::string before = ReadFile(zip);
    EXPECT_EQ(Zip("-d  " + arc + "\"zzz.txt\" "), kArcErrNoFiles);
    EXPECT_EQ(ReadFile(zip), before);
    int status = -1;
    Shell("unzip -tqq " + Quote(zip), &status);
    EXPECT_EQ(status, 0);
}

// Rewriting needs every kept entry readable: a bad CRC or an encrypted entry fails and leaves the
// archive alone; -FF drops what cannot be read instead.
TEST_F(Zip32Test, RewriteOfUnreadableEntriesFailsOrDropsWithF) {
    struct Case {
        const char *fixture;
        const char *switches;
        int result;
        const char *left; // entries afterwards, as bsdtar lists them
    } cases[] = {
        {"test_read_format_zip.zip", "-d", kArcErrDamaged, nullptr},
        {"test_read_format_zip.zip", "-d -FF", 0, "file1\n"},
        {"zip_infozip_zipcrypto.zip", "-d", kArcErrPassword, nullptr},
    };
    for (const auto &c : cases) {
        const fs::path zip = dir / c.fixture;
        fs::remove(zip);
        fs::copy_file(kData / c.fixture, zip);
        fs::permissions(zip, fs::perms::owner_read | fs::perms::owner_write);
        const std::string before = ReadFile(zip);
        const std::string victim = c.fixture[0] == 't' ? "dir/" : "a.txt";
        EXPECT_EQ(Zip(std::string(c.switches) + "  \"" + zip.string() + "\" \"" + victim + "\" "),
                  c.result)
            << c.fixture << " " << c.switches << ": " << Out();
        if (c.left)
            EXPECT_EQ(BsdtarList(zip), c.left);
        else
            EXPECT_EQ(ReadFile(zip), before);
    }
}

TEST_F(Zip32Test, RewriteConvertsCp932NamesToUtf8) {
    const fs::path zip = dir / "cp.zip";
    fs::copy_file(kData / "test_read_format_zip_filename_cp932.zip", zip);
    fs::permissions(zip, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(Zip("-d  \"" + zip.string() + "\" \"表だよ/漢字.txt\" "), 0) << Out();
    EXPECT_EQ(BsdtarList(zip), "表だよ/一覧表.txt\n");
    EXPECT_EQ(Shell("unzip -p " + Quote(zip) + " '表だよ/一覧表.txt' | sha256sum").substr(0, 64),
              "185f8db32271fe25f561a6fc938b2e264306ec304eda518007d1764826381969");
}

// Info-ZIP wrote both names as CP932 bytes without the UTF-8 flag. "ﾃｽ" in CP932 is C3 BD, which
// is also UTF-8 "ý": the other name shows which the archive uses.
TEST_F(Zip32Test, UnflaggedNamesAreReadInOneCodePagePerArchive) {
    const fs::path out = dir / "out";
    ASSERT_EQ(UnZip("-x  \"" + (kData / "zip_infozip_cp932_mixed.zip").string() + "\" \"" +
                    out.string() + "/\" "),
              0)
        << Out();
    EXPECT_EQ(ReadFile(out / "ﾃｽ.txt"), "tesu\n");
    EXPECT_EQ(ReadFile(out / "表.txt"), "hyou\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 2);
}

// Every fixture with its MANIFEST contents: names decoded, data checked.
TEST_F(Zip32Test, ExtractsFixturesAsManifestSays) {
    std::map<std::string, std::map<std::string, std::string>> expected;
    std::ifstream manifest(kData / "MANIFEST.tsv");
    std::string line;
    while (std::getline(manifest, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string file, entry, sha;
        std::getline(fields, file, '\t');
        std::getline(fields, entry, '\t');
        std::getline(fields, sha, '\t');
        std::replace(entry.begin(), entry.end(), '\\', '/'); // a Windows tool's separator
        expected[file][entry] = sha;
    }
    ASSERT_GE(expected.size(), 21u);
    for (const auto &[file, entries] : expected) {
        const fs::path out = dir / file;
        const int r = UnZip("-x  \"" + (kData / file).string() + "\" \"" + out.string() + "/\" ");
        if (file == "zip_infozip_zipcrypto.zip" ||
            file == "test_read_format_zip_traditional_encryption_data.zip" ||
            file == "test_read_format_zip_winzip_aes128.zip") {
            EXPECT_EQ(r, kArcErrPassword) << file << ": " << Out(); // no password switch here
            continue;
        }
        const int want = file == "test_read_format_zip.zip" ? kArcErrDamaged : 0;
        EXPECT_EQ(r, want) << file << ": " << Out();
        for (const auto &[entry, sha] : entries)
            EXPECT_EQ(Sha256(out / entry), sha) << file << " " << entry;
    }
    // The CRC fixture: the damaged entry is not left behind, not even partly.
    EXPECT_FALSE(fs::exists(dir / "test_read_format_zip.zip" / "file2"));
    // The symlink fixture: a link inside the destination is made as a link.
    EXPECT_TRUE(fs::is_symlink(dir / "test_read_format_zip_symlink.zip" / "symlink"));
}

TEST_F(Zip32Test, MalformedArchiveFailsCleanly) {
    const fs::path out = dir / "out";
    EXPECT_EQ(UnZip("-x  \"" + (kData / "test_read_format_zip_malformed1.zip").string() + "\" \"" +
                    out.string() + "/\" "),
              kArcErrNotArchive);
    EXPECT_FALSE(Out().empty());
    EXPECT_FALSE(fs::exists(out) && !fs::is_empty(out));
    auto check = Unzip32().Get<ArcCheckArchiveProc>("UnZipCheckArchive");
    EXPECT_EQ(check((kData / "test_read_format_zip_malformed1.zip").c_str(), 24), 0);
}

// Cut and damaged copies of a real archive: every entry point answers with a code, never a crash
// (run under the sanitizers).
TEST_F(Zip32Test, CutAndDamagedArchivesFailCleanly) {
    auto check = Unzip32().Get<ArcCheckArchiveProc>("UnZipCheckArchive");
    auto open = Unzip32().Get<ArcOpenArchiveProc>("UnZipOpenArchive");
    auto first = Unzip32().Get<ArcFindFirstProc>("UnZipFindFirst");
    auto next = Unzip32().Get<ArcFindNextProc>("UnZipFindNext");
    auto close = Unzip32().Get<ArcCloseArchiveProc>("UnZipCloseArchive");
    const std::string good = ReadFile(kData / "zip_infozip_sjis_deflate.zip");
    const fs::path bad = dir / "bad.zip";
    const fs::path out = dir / "out";
    for (size_t step = 0; step < 60; ++step) {
        std::string data = good;
        const size_t at = step * 7919 % data.size();
        if (step % 2)
            data.resize(at); // cut short
        else
            data[at] = static_cast<char>(data[at] ^ 0x5A); // one byte changed
        WriteFile(bad, data);
        const int c = check(bad.c_str(), 2);
        EXPECT_TRUE(c == 0 || c == 1);
        if (HARC h = open(nullptr, bad.c_str(), 0)) {
            INDIVIDUALINFO info{};
            for (int r = first(h, "*", &info), n = 0; r == 0 && n < 100; r = next(h, &info), ++n) {
            }
            close(h);
        }
        const int r = UnZip("-x -o  \"" + bad.string() + "\" \"" + out.string() + "/\" ");
        EXPECT_TRUE(r == 0 || (r >= 32769 && r <= 32783)) << r;
    }
}

TEST_F(Zip32Test, ZipSlipEntriesAreRefusedOthersExtracted) {
    const fs::path out = dir / "deep" / "out";
    const int r =
        UnZip("-x -o  \"" + (kData / "evil.zip").string() + "\" \"" + out.string() + "/\" ");
    EXPECT_EQ(r, kArcErrUnsafePath) << Out();
    EXPECT_EQ(ReadFile(out / "good.txt"), "good\n");
    EXPECT_EQ(ReadFile(out / "after.txt"), "after\n");
    EXPECT_FALSE(fs::exists(dir / "deep" / "escaped.txt"));
    EXPECT_FALSE(fs::exists(dir / "escaped2.txt"));
    // The link was not made, so the entry below it landed in a plain folder inside.
    EXPECT_FALSE(fs::is_symlink(out / "link"));
    EXPECT_TRUE(fs::is_regular_file(out / "link" / "through-link.txt"));
    EXPECT_FALSE(fs::exists("/tmp/through-link.txt"));
    // A link inside the destination is made, but no entry is written through it.
    EXPECT_TRUE(fs::is_symlink(out / "inlink"));
    EXPECT_EQ(ReadFile(out / "sub" / "inside.txt"), "inside\n");
    EXPECT_FALSE(fs::exists(out / "sub" / "through-inlink.txt"));
    EXPECT_NE(Out().find("inlink/through-inlink.txt"), std::string::npos);
    for (const char *name : {"../escaped.txt", "/tmp/absolute-escape.txt", "link"})
        EXPECT_NE(Out().find(name), std::string::npos) << name;
}

TEST_F(Zip32Test, OverwriteOnlyWithO) {
    const fs::path zip = kData / "zip_infozip_stored.zip";
    const fs::path out = dir / "out";
    WriteFile(out / "a.txt", "mine\n");
    const std::string line = "  \"" + zip.string() + "\" \"" + out.string() + "/\" \"a.txt\" ";
    EXPECT_EQ(UnZip("-x" + line), 0);
    EXPECT_EQ(ReadFile(out / "a.txt"), "mine\n");
    EXPECT_NE(Out().find("skipped"), std::string::npos);
    EXPECT_EQ(UnZip("-x -o" + line), 0);
    EXPECT_EQ(ReadFile(out / "a.txt").size(), 11000u);
}

TEST_F(Zip32Test, JunkPathsExtractsWithoutFolders) {
    const fs::path out = dir / "out";
    ASSERT_EQ(UnZip("-x -j  \"" + (kData / "zip_infozip_sjis_deflate.zip").string() + "\" \"" +
                    out.string() + "/\" "),
              0)
        << Out();
    EXPECT_TRUE(fs::exists(out / "deep.txt"));
    EXPECT_TRUE(fs::exists(out / "readme.txt"));
    EXPECT_FALSE(fs::exists(out / "dir"));
}

TEST_F(Zip32Test, TestCommandAndCheckArchiveModes) {
    EXPECT_EQ(UnZip("-t  \"" + (kData / "zip_infozip_sjis_deflate.zip").string() + "\" "), 0);
    EXPECT_EQ(UnZip("-t  \"" + (kData / "test_read_format_zip.zip").string() + "\" "),
              kArcErrDamaged);
    for (const Library *lib : {&Unzip32(), &Zip32j()}) {
        auto check = lib->Get<ArcCheckArchiveProc>("UnZipCheckArchive");
        ASSERT_NE(check, nullptr);
        const std::string crcFixture = (kData / "test_read_format_zip.zip").string();
        EXPECT_EQ(check((kData / "zip_infozip_sfx_stub.zip").c_str(), 24), 1);
        EXPECT_EQ(check(crcFixture.c_str(), 0), 1); // headers are fine
        EXPECT_EQ(check(crcFixture.c_str(), 2), 0); // the data is not
        EXPECT_EQ(check((dir / "missing.zip").c_str(), 24), 0);
    }
}

TEST_F(Zip32Test, ListingFillsTheFindRecord) {
    auto open = Unzip32().Get<ArcOpenArchiveProc>("UnZipOpenArchive");
    auto first = Unzip32().Get<ArcFindFirstProc>("UnZipFindFirst");
    auto next = Unzip32().Get<ArcFindNextProc>("UnZipFindNext");
    auto close = Unzip32().Get<ArcCloseArchiveProc>("UnZipCloseArchive");
    auto writeTime = Unzip32().Get<ArcGetTimeExProc>("UnzipGetWriteTimeEx");
    auto origSize = Unzip32().Get<ArcGetSizeExProc>("UnZipGetOriginalSizeEx");
    HARC h = open(nullptr, (kData / "zip_infozip_sjis_deflate.zip").c_str(), 0x800002);
    ASSERT_NE(h, nullptr);
    std::map<std::string, INDIVIDUALINFO> found;
    INDIVIDUALINFO info{};
    for (int r = first(h, "*", &info); r == 0; r = next(h, &info))
        found[info.szFileName] = info;
    ASSERT_EQ(found.size(), 9u);
    const INDIVIDUALINFO &a = found.at("a.txt");
    EXPECT_EQ(a.dwOriginalSize, 11000u);
    EXPECT_GT(a.dwCompressedSize, 0u);
    EXPECT_LT(a.dwCompressedSize, 11000u);
    EXPECT_STREQ(a.szMode, "Defl:N");
    EXPECT_NE(a.dwCRC, 0u);
    EXPECT_GT(a.wDate, 0);
    EXPECT_EQ(std::string(a.szAttribute).substr(0, 1), "-");
    EXPECT_EQ(found.at("ソフト/").szAttribute[0], 'd');
    EXPECT_TRUE(found.count("表示.txt"));
    // The DOS date and time agree with Info-ZIP's listing of the same entry.
    const std::string zi =
        Shell("zipinfo -T " + Quote(kData / "zip_infozip_sjis_deflate.zip") + " a.txt");
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d.%02d%02d%02d", 1980 + (a.wDate >> 9),
                  (a.wDate >> 5) & 15, a.wDate & 31, a.wTime >> 11, (a.wTime >> 5) & 63,
                  (a.wTime & 31) * 2);
    EXPECT_NE(zi.find(stamp), std::string::npos) << zi << " vs " << stamp;
    // Getters answer for the entry found last.
    ASSERT_EQ(first(h, "rnd.bin", &info), 0);
    int64_t size = 0;
    EXPECT_TRUE(origSize(h, &size));
    EXPECT_EQ(size, 3000);
    ARC_FILETIME ft{};
    EXPECT_TRUE(writeTime(h, &ft));
    EXPECT_NE(ft.dwHighDateTime, 0u);
    EXPECT_EQ(next(h, &info), -1);
    EXPECT_EQ(close(h), 0);
    EXPECT_EQ(first(h, "*", &info), kArcErrHandle); // a closed handle is refused
}

// Every fixture lists, through both libraries, the names its MANIFEST gives, in archive order.
TEST_F(Zip32Test, ListsEveryFixtureAsManifestSays) {
    std::ifstream entries(kData / "ENTRIES.tsv");
    std::string line;
    int fixtures = 0;
    while (std::getline(entries, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t tab = line.find('\t');
        const std::string file = line.substr(0, tab), expected = line.substr(tab + 1);
        ++fixtures;
        for (const Library *lib : {&Unzip32(), &Zip32j()}) {
            auto open = lib->Get<ArcOpenArchiveProc>("UnZipOpenArchive");
            auto first = lib->Get<ArcFindFirstProc>("UnZipFindFirst");
            auto next = lib->Get<ArcFindNextProc>("UnZipFindNext");
            auto close = lib->Get<ArcCloseArchiveProc>("UnZipCloseArchive");
            HARC h = open(nullptr, (kData / file).c_str(), 0);
            ASSERT_NE(h, nullptr) << file;
            std::string names;
            INDIVIDUALINFO info{};
            for (int r = first(h, "*.*", &info); r == 0; r = next(h, &info))
                names += (names.empty() ? "" : " ; ") + std::string(info.szFileName);
            close(h);
            EXPECT_EQ(names, expected) << file;
        }
    }
    EXPECT_EQ(fixtures, 21);
}

TEST_F(Zip32Test, ExtractMemWritesTheCountAndNeverMore) {
    auto mem = Unzip32().Get<ArcExtractMemProc>("UnZipExtractMem");
    const std::string line = "  \"" + (kData / "zip_infozip_stored.zip").string() + "\" \"a.txt\" ";
    std::vector<unsigned char> buf(20000, 0xAA);
    DWORD written = 12345;
    ASSERT_EQ(mem(nullptr, line.c_str(), buf.data(), 20000, nullptr, nullptr, &written), 0);
    EXPECT_EQ(written, 11000u);
    EXPECT_EQ(buf[11000], 0xAA);
    // Too small: the beginning, exactly the buffer's size, and a code that says so.
    std::vector<unsigned char> small(100, 0);
    EXPECT_EQ(mem(nullptr, line.c_str(), small.data(), 100, nullptr, nullptr, &written),
              kArcErrBufferTooSmall);
    EXPECT_EQ(written, 100u);
    EXPECT_EQ(std::memcmp(small.data(), buf.data(), 100), 0);
    const std::string missing = "  \"" + (kData / "zip_infozip_stored.zip").string() + "\" \"x\" ";
    EXPECT_EQ(mem(nullptr, missing.c_str(), buf.data(), 20000, nullptr, nullptr, &written),
              kArcErrNoFiles);
    EXPECT_EQ(written, 0u);
}

struct Recorder {
    ArcWindow window{&Recorder::Proc};
    std::vector<int> states;
    std::vector<std::string> names;
    int cancelAt = -1; // answer 1 at the first message of this state
    static LRESULT Proc(HWND hwnd, UINT msg, WPARAM state, LPARAM lParam) {
        auto *self = reinterpret_cast<Recorder *>(hwnd);
        if (msg != ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME))
            return 0;
        self->states.push_back(static_cast<int>(state));
        self->names.push_back(reinterpret_cast<EXTRACTINGINFOEX *>(lParam)->szSourceFileName);
        return static_cast<int>(state) == self->cancelAt ? 1 : 0;
    }
};
static_assert(offsetof(Recorder, window) == 0);

TEST_F(Zip32Test, ProgressFromBothLibrariesThroughUnzip32Owner) {
    // The component registers its window with UNZIP32 only; packing in ZIP32J reports to it too.
    auto setOwner = Unzip32().Get<ArcSetOwnerWindowExProc>("UnZipSetOwnerWindowEx");
    auto killOwner = Unzip32().Get<ArcKillOwnerWindowExProc>("UnZipKillOwnerWindowEx");
    Recorder rec;
    HWND w = &rec.window;
    ASSERT_TRUE(setOwner(w, nullptr));
    WriteFile(dir / "src" / "a.txt", std::string(200000, 'a'));
    const fs::path zip = dir / "p.zip";
    EXPECT_EQ(Zip(" -D  \"" + zip.string() + "\" \"" + (dir / "src").string() + "/\" \"a.txt\" "),
              0);
    ASSERT_FALSE(rec.states.empty());
    EXPECT_EQ(rec.states.front(), ARCEXTRACT_OPEN);
    EXPECT_EQ(rec.states.back(), ARCEXTRACT_END);
    EXPECT_NE(std::find(rec.states.begin(), rec.states.end(), ARCEXTRACT_INPROCESS),
              rec.states.end());
    rec.states.clear();
    EXPECT_EQ(UnZip("-x  \"" + zip.string() + "\" \"" + (dir / "out").string() + "/\" "), 0);
    EXPECT_EQ(rec.states.front(), ARCEXTRACT_OPEN);
    EXPECT_NE(std::find(rec.states.begin(), rec.states.end(), ARCEXTRACT_BEGIN), rec.states.end());
    EXPECT_TRUE(killOwner(w));
    rec.states.clear();
    EXPECT_EQ(UnZip("-x -o  \"" + zip.string() + "\" \"" + (dir / "out").string() + "/\" "), 0);
    EXPECT_TRUE(rec.states.empty());
}

TEST_F(Zip32Test, CancelStopsAndKeepsTheOldArchive) {
    Recorder rec;
    HWND w = &rec.window;
    WriteFile(dir / "src" / "a.txt", "a\n");
    WriteFile(dir / "src" / "b.txt", std::string(300000, 'b'));
    const fs::path zip = dir / "c.zip";
    const std::string arc = "\"" + zip.string() + "\" \"" + (dir / "src").string() + "/\" ";
    ASSERT_EQ(Zip(" -D  " + arc + "\"a.txt\" "), 0);
    const std::string before = ReadFile(zip);

    rec.cancelAt = ARCEXTRACT_INPROCESS; // in the middle of b.txt
    EXPECT_EQ(Zip(" -D  " + arc + "\"b.txt\" ", w), kArcErrUserCancel);
    EXPECT_EQ(ReadFile(zip), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
        << "a temporary file was left"; // src/ and c.zip

    rec.cancelAt = ARCEXTRACT_BEGIN;
    EXPECT_EQ(UnZip("-x  \"" + zip.string() + "\" \"" + (dir / "out").string() + "/\" ", w),
              kArcErrUserCancel);
    EXPECT_FALSE(fs::exists(dir / "out" / "a.txt"));
}

TEST_F(Zip32Test, SelfExtractorOffsetsAdjusted) {
    WriteFile(dir / "src" / "a.txt", "sfx\n");
    const fs::path zip = dir / "x.zip";
    ASSERT_EQ(Zip(" -D  \"" + zip.string() + "\" \"" + (dir / "src").string() + "/\" \"a.txt\" "),
              0);
    const fs::path exe = dir / "X.EXE";
    WriteFile(exe, std::string(1024, 'S') + ReadFile(zip));
    int status = -1;
    Shell("unzip -tqq " + Quote(exe), &status);
    EXPECT_NE(status, 0); // Info-ZIP warns about the stub's bytes
    ASSERT_EQ(Zip("-A " + exe.string()), 0) << Out();
    Shell("unzip -tqq " + Quote(exe), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Shell("unzip -p " + Quote(exe) + " a.txt"), "sfx\n");
}

TEST_F(Zip32Test, OutputBufferIsCutAndTerminated) {
    auto unzip = Unzip32().Get<ArcCommandProc>("UnZip");
    const std::string line = "-x  \"" + (kData / "zip_infozip_sjis_deflate.zip").string() +
                             "\" \"" + (dir / "out").string() + "/\" ";
    char small[8];
    std::memset(small, 'Z', sizeof small);
    EXPECT_EQ(unzip(nullptr, line.c_str(), small, 8), 0);
    EXPECT_EQ(small[7], '\0');
    EXPECT_EQ(std::strlen(small), 7u);
    char untouched = 'Z';
    EXPECT_EQ(unzip(nullptr, ("-x -o" + line.substr(2)).c_str(), &untouched, 0), 0);
    EXPECT_EQ(untouched, 'Z');
    EXPECT_EQ(unzip(nullptr, "-x \"unclosed", small, 8), kArcErrCommandLine);
}

TEST_F(Zip32Test, EachLibraryExportsWhatTheBindingLooksUp) {
    for (const char *name : {"UnZip", "UnZipOpenArchive", "UnZipCloseArchive", "UnZipFindFirst",
                             "UnZipFindNext", "UnzipGetWriteTimeEx", "UnZipGetCreateTimeEx",
                             "UnZipGetAccessTimeEx", "UnZipCheckArchive", "UnZipExtractMem",
                             "UnZipSetOwnerWindowEx", "UnZipKillOwnerWindowEx"})
        EXPECT_NE(dlsym(Unzip32().handle, name), nullptr) << name;
    for (const char *name :
         {"Zip", "UnZipOpenArchive", "UnZipCloseArchive", "UnZipFindFirst", "UnZipFindNext",
          "UnzipGetWriteTimeEx", "UnZipCheckArchive", "UnZipExtractMem"})
        EXPECT_NE(dlsym(Zip32j().handle, name), nullptr) << name;
    EXPECT_EQ(dlsym(Unzip32().handle, "Zip"), nullptr);
    EXPECT_EQ(dlsym(Zip32j().handle, "UnZip"), nullptr);
}

} // namespace

TEST_F(Zip32Test, AnExistingFileKeptIsCountedAsSkipped) {
    WriteFile(dir / "src/d/a.txt", "a");
    WriteFile(dir / "src/d/b.txt", "b");
    const fs::path zip = dir / "s.zip";
    ASSERT_EQ(Zip(" -r  \"" + zip.string() + "\" \"" + (dir / "src").string() + "/\" \"d\" "), 0)
        << Out();
    WriteFile(dir / "out/d/a.txt", "mine");
    ASSERT_EQ(UnZip("-x  \"" + zip.string() + "\" \"" + (dir / "out").string() + "/\""), 0)
        << Out();
    EXPECT_NE(Out().find("1 of 2 files extracted, 1 skipped"), std::string::npos) << Out();
    EXPECT_EQ(ReadFile(dir / "out/d/a.txt"), "mine");
}

TEST_F(Zip32Test, AnEmptyZipListsExtractsAndTakesNewFiles) {
    // Only the end record: what deleting the last entry leaves, and what other tools make.
    const fs::path empty = dir / "e.zip";
    WriteFile(empty, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    auto check = Unzip32().Get<ArcCheckArchiveProc>("UnZipCheckArchive");
    EXPECT_TRUE(check(empty.c_str(), 0));
    EXPECT_TRUE(check(empty.c_str(), 2));
    auto open = Unzip32().Get<ArcOpenArchiveProc>("UnZipOpenArchive");
    auto find = Unzip32().Get<ArcFindFirstProc>("UnZipFindFirst");
    auto close = Unzip32().Get<ArcCloseArchiveProc>("UnZipCloseArchive");
    HARC h = open(nullptr, empty.c_str(), 0);
    ASSERT_NE(h, nullptr);
    INDIVIDUALINFO info{};
    EXPECT_EQ(find(h, "*", &info), -1); // no entry
    close(h);
    EXPECT_EQ(UnZip("-x  \"" + empty.string() + "\" \"" + (dir / "out").string() + "/\""), 0)
        << Out();
    EXPECT_EQ(UnZip("-t  \"" + empty.string() + "\""), 0) << Out();

    WriteFile(dir / "src/a.txt", "a");
    ASSERT_EQ(Zip(" -r  \"" + empty.string() + "\" \"" + (dir / "src").string() + "/\" \"a.txt\" "),
              0)
        << Out();
    ASSERT_EQ(Zip("-d  \"" + empty.string() + "\" \"a.txt\" "), 0) << Out();
    EXPECT_TRUE(check(empty.c_str(), 2));
    ASSERT_EQ(Zip(" -r  \"" + empty.string() + "\" \"" + (dir / "src").string() + "/\" \"a.txt\" "),
              0)
        << Out();
    std::string list;
    FILE *p = ::popen(("unzip -Z1 '" + empty.string() + "'").c_str(), "r");
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p))
        list += buf;
    if (p)
        ::pclose(p);
    EXPECT_EQ(list, "a.txt\n");
}
