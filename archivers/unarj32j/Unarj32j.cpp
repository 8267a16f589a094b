// libunarj32j.so ("UNARJ32J.DLL", prefix "Unarj"): reads ARJ archives with the reader of this
// folder. Reads the LHA-dialect command lines of the ARJ back-end: x / e (extract), t (test),
// l / v (list) and, for ExtractMem, no command word. There is no ARJ writer: u, a, f, m, d and s
// are refused. The switches and codes are described in docs/archivers-arj.md.
#include "ArjArchive.h"

#include "archiver_api.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/CommandLine.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/Extract.h"
#include "archivers/common/FileSystem.h"
#include "archivers/common/LhaDialect.h"
#include "archivers/common/Listing.h"
#include "archivers/common/OutputBuffer.h"
#include "archivers/common/Progress.h"
#include "archivers/common/Wildcard.h"
#include "platform/FileTime.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace arclib;

namespace {

std::string ErrText(int e) {
    return std::strerror(e);
}

// --- the archive file ---------------------------------------------------------------------------

class FileIn : public arj::RandomIn {
public:
    explicit FileIn(const std::string &path) : path_(path) {
        // Without blocking: a FIFO is refused below instead of waiting for a writer.
        fd_ = UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!fd_)
            throw ArcError(kArcErrArchiveNotFound, path + ": " + ErrText(errno));
        struct stat st {};
        if (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode))
            throw ArcError(kArcErrArchiveNotFound, path + ": not a file");
        size_ = static_cast<uint64_t>(st.st_size);
    }
    size_t ReadAt(uint64_t offset, uint8_t *buf, size_t n) override {
        if (offset >= size_)
            return 0;
        ssize_t r = ReadFullyAt(offset, buf, n);
        if (r < 0)
            throw ArcError(kArcErrArchiveNotFound, path_ + ": read: " + ErrText(errno));
        return static_cast<size_t>(r);
    }
    uint64_t Size() const override { return size_; }

private:
    ssize_t ReadFullyAt(uint64_t offset, uint8_t *buf, size_t n) {
        size_t done = 0;
        while (done < n) {
            ssize_t r = ::pread(fd_.get(), buf + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0)
                return -1;
            if (r == 0)
                break;
            done += static_cast<size_t>(r);
        }
        return static_cast<ssize_t>(done);
    }
    std::string path_;
    UniqueFd fd_;
    uint64_t size_ = 0;
};

// An archive open for reading: the file and the reader over it.
struct OpenArj {
    FileIn file;
    arj::Reader reader;
    explicit OpenArj(const std::string &path) : file(path), reader(Start(file, path)) {}

private:
    static arj::Reader Start(FileIn &f, const std::string &path) {
        try {
            return arj::Reader(f);
        } catch (const arj::ArjError &e) {
            throw ArcError(kArcErrNotArchive, path + ": " + e.what());
        }
    }
};

// The code of a reader's problem.
int CodeOf(arj::Problem p) {
    switch (p) {
    case arj::Problem::NotArchive:
        return kArcErrNotArchive;
    case arj::Problem::Garbled:
        return kArcErrPassword;
    case arj::Problem::MultiVolume:
    case arj::Problem::Unsupported:
        return kArcErrUnsupported;
    case arj::Problem::Damaged:
        break;
    }
    return kArcErrDamaged;
}

[[noreturn]] void Rethrow(const std::string &archive, const arj::ArjError &e) {
    throw ArcError(CodeOf(e.problem()), archive + ": " + e.what());
}

uint32_t ModeOf(const arj::Entry &e) {
    const bool dir = e.IsDirectory();
    uint32_t perm;
    if (e.hostOs == arj::kUnix) {
        perm = e.fileMode & 0777;
        if (perm == 0)
            perm = dir ? 0755u : 0644u;
    } else {
        perm = dir ? 0755u : 0644u;
        if (e.fileMode & 0x01)
            perm &= ~0222u; // DOS read-only
    }
    return (dir ? S_IFDIR : S_IFREG) | perm;
}

