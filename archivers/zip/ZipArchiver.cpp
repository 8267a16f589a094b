#include "archivers/zip/ZipArchiver.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/FileSystem.h"
#include "archivers/common/LibArchive.h"
#include "archivers/common/Listing.h"
#include "archivers/common/Wildcard.h"
#include "archivers/zip/ZipDialects.h"
#include "archivers/zip/ZipDirectory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace zipar {

using namespace arclib;

namespace {

void ZipSetup(archive *a) {
    // The seekable reader trusts the central directory: it finds the archive behind a stub and
    // knows the sizes of entries written with data descriptors.
    archive_read_support_format_zip_seekable(a);
}

// The names of the central directory, for what the libarchive entry does not say.
class DirIndex {
public:
    explicit DirIndex(std::vector<ZipDirEntry> entries)
        : entries_(std::move(entries)), cp932_(HasLegacyNames(entries_)) {
        for (const auto &e : entries_) {
            byName_.emplace(e.name, &e);
            byRaw_.emplace(e.rawName, &e);
        }
    }
    // An entry's name as libarchive gives its bytes, decoded as the directory decoded it.
    std::string Decode(const char *raw) const {
        const std::string bytes = raw ? raw : "";
        auto it = byRaw_.find(bytes);
        if (it != byRaw_.end()) {
            std::string name = it->second->name;
            if (!name.empty() && name.back() == '/' && (bytes.empty() || bytes.back() != '/'))
                name.pop_back(); // the caller marks folders
            return name;
        }
        return DecodeLegacyName(bytes, cp932_);
    }
    std::string DecodeLink(const char *raw) const {
        return DecodeLegacyName(raw ? raw : "", cp932_);
    }
    const ZipDirEntry *Find(const std::string &name) const {
        auto it = byName_.find(name);
        return it == byName_.end() ? nullptr : it->second;
    }
    const std::vector<ZipDirEntry> &Entries() const { return entries_; }

private:
    std::vector<ZipDirEntry> entries_;
    bool cp932_ = false;
    std::multimap<std::string, const ZipDirEntry *> byName_;
    std::multimap<std::string, const ZipDirEntry *> byRaw_;
};

// A reader over the archive's entries; none (and no reader) for an archive that is only its end
// record, which libarchive does not take for a zip.
ReadArchive OpenZipReader(const std::string &path, const DirIndex &index) {
    if (index.Entries().empty())
        return ReadArchive();
    return OpenReader(path, ZipSetup);
}

bool NextZipHeader(archive *a, archive_entry **e) {
    return a && NextHeader(a, e);
}

// The entry's name and link target decoded as the directory decodes them.
EntryInfo InfoOf(archive_entry *e, const DirIndex &index) {
    EntryInfo info = ToEntryInfo(e);
    info.name = index.Decode(archive_entry_pathname(e));
    if (archive_entry_filetype(e) == AE_IFDIR && !info.name.empty() && info.name.back() != '/')
        info.name += '/';
    if (archive_entry_filetype(e) == AE_IFLNK) {
        info.linkTarget = index.DecodeLink(archive_entry_symlink(e));
    }
    if (const ZipDirEntry *d = index.Find(info.name)) {
        info.compressedSize = d->compressedSize;
        info.crc = d->crc;
        info.method = MethodText(d->method, d->flags);
        info.osType = d->HostSystem();
    }
    return info;
}

// Reads the current entry's data; 0 at its end.
size_t ReadData(archive *a, archive_entry *e, char *buf, size_t n, const std::string &name) {
    const la_ssize_t got = archive_read_data(a, buf, n);
    if (got >= 0)
        return static_cast<size_t>(got);
    if (archive_entry_is_encrypted(e))
        throw ArcError(kArcErrPassword, name);
    ThrowDamagedData(a, name);
}

// The data of the current entry, never more than the size the directory declares: a lying size
// cannot fill the disk, and less than it is damage too.
class EntryData {
public:
    EntryData(archive *a, archive_entry *e, const EntryInfo &info) : a_(a), e_(e), info_(info) {}
    // Reads up to n bytes; 0 at the entry's end.
    size_t Read(char *buf, size_t n) {
        const size_t got = ReadData(a_, e_, buf, n, info_.name);
        total_ += got;
        CheckEntryLength(info_, total_, got == 0 && n > 0);
        return got;
    }

private:
    archive *a_;
    archive_entry *e_;
    const EntryInfo &info_;
    uint64_t total_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Extraction and testing

class Unzipper {
public:
    Unzipper(const UnzipCommand &cmd, Progress &progress, OutputBuffer &out)
        : cmd_(cmd), progress_(progress), out_(out) {}

