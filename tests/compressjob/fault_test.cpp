// The fault suite: the headless program, run as a child process, with faults injected at exact
// moments of a job through the test build's seam (quorvel_fault_driver), and the shipped program
// under a file-size limit, with odd sources, settings and destinations. Every child runs under
// a time limit, so a job that would hang fails the test instead.
#include "platform/DynLib.h"
#include "platform/ReplacingFileWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string &name, const std::string &data) {
    fs::create_directories(fs::path(name).parent_path());
    std::ofstream(name, std::ios::binary) << data;
}

// Bytes that do not compress, so that an archive of them is about as large as they are.
std::string Incompressible(size_t size) {
    std::mt19937 gen(11);
    std::string s(size, '\0');
    for (char &c : s)
        c = static_cast<char>(gen());
    return s;
}

// The content of the one entry of an archive, as bsdtar reads it; empty when it cannot.
std::string Unpacked(const std::string &archive) {
    const std::string out = archive + ".unpacked";
    const std::string cmd = "bsdtar -xOf '" + archive + "' >'" + out + "' 2>/dev/null";
    const int rc = std::system(cmd.c_str());
    std::string data = rc == 0 ? ReadFile(out) : std::string();
    fs::remove(out);
    return data;
}

struct RunResult {
    int status;
    std::string err;
};

constexpr int Killed = 128 + SIGKILL;
constexpr int TimedOut = 124;

class Faults : public ::testing::Test {
protected:
    Faults() {
        std::random_device random;
        root_ = fs::temp_directory_path() /
                ("quorvel_faults_" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                 "_" + std::to_string(random()));
        fs::create_directories(root_ / "src");
        fs::create_directories(root_ / "out");
        fs::create_directories(root_ / "bin");
        const fs::path built(QUORVEL_EXE);
        fs::create_directory_symlink(built.parent_path().parent_path() / "lib", root_ / "lib");
    }
    ~Faults() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    std::string operator/(const std::string &name) const { return (root_ / name).string(); }

    // Empty source and destination folders for the next case.
    void Fresh() {
        for (const char *sub : {"src", "out"}) {
            fs::remove_all(root_ / sub);
            fs::create_directories(root_ / sub);
        }
    }

    static std::string Settings(int jobKind, const std::string &source, const std::string &dest,
                                bool sourceDelete) {
        return "[System]\nJobKind=" + std::to_string(jobKind) + "\nSourceFile=" + source +
               "\nDistFile=" + dest + "\nSourDelete=" + (sourceDelete ? "1" : "0") +
               "\nOverWrite=1\n";
    }

    // Runs `exe` as bin/QUORVEL with the settings beside it (none when settings is empty),
    // without a display, after the shell command `before` (a limit), with `env` added.
    RunResult Run(const std::string &exe, const std::string &settings, const std::string &env = "",
                  const std::string &before = "") {
        fs::copy_file(exe, *this / "bin/QUORVEL", fs::copy_options::overwrite_existing);
        if (!settings.empty())
            WriteFile(*this / "bin/QUORVEL.ini", settings);
        const std::string cmd = "cd '" + root_.string() + "' && (" + before +
                                " exec timeout -s KILL 60 env -u DISPLAY -u WAYLAND_DISPLAY -u "
                                "QT_QPA_PLATFORM -u " +
                                platform::kLibrarySearchEnv + " " + env +
                                " bin/QUORVEL exec exit 2>err.txt); echo $? >status.txt";
        if (std::system(cmd.c_str()) != 0)
            return {-1, ""};
        return {std::stoi(ReadFile(*this / "status.txt")), ReadFile(*this / "err.txt")};
    }
    RunResult RunWithFault(const std::string &settings, const std::string &fault) {
        return Run(QUORVEL_FAULT_DRIVER, settings, "QUORVEL_TEST_FAULT=" + fault);
    }

