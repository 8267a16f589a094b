#include "archivers/common/LibArchive.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/Extract.h"
#include "archivers/common/GzipStream.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace arclib {

ScopedLocale::ScopedLocale(const char *name) {
    mine_ = ::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
    if (mine_)
        previous_ = ::uselocale(mine_);
}

ScopedLocale::~ScopedLocale() {
    if (mine_) {
        ::uselocale(previous_);
        ::freelocale(mine_);
    }
}

void Check(archive *a, int r, int code, const std::string &what) {
    if (r == ARCHIVE_OK || r == ARCHIVE_WARN)
        return;
    const char *msg = a ? archive_error_string(a) : nullptr;
    throw ArcError(code, what + (msg ? std::string(": ") + msg : std::string()));
}

[[noreturn]] void ThrowDamagedData(archive *a, const std::string &name) {
    const char *msg = archive_error_string(a);
    const std::string text = msg ? msg : "";
    // libarchive says by its message what kind of failure it met.
    if (text.find("ncrypt") != std::string::npos || text.find("assphrase") != std::string::npos)
        throw ArcError(kArcErrPassword, name);
    if (text.find("Unsupported") != std::string::npos ||
        text.find("not supported") != std::string::npos)
        throw ArcError(kArcErrUnsupported, name + ": " + text);
    throw ArcError(kArcErrDamaged, name + (text.empty() ? std::string() : ": " + text));
}

LibArchiveBytes::LibArchiveBytes(archive *a, archive_entry *e, std::string name)
    : a_(a), e_(e), name_(std::move(name)) {}

void LibArchiveBytes::Deliver(const Sink &sink) {
    ReadEntryData(a_, e_, name_, [&](const void *data, size_t size, uint64_t offset) {
        sink(data, size, offset);
        return true;
    });
}

bool LibArchiveBytes::MayEndInHole() const {
    return archive_entry_sparse_count(e_) > 0;
}

void CheckEntryLength(const EntryInfo &info, uint64_t got, bool atEnd) {
    if (!info.sizeKnown)
        return;
    if (got > info.size)
        throw ArcError(kArcErrDamaged, info.name + ": more data than the " +
                                           std::to_string(info.size) +
                                           " bytes its header declares");
    if (atEnd && got < info.size)
        throw ArcError(kArcErrDamaged, info.name + ": " + std::to_string(got) + " of the " +
                                           std::to_string(info.size) +
                                           " bytes its header declares");
}

bool ReadEntryData(archive *a, archive_entry *e, const std::string &name, const BlockSink &sink) {
    // Blocks without bytes and without input read in a row: far more than any reader needs to
    // move from one block of output to the next.
    constexpr int kMaxIdleBlocks = 4096;
    const bool sized = archive_entry_size_is_set(e) && archive_entry_size(e) >= 0;
    const uint64_t declared = sized ? static_cast<uint64_t>(archive_entry_size(e)) : 0;
    la_int64_t consumed = archive_filter_bytes(a, -1);
    int idle = 0;
    for (;;) {
        const void *data = nullptr;
        size_t size = 0;
        la_int64_t at = 0;
        const int r = archive_read_data_block(a, &data, &size, &at);
        if (r == ARCHIVE_EOF)
            return true;
        if (r != ARCHIVE_OK)
            ThrowDamagedData(a, name);
        const uint64_t offset = at < 0 ? 0 : static_cast<uint64_t>(at);
        if (sized && (offset > declared || size > declared - offset))
            throw ArcError(kArcErrDamaged, name + ": more data than the " +
                                               std::to_string(declared) +
                                               " bytes its header declares");
        const la_int64_t now = archive_filter_bytes(a, -1);
        idle = size == 0 && now == consumed ? idle + 1 : 0;
        consumed = now;
        if (idle > kMaxIdleBlocks)
            throw ArcError(kArcErrDamaged, name + ": the data does not decode (no progress)");
        if (!sink(data, size, offset))
            return false;
    }
}

