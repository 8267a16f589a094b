// Hostile input for our archiver libraries: response files that are no files, names that are not
// UTF-8, sources that change while they are packed, damaged data and sizes that lie. Every case
// goes through the libraries' C entry points; the outcome is checked on disk and with other tools.
#include "tests/archivers_common/ArchiverTestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>

using namespace archtest;

namespace {

const Library &Load(const char *path) {
    // Loaded once for the whole run; never unloaded while a test may still call in.
    static std::map<std::string, std::unique_ptr<Library>> libs;
    auto &slot = libs[path];
    if (!slot)
        slot = std::make_unique<Library>(path);
    return *slot;
}

struct Result {
    int code;
    std::string output;
};

Result Call(const char *libPath, const char *entry, const std::string &line, HWND hwnd = nullptr) {
    std::string out(8192, '\0');
    int code = Load(libPath).Get<ArcCommandProc>(entry)(hwnd, line.c_str(), out.data(),
                                                        static_cast<DWORD>(out.size()));
    return {code, out.c_str()};
}

std::string Q(const fs::path &p) {
    return "\"" + p.string() + "\"";
}

// How each library is told to pack one name into an archive.
struct Packer {
    const char *label;
    const char *lib;
    const char *entry;
    const char *extension;
    std::function<std::string(const fs::path &archive, const std::string &names)> line;
};

const std::vector<Packer> &Packers() {
    static const std::vector<Packer> all = {
        {"tgz", TAR32_PATH, "Tar", ".tgz",
         [](const fs::path &a, const std::string &n) { return "c -z -f " + Q(a) + " " + n; }},
        {"tar", TAR32_PATH, "Tar", ".tar",
         [](const fs::path &a, const std::string &n) { return "c -f " + Q(a) + " " + n; }},
        {"zip", ZIP32J_PATH, "Zip", ".zip",
         [](const fs::path &a, const std::string &n) { return "-r " + Q(a) + " " + n; }},
        {"7z", SEVENZIP32_PATH, "SevenZip", ".7z",
         [](const fs::path &a, const std::string &n) { return "a -hide " + Q(a) + " " + n; }},
        {"lzh", UNLHA32_PATH, "Unlha", ".lzh",
         [](const fs::path &a, const std::string &n) { return "a " + Q(a) + " " + n; }},
    };
    return all;
}

class HostileInput : public ::testing::Test {
protected:
    TempDir tmp_;
};

// --- Response files -------------------------------------------------------------------------

// Runs body with a time limit; a call blocked on a FIFO is released by opening its other end.
template <class F> Result Bounded(F body, const fs::path &fifo) {
    auto job = std::async(std::launch::async, body);
    if (job.wait_for(std::chrono::seconds(20)) == std::future_status::timeout) {
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        job.wait();
        ADD_FAILURE() << "the library blocked on a FIFO";
    }
    return job.get();
}

TEST_F(HostileInput, ResponseFilesThatAreNoRegularFilesAreRefusedAtOnce) {
    fs::path fifo = tmp_.path / "names.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::path big = tmp_.path / "big.txt";
    WriteFile(big, "");
    fs::resize_file(big, (64u << 20) + 1); // sparse: over the limit by one byte
    fs::path folder = tmp_.path / "folder";
    fs::create_directories(folder);
    for (const Packer &p : Packers()) {
        for (const fs::path &resp : {fifo, fs::path("/dev/zero"), folder, big}) {
            SCOPED_TRACE(std::string(p.label) + " @" + resp.string());
            fs::path archive = tmp_.path / (std::string("r") + p.extension);
            Result r = Bounded(
                [&] { return Call(p.lib, p.entry, p.line(archive, Q("@" + resp.string()))); },
                fifo);
            EXPECT_EQ(r.code, 32769) << r.output;
            EXPECT_NE(r.output.find(resp.string()), std::string::npos) << r.output;
            EXPECT_FALSE(fs::exists(archive));
        }
    }
}

TEST_F(HostileInput, AResponseFileAtTheSizeLimitIsStillRead) {
    fs::path src = tmp_.path / "a.txt";
    WriteFile(src, "data");
    fs::path resp = tmp_.path / "names.txt";
    WriteFile(resp, src.string() + "\n");
    fs::resize_file(resp, 64u << 20); // the name, then zero bytes up to exactly 64 MiB
    Result r =
        Call(TAR32_PATH, "Tar", "c -f " + Q(tmp_.path / "r.tar") + " " + Q("@" + resp.string()));
    // The zero bytes are one more (unreadable) name; what matters is that the file was read.
    EXPECT_NE(r.code, 32769) << r.output;
}

// --- Names that are not UTF-8 ---------------------------------------------------------------

const std::string kLatin1 = "caf\xe9.txt"; // Latin-1, legal on Linux, not UTF-8

TEST_F(HostileInput, Latin1NamesRoundTripAsTheirBytesWhereTheFormatKeepsBytes) {
    const std::vector<std::pair<std::string, std::string>> tools = {
        {"tgz", "bsdtar -xf \"$A\""},
        {"tar", "bsdtar -xf \"$A\""},
        {"zip", "unzip -q \"$A\""},
        {"lzh", "lha -xq \"$A\""},
    };
    fs::path srcDir = tmp_.path / "src";
    WriteFile(srcDir / kLatin1, "bonjour\n");
    for (const auto &[label, tool] : tools) {
        const Packer &p = *std::find_if(Packers().begin(), Packers().end(),
                                        [&](const Packer &x) { return x.label == label; });
        SCOPED_TRACE(label);
        fs::path archive = tmp_.path / ("n" + std::string(p.extension));
        Result r = Call(p.lib, p.entry, p.line(archive, Q(srcDir / kLatin1)));
        ASSERT_EQ(r.code, 0) << r.output;
        fs::path out = tmp_.path / ("out-" + label);
        fs::create_directories(out);
        std::string cmd =
            "cd " + Quote(out.string()) + " && A=" + Quote(archive.string()) + " && " + tool;
        std::string log;
        ASSERT_EQ(Shell(cmd, &log), 0) << log;
        bool found = false;
        for (auto it = fs::recursive_directory_iterator(out);
             it != fs::recursive_directory_iterator(); ++it)
            if (it->path().filename().string() == kLatin1) {
                found = true;
                EXPECT_EQ(ReadFile(it->path()), "bonjour\n");
            }
        EXPECT_TRUE(found) << "no file named with the same bytes";
    }
}

TEST_F(HostileInput, OurOwnReadersGiveLatin1NamesBackAsTheirBytes) {
    fs::path src = tmp_.path / kLatin1;
    WriteFile(src, "bonjour\n");
    struct Reader {
        const char *label;
        const char *lib, *entry;
        std::function<std::string(const fs::path &, const fs::path &)> extract;
    };
    const std::vector<Reader> readers = {
        {"tgz", TAR32_PATH, "Tar",
         [](const fs::path &a, const fs::path &d) {
             return "x -f " + Q(a) + " -o " + Q(d.string() + "/");
         }},
        {"zip", UNZIP32_PATH, "UnZip",
         [](const fs::path &a, const fs::path &d) {
             return "-x " + Q(a) + " " + Q(d.string() + "/");
         }},
    };
    for (const Reader &rd : readers) {
        SCOPED_TRACE(rd.label);
        const Packer &p = *std::find_if(Packers().begin(), Packers().end(),
                                        [&](const Packer &x) { return x.label == rd.label; });
        fs::path archive = tmp_.path / ("own" + std::string(p.extension));
        Result r = Call(p.lib, p.entry, p.line(archive, Q(src.string())));
        ASSERT_EQ(r.code, 0) << r.output;
        fs::path out = tmp_.path / ("own-" + std::string(rd.label));
        r = Call(rd.lib, rd.entry, rd.extract(archive, out));
        ASSERT_EQ(r.code, 0) << r.output;
        fs::path back = out / fs::path(src.string().substr(1));
        EXPECT_EQ(ReadFile(back), "bonjour\n") << back;
    }
}

TEST_F(HostileInput, SevenZipRefusesANameItCannotStoreAndLeavesTheOldArchive) {
    fs::path good = tmp_.path / "good.txt";
    WriteFile(good, "kept\n");
    fs::path archive = tmp_.path / "a.7z";
    ASSERT_EQ(Call(SEVENZIP32_PATH, "SevenZip", "a -hide " + Q(archive) + " " + Q(good)).code, 0);
    std::string before = ReadFile(archive);
    fs::path bad = tmp_.path / kLatin1;
    WriteFile(bad, "bonjour\n");
    Result r = Call(SEVENZIP32_PATH, "SevenZip", "a -hide " + Q(archive) + " " + Q(bad));
    EXPECT_EQ(r.code, 32775);
    EXPECT_NE(r.output.find(bad.string()), std::string::npos) << r.output;
    EXPECT_EQ(ReadFile(archive), before);
    EXPECT_FALSE(fs::exists(tmp_.path / "new.7z"));
    r = Call(SEVENZIP32_PATH, "SevenZip", "a -hide " + Q(tmp_.path / "new.7z") + " " + Q(bad));
    EXPECT_EQ(r.code, 32775);
    EXPECT_FALSE(fs::exists(tmp_.path / "new.7z"));
}

// --- Sources that change while they are packed ----------------------------------------------

// A progress window that changes a file when the library begins to store it.
struct ChangingWindow {
    ArcWindow base{&ChangingWindow::Proc};
    std::string path;
    std::function<void(const std::string &)> change;
    bool changed = false;
    static LRESULT Proc(HWND hwnd, UINT msg, WPARAM state, LPARAM l) {
        auto *self = reinterpret_cast<ChangingWindow *>(hwnd);
        if (msg != ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME) || state != ARCEXTRACT_BEGIN)
            return 0;
        const auto *info = reinterpret_cast<const EXTRACTINGINFOEX *>(l);
        if (!self->changed && self->path == info->szSourceFileName) {
            self->changed = true;
            self->change(self->path);
        }
        return 0;
    }
};