    int Run() {
        DirIndex index(ReadZipDirectory(cmd_.line.archive));
        const ZipSelector select(cmd_.line.files);
        ScopedUtf8Locale utf8;
        ReadArchive a = OpenZipReader(cmd_.line.archive, index);
        if (cmd_.sw.test)
            return TestAll(a.get(), index, select);
        ExtractOptions opt;
        std::string root = cmd_.line.directory;
        while (root.size() > 1 && root.back() == '/')
            root.pop_back();
        opt.destination = root.empty() ? "." : root;
        opt.keepFolders = !cmd_.sw.junkPaths;
        opt.overwrite = cmd_.sw.overwrite ? Overwrite::Replace : Overwrite::Skip;
        opt.continueAfterDamage = true; // each entry is reached through the directory
        ExtractionRun run(opt, progress_, out_);
        progress_.Opened(cmd_.line.archive);
        archive_entry *e = nullptr;
        while (NextZipHeader(a.get(), &e)) {
            const EntryInfo info = InfoOf(e, index);
            if (!select.Matches(info.name))
                continue;
            LibArchiveBytes bytes(a.get(), e, info.name);
            run.Add(info, bytes);
        }
        return run.Finish(!select.All());
    }

private:
    int TestAll(archive *a, const DirIndex &index, const ZipSelector &select) {
        progress_.Opened(cmd_.line.archive);
        int worst = kArcOk;
        size_t files = 0, done = 0;
        archive_entry *e = nullptr;
        while (NextZipHeader(a, &e)) {
            const EntryInfo info = InfoOf(e, index);
            if (!select.Matches(info.name) || info.IsDirectory())
                continue;
            ++files;
            try {
                Test(a, e, info);
                ++done;
            } catch (const ArcError &err) {
                if (err.code() == kArcErrUserCancel)
                    throw;
                out_.Line(err.what());
                Worst(worst, err.code());
            }
        }
        if (files == 0 && !select.All()) {
            out_.Line("no entry matched");
            return kArcErrNoFiles;
        }
        out_.Line("tested: " + std::to_string(done) + " of " + std::to_string(files) +
                  (worst ? " (with errors)" : ""));
        return worst;
    }

    void Test(archive *a, archive_entry *e, const EntryInfo &info) {
        if (info.encrypted)
            throw ArcError(kArcErrPassword, info.name);
        if (archive_entry_filetype(e) == AE_IFLNK) {
            out_.Line("OK: " + info.name);
            return;
        }
        ProgressEntry p = ProgressFor(info, info.name, info.name);
        progress_.Send(ARCEXTRACT_BEGIN, p);
        std::vector<char> buf(kBlockSize);
        EntryData data(a, e, info);
        while (const size_t n = data.Read(buf.data(), buf.size())) {
            p.written += n;
            progress_.Send(ARCEXTRACT_INPROCESS, p);
        }
        progress_.Send(ARCEXTRACT_END, p);
        out_.Line("OK: " + info.name);
    }

