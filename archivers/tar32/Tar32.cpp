// libtar32.so: the TAR32 library of the archiver interface over libarchive, prefix "Tar".
// Reads the command lines of the tar back-end: c (pack), x (extract), t (test), d (delete), r and
// u (add to an existing archive), l (list); switches -f, -o, -z/-B/-J/-Z with levels,
// --use-directory=, --check-all-path=. docs/archivers.md describes each.
#include "archiver_api.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/CommandLine.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/LibArchive.h"
#include "archivers/common/LibArchiveDriver.h"
#include "archivers/common/Listing.h"
#include "archivers/common/ParallelCompress.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unordered_set>

using namespace arclib;

namespace {

enum class Compression { FromName, None, Gzip, Bzip2, Xz, Compress };

struct TarSwitches {
    Compression compression = Compression::FromName;
    int level = -1;             // -1: the filter's default
    bool keepFolders = true;    // --use-directory=
    bool wholeNameOnly = false; // --check-all-path=
    bool gnuFormat = false;     // -g
    bool hidden = false;        // -AH: hidden files in folders and masks too (-I: not)
};

CommandLine ParseTar(const char *line) {
    CommandLineRules rules;
    rules.commands = {"c", "x", "t", "d", "r", "u", "l", "e"};
    rules.separateValueSwitches = {"-f", "-o", "-C"};
    rules.archiveIsFirstArgument = false;
    rules.quotedSwitches = false;
    return ParseCommandLine(line ? line : "", rules);
}

int NumberAfter(const std::string &text, size_t at, int fallback) {
    if (at >= text.size())
        return fallback;
    try {
        return std::stoi(text.substr(at));
    } catch (...) {
        return fallback;
    }
}

TarSwitches ReadSwitches(const CommandLine &cl) {
    TarSwitches s;
    for (const Switch &sw : cl.switches) {
        const std::string &t = sw.text;
        if (t.rfind("--use-directory=", 0) == 0)
            s.keepFolders = NumberAfter(t, 16, 1) != 0;
        else if (t.rfind("--check-all-path=", 0) == 0)
            s.wholeNameOnly = NumberAfter(t, 17, 0) != 0;
        else if (t == "--xz")
            s.compression = Compression::Xz;
        else if (t == "--gzip")
            s.compression = Compression::Gzip;
        else if (t == "--bzip2")
            s.compression = Compression::Bzip2;
        else if (t.size() >= 2 && t[0] == '-' && t[1] != '-') {
            char c = t[1];
            Compression comp = c == 'z'               ? Compression::Gzip
                               : c == 'B' || c == 'j' ? Compression::Bzip2
                               : c == 'J'             ? Compression::Xz
                               : c == 'Z'             ? Compression::Compress
                                                      : Compression::FromName;
            if (comp != Compression::FromName) {
                s.compression = comp;
                s.level = NumberAfter(t, 2, -1);
            } else if (t == "-g") {
                s.gnuFormat = true;
            } else if (t == "-AH") {
                s.hidden = true;
            } else if (t == "-I") {
                s.hidden = false;
            }
        }
    }
    return s;
}

std::string Lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool EndsWith(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

Compression FromName(const std::string &archive) {
    std::string n = Lower(archive);
    if (EndsWith(n, ".tgz") || EndsWith(n, ".gz"))
        return Compression::Gzip;
    if (EndsWith(n, ".tbz") || EndsWith(n, ".tbz2") || EndsWith(n, ".bz2"))
        return Compression::Bzip2;
    if (EndsWith(n, ".txz") || EndsWith(n, ".xz"))
        return Compression::Xz;
    if (EndsWith(n, ".taz") || EndsWith(n, ".z"))
        return Compression::Compress;
    return Compression::None;
}

void ReaderSetupTar(archive *a) {
    archive_read_support_filter_all(a);
    archive_read_support_format_tar(a);
    archive_read_support_format_gnutar(a);
    archive_read_support_format_cpio(a);
    archive_read_support_format_ar(a);
    archive_read_support_format_empty(a);
    archive_read_support_format_raw(a); // a lone .gz/.bz2/.xz/.Z file
}

void AddFilter(archive *w, Compression c, int level) {
    int r = ARCHIVE_OK;
    switch (c) {
    case Compression::Gzip:
        r = archive_write_add_filter_gzip(w);
        break;
    case Compression::Bzip2:
        r = archive_write_add_filter_bzip2(w);
        break;
    case Compression::Xz:
        r = archive_write_add_filter_xz(w);
        break;
    case Compression::Compress:
        r = archive_write_add_filter_compress(w);
        break;
    default:
        break;
    }
    Check(w, r, kArcErrUnsupported, "compression");
    if (level >= 0 && c != Compression::Compress && c != Compression::None) {
        if (level < 1)
            level = 1;
        if (level > 9)
            level = 9;
        std::string opt = "compression-level=" + std::to_string(level);
        Check(w,
              archive_write_set_filter_option(w, nullptr, "compression-level",
                                              std::to_string(level).c_str()),
              kArcErrUnsupported, opt);
    }
    // Compressed output need not be padded to whole tar blocks.
    if (c != Compression::None)
        archive_write_set_bytes_in_last_block(w, 1);
}

// gzip and bzip2 output is compressed on every core where there is more than one.
ArchiveOutput ParallelOutput(Compression c, int level) {
    ArchiveOutput o;
    o.parallel = (c == Compression::Gzip || c == Compression::Bzip2) &&
                 ParallelCompressor::DefaultThreads() > 1;
    o.codec = c == Compression::Bzip2 ? ParallelCompressor::Codec::Bzip2
                                      : ParallelCompressor::Codec::Gzip;
    o.level = level < 0 ? -1 : std::clamp(level, 1, 9);
    return o;
}

std::string ArchiveOf(const CommandLine &cl) {
    const Switch *f = cl.Find("-f");
    if (!f || f->value.empty())
        throw ArcError(kArcErrCommandLine, "no archive name (-f)");
    return f->value;
}

std::string DirectoryOf(const CommandLine &cl) {
    const Switch *o = cl.Find("-o");
    if (!o)
        o = cl.Find("-C");
    return o ? o->value : std::string();
}

int Pack(const CommandLine &cl, const TarSwitches &s, Progress &progress, OutputBuffer &out) {
    std::string path = ArchiveOf(cl);
    CollectOptions co;
    co.baseDir = DirectoryOf(cl);
    co.keepFolders = s.keepFolders;
    co.hidden = s.hidden;
    struct stat self {};
    if (::stat(path.c_str(), &self) == 0) {
        co.skipDev = self.st_dev;
        co.skipIno = self.st_ino;
    }
    std::vector<SourceFile> sources = CollectSources(cl.files, co, out);
    if (sources.empty())
        throw ArcError(kArcErrNoFiles, "nothing to pack");
    Compression comp = s.compression == Compression::FromName ? FromName(path) : s.compression;
    bool rewrite = cl.command == "r" || cl.command == "u";
    bool haveOld = rewrite && ::access(path.c_str(), F_OK) == 0;
    std::unordered_set<std::string> replaced;
    for (const auto &src : sources)
        replaced.insert(src.entryName);
    const ArchiveOutput output = ParallelOutput(comp, s.level);
    WriteArchiveFile(
        path,
        [&](archive *w) {
            Check(w,
                  s.gnuFormat ? archive_write_set_format_gnutar(w)
                              : archive_write_set_format_pax_restricted(w),
                  kArcErrInternal, "format");
            if (!output.parallel)
                AddFilter(w, comp, s.level);
        },
        [&](archive *w) {
            if (haveOld) {
                // Keep the entries that the new files do not replace.
                ReadArchive r = OpenReader(path, ReaderSetupTar);
                archive_entry *e = nullptr;
                while (NextHeader(r.get(), &e)) {
                    std::string name = EntryName(e);
                    std::string key = name;
                    while (!key.empty() && key.back() == '/')
                        key.pop_back();
                    if (replaced.count(key))
                        continue;
                    CopyEntry(r.get(), e, w, progress);
                }
                FinishReading(r.get());
            }
            for (const auto &src : sources)
                WriteFromDisk(w, src, progress, out);
        },
        output);
    out.Line(std::to_string(sources.size()) + " files packed into " + path);
    return 0;
}

int Delete(const CommandLine &cl, const TarSwitches &s, Progress &progress, OutputBuffer &out) {
    std::string path = ArchiveOf(cl);
    if (cl.files.empty())
        throw ArcError(kArcErrNoFiles, "no entry named to delete");
    EntrySelector select(cl.files, {}, s.wholeNameOnly);
    // The rewritten archive keeps the format and compression of the old one.
    int format = 0, filter = ARCHIVE_FILTER_NONE;
    {
        ReadArchive r = OpenReader(path, ReaderSetupTar);
        archive_entry *e = nullptr;
        NextHeader(r.get(), &e);
        format = archive_format(r.get());
        filter = MainFilter(r.get());
    }
    if ((format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAW)
        throw ArcError(kArcErrUnsupported, "a compressed file holds no entries to delete");
    size_t removed = 0, kept = 0;
    const ArchiveOutput output =
        ParallelOutput(filter == ARCHIVE_FILTER_GZIP    ? Compression::Gzip
                       : filter == ARCHIVE_FILTER_BZIP2 ? Compression::Bzip2
                                                        : Compression::None,
                       -1);
    WriteArchiveFile(
        path,
        [&](archive *w) {
            if ((format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR)
                format = format == ARCHIVE_FORMAT_TAR_GNUTAR ? format
                                                             : ARCHIVE_FORMAT_TAR_PAX_RESTRICTED;
            Check(w, archive_write_set_format(w, format), kArcErrUnsupported, "format");
            if (filter != ARCHIVE_FILTER_NONE && !output.parallel) {
                Check(w, archive_write_add_filter(w, filter), kArcErrUnsupported, "compression");
                archive_write_set_bytes_in_last_block(w, 1);
            }
        },
        [&](archive *w) {
            ReadArchive r = OpenReader(path, ReaderSetupTar);
            progress.Opened(path);
            archive_entry *e = nullptr;
            while (NextHeader(r.get(), &e)) {
                std::string name = EntryName(e);
                if (select.Matches(name)) {
                    ++removed;
                    out.Line("deleted: " + name);
                    continue;
                }
                ++kept;
                CopyEntry(r.get(), e, w, progress);
            }
            FinishReading(r.get());
            if (removed == 0)
                throw ArcError(kArcErrNoFiles, "no entry matched; the archive is unchanged");
        },
        output);
    out.Line(std::to_string(removed) + " entries deleted, " + std::to_string(kept) + " kept");
    return 0;
}

int List(const CommandLine &cl, const TarSwitches &s, OutputBuffer &out) {
    EntrySelector select(cl.files, {}, s.wholeNameOnly);
    for (const auto &e : ReadEntries(ArchiveOf(cl), ReaderSetupTar))
        if (select.Matches(e.name))
            out.Line(e.name);
    return 0;
}

int RunTar(const CommandLine &cl, Progress &progress, OutputBuffer &out) {
    TarSwitches s = ReadSwitches(cl);
    if (cl.command == "c" || cl.command == "r" || cl.command == "u")
        return Pack(cl, s, progress, out);
    if (cl.command == "x" || cl.command == "e") {
        ExtractOptions opt;
        opt.destination = DirectoryOf(cl);
        if (opt.destination.empty())
            opt.destination = ".";
        opt.keepFolders = s.keepFolders && cl.command == "x";
        opt.overwrite = Overwrite::Replace;
        opt.select = EntrySelector(cl.files, {}, s.wholeNameOnly);
        return ExtractEntries(ArchiveOf(cl), ReaderSetupTar, opt, progress, out);
    }
    if (cl.command == "t")
        return TestEntries(ArchiveOf(cl), ReaderSetupTar,
                           EntrySelector(cl.files, {}, s.wholeNameOnly), progress, out);
    if (cl.command == "d" || cl.Has("--delete"))
        return Delete(cl, s, progress, out);
    if (cl.command == "l")
        return List(cl, s, out);
    throw ArcError(kArcErrCommandLine, "no command (c, x, t, d, r, u or l)");
}

const char *MethodFor(int filter, int format) {
    switch (format & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_CPIO:
        return "-cpio-";
    case ARCHIVE_FORMAT_AR:
        return "-ar-";
    case ARCHIVE_FORMAT_RAW:
        switch (filter) {
        case ARCHIVE_FILTER_GZIP:
            return "-gz-";
        case ARCHIVE_FILTER_BZIP2:
            return "-bz2-";
        case ARCHIVE_FILTER_COMPRESS:
            return "-Z-";
        default:
            return "-xz-";
        }
    default:
        break;
    }
    switch (filter) {
    case ARCHIVE_FILTER_GZIP:
        return "-tgz-";
    case ARCHIVE_FILTER_BZIP2:
        return "-tbz-";
    case ARCHIVE_FILTER_COMPRESS:
        return "-taz-";
    case ARCHIVE_FILTER_XZ:
    case ARCHIVE_FILTER_LZMA:
        return "-txz-";
    default:
        return "-tar-";
    }
}

struct Probe {
    int format = 0;
    int filter = ARCHIVE_FILTER_NONE;
    bool ok = false;
};

// Opens the archive and reads its first header: what it is.
Probe ProbeArchive(const std::string &path) {
    Probe p;
    try {
        ReadArchive r = OpenReader(path, ReaderSetupTar);
        archive_entry *e = nullptr;
        NextHeader(r.get(), &e);
        p.format = archive_format(r.get());
        p.filter = MainFilter(r.get());
        // A file of no bytes at all is no archive, whatever its name says.
        p.ok =
            p.format != 0 && !(p.format == ARCHIVE_FORMAT_EMPTY && p.filter == ARCHIVE_FILTER_NONE);
    } catch (const ArcError &) {
    }
    return p;
}

// An entry of the listing: the method from the archive's format and compression; the sizes are
// those stored when nothing compresses them.
void DescribeTar(archive *r, EntryInfo &info) {
    int filter = MainFilter(r);
    info.method = MethodFor(filter, archive_format(r));
    info.osType = 3; // Unix
    if (filter == ARCHIVE_FILTER_NONE)
        info.compressedSize = info.size;
}

const LibArchiveLibrary &TarLibrary() {
    static const LibArchiveLibrary lib{
        ParseTar,
        ReaderSetupTar,
        RunTar,
        ArchiveOf,
        [](const CommandLine &cl) {
            return EntrySelector(cl.files, {}, ReadSwitches(cl).wholeNameOnly);
        },
        DescribeTar,
    };
    return lib;
}

} // namespace

ARCLIB_DEFINE_LIBARCHIVE_EXPORTS(Tar, TarLibrary)

// 0 not ours; 1 tar, cpio or ar; 2 gzip-compressed archive, 3 gzip-compressed file; 4 and 5 the
// same with compress (.Z); 6 and 7 with bzip2; 8 and 9 with xz or lzma.
extern "C" __attribute__((visibility("default"))) int TarGetArchiveType(const char *archive) {
    return Guard<int>(0, [&] {
        if (!archive)
            return 0;
        ScopedUtf8Locale utf8;
        Probe p = ProbeArchive(archive);
        if (!p.ok)
            return 0;
        bool raw = (p.format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAW;
        switch (p.filter) {
        case ARCHIVE_FILTER_NONE:
            return raw ? 0 : 1;
        case ARCHIVE_FILTER_GZIP:
            return raw ? 3 : 2;
        case ARCHIVE_FILTER_COMPRESS:
            return raw ? 5 : 4;
        case ARCHIVE_FILTER_BZIP2:
            return raw ? 7 : 6;
        case ARCHIVE_FILTER_XZ:
        case ARCHIVE_FILTER_LZMA:
            return raw ? 9 : 8;
        default:
            return raw ? 0 : 1;
        }
    });
}