    // The names in a folder, sorted.
    std::vector<std::string> Names(const std::string &sub) const {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(root_ / sub))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // The names in out/ that are neither the destination nor a temporary file of the program
    // for it.
    std::vector<std::string> Strays(const std::string &leaf) const {
        std::vector<std::string> strays;
        for (const auto &n : Names("out"))
            if (n != leaf && !platform::ReplacingFileWriter::IsTemporaryNameOf(leaf, n))
                strays.push_back(n);
        return strays;
    }
    std::vector<std::string> Temporaries(const std::string &leaf) const {
        std::vector<std::string> temps;
        for (const auto &n : Names("out"))
            if (platform::ReplacingFileWriter::IsTemporaryNameOf(leaf, n))
                temps.push_back(n);
        return temps;
    }

    fs::path root_;
};

struct JobCase {
    const char *name;
    int jobKind;
    const char *dest; // in out/
};

// The new destination as the job makes it from content, and whether dest holds exactly that.
bool IsCompleteNew(const JobCase &job, const std::string &dest, const std::string &content) {
    return job.jobKind == 0 ? ReadFile(dest) == content : Unpacked(dest) == content;
}

bool HaveLibrary() {
#ifdef QUORVEL_HAVE_UNLHA32
    return true;
#else
    return false;
#endif
}

const JobCase Jobs[] = {{"copy", 0, "a.txt"}, {"compress", 1, "a.lzh"}};

// A source renamed over, appended to or cut while the job runs: the job fails and says so, the
// source stays with what it now holds, the old destination stays, nothing else is left.
TEST_F(Faults, ASourceThatChangesMidJobFailsAndKeepsBothFiles) {
    const char *stages[] = {"SourceOpened", "Written", "BeforeReplace"};
    const char *actions[] = {"append", "truncate", "replace"};
    for (const JobCase &job : Jobs) {
        if (job.jobKind == 1 && !HaveLibrary())
            continue;
        for (const char *stage : stages) {
            for (const char *action : actions) {
                SCOPED_TRACE(std::string(job.name) + " " + stage + " " + action);
                Fresh();
                const std::string source = *this / "src/a.txt";
                const std::string dest = *this / ("out/" + std::string(job.dest));
                WriteFile(source, Incompressible(20000));
                WriteFile(dest, "old destination");
                RunResult r = RunWithFault(Settings(job.jobKind, source, dest, true),
                                           std::string(stage) + ":" + action);
                EXPECT_EQ(r.status, 1) << r.err;
                EXPECT_NE(r.err.find("changed while the job ran"), std::string::npos) << r.err;
                EXPECT_NE(r.err.find("QUORVEL: JOB failure\n"), std::string::npos) << r.err;
                ASSERT_TRUE(fs::exists(source));
                EXPECT_NE(ReadFile(source), Incompressible(20000)); // what it now holds
                EXPECT_EQ(ReadFile(dest), "old destination");
                EXPECT_EQ(Names("out"), std::vector<std::string>{job.dest});
            }
        }
    }
}

// A source that changes after the destination was replaced, before "Source Delete": the
// destination holds the source as it was, and the changed source is not deleted.
TEST_F(Faults, ASourceThatChangesBeforeItsDeleteIsKept) {
    for (const JobCase &job : Jobs) {
        if (job.jobKind == 1 && !HaveLibrary())
            continue;
        SCOPED_TRACE(job.name);
        Fresh();
        const std::string source = *this / "src/a.txt";
        const std::string dest = *this / ("out/" + std::string(job.dest));
        const std::string content = Incompressible(5000);
        WriteFile(source, content);
        RunResult r = RunWithFault(Settings(job.jobKind, source, dest, true), "Replaced:append");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("changed while the job ran"), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(source), content + "appended while the job ran\n");
        EXPECT_TRUE(IsCompleteNew(job, dest, content));
    }
}