TEST_F(HostileInput, AFileThatShrinksOrGrowsWhilePackedFailsThePack) {
    const std::vector<std::pair<const char *, std::function<void(const std::string &)>>> changes = {
        {"shrinks", [](const std::string &p) { ::truncate(p.c_str(), 1000); }},
        {"grows",
         [](const std::string &p) {
             std::ofstream(p, std::ios::app | std::ios::binary) << std::string(5000, 'y');
         }},
    };
    for (const Packer &p : Packers()) {
        for (const auto &[what, change] : changes) {
            SCOPED_TRACE(std::string(p.label) + ": the file " + what);
            TempDir dir;
            fs::path old = dir.path / "old.txt";
            WriteFile(old, "the archive's old content\n");
            fs::path archive = dir.path / (std::string("a") + p.extension);
            ASSERT_EQ(Call(p.lib, p.entry, p.line(archive, Q(old))).code, 0);
            const std::string before = ReadFile(archive);
            fs::path src = dir.path / "big.txt";
            WriteFile(src, std::string(300000, 'x'));
            ChangingWindow w;
            w.path = src.string();
            w.change = change;
            Result r = Call(p.lib, p.entry, p.line(archive, Q(src)), &w.base);
            ASSERT_TRUE(w.changed) << "the library sent no progress for " << src;
            EXPECT_EQ(r.code, 32775) << r.output;
            EXPECT_NE(r.output.find(src.string()), std::string::npos) << r.output;
            EXPECT_EQ(ReadFile(archive), before) << "the old archive was changed";
            EXPECT_EQ(CountFiles(dir.path), 3u) << "a temporary file was left";
        }
    }
}

