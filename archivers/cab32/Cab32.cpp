// libcab32.so: the CAB32 library of the archiver interface, prefix "Cab". Reads cabinets through
// libarchive (stored, MSZIP and LZX folders) and writes them with our own writer (MSZIP).
// Reads the command lines of the cabinet back-end: -a (pack), -x (extract), -f (self-extractor,
// refused on Linux), -t (test), -l (list) and the line without command word of memory
// extraction; switches -o, -i, -r, -h, -j, -q, -mz, -mn. docs/archivers-cab.md describes each.
#include "archiver_api.h"
#include "archivers/cab32/CabWriter.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/CommandLine.h"
#include "archivers/common/ExportGuard.h"
#include "archivers/common/LibArchive.h"
#include "archivers/common/LibArchiveDriver.h"
#include "archivers/common/Listing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace arclib;

namespace {

struct CabSwitches {
    bool overwrite = false;  // -o
    bool keepFolders = true; // -j: not
    bool recurse = false;    // -r
    cab::Method method = cab::Method::MsZip;
};

CommandLine ParseCab(const char *line) {
    CommandLineRules rules;
    rules.commands = {"-a", "-x", "-f", "-t", "-l"};
    rules.archiveIsFirstArgument = true;
    rules.quotedSwitches = true;
    rules.directoryAfterArchive = true;
    return ParseCommandLine(line ? line : "", rules);
}

CabSwitches ReadSwitches(const CommandLine &cl) {
    CabSwitches s;
    for (const Switch &sw : cl.switches) {
        const std::string &t = sw.text;
        if (t == "-o")
            s.overwrite = true;
        else if (t == "-j")
            s.keepFolders = false;
        else if (t == "-r")
            s.recurse = true;
        else if (t == "-mn")
            s.method = cab::Method::Stored;
        else if (t == "-mz")
            s.method = cab::Method::MsZip;
        // -i (progress dialog), -q and -h<folder> (work folder) have no meaning here: the
        // library shows no dialog and writes its temporary file beside the cabinet, so that the
        // cabinet is replaced in one step.
    }
    return s;
}

// Names without the UTF-8 mark are in the writer's ANSI code page, Shift-JIS for the cabinets
// of this system; converted by libarchive, their '\' separators are told from trail bytes.
void ReaderSetupCab(archive *a) {
    archive_read_support_format_cab(a);
    archive_read_set_options(a, "cab:hdrcharset=CP932");
}

const std::string &ArchiveOf(const CommandLine &cl) {
    if (cl.archive.empty())
        throw ArcError(kArcErrCommandLine, "no cabinet named");
    return cl.archive;
}

uint16_t Get16(const std::string &b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1])
                                                                   << 8);
}

// What a cabinet's header and folder records say before libarchive reads it.
struct Preview {
    bool inSet = false;   // it continues another cabinet or goes on in the next
    bool quantum = false; // a folder is Quantum-compressed
};

Preview PreviewCabinet(const std::string &path) {
    Preview p;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return p;
    // The header, its reserved area (at most 65,535 bytes), the four names of a set (at most 256
    // bytes each) and the first folder records.
    std::string b;
    if (!ReadUpTo(fd.get(), b, 36 + 4 + 65535 + 4 * 256 + 64 * 263) || b.size() < 36 ||
        b.compare(0, 4, "MSCF") != 0)
        return p; // what libarchive makes of it is the answer
    const uint16_t folders = Get16(b, 26), flags = Get16(b, 30);
    p.inSet = (flags & 3) != 0;
    size_t at = 36, folderReserve = 0;
    if (flags & 4) {
        if (b.size() < 40)
            return p;
        at = 40 + Get16(b, 36);
        folderReserve = static_cast<uint8_t>(b[38]);
    }
    for (int names = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); names > 0; --names) {
        size_t end = b.find('\0', at);
        if (end == std::string::npos)
            return p;
        at = end + 1;
    }
    for (uint16_t i = 0; i < folders && at + 8 <= b.size(); ++i, at += 8 + folderReserve)
        p.quantum = p.quantum || (Get16(b, at + 6) & 0x0F) == 2;
    return p;
}

