// libunlha32.so ("UNLHA32.DLL", prefix "Unlha"): LHA archives with the codec of this folder.
// Reads the command lines of the LHA back-end: u (add or replace), f (freshen), d (delete),
// x / e (extract), t (test), l (list), s (self-extractor: none on Linux) and, for ExtractMem, no
// command word. The switches and codes are described in docs/archivers-lha.md.
#include "LhaArchive.h"

#include "archiver_api.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/Collect.h"
#include "archivers/common/CommandLine.h"
#include "archivers/common/DateBound.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/Extract.h"
#include "archivers/common/FileSystem.h"
#include "archivers/common/LhaDialect.h"
#include "archivers/common/Listing.h"
#include "archivers/common/OutputBuffer.h"
#include "archivers/common/Progress.h"
#include "archivers/common/Wildcard.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
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

// --- file streams -----------------------------------------------------------------------------

// Buffered reading of a file descriptor, with forward skips (a seek).
class FdIn : public lha::SeekableIn {
public:
    // what names the file in messages.
    FdIn(int fd, int errorCode, std::string what)
        : fd_(fd), code_(errorCode), what_(std::move(what)) {}
    size_t Read(uint8_t *buf, size_t n) override {
        size_t done = 0;
        while (done < n) {
            if (pos_ == end_) {
                if (n - done >= buf_.size()) { // large reads go straight through
                    ssize_t r = ReadFd(buf + done, n - done);
                    if (r == 0)
                        break;
                    done += static_cast<size_t>(r);
                    offset_ += static_cast<uint64_t>(r);
                    continue;
                }
                ssize_t r = ReadFd(buf_.data(), buf_.size());
                if (r == 0)
                    break;
                pos_ = 0;
                end_ = static_cast<size_t>(r);
            }
            size_t k = std::min(n - done, end_ - pos_);
            std::memcpy(buf + done, buf_.data() + pos_, k);
            pos_ += k;
            done += k;
            offset_ += k;
        }
        return done;
    }
    void Skip(uint64_t n) override {
        uint64_t inBuf = std::min<uint64_t>(n, end_ - pos_);
        pos_ += static_cast<size_t>(inBuf);
        offset_ += inBuf;
        n -= inBuf;
        if (n == 0)
            return;
        struct stat st {};
        uint64_t size = ::fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
        uint64_t target = std::min(offset_ + n, std::max(size, offset_));
        if (::lseek(fd_, static_cast<off_t>(target), SEEK_SET) < 0)
            throw ArcError(code_, what_ + ": seek: " + ErrText(errno));
        offset_ = target;
    }
    uint64_t Tell() const override { return offset_; }

private:
    ssize_t ReadFd(uint8_t *p, size_t n) {
        ssize_t r = ReadFully(fd_, p, n);
        if (r < 0)
            throw ArcError(code_, what_ + ": read: " + ErrText(errno));
        return r;
    }
    int fd_;
    int code_;
    std::string what_;
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(64 * 1024);
    size_t pos_ = 0, end_ = 0;
    uint64_t offset_ = 0;
};

void WriteAll(int fd, const uint8_t *p, size_t n, int code, const std::string &what) {
    if (!WriteFully(fd, p, n))
        throw ArcError(code, what + ": " + ErrText(errno));
}

void PWriteAll(int fd, const uint8_t *p, size_t n, uint64_t at, int code, const std::string &what) {
    if (!PWriteFully(fd, p, n, at))
        throw ArcError(code, what + ": " + ErrText(errno));
}

// Writes to a file descriptor at its current offset; counts what it wrote.
class FdOut : public lha::OutStream {
public:
    FdOut(int fd, int code, std::string what) : fd_(fd), code_(code), what_(std::move(what)) {}
    void Write(const uint8_t *buf, size_t n) override {
        WriteAll(fd_, buf, n, code_, what_);
        written += n;
    }
    uint64_t written = 0;

private:
    int fd_;
    int code_;
    std::string what_;
};