// SIGKILL (SIGTERM, SIGINT) at each moment of a job over an existing destination, the last one a
// kill by the kernel at a file-size limit in the middle of writing: the destination is always the
// old file or the complete new one, and the next run leaves nothing but its own result.
TEST_F(Faults, AKillAtAnyMomentLeavesTheOldOrTheCompleteNewDestination) {
    struct Moment {
        const char *fault;
        bool replaced; // the new file is in place when the kill comes
        int status;
    } moments[] = {
        {"SourceOpened:kill", false, Killed},   {"SourceOpened:fsize-4096", false, 128 + SIGXFSZ},
        {"Written:kill", false, Killed},        {"BeforeReplace:kill", false, Killed},
        {"Written:term", false, 128 + SIGTERM}, {"SourceOpened:int", false, 128 + SIGINT},
        {"Replaced:kill", true, Killed},
    };
    for (const JobCase &job : Jobs) {
        if (job.jobKind == 1 && !HaveLibrary())
            continue;
        for (const Moment &m : moments) {
            SCOPED_TRACE(std::string(job.name) + " " + m.fault);
            Fresh();
            const std::string source = *this / "src/a.txt";
            const std::string dest = *this / ("out/" + std::string(job.dest));
            const std::string content = Incompressible(100000);
            WriteFile(source, content);
            WriteFile(dest, "old destination");
            const std::string settings = Settings(job.jobKind, source, dest, true);
            RunResult r = RunWithFault(settings, m.fault);
            EXPECT_EQ(r.status, m.status) << r.err;
            if (m.replaced)
                EXPECT_TRUE(IsCompleteNew(job, dest, content));
            else
                EXPECT_EQ(ReadFile(dest), "old destination");
            EXPECT_EQ(ReadFile(source), content); // killed before any delete
            EXPECT_EQ(Strays(job.dest), std::vector<std::string>{});
            // Left at most: the complete new file under its temporary name, in the moment
            // between its completion and the rename (the archive is complete once the library
            // returns; the copy has no name before it is checked).
            for (const std::string &temp : Temporaries(job.dest)) {
                const std::string fault = m.fault;
                EXPECT_TRUE(fault == "BeforeReplace:kill" ||
                            (job.jobKind == 1 && fault.rfind("Written:", 0) == 0))
                    << temp;
                EXPECT_TRUE(IsCompleteNew(job, *this / ("out/" + temp), content)) << temp;
            }

            r = Run(QUORVEL_EXE, settings);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(Names("out"), std::vector<std::string>{job.dest});
            EXPECT_TRUE(IsCompleteNew(job, dest, content));
            EXPECT_FALSE(fs::exists(source));
        }
    }
}