namespace {
// What a reader carries beside libarchive's handle. Readers that accept a lone compressed file
// (the raw format) name its one entry after the archive: "notes.txt.gz" holds "notes.txt",
// "x.tgz" holds "x.tar". A gzip file is decompressed by our own stream, which checks it.
struct ReaderState {
    std::string path;
    std::string rawName;
    std::unique_ptr<GzipStream> gzip;
    // Names in formats that record no code page are read in one code page per archive. The
    // headers of an uncompressed archive (a cheap pass: the data is skipped by seeking) or of a
    // small compressed one are read ahead for it; in a larger compressed stream the first name
    // that is not UTF-8 decides for the names after it, as reading ahead would mean
    // decompressing everything twice.
    ReaderSetup setup;
    bool namesDecided = false;
    bool namesAsStored = false; // the pass that reads ahead
    LegacyCharset charset = LegacyCharset::None;
    std::vector<std::string> volumes; // the files after the first of a multi-volume set
    HeaderFix fix;
};
std::mutex g_readersMutex;
std::map<const archive *, ReaderState> g_readers;

ReaderState *StateOf(archive *a) {
    std::lock_guard lock(g_readersMutex);
    auto it = g_readers.find(a);
    return it == g_readers.end() ? nullptr : &it->second;
}

GzipStream *GzipOf(archive *a) {
    std::lock_guard lock(g_readersMutex);
    auto it = g_readers.find(a);
    return it == g_readers.end() ? nullptr : it->second.gzip.get();
}

std::string RawEntryName(const std::string &path) {
    std::string leaf = SplitParent(path).second;
    size_t dot = leaf.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return leaf + ".out";
    std::string ext = leaf.substr(dot);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string stem = leaf.substr(0, dot);
    if (ext == ".tgz" || ext == ".taz" || ext == ".tbz" || ext == ".tbz2" || ext == ".txz")
        return stem + ".tar";
    return stem;
}

// True when the file begins as a gzip, bzip2, xz or compress stream does: a reader that fails on
// such a file has met a damaged stream rather than a file of another kind.
bool StartsWithCompressionMagic(const std::string &path) {
    unsigned char head[6] = {};
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || ::read(fd.get(), head, sizeof head) != static_cast<ssize_t>(sizeof head))
        return false;
    return (head[0] == 0x1f && (head[1] == 0x8b || head[1] == 0x9d)) ||
           (head[0] == 'B' && head[1] == 'Z' && head[2] == 'h') ||
           std::memcmp(head,
                       "\xfd"
                       "7zXZ\0",
                       6) == 0;
}
} // namespace

void ReadFree::operator()(archive *a) const {
    archive_read_free(a); // before its stream goes: closing may still read from it
    std::lock_guard lock(g_readersMutex);
    g_readers.erase(a);
}

std::string ReaderPath(archive *a) {
    ReaderState *state = StateOf(a);
    return state ? state->path : std::string();
}

void SetFollowingVolumes(archive *a, std::vector<std::string> volumes) {
    if (ReaderState *state = StateOf(a))
        state->volumes = std::move(volumes);
}

void SetHeaderFix(archive *a, HeaderFix fix) {
    if (ReaderState *state = StateOf(a))
        state->fix = std::move(fix);
}

int MainFilter(archive *a) {
    if (GzipOf(a))
        return ARCHIVE_FILTER_GZIP;
    int filter = ARCHIVE_FILTER_NONE;
    for (int i = 0; i < archive_filter_count(a); ++i)
        if (archive_filter_code(a, i) != ARCHIVE_FILTER_NONE &&
            archive_filter_code(a, i) != ARCHIVE_FILTER_RPM)
            filter = archive_filter_code(a, i);
    return filter;
}

void FinishReading(archive *a) {
    if (GzipStream *gz = GzipOf(a))
        gz->VerifyRest();
}

