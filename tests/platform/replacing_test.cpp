// Replacing a file by a complete new one, the source file's identity, and the profile's read-only,
// FIFO and section rules.
#include "platform/Profile.h"
#include "platform/ReplacingFileWriter.h"
#include "platform/SourceFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace platform;

namespace {

class Replacing : public ::testing::Test {
protected:
    Replacing() {
        std::random_device random;
        dir_ = fs::temp_directory_path() /
               ("quorvel_replacing_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(random()));
        fs::create_directories(dir_);
    }
    ~Replacing() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string operator/(const std::string &name) const { return (dir_ / name).string(); }
    static void Put(const std::string &name, const std::string &text) {
        std::ofstream(name, std::ios::binary) << text;
    }
    static std::string Get(const std::string &name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

TEST(TemporaryNames, OnlyThePatternOfTheTargetIsRecognised) {
    const std::pair<const char *, bool> cases[] = {
        {".a.lzh.quorvel-Ab12Cd.lzh", true},
        {"..a.lzh.quorvel-Ab12Cd.lzh.x7Yz90.tmp", true}, // an archiver library's own beside it
        {".a.lzh.quorvel-Ab12Cd.zip", false},
        {".a.lzh.quorvel-Ab12C.lzh", false},
        {".a.lzh.quorvel-Ab-2Cd.lzh", false},
        {".b.lzh.quorvel-Ab12Cd.lzh", false},
        {"a.lzh", false},
        {".a.lzh.old-123", false},
        {".a.lzh.quorvel-Ab12Cd.lzh.tmp", false},
    };
    for (const auto &[name, ours] : cases)
        EXPECT_EQ(ReplacingFileWriter::IsTemporaryNameOf("a.lzh", name), ours) << name;
    EXPECT_TRUE(ReplacingFileWriter::IsTemporaryNameOf("notes", ".notes.quorvel-xxxxxx"));
}

TEST_F(Replacing, ATemporaryKeepsTheExtensionAndTheNextWriterRemovesLeftovers) {
    const std::string target = *this / "a.tar.gz";
    Put(target, "old");
    // What a killed writer left, and files that only look alike.
    for (const char *name : {".a.tar.gz.quorvel-AAAAAA.gz", "..a.tar.gz.quorvel-BBBBBB.gz.q1.tmp",
                             ".a.tar.gz.quorvel-CCCCCC.tgz", "a.tar.gz.quorvel-DDDDDD.gz"})
        Put(*this / name, "x");
    fs::create_directory(*this / ".a.tar.gz.quorvel-EEEEEE.gz"); // not a file: left alone
    ReplacingFileWriter out(target, ReplacingFileWriter::Content::Outside);
    ASSERT_TRUE(out.Ok()) << out.Error();
    const std::string temp = fs::path(out.TempName()).filename().string();
    EXPECT_TRUE(ReplacingFileWriter::IsTemporaryNameOf("a.tar.gz", temp)) << temp;
    EXPECT_TRUE(temp.ends_with(".gz"));
    EXPECT_FALSE(fs::exists(out.TempName()));
    EXPECT_EQ(Names(), (std::vector<std::string>{".a.tar.gz.quorvel-CCCCCC.tgz",
                                                 ".a.tar.gz.quorvel-EEEEEE.gz", "a.tar.gz",
                                                 "a.tar.gz.quorvel-DDDDDD.gz"}));
}

TEST_F(Replacing, AnOutsideWritersFileReplacesTheTargetOnlyWhenMade) {
    const std::string target = *this / "a.lzh";
    Put(target, "old");
    ::chmod(target.c_str(), 0640);
    {
        ReplacingFileWriter out(target, ReplacingFileWriter::Content::Outside);
        EXPECT_FALSE(out.Commit()); // nothing was made
        EXPECT_NE(out.Error().find("no new " + target + " was made"), std::string::npos);
    }
    {
        ReplacingFileWriter out(target, ReplacingFileWriter::Content::Outside);
        Put(out.TempName(), "refused");
        EXPECT_FALSE(out.Commit([](std::string &why) {
            why = "the source changed";
            return false;
        }));
        EXPECT_EQ(out.Error(), "the source changed");
    } // the refused file goes with the writer
    EXPECT_EQ(Names(), std::vector<std::string>{"a.lzh"});
    EXPECT_EQ(Get(target), "old");
    ReplacingFileWriter out(target, ReplacingFileWriter::Content::Outside);
    Put(out.TempName(), "new");
    ASSERT_TRUE(out.Commit()) << out.Error();
    EXPECT_EQ(Get(target), "new");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(Names(), std::vector<std::string>{"a.lzh"});
}

TEST_F(Replacing, AWrittenFileHasNoNameBeforeItsCommit) {
    const std::string target = *this / "b.txt";
    ReplacingFileWriter out(target);
    ASSERT_TRUE(out.Write("new"));
    // Either unnamed or under the recognisable name; never under the target's name.
    for (const std::string &n : Names())
        EXPECT_TRUE(ReplacingFileWriter::IsTemporaryNameOf("b.txt", n)) << n;
    std::string seen;
    ASSERT_TRUE(out.Commit([&](std::string &) {
        seen = out.TempName();
        return fs::exists(seen) && !fs::exists(target);
    }));
    EXPECT_TRUE(
        ReplacingFileWriter::IsTemporaryNameOf("b.txt", fs::path(seen).filename().string()));
    EXPECT_EQ(Get(target), "new");
    EXPECT_EQ(Names(), std::vector<std::string>{"b.txt"});
}

// The mode decides, for root too: the owner's bits for the owner, the others' for anyone else.
TEST_F(Replacing, AFileTheUserMayNotWriteIsNotReplaced) {
    struct Case {
        mode_t mode;
        bool otherOwner;
        bool replaced;
    } cases[] = {
        {0444, false, false}, {0644, false, true}, {0200, false, true},
        {0644, true, false},  {0666, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + (c.otherOwner ? " other owner" : ""));
        const std::string target = *this / "c.txt";
        fs::remove(target);
        Put(target, "old");
        if (c.otherOwner && ::chown(target.c_str(), 65534, 65534) != 0)
            continue; // only root can give a file away
        ::chmod(target.c_str(), c.mode);
        ReplacingFileWriter out(target);
        EXPECT_EQ(out.Ok(), c.replaced) << out.Error();
        if (!c.replaced) {
            EXPECT_NE(out.Error().find(target + " is read-only"), std::string::npos);
        }
        EXPECT_EQ(out.Write("new") && out.Commit(), c.replaced);
        ::chmod(target.c_str(), 0644);
        EXPECT_EQ(Get(target), c.replaced ? "new" : "old");
    }
}

TEST_F(Replacing, ASourceFileSeesEveryChangeAndRefusesWhatIsNotAFile) {
    const std::string name = *this / "s.txt";
    const std::pair<const char *, std::function<void()>> changes[] = {
        {"its size changed from 5 to 6 bytes", [&] { std::ofstream(name, std::ios::app) << "!"; }},
        {"its size changed from 5 to 2 bytes", [&] { fs::resize_file(name, 2); }},
        {"another file was put in its place",
         [&] {
             Put(name + ".new", "other");
             fs::rename(name + ".new", name);
         }},
        {"it was removed", [&] { fs::remove(name); }},
        {"its status changed", [&] { ::chmod(name.c_str(), 0600); }},
    };
    for (const auto &[what, change] : changes) {
        SCOPED_TRACE(what);
        Put(name, "12345");
        ::chmod(name.c_str(), 0644);
        SourceFile source(name);
        ASSERT_TRUE(source.Ok()) << source.Error();
        EXPECT_EQ(source.Changed(), "");
        change();
        EXPECT_EQ(source.Changed(), "the source " + name + " changed while the job ran: " + what);
        std::string why;
        EXPECT_FALSE(source.Delete(why));
        EXPECT_EQ(why, source.Changed());
        EXPECT_EQ(fs::exists(name), std::string(what) != "it was removed");
    }
    ASSERT_EQ(::mkfifo((*this / "fifo").c_str(), 0600), 0);
    const std::pair<std::string, std::string> refused[] = {
        {*this / "fifo", " is a FIFO (named pipe), not a regular file"},
        {"/dev/null", " is a character device, not a regular file"},
        {dir_.string(), " is a folder, not a regular file"},
    };
    for (const auto &[file, text] : refused) {
        SourceFile source(file); // a FIFO with no writer must not block here
        EXPECT_EQ(source.Error(), file + text);
    }
    EXPECT_EQ(SourceFile(*this / "none").Error(),
              "the source " + (*this / "none") + " does not exist");
}

TEST_F(Replacing, AProfileTheUserMayNotWriteIsNotWritten) {
    const std::string ini = *this / "q.ini";
    Put(ini, "[System]\nJobKind=1\n");
    ::chmod(ini.c_str(), 0444);
    ProfileFile p(ini);
    try {
        p.WriteInteger("System", "JobKind", 2);
        FAIL() << "no error";
    } catch (const EProfileWriteError &e) {
        EXPECT_EQ(std::string(e.what()), ini + " に書き込めません");
    }
    ::chmod(ini.c_str(), 0644);
    EXPECT_EQ(Get(ini), "[System]\nJobKind=1\n");
}

TEST_F(Replacing, AFifoProfileReadsAsMissingAndIsNotWritten) {
    const std::string ini = *this / "q.ini";
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    ProfileFile p(ini);
    EXPECT_EQ(p.ReadProblem(), "is not a regular file");
    EXPECT_EQ(p.ReadInteger("System", "JobKind", 7), 7); // returns without a writer
    EXPECT_THROW(p.WriteInteger("System", "JobKind", 1), EProfileWriteError);
    EXPECT_EQ(ProfileFile(*this / "none.ini").ReadProblem(), "does not exist");
    Put(*this / "ok.ini", "");
    EXPECT_EQ(ProfileFile(*this / "ok.ini").ReadProblem(), "");
}

TEST_F(Replacing, AProfileSectionIsReadAndWrittenWhole) {
    const std::string ini = *this / "q.ini";
    Put(ini, "[Other]\nk=1\n\n[Form]\nold=1\nFileName = 'a b'\n\n[Last]\nz=2\n");
    ProfileFile p(ini);
    EXPECT_EQ(p.ReadSection("form"), (std::vector<std::pair<std::string, std::string>>{
                                         {"old", "1"}, {"FileName", "a b"}}));
    p.WriteSection("Form", {{"ArchiverType", "atZip"}, {"Options.x", "1"}});
    EXPECT_EQ(Get(ini), "[Other]\nk=1\n\n[Form]\nArchiverType=atZip\nOptions.x=1\n\n[Last]\nz=2\n");
    p.WriteSection("New", {});
    EXPECT_EQ(p.ReadSection("New").size(), 0u);
    EXPECT_NE(Get(ini).find("[New]"), std::string::npos);
    EXPECT_THROW(p.WriteSection("Form", {{"a\nb", "1"}}), EProfileWriteError);
}

} // namespace
