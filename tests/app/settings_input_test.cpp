// Settings files as a user's machine may hold them: damaged, made by other editors, or something
// else in their place. Each loads with the read defaults (or its readable values) without hanging,
// and the save that follows either stores the new values completely or raises the write error and
// leaves the old file as it was; no temporary file is left either way.
#include "TestDir.h"

#include "app/QuorvelLogic.h"
#include "platform/Profile.h"
#include "platform/ReplacingFileWriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quorvel;
using testutil::ReadFile;
using testutil::TestDir;
using testutil::WriteFile;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const TFormValues kDefaults{jkCopy, "", "", true, true};
const TFormValues kSaved{jkCompress, "/x/新しい a.txt", "/y/a.lzh", false, true};

std::string Utf16(const std::u16string &s, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t c : s) {
        const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out += littleEndian ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

std::u16string FromUtf16(const std::string &bytes, bool littleEndian) {
    std::u16string out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]),
                   b = static_cast<unsigned char>(bytes[i + 1]);
        out += static_cast<char16_t>(littleEndian ? a | (b << 8) : (a << 8) | b);
    }
    return out;
}

// Bytes without '[' or a line break, so that they cannot make a section by chance.
std::string Garbage(size_t n) {
    std::string s;
    uint32_t x = 12345;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        char c = static_cast<char>(x >> 24);
        if (c != '[' && c != '\n' && c != '\r')
            s += c;
    }
    return s;
}

enum class Save { Stores, Refused };

struct BadInput {
    const char *what;
    // Puts the bad file (or whatever stands in its place) at path.
    std::function<void(const std::string &path)> make;
    TFormValues loads;
    bool warns; // a note says why values were not used
    Save save;
    // For a save that stores: what must hold of the new file's bytes besides reading back.
    std::function<void(const std::string &bytes)> afterSave;
};

void Put(const std::string &path, const std::string &data) {
    WriteFile(path, data);
}

const std::string kUtf16Text = "[System]\r\nJobKind=2\r\nSourceFile=/x/\xE3\x81\x82.txt\r\n";
const std::u16string kUtf16Source = u"[System]\r\nJobKind=2\r\nSourceFile=/x/\u3042.txt\r\n";