namespace {
ReadArchive OpenReaderAs(const std::string &path, const ReaderSetup &setup, bool namesAsStored);

// Compressed archives up to this size are read twice to learn their names' code page.
constexpr off_t kReadAheadLimit = 4 << 20;

// Formats whose headers carry names in no declared character set.
bool HasLegacyNames(archive *a) {
    switch (archive_format(a)) {
    case ARCHIVE_FORMAT_TAR:
    case ARCHIVE_FORMAT_TAR_USTAR:
    case ARCHIVE_FORMAT_TAR_GNUTAR:
        return true;
    default:
        break;
    }
    const int base = archive_format(a) & ARCHIVE_FORMAT_BASE_MASK;
    return base == ARCHIVE_FORMAT_CPIO || base == ARCHIVE_FORMAT_AR;
}

const char *RawLink(archive_entry *e) {
    const char *l = archive_entry_symlink(e);
    return l ? l : archive_entry_hardlink(e);
}

// The code page of an uncompressed archive's legacy names, from all of its headers.
LegacyCharset ReadAheadCharset(const std::string &path, const ReaderSetup &setup) {
    std::vector<std::string> names;
    try {
        ReadArchive r = OpenReaderAs(path, setup, true);
        archive_entry *e = nullptr;
        while (NextHeader(r.get(), &e)) {
            if (HasLegacyNames(r.get())) {
                if (const char *n = archive_entry_pathname(e))
                    names.emplace_back(n);
                if (const char *l = RawLink(e))
                    names.emplace_back(l);
            }
            if (archive_read_data_skip(r.get()) != ARCHIVE_OK)
                break;
        }
    } catch (const ArcError &) {
        // A damaged header ends the names there; the reading proper reports it.
    }
    return ChooseLegacyCharset(names);
}

// Gives an entry of a legacy format its name (and link) in the archive's code page.
void DecodeLegacyNames(archive *a, archive_entry *e) {
    ReaderState *state = nullptr;
    {
        std::lock_guard lock(g_readersMutex);
        auto it = g_readers.find(a);
        if (it == g_readers.end() || it->second.namesAsStored)
            return;
        state = &it->second;
    }
    if (!HasLegacyNames(a))
        return;
    const char *raw = archive_entry_pathname(e);
    const char *link = RawLink(e);
    if (!state->namesDecided) {
        struct stat st {};
        const bool small = ::stat(state->path.c_str(), &st) == 0 && st.st_size <= kReadAheadLimit;
        if (MainFilter(a) == ARCHIVE_FILTER_NONE || small) {
            state->charset = ReadAheadCharset(state->path, state->setup);
            state->namesDecided = true;
        } else if ((raw && !platform::IsValidUtf8(raw)) || (link && !platform::IsValidUtf8(link))) {
            std::vector<std::string> seen;
            if (raw)
                seen.emplace_back(raw);
            if (link)
                seen.emplace_back(link);
            state->charset = ChooseLegacyCharset(seen);
            state->namesDecided = true;
        }
    }
    if (state->charset == LegacyCharset::None)
        return;
    if (raw)
        SetEntryName(e, LegacyNameToUtf8(raw, state->charset));
    if (const char *s = archive_entry_symlink(e))
        SetLinkTarget(e, LegacyNameToUtf8(s, state->charset));
    else if (const char *h = archive_entry_hardlink(e)) {
        const std::string target = LegacyNameToUtf8(h, state->charset);
        if (platform::IsValidUtf8(target))
            archive_entry_set_hardlink_utf8(e, target.c_str());
    }
}
} // namespace

ReadArchive OpenReader(const std::string &path, const ReaderSetup &setup) {
    return OpenReaderAs(path, setup, false);
}