// Reports progress after each block read from a file being packed. A file that gives more than
// the size it had when it was opened fails at once (its end could never be reached otherwise).
class ProgressIn : public lha::InStream {
public:
    ProgressIn(lha::InStream &in, Progress &progress, ProgressEntry &entry)
        : in_(in), progress_(progress), entry_(entry) {}
    size_t Read(uint8_t *buf, size_t n) override {
        size_t r = in_.Read(buf, n);
        entry_.written += r;
        if (entry_.written > entry_.size)
            throw ArcError(kArcErrReadSource, entry_.source +
                                                  ": the file grew while it was read (more than " +
                                                  std::to_string(entry_.size) + " bytes)");
        if (r)
            progress_.Send(ARCEXTRACT_INPROCESS, entry_);
        return r;
    }

private:
    lha::InStream &in_;
    Progress &progress_;
    ProgressEntry &entry_;
};

// Reports progress for each block written while extracting.
class ProgressOut : public lha::OutStream {
public:
    ProgressOut(lha::OutStream &out, Progress &progress, ProgressEntry &entry)
        : out_(out), progress_(progress), entry_(entry) {}
    void Write(const uint8_t *buf, size_t n) override {
        out_.Write(buf, n);
        entry_.written += n;
        progress_.Send(ARCEXTRACT_INPROCESS, entry_);
    }

private:
    lha::OutStream &out_;
    Progress &progress_;
    ProgressEntry &entry_;
};

class NullOut : public lha::OutStream {
public:
    void Write(const uint8_t *, size_t) override {}
};

// --- reading archives ---------------------------------------------------------------------------

UniqueFd OpenArchiveFile(const std::string &path) {
    // Without blocking: a FIFO is refused below instead of waiting for a writer.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        throw ArcError(kArcErrArchiveNotFound, path + ": " + ErrText(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw ArcError(kArcErrArchiveNotFound, path + ": not a file");
    return fd;
}

uint32_t ModeOf(const lha::Entry &e) {
    uint32_t perm = e.unixMode ? (*e.unixMode & 07777) : (e.isDir ? 0755u : 0644u);
    if (!e.unixMode && (e.dosAttribute & 0x01))
        perm &= ~0222u; // DOS read-only
    uint32_t type = e.isDir ? S_IFDIR : e.isSymlink ? S_IFLNK : S_IFREG;
    return type | perm;
}

EntryInfo ToInfo(const lha::Entry &e) {
    EntryInfo i;
    i.name = e.isDir ? e.name + "/" : e.name;
    i.size = e.originalSize;
    i.compressedSize = e.packedSize;
    i.crc = e.crc;
    i.mode = ModeOf(e);
    i.mtime = e.mtime;
    constexpr uint64_t kEpoch = 116444736000000000ULL;
    auto unix = [&](uint64_t t, int64_t &s, int64_t &ns) {
        if (t < kEpoch)
            return false;
        s = static_cast<int64_t>((t - kEpoch) / 10000000ULL);
        ns = static_cast<int64_t>((t - kEpoch) % 10000000ULL) * 100;
        return true;
    };
    if (e.createTime)
        i.hasCtime = unix(*e.createTime, i.ctime, i.ctimeNs);
    if (e.accessTime)
        i.hasAtime = unix(*e.accessTime, i.atime, i.atimeNs);
    i.osType = e.osId;
    i.method = e.methodId;
    i.linkTarget = e.linkTarget;
    return i;
}

// Damaged archives and entries are code 32772; the message says why.
[[noreturn]] void Damaged(const std::string &archive, const lha::LhaError &e) {
    throw ArcError(kArcErrDamaged, archive + ": " + e.what());
}

std::vector<lha::Entry> ReadAll(const std::string &path) {
    UniqueFd fd = OpenArchiveFile(path);
    FdIn in(fd.get(), kArcErrArchiveNotFound, path);
    lha::Reader reader(in);
    std::vector<lha::Entry> entries;
    lha::Entry e;
    try {
        while (reader.Next(e))
            entries.push_back(e);
    } catch (const lha::LhaError &err) {
        if (entries.empty())
            throw ArcError(kArcErrNotArchive, path + ": " + err.what());
        Damaged(path, err);
    }
    return entries;
}

// --- the command line ---------------------------------------------------------------------------

using Options = LhaOptions;
using Selection = LhaSelection;

Options ParseOptions(const char *line, bool memory) {
    return ParseLhaOptions(line, memory, {"u", "a", "f", "d", "x", "e", "t", "l", "v", "s"});
}