// --- Damaged data ---------------------------------------------------------------------------

void FlipByte(const fs::path &p, std::streamoff at, unsigned char mask = 0x55) {
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    if (at < 0) {
        f.seekg(0, std::ios::end);
        at += f.tellg();
    }
    f.seekg(at);
    char c = 0;
    f.get(c);
    f.seekp(at);
    f.put(static_cast<char>(c ^ mask));
}

struct Reading {
    const char *lib, *entry, *memEntry, *checkEntry;
    std::function<std::string(const fs::path &, const fs::path &)> extract;
    std::function<std::string(const fs::path &)> test;
    std::function<std::string(const fs::path &, const std::string &)> mem;
};

const Reading kTarReading = {
    TAR32_PATH,
    "Tar",
    "TarExtractMem",
    "TarCheckArchive",
    [](const fs::path &a, const fs::path &d) {
        return "x -f " + Q(a) + " -o " + Q(d.string() + "/");
    },
    [](const fs::path &a) { return "t -f " + Q(a); },
    [](const fs::path &a, const std::string &n) { return "-f " + Q(a) + " " + Q(n); },
};
const Reading k7zReading = {
    SEVENZIP32_PATH,
    "SevenZip",
    "SevenZipExtractMem",
    "SevenZipCheckArchive",
    [](const fs::path &a, const fs::path &d) {
        return "x " + Q("-o" + d.string() + "/") + " " + Q(a);
    },
    [](const fs::path &a) { return "t " + Q(a); },
    [](const fs::path &a, const std::string &n) { return "x " + Q(a) + " " + Q(n); },
};
const Reading kZipReading = {
    UNZIP32_PATH,
    "UnZip",
    "UnZipExtractMem",
    "UnZipCheckArchive",
    [](const fs::path &a, const fs::path &d) { return "-x " + Q(a) + " " + Q(d.string() + "/"); },
    [](const fs::path &a) { return "-t " + Q(a); },
    [](const fs::path &a, const std::string &n) { return Q(a) + " " + Q(n); },
};