namespace {
ReadArchive OpenReaderAs(const std::string &path, const ReaderSetup &setup, bool namesAsStored) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw ArcError(kArcErrArchiveNotFound, path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        throw ArcError(kArcErrArchiveNotFound, path + ": is a folder");
    // A FIFO or a device would block the reader or feed it without end.
    if (!S_ISREG(st.st_mode))
        throw ArcError(kArcErrArchiveNotFound, path + ": is not a regular file");
    ReadArchive a(archive_read_new());
    if (!a)
        throw std::bad_alloc();
    ReaderState *state = nullptr;
    {
        std::lock_guard lock(g_readersMutex);
        state = &g_readers[a.get()];
        state->path = path;
        state->rawName = RawEntryName(path);
        state->setup = setup;
        state->namesAsStored = namesAsStored;
    }
    setup(a.get());
    int r;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!state->volumes.empty()) {
        fd = UniqueFd();
        std::vector<const char *> names{path.c_str()};
        for (const auto &v : state->volumes)
            names.push_back(v.c_str());
        names.push_back(nullptr);
        r = archive_read_open_filenames(a.get(), names.data(), kBlockSize);
    } else if (fd && GzipStream::LooksLikeGzip(fd.get())) {
        state->gzip = std::make_unique<GzipStream>(std::move(fd));
        r = state->gzip->Open(a.get());
    } else {
        fd = UniqueFd();
        r = archive_read_open_filename(a.get(), path.c_str(), kBlockSize);
    }
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
        int err = archive_errno(a.get());
        const char *msg = archive_error_string(a.get());
        bool compressed = StartsWithCompressionMagic(path);
        int code = (err == ENOENT || err == EACCES) ? kArcErrArchiveNotFound
                   : compressed                     ? kArcErrDamaged
                                                    : kArcErrNotArchive;
        throw ArcError(code, path + (msg ? std::string(": ") + msg : std::string()));
    }
    return a;
}
} // namespace

bool NextHeader(archive *a, archive_entry **entry) {
    int r = archive_read_next_header(a, entry);
    if (r == ARCHIVE_EOF)
        return false;
    if (r == ARCHIVE_OK || r == ARCHIVE_WARN) {
        if (archive_format(a) == ARCHIVE_FORMAT_RAW) {
            // Raw data without compression is any file at all, not an archive.
            if (MainFilter(a) == ARCHIVE_FILTER_NONE)
                throw ArcError(kArcErrNotArchive, "not an archive");
            std::lock_guard lock(g_readersMutex);
            auto it = g_readers.find(a);
            if (it != g_readers.end())
                SetEntryName(*entry, it->second.rawName);
        } else {
            DecodeLegacyNames(a, *entry);
        }
        if (ReaderState *state = StateOf(a); state && state->fix)
            state->fix(*entry);
        return true;
    }
    const char *msg = archive_error_string(a);
    if (msg && (std::strstr(msg, "ncrypt") || std::strstr(msg, "assphrase")))
        throw ArcError(kArcErrPassword, msg);
    // A reader that recognised neither a compression nor a format did not know the file at all;
    // one that did has met a damaged archive.
    bool known =
        archive_format(a) != 0 || archive_file_count(a) > 1 || MainFilter(a) != ARCHIVE_FILTER_NONE;
    int code = known ? kArcErrDamaged : kArcErrNotArchive;
    // libarchive names what it lacks ("RAR solid archive support unavailable."): no damage.
    if (known && msg && std::strstr(msg, "support unavailable"))
        code = kArcErrUnsupported;
    throw ArcError(code, msg ? msg : "bad header");
}

EntryInfo ToEntryInfo(archive_entry *e) {
    EntryInfo info;
    info.name = EntryName(e);
    info.mode = archive_entry_mode(e);
    if (archive_entry_filetype(e) == AE_IFDIR && !info.name.empty() && info.name.back() != '/')
        info.name += '/';
    info.sizeKnown = archive_entry_size_is_set(e) && archive_entry_size(e) >= 0;
    info.size = info.sizeKnown ? static_cast<uint64_t>(archive_entry_size(e)) : 0;
    if (archive_entry_mtime_is_set(e)) {
        info.mtime = archive_entry_mtime(e);
        info.mtimeNs = archive_entry_mtime_nsec(e);
    }
    if (archive_entry_birthtime_is_set(e)) {
        info.hasCtime = true;
        info.ctime = archive_entry_birthtime(e);
        info.ctimeNs = archive_entry_birthtime_nsec(e);
    }
    if (archive_entry_atime_is_set(e)) {
        info.hasAtime = true;
        info.atime = archive_entry_atime(e);
        info.atimeNs = archive_entry_atime_nsec(e);
    }
    info.linkTarget = LinkTarget(e);
    info.hardlink = archive_entry_hardlink(e) != nullptr;
    info.encrypted = archive_entry_is_encrypted(e);
    return info;
}

