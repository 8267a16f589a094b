#include "archivers/common/Extract.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/LibArchive.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arclib {

ProgressEntry ProgressFor(const EntryInfo &info, const std::string &source,
                          const std::string &destination) {
    ProgressEntry p;
    p.source = source;
    p.destination = destination;
    p.size = info.size;
    p.compressed = info.compressedSize;
    p.crc = info.crc;
    p.mtime = info.mtime;
    p.mode = info.mode;
    p.method = info.method;
    return p;
}

namespace {

bool Exists(int dirFd, const std::string &leaf) {
    struct stat st {};
    return ::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string FreeName(int dirFd, const std::string &leaf) {
    size_t dot = leaf.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? leaf : leaf.substr(0, dot);
    std::string ext = dot == std::string::npos || dot == 0 ? "" : leaf.substr(dot);
    for (int n = 1;; ++n) {
        std::string candidate = stem + "_" + std::to_string(n) + ext;
        if (!Exists(dirFd, candidate))
            return candidate;
    }
}

struct Timespec2 {
    struct timespec t[2];
};

Timespec2 TimesOf(const EntryInfo &info) {
    Timespec2 ts{};
    ts.t[0].tv_nsec = UTIME_OMIT;
    ts.t[1].tv_sec = static_cast<time_t>(info.mtime);
    ts.t[1].tv_nsec = static_cast<long>(info.mtimeNs);
    if (info.hasAtime) {
        ts.t[0].tv_sec = static_cast<time_t>(info.atime);
        ts.t[0].tv_nsec = static_cast<long>(info.atimeNs);
    }
    return ts;
}

// Gives a new link its name in one step, replacing what is there: it is made under a free
// temporary name first (never one that exists, which would be somebody's file), then renamed.
template <class Make>
void PlaceLink(int dir, const std::string &leaf, const std::string &entry, Make make) {
    static std::atomic<unsigned> counter{0};
    std::string temp;
    for (int attempt = 0;; ++attempt) {
        temp = "." + leaf + ".link-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        if (make(temp.c_str()) == 0)
            break;
        if (errno != EEXIST || attempt >= 100)
            throw ArcError(kArcErrWriteFile, entry + ": " + std::strerror(errno));
    }
    if (::renameat(dir, temp.c_str(), dir, leaf.c_str()) != 0) {
        const int e = errno;
        ::unlinkat(dir, temp.c_str(), 0);
        throw ArcError(kArcErrWriteFile, entry + ": " + std::strerror(e));
    }
}

// Writes the entry's data into fd, reporting progress. Nothing past the size the header declares
// reaches the file.
void CopyDataToFd(EntryBytes &bytes, int fd, const EntryInfo &info, ProgressEntry &p,
                  Progress &progress) {
    uint64_t end = 0;
    bytes.Deliver([&](const void *block, size_t size, uint64_t offset) {
        const uint64_t blockEnd = offset + size;
        CheckEntryLength(info, blockEnd, false);
        if (!PWriteFully(fd, block, size, offset))
            throw ArcError(kArcErrWriteFile, info.name + ": " + std::strerror(errno));
        end = std::max(end, blockEnd);
        p.written = end;
        progress.Send(ARCEXTRACT_INPROCESS, p);
    });
    if (!bytes.MayEndInHole())
        CheckEntryLength(info, end, true);
    if (p.size > end && ::ftruncate(fd, static_cast<off_t>(p.size)) != 0)
        throw ArcError(kArcErrWriteFile, info.name + ": " + std::strerror(errno));
}

} // namespace

Extractor::Extractor(const ExtractOptions &opt, Progress &progress, OutputBuffer &out)
    : opt_(opt), dest_(opt.destination), progress_(progress), out_(out), umask_(CurrentUmask()) {}

int Extractor::Entry(const EntryInfo &info, EntryBytes &bytes) {
    {
        std::string rel;
        PathProblem pp = NormaliseEntryPath(info.name, rel);
        // "./" of a tar made from ".", the "/" and "//" tables of an ar archive: nothing to write.
        if (info.size == 0 && info.name.find_first_not_of("./") == std::string::npos)
            return 0;
        if (pp != PathProblem::None) {
            out_.Line("refused: " + info.name + " (" + PathProblemText(pp) + ")");
            return kArcErrUnsafePath;
        }
        const unsigned type = info.mode & S_IFMT;
        if (!opt_.keepFolders) {
            if (type == S_IFDIR)
                return 0;
            rel = SplitParent(rel).second;
        }
        if (info.encrypted) {
            out_.Line("encrypted: " + info.name);
            return kArcErrPassword;
        }
        if (type == S_IFDIR)
            return Folder(rel, info);
        if (type == S_IFLNK)
            return Symlink(rel, info);
        if (info.hardlink && info.size == 0)
            return Hardlink(rel, info.linkTarget, info);
        if (type == S_IFREG || type == 0 || info.hardlink)
            return File(bytes, rel, info);
        out_.Line("skipped: " + info.name + " (special file)");
        return kArcErrUnsupported;
    }
}

void Extractor::Finish() {
    {
        // Folder times last, after their contents stopped changing them.
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            try {
                UniqueFd fd = dest_.OpenFolder(it->first, false);
                Timespec2 ts = TimesOf(it->second);
                ::futimens(fd.get(), ts.t);
            } catch (const ArcError &) {
            }
        }
    }
}