// Unix time in archives made on Unix; a DOS date and time in local time from anywhere else.
int64_t TimeOf(const arj::Entry &e, uint32_t stamp) {
    if (e.hostOs == arj::kUnix)
        return static_cast<int64_t>(stamp);
    return platform::LocalDosDateTimeToUnix(static_cast<uint16_t>(stamp >> 16),
                                            static_cast<uint16_t>(stamp & 0xFFFF));
}

EntryInfo ToInfo(const arj::Entry &e) {
    EntryInfo i;
    i.name = e.IsDirectory() ? e.name + "/" : e.name;
    i.size = e.originalSize;
    i.sizeKnown = true;
    i.compressedSize = e.packedSize;
    i.crc = e.crc;
    i.mode = ModeOf(e);
    i.mtime = TimeOf(e, e.dosDateTime);
    if (e.accessTime) {
        i.atime = TimeOf(e, e.accessTime);
        i.hasAtime = true;
    }
    if (e.createTime) {
        i.ctime = TimeOf(e, e.createTime);
        i.hasCtime = true;
    }
    i.osType = e.hostOs;
    i.method = e.MethodText();
    i.encrypted = e.Garbled() && !e.IsDirectory();
    return i;
}

// Every member (file or folder) of an archive, headers only.
std::vector<arj::Entry> ReadAll(const std::string &path, bool *multiVolume = nullptr) {
    OpenArj a(path);
    std::vector<arj::Entry> entries;
    if (multiVolume)
        *multiVolume = a.reader.Archive().MultiVolume();
    arj::Entry e;
    try {
        while (a.reader.Next(e)) {
            if (!e.IsMember())
                continue;
            if (multiVolume && e.Split())
                *multiVolume = true;
            entries.push_back(e);
        }
    } catch (const arj::ArjError &err) {
        Rethrow(path, err);
    }
    return entries;
}

// A multi-volume set is read by no command: the entries that cross a volume's end cannot be
// joined here, and extracting the rest would pass off a part as the whole.
void RefuseMultiVolume(const std::string &path) {
    OpenArj a(path);
    bool split = a.reader.Archive().MultiVolume();
    arj::Entry e;
    try {
        while (!split && a.reader.Next(e))
            split = e.Split();
    } catch (const arj::ArjError &) {
        // A damaged header is reported where the entries are read.
    }
    if (split)
        throw ArcError(kArcErrUnsupported,
                       path + ": a volume of a multi-volume ARJ archive; multi-volume archives "
                              "are not supported (join the volumes with arj first)");
}

// --- the command line ---------------------------------------------------------------------------

using Options = LhaOptions;
using Selection = LhaSelection;

Options ParseOptions(const char *line, bool memory) {
    return ParseLhaOptions(line, memory, {"x", "e", "t", "l", "v", "u", "a", "f", "m", "d", "s"});
}

// --- reading entries ----------------------------------------------------------------------------

// Hands the decoded data to a callback as it comes.
class FuncOut : public lha::OutStream {
public:
    explicit FuncOut(std::function<void(const uint8_t *, size_t)> f) : f_(std::move(f)) {}
    void Write(const uint8_t *buf, size_t n) override { f_(buf, n); }

private:
    std::function<void(const uint8_t *, size_t)> f_;
};

// An entry's data for the extraction engine.
class ArjBytes : public EntryBytes {
public:
    ArjBytes(arj::Reader &reader, const std::string &archive)
        : reader_(reader), archive_(archive) {}
    void Deliver(const Sink &sink) override {
        uint64_t at = 0;
        FuncOut out([&](const uint8_t *p, size_t n) {
            sink(p, n, at);
            at += n;
        });
        try {
            reader_.Extract(out);
        } catch (const arj::ArjError &err) {
            Rethrow(archive_, err);
        }
    }

private:
    arj::Reader &reader_;
    const std::string &archive_;
};