// Every way of reading says the archive is damaged, and extraction leaves no file of it that
// the output does not name as damaged.
void ExpectDamagedEverywhere(const Reading &rd, const fs::path &archive, const std::string &entry,
                             const fs::path &scratch) {
    fs::path out = scratch / "out";
    Result r = Call(rd.lib, rd.entry, rd.extract(archive, out));
    EXPECT_EQ(r.code, 32772) << r.output;
    if (fs::exists(out))
        for (auto it = fs::recursive_directory_iterator(out);
             it != fs::recursive_directory_iterator(); ++it)
            if (it->is_regular_file()) {
                EXPECT_NE(r.output.find("damaged: " + it->path().lexically_relative(out).string()),
                          std::string::npos)
                    << it->path() << " was left without a word\n"
                    << r.output;
            }
    r = Call(rd.lib, rd.entry, rd.test(archive));
    EXPECT_EQ(r.code, 32772) << r.output;
    std::vector<unsigned char> buf(1 << 20);
    DWORD written = 0;
    std::string mem = rd.mem(archive, entry);
    int code = Load(rd.lib).Get<ArcExtractMemProc>(rd.memEntry)(nullptr, mem.c_str(), buf.data(),
                                                                static_cast<DWORD>(buf.size()),
                                                                nullptr, nullptr, &written);
    EXPECT_EQ(code, 32772);
    EXPECT_FALSE(Load(rd.lib).Get<ArcCheckArchiveProc>(rd.checkEntry)(archive.c_str(), 2));
}

std::string RandomBytes(size_t n) {
    std::string s(n, '\0');
    uint32_t x = 2463534242u;
    for (auto &c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return s;
}

TEST_F(HostileInput, CompressedTarsWithWrongChecksumsAreDamaged) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "r.bin", RandomBytes(100000)); // stored deflate blocks: a flipped byte decodes
    WriteFile(src / "s.txt", "text\n");
    struct Case {
        const char *label, *create, *name;
        std::streamoff at; // where a byte is changed (negative: from the end)
    };
    const Case cases[] = {
        {"gzip data", "bsdtar -czf", "a.tgz", 50000},
        {"gzip CRC-32", "bsdtar -czf", "a.tgz", -8},
        {"gzip length", "bsdtar -czf", "a.tgz", -3},
        {"bzip2 data", "bsdtar -cjf", "a.tbz2", 50000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        fs::path archive = dir.path / c.name;
        std::string log;
        ASSERT_EQ(Shell("cd " + Quote(src.string()) + " && " + c.create + " " +
                            Quote(archive.string()) + " r.bin s.txt",
                        &log),
                  0)
            << log;
        FlipByte(archive, c.at);
        ExpectDamagedEverywhere(kTarReading, archive, "r.bin", dir.path);
    }
}