int Extractor::Folder(const std::string &rel, const EntryInfo &info) {
    UniqueFd fd = dest_.OpenFolder(rel, true);
    if (opt_.restoreModes && (info.mode & 0777))
        ::fchmod(fd.get(), ((info.mode & 0777) & ~umask_) | S_IRWXU);
    folders_.emplace_back(rel, info);
    return 0;
}

int Extractor::Symlink(const std::string &rel, const EntryInfo &info) {
    if (!LinkStaysInside(rel, info.linkTarget)) {
        out_.Line("refused: " + info.name + " -> " + info.linkTarget +
                  " (link leading outside the destination)");
        return kArcErrUnsafePath;
    }
    auto [parent, leaf] = SplitParent(rel);
    UniqueFd dir = dest_.OpenFolder(parent, true);
    if (KeepExisting(dir.get(), leaf, info))
        return Skipped(info);
    PlaceLink(dir.get(), leaf, info.name, [&](const char *temp) {
        return ::symlinkat(info.linkTarget.c_str(), dir.get(), temp);
    });
    Done(info, rel);
    return 0;
}

int Extractor::Hardlink(const std::string &rel, const std::string &target, const EntryInfo &info) {
    std::string targetRel;
    if (NormaliseEntryPath(target, targetRel) != PathProblem::None) {
        out_.Line("refused: " + info.name + " => " + target +
                  " (link leading outside the destination)");
        return kArcErrUnsafePath;
    }
    if (!opt_.keepFolders)
        targetRel = SplitParent(targetRel).second;
    auto [tparent, tleaf] = SplitParent(targetRel);
    UniqueFd tdir = dest_.OpenFolder(tparent, false);
    struct stat st {};
    if (::fstatat(tdir.get(), tleaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode)) {
        out_.Line("refused: " + info.name + " => " + target + " (link to no extracted file)");
        return kArcErrUnsafePath;
    }
    auto [parent, leaf] = SplitParent(rel);
    UniqueFd dir = dest_.OpenFolder(parent, true);
    if (KeepExisting(dir.get(), leaf, info))
        return Skipped(info);
    // A named copy: clang 14 cannot capture a structured binding.
    const std::string &targetLeaf = tleaf;
    PlaceLink(dir.get(), leaf, info.name, [&](const char *temp) {
        return ::linkat(tdir.get(), targetLeaf.c_str(), dir.get(), temp, 0);
    });
    Done(info, rel);
    return 0;
}