std::vector<EntryInfo> ReadEntries(const std::string &path, const ReaderSetup &setup) {
    ScopedUtf8Locale utf8;
    ReadArchive a = OpenReader(path, setup);
    std::vector<EntryInfo> entries;
    archive_entry *e = nullptr;
    while (NextHeader(a.get(), &e)) {
        entries.push_back(ToEntryInfo(e));
        Check(a.get(), archive_read_data_skip(a.get()), kArcErrDamaged, entries.back().name);
    }
    return entries;
}

namespace {

// Passes over the data of an entry that is not wanted. In a solid 7z block libarchive 3.6 cannot
// read an entry after skipping the one before it, so there the data is read through instead. A
// lone compressed file is read through too: its skip does not decompress, so damage (or a tar
// whose header could not be decompressed) would pass unseen.
void PassOver(archive *a, const std::string &name) {
    const int format = archive_format(a) & ARCHIVE_FORMAT_BASE_MASK;
    if (format != ARCHIVE_FORMAT_7ZIP && format != ARCHIVE_FORMAT_RAW)
        return; // the next header skips the data
    const void *block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    int r;
    while ((r = archive_read_data_block(a, &block, &size, &offset)) == ARCHIVE_OK ||
           r == ARCHIVE_WARN) {
    }
    if (r != ARCHIVE_EOF)
        Check(a, r, kArcErrDamaged, name);
}

bool Selected(const EntrySelector &select, const EntrySelector &exclude, const std::string &name) {
    return select.Matches(name) && (exclude.Empty() || !exclude.Matches(name));
}

} // namespace

int ExtractEntries(const std::string &path, const ReaderSetup &setup, const ExtractOptions &opt,
                   Progress &progress, OutputBuffer &out) {
    ScopedUtf8Locale utf8;
    ReadArchive a = OpenReader(path, setup);
    ExtractionRun run(opt, progress, out);
    progress.Opened(path);
    archive_entry *e = nullptr;
    while (NextHeader(a.get(), &e)) {
        EntryInfo info = ToEntryInfo(e);
        if (!Selected(opt.select, opt.exclude, info.name)) {
            PassOver(a.get(), info.name);
            continue;
        }
        LibArchiveBytes bytes(a.get(), e, info.name);
        run.Add(info, bytes);
    }
    try {
        FinishReading(a.get());
    } catch (const ArcError &) {
        // The stream's checksum covers all of it and is read last: name what came from it.
        run.BlameWritten();
        throw;
    }
    return run.Finish(!opt.select.Empty());
}