// The shipped program under a file-size limit: the write fails, the job says why, the old
// destination stays and nothing is left beside it.
TEST_F(Faults, AFileSizeLimitFailsTheJobWithItsReason) {
    for (const JobCase &job : Jobs) {
        if (job.jobKind == 1 && !HaveLibrary())
            continue;
        SCOPED_TRACE(job.name);
        Fresh();
        const std::string source = *this / "src/a.txt";
        const std::string dest = *this / ("out/" + std::string(job.dest));
        WriteFile(source, Incompressible(300000));
        WriteFile(dest, "old destination");
        RunResult r = Run(QUORVEL_EXE, Settings(job.jobKind, source, dest, true), "",
                          "ulimit -f 100;"); // 100 blocks of 1024 bytes
        EXPECT_EQ(r.status, 1) << r.err;
        const std::string line = std::string("QUORVEL: ") +
                                 (job.jobKind == 0 ? "Copy " : "Compress ") + source + " to " +
                                 dest + ": ";
        EXPECT_EQ(r.err.rfind(line, 0), 0u) << r.err;
        EXPECT_NE(r.err.find(job.jobKind == 0 ? "File too large" : "the archiver library answered"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(ReadFile(dest), "old destination");
        EXPECT_EQ(Names("out"), std::vector<std::string>{job.dest});
        EXPECT_TRUE(fs::exists(source));
    }
}

// A source named with wildcard characters: the job packs it alone, and "Source Delete" removes
// only it. A library that still reads such a name as a mask (the LHA and ZIP libraries glob
// before they look for the file) packs its neighbours too; the job sees that in the new archive and
// replaces and deletes nothing, so no outcome packs or deletes another file.
TEST_F(Faults, AWildcardNamedSourceIsPackedAloneOrNotAtAll) {
    struct Format {
        const char *dest;
        bool present;
    } formats[] = {
        {"a.lzh", HaveLibrary()},
#ifdef QUORVEL_HAVE_ZIP32J
        {"a.zip", true},
#endif
    };
    for (const Format &f : formats) {
        if (!f.present)
            continue;
        for (const char *name : {"x?.txt", "*"}) {
            SCOPED_TRACE(std::string(f.dest) + " " + name);
            Fresh();
            for (const char *other : {"x1.txt", "x2.txt"})
                WriteFile(*this / ("src/" + std::string(other)), other);
            const std::string source = *this / ("src/" + std::string(name));
            WriteFile(source, "the one\n");
            const std::string dest = *this / ("out/" + std::string(f.dest));
            WriteFile(dest, "old destination");
            RunResult r = Run(QUORVEL_EXE, Settings(1, source, dest, true));
            if (r.status == 0) {
                const std::string list = *this / "list.txt";
                ASSERT_EQ(std::system(("bsdtar -tf '" + dest + "' >'" + list + "'").c_str()), 0);
                EXPECT_EQ(ReadFile(list), source.substr(1) + "\n");
                EXPECT_EQ(Unpacked(dest), "the one\n");
                EXPECT_EQ(Names("src"), (std::vector<std::string>{"x1.txt", "x2.txt"}));
            } else {
                EXPECT_EQ(r.status, 1);
                EXPECT_NE(
                    r.err.find("instead of " + source + " alone; " + dest + " is not replaced"),
                    std::string::npos)
                    << r.err;
                EXPECT_EQ(ReadFile(dest), "old destination");
                std::vector<std::string> kept{name, "x1.txt", "x2.txt"};
                std::sort(kept.begin(), kept.end());
                EXPECT_EQ(Names("src"), kept);
            }
            EXPECT_EQ(Names("out"), std::vector<std::string>{f.dest});
        }
    }
}

// A source that is not a regular file is refused at once, with a line that says what it is.
TEST_F(Faults, ASourceThatIsNotARegularFileIsRefused) {
    ASSERT_EQ(::mkfifo((*this / "src/fifo").c_str(), 0600), 0);
    const std::string socketName = *this / "src/socket";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketName.size(), sizeof address.sun_path);
    std::copy(socketName.begin(), socketName.end(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const std::pair<std::string, const char *> sources[] = {
        {*this / "src/fifo", "a FIFO (named pipe)"},
        {"/dev/zero", "a character device"},
        {socketName, "a socket"},
        {*this / "src", "a folder"},
    };
    for (const JobCase &job : Jobs) {
        for (const auto &[source, kind] : sources) {
            SCOPED_TRACE(std::string(job.name) + " " + source);
            RunResult r =
                Run(QUORVEL_EXE, Settings(job.jobKind, source, *this / "out/a.lzh", true));
            EXPECT_EQ(r.status, 1) << r.err; // not TimedOut
            EXPECT_NE(r.err.find(source + " is " + kind + ", not a regular file"),
                      std::string::npos)
                << r.err;
            EXPECT_TRUE(fs::exists(fs::symlink_status(source)));
            EXPECT_EQ(Names("out"), std::vector<std::string>{});
        }
    }
    ::close(sock);
}

// A FIFO in place of the settings file reads as no settings, with a warning, and never blocks.
TEST_F(Faults, AFifoAsTheSettingsFileDoesNotHang) {
    ASSERT_EQ(::mkfifo((*this / "bin/QUORVEL.ini").c_str(), 0600), 0);
    RunResult r = Run(QUORVEL_EXE, "");
    EXPECT_NE(r.status, TimedOut);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("QUORVEL: settings " + (*this / "bin/QUORVEL.ini") +
                         " is not a regular file; the defaults are used\n"),
              std::string::npos)
        << r.err;
}

// A destination whose mode does not let the running user write it is not replaced, whether the
// user is its owner or not; root is judged by the mode too.
TEST_F(Faults, AReadOnlyDestinationIsNotReplaced) {
    struct Owner {
        const char *name;
        uid_t uid;
        mode_t mode;
    } owners[] = {
        {"own file, mode 0444", ::geteuid(), 0444},
        {"someone else's file, mode 0644", 65534, 0644},
    };
    for (const JobCase &job : Jobs) {
        if (job.jobKind == 1 && !HaveLibrary())
            continue;
        for (const Owner &o : owners) {
            SCOPED_TRACE(std::string(job.name) + " " + o.name);
            Fresh();
            const std::string source = *this / "src/a.txt";
            const std::string dest = *this / ("out/" + std::string(job.dest));
            WriteFile(source, "new\n");
            WriteFile(dest, "old destination");
            if (o.uid != ::geteuid() && ::chown(dest.c_str(), o.uid, static_cast<gid_t>(-1)) != 0) {
                fs::remove(dest);
                continue; // only root can give a file away
            }
            ASSERT_EQ(::chmod(dest.c_str(), o.mode), 0);
            RunResult r = Run(QUORVEL_EXE, Settings(job.jobKind, source, dest, true));
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_NE(r.err.find(dest + " is read-only"), std::string::npos) << r.err;
            EXPECT_EQ(ReadFile(dest), "old destination");
            EXPECT_EQ(ReadFile(source), "new\n");
            EXPECT_EQ(Names("out"), std::vector<std::string>{job.dest});
            fs::remove(dest);
        }
    }
}

// Every failure of an unattended run prints a line naming the job, its file and the reason,
// then "JOB failure".
TEST_F(Faults, EveryFailurePrintsItsReason) {
    const std::string source = *this / "src/a.txt";
    WriteFile(source, "text\n");
    struct Case {
        const char *what;
        std::string settings;
        std::string line; // the reason line, whole
    } cases[] = {
        {"missing source", Settings(0, *this / "src/none.txt", *this / "out/b.txt", false),
         "QUORVEL: Copy " + (*this / "src/none.txt") + " to " + (*this / "out/b.txt") +
             ": the source " + (*this / "src/none.txt") + " does not exist"},
        {"missing destination folder", Settings(0, source, *this / "none/b.txt", false),
         "QUORVEL: Copy " + source + " to " + (*this / "none/b.txt") + ": cannot open the folder " +
             (*this / "none") + ": No such file or directory"},
        {"destination is a folder", Settings(0, source, *this / "out", false),
         "QUORVEL: Copy " + source + " to " + (*this / "out") + ": " + (*this / "out") +
             " is not a regular file"},
        {"delete of a source in a folder that cannot change",
         Settings(2, "/proc/version", "", false),
         "QUORVEL: Delete /proc/version: cannot delete the source /proc/version: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RunResult r = Run(QUORVEL_EXE, c.settings);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind(c.line, 0), 0u) << r.err;
        EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "QUORVEL: JOB failure\n") << r.err;
    }
    // No settings file at all: the warning, then the job's failure.
    fs::remove(*this / "bin/QUORVEL.ini");
    RunResult r = Run(QUORVEL_EXE, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "QUORVEL: settings " + (*this / "bin/QUORVEL.ini") +
                         " does not exist; the defaults are used\n"
                         "QUORVEL: Copy  to : no source file is given\n"
                         "QUORVEL: JOB failure\n");
}

// A value that is not a number reads as its default, as the profile rules say, and the run
// warns which key and which default: SourDelete=false deletes, but not silently.
TEST_F(Faults, ASettingThatIsNotANumberIsWarnedAbout) {
    const std::string source = *this / "src/a.txt";
    WriteFile(source, "text\n");
    RunResult r = Run(QUORVEL_EXE, "[System]\nJobKind=Copy\nSourceFile=" + source +
                                       "\nDistFile=" + (*this / "out/b.txt") +
                                       "\nSourDelete=false\nOverWrite=yes\n");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string ini = *this / "bin/QUORVEL.ini";
    EXPECT_EQ(r.err, "QUORVEL: settings " + ini +
                         ": JobKind=Copy is not a number; the default 0 is used\n"
                         "QUORVEL: settings " +
                         ini +
                         ": SourDelete=false is not a number; the default 1 is used\n"
                         "QUORVEL: settings " +
                         ini + ": OverWrite=yes is not a number; the default 1 is used\n");
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(ReadFile(*this / "out/b.txt"), "text\r\n");
}

} // namespace