    const UnzipCommand &cmd_;
    Progress &progress_;
    OutputBuffer &out_;
};

// ---------------------------------------------------------------------------------------------
// Packing

struct Source {
    std::string disk;
    std::string entry; // folders end in '/'
    bool folder = false;
    int64_t mtime = 0;
};

// What becomes of each entry of the old archive.
struct Plan {
    std::map<std::string, const Source *> replace; // entry name -> new content
    std::set<std::string> remove;
    std::vector<const Source *> append;
    std::set<std::string> unreadable; // -F: entries of the old archive that cannot be read
    bool oldCutShort = false;         // -F: headers after a broken one are lost
    bool Changes() const {
        return !replace.empty() || !remove.empty() || !append.empty() || !unreadable.empty() ||
               oldCutShort;
    }
};

// -F: which entries of the old archive read back cleanly.
void FindUnreadable(const std::string &path, Plan &plan, OutputBuffer &out) {
    const DirIndex index({});
    ReadArchive a = OpenReader(path, ZipSetup);
    archive_entry *e = nullptr;
    std::vector<char> buf(kBlockSize);
    for (;;) {
        try {
            if (!NextHeader(a.get(), &e))
                return;
        } catch (const ArcError &err) {
            out.Line(std::string("dropped: the rest of the old archive (") + err.what() + ")");
            plan.oldCutShort = true;
            return;
        }
        const EntryInfo info = InfoOf(e, index);
        const std::string &name = info.name;
        try {
            EntryData data(a.get(), e, info);
            while (data.Read(buf.data(), buf.size()) != 0) {
            }
        } catch (const ArcError &err) {
            out.Line(std::string("dropped: ") + err.what());
            plan.unreadable.insert(name);
        }
    }
}

class Packer {
public:
    Packer(const ZipCommand &cmd, Progress &progress, OutputBuffer &out)
        : cmd_(cmd), sw_(cmd.sw), progress_(progress), out_(out), path_(cmd.line.archive) {}

    int Run() {
        struct stat st {};
        const bool exists = ::stat(path_.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode))
            throw ArcError(kArcErrWriteArchive, path_ + " is not a file");
        std::optional<DirIndex> old;
        if (exists) // a file that is not a zip file is never overwritten
            old.emplace(ReadZipDirectory(path_));
        else if (sw_.remove || sw_.freshen)
            throw ArcError(kArcErrArchiveNotFound, path_);
        const DirIndex none({});
        const DirIndex &index = old ? *old : none;

        Plan plan;
        if (sw_.remove) {
            if (cmd_.line.files.empty())
                throw ArcError(kArcErrCommandLine, "no entry names to delete");
            const ZipSelector select(cmd_.line.files);
            for (const auto &e : index.Entries())
                if (select.Matches(e.name))
                    plan.remove.insert(e.name);
            if (plan.remove.empty()) {
                out_.Line("no entry matched");
                return kArcErrNoFiles;
            }
        } else {
            Collect(exists ? &st : nullptr, index);
            for (const auto &s : sources_) {
                const ZipDirEntry *e = index.Find(s.entry);
                if (!e) {
                    if (!sw_.freshen)
                        plan.append.push_back(&s);
                } else if (!s.folder &&
                           (!(sw_.update || sw_.freshen) || s.mtime > e->ModificationTime() + 1)) {
                    plan.replace.emplace(s.entry, &s);
                }
            }
        }
        if (sw_.fix && exists)
            FindUnreadable(path_, plan, out_);
        if (!plan.Changes()) {
            if (!exists) { // nothing at all to store: no empty archive is made
                out_.Line("nothing to do");
                return kArcErrNoFiles;
            }
            if (!sw_.quiet)
                out_.Line("nothing to do: the archive is up to date");
            return kArcOk;
        }
        Write(exists, st, index, plan);
        return kArcOk;
    }

private:
    void Collect(const struct stat *self, const DirIndex &index) {
        CollectOptions co;
        co.baseDir = cmd_.line.directory;
        co.keepFolders = !sw_.junkPaths;
        co.folderEntries = !sw_.noFolderEntries && !sw_.junkPaths;
        co.recurseFolders = sw_.recurse;
        co.masksInFolders = true;
        co.brackets = true;
        co.hidden = sw_.hidden;
        if (self) { // never the archive into itself
            co.skipDev = self->st_dev;
            co.skipIno = self->st_ino;
        }
        std::vector<std::string> names = cmd_.line.files;
        const bool everyEntry = sw_.freshen && names.empty();
        if (everyEntry) // freshen with no names: every entry, from the base folder
            for (const auto &e : index.Entries())
                if (!e.IsDirectory())
                    names.push_back(e.name);
        Collection c = arclib::Collect(names, co, out_);
        if (!everyEntry) {
            // Names that match nothing are reported; the pack fails only when nothing at all
            // matched, as in every library of ours.
            if (!sw_.freshen)
                for (const auto &u : c.unmatched)
                    out_.Line("name not matched: " + u.argument);
            if (cmd_.line.files.empty())
                throw ArcError(kArcErrNoFiles, "no file names given");
            if (!sw_.freshen && c.unmatched.size() == cmd_.line.files.size())
                throw ArcError(kArcErrNoFiles, c.unmatched.front().argument);
        }
        for (auto &f : c.files) {
            const bool folder = f.IsFolder();
            sources_.push_back({f.diskPath, folder ? f.entryName + "/" : f.entryName, folder,
                                static_cast<int64_t>(f.st.st_mtime)});
        }
    }