Selection MakeSelection(const Options &o) {
    return LhaSelection(o);
}

// --- extraction ---------------------------------------------------------------------------------

ProgressEntry ProgressFor(const lha::Entry &e, const std::string &src, const std::string &dst) {
    return arclib::ProgressFor(ToInfo(e), src, dst);
}

// An entry's data decoded for the extraction engine; a decoding failure is damage.
class LhaBytes : public EntryBytes {
public:
    LhaBytes(lha::Reader &reader, const std::string &name) : reader_(reader), name_(name) {}
    void Deliver(const Sink &sink) override {
        class Out : public lha::OutStream {
        public:
            explicit Out(const Sink &sink) : sink_(sink) {}
            void Write(const uint8_t *buf, size_t n) override {
                sink_(buf, n, at_);
                at_ += n;
            }

        private:
            const Sink &sink_;
            uint64_t at_ = 0;
        } out(sink);
        try {
            reader_.Extract(out);
        } catch (const lha::LhaError &err) {
            throw ArcError(kArcErrDamaged, name_ + ": " + err.what());
        }
    }

private:
    lha::Reader &reader_;
    const std::string &name_;
};

int Extract(const Options &o, HWND hwnd, OutputBuffer &out, bool testOnly) {
    const std::string &path = o.cl.archive;
    UniqueFd fd = OpenArchiveFile(path);
    FdIn in(fd.get(), kArcErrArchiveNotFound, path);
    lha::Reader reader(in);
    Selection sel = MakeSelection(o);
    Progress progress(hwnd);
    progress.Opened(path);
    ExtractOptions opt;
    std::string root = o.cl.directory.empty() ? std::string(".") : o.cl.directory;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    opt.destination = root;
    opt.keepFolders = o.keepPaths;
    // Without -a1 (always) an existing file is replaced only by a newer entry.
    opt.overwrite = o.always ? Overwrite::Replace : Overwrite::ReplaceOlder;
    opt.continueAfterDamage = true; // each entry's packed size leads to the next header
    std::optional<ExtractionRun> run;
    if (!testOnly)
        run.emplace(opt, progress, out);
    int worst = 0;
    size_t matched = 0, done = 0, seen = 0;
    lha::Entry e;
    for (;;) {
        try {
            if (!reader.Next(e))
                break;
            ++seen;
        } catch (const lha::LhaError &err) {
            if (seen == 0)
                throw ArcError(kArcErrNotArchive, path + ": " + err.what());
            Damaged(path, err);
        }
        std::string shownName = e.isDir ? e.name + "/" : e.name;
        if (!sel.Matches(shownName))
            continue;
        ++matched;
        if (!e.damage.empty()) {
            out.Line("damaged: " + e.name + " (" + e.damage + ")");
            Worst(worst, kArcErrDamaged);
            continue;
        }
        if (e.method == lha::Method::Unknown) {
            out.Line("unsupported method " + e.methodId + ": " + e.name);
            Worst(worst, kArcErrUnsupported);
            continue;
        }
        if (!testOnly) {
            LhaBytes bytes(reader, e.name);
            run->Add(ToInfo(e), bytes);
            continue;
        }
        try {
            NullOut null;
            ProgressEntry p = ProgressFor(e, e.name, "");
            progress.Send(ARCEXTRACT_BEGIN, p);
            ProgressOut pout(null, progress, p);
            reader.Extract(pout);
            progress.Send(ARCEXTRACT_END, p);
            ++done;
        } catch (const lha::LhaError &err) {
            out.Line("damaged: " + e.name + " (" + err.what() + ")");
            Worst(worst, kArcErrDamaged);
        }
    }
    if (!testOnly) {
        Worst(worst, run->Finish(sel.NamesGiven()));
        return worst;
    }
    if (matched == 0 && sel.NamesGiven())
        Worst(worst, kArcErrNoFiles);
    out.Line(std::to_string(done) + " of " + std::to_string(matched) + " entries tested");
    return worst;
}

// --- writing archives ---------------------------------------------------------------------------