TEST_F(HostileInput, SevenZipEntriesThatFailTheirCrcAreDamaged) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "a.txt", std::string(20000, 'a') + "end\n");
    fs::path archive = tmp_.path / "a.7z";
    std::string log;
    // Stored (copy) data starts right after the 32-byte signature header.
    ASSERT_EQ(
        Shell("cd " + Quote(src.string()) + " && 7z a -mx0 " + Quote(archive.string()) + " a.txt",
              &log),
        0)
        << log;
    FlipByte(archive, 32 + 100);
    ExpectDamagedEverywhere(k7zReading, archive, "a.txt", tmp_.path);
}

// A zip whose one entry says it holds 1,000 bytes while its data inflates to 4 MiB.
fs::path LyingZip(const fs::path &dir) {
    fs::path src = dir / "lie";
    WriteFile(src / "big.bin", std::string(4 << 20, '\0'));
    fs::path archive = dir / "lie.zip";
    std::string log;
    if (Shell("cd " + Quote(src.string()) + " && zip -q -X " + Quote(archive.string()) + " big.bin",
              &log) != 0)
        ADD_FAILURE() << log;
    std::string z = ReadFile(archive);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            z[at + i] = static_cast<char>(v >> (8 * i));
    };
    put32(22, 1000); // local header: uncompressed size
    size_t cd = z.find("PK\x01\x02");
    put32(cd + 24, 1000); // central directory: uncompressed size
    std::ofstream(archive, std::ios::binary | std::ios::trunc) << z;
    return archive;
}

TEST_F(HostileInput, AZipEntryThatInflatesBeyondItsDeclaredSizeStopsThere) {
    fs::path archive = LyingZip(tmp_.path);
    fs::path out = tmp_.path / "out";
    Result r = Call(UNZIP32_PATH, "UnZip", kZipReading.extract(archive, out));
    EXPECT_EQ(r.code, 32772) << r.output;
    EXPECT_NE(r.output.find("declares"), std::string::npos) << r.output;
    // Nothing of it is left: the partial file was never given its name.
    EXPECT_FALSE(fs::exists(out / "big.bin"));
    if (fs::exists(out)) {
        EXPECT_EQ(CountFiles(out), 0u);
    }
    ExpectDamagedEverywhere(kZipReading, archive, "big.bin", tmp_.path);
}

} // namespace