int Extract(const Options &o, HWND hwnd, OutputBuffer &out) {
    const std::string &path = o.cl.archive;
    RefuseMultiVolume(path);
    OpenArj a(path);
    Selection sel(o);
    Progress progress(hwnd);
    progress.Opened(path);
    ExtractOptions opt;
    std::string root = o.cl.directory.empty() ? std::string(".") : o.cl.directory;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    opt.destination = root;
    opt.keepFolders = o.keepPaths;
    // Without -c1 an existing file is replaced only by a newer entry, as in the LHA dialect.
    opt.overwrite = o.always ? Overwrite::Replace : Overwrite::ReplaceOlder;
    opt.continueAfterDamage = true; // each header gives the size that leads to the next one
    ExtractionRun run(opt, progress, out);
    int worst = 0;
    arj::Entry e;
    for (;;) {
        try {
            if (!a.reader.Next(e))
                break;
        } catch (const arj::ArjError &err) {
            out.Line(err.what());
            Worst(worst, kArcErrDamaged);
            break;
        }
        if (!e.IsMember())
            continue;
        EntryInfo info = ToInfo(e);
        if (!sel.Matches(info.name))
            continue;
        ArjBytes bytes(a.reader, path);
        run.Add(info, bytes);
    }
    Worst(worst, run.Finish(sel.NamesGiven()));
    return worst;
}

int Test(const Options &o, HWND hwnd, OutputBuffer &out) {
    const std::string &path = o.cl.archive;
    RefuseMultiVolume(path);
    OpenArj a(path);
    Selection sel(o);
    Progress progress(hwnd);
    progress.Opened(path);
    int worst = 0;
    size_t matched = 0, done = 0;
    arj::Entry e;
    for (;;) {
        try {
            if (!a.reader.Next(e))
                break;
        } catch (const arj::ArjError &err) {
            out.Line(err.what());
            Worst(worst, kArcErrDamaged);
            break;
        }
        if (!e.IsMember())
            continue;
        EntryInfo info = ToInfo(e);
        if (!sel.Matches(info.name))
            continue;
        ++matched;
        ProgressEntry p = ProgressFor(info, info.name, "");
        progress.Send(ARCEXTRACT_BEGIN, p);
        try {
            FuncOut null([&](const uint8_t *, size_t n) {
                p.written += n;
                progress.Send(ARCEXTRACT_INPROCESS, p);
            });
            a.reader.Extract(null);
            progress.Send(ARCEXTRACT_END, p);
            ++done;
        } catch (const arj::ArjError &err) {
            out.Line(err.what());
            Worst(worst, CodeOf(err.problem()));
        }
    }
    if (matched == 0 && sel.NamesGiven())
        Worst(worst, kArcErrNoFiles);
    out.Line(std::to_string(done) + " of " + std::to_string(matched) + " entries tested");
    return worst;
}

int List(const Options &o, OutputBuffer &out) {
    Selection sel(o);
    for (const auto &e : ReadAll(o.cl.archive)) {
        EntryInfo info = ToInfo(e);
        if (sel.Matches(info.name))
            out.Line(info.method + " " + std::to_string(e.originalSize) + " " +
                     std::to_string(e.packedSize) + " " + info.name);
    }
    return 0;
}

int RunCommand(HWND hwnd, const char *line, OutputBuffer &out) {
    Options o = ParseOptions(line, false);
    const std::string &c = o.cl.command;
    if (c == "x")
        return Extract(o, hwnd, out);
    if (c == "e") {
        o.keepPaths = false;
        return Extract(o, hwnd, out);
    }
    if (c == "t")
        return Test(o, hwnd, out);
    if (c == "l" || c == "v")
        return List(o, out);
    if (c == "u" || c == "a" || c == "f" || c == "m" || c == "d")
        throw ArcError(kArcErrUnsupported, "command " + c +
                                               ": this library reads ARJ archives only; it "
                                               "cannot make or change one");
    if (c == "s")
        throw ArcError(kArcErrUnsupported,
                       "no self-extracting ARJ archive can be made on Linux: there is no "
                       "self-extractor program for this platform");
    throw ArcError(kArcErrCommandLine, c.empty() ? "no command" : "unknown command " + c);
}

// Decodes into the caller's buffer; stops once it is full.
struct BufferFull {};