const BadInput kBadInputs[] = {
    {"garbage bytes", [](const std::string &p) { Put(p, Garbage(5000)); }, kDefaults, false,
     Save::Stores,
     [](const std::string &bytes) { EXPECT_EQ(bytes.substr(0, 5000), Garbage(5000)); }},
    {"an empty file", [](const std::string &p) { Put(p, ""); }, kDefaults, false, Save::Stores, {}},
    {"huge numbers",
     [](const std::string &p) {
         Put(p, "[System]\nJobKind=99999999999\nSourDelete=0x1FFFFFFFF\nOverWrite=-99999999999\n");
     },
     kDefaults,
     true,
     Save::Stores,
     {}},
    {"NUL bytes in values",
     [](const std::string &p) {
         Put(p, "[System]\nJobKind=1\0\nSourceFile=/x/a\0/b\nDistFile=/y/z\n"s);
     },
     {jkCopy, "", "/y/z", true, true},
     false, // a value with a NUL is not given, as a missing key

     Save::Stores,
     {}},
    {"a UTF-8 byte order mark and CR LF",
     [](const std::string &p) { Put(p, "\xEF\xBB\xBF[System]\r\nJobKind=2\r\nOverWrite=0\r\n"); },
     {jkDelete, "", "", true, false},
     false,
     Save::Stores,
     [](const std::string &bytes) {
         EXPECT_EQ(bytes.substr(0, 13), "\xEF\xBB\xBF[System]\r\n");
         EXPECT_EQ(bytes.find("\n\n"), std::string::npos);
     }},
    {"UTF-16 little-endian with its mark",
     [](const std::string &p) { Put(p, Utf16(kUtf16Source, true)); },
     {jkDelete, "/x/\xE3\x81\x82.txt", "", true, true},
     false,
     Save::Stores,
     [](const std::string &bytes) {
         ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
         const std::u16string text = FromUtf16(bytes, true);
         EXPECT_NE(text.find(u"SourceFile=/x/新しい a.txt\r\n"), std::u16string::npos);
     }},
    {"UTF-16 big-endian with its mark",
     [](const std::string &p) { Put(p, Utf16(kUtf16Source, false)); },
     {jkDelete, "/x/\xE3\x81\x82.txt", "", true, true},
     false,
     Save::Stores,
     [](const std::string &bytes) {
         ASSERT_EQ(bytes.substr(0, 2), "\xFE\xFF");
         EXPECT_NE(FromUtf16(bytes, false).find(u"JobKind=1\r\n"), std::u16string::npos);
     }},
    {"UTF-16 with an unpaired surrogate",
     [](const std::string &p) {
         Put(p, Utf16(u"[System]\r\nJobKind=2\r\nDistFile=\xD800\r\n", true));
     },
     kDefaults,
     true,
     Save::Refused,
     {}},
    {"CR-only line ends",
     [](const std::string &p) { Put(p, "[Other]\rk=v\r[System]\rJobKind=1\rDistFile=/y/a.lzh\r"); },
     {jkCompress, "", "/y/a.lzh", true, true},
     false,
     Save::Stores,
     [](const std::string &bytes) {
         EXPECT_EQ(bytes.find('\n'), std::string::npos);
         EXPECT_EQ(bytes.substr(0, 12), "[Other]\rk=v\r");
     }},
    {"very long lines",
     [](const std::string &p) {
         Put(p, std::string(1 << 20, 'x') + "\n[System]\nSourceFile=" + std::string(100000, 'a') +
                    "\nJobKind=2\n");
     },
     {jkDelete, std::string(platform::MaxProfileString, 'a'), "", true, true},
     false,
     Save::Stores,
     {}},
    {"a file larger than 16 MiB",
     [](const std::string &p) { Put(p, "[System]\nJobKind=2\n" + std::string(17 << 20, ';')); },
     kDefaults,
     true,
     Save::Refused,
     {}},
    {"a FIFO",
     [](const std::string &p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
     kDefaults,
     true,
     Save::Refused,
     {}},
    {"a folder",
     [](const std::string &p) { fs::create_directory(p); },
     kDefaults,
     true,
     Save::Refused,
     {}},
};

// What stands at path, to compare before and after a refused save.
std::string Snapshot(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "missing";
    if (S_ISREG(st.st_mode))
        return "file:" + ReadFile(path);
    return "mode:" + std::to_string(st.st_mode & S_IFMT);
}

TEST(SettingsBadInput, LoadsWithDefaultsAndASaveNeverDamagesTheFile) {
    for (const BadInput &c : kBadInputs) {
        SCOPED_TRACE(c.what);
        TestDir dir;
        const std::string ini = dir / "QUORVEL.ini";
        c.make(ini);
        const std::string before = Snapshot(ini);

        std::vector<std::string> warnings;
        EXPECT_EQ(ReadSettings(ini, &warnings), c.loads);
        EXPECT_EQ(!warnings.empty(), c.warns) << (warnings.empty() ? "" : warnings.front());

        if (c.save == Save::Refused) {
            try {
                WriteSettings(ini, kSaved);
                ADD_FAILURE() << "the save did not raise";
            } catch (const platform::EProfileWriteError &e) {
                EXPECT_EQ(std::string(e.what()), ini + " に書き込めません");
            }
            EXPECT_EQ(Snapshot(ini), before);
        } else {
            ASSERT_NO_THROW(WriteSettings(ini, kSaved));
            EXPECT_EQ(ReadSettings(ini), kSaved);
            if (c.afterSave)
                c.afterSave(ReadFile(ini));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
            << "a temporary file was left";
    }
}

// A string value with a NUL cannot be written either: it would not read back. The key written
// before it (JobKind) stays written; the file holds no trace of the refused value.
TEST(SettingsBadInput, AValueWithANulIsNotSaved) {
    TestDir dir;
    const std::string ini = dir / "QUORVEL.ini";
    WriteFile(ini, "[System]\nJobKind=2\n");
    TFormValues v = kSaved;
    v.SourceFile = "/x/a\0b"s;
    EXPECT_THROW(WriteSettings(ini, v), platform::EProfileWriteError);
    EXPECT_EQ(ReadFile(ini), "[System]\nJobKind=1\n");
}

// A file the user cannot read is not known: it loads as defaults and is never written over.
TEST(SettingsBadInput, AnUnreadableFileLoadsDefaultsAndIsNotReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads a file whatever its mode";
    TestDir dir;
    const std::string ini = dir / "QUORVEL.ini";
    WriteFile(ini, "[System]\nJobKind=2\n");
    ::chmod(ini.c_str(), 0200);
    std::vector<std::string> warnings;
    EXPECT_EQ(ReadSettings(ini, &warnings), kDefaults);
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_THROW(WriteSettings(ini, kSaved), platform::EProfileWriteError);
    ::chmod(ini.c_str(), 0600);
    EXPECT_EQ(ReadFile(ini), "[System]\nJobKind=2\n");
}

// In a folder where no new file can be made the settings cannot be replaced whole: the save
// raises instead of rewriting the file in place, which a full disk or a kill would leave cut.
TEST(SettingsBadInput, ASaveInAReadOnlyFolderRaisesAndKeepsTheFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may make files in a read-only folder";
    TestDir dir;
    const std::string folder = dir / "ro";
    fs::create_directory(folder);
    const std::string ini = folder + "/QUORVEL.ini";
    WriteFile(ini, "[System]\nJobKind=2\n");
    ::chmod(folder.c_str(), 0555);
    EXPECT_THROW(WriteSettings(ini, kSaved), platform::EProfileWriteError);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(ReadFile(ini), "[System]\nJobKind=2\n");
}

// The disk filling up during a save (here the file-size limit): the save raises and the old file
// is whole; it was never rewritten in place.
TEST(SettingsBadInput, ASaveThatRunsOutOfSpaceKeepsTheOldFile) {
    TestDir dir;
    const std::string ini = dir / "QUORVEL.ini";
    const std::string old = "[System]\nJobKind=2\n" + std::string(3000, ';') + "\n";
    WriteFile(ini, old);
    platform::ReportFileSizeLimitAsError();
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        WriteSettings(ini, kSaved);
    } catch (const platform::EProfileWriteError &) {
        raised = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_TRUE(raised);
    EXPECT_EQ(ReadFile(ini), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

} // namespace
