#include "archivers/common/LibArchive.h"

#include "archivers/common/ArcErrors.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

// Writing archives: entries from disk or copied from another archive, the files to pack, and the
// archive file replaced in one step.
namespace arclib {

void WriteHeader(archive *w, archive_entry *e, const std::string &name, const std::string &link) {
    // The zip writer sets its UTF-8 flag by the locale: bytes that are not UTF-8 must not get it.
    std::optional<ScopedLocale> raw;
    if (!platform::IsValidUtf8(name) || !platform::IsValidUtf8(link))
        raw.emplace("C");
    Check(w, archive_write_header(w, e), kArcErrWriteArchive, name);
}

void WriteFromDisk(archive *w, const SourceFile &src, Progress &progress, OutputBuffer &out) {
    struct stat st {};
    if (::lstat(src.diskPath.c_str(), &st) != 0)
        throw ArcError(kArcErrReadSource, src.diskPath + ": " + std::strerror(errno));
    EntryPtr e(archive_entry_new());
    if (!e)
        throw std::bad_alloc();
    UniqueFd fd;
    std::string linkTarget;
    if (S_ISREG(st.st_mode)) {
        fd = UniqueFd(::open(src.diskPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd || ::fstat(fd.get(), &st) != 0)
            throw ArcError(kArcErrReadSource, src.diskPath + ": " + std::strerror(errno));
    } else if (S_ISLNK(st.st_mode)) {
        std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        ssize_t n = ::readlink(src.diskPath.c_str(), buf.data(), buf.size() - 1);
        if (n < 0)
            throw ArcError(kArcErrReadSource, src.diskPath + ": " + std::strerror(errno));
        linkTarget.assign(buf.data(), static_cast<size_t>(n));
    } else if (!S_ISDIR(st.st_mode)) {
        out.Line("skipped: " + src.diskPath + " (special file)");
        return;
    }
    archive_entry_copy_stat(e.get(), &st);
    archive_entry_set_nlink(e.get(), 1);
    archive_entry_set_ino(e.get(), 0);
    archive_entry_set_dev(e.get(), 0);
    SetEntryName(e.get(), src.entryName);
    if (S_ISLNK(st.st_mode)) {
        SetLinkTarget(e.get(), linkTarget);
        archive_entry_set_size(e.get(), 0);
    } else if (S_ISDIR(st.st_mode)) {
        archive_entry_set_size(e.get(), 0);
    }
    ProgressEntry p;
    p.source = src.diskPath;
    p.destination = src.entryName;
    p.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    p.mtime = st.st_mtime;
    p.mode = st.st_mode;
    progress.Send(ARCEXTRACT_BEGIN, p);
    WriteHeader(w, e.get(), src.entryName, linkTarget);
    if (fd) {
        std::vector<char> buf(kBlockSize);
        uint64_t left = p.size;
        while (left > 0) {
            ssize_t n = ReadFully(fd.get(), buf.data(), std::min<uint64_t>(left, buf.size()));
            if (n < 0)
                throw ArcError(kArcErrReadSource, src.diskPath + ": " + std::strerror(errno));
            // A file that changes while it is read would be stored cut or padded: it fails.
            if (n == 0)
                throw ArcError(kArcErrReadSource,
                               src.diskPath + ": the file shrank while it was packed");
            if (archive_write_data(w, buf.data(), static_cast<size_t>(n)) < 0)
                Check(w, ARCHIVE_FATAL, kArcErrWriteArchive, src.entryName);
            left -= static_cast<uint64_t>(n);
            p.written = p.size - left;
            progress.Send(ARCEXTRACT_INPROCESS, p);
        }
        char probe;
        ssize_t more = ReadFully(fd.get(), &probe, 1);
        struct stat after {};
        if (more != 0 || ::fstat(fd.get(), &after) != 0 || after.st_size != st.st_size ||
            after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
            after.st_mtim.tv_nsec != st.st_mtim.tv_nsec)
            throw ArcError(kArcErrReadSource,
                           src.diskPath + ": the file changed while it was packed");
    }
    Check(w, archive_write_finish_entry(w), kArcErrWriteArchive, src.entryName);
    progress.Send(ARCEXTRACT_END, p);
}

void RequireUtf8Names(const std::vector<SourceFile> &files) {
    for (const auto &f : files)
        if (!platform::IsValidUtf8(f.entryName))
            throw ArcError(kArcErrReadSource,
                           f.diskPath + ": the name is not valid UTF-8, and this format stores "
                                        "Unicode names only");
}

void CopyEntry(archive *r, archive_entry *e, archive *w, Progress &progress) {
    EntryInfo info = ToEntryInfo(e);
    ProgressEntry p = ProgressFor(info, info.name, info.name);
    progress.Send(ARCEXTRACT_COPY, p);
    // Folders go in under their bare name, as new ones do: a writer adds what its format wants
    // (the 7z writer would keep a trailing '/' as part of the name).
    if (info.IsDirectory() && info.name.size() > 1 && info.name.back() == '/') {
        info.name.pop_back();
        SetEntryName(e, info.name);
    }
    WriteHeader(w, e, info.name, info.linkTarget);
    std::vector<char> buf(kBlockSize);
    for (;;) {
        la_ssize_t n = archive_read_data(r, buf.data(), buf.size());
        if (n == 0)
            break;
        // Any negative answer, a warning included (a bad CRC), is damaged data: copying it on
        // into the rewritten archive would hide the damage and report success.
        if (n < 0)
            Check(r, ARCHIVE_FATAL, kArcErrDamaged, info.name);
        if (archive_write_data(w, buf.data(), static_cast<size_t>(n)) < 0)
            Check(w, ARCHIVE_FATAL, kArcErrWriteArchive, info.name);
    }
    Check(w, archive_write_finish_entry(w), kArcErrWriteArchive, info.name);
}

namespace {
// libarchive's output on its way to the parallel compressor; a failure is kept to be rethrown
// as it was, rather than as libarchive's report of a failed write.
struct CompressorSink {
    ParallelCompressor *gz = nullptr;
    std::exception_ptr error;
};

la_ssize_t WriteToCompressor(archive *a, void *client, const void *buf, size_t n) {
    auto *sink = static_cast<CompressorSink *>(client);
    try {
        sink->gz->Write(buf, n);
        return static_cast<la_ssize_t>(n);
    } catch (...) {
        sink->error = std::current_exception();
        archive_set_error(a, EIO, "the archive cannot be written");
        return -1;
    }
}
} // namespace

void WriteArchiveFile(const std::string &path, const std::function<void(int fd)> &body) {
    AtomicFile file = AtomicFile::Create(path, kArcErrWriteArchive);
    struct stat old {};
    const bool replacing = ::stat(path.c_str(), &old) == 0;
    if (replacing)
        ::fchmod(file.fd(), old.st_mode & 07777);
    body(file.fd());
    // Only an old archive is at stake in a crash: its replacement reaches the disk before the
    // rename. A new archive skips the cost.
    file.Commit(true, replacing);
}

void WriteArchiveFile(const std::string &path, const std::function<void(archive *)> &setup,
                      const std::function<void(archive *)> &body, const ArchiveOutput &output) {
    WriteArchiveFile(path, [&](int fd) {
        // The compressor outlives the writer, which may still flush into it when freed.
        std::optional<ParallelCompressor> gz;
        CompressorSink sink;
        WriteArchive w(archive_write_new());
        if (!w)
            throw std::bad_alloc();
        setup(w.get());
        if (output.parallel) {
            gz.emplace(fd, output.codec, output.level);
            sink.gz = &*gz;
            // Compressed output need not be padded to whole tar blocks.
            archive_write_set_bytes_in_last_block(w.get(), 1);
            Check(w.get(),
                  archive_write_open2(w.get(), &sink, nullptr, WriteToCompressor, nullptr, nullptr),
                  kArcErrWriteArchive, path);
        } else {
            Check(w.get(), archive_write_open_fd(w.get(), fd), kArcErrWriteArchive, path);
        }
        try {
            body(w.get());
            Check(w.get(), archive_write_close(w.get()), kArcErrWriteArchive, path);
        } catch (...) {
            if (sink.error)
                std::rethrow_exception(sink.error);
            throw;
        }
        if (gz)
            gz->Finish();
    });
}

} // namespace arclib