// The files the arguments of u and f name: -r0 names as given, -r1 masks and plain names in
// every subfolder too, -r2 folders with their contents.
std::vector<SourceFile> CollectFiles(const Options &o, const struct stat *self, OutputBuffer &out,
                                     int &worst) {
    CollectOptions co;
    co.baseDir = o.cl.directory;
    co.keepFolders = o.keepPaths;
    co.folderEntries = o.keepPaths && !o.noFolders;
    co.recurseFolders = o.r >= 1;
    co.recurseWildcards = o.r == 1;
    co.plainNamesInSubfolders = true;
    co.masksTakeFolders = false;
    co.hidden = o.hidden;
    co.exclude = EntrySelector(o.exclude);
    co.excludeLastNames = true;
    co.written = o.written;
    if (self) {
        co.skipDev = self->st_dev;
        co.skipIno = self->st_ino;
    }
    Collection c = Collect(o.cl.files, co, out);
    bool maskMissed = false;
    for (const auto &u : c.unmatched) {
        if (u.mask) {
            out.Line("no file matches " + u.argument);
            maskMissed = true;
        } else {
            out.Line("not found: " + u.argument);
            Worst(worst, kArcErrNoFiles);
        }
    }
    // A mask that matches nothing is only a line, as in every library of ours, unless nothing at
    // all was found.
    if (maskMissed && c.files.empty())
        Worst(worst, kArcErrNoFiles);
    return std::move(c.files);
}