    void Compression(archive *w, bool store) {
        Check(w,
              store ? archive_write_zip_set_compression_store(w)
                    : archive_write_zip_set_compression_deflate(w),
              kArcErrWriteArchive, "compression");
    }

    void Note(const char *verb, const std::string &name, uint64_t size = 0) {
        if (sw_.quiet)
            return;
        std::string line = std::string(verb) + ": " + name;
        if (sw_.verbose && size)
            line += " (" + std::to_string(size) + " bytes)";
        out_.Line(line);
    }

    void WriteSource(archive *w, const Source &s) {
        Compression(w, sw_.level == 0);
        std::string entry = s.entry;
        if (s.folder)
            entry.pop_back();
        struct stat st {};
        const uint64_t size = ::stat(s.disk.c_str(), &st) == 0 && S_ISREG(st.st_mode)
                                  ? static_cast<uint64_t>(st.st_size)
                                  : 0;
        WriteFromDisk(w, SourceFile{s.disk, entry}, progress_, out_);
        newest_ = std::max(newest_, s.mtime);
        Note(written_.count(s.entry) ? "updating" : "adding", s.entry, size);
    }

    void Write(bool exists, const struct stat &old, const DirIndex &index, const Plan &plan) {
        AtomicFile file = AtomicFile::Create(path_, kArcErrWriteArchive);
        ScopedUtf8Locale utf8;
        WriteArchive w(archive_write_new());
        if (!w)
            throw std::bad_alloc();
        Check(w.get(), archive_write_set_format_zip(w.get()), kArcErrWriteArchive, path_);
        if (sw_.level >= 1) {
            const std::string level = "zip:compression-level=" + std::to_string(sw_.level);
            Check(w.get(), archive_write_set_options(w.get(), level.c_str()), kArcErrWriteArchive,
                  path_);
        }
        Check(w.get(), archive_write_set_bytes_per_block(w.get(), 0), kArcErrWriteArchive, path_);
        Check(w.get(), archive_write_open_fd(w.get(), file.fd()), kArcErrWriteArchive, path_);
        progress_.Opened(path_);
        if (exists)
            CopyOld(w.get(), index, plan);
        for (const Source *s : plan.append)
            WriteSource(w.get(), *s);
        Check(w.get(), archive_write_close(w.get()), kArcErrWriteArchive, path_);
        if (exists)
            ::fchmod(file.fd(), old.st_mode & 07777);
        else
            ::fchmod(file.fd(), 0666 & ~CurrentUmask());
        if (sw_.archiveTimeLatest && newest_ > 0) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(newest_), 0}};
            ::futimens(file.fd(), times);
        }
        file.Commit(true);
    }

    void CopyOld(archive *w, const DirIndex &index, const Plan &plan) {
        ReadArchive r = OpenZipReader(path_, index);
        archive_entry *e = nullptr;
        std::set<std::string> done;
        for (;;) {
            try {
                if (!NextZipHeader(r.get(), &e))
                    break;
            } catch (const ArcError &) {
                if (plan.oldCutShort)
                    break;
                throw;
            }
            const EntryInfo info = InfoOf(e, index);
            if (plan.remove.count(info.name)) {
                Note("deleting", info.name);
                continue;
            }
            if (plan.unreadable.count(info.name))
                continue;
            if (auto it = plan.replace.find(info.name); it != plan.replace.end()) {
                if (done.insert(info.name).second) {
                    written_.insert(info.name);
                    WriteSource(w, *it->second);
                }
                continue;
            }
            if (archive_entry_is_encrypted(e))
                throw ArcError(kArcErrPassword,
                               info.name + ": an encrypted entry cannot be copied");
            // Names go in as UTF-8 whatever the old archive used.
            SetEntryName(e, info.name);
            if (!info.linkTarget.empty())
                SetLinkTarget(e, info.linkTarget);
            const ZipDirEntry *d = index.Find(info.name);
            Compression(w, d ? d->method == 0 : sw_.level == 0);
            CopyOldEntry(r.get(), e, w, info);
            newest_ = std::max<int64_t>(newest_, info.mtime);
        }
    }

    // Copies the current entry of r into w. Any failure to read its data, a bad CRC included,
    // ends the run: a rewritten archive never carries damaged data on as if it were sound.
    void CopyOldEntry(archive *r, archive_entry *e, archive *w, const EntryInfo &info) {
        ProgressEntry p = ProgressFor(info, info.name, info.name);
        progress_.Send(ARCEXTRACT_COPY, p);
        WriteHeader(w, e, info.name, info.linkTarget);
        std::vector<char> buf(kBlockSize);
        EntryData data(r, e, info);
        while (const size_t n = data.Read(buf.data(), buf.size())) {
            if (archive_write_data(w, buf.data(), n) < 0)
                Check(w, ARCHIVE_FATAL, kArcErrWriteArchive, info.name);
        }
        Check(w, archive_write_finish_entry(w), kArcErrWriteArchive, info.name);
    }

    const ZipCommand &cmd_;
    const ZipSwitches &sw_;
    Progress &progress_;
    OutputBuffer &out_;
    std::string path_;
    std::vector<Source> sources_;
    std::set<std::string> written_;
    int64_t newest_ = 0;
};