int ExtractMemory(HWND hwnd, const char *line, unsigned char *buffer, DWORD size, DWORD *written) {
    if (written)
        *written = 0;
    Options o = ParseOptions(line, true);
    if (!o.cl.command.empty() && o.cl.command != "x" && o.cl.command != "e")
        throw ArcError(kArcErrCommandLine, "memory extraction takes no command " + o.cl.command);
    const std::string &path = o.cl.archive;
    RefuseMultiVolume(path);
    OpenArj a(path);
    Selection sel(o);
    Progress progress(hwnd);
    arj::Entry e;
    try {
        while (a.reader.Next(e)) {
            if (!e.IsMember() || e.IsDirectory() || !sel.Matches(e.name))
                continue;
            ProgressEntry p = ProgressFor(ToInfo(e), e.name, "");
            progress.Send(ARCEXTRACT_BEGIN, p);
            const size_t room = buffer ? size : 0;
            size_t have = 0;
            FuncOut out([&](const uint8_t *data, size_t n) {
                size_t k = std::min(n, room - have);
                if (k)
                    std::memcpy(buffer + have, data, k);
                have += k;
                p.written += k;
                progress.Send(ARCEXTRACT_INPROCESS, p);
                if (k < n)
                    throw BufferFull{};
            });
            bool cut = false;
            try {
                a.reader.Extract(out);
            } catch (const BufferFull &) {
                cut = true;
            }
            if (written)
                *written = static_cast<DWORD>(have);
            progress.Send(ARCEXTRACT_END, p);
            return cut ? kArcErrBufferTooSmall : 0;
        }
    } catch (const arj::ArjError &err) {
        Rethrow(path, err);
    }
    return kArcErrNoFiles;
}

// Check modes: 16 (bit 4) asks whether the file is an ARJ archive (main header and the first
// local header); any other mode reads every header and decodes every entry with its CRC-32. A
// multi-volume archive, a garbled entry or an unknown method fails the full check.
BOOL Check(const char *archive, int mode) {
    if (!archive)
        return 0;
    try {
        OpenArj a(archive);
        arj::Entry e;
        if (mode & 16) {
            a.reader.Next(e);
            return 1;
        }
        if (a.reader.Archive().MultiVolume())
            return 0;
        while (a.reader.Next(e)) {
            if (!e.IsMember())
                continue;
            FuncOut null([](const uint8_t *, size_t) {});
            a.reader.Extract(null);
        }
    } catch (const arj::ArjError &) {
        return 0;
    } catch (const ArcError &) {
        return 0;
    }
    return 1;
}

HARC Open(const char *archive) {
    if (!archive)
        return nullptr;
    std::vector<EntryInfo> infos;
    for (const auto &e : ReadAll(archive))
        infos.push_back(ToInfo(e));
    return RegisterHandle(std::make_unique<ArchiveHandle>(archive, std::move(infos)));
}

} // namespace

#define UNARJ_EXPORT extern "C" __attribute__((visibility("default")))

UNARJ_EXPORT int Unarj(HWND hwnd, const char *cmdLine, char *output, DWORD size) {
    OutputBuffer out(output, size);
    return GuardCode(&out, [&] { return RunCommand(hwnd, cmdLine, out); });
}

UNARJ_EXPORT int UnarjExtractMem(HWND hwnd, const char *cmdLine, unsigned char *buffer, DWORD size,
                                 void *time, WORD *attr, DWORD *written) {
    (void)time;
    if (attr)
        *attr = 0;
    return GuardCode(nullptr, [&] { return ExtractMemory(hwnd, cmdLine, buffer, size, written); });
}

UNARJ_EXPORT HARC UnarjOpenArchive(HWND, const char *archive, DWORD) {
    return Guard<HARC>(nullptr, [&] { return Open(archive); });
}

UNARJ_EXPORT BOOL UnarjCheckArchive(const char *archive, int mode) {
    return Guard<BOOL>(0, [&] { return Check(archive, mode); });
}

// 1 for an ARJ archive (a main header within the first MiB), 0 for anything else.
UNARJ_EXPORT int UnarjGetArchiveType(const char *archive) {
    return Guard<int>(0, [&] {
        if (!archive)
            return 0;
        try {
            OpenArj a(archive);
            return 1;
        } catch (const ArcError &) {
            return 0;
        }
    });
}

ARCLIB_DEFINE_COMMON_EXPORTS(Unarj)