// Appends one file from disk as a new entry at the current end of fd: -lh5- unless that does not
// shrink the data, then -lh0-. The header is written first and patched when the sizes are known.
void WriteEntry(int fd, const SourceFile &src, bool store, Progress &progress, OutputBuffer &out) {
    // 0xFF separates folders in the format; a name in UTF-8 never holds it, a name in another
    // encoding (Latin-1 'ÿ') might, and would not read back the same.
    if (src.entryName.find('\xFF') != std::string::npos)
        throw ArcError(kArcErrReadSource,
                       src.diskPath + ": the name holds the byte 0xFF, which an LHA archive "
                                      "reads as a folder separator");
    lha::NewEntry ne;
    ne.name = src.entryName;
    ne.mtime = src.st.st_mtime;
    ne.unixMode = src.st.st_mode & 07777;
    const std::string what = "the archive";
    auto headerAt = static_cast<uint64_t>(::lseek(fd, 0, SEEK_CUR));
    ProgressEntry p;
    p.source = src.diskPath;
    p.destination = src.entryName;
    p.mtime = src.st.st_mtime;
    p.mode = src.st.st_mode;
    if (S_ISDIR(src.st.st_mode) || S_ISLNK(src.st.st_mode)) {
        ne.isDir = S_ISDIR(src.st.st_mode);
        if (S_ISLNK(src.st.st_mode)) {
            std::string target(4096, '\0');
            ssize_t n = ::readlink(src.diskPath.c_str(), target.data(), target.size());
            if (n < 0)
                throw ArcError(kArcErrReadSource, src.diskPath + ": " + ErrText(errno));
            target.resize(static_cast<size_t>(n));
            ne.linkTarget = target;
            ne.unixMode = 0777;
        }
        p.method = "-lhd-";
        progress.Send(ARCEXTRACT_BEGIN, p);
        auto h = lha::BuildLevel2Header(ne, lha::Method::Dir, 0, 0, 0, false);
        WriteAll(fd, h.data(), h.size(), kArcErrWriteArchive, what);
        progress.Send(ARCEXTRACT_END, p);
        out.Line("stored: " + src.entryName + (ne.isDir ? "/" : " -> " + ne.linkTarget));
        return;
    }
    UniqueFd in(::open(src.diskPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in)
        throw ArcError(kArcErrReadSource, src.diskPath + ": " + ErrText(errno));
    auto size = static_cast<uint64_t>(src.st.st_size);
    const bool wide = size >= 0xFFFFFFFFull;
    p.size = size;
    p.method = "-lh5-";
    progress.Send(ARCEXTRACT_BEGIN, p);
    auto placeholder = lha::BuildLevel2Header(ne, lha::Method::Lh5, 0, 0, 0, wide);
    WriteAll(fd, placeholder.data(), placeholder.size(), kArcErrWriteArchive, what);
    const uint64_t dataAt = headerAt + placeholder.size();
    lha::EncodeResult r;
    lha::Method method = lha::Method::Lh5;
    if (!store && size > 0) {
        FdIn fin(in.get(), kArcErrReadSource, src.diskPath);
        ProgressIn pin(fin, progress, p);
        FdOut fout(fd, kArcErrWriteArchive, what);
        r = lha::EncodeLh5(pin, fout, size);
    }
    if (!r.compressed) {
        // Stored: start over from the beginning of the file and of the entry's data.
        method = lha::Method::Lh0;
        p.method = "-lh0-";
        p.written = 0;
        if (::ftruncate(fd, static_cast<off_t>(dataAt)) != 0 ||
            ::lseek(fd, static_cast<off_t>(dataAt), SEEK_SET) < 0 ||
            ::lseek(in.get(), 0, SEEK_SET) < 0)
            throw ArcError(kArcErrWriteArchive, what + ": " + ErrText(errno));
        FdIn fin(in.get(), kArcErrReadSource, src.diskPath);
        ProgressIn pin(fin, progress, p);
        std::vector<uint8_t> buf(64 * 1024);
        r = {};
        for (;;) {
            size_t n = pin.Read(buf.data(), buf.size());
            if (n == 0)
                break;
            r.crc = lha::Crc16(r.crc, buf.data(), n);
            WriteAll(fd, buf.data(), n, kArcErrWriteArchive, what);
            r.originalSize += n;
        }
        r.packedSize = r.originalSize;
    }
    // Nothing padded or cut: the entry holds the file as it was when it was opened, or the pack
    // fails.
    if (r.originalSize != size)
        throw ArcError(kArcErrReadSource, src.diskPath + ": the file shrank while it was read (" +
                                              std::to_string(r.originalSize) + " of " +
                                              std::to_string(size) + " bytes)");
    auto h = lha::BuildLevel2Header(ne, method, r.packedSize, r.originalSize, r.crc, wide);
    PWriteAll(fd, h.data(), h.size(), headerAt, kArcErrWriteArchive, what);
    p.compressed = r.packedSize;
    p.crc = r.crc;
    progress.Send(ARCEXTRACT_END, p);
    out.Line("added: " + src.entryName + " (" + lha::MethodId(method) + ", " +
             std::to_string(r.originalSize) + " -> " + std::to_string(r.packedSize) + ")");
}

// Copies an entry of the old archive unchanged.
void CopyEntry(int from, int to, const lha::Entry &e, Progress &progress) {
    ProgressEntry p = ProgressFor(e, e.name, e.name);
    progress.Send(ARCEXTRACT_COPY, p);
    uint64_t left = e.headerSize + e.packedSize;
    uint64_t at = e.headerOffset;
    std::vector<uint8_t> buf(64 * 1024);
    while (left > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(left, buf.size()));
        ssize_t n = PReadFully(from, buf.data(), want, at);
        if (n <= 0)
            throw ArcError(kArcErrDamaged, e.name + ": the archive ends inside the entry");
        WriteAll(to, buf.data(), static_cast<size_t>(n), kArcErrWriteArchive, "the archive");
        left -= static_cast<uint64_t>(n);
        at += static_cast<uint64_t>(n);
    }
}