BOOL CheckArchiveFile(const char *archive, int mode, const ReaderSetup &setup) {
    if (!archive)
        return 0;
    struct stat st {};
    if (::stat(archive, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
        return 0;
    ScopedUtf8Locale utf8;
    if (mode & 2) {
        OutputBuffer none(nullptr, 0);
        Progress quiet(nullptr);
        return TestEntries(archive, setup, EntrySelector(), quiet, none) == 0;
    }
    ReadEntries(archive, setup);
    return 1;
}

int TestEntries(const std::string &path, const ReaderSetup &setup, const EntrySelector &select,
                Progress &progress, OutputBuffer &out) {
    ScopedUtf8Locale utf8;
    ReadArchive a = OpenReader(path, setup);
    progress.Opened(path);
    int worst = 0;
    size_t count = 0;
    archive_entry *e = nullptr;
    while (NextHeader(a.get(), &e)) {
        EntryInfo info = ToEntryInfo(e);
        if (!select.Matches(info.name)) {
            PassOver(a.get(), info.name);
            continue;
        }
        ++count;
        // Folders and links have no data to check (RAR 5 refuses to read a folder's).
        if (info.IsDirectory() || (info.mode & S_IFMT) == S_IFLNK)
            continue;
        if (archive_entry_is_encrypted(e)) {
            out.Line("encrypted: " + info.name);
            Worst(worst, kArcErrPassword);
            continue;
        }
        ProgressEntry p = ProgressFor(info, info.name, "");
        progress.Send(ARCEXTRACT_BEGIN, p);
        try {
            ReadEntryData(a.get(), e, info.name, [&](const void *, size_t size, uint64_t offset) {
                p.written = std::max<uint64_t>(p.written, offset + size);
                CheckEntryLength(info, p.written, false);
                progress.Send(ARCEXTRACT_INPROCESS, p);
                return true;
            });
            if (archive_entry_sparse_count(e) == 0)
                CheckEntryLength(info, p.written, true);
        } catch (const ArcError &err) {
            if (err.code() != kArcErrDamaged)
                throw;
            out.Line("damaged: " + err.detail());
            return kArcErrDamaged;
        }
        progress.Send(ARCEXTRACT_END, p);
    }
    try {
        FinishReading(a.get());
    } catch (const ArcError &err) {
        out.Line("damaged: " + path + " (" + err.detail() + ")");
        return kArcErrDamaged;
    }
    out.Line(std::to_string(count) + " entries tested" + (worst ? "" : ", no errors"));
    return worst;
}

int ExtractToMemory(const std::string &path, const ReaderSetup &setup, const EntrySelector &select,
                    unsigned char *buffer, size_t size, DWORD *written, Progress &progress) {
    ScopedUtf8Locale utf8;
    if (written)
        *written = 0;
    ReadArchive a = OpenReader(path, setup);
    archive_entry *e = nullptr;
    while (NextHeader(a.get(), &e)) {
        EntryInfo info = ToEntryInfo(e);
        if (info.IsDirectory() || !select.Matches(info.name)) {
            PassOver(a.get(), info.name);
            continue;
        }
        if (archive_entry_is_encrypted(e))
            throw ArcError(kArcErrPassword, info.name);
        ProgressEntry p = ProgressFor(info, info.name, "");
        progress.Send(ARCEXTRACT_BEGIN, p);
        // Holes of a sparse entry read as zeros; what would not fit ends the reading.
        size_t have = 0;
        bool cut = false;
        ReadEntryData(a.get(), e, info.name, [&](const void *data, size_t n, uint64_t offset) {
            if (offset > have && have < size)
                std::memset(buffer + have, 0,
                            static_cast<size_t>(std::min<uint64_t>(offset, size)) - have);
            if (offset + n > size) {
                if (offset < size)
                    std::memcpy(buffer + offset, data, size - static_cast<size_t>(offset));
                have = size;
                cut = true;
                return false;
            }
            if (n > 0)
                std::memcpy(buffer + offset, data, n);
            have = std::max(have, static_cast<size_t>(offset + n));
            CheckEntryLength(info, have, false);
            p.written = have;
            progress.Send(ARCEXTRACT_INPROCESS, p);
            return true;
        });
        if (!cut && info.sizeKnown && have < info.size && archive_entry_sparse_count(e) > 0) {
            // A sparse entry may end in a hole.
            const size_t end = static_cast<size_t>(std::min<uint64_t>(info.size, size));
            std::memset(buffer + have, 0, end - have);
            have = end;
            cut = info.size > size;
        }
        if (!cut && archive_entry_sparse_count(e) == 0)
            CheckEntryLength(info, have, true);
        if (!cut) // the rest of a checked stream must hold too before the data counts as good
            FinishReading(a.get());
        if (written)
            *written = ClampToDword(have);
        progress.Send(ARCEXTRACT_END, p);
        return cut ? kArcErrBufferTooSmall : 0;
    }
    return kArcErrNoFiles;
}

} // namespace arclib