EntryInfo ListingInfo(const ZipDirEntry &d) {
    EntryInfo info;
    info.name = d.name;
    info.size = d.size;
    info.compressedSize = d.compressedSize;
    info.crc = d.crc;
    uint32_t mode = d.UnixMode();
    if ((mode & S_IFMT) == 0) {
        const uint32_t perms = mode & 07777                 ? mode & 07777
                               : d.IsDirectory()            ? 0755
                               : (d.externalAttributes & 1) ? 0444
                                                            : 0644;
        mode = (d.IsDirectory() ? S_IFDIR : S_IFREG) | perms;
    }
    info.mode = mode;
    info.mtime = d.ModificationTime();
    if (d.atime) {
        info.hasAtime = true;
        info.atime = *d.atime;
    }
    if (d.ctime) {
        info.hasCtime = true;
        info.ctime = *d.ctime;
    }
    info.osType = d.HostSystem();
    info.method = MethodText(d.method, d.flags);
    return info;
}

} // namespace

int RunZip(const std::string &commandLine, Progress &progress, OutputBuffer &out) {
    const ZipCommand cmd = ParseZipCommand(commandLine);
    if (!cmd.sfxTarget.empty()) {
        const uint64_t shift = AdjustSelfExtractorOffsets(cmd.sfxTarget);
        out.Line(shift ? "adjusted offsets by " + std::to_string(shift) + " bytes"
                       : "offsets already right");
        return kArcOk;
    }
    return Packer(cmd, progress, out).Run();
}