bool FileExists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// u, f and d: the archive is rewritten into a temporary file that replaces it when complete.
int Rewrite(const Options &o, HWND hwnd, OutputBuffer &out, char command) {
    const std::string &path = o.cl.archive;
    std::vector<lha::Entry> old;
    UniqueFd oldFd;
    struct stat ast {};
    const bool exists = ::stat(path.c_str(), &ast) == 0;
    if (exists && S_ISREG(ast.st_mode) && ast.st_size == 0) {
        // An empty file (made beforehand by the caller) is an empty archive.
        if (command != 'u')
            throw ArcError(kArcErrNotArchive, path + ": empty file");
    } else if (FileExists(path)) {
        old = ReadAll(path);
        oldFd = OpenArchiveFile(path);
    } else if (command != 'u') {
        throw ArcError(kArcErrArchiveNotFound, path + ": no such archive");
    }
    int worst = 0;
    std::vector<SourceFile> sources;
    std::vector<bool> drop(old.size(), false);
    std::map<std::string, size_t> byName; // stored name -> index in old
    for (size_t i = 0; i < old.size(); ++i)
        byName[old[i].name] = i;
    std::map<size_t, SourceFile> replace; // index in old -> new source
    std::vector<SourceFile> append;
    if (command == 'd') {
        if (o.cl.files.empty())
            throw ArcError(kArcErrNoFiles, "no entry named for deletion");
        Selection sel = MakeSelection(o);
        size_t n = 0;
        for (size_t i = 0; i < old.size(); ++i)
            if (sel.Matches(old[i].isDir ? old[i].name + "/" : old[i].name)) {
                drop[i] = true;
                ++n;
                out.Line("deleted: " + old[i].name);
            }
        if (n == 0) {
            out.Line("no entry matched");
            return kArcErrNoFiles;
        }
    } else {
        sources = CollectFiles(o, exists ? &ast : nullptr, out, worst);
        for (auto &s : sources) {
            auto it = byName.find(s.entryName);
            if (it == byName.end()) {
                if (command == 'u')
                    append.push_back(std::move(s));
                continue;
            }
            const lha::Entry &e = old[it->second];
            if (!o.always && s.st.st_mtime <= e.mtime) {
                out.Line("kept: " + s.entryName + " (the archive's entry is not older)");
                continue;
            }
            replace[it->second] = std::move(s);
        }
        if (replace.empty() && append.empty()) {
            // Nothing to write: the entries are up to date, or no named file exists.
            out.Line("nothing to add or replace");
            return sources.empty() ? kArcErrNoFiles : worst;
        }
    }
    Progress progress(hwnd);
    progress.Opened(path);
    AtomicFile file = AtomicFile::Create(path, kArcErrWriteArchive);
    ::fchmod(file.fd(), 0666 & ~CurrentUmask());
    for (size_t i = 0; i < old.size(); ++i) {
        if (drop[i])
            continue;
        if (auto it = replace.find(i); it != replace.end())
            WriteEntry(file.fd(), it->second, o.store, progress, out);
        else
            CopyEntry(oldFd.get(), file.fd(), old[i], progress);
    }
    for (const auto &s : append)
        WriteEntry(file.fd(), s, o.store, progress, out);
    const uint8_t end = 0; // the end-of-archive mark
    WriteAll(file.fd(), &end, 1, kArcErrWriteArchive, "the archive");
    file.Commit(true);
    return worst;
}

int List(const Options &o, OutputBuffer &out) {
    Selection sel = MakeSelection(o);
    for (const auto &e : ReadAll(o.cl.archive)) {
        std::string name = e.isDir ? e.name + "/" : e.name;
        if (!sel.Matches(name))
            continue;
        out.Line(e.methodId + " " + std::to_string(e.originalSize) + " " +
                 std::to_string(e.packedSize) + " " + name);
    }
    return 0;
}

int RunCommand(HWND hwnd, const char *line, OutputBuffer &out) {
    Options o = ParseOptions(line, false);
    const std::string &c = o.cl.command;
    if (c == "u" || c == "a")
        return Rewrite(o, hwnd, out, 'u');
    if (c == "f")
        return Rewrite(o, hwnd, out, 'f');
    if (c == "d")
        return Rewrite(o, hwnd, out, 'd');
    if (c == "x")
        return Extract(o, hwnd, out, false);
    if (c == "e") {
        o.keepPaths = false;
        return Extract(o, hwnd, out, false);
    }
    if (c == "t")
        return Extract(o, hwnd, out, true);
    if (c == "l" || c == "v")
        return List(o, out);
    if (c == "s")
        throw ArcError(kArcErrUnsupported,
                       "no self-extracting LHA archive can be made on Linux: there is no "
                       "self-extractor program for this platform");
    throw ArcError(kArcErrCommandLine, c.empty() ? "no command" : "unknown command " + c);
}

// Decodes into the caller's buffer; stops once it is full.
class BufferOut : public lha::OutStream {
public:
    BufferOut(unsigned char *buf, size_t size) : buf_(buf), size_(size) {}
    struct Full {};
    void Write(const uint8_t *p, size_t n) override {
        size_t k = std::min(n, size_ - have);
        if (k)
            std::memcpy(buf_ + have, p, k);
        have += k;
        if (k < n)
            throw Full{};
    }
    size_t have = 0;

private:
    unsigned char *buf_;
    size_t size_;
};