// Refuses what libarchive cannot read in full, with the reason, before anything is extracted:
// a cabinet of a set holds files that continue in the next cabinet or come from the one before
// (read alone, they would come out cut), and libarchive has no Quantum decoder.
void RefuseUnreadable(const std::string &path) {
    Preview p = PreviewCabinet(path);
    if (p.inSet)
        throw ArcError(kArcErrUnsupported,
                       path + ": the cabinet is part of a cabinet set (its files continue in "
                              "another cabinet); sets are not read");
    if (p.quantum)
        throw ArcError(kArcErrUnsupported,
                       path + ": Quantum compression cannot be read on Linux (libarchive, which "
                              "reads our cabinets, has no Quantum decoder)");
}

// Sends the bytes of one file on disk, failing when it is not the file that was planned.
void FeedFile(const SourceFile &src, const cab::FileRecord &rec, cab::Method method,
              const cab::ByteSink &sink, Progress &progress) {
    UniqueFd fd(::open(src.diskPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
        throw ArcError(kArcErrReadSource, src.diskPath + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != rec.size ||
        st.st_mtime != rec.mtime)
        throw ArcError(kArcErrReadSource,
                       src.diskPath + ": the file changed between collection and packing");
    ProgressEntry p;
    p.source = src.diskPath;
    p.destination = src.entryName;
    p.size = rec.size;
    p.mtime = rec.mtime;
    p.mode = st.st_mode;
    p.method = method == cab::Method::MsZip ? "MSZIP" : "none";
    progress.Send(ARCEXTRACT_BEGIN, p);
    std::vector<char> buf(kBlockSize);
    uint64_t left = rec.size;
    while (left > 0) {
        ssize_t n = ReadFully(fd.get(), buf.data(), std::min<uint64_t>(left, buf.size()));
        if (n < 0)
            throw ArcError(kArcErrReadSource, src.diskPath + ": " + std::strerror(errno));
        if (n == 0)
            throw ArcError(kArcErrReadSource,
                           src.diskPath + ": the file shrank while it was packed");
        sink(buf.data(), static_cast<size_t>(n));
        left -= static_cast<uint64_t>(n);
        p.written = rec.size - left;
        progress.Send(ARCEXTRACT_INPROCESS, p);
    }
    char probe;
    struct stat after {};
    if (ReadFully(fd.get(), &probe, 1) != 0 || ::fstat(fd.get(), &after) != 0 ||
        after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != st.st_mtim.tv_nsec)
        throw ArcError(kArcErrReadSource, src.diskPath + ": the file changed while it was packed");
    progress.Send(ARCEXTRACT_END, p);
}

// -a: a new cabinet of the named files. Cabinets are not updated in place (the back-end offers
// no update): an existing cabinet is replaced by the new one when it is complete.
int Pack(const CommandLine &cl, const CabSwitches &s, Progress &progress, OutputBuffer &out) {
    const std::string &path = ArchiveOf(cl);
    CollectOptions co;
    co.baseDir = cl.directory;
    co.keepFolders = s.keepFolders;
    co.recurseWildcards = s.recurse;
    struct stat self {};
    if (::stat(path.c_str(), &self) == 0) {
        co.skipDev = self.st_dev;
        co.skipIno = self.st_ino;
    }
    co.folderEntries = false; // a cabinet holds files only: folders come with their files' names
    std::vector<SourceFile> sources;
    std::vector<cab::FileRecord> records;
    for (auto &src : CollectSources(cl.files, co, out)) {
        if (src.IsFolder())
            continue;
        if (!S_ISREG(src.st.st_mode)) {
            out.Line("skipped: " + src.diskPath + " (a symbolic link: cabinets hold files only)");
            continue;
        }
        cab::FileRecord r;
        r.name = src.entryName;
        r.size = static_cast<uint64_t>(src.st.st_size);
        r.mtime = src.st.st_mtime;
        r.mode = src.st.st_mode;
        records.push_back(std::move(r));
        sources.push_back(std::move(src));
    }
    if (sources.empty())
        throw ArcError(kArcErrNoFiles, "nothing to pack");
    cab::WriterOptions wo;
    wo.method = s.method;
    cab::PlanFolders(records, wo); // refuses what one cabinet cannot hold before anything is read
    progress.Opened(path);
    WriteArchiveFile(path, [&](int fd) {
        cab::WriteCabinet(
            fd, records,
            [&](size_t i, const cab::ByteSink &sink) {
                FeedFile(sources[i], records[i], wo.method, sink, progress);
            },
            wo);
    });
    out.Line(std::to_string(sources.size()) + " files packed into " + path);
    return 0;
}

int List(const CommandLine &cl, OutputBuffer &out) {
    const std::string &path = ArchiveOf(cl);
    RefuseUnreadable(path);
    EntrySelector select(cl.files);
    for (const auto &e : ReadEntries(path, ReaderSetupCab))
        if (select.Matches(e.name))
            out.Line(std::to_string(e.size) + " " + e.name);
    return 0;
}

int RunCab(const CommandLine &cl, Progress &progress, OutputBuffer &out) {
    CabSwitches s = ReadSwitches(cl);
    if (cl.command == "-a")
        return Pack(cl, s, progress, out);
    if (cl.command == "-f")
        throw ArcError(kArcErrUnsupported,
                       "no self-extracting cabinet can be made on Linux: there is no "
                       "self-extractor program for this platform");
    if (cl.command == "-x") {
        const std::string &path = ArchiveOf(cl);
        RefuseUnreadable(path);
        ExtractOptions opt;
        opt.destination = cl.directory.empty() ? "." : cl.directory;
        opt.keepFolders = s.keepFolders;
        opt.overwrite = s.overwrite ? Overwrite::Replace : Overwrite::Skip;
        opt.select = EntrySelector(cl.files);
        return ExtractEntries(path, ReaderSetupCab, opt, progress, out);
    }
    if (cl.command == "-t") {
        const std::string &path = ArchiveOf(cl);
        RefuseUnreadable(path);
        return TestEntries(path, ReaderSetupCab, EntrySelector(cl.files), progress, out);
    }
    if (cl.command == "-l")
        return List(cl, out);
    throw ArcError(kArcErrCommandLine, "no command (-a, -x, -f, -t or -l)");
}

// The listing's method: libarchive names the compression of the entry's folder in the format
// name ("CAB 1.3 (MSZIP)").
void DescribeCab(archive *reader, EntryInfo &info) {
    std::string format = archive_format_name(reader) ? archive_format_name(reader) : "";
    size_t open = format.rfind('('), close = format.rfind(')');
    std::string method = open != std::string::npos && close > open
                             ? format.substr(open + 1, close - open - 1)
                             : "CAB";
    info.method = method == "NONE" ? "none" : method;
    info.osType = 0; // MS-DOS / Windows
}

// The archive of a command, refused when it is part of a set.
std::string CabinetOf(const CommandLine &cl) {
    const std::string &path = ArchiveOf(cl);
    RefuseUnreadable(path);
    return path;
}

const LibArchiveLibrary &CabLibrary() {
    static const LibArchiveLibrary lib{
        ParseCab,
        ReaderSetupCab,
        RunCab,
        CabinetOf,
        [](const CommandLine &cl) { return EntrySelector(cl.files); },
        DescribeCab,
    };
    return lib;
}

} // namespace

ARCLIB_DEFINE_LIBARCHIVE_EXPORTS(Cab, CabLibrary)