int RunUnzip(const std::string &commandLine, Progress &progress, OutputBuffer &out) {
    const UnzipCommand cmd = ParseUnzipCommand(commandLine);
    return Unzipper(cmd, progress, out).Run();
}

int RunExtractMem(const std::string &commandLine, unsigned char *buffer, DWORD size, DWORD *written,
                  uint32_t *unixTime, WORD *attributes, Progress &progress) {
    if (written)
        *written = 0;
    UnzipCommand cmd = ParseUnzipCommand(commandLine);
    // No directory here: a name ending in '/' after the archive is the entry's.
    if (!cmd.line.directory.empty()) {
        cmd.line.files.insert(cmd.line.files.begin(), cmd.line.directory);
        cmd.line.directory.clear();
    }
    if (cmd.line.files.empty())
        throw ArcError(kArcErrCommandLine, "no entry name");
    if (!buffer)
        size = 0;
    DirIndex index(ReadZipDirectory(cmd.line.archive));
    const ZipSelector select(cmd.line.files);
    ScopedUtf8Locale utf8;
    ReadArchive a = OpenZipReader(cmd.line.archive, index);
    archive_entry *e = nullptr;
    while (NextZipHeader(a.get(), &e)) {
        const EntryInfo info = InfoOf(e, index);
        if (info.IsDirectory() || !select.Matches(info.name))
            continue;
        if (archive_entry_is_encrypted(e))
            throw ArcError(kArcErrPassword, info.name);
        ProgressEntry p = ProgressFor(info, info.name, info.name);
        progress.Send(ARCEXTRACT_BEGIN, p);
        size_t total = 0;
        char *dst = reinterpret_cast<char *>(buffer);
        EntryData data(a.get(), e, info);
        while (total < size) {
            const size_t n = data.Read(dst + total, size - total);
            if (n == 0)
                break;
            total += n;
            p.written = total;
            progress.Send(ARCEXTRACT_INPROCESS, p);
        }
        if (written)
            *written = static_cast<DWORD>(total);
        if (unixTime)
            *unixTime = static_cast<uint32_t>(info.mtime);
        if (attributes)
            *attributes = static_cast<WORD>(0x20 | ((info.mode & 0222) ? 0 : 0x01));
        // Never more than the caller's buffer: one byte more tells whether the entry fitted.
        char probe = 0;
        if (total == size && data.Read(&probe, 1) != 0)
            return kArcErrBufferTooSmall;
        progress.Send(ARCEXTRACT_END, p);
        return kArcOk;
    }
    return kArcErrNoFiles;
}

BOOL CheckZip(const std::string &path, int mode) {
    DirIndex index(ReadZipDirectory(path));
    ScopedUtf8Locale utf8;
    ReadArchive a = OpenZipReader(path, index);
    archive_entry *e = nullptr;
    std::vector<char> buf(kBlockSize);
    const bool fullCrc = (mode & 3) == 2;
    while (NextZipHeader(a.get(), &e)) {
        if (!fullCrc || archive_entry_is_encrypted(e))
            continue;
        const EntryInfo info = InfoOf(e, index);
        EntryData data(a.get(), e, info);
        while (data.Read(buf.data(), buf.size()) != 0) {
        }
    }
    return 1;
}

HARC OpenZip(const std::string &path) {
    std::vector<EntryInfo> entries;
    for (const auto &d : ReadZipDirectory(path))
        entries.push_back(ListingInfo(d));
    return RegisterHandle(std::make_unique<ArchiveHandle>(path, std::move(entries)));
}

} // namespace zipar