int ExtractMemory(HWND hwnd, const char *line, unsigned char *buffer, DWORD size, DWORD *written) {
    if (written)
        *written = 0;
    Options o = ParseOptions(line, true);
    if (!o.cl.command.empty() && o.cl.command != "x" && o.cl.command != "e")
        throw ArcError(kArcErrCommandLine, "memory extraction takes no command " + o.cl.command);
    const std::string &path = o.cl.archive;
    UniqueFd fd = OpenArchiveFile(path);
    FdIn in(fd.get(), kArcErrArchiveNotFound, path);
    lha::Reader reader(in);
    Selection sel = MakeSelection(o);
    Progress progress(hwnd);
    lha::Entry e;
    try {
        while (reader.Next(e)) {
            if (e.isDir || e.isSymlink || !sel.Matches(e.name))
                continue;
            if (!e.damage.empty())
                throw lha::LhaError(e.damage);
            if (e.method == lha::Method::Unknown)
                throw ArcError(kArcErrUnsupported, "unsupported method " + e.methodId);
            ProgressEntry p = ProgressFor(e, e.name, "");
            progress.Send(ARCEXTRACT_BEGIN, p);
            BufferOut bout(buffer, buffer ? size : 0);
            ProgressOut pout(bout, progress, p);
            bool cut = false;
            try {
                reader.Extract(pout);
            } catch (const BufferOut::Full &) {
                cut = true;
            }
            if (written)
                *written = static_cast<DWORD>(bout.have);
            progress.Send(ARCEXTRACT_END, p);
            return cut ? kArcErrBufferTooSmall : 0;
        }
    } catch (const lha::LhaError &err) {
        Damaged(path, err);
    }
    return kArcErrNoFiles;
}

// Check modes: 16 (bit 4) reads the first header only; any other mode reads every header and
// decodes every entry with its CRC.
BOOL Check(const char *archive, int mode) {
    if (!archive)
        return 0;
    UniqueFd fd(::open(archive, O_RDONLY | O_CLOEXEC));
    if (!fd)
        return 0;
    FdIn in(fd.get(), kArcErrArchiveNotFound, archive);
    lha::Reader reader(in);
    lha::Entry e;
    try {
        if (!reader.Next(e))
            return 0;
        if (mode & 16)
            return 1;
        do {
            if (!e.damage.empty() || e.method == lha::Method::Unknown)
                return 0;
            NullOut null;
            reader.Extract(null);
        } while (reader.Next(e));
    } catch (const lha::LhaError &) {
        return 0;
    }
    return 1;
}

} // namespace

#define UNLHA_EXPORT extern "C" __attribute__((visibility("default")))

UNLHA_EXPORT int Unlha(HWND hwnd, const char *cmdLine, char *output, DWORD size) {
    OutputBuffer out(output, size);
    return GuardCode(&out, [&] { return RunCommand(hwnd, cmdLine, out); });
}

UNLHA_EXPORT int UnlhaExtractMem(HWND hwnd, const char *cmdLine, unsigned char *buffer, DWORD size,
                                 void *time, WORD *attr, DWORD *written) {
    (void)time;
    if (attr)
        *attr = 0;
    return GuardCode(nullptr, [&] { return ExtractMemory(hwnd, cmdLine, buffer, size, written); });
}

UNLHA_EXPORT HARC UnlhaOpenArchive(HWND, const char *archive, DWORD) {
    return Guard<HARC>(nullptr, [&]() -> HARC {
        if (!archive)
            return nullptr;
        std::vector<EntryInfo> infos;
        for (const auto &e : ReadAll(archive))
            infos.push_back(ToInfo(e));
        return RegisterHandle(std::make_unique<ArchiveHandle>(archive, std::move(infos)));
    });
}

UNLHA_EXPORT BOOL UnlhaCheckArchive(const char *archive, int mode) {
    return Guard<BOOL>(0, [&] { return Check(archive, mode); });
}

ARCLIB_DEFINE_COMMON_EXPORTS(Unlha)