namespace {

// --- The same answer from every library ---------------------------------------------------------

TEST_F(HostileInput, AWildcardThatMatchesNothingFailsOnlyWhenNothingMatched) {
    fs::path src = tmp_.path / "a.txt";
    WriteFile(src, "a\n");
    const std::string none = Q((tmp_.path / "nomatch*.txt").string());
    for (const Packer &p : Packers()) {
        SCOPED_TRACE(p.label);
        fs::path archive = tmp_.path / (std::string("w") + p.extension);
        Result r = Call(p.lib, p.entry, p.line(archive, none));
        EXPECT_EQ(r.code, 32774) << r.output;
        EXPECT_FALSE(fs::exists(archive));
        r = Call(p.lib, p.entry, p.line(archive, Q(src) + " " + none));
        EXPECT_EQ(r.code, 0) << r.output;
        EXPECT_NE(r.output.find("nomatch*.txt"), std::string::npos) << r.output;
        EXPECT_TRUE(fs::exists(archive));
    }
}

TEST_F(HostileInput, ANameThatExistsIsTakenLiterallyEvenWithWildcardCharacters) {
    for (const char *name : {"x?.txt", "x*.txt"}) {
        TempDir dir;
        WriteFile(dir.path / name, "literal\n");
        WriteFile(dir.path / "x1.txt", "other\n");
        WriteFile(dir.path / "x2.txt", "other\n");
        for (const Packer &p : Packers()) {
            SCOPED_TRACE(std::string(p.label) + " " + name);
            fs::path archive = dir.path / (std::string("lit") + p.extension);
            Result r = Call(p.lib, p.entry, p.line(archive, Q(dir.path / name)));
            ASSERT_EQ(r.code, 0) << r.output;
            std::string listing;
            ASSERT_EQ(Shell("bsdtar -tf " + Quote(archive.string()), &listing), 0) << listing;
            EXPECT_EQ(listing, (dir.path / name).string().substr(1) + "\n");
        }
    }
}

TEST_F(HostileInput, HiddenFilesComeWithAFolderOnlyWhenAskedFor) {
    fs::path src = tmp_.path / "src";
    WriteFile(src / "a.txt", "a");
    WriteFile(src / ".hidden", "h");
    WriteFile(src / "sub/.deep", "d");
    const std::string base = src.string().substr(1);
    const std::string all = base + "/.hidden\n" + base + "/a.txt\n" + base + "/sub/.deep\n";
    const std::string visible = base + "/a.txt\n";
    const struct {
        const char *label, *lib, *entry, *ext, *line; // line: %A archive, %S folder
        std::string files;
    } cases[] = {
        {"tar", TAR32_PATH, "Tar", ".tar", "c -f %A %S", visible},
        {"tar -AH", TAR32_PATH, "Tar", ".tar", "c -AH -f %A %S", all},
        {"tar -I", TAR32_PATH, "Tar", ".tar", "c -I -f %A %S", visible},
        {"zip", ZIP32J_PATH, "Zip", ".zip", "-r -D %A %S", visible},
        {"zip -S", ZIP32J_PATH, "Zip", ".zip", "-r -D -S %A %S", all},
        {"lzh", UNLHA32_PATH, "Unlha", ".lzh", "a -r2 -jso1 %A %S", visible},
        {"lzh -a1", UNLHA32_PATH, "Unlha", ".lzh", "a -r2 -jso1 -a1 %A %S", all},
        {"7z, which has no switch for it", SEVENZIP32_PATH, "SevenZip", ".7z", "a -hide %A %S",
         all},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        fs::path archive = tmp_.path / (std::string("h") + c.ext);
        fs::remove(archive);
        std::string line = c.line;
        line.replace(line.find("%A"), 2, Q(archive));
        line.replace(line.find("%S"), 2, Q(src));
        Result r = Call(c.lib, c.entry, line);
        ASSERT_EQ(r.code, 0) << r.output;
        std::string listing;
        ASSERT_EQ(Shell("bsdtar -tf " + Quote(archive.string()) + " | grep -v '/$' | LC_ALL=C sort",
                        &listing),
                  0);
        EXPECT_EQ(listing, c.files);
    }
    // Named, a hidden file is always taken.
    fs::path named = tmp_.path / "named.tar";
    ASSERT_EQ(Call(TAR32_PATH, "Tar", "c -f " + Q(named) + " " + Q(src / ".hidden")).code, 0);
    std::string listing;
    Shell("bsdtar -tf " + Quote(named.string()), &listing);
    EXPECT_EQ(listing, base + "/.hidden\n");
}

TEST_F(HostileInput, AnArchiveThatIsNoRegularFileIsRefusedAtOnce) {
    fs::path fifo = tmp_.path / "a.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char *lib, *entry, *line;
    } cases[] = {
        {TAR32_PATH, "Tar", "t -f %A"},
        {SEVENZIP32_PATH, "SevenZip", "t %A"},
        {UNZIP32_PATH, "UnZip", "-t %A"},
        {UNLHA32_PATH, "Unlha", "t %A"},
    };
    for (const auto &c : cases) {
        for (const fs::path &archive : {fifo, fs::path("/dev/zero")}) {
            SCOPED_TRACE(std::string(c.entry) + " " + archive.string());
            std::string line = c.line;
            line.replace(line.find("%A"), 2, Q(archive));
            Result r = Bounded([&] { return Call(c.lib, c.entry, line); }, fifo);
            EXPECT_EQ(r.code, 32770) << r.output;
        }
    }
}

} // namespace