int Extractor::File(EntryBytes &bytes, const std::string &rel, const EntryInfo &info) {
    auto [parent, leaf] = SplitParent(rel);
    UniqueFd dir = dest_.OpenFolder(parent, true);
    if (KeepExisting(dir.get(), leaf, info))
        return Skipped(info);
    std::string shown = parent.empty() ? leaf : parent + "/" + leaf;
    ProgressEntry p = ProgressFor(info, info.name, opt_.destination + "/" + shown);
    progress_.Send(ARCEXTRACT_BEGIN, p);
    AtomicFile file = AtomicFile::CreateAt(dir.get(), leaf, kArcErrWriteFile);
    CopyDataToFd(bytes, file.fd(), info, p, progress_);
    if (opt_.restoreModes) {
        mode_t mode = (info.mode & 0777) ? (info.mode & 0777) : 0666;
        ::fchmod(file.fd(), mode & ~umask_);
    }
    Timespec2 ts = TimesOf(info);
    ::futimens(file.fd(), ts.t);
    if (!file.Commit(opt_.overwrite == Overwrite::Replace ||
                     opt_.overwrite == Overwrite::ReplaceOlder))
        return Skipped(info);
    written_.push_back(shown);
    progress_.Send(ARCEXTRACT_END, p);
    return 0;
}

bool Extractor::KeepExisting(int dir, std::string &leaf, const EntryInfo &info) {
    struct stat st {};
    if (::fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    switch (opt_.overwrite) {
    case Overwrite::Replace:
        return false;
    case Overwrite::Skip:
        return true;
    case Overwrite::ReplaceOlder:
        return st.st_mtime >= info.mtime;
    case Overwrite::RenameNew:
        leaf = FreeName(dir, leaf);
        return false;
    }
    return false;
}

int Extractor::Skipped(const EntryInfo &info) {
    out_.Line("skipped: " + info.name +
              (opt_.overwrite == Overwrite::ReplaceOlder ? " (an existing file is not older)"
                                                         : " (exists)"));
    ++skipped_;
    return 0;
}

void Extractor::Done(const EntryInfo &info, const std::string &rel) {
    ProgressEntry p = ProgressFor(info, info.name, opt_.destination + "/" + rel);
    progress_.Send(ARCEXTRACT_BEGIN, p);
    progress_.Send(ARCEXTRACT_END, p);
}

ExtractionRun::ExtractionRun(const ExtractOptions &opt, Progress &progress, OutputBuffer &out)
    : opt_(opt), out_(out), x_(opt, progress, out) {}

void ExtractionRun::Add(const EntryInfo &info, EntryBytes &bytes) {
    // The summary counts files (and links), not the folders that hold them.
    ++matched_;
    const bool folder = info.IsDirectory();
    files_ += !folder;
    try {
        const size_t skippedBefore = x_.Skipped();
        const int r = x_.Entry(info, bytes);
        Worst(worst_, r);
        if (r == 0 && !folder && x_.Skipped() == skippedBefore)
            ++done_;
    } catch (const ArcError &err) {
        if (err.code() == kArcErrUserCancel ||
            (err.code() == kArcErrDamaged && !opt_.continueAfterDamage))
            throw;
        // A folder on the way that is a link names the folder; say which entry it cost.
        out_.Line(err.code() == kArcErrUnsafePath
                      ? "refused: " + info.name + " (" + err.detail() + ")"
                      : std::string(err.what()));
        Worst(worst_, err.code());
    }
}

void ExtractionRun::BlameWritten() {
    for (const auto &f : x_.Written())
        out_.Line("damaged: " + f + " (extracted from data that fails its checksum)");
}

int ExtractionRun::Finish(bool namesGiven) {
    x_.Finish();
    if (matched_ == 0 && namesGiven) {
        out_.Line("no entry matched");
        Worst(worst_, kArcErrNoFiles);
    }
    out_.Line(std::to_string(done_) + " of " + std::to_string(files_) + " files extracted" +
              (x_.Skipped() ? ", " + std::to_string(x_.Skipped()) + " skipped" : ""));
    return worst_;
}

} // namespace arclib
